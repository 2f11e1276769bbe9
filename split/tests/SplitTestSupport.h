// What the splitter's tests share: a run in process or through the shell, the exact detector
// parameters, and the generated sides' format, cut position and noise.
#pragma once

#include <fcntl.h>
#include <gmock/gmock.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "engine/tests/RecordingTestSupport.h"
#include "split/Splitter.h"

extern char** environ;

namespace splittest {

using namespace rectest;
using testing::HasSubstr, testing::Not, testing::StartsWith;

struct SplitRun {
    int nCode = -1;
    std::string strOut, strErr;
};

inline SplitRun Split(std::vector<std::string> args) {
    args.insert(args.begin(), "vellisto-split");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    const int code = RunSplitCommand(int(argv.size()), argv.data(), out, err);
    return {code, out.str(), err.str()};
}

// A run that must succeed; a failure ends the test (gtest reports the exception) with the
// splitter's own errors.
inline SplitRun SplitOk(std::vector<std::string> args) {
    SplitRun run = Split(std::move(args));
    if (run.nCode != 0)
        throw std::runtime_error("exit " + std::to_string(run.nCode) + ": " + run.strErr);
    return run;
}

// The splitter as a program, in `dir` through the shell: "$S" is the program; its output goes
// to out.txt and err.txt. Returns the exit status.
inline int Shell(const std::string& script, const CTempDir& dir) {
    const std::string command = "cd '" + dir.Path() + "' && S='" + VELLISTO_SPLIT_PATH + "' && { " +
                                script + "; } >out.txt 2>err.txt";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// DC Block and Smart Gap off, so the song files carry the input's bytes and the detector sees
// the samples themselves; 4 s minimum songs keep the inputs small (a silence of Gap Size plus
// Minimum Song Size would be cut twice).
inline std::vector<std::string> Exact(std::vector<std::string> args) {
    for (const char* a : {"--dc-block", "off", "--smart-gap", "off", "--min-song", "4"})
        args.push_back(a);
    return args;
}

// Whole files, /proc ones too.
inline std::string ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    // Whole, not a character at a time: the sanitizer builds compare whole sides this way.
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// The names in a folder, sorted.
inline std::vector<std::string> Files(const CTempDir& dir) {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(dir.Path())) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// The sample bytes of each song file stem1.wav, stem2.wav, ... in `dir`.
inline std::vector<Bytes> SongData(const CTempDir& dir, const std::string& stem,
                                   const Format& format) {
    std::vector<Bytes> songs;
    for (const fs::path& song : SongFiles(dir, stem, ".wav"))
        songs.push_back(ReadSongData(song, format));
    return songs;
}

inline Bytes Join(const std::vector<Bytes>& parts) {
    Bytes all;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
}

constexpr int kRate = 11025;
const Format kStereo16{16, kRate, 2};
// At 1.00 s Gap Size (22050 interleaved samples) the cut falls 11024 frames into the silence.
constexpr long kCutInSilence = 11024;

// Writes generated frames (16-bit stereo unless said) as a WAV file and returns them.
inline Bytes WriteSide(const fs::path& path, const std::vector<Segment>& plan,
                       const Format& format = kStereo16) {
    Bytes data = MakeSamples(format, plan);
    WriteWav(path, format, data);
    return data;
}
// Two and three songs of 5 s with gaps of 2 s.
const std::vector<Segment> kTwoSongs = {{5 * kRate, true}, {2 * kRate, false}, {5 * kRate, true}};
const std::vector<Segment> kThreeSongs = {{5 * kRate, true},
                                          {2 * kRate, false},
                                          {5 * kRate, true},
                                          {2 * kRate, false},
                                          {5 * kRate, true}};

// Noise with a DC offset in both formats, so DC Block and Smart Gap change every byte; loud
// stretches well above -35 dB, quiet ones well below.
inline Bytes NoisySide(const Format& format, const std::vector<Segment>& plan) {
    long samples = 0;
    for (const Segment& s : plan) samples += s.nFrames * format.nChannels;
    const size_t width = size_t(format.nBits / 8);
    Bytes data(size_t(samples) * width);
    char* to = data.data();
    uint32_t seed = 777;
    for (const Segment& s : plan) {
        for (long i = 0; i < s.nFrames * format.nChannels; ++i, to += width) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = int(seed >> 16) - 32768;
            const int v = (s.bLoud ? noise / 3 : noise / 2000) + 300;
            const int16_t s16 = int16_t(v);
            const float f = float(v) / 32768.0f;
            std::memcpy(to, format.nBits == 16 ? static_cast<const void*>(&s16) : &f, width);
        }
    }
    return data;
}

// Writes a 16-bit stereo sample into generated data.
inline void PutSample(Bytes& data, long frame, int channel, int16_t v) {
    std::memcpy(data.data() + (frame * 2 + channel) * 2, &v, 2);
}

}  // namespace splittest

namespace splittest {

// The splitter as a program with standard input from a pipe this side writes; output and
// errors go to out.txt and err.txt in `dir`.
struct Spawned {
    pid_t nPid = -1;
    int nInput = -1;  // write end of its standard input
    // Writes everything; false when the program stopped reading.
    bool Feed(const Bytes& bytes) const {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(nInput, bytes.data() + done, bytes.size() - done);
            if (n <= 0) return false;
            done += size_t(n);
        }
        return true;
    }
    void CloseInput() {
        if (nInput >= 0) ::close(nInput);
        nInput = -1;
    }
    // The exit status, or 128 + the signal that ended it; its input is closed first unless
    // it is to end by itself.
    int Wait(bool closeInput = true) {
        if (closeInput) CloseInput();
        int status = 0;
        if (::waitpid(nPid, &status, 0) != nPid) return -1;
        CloseInput();
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
};

inline Spawned SpawnSplit(const CTempDir& dir, std::vector<std::string> args) {
    args.insert(args.begin(), VELLISTO_SPLIT_PATH);
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    int pipeFds[2];
    EXPECT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
    ::signal(SIGPIPE, SIG_IGN);  // a program that stops reading fails Feed instead
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[0], 0);
    posix_spawn_file_actions_addopen(&actions, 1, (dir / "out.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (dir / "err.txt").c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    Spawned spawned;
    EXPECT_EQ(
        posix_spawn(&spawned.nPid, VELLISTO_SPLIT_PATH, &actions, nullptr, argv.data(), environ),
        0);
    posix_spawn_file_actions_destroy(&actions);
    ::close(pipeFds[0]);
    spawned.nInput = pipeFds[1];
    return spawned;
}

// A WAV header for a stream: the sizes a streaming writer leaves (0xFFFFFFFF), and the samples
// after it.
inline Bytes StreamedWav(const Format& format, const Bytes& samples) {
    Bytes wav = MakeWav(format, samples);
    const uint32_t unknown = 0xFFFFFFFFu;
    std::memcpy(&wav[4], &unknown, 4);
    std::memcpy(&wav[40], &unknown, 4);
    return wav;
}

// Waits (up to a minute, for a busy machine) until `ready` holds.
template <typename Ready>
bool WaitUntil(Ready ready) {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!ready()) {
        if (std::chrono::steady_clock::now() > limit) return false;
        std::this_thread::yield();
    }
    return true;
}

}  // namespace splittest
