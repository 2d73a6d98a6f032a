// TRecArray: a growable array of fixed-size records kept as raw bytes.
#include "CoreLib/XLists.h"

#include <cstdint>
#include <cstring>
#include <limits>

#include "platform/rtl/Format.h"

namespace {

// Texts of this unit.
constexpr const char* SAssignRecSize = "Не совпадает размер элемента (TRecArray.Assign)";
constexpr const char* SInsertRecsIndex = "Индекс массива выходит за пределы (TRecArray.InsertRecs)";
constexpr const char* SGetPtrIndex = "Индекс массива выходит за пределы (TRecArray.GetPtr)";
constexpr const char* STooManyRecords = "Too many records (TRecArray)";
constexpr const char* SBadRecSize = "Invalid record size (TRecArray.Init)";
constexpr const char* SNoRecSize = "Record size not set (TRecArray)";
constexpr const char* SNilSource = "Source is nil (TRecArray.InsertRecs)";
constexpr const char* SBadCount = "Count out of range (TRecArray.SetCount)";

} // namespace

std::string ListIndexErrorText(int index)
{
    return rtl::Format("List index out of bounds (%d)", index);
}

void RaiseListIndexError(int index)
{
    throw rtl::EListError(ListIndexErrorText(index));
}

TRecArray::TRecArray(int recSize)
{
    Init(recSize);
}

TRecArray::TRecArray(TRecArray&& other) noexcept
    : data_(std::move(other.data_)),
      recSize_(other.recSize_),
      capacity_(std::exchange(other.capacity_, 0)),
      count_(std::exchange(other.count_, 0))
{
}

TRecArray& TRecArray::operator=(TRecArray&& other) noexcept
{
    if (this != &other) {
        data_ = std::move(other.data_);
        recSize_ = other.recSize_;
        capacity_ = std::exchange(other.capacity_, 0);
        count_ = std::exchange(other.count_, 0);
    }
    return *this;
}

void TRecArray::Init(int recSize)
{
    RTL_ASSERT(recSize > 0, SBadRecSize);
    Clear();
    recSize_ = recSize;
}

void TRecArray::Clear() noexcept
{
    data_.reset();
    capacity_ = 0;
    count_ = 0;
}

std::size_t TRecArray::Bytes(int records) const noexcept
{
    return static_cast<std::size_t>(records) * static_cast<std::size_t>(recSize_);
}

bool TRecArray::Contains(const void* p) const noexcept
{
    if (!data_) return false;
    const auto begin = reinterpret_cast<std::uintptr_t>(data_.get());
    const auto at = reinterpret_cast<std::uintptr_t>(p);
    return at >= begin && at < begin + Bytes(capacity_);
}

void TRecArray::SetCapacity(int n)
{
    RTL_ASSERT(recSize_ > 0, SNoRecSize);
    if (n < count_) n = count_;
    if (n == capacity_) return;
    if (static_cast<std::uint64_t>(n > 0 ? n : 0) * static_cast<std::uint64_t>(recSize_) >
        static_cast<std::uint64_t>(std::numeric_limits<std::ptrdiff_t>::max()))
        throw ERecArray(STooManyRecords);
    std::unique_ptr<std::byte[]> block;
    if (n >= 1) {
        block = std::make_unique_for_overwrite<std::byte[]>(Bytes(n));
        if (count_ > 0) std::memcpy(block.get(), data_.get(), Bytes(count_));
    }
    data_ = std::move(block);
    capacity_ = n < 1 ? 0 : n;
}

void TRecArray::Grow()
{
    const int delta = capacity_ > 64 ? capacity_ / 4 : capacity_ > 8 ? 16 : 4;
    if (capacity_ > std::numeric_limits<int>::max() - delta) throw ERecArray(STooManyRecords);
    SetCapacity(capacity_ + delta);
}

void TRecArray::InsertRecs(int index, const void* source, int n)
{
    if (index < 0 || index > count_) throw ERecArray(SInsertRecsIndex);
    RTL_ASSERT(recSize_ > 0, SNoRecSize);
    if (n < 1) return;
    RTL_ASSERT(source != nullptr, SNilSource);
    if (n > std::numeric_limits<int>::max() - count_) throw ERecArray(STooManyRecords);

    // A source inside this array moves or dies with the storage below.
    std::unique_ptr<std::byte[]> copy;
    if (Contains(source)) {
        copy = std::make_unique_for_overwrite<std::byte[]>(Bytes(n));
        std::memcpy(copy.get(), source, Bytes(n));
        source = copy.get();
    }
    if (count_ + n > capacity_) SetCapacity(count_ + n);
    std::byte* const at = data_.get() + Bytes(index);
    if (index < count_) std::memmove(at + Bytes(n), at, Bytes(count_ - index));
    std::memcpy(at, source, Bytes(n));
    count_ += n;
}

void TRecArray::AddRecs(const void* source, int n)
{
    InsertRecs(count_, source, n);
}

void TRecArray::Add(const void* source)
{
    RTL_ASSERT(recSize_ > 0, SNoRecSize);
    RTL_ASSERT(source != nullptr, SNilSource);
    if (count_ == capacity_) {
        if (Contains(source)) {
            // Keep the record before Grow frees the block it lies in.
            const auto copy = std::make_unique_for_overwrite<std::byte[]>(Bytes(1));
            std::memcpy(copy.get(), source, Bytes(1));
            Grow();
            AddRecs(copy.get(), 1);
            return;
        }
        Grow();
    }
    AddRecs(source, 1);
}

void* TRecArray::GetPtr(int index)
{
    if (index < 0 || index >= count_) throw ERecArray(SGetPtrIndex);
    return data_.get() + Bytes(index);
}

const void* TRecArray::GetPtr(int index) const
{
    if (index < 0 || index >= count_) throw ERecArray(SGetPtrIndex);
    return data_.get() + Bytes(index);
}

void TRecArray::Assign(const TRecArray& source)
{
    if (source.recSize_ != recSize_) throw ERecArray(SAssignRecSize);
    if (&source == this) return;
    if (capacity_ < source.count_) {
        // Nothing of ours is kept: allocate the new block before dropping.
        auto block = std::make_unique_for_overwrite<std::byte[]>(Bytes(source.count_));
        data_ = std::move(block);
        capacity_ = source.count_;
    }
    if (source.count_ > 0) std::memcpy(data_.get(), source.data_.get(), Bytes(source.count_));
    count_ = source.count_;
}

void TRecArray::SetCount(int n)
{
    RTL_ASSERT(n >= 0 && n <= capacity_, SBadCount);
    count_ = n;
}
