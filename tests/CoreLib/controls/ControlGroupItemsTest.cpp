// Widgets switched together through a control group.
#include <memory>

#include <gtest/gtest.h>

#include <QProgressBar>
#include <QPushButton>
#include <QWidget>

#include "CoreLib/controls/ControlGroupItems.h"

namespace {

TEST(WidgetGroupItem, AGroupSwitchesItsWidgetsAndSkipsDestroyedOnes)
{
    QWidget form;
    auto* progress = new QProgressBar(&form);
    auto* cancel = new QPushButton("Отмена", &form);
    auto gone = std::make_unique<QPushButton>("Изменить", &form);
    TWidgetGroupItem progressItem(progress);
    TWidgetGroupItem cancelItem(cancel);
    TWidgetGroupItem goneItem(gone.get());
    TControlGroup busy;
    busy.AddControls({&progressItem, &goneItem, &cancelItem});
    form.show();

    gone.reset();
    EXPECT_EQ(goneItem.Widget(), nullptr);
    busy.SetVisible(false);
    busy.SetEnabled(false);
    EXPECT_FALSE(progress->isVisible());
    EXPECT_FALSE(cancel->isEnabled());
    busy.SetVisible(true);
    busy.SetEnabled(true);
    EXPECT_TRUE(progress->isVisible());
    EXPECT_TRUE(cancel->isVisible());
    EXPECT_TRUE(cancel->isEnabled());
}

} // namespace
