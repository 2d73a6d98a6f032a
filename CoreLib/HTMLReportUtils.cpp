// The HTML report text: table, page frame and escaping.
#include "CoreLib/HTMLReportUtils.h"

#include <initializer_list>

#include "CoreLib/SimpleXML.h"

namespace {

// A rule written on one line: "sel { decl decl }" with the declarations as given.
std::string InlineRule(const char* selector, const char* declarations)
{
    return std::string(selector) + " { " + declarations + " }";
}

// A rule whose declarations each follow a tab: "sel {\tdecl;\tdecl;}".
std::string TabbedRule(const char* selector, std::initializer_list<const char*> declarations)
{
    std::string rule = std::string(selector) + " {";
    for (const char* declaration : declarations) {
        rule += '\t';
        rule += declaration;
    }
    return rule + "}";
}

std::string BuildHeader()
{
    std::string header = "<html><style media=print>.noprint { display:none }</style><style>";
    header += InlineRule("body", "font:8pt verdana; border:none; margin:1mm");
    header += TabbedRule("TABLE", {"font:8pt verdana;", "border-top:1 solid gray;", "border-left:1 solid gray;",
                                   "border-right: 0;", "border-bottom: 0;", "padding-top:0.5mm;",
                                   "padding-bottom:0.5mm;", "padding-left:1mm;", "padding-right:1mm;"});
    header += TabbedRule("TABLE.Inner", {"border: none;", "padding:0;"});
    header += TabbedRule("TH", {"font:9pt \"Trebuchet MS\";", "background-color:#E6E6E6;",
                                "border-right:1 solid gray;", "border-bottom:1 solid gray;", "border-left: 0px;",
                                "border-top: 0px;", "padding-left: 1mm;", "padding-right: 1mm;",
                                "vertical-align:top;"});
    header += TabbedRule("TH.InnerTop",
                         {"border-right:none;", "border-bottom:1 solid gray;", "border-left:none;", "border-top:none;"});
    header += TabbedRule("TH.Inner", {"border-right:none;", "border-bottom:1 solid gray;", "border-left: none;",
                                      "border-top: 1 solid gray;"});
    header += TabbedRule("TD", {"font:8pt verdana;", "border-right:1 solid gray;", "border-bottom:1 solid gray;",
                                "border-left: 0px;", "border-top: 0px;", "padding-left: 1mm;", "padding-right: 1mm;",
                                "vertical-align:top;"});
    header += TabbedRule("TD.Inner", {"border:none;", "padding-top:1mm;", "padding-bottom:1mm;"});
    header += InlineRule(".I1", "padding-left:3mm;");
    header += InlineRule(".I2", "padding-left:5mm;");
    header += InlineRule(".I3", "padding-left:7mm;");
    header += InlineRule(".I4", "padding-left:9mm;");
    header += InlineRule(".I5", "padding-left:11mm;");
    header += InlineRule(".I6", "padding-left:13mm;");
    header += TabbedRule("P.TDP", {"font:8pt verdana;", "margin:0;"});
    header += TabbedRule("OL.TDP", {"font:8pt verdana;", "margin-top:0;", "margin-right:0;", "margin-bottom:0;"});
    header += TabbedRule("P", {"margin-top: 3mm;", "margin-bottom: 1mm;", "font: 9pt verdana;"});
    header += TabbedRule("H1", {"font: 14pt \"trebuchet ms\" bold;", "margin-top: 4mm;", "margin-bottom: 2mm;"});
    header +=
        TabbedRule("H2", {"font: 12pt \"trebuchet ms\" bold italic;", "margin-top: 4mm;", "margin-bottom: 2mm;"});
    header += TabbedRule("H3", {"font: 10pt \"trebuchet ms\" bold;", "margin-top: 4mm;", "margin-bottom: 2mm;"});
    header += TabbedRule("a", {"text-decoration:none;", "color:highlight;"});
    header += "</style><body>";
    return header;
}

} // namespace

void MakeHTMLTable(const std::vector<std::string>& headers, const std::vector<std::string>& rows,
                   std::string& html)
{
    html = "<table cellspacing=0 cellpadding=0>";
    if (!headers.empty()) {
        // The header row's end tag is implied by the end of the head section.
        html += "<thead><tr>";
        for (const std::string& header : headers) html += "<th>" + header + "</th>";
        html += "</thead>";
    }
    for (const std::string& row : rows) html += "<tr>" + row + "</tr>";
    html += "</table>";
}

const std::string& HTMLPageHeader()
{
    static const std::string header = BuildHeader();
    return header;
}

const std::string& HTMLPageFooter()
{
    static const std::string footer = "</body></html>";
    return footer;
}

std::string HTMLPage(std::string_view body)
{
    std::string page = HTMLPageHeader();
    page += body;
    page += HTMLPageFooter();
    return page;
}

std::string HTMLEscape(std::string_view text) { return XmlEscape(text); }
