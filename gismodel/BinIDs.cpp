// Object identifiers: the codec (build, split, text form), the identifier list
// and the old-to-new map, with the one quicksort and lower-bound search both
// collections use.
#include "gismodel/BinIDs.h"

#include <array>
#include <cstddef>
#include <utility>

#include "platform/rtl/Exceptions.h"

namespace {

const char* const SModificationForbidden = "Модификация запрещена";
const char* const SMapIndexOutOfRange = "Map index out of range";

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr std::uint8_t kNoDigit = 255;

// Digit values by character code: 0..15 for 0-9, A-F, a-f, 255 otherwise.
constexpr std::array<std::uint8_t, 256> kDigitValues = [] {
    std::array<std::uint8_t, 256> table{};
    for (auto& v : table) v = kNoDigit;
    for (int c = '0'; c <= '9'; ++c) table[c] = static_cast<std::uint8_t>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c) table[c] = static_cast<std::uint8_t>(c - 'A' + 10);
    for (int c = 'a'; c <= 'f'; ++c) table[c] = static_cast<std::uint8_t>(c - 'a' + 10);
    return table;
}();

BinID KeyOf(BinID id) noexcept { return id; }
BinID KeyOf(const TIDMapItem& item) noexcept { return item.OldID; }

// Quicksort over [lo, hi] by key: Hoare partitioning around the middle item.
// The smaller side is sorted by recursion and the larger one by the loop, so
// the depth stays logarithmic whatever the input.
template <class T>
void QuickSort(T* items, std::ptrdiff_t lo, std::ptrdiff_t hi) noexcept
{
    while (lo < hi) {
        std::ptrdiff_t i = lo;
        std::ptrdiff_t j = hi;
        const BinID pivot = KeyOf(items[lo + (hi - lo) / 2]);
        do {
            while (KeyOf(items[i]) < pivot) ++i;
            while (KeyOf(items[j]) > pivot) --j;
            if (i <= j) {
                std::swap(items[i], items[j]);
                ++i;
                --j;
            }
        } while (i <= j);
        if (j - lo < hi - i) {
            if (lo < j) QuickSort(items, lo, j);
            lo = i;
        } else {
            if (i < hi) QuickSort(items, i, hi);
            hi = j;
        }
    }
}

// Index of the first of the count items whose key is id, -1 when none; the
// items are sorted by key.
template <class T>
int LowerBoundIndex(const T* items, int count, BinID id) noexcept
{
    if (count <= 0) return -1;
    int lo = 0;
    int hi = count - 1;
    while (hi > lo) {
        const int mid = lo + (hi - lo) / 2;
        if (KeyOf(items[mid]) < id)
            lo = mid + 1;
        else
            hi = mid;
    }
    return KeyOf(items[hi]) == id ? hi : -1;
}

} // namespace

// ---- codec --------------------------------------------------------------------

BinID MakeBinID(std::int32_t group, std::uint32_t number) noexcept
{
    const std::uint64_t g = static_cast<std::uint32_t>(group) & 0xFFFFu;
    return static_cast<BinID>((g << 32) | number);
}

TBinIDRec SplitBinID(BinID id) noexcept
{
    const auto bits = static_cast<std::uint64_t>(id);
    return TBinIDRec{static_cast<std::uint16_t>(bits >> 32), static_cast<std::uint32_t>(bits)};
}

std::uint8_t HexPairToByte(char high, char low, bool& error) noexcept
{
    const std::uint8_t h = kDigitValues[static_cast<unsigned char>(high)];
    const std::uint8_t l = kDigitValues[static_cast<unsigned char>(low)];
    if (h == kNoDigit || l == kNoDigit) error = true;
    return static_cast<std::uint8_t>((h << 4) | l);
}

BinID StrToBinID(std::string_view text) noexcept
{
    if (text.size() != 12) return 0;
    bool error = false;
    std::uint8_t bytes[6];
    for (std::size_t i = 0; i < 6; ++i) bytes[i] = HexPairToByte(text[2 * i], text[2 * i + 1], error);
    if (error) return 0;
    const auto group = static_cast<std::int32_t>((bytes[0] << 8) | bytes[1]);
    const std::uint32_t number = (std::uint32_t{bytes[2]} << 24) | (std::uint32_t{bytes[3]} << 16) |
                                 (std::uint32_t{bytes[4]} << 8) | std::uint32_t{bytes[5]};
    return MakeBinID(group, number);
}

std::string BinIDToStr(BinID id)
{
    const TBinIDRec rec = SplitBinID(id);
    std::string text(12, '0');
    for (int i = 0; i < 4; ++i) text[i] = kHexDigits[(rec.Group >> (12 - 4 * i)) & 0xF];
    for (int i = 0; i < 8; ++i) text[4 + i] = kHexDigits[(rec.Number >> (28 - 4 * i)) & 0xF];
    return text;
}

// ---- TBinIDList -----------------------------------------------------------

void TBinIDList::Clear() noexcept
{
    items_.clear();
    items_.shrink_to_fit();
    count_ = 0;
}

void TBinIDList::Add(BinID id)
{
    if (items_.size() <= static_cast<std::size_t>(count_))
        items_.resize(2 * (items_.empty() ? std::size_t{1} : items_.size()), 0);
    items_[count_] = id;
    ++count_;
    sorted_ = false;
}

void TBinIDList::Sort() noexcept
{
    if (count_ <= 0) return;
    QuickSort(items_.data(), 0, count_ - 1);
    sorted_ = true;
}

int TBinIDList::IndexOf(BinID id) const noexcept
{
    if (sorted_) return LowerBoundIndex(items_.data(), count_, id);
    for (int i = 0; i < count_; ++i) {
        if (items_[i] == id) return i;
    }
    return -1;
}

// ---- TIDMapList -----------------------------------------------------------

void TIDMapList::BeginUpdate(int extra, int growBy)
{
    if (updateCount_ == 0) count_ = Count();
    ++updateCount_;
    if (extra > 0) items_.resize(items_.size() + static_cast<std::size_t>(extra));
    growBy_ = growBy > 1 ? growBy : 1;
}

BinID TIDMapList::AddMapping(BinID oldID, BinID newID, bool skipIdentical)
{
    RTL_ASSERT(updateCount_ >= 1, rtl::SAssertionFailed);
    if (updateCount_ < 1) throw rtl::Exception(SModificationForbidden);
    if (skipIdentical && oldID == newID) return newID;
    if (items_.size() <= static_cast<std::size_t>(count_))
        items_.resize(items_.size() + static_cast<std::size_t>(growBy_));
    items_[count_] = TIDMapItem{oldID, newID};
    ++count_;
    return newID;
}

std::string TIDMapList::AddMappingStr(const std::string& oldText, const std::string& newText,
                                      bool skipIdentical)
{
    AddMapping(StrToBinID(oldText), StrToBinID(newText), skipIdentical);
    return newText;
}

void TIDMapList::EndUpdate()
{
    // Checked before the level is dropped, so that an unmatched call leaves
    // the map as it was.
    RTL_ASSERT(updateCount_ >= 1, rtl::SAssertionFailed);
    --updateCount_;
    if (updateCount_ != 0) return;
    items_.resize(static_cast<std::size_t>(count_));
    items_.shrink_to_fit();
    if (!items_.empty()) QuickSort(items_.data(), 0, static_cast<std::ptrdiff_t>(items_.size()) - 1);
}

BinID TIDMapList::MapID(BinID id) const noexcept
{
    if (updateCount_ != 0) {
        for (int i = 0; i < count_; ++i) {
            if (items_[i].OldID == id) return items_[i].NewID;
        }
        return id;
    }
    const int index = LowerBoundIndex(items_.data(), Count(), id);
    return index >= 0 ? items_[index].NewID : id;
}

void TIDMapList::GetItem(int index, TIDMapItem& item) const
{
    RTL_ASSERT(index >= 0 && index < Count(), SMapIndexOutOfRange);
    item = items_[index];
}
