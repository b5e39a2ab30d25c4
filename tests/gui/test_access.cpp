// The windows as a keyboard user and a screen reader meet them.
#include "tests/gui/GuiTestSupport.h"

#include "app/Forms.h"
#include "app/HelpLinks.h"
#include "app/aboutU.h"
#include "app/mainU.h"
#include "app/messageU.h"
#include "app/passU.h"
#include "app/settingsU.h"
#include "browse/FolderTree.h"
#include "encryption/passwordU.h"
#include "wipe/frmshred_u.h"

#include "encryption/FileFormat.h"
#include "tests/support/Bytes.h"
#include "tests/support/TempDir.h"

#include <QCheckBox>
#include <QContextMenuEvent>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTest>
#include <QToolButton>

#include <filesystem>

namespace
{
using AccessTest = TGuiTest;

// How a failure names a control: its objectName, or its class inside its nearest named parent.
QString Describe(QWidget* widget)
{
    if (!widget->objectName().isEmpty()) {
        return widget->objectName();
    }
    QString path = widget->metaObject()->className();
    for (QWidget* up = widget->parentWidget(); up != nullptr; up = up->parentWidget()) {
        if (!up->objectName().isEmpty()) {
            return path + " in " + up->objectName();
        }
    }
    return path;
}

// Every visible control of window a screen reader would announce without a name: whatever takes
// the keyboard focus, and the labels, pictures and bars that tell the user something.
QStringList Unnamed(QWidget* window)
{
    QStringList missing;
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    widgets.prepend(window);
    for (QWidget* widget : widgets) {
        if (!widget->isVisibleTo(window) && widget != window) {
            continue;
        }
        auto* label = qobject_cast<QLabel*>(widget);
        const bool informative = qobject_cast<QProgressBar*>(widget) != nullptr ||
                                 (label != nullptr && (!label->text().trimmed().isEmpty() || !label->pixmap().isNull()));
        const bool interactive = (widget->focusPolicy() & Qt::TabFocus) != 0;
        if (widget != window && !informative && !interactive) {
            continue;
        }
        QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
        if (face == nullptr || face->text(QAccessible::Name).trimmed().isEmpty()) {
            missing << Describe(widget);
        }
    }
    return missing;
}

QString NameOf(QWidget* widget)
{
    QAccessibleInterface* face = QAccessible::queryAccessibleInterface(widget);
    return face != nullptr ? face->text(QAccessible::Name) : QString();
}

// The widgets that take the focus, in turn, as Tab moves it from start until it comes back.
QList<QWidget*> TabWalk(QWidget* start)
{
    QList<QWidget*> seen;
    start->setFocus(Qt::TabFocusReason);
    QWidget* at = QApplication::focusWidget();
    for (int i = 0; i < 40 && at != nullptr && !seen.contains(at); ++i) {
        seen << at;
        QTest::keyClick(at, Qt::Key_Tab);
        at = QApplication::focusWidget();
    }
    return seen;
}

// Where typing goes in window: its focus widget, whether or not the desktop made it the active one.
QWidget* FocusedIn(QWidget* window)
{
    return window->focusWidget();
}
} // namespace

TEST_F(AccessTest, EveryWindowNamesWhatAScreenReaderMeets)
{
    const auto expectNamed = [](QWidget* window, const char* state) {
        ASSERT_TRUE(window->isVisible()) << state;
        EXPECT_EQ(Unnamed(window).join(", ").toStdString(), "") << state;
    };
    frmMain->show();
    expectNamed(frmMain, "main window");
    frmShred->show();
    expectNamed(frmShred, "shred window");
    frmShred->hide();
    for (bool decrypt : {false, true}) {
        frmPass->DecryptMode = decrypt;
        frmPass->show();
        expectNamed(frmPass, decrypt ? "decryption dialog" : "encryption dialog");
        frmPass->hide();
    }
    frmSettings->show();
    frmSettings->AskForPassword->setChecked(true);
    for (int page = 0; page < frmSettings->PG->count(); ++page) {
        frmSettings->PG->setCurrentIndex(page);
        expectNamed(frmSettings, "settings page");
    }
    frmSettings->hide();
    frmPasswordDlg->show();
    expectNamed(frmPasswordDlg, "program password prompt");
    frmPasswordDlg->hide();
    TfrmAbout about(frmMain);
    about.show();
    expectNamed(&about, "about box");
    about.hide();
    // Without a vendor site the help command opens the manual in the program's own window.
    const TVendorAddresses vendor = VendorAddresses();
    VendorAddresses() = {};
    OpenOnlineHelp();
    VendorAddresses() = vendor;
    QWidget* help = HelpWindow();
    ASSERT_NE(help, nullptr);
    expectNamed(help, "help window");
    help->close();

    // Edit boxes are named by the labels beside them, and bars by what they measure.
    EXPECT_EQ(frmPass->Label1->buddy(), frmPass->edPass1);
    EXPECT_EQ(frmPass->Label2->buddy(), frmPass->edPass2);
    EXPECT_EQ(NameOf(frmPass->edPass1), "Password");
    EXPECT_EQ(NameOf(frmPass->edPass2), "Confirm password");
    EXPECT_EQ(NameOf(frmPass->pgTotal), "Total files");
    EXPECT_EQ(NameOf(frmPass->pgCurrent), "Current file");
    EXPECT_EQ(frmSettings->Label1->buddy(), frmSettings->edPass);
    EXPECT_EQ(frmSettings->Label2->buddy(), frmSettings->edPass2);
    EXPECT_EQ(NameOf(frmSettings->edPass), "Enter program password");
    EXPECT_EQ(frmPasswordDlg->Label1->buddy(), frmPasswordDlg->Password);
    EXPECT_EQ(NameOf(frmPasswordDlg->Password), frmPasswordDlg->Label1->text().remove('&'));
    EXPECT_FALSE(NameOf(frmShred->ProgressBar1).isEmpty());
    EXPECT_FALSE(NameOf(frmShred->ProgressBar2).isEmpty());
    EXPECT_NE(NameOf(frmShred->ProgressBar1), NameOf(frmShred->ProgressBar2));

    // The message is what a screen reader says when the box opens.
    const QString message = "Check message log for errors.";
    TModalDriver driver([] { return static_cast<QWidget*>(frmMessage); },
                        [&message](QWidget* box) {
                            QAccessibleInterface* face = QAccessible::queryAccessibleInterface(box);
                            EXPECT_EQ(face->text(QAccessible::Description), message);
                            EXPECT_EQ(NameOf(frmMessage->labMsg), message);
                            EXPECT_EQ(Unnamed(box).join(", ").toStdString(), "");
                            QTest::keyClick(frmMessage->OKBtn, Qt::Key_Return);
                        });
    EXPECT_EQ(frmMessage->ShowMsg(message, kMsgInformation, kButtonsOk), kResultOk);
    EXPECT_TRUE(driver.WaitDone());
}

TEST_F(AccessTest, TheOperationDialogRunsFromTheKeyboardAlone)
{
    TTempDir dir;
    const std::string path = dir / "letter.txt";
    WriteAll(path, RandomBytes(3000, 7));
    frmMain->rdSource->SetItemIndex(0);
    frmPass->DecryptMode = false;
    frmPass->WorkList = {path};
    TModalDriver driver([] { return static_cast<QWidget*>(frmPass); },
                        [](QWidget* dialog) {
                            const auto type = [dialog](const char* text) {
                                QTest::keyClicks(FocusedIn(dialog), text);
                            };
                            // The password box has the focus as the dialog opens.
                            EXPECT_EQ(FocusedIn(dialog), frmPass->edPass1);
                            type("tulip");
                            QTest::keyClick(FocusedIn(dialog), Qt::Key_Tab);
                            EXPECT_EQ(FocusedIn(dialog), frmPass->edPass2);
                            type("tulip");
                            QTest::keyClick(FocusedIn(dialog), Qt::Key_Return);
                            EXPECT_TRUE(WaitUntil([] { return frmPass->btnOk->isVisible(); }));
                            // The run's end moves Enter to OK, which closes the dialog.
                            QTest::keyClick(FocusedIn(dialog), Qt::Key_Return);
                            if (frmPass->isVisible()) {
                                ADD_FAILURE() << "Enter did not close the dialog";
                                frmPass->hide();
                            }
                        });
    frmPass->exec();
    ASSERT_TRUE(driver.WaitDone());
    int encrypted = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path())) {
        encrypted += ReadHeader(entry.path().string()).Valid ? 1 : 0;
    }
    EXPECT_EQ(encrypted, 1) << "the run did not write the encrypted file";
}

TEST_F(AccessTest, TabReachesEverySettingAndEscapeCancels)
{
    frmSettings->AskForPassword->setChecked(true);
    frmSettings->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frmSettings));
    frmSettings->activateWindow();
    const std::vector<std::vector<QWidget*>> pages = {
        {frmSettings->KeepDate, frmSettings->MarkHidden, frmSettings->EncDirs, frmSettings->Verify},
        {frmSettings->ShowPasswords, frmSettings->ClearPasswords, frmSettings->AskForPassword, frmSettings->edPass,
         frmSettings->edPass2}};
    for (std::size_t page = 0; page < pages.size(); ++page) {
        frmSettings->PG->setCurrentIndex(static_cast<int>(page));
        const QList<QWidget*> walk = TabWalk(pages[page].front());
        for (QWidget* control : pages[page]) {
            EXPECT_TRUE(walk.contains(control)) << "page " << page << ": " << control->objectName().toStdString();
        }
        // The walk leaves the page for the buttons and comes back: nothing is a dead end.
        EXPECT_TRUE(walk.contains(frmSettings->btnOK)) << page;
        EXPECT_TRUE(walk.contains(frmSettings->btnCancel)) << page;
    }
    EXPECT_TRUE(frmSettings->btnOK->isDefault());
    QTest::keyClick(frmSettings->KeepDate, Qt::Key_Escape);
    EXPECT_FALSE(frmSettings->isVisible());
}

TEST_F(AccessTest, TheMainWindowWorksWithoutAMouse)
{
    frmMain->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(frmMain));
    frmMain->activateWindow();

    // Every menu opens with Alt and a letter, and no two commands in a menu share one.
    QStringList menuKeys;
    for (QAction* menu : frmMain->MainMenu1->actions()) {
        const QString key = QKeySequence::mnemonic(menu->text()).toString();
        EXPECT_FALSE(key.isEmpty()) << menu->text().toStdString();
        EXPECT_FALSE(menuKeys.contains(key)) << menu->text().toStdString();
        menuKeys << key;
        EXPECT_EQ(NameOf(frmMain->MainMenu1).isEmpty(), false);
        QStringList itemKeys;
        for (QAction* item : menu->menu()->actions()) {
            const QString itemKey = QKeySequence::mnemonic(item->text()).toString();
            EXPECT_FALSE(itemKey.isEmpty()) << item->text().toStdString();
            EXPECT_FALSE(itemKeys.contains(itemKey)) << item->text().toStdString();
            itemKeys << itemKey;
        }
    }
    EXPECT_EQ(frmMain->MainMenu1->actions().size(), 4);

    // The arrows walk the command bar past the hidden entry, and Enter runs the focused command.
    QToolButton* learnMore = FindChecked<QToolButton>(frmMain->GBar, "pHelpItems3");
    QToolButton* about = FindChecked<QToolButton>(frmMain->GBar, "pHelpItems4");
    QToolButton* updates = FindChecked<QToolButton>(frmMain->GBar, "pHelpItems1");
    ASSERT_TRUE(learnMore && about && updates);
    EXPECT_TRUE(learnMore->focusPolicy() & Qt::TabFocus);
    // From one group into the next and back.
    QToolButton* settings = FindChecked<QToolButton>(frmMain->GBar, "pSettingsItems0");
    QToolButton* helpTitle = FindChecked<QToolButton>(frmMain->GBar, "pHelpTitle");
    ASSERT_TRUE(settings && helpTitle);
    settings->setFocus(Qt::TabFocusReason);
    QTest::keyClick(settings, Qt::Key_Down);
    EXPECT_EQ(QApplication::focusWidget(), helpTitle);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Up);
    EXPECT_EQ(QApplication::focusWidget(), settings);
    learnMore->setFocus(Qt::TabFocusReason);
    QTest::keyClick(learnMore, Qt::Key_Up);
    EXPECT_EQ(QApplication::focusWidget(), updates);
    QTest::keyClick(updates, Qt::Key_Down);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
    ASSERT_EQ(QApplication::focusWidget(), about);
    bool opened = false;
    TModalDriver driver([] { return static_cast<QWidget*>(frmAbout); },
                        [&opened](QWidget* box) {
                            opened = true;
                            QTest::keyClick(box, Qt::Key_Escape);
                        });
    QTest::keyClick(about, Qt::Key_Return);
    ASSERT_TRUE(driver.WaitDone());
    EXPECT_TRUE(opened);

    // The tree takes the focus and opens its context menu from the keyboard.
    EXPECT_TRUE(frmMain->TV->focusPolicy() & Qt::TabFocus);
    frmMain->TV->setFocus(Qt::TabFocusReason);
    QTest::keyClick(frmMain->TV, Qt::Key_F10, Qt::ShiftModifier);
    ASSERT_TRUE(WaitUntil([] { return frmMain->TVContextMenu->isVisible(); }, 1000)) << "Shift+F10";
    frmMain->TVContextMenu->hide();
    // The Shift release went to the open menu: let it go here, or later cases would see Shift held.
    QTest::keyEvent(QTest::Release, frmMain->TV, Qt::Key_Shift, Qt::NoModifier);
    ASSERT_EQ(QApplication::keyboardModifiers(), Qt::NoModifier);
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(4, 4), frmMain->TV->mapToGlobal(QPoint(4, 4)));
    QApplication::sendEvent(frmMain->TV, &menuKey);
    ASSERT_TRUE(WaitUntil([] { return frmMain->TVContextMenu->isVisible(); }, 1000)) << "Menu key";
    frmMain->TVContextMenu->hide();
}

