// The settings store over QSettings: INI files on POSIX, the registry on Win32.
#include "platform/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>

#include <memory>
#include <stdexcept>

#ifndef _WIN32
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace
{
#ifdef _WIN32
std::unique_ptr<QSettings> Open(TSettingsStore::TKind kind)
{
    // The keys the program has always used, so an existing setup keeps its settings and password.
    const QString key = kind == TSettingsStore::TKind::Settings
                            ? QStringLiteral("HKEY_CURRENT_USER\\Software\\vellumox\\Settings")
                            : QStringLiteral("HKEY_CURRENT_USER\\Software\\Classes\\CLSID\\"
                                             "{5D444C5D-6C4E-43e2-8D18-4759B3BA776C}\\Version");
    return std::make_unique<QSettings>(key, QSettings::NativeFormat);
}
#else
std::unique_ptr<QSettings> Open(TSettingsStore::TKind kind)
{
    auto settings = std::make_unique<QSettings>(TSettingsStore::FilePath(kind), QSettings::IniFormat);
    settings->beginGroup(kind == TSettingsStore::TKind::Settings ? "Settings" : "Version");
    return settings;
}

[[noreturn]] void ThrowSystemError(const QString& path, int error)
{
    throw std::runtime_error("Cannot save the settings to " + QDir::toNativeSeparators(path).toStdString() + ": " +
                             std::strerror(error));
}

// QSettings replaces the file through a temporary copy that inherits the old file's mode, so a file
// that exists with 0600 before the first write never has a moment of wider access. The folder is
// ours alone as well.
void PrepareFile(const QString& path)
{
    const QString folder = TSettingsStore::Folder();
    if (!QDir().mkpath(folder)) {
        ThrowSystemError(folder, errno);
    }
    if (::chmod(QFile::encodeName(folder).constData(), 0700) != 0) {
        ThrowSystemError(folder, errno);
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        ThrowSystemError(path, errno);
    }
    const int chmodResult = ::fchmod(fd, 0600);
    const int chmodError = errno;
    ::close(fd);
    if (chmodResult != 0) {
        ThrowSystemError(path, chmodError);
    }
}
#endif
} // namespace

TSettingsStore::TSettingsStore(TKind kind) : m_kind(kind)
{
    const auto settings = Open(kind);
    for (const QString& key : settings->childKeys()) {
        const QVariant value = settings->value(key);
        // A hand-edited "a,b" reads as a list, "@Variant(...)" as some other type: neither is a value
        // that this program wrote, so it counts as missing.
        if (value.typeId() == QMetaType::QString) {
            m_values[key] = value.toString();
        }
    }
}

std::optional<QString> TSettingsStore::Value(const QString& name) const
{
    const auto found = m_values.find(name);
    if (found == m_values.end()) {
        return std::nullopt;
    }
    return found->second;
}

void TSettingsStore::SetValue(const QString& name, const QString& value)
{
    m_values[name] = value;
    m_changed.insert(name);
}

void TSettingsStore::Save()
{
#ifndef _WIN32
    PrepareFile(FilePath(m_kind));
#endif
    const auto settings = Open(m_kind);
    settings->setAtomicSyncRequired(true);
    for (const QString& name : m_changed) {
        settings->setValue(name, m_values[name]);
    }
    settings->sync();
    // A damaged file reads as FormatError but is still replaced by the values read and set.
    if (settings->status() == QSettings::AccessError) {
        throw std::runtime_error("Cannot save the settings to " +
                                 QDir::toNativeSeparators(FilePath(m_kind)).toStdString() + ".");
    }
    m_changed.clear();
}

QString TSettingsStore::Folder()
{
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/vellumox";
}

QString TSettingsStore::FilePath(TKind kind)
{
    return Folder() + (kind == TKind::Settings ? "/Settings.ini" : "/ProgramPassword.ini");
}
