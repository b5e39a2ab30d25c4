// The operation dialog driven as a user drives it, on real files: the password checks, both modes,
// no closing during a run, the remembered passwords, in-place runs, the log, Stop and a live window.
#include "tests/gui/GuiTestSupport.h"

#include "app/Forms.h"
#include "app/mainU.h"
#include "app/messageU.h"
#include "app/settingsU.h"
#include "encryption/FileFormat.h"
#include "encryption/passwordU.h"
#include "platform/Files.h"
#include "tests/support/Bytes.h"
#include "tests/support/TempDir.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include <climits>
#include <functional>
#include <map>
#include <optional>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace
{
using TBytes = std::vector<std::uint8_t>;

// What a file decrypts to with a password, through the engine, on a copy; nullopt when it does not.
std::optional<TBytes> DecryptsTo(const std::string& path, const std::string& password)
{
    TTempDir scratch;
    const std::string copy = scratch / "probe";
    WriteAll(copy, ReadAll(path));
    TCipherSet ciphers;
    const TDecryptOutcome outcome = DecryptSingleFile(copy, TPasswordKey(password), ciphers);
    if (outcome.Result != TDecryptResult::Decrypted) {
        return std::nullopt;
    }
    return ReadAll(outcome.OutputPath);
}

std::vector<std::string> FilesIn(const std::string& folder)
{
    std::vector<std::string> names;
    for (const std::string& path : ListTree(folder).files) {
        names.push_back(NameOfPath(path));
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::pair<QString, int>> LogLines()
{
    std::vector<std::pair<QString, int>> lines;
    for (int i = 0; i < frmMain->LVMessages->LineCount(); ++i) {
        lines.emplace_back(frmMain->LVMessages->LineText(i), frmMain->LVMessages->LineImage(i));
    }
    return lines;
}

class PassTest : public TGuiTest
{
protected:
    void SetUp() override
    {
        TGuiTest::SetUp();
        // A message that no answer was queued for would wait for a user forever: fail instead.
        QObject::connect(&watchdog, &QTimer::timeout, [] {
            if (frmMessage != nullptr && frmMessage->isVisible()) {
                ADD_FAILURE() << "unexpected message: " << frmMessage->labMsg->text().toStdString();
                frmMessage->CancelBtn->click();
            }
        });
        watchdog.start(50);
    }

    std::string Make(const std::string& name, std::size_t size, unsigned seed)
    {
        const std::string path = dir / name;
        contents[path] = RandomBytes(size, seed);
        WriteAll(path, contents[path]);
        return path;
    }

    // An encrypted copy of a made file under `name`, written by the engine.
    std::string MakeEncrypted(const std::string& name, std::size_t size, unsigned seed, const std::string& password,
                              int algorithm)
    {
        const std::string path = Make(name, size, seed);
        TCipherSet ciphers;
        const TEncryptOutcome outcome = EncryptSingleFile(path, TPasswordKey(password), algorithm, ciphers);
        RenameFile(outcome.OutputPath, path, TRenameMode::Replace);
        return path;
    }

    // Opens the dialog the way the main window does (a modal exec), lets `act` work in it, then
    // closes it with whichever of OK and Cancel is offered. False when it never opened.
    bool Exec(bool decrypt, std::vector<std::string> work, const std::function<void()>& act)
    {
        frmPass->DecryptMode = decrypt;
        frmPass->WorkList = std::move(work);
        TModalDriver driver([] { return static_cast<QWidget*>(frmPass); },
                            [&act](QWidget*) {
                                act();
                                QPushButton* close = frmPass->btnOk->isHidden() ? frmPass->btnCancel : frmPass->btnOk;
                                QTest::mouseClick(close, Qt::LeftButton);
                                if (frmPass->isVisible()) {
                                    ADD_FAILURE() << "the dialog did not close on " << close->text().toStdString();
                                    frmPass->hide();
                                }
                            });
        frmPass->exec();
        return driver.WaitDone(1000);
    }

    void Type(QLineEdit* box, const QString& text)
    {
        box->clear();
        QTest::keyClicks(box, text);
    }

    void Click(QPushButton* button) { QTest::mouseClick(button, Qt::LeftButton); }

    void Choose(int algorithm, int sourceAction)
    {
        frmMain->cmbAlgorithm->setCurrentIndex(algorithm);
        frmMain->rdSource->SetItemIndex(sourceAction);
    }

    TTempDir dir;
    std::map<std::string, TBytes> contents;
    QTimer watchdog;
};

TEST_F(PassTest, EachModeShowsItsCaptionsLayoutAndTheCountOfItsList)
{
    const std::vector<std::string> three = {Make("a", 10, 1), Make("b", 10, 2), Make("c", 10, 3)};
    frmMain->cmbAlgorithm->setCurrentIndex(9);
    int encryptHeight = 0;
    ASSERT_TRUE(Exec(false, three, [&] {
        EXPECT_EQ(frmPass->windowTitle(), "    Vellumox");
        EXPECT_EQ(frmPass->gb->title(), " Encryption ");
        EXPECT_EQ(frmPass->gb0->title(), "  Enter password");
        EXPECT_EQ(frmPass->btnEncrypt->text(), "Encrypt");
        EXPECT_EQ(frmPass->labAlg->text(), "Rijn Dael (AES 256)");
        EXPECT_EQ(frmPass->labProcessed->text(), "Processed 0 of 3 files");
        EXPECT_EQ(frmPass->labCurrent->text(), "Current File:");
        EXPECT_TRUE(frmPass->edPass2->isVisible());
        EXPECT_TRUE(frmPass->Label2->isVisible());
        EXPECT_TRUE(frmPass->btnEncrypt->isVisible());
        EXPECT_TRUE(frmPass->btnCancel->isVisible());
        EXPECT_FALSE(frmPass->btnOk->isVisible());
        EXPECT_EQ(frmPass->focusWidget(), frmPass->edPass1);
        EXPECT_EQ(frmPass->edPass1->echoMode(), QLineEdit::Password);
        EXPECT_EQ(frmPass->State(), TfrmPass::TState::Ready);
        encryptHeight = frmPass->height();
    }));

    frmSettings->ShowPasswords->setChecked(true);
    ASSERT_TRUE(Exec(true, {three[0]}, [&] {
        EXPECT_EQ(frmPass->windowTitle(), "    Decrypt Files");
        EXPECT_EQ(frmPass->gb->title(), " Decryption ");
        EXPECT_EQ(frmPass->btnEncrypt->text(), "Decrypt");
        EXPECT_EQ(frmPass->labAlg->text(), "Auto");
        EXPECT_EQ(frmPass->labProcessed->text(), "Processed 0 of 1 files");
        EXPECT_FALSE(frmPass->edPass2->isVisible());
        EXPECT_FALSE(frmPass->Label2->isVisible());
        EXPECT_EQ(frmPass->edPass1->echoMode(), QLineEdit::Normal);
        // Without its confirmation row the dialog is shorter.
        EXPECT_LT(frmPass->height(), encryptHeight);
    }));
}

TEST_F(PassTest, BlankAndMismatchedPasswordsKeepTheDialogReady)
{
    const std::string a = Make("a", 100, 1);
    ASSERT_TRUE(Exec(false, {a}, [&] {
        const std::vector<std::pair<QString, QString>> refused = {
            {"", ""}, {"", "x"}, {"secret", "secreT"}, {"secret", "secret "}, {"Secret", "secret"}, {"abc", ""}};
        for (const auto& [first, second] : refused) {
            Type(frmPass->edPass1, first);
            Type(frmPass->edPass2, second);
            frmPass->edPass2->setFocus();
            TfrmMessage::SetNextAnswer(kResultOk);
            Click(frmPass->btnEncrypt);
            ASSERT_EQ(TfrmMessage::Answered().size(), 1u) << first.toStdString() << "/" << second.toStdString();
            const auto shown = TfrmMessage::Answered().back();
            EXPECT_EQ(shown.Text, first.isEmpty() ? "The Password can't be blank!"
                                                  : "The password and confirmation password do not match.");
            EXPECT_EQ(shown.Kind, kMsgInformation);
            EXPECT_EQ(shown.Buttons, kButtonsOk);
            TfrmMessage::Answered().clear();
            EXPECT_EQ(frmPass->State(), TfrmPass::TState::Ready);
            EXPECT_EQ(frmPass->focusWidget(), frmPass->edPass1);
            EXPECT_TRUE(frmPass->btnCancel->isVisible());
            EXPECT_TRUE(frmPass->edPass1->isEnabled());
        }
    }));
    EXPECT_EQ(FilesIn(dir.Path()), std::vector<std::string>{"a"});
    EXPECT_EQ(ReadAll(a), contents[a]);
}

TEST_F(PassTest, DecryptionHidesTheConfirmationAndRunsOnOnePassword)
{
    const std::string a = MakeEncrypted("a.txt", 5000, 1, "one", 0);
    const std::string b = MakeEncrypted("b.txt", 70000, 2, "one", 11);
    Choose(0, 1);
    ASSERT_TRUE(Exec(true, {a, b}, [&] {
        // The hidden box is not read: whatever it holds, one password runs.
        frmPass->edPass2->setText("something else");
        Type(frmPass->edPass1, "one");
        // Enter in the password box starts the run, as the action button does.
        QTest::keyClick(frmPass->edPass1, Qt::Key_Return);
        EXPECT_EQ(frmPass->State(), TfrmPass::TState::Done);
        EXPECT_EQ(frmPass->labProcessed->text(), "Processed 2 of 2 files");
        EXPECT_EQ(frmPass->labCurrent->text(), "Last File: b.txt");
        EXPECT_EQ(frmPass->pgTotal->value(), frmPass->pgTotal->maximum());
        EXPECT_TRUE(frmPass->btnOk->isVisible());
        EXPECT_FALSE(frmPass->btnEncrypt->isVisible());
        EXPECT_FALSE(frmPass->btnCancel->isVisible());
        EXPECT_EQ(frmPass->focusWidget(), frmPass->btnOk);
    }));
    EXPECT_TRUE(TfrmMessage::Answered().empty());
    EXPECT_EQ(ReadAll(a), contents[a]);
    EXPECT_EQ(ReadAll(b), contents[b]);
    EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string>{"a.txt", "b.txt"}));
}

TEST_F(PassTest, NoWayClosesTheDialogDuringARunAndEscapeClosesItAfter)
{
    const std::string big = Make("big", 6 << 20, 1);
    Choose(0, 0);
    int tries = 0;
    bool stayedOpen = true;
    // The run's own progress is where the user's attempts arrive while it goes on.
    QObject::connect(frmPass->pgCurrent, &QProgressBar::valueChanged, frmPass, [&](int value) {
        if (tries > 0 || value == 0 || frmPass->State() != TfrmPass::TState::Running) {
            return;
        }
        ++tries;
        EXPECT_FALSE(frmPass->btnEncrypt->isEnabled());
        EXPECT_FALSE(frmPass->edPass1->isEnabled());
        EXPECT_FALSE(frmPass->edPass2->isEnabled());
        QTest::keyClick(frmPass, Qt::Key_Escape);
        frmPass->close();
        frmPass->btnCancelClick();
        frmPass->btnOkClick();
        stayedOpen = frmPass->isVisible() && frmPass->State() == TfrmPass::TState::Running;
    });
    bool closedByEscape = false;
    ASSERT_TRUE(Exec(false, {big}, [&] {
        Type(frmPass->edPass1, "pw");
        Type(frmPass->edPass2, "pw");
        Click(frmPass->btnEncrypt);
        EXPECT_EQ(frmPass->State(), TfrmPass::TState::Done);
        QTest::keyClick(frmPass, Qt::Key_Escape);
        closedByEscape = !frmPass->isVisible();
        if (!closedByEscape) {
            Click(frmPass->btnOk);
        }
    }));
    EXPECT_EQ(tries, 1);
    EXPECT_TRUE(stayedOpen);
    EXPECT_TRUE(closedByEscape);
    EXPECT_EQ(DecryptsTo(big + ".enc", "pw"), contents[big]);
}

TEST_F(PassTest, TheWindowsStayLiveDuringALongFile)
{
    const std::string big = Make("big", 8 << 20, 1);
    Choose(0, 0);
    bool ranDuringRun = false;
    ASSERT_TRUE(Exec(false, {big}, [&] {
        Type(frmPass->edPass1, "pw");
        Type(frmPass->edPass2, "pw");
        QTimer::singleShot(0, frmPass, [&] { ranDuringRun = frmPass->State() == TfrmPass::TState::Running; });
        Click(frmPass->btnEncrypt);
    }));
    EXPECT_TRUE(ranDuringRun);
}

TEST_F(PassTest, TheEncryptionPairComesBackUnlessClearPasswordsIsOn)
{
    const std::string a = Make("a", 100, 1);
    Choose(0, 0);
    ASSERT_TRUE(Exec(false, {a}, [&] {
        Type(frmPass->edPass1, "Pa55 word");
        Type(frmPass->edPass2, "Pa55 word");
        Click(frmPass->btnEncrypt);
    }));
    // The remembered pair owns its characters, so wiping it wipes the only copy.
    EXPECT_TRUE(frmPass->SavedPass1.isDetached());
    EXPECT_TRUE(frmPass->SavedPass2.isDetached());

    // A decryption showing changes the first box but not what encryption brings back.
    ASSERT_TRUE(Exec(true, {a}, [&] {
        EXPECT_EQ(frmPass->edPass1->text(), "Pa55 word");
        Type(frmPass->edPass1, "other");
    }));
    ASSERT_TRUE(Exec(false, {a}, [&] {
        EXPECT_EQ(frmPass->edPass1->text(), "Pa55 word");
        EXPECT_EQ(frmPass->edPass2->text(), "Pa55 word");
        EXPECT_EQ(frmPass->edPass1->echoMode(), QLineEdit::Password);
    }));

    frmSettings->ClearPasswords->setChecked(true);
    ASSERT_TRUE(Exec(false, {a}, [&] {
        EXPECT_EQ(frmPass->edPass1->text(), "Pa55 word");
    }));
    ASSERT_TRUE(Exec(false, {a}, [&] {
        EXPECT_EQ(frmPass->edPass1->text(), "");
        EXPECT_EQ(frmPass->edPass2->text(), "");
    }));
    EXPECT_TRUE(frmPass->SavedPass1.isEmpty());
}

TEST_F(PassTest, InPlaceEncryptionWithDeleteAndShredDecryptsToTheOriginals)
{
    for (const int action : {1, 2}) {
        TTempDir folder;
        std::vector<std::string> work;
        std::map<std::string, TBytes> originals;
        for (const std::size_t size : {std::size_t{0}, std::size_t{1000}, std::size_t{1} << 20}) {
            const std::string path = folder / ("f" + std::to_string(size));
            originals[path] = RandomBytes(size, static_cast<unsigned>(size + action));
            WriteAll(path, originals[path]);
            work.push_back(path);
        }
        const int algorithm = action == 1 ? 9 : 1;
        Choose(algorithm, action);
        // Shredding shows its passes in the dialog; deletion has none.
        int shreddingShown = 0;
        const auto spy = QObject::connect(frmPass->pgCurrent, &QProgressBar::valueChanged, frmPass, [&] {
            shreddingShown += frmPass->labCurrent->text().startsWith("Shredding: ") ? 1 : 0;
        });
        ASSERT_TRUE(Exec(false, work, [&] {
            Type(frmPass->edPass1, "in place");
            Type(frmPass->edPass2, "in place");
            Click(frmPass->btnEncrypt);
            EXPECT_EQ(frmPass->labProcessed->text(), "Processed 3 of 3 files");
        }));
        QObject::disconnect(spy);
        EXPECT_EQ(shreddingShown > 0, action == 2);
        EXPECT_EQ(FilesIn(folder.Path()), (std::vector<std::string>{"f0", "f1000", "f1048576"})) << action;
        for (const auto& [path, bytes] : originals) {
            const THeaderInfo header = ReadHeader(path);
            EXPECT_TRUE(header.Valid) << path;
            EXPECT_EQ(header.AlgorithmIndex, algorithm) << path;
            EXPECT_EQ(DecryptsTo(path, "in place"), bytes) << path;
        }
    }
    EXPECT_TRUE(TfrmMessage::Answered().empty());
}

TEST_F(PassTest, AMixedDecryptionNamesItsSkippedFilesBeforeTheSummaryLines)
{
    const std::string locked = MakeEncrypted("locked", 100, 1, "right", 0);
    const std::string wrong = MakeEncrypted("wrong", 100, 2, "another", 3);
    const std::string plain = Make("plain", 100, 3);
    const std::string good = MakeEncrypted("good", 100, 4, "right", 7);
    const int holder = ::open(locked.c_str(), O_RDONLY);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    Choose(0, 0);
    TfrmMessage::SetNextAnswer(kResultOk);
    ASSERT_TRUE(Exec(true, {locked, wrong, plain, good}, [&] {
        Type(frmPass->edPass1, "right");
        Click(frmPass->btnEncrypt);
    }));
    ::close(holder);

    ASSERT_EQ(TfrmMessage::Answered().size(), 1u);
    EXPECT_EQ(TfrmMessage::Answered()[0].Text, "Check message log for errors.");
    EXPECT_EQ(TfrmMessage::Answered()[0].Kind, kMsgInformation);
    EXPECT_EQ(TfrmMessage::Answered()[0].Buttons, kButtonsOk);

    const auto lines = LogLines();
    ASSERT_EQ(lines.size(), 6u);
    const std::vector<std::pair<std::string, int>> named = {{locked, 1}, {wrong, 1}, {plain, 0}};
    for (std::size_t i = 0; i < named.size(); ++i) {
        EXPECT_TRUE(lines[i].first.contains(QString::fromStdString(named[i].first))) << lines[i].first.toStdString();
        EXPECT_EQ(lines[i].second, named[i].second) << lines[i].first.toStdString();
    }
    const std::vector<std::pair<QString, int>> summary(lines.begin() + 3, lines.end());
    const std::vector<std::pair<QString, int>> expected = {
        {"  1 file(s) skiped because file(s) in use.", 1},
        {"  1 file(s) skiped because bad password.", 1},
        {"  1 file(s) skiped because file(s) already decrypted.", 0},
    };
    EXPECT_EQ(summary, expected);
    EXPECT_EQ(ReadAll(good + ".dec"), contents[good]);
    EXPECT_FALSE(Exists(wrong + ".dec"));
    EXPECT_FALSE(Exists(plain + ".dec"));
    EXPECT_FALSE(Exists(locked + ".dec"));
}

TEST_F(PassTest, StopEndsTheRunAfterTheCurrentFileWithEveryFileDoneOrUntouched)
{
    const std::vector<std::string> work = {Make("f1", 3 << 20, 1), Make("f2", 3 << 20, 2), Make("f3", 1000, 3)};
    Choose(0, 2);
    bool clicked = false;
    QObject::connect(frmPass->pgCurrent, &QProgressBar::valueChanged, frmPass, [&](int value) {
        if (clicked || value == 0 || frmPass->State() != TfrmPass::TState::Running) {
            return;
        }
        EXPECT_TRUE(frmPass->btnStop->isVisible());
        EXPECT_FALSE(frmPass->btnCancel->isVisible());
        clicked = true;
        QTest::mouseClick(frmPass->btnStop, Qt::LeftButton);
    });
    ASSERT_TRUE(Exec(false, work, [&] {
        Type(frmPass->edPass1, "pw");
        Type(frmPass->edPass2, "pw");
        Click(frmPass->btnEncrypt);
        EXPECT_EQ(frmPass->labProcessed->text(), "Processed 1 of 3 files");
        EXPECT_EQ(frmPass->State(), TfrmPass::TState::Done);
        EXPECT_FALSE(frmPass->btnStop->isVisible());
    }));
    ASSERT_TRUE(clicked);
    // The first file went all the way (encrypted, source shredded, output in its place); the rest
    // were never opened.
    EXPECT_EQ(FilesIn(dir.Path()), (std::vector<std::string>{"f1", "f2", "f3"}));
    EXPECT_EQ(DecryptsTo(work[0], "pw"), contents[work[0]]);
    EXPECT_EQ(ReadAll(work[1]), contents[work[1]]);
    EXPECT_EQ(ReadAll(work[2]), contents[work[2]]);
    const auto lines = LogLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].first, "  Stopped after 1 of 3 files; the other files were not touched.");
    EXPECT_TRUE(TfrmMessage::Answered().empty());
}

TEST_F(PassTest, AnErrorThatEndsARunIsReportedAfterTheRunsEndSteps)
{
    const std::string a = Make("a", 1000, 1);
    const std::string missing = dir / "missing";
    const std::string c = Make("c", 1000, 3);
    Choose(0, 1);
    TfrmMessage::SetNextAnswer(kResultOk);
    ASSERT_TRUE(Exec(false, {a, missing, c}, [&] {
        Type(frmPass->edPass1, "pw");
        Type(frmPass->edPass2, "pw");
        Click(frmPass->btnEncrypt);
        EXPECT_EQ(frmPass->State(), TfrmPass::TState::Done);
        EXPECT_TRUE(frmPass->btnOk->isVisible());
        EXPECT_TRUE(frmPass->edPass1->isEnabled());
        EXPECT_EQ(frmPass->pgTotal->value(), frmPass->pgTotal->maximum());
    }));
    ASSERT_EQ(TfrmMessage::Answered().size(), 1u);
    EXPECT_EQ(TfrmMessage::Answered()[0].Kind, kMsgError);
    EXPECT_EQ(TfrmMessage::Answered()[0].Buttons, kButtonsOk);
    EXPECT_TRUE(TfrmMessage::Answered()[0].Text.contains("missing")) << TfrmMessage::Answered()[0].Text.toStdString();
    EXPECT_EQ(DecryptsTo(a, "pw"), contents[a]);
    EXPECT_EQ(ReadAll(c), contents[c]);
}

TEST_F(PassTest, EveryControlHasAnAccessibleName)
{
    for (QWidget* widget : frmPass->findChildren<QWidget*>()) {
        if (qobject_cast<QLabel*>(widget) || qobject_cast<QLineEdit*>(widget) ||
            qobject_cast<QProgressBar*>(widget) || qobject_cast<QPushButton*>(widget) ||
            qobject_cast<QGroupBox*>(widget)) {
            EXPECT_FALSE(widget->accessibleName().isEmpty()) << widget->objectName().toStdString();
        }
    }
    for (const char* name : {"gb0", "Label1", "edPass1", "Label2", "edPass2", "gb", "Label3", "labAlg", "labProcessed",
                             "Label4", "pgTotal", "labCurrent", "pgCurrent", "btnEncrypt", "btnCancel", "btnOk"}) {
        FindChecked<QWidget>(frmPass, name);
    }
}

TEST(PassBar, AnySizeFillsTheBarFromEmptyToFull)
{
    const std::int64_t gib = std::int64_t{1} << 30;
    for (const std::int64_t maximum : {std::int64_t{1}, std::int64_t{8192}, std::int64_t{INT_MAX},
                                       std::int64_t{INT_MAX} + 1, 3 * gib, 5 * gib + 21, gib << 10,
                                       std::numeric_limits<std::int64_t>::max()}) {
        EXPECT_EQ(ScaleBar(0, maximum).Position, 0) << maximum;
        const TBarRange full = ScaleBar(maximum, maximum);
        EXPECT_GT(full.Maximum, 0) << maximum;
        EXPECT_EQ(full.Position, full.Maximum) << maximum;
        for (const std::int64_t part : {maximum / 3, maximum / 2, maximum - 1}) {
            const TBarRange r = ScaleBar(part, maximum);
            EXPECT_GE(r.Position, 0);
            EXPECT_LE(r.Position, r.Maximum);
            EXPECT_NEAR(static_cast<double>(r.Position) / r.Maximum, static_cast<double>(part) / maximum, 1e-6)
                << part << " of " << maximum;
        }
    }
    // A count within int is shown as it is.
    EXPECT_EQ(ScaleBar(1234, 5000).Position, 1234);
    EXPECT_EQ(ScaleBar(1234, 5000).Maximum, 5000);
    // Past the end or before the start stays within the bar.
    EXPECT_EQ(ScaleBar(6 * gib, 5 * gib).Position, ScaleBar(6 * gib, 5 * gib).Maximum);
    EXPECT_EQ(ScaleBar(-5, 5 * gib).Position, 0);
}
} // namespace
