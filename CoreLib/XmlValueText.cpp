// The value-to-text conversions of the XML text form.
#include <algorithm>
#include <cstdint>

#include "CoreLib/AUtils.h"
#include "CoreLib/SimpleXML.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/NumText.h"

std::string VarToXmlStr(const rtl::Variant& v)
{
    switch (v.VarType()) {
    case rtl::varEmpty: return {};
    case rtl::varNull: return "{{null}}";
    case rtl::varSmallint:
    case rtl::varInteger:
    case rtl::varShortInt:
    case rtl::varByte:
    case rtl::varWord:
    case rtl::varLongWord:
    case rtl::varInt64: return rtl::IntToStr(v.AsInt64());
    case rtl::varSingle:
    case rtl::varDouble: return FloatToXmlStr(v.AsDouble());
    case rtl::varCurrency: return FloatToXmlStr(static_cast<double>(v.AsCurrency().scaled) / 10000.0);
    case rtl::varDate: return DateTimeToXmlStr(v.AsDateTime());
    case rtl::varBoolean: return v.AsBoolean() ? "1" : "0";
    case rtl::varOleStr:
    case rtl::varString: return v.AsString();
    case rtl::varByteArray: {
        const rtl::ByteArray& bytes = v.AsBytes();
        return Base64Encode(bytes.data(), bytes.size());
    }
    default: return v.AsString();
    }
}

double XmlStrToFloat(std::string_view s)
{
    return StrToFloatAnySep(s);
}

std::string FloatToXmlStr(double value)
{
    // The platform's float text already uses "." whatever the locale.
    return rtl::FloatToStr(value);
}

std::string DateTimeToXmlStr(rtl::TDateTime value)
{
    int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
    rtl::DecodeDateTime(value, year, month, day, hour, minute, second, msec);
    return rtl::Format("%.4d-%.2d-%.2dT%.2d:%.2d:%.2d", year, month, day, hour, minute, second);
}

rtl::TDateTime XmlStrToDateTime(std::string_view s)
{
    static constexpr char kSeparators[5] = {'-', '-', 'T', ':', ':'};
    int fields[6] = {0, 0, 0, 0, 0, 0};
    std::size_t pos = 0;
    for (int i = 0; i < 6; ++i) {
        std::int64_t v = 0;
        while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9') {
            v = std::min<std::int64_t>(v * 10 + (s[pos] - '0'), 1000000000);
            ++pos;
        }
        fields[i] = static_cast<int>(v);
        if (i == 5) break;
        if (pos < s.size() && s[pos] == kSeparators[i])
            ++pos;
        else
            break;
    }
    return rtl::EncodeDateTime(fields[0], fields[1], fields[2], fields[3], fields[4], fields[5], 0);
}
