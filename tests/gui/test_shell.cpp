// The shell: the message box, the settings dialog and its store, the program password and start-up,
// and the top-level error report.
#include "tests/gui/GuiTestSupport.h"

#include "app/Application.h"
#include "app/Forms.h"
#include "app/mainU.h"
#include "app/messageU.h"
#include "app/passU.h"
#include "app/settingsU.h"
#include "encryption/FileFormat.h"
#include "encryption/PasswordBytes.h"
#include "platform/SettingsStore.h"

#include <QCheckBox>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>

#include <stdexcept>
#include <sys/stat.h>

namespace
{
using ShellTest = TGuiTest;

QWidget* VisibleOrNull(QWidget* window)
{
    return window != nullptr && window->isVisible() ? window : nullptr;
}

// The image a picture label shows, for comparing pictures.
QImage ImageOf(const QLabel* label)
{
    return label->pixmap().toImage();
}

// An independent MD5 of the password's bytes.
QByteArray KeyDigest(const QString& password)
{
    const TSecureBuffer bytes = PasswordBytes(password.toStdString());
    return QCryptographicHash::hash(QByteArray(bytes.View().data(), static_cast<qsizetype>(bytes.size())),
                                    QCryptographicHash::Md5);
}

// Passwords "zN" whose MD5 digest begins with a zero byte: one in 256, so a short search finds some.
std::vector<QString> PasswordsWithZeroFirstByte(std::size_t count)
{
    std::vector<QString> found;
    for (int i = 0; found.size() < count && i < 100000; ++i) {
        const QString candidate = QString("z%1").arg(i);
        if (KeyDigest(candidate)[0] == '\0') {
            found.push_back(candidate);
        }
    }
    return found;
}

void StorePasswordValue(const QString& value)
{
    TSettingsStore store(TSettingsStore::TKind::ProgramPassword);
    store.SetValue("1", value);
    store.Save();
}

// The program password on, as the settings dialog leaves it after OK.
void TurnProgramPasswordOn(const QString& password)
{
    frmSettings->AskForPassword->setChecked(true);
    frmSettings->SaveSettings();
    frmSettings->SaveProgramPassword(password, true);
}

void RestartWindows()
{
    DestroyForms();
    CreateForms();
}

mode_t ModeOf(const QString& path)
{
    struct stat info{};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0) << path.toStdString();
    return info.st_mode & 07777;
}

QString FileText(const QString& path)
{
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    return QString::fromUtf8(file.readAll());
}

void WriteFile(const QString& path, const QByteArray& content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(content);
}

// Shows the message box for real and presses key on it (Enter, Escape) or closes it by its frame
// (key 0); the result ShowMsg gave.
int ShowAndAnswer(int kind, int buttons, int key)
{
    TModalDriver driver([] { return VisibleOrNull(frmMessage); },
                        [key](QWidget* box) {
                            if (key == 0) {
                                box->close();
                                return;
                            }
                            QWidget* focus = box->focusWidget() != nullptr ? box->focusWidget() : box;
                            QTest::keyClick(focus, static_cast<Qt::Key>(key));
                        });
    const int result = ShowMsg("Go on?", kind, buttons);
    EXPECT_TRUE(driver.WaitDone()) << "the message box never opened";
    return result;
}
} // namespace

TEST_F(ShellTest, MessageBoxCarriesTitleAndPictureOver)
{
    for (int i = 0; i < 6; ++i) {
        TfrmMessage::SetNextAnswer(kResultOk);
    }
    EXPECT_EQ(ImageOf(frmMessage->imagMain), ImageOf(frmMessage->ImgInfo));
    EXPECT_NE(ImageOf(frmMessage->ImgInfo), ImageOf(frmMessage->imgConfirm));

    ShowMsg("Sure?", kMsgConfirm, kButtonsYesCancel);
    EXPECT_EQ(frmMessage->windowTitle(), "    Confirm");
    ShowMsg("Careful.", kMsgWarning, kButtonsOk);
    EXPECT_EQ(frmMessage->windowTitle(), "    Warning");
    EXPECT_EQ(ImageOf(frmMessage->imagMain), ImageOf(frmMessage->imgConfirm));
    EXPECT_EQ(frmMessage->labMsg->text(), "Careful.");

    ShowMsg("Note.", kMsgInformation, kButtonsOk);
    EXPECT_EQ(frmMessage->windowTitle(), "    Information");
    EXPECT_EQ(ImageOf(frmMessage->imagMain), ImageOf(frmMessage->ImgInfo));
    ShowMsg("Broken.", kMsgError, kButtonsOk);
    EXPECT_EQ(frmMessage->windowTitle(), "    Error");
    EXPECT_EQ(ImageOf(frmMessage->imagMain), ImageOf(frmMessage->ImgInfo));

    // An unknown kind keeps the title and the picture.
    ShowMsg("Sure?", kMsgConfirm, kButtonsYesCancel);
    ShowMsg("Odd kind.", 7, kButtonsOk);
    EXPECT_EQ(frmMessage->windowTitle(), "    Confirm");
    EXPECT_EQ(ImageOf(frmMessage->imagMain), ImageOf(frmMessage->imgConfirm));
}

TEST_F(ShellTest, MessageBoxButtonSetsAndLayoutCarryOver)
{
    for (int i = 0; i < 4; ++i) {
        TfrmMessage::SetNextAnswer(kResultOk);
    }
    ShowMsg("Shred?", kMsgConfirm, kButtonsYesCancel);
    EXPECT_EQ(frmMessage->OKBtn->text(), "Yes");
    EXPECT_EQ(frmMessage->CancelBtn->text(), "Cancel");
    EXPECT_FALSE(frmMessage->CancelBtn->isHidden());

    ShowMsg("Done.", kMsgInformation, kButtonsOk);
    EXPECT_EQ(frmMessage->OKBtn->text(), "OK");
    EXPECT_TRUE(frmMessage->CancelBtn->isHidden());
    EXPECT_FALSE(frmMessage->OKBtn->isHidden());

    ShowMsg("Go?", kMsgConfirm, kButtonsOkCancel);
    EXPECT_EQ(frmMessage->OKBtn->text(), "OK");
    EXPECT_FALSE(frmMessage->CancelBtn->isHidden());

    // Any other set keeps the previous call's buttons.
    ShowMsg("Shred?", kMsgConfirm, kButtonsYesCancel);
    TfrmMessage::SetNextAnswer(kResultOk);
    ShowMsg("Other set.", kMsgWarning, 5);
    EXPECT_EQ(frmMessage->OKBtn->text(), "Yes");
    EXPECT_FALSE(frmMessage->CancelBtn->isHidden());
}

TEST_F(ShellTest, MessageBoxKeysAndResultsWhenShown)
{
    EXPECT_EQ(ShowAndAnswer(kMsgConfirm, kButtonsYesCancel, Qt::Key_Return), kResultOk);
    EXPECT_EQ(ShowAndAnswer(kMsgConfirm, kButtonsYesCancel, Qt::Key_Escape), kResultCancel);
    EXPECT_EQ(ShowAndAnswer(kMsgConfirm, kButtonsOkCancel, 0), kResultCancel);
    EXPECT_EQ(ShowAndAnswer(kMsgInformation, kButtonsOk, Qt::Key_Return), kResultOk);
    EXPECT_EQ(ShowAndAnswer(kMsgInformation, kButtonsOk, Qt::Key_Escape), kResultCancel);

    // One button sits in the middle; two sit side by side around the middle.
    auto centreOffset = [](const QWidget* first, const QWidget* last) {
        const int middle = (first->geometry().left() + last->geometry().right()) / 2;
        return std::abs(middle - frmMessage->width() / 2);
    };
    bool checked = false;
    TModalDriver one([] { return VisibleOrNull(frmMessage); },
                     [&](QWidget* box) {
                         EXPECT_LE(centreOffset(frmMessage->OKBtn, frmMessage->OKBtn), 2);
                         EXPECT_FALSE(frmMessage->CancelBtn->isVisible());
                         checked = true;
                         QTest::mouseClick(frmMessage->OKBtn, Qt::LeftButton);
                         (void)box;
                     });
    EXPECT_EQ(ShowMsg("Centred.", kMsgInformation, kButtonsOk), kResultOk);
    ASSERT_TRUE(one.WaitDone());
    EXPECT_TRUE(checked);
    TModalDriver two([] { return VisibleOrNull(frmMessage); },
                     [&](QWidget*) {
                         EXPECT_LT(frmMessage->OKBtn->geometry().right(), frmMessage->CancelBtn->geometry().left());
                         EXPECT_LE(centreOffset(frmMessage->OKBtn, frmMessage->CancelBtn), 2);
                         QTest::mouseClick(frmMessage->CancelBtn, Qt::LeftButton);
                     });
    EXPECT_EQ(ShowMsg("Pair.", kMsgConfirm, kButtonsYesCancel), kResultCancel);
    ASSERT_TRUE(two.WaitDone());
}

TEST_F(ShellTest, MessageLogAppendsLinesWithTheirImages)
{
    TMessageLog* log = frmMain->LVMessages;
    EXPECT_EQ(log->headerItem()->text(0), "Message");
    EXPECT_EQ(log->columnCount(), 1);
    log->AddLine("  2 file(s) skiped because file(s) in use.", 1);
    log->AddLine("  1 file(s) skiped because file(s) already encrypted.", 0);
    log->AddLine("  3 file(s) skiped because bad password.", 1);
    ASSERT_EQ(log->LineCount(), 3);
    EXPECT_EQ(log->LineText(0), "  2 file(s) skiped because file(s) in use.");
    EXPECT_EQ(log->LineImage(0), 1);
    EXPECT_EQ(log->LineImage(1), 0);
    EXPECT_EQ(log->LineText(2), "  3 file(s) skiped because bad password.");
    // The two images differ, and each line shows its own.
    const QImage info = log->topLevelItem(1)->icon(0).pixmap(16).toImage();
    const QImage warning = log->topLevelItem(0)->icon(0).pixmap(16).toImage();
    EXPECT_NE(info, warning);
    EXPECT_EQ(log->topLevelItem(2)->icon(0).pixmap(16).toImage(), warning);
}

TEST_F(ShellTest, SettingsSurviveARestartOfTheWindows)
{
    for (QCheckBox* box : {frmSettings->KeepDate, frmSettings->MarkHidden, frmSettings->EncDirs, frmSettings->Verify,
                           frmSettings->ShowPasswords, frmSettings->ClearPasswords, frmSettings->AskForPassword}) {
        EXPECT_FALSE(box->isChecked()) << box->objectName().toStdString() << " is checked on a first start";
    }
    int algorithm = 0;
    int source = 1;
    LoadMainChoices(algorithm, source);
    EXPECT_EQ(algorithm, 0);
    EXPECT_EQ(source, 1);

    frmSettings->show();
    QTest::mouseClick(frmSettings->KeepDate, Qt::LeftButton);
    QTest::mouseClick(frmSettings->EncDirs, Qt::LeftButton);
    frmSettings->PG->setCurrentIndex(1);
    QTest::mouseClick(frmSettings->ClearPasswords, Qt::LeftButton);
    QTest::mouseClick(frmSettings->btnOK, Qt::LeftButton);
    EXPECT_FALSE(frmSettings->isVisible());
    SaveMainChoices(9, 2);

    RestartWindows();
    EXPECT_TRUE(frmSettings->KeepDate->isChecked());
    EXPECT_FALSE(frmSettings->MarkHidden->isChecked());
    EXPECT_TRUE(frmSettings->EncDirs->isChecked());
    EXPECT_TRUE(frmSettings->ClearPasswords->isChecked());
    EXPECT_FALSE(frmSettings->AskForPassword->isChecked());
    LoadMainChoices(algorithm, source);
    EXPECT_EQ(algorithm, 9);
    EXPECT_EQ(source, 2);

    const QString text = FileText(TSettingsStore::FilePath(TSettingsStore::TKind::Settings));
    for (const TSettingDef& def : kSettingsTable) {
        EXPECT_TRUE(text.contains(StoredValueName(def) + "=")) << StoredValueName(def).toStdString();
    }
    EXPECT_TRUE(text.contains("KeepDate_Checked=True"));
    EXPECT_TRUE(text.contains("MarkHidden_Checked=False"));
    EXPECT_TRUE(text.contains("cmbAlgorithm_ItemIndex=9"));
    EXPECT_TRUE(text.contains("FormVersion=0"));
}

TEST_F(ShellTest, CancelEscapeAndCloseBoxPutEverythingBack)
{
    TurnProgramPasswordOn("kept");
    const QString stored = frmSettings->ReadStoredPassword();
    frmSettings->KeepDate->setChecked(true);
    frmSettings->SaveSettings();

    const std::vector<std::function<void()>> ways = {
        [] { QTest::mouseClick(frmSettings->btnCancel, Qt::LeftButton); },
        [] { QTest::keyClick(frmSettings->edPass, Qt::Key_Escape); },
        [] { frmSettings->close(); },
    };
    for (std::size_t way = 0; way < ways.size(); ++way) {
        SCOPED_TRACE(way);
        frmSettings->show();
        EXPECT_EQ(frmSettings->edPass->text(), kPasswordPlaceholder);
        EXPECT_EQ(frmSettings->edPass2->text(), kPasswordPlaceholder);
        for (QCheckBox* box : {frmSettings->KeepDate, frmSettings->MarkHidden, frmSettings->EncDirs,
                               frmSettings->Verify, frmSettings->ShowPasswords, frmSettings->ClearPasswords}) {
            box->click();
        }
        frmSettings->edPass->setText("changed");
        frmSettings->edPass2->setText("changed too");
        ways[way]();
        EXPECT_FALSE(frmSettings->isVisible());
        EXPECT_TRUE(frmSettings->KeepDate->isChecked());
        EXPECT_FALSE(frmSettings->MarkHidden->isChecked());
        EXPECT_FALSE(frmSettings->EncDirs->isChecked());
        EXPECT_FALSE(frmSettings->Verify->isChecked());
        EXPECT_FALSE(frmSettings->ShowPasswords->isChecked());
        EXPECT_FALSE(frmSettings->ClearPasswords->isChecked());
        EXPECT_TRUE(frmSettings->AskForPassword->isChecked());
        EXPECT_EQ(frmSettings->edPass->text(), kPasswordPlaceholder);
        EXPECT_EQ(frmSettings->edPass2->text(), kPasswordPlaceholder);
        EXPECT_EQ(frmSettings->ReadStoredPassword(), stored);
    }
    RestartWindows();
    EXPECT_TRUE(frmSettings->KeepDate->isChecked());
    EXPECT_FALSE(frmSettings->EncDirs->isChecked());
}

TEST_F(ShellTest, CloseBoxNeverSetsAnEmptyProgramPassword)
{
    frmSettings->show();
    frmSettings->PG->setCurrentIndex(1);
    QTest::mouseClick(frmSettings->AskForPassword, Qt::LeftButton);
    EXPECT_TRUE(frmSettings->edPass->isEnabled());
    frmSettings->close();
    EXPECT_FALSE(frmSettings->isVisible());
    EXPECT_FALSE(frmSettings->AskForPassword->isChecked());
    EXPECT_EQ(frmSettings->ReadStoredPassword(), "");
    RestartWindows();
    EXPECT_FALSE(frmSettings->AskForPassword->isChecked());
    EXPECT_TRUE(ShowMainWindow());
}

TEST_F(ShellTest, BlankAndMismatchedPasswordsKeepTheDialogOpen)
{
    frmSettings->show();
    EXPECT_EQ(frmSettings->PG->currentIndex(), 0);
    EXPECT_FALSE(frmSettings->edPass->isEnabled());
    EXPECT_FALSE(frmSettings->edPass2->isEnabled());
    frmSettings->PG->setCurrentIndex(1);
    QTest::mouseClick(frmSettings->AskForPassword, Qt::LeftButton);
    EXPECT_TRUE(frmSettings->edPass->isEnabled());
    EXPECT_TRUE(frmSettings->edPass2->isEnabled());

    TfrmMessage::SetNextAnswer(kResultOk);
    frmSettings->btnOK->setFocus();
    QTest::mouseClick(frmSettings->btnOK, Qt::LeftButton);
    ASSERT_EQ(TfrmMessage::Answered().size(), 1u);
    EXPECT_EQ(TfrmMessage::Answered()[0].Text, "The Password can't be blank!");
    EXPECT_EQ(TfrmMessage::Answered()[0].Kind, kMsgInformation);
    EXPECT_EQ(TfrmMessage::Answered()[0].Buttons, kButtonsOk);
    EXPECT_TRUE(frmSettings->isVisible());
    EXPECT_EQ(frmSettings->focusWidget(), frmSettings->edPass);

    QTest::keyClicks(frmSettings->edPass, "apple");
    QTest::keyClicks(frmSettings->edPass2, "appel");
    TfrmMessage::SetNextAnswer(kResultOk);
    frmSettings->btnOK->setFocus();
    QTest::mouseClick(frmSettings->btnOK, Qt::LeftButton);
    ASSERT_EQ(TfrmMessage::Answered().size(), 2u);
    EXPECT_EQ(TfrmMessage::Answered()[1].Text, "The password and confirmation password do not match.");
    EXPECT_EQ(TfrmMessage::Answered()[1].Kind, kMsgInformation);
    EXPECT_TRUE(frmSettings->isVisible());
    EXPECT_EQ(frmSettings->focusWidget(), frmSettings->edPass);
    EXPECT_EQ(frmSettings->ReadStoredPassword(), "");

    frmSettings->edPass2->setText("apple");
    QTest::mouseClick(frmSettings->btnOK, Qt::LeftButton);
    EXPECT_FALSE(frmSettings->isVisible());
    EXPECT_TRUE(frmSettings->ProgramPasswordMatches("apple"));
    EXPECT_FALSE(frmSettings->ProgramPasswordMatches("appel"));
}

TEST_F(ShellTest, PlaceholderKeepsTheStoredCheckAndUncheckingRemovesIt)
{
    TurnProgramPasswordOn("secret");
    const QString stored = frmSettings->ReadStoredPassword();
    frmSettings->show();
    EXPECT_EQ(frmSettings->edPass->text(), "<entered>");
    QTest::mouseClick(frmSettings->btnOK, Qt::LeftButton);
    EXPECT_FALSE(frmSettings->isVisible());
    EXPECT_EQ(frmSettings->ReadStoredPassword(), stored);
    EXPECT_TRUE(frmSettings->ProgramPasswordMatches("secret"));

    frmSettings->show();
    frmSettings->AskForPassword->click();
    QTest::mouseClick(frmSettings->btnOK, Qt::LeftButton);
    EXPECT_EQ(frmSettings->ReadStoredPassword(), "");
    RestartWindows();
    EXPECT_TRUE(ShowMainWindow()) << "nothing is asked once the program password is off";

    // With no password stored the boxes start empty, so a leftover placeholder is never taken for
    // a stored password: checking the box again asks for a new one.
    frmSettings->show();
    EXPECT_EQ(frmSettings->edPass->text(), "");
    frmSettings->AskForPassword->click();
    TfrmMessage::SetNextAnswer(kResultOk);
    QTest::mouseClick(frmSettings->btnOK, Qt::LeftButton);
    ASSERT_EQ(TfrmMessage::Answered().size(), 1u);
    EXPECT_EQ(TfrmMessage::Answered()[0].Text, "The Password can't be blank!");
    QTest::mouseClick(frmSettings->btnCancel, Qt::LeftButton);
}

TEST_F(ShellTest, PromptOkFollowsTheTypedText)
{
    TurnProgramPasswordOn("right");
    frmPasswordDlg->show();
    EXPECT_FALSE(frmPasswordDlg->OKBtn->isEnabled());
    EXPECT_TRUE(frmPasswordDlg->imgOk->isHidden());
    QTest::keyClicks(frmPasswordDlg->Password, "righ");
    EXPECT_FALSE(frmPasswordDlg->OKBtn->isEnabled());
    EXPECT_FALSE(frmPasswordDlg->ImgNo->isHidden());
    QTest::keyClicks(frmPasswordDlg->Password, "t");
    EXPECT_TRUE(frmPasswordDlg->OKBtn->isEnabled());
    EXPECT_TRUE(frmPasswordDlg->ImgNo->isHidden());
    EXPECT_FALSE(frmPasswordDlg->imgOk->isHidden());
    QTest::keyClick(frmPasswordDlg->Password, Qt::Key_Backspace);
    EXPECT_FALSE(frmPasswordDlg->OKBtn->isEnabled());
    EXPECT_FALSE(frmPasswordDlg->ImgNo->isHidden());
    frmPasswordDlg->hide();
}

TEST_F(ShellTest, StartUpEndsOnAWrongOrCancelledPassword)
{
    TurnProgramPasswordOn("open sesame");
    RestartWindows();
    ASSERT_TRUE(frmSettings->AskForPassword->isChecked());

    // Enter does nothing while the password is wrong; Escape then ends the program.
    TModalDriver wrong([] { return VisibleOrNull(frmPasswordDlg); },
                       [](QWidget*) {
                           QTest::keyClicks(frmPasswordDlg->Password, "open sesam");
                           QTest::keyClick(frmPasswordDlg->Password, Qt::Key_Return);
                           EXPECT_TRUE(frmPasswordDlg->isVisible());
                           QTest::keyClick(frmPasswordDlg->Password, Qt::Key_Escape);
                       });
    EXPECT_FALSE(ShowMainWindow());
    ASSERT_TRUE(wrong.WaitDone());
    EXPECT_FALSE(frmMain->isVisible());

    TModalDriver cancelled([] { return VisibleOrNull(frmPasswordDlg); },
                           [](QWidget*) {
                               QTest::keyClicks(frmPasswordDlg->Password, "open sesame");
                               QTest::mouseClick(frmPasswordDlg->CancelBtn, Qt::LeftButton);
                           });
    EXPECT_FALSE(ShowMainWindow());
    ASSERT_TRUE(cancelled.WaitDone());
    EXPECT_FALSE(frmMain->isVisible());

    TModalDriver right([] { return VisibleOrNull(frmPasswordDlg); },
                       [](QWidget*) {
                           QTest::keyClicks(frmPasswordDlg->Password, "open sesame");
                           QTest::keyClick(frmPasswordDlg->Password, Qt::Key_Return);
                       });
    EXPECT_TRUE(ShowMainWindow());
    ASSERT_TRUE(right.WaitDone());
    EXPECT_TRUE(frmMain->isVisible());
    EXPECT_TRUE(frmPasswordDlg->Password->text().isEmpty());
    // Asked once per run: a second check lets the program on without the prompt.
    EXPECT_TRUE(CheckProgramPassword());
    frmMain->hide();
}

TEST_F(ShellTest, ADigestBeginningWithZeroNoLongerOpensForAnotherSuchPassword)
{
    const std::vector<QString> zeros = PasswordsWithZeroFirstByte(2);
    ASSERT_EQ(zeros.size(), 2u);
    TurnProgramPasswordOn(zeros[0]);
    EXPECT_EQ(frmSettings->ReadStoredPassword().size(), 32);
    EXPECT_TRUE(frmSettings->ProgramPasswordMatches(zeros[0]));
    EXPECT_FALSE(frmSettings->ProgramPasswordMatches(zeros[1]));
    EXPECT_FALSE(frmSettings->ProgramPasswordMatches(""));

    frmPasswordDlg->show();
    QTest::keyClicks(frmPasswordDlg->Password, zeros[1]);
    EXPECT_FALSE(frmPasswordDlg->OKBtn->isEnabled());
    frmPasswordDlg->hide();

    // The stored check is compared whole too, also when it begins with a zero byte itself.
    std::vector<QString> zeroChecks;
    for (int i = 0; zeroChecks.size() < 2 && i < 100000; ++i) {
        const QString candidate = QString("c%1").arg(i);
        if (QCryptographicHash::hash(KeyDigest(candidate), QCryptographicHash::Md5)[0] == '\0') {
            zeroChecks.push_back(candidate);
        }
    }
    ASSERT_EQ(zeroChecks.size(), 2u);
    frmSettings->SaveProgramPassword(zeroChecks[0], true);
    EXPECT_TRUE(frmSettings->ProgramPasswordMatches(zeroChecks[0]));
    EXPECT_FALSE(frmSettings->ProgramPasswordMatches(zeroChecks[1]));

    // Such a password stored in the older form left an empty value; it opens nothing any more.
    StorePasswordValue("");
    EXPECT_FALSE(frmSettings->ProgramPasswordMatches(zeros[0]));
    EXPECT_FALSE(frmSettings->ProgramPasswordMatches(zeros[1]));
}

TEST_F(ShellTest, StoredCheckIsTheFileFormatsCheckNotTheKey)
{
    TurnProgramPasswordOn("Grüße");
    const QByteArray key = KeyDigest("Grüße");
    const QByteArray check = QCryptographicHash::hash(key, QCryptographicHash::Md5);
    EXPECT_EQ(frmSettings->ReadStoredPassword().toLower(), QString::fromLatin1(check.toHex()));
    const TPasswordKey fileKey("Grüße");
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(fileKey.Check().data()), 16), check);
    const QString text = FileText(TSettingsStore::FilePath(TSettingsStore::TKind::ProgramPassword));
    EXPECT_FALSE(text.contains(QString::fromLatin1(key.toHex()), Qt::CaseInsensitive));
}

TEST_F(ShellTest, AnOlderStoredValueStillOpensAndIsRewritten)
{
    // The older form: MD5 of the password's bytes, cut at its first zero byte, one character per
    // byte. Find one with a byte in 0x80..0x9F before any zero, which the registry hands back as
    // Windows-1252 text.
    QString password;
    QByteArray cut;
    for (int i = 0; password.isEmpty() && i < 100000; ++i) {
        const QString candidate = QString("old%1").arg(i);
        QByteArray digest = KeyDigest(candidate);
        digest.truncate(digest.indexOf('\0') < 0 ? 16 : digest.indexOf('\0'));
        if (digest.size() >= 8 && std::any_of(digest.begin(), digest.end(), [](char c) {
                return static_cast<unsigned char>(c) == 0x80;
            })) {
            password = candidate;
            cut = digest;
        }
    }
    ASSERT_FALSE(password.isEmpty());
    const QString asLatin1 = QString::fromLatin1(cut);
    QString as1252 = asLatin1;
    as1252.replace(QChar(0x80), QChar(0x20AC));

    for (const QString& stored : {asLatin1, as1252}) {
        StorePasswordValue(stored);
        EXPECT_TRUE(frmSettings->ProgramPasswordMatches(password));
        EXPECT_FALSE(frmSettings->ProgramPasswordMatches(password + "x"));
        EXPECT_TRUE(frmSettings->StoredPasswordIsOlderForm());
    }

    frmSettings->AskForPassword->setChecked(true);
    frmSettings->SaveSettings();
    RestartWindows();
    TModalDriver driver([] { return VisibleOrNull(frmPasswordDlg); },
                        [password](QWidget*) {
                            QTest::keyClicks(frmPasswordDlg->Password, password);
                            QTest::keyClick(frmPasswordDlg->Password, Qt::Key_Return);
                        });
    EXPECT_TRUE(ShowMainWindow());
    ASSERT_TRUE(driver.WaitDone());
    frmMain->hide();
    const QByteArray check = QCryptographicHash::hash(KeyDigest(password), QCryptographicHash::Md5);
    EXPECT_EQ(frmSettings->ReadStoredPassword().toLower(), QString::fromLatin1(check.toHex()));
    EXPECT_FALSE(frmSettings->StoredPasswordIsOlderForm());
    EXPECT_TRUE(frmSettings->ProgramPasswordMatches(password));
}

TEST_F(ShellTest, ADamagedSettingsFileStillStartsTheProgram)
{
    const QString path = TSettingsStore::FilePath(TSettingsStore::TKind::Settings);
    QByteArray damaged("\xff\xfe\x00garbage\n[Settings\n=\n");
    damaged.append(QByteArray("\0\x01\x02", 3));
    damaged.append("\n[Settings]\nKeepDate_Checked=maybe\nEncDirs_Checked=True\nMarkHidden_Checked=a,b\n"
                   "Verify_Checked=@Variant(\\0\\0\\0\\x7f)\ncmbAlgorithm_ItemIndex=99\nrdSource_ItemIndex=2\n"
                   "AskForPassword_Checked=\n");
    WriteFile(path, damaged);
    RestartWindows();
    EXPECT_FALSE(frmSettings->KeepDate->isChecked());
    EXPECT_FALSE(frmSettings->MarkHidden->isChecked());
    EXPECT_FALSE(frmSettings->Verify->isChecked());
    EXPECT_FALSE(frmSettings->AskForPassword->isChecked());
    EXPECT_TRUE(frmSettings->EncDirs->isChecked());
    int algorithm = 3;
    int source = 1;
    LoadMainChoices(algorithm, source);
    EXPECT_EQ(algorithm, 3);
    EXPECT_EQ(source, 2);
    EXPECT_TRUE(ShowMainWindow());
    frmMain->hide();

    // A value that cannot be read leaves the control as it is, whatever that is now.
    frmSettings->KeepDate->setChecked(true);
    frmSettings->MarkHidden->setChecked(true);
    frmSettings->LoadSettings();
    EXPECT_TRUE(frmSettings->KeepDate->isChecked());
    EXPECT_TRUE(frmSettings->MarkHidden->isChecked());

    // Saving replaces the damage with readable values.
    frmSettings->KeepDate->setChecked(true);
    frmSettings->SaveSettings();
    RestartWindows();
    EXPECT_TRUE(frmSettings->KeepDate->isChecked());
    EXPECT_TRUE(frmSettings->EncDirs->isChecked());

    // A file of a later, incompatible layout (FormVersion below 0) is not restored from.
    WriteFile(path, "[Settings]\nFormVersion=-1\nKeepDate_Checked=True\nrdSource_ItemIndex=0\n");
    RestartWindows();
    EXPECT_FALSE(frmSettings->KeepDate->isChecked());
    LoadMainChoices(algorithm, source);
    EXPECT_EQ(source, 2);
}

TEST_F(ShellTest, StoreFilesArePrivateAndReplacedWhole)
{
    const QString settings = TSettingsStore::FilePath(TSettingsStore::TKind::Settings);
    const QString password = TSettingsStore::FilePath(TSettingsStore::TKind::ProgramPassword);
    // A file left readable by others is made private by the next save.
    WriteFile(settings, "[Settings]\nKeepDate_Checked=True\n");
    ASSERT_EQ(::chmod(QFile::encodeName(settings).constData(), 0644), 0);
    const ::mode_t oldUmask = ::umask(0);
    frmSettings->SaveSettings();
    frmSettings->SaveProgramPassword("pw", true);
    ::umask(oldUmask);
    EXPECT_EQ(ModeOf(settings), 0600u);
    EXPECT_EQ(ModeOf(password), 0600u);
    EXPECT_EQ(ModeOf(TSettingsStore::Folder()), 0700u);

    // Each save writes a new file and renames it over the old one, so a crash leaves one or the other.
    struct stat before{};
    ASSERT_EQ(::stat(QFile::encodeName(settings).constData(), &before), 0);
    frmSettings->KeepDate->setChecked(true);
    frmSettings->SaveSettings();
    struct stat after{};
    ASSERT_EQ(::stat(QFile::encodeName(settings).constData(), &after), 0);
    EXPECT_NE(before.st_ino, after.st_ino);
    EXPECT_EQ(QDir(TSettingsStore::Folder()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

TEST_F(ShellTest, AStoreThatCannotBeWrittenIsReportedAndTheDialogCloses)
{
    // A file where the folder should be: nothing can be saved.
    WriteFile(TSettingsStore::Folder(), "not a folder");
    EXPECT_THROW(frmSettings->SaveSettings(), std::runtime_error);
    EXPECT_THROW(SaveMainChoices(1, 1), std::runtime_error);

    frmSettings->show();
    QString reported;
    TModalDriver driver([] { return VisibleOrNull(QApplication::activeModalWidget()); },
                        [&reported](QWidget* box) {
                            if (auto* message = qobject_cast<QMessageBox*>(box)) {
                                reported = message->text();
                            }
                            box->close();
                        });
    QTest::mouseClick(frmSettings->btnOK, Qt::LeftButton);
    ASSERT_TRUE(driver.WaitDone());
    EXPECT_TRUE(reported.contains("vellumox")) << reported.toStdString();
    EXPECT_FALSE(frmSettings->isVisible());
}

TEST_F(ShellTest, AnErrorThatEscapesACommandIsReportedAndTheProgramGoesOn)
{
    QPushButton button("Fail");
    int clicks = 0;
    QObject::connect(&button, &QPushButton::clicked, [&clicks] {
        ++clicks;
        throw std::runtime_error("Cannot open /tmp/x: Permission denied");
    });
    button.show();
    for (int round = 0; round < 2; ++round) {
        QString shown;
        TModalDriver driver([] { return VisibleOrNull(QApplication::activeModalWidget()); },
                            [&shown](QWidget* box) {
                                auto* message = qobject_cast<QMessageBox*>(box);
                                if (message != nullptr) {
                                    shown = message->text();
                                    EXPECT_EQ(message->icon(), QMessageBox::Critical);
                                }
                                box->close();
                            });
        QTest::mouseClick(&button, Qt::LeftButton);
        ASSERT_TRUE(driver.WaitDone());
        EXPECT_EQ(shown, "Cannot open /tmp/x: Permission denied");
    }
    EXPECT_EQ(clicks, 2);
}

TEST_F(ShellTest, EveryControlHasAnAccessibleName)
{
    TfrmMessage::SetNextAnswer(kResultOk);
    ShowMsg("Check message log for errors.", kMsgInformation, kButtonsOk);
    for (QWidget* window : std::initializer_list<QWidget*>{frmMessage, frmSettings, frmPasswordDlg}) {
        const std::vector<QString> missing = ControlsWithoutAccessibleName(window);
        EXPECT_TRUE(missing.empty()) << window->objectName().toStdString() << ": "
                                     << QStringList(missing.begin(), missing.end()).join(", ").toStdString();
    }
    // Every setting can be reached by the keyboard.
    for (QWidget* control : std::initializer_list<QWidget*>{
             frmSettings->KeepDate, frmSettings->AskForPassword, frmSettings->edPass, frmSettings->btnOK,
             frmSettings->btnCancel, frmPasswordDlg->Password, frmMessage->OKBtn}) {
        EXPECT_TRUE(control->focusPolicy() & Qt::TabFocus) << control->objectName().toStdString();
    }
}
