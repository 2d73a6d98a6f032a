// Shared pieces of the SQLite test driver's tests: a temporary folder that
// holds the database files, a fixture with one open database, and small
// helpers to run statements and catch the layer's exceptions.
#pragma once

#include "tests/support/TempFolder.h"
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "UdbProject/Udbs.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/NumText.h"
#include "tests/support/SqliteUdb.h"

namespace sqlitetest {

// A fresh folder under the system's temporary folder, removed with its files.
using TempFolder = testing_support::TempFolder;

// The message of the EUdbException that f raises; a test failure when it raises none.
inline std::string UdbErrorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const EUdbException& e) {
        return e.Message();
    }
    ADD_FAILURE() << "no EUdbException raised";
    return std::string();
}

inline void Exec(IUdb& db, const std::string& sql) { (void)PrepareSQL(db, sql, {}, true)->Execute(nullptr, 0); }

// The first column of the first row of sql as text ("<null>" for Null, "<none>" without rows).
inline std::string Scalar(IUdb& db, const std::string& sql)
{
    const rtl::RefPtr<IUdbCursor> cursor = PrepareSQL(db, sql, {}, true)->Execute(nullptr, 0);
    const std::string value = cursor->Eof() ? "<none>" : cursor->AsString(rtl::Variant(0), "<null>");
    cursor->Close();
    return value;
}

inline int RowCount(IUdb& db, const std::string& table)
{
    return rtl::StrToInt(Scalar(db, "SELECT COUNT(*) FROM [" + table + "]"));
}

class SqliteFixture : public testing::Test {
protected:
    SqliteFixture() : file(folder.File("test.db")), db(OpenSqliteUdb(file)) {}
    ~SqliteFixture() override = default;

    TempFolder folder;
    std::string file;
    rtl::RefPtr<TSqliteUdb> db;
};

} // namespace sqlitetest
