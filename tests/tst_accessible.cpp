#include "TestSupport.h"

#include "engine/store/TextListModel.h"
#include "gui/views/AccessibleEvents.h"

#include <QAccessible>
#include <QApplication>
#include <QTest>

namespace {
// A row's states a reader hears.
QString statesOf(const QAccessibleInterface *row) {
    const QAccessible::State s = row->state();
    QStringList states;
    for (auto [on, name] : {std::pair{bool(s.focused), "focused"},
                            {bool(s.selected), "selected"},
                            {bool(s.checkable), "checkable"},
                            {bool(s.checked), "checked"},
                            {bool(s.offscreen), "offscreen"},
                            {!s.focusable, "unfocusable"},
                            {!s.selectable, "unselectable"},
                            {bool(s.disabled), "disabled"},
                            {bool(s.invisible), "invisible"}})
        if (on)
            states << QString::fromLatin1(name);
    return states.join(QLatin1Char(' '));
}
} // namespace

class AccessibleTest : public QObject {
    Q_OBJECT
private slots:
    void listAccessible_data();
    void listAccessible();
};

void AccessibleTest::listAccessible_data() {
    QTest::addColumn<QString>("view");
    QTest::addColumn<int>("items");
    QTest::addColumn<int>("current");   // selected and focused first; -1 focus elsewhere
    QTest::addColumn<QString>("input"); // keys, or what a reader does to the row: "toggle" its
                                        // action, "select" or "unselect" it in the list; "cells"
                                        // reads the rows of a long selection, then clears it
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("states");
    QTest::addColumn<QString>("events");
    QTest::addColumn<int>("rows");
    QTest::newRow("row far down a million")
        << "ListView1" << 1000000 << -1 << "" << 999999 << "item 999999"
        << "offscreen"
        << "" << 1000000;
    QTest::newRow("a result is checkable and ticked")
        << "ListView2" << 3 << -1 << "" << 1 << "item 1"
        << "checkable checked"
        << "" << 3;
    QTest::newRow("Down moves the focus and selection")
        << "ListView1" << 6 << 2 << "Down" << 3 << "item 3"
        << "focused selected"
        << "SelectionRemove 2,SelectionAdd 3,Focus 3" << 6;
    QTest::newRow("End at a million")
        << "ListView1" << 1000000 << 0 << "End" << 999999 << "item 999999"
        << "focused selected"
        << "SelectionRemove 0,SelectionAdd 999999,Focus 999999" << 1000000;
    QTest::newRow("Space unticks a result") << "ListView2" << 3 << 1 << "Space" << 1 << "item 1"
                                            << "focused selected checkable"
                                            << "Checked 1" << 3;
    QTest::newRow("the toggle action ticks again")
        << "ListView2" << 3 << 2 << "toggle toggle" << 2 << "item 2"
        << "focused selected checkable checked"
        << "Checked 2,Checked 2" << 3;
    QTest::newRow("Delete: the next item takes the place")
        << "ListView1" << 6 << 0 << "Del" << 0 << "item 1"
        << "focused selected"
        << "SelectionAdd 0,Focus 0" << 5;
    QTest::newRow("Tab out of the list: no row is told")
        << "ListView1" << 6 << 2 << "Down Tab" << 3 << "item 3"
        << "selected"
        << "SelectionRemove 2,SelectionAdd 3" << 6;
    QTest::newRow("a reader selects a row, which becomes current")
        << "ListView1" << 6 << 0 << "select" << 4 << "item 4"
        << "focused selected"
        << "SelectionRemove 0,SelectionAdd 4,Focus 4" << 6;
    QTest::newRow("a reader unselects the row")
        << "ListView1" << 6 << 2 << "unselect" << 2 << "item 2"
        << "focused"
        << "SelectionRemove 2" << 6;
    QTest::newRow("Tab into the results: the list, then its first row")
        << "ListView2" << 3 << -1 << "Tab" << 0 << "item 0"
        << "focused checkable checked"
        << "Focus 0" << 3;
    QTest::newRow("a long selection read while its rows are made")
        << "ListView1" << 1000 << -1 << "cells" << 0 << "item 0"
        << ""
        << "SelectionWithin -1,SelectionWithin -1" << 1000;
}

// Through the interfaces a screen reader is given, as it asks: the list, then one row.
void AccessibleTest::listAccessible() {
    QFETCH(QString, view);
    QFETCH(int, items);
    QFETCH(int, current);
    QFETCH(QString, input);
    QFETCH(int, row);
    QFETCH(QString, text);
    QFETCH(QString, states);
    QFETCH(QString, events);
    QFETCH(int, rows);
    Harness h;
    Form1 &w = h.w();
    w.show();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    auto *list = w.findChild<ReportView *>(view);
    TextListModel &model = list == w.listView1() ? w.inputList() : w.resultsList();
    TextStore texts;
    for (int i = 0; i < items; ++i)
        texts.append(QStringLiteral("item %1").arg(i));
    model.appendItems(texts);
    // A row of the other list, which is never one of this list's.
    ReportView *other = list == w.listView1() ? w.listView2() : w.listView1();
    static_cast<TextListModel *>(other->model())->appendItem(QStringLiteral("other"));
    if (current >= 0) {
        list->setCurrentIndex(model.index(current, 0));
        list->setFocus();
    } else if (input == QLatin1String("Tab")) {
        h.button("PushButton4")->setFocus();
    }
    QApplication::processEvents();

    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(list);
    // What the input repaints: a row whose look changes is drawn again.
    struct Painted : QObject {
        QRegion region;
        bool eventFilter(QObject *, QEvent *event) override {
            if (event->type() == QEvent::Paint)
                region += static_cast<QPaintEvent *>(event)->region();
            return false;
        }
    } painted;
    list->viewport()->installEventFilter(&painted);
    setAccessibleEventSink(recordAccessibleEvent);
    accessibleEvents.clear();
    QAccessibleTableInterface *table = iface->tableInterface();
    for (const QString &step : input.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (step == QLatin1String("toggle"))
            iface->child(row)->actionInterface()->doAction(
                QAccessibleActionInterface::toggleAction());
        else if (step == QLatin1String("select"))
            QVERIFY(table->selectRow(row));
        else if (step == QLatin1String("unselect"))
            QVERIFY(table->unselectRow(row));
        else if (step == QLatin1String("cells")) {
            // The first row read is the oldest kept, so reading the others makes rows after it.
            iface->child(0);
            for (int i = 500; i < 755; ++i)
                iface->child(i);
            const QAbstractItemModel *shown = list->model();
            list->selectionModel()->select(QItemSelection(shown->index(0, 0, list->rootIndex()),
                                                          shown->index(299, 0, list->rootIndex())),
                                           QItemSelectionModel::Select | QItemSelectionModel::Rows);
            QCOMPARE(table->selectedCellCount(), 300);
            const QList<QAccessibleInterface *> cells = table->selectedCells();
            QVERIFY(!cells.isEmpty());
            for (int k = 0; k < cells.size(); ++k) {
                QCOMPARE(cells[k]->tableCellInterface()->rowIndex(), k);
                QCOMPARE(cells[k]->text(QAccessible::Name), QStringLiteral("item %1").arg(k));
            }
            list->selectionModel()->clearSelection();
        } else
            QTest::keyClick(QApplication::focusWidget(), QKeySequence(step)[0].key());
    }
    QApplication::processEvents();
    setAccessibleEventSink(nullptr);
    list->viewport()->removeEventFilter(&painted);
    if (!input.isEmpty())
        QVERIFY(painted.region.contains(list->visualRect(list->model()->index(row, 0))));

    QCOMPARE(iface->role(), QAccessible::List);
    QCOMPARE(iface->text(QAccessible::Name),
             QString::fromLatin1(list == w.listView1() ? "Text List" : "Results"));
    QCOMPARE(iface->childCount(), rows);
    QVERIFY(!iface->child(rows)); // no progress strip shows
    QCOMPARE(table->rowCount(), rows);
    QCOMPARE(table->columnDescription(0), iface->text(QAccessible::Name));
    // A reader walks the first rows, more than are kept for it, asking for each twice.
    for (int i = 0; i < std::min(rows, 300); ++i) {
        QAccessibleInterface *asked = iface->child(i);
        QCOMPARE(iface->child(i), asked);
        QCOMPARE(asked->text(QAccessible::Name), model.itemText(i + 1));
    }
    QAccessibleInterface *item = iface->child(row);
    QVERIFY(item && item->isValid());
    QCOMPARE(item->role(), QAccessible::ListItem);
    QCOMPARE(item->text(QAccessible::Name), text);
    QCOMPARE(statesOf(item), states);
    // A reader goes up from a row to its list and back.
    QCOMPARE(item->parent(), iface);
    QCOMPARE(iface->indexOfChild(item), row);
    QCOMPARE(table->cellAt(row, 0), item);
    QCOMPARE(iface->indexOfChild(QAccessible::queryAccessibleInterface(other)->child(0)), -1);
    QCOMPARE(iface->indexOfChild(QAccessible::queryAccessibleInterface(h.button("PushButton1"))),
             -1);
    QCOMPARE(iface->child(0)->text(QAccessible::Name),
             model.itemText(1)); // walked past, made again
    QCOMPARE(accessibleEvents.join(QLatin1Char(',')), events);
    const bool selected = item->state().selected;
    QCOMPARE(table->isRowSelected(row), selected);
    QCOMPARE(table->selectedRows(), selected ? QList<int>{row} : QList<int>{});
    QCOMPARE(table->selectedCells(),
             selected ? QList<QAccessibleInterface *>{item} : QList<QAccessibleInterface *>{});
    // No row past the end to select: the selection stays.
    QVERIFY(!table->selectRow(rows) && !table->unselectRow(rows));
    QCOMPARE(statesOf(item), states);
    // A pointer over the row finds it.
    if (!item->state().offscreen)
        QCOMPARE(iface->childAt(item->rect().center().x(), item->rect().center().y()), item);
    if (item->state().focused)
        QCOMPARE(iface->focusChild(), item);
    const QStringList toggle(QAccessibleActionInterface::toggleAction());
    const bool checkable = item->state().checkable;
    QCOMPARE(item->actionInterface()->actionNames(), checkable ? toggle : QStringList());
    QCOMPARE(item->actionInterface()->keyBindingsForAction(toggle[0]),
             checkable ? QStringList("Space") : QStringList());
    if (checkable)
        QCOMPARE(model.isChecked(row + 1), item->state().checked);
    // The keyboard's row shows where it is.
    if (list->hasFocus() && list->currentIndex().isValid()) {
        const QRect area = list->visualRect(list->currentIndex());
        const QImage focused = list->viewport()->grab(area).toImage();
        h.button("PushButton11")->setFocus();
        QApplication::processEvents();
        QVERIFY(focused != list->viewport()->grab(area).toImage());
    }
}

QTEST_MAIN(AccessibleTest)
#include "tst_accessible.moc"
