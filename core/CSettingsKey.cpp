#include "core/CSettingsKey.h"

#include <QFileInfo>
#include <QSettings>

namespace {
const char* const groupName = "settings";

std::unique_ptr<QSettings> openStore()
{
    return std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Vantrel"),
                                       QStringLiteral("kelmdesk"));
}
} // namespace

CSettingsKey::CSettingsKey() = default;

CSettingsKey::~CSettingsKey()
{
    close();
}

bool CSettingsKey::open(Access access)
{
    close();
    auto settings = openStore();
    if (settings->status() != QSettings::NoError)
        return false;
    const QFileInfo file(settings->fileName());
    if (file.exists() && (!file.isFile() || !file.isReadable()))
        return false;
    if (access == Write && !settings->isWritable())
        return false;
    settings->beginGroup(QLatin1String(groupName));
    m_settings = std::move(settings);
    m_access = access;
    return true;
}

std::optional<QString> CSettingsKey::read(const char* name) const
{
    if (!m_settings)
        return std::nullopt;
    const QVariant v = m_settings->value(QLatin1String(name));
    if (!v.isValid())
        return std::nullopt;
    QString text;
    if (v.typeId() == QMetaType::QStringList)
        text = v.toStringList().join(QLatin1Char(','));
    else if (v.canConvert<QString>())
        text = v.toString();
    else
        return std::nullopt;
    if (text.size() > MaxValueLength)
        return std::nullopt;
    return text;
}

bool CSettingsKey::write(const char* name, const QString& text)
{
    if (!m_settings || m_access != Write)
        return false;
    m_settings->setValue(QLatin1String(name), text);
    return true;
}

void CSettingsKey::close()
{
    if (!m_settings)
        return;
    m_settings->endGroup();
    m_settings->sync();
    m_settings.reset();
}

QString CSettingsKey::storePath()
{
    return openStore()->fileName();
}

std::optional<QString> readSetting(const char* name)
{
    CSettingsKey key;
    key.open(CSettingsKey::Read);
    return key.read(name);
}
