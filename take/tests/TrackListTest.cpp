// Pasted track lists in the forms people copy them in: the titles come out, the positions and
// times do not, and a title that merely looks like a position keeps its words.
#include <gtest/gtest.h>

#include "take/TrackList.h"

namespace {

using Titles = std::vector<std::string>;

TEST(TrackList, CommonFormsGiveTheTitles) {
    struct Case {
        const char* szName;
        const char* szText;
        Titles titles;
    };
    const Case cases[] = {
        {"plain", "First Song\n  Second Song  \n\nThird\n", {"First Song", "Second Song", "Third"}},
        {"sides",
         "A1 Morning\nA2. Noon\nB1 - Evening\nB2\tNight\n",
         {"Morning", "Noon", "Evening", "Night"}},
        {"numbers", "1. One\n2. Two\n10. Ten\n", {"One", "Two", "Ten"}},
        {"padded and dashed", "01 - One\n02 \xE2\x80\x93 Two\n03 Three\n", {"One", "Two", "Three"}},
        {"brackets", "1) One\n2) Two\n", {"One", "Two"}},
        {"times",
         "One 3:45\nTwo (3:45)\nThree [03:45]\nFour - 3:45\nFive \xE2\x80\x94 1:02:03\n",
         {"One", "Two", "Three", "Four", "Five"}},
        {"catalogue rows", "A1\tMorning\t3:45\nA2\tNoon\t12:01\n", {"Morning", "Noon"}},
        {"side headings", "Side A\nA1 Morning\nSide B:\nB1 Evening\n", {"Morning", "Evening"}},
        {"shop and sleeve headings",
         "Tracklist:\nSide One\nA-Side\nDisc 1\nCD1\nFace A\nSide A (18:30)\nTracklist\n"
         "1. Morning\nB side\nCD 2:\n2. Evening\n",
         {"Morning", "Evening"}},
        {"disc and track positions",
         "1-01 Morning\n1-02 Noon\n2-01 Evening 3:10\n",
         {"Morning", "Noon", "Evening"}},
        {"a title that is only a time", "12:00\n4:33\n", {"12:00", "4:33"}},
        {"plain numbers counting up", "1 One\n2 Two\n3 Three\n", {"One", "Two", "Three"}},
        {"CRLF and a byte-order mark",
         "\xEF\xBB\xBF"
         "1. One\r\n2. Two\r\n",
         {"One", "Two"}},
        // Titles that look like positions or times keep their words.
        {"number in a title", "99 Luftballons\nHeroes\n", {"99 Luftballons", "Heroes"}},
        {"numbers not counting", "7 Seconds\n19 Days\n", {"7 Seconds", "19 Days"}},
        {"title that is a number",
         "1. 1979\n2. 4:33\n3. 2 + 2 = 5\n",
         {"1979", "4:33", "2 + 2 = 5"}},
        {"time inside a word", "Take5:00\nAt 3:45 tonight\n", {"Take5:00", "At 3:45 tonight"}},
        {"words after a time", "Half 3:45 Past\n", {"Half 3:45 Past"}},
        {"year-like word", "1979\n", {"1979"}},
        {"dash in a title",
         "1. Artist - Title\n2. Other - Song (Live) 4:01\n",
         {"Artist - Title", "Other - Song (Live)"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ParseTrackList(c.szText), c.titles) << c.szName;
    }
}

TEST(TrackList, KeepsThePositionsAndTimesItTookOff) {
    const std::vector<TrackListEntry> entries =
        ParseTrackListEntries("A1. Morning (3:45)\nB12 Noon 1:02:03\nEvening\n");
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].strPosition, "A1");
    EXPECT_EQ(entries[0].nSeconds, 225);
    EXPECT_EQ(entries[1].strPosition, "B12");
    EXPECT_EQ(entries[1].nSeconds, 3723);
    EXPECT_EQ(entries[2].strPosition, "");
    EXPECT_EQ(entries[2].nSeconds, -1);
    EXPECT_TRUE(ParseTrackList(" \n\t\n").empty());
}

TEST(TrackList, ReadsTheEncodingsPeopleSaveIn) {
    const Titles want = {"Caf\xC3\xA9", "\xE2\x80\x9CQuoted\xE2\x80\x9D"};
    EXPECT_EQ(ParseTrackList("1. Caf\xE9\n2. \x93Quoted\x94\n"), want) << "Windows-1252";
    const std::string little(
        "\xFF\xFE"
        "C\0a\0f\0\xE9\0\n\0\x1C\x20Q\0u\0o\0t\0e\0d\0\x1D\x20",
        28);
    EXPECT_EQ(ParseTrackList(little), want) << "UTF-16";
    const std::string big("\xFE\xFF\0C\0a\0f\0\xE9\0\n\x20\x1C\0Q\0u\0o\0t\0e\0d\x20\x1D", 28);
    EXPECT_EQ(ParseTrackList(big), want) << "UTF-16, big end first";
}

}  // namespace
