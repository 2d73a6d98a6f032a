// HTML reports shown in the page viewer.
#include "CoreLib/controls/HTMLReports.h"


#include "CoreLib/HTMLReportUtils.h"
#include "platform/gui/Application.h"

void ShowHTMLReport(const std::string& body, TBrowserRef& browser, QWidget* owner)
{
    ShowHTMLPage(HTMLPageHeader(), body, HTMLPageFooter(), browser, owner);
}

void ShowHTMLPage(const std::string& header, const std::string& body, const std::string& footer,
                  TBrowserRef& browser, QWidget* owner)
{
    NewBrowserWindow(browser, owner);
    try {
        browser->LoadPage(header + body + footer);
    } catch (...) {
        // A window that could not get its page is not left behind.
        delete browser.data();
        throw;
    }
    browser->show();
    browser->raise();
}

void NewBrowserWindow(TBrowserRef& browser, QWidget* owner)
{
    browser = new browser::TBrowserWindow(owner ? owner : gui::MainForm());
}
