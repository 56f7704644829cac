#include "TypeAhead.h"

#include "engine/core/TimeSlice.h"

#include <QAbstractItemView>
#include <QApplication>

TypeAhead::TypeAhead(QAbstractItemView *view) : QObject(view), view_(view), turn_(this) {
    turn_.setSingleShot(true);
    turn_.setInterval(0);
    connect(&turn_, &QTimer::timeout, this, &TypeAhead::scan);
}

void TypeAhead::watch(QAbstractItemModel *model) {
    if (watched_ == model)
        return;
    if (watched_)
        disconnect(watched_, nullptr, this, nullptr);
    watched_ = model;
    // Rows added at the end are still to come, unless the scan has gone back to the top
    // already: then they come before what it looks at next. Any other change may have moved
    // what was passed over.
    connect(model, &QAbstractItemModel::rowsInserted, this,
            [this](const QModelIndex &, int first, int last) {
                if (running() && wrapped_)
                    restart();
                else if (running())
                    left_ += last - first + 1;
            });
    auto edited = [this] {
        if (running())
            restart();
    };
    connect(model, &QAbstractItemModel::rowsRemoved, this, edited);
    connect(model, &QAbstractItemModel::rowsMoved, this, edited);
    connect(model, &QAbstractItemModel::modelReset, this, edited);
    connect(model, &QAbstractItemModel::layoutChanged, this, edited);
    connect(model, &QAbstractItemModel::dataChanged, this, edited);
}

void TypeAhead::keyboardSearch(const QString &search) {
    QAbstractItemModel *model = view_->model();
    if (!model || model->rowCount(view_->rootIndex()) == 0)
        return;
    watch(model);
    const bool extend = !search.isEmpty() && lastKey_.isValid() &&
                        !lastKey_.hasExpired(QApplication::keyboardInputInterval());
    lastKey_.start();
    const QModelIndex current = view_->currentIndex();
    const bool wasRunning = running();
    typed_ = extend ? typed_ + search : search;
    bool skipCurrent = !extend && current.isValid();
    wanted_ = typed_;
    if (typed_.size() > 1 && typed_.count(typed_.back()) == typed_.size()) {
        wanted_ = typed_.left(1);
        skipCurrent = true;
    }
    if (extend && wasRunning) {
        // Where the scan for the shorter text began: no row before its match begins with the
        // longer one either.
        skipped_ = wanted_.size() == 1 ? skipped_ + 1 : 0;
    } else {
        const int rows = model->rowCount(view_->rootIndex());
        start_ = current.isValid() ? current.row() : 0;
        if (skipCurrent)
            start_ = (start_ + 1) % rows;
        skipped_ = 0;
    }
    passed_ = QPersistentModelIndex();
    restart();
}

void TypeAhead::restart() {
    QAbstractItemModel *model = view_->model();
    const int rows = model ? model->rowCount(view_->rootIndex()) : 0;
    start_ = rows > 0 ? std::min(start_, rows - 1) : 0;
    next_ = start_;
    left_ = rows;
    wrapped_ = false;
    skip_ = skipped_;
    turn_.start();
}

void TypeAhead::scan() {
    QAbstractItemModel *model = view_->model();
    if (!model) {
        left_ = 0;
        return;
    }
    const QModelIndex root = view_->rootIndex();
    const int rows = model->rowCount(root);
    QElapsedTimer slice;
    slice.start();
    while (left_ > 0 && rows > 0) {
        if (next_ >= rows) {
            next_ = 0;
            wrapped_ = true;
        }
        const QModelIndex index = model->index(next_++, 0, root);
        --left_;
        if (model->data(index, Qt::DisplayRole)
                .toString()
                .startsWith(wanted_, Qt::CaseInsensitive)) {
            if (skip_ == 0) {
                left_ = 0;
                view_->setCurrentIndex(index);
                return;
            }
            --skip_;
            passed_ = index;
        }
        if ((left_ & 255) == 0 && slice.hasExpired(TimeSlice::SliceMs)) {
            turn_.start();
            return;
        }
    }
    left_ = 0;
    // Typed again with no further match: the wrap comes back to the one passed over.
    if (passed_.isValid())
        view_->setCurrentIndex(passed_);
}
