#include "TextListModel.h"

#include "engine/core/ErrorReport.h"
#include "engine/core/MemoryLimits.h"

#include <limits>

namespace {
// Made at the start: a list Qt makes inline writes through the null it gets when memory has
// run out, and a change must be told once it is made.
const QList<int> DisplayRole{Qt::DisplayRole};

// Far wider than the column; laying out more would stall every repaint of a huge item.
constexpr qsizetype DisplayBytes = 4096;

// The beginning of a text, cut before a character that does not fit.
QString displayText(QByteArrayView bytes) {
    if (bytes.size() <= DisplayBytes)
        return TextStore::decode(bytes);
    qsizetype cut = DisplayBytes;
    while (cut > 0 && (uchar(bytes[cut]) & 0xC0) == 0x80)
        --cut;
    return TextStore::decode(bytes.first(cut));
}
} // namespace

TextListModel::TextListModel(bool checkable, QObject *parent)
    : QAbstractListModel(parent), checkable_(checkable) {}

void TextListModel::setHeader(const QString &header) {
    header_ = header;
    emit headerDataChanged(Qt::Horizontal, 0, 0);
}

void TextListModel::checkPosition(int position) const {
    if (position < 1 || position > itemCount())
        throw Failure(QStringLiteral("Index out of bounds"));
}

void TextListModel::appendItem(const QString &text) {
    TextStore one;
    one.append(text);
    appendItems(one);
}

void TextListModel::appendItems(const TextStore &batch) {
    if (batch.isEmpty())
        return;
    // Positions are 32-bit, like the commands that address them.
    if (store_.size() + batch.size() > std::numeric_limits<int>::max())
        throw Failure(QStringLiteral("Out of memory"));
    // Room first: running out of memory then leaves the list as it was, never half told of
    // rows that did not arrive.
    ensureRoomForRows(batch.size(), store_.growthCost(batch));
    if (checkable_)
        checks_.reserve(size_t(store_.size() + batch.size()));
    const int first = itemCount();
    // Announced only once the store has all it needs: a failure then announces nothing.
    store_.append(batch, [&] { beginInsertRows({}, first, first + int(batch.size()) - 1); });
    if (checkable_)
        checks_.resize(size_t(store_.size()), newRowsChecked_);
    endInsertRows();
}

void TextListModel::reserveMore(qsizetype items, qsizetype bytes) {
    ensureRoomForRows(items, store_.growthCost(items, bytes));
    if (checkable_)
        checks_.reserve(size_t(store_.size() + items));
}

void TextListModel::ensureRoomForRows(qsizetype rows, qint64 storeBytes) const {
    const qint64 checks = checkable_ && size_t(store_.size() + rows) > checks_.capacity()
                              ? (store_.size() + rows) / 8
                              : 0;
    memory::ensureRoomFor(storeBytes + checks);
}

void TextListModel::clearItems() {
    if (store_.isEmpty())
        return;
    TextStore empty; // allocates, so before the reset begins
    beginResetModel();
    store_ = std::move(empty);
    checks_ = {};
    endResetModel();
}

QString TextListModel::itemText(int position) const {
    checkPosition(position);
    return store_.text(position - 1);
}

void TextListModel::setText(int position, const QString &text) {
    checkPosition(position);
    store_.setText(position - 1, text);
    const QModelIndex changed = index(position - 1);
    emit dataChanged(changed, changed, DisplayRole);
}

bool TextListModel::exchangeItems(int a, int b) {
    checkPosition(a);
    checkPosition(b);
    if (store_.bytes(a - 1) == store_.bytes(b - 1)) // equal texts have equal bytes
        return false;
    store_.exchange(a - 1, b - 1);
    for (const int position : {a, b}) {
        const QModelIndex changed = index(position - 1);
        emit dataChanged(changed, changed, DisplayRole);
    }
    return true;
}

void TextListModel::removeItem(int position) {
    checkPosition(position);
    // Room first: out of memory then leaves the list as it was, with no removal announced.
    store_.prepareRemove(position - 1);
    beginRemoveRows({}, position - 1, position - 1);
    store_.remove(position - 1);
    if (checkable_)
        checks_.erase(checks_.begin() + (position - 1));
    endRemoveRows();
}

bool TextListModel::isChecked(int position) const {
    checkPosition(position);
    return checkable_ && checks_[size_t(position - 1)];
}

int TextListModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : itemCount();
}

QVariant TextListModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= itemCount())
        return {};
    if (role == Qt::DisplayRole)
        return displayText(store_.bytes(index.row()));
    if (role == Qt::CheckStateRole && checkable_)
        return checks_[size_t(index.row())] ? Qt::Checked : Qt::Unchecked;
    return {};
}

bool TextListModel::setData(const QModelIndex &index, const QVariant &value, int role) {
    if (!index.isValid() || role != Qt::CheckStateRole || !checkable_ || index.row() >= itemCount())
        return false;
    checks_[size_t(index.row())] = value.value<Qt::CheckState>() == Qt::Checked;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    return true;
}

Qt::ItemFlags TextListModel::flags(const QModelIndex &index) const {
    Qt::ItemFlags f = QAbstractListModel::flags(index);
    if (index.isValid() && checkable_)
        f |= Qt::ItemIsUserCheckable;
    return f;
}

QVariant TextListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return header_;
    return {};
}
