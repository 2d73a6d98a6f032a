// Tests of the Oracle driver. No Oracle server can run here, so the driver
// runs over the recording ADO implementation (tests/support/AdoRecording.h)
// and is checked on what it sends: the connection, the types and their
// reading back, the schema name, the data-types answer, the primary key
// completed from the primary-keys rowset, the quoting and parameters of
// statements, index names, table creation and every path of a structure
// change with a failure injected at each of its statements and the undo steps
// that follow. Opening without a registered Oracle ODBC driver runs for real.
#include "UdbProject/UdbOracle/OracleUdbs.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "CoreLib/SimpleXML.h"
#include "UdbProject/UdbDrivers.h"
#include "platform/ado/OdbcConnection.h"
#include "platform/rtl/Cp1251.h"
#include "platform/rtl/NumText.h"
#include "tests/UdbProject/AdoDriverTestSupport.h"
#include "tests/UdbProject/FakeDriver.h"
#include "tests/support/AdoRecording.h"

namespace {

using adodrv::Join;
using adodrv::Texts;
using adorec::TRecorder;
using fake::Raised;
using testing::HasSubstr;

std::vector<std::string> LinesStartingWith(const std::vector<std::string>& lines, const std::string& prefix)
{
    std::vector<std::string> out;
    for (const std::string& line : lines)
        if (line.starts_with(prefix)) out.push_back(line);
    return out;
}

constexpr const char* kDriver = "ADO.ORACLE";

std::string ParamsXml(const std::vector<std::pair<std::string, std::string>>& params)
{
    return adodrv::ParamsXml(kDriver, params);
}

const std::vector<std::pair<std::string, std::string>> kLogin = {
    {"service-name", "ORCL"}, {"login-name", "velmo"}, {"login-password", "secret"}};

// The environment variable that names the Oracle ODBC driver, unset for a
// test and put back afterwards.
class TNoDriverVariable {
public:
    TNoDriverVariable()
    {
        if (const char* value = std::getenv(ado::odbc::OracleDriverVariable)) saved_ = value;
        unsetenv(ado::odbc::OracleDriverVariable);
    }
    ~TNoDriverVariable()
    {
        if (saved_) setenv(ado::odbc::OracleDriverVariable, saved_->c_str(), 1);
        else unsetenv(ado::odbc::OracleDriverVariable);
    }
    TNoDriverVariable(const TNoDriverVariable&) = delete;
    TNoDriverVariable& operator=(const TNoDriverVariable&) = delete;

private:
    std::optional<std::string> saved_;
};

adorec::TColumn Number(const char* name, std::int32_t precision, std::int32_t scale, bool nullable = true)
{
    return {name, ado::adNumeric, 0, precision, scale, nullable, false};
}

adorec::TColumn VarChar(const char* name, std::int32_t length) { return {name, ado::adVarChar, length, 0, 0, true, false}; }

// Roads in schema VELMO: ID NUMBER(10,0) NOT NULL, NAME VARCHAR2(40), FLAG
// NUMBER(1,0), NOTE VARCHAR2(20); the key's index SYS_C001 (ID), which the
// provider does not mark primary, Roads_IND00 (NAME), Roads_IND01 unique
// (NAME, NOTE).
adorec::TTable RoadsTable()
{
    adorec::TTable t;
    t.Schema = "VELMO";
    t.Name = "Roads";
    t.Columns = {Number("ID", 10, 0, false), VarChar("NAME", 40), Number("FLAG", 1, 0), VarChar("NOTE", 20)};
    t.Indexes = {{"SYS_C001", {"ID"}, false, true},
                 {"Roads_IND00", {"NAME"}, false, false},
                 {"Roads_IND01", {"NAME", "NOTE"}, false, true}};
    t.PrimaryKey = {"ID"};
    return t;
}

void Script(TRecorder& rec)
{
    rec.Catalog().Tables.push_back(RoadsTable());
    rec.Catalog().MaxNameLength = 30;
    rec.Reply("SELECT USER FROM DUAL", {{"USER"}, {{rtl::Variant("VELMO")}}});
}

rtl::RefPtr<IUdb> OpenOracle(const std::vector<std::pair<std::string, std::string>>& params = kLogin)
{
    return adodrv::OpenDb(kDriver, params);
}

class OracleDriverTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterBuiltInDrivers(); }
    void SetUp() override { Script(rec); }

    TNoDriverVariable noVariable;
    TRecorder rec;
};

// ---- connection ---------------------------------------------------------------------------

TEST_F(OracleDriverTest, OpeningSetsTheProviderAndItsPropertiesThenConnects)
{
    const rtl::RefPtr<IUdb> db = OpenOracle({{"service-name", "ORCL"}, {"login-name", "velmo"},
                                             {"login-password", "secret"}, {"command-timeout", "90"}});
    EXPECT_TRUE(db->IsOpen());
    EXPECT_EQ(Join(rec.Transcript()),
              Join({"Connection.CommandTimeout := 90", "Connection.ConnectionTimeout := 15",
                    "Connection.Provider := 'OraOLEDB.Oracle'", "Connection.Properties['Data Source'].Value := 'ORCL'",
                    "Connection.Properties['User ID'].Value := 'velmo'",
                    "Connection.Properties['Password'].Value := 'secret'",
                    "Connection.Properties['Persist Security Info'].Value := True", "Connection.Open('', '', '', -1)"}));
}

TEST_F(OracleDriverTest, TheConnectionStringNamesTheOracleDriverTheUserChose)
{
    OpenOracle();
    EXPECT_EQ(rec.ConnectionString(), "DRIVER={Oracle};DBQ=ORCL;UID=velmo;PWD=secret");
    OpenOracle({{"service-name", "//gis:1521/ВЕЛМО"}, {"login-name", "Картограф"}, {"login-password", "a;b}"}});
    EXPECT_EQ(rec.ConnectionString(), "DRIVER={Oracle};DBQ=//gis:1521/ВЕЛМО;UID=Картограф;PWD={a;b}}}");
    setenv(ado::odbc::OracleDriverVariable, "Oracle 21 ODBC driver", 1);
    OpenOracle();
    EXPECT_EQ(rec.ConnectionString(), "DRIVER={Oracle 21 ODBC driver};DBQ=ORCL;UID=velmo;PWD=secret");
}

TEST_F(OracleDriverTest, TheSchemaIsTheUserReadOncePerConnection)
{
    const rtl::RefPtr<IUdb> db = OpenOracle();
    rec.Clear();
    EXPECT_TRUE(db->TableExists("Roads"));
    EXPECT_FALSE(db->TableExists("ROADS")) << "names are compared by the server, here exactly";
    EXPECT_EQ(Join(rec.Transcript()), Join({"Connection.Execute(-1): SELECT USER FROM DUAL",
                                            "Connection.OpenSchema(adSchemaTables, [Empty, 'VELMO', 'Roads', Empty])",
                                            "Connection.OpenSchema(adSchemaTables, [Empty, 'VELMO', 'ROADS', Empty])"}));
    db->Close();
    db->Open(ParamsXml(kLogin));
    rec.Clear();
    (void)db->TableExists("Roads");
    EXPECT_EQ(rec.Transcript().front(), "Connection.Execute(-1): SELECT USER FROM DUAL");
    auto& oracle = dynamic_cast<TOracleDb&>(*db);
    db->Close();
    EXPECT_EQ(Raised([&] { oracle.GetSchemaName(); }), "Exception: Can't get schema name: database close");
}

TEST_F(OracleDriverTest, DroppingATableRunsOnTheConnectionWithAQuotedName)
{
    const rtl::RefPtr<IUdb> db = OpenOracle();
    rec.Clear();
    db->DropTable("Roads");
    EXPECT_EQ(Join(rec.Transcript()), "Connection.Execute(adCmdText+adExecuteNoRecords): drop table \"Roads\"\n");
    EXPECT_THAT(Raised([&] { db->DropTable("Ro\"ads"); }), HasSubstr("Недопустимое имя"));
}

TEST_F(OracleDriverTest, TheDriverAnswersNoLookupRequest)
{
    std::string response;
    EXPECT_EQ(Raised([&] {
                  XMLRequest(response, "<query-lookup-values driver-name=\"ADO.ORACLE\" param-name=\"service-name\"/>");
              }),
              "Exception: Unknown request \"query-lookup-values\"");
}

// ---- types --------------------------------------------------------------------------------

TEST_F(OracleDriverTest, TypeNamesGoByBaseType)
{
    const rtl::RefPtr<IUdb> db = OpenOracle();
    auto& oracle = dynamic_cast<TOracleDb&>(*db);
    const std::pair<TUdbDataType, const char*> cases[] = {
        {udtBoolean, "NUMBER(1,0)"}, {udtInteger, "NUMBER(10,0)"}, {udtFloat, "NUMBER"},  {udtCurrency, "NUMBER(20,4)"},
        {udtDateTime, "DATE"},       {udtDate, "DATE"},            {udtTime, "DATE"},     {udtString, "VARCHAR2"},
        {udtMemo, "CLOB"},           {udtBinary, "BLOB"},          {udtPicture, "BLOB"},  {udtDocument, "BLOB"},
        {0x0900, ""},                {0, ""},
    };
    for (const auto& [code, name] : cases) EXPECT_EQ(oracle.DataTypeToSQL(code), name) << code;
}

TEST_F(OracleDriverTest, NumbersReadBackAsTheTypesTheyWereMadeFor)
{
    const rtl::RefPtr<IUdb> db = OpenOracle();
    auto& oracle = dynamic_cast<TOracleDb&>(*db);
    const struct {
        const char* what;
        std::int32_t type, precision, scale;
        TUdbDataType expected;
    } cases[] = {
        {"numeric 1,0", ado::adNumeric, 1, 0, udtBoolean},    {"decimal 1,0", ado::adDecimal, 1, 0, udtBoolean},
        {"varnumeric 1,0", ado::adVarNumeric, 1, 0, udtBoolean}, {"numeric 10,0", ado::adNumeric, 10, 0, udtInteger},
        {"numeric 20,4", ado::adNumeric, 20, 4, udtCurrency}, {"numeric 38,0", ado::adNumeric, 38, 0, udtFloat},
        {"numeric 1,1", ado::adNumeric, 1, 1, udtFloat},      {"integer of precision 1", ado::adInteger, 1, 0, udtInteger},
        {"double 1,0", ado::adDouble, 1, 0, udtFloat},
    };
    for (const auto& c : cases) EXPECT_EQ(oracle.AdoTypeToDataType("", c.type, false, c.precision, c.scale), c.expected) << c.what;

    // A table's columns read through the same map.
    const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("Roads");
    EXPECT_EQ(def->GetFieldDef(0), (TUdbFieldDef{"ID", udtInteger, 0, true}));
    EXPECT_EQ(def->GetFieldDef(2), (TUdbFieldDef{"FLAG", udtBoolean, 0, false}));
}

TEST_F(OracleDriverTest, DataTypesAreAFixedListWithTheProvidersSizes)
{
    rec.Catalog().ProviderTypes = {
        {"VARCHAR2", ado::adVarChar, rtl::Variant(std::int32_t(4000))},
        {"NUMBER", ado::adNumeric, rtl::Variant(std::int32_t(38)), rtl::Variant(std::int32_t(-84)),
         rtl::Variant(std::int32_t(127))},
        {"blob", ado::adLongVarBinary, rtl::Variant(std::int32_t(2147483647)), rtl::Variant(std::int32_t(0)),
         rtl::Variant(std::int32_t(0)), true},
    };
    const rtl::RefPtr<IUdb> db = OpenOracle();
    const rtl::RefPtr<IUdbCursor> types = db->GetSchemaInfo(uskDataTypesInfo);
    std::vector<std::string> rows;
    const auto cell = [&](const char* column) {
        const rtl::Variant field(column);
        return types->IsNull(field) ? std::string("Null") : types->AsString(field, "");
    };
    for (; !types->Eof(); types->Next())
        rows.push_back(rtl::IntToHex(std::int32_t(types->AsInteger(rtl::Variant("UDBTYPE"), 0)), 4) + " " +
                       cell("TYPENAME") + " " + cell("SIZE") + " " + cell("MINSCALE") + " " + cell("MAXSCALE"));
    EXPECT_EQ(Join(rows), Join({"0100 NUMBER(1,0) Null Null Null", "0200 NUMBER(10,0) Null Null Null",
                                "0300 NUMBER Null Null Null", "0400 NUMBER(20,4) Null Null Null",
                                "0500 DATE Null Null Null", "0600 VARCHAR2 4000 Null Null",
                                "0700 CLOB Null Null Null", "0800 BLOB 2147483647 0 0"}))
        << "the provider lists no CLOB; names are matched ignoring case";
    // The other kinds are the base's.
    rec.Clear();
    (void)db->GetSchemaInfo(uskRelations);
    EXPECT_EQ(rec.Transcript().back(), "Connection.OpenSchema(adSchemaTables, [Empty, 'VELMO', Empty, Empty])");
}

// ---- the primary key ----------------------------------------------------------------------

TEST_F(OracleDriverTest, ThePrimaryKeyIsCompletedFromTheKeysRowset)
{
    struct Case {
        const char* what;
        std::vector<adorec::TIndex> indexes;
        std::vector<std::string> key;
        const char* primary; // nullptr: none
        bool keyAsked;
    };
    const Case cases[] = {
        {"the index of exactly the key's columns, though a wider one comes first",
         {{"WIDE", {"ID", "NAME"}, false, false}, {"SYS_C001", {"ID"}, false, true}}, {"ID"}, "SYS_C001", true},
        {"a key of two columns listed in the other order",
         {{"IX", {"NAME"}, false, false}, {"SYS_C002", {"NAME", "ID"}, false, true}}, {"ID", "NAME"}, "SYS_C002", true},
        {"without such an index, the first that holds the key",
         {{"IX", {"NAME"}, false, false}, {"WIDE", {"NAME", "ID"}, false, false}}, {"ID"}, "WIDE", true},
        {"no index holds the key", {{"IX", {"NAME"}, false, false}}, {"ID"}, nullptr, true},
        {"no key", {{"IX", {"NAME"}, false, false}}, {}, nullptr, true},
        {"the provider marks it", {{"PK", {"ID"}, true, true}, {"IX", {"ID"}, false, false}}, {"ID"}, "PK", false},
        {"no indexes", {}, {"ID"}, nullptr, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TRecorder own;
        Script(own);
        own.Catalog().Tables[0].Indexes = c.indexes;
        own.Catalog().Tables[0].PrimaryKey = c.key;
        const rtl::RefPtr<IUdb> db = OpenOracle();
        own.Clear();
        const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("Roads");
        std::vector<std::string> primaries;
        for (int i = 0; i < def->IndexCount(); ++i)
            if (def->GetIndexDef(i).Primary) primaries.push_back(def->GetIndexDef(i).Name);
        EXPECT_EQ(primaries, c.primary ? std::vector<std::string>{c.primary} : std::vector<std::string>{});
        const std::vector<std::string> asked =
            LinesStartingWith(own.Transcript(), "Connection.OpenSchema(adSchemaPrimaryKeys");
        EXPECT_EQ(Join(asked),
                  c.keyAsked ? "Connection.OpenSchema(adSchemaPrimaryKeys, [Empty, 'VELMO', 'Roads'])\n" : "");
    }
}

// ---- statements ---------------------------------------------------------------------------

TEST_F(OracleDriverTest, BracketsOutsideLiteralsAreSentAsDoubleQuotes)
{
    const rtl::RefPtr<IUdb> db = OpenOracle();
    const TUdbDataType types[] = {udtString};
    const rtl::RefPtr<IUdbSQLCommand> command =
        db->CreateCommand("SELECT [T].[A] FROM [T] WHERE ([T].[B]=?) AND [T].[C]<>'x[1]'", types, 1, true);
    rec.Clear();
    command->Execute({rtl::Variant("b")});
    EXPECT_EQ(rec.Transcript().back(),
              "Command.Execute(adCmdText): SELECT \"T\".\"A\" FROM \"T\" WHERE (\"T\".\"B\"=?) AND \"T\".\"C\"<>'x[1]' "
              "with ('b')");
}

TEST_F(OracleDriverTest, ParametersAreAdjustedByTheirFullCode)
{
    const rtl::RefPtr<IUdb> db = OpenOracle();
    const TUdbDataType types[] = {udtBoolean, udtInteger, udtFloat,  udtCurrency, udtDateTime, udtDate,
                                  udtTime,    udtString,  udtMemo,   udtBinary,   udtPicture,  udtDocument};
    rec.Clear();
    (void)db->CreateCommand("INSERT INTO [T] VALUES(?,?,?,?,?,?,?,?,?,?,?,?)", types, 12, true);
    const std::vector<std::string> transcript = rec.Transcript();
    const auto quoted = std::find(transcript.begin(), transcript.end(),
                                  "Command.CommandText := 'INSERT INTO \"T\" VALUES(?,?,?,?,?,?,?,?,?,?,?,?)'");
    ASSERT_NE(quoted, transcript.end());
    EXPECT_EQ(Join(std::vector<std::string>(quoted + 1, transcript.end())),
              Join({"Parameter#0.Type := adInteger", "Parameter#0.Attributes := adParamSigned+adParamNullable",
                    "Parameter#0.Size := 0", "Parameter#1.Size := 0", "Parameter#2.Size := 0",
                    "Parameter#3.Type := adDouble", "Parameter#3.Attributes := adParamSigned+adParamNullable",
                    "Parameter#3.Size := 0", "Parameter#4.Size := 0", "Parameter#5.Size := -1", "Parameter#6.Size := -1",
                    "Parameter#7.Size := -1", "Parameter#8.Size := -1", "Parameter#9.Size := -1",
                    "Parameter#10.Size := -1", "Parameter#11.Size := -1"}));
}

// ---- index names --------------------------------------------------------------------------

TEST_F(OracleDriverTest, IndexNamesAreCutToThirtyCharactersAndCountInHexadecimal)
{
    const rtl::RefPtr<IUdb> db = OpenOracle();
    const rtl::RefPtr<IUdbTableDef> holder = db->GetTableDef("");
    auto& def = dynamic_cast<TOracleDbTableDef&>(*holder);
    EXPECT_EQ(def.MaxNameLength, 30);
    const std::string name29(29, 'A');
    const std::string cyrillic29 = "Дороги_и_улицы_города_Москвы_"; // 29 characters
    ASSERT_EQ(rtl::Utf8ToUtf32(cyrillic29).size(), 29u);
    EXPECT_EQ(def.MakeIndexName("Streets", nullptr, false), "Streets_IND00");
    EXPECT_EQ(def.MakeIndexName(std::string(24, 'B'), nullptr, false), std::string(24, 'B') + "_IND00");
    EXPECT_EQ(def.MakeIndexName(name29, nullptr, false), std::string(24, 'A') + "_IND00");
    EXPECT_EQ(def.MakeIndexName(cyrillic29, nullptr, false), "Дороги_и_улицы_города_Мо_IND00");

    std::vector<std::string> used;
    for (int n = 0; n < 256; ++n) used.push_back(std::string(24, 'a') + "_ind" + rtl::IntToHex(std::int32_t(n), 2));
    EXPECT_EQ(def.MakeIndexName(name29, &used, true), std::string(23, 'A') + "_IND100")
        << "names in the list count ignoring case";
    EXPECT_EQ(used.back(), std::string(23, 'A') + "_IND100");
    EXPECT_EQ(def.MakeIndexName("Roads", &used, true), "Roads_IND02") << "two names exist in the database";
    EXPECT_EQ(std::vector<std::string>(used.end() - 3, used.end()),
              (std::vector<std::string>{"Roads_IND00", "Roads_IND01", "Roads_IND02"}));
}

TEST_F(OracleDriverTest, CreatingATableNamesItsIndexesApartFromEveryIndexOfTheDatabase)
{
    adorec::TTable other;
    other.Schema = "GUEST";
    other.Name = "Trees";
    other.Indexes = {{"Streets_IND00", {"X"}, false, false}};
    rec.Catalog().Tables.push_back(other);
    const rtl::RefPtr<IUdb> db = OpenOracle();
    const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("");
    def->SetTableName("Streets");
    def->AddField({"ID", udtInteger, 0, true});
    def->AddField({"NAME", udtString, 50, false});
    def->AddField({"PAVED", udtBoolean, 0, false});
    def->AddField({"TOLL", udtCurrency, 0, false});
    def->AddField({"OPENED", udtDate, 0, false});
    def->AddField({"NOTES", udtMemo, 0, false});
    def->AddIndex({"", "ID", true, true});
    def->AddIndex({"", "NAME", false, false});
    def->AddIndex({"", "NAME;PAVED", false, true});
    rec.Clear();
    def->Apply();
    const std::vector<std::string> transcript = rec.Transcript();
    const std::vector<std::string> asked = LinesStartingWith(transcript, "Connection.OpenSchema(adSchemaIndexes, [Empty, Empty, '");
    EXPECT_EQ(Join(asked), Join({"Connection.OpenSchema(adSchemaIndexes, [Empty, Empty, 'Streets_IND00', Empty, Empty])",
                                 "Connection.OpenSchema(adSchemaIndexes, [Empty, Empty, 'Streets_IND01', Empty, Empty])",
                                 "Connection.OpenSchema(adSchemaIndexes, [Empty, Empty, 'Streets_IND02', Empty, Empty])"}))
        << "a name found or handed out is not asked for again";
    EXPECT_EQ(Join(Texts(LinesStartingWith(transcript, "Command.Execute("))),
              Join({"CREATE TABLE \"Streets\" (\"ID\" NUMBER(10,0) NOT NULL, \"NAME\" VARCHAR2(50), \"PAVED\" "
                    "NUMBER(1,0), \"TOLL\" NUMBER(20,4), \"OPENED\" DATE, \"NOTES\" CLOB, PRIMARY KEY (\"ID\"))",
                    "CREATE INDEX \"Streets_IND01\" ON \"Streets\" (\"NAME\")",
                    "CREATE UNIQUE INDEX \"Streets_IND02\" ON \"Streets\" (\"NAME\",\"PAVED\")"}));
}

// ---- changing tables ------------------------------------------------------------------------

struct TAlteration {
    const char* what;
    std::function<void(IUdbTableDef&)> edit;
    std::vector<std::string> statements;
    // For a failure at statement n, the statements that follow it.
    std::vector<std::vector<std::string>> undo;
};

const std::string kRoadsColumns =
    "\"ID\" NUMBER(10,0) NOT NULL, \"NAME\" VARCHAR2(40), \"FLAG\" NUMBER(1,0), \"NOTE\" VARCHAR2(20)";
const std::string kSavedBack = "ALTER TABLE \"Roads_SAVE0\" RENAME TO \"Roads\"";
const std::string kDropNewRoads = "conn: drop table \"Roads\"";
const std::string kDropNewStreets = "conn: drop table \"Streets\"";
const std::string kRenamedBack = "ALTER TABLE \"Streets\" RENAME TO \"Roads\"";

const std::vector<TAlteration>& Alterations()
{
    static const std::vector<TAlteration> alterations = {
        // In place: only the name and indexes change.
        {"an index added",
         [](IUdbTableDef& d) { d.AddIndex({"", "FLAG", false, false}); },
         {"CREATE INDEX \"Roads_IND04\" ON \"Roads\" (\"FLAG\")"},
         {{}}},
        {"an index made unique",
         [](IUdbTableDef& d) { d.SetIndexDef(1, {"Roads_IND00", "NAME", false, true}); },
         {"DROP INDEX \"Roads_IND00\"", "CREATE UNIQUE INDEX \"Roads_IND02\" ON \"Roads\" (\"NAME\")"},
         {{}, {}}},
        {"an index deleted", [](IUdbTableDef& d) { d.DeleteIndex(1); }, {"DROP INDEX \"Roads_IND00\""}, {{}}},
        {"an index replaced by one on the same column: the old one goes first",
         [](IUdbTableDef& d) {
             d.DeleteIndex(1);
             d.AddIndex({"", "NAME", false, true});
         },
         {"DROP INDEX \"Roads_IND00\"", "CREATE UNIQUE INDEX \"Roads_IND03\" ON \"Roads\" (\"NAME\")"},
         {{}, {}}},
        {"the primary key replaced: the old one goes first",
         [](IUdbTableDef& d) {
             d.DeleteIndex(0);
             d.AddIndex({"", "ID;NAME", true, true});
         },
         {"ALTER TABLE \"Roads\" DROP CONSTRAINT \"SYS_C001\"", "ALTER TABLE \"Roads\" ADD PRIMARY KEY (\"ID\",\"NAME\")"},
         {{}, {}}},
        {"the table renamed", [](IUdbTableDef& d) { d.SetTableName("Streets"); },
         {"ALTER TABLE \"Roads\" RENAME TO \"Streets\""},
         {{}}},
        {"the table renamed and an index changed",
         [](IUdbTableDef& d) {
             d.SetTableName("Streets");
             d.SetIndexDef(1, {"Roads_IND00", "NAME", false, true});
         },
         {"ALTER TABLE \"Roads\" RENAME TO \"Streets\"", "DROP INDEX \"Roads_IND00\"",
          "CREATE UNIQUE INDEX \"Streets_IND00\" ON \"Streets\" (\"NAME\")"},
         {{}, {kRenamedBack}, {kRenamedBack}}},
        // Rebuilt through a saved copy.
        {"a column added",
         [](IUdbTableDef& d) { d.AddField({"WIDTH", udtFloat, 0, false}); },
         {"ALTER TABLE \"Roads\" RENAME TO \"Roads_SAVE0\"",
          "CREATE TABLE \"Roads\" (" + kRoadsColumns + ", \"WIDTH\" NUMBER, PRIMARY KEY (\"ID\"))",
          "CREATE INDEX \"Roads_IND02\" ON \"Roads\" (\"NAME\")",
          "CREATE UNIQUE INDEX \"Roads_IND03\" ON \"Roads\" (\"NAME\",\"NOTE\")",
          "INSERT INTO \"Roads\" (\"ID\",\"NAME\",\"FLAG\",\"NOTE\") SELECT \"ID\",\"NAME\",\"FLAG\",\"NOTE\" FROM "
          "\"Roads_SAVE0\"",
          "conn: drop table \"Roads_SAVE0\""},
         {{}, {kSavedBack}, {kDropNewRoads, kSavedBack}, {kDropNewRoads, kSavedBack}, {kDropNewRoads, kSavedBack},
          {kDropNewRoads, kSavedBack}}},
        {"a column renamed and one deleted",
         [](IUdbTableDef& d) {
             d.SetFieldDef(1, {"TITLE", udtString, 60, false}, true);
             d.DeleteField(3, true);
         },
         {"ALTER TABLE \"Roads\" RENAME TO \"Roads_SAVE0\"",
          "CREATE TABLE \"Roads\" (\"ID\" NUMBER(10,0) NOT NULL, \"TITLE\" VARCHAR2(60), \"FLAG\" NUMBER(1,0), "
          "PRIMARY KEY (\"ID\"))",
          "CREATE INDEX \"Roads_IND02\" ON \"Roads\" (\"TITLE\")",
          "CREATE UNIQUE INDEX \"Roads_IND03\" ON \"Roads\" (\"TITLE\")",
          "INSERT INTO \"Roads\" (\"ID\",\"TITLE\",\"FLAG\") SELECT \"ID\",\"NAME\",\"FLAG\" FROM \"Roads_SAVE0\"",
          "conn: drop table \"Roads_SAVE0\""},
         {{}, {kSavedBack}, {kDropNewRoads, kSavedBack}, {kDropNewRoads, kSavedBack}, {kDropNewRoads, kSavedBack},
          {kDropNewRoads, kSavedBack}}},
        // Rebuilt under the new name.
        {"renamed with a rebuild",
         [](IUdbTableDef& d) {
             d.SetTableName("Streets");
             d.AddField({"WIDTH", udtFloat, 0, false});
         },
         {"CREATE TABLE \"Streets\" (" + kRoadsColumns + ", \"WIDTH\" NUMBER, PRIMARY KEY (\"ID\"))",
          "CREATE INDEX \"Streets_IND00\" ON \"Streets\" (\"NAME\")",
          "CREATE UNIQUE INDEX \"Streets_IND01\" ON \"Streets\" (\"NAME\",\"NOTE\")",
          "INSERT INTO \"Streets\" (\"ID\",\"NAME\",\"FLAG\",\"NOTE\") SELECT \"ID\",\"NAME\",\"FLAG\",\"NOTE\" FROM "
          "\"Roads\"",
          "conn: drop table \"Roads\""},
         {{}, {kDropNewStreets}, {kDropNewStreets}, {kDropNewStreets}, {kDropNewStreets}}},
    };
    return alterations;
}

class OracleAlterationTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterBuiltInDrivers(); }

    // The statements Apply sends after the edit, with the statements given failing.
    std::vector<std::string> Alter(const TAlteration& a, const std::vector<int>& failures, std::string& raised)
    {
        TRecorder rec;
        Script(rec);
        const rtl::RefPtr<IUdb> db = OpenOracle();
        const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("Roads");
        a.edit(*def);
        rec.Clear();
        for (const int n : failures) rec.FailStatement(n);
        raised = Raised([&] { def->Apply(); });
        EXPECT_EQ(LinesStartingWith(rec.Transcript(), "Connection.BeginTrans"), std::vector<std::string>{})
            << "Oracle commits DDL by itself";
        return Texts(rec.Statements());
    }

    TNoDriverVariable noVariable;
};

TEST_F(OracleAlterationTest, EveryChangeSendsItsStatements)
{
    for (const TAlteration& a : Alterations()) {
        SCOPED_TRACE(a.what);
        std::string raised;
        EXPECT_EQ(Join(Alter(a, {}, raised)), Join(a.statements));
        EXPECT_EQ(raised, "");
    }
}

TEST_F(OracleAlterationTest, AFailureAtAnyStatementIsUndoneByTheCompensatingSteps)
{
    for (const TAlteration& a : Alterations()) {
        ASSERT_EQ(a.undo.size(), a.statements.size()) << a.what;
        for (std::size_t n = 1; n <= a.statements.size(); ++n) {
            SCOPED_TRACE(std::string(a.what) + ", statement " + std::to_string(n));
            std::string raised;
            const std::vector<std::string> sent = Alter(a, {static_cast<int>(n)}, raised);
            EXPECT_THAT(raised, HasSubstr(adorec::FailureMessage(static_cast<int>(n))));
            std::vector<std::string> expected(a.statements.begin(), a.statements.begin() + static_cast<long>(n));
            expected.back() += " -> fails";
            expected.insert(expected.end(), a.undo[n - 1].begin(), a.undo[n - 1].end());
            EXPECT_EQ(Join(sent), Join(expected));
        }
    }
}

TEST_F(OracleAlterationTest, WhenAStepOfTheWayBackFailsItsFailureIsTheOneReported)
{
    const std::vector<TAlteration>& all = Alterations();
    const auto find = [&](const std::string& what) {
        return *std::find_if(all.begin(), all.end(), [&](const TAlteration& a) { return what == a.what; });
    };
    struct Case {
        const char* alteration;
        std::vector<int> failures;
        std::vector<std::string> tail; // after the statements up to the first failure
        int reported;
    };
    const Case cases[] = {
        // The copy fails, so does dropping the new table: the saved one is renamed back all the same.
        {"a column added", {5, 6}, {kDropNewRoads + " -> fails", kSavedBack}, 6},
        // The copy fails and so does the renaming back.
        {"a column added", {5, 7}, {kDropNewRoads, kSavedBack + " -> fails"}, 7},
        {"renamed with a rebuild", {4, 5}, {kDropNewStreets + " -> fails"}, 5},
        {"the table renamed and an index changed", {3, 4}, {kRenamedBack + " -> fails"}, 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.alteration) + ", failing " + std::to_string(c.failures[0]));
        const TAlteration& a = find(c.alteration);
        std::string raised;
        const std::vector<std::string> sent = Alter(a, c.failures, raised);
        EXPECT_THAT(raised, HasSubstr(adorec::FailureMessage(c.reported)));
        std::vector<std::string> expected(a.statements.begin(), a.statements.begin() + c.failures[0]);
        expected.back() += " -> fails";
        expected.insert(expected.end(), c.tail.begin(), c.tail.end());
        EXPECT_EQ(Join(sent), Join(expected));
    }
}

TEST_F(OracleAlterationTest, TheSavedCopyTakesTheFirstFreeName)
{
    TRecorder rec;
    Script(rec);
    adorec::TTable taken;
    taken.Schema = "VELMO";
    taken.Name = "Roads_SAVE0";
    rec.Catalog().Tables.push_back(taken);
    const rtl::RefPtr<IUdb> db = OpenOracle();
    const rtl::RefPtr<IUdbTableDef> def = db->GetTableDef("Roads");
    def->SetFieldDef(2, {"FLAG", udtInteger, 0, false}, true);
    rec.Clear();
    def->Apply();
    const std::vector<std::string> sent = Texts(rec.Statements());
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.front(), "ALTER TABLE \"Roads\" RENAME TO \"Roads_SAVE1\"");
    EXPECT_EQ(sent.back(), "conn: drop table \"Roads_SAVE1\"");
}

// ---- for real -----------------------------------------------------------------------------

TEST(OracleDriverForReal, OpeningWithoutARegisteredOracleDriverSaysSo)
{
    RegisterBuiltInDrivers();
    const TNoDriverVariable noVariable;
    rtl::RefPtr<IUdb> db;
    const std::string raised = Raised([&] { CreateDbObject(db, ParamsXml(kLogin), true); });
    EXPECT_THAT(raised, HasSubstr("The ODBC driver \"Oracle\" of the provider \"OraOLEDB.Oracle\" is not registered"));
    EXPECT_THAT(raised, HasSubstr(ado::odbc::OracleDriverVariable));
    ASSERT_TRUE(db);
    EXPECT_FALSE(db->IsOpen());
    EXPECT_TRUE(dynamic_cast<TOracleDb*>(db.get()));
}

} // namespace
