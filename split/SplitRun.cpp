#include "split/SplitRun.h"

#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <system_error>
#include <thread>

#include "audio/WaveFileWriter.h"
#include "audio/capture/FileCaptureBackend.h"
#include "engine/ParamScales.h"
#include "engine/RecordingControl.h"
#include "engine/RecordingTexts.h"
#include "engine/SignalAnalyzer.h"
#include "settings/PresetLocation.h"
#include "settings/PresetsFile.h"
#include "settings/Windows1252.h"
#include "split/RunPaths.h"
#include "split/SongOutput.h"
#include "split/TerminalWindow.h"
#include "take/ClickRepairEncoder.h"
#include "take/CutsFile.h"
#include "take/DetectorView.h"
#include "take/FileSteps.h"
#include "take/SongNames.h"
#include "take/TakeList.h"
#include "take/TrackList.h"

namespace fs = std::filesystem;

namespace {

// The highest rate accepted: beyond the formats any sound card records, and far from the
// 32-bit products the analyser forms from it.
constexpr uint32_t kMaxRate = 384000;

// The values the options accept, as their help names them. A typed value becomes the nearest
// position the recorder can hold, so every value named here is accepted.
struct TypedRange {
    const char* szOption;
    double fLow, fHigh;
};

constexpr TypedRange kTyped[] = {
    {"--gap-size", 0.01, 5.0},
    {"--gap-level", -144.0, -6.0},
    {"--min-song", 1.0, 200.0},
    {"--end-gap", 1.0, 30.0},
};

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

// Titled songs are named by this pattern and the songs' extension.
constexpr const char* kTitledPattern = "{n:02} {title}";

struct Piece {
    uint64_t nFrom = 0, nTo = 0;  // frames; nTo kOpenEnd: to the end of the input
    int nLine = 0;                // of the cut in its file
};

bool SameFile(const std::string& a, int fd) {
    struct stat sa {
    }, sb{};
    return ::stat(a.c_str(), &sa) == 0 && ::fstat(fd, &sb) == 0 && sa.st_dev == sb.st_dev &&
           sa.st_ino == sb.st_ino;
}

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

std::string Number(double v, const char* format) {
    char text[48];
    std::snprintf(text, sizeof text, format, v);
    return text;
}

CSplitRun::CSplitRun(const SplitOptions& options, std::ostream& out, std::ostream& err,
                     bool showProgress, const std::atomic<int>* interrupt)
    : m_options(options),
      m_out(out),
      m_err(err),
      m_bShowProgress(showProgress),
      m_pInterrupt(interrupt) {}

CSplitRun::~CSplitRun() {
    if (m_nFd >= 0) ::close(m_nFd);
    if (!m_strScratch.empty()) {
        std::error_code ec;
        fs::remove_all(m_strScratch, ec);
    }
}

std::ostream& CSplitRun::Note() {
    if (m_options.bQuiet) return m_discard;
    m_bar.Clear();
    return m_err;
}

bool CSplitRun::Interrupted() const { return m_pInterrupt && m_pInterrupt->load() != 0; }

int CSplitRun::Fail(const std::string& text, int code) {
    // With several inputs every error says whose it is.
    const bool named = m_options.inputs.size() < 2 || m_strName.empty() ||
                       text.find(m_strName) != std::string::npos;
    m_bar.Clear();
    m_err << "vellisto-split: " << (named ? "" : m_strName + ": ") << text << "\n";
    m_err.flush();
    return code;
}

std::string CSplitRun::Time(uint64_t frames) const {
    return Duration(frames, m_info.format.nSamplesPerSec);
}

// The detector counts two samples to a frame whatever the channel count: a mono sample counts
// twice, so that its thresholds span the same seconds as in stereo.
std::string CSplitRun::SampleTime(int64_t samples) const {
    return Time(static_cast<uint64_t>(std::max<int64_t>(samples, 0)) / 2);
}

int64_t CSplitRun::DetectorSamplesPerSecond() const {
    return int64_t{m_info.format.nSamplesPerSec} * 2;
}

uint64_t CSplitRun::DetectorSampleByte(int64_t sample) const {
    const uint64_t s = static_cast<uint64_t>(std::max<int64_t>(sample, 0));
    const uint64_t frameBytes = m_info.format.nBlockAlign;
    return s / 2 * frameBytes + (m_info.format.nChannels == 1 ? 0 : s % 2 * frameBytes / 2);
}

// Opens the input once: its header is read from that descriptor, the recording plays it on,
// and a second pass reads it again by offset.
int CSplitRun::OpenInput() {
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
    // Which of two data chunks holds the recording cannot be told: splitting the first would
    // leave the other one's audio out without a word.
    if (m_info.nSecondDataOffset != 0) {
        return Fail(m_strName + " holds a second data chunk (" +
                    std::to_string(m_info.nSecondDataBytes) + " bytes at byte " +
                    std::to_string(m_info.nSecondDataOffset) +
                    ") after the first; which one is the recording cannot be told, so nothing "
                    "was split");
    }
    return -1;
}

bool CSplitRun::ChooseOutput() {
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

bool CSplitRun::CheckDestination() {
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
bool CSplitRun::CheckOverwrite() {
    const long existing = m_songNames.LowestExisting();
    if (existing == 0 || (m_options.bForce && !AmbiguousBase())) return true;
    Fail(ExistingSongsText(m_songNames.Name(existing)));
    return false;
}

bool CSplitRun::AmbiguousBase() const {
    const std::string_view stem = FileNamePart(m_songNames.Stem());
    return !stem.empty() && stem.back() >= '0' && stem.back() <= '9';
}

std::string CSplitRun::ExistingSongsText(const std::string& existing) const {
    const std::string stem(FileNamePart(m_songNames.Stem()));
    // Side1.wav's songs are Side11.wav, Side12.wav, ...: what is there may be other sides of a
    // set, which --force must not write over.
    if (AmbiguousBase()) {
        return existing + " exists, and the song files of " + m_strName + " would take its name (" +
               m_songNames.Name(1) + ", " + m_songNames.Name(2) +
               ", ...): a base name that ends in a digit runs into other recordings' names" +
               (m_options.bForce ? ", which --force does not write over" : "") +
               "; choose another with -o, for example -o " +
               ShellQuote(FolderPart(m_strBasePath) + "/" + stem + "-" +
                          std::string(m_songNames.Extension()));
    }
    return existing +
           " exists (and possibly more numbered song files); use --force to overwrite "
           "them";
}

void CSplitRun::NoteParamError(CSignalAnalyzer& analyser, Param param, const std::string& source) {
    m_paramErrors[param] =
        analyser.GetErrorFlag() ? source + ": " + analyser.GetErrorText() : std::string();
}

bool CSplitRun::SetTyped(CSignalAnalyzer& analyser, Param param, double value) {
    const TypedRange& range = kTyped[param];
    const std::string source = std::string(range.szOption) + " " + Number(value);
    const bool named = value >= range.fLow && value <= range.fHigh;
    const int p = named ? NearestAcceptedPosition(SettingOf(param), value) : 0;
    // Position 0 is out of every range: the analyser then gives its own message.
    SetPosition(analyser, param, -p);
    // The analyser's message names the range; a second one would only contradict it.
    NoteParamError(analyser, param, source);
    return !analyser.GetErrorFlag();
}

int CSplitRun::ApplyPreset(CSignalAnalyzer& analyser) {
    std::vector<CPresets> presets;
    PresetLoadReport report;
    const bool own = m_options.strPresetsFile.empty();
    const std::string presetsFile = own ? UserPresetsFile() : m_options.strPresetsFile;
    LoadPresetsFile(presetsFile, presets, &report);
    // The presets came from the file, or from no file at all.
    const bool starting = !report.bOpened && own && report.nErrno == ENOENT;
    if (starting) {
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
        const std::string held =
            known.empty() ? std::string(" (it holds none)") : " (it holds " + known + ")";
        const std::string text =
            "no preset named \"" + m_options.strPreset + "\" " +
            (starting ? "among the starting presets" + held + "; no presets file \"" + presetsFile +
                            "\" has been saved yet"
                      : "in \"" + presetsFile + "\"" + held);
        return report.bDamaged ? Fail(text) : Fail(text, kExitUsage);
    }

    // In the order the main window applies a preset. The preset's sample format and device do
    // not apply: the input file has its own format and is the device.
    RecSettings s = preset->m_settings;
    const std::string named = "preset \"" + DecodeWindows1252(preset->m_strName) + "\"";
    ApplyDetectionSettings(s, analyser, [&](RecSetting setting, const char* text) {
        m_paramErrors[static_cast<size_t>(setting)] = named + ": " + text;
    });
    return -1;
}

int CSplitRun::SetParameters(CSignalAnalyzer& analyser) {
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
void CSplitRun::SetFormat(CSignalAnalyzer& analyser) {
    const WAVEFORMATEX& f = m_info.format;
    analyser.SetBitsPerSample(f.wBitsPerSample);
    analyser.SetSamplesPerSec(f.nSamplesPerSec);
    analyser.SetChannels(f.nChannels);
}

// Runs the input's audio (up to limitBytes) through analyser block by block, as the recording
// does, reading the input again by offset. False when reading failed or was interrupted.
bool CSplitRun::AnalysePass(CSignalAnalyzer& analyser, uint64_t limitBytes) {
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
        m_bar.Draw(static_cast<double>(done) / static_cast<double>(total),
                   "looking at " + std::string(FileNamePart(m_strName)));
    }
    m_bar.Clear();
    return true;
}

// Tells which files the recording control removed as the side's run-out.
void CSplitRun::NoteRunOut(const RecordingReport& report, bool list) {
    std::vector<std::string> removed, spared;
    for (const SongFileRecord& file : report.files) {
        std::error_code ec;
        if (!file.bRemoved) continue;
        // A piece that would have replaced a file was never put there: that file stays.
        (!list && fs::exists(fs::symlink_status(file.strPath, ec)) ? spared : removed)
            .emplace_back(FileNamePart(file.strPath));
    }
    for (const std::string& name : spared) {
        Note() << "vellisto-split: notice: did not write " << name
               << " (the file there is left as it was): it would hold nothing above Gap Level "
                  "after the last song (run-out, no song)\n";
    }
    if (removed.empty()) return;
    const bool one = removed.size() == 1;
    Note() << "vellisto-split: notice: " << (list ? "" : "removed ") << removed.front()
           << (one ? "" : " to " + removed.back())
           << (list ? " would hold" : (one ? ": it held" : ": they held"))
           << " nothing above Gap Level after the last song (run-out, no song)\n";
}

void CSplitRun::RemoveUnfinished(CSongOutput& output, const std::string& path) {
    if (!output.Created(path)) return;
    std::error_code ec;
    if (output.GetMode() == CSongOutput::Mode::List) {
        fs::remove(path, ec);
        return;
    }
    // Only what this run wrote goes: a file it was to replace stays as it was.
    if (output.Remove(path.c_str()) != 0 && errno != ENOENT) {
        m_err << "vellisto-split: cannot remove the unfinished song file " << path << ": "
              << std::strerror(errno) << "\n";
    } else if (!fs::exists(fs::symlink_status(path, ec))) {
        m_err << "vellisto-split: removed the unfinished song file " << path << "\n";
    }
}

ISongEncoder& CSplitRun::Repairing(ISongEncoder& encoder) {
    if (!m_options.bDeclick) return encoder;
    m_pRepair = std::make_unique<CClickRepairEncoder>(encoder, m_info.format, m_options.declick);
    return *m_pRepair;
}

long CSplitRun::ClicksIn(const std::string& path) const {
    if (!m_pRepair) return -1;
    long clicks = 0;
    for (const RepairedFile& file : m_pRepair->Files()) {
        if (file.strPath == path) clicks = static_cast<long>(file.nClicks);
    }
    return clicks;
}

void CSplitRun::CollectSongs(const CSongOutput& output, const CSongFileName& written,
                             const std::vector<uint64_t>& splitBytes) {
    m_songs.clear();
    const uint64_t frameBytes = std::max<uint16_t>(m_info.format.nBlockAlign, 1);
    uint64_t at = 0;
    bool first = true;
    for (const CSongOutput::File& file : output.GetFiles()) {
        const uint64_t start = at;
        at += file.nDataBytes;
        std::error_code ec;
        const bool kept = output.GetMode() == CSongOutput::Mode::List
                              ? file.bCreated && fs::exists(file.strPath, ec)
                              : file.bFinished;
        if (!kept) continue;
        SplitSong song;
        const long number = written.NumberOf(file.strPath);
        song.strPath = number > 0 ? m_songNames.Name(number) : file.strPath;
        song.nStartFrame = start / frameBytes;
        song.nFrames = file.nDataBytes / frameBytes;
        song.fPeak = file.fPeak;
        song.nClipped = file.nClipped;
        song.nClicks = ClicksIn(file.strPath);
        // A file that begins where no gap was found goes on from the one before.
        song.bContinued =
            !first && std::find(splitBytes.begin(), splitBytes.end(), start) == splitBytes.end();
        first = false;
        m_songs.push_back(song);
    }
}

std::string CSplitRun::EndGapText(uint64_t taken, const Rest& rest) const {
    const uint64_t frameBytes = m_info.format.nBlockAlign;
    std::string text = "End Gap ended the side at " + Time(taken / frameBytes) + "; " +
                       Time(rest.nBytes / frameBytes) + " after it was not split, ";
    return text + (rest.nAboveFrames > 0 ? Time(rest.nAboveFrames) + " of it above Gap Level"
                                         : "nothing of it above Gap Level");
}

CSplitRun::Rest CSplitRun::ReadRest(const CSignalAnalyzer& ended, uint64_t taken,
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

std::string CSplitRun::WhyHead(int songsWanted) const {
    const std::string input = m_options.inputs.size() > 1 ? m_strName + ": " : std::string();
    return "vellisto-split: " + input + (songsWanted > 0 ? "why fewer: " : "why one song: ");
}

// Why a side gave fewer songs than it should: the longest quiet stretch against Gap Size and
// the quietest Gap-Size-long passage against Gap Level, both after Minimum Song Size.
void CSplitRun::Explain(const CDetectorView& view, int songsWanted) {
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

std::string ClicksText(long clicks) {
    if (clicks == 0) return "no click";
    return std::to_string(clicks) + (clicks == 1 ? " click" : " clicks");
}

void CSplitRun::PrintList(const CDetectorView* view, const std::string& endGapText) {
    m_out << m_strName << ": " << m_songs.size() << (m_songs.size() == 1 ? " song" : " songs")
          << " (dry run: no song file written)\n";
    const bool clicks = m_pRepair != nullptr;
    m_out << "  song  start     end       length    peak dBFS  clipped  "
          << (clicks ? "clicks  file\n" : "file\n");
    for (size_t k = 0; k < m_songs.size(); ++k) {
        const SplitSong& s = m_songs[k];
        const double peak = s.fPeak > 0 ? 20.0 * std::log10(double{s.fPeak}) : -100.0;
        char row[160];
        std::snprintf(row, sizeof row, "  %4zu  %-8s  %-8s  %-8s  %9.1f  %7llu  ", k + 1,
                      Time(s.nStartFrame).c_str(), Time(s.nStartFrame + s.nFrames).c_str(),
                      Time(s.nFrames).c_str(), std::max(peak, -100.0),
                      static_cast<unsigned long long>(s.nClipped));
        m_out << row;
        if (clicks) {
            std::snprintf(row, sizeof row, "%6ld  ", s.nClicks);
            m_out << row;
        }
        m_out << FileNamePart(s.strPath)
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

int CSplitRun::WriteSideFiles() {
    // The songs' take list first: whatever an earlier, longer run left under the same names is
    // then never taken for one of these songs. A take opens without its list, so a failure is
    // only said.
    if (!m_options.bList && !m_songs.empty()) {
        std::vector<TakeListFile> files;
        for (const SplitSong& s : m_songs) files.push_back({s.strPath, s.nFrames});
        if (!WriteTakeList(m_strBasePath, files)) {
            Note() << "vellisto-split: notice: cannot write the take list "
                   << TakeListPath(m_strBasePath) << ": " << std::strerror(errno) << "\n";
        }
    }
    const uint32_t rate = m_info.format.nSamplesPerSec;
    std::vector<SideSong> songs;
    for (const SplitSong& s : m_songs) {
        songs.push_back({s.nStartFrame, s.nStartFrame + s.nFrames, s.strTitle, s.strPath});
    }
    if (!m_options.strLabels.empty() &&
        !WriteNewFile(m_options.strLabels, LabelFileText(songs, rate))) {
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
        if (!WriteNewFile(m_options.strCue, CueSheetText(songs, {{named, 0}}, rate))) {
            return Fail("cannot write the cue sheet " + m_options.strCue + ": " +
                        std::strerror(errno));
        }
    }
    return kExitOk;
}

// A label file or cue sheet: published whole beside its name, never over a file unless
// --force said so (and then only over the one there now), so that a full disk leaves the older
// copy as it was. A pipe, a FIFO or a terminal that is there already is written to as it is.
bool CSplitRun::WriteNewFile(const std::string& path, const std::string& text) const {
    return PublishText(path, text, m_options.bForce ? IdentityAt(path) : FileIdentity{});
}

void CSplitRun::PrintSummary() {
    uint64_t frames = 0;
    long clicks = -1;
    for (const SplitSong& song : m_songs) {
        m_out << song.strPath << "  " << Time(song.nFrames)
              << (song.bContinued ? "  (goes on from the file before: a WAV file holds at most "
                                    "4 GiB)"
                                  : "");
        if (song.nClicks >= 0) {
            m_out << "  " << ClicksText(song.nClicks) << " repaired";
            clicks = std::max(clicks, 0L) + song.nClicks;
        }
        m_out << "\n";
        frames += song.nFrames;
    }
    m_out << m_songs.size() << (m_songs.size() == 1 ? " song file, " : " song files, ")
          << Time(frames) << " in all";
    if (clicks >= 0) m_out << ", " << ClicksText(clicks) << " repaired";
    m_out << "\n";
    m_out.flush();
}

bool CSplitRun::ReadTitles(std::vector<std::string>* titles) {
    std::ifstream in(m_options.strNames, std::ios::binary);
    std::string text;
    if (in) text.assign(std::istreambuf_iterator<char>(in), {});
    if (!in && !in.eof()) {
        Fail("cannot read the track list " + m_options.strNames + ": " + std::strerror(errno));
        return false;
    }
    titles->clear();
    m_titleSeconds.clear();
    for (const TrackListEntry& entry : ParseTrackListEntries(text)) {
        titles->push_back(entry.strTitle);
        m_titleSeconds.push_back(entry.nSeconds);
    }
    if (titles->empty()) {
        Fail("the track list " + m_options.strNames + " holds no title");
        return false;
    }
    return true;
}

FlacTags CSplitRun::TagsFor(const std::string& path, const std::vector<std::string>& names) const {
    FlacTags tags;
    tags.strAlbum = m_strAlbum;
    tags.strArtist = m_strArtist;
    long number = 0;
    for (size_t k = 0; k < names.size() && number == 0; ++k) {
        if (names[k] == path) number = static_cast<long>(k) + 1;
    }
    if (number == 0) number = m_songNames.NumberOf(path);
    if (number > 0) {
        tags.nTrack = static_cast<int>(number);
        if (static_cast<size_t>(number) <= m_titles.size()) {
            tags.strTitle = m_titles[static_cast<size_t>(number) - 1];
        }
    }
    return tags;
}

bool CSplitRun::TitledPaths(std::vector<std::string>* paths) {
    const SongNames names = BuildSongNames(kTitledPattern + std::string(SongExtension(m_options)),
                                           m_titles, {}, {m_strAlbum, m_strArtist});
    if (!names.Ok()) {
        Fail("cannot name the songs after their titles: " + DescribeNamesRefusal(names));
        return false;
    }
    // In the base's folder, named as the base is (without "./" when it has no folder).
    const std::string folder =
        m_strBasePath.substr(0, m_strBasePath.size() - FileNamePart(m_strBasePath).size());
    paths->clear();
    for (const std::string& name : names.names) paths->push_back(folder + name);
    return true;
}

bool CSplitRun::CheckTargets(const std::vector<std::string>& paths) {
    for (const std::string& path : paths) {
        if (SameFile(path, m_nFd)) {
            Fail(path + " is the input; choose another folder with -o");
            return false;
        }
        std::error_code ec;
        if (!m_options.bForce && fs::exists(fs::symlink_status(path, ec))) {
            Fail(path + " exists; use --force to overwrite it");
            return false;
        }
    }
    return true;
}
