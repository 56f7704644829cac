#pragma once

#include <QElapsedTimer>
#include <QModelIndex>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QAbstractItemModel;
class QAbstractItemView;

// Type-ahead for a list of millions: makes current the next row whose text begins with what
// was typed (case-insensitive, wrapping to the top), as Qt's views do, but looks at the rows
// a time slice at a turn. Quick typing extends the text; typing one letter again steps to
// the next row beginning with it. A new key or an edit of the list starts the scan again.
class TypeAhead : public QObject {
    Q_OBJECT
public:
    explicit TypeAhead(QAbstractItemView *view);

    void keyboardSearch(const QString &search);

private:
    void watch(QAbstractItemModel *model);
    bool running() const { return left_ > 0; }
    // Looks at every row again from start_, from the next turn: a key or an edit comes with
    // other work of its own.
    void restart();
    void scan();

    QAbstractItemView *view_;
    QPointer<QAbstractItemModel> watched_;
    QTimer turn_; // a child, so that the turns a scan takes can be counted
    QElapsedTimer lastKey_;
    QString typed_;
    QString wanted_;
    int start_ = 0; // the first row looked at
    int next_ = 0;
    qint64 left_ = 0;              // rows still to look at
    bool wrapped_ = false;         // gone back to the top since the scan began
    int skipped_ = 0;              // matches to pass over, for a letter typed again
    int skip_ = 0;                 // of them, still to pass over in this scan
    QPersistentModelIndex passed_; // the last match passed over
};
