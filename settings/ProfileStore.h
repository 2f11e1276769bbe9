// The per-user key-value store of the persistent settings: 32-bit signed numbers and byte
// strings under a section and a value name. CQSettingsProfileStore keeps them in the user's
// configuration folder; CMemoryProfileStore keeps them in memory for tests.
// User-interface thread.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

class IProfileStore {
public:
    virtual ~IProfileStore() = default;

    // The stored number, or def when the value is missing or not a number.
    virtual int32_t GetProfileInt(const std::string& section, const std::string& key,
                                  int32_t def) = 0;
    // The stored text, or def when the value is missing.
    virtual std::string GetProfileString(const std::string& section, const std::string& key,
                                         const std::string& def) = 0;
    virtual bool WriteProfileInt(const std::string& section, const std::string& key,
                                 int32_t value) = 0;
    virtual bool WriteProfileString(const std::string& section, const std::string& key,
                                    const std::string& value) = 0;
};

class CMemoryProfileStore : public IProfileStore {
public:
    int32_t GetProfileInt(const std::string& section, const std::string& key, int32_t def) override;
    std::string GetProfileString(const std::string& section, const std::string& key,
                                 const std::string& def) override;
    bool WriteProfileInt(const std::string& section, const std::string& key,
                         int32_t value) override;
    bool WriteProfileString(const std::string& section, const std::string& key,
                            const std::string& value) override;

    // Every value in the order written (tests check the order of SaveSettings).
    std::vector<std::pair<std::string, std::string>> m_writeLog;
    std::map<std::pair<std::string, std::string>, int32_t> m_ints;
    std::map<std::pair<std::string, std::string>, std::string> m_strings;
};
