#include "settings/QSettingsProfileStore.h"

#include <QSettings>
#include <QString>
#include <QStringDecoder>
#include <algorithm>

namespace {

// "Section/Key": QSettings groups stand for the profile's sections.
QString KeyOf(const std::string& section, const std::string& key) {
    return QString::fromStdString(section) + QLatin1Char('/') + QString::fromStdString(key);
}

// The marker of the present form and its value.
const QString kTextKey = QStringLiteral("Profile/Text");
const QString kUtf8 = QStringLiteral("UTF-8");

bool IsUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);  // decoding happens on the conversion
    return !decoder.hasError();
}

QVariant Stored(const QByteArray& bytes) {
    if (IsUtf8(bytes)) return QString::fromUtf8(bytes);
    return bytes;
}

// A stored value's bytes. utf8: the profile is in the present form. An earlier version's
// string holds one byte per character; one with a character beyond Latin-1, or whose bytes
// would not be UTF-8 while its text is, was written by hand as text.
QByteArray BytesOf(const QVariant& value, bool utf8) {
    if (value.typeId() == QMetaType::QByteArray) return value.toByteArray();
    const QString text = value.toString();
    if (utf8) return text.toUtf8();
    const bool latin1 =
        std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() <= 0xFF; });
    if (latin1) {
        const QByteArray bytes = text.toLatin1();
        if (IsUtf8(bytes)) return bytes;
    }
    return text.toUtf8();
}

}  // namespace

CQSettingsProfileStore::CQSettingsProfileStore()
    : m_pSettings(std::make_unique<QSettings>(QString::fromLatin1(kOrganisation),
                                              QString::fromLatin1(kApplication))) {
    m_bUtf8 = m_pSettings->value(kTextKey).toString() == kUtf8;
}

CQSettingsProfileStore::CQSettingsProfileStore(const std::string& iniPath)
    : m_pSettings(
          std::make_unique<QSettings>(QString::fromStdString(iniPath), QSettings::IniFormat)) {
    m_bUtf8 = m_pSettings->value(kTextKey).toString() == kUtf8;
}

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
    const QByteArray bytes = BytesOf(v, m_bUtf8);
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

bool CQSettingsProfileStore::WriteProfileInt(const std::string& section, const std::string& key,
                                             int32_t value) {
    m_pSettings->setValue(KeyOf(section, key), static_cast<int>(value));
    return m_pSettings->status() == QSettings::NoError;
}

bool CQSettingsProfileStore::WriteProfileString(const std::string& section, const std::string& key,
                                                const std::string& value) {
    // One profile holds one form: an earlier version's strings beside this one's would be
    // misread.
    if (!m_bUtf8) ConvertEarlierStrings();
    m_pSettings->setValue(KeyOf(section, key),
                          Stored(QByteArray(value.data(), static_cast<qsizetype>(value.size()))));
    return m_pSettings->status() == QSettings::NoError;
}

void CQSettingsProfileStore::ConvertEarlierStrings() {
    for (const QString& key : m_pSettings->allKeys()) {
        const QVariant value = m_pSettings->value(key);
        // Numbers and plain ASCII are the same in both forms.
        if (value.typeId() == QMetaType::QString) {
            m_pSettings->setValue(key, Stored(BytesOf(value, false)));
        }
    }
    m_pSettings->setValue(kTextKey, kUtf8);
    m_bUtf8 = true;
}

bool CQSettingsProfileStore::Sync() {
    m_pSettings->sync();
    return m_pSettings->status() == QSettings::NoError;
}
