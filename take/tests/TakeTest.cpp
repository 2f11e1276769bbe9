#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <random>
#include <thread>

#include "take/Take.h"
#include "take/TakeList.h"
#include "take/tests/TakeTestSupport.h"

using namespace taketest;
using namespace std::chrono_literals;

namespace {

const WavFormat kStereo16{16, 11025, 2};

struct OpeningRow {
    const char* szOpen;  // what is opened, in a folder prepared by setup
    void (*setup)(const CTempDir&);
    TakeRefusal refusal;
    const char* szConcerned;  // the file named in the refusal, or the side of the take
    size_t nFiles;
};

void ThreeSongs(const CTempDir& d) {
    WriteTake((d / "Side.wav").string(), kStereo16, {900, 700, 1100});
}

const OpeningRow kOpenings[] = {
    {"Side.wav", ThreeSongs, TakeRefusal::None, "Side.wav", 3},
    {"Side2.wav", ThreeSongs, TakeRefusal::None, "Side.wav", 3},
    // A side whose name merely ends in a digit.
    {"Take7.wav",
     [](const CTempDir& d) {
         WriteWav(d / "Take7.wav", kStereo16, MakeSamples(kStereo16, {{50, true}}));
     },
     TakeRefusal::None, "Take7.wav", 1},
    // The numbered files win over a base file of the same name.
    {"Side.wav",
     [](const CTempDir& d) {
         ThreeSongs(d);
         WriteWav(d / "Side.wav", kStereo16, MakeSamples(kStereo16, {{50, true}}));
     },
     TakeRefusal::None, "Side.wav", 3},
    {"Side.wav",
     [](const CTempDir& d) {
         ThreeSongs(d);
         fs::remove(d / "Side2.wav");
     },
     TakeRefusal::NumberMissing, "Side2.wav", 0},
    {"Side3.wav",
     [](const CTempDir& d) {
         ThreeSongs(d);
         fs::rename(d / "Side1.wav", d / "Side4.wav");
     },
     TakeRefusal::NumberMissing, "Side1.wav", 0},
    // Without a take list, a file of another format or older than the first song is an
    // earlier take's: the take ends before it.
    {"Side.wav",
     [](const CTempDir& d) {
         ThreeSongs(d);
         const WavFormat mono{16, 11025, 1};
         WriteWav(d / "Side2.wav", mono, MakeSamples(mono, {{50, true}}));
     },
     TakeRefusal::None, "Side.wav", 1},
    {"Side3.wav",
     [](const CTempDir& d) {
         ThreeSongs(d);
         const WavFormat other{16, 22050, 2};
         WriteWav(d / "Side3.wav", other, MakeSamples(other, {{50, true}}));
     },
     TakeRefusal::None, "Side.wav", 2},
    {"Side.wav",
     [](const CTempDir& d) {
         ThreeSongs(d);
         fs::last_write_time(d / "Side3.wav",
                             fs::last_write_time(d / "Side1.wav") - std::chrono::minutes(5));
     },
     TakeRefusal::None, "Side.wav", 2},
    {"Side.wav", [](const CTempDir&) {}, TakeRefusal::NotFound, "Side.wav", 0},
    {"Side.wav",
     [](const CTempDir& d) {
         ThreeSongs(d);
         WriteFile(d / "Side3.wav", Bytes{'n', 'o', 't', ' ', 'a', ' ', 'w', 'a', 'v', 'e'});
     },
     TakeRefusal::NotWav, "Side3.wav", 0},
    {"Pipe.wav", [](const CTempDir& d) { ASSERT_EQ(::mkfifo((d / "Pipe.wav").c_str(), 0600), 0); },
     TakeRefusal::Stream, "Pipe.wav", 0},
    {"Quiet.wav", [](const CTempDir& d) { WriteWav(d / "Quiet.wav", kStereo16, Bytes()); },
     TakeRefusal::Empty, "Quiet.wav", 0},
};

TEST(TakeTest, OpensTheTakeOfAnyOfItsNamesAndRefusesWhatIsNotOne) {
    for (const OpeningRow& row : kOpenings) {
        SCOPED_TRACE(row.szOpen);
        CTempDir dir;
        row.setup(dir);
        const TakeOpening o = OpenTake((dir / row.szOpen).string());
        EXPECT_EQ(o.refusal, row.refusal) << DescribeTakeRefusal(o);
        if (o.Ok()) {
            EXPECT_EQ(o.take.strSide, (dir / row.szConcerned).string());
            EXPECT_EQ(o.take.files.size(), row.nFiles);
            if (row.szConcerned == std::string("Side.wav")) {
                EXPECT_EQ(o.leftOut.size(), 3 - row.nFiles);
                EXPECT_EQ(DescribeLeftOut(o).empty(), row.nFiles == 3);
            }
        } else {
            EXPECT_EQ(o.strPath, (dir / row.szConcerned).string());
            EXPECT_FALSE(DescribeTakeRefusal(o).empty());
        }
    }
}

TEST(TakeTest, ATakeListGivesTheFilesOfTheLastRecordingWhileTheyMatchIt) {
    CTempDir dir;
    const std::string base = (dir / "Side.wav").string();
    // Three songs, then a recording of two over them, which left its list.
    ThreeSongs(dir);
    fs::last_write_time(dir / "Side3.wav", fs::last_write_time(dir / "Side3.wav") - 1h);
    WriteTake(base, kStereo16, {400, 500});
    ASSERT_TRUE(WriteTakeList(
        base, {{(dir / "Side1.wav").string(), 400}, {(dir / "Side2.wav").string(), 500}}));
    for (const char* opened : {"Side.wav", "Side3.wav"}) {
        const TakeOpening o = OpenTake((dir / opened).string());
        ASSERT_TRUE(o.Ok()) << DescribeTakeRefusal(o);
        EXPECT_EQ(o.take.nFrames, 900u);
        EXPECT_EQ(o.leftOut, std::vector<std::string>{(dir / "Side3.wav").string()});
        EXPECT_EQ(o.leftOutReason, LeftOutReason::NotListed);
        EXPECT_TRUE(o.strStaleList.empty());
        EXPECT_NE(DescribeLeftOut(o).find("Side3.wav"), std::string::npos) << DescribeLeftOut(o);
    }
    // A listed file changed since: the list is said to be stale, and the numbers rule ends the
    // take before the older third file all the same.
    WriteTake(base, kStereo16, {400, 600});
    const TakeOpening o = OpenTake(base);
    ASSERT_TRUE(o.Ok()) << DescribeTakeRefusal(o);
    EXPECT_EQ(o.take.nFrames, 1000u);
    EXPECT_EQ(o.strStaleList, TakeListPath(base));
    EXPECT_EQ(o.leftOutReason, LeftOutReason::Older);
    EXPECT_NE(DescribeLeftOut(o).find(TakeListPath(base)), std::string::npos);
}

TEST(TakeTest, AMalformedTakeListIsNoList) {
    const std::vector<TakeListEntry> entries{{"Side 1.wav", 0},
                                             {"Süd 2.wav", 18446744073709551615u}};
    std::vector<TakeListEntry> read;
    ASSERT_TRUE(ParseTakeList(TakeListText(entries), &read));
    EXPECT_EQ(read, entries);
    EXPECT_TRUE(TakeListText({{"a/b.wav", 1}}).empty());
    for (const char* text : {"", "vellisto take list 1\n", "vellisto take list 2\n1\tA.wav\n",
                             "vellisto take list 1\n1\tA.wav", "vellisto take list 1\n1\tA.wav\r\n",
                             "vellisto take list 1\n-1\tA.wav\n", "vellisto take list 1\n1\t\n",
                             "vellisto take list 1\n1 A.wav\n", "vellisto take list 1\n1\t..\n",
                             "vellisto take list 1\n18446744073709551616\tA.wav\n",
                             "vellisto take list 1\n1\tA.wav\n2\tA.wav\n"}) {
        EXPECT_FALSE(ParseTakeList(text, &read)) << text;
        EXPECT_TRUE(read.empty());
    }
}

TEST(TakeTest, ReadsFramesAcrossItsFilesAsOneSideFromSeveralThreads) {
    for (const WavFormat& format : {kStereo16, WavFormat{32, 8000, 1}}) {
        CTempDir dir;
        const Bytes side = WriteTake((dir / "Side.wav").string(), format, {301, 1, 577, 90});
        const TakeOpening o = OpenTake((dir / "Side3.wav").string());
        ASSERT_TRUE(o.Ok()) << DescribeTakeRefusal(o);
        EXPECT_EQ(o.take.cuts, (std::vector<uint64_t>{301, 302, 879}));
        EXPECT_EQ(o.take.nFrames, 969u);
        const CTakeReader reader(o.take);
        ASSERT_TRUE(reader.Ok());
        const size_t fb = size_t(format.FrameBytes());
        auto check = [&](unsigned seed, int* mismatches) {
            std::mt19937 random(seed);
            for (int k = 0; k < 300; ++k) {
                const uint64_t first = random() % 1000;
                const size_t count = random() % 700;
                Bytes got(count * fb);
                const size_t n = reader.ReadFrames(first, count, got.data());
                const size_t expected = first >= 969 ? 0 : std::min<size_t>(count, 969 - first);
                if (n != expected ||
                    !std::equal(got.begin(), got.begin() + long(n * fb),
                                side.begin() + long(std::min<uint64_t>(first, 969) * fb))) {
                    ++*mismatches;
                }
            }
        };
        int bad[3] = {};
        std::thread a(check, 1, &bad[0]), b(check, 2, &bad[1]);
        check(3, &bad[2]);
        a.join();
        b.join();
        EXPECT_EQ(bad[0] + bad[1] + bad[2], 0);
    }
}

}  // namespace
