// The folder tree TV: the drives with their folders and files, selection, renaming, drag and drop.
#pragma once

#include <QStringList>
#include <QStyleOptionViewItem>
#include <QTreeView>

#include <functional>

class TShellTreeModel;

class TFolderTree final : public QTreeView
{
    Q_OBJECT
public:
    explicit TFolderTree(QWidget* parent = nullptr);

    TShellTreeModel* Model() const { return m_model; }

    // The selected items that still exist, in the tree's order, except that the focused item is
    // swapped into the first place (the first one takes its place).
    QStringList SelectedItems() const;
    // The number of selected items; every item of this tree is a file-system item.
    int SelectedCount() const;
    // The path of the first selected item in the tree's order, or empty.
    QString SelectedPath() const;
    QModelIndex FirstNode() const;
    QString PathOf(const QModelIndex& node) const;

    // Loads, expands to and selects path; invalid when it is not there.
    QModelIndex Reveal(const QString& path);
    // Selects the items of paths that share the first one's folder; the first becomes current.
    void SelectPaths(const QStringList& paths);
    // Re-reads the shown folders, keeping expanded folders, selection and scroll position.
    void Refresh();
    // The look an item's name is drawn with, after the paint-text hook had its say.
    QStyleOptionViewItem StyleOf(const QModelIndex& index) const;
    bool Editing() const { return state() == QAbstractItemView::EditingState; }

    // Called before an item's name is drawn; may change the font and set a colour.
    std::function<void(const QModelIndex& node, QFont& font, QColor& color)> PaintText;
    // Called before an item is executed (double-click, Enter); it is opened only on true.
    std::function<bool(const QModelIndex& node)> MayExecute;

signals:
    // The selection or the focused item changed; node is the focused item.
    void NodeChanged(const QModelIndex& node);
    // Items dropped onto a folder that could not be moved or copied, each with its reason.
    void TransferFailed(const QStringList& reasons);

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    void selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    // Shift+F10 opens the context menu at the focused item.
    void keyPressEvent(QKeyEvent* event) override;

private:
    void Execute(const QModelIndex& index);
    Qt::DropAction ProposedAction(const QDropEvent* event, const QString& folder) const;
    QModelIndexList SortedSelection() const;

    TShellTreeModel* m_model = nullptr;
    bool m_restricting = false;
};

// Moves or copies local files and folders into folder as a file manager does: nothing existing is
// replaced, a folder is never put inside itself. Returns one reason per item that failed.
QStringList TransferInto(const QString& folder, const QStringList& paths, bool move);
