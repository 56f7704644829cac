#include "InputListDrag.h"

#include "engine/platform/SupportFiles.h"
#include "engine/store/TextListModel.h"
#include "gui/views/CursorFile.h"
#include "gui/views/ReportView.h"

#include <QMouseEvent>

InputListDrag::InputListDrag(ReportView *view, TextListModel &list, PointerOwner &window,
                             std::function<int()> currentItem, QString appFolder, QObject *parent)
    : QObject(parent), view_(view), viewport_(view->viewport()), list_(list), window_(window),
      currentItem_(std::move(currentItem)), appFolder_(std::move(appFolder)) {
    viewport_->setMouseTracking(true);
    viewport_->installEventFilter(this);
    // The press has selected the item by the time the view reports it; Qt's clicked comes
    // only on release, too late for the drag that follows the press.
    connect(view_, &QAbstractItemView::pressed, this, &InputListDrag::ListView1_ItemClick);
}

bool InputListDrag::eventFilter(QObject *watched, QEvent *event) {
    // Compared with the pointer kept: while the view is destroyed, its viewport still sends
    // events.
    if (watched != viewport_)
        return false;
    try {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
            ListView1_MouseDown();
            break;
        case QEvent::MouseMove: {
            const auto *move = static_cast<QMouseEvent *>(event);
            ListView1_MouseMove(move->position().toPoint(), qFloor(move->globalPosition().y()));
            // While dragging, the view must not move the selection or scroll on its own.
            return dragActive_;
        }
        case QEvent::MouseButtonRelease:
            ListView1_MouseUp();
            break;
        default:
            break;
        }
    } catch (const std::exception &) {
        // Nothing may escape into the event loop; a failed exchange changes nothing more.
    }
    return false;
}

void InputListDrag::ListView1_MouseDown() {
    dragActive_ = true;
}

void InputListDrag::ListView1_ItemClick() {
    setListPointer(PointerOwner::PointerCustom);
    // The view's own drag of items stays off; dropped files still arrive.
    view_->setDragEnabled(false);
    const int position = currentItem_();
    draggedItem_ =
        position > 0 ? QPersistentModelIndex(list_.index(position - 1)) : QPersistentModelIndex();
}

void InputListDrag::ListView1_MouseMove(QPoint at, int screenY) {
    window_.hoverPointer(PointerOwner::PointerDefault);
    if (!dragActive_)
        return;
    if (viewport_->rect().contains(at)) {
        const int row = view_->rowAt(at.y());
        itemUnderPointer_ =
            row >= 0 ? QPersistentModelIndex(list_.index(row)) : QPersistentModelIndex();
    }
    // An item removed since the click leaves nothing to drag.
    if (itemUnderPointer_.isValid() && draggedItem_.isValid()) {
        const int d = draggedItem_.row() + 1;
        const int h = itemUnderPointer_.row() + 1;
        if (list_.exchangeItems(d, h)) {
            // Selecting must not scroll: only the rule below does.
            const bool autoScroll = view_->hasAutoScroll();
            view_->setAutoScroll(false);
            view_->selectionModel()->setCurrentIndex(list_.index(h - 1),
                                                     QItemSelectionModel::ClearAndSelect |
                                                         QItemSelectionModel::Rows);
            view_->setAutoScroll(autoScroll);
            draggedItem_ = QPersistentModelIndex(list_.index(h - 1));
            if (screenY < ScrollUpBelowY) {
                if (h > 1)
                    view_->scrollTo(list_.index(h - 2));
            } else if (screenY > ScrollDownAboveY) {
                if (list_.itemCount() >= h + 1)
                    view_->scrollTo(list_.index(h));
            }
        }
    }
    itemUnderPointer_ = QPersistentModelIndex();
}

void InputListDrag::ListView1_MouseUp() {
    dragActive_ = false;
    setListPointer(PointerOwner::PointerArrow);
}

void InputListDrag::setListPointer(int value) {
    listPointer_ = value;
    if (value != PointerOwner::PointerCustom) {
        viewport_->setCursor(Qt::ArrowCursor);
        return;
    }
    // Read anew on every click; without a usable picture the list shows the arrow.
    try {
        viewport_->setCursor(loadCursorFile(
            findSupportFile(supportFolders(appFolder_), QStringLiteral("drag.ico"))));
    } catch (const std::exception &) {
        viewport_->setCursor(Qt::ArrowCursor);
    }
}
