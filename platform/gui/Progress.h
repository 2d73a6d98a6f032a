// The progress pump and the wait cursor.
//
// Long runs stay inside one event handler; at each progress call they let
// the message loop deliver what is pending (repaints, and user input so that
// a Cancel button can be pressed) and then go on.
#pragma once

#include <Qt>

namespace gui {

// Delivers the pending events, user input included, and returns.
void ProcessMessages();

// Shows a cursor over the whole application while it lives (the hourglass
// by default); the previous cursor comes back afterwards.
class ScopedCursor {
public:
    explicit ScopedCursor(Qt::CursorShape shape = Qt::WaitCursor);
    ~ScopedCursor();
    ScopedCursor(const ScopedCursor&) = delete;
    ScopedCursor& operator=(const ScopedCursor&) = delete;
};

} // namespace gui
