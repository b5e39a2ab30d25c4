// The folder tree's model over the file system, with change notification and renaming.
#include "browse/ShellTreeModel.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QLocale>
#include <QMimeData>
#include <QMimeDatabase>
#include <QPalette>
#include <QStorageInfo>
#include <QTextStream>
#include <QTimer>
#include <QUrl>

#include <algorithm>

struct TShellTreeModel::TNode
{
    QString path;
    QString name;
    // The extension, lower case: what "sorted by type" sorts by.
    QString suffix;
    TNode* parent = nullptr;
    int row = 0;
    bool root = false;
    bool dir = false;
    bool link = false;
    bool hidden = false;
    bool loaded = false;
    qint64 size = 0;
    QDateTime modified;
    mutable QString type;
    std::vector<std::unique_ptr<TNode>> children;
};

namespace {
QString SuffixOf(const QString& name)
{
    const qsizetype dot = name.lastIndexOf('.');
    return dot > 0 ? name.mid(dot + 1).toLower() : QString();
}

QString JoinPath(const QString& folder, const QString& name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

// Names that a folder's ".hidden" list marks hidden, one a line.
QSet<QString> HiddenNames(const QString& folder)
{
    QSet<QString> names;
    QFile list(JoinPath(folder, ".hidden"));
    if (list.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QTextStream in(&list);
        while (!in.atEnd()) {
            const QString line = in.readLine();
            if (!line.isEmpty()) {
                names.insert(line);
            }
        }
    }
    return names;
}

// What the desktop calls the file's type; "DAT File" for an extension it does not know.
QString TypeOf(const TShellTreeModel::TNode& node);

// Folders first, then by type (the extension stands for it), then by name.
bool Before(const std::unique_ptr<TShellTreeModel::TNode>& a, const std::unique_ptr<TShellTreeModel::TNode>& b);

const QIcon& FolderIcon()
{
    static const QIcon icon = QFileIconProvider().icon(QAbstractFileIconProvider::Folder);
    return icon;
}
const QIcon& FileIcon()
{
    static const QIcon icon = QFileIconProvider().icon(QAbstractFileIconProvider::File);
    return icon;
}
const QIcon& DriveIcon()
{
    static const QIcon icon = QFileIconProvider().icon(QAbstractFileIconProvider::Drive);
    return icon;
}
} // namespace

namespace {
bool Before(const std::unique_ptr<TShellTreeModel::TNode>& a, const std::unique_ptr<TShellTreeModel::TNode>& b)
{
    if (a->dir != b->dir) {
        return a->dir;
    }
    if (!a->dir) {
        const int bySuffix = a->suffix.compare(b->suffix);
        if (bySuffix != 0) {
            return bySuffix < 0;
        }
    }
    const int byName = QString::compare(a->name, b->name, Qt::CaseInsensitive);
    return byName != 0 ? byName < 0 : a->name < b->name;
}
} // namespace

namespace {
QString TypeOf(const TShellTreeModel::TNode& node)
{
    const QMimeType type = QMimeDatabase().mimeTypeForFile(node.name, QMimeDatabase::MatchExtension);
    if (!type.isDefault()) {
        return type.comment();
    }
    return node.suffix.isEmpty() ? QString("File") : node.suffix.toUpper() + " File";
}
} // namespace

TShellTreeModel::TShellTreeModel(QObject* parent) : QAbstractItemModel(parent)
{
    m_watcher = new QFileSystemWatcher(this);
    m_changeTimer = new QTimer(this);
    m_changeTimer->setSingleShot(true);
    // Runs change many files in a row; one re-read per burst is enough.
    m_changeTimer->setInterval(150);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &TShellTreeModel::DirectoryChanged);
    connect(m_changeTimer, &QTimer::timeout, this, &TShellTreeModel::ResyncPending);
    ReadMounts();
    int row = 0;
    for (const QString& path : DriveRoots()) {
        auto node = std::make_unique<TNode>();
        node->path = path;
        node->name = path;
        node->root = true;
        node->dir = true;
        node->row = row++;
        node->modified = QFileInfo(path).lastModified();
        m_roots.push_back(std::move(node));
    }
}

TShellTreeModel::~TShellTreeModel() = default;

QStringList TShellTreeModel::DriveRoots()
{
    QStringList roots{"/"};
    const QString home = QDir::homePath();
    if (home != "/" && QFileInfo(home).isDir()) {
        roots << home;
    }
    static const QSet<QByteArray> pseudo = {
        "proc",      "sysfs",    "tmpfs",      "devtmpfs", "devpts",      "cgroup",   "cgroup2", "overlay",
        "nsfs",      "squashfs", "securityfs", "debugfs",  "tracefs",     "pstore",   "bpf",     "mqueue",
        "hugetlbfs", "configfs", "fusectl",    "autofs",   "binfmt_misc", "efivarfs", "ramfs",   "rpc_pipefs"};
    static const QStringList system = {"/proc", "/sys", "/dev", "/run", "/boot", "/snap", "/var", "/etc", "/usr"};
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        const QString root = volume.rootPath();
        if (!volume.isValid() || roots.contains(root) || pseudo.contains(volume.fileSystemType()) ||
            !QFileInfo(root).isDir()) {
            continue;
        }
        const bool underSystem = std::any_of(system.begin(), system.end(), [&](const QString& prefix) {
            return root == prefix || root.startsWith(prefix + '/');
        });
        if (underSystem && !root.startsWith("/run/media/")) {
            continue;
        }
        roots << root;
    }
    return roots;
}

void TShellTreeModel::ReadMounts()
{
    m_mounts = {"/"};
    for (const QStorageInfo& volume : QStorageInfo::mountedVolumes()) {
        m_mounts.insert(volume.rootPath());
    }
}

TShellTreeModel::TNode* TShellTreeModel::NodeOf(const QModelIndex& index) const
{
    return index.isValid() ? static_cast<TNode*>(index.internalPointer()) : nullptr;
}

QModelIndex TShellTreeModel::IndexOfNode(const TNode* node, int column) const
{
    return node == nullptr ? QModelIndex() : createIndex(node->row, column, const_cast<TNode*>(node));
}

QModelIndex TShellTreeModel::index(int row, int column, const QModelIndex& parent) const
{
    if (row < 0 || column < 0 || column >= ColCount) {
        return {};
    }
    const TNode* folder = NodeOf(parent);
    const auto& list = folder == nullptr ? m_roots : folder->children;
    if (row >= static_cast<int>(list.size())) {
        return {};
    }
    return createIndex(row, column, list[static_cast<std::size_t>(row)].get());
}

QModelIndex TShellTreeModel::parent(const QModelIndex& child) const
{
    const TNode* node = NodeOf(child);
    return node == nullptr ? QModelIndex() : IndexOfNode(node->parent);
}

int TShellTreeModel::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0) {
        return 0;
    }
    const TNode* folder = NodeOf(parent);
    return static_cast<int>(folder == nullptr ? m_roots.size() : folder->children.size());
}

int TShellTreeModel::columnCount(const QModelIndex&) const
{
    return ColCount;
}

bool TShellTreeModel::hasChildren(const QModelIndex& parent) const
{
    const TNode* folder = NodeOf(parent);
    if (folder == nullptr) {
        return true;
    }
    return parent.column() <= 0 && folder->dir && (!folder->loaded || !folder->children.empty());
}

bool TShellTreeModel::canFetchMore(const QModelIndex& parent) const
{
    const TNode* folder = NodeOf(parent);
    return folder != nullptr && folder->dir && !folder->loaded;
}

void TShellTreeModel::fetchMore(const QModelIndex& parent)
{
    if (TNode* folder = NodeOf(parent); folder != nullptr && folder->dir && !folder->loaded) {
        Fetch(folder);
    }
}

std::vector<std::unique_ptr<TShellTreeModel::TNode>> TShellTreeModel::ListFolder(const TNode& folder) const
{
    std::vector<std::unique_ptr<TNode>> list;
    const QSet<QString> hiddenNames = HiddenNames(folder.path);
    const QFileInfoList entries =
        QDir(folder.path)
            .entryInfoList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::NoSort);
    list.reserve(static_cast<std::size_t>(entries.size()));
    for (const QFileInfo& info : entries) {
        auto node = std::make_unique<TNode>();
        node->name = info.fileName();
        node->suffix = SuffixOf(node->name);
        node->path = JoinPath(folder.path, node->name);
        node->parent = const_cast<TNode*>(&folder);
        node->link = info.isSymLink();
        node->dir = info.isDir();
        node->hidden = info.isHidden() || hiddenNames.contains(node->name);
        node->size = node->dir ? 0 : info.size();
        node->modified = info.lastModified();
        list.push_back(std::move(node));
    }
    std::sort(list.begin(), list.end(), Before);
    return list;
}

void TShellTreeModel::Watch(TNode* node)
{
    if (!m_loaded.contains(node->path)) {
        m_watcher->addPath(node->path);
    }
    m_loaded.insert(node->path, node);
}

void TShellTreeModel::Fetch(TNode* node)
{
    auto list = ListFolder(*node);
    node->loaded = true;
    Watch(node);
    if (list.empty()) {
        return;
    }
    beginInsertRows(IndexOfNode(node), 0, static_cast<int>(list.size()) - 1);
    node->children = std::move(list);
    for (std::size_t i = 0; i < node->children.size(); ++i) {
        node->children[i]->row = static_cast<int>(i);
    }
    endInsertRows();
}

void TShellTreeModel::Forget(TNode* node)
{
    for (auto& child : node->children) {
        Forget(child.get());
    }
    if (node->loaded) {
        m_loaded.remove(node->path, node);
        if (!m_loaded.contains(node->path)) {
            m_watcher->removePath(node->path);
        }
    }
}

void TShellTreeModel::SortChildren(TNode* node)
{
    auto& children = node->children;
    if (std::is_sorted(children.begin(), children.end(), Before)) {
        return;
    }
    const QModelIndex parentIndex = IndexOfNode(node);
    emit layoutAboutToBeChanged({QPersistentModelIndex(parentIndex)}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::stable_sort(children.begin(), children.end(), Before);
    for (std::size_t i = 0; i < children.size(); ++i) {
        children[i]->row = static_cast<int>(i);
    }
    for (const QModelIndex& old : before) {
        const TNode* moved = NodeOf(old);
        if (moved != nullptr && moved->parent == node && moved->row != old.row()) {
            changePersistentIndex(old, createIndex(moved->row, old.column(), const_cast<TNode*>(moved)));
        }
    }
    emit layoutChanged({QPersistentModelIndex(parentIndex)}, QAbstractItemModel::VerticalSortHint);
}

void TShellTreeModel::Resync(TNode* node)
{
    if (!node->loaded) {
        return;
    }
    if (!QFileInfo(node->path).isDir()) {
        // The folder itself went away; its parent's re-read removes it.
        return;
    }
    auto fresh = ListFolder(*node);
    QHash<QString, TNode*> byName;
    for (auto& entry : fresh) {
        byName.insert(entry->name, entry.get());
    }
    const QModelIndex parentIndex = IndexOfNode(node);
    auto& children = node->children;
    // Removed, or changed from file to folder or back: out.
    for (int row = static_cast<int>(children.size()) - 1; row >= 0; --row) {
        TNode* child = children[static_cast<std::size_t>(row)].get();
        const TNode* now = byName.value(child->name);
        if (now != nullptr && now->dir == child->dir && now->link == child->link) {
            continue;
        }
        beginRemoveRows(parentIndex, row, row);
        Forget(child);
        children.erase(children.begin() + row);
        for (std::size_t i = static_cast<std::size_t>(row); i < children.size(); ++i) {
            children[i]->row = static_cast<int>(i);
        }
        endRemoveRows();
    }
    // Kept: take the fresh details.
    QSet<QString> kept;
    for (auto& child : children) {
        kept.insert(child->name);
        const TNode* now = byName.value(child->name);
        if (now->size != child->size || now->modified != child->modified || now->hidden != child->hidden) {
            child->size = now->size;
            child->modified = now->modified;
            child->hidden = now->hidden;
            emit dataChanged(IndexOfNode(child.get(), 0), IndexOfNode(child.get(), ColCount - 1));
        }
    }
    // New: appended in one go, then put in order.
    std::vector<std::unique_ptr<TNode>> added;
    for (auto& entry : fresh) {
        if (!kept.contains(entry->name)) {
            added.push_back(std::move(entry));
        }
    }
    if (!added.empty()) {
        const int first = static_cast<int>(children.size());
        beginInsertRows(parentIndex, first, first + static_cast<int>(added.size()) - 1);
        for (auto& entry : added) {
            entry->row = static_cast<int>(children.size());
            children.push_back(std::move(entry));
        }
        endInsertRows();
        SortChildren(node);
    }
}

void TShellTreeModel::DirectoryChanged(const QString& path)
{
    m_changed.insert(path);
    if (!m_changeTimer->isActive()) {
        m_changeTimer->start();
    }
}

void TShellTreeModel::ResyncPending()
{
    const QSet<QString> changed = std::exchange(m_changed, {});
    for (const QString& path : changed) {
        // Looked up afresh each time: re-reading one folder can forget nodes of another.
        for (TNode* node : m_loaded.values(path)) {
            if (m_loaded.contains(path, node)) {
                Resync(node);
            }
        }
        // A folder that went away is taken out by its parent.
        const QString parentPath = QFileInfo(path).path();
        if (!QFileInfo(path).isDir()) {
            for (TNode* node : m_loaded.values(parentPath)) {
                Resync(node);
            }
        }
    }
}

void TShellTreeModel::Refresh()
{
    ReadMounts();
    const QStringList roots = DriveRoots();
    for (int row = static_cast<int>(m_roots.size()) - 1; row >= 0; --row) {
        if (!roots.contains(m_roots[static_cast<std::size_t>(row)]->path)) {
            beginRemoveRows({}, row, row);
            Forget(m_roots[static_cast<std::size_t>(row)].get());
            m_roots.erase(m_roots.begin() + row);
            for (std::size_t i = 0; i < m_roots.size(); ++i) {
                m_roots[i]->row = static_cast<int>(i);
            }
            endRemoveRows();
        }
    }
    for (const QString& path : roots) {
        const bool known = std::any_of(m_roots.begin(), m_roots.end(), [&](const auto& r) { return r->path == path; });
        if (!known) {
            const int row = static_cast<int>(m_roots.size());
            beginInsertRows({}, row, row);
            auto node = std::make_unique<TNode>();
            node->path = path;
            node->name = path;
            node->root = true;
            node->dir = true;
            node->row = row;
            m_roots.push_back(std::move(node));
            endInsertRows();
        }
    }
    const QStringList loaded = m_loaded.uniqueKeys();
    for (const QString& path : loaded) {
        for (TNode* node : m_loaded.values(path)) {
            if (m_loaded.contains(path, node)) {
                Resync(node);
            }
        }
    }
}

QVariant TShellTreeModel::data(const QModelIndex& index, int role) const
{
    const TNode* node = NodeOf(index);
    if (node == nullptr) {
        return {};
    }
    switch (role) {
    case Qt::DisplayRole:
        switch (index.column()) {
        case ColName:
            return node->name;
        case ColSize:
            return node->dir ? QString() : QLocale().formattedDataSize(node->size);
        case ColType:
            if (node->type.isEmpty()) {
                node->type = node->root   ? QString("Drive")
                             : node->link ? QString("Link")
                             : node->dir  ? QString("Folder")
                                          : TypeOf(*node);
            }
            return node->type;
        case ColModified:
            return QLocale().toString(node->modified, QLocale::ShortFormat);
        }
        return {};
    case Qt::EditRole:
        return index.column() == ColName ? QVariant(node->name) : QVariant();
    case Qt::DecorationRole:
        if (index.column() == ColName) {
            return node->root ? DriveIcon() : node->dir ? FolderIcon() : FileIcon();
        }
        return {};
    case Qt::ForegroundRole:
        if (node->hidden) {
            return QApplication::palette().color(QPalette::Disabled, QPalette::Text);
        }
        return {};
    case Qt::ToolTipRole:
        return index.column() == ColName ? QVariant(node->path) : QVariant();
    case Qt::TextAlignmentRole:
        return index.column() == ColSize ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    case PathRole:
        return node->path;
    }
    return {};
}

QVariant TShellTreeModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    static const char* const titles[ColCount] = {"Name", "Size", "Type", "Date Modified"};
    return section >= 0 && section < ColCount ? QVariant(QString(titles[section])) : QVariant();
}

Qt::ItemFlags TShellTreeModel::flags(const QModelIndex& index) const
{
    const TNode* node = NodeOf(index);
    if (node == nullptr) {
        return m_readOnly ? Qt::NoItemFlags : Qt::ItemIsDropEnabled;
    }
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
    if (!node->root) {
        result |= Qt::ItemIsDragEnabled;
        if (!m_readOnly && index.column() == ColName) {
            result |= Qt::ItemIsEditable;
        }
    }
    if (node->dir && !m_readOnly) {
        result |= Qt::ItemIsDropEnabled;
    }
    return result;
}

void TShellTreeModel::RePath(TNode* node, const QString& path)
{
    if (node->loaded) {
        m_loaded.remove(node->path, node);
        if (!m_loaded.contains(node->path)) {
            m_watcher->removePath(node->path);
        }
    }
    node->path = path;
    if (node->loaded) {
        Watch(node);
    }
    for (auto& child : node->children) {
        RePath(child.get(), JoinPath(path, child->name));
    }
}

bool TShellTreeModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    TNode* node = NodeOf(index);
    if (node == nullptr || node->root || m_readOnly || role != Qt::EditRole || index.column() != ColName) {
        return false;
    }
    const QString name = value.toString();
    if (name.isEmpty() || name == node->name || name == "." || name == ".." || name.contains('/')) {
        return false;
    }
    const QString target = JoinPath(node->parent->path, name);
    // QFile::rename never replaces an existing file.
    if (QFileInfo::exists(target) || QFileInfo(target).isSymLink() || !QFile::rename(node->path, target)) {
        return false;
    }
    node->name = name;
    node->suffix = SuffixOf(name);
    node->type.clear();
    RePath(node, target);
    emit dataChanged(IndexOfNode(node, 0), IndexOfNode(node, ColCount - 1));
    SortChildren(node->parent);
    return true;
}

QStringList TShellTreeModel::mimeTypes() const
{
    return {"text/uri-list"};
}

QMimeData* TShellTreeModel::mimeData(const QModelIndexList& indexes) const
{
    QList<QUrl> urls;
    for (const QModelIndex& index : indexes) {
        if (index.column() == ColName && NodeOf(index) != nullptr) {
            urls << QUrl::fromLocalFile(NodeOf(index)->path);
        }
    }
    auto* mime = new QMimeData();
    mime->setUrls(urls);
    return mime;
}

Qt::DropActions TShellTreeModel::supportedDropActions() const
{
    return Qt::CopyAction | Qt::MoveAction;
}

Qt::DropActions TShellTreeModel::supportedDragActions() const
{
    return Qt::CopyAction | Qt::MoveAction;
}

QString TShellTreeModel::PathOf(const QModelIndex& index) const
{
    const TNode* node = NodeOf(index);
    return node == nullptr ? QString() : node->path;
}

bool TShellTreeModel::IsRoot(const QModelIndex& index) const
{
    const TNode* node = NodeOf(index);
    return node != nullptr && node->root;
}

bool TShellTreeModel::IsLink(const QModelIndex& index) const
{
    const TNode* node = NodeOf(index);
    return node != nullptr && node->link;
}

bool TShellTreeModel::IsDir(const QModelIndex& index) const
{
    const TNode* node = NodeOf(index);
    return node != nullptr && node->dir;
}

bool TShellTreeModel::IsMountPoint(const QString& path) const
{
    return m_mounts.contains(path);
}

QModelIndex TShellTreeModel::IndexOf(const QString& rawPath)
{
    const QString path = QDir::cleanPath(rawPath);
    TNode* best = nullptr;
    for (auto& root : m_roots) {
        const QString prefix = root->path.endsWith('/') ? root->path : root->path + '/';
        if ((path == root->path || path.startsWith(prefix)) &&
            (best == nullptr || root->path.size() > best->path.size())) {
            best = root.get();
        }
    }
    if (best == nullptr) {
        return {};
    }
    const QStringList parts = path.mid(best->path.size()).split('/', Qt::SkipEmptyParts);
    TNode* node = best;
    for (const QString& part : parts) {
        if (!node->loaded) {
            Fetch(node);
        }
        const auto found = std::find_if(node->children.begin(), node->children.end(),
                                        [&](const auto& child) { return child->name == part; });
        if (found == node->children.end()) {
            return {};
        }
        node = found->get();
    }
    return IndexOfNode(node);
}

void TShellTreeModel::SetReadOnly(bool readOnly)
{
    m_readOnly = readOnly;
}
