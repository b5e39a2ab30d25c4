// The operation dialog: one instance for encryption and decryption, its states and its runs.
#include "encryption/passwordU.h"

#include "app/Forms.h"
#include "app/MessagePump.h"
#include "app/mainU.h"
#include "app/messageU.h"
#include "app/settingsU.h"
#include "crypto/VXsecmem.h"
#include "encryption/Algorithms.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QStyle>
#include <QTimeZone>
#include <QVBoxLayout>

#include <climits>
#include <exception>
#include <span>

namespace
{
// A little more often than the message pump lets the windows repaint, so each repaint shows a fresh
// value.
constexpr qint64 kBarIntervalMs = 10;

template <class T>
T* Make(QWidget* parent, const char* name)
{
    auto* widget = new T(parent);
    widget->setObjectName(name);
    return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, const QString& accessible = {})
{
    auto* label = Make<QLabel>(parent, name);
    label->setText(text);
    label->setAccessibleName(accessible.isEmpty() ? text : accessible);
    return label;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text, const QIcon& icon)
{
    auto* button = Make<QPushButton>(parent, name);
    button->setText(text);
    button->setIcon(icon);
    button->setAccessibleName(text);
    return button;
}

QString FromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

// A copy with a buffer of its own, so that wiping one never leaves the other's characters behind.
QString OwnCopy(const QString& text)
{
    return QString(text.constData(), text.size());
}

void ReportRunError(const QString& text)
{
    ShowMsg(text, kMsgError, kButtonsOk);
}
} // namespace

TBarRange ScaleBar(std::int64_t position, std::int64_t maximum)
{
    if (maximum <= 0) {
        return {0, 1};
    }
    if (position < 0) {
        position = 0;
    }
    if (position > maximum) {
        position = maximum;
    }
    const std::int64_t divisor = maximum / INT_MAX + 1;
    return {static_cast<int>(position / divisor), static_cast<int>(maximum / divisor)};
}

void WipeText(QString& text)
{
    if (!text.isEmpty()) {
        QChar* characters = text.data();
        SecureFill(std::as_writable_bytes(std::span(characters, static_cast<std::size_t>(text.size()))), 0);
    }
    text.clear();
}

TfrmPass::TfrmPass(QWidget* parent) : QDialog(parent)
{
    setObjectName("frmPass");
    setWindowTitle("    Vellumox");
    setModal(true);

    gb0 = Make<QGroupBox>(this, "gb0");
    gb0->setTitle("  Enter password");
    gb0->setAccessibleName("Enter password");
    Label1 = MakeLabel(gb0, "Label1", "Password");
    edPass1 = Make<QLineEdit>(gb0, "edPass1");
    edPass1->setAccessibleName("Password");
    Label1->setBuddy(edPass1);
    Label2 = MakeLabel(gb0, "Label2", "Confirm password");
    edPass2 = Make<QLineEdit>(gb0, "edPass2");
    edPass2->setAccessibleName("Confirm password");
    Label2->setBuddy(edPass2);
    auto* passwords = new QGridLayout(gb0);
    passwords->addWidget(Label1, 0, 0);
    passwords->addWidget(edPass1, 0, 1);
    passwords->addWidget(Label2, 1, 0);
    passwords->addWidget(edPass2, 1, 1);
    passwords->setColumnStretch(1, 1);

    gb = Make<QGroupBox>(this, "gb");
    gb->setTitle(" Encryption ");
    gb->setAccessibleName("Encryption");
    Label3 = MakeLabel(gb, "Label3", "Selected algorithm:");
    labAlg = MakeLabel(gb, "labAlg", "", "Selected algorithm");
    QFont bold = labAlg->font();
    bold.setBold(true);
    labAlg->setFont(bold);
    labProcessed = MakeLabel(gb, "labProcessed", "Processed 0 of 0 files", "Processed files");
    Label4 = MakeLabel(gb, "Label4", "Total files");
    pgTotal = Make<QProgressBar>(gb, "pgTotal");
    pgTotal->setAccessibleName("Total files");
    labCurrent = MakeLabel(gb, "labCurrent", "Current file");
    // A long file name is cut at the dialog's edge instead of widening the dialog during a run.
    labCurrent->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    pgCurrent = Make<QProgressBar>(gb, "pgCurrent");
    pgCurrent->setAccessibleName("Current file");
    auto* progress = new QGridLayout(gb);
    progress->addWidget(Label3, 0, 0);
    progress->addWidget(labAlg, 0, 1);
    progress->addWidget(labProcessed, 1, 0, 1, 2);
    progress->addWidget(Label4, 2, 0, 1, 2);
    progress->addWidget(pgTotal, 3, 0, 1, 2);
    progress->addWidget(labCurrent, 4, 0, 1, 2);
    progress->addWidget(pgCurrent, 5, 0, 1, 2);
    progress->setColumnStretch(1, 1);

    QStyle* look = style();
    btnEncrypt = MakeButton(this, "btnEncrypt", "Encrypt",
                            QIcon::fromTheme("document-encrypt", look->standardIcon(QStyle::SP_DialogApplyButton)));
    btnOk = MakeButton(this, "btnOk", "OK", look->standardIcon(QStyle::SP_DialogOkButton));
    btnOk->hide();
    btnCancel = MakeButton(this, "btnCancel", "Cancel", look->standardIcon(QStyle::SP_DialogCancelButton));
    btnStop = MakeButton(this, "btnStop", "Stop", look->standardIcon(QStyle::SP_MediaStop));
    // Enter must never stop a run by accident: Stop takes a click or the space bar.
    btnStop->setAutoDefault(false);
    btnStop->hide();
    // btnOk takes btnEncrypt's place and btnStop btnCancel's: a hidden button takes no room.
    auto* buttons = new QHBoxLayout();
    buttons->addStretch();
    buttons->addWidget(btnEncrypt);
    buttons->addWidget(btnOk);
    buttons->addWidget(btnCancel);
    buttons->addWidget(btnStop);
    buttons->addStretch();

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(gb0);
    layout->addWidget(gb);
    layout->addStretch();
    layout->addLayout(buttons);
    // The dialog follows its contents: hiding the confirmation row makes it shorter.
    layout->setSizeConstraint(QLayout::SetFixedSize);
    // One width for both modes and every file name.
    gb0->setMinimumWidth(360);
    gb->setMinimumWidth(360);

    connect(btnEncrypt, &QPushButton::clicked, this, &TfrmPass::btnEncryptClick);
    connect(btnOk, &QPushButton::clicked, this, &TfrmPass::btnOkClick);
    connect(btnCancel, &QPushButton::clicked, this, &TfrmPass::btnCancelClick);
    connect(btnStop, &QPushButton::clicked, this, &TfrmPass::btnStopClick);

    // One handler per cipher object, in the order of the algorithm indexes.
    using THandler = void (TfrmPass::*)(const void*, std::int64_t, std::int64_t);
    static constexpr THandler kHandlers[kAlgorithmCount] = {
        &TfrmPass::VX_blowfish1Progress, &TfrmPass::VX_twofish1Progress, &TfrmPass::VX_cast2561Progress,
        &TfrmPass::VX_ice1Progress,      &TfrmPass::VX_mars1Progress,    &TfrmPass::VX_misty11Progress,
        &TfrmPass::VX_rc21Progress,      &TfrmPass::VX_rc41Progress,     &TfrmPass::VX_rc61Progress,
        &TfrmPass::VX_rijndael1Progress, &TfrmPass::VX_tea1Progress,     &TfrmPass::VX_serpent1Progress,
        &TfrmPass::VX_3des1Progress,
    };
    for (int i = 0; i < kAlgorithmCount; ++i) {
        const THandler handler = kHandlers[i];
        m_run.Ciphers().Cipher(i).OnProgress = [this, handler](const void* sender, std::int64_t done,
                                                               std::int64_t total) {
            (this->*handler)(sender, done, total);
        };
    }
}

TfrmPass::~TfrmPass()
{
    WipeText(SavedPass1);
    WipeText(SavedPass2);
    edPass1->clear();
    edPass2->clear();
}

void TfrmPass::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    // A window shown again after it was minimised is not a new showing.
    if (!event->spontaneous()) {
        FormShow();
    }
}

void TfrmPass::SetPasswordEcho()
{
    const bool plain = frmSettings != nullptr && frmSettings->ShowPasswords->isChecked();
    for (QLineEdit* box : {edPass1, edPass2}) {
        box->setEchoMode(plain ? QLineEdit::Normal : QLineEdit::Password);
        // Hidden passwords show as asterisks, whatever the desktop's style would draw.
        box->setStyleSheet(plain ? QString() : QString("QLineEdit { lineedit-password-character: 42; }"));
    }
}

int TfrmPass::SelectedAlgorithm() const
{
    // The run needs a valid index: with nothing chosen in the main window, the list's first.
    const int index = frmMain != nullptr ? frmMain->cmbAlgorithm->currentIndex() : 0;
    return index >= 0 && index < kAlgorithmCount ? index : 0;
}

TSourceAction TfrmPass::SelectedSourceAction() const
{
    switch (frmMain != nullptr ? frmMain->rdSource->ItemIndex() : 0) {
    case 1:
        return TSourceAction::Delete;
    case 2:
        return TSourceAction::Shred;
    default:
        return TSourceAction::Leave;
    }
}

void TfrmPass::FormShow()
{
    SetPasswordEcho();
    btnEncrypt->setEnabled(true);
    labCurrent->setText("Current File:");
    if (DecryptMode) {
        setWindowTitle("    Decrypt Files");
        gb->setTitle(" Decryption ");
        gb->setAccessibleName("Decryption");
        btnEncrypt->setText("Decrypt");
        btnEncrypt->setAccessibleName("Decrypt");
        labAlg->setText("Auto");
        edPass2->hide();
        Label2->hide();
    } else {
        if (!SavedPass1.isEmpty() || !SavedPass2.isEmpty()) {
            edPass1->setText(OwnCopy(SavedPass1));
            edPass2->setText(OwnCopy(SavedPass2));
        }
        setWindowTitle("    Vellumox");
        gb->setTitle(" Encryption ");
        gb->setAccessibleName("Encryption");
        btnEncrypt->setText("Encrypt");
        btnEncrypt->setAccessibleName("Encrypt");
        labAlg->setText(FromUtf8(std::string(AlgorithmAt(SelectedAlgorithm()).Caption)));
        edPass2->show();
        Label2->show();
    }
    btnCancel->show();
    btnEncrypt->show();
    btnOk->hide();
    btnStop->hide();
    btnEncrypt->setDefault(true);
    btnOk->setDefault(false);
    pgTotal->setRange(0, 1);
    pgTotal->setValue(0);
    pgCurrent->setRange(0, 1);
    pgCurrent->setValue(0);
    labProcessed->setText(QString("Processed 0 of %1 files").arg(WorkList.size()));
    m_state = TState::Ready;
    // The mode's rows are in place before the first paint, so the dialog opens at its final size.
    gb0->layout()->invalidate();
    gb0->layout()->activate();
    gb0->updateGeometry();
    layout()->activate();
    edPass1->setFocus();
}

void TfrmPass::btnEncryptClick()
{
    if (m_state != TState::Ready) {
        return;
    }
    if (!DecryptMode) {
        if (edPass1->text().isEmpty()) {
            ShowMsg("The Password can't be blank!", kMsgInformation, kButtonsOk);
            edPass1->setFocus();
            return;
        }
        if (edPass1->text() != edPass2->text()) {
            ShowMsg("The password and confirmation password do not match.", kMsgInformation, kButtonsOk);
            edPass1->setFocus();
            return;
        }
    }
    if (DecryptMode) {
        RunDecryption();
    } else {
        RunEncryption();
    }
}

void TfrmPass::btnOkClick()
{
    accept();
}

void TfrmPass::btnCancelClick()
{
    close();
}

void TfrmPass::btnStopClick()
{
    if (m_state == TState::Running) {
        m_stopRequested = true;
        btnStop->setEnabled(false);
    }
}

bool TfrmPass::FormCloseQuery() const
{
    return !btnCancel->isHidden() || !btnOk->isHidden();
}

void TfrmPass::FormClose()
{
    btnOk->hide();
    btnEncrypt->show();
    if (frmSettings != nullptr && frmSettings->ClearPasswords->isChecked()) {
        edPass1->clear();
        edPass2->clear();
    }
    if (!DecryptMode) {
        WipeText(SavedPass1);
        WipeText(SavedPass2);
        if (!edPass1->text().isEmpty() || !edPass2->text().isEmpty()) {
            SavedPass1 = OwnCopy(edPass1->text());
            SavedPass2 = OwnCopy(edPass2->text());
        }
    }
}

// Every way of closing passes here (OK, Cancel, Escape, the frame's close button): none closes the
// dialog while a run goes on.
void TfrmPass::done(int result)
{
    if (!FormCloseQuery()) {
        return;
    }
    FormClose();
    QDialog::done(result);
}

void TfrmPass::RunEncryption()
{
    Run(false);
}

void TfrmPass::RunDecryption()
{
    Run(true);
}

void TfrmPass::EnterRunning()
{
    m_state = TState::Running;
    m_stopRequested = false;
    m_filesStarted = 0;
    btnEncrypt->setEnabled(false);
    btnCancel->hide();
    btnStop->setEnabled(true);
    btnStop->show();
    edPass1->setEnabled(false);
    edPass2->setEnabled(false);
}

void TfrmPass::EnterDone()
{
    if (m_state == TState::Done) {
        return;
    }
    m_state = TState::Done;
    edPass1->setEnabled(true);
    edPass2->setEnabled(true);
    btnEncrypt->setEnabled(true);
    btnEncrypt->hide();
    btnCancel->hide();
    btnStop->hide();
    btnEncrypt->setDefault(false);
    btnOk->setDefault(true);
    btnOk->show();
    btnOk->setFocus();
}

void TfrmPass::Run(bool decrypting)
{
    EnterRunning();
    TRunOptions options;
    options.AlgorithmIndex = SelectedAlgorithm();
    options.SourceAction = SelectedSourceAction();
    if (frmSettings != nullptr) {
        // "Keep date for encrypted files": the window's decryption leaves the dates alone.
        options.KeepDate = !decrypting && frmSettings->KeepDate->isChecked();
        options.MarkHidden = frmSettings->MarkHidden->isChecked();
        options.Verify = frmSettings->Verify->isChecked();
    }
    m_run.WorkList = WorkList;
    QByteArray password = edPass1->text().toUtf8();
    QString failure;
    try {
        const std::string_view typed(password.constData(), static_cast<std::size_t>(password.size()));
        if (decrypting) {
            m_run.RunDecryption(typed, options, *this);
        } else {
            m_run.RunEncryption(typed, options, *this);
        }
    } catch (const std::exception& e) {
        failure = QString::fromUtf8(e.what());
    } catch (...) {
        failure = "The run stopped on an unknown error.";
    }
    SecureFill(std::as_writable_bytes(std::span(password.data(), static_cast<std::size_t>(password.size()))), 0);
    EnterDone();
    if (!failure.isEmpty()) {
        ReportRunError(failure);
    }
}

void TfrmPass::ApplySourceAction(const std::string& path, const std::string& outputPath)
{
    ::ApplySourceAction(SelectedSourceAction(), path, outputPath);
}

QDateTime TfrmPass::FileTimeToDate(const TFileTime& fileTime)
{
    return QDateTime::fromMSecsSinceEpoch(fileTime.seconds * 1000 + fileTime.nanoseconds / 1000000, QTimeZone::utc());
}

void TfrmPass::CipherProgress(std::int64_t done)
{
    if (!m_barClock.isValid() || m_barClock.elapsed() >= kBarIntervalMs) {
        m_barClock.start();
        const TBarRange range = ScaleBar(done, m_currentMaximum);
        // A paint of the bar costs about a millisecond: only a change that shows (a pixel or a
        // percent) is worth one.
        const auto shown = [this, &range](std::int64_t scale) {
            return static_cast<int>(static_cast<std::int64_t>(range.Position) * scale / range.Maximum);
        };
        const int pixel = shown(pgCurrent->width());
        const int percent = shown(100);
        if (pixel != m_shownPixel || percent != m_shownPercent) {
            m_shownPixel = pixel;
            m_shownPercent = percent;
            // The bar would paint itself at once; its paint waits for the pump instead, with
            // every other pending one.
            pgCurrent->setUpdatesEnabled(false);
            pgCurrent->setValue(range.Position);
            pgCurrent->setUpdatesEnabled(true);
            pgCurrent->update();
        }
    }
    PumpThrottled();
}

void TfrmPass::VX_blowfish1Progress(const void*, std::int64_t mSize, std::int64_t)
{
    CipherProgress(mSize);
}
void TfrmPass::VX_twofish1Progress(const void*, std::int64_t mSize, std::int64_t)
{
    CipherProgress(mSize);
}
void TfrmPass::VX_cast2561Progress(const void*, std::int64_t mSize, std::int64_t)
{
    CipherProgress(mSize);
}
void TfrmPass::VX_ice1Progress(const void*, std::int64_t mSize, std::int64_t)
{
    CipherProgress(mSize);
}
void TfrmPass::VX_mars1Progress(const void*, std::int64_t mSize, std::int64_t)
{
    CipherProgress(mSize);
}
void TfrmPass::VX_misty11Progress(const void*, std::int64_t mSize, std::int64_t)
{
    CipherProgress(mSize);
}
void TfrmPass::VX_rc21Progress(const void*, std::int64_t mSize, std::int64_t)
{
    CipherProgress(mSize);
}
void TfrmPass::VX_rc41Progress(const void*, std::int64_t mSize, std::int64_t)
{
    CipherProgress(mSize);
}
void TfrmPass::VX_rc61Progress(const void*, std::int64_t mSize, std::int64_t)
{
    CipherProgress(mSize);
}
void TfrmPass::VX_rijndael1Progress(const void*, std::int64_t mSize, std::int64_t)
{
    CipherProgress(mSize);
}
void TfrmPass::VX_tea1Progress(const void*, std::int64_t mSize, std::int64_t)
{
    CipherProgress(mSize);
}
void TfrmPass::VX_serpent1Progress(const void*, std::int64_t mSize, std::int64_t)
{
    CipherProgress(mSize);
}
void TfrmPass::VX_3des1Progress(const void*, std::int64_t mSize, std::int64_t)
{
    CipherProgress(mSize);
}

void TfrmPass::CurrentLabel(const std::string& text)
{
    labCurrent->setText(FromUtf8(text));
}

void TfrmPass::ProcessedLabel(const std::string& text)
{
    labProcessed->setText(FromUtf8(text));
}

void TfrmPass::TotalBar(std::int64_t position, std::int64_t maximum)
{
    const TBarRange range = ScaleBar(position, maximum);
    pgTotal->setRange(0, range.Maximum);
    pgTotal->setValue(range.Position);
}

void TfrmPass::CurrentBar(std::int64_t position, std::int64_t maximum)
{
    m_currentMaximum = maximum;
    const TBarRange range = ScaleBar(position, maximum);
    if (pgCurrent->maximum() != range.Maximum) {
        pgCurrent->setRange(0, range.Maximum);
    }
    pgCurrent->setValue(range.Position);
    m_shownPixel = -1;
    m_shownPercent = -1;
}

void TfrmPass::LogLine(const std::string& text, int image)
{
    if (frmMain != nullptr) {
        frmMain->LVMessages->AddLine(FromUtf8(text), image);
    }
}

void TfrmPass::Refresh()
{
    if (frmMain != nullptr) {
        frmMain->bRefreshClick();
    }
}

void TfrmPass::FinalMessage(const std::string& text)
{
    // The dialog offers OK before the box points the user to the log.
    EnterDone();
    ShowMsg(FromUtf8(text), kMsgInformation, kButtonsOk);
}

void TfrmPass::PumpMessages()
{
    PumpThrottled();
}

void TfrmPass::FileSkipped(const std::string& path, const std::string& reason)
{
    // Files that were already in the wanted state are information, the rest warnings, as in the
    // summary lines.
    const auto& done = m_run.AlreadyDoneList;
    const int image = !done.empty() && done.back() == path ? 0 : 1;
    LogLine("  Skipped " + path + ": " + reason + ".", image);
}

void TfrmPass::FileNote(const std::string& path, const std::string& note)
{
    LogLine("  " + path + ": " + note, 1);
}

bool TfrmPass::StopAfterCurrentFile()
{
    // Asked once before each file, so the count of questions is the index of the next file.
    const std::size_t next = m_filesStarted++;
    if (!m_stopRequested) {
        return false;
    }
    if (next < m_run.WorkList.size()) {
        LogLine("  Stopped after " + std::to_string(next) + " of " + std::to_string(m_run.WorkList.size()) +
                    " files; the other files were not touched.",
                0);
    }
    m_stopRequested = false;
    return true;
}
