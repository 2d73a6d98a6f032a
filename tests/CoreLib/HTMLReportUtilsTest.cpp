// Tests of the HTML report text: the table builder, the page frame byte for
// byte, and the escaping of cell texts.
#include "CoreLib/HTMLReportUtils.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(HTMLReportUtils, TableIsBuiltFromHeadersAndReadyRows)
{
    struct Case {
        const char* name;
        std::vector<std::string> headers;
        std::vector<std::string> rows;
        std::string html;
    };
    const Case cases[] = {
        {"nothing: the opening tag and the closing one", {}, {}, "<table cellspacing=0 cellpadding=0></table>"},
        {"two headers and a row",
         {"A", "B"},
         {"<td>1</td><td>2</td>"},
         "<table cellspacing=0 cellpadding=0><thead><tr><th>A</th><th>B</th></thead>"
         "<tr><td>1</td><td>2</td></tr></table>"},
        {"rows without headers get no head",
         {},
         {"<td>x</td>", "<td>y</td>"},
         "<table cellspacing=0 cellpadding=0><tr><td>x</td></tr><tr><td>y</td></tr></table>"},
        {"rows and headers are copied unchanged",
         {"Сем. таблица", "<i>"},
         {"<td>a & b < c</td>"},
         "<table cellspacing=0 cellpadding=0><thead><tr><th>Сем. таблица</th><th><i></th></thead>"
         "<tr><td>a & b < c</td></tr></table>"},
    };
    for (const Case& c : cases) {
        std::string html = "previous content";
        MakeHTMLTable(c.headers, c.rows, html);
        EXPECT_EQ(html, c.html) << c.name;
    }
}

TEST(HTMLReportUtils, PageFrameIsTheFixedText)
{
    const std::string header =
        "<html>"
        "<style media=print>.noprint { display:none }</style>"
        "<style>"
        "body { font:8pt verdana; border:none; margin:1mm }"
        "TABLE {\tfont:8pt verdana;\tborder-top:1 solid gray;\tborder-left:1 solid gray;\tborder-right: 0;"
        "\tborder-bottom: 0;\tpadding-top:0.5mm;\tpadding-bottom:0.5mm;\tpadding-left:1mm;\tpadding-right:1mm;}"
        "TABLE.Inner {\tborder: none;\tpadding:0;}"
        "TH {\tfont:9pt \"Trebuchet MS\";\tbackground-color:#E6E6E6;\tborder-right:1 solid gray;"
        "\tborder-bottom:1 solid gray;\tborder-left: 0px;\tborder-top: 0px;\tpadding-left: 1mm;\tpadding-right: 1mm;"
        "\tvertical-align:top;}"
        "TH.InnerTop {\tborder-right:none;\tborder-bottom:1 solid gray;\tborder-left:none;\tborder-top:none;}"
        "TH.Inner {\tborder-right:none;\tborder-bottom:1 solid gray;\tborder-left: none;\tborder-top: 1 solid gray;}"
        "TD {\tfont:8pt verdana;\tborder-right:1 solid gray;\tborder-bottom:1 solid gray;\tborder-left: 0px;"
        "\tborder-top: 0px;\tpadding-left: 1mm;\tpadding-right: 1mm;\tvertical-align:top;}"
        "TD.Inner {\tborder:none;\tpadding-top:1mm;\tpadding-bottom:1mm;}"
        ".I1 { padding-left:3mm; }.I2 { padding-left:5mm; }.I3 { padding-left:7mm; }"
        ".I4 { padding-left:9mm; }.I5 { padding-left:11mm; }.I6 { padding-left:13mm; }"
        "P.TDP {\tfont:8pt verdana;\tmargin:0;}"
        "OL.TDP {\tfont:8pt verdana;\tmargin-top:0;\tmargin-right:0;\tmargin-bottom:0;}"
        "P {\tmargin-top: 3mm;\tmargin-bottom: 1mm;\tfont: 9pt verdana;}"
        "H1 {\tfont: 14pt \"trebuchet ms\" bold;\tmargin-top: 4mm;\tmargin-bottom: 2mm;}"
        "H2 {\tfont: 12pt \"trebuchet ms\" bold italic;\tmargin-top: 4mm;\tmargin-bottom: 2mm;}"
        "H3 {\tfont: 10pt \"trebuchet ms\" bold;\tmargin-top: 4mm;\tmargin-bottom: 2mm;}"
        "a {\ttext-decoration:none;\tcolor:highlight;}"
        "</style>"
        "<body>";
    EXPECT_EQ(HTMLPageHeader(), header);
    EXPECT_EQ(HTMLPageFooter(), "</body></html>");
    EXPECT_EQ(HTMLPage("<p>тело</p>"), header + "<p>тело</p></body></html>");
    EXPECT_EQ(HTMLPageHeader().find('\n'), std::string::npos);
}

TEST(HTMLReportUtils, EscapingCoversTheFourMarkupCharacters)
{
    struct Case {
        const char* text;
        const char* escaped;
    };
    const Case cases[] = {
        {"", ""},
        {"plain", "plain"},
        {"<b>x&y</b>", "&lt;b&gt;x&amp;y&lt;/b&gt;"},
        {"\"quoted\" 'single'", "&quot;quoted&quot; 'single'"},
        {"&amp;", "&amp;amp;"},
        {"Дороги & мосты", "Дороги &amp; мосты"},
    };
    for (const Case& c : cases) EXPECT_EQ(HTMLEscape(c.text), c.escaped) << c.text;
}

} // namespace
