#pragma once

#include <QAbstractItemView>
#include <QAccessible>
#include <QPersistentModelIndex>

#include <utility>
#include <vector>

class QHeaderView;
class TypeAhead;

// A report-style list: one titled column over rows of one height, whole rows selected.
// Where a row is follows from its number, so the view keeps nothing per row: rows added to a
// list of millions cost no more than rows added to an empty one, and need no memory here.
// Scrolls by rows up and down, by pixels sideways (the column can be dragged wider than the
// view). The row and column calls answer as QTableView's do.
class ReportView : public QAbstractItemView {
    Q_OBJECT
public:
    explicit ReportView(QWidget *parent = nullptr);

    QHeaderView *horizontalHeader() const { return header_; }
    int columnWidth(int column) const;
    void setColumnWidth(int column, int width);
    // Every row has this height.
    void setRowHeight(int height);
    // The row at this height of the viewport, -1 below the last.
    int rowAt(int y) const;
    int rowViewportPosition(int row) const;

    void setModel(QAbstractItemModel *model) override;
    QRect visualRect(const QModelIndex &index) const override;
    void scrollTo(const QModelIndex &index, ScrollHint hint = EnsureVisible) override;
    QModelIndex indexAt(const QPoint &point) const override;
    // A time slice at a turn, however long the list.
    void keyboardSearch(const QString &search) override;

protected:
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    int horizontalOffset() const override;
    int verticalOffset() const override;
    bool isIndexHidden(const QModelIndex &) const override { return false; }
    void setSelection(const QRect &rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection &selection) const override;
    void initViewItemOption(QStyleOptionViewItem *option) const override;
    void paintEvent(QPaintEvent *event) override;
    bool viewportEvent(QEvent *event) override;
    void updateGeometries() override;
    void scrollContentsBy(int dx, int dy) override;
    // Readers of the screen hear what the keyboard and the mouse change.
    void currentChanged(const QModelIndex &current, const QModelIndex &previous) override;
    void selectionChanged(const QItemSelection &selected,
                          const QItemSelection &deselected) override;
    void dataChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight,
                     const QList<int> &roles = QList<int>()) override;
    void focusInEvent(QFocusEvent *event) override;

private:
    int rowCount() const;
    int topRow() const;
    // How far the rows are scrolled, in pixels: whole rows, except at the end, where the last
    // row sits on the bottom edge as in the other item views.
    qint64 pixelTop() const;
    // Rows that fit the viewport whole; at least one.
    int wholeRows() const;
    void rowsAdded(const QModelIndex &parent, int first);
    void rowsChanged();
    template <class F> void catchUp(F &&follow);
    void tellCurrentRow();
    // Told once the change under way is complete, by where the row is then: a removal moves the
    // selection and the current row before the rows go.
    void tellLater(QAccessible::Event type, const QModelIndex &index);
    void tellPending();

    QHeaderView *header_;
    TypeAhead *typeAhead_;
    int rowHeight_ = 16;
    qint64 shownPixelTop_ = 0;
    int hoverRow_ = -1;
    bool inGeometries_ = false;
    std::vector<std::pair<QAccessible::Event, QPersistentModelIndex>> pendingEvents_;
};
