// Tests of the SQLite test driver's statements: the translation of the
// layer's SQL, opening, values of every kind through the statement builders,
// affected-row counts, cursors, statement errors, injected failures,
// transactions seen from a second connection, and detaching on close.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "UdbProject/UdbMessages.h"
#include "UdbProject/UdbUtils.h"
#include "UdbProject/Udbs.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Streams.h"
#include "platform/rtl/Variant.h"
#include "tests/support/SqliteUdb.h"
#include "tests/support/tests/SqliteTestFixture.h"

using rtl::Variant;
using namespace sqlitetest;

namespace {

constexpr const char* kInjected = "Injected failure of a statement execution";

// ---- translation ------------------------------------------------------------------

struct TranslationCase {
    const char* name;
    const char* layer;
    const char* sqlite;
};

const TranslationCase kTranslations[] = {
    {"InsertColumnsLoseTheirTable", "INSERT INTO [A] ([A].[X],[A].[Y]) VALUES(?,?)",
     "INSERT INTO \"A\" (\"X\",\"Y\") VALUES(?,?)"},
    {"UpdateTargetsLoseTheirTableKeysKeepIt", "UPDATE [A] SET [A].[X]=?,[A].[Y]=? WHERE ([A].[K]=?) AND ([A].[L]=?)",
     "UPDATE \"A\" SET \"X\"=?,\"Y\"=? WHERE (\"A\".\"K\"=?) AND (\"A\".\"L\"=?)"},
    {"UpdateWithoutKeysKeepsTrailingBlank", "UPDATE [A] SET [A].[X]=? ", "UPDATE \"A\" SET \"X\"=? "},
    {"UpdateValueKeepsItsQualifier", "UPDATE [A] SET [A].[N]=[A].[N]+1 WHERE ([A].[K]=?)",
     "UPDATE \"A\" SET \"N\"=\"A\".\"N\"+1 WHERE (\"A\".\"K\"=?)"},
    {"SubqueryInUpdateValueUntouched", "UPDATE [A] SET [A].[N]=(SELECT MAX([B].[N]) FROM [B]),[A].[M]=?",
     "UPDATE \"A\" SET \"N\"=(SELECT MAX(\"B\".\"N\") FROM \"B\"),\"M\"=?"},
    {"LowerCaseKeywords", "update [a] set [a].[x]=? where ([a].[k]=?)",
     "update \"a\" set \"x\"=? where (\"a\".\"k\"=?)"},
    {"SelectKeepsQualifiers", "SELECT [A].[X],[A].[Y] FROM [A] WHERE ([A].[K]=?)",
     "SELECT \"A\".\"X\",\"A\".\"Y\" FROM \"A\" WHERE (\"A\".\"K\"=?)"},
    {"DeleteKeepsQualifiers", "DELETE FROM [A] WHERE ([A].[K]=?)", "DELETE FROM \"A\" WHERE (\"A\".\"K\"=?)"},
    {"InsertFromSelectKeepsSelectQualifiers", "INSERT INTO [A] ([A].[X]) SELECT [B].[X] FROM [B]",
     "INSERT INTO \"A\" (\"X\") SELECT \"B\".\"X\" FROM \"B\""},
    {"BracketInsideLiteralLeftAlone", "SELECT * FROM [A] WHERE [A].[N]='[A].[N] is ?'",
     "SELECT * FROM \"A\" WHERE \"A\".\"N\"='[A].[N] is ?'"},
    {"DoubledApostropheStaysInsideLiteral", "SELECT 'it''s [x]', [y] FROM [A]", "SELECT 'it''s [x]', \"y\" FROM \"A\""},
    {"QuotedNameLeftAlone", "SELECT \"we[ir]d\" FROM [A]", "SELECT \"we[ir]d\" FROM \"A\""},
    {"QuoteInsideBracketsDoubled", "SELECT [a\"b] FROM [T]", "SELECT \"a\"\"b\" FROM \"T\""},
    {"CommentLeftAlone", "SELECT [X] -- [not] this\nFROM [T]", "SELECT \"X\" -- [not] this\nFROM \"T\""},
    {"CyrillicNames", "INSERT INTO [ДОРОГИ] ([ДОРОГИ].[ИМЯ]) VALUES(?)",
     "INSERT INTO \"ДОРОГИ\" (\"ИМЯ\") VALUES(?)"},
    {"NumbersAreNoQualifiers", "UPDATE [A] SET [A].[F]=1.5 WHERE [A].[G]>2.5",
     "UPDATE \"A\" SET \"F\"=1.5 WHERE \"A\".\"G\">2.5"},
};

TEST(SqliteTranslation, TurnsTheLayersDialectIntoSqlite)
{
    for (const TranslationCase& c : kTranslations) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(SqliteTranslateSql(c.layer), c.sqlite);
    }
}

TEST(SqliteTranslation, QuoteNameDoublesQuotes)
{
    EXPECT_EQ(SqliteQuoteName("T"), "\"T\"");
    EXPECT_EQ(SqliteQuoteName("a\"b\""), "\"a\"\"b\"\"\"");
    EXPECT_EQ(SqliteQuoteName(""), "\"\"");
}

// ---- opening ----------------------------------------------------------------------

TEST(SqliteOpen, ParameterDocumentNamesDriverAndFile)
{
    TempFolder folder;
    const rtl::RefPtr<TSqliteUdb> db = OpenSqliteUdb(folder.File("a&b <c>.db"));
    EXPECT_TRUE(db->IsOpen());
    EXPECT_EQ(db->GetParams()->GetStr(Variant("Udb\\DriverName"), ""), "Test.SQLite");
    EXPECT_EQ(db->GetParams()->GetStr(Variant("file"), ""), folder.File("a&b <c>.db"));
    EXPECT_TRUE(std::filesystem::exists(folder.File("a&b <c>.db")));
}

TEST(SqliteOpen, MemoryDatabaseWorks)
{
    const rtl::RefPtr<TSqliteUdb> db = OpenSqliteUdb(":memory:");
    Exec(*db, "CREATE TABLE [T] ([ID] INT)");
    EXPECT_TRUE(db->TableExists("T"));
}

TEST(SqliteOpen, BadParametersLeaveTheDatabaseClosed)
{
    TempFolder folder;
    {
        rtl::TFileStream junk(folder.File("junk.db"), rtl::fmCreate);
        const std::string bytes(4096, 'x');
        junk.WriteBuffer(bytes.data(), bytes.size());
    }
    struct Case {
        const char* name;
        std::string params;
        const char* messagePart;
    };
    const Case cases[] = {
        {"NoFileParameter", "<driver name=\"Test.SQLite\"/>", "\"file\" is not given"},
        {"FolderMissing", SqliteParamsXml(folder.File("none/x.db")), "cannot open"},
        {"FileIsNoDatabase", SqliteParamsXml(folder.File("junk.db")), "not a database"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const rtl::RefPtr<TSqliteUdb> db(new TSqliteUdb());
        EXPECT_NE(UdbErrorOf([&] { db->Open(c.params); }).find(c.messagePart), std::string::npos);
        EXPECT_FALSE(db->IsOpen());
        EXPECT_EQ(db->Handle(), nullptr);
    }
}

// ---- values -----------------------------------------------------------------------

class SqliteValues : public SqliteFixture {
protected:
    SqliteValues()
    {
        const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("");
        def->SetTableName("VALS");
        def->AddField({"ID", udtInteger, -1, true});
        for (const TUdbParam& column : kColumns) def->AddField({column.Name, column.DataType, -1, false});
        def->AddIndex({"", "ID", true, true});
        def->Apply();
    }

    static inline const std::vector<TUdbParam> kColumns = {
        {"V_BOOL", udtBoolean}, {"V_INT", udtInteger}, {"V_FLOAT", udtFloat}, {"V_CURR", udtCurrency},
        {"V_DT", udtDateTime},  {"V_DATE", udtDate},   {"V_STR", udtString},  {"V_MEMO", udtMemo},
        {"V_BLOB", udtBinary},  {"V_PIC", udtPicture},
    };
};

rtl::ByteArray AllBytes()
{
    rtl::ByteArray bytes;
    for (int i = 0; i < 256; ++i) bytes.push_back(static_cast<std::uint8_t>(i));
    return bytes;
}

TEST_F(SqliteValues, EveryKindRoundTripsThroughTheBuilders)
{
    struct Case {
        const char* name;
        const char* column;
        TUdbDataType type;
        Variant in;
        Variant out; // what GetValue gives back
    };
    const double when = rtl::EncodeDateTime(2023, 5, 17, 13, 45, 30, 0);
    const double day = rtl::EncodeDate(1999, 12, 31);
    const std::string longText(10000, 'z');
    const Case cases[] = {
        {"BooleanTrue", "V_BOOL", udtBoolean, Variant(true), Variant(true)},
        {"BooleanFalse", "V_BOOL", udtBoolean, Variant(false), Variant(false)},
        {"BooleanFromInteger", "V_BOOL", udtBoolean, Variant(std::int32_t(5)), Variant(true)},
        {"IntegerSmallest", "V_INT", udtInteger, Variant(std::int32_t(-2147483647 - 1)),
         Variant(std::int32_t(-2147483647 - 1))},
        {"IntegerFromInt64", "V_INT", udtInteger, Variant(std::int64_t(7)), Variant(std::int32_t(7))},
        {"FloatFraction", "V_FLOAT", udtFloat, Variant(0.1), Variant(0.1)},
        {"FloatWholeNumber", "V_FLOAT", udtFloat, Variant(3.0), Variant(3.0)},
        {"CurrencyFourDecimals", "V_CURR", udtCurrency, Variant(rtl::Currency{123456789}),
         Variant(rtl::Currency{123456789})},
        {"CurrencyNegative", "V_CURR", udtCurrency, Variant(rtl::Currency{-987654321012}),
         Variant(rtl::Currency{-987654321012})},
        {"DateTimeWithTimeOfDay", "V_DT", udtDateTime, Variant::DateTime(when), Variant::DateTime(when)},
        {"DateWholeDay", "V_DATE", udtDate, Variant::DateTime(day), Variant::DateTime(day)},
        {"StringCyrillic", "V_STR", udtString, Variant::OleStr("Привет, мир"), Variant::OleStr("Привет, мир")},
        {"StringEmptyIsNotNull", "V_STR", udtString, Variant(""), Variant::OleStr("")},
        {"StringWithQuotesAndBrackets", "V_STR", udtString, Variant("it's [A].[B] \"q\" ?"),
         Variant::OleStr("it's [A].[B] \"q\" ?")},
        {"StringFromInteger", "V_STR", udtString, Variant(std::int32_t(42)), Variant::OleStr("42")},
        {"MemoLong", "V_MEMO", udtMemo, Variant(longText), Variant::OleStr(longText)},
        {"BlobEveryByteValue", "V_BLOB", udtBinary, Variant(AllBytes()), Variant(AllBytes())},
        {"BlobEmptyIsNotNull", "V_BLOB", udtBinary, Variant(rtl::ByteArray()), Variant(rtl::ByteArray())},
        {"PictureBytes", "V_PIC", udtPicture, Variant(rtl::ByteArray{0, 1, 0}), Variant(rtl::ByteArray{0, 1, 0})},
        {"NullBoolean", "V_BOOL", udtBoolean, Variant::Null(), Variant::Null()},
        {"NullInteger", "V_INT", udtInteger, Variant::Null(), Variant::Null()},
        {"NullString", "V_STR", udtString, Variant::Null(), Variant::Null()},
        {"NullBlob", "V_BLOB", udtBinary, Variant::Null(), Variant::Null()},
    };
    std::int32_t id = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ++id;
        PrepareInsert(*db, "VALS", {UdbIntParam("ID"), {c.column, c.type}}, true)->Execute({Variant(id), c.in});
        const rtl::RefPtr<IUdbCursor> cursor =
            PrepareSelect(*db, "VALS", {c.column}, {UdbIntParam("ID")}, true)->Execute({Variant(id)});
        ASSERT_TRUE(cursor);
        ASSERT_FALSE(cursor->Eof());
        EXPECT_EQ(cursor->FieldType(Variant(0)), c.type);
        EXPECT_EQ(cursor->IsNull(Variant(c.column)), c.out.IsNull());
        const Variant value = cursor->GetValue(Variant(0));
        EXPECT_EQ(value.VarType(), c.out.VarType());
        EXPECT_TRUE(value == c.out) << rtl::VarToStr(value);
        if (BaseDataType(c.type) == udtBinary) {
            const Variant blob = cursor->AsBlob(Variant(0));
            EXPECT_TRUE(blob == c.out);
            EXPECT_EQ(cursor->DataSize(Variant(0)), c.out.IsNull() ? 0 : std::int32_t(c.out.AsBytes().size()));
        }
        cursor->Next();
        EXPECT_TRUE(cursor->Eof());
    }
}

TEST_F(SqliteValues, TypedGettersAndDefaults)
{
    PrepareInsert(*db, "VALS",
                  {UdbIntParam("ID"), {"V_CURR", udtCurrency}, {"V_STR", udtString}, {"V_DT", udtDateTime}}, true)
        ->Execute({Variant(std::int32_t(1)), Variant(rtl::Currency{15000}), Variant("Дорога"),
                   Variant::DateTime(45000.25)});
    const rtl::RefPtr<IUdbCursor> cursor = SelectAll(*db, "VALS");
    EXPECT_EQ(cursor->AsCurrency(Variant("V_CURR"), {}), rtl::Currency{15000});
    EXPECT_DOUBLE_EQ(cursor->AsFloat(Variant("V_CURR"), 0), 1.5);
    EXPECT_EQ(cursor->AsString(Variant("v_str"), ""), "Дорога"); // names ignore Latin case, as in SQLite
    EXPECT_EQ(cursor->DataSize(Variant("V_STR")), 6);           // characters, not bytes
    EXPECT_DOUBLE_EQ(cursor->AsDateTime(Variant("V_DT"), 0), 45000.25);
    EXPECT_EQ(cursor->AsInteger(Variant("V_INT"), 77), 77);
    EXPECT_EQ(cursor->AsString(Variant("V_MEMO"), "none"), "none");
    EXPECT_TRUE(cursor->AsBoolean(Variant("V_BOOL"), true));
    EXPECT_EQ(cursor->FieldIndex("NOPE"), -1);
    EXPECT_EQ(UdbErrorOf([&] { cursor->AsInteger(Variant("NOPE"), 0); }), "Не найдено поле \"NOPE\"");
}

// ---- affected rows ----------------------------------------------------------------

class SqliteStatements : public SqliteFixture {
protected:
    SqliteStatements()
    {
        Exec(*db, "CREATE TABLE [T] ([ID] INT NOT NULL, [NAME] VARCHAR(20))");
        const rtl::RefPtr<IUdbSQLCommand> insert =
            PrepareInsert(*db, "T", {UdbIntParam("ID"), UdbStrParam("NAME")}, true);
        for (std::int32_t id = 1; id <= 3; ++id) insert->Execute({Variant(id), Variant(id == 3 ? "c" : "ab")});
    }
};

TEST_F(SqliteStatements, RowsAffectedCountsThisStatementOnly)
{
    struct Case {
        const char* name;
        std::function<rtl::RefPtr<IUdbSQLCommand>()> prepare;
        std::vector<Variant> values;
        std::int32_t rows;
    };
    const Case cases[] = {
        {"UpdateMatchingTwo", [&] { return PrepareUpdate(*db, "T", {UdbStrParam("NAME")}, {UdbStrParam("NAME")}, true); },
         {Variant("x"), Variant("ab")}, 2},
        // sqlite3_changes still holds the 2 of the update: a DDL statement must not report it.
        {"DdlAfterUpdate", [&] { return PrepareSQL(*db, "CREATE TABLE [U] ([A] INT)", {}, true); }, {}, 0},
        {"UpdateMatchingNone", [&] { return PrepareUpdate(*db, "T", {UdbStrParam("NAME")}, {UdbIntParam("ID")}, true); },
         {Variant("y"), Variant(std::int32_t(99))}, 0},
        {"SelectChangesNothing", [&] { return PrepareSelect(*db, "T", {}, {}, true); }, {}, 0},
        {"InsertOne", [&] { return PrepareInsert(*db, "T", {UdbIntParam("ID")}, true); }, {Variant(std::int32_t(4))}, 1},
        {"DeleteWithoutKeysRemovesAll", [&] { return PrepareDelete(*db, "T", {}, true); }, {}, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const rtl::RefPtr<IUdbSQLCommand> command = c.prepare();
        const rtl::RefPtr<IUdbCursor> cursor = command->Execute(c.values);
        if (cursor) cursor->Close();
        EXPECT_EQ(command->RowsAffected(), c.rows);
    }
    EXPECT_EQ(RowCount(*db, "T"), 0);
}

// ---- cursors ------------------------------------------------------------------------

TEST_F(SqliteStatements, CursorWalksForwardAndEndsAtEof)
{
    const rtl::RefPtr<IUdbCursor> cursor =
        PrepareSQL(*db, "SELECT [T].[ID],[T].[NAME] FROM [T] ORDER BY [T].[ID] DESC", {}, true)->Execute(nullptr, 0);
    std::vector<std::int32_t> ids;
    for (; !cursor->Eof(); cursor->Next()) ids.push_back(cursor->AsInteger(Variant("ID"), 0));
    EXPECT_EQ(ids, (std::vector<std::int32_t>{3, 2, 1}));
    EXPECT_EQ(cursor->FieldCount(), 2);
    EXPECT_EQ(cursor->FieldName(1), "NAME");
    EXPECT_EQ(cursor->FieldType(Variant(1)), udtString); // from the declaration, also at the end
    EXPECT_EQ(UdbErrorOf([&] { cursor->AsString(Variant(1), ""); }), UdbMsg::CursorClosed);
}

TEST_F(SqliteStatements, SelectWithoutRowsGivesCursorAtEof)
{
    const rtl::RefPtr<IUdbCursor> cursor =
        PrepareSelect(*db, "T", {}, {UdbIntParam("ID")}, true)->Execute({Variant(std::int32_t(42))});
    ASSERT_TRUE(cursor);
    EXPECT_TRUE(cursor->Eof());
    EXPECT_EQ(cursor->FieldCount(), 2);
    EXPECT_EQ(cursor->FieldType(Variant("ID")), udtInteger);
}

TEST_F(SqliteStatements, ExpressionColumnsTypedByStorageClass)
{
    struct Case {
        const char* sql;
        TUdbDataType type;
        const char* text;
    };
    const Case cases[] = {
        {"SELECT COUNT(*) FROM [T]", udtInteger, "3"},
        {"SELECT 1.5", udtFloat, "1.5"},
        {"SELECT 'x' || [T].[NAME] FROM [T] WHERE [T].[ID]=3", udtString, "xc"},
        {"SELECT X'0102'", udtBinary, nullptr},
        {"SELECT NULL", 0, "<null>"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        const rtl::RefPtr<IUdbCursor> cursor = PrepareSQL(*db, c.sql, {}, true)->Execute(nullptr, 0);
        EXPECT_EQ(cursor->FieldType(Variant(0)), c.type);
        if (c.text) EXPECT_EQ(cursor->AsString(Variant(0), "<null>"), c.text);
        else EXPECT_TRUE(cursor->GetValue(Variant(0)) == Variant(rtl::ByteArray{1, 2}));
    }
}

TEST_F(SqliteStatements, ReExecutingLeavesAnOpenCursorOnItsOwnRows)
{
    const rtl::RefPtr<IUdbSQLCommand> select = PrepareSelect(*db, "T", {"ID", "NAME"}, {UdbIntParam("ID")}, true);
    const rtl::RefPtr<IUdbCursor> first = select->Execute({Variant(std::int32_t(1))});
    const rtl::RefPtr<IUdbCursor> second = select->Execute({Variant(std::int32_t(3))});
    EXPECT_EQ(first->AsInteger(Variant("ID"), 0), 1);
    EXPECT_EQ(second->AsString(Variant("NAME"), ""), "c");
    first->Next();
    EXPECT_TRUE(first->Eof());
    EXPECT_FALSE(second->Eof());
}

TEST_F(SqliteStatements, CloseFinalisesTheStatementAlsoAtTheEnd)
{
    const int before = db->EngineStatementCount();
    const rtl::RefPtr<IUdbCursor> cursor =
        PrepareSelect(*db, "T", {}, {UdbIntParam("ID")}, true)->Execute({Variant(std::int32_t(2))});
    EXPECT_EQ(db->EngineStatementCount(), before + 1);
    cursor->Next();
    ASSERT_TRUE(cursor->Eof());
    cursor->Close();
    EXPECT_EQ(db->EngineStatementCount(), before);
    cursor->Close(); // a second close does nothing
    EXPECT_TRUE(cursor->Eof());
}

// ---- statement errors -------------------------------------------------------------

TEST_F(SqliteStatements, PreparationFailuresCarryTheStatementText)
{
    struct Case {
        const char* name;
        const char* sql;
        TUdbDataTypeArray types;
        const char* message; // the whole message after the statement part
    };
    const Case cases[] = {
        {"UnknownTable", "SELECT * FROM [NOPE]", {}, "SQLite: no such table: NOPE"},
        // A quoted name is never taken for a string literal.
        {"MisspeltColumn", "SELECT [NOPE] FROM [T]", {}, "SQLite: no such column: NOPE"},
        {"MarkerWithoutType", "DELETE FROM [T] WHERE ([T].[ID]=?)", {}, nullptr},
        {"TypeWithoutMarker", "DELETE FROM [T] ", {udtInteger}, nullptr},
        {"TwoStatements", "DELETE FROM [T]; DELETE FROM [T]", {}, "SQLite: a command holds one statement only"},
        {"NoStatement", "  ", {}, "SQLite: the statement text holds no statement"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string message = UdbErrorOf([&] { PrepareSQL(*db, c.sql, c.types, true); });
        const std::string head = std::string("Запрос \"") + c.sql + "\". ";
        EXPECT_EQ(message.substr(0, head.size()), head);
        if (c.message) EXPECT_EQ(message.substr(head.size()), c.message);
        else EXPECT_NE(message.find("Invalid params count"), std::string::npos) << message;
    }
    EXPECT_NO_THROW(Exec(*db, "DELETE FROM [T] WHERE [T].[ID]=1;")); // one trailing ";" is fine
}

TEST_F(SqliteStatements, ExecutionFailureCarriesTextAndParameters)
{
    const rtl::RefPtr<IUdbSQLCommand> insert = PrepareInsert(*db, "T", {UdbIntParam("ID"), UdbStrParam("NAME")}, true);
    EXPECT_EQ(UdbErrorOf([&] { insert->Execute({Variant::Null(), Variant("abc")}); }),
              "Запрос \"INSERT INTO [T] ([T].[ID],[T].[NAME]) VALUES(?,?)\".\n\rПараметры:\n\r"
              "\r\nInteger(Null)=Null\r\nString(String)[3]=\"abc\"\n\r Ошибка: \"SQLite: NOT NULL constraint "
              "failed: T.ID\"");
    // The statement stays usable after the failure.
    insert->Execute({Variant(std::int32_t(9)), Variant("ok")});
    EXPECT_EQ(insert->RowsAffected(), 1);
}

// ---- injected failures ------------------------------------------------------------

TEST_F(SqliteStatements, NthExecutionFailsOnce)
{
    const rtl::RefPtr<IUdbSQLCommand> insert = PrepareInsert(*db, "T", {UdbIntParam("ID")}, true);
    db->FailStatement(2);
    insert->Execute({Variant(std::int32_t(10))});
    EXPECT_EQ(UdbErrorOf([&] { insert->Execute({Variant(std::int32_t(11))}); }),
              "Запрос \"INSERT INTO [T] ([T].[ID]) VALUES(?)\".\n\rПараметры:\n\r\r\nInteger(Integer)=11\n\r "
              "Ошибка: \"Injected failure of a statement execution\"");
    insert->Execute({Variant(std::int32_t(12))});
    EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM [T] WHERE [T].[ID]>=10"), "2");
    EXPECT_EQ(Scalar(*db, "SELECT COUNT(*) FROM [T] WHERE [T].[ID]=11"), "0");
}

TEST_F(SqliteStatements, ExecutionsHoldingAPieceFailUntilCleared)
{
    db->FailStatementsContaining("DELETE");
    const rtl::RefPtr<IUdbSQLCommand> remove = PrepareDelete(*db, "T", {UdbIntParam("ID")}, true);
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::string message = UdbErrorOf([&] { remove->Execute({Variant(std::int32_t(1))}); });
        EXPECT_EQ(message.rfind("Запрос \"DELETE FROM [T] WHERE ([T].[ID]=?)\".", 0), 0u) << message;
        EXPECT_NE(message.find("Integer(Integer)=1"), std::string::npos);
        EXPECT_NE(message.find(kInjected), std::string::npos);
    }
    PrepareInsert(*db, "T", {UdbIntParam("ID")}, true)->Execute({Variant(std::int32_t(20))});
    // The piece is also looked for in the text sent to SQLite.
    db->FailStatementsContaining("\"T\".\"ID\"");
    EXPECT_NE(UdbErrorOf([&] { Scalar(*db, "SELECT [T].[ID] FROM [T]"); }).find(kInjected), std::string::npos);
    db->ClearFaults();
    remove->Execute({Variant(std::int32_t(1))});
    EXPECT_EQ(remove->RowsAffected(), 1);
    EXPECT_EQ(RowCount(*db, "T"), 3);
}

// ---- transactions -------------------------------------------------------------------

class SqliteTransactions : public SqliteStatements {
protected:
    SqliteTransactions() : other(OpenSqliteUdb(file)) { Exec(*db, "DELETE FROM [T]"); }

    rtl::RefPtr<TSqliteUdb> other; // a second connection to the same file
};

TEST_F(SqliteTransactions, OnlyTheOutermostLevelReachesSqlite)
{
    enum Op { Start, Insert, Commit, Rollback };
    struct Step {
        Op op;
        bool inTransaction;
        int ownRows;
        int otherRows;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
    };
    const Case cases[] = {
        {"InnerCommitInvisibleUntilOuterCommit",
         {{Start, true, 0, 0}, {Start, true, 0, 0}, {Insert, true, 1, 0}, {Commit, true, 1, 0}, {Commit, false, 1, 1}}},
        {"RollbackAtInnerLevelEndsEveryLevel",
         {{Start, true, 0, 0}, {Insert, true, 1, 0}, {Start, true, 1, 0}, {Insert, true, 2, 0},
          {Rollback, false, 0, 0}}},
        {"RollbackAfterInnerCommitDiscardsBoth",
         {{Start, true, 0, 0}, {Insert, true, 1, 0}, {Start, true, 1, 0}, {Insert, true, 2, 0}, {Commit, true, 2, 0},
          {Rollback, false, 0, 0}}},
        {"CommittedRowsSurviveALaterRollback",
         {{Start, true, 0, 0}, {Insert, true, 1, 0}, {Commit, false, 1, 1}, {Start, true, 1, 1},
          {Insert, true, 2, 1}, {Rollback, false, 1, 1}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Exec(*db, "DELETE FROM [T]");
        std::int32_t id = 0;
        for (const Step& step : c.steps) {
            switch (step.op) {
            case Start: db->StartTransaction(); break;
            case Insert: PrepareInsert(*db, "T", {UdbIntParam("ID")}, true)->Execute({Variant(++id)}); break;
            case Commit: db->Commit(); break;
            case Rollback: db->Rollback(); break;
            }
            EXPECT_EQ(db->InTransaction(), step.inTransaction);
            EXPECT_EQ(db->TransactionCount() > 0, step.inTransaction);
            EXPECT_EQ(RowCount(*db, "T"), step.ownRows);
            EXPECT_EQ(RowCount(*other, "T"), step.otherRows);
        }
    }
}

TEST_F(SqliteTransactions, CommitOutsideFailsRollbackOutsideDoesNothing)
{
    EXPECT_EQ(UdbErrorOf([&] { db->Commit(); }), UdbMsg::NotInTransaction);
    EXPECT_NO_THROW(db->Rollback());
    EXPECT_FALSE(db->InTransaction());
}

TEST_F(SqliteTransactions, OutermostCommitClosesOpenCursors)
{
    PrepareInsert(*db, "T", {UdbIntParam("ID")}, true)->Execute({Variant(std::int32_t(1))});
    db->StartTransaction();
    const rtl::RefPtr<IUdbCursor> cursor = SelectAll(*db, "T");
    const int statements = db->EngineStatementCount();
    ASSERT_FALSE(cursor->Eof());
    db->Commit();
    EXPECT_TRUE(cursor->Eof());
    EXPECT_EQ(db->EngineStatementCount(), statements - 1);
}

TEST_F(SqliteTransactions, InjectedCommitFailureKeepsTheTransactionForRollback)
{
    db->StartTransaction();
    PrepareInsert(*db, "T", {UdbIntParam("ID")}, true)->Execute({Variant(std::int32_t(1))});
    db->FailNextCommit();
    EXPECT_EQ(UdbErrorOf([&] { db->Commit(); }), "Injected failure of a commit");
    EXPECT_TRUE(db->InTransaction());
    EXPECT_EQ(RowCount(*other, "T"), 0);
    db->Rollback();
    EXPECT_FALSE(db->InTransaction());
    EXPECT_EQ(RowCount(*db, "T"), 0);
    // Only the next commit was to fail.
    db->StartTransaction();
    PrepareInsert(*db, "T", {UdbIntParam("ID")}, true)->Execute({Variant(std::int32_t(2))});
    db->Commit();
    EXPECT_EQ(RowCount(*other, "T"), 1);
}

TEST_F(SqliteTransactions, CommitCanBeRetriedAfterAFailedCommit)
{
    db->StartTransaction();
    PrepareInsert(*db, "T", {UdbIntParam("ID")}, true)->Execute({Variant(std::int32_t(1))});
    db->FailNextCommit();
    EXPECT_EQ(UdbErrorOf([&] { db->Commit(); }), "Injected failure of a commit");
    EXPECT_EQ(db->TransactionCount(), 1);
    db->Commit();
    EXPECT_FALSE(db->InTransaction());
    EXPECT_EQ(db->TransactionCount(), 0);
    EXPECT_EQ(RowCount(*other, "T"), 1);
}

// ---- closing ------------------------------------------------------------------------

TEST_F(SqliteStatements, CloseReleasesStatementsAndDetachesChildren)
{
    const rtl::RefPtr<IUdbSQLCommand> select = PrepareSelect(*db, "T", {}, {}, true);
    const rtl::RefPtr<IUdbCursor> cursor = select->Execute(nullptr, 0);
    const rtl::RefPtr<IUdbSQLCommand> insert = PrepareInsert(*db, "T", {UdbIntParam("ID")}, true);
    const rtl::RefPtr<IUdbCursor> schema = db->GetSchemaInfo(uskRelations);
    ASSERT_FALSE(cursor->Eof());
    EXPECT_EQ(db->EngineStatementCount(), 2);

    db->Close();
    EXPECT_FALSE(db->IsOpen());
    EXPECT_EQ(db->Handle(), nullptr);
    EXPECT_TRUE(cursor->Eof());
    EXPECT_NO_THROW(cursor->Close());
    EXPECT_EQ(UdbErrorOf([&] { schema->FieldCount(); }), UdbMsg::DatabaseClosed);
    EXPECT_EQ(UdbErrorOf([&] { cursor->FieldCount(); }), UdbMsg::DatabaseClosed);
    EXPECT_EQ(UdbErrorOf([&] { insert->Execute({Variant(std::int32_t(5))}); }), UdbMsg::DatabaseClosed);
    EXPECT_EQ(UdbErrorOf([&] { insert->RowsAffected(); }), UdbMsg::DatabaseClosed);
    EXPECT_EQ(UdbErrorOf([&] { select->Execute(nullptr, 0); }), UdbMsg::DatabaseClosed);

    // Nothing of the closed connection still holds the file: another one may drop the table.
    const rtl::RefPtr<TSqliteUdb> other = OpenSqliteUdb(file);
    other->DropTable("T");
    EXPECT_FALSE(other->TableExists("T"));
}

TEST_F(SqliteStatements, CloseInsideATransactionDiscardsItsRows)
{
    db->StartTransaction();
    PrepareInsert(*db, "T", {UdbIntParam("ID")}, true)->Execute({Variant(std::int32_t(7))});
    db->Close();
    db->Open(SqliteParamsXml(file));
    EXPECT_FALSE(db->InTransaction());
    EXPECT_EQ(RowCount(*db, "T"), 3);
    db->StartTransaction();
    db->Commit();
}

} // namespace
