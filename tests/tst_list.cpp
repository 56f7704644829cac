#include "TestSupport.h"

#include "core/ErrorReport.h"
#include "list/TextListModel.h"

#include <QRandomGenerator>
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
    void storeKeepsEveryText_data();
    void storeKeepsEveryText();
    void storeEdits_data();
    void storeEdits();
    void bulkAppendNotifiesOnce();
    void growthCostCoversAppend_data();
    void growthCostCoversAppend();
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

void ListTest::storeKeepsEveryText_data() {
    QTest::addColumn<QString>("text");
    QTest::newRow("empty") << QString();
    QTest::newRow("ASCII") << QStringLiteral("plain text");
    QTest::newRow("accents") << QStringLiteral("é à ü");
    QTest::newRow("outside the BMP") << QStringLiteral("😀 x");
    QTest::newRow("NUL") << QString::fromUtf8("a\0b", 3);
    QTest::newRow("lone high surrogate") << QString(QChar(0xD83D)) + QStringLiteral("x");
    QTest::newRow("lone low surrogate") << QStringLiteral("x") + QChar(0xDE00);
    QTest::newRow("U+FFFD") << QString(QChar(0xFFFD));
}

void ListTest::storeKeepsEveryText() {
    QFETCH(QString, text);
    TextListModel list(false);
    list.appendItem(text);
    list.appendItem(QStringLiteral("next"));
    QCOMPARE(list.itemText(1), text);
    QCOMPARE(list.data(list.index(0), Qt::DisplayRole).toString(), text);
    QCOMPARE(list.itemText(2), QStringLiteral("next"));
    // Lone surrogates stay distinct from the replacement character.
    if (!text.isValidUtf16())
        QVERIFY(TextStore::encode(text) != TextStore::encode(QString(QChar(0xFFFD))));
}

void ListTest::storeEdits_data() {
    QTest::addColumn<QStringList>("initial");
    // "set N text", "remove N", "append text", positions from 1
    QTest::addColumn<QStringList>("edits");
    QTest::addColumn<int>("seed");             // of random texts and edits instead, 0 for none
    QTest::addColumn<int>("randomItems");      // added to initial with the seed
    QTest::addColumn<QStringList>("expected"); // as well as what a plain list says
    QTest::newRow("lengthen, remove, empty, append")
        << QStringList{"one", "two", "three", "four"}
        << QStringList{"set 2 a much longer second item", "remove 1", "set 3 ", "append five"} << 0
        << 0 << QStringList{"a much longer second item", "three", "", "five"};
    // A text kept aside comes back into the buffer, and is then changed again.
    const QString aside(5000, QLatin1Char('x'));
    QTest::newRow("last text back from aside")
        << QStringList{"a", "b"}
        << QStringList{"set 2 " + aside, "set 2 short", "append c", "set 2 a longer text"} << 0 << 0
        << QStringList{"a", "a longer text", "c"};
    // Past the point where the store rewrites its buffer.
    QTest::newRow("random edits") << QStringList() << QStringList() << 9 << 300 << QStringList();
    // Thousands of items: edits that cross chunks, and a stretch removed until chunks merge
    // and vanish.
    QTest::newRow("random edits across chunks")
        << QStringList() << QStringList(6000, QStringLiteral("remove 3000")) << 5 << 13000
        << QStringList();
    QTest::newRow("a middle chunk removed whole, then appends")
        << QStringList()
        << QStringList(4096, QStringLiteral("remove 4097")) + QStringList(5000, "append z") << 0
        << 13000 << QStringList();
    QStringList fromTheEnd;
    for (int position = 9000; position > 0; --position)
        fromTheEnd << QStringLiteral("remove %1").arg(position);
    QTest::newRow("removed from the end")
        << QStringList() << fromTheEnd + QStringList{"append a"} << 0 << 9000 << QStringList{"a"};
}

// Edits against a plain list, with a snapshot that must not change.
void ListTest::storeEdits() {
    QFETCH(QStringList, initial);
    QFETCH(QStringList, edits);
    QFETCH(int, seed);
    QFETCH(int, randomItems);
    QFETCH(QStringList, expected);
    QRandomGenerator random(quint32(std::max(seed, 1)));
    auto someText = [&] {
        // Now and then one long enough to be kept on its own.
        const int length =
            random.bounded(40) == 0 ? 4090 + int(random.bounded(12)) : int(random.bounded(6));
        return QString(length, QChar(u'a' + random.bounded(26))) +
               (random.bounded(4) == 0 ? QStringLiteral("é😀") : QString());
    };
    for (int i = 0; i < randomItems; ++i)
        initial << someText();
    TextListModel list(false);
    for (const QString &t : std::as_const(initial))
        list.appendItem(t);
    const TextStore snapshot = list.store();
    QStringList plain = initial;
    for (const QString &edit : std::as_const(edits)) {
        const QStringList words = edit.split(QLatin1Char(' '));
        const QString rest = edit.section(QLatin1Char(' '), 2);
        if (words[0] == QLatin1String("set")) {
            plain[words[1].toInt() - 1] = rest;
            list.setText(words[1].toInt(), rest);
        } else if (words[0] == QLatin1String("remove")) {
            plain.removeAt(words[1].toInt() - 1);
            list.removeItem(words[1].toInt());
        } else {
            plain << edit.section(QLatin1Char(' '), 1);
            list.appendItem(plain.back());
        }
    }
    QCOMPARE(itemsOf(list), plain);
    for (int step = 0; seed && step < 20000; ++step) {
        const int kind = int(random.bounded(10));
        const qsizetype i = plain.isEmpty() ? 0 : random.bounded(int(plain.size()));
        if (plain.isEmpty() || kind < 2) {
            plain << someText();
            list.appendItem(plain.back());
        } else if (kind < 4) {
            plain.removeAt(i);
            list.removeItem(int(i) + 1);
        } else if (kind < 6) { // with a neighbour or any other item
            const qsizetype j =
                kind == 4 ? std::min(i + 1, plain.size() - 1) : random.bounded(int(plain.size()));
            plain.swapItemsAt(i, j);
            list.exchangeItems(int(i) + 1, int(j) + 1);
        } else {
            plain[i] = someText();
            list.setText(int(i) + 1, plain[i]);
        }
        if (step % 997 == 0) {
            TextStore joined; // appending a store with texts kept aside
            joined.append(QStringLiteral("x"));
            joined.append(list.store());
            QCOMPARE(joined.size(), plain.size() + 1);
            QCOMPARE(joined.text(joined.size() - 1), plain.isEmpty() ? "x" : plain.back());
            TextStore copy = list.store(); // an append to a copy leaves the list alone
            copy.append(QStringLiteral("y"));
            QCOMPARE(copy.text(copy.size() - 1), QStringLiteral("y"));
            QCOMPARE(list.itemCount(), plain.size());
        }
    }
    QCOMPARE(itemsOf(list), plain);
    if (!expected.isEmpty())
        QCOMPARE(itemsOf(list), expected);
    QCOMPARE(snapshot.size(), initial.size());
    for (qsizetype i = 0; i < snapshot.size(); ++i)
        QCOMPARE(snapshot.text(i), initial[i]);
    list.clearItems();
    QCOMPARE(list.itemCount(), 0);
    QCOMPARE(snapshot.text(0), initial[0]);
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

void ListTest::growthCostCoversAppend_data() {
    QTest::addColumn<int>("held");    // items of "ab" in the store first
    QTest::addColumn<bool>("shared"); // whether a copy of the store is kept meanwhile
    QTest::addColumn<int>("added");
    QTest::addColumn<int>("length"); // of each added text
    QTest::newRow("one-byte texts onto a part-filled chunk") << 1000 << false << 20000 << 1;
    QTest::newRow("one-byte texts onto a shared chunk") << 1000 << true << 20000 << 1;
    QTest::newRow("40-byte texts onto a full chunk") << 4096 << false << 10000 << 40;
    QTest::newRow("long texts kept aside") << 10 << false << 50 << 5000;
}

// The room the list makes sure of before an append covers what the append then takes, and
// not many times more: a load is neither let through to fail midway nor refused for nothing.
void ListTest::growthCostCoversAppend() {
    QFETCH(int, held);
    QFETCH(bool, shared);
    QFETCH(int, added);
    QFETCH(int, length);
    TextStore store, batch;
    for (int i = 0; i < held; ++i)
        store.append(QStringLiteral("ab"));
    for (int i = 0; i < added; ++i)
        batch.append(QString(length, QLatin1Char('a' + i % 26)));
    const TextStore copy = shared ? store : TextStore();
    const qint64 cost = store.growthCost(batch);
    const auto before = qint64(store.bytesAllocated());
    store.append(batch);
    const auto taken = qint64(store.bytesAllocated()) - before;
    QVERIFY2(taken <= cost, qPrintable(QStringLiteral("%1 > %2").arg(taken).arg(cost)));
    QVERIFY2(cost <= 2 * taken + 4096, qPrintable(QStringLiteral("%1, %2").arg(taken).arg(cost)));
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
