// Field types, their Paradox counterparts and field-list text.
#include "platform/bde/BdeTypes.h"

#include "platform/rtl/Format.h"
#include "platform/rtl/TextUtils.h"

namespace bde {
namespace {

constexpr const char* SUnsupportedType = "Field \"%s\" of table \"%s\": field type %s cannot be stored in a Paradox table";
constexpr const char* SNoSize = "Field \"%s\" of table \"%s\": an Alpha field needs a size from 1 to 255 (%d given)";
constexpr const char* SBadSize = "Field \"%s\" of table \"%s\": size %d is outside 0 to %d for a %s field";

constexpr const char* kTypeNames[] = {
    "Unknown", "String", "Smallint", "Integer", "Word", "Boolean", "Float", "Currency", "BCD",
    "Date", "Time", "DateTime", "Bytes", "VarBytes", "AutoInc", "Blob", "Memo", "Graphic",
    "FmtMemo", "ParadoxOle", "DBaseOle", "TypedBinary", "Cursor", "FixedChar", "WideString",
    "Largeint", "ADT", "Array", "Reference", "DataSet", "OraBlob", "OraClob", "Variant",
    "Interface", "IDispatch", "Guid", "TimeStamp", "FMTBcd",
};

} // namespace

const char* FieldTypeName(TFieldType type) noexcept
{
    const auto i = static_cast<std::size_t>(type);
    return i < std::size(kTypeNames) ? kTypeNames[i] : "Unknown";
}

bool IsBlobFieldType(TFieldType type) noexcept
{
    switch (type) {
    case ftBlob: case ftMemo: case ftGraphic: case ftFmtMemo: case ftParadoxOle: case ftDBaseOle:
    case ftTypedBinary: case ftOraBlob: case ftOraClob:
        return true;
    default:
        return false;
    }
}

TFieldType PxToFieldType(PxFieldType type) noexcept
{
    switch (type) {
    case PxFieldType::Alpha: return ftString;
    case PxFieldType::Date: return ftDate;
    case PxFieldType::Short: return ftSmallint;
    case PxFieldType::Long: return ftInteger;
    case PxFieldType::Money: return ftCurrency;
    case PxFieldType::Number: return ftFloat;
    case PxFieldType::Logical: return ftBoolean;
    case PxFieldType::Memo: return ftMemo;
    case PxFieldType::Blob: return ftBlob;
    case PxFieldType::FmtMemo: return ftFmtMemo;
    case PxFieldType::Ole: return ftParadoxOle;
    case PxFieldType::Graphic: return ftGraphic;
    case PxFieldType::Time: return ftTime;
    case PxFieldType::Timestamp: return ftDateTime;
    case PxFieldType::AutoInc: return ftAutoInc;
    case PxFieldType::Bcd: return ftBCD;
    case PxFieldType::Bytes: return ftBytes;
    }
    return ftUnknown;
}

PxFieldDef FieldDefToPx(const TBdeFieldDef& def, const std::string& table)
{
    PxFieldDef out;
    out.name = def.Name;
    out.required = def.Required;
    const auto sized = [&](PxFieldType type, int fallback, int limit) {
        out.type = type;
        out.size = def.Size <= 0 ? fallback : def.Size;
        if (out.size > limit)
            throw EBdeError(rtl::Format(SBadSize, def.Name.c_str(), table.c_str(), def.Size, limit, PxFieldTypeName(type)));
    };
    switch (def.DataType) {
    case ftString: case ftFixedChar: case ftWideString:
        if (def.Size < 1 || def.Size > kPxMaxAlphaSize)
            throw EBdeError(rtl::Format(SNoSize, def.Name.c_str(), table.c_str(), def.Size));
        out.type = PxFieldType::Alpha;
        out.size = def.Size;
        break;
    case ftSmallint: out.type = PxFieldType::Short; break;
    case ftInteger: case ftWord: out.type = PxFieldType::Long; break;
    case ftAutoInc: out.type = PxFieldType::AutoInc; break;
    case ftBoolean: out.type = PxFieldType::Logical; break;
    case ftFloat: out.type = PxFieldType::Number; break;
    case ftCurrency: out.type = PxFieldType::Money; break;
    case ftBCD: sized(PxFieldType::Bcd, 0, kPxMaxBcdDecimals); break;
    case ftDate: out.type = PxFieldType::Date; break;
    case ftTime: out.type = PxFieldType::Time; break;
    case ftDateTime: out.type = PxFieldType::Timestamp; break;
    // A memo keeps at least one byte of its text in the record.
    case ftMemo: sized(PxFieldType::Memo, 1, kPxMaxLeaderSize); break;
    case ftFmtMemo: sized(PxFieldType::FmtMemo, 1, kPxMaxLeaderSize); break;
    case ftBlob: case ftTypedBinary: sized(PxFieldType::Blob, 0, kPxMaxLeaderSize); break;
    case ftGraphic: sized(PxFieldType::Graphic, 0, kPxMaxLeaderSize); break;
    case ftParadoxOle: case ftDBaseOle: sized(PxFieldType::Ole, 0, kPxMaxLeaderSize); break;
    case ftBytes: case ftVarBytes:
        if (def.Size < 1 || def.Size > kPxMaxBytesSize)
            throw EBdeError(rtl::Format(SBadSize, def.Name.c_str(), table.c_str(), def.Size, kPxMaxBytesSize, "Bytes"));
        out.type = PxFieldType::Bytes;
        out.size = def.Size;
        break;
    default:
        throw EBdeError(rtl::Format(SUnsupportedType, def.Name.c_str(), table.c_str(), FieldTypeName(def.DataType)));
    }
    return out;
}

std::vector<std::string> SplitFieldList(std::string_view fields)
{
    return rtl::SplitTrimmed(fields, ';');
}

std::string JoinFieldList(const std::vector<std::string>& names)
{
    std::string out;
    for (const std::string& n : names) {
        if (!out.empty()) out += ';';
        out += n;
    }
    return out;
}

} // namespace bde
