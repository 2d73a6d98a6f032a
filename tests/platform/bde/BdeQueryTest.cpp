// Query objects: the statements the application sends, keyed access that
// does not scan, parameters of every type, cursors, failures and the unit a
// statement is.
#include <gtest/gtest.h>

#include <algorithm>

#include "BdeTestSupport.h"
#include "platform/bde/BdeVirtualTables.h"
#include "platform/rtl/DateTime.h"

namespace bde::test {
namespace {

using rtl::Variant;

// A few Velmo system tables as the driver creates them, with rows.
void MakeVelmoTables(BdeFolder& f)
{
    f.CreateTable("VELMO_DBINFO",
                  {{"DBID", ftString, 64, true}, {"IDGROUP", ftInteger}, {"IDNUMBER", ftInteger}, {"VERSION", ftInteger}},
                  {{"", "DBID", ixPrimary | ixUnique}});
    f.CreateTable("VELMO_IDMAPER", {{"LOCALID", ftInteger, 0, true}, {"GLOBALID", ftString, 38, true}, {"IDCLASS", ftInteger}},
                  {{"", "LOCALID", ixPrimary | ixUnique}});
    f.CreateTable("VELMO_PREFS",
                  {{"USERID", ftString, 12, true}, {"PROJECTID", ftString, 12, true}, {"OBJECTID", ftString, 12, true},
                   {"KEYNAME", ftString, 100, true}, {"DATA", ftString, 100}},
                  {{"", "USERID;PROJECTID;OBJECTID;KEYNAME", ixPrimary | ixUnique}});
    f.CreateTable("VELMO_LINKS", {{"OBJECT1ID", ftString, 12, true}, {"OBJECT2ID", ftString, 12, true}},
                  {{"", "OBJECT1ID;OBJECT2ID", ixPrimary | ixUnique}, {"OBJECT2ID", "OBJECT2ID", 0}});
    f.CreateTable("VELMO_SECTORS", {{"ID", ftString, 12, true}, {"LAYERID", ftString, 12}, {"OBJECTS", ftBlob, 0}},
                  {{"", "ID", ixPrimary | ixUnique}, {"LAYERID", "LAYERID", 0}});
    f.CreateTable("VELMO_MAPS", {{"ID", ftString, 12, true}, {"MAPNAME", ftString, 65}, {"MAPTYPE", ftInteger}},
                  {{"", "ID", ixPrimary | ixUnique}});

    f.Exec(R"(INSERT INTO "VELMO_DBINFO" ("VELMO_DBINFO"."DBID","VELMO_DBINFO"."IDGROUP","VELMO_DBINFO"."IDNUMBER","VELMO_DBINFO"."VERSION") VALUES(:PARAM0,:PARAM1,:PARAM2,:PARAM3))",
           {Variant("{DB}"), Variant(1), Variant(5000), Variant(265)});
    for (auto [local, global] : {std::pair{1, "{G1}"}, std::pair{2, "{G2}"}})
        f.Exec(R"(INSERT INTO "VELMO_IDMAPER" ("VELMO_IDMAPER"."LOCALID","VELMO_IDMAPER"."GLOBALID") VALUES(:PARAM0,:PARAM1))",
               {Variant(local), Variant(global)});
    for (const char* key : {"SERVERID", "OTHER"})
        f.Exec(R"(INSERT INTO "VELMO_PREFS" ("VELMO_PREFS"."USERID","VELMO_PREFS"."PROJECTID","VELMO_PREFS"."OBJECTID","VELMO_PREFS"."KEYNAME","VELMO_PREFS"."DATA") VALUES(:PARAM0,:PARAM1,:PARAM2,:PARAM3,:PARAM4))",
               {Variant("NOID"), Variant("NOID"), Variant("NOID"), Variant(key), Variant("x")});
    for (auto [a, b] : {std::pair{"000100000001", "000100000002"}, std::pair{"000100000001", "000100000003"},
                        std::pair{"000100000004", "000100000001"}})
        f.Exec(R"(INSERT INTO "VELMO_LINKS" ("VELMO_LINKS"."OBJECT1ID","VELMO_LINKS"."OBJECT2ID") VALUES(:PARAM0,:PARAM1))",
               {Variant(a), Variant(b)});
    for (auto [id, layer] : {std::pair{"000100000010", "000100000020"}, std::pair{"000100000011", "000100000020"},
                             std::pair{"000100000012", "000100000021"}})
        f.Exec(R"(INSERT INTO "VELMO_SECTORS" ("VELMO_SECTORS"."ID","VELMO_SECTORS"."LAYERID","VELMO_SECTORS"."OBJECTS") VALUES(:PARAM0,:PARAM1,:PARAM2))",
               {Variant(id), Variant(layer), Variant(rtl::ByteArray{1, 2, 3})});
    for (auto [id, name, type] : {std::tuple{"000100000030", "Raster", 2}, std::tuple{"000100000031", "Vector", 3},
                                  std::tuple{"000100000032", "Raster 2", 2}})
        f.Exec(R"(INSERT INTO "VELMO_MAPS" ("VELMO_MAPS"."ID","VELMO_MAPS"."MAPNAME","VELMO_MAPS"."MAPTYPE") VALUES(:PARAM0,:PARAM1,:PARAM2))",
               {Variant(id), Variant(name), Variant(type)});
}

struct StatementCase {
    const char* name;
    const char* sql;
    std::vector<Variant> params;
    int affected;          // -1: a statement with rows
    const char* checkSql;  // read afterwards (the statement itself when it has rows)
    TextRows expected;
};

const StatementCase kStatements[] = {
    {"select star", R"(SELECT * FROM "VELMO_DBINFO")", {}, -1, nullptr, {{"{DB}", "1", "5000", "265"}}},
    {"update of every row", R"(UPDATE "VELMO_DBINFO" SET "VELMO_DBINFO"."IDGROUP"=:PARAM0,"VELMO_DBINFO"."IDNUMBER"=:PARAM1)",
     {Variant(3), Variant(1000)}, 1, R"(SELECT "IDGROUP", "IDNUMBER" FROM "VELMO_DBINFO")", {{"3", "1000"}}},
    {"insert with qualified columns",
     R"(INSERT INTO "VELMO_IDMAPER" ("VELMO_IDMAPER"."IDCLASS","VELMO_IDMAPER"."LOCALID","VELMO_IDMAPER"."GLOBALID") VALUES(:PARAM0,:PARAM1,:PARAM2))",
     {Variant(0), Variant(3), Variant("{G3}")}, 1, R"(SELECT * FROM "VELMO_IDMAPER")",
     {{"1", "{G1}", "NULL"}, {"2", "{G2}", "NULL"}, {"3", "{G3}", "0"}}},
    {"delete on a four-field key",
     R"(DELETE FROM "VELMO_PREFS" WHERE ("VELMO_PREFS"."USERID"=:PARAM0) AND ("VELMO_PREFS"."PROJECTID"=:PARAM1) AND ("VELMO_PREFS"."OBJECTID"=:PARAM2) AND ("VELMO_PREFS"."KEYNAME"=:PARAM3))",
     {Variant("NOID"), Variant("NOID"), Variant("NOID"), Variant("SERVERID")}, 1, R"(SELECT "KEYNAME" FROM "VELMO_PREFS")",
     {{"OTHER"}}},
    {"row count in lower case", R"(select count(*) from "VELMO_LINKS")", {}, -1, nullptr, {{"3"}}},
    {"distinct with plain names", "SELECT DISTINCT OBJECT1ID FROM VELMO_LINKS ORDER BY 1", {}, -1, nullptr,
     {{"000100000001"}, {"000100000004"}}},
    {"literal text statement",
     R"(select "VELMO_MAPS"."ID", "VELMO_MAPS"."MAPNAME", "VELMO_MAPS"."MAPTYPE" from "VELMO_MAPS" where "VELMO_MAPS"."MAPTYPE" = 2)",
     {}, -1, nullptr, {{"000100000030", "Raster", "2"}, {"000100000032", "Raster 2", "2"}}},
    {"select by a secondary field",
     R"(SELECT "VELMO_SECTORS"."ID" FROM "VELMO_SECTORS" WHERE ("VELMO_SECTORS"."LAYERID"=:PARAM0))",
     {Variant("000100000020")}, -1, nullptr, {{"000100000010"}, {"000100000011"}}},
    {"key change moves the records",
     R"(UPDATE "VELMO_LINKS" SET "VELMO_LINKS"."OBJECT1ID"=:PARAM0 WHERE ("VELMO_LINKS"."OBJECT1ID"=:PARAM1))",
     {Variant("000100000009"), Variant("000100000001")}, 2, R"(SELECT * FROM "VELMO_LINKS")",
     {{"000100000004", "000100000001"}, {"000100000009", "000100000002"}, {"000100000009", "000100000003"}}},
    {"key change of a one-field key",
     R"(UPDATE "VELMO_MAPS" SET "VELMO_MAPS"."ID"=:PARAM0 WHERE ("VELMO_MAPS"."ID"=:PARAM1))",
     {Variant("000100000000"), Variant("000100000032")}, 1, R"(SELECT "ID" FROM "VELMO_MAPS")",
     {{"000100000000"}, {"000100000030"}, {"000100000031"}}},
    {"update of a column by its own value", R"(UPDATE "VELMO_IDMAPER" SET "VELMO_IDMAPER"."GLOBALID"=:PARAM0 WHERE ("VELMO_IDMAPER"."GLOBALID"=:PARAM1))",
     {Variant("{NEW}"), Variant("{G2}")}, 1, R"(SELECT "GLOBALID" FROM "VELMO_IDMAPER")", {{"{G1}"}, {"{NEW}"}}},
    {"update of a blob by key",
     R"(UPDATE "VELMO_SECTORS" SET "VELMO_SECTORS"."OBJECTS"=:PARAM0 WHERE ("VELMO_SECTORS"."ID"=:PARAM1))",
     {Variant(rtl::ByteArray{'a', 'b'}), Variant("000100000011")}, 1,
     R"(SELECT "VELMO_SECTORS"."OBJECTS" FROM "VELMO_SECTORS" WHERE ("VELMO_SECTORS"."ID"=:PARAM0))", {{"ab"}}},
    {"delete by a secondary field", R"(DELETE FROM "VELMO_SECTORS" WHERE ("VELMO_SECTORS"."LAYERID"=:PARAM0))",
     {Variant("000100000020")}, 2, R"(SELECT "ID" FROM "VELMO_SECTORS")", {{"000100000012"}}},
    {"update that matches nothing", R"(UPDATE "VELMO_MAPS" SET "VELMO_MAPS"."MAPNAME"=:PARAM0 WHERE ("VELMO_MAPS"."ID"=:PARAM1))",
     {Variant("x"), Variant("999999999999")}, 0, R"(SELECT count(*) FROM "VELMO_MAPS" WHERE "MAPNAME" = 'x')", {{"0"}}},
};

class StatementTest : public testing::TestWithParam<StatementCase> {};

TEST_P(StatementTest, RunsAsTheApplicationSendsIt)
{
    const StatementCase& c = GetParam();
    BdeFolder f;
    MakeVelmoTables(f);
    if (c.affected < 0) {
        EXPECT_EQ(f.Rows(c.sql, c.params), c.expected);
        return;
    }
    EXPECT_EQ(f.Exec(c.sql, c.params), c.affected);
    // The check statement of the blob case takes the key as its parameter.
    const std::vector<Variant> checkParams = c.params.size() == 2 && c.params[0].IsByteArray()
                                                 ? std::vector<Variant>{c.params[1]}
                                                 : std::vector<Variant>{};
    EXPECT_EQ(f.Rows(c.checkSql, checkParams), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Application, StatementTest, testing::ValuesIn(kStatements),
                         [](const testing::TestParamInfo<StatementCase>& info) {
                             std::string n;
                             for (const char* p = info.param.name; *p; ++p) n += *p == ' ' || *p == '-' ? '_' : *p;
                             return n;
                         });

// The tables keep their Paradox form after the statements: pxlib reads the
// rows the engine wrote, in key order.
TEST(Statements, TablesStayReadableByPxlib)
{
    BdeFolder f;
    MakeVelmoTables(f);
    f.Exec(R"(UPDATE "VELMO_LINKS" SET "VELMO_LINKS"."OBJECT1ID"=:PARAM0 WHERE ("VELMO_LINKS"."OBJECT1ID"=:PARAM1))",
           {Variant("000100000009"), Variant("000100000001")});
    EXPECT_EQ(PxlibRows(f.folder.File("VELMO_LINKS.DB")), (TextRows{{"000100000004", "000100000001"},
                                    {"000100000009", "000100000002"},
                                    {"000100000009", "000100000003"}}));
    const PxlibTable sectors = PxlibRead(f.folder.File("VELMO_SECTORS.DB"), f.folder.File("VELMO_SECTORS.MB"));
    ASSERT_EQ(sectors.rows.size(), 3u);
    EXPECT_EQ(sectors.blobs[0][2], (std::vector<std::uint8_t>{1, 2, 3}));
}

// ---- keyed access -------------------------------------------------------------------------------

struct VisitCase {
    const char* name;
    const char* sql;
    std::vector<Variant> params;
    std::uint64_t visits;
};

TEST(KeyedAccess, KeyedStatementsReadOnlyTheirRecords)
{
    BdeFolder f;
    f.CreateTable("K", {{"A", ftInteger, 0, true}, {"B", ftInteger, 0, true}, {"S", ftString, 10}, {"N", ftInteger}},
                  {{"", "A;B", ixPrimary | ixUnique}, {"S", "S", 0}});
    constexpr int kRows = 400;
    {
        auto q = f.Query(R"(INSERT INTO "K" ("K"."A","K"."B","K"."S","K"."N") VALUES(:PARAM0,:PARAM1,:PARAM2,:PARAM3))");
        q->Prepare();
        f.db.StartTransaction();
        for (int i = 0; i < kRows; ++i) {
            q->Params()[0].SetValue(Variant(i / 4));
            q->Params()[1].SetValue(Variant(i % 4));
            q->Params()[2].SetValue(Variant("s" + rtl::IntToStr(i % 10)));
            q->Params()[3].SetValue(Variant(i));
            q->ExecSQL();
        }
        f.db.Commit();
    }
    const VisitCase cases[] = {
        {"select on the whole key", R"(SELECT "K"."N" FROM "K" WHERE ("K"."A"=:PARAM0) AND ("K"."B"=:PARAM1))",
         {Variant(50), Variant(2)}, 1},
        {"update on the whole key", R"(UPDATE "K" SET "K"."N"=:PARAM0 WHERE ("K"."A"=:PARAM1) AND ("K"."B"=:PARAM2))",
         {Variant(-1), Variant(50), Variant(2)}, 1},
        {"key change on the whole key", R"(UPDATE "K" SET "K"."A"=:PARAM0 WHERE ("K"."A"=:PARAM1) AND ("K"."B"=:PARAM2))",
         {Variant(1000), Variant(50), Variant(2)}, 1},
        {"delete on the whole key", R"(DELETE FROM "K" WHERE ("K"."A"=:PARAM0) AND ("K"."B"=:PARAM1))",
         {Variant(60), Variant(0)}, 1},
        {"key given as text", R"(SELECT "K"."N" FROM "K" WHERE "K"."A"='70' AND "K"."B"=1)", {}, 1},
        {"key that is not there", R"(SELECT "K"."N" FROM "K" WHERE "K"."A"=:PARAM0 AND "K"."B"=:PARAM1)",
         {Variant(5000), Variant(1)}, 0},
        {"first key field only", R"(SELECT "K"."N" FROM "K" WHERE "K"."A"=:PARAM0)", {Variant(10)}, 4},
        {"secondary index", R"(SELECT "K"."N" FROM "K" WHERE "K"."S"=:PARAM0)", {Variant("s3")}, kRows / 10},
        {"no index", R"(SELECT "K"."N" FROM "K" WHERE "K"."N"=:PARAM0)", {Variant(7)}, kRows - 1},
    };
    for (const VisitCase& c : cases) {
        const std::uint64_t before = f.db.RowsVisited();
        auto q = f.Query(c.sql, c.params);
        if (q->SQL().rfind("SELECT", 0) == 0) {
            q->Open();
            BdeFolder::ReadAll(*q);
        } else {
            q->ExecSQL();
        }
        EXPECT_EQ(f.db.RowsVisited() - before, c.visits) << c.name;
    }
    // The keyed changes above took effect.
    EXPECT_EQ(f.Rows(R"(SELECT "N" FROM "K" WHERE "A"=1000 AND "B"=2)"), (TextRows{{"-1"}}));
    EXPECT_EQ(f.Rows(R"(SELECT count(*) FROM "K" WHERE "A"=50)"), (TextRows{{"3"}}));
    EXPECT_EQ(f.Rows(R"(SELECT count(*) FROM "K" WHERE "A"=60)"), (TextRows{{"3"}}));
}

// A seek must not miss a record that SQLite's comparison finds.
TEST(KeyedAccess, SeekAgreesWithSqlComparison)
{
    BdeFolder f;
    f.CreateTable("S", {{"ID", ftString, 12, true}, {"N", ftInteger}}, {{"", "ID", ixPrimary | ixUnique}});
    f.CreateTable("I", {{"ID", ftInteger, 0, true}}, {{"", "ID", ixPrimary | ixUnique}});
    f.Exec(R"(INSERT INTO "S" ("ID","N") VALUES('5', 1))");
    f.Exec(R"(INSERT INTO "S" ("ID","N") VALUES('abc', 2))");
    f.Exec(R"(INSERT INTO "I" ("ID") VALUES(5))");
    const struct {
        const char* sql;
        TextRows rows;
    } cases[] = {
        {R"(SELECT "N" FROM "S" WHERE "ID" = 5)", {{"1"}}},
        {R"(SELECT "N" FROM "S" WHERE "ID" = '5')", {{"1"}}},
        {R"(SELECT "N" FROM "S" WHERE "ID" = 'ABC')", {}},
        {R"(SELECT "N" FROM "S" WHERE "ID" = 'abc' COLLATE NOCASE)", {{"2"}}},
        {R"(SELECT "N" FROM "S" WHERE "ID" = 'ABC' COLLATE NOCASE)", {{"2"}}},
        {R"(SELECT "N" FROM "S" WHERE "ID" = NULL)", {}},
        {R"(SELECT "ID" FROM "I" WHERE "ID" = '5')", {{"5"}}},
        {R"(SELECT "ID" FROM "I" WHERE "ID" = 5.0)", {{"5"}}},
        {R"(SELECT "ID" FROM "I" WHERE "ID" = 5.5)", {}},
        {R"(SELECT "ID" FROM "I" WHERE "ID" = 'five')", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(f.Rows(c.sql), c.rows) << c.sql;
}

// ---- parameters and field values ------------------------------------------------------------------

struct ParamCase {
    const char* name;
    const char* column;
    TFieldType paramType;
    Variant value;
    TFieldType fieldType;
    Variant expected; // Value() of the field read back
};

TEST(Parameters, EveryTypeGoesInAndComesBack)
{
    BdeFolder f;
    f.CreateTable("V",
                  {{"ID", ftInteger, 0, true}, {"S", ftString, 30}, {"SM", ftSmallint}, {"I", ftInteger},
                   {"B", ftBoolean}, {"F", ftFloat}, {"C", ftCurrency}, {"D", ftDate}, {"T", ftTime},
                   {"DT", ftDateTime}, {"M", ftMemo, 10}, {"BL", ftBlob, 0}, {"G", ftGraphic, 0}, {"BY", ftBytes, 4},
                   {"AI", ftAutoInc}},
                  {{"", "ID", ixPrimary | ixUnique}});
    const double date = rtl::EncodeDate(2024, 2, 29);
    const double time = rtl::EncodeTime(13, 45, 30, 500);
    const std::string longMemo(5000, 'm');
    const rtl::ByteArray bigBlob(10000, 0xAB);
    const ParamCase cases[] = {
        {"string", "S", ftString, Variant("Текст"), ftString, Variant("Текст")},
        {"string from an integer", "S", ftString, Variant(42), ftString, Variant("42")},
        {"smallint", "SM", ftSmallint, Variant(-123), ftSmallint, Variant::SmallInt(-123)},
        {"integer", "I", ftInteger, Variant(2000000000), ftInteger, Variant(2000000000)},
        {"integer from text", "I", ftInteger, Variant("17"), ftInteger, Variant(17)},
        {"boolean true", "B", ftBoolean, Variant(true), ftBoolean, Variant(true)},
        {"boolean false", "B", ftBoolean, Variant(false), ftBoolean, Variant(false)},
        {"float", "F", ftFloat, Variant(3.25), ftFloat, Variant(3.25)},
        {"currency", "C", ftCurrency, Variant(rtl::Currency{123456}), ftCurrency, Variant(rtl::Currency{123456})},
        {"date", "D", ftDate, Variant::DateTime(date), ftDate, Variant::DateTime(date)},
        {"date from a date-time keeps the day", "D", ftDateTime, Variant::DateTime(date + 0.5), ftDate,
         Variant::DateTime(date)},
        {"time", "T", ftTime, Variant::DateTime(time), ftTime, Variant::DateTime(time)},
        {"timestamp", "DT", ftDateTime, Variant::DateTime(date + time), ftDateTime, Variant::DateTime(date + time)},
        {"memo beyond its leader", "M", ftMemo, Variant(longMemo), ftMemo, Variant(longMemo)},
        {"blob", "BL", ftBlob, Variant(bigBlob), ftBlob, Variant(bigBlob)},
        {"graphic", "G", ftBlob, Variant(rtl::ByteArray{0x89, 'P', 'N', 'G'}), ftGraphic,
         Variant(rtl::ByteArray{0x89, 'P', 'N', 'G'})},
        {"bytes", "BY", ftBytes, Variant(rtl::ByteArray{1, 2, 3, 4}), ftBytes, Variant(rtl::ByteArray{1, 2, 3, 4})},
        {"auto-increment given", "AI", ftInteger, Variant(77), ftAutoInc, Variant(77)},
        {"value without a type", "F", ftUnknown, Variant(1.5), ftFloat, Variant(1.5)},
    };
    int id = 0;
    for (const ParamCase& c : cases) {
        ++id;
        const std::string col = c.column;
        auto ins = f.Query(R"(INSERT INTO "V" ("V"."ID","V"."S","V"."SM","V"."I","V"."B","V"."F","V"."C","V"."D","V"."T","V"."DT","V"."M","V"."BL","V"."G","V"."BY","V"."AI") VALUES(:PARAM0,:PARAM1,:PARAM2,:PARAM3,:PARAM4,:PARAM5,:PARAM6,:PARAM7,:PARAM8,:PARAM9,:PARAM10,:PARAM11,:PARAM12,:PARAM13,:PARAM14))");
        const char* columns[] = {"ID", "S", "SM", "I", "B", "F", "C", "D", "T", "DT", "M", "BL", "G", "BY", "AI"};
        for (int i = 0; i < 15; ++i) {
            TBdeParam& p = ins->Params()[i];
            if (i == 0) p.SetValue(Variant(id));
            else if (col == columns[i]) {
                p.SetDataType(c.paramType);
                p.SetValue(c.value);
            } else {
                p.Clear();
            }
        }
        ins->ExecSQL();
        auto sel = f.Query("SELECT \"V\".\"" + col + "\" FROM \"V\" WHERE (\"V\".\"ID\"=:PARAM0)", {Variant(id)});
        sel->Open();
        ASSERT_FALSE(sel->Eof()) << c.name;
        const TBdeField& field = sel->Field(0);
        EXPECT_EQ(field.DataType(), c.fieldType) << c.name;
        EXPECT_EQ(field.Value(), c.expected) << c.name;
        EXPECT_EQ(field.Value().VarType(), c.expected.VarType()) << c.name;
    }
}

TEST(Parameters, NullBlanksEveryFieldType)
{
    BdeFolder f;
    f.CreateTable("V", {{"ID", ftInteger, 0, true}, {"S", ftString, 5}, {"I", ftInteger}, {"D", ftDateTime},
                        {"M", ftMemo, 5}, {"BL", ftBlob, 0}},
                  {{"", "ID", ixPrimary | ixUnique}});
    f.Exec(R"(INSERT INTO "V" ("ID","S","I","D","M","BL") VALUES(1,'a',1,1.5,'m',x'01'))");
    auto q = f.Query(R"(UPDATE "V" SET "V"."S"=:PARAM0,"V"."I"=:PARAM1,"V"."D"=:PARAM2,"V"."M"=:PARAM3,"V"."BL"=:PARAM4 WHERE ("V"."ID"=:PARAM5))");
    const TFieldType types[] = {ftString, ftInteger, ftDateTime, ftMemo, ftBlob};
    for (int i = 0; i < 5; ++i) {
        q->Params()[i].SetDataType(types[i]);
        q->Params()[i].Clear();
    }
    q->Params()[5].SetValue(Variant(1));
    q->ExecSQL();
    EXPECT_EQ(q->RowsAffected(), 1);
    auto sel = f.Query(R"(SELECT * FROM "V")");
    sel->Open();
    for (int i = 1; i < sel->FieldCount(); ++i) {
        const TBdeField& field = sel->Field(i);
        EXPECT_TRUE(field.IsNull()) << field.FieldName();
        EXPECT_EQ(field.AsInteger(), 0);
        EXPECT_EQ(field.AsString(), "");
        EXPECT_EQ(field.BlobSize(), 0);
    }
}

TEST(Parameters, BlobDataFromMemoryAndReadStream)
{
    BdeFolder f;
    f.CreateTable("B", {{"ID", ftInteger, 0, true}, {"BL", ftBlob, 8}, {"M", ftMemo, 4}}, {{"", "ID", ixPrimary | ixUnique}});
    const std::uint8_t bytes[] = {0, 1, 2, 0xFF, 0, 5, 6, 7, 8, 9, 10};
    auto ins = f.Query(R"(INSERT INTO "B" ("B"."ID","B"."BL","B"."M") VALUES(:PARAM0,:PARAM1,:PARAM2))");
    ins->Params()[0].SetValue(Variant(1));
    ins->Params()[1].SetBlobData(bytes, sizeof bytes);
    ins->Params()[2].SetDataType(ftMemo);
    ins->Params()[2].SetValue(Variant("Записка"));
    ins->ExecSQL();
    EXPECT_EQ(ins->Params()[1].DataType(), ftBlob);

    auto sel = f.Query(R"(SELECT "BL", "M", "ID" FROM "B")");
    sel->Open();
    const TBdeField& blob = sel->Field(0);
    ASSERT_TRUE(blob.IsBlob());
    EXPECT_EQ(blob.BlobSize(), static_cast<std::int64_t>(sizeof bytes));
    auto stream = blob.CreateBlobStream();
    std::vector<std::uint8_t> read(static_cast<std::size_t>(stream->Size()));
    stream->ReadBuffer(read.data(), read.size());
    EXPECT_EQ(read, std::vector<std::uint8_t>(bytes, bytes + sizeof bytes));
    const TBdeField& memo = sel->Field(1);
    EXPECT_TRUE(memo.IsBlob());
    EXPECT_EQ(memo.DataType(), ftMemo);
    EXPECT_EQ(memo.AsString(), "Записка");
    EXPECT_EQ(memo.BlobSize(), static_cast<std::int64_t>(std::string("Записка").size()));
    EXPECT_FALSE(sel->Field(2).IsBlob());
    EXPECT_THROW(sel->Field(2).CreateBlobStream(), EBdeError);
    // pxlib finds the blob in the .MB file.
    const PxlibTable t = PxlibRead(f.folder.File("B.DB"), f.folder.File("B.MB"));
    ASSERT_EQ(t.rows.size(), 1u);
    EXPECT_EQ(t.blobs[0][1], std::vector<std::uint8_t>(bytes, bytes + sizeof bytes));
}

TEST(Fields, NamesTypesSizesAndPositions)
{
    BdeFolder f;
    f.CreateKeyed();
    f.Exec(R"(INSERT INTO "T" ("ID","NAME","N") VALUES(1,'one',10))");
    auto q = f.Query(R"(SELECT "T"."NAME", "T"."ID", count(*) AS "CNT", 'x' || "T"."NAME" AS "E" FROM "T")");
    q->Open();
    ASSERT_EQ(q->FieldCount(), 4);
    const struct {
        const char* name;
        TFieldType type;
        int size;
        int dataSize;
    } expected[] = {{"NAME", ftString, 20, 21}, {"ID", ftInteger, 0, 4}, {"CNT", ftInteger, 0, 4}, {"E", ftString, 0, 1}};
    for (int i = 0; i < 4; ++i) {
        const TBdeField& field = q->Field(i);
        EXPECT_EQ(field.FieldName(), expected[i].name);
        EXPECT_EQ(field.Index(), i);
        EXPECT_EQ(field.FieldNo(), i + 1);
        EXPECT_EQ(field.DataType(), expected[i].type) << expected[i].name;
        EXPECT_EQ(field.Size(), expected[i].size) << expected[i].name;
        EXPECT_EQ(field.DataSize(), expected[i].dataSize) << expected[i].name;
    }
    EXPECT_EQ(&q->FieldByName("cnt"), &q->Field(2));
    EXPECT_EQ(q->FindField("missing"), nullptr);
    EXPECT_THROW(q->FieldByName("missing"), EBdeError);
    EXPECT_EQ(q->FieldByName("E").AsString(), "xone");
    EXPECT_EQ(q->Field(1).AsFloat(), 1.0);
    EXPECT_EQ(q->Field(1).AsCurrency(), rtl::Currency{10000});
    EXPECT_TRUE(q->Field(1).AsBoolean());
}

// ---- cursors ---------------------------------------------------------------------------------------

TEST(Cursors, TwoQueriesOnOneStatementReadTheirOwnRows)
{
    BdeFolder f;
    f.CreateKeyed();
    for (int i = 1; i <= 6; ++i) f.Exec(R"(INSERT INTO "T" ("ID","N") VALUES(:PARAM0,:PARAM1))", {Variant(i), Variant(i * 10)});
    const char* sql = R"(SELECT "T"."ID" FROM "T" WHERE "T"."N" > :PARAM0)";
    auto first = f.Query(sql, {Variant(30)});
    first->Open();
    EXPECT_EQ(first->Field(0).AsInteger(), 4);
    // The same statement again (the driver takes a new query object for it)
    // while the first cursor is open, and a change in between.
    TBdeQuery second;
    f.Bind(second, f.db);
    second.Assign(*first);
    second.Params()[0].SetValue(Variant(50));
    second.Open();
    f.Exec(R"(DELETE FROM "T" WHERE "ID" = 5)");
    first->Next();
    EXPECT_EQ(first->Field(0).AsInteger(), 6); // 5 is gone
    EXPECT_EQ(second.Field(0).AsInteger(), 6);
    first->Next();
    second.Next();
    EXPECT_TRUE(first->Eof());
    EXPECT_TRUE(second.Eof());
    EXPECT_TRUE(first->Field(0).IsNull());
}

TEST(Cursors, PrepareExecuteAgainAndUnprepare)
{
    BdeFolder f;
    f.CreateKeyed();
    auto q = f.Query(R"(INSERT INTO "T" ("T"."ID","T"."N") VALUES(:PARAM0,:PARAM1))");
    EXPECT_FALSE(q->Prepared());
    q->Prepare();
    EXPECT_TRUE(q->Prepared());
    for (int i = 1; i <= 3; ++i) {
        q->Params()[0].SetValue(Variant(i));
        q->Params()[1].SetValue(Variant(i));
        q->ExecSQL();
        EXPECT_EQ(q->RowsAffected(), 1);
    }
    q->UnPrepare();
    EXPECT_FALSE(q->Prepared());
    q->Params()[0].SetValue(Variant(4));
    q->Params()[1].SetValue(Variant(4));
    q->ExecSQL(); // prepares for this run only
    EXPECT_FALSE(q->Prepared());
    EXPECT_EQ(f.Rows(R"(SELECT count(*) FROM "T")"), (TextRows{{"4"}}));

    // A prepared select runs again with new values after Close.
    auto sel = f.Query(R"(SELECT "N" FROM "T" WHERE "ID" = :PARAM0)");
    sel->Prepare();
    for (int i = 1; i <= 4; ++i) {
        sel->Params()[0].SetValue(Variant(i));
        sel->Open();
        EXPECT_EQ(sel->Field(0).AsInteger(), i);
        sel->Close();
        EXPECT_FALSE(sel->Active());
        EXPECT_EQ(sel->FieldCount(), 0);
    }
}

// A statement prepared before its table was dropped and made again is
// prepared again against the new table.
TEST(Cursors, PreparedStatementFollowsARecreatedTable)
{
    BdeFolder f;
    f.CreateKeyed();
    auto sel = f.Query(R"(SELECT * FROM "T")");
    sel->Prepare();
    TBdeTable t;
    f.Bind(t, f.db);
    t.SetTableName("T");
    t.DeleteTable();
    f.CreateTable("T", {{"X", ftString, 5}, {"Y", ftString, 5}, {"Z", ftString, 5}, {"W", ftString, 5}});
    f.Exec(R"(INSERT INTO "T" ("X") VALUES('new'))");
    sel->Open();
    EXPECT_EQ(sel->FieldCount(), 4);
    EXPECT_EQ(sel->Field(0).AsString(), "new");
}

// ---- failures --------------------------------------------------------------------------------------

struct FailureCase {
    const char* name;
    const char* sql;
    std::vector<Variant> params;
    bool open;
    const char* message; // part of the message
};

template <class E>
void ExpectFailure(BdeFolder& f, const FailureCase& c)
{
    auto q = f.Query(c.sql, c.params);
    try {
        if (c.open) q->Open();
        else q->ExecSQL();
        ADD_FAILURE() << c.name << ": no failure";
    } catch (const E& e) {
        EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.name << ": " << e.what();
    }
}

TEST(Failures, ClearErrorsNamingTheStatementOrTable)
{
    BdeFolder f;
    f.CreateKeyed();
    f.Exec(R"(INSERT INTO "T" ("ID","NAME") VALUES(1,'one'))");
    f.Exec(R"(INSERT INTO "T" ("ID","NAME") VALUES(2,'two'))");
    const FailureCase bde[] = {
        {"syntax", R"(SELEKT * FROM "T")", {}, true, "SELEKT * FROM"},
        {"missing table", R"(SELECT * FROM "NOPE")", {}, true, "Table \"NOPE\" does not exist in folder"},
        {"missing column", R"(SELECT "ZZZ" FROM "T")", {}, true, "no such column: ZZZ"},
        {"schema statement", R"(CREATE TABLE "X" ("A" INTEGER))", {}, false, "Only SELECT, INSERT, UPDATE and DELETE"},
        {"drop statement", R"(DROP TABLE "T")", {}, false, "Only SELECT, INSERT, UPDATE and DELETE"},
        {"pragma", "PRAGMA table_info(\"T\")", {}, false, "Only SELECT, INSERT, UPDATE and DELETE"},
        {"two statements", R"(DELETE FROM "T"; DELETE FROM "T")", {}, false, "Only one statement"},
        {"parameter without a value", R"(SELECT * FROM "T" WHERE "ID" = :PARAM0)", {}, true,
         "No value for parameter \"PARAM0\""},
        {"open of an update", R"(UPDATE "T" SET "N" = 1)", {}, true, "returns no rows"},
    };
    for (const FailureCase& c : bde) ExpectFailure<EBdeError>(f, c);
    const FailureCase engine[] = {
        {"duplicate key on insert", R"(INSERT INTO "T" ("T"."ID") VALUES(:PARAM0))", {Variant(1)}, false,
         "Key violation in table \"T\""},
        {"key change onto another record", R"(UPDATE "T" SET "T"."ID"=:PARAM0 WHERE ("T"."ID"=:PARAM1))",
         {Variant(1), Variant(2)}, false, "Key violation in table \"T\""},
        {"text too long", R"(UPDATE "T" SET "T"."NAME"=:PARAM0 WHERE ("T"."ID"=:PARAM1))",
         {Variant(std::string(21, 'x')), Variant(1)}, false, "NAME"},
        {"required field", R"(INSERT INTO "T" ("T"."NAME") VALUES('x'))", {}, false, "must have a value"},
    };
    for (const FailureCase& c : engine) ExpectFailure<EPxError>(f, c);
    EXPECT_THROW(
        {
            auto q = f.Query(R"(INSERT INTO "T" ("ID") VALUES(:PARAM0))", {Variant(2)});
            q->ExecSQL();
        },
        EPxKeyViolation);
    // Nothing of the failed statements stayed.
    EXPECT_EQ(f.Rows(R"(SELECT * FROM "T")"), (TextRows{{"1", "one", "NULL"}, {"2", "two", "NULL"}}));
}

TEST(Failures, QueryWithoutConnectedDatabase)
{
    BdeFolder f;
    TBdeQuery q;
    q.SetSessionName(f.session.SessionName());
    q.SetDatabaseName("NoSuchDb");
    q.SetSQL("SELECT 1");
    EXPECT_THROW(q.Open(), EBdeError);
    f.CreateKeyed();
    auto open = f.Query(R"(SELECT * FROM "T")");
    open->Open();
    f.db.Close();
    EXPECT_FALSE(open->Active());
    EXPECT_THROW(open->Open(), EBdeError);
}

// ---- a statement is one unit ------------------------------------------------------------------------

// Each statement fails on its second record, after changing the first.
const FailureCase kHalfWay[] = {
    {"key changes that collide", R"(UPDATE "T" SET "ID" = "ID" + 1)", {}, false, "Key violation"},
    {"text that grows too long", R"(UPDATE "T" SET "NAME" = "NAME" || 'xxxxxxxxxxxxxxxx')", {}, false, "NAME"},
    {"insert of copies", R"(INSERT INTO "T" ("ID", "NAME") SELECT "ID" + 100, "NAME" || 'xxxxxxxxxxxxxxxx' FROM "T")",
     {}, false, "NAME"},
};

void FillHalfWay(BdeFolder& f)
{
    f.CreateKeyed();
    f.Exec(R"(INSERT INTO "T" ("ID","NAME") VALUES(1,'a'))");
    f.Exec(R"(INSERT INTO "T" ("ID","NAME") VALUES(3,'bbbbbbbbbb'))");
    f.Exec(R"(INSERT INTO "T" ("ID","NAME") VALUES(4,'c'))");
}

TEST(StatementUnit, FailingHalfWayChangesNothing)
{
    for (const FailureCase& c : kHalfWay) {
        BdeFolder f;
        FillHalfWay(f);
        const TextRows before = f.Rows(R"(SELECT * FROM "T")");
        ExpectFailure<EPxError>(f, c);
        EXPECT_EQ(f.Rows(R"(SELECT * FROM "T")"), before) << c.name;
        EXPECT_FALSE(f.db.InTransaction()) << c.name;
        EXPECT_EQ(PxlibRows(f.folder.File("T.DB")), before) << c.name;
    }
}

TEST(StatementUnit, FailingHalfWayInsideATransactionKeepsTheEarlierStatements)
{
    for (const FailureCase& c : kHalfWay) {
        BdeFolder f;
        FillHalfWay(f);
        f.db.StartTransaction();
        f.Exec(R"(UPDATE "T" SET "N" = 5 WHERE "ID" = 4)");
        const TextRows before = f.Rows(R"(SELECT * FROM "T")");
        ExpectFailure<EPxError>(f, c);
        EXPECT_TRUE(f.db.InTransaction()) << c.name;
        EXPECT_EQ(f.Rows(R"(SELECT * FROM "T")"), before) << c.name;
        f.db.Commit();
        EXPECT_EQ(PxlibRows(f.folder.File("T.DB")), before) << c.name;
    }
}

// A write that fails on disk takes the whole statement back through the
// folder's journal; a cursor that was open then cannot go on with row ids of
// the tables as they were.
TEST(StatementUnit, DiskFailureRollsTheStatementBack)
{
    FaultyFileSystem fs;
    BdeFolder f(&fs);
    FillHalfWay(f);
    const TextRows original = f.Rows(R"(SELECT * FROM "T")");
    auto cursor = f.Query(R"(SELECT "ID" FROM "T")");
    cursor->Open();
    int failures = 0;
    for (long at = 1;; ++at) {
        ASSERT_LT(at, 200) << "the statement never succeeds";
        fs.Reset(at, false, true);
        try {
            f.Exec(R"(UPDATE "T" SET "N" = 9)");
            break; // no write left to fail
        } catch (const EPxIoError&) {
            ++failures;
        }
        fs.Reset(0, false, false);
        EXPECT_EQ(f.Rows(R"(SELECT * FROM "T")"), original) << "failure at write " << at;
        EXPECT_EQ(PxlibRows(f.folder.File("T.DB")), original) << "failure at write " << at;
        if (failures == 1) {
            EXPECT_THROW(cursor->Next(), EBdeError);
        }
    }
    fs.Reset(0, false, false);
    EXPECT_GT(failures, 0);
    EXPECT_EQ(f.Rows(R"(SELECT "N" FROM "T")"), (TextRows{{"9"}, {"9"}, {"9"}}));
}

} // namespace
} // namespace bde::test
