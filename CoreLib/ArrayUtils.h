// TStrArray: a counted array of strings with split and join, used for lists
// kept as one separated text (the display fields of a reference book).
//
// The item array may be longer than Count; Add doubles it when full. Texts
// are UTF-8.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class TStrArray {
public:
    TStrArray() = default;

    // Count 0 and room for capacity items (capacity must not be negative).
    void Init(int capacity);
    // Stores s at Count and returns its index. When the array is full its
    // length becomes twice the larger of 1 and the old length (0 -> 2, 1 -> 2,
    // 2 -> 4, 4 -> 8).
    int Add(std::string s);
    // Count and array length become the source's Count; the strings copied.
    void Assign(const TStrArray& source);

    int Count() const noexcept { return count_; }
    // Length of the item array.
    int Capacity() const noexcept { return static_cast<int>(items_.size()); }
    // The string at index, 0..Count - 1 (rtl::EListError otherwise).
    const std::string& Get(int index) const;

    // Replaces the items by the pieces of text between occurrences of
    // separator (compared exactly): "a;;b;" at ";" gives "a", "", "b", "".
    // An empty text gives no items; an empty separator one item, the text.
    void Split(std::string_view text, std::string_view separator);
    // All items joined with separator between them. When format is not
    // empty each item is first put into it: "%s" stands for the item (with
    // optional "-", width and precision, in characters), "%%" for "%".
    // Another conversion, or a second "%s", raises rtl::EConvertError.
    std::string Join(std::string_view separator, std::string_view format = {}) const;
    // The items start to min(Count, start + n) - 1 joined the same way; start
    // below 0 counts as 0; empty when n < 1 or start >= Count.
    std::string JoinRange(int start, int n, std::string_view separator,
                          std::string_view format = {}) const;

private:
    int count_ = 0;
    std::vector<std::string> items_;
};
