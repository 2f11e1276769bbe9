// Label files and cue sheets to frame positions, rounded as each format means them, and the
// refusals with their line numbers.
#include <gtest/gtest.h>

#include "take/CutsFile.h"
#include "tests/support/TestFiles.h"

using namespace testsupport;

namespace {

std::vector<uint64_t> Starts(const CutsFile& cuts) {
    std::vector<uint64_t> starts;
    for (const CutMark& m : cuts.marks) starts.push_back(m.nStart);
    return starts;
}

TEST(CutsFile, LabelFileAsAnEditorExportsIt) {
    // Regions and point labels, a spectral label's frequency line, CRLF line ends, an empty
    // title, a title with spaces and a tab of its own.
    const char* text =
        "0.000000\t0.000000\tIntro\r\n"
        "220.981500\t441.499999\tSecond Song\r\n"
        "\\\t100.000000\t2000.000000\r\n"
        "441.5\t500\t\r\n"
        "\r\n"
        "600.000011\t600.000011\tLast\tpart two\r\n";
    const CutsFile cuts = ParseCuts(text, 44100);
    ASSERT_TRUE(cuts.Ok()) << cuts.ErrorText();
    EXPECT_EQ(cuts.format, CutsFormat::Labels);
    // 220.9815 s is 9745284.15 frames; 441.499999 s is 19470149.96; 441.5 s 19470150;
    // 600.000011 s is 26460000.49.
    EXPECT_EQ(Starts(cuts), (std::vector<uint64_t>{0, 9745284, 19470150, 26460000}));
    ASSERT_EQ(cuts.marks.size(), 4u);
    EXPECT_FALSE(cuts.marks[0].nEnd) << "a point label";
    EXPECT_EQ(cuts.marks[1].nEnd, std::optional<uint64_t>(19470150));
    EXPECT_EQ(cuts.marks[2].nEnd, std::optional<uint64_t>(22050000));
    EXPECT_EQ(cuts.marks[0].strTitle, "Intro");
    EXPECT_EQ(cuts.marks[1].strTitle, "Second Song");
    EXPECT_EQ(cuts.marks[2].strTitle, "");
    EXPECT_EQ(cuts.marks[3].strTitle, "Last\tpart two");
    EXPECT_EQ(cuts.marks[3].nLine, 6);
}

TEST(CutsFile, RoundsSecondsToTheNearestFrameExactly) {
    struct Case {
        const char* szSeconds;
        uint32_t nRate;
        uint64_t nFrame;
    };
    const Case cases[] = {
        {"1", 44100, 44100},
        {"0.5", 3, 2},               // 1.5 frames: half a frame goes up
        {"0.499999", 3, 1},          // just under
        {".25", 48000, 12000},       // no whole part
        {"3.", 8000, 24000},         // no fraction
        {"0.0000113378", 44100, 0},  // 0.49999 of a frame
        {"0.0000113379", 44100, 1},  // 0.50000 of a frame
        {"999999999.999999999", 4000000000u, 3999999999999999996ull},  // the largest accepted
        {"0.12345678912345678949", 1000000000, 123456789},  // digits past 10^-18 s dropped
    };
    for (const Case& c : cases) {
        const std::string line = std::string(c.szSeconds) + "\t" + c.szSeconds + "\tX\n";
        const CutsFile cuts = ParseCuts(line, c.nRate);
        ASSERT_TRUE(cuts.Ok()) << c.szSeconds << ": " << cuts.ErrorText();
        EXPECT_EQ(cuts.marks.at(0).nStart, c.nFrame) << c.szSeconds << " at " << c.nRate;
    }
}

TEST(CutsFile, CueSheetTracksAtIndexOne) {
    const char* text =
        "\xEF\xBB\xBFREM GENRE Folk\n"
        "PERFORMER \"The Quiet Ones\"\n"
        "TITLE \"Side by \"Side\"\"\n"
        "FILE \"SideA.wav\" WAVE\n"
        "  TRACK 01 AUDIO\n"
        "    TITLE \"First\"\n"
        "    INDEX 01 00:00:00\n"
        "  TRACK 02 AUDIO\n"
        "    TITLE Second Song\n"
        "    PERFORMER \"Guest\"\n"
        "    INDEX 00 03:38:00\n"
        "    INDEX 01 03:40:73\n"
        "  track 3 audio\n"
        "    flags DCP\n"
        "    index 01 61:00:74\n";
    const CutsFile cuts = ParseCuts(text, 48000);
    ASSERT_TRUE(cuts.Ok()) << cuts.ErrorText();
    EXPECT_EQ(cuts.format, CutsFormat::CueSheet);
    EXPECT_EQ(cuts.strArtist, "The Quiet Ones");
    EXPECT_EQ(cuts.strAlbum, "Side by \"Side\"");
    EXPECT_EQ(cuts.strFile, "SideA.wav");
    // 03:40:73 is 220 s and 73/75 s: 10560000 + 46720 frames at 48 kHz; 61:00:74 is 3660 s and
    // 74/75.
    EXPECT_EQ(Starts(cuts), (std::vector<uint64_t>{0, 10606720, 175727360}));
    EXPECT_EQ(cuts.marks[1].strTitle, "Second Song");
    EXPECT_EQ(cuts.marks[1].strPerformer, "Guest");
    EXPECT_EQ(cuts.marks[2].strTitle, "");
    EXPECT_FALSE(cuts.marks[1].nEnd);
    EXPECT_EQ(cuts.marks[1].nLine, 8);

    // At a rate that is not a multiple of 75 a cue frame falls between samples: the nearest.
    const CutsFile odd = ParseCuts("TRACK 01 AUDIO\nINDEX 01 00:00:01\n", 11025);
    ASSERT_TRUE(odd.Ok()) << odd.ErrorText();
    EXPECT_EQ(Starts(odd), (std::vector<uint64_t>{147}));  // 147.0
    const CutsFile odd2 = ParseCuts("TRACK 01 AUDIO\nINDEX 01 00:00:01\n", 22000);
    EXPECT_EQ(Starts(odd2), (std::vector<uint64_t>{293}));  // 293.33
    const CutsFile odd3 = ParseCuts("TRACK 01 AUDIO\nINDEX 01 00:00:02\n", 22000);
    EXPECT_EQ(Starts(odd3), (std::vector<uint64_t>{587}));  // 586.67
}

TEST(CutsFile, RefusesWithTheLineAndTheReason) {
    struct Case {
        const char* szText;
        int nLine;
        const char* szWords;
    };
    const Case cases[] = {
        {"1.0\t2.0\tA\n3,5\t4\tB\n", 2, "decimal point"},
        {"1.0\t2.0\tA\nno tabs here\n", 2, "separated by tabs"},
        {"-1.0\t2.0\tA\n", 1, "not a time in seconds"},
        {"1e3\t2.0\tA\n", 1, "not a time in seconds"},
        {"5.0\t4.0\tA\n", 1, "ends before it starts"},
        {"1.0\t1.0\tA\n2.0\t2.0\tB\n1.0\t3.0\tC\n", 3, "where the one on line 1"},
        {"TRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\nTITLE \"x\"\n", 3, "no INDEX 01"},
        {"TRACK 01 AUDIO\nINDEX 01 00:10:00\nTRACK 02 AUDIO\nINDEX 01 00:09:74\n", 4,
         "no later than the one on line 1"},
        {"TRACK 01 AUDIO\nINDEX 01 00:60:00\n", 2, "mm:ss:ff"},
        {"TRACK 01 AUDIO\nINDEX 01 00:00:75\n", 2, "mm:ss:ff"},
        {"TRACK 01 AUDIO\nINDEX 01 00:00:00\nINDEX 01 00:01:00\n", 3, "a second INDEX 01"},
        {"FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nFILE \"b.wav\" WAVE\n", 4,
         "the first is on line 1"},
        {"INDEX 01 00:00:00\n", 1, "INDEX before any TRACK"},
        {"TITLE \"x\"\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nBOGUS 1\n", 4, "not a cue sheet"},
        {"TITLE \"only\"\n", 0, "no TRACK"},
    };
    for (const Case& c : cases) {
        const CutsFile cuts = ParseCuts(c.szText, 44100);
        EXPECT_FALSE(cuts.Ok()) << c.szText;
        EXPECT_TRUE(cuts.marks.empty()) << "never half-used: " << c.szText;
        EXPECT_EQ(cuts.nErrorLine, c.nLine) << c.szText << cuts.ErrorText();
        EXPECT_NE(cuts.strError.find(c.szWords), std::string::npos) << cuts.ErrorText();
    }
}

TEST(CutsFile, ReadsAFileAndRefusesOneItCannotRead) {
    CTempDir dir;
    const std::string labels = (dir / "labels.txt").string();
    WriteFile(labels, Bytes{'1', '\t', '2', '\t', 'A', '\n'});
    const CutsFile cuts = ReadCutsFile(labels, 10);
    ASSERT_TRUE(cuts.Ok()) << cuts.ErrorText();
    EXPECT_EQ(Starts(cuts), (std::vector<uint64_t>{10}));

    const CutsFile missing = ReadCutsFile((dir / "missing.txt").string(), 10);
    EXPECT_EQ(missing.ErrorText(), "No such file or directory");
    // A WAV given by mistake is no label file.
    const std::string wav = (dir / "side.wav").string();
    WriteWav(wav, {}, MakeSamples({}, {{100, true}}));
    EXPECT_EQ(ReadCutsFile(wav, 44100).nErrorLine, 1);
}

}  // namespace
