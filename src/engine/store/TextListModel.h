#pragma once

#include "TextStore.h"

#include <QAbstractListModel>

#include <vector>

// One list of the window (the input list or the results) as a model over a TextStore.
// Positions in the item operations count from 1, as the commands address items; reading
// or changing a position that does not exist throws Failure.
class TextListModel : public QAbstractListModel {
    Q_OBJECT
public:
    explicit TextListModel(bool checkable, QObject *parent = nullptr);

    void setHeader(const QString &header);

    void appendItem(const QString &text);
    // One model notification for the whole batch.
    void appendItems(const TextStore &batch);
    void clearItems();
    // Checks that the process can get room for this many more items and bytes of text (the
    // check states are reserved at once); throws std::bad_alloc, leaving the list as it was,
    // when it could not.
    void reserveMore(qsizetype items, qsizetype bytes);
    int itemCount() const { return int(store_.size()); }
    QString itemText(int position) const;
    void setText(int position, const QString &text);
    // Exchanges the texts of two items unless they are equal, without decoding them; returns
    // whether it did.
    bool exchangeItems(int a, int b);
    void removeItem(int position);

    bool isChecked(int position) const;
    // Rows the model adds get this check state.
    void setNewRowsChecked(bool checked) { newRowsChecked_ = checked; }

    // Cheap copies for commands that walk the list while it may change.
    TextStore store() const { return store_; }
    std::vector<bool> checks() const { return checks_; }

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    void checkPosition(int position) const;
    // Fails before anything of the rows is allocated, so running out of memory never leaves
    // the list half way through adding them. The view keeps nothing per row.
    void ensureRoomForRows(qsizetype rows, qint64 storeBytes) const;

    QString header_;
    bool checkable_;
    bool newRowsChecked_ = false;
    TextStore store_;
    std::vector<bool> checks_; // only for a checkable list
};
