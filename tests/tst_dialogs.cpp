#include "TestSupport.h"

#include "gui/platform/LongLineEdit.h"
#include "gui/platform/QtDialogs.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QTest>
#include <QTimer>

class DialogsTest : public QObject {
    Q_OBJECT
private slots:
    void realDialogs();
    void inputBox_data();
    void inputBox();
};

// The real dialogs, answered from a timer as a user would.
void DialogsTest::realDialogs() {
    QtDialogs dialogs;
    const QString filter = QStringLiteral("Text Files (*.txt)|*.txt|All Files (*.*)|*.*|");
    QStringList labels;
    const auto readLabels = [&] {
        labels.clear();
        auto *dialog = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
        if (auto *types = dialog ? dialog->findChild<QComboBox *>("fileTypeCombo") : nullptr)
            for (int i = 0; i < types->count(); ++i)
                labels << types->itemText(i);
        if (dialog)
            dialog->reject();
    };
    const QStringList expected{"Text Files (*.txt)", "All Files (*.*)"};
    QTimer::singleShot(0, readLabels);
    QVERIFY(dialogs.openFiles(QStringLiteral("Load"), filter).isEmpty());
    QCOMPARE(labels, expected);
    QTimer::singleShot(0, readLabels);
    QVERIFY(dialogs.saveFile(QStringLiteral("Save"), filter).isEmpty());
    QCOMPARE(labels, expected);

    // The help text stays on one line.
    int lines = 0;
    QTimer::singleShot(0, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            const auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label"));
            lines = label->heightForWidth(label->width()) / label->fontMetrics().lineSpacing();
            if (!label->wordWrap())
                lines = label->height() / label->fontMetrics().lineSpacing();
            box->accept();
        }
    });
    dialogs.messageBox(QStringLiteral("Questions? Please contact Team Brenvalde at "
                                      "https://quorvel.example/contact"),
                       QStringLiteral("Quorvel"), Dialogs::Buttons::Ok, Dialogs::Icon::None);
    QCOMPARE(lines, 1);
}

static void dropText(QWidget *target, const QString &text) {
    QMimeData data;
    data.setText(text);
    const QPoint at = target->rect().center();
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent drop(QPointF(at), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
}

// Opens the context menu from the keyboard and picks the action of that name; with choose
// false, checks that it is offered disabled.
static void chooseFromMenu(QWidget *target, const QString &name, bool choose = true) {
    const QPoint at = target->rect().center();
    QContextMenuEvent event(QContextMenuEvent::Keyboard, at, target->mapToGlobal(at));
    QCoreApplication::sendEvent(target, &event);
    auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
    QVERIFY(menu);
    QAction *chosen = menu->findChild<QAction *>(name);
    QVERIFY(chosen);
    QVERIFY2(chosen->isEnabled() == choose, qPrintable(name));
    // Its shortcut shown beside it, as in Qt's own menu; Delete has none.
    QCOMPARE(chosen->text().contains(QLatin1Char('\t')), name != QLatin1String("edit-delete"));
    menu->close();
    if (choose)
        chosen->trigger();
}

// The real input box, typed into and pasted into as a user would, then confirmed with Enter.
// A pasted text of any length goes in whole; one too long to show is shown cut and edited
// at its end.
void DialogsTest::inputBox_data() {
    QTest::addColumn<QString>("clipboard");
    // "paste", "copy", "cut", "undo", "redo", "select all", "select left" (Shift+Left),
    // "type TEXT", "home", "backspace", "delete",
    // "drop" (of the clipboard's text), "menu NAME" (an action of the context menu),
    // "menu-off NAME" (offered disabled)
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("entered");
    QTest::addColumn<bool>("cut");       // shown cut when confirmed
    QTest::addColumn<QString>("copied"); // on the clipboard afterwards; null: as before
    const qsizetype limit = LongLineEdit::ShowLimit;
    const QString huge(5 << 20, QLatin1Char('p'));
    const QString over(limit + 1, QLatin1Char('o'));
    const QString smiley = QStringLiteral("\U0001F600");
    const QString same;
    QTest::newRow("typed") << QString() << QStringList{"type ab"} << "ab" << false << same;
    QTest::newRow("short paste at the cursor")
        << "XY" << QStringList{"type ab", "home", "paste"} << "XYab" << false << same;
    QTest::newRow("line breaks pasted stay, for the list to cut")
        << "p\r\nq\n"
        << QStringList{"type a", "paste"} << "ap\r\nq\n"
        << false << same;
    QTest::newRow("5 MB pasted whole") << huge << QStringList{"paste"} << huge << true << same;
    QTest::newRow("paste up to the limit at the cursor")
        << QString(limit - 2, QLatin1Char('q')) << QStringList{"type ab", "home", "paste", "type z"}
        << QString(limit - 2, QLatin1Char('q')) + "zab" << false << same;
    QTest::newRow("long paste after typing")
        << over << QStringList{"type ab", "paste"} << "ab" + over << true << same;
    QTest::newRow("typing after a long paste appends")
        << over << QStringList{"paste", "home", "type z"} << over + "z" << true << same;
    QTest::newRow("Backspace to the limit shows it whole")
        << over << QStringList{"paste", "backspace", "type e"}
        << QString(limit, QLatin1Char('o')) + "e" << false << same;
    QTest::newRow("Backspace removes a surrogate pair whole")
        << over + smiley << QStringList{"paste", "backspace"} << over << true << same;
    QTest::newRow("Delete removes a long text")
        << over << QStringList{"paste", "delete", "type k"} << "k" << false << same;
    QTest::newRow("Ctrl+C copies a long text whole")
        << over << QStringList{"paste", "type z", "copy"} << over + "z" << true << over + "z";
    QTest::newRow("Ctrl+X cuts a long text whole")
        << over << QStringList{"paste", "type z", "cut", "type k"} << "k" << false << over + "z";
    QTest::newRow("menu: Copy copies a long text whole")
        << over << QStringList{"paste", "type z", "menu edit-copy"} << over + "z" << true
        << over + "z";
    QTest::newRow("menu: Delete removes a long text")
        << over << QStringList{"paste", "menu edit-delete"} << "" << false << same;
    QTest::newRow("menu: Paste takes a long text whole")
        << over << QStringList{"type ab", "menu edit-paste"} << "ab" + over << true << same;
    QTest::newRow("long text dropped whole") << over << QStringList{"drop"} << over << true << same;
    QTest::newRow("a drop lands where dropped, beside the selection")
        << "XY" << QStringList{"type abc", "select all", "drop"} << "abcXY" << false << same;
    QTest::newRow("Ctrl+Z undoes a paste that fits")
        << QString(limit, QLatin1Char('q')) << QStringList{"type ab", "select all", "paste", "undo"}
        << "ab" << false << same;
    QTest::newRow("Ctrl+A and typing replace a long text")
        << over << QStringList{"paste", "select all", "type new"} << "new" << false << same;
    QTest::newRow("Ctrl+A and a long paste replace a short text")
        << over << QStringList{"type ab", "select all", "paste"} << over << true << same;
    QTest::newRow("Ctrl+A and a paste replace a long text")
        << over << QStringList{"paste", "type z", "select all", "paste"} << over << true << same;
    QTest::newRow("Backspace empties a long text selected whole")
        << over << QStringList{"paste", "select all", "backspace"} << "" << false << same;
    QTest::newRow("a part of a long text selects it whole")
        << over << QStringList{"paste", "select left", "type k"} << "k" << false << same;
    QTest::newRow("Backspace past typed characters")
        << over + "ab" << QStringList{"paste", "type z", "backspace", "backspace"} << over + "a"
        << true << same;
    QTest::newRow("menu: Cut cuts a long text whole")
        << over << QStringList{"paste", "type z", "menu edit-cut", "type k"} << "k" << false
        << over + "z";
    QTest::newRow("typing after Backspace on a long paste")
        << over + "ab" << QStringList{"paste", "backspace", "type z"} << over + "az" << true
        << same;
    QTest::newRow("Ctrl+Z and Ctrl+Shift+Z across the cut")
        << over
        << QStringList{"type ab", "paste", "type z", "backspace", "undo", "undo", "undo", "redo"}
        << "ab" + over << true << same;
    QTest::newRow("Ctrl+Z gives back a long text replaced")
        << over << QStringList{"paste", "type yz", "select all", "type k", "undo"} << over + "yz"
        << true << same;
    QTest::newRow("Ctrl+Z takes back a long paste at once")
        << over << QStringList{"type ab", "home", "paste", "undo", "type c"} << "cab" << false
        << same;
    QTest::newRow("menu: Undo of a long paste")
        << over << QStringList{"type ab", "paste", "menu edit-undo"} << "ab" << false << same;
    QTest::newRow("menu: nothing to undo")
        << QString() << QStringList{"menu-off edit-undo"} << "" << false << same;
}

void DialogsTest::inputBox() {
    QFETCH(QString, clipboard);
    QFETCH(QStringList, steps);
    QFETCH(QString, entered);
    QFETCH(bool, cut);
    QFETCH(QString, copied);
    QGuiApplication::clipboard()->setText(clipboard);
    QtDialogs dialogs;
    int shown = -1;
    bool promptAbove = false;
    QTimer::singleShot(0, [&] {
        QWidget *box = QApplication::activeModalWidget();
        auto *edit = box->findChild<LongLineEdit *>();
        const auto *prompt = box->findChild<QLabel *>();
        // Typing goes to the entry at once.
        promptAbove = box->focusWidget() == edit &&
                      prompt->text() == QLatin1String("Enter item to add: ") &&
                      prompt->isVisible() && prompt->geometry().bottom() < edit->geometry().top();
        for (const QString &step : steps) {
            if (step == QLatin1String("paste"))
                QTest::keyClick(edit, Qt::Key_V, Qt::ControlModifier);
            else if (step == QLatin1String("copy"))
                QTest::keyClick(edit, Qt::Key_C, Qt::ControlModifier);
            else if (step == QLatin1String("cut"))
                QTest::keyClick(edit, Qt::Key_X, Qt::ControlModifier);
            else if (step == QLatin1String("select all"))
                QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
            else if (step == QLatin1String("undo"))
                QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier);
            else if (step == QLatin1String("redo"))
                QTest::keyClick(edit, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
            else if (step == QLatin1String("select left"))
                QTest::keyClick(edit, Qt::Key_Left, Qt::ShiftModifier);
            else if (step.startsWith(QLatin1String("menu-off ")))
                chooseFromMenu(edit, step.mid(9), false);
            else if (step == QLatin1String("drop"))
                dropText(edit, QGuiApplication::clipboard()->text());
            else if (step.startsWith(QLatin1String("menu ")))
                chooseFromMenu(edit, step.mid(5));
            else if (step == QLatin1String("home"))
                QTest::keyClick(edit, Qt::Key_Home);
            else if (step == QLatin1String("backspace"))
                QTest::keyClick(edit, Qt::Key_Backspace);
            else if (step == QLatin1String("delete"))
                QTest::keyClick(edit, Qt::Key_Delete);
            else
                QTest::keyClicks(edit, step.mid(5));
        }
        shown = int(edit->text().size());
        QTest::keyClick(edit, Qt::Key_Return);
    });
    const QString result = dialogs.inputBox(QStringLiteral("Enter item to add: "), "T");
    QVERIFY(promptAbove);
    QCOMPARE(result.size(), entered.size());
    QCOMPARE(result, entered);
    QCOMPARE(QGuiApplication::clipboard()->text(), copied.isNull() ? clipboard : copied);
    // What the box showed: a cut text, its two ends around an ellipsis.
    QCOMPARE(shown, cut ? 2001 : int(entered.size()));
}

QTEST_MAIN(DialogsTest)
#include "tst_dialogs.moc"
