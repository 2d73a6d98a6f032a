// Text of the HTML reports: the table builder, the fixed page frame (its
// header with the style sheet, and its footer) and the escaping of cell
// texts. Pure functions; the window that shows a page is
// CoreLib/controls/HTMLReports.
#pragma once

#include <string>
#include <string_view>
#include <vector>

// "<table cellspacing=0 cellpadding=0>", the header row when headers are
// given, one "<tr>" + row + "</tr>" per row, "</table>". Headers and rows are
// copied as given: a row supplies its own "<td>" cells, already escaped.
void MakeHTMLTable(const std::vector<std::string>& headers, const std::vector<std::string>& rows,
                   std::string& html);

// The page's fixed header: "<html>", the print and screen style sheets, "<body>".
const std::string& HTMLPageHeader();
// "</body></html>"
const std::string& HTMLPageFooter();
// Header, body and footer joined.
std::string HTMLPage(std::string_view body);

// text with &, <, > and " written as character references.
std::string HTMLEscape(std::string_view text);
