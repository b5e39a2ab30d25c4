// The settings store over QSettings files.
#include "platform/SettingsStore.h"

#include <QDir>
#include <QSettings>
#include <QStandardPaths>

namespace
{
QString FileOf(TSettingsStore::TKind kind)
{
    return TSettingsStore::Folder() +
           (kind == TSettingsStore::TKind::Settings ? "/Settings.ini" : "/ProgramPassword.ini");
}
} // namespace

TSettingsStore::TSettingsStore(TKind kind) : m_kind(kind)
{
    QSettings file(FileOf(kind), QSettings::IniFormat);
    file.beginGroup(kind == TKind::Settings ? "Settings" : "Version");
    for (const QString& key : file.childKeys()) {
        m_values[key] = file.value(key).toString();
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
}

void TSettingsStore::Save()
{
    QSettings file(FileOf(m_kind), QSettings::IniFormat);
    file.beginGroup(m_kind == TKind::Settings ? "Settings" : "Version");
    for (const auto& [key, value] : m_values) {
        file.setValue(key, value);
    }
}

QString TSettingsStore::Folder()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + "/vellumox";
    QDir().mkpath(folder);
    return folder;
}
