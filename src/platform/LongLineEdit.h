#pragma once

#include <QClipboard>
#include <QLineEdit>

// A line edit that takes a pasted or dropped text of any length whole, but shows a text too
// long to lay out quickly cut in the middle: laying out megabytes of one line takes seconds
// on every repaint. While the text is cut, the entry is edited at its end only: typing and
// pasting append, Backspace removes the last character, Delete and Cut remove it all, Copy
// copies it whole.
class LongLineEdit : public QLineEdit {
public:
    // Longer texts are cut for showing; about what a line edit lays out in a few
    // milliseconds.
    static constexpr qsizetype ShowLimit = 10000;

    explicit LongLineEdit(QWidget *parent = nullptr);

    // The whole text, also while it is shown cut.
    QString entry() const { return cut_ ? whole_ : text(); }
    bool isCut() const { return cut_; }

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void dropEvent(QDropEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;

private:
    void insertText(const QString &text);
    // A key in a cut text.
    void editCut(QKeyEvent *event);
    void paste(QClipboard::Mode mode);
    // The whole text while it is cut, else the selected part.
    void copyWhole() const;
    void setWhole(QString whole);

    bool cut_ = false;
    QString whole_; // while cut_
};
