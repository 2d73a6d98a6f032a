// Tests of the BDE driver base: the type maps, reserved words and names; the
// statement translation and the parameters it hands the engine; cursors over
// queries and their sharing with the command; reading and creating tables,
// index naming, and changing a table by renaming it in place or rebuilding it
// through a "_TMP" copy with its undo. Everything that needs an engine runs
// on the Paradox driver over a temporary folder.
#include "tests/support/TempFolder.h"
#include "UdbProject/BDEUdbs.h"

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "UdbProject/PdoxUdbs.h"
#include "platform/rtl/NumText.h"
#include "platform/rtl/TextUtils.h"
#include "tests/UdbProject/FakeDriver.h"

namespace {

using fake::Assertion;
using fake::Raised;
using rtl::Variant;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::StartsWith;

// ---- a folder with a Paradox database on it -----------------------------------------------

using TempFolder = testing_support::TempFolder;

std::string ParamsXml(const std::string& folder)
{
    return "<driver name=\"BDE.Paradox\"><param name=\"folder\">" + folder + "</param></driver>";
}

std::string Text(const TUdbFieldDef& f)
{
    return f.Name + " " + DataTypeName(f.DataType) + "(" + rtl::IntToStr(f.Size) + ")" + (f.Required ? " R" : "");
}

std::string Text(const TUdbIndexDef& i)
{
    return i.Name + " [" + i.Fields + "]" + (i.Primary ? " P" : "") + (i.Unique ? " U" : "");
}

TUdbFieldDef F(const char* name, TUdbDataType type, std::int32_t size = 0, bool required = false)
{
    return {name, type, size, required};
}

class BdeDbTest : public ::testing::Test {
protected:
    BdeDbTest() { db->Open(ParamsXml(folder.Path())); }

    rtl::RefPtr<IUdbSQLCommand> Command(const std::string& sql, const TUdbDataTypeArray& types = {},
                                        bool prepared = false)
    {
        return PrepareSQL(*db, sql, types, prepared);
    }
    static TBDESQLCommand& Bde(const rtl::RefPtr<IUdbSQLCommand>& command)
    {
        return dynamic_cast<TBDESQLCommand&>(*command);
    }
    // A table through IUdbTableDef.
    void CreateTable(const std::string& name, const std::vector<TUdbFieldDef>& fields,
                     const std::vector<TUdbIndexDef>& indexes = {})
    {
        const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("");
        def->SetTableName(name);
        for (const TUdbFieldDef& f : fields) def->AddField(f);
        for (const TUdbIndexDef& i : indexes) def->AddIndex(i);
        def->Apply();
    }
    void Insert(const std::string& table, const std::vector<TUdbParam>& fields, const std::vector<Variant>& values)
    {
        PrepareInsert(*db, table, fields, false)->Execute(values);
    }
    // Column `column` of every row, in cursor order, as text ("<null>" for Null).
    std::vector<std::string> Column(const std::string& table, const std::string& column)
    {
        std::vector<std::string> out;
        const rtl::RefPtr<IUdbCursor> c = SelectAll(*db, table);
        for (; !c->Eof(); c->Next()) out.push_back(c->IsNull(column) ? "<null>" : c->AsString(column, ""));
        return out;
    }
    std::vector<std::string> IndexNames(const std::string& table)
    {
        std::vector<std::string> out;
        const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef(table);
        for (int i = 0; i < def->IndexCount(); ++i) out.push_back(def->GetIndexDef(i).Name);
        return out;
    }
    std::vector<std::string> FieldNames(const std::string& table)
    {
        std::vector<std::string> out;
        const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef(table);
        for (int i = 0; i < def->FieldCount(); ++i) out.push_back(def->GetFieldDef(i).Name);
        return out;
    }
    std::set<std::string> Tables()
    {
        std::set<std::string> out;
        const rtl::RefPtr<IUdbCursor> c = db->GetSchemaInfo(uskRelations);
        for (; !c->Eof(); c->Next()) out.insert(rtl::UpperCase(c->AsString("NAME", "")));
        return out;
    }

    TempFolder folder;
    rtl::RefPtr<TPdoxUdb> db = rtl::MakeRef<TPdoxUdb>();
};

// ---- type maps ------------------------------------------------------------------------------

TEST(BdeTypeMaps, EngineFieldTypesMapToTheLayersDataTypes)
{
    using namespace bde;
    struct Case {
        TFieldType type;
        TUdbDataType expected;
    };
    const Case cases[] = {
        {ftString, udtString},     {ftFixedChar, udtString},   {ftWideString, udtString},
        {ftSmallint, udtInteger},  {ftInteger, udtInteger},    {ftWord, udtInteger},
        {ftAutoInc, udtInteger},   {ftBoolean, udtBoolean},    {ftFloat, udtFloat},
        {ftCurrency, udtCurrency}, {ftDate, udtDate},          {ftTime, udtTime},
        {ftDateTime, udtDateTime}, {ftMemo, udtMemo},          {ftBytes, udtBinary},
        {ftVarBytes, udtBinary},   {ftBlob, udtBinary},        {ftGraphic, udtBinary},
        {ftFmtMemo, udtBinary},    {ftParadoxOle, udtBinary},  {ftDBaseOle, udtBinary},
        {ftTypedBinary, udtBinary}, {ftOraBlob, udtBinary},    {ftOraClob, udtBinary},
        {ftUnknown, 0},            {ftBCD, 0},                 {ftLargeint, 0},
        {ftCursor, 0},             {ftADT, 0},                 {ftArray, 0},
        {ftReference, 0},          {ftDataSet, 0},             {ftVariant, 0},
        {ftInterface, 0},          {ftIDispatch, 0},           {ftGuid, 0},
        {ftTimeStamp, 0},          {ftFMTBcd, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(BdeFieldTypeToDataType(c.type), c.expected) << FieldTypeName(c.type);
}

TEST(BdeTypeMaps, DataTypesMapToEngineFieldTypesByTheirBaseTypeOnly)
{
    using namespace bde;
    struct Case {
        const char* name;
        TUdbDataType type;
        TFieldType expected;
    };
    const Case cases[] = {
        {"Boolean", udtBoolean, ftBoolean},
        {"Integer is 32-bit", udtInteger, ftInteger},
        {"Float", udtFloat, ftFloat},
        {"Currency", udtCurrency, ftCurrency},
        {"DateTime", udtDateTime, ftDateTime},
        {"Date becomes date-time", udtDate, ftDateTime},
        {"Time becomes date-time", udtTime, ftDateTime},
        {"String", udtString, ftString},
        {"Memo", udtMemo, ftMemo},
        {"Binary", udtBinary, ftBlob},
        {"Picture becomes blob", udtPicture, ftBlob},
        {"Document becomes blob", udtDocument, ftBlob},
        {"an unknown subtype of a known base", 0x0203, ftInteger},
        {"no type", 0, ftUnknown},
        {"an unknown base type", 0x0900, ftUnknown},
    };
    for (const Case& c : cases) EXPECT_EQ(DataTypeToBdeFieldType(c.type), c.expected) << c.name;
}

TEST(BdeTypeMaps, OnlyTextAndBlobFieldsHandTheirSizeToTheEngine)
{
    struct Case {
        TUdbDataType type;
        std::int32_t size;
        std::int32_t expected;
    };
    const Case cases[] = {
        {udtString, 40, 40}, {udtMemo, 10, 10},  {udtBinary, 0, 0},   {udtPicture, 16, 16},
        {udtInteger, 4, 0},  {udtFloat, 8, 0},   {udtDateTime, 8, 0}, {udtBoolean, -1, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(BdeFieldSize(c.size, c.type), c.expected) << DataTypeName(c.type);
}

TEST(BdeTypeMaps, IndexOptionsFollowPrimaryAndUnique)
{
    struct Case {
        bool primary;
        bool unique;
        bde::TIndexOptions expected;
    };
    const Case cases[] = {
        {false, false, 0},
        {true, false, bde::ixPrimary},
        {false, true, bde::ixUnique},
        {true, true, bde::ixPrimary | bde::ixUnique},
    };
    for (const Case& c : cases) {
        TIndexDef index;
        index.Primary = c.primary;
        index.Unique = c.unique;
        EXPECT_EQ(BdeIndexOptions(&index), c.expected) << c.primary << c.unique;
    }
    EXPECT_EQ(Raised([] { BdeIndexOptions(nullptr); }), Assertion(UdbMsg::ObjectNotInitialized));
}

TEST(BdeReservedWordList, HoldsTwoHundredFifteenDistinctWordsInTheEnginesOrder)
{
    const std::set<std::string> distinct(BdeReservedWords.begin(), BdeReservedWords.end());
    EXPECT_EQ(distinct.size(), BdeReservedWords.size());
    EXPECT_STREQ(BdeReservedWords.front(), "ACTIVE");
    EXPECT_STREQ(BdeReservedWords.back(), "YEAR");
    // Where the engine's order is not alphabetical.
    const auto pos = [](const char* word) {
        for (std::size_t i = 0; i < BdeReservedWords.size(); ++i)
            if (std::string(BdeReservedWords[i]) == word) return static_cast<int>(i);
        return -1;
    };
    EXPECT_EQ(pos("ALL") + 1, pos("AFTER"));
    EXPECT_EQ(pos("LONG") + 1, pos("LENGTH"));
    EXPECT_EQ(pos("PAGE_SIZE") + 1, pos("PAGE"));
    EXPECT_EQ(pos("SHADOW") + 1, pos("SCHEMA"));
    EXPECT_GE(pos("RDB$DB_KEY"), 0);
}

// ---- names ----------------------------------------------------------------------------------

// The first database of a process is number 1: shown in a process of its own.
TEST(BdeNames, FirstDatabaseOfAProcessIsNumberOneAndTheSecondNumberTwo)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const auto first = rtl::MakeRef<TPdoxUdb>();
            const auto second = rtl::MakeRef<TPdoxUdb>();
            const bool ok = first->Session().SessionName() == "VelmoSession1" &&
                            first->Database().DatabaseName() == "VelmoDb1" &&
                            second->Session().SessionName() == "VelmoSession2" &&
                            second->Database().DatabaseName() == "VelmoDb2";
            std::exit(ok ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST(BdeNames, EveryDatabaseGetsTheNextNumberAndItsOwnSessionSetUp)
{
    const auto a = rtl::MakeRef<TPdoxUdb>();
    const std::int32_t n = BdeNameCounter.load();
    const auto b = rtl::MakeRef<TPdoxUdb>();
    EXPECT_EQ(a->Session().SessionName(), "VelmoSession" + rtl::IntToStr(n));
    EXPECT_EQ(a->Database().DatabaseName(), "VelmoDb" + rtl::IntToStr(n));
    EXPECT_EQ(b->Session().SessionName(), "VelmoSession" + rtl::IntToStr(n + 1));
    EXPECT_EQ(b->Database().DatabaseName(), "VelmoDb" + rtl::IntToStr(n + 1));
    EXPECT_EQ(b->Database().SessionName(), b->Session().SessionName());
    EXPECT_FALSE(b->Database().LoginPrompt());
    EXPECT_EQ(b->Database().AliasName(), "");
    EXPECT_FALSE(b->IsOpen());
}

TEST(BdeNames, TableAndQueryObjectsWorkOnTheDatabasesNames)
{
    const auto db = rtl::MakeRef<TPdoxUdb>();
    const std::unique_ptr<bde::TBdeTable> table = db->NewTableComponent("ROADS");
    EXPECT_EQ(table->SessionName(), db->Session().SessionName());
    EXPECT_EQ(table->DatabaseName(), db->Database().DatabaseName());
    EXPECT_EQ(table->TableName(), "ROADS");
    EXPECT_FALSE(table->CacheBlobs());
    EXPECT_EQ(table->TableType(), bde::ttParadox);
    const std::unique_ptr<bde::TBdeQuery> query = db->NewQueryComponent();
    EXPECT_EQ(query->SessionName(), db->Session().SessionName());
    EXPECT_EQ(query->DatabaseName(), db->Database().DatabaseName());
    EXPECT_TRUE(query->RequestLive());
    EXPECT_TRUE(query->UniDirectional());
    EXPECT_FALSE(query->CacheBlobs());
    EXPECT_TRUE(query->ParamCheck());
}

// ---- statement text ----------------------------------------------------------------------------

TEST(BdeStatementText, QuestionMarksOutsideLiteralsBecomeNumberedParameters)
{
    struct Case {
        const char* name;
        const char* sql;
        const char* expected;
    };
    const Case cases[] = {
        {"no markers", "SELECT * FROM \"T\" ", "SELECT * FROM \"T\" "},
        {"numbered from 0 in order", "UPDATE T SET A=?, B=? WHERE C=?",
         "UPDATE T SET A=:PARAM0, B=:PARAM1 WHERE C=:PARAM2"},
        {"adjacent markers", "??", ":PARAM0:PARAM1"},
        {"inside an apostrophe literal, then outside", "SELECT '?' FROM T WHERE A=?",
         "SELECT '?' FROM T WHERE A=:PARAM0"},
        {"inside a double-quoted literal holding an apostrophe", "SELECT \"it's ?\" FROM T WHERE A=?",
         "SELECT \"it's ?\" FROM T WHERE A=:PARAM0"},
        {"a double quote inside an apostrophe literal", "WHERE A='say \"?' AND B=?",
         "WHERE A='say \"?' AND B=:PARAM0"},
        {"a doubled apostrophe closes and reopens", "WHERE A='it''s?' AND B=?", "WHERE A='it''s?' AND B=:PARAM0"},
        {"an unclosed literal runs to the end", "WHERE A='? AND B=?", "WHERE A='? AND B=?"},
        {"Cyrillic text is copied", "WHERE \"Имя\"=? AND 'Дом'=?", "WHERE \"Имя\"=:PARAM0 AND 'Дом'=:PARAM1"},
    };
    for (const Case& c : cases) EXPECT_EQ(ConvertParamMarkers(c.sql), c.expected) << c.name;
}

TEST(BdeStatementText, SelectIsToldFromTheTrimmedUpperCasedText)
{
    struct Case {
        const char* sql;
        bool expected;
    };
    const Case cases[] = {
        {"SELECT * FROM T", true},
        {"  \r\n\tselect count(*) from T", true},
        {"Select distinct A from T", true},
        {"SELECT", true},
        {"UPDATE T SET A=1", false},
        {"INSERT INTO T SELECT * FROM U", false},
        {"(SELECT 1)", false},
        {"SELEC", false},
        {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsSelectStatement(c.sql), c.expected) << c.sql;
}

// ---- index names --------------------------------------------------------------------------------

TEST(BdeIndexNames, NewIndexesAreNamedByTheirFieldOrIndWithTheFirstFreeNumber)
{
    TTableDef def;
    const auto add = [&](const char* name, std::vector<std::string> fields) {
        auto index = std::make_unique<TIndexDef>();
        index->Name = name;
        index->Fields = std::move(fields);
        def.Indexes.Add(std::move(index));
    };
    add("", {"A", "B"});
    add("IND1", {"B", "C"});
    add("X", {"F"});
    struct Case {
        const char* name;
        int index;
        std::vector<std::string> given;
        bool caseSensitive;
        const char* expected;
    };
    const Case cases[] = {
        {"a one-field index takes its field's name, not its own", 2, {}, false, "F"},
        {"two fields: Ind0 first", 0, {}, false, "Ind0"},
        {"a name handed out before is skipped", 0, {"Ind0"}, false, "Ind2"},
        {"a definition's own index name is skipped, ignoring case", 1, {"Ind0"}, false, "Ind2"},
        {"with exact names the other case is free", 1, {"Ind0"}, true, "Ind1"},
        {"handed-out names compare by the same rule", 0, {"IND0"}, true, "Ind0"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(BdeNewIndexName(def, def.Indexes.Get(c.index), c.given, c.caseSensitive), c.expected) << c.name;
}

TEST(BdeIndexNames, IndexesReadWithoutNamesAreNamedAfterTheTable)
{
    std::int32_t n = 0;
    EXPECT_EQ(BdeUnnamedIndexName("T", true, n, {}), "T_PK");
    EXPECT_EQ(n, 0);
    EXPECT_EQ(BdeUnnamedIndexName("T", false, n, {}), "T_I0");
    EXPECT_EQ(BdeUnnamedIndexName("T", false, n, {}), "T_I1");
    EXPECT_EQ(n, 2);
    // Names the engine lists already are passed over.
    n = 0;
    EXPECT_EQ(BdeUnnamedIndexName("T", false, n, {"t_i0", "T_I1", "T_I3"}), "T_I2");
    EXPECT_EQ(BdeUnnamedIndexName("T", false, n, {"t_i0", "T_I1", "T_I3"}), "T_I4");
}

// ---- statements ---------------------------------------------------------------------------------

using BdeStatements = BdeDbTest;

TEST_F(BdeStatements, BracketedNamesAndMarkersReachTheEngineInItsDialect)
{
    CreateTable("T", {F("A", udtString, 10), F("B", udtInteger)});
    const auto update = PrepareUpdate(*db, "T", {UdbStrParam("A")}, {UdbIntParam("B")}, false);
    const bde::TBdeQuery& query = Bde(update).Query();
    EXPECT_EQ(query.SQL(), "UPDATE \"T\" SET \"T\".\"A\"=:PARAM0 WHERE (\"T\".\"B\"=:PARAM1)");
    ASSERT_EQ(query.Params().Count(), 2);
    EXPECT_EQ(query.Params()[0].Name(), "PARAM0");
    EXPECT_EQ(query.Params()[1].Name(), "PARAM1");
    // Brackets inside a literal stay.
    const auto literal = Command("SELECT [T].[A] FROM [T] WHERE [T].[A]='[x]?' AND [T].[B]=?", {udtInteger});
    EXPECT_EQ(Bde(literal).Query().SQL(), "SELECT \"T\".\"A\" FROM \"T\" WHERE \"T\".\"A\"='[x]?' AND \"T\".\"B\"=:PARAM0");
}

TEST_F(BdeStatements, ParametersAreInputsOfTheMappedFieldTypes)
{
    CreateTable("T", {F("A", udtString, 10), F("B", udtInteger)});
    const auto none = Command("SELECT * FROM [T]");
    EXPECT_EQ(Bde(none).Query().Params().Count(), 0);
    const auto typed = Command("SELECT * FROM [T] WHERE ? AND ? AND ? AND ?", {udtString, udtDate, udtPicture, udtMemo});
    const bde::TBdeParams& params = Bde(typed).Query().Params();
    ASSERT_EQ(params.Count(), 4);
    const bde::TFieldType expected[] = {bde::ftString, bde::ftDateTime, bde::ftBlob, bde::ftMemo};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(params[i].ParamType(), bde::ptInput) << i;
        EXPECT_EQ(params[i].DataType(), expected[i]) << i;
    }
}

TEST_F(BdeStatements, MarkersAndDeclaredTypesMustAgree)
{
    struct Case {
        const char* name;
        const char* sql;
        TUdbDataTypeArray types;
    };
    const Case cases[] = {
        {"more markers than types", "SELECT * FROM [T] WHERE [T].[A]=? AND [T].[B]=?", {udtString}},
        {"a marker inside a literal does not count", "SELECT * FROM [T] WHERE [T].[A]='?'", {udtString}},
        {"types without markers", "SELECT * FROM [T]", {udtInteger}},
    };
    CreateTable("T", {F("A", udtString, 10), F("B", udtInteger)});
    for (const Case& c : cases) {
        const std::string raised = Raised([&] { Command(c.sql, c.types); });
        EXPECT_THAT(raised, StartsWith(std::string("EUdbException: Запрос \"") + c.sql + "\". ")) << c.name;
        EXPECT_THAT(raised, HasSubstr("Invalid params count")) << c.name;
    }
}

TEST_F(BdeStatements, SelectGivesACursorAndOtherStatementsTheRowsAffected)
{
    CreateTable("T", {F("ID", udtInteger), F("NAME", udtString, 20)}, {{"", "ID", true, true}});
    for (int i = 1; i <= 3; ++i) Insert("T", {UdbIntParam("ID"), UdbStrParam("NAME")}, {Variant(i), Variant("n")});
    const auto select = Command("  \n\tselect [T].[ID] from [T] where [T].[ID]>?", {udtInteger});
    EXPECT_TRUE(Bde(select).IsSelect());
    const rtl::RefPtr<IUdbCursor> rows = select->Execute({Variant(1)});
    ASSERT_TRUE(rows);
    EXPECT_EQ(rows->AsInteger(0, -1), 2);

    const auto update = Command("update [T] set [NAME]=? where [T].[ID]>=?", {udtString, udtInteger});
    EXPECT_FALSE(Bde(update).IsSelect());
    EXPECT_FALSE(update->Execute({Variant("x"), Variant(2)}));
    EXPECT_EQ(update->RowsAffected(), 2);
    EXPECT_EQ(Column("T", "NAME"), (std::vector<std::string>{"n", "x", "x"}));
}

TEST_F(BdeStatements, ExecutingAgainLeavesAnOpenCursorReadingItsOwnRows)
{
    CreateTable("T", {F("ID", udtInteger), F("GRP", udtInteger)}, {{"", "ID", true, true}});
    for (int i = 1; i <= 6; ++i) Insert("T", {UdbIntParam("ID"), UdbIntParam("GRP")}, {Variant(i), Variant(i % 2)});
    const auto select = Command("SELECT [T].[ID] FROM [T] WHERE [T].[GRP]=?", {udtInteger});
    const bde::TBdeQuery* firstQuery = &Bde(select).Query();
    rtl::RefPtr<IUdbCursor> odd = select->Execute({Variant(1)});
    ASSERT_EQ(odd->AsInteger(0, -1), 1);
    rtl::RefPtr<IUdbCursor> even = select->Execute({Variant(0)});
    EXPECT_NE(&Bde(select).Query(), firstQuery);
    EXPECT_EQ(Bde(select).Query().SQL(), firstQuery->SQL());

    std::vector<int> seen;
    for (; !even->Eof(); even->Next()) seen.push_back(even->AsInteger(0, -1));
    EXPECT_EQ(seen, (std::vector<int>{2, 4, 6}));
    seen.clear();
    for (; !odd->Eof(); odd->Next()) seen.push_back(odd->AsInteger(0, -1));
    EXPECT_EQ(seen, (std::vector<int>{1, 3, 5}));

    // Once no cursor holds it, the command keeps its query.
    odd = nullptr;
    even = nullptr;
    const bde::TBdeQuery* current = &Bde(select).Query();
    const rtl::RefPtr<IUdbCursor> again = select->Execute({Variant(1)});
    EXPECT_EQ(&Bde(select).Query(), current);
    EXPECT_EQ(again->AsInteger(0, -1), 1);
}

TEST_F(BdeStatements, BlobParametersTakeBytesAndNullOnPreparedAndUnpreparedStatements)
{
    CreateTable("T", {F("ID", udtInteger), F("DATA", udtBinary, 0)}, {{"", "ID", true, true}});
    Insert("T", {UdbIntParam("ID"), UdbBlobParam("DATA")}, {Variant(1), Variant::Null()});
    const rtl::ByteArray bytes = {0x00, 0x01, 0xFE, 0xFF, 0x10};
    const auto ReadBlob = [&] { return SelectAll(*db, "T")->AsBlob("DATA"); };
    for (const bool prepared : {true, false}) {
        const auto update = PrepareUpdate(*db, "T", {UdbBlobParam("DATA")}, {UdbIntParam("ID")}, prepared);
        update->Execute({Variant(bytes), Variant(1)});
        EXPECT_EQ(Bde(update).Query().Prepared(), prepared);
        EXPECT_EQ(ReadBlob(), Variant(bytes)) << prepared;
        // Null unprepares the query; a prepared command prepares it again to run.
        update->Execute({Variant::Null(), Variant(1)});
        EXPECT_EQ(update->RowsAffected(), 1);
        EXPECT_EQ(Bde(update).Query().Prepared(), prepared);
        EXPECT_TRUE(ReadBlob().IsNull()) << prepared;
    }
}

TEST_F(BdeStatements, FailuresCarryTheStatementAndItsParameters)
{
    CreateTable("T", {F("ID", udtInteger)}, {{"", "ID", true, true}});
    Insert("T", {UdbIntParam("ID")}, {Variant(1)});
    const auto insert = PrepareInsert(*db, "T", {UdbIntParam("ID")}, false);
    const std::string raised = Raised([&] { insert->Execute({Variant(1)}); });
    EXPECT_THAT(raised, StartsWith("EUdbException: Запрос \"INSERT INTO [T] ([T].[ID]) VALUES(?)\".\n\rПараметры:\n\r"));
    EXPECT_THAT(raised, HasSubstr("Integer(Integer)=1"));
    const std::string missing = Raised([&] { SelectAll(*db, "NOSUCH"); });
    EXPECT_THAT(missing,
                StartsWith("EUdbException: Запрос \"SELECT * FROM [NOSUCH] \".\n\rПараметры:\n\r(Empty Values list)"));
    EXPECT_THAT(missing, HasSubstr("NOSUCH"));
}

// ---- cursors --------------------------------------------------------------------------------------

using BdeCursors = BdeDbTest;

TEST_F(BdeCursors, ValuesTypesAndSizesOfEveryKindOfField)
{
    CreateTable("T", {F("ID", udtInteger), F("NAME", udtString, 20), F("OK", udtBoolean), F("X", udtFloat),
                      F("PRICE", udtCurrency), F("WHEN", udtDateTime), F("NOTE", udtMemo, 10),
                      F("DATA", udtBinary, 0)},
                {{"", "ID", true, true}});
    const rtl::ByteArray bytes(300, 0xAB);
    Insert("T",
           {UdbIntParam("ID"), UdbStrParam("NAME"), {"OK", udtBoolean}, {"X", udtFloat}, {"PRICE", udtCurrency},
            {"WHEN", udtDateTime}, {"NOTE", udtMemo}, UdbBlobParam("DATA")},
           {Variant(7), Variant("Дорога"), Variant(true), Variant(2.5), Variant(rtl::Currency{123400}),
            Variant::DateTime(45000.5), Variant("Примечание длиннее лидера"), Variant(bytes)});
    Insert("T", {UdbIntParam("ID")}, {Variant(8)});
    const rtl::RefPtr<IUdbCursor> c = SelectAll(*db, "T");
    ASSERT_EQ(c->FieldCount(), 8);

    struct Case {
        const char* field;
        TUdbDataType type;
        Variant value;
        std::int32_t dataSize;
    };
    const Case cases[] = {
        {"ID", udtInteger, Variant(7), 4},
        {"NAME", udtString, Variant("Дорога"), 6},
        {"OK", udtBoolean, Variant(true), 2},
        {"X", udtFloat, Variant(2.5), 8},
        {"PRICE", udtCurrency, Variant(rtl::Currency{123400}), 8},
        {"WHEN", udtDateTime, Variant::DateTime(45000.5), 8},
        {"NOTE", udtMemo, Variant("Примечание длиннее лидера"), 25},
        {"DATA", udtBinary, Variant(bytes), 300},
    };
    for (int i = 0; i < 8; ++i) {
        const Case& k = cases[i];
        EXPECT_EQ(c->FieldName(i), k.field);
        EXPECT_EQ(c->FieldIndex(k.field), i);
        EXPECT_EQ(c->FieldType(Variant(k.field)), k.type) << k.field;
        EXPECT_EQ(c->GetValue(Variant(k.field)), k.value) << k.field;
        EXPECT_EQ(c->DataSize(Variant(k.field)), k.dataSize) << k.field;
        EXPECT_FALSE(c->IsNull(Variant(i))) << k.field;
    }
    EXPECT_EQ(c->AsBlob("DATA"), Variant(bytes));
    EXPECT_EQ(c->AsString("NAME", ""), "Дорога");
    EXPECT_EQ(c->AsCurrency("PRICE", {}), rtl::Currency{123400});
    EXPECT_DOUBLE_EQ(c->AsDateTime("WHEN", 0), 45000.5);
    EXPECT_EQ(c->FieldIndex("nosuch"), -1);

    c->Next();
    EXPECT_EQ(c->AsInteger("ID", -1), 8);
    for (const char* field : {"NAME", "OK", "X", "PRICE", "WHEN", "NOTE", "DATA"}) {
        EXPECT_TRUE(c->IsNull(Variant(field))) << field;
        EXPECT_TRUE(c->GetValue(Variant(field)).IsNull()) << field;
    }
    EXPECT_TRUE(c->AsBlob("DATA").IsNull());
    EXPECT_EQ(c->DataSize("NAME"), 0);
    c->Next();
    EXPECT_TRUE(c->Eof());
}

TEST_F(BdeCursors, ClosingTheDatabaseLeavesCursorsAnsweringOnlyEofAndClose)
{
    CreateTable("T", {F("ID", udtInteger)});
    Insert("T", {UdbIntParam("ID")}, {Variant(1)});
    const rtl::RefPtr<IUdbCursor> c = SelectAll(*db, "T");
    // A command whose query the engine has prepared.
    const auto command = Command("SELECT * FROM [T]", {}, true);
    command->Execute(nullptr, 0);
    ASSERT_TRUE(Bde(command).Query().Prepared());
    ASSERT_FALSE(c->Eof());
    db->Close();
    EXPECT_TRUE(c->Eof());
    EXPECT_NO_THROW(c->Close());
    EXPECT_EQ(Raised([&] { c->AsInteger(0, 0); }), fake::Udb(UdbMsg::DatabaseClosed));
    EXPECT_EQ(Raised([&] { command->Execute(nullptr, 0); }), fake::Udb(UdbMsg::DatabaseClosed));
    // The database goes while they live on.
    db = nullptr;
    EXPECT_TRUE(c->Eof());
    EXPECT_NO_THROW(c->Close());
    EXPECT_EQ(Raised([&] { command->RowsAffected(); }), fake::Udb(UdbMsg::DatabaseClosed));
}

TEST_F(BdeCursors, CommitClosesTheCursorsButTheirCommandRunsAgain)
{
    CreateTable("T", {F("ID", udtInteger)});
    Insert("T", {UdbIntParam("ID")}, {Variant(1)});
    const auto select = Command("SELECT * FROM [T]");
    db->StartTransaction();
    const rtl::RefPtr<IUdbCursor> c = select->Execute(nullptr, 0);
    db->Commit();
    EXPECT_TRUE(c->Eof());
    const rtl::RefPtr<IUdbCursor> again = select->Execute(nullptr, 0);
    EXPECT_EQ(again->AsInteger(0, -1), 1);
}

// ---- transactions ---------------------------------------------------------------------------------

using BdeTransactions = BdeDbTest;

TEST_F(BdeTransactions, TheDatabaseObjectKeepsOrUndoesTheChanges)
{
    CreateTable("T", {F("ID", udtInteger), F("NAME", udtString, 10)}, {{"", "ID", true, true}});
    Insert("T", {UdbIntParam("ID"), UdbStrParam("NAME")}, {Variant(1), Variant("a")});
    const auto update = PrepareUpdate(*db, "T", {UdbStrParam("NAME")}, {UdbIntParam("ID")}, true);
    struct Case {
        const char* name;
        bool commit;
        std::vector<std::string> ids;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {"rolled back", false, {"1"}, {"a"}},
        {"committed", true, {"1", "2"}, {"b", "c"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        db->StartTransaction();
        EXPECT_TRUE(db->InTransaction());
        EXPECT_TRUE(db->Database().InTransaction());
        update->Execute({Variant("b"), Variant(1)});
        Insert("T", {UdbIntParam("ID"), UdbStrParam("NAME")}, {Variant(2), Variant("c")});
        if (c.commit) db->Commit();
        else db->Rollback();
        EXPECT_FALSE(db->InTransaction());
        EXPECT_FALSE(db->Database().InTransaction());
        EXPECT_EQ(Column("T", "ID"), c.ids);
        EXPECT_EQ(Column("T", "NAME"), c.names);
    }
}

// ---- table definitions ----------------------------------------------------------------------------

using BdeTableDefs = BdeDbTest;

TEST_F(BdeTableDefs, CreatedTablesReadBackWithTheirFieldsAndNamedIndexes)
{
    CreateTable("ROADS",
                {F("ID", udtString, 12, true), F("A", udtInteger), F("B", udtInteger), F("C", udtFloat),
                 F("NOTE", udtMemo, 20), F("DATA", udtPicture, 16)},
                {{"mine", "ID", true, true}, {"", "A;B", false, false}, {"", "B;C", false, false},
                 {"ignored", "C", false, false}});
    const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("ROADS");
    EXPECT_EQ(def->GetTableName(), "ROADS");
    const TUdbFieldDef fields[] = {F("ID", udtString, 12, true), F("A", udtInteger), F("B", udtInteger),
                                   F("C", udtFloat), F("NOTE", udtMemo, 20), F("DATA", udtBinary, 16)};
    ASSERT_EQ(def->FieldCount(), 6);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(Text(def->GetFieldDef(i)), Text(fields[i]));
    // The engine lists the indexes in an order of its own.
    std::set<std::string> indexes;
    for (int i = 0; i < def->IndexCount(); ++i) indexes.insert(Text(def->GetIndexDef(i)));
    EXPECT_EQ(indexes, (std::set<std::string>{Text({"ROADS_PK", "ID", true, true}), Text({"Ind0", "A;B", false, false}),
                                              Text({"Ind1", "B;C", false, false}), Text({"C", "C", false, false})}));
    EXPECT_FALSE(def->IsModified());
}

TEST_F(BdeTableDefs, ExistenceAndDropGoThroughTableObjects)
{
    CreateTable("T", {F("ID", udtInteger)});
    EXPECT_TRUE(db->TableExists("T"));
    EXPECT_TRUE(db->TableExists("t"));
    EXPECT_FALSE(db->TableExists("U"));
    db->DropTable("T");
    EXPECT_FALSE(db->TableExists("T"));
    EXPECT_TRUE(Tables().empty());
    EXPECT_FALSE(Raised([&] { db->DropTable("T"); }).empty());
}

// A table with a Date field, which only a rebuild turns into a date-time
// field: it tells a rename in place from a rebuild.
class BdeAlterTable : public BdeDbTest {
protected:
    BdeAlterTable() { MakeRoads(); }
    void MakeRoads()
    {
        const std::unique_ptr<bde::TBdeTable> table = db->NewTableComponent("ROADS");
        table->FieldDefs().Add("ID", bde::ftInteger);
        table->FieldDefs().Add("NAME", bde::ftString, 20);
        table->FieldDefs().Add("BUILT", bde::ftDate);
        table->CreateTable();
        for (int i = 1; i <= 3; ++i)
            Insert("ROADS", {UdbIntParam("ID"), UdbStrParam("NAME"), {"BUILT", udtDateTime}},
                   {Variant(i), Variant(i == 2 ? std::string("same") : "Дорога " + rtl::IntToStr(i)),
                    Variant::DateTime(40000 + i)});
        Insert("ROADS", {UdbIntParam("ID"), UdbStrParam("NAME")}, {Variant(4), Variant("same")});
    }
    TUdbDataType BuiltType(const std::string& table)
    {
        const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef(table);
        return def->GetFieldDef(def->FieldIndex("BUILT")).DataType;
    }
    const std::vector<std::string> ids = {"1", "2", "3", "4"};
};

TEST_F(BdeAlterTable, RenamingAloneRenamesTheTableInPlace)
{
    const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("ROADS");
    def->SetTableName("STREETS");
    def->Apply();
    EXPECT_EQ(Tables(), (std::set<std::string>{"STREETS"}));
    EXPECT_EQ(BuiltType("STREETS"), udtDate);
    EXPECT_EQ(Column("STREETS", "ID"), ids);
    EXPECT_EQ(def->GetTableName(), "STREETS");
}

TEST_F(BdeAlterTable, AnyOtherChangeRebuildsTheTableThroughACopyThatIsDroppedAfterwards)
{
    struct Case {
        const char* name;
        const char* newName;
        std::function<void(IUdbTableDef&)> edit;
        std::vector<std::string> fields;
        std::string column;              // a column whose values are checked ("" for none)
        std::vector<std::string> values; // its values
    };
    const Case cases[] = {
        {"renamed and a field added", "STREETS",
         [](IUdbTableDef& d) { d.AddField({"LANES", udtInteger, 0, false}); },
         {"ID", "NAME", "BUILT", "LANES"}, "NAME", {"Дорога 1", "same", "Дорога 3", "same"}},
        {"a field deleted under the same name", "ROADS", [](IUdbTableDef& d) { d.DeleteField(1, true); },
         {"ID", "BUILT"}, "", {}},
        {"a field renamed keeps its values", "ROADS",
         [](IUdbTableDef& d) {
             TUdbFieldDef f = d.GetFieldDef(1);
             f.Name = "TITLE";
             d.SetFieldDef(1, f, true);
         },
         {"ID", "TITLE", "BUILT"}, "TITLE", {"Дорога 1", "same", "Дорога 3", "same"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("ROADS");
        def->SetTableName(c.newName);
        c.edit(*def);
        def->Apply();
        EXPECT_EQ(Tables(), (std::set<std::string>{c.newName}));
        EXPECT_EQ(FieldNames(c.newName), c.fields);
        EXPECT_EQ(BuiltType(c.newName), udtDateTime);
        EXPECT_EQ(Column(c.newName, "ID"), ids);
        if (!c.column.empty()) {
            EXPECT_EQ(Column(c.newName, c.column), c.values);
        }
        // The next case starts from the same table.
        db->DropTable(c.newName);
        MakeRoads();
    }
}

TEST_F(BdeAlterTable, ARebuildWhoseStepsFailPutsTheOldTableBack)
{
    // Another table holds the new name already: creating it fails.
    CreateTable("TAKEN", {F("X", udtInteger)});
    struct Case {
        const char* name;
        const char* newName;
        std::function<void(IUdbTableDef&)> edit;
    };
    const Case cases[] = {
        {"the copy breaks the new primary key", "STREETS",
         [](IUdbTableDef& d) { d.AddIndex({"", "NAME", true, true}); }},
        {"the copy breaks the new key under the same name", "ROADS",
         [](IUdbTableDef& d) { d.AddIndex({"", "NAME", true, true}); }},
        {"the new table cannot be created", "TAKEN",
         [](IUdbTableDef& d) { d.AddField({"LANES", udtInteger, 0, false}); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("ROADS");
        def->SetTableName(c.newName);
        c.edit(*def);
        EXPECT_FALSE(Raised([&] { def->Apply(); }).empty());
        EXPECT_EQ(Tables(), (std::set<std::string>{"ROADS", "TAKEN"}));
        EXPECT_EQ(FieldNames("ROADS"), (std::vector<std::string>{"ID", "NAME", "BUILT"}));
        EXPECT_EQ(BuiltType("ROADS"), udtDate);
        EXPECT_EQ(Column("ROADS", "ID"), ids);
        EXPECT_EQ(FieldNames("TAKEN"), (std::vector<std::string>{"X"}));
    }
}

TEST_F(BdeAlterTable, TheCopyTakesTheFirstFreeTemporaryName)
{
    CreateTable("ROADS_TMP0", {F("X", udtInteger)});
    Insert("ROADS_TMP0", {UdbIntParam("X")}, {Variant(5)});
    const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("ROADS");
    def->AddField({"LANES", udtInteger, 0, false});
    def->Apply();
    EXPECT_EQ(Tables(), (std::set<std::string>{"ROADS", "ROADS_TMP0"}));
    EXPECT_EQ(Column("ROADS_TMP0", "X"), (std::vector<std::string>{"5"}));
    EXPECT_EQ(Column("ROADS", "ID"), ids);
}

TEST_F(BdeAlterTable, NamesDifferingOnlyInCaseAreTheSameForParadox)
{
    const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("ROADS");
    def->SetTableName("roads");
    TUdbFieldDef f = def->GetFieldDef(1);
    f.Name = "name";
    def->SetFieldDef(1, f, true);
    EXPECT_TRUE(def->IsModified());
    def->Apply();
    EXPECT_EQ(BuiltType("ROADS"), udtDate);
    EXPECT_EQ(FieldNames("ROADS"), (std::vector<std::string>{"ID", "NAME", "BUILT"}));
}

} // namespace
