#include "widgetkit/sys_tree.h"

#include "widgetkit/sys_style.h"

#include <QApplication>
#include <QDrag>
#include <QDropEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMimeData>
#include <QPointer>
#include <QStyleFactory>

using Internal::appendStyle;
using Internal::c8;

namespace {

// One "windows" style for every tree of the process, owned by the application.
QStyle *windowsStyle()
{
    static QPointer<QStyle> style;
    if (!style) {
        style = QStyleFactory::create(QStringLiteral("windows"));
        if (style && qApp)
            style->setParent(qApp);
    }
    return style;
}

void walk(QTreeWidgetItem *item, const std::function<void(QTreeWidgetItem *)> &visit)
{
    visit(item);
    for (int i = 0; i < item->childCount(); ++i)
        walk(item->child(i), visit);
}

} // namespace

SysTree::SysTree(QWidget *parent) : QTreeWidget(parent)
{
    setColumnCount(1);
    header()->hide();
    if (QStyle *style = windowsStyle())
        setStyle(style);
    setDefaultDropAction(Qt::MoveAction);
    setDragDropMode(QAbstractItemView::InternalMove);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setStyleSheet(QStringLiteral("\tQTreeWidget{\t\tbackground-color: #fff;\t\tborder: none;\t\toutline:0px;"
                                 "\t\tmargin: 0px;\t\tfont-family: '微软雅黑';\t}"
                                 "\tQTreeView::item:selected{\t\tcolor: #FFF;\t}"));
    setSelectedBackgroundColor(QStringLiteral("#409eff"));
    setFontSize(18);
    setTextColor(QStringLiteral("#000"));
    setScrollBarColor(QStringLiteral("#ddd"));
}

void SysTree::setFontSize(int px)
{
    appendStyle(this, QString::asprintf("\tQTreeWidget{\t\tfont-size: %dpx;\t}\tQTreeView::item{\t\tfont-size: %dpx;\t}", px, px));
}

void SysTree::setTextColor(const QString &colour)
{
    const QByteArray c = c8(colour);
    appendStyle(this, QString::asprintf("\tQTreeWidget{\t\tcolor: %s;\t}\tQTreeView::item{\t\tcolor: %s;\t}",
                                        c.constData(), c.constData()));
}

void SysTree::setFontWeight(int weight)
{
    appendStyle(this, QString::asprintf(
        "\tQTreeWidget{\t\tfont-weight: %d;\t}\tQTreeView::item{\t\tfont-weight: %d;\t}", weight, weight));
}

void SysTree::setBorderRadius(double em)
{
    appendStyle(this, QString::asprintf("\tQTreeWidget{\t\tborder-radius: %.2fem;\t}", em));
}

void SysTree::setBorderWidth(int px)
{
    appendStyle(this, QString::asprintf("\tQTreeWidget{\t\tborder: %dpx solid;\t}", px));
}

void SysTree::setBorderColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQTreeWidget{\t\tborder-color: %s;\t}", c8(colour).constData()));
}

void SysTree::setPadding(double em)
{
    appendStyle(this, QString::asprintf("\tQTreeWidget{\t\tpadding: %.2fem;\t}", em));
}

void SysTree::setBackgroundColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQTreeWidget{\t\tbackground-color: %s;\t}", c8(colour).constData()));
}

void SysTree::setScrollBarColor(const QString &colour)
{
    appendStyle(this, Internal::scrollBarFragment(QStringLiteral("QTreeWidget"), colour));
}

void SysTree::setSelectedBackgroundColor(const QString &colour)
{
    appendStyle(this, QString::asprintf("\tQTreeView::item:selected{\t\tbackground-color: %s;\t}", c8(colour).constData()));
}

void SysTree::setDragEnabled(bool enable)
{
    QTreeWidget::setDragEnabled(enable);
    setAcceptDrops(enable);
    viewport()->setAcceptDrops(enable);
}

void SysTree::expandRecursively(QTreeWidgetItem *item, bool expand)
{
    if (!item)
        return;
    item->setExpanded(expand);
    for (int i = 0; i < item->childCount(); ++i)
        walk(item->child(i), [](QTreeWidgetItem *it) { it->setExpanded(true); });
}

void SysTree::selectOnly(QTreeWidgetItem *item)
{
    QTreeWidgetItem *found = nullptr;
    for (int i = 0; i < topLevelItemCount(); ++i) {
        walk(topLevelItem(i), [&](QTreeWidgetItem *it) {
            it->setSelected(it == item);
            if (it == item)
                found = it;
        });
    }
    if (found)
        emit currentItemChanged(found, nullptr);
}

QTreeWidgetItem *SysTree::cloneItem(QTreeWidgetItem *item, QTreeWidgetItem *newParent)
{
    if (!item)
        return nullptr;
    QTreeWidgetItem *copy = item->clone(); // copies every role of every column, recursively
    if (newParent)
        newParent->addChild(copy);
    else
        addTopLevelItem(copy);
    return copy;
}

QTreeWidgetItem *SysTree::hoverItem() const
{
    return m_hover.isValid() ? itemFromIndex(m_hover) : nullptr;
}

QMimeData *SysTree::beginDrag()
{
    QTreeWidgetItem *item = currentItem();
    if (!item)
        return nullptr;
    if (m_dragCallback && !m_dragCallback(item, SYS_DRAG_START))
        return nullptr;
    m_dragItem = item;
    auto *mime = new QMimeData;
    mime->setData(QString::fromLatin1(dragMimeType()),
                  QByteArray::number(static_cast<qulonglong>(reinterpret_cast<quintptr>(item))));
    return mime;
}

void SysTree::startDrag(Qt::DropActions)
{
    QMimeData *mime = beginDrag();
    if (!mime)
        return;
    auto *drag = new QDrag(this); // deleted by Qt when the drag ends
    drag->setMimeData(mime);
    drag->exec(Qt::MoveAction);
    // A drop has already forgotten the drag; a cancelled one (Escape, released outside the
    // tree, refused target) must not leave the item behind for a later drag to compare with.
    endDrag();
}

void SysTree::endDrag()
{
    if (QTreeWidgetItem *hover = hoverItem()) {
        if (hover != currentItem())
            hover->setSelected(false);
    }
    m_dragItem = nullptr;
    m_hover = QPersistentModelIndex();
}

bool SysTree::ownPayload(const QMimeData *mime) const
{
    // Items travel only inside this tree: the payload must name the item this tree is dragging.
    const QString type = QString::fromLatin1(dragMimeType());
    return mime && m_dragItem && mime->hasFormat(type)
        && mime->data(type) == QByteArray::number(static_cast<qulonglong>(reinterpret_cast<quintptr>(m_dragItem)));
}

QTreeWidgetItem *SysTree::acceptableTarget(const QDropEvent *event) const
{
    if (!ownPayload(event->mimeData()))
        return nullptr;
    QTreeWidgetItem *item = itemAt(event->pos());
    if (!item)
        return nullptr;
    if (m_dragCallback && !m_dragCallback(item, SYS_DRAG_HOVER))
        return nullptr;
    return item;
}

void SysTree::dragEnterEvent(QDragEnterEvent *event)
{
    if (acceptableTarget(event))
        event->accept();
    else
        event->ignore();
}

void SysTree::dragMoveEvent(QDragMoveEvent *event)
{
    QTreeWidgetItem *item = acceptableTarget(event);
    if (!item) {
        event->ignore();
        return;
    }
    QTreeWidgetItem *previous = hoverItem();
    if (previous && previous != item && previous != currentItem())
        previous->setSelected(false);
    item->setSelected(true);
    m_hover = indexFromItem(item);
    event->setDropAction(Qt::MoveAction);
    event->accept();
}

void SysTree::dropEvent(QDropEvent *event)
{
    if (ownPayload(event->mimeData())) {
        if (QTreeWidgetItem *item = itemAt(event->pos())) {
            if (m_dragCallback && m_dragCallback(item, SYS_DRAG_DROP))
                selectOnly(m_dragItem);
        }
        // The callback moved whatever had to move; nothing is removed on the source side.
        event->setDropAction(Qt::IgnoreAction);
        event->accept();
    } else {
        event->ignore();
    }
    m_dragItem = nullptr;
    m_hover = QPersistentModelIndex();
}

void SysTree::keyPressEvent(QKeyEvent *event)
{
    emit keyDown(event);
}

void SysTree::keyReleaseEvent(QKeyEvent *event)
{
    emit keyUp(event);
}
