// The drive bar: a button for each root of the folder tree.
#pragma once

#include <QStringList>
#include <QToolBar>

class QMenu;

class TDriveBar final : public QToolBar
{
    Q_OBJECT
public:
    explicit TDriveBar(QWidget* parent = nullptr);

    // One button per root, replacing the previous ones.
    void SetDrives(const QStringList& roots);
    // Adds a button that opens menu (the recent folders).
    void AddMenuButton(const QString& caption, QMenu* menu);

signals:
    void DriveClicked(const QString& root);

private:
    QList<QAction*> m_drives;
};
