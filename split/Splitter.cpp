#include "split/Splitter.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <sstream>
#include <system_error>
#include <thread>

#include "audio/WaveFileWriter.h"
#include "engine/ParamScales.h"
#include "engine/RecordingControl.h"
#include "engine/RecordingTexts.h"
#include "engine/SignalAnalyzer.h"
#include "settings/PresetLocation.h"
#include "settings/PresetsFile.h"
#include "settings/Windows1252.h"
#include "split/DetectorView.h"
#include "split/QuietestNear.h"
#include "split/RunPaths.h"
#include "split/SongOutput.h"
#include "split/TerminalWindow.h"

namespace fs = std::filesystem;

namespace {

// The highest rate accepted: beyond the formats any sound card records, and far from the
// 32-bit products the analyser forms from it.
constexpr uint32_t kMaxRate = 384000;

// The block the recorder captures and analyses at a time, bytes.
constexpr long kBlockBytes = 65536;

// The values the options accept, as their help names them. A typed value becomes the nearest
// position the recorder can hold, so every value named here is accepted.
struct TypedRange {
    const char* szOption;
    double fLow, fHigh;
    const char* szUnit;
};
constexpr TypedRange kTyped[] = {
    {"--gap-size", 0.01, 5.0, "seconds"},
    {"--gap-level", -144.0, -6.0, "dB"},
    {"--min-song", 1.0, 200.0, "seconds"},
    {"--end-gap", 1.0, 30.0, "seconds"},
};

std::string Number(double v, const char* format = "%g") {
    char text[48];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

// mm:ss.s, rounded to the nearest tenth as audio editors show times.
std::string Duration(uint64_t frames, uint32_t rate) {
    const uint64_t tenths = rate ? (frames * 20 + rate) / (2 * uint64_t{rate}) : 0;
    char text[48];
    std::snprintf(text, sizeof text, "%02llu:%02llu.%llu",
                  static_cast<unsigned long long>(tenths / 600),
                  static_cast<unsigned long long>(tenths / 10 % 60),
                  static_cast<unsigned long long>(tenths % 10));
    return text;
}

// Follows the links of a path: true when one of them lies in /proc, whose entries stand for
// open descriptors (/dev/stdin, /dev/fd/0) rather than for a file's own name.
bool NamedThroughProc(const std::string& path) {
    std::string p = path;
    for (int hop = 0; hop < 40; ++hop) {
        char resolved[PATH_MAX];
        const std::string folder = FolderPart(p);
        if (realpath(folder.c_str(), resolved) && std::strncmp(resolved, "/proc/", 6) == 0) {
            return true;
        }
        struct stat st {};
        if (lstat(p.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return false;
        char target[PATH_MAX];
        const ssize_t n = readlink(p.c_str(), target, sizeof target - 1);
        if (n <= 0) return false;
        target[n] = 0;
        p = target[0] == '/' ? std::string(target) : folder + "/" + target;
    }
    return false;
}

}  // namespace

std::string MakeScratchFolder() {
    std::error_code ec;
    fs::path base = fs::temp_directory_path(ec);
    if (ec) base = "/tmp";
    std::string pattern = (base / "vellisto-split-list-XXXXXX").string();
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

std::string ShellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        if (c == '\'') {
            out += "'\\''";
        } else {
            out += c;
        }
    }
    return out + "'";
}

CSplitter::CSplitter(const SplitOptions& options, std::ostream& out, std::ostream& err,
                     bool showProgress, const std::atomic<int>* interrupt)
    : m_options(options),
      m_out(out),
      m_err(err),
      m_bShowProgress(showProgress),
      m_pInterrupt(interrupt) {}

CSplitter::~CSplitter() {
    if (m_nFd >= 0) ::close(m_nFd);
    if (!m_strScratch.empty()) {
        std::error_code ec;
        fs::remove_all(m_strScratch, ec);
    }
}

std::ostream& CSplitter::Note() { return m_options.bQuiet ? m_discard : m_err; }

bool CSplitter::Interrupted() const { return m_pInterrupt && m_pInterrupt->load() != 0; }

int CSplitter::Fail(const std::string& text, int code) {
    // With several inputs every error says whose it is.
    const bool named = m_options.inputs.size() < 2 || m_strName.empty() ||
                       text.find(m_strName) != std::string::npos;
    m_err << "vellisto-split: " << (named ? "" : m_strName + ": ") << text << "\n";
    m_err.flush();
    return code;
}

std::string CSplitter::Time(uint64_t frames) const {
    return Duration(frames, m_info.format.nSamplesPerSec);
}

// The detector counts two samples to a frame whatever the channel count: a mono sample counts
// twice, so that its thresholds span the same seconds as in stereo.
std::string CSplitter::SampleTime(int64_t samples) const {
    return Time(static_cast<uint64_t>(std::max<int64_t>(samples, 0)) / 2);
}

int64_t CSplitter::DetectorSamplesPerSecond() const {
    return int64_t{m_info.format.nSamplesPerSec} * 2;
}

uint64_t CSplitter::DetectorSampleByte(int64_t sample) const {
    const uint64_t s = static_cast<uint64_t>(std::max<int64_t>(sample, 0));
    const uint64_t frameBytes = m_info.format.nBlockAlign;
    return s / 2 * frameBytes + (m_info.format.nChannels == 1 ? 0 : s % 2 * frameBytes / 2);
}

// Opens the input once: its header is read from that descriptor, the recording plays it on,
// and a second pass reads it again by offset.
int CSplitter::OpenInput() {
    const std::string& input = m_options.strInput;
    const bool stdinput = input == "-";
    m_strName = stdinput ? "standard input" : input;
    if (stdinput) {
        m_nFd = fcntl(STDIN_FILENO, F_DUPFD_CLOEXEC, 3);
    } else {
        // A FIFO without a writer blocks here; a signal ends the wait.
        while ((m_nFd = ::open(input.c_str(), O_RDONLY | O_CLOEXEC)) < 0 && errno == EINTR) {
            if (Interrupted()) return kExitSignal + m_pInterrupt->load();
        }
    }
    if (m_nFd < 0) return Fail("Cannot read " + m_strName + ": " + std::strerror(errno));

    struct stat st {};
    if (fstat(m_nFd, &st) != 0)
        return Fail("Cannot read " + m_strName + ": " + std::strerror(errno));
    if (S_ISDIR(st.st_mode)) return Fail("Cannot read " + m_strName + ": it is a folder");
    const bool regular = S_ISREG(st.st_mode);
    if (!regular && !S_ISFIFO(st.st_mode) && !S_ISCHR(st.st_mode) && !S_ISSOCK(st.st_mode)) {
        return Fail(m_strName + " is not a file or a stream that can be read");
    }
    // The song files go beside the input unless -o says where: that takes a file's own name.
    if (m_options.strOutput.empty() && (!regular || stdinput || NamedThroughProc(input))) {
        return Fail(m_strName +
                    " is not a regular file; name the song files with -o to read it as a "
                    "stream (for example: -o Side.wav)");
    }

    std::string error;
    if (!ReadWavHeader(m_nFd, m_strName, &m_info, &error, m_pInterrupt)) {
        if (m_info.problem == WavProblem::Interrupted && Interrupted()) {
            return kExitSignal + m_pInterrupt->load();
        }
        if (m_info.problem == WavProblem::SampleType) {
            // Each file name a word of its own, whatever it holds.
            const std::string stem = stdinput ? "side" : CSongFileName(input).Stem();
            // Integer samples deeper than 16 bits keep their depth as 32-bit float; 16-bit
            // would lose it.
            const bool deeper =
                m_info.format.wFormatTag == WAVE_FORMAT_PCM && m_info.format.wBitsPerSample > 16;
            error += "; convert it first, for example: sox " + ShellQuote(stdinput ? "-" : input) +
                     (deeper ? " -e floating-point -b 32 " : " -b 16 -e signed-integer ") +
                     ShellQuote(stem + (deeper ? "-float.wav" : "-16bit.wav"));
        }
        return Fail(error);
    }
    const WAVEFORMATEX& f = m_info.format;
    if (f.nChannels > 2) {
        // The detector splits at stereo-frame boundaries; with more channels a song file would
        // begin in the middle of a frame.
        return Fail(m_strName + " has " + std::to_string(f.nChannels) +
                    " channels; only mono and stereo recordings can be split (mix it down "
                    "first, for example: sox " +
                    ShellQuote(input) + " -c 2 stereo.wav)");
    }
    if (f.nSamplesPerSec > kMaxRate) {
        return Fail(m_strName + " has " + std::to_string(f.nSamplesPerSec) +
                    " samples per second; the recorder cannot record that rate, and at most "
                    "384000 can be split");
    }
    if (m_info.nDataBytes == 0) return Fail(m_strName + " holds no audio");
    const std::string notice = "vellisto-split: notice: " + m_strName;
    const std::string fileBytes =
        m_info.bStream ? std::string() : " (" + std::to_string(m_info.nDataBytes) + " bytes)";
    if (m_info.bSizeToEnd) {
        const uint32_t declared = m_info.nDeclaredBytes;
        Note() << notice << " declares " << declared << " bytes of audio, "
               << (declared == 0xFFFFFFFFu || declared == 0x7FFFF000u
                       ? "a streaming writer's placeholder"
                   : declared == 0             ? "as a writer leaves it when it is interrupted"
                   : m_info.nPartialBytes != 0 ? "which ends inside a frame, and more bytes follow"
                                               : "more than the file holds")
               << "; it is read to the end" << (m_info.nPartialBytes != 0 ? " in whole frames" : "")
               << fileBytes << "\n";
    } else if (m_info.nPartialBytes != 0) {
        Note() << notice << " declares " << m_info.nDeclaredBytes
               << " bytes of audio, which ends inside a frame; the " << m_info.nPartialBytes
               << (m_info.nPartialBytes == 1 ? " byte" : " bytes")
               << " of the partial frame are left out\n";
    }
    if (m_info.nSecondDataOffset != 0) {
        Note() << notice << " holds a second data chunk (" << m_info.nSecondDataBytes
               << " bytes at byte " << m_info.nSecondDataOffset
               << ") after the first; only the first is split\n";
    }
    return -1;
}

bool CSplitter::ChooseOutput() {
    std::string error;
    const std::string base = SongBase(m_options, m_options.strInput, &error);
    if (base.empty()) {
        Fail(error);
        return false;
    }
    m_strBasePath = base;
    m_strBaseName = FileNamePart(base);
    m_songNames = CSongFileName(base);
    return true;
}

bool CSplitter::CheckDestination() {
    const std::string folder = FolderPart(m_strBasePath);
    struct stat st {};
    std::error_code made;
    // As mkdir -p: the folder -o names is made, with its parents.
    if (::stat(folder.c_str(), &st) != 0 && errno == ENOENT &&
        !fs::create_directories(folder, made) && made) {
        Fail("cannot make the folder " + folder + " for the song files: " + made.message());
        return false;
    }
    if (::stat(folder.c_str(), &st) != 0) {
        Fail("cannot write the song files to " + folder + ": " + std::strerror(errno));
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        Fail("cannot write the song files to " + folder + ": it is not a folder");
        return false;
    }
    if (::access(folder.c_str(), W_OK | X_OK) != 0) {
        Fail("cannot write the song files to " + folder + ": " + std::strerror(errno));
        return false;
    }
    return true;
}

// Modes that write without the recording control ask its overwrite question themselves.
bool CSplitter::CheckOverwrite() {
    const long existing = m_songNames.LowestExisting();
    if (existing == 0 || m_options.bForce) return true;
    Fail(m_songNames.Name(existing) +
         " exists (and possibly more numbered song files); use --force to overwrite them");
    return false;
}

void CSplitter::NoteParamError(CSignalAnalyzer& analyser, Param param, const std::string& source) {
    m_paramErrors[param] =
        analyser.GetErrorFlag() ? source + ": " + analyser.GetErrorText() : std::string();
}

namespace {

void SetPosition(CSignalAnalyzer& analyser, int param, int p) {
    switch (param) {
        case 0:
            analyser.SetGapSizePosition(p);
            break;
        case 1:
            analyser.SetGapLevelPosition(p);
            break;
        case 2:
            analyser.SetMinSongSizePosition(p);
            break;
        default:
            analyser.SetEndSizePosition(p);
            break;
    }
}

// The splitter's parameters are the first four settings of the record, in the same order.
RecSetting SettingOf(int param) { return static_cast<RecSetting>(param); }

// The position nearest to value that the analyser accepts, searching a few positions around
// the nearest one (a bound of the accepted range may fall between two positions, and levels
// below -90.3 dB all lie below position 1). 0 when none is near.
int NearestValidPosition(int param, double value) {
    const RecSetting setting = SettingOf(param);
    const double ideal = PositionMagnitude(setting, value);
    if (!std::isfinite(ideal) || ideal > 1e9) return 0;
    const long centre = std::lround(ideal);
    int best = 0;
    double bestDistance = 0;
    for (long d = 0; d <= 3; ++d) {
        for (long p : {centre - d, centre + d}) {
            if (p < 1) continue;
            const float held = ValueFromPosition(setting, static_cast<int>(-p));
            if (!IsAcceptedValue(setting, held)) continue;
            const double distance = std::fabs(double{held} - value);
            if (best == 0 || distance < bestDistance) {
                best = static_cast<int>(p);
                bestDistance = distance;
            }
        }
        if (best != 0) break;
    }
    // Below the lowest level a position holds, the lowest one stands for it.
    if (best == 0 && param == 1 && ideal < 1.0) best = 1;
    return best;
}

}  // namespace

bool CSplitter::SetTyped(CSignalAnalyzer& analyser, Param param, double value) {
    const TypedRange& range = kTyped[param];
    const std::string source = std::string(range.szOption) + " " + Number(value);
    const bool named = value >= range.fLow && value <= range.fHigh;
    const int p = named ? NearestValidPosition(param, value) : 0;
    // Position 0 is out of every range: the analyser then gives its own message.
    SetPosition(analyser, param, -p);
    NoteParamError(analyser, param, source);
    if (analyser.GetErrorFlag()) {
        double ends[2];
        for (int k = 0; k < 2; ++k) {
            const int end = NearestValidPosition(param, k ? range.fHigh : range.fLow);
            ends[k] = ValueFromPosition(SettingOf(param), -end);
        }
        const char* format = param == 1 ? "%.1f" : "%.4g";
        const int lowFirst = param == 1 ? 1 : 0;  // levels read from the top, like the message
        m_paramErrors[param] += "vellisto-split: " + std::string(range.szOption) +
                                ": the recorder holds " + Number(ends[lowFirst], format) + " to " +
                                Number(ends[1 - lowFirst], format) + " " + range.szUnit + "\n";
        return false;
    }
    return true;
}

int CSplitter::ApplyPreset(CSignalAnalyzer& analyser) {
    std::vector<CPresets> presets;
    PresetLoadReport report;
    const bool own = m_options.strPresetsFile.empty();
    const std::string presetsFile = own ? UserPresetsFile() : m_options.strPresetsFile;
    LoadPresetsFile(presetsFile, presets, &report);
    if (!report.bOpened && own && report.nErrno == ENOENT) {
        presets = StartingPresets();  // what the recorder offers before it has saved any
    } else if (!report.bOpened) {
        if (report.nErrno == ENOENT) return Fail("no presets file \"" + presetsFile + "\"");
        return Fail("cannot read the presets file \"" + presetsFile +
                    "\": " + std::strerror(report.nErrno));
    }
    if (report.bDamaged) {
        Note() << "vellisto-split: notice: the presets file \"" << presetsFile << "\" is damaged ("
               << report.strProblem << "); " << report.nRecovered << " of " << report.nCounted
               << " presets could be read\n";
    }
    // The file holds Windows-1252 names; the terminal types and shows UTF-8.
    const CPresets* preset = FindPresetByName(presets, m_options.strPreset);
    if (!preset) preset = FindPresetByName(presets, EncodeWindows1252(m_options.strPreset));
    // As the recorder's preset box picks a name: in any letter case.
    for (size_t k = 0; !preset && k < presets.size(); ++k) {
        if (strcasecmp(presets[k].m_strName.c_str(),
                       EncodeWindows1252(m_options.strPreset).c_str()) == 0) {
            preset = &presets[k];
        }
    }
    if (!preset) {
        std::string known;
        for (const CPresets& p : presets) {
            if (known.size() > 200) {
                known += ", ...";
                break;
            }
            known += (known.empty() ? "\"" : ", \"") + DecodeWindows1252(p.m_strName) + "\"";
        }
        const std::string text =
            "no preset named \"" + m_options.strPreset + "\" in \"" + presetsFile + "\"" +
            (known.empty() ? std::string(" (it holds none)") : " (it holds " + known + ")");
        return report.bDamaged ? Fail(text) : Fail(text, kExitUsage);
    }

    // In the order the main window applies a preset. The preset's sample format and device do
    // not apply: the input file has its own format and is the device.
    RecSettings s = preset->m_settings;
    const std::string source = "preset \"" + DecodeWindows1252(preset->m_strName) + "\"";
    ApplyDetectionSettings(s, analyser, [&](RecSetting setting, const char* text) {
        m_paramErrors[static_cast<size_t>(setting)] = source + ": " + text;
    });
    return -1;
}

int CSplitter::SetParameters(CSignalAnalyzer& analyser) {
    m_paramErrors = {};
    // A fresh recorder gives its analyser's own positions back to the setters at start-up, so
    // its values are those of the positions, not the construction values (30.01 s becomes
    // 30.0057 s).
    analyser.SetGapSizePosition(analyser.GetGapSizePosition());
    analyser.SetGapLevelPosition(analyser.GetGapLevelPosition());
    analyser.SetMinSongSizePosition(analyser.GetMinSongSizePosition());
    analyser.SetEndSizePosition(analyser.GetEndSizePosition());

    if (!m_options.strPreset.empty()) {
        const int rc = ApplyPreset(analyser);
        if (rc >= 0) return rc;
    }

    const SplitOptions& o = m_options;
    if (o.bGapSizeGiven) SetTyped(analyser, kGapSize, o.fGapSize);
    if (o.bGapLevelGiven) SetTyped(analyser, kGapLevel, o.fGapLevel);
    if (o.bMinSongSizeGiven) SetTyped(analyser, kMinSong, o.fMinSongSize);
    if (o.bEndGapGiven) SetTyped(analyser, kEndGap, o.fEndGap);
    if (o.bDCBlockGiven) analyser.SetDCBlock(o.bDCBlock ? 1 : 0);
    if (o.bSmartGapGiven) analyser.SetIgnoreClicks(o.bSmartGap ? 1 : 0);

    bool bad = false;
    for (const std::string& error : m_paramErrors) {
        if (error.empty()) continue;
        // The analyser's messages end with their own line end.
        m_err << "vellisto-split: " << error;
        bad = true;
    }
    return bad ? kExitUsage : -1;
}

// The input is the capture device: its format is the recording's.
void CSplitter::SetFormat(CSignalAnalyzer& analyser) {
    const WAVEFORMATEX& f = m_info.format;
    analyser.SetBitsPerSample(f.wBitsPerSample);
    analyser.SetSamplesPerSec(f.nSamplesPerSec);
    analyser.SetChannels(f.nChannels);
}

// Runs the input's audio (up to limitBytes) through analyser block by block, as the recording
// does, reading the input again by offset. False when reading failed or was interrupted.
bool CSplitter::AnalysePass(CSignalAnalyzer& analyser, uint64_t limitBytes) {
    std::unique_ptr<char[]> block(new char[kBlockBytes]);
    analyser.PrepareRecording();
    uint64_t done = 0;
    const uint64_t total = std::min(limitBytes, m_info.nDataBytes);
    while (done < total) {
        if (Interrupted()) return false;
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kBlockBytes, total - done));
        size_t got = 0;
        while (got < want) {
            const ssize_t n = ::pread(m_nFd, block.get() + got, want - got,
                                      static_cast<off_t>(m_info.nDataOffset + done + got));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                Fail("Cannot read " + m_strName + ": " +
                     (n < 0 ? std::strerror(errno) : "it ended early"));
                return false;
            }
            got += static_cast<size_t>(n);
        }
        analyser.ProcessBlock(block.get(), static_cast<long>(got));
        done += got;
    }
    return true;
}

// The files that begin at or after the first of the last `pieces` splits hold nothing above
// Gap Level: run-out, no songs.
void CSplitter::RemoveRunOut(const CSongOutput& output, const std::vector<uint64_t>& splitBytes,
                             int pieces) {
    if (pieces <= 0 || static_cast<size_t>(pieces) > splitBytes.size()) return;
    const uint64_t from = splitBytes[splitBytes.size() - static_cast<size_t>(pieces)];
    const bool list = output.GetMode() == CSongOutput::Mode::List;
    std::vector<std::string> removed;
    uint64_t start = 0;
    for (const CSongOutput::File& file : output.GetFiles()) {
        std::error_code ec;
        if (start >= from && file.bCreated && fs::remove(file.strPath, ec)) {
            removed.emplace_back(FileNamePart(file.strPath));
        }
        start += file.nDataBytes;
    }
    if (removed.empty()) return;
    const bool one = removed.size() == 1;
    Note() << "vellisto-split: notice: " << (list ? "" : "removed ") << removed.front()
           << (one ? "" : " to " + removed.back())
           << (list ? (one ? " would hold" : " would hold") : (one ? ": it held" : ": they held"))
           << " nothing above Gap Level after the last song (run-out, no song)\n";
}

// The song file being written when the run failed does not hold its whole song; the files
// before it are finished songs and stay. A file this run did not create (the user's, at a name
// it could not take) is never touched.
void CSplitter::RemoveUnfinished(const CSongOutput& output, const std::string& path) {
    if (!output.Created(path)) return;
    const bool list = output.GetMode() == CSongOutput::Mode::List;
    std::error_code ec;
    // An unfinished file never reached its name: the output has removed it already.
    const bool removed = (!list && !output.Finished(path)) || fs::remove(path, ec);
    if (removed && !list) {
        m_err << "vellisto-split: removed the unfinished song file " << path << "\n";
    } else if (ec) {
        m_err << "vellisto-split: cannot remove the unfinished song file " << path << ": "
              << ec.message() << "\n";
    }
}

void CSplitter::CollectSongs(const CSongOutput& output, const CSongFileName& written,
                             const std::vector<uint64_t>& splitBytes) {
    m_songs.clear();
    const uint64_t frameBytes = std::max<uint16_t>(m_info.format.nBlockAlign, 1);
    uint64_t at = 0;
    bool first = true;
    for (const CSongOutput::File& file : output.GetFiles()) {
        const uint64_t start = at;
        at += file.nDataBytes;
        std::error_code ec;
        if (!file.bCreated || !fs::exists(file.strPath, ec)) continue;
        SplitSong song;
        const long number = written.NumberOf(file.strPath);
        song.strPath = number > 0 ? m_songNames.Name(number) : file.strPath;
        song.nStartFrame = start / frameBytes;
        song.nFrames = file.nDataBytes / frameBytes;
        song.fPeak = file.fPeak;
        song.nClipped = file.nClipped;
        // A file that begins where no gap was found goes on from the one before.
        song.bContinued =
            !first && std::find(splitBytes.begin(), splitBytes.end(), start) == splitBytes.end();
        first = false;
        m_songs.push_back(song);
    }
}

int CSplitter::Record() {
    const bool list = m_options.bList;
    std::string controlBase = m_strBasePath;
    if (list) {
        // A dry run records into stand-ins in a folder of its own: the recording control may
        // then delete what it likes, and never a file of the user's.
        m_strScratch = MakeScratchFolder();
        if (m_strScratch.empty()) return Fail(std::string("cannot list: ") + std::strerror(errno));
        controlBase = m_strScratch + "/" + m_strBaseName;
    }
    CSongOutput output(list ? CSongOutput::Mode::List : CSongOutput::Mode::Write, m_info.format,
                       m_options.bForce);
    if (m_options.bFlac) {
        output.EncodeFlac([this](const std::string& path) { return TagsFor(path, {}); });
    }
    CTerminalWindow window(m_err, m_bShowProgress);
    const int fd = fcntl(m_nFd, F_DUPFD_CLOEXEC, 3);
    if (fd < 0) return Fail("Cannot read " + m_strName + ": " + std::strerror(errno));
    auto backend = MakeFileCaptureBackend(fd, m_strName, m_info, FilePacing::AsFastAsRead);
    CFileCaptureBackend* file = backend.get();
    CRecordingControl control(&window, std::move(backend), kLongestPathSize);

    CSignalAnalyzer& analyser = control.GetAnalyzer();
    analyser = m_params;
    SetFormat(analyser);
    control.m_settings.wBitsPerSample = m_info.format.wBitsPerSample;
    control.m_settings.nSamplesPerSec = m_info.format.nSamplesPerSec;
    control.m_settings.wChannels = m_info.format.nChannels;
    control.m_settings.nWaveInID = -1;
    if (m_options.nMaxSongBytes > 0) control.m_nMaxSongBytes = m_options.nMaxSongBytes;

    // The view needs the thresholds Record will prepare; preparing twice changes nothing.
    analyser.PrepareRecording();
    CDetectorView view(analyser, DetectorSamplesPerSecond(), m_info.format.wBitsPerSample == 16,
                       list);
    analyser.SetObserver(&view);
    control.GetWriter().SetOutput(&output);

    window.SetControl(&control);
    // While idle the writer holds the selected base file, which Record checks for.
    control.GetWriter().SetFileName(controlBase.c_str());

    StartOutcome start = control.Prepare({true, m_strBaseName, controlBase});
    if (!start.Refused() && start.existing.nLowest > 0 && !m_options.bForce) {
        control.Abandon();
        return Fail(start.existing.strLowest +
                    " exists (and possibly more numbered song files); use --force to "
                    "overwrite them");
    }
    if (!start.Refused()) start = control.Start();
    if (start.Refused()) {
        window.ShowError(recording_texts::RefusalText(start));
        return kExitFailed;
    }

    int signal = 0;
    auto lastDraw = std::chrono::steady_clock::now();
    while (!window.Pump(50)) {
        if (m_pInterrupt && signal == 0 && (signal = m_pInterrupt->load()) != 0) {
            control.OnStop();
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - lastDraw >= std::chrono::milliseconds(100)) {
            lastDraw = now;
            const double total = m_info.bStream ? 0.0 : static_cast<double>(m_info.nDataBytes);
            window.DrawProgress(total > 0 ? static_cast<double>(control.GetTotalBytes()) / total
                                          : 0.0);
        }
    }
    window.ClearProgress();
    analyser.SetObserver(nullptr);
    view.Finish();

    const RecordingEnd end = window.GetReport().end;
    const std::string lastPath = control.GetFilePath();
    const uint64_t taken = static_cast<uint64_t>(control.GetTotalBytes());
    m_nTakenBytes = taken;
    const uint64_t frameBytes = m_info.format.nBlockAlign;
    const uint64_t inputBytes = m_info.bStream ? taken : m_info.nDataBytes;

    bool failed = !window.GetErrors().empty();
    const bool interrupted = signal != 0;
    if (interrupted) {
        Fail("interrupted after " + Time(taken / frameBytes) + " of the input");
        failed = true;
    }
    if (!failed && end == RecordingEnd::ShortBlock && file->GetReadError() != 0) {
        Fail("could not read " + m_strName + " beyond " + Time(taken / frameBytes) + ": " +
             std::strerror(file->GetReadError()));
        failed = true;
    } else if (!failed && end == RecordingEnd::ShortBlock && taken < inputBytes) {
        Fail("could not read " + m_strName + " beyond " + Time(taken / frameBytes) + " (" +
             std::to_string(taken) + " of " + std::to_string(inputBytes) + " bytes)");
        failed = true;
    }
    // A stream cannot be read again: the song being written when it was interrupted is kept,
    // finished up to the interruption. A file's is removed, and a second run splits it whole.
    const bool keepLast = interrupted && m_info.bStream && window.GetErrors().empty();
    if (failed && !keepLast) RemoveUnfinished(output, lastPath);
    if (!failed) RemoveRunOut(output, view.GetSplitBytes(), analyser.TrailingRunOutPieces());

    CollectSongs(output, CSongFileName(controlBase), view.GetSplitBytes());

    if (!failed && m_info.bStream && !m_info.bSizeToEnd && end == RecordingEnd::ShortBlock &&
        taken < m_info.nDataBytes) {
        Note() << "vellisto-split: notice: " << m_strName << " ended after " << taken << " of the "
               << m_info.nDataBytes << " bytes of audio its header declares; split to its end\n";
    }
    // Read to the end: what End Gap left is looked at, and a stream's writer is not cut off.
    const bool endedEarly = !failed && end == RecordingEnd::EndGap;
    Rest rest;
    if (!failed && (endedEarly || m_info.bStream))
        rest = ReadRest(analyser, taken, *file, endedEarly);
    const bool endGap = endedEarly && rest.nBytes > 0;
    const bool oneSong = m_songs.size() <= 1;
    if (endGap) {
        // With one song, End Gap is the reason why.
        // Music left unsplit is an error, and said even with -q.
        (rest.nAboveFrames > 0 ? m_err : Note())
            << (oneSong ? WhyHead(0) : "vellisto-split: ")
            << (rest.nAboveFrames > 0 || oneSong ? "" : "notice: ") << EndGapText(taken, rest)
            << (rest.nAboveFrames > 0 ? " (a longer --end-gap goes on past such a silence)" : "")
            << "\n";
    }
    if (!list) {
        std::error_code ec;
        const long lastNumber =
            m_songNames.NumberOf(lastPath) > 0 ? m_songNames.NumberOf(lastPath) : 1;
        if (fs::exists(m_songNames.Name(lastNumber + 1), ec)) {
            long last = lastNumber + 1;
            while (fs::exists(m_songNames.Name(last + 1), ec)) ++last;
            Note() << "vellisto-split: notice: " << m_songNames.Name(lastNumber + 1)
                   << (last > lastNumber + 1
                           ? " to " + std::string(FileNamePart(m_songNames.Name(last))) + " are"
                           : std::string(" is"))
                   << " left from an earlier run\n";
        }
    }
    if (failed) {
        if (!m_options.bQuiet && !m_songs.empty()) PrintSummary();
        return interrupted ? kExitSignal + signal : kExitFailed;
    }

    if (oneSong && !endGap) {
        if (list) {
            Explain(view, 0);
        } else if (!m_info.bStream) {
            // Looked at again, with the levels this time: the recording itself stays fast.
            CSignalAnalyzer again = m_params;
            SetFormat(again);
            again.PrepareRecording();
            CDetectorView seen(again, DetectorSamplesPerSecond(),
                               m_info.format.wBitsPerSample == 16, true);
            again.SetObserver(&seen);
            if (AnalysePass(again, taken)) {
                seen.Finish();
                Explain(seen, 0);
            }
            again.SetObserver(nullptr);
        }
    }
    const int written = WriteLabelsAndCue();
    if (list) {
        PrintList(&view, endGap ? EndGapText(taken, rest) : std::string());
    } else if (!m_options.bQuiet) {
        PrintSummary();
    }
    // Music after End Gap is music the user has not got.
    return written != kExitOk || rest.nAboveFrames == 0 ? written : kExitFailed;
}

std::string CSplitter::EndGapText(uint64_t taken, const Rest& rest) const {
    const uint64_t frameBytes = m_info.format.nBlockAlign;
    std::string text = "End Gap ended the side at " + Time(taken / frameBytes) + "; " +
                       Time(rest.nBytes / frameBytes) + " after it was not split, ";
    return text + (rest.nAboveFrames > 0 ? Time(rest.nAboveFrames) + " of it above Gap Level"
                                         : "nothing of it above Gap Level");
}

CSplitter::Rest CSplitter::ReadRest(const CSignalAnalyzer& ended, uint64_t taken,
                                    const CFileCaptureBackend& device, bool analyse) {
    Rest rest;
    CSignalAnalyzer analyser = ended;
    CDetectorView view(analyser, DetectorSamplesPerSecond(), m_info.format.wBitsPerSample == 16,
                       true);
    analyser.SetObserver(&view);
    const uint64_t frameBytes = m_info.format.nBlockAlign;
    std::unique_ptr<char[]> block(new char[kBlockBytes]);
    auto process = [&](size_t n) { analyser.ProcessBlock(block.get(), static_cast<long>(n)); };
    if (!m_info.bStream) {
        for (uint64_t at = taken; analyse && at < m_info.nDataBytes && !Interrupted();) {
            const size_t want =
                static_cast<size_t>(std::min<uint64_t>(kBlockBytes, m_info.nDataBytes - at));
            ssize_t n =
                ::pread(m_nFd, block.get(), want, static_cast<off_t>(m_info.nDataOffset + at));
            if (n < 0 && errno == EINTR) continue;
            n -= n % static_cast<ssize_t>(frameBytes);
            if (n <= 0) break;
            process(static_cast<size_t>(n));
            at += static_cast<uint64_t>(n);
            rest.nBytes += static_cast<uint64_t>(n);
        }
    } else {
        uint64_t audio = m_info.nDataBytes == WavFileInfo::kToTheEnd
                             ? WavFileInfo::kToTheEnd
                             : m_info.nDataBytes - std::min(m_info.nDataBytes, taken);
        size_t fill = 0;
        auto consume = [&](const char* bytes, size_t n) {
            while (n > 0 && audio > 0) {
                const size_t c =
                    static_cast<size_t>(std::min<uint64_t>({n, kBlockBytes - fill, audio}));
                std::memcpy(block.get() + fill, bytes, c);
                fill += c;
                bytes += c;
                n -= c;
                if (audio != WavFileInfo::kToTheEnd) audio -= c;
                if (fill == kBlockBytes) {
                    if (analyse) process(fill);
                    rest.nBytes += fill;
                    fill = 0;
                }
            }
            // Bytes after the audio (chunks that follow it) are read and left.
        };
        std::unique_ptr<char[]> in(new char[kBlockBytes]);
        // First what the device read ahead of the recording, then the stream on from there.
        uint64_t at = taken;
        const uint64_t read = device.GetBytesTaken();
        while (at < read) {
            const size_t n = device.CopyRecent(
                at, in.get(), static_cast<size_t>(std::min<uint64_t>(kBlockBytes, read - at)));
            if (n == 0) {
                // No longer kept (never with the recorder's two blocks): counted, unseen.
                rest.nBytes += read - at;
                if (audio != WavFileInfo::kToTheEnd) audio -= std::min(audio, read - at);
                break;
            }
            consume(in.get(), n);
            at += n;
        }
        while (!Interrupted()) {
            const ssize_t n = ::read(m_nFd, in.get(), kBlockBytes);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            consume(in.get(), static_cast<size_t>(n));
        }
        fill -= fill % frameBytes;
        if (fill > 0 && analyse) process(fill);
        rest.nBytes += fill;
    }
    analyser.SetObserver(nullptr);
    view.Finish();
    uint64_t above = 0;
    for (float level : view.GetGrid()) above += level > view.GetLinearGapLevel();
    rest.nAboveFrames = std::min(above * static_cast<uint64_t>(view.GetGridSamples()) / 2,
                                 rest.nBytes / frameBytes);
    return rest;
}

std::string CSplitter::WhyHead(int songsWanted) const {
    const std::string input = m_options.inputs.size() > 1 ? m_strName + ": " : std::string();
    return "vellisto-split: " + input + (songsWanted > 0 ? "why fewer: " : "why one song: ");
}

// Why a side gave fewer songs than it should: the longest quiet stretch against Gap Size and
// the quietest Gap-Size-long passage against Gap Level, both after Minimum Song Size.
void CSplitter::Explain(const CDetectorView& view, int songsWanted) {
    const int64_t minSong = view.GetMinSongSamples();
    const int64_t gapSize = view.GetGapSamples();
    const double level = view.Decibels(view.GetLinearGapLevel());
    const double perSecond = static_cast<double>(DetectorSamplesPerSecond());
    const std::string head = WhyHead(songsWanted);
    if (view.GetSamples() <= minSong) {
        Note() << head << "the side lasts " << SampleTime(view.GetSamples())
               << ", not more than Minimum Song Size (" << Number(minSong / perSecond, "%.2f")
               << " s) before which no gap ends a song\n";
        return;
    }
    // With some gaps found (a song count), the reasons concern the stretches besides them.
    QuietStretch longest = view.GetLongestShort();
    if (songsWanted == 0) {
        for (const QuietStretch& gap : view.GetGaps()) {
            if (gap.nStart + gap.nLength > minSong && gap.nLength > longest.nLength) longest = gap;
        }
    }
    const std::string after = "after the first " + SampleTime(minSong);
    const std::string besides = songsWanted > 0 ? " besides those" : "";
    // A stretch that rounds to 0.00 s is a zero crossing, not a stretch worth naming.
    if (longest.nLength / perSecond < 0.005) {
        Note() << head << "nothing " << after << besides << " stays at or below Gap Level ("
               << Number(level, "%.1f") << " dB)\n";
    } else {
        Note() << head << "the longest stretch" << besides << " at or below Gap Level ("
               << Number(level, "%.1f") << " dB) " << after << " lasts "
               << Number(longest.nLength / perSecond, "%.2f") << " s (at "
               << SampleTime(longest.nStart) << "); Gap Size is "
               << Number(gapSize / perSecond, "%.2f") << " s\n";
    }
    const Passage quietest =
        view.QuietestPassage(gapSize, std::max<int64_t>(0, minSong - gapSize),
                             songsWanted > 0 ? view.GetGaps() : std::vector<QuietStretch>{});
    // A passage at or below Gap Level lies in one of the stretches: no reason, then.
    if (quietest.nStart >= 0 && quietest.fLevel > view.GetLinearGapLevel()) {
        Note() << head << "the quietest " << Number(gapSize / perSecond, "%.2f") << " s" << besides
               << " " << after << " reaches " << Number(view.Decibels(quietest.fLevel), "%.1f")
               << " dB (at " << SampleTime(quietest.nStart) << "); Gap Level is "
               << Number(level, "%.1f") << " dB\n";
    }
}

void CSplitter::PrintList(const CDetectorView* view, const std::string& endGapText) {
    m_out << m_strName << ": " << m_songs.size() << (m_songs.size() == 1 ? " song" : " songs")
          << " (dry run: no song file written)\n";
    m_out << "  song  start     end       length    peak dBFS  clipped  file\n";
    for (size_t k = 0; k < m_songs.size(); ++k) {
        const SplitSong& s = m_songs[k];
        const double peak = s.fPeak > 0 ? 20.0 * std::log10(double{s.fPeak}) : -100.0;
        char row[160];
        std::snprintf(row, sizeof row, "  %4zu  %-8s  %-8s  %-8s  %9.1f  %7llu  ", k + 1,
                      Time(s.nStartFrame).c_str(), Time(s.nStartFrame + s.nFrames).c_str(),
                      Time(s.nFrames).c_str(), std::max(peak, -100.0),
                      static_cast<unsigned long long>(s.nClipped));
        m_out << row << FileNamePart(s.strPath)
              << (s.bContinued ? "  (goes on from the file before: 4 GiB limit)" : "") << "\n";
    }
    if (view && !view->GetGaps().empty()) {
        m_out << "  gap   start     length    quietest dB  loudest dB\n";
        for (const QuietStretch& gap : view->GetGaps()) {
            const uint64_t from = DetectorSampleByte(gap.nStart);
            const uint64_t to = DetectorSampleByte(gap.nStart + gap.nLength);
            std::string what = "no split";
            for (uint64_t split : view->GetSplitBytes()) {
                if (split >= from && split <= to) {
                    what = "split at " + Time(split / m_info.format.nBlockAlign);
                }
            }
            // The quietest 10 ms of the stretch (its loudest sample): a single sample's level
            // would be a zero crossing's.
            const std::vector<float>& grid = view->GetGrid();
            const int64_t cell = view->GetGridSamples();
            const int64_t last = std::min<int64_t>((gap.nStart + gap.nLength) / cell,
                                                   static_cast<int64_t>(grid.size()));
            float quietest = gap.fLoudest;
            for (int64_t k = (gap.nStart + cell - 1) / cell; k < last; ++k) {
                quietest = std::min(quietest, grid[static_cast<size_t>(k)]);
            }
            char row[160];
            std::snprintf(row, sizeof row, "        %-8s  %-8s  %11.1f  %10.1f  ",
                          SampleTime(gap.nStart).c_str(), SampleTime(gap.nLength).c_str(),
                          view->Decibels(quietest), view->Decibels(gap.fLoudest));
            m_out << row << what << "\n";
        }
    }
    if (!endGapText.empty()) m_out << "  " << endGapText << "\n";
    m_out.flush();
}

int CSplitter::WriteLabelsAndCue() {
    const double rate = m_info.format.nSamplesPerSec;
    // A song's title, or its file's name; the characters a label file or cue sheet cannot
    // hold in a title are put as spaces (quotation marks as apostrophes).
    auto label = [](const SplitSong& s) {
        const std::string name(FileNamePart(s.strPath));
        const size_t dot = name.rfind('.');
        std::string text = !s.strTitle.empty()                    ? s.strTitle
                           : dot == std::string::npos || dot == 0 ? name
                                                                  : name.substr(0, dot);
        for (char& c : text) {
            if (static_cast<unsigned char>(c) < 0x20) c = ' ';
            if (c == '"') c = '\'';
        }
        return text;
    };
    if (!m_options.strLabels.empty()) {
        std::string text;
        for (const SplitSong& s : m_songs) {
            char row[96];
            std::snprintf(row, sizeof row, "%.6f\t%.6f\t", s.nStartFrame / rate,
                          (s.nStartFrame + s.nFrames) / rate);
            text += row + label(s) + "\n";
        }
        if (!WriteNewFile(m_options.strLabels, text))
            return Fail("cannot write the label file " + m_options.strLabels + ": " +
                        std::strerror(errno));
    }
    if (!m_options.strCue.empty()) {
        // The sheet names the input as it is seen from the sheet's own folder.
        const std::string& input = m_options.strInput;
        std::error_code ec;
        const bool beside = fs::equivalent(FolderPart(input), FolderPart(m_options.strCue), ec);
        const std::string named =
            beside ? std::string(FileNamePart(input)) : fs::absolute(input, ec).string();
        std::string text = "FILE \"" + named + "\" WAVE\n";
        int track = 0;
        for (const SplitSong& s : m_songs) {
            // 75 frames a second, rounded to the nearest as editors place an index.
            const uint64_t rate = m_info.format.nSamplesPerSec;
            const uint64_t frames = (s.nStartFrame * 150 + rate) / (2 * rate);
            char row[160];
            std::snprintf(
                row, sizeof row,
                "  TRACK %02d AUDIO\n    TITLE \"%s\"\n    INDEX 01 %02llu:%02llu:%02llu\n",
                ++track, label(s).c_str(), static_cast<unsigned long long>(frames / 75 / 60),
                static_cast<unsigned long long>(frames / 75 % 60),
                static_cast<unsigned long long>(frames % 75));
            text += row;
        }
        if (!WriteNewFile(m_options.strCue, text))
            return Fail("cannot write the cue sheet " + m_options.strCue + ": " +
                        std::strerror(errno));
    }
    return kExitOk;
}

// A label file or cue sheet: created, never written over unless --force said so.
bool CSplitter::WriteNewFile(const std::string& path, const std::string& text) const {
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | (m_options.bForce ? O_TRUNC : O_EXCL);
    const int fd = ::open(path.c_str(), flags, 0666);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : EIO;
            ::close(fd);
            errno = error;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return ::close(fd) == 0;
}

void CSplitter::PrintSummary() {
    uint64_t frames = 0;
    for (const SplitSong& song : m_songs) {
        m_out << song.strPath << "  " << Time(song.nFrames)
              << (song.bContinued ? "  (goes on from the file before: a WAV file holds at most "
                                    "4 GiB)"
                                  : "")
              << "\n";
        frames += song.nFrames;
    }
    m_out << m_songs.size() << (m_songs.size() == 1 ? " song file, " : " song files, ")
          << Time(frames) << " in all\n";
    m_out.flush();
}

int CSplitter::SongCount() {
    if (m_info.bStream) {
        return Fail("--songs reads " + m_strName + " twice; give a file, not a stream");
    }
    const int wanted = m_options.nSongs;
    CSignalAnalyzer analyser = m_params;
    SetFormat(analyser);
    analyser.PrepareRecording();
    const int64_t perSecond = DetectorSamplesPerSecond();
    const bool int16 = m_info.format.wBitsPerSample == 16;
    CDetectorView view(analyser, perSecond, int16, true);
    analyser.SetObserver(&view);
    const bool read = AnalysePass(analyser, m_info.nDataBytes);
    analyser.SetObserver(nullptr);
    if (!read) return Interrupted() ? kExitSignal + m_pInterrupt->load() : kExitFailed;
    view.Finish();

    // A stretch is cut where a person would: in the middle of its quietest Gap-Size-long
    // window (of equally quiet ones, the one in the middle), not where the live rule would (Gap
    // Size into it: in a coda that runs into the gap, before the song has ended).
    const int64_t gapSize = view.GetGapSamples();
    const int64_t minSong = view.GetMinSongSamples();
    const std::vector<float>& grid = view.GetGrid();
    const int64_t cell = view.GetGridSamples();
    auto cutSample = [&](const QuietStretch& s) {
        return QuietestCut(grid, cell, gapSize, s.nStart, s.nLength);
    };
    // The silence that runs to the end of the side is its run-out, no gap between songs; and
    // every song, the first and the last too, lasts at least Minimum Song Size.
    std::vector<QuietStretch> candidates;
    for (const QuietStretch& s : view.GetGaps()) {
        const bool runOut = s.nStart + s.nLength >= view.GetSamples();
        if (!runOut && cutSample(s) >= minSong && cutSample(s) <= view.GetSamples() - minSong) {
            candidates.push_back(s);
        }
    }
    std::vector<QuietStretch> ranked = candidates;
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const QuietStretch& a, const QuietStretch& b) {
                         if (a.nLength != b.nLength) return a.nLength > b.nLength;
                         return a.fLoudest < b.fLoudest;
                     });
    std::vector<int64_t> cuts;
    for (const QuietStretch& s : ranked) {
        if (static_cast<int>(cuts.size()) >= wanted - 1) break;
        const int64_t c = cutSample(s);
        bool apart = true;
        for (int64_t other : cuts) apart = apart && std::llabs(c - other) >= minSong;
        if (apart) cuts.push_back(c);
    }
    std::sort(cuts.begin(), cuts.end());
    if (static_cast<int>(cuts.size()) < wanted - 1) {
        // Every stretch that could have been a gap is listed with what became of it, so that
        // none is counted as a gap that was not cut, and the reasons below concern the rest.
        const std::string minSongText =
            "Minimum Song Size (" + Number(minSong / double(perSecond), "%.2f") + " s)";
        Note() << "vellisto-split: notice: " << m_strName << " has " << cuts.size()
               << (cuts.size() == 1 ? " gap" : " gaps") << " for " << wanted
               << " songs; the stretches of at least Gap Size at or below Gap Level"
               << (view.GetGaps().empty() ? ": none" : ":") << "\n";
        for (const QuietStretch& s : view.GetGaps()) {
            const int64_t c = cutSample(s);
            std::string what;
            if (std::find(cuts.begin(), cuts.end(), c) != cuts.end()) {
                what = "cut at " + SampleTime(c);
            } else if (s.nStart + s.nLength >= view.GetSamples()) {
                what = "the run-out, no gap between songs";
            } else if (c < minSong) {
                what = "not cut: the first song would be shorter than " + minSongText;
            } else if (c > view.GetSamples() - minSong) {
                what = "not cut: the last song would be shorter than " + minSongText;
            } else {
                int64_t nearest = cuts.empty() ? c : cuts.front();
                for (int64_t other : cuts) {
                    if (std::llabs(c - other) < std::llabs(c - nearest)) nearest = other;
                }
                what =
                    "not cut: closer than " + minSongText + " to the cut at " + SampleTime(nearest);
            }
            Note() << "vellisto-split:   at " << SampleTime(s.nStart) << ", "
                   << Number(s.nLength / double(perSecond), "%.2f") << " s, loudest "
                   << Number(view.Decibels(s.fLoudest), "%.1f") << " dB: " << what << "\n";
        }
        Explain(view, wanted);
    }
    std::vector<uint64_t> cutBytes;
    // The analyser's rule: the split goes at the start of the frame that holds the sample.
    for (int64_t c : cuts) cutBytes.push_back(DetectorSampleByte(c / 2 * 2));

    // The cut pass: the analyser's processing of every block (DC Block), written in pieces.
    const bool list = m_options.bList;
    std::string base = m_strBasePath;
    if (list) {
        m_strScratch = MakeScratchFolder();
        if (m_strScratch.empty()) return Fail(std::string("cannot list: ") + std::strerror(errno));
        base = m_strScratch + "/" + m_strBaseName;
    } else if (!CheckOverwrite()) {
        return kExitFailed;
    }
    const CSongFileName names(base);
    CSongOutput output(list ? CSongOutput::Mode::List : CSongOutput::Mode::Write, m_info.format,
                       m_options.bForce);
    if (m_options.bFlac) {
        output.EncodeFlac([this](const std::string& path) { return TagsFor(path, {}); });
    }
    CTerminalWindow window(m_err, false);
    CWaveFileWriter writer;
    writer.SetOutput(&output);
    CSignalAnalyzer cutter = m_params;
    SetFormat(cutter);
    // As the recording thread: a song goes on in the next file before it would pass 4 GiB.
    const uint64_t maxSongBytes = std::max<uint64_t>(
        m_options.nMaxSongBytes > 0 ? m_options.nMaxSongBytes : 0xFFFFFFFFull - 64, kBlockBytes);
    long number = 0;
    uint64_t songBytes = 0;
    bool failed = false;
    auto check = [&] {
        if (!writer.GetErrorFlag()) return true;
        window.ShowError(writer.GetErrorText());
        failed = true;
        return false;
    };
    auto next = [&] {
        if (number > 0) {
            writer.Close();
            if (!check()) return false;
        }
        writer.SetFileName(names.Name(++number).c_str());
        writer.Create();
        if (!check()) return false;
        writer.BeginWave(static_cast<short>(m_info.format.wBitsPerSample),
                         m_info.format.nSamplesPerSec, static_cast<short>(m_info.format.nChannels),
                         kBlockBytes);
        songBytes = 0;
        return check();
    };
    auto write = [&](const char* data, uint64_t count) {
        if (count > 0 && songBytes > 0 && songBytes + count > maxSongBytes && !next()) return false;
        writer.Write(data, static_cast<long>(count));
        songBytes += count;
        return check();
    };
    std::unique_ptr<char[]> block(new char[kBlockBytes]);
    cutter.PrepareRecording();
    uint64_t at = 0;
    size_t c = 0;
    bool ok = next();
    while (ok && at < m_info.nDataBytes) {
        if (Interrupted()) break;
        const long n = static_cast<long>(std::min<uint64_t>(kBlockBytes, m_info.nDataBytes - at));
        if (::pread(m_nFd, block.get(), static_cast<size_t>(n),
                    static_cast<off_t>(m_info.nDataOffset + at)) != n) {
            Fail("Cannot read " + m_strName + ": " + std::strerror(errno));
            failed = true;
            break;
        }
        cutter.ProcessBlock(block.get(), n);
        uint64_t done = 0;
        while (ok && c < cutBytes.size() && cutBytes[c] < at + static_cast<uint64_t>(n)) {
            const uint64_t part = cutBytes[c] - at - done;
            ok = write(block.get() + done, part) && next();
            done += part;
            ++c;
        }
        if (ok) ok = write(block.get() + done, static_cast<uint64_t>(n) - done);
        at += static_cast<uint64_t>(n);
    }
    const std::string lastPath = writer.GetFileName();
    if (writer.IsOpen()) {
        writer.Close();
        check();
    }
    m_nTakenBytes = at;
    const bool interrupted = Interrupted();
    if (interrupted)
        Fail("interrupted after " + Time(at / m_info.format.nBlockAlign) + " of the input");
    if (failed || interrupted) RemoveUnfinished(output, lastPath);
    CollectSongs(output, names, cutBytes);
    if (failed || interrupted) {
        if (!m_options.bQuiet && !m_songs.empty()) PrintSummary();
        return interrupted ? kExitSignal + m_pInterrupt->load() : kExitFailed;
    }
    const int named = m_titles.empty() ? kExitOk : NameAfterTitles();
    const int written = WriteLabelsAndCue();
    const int rc = written != kExitOk ? written : named;
    if (list) {
        PrintList(nullptr, std::string());
    } else if (!m_options.bQuiet) {
        PrintSummary();
    }
    return rc;
}

// The noise floor as the detector sees it and a Gap Level between it and the quietest passages
// inside songs. The quiet passages are the quietest Gap-Size-long passage of every stretch of
// half a Minimum Song Size (no two songs' gaps are nearer); they fall into the gaps' floor and
// the songs' quiet moments, told apart by the largest step between their sorted levels.
int CSplitter::Probe() {
    if (m_info.bStream)
        return Fail("--probe reads " + m_strName + " first; give a file, not a stream");
    CSignalAnalyzer analyser = m_params;
    SetFormat(analyser);
    analyser.PrepareRecording();
    const int64_t perSecond = DetectorSamplesPerSecond();
    CDetectorView view(analyser, perSecond, m_info.format.wBitsPerSample == 16, true);
    analyser.SetObserver(&view);
    const bool read = AnalysePass(analyser, m_info.nDataBytes);
    analyser.SetObserver(nullptr);
    if (!read) return Interrupted() ? kExitSignal + m_pInterrupt->load() : kExitFailed;
    view.Finish();

    const std::vector<float>& grid = view.GetGrid();
    const int64_t cell = view.GetGridSamples();
    const int64_t gapSize = view.GetGapSamples();
    const int64_t width = std::max<int64_t>(1, (gapSize + cell - 1) / cell);
    const int64_t cells = static_cast<int64_t>(grid.size());
    const double seconds = double(cell) / double(perSecond);
    auto db = [&](float level) { return view.Decibels(level); };
    m_out << m_strName << ": levels as the gap detector sees them (Smart Gap "
          << (analyser.GetIgnoreClicks() ? "on" : "off") << "), in passages of Gap Size ("
          << Number(gapSize / double(perSecond), "%.2f") << " s)\n";
    if (cells < width + 2) {
        m_out << "  the side is too short to measure\n";
        return kExitOk;
    }
    // Loudest level of every Gap-Size-long passage on the grid.
    std::vector<float> passage(static_cast<size_t>(cells - width + 1));
    for (size_t k = 0; k < passage.size(); ++k) {
        passage[k] = *std::max_element(grid.begin() + static_cast<long>(k),
                                       grid.begin() + static_cast<long>(k) + width);
    }
    const int64_t n = static_cast<int64_t>(passage.size());
    const int64_t radius = std::max<int64_t>(width, view.GetMinSongSamples() / 2 / cell);
    struct Valley {
        int64_t k;
        double level;
    };
    std::vector<Valley> valleys;
    for (int64_t k = 0; k < n; ++k) {
        const int64_t from = std::max<int64_t>(0, k - radius), to = std::min(n - 1, k + radius);
        bool lowest = true;
        for (int64_t j = from; j <= to && lowest; ++j) {
            lowest = passage[j] > passage[k] || (passage[j] == passage[k] && j >= k);
        }
        if (lowest) valleys.push_back({k, db(passage[k])});
    }
    m_out << "  lead-in (first " << Number(width * seconds, "%.2f")
          << " s): " << Number(db(passage[0]), "%.1f") << " dB\n";
    // The first and the last are the lead-in and the run-out: they end no song.
    std::vector<Valley> inner;
    for (const Valley& v : valleys) {
        if (v.k != valleys.front().k && v.k != valleys.back().k) inner.push_back(v);
    }
    std::vector<Valley> sorted = inner;
    std::sort(sorted.begin(), sorted.end(),
              [](const Valley& a, const Valley& b) { return a.level < b.level; });
    // The gaps' floor reaches up from the quietest; the first clear step above it leads to the
    // songs' quiet moments.
    constexpr double kClearStep = 6.0;  // dB
    size_t step = 0;
    double widest = 0;
    for (size_t k = 0; k + 1 < sorted.size(); ++k) {
        const double rise = sorted[k + 1].level - sorted[k].level;
        widest = std::max(widest, rise);
        if (rise >= kClearStep) {
            step = k + 1;
            break;
        }
    }
    if (step == 0) {
        // A clean side may have no quiet passages to compare: its songs may be split already.
        std::ostringstream listing;
        const size_t songs = TrialSplit(m_options, listing);
        if (songs >= 2) {
            m_out << "  the settings given already split the side into " << songs << " songs:\n"
                  << listing.str() << "  " << ProbeCommand(std::nullopt, std::nullopt) << "\n";
        } else {
            m_out << "  no clear gaps between songs: the quiet passages lie within "
                  << Number(widest, "%.1f") << " dB of each other\n";
        }
        m_out.flush();
        return kExitOk;
    }
    const double floorTop = sorted[step - 1].level;
    const double songs = sorted[step].level;
    std::vector<Valley> gaps(sorted.begin(), sorted.begin() + static_cast<long>(step));
    std::sort(gaps.begin(), gaps.end(), [](const Valley& a, const Valley& b) { return a.k < b.k; });
    m_out << "  noise floor in the quietest stretches: " << Number(sorted.front().level, "%.1f")
          << " to " << Number(floorTop, "%.1f") << " dB (at";
    for (size_t k = 0; k < gaps.size() && k < 8; ++k) {
        m_out << (k ? ", " : " ") << SampleTime(gaps[k].k * cell);
    }
    m_out << (gaps.size() > 8 ? ", ...)\n" : ")\n");
    m_out << "  quietest passage inside songs: " << Number(songs, "%.1f") << " dB (at "
          << SampleTime(sorted[step].k * cell) << ")\n";
    const double suggested = std::round((floorTop + songs) / 2.0 * 10.0) / 10.0;

    // End Gap must outlast every quiet stretch before the run-out at that level.
    const float threshold = static_cast<float>(
        std::pow(10.0, suggested / 20.0) * (m_info.format.wBitsPerSample == 16 ? 32768.0 : 1.0));
    int64_t longest = 0, run = 0, firstLoud = -1, lastLoud = -1;
    for (int64_t k = 0; k < cells; ++k) {
        if (grid[k] > threshold) {
            if (firstLoud < 0) firstLoud = k;
            lastLoud = k;
        }
    }
    // The lead-in counts: End Gap of it would end the side before the first song.
    for (int64_t k = 0; k <= lastLoud; ++k) {
        run = grid[k] <= threshold ? run + 1 : 0;
        longest = std::max(longest, run);
    }
    const double longestSeconds = longest * seconds;
    m_out << "  suggested Gap Level: " << Number(suggested, "%.1f") << " dB, between the floor ("
          << Number(floorTop, "%.1f") << " dB) and the songs (" << Number(songs, "%.1f")
          << " dB)\n";
    std::optional<double> endGap;
    if (longestSeconds >= analyser.GetEndGap()) {
        endGap = std::min(30.0, std::ceil(longestSeconds + 1.0));
        m_out << "  suggested End Gap: " << Number(*endGap) << " s, longer than the longest quiet "
              << "stretch before the run-out, the lead-in included ("
              << Number(longestSeconds, "%.1f") << " s)"
              << (longestSeconds + 1.0 > 30.0 ? "; End Gap holds at most 30 s" : "") << "\n";
    }
    // The suggestion, tried as --list would.
    SplitOptions trial = m_options;
    trial.fGapLevel = std::round(suggested * 10.0) / 10.0;
    trial.bGapLevelGiven = true;
    if (endGap) {
        trial.fEndGap = *endGap;
        trial.bEndGapGiven = true;
    }
    std::ostringstream listing, given;
    const size_t found = TrialSplit(trial, listing);
    // A clean side: the settings given may split it as well already.
    if (found >= 2 && TrialSplit(m_options, given) == found) {
        m_out << "  the settings given already split the side into " << found << " songs:\n"
              << given.str() << "  " << ProbeCommand(std::nullopt, std::nullopt) << "\n";
        m_out.flush();
        return kExitOk;
    }
    m_out << "  at that level the side splits into " << found << (found == 1 ? " song" : " songs")
          << ":\n"
          << listing.str() << "  " << ProbeCommand(suggested, endGap) << "\n";
    m_out.flush();
    return kExitOk;
}

// The command line of a probe's suggestion: the options it ran with (the levels depend on
// them) and the level and End Gap it suggests.
std::string CSplitter::ProbeCommand(std::optional<double> level,
                                    std::optional<double> endGap) const {
    const SplitOptions& o = m_options;
    std::string command = "vellisto-split";
    if (!o.strPreset.empty()) command += " --preset " + ShellQuote(o.strPreset);
    if (!o.strPresetsFile.empty()) command += " --presets " + ShellQuote(o.strPresetsFile);
    if (o.bGapSizeGiven) command += " --gap-size " + Number(o.fGapSize);
    if (level) {
        command += " --gap-level " + Number(*level, "%.1f");
    } else if (o.bGapLevelGiven) {
        command += " --gap-level " + Number(o.fGapLevel);
    }
    if (o.bMinSongSizeGiven) command += " --min-song " + Number(o.fMinSongSize);
    if (endGap) {
        command += " --end-gap " + Number(*endGap);
    } else if (o.bEndGapGiven) {
        command += " --end-gap " + Number(o.fEndGap);
    }
    if (o.bDCBlockGiven) command += std::string(" --dc-block ") + (o.bDCBlock ? "on" : "off");
    if (o.bSmartGapGiven) command += std::string(" --smart-gap ") + (o.bSmartGap ? "on" : "off");
    return command + " " + ShellQuote(m_options.strInput);
}

// A dry run of the input with other options: its song rows go to `listing`, its notices
// nowhere (the probe speaks for it). The number of songs.
size_t CSplitter::TrialSplit(const SplitOptions& options, std::ostream& listing) {
    SplitOptions trial = options;
    trial.bProbe = false;
    trial.bList = true;
    trial.bQuiet = true;
    trial.nSongs = 0;
    trial.strLabels.clear();
    trial.strCue.clear();
    std::ostringstream out, err;
    CSplitter splitter(trial, out, err, false, m_pInterrupt);
    splitter.Run();
    // The song rows of the listing, without its heading and its gaps.
    std::istringstream rows(out.str());
    std::string line;
    bool songRows = false;
    while (std::getline(rows, line)) {
        if (line.rfind("  song ", 0) == 0) {
            songRows = true;
        } else if (line.rfind("  gap ", 0) == 0 || line.rfind("  End Gap", 0) == 0) {
            songRows = false;
        }
        if (songRows || line.rfind("  End Gap", 0) == 0) listing << line << "\n";
    }
    return splitter.GetSongs().size();
}

int CSplitter::Run() {
    // Bad parameters are a usage error, found before any input is touched. Every analyser of
    // the run is a copy of this one.
    int rc = SetParameters(m_params);
    if (rc >= 0) return rc;
    rc = OpenInput();
    if (rc >= 0) return rc;
    if (m_options.bProbe) return Probe();
    if (m_options.bFlac && CheckFlacFormat(m_info.format) != FlacRefusal::None) {
        return Fail("--format flac: " + m_strName + ": " +
                    FlacRefusalText(CheckFlacFormat(m_info.format)));
    }
    if (!ChooseOutput()) return kExitFailed;
    if (!m_options.bList && !CheckDestination()) return kExitFailed;
    m_strAlbum = m_options.strAlbum;
    m_strArtist = m_options.strArtist;
    if (!m_options.strCuts.empty()) return SplitAtCuts();
    if (!m_options.strNames.empty()) {
        // A track list tells how many songs the side holds.
        if (m_info.bStream) {
            return Fail("--names without --cuts finds as many songs as titles, reading " +
                        m_strName + " twice; give a file, not a stream");
        }
        if (!ReadTitles(&m_titles)) return kExitFailed;
        if (m_options.nSongs > 0 && static_cast<size_t>(m_options.nSongs) != m_titles.size()) {
            return Fail("--songs " + std::to_string(m_options.nSongs) + " and the " +
                            std::to_string(m_titles.size()) + " titles of " + m_options.strNames +
                            " disagree",
                        kExitUsage);
        }
        m_options.nSongs = static_cast<int>(m_titles.size());
        std::vector<std::string> paths;
        if (!TitledPaths(&paths)) return kExitFailed;
        if (!m_options.bList && !CheckTargets(paths)) return kExitFailed;
    }
    return m_options.nSongs > 0 ? SongCount() : Record();
}

namespace {

// The worse of two exit codes: an interruption, then usage, then failure, then success.
int Worse(int a, int b) {
    auto rank = [](int code) { return code >= kExitSignal ? 3 : code; };
    return rank(b) > rank(a) ? b : a;
}

}  // namespace

int RunSplitCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                    bool showProgress, const std::atomic<int>* interrupt) {
    SplitOptions options;
    int rc = ParseSplitOptions(argc, argv, &options, out, err);
    if (rc >= 0) return rc;
    const size_t count = options.inputs.size();
    if (count == 1) {
        if ((rc = CheckRunPaths(options, err)) >= 0) return rc;
        options.strInput = options.inputs[0];
        CSplitter splitter(options, out, err, showProgress && !options.bQuiet, interrupt);
        return splitter.Run();
    }

    auto usage = [&err](const std::string& text) {
        err << "vellisto-split: " << text << "\nRun with --help for more information.\n";
        return kExitUsage;
    };
    std::error_code ec;
    if (!options.strOutput.empty() && options.strOutput.back() != '/' &&
        !fs::is_directory(options.strOutput, ec)) {
        return usage("with several inputs, -o names a folder for their song files");
    }
    if (!options.strLabels.empty() || !options.strCue.empty()) {
        return usage("--labels and --cue take one input");
    }
    if (std::count(options.inputs.begin(), options.inputs.end(), "-") > 0) {
        return usage("standard input (\"-\") can only be split alone");
    }
    if ((rc = CheckRunPaths(options, err)) >= 0) return rc;

    // Each input as if alone, several at once; their output in the order given.
    struct Result {
        std::ostringstream out, err;
        int nCode = 0;
        size_t nSongs = 0;
        bool bDone = false;
    };
    std::vector<Result> results(count);
    std::mutex mutex;
    std::condition_variable finished;
    std::atomic<size_t> nextInput{0};
    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    const size_t jobs = std::min<size_t>(count, options.nJobs > 0 ? options.nJobs : cores);
    auto work = [&] {
        for (size_t i; (i = nextInput.fetch_add(1)) < count;) {
            SplitOptions one = options;
            one.strInput = options.inputs[i];
            CSplitter splitter(one, results[i].out, results[i].err, false, interrupt);
            const int code = splitter.Run();
            std::lock_guard<std::mutex> guard(mutex);
            results[i].nCode = code;
            results[i].nSongs = splitter.GetSongs().size();
            results[i].bDone = true;
            finished.notify_all();
        }
    };
    std::vector<std::thread> threads;
    for (size_t k = 0; k < jobs; ++k) threads.emplace_back(work);
    int worst = kExitOk;
    size_t songs = 0;
    std::vector<std::string> failed;
    for (size_t i = 0; i < count; ++i) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            finished.wait(lock, [&] { return results[i].bDone; });
        }
        err << results[i].err.str();
        out << results[i].out.str();
        err.flush();
        out.flush();
        worst = Worse(worst, results[i].nCode);
        songs += results[i].nSongs;
        if (results[i].nCode != kExitOk) failed.push_back(options.inputs[i]);
    }
    for (std::thread& t : threads) t.join();
    if (!options.bQuiet) {
        out << count << " inputs, " << songs << (songs == 1 ? " song" : " songs") << " in all";
        if (!failed.empty()) {
            out << "; " << failed.size() << " failed:";
            for (const std::string& name : failed) out << " " << name;
        }
        out << "\n";
    }
    return worst;
}
