// The text form written out: node markup, escaping, and the encoding policy
// of the byte form.
#include "CoreLib/XmlTextWriter.h"

#include <algorithm>
#include <optional>

#include "CoreLib/XmlNodes.h"
#include "CoreLib/XmlTextParser.h"

namespace simplexml {

namespace {

bool HasLineBreak(std::string_view s)
{
    return s.find_first_of("\r\n") != std::string_view::npos;
}

} // namespace

void TXmlNode::WriteAttrs(TXmlWriter& w) const
{
    for (const auto& a : attrs_) {
        w.Ascii(" ");
        w.Markup(nameTable_->GetName(a.nameID));
        w.Ascii("=\"");
        w.Escaped(VarToXmlStr(a.value));
        w.Ascii("\"");
    }
}

void TXmlNode::WriteChildren(TXmlWriter& w, bool inlineChildren)
{
    if (!childNodes_) return;
    for (int i = 0; i < childNodes_->Count(); ++i) childNodes_->At(i)->WriteXml(w, inlineChildren);
}

void TXmlElement::WriteXml(TXmlWriter& w, bool inlineStart)
{
    const std::string& name = nameTable_->NameOf(nameID_);
    std::string content;
    const bool hasChildren = HasChildren();
    // Mixed content (text among the children) is written as it stands, so
    // that reading it back gives the same texts.
    const bool mixed = hasChildren && !w.preserve && HasTextChild();
    if (hasChildren) {
        std::string* const saved = w.out;
        w.out = &content;
        ++w.depth;
        try {
            WriteChildren(w, w.preserve || mixed);
        } catch (...) {
            --w.depth;
            w.out = saved;
            throw;
        }
        --w.depth;
        w.out = saved;
    } else if (!value_.IsEmpty()) {
        TXmlWriter inner = w;
        inner.out = &content;
        inner.Escaped(VarToXmlStr(value_));
    }

    if (!w.preserve && !inlineStart) w.NewLine();
    w.Ascii("<");
    w.Markup(name);
    WriteAttrs(w);
    if (content.empty()) {
        w.Ascii("/>");
        return;
    }
    w.Ascii(">");
    *w.out += content;
    // Only element-only content gets its end tag on a line of its own.
    if (!w.preserve && hasChildren && !mixed && HasLineBreak(content)) {
        if (content.size() < 2 || content.compare(content.size() - 2, 2, "\r\n") != 0) *w.out += "\r\n";
        w.out->append(static_cast<std::size_t>(w.depth), '\t');
    }
    w.Ascii("</");
    w.Markup(name);
    w.Ascii(">");
}

// ---- document saving -----------------------------------------------------------------

// The document's first child, blank text aside, when it is a declaration:
// the one node Load takes the encoding from.
TXmlProcessingInstruction* TXmlDocument::LeadingDeclaration() const
{
    if (!childNodes_) return nullptr;
    for (int i = 0; i < childNodes_->Count(); ++i) {
        TXmlNode* child = childNodes_->At(i);
        if (child->Get_NodeType() == NODE_TEXT && AllBlank(child->Get_Text())) continue;
        if (child->Get_NodeType() != NODE_PROCESSING_INSTRUCTION || child->Get_NodeNameID() != NAMEID_XML)
            return nullptr;
        return static_cast<TXmlProcessingInstruction*>(child);
    }
    return nullptr;
}


namespace {

// The encoding Load finds in a declaration written from this node: its data,
// read as the parser reads it, or else its attributes. nullopt when it names
// none, or when its data are no attributes (Load then fails on them anyway).
std::optional<std::string> WrittenEncoding(TXmlProcessingInstruction& declaration)
{
    if (declaration.Data().empty()) {
        const rtl::Variant* v = declaration.FindAttr(declaration.Table()->FindID("encoding"));
        if (!v) return std::nullopt;
        return VarToXmlStr(*v);
    }
    return DeclarationDataEncoding(declaration.Data());
}

// Whether bytes written with this leading declaration are UTF-8 (else
// Windows-1251), by the rule Load reads them with; an encoding Load cannot
// read is refused.
bool WritesUtf8(TXmlProcessingInstruction* declaration)
{
    if (!declaration) return false;
    const std::optional<std::string> encoding = WrittenEncoding(*declaration);
    if (!encoding || rtl::SameTextLatin(*encoding, "windows-1251")) return false;
    if (rtl::SameTextLatin(*encoding, "utf-8")) return true;
    Fail(rtl::Format(SCantSaveEncoding, encoding->c_str()));
}

bool IsAscii(std::string_view s)
{
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

} // namespace

// Saving follows the rule of loading, so a document is never written in an
// encoding that reads it back differently. Load reads the leading declaration
// as Windows-1251 before it knows better, so in UTF-8 bytes the declaration
// is ASCII: its attribute values take references, and data or names outside
// ASCII are refused.
std::string TXmlDocument::ByteForm()
{
    TXmlProcessingInstruction* declaration = LeadingDeclaration();
    const bool utf8 = WritesUtf8(declaration);
    if (utf8) {
        // Data are written instead of the attributes when there are any.
        bool ascii = IsAscii(declaration->Data());
        for (int i = 0; ascii && declaration->Data().empty() && i < declaration->Get_AttrCount(); ++i)
            ascii = IsAscii(declaration->Get_AttrName(i));
        if (!ascii) Fail(SNonAsciiDeclaration);
    }
    std::string out;
    TXmlWriter w;
    w.out = &out;
    w.preserve = IsPreserving();
    w.cp1251 = !utf8;
    w.asciiDeclaration = utf8 ? declaration : nullptr;
    WriteXml(w, false);
    return out;
}

} // namespace simplexml

std::string XmlEscape(std::string_view s)
{
    std::size_t extra = 0;
    for (const char c : s) {
        switch (c) {
        case '"': extra += 5; break;
        case '&': extra += 4; break;
        case '<':
        case '>': extra += 3; break;
        default: break;
        }
    }
    if (extra == 0) return std::string(s);
    std::string out;
    out.reserve(s.size() + extra);
    for (const char c : s) {
        switch (c) {
        case '"': out += "&quot;"; break;
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        default: out.push_back(c);
        }
    }
    return out;
}
