#pragma once

// The owner of a pointer value: the main window. The pointer feedback and the input list's
// drag write the value through this.
class PointerOwner {
public:
    // Pointer values of the window and of its lists.
    enum MousePointer : int {
        PointerDefault = 0,
        PointerArrow = 1,
        PointerHourglass = 11, // the busy pointer of a load, search or save
        PointerCustom = 99,    // the control's own pointer image
    };

    virtual int mousePointer() const = 0;
    virtual void setMousePointer(int value) = 0;

    // Feedback for a mouse move: writes the value every time, unless the hourglass shows.
    void hoverPointer(MousePointer value) {
        if (mousePointer() != PointerHourglass)
            setMousePointer(value);
    }

protected:
    ~PointerOwner() = default;
};
