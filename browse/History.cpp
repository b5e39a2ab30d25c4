// The navigation history and the recent folders.
#include "browse/History.h"

#include <QMenu>

namespace {
constexpr qsizetype kMaxPlaces = 100;
constexpr qsizetype kMaxRecent = 10;
} // namespace

TNavigationHistory::TNavigationHistory(QObject* parent) : QObject(parent)
{
    setObjectName("VirtualShellHistory1");
}

void TNavigationHistory::Add(const QString& folder)
{
    if (folder.isEmpty() || folder == Current()) {
        return;
    }
    m_places.erase(m_places.begin() + (m_position + 1), m_places.end());
    m_places << folder;
    if (m_places.size() > kMaxPlaces) {
        m_places.removeFirst();
    }
    m_position = m_places.size() - 1;
}

QString TNavigationHistory::Back()
{
    if (!CanGoBack()) {
        return {};
    }
    return m_places[--m_position];
}

QString TNavigationHistory::Next()
{
    if (!CanGoForward()) {
        return {};
    }
    return m_places[++m_position];
}

TRecentFolders::TRecentFolders(QObject* parent) : QObject(parent)
{
    setObjectName("VirtualShellMRU1");
}

void TRecentFolders::Add(const QString& folder)
{
    if (folder.isEmpty()) {
        return;
    }
    m_folders.removeAll(folder);
    m_folders.prepend(folder);
    if (m_folders.size() > kMaxRecent) {
        m_folders.removeLast();
    }
}

void TRecentFolders::FillMenu(QMenu* menu, const std::function<void(const QString&)>& go)
{
    menu->clear();
    for (const QString& folder : m_folders) {
        QAction* entry = menu->addAction(folder);
        connect(entry, &QAction::triggered, menu, [go, folder] { go(folder); });
    }
    if (!m_folders.isEmpty()) {
        menu->addSeparator();
    }
    QAction* clear = menu->addAction("Clear List...");
    clear->setObjectName("ClearList");
    connect(clear, &QAction::triggered, this, &TRecentFolders::Clear);
}
