#pragma once

#include "gui/views/MousePointer.h"

#include <QObject>
#include <QPersistentModelIndex>
#include <QString>

#include <functional>

class ReportView;
class TextListModel;

// Moves a text up and down the input list while a mouse button is held: every move over
// another text exchanges the two, so the dragged text travels with the pointer. Watches the
// list's viewport; the press and release go on to the view, which selects the pressed item.
class InputListDrag : public QObject {
    Q_OBJECT
public:
    // Below and above these screen rows (pixels), a drag scrolls the next text into view.
    static constexpr int ScrollUpBelowY = 305;
    static constexpr int ScrollDownAboveY = 364;

    // currentItem gives the position (from 1) of the list's selected item, 0 for none;
    // drag.ico, found from appFolder (see supportFolders), is the list's pointer while dragging.
    InputListDrag(ReportView *view, TextListModel &list, PointerOwner &window,
                  std::function<int()> currentItem, QString appFolder, QObject *parent);

    bool dragActive() const { return dragActive_; }
    // Position (from 1) of the item holding the dragged text, 0 when none.
    int draggedItem() const { return draggedItem_.isValid() ? draggedItem_.row() + 1 : 0; }
    // The list's own pointer value: 0 until an item is clicked, then 99 or 1.
    int listPointer() const { return listPointer_; }

    void ListView1_MouseDown();
    void ListView1_ItemClick();
    // at in the viewport's pixels, screenY the pointer's row on the screen.
    void ListView1_MouseMove(QPoint at, int screenY);
    void ListView1_MouseUp();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void setListPointer(int value);

    ReportView *view_;
    QWidget *viewport_;
    TextListModel &list_;
    PointerOwner &window_;
    std::function<int()> currentItem_;
    QString appFolder_;

    bool dragActive_ = false;
    // Follow their items when others are removed; invalid once their item is gone.
    QPersistentModelIndex draggedItem_;
    QPersistentModelIndex itemUnderPointer_;
    int listPointer_ = PointerOwner::PointerDefault;
};
