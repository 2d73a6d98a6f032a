// The SQLite module over the table store, and the statement units.
//
// SQLite calls the module through C callbacks: every callback catches what
// the store throws, keeps the exception for the engine to raise again once
// sqlite3_step has returned, and gives SQLite the message. Virtual table and
// cursor objects are C++ objects handed to SQLite as raw pointers and taken
// back by the callback that ends them.
#include "platform/bde/BdeVirtualTables.h"

#include <sqlite3.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "platform/bde/BdeSqlDialect.h"
#include "platform/bde/PxIo.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/NumText.h"
#include "platform/rtl/TextUtils.h"

namespace bde {
namespace {

constexpr const char* SSqliteOpen = "Cannot open the SQL engine: %s";
constexpr const char* SSqlError = "%s in statement: %s";
constexpr const char* SNoTableInFolder = "Table \"%s\" does not exist in folder \"%s\" (statement: %s)";
constexpr const char* SOneStatement = "Only one statement can be run at a time: %s";
constexpr const char* STableInUse = "Table \"%s\" is in use by an open query";
constexpr const char* SDropFailed = "Cannot release table \"%s\" from the SQL engine: %s";
constexpr const char* SRowIdGiven = "A row id cannot be given for a record of table \"%s\"";
constexpr const char* SRowIdChanged = "The row id of a record of table \"%s\" cannot change";
constexpr const char* SNotAllowed =
    "Only SELECT, INSERT, UPDATE and DELETE statements can be run on the tables of a folder: %s";
constexpr const char* SRolledBack = "Table \"%s\" was read again after a rollback; its open query can no longer go on";

constexpr const char* kModuleName = "bde_paradox";

// ---- declared types ----------------------------------------------------------------------

struct TDeclName {
    PxFieldType px;
    const char* word;     // first word of the declared type
    const char* affinity; // SQLite's part of it
    TFieldType type;
    bool sized;           // "(size)" follows
};

constexpr TDeclName kDeclNames[] = {
    {PxFieldType::Alpha, "ALPHA", "TEXT", ftString, true},
    {PxFieldType::Short, "SHORT", "INTEGER", ftSmallint, false},
    {PxFieldType::Long, "LONG", "INTEGER", ftInteger, false},
    {PxFieldType::AutoInc, "AUTOINC", "INTEGER", ftAutoInc, false},
    {PxFieldType::Logical, "LOGICAL", "INTEGER", ftBoolean, false},
    {PxFieldType::Number, "NUMBER", "REAL", ftFloat, false},
    {PxFieldType::Money, "MONEY", "REAL", ftCurrency, false},
    {PxFieldType::Bcd, "BCD", "REAL", ftBCD, true},
    {PxFieldType::Date, "DATE", "REAL", ftDate, false},
    {PxFieldType::Time, "TIME", "REAL", ftTime, false},
    {PxFieldType::Timestamp, "TIMESTAMP", "REAL", ftDateTime, false},
    {PxFieldType::Memo, "MEMO", "TEXT", ftMemo, true},
    {PxFieldType::FmtMemo, "FMTMEMO", "BLOB", ftFmtMemo, true},
    {PxFieldType::Blob, "BINARY", "BLOB", ftBlob, true},
    {PxFieldType::Graphic, "GRAPHIC", "BLOB", ftGraphic, true},
    {PxFieldType::Ole, "OLE", "BLOB", ftParadoxOle, true},
    {PxFieldType::Bytes, "BYTES", "BLOB", ftBytes, true},
};

const TDeclName& DeclOf(PxFieldType type) noexcept
{
    for (const TDeclName& d : kDeclNames)
        if (d.px == type) return d;
    return kDeclNames[0];
}

std::string QuoteName(std::string_view name)
{
    std::string out = "\"";
    for (char c : name) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

// ---- values --------------------------------------------------------------------------------

bool IsIntegerField(PxFieldType t) noexcept
{
    return t == PxFieldType::Short || t == PxFieldType::Long || t == PxFieldType::AutoInc ||
           t == PxFieldType::Logical;
}
bool IsRealField(PxFieldType t) noexcept
{
    return t == PxFieldType::Number || t == PxFieldType::Money || t == PxFieldType::Bcd || t == PxFieldType::Date ||
           t == PxFieldType::Time || t == PxFieldType::Timestamp;
}
bool IsDateField(PxFieldType t) noexcept
{
    return t == PxFieldType::Date || t == PxFieldType::Time || t == PxFieldType::Timestamp;
}
// The field can be looked up through an index.
bool IsKeyableField(PxFieldType t) noexcept
{
    return t == PxFieldType::Alpha || IsIntegerField(t) || IsRealField(t);
}

rtl::ByteArray BlobOf(sqlite3_value* v)
{
    const auto* p = static_cast<const std::uint8_t*>(sqlite3_value_blob(v));
    const int n = sqlite3_value_bytes(v);
    return p && n > 0 ? rtl::ByteArray(p, p + n) : rtl::ByteArray();
}
std::string TextOf(sqlite3_value* v)
{
    const auto* p = reinterpret_cast<const char*>(sqlite3_value_text(v));
    const int n = sqlite3_value_bytes(v);
    return p && n > 0 ? std::string(p, static_cast<std::size_t>(n)) : std::string();
}

// A value SQLite hands over for a field.
rtl::Variant ValueToVariant(PxFieldType field, sqlite3_value* v)
{
    const int kind = sqlite3_value_type(v);
    if (kind == SQLITE_NULL) return rtl::Variant::Null();
    if (field == PxFieldType::Memo || field == PxFieldType::Alpha) {
        if (kind == SQLITE_BLOB) {
            const rtl::ByteArray b = BlobOf(v);
            return rtl::Variant(std::string(b.begin(), b.end()));
        }
        return rtl::Variant(TextOf(v));
    }
    if (PxIsBlobType(field) || field == PxFieldType::Bytes)
        return kind == SQLITE_TEXT ? rtl::Variant([&] { const std::string s = TextOf(v); return rtl::ByteArray(s.begin(), s.end()); }())
                                   : rtl::Variant(BlobOf(v));
    switch (kind) {
    case SQLITE_INTEGER:
        if (field == PxFieldType::Logical) return rtl::Variant(sqlite3_value_int64(v) != 0);
        if (IsDateField(field)) return rtl::Variant::DateTime(static_cast<double>(sqlite3_value_int64(v)));
        return rtl::Variant(static_cast<std::int64_t>(sqlite3_value_int64(v)));
    case SQLITE_FLOAT:
        if (IsDateField(field)) return rtl::Variant::DateTime(sqlite3_value_double(v));
        return rtl::Variant(sqlite3_value_double(v));
    case SQLITE_TEXT:
        return rtl::Variant(TextOf(v));
    default:
        return rtl::Variant(BlobOf(v));
    }
}

// A constraint value as the field's own value, taking it as SQLite's
// comparison would (the column's affinity first); nothing when no record
// can be equal to it.
bool ConstraintValue(PxFieldType field, sqlite3_value* v, rtl::Variant& out)
{
    if (sqlite3_value_type(v) == SQLITE_NULL || sqlite3_value_type(v) == SQLITE_BLOB) return false;
    if (field == PxFieldType::Alpha) {
        out = rtl::Variant(TextOf(v));
        return true;
    }
    const int kind = sqlite3_value_numeric_type(v);
    if (IsIntegerField(field)) {
        std::int64_t n = 0;
        if (kind == SQLITE_INTEGER) {
            n = sqlite3_value_int64(v);
        } else if (kind == SQLITE_FLOAT) {
            const double d = sqlite3_value_double(v);
            if (!(std::trunc(d) == d) || std::fabs(d) > 9.0e15) return false;
            n = static_cast<std::int64_t>(d);
        } else {
            return false;
        }
        if (field == PxFieldType::Logical) {
            if (n != 0 && n != 1) return false;
            out = rtl::Variant(n != 0);
        } else {
            if (n < std::numeric_limits<std::int32_t>::min() || n > std::numeric_limits<std::int32_t>::max())
                return false;
            out = rtl::Variant(static_cast<std::int32_t>(n));
        }
        return true;
    }
    if (kind != SQLITE_INTEGER && kind != SQLITE_FLOAT) return false;
    const double d = sqlite3_value_double(v);
    out = IsDateField(field) ? rtl::Variant::DateTime(d) : rtl::Variant(d);
    return true;
}

void ResultVariant(sqlite3_context* ctx, PxFieldType field, const rtl::Variant& v)
{
    if (v.IsClear()) {
        sqlite3_result_null(ctx);
        return;
    }
    if (field == PxFieldType::Alpha || field == PxFieldType::Memo) {
        const std::string s = v.IsByteArray() ? std::string(v.AsBytes().begin(), v.AsBytes().end()) : v.AsString();
        sqlite3_result_text64(ctx, s.data(), s.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    } else if (PxIsBlobType(field) || field == PxFieldType::Bytes) {
        rtl::ByteArray b;
        if (v.IsByteArray()) b = v.AsBytes();
        else {
            const std::string s = v.AsString();
            b.assign(s.begin(), s.end());
        }
        if (b.empty()) sqlite3_result_zeroblob(ctx, 0);
        else sqlite3_result_blob64(ctx, b.data(), b.size(), SQLITE_TRANSIENT);
    } else if (field == PxFieldType::Logical) {
        sqlite3_result_int(ctx, v.AsBoolean() ? 1 : 0);
    } else if (IsIntegerField(field)) {
        sqlite3_result_int64(ctx, v.AsInt64());
    } else if (IsDateField(field)) {
        sqlite3_result_double(ctx, v.AsDateTime());
    } else {
        sqlite3_result_double(ctx, v.AsDouble());
    }
}

} // namespace

// ---- virtual table and cursor objects ------------------------------------------------------

struct TBdeSqlEngine::TVtabInfo : sqlite3_vtab {
    TBdeSqlEngine* engine = nullptr;
    std::string name; // as the statement named it
    std::vector<PxFieldDef> fields;
    std::vector<std::vector<int>> indexFields; // field positions of each index of the store
    std::vector<bool> indexPrimary; // the primary key: an equality on all of it finds one record
    int openCursors = 0;

    IBdeStoreTable& Table() const { return engine->store_.Table(name); }
};

namespace {

using TVtab = TBdeSqlEngine::TVtabInfo;

struct TCursor : sqlite3_vtab_cursor {
    IBdeStoreTable* table = nullptr;
    std::vector<TBdeRowId> rows;
    std::size_t pos = 0;
    std::uint64_t generation = 0;
};

TVtab& VtabOf(sqlite3_vtab* p) noexcept { return *static_cast<TVtab*>(p); }
TCursor& CursorOf(sqlite3_vtab_cursor* p) noexcept { return *static_cast<TCursor*>(p); }

void SetError(sqlite3_vtab* vtab, const std::string& message) noexcept
{
    sqlite3_free(vtab->zErrMsg);
    vtab->zErrMsg = sqlite3_mprintf("%s", message.c_str());
}

// Runs a callback body; a failure is kept for the engine and told to SQLite.
template <class F>
int Guard(TVtab& vtab, F&& body) noexcept
{
    try {
        return body();
    } catch (const std::exception& e) {
        if (vtab.engine) vtab.engine->SetPending(std::current_exception());
        SetError(&vtab, e.what());
        return dynamic_cast<const EPxKeyViolation*>(&e) ? SQLITE_CONSTRAINT : SQLITE_ERROR;
    } catch (...) {
        if (vtab.engine) vtab.engine->SetPending(std::current_exception());
        SetError(&vtab, "Unknown failure");
        return SQLITE_ERROR;
    }
}

int xConnect(sqlite3* db, void* aux, int argc, const char* const* argv, sqlite3_vtab** out, char** err)
{
    auto* engine = static_cast<TBdeSqlEngine*>(aux);
    try {
        RTL_ASSERT(argc >= 3, "Virtual table without a name");
        auto vtab = std::make_unique<TVtab>();
        std::memset(static_cast<sqlite3_vtab*>(vtab.get()), 0, sizeof(sqlite3_vtab));
        vtab->engine = engine;
        vtab->name = argv[2];
        IBdeStoreTable& table = vtab->Table();
        vtab->fields = table.Fields();
        for (const TBdeStoreIndex& index : table.Indexes()) {
            std::vector<int> positions;
            for (const std::string& f : index.Fields) {
                int pos = -1;
                for (std::size_t i = 0; i < vtab->fields.size() && pos < 0; ++i)
                    if (rtl::SameText(vtab->fields[i].name, f)) pos = static_cast<int>(i);
                positions.push_back(pos);
            }
            vtab->indexFields.push_back(std::move(positions));
            vtab->indexPrimary.push_back(index.Primary);
        }
        std::string schema = "CREATE TABLE x(";
        for (std::size_t i = 0; i < vtab->fields.size(); ++i) {
            const PxFieldDef& f = vtab->fields[i];
            const TDeclName& d = DeclOf(f.type);
            if (i) schema += ", ";
            schema += QuoteName(f.name);
            schema += ' ';
            schema += d.word;
            schema += ' ';
            schema += d.affinity;
            if (d.sized) {
                schema += '(';
                schema += rtl::IntToStr(f.size);
                schema += ')';
            }
        }
        schema += ")";
        const int rc = sqlite3_declare_vtab(db, schema.c_str());
        if (rc != SQLITE_OK) throw EBdeError(rtl::Format(SSqlError, sqlite3_errmsg(db), schema.c_str()));
        engine->VtabOpened(vtab.get());
        *out = vtab.release();
        return SQLITE_OK;
    } catch (const std::exception& e) {
        engine->SetPending(std::current_exception());
        *err = sqlite3_mprintf("%s", e.what());
        return SQLITE_ERROR;
    }
}

int xDisconnect(sqlite3_vtab* p)
{
    std::unique_ptr<TVtab> vtab(static_cast<TVtab*>(p));
    if (vtab->engine) vtab->engine->VtabClosed(vtab.get());
    sqlite3_free(vtab->zErrMsg);
    return SQLITE_OK;
}

int xBestIndex(sqlite3_vtab* p, sqlite3_index_info* info)
{
    TVtab& vtab = VtabOf(p);
    return Guard(vtab, [&] {
        const double rows = std::max<double>(1.0, static_cast<double>(vtab.Table().RecordCount()));
        // The first usable equality on each field.
        std::vector<int> eq(vtab.fields.size(), -1);
        for (int i = 0; i < info->nConstraint; ++i) {
            const auto& c = info->aConstraint[i];
            if (!c.usable || c.op != SQLITE_INDEX_CONSTRAINT_EQ) continue;
            if (c.iColumn < 0 || c.iColumn >= static_cast<int>(eq.size())) continue;
            if (!IsKeyableField(vtab.fields[static_cast<std::size_t>(c.iColumn)].type)) continue;
            const char* coll = sqlite3_vtab_collation(info, i);
            if (coll && !rtl::SameTextLatin(coll, "BINARY")) continue;
            if (eq[static_cast<std::size_t>(c.iColumn)] < 0) eq[static_cast<std::size_t>(c.iColumn)] = i;
        }
        int best = -1;
        int bestCount = 0;
        double bestCost = rows;
        bool bestUnique = false;
        for (std::size_t x = 0; x < vtab.indexFields.size(); ++x) {
            const auto& fields = vtab.indexFields[x];
            int k = 0;
            while (k < static_cast<int>(fields.size()) && fields[static_cast<std::size_t>(k)] >= 0 &&
                   eq[static_cast<std::size_t>(fields[static_cast<std::size_t>(k)])] >= 0)
                ++k;
            if (k == 0) continue;
            const bool unique = vtab.indexPrimary[x] && k == static_cast<int>(fields.size());
            const double cost = unique ? 1.0 : 10.0 + rows / std::pow(10.0, k);
            if (cost < bestCost) {
                best = static_cast<int>(x);
                bestCount = k;
                bestCost = cost;
                bestUnique = unique;
            }
        }
        info->idxNum = best < 0 ? 0 : ((best + 1) << 8) | bestCount;
        info->estimatedCost = bestCost;
        info->estimatedRows = bestUnique ? 1 : static_cast<sqlite3_int64>(best < 0 ? rows : std::max(1.0, rows / std::pow(10.0, bestCount)));
        if (best >= 0) {
            const auto& fields = vtab.indexFields[static_cast<std::size_t>(best)];
            for (int k = 0; k < bestCount; ++k) {
                const int c = eq[static_cast<std::size_t>(fields[static_cast<std::size_t>(k)])];
                info->aConstraintUsage[c].argvIndex = k + 1;
                info->aConstraintUsage[c].omit = 0; // SQLite checks again
            }
            if (bestUnique) info->idxFlags |= SQLITE_INDEX_SCAN_UNIQUE;
        }
        return SQLITE_OK;
    });
}

int xOpen(sqlite3_vtab* p, sqlite3_vtab_cursor** out)
{
    TVtab& vtab = VtabOf(p);
    return Guard(vtab, [&] {
        auto cursor = std::make_unique<TCursor>();
        std::memset(static_cast<sqlite3_vtab_cursor*>(cursor.get()), 0, sizeof(sqlite3_vtab_cursor));
        ++vtab.openCursors;
        *out = cursor.release();
        return SQLITE_OK;
    });
}

int xClose(sqlite3_vtab_cursor* p)
{
    std::unique_ptr<TCursor> cursor(static_cast<TCursor*>(p));
    TVtab& vtab = VtabOf(cursor->pVtab);
    --vtab.openCursors;
    if (cursor->table) {
        // A writing statement changes the rows it read after their cursor closed.
        if (vtab.engine && vtab.engine->Recording()) vtab.engine->ReleaseAtEnd(*cursor->table);
        else cursor->table->ReleaseRows();
    }
    return SQLITE_OK;
}

// Moves to the first existing row at or after pos.
void Settle(TVtab& vtab, TCursor& c)
{
    while (c.pos < c.rows.size() && !c.table->Exists(c.rows[c.pos])) ++c.pos;
    if (c.pos < c.rows.size()) vtab.engine->CountVisit();
}

void CheckGeneration(TVtab& vtab, const TCursor& c)
{
    if (c.generation != vtab.engine->Generation()) throw EBdeError(rtl::Format(SRolledBack, vtab.name.c_str()));
}

int xFilter(sqlite3_vtab_cursor* p, int idxNum, const char*, int argc, sqlite3_value** argv)
{
    TCursor& c = CursorOf(p);
    TVtab& vtab = VtabOf(p->pVtab);
    return Guard(vtab, [&] {
        IBdeStoreTable& table = vtab.Table();
        table.HoldRows();
        if (c.table) c.table->ReleaseRows();
        c.table = &table;
        c.generation = vtab.engine->Generation();
        c.rows.clear();
        c.pos = 0;
        const int index = (idxNum >> 8) - 1;
        if (index < 0) {
            c.rows = c.table->Rows();
        } else {
            const auto& fields = vtab.indexFields[static_cast<std::size_t>(index)];
            std::vector<rtl::Variant> values;
            bool possible = true;
            for (int k = 0; k < argc && possible; ++k) {
                rtl::Variant v;
                possible = ConstraintValue(vtab.fields[static_cast<std::size_t>(fields[static_cast<std::size_t>(k)])].type,
                                           argv[k], v);
                values.push_back(std::move(v));
            }
            if (possible) c.rows = c.table->Find(index, values);
        }
        Settle(vtab, c);
        return SQLITE_OK;
    });
}

int xNext(sqlite3_vtab_cursor* p)
{
    TCursor& c = CursorOf(p);
    TVtab& vtab = VtabOf(p->pVtab);
    return Guard(vtab, [&] {
        CheckGeneration(vtab, c);
        ++c.pos;
        Settle(vtab, c);
        return SQLITE_OK;
    });
}

int xEof(sqlite3_vtab_cursor* p)
{
    const TCursor& c = CursorOf(p);
    return c.pos >= c.rows.size() ? 1 : 0;
}

int xColumn(sqlite3_vtab_cursor* p, sqlite3_context* ctx, int column)
{
    TCursor& c = CursorOf(p);
    TVtab& vtab = VtabOf(p->pVtab);
    return Guard(vtab, [&] {
        if (sqlite3_vtab_nochange(ctx)) return SQLITE_OK; // an UPDATE that leaves the column as it is
        CheckGeneration(vtab, c);
        const PxFieldType type = vtab.fields[static_cast<std::size_t>(column)].type;
        ResultVariant(ctx, type, c.table->Get(c.rows[c.pos], column));
        return SQLITE_OK;
    });
}

int xRowid(sqlite3_vtab_cursor* p, sqlite3_int64* rowid)
{
    const TCursor& c = CursorOf(p);
    *rowid = static_cast<sqlite3_int64>(c.rows[c.pos]);
    return SQLITE_OK;
}

int xUpdate(sqlite3_vtab* p, int argc, sqlite3_value** argv, sqlite3_int64* rowid)
{
    TVtab& vtab = VtabOf(p);
    return Guard(vtab, [&] {
        TBdeSqlEngine& engine = *vtab.engine;
        IBdeStoreTable& table = vtab.Table();
        const int n = static_cast<int>(vtab.fields.size());
        if (argc == 1) {
            const auto row = static_cast<TBdeRowId>(sqlite3_value_int64(argv[0]));
            std::vector<rtl::Variant> old;
            if (engine.Recording())
                for (int i = 0; i < n; ++i) old.push_back(table.Get(row, i));
            table.Delete(row);
            if (engine.Recording()) engine.NoteDelete(table, std::move(old));
        } else if (sqlite3_value_type(argv[0]) == SQLITE_NULL) {
            if (sqlite3_value_type(argv[1]) != SQLITE_NULL) throw EBdeError(rtl::Format(SRowIdGiven, vtab.name.c_str()));
            std::vector<rtl::Variant> values;
            for (int i = 0; i < n; ++i) values.push_back(ValueToVariant(vtab.fields[static_cast<std::size_t>(i)].type, argv[2 + i]));
            const TBdeRowId row = table.Insert(values);
            *rowid = static_cast<sqlite3_int64>(row);
            if (engine.Recording()) engine.NoteInsert(table, row);
        } else {
            const auto row = static_cast<TBdeRowId>(sqlite3_value_int64(argv[0]));
            if (sqlite3_value_int64(argv[1]) != sqlite3_value_int64(argv[0]))
                throw EBdeError(rtl::Format(SRowIdChanged, vtab.name.c_str()));
            std::vector<std::pair<int, rtl::Variant>> changes;
            std::vector<std::pair<int, rtl::Variant>> old;
            for (int i = 0; i < n; ++i) {
                if (sqlite3_value_nochange(argv[2 + i])) continue;
                changes.emplace_back(i, ValueToVariant(vtab.fields[static_cast<std::size_t>(i)].type, argv[2 + i]));
                if (engine.Recording()) old.emplace_back(i, table.Get(row, i));
            }
            table.Update(row, changes);
            if (engine.Recording()) engine.NoteUpdate(table, row, std::move(old));
        }
        engine.CountChange();
        return SQLITE_OK;
    });
}

const sqlite3_module kModule = {
    /* iVersion */ 2,
    /* xCreate */ xConnect,
    /* xConnect */ xConnect,
    /* xBestIndex */ xBestIndex,
    /* xDisconnect */ xDisconnect,
    /* xDestroy */ xDisconnect,
    /* xOpen */ xOpen,
    /* xClose */ xClose,
    /* xFilter */ xFilter,
    /* xNext */ xNext,
    /* xEof */ xEof,
    /* xColumn */ xColumn,
    /* xRowid */ xRowid,
    /* xUpdate */ xUpdate,
    /* xBegin */ nullptr,
    /* xSync */ nullptr,
    /* xCommit */ nullptr,
    /* xRollback */ nullptr,
    /* xFindFunction */ nullptr,
    /* xRename */ nullptr,
    /* xSavepoint */ nullptr,
    /* xRelease */ nullptr,
    /* xRollbackTo */ nullptr,
    /* xShadowName */ nullptr,
};

// The name in "no such table: [schema.]NAME", or "" for another message.
std::string MissingTable(const char* message)
{
    static constexpr std::string_view prefix = "no such table: ";
    const std::string_view m = message ? message : "";
    if (m.substr(0, prefix.size()) != prefix) return "";
    std::string_view name = m.substr(prefix.size());
    for (std::string_view schema : {"main.", "temp."})
        if (name.substr(0, schema.size()) == schema) name.remove_prefix(schema.size());
    return std::string(name);
}

// A failure that refused a change before the engine touched any file.
bool IsRefusal(const std::exception_ptr& failure) noexcept
{
    try {
        std::rethrow_exception(failure);
    } catch (const EPxIoError&) {
        return false;
    } catch (const rtl::EAssertionFailed&) {
        return false;
    } catch (const rtl::Exception&) {
        return true;
    } catch (...) {
        return false;
    }
}

} // namespace

// ---- the engine ------------------------------------------------------------------------------

void TSqliteStmtDeleter::operator()(sqlite3_stmt* stmt) const noexcept { sqlite3_finalize(stmt); }

TFieldType DeclTypeToFieldType(const char* declType, int& size) noexcept
{
    size = 0;
    if (!declType) return ftUnknown;
    const std::string_view decl = declType;
    const std::size_t blank = decl.find(' ');
    const std::string_view word = decl.substr(0, blank);
    for (const TDeclName& d : kDeclNames) {
        if (word != d.word) continue;
        const std::size_t open = decl.find('(');
        if (d.sized && open != std::string_view::npos) {
            int n = 0;
            if (std::from_chars(decl.data() + open + 1, decl.data() + decl.size(), n).ec == std::errc()) size = n;
        }
        return d.type;
    }
    return ftUnknown;
}

struct TBdeSqlEngine::TUndo {
    enum Kind { Inserted, Updated, Deleted } kind;
    IBdeStoreTable* table;
    TBdeRowId row = 0;
    std::vector<std::pair<int, rtl::Variant>> old; // Updated
    std::vector<rtl::Variant> record;              // Deleted
};

TBdeSqlEngine::TBdeSqlEngine(IBdeTableStore& store) : store_(store)
{
    const int rc = sqlite3_open_v2(":memory:", &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        const std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
        sqlite3_close(db_);
        throw EBdeError(rtl::Format(SSqliteOpen, message.c_str()));
    }
    // A double-quoted word is a name, never a string: a misspelt column fails.
    sqlite3_db_config(db_, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    sqlite3_db_config(db_, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
    sqlite3_create_module_v2(db_, kModuleName, &kModule, this, nullptr);
    sqlite3_set_authorizer(db_, &TBdeSqlEngine::Authorize, this);
}

// Statements may read and change the tables, nothing else: no schema of
// their own, no pragmas, attachments or transaction statements.
int TBdeSqlEngine::Authorize(void* engine, int action, const char*, const char*, const char*, const char*)
{
    if (static_cast<TBdeSqlEngine*>(engine)->internal_) return SQLITE_OK;
    switch (action) {
    case SQLITE_SELECT: case SQLITE_READ: case SQLITE_INSERT: case SQLITE_UPDATE: case SQLITE_DELETE:
    case SQLITE_FUNCTION: case SQLITE_RECURSIVE:
        return SQLITE_OK;
    default:
        return SQLITE_DENY;
    }
}

void TBdeSqlEngine::ExecInternal(const std::string& sql)
{
    pending_ = nullptr;
    internal_ = true;
    const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
    internal_ = false;
    if (rc != SQLITE_OK) RaiseSqlite(sql, rc);
}

TBdeSqlEngine::~TBdeSqlEngine()
{
    // Statements still prepared keep the connection as a zombie until they
    // are finalized; their virtual tables must not call back then.
    sqlite3_close_v2(db_);
    for (TVtabInfo* v : vtabs_) v->engine = nullptr;
}

void TBdeSqlEngine::VtabOpened(TVtabInfo* vtab) { vtabs_.push_back(vtab); }

void TBdeSqlEngine::VtabClosed(TVtabInfo* vtab) noexcept
{
    vtabs_.erase(std::remove(vtabs_.begin(), vtabs_.end(), vtab), vtabs_.end());
}

void TBdeSqlEngine::SetPending(std::exception_ptr failure) noexcept
{
    if (!pending_) pending_ = std::move(failure);
}

void TBdeSqlEngine::NoteInsert(IBdeStoreTable& table, TBdeRowId row)
{
    table.HoldRows();
    undo_.push_back({TUndo::Inserted, &table, row, {}, {}});
}

void TBdeSqlEngine::NoteUpdate(IBdeStoreTable& table, TBdeRowId row, std::vector<std::pair<int, rtl::Variant>> old)
{
    table.HoldRows();
    undo_.push_back({TUndo::Updated, &table, row, std::move(old), {}});
}

void TBdeSqlEngine::NoteDelete(IBdeStoreTable& table, std::vector<rtl::Variant> old)
{
    table.HoldRows();
    undo_.push_back({TUndo::Deleted, &table, 0, {}, std::move(old)});
}

void TBdeSqlEngine::ClearUndo() noexcept
{
    for (TUndo& u : undo_) u.table->ReleaseRows();
    undo_.clear();
    for (IBdeStoreTable* t : releaseAtEnd_) t->ReleaseRows();
    releaseAtEnd_.clear();
}

void TBdeSqlEngine::ReleaseAtEnd(IBdeStoreTable& table) { releaseAtEnd_.push_back(&table); }

bool TBdeSqlEngine::UndoStatement() noexcept
{
    bool ok = true;
    try {
        for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) {
            switch (it->kind) {
            case TUndo::Inserted: it->table->Delete(it->row); break;
            case TUndo::Updated: it->table->Update(it->row, it->old); break;
            case TUndo::Deleted: it->table->Insert(it->record); break;
            }
        }
    } catch (...) {
        ok = false;
    }
    ClearUndo();
    return ok;
}

void TBdeSqlEngine::CreateVirtualTable(const std::string& name)
{
    ExecInternal("CREATE VIRTUAL TABLE main." + QuoteName(name) + " USING " + kModuleName);
}

TSqliteStmtPtr TBdeSqlEngine::Prepare(const std::string& sql)
{
    const std::string text = BdeTranslateToSqlite(sql);
    for (std::size_t attempt = 0;; ++attempt) {
        sqlite3_stmt* raw = nullptr;
        const char* tail = nullptr;
        pending_ = nullptr;
        const int rc = sqlite3_prepare_v3(db_, text.c_str(), static_cast<int>(text.size()), SQLITE_PREPARE_PERSISTENT,
                                          &raw, &tail);
        TSqliteStmtPtr stmt(raw);
        if (rc == SQLITE_OK) {
            for (; tail && *tail; ++tail)
                if (static_cast<unsigned char>(*tail) > ' ' && *tail != ';')
                    throw EBdeError(rtl::Format(SOneStatement, sql.c_str()));
            if (!stmt) throw EBdeError(rtl::Format(SSqlError, "Empty statement", sql.c_str()));
            return stmt;
        }
        const std::string missing = MissingTable(sqlite3_errmsg(db_));
        if (missing.empty() || attempt > 64) RaiseSqlite(sql, rc);
        if (!store_.TableExists(missing))
            throw EBdeError(rtl::Format(SNoTableInFolder, missing.c_str(), store_.Folder().c_str(), sql.c_str()));
        CreateVirtualTable(missing);
    }
}

void TBdeSqlEngine::RaiseSqlite(const std::string& sql, int rc)
{
    if (pending_) {
        std::exception_ptr failure = std::move(pending_);
        pending_ = nullptr;
        std::rethrow_exception(failure);
    }
    if (rc == SQLITE_AUTH || (db_ && sqlite3_errcode(db_) == SQLITE_AUTH))
        throw EBdeError(rtl::Format(SNotAllowed, sql.c_str()));
    const char* message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    throw EBdeError(rtl::Format(SSqlError, message, sql.c_str()));
}

bool TBdeSqlEngine::Step(sqlite3_stmt* stmt, const std::string& sql)
{
    pending_ = nullptr;
    const int rc = sqlite3_step(stmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    RaiseSqlite(sql, rc);
}

int TBdeSqlEngine::RunWrite(sqlite3_stmt* stmt, const std::string& sql)
{
    const bool own = !store_.InTransaction();
    if (own) store_.StartTransaction();
    ClearUndo();
    changes_ = 0;
    recording_ = true;
    try {
        while (Step(stmt, sql)) {
        }
    } catch (...) {
        recording_ = false;
        const std::exception_ptr failure = std::current_exception();
        sqlite3_reset(stmt);
        const bool undone = UndoStatement();
        if (own) {
            bool ended = false;
            if (undone) {
                try {
                    store_.Commit();
                    ended = true;
                } catch (...) {
                }
            }
            if (!ended) {
                try {
                    store_.Rollback();
                } catch (...) {
                }
                InvalidateRows();
            }
        } else if (!undone || !IsRefusal(failure)) {
            // The engine rolled the transaction back (or the statement could
            // not be undone): the tables are read again.
            InvalidateRows();
        }
        std::rethrow_exception(failure);
    }
    recording_ = false;
    ClearUndo();
    if (own) {
        try {
            store_.Commit();
        } catch (...) {
            try {
                store_.Rollback();
            } catch (...) {
            }
            InvalidateRows();
            throw;
        }
    }
    return changes_;
}

void TBdeSqlEngine::ChangeFailed(const std::exception_ptr& failure) noexcept
{
    if (!IsRefusal(failure)) InvalidateRows();
}

void TBdeSqlEngine::ForgetTable(const std::string& name)
{
    std::vector<std::string> names;
    for (const TVtabInfo* v : vtabs_) {
        if (!rtl::SameText(v->name, name)) continue;
        if (v->openCursors > 0) throw EBdeError(rtl::Format(STableInUse, name.c_str()));
        names.push_back(v->name);
    }
    for (const std::string& n : names) {
        try {
            ExecInternal("DROP TABLE main." + QuoteName(n));
        } catch (const rtl::Exception& e) {
            throw EBdeError(rtl::Format(SDropFailed, n.c_str(), e.what()));
        }
    }
    ++schemaVersion_;
}

} // namespace bde
