// The identifier generator over the spatial database: reading the counter and
// the identifier spaces, block reservations written at once, new identifier
// spaces, the write-back at detach, and the rewrite of writes that a
// transaction may have taken back.
#include "Tools/Parvane/IDGenerators.h"

#include <algorithm>
#include <cstdint>
#include <limits>

#include "gismodel/VelmoTables.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/SysUtils.h"
#include "platform/rtl/Variant.h"

namespace {

const char* const SNotInitialized = "IDGenerator not initialized";
const char* const SCountBelowOne = "anIDCount = 0";
const char* const SNothingReserved = "Result = 0";
const char* const SNoFreeGroup = "IDGenerator: no free identifier group left (groups 1 to 65535 are all in use)";

constexpr std::int32_t kMaxNumber = std::numeric_limits<std::int32_t>::max();

using rtl::Variant;

} // namespace

void TIDGenerator::SetBlockSize(std::uint16_t value) noexcept { blockSize_ = value == 0 ? 1 : value; }

void TIDGenerator::ResetState() noexcept
{
    db_ = nullptr;
    idGroup_ = 0;
    idNumber_ = 0;
    reserved_ = 0;
    idSpaces_.clear();
    counterPending_ = false;
    pendingSpaces_.clear();
}

void TIDGenerator::Init(IUdb* db, std::uint16_t blockSize)
{
    if (!db) return;
    SetBlockSize(blockSize);
    try {
        // Everything is read first: a failure leaves nothing half-attached.
        const rtl::RefPtr<IUdb> attached(db);
        rtl::RefPtr<IUdbCursor> info = SelectAll(*attached, VelmoTable::DbInfo);
        const std::int32_t group = info->AsInteger(Variant("IDGROUP"), 0);
        const std::int32_t number = info->AsInteger(Variant("IDNUMBER"), 0);
        info->Close();

        std::vector<TIDSpace> spaces;
        rtl::RefPtr<IUdbCursor> maper = SelectAll(*attached, VelmoTable::IdMaper);
        for (; !maper->Eof(); maper->Next())
            spaces.push_back({maper->AsInteger(Variant("LOCALID"), 0), maper->AsString(Variant("GLOBALID"), "")});
        maper->Close();

        ResetState();
        db_ = attached;
        idGroup_ = group;
        idNumber_ = number;
        reserved_ = number;
        idSpaces_ = std::move(spaces);
    } catch (...) {
        ResetState();
        throw;
    }
}

void TIDGenerator::CheckAttached() const
{
    if (!db_ || !db_->IsOpen()) throw rtl::Exception(SNotInitialized);
}

bool TIDGenerator::InTransaction() const { return db_->InTransaction(); }

void TIDGenerator::WriteCounter(std::int32_t group, std::int32_t number)
{
    CheckAttached();
    PrepareUpdate(*db_, VelmoTable::DbInfo, {UdbIntParam("IDGROUP"), UdbIntParam("IDNUMBER")}, {}, true)
        ->Execute({Variant(group), Variant(number)});
}

void TIDGenerator::MakeDurable()
{
    if (!RewritePending() || !db_ || !db_->IsOpen() || db_->InTransaction()) return;
    if (!pendingSpaces_.empty()) {
        const rtl::RefPtr<IUdbSQLCommand> find =
            PrepareSelect(*db_, VelmoTable::IdMaper, {"LOCALID"}, {UdbIntParam("LOCALID")}, true);
        const rtl::RefPtr<IUdbSQLCommand> insert = PrepareInsert(
            *db_, VelmoTable::IdMaper, {UdbIntParam("IDCLASS"), UdbIntParam("LOCALID"), UdbStrParam("GLOBALID")}, true);
        while (!pendingSpaces_.empty()) {
            const TIDSpace& space = pendingSpaces_.front();
            const rtl::RefPtr<IUdbCursor> found = find->Execute({Variant(space.LocalID)});
            const bool present = found && !found->Eof();
            if (found) found->Close();
            if (!present) insert->Execute({Variant(std::int32_t{0}), Variant(space.LocalID), Variant(space.GlobalID)});
            pendingSpaces_.erase(pendingSpaces_.begin());
        }
    }
    if (counterPending_) {
        WriteCounter(idGroup_, reserved_);
        counterPending_ = false;
    }
}

void TIDGenerator::TransactionEnded()
{
    if (db_) MakeDurable();
}

std::int32_t TIDGenerator::ReserveAhead(std::int32_t count, std::int32_t batches)
{
    const bool enough = std::int64_t{reserved_} - idNumber_ >= count;
    if (enough || batches <= 1) return Reserve(count);
    return Reserve(static_cast<std::int32_t>(std::min<std::int64_t>(std::int64_t{count} * batches, kMaxNumber)));
}

std::int32_t TIDGenerator::Reserve(std::int32_t count)
{
    RTL_ASSERT(count >= 1, SCountBelowOne);
    CheckAttached();
    MakeDurable();
    if (std::int64_t{count} > std::int64_t{reserved_} - idNumber_) {
        if (reserved_ == kMaxNumber) {
            std::string ignored;
            SwitchIDSpace(true, ignored);
        }
        const std::int64_t need = std::int64_t{count} - (std::int64_t{reserved_} - idNumber_);
        const std::int32_t bound =
            need < std::int64_t{kMaxNumber} - reserved_ ? static_cast<std::int32_t>(reserved_ + need) : kMaxNumber;
        const bool inTransaction = InTransaction();
        WriteCounter(idGroup_, bound);
        reserved_ = bound;
        if (inTransaction) counterPending_ = true;
    }
    const std::int64_t available = std::int64_t{reserved_} - idNumber_;
    RTL_ASSERT(available >= 1, SNothingReserved);
    return static_cast<std::int32_t>(available);
}

BinID TIDGenerator::NextID()
{
    CheckAttached();
    MakeDurable();
    if (std::int64_t{reserved_} - idNumber_ <= 0) Reserve(blockSize_);
    ++idNumber_;
    return MakeBinID(idGroup_, static_cast<std::uint32_t>(idNumber_));
}

void TIDGenerator::SwitchIDSpace(bool force, std::string& guidText)
{
    guidText.clear();
    CheckAttached();
    MakeDurable();
    if (!force && idNumber_ == SpaceStartNumber) return;
    const std::string guid = rtl::CreateGuidString();
    const std::int32_t local = RegisterIDSpace(guid);
    const bool inTransaction = InTransaction();
    PrepareUpdate(*db_, VelmoTable::DbInfo, {UdbIntParam("IDNUMBER"), UdbIntParam("IDGROUP")}, {}, true)
        ->Execute({Variant(SpaceStartNumber), Variant(local)});
    idGroup_ = local;
    idNumber_ = SpaceStartNumber;
    reserved_ = SpaceStartNumber;
    if (inTransaction) counterPending_ = true;
    guidText = guid;
}

std::int32_t TIDGenerator::RegisterIDSpace(const std::string& guidText)
{
    CheckAttached();
    // The smallest LOCALID of at least 1 that no known space uses.
    std::vector<std::int32_t> used;
    used.reserve(idSpaces_.size());
    for (const TIDSpace& space : idSpaces_) used.push_back(space.LocalID);
    std::sort(used.begin(), used.end());
    std::int32_t local = 1;
    for (const std::int32_t id : used) {
        if (id > local) break;
        if (id == local) ++local;
    }
    if (local > MaxLocalID) throw rtl::Exception(SNoFreeGroup);

    const bool inTransaction = InTransaction();
    PrepareInsert(*db_, VelmoTable::IdMaper, {UdbIntParam("IDCLASS"), UdbIntParam("LOCALID"), UdbStrParam("GLOBALID")},
                  true)
        ->Execute({Variant(std::int32_t{0}), Variant(local), Variant(guidText)});
    idSpaces_.push_back({local, guidText});
    if (inTransaction) pendingSpaces_.push_back({local, guidText});
    return local;
}

bool TIDGenerator::IsLocalIDUsed(std::int32_t localID) const noexcept
{
    return std::any_of(idSpaces_.begin(), idSpaces_.end(),
                       [localID](const TIDSpace& space) { return space.LocalID == localID; });
}

void TIDGenerator::Done() noexcept
{
    if (!db_) return;
    // Only the lost spaces need the rewrite here: the write-back below covers the counter.
    try {
        counterPending_ = false;
        MakeDurable();
    } catch (...) {
        // Done never fails; what could not be written stays as it is.
    }
    try {
        WriteCounter(idGroup_, idNumber_);
        reserved_ = idNumber_;
    } catch (...) {
        // As above.
    }
    ResetState();
}
