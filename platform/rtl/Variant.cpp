// Variant: the typed value of the program and its conversions.
//
// The type code is kept exactly as it was given; the storage only knows six
// shapes (nothing, Boolean, 64-bit integer, double, UTF-8 text, bytes), so
// every integer code holds its value in an int64, currency its scaled value,
// Single, Double and Date a double, and the three text codes UTF-8.
//
// Conversions follow the platform: Empty is 0 / "" / False, Null and Error
// convert to nothing (EVariantTypeCastError), a value outside the range of the
// target is an overflow (EVariantError), a text that is no number raises the
// EConvertError of NumText. Floats become integers rounded half to even.
//
// A variant array keeps its element type in the code and its elements as
// variants of that type (any values in a variant array); a byte array keeps
// its bytes as they are.
#include "platform/rtl/Variant.h"

#include <cmath>
#include <limits>

#include "platform/rtl/Cp1251.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/NumText.h"

namespace rtl {

namespace {

constexpr const char* SVarTypeCouldNotConvert = "Could not convert variant of type (%s) into type (%s)";
constexpr const char* SVarTypeConvertOverflow = "Overflow while converting variant of type (%s) into type (%s)";
constexpr const char* SInvalidBoolean = "'%s' is not a valid boolean value";
constexpr const char* SInvalidDateTime = "'%s' is not a valid date and time";
constexpr const char* SVarArrayCreate = "Error creating variant or safe array";
constexpr const char* SVarArrayBounds = "Variant or safe array index out of bounds";
constexpr const char* SInvalidArgument = "Invalid argument";
constexpr const char* STrue = "True";
constexpr const char* SFalse = "False";

constexpr std::int64_t kCurrencyScale = 10000;
constexpr TVarType kTypeMask = 0x0FFF;
constexpr TVarType kByRef = 0x4000;

[[noreturn]] void ThrowCastError(TVarType from, TVarType to)
{
    throw EVariantTypeCastError(
        Format(SVarTypeCouldNotConvert, Variant::TypeName(from).c_str(), Variant::TypeName(to).c_str()));
}

[[noreturn]] void ThrowOverflow(TVarType from, TVarType to)
{
    throw EVariantError(
        Format(SVarTypeConvertOverflow, Variant::TypeName(from).c_str(), Variant::TypeName(to).c_str()));
}

bool IsIntegerType(TVarType type) noexcept
{
    switch (type) {
    case varSmallint: case varInteger: case varShortInt: case varByte:
    case varWord: case varLongWord: case varInt64:
        return true;
    default:
        return false;
    }
}

bool IsFloatType(TVarType type) noexcept
{
    return type == varSingle || type == varDouble || type == varDate;
}

bool IsTextType(TVarType type) noexcept
{
    return type == varOleStr || type == varStrArg || type == varString;
}

// Codes with a numeric view: Empty (0), Boolean, integers, currency, floats, dates.
bool HasNumber(TVarType type) noexcept
{
    return type == varEmpty || type == varBoolean || type == varCurrency || IsIntegerType(type) ||
           IsFloatType(type);
}

// Rounds half to even; false for a value outside the int64 range or not finite.
bool RoundToInt64(double x, std::int64_t& out) noexcept
{
    if (!std::isfinite(x)) return false;
    const double low = std::floor(x);
    const double diff = x - low; // exact: below 2^52 x - floor(x) has no rounding
    double r = low;
    if (diff > 0.5 || (diff == 0.5 && std::fmod(low, 2.0) != 0.0)) r = low + 1.0;
    if (r < -9223372036854775808.0 || r >= 9223372036854775808.0) return false;
    out = static_cast<std::int64_t>(r);
    return true;
}

// A scaled currency value to a whole number, half to even.
std::int64_t RoundCurrency(std::int64_t scaled) noexcept
{
    std::int64_t q = scaled / kCurrencyScale;
    const std::int64_t r = scaled % kCurrencyScale; // same sign as scaled
    const std::int64_t half = kCurrencyScale / 2;
    const bool odd = q % 2 != 0;
    if (r > half || (r == half && odd)) ++q;
    else if (r < -half || (r == -half && odd)) --q;
    return q;
}

bool EqualsIgnoringLatinCase(std::string_view a, std::string_view b) noexcept
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// Reads 1..maxDigits ASCII digits at pos.
bool ReadField(std::string_view s, std::size_t& pos, std::size_t maxDigits, int& value) noexcept
{
    const std::size_t start = pos;
    int v = 0;
    while (pos < s.size() && pos - start < maxDigits && s[pos] >= '0' && s[pos] <= '9')
        v = v * 10 + (s[pos++] - '0');
    value = v;
    return pos > start;
}

bool Expect(std::string_view s, std::size_t& pos, char c) noexcept
{
    if (pos < s.size() && s[pos] == c) {
        ++pos;
        return true;
    }
    return false;
}

// "YYYY-MM-DD", optionally followed by "T" or a blank and "HH:MM:SS[.mmm]"
// (the form DateTimeToStr writes and the XML form). False when the text has
// another shape; a text of this shape with impossible fields raises the
// EConvertError of EncodeDate / EncodeTime.
bool ParseDateTimeText(std::string_view s, TDateTime& result)
{
    std::size_t pos = 0;
    int year, month, day;
    if (!ReadField(s, pos, 4, year) || !Expect(s, pos, '-') || !ReadField(s, pos, 2, month) ||
        !Expect(s, pos, '-') || !ReadField(s, pos, 2, day))
        return false;
    int hour = 0, min = 0, sec = 0, msec = 0;
    if (pos < s.size()) {
        if (s[pos] != 'T' && s[pos] != ' ') return false;
        ++pos;
        if (!ReadField(s, pos, 2, hour) || !Expect(s, pos, ':') || !ReadField(s, pos, 2, min) ||
            !Expect(s, pos, ':') || !ReadField(s, pos, 2, sec))
            return false;
        if (Expect(s, pos, '.')) {
            const std::size_t start = pos;
            if (!ReadField(s, pos, 3, msec)) return false;
            for (std::size_t k = pos - start; k < 3; ++k) msec *= 10;
        }
        if (pos != s.size()) return false;
    }
    result = EncodeDateTime(year, month, day, hour, min, sec, msec);
    return true;
}

// The numeric view of a non-text value: integer codes and Boolean as Int,
// currency as its scaled value, Single/Double/Date as a double.
struct Number {
    enum Kind { Int, Curr, Float } kind = Int;
    std::int64_t i = 0;
    double d = 0.0;
};

// The storage type is private to Variant; these helpers take it by deduction.
template <class Storage>
bool TryNumber(TVarType type, const Storage& value, Number& n) noexcept
{
    if (type == varEmpty) {
        n = Number{};
    } else if (type == varBoolean) {
        n = Number{Number::Int, std::get<bool>(value) ? -1 : 0, 0.0};
    } else if (IsIntegerType(type)) {
        n = Number{Number::Int, std::get<std::int64_t>(value), 0.0};
    } else if (type == varCurrency) {
        n = Number{Number::Curr, std::get<std::int64_t>(value), 0.0};
    } else if (IsFloatType(type)) {
        n = Number{Number::Float, 0, std::get<double>(value)};
    } else {
        return false;
    }
    return true;
}

double NumberToDouble(const Number& n) noexcept
{
    switch (n.kind) {
    case Number::Int: return static_cast<double>(n.i);
    case Number::Curr: return static_cast<double>(n.i) / static_cast<double>(kCurrencyScale);
    case Number::Float: break;
    }
    return n.d;
}

bool NumberToInt64(const Number& n, std::int64_t& out) noexcept
{
    switch (n.kind) {
    case Number::Int: out = n.i; return true;
    case Number::Curr: out = RoundCurrency(n.i); return true;
    case Number::Float: break;
    }
    return RoundToInt64(n.d, out);
}

bool NumberToCurrency(const Number& n, std::int64_t& out) noexcept
{
    switch (n.kind) {
    case Number::Int: return !__builtin_mul_overflow(n.i, kCurrencyScale, &out);
    case Number::Curr: out = n.i; return true;
    case Number::Float: break;
    }
    return RoundToInt64(n.d * static_cast<double>(kCurrencyScale), out);
}

bool NumbersEqual(const Number& a, const Number& b) noexcept
{
    if (a.kind == Number::Float || b.kind == Number::Float) {
        if (a.kind == Number::Int || b.kind == Number::Int) {
            // An integer against a float compares exactly, not through a
            // double that may have lost the integer's low digits.
            const std::int64_t i = a.kind == Number::Int ? a.i : b.i;
            const double d = a.kind == Number::Float ? a.d : b.d;
            std::int64_t rounded = 0;
            return std::trunc(d) == d && RoundToInt64(d, rounded) && rounded == i;
        }
        return NumberToDouble(a) == NumberToDouble(b);
    }
    if (a.kind == b.kind) return a.i == b.i;
    // Integer against currency.
    const __int128 ai = a.kind == Number::Curr ? __int128(a.i) : __int128(a.i) * kCurrencyScale;
    const __int128 bi = b.kind == Number::Curr ? __int128(b.i) : __int128(b.i) * kCurrencyScale;
    return ai == bi;
}

// A text as a number for a comparison: an integer when it is one, else a float.
Number TextToNumber(std::string_view text)
{
    std::int64_t i = 0;
    if (TryStrToInt64(text, i)) return Number{Number::Int, i, 0.0};
    return Number{Number::Float, 0, StrToFloat(text)};
}

bool TextToBoolean(std::string_view text)
{
    if (EqualsIgnoringLatinCase(text, "true")) return true;
    if (EqualsIgnoringLatinCase(text, "false")) return false;
    std::int64_t i = 0;
    if (TryStrToInt64(text, i)) return i != 0;
    double d = 0.0;
    if (TryStrToFloat(text, d)) return d != 0.0;
    throw EConvertError(Format(SInvalidBoolean, std::string(text).c_str()));
}

TDateTime TextToDateTime(std::string_view text)
{
    TDateTime result = 0.0;
    if (ParseDateTimeText(text, result)) return result;
    if (TryStrToFloat(text, result)) return result;
    throw EConvertError(Format(SInvalidDateTime, std::string(text).c_str()));
}

// Element types a variant array may have besides varVariant.
bool IsArrayElementType(TVarType type) noexcept
{
    return type == varVariant || IsIntegerType(type) || IsFloatType(type) || IsTextType(type) ||
           type == varCurrency || type == varBoolean;
}

} // namespace

// ---- array storage ------------------------------------------------------------

struct VarArrayBox::Data {
    int low = 0;
    std::vector<Variant> items;
};

VarArrayBox::VarArrayBox() : data_(std::make_unique<Data>()) {}
VarArrayBox::VarArrayBox(std::unique_ptr<Data> data) noexcept : data_(std::move(data)) {}
VarArrayBox::VarArrayBox(const VarArrayBox& other) : data_(std::make_unique<Data>(*other.data_)) {}
VarArrayBox::VarArrayBox(VarArrayBox&& other) noexcept : data_(std::move(other.data_)) {}
VarArrayBox& VarArrayBox::operator=(const VarArrayBox& other)
{
    if (this != &other) data_ = std::make_unique<Data>(*other.data_);
    return *this;
}
VarArrayBox& VarArrayBox::operator=(VarArrayBox&& other) noexcept
{
    data_ = std::move(other.data_);
    return *this;
}
VarArrayBox::~VarArrayBox() = default;

VarArrayBox::Data& VarArrayBox::Get() const noexcept
{
    // A moved-from box answers an empty array; its bounds keep every access
    // from writing to it.
    static Data empty;
    return data_ ? *data_ : empty;
}

// ---- construction -------------------------------------------------------------

Variant::Variant(bool value) : type_(varBoolean), value_(value) {}
Variant::Variant(std::int32_t value) : type_(varInteger), value_(std::int64_t{value}) {}
Variant::Variant(std::int64_t value) : type_(varInt64), value_(value) {}
Variant::Variant(double value) : type_(varDouble), value_(value) {}
Variant::Variant(Currency value) : type_(varCurrency), value_(value.scaled) {}
Variant::Variant(const char* utf8) : type_(varString), value_(std::string(utf8 ? utf8 : "")) {}
Variant::Variant(std::string utf8) : type_(varString), value_(std::move(utf8)) {}
Variant::Variant(std::string_view utf8) : type_(varString), value_(std::string(utf8)) {}
Variant::Variant(std::u16string text) : type_(varOleStr), value_(Utf16ToUtf8(text)) {}
Variant::Variant(ByteArray bytes) : type_(varByteArray), value_(std::move(bytes)) {}

Variant Variant::Null() { return Variant(varNull, std::monostate{}); }
Variant Variant::SmallInt(std::int16_t value) { return Variant(varSmallint, std::int64_t{value}); }
Variant Variant::ShortInt(std::int8_t value) { return Variant(varShortInt, std::int64_t{value}); }
Variant Variant::Byte(std::uint8_t value) { return Variant(varByte, std::int64_t{value}); }
Variant Variant::Word(std::uint16_t value) { return Variant(varWord, std::int64_t{value}); }
Variant Variant::LongWord(std::uint32_t value) { return Variant(varLongWord, std::int64_t{value}); }
Variant Variant::Single(float value) { return Variant(varSingle, double{value}); }
Variant Variant::DateTime(double days) { return Variant(varDate, days); }
Variant Variant::OleStr(std::string_view utf8) { return Variant(varOleStr, std::string(utf8)); }
Variant Variant::StrArg(std::string_view utf8) { return Variant(varStrArg, std::string(utf8)); }
Variant Variant::Error(std::int32_t code) { return Variant(varError, std::int64_t{code}); }

Variant Variant::Array(int low, int high, TVarType elementType)
{
    const std::int64_t count = std::int64_t{high} - low + 1;
    if (count < 0) throw EVariantError(SVarArrayCreate);
    if (elementType == varByte) {
        // Byte arrays start at 0: that is the one shape the program stores.
        if (low != 0) throw EVariantError(SVarArrayCreate);
        return Variant(ByteArray(static_cast<std::size_t>(count), 0));
    }
    if (!IsArrayElementType(elementType)) throw EVariantError(SVarArrayCreate);
    auto data = std::make_unique<VarArrayBox::Data>();
    data->low = low;
    const Variant initial = elementType == varVariant ? Variant() : Variant().CastTo(elementType);
    data->items.assign(static_cast<std::size_t>(count), initial);
    return Variant(static_cast<TVarType>(varArray | elementType), VarArrayBox(std::move(data)));
}

int Variant::ArrayLowBound() const
{
    if (!IsArray()) throw EVariantError(SInvalidArgument);
    if (IsByteArray()) return 0;
    return std::get<VarArrayBox>(value_).Get().low;
}

int Variant::ArrayHighBound() const
{
    if (!IsArray()) throw EVariantError(SInvalidArgument);
    if (IsByteArray()) return static_cast<int>(std::get<ByteArray>(value_).size()) - 1;
    const VarArrayBox::Data& data = std::get<VarArrayBox>(value_).Get();
    return static_cast<int>(data.low + static_cast<std::int64_t>(data.items.size()) - 1);
}

Variant Variant::GetElement(int index) const
{
    const std::int64_t at = std::int64_t{index} - ArrayLowBound();
    if (at < 0 || at > std::int64_t{ArrayHighBound()} - ArrayLowBound()) throw EVariantError(SVarArrayBounds);
    if (IsByteArray()) return Byte(std::get<ByteArray>(value_)[static_cast<std::size_t>(at)]);
    return std::get<VarArrayBox>(value_).Get().items[static_cast<std::size_t>(at)];
}

void Variant::PutElement(int index, const Variant& value)
{
    const std::int64_t at = std::int64_t{index} - ArrayLowBound();
    if (at < 0 || at > std::int64_t{ArrayHighBound()} - ArrayLowBound()) throw EVariantError(SVarArrayBounds);
    const TVarType elementType = type_ & ~varArray;
    if (IsByteArray()) {
        const Variant byte = value.CastTo(varByte);
        std::get<ByteArray>(value_)[static_cast<std::size_t>(at)] =
            static_cast<std::uint8_t>(std::get<std::int64_t>(byte.value_));
        return;
    }
    // Converted before anything is stored, so a failure leaves the array as it was.
    Variant stored = elementType == varVariant ? value : value.CastTo(elementType);
    std::get<VarArrayBox>(value_).Get().items[static_cast<std::size_t>(at)] = std::move(stored);
}

bool Variant::IsNumeric() const noexcept
{
    return IsIntegerType(type_) || type_ == varSingle || type_ == varDouble || type_ == varCurrency;
}

bool Variant::IsString() const noexcept { return IsTextType(type_); }

void Variant::CastError(TVarType to) const { ThrowCastError(type_, to); }

// ---- conversions --------------------------------------------------------------

bool Variant::AsBoolean() const
{
    if (IsTextType(type_)) return TextToBoolean(std::get<std::string>(value_));
    if (type_ == varBoolean) return std::get<bool>(value_);
    Number n;
    if (!TryNumber(type_, value_, n)) CastError(varBoolean);
    return n.kind == Number::Float ? n.d != 0.0 : n.i != 0;
}

std::int32_t Variant::AsInteger() const
{
    if (IsTextType(type_)) return StrToInt(std::get<std::string>(value_));
    Number n;
    if (!TryNumber(type_, value_, n)) CastError(varInteger);
    std::int64_t v = 0;
    if (!NumberToInt64(n, v) || v < std::numeric_limits<std::int32_t>::min() ||
        v > std::numeric_limits<std::int32_t>::max())
        ThrowOverflow(type_, varInteger);
    return static_cast<std::int32_t>(v);
}

std::int64_t Variant::AsInt64() const
{
    if (IsTextType(type_)) return StrToInt64(std::get<std::string>(value_));
    Number n;
    if (!TryNumber(type_, value_, n)) CastError(varInt64);
    std::int64_t v = 0;
    if (!NumberToInt64(n, v)) ThrowOverflow(type_, varInt64);
    return v;
}

double Variant::AsDouble() const
{
    if (IsTextType(type_)) return StrToFloat(std::get<std::string>(value_));
    Number n;
    if (!TryNumber(type_, value_, n)) CastError(varDouble);
    return NumberToDouble(n);
}

Currency Variant::AsCurrency() const
{
    Number n;
    if (IsTextType(type_)) n = Number{Number::Float, 0, StrToFloat(std::get<std::string>(value_))};
    else if (!TryNumber(type_, value_, n)) CastError(varCurrency);
    Currency c;
    if (!NumberToCurrency(n, c.scaled)) ThrowOverflow(type_, varCurrency);
    return c;
}

double Variant::AsDateTime() const
{
    if (IsTextType(type_)) return TextToDateTime(std::get<std::string>(value_));
    Number n;
    if (!TryNumber(type_, value_, n)) CastError(varDate);
    return NumberToDouble(n);
}

std::string Variant::AsString() const
{
    switch (type_) {
    case varEmpty: return std::string();
    case varBoolean: return std::get<bool>(value_) ? STrue : SFalse;
    case varCurrency: return CurrToStr(std::get<std::int64_t>(value_));
    case varSingle:
    case varDouble: return FloatToStr(std::get<double>(value_));
    case varDate: return DateTimeToStr(std::get<double>(value_));
    default: break;
    }
    if (IsIntegerType(type_)) return IntToStr(std::get<std::int64_t>(value_));
    if (IsTextType(type_)) return std::get<std::string>(value_);
    CastError(varString);
}

std::u16string Variant::AsWideString() const
{
    if (IsTextType(type_)) return Utf8ToUtf16(std::get<std::string>(value_));
    if (type_ == varNull || type_ == varError || type_ == varByteArray) CastError(varOleStr);
    return Utf8ToUtf16(AsString());
}

const ByteArray& Variant::AsBytes() const
{
    if (type_ != varByteArray) CastError(varByteArray);
    return std::get<ByteArray>(value_);
}

Variant Variant::CastTo(TVarType type) const
{
    if (type == type_) return *this;
    // The integer targets narrower than 64 bits: through Int64 (or, for
    // Integer, AsInteger itself), then the range of the target.
    const auto ranged = [this, type](std::int64_t low, std::int64_t high) {
        if (IsTextType(type_)) {
            const std::int64_t v = StrToInt64(std::get<std::string>(value_));
            if (v < low || v > high) ThrowOverflow(type_, type);
            return v;
        }
        Number n;
        if (!TryNumber(type_, value_, n)) CastError(type);
        std::int64_t v = 0;
        if (!NumberToInt64(n, v) || v < low || v > high) ThrowOverflow(type_, type);
        return v;
    };
    switch (type) {
    case varEmpty: return Variant();
    case varNull: return Null();
    case varSmallint: return SmallInt(static_cast<std::int16_t>(ranged(INT16_MIN, INT16_MAX)));
    case varInteger: return Variant(AsInteger());
    case varShortInt: return ShortInt(static_cast<std::int8_t>(ranged(INT8_MIN, INT8_MAX)));
    case varByte: return Byte(static_cast<std::uint8_t>(ranged(0, UINT8_MAX)));
    case varWord: return Word(static_cast<std::uint16_t>(ranged(0, UINT16_MAX)));
    case varLongWord: return LongWord(static_cast<std::uint32_t>(ranged(0, UINT32_MAX)));
    case varInt64: return Variant(AsInt64());
    case varSingle: {
        if (!IsTextType(type_) && !HasNumber(type_)) CastError(varSingle);
        const double d = AsDouble();
        if (std::isfinite(d) && std::fabs(d) > std::numeric_limits<float>::max()) ThrowOverflow(type_, varSingle);
        return Single(static_cast<float>(d));
    }
    case varDouble: return Variant(AsDouble());
    case varCurrency: return Variant(AsCurrency());
    case varDate: return DateTime(AsDateTime());
    case varBoolean: return Variant(AsBoolean());
    case varOleStr:
    case varStrArg:
    case varString:
        if (!IsTextType(type_) && !HasNumber(type_)) CastError(type);
        return Variant(type, AsString());
    default: break;
    }
    // varError and byte arrays come only from themselves; other codes are not
    // values this layer holds.
    CastError(type);
}

bool Variant::Equals(const Variant& other) const
{
    if (IsClear() || other.IsClear()) return type_ == other.type_;
    const bool thisText = IsString();
    const bool otherText = other.IsString();
    if (thisText && otherText) return std::get<std::string>(value_) == std::get<std::string>(other.value_);
    // Arrays, byte arrays and error codes are comparable only with their own
    // kind; arrays element by element.
    if ((IsArray() && !IsByteArray()) || (other.IsArray() && !other.IsByteArray())) {
        if (type_ != other.type_) return false;
        const VarArrayBox::Data& a = std::get<VarArrayBox>(value_).Get();
        const VarArrayBox::Data& b = std::get<VarArrayBox>(other.value_).Get();
        if (a.low != b.low || a.items.size() != b.items.size()) return false;
        for (std::size_t i = 0; i < a.items.size(); ++i)
            if (!a.items[i].Equals(b.items[i])) return false;
        return true;
    }
    if (IsByteArray() || other.IsByteArray())
        return IsByteArray() && other.IsByteArray() &&
               std::get<ByteArray>(value_) == std::get<ByteArray>(other.value_);
    if (type_ == varError || other.type_ == varError)
        return type_ == other.type_ && std::get<std::int64_t>(value_) == std::get<std::int64_t>(other.value_);
    if (thisText || otherText) {
        // Text against a number, a Boolean or a date: the text is converted
        // to the other side's kind (and raises when it is not one).
        const Variant& text = thisText ? *this : other;
        const Variant& value = thisText ? other : *this;
        const std::string& s = std::get<std::string>(text.value_);
        if (value.type_ == varBoolean) return TextToBoolean(s) == std::get<bool>(value.value_);
        Number v;
        TryNumber(value.type_, value.value_, v);
        const Number t = value.type_ == varDate ? Number{Number::Float, 0, TextToDateTime(s)} : TextToNumber(s);
        return NumbersEqual(t, v);
    }
    Number a, b;
    TryNumber(type_, value_, a);
    TryNumber(other.type_, other.value_, b);
    return NumbersEqual(a, b);
}

std::string Variant::TypeName(TVarType type)
{
    static constexpr const char* kNames[] = {
        "Empty", "Null", "SmallInt", "Integer", "Single", "Double", "Currency", "Date",
        "OleStr", "Dispatch", "Error", "Boolean", "Variant", "Unknown", "Decimal", "$000F",
        "ShortInt", "Byte", "Word", "LongWord", "Int64", "UInt64"};
    const TVarType base = type & kTypeMask;
    std::string name;
    if (base < std::size(kNames)) name = kNames[base];
    else if (base == varStrArg) name = "StrArg";
    else if (base == varString) name = "String";
    else if (base == 0x101) name = "Any";
    else if (base == 0x102) name = "UnicodeString";
    else name = "$" + IntToHex(static_cast<std::uint32_t>(base), 4);
    if (type & varArray) name = "Array " + name;
    if (type & kByRef) name = "ByRef " + name;
    return name;
}

std::string VarToStr(const Variant& v)
{
    return v.IsClear() ? std::string() : v.AsString();
}

Variant VarArrayOf(std::initializer_list<Variant> values)
{
    return VarArrayOf(std::vector<Variant>(values));
}

Variant VarArrayOf(const std::vector<Variant>& values)
{
    Variant result = Variant::Array(0, static_cast<int>(values.size()) - 1, varVariant);
    for (std::size_t i = 0; i < values.size(); ++i) result.PutElement(static_cast<int>(i), values[i]);
    return result;
}

} // namespace rtl
