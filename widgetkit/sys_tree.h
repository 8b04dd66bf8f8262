// Tree whose drag-and-drop is decided and carried out by a callback.
#pragma once

#include <QPersistentModelIndex>
#include <QTreeWidget>

#include <functional>

class QKeyEvent;
class QMimeData;

// Moments at which the drag callback is asked.
enum SYS_DRAG_STATE {
    SYS_DRAG_START = 0, // may this item be dragged?
    SYS_DRAG_HOVER = 1, // may the dragged item be dropped on this one?
    SYS_DRAG_DROP = 2,  // drop it here; report success
};
Q_DECLARE_METATYPE(SYS_DRAG_STATE)

class SysTree : public QTreeWidget
{
    Q_OBJECT
public:
    using DragCallback = std::function<bool(QTreeWidgetItem *, SYS_DRAG_STATE)>;

    explicit SysTree(QWidget *parent = nullptr);

    // Tree and items.
    void setFontSize(int px);
    void setTextColor(const QString &colour);
    void setFontWeight(int weight);
    void setBorderRadius(double em);
    void setBorderWidth(int px);
    void setBorderColor(const QString &colour);
    void setPadding(double em);
    void setBackgroundColor(const QString &colour);
    void setScrollBarColor(const QString &colour);
    void setSelectedBackgroundColor(const QString &colour);

    // Dragging and accepting drops together.
    void setDragEnabled(bool enable);
    void setDragCallback(const DragCallback &callback) { m_dragCallback = callback; }

    // Sets the item's state, then expands every descendant.
    using QTreeView::expandRecursively;
    void expandRecursively(QTreeWidgetItem *item, bool expand);
    // Selects exactly `item` (nothing when it is not in the tree) and emits
    // currentItemChanged(item, nullptr) for it.
    void selectOnly(QTreeWidgetItem *item);
    // Deep copy of the item and its descendants (texts, icons, data) under `newParent`, or
    // at the top level when it is null. Returns the copy (owned by the tree).
    QTreeWidgetItem *cloneItem(QTreeWidgetItem *item, QTreeWidgetItem *newParent);

    QTreeWidgetItem *draggedItem() const { return m_dragItem; }
    QTreeWidgetItem *hoverItem() const;

    static const char *dragMimeType() { return "application/x-qabstractitemmodeldatalist"; }

signals:
    void keyDown(QKeyEvent *ev);
    void keyUp(QKeyEvent *ev);

protected:
    // The payload of a drag from the current item, or nullptr when there is none or the
    // callback refuses it. Remembers the dragged item.
    QMimeData *beginDrag();
    void startDrag(Qt::DropActions supportedActions) override;
    // Forgets the dragged and hover items; the hover highlight goes unless it is current.
    void endDrag();
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dragMoveEvent(QDragMoveEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;

private:
    bool ownPayload(const QMimeData *mime) const;
    // The item under `pos` when the event carries this tree's payload and the callback
    // agrees to a drop there.
    QTreeWidgetItem *acceptableTarget(const QDropEvent *event) const;

    DragCallback m_dragCallback;
    QTreeWidgetItem *m_dragItem = nullptr; // compared, never dereferenced, once a drop ran
    QPersistentModelIndex m_hover;
};
