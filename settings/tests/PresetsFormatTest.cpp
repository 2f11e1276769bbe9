// The presets file format byte for byte, and the reader's behaviour on damaged input.
#include <gtest/gtest.h>

#include "engine/SignalAnalyzer.h"
#include "settings/Archive.h"
#include "settings/PresetLocation.h"
#include "settings/PresetStore.h"
#include "settings/PresetsFile.h"
#include "settings/Windows1252.h"
#include "settings/tests/SettingsTestSupport.h"

namespace {

// The default record's 36 bytes in file order: bits before rate.
const Bytes kDefaultFields = I32(-1764) + I32(-582) + I32(-5293) + I32(-1236) + I32(1) + I32(1) +
                             Bytes{0x10, 0x00} + I32(44100) + Bytes{0x02, 0x00} + I32(-1);

std::vector<CPresets> Read(const Bytes& bytes, PresetLoadReport* report = nullptr) {
    std::vector<CPresets> out;
    ReadPresetsArchive(bytes.data(), bytes.size(), out, report);
    return out;
}

Bytes WriteString(const std::string& s) {
    Bytes b;
    CArchiveWriter ar([&](const uint8_t* d, size_t n) {
        b.insert(b.end(), d, d + n);
        return true;
    });
    ar.WriteString(s);
    ar.Flush();
    return b;
}

}  // namespace

TEST(PresetsFormat, ThreePresetsAreCountClassDefinitionAndTwoClassReferences) {
    const std::vector<CPresets> list = {CPresets("Album/Tape", {}), CPresets("B", {}),
                                        CPresets("C", {})};
    const Bytes expected = Bytes{0x03, 0x00} + ClassDefinition(11) + Bytes{10} +
                           Text("Album/Tape") + kDefaultFields + Bytes{0x01, 0x80, 1, 'B'} +
                           kDefaultFields + Bytes{0x01, 0x80, 1, 'C'} + kDefaultFields;
    EXPECT_EQ(WritePresetsArchive(list), expected);
    PresetLoadReport report;
    EXPECT_EQ(Read(expected, &report), list);
    EXPECT_FALSE(report.bDamaged);
}

TEST(PresetsFormat, EveryBitOfTheFieldsAndEveryByteOfTheNamesSurvives) {
    RecSettings s{INT32_MIN, 7, INT32_MAX, -5292, 0, -3, 0xFFFFFFFFu, 32, 0xFFFF, 5};
    std::string allBytes;
    for (int c = 1; c < 256; ++c) allBytes += static_cast<char>(c);
    const std::vector<CPresets> list = {CPresets(allBytes, s), CPresets("", {})};
    EXPECT_EQ(list[0].GetName().size(), 255u);
    EXPECT_EQ(Read(WritePresetsArchive(list)), list);

    // A count of 0xFFFF and more takes the 32-bit escape.
    const std::vector<CPresets> many = MakePresets(70000);
    const Bytes bytes = WritePresetsArchive(many);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 6), (Bytes{0xFF, 0xFF, 0x70, 0x11, 0x01, 0x00}));
    EXPECT_EQ(Read(bytes), many);
}

TEST(PresetsFormat, LongStringLengthPrefixes) {
    const std::pair<uint32_t, Bytes> cases[] = {
        {254, {0xFE}},
        {255, {0xFF, 0xFF, 0x00}},
        {0xFFFD, {0xFF, 0xFD, 0xFF}},
        {0xFFFE, {0xFF, 0xFF, 0xFF, 0xFE, 0xFF, 0x00, 0x00}},
        {0x10001, {0xFF, 0xFF, 0xFF, 0x01, 0x00, 0x01, 0x00}},
    };
    for (const auto& [length, prefix] : cases) {
        SCOPED_TRACE(length);
        const std::string text(length, '\xFF');
        const Bytes b = WriteString(text);
        ASSERT_EQ(b, prefix + Text(text));
        CArchiveReader reader(b.data(), b.size());
        std::string back;
        ASSERT_TRUE(reader.ReadString(back));
        EXPECT_EQ(back, text);
    }
    // Names are cut to 259 bytes, whoever wrote them.
    EXPECT_EQ(CPresets(std::string(300, 'n'), {}).GetName(), std::string(259, 'n'));
    const Bytes longName = Bytes{0x01, 0x00} + ClassDefinition(11) + Bytes{0xFF, 0x2C, 0x01} +
                           Text(std::string(300, 'n')) + kDefaultFields;
    EXPECT_EQ(Read(longName), (std::vector<CPresets>{CPresets(std::string(259, 'n'), {})}));
}

TEST(PresetsFormat, WideNamesAreConvertedToWindows1252) {
    // "Café €", U+4E2D (not in the code page), a surrogate pair (one character), U+0081.
    const uint16_t units[] = {'C', 'a', 'f', 0xE9, ' ', 0x20AC, 0x4E2D, 0xD83C, 0xDFB5, 0x0081};
    Bytes wide;
    for (uint16_t u : units) wide = wide + Bytes{uint8_t(u), uint8_t(u >> 8)};
    const Bytes file = Bytes{0x01, 0x00} + ClassDefinition(11) + Bytes{0xFF, 0xFE, 0xFF, 10} +
                       wide + kDefaultFields;
    PresetLoadReport report;
    EXPECT_EQ(Read(file, &report), (std::vector<CPresets>{CPresets("Caf\xE9 \x80??\x81", {})}));
    EXPECT_FALSE(report.bDamaged);
}

TEST(PresetsFormat, OldSchemaBodiesGetTheBetaMarkAndDefaults) {
    const Bytes file = Bytes{0x02, 0x00} + ClassDefinition(1) +
                       OldBody("Album/Tape", {-1764, -582, -5293, -1236, 1, 3}) +
                       Bytes{0x01, 0x80} + OldBody("Live", {-900, -300, -2000, -900, 0, -1});
    EXPECT_EQ(Read(file),
              (std::vector<CPresets>{
                  CPresets("Album/Tape [Beta]", {-1764, -582, -5293, -1236, 1, 0, 44100, 16, 2, 3}),
                  CPresets("Live [Beta]", {-900, -300, -2000, -900, 0, 0, 44100, 16, 2, -1})}));
    // The mark survives a name at the length limit.
    const Bytes longOld = Bytes{0x01, 0x00} + ClassDefinition(1) + Bytes{0xFF, 0x04, 0x01} +
                          Text(std::string(260, 'o')) + I32(1) + I32(2) + I32(3) + I32(4) + I32(5) +
                          I32(6);
    const auto cut = Read(longOld);
    ASSERT_EQ(cut.size(), 1u);
    EXPECT_EQ(cut[0].GetName(), std::string(252, 'o') + " [Beta]");
}

TEST(PresetsFormat, DamageKeepsThePresetsReadCompletely) {
    const std::vector<CPresets> list = MakePresets(3);
    const Bytes good = WritePresetsArchive(list);
    const long secondTag = 2 + 14 + 1 + 8 + 36;
    auto patched = [&](long at, Bytes with) {
        Bytes b = good;
        std::copy(with.begin(), with.end(), b.begin() + at);
        return b;
    };
    Bytes hugeName = good;
    hugeName.insert(hugeName.begin() + secondTag + 2, {0xFF, 0xFF, 0xFF, 0xF0, 0xFF, 0xFF, 0x7F});
    const struct {
        const char* what;
        Bytes bytes;
        size_t kept;
    } cases[] = {
        {"schema 12", patched(4, {12}), 0},
        {"class name", patched(9, {'p'}), 0},
        {"class name length", patched(6, {9}), 0},
        {"null object", patched(secondTag, {0, 0}), 1},
        {"back-reference", patched(secondTag, {2, 0}), 1},
        {"object index as class", patched(secondTag, {2, 0x80}), 1},
        {"count 0xFFFFFFFF",
         Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF} + Bytes(good.begin() + 2, good.end()), 3},
        {"name length 2 GiB", hugeName, 1},
        {"empty file", {}, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PresetLoadReport report;
        std::vector<CPresets> out;
        EXPECT_FALSE(ReadPresetsArchive(c.bytes.data(), c.bytes.size(), out, &report));
        EXPECT_TRUE(report.bDamaged);
        EXPECT_EQ(report.nRecovered, c.kept);
        EXPECT_EQ(out, std::vector<CPresets>(list.begin(), list.begin() + long(c.kept)));
    }
}

TEST(PresetsFormat, EveryTruncationYieldsTheWholePresetsBeforeIt) {
    const std::vector<CPresets> list = MakePresets(4);
    const Bytes good = WritePresetsArchive(list);
    const size_t firstEnd = 2 + 14 + 1 + 8 + 36, later = 2 + 1 + 8 + 36;
    for (size_t length = 0; length < good.size(); ++length) {
        SCOPED_TRACE(length);
        // A copy of exactly that size, so the sanitizer sees any read past its end.
        const Bytes cut(good.begin(), good.begin() + static_cast<long>(length));
        PresetLoadReport report;
        const auto out = Read(cut, &report);
        EXPECT_TRUE(report.bDamaged);
        const size_t whole = length < firstEnd ? 0 : 1 + (length - firstEnd) / later;
        EXPECT_EQ(out, std::vector<CPresets>(list.begin(), list.begin() + long(whole)));
    }
}

TEST(PresetNames, Windows1252BytesDecodeAndEncodeBackUnchanged) {
    for (int c = 0; c < 256; ++c) {
        const std::string byte(1, static_cast<char>(c));
        EXPECT_EQ(EncodeWindows1252(DecodeWindows1252(byte)), byte) << c;
    }
    // The euro sign and the en dash are the code page's 0x80 and 0x96, not control characters.
    EXPECT_EQ(DecodeWindows1252("\x80 \x96"), "\xE2\x82\xAC \xE2\x80\x93");
    EXPECT_EQ(DecodeWindows1252("Caf\xE9"), "Caf\xC3\xA9");
    // What the code page cannot hold, and broken UTF-8, become '?'.
    EXPECT_EQ(EncodeWindows1252("\xD0\x96 \xF0\x9F\x8E\xB5 \xC3 \xE2\x82"), "? ? ? ??");
    // Those characters can be named before anything is lost: each once, a typed '?' is none.
    EXPECT_EQ(Windows1252Unencodable("Jazz? \xE6\x97\xA5\xE6\x9C\xAC\xE6\x97\xA5 \xE2\x82\xAC"),
              "\xE6\x97\xA5\xE6\x9C\xAC");
    EXPECT_EQ(Windows1252Unencodable("\xF0\x9F\x8E\xB5 \xC3"), "\xF0\x9F\x8E\xB5\xEF\xBF\xBD");
    EXPECT_EQ(Windows1252Unencodable("Caf\xC3\xA9 \xE2\x80\x93 Best"), "");
}

TEST(PresetNames, StartingPresetsAreValid) {
    const std::vector<CPresets> presets = StartingPresets();
    ASSERT_EQ(presets.size(), 4u);
    EXPECT_EQ(presets[0], CPresets("Album/Tape", RecSettings{}));
    for (const CPresets& preset : presets) {
        CSignalAnalyzer analyser;
        RecSettings settings = preset.m_settings;
        ApplySettings(settings, analyser, [&](RecSetting, const char* text) {
            ADD_FAILURE() << preset.GetName() << ": " << text;
        });
        EXPECT_EQ(FindUnsupportedFormat(settings), std::nullopt) << preset.GetName();
        EXPECT_GE(preset.m_settings.nEndSize, preset.m_settings.nMinSongSize);
    }
}
