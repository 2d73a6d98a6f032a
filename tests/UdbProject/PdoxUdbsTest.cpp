// Tests of the Paradox driver: connecting to a folder from the parameter
// document (with and without a password, again after reopening, failing for
// a folder that is not there), the four kinds of schema information and the
// kind it does not have, its registration as "BDE.Paradox", tables created
// through the layer as Paradox files in the folder, and the Velmo test pair
// built on it.
#include "tests/support/TempFolder.h"
#include "UdbProject/PdoxUdbs.h"

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "UdbProject/UdbDrivers.h"
#include "platform/bde/PxDatabase.h"
#include "platform/rtl/NumText.h"
#include "platform/rtl/TextUtils.h"
#include "tests/UdbProject/FakeDriver.h"
#include "tests/support/PdoxOpener.h"
#include "tests/support/VelmoFixture.h"

namespace {

using fake::Raised;
using velmotest::PdoxOpener;
using velmotest::PdoxPasswordOpener;
using velmotest::PdoxParamsXml;
using rtl::Variant;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

using TempFolder = testing_support::TempFolder;

// The rows of a cursor as texts, one "a|b|c" per row ("<null>" for Null).
std::vector<std::string> RowsOf(IUdbCursor& c)
{
    std::vector<std::string> rows;
    for (; !c.Eof(); c.Next()) {
        std::string row;
        for (int i = 0; i < c.FieldCount(); ++i) {
            if (i > 0) row += "|";
            row += c.IsNull(Variant(i)) ? "<null>" : c.AsString(Variant(i), "");
        }
        rows.push_back(row);
    }
    return rows;
}

std::vector<std::string> ColumnsOf(IUdbCursor& c)
{
    std::vector<std::string> names;
    for (int i = 0; i < c.FieldCount(); ++i) names.push_back(c.FieldName(i));
    return names;
}

// ---- connecting -------------------------------------------------------------------------

TEST(PdoxConnect, FolderBecomesThePathOfTheStandardDriverWithoutAPassword)
{
    TempFolder folder;
    const auto db = rtl::MakeRef<TPdoxUdb>();
    db->Open(PdoxParamsXml(folder.Path()));
    EXPECT_TRUE(db->IsOpen());
    EXPECT_THAT(db->Session().Passwords(), IsEmpty());
    EXPECT_EQ(db->Database().DriverName(), "STANDARD");
    EXPECT_THAT(db->Database().Params(), ElementsAre("PATH=" + folder.Path()));
    EXPECT_EQ(db->Database().TransIsolation(), bde::tiDirtyRead);
    db->Close();
    EXPECT_FALSE(db->IsOpen());
    EXPECT_FALSE(db->Database().Connected());
}

TEST(PdoxConnect, APasswordIsAddedToTheSessionBeforeConnecting)
{
    TempFolder folder;
    const auto db = rtl::MakeRef<TPdoxUdb>();
    db->Open(PdoxParamsXml(folder.Path(), "secret"));
    EXPECT_TRUE(db->IsOpen());
    EXPECT_THAT(db->Session().Passwords(), ElementsAre("secret"));
}

TEST(PdoxConnect, ReopeningReplacesThePathLine)
{
    TempFolder folder;
    const std::string a = folder.Sub("a");
    const std::string b = folder.Sub("b");
    const auto db = rtl::MakeRef<TPdoxUdb>();
    db->Open(PdoxParamsXml(a));
    const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("");
    def->SetTableName("ONLY_IN_A");
    def->AddField({"ID", udtInteger, 0, false});
    def->Apply();
    db->Open(PdoxParamsXml(b));
    EXPECT_THAT(db->Database().Params(), ElementsAre("PATH=" + b));
    EXPECT_FALSE(db->TableExists("ONLY_IN_A"));
}

TEST(PdoxConnect, AFolderThatCannotBeOpenedLeavesTheDatabaseClosed)
{
    TempFolder folder;
    struct Case {
        const char* name;
        std::string params;
    };
    const Case cases[] = {
        {"no such folder", PdoxParamsXml(folder.Path() + "/missing")},
        {"no folder parameter", "<driver name=\"BDE.Paradox\"/>"},
    };
    for (const Case& c : cases) {
        const auto db = rtl::MakeRef<TPdoxUdb>();
        EXPECT_FALSE(Raised([&] { db->Open(c.params); }).empty()) << c.name;
        EXPECT_FALSE(db->IsOpen()) << c.name;
        EXPECT_EQ(Raised([&] { db->TableExists("T"); }), fake::Udb(UdbMsg::DatabaseClosed)) << c.name;
    }
}

// ---- schema information -------------------------------------------------------------------

class PdoxSchema : public ::testing::Test {
protected:
    PdoxSchema() { db->Open(PdoxParamsXml(folder.Path())); }
    TempFolder folder;
    rtl::RefPtr<TPdoxUdb> db = rtl::MakeRef<TPdoxUdb>();
};

TEST_F(PdoxSchema, EveryKindHasItsColumnsAndRows)
{
    for (const char* table : {"ROADS", "RIVERS"}) {
        const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("");
        def->SetTableName(table);
        def->AddField({"ID", udtInteger, 0, false});
        def->Apply();
    }
    std::vector<std::string> words;
    for (const char* word : BdeReservedWords) words.push_back(word);
    struct Case {
        TUdbSchemaKind kind;
        std::function<void(const std::vector<std::string>&)> check;
    };
    const Case cases[] = {
        {uskRelations,
         [](const std::vector<std::string>& rows) {
             const std::set<std::string> upper = [&] {
                 std::set<std::string> out;
                 for (const std::string& r : rows) out.insert(rtl::UpperCase(r));
                 return out;
             }();
             EXPECT_EQ(upper, (std::set<std::string>{"ROADS|FALSE|0", "RIVERS|FALSE|0"}));
         }},
        {uskLiteralInfo,
         [](const std::vector<std::string>& rows) {
             EXPECT_THAT(rows, ElementsAre("0|24|False|<null>|<null>|<null>|<null>",
                                           "1|24|False|<null>|<null>|<null>|<null>",
                                           "2|24|False|<null>|<null>|<null>|<null>"));
         }},
        {uskReservedWords, [&](const std::vector<std::string>& rows) { EXPECT_EQ(rows, words); }},
        {uskDataTypesInfo,
         [](const std::vector<std::string>& rows) {
             EXPECT_THAT(rows, ElementsAre("256|Logical|<null>|<null>|<null>", "512|Long integer|<null>|<null>|<null>",
                                           "768|Number|<null>|<null>|<null>", "1024|Money|<null>|<null>|<null>",
                                           "1280|Timestamp|<null>|<null>|<null>", "1536|Alpha|255|<null>|<null>",
                                           "1792|Memo|<null>|<null>|<null>", "2048|Binary|<null>|<null>|<null>"));
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(SchemaKindName(c.kind));
        const rtl::RefPtr<IUdbCursor> cursor = db->GetSchemaInfo(c.kind);
        std::vector<std::string> expectedColumns;
        for (const TUdbFieldDef& f : SchemaKindColumns(c.kind)) expectedColumns.push_back(f.Name);
        EXPECT_EQ(ColumnsOf(*cursor), expectedColumns);
        c.check(RowsOf(*cursor));
    }
}

TEST_F(PdoxSchema, KindsBeyondTheFourAreNotSupported)
{
    for (const TUdbSchemaKind kind : {TUdbSchemaKind{4}, TUdbSchemaKind{5}, TUdbSchemaKind{255}})
        EXPECT_EQ(Raised([&] { db->GetSchemaInfo(kind); }), fake::Udb(UdbMsg::CapabilityNotSupported)) << int{kind};
}

TEST_F(PdoxSchema, AnEmptyFolderHasNoRelations)
{
    EXPECT_THAT(RowsOf(*db->GetSchemaInfo(uskRelations)), IsEmpty());
}

TEST_F(PdoxSchema, TemporaryNamesOfARebuildStayWithinTheLongestName)
{
    // 22 characters: the suffix "_TMP0" takes the place of the last five.
    EXPECT_EQ(MakeUniqueTableName(*db, "ABCDEFGHIJKLMNOPQRSTUV", "_TMP"), "ABCDEFGHIJKLMNOPQ_TMP0");
    EXPECT_EQ(MakeUniqueTableName(*db, "ROADS", "_TMP"), "ROADS_TMP0");
}

// ---- registration and tables ----------------------------------------------------------------

TEST(PdoxDriver, TheRegistryMakesAndOpensParadoxDatabases)
{
    RegisterBuiltInDrivers();
    TempFolder folder;
    rtl::RefPtr<IUdb> db;
    CreateDbObject(db, PdoxParamsXml(folder.Path()), true);
    ASSERT_TRUE(db);
    EXPECT_NE(dynamic_cast<TPdoxUdb*>(db.get()), nullptr);
    EXPECT_TRUE(db->IsOpen());
    EXPECT_EQ(db->GetParams()->GetStr("Udb\\DriverName", ""), "BDE.Paradox");
}

TEST(PdoxDriver, TablesAppliedThroughTheLayerAreParadoxFilesInTheFolder)
{
    TempFolder folder;
    const auto db = rtl::MakeRef<TPdoxUdb>();
    db->Open(PdoxParamsXml(folder.Path()));
    const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("");
    def->SetTableName("ROADS");
    def->AddField({"ID", udtString, 12, true});
    def->AddField({"LAYERID", udtString, 12, false});
    def->AddField({"DATA", udtBinary, 0, false});
    def->AddIndex({"", "ID", true, true});
    def->AddIndex({"", "LAYERID", false, false});
    def->Apply();
    std::set<std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder.Path()))
        files.insert(rtl::UpperCase(entry.path().filename().string()));
    EXPECT_TRUE(files.count("ROADS.DB")) << ::testing::PrintToString(files);
    EXPECT_TRUE(files.count("ROADS.PX")) << ::testing::PrintToString(files);
    // A keyed Paradox data file: the record size at 0 (two 12-byte Alpha fields
    // and a blob field without leader: 10 bytes), the file type at 4 (0: keyed).
    std::FILE* f = std::fopen((folder.Path() + "/ROADS.DB").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    unsigned char head[6] = {};
    EXPECT_EQ(std::fread(head, 1, sizeof head, f), sizeof head);
    std::fclose(f);
    EXPECT_EQ(head[0] | (head[1] << 8), 34);
    EXPECT_EQ(head[4], 0);
    // Statements of the layer run against it.
    PrepareInsert(*db, "ROADS", {UdbStrParam("ID"), UdbStrParam("LAYERID"), UdbBlobParam("DATA")}, false)
        ->Execute({Variant("000100000002"), Variant("000100000001"), Variant(rtl::ByteArray{1, 2, 3})});
    EXPECT_EQ(velmotest::ReadRows(*db, "ROADS", {"ID", "LAYERID", "DATA"}),
              (velmotest::TRows{{"000100000002", "000100000001", "x'010203'"}}));
}

// ---- the Velmo test pair on Paradox --------------------------------------------------------------

TEST(PdoxVelmoPair, TheSystemTablesAreCreatedAndFilledOnParadox)
{
    using namespace velmotest;
    TVelmoDbPair pair(TVelmoDesc()
                          .Counter(3, 5000)
                          .Space(1, "{S1}")
                          .Space(3, "{S3}")
                          .Area(Id(1, 1), "Область")
                          .Map(Id(1, 2), Id(1, 1), "Карта")
                          .Layer(Id(1, 3), Id(1, 2), "Дороги")
                          .Style(Id(1, 4), Id(1, 3), "Стиль")
                          .SemTable(TSemTableDesc(Id(1, 5), Id(1, 3), "Атрибуты", "ROADS_ATTR")
                                        .Rows({{Variant(Id(3, 10)), Variant("Главная")}}))
                          .Sector(TSectorDesc(Id(1, 6), Id(1, 3), {{Id(3, 10), {Id(1, 4)}}})),
                      PdoxOpener());
    EXPECT_EQ(ReadRows(pair.Spatial(), "VELMO_DBINFO", {"IDGROUP", "IDNUMBER"}), (TRows{{"3", "5000"}}));
    EXPECT_EQ(ReadRows(pair.Spatial(), "VELMO_IDMAPER", {"LOCALID", "GLOBALID"}), (TRows{{"1", "{S1}"}, {"3", "{S3}"}}));
    EXPECT_EQ(ReadRows(pair.Spatial(), "VELMO_LAYERS", {"ID", "LAYERNAME"}), (TRows{{Id(1, 3), "Дороги"}}));
    EXPECT_EQ(ReadSectorObjects(pair.Spatial(), Id(1, 6)), (std::vector<TObjectDesc>{{Id(3, 10), {Id(1, 4)}}}));
    EXPECT_EQ(ReadRows(pair.Semantic(), "ROADS_ATTR", {"ID", "VALUE"}), (TRows{{Id(3, 10), "Главная"}}));
    EXPECT_EQ(ReadRows(pair.Spatial(), "VELMO_OBJINFO", {"ID", "SECTORID"}), (TRows{{Id(3, 10), Id(1, 6)}}));
    // What was written is there for the next program run.
    pair.Reopen();
    EXPECT_EQ(CountRows(pair.Spatial(), "VELMO_SECTORS"), 1);
    EXPECT_EQ(ReadRows(pair.Semantic(), "ROADS_ATTR", {"ID", "VALUE"}), (TRows{{Id(3, 10), "Главная"}}));
}

// A pair another engine protected with a password: the driver's "password"
// parameter opens it, and what is read and written is the same as without
// protection; without the password nothing of it reads.
TEST(PdoxVelmoPair, AProtectedPairOpensWithThePasswordParameter)
{
    using namespace velmotest;
    TVelmoDbPair pair(TVelmoDesc()
                          .Layer(Id(1, 3), "", "Дороги")
                          .SemTable(TSemTableDesc(Id(1, 5), Id(1, 3), "Атрибуты", "ROADS_ATTR")
                                        .Rows({{Variant(Id(3, 10)), Variant("Главная")}}))
                          .Sector(TSectorDesc(Id(1, 6), Id(1, 3), {{Id(3, 10), {Id(1, 4)}}})),
                      PdoxOpener());
    pair.Spatial().Close();
    pair.Semantic().Close();
    for (const char* half : {"spatial", "semantic"}) ProtectPdoxFolder(pair.Folder() + "/" + half, "Тайна1");

    const rtl::RefPtr<IUdb> locked = PdoxOpener()(pair.Folder(), "spatial");
    EXPECT_THAT(Raised([&] { ReadRows(*locked, "VELMO_LAYERS", {"ID"}); }), ::testing::HasSubstr("is encrypted"));
    locked->Close();
    const rtl::RefPtr<IUdb> wrong = PdoxPasswordOpener("тайна1")(pair.Folder(), "spatial");
    EXPECT_THAT(Raised([&] { ReadRows(*wrong, "VELMO_LAYERS", {"ID"}); }), ::testing::HasSubstr("is encrypted"));
    wrong->Close();

    const rtl::RefPtr<IUdb> spatial = PdoxPasswordOpener("Тайна1")(pair.Folder(), "spatial");
    const rtl::RefPtr<IUdb> semantic = PdoxPasswordOpener("Тайна1")(pair.Folder(), "semantic");
    EXPECT_EQ(ReadRows(*spatial, "VELMO_LAYERS", {"ID", "LAYERNAME"}), (TRows{{Id(1, 3), "Дороги"}}));
    EXPECT_EQ(ReadSectorObjects(*spatial, Id(1, 6)), (std::vector<TObjectDesc>{{Id(3, 10), {Id(1, 4)}}}));
    EXPECT_EQ(ReadRows(*semantic, "ROADS_ATTR", {"ID", "VALUE"}), (TRows{{Id(3, 10), "Главная"}}));
    InsertRow(*semantic, "ROADS_ATTR", {{"ID", Variant(Id(3, 11))}, {"VALUE", Variant("Вторая")}});
    semantic->Close();
    const rtl::RefPtr<IUdb> again = PdoxPasswordOpener("Тайна1")(pair.Folder(), "semantic");
    EXPECT_EQ(ReadRows(*again, "ROADS_ATTR", {"ID", "VALUE"}),
              (TRows{{Id(3, 10), "Главная"}, {Id(3, 11), "Вторая"}}));
    InsertRow(*spatial, "VELMO_OBJINFO", {{"ID", Variant(Id(3, 12))}, {"LAYERID", Variant(Id(1, 3))}, {"SECTORID", Variant(Id(1, 6))}});
    EXPECT_EQ(ReadRows(*spatial, "VELMO_OBJINFO", {"ID", "SECTORID"}), (TRows{{Id(3, 10), Id(1, 6)}, {Id(3, 12), Id(1, 6)}}));
    again->Close();
    spatial->Close();
    // Every index of the protected tables, secondary ones too, is what a rebuild gives.
    for (const char* half : {"spatial", "semantic"}) {
        bde::PxOpenOptions options;
        options.passwords = {"Тайна1"};
        bde::PxDatabase db(pair.Folder() + "/" + half, options);
        for (const std::string& name : db.TableNames()) {
            const auto table = db.OpenTable(name);
            EXPECT_EQ(table->VerifyIndexes(), "") << name;
            EXPECT_THAT(table->IndexProblems(), IsEmpty()) << name;
        }
    }
}

} // namespace
