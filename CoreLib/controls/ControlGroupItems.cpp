// A Qt widget as a member of a TControlGroup.
#include "CoreLib/controls/ControlGroupItems.h"

void TWidgetGroupItem::SetEnabled(bool value)
{
    if (widget_) widget_->setEnabled(value);
}

void TWidgetGroupItem::SetVisible(bool value)
{
    if (widget_) widget_->setVisible(value);
}
