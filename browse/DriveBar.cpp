// The drive bar's buttons.
#include "browse/DriveBar.h"

#include <QDir>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QToolButton>

TDriveBar::TDriveBar(QWidget* parent) : QToolBar(parent)
{
    setObjectName("VirtualDriveToolbar1");
    setAccessibleName("Drives");
    setMovable(false);
    setFloatable(false);
    setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    setIconSize(QSize(16, 16));
    auto* caption = new QLabel(" Drives", this);
    caption->setObjectName("labDrives");
    caption->setAccessibleName("Drives");
    addWidget(caption);
}

void TDriveBar::SetDrives(const QStringList& roots)
{
    for (QAction* action : m_drives) {
        removeAction(action);
        action->deleteLater();
    }
    m_drives.clear();
    const QIcon drive = QFileIconProvider().icon(QAbstractFileIconProvider::Drive);
    for (const QString& root : roots) {
        const QString caption = root == QDir::homePath() ? QString("Home")
                                : root == "/"            ? root
                                                         : QFileInfo(root).fileName();
        QAction* action = addAction(drive, caption);
        action->setObjectName("drive:" + root);
        action->setToolTip(root);
        connect(action, &QAction::triggered, this, [this, root] { emit DriveClicked(root); });
        if (auto* button = qobject_cast<QToolButton*>(widgetForAction(action))) {
            button->setAccessibleName(caption + " (" + root + ")");
        }
        m_drives << action;
    }
}

void TDriveBar::AddMenuButton(const QString& caption, QMenu* menu)
{
    auto* button = new QToolButton(this);
    button->setObjectName("btnRecent");
    button->setText(caption);
    button->setAccessibleName(caption);
    button->setMenu(menu);
    button->setPopupMode(QToolButton::InstantPopup);
    addWidget(button);
}
