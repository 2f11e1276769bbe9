// vellisto_soak: the parts of the real-time soak (bench/soak.sh) in one program.
//
//   vellisto_soak gen    PLAN [--realtime | --wav FILE]
//       Writes the plan's audio: raw frames to standard output at the format's own pace
//       (--realtime, for a sound server's pipe source), or a WAV file as fast as it can.
//   vellisto_soak record --out DIR (--device NAME | --input WAV) --rate R --bits B
//                        [--max-seconds S] [--stall-ms MS --stall-every S] --report FILE
//       Records through the recorder's own recording control, headless: PortAudio's ALSA
//       device NAME (for example "pulse") or the WAV file played as fast as it is read. Stops by
//       itself at End Gap (or after S seconds of audio); writes what the recording reported.
//   vellisto_soak check  PLAN --out DIR --report FILE
//       Reads every frame of the song files back with its own WAV reader and checks it.
//
//   PLAN: --rate R --bits 16|32 --lead S --song S --gap S --songs N --tail S
//       lead-in of near-silence, N songs separated by gaps, a tail of near-silence (-1: endless).
//
// Every frame carries its own number in its samples (loud frames and near-silent ones alike),
// so the check sees any frame lost, repeated, reordered or altered. Near-silent frames keep
// their samples within +-500/32768 (below -36 dBFS, a real level, not digital silence); loud
// ones at or above 1000/32768 in magnitude. The analyser runs with DC Block and Smart Gap off,
// so the song files hold the captured bytes and the split points follow the gap rule exactly.
//
// The stall seam: the writer's pwrite and pwritev are wrapped at link time (-Wl,--wrap) in
// this program only; --stall-ms makes the song files' writes (on the recorder's writer thread)
// sleep that long every --stall-every seconds, like a disk that stops answering. The recorder
// itself is unchanged.
#include <fcntl.h>
#include <sys/uio.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/capture/CaptureBackend.h"
#include "audio/capture/FileCaptureBackend.h"
#include "engine/RecordingControl.h"
#include "engine/RecordingMailbox.h"
#include "engine/RecordingTexts.h"

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// ---------------------------------------------------------------------------------------------
// Command line

class CArgs {
public:
    CArgs(int argc, char** argv, int first) {
        for (int i = first; i < argc; ++i) {
            std::string key = argv[i];
            if (key.rfind("--", 0) != 0) Die("unexpected argument " + key);
            const bool flag = i + 1 >= argc || std::strncmp(argv[i + 1], "--", 2) == 0;
            m_values[key.substr(2)] = flag ? "1" : argv[++i];
        }
    }
    bool Has(const std::string& key) const { return m_values.count(key) > 0; }
    std::string Str(const std::string& key, const std::string& def = "") const {
        auto it = m_values.find(key);
        if (it != m_values.end()) return it->second;
        if (def.empty()) Die("--" + key + " is needed");
        return def;
    }
    double Num(const std::string& key, double def = NAN) const {
        auto it = m_values.find(key);
        if (it == m_values.end()) {
            if (std::isnan(def)) Die("--" + key + " is needed");
            return def;
        }
        return std::strtod(it->second.c_str(), nullptr);
    }
    [[noreturn]] static void Die(const std::string& text) {
        std::fprintf(stderr, "vellisto_soak: %s\n", text.c_str());
        std::exit(2);
    }

private:
    std::map<std::string, std::string> m_values;
};

// ---------------------------------------------------------------------------------------------
// The plan and the frame code

struct Plan {
    int nRate = 44100;
    int nBits = 16;
    int64_t nLead = 0, nSong = 0, nGap = 0, nTail = 0;  // frames; nTail < 0: endless
    int nSongs = 3;

    explicit Plan(const CArgs& a) {
        nRate = int(a.Num("rate"));
        nBits = int(a.Num("bits"));
        if (nBits != 16 && nBits != 32) CArgs::Die("--bits is 16 or 32");
        nLead = int64_t(a.Num("lead") * nRate);
        nSong = int64_t(a.Num("song") * nRate);
        nGap = int64_t(a.Num("gap") * nRate);
        nSongs = int(a.Num("songs"));
        const double tail = a.Num("tail");
        nTail = tail < 0 ? -1 : int64_t(tail * nRate);
    }
    int FrameBytes() const { return nBits / 8 * 2; }
    int64_t SongStart(int k) const { return nLead + k * (nSong + nGap); }
    int64_t TotalFrames() const {  // -1: endless
        return nTail < 0 ? -1 : SongStart(nSongs - 1) + nSong + nTail;
    }
    bool IsLoud(int64_t frame) const {
        if (frame < nLead) return false;
        const int64_t k = (frame - nLead) / (nSong + nGap);
        return k < nSongs && (frame - nLead) % (nSong + nGap) < nSong;
    }
    // The gap (or the tail, k = nSongs - 1) after song k: [first, last] frames.
    int64_t GapStart(int k) const { return SongStart(k) + nSong; }
};

// The two sample values (in 1/32768) of a frame: loud frames hold the number exactly, quiet
// ones modulo 1,000,000.
void Encode(int64_t frame, bool loud, int v[2]) {
    if (loud) {
        v[0] = 1000 + int(frame % 30000);
        v[1] = -(1000 + int(frame / 30000 % 30000));
    } else {
        v[0] = -500 + int(frame % 1000);
        v[1] = -500 + int(frame / 1000 % 1000);
    }
}

void PutFrame(const Plan& p, int64_t frame, char* out) {
    int v[2];
    Encode(frame, p.IsLoud(frame), v);
    for (int ch = 0; ch < 2; ++ch) {
        if (p.nBits == 16) {
            const int16_t s = int16_t(v[ch]);
            std::memcpy(out + 2 * ch, &s, 2);
        } else {
            const float f = float(v[ch]) / 32768.0f;
            std::memcpy(out + 4 * ch, &f, 4);
        }
    }
}

bool ReadFrame(const Plan& p, const char* in, int v[2]) {
    for (int ch = 0; ch < 2; ++ch) {
        if (p.nBits == 16) {
            int16_t s;
            std::memcpy(&s, in + 2 * ch, 2);
            v[ch] = s;
        } else {
            float f;
            std::memcpy(&f, in + 4 * ch, 4);
            const float scaled = f * 32768.0f;
            v[ch] = int(std::lround(scaled));
            if (float(v[ch]) != scaled) return false;  // not a value the generator makes
        }
    }
    return true;
}

bool WriteAll(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= size_t(n);
    }
    return true;
}

template <typename T>
void PutLe(char* out, T v) {
    for (size_t i = 0; i < sizeof(T); ++i) out[i] = char((uint64_t(v) >> (8 * i)) & 0xFF);
}

// ---------------------------------------------------------------------------------------------
// gen

int Generate(const CArgs& a) {
    const Plan p(a);
    const int64_t total = p.TotalFrames();
    const int64_t chunk = p.nRate / 100;  // 10 ms
    std::vector<char> buf(size_t(chunk * p.FrameBytes()));
    int fd = STDOUT_FILENO;
    const bool realtime = a.Has("realtime");
    if (!realtime) {
        if (total < 0) CArgs::Die("a WAV file needs a finite --tail");
        const uint64_t dataBytes = uint64_t(total) * uint64_t(p.FrameBytes());
        if (dataBytes > CWavSongEncoder::kMaxDataBytes)
            CArgs::Die("the plan does not fit a WAV file");
        fd = ::open(a.Str("wav").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) CArgs::Die("cannot create " + a.Str("wav"));
        const bool isFloat = p.nBits == 32;
        const uint32_t fmtSize = isFloat ? 18 : 16;
        char h[46] = {};
        size_t at = 0;
        auto put4 = [&](const char* id) { std::memcpy(h + at, id, 4), at += 4; };
        put4("RIFF");
        PutLe<uint32_t>(h + at, uint32_t(4 + 8 + fmtSize + 8 + dataBytes)), at += 4;
        put4("WAVE");
        put4("fmt ");
        PutLe<uint32_t>(h + at, fmtSize), at += 4;
        PutLe<uint16_t>(h + at, isFloat ? 3 : 1), at += 2;
        PutLe<uint16_t>(h + at, 2), at += 2;
        PutLe<uint32_t>(h + at, uint32_t(p.nRate)), at += 4;
        PutLe<uint32_t>(h + at, uint32_t(p.nRate * p.FrameBytes())), at += 4;
        PutLe<uint16_t>(h + at, uint16_t(p.FrameBytes())), at += 2;
        PutLe<uint16_t>(h + at, uint16_t(p.nBits)), at += 2;
        if (isFloat) PutLe<uint16_t>(h + at, 0), at += 2;
        put4("data");
        PutLe<uint32_t>(h + at, uint32_t(dataBytes)), at += 4;
        if (!WriteAll(fd, h, at)) CArgs::Die("cannot write " + a.Str("wav"));
        buf.resize(size_t(p.nRate) * size_t(p.FrameBytes()));  // a second at a time
    } else {
        std::signal(SIGPIPE, SIG_IGN);
        // A deeper pipe lets the pace slip a little without the reader running dry.
        fcntl(fd, F_SETPIPE_SZ, 1 << 20);
    }
    const int64_t step = int64_t(buf.size()) / p.FrameBytes();
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (int64_t frame = 0; total < 0 || frame < total; frame += step) {
        const int64_t n = total < 0 ? step : std::min(step, total - frame);
        for (int64_t i = 0; i < n; ++i) PutFrame(p, frame + i, buf.data() + i * p.FrameBytes());
        if (realtime) {
            // Frame f is due at start + f / rate: never ahead of the clock, like a sound card.
            const int64_t ns = frame * 1000000000 / p.nRate;
            timespec due = start;
            due.tv_sec += ns / 1000000000;
            due.tv_nsec += ns % 1000000000;
            if (due.tv_nsec >= 1000000000) due.tv_sec += 1, due.tv_nsec -= 1000000000;
            while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &due, nullptr) == EINTR) {
            }
        }
        if (!WriteAll(fd, buf.data(), size_t(n * p.FrameBytes()))) {
            if (realtime) return 0;  // the reader went away: the soak is over
            CArgs::Die("cannot write " + a.Str("wav"));
        }
    }
    if (!realtime && ::close(fd) != 0) CArgs::Die("cannot write " + a.Str("wav"));
    return 0;
}

// ---------------------------------------------------------------------------------------------
// record

// The stall seam (see the head of this file). Only the writer thread writes song files.
std::atomic<int> g_nStallMs{0};
std::atomic<int64_t> g_nStallEveryNs{0};
std::atomic<int> g_nStalls{0};
Clock::time_point g_lastStall;  // the writer thread's own

void MaybeStall() {
    const int ms = g_nStallMs.load(std::memory_order_relaxed);
    if (ms <= 0) return;
    const auto now = Clock::now();
    if (g_lastStall == Clock::time_point{}) g_lastStall = now;
    if (now - g_lastStall < std::chrono::nanoseconds(g_nStallEveryNs.load())) return;
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    g_lastStall = Clock::now();
    g_nStalls.fetch_add(1);
}

}  // namespace

extern "C" {
ssize_t __real_pwrite(int fd, const void* data, size_t count, off_t offset);
ssize_t __real_pwritev(int fd, const iovec* iov, int count, off_t offset);
ssize_t __wrap_pwrite(int fd, const void* data, size_t count, off_t offset) {
    MaybeStall();
    return __real_pwrite(fd, data, count, offset);
}
ssize_t __wrap_pwritev(int fd, const iovec* iov, int count, off_t offset) {
    MaybeStall();
    return __real_pwritev(fd, iov, count, offset);
}
}

namespace {

// The recorder's front, headless: the recording thread's two messages wait in the windows' own
// mailbox for the main thread, which hands them to the control; the end report is kept.
class CSoakFront : public IRecordingSink, public IRecordingListener {
public:
    explicit CSoakFront(CRecordingControl** control) : m_ppControl(control) {}

    RecordingReport report;

    void PostRecordingProgress(const RecordingProgress& progress) override {
        if (m_mailbox.PostProgress(progress)) Wake();
    }
    void PostRecordingDone() override {
        if (m_mailbox.PostDone()) Wake();
    }
    void OnRecordingProgress(const RecordingProgress& progress) override {
        (*m_ppControl)->OnRecordingProgress(progress);
    }
    void OnRecordingDone() override { report = (*m_ppControl)->Finish(); }

    // Main thread: hands what waits to the control once woken, or after the timeout. Returns
    // true when the recording's done message was handled.
    bool Deliver(std::chrono::milliseconds timeout) {
        {
            std::unique_lock<std::mutex> lock(m_wakeMutex);
            m_wake.wait_for(lock, timeout, [this] { return m_bWoken; });
            m_bWoken = false;
        }
        return m_mailbox.DeliverTo(*this);
    }

private:
    CRecordingControl** m_ppControl;
    void Wake() {
        {
            std::lock_guard<std::mutex> lock(m_wakeMutex);
            m_bWoken = true;
        }
        m_wake.notify_one();
    }
    CRecordingMailbox m_mailbox;
    std::mutex m_wakeMutex;
    std::condition_variable m_wake;
    bool m_bWoken = false;  // under m_wakeMutex
};

long ResidentKiB() {
    long pages = 0, resident = 0;
    if (FILE* f = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
        std::fclose(f);
    }
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

const char* EndName(RecordingEnd end) {
    switch (end) {
        case RecordingEnd::None:
            return "none";
        case RecordingEnd::Stop:
            return "stop";
        case RecordingEnd::EndGap:
            return "end-gap";
        case RecordingEnd::ShortBlock:
            return "short-block";
        case RecordingEnd::WriterError:
            return "writer-error";
        case RecordingEnd::NoAudio:
            return "no-audio";
        case RecordingEnd::DeviceError:
            return "device-error";
        case RecordingEnd::FileRemoved:
            return "file-removed";
    }
    return "?";
}

int Record(const CArgs& a) {
    const fs::path dir = a.Str("out");
    fs::create_directories(dir);
    const int rate = int(a.Num("rate"));
    const int bits = int(a.Num("bits"));
    const double maxSeconds = a.Num("max-seconds", 0);
    g_nStallMs = int(a.Num("stall-ms", 0));
    g_nStallEveryNs = int64_t(a.Num("stall-every", 10) * 1e9);

    std::unique_ptr<ICaptureBackend> backend;
    int deviceId = -1;
    if (a.Has("device")) {
        backend = MakePortAudioBackend();
        const std::string name = a.Str("device");
        for (int id = 0, n = backend->GetDeviceCount(); id < n; ++id) {
            WaveInCaps caps;
            if (backend->GetDeviceCaps(uint32_t(id), &caps) && name == caps.szPname) deviceId = id;
        }
        if (deviceId < 0) CArgs::Die("no capture device named " + name);
    } else {
        backend = MakeFileCaptureBackend(a.Str("input"), FilePacing::AsFastAsRead);
    }

    CRecordingControl* control = nullptr;
    CSoakFront front(&control);
    CRecordingControl ctl(&front, std::move(backend));
    control = &ctl;
    const std::string basePath = (dir / "SideA.wav").string();
    ctl.GetWriter().SetFileName(basePath.c_str());
    RecSettings s;  // the recorder's defaults: gaps of 1 s at -35 dB, songs of 30 s, End Gap 7 s
    s.nSamplesPerSec = uint32_t(rate);
    s.wBitsPerSample = uint16_t(bits);
    s.nWaveInID = deviceId;
    // The song files hold the captured bytes, and the splits follow the gap rule to the frame.
    s.bDCBlock = 0;
    s.bIgnoreClicks = 0;
    ctl.SetSettings(s, [](RecSetting, const char* text) { CArgs::Die(text); });
    CSignalAnalyzer& an = ctl.GetAnalyzer();

    const auto started = Clock::now();
    // Song files of an earlier run are overwritten, as after Yes to the window's question.
    StartOutcome start = ctl.Prepare({true, "SideA.wav", basePath});
    if (!start.Refused()) start = ctl.Start();
    if (start.Refused()) {
        CArgs::Die("the recording did not start: " + recording_texts::RefusalText(start));
    }
    const double byteRate = double(rate) * bits / 8 * 2;
    long rssMin = 0, rssMax = 0, rssFirst = 0, rssSamples = 0;
    double nextSample = 60;
    bool stopped = false;
    auto lastLine = started;
    for (;;) {
        if (front.Deliver(std::chrono::seconds(1))) break;
        const auto now = Clock::now();
        const double seconds = double(ctl.GetTotalBytes()) / byteRate;
        // Memory after every minute of audio from the first on (the second minute is the
        // first sample: start-up has settled by then).
        if (seconds >= nextSample) {
            nextSample += 60;
            const long rss = ResidentKiB();
            if (rssFirst == 0) rssFirst = rssMin = rssMax = rss;
            rssMin = std::min(rssMin, rss);
            rssMax = std::max(rssMax, rss);
            ++rssSamples;
        }
        if (now - lastLine >= std::chrono::seconds(60)) {
            lastLine = now;
            std::fprintf(
                stderr, "  %.1f min recorded, song file %d, lost frames %llu, RSS %ld KiB\n",
                seconds / 60, ctl.GetSongNumber(),
                static_cast<unsigned long long>(ctl.GetWaveIn().GetLostFrames()), ResidentKiB());
        }
        if (!stopped && maxSeconds > 0 && seconds >= maxSeconds) {
            stopped = true;
            ctl.OnStop();
        }
    }
    const double wall = std::chrono::duration<double>(Clock::now() - started).count();

    std::ofstream r(a.Str("report"));
    r << "end=" << EndName(front.report.end) << "\n"
      << "total_bytes=" << ctl.GetTotalBytes() << "\n"
      << "seconds_recorded=" << double(ctl.GetTotalBytes()) / byteRate << "\n"
      << "wall_seconds=" << wall << "\n"
      << "lost_frames=" << ctl.GetWaveIn().GetLostFrames() << "\n"
      << "overruns=" << ctl.GetWaveIn().GetOverflowCount() << "\n"
      << "gap_samples=" << an.m_nGapSamples << "\n"
      << "min_song_samples=" << an.m_nMinSongSamples << "\n"
      << "end_gap_samples=" << an.m_nEndGapSamples << "\n"
      << "stalls=" << g_nStalls.load() << "\n"
      << "stall_ms=" << g_nStallMs.load() << "\n"
      << "rss_kib_first=" << rssFirst << "\n"
      << "rss_kib_min=" << rssMin << "\n"
      << "rss_kib_max=" << rssMax << "\n"
      << "rss_samples=" << rssSamples << "\n"

      << "failures=" << front.report.failures.size() << "\n"
      << "song_files="
      << std::count_if(front.report.files.begin(), front.report.files.end(),
                       [](const SongFileRecord& f) { return !f.bRemoved; })
      << "\n";
    // What the window would have said, for the reader of the report.
    const std::vector<std::string> messages = recording_texts::EndMessages(front.report);
    r << "messages=" << messages.size() << "\n";
    for (size_t i = 0; i < messages.size(); ++i) {
        std::string text = messages[i];
        for (char& c : text) c = c == '\n' ? ' ' : c;
        r << "message" << i << "=" << text << "\n";
    }
    return r.good() ? 0 : 1;
}

// ---------------------------------------------------------------------------------------------
// check

std::map<std::string, std::string> ReadReport(const std::string& path) {
    std::map<std::string, std::string> values;
    std::ifstream in(path);
    if (!in) CArgs::Die("cannot read the report " + path);
    for (std::string line; std::getline(in, line);) {
        const size_t eq = line.find('=');
        if (eq != std::string::npos) values[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return values;
}

// A song file's sample bytes, found by walking its chunks; checks the sizes against the file.
struct SongFile {
    fs::path path;
    uint64_t nDataOffset = 0;
    uint64_t nFrames = 0;
};

bool OpenSong(const fs::path& path, const Plan& p, SongFile* song, std::string* problem) {
    std::ifstream f(path, std::ios::binary);
    const uint64_t size = fs::file_size(path);
    unsigned char h[12];
    if (!f.read(reinterpret_cast<char*>(h), 12) || std::memcmp(h, "RIFF", 4) != 0 ||
        std::memcmp(h + 8, "WAVE", 4) != 0) {
        *problem = "no RIFF/WAVE header";
        return false;
    }
    auto le32 = [](const unsigned char* b) {
        return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
    };
    if (le32(h + 4) + 8ull != size + (size & 1) && le32(h + 4) + 8ull != size) {
        *problem = "RIFF size " + std::to_string(le32(h + 4)) + " for a file of " +
                   std::to_string(size) + " bytes";
        return false;
    }
    uint64_t pos = 12;
    bool fmtOk = false;
    while (pos + 8 <= size) {
        unsigned char c[8];
        f.seekg(std::streamoff(pos));
        if (!f.read(reinterpret_cast<char*>(c), 8)) break;
        const uint32_t n = le32(c + 4);
        if (std::memcmp(c, "fmt ", 4) == 0) {
            unsigned char fmt[16];
            if (n < 16 || !f.read(reinterpret_cast<char*>(fmt), 16)) break;
            const unsigned tag = fmt[0] | fmt[1] << 8, channels = fmt[2] | fmt[3] << 8;
            const unsigned bits = fmt[14] | fmt[15] << 8;
            fmtOk = tag == (p.nBits == 32 ? 3u : 1u) && channels == 2 &&
                    le32(fmt + 4) == uint32_t(p.nRate) && bits == unsigned(p.nBits);
            if (!fmtOk) {
                *problem = "fmt chunk of another format";
                return false;
            }
        } else if (std::memcmp(c, "data", 4) == 0) {
            if (!fmtOk || pos + 8 + n != size - (n & 1) || n % p.FrameBytes() != 0) {
                *problem = "data size " + std::to_string(n) + " does not match the file";
                return false;
            }
            song->path = path;
            song->nDataOffset = pos + 8;
            song->nFrames = n / uint64_t(p.FrameBytes());
            return true;
        }
        pos += 8 + n + (n & 1);
    }
    *problem = "no data chunk";
    return false;
}

// The gap rule over the frames as recorded, in samples (two per frame), as the analyser applies
// it: a split where Gap Size of near-silence has passed and Minimum Song Size since the last
// split; the end where End Gap of near-silence has passed. Fed one run of equal frames at a time.
struct GapRule {
    GapRule(int64_t gap, int64_t minSong, int64_t endGap)
        : nGap(gap), nMinSong(minSong), nEndGap(endGap) {}
    int64_t nGap, nMinSong, nEndGap;
    int64_t nLastLoud = 0, nLastSplit = 0;
    std::vector<int64_t> cuts;  // frames (recorded) where a new file begins
    int64_t nEndFrame = -1;

    // The frame where the next split falls after what has been fed.
    int64_t NextSplit() const { return std::max(nLastLoud + nGap, nLastSplit + nMinSong) / 2; }

    void Run(int64_t firstFrame, int64_t frames, bool loud) {
        const int64_t s0 = 2 * firstFrame, s1 = 2 * (firstFrame + frames);
        if (loud) {
            nLastLoud = s1 - 1;
            return;
        }
        while (nEndFrame < 0) {
            const int64_t split = std::max({nLastLoud + nGap, nLastSplit + nMinSong, s0});
            const int64_t end = std::max(nLastLoud + nEndGap, s0);
            if (end < s1 && end <= split) {
                nEndFrame = end / 2;
                return;
            }
            if (split >= s1) return;
            cuts.push_back(split / 2);
            nLastSplit = split;
        }
    }
};

int Check(const CArgs& a) {
    const Plan p(a);
    const fs::path dir = a.Str("out");
    auto report = ReadReport(a.Str("report"));
    auto num = [&report](const char* key) {
        return std::strtoll(report[key].c_str(), nullptr, 10);
    };

    std::vector<SongFile> songs;
    for (int k = 1; fs::exists(dir / ("SideA" + std::to_string(k) + ".wav")); ++k) {
        SongFile song;
        std::string problem;
        const fs::path path = dir / ("SideA" + std::to_string(k) + ".wav");
        if (!OpenSong(path, p, &song, &problem)) {
            std::printf("FAIL %s: %s\n", path.c_str(), problem.c_str());
            return 1;
        }
        songs.push_back(song);
    }
    if (songs.empty()) {
        std::printf("FAIL no song files in %s\n", dir.c_str());
        return 1;
    }

    GapRule rule{num("gap_samples"), num("min_song_samples"), num("end_gap_samples")};
    int64_t recorded = 0;  // frames read so far, over all files
    int64_t prev = -1;     // frame number of the previous frame
    uint64_t lost = 0, repeated = 0, reordered = 0, altered = 0;
    std::vector<int64_t> boundaries;       // recorded frame index where each later file begins
    std::vector<int64_t> boundaryNumbers;  // ... and the number of the frame found there
    int64_t runStart = 0;
    int runLoud = -1;
    std::vector<char> buf(size_t(1 << 20) / size_t(p.FrameBytes()) * size_t(p.FrameBytes()));
    for (size_t k = 0; k < songs.size(); ++k) {
        if (k > 0) boundaries.push_back(recorded);
        std::ifstream f(songs[k].path, std::ios::binary);
        f.seekg(std::streamoff(songs[k].nDataOffset));
        uint64_t left = songs[k].nFrames;
        bool firstOfFile = true;
        while (left > 0) {
            const uint64_t n = std::min<uint64_t>(left, buf.size() / size_t(p.FrameBytes()));
            if (!f.read(buf.data(), std::streamsize(n * uint64_t(p.FrameBytes())))) {
                std::printf("FAIL %s: short read\n", songs[k].path.c_str());
                return 1;
            }
            for (uint64_t i = 0; i < n; ++i) {
                int v[2] = {0, 0};
                const bool exact = ReadFrame(p, buf.data() + i * uint64_t(p.FrameBytes()), v);
                const bool loud = v[0] >= 1000;
                int64_t number;
                if (loud) {
                    number = (v[0] - 1000) + 30000LL * (-v[1] - 1000);
                } else {
                    // Known modulo 10^6: the first candidate after the previous frame (the very
                    // first frame: the first near-silent one, in the lead-in).
                    const int64_t mod = (v[0] + 500) + 1000LL * (v[1] + 500);
                    const int64_t from = prev + 1;
                    number = from + ((mod - from) % 1000000 + 1000000) % 1000000;
                }
                int e[2];
                Encode(number, p.IsLoud(number), e);
                if (!exact || e[0] != v[0] || e[1] != v[1]) ++altered;
                if (prev >= 0) {
                    if (number == prev) {
                        ++repeated;
                    } else if (number < prev) {
                        ++reordered;
                    } else {
                        lost += uint64_t(number - prev - 1);
                    }
                }
                if (firstOfFile && k > 0) boundaryNumbers.push_back(number);
                firstOfFile = false;
                prev = number;
                if (int(loud) != runLoud) {
                    if (runLoud >= 0) rule.Run(runStart, recorded - runStart, runLoud == 1);
                    runStart = recorded;
                    runLoud = loud;
                }
                ++recorded;
            }
            left -= n;
        }
    }
    if (runLoud >= 0) rule.Run(runStart, recorded - runStart, runLoud == 1);

    int failures = 0;
    auto expect = [&failures](bool ok, const std::string& what) {
        std::printf("%s %s\n", ok ? "ok  " : "FAIL", what.c_str());
        if (!ok) ++failures;
    };
    const uint64_t reported = uint64_t(num("lost_frames"));
    std::printf("%zu song files, %lld frames (%.1f min) checked\n", songs.size(),
                static_cast<long long>(recorded), double(recorded) / p.nRate / 60);
    expect(altered == 0, "frames altered: " + std::to_string(altered));
    expect(repeated == 0, "frames repeated: " + std::to_string(repeated));
    expect(reordered == 0, "frames out of order: " + std::to_string(reordered));
    expect(lost == reported, "frames lost: " + std::to_string(lost) +
                                 ", reported by the recording: " + std::to_string(reported));

    // Where the files meet: exactly where the gap rule puts the splits in the frames as they
    // were recorded, and inside the plan's gaps.
    std::vector<int64_t> predicted;
    for (int64_t cut : rule.cuts) {
        if (cut < recorded) predicted.push_back(cut);
    }
    expect(predicted == boundaries, std::to_string(boundaries.size()) +
                                        " file boundaries where the gap rule puts them (" +
                                        std::to_string(predicted.size()) + " predicted)");
    if (report["end"] == "end-gap") {
        // The file begun at the last split held only the silence End Gap counts, and was removed.
        expect(rule.NextSplit() == recorded,
               "the last file ends at the next split (the silent file after it was removed): " +
                   std::to_string(recorded) + " frames, split at " +
                   std::to_string(rule.NextSplit()));
    }
    bool inGaps = true;
    for (int64_t number : boundaryNumbers) {
        inGaps = inGaps && !p.IsLoud(number) && number > p.nLead;
    }
    expect(inGaps, "every file begins inside a gap between songs");
    if (a.Has("songs-expected")) {
        expect(int64_t(songs.size()) == int64_t(a.Num("songs-expected")),
               "song files: " + std::to_string(songs.size()));
    }
    std::printf("end: %s; %s\n", report["end"].c_str(),
                failures == 0 ? "all checks passed" : "CHECKS FAILED");
    return failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) CArgs::Die("usage: vellisto_soak gen|record|check ... (see bench/soak.cpp)");
    const std::string mode = argv[1];
    const CArgs args(argc, argv, 2);
    if (mode == "gen") return Generate(args);
    if (mode == "record") return Record(args);
    if (mode == "check") return Check(args);
    CArgs::Die("unknown mode " + mode);
}
