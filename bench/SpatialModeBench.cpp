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

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "bench/support/ModeBenchSupport.h"
#include "platform/rtl/NumText.h"
#include "tests/support/TempFolder.h"

namespace {

using namespace modebench;
using namespace velmotest;
using rtl::Variant;

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

    TTimedPart timed(m);
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
    timed.Stop();
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
