// The main window shows the report of missing semantic tables in a window
// of the page viewer that it owns.
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include <QPointer>

#include "CoreLib/controls/HTMLReports.h"
#include "Tools/Parvane/gui/MainForms.h"
#include "tests/support/TempFolder.h"

namespace {

TEST(MainFormReport, TheReportOpensAWindowThatGoesWithTheMainWindow)
{
    const testing_support::TempFolder folder;
    auto form = std::make_unique<TMainForm>(folder / "parvane.log");
    const std::string body = "<h2>Замена идентификаторов пространственных объектов</h2><p>SEM_ROADS</p>";
    form->ShowReport(body);

    const QList<browser::TBrowserWindow*> windows = form->findChildren<browser::TBrowserWindow*>();
    ASSERT_EQ(windows.size(), 1);
    QPointer<browser::TBrowserWindow> window = windows.front();
    EXPECT_TRUE(window->isWindow());
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(window->testAttribute(Qt::WA_QuitOnClose));
    const std::string text = window->View().toPlainText().toStdString();
    EXPECT_NE(text.find("Замена идентификаторов пространственных объектов"), std::string::npos) << text;
    EXPECT_NE(text.find("SEM_ROADS"), std::string::npos) << text;

    form.reset();
    EXPECT_TRUE(window.isNull());
}

} // namespace
