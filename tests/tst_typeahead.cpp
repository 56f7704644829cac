#include "TestSupport.h"

#include "engine/store/TextListModel.h"
#include "gui/views/TypeAhead.h"

#include <QScopeGuard>
#include <QTest>
#include <QTimer>

class TypeAheadTest : public QObject {
    Q_OBJECT
private slots:
    void typeAhead_data();
    void typeAhead();
};

void TypeAheadTest::typeAhead_data() {
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<int>("filler");  // items "x" before the last one
    QTest::addColumn<int>("current"); // positions from 1, 0 for none
    QTest::addColumn<QString>("keys");
    QTest::addColumn<QString>("edit"); // "position text" or "+ texts", after the first turn
    QTest::addColumn<int>("expected");
    const QStringList fruit{"apple", "Banana", "berry", "cherry"};
    QTest::newRow("first letter, any case") << fruit << 0 << 1 << "b"
                                            << "" << 2;
    QTest::newRow("quick typing extends") << fruit << 0 << 1 << "ber"
                                          << "" << 3;
    QTest::newRow("the same letter steps on")
        << QStringList{"apple", "Banana", "berry", "blue"} << 0 << 1 << "bb"
        << "" << 3;
    // "|": the first search ends before the next key.
    QTest::newRow("the same letter again after the first search")
        << QStringList{"apple", "Banana", "berry", "blue"} << 0 << 1 << "b|b"
        << "" << 3;
    QTest::newRow("the same letter, one match") << fruit << 0 << 1 << "cc"
                                                << "" << 4;
    QTest::newRow("wraps to the top") << fruit << 0 << 4 << "a"
                                      << "" << 1;
    QTest::newRow("from the last row its own letter wraps to the match above")
        << QStringList{"cherry", "apple", "cider"} << 0 << 3 << "c"
        << "" << 1;
    QTest::newRow("no current item") << fruit << 0 << 0 << "a"
                                     << "" << 1;
    QTest::newRow("nothing begins with it") << fruit << 0 << 2 << "z"
                                            << "" << 2;
    // The search takes many turns of the window.
    const QStringList ends{"apple", "zebra"};
    QTest::newRow("millions") << ends << 3'000'000 << 1 << "z"
                              << "" << 3'000'002;
    QTest::newRow("an edit starts it again") << ends << 3'000'000 << 1 << "z"
                                             << "2 zoo" << 2;
    QTest::newRow("an item added after the wrap") << ends << 3'000'000 << 3'000'001 << "m"
                                                  << "+ m" << 3'000'003;
    // "~": the next keys come after the scan's first turn, the keyboard's interval passed, so
    // they start a search of their own.
    QTest::newRow("a new letter while a search runs starts from the current item")
        << QStringList{"apple", "avocado", "zebra"} << 3'000'000 << 1 << "z~a"
        << "" << 2;
    QTest::newRow("items added meanwhile, then the wrap") << ends << 3'000'000 << 2 << "a"
                                                          << "+ m n" << 1;
}

void TypeAheadTest::typeAhead() {
    QFETCH(QStringList, items);
    QFETCH(int, filler);
    QFETCH(int, current);
    QFETCH(QString, keys);
    QFETCH(QString, edit);
    QFETCH(int, expected);
    Harness h;
    h.w().show();
    QVERIFY(QTest::qWaitForWindowExposed(&h.w()));
    TextStore all;
    for (const QString &text : std::as_const(items)) {
        if (&text == &items.constLast())
            for (int i = 0; i < filler; ++i)
                all.appendBytes("x");
        all.append(text);
    }
    h.w().inputList().appendItems(all);
    ReportView *view = h.w().listView1();
    if (current)
        view->setCurrentIndex(view->model()->index(current - 1, 0));
    view->setFocus();
    const int interval = QApplication::keyboardInputInterval();
    const auto restore = qScopeGuard([&] { QApplication::setKeyboardInputInterval(interval); });
    // The scan's turns: the timer that runs each of them.
    const QTimer *turn = view->findChild<TypeAhead *>()->findChild<QTimer *>();
    QVERIFY(turn);
    const auto type = [&](QStringView keys) {
        for (const QChar key : keys)
            if (key == QLatin1Char('|'))
                QTRY_VERIFY(!turn->isActive());
            else
                QTest::keyClick(view, key.toLatin1());
    };
    const qsizetype pause = keys.indexOf(QLatin1Char('~'));
    type(QStringView(keys).left(pause < 0 ? keys.size() : pause));
    const QStringList words = edit.split(QLatin1Char(' '));
    const auto change = [&] {
        if (pause >= 0) {
            QApplication::setKeyboardInputInterval(0);
            type(QStringView(keys).mid(pause + 1));
        }
        if (edit.startsWith(QLatin1Char('+')))
            for (const QString &text : words.mid(1))
                h.w().inputList().appendItem(text);
        else if (!edit.isEmpty())
            h.w().inputList().setText(words[0].toInt(), words[1]);
    };
    if (filler) {
        // A list of millions takes more than one turn: after the first the scan still looks,
        // and what follows comes then.
        bool looking = false;
        int currentThen = -1;
        QMetaObject::Connection first;
        first = connect(turn, &QTimer::timeout, this, [&] {
            disconnect(first);
            looking = turn->isActive();
            currentThen = view->currentIndex().row() + 1;
            change();
        });
        QTRY_VERIFY(currentThen >= 0);
        QVERIFY(looking);
        QCOMPARE(currentThen, current);
    } else {
        change();
    }
    QTRY_COMPARE_WITH_TIMEOUT(view->currentIndex().row() + 1, expected, 30000);
    QCOMPARE(h.w().currentItem(), expected);
}

QTEST_MAIN(TypeAheadTest)
#include "tst_typeahead.moc"
