// The settings dialog: its pages, check boxes, program password boxes and their storage.
#include "app/settingsU.h"

#include "platform/SettingsStore.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

TfrmSettings::TfrmSettings(QWidget* parent) : QDialog(parent)
{
    setObjectName("frmSettings");
    setWindowTitle("       Settings");
    auto make = [this](QCheckBox*& box, const char* name, const char* caption) {
        box = new QCheckBox(caption, this);
        box->setObjectName(name);
    };
    make(KeepDate, "KeepDate", "Keep date for encrypted files");
    make(MarkHidden, "MarkHidden", "Mark encrypted files as hidden after encryption");
    make(EncDirs, "EncDirs", "Enable encrypting entire directories");
    make(Verify, "Verify", "Verify files before removing the source");
    make(ShowPasswords, "ShowPasswords", "Show passwords (don't use asterisks)");
    make(ClearPasswords, "ClearPasswords", "Clear password box after operation");
    make(AskForPassword, "AskForPassword", "Ask for program password");
    PG = new QTabWidget(this);
    PG->setObjectName("PG");
    Label1 = new QLabel("Enter program password", this);
    edPass = new QLineEdit(this);
    edPass->setObjectName("edPass");
    Label2 = new QLabel("Confirm  password", this);
    edPass2 = new QLineEdit(this);
    edPass2->setObjectName("edPass2");
    btnOK = new QPushButton("&OK", this);
    btnOK->setObjectName("btnOK");
    btnCancel = new QPushButton("&Cancel", this);
    btnCancel->setObjectName("btnCancel");
    LoadSettings();
}

QString TfrmSettings::ReadStoredPassword()
{
    return TSettingsStore(TSettingsStore::TKind::ProgramPassword).Value("1").value_or(QString());
}

void TfrmSettings::SaveProgramPassword(const QString& text, bool enabled)
{
    (void)text;
    (void)enabled;
}

bool TfrmSettings::ProgramPasswordMatches(const QString& text)
{
    (void)text;
    return false;
}

void TfrmSettings::LoadSettings() {}

void TfrmSettings::SaveSettings() {}
