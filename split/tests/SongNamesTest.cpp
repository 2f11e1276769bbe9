#include <gtest/gtest.h>

#include "split/SongNames.h"

namespace {

struct NamesRow {
    const char* szPattern;
    std::vector<std::string> titles;
    std::vector<int> sideStarts;
    NamesRefusal refusal;
    std::vector<std::string> names;  // when accepted
};

const NamesRow kNames[] = {
    {"{n:02} {title}.wav",
     {"Intro", "Song/Two", " .Dots. "},
     {},
     NamesRefusal::None,
     {"01 Intro.wav", "02 Song Two.wav", "03 Dots.wav"}},
    {"{n} - {title}.wav",
     {"a", "b", "c", "d"},
     {3},
     NamesRefusal::None,
     {"A1 - a.wav", "A2 - b.wav", "B1 - c.wav", "B2 - d.wav"}},
    {"{side}{n:02}.{{{track}}}.wav",
     {"", "", ""},
     {2, 3},
     NamesRefusal::None,
     {"AA01.{1}.wav", "BB01.{2}.wav", "CC01.{3}.wav"}},
    {"{artist} - {album} {track:03}.wav", {"x"}, {}, NamesRefusal::None, {"Me - LP 001.wav"}},
    {"{title}.wav", {"Same", "same"}, {}, NamesRefusal::Collide, {}},
    {"Side.wav", {"a", "b"}, {}, NamesRefusal::Collide, {}},
    {"{title}", {"ok", ""}, {}, NamesRefusal::Empty, {}},
    {"{title}", {".."}, {}, NamesRefusal::Empty, {}},
    {"..", {"x"}, {}, NamesRefusal::Dots, {}},
    {"{title}.wav", {""}, {}, NamesRefusal::Hidden, {}},
    {"../{n}.wav", {"x"}, {}, NamesRefusal::Slash, {}},
    {"{n}\t.wav", {"x"}, {}, NamesRefusal::Control, {}},
    {"{n}{nope}.wav", {"x"}, {}, NamesRefusal::UnknownField, {}},
    {"{title:02}.wav", {"x"}, {}, NamesRefusal::UnknownField, {}},
    {"{n.wav", {"x"}, {}, NamesRefusal::Unbalanced, {}},
    {"{n}}.wav", {"x"}, {}, NamesRefusal::Unbalanced, {}},
    {"{n}{title}", {std::string(300, 'x')}, {}, NamesRefusal::None, {"1" + std::string(200, 'x')}},
    {"{n}{title}{title}", {std::string(200, 'x')}, {}, NamesRefusal::TooLong, {}},
    {"{n}.wav", {"a", "b"}, {1}, NamesRefusal::BadSides, {}},
    {"{n}.wav", {"a", "b"}, {3}, NamesRefusal::BadSides, {}},
};

TEST(SongNamesTest, BuildsNamesFromThePatternAndRefusesNamesThatCannotStandSideBySide) {
    for (const NamesRow& row : kNames) {
        SCOPED_TRACE(row.szPattern);
        const SongNames names =
            BuildSongNames(row.szPattern, row.titles, SongNumbering{row.sideStarts}, {"LP", "Me"});
        EXPECT_EQ(names.refusal, row.refusal) << DescribeNamesRefusal(names);
        EXPECT_EQ(names.names, row.names);
        EXPECT_EQ(DescribeNamesRefusal(names).empty(), names.Ok());
    }
}

}  // namespace
