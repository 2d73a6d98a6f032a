// Tests of the ADO command over unixODBC on PostgreSQL and on SQLite: values
// of every parameter type and Null through a prepared command, long values
// in pieces, a VarChar value longer than its parameter refused rather than
// cut, binding again only when a binding changes, preparing again when the
// text is set again, and a time-out on a long statement. Also the in-memory
// recordset and the pieces of value reading that need no server.
#include "platform/ado/OdbcCommand.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ado/OdbcSchema.h"
#include "platform/rtl/Cp1251.h"
#include "platform/rtl/DateTime.h"
#include "tests/platform/ado/AdoTestSupport.h"
#include "tests/support/TempFolder.h"
#include "tests/support/TestHelpers.h"

namespace {

using namespace ado;
using namespace ado::odbc;
using adotest::Query;
using adotest::RunSql;
using testing_support::RaisedMessage;
using testing_support::TempFolder;
using Rows = std::vector<std::vector<std::string>>;

// ---- without a server ------------------------------------------------------------------

TEST(OdbcValues, DecimalTextsBecomeIntegersCurrencyOrDoubles)
{
    const struct {
        const char* name;
        const char* text;
        std::int32_t precision, scale;
        rtl::TVarType type;
        const char* value;
    } kCases[] = {
        {"small integer", "-42", 9, 0, rtl::varInteger, "-42"},
        {"wide integer", "12345678901234", 18, 0, rtl::varInt64, "12345678901234"},
        {"integer beyond 64 bits", "123456789012345678901234", 30, 0, rtl::varDouble, "1.23456789012346E23"},
        {"money", "-12.3400", 19, 4, rtl::varCurrency, "-12.34"},
        {"largest money", "922337203685477.5807", 19, 4, rtl::varCurrency, "922337203685477.5807"},
        {"two decimals", "0.05", 5, 2, rtl::varCurrency, "0.05"},
        {"six decimals", "1.000001", 28, 6, rtl::varDouble, "1.000001"},
        {"not a number stays text", "NaN", 28, 6, rtl::varOleStr, "NaN"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        const rtl::Variant v = NumericTextToVariant(c.text, c.precision, c.scale);
        EXPECT_EQ(v.VarType(), c.type);
        EXPECT_EQ(v.AsString(), c.value);
    }
    EXPECT_EQ(NumericTextToVariant("922337203685477.5807", 19, 4).AsCurrency().scaled, INT64_MAX);
}

TEST(OdbcValues, PatternsEscapeUnderscorePercentAndTheEscape)
{
    EXPECT_EQ(EscapePattern("VELMO_DB%\\X", "\\"), "VELMO\\_DB\\%\\\\X");
    EXPECT_EQ(EscapePattern("VELMO_DB", ""), "VELMO_DB");
}

TEST(OdbcRecordset, RowsAreReadForwardAndFieldsFoundByNameInAnyCase)
{
    const rtl::RefPtr<TMemRecordset> rs = rtl::MakeRef<TMemRecordset>(
        std::vector<TColumnInfo>{{"ID", adInteger, adFldFixed, 10, 0}, {"Name", adVarWChar, 0, 255, 255}});
    rs->AddRow({rtl::Variant(std::int32_t(1)), rtl::Variant::OleStr("один")});
    rs->AddRow({rtl::Variant(std::int32_t(2)), rtl::Variant::Null()});
    EXPECT_EQ(rs->State(), adStateOpen);
    EXPECT_EQ(rs->Fields().Item("name").Value().AsString(), "один");
    EXPECT_EQ(rs->Fields().Item("NAME").ActualSize(), 4);
    rs->MoveNext();
    EXPECT_EQ(rs->Fields().Item(0).Value().AsInteger(), 2);
    EXPECT_EQ(rs->Fields().Item(1).ActualSize(), 0);
    rs->MoveNext();
    EXPECT_TRUE(rs->Eof());
    EXPECT_EQ(RaisedMessage<EAdoError>([&] { rs->Fields().Item(0).Value(); }), SNoCurrentRecord);
    EXPECT_EQ(RaisedMessage<EAdoError>([&] { rs->MoveNext(); }), SNoCurrentRecord);
    EXPECT_EQ(RaisedMessage<EAdoError>([&] { rs->Fields().Item("Other"); }), SItemNotFound);
    EXPECT_EQ(RaisedMessage<EAdoError>([&] { rs->Fields().Item(2); }), SItemNotFound);

    const rtl::RefPtr<TMemRecordset> closed = rtl::MakeRef<TMemRecordset>();
    EXPECT_EQ(closed->State(), adStateClosed);
    EXPECT_EQ(RaisedMessage<EAdoError>([&] { closed->Eof(); }), SObjectClosed);
}

TEST(OdbcParameters, OnlyTheTypesTheDriversBindAreAccepted)
{
    const rtl::RefPtr<Command> command = NewCommand();
    for (const std::int32_t type : {adBoolean, adInteger, adDouble, adCurrency, adDate, adVarChar, adLongVarChar, adBinary})
        EXPECT_NO_THROW(command->CreateParameter("", type, adParamInput, -1, rtl::Variant())) << type;
    EXPECT_EQ(RaisedMessage<EAdoError>([&] { command->CreateParameter("", -1, adParamInput, -1, rtl::Variant()); }),
              SBadArguments);
    const rtl::RefPtr<Parameter> p = command->CreateParameter("", adInteger, adParamInput, -1, rtl::Variant());
    EXPECT_THROW(p->SetType(adBigInt), EAdoError);
    EXPECT_EQ(RaisedMessage<EAdoError>([&] {
                  rtl::Variant affected;
                  command->Execute(affected, adCmdText);
              }),
              SNoConnection);
}

// ---- on the engines ----------------------------------------------------------------------

struct TEngine {
    const char* Name;
    bool Postgres;
};

void PrintTo(const TEngine& e, std::ostream* os) { *os << e.Name; }

// A connection on a table V of one column per parameter type.
class OdbcCommandEngine : public testing::TestWithParam<TEngine> {
protected:
    void SetUp() override
    {
        if (GetParam().Postgres) {
            if (velmotest::SkipWithoutPgServer()) return;
            const auto server = adotest::PgServer();
            conn = adotest::PgConnection(*server, server->Password);
            adotest::OpenConnection(*conn);
            schema_ = adotest::SchemaNameFor(std::string(testing::UnitTest::GetInstance()->current_test_info()->name()) +
                                             std::to_string(getpid()));
            RunSql(*conn, "CREATE SCHEMA " + schema_);
            RunSql(*conn, "SET search_path TO " + schema_);
            RunSql(*conn, "CREATE TABLE V (K int4 primary key, B bool, I int4, F float8, C numeric(20,4), "
                          "D timestamp, S varchar(20), M text, X bytea)");
        } else {
            conn = adotest::SqliteConnection(folder_.File("t.db"));
            adotest::OpenConnection(*conn);
            RunSql(*conn, "CREATE TABLE V (K int primary key, B bit, I int, F double, C numeric, "
                          "D timestamp, S varchar(20), M text, X longvarbinary)");
        }
    }
    void TearDown() override
    {
        if (!schema_.empty() && conn && conn->State() == adStateOpen) RunSql(*conn, "DROP SCHEMA " + schema_ + " CASCADE");
    }

    // A prepared command with the parameters of these types.
    rtl::RefPtr<Command> Prepared(const std::string& text, const std::vector<std::int32_t>& types)
    {
        rtl::RefPtr<Command> command = NewCommand();
        command->SetActiveConnection(conn.get());
        command->SetCommandText(text);
        command->SetPrepared(true);
        for (const std::int32_t type : types) {
            const rtl::RefPtr<Parameter> p = command->CreateParameter("", type, adParamInput, -1, rtl::Variant());
            p->SetAttributes(adParamNullable | (type == adLongVarChar || type == adBinary ? adParamLong : 0));
            command->Parameters().Append(p);
        }
        return command;
    }
    static rtl::RefPtr<Recordset> Exec(Command& command, const std::vector<rtl::Variant>& values,
                                      rtl::Variant* affected = nullptr)
    {
        for (std::size_t i = 0; i < values.size(); ++i)
            command.Parameters().Item(static_cast<std::int32_t>(i)).SetValue(values[i]);
        rtl::Variant ignored;
        return command.Execute(affected ? *affected : ignored, adCmdText);
    }

    rtl::RefPtr<Connection> conn;

private:
    TempFolder folder_;
    std::string schema_;
};

const TEngine kEngines[] = {{"PostgreSQL", true}, {"SQLite", false}};
std::string EngineName(const testing::TestParamInfo<TEngine>& info) { return info.param.Name; }

const std::vector<std::int32_t> kAllTypes = {adInteger, adBoolean, adInteger, adDouble, adCurrency,
                                             adDate,    adVarChar, adLongVarChar, adBinary};
const char* const kInsertAll = "INSERT INTO V (K, B, I, F, C, D, S, M, X) VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?)";

TEST_P(OdbcCommandEngine, EveryParameterTypeAndNullRoundTrip)
{
    const rtl::RefPtr<Command> insert = Prepared(kInsertAll, kAllTypes);
    const double when = rtl::EncodeDateTime(2024, 2, 29, 13, 45, 30, 123);
    const rtl::ByteArray bytes = {0, 1, 127, 128, 255};
    rtl::Variant affected;
    Exec(*insert,
        {rtl::Variant(std::int32_t(1)), rtl::Variant(true), rtl::Variant(std::int32_t(-2147483647)), rtl::Variant(2.5),
         rtl::Variant(rtl::Currency{1234567891234}), rtl::Variant::DateTime(when), rtl::Variant("Дорога №5"),
         rtl::Variant("долгий текст"), rtl::Variant(bytes)},
        &affected);
    EXPECT_EQ(affected.AsInteger(), 1);
    const rtl::Variant null = rtl::Variant::Null();
    Exec(*insert, {rtl::Variant(std::int32_t(2)), null, null, null, null, null, null, null, null});
    // Empty text and empty binary data are values, not Null.
    Exec(*insert, {rtl::Variant(std::int32_t(3)), rtl::Variant(false), null, null, null, null, rtl::Variant(""),
                  rtl::Variant(""), rtl::Variant(rtl::ByteArray())});

    rtl::Variant ignored;
    const rtl::RefPtr<Recordset> rs = conn->Execute("SELECT K, B, I, F, C, D, S, M, X FROM V ORDER BY K", ignored, adCmdText);
    Fields& f = rs->Fields();
    EXPECT_EQ(f.Item("B").Value().AsBoolean(), true);
    EXPECT_EQ(f.Item("I").Value().AsInteger(), -2147483647);
    EXPECT_EQ(f.Item("F").Value().AsDouble(), 2.5);
    EXPECT_EQ(f.Item("C").Value().AsCurrency().scaled, 1234567891234);
    EXPECT_NEAR(f.Item("D").Value().AsDateTime(), when, 1e-9);
    EXPECT_EQ(f.Item("S").Value().AsString(), "Дорога №5");
    EXPECT_EQ(f.Item("S").ActualSize(), 9);
    EXPECT_EQ(f.Item("M").Value().AsString(), "долгий текст");
    EXPECT_EQ(f.Item("X").Value().AsBytes(), bytes);
    EXPECT_EQ(f.Item("X").ActualSize(), 5);
    EXPECT_NE(f.Item("M").Attributes() & adFldLong, 0);
    rs->MoveNext();
    for (const char* name : {"B", "I", "F", "C", "D", "S", "M", "X"}) {
        EXPECT_TRUE(f.Item(name).Value().IsNull()) << name;
        EXPECT_EQ(f.Item(name).ActualSize(), 0) << name;
    }
    rs->MoveNext();
    EXPECT_EQ(f.Item("S").Value().VarType(), rtl::varOleStr);
    EXPECT_EQ(f.Item("S").Value().AsString(), "");
    EXPECT_EQ(f.Item("M").Value().AsString(), "");
    ASSERT_TRUE(f.Item("X").Value().IsByteArray());
    EXPECT_TRUE(f.Item("X").Value().AsBytes().empty());
}

TEST_P(OdbcCommandEngine, LongValuesGoAndComeBackWhole)
{
    rtl::ByteArray blob(200000);
    for (std::size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<std::uint8_t>((i * 7919) >> 3);
    std::string text;
    for (int i = 0; i < 15000; ++i) text += "Сектор "; // 105,000 characters
    const rtl::RefPtr<Command> insert = Prepared("INSERT INTO V (K, M, X) VALUES (?, ?, ?)", {adInteger, adLongVarChar, adBinary});
    Exec(*insert, {rtl::Variant(std::int32_t(1)), rtl::Variant(text), rtl::Variant(blob)});

    const rtl::RefPtr<Command> select = Prepared("SELECT M, X FROM V WHERE K = ?", {adInteger});
    const rtl::RefPtr<Recordset> rs = Exec(*select, {rtl::Variant(std::int32_t(1))});
    ASSERT_FALSE(rs->Eof());
    EXPECT_EQ(rs->Fields().Item(1).ActualSize(), 200000);
    EXPECT_TRUE(rs->Fields().Item(1).Value().AsBytes() == blob);
    EXPECT_TRUE(rs->Fields().Item(0).Value().AsString() == text);
}

TEST_P(OdbcCommandEngine, AVarCharLongerThanItsSizeIsRefusedNotCut)
{
    const rtl::RefPtr<Command> insert = Prepared("INSERT INTO V (K, S) VALUES (?, ?)", {adInteger, adVarChar});
    insert->Parameters().Item(1).SetSize(5);
    EXPECT_THAT(RaisedMessage<EAdoError>([&] { Exec(*insert, {rtl::Variant(std::int32_t(1)), rtl::Variant("абвгдеж")}); }),
                testing::HasSubstr("Parameter 2"));
    Exec(*insert, {rtl::Variant(std::int32_t(1)), rtl::Variant("абвгд")});
    insert->Parameters().Item(1).SetSize(10);
    Exec(*insert, {rtl::Variant(std::int32_t(2)), rtl::Variant("абвгдеж")});
    EXPECT_EQ(Query(*conn, "SELECT S FROM V ORDER BY K"), (Rows{{"абвгд"}, {"абвгдеж"}}));
}

TEST_P(OdbcCommandEngine, ParametersAreBoundAgainOnlyWhenTheirBindingChanges)
{
    const rtl::RefPtr<Command> insert = Prepared("INSERT INTO V (K, I, S) VALUES (?, ?, ?)", {adInteger, adInteger, adVarChar});
    auto& odbc = dynamic_cast<TOdbcCommand&>(*insert);
    insert->Parameters().Item(2).SetSize(20);
    Exec(*insert, {rtl::Variant(std::int32_t(1)), rtl::Variant(std::int32_t(10)), rtl::Variant("a")});
    EXPECT_EQ(odbc.BindCount(), 3);
    EXPECT_EQ(odbc.PrepareCount(), 1);
    // Same types and sizes, other values: nothing is bound again.
    Exec(*insert, {rtl::Variant(std::int32_t(2)), rtl::Variant(std::int32_t(20)), rtl::Variant("b")});
    EXPECT_EQ(odbc.BindCount(), 3);
    // A new size binds that parameter again; the statement stays prepared.
    insert->Parameters().Item(2).SetSize(30);
    Exec(*insert, {rtl::Variant(std::int32_t(3)), rtl::Variant(std::int32_t(30)), rtl::Variant("c")});
    EXPECT_EQ(odbc.BindCount(), 4);
    EXPECT_EQ(odbc.PrepareCount(), 1);
    // So does a new type.
    insert->Parameters().Item(1).SetType(adDouble);
    Exec(*insert, {rtl::Variant(std::int32_t(5)), rtl::Variant(50.0), rtl::Variant("e")});
    EXPECT_EQ(odbc.BindCount(), 5);
    // Setting the text again prepares it again, and every parameter is bound again.
    const std::string text = insert->CommandText();
    insert->SetCommandText("");
    insert->SetCommandText(text);
    Exec(*insert, {rtl::Variant(std::int32_t(4)), rtl::Variant::Null(), rtl::Variant("d")});
    EXPECT_EQ(odbc.PrepareCount(), 2);
    EXPECT_EQ(odbc.BindCount(), 8);
    EXPECT_EQ(Query(*conn, "SELECT K, I, S FROM V ORDER BY K"),
              (Rows{{"1", "10", "a"}, {"2", "20", "b"}, {"3", "30", "c"}, {"4", "<null>", "d"}, {"5", "50", "e"}}));
}

TEST_P(OdbcCommandEngine, AnUnpreparedCommandRunsItsTextEachTime)
{
    const rtl::RefPtr<Command> insert = Prepared("INSERT INTO V (K, S) VALUES (?, ?)", {adInteger, adVarChar});
    insert->SetPrepared(false);
    Exec(*insert, {rtl::Variant(std::int32_t(1)), rtl::Variant("x")});
    Exec(*insert, {rtl::Variant(std::int32_t(2)), rtl::Variant("y")});
    EXPECT_EQ(dynamic_cast<TOdbcCommand&>(*insert).PrepareCount(), 0);
    EXPECT_EQ(Query(*conn, "SELECT COUNT(*) FROM V"), (Rows{{"2"}}));
}

TEST_P(OdbcCommandEngine, AffectedRowsCountChangesAndAreMinusOneForRows)
{
    const rtl::RefPtr<Command> insert = Prepared("INSERT INTO V (K) VALUES (?)", {adInteger});
    for (std::int32_t k = 1; k <= 3; ++k) Exec(*insert, {rtl::Variant(k)});
    const struct {
        const char* text;
        std::int32_t affected;
        bool rows;
    } kCases[] = {
        {"UPDATE V SET I = 1 WHERE K >= ?", 3, false},
        {"UPDATE V SET I = 1 WHERE K > ?", 0, false},
        {"DELETE FROM V WHERE K > ?", 0, false},
        {"SELECT K FROM V WHERE K > ?", -1, true},
        {"SELECT K FROM V WHERE K < ?", -1, true},
    };
    const std::int32_t bound[] = {1, 99, 99, 99, 0};
    for (std::size_t i = 0; i < std::size(kCases); ++i) {
        SCOPED_TRACE(kCases[i].text);
        rtl::Variant affected;
        const rtl::RefPtr<Recordset> rs = Exec(*Prepared(kCases[i].text, {adInteger}), {rtl::Variant(bound[i])}, &affected);
        EXPECT_EQ(affected.AsInteger(), kCases[i].affected);
        EXPECT_EQ(rs->State() == adStateOpen, kCases[i].rows);
        if (kCases[i].rows) {
            EXPECT_TRUE(rs->Eof());
        }
    }
}

TEST_P(OdbcCommandEngine, ALongStatementEndsAtTheCommandTimeout)
{
    if (!GetParam().Postgres) GTEST_SKIP() << "SQLite has no statement that waits";
    const rtl::RefPtr<Command> sleep = Prepared("SELECT pg_sleep(?)", {adDouble});
    sleep->SetCommandTimeout(1);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_THROW(Exec(*sleep, {rtl::Variant(10.0)}), EAdoError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    // The connection goes on.
    EXPECT_EQ(Query(*conn, "SELECT 1"), (Rows{{"1"}}));
    sleep->SetCommandTimeout(5);
    EXPECT_NO_THROW(Exec(*sleep, {rtl::Variant(0.1)}));
}

INSTANTIATE_TEST_SUITE_P(Engines, OdbcCommandEngine, testing::ValuesIn(kEngines), EngineName);

} // namespace
