// The seam between the session/database/table/query objects and the table
// file engine: exactly what the virtual tables and the table objects need of
// a folder of tables and of one table. BdePxStore.h adapts the Paradox file
// engine to it.
//
// Rows are named by row ids that stay the same while the store lives, also
// when a record moves because its key changed, until a rollback: then the
// tables are read again and row ids handed out before mean nothing. A change
// that fails on disk inside a transaction rolls the whole transaction back at
// once (Commit() then refuses and Rollback() ends it); a change refused for
// its values (a duplicate key, a value that does not fit) changes nothing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/bde/PxFormat.h"
#include "platform/rtl/Variant.h"

namespace bde {

using TBdeRowId = std::uint64_t;

// An index as the store reports and takes it: the primary key (unnamed,
// primary and unique) or a secondary index.
struct TBdeStoreIndex {
    std::string Name;
    std::vector<std::string> Fields;
    bool Primary = false;
    bool Unique = false;
};

class IBdeStoreTable {
public:
    virtual ~IBdeStoreTable() = default;

    virtual const std::string& Name() const = 0;
    virtual const std::vector<PxFieldDef>& Fields() = 0;
    // The primary key is the first KeyFieldCount() fields (0: unkeyed).
    virtual int KeyFieldCount() = 0;
    // The primary key first (when there is one), then the secondary indexes.
    virtual std::vector<TBdeStoreIndex> Indexes() = 0;
    virtual std::int64_t RecordCount() = 0;

    // Every row, in key order for a keyed table.
    virtual std::vector<TBdeRowId> Rows() = 0;
    virtual bool Exists(TBdeRowId row) = 0;
    // The rows whose first values.size() fields of index `index` (a position
    // in Indexes()) equal the values; may hold more rows than match when the
    // index compares loosely (case-insensitive indexes), never fewer.
    virtual std::vector<TBdeRowId> Find(int index, const std::vector<rtl::Variant>& values) = 0;

    // Values as BdeTypes.h describes (Null for a blank field).
    virtual rtl::Variant Get(TBdeRowId row, int field) = 0;
    // One value per field.
    virtual TBdeRowId Insert(const std::vector<rtl::Variant>& values) = 0;
    // Only the given fields change; the others keep their bytes.
    virtual void Update(TBdeRowId row, const std::vector<std::pair<int, rtl::Variant>>& changes) = 0;
    virtual void Delete(TBdeRowId row) = 0;

    // Row ids stay valid while someone holds them; once the last holder lets
    // go, the store may forget them (rows nobody holds stay valid).
    virtual void HoldRows() {}
    virtual void ReleaseRows() noexcept {}
};

class IBdeTableStore {
public:
    virtual ~IBdeTableStore() = default;

    virtual const std::string& Folder() const = 0;
    // Table names without extension.
    virtual std::vector<std::string> TableNames() = 0;
    // Whatever the case of the name.
    virtual bool TableExists(const std::string& name) = 0;
    // The table (shared, valid until it is dropped or renamed or the store
    // goes); the engine's error when there is none.
    virtual IBdeStoreTable& Table(const std::string& name) = 0;
    // The first keyFieldCount fields are the primary key.
    virtual void CreateTable(const std::string& name, const std::vector<PxFieldDef>& fields, int keyFieldCount,
                             const std::vector<TBdeStoreIndex>& secondaryIndexes) = 0;
    virtual void DropTable(const std::string& name) = 0;
    virtual void RenameTable(const std::string& from, const std::string& to) = 0;

    virtual void StartTransaction() = 0;
    virtual void Commit() = 0;
    virtual void Rollback() = 0;
    virtual bool InTransaction() const = 0;
};

} // namespace bde
