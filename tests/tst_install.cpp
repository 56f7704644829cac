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
    void installedFind();
    void windowFindsSupportFiles();
    void icons_data();
    void icons();
};

// The installed quorvel-find runs from the prefix and finds.
void InstallTest::installedFind() {
    QProcess find;
    find.start(Prefix + QStringLiteral("/bin/quorvel-find"), {QStringLiteral("--lf")});
    find.write("a\nb\na\n");
    find.closeWriteChannel();
    QVERIFY(find.waitForFinished(30000));
    QCOMPARE(find.exitCode(), 0);
    QCOMPARE(find.readAllStandardOutput(), QByteArray("a\n"));
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
