// Tests of the ADO driver base: the type maps and helpers, and everything
// else for real on two engines through their ODBC drivers, with the test
// dialects of tests/support: PostgreSQL (the server the test script starts)
// and a SQLite file. Connecting and its time-outs, nested transactions,
// closing and destroying with a transaction open, values of every type and
// Null through the statement builders, a 200,000-byte blob both ways,
// affected rows, the time-out of a long statement, cursors, every schema
// result set, creating a table and reading its definition back, table names
// with "_" beside names the unescaped pattern would also match, and
// statement failures carrying their text and values.
#include "UdbProject/AdoUdbs.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <set>
#include <string>
#include <unistd.h>
#include <vector>

#include "platform/rtl/DateTime.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/NumText.h"
#include "platform/rtl/TextUtils.h"
#include "tests/support/AdoTestDialects.h"
#include "tests/support/AdoTestSkip.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestHelpers.h"

namespace {

using rtl::Variant;
using testing::HasSubstr;
using testing::StartsWith;
using testing_support::RaisedMessage;

// ---- maps and helpers -------------------------------------------------------------------

TEST(AdoTypeMaps, AdoTypesMapToDataTypes)
{
    using namespace ado;
    const struct {
        const char* name;
        std::int32_t type;
        bool isLong;
        std::int32_t precision, scale;
        TUdbDataType expected;
    } kCases[] = {
        {"numeric 10,0", adNumeric, false, 10, 0, udtInteger},
        {"numeric 11,0", adNumeric, false, 11, 0, udtFloat},
        {"numeric 20,4", adNumeric, false, 20, 4, udtCurrency},
        {"numeric 19,4", adNumeric, false, 19, 4, udtFloat},
        {"numeric 5,2", adNumeric, false, 5, 2, udtFloat},
        {"decimal 3,0", adDecimal, false, 3, 0, udtInteger},
        {"varnumeric 20,4", adVarNumeric, false, 20, 4, udtCurrency},
        {"bigint", adBigInt, false, 19, 0, 0},
        {"guid", adGUID, false, 0, 0, 0},
        {"variant", adVariant, false, 0, 0, 0},
        {"unsigned int", adUnsignedInt, false, 10, 0, 0},
        {"varwchar", adVarWChar, false, 0, 0, udtString},
        {"varwchar long", adVarWChar, true, 0, 0, udtMemo},
        {"char long", adChar, true, 0, 0, udtMemo},
        {"dbtimestamp", adDBTimeStamp, false, 0, 0, udtDateTime},
        {"dbdate", adDBDate, false, 0, 0, udtDateTime},
        {"smallint", adSmallInt, false, 5, 0, udtInteger},
        {"unsigned tinyint", adUnsignedTinyInt, false, 3, 0, udtInteger},
        {"single", adSingle, false, 7, 0, udtFloat},
        {"currency", adCurrency, false, 19, 4, udtCurrency},
        {"boolean", adBoolean, false, 0, 0, udtBoolean},
        {"long varbinary", adLongVarBinary, true, 0, 0, udtBinary},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DefaultAdoTypeToDataType(c.type, c.isLong, c.precision, c.scale), c.expected);
    }
}

TEST(AdoTypeMaps, DataTypesMapToParameterTypesByBaseType)
{
    using namespace ado;
    const struct {
        TUdbDataType code;
        std::int32_t expected;
    } kCases[] = {
        {udtBoolean, adBoolean}, {udtInteger, adInteger}, {udtFloat, adDouble},   {udtCurrency, adCurrency},
        {udtDateTime, adDate},   {udtDate, adDate},       {udtTime, adDate},      {udtString, adVarChar},
        {udtMemo, adLongVarChar}, {udtBinary, adBinary},  {udtPicture, adBinary}, {udtDocument, adBinary},
        {0, -1},                 {0x0900, -1},
    };
    for (const auto& c : kCases) EXPECT_EQ(DataTypeToAdoType(c.code), c.expected) << c.code;
}

TEST(AdoTypeMaps, VariantHelpersAnswerNullAndEmptyWithTheirDefault)
{
    EXPECT_EQ(VarToIntegerDef(Variant::Null(), 7), 7);
    EXPECT_EQ(VarToIntegerDef(Variant(), 7), 7);
    EXPECT_EQ(VarToIntegerDef(Variant("12"), 7), 12);
    EXPECT_THROW(VarToIntegerDef(Variant("x"), 7), rtl::EConvertError);
    EXPECT_TRUE(VarToBooleanDef(Variant::Null(), true));
    EXPECT_FALSE(VarToBooleanDef(Variant(false), true));
    EXPECT_EQ(VarToWideStringDef(Variant::Null(), "d"), "d");
    EXPECT_EQ(VarToWideStringDef(Variant(std::int32_t(5)), "d"), "5");
    EXPECT_TRUE(VarCastOrNull(Variant(), rtl::varInteger).IsNull());
    EXPECT_EQ(VarCastOrNull(Variant("5"), rtl::varInteger).VarType(), rtl::varInteger);
}

TEST(AdoTypeMaps, EntriesAreOrderedByPositionWithUnknownOnesLast)
{
    const struct {
        const char* name;
        std::vector<std::int32_t> positions;
        std::vector<std::size_t> order;
    } kCases[] = {
        {"arrival C(3) A(1) B(2)", {3, 1, 2}, {1, 2, 0}},
        {"already in order", {1, 2, 3}, {0, 1, 2}},
        {"equal positions keep their arrival order", {2, 1, 2, 1}, {1, 3, 0, 2}},
        {"unknown positions go last in arrival order", {-1, 2, -1, 1}, {3, 1, 0, 2}},
        {"nothing", {}, {}},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(OrderOfPosition(c.positions), c.order);
    }
}

TEST(AdoTypeMaps, TheBuiltInReservedWordsAreUpperCaseAndDistinct)
{
    std::set<std::string> words;
    for (const char* word : AdoReservedWords) {
        EXPECT_EQ(rtl::UpperCaseLatin(word), word);
        words.insert(word);
    }
    EXPECT_EQ(words.size(), 226u);
    EXPECT_TRUE(words.count("END") && words.count("EXEC") && words.count("ZONE"));
}

TEST(AdoTypeMaps, OnlyStringColumnsGetASize)
{
    const rtl::RefPtr<adotest::TPgTestDb> db(new adotest::TPgTestDb());
    EXPECT_EQ(ColumnTypeText(*db, udtString, 40), "varchar(40)");
    EXPECT_EQ(ColumnTypeText(*db, udtMemo, 40), "text");
    EXPECT_EQ(ColumnTypeText(*db, udtBinary, 250), "bytea");
    EXPECT_EQ(ColumnTypeText(*db, udtDateTime, 8), "timestamp");
    EXPECT_EQ(ColumnTypeText(*db, udtCurrency, 0), "numeric(20,4)");
}

// ---- on the engines -----------------------------------------------------------------------

struct TEngine {
    const char* Name;
    bool Postgres;
};

void PrintTo(const TEngine& e, std::ostream* os) { *os << e.Name; }

const TEngine kEngines[] = {{"PostgreSQL", true}, {"SQLite", false}};
std::string EngineName(const testing::TestParamInfo<TEngine>& info) { return info.param.Name; }

// One database of the engine on storage of the test's own (a schema on
// PostgreSQL, a file on SQLite), and further connections to it.
class AdoUdbEngine : public testing::TestWithParam<TEngine> {
protected:
    void SetUp() override
    {
        if (GetParam().Postgres) {
            if (velmotest::SkipWithoutPgServer()) return;
            server_ = adotest::PgServer();
            schema_ = adotest::SchemaNameFor(std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) +
                                             "/" + std::to_string(getpid()));
        }
        db = Open();
    }
    void TearDown() override
    {
        if (schema_.empty() || !db) return;
        const rtl::RefPtr<TAdoDb> cleaner = Open();
        Variant ignored;
        cleaner->Connection().Execute("DROP SCHEMA \"" + schema_ + "\" CASCADE", ignored, ado::adExecuteNoRecords);
    }

    std::string ParamsXml(const adotest::TParamList& extra = {}) const
    {
        return GetParam().Postgres ? adotest::PgParamsXml(*server_, schema_, extra)
                                   : adotest::SqliteOdbcParamsXml(folder_.File("t.db"), extra);
    }
    rtl::RefPtr<TAdoDb> NewDb() const
    {
        return GetParam().Postgres ? rtl::RefPtr<TAdoDb>(new adotest::TPgTestDb())
                                   : rtl::RefPtr<TAdoDb>(new adotest::TSqliteOdbcTestDb());
    }
    rtl::RefPtr<TAdoDb> Open(const adotest::TParamList& extra = {}) const
    {
        rtl::RefPtr<TAdoDb> d = NewDb();
        d->Open(ParamsXml(extra));
        return d;
    }

    // A table of one column per data type (K the key).
    void CreateTypesTable(IUdb& on, const std::string& name = "T")
    {
        const rtl::RefPtr<IUdbTableDef> def = on.GetTableDef("");
        def->SetTableName(name);
        def->AddField({"K", udtInteger, 0, true});
        def->AddField({"B", udtBoolean, 0, false});
        def->AddField({"I", udtInteger, 0, false});
        def->AddField({"F", udtFloat, 0, false});
        def->AddField({"C", udtCurrency, 0, false});
        def->AddField({"D", udtDateTime, 0, false});
        def->AddField({"S", udtString, 40, false});
        def->AddField({"M", udtMemo, 0, false});
        def->AddField({"X", udtBinary, 0, false});
        def->AddIndex({"PK", "K", true, true});
        def->Apply();
    }
    static std::vector<TUdbParam> TypesParams()
    {
        return {{"K", udtInteger}, {"B", udtBoolean}, {"I", udtInteger}, {"F", udtFloat}, {"C", udtCurrency},
                {"D", udtDateTime}, {"S", udtString}, {"M", udtMemo}, {"X", udtBinary}};
    }
    static int Count(IUdb& on, const std::string& table)
    {
        const rtl::RefPtr<IUdbCursor> c = PrepareSQL(on, "SELECT COUNT(*) FROM [" + table + "]", {}, true)->Execute(nullptr, 0);
        return c->AsInteger(Variant(0), -1);
    }
    void InsertKey(IUdb& on, std::int32_t key)
    {
        PrepareInsert(on, "T", {{"K", udtInteger}}, true)->Execute({Variant(key)});
    }
    // The Currency type reads back as Float on SQLite, whose driver knows no exact numbers.
    TUdbDataType CurrencyAsRead() const { return GetParam().Postgres ? udtCurrency : udtFloat; }

    rtl::RefPtr<TAdoDb> db;
    std::optional<adotest::TPgServer> server_;
    std::string schema_;

private:
    testing_support::TempFolder folder_;
};

using AdoUdbConnect = AdoUdbEngine;
using AdoUdbTransactions = AdoUdbEngine;
using AdoUdbValues = AdoUdbEngine;
using AdoUdbCursors = AdoUdbEngine;
using AdoUdbSchema = AdoUdbEngine;
using AdoUdbTables = AdoUdbEngine;

// ---- connecting ---------------------------------------------------------------------------

TEST_P(AdoUdbConnect, OpenSetsTheTimeOutsOfTheParametersOrTheirDefaults)
{
    EXPECT_TRUE(db->IsOpen());
    EXPECT_EQ(db->Connection().CommandTimeout(), 30);
    EXPECT_EQ(db->Connection().ConnectionTimeout(), 15);
    const rtl::RefPtr<TAdoDb> other = Open({{"command-timeout", "7"}, {"connection-timeout", "3"}});
    EXPECT_EQ(other->Connection().CommandTimeout(), 7);
    EXPECT_EQ(other->Connection().ConnectionTimeout(), 3);
    // Commands take the connection's time-out.
    const rtl::RefPtr<IUdbSQLCommand> command = PrepareSQL(*other, "SELECT 1", {}, true);
    EXPECT_EQ(dynamic_cast<TAdoSQLCommand&>(*command).Command()->CommandTimeout(), 7);
}

TEST_P(AdoUdbConnect, CloseDisconnectsAndTheDatabaseOpensAgain)
{
    db->Close();
    EXPECT_FALSE(db->IsOpen());
    EXPECT_EQ(db->Connection().State(), ado::adStateClosed);
    EXPECT_THROW(db->GetSchemaName(), rtl::Exception);
    db->Open(ParamsXml());
    EXPECT_TRUE(db->IsOpen());
    EXPECT_FALSE(db->TableExists("T"));
}

TEST_P(AdoUdbConnect, AFailedOpenLeavesTheDatabaseClosed)
{
    const rtl::RefPtr<TAdoDb> other = NewDb();
    std::string params = adotest::SqliteOdbcParamsXml("/no/such/folder/t.db");
    if (GetParam().Postgres) {
        adotest::TPgServer elsewhere = *server_;
        elsewhere.Database = "no_such_database";
        params = adotest::PgParamsXml(elsewhere, "");
    }
    EXPECT_THROW(other->Open(params), rtl::Exception);
    EXPECT_FALSE(other->IsOpen());
}

TEST_P(AdoUdbConnect, GetSchemaNameNeedsAConnection)
{
    const rtl::RefPtr<TAdoDb> closed = NewDb();
    EXPECT_EQ(RaisedMessage<rtl::Exception>([&] { closed->GetSchemaName(); }), AdoMsg::SchemaNameDatabaseClosed);
    const Variant schema = db->GetSchemaName();
    if (GetParam().Postgres) {
        EXPECT_EQ(schema.AsString(), schema_);
    } else {
        EXPECT_TRUE(schema.IsEmpty());
    }
}

// ---- transactions ---------------------------------------------------------------------------

TEST_P(AdoUdbTransactions, NestedLevelsCommitOnlyAtTheOutermost)
{
    CreateTypesTable(*db);
    const rtl::RefPtr<TAdoDb> other = Open();
    db->StartTransaction();
    db->StartTransaction();
    EXPECT_EQ(db->TransactionLevel(), 1);
    InsertKey(*db, 1);
    db->Commit();
    EXPECT_TRUE(db->InTransaction());
    EXPECT_EQ(Count(*other, "T"), 0);
    db->Commit();
    EXPECT_FALSE(db->InTransaction());
    EXPECT_EQ(db->TransactionLevel(), 0);
    EXPECT_EQ(Count(*other, "T"), 1);
}

TEST_P(AdoUdbTransactions, RollbackEndsEveryLevelAndDropsTheChanges)
{
    CreateTypesTable(*db);
    InsertKey(*db, 1);
    db->StartTransaction();
    db->StartTransaction();
    InsertKey(*db, 2);
    db->Rollback();
    EXPECT_FALSE(db->InTransaction());
    EXPECT_EQ(db->TransactionLevel(), 0);
    EXPECT_EQ(Count(*db, "T"), 1);
    // A fresh transaction commits as usual.
    db->StartTransaction();
    InsertKey(*db, 3);
    db->Commit();
    EXPECT_EQ(Count(*Open(), "T"), 2);
}

TEST_P(AdoUdbTransactions, ClosingWithATransactionOpenRollsItBackAndTheNextOpenStartsClean)
{
    CreateTypesTable(*db);
    db->StartTransaction();
    InsertKey(*db, 1);
    db->Close();
    EXPECT_EQ(db->TransactionLevel(), 0);
    db->Open(ParamsXml());
    EXPECT_FALSE(db->InTransaction());
    EXPECT_EQ(Count(*db, "T"), 0);
    InsertKey(*db, 1); // autocommit: seen elsewhere at once
    EXPECT_EQ(Count(*Open(), "T"), 1);
    db->StartTransaction();
    InsertKey(*db, 2);
    db->Commit();
    EXPECT_EQ(Count(*Open(), "T"), 2);
}

TEST_P(AdoUdbTransactions, DestroyingWithATransactionOpenRollsItBackAndDisconnects)
{
    CreateTypesTable(*db);
    {
        const rtl::RefPtr<TAdoDb> doomed = Open();
        doomed->StartTransaction();
        InsertKey(*doomed, 1);
    }
    // Nothing holds the key any more: another connection takes it without waiting.
    const rtl::RefPtr<TAdoDb> other = Open({{"command-timeout", "5"}});
    EXPECT_EQ(Count(*other, "T"), 0);
    EXPECT_NO_THROW(InsertKey(*other, 1));
}

TEST_P(AdoUdbTransactions, CommitClosesTheOpenCursors)
{
    CreateTypesTable(*db);
    InsertKey(*db, 1);
    db->StartTransaction();
    const rtl::RefPtr<IUdbCursor> cursor = SelectAll(*db, "T");
    EXPECT_FALSE(cursor->Eof());
    db->Commit();
    EXPECT_TRUE(cursor->Eof());
}

// ---- values ---------------------------------------------------------------------------------

TEST_P(AdoUdbValues, EveryTypeAndNullGoThroughTheStatementBuilders)
{
    CreateTypesTable(*db);
    const double when = rtl::EncodeDateTime(1999, 12, 31, 23, 59, 58, 250);
    const rtl::ByteArray bytes = {0, 1, 2, 254, 255};
    const rtl::RefPtr<IUdbSQLCommand> insert = PrepareInsert(*db, "T", TypesParams(), true);
    insert->Execute({Variant(std::int32_t(1)), Variant(true), Variant(std::int32_t(-5)), Variant(0.125),
                     Variant(rtl::Currency{123456789012345}), Variant::DateTime(when), Variant("Дорога №5"),
                     Variant("Описание"), Variant(bytes)});
    EXPECT_EQ(insert->RowsAffected(), 1);
    const Variant null = Variant::Null();
    insert->Execute({Variant(std::int32_t(2)), null, null, null, null, null, null, null, null});

    const rtl::RefPtr<IUdbCursor> c =
        PrepareSelect(*db, "T", {"B", "I", "F", "C", "D", "S", "M", "X"}, {{"K", udtInteger}}, true)
            ->Execute({Variant(std::int32_t(1))});
    ASSERT_FALSE(c->Eof());
    EXPECT_TRUE(c->AsBoolean(Variant("B"), false));
    EXPECT_EQ(c->AsInteger(Variant("I"), 0), -5);
    EXPECT_EQ(c->AsFloat(Variant("F"), 0), 0.125);
    EXPECT_EQ(c->AsCurrency(Variant("C"), {}).scaled, 123456789012345);
    EXPECT_NEAR(c->AsDateTime(Variant("D"), 0), when, 1e-9);
    EXPECT_EQ(c->AsString(Variant("S"), ""), "Дорога №5");
    EXPECT_EQ(c->DataSize(Variant("S")), 9);
    EXPECT_EQ(c->AsString(Variant("M"), ""), "Описание");
    EXPECT_EQ(c->AsBlob(Variant("X")).AsBytes(), bytes);
    EXPECT_EQ(c->GetValue(Variant("S")).VarType(), rtl::varOleStr);

    const rtl::RefPtr<IUdbCursor> n =
        PrepareSelect(*db, "T", {"B", "I", "F", "C", "D", "S", "M", "X"}, {{"K", udtInteger}}, true)
            ->Execute({Variant(std::int32_t(2))});
    for (std::int32_t i = 0; i < n->FieldCount(); ++i) {
        SCOPED_TRACE(n->FieldName(i));
        EXPECT_TRUE(n->IsNull(Variant(i)));
        EXPECT_TRUE(n->GetValue(Variant(i)).IsNull());
        EXPECT_EQ(n->DataSize(Variant(i)), 0);
    }
    EXPECT_TRUE(n->AsBlob(Variant("X")).IsNull());
    EXPECT_EQ(n->AsString(Variant("M"), "default"), "default");
}

TEST_P(AdoUdbValues, ABlobOf200000BytesGoesAndComesBackWhole)
{
    CreateTypesTable(*db);
    rtl::ByteArray blob(200000);
    for (std::size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<std::uint8_t>(i % 251);
    PrepareInsert(*db, "T", {{"K", udtInteger}, {"X", udtBinary}}, true)->Execute({Variant(std::int32_t(1)), Variant(blob)});
    PrepareUpdate(*db, "T", {{"X", udtBinary}}, {{"K", udtInteger}}, true)->Execute({Variant(blob), Variant(std::int32_t(1))});
    const rtl::RefPtr<IUdbCursor> c = SelectAll(*db, "T");
    ASSERT_FALSE(c->Eof());
    EXPECT_FALSE(c->IsNull(Variant("X")));
    EXPECT_EQ(c->DataSize(Variant("X")), 200000);
    EXPECT_TRUE(c->AsBlob(Variant("X")).AsBytes() == blob);
}

TEST_P(AdoUdbValues, AffectedRowsCountTheChangesAndZeroForNone)
{
    CreateTypesTable(*db);
    for (std::int32_t k = 1; k <= 3; ++k) InsertKey(*db, k);
    const rtl::RefPtr<IUdbSQLCommand> update = PrepareUpdate(*db, "T", {{"I", udtInteger}}, {}, true);
    update->Execute({Variant(std::int32_t(4))});
    EXPECT_EQ(update->RowsAffected(), 3);
    const rtl::RefPtr<IUdbSQLCommand> none = PrepareUpdate(*db, "T", {{"I", udtInteger}}, {{"K", udtInteger}}, true);
    EXPECT_EQ(none->Execute({Variant(std::int32_t(1)), Variant(std::int32_t(99))}), nullptr);
    EXPECT_EQ(none->RowsAffected(), 0);
    const rtl::RefPtr<IUdbSQLCommand> del = PrepareDelete(*db, "T", {{"K", udtInteger}}, true);
    del->Execute({Variant(std::int32_t(2))});
    EXPECT_EQ(del->RowsAffected(), 1);
    del->Execute({Variant(std::int32_t(2))});
    EXPECT_EQ(del->RowsAffected(), 0);
    const rtl::RefPtr<IUdbSQLCommand> select = PrepareSQL(*db, "SELECT * FROM [T]", {}, true);
    EXPECT_NE(select->Execute(nullptr, 0), nullptr);
    EXPECT_EQ(select->RowsAffected(), -1);
}

TEST_P(AdoUdbValues, ALongStatementEndsAtTheCommandTimeout)
{
    if (!GetParam().Postgres) GTEST_SKIP() << "SQLite has no statement that waits";
    const rtl::RefPtr<TAdoDb> quick = Open({{"command-timeout", "1"}});
    const rtl::RefPtr<IUdbSQLCommand> sleep = PrepareSQL(*quick, "SELECT pg_sleep(10)", {}, true);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THAT(RaisedMessage<EUdbException>([&] { sleep->Execute(nullptr, 0); }),
                StartsWith("Запрос \"SELECT pg_sleep(10)\""));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(PrepareSQL(*quick, "SELECT 1", {}, true)->Execute(nullptr, 0)->AsInteger(Variant(0), 0), 1);
}

TEST_P(AdoUdbValues, AFailedStatementCarriesItsTextAndValues)
{
    CreateTypesTable(*db);
    const std::vector<TUdbParam> fields = {{"K", udtInteger}, {"S", udtString}};
    const rtl::RefPtr<IUdbSQLCommand> insert = PrepareInsert(*db, "T", fields, true);
    const std::vector<Variant> values = {Variant(std::int32_t(1)), Variant("x")};
    insert->Execute(values);
    const std::string message = RaisedMessage<EUdbException>([&] { insert->Execute(values); });
    EXPECT_THAT(message, StartsWith("Запрос \"" + InsertText("T", fields) + "\".\n\rПараметры:\n\r"));
    EXPECT_THAT(message, HasSubstr(FormatParamValues({udtInteger, udtString}, values.data())));
    // A value that does not convert to its parameter's type fails the same way.
    const rtl::RefPtr<IUdbSQLCommand> byKey = PrepareDelete(*db, "T", {{"K", udtInteger}}, true);
    EXPECT_THAT(RaisedMessage<EUdbException>([&] { byKey->Execute({Variant("not a number")}); }),
                HasSubstr("Integer(String)=not a number"));
}

TEST_P(AdoUdbValues, AParameterOfNoDataTypeFailsThePreparation)
{
    const TUdbDataType types[] = {0x0900};
    EXPECT_THAT(RaisedMessage<EUdbException>([&] { db->CreateCommand("SELECT ?", types, 1, true); }),
                StartsWith("Запрос \"SELECT ?\". "));
}

// ---- cursors --------------------------------------------------------------------------------

TEST_P(AdoUdbCursors, FieldsAreFoundInAnyCaseAndTypedByTheBase)
{
    CreateTypesTable(*db);
    InsertKey(*db, 1);
    const rtl::RefPtr<IUdbCursor> c = SelectAll(*db, "T");
    EXPECT_EQ(c->FieldCount(), 9);
    EXPECT_EQ(c->FieldIndex("s"), 6);
    EXPECT_EQ(c->FieldIndex("S"), 6);
    EXPECT_EQ(c->FieldIndex("nothing"), -1);
    EXPECT_EQ(c->FieldName(8), "X");
    const TUdbDataType expected[] = {udtInteger, udtBoolean, udtInteger, udtFloat, CurrencyAsRead(),
                                     udtDateTime, udtString, udtMemo, udtBinary};
    for (std::int32_t i = 0; i < 9; ++i) EXPECT_EQ(c->FieldType(Variant(i)), expected[i]) << c->FieldName(i);
}

TEST_P(AdoUdbCursors, ARowSetWithoutRowsIsAtItsEndAndAChangeGivesNoCursor)
{
    CreateTypesTable(*db);
    EXPECT_TRUE(SelectAll(*db, "T")->Eof());
    EXPECT_EQ(PrepareDelete(*db, "T", {}, true)->Execute(nullptr, 0), nullptr);
}

TEST_P(AdoUdbCursors, AClosedCursorIsAtItsEndAndMovesNoMore)
{
    CreateTypesTable(*db);
    InsertKey(*db, 1);
    InsertKey(*db, 2);
    const rtl::RefPtr<IUdbCursor> c = SelectAll(*db, "T");
    c->Next();
    EXPECT_FALSE(c->Eof());
    c->Close();
    EXPECT_TRUE(c->Eof());
    EXPECT_THAT(RaisedMessage<rtl::EAssertionFailed>([&] { c->Next(); }), StartsWith(AdoMsg::RecordsetNotInitialized));
    EXPECT_NO_THROW(c->Close());
}

// ---- schema information ---------------------------------------------------------------------

TEST_P(AdoUdbSchema, RelationsListTheTablesAndViewsOfTheSchema)
{
    CreateTypesTable(*db);
    PrepareSQL(*db, "CREATE VIEW [TV] AS SELECT [K] FROM [T]", {}, true)->Execute(nullptr, 0);
    std::vector<std::string> rows;
    for (const rtl::RefPtr<IUdbCursor> c = db->GetSchemaInfo(uskRelations); !c->Eof(); c->Next())
        rows.push_back(c->AsString(Variant("NAME"), "") + " " + c->AsString(Variant("SYSTEM"), "null") + " " +
                       c->AsString(Variant("OBJTYPE"), "null"));
    EXPECT_THAT(rows, testing::UnorderedElementsAre("T False 0", "TV False 1"));
}

TEST_P(AdoUdbSchema, LiteralInfoGivesTheLongestNames)
{
    const std::int32_t longest = GetParam().Postgres ? 63 : 255;
    std::vector<std::pair<std::int32_t, std::int32_t>> rows;
    for (const rtl::RefPtr<IUdbCursor> c = db->GetSchemaInfo(uskLiteralInfo); !c->Eof(); c->Next())
        rows.emplace_back(c->AsInteger(Variant("LITERALTYPE"), -1), c->AsInteger(Variant("MAXNAMELEN"), -1));
    EXPECT_THAT(rows, testing::UnorderedElementsAre(std::pair(0, longest), std::pair(1, longest), std::pair(2, longest)));
    EXPECT_EQ(MakeUniqueTableName(*db, "T", "_TMP"), "T_TMP0");
}

TEST_P(AdoUdbSchema, ReservedWordsAreTheBuiltInOnesAndTheProvidersInOrdinalOrder)
{
    std::vector<std::string> words;
    for (const rtl::RefPtr<IUdbCursor> c = db->GetSchemaInfo(uskReservedWords); !c->Eof(); c->Next())
        words.push_back(c->AsString(Variant("RESERVEDWORD"), ""));
    EXPECT_TRUE(std::is_sorted(words.begin(), words.end()));
    std::set<std::string> upper;
    for (const std::string& w : words) EXPECT_TRUE(upper.insert(rtl::UpperCaseLatin(w)).second) << w;
    for (const char* builtIn : AdoReservedWords) EXPECT_TRUE(upper.count(builtIn)) << builtIn;
    // SQLite's driver lists INDEX beside words of the built-in list; PostgreSQL's lists none.
    EXPECT_EQ(words.size(), GetParam().Postgres ? 226u : 227u);
    if (!GetParam().Postgres) {
        EXPECT_TRUE(upper.count("INDEX"));
    }
}

TEST_P(AdoUdbSchema, DataTypesInfoListsTheProviderTypesTheDialectWrites)
{
    std::set<TUdbDataType> codes;
    for (const rtl::RefPtr<IUdbCursor> c = db->GetSchemaInfo(uskDataTypesInfo); !c->Eof(); c->Next()) {
        const auto code = static_cast<TUdbDataType>(c->AsInteger(Variant("UDBTYPE"), 0));
        EXPECT_TRUE(rtl::SameTextLatin(c->AsString(Variant("TYPENAME"), ""), db->DataTypeToSQL(code)));
        codes.insert(code);
    }
    const std::set<TUdbDataType> expected =
        GetParam().Postgres ? std::set<TUdbDataType>{udtBoolean, udtInteger, udtFloat, udtString, udtMemo, udtBinary}
                            : std::set<TUdbDataType>{udtBoolean, udtFloat, udtDateTime, udtString, udtMemo, udtBinary};
    EXPECT_EQ(codes, expected);
    EXPECT_EQ(RaisedMessage<EUdbException>([&] { db->GetSchemaInfo(4); }), UdbMsg::CapabilityNotSupported);
}

TEST_P(AdoUdbSchema, FindProviderTypeGivesTheFirstTypeOfThatName)
{
    std::int32_t adoType = 99;
    Variant size, minScale, maxScale, isLong;
    ASSERT_TRUE(FindProviderType(*db, "VARCHAR", adoType, size, minScale, maxScale, isLong));
    EXPECT_EQ(adoType, ado::adChar); // OLE DB's type of 8-bit text
    EXPECT_GT(size.AsInteger(), 0);
    EXPECT_FALSE(isLong.AsBoolean());
    adoType = 99;
    EXPECT_FALSE(FindProviderType(*db, "no such type", adoType, size, minScale, maxScale, isLong));
    EXPECT_EQ(adoType, 99);
    EXPECT_TRUE(size.IsEmpty() && isLong.IsEmpty());
}

// The schema rowsets of the connection themselves, with their OLE DB names and codes.
TEST_P(AdoUdbSchema, EverySchemaRowsetAnswersWithItsOleDbColumns)
{
    CreateTypesTable(*db);
    ado::Connection& c = db->Connection();
    const Variant schema = db->GetSchemaName();
    const Variant e;
    const struct {
        const char* name;
        std::int32_t schema;
        std::vector<Variant> restrictions;
        const char* column;
        const char* firstValue; // nullptr: any row
    } kCases[] = {
        {"tables", ado::adSchemaTables, {e, schema, Variant("T"), e}, "TABLE_TYPE", "TABLE"},
        {"columns", ado::adSchemaColumns, {e, schema, Variant("T"), Variant("S")}, "CHARACTER_MAXIMUM_LENGTH", "40"},
        {"indexes", ado::adSchemaIndexes, {e, schema, e, e, Variant("T")}, "PRIMARY_KEY", "True"},
        {"primary keys", ado::adSchemaPrimaryKeys, {e, schema, Variant("T")}, "COLUMN_NAME", "K"},
        {"provider types", ado::adSchemaProviderTypes, {}, "TYPE_NAME", nullptr},
        {"keywords", ado::adSchemaDBInfoKeywords, {}, "KEYWORD", nullptr},
        {"literals", ado::adSchemaDBInfoLiterals, {}, "LITERAL", "6"},
        {"catalogs", ado::adSchemaCatalogs, {}, "CATALOG_NAME", nullptr},
    };
    for (const auto& k : kCases) {
        SCOPED_TRACE(k.name);
        const rtl::RefPtr<ado::Recordset> rs = c.OpenSchema(k.schema, k.restrictions);
        ASSERT_EQ(rs->State(), ado::adStateOpen);
        EXPECT_NO_THROW(rs->Fields().Item(k.column));
        if (k.firstValue) {
            ASSERT_FALSE(rs->Eof());
            EXPECT_EQ(rs->Fields().Item(k.column).Value().AsString(), k.firstValue);
        }
    }
    // Catalogs: PostgreSQL's driver lists the database; SQLite has none.
    const rtl::RefPtr<ado::Recordset> catalogs = c.OpenSchema(ado::adSchemaCatalogs, {});
    EXPECT_EQ(catalogs->Eof(), !GetParam().Postgres);
    // Columns: OLE DB codes, flags and nullability.
    const rtl::RefPtr<ado::Recordset> m = c.OpenSchema(ado::adSchemaColumns, {e, schema, Variant("T"), Variant("M")});
    ASSERT_FALSE(m->Eof());
    EXPECT_NE(m->Fields().Item("COLUMN_FLAGS").Value().AsInteger() & ado::DBCOLUMNFLAGS_ISLONG, 0);
    EXPECT_TRUE(m->Fields().Item("IS_NULLABLE").Value().AsBoolean());
    const rtl::RefPtr<ado::Recordset> k = c.OpenSchema(ado::adSchemaColumns, {e, schema, Variant("T"), Variant("K")});
    EXPECT_FALSE(k->Fields().Item("IS_NULLABLE").Value().AsBoolean());
    EXPECT_EQ(k->Fields().Item("DATA_TYPE").Value().AsInteger(), ado::adInteger);
    EXPECT_TRUE(k->Fields().Item("CHARACTER_MAXIMUM_LENGTH").Value().IsNull());
    // An unknown schema rowset is refused.
    EXPECT_THROW(c.OpenSchema(99, {}), ado::EAdoError);
}

TEST_P(AdoUdbSchema, AnIndexIsFoundByItsNameWhateverItsTable)
{
    // As a dialect asks whether an index name is taken anywhere: no table given.
    CreateTypesTable(*db, "A");
    CreateTypesTable(*db, "B");
    PrepareSQL(*db, "CREATE INDEX [B_BY_S] ON [B] ([S],[I])", {}, true)->Execute(nullptr, 0);
    const Variant e;
    const rtl::RefPtr<ado::Recordset> rs =
        db->Connection().OpenSchema(ado::adSchemaIndexes, {e, db->GetSchemaName(), Variant("B_BY_S"), e, e});
    std::vector<std::string> rows;
    for (; !rs->Eof(); rs->MoveNext())
        rows.push_back(rs->Fields().Item("TABLE_NAME").Value().AsString() + " " +
                       rs->Fields().Item("COLUMN_NAME").Value().AsString() + " " +
                       rs->Fields().Item("ORDINAL_POSITION").Value().AsString() + " " +
                       rs->Fields().Item("UNIQUE").Value().AsString() + " " +
                       rs->Fields().Item("PRIMARY_KEY").Value().AsString());
    EXPECT_EQ(rows, (std::vector<std::string>{"B S 1 False False", "B I 2 False False"}));
}

// ---- tables ---------------------------------------------------------------------------------

std::string Describe(const TUdbFieldDef& f)
{
    return f.Name + " " + DataTypeName(f.DataType) + (f.DataType == udtString ? "(" + rtl::IntToStr(f.Size) + ")" : "") +
           (f.Required ? " R" : "");
}

std::string Describe(const TUdbIndexDef& i)
{
    return "[" + i.Fields + "]" + (i.Primary ? " P" : "") + (i.Unique ? " U" : "");
}

TEST_P(AdoUdbTables, ACreatedTableReadsBackWithItsFieldsAndIndexes)
{
    const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("");
    def->SetTableName("Roads");
    def->AddField({"ID", udtInteger, 0, true});
    def->AddField({"NAME", udtString, 40, false});
    def->AddField({"CODE", udtString, 12, true});
    def->AddField({"LEN", udtFloat, 0, false});
    def->AddField({"PRICE", udtCurrency, 0, false});
    def->AddField({"OPENED", udtDateTime, 0, false});
    def->AddField({"PAVED", udtBoolean, 0, false});
    def->AddField({"NOTE", udtMemo, 0, false});
    def->AddField({"SHAPE", udtBinary, 250, false});
    def->AddIndex({"Roads_Ind1", "NAME", false, true});
    def->AddIndex({"Roads_PK", "ID", true, true});
    def->AddIndex({"Roads_Ind2", "CODE;LEN", false, false});
    def->Apply();

    EXPECT_TRUE(db->TableExists("Roads"));
    const rtl::RefPtr<IUdbTableDef> read = db->GetTableDef("Roads");
    EXPECT_EQ(read->GetTableName(), "Roads");
    std::vector<std::string> fields;
    for (std::int32_t i = 0; i < read->FieldCount(); ++i) fields.push_back(Describe(read->GetFieldDef(i)));
    EXPECT_EQ(fields, (std::vector<std::string>{"ID Integer R", "NAME String(40)", "CODE String(12) R", "LEN Float",
                                                "PRICE " + DataTypeName(CurrencyAsRead()), "OPENED DateTime",
                                                "PAVED Boolean", "NOTE Memo", "SHAPE Binary"}));
    std::vector<std::string> indexes;
    for (std::int32_t i = 0; i < read->IndexCount(); ++i) indexes.push_back(Describe(read->GetIndexDef(i)));
    EXPECT_THAT(indexes, testing::UnorderedElementsAre("[ID] P U", "[NAME] U", "[CODE;LEN]"));
    EXPECT_FALSE(read->IsModified());
}

TEST_P(AdoUdbTables, AMissingTableReadsAsAnEmptyDefinition)
{
    const rtl::RefPtr<IUdbTableDef> read = db->GetTableDef("Nothing");
    EXPECT_EQ(read->GetTableName(), "Nothing");
    EXPECT_EQ(read->FieldCount(), 0);
    EXPECT_EQ(read->IndexCount(), 0);
}

TEST_P(AdoUdbTables, ADefinitionWithoutFieldsIsRefusedBeforeAnySql)
{
    const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("");
    def->SetTableName("Empty");
    EXPECT_EQ(RaisedMessage<EUdbException>([&] { def->Apply(); }),
              rtl::Format(AdoMsg::NoFields, "Empty"));
    EXPECT_FALSE(db->TableExists("Empty"));
}

TEST_P(AdoUdbTables, AFailingIndexRemovesTheNewTable)
{
    CreateTypesTable(*db, "First");
    // Index names belong to the schema (PostgreSQL) or the database (SQLite):
    // the name the dialect gives Second's index is taken already.
    PrepareSQL(*db, "CREATE INDEX [Second_Ind1] ON [First] ([S])", {}, true)->Execute(nullptr, 0);
    const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("");
    def->SetTableName("Second");
    def->AddField({"A", udtInteger, 0, true});
    def->AddField({"B", udtString, 10, false});
    def->AddIndex({"", "A", true, true});
    def->AddIndex({"", "B", false, true});
    EXPECT_THAT(RaisedMessage<EUdbException>([&] { def->Apply(); }),
                StartsWith("Запрос \"CREATE UNIQUE INDEX [Second_Ind1] ON [Second] ([B])\""));
    EXPECT_FALSE(db->TableExists("Second"));
    EXPECT_TRUE(db->TableExists("First"));
}

TEST_P(AdoUdbTables, DefinitionsCannotChangeInsideATransactionAndAlteringIsTheDialects)
{
    CreateTypesTable(*db);
    const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("T");
    def->AddField({"EXTRA", udtInteger, 0, false});
    db->StartTransaction();
    EXPECT_EQ(RaisedMessage<EUdbException>([&] { def->Apply(); }), UdbMsg::DdlInTransaction);
    db->Rollback();
    EXPECT_EQ(RaisedMessage<EUdbException>([&] { def->Apply(); }), UdbMsg::CapabilityNotSupported);
}

TEST_P(AdoUdbTables, NamesWithUnderscoresMatchOnlyThemselves)
{
    // "_" is a wildcard of the catalog patterns: AB_C0 would also match ABXC0.
    CreateTypesTable(*db, "ABXC0");
    const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("");
    def->SetTableName("AB_C0");
    def->AddField({"ONLY", udtInteger, 0, false});
    def->Apply();
    EXPECT_TRUE(db->TableExists("AB_C0"));
    const rtl::RefPtr<IUdbTableDef> read = db->GetTableDef("AB_C0");
    ASSERT_EQ(read->FieldCount(), 1);
    EXPECT_EQ(read->GetFieldDef(0).Name, "ONLY");
    EXPECT_EQ(read->IndexCount(), 0);
    db->DropTable("AB_C0");
    EXPECT_FALSE(db->TableExists("AB_C0"));
    EXPECT_TRUE(db->TableExists("ABXC0"));
    EXPECT_EQ(db->GetTableDef("AB_C0")->FieldCount(), 0);
    EXPECT_EQ(MakeUniqueTableName(*db, "AB", "_C"), "AB_C0");
}

INSTANTIATE_TEST_SUITE_P(Engines, AdoUdbConnect, testing::ValuesIn(kEngines), EngineName);
INSTANTIATE_TEST_SUITE_P(Engines, AdoUdbTransactions, testing::ValuesIn(kEngines), EngineName);
INSTANTIATE_TEST_SUITE_P(Engines, AdoUdbValues, testing::ValuesIn(kEngines), EngineName);
INSTANTIATE_TEST_SUITE_P(Engines, AdoUdbCursors, testing::ValuesIn(kEngines), EngineName);
INSTANTIATE_TEST_SUITE_P(Engines, AdoUdbSchema, testing::ValuesIn(kEngines), EngineName);
INSTANTIATE_TEST_SUITE_P(Engines, AdoUdbTables, testing::ValuesIn(kEngines), EngineName);

} // namespace
