// The persistent settings in a QSettings store: organisation "Zelk", application "Vellistro",
// that is the file Zelk/Vellistro.conf in the user's configuration folder ($XDG_CONFIG_HOME,
// or ~/.config). Strings are bytes and go through Latin-1 so every byte comes back unchanged.
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
    std::unique_ptr<QSettings> m_pSettings;
};
