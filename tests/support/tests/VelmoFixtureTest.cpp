// Tests of the Velmo test database pair: the tables it creates (the system
// tables with the two deployed extra columns), what a description puts into
// them, the sector blobs it builds, the reading helpers, and that it reaches
// its databases only through the opener it is given. Everything that goes
// through a database runs on the SQLite test driver, on the Paradox driver
// and on PostgreSQL through the ADO driver base.
#include "tests/support/VelmoFixture.h"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "gismodel/CreateSysTables.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/NumText.h"
#include "platform/rtl/SysUtils.h"
#include "tests/support/AdoTestSkip.h"
#include "tests/support/PdoxOpener.h"
#include "tests/support/SqliteUdb.h"

namespace {

using namespace velmotest;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using rtl::Variant;

// "NAME type size R" as read back from the database; sizes only for sized types.
std::string Describe(const TUdbFieldDef& f)
{
    const TUdbDataType base = BaseDataType(f.DataType);
    const bool sized = (base == udtString || base == udtBinary) && f.Size > 0;
    return f.Name + " " + DataTypeName(f.DataType) + (sized ? "(" + rtl::IntToStr(f.Size) + ")" : "") +
           (f.Required ? " R" : "");
}

std::vector<std::string> ReadFields(IUdb& db, const std::string& table)
{
    const rtl::RefPtr<IUdbTableDef> def = db.GetTableDef(table);
    std::vector<std::string> out;
    for (int i = 0; i < def->FieldCount(); ++i) out.push_back(Describe(def->GetFieldDef(i)));
    return out;
}

// A driver the pair runs on, the widest String and Binary columns its tables
// get (0: as defined; -1: no size at all, as PostgreSQL's bytea), and whether a table keeps the fields of its primary key
// in front (as Paradox records do) rather than where they were defined.
struct TPairDriver {
    const char* Name;
    TUdbOpener (*Opener)();
    std::int32_t MaxString;
    std::int32_t MaxBinary;
    bool KeyFieldsFirst;
};

void PrintTo(const TPairDriver& driver, std::ostream* os) { *os << driver.Name; }

const TPairDriver kDrivers[] = {
    {"Sqlite", &SqliteOpener, 0, 0, false},
    {"Paradox", &PdoxOpener, 255, 240, true},
    {"PostgreSQL", &PgOpenerOrSkip, 0, -1, false},
};

class VelmoPairTest : public ::testing::TestWithParam<TPairDriver> {
protected:
    // A driver without its server is skipped before the body runs.
    void SetUp() override
    {
        if (GetParam().Opener == &PgOpenerOrSkip && SkipWithoutPgServer()) GTEST_SKIP();
    }

    static TUdbOpener Opener() { return GetParam().Opener(); }

    // The field as the driver's tables hold it.
    static TUdbFieldDef AsStored(TUdbFieldDef f)
    {
        const TUdbDataType base = BaseDataType(f.DataType);
        const std::int32_t max = base == udtString ? GetParam().MaxString : base == udtBinary ? GetParam().MaxBinary : 0;
        if (max > 0) f.Size = std::min(f.Size, max);
        else if (max < 0) f.Size = 0;
        return f;
    }

    // The fields in the order the driver's tables hold them, for the primary
    // key "A;B;...".
    static std::vector<TUdbFieldDef> InStoredOrder(std::vector<TUdbFieldDef> fields, const std::string& key)
    {
        if (!GetParam().KeyFieldsFirst) return fields;
        auto front = fields.begin();
        for (std::size_t start = 0; start <= key.size();) {
            const std::size_t end = std::min(key.find(';', start), key.size());
            const std::string name = key.substr(start, end - start);
            const auto it = std::find_if(front, fields.end(), [&](const TUdbFieldDef& f) { return f.Name == name; });
            if (it != fields.end()) {
                std::rotate(front, it, std::next(it));
                ++front;
            }
            start = end + 1;
        }
        return fields;
    }
};

std::string DriverName(const ::testing::TestParamInfo<TPairDriver>& info) { return info.param.Name; }

using VelmoFixtureTables = VelmoPairTest;
using VelmoFixtureFill = VelmoPairTest;
using VelmoFixtureSectors = VelmoPairTest;
using VelmoFixtureReadingBack = VelmoPairTest;
using VelmoFixtureOpener = VelmoPairTest;

std::string PrimaryKeyOf(IUdb& db, const std::string& table)
{
    const rtl::RefPtr<IUdbTableDef> def = db.GetTableDef(table);
    for (int i = 0; i < def->IndexCount(); ++i)
        if (def->GetIndexDef(i).Primary) return def->GetIndexDef(i).Fields;
    return "<none>";
}

// ---- structure ------------------------------------------------------------------------

TEST_P(VelmoFixtureTables, SystemTablesAreCreatedAsDefinedPlusTheDeployedColumns)
{
    TVelmoDbPair db(Opener());
    for (const TSysTableDef& def : SysTableDefs()) {
        SCOPED_TRACE(def.Name);
        ASSERT_TRUE(db.Spatial().TableExists(def.Name));
        std::vector<TUdbFieldDef> fields = def.Fields;
        if (def.Name == "VELMO_IDMAPER") fields.push_back({"IDCLASS", udtInteger, 0, false});
        if (def.Name == "VELMO_OBJINFO") fields.push_back({"ID", udtString, 12, true});
        const std::string key = def.Name == "VELMO_OBJINFO" ? "ID" : def.Indexes[0].Fields;
        std::vector<std::string> expected;
        for (const TUdbFieldDef& f : InStoredOrder(fields, key)) expected.push_back(Describe(AsStored(f)));
        EXPECT_EQ(ReadFields(db.Spatial(), def.Name), expected);
        EXPECT_EQ(PrimaryKeyOf(db.Spatial(), def.Name), key);
        for (std::size_t i = 1; i < def.Indexes.size(); ++i)
            EXPECT_GE(db.Spatial().GetTableDef(def.Name)->FindIndex(def.Indexes[i].Fields), 0) << def.Indexes[i].Fields;
    }
}

TEST_P(VelmoFixtureTables, ObjectIndexHoldsOneRowPerObjectOfASector)
{
    TVelmoDbPair db(
        TVelmoDesc().Sector(TSectorDesc(Id(1, 10), Id(1, 2), {{Id(1, 11), {}}, {Id(1, 12), {}}, {Id(1, 13), {}}})),
        Opener());
    EXPECT_EQ(ReadRows(db.Spatial(), "VELMO_OBJINFO", {"ID", "LAYERID", "SECTORID"}),
              (TRows{{Id(1, 11), Id(1, 2), Id(1, 10)}, {Id(1, 12), Id(1, 2), Id(1, 10)}, {Id(1, 13), Id(1, 2), Id(1, 10)}}));
    // The same object twice is refused: ID is the key.
    EXPECT_THROW(InsertRow(db.Spatial(), "VELMO_OBJINFO", {{"ID", Variant(Id(1, 11))}, {"SECTORID", Variant(Id(1, 20))}}),
                 EUdbException);
}

// ---- filling --------------------------------------------------------------------------

TVelmoDesc Sample()
{
    return TVelmoDesc()
        .Database("{DB}", "Карта", 265)
        .Counter(3, 5000)
        .Space(1, "{S1}")
        .Space(3, "{S3}")
        .Area(Id(1, 1), "Area")
        .Project(Id(1, 5), Id(1, 1), "Project")
        .ProjMap(Id(1, 6), Id(1, 5), Id(1, 2))
        .Map(Id(1, 2), Id(1, 1), "Vector")
        .Map(Id(1, 3), Id(1, 1), "Raster", 2)
        .Map(Id(1, 4), "", "Bare raster", 2, false)
        .Raster(Id(1, 7), Id(1, 3), "a.bmp")
        .Layer(Id(1, 8), Id(1, 2), "Roads", Id(1, 10))
        .Style(Id(1, 9), Id(1, 8), "Thin")
        .SemTable(TSemTableDesc(Id(1, 20), Id(1, 8), "Дороги", "ROADS", 1)
                      .RefBookField({1, 2, 3})
                      .Rows({{Variant(Id(3, 11)), Variant("wide")}, {Variant(Id(3, 11)), Variant("old")}}))
        .SemTable(TSemTableDesc(Id(1, 21), Id(1, 8), "Missing", "GONE").Missing())
        .Relation(Id(1, 30), "Crossing", Id(1, 8), Id(1, 8))
        .RefBook(Id(1, 40), "Kinds", "KINDS")
        .Sector(TSectorDesc(Id(1, 10), Id(1, 8), {{Id(3, 11), {Id(1, 9)}}}))
        .Link(Id(3, 11), Id(3, 12))
        .Pref("NOID", "NOID", "NOID", "SERVERID", "x")
        .Pref("U", Id(1, 5), Id(1, 1), "K", Id(1, 5))
        .Row("VELMO_ACL", {{"OBJECTID", Variant(Id(1, 1))}, {"SUBCLASSID", Variant("NOID")}, {"USERID", Variant("U")}});
}

TEST_P(VelmoFixtureFill, EveryPartOfTheDescriptionLandsInItsTable)
{
    TVelmoDbPair db(Sample(), Opener());
    IUdb& s = db.Spatial();
    const struct {
        const char* table;
        std::vector<std::string> columns;
        TRows expected;
    } kCases[] = {
        {"VELMO_DBINFO", {"DBID", "DBCAPTION", "IDGROUP", "IDNUMBER", "VERSION"}, {{"{DB}", "Карта", "3", "5000", "265"}}},
        {"VELMO_IDMAPER", {"IDCLASS", "LOCALID", "GLOBALID"}, {{"0", "1", "{S1}"}, {"0", "3", "{S3}"}}},
        {"VELMO_AREAS", {"ID", "AREANAME"}, {{Id(1, 1), "Area"}}},
        {"VELMO_PROJECTS", {"ID", "GPID", "PROJECTNAME"}, {{Id(1, 5), Id(1, 1), "Project"}}},
        {"VELMO_PROJMAPS", {"ID", "PROJECTID", "PLANEID"}, {{Id(1, 6), Id(1, 5), Id(1, 2)}}},
        {"VELMO_MAPS",
         {"ID", "GPID", "MAPNAME", "MAPTYPE"},
         {{Id(1, 2), Id(1, 1), "Vector", "3"}, {Id(1, 3), Id(1, 1), "Raster", "2"}, {Id(1, 4), "<null>", "Bare raster", "2"}}},
        {"VELMO_RASTMAPS", {"ID"}, {{Id(1, 3)}}},
        {"VELMO_RASTERS", {"ID", "PLANEID", "FILENAME"}, {{Id(1, 7), Id(1, 3), "a.bmp"}}},
        {"VELMO_LAYERS", {"ID", "PLANEID", "LAYERNAME", "ROOTSECTORID"}, {{Id(1, 8), Id(1, 2), "Roads", Id(1, 10)}}},
        {"VELMO_STYLES", {"ID", "LAYERID", "STYLENAME"}, {{Id(1, 9), Id(1, 8), "Thin"}}},
        {"VELMO_SEMTABLS",
         {"ID", "LAYERID", "SEMTABLENAME", "TABLENAME", "LINKTYPE", "REFBOOKFIELD"},
         {{Id(1, 20), Id(1, 8), "Дороги", "ROADS", "1", "x'010203'"},
          {Id(1, 21), Id(1, 8), "Missing", "GONE", "0", "<null>"}}},
        {"VELMO_RELATION", {"ID", "RELATIONNAME", "LAYER1ID", "LAYER2ID"}, {{Id(1, 30), "Crossing", Id(1, 8), Id(1, 8)}}},
        {"VELMO_REFBOOKS", {"ID", "REFBOOKNAME", "TABLENAME"}, {{Id(1, 40), "Kinds", "KINDS"}}},
        {"VELMO_SECTORS", {"ID", "LAYERID"}, {{Id(1, 10), Id(1, 8)}}},
        {"VELMO_OBJINFO", {"ID", "LAYERID", "SECTORID"}, {{Id(3, 11), Id(1, 8), Id(1, 10)}}},
        {"VELMO_LINKS", {"OBJECT1ID", "OBJECT2ID"}, {{Id(3, 11), Id(3, 12)}}},
        {"VELMO_PREFS",
         {"USERID", "PROJECTID", "OBJECTID", "KEYNAME", "DATA"},
         {{"NOID", "NOID", "NOID", "SERVERID", "x"}, {"U", Id(1, 5), Id(1, 1), "K", Id(1, 5)}}},
        {"VELMO_ACL", {"OBJECTID", "SUBCLASSID", "USERID"}, {{Id(1, 1), "NOID", "U"}}},
    };
    for (const auto& c : kCases) EXPECT_EQ(ReadRows(s, c.table, c.columns), c.expected) << c.table;
}

TEST_P(VelmoFixtureFill, SemanticTablesAreCreatedWithTheirRowsUnlessMissing)
{
    TVelmoDbPair db(Sample(), Opener());
    EXPECT_TRUE(db.Semantic().TableExists("ROADS"));
    EXPECT_FALSE(db.Semantic().TableExists("GONE"));
    EXPECT_EQ(ReadRows(db.Semantic(), "ROADS", {"ID", "VALUE"}, true),
              (TRows{{Id(3, 11), "wide"}, {Id(3, 11), "old"}}));
    // The system tables live in the spatial database only.
    EXPECT_FALSE(db.Semantic().TableExists("VELMO_DBINFO"));
}

TEST_P(VelmoFixtureFill, EmptyDescriptionLeavesEveryTableEmptyButDbInfo)
{
    TVelmoDbPair db(TVelmoDesc{}, Opener());
    EXPECT_EQ(ReadRows(db.Spatial(), "VELMO_DBINFO", {"IDGROUP", "IDNUMBER", "VERSION"}), (TRows{{"1", "1000", "265"}}));
    for (const TSysTableDef& def : SysTableDefs())
        if (def.Name != "VELMO_DBINFO") {
            EXPECT_EQ(CountRows(db.Spatial(), def.Name), 0) << def.Name;
        }

    TVelmoDbPair bare(TVelmoDesc().NoDbInfo(), Opener());
    EXPECT_EQ(CountRows(bare.Spatial(), "VELMO_DBINFO"), 0);
}

TEST_P(VelmoFixtureFill, BadDescriptionsAreRefusedAndFillNothing)
{
    const struct {
        const char* name;
        TVelmoDesc desc;
        const char* message;
    } kCases[] = {
        {"row narrower than its columns",
         TVelmoDesc().SemTable(TSemTableDesc(Id(1, 1), "", "T", "T").Rows({{Variant(Id(1, 2))}})),
         "1 values for 2 columns"},
        {"two rows with one key", TVelmoDesc().Area(Id(1, 1), "a").Area(Id(1, 1), "b"), ""},
        {"unknown table", TVelmoDesc().Row("NO_SUCH_TABLE", {{"ID", Variant("x")}}), ""},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        TVelmoDbPair db(Opener());
        try {
            db.Fill(c.desc);
            ADD_FAILURE() << "no error";
        } catch (const rtl::Exception& e) {
            EXPECT_THAT(e.what(), HasSubstr(c.message));
        }
        EXPECT_EQ(CountRows(db.Spatial(), "VELMO_DBINFO"), 0);
        EXPECT_EQ(CountRows(db.Spatial(), "VELMO_AREAS"), 0);
    }
}

// ---- sectors ----------------------------------------------------------------------------

// string[12] of an identifier text: the length byte and the characters.
std::vector<std::uint8_t> IdField(const std::string& text)
{
    std::vector<std::uint8_t> out;
    out.push_back(12);
    for (const char c : text) out.push_back(static_cast<std::uint8_t>(c));
    return out;
}

TEST(VelmoFixtureSectorFormat, BlobOfObjectsIsTheCurrentSectorFormat)
{
    // F3 FF, version 287, one object: its identifier, 32 zero bytes, one
    // shape: the empty outline (eight zero bytes) and the style identifier.
    std::vector<std::uint8_t> expected = {0xF3, 0xFF, 0x1F, 0x01, 0x01, 0x00};
    const auto append = [&](const std::vector<std::uint8_t>& bytes) {
        expected.insert(expected.end(), bytes.begin(), bytes.end());
    };
    append(IdField("0003000000AB"));
    append(std::vector<std::uint8_t>(32, 0));
    append({0x01, 0x00});
    append(std::vector<std::uint8_t>(8, 0));
    append(IdField("000100000009"));
    EXPECT_EQ(SectorBlob({{"0003000000AB", {"000100000009"}}}), expected);
    EXPECT_EQ(SectorBlob({}), (std::vector<std::uint8_t>{0xF3, 0xFF, 0x1F, 0x01, 0x00, 0x00}));
}

TEST_P(VelmoFixtureSectors, StoredObjectsReadBackWithTheirStyles)
{
    const std::vector<TObjectDesc> objects = {
        {Id(3, 11), {Id(1, 9), Id(1, 19)}}, {Id(3, 12), {}}, {Id(3, 13), {Id(1, 9)}}};
    TVelmoDbPair db(TVelmoDesc().Sector(TSectorDesc(Id(1, 10), Id(1, 8), objects)).Sector(TSectorDesc(Id(1, 20), Id(1, 8))),
                    Opener());
    EXPECT_EQ(ReadSectorObjects(db.Spatial(), Id(1, 10)), objects);
    EXPECT_THAT(ReadSectorObjects(db.Spatial(), Id(1, 20)), IsEmpty());
    EXPECT_THROW(ReadSectorObjects(db.Spatial(), Id(1, 99)), rtl::Exception);
}

TEST_P(VelmoFixtureSectors, GivenBlobBytesAreStoredAsTheyAre)
{
    const rtl::ByteArray raw = {0x00, 0x00, 0xDE, 0xAD};
    TVelmoDbPair db(TVelmoDesc()
                        .Sector(TSectorDesc(Id(1, 10), Id(1, 8), {{Id(3, 11), {}}}).Blob(raw))
                        .Sector(TSectorDesc(Id(1, 11), Id(1, 8), {{Id(3, 12), {}}}).WithoutObjInfo()),
                    Opener());
    EXPECT_EQ(ReadValue(db.Spatial(), "VELMO_SECTORS", "OBJECTS", "ID", Id(1, 10)).AsBytes(), raw);
    // Objects still describe the index rows; ObjInfo false leaves them out.
    EXPECT_EQ(ReadRows(db.Spatial(), "VELMO_OBJINFO", {"ID", "SECTORID"}), (TRows{{Id(3, 11), Id(1, 10)}}));
}

// ---- reading helpers --------------------------------------------------------------------

TEST(VelmoFixtureReading, CellTexts)
{
    const struct {
        const char* name;
        Variant value;
        const char* text;
    } kCases[] = {
        {"null", Variant::Null(), "<null>"},
        {"bytes in upper-case hex", Variant(rtl::ByteArray{0x0A, 0xFF, 0x00}), "x'0AFF00'"},
        {"empty bytes", Variant(rtl::ByteArray{}), "x''"},
        {"integer", Variant(std::int32_t{-42}), "-42"},
        {"text", Variant("Дорога"), "Дорога"},
        {"empty text", Variant(""), ""},
    };
    for (const auto& c : kCases) EXPECT_EQ(CellText(c.value), c.text) << c.name;
}

TEST_P(VelmoFixtureReadingBack, RowsSortedOrInCursorOrderAndSingleValues)
{
    TVelmoDbPair db(TVelmoDesc().Area(Id(1, 3), "c").Area(Id(1, 1), "a").Area(Id(1, 2), "b"), Opener());
    EXPECT_EQ(ReadRows(db.Spatial(), "VELMO_AREAS", {"AREANAME"}), (TRows{{"a"}, {"b"}, {"c"}}));
    EXPECT_EQ(ReadRows(db.Spatial(), "VELMO_AREAS", {"AREANAME", "BOUNDSL"}, true).size(), 3u);
    EXPECT_EQ(ReadValue(db.Spatial(), "VELMO_AREAS", "AREANAME", "ID", Id(1, 2)).AsString(), "b");
    EXPECT_TRUE(ReadValue(db.Spatial(), "VELMO_AREAS", "AREANAME", "ID", Id(1, 9)).IsEmpty());
    EXPECT_TRUE(ReadValue(db.Spatial(), "VELMO_AREAS", "BOUNDSL", "ID", Id(1, 2)).IsNull());
    EXPECT_EQ(CountRows(db.Spatial(), "VELMO_AREAS"), 3);
}

// ---- the opener -------------------------------------------------------------------------

TEST_P(VelmoFixtureOpener, DatabasesAreReachedOnlyThroughTheOpener)
{
    std::vector<std::string> calls;
    const TUdbOpener driver = Opener();
    const TUdbOpener recording = [&](const std::string& folder, const std::string& name) {
        calls.push_back(name);
        return driver(folder, name);
    };
    TVelmoDbPair db(TVelmoDesc().Area(Id(1, 1), "a"), recording);
    EXPECT_THAT(calls, ElementsAre("spatial", "semantic"));

    // A further connection sees what was filled; Reopen replaces both.
    const rtl::RefPtr<IUdb> other = db.OpenSpatial();
    EXPECT_EQ(CountRows(*other, "VELMO_AREAS"), 1);
    other->Close();
    IUdb* before = &db.Spatial();
    db.Reopen();
    EXPECT_THAT(calls, ElementsAre("spatial", "semantic", "spatial", "spatial", "semantic"));
    EXPECT_NE(&db.Spatial(), before);
    EXPECT_EQ(CountRows(db.Spatial(), "VELMO_AREAS"), 1);
}

TEST_P(VelmoFixtureOpener, ReopenDropsWhatAnOpenTransactionHeld)
{
    TVelmoDbPair db(Opener());
    db.Spatial().StartTransaction();
    InsertRow(db.Spatial(), "VELMO_AREAS", {{"ID", Variant(Id(1, 1))}});
    db.Reopen();
    EXPECT_EQ(CountRows(db.Spatial(), "VELMO_AREAS"), 0);
}

TEST_P(VelmoFixtureOpener, FolderIsRemovedWithThePair)
{
    std::string folder;
    {
        TVelmoDbPair db(Opener());
        folder = db.Folder();
        EXPECT_TRUE(rtl::DirectoryExists(folder));
    }
    EXPECT_FALSE(rtl::DirectoryExists(folder));
}

INSTANTIATE_TEST_SUITE_P(Drivers, VelmoFixtureTables, ::testing::ValuesIn(kDrivers), DriverName);
INSTANTIATE_TEST_SUITE_P(Drivers, VelmoFixtureFill, ::testing::ValuesIn(kDrivers), DriverName);
INSTANTIATE_TEST_SUITE_P(Drivers, VelmoFixtureSectors, ::testing::ValuesIn(kDrivers), DriverName);
INSTANTIATE_TEST_SUITE_P(Drivers, VelmoFixtureReadingBack, ::testing::ValuesIn(kDrivers), DriverName);
INSTANTIATE_TEST_SUITE_P(Drivers, VelmoFixtureOpener, ::testing::ValuesIn(kDrivers), DriverName);

} // namespace
