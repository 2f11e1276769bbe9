#include "settings/ProfileStore.h"

int32_t CMemoryProfileStore::GetProfileInt(const std::string& section, const std::string& key,
                                           int32_t def) {
    auto it = m_ints.find({section, key});
    return it == m_ints.end() ? def : it->second;
}

std::string CMemoryProfileStore::GetProfileString(const std::string& section,
                                                  const std::string& key, const std::string& def) {
    auto it = m_strings.find({section, key});
    return it == m_strings.end() ? def : it->second;
}

bool CMemoryProfileStore::WriteProfileInt(const std::string& section, const std::string& key,
                                          int32_t value) {
    m_ints[{section, key}] = value;
    m_writeLog.emplace_back(key, std::to_string(value));
    return true;
}

bool CMemoryProfileStore::WriteProfileString(const std::string& section, const std::string& key,
                                             const std::string& value) {
    m_strings[{section, key}] = value;
    m_writeLog.emplace_back(key, value);
    return true;
}
