#include "TestSupport.h"

#include "engine/core/ErrorReport.h"
#include "engine/core/Shared.h"
#include "engine/platform/SkinEngine.h"
#include "engine/platform/SupportFiles.h"
#include "engine/store/TextListModel.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

class AppTest : public QObject {
    Q_OBJECT
private slots:
    void layout_data();
    void layout();
    void tabOrderAndInitialFocus();
    void errorReportText();
    void trapGoesOnAfterFailure();
    void fileExists_data();
    void fileExists();
    void applicationTitle_data();
    void applicationTitle();
    void displayLineBreaks();
    void help();
    void supportFiles_data();
    void supportFiles();
    void startUpPointerFile_data();
    void startUpPointerFile();
    void pointerValues();
    void closingEndsRunningCommand();
};

// The window and each of its controls: place, caption and font; the lists' columns and hints.
// The controls' rows come from the window's own table; a few values of the description are
// kept here, so a wrong row there still fails.
void AppTest::layout_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption"); // a button's text, a list's column title
    QTest::addColumn<QRect>("twips");
    QTest::addColumn<QString>("hint");
    const QSize window(8040, 8445);
    QCOMPARE(Form1::SizeTwips, window);
    QTest::newRow("Form1") << "Form1"
                           << "Quorvel Software" << QRect(QPoint(), window) << "";
    const QHash<QString, QString> hints = {
        {"ListView1", "Drag and drop files here. Double-click item to remove it. Move | line to "
                      "right and out of window to reveal full names."},
        {"ListView2", "Move | line to right and out of window to reveal full names."}};
    const QHash<QString, std::pair<QString, QRect>> kept = {
        {"PushButton11", {"Help", QRect(120, 120, 7800, 405)}},
        {"ListView1", {"Text List", QRect(120, 630, 7800, 2550)}},
        {"PushButton12", {"Save Results With Comma", QRect(4080, 7430, 3840, 405)}},
        {"PushButton9", {"Clear Results", QRect(4080, 7940, 3840, 405)}}};
    // Each caption as the README names it to users: a button's in bold, a list's in quotes.
    QFile readmeFile(QStringLiteral(QUORVEL_SOURCE_DIR "/README.md"));
    QVERIFY(readmeFile.open(QIODevice::ReadOnly));
    const QString readme = QString::fromUtf8(readmeFile.readAll());
    QCOMPARE(std::size(Form1::Controls), size_t(12));
    QList<QRect> placed;
    for (const Form1::Control &c : Form1::Controls) {
        const QString name = QString::fromLatin1(c.name);
        const QString caption = QString::fromLatin1(c.caption);
        if (kept.contains(name))
            QCOMPARE(std::pair(caption, c.twips), kept[name]);
        QVERIFY2(
            readme.contains(hints.contains(name) ? '"' + caption + '"' : "**" + caption + "**"),
            c.name);
        // Within the window's margins, clear of every other control, a whole row wide or half
        // of one in either column; a button's height or a list's.
        const QRect &at = c.twips;
        QVERIFY2(QRect(120, 120, 7800, window.height() - 120).contains(at), c.name);
        for (const QRect &other : std::as_const(placed))
            QVERIFY2(!other.intersects(at), c.name);
        placed << at;
        QVERIFY2(at.left() == 120 ? at.width() == 7800 || at.width() == 3840
                                  : at.left() == 4080 && at.width() == 3840,
                 c.name);
        QCOMPARE(at.height(), hints.contains(name) ? 2550 : 405);
        QTest::newRow(c.name) << name << caption << c.twips << hints.value(name);
    }
}

void AppTest::layout() {
    QFETCH(QString, name);
    QFETCH(QString, caption);
    QFETCH(QRect, twips);
    QFETCH(QString, hint);
    Harness h;
    Form1 &w = h.w();
    QWidget *control = name == QLatin1String("Form1") ? &w : w.findChild<QWidget *>(name);
    QVERIFY(control);
    const QRect expected(qRound(twips.x() / 15.0), qRound(twips.y() / 15.0),
                         qRound(twips.width() / 15.0), qRound(twips.height() / 15.0));
    if (control == &w) {
        QCOMPARE(w.size(), expected.size());
        QCOMPARE(w.windowTitle(), caption);
        QCOMPARE(w.applicationTitle(), QStringLiteral("Quorvel"));
        QCOMPARE(w.minimumSize(), w.maximumSize());
        QVERIFY(!(w.windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(w.windowFlags() & Qt::WindowMinimizeButtonHint);
        QCOMPARE(w.palette().color(QPalette::Window), QColor(Qt::white));
        QVERIFY(!w.windowIcon().isNull());
        QVERIFY(w.font().bold());
        QCOMPARE(w.font().pointSizeF(), 9.0);
        QVERIFY(h.dialogs.shown.isEmpty());
        QCOMPARE(w.inputList().itemCount(), 0);
        QCOMPARE(w.resultsList().itemCount(), 0);
    } else {
        QCOMPARE(control->geometry(), expected);
    }
    if (auto *button = qobject_cast<QPushButton *>(control)) {
        QCOMPARE(button->text(), caption);
        QCOMPARE(button->font().family(), QStringLiteral("Arial"));
        QCOMPARE(button->font().pointSizeF(), 11.25);
        QVERIFY(button->font().bold());
    }
    if (auto *view = qobject_cast<ReportView *>(control)) {
        QCOMPARE(view, name == QLatin1String("ListView1") ? w.listView1() : w.listView2());
        QCOMPARE(view->toolTip(), hint);
        QCOMPARE(view->model()->columnCount(), 1);
        QCOMPARE(view->model()->headerData(0, Qt::Horizontal).toString(), caption);
        QCOMPARE(view->columnWidth(0), qRound(7000 / 15.0));
        QVERIFY(!view->horizontalHeader()->isHidden());
        // The title along the top, within the frame, the rows right below it: it hides no row
        // and is not cut.
        const QHeaderView *title = view->horizontalHeader();
        const QRect rows = view->viewport()->geometry();
        QCOMPARE(title->geometry().top(), view->contentsRect().top());
        QCOMPARE(title->geometry().bottom() + 1, rows.top());
        QCOMPARE(title->width(), rows.width());
        QVERIFY(title->height() >= title->sizeHint().height());
    }
}

void AppTest::tabOrderAndInitialFocus() {
    Harness h;
    h.w().show();
    QVERIFY(QTest::qWaitForWindowActive(&h.w()));
    QCOMPARE(QApplication::focusWidget(), h.w().listView1());
    const QStringList order = {"PushButton1",  "PushButton5", "PushButton7",  "PushButton2",
                               "PushButton4",  "ListView2",   "PushButton6",  "PushButton12",
                               "PushButton10", "PushButton9", "PushButton11", "ListView1"};
    for (const QString &next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), next);
    }
}

void AppTest::errorReportText() {
    QCOMPARE(::errorReportText(QString::fromLatin1(ErrorLocation::PushButton9Click),
                               QStringLiteral("Object required"), 100),
             QStringLiteral("Object required\r\nin Quorvel2021/08/31.Form1.PushButton9_Click "
                            "at line 100\r\rPlease email screenshot of this message to "
                            "support@quorvel.example"));
    QCOMPARE(describeFailure(std::bad_alloc()), QStringLiteral("Out of memory"));
    // Every place a report can name reads "in PROCEDURE at line N", one blank between.
    for (const char *location :
         {ErrorLocation::FormLoad, ErrorLocation::PushButton1Click, ErrorLocation::PushButton2Click,
          ErrorLocation::PushButton4Click, ErrorLocation::PushButton5Click,
          ErrorLocation::PushButton6Click, ErrorLocation::PushButton7Click,
          ErrorLocation::PushButton9Click, ErrorLocation::PushButton10Click,
          ErrorLocation::PushButton11Click, ErrorLocation::PushButton12Click,
          ErrorLocation::ListView1OLEDragDrop, ErrorLocation::GetSubDirectories2016})
        QVERIFY2(QRegularExpression(QStringLiteral("^x\\r\\nin \\S+ at line 7\\r\\r"))
                     .match(::errorReportText(QString::fromLatin1(location), "x", 7))
                     .hasMatch(),
                 location);
}

void AppTest::trapGoesOnAfterFailure() {
    QStringList reports;
    Trap trap(QString::fromLatin1(ErrorLocation::PushButton2Click),
              [&](const QString &text) { reports << text; });
    QStringList ran;
    trap.step(100, [&] { throw Failure(QStringLiteral("first")); });
    trap.step(102, [&] { ran << "102"; });
    for (int pass = 0; pass < 3; ++pass) {
        trap.step(104, [&] { throw std::runtime_error("each pass"); });
        ran << QStringLiteral("after 104");
    }
    // A failed test enters its branch.
    if (trap.test(106, []() -> bool { throw Failure(QStringLiteral("test")); }))
        ran << QStringLiteral("branch");
    QCOMPARE(ran, QStringList({"102", "after 104", "after 104", "after 104", "branch"}));
    QCOMPARE(reports.size(), 5);
    QVERIFY(reports[0].startsWith(
        QLatin1String("first\r\nin Quorvel2021/08/31.Form1.PushButton2_Click at line 100\r\r")));
    for (int i = 1; i <= 3; ++i)
        QVERIFY(reports[i].contains(QLatin1String(
            "each pass\r\nin Quorvel2021/08/31.Form1.PushButton2_Click at line 104")));
    QVERIFY(reports[4].contains(QLatin1String("at line 106")));
    // The close of the window passes through traps.
    QVERIFY_THROWS_EXCEPTION(Aborted, trap.step(108, [] { throw Aborted{}; }));
}

void AppTest::fileExists_data() {
    QTest::addColumn<QString>("path");
    QTest::addColumn<bool>("exists");
    QTest::newRow("existing file") << QString::fromLatin1("EXISTING") << true;
    QTest::newRow("missing folder") << QString::fromLatin1("FOLDER/nowhere/x.txt") << false;
    QTest::newRow("missing file") << QString::fromLatin1("FOLDER/none.txt") << false;
    QTest::newRow("empty path") << QString() << false;
    QTest::newRow("invalid name") << QString::fromLatin1("FOLDER/bad") + QChar(0) + "name" << false;
}

void AppTest::fileExists() {
    QFETCH(QString, path);
    QFETCH(bool, exists);
    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("there.txt")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    path.replace(QLatin1String("EXISTING"), file.fileName());
    path.replace(QLatin1String("FOLDER"), dir.path());
    QCOMPARE(FileExists(path), exists);
    // The same through a link: a link to a missing file is not there either.
    if (!path.isEmpty() && !path.contains(QChar(0))) {
        const QString link = dir.filePath(QStringLiteral("link"));
        QVERIFY(QFile::link(path, link));
        QCOMPARE(FileExists(link), exists);
    }
}

void AppTest::applicationTitle_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("title");
    const QString nine = QStringLiteral("abcdefghi");
    QTest::newRow("product") << QStringLiteral("Quorvel Software") << QStringLiteral("Quorvel");
    QTest::newRow("40 characters")
        << QStringLiteral("aaaaaaaaa bbbbbbbbb ccccccccc ddddddddd") + QStringLiteral("x")
        << QStringLiteral("aaaaaaaaa bbbbbbbbb ccccccccc");
    QStringList six(6, nine), five(5, nine);
    QTest::newRow("six nine-letter words") << six.join(' ') << QStringList(4, nine).join(' ');
    QTest::newRow("five nine-letter words") << five.join(' ') << QStringList(4, nine).join(' ');
    QTest::newRow("40 characters after one cut")
        << QStringLiteral("aaaaaaaaa bbbbbbbbb ccccccccc dddddddddd tail")
        << QStringLiteral("aaaaaaaaa bbbbbbbbb ccccccccc dddddddddd");
    QTest::newRow("no blank") << QStringLiteral("Quorvel") << QStringLiteral("Quorvel");
    QTest::newRow("long, no blank") << QString(50, 'q') << QString(50, 'q');
    QTest::newRow("first word over 40 characters")
        << QString(45, 'w') + QStringLiteral(" x y") << QString(45, 'w');
}

void AppTest::applicationTitle() {
    QFETCH(QString, name);
    QFETCH(QString, title);
    QCOMPARE(shortenApplicationTitle(name), title);
}

void AppTest::displayLineBreaks() {
    QCOMPARE(toDisplayLineBreaks(QStringLiteral("a\r\nb\r\rc")), QStringLiteral("a\nb\n\nc"));
}

void AppTest::help() {
    Harness h;
    h.button("PushButton11")->click();
    QCOMPARE(h.dialogs.shown.size(), 1);
    const auto &box = h.dialogs.shown.first();
    QCOMPARE(box.kind, QStringLiteral("message"));
    QCOMPARE(box.text, QStringLiteral("Questions? Please contact Team Brenvalde at "
                                      "https://quorvel.example/contact"));
    QCOMPARE(box.title, QStringLiteral("Quorvel"));
    QCOMPARE(box.buttons, Dialogs::Buttons::Ok);
    QCOMPARE(box.icon, Dialogs::Icon::None);
}

void AppTest::supportFiles_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QStringList>("holders"); // which of bin, config and share hold the file
    QTest::addColumn<QString>("used");        // whose copy is used
    const QString hand = QStringLiteral("HAND-M.CUR");
    const QString skin = QStringLiteral("x/o.cjs");
    QTest::newRow("installed") << hand << QStringList{"share"} << "share";
    QTest::newRow("beside comes first") << hand << QStringList{"bin", "share"} << "bin";
    QTest::newRow("nowhere") << hand << QStringList{} << "bin";
    QTest::newRow("pointer in config")
        << QStringLiteral("drag.ico") << QStringList{"config"} << "bin";
    QTest::newRow("skin in config") << skin << QStringList{"config"} << "config";
    QTest::newRow("config skin before installed")
        << skin << QStringList{"config", "share"} << "config";
    QTest::newRow("skin beside comes first") << skin << QStringList{"bin", "config"} << "bin";
    QTest::newRow("skin installed") << skin << QStringList{"share"} << "share";
}

// Where the window looks for each support file, with the executable in root/bin.
void AppTest::supportFiles() {
    QFETCH(QString, name);
    QFETCH(QStringList, holders);
    QFETCH(QString, used);
    QTemporaryDir root;
    const QByteArray oldConfig = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(root.filePath(QStringLiteral("config"))));
    const QMap<QString, QString> folders{
        {"bin", root.filePath(QStringLiteral("bin"))},
        {"share", root.filePath(QStringLiteral("share/quorvel"))},
        {"config", root.filePath(QStringLiteral("config/") + QCoreApplication::applicationName())}};
    for (const QString &holder : holders) {
        const QString path = QDir(folders[holder]).filePath(name);
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    const QString bin = folders["bin"];
    const QString found = name == QLatin1String("x/o.cjs")
                              ? listedSkinFile(bin).value_or(QString())
                              : findSupportFile(supportFolders(bin), name);
    if (oldConfig.isNull())
        qunsetenv("XDG_CONFIG_HOME");
    else
        qputenv("XDG_CONFIG_HOME", oldConfig);
    QCOMPARE(found,
             holders.isEmpty() ? QDir(bin).filePath(name) : QDir(folders[used]).filePath(name));
}

void AppTest::startUpPointerFile_data() {
    QTest::addColumn<QByteArray>("content"); // empty: no file
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<int>("reports");
    QTest::newRow("missing") << QByteArray() << false << 0;
    QTest::newRow("unreadable") << QByteArray("not a cursor at all") << false << 1;
    QFile real(QStringLiteral(QUORVEL_SOURCE_DIR "/assets/HAND-M.CUR"));
    QVERIFY(real.open(QIODevice::ReadOnly));
    QTest::newRow("cursor file") << real.readAll() << true << 0;
}

void AppTest::startUpPointerFile() {
    QFETCH(QByteArray, content);
    QFETCH(bool, loaded);
    QFETCH(int, reports);
    FakeDialogs dialogs;
    FakeClipboard clipboard;
    FileSystem files;
    QTemporaryDir folder;
    if (!content.isEmpty()) {
        QFile file(folder.filePath(QStringLiteral("HAND-M.CUR")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    Form1 w(dialogs, clipboard, files, folder.path());
    QCOMPARE(w.hasCustomPointer(), loaded);
    QCOMPARE(dialogs.shown.size(), reports);
    if (reports) {
        QCOMPARE(dialogs.shown.first().title, QStringLiteral("Application Error"));
        QCOMPARE(dialogs.shown.first().icon, Dialogs::Icon::Warning);
        QVERIFY(dialogs.shown.first().text.contains(
            QLatin1String("\r\nin Quorvel2021/08/31.Form1.Form_Load at line 106\r\r")));
    }
    // The rest of the start-up ran.
    QCOMPARE(w.windowTitle(), QStringLiteral("Quorvel Software"));
    QCOMPARE(w.applicationTitle(), QStringLiteral("Quorvel"));
    QCOMPARE(w.resultsList().headerData(0, Qt::Horizontal, Qt::DisplayRole).toString(),
             QStringLiteral("Results"));
}

void AppTest::pointerValues() {
    FakeDialogs dialogs;
    FakeClipboard clipboard;
    FileSystem files;
    QTemporaryDir folder;
    QVERIFY(QFile::copy(QStringLiteral(QUORVEL_SOURCE_DIR "/assets/HAND-M.CUR"),
                        folder.filePath(QStringLiteral("HAND-M.CUR"))));
    Form1 w(dialogs, clipboard, files, folder.path());
    QCOMPARE(w.mousePointer(), 0);
    w.setMousePointer(Form1::PointerHourglass);
    QVERIFY(w.busyPointer());
    QCOMPARE(w.cursor().shape(), Qt::WaitCursor);
    w.setMousePointer(Form1::PointerCustom);
    QCOMPARE(w.cursor().shape(), Qt::BitmapCursor);
    QCOMPARE(w.cursor().hotSpot(), QPoint(5, 1));
    w.setMousePointer(Form1::PointerArrow);
    QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
    w.setMousePointer(Form1::PointerHourglass);
    w.setMousePointer(Form1::PointerDefault);
    QCOMPARE(w.cursor().shape(), Qt::ArrowCursor);
}

void AppTest::closingEndsRunningCommand() {
    Harness h;
    TextStore items;
    for (int i = 0; i < 600000; ++i)
        items.append(QString::number(i % 250000));
    h.w().inputList().appendItems(items);
    h.w().show();
    QTimer::singleShot(0, &h.w(), [&] { h.w().close(); });
    h.button("PushButton4")->click();
    // The search unwound at its next turn: no end message, no question.
    QVERIFY(h.dialogs.shown.isEmpty());
    QVERIFY(!h.w().isVisible());
    QVERIFY(h.w().resultsList().itemCount() < 250000);
}

QTEST_MAIN(AppTest)
#include "tst_app.moc"
