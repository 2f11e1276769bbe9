#include "take/CutsFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "audio/WaveFileReader.h"
#include "settings/Windows1252.h"

namespace {

constexpr uint64_t kMaxFileBytes = 16u << 20;  // far beyond any side's labels
// Digits that keep every product in range at any rate a WAV file can state: nine whole (over
// thirty years) and eighteen after the point (further digits cannot move a frame).
constexpr size_t kMaxSecondsDigits = 9;
constexpr size_t kMaxFractionDigits = 18;
constexpr uint64_t kCueFramesPerSecond = 75;

std::string_view Trim(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of(" \t");
    return text.substr(first, last - first + 1);
}

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return out;
}

bool AllDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The lines of text without their line ends (LF or CRLF).
std::vector<std::string_view> Lines(std::string_view text) {
    std::vector<std::string_view> lines;
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        lines.push_back(line);
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
    return lines;
}

// Takes the cuts by reference, so that the text may still be built from them.
CutsFile Refuse(CutsFile&& cuts, int line, std::string text) {
    cuts.marks.clear();
    cuts.nErrorLine = line;
    cuts.strError = std::move(text);
    return cuts;
}

// Seconds with a decimal point to the nearest frame, exactly (no binary fraction in between):
// whole seconds give whole frames, so only the fraction is rounded. nullopt when text is not
// such a number.
std::optional<uint64_t> SecondsToFrames(std::string_view text, uint32_t rate) {
    __extension__ typedef unsigned __int128 Wide;  // 10^18 times any rate a WAV file can state
    const size_t point = text.find('.');
    const std::string_view whole = text.substr(0, point);
    std::string_view fraction =
        point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    if ((whole.empty() && fraction.empty()) || (!whole.empty() && !AllDigits(whole)) ||
        (!fraction.empty() && !AllDigits(fraction)) || whole.size() > kMaxSecondsDigits) {
        return std::nullopt;
    }
    if (fraction.size() > kMaxFractionDigits) fraction = fraction.substr(0, kMaxFractionDigits);
    uint64_t seconds = 0, part = 0, scale = 1;
    for (char c : whole) seconds = seconds * 10 + static_cast<unsigned>(c - '0');
    for (char c : fraction) {
        part = part * 10 + static_cast<unsigned>(c - '0');
        scale *= 10;
    }
    return seconds * rate +
           static_cast<uint64_t>((Wide(part) * rate * 2 + scale) / (Wide(scale) * 2));
}

CutsFile ParseLabels(const std::vector<std::string_view>& lines, uint32_t rate) {
    CutsFile cuts;
    cuts.format = CutsFormat::Labels;
    for (size_t i = 0; i < lines.size(); ++i) {
        const int lineNo = static_cast<int>(i + 1);
        const std::string_view line = lines[i];
        // Blank lines, and the frequency range an editor writes under a spectral label.
        if (Trim(line).empty() || line.front() == '\\') continue;
        const size_t tab1 = line.find('\t');
        if (tab1 == std::string_view::npos) {
            return Refuse(std::move(cuts), lineNo,
                          "expected a label: start and end in seconds and a title, separated by "
                          "tabs");
        }
        const size_t tab2 = line.find('\t', tab1 + 1);
        const std::string_view startText = Trim(line.substr(0, tab1));
        const std::string_view endText = Trim(line.substr(tab1 + 1, tab2 - (tab1 + 1)));
        const std::string_view title =
            tab2 == std::string_view::npos ? std::string_view() : Trim(line.substr(tab2 + 1));
        const std::optional<uint64_t> start = SecondsToFrames(startText, rate);
        const std::optional<uint64_t> end = SecondsToFrames(endText, rate);
        for (const auto& [value, text] : {std::pair{start, startText}, std::pair{end, endText}}) {
            if (value) continue;
            const bool comma = text.find(',') != std::string_view::npos;
            return Refuse(std::move(cuts), lineNo,
                          "\"" + std::string(text) + "\" is not a time in seconds" +
                              (comma ? " (write it with a decimal point)" : ""));
        }
        if (*end < *start) {
            return Refuse(std::move(cuts), lineNo, "the label ends before it starts");
        }
        CutMark mark;
        mark.nStart = *start;
        if (*end != *start) mark.nEnd = *end;
        mark.strTitle = title;
        mark.nLine = lineNo;
        cuts.marks.push_back(std::move(mark));
    }
    // Editors write labels in time order; one edited by hand may not be.
    std::stable_sort(cuts.marks.begin(), cuts.marks.end(),
                     [](const CutMark& a, const CutMark& b) { return a.nStart < b.nStart; });
    for (size_t i = 1; i < cuts.marks.size(); ++i) {
        if (cuts.marks[i].nStart == cuts.marks[i - 1].nStart) {
            const int line = cuts.marks[i].nLine;
            const int other = cuts.marks[i - 1].nLine;
            return Refuse(std::move(cuts), std::max(line, other),
                          "this label starts where the one on line " +
                              std::to_string(std::min(line, other)) +
                              " does; two songs cannot begin at one point");
        }
    }
    return cuts;
}

// A cue sheet's statement: its keyword and what follows, quoted or not.
struct Statement {
    std::string strKeyword;  // upper case
    std::string_view rest;   // trimmed
};

Statement Split(std::string_view line) {
    line = Trim(line);
    const size_t space = line.find_first_of(" \t");
    Statement s;
    s.strKeyword = Upper(line.substr(0, space));
    s.rest = space == std::string_view::npos ? std::string_view() : Trim(line.substr(space));
    return s;
}

// A quoted value (a cue sheet has no escape: up to the last quotation mark) or the first word
// (whole: all of rest).
std::string_view Value(std::string_view rest, bool whole) {
    if (!rest.empty() && rest.front() == '"') {
        const size_t close = rest.rfind('"');
        return close == 0 ? rest.substr(1) : rest.substr(1, close - 1);
    }
    return whole ? rest : rest.substr(0, rest.find_first_of(" \t"));
}

// Every statement a cue sheet may hold; the ones not read here are passed over.
bool IsCueKeyword(const std::string& word) {
    static const char* const kWords[] = {"REM",     "FILE",       "TRACK",     "TITLE", "PERFORMER",
                                         "INDEX",   "CATALOG",    "FLAGS",     "ISRC",  "PREGAP",
                                         "POSTGAP", "CDTEXTFILE", "SONGWRITER"};
    return std::any_of(std::begin(kWords), std::end(kWords),
                       [&word](const char* w) { return word == w; });
}

// mm:ss:ff (75 frames a second) to the nearest frame at rate.
std::optional<uint64_t> CueTimeToFrames(std::string_view text, uint32_t rate) {
    const size_t c1 = text.find(':');
    const size_t c2 = c1 == std::string_view::npos ? c1 : text.find(':', c1 + 1);
    if (c2 == std::string_view::npos) return std::nullopt;
    const std::string_view mm = text.substr(0, c1), ss = text.substr(c1 + 1, c2 - c1 - 1),
                           ff = text.substr(c2 + 1);
    // Four digits of minutes (166 hours) keep the frame product below 2^64 at any rate.
    if (!AllDigits(mm) || mm.size() > 4 || !AllDigits(ss) || ss.size() > 2 || !AllDigits(ff) ||
        ff.size() > 2) {
        return std::nullopt;
    }
    const uint64_t minutes = std::stoull(std::string(mm));
    const uint64_t seconds = std::stoull(std::string(ss));
    const uint64_t frames = std::stoull(std::string(ff));
    if (seconds >= 60 || frames >= kCueFramesPerSecond) return std::nullopt;
    const uint64_t cueFrames = (minutes * 60 + seconds) * kCueFramesPerSecond + frames;
    return (cueFrames * rate * 2 + kCueFramesPerSecond) / (kCueFramesPerSecond * 2);
}

CutsFile ParseCue(const std::vector<std::string_view>& lines, uint32_t rate,
                  const CueFileFrames& fileFrames) {
    CutsFile cuts;
    cuts.format = CutsFormat::CueSheet;
    bool inTrack = false;
    int trackLine = 0;
    bool trackHasIndex = false;
    int fileLine = 0;
    uint64_t fileStart = 0;  // where the current FILE begins on the side
    CutMark track;
    auto endTrack = [&]() -> bool {
        if (!inTrack) return true;
        if (!trackHasIndex) return false;
        cuts.marks.push_back(track);
        return true;
    };
    for (size_t i = 0; i < lines.size(); ++i) {
        const int lineNo = static_cast<int>(i + 1);
        if (Trim(lines[i]).empty()) continue;
        const Statement s = Split(lines[i]);
        if (s.strKeyword == "REM") continue;
        if (s.strKeyword == "FILE") {
            if (fileLine != 0) {
                // The next FILE follows this one on the side: its length places it.
                const std::string& name = cuts.files.back();
                const std::optional<uint64_t> frames = fileFrames ? fileFrames(name) : std::nullopt;
                if (!frames) {
                    return Refuse(std::move(cuts), fileLine,
                                  "the length of \"" + name +
                                      "\" is unknown, so the FILE after it cannot be placed");
                }
                const bool started = inTrack && trackHasIndex;
                const uint64_t last = started              ? track.nStart
                                      : cuts.marks.empty() ? 0
                                                           : cuts.marks.back().nStart;
                if ((started || !cuts.marks.empty()) && last >= fileStart + *frames) {
                    return Refuse(std::move(cuts), started ? trackLine : cuts.marks.back().nLine,
                                  "this track starts at or after the end of \"" + name + "\"");
                }
                if (*frames > UINT64_MAX / 2 - fileStart) {
                    return Refuse(std::move(cuts), lineNo, "the FILEs are too long");
                }
                fileStart += *frames;
            }
            fileLine = lineNo;
            cuts.files.emplace_back(Value(s.rest, false));
        } else if (s.strKeyword == "TRACK") {
            if (!endTrack()) {
                return Refuse(std::move(cuts), trackLine, "this track has no INDEX 01");
            }
            inTrack = true;
            trackLine = lineNo;
            trackHasIndex = false;
            track = CutMark();
            track.nLine = lineNo;
        } else if (s.strKeyword == "TITLE" || s.strKeyword == "PERFORMER") {
            const std::string value(Trim(Value(s.rest, true)));
            const bool title = s.strKeyword == "TITLE";
            if (inTrack) {
                (title ? track.strTitle : track.strPerformer) = value;
            } else {
                (title ? cuts.strAlbum : cuts.strArtist) = value;
            }
        } else if (s.strKeyword == "INDEX") {
            const std::string_view number = Value(s.rest, false);
            const std::string_view time = Trim(s.rest.substr(number.size()));
            if (!inTrack) return Refuse(std::move(cuts), lineNo, "INDEX before any TRACK");
            if (!AllDigits(number) || number.size() > 2) {
                return Refuse(std::move(cuts), lineNo, "expected INDEX, its number and mm:ss:ff");
            }
            const std::optional<uint64_t> frame = CueTimeToFrames(time, rate);
            if (!frame) {
                return Refuse(
                    std::move(cuts), lineNo,
                    "\"" + std::string(time) + "\" is not a time as mm:ss:ff (75 frames a second)");
            }
            if (std::stoul(std::string(number)) != 1) continue;  // pregap and sub-indexes
            if (trackHasIndex) return Refuse(std::move(cuts), lineNo, "a second INDEX 01");
            if (!cuts.marks.empty() && fileStart + *frame <= cuts.marks.back().nStart) {
                return Refuse(std::move(cuts), lineNo,
                              "this track starts no later than the one on line " +
                                  std::to_string(cuts.marks.back().nLine));
            }
            track.nStart = fileStart + *frame;
            trackHasIndex = true;
        } else if (!IsCueKeyword(s.strKeyword)) {
            return Refuse(std::move(cuts), lineNo,
                          "\"" + s.strKeyword + "\" is not a cue sheet statement");
        }
    }
    if (!endTrack()) return Refuse(std::move(cuts), trackLine, "this track has no INDEX 01");
    if (cuts.marks.empty()) return Refuse(std::move(cuts), 0, "the cue sheet has no TRACK");
    return cuts;
}

// Whether lines hold a cue sheet: its first statement is one.
bool IsCueSheet(const std::vector<std::string_view>& lines) {
    for (std::string_view line : lines) {
        if (!Trim(line).empty()) return IsCueKeyword(Split(line).strKeyword);
    }
    return false;
}

std::string FileNameOf(std::string_view path) {
    const size_t slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

// A song's title, or (when it has none the rule leaves) its file's name without the extension.
std::string TitleOf(const SideSong& song, CutsFormat format) {
    std::string title = SideTitle(song.strTitle, format);
    if (!title.empty()) return title;
    const std::string name = FileNameOf(song.strPath);
    const size_t dot = name.rfind('.');
    return SideTitle(dot == std::string::npos || dot == 0 ? name : name.substr(0, dot), format);
}

// A FILE names a file that exists: its name is written as it is, but for the characters that
// would end the line.
std::string FileName(std::string_view name) {
    std::string out(name);
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    }
    return out;
}

}  // namespace

std::string CutsFile::ErrorText() const {
    return nErrorLine > 0 ? std::to_string(nErrorLine) + ": " + strError : strError;
}

CutsFile ParseCuts(std::string_view text, uint32_t rate, const CueFileFrames& fileFrames) {
    const std::string utf8 = TextFileToUtf8(text);
    const std::vector<std::string_view> lines = Lines(utf8);
    return IsCueSheet(lines) ? ParseCue(lines, rate, fileFrames) : ParseLabels(lines, rate);
}

std::vector<std::string> CueSheetFiles(std::string_view text) {
    const std::string utf8 = TextFileToUtf8(text);
    const std::vector<std::string_view> lines = Lines(utf8);
    std::vector<std::string> files;
    if (!IsCueSheet(lines)) return files;
    for (std::string_view line : lines) {
        const Statement s = Split(line);
        if (s.strKeyword == "FILE") files.emplace_back(Value(s.rest, false));
    }
    return files;
}

CutsFile ReadCutsFile(const std::string& path, uint32_t rate) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return Refuse(CutsFile(), 0, std::strerror(errno));
    std::string text;
    char chunk[65536];
    while (in.read(chunk, sizeof chunk) || in.gcount() > 0) {
        text.append(chunk, static_cast<size_t>(in.gcount()));
        if (text.size() > kMaxFileBytes) {
            return Refuse(CutsFile(), 0, "too large for a label file or cue sheet");
        }
    }
    if (in.bad()) return Refuse(CutsFile(), 0, std::strerror(errno));
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
    auto measure = [&folder, rate](const std::string& name) -> std::optional<uint64_t> {
        WavFileInfo info;
        std::string error;
        const std::string file = name.starts_with('/') ? name : folder + "/" + name;
        if (!ReadWavFileInfo(file, &info, &error) || info.nDataBytes == WavFileInfo::kToTheEnd ||
            info.format.nBlockAlign == 0 || info.format.nSamplesPerSec != rate) {
            return std::nullopt;
        }
        return info.nDataBytes / info.format.nBlockAlign;
    };
    return ParseCuts(text, rate, measure);
}

std::string SideTitle(std::string_view title, CutsFormat format) {
    std::string out = Utf8OrWindows1252(title);
    for (char& c : out) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = ' ';
        if (c == '"' && format == CutsFormat::CueSheet) c = '\'';
    }
    return std::string(Trim(out));
}

std::string LabelFileText(const std::vector<SideSong>& songs, uint32_t rate) {
    std::string text;
    for (const SideSong& s : songs) {
        char row[96];
        std::snprintf(row, sizeof row, "%.6f\t%.6f\t", static_cast<double>(s.nStart) / rate,
                      static_cast<double>(s.nEnd) / rate);
        text += row + TitleOf(s, CutsFormat::Labels) + "\n";
    }
    return text;
}

std::string CueSheetText(const std::vector<SideSong>& songs, const std::vector<SideFile>& files,
                         uint32_t rate, std::string_view album, std::string_view artist) {
    std::string text;
    if (!artist.empty()) text += "PERFORMER \"" + SideTitle(artist, CutsFormat::CueSheet) + "\"\n";
    if (!album.empty()) text += "TITLE \"" + SideTitle(album, CutsFormat::CueSheet) + "\"\n";
    size_t song = 0;
    for (size_t k = 0; k < files.size(); ++k) {
        text += "FILE \"" + FileName(files[k].strName) + "\" WAVE\n";
        const bool last = k + 1 == files.size();
        for (; song < songs.size() && (last || songs[song].nStart < files[k + 1].nStart); ++song) {
            const SideSong& s = songs[song];
            const uint64_t from = s.nStart - std::min(s.nStart, files[k].nStart);
            // 75 a second, rounded to the nearest as editors place an index.
            const uint64_t f = (from * 150 + rate) / (2 * uint64_t{rate});
            char row[64];
            std::snprintf(row, sizeof row, "  TRACK %02zu AUDIO\n", song + 1);
            text += row;
            text += "    TITLE \"" + TitleOf(s, CutsFormat::CueSheet) + "\"\n";
            std::snprintf(row, sizeof row, "    INDEX 01 %02llu:%02llu:%02llu\n",
                          static_cast<unsigned long long>(f / 75 / 60),
                          static_cast<unsigned long long>(f / 75 % 60),
                          static_cast<unsigned long long>(f % 75));
            text += row;
        }
    }
    return text;
}
