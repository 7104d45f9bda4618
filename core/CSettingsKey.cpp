#include "core/CSettingsKey.h"

#include "core/FileSave.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryFile>

#include <cerrno>
#include <cstring>

#ifdef Q_OS_UNIX
#include <unistd.h>
#endif

namespace {
const char* const groupName = "settings";

QString systemText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// Whether the store file parses as settings. QSettings reports a format error only to the object
// that parsed the file; later ones share its parsed copy and report none. So a copy of the file is
// parsed afresh, once for each state of the file.
bool storeParses(const QString& path)
{
    static FileSave::Stamp checked;
    static bool parses = true;
    const FileSave::Stamp now = FileSave::stampOf(path);
    if (!now.exists)
        return true;
    if (now == checked)
        return parses;
    QFile file(path);
    QTemporaryFile copy;
    if (!file.open(QIODevice::ReadOnly) || !copy.open())
        return true; // decided by the caller's own checks
    copy.write(file.readAll());
    copy.close();
    parses = QSettings(copy.fileName(), QSettings::IniFormat).status() == QSettings::NoError;
    checked = now;
    return parses;
}

// Why file, or the folder it would be created in, cannot be written.
QString writeProblem(const QString& file)
{
#ifdef Q_OS_UNIX
    QString target = file;
    while (!QFileInfo::exists(target) && QFileInfo(target).absolutePath() != target)
        target = QFileInfo(target).absolutePath();
    if (::access(QFile::encodeName(target).constData(), W_OK) != 0)
        return systemText(errno);
#else
    Q_UNUSED(file);
#endif
    return QCoreApplication::translate("CSettingsKey", "The file could not be written.");
}

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
    m_error.clear();
    auto settings = openStore();
    const QFileInfo file(settings->fileName());
    if (file.isDir()) {
        m_error = systemText(EISDIR);
        return false;
    }
    if (file.exists() && (!file.isFile() || !file.isReadable())) {
        m_error = systemText(EACCES);
        return false;
    }
    if (settings->status() == QSettings::FormatError || !storeParses(settings->fileName())) {
        // Left as it is: whatever it holds is not ours to overwrite.
        m_error = QCoreApplication::translate("CSettingsKey", "It is not a settings file.");
        return false;
    }
    if (settings->status() != QSettings::NoError) {
        m_error = systemText(EACCES);
        return false;
    }
    if (access == Write && !settings->isWritable()) {
        m_error = writeProblem(settings->fileName());
        return false;
    }
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

bool CSettingsKey::close()
{
    if (!m_settings)
        return m_error.isEmpty();
    m_settings->endGroup();
    m_settings->sync();
    const bool written = m_settings->status() == QSettings::NoError;
    if (!written)
        m_error = writeProblem(m_settings->fileName());
    m_settings.reset();
    return written;
}

QString CSettingsKey::notStoredMessage() const
{
    return QCoreApplication::translate("CSettingsKey", "The settings cannot be stored in %1.\n%2")
        .arg(QDir::toNativeSeparators(storePath()), m_error);
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
