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
    // Quiet passages inside songs last 1.5 s (longer than Gap Size), the gaps 2.5 s.
    const auto data = MakeSamples(kStereo16, {{5 * kRate, true},
                                              {3 * kRate / 2, false},
                                              {5 * kRate, true},
                                              {5 * kRate / 2, false},
                                              {5 * kRate, true},
                                              {3 * kRate / 2, false},
                                              {5 * kRate, true},
                                              {5 * kRate / 2, false},
                                              {10 * kRate, true}});
    WriteWav(dir / "Side.wav", kStereo16, data);
    ASSERT_EQ(Split(Exact({dir / "Side.wav", "-o", dir / "Live.wav"})).nCode, 0);
    EXPECT_EQ(SongFiles(dir, "Live", ".wav").size(), 5u);  // the live rule cuts at all four

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
    ASSERT_TRUE(
        std::regex_search(probe.strOut, m, std::regex(R"(vellisto-split --gap-level (\S+) )")));
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
