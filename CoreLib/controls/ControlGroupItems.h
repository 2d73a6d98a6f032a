// A Qt widget as a member of a TControlGroup, so that a form can enable,
// show and hide a set of its controls together.
//
// The item watches its widget: once the widget is destroyed the item does
// nothing, so a group never touches a dead control.
#pragma once

#include <QPointer>
#include <QWidget>

#include "CoreLib/AClasses.h"

class TWidgetGroupItem final : public IControlGroupItem {
public:
    explicit TWidgetGroupItem(QWidget* widget) : widget_(widget) {}

    void SetEnabled(bool value) override;
    void SetVisible(bool value) override;
    QWidget* Widget() const noexcept { return widget_.data(); }

private:
    QPointer<QWidget> widget_;
};
