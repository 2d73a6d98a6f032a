// Object identifiers of a Velmo database and the collections built on them.
//
// A BinID is a 48-bit value in a signed 64-bit integer: the 16-bit group in
// bits 32-47 and the 32-bit number in bits 0-31; 0 means "no identifier".
// Its text form is 12 upper-case hexadecimal digits (4 for the group, 8 for
// the number); parsing accepts lower case too and yields 0 for anything else.
// TBinIDList is a growable list of identifiers that can be sorted and then
// searched by binary search. TIDMapList is an old-to-new identifier map that
// is filled between BeginUpdate and EndUpdate (searched linearly meanwhile)
// and sorted once, at the outermost EndUpdate, for binary search afterwards.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

using BinID = std::int64_t;

// The two halves of a BinID.
struct TBinIDRec {
    std::uint16_t Group = 0;
    std::uint32_t Number = 0;
};

// ((group AND 0xFFFF) << 32) OR number; higher bits of group are dropped.
BinID MakeBinID(std::int32_t group, std::uint32_t number) noexcept;
// Group from bits 32-47, Number from bits 0-31; bits 48-63 are ignored.
TBinIDRec SplitBinID(BinID id) noexcept;
// The identifier of a 12-digit hexadecimal text, 0 for any other text.
BinID StrToBinID(std::string_view text) noexcept;
// Always 12 upper-case hexadecimal digits.
std::string BinIDToStr(BinID id);
// (value(high) << 4) OR value(low) as a byte; sets error when either is not a
// hexadecimal digit and leaves it untouched otherwise.
std::uint8_t HexPairToByte(char high, char low, bool& error) noexcept;

// A list of identifiers; the vector's length is the capacity and the items
// past Count are 0.
class TBinIDList {
public:
    // Drops every item and the capacity; Sorted is left as it was.
    void Clear() noexcept;
    // Appends (duplicates allowed); the list is unsorted afterwards.
    void Add(BinID id);
    // Sorts the first Count items; Sorted becomes true only when there are any.
    void Sort() noexcept;
    // Position of id among the first Count items, -1 when absent: a linear
    // scan (first match) while unsorted, a lower-bound search once sorted.
    int IndexOf(BinID id) const noexcept;

    int Count() const noexcept { return count_; }
    bool Sorted() const noexcept { return sorted_; }
    const std::vector<BinID>& Items() const noexcept { return items_; }

private:
    bool sorted_ = false;
    std::vector<BinID> items_;
    int count_ = 0;
};

struct TIDMapItem {
    BinID OldID = 0;
    BinID NewID = 0;
};

// Old-to-new identifier map. Closed (UpdateCount 0): exactly the stored
// pairs, sorted by OldID. Open: pairs in call order after the stored ones,
// followed by reserved room.
class TIDMapList {
public:
    // Opens (or nests) an update, reserves max(extra, 0) more pairs and sets
    // the growth step to max(growBy, 1).
    void BeginUpdate(int extra, int growBy);
    // Stores the pair (unless skipIdentical and both are equal) and returns
    // newID. Outside an update it is an assertion failure and stores nothing.
    BinID AddMapping(BinID oldID, BinID newID, bool skipIdentical);
    // Both texts through StrToBinID, then AddMapping; returns newText as given.
    std::string AddMappingStr(const std::string& oldText, const std::string& newText, bool skipIdentical);
    // Closes one level; the outermost close drops the unused room and sorts.
    // Without an open update it is an assertion failure and changes nothing.
    void EndUpdate();
    // The NewID stored for id, or id itself.
    BinID MapID(BinID id) const noexcept;

    // Pairs stored, plus the reserved room while an update is open.
    int Count() const noexcept { return static_cast<int>(items_.size()); }
    // Copies pair index (0..Count-1; anything else is an assertion failure).
    void GetItem(int index, TIDMapItem& item) const;
    int UpdateCount() const noexcept { return updateCount_; }
    int GrowBy() const noexcept { return growBy_; }

private:
    std::vector<TIDMapItem> items_;
    int growBy_ = 0;
    int count_ = 0;        // pairs in use while an update is open
    int updateCount_ = 0;
};
