// The identifier generator: issues the new object identifiers of a change
// run from the current identifier group and counter of the spatial database
// (VELMO_DBINFO.IDGROUP, IDNUMBER), and opens new identifier spaces (a new
// group with a new GUID in VELMO_IDMAPER).
//
// Numbers are reserved in blocks: Reserve writes the new upper bound to
// VELMO_DBINFO at once, so that a number once handed out is never handed out
// again; Done writes the last issued number back, so that reserved numbers
// that were not issued become free again.
//
// Durability. A write made while the database is inside a transaction would
// go back with a rollback of that transaction, and the database would then
// hold a bound below numbers already handed out. So when Reserve or
// SwitchIDSpace (or RegisterIDSpace) writes inside a transaction, the
// generator remembers that its bound, and any identifier space it inserted,
// are not durable yet, and writes them again as soon as the database is out
// of the transaction:
//   - in TransactionEnded, which the change engine calls after every
//     outermost commit or rollback of the spatial database, and
//   - as a safety net, at the start of every Reserve, NextID, SwitchIDSpace
//     and Done made outside a transaction.
// The rewrite sets VELMO_DBINFO to (IDGroup, Reserved) and inserts again each
// space of this attach whose VELMO_IDMAPER row is missing. A rewrite that
// fails keeps the work pending for the next chance. Done belongs outside any
// transaction: inside one, its write-back shares the transaction's fate.
//
// Dropping the generator without Done (a crash) writes nothing: the database
// keeps the last bound written, which lies above every number handed out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "UdbProject/Udbs.h"
#include "gismodel/BinIDs.h"
#include "platform/rtl/RefCounted.h"

// One row of VELMO_IDMAPER: a group and the braced GUID text naming it.
struct TIDSpace {
    std::int32_t LocalID = 0;
    std::string GlobalID;
    friend bool operator==(const TIDSpace&, const TIDSpace&) = default;
};

class TIDGenerator {
public:
    // The first number of a new identifier space; the first issued is one more.
    static constexpr std::int32_t SpaceStartNumber = 1000;
    // Groups are 16-bit: the largest LOCALID a new space may take.
    static constexpr std::int32_t MaxLocalID = 0xFFFF;

    TIDGenerator() = default;
    TIDGenerator(const TIDGenerator&) = delete;
    TIDGenerator& operator=(const TIDGenerator&) = delete;
    // Writes nothing (see above); the owner detaches with Done first.
    ~TIDGenerator() = default;

    // 0 becomes 1.
    void SetBlockSize(std::uint16_t value) noexcept;

    // Attaches to db and reads the current group and number of VELMO_DBINFO
    // and the spaces of VELMO_IDMAPER. nullptr does nothing at all. When
    // reading fails the error passes on and the generator is detached.
    void Init(IUdb* db, std::uint16_t blockSize);
    // UPDATE of every VELMO_DBINFO row with (group, number).
    void WriteCounter(std::int32_t group, std::int32_t number);
    // Makes at least one, and as far as possible count, numbers available and
    // returns how many are. count < 1 fails the assertion "anIDCount = 0";
    // detached or closed: rtl::Exception "IDGenerator not initialized".
    std::int32_t Reserve(std::int32_t count);
    // Reserve of count while count numbers are still reserved, else of count
    // * batches, so that a caller taking count numbers per item writes its
    // bound once for several items.
    std::int32_t ReserveAhead(std::int32_t count, std::int32_t batches);
    // The next identifier of the current group (reserving BlockSize numbers
    // when the reservation is used up).
    BinID NextID();
    // Opens a new identifier space (the lowest free group, a new GUID, the
    // counter at 1000) unless force is false and the current group has issued
    // nothing yet; guidText is the new GUID, empty when nothing was opened.
    void SwitchIDSpace(bool force, std::string& guidText);
    // Inserts a VELMO_IDMAPER row for guidText with the smallest LOCALID of at
    // least 1 that no known space uses and returns it. A group above 65535 is
    // refused with rtl::Exception before anything is written.
    std::int32_t RegisterIDSpace(const std::string& guidText);
    bool IsLocalIDUsed(std::int32_t localID) const noexcept;
    // Writes (IDGroup, IDNumber) back and detaches; never fails.
    void Done() noexcept;
    // Called after every outermost commit or rollback: rewrites what is not
    // durable yet (see above). A failing rewrite passes its error on and
    // stays pending. Does nothing while detached or still in a transaction.
    void TransactionEnded();

    IUdb* Db() const noexcept { return db_.get(); }
    std::int32_t IDGroup() const noexcept { return idGroup_; }
    std::int32_t IDNumber() const noexcept { return idNumber_; }
    std::int32_t Reserved() const noexcept { return reserved_; }
    const std::vector<TIDSpace>& IDSpaces() const noexcept { return idSpaces_; }
    std::uint16_t BlockSize() const noexcept { return blockSize_; }
    // Whether a write made inside a transaction still waits for its rewrite.
    bool RewritePending() const noexcept { return counterPending_ || !pendingSpaces_.empty(); }

private:
    void CheckAttached() const;
    // The rewrite, when something is pending and db is out of transactions.
    void MakeDurable();
    void ResetState() noexcept;
    bool InTransaction() const;

    rtl::RefPtr<IUdb> db_;
    std::int32_t idGroup_ = 0;
    std::int32_t idNumber_ = 0;
    std::int32_t reserved_ = 0;
    std::vector<TIDSpace> idSpaces_;
    std::uint16_t blockSize_ = 1;

    bool counterPending_ = false;
    std::vector<TIDSpace> pendingSpaces_; // inserted inside a transaction
};
