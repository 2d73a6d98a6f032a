// Tests of mode 1, the renumbering of system objects, driven through a host
// without a display on the SQLite test driver and on the Paradox driver.
//
// Most tests use one pair that holds every kind: two areas, a project with
// its maps, module and preferences, a raster map with three rasters, a vector
// map with two layers, styles on both layers (one of them not chosen), the
// layers' themes, sectors whose shapes use the styles, preference and access
// rows of every object, a relation, two reference books and three semantic
// tables using the first (one missing from the semantic database, one stored
// in the layout before version 284, one with records for a column it no
// longer has, a long name and a long key field).
//
// What a run must leave is stated as a model of the whole pair: every
// occurrence of a renamed identifier anywhere in the spatial database is the
// new one, except inside the description of the semantic table the semantic
// database lacks; a description that changed is stored in the current
// version; nothing else changes, and the semantic database not at all. The
// renamed identifiers are read from the log's pair lines (and the rasters'
// from their file names), so the same model checks a run that failed or was
// cancelled half way: each object is wholly renamed with its pair line, or
// wholly untouched without one.
#include "Tools/Parvane/SysObjectChanges.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <iterator>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <stdlib.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "Tools/Parvane/ChangeEngine.h"
#include "platform/rtl/Cp1251.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/TextUtils.h"
#include "tests/Tools/Parvane/EngineTestSupport.h"
#include "tests/platform/bde/PxFaultyFileSystem.h"
#include "tests/platform/bde/PxFolderSnapshot.h"
#include "tests/support/FaultyUdb.h"
#include "tests/support/PdoxOpener.h"
#include "tests/support/TestHelpers.h"
#include "tests/support/VelmoFixture.h"
#include "tests/support/VelmoSnapshot.h"

namespace {

using namespace velmotest;
using testing_support::RaisedMessage;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::StartsWith;

// ---- the host -------------------------------------------------------------------------------

// One object as the selection dialog leaves it in the list.
struct TChosen {
    std::string ID;
    std::string Name;
    TSysObjectKind Kind;
    std::string ParentID;
};

// Records what the engine asks of the window; the selection dialog answers
// with a fixed list, and hooks can press Cancel at a given step.
class TTestHost : public IChangeHost {
public:
    std::vector<std::string> log;
    std::vector<std::string> calls;
    std::vector<TChosen> chosen;
    std::function<void(const std::string&)> onStep; // StepProgress text
    std::function<void()> onTick;
    std::string progress; // the text of the current StartProgress

    void WriteLog(const std::string& entry) override { log.push_back(entry); }
    bool LogEnabled() override { return true; }
    void StartProgress(const std::string& text, std::int32_t maximum) override
    {
        progress = text;
        calls.push_back("StartProgress " + text + " " + std::to_string(maximum));
    }
    void StepProgress(const std::string& text, std::int32_t delta) override
    {
        calls.push_back("StepProgress " + text + " " + std::to_string(delta));
        if (onStep) onStep(text);
    }
    void TickSpinner(bool) override
    {
        if (onTick) onTick();
    }
    void EndProgress() override
    {
        progress.clear();
        calls.push_back("EndProgress");
    }
    bool AskBackup(const std::string&) override { return true; }
    void ShowMessage(const std::string& text, const std::string& caption) override
    {
        calls.push_back("Message [" + caption + "] " + text);
    }
    bool SelectSystemObjects(IUdb&, TVelmoSysObjectList& list) override
    {
        list.Clear();
        for (const TChosen& c : chosen) list.AddNew(c.ID, c.Name, c.Kind)->ParentID = c.ParentID;
        return list.Count() > 0;
    }
    bool SelectLayers(IUdb&, TVelmoSysObjectList&) override { return false; }
    void ShowReport(const std::string&) override {}
};

// ---- layouts --------------------------------------------------------------------------------

// Where copies go: memory when the machine offers it, since a loop of runs
// spends its time flushing files otherwise.
std::filesystem::path CopyRoot()
{
    std::error_code ec;
    const std::filesystem::path shm = "/dev/shm";
    if (std::filesystem::is_directory(shm, ec) && ::access(shm.c_str(), W_OK) == 0) return shm;
    return std::filesystem::temp_directory_path();
}

// A copy of a pair's files, opened by the same driver: a fresh pair for
// each of many runs without building it again.
class TCopiedPair : public TPair {
public:
    TCopiedPair(const std::string& folder, const TUdbOpener& opener)
    {
        folder_ = MakeTempFolder("velmocopy-", CopyRoot().string());
        std::filesystem::copy(folder, folder_, std::filesystem::copy_options::recursive);
        spatial_ = opener(folder_, "spatial");
        semantic_ = opener(folder_, "semantic");
    }
    ~TCopiedPair() override { ClosePairAndRemove(spatial_, semantic_, folder_); }
    rtl::RefPtr<IUdb> Spatial() override { return spatial_; }
    rtl::RefPtr<IUdb> Semantic() override { return semantic_; }

private:
    std::string folder_;
    rtl::RefPtr<IUdb> spatial_;
    rtl::RefPtr<IUdb> semantic_;
};

const TLayout kDrivers[] = {kSqliteLayout, kParadoxLayout};

// A copy of a pair of Paradox folders (<folder>/spatial, <folder>/semantic),
// opened and closed at will, so that the files a killed run leaves are
// opened again where the run had them (a journal that names a super-journal
// names it by its full path).
class TFolderPair : public TPair {
public:
    explicit TFolderPair(const std::string& folder)
    {
        folder_ = MakeTempFolder("velmokill-", CopyRoot().string());
        std::filesystem::copy(folder, folder_, std::filesystem::copy_options::recursive);
    }
    ~TFolderPair() override { ClosePairAndRemove(spatial_, semantic_, folder_); }
    rtl::RefPtr<IUdb> Spatial() override { return spatial_; }
    rtl::RefPtr<IUdb> Semantic() override { return semantic_; }
    const std::string& Folder() const { return folder_; }

    // Every file operation through fs (nullptr: the real file system), the
    // databases opened in this order.
    void Open(bde::PxFileSystem* fs, bool semanticFirst)
    {
        OpenPdoxPair(folder_, fs, semanticFirst, spatial_, semantic_);
    }
    // Each database is closed even when the other one's close fails.
    void Close() noexcept { ClosePair(spatial_, semantic_); }

private:
    std::string folder_;
    rtl::RefPtr<IUdb> spatial_;
    rtl::RefPtr<IUdb> semantic_;
};

// ---- additional-data blobs written by hand ----------------------------------------------------

using Bytes = testing_support::LeBytes;

// A stream string of a UTF-8 text (stored in Windows-1251).
std::string SS(const std::string& utf8)
{
    const std::string bytes = rtl::Utf8ToCp1251(utf8);
    Bytes b;
    if (bytes.size() < 254)
        b.U8(static_cast<int>(bytes.size()));
    else
        b.U8(254).I32(static_cast<std::int32_t>(bytes.size()));
    return b.Raw(bytes).str();
}

std::string Signature() { return SS("Дополнительные данные") + std::string(9, '\0'); }

std::string Header(int version, int count) { return Signature() + Bytes().I16(version).I16(count).str(); }

std::string Rec(const std::string& name, const std::string& caption, const std::string& id,
                const std::string& key = "", const std::vector<std::string>& display = {})
{
    std::string r = SS(name) + SS(caption) + SS(id);
    if (id.empty()) return r;
    r += SS(key) + Bytes().I16(static_cast<int>(display.size())).str();
    for (const std::string& d : display) r += SS(d);
    return r;
}

// string[capacity] of the layout before version 284.
std::string Fixed(int capacity, const std::string& text)
{
    return std::string(1, static_cast<char>(text.size())) + text +
           std::string(static_cast<std::size_t>(capacity) - text.size(), '\0');
}

std::string FixedRec(const std::string& name, const std::string& key, const std::string& id,
                     const std::vector<std::string>& display)
{
    std::string r = Fixed(64, name) + Fixed(64, key) + Fixed(12, id) + Bytes().I16(static_cast<int>(display.size())).str();
    for (const std::string& d : display) r += Fixed(64, d);
    return r;
}

rtl::ByteArray Blob(const std::string& bytes) { return rtl::ByteArray(bytes.begin(), bytes.end()); }

// ---- the pair of every kind -------------------------------------------------------------------

const std::string kArea1 = Id(1, 0x01);
const std::string kArea2 = Id(1, 0x02);
const std::string kProject = Id(1, 0x03);
const std::string kBook = Id(1, 0x4B);
const std::string kBook2 = Id(1, 0x05);
const std::string kRasterMap = Id(1, 0x06);
const std::string kRaster1 = Id(1, 0x07);
const std::string kRaster2 = Id(1, 0x08);
const std::string kRaster3 = Id(1, 0x09);
const std::string kVectorMap = Id(1, 0x0A);
const std::string kLayer1 = Id(1, 0x0B);
const std::string kLayer2 = Id(1, 0x0C);
const std::string kStyle1 = Id(1, 0x0D);
const std::string kStyle2 = Id(1, 0x0E);
const std::string kStyle3 = Id(1, 0x0F);
const std::string kStyle4 = Id(1, 0x10); // on layer 1, never chosen
const std::string kSemTable1 = Id(1, 0x11);
const std::string kSemTable2 = Id(1, 0x12);
const std::string kSemTable3 = Id(1, 0x13);
const std::string kRelation = Id(1, 0x14);
const std::string kTheme1 = Id(1, 0x15);
const std::string kTheme2 = Id(1, 0x16);
const std::string kSector1 = Id(1, 0x17);
const std::string kSector2 = Id(1, 0x18);
const std::string kSector3 = Id(1, 0x19);
const std::string kObject1 = Id(1, 0x1A);
const std::string kObject2 = Id(1, 0x1B);
const std::string kObject3 = Id(1, 0x1C);
const std::string kObject4 = Id(1, 0x1D);
const std::string kProjMap1 = Id(1, 0x1E);
const std::string kProjMap2 = Id(1, 0x1F);
const std::string kModule = Id(1, 0x20);
const std::string kUser = Id(1, 0x21);
const std::string kSubclass = Id(1, 0x22);

const std::string kLongName = std::string(70, 'N');
const std::string kLongKey = std::string(70, 'K');

// The descriptions, as stored.
std::string HousesBlob()
{
    return Header(287, 5) + Rec("ID", "Код", "") + Rec("TYPE", "Тип", kBook, "CODE", {"NAME"}) +
           Rec("MATERIAL", "Материал", kBook2, "CODE", {"NAME", "NOTE"}) +
           Rec("OLDTYPE", "Старый тип", kBook, "CODE", {"NAME"}) +
           Rec(kLongName, "Длинное", rtl::LowerCase(kBook), kLongKey, {});
}
std::string RoadsBlob() { return Header(287, 1) + Rec("TYPE", "Тип", kBook, "CODE", {"NAME"}); }
std::string ParcelsBlob() { return std::string(31, '\x5A') + Bytes().I16(1).str() + FixedRec("TYPE", "CODE", kBook, {"NAME"}); }

const std::vector<std::string> kObjectsWithRows = {kArea1,     kArea2,     kProject,   kBook,      kBook2,
                                                   kRasterMap, kRaster1,   kVectorMap, kLayer1,    kLayer2,
                                                   kStyle1,    kStyle2,    kStyle3,    kStyle4,    kSemTable1,
                                                   kSemTable2, kSemTable3, kRelation};

TVelmoDesc EveryKind()
{
    const auto str = [](const std::string& s) { return rtl::Variant(s); };
    const auto num = [](std::int32_t n) { return rtl::Variant(n); };
    TVelmoDesc d;
    d.Counter(1, 5000)
        .Space(1, "{11111111-1111-1111-1111-111111111111}")
        .Area(kArea1, "Север")
        .Area(kArea2, "Юг")
        .Project(kProject, kArea1, "Проект")
        .ProjMap(kProjMap1, kProject, kVectorMap)
        .ProjMap(kProjMap2, kProject, kRasterMap)
        .Row("VELMO_MODULES", {{"OWNEROBJECTID", str(kProject)},
                               {"MODULEID", str(kModule)},
                               {"DATA", rtl::Variant(rtl::ByteArray{1, 2, 3})}})
        .RefBook(kBook, "Типы", "HOUSETYPES")
        .RefBook(kBook2, "Материалы", "MATERIALS")
        .Map(kRasterMap, kArea2, "Снимки", 2)
        .Raster(kRaster1, kRasterMap, "r1.tif")
        .Raster(kRaster2, kRasterMap, "r2.tif")
        .Raster(kRaster3, kRasterMap, "r3.tif")
        .Map(kVectorMap, kArea1, "Город", 3)
        .Layer(kLayer1, kVectorMap, "Дома", kSector1)
        .Layer(kLayer2, kVectorMap, "Дороги", kSector3)
        .Style(kStyle1, kLayer1, "Кирпич")
        .Style(kStyle2, kLayer1, "Дерево")
        .Style(kStyle3, kLayer2, "Асфальт")
        .Style(kStyle4, kLayer1, "Прочее")
        .Row("VELMO_THEMES", {{"ID", str(kTheme1)}, {"LAYERID", str(kLayer1)}})
        .Row("VELMO_THEMES", {{"ID", str(kTheme2)}, {"LAYERID", str(kLayer2)}})
        .Sector(TSectorDesc(kSector1, kLayer1, {{kObject1, {kStyle1, kStyle4}}, {kObject2, {kStyle2, ""}}}))
        .Sector(TSectorDesc(kSector2, kLayer1, {{kObject3, {kStyle4}}}))
        .Sector(TSectorDesc(kSector3, kLayer2, {{kObject4, {kStyle3}}}))
        .SemTable(TSemTableDesc(kSemTable1, kLayer1, "Дома", "HOUSES")
                      .Columns({{"ID", udtString, 12, true}, {"TYPE", udtString, 50, false},
                                {"MATERIAL", udtString, 50, false}})
                      .Rows({{str(kObject1), str(kBook), str("brick")}})
                      .RefBookField(Blob(HousesBlob())))
        .SemTable(TSemTableDesc(kSemTable2, kLayer2, "Дороги", "ROADS").Missing().RefBookField(Blob(RoadsBlob())))
        .SemTable(TSemTableDesc(kSemTable3, kLayer2, "Участки", "PARCELS")
                      .Columns({{"ID", udtString, 12, true}, {"TYPE", udtString, 50, false}})
                      .Rows({{str(kObject4), str(kBook)}})
                      .RefBookField(Blob(ParcelsBlob())))
        .Relation(kRelation, "Примыкание", kLayer1, kLayer2)
        .Link(kObject1, kObject4)
        .Pref(kUser, kProject, "NOID", "OPENED", "1")
        .Pref(kUser, "NOID", "NOID", "LASTPROJECT", kProject);
    for (const std::string& id : kObjectsWithRows) {
        d.Pref(kUser, "NOID", id, "VISIBLE", "1");
        d.Row("VELMO_ACL", {{"OBJECTID", str(id)},
                            {"SUBCLASSID", str(kSubclass)},
                            {"USERID", str(kUser)},
                            {"USERKIND", num(0)},
                            {"SETOPERATIONS", num(1)},
                            {"CLEAROPERATIONS", num(0)}});
    }
    return d;
}

// What the selection dialog leaves when everything but the second
// reference book and the fourth style is checked, in load order.
std::vector<TChosen> EveryKindChosen()
{
    return {
        {kArea1, "Север", sokArea, ""},
        {kArea2, "Юг", sokArea, ""},
        {kBook, "Типы", sokRefBook, ""},
        {kProject, "Проект", sokProject, kArea1},
        {kRasterMap, "Снимки", sokRasterMap, kArea2},
        {kVectorMap, "Город", sokVectorMap, kArea1},
        {kLayer1, "Дома", sokLayer, kVectorMap},
        {kLayer2, "Дороги", sokLayer, kVectorMap},
        {kStyle1, "Кирпич", sokStyle, kLayer1},
        {kStyle2, "Дерево", sokStyle, kLayer1},
        {kStyle3, "Асфальт", sokStyle, kLayer2},
        {kSemTable1, "Дома", sokSemTable, kLayer1},
        {kSemTable2, "Дороги", sokSemTable, kLayer2},
        {kSemTable3, "Участки", sokSemTable, kLayer2},
        {kRelation, "Примыкание", sokRelation, kLayer1},
    };
}

// The new identifiers: the run opens group 2, whose first number is 1001.
std::string New(int n) { return Id(2, static_cast<std::uint32_t>(1000 + n)); }

using TPairs = std::vector<std::pair<std::string, std::string>>;

// Every chosen object in kind order, the rasters right after their map.
const TPairs& EveryKindPairs()
{
    static const TPairs pairs = {
        {kArea1, New(1)},      {kArea2, New(2)},      {kProject, New(3)},     {kBook, New(4)},
        {kRasterMap, New(5)},  {kRaster1, New(6)},    {kRaster2, New(7)},     {kRaster3, New(8)},
        {kVectorMap, New(9)},  {kLayer1, New(10)},    {kLayer2, New(11)},     {kStyle1, New(12)},
        {kStyle2, New(13)},    {kStyle3, New(14)},    {kSemTable1, New(15)},  {kSemTable2, New(16)},
        {kSemTable3, New(17)}, {kRelation, New(18)},
    };
    return pairs;
}

const std::set<std::string> kRasterIDs = {kRaster1, kRaster2, kRaster3};

// ---- the model --------------------------------------------------------------------------------

// Every occurrence of an old identifier, in upper or lower case, replaced
// by the new one.
std::string Substitute(std::string text, const TPairs& pairs)
{
    for (const auto& [oldID, newID] : pairs)
        for (const std::string& from : {oldID, rtl::LowerCase(oldID)})
            for (std::size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + newID.size()))
                text.replace(pos, from.size(), newID);
    return text;
}

// The pair as the run must leave it when exactly pairs were renamed.
TPairSnapshot ExpectedAfter(const TPairSnapshot& before, const TPairs& pairs)
{
    static const std::set<std::string> missingSemTables = {"ROADS"};
    static const std::string blobColumn = " REFBOOKFIELD=";
    TPairSnapshot expected;
    for (const auto& [table, rows] : before) {
        if (table.rfind("sem:", 0) == 0) {
            expected[table] = rows; // never written
            continue;
        }
        TSnapshotRows& out = expected[table];
        for (const std::string& row : rows) {
            if (table != "VELMO_SEMTABLS") {
                out.push_back(Substitute(row, pairs));
                continue;
            }
            const std::size_t at = row.find(blobColumn);
            const std::string head = row.substr(0, at);
            const std::string blob = row.substr(at + blobColumn.size());
            bool missing = false;
            for (const std::string& name : missingSemTables)
                missing = missing || head.find(" TABLENAME=" + name + " ") != std::string::npos;
            std::string newBlob = missing ? blob : Substitute(blob, pairs);
            // A description that changed is stored in the current version.
            if (newBlob != blob) newBlob = std::regex_replace(newBlob, std::regex("^v\\d+ "), "v287 ");
            out.push_back(Substitute(head, pairs) + blobColumn + newBlob);
        }
        std::sort(out.begin(), out.end());
    }
    return expected;
}

// The difference a run made equals the one expected; on failure only the
// rows where the two differ are named.
void ExpectSameDiff(std::vector<std::string> actual, std::vector<std::string> expected)
{
    std::sort(actual.begin(), actual.end());
    std::sort(expected.begin(), expected.end());
    std::vector<std::string> missing, unexpected;
    std::set_difference(expected.begin(), expected.end(), actual.begin(), actual.end(), std::back_inserter(missing));
    std::set_difference(actual.begin(), actual.end(), expected.begin(), expected.end(), std::back_inserter(unexpected));
    EXPECT_THAT(missing, IsEmpty()) << "expected changes that did not happen";
    EXPECT_THAT(unexpected, IsEmpty()) << "changes beyond the expected ones";
}

// The pairs the log names, in order.
TPairs LoggedPairs(const std::vector<std::string>& log)
{
    TPairs pairs;
    const std::regex pair("^\"([0-9A-F]{12})\" -> \"([0-9A-F]{12})\"$");
    std::smatch m;
    for (const std::string& entry : log)
        if (std::regex_match(entry, m, pair)) pairs.emplace_back(m[1], m[2]);
    return pairs;
}

// The rasters that got new identifiers, found by their file names.
TPairs RasterPairs(IUdb& spatial)
{
    TPairs pairs;
    const std::map<std::string, std::string> oldByFile = {
        {"r1.tif", kRaster1}, {"r2.tif", kRaster2}, {"r3.tif", kRaster3}};
    for (const TRow& row : ReadRows(spatial, "VELMO_RASTERS", {"FILENAME", "ID"}))
        if (oldByFile.at(row[0]) != row[1]) pairs.emplace_back(oldByFile.at(row[0]), row[1]);
    return pairs;
}

TPairs Concat(TPairs a, const TPairs& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The snapshot without the generator's own tables, which tests check on their own.
TPairSnapshot WithoutGenerator(TPairSnapshot snapshot)
{
    snapshot.erase("VELMO_DBINFO");
    snapshot.erase("VELMO_IDMAPER");
    return snapshot;
}

// Every identifier of group in the snapshot has a number of at most bound.
void ExpectNumbersAtMost(const TPairSnapshot& snapshot, std::int32_t group, std::int64_t bound)
{
    for (const auto& [table, rows] : snapshot)
        for (const std::string& row : rows)
            for (const std::string& text : IdentifierTexts(row)) {
                const TBinIDRec value = SplitBinID(StrToBinID(text));
                if (value.Group == group) {
                    EXPECT_LE(static_cast<std::int64_t>(value.Number), bound) << table << ": " << row;
                }
            }
}

// The log of a run without its start line's time.
std::vector<std::string> LogShape(const std::vector<std::string>& log)
{
    std::vector<std::string> shape;
    const std::regex start("^Начало процесса: \\d{4}-\\d{2}-\\d{2}T\\d{2}:\\d{2}:\\d{2}$");
    const std::regex generator("^(Изменен текущий генератор идентификаторов на: \\d+  )\\{[0-9A-F-]{36}\\}$");
    std::smatch m;
    for (const std::string& entry : log) {
        if (std::regex_match(entry, start))
            shape.push_back("<start>");
        else if (std::regex_match(entry, m, generator))
            shape.push_back(m[1].str() + "<guid>");
        else
            shape.push_back(entry);
    }
    return shape;
}

std::string PairLine(const std::string& oldID, const std::string& newID)
{
    return "\"" + oldID + "\" -> \"" + newID + "\"";
}

// A run of mode 1 on a pair with a host, the engine detached afterwards.
struct TRun {
    TTestHost host;
    std::unique_ptr<TChangeEngine> engine = std::make_unique<TChangeEngine>(host);
    std::string error; // empty when the run succeeded

    // arm, when given, runs between attaching the pair and the run.
    void Start(const rtl::RefPtr<IUdb>& spatial, const rtl::RefPtr<IUdb>& semantic, bool onlyCurrent = false,
               const std::function<void()>& arm = {})
    {
        engine->OpenDatabases(spatial, semantic);
        if (arm) arm();
        try {
            engine->Run({cmSystemObjects, false, onlyCurrent});
        } catch (const std::exception& e) {
            error = e.what();
        }
    }
};

// ---- end to end -----------------------------------------------------------------------------

TEST(SysObjectChanges, EveryKindIsRenumberedWithEveryReference)
{
    for (const TLayout& layout : kLayouts) {
        SCOPED_TRACE(layout.name);
        const auto pair = layout.make(EveryKind());
        IUdb& spatial = *pair->Spatial();
        const TPairSnapshot before = SnapshotPair(spatial, *pair->Semantic());
        const rtl::Variant sector2Blob = ReadValue(spatial, "VELMO_SECTORS", "OBJECTS", "ID", kSector2);
        const rtl::Variant roadsBlob = ReadValue(spatial, "VELMO_SEMTABLS", "REFBOOKFIELD", "ID", kSemTable2);
        const auto semantic = WrapFaulty(pair->Semantic()); // counts what reaches the semantic database

        TRun run;
        run.host.chosen = EveryKindChosen();
        run.Start(pair->Spatial(), semantic);
        ASSERT_EQ(run.error, "");
        EXPECT_EQ(run.engine->ChangedCount(), 15); // the rasters are not counted
        run.engine->CloseDatabases();

        const TPairSnapshot after = SnapshotPair(spatial, *pair->Semantic());
        const std::vector<std::string> diff = DiffSnapshots(WithoutGenerator(before), WithoutGenerator(after));
        ExpectSameDiff(diff, DiffSnapshots(WithoutGenerator(before),
                                           ExpectedAfter(WithoutGenerator(before), EveryKindPairs())));
        // A few of the rewrites, spelled out.
        EXPECT_THAT(diff, Contains(HasSubstr("VELMO_THEMES: + ID=" + kTheme1 + " LAYERID=" + New(10))));
        EXPECT_THAT(diff, Contains(StartsWith("VELMO_ACL: + OBJECTID=" + New(6) + " ")));    // a raster's
        EXPECT_THAT(diff, Contains(StartsWith("VELMO_PREFS: + USERID=" + kUser + " PROJECTID=NOID OBJECTID=" +
                                              New(12) + " KEYNAME=VISIBLE")));            // a style's
        EXPECT_THAT(diff, Contains("VELMO_PREFS: + USERID=" + kUser + " PROJECTID=NOID OBJECTID=NOID " +
                                   "KEYNAME=LASTPROJECT DATA=" + New(3)));
        EXPECT_THAT(diff, Contains(HasSubstr("OLDTYPE 'Старый тип' -> " + New(4) + " key CODE show [NAME]; " +
                                             kLongName + " 'Длинное' -> " + New(4) + " key " + kLongKey + " show []}")));
        EXPECT_THAT(diff, Contains(HasSubstr("TABLENAME=PARCELS LINKTYPE=0 REFBOOKFIELD=v287 {TYPE 'TYPE' -> " +
                                             New(4) + " key CODE show [NAME]}")));
        EXPECT_THAT(diff, Contains(HasSubstr("OBJECTS={" + kObject1 + " [" + New(12) + "," + kStyle4 + "]; " +
                                             kObject2 + " [" + New(13) + ",000000000000]}")));

        // Unchanged blobs are not written; the semantic database is never written to.
        EXPECT_EQ(ReadValue(spatial, "VELMO_SECTORS", "OBJECTS", "ID", kSector2), sector2Blob);
        EXPECT_EQ(ReadValue(spatial, "VELMO_SEMTABLS", "REFBOOKFIELD", "ID", New(16)), roadsBlob);
        EXPECT_EQ(semantic->Executions(), 0);

        // The generator: a new space for group 2, its counter at the last number issued.
        EXPECT_EQ(ReadRows(spatial, "VELMO_DBINFO", {"IDGROUP", "IDNUMBER"}), (TRows{{"2", "1018"}}));
        EXPECT_EQ(ReadRows(spatial, "VELMO_IDMAPER", {"LOCALID"}), (TRows{{"1"}, {"2"}}));
    }
}

TEST(SysObjectChanges, LogProgressAndResult)
{
    const auto pair = kSqliteLayout.make(EveryKind());
    TRun run;
    run.host.chosen = EveryKindChosen();
    run.Start(pair->Spatial(), pair->Semantic());
    ASSERT_EQ(run.error, "");

    std::vector<std::string> expected = {"", "<start>", "Изменен текущий генератор идентификаторов на: 2  <guid>"};
    const auto add = [&](const char* title, std::vector<std::pair<std::string, int>> objects) {
        expected.push_back(title);
        for (const auto& [id, n] : objects) expected.push_back(PairLine(id, New(n)));
    };
    add("Изменение идентификаторов территорий", {{kArea1, 1}, {kArea2, 2}});
    add("Изменение идентификаторов проектов", {{kProject, 3}});
    add("Изменение идентификаторов справочников", {{kBook, 4}});
    add("Изменение идентификаторов растровых карт", {{kRasterMap, 5}});
    add("Изменение идентификаторов векторных карт", {{kVectorMap, 9}});
    add("Изменение идентификаторов слоев", {{kLayer1, 10}, {kLayer2, 11}});
    add("Изменение идентификаторов стилей", {{kStyle1, 12}, {kStyle2, 13}, {kStyle3, 14}});
    add("Изменение идентификаторов семантических таблиц", {{kSemTable1, 15}, {kSemTable2, 16}, {kSemTable3, 17}});
    add("Изменение идентификаторов топоотношений", {{kRelation, 18}});
    expected.push_back("Процесс завершен");
    EXPECT_THAT(LogShape(run.host.log), ElementsAreArray(expected));

    const std::vector<std::string>& calls = run.host.calls;
    const auto has = [&](const std::string& call) { EXPECT_THAT(calls, Contains(call)); };
    has("StartProgress Изменение идентификаторов системных объектов 0");
    has("StartProgress Изменение идентификаторов территорий 2");
    has("StepProgress Территория: Север 1");
    has("StepProgress Проект: Проект 1");
    has("StepProgress Справочник: Типы 1");
    has("StepProgress Растровая карта: Снимки 1");
    has("StepProgress Векторная карта: Город 1");
    has("StepProgress Слой: Дороги 1");
    has("StepProgress Семантическая таблица: Участки 1");
    has("StepProgress Топоотношение: Примыкание 1");
    has("StartProgress Обновление идентификаторов справочных полей 4");
    has("StepProgress Сохранение изменений 1");
    has("StartProgress Изменение идентификаторов стилей 3");
    has("StepProgress Стиль: Кирпич 1");
    has("StepProgress Обновление секторов 0");
    has("StepProgress Обновление сектора <" + kSector1 + "> (0 из 2) 0");
    has("StepProgress Обновление сектора <" + kSector2 + "> (1 из 2) 0");
    has("StepProgress Обновление сектора <" + kSector3 + "> (0 из 1) 0");
    // Every busy state ends; the result counts the identifiers of the chosen objects.
    int depth = 0;
    for (const std::string& call : calls) {
        if (call.rfind("StartProgress", 0) == 0) ++depth;
        if (call == "EndProgress") --depth;
    }
    EXPECT_EQ(depth, 0);
    EXPECT_THAT(calls.back(), StartsWith("Message [Операция завершена] Операция завершена\r\nИзменено: 15\r\n"));

    // The chosen list followed every change: identifiers and parents are the new ones.
    const TVelmoSysObjectList& list = run.engine->SysObjects();
    const std::vector<TChosen> chosenBefore = EveryKindChosen();
    ASSERT_EQ(list.Count(), static_cast<int>(chosenBefore.size()));
    for (int i = 0; i < list.Count(); ++i) {
        const TChosen& chosen = chosenBefore[static_cast<std::size_t>(i)];
        EXPECT_EQ(list.GetItem(i)->ID, Substitute(chosen.ID, EveryKindPairs())) << chosen.Name;
        EXPECT_EQ(list.GetItem(i)->ParentID, Substitute(chosen.ParentID, EveryKindPairs())) << chosen.Name;
    }
}

TEST(SysObjectChanges, KindsWithoutChosenObjectsLeaveNoTrace)
{
    const auto pair = kSqliteLayout.make(EveryKind());
    TRun run;
    run.host.chosen = {{kSemTable1, "Дома", sokSemTable, kLayer1}};
    run.Start(pair->Spatial(), pair->Semantic());
    ASSERT_EQ(run.error, "");
    EXPECT_THAT(LogShape(run.host.log),
                ElementsAre("", "<start>", "Изменен текущий генератор идентификаторов на: 2  <guid>",
                            "Изменение идентификаторов семантических таблиц", PairLine(kSemTable1, New(1)),
                            "Процесс завершен"));
    EXPECT_EQ(run.engine->ChangedCount(), 1);
}

// A chosen style whose layer is not chosen is found through its own parent
// identifier: its row, its preference and access rows and the references in
// its layer's sectors change; other sectors are read but not written.
TEST(SysObjectChanges, AStyleChosenWithoutItsLayer)
{
    for (const TLayout& layout : kDrivers) {
        SCOPED_TRACE(layout.name);
        const auto pair = layout.make(EveryKind());
        IUdb& spatial = *pair->Spatial();
        const TPairSnapshot before = WithoutGenerator(SnapshotPair(spatial, *pair->Semantic()));
        TRun run;
        run.host.chosen = {{kStyle2, "Дерево", sokStyle, kLayer1}};
        run.Start(pair->Spatial(), pair->Semantic());
        ASSERT_EQ(run.error, "");
        const TPairSnapshot after = WithoutGenerator(SnapshotPair(spatial, *pair->Semantic()));
        ExpectSameDiff(DiffSnapshots(before, after), DiffSnapshots(before, ExpectedAfter(before, {{kStyle2, New(1)}})));
        EXPECT_THAT(ReadSectorObjects(spatial, kSector1),
                    ElementsAre(TObjectDesc{kObject1, {kStyle1, kStyle4}}, TObjectDesc{kObject2, {New(1), Id(0, 0)}}));
    }
}

// With only the active space renumbered, objects of other groups keep their
// identifiers without a statement or a log line; a style kept so keeps its
// references in the sectors.
TEST(SysObjectChanges, OnlyTheActiveSpaceKeepsObjectsOfOtherGroups)
{
    const std::string foreignArea = Id(7, 0x01);
    const std::string foreignStyle = Id(7, 0x02);
    const TVelmoDesc desc = EveryKind()
                                .Area(foreignArea, "Чужая")
                                .Style(foreignStyle, kLayer1, "Чужой")
                                .Sector(TSectorDesc(Id(1, 0x61), kLayer1, {{Id(1, 0x62), {foreignStyle, kStyle1}}}));
    const std::vector<TChosen> own = {{kArea2, "Юг", sokArea, ""}, {kStyle1, "Кирпич", sokStyle, kLayer1}};
    const std::vector<TChosen> withForeign = {{foreignArea, "Чужая", sokArea, ""}, own[0],
                                              {foreignStyle, "Чужой", sokStyle, kLayer1}, own[1]};
    std::vector<std::int64_t> executions;
    for (const auto& chosen : {own, withForeign}) {
        const auto pair = kSqliteLayout.make(desc);
        const TPairSnapshot before = WithoutGenerator(SnapshotPair(*pair->Spatial(), *pair->Semantic()));
        const auto faulty = WrapFaulty(pair->Spatial());
        TRun run;
        run.host.chosen = chosen;
        std::int64_t start = 0;
        run.Start(faulty, pair->Semantic(), true, [&] { start = faulty->Executions(); });
        ASSERT_EQ(run.error, "");
        executions.push_back(faulty->Executions() - start);
        EXPECT_THAT(LogShape(run.host.log),
                    ElementsAre("", "<start>", "Изменен текущий генератор идентификаторов на: 2  <guid>",
                                "Изменение идентификаторов территорий", PairLine(kArea2, New(1)),
                                "Изменение идентификаторов стилей", PairLine(kStyle1, New(2)), "Процесс завершен"));
        EXPECT_EQ(run.engine->ChangedCount(), 2);
        const TPairSnapshot after = WithoutGenerator(SnapshotPair(*pair->Spatial(), *pair->Semantic()));
        ExpectSameDiff(DiffSnapshots(before, after),
                       DiffSnapshots(before, ExpectedAfter(before, {{kArea2, New(1)}, {kStyle1, New(2)}})));
    }
    EXPECT_EQ(executions[0], executions[1]) << "the objects of group 7 cost no statement";
}

// ---- failures ---------------------------------------------------------------------------------

// Checks the state a run left, whatever stopped it: the pair is the model of
// exactly what the log names (plus the rasters of a renamed raster map), no
// transaction is open, and the counter lies above every number issued.
void ExpectWholeObjects(TPair& pair, const TPairSnapshot& before, const TPairs& logged, TPairSnapshot& after)
{
    IUdb& spatial = *pair.Spatial();
    EXPECT_FALSE(spatial.InTransaction());
    after = SnapshotPair(spatial, *pair.Semantic());
    const TPairs rasters = RasterPairs(spatial);
    const TPairs renamed = Concat(logged, rasters);
    ExpectSameDiff(DiffSnapshots(WithoutGenerator(before), WithoutGenerator(after)),
                   DiffSnapshots(WithoutGenerator(before), ExpectedAfter(WithoutGenerator(before), renamed)));
    // Rasters change only with their map.
    const bool mapRenamed = std::any_of(logged.begin(), logged.end(), [](const auto& p) { return p.first == kRasterMap; });
    EXPECT_EQ(rasters.size(), mapRenamed ? 3u : 0u);

    const TRows counter = ReadRows(spatial, "VELMO_DBINFO", {"IDGROUP", "IDNUMBER"});
    ASSERT_EQ(counter.size(), 1u);
    ExpectNumbersAtMost(after, std::stoi(counter[0][0]), std::stoll(counter[0][1]));
}

// The same with the pairs of run's log after those of earlier runs, then
// the generator's write-back as the engine lets go of the pair.
void ExpectWholeObjects(TPair& pair, const TPairSnapshot& before, TRun& run, const TPairs& earlier = {})
{
    TPairSnapshot after;
    ExpectWholeObjects(pair, before, Concat(earlier, LoggedPairs(run.host.log)), after);
    run.engine->CloseDatabases(); // writes the last number issued back
    const TRows written = ReadRows(*pair.Spatial(), "VELMO_DBINFO", {"IDGROUP", "IDNUMBER"});
    ASSERT_EQ(written.size(), 1u);
    ExpectNumbersAtMost(after, std::stoi(written[0][0]), std::stoll(written[0][1]));
}

// A failure at every statement and at every commit of the run in turn: each
// chosen object is wholly renamed with its pair line, or wholly untouched.
// Only the failure of the preference deletion lets the run finish.
TEST(SysObjectChangesFaults, AFailureAnywhereLeavesEachObjectWhole)
{
    for (const TLayout& layout : kDrivers) {
        SCOPED_TRACE(layout.name);
        const TVelmoDbPair master(EveryKind(), layout.opener);
        const TPairSnapshot before = SnapshotPair(master.Spatial(), master.Semantic());

        // One run that fails at the armed fault (or at nothing).
        const auto attempt = [&](const std::function<void(TFaultyUdb&)>& arm, std::int64_t* statements,
                                 std::int64_t* commits) {
            TCopiedPair pair(master.Folder(), layout.opener);
            const auto faulty = WrapFaulty(pair.Spatial());
            TRun run;
            run.host.chosen = EveryKindChosen();
            std::int64_t statementsBefore = 0, commitsBefore = 0;
            run.Start(faulty, pair.Semantic(), false, [&] {
                arm(*faulty);
                statementsBefore = faulty->Executions();
                commitsBefore = faulty->Commits();
            });
            if (statements) *statements = faulty->Executions() - statementsBefore;
            if (commits) *commits = faulty->Commits() - commitsBefore;
            if (run.error.empty()) {
                EXPECT_EQ(LoggedPairs(run.host.log).size(), 15u);
            } else {
                EXPECT_THAT(run.error, HasSubstr("Injected failure"));
                EXPECT_EQ(run.host.log.back(), "Процесс завершен");
            }
            ExpectWholeObjects(pair, before, run);
            return run.error.empty();
        };

        std::int64_t statements = 0, commits = 0;
        ASSERT_TRUE(attempt([](TFaultyUdb&) {}, &statements, &commits));
        EXPECT_EQ(commits, 14); // one per object, one per layer of styles

        std::vector<std::string> finished;
        for (std::int64_t n = 1; n <= statements; ++n) {
            const std::string what = "statement " + std::to_string(n);
            SCOPED_TRACE(what);
            if (attempt([n](TFaultyUdb& db) { db.FailStatement(static_cast<int>(n)); }, nullptr, nullptr))
                finished.push_back(what);
        }
        for (std::int64_t n = 1; n <= commits; ++n) {
            const std::string what = "commit " + std::to_string(n);
            SCOPED_TRACE(what);
            if (attempt([n](TFaultyUdb& db) { db.FailCommit(static_cast<int>(n)); }, nullptr, nullptr))
                finished.push_back(what);
        }
        // The one failure the run survives is that of the preference deletion.
        ASSERT_EQ(finished.size(), 1u) << testing::PrintToString(finished);
        EXPECT_TRUE(attempt(
            [](TFaultyUdb& db) {
                db.FailStatementsContaining("DELETE FROM [VELMO_PREFS] WHERE ([VELMO_PREFS].[USERID]=?)");
            },
            nullptr, nullptr));
    }
}

TEST(SysObjectChangesFaults, ARasterMapWithoutItsRasterRowIsRestored)
{
    for (const TLayout& layout : kDrivers) {
        SCOPED_TRACE(layout.name);
        TVelmoDesc desc = EveryKind();
        desc.Maps[0].RasterMapRow = false;
        const auto pair = layout.make(desc);
        const TPairSnapshot before = SnapshotPair(*pair->Spatial(), *pair->Semantic());
        TRun run;
        run.host.chosen = EveryKindChosen();
        run.Start(pair->Spatial(), pair->Semantic());
        EXPECT_EQ(run.error, "Объект не найден");
        EXPECT_THAT(LoggedPairs(run.host.log), ElementsAre(std::pair(kArea1, New(1)), std::pair(kArea2, New(2)),
                                                           std::pair(kProject, New(3)), std::pair(kBook, New(4))));
        ExpectWholeObjects(*pair, before, run); // the map's VELMO_MAPS row is back
        EXPECT_EQ(ReadValue(*pair->Spatial(), "VELMO_MAPS", "MAPNAME", "ID", kRasterMap).AsString(), "Снимки");
    }
}

TEST(SysObjectChangesFaults, AnUnreadableDescriptionLeavesTheBookUnchanged)
{
    for (const TLayout& layout : kDrivers) {
        SCOPED_TRACE(layout.name);
        TVelmoDesc desc = EveryKind();
        desc.SemTables[2].RefBookField(Blob(Header(287, 2) + Rec("TYPE", "Тип", kBook, "CODE", {"NAME"})));
        const auto pair = layout.make(desc);
        const TPairSnapshot before = SnapshotPair(*pair->Spatial(), *pair->Semantic());
        TRun run;
        run.host.chosen = EveryKindChosen();
        run.Start(pair->Spatial(), pair->Semantic());
        EXPECT_THAT(run.error, StartsWith("Ошибка загрузки данных по семантической таблице: Участки[" + kSemTable3 +
                                          "]. Дополнительные данные семантической таблицы повреждены: "));
        EXPECT_THAT(LoggedPairs(run.host.log), ElementsAre(std::pair(kArea1, New(1)), std::pair(kArea2, New(2)),
                                                           std::pair(kProject, New(3))));
        ExpectWholeObjects(*pair, before, run);
    }
}

// A description whose table name cannot go into SQL is left as it is, as for a missing table.
TEST(SysObjectChangesFaults, ABadTableNameInTheDescriptionsIsTakenForAMissingTable)
{
    for (const std::string badName : {"ROADS]; DROP TABLE [HOUSES", "HOUSES\"", "HOU\tSES"}) {
        SCOPED_TRACE(badName);
        TVelmoDesc desc = EveryKind();
        desc.SemTables[1].TableName = badName;
        desc.SemTables[1].RefBookField(Blob(HousesBlob())); // refers to the book, as a table present would
        const auto pair = kSqliteLayout.make(desc);
        IUdb& spatial = *pair->Spatial();
        const rtl::Variant badBlob = ReadValue(spatial, "VELMO_SEMTABLS", "REFBOOKFIELD", "ID", kSemTable2);
        const rtl::Variant housesBlob = ReadValue(spatial, "VELMO_SEMTABLS", "REFBOOKFIELD", "ID", kSemTable1);
        TRun run;
        run.host.chosen = {{kBook, "Типы", sokRefBook, ""}};
        run.Start(pair->Spatial(), pair->Semantic());
        EXPECT_EQ(run.error, "");
        EXPECT_THAT(LoggedPairs(run.host.log), ElementsAre(std::pair(kBook, New(1))));
        EXPECT_EQ(ReadRows(spatial, "VELMO_REFBOOKS", {"ID"}), (TRows{{kBook2}, {New(1)}}));
        EXPECT_EQ(ReadValue(spatial, "VELMO_SEMTABLS", "REFBOOKFIELD", "ID", kSemTable2), badBlob);
        EXPECT_NE(ReadValue(spatial, "VELMO_SEMTABLS", "REFBOOKFIELD", "ID", kSemTable1), housesBlob)
            << "the pass went on past the row";
        EXPECT_EQ(CountRows(*pair->Semantic(), "HOUSES"), 1);
    }
}

// A style without a layer stops the run before any kind has changed anything.
TEST(SysObjectChangesFaults, AStyleWithoutALayerIsRefusedBeforeAnythingChanges)
{
    const auto pair = kSqliteLayout.make(EveryKind().Style(Id(1, 0x60), "", "Ничей"));
    const TPairSnapshot before = WithoutGenerator(SnapshotPair(*pair->Spatial(), *pair->Semantic()));
    TRun run;
    run.host.chosen = EveryKindChosen();
    run.host.chosen.push_back({Id(1, 0x60), "Ничей", sokStyle, ""});
    run.Start(pair->Spatial(), pair->Semantic());
    EXPECT_THAT(run.error, StartsWith("Не найден слой для стиля Ничей (ID: 000100000060) ("));
    EXPECT_TRUE(LoggedPairs(run.host.log).empty());
    EXPECT_TRUE(DiffSnapshots(before, WithoutGenerator(SnapshotPair(*pair->Spatial(), *pair->Semantic()))).empty());
}

// ---- Cancel -----------------------------------------------------------------------------------

struct TCancelCase {
    const char* name;
    // Presses Cancel at this step of the run (a StepProgress text), or at
    // the first spinner tick of this busy state when the text starts with "@".
    std::string at;
    bool secondBook; // the second reference book is chosen too
    TPairs renamed;
    std::vector<std::string> lastLogLines;
};

TEST(SysObjectChangesCancel, TheObjectUnderWayCompletesAndNothingAfterIt)
{
    const TPairs upToLayer1 = {{kArea1, New(1)}, {kArea2, New(2)},      {kProject, New(3)},
                               {kBook, New(4)},  {kRasterMap, New(5)},  {kRaster1, New(6)},
                               {kRaster2, New(7)}, {kRaster3, New(8)}, {kVectorMap, New(9)},
                               {kLayer1, New(10)}};
    const TCancelCase cases[] = {
        {"during the first layer: it commits, the second layer and every later kind stay",
         "Слой: Дома",
         false,
         upToLayer1,
         {"Изменение идентификаторов слоев", PairLine(kLayer1, New(10)), "Процесс завершен"}},
        {"during the first style: its sectors are rewritten for it alone, nothing after",
         "Стиль: Кирпич",
         false,
         Concat(Concat(upToLayer1, {{kLayer2, New(11)}}), {{kStyle1, New(12)}}),
         {"Изменение идентификаторов стилей", PairLine(kStyle1, New(12)), "Процесс завершен"}},
        {"during the reference-book pass: every description of the book is rewritten",
         "@Обновление идентификаторов справочных полей",
         true,
         {{kArea1, New(1)}, {kArea2, New(2)}, {kProject, New(3)}, {kBook, New(4)}},
         {"Изменение идентификаторов справочников", PairLine(kBook, New(4)), "Процесс завершен"}},
    };
    for (const TCancelCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto pair = kSqliteLayout.make(EveryKind());
        const TPairSnapshot before = SnapshotPair(*pair->Spatial(), *pair->Semantic());
        TRun run;
        run.host.chosen = EveryKindChosen();
        if (c.secondBook) run.host.chosen.insert(run.host.chosen.begin() + 3, {kBook2, "Материалы", sokRefBook, ""});
        const std::string progress = c.at.substr(1);
        if (c.at[0] == '@') {
            run.host.onTick = [&] {
                if (run.host.progress == progress) run.engine->Cancel();
            };
        } else {
            run.host.onStep = [&](const std::string& text) {
                if (text == c.at) run.engine->Cancel();
            };
        }
        run.Start(pair->Spatial(), pair->Semantic());
        ASSERT_EQ(run.error, "");
        ExpectWholeObjects(*pair, before, run);
        TPairs renamedObjects;
        for (const auto& p : c.renamed)
            if (!kRasterIDs.count(p.first)) renamedObjects.push_back(p);
        EXPECT_EQ(LoggedPairs(run.host.log), renamedObjects);
        const std::vector<std::string> tail(run.host.log.end() - static_cast<std::ptrdiff_t>(c.lastLogLines.size()),
                                            run.host.log.end());
        EXPECT_EQ(tail, c.lastLogLines);
        EXPECT_THAT(run.host.calls.back(), StartsWith("Message [Операция прервана пользователем] Операция прервана "
                                                      "пользователем\r\nИзменено: "));
    }
}

// ---- a process killed at a file operation, two folders ------------------------------------------

// Runs mode 1 on the folders of pair with every file operation going through
// fs, armed after the opening to fail operation failAt and every one after
// it (torn: the failing write puts half its bytes down), and closes both
// databases whatever failed, as a kill there would leave them. onStep, when
// given, sees every step of the run. Returns the pairs the run logged.
TPairs RunKilledAt(TFolderPair& pair, bde::test::FaultyFileSystem& fs, long failAt, bool torn,
                   const std::function<void(const std::string&)>& onStep = {})
{
    fs.Reset(0, false, false);
    pair.Open(&fs, false);
    fs.Reset(failAt, true, torn);
    TRun run;
    run.host.chosen = EveryKindChosen();
    run.host.onStep = onStep;
    run.Start(pair.Spatial(), pair.Semantic());
    run.engine->CloseDatabases();
    pair.Close();
    return LoggedPairs(run.host.log);
}

// Mode 1 writes the spatial database alone, in one transaction per object,
// while the semantic database joins the spatial one's transactions. The
// process killed at a file operation of a run on two folders: whichever
// folder is opened first, each object is wholly renamed with its pair line
// or wholly untouched, the semantic folder is as it was, no journal is left,
// and a second run renames every object.
TEST(SysObjectChangesFaults, AKillAtAFileOperationOfTwoFoldersLeavesEachObjectWhole)
{
    const TVelmoDbPair master(EveryKind(), PdoxOpener());
    const TPairSnapshot before = SnapshotPair(master.Spatial(), master.Semantic());
    master.Spatial().Close();
    master.Semantic().Close();

    const bde::test::Snapshot semanticBefore = bde::test::TakeSnapshot(master.Folder() + "/semantic");

    // The counting run; the operations of the first semantic table, from its
    // step to the next one's (its statements and its commit), are all taken
    // below.
    bde::test::FaultyFileSystem fs;
    std::vector<std::string> log;
    long itemFrom = 0, itemTo = 0;
    {
        TFolderPair pair(master.Folder());
        const TPairs logged = RunKilledAt(pair, fs, 0, false, [&](const std::string& step) {
            if (step == "Семантическая таблица: Дома") itemFrom = fs.count + 1;
            if (step == "Семантическая таблица: Дороги") itemTo = fs.count;
        });
        log = fs.log;
        ASSERT_EQ(logged.size(), 15u);
        ASSERT_LT(itemFrom, itemTo);
        EXPECT_EQ(bde::test::Differences(semanticBefore, bde::test::TakeSnapshot(pair.Folder() + "/semantic")), "");
    }
    // Every third operation elsewhere keeps the loop short.
    constexpr long kStride = 3;
    struct Mode {
        const char* name;
        bool torn;
    };
    for (const Mode& mode : {Mode{"killed", false}, Mode{"torn write, killed", true}}) {
        for (long n = 1; n <= static_cast<long>(log.size()); ++n) {
            const std::string& op = log[static_cast<std::size_t>(n - 1)];
            // Only a write can be torn.
            if (mode.torn && !op.starts_with("write ")) continue;
            if ((n < itemFrom || n > itemTo) && n % kStride != 0) continue;
            SCOPED_TRACE(std::string(mode.name) + " at operation " + std::to_string(n) + ": " + op);
            for (const bool semanticFirst : {false, true}) {
                SCOPED_TRACE(semanticFirst ? "semantic first" : "spatial first");
                TFolderPair pair(master.Folder());
                const TPairs killed = RunKilledAt(pair, fs, n, mode.torn);
                ASSERT_TRUE(fs.failed) << "the run ended before the operation";
                pair.Open(nullptr, semanticFirst);
                EXPECT_THAT(PdoxJournalFiles(pair.Folder()), IsEmpty());
                EXPECT_EQ(bde::test::Differences(semanticBefore, bde::test::TakeSnapshot(pair.Folder() + "/semantic")), "");
                TPairSnapshot afterKill;
                ExpectWholeObjects(pair, before, killed, afterKill);

                TRun second;
                for (TChosen c : EveryKindChosen()) {
                    c.ID = Substitute(c.ID, killed);
                    c.ParentID = Substitute(c.ParentID, killed);
                    second.host.chosen.push_back(c);
                }
                second.Start(pair.Spatial(), pair.Semantic());
                EXPECT_EQ(second.error, "");
                EXPECT_EQ(LoggedPairs(second.host.log).size(), 15u);
                ExpectWholeObjects(pair, before, second, killed);
            }
            if (::testing::Test::HasFailure()) return;
        }
    }
}

} // namespace
