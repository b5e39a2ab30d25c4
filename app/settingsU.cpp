// The settings dialog: its pages, check boxes, program password boxes and their storage.
#include "app/settingsU.h"

#include "app/Application.h"
#include "app/messageU.h"
#include "crypto/VXsecmem.h"
#include "encryption/Algorithms.h"
#include "encryption/FileFormat.h"
#include "encryption/PasswordBytes.h"
#include "platform/SettingsStore.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>
#include <span>
#include <string>

namespace
{
constexpr const char* kPasswordValueName = "1";
constexpr int kSourceActionCount = 3;

// MD5(password bytes): what the older form stored, and the key of every file with this password.
TDigest KeyDigestOf(const QString& text)
{
    QByteArray utf8 = text.toUtf8();
    const TSecureBuffer bytes =
        PasswordBytes(std::string_view(utf8.constData(), static_cast<std::size_t>(utf8.size())));
    SecureFill(std::as_writable_bytes(std::span(utf8.data(), static_cast<std::size_t>(utf8.size()))), 0);
    return Md5Of(std::span<const std::uint8_t>(bytes));
}

// MD5(MD5(password bytes)), the same check a file's header carries: it opens nothing by itself.
TDigest CheckOf(const QString& text)
{
    TDigest digest = KeyDigestOf(text);
    const TDigest check = Md5Of(digest);
    SecureFill(digest, 0xFF);
    return check;
}

bool IsCheckForm(const QString& stored)
{
    return stored.size() == 32 &&
           std::all_of(stored.begin(), stored.end(), [](QChar c) {
               const char16_t u = c.unicode();
               return (u >= '0' && u <= '9') || (u >= 'a' && u <= 'f') || (u >= 'A' && u <= 'F');
           });
}

// The older form was a string of 8-bit characters in the system code page; as text it may come back
// as Latin-1 (an INI file) or as Windows-1252 (the registry's conversion). Both map back to bytes.
std::optional<std::uint8_t> OlderFormByte(QChar c)
{
    static constexpr char16_t kHigh[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                           0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                           0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                           0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
    if (c.unicode() <= 0xFF) {
        return static_cast<std::uint8_t>(c.unicode());
    }
    for (std::size_t i = 0; i < std::size(kHigh); ++i) {
        if (kHigh[i] == c.unicode()) {
            return static_cast<std::uint8_t>(0x80 + i);
        }
    }
    return std::nullopt;
}

bool OlderFormMatches(const QString& stored, const QString& text)
{
    // An empty value carried no digest at all: it used to let in every password whose digest begins
    // with a zero byte.
    if (stored.isEmpty() || stored.size() > 16) {
        return false;
    }
    TDigest digest = KeyDigestOf(text);
    const auto zero = std::find(digest.begin(), digest.end(), 0);
    const auto cutLength = static_cast<qsizetype>(zero - digest.begin());
    bool equal = cutLength == stored.size();
    for (qsizetype i = 0; equal && i < cutLength; ++i) {
        const auto byte = OlderFormByte(stored[i]);
        equal = byte.has_value() && *byte == digest[static_cast<std::size_t>(i)];
    }
    SecureFill(digest, 0xFF);
    return equal;
}

std::optional<bool> ParseChecked(const QString& value)
{
    if (value.compare("True", Qt::CaseInsensitive) == 0) {
        return true;
    }
    if (value.compare("False", Qt::CaseInsensitive) == 0) {
        return false;
    }
    return std::nullopt;
}

std::optional<int> ParseIndex(const std::optional<QString>& value, int count)
{
    if (!value) {
        return std::nullopt;
    }
    bool ok = false;
    const int index = value->trimmed().toInt(&ok, 10);
    if (!ok || index < 0 || index >= count) {
        return std::nullopt;
    }
    return index;
}

// Values are restored only while the stored FormVersion, when there is one, is at least 0.
bool MayRestore(const TSettingsStore& store)
{
    const auto version = store.Value(kFormVersionName);
    if (!version) {
        return true;
    }
    bool ok = false;
    const int number = version->trimmed().toInt(&ok, 10);
    return !ok || number >= 0;
}

const TSettingDef& DefOf(const char* control)
{
    for (const TSettingDef& def : kSettingsTable) {
        if (std::string_view(def.Control) == control) {
            return def;
        }
    }
    throw std::logic_error(std::string("no stored setting for ") + control);
}

QLineEdit* PasswordBox(const char* name, QWidget* parent)
{
    auto* box = new QLineEdit(parent);
    box->setObjectName(name);
    box->setEchoMode(QLineEdit::Password);
    // The design shows "*" for each character, whatever the style's own mask character is.
    box->setStyleSheet("QLineEdit { lineedit-password-character: 42; }");
    return box;
}
} // namespace

QString StoredValueName(const TSettingDef& def)
{
    return QString::fromLatin1(def.Control) + "_" + QString::fromLatin1(def.Property);
}

void LoadMainChoices(int& cmbAlgorithmIndex, int& rdSourceIndex)
{
    const TSettingsStore store(TSettingsStore::TKind::Settings);
    if (!MayRestore(store)) {
        return;
    }
    if (const auto index = ParseIndex(store.Value(StoredValueName(DefOf("cmbAlgorithm"))), kAlgorithmCount)) {
        cmbAlgorithmIndex = *index;
    }
    if (const auto index = ParseIndex(store.Value(StoredValueName(DefOf("rdSource"))), kSourceActionCount)) {
        rdSourceIndex = *index;
    }
}

void SaveMainChoices(int cmbAlgorithmIndex, int rdSourceIndex)
{
    TSettingsStore store(TSettingsStore::TKind::Settings);
    store.SetValue(kFormVersionName, kFormVersion);
    store.SetValue(StoredValueName(DefOf("cmbAlgorithm")), QString::number(cmbAlgorithmIndex));
    store.SetValue(StoredValueName(DefOf("rdSource")), QString::number(rdSourceIndex));
    store.Save();
}

TfrmSettings::TfrmSettings(QWidget* parent) : QDialog(parent)
{
    setObjectName("frmSettings");
    setWindowTitle("       Settings");
    PG = new QTabWidget(this);
    PG->setObjectName("PG");
    PG->setAccessibleName("Settings pages");
    auto* tsMain = new QWidget(PG);
    tsMain->setObjectName("tsMain");
    auto* tsPasswords = new QWidget(PG);
    tsPasswords->setObjectName("tsPasswords");
    PG->addTab(tsMain, "Main");
    PG->addTab(tsPasswords, "Passwords");

    auto make = [](QCheckBox*& box, const char* name, const char* caption, QWidget* page) {
        box = new QCheckBox(caption, page);
        box->setObjectName(name);
        page->layout()->addWidget(box);
    };
    auto* mainLayout = new QVBoxLayout(tsMain);
    make(KeepDate, "KeepDate", "Keep date for encrypted files", tsMain);
    make(MarkHidden, "MarkHidden", "Mark encrypted files as hidden after encryption", tsMain);
    make(EncDirs, "EncDirs", "Enable encrypting entire directories", tsMain);
    make(Verify, "Verify", "Verify files before removing the source", tsMain);
    mainLayout->addStretch();

    auto* passwordsLayout = new QVBoxLayout(tsPasswords);
    make(ShowPasswords, "ShowPasswords", "Show passwords (don't use asterisks)", tsPasswords);
    make(ClearPasswords, "ClearPasswords", "Clear password box after operation", tsPasswords);
    make(AskForPassword, "AskForPassword", "Ask for program password", tsPasswords);
    auto* boxes = new QFormLayout();
    Label1 = new QLabel("Enter program password", tsPasswords);
    Label1->setObjectName("Label1");
    edPass = PasswordBox("edPass", tsPasswords);
    Label1->setBuddy(edPass);
    Label2 = new QLabel("Confirm  password", tsPasswords);
    Label2->setObjectName("Label2");
    edPass2 = PasswordBox("edPass2", tsPasswords);
    Label2->setBuddy(edPass2);
    boxes->addRow(Label1, edPass);
    boxes->addRow(Label2, edPass2);
    passwordsLayout->addLayout(boxes);
    passwordsLayout->addStretch();

    btnOK = new QPushButton("&OK", this);
    btnOK->setObjectName("btnOK");
    btnOK->setDefault(true);
    btnCancel = new QPushButton("&Cancel", this);
    btnCancel->setObjectName("btnCancel");
    auto* buttons = new QHBoxLayout();
    buttons->addStretch();
    buttons->addWidget(btnOK);
    buttons->addWidget(btnCancel);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(PG);
    layout->addLayout(buttons);

    for (const TSettingDef& def : kSettingsTable) {
        if (QCheckBox* box = CheckBoxOf(def)) {
            box->setChecked(ParseChecked(def.Default).value_or(false));
        }
    }

    connect(AskForPassword, &QCheckBox::toggled, this, &TfrmSettings::AskForPasswordClick);
    connect(btnOK, &QPushButton::clicked, this, &TfrmSettings::btnOKClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmSettings::btnCancelClick);
    connect(PG, &QTabWidget::currentChanged, this, [this] { update(); });

    LoadSettings();
    AskForPasswordClick();
}

QCheckBox* TfrmSettings::CheckBoxOf(const TSettingDef& def) const
{
    if (std::string_view(def.Property) != "Checked") {
        return nullptr;
    }
    return findChild<QCheckBox*>(def.Control);
}

void TfrmSettings::LoadSettings()
{
    const TSettingsStore store(TSettingsStore::TKind::Settings);
    if (!MayRestore(store)) {
        return;
    }
    for (const TSettingDef& def : kSettingsTable) {
        QCheckBox* box = CheckBoxOf(def);
        const auto value = store.Value(StoredValueName(def));
        if (box == nullptr || !value) {
            continue;
        }
        if (const auto checked = ParseChecked(*value)) {
            box->setChecked(*checked);
        }
    }
}

void TfrmSettings::SaveSettings()
{
    TSettingsStore store(TSettingsStore::TKind::Settings);
    store.SetValue(kFormVersionName, kFormVersion);
    for (const TSettingDef& def : kSettingsTable) {
        if (QCheckBox* box = CheckBoxOf(def)) {
            store.SetValue(StoredValueName(def), box->isChecked() ? "True" : "False");
        }
    }
    store.Save();
}

QString TfrmSettings::ReadStoredPassword()
{
    return TSettingsStore(TSettingsStore::TKind::ProgramPassword).Value(kPasswordValueName).value_or(QString());
}

void TfrmSettings::SaveProgramPassword(const QString& text, bool enabled)
{
    TSettingsStore store(TSettingsStore::TKind::ProgramPassword);
    if (!enabled) {
        store.SetValue(kPasswordValueName, "");
    } else if (text == kPasswordPlaceholder && !store.Value(kPasswordValueName).value_or(QString()).isEmpty()) {
        return;
    } else {
        const TDigest check = CheckOf(text);
        store.SetValue(kPasswordValueName,
                       QString::fromLatin1(QByteArray(reinterpret_cast<const char*>(check.data()),
                                                      static_cast<qsizetype>(check.size()))
                                               .toHex()));
    }
    store.Save();
}

bool TfrmSettings::ProgramPasswordMatches(const QString& text)
{
    const QString stored = ReadStoredPassword();
    if (IsCheckForm(stored)) {
        const QByteArray expected = QByteArray::fromHex(stored.toLatin1());
        const TDigest check = CheckOf(text);
        return std::equal(check.begin(), check.end(), expected.begin(), expected.end(),
                          [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); });
    }
    return OlderFormMatches(stored, text);
}

bool TfrmSettings::StoredPasswordIsOlderForm()
{
    const QString stored = ReadStoredPassword();
    return !stored.isEmpty() && !IsCheckForm(stored);
}

void TfrmSettings::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!event->spontaneous()) {
        LoadSettings();
        FormShow();
    }
}

void TfrmSettings::FormShow()
{
    PG->setCurrentIndex(0);
    // Without a stored password the boxes start empty: a placeholder left from an earlier showing
    // would otherwise be taken as "keep the stored password" when there is none to keep.
    const QString text = ReadStoredPassword().isEmpty() ? QString() : QString(kPasswordPlaceholder);
    edPass->setText(text);
    edPass2->setText(text);
    m_cancel = true;
    for (std::size_t i = 0; i < kSettingsTable.size(); ++i) {
        if (QCheckBox* box = CheckBoxOf(kSettingsTable[i])) {
            m_rememberedChecks[i] = box->isChecked();
        }
    }
    m_rememberedPass = edPass->text();
    m_rememberedPass2 = edPass2->text();
    AskForPasswordClick();
}

void TfrmSettings::AskForPasswordClick()
{
    const bool enabled = AskForPassword->isChecked();
    Label1->setEnabled(enabled);
    edPass->setEnabled(enabled);
    Label2->setEnabled(enabled);
    edPass2->setEnabled(enabled);
}

void TfrmSettings::btnOKClick()
{
    m_cancel = false;
    if (!FormCloseQuery()) {
        return;
    }
    FormClose();
    accept();
}

void TfrmSettings::btnCancelClick()
{
    m_cancel = true;
    for (std::size_t i = 0; i < kSettingsTable.size(); ++i) {
        if (QCheckBox* box = CheckBoxOf(kSettingsTable[i])) {
            box->setChecked(m_rememberedChecks[i]);
        }
    }
    edPass->setText(m_rememberedPass);
    edPass2->setText(m_rememberedPass2);
    FormClose();
    QDialog::reject();
}

// Escape and the window's close box both arrive here. The close box used to close without the
// checks and still store the boxes' text as the program password; now it is a Cancel.
void TfrmSettings::reject()
{
    btnCancelClick();
}

bool TfrmSettings::FormCloseQuery()
{
    if (!AskForPassword->isChecked() || m_cancel) {
        return true;
    }
    if (edPass->text().isEmpty()) {
        ShowMsg("The Password can't be blank!", kMsgInformation, kButtonsOk);
        edPass->setFocus();
        return false;
    }
    if (edPass->text() != edPass2->text()) {
        ShowMsg("The password and confirmation password do not match.", kMsgInformation, kButtonsOk);
        edPass->setFocus();
        return false;
    }
    return true;
}

void TfrmSettings::FormClose()
{
    // The dialog closes even when the store cannot be written: its choices stay in effect for this
    // run and the user learns why they will not outlive it.
    try {
        SaveSettings();
        if (!m_cancel) {
            SaveProgramPassword(edPass->text(), AskForPassword->isChecked());
        }
    } catch (const std::exception& error) {
        ShowErrorReport(QString::fromUtf8(error.what()));
    }
}
