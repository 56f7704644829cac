#include "LongLineEdit.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDropEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>

#include <limits>
#include <new>

namespace {
// Characters shown at either end of a cut text.
constexpr qsizetype ShownEnds = 1000;

// at, or one before it where at would split a surrogate pair.
qsizetype boundary(const QString &text, qsizetype at) {
    return at > 0 && at < text.size() && text[at].isLowSurrogate() && text[at - 1].isHighSurrogate()
               ? at - 1
               : at;
}
} // namespace

LongLineEdit::LongLineEdit(QWidget *parent) : QLineEdit(parent) {
    // A line edit keeps 32767 characters unless told otherwise; a pasted item goes in whole.
    setMaxLength(std::numeric_limits<int>::max());
}

void LongLineEdit::setWhole(QString whole) {
    if (whole.size() <= ShowLimit) {
        setReadOnly(false);
        setText(whole);
        cut_ = false;
        whole_.clear();
        return;
    }
    const QString shown = whole.left(boundary(whole, ShownEnds)) + QChar(0x2026) +
                          whole.mid(boundary(whole, whole.size() - ShownEnds));
    whole_ = std::move(whole);
    cut_ = true;
    // Qt's own editing would change the cut text; every edit goes through here instead.
    setReadOnly(true);
    setText(shown);
}

void LongLineEdit::insertText(const QString &text) {
    if (cut_) {
        setWhole(whole_ + text);
        return;
    }
    const QString current = this->text();
    if (current.size() - selectedText().size() + text.size() <= ShowLimit) {
        insert(text);
        return;
    }
    QString whole = current;
    whole.replace(hasSelectedText() ? selectionStart() : cursorPosition(), selectedText().size(),
                  text);
    setWhole(std::move(whole));
}

void LongLineEdit::paste(QClipboard::Mode mode) {
    try {
        insertText(QGuiApplication::clipboard()->text(mode));
    } catch (const std::bad_alloc &) {
        // Too large to hold twice: the entry stays as it was.
    }
}

void LongLineEdit::copyWhole() const {
    QGuiApplication::clipboard()->setText(cut_ ? whole_ : selectedText());
}

void LongLineEdit::keyPressEvent(QKeyEvent *event) {
    if (event->matches(QKeySequence::Paste)) {
        paste(QClipboard::Clipboard);
        event->accept();
    } else if (!cut_) {
        QLineEdit::keyPressEvent(event);
    } else {
        try {
            editCut(event);
        } catch (const std::bad_alloc &) {
            // No room for the changed text: the entry stays as it was.
        }
    }
}

void LongLineEdit::editCut(QKeyEvent *event) {
    if (event->matches(QKeySequence::Copy)) {
        copyWhole();
    } else if (event->matches(QKeySequence::Cut)) {
        copyWhole();
        setWhole({});
    } else if (event->key() == Qt::Key_Delete ||
               (event->key() == Qt::Key_Backspace && selectedText() == text())) {
        setWhole({});
    } else if (event->key() == Qt::Key_Backspace) {
        setWhole(whole_.left(boundary(whole_, whole_.size() - 1)));
    } else if (const QString typed = event->text(); !typed.isEmpty() && typed.front().isPrint()) {
        setWhole(whole_ + typed);
    } else {
        QLineEdit::keyPressEvent(event); // moving, selecting, Enter and Escape
        return;
    }
    event->accept();
}

void LongLineEdit::mouseReleaseEvent(QMouseEvent *event) {
    // The middle button pastes the selection, as a line edit does on X11.
    if (event->button() == Qt::MiddleButton && QGuiApplication::clipboard()->supportsSelection() &&
        rect().contains(event->position().toPoint())) {
        deselect();
        paste(QClipboard::Selection);
        event->accept();
        return;
    }
    QLineEdit::mouseReleaseEvent(event);
}

void LongLineEdit::dropEvent(QDropEvent *event) {
    // A cut text is read-only to Qt, so it takes no drops.
    const QMimeData *data = event->mimeData();
    if (event->source() == this || !data || !data->hasText()) {
        QLineEdit::dropEvent(event);
        return;
    }
    setCursorPosition(cursorPositionAt(event->position().toPoint())); // also drops a selection
    try {
        insertText(data->text());
    } catch (const std::bad_alloc &) {
        // Too large to hold twice: the entry stays as it was.
    }
    event->acceptProposedAction();
}

// Qt's menu of a line edit, with each edit going through here; its texts come from Qt's own
// translations.
void LongLineEdit::contextMenuEvent(QContextMenuEvent *event) {
    auto *menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    auto add = [&](const char *name, const char *text, QKeySequence::StandardKey key, bool enabled,
                   auto &&act) {
        QString label = QCoreApplication::translate("QLineEdit", text);
        if (key != QKeySequence::UnknownKey)
            label += QLatin1Char('\t') + QKeySequence(key).toString(QKeySequence::NativeText);
        QAction *action = menu->addAction(label);
        action->setObjectName(QLatin1String(name));
        action->setEnabled(enabled);
        connect(action, &QAction::triggered, this, act);
    };
    const bool some = cut_ || hasSelectedText();
    const QMimeData *clip = QGuiApplication::clipboard()->mimeData();
    add("edit-undo", "&Undo", QKeySequence::Undo, !cut_ && isUndoAvailable(), [this] { undo(); });
    add("edit-redo", "&Redo", QKeySequence::Redo, !cut_ && isRedoAvailable(), [this] { redo(); });
    menu->addSeparator();
    add("edit-cut", "Cu&t", QKeySequence::Cut, some, [this] {
        if (cut_) {
            copyWhole();
            setWhole({});
        } else {
            cut();
        }
    });
    add("edit-copy", "&Copy", QKeySequence::Copy, some, [this] { copyWhole(); });
    add("edit-paste", "&Paste", QKeySequence::Paste, clip && clip->hasText(),
        [this] { paste(QClipboard::Clipboard); });
    add("edit-delete", "Delete", QKeySequence::UnknownKey, some, [this] {
        if (cut_)
            setWhole({});
        else
            del();
    });
    menu->addSeparator();
    add("select-all", "Select All", QKeySequence::SelectAll, !text().isEmpty(),
        [this] { selectAll(); });
    menu->popup(event->globalPos());
}
