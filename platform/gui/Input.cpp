// Qt's modifiers and buttons in the class library's terms.
#include "platform/gui/Input.h"

namespace gui {

TShiftState ShiftStateOf(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons)
{
    TShiftState state = 0;
    if (modifiers & Qt::ShiftModifier) state |= ssShift;
    if (modifiers & Qt::AltModifier) state |= ssAlt;
    if (modifiers & Qt::ControlModifier) state |= ssCtrl;
    if (buttons & Qt::LeftButton) state |= ssLeft;
    if (buttons & Qt::RightButton) state |= ssRight;
    if (buttons & Qt::MiddleButton) state |= ssMiddle;
    return state;
}

TMouseButton MouseButtonOf(Qt::MouseButton button)
{
    switch (button) {
    case Qt::RightButton: return mbRight;
    case Qt::MiddleButton: return mbMiddle;
    default: return mbLeft;
    }
}

} // namespace gui
