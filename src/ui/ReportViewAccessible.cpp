#include "ReportViewAccessible.h"

#include "ProgressStrip.h"
#include "ReportView.h"

#include <QAccessibleWidget>
#include <QPersistentModelIndex>
#include <QPointer>
#include <QWindow>

#include <algorithm>
#include <deque>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {
// Row interfaces kept for readers; the oldest go first, so a reader walking millions of rows
// leaves no more than these behind.
constexpr size_t KeptRows = 256;
// A change of more rows is told as one event on the list instead of one per row.
constexpr qsizetype ToldRows = 64;

int rowCountOf(const ReportView *view) {
    const QAbstractItemModel *model = view->model();
    return model ? model->rowCount(view->rootIndex()) : 0;
}

QModelIndex rowIndex(const ReportView *view, int row) {
    const QAbstractItemModel *model = view->model();
    return model ? model->index(row, 0, view->rootIndex()) : QModelIndex();
}

ProgressStrip *shownStrip(const ReportView *view) {
    for (ProgressStrip *strip : view->findChildren<ProgressStrip *>(Qt::FindDirectChildrenOnly))
        if (strip->isVisible())
            return strip;
    return nullptr;
}

AccessibleEventSink eventSink = nullptr;

// Nobody to tell: no row interface is made for the events.
bool unheard() {
    return !eventSink && !QAccessible::isActive();
}

void send(QAccessibleEvent &&event, int row = -1) {
    event.setChild(row);
    if (eventSink)
        eventSink(&event);
    else
        QAccessible::updateAccessibility(&event);
}

// One row of a list, as long as the list has a row there.
class RowAccessible : public QAccessibleInterface,
                      public QAccessibleTableCellInterface,
                      public QAccessibleActionInterface {
public:
    RowAccessible(ReportView *view, int row) : view_(view), row_(row) {}

    bool isValid() const override { return view_ && row_ < rowCountOf(view_); }
    QObject *object() const override { return nullptr; }
    QWindow *window() const override { return view_ ? view_->window()->windowHandle() : nullptr; }
    QAccessibleInterface *parent() const override {
        return QAccessible::queryAccessibleInterface(view_);
    }
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    // The text as the view paints it: a huge item's beginning.
    QString text(QAccessible::Text t) const override {
        return t == QAccessible::Name ? index().data(Qt::DisplayRole).toString() : QString();
    }
    void setText(QAccessible::Text, const QString &) override {}
    QRect rect() const override {
        if (!isValid())
            return {};
        const QRect area = view_->visualRect(index());
        return QRect(view_->viewport()->mapToGlobal(area.topLeft()), area.size());
    }
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override {
        QAccessible::State s;
        if (!isValid()) {
            s.invalid = true;
            return s;
        }
        const QModelIndex i = index();
        s.focusable = true;
        s.focused = view_->hasFocus() && view_->currentIndex() == i;
        s.selectable = view_->selectionMode() != QAbstractItemView::NoSelection;
        s.selected = view_->selectionModel()->isSelected(i);
        s.checkable = checkable();
        s.checked = s.checkable && checked();
        s.disabled = !view_->isEnabled();
        s.invisible = !view_->isVisible();
        s.offscreen = !view_->viewport()->rect().intersects(view_->visualRect(i));
        return s;
    }
    void *interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TableCellInterface)
            return static_cast<QAccessibleTableCellInterface *>(this);
        if (type == QAccessible::ActionInterface)
            return static_cast<QAccessibleActionInterface *>(this);
        return nullptr;
    }

    bool isSelected() const override {
        return isValid() && view_->selectionModel()->isSelected(index());
    }
    QList<QAccessibleInterface *> columnHeaderCells() const override { return {}; }
    QList<QAccessibleInterface *> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return 0; }
    int rowIndex() const override { return row_; }
    int columnExtent() const override { return 1; }
    int rowExtent() const override { return 1; }
    QAccessibleInterface *table() const override { return parent(); }

    QStringList actionNames() const override {
        return checkable() ? QStringList(toggleAction()) : QStringList();
    }
    // The same change as a click on the box.
    void doAction(const QString &name) override {
        if (name == toggleAction() && checkable())
            view_->model()->setData(index(), checked() ? Qt::Unchecked : Qt::Checked,
                                    Qt::CheckStateRole);
    }
    QStringList keyBindingsForAction(const QString &name) const override {
        return name == toggleAction() && checkable() ? QStringList(QStringLiteral("Space"))
                                                     : QStringList();
    }

private:
    QModelIndex index() const { return isValid() ? ::rowIndex(view_, row_) : QModelIndex(); }
    bool checkable() const { return index().flags() & Qt::ItemIsUserCheckable; }
    bool checked() const { return index().data(Qt::CheckStateRole).toInt() == Qt::Checked; }

    QPointer<ReportView> view_;
    int row_;
};

// A list: its rows, then the progress strip while it shows.
class ListAccessible : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit ListAccessible(ReportView *view) : QAccessibleWidget(view, QAccessible::List) {}
    ~ListAccessible() override { dropRows(); }

    ReportView *view() const { return static_cast<ReportView *>(widget()); }

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && view()->accessibleName().isEmpty())
            return title();
        return QAccessibleWidget::text(t);
    }
    int childCount() const override { return rowCountOf(view()) + (shownStrip(view()) ? 1 : 0); }
    QAccessibleInterface *child(int index) const override {
        const int rows = rowCountOf(view());
        if (index >= 0 && index < rows)
            return row(index);
        ProgressStrip *strip = shownStrip(view());
        return index == rows && strip ? QAccessible::queryAccessibleInterface(strip) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override {
        if (!child)
            return -1;
        if (QObject *object = child->object())
            return object == shownStrip(view()) ? rowCountOf(view()) : -1;
        auto *cell = const_cast<QAccessibleInterface *>(child)->tableCellInterface();
        return cell && child->parent() == this && child->isValid() ? cell->rowIndex() : -1;
    }
    // Found from the point, never by asking each row.
    QAccessibleInterface *childAt(int x, int y) const override {
        const QPoint global(x, y);
        if (ProgressStrip *strip = shownStrip(view());
            strip && strip->rect().contains(strip->mapFromGlobal(global)))
            return QAccessible::queryAccessibleInterface(strip);
        const QPoint at = view()->viewport()->mapFromGlobal(global);
        const QModelIndex index =
            view()->viewport()->rect().contains(at) ? view()->indexAt(at) : QModelIndex();
        return index.isValid() ? row(index.row()) : nullptr;
    }
    QAccessibleInterface *focusChild() const override {
        const QModelIndex current = view()->currentIndex();
        if (view()->hasFocus() && current.isValid())
            return row(current.row());
        return QAccessibleWidget::focusChild();
    }
    void *interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::TableInterface)
            return static_cast<QAccessibleTableInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }

    QAccessibleInterface *caption() const override { return nullptr; }
    QAccessibleInterface *summary() const override { return nullptr; }
    QAccessibleInterface *cellAt(int r, int column) const override {
        return column == 0 && r >= 0 && r < rowCountOf(view()) ? row(r) : nullptr;
    }
    int selectedCellCount() const override { return selectedRowCount(); }
    QList<QAccessibleInterface *> selectedCells() const override {
        QList<QAccessibleInterface *> cells;
        for (int r : selectedRows().first(std::min<qsizetype>(selectedRowCount(), KeptRows)))
            cells << row(r);
        return cells;
    }
    QString columnDescription(int column) const override {
        return column == 0 ? title() : QString();
    }
    int columnCount() const override { return 1; }
    int rowCount() const override { return rowCountOf(view()); }
    int selectedColumnCount() const override { return 0; }
    int selectedRowCount() const override {
        int count = 0;
        for (const QItemSelectionRange &range : selection())
            count += range.height();
        return count;
    }
    QString rowDescription(int) const override { return {}; }
    QList<int> selectedColumns() const override { return {}; }
    QList<int> selectedRows() const override {
        QList<int> rows;
        for (const QItemSelectionRange &range : selection())
            for (int r = range.top(); r <= range.bottom(); ++r)
                rows << r;
        std::sort(rows.begin(), rows.end());
        return rows;
    }
    bool isColumnSelected(int) const override { return false; }
    bool isRowSelected(int r) const override {
        const QModelIndex index = rowIndex(view(), r);
        return index.isValid() && view()->selectionModel()->isSelected(index);
    }
    // As a click would: the row becomes the current one.
    bool selectRow(int r) override {
        const QModelIndex index = rowIndex(view(), r);
        const auto mode = view()->selectionMode();
        if (!index.isValid() || mode == QAbstractItemView::NoSelection)
            return false;
        const auto how = mode == QAbstractItemView::SingleSelection
                             ? QItemSelectionModel::ClearAndSelect
                             : QItemSelectionModel::Select;
        view()->selectionModel()->setCurrentIndex(index, how | QItemSelectionModel::Rows);
        return true;
    }
    bool unselectRow(int r) override {
        const QModelIndex index = rowIndex(view(), r);
        if (!index.isValid() || view()->selectionMode() == QAbstractItemView::NoSelection)
            return false;
        view()->selectionModel()->select(index,
                                         QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
        return true;
    }
    bool selectColumn(int) override { return false; }
    bool unselectColumn(int) override { return false; }
    // Rows kept by position would now name other items.
    void modelChange(QAccessibleTableModelChangeEvent *event) override {
        if (event->modelChangeType() != QAccessibleTableModelChangeEvent::DataChanged)
            dropRows();
    }

    // Told once the change under way is complete, by where the row is then: a removal moves the
    // selection and the current row before the rows go.
    void tellLater(QAccessible::Event type, const QModelIndex &index) {
        if (pending_.empty())
            QMetaObject::invokeMethod(
                view(),
                [view = view()] {
                    if (auto *list = dynamic_cast<ListAccessible *>(
                            QAccessible::queryAccessibleInterface(view)))
                        list->tellPending();
                },
                Qt::QueuedConnection);
        pending_.emplace_back(type, index);
    }

private:
    void tellPending() {
        const auto pending = std::exchange(pending_, {});
        // Only the last focus change counts, and only while it still holds.
        const auto lastFocus = std::find_if(pending.rbegin(), pending.rend(), [](const auto &p) {
            return p.first == QAccessible::Focus;
        });
        for (auto p = pending.begin(); p != pending.end(); ++p) {
            const auto &[type, index] = *p;
            const bool stale = type == QAccessible::Focus &&
                               (p != lastFocus.base() - 1 || index != view()->currentIndex() ||
                                !view()->hasFocus());
            if (index.isValid() && !stale)
                send(QAccessibleEvent(view(), type), index.row());
        }
    }
    QString title() const {
        const QAbstractItemModel *model = view()->model();
        return model ? model->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString() : QString();
    }
    QItemSelection selection() const {
        const QItemSelectionModel *selected = view()->selectionModel();
        return selected ? selected->selection() : QItemSelection();
    }
    QAccessibleInterface *row(int r) const {
        if (auto kept = rows_.find(r); kept != rows_.end())
            return QAccessible::accessibleInterface(kept->second);
        if (rows_.size() >= KeptRows) {
            QAccessible::deleteAccessibleInterface(rows_.at(order_.front()));
            rows_.erase(order_.front());
            order_.pop_front();
        }
        auto *made = new RowAccessible(view(), r);
        rows_.emplace(r, QAccessible::registerAccessibleInterface(made));
        order_.push_back(r);
        return made;
    }
    void dropRows() {
        for (const auto &[r, id] : rows_)
            QAccessible::deleteAccessibleInterface(id);
        rows_.clear();
        order_.clear();
    }

    mutable std::unordered_map<int, QAccessible::Id> rows_;
    mutable std::deque<int> order_; // rows_ in the order they were made
    std::vector<std::pair<QAccessible::Event, QPersistentModelIndex>> pending_;
};

// The progress strip as a progress bar: how much of the command's total is done.
class StripAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit StripAccessible(ProgressStrip *strip)
        : QAccessibleWidget(strip, QAccessible::ProgressBar) {}

    ProgressStrip *strip() const { return static_cast<ProgressStrip *>(widget()); }
    void *interface_cast(QAccessible::InterfaceType type) override {
        if (type == QAccessible::ValueInterface)
            return static_cast<QAccessibleValueInterface *>(this);
        return QAccessibleWidget::interface_cast(type);
    }
    QVariant currentValue() const override { return strip()->done(); }
    void setCurrentValue(const QVariant &) override {}
    QVariant maximumValue() const override { return strip()->total(); }
    QVariant minimumValue() const override { return qint64(0); }
    QVariant minimumStepSize() const override { return qint64(0); }
};

QAccessibleInterface *makeInterface(const QString &className, QObject *object) {
    if (className == QLatin1String("ReportView"))
        return new ListAccessible(static_cast<ReportView *>(object));
    if (className == QLatin1String("ProgressStrip"))
        return new StripAccessible(static_cast<ProgressStrip *>(object));
    return nullptr;
}

ListAccessible *listOf(ReportView *view) {
    return unheard() ? nullptr
                     : dynamic_cast<ListAccessible *>(QAccessible::queryAccessibleInterface(view));
}

// -1 while no total is known.
int percent(qint64 done, qint64 total) {
    return total > 0 ? int(std::clamp(double(done) * 100 / double(total), 0.0, 100.0)) : -1;
}
} // namespace

void setAccessibleEventSink(AccessibleEventSink sink) {
    eventSink = sink;
}

void installReportViewAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(makeInterface);
        return true;
    }();
    Q_UNUSED(installed);
}

void announceCurrentRow(ReportView *view) {
    const QModelIndex current = view->currentIndex();
    if (ListAccessible *list = listOf(view); list && current.isValid())
        list->tellLater(QAccessible::Focus, current);
}

void announceSelection(ReportView *view, const QItemSelection &selected,
                       const QItemSelection &deselected) {
    ListAccessible *list = listOf(view);
    if (!list)
        return;
    qsizetype rows = 0;
    for (const QItemSelection *change : {&selected, &deselected})
        for (const QItemSelectionRange &range : *change)
            rows += range.height();
    if (rows > ToldRows)
        return send(QAccessibleEvent(view, QAccessible::SelectionWithin));
    auto tell = [&](const QItemSelection &change, QAccessible::Event type) {
        for (const QItemSelectionRange &range : change)
            for (int row = range.top(); row <= range.bottom(); ++row)
                list->tellLater(type, rowIndex(view, row));
    };
    tell(deselected, QAccessible::SelectionRemove);
    tell(selected, QAccessible::SelectionAdd);
}

void announceChecks(ReportView *view, int firstRow, int lastRow, const QList<int> &roles) {
    if (unheard() || (!roles.isEmpty() && !roles.contains(Qt::CheckStateRole)))
        return;
    lastRow = std::min(lastRow, rowCountOf(view) - 1);
    if (lastRow - firstRow + 1 > ToldRows)
        return; // the view's own table change event covers it
    QAccessible::State changed;
    changed.checked = true;
    for (int row = std::max(firstRow, 0); row <= lastRow; ++row)
        if (rowIndex(view, row).flags() & Qt::ItemIsUserCheckable)
            send(QAccessibleStateChangeEvent(view, changed), row);
}

void announceProgress(ProgressStrip *strip, qint64 oldDone, qint64 oldTotal) {
    if (unheard() || !strip->isVisible() ||
        percent(oldDone, oldTotal) == percent(strip->done(), strip->total()))
        return;
    send(QAccessibleValueChangeEvent(strip, strip->done()));
}
