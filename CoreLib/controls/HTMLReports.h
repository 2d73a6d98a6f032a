// HTML reports in a window: a page made of the fixed header, a body and the
// fixed footer (CoreLib/HTMLReportUtils) shown in a new window of the page
// viewer (platform/browser).
//
// The caller gets the window back as a guarded pointer and may drop it: the
// window stays open on its own until the user closes it (it is freed then),
// and goes at the latest with its owner.
#pragma once

#include <string>

#include <QPointer>

#include "platform/browser/BrowserWindows.h"

using TBrowserRef = QPointer<browser::TBrowserWindow>;

// ShowHTMLPage with the fixed header and footer.
void ShowHTMLReport(const std::string& body, TBrowserRef& browser, QWidget* owner = nullptr);
// A new window (NewBrowserWindow) showing header + body + footer, made visible.
void ShowHTMLPage(const std::string& header, const std::string& body, const std::string& footer,
                  TBrowserRef& browser, QWidget* owner = nullptr);
// A new, not yet visible window on an empty page, owned by owner (the main
// window when none is given).
void NewBrowserWindow(TBrowserRef& browser, QWidget* owner = nullptr);
