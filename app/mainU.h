// The main window TfrmMain: the file browser, its commands, the message log and the two choices.
#pragma once

#include <QGroupBox>
#include <QMainWindow>
#include <QModelIndex>
#include <QStringList>

#include <functional>
#include <string>
#include <vector>

class QAction;
class QButtonGroup;
class QComboBox;
class QLabel;
class QMenu;
class QMenuBar;
class QSplitter;
class QStatusBar;
class QToolBar;
class QToolButton;
class QVBoxLayout;
class TDriveBar;
class TFileSearch;
class TFolderTree;
class TMarkerCache;
class TMessageLog;
class TNavigationHistory;
class TRecentFolders;

// A titled group of radio buttons addressed by index, like the source file action.
class TRadioGroup final : public QGroupBox
{
    Q_OBJECT
public:
    TRadioGroup(const QString& title, const QStringList& items, QWidget* parent = nullptr);
    int ItemIndex() const;
    void SetItemIndex(int index);

private:
    QButtonGroup* m_buttons = nullptr;
};

// The column of command groups at the window's left: each group a title that folds it and a list
// of flat item buttons named <group>Items<n>.
class TGroupBar final : public QWidget
{
    Q_OBJECT
public:
    explicit TGroupBar(QWidget* parent = nullptr);

    void AddGroup(const QString& name, const QString& title);
    // Adds an item to the group added last.
    QToolButton* AddItem(const QString& caption, const QIcon& icon);
    QToolButton* Item(const QString& name) const;

protected:
    // Enter runs the focused entry, as Space does.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QVBoxLayout* m_column = nullptr;
    QWidget* m_group = nullptr;
    QString m_groupName;
    int m_items = 0;
};

class TfrmMain;

// One command of the main window and every route that runs it. A route named nullptr is absent.
struct TCommand
{
    const char* Name;
    const char* GroupItem;
    const char* MenuAction;
    const char* ToolButton;
    void (TfrmMain::*Handler)();
};

class TfrmMain final : public QMainWindow
{
    Q_OBJECT
public:
    explicit TfrmMain(QWidget* parent = nullptr);
    ~TfrmMain() override;

    // The one table the group bar, the menus, the toolbar and the tests are built from.
    static const std::vector<TCommand>& Commands();

    TMessageLog* LVMessages = nullptr;
    QComboBox* cmbAlgorithm = nullptr;
    TRadioGroup* rdSource = nullptr;

    QMenuBar* MainMenu1 = nullptr;
    QToolBar* ToolBar1 = nullptr;
    QToolButton* bLast = nullptr;
    QToolButton* bNext = nullptr;
    QToolButton* bRefresh = nullptr;
    QToolButton* bExplorer = nullptr;
    QToolButton* bHelp = nullptr;
    QToolButton* bUpdate = nullptr;
    QToolButton* bDonate = nullptr;
    QToolButton* bAbout = nullptr;
    TGroupBar* GBar = nullptr;
    TDriveBar* VirtualDriveToolbar1 = nullptr;
    TFolderTree* TV = nullptr;
    QStatusBar* StatusBar1 = nullptr;
    QMenu* PopupMenuMRU = nullptr;
    QMenu* TVContextMenu = nullptr;
    TNavigationHistory* VirtualShellHistory1 = nullptr;
    TRecentFolders* VirtualShellMRU1 = nullptr;
    TFileSearch* JVS = nullptr;
    TMarkerCache* Markers = nullptr;

    // Re-reads the shown folders, keeping expanded folders, selection and scroll position. The runs
    // call it when they end.
    void bRefreshClick();

    // The shred run tells when it starts and ends: while it runs, commands that change files are
    // disabled.
    void ShredRunStateChanged(bool running);

    // The commands, each run by every route of its row in Commands().
    void pEncryptItems0Click();
    void pEncryptItems1Click();
    void gToolsItems0Click();
    void gToolsItems1Click();
    void gToolsItems2Click();
    void gToolsItems3Click();
    void pSettingsItems0Click();
    void pHelpItems0Click();
    void pHelpItems1Click();
    void pHelpItems3Click();
    void pHelpItems4Click();
    void bLastClick();
    void bNextClick();
    void bExplorerClick();

    void FormShow();
    void TVChange(const QModelIndex& node);
    void TVPaintText(const QModelIndex& node, QFont& font, QColor& color);
    bool TVShellExecute(const QModelIndex& node);

    // Runs the command of row index of Commands() as its routes do, reporting what escapes it.
    void RunCommand(std::size_t index);
    // Test seam: sees every command before it runs; returning true stops it.
    std::function<bool(const TCommand& command)> CommandHook;

    // Every route of the named command.
    QList<QObject*> Routes(const QString& name) const;
    bool CommandEnabled(const QString& name) const;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void BuildMenus();
    void BuildToolBar();
    void BuildGroupBar();
    void ConnectCommands();
    void SetCommandEnabled(const QString& name, bool enabled);
    void ApplyEnabling();
    void RunEncryption(bool decrypt);
    std::vector<std::string> Selection() const;
    bool FileCommandsLocked() const;
    void NodeChanged(const QModelIndex& node);
    void GoTo(const QString& folder);
    void ShowContextMenu(const QPoint& position);
    void RestoreChoices();
    void SaveChoices();

    QLabel* m_statusLink = nullptr;
    QLabel* m_statusPath = nullptr;
    QSplitter* m_mainSplitter = nullptr;
    QAction* m_rename = nullptr;
    bool m_shownOnce = false;
    bool m_navigating = false;
    bool m_shredRunning = false;
    // What the rules of TVChange ask for, before a shred run's lock is applied.
    bool m_wantEncrypt = true;
    bool m_wantLaunch = true;
};
