// Vocabulary of the session, database, table and query objects: field types
// and the other enumerations of the dataset components, the error class, and
// field and index definitions as tables report and take them.
//
// Field types keep the names of the dataset components the drivers were
// written against; a Paradox field maps to one of them as follows:
//   Alpha -> ftString, Short -> ftSmallint, Long -> ftInteger,
//   AutoInc -> ftAutoInc, Logical -> ftBoolean, Number -> ftFloat,
//   Money -> ftCurrency, BCD -> ftBCD, Date -> ftDate, Time -> ftTime,
//   Timestamp -> ftDateTime, Memo -> ftMemo, FmtMemo -> ftFmtMemo,
//   Blob -> ftBlob, Graphic -> ftGraphic, OLE -> ftParadoxOle, Bytes -> ftBytes.
//
// Values cross as rtl::Variant: text as UTF-8 strings, dates and times as
// date-times (days since 1899-12-30, the time of day as the fraction; a Time
// field holds the fraction only), currency as rtl::Currency, blobs as byte
// arrays (memos as text); a blank field is Null.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/bde/PxFormat.h"
#include "platform/rtl/Exceptions.h"

namespace bde {

// A failure of the session, database, table or query objects (engine
// failures of the table files are EPxError and pass through unchanged).
class EBdeError : public rtl::Exception {
public:
    using rtl::Exception::Exception;
};

enum TFieldType {
    ftUnknown, ftString, ftSmallint, ftInteger, ftWord, ftBoolean, ftFloat, ftCurrency, ftBCD,
    ftDate, ftTime, ftDateTime, ftBytes, ftVarBytes, ftAutoInc, ftBlob, ftMemo, ftGraphic,
    ftFmtMemo, ftParadoxOle, ftDBaseOle, ftTypedBinary, ftCursor, ftFixedChar, ftWideString,
    ftLargeint, ftADT, ftArray, ftReference, ftDataSet, ftOraBlob, ftOraClob, ftVariant,
    ftInterface, ftIDispatch, ftGuid, ftTimeStamp, ftFMTBcd,
};

// "String", "Integer", ... for messages.
const char* FieldTypeName(TFieldType type) noexcept;
// The field keeps its value in the blob file (memo, blob, graphic, ...).
bool IsBlobFieldType(TFieldType type) noexcept;

enum TParamType { ptUnknown, ptInput, ptOutput, ptInputOutput, ptResult };
enum TTransIsolation { tiDirtyRead, tiReadCommitted, tiRepeatableRead };
// Paradox is the one table type of this engine; ttDefault means Paradox too.
enum TTableType { ttDefault, ttParadox, ttDBase, ttASCII };

// Index options, or-ed.
using TIndexOptions = unsigned;
inline constexpr TIndexOptions ixPrimary = 1;
inline constexpr TIndexOptions ixUnique = 2;

struct TBdeFieldDef {
    std::string Name;
    TFieldType DataType = ftUnknown;
    int Size = 0;
    bool Required = false;
};

struct TBdeIndexDef {
    std::string Name;   // "" for the primary index of a Paradox table
    std::string Fields; // field names joined by ";"
    TIndexOptions Options = 0;
};

// The field type of a Paradox field, and the Paradox field of a definition:
// EBdeError naming the field and `table` for a type Paradox cannot store or
// a size outside its limits. Alpha and Bytes need a size; a memo without one
// keeps 1 byte of its text in the record, other blobs none.
TFieldType PxToFieldType(PxFieldType type) noexcept;
PxFieldDef FieldDefToPx(const TBdeFieldDef& def, const std::string& table);

// Splits "A;B;C" into names (blanks around names dropped, empty parts skipped).
std::vector<std::string> SplitFieldList(std::string_view fields);
std::string JoinFieldList(const std::vector<std::string>& names);

} // namespace bde
