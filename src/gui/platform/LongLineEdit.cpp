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
// Changes Undo goes back through.
constexpr std::size_t UndoLevels = 1000;

// As Qt's line edit decides: Ctrl with a letter is a command, AltGr (Ctrl+Alt on some
// systems) a character.
bool isTyped(const QKeyEvent *event) {
    const QString typed = event->text();
    const Qt::KeyboardModifiers held = event->modifiers() & ~Qt::KeypadModifier;
    return !typed.isEmpty() && typed.front().isPrint() && held != Qt::ControlModifier &&
           held != (Qt::ControlModifier | Qt::ShiftModifier);
}
} // namespace

LongLineEdit::LongLineEdit(QWidget *parent) : QLineEdit(parent) {
    // A line edit keeps 32767 characters unless told otherwise; a pasted item goes in whole.
    setMaxLength(std::numeric_limits<int>::max());
    // Only the whole of a cut text can be meant: a part of what is shown is not a part of
    // the text.
    connect(this, &QLineEdit::selectionChanged, this, [this] {
        if (cut_ && hasSelectedText() && selectionLength() < text().size())
            selectAll();
    });
}

void LongLineEdit::showWhole(TextPieces whole) {
    if (whole.size() <= ShowLimit) {
        setReadOnly(false);
        setText(whole.whole());
        cut_ = false;
        whole_.clear();
        return;
    }
    const QString shown = whole.first(ShownEnds) + QChar(0x2026) + whole.last(ShownEnds);
    whole_ = std::move(whole);
    cut_ = true;
    // Qt's own editing would change the cut text; every edit goes through here instead.
    setReadOnly(true);
    setText(shown);
}

LongLineEdit::State LongLineEdit::state() const {
    return {cut_ ? whole_ : TextPieces(text()), cursorPosition()};
}

void LongLineEdit::restore(const State &state) {
    showWhole(state.whole);
    if (!cut_)
        setCursorPosition(state.cursor);
}

template <class Edit> void LongLineEdit::change(Edit &&edit, bool typing) {
    const bool join = typing && typing_ && !hasSelectedText();
    State before = state();
    const bool wasCut = cut_;
    const QString shown = text();
    undo_.reserve(undo_.size() + 1); // the change is kept once made
    edit();
    // An edit of a cut text always changes it.
    if (!wasCut && !cut_ && text() == shown) {
        typing_ &= typing; // a move ends the typing that Undo takes back at once
        return;
    }
    if (!join) {
        if (undo_.size() == UndoLevels)
            undo_.erase(undo_.begin());
        undo_.push_back(std::move(before));
    }
    redo_.clear();
    typing_ = typing;
}

void LongLineEdit::undoChange() {
    stepBack(undo_, redo_);
}

void LongLineEdit::redoChange() {
    stepBack(redo_, undo_);
}

// Restores the last state of one stack, keeping the state it leaves on the other.
void LongLineEdit::stepBack(std::vector<State> &from, std::vector<State> &to) {
    if (from.empty())
        return;
    to.push_back(state());
    restore(from.back());
    from.pop_back();
    typing_ = false;
}

void LongLineEdit::replaceCut(const QString &text) {
    if (hasSelectedText()) {
        showWhole(TextPieces(text));
    } else {
        TextPieces whole = whole_;
        whole.append(text);
        showWhole(std::move(whole));
    }
}

void LongLineEdit::insertText(const QString &text) {
    if (cut_) {
        replaceCut(text);
        return;
    }
    const QString current = this->text();
    const qsizetype from = hasSelectedText() ? selectionStart() : cursorPosition();
    const qsizetype to = from + selectedText().size();
    if (current.size() - (to - from) + text.size() <= ShowLimit) {
        insert(text);
        return;
    }
    // A long text is shared, not copied.
    TextPieces whole(current.left(from));
    whole.append(text);
    whole.append(current.mid(to));
    showWhole(std::move(whole));
}

void LongLineEdit::paste(QClipboard::Mode mode) {
    try {
        const QString text = QGuiApplication::clipboard()->text(mode);
        change([&] { insertText(text); });
    } catch (const std::bad_alloc &) {
        // Too large to hold twice: the entry stays as it was.
    }
}

void LongLineEdit::copyWhole() const {
    QGuiApplication::clipboard()->setText(cut_ ? whole_.whole() : selectedText());
}

void LongLineEdit::keyPressEvent(QKeyEvent *event) {
    try {
        if (event->matches(QKeySequence::Undo)) {
            undoChange();
        } else if (event->matches(QKeySequence::Redo) ||
                   event->keyCombination() ==
                       QKeyCombination(Qt::ControlModifier | Qt::ShiftModifier, Qt::Key_Z)) {
            redoChange();
        } else if (event->matches(QKeySequence::Paste)) {
            paste(QClipboard::Clipboard);
        } else if (!cut_) {
            change([&] { QLineEdit::keyPressEvent(event); }, isTyped(event));
            return;
        } else {
            editCut(event);
            return;
        }
        event->accept();
    } catch (const std::bad_alloc &) {
        // No room for the changed text: the entry stays as it was.
    }
}

void LongLineEdit::editCut(QKeyEvent *event) {
    if (event->matches(QKeySequence::Copy)) {
        copyWhole();
    } else if (event->matches(QKeySequence::Cut)) {
        copyWhole();
        change([&] { showWhole({}); });
    } else if (event->key() == Qt::Key_Delete ||
               (event->key() == Qt::Key_Backspace && hasSelectedText())) {
        change([&] { showWhole({}); });
    } else if (event->key() == Qt::Key_Backspace) {
        change([&] {
            TextPieces whole = whole_;
            whole.removeLast();
            showWhole(std::move(whole));
        });
    } else if (isTyped(event)) {
        change([&] { replaceCut(event->text()); }, true);
    } else {
        typing_ = false;
        QLineEdit::keyPressEvent(event); // moving, selecting, Enter and Escape
        return;
    }
    event->accept();
}

void LongLineEdit::inputMethodEvent(QInputMethodEvent *event) {
    try {
        change([&] { QLineEdit::inputMethodEvent(event); }, true);
    } catch (const std::bad_alloc &) {
        // The entry stays as it was.
    }
}

void LongLineEdit::mouseReleaseEvent(QMouseEvent *event) {
    typing_ = false; // typing where the click put the cursor is another change
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
    typing_ = false;
    try {
        if (event->source() == this || !data || !data->hasText()) {
            change([&] { QLineEdit::dropEvent(event); });
            return;
        }
        // Also drops a selection.
        setCursorPosition(cursorPositionAt(event->position().toPoint()));
        const QString text = data->text();
        change([&] { insertText(text); });
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
    // Each action runs from the menu's own turn, where nothing may escape.
    auto guarded = [this](auto &&act) {
        return [this, act] {
            typing_ = false;
            try {
                act();
            } catch (const std::bad_alloc &) {
                // The entry stays as it was.
            }
        };
    };
    add("edit-undo", "&Undo", QKeySequence::Undo, !undo_.empty(),
        guarded([this] { undoChange(); }));
    add("edit-redo", "&Redo", QKeySequence::Redo, !redo_.empty(),
        guarded([this] { redoChange(); }));
    menu->addSeparator();
    add("edit-cut", "Cu&t", QKeySequence::Cut, some, guarded([this] {
            copyWhole();
            change([this] {
                if (cut_)
                    showWhole({});
                else
                    del();
            });
        }));
    add("edit-copy", "&Copy", QKeySequence::Copy, some, guarded([this] { copyWhole(); }));
    add("edit-paste", "&Paste", QKeySequence::Paste, clip && clip->hasText(),
        guarded([this] { paste(QClipboard::Clipboard); }));
    add("edit-delete", "Delete", QKeySequence::UnknownKey, some, guarded([this] {
            change([this] {
                if (cut_)
                    showWhole({});
                else
                    del();
            });
        }));
    menu->addSeparator();
    add("select-all", "Select All", QKeySequence::SelectAll, !text().isEmpty(),
        [this] { selectAll(); });
    menu->popup(event->globalPos());
}
