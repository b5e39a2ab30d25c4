// The main window on a real folder tree: enabling rules, the encrypted look, work lists, history,
// refresh, the remembered choices, the shred-run lock and every route of every command.
#include "app/Forms.h"
#include "app/mainU.h"
#include "app/messageU.h"
#include "app/settingsU.h"
#include "browse/EncryptedMark.h"
#include "browse/FolderTree.h"
#include "browse/History.h"
#include "browse/ShellTreeModel.h"
#include "encryption/passwordU.h"
#include "platform/Shell.h"
#include "tests/gui/GuiTestSupport.h"
#include "tests/support/TempDir.h"

#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QMenu>
#include <QMenuBar>
#include <QMimeData>
#include <QPointer>
#include <QTest>
#include <QToolBar>
#include <QToolButton>

#include <algorithm>
#include <filesystem>
#include <set>

// Readable QStrings in failure messages.
void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {
QString Q(const std::string& path)
{
    return QString::fromStdString(path);
}

std::vector<std::uint8_t> Bytes(const std::string& text)
{
    return {text.begin(), text.end()};
}

// A valid header (marker, algorithm 01, 16 digest bytes) and a short body.
std::vector<std::uint8_t> EncryptedBytes()
{
    std::string data = "##$01";
    data += std::string(16, '\x5a');
    data += "body of the file";
    return Bytes(data);
}

class MainWindowTest : public TGuiTest
{
protected:
    void SetUp() override
    {
        TGuiTest::SetUp();
        namespace fs = std::filesystem;
        WriteAll(m_dir / "plain.txt", Bytes("a plain file that is longer than a header"));
        WriteAll(m_dir / "two.bin", Bytes("##"));
        WriteAll(m_dir / "enc.dat", EncryptedBytes());
        fs::create_directories(m_dir / "sub/deeper");
        WriteText(m_dir / "sub/a.txt", "a");
        WriteText(m_dir / "sub/.dot", "dot");
        WriteText(m_dir / "sub/c.txt", "c");
        WriteText(m_dir / "sub/.hidden", "c.txt\n");
        WriteText(m_dir / "sub/deeper/b.txt", "b");
        fs::create_directory_symlink(m_dir / "sub", m_dir / "link");
        frmMain->show();
        ASSERT_TRUE(WaitUntil([] { return frmMain->isVisible(); }));
    }
    void TearDown() override
    {
        SetShellRecorder(nullptr);
        TGuiTest::TearDown();
    }

    TFolderTree* Tree() const { return frmMain->TV; }
    QModelIndex Select(const std::string& path) const { return Tree()->Reveal(Q(path)); }
    bool Enabled(const char* name) const { return frmMain->CommandEnabled(name); }
    // The five commands that the focused item's eligibility decides.
    std::vector<bool> Five() const
    {
        return {Enabled("Encrypt"), Enabled("Decrypt"), Enabled("Delete"), Enabled("Shred"), Enabled("Launch")};
    }
    bool Bold(const std::string& path) const { return Tree()->StyleOf(Tree()->Model()->IndexOf(Q(path))).font.bold(); }
    QColor TextColor(const std::string& path) const
    {
        return Tree()->StyleOf(Tree()->Model()->IndexOf(Q(path))).palette.color(QPalette::Text);
    }

    // Runs command and tells whether it opened the operation dialog (which is then closed), so a
    // dialog that should not have opened fails the case instead of waiting forever.
    static bool OpensDialog(const std::function<void()>& command)
    {
        TModalDriver driver([dialog = QPointer<TfrmPass>(frmPass)] { return dialog.data(); },
                            [](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); });
        command();
        return driver.WaitDone(300);
    }

    TTempDir m_dir;
};

TEST_F(MainWindowTest, EnablingFollowsTheFocusedItem)
{
    // As shown: the first drive gives nothing to work on, and Properties waits for a selection.
    EXPECT_EQ(Five(), std::vector<bool>(5, false));
    EXPECT_FALSE(Enabled("Properties"));

    Tree()->setCurrentIndex(Tree()->FirstNode());
    EXPECT_EQ(Tree()->PathOf(Tree()->currentIndex()), "/");
    EXPECT_EQ(Five(), std::vector<bool>(5, false)) << "a drive root";
    EXPECT_TRUE(Enabled("Properties"));

    Select(m_dir / "plain.txt");
    EXPECT_EQ(Five(), std::vector<bool>(5, true)) << "one file";

    Select(m_dir / "link");
    EXPECT_EQ(Five(), std::vector<bool>(5, false)) << "a link";

    Select(m_dir / "sub");
    EXPECT_EQ(Five(), (std::vector<bool>{true, true, true, true, false})) << "a folder is not launched";
    EXPECT_TRUE(Enabled("Properties"));

    Tree()->SelectPaths({Q(m_dir / "plain.txt"), Q(m_dir / "enc.dat")});
    EXPECT_EQ(Tree()->SelectedCount(), 2);
    EXPECT_EQ(Five(), (std::vector<bool>{true, true, true, true, false})) << "two files";
    EXPECT_FALSE(Enabled("Properties"));
    EXPECT_FALSE(frmMain->TVShellExecute(Tree()->currentIndex())) << "nothing runs with two selected";

    Select(m_dir / "plain.txt");
    EXPECT_TRUE(frmMain->TVShellExecute(Tree()->currentIndex()));
    EXPECT_FALSE(frmMain->TVShellExecute(Select(m_dir / "sub")));
}

TEST_F(MainWindowTest, SelectionStaysInOneFolderAndPutsTheFocusedItemFirst)
{
    Tree()->SelectPaths({Q(m_dir / "two.bin"), Q(m_dir / "plain.txt")});
    // Taking an item of another folder into the selection drops the others.
    const QModelIndex elsewhere = Tree()->Model()->IndexOf(Q(m_dir / "sub/a.txt"));
    Tree()->selectionModel()->setCurrentIndex(elsewhere, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    EXPECT_EQ(Tree()->SelectedItems(), QStringList{Q(m_dir / "sub/a.txt")});

    // Tree order is by type: two.bin, enc.dat, plain.txt. The focused plain.txt comes first.
    Tree()->SelectPaths({Q(m_dir / "plain.txt"), Q(m_dir / "two.bin"), Q(m_dir / "enc.dat")});
    EXPECT_EQ(Tree()->SelectedItems(),
              (QStringList{Q(m_dir / "plain.txt"), Q(m_dir / "enc.dat"), Q(m_dir / "two.bin")}));
    EXPECT_EQ(Tree()->SelectedPath(), Q(m_dir / "two.bin"));
    // An item gone from the disk is no longer offered.
    std::filesystem::remove(m_dir / "enc.dat");
    EXPECT_EQ(Tree()->SelectedItems(), (QStringList{Q(m_dir / "plain.txt"), Q(m_dir / "two.bin")}));
}

TEST_F(MainWindowTest, EncryptedFilesPaintRedAndBoldOnceTheirHeaderIsRead)
{
    Select(m_dir / "plain.txt");
    frmMain->Markers->Clear();
    // Not known yet: painted as usual, never waiting for the disk.
    EXPECT_FALSE(Bold(m_dir / "enc.dat"));
    ASSERT_TRUE(WaitUntil([&] { return Bold(m_dir / "enc.dat"); }));
    EXPECT_EQ(TextColor(m_dir / "enc.dat"), QColor(255, 0, 0));
    ASSERT_TRUE(WaitUntil([&] { return frmMain->Markers->Pending() == 0; }));
    QApplication::processEvents();
    for (const char* name : {"plain.txt", "two.bin", "sub"}) {
        EXPECT_FALSE(Bold(m_dir / name)) << name;
        EXPECT_NE(TextColor(m_dir / name), QColor(255, 0, 0)) << name;
    }

    // The same size, other contents: the remembered answer must not outlive them.
    auto bytes = EncryptedBytes();
    std::fill(bytes.begin(), bytes.begin() + 3, 'x');
    WriteAll(m_dir / "enc.dat", bytes);
    EXPECT_TRUE(WaitUntil([&] { return !Bold(m_dir / "enc.dat"); }));
    EXPECT_FALSE(IsEncryptedFile(m_dir / "enc.dat"));
    EXPECT_FALSE(IsEncryptedFile(m_dir / "sub"));
    EXPECT_FALSE(IsEncryptedFile(m_dir / "missing"));
}

TEST_F(MainWindowTest, EncryptOnAFolderNeedsTheFolderSetting)
{
    Select(m_dir / "sub");
    frmSettings->EncDirs->setChecked(false);
    TfrmMessage::SetNextAnswer(kResultOk);
    EXPECT_FALSE(OpensDialog([] { frmMain->pEncryptItems0Click(); }));
    ASSERT_EQ(TfrmMessage::Answered().size(), 1u);
    EXPECT_EQ(TfrmMessage::Answered()[0].Text, "No files selected to encrypt.");
    EXPECT_EQ(TfrmMessage::Answered()[0].Kind, kMsgInformation);
    EXPECT_EQ(TfrmMessage::Answered()[0].Buttons, kButtonsOk);

    frmSettings->EncDirs->setChecked(true);
    TModalDriver driver([] { return frmPass; }, [](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); });
    frmMain->pEncryptItems0Click();
    ASSERT_TRUE(driver.WaitDone());
    const std::set<std::string> got(frmPass->WorkList.begin(), frmPass->WorkList.end());
    const std::set<std::string> want{m_dir / "sub/a.txt", m_dir / "sub/.dot", m_dir / "sub/c.txt",
                                     m_dir / "sub/deeper/b.txt"};
    EXPECT_EQ(got, want);
    EXPECT_EQ(frmPass->WorkList.size(), want.size());
    EXPECT_FALSE(frmPass->DecryptMode);
}

TEST_F(MainWindowTest, DecryptWalksTheSelectionFromLastToFirst)
{
    Tree()->SelectPaths({Q(m_dir / "plain.txt"), Q(m_dir / "two.bin")});
    TModalDriver driver([] { return frmPass; }, [](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); });
    FindChecked<QAction>(frmMain, "mDecryption1")->trigger();
    ASSERT_TRUE(driver.WaitDone());
    // Selected: plain.txt (focused, first), two.bin; walked backwards.
    EXPECT_EQ(frmPass->WorkList, (std::vector<std::string>{m_dir / "two.bin", m_dir / "plain.txt"}));
    EXPECT_TRUE(frmPass->DecryptMode);

    Tree()->selectionModel()->clearSelection();
    TfrmMessage::SetNextAnswer(kResultOk);
    EXPECT_FALSE(OpensDialog([] { frmMain->pEncryptItems1Click(); }));
    ASSERT_EQ(TfrmMessage::Answered().size(), 1u);
    EXPECT_EQ(TfrmMessage::Answered()[0].Text, "No files selected to decrypt.");
}

TEST_F(MainWindowTest, BackAndNextWalkTheVisitedFolders)
{
    EXPECT_FALSE(frmMain->bLast->isEnabled());
    Select(m_dir / "sub");
    Select(m_dir / "sub/deeper/b.txt");
    Select(m_dir / "plain.txt");
    EXPECT_TRUE(frmMain->bLast->isEnabled());
    EXPECT_FALSE(frmMain->bNext->isEnabled());

    QTest::mouseClick(frmMain->bLast, Qt::LeftButton);
    EXPECT_EQ(Tree()->PathOf(Tree()->currentIndex()), Q(m_dir / "sub/deeper"));
    EXPECT_TRUE(frmMain->bNext->isEnabled());
    QTest::mouseClick(frmMain->bLast, Qt::LeftButton);
    EXPECT_EQ(Tree()->PathOf(Tree()->currentIndex()), Q(m_dir / "sub"));
    QTest::mouseClick(frmMain->bNext, Qt::LeftButton);
    EXPECT_EQ(Tree()->PathOf(Tree()->currentIndex()), Q(m_dir / "sub/deeper"));
    QTest::mouseClick(frmMain->bNext, Qt::LeftButton);
    EXPECT_EQ(Tree()->PathOf(Tree()->currentIndex()), Q(m_dir.Path()));
    EXPECT_FALSE(frmMain->bNext->isEnabled());

    // A new place after going back replaces the places ahead, as in a browser.
    QTest::mouseClick(frmMain->bLast, Qt::LeftButton);
    QTest::mouseClick(frmMain->bLast, Qt::LeftButton);
    Tree()->setCurrentIndex(Tree()->FirstNode());
    EXPECT_FALSE(frmMain->bNext->isEnabled());
    QTest::mouseClick(frmMain->bLast, Qt::LeftButton);
    EXPECT_EQ(Tree()->PathOf(Tree()->currentIndex()), Q(m_dir / "sub"));

    // The recent folders: newest first, then "Clear List...", which empties them.
    emit frmMain->PopupMenuMRU->aboutToShow();
    const QList<QAction*> entries = frmMain->PopupMenuMRU->actions();
    ASSERT_GE(entries.size(), 4);
    EXPECT_EQ(entries[0]->text(), "/");
    EXPECT_EQ(entries[1]->text(), Q(m_dir.Path()));
    EXPECT_EQ(entries.back()->text(), "Clear List...");
    entries.back()->trigger();
    EXPECT_TRUE(frmMain->VirtualShellMRU1->Folders().isEmpty());
}

TEST_F(MainWindowTest, RefreshKeepsSelectionAndExpansionAndShowsNewFiles)
{
    Select(m_dir / "sub/a.txt");
    Tree()->SelectPaths({Q(m_dir / "plain.txt"), Q(m_dir / "two.bin")});
    const QStringList before = Tree()->SelectedItems();
    const QModelIndex folder = Tree()->Model()->IndexOf(Q(m_dir.Path()));
    const int rows = Tree()->model()->rowCount(folder);
    // Sorts before the selected ones, so their rows move.
    WriteText(m_dir / "aaa.bin", "new");
    std::filesystem::remove(m_dir / "enc.dat");
    FindChecked<QToolButton>(frmMain, "bRefresh")->click();
    EXPECT_EQ(Tree()->model()->rowCount(folder), rows);
    EXPECT_EQ(Tree()->SelectedItems(), before);
    EXPECT_TRUE(Tree()->isExpanded(Tree()->Model()->IndexOf(Q(m_dir / "sub"))));
    EXPECT_TRUE(Tree()->Model()->IndexOf(Q(m_dir / "aaa.bin")).isValid());
}

TEST_F(MainWindowTest, TheTreeFollowsTheDiskAndDimsListedHiddenNames)
{
    const QModelIndex sub = Select(m_dir / "sub");
    Tree()->expand(sub);
    const int rows = Tree()->model()->rowCount(sub);
    WriteText(m_dir / "sub/new.txt", "new");
    EXPECT_TRUE(WaitUntil([&] { return Tree()->model()->rowCount(sub) == rows + 1; }));

    auto* model = Tree()->Model();
    EXPECT_TRUE(model->data(model->IndexOf(Q(m_dir / "sub/c.txt")), Qt::ForegroundRole).isValid());
    EXPECT_TRUE(model->data(model->IndexOf(Q(m_dir / "sub/.dot")), Qt::ForegroundRole).isValid());
    EXPECT_FALSE(model->data(model->IndexOf(Q(m_dir / "sub/a.txt")), Qt::ForegroundRole).isValid());
}

TEST_F(MainWindowTest, RenameInPlaceNeverReplacesAFile)
{
    auto* model = Tree()->Model();
    const QModelIndex a = model->IndexOf(Q(m_dir / "sub/a.txt"));
    EXPECT_FALSE(model->setData(a, "c.txt"));
    EXPECT_EQ(ReadAll(m_dir / "sub/c.txt"), Bytes("c"));
    EXPECT_FALSE(model->setData(a, "x/y"));
    EXPECT_TRUE(model->setData(a, "renamed.txt"));
    EXPECT_TRUE(Exists(m_dir / "sub/renamed.txt"));
    EXPECT_FALSE(Exists(m_dir / "sub/a.txt"));
    EXPECT_EQ(model->PathOf(model->IndexOf(Q(m_dir / "sub/renamed.txt"))), Q(m_dir / "sub/renamed.txt"));
}

TEST_F(MainWindowTest, DroppedItemsMoveIntoAFolderWithoutReplacingAnything)
{
    WriteText(m_dir / "sub/deeper/a.txt", "other");
    const QStringList failures =
        TransferInto(Q(m_dir / "sub/deeper"), {Q(m_dir / "plain.txt"), Q(m_dir / "sub/a.txt"), Q(m_dir / "sub")}, true);
    EXPECT_EQ(failures.size(), 2) << failures.join("; ").toStdString();
    EXPECT_TRUE(Exists(m_dir / "sub/deeper/plain.txt"));
    EXPECT_FALSE(Exists(m_dir / "plain.txt"));
    EXPECT_EQ(ReadAll(m_dir / "sub/deeper/a.txt"), Bytes("other"));
    EXPECT_TRUE(Exists(m_dir / "sub/a.txt"));
    EXPECT_TRUE(TransferInto(Q(m_dir / "sub"), {Q(m_dir / "two.bin")}, false).isEmpty());
    EXPECT_TRUE(Exists(m_dir / "two.bin"));
    EXPECT_EQ(ReadAll(m_dir / "sub/two.bin"), Bytes("##"));
}

TEST_F(MainWindowTest, DropsFromOutsideMoveIntoFoldersOrSelect)
{
    auto drop = [&](const std::string& onto, const std::string& item) {
        Select(onto);
        const QModelIndex target = Tree()->currentIndex();
        Tree()->scrollTo(target);
        QMimeData mime;
        mime.setUrls({QUrl::fromLocalFile(Q(item))});
        const QPoint at = Tree()->visualRect(target).center();
        const Qt::DropActions actions = Qt::CopyAction | Qt::MoveAction;
        // The drop goes to whoever took the drag when it entered.
        QDragEnterEvent enter(at, actions, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Tree()->viewport(), &enter);
        QDragMoveEvent move(at, actions, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Tree()->viewport(), &move);
        QDropEvent event(at, actions, &mime, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(Tree()->viewport(), &event);
    };
    drop(m_dir / "plain.txt", m_dir / "sub/a.txt");
    EXPECT_EQ(Tree()->SelectedItems(), QStringList{Q(m_dir / "sub/a.txt")}) << "dropped onto a file: selected";
    EXPECT_TRUE(Exists(m_dir / "sub/a.txt"));

    frmMain->ShredRunStateChanged(true);
    drop(m_dir / "sub", m_dir / "two.bin");
    EXPECT_TRUE(Exists(m_dir / "two.bin")) << "no drops during a shred run";
    frmMain->ShredRunStateChanged(false);

    drop(m_dir / "sub", m_dir / "two.bin");
    EXPECT_FALSE(Exists(m_dir / "two.bin"));
    EXPECT_EQ(ReadAll(m_dir / "sub/two.bin"), Bytes("##"));
}

TEST_F(MainWindowTest, TheChoicesSurviveARestart)
{
    EXPECT_EQ(frmMain->cmbAlgorithm->currentIndex(), 0);
    EXPECT_EQ(frmMain->rdSource->ItemIndex(), 1);
    frmMain->cmbAlgorithm->setCurrentIndex(7);
    frmMain->rdSource->SetItemIndex(2);
    frmMain->close();
    DestroyForms();
    CreateForms();
    EXPECT_EQ(frmMain->cmbAlgorithm->currentIndex(), 0) << "restored when shown, not before";
    frmMain->show();
    EXPECT_EQ(frmMain->cmbAlgorithm->currentIndex(), 7);
    EXPECT_EQ(frmMain->rdSource->ItemIndex(), 2);
}

TEST_F(MainWindowTest, AShredRunLocksTheCommandsThatChangeFiles)
{
    Select(m_dir / "plain.txt");
    frmMain->ShredRunStateChanged(true);
    EXPECT_EQ(Five(), (std::vector<bool>{false, false, false, false, true}));
    Select(m_dir / "two.bin");
    EXPECT_EQ(Five(), (std::vector<bool>{false, false, false, false, true})) << "a new selection keeps the lock";
    EXPECT_FALSE(Tree()->Model()->flags(Tree()->currentIndex()) & Qt::ItemIsEditable);
    EXPECT_FALSE(Tree()->Model()->flags(Tree()->Model()->IndexOf(Q(m_dir / "sub"))) & Qt::ItemIsDropEnabled);
    EXPECT_FALSE(Tree()->Model()->setData(Tree()->currentIndex(), "other.bin"));
    EXPECT_FALSE(OpensDialog([] { frmMain->pEncryptItems0Click(); }));
    EXPECT_FALSE(OpensDialog([] { frmMain->pEncryptItems1Click(); }));
    EXPECT_TRUE(TfrmMessage::Answered().empty());

    frmMain->ShredRunStateChanged(false);
    EXPECT_EQ(Five(), std::vector<bool>(5, true));
    EXPECT_TRUE(Tree()->Model()->flags(Tree()->currentIndex()) & Qt::ItemIsEditable);
}

TEST_F(MainWindowTest, EveryRouteOfEveryCommandRunsItsRowOfTheTable)
{
    std::vector<const TCommand*> ran;
    frmMain->CommandHook = [&](const TCommand& command) {
        ran.push_back(&command);
        return true;
    };
    Select(m_dir / "plain.txt");
    std::size_t routes = 0;
    for (const TCommand& command : TfrmMain::Commands()) {
        std::vector<QObject*> expected;
        if (command.GroupItem != nullptr) {
            expected.push_back(FindChecked<QToolButton>(frmMain->GBar, command.GroupItem));
        }
        if (command.MenuAction != nullptr) {
            expected.push_back(FindChecked<QAction>(frmMain->MainMenu1, command.MenuAction));
        }
        if (command.ToolButton != nullptr) {
            expected.push_back(FindChecked<QToolButton>(frmMain->ToolBar1, command.ToolButton));
        }
        for (QObject* route : expected) {
            ASSERT_NE(route, nullptr);
            ran.clear();
            if (auto* action = qobject_cast<QAction*>(route)) {
                action->setEnabled(true);
                action->trigger();
            } else {
                auto* button = qobject_cast<QToolButton*>(route);
                button->setEnabled(true);
                QTest::mouseClick(button, Qt::LeftButton);
            }
            ASSERT_EQ(ran.size(), 1u) << command.Name << " via " << route->objectName().toStdString();
            EXPECT_EQ(ran[0]->Handler, command.Handler) << command.Name << " via " << route->objectName().toStdString();
            ++routes;
        }
    }
    EXPECT_EQ(routes, 29u);
}

TEST_F(MainWindowTest, CaptionsAndAccessibleNames)
{
    EXPECT_EQ(frmMain->windowTitle(), "Vellumox v1.5");
    QStringList items;
    QStringList groups;
    for (const char* group : {"pEncrypt", "gTools", "pSettings", "pHelp"}) {
        groups << FindChecked<QToolButton>(frmMain->GBar, QString(group) + "Title")->text();
        for (QToolButton* item : FindChecked<QWidget>(frmMain->GBar, group)->findChildren<QToolButton*>()) {
            if (!item->isHidden()) {
                items << item->text();
            }
        }
    }
    EXPECT_EQ(items,
              (QStringList{"Encrypt", "Decrypt", "Delete Files", "Shred Files", "Launch File", "Object Properties",
                           "Encryption Settings", "Online Help", "Check for updates", "Learn more...", "About"}));
    EXPECT_EQ(groups, (QStringList{"Encription", "Tools", "Settings", "Help"}));
    EXPECT_TRUE(FindChecked<QToolButton>(frmMain->GBar, "pHelpItems2")->isHidden());
    EXPECT_TRUE(frmMain->bDonate->isHidden() || !frmMain->bDonate->isVisible());
    EXPECT_FALSE(frmMain->bDonate->isVisible());
    EXPECT_EQ(frmMain->bUpdate->text(), " Update ");
    EXPECT_EQ(frmMain->rdSource->title(), " Source File Action ");
    EXPECT_FALSE(frmMain->cmbAlgorithm->isEditable());
    EXPECT_EQ(frmMain->cmbAlgorithm->count(), 13);
    EXPECT_EQ(frmMain->cmbAlgorithm->itemText(9), "Rijn Dael (AES 256)");

    for (QWidget* widget : frmMain->findChildren<QWidget*>()) {
        const bool control = qobject_cast<QAbstractButton*>(widget) || qobject_cast<QComboBox*>(widget) ||
                             qobject_cast<QAbstractItemView*>(widget) || qobject_cast<QGroupBox*>(widget);
        if (!control || !widget->isVisible()) {
            continue;
        }
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
        ASSERT_NE(face, nullptr);
        EXPECT_FALSE(face->text(QAccessible::Name).trimmed().isEmpty())
            << widget->metaObject()->className() << " " << widget->objectName().toStdString();
    }
}

TEST_F(MainWindowTest, ShellCommandsGetTheSelectedPath)
{
    std::vector<std::pair<QString, QString>> calls;
    SetShellRecorder([&](const QString& verb, const QString& argument) { calls.emplace_back(verb, argument); });
    Select(m_dir / "sub/a.txt");
    frmMain->gToolsItems2Click();
    frmMain->bExplorerClick();
    frmMain->gToolsItems3Click();
    Select(m_dir / "sub");
    frmMain->bExplorerClick();
    ASSERT_EQ(calls.size(), 4u);
    EXPECT_EQ(calls[0], std::make_pair(QString("open"), Q(m_dir / "sub/a.txt")));
    EXPECT_EQ(calls[1], std::make_pair(QString("folder"), Q(m_dir / "sub/")));
    EXPECT_EQ(calls[2], std::make_pair(QString("properties"), Q(m_dir / "sub/a.txt")));
    EXPECT_EQ(calls[3], std::make_pair(QString("folder"), Q(m_dir / "sub")));

    // Enter runs the focused file only while it is the one selected item.
    calls.clear();
    Tree()->SelectPaths({Q(m_dir / "plain.txt"), Q(m_dir / "two.bin")});
    QTest::keyClick(Tree(), Qt::Key_Return);
    EXPECT_TRUE(calls.empty());
    Select(m_dir / "plain.txt");
    QTest::keyClick(Tree(), Qt::Key_Return);
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], std::make_pair(QString("open"), Q(m_dir / "plain.txt")));
}

TEST_F(MainWindowTest, EscapeClosesTheWindowButFirstEndsARename)
{
    Select(m_dir / "plain.txt");
    frmMain->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(frmMain));
    Tree()->setFocus();
    QTest::keyClick(Tree(), Qt::Key_F2);
    ASSERT_TRUE(Tree()->Editing());
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    EXPECT_FALSE(Tree()->Editing());
    EXPECT_TRUE(frmMain->isVisible());
    QTest::keyClick(Tree(), Qt::Key_Escape);
    EXPECT_FALSE(frmMain->isVisible());
    EXPECT_TRUE(Exists(m_dir / "plain.txt"));
}
} // namespace
