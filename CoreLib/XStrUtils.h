// XStr text: the one canonical text form of a typed value, used wherever a
// typed value is kept as text in XML (the parameter lists of SimpleParams).
//
// The text does not depend on the user's locale: numbers use "." as the
// decimal separator, dates are written year first, Null and Empty are
// "{{null}}", byte arrays are base64. Texts are UTF-8.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "platform/rtl/Variant.h"

// The XStr text of v by its type code; raises rtl::Exception for a code
// without a text form.
std::string VariantToXStr(const rtl::Variant& v);

// Reads text as a value of the type code asked for ("{{null}}" reads as Null
// for every code that has a text form); raises rtl::Exception (or the
// platform's conversion error for dates and times) when the text does not
// convert or the code has no text form.
rtl::Variant XStrToVariant(std::string_view text, rtl::TVarType varType);

// The XStr type names and their codes, in their published order.
struct TXStrTypeName {
    const char* Name;
    rtl::TVarType VarType;
};

inline constexpr std::array<TXStrTypeName, 12> XStrTypeNames{{
    {"boolean", rtl::varBoolean},
    {"uint8", rtl::varByte},
    {"int16", rtl::varSmallint},
    {"int32", rtl::varInteger},
    {"single", rtl::varSingle},
    {"double", rtl::varDouble},
    {"currency", rtl::varCurrency},
    {"datetime", rtl::varDate},
    {"char", rtl::varOleStr},
    {"string", rtl::varOleStr},
    {"text", rtl::varOleStr},
    {"binary", rtl::varByteArray},
}};
