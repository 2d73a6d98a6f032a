// Connections of the ADO layer to the two engines its tests run on: the
// PostgreSQL server of the test script (through psqlODBC) and a SQLite file
// (through SQLite's ODBC driver), and small helpers to run text on them.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/ado/Ado.h"
#include "tests/support/AdoTestDialects.h"
#include "tests/support/AdoTestSkip.h"

namespace adotest {

// A closed connection to the PostgreSQL server, as the PostgreSQL test dialect opens it.
inline rtl::RefPtr<ado::Connection> PgConnection(const TPgServer& server, const std::string& password)
{
    rtl::RefPtr<ado::Connection> c = ado::NewConnection();
    c->SetProvider("MSDASQL");
    const std::vector<std::pair<std::string, std::string>> properties = {
        {"Driver", PgOdbcDriver}, {"Server", server.Host}, {"Port", server.Port},
        {"Database", server.Database}, {"UID", server.User}, {"PWD", password},
        {"BoolsAsChar", "0"}, {"ByteaAsLongVarBinary", "1"}, {"CommLog", "0"}, {"Debug", "0"}};
    for (const auto& [name, value] : properties) c->Properties().Item(name).SetValue(rtl::Variant(value));
    return c;
}

// A closed connection to a SQLite file.
inline rtl::RefPtr<ado::Connection> SqliteConnection(const std::string& file)
{
    rtl::RefPtr<ado::Connection> c = ado::NewConnection();
    c->SetProvider("MSDASQL");
    c->Properties().Item("Driver").SetValue(rtl::Variant(SqliteOdbcDriver));
    c->Properties().Item("Database").SetValue(rtl::Variant(file));
    return c;
}

inline void OpenConnection(ado::Connection& c) { c.Open("", "", "", ado::adConnectUnspecified); }

// Runs text directly; the number of rows it changed.
inline std::int32_t RunSql(ado::Connection& c, const std::string& text)
{
    rtl::Variant affected;
    (void)c.Execute(text, affected, ado::adCmdText);
    return affected.AsInteger();
}

// Every row of a recordset, each value as text ("<null>" for Null).
inline std::vector<std::vector<std::string>> Rows(ado::Recordset& rs)
{
    std::vector<std::vector<std::string>> rows;
    for (; !rs.Eof(); rs.MoveNext()) {
        std::vector<std::string> row;
        for (std::int32_t i = 0; i < rs.Fields().Count(); ++i) {
            const rtl::Variant v = rs.Fields().Item(i).Value();
            row.push_back(v.IsNull() ? "<null>" : v.IsByteArray() ? "<bytes>" : v.AsString());
        }
        rows.push_back(std::move(row));
    }
    return rows;
}

inline std::vector<std::vector<std::string>> Query(ado::Connection& c, const std::string& text)
{
    rtl::Variant affected;
    const rtl::RefPtr<ado::Recordset> rs = c.Execute(text, affected, ado::adCmdText);
    return Rows(*rs);
}

} // namespace adotest
