// Running out of memory at every allocation of a command in turn: the Nth allocation fails,
// for N = 1, 2, ... until the command completes. After each failure the lists, the views, the
// clipboard and the saved file are as they were and the report names the cause, or (where
// Qt took the refusal in its stride) the command is done whole; never anything between.
// Not under the address sanitizer, whose allocator must serve every block.
#include "FailingAllocator.h"
#include "FaultsSupport.h"

#include "engine/core/ErrorReport.h"
#include "engine/store/TextListModel.h"
#include "gui/list/InputListDrag.h"
#include "gui/list/ListCommands.h"

#include <QApplication>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTest>

// What the user sees of the window: both lists and their views, the clipboard, the file.
struct Seen {
    QStringList input, results;
    std::vector<bool> checks;
    QList<int> selected;
    int current = -1;
    int inputScroll = 0, resultsScroll = 0;
    QString clipboard;
    QByteArray saved;
    int pointer = 0;
    bool laterLongItemReads = true;
    bool operator==(const Seen &) const = default;
};

class AllocFailTest : public QObject {
    Q_OBJECT
private slots:
    void sweep_data();
    void sweep();
};

// Counts each list's announcements, without allocating, to find one left open.
struct Announcements {
    int opened = 0, closed = 0;
    void watch(TextListModel &list) {
        auto open = [this] {
            ++opened;
            ++announcing;
        };
        auto close = [this] {
            ++closed;
            --announcing;
        };
        QObject::connect(&list, &QAbstractItemModel::rowsAboutToBeInserted, open);
        QObject::connect(&list, &QAbstractItemModel::rowsInserted, close);
        QObject::connect(&list, &QAbstractItemModel::rowsAboutToBeRemoved, open);
        QObject::connect(&list, &QAbstractItemModel::rowsRemoved, close);
        QObject::connect(&list, &QAbstractItemModel::modelAboutToBeReset, open);
        QObject::connect(&list, &QAbstractItemModel::modelReset, close);
    }
};

namespace {
const QString Long = QString(5000, QLatin1Char('L'));

// A window holding a row's lists, and the command ready to run on it.
struct Window {
    QString command, argument;
    QTemporaryDir dir;
    QString listPath = writeFile(dir.filePath(QStringLiteral("list.txt")), argument.toUtf8());
    QString savePath = writeFile(dir.filePath(QStringLiteral("saved.txt")), "previous\r\n");
    Harness h;
    Form1 &w = h.w();
    Announcements inputAnnounced, resultsAnnounced;
    QKeyEvent deleteKey{QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier};
    std::unique_ptr<QMouseEvent> move;

    Window(const QString &command, const QString &argument, const QStringList &input)
        : command(command), argument(argument) {
        w.show();
        for (const QString &text : input)
            w.inputList().appendItem(text);
        for (const char *row : {"r1", "r2"})
            w.resultsList().appendItem(QString::fromLatin1(row));
        // The second item selected, and pressed on for a drag onto the first.
        QAbstractItemView *view = w.listView1();
        const QRect second = view->visualRect(w.inputList().index(1));
        if (!input.isEmpty())
            view->selectionModel()->setCurrentIndex(w.inputList().index(1),
                                                    QItemSelectionModel::ClearAndSelect);
        if (command == QLatin1String("exchange"))
            QTest::mousePress(view->viewport(), Qt::LeftButton, {}, second.center());
        const QPoint onFirst = second.center() - QPoint(0, second.height());
        move = std::make_unique<QMouseEvent>(QEvent::MouseMove, onFirst,
                                             view->viewport()->mapToGlobal(onFirst), Qt::NoButton,
                                             Qt::LeftButton, Qt::NoModifier);
        QCoreApplication::processEvents();
        inputAnnounced.watch(w.inputList());
        resultsAnnounced.watch(w.resultsList());
    }

    // What the user answers, queued before the allocations count.
    void answer() {
        h.dialogs.shown.clear();
        h.dialogs.inputs.clear();
        h.dialogs.inputs << argument;
        h.dialogs.openAnswers.clear();
        h.dialogs.openAnswers << QStringList{listPath};
        h.dialogs.saveAnswers.clear();
        h.dialogs.saveAnswers << savePath;
        h.dialogs.answers.clear();
        h.dialogs.answers << Dialogs::Answer::Yes;
    }

    // From where the program takes over from Qt: Qt's own delivery of a click or a key lets
    // std::bad_alloc escape into the event loop, which ends any Qt program.
    void run() {
        if (command == QLatin1String("add"))
            w.PushButton1_Click();
        else if (command == QLatin1String("remove"))
            static_cast<QObject *>(w.findChild<ListCommands *>())
                ->eventFilter(w.listView1(), &deleteKey);
        else if (command == QLatin1String("exchange"))
            static_cast<QObject *>(w.findChild<InputListDrag *>())
                ->eventFilter(w.listView1()->viewport(), move.get());
        else if (command == QLatin1String("clear"))
            w.PushButton7_Click();
        else if (command == QLatin1String("load"))
            w.PushButton5_Click();
        else if (command == QLatin1String("find"))
            w.PushButton4_Click();
        else if (command == QLatin1String("copy"))
            w.PushButton10_Click();
        else if (command == QLatin1String("save"))
            w.PushButton6_Click();
    }

    Seen seen() {
        Seen s;
        s.input = itemsOf(w.inputList());
        s.results = itemsOf(w.resultsList());
        s.checks = w.resultsList().checks();
        for (const QModelIndex &index : w.listView1()->selectionModel()->selectedRows())
            s.selected << index.row();
        s.current = w.listView1()->currentIndex().row();
        s.inputScroll = w.listView1()->verticalScrollBar()->maximum();
        s.resultsScroll = w.listView2()->verticalScrollBar()->maximum();
        s.clipboard = h.clipboard.text;
        s.saved = readFile(savePath);
        s.pointer = w.mousePointer();
        // A long item added afterwards reads back as itself, not as something refused before.
        TextStore later = w.inputList().store();
        later.append(Long + QStringLiteral("later"));
        s.laterLongItemReads = later.text(later.size() - 1) == Long + QStringLiteral("later");
        return s;
    }
};
} // namespace

void AllocFailTest::sweep_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<QStringList>("input"); // the input list before
    QTest::addColumn<QString>("argument");  // typed, or the list file's text
    QTest::addColumn<QStringList>("after"); // the input list once it completes
    const QStringList three{"a", "b", "c"};
    QTest::newRow("append one") << "add" << three << "d" << QStringList{"a", "b", "c", "d"};
    QTest::newRow("append to an empty list") << "add" << QStringList() << "d" << QStringList{"d"};
    QTest::newRow("append a batch")
        << "add" << three << "d\ne\nf" << QStringList{"a", "b", "c", "d", "e", "f"};
    QTest::newRow("append long texts among short")
        << "add" << three << "x\n" + Long + "1\ny\n" + Long + "2\n" + Long + "3"
        << QStringList{"a", "b", "c", "x", Long + "1", "y", Long + "2", Long + "3"};
    QTest::newRow("remove") << "remove" << three << "" << QStringList{"a", "c"};
    QTest::newRow("remove a long text")
        << "remove" << QStringList{"a", Long, "c"} << "" << QStringList{"a", "c"};
    const QString a(20, QLatin1Char('a')), b(30, QLatin1Char('b'));
    QTest::newRow("exchange") << "exchange" << QStringList{a, b, "c"} << ""
                              << QStringList{b, a, "c"};
    // Long texts fill the room their chunk keeps for them: the second half of the exchange
    // needs more.
    QStringList longs{Long + "0", "b"};
    for (int i = 2; i <= 64; ++i)
        longs << Long + QString::number(i);
    QStringList exchanged = longs;
    exchanged.swapItemsAt(0, 1);
    QTest::newRow("exchange with a long text") << "exchange" << longs << "" << exchanged;
    QTest::newRow("clear") << "clear" << three << "" << QStringList();
    QTest::newRow("load") << "load" << three << "x\r\ny\r\n" + Long
                          << QStringList{"a", "b", "c", "x", "y", Long};
    QTest::newRow("search") << "find" << QStringList{"a", "b", "a", "b", Long, Long} << ""
                            << QStringList{"a", "b", "a", "b", Long, Long};
    QTest::newRow("copy") << "copy" << three << "" << three;
    QTest::newRow("save") << "save" << three << "" << three;
}

void AllocFailTest::sweep() {
#ifdef QUORVEL_OWN_ALLOCATOR
    QSKIP("under the address sanitizer its allocator must serve every block, so the sweep "
          "cannot refuse one");
#endif
    QFETCH(QString, command);
    QFETCH(QStringList, input);
    QFETCH(QString, argument);
    QFETCH(QStringList, after);
    auto fresh = [&] { return std::make_unique<Window>(command, argument, input); };
    auto window = fresh();
    const Seen before = window->seen();
    Seen done;
    {
        auto other = fresh();
        other->answer();
        other->run();
        QCOMPARE(errorReports(other->h.dialogs), QStringList());
        done = other->seen();
        QCOMPARE(done.input, after);
    }
    int refused = 0;
    for (long n = 1;; ++n) {
        window->answer();
        arm(n);
        bool escaped = false;
        try {
            window->run();
        } catch (...) {
            escaped = true;
        }
        const bool hit = disarm();
        const QByteArray where = "allocation " + QByteArray::number(n);
        QVERIFY2(!escaped, where);
        QVERIFY2(window->inputAnnounced.opened == window->inputAnnounced.closed, where);
        QVERIFY2(window->resultsAnnounced.opened == window->resultsAnnounced.closed, where);
        // Room for the rows is made before they are announced.
        QVERIFY2(allocatedWhileAnnounced == 0, where);
        const Seen now = window->seen();
        const QStringList reports = errorReports(window->h.dialogs);
        if (!hit) {
            QCOMPARE(now, done);
            QCOMPARE(reports, QStringList());
            break;
        }
        if (now == done) {
            // Qt took the refusal in its stride (a view's bookkeeping), or a step after the
            // command's work failed: all of the command done is as good as none of it.
            window = fresh();
            continue;
        }
        QVERIFY2(now == before, where);
        // The Delete key and a drag show nothing: the list stays as it was.
        const bool silent =
            command == QLatin1String("remove") || command == QLatin1String("exchange");
        QVERIFY2(reports == (silent ? QStringList() : QStringList{"Out of memory"}), where);
        ++refused;
    }
    QVERIFY(refused > 0);
    qInfo("%d refused; %ld allocations Qt cannot do without were granted", refused,
          grantedToQt.exchange(0));
}

int main(int argc, char **argv) {
    // Qt's own event loop: GLib's aborts when an allocation fails.
    qputenv("QT_NO_GLIB", "1");
    trace = qEnvironmentVariableIsSet("QUORVEL_SWEEP_TRACE");
    windowThread = true;
    void *frame;
    backtrace(&frame, 1); // loads what it needs now, not at a refused allocation
    QApplication app(argc, argv);
    AllocFailTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_allocfail.moc"
