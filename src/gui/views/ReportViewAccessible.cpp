#include "ReportViewAccessible.h"

#include "ProgressStrip.h"
#include "ReportRowAccessible.h"
#include "ReportView.h"

#include <QAccessibleWidget>

#include <algorithm>
#include <deque>
#include <unordered_map>
#include <utility>
#include <vector>

namespace {
// Row interfaces kept for readers; the least recently asked for go first, so a reader walking
// millions of rows leaves no more than these behind.
constexpr size_t KeptRows = 256;

ProgressStrip *shownStrip(const ReportView *view) {
    for (ProgressStrip *strip : view->findChildren<ProgressStrip *>(Qt::FindDirectChildrenOnly))
        if (strip->isVisible())
            return strip;
    return nullptr;
}

QRect globalRect(const QWidget *widget) {
    return QRect(widget->mapToGlobal(QPoint(0, 0)), widget->size());
}

// A list: its rows, then the progress strip while it shows.
class ListAccessible : public QAccessibleWidget, public QAccessibleTableInterface {
public:
    explicit ListAccessible(ReportView *view) : QAccessibleWidget(view, QAccessible::List) {}
    ~ListAccessible() override {
        dropRows();
        if (noCell_)
            QAccessible::deleteAccessibleInterface(noCell_);
    }

    ReportView *view() const { return static_cast<ReportView *>(widget()); }

    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && view()->accessibleName().isEmpty())
            return title();
        return QAccessibleWidget::text(t);
    }
    int childCount() const override {
        return reportRowCount(view()) + (shownStrip(view()) ? 1 : 0);
    }
    QAccessibleInterface *child(int index) const override {
        const int rows = reportRowCount(view());
        if (index >= 0 && index < rows)
            return row(index);
        ProgressStrip *strip = shownStrip(view());
        return index == rows && strip ? QAccessible::queryAccessibleInterface(strip) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface *child) const override {
        if (!child)
            return -1;
        if (QObject *object = child->object())
            return object == shownStrip(view()) ? reportRowCount(view()) : -1;
        auto *cell = const_cast<QAccessibleInterface *>(child)->tableCellInterface();
        return cell && child->parent() == this && child->isValid() ? cell->rowIndex() : -1;
    }
    // Found from the point, never by asking each row; a point far off is never mapped, where
    // it would overflow.
    QAccessibleInterface *childAt(int x, int y) const override {
        const QPoint global(x, y);
        if (ProgressStrip *strip = shownStrip(view()); strip && globalRect(strip).contains(global))
            return QAccessible::queryAccessibleInterface(strip);
        QWidget *area = view()->viewport();
        const QModelIndex index = globalRect(area).contains(global)
                                      ? view()->indexAt(area->mapFromGlobal(global))
                                      : QModelIndex();
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
    // Never null: Qt's bridge asks the answer for its extents and selection unchecked.
    QAccessibleInterface *cellAt(int r, int column) const override {
        return column == 0 && r >= 0 && r < reportRowCount(view()) ? row(r) : noCell();
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
    int rowCount() const override { return reportRowCount(view()); }
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
        const QModelIndex index = reportRowIndex(view(), r);
        return index.isValid() && view()->selectionModel()->isSelected(index);
    }
    // As a click would: the row becomes the current one.
    bool selectRow(int r) override {
        const QModelIndex index = reportRowIndex(view(), r);
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
        const QModelIndex index = reportRowIndex(view(), r);
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

private:
    QString title() const {
        const QAbstractItemModel *model = view()->model();
        return model ? model->headerData(0, Qt::Horizontal, Qt::DisplayRole).toString() : QString();
    }
    QItemSelection selection() const {
        const QItemSelectionModel *selected = view()->selectionModel();
        return selected ? selected->selection() : QItemSelection();
    }
    QAccessibleInterface *row(int r) const {
        if (auto kept = rows_.find(r); kept != rows_.end()) {
            order_.erase(std::find(order_.begin(), order_.end(), r));
            order_.push_back(r);
            return QAccessible::accessibleInterface(kept->second);
        }
        if (rows_.size() >= KeptRows) {
            retire(rows_.at(order_.front()));
            rows_.erase(order_.front());
            order_.pop_front();
        }
        auto *made = new ReportRowAccessible(view(), r);
        rows_.emplace(r, QAccessible::registerAccessibleInterface(made));
        order_.push_back(r);
        return made;
    }
    // Lives with the list, as the bridge may have given it a path.
    QAccessibleInterface *noCell() const {
        if (!noCell_)
            noCell_ = QAccessible::registerAccessibleInterface(new ReportRowAccessible(view(), -1));
        return QAccessible::accessibleInterface(noCell_);
    }
    // A caller may still hold rows handed out earlier in the same call, as a list of selected
    // cells does, so an evicted row lives until the event loop runs again.
    void retire(QAccessible::Id id) const {
        if (retired_.empty())
            QMetaObject::invokeMethod(
                view(),
                [view = view()] {
                    if (auto *list = dynamic_cast<ListAccessible *>(
                            QAccessible::queryAccessibleInterface(view)))
                        list->dropRetired();
                },
                Qt::QueuedConnection);
        retired_.push_back(id);
    }
    void dropRetired() {
        for (QAccessible::Id id : std::exchange(retired_, {}))
            QAccessible::deleteAccessibleInterface(id);
    }
    void dropRows() {
        for (const auto &[r, id] : rows_)
            QAccessible::deleteAccessibleInterface(id);
        rows_.clear();
        order_.clear();
        dropRetired();
    }

    mutable std::unordered_map<int, QAccessible::Id> rows_;
    mutable std::deque<int> order_; // rows_, the least recently asked for first
    mutable std::vector<QAccessible::Id> retired_;
    mutable QAccessible::Id noCell_ = 0;
};

// The progress strip as a progress bar: how much of the command's total is done.
class StripAccessible : public QAccessibleWidget, public QAccessibleValueInterface {
public:
    explicit StripAccessible(ProgressStrip *strip)
        : QAccessibleWidget(strip, QAccessible::ProgressBar) {}

    ProgressStrip *strip() const { return static_cast<ProgressStrip *>(widget()); }
    // The strip has no words of its own; a reader still needs a name to say.
    QString text(QAccessible::Text t) const override {
        if (t == QAccessible::Name && strip()->accessibleName().isEmpty())
            return strip()->detail().isEmpty() ? QStringLiteral("Progress") : strip()->detail();
        return QAccessibleWidget::text(t);
    }
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

} // namespace

void installReportViewAccessibility() {
    static const bool installed = [] {
        QAccessible::installFactory(makeInterface);
        return true;
    }();
    Q_UNUSED(installed);
}
