#pragma once

#include <QAccessibleInterface>
#include <QModelIndex>
#include <QPointer>

class ReportView;

int reportRowCount(const ReportView *view);
QModelIndex reportRowIndex(const ReportView *view, int row);

// One row of a list to assistive technology, by its position: it reads whatever the list holds
// there, and is invalid once the list is shorter. At a negative position it is the answer to a
// question about a cell that is not there: no row, no extent.
class ReportRowAccessible : public QAccessibleInterface,
                            public QAccessibleTableCellInterface,
                            public QAccessibleActionInterface {
public:
    ReportRowAccessible(ReportView *view, int row) : view_(view), row_(row) {}

    bool isValid() const override;
    QObject *object() const override { return nullptr; }
    QWindow *window() const override;
    QAccessibleInterface *parent() const override;
    QAccessibleInterface *child(int) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface *) const override { return -1; }
    QAccessibleInterface *childAt(int, int) const override { return nullptr; }
    QString text(QAccessible::Text t) const override;
    void setText(QAccessible::Text, const QString &) override {}
    QRect rect() const override;
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override;
    void *interface_cast(QAccessible::InterfaceType type) override;

    bool isSelected() const override;
    QList<QAccessibleInterface *> columnHeaderCells() const override { return {}; }
    QList<QAccessibleInterface *> rowHeaderCells() const override { return {}; }
    int columnIndex() const override { return isValid() ? 0 : -1; }
    int rowIndex() const override { return isValid() ? row_ : -1; }
    int columnExtent() const override { return isValid() ? 1 : 0; }
    int rowExtent() const override { return isValid() ? 1 : 0; }
    QAccessibleInterface *table() const override { return parent(); }

    QStringList actionNames() const override;
    void doAction(const QString &name) override;
    QStringList keyBindingsForAction(const QString &name) const override;

private:
    QModelIndex index() const;
    bool checkable() const;
    bool checked() const;

    QPointer<ReportView> view_;
    int row_;
};
