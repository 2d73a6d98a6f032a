// Keyed updates on a large Paradox table through the access layer, against the
// same statements on a native SQLite table with an index.
//
// One run: a 100,000-row keyed table is written in a temporary folder, then
// 10,000 statements "update ... where ID = ?" on random keys go through the
// Paradox driver's IUdbSQLCommand, each one a durable change of its own; the
// same statements then run on a SQLite table with a unique index on ID (its
// default rollback journal, also durable per statement). The counters give
// both times and their ratio (Paradox / SQLite).
#include <benchmark/benchmark.h>

#include <sqlite3.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "UdbProject/PdoxUdbs.h"
#include "platform/bde/PxDatabase.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/NumText.h"

namespace {

constexpr int kRows = 100000;
constexpr int kUpdates = 10000;

class TempFolder {
public:
    TempFolder()
    {
        std::random_device rd;
        path_ = (std::filesystem::temp_directory_path() / ("pxbench-" + rtl::IntToStr(static_cast<std::int64_t>(rd())))).string();
        std::filesystem::create_directories(path_);
    }
    ~TempFolder()
    {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& Path() const { return path_; }

private:
    std::string path_;
};

std::vector<int> RandomKeys()
{
    std::mt19937 rng(20240601);
    std::vector<int> keys(kUpdates);
    for (int& k : keys) k = 1 + static_cast<int>(rng() % kRows);
    return keys;
}

std::string Layer(int id) { return "0001" + std::string(7, '0') + rtl::IntToStr(id % 10); }

// The Paradox table: keyed on ID, with a secondary index on LAYERID.
void WriteParadoxTable(const std::string& folder)
{
    bde::PxDatabase db(folder);
    bde::PxTableSpec spec;
    spec.fields = {{"ID", bde::PxFieldType::Long, 0},
                   {"NAME", bde::PxFieldType::Alpha, 40},
                   {"VAL", bde::PxFieldType::Long, 0},
                   {"LAYERID", bde::PxFieldType::Alpha, 12}};
    spec.keyFieldCount = 1;
    spec.secondaryIndexes = {{"", {"LAYERID"}}};
    auto table = db.CreateTable("BIG", spec);
    db.StartTransaction();
    for (int id = 1; id <= kRows; ++id)
        table->Insert({rtl::Variant(id), rtl::Variant("name " + rtl::IntToStr(id)), rtl::Variant(0), rtl::Variant(Layer(id))});
    db.Commit();
}

double Seconds(std::chrono::steady_clock::time_point from)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - from).count();
}

double RunParadox(const std::string& folder, const std::vector<int>& keys)
{
    rtl::RefPtr<IUdb> db(new TPdoxUdb());
    db->Open("<driver name=\"BDE.Paradox\"><param name=\"folder\">" + folder + "</param></driver>");
    const TUdbDataType types[] = {udtInteger, udtInteger};
    auto cmd = db->CreateCommand("update [BIG] set [BIG].[VAL] = ? where [BIG].[ID] = ?", types, 2, true);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kUpdates; ++i) {
        cmd->Execute({rtl::Variant(i + 1), rtl::Variant(keys[static_cast<std::size_t>(i)])});
        if (cmd->RowsAffected() != 1) throw rtl::Exception("a keyed update changed no row");
    }
    const double s = Seconds(start);
    db->Close();
    return s;
}

void Check(int rc, sqlite3* db)
{
    if (rc != SQLITE_OK && rc != SQLITE_DONE && rc != SQLITE_ROW) throw rtl::Exception(sqlite3_errmsg(db));
}

double RunSqlite(const std::string& path, const std::vector<int>& keys)
{
    sqlite3* db = nullptr;
    Check(sqlite3_open(path.c_str(), &db), db);
    Check(sqlite3_exec(db,
                       "create table BIG (ID integer, NAME text, VAL integer, LAYERID text);"
                       "create unique index BIG_ID on BIG (ID); create index BIG_LAYERID on BIG (LAYERID);"
                       "begin;",
                       nullptr, nullptr, nullptr),
          db);
    sqlite3_stmt* ins = nullptr;
    Check(sqlite3_prepare_v2(db, "insert into BIG values (?, ?, 0, ?)", -1, &ins, nullptr), db);
    for (int id = 1; id <= kRows; ++id) {
        const std::string name = "name " + rtl::IntToStr(id);
        const std::string layer = Layer(id);
        sqlite3_bind_int(ins, 1, id);
        sqlite3_bind_text(ins, 2, name.c_str(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(ins, 3, layer.c_str(), -1, SQLITE_TRANSIENT);
        Check(sqlite3_step(ins), db);
        sqlite3_reset(ins);
    }
    sqlite3_finalize(ins);
    Check(sqlite3_exec(db, "commit;", nullptr, nullptr, nullptr), db);
    sqlite3_stmt* up = nullptr;
    Check(sqlite3_prepare_v2(db, "update BIG set VAL = ? where ID = ?", -1, &up, nullptr), db);
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < kUpdates; ++i) {
        sqlite3_bind_int(up, 1, i + 1);
        sqlite3_bind_int(up, 2, keys[static_cast<std::size_t>(i)]);
        Check(sqlite3_step(up), db);
        sqlite3_reset(up);
        if (sqlite3_changes(db) != 1) throw rtl::Exception("a keyed update changed no row");
    }
    const double s = Seconds(start);
    sqlite3_finalize(up);
    sqlite3_close(db);
    return s;
}

void BM_KeyedUpdatesParadoxAgainstSqlite(benchmark::State& state)
{
    const std::vector<int> keys = RandomKeys();
    for (auto _ : state) {
        TempFolder folder;
        WriteParadoxTable(folder.Path());
        const double paradox = RunParadox(folder.Path(), keys);
        const double sqlite = RunSqlite(folder.Path() + "/native.sqlite", keys);
        state.counters["paradox_s"] = paradox;
        state.counters["sqlite_s"] = sqlite;
        state.counters["ratio"] = paradox / sqlite;
    }
}

BENCHMARK(BM_KeyedUpdatesParadoxAgainstSqlite)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
