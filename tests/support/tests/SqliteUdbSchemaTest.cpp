// Tests of the SQLite test driver's structure side: the map between layer
// data types and column declarations, table definitions created, read back
// and rebuilt (with the undo of a failed rebuild), table existence and
// removal, and the schema-information cursors.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "UdbProject/UdbMessages.h"
#include "UdbProject/Udbs.h"
#include "platform/rtl/NumText.h"
#include "platform/rtl/Variant.h"
#include "tests/support/SqliteUdb.h"
#include "tests/support/tests/SqliteTestFixture.h"

using rtl::Variant;
using namespace sqlitetest;

namespace {

// ---- column types -------------------------------------------------------------------

TEST(SqliteColumnTypes, EveryLayerTypeReadsBackAsItself)
{
    struct Case {
        TUdbDataType type;
        std::int32_t size;
        const char* declaration;
        std::int32_t sizeBack;
    };
    const Case cases[] = {
        {udtBoolean, -1, "BOOLEAN", -1},          {udtInteger, 4, "INT", -1},
        {udtFloat, -1, "FLOAT", -1},              {udtCurrency, -1, "CURRENCY", -1},
        {udtDateTime, -1, "DATETIME", -1},        {udtDate, -1, "DATE", -1},
        {udtTime, -1, "TIME", -1},                {udtString, 40, "VARCHAR(40)", 40},
        {udtString, -1, "VARCHAR", -1},           {udtMemo, -1, "TEXT", -1},
        {udtMemo, 1000, "TEXT(1000)", 1000},      {udtBinary, -1, "BLOB", -1},
        {udtPicture, -1, "PICTURE BLOB", -1},     {udtDocument, 16, "DOCUMENT BLOB(16)", 16},
        {0, -1, "", -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.declaration);
        EXPECT_EQ(SqliteColumnType(c.type, c.size), c.declaration);
        EXPECT_EQ(SqliteParseColumnType(c.declaration), (TSqliteColumnType{c.type, c.sizeBack}));
    }
    EXPECT_THROW(SqliteColumnType(0x0503, -1), rtl::Exception);
}

TEST(SqliteColumnTypes, ForeignDeclarationsMapToTheNearestType)
{
    struct Case {
        const char* declaration;
        TUdbDataType type;
        std::int32_t size;
    };
    const Case cases[] = {
        {"integer", udtInteger, -1},         {"BIGINT", udtInteger, -1},
        {"UNSIGNED BIG INT", udtInteger, -1}, {"varchar(12)", udtString, 12},
        {"NVARCHAR( 7 )", udtString, 7},     {"CHARACTER VARYING(5)", udtString, 5},
        {"NATIVE CHARACTER(70)", udtString, 70}, {"CLOB", udtMemo, -1},
        {"DOUBLE PRECISION", udtFloat, -1},  {"DECIMAL(10,5)", udtFloat, -1},
        {"TIMESTAMP", udtDateTime, -1},      {"bool", udtBoolean, -1},
        {"MONEY", udtCurrency, -1},          {"VARBINARY(8)", udtBinary, 8},
        {"SOMETHING", udtFloat, -1},         {"   ", 0, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.declaration);
        EXPECT_EQ(SqliteParseColumnType(c.declaration), (TSqliteColumnType{c.type, c.size}));
    }
}

// ---- helpers ------------------------------------------------------------------------

// "NAME String(10) NOT NULL, ..." for the fields of def.
std::string DescribeFields(IUdbTableDef& def)
{
    std::string out;
    for (std::int32_t i = 0; i < def.FieldCount(); ++i) {
        const TUdbFieldDef f = def.GetFieldDef(i);
        if (!out.empty()) out += ", ";
        out += f.Name + " " + (f.DataType ? DataTypeName(f.DataType) : std::string("?"));
        if (f.Size >= 0) out += "(" + rtl::IntToStr(f.Size) + ")";
        if (f.Required) out += " NOT NULL";
    }
    return out;
}

// "PK ID, UNIQUE NAME, KIND;LEN" for the indexes of def.
std::string DescribeIndexes(IUdbTableDef& def)
{
    std::string out;
    for (std::int32_t i = 0; i < def.IndexCount(); ++i) {
        const TUdbIndexDef x = def.GetIndexDef(i);
        if (!out.empty()) out += ", ";
        out += std::string(x.Primary ? "PK " : x.Unique ? "UNIQUE " : "") + x.Fields;
    }
    return out;
}

std::vector<std::string> RelationNames(IUdb& db)
{
    std::vector<std::string> names;
    const rtl::RefPtr<IUdbCursor> cursor = db.GetSchemaInfo(uskRelations);
    for (; !cursor->Eof(); cursor->Next()) names.push_back(cursor->AsString(Variant("NAME"), ""));
    return names;
}

bool HasTemporaryCopy(IUdb& db)
{
    for (const std::string& name : RelationNames(db))
        if (name.find("_TMP") != std::string::npos) return true;
    return false;
}

// ---- creating and reading -------------------------------------------------------------

using SqliteTableDefs = SqliteFixture;

TEST_F(SqliteTableDefs, CreatedTableReadsBackWithTypesSizesRequiredAndIndexes)
{
    const std::vector<TUdbFieldDef> fields = {
        {"ID", udtInteger, -1, true},      {"NAME", udtString, 40, true},  {"LEN", udtFloat, -1, false},
        {"FLAG", udtBoolean, -1, false},   {"PRICE", udtCurrency, -1, false}, {"BUILT", udtDateTime, -1, false},
        {"OPENED", udtDate, -1, false},    {"AT", udtTime, -1, false},     {"NOTE", udtMemo, -1, false},
        {"SHAPE", udtBinary, -1, false},   {"PHOTO", udtPicture, -1, false}, {"PLAN", udtDocument, -1, false},
        {"KIND", udtString, 8, false},
    };
    const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("");
    def->SetTableName("ROADS");
    for (const TUdbFieldDef& f : fields) def->AddField(f);
    def->AddIndex({"", "ID", true, false});
    def->AddIndex({"", "NAME", false, true});
    def->AddIndex({"", "KIND;LEN", false, false});
    def->Apply();
    EXPECT_FALSE(def->IsModified());

    const rtl::RefPtr<IUdbTableDef> read = db->GetTableDef("ROADS");
    ASSERT_EQ(read->FieldCount(), std::int32_t(fields.size()));
    for (std::size_t i = 0; i < fields.size(); ++i) {
        SCOPED_TRACE(fields[i].Name);
        EXPECT_EQ(read->GetFieldDef(std::int32_t(i)), fields[i]);
    }
    ASSERT_EQ(read->IndexCount(), 3);
    EXPECT_EQ(read->GetIndexDef(0), (TUdbIndexDef{"ROADS_PK", "ID", true, true}));
    // The layer gives new indexes no name: the driver numbers them.
    EXPECT_EQ(read->GetIndexDef(1), (TUdbIndexDef{"ROADS_I0", "NAME", false, true}));
    EXPECT_EQ(read->GetIndexDef(2), (TUdbIndexDef{"ROADS_I1", "KIND;LEN", false, false}));
}

TEST_F(SqliteTableDefs, DdlTextAsWrittenToSqlite)
{
    const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("");
    def->SetTableName("X");
    def->AddField({"A", udtInteger, -1, true});
    def->AddField({"B", udtString, 10, false});
    def->AddIndex({"", "B;A", true, false});
    def->AddIndex({"", "B", false, true});
    def->Apply();
    EXPECT_EQ(Scalar(*db, "SELECT [sql] FROM [sqlite_master] WHERE [name]='X'"),
              "CREATE TABLE \"X\" (\"A\" INT NOT NULL, \"B\" VARCHAR(10), PRIMARY KEY (\"B\",\"A\"))");
    EXPECT_EQ(Scalar(*db, "SELECT [sql] FROM [sqlite_master] WHERE [name]='X_I0'"),
              "CREATE UNIQUE INDEX \"X_I0\" ON \"X\" (\"B\")");
    // The key is a real key: a duplicate is refused.
    const rtl::RefPtr<IUdbSQLCommand> insert = PrepareInsert(*db, "X", {UdbIntParam("A"), UdbStrParam("B")}, true);
    insert->Execute({Variant(std::int32_t(1)), Variant("b")});
    EXPECT_NE(UdbErrorOf([&] { insert->Execute({Variant(std::int32_t(1)), Variant("b")}); }).find("UNIQUE constraint"),
              std::string::npos);
    // A single Integer key is no rowid alias: Null is refused, not numbered.
    const rtl::RefPtr<IUdbTableDef> y = db->GetTableDef("");
    y->SetTableName("Y");
    y->AddField({"K", udtInteger, -1, false});
    y->AddIndex({"", "K", true, true});
    y->Apply();
    PrepareInsert(*db, "Y", {UdbIntParam("K")}, true)->Execute({Variant::Null()});
    EXPECT_EQ(Scalar(*db, "SELECT [K] FROM [Y]"), "<null>");
}

TEST_F(SqliteTableDefs, NamesFromDataAreQuotedInDdl)
{
    const std::string table = "Q\"1 [x]";
    const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("");
    def->SetTableName(table);
    def->AddField({"a\"b", udtInteger, -1, true});
    def->AddField({"[c] 'x'", udtString, 5, false});
    def->AddIndex({"", "a\"b", true, false});
    def->AddIndex({"", "[c] 'x'", false, false});
    def->Apply();
    EXPECT_TRUE(db->TableExists(table));
    const rtl::RefPtr<IUdbTableDef> read = db->GetTableDef(table);
    EXPECT_EQ(DescribeFields(*read), "a\"b Integer NOT NULL, [c] 'x' String(5)");
    EXPECT_EQ(DescribeIndexes(*read), "PK a\"b, [c] 'x'");
    EXPECT_EQ(read->GetIndexDef(1).Name, "Q\"1 [x]_I0");
    db->DropTable(table);
    EXPECT_FALSE(db->TableExists(table));
}

TEST_F(SqliteTableDefs, TablesWrittenByHandReadBack)
{
    Exec(*db, "CREATE TABLE R (A INTEGER PRIMARY KEY, B varchar(12) NOT NULL, C TEXT, D, E DOUBLE PRECISION, "
              "UNIQUE (C))");
    Exec(*db, "CREATE INDEX R_EB ON R (E, B)");
    Exec(*db, "CREATE INDEX R_EXPR ON R (B || C)");
    Exec(*db, "CREATE TABLE R2 (X INT, Y INT NOT NULL, PRIMARY KEY (Y, X))");
    struct Case {
        const char* table;
        const char* fields;
        const char* indexes;
    };
    const Case cases[] = {
        // The expression index has no field list and is left out.
        {"R", "A Integer, B String(12) NOT NULL, C Memo, D ?, E Float", "PK A, UNIQUE C, E;B"},
        {"R2", "X Integer, Y Integer NOT NULL", "PK Y;X"},
        {"r2", "X Integer, Y Integer NOT NULL", "PK Y;X"},
        {"MISSING", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.table);
        const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef(c.table);
        EXPECT_EQ(def->GetTableName(), c.table);
        EXPECT_EQ(DescribeFields(*def), c.fields);
        EXPECT_EQ(DescribeIndexes(*def), c.indexes);
    }
    EXPECT_EQ(db->GetTableDef("R")->GetIndexDef(1).Name, "sqlite_autoindex_R_1");
}

TEST_F(SqliteTableDefs, IndexNamesStayUniqueInTheDatabase)
{
    // SQLite index names are shared by all tables: a generated name skips one that is taken.
    Exec(*db, "CREATE TABLE A (F INT, G INT, UNIQUE (G))");
    Exec(*db, "CREATE INDEX B_I0 ON A (F)");
    const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("");
    def->SetTableName("B");
    def->AddField({"F", udtInteger, -1, false});
    def->AddIndex({"", "F", false, false});
    def->Apply();
    EXPECT_EQ(db->GetTableDef("B")->GetIndexDef(0).Name, "B_I1");

    // A rebuild keeps the names read, except SQLite's own names, which it may not write.
    const rtl::RefPtr<IUdbTableDef> a = db->GetTableDef("A");
    ASSERT_EQ(a->IndexCount(), 2);
    EXPECT_EQ(a->GetIndexDef(0).Name, "sqlite_autoindex_A_1");
    a->AddField({"H", udtString, 3, false});
    a->Apply();
    EXPECT_EQ(a->GetIndexDef(0), (TUdbIndexDef{"A_I0", "G", false, true}));
    EXPECT_EQ(a->GetIndexDef(1), (TUdbIndexDef{"B_I0", "F", false, false}));
}

TEST_F(SqliteTableDefs, FailedCreationLeavesNoTable)
{
    const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("");
    def->SetTableName("NEW");
    def->AddField({"F", udtInteger, -1, false});
    def->AddIndex({"", "F", false, true});
    db->FailStatementsContaining("CREATE UNIQUE INDEX");
    EXPECT_NE(UdbErrorOf([&] { def->Apply(); }).find("Injected failure"), std::string::npos);
    db->ClearFaults();
    EXPECT_FALSE(db->TableExists("NEW"));
    EXPECT_FALSE(db->InTransaction());
    EXPECT_NE(UdbErrorOf([&] {
                  const rtl::RefPtr<IUdbTableDef> empty = db->GetTableDef("");
                  empty->SetTableName("EMPTY");
                  empty->AddIndex({"", "F", false, false});
                  empty->Apply();
              }).find("has no fields"),
              std::string::npos);
}

// ---- altering -----------------------------------------------------------------------

// ROADS (ID key, NAME indexed, LEN) with three rows.
void CreateRoads(IUdb& db)
{
    const rtl::RefPtr<IUdbTableDef> def = db.GetTableDef("");
    def->SetTableName("ROADS");
    def->AddField({"ID", udtInteger, -1, true});
    def->AddField({"NAME", udtString, 10, false});
    def->AddField({"LEN", udtFloat, -1, false});
    def->AddIndex({"", "ID", true, true});
    def->AddIndex({"ROADS_NAME", "NAME", false, false});
    def->Apply();
    const rtl::RefPtr<IUdbSQLCommand> insert =
        PrepareInsert(db, "ROADS", {UdbIntParam("ID"), UdbStrParam("NAME"), {"LEN", udtFloat}}, true);
    insert->Execute({Variant(std::int32_t(1)), Variant("Первая"), Variant(1.25)});
    insert->Execute({Variant(std::int32_t(2)), Variant("Вторая"), Variant(2.5)});
    insert->Execute({Variant(std::int32_t(3)), Variant::Null(), Variant(3.75)});
}

class SqliteAlter : public SqliteFixture {
protected:
    SqliteAlter() { CreateRoads(*db); }

    static constexpr const char* kFields = "ID Integer NOT NULL, NAME String(10), LEN Float";
    static constexpr const char* kIndexes = "PK ID, NAME";
};

TEST_F(SqliteAlter, EditsRebuildTheTableAndKeepTheRows)
{
    struct Case {
        const char* name;
        std::function<void(IUdbTableDef&)> edit;
        const char* table;
        const char* fields;
        const char* indexes;
        const char* column; // read for the row with ID 2
        const char* value;
    };
    const Case cases[] = {
        {"AddField", [](IUdbTableDef& d) { d.AddField({"WIDTH", udtInteger, -1, false}); }, "ROADS",
         "ID Integer NOT NULL, NAME String(10), LEN Float, WIDTH Integer", kIndexes, "WIDTH", "<null>"},
        {"RenameFieldAlsoInIndexes", [](IUdbTableDef& d) { d.SetFieldDef(1, {"TITLE", udtString, 10, false}, true); },
         "ROADS", "ID Integer NOT NULL, TITLE String(10), LEN Float", "PK ID, TITLE", "TITLE", "Вторая"},
        {"DeleteFieldWithItsIndex", [](IUdbTableDef& d) { d.DeleteField(1, true); }, "ROADS",
         "ID Integer NOT NULL, LEN Float", "PK ID", "LEN", "2.5"},
        {"GrowString", [](IUdbTableDef& d) { d.SetFieldDef(1, {"NAME", udtString, 20, false}, false); }, "ROADS",
         "ID Integer NOT NULL, NAME String(20), LEN Float", kIndexes, "NAME", "Вторая"},
        {"MoveField", [](IUdbTableDef& d) { d.MoveField(2, 0); }, "ROADS",
         "LEN Float, ID Integer NOT NULL, NAME String(10)", kIndexes, "LEN", "2.5"},
        {"FloatBecomesString", [](IUdbTableDef& d) { d.SetFieldDef(2, {"LEN", udtString, 8, false}, false); },
         "ROADS", "ID Integer NOT NULL, NAME String(10), LEN String(8)", kIndexes, "LEN", "2.5"},
        {"RenameTable", [](IUdbTableDef& d) { d.SetTableName("STREETS"); }, "STREETS", kFields, kIndexes, "NAME",
         "Вторая"},
        {"RenameTableOnlyInLetterCase", [](IUdbTableDef& d) { d.SetTableName("roads"); }, "roads", kFields,
         kIndexes, "NAME", "Вторая"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Each case starts from a table of its own.
        const rtl::RefPtr<TSqliteUdb> fresh = OpenSqliteUdb(folder.File(std::string(c.name) + ".db"));
        CreateRoads(*fresh);
        const rtl::RefPtr<IUdbTableDef> def = fresh->GetTableDef("ROADS");
        c.edit(*def);
        def->Apply();
        EXPECT_EQ(def->GetTableName(), c.table);
        const rtl::RefPtr<IUdbTableDef> read = fresh->GetTableDef(c.table);
        EXPECT_EQ(DescribeFields(*read), c.fields);
        EXPECT_EQ(DescribeIndexes(*read), c.indexes);
        EXPECT_EQ(RowCount(*fresh, c.table), 3);
        EXPECT_EQ(Scalar(*fresh, std::string("SELECT [") + c.column + "] FROM [" + c.table + "] WHERE [ID]=2"),
                  c.value);
        EXPECT_FALSE(HasTemporaryCopy(*fresh));
        const std::vector<std::string> names = RelationNames(*fresh);
        EXPECT_EQ(names, std::vector<std::string>{c.table});
    }
}

TEST_F(SqliteAlter, FailedRebuildLeavesTheTableAsItWas)
{
    // Every step of the rebuild in turn.
    const char* const steps[] = {"CREATE TABLE", "INSERT INTO", "DROP TABLE", "ALTER TABLE", "CREATE INDEX"};
    for (const char* step : steps) {
        SCOPED_TRACE(step);
        const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("ROADS");
        def->AddField({"WIDTH", udtInteger, -1, false});
        db->FailStatementsContaining(step);
        const std::string message = UdbErrorOf([&] { def->Apply(); });
        db->ClearFaults();
        EXPECT_NE(message.find(step), std::string::npos) << message;
        EXPECT_NE(message.find("Injected failure"), std::string::npos) << message;
        EXPECT_FALSE(db->InTransaction());
        EXPECT_EQ(def->FieldCount(), 4); // the edit stays for another try
        const rtl::RefPtr<IUdbTableDef> read = db->GetTableDef("ROADS");
        EXPECT_EQ(DescribeFields(*read), kFields);
        EXPECT_EQ(DescribeIndexes(*read), kIndexes);
        EXPECT_EQ(Scalar(*db, "SELECT [NAME] FROM [ROADS] WHERE [ID]=1"), "Первая");
        EXPECT_EQ(RelationNames(*db), std::vector<std::string>{"ROADS"});
    }
}

TEST_F(SqliteAlter, UnchangedDefinitionTouchesNothing)
{
    db->FailStatement(1);
    const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("ROADS");
    EXPECT_NO_THROW(def->Apply());
    db->ClearFaults();
}

// ---- existence and removal ------------------------------------------------------------

TEST_F(SqliteFixture, TableExistsAndDropTable)
{
    Exec(*db, "CREATE TABLE [T] ([ID] INT)");
    Exec(*db, "CREATE VIEW [V] AS SELECT * FROM [T]");
    struct Case {
        const char* name;
        bool exists;
    };
    const Case cases[] = {{"T", true}, {"t", true}, {"V", true}, {"NOPE", false}, {"", false}, {"T'", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(db->TableExists(c.name), c.exists);
    }
    EXPECT_EQ(UdbErrorOf([&] { db->DropTable("NOPE"); }),
              "Запрос \"DROP TABLE \"NOPE\"\". SQLite: no such table: NOPE");
    Exec(*db, "DROP VIEW [V]");
    db->DropTable("t");
    EXPECT_FALSE(db->TableExists("T"));
}

// ---- schema information -----------------------------------------------------------------

TEST_F(SqliteFixture, RelationsListTablesAndViews)
{
    Exec(*db, "CREATE TABLE [B] ([ID] INT)");
    Exec(*db, "CREATE TABLE [a] ([ID] INT)");
    Exec(*db, "CREATE VIEW [C] AS SELECT * FROM [B]");
    const rtl::RefPtr<IUdbCursor> cursor = db->GetSchemaInfo(uskRelations);
    std::vector<std::string> rows;
    for (; !cursor->Eof(); cursor->Next())
        rows.push_back(cursor->AsString(Variant("NAME"), "") + (cursor->AsBoolean(Variant("SYSTEM"), true) ? " S" : "") +
                       " " + rtl::IntToStr(cursor->AsInteger(Variant("OBJTYPE"), -1)));
    EXPECT_EQ(rows, (std::vector<std::string>{"a 0", "B 0", "C 1"}));
}

TEST_F(SqliteFixture, LiteralInfoGivesNameLengths)
{
    const rtl::RefPtr<IUdbCursor> cursor = db->GetSchemaInfo(uskLiteralInfo);
    std::map<std::int32_t, std::int32_t> lengths;
    for (; !cursor->Eof(); cursor->Next())
        lengths[cursor->AsInteger(Variant("LITERALTYPE"), -1)] = cursor->AsInteger(Variant("MAXNAMELEN"), -1);
    EXPECT_EQ(lengths, (std::map<std::int32_t, std::int32_t>{{0, 64}, {1, 64}, {2, 64}}));
    // The layer derives free table names from it.
    Exec(*db, "CREATE TABLE [ROADS_TMP0] ([ID] INT)");
    EXPECT_EQ(MakeUniqueTableName(*db, "ROADS", "_TMP"), "ROADS_TMP1");
}

TEST_F(SqliteFixture, ReservedWordsAreSqlitesKeywords)
{
    const rtl::RefPtr<IUdbCursor> cursor = db->GetSchemaInfo(uskReservedWords);
    std::vector<std::string> words;
    for (; !cursor->Eof(); cursor->Next()) words.push_back(cursor->AsString(Variant("RESERVEDWORD"), ""));
    for (const char* word : {"SELECT", "TABLE", "WHERE", "TRANSACTION"}) {
        SCOPED_TRACE(word);
        EXPECT_TRUE(std::binary_search(words.begin(), words.end(), std::string(word)));
    }
}

TEST_F(SqliteFixture, DataTypesInfoNamesADeclarationPerType)
{
    const rtl::RefPtr<IUdbCursor> cursor = db->GetSchemaInfo(uskDataTypesInfo);
    std::vector<TUdbDataType> types;
    for (; !cursor->Eof(); cursor->Next()) {
        const auto type = static_cast<TUdbDataType>(cursor->AsInteger(Variant("UDBTYPE"), 0));
        types.push_back(type);
        EXPECT_EQ(SqliteParseColumnType(cursor->AsString(Variant("TYPENAME"), "")).DataType, type);
        EXPECT_TRUE(cursor->IsNull(Variant("SIZE")));
    }
    ASSERT_EQ(types.size(), UdbDataTypes.size());
    for (std::size_t i = 0; i < types.size(); ++i) EXPECT_EQ(types[i], UdbDataTypes[i].DataType);
    EXPECT_EQ(UdbErrorOf([&] { db->GetSchemaInfo(4); }), UdbMsg::CapabilityNotSupported);
}

} // namespace
