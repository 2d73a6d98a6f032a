// Containers of the core library: TRecArray, a growable array of fixed-size
// records kept as raw bytes, and TObjectList, a list that owns its objects.
//
// TRecArray copies its records with block moves and never runs constructors
// or destructors on them, so it holds trivially copyable records only. Its
// capacity rules are exact: SetCapacity allocates just what is asked, only
// Add applies the growth step (4 up to capacity 8, 16 up to 64, then a
// quarter), and InsertRecs grows to exactly Count + N. A source that lies
// inside the array itself is copied aside first, so it stays valid across a
// reallocation or the move that opens the gap. A failing operation leaves the
// array unchanged.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/NumText.h"

// The text of a list index outside the list: "List index out of bounds (%d)".
std::string ListIndexErrorText(int index);
// rtl::EListError with that text.
[[noreturn]] void RaiseListIndexError(int index);
// Raises it when index is outside 0..count - 1.
inline void CheckListIndex(int index, int count)
{
    if (index < 0 || index >= count) RaiseListIndexError(index);
}

class ERecArray : public rtl::Exception {
    using rtl::Exception::Exception;
};

class TRecArray {
public:
    // An array that must be given its record size by Init before use.
    TRecArray() noexcept = default;
    explicit TRecArray(int recSize);
    TRecArray(const TRecArray&) = delete;
    TRecArray& operator=(const TRecArray&) = delete;
    TRecArray(TRecArray&& other) noexcept;
    TRecArray& operator=(TRecArray&& other) noexcept;
    ~TRecArray() = default;

    // Frees the storage and sets the record size (at least 1).
    void Init(int recSize);
    // Storage freed; Capacity and Count 0.
    void Clear() noexcept;
    // n is raised to Count when smaller; when it differs from Capacity a
    // block of n records (none when n < 1) replaces the old one, keeping the
    // records in use.
    void SetCapacity(int n);
    // SetCapacity(Capacity + delta): delta is Capacity div 4 above 64, 16
    // above 8, else 4.
    void Grow();
    // Inserts n records from source at index (0..Count, else ERecArray);
    // the capacity becomes exactly Count + n when that is needed.
    void InsertRecs(int index, const void* source, int n);
    // InsertRecs at Count.
    void AddRecs(const void* source, int n);
    // Grow when full, then AddRecs of one record.
    void Add(const void* source);
    // Address of record index, 0..Count - 1 (ERecArray otherwise).
    void* GetPtr(int index);
    const void* GetPtr(int index) const;
    // The records of source (record sizes must be equal, else ERecArray);
    // the capacity is raised to the source's Count when smaller.
    void Assign(const TRecArray& source);
    // Sets Count within 0..Capacity, keeping the storage (an assertion
    // otherwise).
    void SetCount(int n);

    void* Data() noexcept { return data_.get(); }
    const void* Data() const noexcept { return data_.get(); }
    int RecSize() const noexcept { return recSize_; }
    int Capacity() const noexcept { return capacity_; }
    int Count() const noexcept { return count_; }

private:
    std::size_t Bytes(int records) const noexcept;
    bool Contains(const void* p) const noexcept;

    std::unique_ptr<std::byte[]> data_;
    int recSize_ = 0;
    int capacity_ = 0;
    int count_ = 0;
};

// A list that owns its objects. Clear (and the destructor) frees the items
// from the last to the first: each is taken out of the list and, when it is
// not nullptr, handed to BeforeFreeItem and then to FreeItem. Delete frees
// its item the same way; Extract hands the item to the caller instead. The
// destructor runs only this class's BeforeFreeItem and FreeItem: a derived
// class that overrides them calls Clear in its own destructor.
template <class T>
class TObjectList {
public:
    TObjectList() = default;
    virtual ~TObjectList()
    {
        try {
            Clear();
        } catch (...) {
        }
    }
    TObjectList(const TObjectList&) = delete;
    TObjectList& operator=(const TObjectList&) = delete;

    int Add(std::unique_ptr<T> item)
    {
        items_.push_back(std::move(item));
        return Count() - 1;
    }
    void Delete(int index)
    {
        std::unique_ptr<T> item = Extract(index);
        if (item) Discard(std::move(item));
    }
    std::unique_ptr<T> Extract(int index)
    {
        CheckIndex(index);
        const auto it = items_.begin() + index;
        std::unique_ptr<T> item = std::move(*it);
        items_.erase(it);
        return item;
    }
    virtual void Clear()
    {
        while (!items_.empty()) {
            std::unique_ptr<T> item = std::move(items_.back());
            items_.pop_back();
            if (item) Discard(std::move(item));
        }
        items_.shrink_to_fit();
    }

    int Count() const noexcept { return static_cast<int>(items_.size()); }
    T* Get(int index) const
    {
        CheckIndex(index);
        return items_[static_cast<std::size_t>(index)].get();
    }
    int IndexOf(const T* item) const noexcept
    {
        for (std::size_t i = 0; i < items_.size(); ++i)
            if (items_[i].get() == item) return static_cast<int>(i);
        return -1;
    }

protected:
    // Called for each item that is freed, before it is freed.
    virtual void BeforeFreeItem(T& item) { (void)item; }
    // Frees the item.
    virtual void FreeItem(std::unique_ptr<T> item) { item.reset(); }

private:
    void Discard(std::unique_ptr<T> item)
    {
        BeforeFreeItem(*item);
        FreeItem(std::move(item));
    }
    void CheckIndex(int index) const
    {
        CheckListIndex(index, Count());
    }

    std::vector<std::unique_ptr<T>> items_;
};
