// Fakes and helpers shared by the settings tests: a sorting preset box, a prompter with
// scripted answers, and a scratch folder that becomes the working directory for the duration of
// a test.
#pragma once

#include <gmock/gmock.h>
#include <strings.h>

#include <algorithm>
#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "settings/PresetBox.h"
#include "settings/Presets.h"
#include "settings/Prompter.h"
#include "tests/support/TestFiles.h"

using testing::HasSubstr, testing::StartsWith;

// Sorted without regard to case, like the window's box; the exact-match search likewise.
class CFakePresetBox : public IPresetBox {
public:
    static bool Less(const std::string& a, const std::string& b) {
        return strcasecmp(a.c_str(), b.c_str()) < 0;
    }
    void ResetContent() override { m_entries.clear(), m_nSel = -1; }
    void AddString(const std::string& name) override {
        m_entries.insert(std::upper_bound(m_entries.begin(), m_entries.end(), name, Less), name);
        m_nSel = -1;
    }
    int SelectStringExact(const std::string& text) override {
        m_nSel = -1;
        for (size_t i = 0; i < m_entries.size() && m_nSel < 0; ++i) {
            if (strcasecmp(m_entries[i].c_str(), text.c_str()) == 0) m_nSel = static_cast<int>(i);
        }
        return m_nSel;
    }
    bool GetSelectedText(std::string& text) override {
        if (m_nSel >= 0) text = m_entries[static_cast<size_t>(m_nSel)];
        return m_nSel >= 0;
    }

    std::vector<std::string> m_entries;
    int m_nSel = -1;
};

struct ShownPrompt {
    std::string text;
    std::string title;
    PromptIcon icon;
    bool question;
};

class CScriptedPrompter : public IPrompter {
public:
    bool AskYesNo(const std::string& text, const std::string& title, PromptIcon icon) override {
        m_shown.push_back({text, title, icon, true});
        if (m_answers.empty()) return false;
        const bool answer = m_answers.front();
        m_answers.pop_front();
        return answer;
    }
    void ShowMessage(const std::string& text, const std::string& title, PromptIcon icon) override {
        m_shown.push_back({text, title, icon, false});
    }

    std::deque<bool> m_answers;  // answers to the questions, in order; No when exhausted
    std::vector<ShownPrompt> m_shown;
};

// A temporary folder that is the user's data folder ($XDG_DATA_HOME/Zelk/Vellistro, with
// XDG_DATA_HOME pointed at its root) and the working directory until the object goes.
class CScratchDir {
public:
    CScratchDir() {
        std::filesystem::create_directories(m_path);
        ::setenv("XDG_DATA_HOME", Root().c_str(), 1);
        std::filesystem::current_path(m_path);
    }
    ~CScratchDir() {
        std::error_code ec;
        std::filesystem::current_path(m_oldCwd, ec);
        ::unsetenv("XDG_DATA_HOME");
    }
    std::string File(const std::string& name) const { return m_path + "/" + name; }
    const std::string& Path() const { return m_path; }
    const std::string& Root() const { return m_root.Path(); }
    // A folder beside the data folder to start the program from; returns it.
    std::string EnterStartFolder() const {
        std::filesystem::create_directories(Root() + "/start");
        std::filesystem::current_path(Root() + "/start");
        return Root() + "/start";
    }

private:
    testsupport::CTempDir m_root;
    std::string m_path = m_root.Path() + "/Zelk/Vellistro";
    std::filesystem::path m_oldCwd = std::filesystem::current_path();
};

using Bytes = std::vector<uint8_t>;
inline Bytes ReadBytes(const std::string& path) {
    const testsupport::Bytes bytes = testsupport::ReadFile(path);
    return Bytes(bytes.begin(), bytes.end());
}
inline void WriteBytes(const std::string& path, const Bytes& bytes) {
    testsupport::WriteFile(path, testsupport::Bytes(bytes.begin(), bytes.end()));
}

// A record made from a seed; different seeds give different records.
inline RecSettings MakeSettings(int32_t seed) {
    return {-1000 - seed,
            -100 - seed,
            -4000 - seed,
            -1000 - seed,
            seed & 1,
            (seed >> 1) & 1,
            (seed & 4) ? 48000u : 44100u,
            uint16_t((seed & 8) ? 32 : 16),
            2,
            seed % 3 - 1};
}

inline std::vector<CPresets> MakePresets(int count, const std::string& prefix = "Preset ") {
    std::vector<CPresets> list;
    for (int i = 0; i < count; ++i) list.emplace_back(prefix + std::to_string(i), MakeSettings(i));
    return list;
}

// Building blocks of presets files: little-endian fields, the class definition, and a schema 1
// body (name and six numbers).
inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
inline Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }
inline Bytes I32(int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    return {uint8_t(u), uint8_t(u >> 8), uint8_t(u >> 16), uint8_t(u >> 24)};
}
inline Bytes ClassDefinition(uint8_t schema) {
    return Bytes{0xFF, 0xFF, schema, 0x00, 0x08, 0x00} + Text("CPresets");
}
inline Bytes OldBody(const std::string& name, std::initializer_list<int32_t> six) {
    Bytes b = Bytes{uint8_t(name.size())} + Text(name);
    for (int32_t v : six) b = b + I32(v);
    return b;
}
