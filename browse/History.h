// Where the user has been: the Back/Next history and the list of recent folders.
#pragma once

#include <QObject>
#include <QStringList>

#include <functional>

class QMenu;

// The folders visited, in order, with a position that Back and Next move.
class TNavigationHistory final : public QObject
{
    Q_OBJECT
public:
    explicit TNavigationHistory(QObject* parent = nullptr);

    // Records folder as the newest place unless it already is the current one; the places after
    // the current one are dropped, as in a browser.
    void Add(const QString& folder);
    // The folder Back or Next leads to (the position moves), or empty when there is none.
    QString Back();
    QString Next();
    bool CanGoBack() const { return m_position > 0; }
    bool CanGoForward() const { return m_position + 1 < m_places.size(); }
    QString Current() const { return m_position >= 0 ? m_places[m_position] : QString(); }

private:
    QStringList m_places;
    qsizetype m_position = -1;
};

// The recently visited folders, newest first, offered in a pop-up menu.
class TRecentFolders final : public QObject
{
    Q_OBJECT
public:
    explicit TRecentFolders(QObject* parent = nullptr);

    void Add(const QString& folder);
    void Clear() { m_folders.clear(); }
    QStringList Folders() const { return m_folders; }
    // Fills menu anew: one entry per folder (choosing one calls go with it), then "Clear List...".
    void FillMenu(QMenu* menu, const std::function<void(const QString&)>& go);

private:
    QStringList m_folders;
};
