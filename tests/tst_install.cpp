// The program as `cmake --install` puts it into a prefix of its own (the install fixture).
#include "TestSupport.h"

#include <QImage>
#include <QProcess>
#include <QTest>

namespace {
const QString Prefix = QStringLiteral(QUORVEL_PREFIX);
} // namespace

class InstallTest : public QObject {
    Q_OBJECT
private slots:
    void installedFind_data();
    void installedFind();
    void windowFindsSupportFiles();
    void icons_data();
    void icons();
};

void InstallTest::installedFind_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<QByteArray>("out");
    QTest::newRow("version") << QStringList{"--version"}
                             << QByteArray("quorvel-find " QUORVEL_VERSION "\n");
    QTest::newRow("search") << QStringList{"--lf"} << QByteArray("a\n");
}

void InstallTest::installedFind() {
    QFETCH(QStringList, args);
    QFETCH(QByteArray, out);
    QProcess find;
    find.start(Prefix + QStringLiteral("/bin/quorvel-find"), args);
    find.write("a\nb\na\n");
    find.closeWriteChannel();
    QVERIFY(find.waitForFinished(30000));
    QCOMPARE(find.exitCode(), 0);
    QCOMPARE(find.readAllStandardOutput(), out);
}

// The installed executables' folder holds no support files: the window finds them in
// ../share/quorvel, showing the hand over a button and the drag pointer on an item.
void InstallTest::windowFindsSupportFiles() {
    FakeDialogs dialogs;
    FakeClipboard clipboard;
    FileSystem files;
    Form1 w(dialogs, clipboard, files, Prefix + QStringLiteral("/bin"));
    w.inputList().appendItem(QStringLiteral("a"));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTest::mouseMove(w.findChild<QPushButton *>(QStringLiteral("PushButton4")), QPoint(10, 10));
    QCOMPARE(w.mousePointer(), int(Form1::PointerCustom));
    QCOMPARE(w.cursor().shape(), Qt::BitmapCursor);
    QCOMPARE(w.cursor().hotSpot(), QPoint(5, 1));
    QWidget *viewport = w.listView1()->viewport();
    QTest::mousePress(viewport, Qt::LeftButton, {},
                      w.listView1()->visualRect(w.inputList().index(0, 0)).center());
    QCOMPARE(viewport->cursor().shape(), Qt::BitmapCursor);
    QVERIFY(dialogs.shown.isEmpty());
}

void InstallTest::icons_data() {
    QTest::addColumn<int>("size");
    QTest::newRow("48") << 48;
    QTest::newRow("256") << 256;
}

void InstallTest::icons() {
    QFETCH(int, size);
    const QImage icon(QStringLiteral("%1/share/icons/hicolor/%2x%2/apps/%3.png")
                          .arg(Prefix)
                          .arg(size)
                          .arg(QStringLiteral(QUORVEL_APP_ID)));
    QCOMPARE(icon.size(), QSize(size, size));
}

QTEST_MAIN(InstallTest)
#include "tst_install.moc"
