#include "TestSupport.h"

#include "engine/store/TextListModel.h"
#include "gui/list/InputListDrag.h"

#include <QFile>
#include <QScrollBar>
#include <QTest>

namespace {
constexpr int Above = 1000;

// A shown window whose input list holds texts.
struct DragHarness : Harness {
    explicit DragHarness(const QStringList &texts) {
        for (const QString &t : texts)
            w().inputList().appendItem(t);
        w().show();
        QVERIFY(QTest::qWaitForWindowExposed(&w()));
    }
    QStringList texts() { return itemsOf(w().inputList()); }
    ReportView *view() { return w().listView1(); }
    QWidget *viewport() { return view()->viewport(); }
    InputListDrag *drag() { return w().findChild<InputListDrag *>(); }
    // The middle of the item at a position; 0 is the empty area below the last item.
    QPoint at(int position) {
        if (position == 0)
            return QPoint(20, viewport()->height() - 3);
        return view()->visualRect(w().inputList().index(position - 1)).center();
    }
    int firstVisible() { return view()->rowAt(0) + 1; }
    // The last item shown whole.
    int lastVisible() {
        int row = view()->rowAt(viewport()->height() - 1);
        if (view()->rowViewportPosition(row) +
                view()->visualRect(w().inputList().index(row)).height() >
            viewport()->height())
            --row;
        return row + 1;
    }
    // Moves the window so that the item's middle is at this row of the screen.
    void placeOnScreen(int position, int screenY) {
        const int now = viewport()->mapToGlobal(at(position)).y();
        w().move(w().x(), w().y() + screenY - now);
        QCOMPARE(viewport()->mapToGlobal(at(position)).y(), screenY);
    }
};
} // namespace

class ReorderTest : public QObject {
    Q_OBJECT
private slots:
    void drag_data();
    void drag();
    void moveWithoutButton();
    void dragPointer_data();
    void dragPointer();
    void draggedItemRemoved_data();
    void draggedItemRemoved();
    void scrolling_data();
    void scrolling();
};

void ReorderTest::drag_data() {
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<int>("press"); // 0: below the last item
    QTest::addColumn<QList<int>>("moves");
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<int>("selected");
    QTest::addColumn<int>("dragged"); // -1: the selected item
    const QStringList abc = {"a", "b", "c"};
    QTest::newRow("other text exchanged and selected")
        << abc << 1 << QList<int>{2} << Qt::LeftButton << QStringList{"b", "a", "c"} << 2 << -1;
    QTest::newRow("travels with the pointer")
        << QStringList{"a", "b", "c", "d"} << 1 << QList<int>{2, 3, 4} << Qt::LeftButton
        << QStringList{"b", "c", "d", "a"} << 4 << -1;
    QTest::newRow("and back up") << abc << 3 << QList<int>{2, 1} << Qt::LeftButton
                                 << QStringList{"c", "a", "b"} << 1 << -1;
    QTest::newRow("duplicate text stays")
        << QStringList{"a", "a", "c"} << 1 << QList<int>{2} << Qt::LeftButton
        << QStringList{"a", "a", "c"} << 1 << -1;
    QTest::newRow("texts differing in case exchange")
        << QStringList{"Purple", "purple"} << 1 << QList<int>{2} << Qt::LeftButton
        << QStringList{"purple", "Purple"} << 2 << -1;
    QTest::newRow("below the last item")
        << abc << 1 << QList<int>{0} << Qt::LeftButton << abc << 1 << -1;
    // Releasing over an item selects it, as a click would, but nothing was dragged.
    QTest::newRow("nothing clicked yet")
        << abc << 0 << QList<int>{1, 2} << Qt::LeftButton << abc << 2 << 0;
    QTest::newRow("row 2 to row 5 in one move")
        << QStringList{"1", "2", "3", "4", "5", "6"} << 2 << QList<int>{5} << Qt::LeftButton
        << QStringList{"1", "5", "3", "4", "2", "6"} << 5 << -1;
    QTest::newRow("neighbours of other lengths")
        << QStringList{"a long text", "b", "c"} << 1 << QList<int>{2} << Qt::LeftButton
        << QStringList{"b", "a long text", "c"} << 2 << -1;
    // Kept on its own in the store, it moves without a copy, also past rows it skips.
    const QString huge(5000, QLatin1Char('h'));
    QTest::newRow("a huge text skips rows")
        << QStringList{"a", huge, "c", "d"} << 2 << QList<int>{4, 1} << Qt::LeftButton
        << QStringList{huge, "d", "c", "a"} << 1 << -1;
    QTest::newRow("right button drags")
        << abc << 1 << QList<int>{3} << Qt::RightButton << QStringList{"c", "b", "a"} << 3 << -1;
    QTest::newRow("middle button drags")
        << abc << 2 << QList<int>{1} << Qt::MiddleButton << QStringList{"b", "a", "c"} << 1 << -1;
}

// Real mouse events on the view: press, moves with the button held, release.
void ReorderTest::drag() {
    QFETCH(QStringList, items);
    QFETCH(int, press);
    QFETCH(QList<int>, moves);
    QFETCH(Qt::MouseButton, button);
    QFETCH(QStringList, after);
    QFETCH(int, selected);
    QFETCH(int, dragged);
    DragHarness h(items);
    QTest::mousePress(h.viewport(), button, {}, h.at(press));
    QVERIFY(h.drag()->dragActive());
    QCOMPARE(h.drag()->draggedItem(), press);
    for (int move : moves)
        QTest::mouseMove(h.viewport(), h.at(move));
    QTest::mouseRelease(h.viewport(), button, {}, h.at(moves.last()));
    QVERIFY(!h.drag()->dragActive());
    QCOMPARE(h.texts(), after);
    QCOMPARE(h.w().currentItem(), selected);
    QCOMPARE(h.drag()->draggedItem(), dragged < 0 ? selected : dragged);
    QVERIFY(h.dialogs.shown.isEmpty());
}

// Without a button held only the window's pointer changes, also after a finished drag.
void ReorderTest::moveWithoutButton() {
    DragHarness h({"a", "b", "c"});
    h.w().setMousePointer(Form1::PointerCustom);
    QTest::mouseMove(h.viewport(), h.at(2));
    QCOMPARE(h.w().mousePointer(), int(Form1::PointerDefault));
    QTest::mouseClick(h.viewport(), Qt::LeftButton, {}, h.at(1));
    QCOMPARE(h.drag()->draggedItem(), 1);
    QTest::mouseMove(h.viewport(), h.at(3));
    QCOMPARE(h.texts(), QStringList({"a", "b", "c"}));
    QCOMPARE(h.w().currentItem(), 1);
}

void ReorderTest::dragPointer_data() {
    QTest::addColumn<QByteArray>("icon"); // empty: no drag.ico
    QTest::addColumn<Qt::CursorShape>("whileDragging");
    QFile real(QStringLiteral(QUORVEL_SOURCE_DIR "/assets/drag.ico"));
    QVERIFY(real.open(QIODevice::ReadOnly));
    QTest::newRow("drag.ico") << real.readAll() << Qt::BitmapCursor;
    QTest::newRow("missing") << QByteArray() << Qt::ArrowCursor;
    QTest::newRow("not a picture") << QByteArray("not an icon") << Qt::ArrowCursor;
}

// The list's own pointer: 99 with the drag image from the click, the arrow after the release;
// no message whatever the file.
void ReorderTest::dragPointer() {
    QFETCH(QByteArray, icon);
    QFETCH(Qt::CursorShape, whileDragging);
    DragHarness h({"a", "b"});
    const QString path = h.appFolder.filePath(QStringLiteral("drag.ico"));
    QFile file(path);
    QVERIFY(icon.isEmpty() || (file.open(QIODevice::WriteOnly) && file.write(icon) > 0));
    file.close();
    QCOMPARE(h.drag()->listPointer(), 0); // values, not names: a wrong constant shows
    QTest::mousePress(h.viewport(), Qt::LeftButton, {}, h.at(1));
    QCOMPARE(h.drag()->listPointer(), 99);
    QCOMPARE(h.viewport()->cursor().shape(), whileDragging);
    QVERIFY(!h.view()->dragEnabled());
    QTest::mouseRelease(h.viewport(), Qt::LeftButton, {}, h.at(1));
    QCOMPARE(h.drag()->listPointer(), 1);
    QCOMPARE(h.viewport()->cursor().shape(), Qt::ArrowCursor);
    // Read anew on each click: gone now, the next click shows the arrow.
    QFile::remove(path);
    QTest::mouseClick(h.viewport(), Qt::LeftButton, {}, h.at(2));
    QCOMPARE(h.viewport()->cursor().shape(), Qt::ArrowCursor);
    QVERIFY(h.dialogs.shown.isEmpty());
}

void ReorderTest::draggedItemRemoved_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<int>("over");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("dragged item removed") << "remove 2" << 1 << QStringList{"a", "c", "d"};
    QTest::newRow("list cleared and refilled") << "clear" << 1 << QStringList{"a", "b", "c", "d"};
    // The dragged text moved up with its item and still drags.
    QTest::newRow("item before it removed") << "remove 1" << 2 << QStringList{"c", "b", "d"};
}

// Another command changes the list in the middle of a drag of item 2, then the pointer moves
// over another item.
void ReorderTest::draggedItemRemoved() {
    QFETCH(QString, change);
    QFETCH(int, over);
    QFETCH(QStringList, after);
    const QStringList items{"a", "b", "c", "d"};
    DragHarness h(items);
    TextListModel &list = h.w().inputList();
    QTest::mousePress(h.viewport(), Qt::LeftButton, {}, h.at(2));
    if (change == QLatin1String("clear")) {
        list.clearItems();
        for (const QString &t : items)
            list.appendItem(t);
    } else {
        list.removeItem(change.back().digitValue());
    }
    QTest::mouseMove(h.viewport(), h.at(over));
    QTest::mouseRelease(h.viewport(), Qt::LeftButton, {}, h.at(over));
    QCOMPARE(h.texts(), after);
    QVERIFY(h.dialogs.shown.isEmpty());
}

void ReorderTest::scrolling_data() {
    QTest::addColumn<int>("top"); // first item shown; 0: scrolled to the end, -1: one short
    // A move of Above goes above the list, where no item is.
    QTest::addColumn<int>("press");   // offsets from the first shown item, or from the
    QTest::addColumn<int>("move");    // last one shown whole when negative (-1 is the last)
    QTest::addColumn<int>("screenY"); // where the pointer is for the move
    QTest::addColumn<int>("shift");   // how far the list scrolls
    QTest::newRow("above 305 shows the item above") << 20 << 1 << 0 << 250 << -1;
    QTest::newRow("at 304") << 20 << 1 << 0 << 304 << -1;
    QTest::newRow("at 305 no scroll") << 20 << 1 << 0 << 305 << 0;
    QTest::newRow("at 364 no scroll") << 10 << -2 << -1 << 364 << 0;
    QTest::newRow("at 365 shows the item below") << 10 << -2 << -1 << 365 << 1;
    QTest::newRow("no item above item 1") << 1 << 1 << 0 << 300 << 0;
    QTest::newRow("no item below the last") << 0 << -2 << -1 << 400 << 0;
    QTest::newRow("second-last shows the last") << -1 << -2 << -1 << 400 << 1;
    QTest::newRow("above the list, scrolled: nothing exchanged") << 20 << 1 << Above << 250 << 0;
}

void ReorderTest::scrolling() {
    QFETCH(int, top);
    QFETCH(int, press);
    QFETCH(int, move);
    QFETCH(int, screenY);
    QFETCH(int, shift);
    QStringList items;
    for (int i = 1; i <= 40; ++i)
        items << QString::number(i);
    DragHarness h(items);
    QScrollBar *bar = h.view()->verticalScrollBar();
    bar->setValue(top <= 0 ? bar->maximum() + top : top - 1);
    const int scrolled = bar->value();
    const int first = h.firstVisible();
    const int last = h.lastVisible();
    auto position = [&](int offset) { return offset >= 0 ? first + offset : last + 1 + offset; };
    const bool above = move == Above;
    const QPoint to = above ? QPoint(20, -3) : h.at(position(move));
    h.placeOnScreen(above ? first : position(move), screenY);
    QTest::mousePress(h.viewport(), Qt::LeftButton, {}, h.at(position(press)));
    QTest::mouseMove(h.viewport(), to);
    QTest::mouseRelease(h.viewport(), Qt::LeftButton, {}, to);
    QCOMPARE(h.w().inputList().itemText(above ? position(press) : position(move)),
             QString::number(position(press)));
    if (top >= 0) // at the end the last item is shown whole, the first one cut
        QCOMPARE(h.firstVisible(), first + shift);
    QCOMPARE(bar->value(), scrolled + shift);
}

QTEST_MAIN(ReorderTest)

#include "tst_reorder.moc"
