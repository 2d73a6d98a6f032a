// Variant: the typed value that crosses the database interfaces, the XML
// attributes and the parameter lists.
//
// A variant carries a 16-bit type code of the OLE Automation numbering (plus
// 256 for an 8-bit string) and a value; the code stays observable through
// VarType(). Text values (codes 8 and 256) hold UTF-8 inside the program;
// code 8 is the "UTF-16" string and converts to std::u16string on request.
//
// Conversions follow the platform rules the program relies on: Boolean true is
// -1 as an integer, currency is a 64-bit integer scaled by 10 000, date-time
// is a double counting days since 1899-12-30, Empty converts to 0 / "" /
// False, Null converts to nothing (EVariantTypeCastError). A text that does not
// convert raises EConvertError with the platform text of NumText.h.
//
// One-dimensional arrays carry varArray | the element type as their code and
// keep the bounds they were made with (VarArrayCreate); a variant array
// (varArray | varVariant) holds any values, arrays included, so a listing is
// an array of rows. Copying a variant copies its array. Byte arrays are
// arrays too, with bounds 0 to size - 1.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace rtl {

using TVarType = std::uint16_t;

enum : TVarType {
    varEmpty = 0,
    varNull = 1,
    varSmallint = 2,
    varInteger = 3,
    varSingle = 4,
    varDouble = 5,
    varCurrency = 6,
    varDate = 7,
    varOleStr = 8,
    varError = 10,
    varBoolean = 11,
    varVariant = 12,
    varShortInt = 16,
    varByte = 17,
    varWord = 18,
    varLongWord = 19,
    varInt64 = 20,
    varStrArg = 72,
    varString = 256,
    varArray = 0x2000,
    varByteArray = varArray | varByte, // 8209
};

using ByteArray = std::vector<std::uint8_t>;

// Currency amount: the value times 10 000.
struct Currency {
    std::int64_t scaled = 0;
    friend bool operator==(Currency, Currency) = default;
};

// The storage of a variant array; copies deeply.
class VarArrayBox {
public:
    struct Data;
    VarArrayBox();
    explicit VarArrayBox(std::unique_ptr<Data> data) noexcept;
    VarArrayBox(const VarArrayBox& other);
    VarArrayBox(VarArrayBox&& other) noexcept;
    VarArrayBox& operator=(const VarArrayBox& other);
    VarArrayBox& operator=(VarArrayBox&& other) noexcept;
    ~VarArrayBox();

    // The array; an empty one after a move.
    Data& Get() const noexcept;

private:
    std::unique_ptr<Data> data_;
};

class Variant {
public:
    Variant() = default; // Empty
    Variant(bool value);
    Variant(std::int32_t value);  // varInteger
    Variant(std::int64_t value);  // varInt64
    Variant(double value);        // varDouble
    Variant(Currency value);      // varCurrency
    Variant(const char* utf8);    // varString
    Variant(std::string utf8);    // varString
    Variant(std::string_view utf8); // varString
    Variant(std::u16string text); // varOleStr
    Variant(ByteArray bytes);     // varByteArray

    static Variant Null();
    static Variant Empty() { return Variant(); }
    static Variant SmallInt(std::int16_t value);
    static Variant ShortInt(std::int8_t value);
    static Variant Byte(std::uint8_t value);
    static Variant Word(std::uint16_t value);
    static Variant LongWord(std::uint32_t value);
    static Variant Single(float value);
    static Variant DateTime(double days);
    static Variant OleStr(std::string_view utf8);  // varOleStr from UTF-8
    static Variant StrArg(std::string_view utf8);  // varStrArg
    static Variant Error(std::int32_t code);        // varError (SCODE)

    TVarType VarType() const noexcept { return type_; }
    bool IsEmpty() const noexcept { return type_ == varEmpty; }
    bool IsNull() const noexcept { return type_ == varNull; }
    // Empty or Null.
    bool IsClear() const noexcept { return type_ == varEmpty || type_ == varNull; }
    bool IsNumeric() const noexcept;  // integer codes, float codes, currency
    bool IsString() const noexcept;   // 8, 72, 256
    bool IsByteArray() const noexcept { return type_ == varByteArray; }
    // Any one-dimensional array, byte arrays included.
    bool IsArray() const noexcept { return (type_ & varArray) != 0; }

    // A one-dimensional array of elementType (varVariant, a number, date,
    // Boolean or text code, or varByte with low 0) with bounds low..high;
    // high = low - 1 makes an empty array. Every element starts as the empty
    // value of its type (Empty in a variant array, 0, False, ""). Another
    // element type or high below low - 1: EVariantError "Error creating
    // variant or safe array".
    static Variant Array(int low, int high, TVarType elementType);
    // Bounds of the array; EVariantError "Invalid argument" for a value that
    // is no array.
    int ArrayLowBound() const;
    int ArrayHighBound() const;
    // Element index; EVariantError "Variant or safe array index out of
    // bounds" outside the bounds, "Invalid argument" for no array.
    Variant GetElement(int index) const;
    // Stores value at index, converted to the element type (kept as it is in
    // a variant array); fails as GetElement or as the conversion.
    void PutElement(int index, const Variant& value);

    // Conversions; each raises on a value it cannot convert (see above).
    bool AsBoolean() const;       // numbers: 0 false, else true; text "true"/"false" (any case) or a number
    std::int32_t AsInteger() const; // floats rounded half to even; out of range -> EVariantError
    std::int64_t AsInt64() const;
    double AsDouble() const;
    Currency AsCurrency() const;
    double AsDateTime() const;    // days since 1899-12-30; text in "YYYY-MM-DD[THH:MM:SS]" form or a number
    std::string AsString() const; // UTF-8; general text of numbers ("." separator), dates, "True"/"False"
    std::u16string AsWideString() const;
    const ByteArray& AsBytes() const; // only for varByteArray; anything else -> EVariantTypeCastError

    // The same value as another type code (VarAsType); raises as the As... calls.
    Variant CastTo(TVarType type) const;

    // Value equality: Empty/Null equal only themselves; numbers compare by
    // value; texts exactly; text against number converts the text (raises
    // EConvertError when it is not a number); byte arrays by content.
    bool Equals(const Variant& other) const;
    friend bool operator==(const Variant& a, const Variant& b) { return a.Equals(b); }

    // Name of a type code for messages ("Integer", "Null", ...).
    static std::string TypeName(TVarType type);

private:
    using Storage = std::variant<std::monostate, bool, std::int64_t, double,
                                 std::string, ByteArray, VarArrayBox>;
    Variant(TVarType type, Storage value) : type_(type), value_(std::move(value)) {}
    [[noreturn]] void CastError(TVarType to) const;

    TVarType type_ = varEmpty;
    Storage value_;
};

// "" for Empty or Null, else AsString().
std::string VarToStr(const Variant& v);

// The platform's names for the array operations.
inline Variant VarArrayCreate(int low, int high, TVarType elementType)
{
    return Variant::Array(low, high, elementType);
}
// A variant array with bounds 0 to n - 1 holding the values in order.
Variant VarArrayOf(std::initializer_list<Variant> values);
Variant VarArrayOf(const std::vector<Variant>& values);
inline bool VarIsArray(const Variant& v) noexcept { return v.IsArray(); }

} // namespace rtl
