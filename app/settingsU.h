// The settings dialog TfrmSettings: the preferences, the program password, and their store.
#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QLabel;

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
    void SaveProgramPassword(const QString& text, bool enabled);
    // True when the typed text matches the stored program password.
    bool ProgramPasswordMatches(const QString& text);

    // Loads the check boxes from the store (missing or unreadable values keep their defaults).
    void LoadSettings();
    void SaveSettings();
};
