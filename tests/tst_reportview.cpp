// The lists' view on its own: where rows are, where the keys go, what is painted.
#include "engine/store/TextListModel.h"
#include "gui/views/ReportView.h"

#include <QApplication>
#include <QHoverEvent>
#include <QScreen>
#include <QScrollBar>
#include <QTest>

namespace {
constexpr int RowHeight = 16;
constexpr int PageRows = 10; // rows the viewport shows whole

// A shown view of rows texts "row 0", "row 1", ..., its viewport PageRows and a half rows
// high, hovered rows painted red so that a stale highlight shows.
struct Shown {
    TextListModel list{false};
    ReportView view;

    explicit Shown(int rows) {
        TextStore texts;
        for (int i = 0; i < rows; ++i)
            texts.append(QStringLiteral("row %1").arg(i));
        list.appendItems(texts);
        view.setStyleSheet(QStringLiteral("ReportView::item:hover { background: red; }"));
        view.setModel(&list);
        view.setRowHeight(RowHeight);
        view.setColumnWidth(0, 2000);
        view.show();
        view.resize(300, 400);
        view.resize(view.width(), view.height() - view.viewport()->height() + PageRows * RowHeight +
                                      RowHeight / 2);
    }
    QScrollBar *rows() { return view.verticalScrollBar(); }
    void hover(int row) {
        const QPoint at(20, view.rowViewportPosition(row) + RowHeight / 2);
        QHoverEvent move(QEvent::HoverMove, at, view.viewport()->mapToGlobal(at), QPoint(-1, -1));
        QApplication::sendEvent(view.viewport(), &move);
    }
    // What the window system shows of the rows: the backing store, scrolled pixels included.
    QImage onScreen() {
        QApplication::processEvents();
        const QRect rows = view.viewport()->geometry();
        return view.screen()
            ->grabWindow(view.winId(), rows.x(), rows.y(), rows.width(), rows.height())
            .toImage();
    }
};
} // namespace

class ReportViewTest : public QObject {
    Q_OBJECT
private slots:
    void keys_data();
    void keys();
    void positions_data();
    void positions();
    void painted_data();
    void painted();
};

void ReportViewTest::keys_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("from");
    QTest::addColumn<int>("to");
    QTest::newRow("PageUp") << int(Qt::Key_PageUp) << 50 << 50 - PageRows;
    QTest::newRow("PageUp near the top") << int(Qt::Key_PageUp) << 4 << 0;
    QTest::newRow("PageDown") << int(Qt::Key_PageDown) << 50 << 50 + PageRows;
    QTest::newRow("PageDown near the end") << int(Qt::Key_PageDown) << 95 << 99;
    QTest::newRow("Up") << int(Qt::Key_Up) << 50 << 49;
    QTest::newRow("Down at the end") << int(Qt::Key_Down) << 99 << 99;
    QTest::newRow("Home") << int(Qt::Key_Home) << 50 << 0;
    QTest::newRow("End") << int(Qt::Key_End) << 50 << 99;
}

void ReportViewTest::keys() {
    QFETCH(int, key);
    QFETCH(int, from);
    QFETCH(int, to);
    Shown s(100);
    s.view.setCurrentIndex(s.list.index(from));
    QTest::keyClick(&s.view, Qt::Key(key));
    QCOMPARE(s.view.currentIndex().row(), to);
    QVERIFY(s.view.selectionModel()->isRowSelected(to, {}));
}

void ReportViewTest::positions_data() {
    QTest::addColumn<int>("rows");
    QTest::addColumn<int>("scrolledRows");
    QTest::addColumn<int>("scrolledPixels"); // sideways
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("row");  // at y, -1 for none
    QTest::addColumn<int>("left"); // of that row's rect
    QTest::newRow("top") << 100 << 0 << 0 << 1 << 0 << 0;
    QTest::newRow("scrolled down") << 100 << 30 << 0 << RowHeight * 2 << 32 << 0;
    QTest::newRow("scrolled sideways") << 100 << 0 << 100 << RowHeight * 3 << 3 << -100;
    QTest::newRow("below the last row") << 3 << 0 << 0 << RowHeight * 3 + 1 << -1 << 0;
    QTest::newRow("above the first row") << 3 << 0 << 0 << -1 << -1 << 0;
}

void ReportViewTest::positions() {
    QFETCH(int, rows);
    QFETCH(int, scrolledRows);
    QFETCH(int, scrolledPixels);
    QFETCH(int, y);
    QFETCH(int, row);
    QFETCH(int, left);
    Shown s(rows);
    s.rows()->setValue(scrolledRows);
    s.view.horizontalScrollBar()->setValue(scrolledPixels);
    QCOMPARE(s.view.rowAt(y), row);
    if (row < 0)
        return;
    const QModelIndex index = s.list.index(row);
    QCOMPARE(s.view.indexAt(QPoint(150, y)), index);
    const QRect rect = s.view.visualRect(index);
    QCOMPARE(rect.left(), left);
    QCOMPARE(rect.width(), 2000);
    QVERIFY(rect.contains(QPoint(150, y)));
}

void ReportViewTest::painted_data() {
    QTest::addColumn<QString>("change");
    QTest::newRow("rows removed under the hovered row") << "remove";
    QTest::newRow("list cleared and refilled under it") << "refill";
    QTest::newRow("scrolled one row down") << "down";
    QTest::newRow("scrolled one row up") << "up";
    QTest::newRow("scrolled a page down") << "page";
    QTest::newRow("rows added below the rows shown") << "below";
    QTest::newRow("rows added while the end is shown") << "end";
    QTest::newRow("rows added into view") << "into";
}

// What is on screen after a change is what a fresh paint of the same state shows: no stale
// highlight, no picture moved by the wrong amount.
void ReportViewTest::painted() {
    QFETCH(QString, change);
    Shown s(100);
    QVERIFY(QTest::qWaitForWindowExposed(&s.view));
    s.rows()->setValue(20);
    const QImage before = s.onScreen();
    if (change == QLatin1String("remove") || change == QLatin1String("refill")) {
        s.hover(22);
        QVERIFY(s.onScreen() != before); // the highlight shows
        if (change == QLatin1String("remove")) {
            s.list.removeItem(100);
        } else {
            s.list.clearItems();
            TextStore texts;
            for (int i = 0; i < 100; ++i)
                texts.append(QStringLiteral("row %1").arg(i));
            s.list.appendItems(texts);
            s.rows()->setValue(20);
        }
    } else if (change == QLatin1String("below") || change == QLatin1String("end") ||
               change == QLatin1String("into")) {
        if (change == QLatin1String("into")) {
            s.list.clearItems();
            s.list.appendItem(QStringLiteral("row 0"));
        }
        if (change == QLatin1String("end"))
            s.rows()->setValue(s.rows()->maximum());
        const QImage shownBefore = s.onScreen();
        s.hover(s.view.rowAt(RowHeight / 2));
        const QImage highlighted = s.onScreen();
        QVERIFY(highlighted != shownBefore);
        TextStore texts;
        for (int i = 0; i < 5; ++i)
            texts.append(QStringLiteral("added %1").arg(i));
        s.list.appendItems(texts);
        QCOMPARE(s.rows()->maximum(), std::max(0, s.list.itemCount() - PageRows)); // at once
        if (change == QLatin1String("below")) { // nothing moves; the highlight stays
            QCOMPARE(s.onScreen(), highlighted);
            s.view.viewport()->repaint();
            QCOMPARE(s.onScreen(), highlighted);
            return;
        }
        // Rows added below the hovered one leave it lit; at the end they shift it from under
        // the mouse, half a row.
        const QImage after = s.onScreen();
        bool lit = false;
        for (int y = 0; y < after.height(); ++y)
            lit = lit || after.pixelColor(after.width() / 2, y) == QColor(Qt::red);
        QCOMPARE(lit, change == QLatin1String("into"));
    } else {
        s.rows()->setValue(change == QLatin1String("down") ? 21
                           : change == QLatin1String("up") ? 19
                                                           : 20 + PageRows);
    }
    const QImage shown = s.onScreen();
    if (s.rows()->value() == 20) { // the same rows as before, none highlighted
        QCOMPARE(shown, before);
        return;
    }
    QVERIFY(shown != before);
    s.view.viewport()->repaint();
    QCOMPARE(shown, s.onScreen());
}

QTEST_MAIN(ReportViewTest)
#include "tst_reportview.moc"
