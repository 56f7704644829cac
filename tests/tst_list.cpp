#include "TestSupport.h"

#include "engine/core/ErrorReport.h"
#include "engine/store/TextListModel.h"

#include <QSignalSpy>
#include <QTest>

namespace {
void fill(Form1 &w, const QStringList &texts) {
    for (const QString &t : texts)
        w.inputList().appendItem(t);
}

void select(Form1 &w, int position) {
    ReportView *view = w.listView1();
    view->selectionModel()->select(view->model()->index(position - 1, 0),
                                   QItemSelectionModel::ClearAndSelect);
}

enum class Trigger { Delete, ShiftDelete, CtrlDelete, DoubleClick, Backspace };

void trigger(Form1 &w, Trigger how) {
    ReportView *view = w.listView1();
    if (how != Trigger::DoubleClick) {
        const Qt::KeyboardModifiers with = how == Trigger::ShiftDelete  ? Qt::ShiftModifier
                                           : how == Trigger::CtrlDelete ? Qt::ControlModifier
                                                                        : Qt::NoModifier;
        return QTest::keyClick(view, how == Trigger::Backspace ? Qt::Key_Backspace : Qt::Key_Delete,
                               with);
    }
    const QModelIndex current = view->selectionModel()->selectedRows().value(0);
    const QPoint where = current.isValid() ? view->visualRect(current).center()
                                           : QPoint(5, view->viewport()->height() - 5);
    QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, where);
}
} // namespace

Q_DECLARE_METATYPE(Trigger)

class ListTest : public QObject {
    Q_OBJECT
private slots:
    void addOneItem_data();
    void addOneItem();
    void removeCurrentItem_data();
    void removeCurrentItem();
    void refusedWhileBusy_data();
    void refusedWhileBusy();
    void clearList();
    void samples();
    void bulkAppendNotifiesOnce();
    void badPositionIsAFailure();
    void hugeItemShowsItsBeginning_data();
    void hugeItemShowsItsBeginning();
};

void ListTest::addOneItem_data() {
    QTest::addColumn<QStringList>("typed");
    QTest::addColumn<QStringList>("items");
    QTest::newRow("cancel or empty") << QStringList{""} << QStringList{};
    QTest::newRow("one blank") << QStringList{" "} << QStringList{" "};
    QTest::newRow("same twice") << QStringList{"x", "x"} << QStringList{"x", "x"};
    QTest::newRow("exactly as typed")
        << QStringList{" Mixed Case  "} << QStringList{" Mixed Case  "};
    QTest::newRow("each line an item, as a file's")
        << QStringList{"p\nq", "a\r\nb\rc\n", "x\n\ny\r"}
        << QStringList{"p", "q", "a", "b", "c", "x", "", "y"};
    QTest::newRow("a line break alone adds one empty item")
        << QStringList{"\r\n"} << QStringList{""};
}

void ListTest::addOneItem() {
    QFETCH(QStringList, typed);
    QFETCH(QStringList, items);
    Harness h;
    h.w().setMousePointer(Form1::PointerHourglass); // adding is not refused while busy
    for (const QString &t : typed) {
        h.dialogs.inputs << t;
        h.button("PushButton1")->click();
    }
    QCOMPARE(itemsOf(h.w().inputList()), items);
    QCOMPARE(h.dialogs.shown.size(), typed.size());
    for (const auto &box : h.dialogs.shown) {
        QCOMPARE(box.kind, QStringLiteral("input"));
        QCOMPARE(box.text, QStringLiteral("Enter item to add: "));
        QCOMPARE(box.title, QStringLiteral("Quorvel"));
    }
}

void ListTest::removeCurrentItem_data() {
    QTest::addColumn<Trigger>("how");
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<int>("selected"); // 0: none
    QTest::addColumn<QStringList>("after");
    const QStringList abc{"a", "b", "c"};
    QTest::newRow("Delete") << Trigger::Delete << abc << 2 << QStringList{"a", "c"};
    QTest::newRow("Shift+Delete") << Trigger::ShiftDelete << abc << 3 << QStringList{"a", "b"};
    QTest::newRow("Ctrl+Delete") << Trigger::CtrlDelete << abc << 1 << QStringList{"b", "c"};
    QTest::newRow("double-click") << Trigger::DoubleClick << abc << 2 << QStringList{"a", "c"};
    QTest::newRow("other key") << Trigger::Backspace << abc << 2 << abc;
    QTest::newRow("Delete, nothing selected") << Trigger::Delete << abc << 0 << abc;
    QTest::newRow("double-click, nothing selected") << Trigger::DoubleClick << abc << 0 << abc;
    QTest::newRow("Delete, empty list") << Trigger::Delete << QStringList{} << 0 << QStringList{};
    QTest::newRow("double-click, empty list")
        << Trigger::DoubleClick << QStringList{} << 0 << QStringList{};
}

void ListTest::removeCurrentItem() {
    QFETCH(Trigger, how);
    QFETCH(QStringList, before);
    QFETCH(int, selected);
    QFETCH(QStringList, after);
    Harness h;
    h.w().show();
    QVERIFY(QTest::qWaitForWindowExposed(&h.w()));
    fill(h.w(), before);
    if (selected)
        select(h.w(), selected);
    trigger(h.w(), how);
    QCOMPARE(itemsOf(h.w().inputList()), after);
    QVERIFY(h.dialogs.shown.isEmpty());
}

void ListTest::refusedWhileBusy_data() {
    QTest::addColumn<QString>("command");
    QTest::newRow("Clear List") << QStringLiteral("clear");
    QTest::newRow("Delete") << QStringLiteral("delete");
    QTest::newRow("double-click") << QStringLiteral("dblclick");
}

void ListTest::refusedWhileBusy() {
    QFETCH(QString, command);
    Harness h;
    h.w().show();
    QVERIFY(QTest::qWaitForWindowExposed(&h.w()));
    fill(h.w(), {"a", "b"});
    select(h.w(), 1);
    auto run = [&] {
        if (command == QLatin1String("clear"))
            h.button("PushButton7")->click();
        else
            trigger(h.w(),
                    command == QLatin1String("delete") ? Trigger::Delete : Trigger::DoubleClick);
    };
    h.w().setMousePointer(Form1::PointerHourglass);
    run();
    QCOMPARE(h.w().inputList().itemCount(), 2);
    h.w().setMousePointer(Form1::PointerDefault);
    run();
    QVERIFY(h.w().inputList().itemCount() < 2);
    QVERIFY(h.dialogs.shown.isEmpty());
}

void ListTest::clearList() {
    Harness h;
    h.button("PushButton7")->click(); // empty: nothing, no report
    fill(h.w(), {"a", "b"});
    h.w().resultsList().appendItem(QStringLiteral("r"));
    h.button("PushButton7")->click();
    QCOMPARE(h.w().inputList().itemCount(), 0);
    QCOMPARE(h.w().resultsList().itemCount(), 1);
    QVERIFY(h.dialogs.shown.isEmpty());
}

void ListTest::samples() {
    Harness h;
    fill(h.w(), {"mine"});
    h.w().setMousePointer(Form1::PointerHourglass); // not refused while busy
    h.button("PushButton2")->click();
    h.button("PushButton2")->click();
    const QStringList six{"red", "orange", "Purple", "orange", "purple", "orange"};
    QCOMPARE(itemsOf(h.w().inputList()), QStringList{"mine"} + six + six);
    QVERIFY(h.dialogs.shown.isEmpty());
}

void ListTest::bulkAppendNotifiesOnce() {
    TextListModel list(false);
    QSignalSpy inserted(&list, &QAbstractItemModel::rowsInserted);
    TextStore batch;
    for (int i = 0; i < 100000; ++i)
        batch.append(QString::number(i));
    list.appendItems(batch);
    list.appendItems(batch);
    // Each batch is announced once, as the rows it added.
    QCOMPARE(inserted.count(), 2);
    QCOMPARE(inserted[0].mid(1), QVariantList({0, 99999}));
    QCOMPARE(inserted[1].mid(1), QVariantList({100000, 199999}));
    QCOMPARE(list.itemCount(), 200000);
    QCOMPARE(list.itemText(200000), QStringLiteral("99999"));
}

void ListTest::badPositionIsAFailure() {
    TextListModel list(true);
    list.appendItem(QStringLiteral("a"));
    for (int position : {0, 2, -1}) {
        QVERIFY_THROWS_EXCEPTION(Failure, list.itemText(position));
        QVERIFY_THROWS_EXCEPTION(Failure, list.removeItem(position));
        QVERIFY_THROWS_EXCEPTION(Failure, list.setText(position, QString()));
    }
    QCOMPARE(list.itemCount(), 1);
}

void ListTest::hugeItemShowsItsBeginning_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("short") << QStringLiteral("short \u00E9");
    QTest::newRow("a megabyte") << QString(1 << 20, QLatin1Char('m'));
    // The cut must not split a character.
    QTest::newRow("wide characters") << QString(300000, QChar(0x20AC));
    QTest::newRow("non-BMP characters") << QStringLiteral("\U0001F600").repeated(300000);
}

// Showing a huge item lays out only its beginning; everything else uses the whole text.
void ListTest::hugeItemShowsItsBeginning() {
    QFETCH(QString, text);
    TextListModel list(false);
    list.appendItem(text);
    const QString shown = list.data(list.index(0), Qt::DisplayRole).toString();
    QVERIFY(shown.size() <= 4096);
    QVERIFY(shown.size() >= qMin(text.size(), qsizetype(1300)));
    QVERIFY(text.startsWith(shown));
    QCOMPARE(list.itemText(1), text);
}

QTEST_MAIN(ListTest)

#include "tst_list.moc"
