// A small in-memory driver for the tests of the access layer's base classes.
//
// fake::Engine is the "engine" the test owns and inspects: it records every
// Do* call (with its argument), can be told to fail any of them, holds the
// connection and transaction flags, a few tables, and the rows the next
// statement execution returns. fake::Db, Command, Cursor and TableDef are the
// thinnest possible driver classes over it.
#pragma once

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "UdbProject/UdbDefs.h"
#include "UdbProject/UdbStdImpl.h"
#include "UdbProject/UdbUtils.h"
#include "platform/rtl/Exceptions.h"

namespace fake {

// What f raised, as "<class>: <message>" ("" when nothing): EUdbException,
// EAssertionFailed (message without its source position), Exception (any
// other rtl::Exception).
template <class F>
std::string Raised(F&& f)
{
    try {
        f();
    } catch (const EUdbException& e) {
        return "EUdbException: " + e.Message();
    } catch (const rtl::EAssertionFailed& e) {
        const std::string& m = e.Message();
        return "EAssertionFailed: " + m.substr(0, m.rfind(" ("));
    } catch (const rtl::Exception& e) {
        return "Exception: " + e.Message();
    } catch (...) {
        return "unknown exception";
    }
    return "";
}

inline std::string Udb(const std::string& message) { return "EUdbException: " + message; }
inline std::string Assertion(const std::string& message) { return "EAssertionFailed: " + message; }
inline std::string General(const std::string& message) { return "Exception: " + message; }

struct Table {
    std::string name;
    std::vector<TUdbFieldDef> fields;
    std::vector<TUdbIndexDef> indexes;
};

struct Engine {
    std::vector<std::string> calls; // "DoOpen", "DoPrepare(SELECT 1)", ...
    std::set<std::string> failOn;   // operation names that raise "<name> failed"
    bool connected = false;
    bool inTransaction = false;
    std::vector<Table> tables;
    // What the next execution yields: a cursor over these rows when fields is not empty.
    std::vector<TUdbFieldDef> resultFields;
    std::vector<std::vector<rtl::Variant>> resultRows;
    std::int32_t rowsAffected = 0;
    int cursorCloses = 0;
    bool dbDestroyed = false;
    std::string folderSeenByOpen;

    void Hit(const std::string& op, const std::string& arg = {})
    {
        calls.push_back(arg.empty() ? op : op + "(" + arg + ")");
        if (failOn.count(op) != 0) throw rtl::Exception(op + " failed");
    }
    // The calls whose name is one of ops, in order.
    std::vector<std::string> CallsOf(const std::set<std::string>& ops) const
    {
        std::vector<std::string> out;
        for (const std::string& c : calls)
            if (ops.count(c.substr(0, c.find('('))) != 0) out.push_back(c);
        return out;
    }
    Table* FindTable(const std::string& name)
    {
        for (Table& t : tables)
            if (t.name == name) return &t;
        return nullptr;
    }
};

// A cursor over rows kept as given (no conversion): lets a test hand the base
// class any value, also ones a real driver would never return.
class Cursor : public TUdbCursor {
public:
    Cursor(TUdb* db, Engine& engine, std::vector<TUdbFieldDef> fields, std::vector<std::vector<rtl::Variant>> rows)
        : TUdbCursor(db), engine_(engine), fields_(std::move(fields)), rows_(std::move(rows))
    {
    }

protected:
    const rtl::Variant& V(std::int32_t i) const { return rows_[row_][static_cast<std::size_t>(i)]; }
    bool GetIsNull(std::int32_t i) override { return V(i).IsNull(); }
    bool GetBoolean(std::int32_t i) override { return V(i).AsBoolean(); }
    std::int32_t GetInteger(std::int32_t i) override { return V(i).AsInteger(); }
    double GetFloat(std::int32_t i) override { return V(i).AsDouble(); }
    rtl::Currency GetCurrency(std::int32_t i) override { return V(i).AsCurrency(); }
    double GetDateTime(std::int32_t i) override { return V(i).AsDateTime(); }
    std::string GetString(std::int32_t i) override { return V(i).AsString(); }
    rtl::Variant GetBlob(std::int32_t i) override { return V(i); }
    rtl::Variant GetVariant(std::int32_t i) override { return V(i); }
    std::int32_t GetFieldCount() override { return static_cast<std::int32_t>(fields_.size()); }
    std::int32_t GetFieldIndex(const std::string& name) override
    {
        for (std::size_t i = 0; i < fields_.size(); ++i)
            if (fields_[i].Name == name) return static_cast<std::int32_t>(i);
        return -1;
    }
    std::string GetFieldName(std::int32_t i) override { return fields_[static_cast<std::size_t>(i)].Name; }
    TUdbDataType GetFieldType(std::int32_t i) override { return fields_[static_cast<std::size_t>(i)].DataType; }
    std::int32_t GetDataSize(std::int32_t i) override { return fields_[static_cast<std::size_t>(i)].Size; }
    bool GetEof() override { return row_ >= rows_.size(); }
    void DoNext() override { ++row_; }
    void DoClose() override
    {
        ++engine_.cursorCloses;
        rows_.clear();
        row_ = 0;
    }

private:
    Engine& engine_;
    std::vector<TUdbFieldDef> fields_;
    std::vector<std::vector<rtl::Variant>> rows_;
    std::size_t row_ = 0;
};

class Command : public TUdbSQLCommand {
public:
    Command(TUdb* db, Engine& engine) : TUdbSQLCommand(db), engine_(engine) {}

protected:
    void DoPrepare() override { engine_.Hit("DoPrepare", SQL()); }
    rtl::RefPtr<IUdbCursor> DoExecute(const rtl::Variant* /*values*/, std::int32_t /*count*/,
                                      std::int32_t& rowsAffected) override
    {
        engine_.Hit("DoExecute", SQL());
        rowsAffected = engine_.rowsAffected;
        if (engine_.resultFields.empty()) return nullptr;
        return rtl::MakeRef<Cursor>(Db(), engine_, engine_.resultFields, engine_.resultRows);
    }

private:
    Engine& engine_;
};

class TableDef : public TUdbTableDef {
public:
    TableDef(TUdb* db, Engine& engine) : TUdbTableDef(db), engine_(engine) {}

protected:
    void DoCreateTable(const std::string& name, const TTableDef& def, bool withIndexes) override
    {
        engine_.Hit("DoCreateTable", name + (withIndexes ? ", with indexes" : ""));
        engine_.tables.push_back(MakeTable(name, def, withIndexes));
    }
    void DoReadTableDef(const std::string& name, TTableDef& def) override
    {
        engine_.Hit("DoReadTableDef", name);
        const Table* t = engine_.FindTable(name);
        if (!t) throw rtl::Exception("no table " + name);
        def.Name = t->name;
        for (const TUdbFieldDef& f : t->fields) {
            auto field = std::make_unique<TFieldDef>(-1);
            UdbToFieldDef(*field, f);
            def.Fields.Add(std::move(field));
        }
        for (const TUdbIndexDef& i : t->indexes) {
            auto index = std::make_unique<TIndexDef>(-1);
            UdbToIndexDef(*index, i);
            index->Name = i.Name;
            def.Indexes.Add(std::move(index));
        }
    }
    void DoAlterTable(const TTableDef& asRead, const TTableDef& edited) override
    {
        engine_.Hit("DoAlterTable", asRead.Name + " -> " + edited.Name);
        Table* t = engine_.FindTable(asRead.Name);
        if (!t) throw rtl::Exception("no table " + asRead.Name);
        *t = MakeTable(edited.Name, edited, true);
    }

private:
    // The engine names the indexes that come without a name.
    static Table MakeTable(const std::string& name, const TTableDef& def, bool withIndexes)
    {
        Table t{name, {}, {}};
        for (int i = 0; i < def.Fields.Count(); ++i) t.fields.push_back(FieldDefToUdb(def.Fields.Get(i)));
        if (withIndexes)
            for (int i = 0; i < def.Indexes.Count(); ++i) {
                TUdbIndexDef index = IndexDefToUdb(def.Indexes.Get(i));
                if (index.Name.empty()) index.Name = "IDX" + std::to_string(i);
                t.indexes.push_back(index);
            }
        return t;
    }

    Engine& engine_;
};

class Db : public TUdb {
public:
    explicit Db(Engine& engine) : engine_(engine) {}

    // When set, the address "Udb\DriverLibrary" is asked about.
    const void* moduleAddress = nullptr;

protected:
    ~Db() override { engine_.dbDestroyed = true; }

    rtl::RefPtr<TUdbTableDef> CreateTableDef() override { return rtl::MakeRef<TableDef>(this, engine_); }
    rtl::RefPtr<TUdbSQLCommand> CreateSQLCommand() override { return rtl::MakeRef<Command>(this, engine_); }
    void DoOpen() override
    {
        engine_.Hit("DoOpen");
        engine_.folderSeenByOpen = Params().GetStr("folder", "");
        engine_.connected = true;
    }
    void DoClose() override
    {
        engine_.Hit("DoClose");
        engine_.connected = false;
        engine_.inTransaction = false;
    }
    bool GetConnected() override { return engine_.connected; }
    bool GetInTransaction() override { return engine_.inTransaction; }
    void DoStartTransaction() override
    {
        engine_.Hit("DoStartTransaction");
        engine_.inTransaction = true;
    }
    void DoCommit() override
    {
        engine_.Hit("DoCommit");
        engine_.inTransaction = false;
    }
    void DoRollback() override
    {
        engine_.Hit("DoRollback");
        engine_.inTransaction = false;
    }
    rtl::RefPtr<IUdbCursor> CreateSchemaCursor(TUdbSchemaKind kind) override
    {
        engine_.Hit("CreateSchemaCursor");
        if (kind != uskRelations) return nullptr;
        const rtl::RefPtr<TInMemoryCursor> cursor =
            rtl::MakeRef<TInMemoryCursor>(this, SchemaKindColumns(kind), static_cast<std::int32_t>(engine_.tables.size()));
        for (const Table& t : engine_.tables) cursor->AppendRow({rtl::Variant(t.name), rtl::Variant(false), rtl::Variant(0)});
        return cursor;
    }
    bool DoTableExists(const std::string& name) override
    {
        engine_.Hit("DoTableExists", name);
        return engine_.FindTable(name) != nullptr;
    }
    void DoDropTable(const std::string& name) override
    {
        engine_.Hit("DoDropTable", name);
        std::erase_if(engine_.tables, [&](const Table& t) { return t.name == name; });
    }
    const void* ModuleAddress() const noexcept override
    {
        return moduleAddress ? moduleAddress : TUdb::ModuleAddress();
    }

private:
    Engine& engine_;
};

} // namespace fake
