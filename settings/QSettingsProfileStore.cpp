#include "settings/QSettingsProfileStore.h"

#include <QSettings>
#include <QString>

namespace {

// "Section/Key": QSettings groups stand for the profile's sections.
QString KeyOf(const std::string& section, const std::string& key) {
    return QString::fromStdString(section) + QLatin1Char('/') + QString::fromStdString(key);
}

}  // namespace

CQSettingsProfileStore::CQSettingsProfileStore()
    : m_pSettings(std::make_unique<QSettings>(QString::fromLatin1(kOrganisation),
                                              QString::fromLatin1(kApplication))) {}

CQSettingsProfileStore::CQSettingsProfileStore(const std::string& iniPath)
    : m_pSettings(
          std::make_unique<QSettings>(QString::fromStdString(iniPath), QSettings::IniFormat)) {}

CQSettingsProfileStore::~CQSettingsProfileStore() { m_pSettings->sync(); }

int32_t CQSettingsProfileStore::GetProfileInt(const std::string& section, const std::string& key,
                                              int32_t def) {
    const QVariant v = m_pSettings->value(KeyOf(section, key));
    if (!v.isValid()) return def;
    // Read back from a file every value is a string; "-1" must stay -1, never 0 as an unsigned
    // conversion would give. A number stored unsigned (4294967295) is the same 32 bits.
    bool ok = false;
    const int n = v.toInt(&ok);
    if (ok) return n;
    const qlonglong wide = v.toLongLong(&ok);
    if (ok && wide >= 0 && wide <= 0xFFFFFFFFll) {
        return static_cast<int32_t>(static_cast<uint32_t>(wide));
    }
    return def;
}

std::string CQSettingsProfileStore::GetProfileString(const std::string& section,
                                                     const std::string& key,
                                                     const std::string& def) {
    const QVariant v = m_pSettings->value(KeyOf(section, key));
    if (!v.isValid()) return def;
    const QByteArray bytes = v.toString().toLatin1();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

bool CQSettingsProfileStore::WriteProfileInt(const std::string& section, const std::string& key,
                                             int32_t value) {
    m_pSettings->setValue(KeyOf(section, key), static_cast<int>(value));
    return m_pSettings->status() == QSettings::NoError;
}

bool CQSettingsProfileStore::WriteProfileString(const std::string& section, const std::string& key,
                                                const std::string& value) {
    // Latin-1 maps each byte to one character and back: paths and preset names come back
    // byte for byte, whatever their encoding.
    m_pSettings->setValue(KeyOf(section, key),
                          QString::fromLatin1(value.data(), static_cast<qsizetype>(value.size())));
    return m_pSettings->status() == QSettings::NoError;
}

bool CQSettingsProfileStore::Sync() {
    m_pSettings->sync();
    return m_pSettings->status() == QSettings::NoError;
}
