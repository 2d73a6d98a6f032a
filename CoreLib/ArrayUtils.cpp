// TStrArray: counted string array, split at a separator and joined back.
#include "CoreLib/ArrayUtils.h"

#include <algorithm>

#include "CoreLib/AClasses.h"
#include "CoreLib/XLists.h"
#include "platform/rtl/Cp1251.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"

namespace {

// Texts of this unit.
constexpr const char* SInvalidFormat = "Format '%s' invalid or incompatible with argument";
constexpr const char* SNegativeCapacity = "Negative capacity (TStrArray.Init)";

bool IsDigit(char c) noexcept
{
    return c >= '0' && c <= '9';
}

// The first count characters of a UTF-8 text.
std::string_view CharPrefix(std::string_view text, std::size_t count)
{
    std::size_t pos = 0;
    for (std::size_t i = 0; i < count && pos < text.size(); ++i) rtl::NextUtf8(text, pos);
    return text.substr(0, pos);
}

// Puts item into format: "%[-][width][.precision]s" once, "%%" any number of
// times; width and precision count characters.
std::string FormatItem(std::string_view format, std::string_view item)
{
    const auto invalid = [&] { return rtl::EConvertError(rtl::Format(SInvalidFormat, std::string(format).c_str())); };
    std::string out;
    bool used = false;
    std::size_t i = 0;
    while (i < format.size()) {
        const char c = format[i++];
        if (c != '%') {
            out.push_back(c);
            continue;
        }
        if (i < format.size() && format[i] == '%') {
            out.push_back('%');
            ++i;
            continue;
        }
        const bool left = i < format.size() && format[i] == '-';
        if (left) ++i;
        std::size_t width = 0;
        while (i < format.size() && IsDigit(format[i])) {
            width = width * 10 + static_cast<std::size_t>(format[i++] - '0');
            if (width > 0xFFFF) throw invalid();
        }
        bool hasPrecision = false;
        std::size_t precision = 0;
        if (i < format.size() && format[i] == '.') {
            hasPrecision = true;
            ++i;
            while (i < format.size() && IsDigit(format[i])) {
                precision = precision * 10 + static_cast<std::size_t>(format[i++] - '0');
                if (precision > 0xFFFF) throw invalid();
            }
        }
        if (i >= format.size() || (format[i] != 's' && format[i] != 'S') || used) throw invalid();
        ++i;
        used = true;
        const std::string_view text = hasPrecision ? CharPrefix(item, precision) : item;
        const std::size_t length = rtl::Utf8Length(text);
        const std::string pad(width > length ? width - length : 0, ' ');
        if (!left) out += pad;
        out.append(text);
        if (left) out += pad;
    }
    return out;
}

} // namespace

void TStrArray::Init(int capacity)
{
    if (capacity < 0) throw rtl::EListError(SNegativeCapacity);
    std::vector<std::string> items(static_cast<std::size_t>(capacity));
    items_.swap(items);
    count_ = 0;
}

int TStrArray::Add(std::string s)
{
    if (Capacity() <= count_) items_.resize(static_cast<std::size_t>(2 * std::max(1, Capacity())));
    items_[static_cast<std::size_t>(count_)] = std::move(s);
    return count_++;
}

void TStrArray::Assign(const TStrArray& source)
{
    if (&source == this) {
        items_.resize(static_cast<std::size_t>(count_));
        return;
    }
    std::vector<std::string> items(source.items_.begin(), source.items_.begin() + source.count_);
    items_.swap(items);
    count_ = source.count_;
}

const std::string& TStrArray::Get(int index) const
{
    CheckListIndex(index, count_);
    return items_[static_cast<std::size_t>(index)];
}

void TStrArray::Split(std::string_view text, std::string_view separator)
{
    TStrArray result;
    result.Init(0);
    if (!text.empty()) {
        while (true) {
            const std::size_t pos = separator.empty() ? std::string_view::npos : text.find(separator);
            if (pos == std::string_view::npos) {
                result.Add(std::string(text));
                break;
            }
            result.Add(std::string(text.substr(0, pos)));
            text.remove_prefix(pos + separator.size());
        }
    }
    *this = std::move(result);
}

std::string TStrArray::Join(std::string_view separator, std::string_view format) const
{
    return JoinRange(0, count_, separator, format);
}

std::string TStrArray::JoinRange(int start, int n, std::string_view separator, std::string_view format) const
{
    if (start < 0) start = 0;
    if (n < 1 || start >= count_) return {};
    const int end = n > count_ - start ? count_ : start + n;
    TStringBuilder builder;
    for (int i = start; i < end; ++i) {
        if (i > start) builder.Append(separator);
        const std::string& item = items_[static_cast<std::size_t>(i)];
        if (format.empty())
            builder.Append(item);
        else
            builder.Append(FormatItem(format, item));
    }
    return builder.ToString();
}
