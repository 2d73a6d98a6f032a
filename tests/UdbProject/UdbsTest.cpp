// Tests of the access layer's vocabulary: the data-type table and its
// lookups, the schema-information columns, the statement texts and parameter
// types the builders hand to IUdb, the refusal of names that cannot stand in
// SQL, and the unique table names of table rebuilds.
//
// There is no engine here: a small IUdb double records what CreateCommand is
// given and answers TableExists and "LiteralInfo" from tables of the test.
#include "tests/support/TestHelpers.h"
#include "UdbProject/Udbs.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/rtl/Cp1251.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"

using rtl::Variant;
using ::testing::ElementsAreArray;

namespace {

using testing_support::RaisedMessage;

// ---- the IUdb double --------------------------------------------------------------

using Row = std::map<std::string, Variant>;

[[noreturn]] void NotUsed() { throw rtl::Exception("not used by these tests"); }

// A cursor over rows given by column name; a missing column reads as Null.
class FakeCursor : public IUdbCursor {
public:
    explicit FakeCursor(std::vector<Row> rows) : rows_(std::move(rows)) {}

    bool IsNull(const Variant& field) override { return Value(field).IsNull(); }
    bool AsBoolean(const Variant&, bool) override { NotUsed(); }
    std::int32_t AsInteger(const Variant& field, std::int32_t defaultValue) override
    {
        const Variant v = Value(field);
        return v.IsNull() ? defaultValue : v.AsInteger();
    }
    double AsFloat(const Variant&, double) override { NotUsed(); }
    rtl::Currency AsCurrency(const Variant&, rtl::Currency) override { NotUsed(); }
    double AsDateTime(const Variant&, double) override { NotUsed(); }
    std::string AsString(const Variant&, const std::string&) override { NotUsed(); }
    Variant AsBlob(const Variant&) override { NotUsed(); }
    Variant GetValue(const Variant& field) override { return Value(field); }
    std::string FieldName(std::int32_t) override { NotUsed(); }
    TUdbDataType FieldType(const Variant&) override { NotUsed(); }
    std::int32_t DataSize(const Variant&) override { NotUsed(); }
    std::int32_t FieldIndex(const std::string&) override { NotUsed(); }
    std::int32_t FieldCount() override { NotUsed(); }
    void Next() override { ++pos_; }
    bool Eof() override { return pos_ >= rows_.size(); }
    void Close() override { pos_ = rows_.size(); }

private:
    Variant Value(const Variant& field)
    {
        if (Eof()) throw EUdbException(UdbMsg::CursorClosed);
        const auto it = rows_[pos_].find(field.AsString());
        return it == rows_[pos_].end() ? Variant::Null() : it->second;
    }

    std::vector<Row> rows_;
    std::size_t pos_ = 0;
};

// Records every Execute and answers with its cursor.
class FakeCommand : public IUdbSQLCommand {
public:
    rtl::RefPtr<IUdbCursor> Execute(const Variant* values, std::int32_t count) override
    {
        executions.push_back({values == nullptr, count});
        return cursor;
    }
    std::int32_t RowsAffected() override { return 0; }

    struct Execution {
        bool nullValues;
        std::int32_t count;
    };
    std::vector<Execution> executions;
    rtl::RefPtr<IUdbCursor> cursor = new FakeCursor({});
};

class FakeUdb : public IUdb {
public:
    struct Creation {
        std::string sql;
        bool nullTypes;
        std::int32_t count;
        TUdbDataTypeArray types;
        bool prepared;
    };

    void Open(const std::string&) override { NotUsed(); }
    void Close() override { NotUsed(); }
    bool IsOpen() override { return true; }
    bool InTransaction() override { return false; }
    void StartTransaction() override { NotUsed(); }
    void Commit() override { NotUsed(); }
    void Rollback() override { NotUsed(); }
    rtl::RefPtr<IUdbSQLCommand> CreateCommand(const std::string& sql, const TUdbDataType* paramTypes,
                                              std::int32_t paramCount, bool prepared) override
    {
        if (createFails) throw EUdbException(*createFails);
        Creation c{sql, paramTypes == nullptr, paramCount, {}, prepared};
        if (paramTypes) c.types.assign(paramTypes, paramTypes + paramCount);
        creations.push_back(c);
        return command;
    }
    rtl::RefPtr<IUdbCursor> GetSchemaInfo(TUdbSchemaKind kind) override
    {
        if (kind != uskLiteralInfo) throw EUdbException(UdbMsg::CapabilityNotSupported);
        return rtl::RefPtr<IUdbCursor>(new FakeCursor(literalRows));
    }
    rtl::RefPtr<IUdbTableDef> GetTableDef(const std::string&) override { NotUsed(); }
    bool TableExists(const std::string& name) override
    {
        asked.push_back(name);
        return allExist || tables.count(name) > 0;
    }
    void DropTable(const std::string&) override { NotUsed(); }
    rtl::RefPtr<ISimpleParams> GetParams() override { NotUsed(); }

    std::vector<Creation> creations;
    std::optional<std::string> createFails;
    rtl::RefPtr<FakeCommand> command = new FakeCommand;

    std::vector<Row> literalRows;
    std::set<std::string> tables;
    bool allExist = false;
    std::vector<std::string> asked;
};

// ---- data types -------------------------------------------------------------------

TEST(DataTypes, TableRowsReadBackByCodeAndByName)
{
    struct Case {
        TUdbDataType code;
        const char* caption;
        const char* name;
    };
    const Case cases[] = {
        {0x0100, "Логический", "Boolean"},       {0x0200, "Целое число", "Integer"},
        {0x0300, "Вещественное число", "Float"}, {0x0400, "Денежная единица", "Currency"},
        {0x0500, "Дата и время", "DateTime"},    {0x0501, "Дата", "Date"},
        {0x0502, "Время", "Time"},               {0x0600, "Строка", "String"},
        {0x0700, "Текст", "Memo"},               {0x0800, "Двоичные данные", "Binary"},
        {0x0801, "Рисунок", "Picture"},          {0x0802, "Документ", "Document"},
    };
    ASSERT_EQ(std::size(cases), UdbDataTypes.size());
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const Case& c = cases[i];
        SCOPED_TRACE(c.name);
        EXPECT_EQ(UdbDataTypes[i].DataType, c.code) << "table order";
        EXPECT_EQ(DataTypeIndex(c.code), static_cast<int>(i));
        EXPECT_EQ(DataTypeIndexByName(c.name), static_cast<int>(i));
        EXPECT_EQ(DataTypeCaption(c.code), c.caption);
        EXPECT_EQ(DataTypeName(c.code), c.name);
        EXPECT_EQ(DataTypeByName(c.name), c.code);
    }
}

TEST(DataTypes, UnknownCodesAndNamesAreRefused)
{
    struct Case {
        const char* what;
        std::function<void()> call;
        const char* message;
    };
    const Case cases[] = {
        {"subtype not in the table though its base is", [] { DataTypeName(0x0803); }, UdbMsg::BadDataType},
        {"caption of code 0", [] { DataTypeCaption(0); }, UdbMsg::BadDataType},
        {"base type beyond the table", [] { DataTypeIndex(0x0900); }, UdbMsg::BadDataType},
        {"low byte alone", [] { DataTypeIndex(0x0001); }, UdbMsg::BadDataType},
        {"names are case-sensitive", [] { DataTypeByName("picture"); }, UdbMsg::BadDataTypeName},
        {"caption is not a name", [] { DataTypeByName("Строка"); }, UdbMsg::BadDataTypeName},
        {"empty name", [] { DataTypeIndexByName(""); }, UdbMsg::BadDataTypeName},
        {"name with a blank", [] { DataTypeByName("Integer "); }, UdbMsg::BadDataTypeName},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(RaisedMessage<rtl::Exception>(c.call), c.message);
    }
}

TEST(DataTypes, BaseTypeIgnoresTheSubtype)
{
    struct Case {
        const char* what;
        TUdbDataType code;
        TUdbDataTypeArray codes;
        bool expected;
    };
    const Case cases[] = {
        {"date among date-times", udtDate, {udtDateTime}, true},
        {"date-time among times", udtDateTime, {udtTime}, true},
        {"picture among strings and documents", udtPicture, {udtString, udtDocument}, true},
        {"integer among float and currency", udtInteger, {udtFloat, udtCurrency}, false},
        {"memo is not a string", udtMemo, {udtString}, false},
        {"empty array", udtInteger, {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(IsBaseTypeIn(c.code, c.codes), c.expected);
    }
    EXPECT_EQ(BaseDataType(udtDocument), udtBinary);
    EXPECT_EQ(BaseDataType(0x05FF), udtDateTime);
}

TEST(DataTypes, ParamHelpersCarryTheirTypes)
{
    EXPECT_EQ(UdbStrParam("NAME").DataType, udtString);
    EXPECT_EQ(UdbIntParam("ID").DataType, udtInteger);
    EXPECT_EQ(UdbBlobParam("OBJECTS").DataType, udtBinary);
    EXPECT_EQ(UdbBlobParam("OBJECTS").Name, "OBJECTS");
}

// ---- schema information -------------------------------------------------------------

TEST(SchemaKinds, NamesAndFixedColumns)
{
    struct Case {
        TUdbSchemaKind kind;
        const char* name;
        std::vector<TUdbFieldDef> columns;
    };
    const Case cases[] = {
        {uskRelations,
         "Relations",
         {{"NAME", 0x0600, -1, true}, {"SYSTEM", 0x0100, -1, false}, {"OBJTYPE", 0x0200, -1, false}}},
        {uskLiteralInfo,
         "LiteralInfo",
         {{"LITERALTYPE", 0x0200, -1, true},
          {"MAXNAMELEN", 0x0200, -1, false},
          {"CASESENSITIVE", 0x0100, -1, false},
          {"CORRECTCHARS", 0x0600, -1, false},
          {"CORRECTSTARTCHARS", 0x0600, -1, false},
          {"INVALIDCHARS", 0x0600, -1, false},
          {"INVALIDSTARTINGCHARS", 0x0600, -1, false}}},
        {uskReservedWords, "ReservedWords", {{"RESERVEDWORD", 0x0600, -1, true}}},
        {uskDataTypesInfo,
         "DataTypesInfo",
         {{"UDBTYPE", 0x0200, -1, true},
          {"TYPENAME", 0x0600, -1, true},
          {"SIZE", 0x0200, -1, false},
          {"MINSCALE", 0x0200, -1, false},
          {"MAXSCALE", 0x0200, -1, false}}},
        {4, "", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_STREQ(SchemaKindName(c.kind), c.name);
        EXPECT_THAT(SchemaKindColumns(c.kind), ElementsAreArray(c.columns));
    }
}

// ---- statement builders --------------------------------------------------------------

const TUdbParam X{"X", udtString};
const TUdbParam Y{"Y", udtBinary};
const TUdbParam K{"K", udtInteger};
const TUdbParam L{"L", udtDateTime};

TEST(StatementBuilders, TextAndParameterTypes)
{
    struct Case {
        const char* what;
        std::function<rtl::RefPtr<IUdbSQLCommand>(IUdb&)> build;
        std::string sql;
        TUdbDataTypeArray types;
        bool prepared;
    };
    const Case cases[] = {
        {"insert of one field", [](IUdb& db) { return PrepareInsert(db, "A", {X}, true); },
         "INSERT INTO [A] ([A].[X]) VALUES(?)", {udtString}, true},
        {"insert of two fields", [](IUdb& db) { return PrepareInsert(db, "A", {X, Y}, false); },
         "INSERT INTO [A] ([A].[X],[A].[Y]) VALUES(?,?)", {udtString, udtBinary}, false},
        {"update with a key", [](IUdb& db) { return PrepareUpdate(db, "A", {X}, {K}, true); },
         "UPDATE [A] SET [A].[X]=? WHERE ([A].[K]=?)", {udtString, udtInteger}, true},
        {"update: set types first, then key types",
         [](IUdb& db) { return PrepareUpdate(db, "A", {X, Y}, {K, L}, true); },
         "UPDATE [A] SET [A].[X]=?,[A].[Y]=? WHERE ([A].[K]=?) AND ([A].[L]=?)",
         {udtString, udtBinary, udtInteger, udtDateTime}, true},
        {"update without keys ends in a blank", [](IUdb& db) { return PrepareUpdate(db, "A", {X}, {}, false); },
         "UPDATE [A] SET [A].[X]=? ", {udtString}, false},
        {"delete with keys", [](IUdb& db) { return PrepareDelete(db, "A", {K, L}, true); },
         "DELETE FROM [A] WHERE ([A].[K]=?) AND ([A].[L]=?)", {udtInteger, udtDateTime}, true},
        {"delete without keys ends in a blank", [](IUdb& db) { return PrepareDelete(db, "A", {}, true); },
         "DELETE FROM [A] ", {}, true},
        {"select of fields by a key", [](IUdb& db) { return PrepareSelect(db, "A", {"X", "Y"}, {K}, true); },
         "SELECT [A].[X],[A].[Y] FROM [A] WHERE ([A].[K]=?)", {udtInteger}, true},
        {"select of everything", [](IUdb& db) { return PrepareSelect(db, "A", {}, {}, false); },
         "SELECT * FROM [A] ", {}, false},
        {"select of everything by a key", [](IUdb& db) { return PrepareSelect(db, "A", {}, {L}, true); },
         "SELECT * FROM [A] WHERE ([A].[L]=?)", {udtDateTime}, true},
        {"names with blanks and Cyrillic letters pass",
         [](IUdb& db) { return PrepareUpdate(db, "ДОРОГИ 2", {{"ИМЯ", udtString}}, {{"КОД ДОРОГИ", udtInteger}}, true); },
         "UPDATE [ДОРОГИ 2] SET [ДОРОГИ 2].[ИМЯ]=? WHERE ([ДОРОГИ 2].[КОД ДОРОГИ]=?)", {udtString, udtInteger}, true},
        {"PrepareSQL passes the text unchanged",
         [](IUdb& db) { return PrepareSQL(db, "SELECT COUNT(*) FROM [A] WHERE X='[]'", {udtMemo}, true); },
         "SELECT COUNT(*) FROM [A] WHERE X='[]'", {udtMemo}, true},
        {"PrepareSQL without types", [](IUdb& db) { return PrepareSQL(db, "DELETE FROM [A]", {}, false); },
         "DELETE FROM [A]", {}, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto db = rtl::MakeRef<FakeUdb>();
        const rtl::RefPtr<IUdbSQLCommand> command = c.build(*db);
        ASSERT_EQ(db->creations.size(), 1u);
        const FakeUdb::Creation& made = db->creations[0];
        EXPECT_EQ(made.sql, c.sql);
        EXPECT_EQ(made.types, c.types);
        EXPECT_EQ(made.count, static_cast<std::int32_t>(c.types.size()));
        EXPECT_EQ(made.nullTypes, c.types.empty()) << "no types go as a null pointer";
        EXPECT_EQ(made.prepared, c.prepared);
        EXPECT_EQ(command.get(), db->command.get()) << "the command of CreateCommand is returned";
        EXPECT_TRUE(db->command->executions.empty()) << "builders only prepare";
    }
}

TEST(StatementBuilders, TextsMatchWhatIsSent)
{
    EXPECT_EQ(InsertText("A", {X, Y}), "INSERT INTO [A] ([A].[X],[A].[Y]) VALUES(?,?)");
    EXPECT_EQ(UpdateText("A", {X}, {}), "UPDATE [A] SET [A].[X]=? ");
    EXPECT_EQ(DeleteText("A", {K}), "DELETE FROM [A] WHERE ([A].[K]=?)");
    EXPECT_EQ(SelectText("A", {}, {}), "SELECT * FROM [A] ");
}

TEST(StatementBuilders, SelectAllExecutesAtOnceWithoutValues)
{
    const auto db = rtl::MakeRef<FakeUdb>();
    const rtl::RefPtr<IUdbCursor> cursor = SelectAll(*db, "ROADS");
    ASSERT_EQ(db->creations.size(), 1u);
    EXPECT_EQ(db->creations[0].sql, "SELECT * FROM [ROADS] ");
    EXPECT_TRUE(db->creations[0].nullTypes);
    EXPECT_FALSE(db->creations[0].prepared);
    ASSERT_EQ(db->command->executions.size(), 1u);
    EXPECT_TRUE(db->command->executions[0].nullValues);
    EXPECT_EQ(db->command->executions[0].count, 0);
    EXPECT_EQ(cursor.get(), db->command->cursor.get());
}

TEST(StatementBuilders, FailuresOfCreateCommandPassUnchanged)
{
    const auto db = rtl::MakeRef<FakeUdb>();
    db->createFails = UdbMsg::DatabaseClosed;
    EXPECT_EQ(RaisedMessage<EUdbException>([&] { PrepareInsert(*db, "A", {X}, true); }), UdbMsg::DatabaseClosed);
    EXPECT_EQ(RaisedMessage<EUdbException>([&] { SelectAll(*db, "A"); }), UdbMsg::DatabaseClosed);
    EXPECT_TRUE(db->command->executions.empty());
}

TEST(StatementBuilders, NamesThatCannotStandInSqlAreRefused)
{
    const std::string badNames[] = {
        "A]; DROP TABLE [B", "[A", "A]", "O'NEIL", "SAY\"HI", "TAB\tNAME", "LINE\n", std::string("NUL\0X", 5),
        "\x1F",
    };
    // Each builder with the bad name in every place a name can stand.
    using Build = std::function<void(IUdb&, const std::string&)>;
    const std::pair<const char*, Build> places[] = {
        {"insert table", [](IUdb& db, const std::string& n) { PrepareInsert(db, n, {X}, true); }},
        {"insert column", [](IUdb& db, const std::string& n) { PrepareInsert(db, "A", {X, {n, udtString}}, true); }},
        {"update table", [](IUdb& db, const std::string& n) { PrepareUpdate(db, n, {X}, {K}, true); }},
        {"update set column", [](IUdb& db, const std::string& n) { PrepareUpdate(db, "A", {{n, udtString}}, {K}, true); }},
        {"update key column", [](IUdb& db, const std::string& n) { PrepareUpdate(db, "A", {X}, {K, {n, udtInteger}}, true); }},
        {"delete table", [](IUdb& db, const std::string& n) { PrepareDelete(db, n, {}, true); }},
        {"delete key column", [](IUdb& db, const std::string& n) { PrepareDelete(db, "A", {{n, udtInteger}}, true); }},
        {"select table", [](IUdb& db, const std::string& n) { PrepareSelect(db, n, {}, {}, true); }},
        {"select column", [](IUdb& db, const std::string& n) { PrepareSelect(db, "A", {"X", n}, {}, true); }},
        {"select key column", [](IUdb& db, const std::string& n) { PrepareSelect(db, "A", {}, {{n, udtInteger}}, true); }},
        {"select-all table", [](IUdb& db, const std::string& n) { SelectAll(db, n); }},
    };
    for (const auto& [place, build] : places) {
        for (const std::string& name : badNames) {
            SCOPED_TRACE(std::string(place) + ": " + name);
            const auto db = rtl::MakeRef<FakeUdb>();
            EXPECT_EQ(RaisedMessage<EUdbException>([&] { build(*db, name); }),
                      rtl::Format(UdbMsg::BadSqlName, name.c_str()));
            EXPECT_TRUE(db->creations.empty()) << "nothing reaches the database";
        }
    }
    EXPECT_NO_THROW(CheckSqlName("VELMO_LAYERS"));
    EXPECT_NO_THROW(CheckSqlName("Слой (копия) №2"));
}

// ---- unique table names ---------------------------------------------------------------

Row Literal(Variant type, Variant maxLen) { return {{"LITERALTYPE", type}, {"MAXNAMELEN", maxLen}}; }

std::vector<std::string> Hex(const std::string& prefix, int count)
{
    std::vector<std::string> names;
    const char* digits = "0123456789ABCDEF";
    for (int i = 0; i < count; ++i) names.push_back(prefix + digits[i]);
    return names;
}

TEST(UniqueTableNames, FirstFreeCandidate)
{
    const std::string base22 = "ABCDEFGHIJKLMNOPQRSTUV";
    const std::string cyr22 = "ДОРОГИОБЛАСТИМОСКВАСЕЛ"; // 22 letters, 44 bytes
    ASSERT_EQ(rtl::Utf8Length(cyr22), 22u);
    struct Case {
        const char* what;
        std::vector<Row> literals;
        std::vector<std::string> existing;
        std::string base;
        std::string separator;
        std::string expected;
    };
    const std::vector<Row> max24 = {Literal(0, 24)};
    const Case cases[] = {
        {"nothing exists", max24, {}, "ROADS", "_TMP", "ROADS_TMP0"},
        {"the first candidate exists", max24, {"ROADS_TMP0"}, "ROADS", "_TMP", "ROADS_TMP1"},
        {"the base itself may exist", max24, {"ROADS"}, "ROADS", "_TMP", "ROADS_TMP0"},
        {"numbers are upper-case hex", max24, Hex("ROADS_TMP", 10), "ROADS", "_TMP", "ROADS_TMPA"},
        {"hex without leading zeros", max24, Hex("ROADS_TMP", 16), "ROADS", "_SAVE", "ROADS_SAVE0"},
        {"after F comes 10", max24, Hex("ROADS_TMP", 16), "ROADS", "_TMP", "ROADS_TMP10"},
        {"too long: the suffix replaces the base's end", max24, {}, base22, "_TMP", "ABCDEFGHIJKLMNOPQ_TMP0"},
        {"too long, first taken", max24, {"ABCDEFGHIJKLMNOPQ_TMP0"}, base22, "_TMP", "ABCDEFGHIJKLMNOPQ_TMP1"},
        {"a longer number eats one more character", max24, Hex("ABCDEFGHIJKLMNOPQ_TMP", 16), base22, "_TMP",
         "ABCDEFGHIJKLMNOP_TMP10"},
        {"exactly at the limit is kept whole", {Literal(0, 10)}, {}, "ROADS", "_TMP", "ROADS_TMP0"},
        {"lengths count characters, not bytes", max24, {}, cyr22, "_TMP", "ДОРОГИОБЛАСТИМОСК_TMP0"},
        {"no table-name row: limit 24", {Literal(1, 8), Literal(2, 8)}, {}, base22, "_TMP",
         "ABCDEFGHIJKLMNOPQ_TMP0"},
        {"empty literal info: limit 24", {}, {}, base22, "_TMP", "ABCDEFGHIJKLMNOPQ_TMP0"},
        {"the table-name row may come later", {Literal(1, 8), Literal(0, 30)}, {}, base22, "_TMP",
         base22 + "_TMP0"},
        {"only the first table-name row counts", {Literal(0, 30), Literal(0, 8)}, {}, base22, "_TMP",
         base22 + "_TMP0"},
        {"a Null literal type is not the table row", {Literal(Variant::Null(), 30)}, {}, base22, "_TMP",
         "ABCDEFGHIJKLMNOPQ_TMP0"},
        {"a Null length means 24", {Literal(0, Variant::Null())}, {}, base22, "_TMP", "ABCDEFGHIJKLMNOPQ_TMP0"},
        // Cases where keeping the base's length cannot give a name that fits.
        {"base longer than the limit", {Literal(0, 10)}, {}, "VERYLONGTABLENAME", "_TMP", "VERYL_TMP0"},
        {"base shorter than the suffix", {Literal(0, 6)}, {}, "AB", "_TMP", "A_TMP0"},
        {"base shorter than the suffix, exact fit", {Literal(0, 5)}, {}, "AB", "_TMP", "_TMP0"},
        {"suffix longer than the limit keeps the number", {Literal(0, 3)}, {}, "ROADS", "_TMP", "_T0"},
        {"suffix longer than the limit, next number", {Literal(0, 3)}, {"_T0"}, "ROADS", "_TMP", "_T1"},
        {"limit 0 means no limit", {Literal(0, 0)}, {}, base22, "_TMP", base22 + "_TMP0"},
        {"negative limit means no limit", {Literal(0, -1)}, {}, base22, "_TMP", base22 + "_TMP0"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto db = rtl::MakeRef<FakeUdb>();
        db->literalRows = c.literals;
        db->tables.insert(c.existing.begin(), c.existing.end());
        const std::string name = MakeUniqueTableName(*db, c.base, c.separator);
        EXPECT_EQ(name, c.expected);
        ASSERT_FALSE(db->asked.empty());
        EXPECT_EQ(db->asked.back(), name) << "the answer is the last name asked about";
    }
}

TEST(UniqueTableNames, GivesUpAfterBoundedTries)
{
    struct Case {
        const char* what;
        std::vector<Row> literals;
        std::size_t maxTries;
    };
    const Case cases[] = {
        {"every name taken", {Literal(0, 24)}, 4096},
        {"numbers stop once they no longer fit", {Literal(0, 1)}, 16},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const auto db = rtl::MakeRef<FakeUdb>();
        db->literalRows = c.literals;
        db->allExist = true;
        EXPECT_EQ(RaisedMessage<EUdbException>([&] { MakeUniqueTableName(*db, "ROADS", "_TMP"); }),
                  rtl::Format(UdbMsg::NoUniqueTableName, "ROADS"));
        EXPECT_LE(db->asked.size(), c.maxTries);
        EXPECT_GE(db->asked.size(), 16u);
        for (const std::string& asked : db->asked) {
            const std::int32_t limit = c.literals[0].at("MAXNAMELEN").AsInteger();
            EXPECT_LE(rtl::Utf8Length(asked), static_cast<std::size_t>(limit)) << asked;
        }
        const std::set<std::string> distinct(db->asked.begin(), db->asked.end());
        EXPECT_EQ(distinct.size(), db->asked.size()) << "no candidate is asked twice";
    }
}

} // namespace
