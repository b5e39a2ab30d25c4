// The main window: browser, group bar, menus, toolbar, message log and the two remembered choices.
#include "app/mainU.h"

#include "app/Forms.h"
#include "app/HelpLinks.h"
#include "app/messageU.h"
#include "app/passU.h"
#include "app/Application.h"
#include "app/settingsU.h"
#include "browse/DriveBar.h"
#include "browse/EncryptedMark.h"
#include "browse/FileSearch.h"
#include "browse/FolderTree.h"
#include "browse/History.h"
#include "browse/ShellTreeModel.h"
#include "encryption/Algorithms.h"
#include "encryption/passwordU.h"
#include "platform/SettingsStore.h"
#include "platform/Shell.h"
#include "wipe/ShredRuns.h"
#include "wipe/funkcije_u.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QRadioButton>
#include <QScreen>
#include <QScrollArea>
#include <QShortcut>
#include <QSplitter>
#include <QStatusBar>
#include <QStyle>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QVBoxLayout>

#include <exception>

namespace {

std::string NativePath(const QString& path)
{
    return QFile::encodeName(path).toStdString();
}

QString WithoutTrailingSeparator(QString path)
{
    if (path.size() > 1 && path.endsWith('/')) {
        path.chop(1);
    }
    return path;
}

// The program password check at start-up. The prompt and the stored digest belong to the
// settings; this is the one place where the main window asks for them.
bool StartupPasswordAccepted()
{
    // Start-up asks before the window is first shown; this answers at once after that.
    return CheckProgramPassword();
}
} // namespace

TRadioGroup::TRadioGroup(const QString& title, const QStringList& items, QWidget* parent) : QGroupBox(title, parent)
{
    setAccessibleName(title.trimmed());
    m_buttons = new QButtonGroup(this);
    auto* layout = new QVBoxLayout(this);
    for (int i = 0; i < items.size(); ++i) {
        auto* button = new QRadioButton(items[i], this);
        button->setObjectName(QString("rdSource%1").arg(i));
        m_buttons->addButton(button, i);
        layout->addWidget(button);
    }
}

int TRadioGroup::ItemIndex() const
{
    return m_buttons->checkedId();
}

void TRadioGroup::SetItemIndex(int index)
{
    if (QAbstractButton* button = m_buttons->button(index)) {
        button->setChecked(true);
    }
}

TGroupBar::TGroupBar(QWidget* parent) : QWidget(parent)
{
    setObjectName("GBar");
    setAccessibleName("Commands");
    m_column = new QVBoxLayout(this);
    m_column->setContentsMargins(4, 4, 4, 4);
    m_column->setSpacing(2);
    m_column->addStretch();
}

void TGroupBar::AddGroup(const QString& name, const QString& title)
{
    auto* header = new QToolButton(this);
    header->setObjectName(name + "Title");
    header->setText(title);
    header->setAccessibleName(title);
    header->setCheckable(true);
    header->setChecked(true);
    header->setAutoRaise(true);
    header->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    header->setArrowType(Qt::DownArrow);
    header->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    QFont bold = header->font();
    bold.setBold(true);
    header->setFont(bold);
    m_group = new QWidget(this);
    m_group->setObjectName(name);
    m_group->setAccessibleName(title);
    auto* items = new QVBoxLayout(m_group);
    items->setContentsMargins(8, 0, 0, 6);
    items->setSpacing(0);
    QWidget* group = m_group;
    connect(header, &QToolButton::toggled, group, [header, group](bool open) {
        group->setVisible(open);
        header->setArrowType(open ? Qt::DownArrow : Qt::RightArrow);
    });
    header->installEventFilter(this);
    m_column->insertWidget(m_column->count() - 1, header);
    m_column->insertWidget(m_column->count() - 1, m_group);
    m_groupName = name;
    m_items = 0;
}

QToolButton* TGroupBar::AddItem(const QString& caption, const QIcon& icon)
{
    auto* item = new QToolButton(m_group);
    item->setObjectName(QString("%1Items%2").arg(m_groupName).arg(m_items++));
    item->setText(caption);
    item->setAccessibleName(caption);
    item->setIcon(icon);
    item->setAutoRaise(true);
    item->setFocusPolicy(Qt::StrongFocus);
    item->installEventFilter(this);
    item->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    item->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_group->layout()->addWidget(item);
    return item;
}

QToolButton* TGroupBar::Item(const QString& name) const
{
    return findChild<QToolButton*>(name);
}

bool TGroupBar::eventFilter(QObject* watched, QEvent* event)
{
    auto* entry = qobject_cast<QToolButton*>(watched);
    if (entry == nullptr || event->type() != QEvent::KeyPress) {
        return QWidget::eventFilter(watched, event);
    }
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
        // A tool button answers only to Space by itself; in this list Enter is what users press.
        entry->animateClick();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

const std::vector<TCommand>& TfrmMain::Commands()
{
    static const std::vector<TCommand> commands = {
        {"Encrypt", "pEncryptItems0", "mEncryption1", nullptr, &TfrmMain::pEncryptItems0Click},
        {"Decrypt", "pEncryptItems1", "mDecryption1", nullptr, &TfrmMain::pEncryptItems1Click},
        {"Delete", "gToolsItems0", "mDeleteFile", nullptr, &TfrmMain::gToolsItems0Click},
        {"Shred", "gToolsItems1", "mShredFile", nullptr, &TfrmMain::gToolsItems1Click},
        {"Launch", "gToolsItems2", "mLaunch1", nullptr, &TfrmMain::gToolsItems2Click},
        {"Properties", "gToolsItems3", "mObjectProperties1", nullptr, &TfrmMain::gToolsItems3Click},
        {"Settings", "pSettingsItems0", "mEncryptionSettings1", nullptr, &TfrmMain::pSettingsItems0Click},
        {"Online help", "pHelpItems0", "mOnlinHelp1", "bHelp", &TfrmMain::pHelpItems0Click},
        {"Update check", "pHelpItems1", "mCheckforupdates1", "bUpdate", &TfrmMain::pHelpItems1Click},
        {"Learn more", "pHelpItems3", "mLearnmore1", nullptr, &TfrmMain::pHelpItems3Click},
        {"About", "pHelpItems4", "mAbout1", "bAbout", &TfrmMain::pHelpItems4Click},
        {"Back", nullptr, nullptr, "bLast", &TfrmMain::bLastClick},
        {"Next", nullptr, nullptr, "bNext", &TfrmMain::bNextClick},
        {"Refresh", nullptr, nullptr, "bRefresh", &TfrmMain::bRefreshClick},
        {"Explorer", nullptr, nullptr, "bExplorer", &TfrmMain::bExplorerClick},
    };
    return commands;
}

TfrmMain::TfrmMain(QWidget* parent) : QMainWindow(parent)
{
    setObjectName("frmMain");
    setWindowTitle("Vellumox v1.5");
    setAccessibleName("Vellumox v1.5");
    resize(785, 560);

    VirtualShellHistory1 = new TNavigationHistory(this);
    VirtualShellMRU1 = new TRecentFolders(this);
    JVS = new TFileSearch(this);
    Markers = new TMarkerCache(this);

    BuildMenus();
    BuildToolBar();

    GBar = new TGroupBar();
    BuildGroupBar();
    auto* groupScroll = new QScrollArea();
    groupScroll->setObjectName("GBarScroll");
    groupScroll->setAccessibleName("Commands");
    groupScroll->setWidget(GBar);
    groupScroll->setWidgetResizable(true);
    groupScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto* browser = new QWidget();
    browser->setObjectName("pnlBrowser");
    auto* browserLayout = new QVBoxLayout(browser);
    browserLayout->setContentsMargins(0, 0, 0, 0);
    browserLayout->setSpacing(0);
    VirtualDriveToolbar1 = new TDriveBar(browser);
    TV = new TFolderTree(browser);
    VirtualDriveToolbar1->SetDrives(TShellTreeModel::DriveRoots());
    PopupMenuMRU = new QMenu("Recent Folders", this);
    PopupMenuMRU->setObjectName("PopupMenuMRU");
    VirtualDriveToolbar1->AddMenuButton("Recent Folders", PopupMenuMRU);
    browserLayout->addWidget(VirtualDriveToolbar1);
    browserLayout->addWidget(TV, 1);

    LVMessages = new TMessageLog();
    LVMessages->setAccessibleName("Message log");
    LVMessages->header()->setAccessibleName("Message log columns");
    auto* centre = new QSplitter(Qt::Vertical);
    centre->setObjectName("Splitter2");
    centre->addWidget(browser);
    centre->addWidget(LVMessages);
    centre->setStretchFactor(0, 4);
    centre->setStretchFactor(1, 1);
    centre->setSizes({360, 90});

    auto* right = new QWidget();
    right->setObjectName("pnlRight");
    auto* rightLayout = new QVBoxLayout(right);
    rdSource = new TRadioGroup(" Source File Action ", {"Leave", "Delete", "Shred"}, right);
    rdSource->setObjectName("rdSource");
    rdSource->SetItemIndex(1);
    auto* algorithmBox = new QGroupBox(" Algorithm ", right);
    algorithmBox->setObjectName("GroupBox1");
    algorithmBox->setAccessibleName("Algorithm");
    cmbAlgorithm = new QComboBox(algorithmBox);
    cmbAlgorithm->setObjectName("cmbAlgorithm");
    cmbAlgorithm->setAccessibleName("Algorithm");
    cmbAlgorithm->setEditable(false);
    for (int i = 0; i < kAlgorithmCount; ++i) {
        const std::string_view caption = AlgorithmAt(i).Caption;
        cmbAlgorithm->addItem(QString::fromUtf8(caption.data(), static_cast<qsizetype>(caption.size())));
    }
    cmbAlgorithm->setCurrentIndex(0);
    auto* algorithmLayout = new QVBoxLayout(algorithmBox);
    algorithmLayout->addWidget(cmbAlgorithm);
    rightLayout->addWidget(rdSource);
    rightLayout->addWidget(algorithmBox);
    rightLayout->addStretch();

    m_mainSplitter = new QSplitter(Qt::Horizontal, this);
    m_mainSplitter->setObjectName("Splitter1");
    m_mainSplitter->addWidget(groupScroll);
    m_mainSplitter->addWidget(centre);
    m_mainSplitter->addWidget(right);
    m_mainSplitter->setCollapsible(0, false);
    m_mainSplitter->setCollapsible(1, false);
    m_mainSplitter->setCollapsible(2, true);
    m_mainSplitter->setStretchFactor(1, 1);
    m_mainSplitter->setSizes({161, 460, 150});
    setCentralWidget(m_mainSplitter);

    StatusBar1 = new QStatusBar(this);
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setAccessibleName("Status");
#ifdef VX_VENDOR_SITE
    m_statusLink = new QLabel(VX_VENDOR_SITE, StatusBar1);
#else
    m_statusLink = new QLabel("Home page", StatusBar1);
#endif
    m_statusLink->setObjectName("StatusBar1Panel0");
    m_statusLink->setAccessibleName("Home page");
    m_statusLink->setCursor(Qt::PointingHandCursor);
    m_statusLink->installEventFilter(this);
    m_statusPath = new QLabel(StatusBar1);
    m_statusPath->setObjectName("StatusBar1Panel1");
    m_statusPath->setAccessibleName("Selected item");
    StatusBar1->addWidget(m_statusLink);
    StatusBar1->addWidget(m_statusPath, 1);
    setStatusBar(StatusBar1);

    TVContextMenu = new QMenu(this);
    TVContextMenu->setObjectName("TVContextMenu");
    m_rename = new QAction("Rename", this);
    m_rename->setObjectName("mRename");
    m_rename->setShortcut(Qt::Key_F2);
    m_rename->setShortcutContext(Qt::WidgetShortcut);
    TV->addAction(m_rename);
    connect(m_rename, &QAction::triggered, this, [this] {
        if (!TV->Model()->ReadOnly() && TV->currentIndex().isValid()) {
            TV->edit(TV->currentIndex().siblingAtColumn(TShellTreeModel::ColName));
        }
    });

    TV->PaintText = [this](const QModelIndex& node, QFont& font, QColor& color) { TVPaintText(node, font, color); };
    TV->MayExecute = [this](const QModelIndex& node) { return TVShellExecute(node); };
    connect(TV, &TFolderTree::NodeChanged, this, &TfrmMain::NodeChanged);
    connect(TV, &QWidget::customContextMenuRequested, this, &TfrmMain::ShowContextMenu);
    connect(TV, &TFolderTree::TransferFailed, this, [this](const QStringList& reasons) {
        for (const QString& reason : reasons) {
            LVMessages->AddLine(reason, 1);
        }
    });
    connect(Markers, &TMarkerCache::Known, TV->viewport(), qOverload<>(&QWidget::update));
    connect(VirtualDriveToolbar1, &TDriveBar::DriveClicked, this, &TfrmMain::GoTo);
    connect(PopupMenuMRU, &QMenu::aboutToShow, this,
            [this] { VirtualShellMRU1->FillMenu(PopupMenuMRU, [this](const QString& folder) { GoTo(folder); }); });

    ConnectCommands();
    auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    escape->setObjectName("EscapeCloses");
    escape->setContext(Qt::WindowShortcut);
    // A rename in place takes Escape first: the item editor claims the key before any shortcut.
    connect(escape, &QShortcut::activated, this, &QWidget::close);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

TfrmMain::~TfrmMain()
{
    // The tree outlives this part of the window while the base class deletes its children, and may
    // still paint or execute an item then: it must not call back into a window that is gone.
    TV->PaintText = nullptr;
    TV->MayExecute = nullptr;
    disconnect(TV, nullptr, this, nullptr);
}

void TfrmMain::BuildMenus()
{
    MainMenu1 = menuBar();
    MainMenu1->setObjectName("MainMenu1");
    MainMenu1->setAccessibleName("Main menu");
    // The & marks each menu's Alt key; it is not shown as text.
    auto menu = [this](const char* name, const char* caption) {
        QMenu* m = MainMenu1->addMenu(caption);
        m->setObjectName(name);
        return m;
    };
    auto item = [this](QMenu* m, const char* name, const char* caption) {
        QAction* action = m->addAction(caption);
        action->setObjectName(name);
        return action;
    };
    QMenu* encryption = menu("Encryption1", "&Encryption");
    item(encryption, "mEncryption1", "&Encrypt");
    item(encryption, "mDecryption1", "&Decrypt");
    QMenu* tools = menu("Tools1", "&Tools");
    item(tools, "mDeleteFile", "&Delete File");
    item(tools, "mShredFile", "&Shred File");
    item(tools, "mLaunch1", "&Launch File");
    item(tools, "mObjectProperties1", "Object &Properties");
    QMenu* settings = menu("Settings1", "&Settings");
    item(settings, "mEncryptionSettings1", "&Encryption Settings");
    QMenu* help = menu("Help1", "&Help");
    item(help, "mOnlinHelp1", "Online &Help");
    item(help, "mCheckforupdates1", "Check for &updates");
    item(help, "mLearnmore1", "&Learn more...");
    item(help, "mAbout1", "&About");
}

void TfrmMain::BuildToolBar()
{
    ToolBar1 = addToolBar("Toolbar");
    ToolBar1->setObjectName("ToolBar1");
    ToolBar1->setAccessibleName("Toolbar");
    ToolBar1->setMovable(false);
    ToolBar1->setFloatable(false);
    ToolBar1->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    ToolBar1->setIconSize(QSize(24, 24));
    auto button = [this](QToolButton*& member, const char* name, const char* caption, QStyle::StandardPixmap icon) {
        member = new QToolButton(ToolBar1);
        member->setObjectName(name);
        member->setText(caption);
        member->setAccessibleName(QString(caption).trimmed());
        member->setIcon(style()->standardIcon(icon));
        member->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        member->setAutoRaise(true);
        member->setFocusPolicy(Qt::StrongFocus);
        return ToolBar1->addWidget(member);
    };
    button(bLast, "bLast", "Back", QStyle::SP_ArrowBack);
    button(bNext, "bNext", "Next", QStyle::SP_ArrowForward);
    ToolBar1->addSeparator();
    button(bRefresh, "bRefresh", "Refresh", QStyle::SP_BrowserReload);
    button(bExplorer, "bExplorer", "Explorer", QStyle::SP_DirOpenIcon);
    ToolBar1->addSeparator();
    button(bHelp, "bHelp", "Online Help", QStyle::SP_MessageBoxQuestion);
    button(bUpdate, "bUpdate", " Update ", QStyle::SP_ArrowUp);
    // The donation button exists but is never shown and does nothing.
    button(bDonate, "bDonate", "Donate", QStyle::SP_DialogYesButton)->setVisible(false);
    button(bAbout, "bAbout", "About", QStyle::SP_MessageBoxInformation);
}

void TfrmMain::BuildGroupBar()
{
    QStyle* s = style();
    GBar->AddGroup("pEncrypt", "Encription");
    GBar->AddItem("Encrypt", s->standardIcon(QStyle::SP_DialogApplyButton));
    GBar->AddItem("Decrypt", s->standardIcon(QStyle::SP_DialogOpenButton));
    GBar->AddGroup("gTools", "Tools");
    GBar->AddItem("Delete Files", s->standardIcon(QStyle::SP_TrashIcon));
    GBar->AddItem("Shred Files", s->standardIcon(QStyle::SP_DialogDiscardButton));
    GBar->AddItem("Launch File", s->standardIcon(QStyle::SP_MediaPlay));
    GBar->AddItem("Object Properties", s->standardIcon(QStyle::SP_FileDialogInfoView));
    GBar->AddGroup("pSettings", "Settings");
    GBar->AddItem("Encryption Settings", s->standardIcon(QStyle::SP_FileDialogDetailedView));
    GBar->AddGroup("pHelp", "Help");
    GBar->AddItem("Online Help", s->standardIcon(QStyle::SP_MessageBoxQuestion));
    GBar->AddItem("Check for updates", s->standardIcon(QStyle::SP_ArrowUp));
    GBar->AddItem("Make Donation", s->standardIcon(QStyle::SP_DialogYesButton))->setVisible(false);
    GBar->AddItem("Learn more...", s->standardIcon(QStyle::SP_MessageBoxQuestion));
    GBar->AddItem("About", s->standardIcon(QStyle::SP_MessageBoxInformation));
}

void TfrmMain::ConnectCommands()
{
    const auto& commands = Commands();
    for (std::size_t i = 0; i < commands.size(); ++i) {
        for (QObject* route : Routes(commands[i].Name)) {
            if (auto* action = qobject_cast<QAction*>(route)) {
                connect(action, &QAction::triggered, this, [this, i] { RunCommand(i); });
            } else if (auto* button = qobject_cast<QAbstractButton*>(route)) {
                connect(button, &QAbstractButton::clicked, this, [this, i] { RunCommand(i); });
            }
        }
    }
}

QList<QObject*> TfrmMain::Routes(const QString& name) const
{
    QList<QObject*> routes;
    for (const TCommand& command : Commands()) {
        if (name != command.Name) {
            continue;
        }
        if (command.GroupItem != nullptr) {
            routes << GBar->Item(command.GroupItem);
        }
        if (command.MenuAction != nullptr) {
            routes << MainMenu1->findChild<QAction*>(command.MenuAction);
        }
        if (command.ToolButton != nullptr) {
            routes << ToolBar1->findChild<QToolButton*>(command.ToolButton);
        }
    }
    routes.removeAll(nullptr);
    return routes;
}

void TfrmMain::RunCommand(std::size_t index)
{
    const TCommand& command = Commands().at(index);
    try {
        if (CommandHook && CommandHook(command)) {
            return;
        }
        (this->*command.Handler)();
    } catch (const std::exception& error) {
        ShowMsg(QString::fromLocal8Bit(error.what()), kMsgError, kButtonsOk);
    } catch (...) {
        ShowMsg("Unknown error", kMsgError, kButtonsOk);
    }
}

void TfrmMain::SetCommandEnabled(const QString& name, bool enabled)
{
    for (QObject* route : Routes(name)) {
        if (auto* action = qobject_cast<QAction*>(route)) {
            action->setEnabled(enabled);
        } else if (auto* widget = qobject_cast<QWidget*>(route)) {
            widget->setEnabled(enabled);
        }
    }
}

bool TfrmMain::CommandEnabled(const QString& name) const
{
    const QList<QObject*> routes = Routes(name);
    return !routes.isEmpty() && std::all_of(routes.begin(), routes.end(), [](QObject* route) {
        if (auto* action = qobject_cast<QAction*>(route)) {
            return action->isEnabled();
        }
        return qobject_cast<QWidget*>(route)->isEnabled();
    });
}

bool TfrmMain::FileCommandsLocked() const
{
    return m_shredRunning || ShredRunning();
}

void TfrmMain::ApplyEnabling()
{
    const bool locked = FileCommandsLocked();
    for (const char* name : {"Encrypt", "Decrypt", "Delete", "Shred"}) {
        SetCommandEnabled(name, m_wantEncrypt && !locked);
    }
    SetCommandEnabled("Launch", m_wantLaunch);
    TV->Model()->SetReadOnly(locked);
    m_rename->setEnabled(!locked);
}

void TfrmMain::ShredRunStateChanged(bool running)
{
    m_shredRunning = running;
    ApplyEnabling();
}

void TfrmMain::showEvent(QShowEvent* event)
{
    QMainWindow::showEvent(event);
    if (!m_shownOnce) {
        m_shownOnce = true;
        RestoreChoices();
        FormShow();
    }
}

void TfrmMain::closeEvent(QCloseEvent* event)
{
    try {
        SaveChoices();
    } catch (const std::exception& error) {
        // The program still ends; the user learns why the choices were not kept.
        ShowErrorReport(QString::fromStdString(error.what()));
    }
    QMainWindow::closeEvent(event);
}

bool TfrmMain::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_statusLink && event->type() == QEvent::MouseButtonRelease) {
        // StatusBar1Click
        OpenHomePage();
        return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfrmMain::RestoreChoices()
{
    int algorithm = cmbAlgorithm->currentIndex();
    int source = rdSource->ItemIndex();
    LoadMainChoices(algorithm, source);
    cmbAlgorithm->setCurrentIndex(algorithm);
    rdSource->SetItemIndex(source);
}

void TfrmMain::SaveChoices()
{
    SaveMainChoices(cmbAlgorithm->currentIndex(), rdSource->ItemIndex());
}

void TfrmMain::FormShow()
{
    if (frmSettings != nullptr && frmSettings->AskForPassword->isChecked() && !StartupPasswordAccepted()) {
        // A wrong or cancelled program password ends the program without a word.
        hide();
        QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
        return;
    }
    TVChange(TV->FirstNode());
    SetCommandEnabled("Properties", false);
}

void TfrmMain::NodeChanged(const QModelIndex& node)
{
    if (node.isValid()) {
        const QString path = TV->PathOf(node);
        m_statusPath->setText(path);
        if (!m_navigating) {
            const QString folder = TV->Model()->IsDir(node) ? path : QFileInfo(path).path();
            VirtualShellHistory1->Add(folder);
            VirtualShellMRU1->Add(folder);
        }
    }
    TVChange(node);
}

void TfrmMain::TVChange(const QModelIndex& node)
{
    if (!isVisible()) {
        return;
    }
    bLast->setEnabled(VirtualShellHistory1->CanGoBack());
    bNext->setEnabled(VirtualShellHistory1->CanGoForward());
    const int n = TV->SelectedCount();
    SetCommandEnabled("Properties", n < 2);
    if (!node.isValid()) {
        return;
    }
    const QString path = TV->PathOf(node);
    // Mount points stand for drive roots here; a link stands for a shortcut.
    const bool eligible = !TV->Model()->IsRoot(node) && !TV->Model()->IsMountPoint(path) && !TV->Model()->IsLink(node);
    m_wantEncrypt = eligible;
    m_wantLaunch = eligible && !IsDirectory(NativePath(path)) && n < 2;
    ApplyEnabling();
}

void TfrmMain::TVPaintText(const QModelIndex& node, QFont& font, QColor& color)
{
    if (!isVisible()) {
        return;
    }
    const QString path = TV->PathOf(node);
    // The name's case is kept for the test itself: paths on this system are case-sensitive.
    if (path.size() < 4 || path.startsWith(':')) {
        return;
    }
    if (Markers->Query(path) == TMarkState::Encrypted) {
        color = QColor(255, 0, 0);
        font.setBold(true);
    }
}

bool TfrmMain::TVShellExecute(const QModelIndex& node)
{
    if (TV->SelectedCount() >= 2) {
        return false;
    }
    const QString path = WithoutTrailingSeparator(TV->PathOf(node));
    const QFileInfo info(path);
    return (info.exists() || info.isSymLink()) && !IsDirectory(NativePath(path));
}

std::vector<std::string> TfrmMain::Selection() const
{
    std::vector<std::string> paths;
    for (const QString& path : TV->SelectedItems()) {
        paths.push_back(NativePath(path));
    }
    return paths;
}

void TfrmMain::RunEncryption(bool decrypt)
{
    if (FileCommandsLocked()) {
        return;
    }
    const std::vector<std::string> items = Selection();
    frmPass->WorkList.clear();
    for (auto item = items.rbegin(); item != items.rend(); ++item) {
        if (IsDirectory(*item)) {
            if (frmSettings->EncDirs->isChecked()) {
                for (std::string& file : JVS->Search(*item)) {
                    frmPass->WorkList.push_back(std::move(file));
                }
            }
        } else {
            frmPass->WorkList.push_back(*item);
        }
    }
    if (frmPass->WorkList.empty()) {
        ShowMsg(decrypt ? "No files selected to decrypt." : "No files selected to encrypt.", kMsgInformation,
                kButtonsOk);
        return;
    }
    frmPass->DecryptMode = decrypt;
    frmPass->exec();
}

void TfrmMain::pEncryptItems0Click()
{
    RunEncryption(false);
}

void TfrmMain::pEncryptItems1Click()
{
    RunEncryption(true);
}

void TfrmMain::gToolsItems0Click()
{
    if (!FileCommandsLocked()) {
        ConfirmAndDelete(Selection());
    }
}

void TfrmMain::gToolsItems1Click()
{
    if (!FileCommandsLocked()) {
        ConfirmAndShred(Selection());
    }
}

void TfrmMain::gToolsItems2Click()
{
    ShellOpen(WithoutTrailingSeparator(TV->SelectedPath()));
}

void TfrmMain::gToolsItems3Click()
{
    const QString path = TV->SelectedPath();
    if (path.isEmpty()) {
        return;
    }
    try {
        ShellShowProperties(path);
    } catch (...) {
        // Properties that cannot be shown are not worth a message.
    }
}

void TfrmMain::pSettingsItems0Click()
{
    frmSettings->exec();
}

void TfrmMain::pHelpItems0Click()
{
    OpenOnlineHelp();
}

void TfrmMain::pHelpItems1Click()
{
    OpenUpdateCheck();
}

void TfrmMain::pHelpItems3Click()
{
    OpenLearnMore();
}

void TfrmMain::pHelpItems4Click()
{
    ShowAboutBox(this);
}

void TfrmMain::GoTo(const QString& folder)
{
    m_navigating = true;
    TV->Reveal(folder);
    m_navigating = false;
    bLast->setEnabled(VirtualShellHistory1->CanGoBack());
    bNext->setEnabled(VirtualShellHistory1->CanGoForward());
}

void TfrmMain::bLastClick()
{
    const QString folder = VirtualShellHistory1->Back();
    if (!folder.isEmpty()) {
        GoTo(folder);
    }
}

void TfrmMain::bNextClick()
{
    const QString folder = VirtualShellHistory1->Next();
    if (!folder.isEmpty()) {
        GoTo(folder);
    }
}

void TfrmMain::bRefreshClick()
{
    TV->Refresh();
}

void TfrmMain::bExplorerClick()
{
    QString path = WithoutTrailingSeparator(TV->SelectedPath());
    if (path.isEmpty()) {
        return;
    }
    if (!QFileInfo(path).isDir()) {
        path = path.left(path.lastIndexOf('/') + 1);
    }
    ShellShowFolder(path);
}

void TfrmMain::ShowContextMenu(const QPoint& position)
{
    TVContextMenu->clear();
    for (const char* name :
         {"mEncryption1", "mDecryption1", "", "mDeleteFile", "mShredFile", "mLaunch1", "mObjectProperties1"}) {
        if (*name == '\0') {
            TVContextMenu->addSeparator();
        } else if (QAction* action = MainMenu1->findChild<QAction*>(name)) {
            TVContextMenu->addAction(action);
        }
    }
    TVContextMenu->addSeparator();
    TVContextMenu->addAction(m_rename);
    TVContextMenu->addMenu(PopupMenuMRU);
    TVContextMenu->popup(TV->viewport()->mapToGlobal(position));
}
