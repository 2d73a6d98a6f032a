// Tests of mode 2, the renumbering of the map objects of chosen layers,
// driven through a host without a display on the SQLite test driver and on
// the Paradox driver (the pair in two folders and in one): end to end against
// full snapshots of the pair, the active-space option, Cancel, the edge
// cases, the report of missing semantic tables, failures injected at every
// statement and every commit, and a process killed in the middle of a run
// or at any file operation of a run on two folders.
#include "Tools/Parvane/SpatialChanges.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <set>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Tools/Parvane/ChangeEngine.h"
#include "platform/rtl/Exceptions.h"
#include "tests/platform/bde/PxFaultyFileSystem.h"
#include "tests/support/FaultyUdb.h"
#include "tests/support/PdoxOpener.h"
#include "tests/support/TestHelpers.h"
#include "tests/support/VelmoFixture.h"
#include "tests/support/VelmoSnapshot.h"

namespace {

using namespace velmotest;
using testing_support::RaisedMessage;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// ---- the host ------------------------------------------------------------------------------

// Records what the engine asks of the window.
class TTestHost : public IChangeHost {
public:
    std::vector<std::string> log;
    std::vector<std::string> calls;
    std::vector<std::string> reports;
    bool reportFails = false;
    std::function<bool(IUdb&, TVelmoSysObjectList&)> select = [](IUdb&, TVelmoSysObjectList&) { return false; };
    // Called with every recorded call, after it was recorded.
    std::function<void(const std::string&)> onCall;

    void WriteLog(const std::string& entry) override
    {
        log.push_back(entry);
        Record("Log");
    }
    bool LogEnabled() override { return true; }
    void StartProgress(const std::string& text, std::int32_t maximum) override
    {
        Record("StartProgress " + text + " " + std::to_string(maximum));
    }
    void StepProgress(const std::string& text, std::int32_t delta) override
    {
        Record("StepProgress " + text + " " + std::to_string(delta));
    }
    void TickSpinner(bool pump) override { Record(pump ? "Tick" : "Tick without pumping"); }
    void EndProgress() override { Record("EndProgress"); }
    bool AskBackup(const std::string&) override { return true; }
    void ShowMessage(const std::string& text, const std::string& caption) override
    {
        Record("Message [" + caption + "] " + text);
    }
    bool SelectSystemObjects(IUdb& db, TVelmoSysObjectList& list) override { return select(db, list); }
    bool SelectLayers(IUdb& db, TVelmoSysObjectList& list) override { return select(db, list); }
    void ShowReport(const std::string& html) override
    {
        if (reportFails) throw rtl::Exception("no window");
        reports.push_back(html);
        Record("Report");
    }

    // The calls without the log entries and spinner ticks.
    std::vector<std::string> Steps() const
    {
        std::vector<std::string> steps;
        for (const std::string& call : calls)
            if (call != "Log" && call != "Tick") steps.push_back(call);
        return steps;
    }
    // The log entries that are identifier maps of sectors.
    std::vector<std::string> MapEntries() const
    {
        std::vector<std::string> entries;
        for (const std::string& entry : log)
            if (entry.find(" -> ") != std::string::npos) entries.push_back(entry);
        return entries;
    }

private:
    void Record(const std::string& call)
    {
        calls.push_back(call);
        if (onCall) onCall(call);
    }
};

// Chooses these objects in the selection dialog.
std::function<bool(IUdb&, TVelmoSysObjectList&)> Choose(std::vector<std::pair<std::string, std::string>> layers,
                                                        bool withAreaAndMap = true)
{
    return [layers = std::move(layers), withAreaAndMap](IUdb&, TVelmoSysObjectList& list) {
        if (withAreaAndMap) {
            list.AddNew(Id(1, 80), "Город", sokArea);
            list.AddNew(Id(1, 90), "План", sokVectorMap);
        }
        for (const auto& [id, name] : layers) list.AddNew(id, name, sokLayer);
        return true;
    };
}

// ---- pairs on disk -----------------------------------------------------------------------------

enum class TKind { Sqlite, PdoxTwoFolders, PdoxOneFolder };

struct TLayout {
    const char* name;
    const char* id; // for test names
    TKind kind;
};

void PrintTo(const TLayout& layout, std::ostream* os) { *os << layout.name; }

const TLayout kLayouts[] = {
    {"SQLite", "Sqlite", TKind::Sqlite},
    {"Paradox, two folders", "ParadoxTwoFolders", TKind::PdoxTwoFolders},
    {"Paradox, one folder", "ParadoxOneFolder", TKind::PdoxOneFolder},
};

void CopyFolder(const std::string& from, const std::string& to)
{
    std::filesystem::copy(from, to, std::filesystem::copy_options::recursive);
}

// The pairs of these tests live on a memory file system when the machine has
// one: the runs commit hundreds of times, and what the tests look at is what
// a rollback or a killed process leaves, not what reaches the disk.
const std::string& FastTempBase()
{
    static const std::string base = [] {
        const char* shm = "/dev/shm";
        return std::filesystem::is_directory(shm) && ::access(shm, W_OK | X_OK) == 0
                   ? std::string(shm)
                   : std::filesystem::temp_directory_path().string();
    }();
    return base;
}

// Points the temporary folder (TMPDIR) at FastTempBase while it lives, for
// the fixture classes that make their own folders.
class TFastTempScope {
public:
    TFastTempScope()
    {
        if (const char* old = std::getenv("TMPDIR")) previous_ = old;
        ::setenv("TMPDIR", FastTempBase().c_str(), 1);
    }
    ~TFastTempScope()
    {
        if (previous_)
            ::setenv("TMPDIR", previous_->c_str(), 1);
        else
            ::unsetenv("TMPDIR");
    }
    TFastTempScope(const TFastTempScope&) = delete;
    TFastTempScope& operator=(const TFastTempScope&) = delete;

private:
    std::optional<std::string> previous_;
};

// The files of a pair in a folder of its own, and the pair opened on them.
// A pair is built once through the fixture and copied for every run, so that
// many runs stay quick.
class TPairFiles {
public:
    TPairFiles(const TVelmoDesc& desc, TKind kind) : kind_(kind), folder_(NewFolder())
    {
        const TFastTempScope fast;
        if (kind == TKind::PdoxOneFolder) {
            const TOneFolderPdoxPair pair(desc);
            pair.Spatial().Close();
            pair.Semantic().Close();
            CopyFolder(pair.Folder(), folder_);
        } else {
            const TVelmoDbPair pair(desc, kind == TKind::Sqlite ? SqliteOpener() : PdoxOpener());
            pair.Spatial().Close();
            pair.Semantic().Close();
            CopyFolder(pair.Folder(), folder_);
        }
    }
    TPairFiles(const TPairFiles& source, TKind kind) : kind_(kind), folder_(NewFolder())
    {
        CopyFolder(source.folder_, folder_);
    }
    ~TPairFiles()
    {
        Close();
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    // Another pair holding the same files.
    std::unique_ptr<TPairFiles> Copy() const { return std::make_unique<TPairFiles>(*this, kind_); }

    void Open()
    {
        const std::string& f = folder_;
        switch (kind_) {
        case TKind::Sqlite:
            spatial_ = SqliteOpener()(f, "spatial");
            semantic_ = SqliteOpener()(f, "semantic");
            break;
        case TKind::PdoxTwoFolders:
            spatial_ = PdoxOpener()(f, "spatial");
            semantic_ = PdoxOpener()(f, "semantic");
            break;
        case TKind::PdoxOneFolder:
            spatial_ = rtl::MakeRef<TCappedPdoxUdb>();
            spatial_->Open(PdoxParamsXml(f));
            semantic_ = rtl::MakeRef<TCappedPdoxUdb>();
            semantic_->Open(PdoxParamsXml(f));
            break;
        }
    }
    // The two Paradox folders with every file operation going through fs
    // (nullptr: the real file system), the databases opened in this order.
    void OpenFolders(bde::PxFileSystem* fs, bool semanticFirst)
    {
        OpenPdoxPair(folder_, fs, semanticFirst, spatial_, semantic_);
    }
    // Each database is closed even when the other one's close fails.
    void Close() noexcept { ClosePair(spatial_, semantic_); }

    const rtl::RefPtr<IUdb>& Spatial() const { return spatial_; }
    const rtl::RefPtr<IUdb>& Semantic() const { return semantic_; }
    const std::string& Folder() const { return folder_; }

private:
    static std::string NewFolder()
    {
        std::string pattern = FastTempBase() + "/spatialmode-XXXXXX";
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed for " + pattern);
        return pattern;
    }

    TKind kind_;
    std::string folder_;
    rtl::RefPtr<IUdb> spatial_;
    rtl::RefPtr<IUdb> semantic_;
};

std::unique_ptr<TPairFiles> OpenPair(const TVelmoDesc& desc, TKind kind)
{
    auto pair = std::make_unique<TPairFiles>(desc, kind);
    pair->Open();
    return pair;
}

// ---- the fixture -------------------------------------------------------------------------------

const char* const kGuid1 = "{11111111-1111-1111-1111-111111111111}";

const std::string kRoads = Id(1, 100);  // layer "Дороги": sectors S1 (o1-o3), S2 (o4, o5), S3 (empty)
const std::string kEmpty = Id(1, 150);  // layer "Пустой": no sector
const std::string kHouses = Id(1, 200); // layer "Дома": sectors S4 (o6, o7), S5 (o8)
const std::string kOther = Id(1, 300);  // layer "Прочее", never chosen: S6 (oX)
const std::string kStyle = Id(1, 50);

std::string S(int n) { return Id(1, static_cast<std::uint32_t>(10 + n)); }
std::string O(int n) { return Id(1, static_cast<std::uint32_t>(2000 + n)); }
const std::string kOX = Id(1, 2999);
// The n-th identifier issued in the new space (group 2).
std::string New(int n) { return Id(2, static_cast<std::uint32_t>(1000 + n)); }

const rtl::ByteArray kData = {0x01, 0x02};

TObjectDesc Obj(const std::string& id) { return {id, {kStyle}}; }

std::vector<std::pair<std::string, rtl::Variant>> ObjInfo(const std::string& id, const std::string& layer,
                                                           const std::string& sector)
{
    return {{"ID", rtl::Variant(id)},
            {"LAYERID", rtl::Variant(layer)},
            {"SECTORID", rtl::Variant(sector)},
            {"DATA", rtl::Variant(kData)}};
}

std::vector<rtl::Variant> SemRow(const std::string& id, const char* value)
{
    return {rtl::Variant(id), rtl::Variant(value)};
}

// Two chosen layers with semantic tables (one with several rows per object),
// links in both columns, index rows carrying DATA (o5 has none, o3 has no
// semantic row) and a layer that is never chosen.
TVelmoDesc BaseDesc()
{
    return TVelmoDesc()
        .Counter(1, 5000)
        .Space(1, kGuid1)
        .Pref("NOID", "NOID", "NOID", "SERVERID", "server")
        .Area(Id(1, 80), "Город")
        .Map(Id(1, 90), Id(1, 80), "План")
        .Layer(kRoads, Id(1, 90), "Дороги")
        .Layer(kEmpty, Id(1, 90), "Пустой")
        .Layer(kHouses, Id(1, 90), "Дома")
        .Layer(kOther, Id(1, 90), "Прочее")
        .SemTable(TSemTableDesc(Id(1, 60), kRoads, "Дороги", "SEM_ROADS")
                      .Rows({SemRow(O(1), "a"), SemRow(O(2), "b"), SemRow(O(4), "d"), SemRow(O(5), "e")}))
        .SemTable(TSemTableDesc(Id(1, 61), kHouses, "Дома", "SEM_HOUSES")
                      .Rows({SemRow(O(6), "f"), SemRow(O(7), "g"), SemRow(O(8), "h")}))
        .SemTable(TSemTableDesc(Id(1, 62), kHouses, "Владельцы", "SEM_OWNERS", 1)
                      .Rows({SemRow(O(6), "x1"), SemRow(O(6), "x2"), SemRow(O(8), "y")}))
        .SemTable(TSemTableDesc(Id(1, 63), kOther, "Прочее", "SEM_OTHER").Rows({SemRow(kOX, "z")}))
        .Sector(TSectorDesc(S(1), kRoads, {Obj(O(1)), Obj(O(2)), Obj(O(3))}).WithoutObjInfo())
        .Sector(TSectorDesc(S(2), kRoads, {Obj(O(4)), Obj(O(5))}).WithoutObjInfo())
        .Sector(TSectorDesc(S(3), kRoads, {}).WithoutObjInfo())
        .Sector(TSectorDesc(S(4), kHouses, {Obj(O(6)), Obj(O(7))}).WithoutObjInfo())
        .Sector(TSectorDesc(S(5), kHouses, {Obj(O(8))}).WithoutObjInfo())
        .Sector(TSectorDesc(S(6), kOther, {Obj(kOX)}).WithoutObjInfo())
        .Row("VELMO_OBJINFO", ObjInfo(O(1), kRoads, S(1)))
        .Row("VELMO_OBJINFO", ObjInfo(O(2), kRoads, S(1)))
        .Row("VELMO_OBJINFO", ObjInfo(O(3), kRoads, S(1)))
        .Row("VELMO_OBJINFO", ObjInfo(O(4), kRoads, S(2)))
        .Row("VELMO_OBJINFO", ObjInfo(O(6), kHouses, S(4)))
        .Row("VELMO_OBJINFO", ObjInfo(O(7), kHouses, S(4)))
        .Row("VELMO_OBJINFO", ObjInfo(O(8), kHouses, S(5)))
        .Row("VELMO_OBJINFO", ObjInfo(kOX, kOther, S(6)))
        .Link(O(1), O(4))
        .Link(O(2), kOX)
        .Link(kOX, O(6))
        .Link(O(7), O(8));
}

// Two chosen layers of one sector with objects each, for the runs that fail
// at every statement and commit: an object without an index row, a table with
// several rows per object, links in both columns, a layer not chosen.
TVelmoDesc FaultDesc()
{
    return TVelmoDesc()
        .Counter(1, 5000)
        .Space(1, kGuid1)
        .Layer(kRoads, "", "Дороги")
        .Layer(kHouses, "", "Дома")
        .Layer(kOther, "", "Прочее")
        .SemTable(TSemTableDesc(Id(1, 60), kRoads, "Дороги", "SEM_ROADS").Rows({SemRow(O(1), "a"), SemRow(O(2), "b")}))
        .SemTable(TSemTableDesc(Id(1, 61), kHouses, "Дома", "SEM_HOUSES").Rows({SemRow(O(6), "f")}))
        .SemTable(TSemTableDesc(Id(1, 62), kHouses, "Владельцы", "SEM_OWNERS", 1)
                      .Rows({SemRow(O(6), "x1"), SemRow(O(6), "x2")}))
        .Sector(TSectorDesc(S(1), kRoads, {Obj(O(1)), Obj(O(2))}).WithoutObjInfo())
        .Sector(TSectorDesc(S(4), kHouses, {Obj(O(6))}))
        .Sector(TSectorDesc(S(6), kOther, {Obj(kOX)}))
        .Row("VELMO_OBJINFO", ObjInfo(O(1), kRoads, S(1)))
        .Link(O(1), O(6))
        .Link(kOX, O(2));
}

const std::vector<std::pair<std::string, std::string>> kChosen = {
    {kRoads, "Дороги"}, {kEmpty, "Пустой"}, {kHouses, "Дома"}};

// ---- reading a pair back ---------------------------------------------------------------------------

// Tables every run changes whatever the mode does: the counter and the
// identifier spaces (the generator) and the stored preferences.
const std::set<std::string> kRunFrameTables = {"VELMO_DBINFO", "VELMO_IDMAPER", "VELMO_PREFS"};

TPairSnapshot Snapshot(IUdb& spatial, IUdb& semantic)
{
    TPairSnapshot snapshot = SnapshotPair(spatial, semantic);
    for (const std::string& table : kRunFrameTables) snapshot.erase(table);
    return snapshot;
}

using TIDPairs = std::vector<std::pair<std::string, std::string>>;

// snapshot with every old identifier text replaced by its new one.
TPairSnapshot Renamed(TPairSnapshot snapshot, const TIDPairs& pairs)
{
    for (auto& [table, rows] : snapshot) {
        for (std::string& row : rows)
            for (const auto& [oldID, newID] : pairs)
                for (std::size_t at = row.find(oldID); at != std::string::npos; at = row.find(oldID, at + newID.size()))
                    row.replace(at, oldID.size(), newID);
        std::sort(rows.begin(), rows.end());
    }
    return snapshot;
}

// The index row the run inserts for an object that had none, in the column
// order of the driver (read from a row of the table).
std::string InsertedObjInfoRow(const TPairSnapshot& snapshot, const std::string& id, const std::string& layer,
                               const std::string& sector)
{
    const TSnapshotRows& rows = snapshot.at("VELMO_OBJINFO");
    if (rows.empty()) return "<no row to copy the column order from>";
    const std::map<std::string, std::string> values = {
        {"ID", id}, {"LAYERID", layer}, {"SECTORID", sector}, {"DATA", "<null>"}};
    std::string row;
    std::size_t start = 0;
    const std::string& model = rows.front();
    while (start < model.size()) {
        const std::size_t end = std::min(model.find(' ', start), model.size());
        const std::string column = model.substr(start, model.find('=', start) - start);
        if (!row.empty()) row += " ";
        row += column + "=" + values.at(column);
        start = end + 1;
    }
    return row;
}

void AddRow(TPairSnapshot& snapshot, const std::string& table, const std::string& row)
{
    TSnapshotRows& rows = snapshot[table];
    rows.push_back(row);
    std::sort(rows.begin(), rows.end());
}

std::vector<std::string> SectorIDs(IUdb& spatial)
{
    std::vector<std::string> ids;
    for (const TRow& row : ReadRows(spatial, "VELMO_SECTORS", {"ID"})) ids.push_back(row[0]);
    return ids;
}

std::vector<std::string> ObjectIDs(IUdb& spatial, const std::string& sector)
{
    std::vector<std::string> ids;
    for (const TObjectDesc& o : ReadSectorObjects(spatial, sector)) ids.push_back(o.ID);
    return ids;
}

// The log entry of a sector's map: pairs sorted by old identifier.
std::string MapEntry(TIDPairs pairs)
{
    std::sort(pairs.begin(), pairs.end());
    std::string entry;
    for (const auto& [oldID, newID] : pairs) entry += (entry.empty() ? "" : "\r\n") + ("\"" + oldID + "\" -> \"" + newID + "\"");
    return entry;
}

// Every identifier text of a given group found in the snapshot's rows.
std::vector<std::uint32_t> NumbersOfGroup(const TPairSnapshot& snapshot, std::uint16_t group)
{
    std::vector<std::uint32_t> numbers;
    for (const auto& [table, rows] : snapshot)
        for (const std::string& row : rows)
            for (const std::string& text : IdentifierTexts(row)) {
                const TBinIDRec rec = SplitBinID(StrToBinID(text));
                if (rec.Group == group) numbers.push_back(rec.Number);
            }
    return numbers;
}

// What a pair holds, for the whole-sector check.
struct TPairState {
    TPairSnapshot snapshot;
    std::map<std::string, std::vector<std::string>> objects; // by sector
    std::set<std::string> indexed;                           // objects with an index row
    std::map<std::string, std::string> layerOf;              // sector -> layer
};

TPairState ReadState(IUdb& spatial, IUdb& semantic)
{
    TPairState state;
    state.snapshot = Snapshot(spatial, semantic);
    for (const std::string& sector : SectorIDs(spatial)) state.objects[sector] = ObjectIDs(spatial, sector);
    for (const TRow& row : ReadRows(spatial, "VELMO_OBJINFO", {"ID"})) state.indexed.insert(row[0]);
    for (const TRow& row : ReadRows(spatial, "VELMO_SECTORS", {"ID", "LAYERID"})) state.layerOf[row[0]] = row[1];
    return state;
}

// Every sector is either wholly renumbered in both databases or untouched,
// the log holds the maps of exactly the renumbered sectors, and the counter
// of the current group lies at or above every number the pair holds.
// Returns the renumbered sectors.
std::set<std::string> ExpectWholeSectors(const TPairState& before, IUdb& spatial, IUdb& semantic,
                                         const std::vector<std::string>& mapEntries)
{
    const TPairState after = ReadState(spatial, semantic);
    TIDPairs pairs;
    std::set<std::string> renamed;
    std::vector<std::string> expectedEntries;
    std::vector<std::pair<std::string, std::string>> inserted; // object, sector
    for (const auto& [sector, oldIDs] : before.objects) {
        const std::vector<std::string>& newIDs = after.objects.at(sector);
        if (newIDs == oldIDs) continue;
        renamed.insert(sector);
        EXPECT_EQ(newIDs.size(), oldIDs.size()) << sector;
        TIDPairs sectorPairs;
        for (std::size_t i = 0; i < std::min(oldIDs.size(), newIDs.size()); ++i) {
            EXPECT_NE(oldIDs[i], newIDs[i]) << "sector " << sector << " renumbered in part";
            sectorPairs.emplace_back(oldIDs[i], newIDs[i]);
            if (!before.indexed.count(oldIDs[i])) inserted.emplace_back(newIDs[i], sector);
        }
        expectedEntries.push_back(MapEntry(sectorPairs));
        pairs.insert(pairs.end(), sectorPairs.begin(), sectorPairs.end());
    }
    TPairSnapshot expected = Renamed(before.snapshot, pairs);
    for (const auto& [id, sector] : inserted)
        AddRow(expected, "VELMO_OBJINFO", InsertedObjInfoRow(before.snapshot, id, before.layerOf.at(sector), sector));
    EXPECT_THAT(DiffSnapshots(expected, after.snapshot), ::testing::IsEmpty());

    std::vector<std::string> logged = mapEntries;
    std::sort(logged.begin(), logged.end());
    std::sort(expectedEntries.begin(), expectedEntries.end());
    EXPECT_EQ(logged, expectedEntries);

    const TRows counter = ReadRows(spatial, "VELMO_DBINFO", {"IDGROUP", "IDNUMBER"});
    EXPECT_EQ(counter.size(), 1u);
    if (counter.size() == 1) {
        const auto group = static_cast<std::uint16_t>(std::stoi(counter[0][0]));
        const auto number = static_cast<std::uint32_t>(std::stoul(counter[0][1]));
        for (const std::uint32_t used : NumbersOfGroup(after.snapshot, group))
            EXPECT_LE(used, number) << "a number of group " << group << " lies above the counter";
    }
    EXPECT_FALSE(spatial.InTransaction());
    EXPECT_FALSE(semantic.InTransaction());
    return renamed;
}

std::string ResultPrefix(const char* state, int changed)
{
    return std::string("Message [") + state + "] " + state + "\r\nИзменено: " + std::to_string(changed) + "\r\n";
}

// ---- end to end ------------------------------------------------------------------------------------

// Every renumbered object carries its new identifier in the blob, in its
// semantic rows, in its index row (DATA kept; o5 gets a row) and in both link
// columns; new identifiers are consecutive in layer, sector and blob order;
// nothing else changes beyond the run frame's tables.
TEST(SpatialMode, RenumbersEveryPlaceThatNamesAnObject)
{
    for (const TLayout& layout : kLayouts) {
        SCOPED_TRACE(layout.name);
        const auto pair = OpenPair(BaseDesc(), layout.kind);
        const TPairSnapshot before = Snapshot(*pair->Spatial(), *pair->Semantic());
        const TRows dbInfo = ReadRows(*pair->Spatial(), "VELMO_DBINFO", {"DBID", "DBCAPTION", "VERSION"});
        TTestHost host;
        host.select = Choose(kChosen);
        TChangeEngine engine(host);
        engine.OpenDatabases(pair->Spatial(), pair->Semantic());
        engine.Run({cmSpatialObjects, false, false});

        const TIDPairs pairs = {{O(1), New(1)}, {O(2), New(2)}, {O(3), New(3)}, {O(4), New(4)},
                                {O(5), New(5)}, {O(6), New(6)}, {O(7), New(7)}, {O(8), New(8)}};
        TPairSnapshot expected = Renamed(before, pairs);
        AddRow(expected, "VELMO_OBJINFO", InsertedObjInfoRow(before, New(5), kRoads, S(2)));
        EXPECT_THAT(DiffSnapshots(expected, Snapshot(*pair->Spatial(), *pair->Semantic())), ::testing::IsEmpty());
        // Spelled out for the places the snapshot shows less plainly.
        EXPECT_EQ(ObjectIDs(*pair->Spatial(), S(1)), (std::vector<std::string>{New(1), New(2), New(3)}));
        EXPECT_EQ(ReadRows(*pair->Spatial(), "VELMO_LINKS", {"OBJECT1ID", "OBJECT2ID"}),
                  (TRows{{kOX, New(6)}, {New(1), New(4)}, {New(2), kOX}, {New(7), New(8)}}));
        EXPECT_EQ(ReadRows(*pair->Semantic(), "SEM_OWNERS", {"ID", "VALUE"}),
                  (TRows{{New(6), "x1"}, {New(6), "x2"}, {New(8), "y"}}));
        EXPECT_EQ(ReadRows(*pair->Spatial(), "VELMO_OBJINFO", {"ID", "DATA"}).front(), (TRow{kOX, "x'0102'"}));

        // The run frame: a new space, the preference gone; the counter written back at the end.
        EXPECT_EQ(ReadRows(*pair->Spatial(), "VELMO_DBINFO", {"DBID", "DBCAPTION", "VERSION"}), dbInfo);
        const TRows spaces = ReadRows(*pair->Spatial(), "VELMO_IDMAPER", {"LOCALID", "GLOBALID"});
        ASSERT_EQ(spaces.size(), 2u);
        EXPECT_EQ(spaces[0], (TRow{"1", kGuid1}));
        EXPECT_EQ(spaces[1][0], "2");
        EXPECT_EQ(CountRows(*pair->Spatial(), "VELMO_PREFS"), 0);
        engine.CloseDatabases();
        EXPECT_EQ(ReadRows(*pair->Spatial(), "VELMO_DBINFO", {"IDGROUP", "IDNUMBER"}), (TRows{{"2", "1008"}}));

        EXPECT_EQ(engine.ChangedCount(), 8);
        ASSERT_GE(host.log.size(), 4u);
        EXPECT_EQ(std::vector<std::string>(host.log.begin() + 3, host.log.end()),
                  (std::vector<std::string>{"Изменение идентификаторов пространственных данных",
                                            MapEntry({{O(1), New(1)}, {O(2), New(2)}, {O(3), New(3)}}),
                                            MapEntry({{O(4), New(4)}, {O(5), New(5)}}),
                                            MapEntry({{O(6), New(6)}, {O(7), New(7)}}),
                                            MapEntry({{O(8), New(8)}}), "Процесс завершен"}));
        EXPECT_THAT(host.Steps().back(), StartsWith(ResultPrefix("Операция завершена", 8)));
        EXPECT_TRUE(host.reports.empty());
    }
}

// The phases with their progress texts, in order; the third sector of a
// layer shows 2 and the count.
TEST(SpatialMode, ProgressTextsAndSpinner)
{
    const auto pair = OpenPair(BaseDesc(), TKind::Sqlite);
    TTestHost host;
    host.select = Choose(kChosen);
    TChangeEngine engine(host);
    engine.OpenDatabases(pair->Spatial(), pair->Semantic());
    engine.Run({cmSpatialObjects, false, false});

    std::vector<std::string> steps = host.Steps();
    ASSERT_FALSE(steps.empty());
    steps.pop_back(); // the result message
    const std::string links = "StepProgress Загрузка топосвязей 1";
    const std::string sectors = "StepProgress Загрузка списка секторов 0";
    const std::string tables = "StepProgress Загрузка списка семантических таблиц 0";
    EXPECT_EQ(steps, (std::vector<std::string>{
                         "StartProgress Проверка существования семантических таблиц 4", "EndProgress",
                         "StartProgress Загрузка топосвязей 0", links, links, links, links, links, links, links, links,
                         "EndProgress", "StartProgress Изменение идентификаторов пространственных данных 3",
                         "StepProgress Слой: Дороги 1", sectors, sectors, sectors, tables,
                         "StepProgress Слой: Дороги (cектор 0 из 3) 0", "StepProgress Слой: Дороги (cектор 1 из 3) 0",
                         "StepProgress Слой: Дороги (cектор 2 из 3) 0", "StepProgress Слой: Пустой 1",
                         "StepProgress Слой: Дома 1", sectors, sectors, tables, tables,
                         "StepProgress Слой: Дома (cектор 0 из 2) 0", "StepProgress Слой: Дома (cектор 1 из 2) 0",
                         "EndProgress"}));
    // The spinner turns after each blob read, after each table's rows and after each blob write.
    const auto first = std::find(host.calls.begin(), host.calls.end(), "StepProgress Слой: Дома (cектор 0 из 2) 0");
    const auto next = std::find(first, host.calls.end(), "StepProgress Слой: Дома (cектор 1 из 2) 0");
    EXPECT_EQ(std::count(first, next, std::string("Tick")), 4);
}

// With the option, only identifiers of the group that was current when the
// pair was opened change; the others keep their rows, index rows and links,
// and a sector with nothing to change is neither written nor logged.
TEST(SpatialMode, ActiveSpaceOptionLeavesOtherGroupsAlone)
{
    const std::string a = Id(3, 7);
    const std::string b = Id(3, 8);
    const TVelmoDesc desc = TVelmoDesc()
                                .Counter(1, 5000)
                                .Space(1, kGuid1)
                                .Space(3, "{33333333-3333-3333-3333-333333333333}")
                                .Layer(kRoads, "", "Дороги")
                                .SemTable(TSemTableDesc(Id(1, 60), kRoads, "Дороги", "SEM_ROADS")
                                              .Rows({SemRow(O(1), "a"), SemRow(a, "b"), SemRow(b, "c")}))
                                .Sector(TSectorDesc(S(1), kRoads, {Obj(a), Obj(O(1)), Obj(O(2))}).WithoutObjInfo())
                                .Sector(TSectorDesc(S(2), kRoads, {Obj(b)}).WithoutObjInfo())
                                .Row("VELMO_OBJINFO", ObjInfo(a, kRoads, S(1)))
                                .Row("VELMO_OBJINFO", ObjInfo(O(1), kRoads, S(1)))
                                .Row("VELMO_OBJINFO", ObjInfo(O(2), kRoads, S(1)))
                                .Row("VELMO_OBJINFO", ObjInfo(b, kRoads, S(2)))
                                .Link(a, O(1))
                                .Link(O(2), b);
    for (const TLayout& layout : kLayouts) {
        SCOPED_TRACE(layout.name);
        const auto pair = OpenPair(desc, layout.kind);
        const TPairSnapshot before = Snapshot(*pair->Spatial(), *pair->Semantic());
        TTestHost host;
        host.select = Choose({{kRoads, "Дороги"}}, false);
        TChangeEngine engine(host);
        engine.OpenDatabases(pair->Spatial(), pair->Semantic());
        engine.Run({cmSpatialObjects, false, true});

        EXPECT_THAT(DiffSnapshots(Renamed(before, {{O(1), New(1)}, {O(2), New(2)}}),
                                  Snapshot(*pair->Spatial(), *pair->Semantic())),
                    ::testing::IsEmpty());
        EXPECT_EQ(ObjectIDs(*pair->Spatial(), S(1)), (std::vector<std::string>{a, New(1), New(2)}));
        EXPECT_EQ(host.MapEntries(), (std::vector<std::string>{MapEntry({{O(1), New(1)}, {O(2), New(2)}})}));
        EXPECT_EQ(engine.ChangedCount(), 2);
    }
}

// Cancel confirmed while a sector's step is shown: that sector is finished,
// the rest stays untouched, and the result says so.
TEST(SpatialMode, CancelBetweenSectorsKeepsCommittedSectorsWhole)
{
    for (const TLayout& layout : kLayouts) {
        SCOPED_TRACE(layout.name);
        const auto pair = OpenPair(BaseDesc(), layout.kind);
        const TPairState before = ReadState(*pair->Spatial(), *pair->Semantic());
        TTestHost host;
        host.select = Choose(kChosen);
        TChangeEngine engine(host);
        host.onCall = [&](const std::string& call) {
            if (call == "StepProgress Слой: Дороги (cектор 1 из 3) 0") engine.Cancel();
        };
        engine.OpenDatabases(pair->Spatial(), pair->Semantic());
        engine.Run({cmSpatialObjects, false, false});

        EXPECT_EQ(ExpectWholeSectors(before, *pair->Spatial(), *pair->Semantic(), host.MapEntries()),
                  (std::set<std::string>{S(1), S(2)}));
        const std::vector<std::string> steps = host.Steps();
        EXPECT_EQ(std::count(steps.begin(), steps.end(), "StepProgress Слой: Дома 1"), 0);
        EXPECT_THAT(steps.back(), StartsWith(ResultPrefix("Операция прервана пользователем", 5)));
    }
}

// ---- edge cases ------------------------------------------------------------------------------------

TEST(SpatialModeEdges, NoLayerChosenDoesNothing)
{
    const auto pair = OpenPair(BaseDesc(), TKind::Sqlite);
    const TPairSnapshot before = Snapshot(*pair->Spatial(), *pair->Semantic());
    TTestHost host;
    host.select = Choose({});
    TChangeEngine engine(host);
    engine.OpenDatabases(pair->Spatial(), pair->Semantic());
    engine.Run({cmSpatialObjects, false, false});
    EXPECT_THAT(DiffSnapshots(before, Snapshot(*pair->Spatial(), *pair->Semantic())), ::testing::IsEmpty());
    ASSERT_EQ(host.Steps().size(), 1u);
    EXPECT_THAT(host.Steps()[0], StartsWith(ResultPrefix("Операция завершена", 0)));
}

// A layer without sectors shows its step only; a sector without objects is
// neither reserved for nor wrapped in a transaction.
TEST(SpatialModeEdges, LayerWithoutSectorsAndEmptySectorWriteNothing)
{
    const TVelmoDesc desc = TVelmoDesc()
                                .Counter(1, 1000)
                                .Space(1, kGuid1)
                                .Layer(kRoads, "", "Дороги")
                                .Layer(kEmpty, "", "Пустой")
                                .SemTable(TSemTableDesc(Id(1, 60), kRoads, "Дороги", "SEM_ROADS"))
                                .Sector(TSectorDesc(S(1), kRoads, {}))
                                .Sector(TSectorDesc(S(2), kRoads, {}).Blob({}));
    for (const TLayout& layout : kLayouts) {
        SCOPED_TRACE(layout.name);
        const auto pair = OpenPair(desc, layout.kind);
        const TPairSnapshot before = Snapshot(*pair->Spatial(), *pair->Semantic());
        const auto spatial = WrapFaulty(pair->Spatial());
        const auto semantic = WrapFaulty(pair->Semantic());
        TTestHost host;
        host.select = Choose({{kEmpty, "Пустой"}, {kRoads, "Дороги"}}, false);
        TChangeEngine engine(host);
        engine.OpenDatabases(spatial, semantic);
        engine.Run({cmSpatialObjects, false, false});

        EXPECT_EQ(spatial->Commits() + semantic->Commits(), 0);
        EXPECT_EQ(engine.IDGenerator().Reserved(), 1000);
        EXPECT_THAT(DiffSnapshots(before, Snapshot(*pair->Spatial(), *pair->Semantic())), ::testing::IsEmpty());
        const std::vector<std::string> steps = host.Steps();
        const auto layer = std::find(steps.begin(), steps.end(), "StepProgress Слой: Пустой 1");
        ASSERT_NE(layer, steps.end());
        EXPECT_EQ(*(layer + 1), "StepProgress Слой: Дороги 1");
    }
}

// The generator's bound is written before a sector only when the numbers
// reserved run short, and then for several sectors of that size at once:
// ten sectors the first time, twice as many each time after. A sector of
// two objects asks for three numbers (its table and its objects) and takes
// two, so the first bound (30) lasts fourteen sectors and the fifteenth
// reserves 60 from its first number. The numbers not issued are given back
// at the end.
TEST(SpatialModeEdges, ReservationsCoverSeveralSectorsAndGrow)
{
    const struct {
        const char* name;
        int sectors;
        std::vector<std::string> bounds; // the bound as each sector starts
        std::string last;                // the number written back at the end
    } cases[] = {
        {"one reservation", 3, {"1000", "1030", "1030"}, "1006"},
        {"the second twice as large", 16,
         {"1000", "1030", "1030", "1030", "1030", "1030", "1030", "1030", "1030", "1030", "1030", "1030", "1030", "1030",
          "1030", "1088"},
         "1032"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TVelmoDesc desc = TVelmoDesc()
                              .Counter(1, 5000)
                              .Space(1, kGuid1)
                              .Layer(kRoads, "", "Дороги")
                              .SemTable(TSemTableDesc(Id(1, 60), kRoads, "Дороги", "SEM_ROADS"));
        for (int i = 1; i <= c.sectors; ++i) desc.Sector(TSectorDesc(S(i), kRoads, {Obj(O(2 * i - 1)), Obj(O(2 * i))}));
        const auto pair = OpenPair(desc, TKind::Sqlite);
        TTestHost host;
        host.select = Choose({{kRoads, "Дороги"}}, false);
        std::vector<std::string> bounds;
        host.onCall = [&](const std::string& call) {
            if (call.find("cектор") != std::string::npos)
                bounds.push_back(ReadRows(*pair->Spatial(), "VELMO_DBINFO", {"IDNUMBER"})[0][0]);
        };
        TChangeEngine engine(host);
        engine.OpenDatabases(pair->Spatial(), pair->Semantic());
        engine.Run({cmSpatialObjects, false, false});
        EXPECT_EQ(bounds, c.bounds);
        engine.CloseDatabases();
        EXPECT_EQ(ReadRows(*pair->Spatial(), "VELMO_DBINFO", {"IDGROUP", "IDNUMBER"}), (TRows{{"2", c.last}}));
    }
}

// The same object in two sectors with a link: the second sector's link
// update finds no row and the sector fails with the assertion, rolled back;
// the first stays renumbered.
TEST(SpatialModeEdges, ALinkUpdateThatFindsNoRowFailsTheSector)
{
    const TVelmoDesc desc = TVelmoDesc()
                                .Counter(1, 5000)
                                .Space(1, kGuid1)
                                .Layer(kRoads, "", "Дороги")
                                .SemTable(TSemTableDesc(Id(1, 60), kRoads, "Дороги", "SEM_ROADS"))
                                .Sector(TSectorDesc(S(1), kRoads, {Obj(O(1))}))
                                .Sector(TSectorDesc(S(2), kRoads, {Obj(O(2)), Obj(O(1))}).WithoutObjInfo())
                                .Link(O(1), O(9));
    for (const TLayout& layout : kLayouts) {
        SCOPED_TRACE(layout.name);
        const auto pair = OpenPair(desc, layout.kind);
        TTestHost host;
        host.select = Choose({{kRoads, "Дороги"}}, false);
        TChangeEngine engine(host);
        engine.OpenDatabases(pair->Spatial(), pair->Semantic());
        EXPECT_THAT(RaisedMessage<rtl::EAssertionFailed>([&] { engine.Run({cmSpatialObjects, false, false}); }),
                    StartsWith("can't change topolinks ("));
        // o1 stands in both sectors, so the snapshot is compared by hand.
        EXPECT_EQ(ObjectIDs(*pair->Spatial(), S(1)), (std::vector<std::string>{New(1)}));
        EXPECT_EQ(ObjectIDs(*pair->Spatial(), S(2)), (std::vector<std::string>{O(2), O(1)}));
        EXPECT_EQ(ReadRows(*pair->Spatial(), "VELMO_LINKS", {"OBJECT1ID", "OBJECT2ID"}), (TRows{{New(1), O(9)}}));
        EXPECT_EQ(ReadRows(*pair->Spatial(), "VELMO_OBJINFO", {"ID", "SECTORID"}), (TRows{{New(1), S(1)}}));
        EXPECT_EQ(host.MapEntries(), (std::vector<std::string>{MapEntry({{O(1), New(1)}})}));
        EXPECT_FALSE(pair->Spatial()->InTransaction());
        EXPECT_EQ(host.log.back(), "Процесс завершен");
        EXPECT_EQ(host.Steps().back(), "EndProgress");
    }
}

// A blob that holds one identifier twice would give it two new ones: the
// sector is refused before its transaction, with the sector and the object named.
TEST(SpatialModeEdges, ASectorHoldingAnIdentifierTwiceIsRefused)
{
    const TVelmoDesc desc = TVelmoDesc()
                                .Counter(1, 5000)
                                .Space(1, kGuid1)
                                .Layer(kRoads, "", "Дороги")
                                .SemTable(TSemTableDesc(Id(1, 60), kRoads, "Дороги", "SEM_ROADS").Rows({SemRow(O(3), "c")}))
                                .Sector(TSectorDesc(S(1), kRoads, {Obj(O(1))}))
                                .Sector(TSectorDesc(S(2), kRoads, {Obj(O(3)), Obj(O(2)), Obj(O(3))}).WithoutObjInfo());
    for (const TLayout& layout : kLayouts) {
        SCOPED_TRACE(layout.name);
        const auto pair = OpenPair(desc, layout.kind);
        const TPairState before = ReadState(*pair->Spatial(), *pair->Semantic());
        const auto spatial = WrapFaulty(pair->Spatial());
        TTestHost host;
        host.select = Choose({{kRoads, "Дороги"}}, false);
        TChangeEngine engine(host);
        engine.OpenDatabases(spatial, pair->Semantic());
        EXPECT_EQ(RaisedMessage<rtl::Exception>([&] { engine.Run({cmSpatialObjects, false, false}); }),
                  "Сектор " + S(2) + " содержит объект " + O(3) +
                      " более одного раза: новые идентификаторы его объектов не назначены");
        EXPECT_EQ(spatial->Commits(), 1); // the first sector only
        EXPECT_EQ(ExpectWholeSectors(before, *pair->Spatial(), *pair->Semantic(), host.MapEntries()),
                  (std::set<std::string>{S(1)}));
    }
}

// ---- the report of missing semantic tables -----------------------------------------------------------

std::string ReportRow(const std::string& a, const std::string& b, const std::string& c)
{
    return "<tr><td>" + a + "</td><td>" + b + "</td><td>" + c + "</td></tr>";
}

// Missing tables of the chosen layers are reported with every link-type
// text and their names escaped; the run goes on, and the layer whose table is
// missing fails cleanly at its first sector with objects, that sector rolled
// back and the sectors before it kept.
TEST(SpatialModeReport, MissingTablesAreReportedAndTheirLayerFailsAtItsFirstSector)
{
    const TVelmoDesc desc =
        TVelmoDesc()
            .Counter(1, 5000)
            .Space(1, kGuid1)
            .Layer(kRoads, "", "Дороги")
            .Layer(kHouses, "", "Дома")
            .Layer(kOther, "", "Прочее")
            .Layer(kEmpty, "", "Пустой")
            .SemTable(TSemTableDesc(Id(1, 60), kRoads, "Дороги", "SEM_ROADS").Rows({SemRow(O(1), "a")}))
            .SemTable(TSemTableDesc(Id(1, 61), kHouses, "Дома", "SEM_HOUSES").Rows({SemRow(O(6), "f")}))
            .SemTable(TSemTableDesc(Id(1, 62), kHouses, "<b>x&y\"", "<b>x&y", 1).Missing())
            .SemTable(TSemTableDesc(Id(1, 63), kOther, "Кривая", "T]; DROP TABLE [SEM_HOUSES", 7).Missing())
            .SemTable(TSemTableDesc(Id(1, 64), kOther, "Пропала", " GONE ", 0).Missing())
            .SemTable(TSemTableDesc(Id(1, 65), kEmpty, "Не выбрана", "NOT_CHOSEN").Missing())
            .Sector(TSectorDesc(S(1), kHouses, {}))
            .Sector(TSectorDesc(S(2), kHouses, {Obj(O(6))}))
            .Sector(TSectorDesc(S(3), kRoads, {Obj(O(1))}));
    const std::string expected =
        "<h2>Замена идентификаторов пространственных объектов</h2>"
        "<font color=red>Ошибка(и): Не найдены семантические таблицы:</font><br>"
        "<table cellspacing=0 cellpadding=0><thead><tr><th>Сем. таблица</th><th>Физ. имя таблицы</th><th>Тип</th></thead>" +
        ReportRow("&lt;b&gt;x&amp;y&quot;", "&lt;b&gt;x&amp;y", "один-ко-многим") +
        ReportRow("Кривая", "T]; DROP TABLE [SEM_HOUSES", "не известно") + ReportRow("Пропала", "GONE", "один-к-одному") +
        "</table>";
    for (const TLayout& layout : kLayouts) {
        SCOPED_TRACE(layout.name);
        const auto pair = OpenPair(desc, layout.kind);
        const TPairState before = ReadState(*pair->Spatial(), *pair->Semantic());
        TTestHost host;
        // The layer with the bad and the missing name has no sector: it fails nothing.
        host.select = Choose({{kOther, "Прочее"}, {kRoads, "Дороги"}, {kHouses, "Дома"}}, false);
        TChangeEngine engine(host);
        engine.OpenDatabases(pair->Spatial(), pair->Semantic());
        const std::string error =
            RaisedMessage<rtl::Exception>([&] { engine.Run({cmSpatialObjects, false, false}); });

        EXPECT_EQ(host.reports, (std::vector<std::string>{expected}));
        EXPECT_EQ(engine.Report(), expected);
        EXPECT_NE(error, "nothing raised");
        EXPECT_EQ(ExpectWholeSectors(before, *pair->Spatial(), *pair->Semantic(), host.MapEntries()),
                  std::set<std::string>{S(3)});
        EXPECT_TRUE(pair->Semantic()->TableExists("SEM_HOUSES"));
    }
}

// A name that cannot go into SQL is refused before the sector's transaction, naming it.
TEST(SpatialModeReport, ABadTableNameIsRefusedBeforeTheTransaction)
{
    const TVelmoDesc desc = TVelmoDesc()
                                .Counter(1, 5000)
                                .Space(1, kGuid1)
                                .Layer(kRoads, "", "Дороги")
                                .SemTable(TSemTableDesc(Id(1, 60), kRoads, "Кривая", "T]; DROP TABLE [X").Missing())
                                .Sector(TSectorDesc(S(1), kRoads, {Obj(O(1))}));
    const auto pair = OpenPair(desc, TKind::Sqlite);
    const auto spatial = WrapFaulty(pair->Spatial());
    TTestHost host;
    host.select = Choose({{kRoads, "Дороги"}}, false);
    TChangeEngine engine(host);
    engine.OpenDatabases(spatial, pair->Semantic());
    EXPECT_EQ(RaisedMessage<EUdbException>([&] { engine.Run({cmSpatialObjects, false, false}); }),
              "Недопустимое имя \"T]; DROP TABLE [X\" в SQL-запросе");
    EXPECT_EQ(spatial->Commits(), 0);
    EXPECT_EQ(ObjectIDs(*pair->Spatial(), S(1)), (std::vector<std::string>{O(1)}));
    EXPECT_EQ(host.reports.size(), 1u);
}

TEST(SpatialModeReport, AReportThatCannotBeShownDoesNotStopTheRun)
{
    TTestHost host;
    EXPECT_FALSE(TryShowHTMLReport(host, ""));
    EXPECT_TRUE(host.calls.empty());
    EXPECT_TRUE(TryShowHTMLReport(host, "<p>x</p>"));
    EXPECT_EQ(host.reports, (std::vector<std::string>{"<p>x</p>"}));
    host.reportFails = true;
    EXPECT_FALSE(TryShowHTMLReport(host, "<p>x</p>"));

    const TVelmoDesc desc = TVelmoDesc()
                                .Counter(1, 5000)
                                .Space(1, kGuid1)
                                .Layer(kRoads, "", "Дороги")
                                .Layer(kHouses, "", "Дома")
                                .SemTable(TSemTableDesc(Id(1, 60), kRoads, "Дороги", "GONE").Missing())
                                .Sector(TSectorDesc(S(1), kHouses, {Obj(O(1))}));
    const auto pair = OpenPair(desc, TKind::Sqlite);
    TTestHost failing;
    failing.reportFails = true;
    failing.select = Choose({{kRoads, "Дороги"}, {kHouses, "Дома"}}, false);
    TChangeEngine engine(failing);
    engine.OpenDatabases(pair->Spatial(), pair->Semantic());
    engine.Run({cmSpatialObjects, false, false});
    EXPECT_EQ(ObjectIDs(*pair->Spatial(), S(1)), (std::vector<std::string>{New(1)}));
    EXPECT_THAT(engine.Report(), HasSubstr("<td>GONE</td>"));
}

TEST(SpatialModeReport, RowsAndLinkTypeTexts)
{
    struct Case {
        std::int32_t linkType;
        const char* text;
    };
    for (const Case& c : {Case{0, "один-к-одному"}, Case{1, "один-ко-многим"}, Case{2, "не известно"},
                          Case{-1, "не известно"}})
        EXPECT_EQ(SemTableLinkTypeText(c.linkType), c.text) << c.linkType;
    EXPECT_EQ(MissingSemTableRow("a<b", "\"c\"&d", 0), "<td>a&lt;b</td><td>&quot;c&quot;&amp;d</td><td>один-к-одному</td>");
    EXPECT_EQ(MissingSemTablesReport({}), "");
}

// ---- failures injected everywhere ------------------------------------------------------------------

// Counts of a run that does not fail.
struct TRunCounts {
    std::int64_t spatialStatements = 0;
    std::int64_t semanticStatements = 0;
    std::int64_t spatialCommits = 0;
    std::int64_t semanticCommits = 0;
};

enum class TFault { SpatialStatement, SemanticStatement, SpatialCommit, SemanticCommit };

// Runs mode 2 on a copy of files (which hold before) with one fault armed;
// checks the whole-sector invariants afterwards, before and after the
// generator's write-back. With mostSemanticStatements (>= 0) the semantic
// database runs no more statements than that: nothing is compensated.
void RunWithFault(const TPairFiles& files, const TPairState& before, TFault fault, std::int64_t n,
                  TRunCounts* counts, std::int64_t mostSemanticStatements = -1)
{
    const auto pair = files.Copy();
    pair->Open();
    const auto spatial = WrapFaulty(pair->Spatial());
    const auto semantic = WrapFaulty(pair->Semantic());
    TTestHost host;
    host.select = Choose(kChosen);
    TChangeEngine engine(host);
    engine.OpenDatabases(spatial, semantic);
    switch (fault) {
    case TFault::SpatialStatement: spatial->FailStatement(static_cast<int>(n)); break;
    case TFault::SemanticStatement: semantic->FailStatement(static_cast<int>(n)); break;
    case TFault::SpatialCommit: spatial->FailCommit(static_cast<int>(n)); break;
    case TFault::SemanticCommit: semantic->FailCommit(static_cast<int>(n)); break;
    }
    bool failed = false;
    try {
        engine.Run({cmSpatialObjects, false, false});
    } catch (const std::exception&) {
        failed = true;
    }
    if (counts) {
        EXPECT_FALSE(failed) << "the counting run failed";
        counts->spatialStatements = spatial->Executions();
        counts->semanticStatements = semantic->Executions();
        counts->spatialCommits = spatial->Commits();
        counts->semanticCommits = semantic->Commits();
    }
    if (mostSemanticStatements >= 0) {
        EXPECT_LE(semantic->Executions(), mostSemanticStatements);
    }
    EXPECT_EQ(host.log.back(), "Процесс завершен");
    ExpectWholeSectors(before, *pair->Spatial(), *pair->Semantic(), host.MapEntries());
    engine.CloseDatabases();
    ExpectWholeSectors(before, *pair->Spatial(), *pair->Semantic(), host.MapEntries());
}

class SpatialModeFaults : public ::testing::TestWithParam<TLayout> {};

TEST_P(SpatialModeFaults, AFailureAtAnyStatementOrCommitLeavesEverySectorWholeOrUntouched)
{
    const TPairFiles files(FaultDesc(), GetParam().kind);
    TPairState before;
    {
        const auto pair = files.Copy();
        pair->Open();
        before = ReadState(*pair->Spatial(), *pair->Semantic());
    }
    TRunCounts counts;
    RunWithFault(files, before, TFault::SpatialStatement, 0, &counts);
    // The reads, the generator's writes and the writes of two sectors, each
    // sector in a transaction on both databases.
    ASSERT_GT(counts.spatialStatements, 20);
    ASSERT_EQ(counts.semanticStatements, 4);
    ASSERT_EQ(counts.spatialCommits, 2);
    ASSERT_EQ(counts.semanticCommits, 2);
    struct Fault {
        const char* name;
        TFault fault;
        std::int64_t count;
    };
    for (const Fault& f : {Fault{"spatial statement", TFault::SpatialStatement, counts.spatialStatements},
                           Fault{"semantic statement", TFault::SemanticStatement, counts.semanticStatements},
                           Fault{"spatial commit", TFault::SpatialCommit, counts.spatialCommits},
                           Fault{"semantic commit", TFault::SemanticCommit, counts.semanticCommits}}) {
        for (std::int64_t n = 1; n <= f.count; ++n) {
            SCOPED_TRACE(std::string(f.name) + " " + std::to_string(n));
            // Both halves on the Paradox engine commit as one: no semantic
            // row is ever renamed back.
            RunWithFault(files, before, f.fault, n, nullptr,
                         GetParam().kind == TKind::Sqlite ? -1 : counts.semanticStatements);
            if (::testing::Test::HasFailure()) return;
        }
    }
}

std::string LayoutID(const ::testing::TestParamInfo<TLayout>& info) { return info.param.id; }

INSTANTIATE_TEST_SUITE_P(Layouts, SpatialModeFaults, ::testing::ValuesIn(kLayouts), LayoutID);

// The spatial commit fails after the semantic half committed on its own
// (a driver that cannot commit the two halves as one): the semantic rows go
// back, and the log names no sector of it. When the renaming back fails too,
// the error says that the two databases disagree about the sector.
TEST(SpatialModeCompensation, ASpatialCommitFailingAfterTheSemanticOneRenamesTheRowsBack)
{
    const TPairFiles files(BaseDesc(), TKind::Sqlite);
    struct Case {
        const char* name;
        int failSemanticStatement; // 0: none
        TRows roads;
    };
    // S1 updates three rows, S2 two; the renaming back of S2 is the sixth statement.
    const Case cases[] = {
        {"renamed back", 0, {{O(4), "d"}, {O(5), "e"}, {New(1), "a"}, {New(2), "b"}}},
        {"renaming back fails", 6, {{New(1), "a"}, {New(2), "b"}, {New(4), "d"}, {New(5), "e"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto pair = files.Copy();
        pair->Open();
        const auto spatial = WrapFaulty(pair->Spatial());
        const auto semantic = WrapFaulty(pair->Semantic());
        TTestHost host;
        host.select = Choose(kChosen);
        TChangeEngine engine(host);
        engine.OpenDatabases(spatial, semantic);
        spatial->FailCommit(2);
        semantic->FailStatement(c.failSemanticStatement);
        const std::string error = RaisedMessage<rtl::Exception>([&] { engine.Run({cmSpatialObjects, false, false}); });
        EXPECT_EQ(ReadRows(*pair->Semantic(), "SEM_ROADS", {"ID", "VALUE"}), c.roads);
        EXPECT_EQ(ObjectIDs(*pair->Spatial(), S(2)), (std::vector<std::string>{O(4), O(5)}));
        EXPECT_EQ(host.MapEntries().size(), 1u);
        EXPECT_FALSE(pair->Semantic()->InTransaction());
        const std::string disagreement =
            "Семантические строки сектора " + S(2) + " не удалось вернуть к прежним идентификаторам: ";
        if (c.failSemanticStatement == 0)
            EXPECT_EQ(error.find(disagreement), std::string::npos) << error;
        else
            EXPECT_NE(error.find("\r\n" + disagreement), std::string::npos) << error;
    }
}

// ---- a killed process ------------------------------------------------------------------------------

// Runs mode 2 in a child process on files, which kills itself with signal 9
// at the killAt-th call of the host (never when 0); returns the number of
// host calls the child made when it was not killed, -1 when it was.
int RunInChild(TPairFiles& files, int killAt)
{
    files.Close();
    const pid_t child = ::fork();
    if (child == 0) {
        int calls = 0;
        try {
            files.Open();
            TTestHost host;
            host.select = Choose(kChosen);
            host.onCall = [&](const std::string&) {
                if (++calls == killAt) ::raise(SIGKILL);
            };
            TChangeEngine engine(host);
            engine.OpenDatabases(files.Spatial(), files.Semantic());
            engine.Run({cmSpatialObjects, false, false});
            engine.CloseDatabases();
            files.Close();
        } catch (...) {
            ::_exit(255);
        }
        ::_exit(std::min(calls, 254));
    }
    int status = 0;
    EXPECT_EQ(::waitpid(child, &status, 0), child);
    files.Open();
    if (WIFSIGNALED(status)) {
        EXPECT_EQ(WTERMSIG(status), SIGKILL);
        return -1;
    }
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_NE(WEXITSTATUS(status), 255) << "the child's run failed";
    return WEXITSTATUS(status);
}

// Checks the pair a killed run left (open, on the real file system): every
// sector whole or untouched, the maps taken from the pair since the log went
// with the process; then a second run completes, renumbering both sectors
// with numbers never used before. Returns how many sectors the killed run
// had renumbered.
std::size_t ExpectWholeThenASecondRunCompletes(TPairFiles& pair, const TPairState& before)
{
    const TPairState afterKill = ReadState(*pair.Spatial(), *pair.Semantic());
    std::vector<std::string> entries;
    for (const auto& [sector, ids] : before.objects) {
        const std::vector<std::string>& now = afterKill.objects.at(sector);
        TIDPairs pairs;
        if (now != ids)
            for (std::size_t i = 0; i < std::min(ids.size(), now.size()); ++i) pairs.emplace_back(ids[i], now[i]);
        if (!pairs.empty()) entries.push_back(MapEntry(pairs));
    }
    const std::size_t renamedByKill = ExpectWholeSectors(before, *pair.Spatial(), *pair.Semantic(), entries).size();

    std::set<std::string> used;
    for (const auto& [sector, ids] : afterKill.objects) used.insert(ids.begin(), ids.end());
    TTestHost host;
    host.select = Choose(kChosen);
    TChangeEngine engine(host);
    engine.OpenDatabases(pair.Spatial(), pair.Semantic());
    engine.Run({cmSpatialObjects, false, false});
    engine.CloseDatabases();
    const std::set<std::string> renamed =
        ExpectWholeSectors(afterKill, *pair.Spatial(), *pair.Semantic(), host.MapEntries());
    EXPECT_EQ(renamed.size(), 2u);
    std::set<std::string> issued;
    for (const std::string& sector : renamed)
        for (const std::string& id : ObjectIDs(*pair.Spatial(), sector)) {
            EXPECT_EQ(used.count(id), 0u) << id << " was used before";
            EXPECT_TRUE(issued.insert(id).second) << id << " issued twice";
        }
    return renamedByKill;
}

// A process killed at any point of a run leaves every sector whole or
// untouched and the counter above every number used; a second run then
// completes and issues no number already used.
TEST(SpatialModeKill, AKilledRunLeavesWholeSectorsAndASecondRunCompletes)
{
    const TPairFiles files(FaultDesc(), TKind::PdoxOneFolder);
    const auto counting = files.Copy();
    const int calls = RunInChild(*counting, 0);
    ASSERT_GT(calls, 20);
    std::set<std::size_t> renamedCounts;
    // Every other call of the host: while loading, inside the transactions
    // (the spinner turns after the semantic rows and after the blob), between
    // the sectors and after their commits.
    for (int killAt = 1; killAt < calls; killAt += 2) {
        SCOPED_TRACE("killed at host call " + std::to_string(killAt));
        const auto pair = files.Copy();
        pair->Open();
        const TPairState before = ReadState(*pair->Spatial(), *pair->Semantic());
        ASSERT_EQ(RunInChild(*pair, killAt), -1);

        renamedCounts.insert(ExpectWholeThenASecondRunCompletes(*pair, before));
        if (::testing::Test::HasFailure()) return;
    }
    // The kills fell before, between and after the sectors.
    EXPECT_EQ(renamedCounts, (std::set<std::size_t>{0, 1, 2}));
}

// ---- a process killed at a file operation, two folders -----------------------------------------

// Runs mode 2 on the two folders of pair with every file operation going
// through fs, armed after the opening to fail operation failAt and every
// one after it (torn: the failing write puts half its bytes down), and
// closes both databases whatever failed, as a kill there would leave them.
// Returns the maps the run logged.
std::vector<std::string> RunKilledAt(TPairFiles& pair, bde::test::FaultyFileSystem& fs, long failAt, bool torn)
{
    fs.Reset(0, false, false);
    pair.OpenFolders(&fs, false);
    fs.Reset(failAt, true, torn);
    std::vector<std::string> entries;
    {
        TTestHost host;
        host.select = Choose(kChosen);
        TChangeEngine engine(host);
        engine.OpenDatabases(pair.Spatial(), pair.Semantic());
        try {
            engine.Run({cmSpatialObjects, false, false});
        } catch (const std::exception&) {
        }
        engine.CloseDatabases();
        entries = host.MapEntries();
    }
    pair.Close();
    return entries;
}

// The process killed at every file operation of a run on two folders, each
// sector committed in both through a super-journal: whichever folder is
// opened first, every sector is whole or untouched in both databases, no
// journal is left once both are open, and a second run completes.
TEST(SpatialModeKill, KilledAtAnyFileOperationOfTwoFoldersEitherFolderOpenedFirst)
{
    const TPairFiles files(FaultDesc(), TKind::PdoxTwoFolders);
    TPairState before;
    {
        const auto pair = files.Copy();
        pair->Open();
        before = ReadState(*pair->Spatial(), *pair->Semantic());
    }
    bde::test::FaultyFileSystem fs;
    std::vector<std::string> log;
    {
        const auto counting = files.Copy();
        const std::vector<std::string> entries = RunKilledAt(*counting, fs, 0, false);
        log = fs.log;
        counting->Open();
        EXPECT_EQ(ExpectWholeSectors(before, *counting->Spatial(), *counting->Semantic(), entries).size(), 2u)
            << "the counting run did not finish";
    }
    // The sectors commit through a super-journal.
    ASSERT_TRUE(std::any_of(log.begin(), log.end(),
                            [](const std::string& op) { return op.find(" PXSUPER-") != std::string::npos; }));
    struct Mode {
        const char* name;
        bool torn;
    };
    std::set<std::size_t> renamedCounts;
    for (const Mode& mode : {Mode{"killed", false}, Mode{"torn write, killed", true}}) {
        for (long n = 1; n <= static_cast<long>(log.size()); ++n) {
            const std::string& op = log[static_cast<std::size_t>(n - 1)];
            // Only a write can be torn.
            if (mode.torn && !op.starts_with("write ")) continue;
            SCOPED_TRACE(std::string(mode.name) + " at operation " + std::to_string(n) + ": " + op);
            // A copy killed for each order: a journal names its super-journal
            // by its full path, so a copy of killed folders is no other pair.
            for (const bool semanticFirst : {false, true}) {
                SCOPED_TRACE(semanticFirst ? "semantic first" : "spatial first");
                const auto pair = files.Copy();
                RunKilledAt(*pair, fs, n, mode.torn);
                ASSERT_TRUE(fs.failed) << "the run ended before the operation";
                pair->OpenFolders(nullptr, semanticFirst);
                EXPECT_THAT(PdoxJournalFiles(pair->Folder()), ::testing::IsEmpty());
                renamedCounts.insert(ExpectWholeThenASecondRunCompletes(*pair, before));
            }
            if (::testing::Test::HasFailure()) return;
        }
    }
    // The kills fell before, between and after the sectors.
    EXPECT_EQ(renamedCounts, (std::set<std::size_t>{0, 1, 2}));
}

} // namespace
