// The local SQL dialect: its translation for SQLite and the parameter scan.
#include <gtest/gtest.h>

#include "platform/bde/BdeSqlDialect.h"

namespace bde {
namespace {

struct TranslateCase {
    const char* name;
    const char* in;
    const char* out;
};

const TranslateCase kTranslateCases[] = {
    {"select keeps qualified columns",
     R"(SELECT "T"."A", "T"."B" FROM "T" WHERE ("T"."C"=:PARAM0))",
     R"(SELECT "T"."A", "T"."B" FROM "T" WHERE ("T"."C"=:PARAM0))"},
    {"insert column list loses qualifiers",
     R"(INSERT INTO "VELMO_IDMAPER" ("VELMO_IDMAPER"."IDCLASS","VELMO_IDMAPER"."LOCALID") VALUES(:PARAM0,:PARAM1))",
     R"(INSERT INTO "VELMO_IDMAPER" ("IDCLASS","LOCALID") VALUES(:PARAM0,:PARAM1))"},
    {"insert values keep their text",
     R"(insert into "T" ("T"."A") values('"T"."A"'))",
     R"(insert into "T" ("A") values('"T"."A"'))"},
    {"insert with blanks around the dot",
     R"(INSERT INTO "T" ( "T" . "A" , "T"."B" ) VALUES (1, 2))",
     R"(INSERT INTO "T" ( "A" , "B" ) VALUES (1, 2))"},
    {"update set targets lose qualifiers, where part keeps them",
     R"(UPDATE "T" SET "T"."A"=:PARAM0,"T"."B"=:PARAM1 WHERE ("T"."C"=:PARAM2))",
     R"(UPDATE "T" SET "A"=:PARAM0,"B"=:PARAM1 WHERE ("T"."C"=:PARAM2))"},
    {"update value that names a column keeps its qualifier",
     R"(update "T" set "T"."N" = "T"."N" + 1, "T"."M" = coalesce("T"."M", 0) where "T"."ID" = 5)",
     R"(update "T" set "N" = "T"."N" + 1, "M" = coalesce("T"."M", 0) where "T"."ID" = 5)"},
    {"update without where",
     R"(UPDATE "VELMO_DBINFO" SET "VELMO_DBINFO"."IDGROUP"=:PARAM0,"VELMO_DBINFO"."IDNUMBER"=:PARAM1)",
     R"(UPDATE "VELMO_DBINFO" SET "IDGROUP"=:PARAM0,"IDNUMBER"=:PARAM1)"},
    {"unquoted qualified names",
     "UPDATE T SET T.A = 1 WHERE T.B = 2",
     "UPDATE T SET A = 1 WHERE T.B = 2"},
    {"delete keeps qualified keys",
     R"(DELETE FROM "VELMO_PREFS" WHERE ("VELMO_PREFS"."USERID"=:PARAM0) AND ("VELMO_PREFS"."KEYNAME"=:PARAM1))",
     R"(DELETE FROM "VELMO_PREFS" WHERE ("VELMO_PREFS"."USERID"=:PARAM0) AND ("VELMO_PREFS"."KEYNAME"=:PARAM1))"},
    {"count and distinct pass unchanged",
     R"(select count(*) from "VELMO_LINKS")",
     R"(select count(*) from "VELMO_LINKS")"},
    {"literal with quotes and a dotted text is untouched",
     R"(UPDATE "T" SET "T"."A"='it''s "T"."A"' WHERE "T"."B"='x.y')",
     R"(UPDATE "T" SET "A"='it''s "T"."A"' WHERE "T"."B"='x.y')"},
    {"comment is untouched",
     "UPDATE \"T\" SET /* \"T\".\"A\" */ \"T\".\"A\"=1 -- \"T\".\"B\"\n",
     "UPDATE \"T\" SET /* \"T\".\"A\" */ \"A\"=1 -- \"T\".\"B\"\n"},
    {"Cyrillic names",
     R"(INSERT INTO "Таблица" ("Таблица"."Поле") VALUES(:PARAM0))",
     R"(INSERT INTO "Таблица" ("Поле") VALUES(:PARAM0))"},
    {"quoted name with a doubled quote",
     R"(INSERT INTO "A""B" ("A""B"."C") VALUES(1))",
     R"(INSERT INTO "A""B" ("C") VALUES(1))"},
};

class TranslateTest : public testing::TestWithParam<TranslateCase> {};

TEST_P(TranslateTest, GivesSqliteForm)
{
    EXPECT_EQ(BdeTranslateToSqlite(GetParam().in), GetParam().out);
}

INSTANTIATE_TEST_SUITE_P(Dialect, TranslateTest, testing::ValuesIn(kTranslateCases),
                         [](const testing::TestParamInfo<TranslateCase>& info) {
                             std::string n;
                             for (const char* p = info.param.name; *p; ++p)
                                 n += (*p >= 'a' && *p <= 'z') || (*p >= 'A' && *p <= 'Z') ? *p : '_';
                             return n;
                         });

struct ParamCase {
    const char* name;
    const char* sql;
    std::vector<std::string> params;
};

TEST(DialectParams, OnePerMarkerOutsideLiterals)
{
    const ParamCase cases[] = {
        {"none", R"(SELECT * FROM "T")", {}},
        {"in order", R"(UPDATE "T" SET "T"."A"=:PARAM0 WHERE ("T"."B"=:PARAM1))", {"PARAM0", "PARAM1"}},
        {"inside apostrophes", R"(SELECT * FROM "T" WHERE "A"=':X' AND "B"=:PARAM0)", {"PARAM0"}},
        {"inside a quoted name", R"(SELECT ":X" FROM "T" WHERE "B"=:Y)", {"Y"}},
        {"in a comment", "SELECT 1 -- :X\n, :Y /* :Z */", {"Y"}},
        {"double colon is text", "SELECT a::b, :C", {"C"}},
        {"time literal", "SELECT '12:30:00', :T", {"T"}},
        {"repeated name", "SELECT :A, :B, :A", {"A", "B", "A"}},
        {"lone colon", "SELECT : , :1x", {"1x"}},
    };
    for (const ParamCase& c : cases) EXPECT_EQ(BdeParseParamNames(c.sql), c.params) << c.name;
}

TEST(DialectBrackets, BracketedNamesBecomeQuotedOnesOutsideLiteralsAndComments)
{
    const struct {
        const char* name;
        const char* sql;
        const char* quoted;
    } cases[] = {
        {"names and qualifiers", "SELECT [A].[X] FROM [A]", R"(SELECT "A"."X" FROM "A")"},
        {"quote inside doubled", R"(SELECT [a"b] FROM [T])", R"(SELECT "a""b" FROM "T")"},
        {"literal untouched", "SELECT '[x]' FROM [T]", R"(SELECT '[x]' FROM "T")"},
        {"quoted name untouched", R"(SELECT "we[ir]d" FROM [T])", R"(SELECT "we[ir]d" FROM "T")"},
        {"comment untouched", "SELECT [X] -- [not]\nFROM [T]", "SELECT \"X\" -- [not]\nFROM \"T\""},
        {"empty name", "SELECT [] FROM [T]", R"(SELECT "" FROM "T")"},
        {"unclosed bracket left", "SELECT [X", "SELECT [X"},
    };
    for (const auto& c : cases) EXPECT_EQ(BdeQuoteBracketedNames(c.sql), c.quoted) << c.name;
}

} // namespace
} // namespace bde
