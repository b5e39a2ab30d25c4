// The per-user settings store: INI files under the user's configuration folder (the registry on Win32).
#pragma once

#include <QString>

#include <map>
#include <optional>
#include <set>

// One store of string values: the settings ("Settings") or the program password.
//
// POSIX: $XDG_CONFIG_HOME/vellumox/Settings.ini (group "Settings") and ProgramPassword.ini (group
// "Version", value "1"), mode 0600 in a 0700 folder, each save a complete new file renamed over the
// old one. Win32: the same values in the registry under HKEY_CURRENT_USER.
class TSettingsStore final
{
public:
    enum class TKind
    {
        Settings,
        ProgramPassword,
    };

    // Reads the stored values now; a missing or damaged file gives the values that could be read.
    explicit TSettingsStore(TKind kind);

    // Empty when the value is missing or is not plain text (a list or garbage from a hand edit).
    std::optional<QString> Value(const QString& name) const;
    // Sets a value in memory; Save writes it.
    void SetValue(const QString& name, const QString& value);
    // Writes the values set since construction over what is stored now, so two stores of the same
    // kind never undo each other's values. Throws std::runtime_error naming the file and the reason.
    void Save();

    // The folder that holds the files (POSIX).
    static QString Folder();
    static QString FilePath(TKind kind);

private:
    TKind m_kind;
    std::map<QString, QString> m_values;
    std::set<QString> m_changed;
};
