#include "TestSupport.h"

#include "engine/store/TextListModel.h"
#include "gui/views/AccessibleEvents.h"
#include "gui/views/ProgressStrip.h"
#include "gui/views/Skin.h"

#include <QAccessible>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QStyle>
#include <QTest>
#include <QThread>
#include <QTimer>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#endif

namespace {
// Records the calls of the start-up in order, with their arguments.
class RecordingSkin : public SkinEngine {
public:
    QStringList calls;
    qint32 options = 0;
    bool failLoad = false;

    bool loadSkin(const QString &path, const QString &iniName) override {
        calls << QStringLiteral("2 %1 [%2]").arg(path, iniName);
        if (failLoad)
            throw Failure(QStringLiteral("Skin engine failed"));
        return true;
    }
    qint32 applyOptions() const override { return options; }
    void setApplyOptions(qint32 value) override {
        calls << QStringLiteral("1 = %1").arg(value);
        options = value;
    }
    void setAutoApplyNewWindows(bool on) override { calls << QStringLiteral("5 = %1").arg(on); }
    void setAutoApplyNewThreads(bool on) override { calls << QStringLiteral("10 = %1").arg(on); }
    void applyWindow(quintptr handle) override { calls << QStringLiteral("3 %1").arg(handle); }
};

enum class SkinFile { None, Folder, Pipe, Sheet };

// An application folder whose x/o.cjs is what the row asks for.
void makeSkinFile(const QTemporaryDir &folder, SkinFile kind, const QByteArray &content = {}) {
    const QString path = folder.filePath(QStringLiteral("x/o.cjs"));
    QVERIFY(QDir(folder.path()).mkpath(kind == SkinFile::Folder ? path : QStringLiteral("x")));
#ifndef Q_OS_WIN
    if (kind == SkinFile::Pipe)
        QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
#endif
    QFile file(path);
    if (kind == SkinFile::Sheet)
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
}

QColor buttonFace() {
    return QApplication::style()->standardPalette().color(QPalette::Button);
}

QColor background(const Form1 &w) {
    return w.palette().color(QPalette::Window);
}

QByteArray exampleSkin() {
    QFile file(QStringLiteral(QUORVEL_SOURCE_DIR "/skins/slate.qss"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}
} // namespace

Q_DECLARE_METATYPE(SkinFile)

class UiTest : public QObject {
    Q_OBJECT
private slots:
    void skinCalls_data();
    void skinCalls();
    void skinFailureIsReportedAtStep100();
    void styleSheetSkin_data();
    void styleSheetSkin();
    void hoverPointer_data();
    void hoverPointer();
    void hourglassSurvivesHover();
    void progressStrip_data();
    void progressStrip();
};

void UiTest::skinCalls_data() {
    QTest::addColumn<SkinFile>("kind");
    QTest::addColumn<int>("optionsBefore");
    QTest::addColumn<int>("optionsAfter");
    QTest::addColumn<bool>("called");
    QTest::newRow("no skin file") << SkinFile::None << 6 << 6 << false;
    QTest::newRow("o.cjs is a folder") << SkinFile::Folder << 6 << 6 << false;
#ifndef Q_OS_WIN // Windows has no named pipes among files
    QTest::newRow("o.cjs is a named pipe") << SkinFile::Pipe << 6 << 6 << false;
#endif
    QTest::newRow("bit 0 set, the others kept")
        << SkinFile::Sheet << int(0x80000016) << int(0x80000017) << true;
    QTest::newRow("bit 0 kept") << SkinFile::Sheet << 1 << 1 << true;
}

void UiTest::skinCalls() {
    QFETCH(SkinFile, kind);
    QFETCH(int, optionsBefore);
    QFETCH(int, optionsAfter);
    QFETCH(bool, called);
    Harness h;
    makeSkinFile(h.appFolder, kind, "QWidget {}");
    RecordingSkin skin;
    skin.options = optionsBefore;
    Form1 w(h.dialogs, h.clipboard, *h.files, h.appFolder.path(), nullptr, &skin);
    QVERIFY(h.dialogs.shown.isEmpty());
    if (!called) {
        QVERIFY(skin.calls.isEmpty());
        QCOMPARE(background(w), QColor(Qt::white));
        return;
    }
    const QString path = QDir(h.appFolder.path()).filePath(QStringLiteral("x/o.cjs"));
    QCOMPARE(skin.calls, QStringList({QStringLiteral("2 %1 []").arg(path),
                                      QStringLiteral("1 = %1").arg(optionsAfter),
                                      QStringLiteral("5 = 1"), QStringLiteral("10 = 1"),
                                      QStringLiteral("3 %1").arg(quintptr(w.winId()))}));
    QCOMPARE(background(w), buttonFace());
}

void UiTest::skinFailureIsReportedAtStep100() {
    Harness h;
    makeSkinFile(h.appFolder, SkinFile::Sheet, "QWidget {}");
    RecordingSkin skin;
    skin.failLoad = true;
    Form1 w(h.dialogs, h.clipboard, *h.files, h.appFolder.path(), nullptr, &skin);
    QCOMPARE(skin.calls.size(), 1); // the rest of the skin steps are skipped
    QCOMPARE(h.dialogs.messageTexts(),
             QStringList(errorReportText(QString::fromLatin1(ErrorLocation::FormLoad),
                                         QStringLiteral("Skin engine failed"), 100)));
    QCOMPARE(background(w), buttonFace());
    // The start-up went on.
    QCOMPARE(w.windowTitle(), QStringLiteral("Quorvel Software"));
    QCOMPARE(w.inputList().headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
             QStringLiteral("Text List"));
}

void UiTest::styleSheetSkin_data() {
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("skinned");
    QTest::newRow("example skin") << exampleSkin() << true;
    QTest::newRow("not UTF-8") << QByteArray("QPushButton { color: red; } /* \xff\xfe */") << false;
    QTest::newRow("rejected by Qt") << QByteArray("QPushButton { color: red") << false;
    QTest::newRow("too large") << QByteArray(2 << 20, ' ') << false;
}

// Our engine, with the real start-up: the sheet styles the window or nothing does, and no
// control moves.
void UiTest::styleSheetSkin() {
    QFETCH(QByteArray, content);
    QFETCH(bool, skinned);
    QVERIFY(!content.isEmpty());
    Harness plain;
    plain.w().show();
    Harness h;
    makeSkinFile(h.appFolder, SkinFile::Sheet, content);
    h.window = std::make_unique<Form1>(h.dialogs, h.clipboard, *h.files, h.appFolder.path());
    Form1 &w = h.w();
    w.show();
    QApplication::processEvents();
    QVERIFY(h.dialogs.shown.isEmpty());
    QCOMPARE(w.styleSheet(), skinned ? QString::fromUtf8(content) : QString());
    if (!skinned)
        QCOMPARE(background(w), buttonFace());
    const auto controls = w.findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    QCOMPARE(controls.size(), 12);
    for (QWidget *control : controls) {
        auto *before = plain.w().findChild<QWidget *>(control->objectName());
        QVERIFY2(before, qPrintable(control->objectName()));
        QCOMPARE(control->geometry(), before->geometry());
    }
    QCOMPARE(w.size(), plain.w().size());
}

void UiTest::hoverPointer_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<int>("value");
    for (const char *button :
         {"PushButton1", "PushButton2", "PushButton4", "PushButton5", "PushButton6", "PushButton7",
          "PushButton9", "PushButton10", "PushButton11", "PushButton12"})
        QTest::newRow(button) << QString::fromLatin1(button) << 99;
    QTest::newRow("background") << QString() << 0;
    QTest::newRow("ListView2") << QStringLiteral("ListView2") << 0;
    QTest::newRow("ListView1") << QStringLiteral("ListView1") << 0;
    QTest::newRow("ListView1 header") << QStringLiteral("ListView1 header") << 0;
    QTest::newRow("ListView2 header") << QStringLiteral("ListView2 header") << 0;
}

// Real mouse moves without a button: written on every move, never over the hourglass.
void UiTest::hoverPointer() {
    QFETCH(QString, source);
    QFETCH(int, value);
    Harness h;
    Form1 &w = h.w();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QWidget *target = &w;
    QPoint at(3, 3); // the background, left of Help
    if (auto *view = w.findChild<ReportView *>(source.section(QLatin1Char(' '), 0, 0))) {
        target = source.endsWith(QLatin1String("header")) ? view->horizontalHeader()->viewport()
                                                          : view->viewport();
        at = target->rect().center();
    } else if (!source.isEmpty()) {
        target = h.button(source.toLatin1().constData());
        at = target->rect().center();
    }
    // The values themselves: a wrong constant behind a name would pass a table of names.
    for (int before : {1, 0, 99, 11}) {
        w.setMousePointer(before);
        at += QPoint(1, 0); // a move to a new place each time
        QTest::mouseMove(target, at);
        QCOMPARE(w.mousePointer(), before == 11 ? before : value);
    }
    // The buttons show the window's pointer.
    if (value == 99)
        QVERIFY(!target->testAttribute(Qt::WA_SetCursor));
}

// Moves over a button while a load runs (at the moment it opens its file) keep the hourglass;
// the next move after the end shows the hand again.
void UiTest::hourglassSurvivesHover() {
    struct HoverWhileOpening : FileSystem {
        std::function<void()> onOpen;
        std::unique_ptr<QIODevice> openForReading(const QString &path) override {
            onOpen();
            return FileSystem::openForReading(path);
        }
    } files;
    Harness h(&files);
    Form1 &w = h.w();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QString list = h.appFolder.filePath(QStringLiteral("list.txt"));
    QFile file(list);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("one\r\ntwo\r\n");
    file.close();
    QWidget *button = h.button("PushButton1");
    QList<int> during;
    files.onOpen = [&] {
        QTest::mouseMove(button, QPoint(10, 10));
        during << w.mousePointer();
        QTest::mouseMove(&w, QPoint(3, 3));
        during << w.mousePointer();
    };
    h.dialogs.openAnswers.enqueue({list});
    h.button("PushButton5")->click();
    QCOMPARE(during, QList<int>({Form1::PointerHourglass, Form1::PointerHourglass}));
    QCOMPARE(w.inputList().itemCount(), 2);
    QCOMPARE(w.mousePointer(), int(Form1::PointerDefault));
    QTest::mouseMove(button, QPoint(12, 10));
    QCOMPARE(w.mousePointer(), int(Form1::PointerCustom));
}

void UiTest::progressStrip_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("kilobytes");
    QTest::addColumn<bool>("shows");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<QString>("meanwhile"); // "copy": a copy of many results runs inside
                                            // the load; "grows": the file grows as it is read
    QTest::newRow("slow load") << "list" << 4096 << true << false << QString();
    QTest::newRow("quick load") << "list" << 64 << false << false << QString();
    QTest::newRow("slow load that fails") << "bad" << 8192 << true << false << QString();
    QTest::newRow("window closed during a slow load")
        << "list" << 4096 << true << true << QString();
    QTest::newRow("two files, the first failing")
        << "bad list" << 4096 << true << false << QString();
    QTest::newRow("three files") << "one two list" << 2048 << true << false << QString();
    QTest::newRow("a copy inside a slow load: one strip")
        << "list" << 4096 << true << false << "copy";
    QTest::newRow("file growing while read: never past the end")
        << "grows" << 4096 << true << false << "grows";
}

// The strip over the input list: only for a load that takes a while, its value never going
// back, gone when the load ends however it ends.
void UiTest::progressStrip() {
    QFETCH(QString, name);
    QFETCH(int, kilobytes);
    QFETCH(bool, shows);
    QFETCH(bool, closes);
    QFETCH(QString, meanwhile);
    QTemporaryDir dir;
    QStringList paths;
    qint64 bytes = 0;
    for (const QString &part : name.split(QLatin1Char(' '))) {
        QFile file(paths.emplaceBack(dir.filePath(part)));
        QVERIFY(file.open(QIODevice::WriteOnly));
        bytes += file.write(QByteArray("a line of the list\r\n").repeated(kilobytes * 1024 / 20));
    }
    // Well over the strip's delay; a file named "bad" fails half way.
    SlowFiles files;
    files.delayMs = 40;
    files.readSize = 256 * 1024;
    files.failingName = QStringLiteral("bad");
    int growths = 0;
    if (meanwhile == QLatin1String("grows"))
        files.onRead = [&] {
            QFile file(paths[0]);
            if (++growths <= 8 && file.open(QIODevice::Append))
                file.write(QByteArray(256 * 1024, 'g') + "\r\n");
        };
    Harness h(&files);
    Form1 &w = h.w();
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const ProgressStrip *strip = w.listView1Progress();
    const QRect listGeometry = w.listView1()->geometry();
    QWidget *listArea = w.listView1()->viewport();
    if (meanwhile == QLatin1String("copy")) {
        TextStore rows;
        for (int i = 0; i < 400000; ++i)
            rows.append(QStringLiteral("row %1").arg(i));
        w.resultsList().appendItems(rows);
    }
    QAccessibleInterface *list = QAccessible::queryAccessibleInterface(w.listView1());
    QList<qint64> values;
    bool copying = false, copied = false, outerShownDuringCopy = false;
    QTimer watch, duringCopy;
    connect(&duringCopy, &QTimer::timeout,
            [&] { outerShownDuringCopy |= copying && strip->isVisible(); });
    connect(&watch, &QTimer::timeout, [&] {
        if (!strip->isVisible())
            return;
        values << strip->done();
        QVERIFY(!strip->hasFocus());
        QCOMPARE(strip->height(), ProgressStrip::Height);
        QCOMPARE(strip->total(), bytes);
        QVERIFY(strip->done() <= strip->total());
        // The mouse goes through the strip to the list.
        QCOMPARE(QApplication::widgetAt(strip->mapToGlobal(strip->rect().center())), listArea);
        // A reader finds a progress bar after the list's rows.
        QAccessibleInterface *bar = list->child(list->childCount() - 1);
        QVERIFY(!list->child(list->childCount()));
        QCOMPARE(bar->role(), QAccessible::ProgressBar);
        QCOMPARE(bar->text(QAccessible::Name), QStringLiteral("Progress"));
        QCOMPARE(bar->text(QAccessible::Description), QString()); // not the name again
        QCOMPARE(list->indexOfChild(bar), w.inputList().itemCount());
        QCOMPARE(bar->valueInterface()->currentValue().toLongLong(), strip->done());
        QCOMPARE(bar->valueInterface()->minimumValue().toLongLong(), 0);
        QCOMPARE(bar->valueInterface()->maximumValue().toLongLong(), strip->total());
        if (closes)
            w.close();
        if (meanwhile == QLatin1String("copy") && !copied) {
            copied = copying = true;
            duringCopy.start(0);
            h.button("PushButton10")->click();
            copying = false;
        }
    });
    watch.start(0);
    accessibleEvents.clear();
    setAccessibleEventSink(recordAccessibleEvent);
    h.dialogs.openAnswers << paths;
    h.button("PushButton5")->click();
    setAccessibleEventSink(nullptr);
    // Told when the share done changes, never going back.
    QList<qint64> told;
    for (const QString &event : std::as_const(accessibleEvents))
        if (event.startsWith(QLatin1String("Value ListView1Progress ")))
            told << event.section(QLatin1Char(' '), 2).toLongLong();
    QCOMPARE(!told.isEmpty(), shows && !closes);
    QVERIFY(told.size() <= 101);
    QVERIFY(std::is_sorted(told.begin(), told.end()));
    QCOMPARE(list->childCount(), w.inputList().itemCount());

    QCOMPARE(!values.isEmpty(), shows);
    QVERIFY(std::is_sorted(values.begin(), values.end()));
    QVERIFY(!strip->isVisible());
    QCOMPARE(w.listView1()->geometry(), listGeometry);
    if (shows && !closes && name.endsWith(QLatin1String("list"))) {
        QCOMPARE(strip->done(), strip->total()); // it reached the end
        QCOMPARE(told.last(), strip->total());
    }
    if (meanwhile == QLatin1String("copy")) {
        QVERIFY(copied);
        QVERIFY(h.clipboard.text.startsWith(QLatin1String("row 0")));
        QVERIFY(!outerShownDuringCopy); // only the innermost command's strip shows
    }
    if (meanwhile == QLatin1String("grows"))
        QVERIFY(growths > 8);
}

QTEST_MAIN(UiTest)
#include "tst_ui.moc"
