#include "TextPieces.h"

#include <QStringView>

#include <algorithm>

namespace {
// Short texts, such as typed characters, gather in a last piece up to about this many
// characters, so typing adds no piece per key.
constexpr qsizetype SmallPiece = 4096;
} // namespace

void TextPieces::append(const QString &text) {
    if (text.isEmpty())
        return;
    if (text.size() <= SmallPiece && !pieces_.empty() && pieces_.back().text.size() < SmallPiece) {
        // Copies no more than a small piece shared with a snapshot.
        Piece &piece = pieces_.back();
        piece.text.truncate(piece.size);
        piece.text += text;
        piece.size = piece.text.size();
    } else {
        // A long text is shared, never copied.
        pieces_.push_back({text, text.size()});
    }
    size_ += text.size();
}

void TextPieces::removeLast() {
    if (pieces_.empty())
        return;
    if (chopOne().isLowSurrogate() && !pieces_.empty() &&
        pieces_.back().text[pieces_.back().size - 1].isHighSurrogate())
        chopOne();
}

QChar TextPieces::chopOne() {
    Piece &piece = pieces_.back();
    const QChar removed = piece.text[--piece.size];
    --size_;
    if (piece.size == 0)
        pieces_.pop_back();
    return removed;
}

void TextPieces::clear() {
    pieces_.clear();
    size_ = 0;
}

QString TextPieces::first(qsizetype count) const {
    // One more, to see whether the cut falls inside a surrogate pair.
    QString result;
    result.reserve(std::min(count + 1, size_));
    for (const Piece &piece : pieces_) {
        const qsizetype take = std::min(piece.size, count + 1 - result.size());
        result += QStringView(piece.text).left(take);
        if (result.size() > count)
            break;
    }
    if (result.size() > count)
        result.truncate(result[count].isLowSurrogate() && result[count - 1].isHighSurrogate()
                            ? count - 1
                            : count);
    return result;
}

QString TextPieces::last(qsizetype count) const {
    std::vector<QStringView> parts;
    qsizetype wanted = std::min(count + 1, size_);
    for (auto piece = pieces_.rbegin(); piece != pieces_.rend() && wanted > 0; ++piece) {
        const qsizetype take = std::min(piece->size, wanted);
        parts.push_back(QStringView(piece->text).mid(piece->size - take, take));
        wanted -= take;
    }
    QString result;
    result.reserve(std::min(count + 1, size_));
    for (auto part = parts.rbegin(); part != parts.rend(); ++part)
        result += *part;
    // A cut inside a surrogate pair keeps the pair whole.
    if (result.size() > count && !(result[1].isLowSurrogate() && result[0].isHighSurrogate()))
        result.remove(0, 1);
    return result;
}

QString TextPieces::whole() const {
    if (pieces_.size() == 1 && pieces_.front().size == pieces_.front().text.size())
        return pieces_.front().text;
    QString result;
    result.reserve(size_);
    for (const Piece &piece : pieces_)
        result += QStringView(piece.text).left(piece.size);
    return result;
}
