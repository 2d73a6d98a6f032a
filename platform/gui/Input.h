// Mouse buttons and the shift state of the keys and buttons, as event
// handlers of the controls receive them.
#pragma once

#include <Qt>

namespace gui {

enum TMouseButton { mbLeft, mbRight, mbMiddle };

// A set of the flags below.
using TShiftState = unsigned;
enum : TShiftState {
    ssShift = 0x01,
    ssAlt = 0x02,
    ssCtrl = 0x04,
    ssLeft = 0x08,
    ssRight = 0x10,
    ssMiddle = 0x20,
    ssDouble = 0x40,
};

TShiftState ShiftStateOf(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons = Qt::NoButton);
// Buttons other than the right and the middle one count as the left.
TMouseButton MouseButtonOf(Qt::MouseButton button);

} // namespace gui
