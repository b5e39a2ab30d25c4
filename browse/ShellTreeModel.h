// The folder tree's model: the drives as roots, their folders and files, kept in step with the disk.
#pragma once

#include <QAbstractItemModel>
#include <QDateTime>
#include <QMultiHash>
#include <QSet>
#include <QStringList>

#include <memory>
#include <vector>

class QFileInfo;
class QFileSystemWatcher;
class QTimer;

// Folders load when first expanded and are watched from then on. Each root owns its own subtree,
// so a folder reachable from two roots (the home folder below "/" and as a root of its own) is two
// nodes that are both kept up to date.
class TShellTreeModel final : public QAbstractItemModel
{
    Q_OBJECT
public:
    enum TColumn
    {
        ColName,
        ColSize,
        ColType,
        ColModified,
        ColCount
    };
    static constexpr int PathRole = Qt::UserRole + 1;

    explicit TShellTreeModel(QObject* parent = nullptr);
    ~TShellTreeModel() override;

    // "/", the home folder, then the mounted volumes a user browses, in the order of the mount table.
    static QStringList DriveRoots();

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    bool hasChildren(const QModelIndex& parent = {}) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    // Renaming in place: refuses names with a separator and names already taken.
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    Qt::DropActions supportedDropActions() const override;
    Qt::DropActions supportedDragActions() const override;

    QString PathOf(const QModelIndex& index) const;
    bool IsRoot(const QModelIndex& index) const;
    bool IsLink(const QModelIndex& index) const;
    bool IsDir(const QModelIndex& index) const;
    // "/" and the root of every mounted volume, files bound onto others included.
    bool IsMountPoint(const QString& path) const;
    // The node of path below the root that holds it most closely, loading folders on the way;
    // invalid when the path is not there.
    QModelIndex IndexOf(const QString& path);
    // Re-reads every loaded folder and the list of roots; unchanged nodes stay, so expansion and
    // selection survive.
    void Refresh();
    // While read-only (a shred run goes on), nothing can be renamed or dropped.
    void SetReadOnly(bool readOnly);
    bool ReadOnly() const { return m_readOnly; }

    // One file-system item of the tree; what the index's internal pointer points to.
    struct TNode;

private:
    TNode* NodeOf(const QModelIndex& index) const;
    QModelIndex IndexOfNode(const TNode* node, int column = 0) const;
    std::vector<std::unique_ptr<TNode>> ListFolder(const TNode& folder) const;
    void Fetch(TNode* node);
    void Resync(TNode* node);
    void SortChildren(TNode* node);
    void Forget(TNode* node);
    void RePath(TNode* node, const QString& path);
    void Watch(TNode* node);
    void ReadMounts();
    void DirectoryChanged(const QString& path);
    void ResyncPending();

    std::vector<std::unique_ptr<TNode>> m_roots;
    QFileSystemWatcher* m_watcher = nullptr;
    QTimer* m_changeTimer = nullptr;
    QSet<QString> m_changed;
    QMultiHash<QString, TNode*> m_loaded;
    QSet<QString> m_mounts;
    bool m_readOnly = false;
};
