#include <gtest/gtest.h>

#include "take/SongNames.h"

namespace {

struct NamesRow {
    const char* szPattern;
    std::vector<std::string> titles;
    std::vector<int> sideStarts;
    char cFirstSide;
    NamesRefusal refusal;
    std::vector<std::string> names;  // when accepted
};

const NamesRow kNames[] = {
    {"{n:02} {title}.wav",
     {"Intro", "Song/Two", " .Dots. "},
     {},
     0,
     NamesRefusal::None,
     {"01 Intro.wav", "02 Song Two.wav", "03 Dots.wav"}},
    {"{n} - {title}.wav",
     {"a", "b", "c", "d"},
     {3},
     0,
     NamesRefusal::None,
     {"A1 - a.wav", "A2 - b.wav", "B1 - c.wav", "B2 - d.wav"}},
    {"{side}{n:02}.{{{track}}}.wav",
     {"", "", ""},
     {2, 3},
     0,
     NamesRefusal::None,
     {"AA01.{1}.wav", "BB01.{2}.wav", "CC01.{3}.wav"}},
    {"{artist} - {album} {track:03}.wav", {"x"}, {}, 0, NamesRefusal::None, {"Me - LP 001.wav"}},
    {"{title}.wav", {"Same", "same"}, {}, 0, NamesRefusal::Collide, {}},
    {"Side.wav", {"a", "b"}, {}, 0, NamesRefusal::Collide, {}},
    {"{title}", {"ok", ""}, {}, 0, NamesRefusal::Empty, {}},
    {"{title}", {".."}, {}, 0, NamesRefusal::Empty, {}},
    {"..", {"x"}, {}, 0, NamesRefusal::Dots, {}},
    {"{title}.wav", {""}, {}, 0, NamesRefusal::Hidden, {}},
    {"../{n}.wav", {"x"}, {}, 0, NamesRefusal::Slash, {}},
    {"{n}\t.wav", {"x"}, {}, 0, NamesRefusal::Control, {}},
    {"{n}{nope}.wav", {"x"}, {}, 0, NamesRefusal::UnknownField, {}},
    {"{title:02}.wav", {"x"}, {}, 0, NamesRefusal::UnknownField, {}},
    {"{n.wav", {"x"}, {}, 0, NamesRefusal::Unbalanced, {}},
    {"{n}}.wav", {"x"}, {}, 0, NamesRefusal::Unbalanced, {}},
    {"{n}{title}",
     {std::string(300, 'x')},
     {},
     0,
     NamesRefusal::None,
     {"1" + std::string(200, 'x')}},
    {"{n}{title}{title}", {std::string(200, 'x')}, {}, 0, NamesRefusal::TooLong, {}},
    {"{n}.wav", {"a", "b"}, {1}, 0, NamesRefusal::BadSides, {}},
    {"{n}.wav", {"a", "b"}, {3}, 0, NamesRefusal::BadSides, {}},
    // A take of one later side, alone or going on to the next.
    {"{n:02}.wav", {"a", "b"}, {}, 'B', NamesRefusal::None, {"B01.wav", "B02.wav"}},
    {"{side}{track}.wav",
     {"a", "b", "c"},
     {3},
     'C',
     NamesRefusal::None,
     {"C1.wav", "C2.wav", "D3.wav"}},
    {"{n}.wav", {"a", "b"}, {2}, 'Z', NamesRefusal::BadSides, {}},
};

TEST(SongNamesTest, BuildsNamesFromThePatternAndRefusesNamesThatCannotStandSideBySide) {
    for (const NamesRow& row : kNames) {
        SCOPED_TRACE(row.szPattern);
        const SongNames names = BuildSongNames(
            row.szPattern, row.titles, SongNumbering{row.sideStarts, row.cFirstSide}, {"LP", "Me"});
        EXPECT_EQ(names.refusal, row.refusal) << DescribeNamesRefusal(names);
        EXPECT_EQ(names.names, row.names);
        EXPECT_EQ(DescribeNamesRefusal(names).empty(), names.Ok());
    }
}

}  // namespace
