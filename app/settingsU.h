// The settings dialog TfrmSettings: the preferences, the program password, and their store.
#pragma once

#include <QDialog>
#include <QString>

#include <array>
#include <optional>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QLabel;

// Every stored setting once: the control, its property and its design state. The stored value's
// name is Control + "_" + Property; check boxes store "True"/"False", indexes decimal text.
struct TSettingDef
{
    const char* Control;
    const char* Property;
    const char* Default;
};
inline constexpr std::array<TSettingDef, 9> kSettingsTable = {{
    {"KeepDate", "Checked", "False"},
    {"MarkHidden", "Checked", "False"},
    {"EncDirs", "Checked", "False"},
    {"Verify", "Checked", "False"},
    {"ShowPasswords", "Checked", "False"},
    {"ClearPasswords", "Checked", "False"},
    {"AskForPassword", "Checked", "False"},
    {"cmbAlgorithm", "ItemIndex", "0"},
    {"rdSource", "ItemIndex", "1"},
}};
QString StoredValueName(const TSettingDef& def);
// Written beside the values; values are restored only while it is at least 0.
inline constexpr const char* kFormVersionName = "FormVersion";
inline constexpr const char* kFormVersion = "0";

// The main window's two remembered choices. LoadMainChoices overwrites each argument only with a
// stored value that can be read and is in range (cmbAlgorithm 0..12, rdSource 0..2), so callers
// pass the controls' current indexes in. SaveMainChoices writes both (and FormVersion); it throws
// std::runtime_error when the store cannot be written.
void LoadMainChoices(int& cmbAlgorithmIndex, int& rdSourceIndex);
void SaveMainChoices(int cmbAlgorithmIndex, int rdSourceIndex);

// Shown in both password boxes while a program password is stored.
inline constexpr const char* kPasswordPlaceholder = "<entered>";

class TfrmSettings final : public QDialog
{
    Q_OBJECT
public:
    explicit TfrmSettings(QWidget* parent = nullptr);

    // The preferences that other windows read directly.
    QCheckBox* KeepDate = nullptr;
    QCheckBox* MarkHidden = nullptr;
    QCheckBox* EncDirs = nullptr;
    // "Verify files before removing the source"; stored as Verify_Checked.
    QCheckBox* Verify = nullptr;
    QCheckBox* ShowPasswords = nullptr;
    QCheckBox* ClearPasswords = nullptr;
    QCheckBox* AskForPassword = nullptr;
    QTabWidget* PG = nullptr;
    QLabel* Label1 = nullptr;
    QLineEdit* edPass = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* edPass2 = nullptr;
    QPushButton* btnOK = nullptr;
    QPushButton* btnCancel = nullptr;

    // The stored program password value ("" when none).
    QString ReadStoredPassword();
    // Stores the password check of text (or removes it when !enabled; keeps it when text is the
    // placeholder and a check is stored).
    void SaveProgramPassword(const QString& text, bool enabled);
    // True when the typed text is the stored program password. An empty stored value matches nothing.
    bool ProgramPasswordMatches(const QString& text);
    // True when the stored value is in the older form (a cut MD5 of the password) and should be
    // rewritten after the next right answer.
    bool StoredPasswordIsOlderForm();

    // Loads the check boxes from the store (missing or unreadable values keep their state).
    void LoadSettings();
    // Throws std::runtime_error when the store cannot be written.
    void SaveSettings();

protected:
    void showEvent(QShowEvent* event) override;
    void reject() override;

private:
    void FormShow();
    void AskForPasswordClick();
    void btnOKClick();
    void btnCancelClick();
    bool FormCloseQuery();
    void FormClose();
    QCheckBox* CheckBoxOf(const TSettingDef& def) const;

    // Set while the closing is not an OK: then nothing is checked and the program password stays.
    bool m_cancel = true;
    std::array<bool, kSettingsTable.size()> m_rememberedChecks{};
    QString m_rememberedPass;
    QString m_rememberedPass2;
};
