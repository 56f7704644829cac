#pragma once

#include "engine/core/TimeSlice.h"
#include "engine/platform/Clipboard.h"
#include "engine/platform/Dialogs.h"
#include "engine/platform/FileSystem.h"
#include "engine/store/TextListModel.h"
#include "gui/app/Form1.h"
#include "gui/views/ReportView.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QDropEvent>
#include <QFile>
#include <QHash>
#include <QMimeData>
#include <QPushButton>
#include <QQueue>
#include <QTemporaryDir>
#include <QThread>
#include <QWindow>

#include <functional>
#include <memory>

// Records every dialog the window shows and answers from queues.
class FakeDialogs : public Dialogs {
public:
    struct Shown {
        QString kind; // "message", "input", "open", "save"
        QString text;
        QString title;
        Buttons buttons = Buttons::Ok;
        Icon icon = Icon::None;
        QString filter;
    };

    QList<Shown> shown;
    QQueue<Answer> answers;
    QQueue<QString> inputs;
    QQueue<QStringList> openAnswers;
    QQueue<QString> saveAnswers;
    // Runs while a message box is up, as if the user acted meanwhile.
    std::function<void(const Shown &)> onShow;

    Answer messageBox(const QString &text, const QString &title, Buttons buttons,
                      Icon icon) override {
        record({QStringLiteral("message"), text, title, buttons, icon, {}});
        if (buttons == Buttons::YesNo)
            return answers.isEmpty() ? Answer::No : answers.dequeue();
        return Answer::Ok;
    }
    QString inputBox(const QString &prompt, const QString &title) override {
        record({QStringLiteral("input"), prompt, title, Buttons::Ok, Icon::None, {}});
        return inputs.isEmpty() ? QString() : inputs.dequeue();
    }
    QStringList openFiles(const QString &title, const QString &filter) override {
        record({QStringLiteral("open"), {}, title, Buttons::Ok, Icon::None, filter});
        return openAnswers.isEmpty() ? QStringList() : openAnswers.dequeue();
    }
    QString saveFile(const QString &title, const QString &filter) override {
        record({QStringLiteral("save"), {}, title, Buttons::Ok, Icon::None, filter});
        return saveAnswers.isEmpty() ? QString() : saveAnswers.dequeue();
    }

    QStringList messageTexts() const {
        QStringList texts;
        for (const Shown &s : shown)
            if (s.kind == QLatin1String("message"))
                texts << s.text;
        return texts;
    }

private:
    void record(const Shown &s) {
        shown << s;
        if (onShow)
            onShow(s);
    }
};

class FakeClipboard : public Clipboard {
public:
    QString text = QStringLiteral("(untouched)");
    int failuresLeft = 0;
    int attempts = 0;
    bool clear() override {
        ++attempts;
        if (failuresLeft > 0 && failuresLeft--)
            return false;
        text.clear();
        return true;
    }
    bool setText(const QByteArray &utf8) override {
        ++attempts;
        if (failuresLeft > 0 && failuresLeft--)
            return false;
        text = QString::fromUtf8(utf8);
        return true;
    }
};

// A window with fakes around it and an empty support folder.
struct Harness {
    FakeDialogs dialogs;
    FakeClipboard clipboard;
    FileSystem realFiles;
    FileSystem *files = &realFiles;
    QTemporaryDir appFolder;
    std::unique_ptr<Form1> window;

    explicit Harness(FileSystem *fileSystem = nullptr, Clipboard *systemClipboard = nullptr) {
        if (fileSystem)
            files = fileSystem;
        window = std::make_unique<Form1>(dialogs, systemClipboard ? *systemClipboard : clipboard,
                                         *files, appFolder.path());
    }
    Form1 &w() { return *window; }
    QPushButton *button(const char *name) {
        return window->findChild<QPushButton *>(QString::fromLatin1(name));
    }
};

// Sends a drag over and a release on the input list, as a file manager would; returns
// whether the view accepted them. over, where given, is the part of the list (a header, a
// scroll bar) that the drag reaches through the shown window, as a real drag does. entered
// tells whether the drag over the list was accepted, taken what the drop told the file manager
// it did.
inline bool dragAndDrop(Form1 &w, QMimeData *data, Qt::DropActions actions = Qt::CopyAction,
                        QWidget *over = nullptr, bool *entered = nullptr,
                        Qt::DropAction *taken = nullptr) {
    QWidget *viewport = w.listView1()->viewport();
    QObject *target = viewport;
    QPoint where = viewport->rect().center();
    if (over) {
        target = w.windowHandle();
        where = over->mapTo(&w, over->rect().center());
    }
    QDragEnterEvent enter(where, actions, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    if (entered)
        *entered = enter.isAccepted();
    QDropEvent drop(where, actions, data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    if (taken)
        *taken = drop.dropAction();
    return enter.isAccepted() && drop.isAccepted() && drop.dropAction() != Qt::MoveAction;
}

inline QString writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

inline QByteArray readFile(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

// List files that read slowly, so that a load spans many turns of the event loop.
class SlowFiles : public FileSystem {
public:
    int delayMs = 2 * TimeSlice::SliceMs; // before each read
    qint64 readSize = 0;                  // the most one read returns; 0: no limit
    QString failingName;                  // a file named so fails once half of it is read
    std::function<void()> onRead;         // runs before each read

    std::unique_ptr<QIODevice> openForReading(const QString &path) override {
        auto file = std::make_unique<SlowFile>(path, *this);
        if (!file->open(QIODevice::ReadOnly))
            throw Failure(file->errorString());
        return file;
    }

private:
    class SlowFile : public QFile {
    public:
        SlowFile(const QString &path, const SlowFiles &owner) : QFile(path), owner_(owner) {}

    protected:
        qint64 readData(char *data, qint64 maxSize) override {
            QThread::msleep(owner_.delayMs);
            if (owner_.onRead)
                owner_.onRead();
            if (!owner_.failingName.isEmpty() && fileName().endsWith(owner_.failingName) &&
                pos() >= size() / 2) {
                setErrorString(QStringLiteral("Bad sector"));
                return -1;
            }
            return QFile::readData(data,
                                   owner_.readSize ? std::min(maxSize, owner_.readSize) : maxSize);
        }

    private:
        const SlowFiles &owner_;
    };
};

// A store's or a list's texts, in order.
inline QStringList textsOf(const TextStore &store) {
    QStringList texts;
    for (qsizetype i = 0; i < store.size(); ++i)
        texts << store.text(i);
    return texts;
}

inline QStringList itemsOf(const TextListModel &list) {
    return textsOf(list.store());
}

// What assistive technology is told about the lists, as "Focus 3" (the row; -1 the list).
inline QStringList accessibleEvents;

inline void recordAccessibleEvent(QAccessibleEvent *event) {
    static const QHash<QAccessible::Event, QString> names = {
        {QAccessible::Focus, QStringLiteral("Focus")},
        {QAccessible::SelectionAdd, QStringLiteral("SelectionAdd")},
        {QAccessible::SelectionRemove, QStringLiteral("SelectionRemove")},
        {QAccessible::SelectionWithin, QStringLiteral("SelectionWithin")},
        {QAccessible::StateChanged, QStringLiteral("Checked")},
        {QAccessible::ValueChanged, QStringLiteral("Value")}};
    // A state change is heard as the states it names: a tick is a change of "checked".
    if (event->type() == QAccessible::StateChanged &&
        !static_cast<QAccessibleStateChangeEvent *>(event)->changedStates().checked)
        accessibleEvents << QStringLiteral("StateChanged %1").arg(event->child());
    else if (event->type() == QAccessible::ValueChanged)
        accessibleEvents
            << QStringLiteral("Value %1 %2")
                   .arg(event->object()->objectName())
                   .arg(static_cast<QAccessibleValueChangeEvent *>(event)->value().toLongLong());
    else if (names.contains(event->type()))
        accessibleEvents << QStringLiteral("%1 %2").arg(names[event->type()]).arg(event->child());
}
