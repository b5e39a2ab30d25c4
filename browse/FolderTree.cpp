// The folder tree: selection rules, the item look hook, execution, drag and drop.
#include "browse/FolderTree.h"

#include "browse/ShellTreeModel.h"
#include "platform/Shell.h"

#include <QApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QScrollBar>
#include <QStyledItemDelegate>
#include <QUrl>

#include <algorithm>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>

namespace {
class TPaintTextDelegate final : public QStyledItemDelegate
{
public:
    explicit TPaintTextDelegate(TFolderTree* tree) : QStyledItemDelegate(tree), m_tree(tree) {}

    void Style(QStyleOptionViewItem* option, const QModelIndex& index) const { initStyleOption(option, index); }

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (index.column() != TShellTreeModel::ColName || !m_tree->PaintText) {
            return;
        }
        QColor color;
        m_tree->PaintText(index, option->font, color);
        if (color.isValid()) {
            option->palette.setColor(QPalette::Text, color);
        }
    }

private:
    TFolderTree* m_tree;
};

// The rows from the top of the tree down to index, for ordering items as the tree shows them.
std::vector<int> RowPath(QModelIndex index)
{
    std::vector<int> rows;
    while (index.isValid()) {
        rows.push_back(index.row());
        index = index.parent();
    }
    std::reverse(rows.begin(), rows.end());
    return rows;
}

bool ExistsNoFollow(const QString& path)
{
    struct stat st
    {
    };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0;
}

dev_t DeviceOf(const QString& path)
{
    struct stat st
    {
    };
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_dev : 0;
}

QStringList LocalPaths(const QMimeData* mime)
{
    QStringList paths;
    if (mime == nullptr || !mime->hasUrls()) {
        return paths;
    }
    for (const QUrl& url : mime->urls()) {
        if (!url.isLocalFile()) {
            return {};
        }
        paths << QDir::cleanPath(url.toLocalFile());
    }
    return paths;
}
} // namespace

QStringList TransferInto(const QString& folder, const QStringList& paths, bool move)
{
    namespace fs = std::filesystem;
    QStringList failures;
    for (const QString& source : paths) {
        const QString name = QFileInfo(source).fileName();
        const QString target = QDir(folder).filePath(name);
        if (source == target) {
            continue;
        }
        if (folder == source || folder.startsWith(source + '/')) {
            failures << QString("%1: a folder cannot go inside itself").arg(source);
            continue;
        }
        if (ExistsNoFollow(target)) {
            failures << QString("%1: %2 already exists").arg(source, target);
            continue;
        }
        std::error_code error;
        const fs::path from(source.toStdString());
        const fs::path to(target.toStdString());
        if (move) {
            fs::rename(from, to, error);
            if (!error) {
                continue;
            }
            if (error != std::errc::cross_device_link) {
                failures << QString("%1: %2").arg(source, QString::fromStdString(error.message()));
                continue;
            }
            error.clear();
        }
        fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, error);
        if (error) {
            failures << QString("%1: %2").arg(source, QString::fromStdString(error.message()));
            continue;
        }
        // A move across volumes removes the source only once its copy is complete.
        if (move) {
            fs::remove_all(from, error);
            if (error) {
                failures
                    << QString("%1: copied, but not removed: %2").arg(source, QString::fromStdString(error.message()));
            }
        }
    }
    return failures;
}

TFolderTree::TFolderTree(QWidget* parent) : QTreeView(parent)
{
    setObjectName("TV");
    setAccessibleName("Folders and files");
    m_model = new TShellTreeModel(this);
    setModel(m_model);
    setItemDelegate(new TPaintTextDelegate(this));
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setEditTriggers(QAbstractItemView::EditKeyPressed | QAbstractItemView::SelectedClicked);
    setDragEnabled(true);
    setAcceptDrops(true);
    setDropIndicatorShown(true);
    setDragDropMode(QAbstractItemView::DragDrop);
    setDefaultDropAction(Qt::MoveAction);
    setUniformRowHeights(true);
    setContextMenuPolicy(Qt::CustomContextMenu);
    header()->setAccessibleName("Columns");
    header()->setStretchLastSection(false);
    header()->setSectionResizeMode(TShellTreeModel::ColName, QHeaderView::Interactive);
    header()->resizeSection(TShellTreeModel::ColName, 260);
    connect(this, &QTreeView::activated, this, &TFolderTree::Execute);
}

QString TFolderTree::PathOf(const QModelIndex& node) const
{
    return m_model->PathOf(node);
}

QModelIndexList TFolderTree::SortedSelection() const
{
    QModelIndexList rows = selectionModel()->selectedRows(TShellTreeModel::ColName);
    std::sort(rows.begin(), rows.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return RowPath(a) < RowPath(b); });
    return rows;
}

QStringList TFolderTree::SelectedItems() const
{
    QStringList paths;
    QString focused;
    const QModelIndex current = currentIndex();
    for (const QModelIndex& index : SortedSelection()) {
        const QString path = m_model->PathOf(index);
        if (!ExistsNoFollow(path)) {
            continue;
        }
        if (current.isValid() && index.row() == current.row() && index.parent() == current.parent()) {
            focused = path;
        }
        paths << path;
    }
    if (!focused.isEmpty()) {
        paths.swapItemsAt(0, paths.indexOf(focused));
    }
    return paths;
}

int TFolderTree::SelectedCount() const
{
    return static_cast<int>(selectionModel()->selectedRows(TShellTreeModel::ColName).size());
}

QString TFolderTree::SelectedPath() const
{
    const QModelIndexList rows = SortedSelection();
    return rows.isEmpty() ? QString() : m_model->PathOf(rows.front());
}

QModelIndex TFolderTree::FirstNode() const
{
    return m_model->index(0, 0);
}

QModelIndex TFolderTree::Reveal(const QString& path)
{
    const QModelIndex index = m_model->IndexOf(path);
    if (!index.isValid()) {
        return index;
    }
    for (QModelIndex up = index.parent(); up.isValid(); up = up.parent()) {
        expand(up);
    }
    setCurrentIndex(index);
    scrollTo(index);
    return index;
}

void TFolderTree::SelectPaths(const QStringList& paths)
{
    if (paths.isEmpty()) {
        return;
    }
    const QModelIndex first = Reveal(paths.front());
    if (!first.isValid()) {
        return;
    }
    for (const QString& path : paths.mid(1)) {
        const QModelIndex index = m_model->IndexOf(path);
        if (index.isValid() && index.parent() == first.parent()) {
            selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
        }
    }
}

void TFolderTree::Refresh()
{
    const int top = verticalScrollBar()->value();
    const int left = horizontalScrollBar()->value();
    m_model->Refresh();
    verticalScrollBar()->setValue(top);
    horizontalScrollBar()->setValue(left);
}

QStyleOptionViewItem TFolderTree::StyleOf(const QModelIndex& index) const
{
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    static_cast<TPaintTextDelegate*>(itemDelegate())->Style(&option, index);
    return option;
}

void TFolderTree::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTreeView::currentChanged(current, previous);
    emit NodeChanged(current);
}

void TFolderTree::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected)
{
    QTreeView::selectionChanged(selected, deselected);
    if (m_restricting) {
        return;
    }
    // Only children of one folder may be selected together: that of the focused item.
    const QModelIndex current = currentIndex();
    const QModelIndexList rows = selectionModel()->selectedRows(TShellTreeModel::ColName);
    if (!rows.isEmpty()) {
        const QModelIndex folder = current.isValid() ? current.parent() : rows.front().parent();
        QItemSelection strays;
        for (const QModelIndex& row : rows) {
            if (row.parent() != folder) {
                strays.select(row, row);
            }
        }
        if (!strays.isEmpty()) {
            m_restricting = true;
            selectionModel()->select(strays, QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
            m_restricting = false;
        }
    }
    emit NodeChanged(current);
}

void TFolderTree::Execute(const QModelIndex& index)
{
    if (MayExecute && MayExecute(index.sibling(index.row(), TShellTreeModel::ColName))) {
        ShellOpen(m_model->PathOf(index));
    }
}

Qt::DropAction TFolderTree::ProposedAction(const QDropEvent* event, const QString& folder) const
{
    const Qt::KeyboardModifiers keys = event->modifiers();
    if (keys & Qt::ControlModifier) {
        return Qt::CopyAction;
    }
    if (keys & Qt::ShiftModifier) {
        return Qt::MoveAction;
    }
    // Within one volume a drop moves; onto another volume it copies.
    const QStringList paths = LocalPaths(event->mimeData());
    const dev_t target = DeviceOf(folder);
    const bool sameVolume =
        std::all_of(paths.begin(), paths.end(), [&](const QString& p) { return DeviceOf(p) == target; });
    return sameVolume ? Qt::MoveAction : Qt::CopyAction;
}

void TFolderTree::keyPressEvent(QKeyEvent* event)
{
    // The Menu key reaches the list as a context-menu event from the desktop; Shift+F10, the other
    // key users know for it, arrives as a plain key.
    if (event->key() != Qt::Key_F10 || event->modifiers() != Qt::ShiftModifier) {
        QTreeView::keyPressEvent(event);
        return;
    }
    // Without a focused item the menu opens at the top left of the list, as a click there would.
    const QModelIndex node = currentIndex();
    const QRect place = node.isValid() ? visualRect(node) : QRect();
    const QPoint at = place.isValid() ? QPoint(place.left() + 8, place.center().y()) : QPoint(8, 8);
    event->accept();
    emit customContextMenuRequested(at);
}

void TFolderTree::dragEnterEvent(QDragEnterEvent* event)
{
    if (m_model->ReadOnly() || LocalPaths(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    event->acceptProposedAction();
}

void TFolderTree::dragMoveEvent(QDragMoveEvent* event)
{
    if (m_model->ReadOnly() || LocalPaths(event->mimeData()).isEmpty()) {
        event->ignore();
        return;
    }
    QTreeView::dragMoveEvent(event);
    const QModelIndex target = indexAt(event->position().toPoint());
    if (target.isValid() && m_model->IsDir(target)) {
        event->setDropAction(ProposedAction(event, m_model->PathOf(target)));
        event->accept();
    } else if (event->source() != this) {
        // Dropped from elsewhere, not onto a folder: the items get selected.
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void TFolderTree::dropEvent(QDropEvent* event)
{
    const QStringList paths = LocalPaths(event->mimeData());
    if (m_model->ReadOnly() || paths.isEmpty()) {
        event->ignore();
        return;
    }
    const QModelIndex target = indexAt(event->position().toPoint());
    stopAutoScroll();
    setState(NoState);
    viewport()->update();
    if (target.isValid() && m_model->IsDir(target)) {
        const QString folder = m_model->PathOf(target);
        const Qt::DropAction action = ProposedAction(event, folder);
        const QStringList failures = TransferInto(folder, paths, action == Qt::MoveAction);
        // Copy, not Move: the dragging side must not remove anything itself.
        event->setDropAction(Qt::CopyAction);
        event->accept();
        m_model->Refresh();
        if (!failures.isEmpty()) {
            emit TransferFailed(failures);
        }
        return;
    }
    if (event->source() != this) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
        SelectPaths(paths);
        return;
    }
    event->ignore();
}
