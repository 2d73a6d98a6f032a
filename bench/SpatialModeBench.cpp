// Mode 2 (renumbering the map objects of a layer) on a generated pair against
// its floor, on the SQLite test driver and on the Paradox driver.
//
// The pair: one layer of 1,000 sectors of 100 objects (100,000 objects), one
// semantic table keyed on ID with a row per object, an index row per object,
// and links between pairs of objects for a tenth of them. The same pair with
// 100 sectors (10,000 objects) shows how the time grows.
//
// The floor writes the same rows with the same statements, prepared once and
// executed with values computed beforehand (the new identifiers and the new
// sector blobs), in the same per-sector transactions (spatial, with the
// semantic one nested and committed first). Mode 2 adds what it does beyond
// the writes: reading and decoding the blobs, numbering, the map, the
// generator's reservations and the loading of links and sectors.
//
// Every measurement runs in a process of its own on a fresh copy of the
// generated pair, so its peak resident memory (ru_maxrss) is its own: the
// counters give the growth of the peak during the run, which must not grow
// with the number of sectors.
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "Tools/Parvane/ChangeEngine.h"
#include "gismodel/BinIDs.h"
#include "platform/rtl/NumText.h"
#include "tests/support/PdoxOpener.h"
#include "tests/support/TempFolder.h"
#include "tests/support/VelmoFixture.h"

namespace {

using namespace velmotest;
using rtl::Variant;

constexpr int kObjectsPerSector = 100;
// Every 20th object is linked to the next one: a tenth of the objects are in links.
constexpr int kLinkEvery = 20;

const std::string kLayer = Id(1, 5);
const char* const kSemTable = "SEM_DATA";

std::string SectorID(int sector) { return Id(1, static_cast<std::uint32_t>(10 + sector)); }
std::string ObjectID(int sector, int object)
{
    return Id(1, static_cast<std::uint32_t>(100000 + sector * kObjectsPerSector + object));
}
// Mode 2 opens group 2 (the counter of group 1 is in use) and numbers from 1001 in sector and blob order.
std::string NewObjectID(int sector, int object)
{
    return Id(2, static_cast<std::uint32_t>(1001 + sector * kObjectsPerSector + object));
}
bool Linked(int index) { return index % kLinkEvery == 0; }

TVelmoDesc BenchDesc(int sectors)
{
    TVelmoDesc desc;
    desc.Counter(1, 5000).Space(1, "{11111111-1111-1111-1111-111111111111}").Layer(kLayer, "", "Слой");
    std::vector<std::vector<Variant>> rows;
    for (int s = 0; s < sectors; ++s) {
        std::vector<TObjectDesc> objects;
        for (int o = 0; o < kObjectsPerSector; ++o) {
            objects.push_back({ObjectID(s, o), {Id(1, 7)}});
            rows.push_back({Variant(ObjectID(s, o)), Variant("value " + rtl::IntToStr(o))});
            if (Linked(s * kObjectsPerSector + o)) desc.Link(ObjectID(s, o), ObjectID(s, o + 1));
        }
        desc.Sector(TSectorDesc(SectorID(s), kLayer, std::move(objects)));
    }
    desc.SemTable(TSemTableDesc(Id(1, 6), kLayer, "Данные", kSemTable)
                      .Columns({{"ID", udtString, 12, true}, {"VALUE", udtString, 50, false}}, {{"", "ID", true, true}})
                      .Rows(std::move(rows)));
    return desc;
}

// ---- drivers -------------------------------------------------------------------------------

enum TDriver { dSqlite = 0, dParadox = 1 };

TUdbOpener Opener(TDriver driver) { return driver == dSqlite ? SqliteOpener() : PdoxOpener(); }
const char* DriverName(TDriver driver) { return driver == dSqlite ? "SQLite" : "Paradox"; }

// Generates the pair and leaves its files in folder.
void Generate(TDriver driver, int sectors, const std::string& folder)
{
    const TVelmoDbPair pair(BenchDesc(sectors), Opener(driver));
    pair.Spatial().Close();
    pair.Semantic().Close();
    std::filesystem::copy(pair.Folder(), folder, std::filesystem::copy_options::recursive);
}

// ---- measurements in a process of their own --------------------------------------------------

struct TMeasure {
    double seconds = 0;
    long peakBeforeKB = 0; // ru_maxrss when the timed part starts
    long peakAfterKB = 0;  // ... and when it ends
    char error[200] = {};
};

long PeakKB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

// Runs fn in a child process and returns what it measured.
TMeasure InChild(const std::function<void(TMeasure&)>& fn)
{
    int fds[2];
    if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        ::close(fds[0]);
        TMeasure m;
        try {
            fn(m);
        } catch (const std::exception& e) {
            std::snprintf(m.error, sizeof m.error, "%s", e.what());
        }
        const ssize_t written = ::write(fds[1], &m, sizeof m);
        ::_exit(written == static_cast<ssize_t>(sizeof m) ? 0 : 1);
    }
    ::close(fds[1]);
    TMeasure m;
    const ssize_t got = ::read(fds[0], &m, sizeof m);
    ::close(fds[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    if (got != static_cast<ssize_t>(sizeof m) || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("the measuring process failed");
    if (m.error[0]) throw std::runtime_error(m.error);
    return m;
}

double Since(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// A host that shows nothing and chooses the one layer.
class TQuietHost : public IChangeHost {
public:
    void WriteLog(const std::string&) override {}
    bool LogEnabled() override { return true; }
    void StartProgress(const std::string&, std::int32_t) override {}
    void StepProgress(const std::string&, std::int32_t) override {}
    void TickSpinner(bool) override {}
    void EndProgress() override {}
    bool AskBackup(const std::string&) override { return true; }
    void ShowMessage(const std::string&, const std::string&) override {}
    bool SelectSystemObjects(IUdb&, TVelmoSysObjectList&) override { return false; }
    bool SelectLayers(IUdb&, TVelmoSysObjectList& list) override
    {
        list.AddNew(kLayer, "Слой", sokLayer);
        return true;
    }
    void ShowReport(const std::string&) override {}
};

void RunMode(TDriver driver, const std::string& folder, TMeasure& m)
{
    const rtl::RefPtr<IUdb> spatial = Opener(driver)(folder, "spatial");
    const rtl::RefPtr<IUdb> semantic = Opener(driver)(folder, "semantic");
    TQuietHost host;
    TChangeEngine engine(host);
    engine.OpenDatabases(spatial, semantic);
    m.peakBeforeKB = PeakKB();
    const auto start = std::chrono::steady_clock::now();
    engine.Run({cmSpatialObjects, false, false});
    m.seconds = Since(start);
    m.peakAfterKB = PeakKB();
    engine.CloseDatabases();
    if (ReadSectorObjects(*spatial, SectorID(0)).front().ID != NewObjectID(0, 0))
        throw std::runtime_error("mode 2 did not renumber");
}

// The floor's values of one sector, computed before the clock starts.
struct TSectorWrites {
    Variant sector;
    Variant blob;
    std::vector<std::pair<Variant, Variant>> ids;    // new, old
    std::vector<std::pair<Variant, Variant>> links1; // new, old
    std::vector<std::pair<Variant, Variant>> links2;
};

void RunFloor(TDriver driver, int sectors, const std::string& folder, TMeasure& m)
{
    const rtl::RefPtr<IUdb> spatial = Opener(driver)(folder, "spatial");
    const rtl::RefPtr<IUdb> semantic = Opener(driver)(folder, "semantic");
    std::vector<TSectorWrites> writes(static_cast<std::size_t>(sectors));
    for (int s = 0; s < sectors; ++s) {
        TSectorWrites& w = writes[static_cast<std::size_t>(s)];
        w.sector = Variant(SectorID(s));
        std::vector<TObjectDesc> objects;
        for (int o = 0; o < kObjectsPerSector; ++o) {
            objects.push_back({NewObjectID(s, o), {Id(1, 7)}});
            w.ids.emplace_back(Variant(NewObjectID(s, o)), Variant(ObjectID(s, o)));
            const int index = s * kObjectsPerSector + o;
            if (Linked(index)) w.links1.emplace_back(Variant(NewObjectID(s, o)), Variant(ObjectID(s, o)));
            if (index > 0 && Linked(index - 1))
                w.links2.emplace_back(Variant(NewObjectID(s, o)), Variant(ObjectID(s, o)));
        }
        w.blob = Variant(SectorBlob(objects));
    }
    const auto semUpdate = PrepareUpdate(*semantic, kSemTable, {UdbStrParam("ID")}, {UdbStrParam("ID")}, true);
    const auto sectorUpdate =
        PrepareUpdate(*spatial, "VELMO_SECTORS", {UdbBlobParam("OBJECTS")}, {UdbStrParam("ID")}, true);
    const auto objInfoUpdate = PrepareUpdate(*spatial, "VELMO_OBJINFO", {UdbStrParam("ID")},
                                             {UdbStrParam("ID"), UdbStrParam("SECTORID")}, true);
    const auto link1Update =
        PrepareUpdate(*spatial, "VELMO_LINKS", {UdbStrParam("OBJECT1ID")}, {UdbStrParam("OBJECT1ID")}, true);
    const auto link2Update =
        PrepareUpdate(*spatial, "VELMO_LINKS", {UdbStrParam("OBJECT2ID")}, {UdbStrParam("OBJECT2ID")}, true);

    m.peakBeforeKB = PeakKB();
    const auto start = std::chrono::steady_clock::now();
    for (const TSectorWrites& w : writes) {
        spatial->StartTransaction();
        semantic->StartTransaction();
        for (const auto& [newID, oldID] : w.ids) semUpdate->Execute({newID, oldID});
        sectorUpdate->Execute({w.blob, w.sector});
        for (const auto& [newID, oldID] : w.ids) objInfoUpdate->Execute({newID, oldID, w.sector});
        for (const auto& [newID, oldID] : w.links1) link1Update->Execute({newID, oldID});
        for (const auto& [newID, oldID] : w.links2) link2Update->Execute({newID, oldID});
        semantic->Commit();
        spatial->Commit();
    }
    m.seconds = Since(start);
    m.peakAfterKB = PeakKB();
}

struct TSizeResult {
    TMeasure mode;
    TMeasure floor;
};

TSizeResult MeasureSize(TDriver driver, int sectors)
{
    const testing_support::TempFolder work;
    const std::string generated = work.Sub("generated");
    InChild([&](TMeasure&) { Generate(driver, sectors, generated); });
    TSizeResult result;
    const std::string floorCopy = work.File("floor");
    std::filesystem::copy(generated, floorCopy, std::filesystem::copy_options::recursive);
    result.floor = InChild([&](TMeasure& m) { RunFloor(driver, sectors, floorCopy, m); });
    const std::string modeCopy = work.File("mode");
    std::filesystem::copy(generated, modeCopy, std::filesystem::copy_options::recursive);
    result.mode = InChild([&](TMeasure& m) { RunMode(driver, modeCopy, m); });
    return result;
}

long Growth(const TMeasure& m) { return m.peakAfterKB - m.peakBeforeKB; }

std::string Line(const char* driver, int objects, const TSizeResult& r)
{
    return std::string(driver) + ", " + rtl::IntToStr(objects) + " objects: mode 2 " + rtl::FloatToStr(r.mode.seconds) +
           " s, floor " + rtl::FloatToStr(r.floor.seconds) + " s, ratio " +
           rtl::FloatToStr(r.mode.seconds / r.floor.seconds) + "; peak memory grew by " + rtl::IntToStr(Growth(r.mode)) +
           " KB during mode 2 and by " + rtl::IntToStr(Growth(r.floor)) + " KB during the floor\n";
}

void BM_SpatialModeAgainstFloor(benchmark::State& state)
{
    const auto driver = static_cast<TDriver>(state.range(0));
    const int sectors = static_cast<int>(state.range(1));
    for (auto _ : state) {
        const TSizeResult small = MeasureSize(driver, sectors / 10);
        const TSizeResult large = MeasureSize(driver, sectors);
        state.SetIterationTime(large.mode.seconds);
        state.counters["mode_s"] = large.mode.seconds;
        state.counters["floor_s"] = large.floor.seconds;
        state.counters["ratio"] = large.mode.seconds / large.floor.seconds;
        state.counters["mode_small_s"] = small.mode.seconds;
        state.counters["growth"] = large.mode.seconds / small.mode.seconds;
        state.counters["floor_growth"] = large.floor.seconds / small.floor.seconds;
        state.counters["peak_growth_kb"] = static_cast<double>(Growth(large.mode));
        state.counters["peak_growth_small_kb"] = static_cast<double>(Growth(small.mode));
        state.counters["floor_peak_growth_kb"] = static_cast<double>(Growth(large.floor));
        const std::string text = Line(DriverName(driver), sectors / 10 * kObjectsPerSector, small) +
                                 Line(DriverName(driver), sectors * kObjectsPerSector, large) + DriverName(driver) +
                                 ": 10x the objects took " + rtl::FloatToStr(large.mode.seconds / small.mode.seconds) +
                                 "x the time (the floor " + rtl::FloatToStr(large.floor.seconds / small.floor.seconds) +
                                 "x)\n";
        std::fputs(text.c_str(), stdout);
        std::fflush(stdout);
    }
}
BENCHMARK(BM_SpatialModeAgainstFloor)
    ->Args({dSqlite, 1000})
    ->Args({dParadox, 1000})
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

} // namespace
