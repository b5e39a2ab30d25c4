// The shred and delete runs from the window, on real files: what goes, what stays, and what the user is told.
#include "app/Forms.h"
#include "app/mainU.h"
#include "app/messageU.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/support/Bytes.h"
#include "tests/support/TempDir.h"
#include "wipe/ShredRuns.h"
#include "wipe/WipeReach.h"
#include "wipe/frmshred_u.h"
#include "wipe/funkcije_u.h"

#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <fcntl.h>
#include <filesystem>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

// Failures print texts, not their code units.
[[maybe_unused]] static void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {
constexpr const char* kShredQuestion = "Are you sure you wont to shred selected file(s)? ";
constexpr const char* kDeleteQuestion = "Are you sure you wont to delete selected file(s)?";
constexpr const char* kShredWarning = "Some files can not be shredded because they are in use.!";

// Sizes with a partial last kilobyte, so the per-file bar moves at the end of every pass.
constexpr std::size_t kSmall = 1536;

void MakeFolder(const std::string& path)
{
    std::filesystem::create_directories(path);
}

// Pins what the shred question learns about the storage, and restores the real probe afterwards.
class TReachPin
{
public:
    explicit TReachPin(TReachNote (*probe)(const std::string&)) : m_saved(WipeReachProbe) { WipeReachProbe = probe; }
    ~TReachPin() { WipeReachProbe = m_saved; }

private:
    TReachNote (*m_saved)(const std::string&);
};

TReachNote NothingKnown(const std::string&)
{
    return {};
}

TReachNote OnBtrfs(const std::string&)
{
    return {TReachLimit::CopyOnWrite, "btrfs"};
}

// What the window showed when the per-file bar moved.
struct TShown
{
    int items = 0;
    int itemsMaximum = 0;
    QString folder;
    QString title;
    QString processed;
    bool operator==(const TShown&) const = default;
};

std::vector<TShown> Distinct(const std::vector<TShown>& all)
{
    std::vector<TShown> out;
    for (const TShown& shown : all) {
        if (out.empty() || !(out.back() == shown)) {
            out.push_back(shown);
        }
    }
    return out;
}

// Makes a folder's entry impossible to delete, even for root: an immutable file. False where the
// file system or the user cannot do that.
bool MakeUndeletable(const std::string& path, bool on)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}
} // namespace

// A message box nobody expected would wait for a user forever: close it and fail instead.
class ShredRunTest : public TGuiTest
{
protected:
    void SetUp() override
    {
        TGuiTest::SetUp();
        m_watchdog = std::make_unique<QTimer>();
        QObject::connect(m_watchdog.get(), &QTimer::timeout, [] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                auto* box = qobject_cast<TfrmMessage*>(modal);
                ADD_FAILURE() << "an unexpected message: "
                              << (box != nullptr ? box->labMsg->text().toStdString()
                                                 : modal->objectName().toStdString());
                modal->close();
            }
        });
        m_watchdog->start(100);
    }
    void TearDown() override
    {
        m_watchdog.reset();
        TGuiTest::TearDown();
    }

private:
    std::unique_ptr<QTimer> m_watchdog;
};

TEST_F(ShredRunTest, AFileHeldElsewhereKeepsItsFolderAndIsReported)
{
    TTempDir dir;
    const std::string folder = dir / "docs";
    MakeFolder(folder + "/inner");
    const auto held = RandomBytes(kSmall, 1);
    WriteAll(folder + "/a.txt", RandomBytes(kSmall, 2));
    WriteAll(folder + "/held.txt", held);
    WriteAll(folder + "/inner/c.txt", RandomBytes(kSmall, 3));
    // Another program holds the file with an exclusive lock on its own descriptor.
    const int fd = ::open((folder + "/held.txt").c_str(), O_RDWR);
    ASSERT_TRUE(fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0);

    TfrmMessage::SetNextAnswer(kResultOk);
    ShredSelection({folder});
    ::close(fd);

    EXPECT_FALSE(Exists(folder + "/a.txt"));
    EXPECT_FALSE(Exists(folder + "/inner/c.txt"));
    ASSERT_TRUE(Exists(folder + "/held.txt"));
    EXPECT_EQ(ReadAll(folder + "/held.txt"), held);
    ASSERT_EQ(TfrmMessage::Answered().size(), 1u);
    EXPECT_EQ(TfrmMessage::Answered()[0].Text, kShredWarning);
    EXPECT_EQ(TfrmMessage::Answered()[0].Kind, kMsgWarning);
    EXPECT_EQ(TfrmMessage::Answered()[0].Buttons, kButtonsOk);
    // The warning's words cover every cause; the log keeps the file and the real reason.
    ASSERT_EQ(frmMain->LVMessages->LineCount(), 1);
    EXPECT_EQ(frmMain->LVMessages->LineImage(0), 1);
    EXPECT_TRUE(frmMain->LVMessages->LineText(0).contains(QString::fromStdString(folder + "/held.txt")));
    EXPECT_TRUE(frmMain->LVMessages->LineText(0).contains("locked")) << frmMain->LVMessages->LineText(0).toStdString();
    EXPECT_FALSE(frmShred->isVisible());
    EXPECT_FALSE(ShredRunning());
}

TEST_F(ShredRunTest, AFifoInAFolderIsNeverOpenedAndKeepsTheFolderWithItsReason)
{
    TTempDir dir;
    const std::string folder = dir / "pipes";
    MakeFolder(folder);
    WriteAll(folder + "/data", RandomBytes(kSmall, 27));
    ASSERT_EQ(::mkfifo((folder + "/pipe").c_str(), 0600), 0);

    TfrmMessage::SetNextAnswer(kResultOk);
    ShredSelection({folder});

    EXPECT_FALSE(Exists(folder + "/data"));
    EXPECT_TRUE(std::filesystem::is_fifo(folder + "/pipe"));
    ASSERT_EQ(TfrmMessage::Answered().size(), 1u);
    EXPECT_EQ(TfrmMessage::Answered()[0].Text, kShredWarning);
    ASSERT_EQ(frmMain->LVMessages->LineCount(), 1);
    EXPECT_TRUE(frmMain->LVMessages->LineText(0).contains(QString::fromStdString(folder + "/pipe")));
    EXPECT_TRUE(frmMain->LVMessages->LineText(0).contains("FIFO"));
}

TEST_F(ShredRunTest, AHiddenTreeIsShreddedAndRemovedWithItsSubfolders)
{
    TTempDir dir;
    const std::string folder = dir / "tree";
    MakeFolder(folder + "/sub/deeper");
    MakeFolder(folder + "/.cache/empty");
    WriteAll(folder + "/.profile", RandomBytes(kSmall, 4));
    WriteAll(folder + "/sub/listed.txt", RandomBytes(kSmall, 5));
    WriteText(folder + "/sub/.hidden", "listed.txt\n");
    WriteAll(folder + "/sub/deeper/.key", RandomBytes(40000, 6));
    WriteAll(folder + "/.cache/blob", RandomBytes(kSmall, 7));
    WriteAll(dir / "beside.txt", RandomBytes(kSmall, 8));

    ShredSelection({folder});

    EXPECT_FALSE(Exists(folder)) << "the folder and its emptied subfolders go";
    EXPECT_TRUE(Exists(dir / "beside.txt"));
    EXPECT_TRUE(TfrmMessage::Answered().empty());
    EXPECT_EQ(frmMain->LVMessages->LineCount(), 0);
}

TEST_F(ShredRunTest, CancelDuringTheSecondFileKeepsItPartlyOverwrittenAndTouchesNothingAfter)
{
    TTempDir dir;
    const auto first = RandomBytes(kSmall, 9);
    const auto second = RandomBytes(8 * 1024 * 1024, 10);
    const auto third = RandomBytes(kSmall, 11);
    WriteAll(dir / "first.bin", first);
    WriteAll(dir / "second.bin", second);
    WriteAll(dir / "third.bin", third);
    // The user presses Cancel as soon as the second file's bar first moves within a pass.
    bool pressed = false;
    QObject::connect(frmShred->ProgressBar1, &QProgressBar::valueChanged, frmShred, [&](int value) {
        if (!pressed && value > 0 && value < frmShred->ProgressBar1->maximum() &&
            frmShred->labTitle->text() == "File: second.bin") {
            pressed = true;
            // Posted, as a real click is: only the run's message pump can deliver it in time.
            QTimer::singleShot(0, frmShred->btnCancel, [] { QTest::mouseClick(frmShred->btnCancel, Qt::LeftButton); });
        }
    });

    // Walked from the last entry to the first.
    ShredSelection({dir / "third.bin", dir / "second.bin", dir / "first.bin"});

    ASSERT_TRUE(pressed);
    EXPECT_TRUE(ShredCancelled);
    EXPECT_FALSE(Exists(dir / "first.bin"));
    ASSERT_TRUE(Exists(dir / "second.bin"));
    const auto kept = ReadAll(dir / "second.bin");
    ASSERT_EQ(kept.size(), second.size());
    EXPECT_NE(std::vector<std::uint8_t>(kept.begin(), kept.begin() + 16384),
              std::vector<std::uint8_t>(second.begin(), second.begin() + 16384));
    EXPECT_EQ(ReadAll(dir / "third.bin"), third);
    EXPECT_TRUE(TfrmMessage::Answered().empty());
    EXPECT_FALSE(frmShred->isVisible());
}

TEST_F(ShredRunTest, EscapeDuringARunCancelsItAndTheWindowStaysUntilTheRunEnds)
{
    TTempDir dir;
    const auto bytes = RandomBytes(2 * 1024 * 1024, 26);
    WriteAll(dir / "big.bin", bytes);
    bool stillShown = false;
    bool pressed = false;
    QObject::connect(frmShred->ProgressBar1, &QProgressBar::valueChanged, frmShred, [&](int value) {
        if (!pressed && value > 0) {
            pressed = true;
            QTest::keyClick(frmShred, Qt::Key_Escape);
            frmShred->close();
            stillShown = frmShred->isVisible();
        }
    });

    ShredSelection({dir / "big.bin"});

    ASSERT_TRUE(pressed);
    EXPECT_TRUE(ShredCancelled);
    EXPECT_TRUE(stillShown) << "neither Escape nor a close request ends the window during a run";
    EXPECT_TRUE(Exists(dir / "big.bin"));
    EXPECT_FALSE(frmShred->isVisible());
}

TEST_F(ShredRunTest, TwoFoldersAndAFileShowTheirCounts)
{
    TTempDir dir;
    MakeFolder(dir / "one");
    MakeFolder(dir / "two");
    WriteAll(dir / "one/a", RandomBytes(kSmall, 12));
    WriteAll(dir / "two/b", RandomBytes(kSmall, 13));
    WriteAll(dir / "two/c", RandomBytes(kSmall, 14));
    WriteAll(dir / "loose.txt", RandomBytes(kSmall, 15));
    std::vector<TShown> seen;
    bool visibleDuring = true;
    QObject::connect(frmShred->ProgressBar1, &QProgressBar::valueChanged, frmShred, [&](int) {
        visibleDuring = visibleDuring && frmShred->isVisible() && ShredRunning();
        seen.push_back({frmShred->ProgressBar2->value(), frmShred->ProgressBar2->maximum(), frmShred->labFolder->text(),
                        frmShred->labTitle->text(), frmShred->labProcessed->text()});
    });

    ShredSelection({dir / "loose.txt", dir / "one", dir / "two"});

    EXPECT_TRUE(visibleDuring);
    EXPECT_EQ(SelectedFileCount, 1);
    const QString root = QString::fromStdString(dir.Path());
    const std::vector<TShown> expected{
        {1, 3, "Folder: " + root + "/two", "File: b", "1  of  2"},
        {1, 3, "Folder: " + root + "/two", "File: c", "2  of  2"},
        {2, 3, "Folder: " + root + "/one", "File: a", "1  of  1"},
        // The processed count counts the folders too, the second number files only.
        {3, 3, "Folder: " + root + "/", "File: loose.txt", "3  of  1"},
    };
    const std::vector<TShown> shown = Distinct(seen);
    ASSERT_EQ(shown.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(shown[i].items, expected[i].items) << i;
        EXPECT_EQ(shown[i].itemsMaximum, expected[i].itemsMaximum) << i;
        EXPECT_EQ(shown[i].folder, expected[i].folder) << i;
        EXPECT_EQ(shown[i].title, expected[i].title) << i;
        EXPECT_EQ(shown[i].processed, expected[i].processed) << i;
    }
    EXPECT_FALSE(Exists(dir / "one"));
    EXPECT_FALSE(Exists(dir / "two"));
    EXPECT_FALSE(Exists(dir / "loose.txt"));
}

TEST_F(ShredRunTest, NoAtEitherQuestionChangesNothing)
{
    TReachPin pin(&NothingKnown);
    TTempDir dir;
    MakeFolder(dir / "f");
    const auto bytes = RandomBytes(kSmall, 16);
    WriteAll(dir / "f/x", bytes);
    WriteAll(dir / "y", bytes);

    TfrmMessage::SetNextAnswer(kResultCancel);
    ConfirmAndShred({dir / "y", dir / "f"});
    TfrmMessage::SetNextAnswer(kResultCancel);
    ConfirmAndDelete({dir / "y", dir / "f"});

    ASSERT_EQ(TfrmMessage::Answered().size(), 2u);
    EXPECT_EQ(TfrmMessage::Answered()[0].Text, kShredQuestion);
    EXPECT_EQ(TfrmMessage::Answered()[1].Text, kDeleteQuestion);
    for (const auto& asked : TfrmMessage::Answered()) {
        EXPECT_EQ(asked.Kind, kMsgConfirm);
        EXPECT_EQ(asked.Buttons, kButtonsYesCancel);
    }
    EXPECT_EQ(ReadAll(dir / "f/x"), bytes);
    EXPECT_EQ(ReadAll(dir / "y"), bytes);
    EXPECT_FALSE(frmShred->isVisible());
}

TEST_F(ShredRunTest, TheShredQuestionSaysWhereOverwritingCannotReachAndNamesHardLinks)
{
    TTempDir dir;
    WriteAll(dir / "plain", RandomBytes(kSmall, 17));
    MakeFolder(dir / "f");
    WriteAll(dir / "f/linked", RandomBytes(kSmall, 18));
    ASSERT_EQ(::link((dir / "f/linked").c_str(), (dir / "other-name").c_str()), 0);
    {
        TReachPin pin(&OnBtrfs);
        const std::string question = ShredQuestion({dir / "plain"});
        ASSERT_EQ(question.rfind(kShredQuestion, 0), 0u) << question;
        const std::string added = question.substr(std::string(kShredQuestion).size());
        EXPECT_NE(added.find("copy-on-write"), std::string::npos) << added;
        EXPECT_NE(added.find("btrfs"), std::string::npos) << added;
        EXPECT_EQ(added.find('\n'), std::string::npos) << "one plain sentence";
    }
    TReachPin pin(&NothingKnown);
    EXPECT_EQ(ShredQuestion({dir / "plain"}), kShredQuestion);
    const std::string linked = ShredQuestion({dir / "plain", dir / "f"});
    EXPECT_EQ(linked.rfind(kShredQuestion, 0), 0u);
    EXPECT_NE(linked.find(dir / "f/linked"), std::string::npos) << linked;
    EXPECT_EQ(linked.find(dir / "plain"), std::string::npos) << linked;

    // The question is asked with the same text, before anything is wiped.
    TfrmMessage::SetNextAnswer(kResultCancel);
    ConfirmAndShred({dir / "f"});
    ASSERT_EQ(TfrmMessage::Answered().size(), 1u);
    EXPECT_EQ(TfrmMessage::Answered()[0].Text.toStdString(), ShredQuestion({dir / "f"}));
    EXPECT_TRUE(Exists(dir / "f/linked"));
}

TEST_F(ShredRunTest, LinksInsideASelectedFolderGoWithoutTheirTargets)
{
    TTempDir dir;
    const auto target = RandomBytes(kSmall, 19);
    WriteAll(dir / "target.txt", target);
    MakeFolder(dir / "elsewhere");
    WriteAll(dir / "elsewhere/kept.txt", target);
    for (const char* run : {"shred", "delete"}) {
        SCOPED_TRACE(run);
        const std::string folder = dir / "sel";
        MakeFolder(folder);
        WriteAll(folder + "/own.txt", RandomBytes(kSmall, 20));
        std::filesystem::create_symlink(dir / "target.txt", folder + "/to-file");
        std::filesystem::create_directory_symlink(dir / "elsewhere", folder + "/to-folder");
        if (std::string(run) == "shred") {
            ShredSelection({folder});
        } else {
            DeleteSelection({folder});
        }
        EXPECT_FALSE(std::filesystem::exists(std::filesystem::symlink_status(folder)));
        EXPECT_EQ(ReadAll(dir / "target.txt"), target);
        EXPECT_EQ(ReadAll(dir / "elsewhere/kept.txt"), target);
    }
    EXPECT_TRUE(TfrmMessage::Answered().empty());
}

TEST_F(ShredRunTest, DeleteRemovesEverythingPermanentlyAndNamesWhatStayedInOneMessage)
{
    TTempDir dir;
    MakeFolder(dir / "tree/sub/.hidden-folder");
    WriteAll(dir / "tree/sub/.hidden-folder/f", RandomBytes(kSmall, 21));
    WriteAll(dir / "tree/a", RandomBytes(kSmall, 22));
    WriteAll(dir / "single", RandomBytes(kSmall, 23));
    const std::string fixed = dir / "stuck/locked/fixed.txt";
    MakeFolder(dir / "stuck/locked");
    WriteAll(fixed, RandomBytes(kSmall, 24));
    WriteAll(dir / "stuck/free.txt", RandomBytes(kSmall, 25));
    if (!MakeUndeletable(fixed, true)) {
        ::chmod((dir / "stuck/locked").c_str(), 0555);
    }
    const bool blocked = ::unlink(fixed.c_str()) != 0;
    if (!blocked) {
        GTEST_SKIP() << "neither an immutable file nor a read-only folder stops a deletion here";
    }

    TfrmMessage::SetNextAnswer(kResultOk);
    TfrmMessage::SetNextAnswer(kResultOk);
    ConfirmAndDelete({dir / "tree", dir / "stuck", dir / "single"});
    MakeUndeletable(fixed, false);
    ::chmod((dir / "stuck/locked").c_str(), 0755);

    EXPECT_FALSE(Exists(dir / "tree"));
    EXPECT_FALSE(Exists(dir / "single"));
    EXPECT_FALSE(Exists(dir / "stuck/free.txt"));
    EXPECT_TRUE(Exists(fixed));
    ASSERT_EQ(TfrmMessage::Answered().size(), 2u);
    EXPECT_EQ(TfrmMessage::Answered()[0].Text, kDeleteQuestion);
    const QString report = TfrmMessage::Answered()[1].Text;
    EXPECT_TRUE(report.contains(QString::fromStdString(fixed))) << report.toStdString();
    EXPECT_TRUE(report.contains("not permitted") || report.contains("denied")) << report.toStdString();
    EXPECT_FALSE(report.contains("free.txt"));
    EXPECT_EQ(report.count(QString::fromStdString(dir / "stuck")), 1) << "the folder that holds it is no news";
}

TEST_F(ShredRunTest, AnEmptySelectionShowsAndClosesTheWindowAndReportsNothing)
{
    ShredSelection({});
    DeleteSelection({});
    EXPECT_FALSE(frmShred->isVisible());
    EXPECT_TRUE(TfrmMessage::Answered().empty());
    EXPECT_EQ(frmMain->LVMessages->LineCount(), 0);
}

TEST_F(ShredRunTest, TheWindowIsNamedForScreenReadersAndHasNoCloseBox)
{
    EXPECT_EQ(frmShred->windowTitle(), "    Shred Files");
    EXPECT_FALSE(frmShred->windowFlags().testFlag(Qt::WindowCloseButtonHint));
    EXPECT_FALSE(frmShred->isModal());
    for (const char* name :
         {"labFolder", "labTitle", "labProcessed", "ProgressBar2", "ProgressBar1", "labMetod", "btnCancel"}) {
        auto* control = FindChecked<QWidget>(frmShred, name);
        ASSERT_NE(control, nullptr);
        EXPECT_FALSE(control->accessibleName().isEmpty()) << name;
    }
    EXPECT_EQ(frmShred->btnCancel->text(), "&Cancel");
    EXPECT_TRUE(frmShred->labFolder->wordWrap());
    EXPECT_TRUE(frmShred->labProcessed->alignment().testFlag(Qt::AlignRight));
}
