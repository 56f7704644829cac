#include "ReportRowAccessible.h"

#include "ReportView.h"

#include <QWindow>

int reportRowCount(const ReportView *view) {
    const QAbstractItemModel *model = view->model();
    return model ? model->rowCount(view->rootIndex()) : 0;
}

QModelIndex reportRowIndex(const ReportView *view, int row) {
    const QAbstractItemModel *model = view->model();
    return model ? model->index(row, 0, view->rootIndex()) : QModelIndex();
}

bool ReportRowAccessible::isValid() const {
    return view_ && row_ >= 0 && row_ < reportRowCount(view_);
}

QWindow *ReportRowAccessible::window() const {
    return view_ ? view_->window()->windowHandle() : nullptr;
}

QAccessibleInterface *ReportRowAccessible::parent() const {
    return QAccessible::queryAccessibleInterface(view_);
}

// The text as the view paints it: a huge item's beginning.
QString ReportRowAccessible::text(QAccessible::Text t) const {
    return t == QAccessible::Name ? index().data(Qt::DisplayRole).toString() : QString();
}

QRect ReportRowAccessible::rect() const {
    if (!isValid())
        return {};
    const QRect area = view_->visualRect(index());
    return QRect(view_->viewport()->mapToGlobal(area.topLeft()), area.size());
}

QAccessible::State ReportRowAccessible::state() const {
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

void *ReportRowAccessible::interface_cast(QAccessible::InterfaceType type) {
    if (type == QAccessible::TableCellInterface)
        return static_cast<QAccessibleTableCellInterface *>(this);
    if (type == QAccessible::ActionInterface)
        return static_cast<QAccessibleActionInterface *>(this);
    return nullptr;
}

bool ReportRowAccessible::isSelected() const {
    return isValid() && view_->selectionModel()->isSelected(index());
}

QStringList ReportRowAccessible::actionNames() const {
    return checkable() ? QStringList(toggleAction()) : QStringList();
}

// The same change as a click on the box.
void ReportRowAccessible::doAction(const QString &name) {
    if (name == toggleAction() && checkable())
        view_->model()->setData(index(), checked() ? Qt::Unchecked : Qt::Checked,
                                Qt::CheckStateRole);
}

QStringList ReportRowAccessible::keyBindingsForAction(const QString &name) const {
    return name == toggleAction() && checkable() ? QStringList(QStringLiteral("Space"))
                                                 : QStringList();
}

QModelIndex ReportRowAccessible::index() const {
    return isValid() ? reportRowIndex(view_, row_) : QModelIndex();
}

bool ReportRowAccessible::checkable() const {
    return index().flags() & Qt::ItemIsUserCheckable;
}

bool ReportRowAccessible::checked() const {
    return index().data(Qt::CheckStateRole).toInt() == Qt::Checked;
}
