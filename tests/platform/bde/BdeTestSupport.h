// Helpers of the session/database/table/query tests: a connected database
// on a temporary folder, tables made through table objects, statements run
// through query objects, rows read back as text.
#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "PxTestSupport.h"
#include "platform/bde/BdeDatabase.h"
#include "platform/bde/BdeQuery.h"
#include "platform/bde/BdeSession.h"
#include "platform/bde/BdeTable.h"
#include "platform/rtl/NumText.h"

namespace bde::test {

// A row of a result as text: "NULL" for a blank field, else the field's
// AsString().
using TextRows = std::vector<std::vector<std::string>>;

inline std::string UniqueName(const char* prefix)
{
    static int n = 0;
    return prefix + rtl::IntToStr(++n);
}

struct IndexSpec {
    std::string name;
    std::string fields;
    TIndexOptions options;
};

// The rows pxlib reads from a data file, in this file's text form: pxlib
// gives a blank Long field as the smallest 32-bit number.
inline TextRows PxlibRows(const std::string& dbPath, const std::string& mbPath = "")
{
    const PxlibTable t = PxlibRead(dbPath, mbPath);
    if (!t.opened) return {{"<pxlib cannot open " + dbPath + ">"}};
    TextRows rows = t.rows;
    for (auto& row : rows)
        for (auto& v : row)
            if (v == "-2147483648") v = "NULL";
    return rows;
}

// A session and a database connected to a fresh folder.
class BdeFolder {
public:
    explicit BdeFolder(PxFileSystem* fs = nullptr)
    {
        session.SetSessionName(UniqueName("TestSession"));
        Connect(db, folder.Path(), fs);
    }

    // Connects `d` to `path` in this fixture's session.
    void Connect(TBdeDatabase& d, const std::string& path, PxFileSystem* fs = nullptr)
    {
        d.SetSessionName(session.SessionName());
        d.SetDatabaseName(UniqueName("TestDb"));
        d.SetDriverName("STANDARD");
        d.SetLoginPrompt(false);
        d.Params().clear();
        d.Params().push_back("PATH=" + path);
        d.SetFileSystem(fs);
        d.Open();
    }

    template <class DataSet>
    void Bind(DataSet& d, const TBdeDatabase& on)
    {
        d.SetSessionName(session.SessionName());
        d.SetDatabaseName(on.DatabaseName());
    }

    std::unique_ptr<TBdeQuery> Query(const std::string& sql, const std::vector<rtl::Variant>& values = {})
    {
        auto q = std::make_unique<TBdeQuery>();
        Bind(*q, db);
        q->SetSQL(sql);
        for (std::size_t i = 0; i < values.size() && i < static_cast<std::size_t>(q->Params().Count()); ++i)
            q->Params()[static_cast<int>(i)].SetValue(values[i]);
        return q;
    }

    int Exec(const std::string& sql, const std::vector<rtl::Variant>& values = {})
    {
        auto q = Query(sql, values);
        q->ExecSQL();
        return q->RowsAffected();
    }

    static TextRows ReadAll(TBdeDataSet& d)
    {
        TextRows rows;
        for (; !d.Eof(); d.Next()) {
            std::vector<std::string> row;
            for (int i = 0; i < d.FieldCount(); ++i)
                row.push_back(d.Field(i).IsNull() ? "NULL" : d.Field(i).AsString());
            rows.push_back(std::move(row));
        }
        return rows;
    }

    TextRows Rows(const std::string& sql, const std::vector<rtl::Variant>& values = {})
    {
        auto q = Query(sql, values);
        q->Open();
        return ReadAll(*q);
    }

    void CreateTable(const std::string& name, const std::vector<TBdeFieldDef>& fields,
                     const std::vector<IndexSpec>& indexes = {})
    {
        TBdeTable t;
        Bind(t, db);
        t.SetTableName(name);
        t.SetTableType(ttParadox);
        for (const auto& f : fields) t.FieldDefs().Add(f.Name, f.DataType, f.Size, f.Required);
        for (const auto& i : indexes) t.IndexDefs().Add(i.name, i.fields, i.options);
        t.CreateTable();
    }

    // The keyed table T (ID Integer key, NAME String(20), N Integer).
    void CreateKeyed(const std::string& name = "T")
    {
        CreateTable(name, {{"ID", ftInteger, 0, true}, {"NAME", ftString, 20, false}, {"N", ftInteger, 0, false}},
                    {{"", "ID", ixPrimary | ixUnique}});
    }

    TempFolder folder;
    TBdeSession session;
    TBdeDatabase db;
};

} // namespace bde::test
