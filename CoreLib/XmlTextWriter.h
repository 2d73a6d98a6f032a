// The writer of the text form: appends to a string, either UTF-8 (Get_XML)
// or the stored byte form (Save).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "CoreLib/SimpleXML.h"
#include "platform/rtl/Cp1251.h"
#include "platform/rtl/NumText.h"
#include "platform/rtl/TextUtils.h"

namespace simplexml {

class TXmlProcessingInstruction;

// Appends text forms to one string. In the byte form, markup is Windows-1251
// (a character outside it is an error) and escaped text writes such a
// character as a numeric character reference.
struct TXmlWriter {
    std::string* out = nullptr;
    bool preserve = false;
    bool cp1251 = false;
    // Escaped text writes every character outside ASCII as a reference.
    bool asciiOnly = false;
    // The leading declaration of UTF-8 bytes: Load reads it before it knows
    // the encoding, so it is written in ASCII.
    const TXmlProcessingInstruction* asciiDeclaration = nullptr;
    int depth = 0;

    void Markup(std::string_view utf8) const
    {
        if (cp1251)
            *out += rtl::Utf8ToCp1251(utf8);
        else
            *out += utf8;
    }
    void Ascii(std::string_view s) const { *out += s; }
    void Escaped(std::string_view utf8) const
    {
        if (!cp1251 && !asciiOnly) {
            *out += XmlEscape(utf8);
            return;
        }
        std::size_t pos = 0;
        while (pos < utf8.size()) {
            const char32_t c = rtl::NextUtf8(utf8, pos);
            std::uint8_t b = 0;
            switch (c) {
            case U'"': *out += "&quot;"; break;
            case U'&': *out += "&amp;"; break;
            case U'<': *out += "&lt;"; break;
            case U'>': *out += "&gt;"; break;
            default:
                if (c < 0x80)
                    out->push_back(static_cast<char>(c));
                else if (!asciiOnly && rtl::CharToCp1251(c, b))
                    out->push_back(static_cast<char>(b));
                else
                    *out += "&#" + rtl::IntToStr(static_cast<std::int64_t>(c)) + ";";
            }
        }
    }
    void NewLine() const
    {
        *out += "\r\n";
        out->append(static_cast<std::size_t>(depth), '\t');
    }
};

} // namespace simplexml
