// The progress pump and the wait cursor.
#include "platform/gui/Progress.h"

#include <QApplication>
#include <QCursor>

namespace gui {

void ProcessMessages()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

ScopedCursor::ScopedCursor(Qt::CursorShape shape)
{
    QApplication::setOverrideCursor(QCursor(shape));
}

ScopedCursor::~ScopedCursor()
{
    QApplication::restoreOverrideCursor();
}

} // namespace gui
