// Table objects: creating tables from field and index definitions, reading
// the definitions back, limits, deleting, renaming, reading rows and the
// append/post copy of a rebuild.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "BdeTestSupport.h"

namespace bde::test {
namespace {

using rtl::Variant;

TBdeTable& OnTable(BdeFolder& f, TBdeTable& t, const std::string& name)
{
    f.Bind(t, f.db);
    t.SetTableName(name);
    t.SetTableType(ttParadox);
    return t;
}

TEST(CreateTable, DefinitionsComeBackFromTheFiles)
{
    BdeFolder f;
    // The key fields are not first in the definitions: they go first.
    f.CreateTable("ALLTYPES",
                  {{"S", ftString, 30, false}, {"K2", ftString, 12, true}, {"SM", ftSmallint}, {"K1", ftInteger, 0, true},
                   {"B", ftBoolean}, {"F", ftFloat}, {"C", ftCurrency}, {"D", ftDate}, {"T", ftTime}, {"DT", ftDateTime},
                   {"M", ftMemo, 10}, {"BL", ftBlob, 0}, {"G", ftGraphic, 5}, {"BY", ftBytes, 8}, {"AI", ftAutoInc},
                   {"BCD", ftBCD, 2}},
                  {{"", "K1;K2", ixPrimary | ixUnique}, {"Ind0", "S;SM", 0}, {"F", "F", 0}});
    TBdeTable t;
    OnTable(f, t, "ALLTYPES");
    t.FieldDefs().Update();
    const TBdeFieldDef expected[] = {
        {"K1", ftInteger, 0, true}, {"K2", ftString, 12, true}, {"S", ftString, 30, false}, {"SM", ftSmallint, 0, false},
        {"B", ftBoolean, 0, false}, {"F", ftFloat, 0, false}, {"C", ftCurrency, 0, false}, {"D", ftDate, 0, false},
        {"T", ftTime, 0, false}, {"DT", ftDateTime, 0, false}, {"M", ftMemo, 10, false}, {"BL", ftBlob, 0, false},
        {"G", ftGraphic, 5, false}, {"BY", ftBytes, 8, false}, {"AI", ftAutoInc, 0, false}, {"BCD", ftBCD, 2, false},
    };
    ASSERT_EQ(t.FieldDefs().Count(), static_cast<int>(std::size(expected)));
    for (int i = 0; i < t.FieldDefs().Count(); ++i) {
        const TBdeFieldDef& d = t.FieldDefs()[i];
        EXPECT_EQ(d.Name, expected[i].Name);
        EXPECT_EQ(d.DataType, expected[i].DataType) << d.Name;
        EXPECT_EQ(d.Size, expected[i].Size) << d.Name;
        EXPECT_EQ(d.Required, expected[i].Required) << d.Name;
    }
    t.IndexDefs().Update();
    ASSERT_EQ(t.IndexDefs().Count(), 3);
    EXPECT_EQ(t.IndexDefs()[0].Name, "");
    EXPECT_EQ(t.IndexDefs()[0].Fields, "K1;K2");
    EXPECT_EQ(t.IndexDefs()[0].Options, ixPrimary | ixUnique);
    std::map<std::string, std::pair<std::string, TIndexOptions>> secondary;
    for (int i = 1; i < 3; ++i)
        secondary[t.IndexDefs()[i].Name] = {t.IndexDefs()[i].Fields, t.IndexDefs()[i].Options};
    EXPECT_EQ(secondary, (std::map<std::string, std::pair<std::string, TIndexOptions>>{
                             {"F", {"F", 0u}}, {"Ind0", {"S;SM", 0u}}}));
    // Another Paradox reader opens it too.
    const PxlibTable px = PxlibRead(f.folder.File("ALLTYPES.DB"));
    EXPECT_TRUE(px.opened);
    EXPECT_EQ(px.fields, 16);
}

TEST(CreateTable, UnkeyedTableKeepsItsOrder)
{
    BdeFolder f;
    f.CreateTable("LOG", {{"TEXT", ftString, 10}, {"N", ftInteger}});
    for (int n : {3, 1, 2}) f.Exec(R"(INSERT INTO "LOG" ("TEXT","N") VALUES('x', :PARAM0))", {Variant(n)});
    EXPECT_EQ(f.Rows(R"(SELECT "N" FROM "LOG")"), (TextRows{{"3"}, {"1"}, {"2"}}));
    TBdeTable t;
    OnTable(f, t, "LOG").IndexDefs().Update();
    EXPECT_EQ(t.IndexDefs().Count(), 0);
}

struct LimitCase {
    const char* name;
    std::vector<TBdeFieldDef> fields;
    std::vector<IndexSpec> indexes;
    const char* message;
};

TEST(CreateTable, DefinitionsOutsideTheLimitsAreRefused)
{
    BdeFolder f;
    const TBdeFieldDef id{"ID", ftInteger, 0, true};
    const LimitCase cases[] = {
        {"alpha without size", {id, {"S", ftString, 0}}, {}, "Field \"S\" of table \"X\": an Alpha field needs a size"},
        {"alpha too long", {id, {"S", ftString, 256}}, {}, "an Alpha field needs a size from 1 to 255 (256 given)"},
        {"blob leader too long", {id, {"B", ftBlob, 250}}, {}, "size 250 is outside 0 to 240"},
        {"memo leader too long", {id, {"M", ftMemo, 241}}, {}, "size 241 is outside 0 to 240"},
        {"bytes without size", {id, {"Y", ftBytes, 0}}, {}, "Field \"Y\""},
        {"type Paradox cannot store", {id, {"V", ftVariant}}, {}, "field type Variant cannot be stored"},
        {"no fields", {}, {}, "without fields"},
        {"index on a missing field", {id}, {{"", "NOPE", ixPrimary}}, "names field \"NOPE\""},
        {"two primary indexes", {id, {"A", ftInteger}}, {{"", "ID", ixPrimary}, {"", "A", ixPrimary}}, "more than one primary"},
        {"key field twice", {id}, {{"", "ID;ID", ixPrimary}}, "names field \"ID\" twice"},
        {"empty index", {id}, {{"I", "", 0}}, "has no fields"},
        {"field name too long", {{"A_VERY_LONG_FIELD_NAME_OF_30CH", ftInteger}}, {}, "A_VERY_LONG_FIELD_NAME_OF_30CH"},
    };
    for (const LimitCase& c : cases) {
        try {
            f.CreateTable("X", c.fields, c.indexes);
            ADD_FAILURE() << c.name << ": created";
        } catch (const rtl::Exception& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << c.name << ": " << e.what();
        }
        EXPECT_FALSE(std::filesystem::exists(f.folder.File("X.DB"))) << c.name;
    }
    EXPECT_THROW(TBdeTable().SetTableType(ttDBase), EBdeError);
}

TEST(TableFiles, ExistsDeleteAndRename)
{
    BdeFolder f;
    f.CreateKeyed("OLD");
    f.Exec(R"(INSERT INTO "OLD" ("ID","NAME") VALUES(1,'one'))");
    EXPECT_EQ(f.Rows(R"(SELECT "NAME" FROM "OLD")"), (TextRows{{"one"}}));
    TBdeTable t;
    OnTable(f, t, "OLD");
    EXPECT_TRUE(t.Exists());
    t.RenameTable("NEW");
    EXPECT_EQ(t.TableName(), "NEW");
    EXPECT_TRUE(t.Exists());
    TBdeTable old;
    EXPECT_FALSE(OnTable(f, old, "OLD").Exists());
    // SQL follows the rename.
    EXPECT_THROW(f.Rows(R"(SELECT * FROM "OLD")"), EBdeError);
    EXPECT_EQ(f.Rows(R"(SELECT "NAME" FROM "NEW")"), (TextRows{{"one"}}));
    EXPECT_EQ(PxlibRows(f.folder.File("NEW.DB")), (TextRows{{"1", "one", "NULL"}}));
    // Renaming onto a table that exists is refused and changes nothing.
    f.CreateKeyed("OTHER");
    EXPECT_THROW(t.RenameTable("OTHER"), EPxError);
    EXPECT_EQ(f.Rows(R"(SELECT "NAME" FROM "NEW")"), (TextRows{{"one"}}));
    t.DeleteTable();
    EXPECT_FALSE(t.Exists());
    EXPECT_THROW(f.Rows(R"(SELECT * FROM "NEW")"), EBdeError);
    for (const auto& e : std::filesystem::directory_iterator(f.folder.Path()))
        EXPECT_EQ(e.path().filename().string().rfind("NEW.", 0), std::string::npos) << e.path();
    EXPECT_THROW(t.DeleteTable(), EPxError);
}

TEST(TableFiles, TableInUseIsNotDroppedOrRenamed)
{
    BdeFolder f;
    f.CreateKeyed();
    f.Exec(R"(INSERT INTO "T" ("ID") VALUES(1))");
    f.Exec(R"(INSERT INTO "T" ("ID") VALUES(2))");
    TBdeTable t;
    OnTable(f, t, "T");
    {
        auto q = f.Query(R"(SELECT * FROM "T")");
        q->Open();
        EXPECT_THROW(t.DeleteTable(), EBdeError);
        EXPECT_THROW(t.RenameTable("U"), EBdeError);
    }
    {
        // A cursor on another table does not hold this one.
        f.CreateKeyed("OTHER");
        f.Rows(R"(SELECT * FROM "OTHER")");
        auto q = f.Query(R"(SELECT * FROM "T")");
        q->Open();
        TBdeTable other;
        OnTable(f, other, "OTHER").RenameTable("OTHER2");
        other.DeleteTable();
        q->Next();
        EXPECT_EQ(q->Field(0).AsInteger(), 2);
    }
    TBdeTable reader;
    OnTable(f, reader, "T").Open();
    EXPECT_THROW(t.DeleteTable(), EBdeError);
    reader.Close();
    t.DeleteTable();
    EXPECT_FALSE(t.Exists());
}

TEST(TableRows, ReadInKeyOrderAndCopiedByAppendAndPost)
{
    BdeFolder f;
    f.CreateTable("SRC", {{"ID", ftString, 12, true}, {"N", ftInteger}, {"D", ftDateTime}, {"M", ftMemo, 4}, {"B", ftBlob, 0}},
                  {{"", "ID", ixPrimary | ixUnique}});
    for (const char* id : {"c", "a", "b"})
        f.Exec(R"(INSERT INTO "SRC" ("ID","N","D","M","B") VALUES(:PARAM0, length(:PARAM0), 45000.25, 'memo text', x'0102'))",
               {Variant(id)});
    f.Exec(R"(UPDATE "SRC" SET "N" = NULL WHERE "ID" = 'b')");
    // The copy of a rebuild: a new structure with one field dropped and one added.
    f.CreateTable("DST", {{"ID", ftString, 12, true}, {"EXTRA", ftString, 5}, {"D", ftDateTime}, {"M", ftMemo, 4},
                          {"B", ftBlob, 0}, {"N", ftInteger}},
                  {{"", "ID", ixPrimary | ixUnique}});
    TBdeTable src;
    TBdeTable dst;
    OnTable(f, src, "SRC");
    OnTable(f, dst, "DST");
    src.FieldDefs().Update();
    dst.FieldDefs().Update();
    const std::pair<const char*, const char*> map[] = {{"ID", "ID"}, {"N", "N"}, {"D", "D"}, {"M", "M"}, {"B", "B"}};
    dst.Open();
    src.Open();
    std::vector<std::string> order;
    for (; !src.Eof(); src.Next()) {
        order.push_back(src.Field(0).AsString());
        dst.Append();
        for (const auto& [from, to] : map)
            dst.Field(dst.FieldDefs().IndexOf(to)).SetValue(src.Field(src.FieldDefs().IndexOf(from)).Value());
        dst.Post();
    }
    EXPECT_EQ(order, (std::vector<std::string>{"a", "b", "c"}));
    src.Close();
    dst.Close();
    EXPECT_EQ(f.Rows(R"(SELECT "ID","EXTRA","D","M",hex("B"),"N" FROM "DST")"),
              (TextRows{{"a", "NULL", "2023-03-15 06:00:00", "memo text", "0102", "1"},
                        {"b", "NULL", "2023-03-15 06:00:00", "memo text", "0102", "NULL"},
                        {"c", "NULL", "2023-03-15 06:00:00", "memo text", "0102", "1"}}));
    EXPECT_EQ(PxlibRows(f.folder.File("DST.DB"), f.folder.File("DST.MB")).size(), 3u);
}

TEST(TableRows, AppendErrors)
{
    BdeFolder f;
    f.CreateKeyed();
    f.Exec(R"(INSERT INTO "T" ("ID") VALUES(1))");
    TBdeTable t;
    OnTable(f, t, "T");
    EXPECT_THROW(t.Append(), EBdeError); // not open
    t.Open();
    EXPECT_THROW(t.Field(0).SetValue(Variant(5)), EBdeError); // not appending
    t.Append();
    EXPECT_TRUE(t.Field(0).IsNull());
    t.Field(0).SetValue(Variant(1));
    EXPECT_THROW(t.Post(), EPxKeyViolation);
    t.Field(0).SetValue(Variant(2));
    t.Post();
    EXPECT_THROW(t.Field(5), EBdeError);
    t.Close();
    EXPECT_EQ(f.Rows(R"(SELECT "ID" FROM "T")"), (TextRows{{"1"}, {"2"}}));
}

} // namespace
} // namespace bde::test
