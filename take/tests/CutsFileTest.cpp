// Label files and cue sheets to frame positions, rounded as each format means them, and the
// refusals with their line numbers; what the writers write reads back as written.
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

// Text as UTF-16 with its byte-order mark.
std::string Utf16(std::u16string_view text, bool little) {
    std::string out = little ? "\xFF\xFE" : "\xFE\xFF";
    for (char16_t c : text) {
        const char lo = static_cast<char>(c & 0xFF), hi = static_cast<char>(c >> 8);
        out += little ? lo : hi;
        out += little ? hi : lo;
    }
    return out;
}

// Titles a writer cannot hold as they are, and the one rule's answer.
const char* const kAwkwardTitles[] = {
    "Say \"hi\"",
    "Tab\there",
    "Two\r\nlines\nand\rone",
    "  spaced  ",
    "Caf\xC3\xA9 \xE2\x98\x95",
    "Caf\xE9 \x93x\x94",
    "\"",
    "\x7F\x01",
};

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
    EXPECT_EQ(cuts.files, std::vector<std::string>{"SideA.wav"});
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
        {"TRACK 01 AUDIO\nINDEX 01 00:00:00\nINDEX 01 00:01:00\n", 3, "a second INDEX 01"},
        {"FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nFILE \"b.wav\" WAVE\n", 1,
         "length of \"a.wav\" is unknown"},
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
    // A cue sheet's files are measured beside it; one that is not there cannot place the next.
    const std::string sheet =
        "FILE \"side.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\n"
        "FILE \"gone.wav\" WAVE\nFILE \"side.wav\" WAVE\n"
        "TRACK 02 AUDIO\nINDEX 01 00:00:00\n";
    WriteFile(dir / "side.cue", Bytes(sheet.begin(), sheet.end()));
    const CutsFile gone = ReadCutsFile((dir / "side.cue").string(), 11025);
    EXPECT_EQ(gone.ErrorText(),
              "4: the length of \"gone.wav\" is unknown, so the FILE after it cannot be placed");
}

TEST(SideFiles, OneTitleRuleForBothFormats) {
    struct Case {
        const char* szTitle;
        const char* szLabel;
        const char* szCue;
    };
    const Case cases[] = {
        {"Say \"hi\"", "Say \"hi\"", "Say 'hi'"},  // unquoted in a label file
        {"Tab\there", "Tab here", "Tab here"},
        {"Two\r\nlines", "Two  lines", "Two  lines"},
        {"  spaced\t", "spaced", "spaced"},                             // trimmed as read
        {"Caf\xE9 \x93x\x94", "Caf\xC3\xA9 \xE2\x80\x9Cx\xE2\x80\x9D",  // Windows-1252
         "Caf\xC3\xA9 \xE2\x80\x9Cx\xE2\x80\x9D"},
        {"\x7F", "", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SideTitle(c.szTitle, CutsFormat::Labels), c.szLabel) << c.szTitle;
        EXPECT_EQ(SideTitle(c.szTitle, CutsFormat::CueSheet), c.szCue) << c.szTitle;
    }
}

TEST(SideFiles, WrittenSheetsReadBackAsWritten) {
    for (const uint32_t rate : {8000u, 44100u, 192000u}) {
        SCOPED_TRACE(rate);
        // Songs at frames that fall between 75ths, one untitled (its file's name stands in).
        std::vector<SideSong> songs;
        uint64_t at = 0;
        for (const char* title : kAwkwardTitles) {
            const uint64_t length = rate * 7 + 1234 * songs.size() + 1;
            songs.push_back({at, at + length, title, "/x/Song " + std::to_string(at) + ".wav"});
            at += length;
        }
        songs.push_back({at, at + rate, "", "/x/Untitled \"one\".wav"});
        auto titled = [&songs](size_t k, CutsFormat format) {
            const std::string title = SideTitle(songs[k].strTitle, format);
            return !title.empty()         ? title
                   : k + 1 < songs.size() ? "Song " + std::to_string(songs[k].nStart)
                                          : SideTitle("Untitled \"one\"", format);
        };

        const CutsFile labels = ParseCuts(LabelFileText(songs, rate), rate);
        ASSERT_TRUE(labels.Ok()) << labels.ErrorText();
        ASSERT_EQ(labels.marks.size(), songs.size());
        for (size_t k = 0; k < songs.size(); ++k) {
            EXPECT_EQ(labels.marks[k].nStart, songs[k].nStart);
            EXPECT_EQ(labels.marks[k].nEnd, songs[k].nEnd);
            EXPECT_EQ(labels.marks[k].strTitle, titled(k, CutsFormat::Labels));
        }

        // One file: the tracks at their 75ths, which written again give the same sheet.
        const std::string album = "Side \"A\"\t1", artist = "Caf\xE9";
        const std::string sheet = CueSheetText(songs, {{"Side A.wav", 0}}, rate, album, artist);
        const CutsFile one = ParseCuts(sheet, rate);
        ASSERT_TRUE(one.Ok()) << one.ErrorText();
        EXPECT_EQ(one.files, std::vector<std::string>{"Side A.wav"});
        EXPECT_EQ(one.strAlbum, "Side 'A' 1");
        EXPECT_EQ(one.strArtist, "Caf\xC3\xA9");
        ASSERT_EQ(one.marks.size(), songs.size());
        std::vector<SideSong> again = songs;
        for (size_t k = 0; k < songs.size(); ++k) {
            EXPECT_EQ(one.marks[k].strTitle, titled(k, CutsFormat::CueSheet));
            again[k].nStart = one.marks[k].nStart;
            again[k].strTitle = one.marks[k].strTitle;
        }
        EXPECT_EQ(CueSheetText(again, {{"Side A.wav", 0}}, rate, one.strAlbum, one.strArtist),
                  sheet);

        // A file a song, and last a file of two songs that begins a second before its first: to
        // the frame where a track begins its file or a whole 75th after, else to the 75th.
        std::vector<SideFile> files;
        for (size_t k = 0; k + 2 < songs.size(); ++k) {
            files.push_back({"Song " + std::to_string(k) + ".wav", songs[k].nStart});
        }
        files.push_back({"Last two.wav", songs[songs.size() - 2].nStart - rate});
        const CutsFile many =
            ParseCuts(CueSheetText(songs, files, rate), rate, [&](const std::string& name) {
                for (size_t k = 0; k + 1 < files.size(); ++k) {
                    if (files[k].strName == name) return files[k + 1].nStart - files[k].nStart;
                }
                ADD_FAILURE() << name << " need not be measured";
                return uint64_t{0};
            });
        ASSERT_TRUE(many.Ok()) << many.ErrorText();
        ASSERT_EQ(many.files.size(), files.size());
        ASSERT_EQ(many.marks.size(), songs.size());
        for (size_t k = 0; k < songs.size(); ++k) {
            if (k + 1 < songs.size()) {
                EXPECT_EQ(many.marks[k].nStart, songs[k].nStart) << k;
            }
            EXPECT_NEAR(double(many.marks[k].nStart), double(songs[k].nStart), rate / 150.0);
            EXPECT_EQ(many.marks[k].strTitle, titled(k, CutsFormat::CueSheet));
        }
    }
}

TEST(SideFiles, SeveralFilesReadAsOneSideOrAreRefused) {
    const char* text =
        "FILE \"a.wav\" WAVE\nTRACK 01 AUDIO\nINDEX 01 00:00:00\nTRACK 02 AUDIO\n"
        "INDEX 01 00:01:00\nFILE \"b.wav\" WAVE\nTRACK 03 AUDIO\nINDEX 01 00:00:00\n";
    const auto length = [](uint64_t frames) {
        return [frames](const std::string& name) {
            return name == "a.wav" ? std::optional<uint64_t>(frames) : std::nullopt;
        };
    };
    const CutsFile cuts = ParseCuts(text, 1000, length(1500));
    ASSERT_TRUE(cuts.Ok()) << cuts.ErrorText();
    EXPECT_EQ(Starts(cuts), (std::vector<uint64_t>{0, 1000, 1500}));
    EXPECT_EQ(CueSheetFiles(text), (std::vector<std::string>{"a.wav", "b.wav"}));
    // A track in a.wav at or past its end; a.wav not measured.
    EXPECT_EQ(ParseCuts(text, 1000, length(1000)).nErrorLine, 4);
    const CutsFile unknown =
        ParseCuts(text, 1000, [](const std::string&) { return std::optional<uint64_t>(); });
    EXPECT_EQ(unknown.nErrorLine, 1);
    EXPECT_TRUE(unknown.marks.empty());
}

TEST(SideFiles, ReadsTextInTheEncodingsEditorsSave) {
    const std::string want = "Caf\xC3\xA9 \xE2\x80\x9Cx\xE2\x80\x9D";
    struct Case {
        const char* szName;
        std::string text;
    };
    const Case cases[] = {
        {"Windows-1252", "0\t1\tCaf\xE9 \x93x\x94\n"},
        {"UTF-8 with a byte-order mark",
         "\xEF\xBB\xBF"
         "0\t1\t" +
             want + "\n"},
        {"UTF-16, little end first",
         Utf16(u"TRACK 01 AUDIO\r\nTITLE \"Caf\u00e9 \u201cx\u201d\"\r\n"
               u"INDEX 01 00:00:00\r\n",
               true)},
        {"UTF-16, big end first", Utf16(u"0\t1\tCaf\u00e9 \u201cx\u201d\n", false)},
    };
    for (const Case& c : cases) {
        const CutsFile cuts = ParseCuts(c.text, 44100);
        ASSERT_TRUE(cuts.Ok()) << c.szName << ": " << cuts.ErrorText();
        ASSERT_EQ(cuts.marks.size(), 1u) << c.szName;
        EXPECT_EQ(cuts.marks[0].strTitle, want) << c.szName;
    }
    // Half a character, a lone surrogate and an odd byte: read, not refused for the text.
    const CutsFile broken = ParseCuts("0\t1\tA\xE2\x80\n", 44100);
    EXPECT_EQ(broken.marks.at(0).strTitle, "A\xC3\xA2\xE2\x82\xAC");
    const CutsFile lone = ParseCuts(Utf16(u"0\t1\t\xD800x", true) + "!", 44100);
    EXPECT_EQ(lone.marks.at(0).strTitle, "\xEF\xBF\xBDx\xEF\xBF\xBD");
}

}  // namespace
