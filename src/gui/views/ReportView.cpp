#include "ReportView.h"

#include "AccessibleEvents.h"
#include "TypeAhead.h"

#include <QHeaderView>
#include <QHoverEvent>
#include <QPainter>
#include <QScopeGuard>
#include <QScrollBar>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {
// A change of more rows is told as one event on the list instead of one per row.
constexpr qsizetype ToldRows = 64;
} // namespace

ReportView::ReportView(QWidget *parent)
    : QAbstractItemView(parent), header_(new QHeaderView(Qt::Horizontal, this)),
      typeAhead_(new TypeAhead(this)) {
    header_->setSectionsClickable(false);
    setHorizontalScrollMode(ScrollPerPixel);
    setVerticalScrollMode(ScrollPerItem);
    setSelectionBehavior(SelectRows);
    viewport()->setAttribute(Qt::WA_Hover);
    connect(header_, &QHeaderView::sectionResized, this, [this] {
        updateGeometries();
        viewport()->update();
    });
    connect(header_, &QHeaderView::sectionCountChanged, this, [this] { updateGeometries(); });
}

void ReportView::setModel(QAbstractItemModel *model) {
    if (QAbstractItemModel *old = this->model())
        disconnect(old, nullptr, this, nullptr);
    QAbstractItemView::setModel(model);
    header_->setModel(model);
    if (!model)
        return;
    // Nothing to lay out per row: only the scroll range follows the count.
    connect(model, &QAbstractItemModel::rowsInserted, this, &ReportView::rowsAdded);
    connect(model, &QAbstractItemModel::rowsRemoved, this, &ReportView::rowsChanged);
    connect(model, &QAbstractItemModel::modelReset, this, &ReportView::rowsChanged);
    connect(model, &QAbstractItemModel::layoutChanged, this, &ReportView::rowsChanged);
    rowsChanged();
}

// Rows arriving below the last row shown, as the results do during a search, move only the
// scroll bar; rows above them that keep their places keep the hovered one lit.
void ReportView::rowsAdded(const QModelIndex &, int first) {
    catchUp([&] {
        const qint64 shown = shownPixelTop_;
        updateGeometries();
        if (qint64(first) * rowHeight_ - pixelTop() >= viewport()->height())
            return;
        // At the end the rows shift to keep the last on the bottom edge.
        if (first <= hoverRow_ || pixelTop() != shown)
            hoverRow_ = -1;
        viewport()->update();
    });
}

void ReportView::rowsChanged() {
    hoverRow_ = -1;
    catchUp([&] {
        updateGeometries();
        viewport()->update();
    });
}

// The rows have changed already: out of memory while the view follows must not reach the
// list's other listeners, which would never hear of the change. The view lays itself out
// again at its next change.
template <class F> void ReportView::catchUp(F &&follow) {
    try {
        follow();
    } catch (const std::bad_alloc &) {
    }
}

int ReportView::rowCount() const {
    return model() ? model()->rowCount(rootIndex()) : 0;
}

int ReportView::topRow() const {
    return verticalScrollBar()->value();
}

qint64 ReportView::pixelTop() const {
    const qint64 top = qint64(topRow()) * rowHeight_;
    const QScrollBar *bar = verticalScrollBar();
    if (bar->value() < bar->maximum() || bar->maximum() == 0)
        return top;
    return std::clamp(qint64(rowCount()) * rowHeight_ - viewport()->height(), qint64(0), top);
}

int ReportView::wholeRows() const {
    return std::max(1, viewport()->height() / rowHeight_);
}

int ReportView::columnWidth(int column) const {
    return header_->sectionSize(column);
}

void ReportView::setColumnWidth(int column, int width) {
    header_->resizeSection(column, width);
}

void ReportView::setRowHeight(int height) {
    rowHeight_ = std::max(1, height);
    updateGeometries();
    viewport()->update();
}

int ReportView::rowAt(int y) const {
    if (y < 0)
        return -1;
    const qint64 row = (pixelTop() + y) / rowHeight_;
    return row < rowCount() ? int(row) : -1;
}

int ReportView::rowViewportPosition(int row) const {
    return int(qint64(row) * rowHeight_ - pixelTop());
}

QRect ReportView::visualRect(const QModelIndex &index) const {
    if (!index.isValid() || index.column() != 0 || index.parent() != rootIndex())
        return {};
    return QRect(-horizontalOffset(), rowViewportPosition(index.row()), columnWidth(0), rowHeight_);
}

QModelIndex ReportView::indexAt(const QPoint &point) const {
    const int row = rowAt(point.y());
    const int x = point.x() + horizontalOffset();
    if (row < 0 || x < 0 || x >= columnWidth(0))
        return {};
    return model()->index(row, 0, rootIndex());
}

void ReportView::scrollTo(const QModelIndex &index, ScrollHint hint) {
    if (!index.isValid() || index.parent() != rootIndex())
        return;
    const int row = index.row();
    const int top = topRow();
    const int whole = wholeRows();
    int wanted = top;
    switch (hint) {
    case EnsureVisible:
        if (row < top)
            wanted = row;
        else if (row >= top + whole)
            wanted = row - whole + 1;
        break;
    case PositionAtTop:
        wanted = row;
        break;
    case PositionAtBottom:
        wanted = row - whole + 1;
        break;
    case PositionAtCenter:
        wanted = row - whole / 2;
        break;
    }
    verticalScrollBar()->setValue(wanted);
}

void ReportView::keyboardSearch(const QString &search) {
    typeAhead_->keyboardSearch(search);
}

QModelIndex ReportView::moveCursor(CursorAction action, Qt::KeyboardModifiers) {
    const int count = rowCount();
    if (count == 0)
        return {};
    const QModelIndex current = currentIndex();
    if (!current.isValid())
        return model()->index(0, 0, rootIndex());
    int row = current.row();
    switch (action) {
    case MoveUp:
    case MovePrevious:
        --row;
        break;
    case MoveDown:
    case MoveNext:
        ++row;
        break;
    case MovePageUp:
        row -= wholeRows();
        break;
    case MovePageDown:
        row += wholeRows();
        break;
    case MoveHome:
        row = 0;
        break;
    case MoveEnd:
        row = count - 1;
        break;
    case MoveLeft:
    case MoveRight:
        break;
    }
    return model()->index(std::clamp(row, 0, count - 1), 0, rootIndex());
}

int ReportView::horizontalOffset() const {
    return horizontalScrollBar()->value();
}

int ReportView::verticalOffset() const {
    return int(std::min<qint64>(pixelTop(), std::numeric_limits<int>::max()));
}

void ReportView::setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command) {
    const int count = rowCount();
    const QRect r = rect.normalized();
    const qint64 first = qint64(std::floor(double(pixelTop() + r.top()) / rowHeight_));
    const qint64 last = qint64(std::floor(double(pixelTop() + r.bottom()) / rowHeight_));
    if (count == 0 || last < 0 || first >= count) {
        selectionModel()->select(QItemSelection(), command);
        return;
    }
    const QModelIndex from = model()->index(int(std::max<qint64>(first, 0)), 0, rootIndex());
    const QModelIndex to = model()->index(int(std::min<qint64>(last, count - 1)), 0, rootIndex());
    selectionModel()->select(QItemSelection(from, to), command);
}

QRegion ReportView::visualRegionForSelection(const QItemSelection &selection) const {
    // Only the shown rows: a selection may span millions.
    const int top = int(pixelTop() / rowHeight_);
    const int bottom = top + viewport()->height() / rowHeight_ + 1;
    QRegion region;
    for (const QItemSelectionRange &range : selection) {
        if (range.parent() != rootIndex())
            continue;
        const int first = std::max(range.top(), top);
        const int last = std::min(range.bottom(), bottom);
        if (first <= last)
            region += QRect(-horizontalOffset(), rowViewportPosition(first), columnWidth(0),
                            (last - first + 1) * rowHeight_);
    }
    return region;
}

void ReportView::initViewItemOption(QStyleOptionViewItem *option) const {
    QAbstractItemView::initViewItemOption(option);
    option->showDecorationSelected = true;
}

void ReportView::paintEvent(QPaintEvent *event) {
    QPainter painter(viewport());
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QStyle::State base = option.state;
    const qint64 first = std::max<qint64>(0, (pixelTop() + event->rect().top()) / rowHeight_);
    const qint64 last =
        std::min<qint64>(rowCount() - 1, (pixelTop() + event->rect().bottom()) / rowHeight_);
    const QModelIndex current = currentIndex();
    for (qint64 row = first; row <= last; ++row) {
        const QModelIndex index = model()->index(int(row), 0, rootIndex());
        option.rect = visualRect(index);
        option.state = base;
        if (selectionModel()->isSelected(index))
            option.state |= QStyle::State_Selected;
        if (row == hoverRow_)
            option.state |= QStyle::State_MouseOver;
        if (index == current && hasFocus())
            option.state |= QStyle::State_HasFocus;
        style()->drawPrimitive(QStyle::PE_PanelItemViewRow, &option, &painter, this);
        itemDelegateForIndex(index)->paint(&painter, option, index);
    }
}

bool ReportView::viewportEvent(QEvent *event) {
    switch (event->type()) {
    case QEvent::HoverEnter:
    case QEvent::HoverMove: {
        const int row = rowAt(static_cast<QHoverEvent *>(event)->position().toPoint().y());
        if (row != hoverRow_) {
            hoverRow_ = row;
            viewport()->update();
        }
        break;
    }
    case QEvent::HoverLeave:
    case QEvent::Leave:
        if (hoverRow_ >= 0) {
            hoverRow_ = -1;
            viewport()->update();
        }
        break;
    default:
        break;
    }
    return QAbstractItemView::viewportEvent(event);
}

void ReportView::updateGeometries() {
    // Setting the margins resizes the viewport, which lands here again.
    if (inGeometries_)
        return;
    inGeometries_ = true;
    const auto leave = qScopeGuard([this] { inGeometries_ = false; }); // also when out of memory
    const int headerHeight =
        header_->isHidden() ? 0 : std::max(header_->minimumHeight(), header_->sizeHint().height());
    setViewportMargins(0, headerHeight, 0, 0);
    const QRect area = viewport()->geometry();
    header_->setGeometry(area.left(), area.top() - headerHeight, area.width(), headerHeight);
    if (header_->offset() != horizontalOffset())
        header_->setOffset(horizontalOffset());

    const int whole = wholeRows();
    verticalScrollBar()->setSingleStep(1);
    verticalScrollBar()->setPageStep(whole);
    verticalScrollBar()->setRange(0, std::max(0, rowCount() - whole));
    const int width = area.width();
    horizontalScrollBar()->setSingleStep(std::max(1, rowHeight_));
    horizontalScrollBar()->setPageStep(width);
    horizontalScrollBar()->setRange(0, std::max(0, columnWidth(0) - width));
    shownPixelTop_ = pixelTop();
    inGeometries_ = false;
    QAbstractItemView::updateGeometries();
}

void ReportView::scrollContentsBy(int dx, int dy) {
    if (dx != 0)
        header_->setOffset(horizontalOffset());
    // Rows move by whole rows, except into or out of the bottom alignment at the end.
    const qint64 moved = shownPixelTop_ - pixelTop();
    shownPixelTop_ = pixelTop();
    if (dy == 0 && dx != 0)
        viewport()->scroll(dx, 0);
    else if (dy != 0 && std::abs(moved) < viewport()->height())
        viewport()->scroll(dx, int(moved));
    else if (dy != 0)
        viewport()->update();
}

void ReportView::currentChanged(const QModelIndex &current, const QModelIndex &previous) {
    QAbstractItemView::currentChanged(current, previous);
    tellCurrentRow();
}

void ReportView::selectionChanged(const QItemSelection &selected,
                                  const QItemSelection &deselected) {
    QAbstractItemView::selectionChanged(selected, deselected);
    if (!accessibleEventsHeard())
        return;
    qsizetype rows = 0;
    for (const QItemSelection *change : {&selected, &deselected})
        for (const QItemSelectionRange &range : *change)
            rows += range.height();
    if (rows > ToldRows) {
        QAccessibleEvent event(this, QAccessible::SelectionWithin);
        return tellAccessible(event);
    }
    auto tell = [&](const QItemSelection &change, QAccessible::Event type) {
        for (const QItemSelectionRange &range : change)
            for (int row = range.top(); row <= range.bottom(); ++row)
                tellLater(type, model()->index(row, 0, rootIndex()));
    };
    tell(deselected, QAccessible::SelectionRemove);
    tell(selected, QAccessible::SelectionAdd);
}

// Only check boxes change in a checkable row: a reader hears them ticked or cleared.
void ReportView::dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                             const QList<int> &roles) {
    QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
    const int first = topLeft.row();
    const int last = bottomRight.row();
    // More rows: the view's own table change event covers them.
    if (topLeft.parent() != rootIndex() || !accessibleEventsHeard() || last - first + 1 > ToldRows)
        return;
    QAccessible::State changed;
    changed.checked = true;
    for (int row = std::max(first, 0); row <= last; ++row)
        if (model()->index(row, 0, rootIndex()).flags() & Qt::ItemIsUserCheckable) {
            QAccessibleStateChangeEvent event(this, changed);
            event.setChild(row);
            tellAccessible(event);
        }
}

void ReportView::focusInEvent(QFocusEvent *event) {
    QAbstractItemView::focusInEvent(event);
    tellCurrentRow();
}

// The row the keyboard is on, told after the change under way, so after the list itself when
// it gains focus.
void ReportView::tellCurrentRow() {
    const QModelIndex current = currentIndex();
    if (current.isValid() && accessibleEventsHeard())
        tellLater(QAccessible::Focus, current);
}

void ReportView::tellLater(QAccessible::Event type, const QModelIndex &index) {
    if (pendingEvents_.empty())
        QMetaObject::invokeMethod(this, &ReportView::tellPending, Qt::QueuedConnection);
    if (type == QAccessible::Focus) // only the last move of the focus counts
        std::erase_if(pendingEvents_, [](const auto &p) { return p.first == QAccessible::Focus; });
    pendingEvents_.emplace_back(type, index);
}

void ReportView::tellPending() {
    for (const auto &[type, index] : std::exchange(pendingEvents_, {})) {
        const bool moved = type == QAccessible::Focus && (index != currentIndex() || !hasFocus());
        if (index.isValid() && !moved) {
            QAccessibleEvent event(this, type);
            event.setChild(index.row());
            tellAccessible(event);
        }
    }
}
