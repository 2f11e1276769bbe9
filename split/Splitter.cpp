#include "Splitter.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <ostream>
#include <system_error>

#include "PresetLocation.h"
#include "PresetsFile.h"
#include "RecordingControl.h"
#include "SignalAnalyzer.h"
#include "TerminalWindow.h"

namespace fs = std::filesystem;

namespace {

// Trackbar positions per second of the gap-size scale, and of the minimum-song and end-gap
// scales (176.4 as a float, as the recorder's scale has it).
constexpr double kGapSizeScale = 1764.0;
constexpr float kSongScale = 176.4f;
constexpr double kLevelScale = 32768.0;

int32_t SaturatedPosition(double v) {
    if (std::isnan(v)) return 0;
    if (v >= std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (v <= std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

// A typed value becomes a position exactly as the recorder's position getters make one from
// the analyser's float: the float times the negative scale, exact in double, truncated toward
// zero. Setting that position then gives the very value (and validation) a recorder has.
int32_t SecondsToPosition(double seconds, double scale) {
    const float value = static_cast<float>(seconds);
    return SaturatedPosition(double{value} * -scale);
}

int32_t DecibelsToPosition(double decibels) {
    const float value = static_cast<float>(decibels);
    const float exponent = value / 20.0f;
    const float amplitude = static_cast<float>(std::pow(10.0, double{exponent}));
    return SaturatedPosition(double{amplitude} * -kLevelScale);
}

std::string Number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", v);
    return text;
}

// mm:ss.s, truncated to the tenth like the recorder's clock truncates to the second.
std::string Duration(uint64_t frames, uint32_t rate) {
    const uint64_t tenths = rate ? frames * 10 / rate : 0;
    char text[48];
    std::snprintf(text, sizeof text, "%02llu:%02llu.%llu",
                  static_cast<unsigned long long>(tenths / 600),
                  static_cast<unsigned long long>(tenths / 10 % 60),
                  static_cast<unsigned long long>(tenths % 10));
    return text;
}

}  // namespace

CSplitter::CSplitter(const SplitOptions& options, std::ostream& out, std::ostream& err,
                     bool showProgress, const std::atomic<int>* interrupt)
    : m_options(options),
      m_out(out),
      m_err(err),
      m_bShowProgress(showProgress),
      m_pInterrupt(interrupt) {}

int CSplitter::Fail(const std::string& text, int code) {
    m_err << "vellisto-split: " << text << "\n";
    m_err.flush();
    return code;
}

bool CSplitter::CheckInput() {
    std::string error;
    const std::string& input = m_options.strInput;
    if (!ReadWavFileInfo(input, &m_info, &error)) {
        // The format is filled in when the header was readable but holds another sample type.
        const WAVEFORMATEX& f = m_info.format;
        const bool pcm16 = f.wFormatTag == WAVE_FORMAT_PCM && f.wBitsPerSample == 16;
        const bool float32 = f.wFormatTag == WAVE_FORMAT_IEEE_FLOAT && f.wBitsPerSample == 32;
        if (f.wBitsPerSample != 0 && !pcm16 && !float32) {
            const std::string stem = CSongFileName(input).Stem();
            error += "; convert it first, for example: sox '" + input +
                     "' -b 16 -e signed-integer '" + stem + "-16bit.wav'";
        }
        Fail(error);
        return false;
    }
    const WAVEFORMATEX& f = m_info.format;
    if (f.nChannels > 2) {
        // The detector splits at stereo-frame boundaries; with more channels a song file would
        // begin in the middle of a frame.
        Fail(input + " has " + std::to_string(f.nChannels) +
             " channels; only mono and stereo recordings can be split (mix it down first, for "
             "example: sox '" +
             input + "' -c 2 'stereo.wav')");
        return false;
    }
    if (m_info.nDataBytes == 0) {
        Fail(input + " holds no audio");
        return false;
    }
    return true;
}

bool CSplitter::ChooseOutput() {
    std::string base = m_options.strOutput.empty() ? m_options.strInput : m_options.strOutput;
    if (!m_options.strOutput.empty()) {
        std::error_code ec;
        if (base.back() == '/' || fs::is_directory(base, ec)) {
            if (base.back() != '/') base += '/';
            base += FileNamePart(m_options.strInput);
        }
    }
    std::string name(FileNamePart(base));
    if (name.empty() || name == "." || name == "..") {
        Fail("the output base " + base + " names no file");
        return false;
    }
    if (name.find('.') == std::string::npos) {
        base += ".wav";
        name += ".wav";
    }
    m_strBasePath = base;
    m_strBaseName = name;
    m_songNames = CSongFileName(base);
    return true;
}

bool CSplitter::CheckDestination() {
    const std::string folder = FolderPart(m_strBasePath);
    struct stat st {};
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

    // Song files are created by truncating: one of them must never be the input itself (named
    // like a song file of this base, or a link to it), whatever --force says.
    struct stat in {};
    if (::stat(m_options.strInput.c_str(), &in) != 0) return true;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (m_songNames.NumberOf(name) == 0) continue;
        struct stat song {};
        if (::stat(it->path().c_str(), &song) == 0 && song.st_dev == in.st_dev &&
            song.st_ino == in.st_ino) {
            Fail("the song files would overwrite the input " + m_options.strInput + " (as " +
                 it->path().string() + "); choose another base name with -o");
            return false;
        }
    }
    return true;
}

void CSplitter::NoteParamError(CSignalAnalyzer& analyser, Param param, const std::string& source) {
    m_paramErrors[param] =
        analyser.GetErrorFlag() ? source + ": " + analyser.GetErrorText() : std::string();
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
        m_err << "vellisto-split: notice: the presets file \"" << presetsFile << "\" is damaged ("
              << report.strProblem << "); " << report.nRecovered << " of " << report.nCounted
              << " presets could be read\n";
    }
    const CPresets* preset = FindPresetByName(presets, m_options.strPreset);
    if (!preset) {
        std::string known;
        for (const CPresets& p : presets) {
            if (known.size() > 200) {
                known += ", ...";
                break;
            }
            known += (known.empty() ? "\"" : ", \"") + p.m_strName + "\"";
        }
        const std::string text =
            "no preset named \"" + m_options.strPreset + "\" in \"" + presetsFile + "\"" +
            (known.empty() ? std::string(" (it holds none)") : " (it holds " + known + ")");
        return report.bDamaged ? Fail(text) : Fail(text, kExitUsage);
    }

    // In the order the main window applies a preset. The preset's sample format and device do
    // not apply: the input file has its own format and is the device.
    const RecSettings& s = preset->m_settings;
    const std::string source = "preset \"" + preset->m_strName + "\"";
    analyser.SetGapSizePosition(s.nGapSize);
    NoteParamError(analyser, kGapSize, source);
    analyser.SetGapLevelPosition(s.nGapLevel);
    NoteParamError(analyser, kGapLevel, source);
    analyser.SetMinSongSizePosition(s.nMinSongSize);
    NoteParamError(analyser, kMinSong, source);
    analyser.SetEndSizePosition(s.nEndSize);
    NoteParamError(analyser, kEndGap, source);
    analyser.SetDCBlock(s.bDCBlock);
    analyser.SetIgnoreClicks(s.bIgnoreClicks);
    return -1;
}

int CSplitter::SetParameters(CSignalAnalyzer& analyser) {
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
    if (o.bGapSizeGiven) {
        analyser.SetGapSizePosition(SecondsToPosition(o.fGapSize, kGapSizeScale));
        NoteParamError(analyser, kGapSize, "--gap-size " + Number(o.fGapSize));
    }
    if (o.bGapLevelGiven) {
        analyser.SetGapLevelPosition(DecibelsToPosition(o.fGapLevel));
        NoteParamError(analyser, kGapLevel, "--gap-level " + Number(o.fGapLevel));
    }
    if (o.bMinSongSizeGiven) {
        analyser.SetMinSongSizePosition(SecondsToPosition(o.fMinSongSize, double{kSongScale}));
        NoteParamError(analyser, kMinSong, "--min-song " + Number(o.fMinSongSize));
    }
    if (o.bEndGapGiven) {
        analyser.SetEndSizePosition(SecondsToPosition(o.fEndGap, double{kSongScale}));
        NoteParamError(analyser, kEndGap, "--end-gap " + Number(o.fEndGap));
    }
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

std::string CSplitter::SongPath(long number) const { return m_songNames.Name(number); }

long CSplitter::SongNumberOf(const std::string& path) const {
    const long number = m_songNames.NumberOf(path);
    return number > 0 ? number : 1;
}

void CSplitter::CollectSongs(long lastNumber) {
    m_songs.clear();
    for (long k = 1; k <= lastNumber; ++k) {
        SplitSong song;
        song.strPath = SongPath(k);
        WavFileInfo info;
        std::string error;
        if (!ReadWavFileInfo(song.strPath, &info, &error)) continue;
        song.nFrames = info.format.nBlockAlign ? info.nDataBytes / info.format.nBlockAlign : 0;
        m_songs.push_back(song);
    }
}

void CSplitter::PrintSummary() {
    uint64_t frames = 0;
    for (const SplitSong& song : m_songs) {
        m_out << song.strPath << "  " << Duration(song.nFrames, m_info.format.nSamplesPerSec)
              << "\n";
        frames += song.nFrames;
    }
    m_out << m_songs.size() << (m_songs.size() == 1 ? " song file, " : " song files, ")
          << Duration(frames, m_info.format.nSamplesPerSec) << " in all\n";
    m_out.flush();
}

int CSplitter::Record(CRecordingControl& control, CTerminalWindow& window) {
    window.SetControl(&control);
    window.SetBaseFile(m_strBaseName, m_strBasePath);
    // While idle the writer holds the selected base file, which Record checks for.
    control.GetWriter().SetFileName(m_strBasePath.c_str());

    control.OnRecord();
    if (!control.IsRecording()) {
        if (window.WasAskedToOverwrite() && !m_options.bForce) {
            return Fail(window.GetExistingFile() +
                        " exists (and possibly more numbered song files); use --force to "
                        "overwrite them");
        }
        return kExitFailed;  // the control has shown why
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
            window.DrawProgress(static_cast<double>(control.GetTotalBytes()) /
                                static_cast<double>(m_info.nDataBytes));
        }
    }
    window.ClearProgress();

    const RecordingEnd end = control.GetLastEnd();
    const std::string lastPath = control.GetFilePath();
    const long lastNumber = SongNumberOf(lastPath);
    const uint64_t taken = static_cast<uint64_t>(control.GetTotalBytes());
    const uint32_t rate = m_info.format.nSamplesPerSec;
    const uint64_t frameBytes = m_info.format.nBlockAlign;

    bool failed = !window.GetErrors().empty();
    const bool interrupted = signal != 0 && end == RecordingEnd::Stop;
    if (interrupted) {
        Fail("interrupted after " + Duration(taken / frameBytes, rate) + " of the input");
        failed = true;
    }
    if (!failed && end == RecordingEnd::ShortBlock && taken < m_info.nDataBytes) {
        // The file backend ends the input early only when reading the file failed.
        Fail("could not read " + m_options.strInput + " beyond " +
             Duration(taken / frameBytes, rate) + " (" + std::to_string(taken) + " of " +
             std::to_string(m_info.nDataBytes) + " bytes)");
        failed = true;
    }
    if (failed) {
        // The song file being written when the run failed does not hold its whole song; the
        // files before it are finished songs and stay.
        std::error_code ec;
        if (fs::remove(lastPath, ec)) {
            m_err << "vellisto-split: removed the unfinished song file " << lastPath << "\n";
        } else if (ec) {
            m_err << "vellisto-split: cannot remove the unfinished song file " << lastPath << ": "
                  << ec.message() << "\n";
        }
    }

    CollectSongs(lastNumber);

    if (!failed && end == RecordingEnd::EndGap && taken < m_info.nDataBytes) {
        m_err << "vellisto-split: notice: End Gap of silence ended the recording at "
              << Duration(taken / frameBytes, rate) << "; the last "
              << Duration((m_info.nDataBytes - taken) / frameBytes, rate) << " of "
              << m_options.strInput
              << " were not split (a longer --end-gap goes on past such a silence)\n";
    }
    std::error_code ec;
    if (fs::exists(SongPath(lastNumber + 1), ec)) {
        long last = lastNumber + 1;
        while (fs::exists(SongPath(last + 1), ec)) ++last;
        m_err << "vellisto-split: notice: " << SongPath(lastNumber + 1)
              << (last > lastNumber + 1 ? " to " + std::string(FileNamePart(SongPath(last))) + " are"
                                        : std::string(" is"))
              << " left from an earlier run\n";
    }

    if (!m_options.bQuiet && (!failed || !m_songs.empty())) PrintSummary();
    if (interrupted) return kExitSignal + signal;
    return failed ? kExitFailed : kExitOk;
}

int CSplitter::Run() {
    CTerminalWindow window(m_err, m_options.bForce, m_bShowProgress);
    CRecordingControl control(&window,
                              MakeFileCaptureBackend(m_options.strInput, FilePacing::AsFastAsRead));

    CSignalAnalyzer& analyser = control.GetAnalyzer();
    const int rc = SetParameters(analyser);
    if (rc >= 0) return rc;
    if (!CheckInput() || !ChooseOutput() || !CheckDestination()) return kExitFailed;

    // The file is the capture device: its format is the recording's.
    const WAVEFORMATEX& f = m_info.format;
    analyser.SetBitsPerSample(f.wBitsPerSample);
    analyser.SetSamplesPerSec(f.nSamplesPerSec);
    analyser.SetChannels(f.nChannels);
    control.m_settings.wBitsPerSample = f.wBitsPerSample;
    control.m_settings.nSamplesPerSec = f.nSamplesPerSec;
    control.m_settings.wChannels = f.nChannels;
    control.m_settings.nWaveInID = -1;

    return Record(control, window);
}

int RunSplitCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                    bool showProgress, const std::atomic<int>* interrupt) {
    SplitOptions options;
    const int rc = ParseSplitOptions(argc, argv, &options, out, err);
    if (rc >= 0) return rc;
    CSplitter splitter(options, out, err, showProgress && !options.bQuiet, interrupt);
    return splitter.Run();
}
