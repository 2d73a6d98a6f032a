// Helpers of the widget tests: mouse and key events sent to real widgets on
// the offscreen platform.
#pragma once

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWidget>

#include "tests/platform/gui/GuiTestSupport.h"

namespace widgettest {

inline void Mouse(QWidget* target, QEvent::Type type, QPoint at, Qt::MouseButton button = Qt::LeftButton,
                  Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease || type == QEvent::MouseMove
                                      ? Qt::MouseButtons(Qt::NoButton)
                                      : Qt::MouseButtons(button);
    QMouseEvent event(type, QPointF(at), QPointF(target->mapToGlobal(at)),
                      type == QEvent::MouseMove ? Qt::NoButton : button, held, modifiers);
    QApplication::sendEvent(target, &event);
}

// A press and a release at the point.
inline void Click(QWidget* target, QPoint at, Qt::MouseButton button = Qt::LeftButton,
                  Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    Mouse(target, QEvent::MouseButtonPress, at, button, modifiers);
    Mouse(target, QEvent::MouseButtonRelease, at, button, modifiers);
}

inline void Key(QWidget* target, QEvent::Type type, int key, const QString& text = {}, bool autoRepeat = false,
                Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QKeyEvent event(type, key, modifiers, text, autoRepeat);
    QApplication::sendEvent(target, &event);
}

// A press and a release of a key.
inline void Type(QWidget* target, int key, const QString& text = {})
{
    Key(target, QEvent::KeyPress, key, text);
    Key(target, QEvent::KeyRelease, key, text);
}

} // namespace widgettest
