#pragma once

#include "TextPieces.h"

#include <QClipboard>
#include <QLineEdit>

#include <vector>

// A line edit that takes a pasted or dropped text of any length whole, but shows a text too
// long to lay out quickly cut in the middle: laying out megabytes of one line takes seconds
// on every repaint. While the text is cut, the entry is edited at its end only: typing and
// pasting append, Backspace removes the last character, Delete and Cut remove it all, Copy
// copies it whole; a selection of it is always the whole text, which typing or pasting
// replaces. Such a text is kept in pieces, so that no edit copies it. Undo and Redo know the
// whole text, cut or not.
class LongLineEdit : public QLineEdit {
public:
    // Longer texts are cut for showing; about what a line edit lays out in a few
    // milliseconds.
    static constexpr qsizetype ShowLimit = 10000;

    explicit LongLineEdit(QWidget *parent = nullptr);

    // The whole text, also while it is shown cut.
    QString entry() const { return cut_ ? whole_.whole() : text(); }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void inputMethodEvent(QInputMethodEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    struct State {
        TextPieces whole;
        int cursor;
    };
    State state() const;
    void restore(const State &state);
    // Makes a change through edit, kept for Undo unless it changed nothing; consecutive
    // typing is undone at once, as in Qt's line edit.
    template <class Edit> void change(Edit &&edit, bool typing = false);
    void undoChange();
    void redoChange();
    void stepBack(std::vector<State> &from, std::vector<State> &to);

    void insertText(const QString &text);
    // A key in a cut text.
    void editCut(QKeyEvent *event);
    void paste(QClipboard::Mode mode);
    // The whole text while it is cut, else the selected part.
    void copyWhole() const;
    void showWhole(TextPieces whole);
    void replaceCut(const QString &text);

    bool cut_ = false;
    TextPieces whole_; // while cut_
    std::vector<State> undo_, redo_;
    bool typing_ = false; // the last change was typed, and the next typed key joins it
};
