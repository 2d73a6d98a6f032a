// Keyed updates through the query object on a Paradox table against the same
// updates on a native SQLite table with an index, in one run.
//
// Both tables hold 100,000 rows (ID, NAME, N) keyed on ID; each side runs
// 10,000 statements "UPDATE ... SET N = ? WHERE ID = ?" on random keys, one
// durable unit per statement (the Paradox side through the folder's journal,
// SQLite in autocommit mode with its default journal). The counters give
// both times and the ratio Paradox / SQLite.
#include <benchmark/benchmark.h>
#include <sqlite3.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/bde/BdeDatabase.h"
#include "platform/bde/BdeQuery.h"
#include "platform/bde/BdeSession.h"
#include "platform/bde/BdeTable.h"
#include "platform/rtl/NumText.h"

namespace {

constexpr int kRows = 100000;
constexpr int kUpdates = 10000;

class TempDir {
public:
    TempDir()
    {
        std::random_device rd;
        path_ = (std::filesystem::temp_directory_path() / ("bdebench-" + rtl::IntToStr(static_cast<std::int64_t>(rd())))).string();
        std::filesystem::create_directories(path_);
    }
    ~TempDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

std::vector<int> RandomKeys()
{
    std::mt19937 rng(12345);
    std::uniform_int_distribution<int> pick(1, kRows);
    std::vector<int> keys(kUpdates);
    for (int& k : keys) k = pick(rng);
    return keys;
}

double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }

// ---- Paradox through the query object ------------------------------------------------------------

double RunParadox(const std::string& folder, const std::vector<int>& keys)
{
    bde::TBdeSession session;
    session.SetSessionName("BenchSession");
    bde::TBdeDatabase db;
    db.SetSessionName("BenchSession");
    db.SetDatabaseName("BenchDb");
    db.SetDriverName("STANDARD");
    db.Params() = {"PATH=" + folder};
    db.Open();

    bde::TBdeTable table;
    table.SetSessionName("BenchSession");
    table.SetDatabaseName("BenchDb");
    table.SetTableName("T");
    table.FieldDefs().Add("ID", bde::ftInteger, 0, true);
    table.FieldDefs().Add("NAME", bde::ftString, 20);
    table.FieldDefs().Add("N", bde::ftInteger);
    table.IndexDefs().Add("", "ID", bde::ixPrimary | bde::ixUnique);
    table.CreateTable();

    bde::TBdeQuery insert;
    insert.SetSessionName("BenchSession");
    insert.SetDatabaseName("BenchDb");
    insert.SetSQL(R"(INSERT INTO "T" ("T"."ID","T"."NAME","T"."N") VALUES(:PARAM0,:PARAM1,:PARAM2))");
    insert.Prepare();
    db.StartTransaction();
    for (int i = 1; i <= kRows; ++i) {
        insert.Params()[0].SetValue(rtl::Variant(i));
        insert.Params()[1].SetValue(rtl::Variant("name " + rtl::IntToStr(i)));
        insert.Params()[2].SetValue(rtl::Variant(0));
        insert.ExecSQL();
    }
    db.Commit();

    bde::TBdeQuery update;
    update.SetSessionName("BenchSession");
    update.SetDatabaseName("BenchDb");
    update.SetSQL(R"(UPDATE "T" SET "T"."N"=:PARAM0 WHERE ("T"."ID"=:PARAM1))");
    update.Params()[0].SetDataType(bde::ftInteger);
    update.Params()[1].SetDataType(bde::ftInteger);
    update.Prepare();
    const std::uint64_t visitsBefore = db.RowsVisited();
    const auto start = std::chrono::steady_clock::now();
    int n = 0;
    for (int key : keys) {
        update.Params()[0].SetValue(rtl::Variant(++n));
        update.Params()[1].SetValue(rtl::Variant(key));
        update.ExecSQL();
        if (update.RowsAffected() != 1) throw std::runtime_error("keyed update missed its row");
    }
    const double seconds = Seconds(std::chrono::steady_clock::now() - start);
    if (db.RowsVisited() - visitsBefore != static_cast<std::uint64_t>(kUpdates))
        throw std::runtime_error("keyed updates scanned the table");
    return seconds;
}

// ---- native SQLite ------------------------------------------------------------------------------

void Check(int rc, sqlite3* db)
{
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) throw std::runtime_error(sqlite3_errmsg(db));
}

double RunSqlite(const std::string& file, const std::vector<int>& keys)
{
    sqlite3* db = nullptr;
    Check(sqlite3_open(file.c_str(), &db), db);
    Check(sqlite3_exec(db, "CREATE TABLE T(ID INTEGER NOT NULL, NAME TEXT, N INTEGER);"
                           "CREATE UNIQUE INDEX T_ID ON T(ID);",
                       nullptr, nullptr, nullptr),
          db);
    sqlite3_stmt* insert = nullptr;
    Check(sqlite3_prepare_v2(db, "INSERT INTO T(ID, NAME, N) VALUES(?, ?, 0)", -1, &insert, nullptr), db);
    Check(sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr), db);
    for (int i = 1; i <= kRows; ++i) {
        const std::string name = "name " + rtl::IntToStr(i);
        sqlite3_bind_int(insert, 1, i);
        sqlite3_bind_text(insert, 2, name.c_str(), -1, SQLITE_TRANSIENT);
        Check(sqlite3_step(insert), db);
        sqlite3_reset(insert);
    }
    Check(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), db);
    sqlite3_finalize(insert);

    sqlite3_stmt* update = nullptr;
    Check(sqlite3_prepare_v2(db, "UPDATE T SET N = ? WHERE ID = ?", -1, &update, nullptr), db);
    const auto start = std::chrono::steady_clock::now();
    int n = 0;
    for (int key : keys) {
        sqlite3_bind_int(update, 1, ++n);
        sqlite3_bind_int(update, 2, key);
        Check(sqlite3_step(update), db);
        sqlite3_reset(update);
        if (sqlite3_changes(db) != 1) throw std::runtime_error("keyed update missed its row");
    }
    const double seconds = Seconds(std::chrono::steady_clock::now() - start);
    sqlite3_finalize(update);
    sqlite3_close(db);
    return seconds;
}

void BM_KeyedUpdateParadoxVersusSqlite(benchmark::State& state)
{
    const std::vector<int> keys = RandomKeys();
    for (auto _ : state) {
        TempDir dir;
        const double paradox = RunParadox(dir.Path(), keys);
        const double sqlite = RunSqlite(dir.Path() + "/native.sqlite", keys);
        state.SetIterationTime(paradox + sqlite);
        state.counters["paradox_s"] = paradox;
        state.counters["sqlite_s"] = sqlite;
        state.counters["ratio"] = paradox / sqlite;
        const std::string line = "10000 keyed updates on 100000 rows: Paradox " + rtl::FloatToStr(paradox) +
                                 " s, SQLite " + rtl::FloatToStr(sqlite) + " s, ratio " +
                                 rtl::FloatToStr(paradox / sqlite) + "\n";
        std::fputs(line.c_str(), stdout);
    }
}
BENCHMARK(BM_KeyedUpdateParadoxVersusSqlite)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

} // namespace
