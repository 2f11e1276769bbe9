// The persistent settings in a QSettings store: organisation "Zelk", application "Vellistro",
// that is the file Zelk/Vellistro.conf in the user's configuration folder ($XDG_CONFIG_HOME,
// or ~/.config). Strings are bytes. Those that are UTF-8 (names and paths, as a rule) are kept
// as plain UTF-8 text, readable and editable by hand; any other bytes as a QSettings byte array,
// so every byte comes back unchanged. The key Profile/Text says so. A profile without it is
// from an earlier version, which kept each byte as the Latin-1 character of that code: it is
// read that way, and rewritten in the present form the first time a string is written.
// Qt Core only.
// User-interface thread.
#pragma once

#include <memory>
#include <string>

#include "settings/PresetLocation.h"
#include "settings/ProfileStore.h"

class QSettings;

class CQSettingsProfileStore : public IProfileStore {
public:
    static constexpr const char* kOrganisation = kProfileOrganisation;
    static constexpr const char* kApplication = kProfileApplication;

    // The user's profile of the program.
    CQSettingsProfileStore();
    // An INI file at that path (tests).
    explicit CQSettingsProfileStore(const std::string& iniPath);
    ~CQSettingsProfileStore() override;

    int32_t GetProfileInt(const std::string& section, const std::string& key, int32_t def) override;
    std::string GetProfileString(const std::string& section, const std::string& key,
                                 const std::string& def) override;
    bool WriteProfileInt(const std::string& section, const std::string& key,
                         int32_t value) override;
    bool WriteProfileString(const std::string& section, const std::string& key,
                            const std::string& value) override;

    // Writes pending values to disk; false when the store could not be written.
    bool Sync();

private:
    // Every string of an earlier version's profile in the present form, and the marker.
    void ConvertEarlierStrings();

    std::unique_ptr<QSettings> m_pSettings;
    bool m_bUtf8 = false;  // the profile's strings are in the present form
};
