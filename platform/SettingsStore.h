// The per-user settings store: INI files under the user's configuration folder (the registry on Win32).
#pragma once

#include <QString>

#include <map>
#include <optional>

// One store of string values: the settings ("Settings") or the program password.
class TSettingsStore final
{
public:
    enum class TKind
    {
        Settings,
        ProgramPassword,
    };

    explicit TSettingsStore(TKind kind);

    // Empty when the value is missing or cannot be read.
    std::optional<QString> Value(const QString& name) const;
    // Sets values in memory; Save writes them.
    void SetValue(const QString& name, const QString& value);
    // Writes the whole store so that a crash leaves the old file or the new one, never half.
    void Save();

    // The folder that holds the files (created when missing).
    static QString Folder();

private:
    TKind m_kind;
    std::map<QString, QString> m_values;
};
