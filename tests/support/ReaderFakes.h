#pragma once

// Devices a list file is read from in the tests and fuzz targets: one that fails part-way,
// and a pipe handing over a few bytes at a time.
#include "engine/core/ErrorReport.h"
#include "engine/list/ListFileReader.h"

#include <QBuffer>
#include <QByteArray>
#include <QString>
#include <QStringEncoder>

#include <algorithm>
#include <cstring>

constexpr qsizetype Chunk = 1 << 20; // the reader's block size

inline QByteArray xs(qsizetype n) {
    return QByteArray(n, 'x');
}

inline QByteArray withBom(QStringConverter::Encoding encoding, const QString &text) {
    QStringEncoder encoder(encoding, QStringConverter::Flag::WriteBom);
    return encoder(text);
}

// A disk that cannot read at or past failAt.
class FailingBuffer : public QBuffer {
public:
    FailingBuffer(const QByteArray &bytes, qint64 failAt) : failAt_(failAt) {
        setData(bytes);
        open(QIODevice::ReadOnly);
    }

protected:
    qint64 readData(char *data, qint64 maxSize) override {
        if (pos() >= failAt_) {
            setErrorString(QStringLiteral("Bad sector"));
            return -1;
        }
        return QBuffer::readData(data, std::min(maxSize, failAt_ - pos()));
    }

private:
    qint64 failAt_;
};

// A pipe: read once, from start to end, at most piece bytes at a time; cannot read at or
// past failAt.
class Pipe : public QIODevice {
public:
    explicit Pipe(QByteArray bytes, qint64 failAt = -1, qint64 piece = 4093)
        : bytes_(std::move(bytes)), failAt_(failAt < 0 ? bytes_.size() + 1 : failAt),
          piece_(piece) {
        open(QIODevice::ReadOnly);
    }
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char *data, qint64 maxSize) override {
        if (at_ >= failAt_) {
            setErrorString(QStringLiteral("Bad sector"));
            return -1;
        }
        const qint64 n = std::min({maxSize, qint64(bytes_.size()) - at_, failAt_ - at_, piece_});
        if (data) // skip() may read into nothing
            std::memcpy(data, bytes_.constData() + at_, size_t(n));
        at_ += n;
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray bytes_;
    qint64 failAt_;
    qint64 piece_;
    qint64 at_ = 0;
};

// The items read, and whether each one is stored in its canonical form (equal texts must
// have equal bytes for the search to find them).
inline QStringList readItems(QIODevice &device, bool *canonical) {
    QStringList items;
    *canonical = true;
    readListLines(device, nullptr, [&](const TextStore &lines) {
        for (qsizetype i = 0; i < lines.size(); ++i) {
            items << lines.text(i);
            *canonical = *canonical && lines.bytes(i) == TextStore::encode(items.constLast());
        }
    });
    return items;
}
