// The splitter's other modes and its inputs, on generated sides whose answers are known to the
// sample: the listing, label file and cue sheet against a real split, the song count, the
// reasons for one song, the probe, several inputs at once, streamed and hostile inputs.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <regex>
#include <sstream>
#include <thread>

#include "Splitter.h"
#include "recording_support.h"

extern char** environ;

namespace {

using namespace rectest;

struct Outcome {
    int nCode = -1;
    std::string strOut, strErr;
};

Outcome Split(std::vector<std::string> args) {
    args.insert(args.begin(), "vellisto-split");
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    std::ostringstream out, err;
    const int code = RunSplitCommand(static_cast<int>(argv.size()), argv.data(), out, err);
    return {code, out.str(), err.str()};
}

// The splitter as a program, through the shell: "$S" is the program; returns the exit status.
int Shell(const std::string& script, const CTempDir& dir) {
    const std::string command = "cd '" + dir.Path() + "' && S='" + VELLISTO_SPLIT_PATH + "' && { " +
                                script + "; } >out.txt 2>err.txt";
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// Exact detector parameters: DC Block and Smart Gap off, so the song files carry the input's
// bytes and the detector sees the samples themselves; 4 s minimum songs.
std::vector<std::string> Exact(std::vector<std::string> args) {
    for (const char* a : {"--dc-block", "off", "--smart-gap", "off", "--min-song", "4"}) {
        args.push_back(a);
    }
    return args;
}

constexpr int kRate = 11025;
const Format kStereo16{16, kRate, 2};
constexpr long kCutInSilence = 11024;  // frames into a silence where a 1.00 s gap is cut

void PutSample(std::vector<char>& data, long frame, int channel, int16_t v) {
    std::memcpy(data.data() + (frame * 2 + channel) * 2, &v, 2);
}

// A stretch of a steady 200 Hz tone of the given peak level, which both filters pass.
void Tone(std::vector<char>& data, long from, long frames, double db) {
    const double amplitude = std::pow(10.0, db / 20.0) * 32768.0;
    for (long i = 0; i < frames; ++i) {
        const auto v =
            static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * 200 * i / kRate)));
        PutSample(data, from + i, 0, v);
        PutSample(data, from + i, 1, v);
    }
}

}  // namespace

TEST(SplitModes, ListLabelsAndCueDescribeTheFilesASplitWrites) {
    CTempDir dir;
    auto data = MakeSamples(kStereo16, {{5 * kRate, true},
                                        {2 * kRate, false},
                                        {6 * kRate + 123, true},
                                        {3 * kRate, false},
                                        {4 * kRate, true},
                                        {kRate / 2, false}});
    PutSample(data, 8 * kRate, 0, 32767);  // one clipped sample in song 2
    WriteWav(dir / "Side.wav", kStereo16, data);
    const Outcome list = Split(Exact(
        {dir / "Side.wav", "--list", "--labels", dir / "Side.txt", "--cue", dir / "Side.cue"}));
    ASSERT_EQ(list.nCode, 0) << list.strErr;
    EXPECT_TRUE(SongFiles(dir, "Side", ".wav").empty()) << "a dry run wrote song files";

    const Outcome split = Split(Exact({dir / "Side.wav"}));
    ASSERT_EQ(split.nCode, 0) << split.strErr;
    const auto songs = SongFiles(dir, "Side", ".wav");
    ASSERT_EQ(songs.size(), 3u);
    std::vector<long> starts, frames;
    long at = 0;
    for (const fs::path& song : songs) {
        starts.push_back(at);
        frames.push_back(static_cast<long>(ReadSongData(song, kStereo16).size() / 4));
        at += frames.back();
    }
    EXPECT_EQ(frames[0], 5 * kRate + kCutInSilence);

    // Song rows: number, start, end, length, peak, clipped, file; then the two gaps.
    const auto rows = Lines(list.strOut);
    ASSERT_GE(rows.size(), 8u) << list.strOut;
    std::regex song(R"(\s+(\d+)\s+(\S+)\s+(\S+)\s+(\S+)\s+(\S+)\s+(\d+)\s+(\S+))");
    for (size_t k = 0; k < 3; ++k) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(rows[k + 2], m, song)) << rows[k + 2];
        char start[16], end[16];
        auto clock = [](long f, char* out) {
            const long tenths = f * 10 / kRate;
            std::snprintf(out, 16, "%02ld:%02ld.%ld", tenths / 600, tenths / 10 % 60, tenths % 10);
        };
        clock(starts[k], start);
        clock(starts[k] + frames[k], end);
        EXPECT_EQ(m[2], start);
        EXPECT_EQ(m[3], end);
        EXPECT_EQ(m[6], k == 1 ? "1" : "0");
        EXPECT_EQ(m[7], songs[k].filename().string());
    }
    EXPECT_NE(rows[3].find(" -0.0 "), std::string::npos) << rows[3];  // the full-scale sample
    // The quiet frames reach 500 (-36.3 dB) and 0 (the floor): as the detector saw them.
    EXPECT_TRUE(std::regex_search(
        list.strOut, std::regex(R"(\n +00:05\.0 +00:02\.0 +-100\.0 +-36\.3  split at 00:05\.9\n)")))
        << list.strOut;
    EXPECT_NE(list.strOut.find("  split at 00:14.0"), std::string::npos);

    // Labels in seconds with six decimals; cue frames rounded down, as a cue tool reads them.
    const auto labels = Lines(Read(dir / "Side.txt"));
    ASSERT_EQ(labels.size(), 3u);
    for (size_t k = 0; k < 3; ++k) {
        char want[96];
        std::snprintf(want, sizeof want, "%.6f\t%.6f\tSide%zu", double(starts[k]) / kRate,
                      double(starts[k] + frames[k]) / kRate, k + 1);
        EXPECT_EQ(labels[k], want);
    }
    ASSERT_EQ(Shell("cueprint -d '%N\\n' -t '' Side.cue && cuebreakpoints Side.cue", dir), 0)
        << Read(dir / "err.txt");
    std::string breaks = "3\n";
    for (size_t k = 1; k < 3; ++k) {
        const long f = starts[k] * 75 / kRate;
        breaks += std::to_string(f / 75 / 60) + ":" + (f / 75 % 60 < 10 ? "0" : "") +
                  std::to_string(f / 75 % 60) + "." + (f % 75 < 10 ? "0" : "") +
                  std::to_string(f % 75) + "\n";
    }
    EXPECT_EQ(Read(dir / "out.txt"), breaks);
    EXPECT_EQ(Lines(Read(dir / "Side.cue"))[0], "FILE \"Side.wav\" WAVE");
}

TEST(SplitModes, SongCountCutsAtTheLongestGapsNotAtQuietPassages) {
    CTempDir dir;
    // Quiet passages inside songs last 1.5 s (longer than Gap Size), the gaps 2.5 s; the run-out
    // after the last song, 4 s, is no gap between songs.
    const auto data = MakeSamples(kStereo16, {{5 * kRate, true},
                                              {3 * kRate / 2, false},
                                              {5 * kRate, true},
                                              {5 * kRate / 2, false},
                                              {5 * kRate, true},
                                              {3 * kRate / 2, false},
                                              {5 * kRate, true},
                                              {5 * kRate / 2, false},
                                              {10 * kRate, true},
                                              {4 * kRate, false}});
    WriteWav(dir / "Side.wav", kStereo16, data);
    ASSERT_EQ(Split(Exact({dir / "Side.wav", "-o", dir / "Live.wav"})).nCode, 0);
    EXPECT_EQ(SongFiles(dir, "Live", ".wav").size(), 6u);  // the live rule cuts at all five

    Outcome run = Split(Exact({dir / "Side.wav", "--songs", "3"}));
    ASSERT_EQ(run.nCode, 0) << run.strErr;
    const auto songs = SongFiles(dir, "Side", ".wav");
    ASSERT_EQ(songs.size(), 3u);
    std::vector<char> joined;
    std::vector<size_t> sizes;
    for (const fs::path& song : songs) {
        const auto bytes = ReadSongData(song, kStereo16);
        sizes.push_back(bytes.size() / 4);
        joined.insert(joined.end(), bytes.begin(), bytes.end());
    }
    EXPECT_EQ(joined, data);
    EXPECT_EQ(sizes[0], size_t(23 * kRate / 2 + kCutInSilence));
    EXPECT_EQ(sizes[1], size_t(5 * kRate / 2 + 23 * kRate / 2));

    // More songs than gaps: the stretches found are listed, and the side is cut at them.
    run = Split(Exact({dir / "Side.wav", "--songs", "7", "-o", dir / "Many.wav"}));
    ASSERT_EQ(run.nCode, 0) << run.strErr;
    EXPECT_EQ(SongFiles(dir, "Many", ".wav").size(), 5u);
    EXPECT_NE(run.strErr.find("has 4 gaps for 7 songs"), std::string::npos) << run.strErr;
    EXPECT_NE(run.strErr.find("at 00:11.4, 2.50 s"), std::string::npos) << run.strErr;
}

TEST(SplitModes, OneSongIsExplained) {
    CTempDir dir;
    // Too short: half a second of silence between the songs.
    WriteWav(dir / "Short.wav", kStereo16,
             MakeSamples(kStereo16, {{5 * kRate, true}, {kRate / 2, false}, {5 * kRate, true}}));
    Outcome run = Split(Exact({dir / "Short.wav"}));
    ASSERT_EQ(run.nCode, 0) << run.strErr;
    EXPECT_NE(run.strErr.find("the longest stretch at or below Gap Level (-35.0 dB) after the "
                              "first 00:04.0 lasts 0.50 s (at 00:05.0); Gap Size is 1.00 s"),
              std::string::npos)
        << run.strErr;

    // Too loud: two seconds at -30 dB, above the gap level.
    auto loud = MakeSamples(kStereo16, {{12 * kRate, true}});
    for (long f = 5 * kRate; f < 7 * kRate; ++f) {
        PutSample(loud, f, 0, f % 2 ? 1037 : -1037);
        PutSample(loud, f, 1, 0);
    }
    WriteWav(dir / "Loud.wav", kStereo16, loud);
    run = Split(Exact({dir / "Loud.wav", "--list"}));
    ASSERT_EQ(run.nCode, 0) << run.strErr;
    EXPECT_NE(run.strErr.find("the quietest 1.00 s after the first 00:04.0 reaches -30.0 dB (at "
                              "00:05.0); Gap Level is -35.0 dB"),
              std::string::npos)
        << run.strErr;
}

TEST(SplitModes, ProbeFindsTheFloorAndItsLevelSplitsTheSide) {
    CTempDir dir;
    // Lead-in, four songs of 8 s with a 1.5 s passage at -40 dB in each, gaps of 2 s, a short
    // run-out; the floor is a -60 dB tone. Default DC Block and Smart Gap.
    const long song = 8 * kRate, gap = 2 * kRate;
    std::vector<Segment> plan = {{gap, false}};
    for (int k = 0; k < 4; ++k)
        plan.insert(plan.end(), {{song, true}, {k < 3 ? gap : kRate / 2, false}});
    auto data = MakeSamples(kStereo16, plan);
    long at = 0;
    uint32_t seed = 99;
    for (const Segment& s : plan) {
        for (long f = at; s.bLoud && f < at + s.nFrames; ++f) {
            for (int ch = 0; ch < 2; ++ch) {
                seed = seed * 1664525u + 1013904223u;
                PutSample(data, f, ch,
                          static_cast<int16_t>(static_cast<int>(seed >> 16) / 4 - 8192));
            }
        }
        if (!s.bLoud) Tone(data, at, s.nFrames, -60.0);
        if (s.bLoud) Tone(data, at + 3 * kRate, 3 * kRate / 2, -40.0);
        at += s.nFrames;
    }
    WriteWav(dir / "Side.wav", kStereo16, data);
    const Outcome probe = Split({dir / "Side.wav", "--probe", "--min-song", "4"});
    ASSERT_EQ(probe.nCode, 0) << probe.strErr;
    std::smatch m;
    ASSERT_TRUE(
        std::regex_search(probe.strOut, m, std::regex(R"(quietest stretches: (\S+) to (\S+) dB)")))
        << probe.strOut;
    EXPECT_NEAR(std::stod(m[1]), -60.0, 1.0);
    EXPECT_NEAR(std::stod(m[2]), -60.0, 1.0);
    ASSERT_TRUE(std::regex_search(probe.strOut, m, std::regex(R"(inside songs: (\S+) dB)")));
    EXPECT_NEAR(std::stod(m[1]), -40.0, 1.0);
    ASSERT_TRUE(std::regex_search(probe.strOut, m,
                                  std::regex(R"(vellisto-split --gap-level (\S+) --min-song 4 )")));
    EXPECT_FALSE(fs::exists(dir / "Side1.wav"));

    const Outcome split = Split({dir / "Side.wav", "--min-song", "4", "--gap-level", m[1]});
    ASSERT_EQ(split.nCode, 0) << split.strErr;
    const auto songs = SongFiles(dir, "Side", ".wav");
    ASSERT_EQ(songs.size(), 4u);
    // Each cut lies in its gap: one Gap Size in, Smart Gap's ring-out aside.
    long cut = 0;
    for (size_t k = 0; k + 1 < songs.size(); ++k) {
        cut += static_cast<long>(ReadSongData(songs[k], kStereo16).size() / 4);
        const long gapStart = gap + static_cast<long>(k + 1) * song + static_cast<long>(k) * gap;
        EXPECT_GT(cut, gapStart + kRate - 1) << k;
        EXPECT_LT(cut, gapStart + gap) << k;
    }
}

TEST(SplitModes, SeveralInputsEachAsIfAloneInTheirOrder) {
    CTempDir dir;
    WriteWav(dir / "A.wav", kStereo16,
             MakeSamples(kStereo16, {{5 * kRate, true}, {2 * kRate, false}, {5 * kRate, true}}));
    std::ofstream(dir / "Bad.wav") << "not audio";
    WriteWav(dir / "C.wav", kStereo16,
             MakeSamples(kStereo16, {{5 * kRate, true},
                                     {2 * kRate, false},
                                     {5 * kRate, true},
                                     {2 * kRate, false},
                                     {5 * kRate, true}}));
    std::map<std::string, std::string> files[2];
    for (int jobs : {1, 2}) {
        const std::string out = dir / ("j" + std::to_string(jobs));
        fs::create_directory(out);
        const Outcome run = Split(Exact({dir / "A.wav", dir / "Bad.wav", dir / "C.wav", "-o",
                                         out + "/", "-j", std::to_string(jobs)}));
        EXPECT_EQ(run.nCode, 1);
        EXPECT_NE(run.strErr.find("Bad.wav is not a WAV file"), std::string::npos);
        const auto lines = Lines(run.strOut);
        ASSERT_EQ(lines.size(), 8u) << run.strOut;
        EXPECT_EQ(lines[0].rfind(out + "/A1.wav  ", 0), 0u);
        EXPECT_EQ(lines[3].rfind(out + "/C1.wav  ", 0), 0u);
        EXPECT_EQ(lines[7], "3 inputs, 5 songs in all; 1 failed: " + (dir / "Bad.wav").string());
        for (const auto& e : fs::directory_iterator(out)) {
            files[jobs - 1][e.path().filename()] = Read(e.path());
        }
    }
    EXPECT_EQ(files[0].size(), 5u);
    EXPECT_EQ(files[0], files[1]);
    EXPECT_EQ(Split({dir / "A.wav", dir / "C.wav", "-o", dir / "x.wav"}).nCode, 2);
}

// Faults found by trying the splitter as a new user would; each test failed before its fix.
TEST(SplitFaults, AFileThisRunDidNotCreateIsNeverCleanedUp) {
    CTempDir dir;
    WriteWav(dir / "SideA.wav", kStereo16,
             MakeSamples(kStereo16, {{5 * kRate, true},
                                     {2 * kRate, false},
                                     {5 * kRate, true},
                                     {2 * kRate, false},
                                     {5 * kRate, true}}));
    fs::create_directory(dir / "SideA2.wav");  // the user's, at the next song's name
    const Outcome run = Split(Exact({dir / "SideA.wav", "--force"}));
    EXPECT_EQ(run.nCode, 1);
    EXPECT_TRUE(fs::is_directory(dir / "SideA2.wav"));
    EXPECT_TRUE(fs::exists(dir / "SideA1.wav"));
    // Said once, with the system's reason instead of a guess.
    const std::string said = "Cannot create output file " + (dir / "SideA2.wav").string() + ".";
    EXPECT_NE(run.strErr.find(said), std::string::npos) << run.strErr;
    EXPECT_EQ(run.strErr.find(said), run.strErr.rfind(said)) << run.strErr;
    EXPECT_NE(run.strErr.find("Is a directory"), std::string::npos) << run.strErr;
    EXPECT_EQ(run.strErr.find("Probably in use"), std::string::npos) << run.strErr;
}

TEST(SplitFaults, EveryValueTheHelpNamesIsAccepted) {
    CTempDir dir;
    WriteWav(dir / "In.wav", kStereo16, MakeSamples(kStereo16, {{2 * kRate, true}}));
    for (const auto& [option, value] :
         std::vector<std::pair<std::string, std::string>>{{"--gap-size", "0.01"},
                                                          {"--gap-size", "5"},
                                                          {"--min-song", "1"},
                                                          {"--min-song", "200"},
                                                          {"--end-gap", "1"},
                                                          {"--end-gap", "30"},
                                                          {"--gap-level", "-6"},
                                                          {"--gap-level", "-96"},
                                                          {"--gap-level", "-144"}}) {
        const Outcome run = Split({dir / "In.wav", "--force", option, value});
        EXPECT_EQ(run.nCode, 0) << option << " " << value << ": " << run.strErr;
    }
}

TEST(SplitFaults, AStreamedWavSplitsLikeItsSeekableCopy) {
    CTempDir dir;
    const auto data =
        MakeSamples(kStereo16, {{5 * kRate, true}, {2 * kRate, false}, {5 * kRate, true}});
    WriteWav(dir / "Side.wav", kStereo16, data);
    ASSERT_EQ(Split(Exact({dir / "Side.wav"})).nCode, 0);
    // The sizes streaming writers leave: 0xFFFFFFFF, and 0x7FFFF000 (with RIFF size to match).
    const std::string wav = Read(dir / "Side.wav");
    for (const uint32_t size : {0xFFFFFFFFu, 0x7FFFF000u}) {
        std::string streamed = wav;
        for (const size_t at : {size_t{4}, size_t{40}}) std::memcpy(&streamed[at], &size, 4);
        std::ofstream(dir / "Streamed.wav", std::ios::binary) << streamed;
        const std::string base = "S" + std::to_string(size & 0xF);
        const Outcome run = Split(Exact({dir / "Streamed.wav", "-o", dir / (base + ".wav")}));
        ASSERT_EQ(run.nCode, 0) << run.strErr;
        EXPECT_NE(run.strErr.find("a streaming writer's placeholder; it is read to the end"),
                  std::string::npos)
            << run.strErr;
        ASSERT_EQ(SongFiles(dir, base, ".wav").size(), 2u);
        for (int k = 1; k <= 2; ++k) {
            EXPECT_EQ(Read(dir / (base + std::to_string(k) + ".wav")),
                      Read(dir / ("Side" + std::to_string(k) + ".wav")));
        }
    }
    // From a pipe, and then the input named on standard input cannot name the song files.
    ASSERT_EQ(Shell("cat Streamed.wav | \"$S\" - -o P.wav --dc-block off --smart-gap off "
                    "--min-song 4",
                    dir),
              0)
        << Read(dir / "err.txt");
    EXPECT_EQ(Read(dir / "P1.wav"), Read(dir / "Side1.wav"));
    EXPECT_EQ(Read(dir / "P2.wav"), Read(dir / "Side2.wav"));
    EXPECT_EQ(Shell("\"$S\" /dev/stdin < Side.wav", dir), 1);
    EXPECT_NE(Read(dir / "err.txt").find("is not a regular file; name the song files with -o"),
              std::string::npos);
    EXPECT_FALSE(fs::exists("/dev/stdin1.wav"));
}

TEST(SplitFaults, TheConversionHintIsSafeToPaste) {
    CTempDir dir;
    const std::string name = "a';touch X;'.wav";
    std::vector<char> h = {'R', 'I', 'F', 'F'};
    PutLe<uint32_t>(h, 36 + 600);
    for (char c : std::string("WAVEfmt ")) h.push_back(c);
    for (uint32_t v : {16u, 0x00020001u, uint32_t(kRate), uint32_t(kRate * 6), 0x00180006u}) {
        PutLe<uint32_t>(h, v);  // 24-bit PCM stereo
    }
    for (char c : std::string("data")) h.push_back(c);
    PutLe<uint32_t>(h, 600);
    h.resize(h.size() + 600);
    std::ofstream(dir / name, std::ios::binary).write(h.data(), std::streamsize(h.size()));
    const Outcome run = Split({dir / name});
    EXPECT_EQ(run.nCode, 1);
    const size_t at = run.strErr.find("for example: sox ");
    ASSERT_NE(at, std::string::npos) << run.strErr;
    std::string command = run.strErr.substr(at + 13);
    command.pop_back();  // the line end
    std::ofstream(dir / "hint.sh") << "sox() { printf '%s\\n' \"$@\"; }\n" << command << "\n";
    ASSERT_EQ(Shell("sh hint.sh", dir), 0);
    const std::string stem = (dir / "a';touch X;'").string();
    EXPECT_EQ(Lines(Read(dir / "out.txt")),
              (std::vector<std::string>{(dir / name).string(), "-b", "16", "-e", "signed-integer",
                                        stem + "-16bit.wav"}));
    EXPECT_FALSE(fs::exists(dir / "X"));
    // No hint where the sample type is not the trouble.
    h.resize(h.size() - 608);
    std::ofstream(dir / "NoData.wav", std::ios::binary).write(h.data(), std::streamsize(h.size()));
    EXPECT_EQ(Split({dir / "NoData.wav"}).strErr.find("convert"), std::string::npos);
}

TEST(SplitFaults, AFifoInterruptedOnceExitsWith128PlusTheSignal) {
    CTempDir dir;
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    const std::string input = dir / "fifo", output = dir / "F.wav";
    const char* argv[] = {VELLISTO_SPLIT_PATH, input.c_str(), "-o", output.c_str(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(
        posix_spawn(&pid, VELLISTO_SPLIT_PATH, nullptr, nullptr, const_cast<char**>(argv), environ),
        0);
    // Until it waits in the FIFO's open for a writer that never comes.
    const std::string wchan = "/proc/" + std::to_string(pid) + "/wchan";
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (Read(wchan) != "wait_for_partner" && std::chrono::steady_clock::now() < limit) {
        std::this_thread::yield();
    }
    ASSERT_EQ(Read(wchan), "wait_for_partner");
    kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
}

TEST(SplitFaults, ASongGoingOnInTheNextFileIsSaid) {
    CTempDir dir;
    WriteWav(dir / "Long.wav", kStereo16, MakeSamples(kStereo16, {{5 * kRate, true}}));
    SplitOptions options;
    options.strInput = dir / "Long.wav";
    options.nMaxSongBytes = 100000;  // one 64 KiB block per file
    std::ostringstream out, err;
    CSplitter splitter(options, out, err);
    ASSERT_EQ(splitter.Run(), 0) << err.str();
    const auto lines = Lines(out.str());
    ASSERT_EQ(lines.size(), 4u) << out.str();  // 64 KiB, 64 KiB, the rest, the total
    EXPECT_EQ(lines[0].find("goes on"), std::string::npos);
    for (size_t k = 1; k < 3; ++k) {
        EXPECT_NE(lines[k].find("(goes on from the file before: a WAV file holds at most 4 GiB)"),
                  std::string::npos)
            << lines[k];
    }
}
