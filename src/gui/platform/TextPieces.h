#pragma once

#include <QString>

#include <vector>

// A text kept as pieces of other texts, for an entry of many megabytes edited at its end:
// appending shares a long text rather than copying it, and removing characters at the end
// shortens the last piece's view of its text. Copies share the pieces, so a copy is a cheap
// snapshot. The whole text is put together only when asked for.
class TextPieces {
public:
    TextPieces() = default;
    explicit TextPieces(const QString &text) { append(text); }

    qsizetype size() const { return size_; }
    bool isEmpty() const { return size_ == 0; }

    void append(const QString &text);
    // Removes the last character, both halves of a surrogate pair.
    void removeLast();
    void clear();

    // The first (last) count characters, without the half of a surrogate pair cut by them.
    QString first(qsizetype count) const;
    QString last(qsizetype count) const;
    QString whole() const;

private:
    QChar chopOne();

    struct Piece {
        QString text;
        qsizetype size; // the characters of text that belong to the whole
    };
    std::vector<Piece> pieces_;
    qsizetype size_ = 0;
};
