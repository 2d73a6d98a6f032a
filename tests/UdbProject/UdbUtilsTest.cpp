// Tests of the access layer's base classes (TUdb, TUdbTableDef, TUdbSQLCommand,
// TUdbCursor) against the fake driver: transactions, open and close, detaching,
// virtual parameters, statement checks and failure messages, cursor field
// resolution and getters, table definitions, and the quote-aware replacement.
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/UdbProject/FakeDriver.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/SysUtils.h"

namespace {

using fake::Assertion;
using fake::Raised;
using fake::Udb;
using rtl::Variant;

constexpr const char* kParams =
    R"(<driver name="Fake.Test" caption="Тестовый драйвер"><param name="folder">/data/gis</param></driver>)";

const std::string kClosed = Udb(UdbMsg::DatabaseClosed);

class UdbFixture : public ::testing::Test {
protected:
    fake::Engine engine;
    rtl::RefPtr<fake::Db> db = rtl::MakeRef<fake::Db>(engine);

    void Open()
    {
        db->Open(kParams);
        engine.calls.clear();
    }
    rtl::RefPtr<IUdbSQLCommand> Command(const std::string& sql, const TUdbDataTypeArray& types = {})
    {
        return db->CreateCommand(sql, types.empty() ? nullptr : types.data(), static_cast<std::int32_t>(types.size()),
                                 false);
    }
    // A statement whose execution yields a cursor over two integer rows.
    rtl::RefPtr<IUdbCursor> RowsCursor()
    {
        engine.resultFields = {{"ID", udtInteger, -1, true}};
        engine.resultRows = {{Variant(1)}, {Variant(2)}};
        return Command("SELECT [T].[ID] FROM [T]")->Execute(nullptr, 0);
    }
};

// ---- transactions -----------------------------------------------------------------

enum class Tx { Start, Commit, Rollback, EngineDrops, EngineBegins, CommitFails, Reopen };

struct TxStep {
    Tx op;
    std::string raises; // "" when the step succeeds
};

struct TxCase {
    const char* name;
    std::vector<TxStep> steps;
    std::vector<std::string> engineCalls; // transaction calls that reached the engine
    std::int32_t count;                   // TransactionCount at the end
    bool engineInTransaction;
};

TEST(UdbTransactions, OnlyTheOutermostLevelReachesTheEngine)
{
    const std::string notInTx = Udb(UdbMsg::NotInTransaction);
    const std::string badMode = Assertion(UdbMsg::InvalidTransactionMode);
    const TxCase cases[] = {
        {"NestedCommitsCommitOnceAtTheOutermostLevel",
         {{Tx::Start, ""}, {Tx::Start, ""}, {Tx::Commit, ""}, {Tx::Commit, ""}},
         {"DoStartTransaction", "DoCommit"}, 0, false},
        {"InnerCommitKeepsTheEngineTransactionOpen",
         {{Tx::Start, ""}, {Tx::Start, ""}, {Tx::Commit, ""}}, {"DoStartTransaction"}, 1, true},
        {"RollbackAtDepthThreeEndsEveryLevelAtOnce",
         {{Tx::Start, ""}, {Tx::Start, ""}, {Tx::Start, ""}, {Tx::Rollback, ""}},
         {"DoStartTransaction", "DoRollback"}, 0, false},
        {"RollbackAfterAnInnerCommit",
         {{Tx::Start, ""}, {Tx::Start, ""}, {Tx::Commit, ""}, {Tx::Rollback, ""}},
         {"DoStartTransaction", "DoRollback"}, 0, false},
        {"RollbackOutsideATransactionDoesNothing", {{Tx::Rollback, ""}}, {}, 0, false},
        {"CommitOutsideATransactionRaisesAndKeepsTheCounter", {{Tx::Commit, notInTx}}, {}, 0, false},
        {"CommitAfterTheOutermostCommitRaises",
         {{Tx::Start, ""}, {Tx::Commit, ""}, {Tx::Commit, notInTx}}, {"DoStartTransaction", "DoCommit"}, 0, false},
        {"CommitAfterTheEngineDroppedItsTransactionAsserts",
         {{Tx::Start, ""}, {Tx::EngineDrops, ""}, {Tx::Commit, badMode}}, {"DoStartTransaction"}, 1, false},
        {"RollbackMendsTheCounterWithoutAskingAnEngineThatDroppedItsTransaction",
         {{Tx::Start, ""}, {Tx::Start, ""}, {Tx::EngineDrops, ""}, {Tx::Rollback, ""}, {Tx::Start, ""},
          {Tx::Commit, ""}},
         {"DoStartTransaction", "DoStartTransaction", "DoCommit"}, 0, false},
        {"StartWhileTheEngineIsInATransactionUnknownToTheCounterAsserts",
         {{Tx::EngineBegins, ""}, {Tx::Start, badMode}}, {}, 0, true},
        {"RollbackReachesTheEngineWheneverTheEngineIsInATransaction",
         {{Tx::EngineBegins, ""}, {Tx::Rollback, ""}}, {"DoRollback"}, 0, false},
        {"FailedOutermostCommitIsRolledBackByTheEngine",
         {{Tx::Start, ""}, {Tx::CommitFails, ""}, {Tx::Commit, "Exception: DoCommit failed"}, {Tx::Rollback, ""}},
         {"DoStartTransaction", "DoCommit", "DoRollback"}, 0, false},
        {"CloseInsideATransactionResetsTheCounter",
         {{Tx::Start, ""}, {Tx::Start, ""}, {Tx::Reopen, ""}, {Tx::Start, ""}, {Tx::Commit, ""}},
         {"DoStartTransaction", "DoStartTransaction", "DoCommit"}, 0, false},
    };
    for (const TxCase& c : cases) {
        SCOPED_TRACE(c.name);
        fake::Engine engine;
        const rtl::RefPtr<fake::Db> db = rtl::MakeRef<fake::Db>(engine);
        db->Open(kParams);
        for (std::size_t i = 0; i < c.steps.size(); ++i) {
            SCOPED_TRACE("step " + std::to_string(i));
            const TxStep& step = c.steps[i];
            const std::string raised = Raised([&] {
                switch (step.op) {
                case Tx::Start: db->StartTransaction(); break;
                case Tx::Commit: db->Commit(); break;
                case Tx::Rollback: db->Rollback(); break;
                case Tx::EngineDrops: engine.inTransaction = false; break;
                case Tx::EngineBegins: engine.inTransaction = true; break;
                case Tx::CommitFails: engine.failOn.insert("DoCommit"); break;
                case Tx::Reopen: db->Close(); db->Open(kParams); break;
                }
            });
            EXPECT_EQ(raised, step.raises);
        }
        EXPECT_EQ(engine.CallsOf({"DoStartTransaction", "DoCommit", "DoRollback"}), c.engineCalls);
        EXPECT_EQ(db->TransactionCount(), c.count);
        EXPECT_EQ(engine.inTransaction, c.engineInTransaction);
        EXPECT_EQ(db->InTransaction(), c.engineInTransaction);
    }
}

struct CursorTxCase {
    const char* name;
    std::vector<Tx> opsAfterCursor; // the cursor is made inside one or two levels
    int levels;
    bool cursorClosed;
};

TEST(UdbTransactions, OutermostCommitAndRollbackCloseCursorsButNotStatements)
{
    const CursorTxCase cases[] = {
        {"InnerCommitLeavesCursorsOpen", {Tx::Commit}, 2, false},
        {"OutermostCommitClosesCursors", {Tx::Commit}, 1, true},
        {"BothCommitsOfTwoLevelsCloseCursors", {Tx::Commit, Tx::Commit}, 2, true},
        {"RollbackClosesCursors", {Tx::Rollback}, 2, true},
        {"RollbackOfATransactionTheEngineDroppedClosesCursors", {Tx::EngineDrops, Tx::Rollback}, 1, true},
    };
    for (const CursorTxCase& c : cases) {
        SCOPED_TRACE(c.name);
        fake::Engine engine;
        const rtl::RefPtr<fake::Db> db = rtl::MakeRef<fake::Db>(engine);
        db->Open(kParams);
        for (int i = 0; i < c.levels; ++i) db->StartTransaction();
        engine.resultFields = {{"ID", udtInteger, -1, true}};
        engine.resultRows = {{Variant(1)}};
        const auto command = db->CreateCommand("SELECT [T].[ID] FROM [T]", nullptr, 0, false);
        const auto cursor = command->Execute(nullptr, 0);
        ASSERT_FALSE(cursor->Eof());
        for (Tx op : c.opsAfterCursor) {
            if (op == Tx::Commit) db->Commit();
            if (op == Tx::Rollback) db->Rollback();
            if (op == Tx::EngineDrops) engine.inTransaction = false;
        }
        EXPECT_EQ(cursor->Eof(), c.cursorClosed);
        EXPECT_EQ(engine.cursorCloses, c.cursorClosed ? 1 : 0);
        // The statement stays usable.
        EXPECT_FALSE(command->Execute(nullptr, 0)->Eof());
    }
}

// ---- open, close and the closed state ---------------------------------------------

TEST_F(UdbFixture, OpenHandsTheParameterDocumentToTheDriverAndCloseForgetsIt)
{
    db->Open(kParams);
    EXPECT_TRUE(db->IsOpen());
    EXPECT_EQ(engine.folderSeenByOpen, "/data/gis");
    EXPECT_EQ(db->GetParams()->GetStr("folder", "none"), "/data/gis");
    db->Close();
    EXPECT_FALSE(db->IsOpen());
    EXPECT_EQ(db->GetParams()->GetStr("folder", "none"), "none");
    EXPECT_EQ(engine.calls, (std::vector<std::string>{"DoOpen", "DoClose"}));
    db->Close(); // closing a closed database does not reach the engine
    EXPECT_EQ(engine.calls.size(), 2u);
}

TEST_F(UdbFixture, OpenOnAnOpenDatabaseClosesItFirst)
{
    Open();
    db->Open(R"(<driver name="Fake.Test"><param name="folder">/other</param></driver>)");
    EXPECT_EQ(engine.calls, (std::vector<std::string>{"DoClose", "DoOpen"}));
    EXPECT_EQ(engine.folderSeenByOpen, "/other");
}

struct OpenFailureCase {
    const char* name;
    const char* params;
    bool failDoOpen;
    bool openBefore;
    std::string raisedPrefix;
    bool openAfter;
    std::vector<std::string> engineCalls;
};

TEST(UdbOpen, FailuresLeaveTheDatabaseClosedOrAsItWas)
{
    const OpenFailureCase cases[] = {
        {"ParseErrorOnAClosedDatabase", "<driver", false, false, "Exception: ", false, {}},
        {"ParseErrorLeavesAnOpenDatabaseOpen", "<driver", false, true, "Exception: ", true, {}},
        {"DocumentWithoutRoot", R"(<?xml version="1.0"?>)", false, false,
         Assertion(UdbMsg::EmptyXmlDocument), false, {}},
        {"DocumentWithoutRootClosesAnOpenDatabase", R"(<?xml version="1.0"?>)", false, true,
         Assertion(UdbMsg::EmptyXmlDocument), false, {"DoClose"}},
        {"DriverCannotConnect", kParams, true, false, "Exception: DoOpen failed", false, {"DoOpen"}},
        {"DriverCannotConnectAfterAnOpenDatabaseWasClosed", kParams, true, true, "Exception: DoOpen failed", false,
         {"DoClose", "DoOpen"}},
    };
    for (const OpenFailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        fake::Engine engine;
        const rtl::RefPtr<fake::Db> db = rtl::MakeRef<fake::Db>(engine);
        if (c.openBefore) db->Open(kParams);
        engine.calls.clear();
        if (c.failDoOpen) engine.failOn.insert("DoOpen");
        const std::string raised = Raised([&] { db->Open(c.params); });
        EXPECT_EQ(raised.substr(0, c.raisedPrefix.size()), c.raisedPrefix) << raised;
        EXPECT_EQ(db->IsOpen(), c.openAfter);
        EXPECT_EQ(engine.calls, c.engineCalls);
        // The parameter list shows a document only while the database is open.
        EXPECT_EQ(db->Params().Node() != nullptr, c.openAfter);
    }
}

TEST_F(UdbFixture, ClosedDatabaseRefusesEveryOperationButOpenCloseIsOpenAndParams)
{
    const TUdbDataType types[] = {udtInteger};
    const std::pair<const char*, std::function<void(IUdb&)>> operations[] = {
        {"InTransaction", [](IUdb& d) { d.InTransaction(); }},
        {"StartTransaction", [](IUdb& d) { d.StartTransaction(); }},
        {"Commit", [](IUdb& d) { d.Commit(); }},
        {"Rollback", [](IUdb& d) { d.Rollback(); }},
        {"CreateCommand", [&](IUdb& d) { d.CreateCommand("SELECT 1", types, 1, true); }},
        {"GetSchemaInfo", [](IUdb& d) { d.GetSchemaInfo(uskRelations); }},
        {"GetTableDef", [](IUdb& d) { d.GetTableDef("T"); }},
        {"GetNewTableDef", [](IUdb& d) { d.GetTableDef(""); }},
        {"TableExists", [](IUdb& d) { d.TableExists("T"); }},
        {"DropTable", [](IUdb& d) { d.DropTable("T"); }},
    };
    for (const auto& [name, operation] : operations) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Raised([&] { operation(*db); }), kClosed);
    }
    EXPECT_FALSE(db->IsOpen());
    EXPECT_NE(db->GetParams(), nullptr);
    EXPECT_EQ(Raised([&] { db->Close(); }), "");
    EXPECT_TRUE(engine.calls.empty());
}

// Every object a database handed out, made before the database closes.
struct Handed {
    rtl::RefPtr<IUdbSQLCommand> command;
    rtl::RefPtr<IUdbCursor> cursor;
    rtl::RefPtr<IUdbTableDef> tableDef;
};

TEST_F(UdbFixture, DetachedObjectsFailWithTheClosedDatabaseMessage)
{
    Open();
    engine.tables.push_back({"T", {{"ID", udtInteger, -1, true}}, {{"PK", "ID", true, true}}});
    Handed h{Command("SELECT [T].[ID] FROM [T]"), RowsCursor(), db->GetTableDef("T")};
    ASSERT_EQ(db->Children().size(), 3u); // a statement, a cursor, a table definition
    db->Close();

    const TUdbFieldDef field{"X", udtString, 10, false};
    const TUdbIndexDef index{"", "ID", false, false};
    const std::pair<const char*, std::function<void(Handed&)>> uses[] = {
        {"Execute", [](Handed& o) { o.command->Execute(nullptr, 0); }},
        {"RowsAffected", [](Handed& o) { o.command->RowsAffected(); }},
        {"IsNull", [](Handed& o) { o.cursor->IsNull(0); }},
        {"AsBoolean", [](Handed& o) { o.cursor->AsBoolean(0, false); }},
        {"AsInteger", [](Handed& o) { o.cursor->AsInteger(0, 0); }},
        {"AsFloat", [](Handed& o) { o.cursor->AsFloat(0, 0); }},
        {"AsCurrency", [](Handed& o) { o.cursor->AsCurrency(0, {}); }},
        {"AsDateTime", [](Handed& o) { o.cursor->AsDateTime(0, 0); }},
        {"AsString", [](Handed& o) { o.cursor->AsString(0, ""); }},
        {"AsBlob", [](Handed& o) { o.cursor->AsBlob(0); }},
        {"GetValue", [](Handed& o) { o.cursor->GetValue(0); }},
        {"FieldName", [](Handed& o) { o.cursor->FieldName(0); }},
        {"FieldType", [](Handed& o) { o.cursor->FieldType(0); }},
        {"DataSize", [](Handed& o) { o.cursor->DataSize(0); }},
        {"FieldIndex", [](Handed& o) { o.cursor->FieldIndex("ID"); }},
        {"FieldCount", [](Handed& o) { o.cursor->FieldCount(); }},
        {"Next", [](Handed& o) { o.cursor->Next(); }},
        {"GetFieldDef", [](Handed& o) { o.tableDef->GetFieldDef(0); }},
        {"SetFieldDef", [&](Handed& o) { o.tableDef->SetFieldDef(0, field, true); }},
        {"AddField", [&](Handed& o) { o.tableDef->AddField(field); }},
        {"DeleteField", [](Handed& o) { o.tableDef->DeleteField(0, true); }},
        {"TableDefFieldIndex", [](Handed& o) { o.tableDef->FieldIndex("ID"); }},
        {"MoveField", [](Handed& o) { o.tableDef->MoveField(0, 0); }},
        {"TableDefFieldCount", [](Handed& o) { o.tableDef->FieldCount(); }},
        {"GetIndexDef", [](Handed& o) { o.tableDef->GetIndexDef(0); }},
        {"SetIndexDef", [&](Handed& o) { o.tableDef->SetIndexDef(0, index); }},
        {"AddIndex", [&](Handed& o) { o.tableDef->AddIndex(index); }},
        {"DeleteIndex", [](Handed& o) { o.tableDef->DeleteIndex(0); }},
        {"FindIndex", [](Handed& o) { o.tableDef->FindIndex("ID"); }},
        {"IndexCount", [](Handed& o) { o.tableDef->IndexCount(); }},
        {"GetTableName", [](Handed& o) { o.tableDef->GetTableName(); }},
        {"SetTableName", [](Handed& o) { o.tableDef->SetTableName("U"); }},
        {"IsModified", [](Handed& o) { o.tableDef->IsModified(); }},
        {"Apply", [](Handed& o) { o.tableDef->Apply(); }},
        {"Refresh", [](Handed& o) { o.tableDef->Refresh(); }},
    };
    for (const auto& [name, use] : uses) {
        SCOPED_TRACE(name);
        EXPECT_EQ(Raised([&] { use(h); }), kClosed);
    }
    // A detached cursor still answers its end test and its close.
    EXPECT_EQ(Raised([&] { EXPECT_FALSE(h.cursor->Eof()); }), "");
    EXPECT_EQ(Raised([&] { h.cursor->Close(); }), "");
    EXPECT_TRUE(h.cursor->Eof());

    // The children dropped their references and forgot the database.
    EXPECT_TRUE(db->Children().empty());
    EXPECT_EQ(db->RefCount(), 1);
    EXPECT_EQ(rtl::RefCast<TUdbObject>(h.command)->Db(), nullptr);
    EXPECT_EQ(rtl::RefCast<TUdbObject>(h.tableDef)->Db(), nullptr);
}

TEST_F(UdbFixture, ADetachedStatementNeverAttachesAgain)
{
    Open();
    const auto before = Command("DELETE FROM [T] ");
    db->Open(kParams); // closes first: the statement is detached
    EXPECT_EQ(Raised([&] { before->Execute(nullptr, 0); }), kClosed);
    EXPECT_EQ(Raised([&] { Command("DELETE FROM [T] ")->Execute(nullptr, 0); }), "");
}

TEST_F(UdbFixture, ChildrenKeepTheDatabaseAliveAndNeverTheReverse)
{
    Open();
    auto command = Command("SELECT 1");
    db = nullptr;
    EXPECT_FALSE(engine.dbDestroyed);
    EXPECT_EQ(Raised([&] { command->Execute(nullptr, 0); }), "");
    command = nullptr;
    EXPECT_TRUE(engine.dbDestroyed);
}

TEST_F(UdbFixture, AParameterListThatOutlivesItsDatabaseAnswersNoVirtualParameters)
{
    Open();
    const rtl::RefPtr<ISimpleParams> params = db->GetParams();
    db = nullptr;
    ASSERT_TRUE(engine.dbDestroyed);
    EXPECT_EQ(params->GetStr("Udb\\DriverName", "gone"), "gone");
}

// ---- virtual parameters -----------------------------------------------------------

struct VirtualParamCase {
    const char* name;
    const char* params;
    const char* param;
    std::string expected; // "<none>" when unanswered
};

TEST(UdbVirtualParams, AnsweredFromTheParameterDocumentWhileOpen)
{
    const char* noCaption = R"(<driver name="Fake.Test"/>)";
    const VirtualParamCase cases[] = {
        {"DriverName", kParams, "Udb\\DriverName", "Fake.Test"},
        {"DriverCaption", kParams, "Udb\\DriverCaption", "Тестовый драйвер"},
        {"CaptionDefaultsToTheName", noCaption, "Udb\\DriverCaption", "Fake.Test"},
        {"MissingNameIsEmpty", "<driver/>", "Udb\\DriverName", ""},
        {"DriverLibraryOfABuiltInDriverIsTheProgram", kParams, "Udb\\DriverLibrary", rtl::ProgramFileName()},
        {"NamesAreCaseSensitive", kParams, "udb\\drivername", "<none>"},
        {"OtherNamesAreNotAnswered", kParams, "Udb\\Other", "<none>"},
        {"RealParametersComeFirst", R"(<driver name="A"><param name="Udb\DriverName">B</param></driver>)",
         "Udb\\DriverName", "B"},
    };
    for (const VirtualParamCase& c : cases) {
        SCOPED_TRACE(c.name);
        fake::Engine engine;
        const rtl::RefPtr<fake::Db> db = rtl::MakeRef<fake::Db>(engine);
        db->Open(c.params);
        EXPECT_EQ(db->GetParams()->GetStr(c.param, "<none>"), c.expected);
    }
}

TEST_F(UdbFixture, OpenDatetimeIsTheMomentOfTheLastOpen)
{
    const rtl::TDateTime before = rtl::Now();
    Open();
    const rtl::TDateTime after = rtl::Now();
    const rtl::TDateTime opened = db->GetParams()->GetDateTime("Udb\\OpenDatetime");
    EXPECT_GE(opened, before);
    EXPECT_LE(opened, after);
    EXPECT_EQ(opened, db->OpenDateTime());
}

TEST_F(UdbFixture, DriverLibraryIsTheModuleTheDriverPointsInto)
{
    const void* libcCode = reinterpret_cast<const void*>(&std::puts);
    db->moduleAddress = libcCode;
    Open();
    const std::string library = db->GetParams()->GetStr("Udb\\DriverLibrary", "");
    EXPECT_EQ(library, rtl::ModuleFileName(libcCode));
    EXPECT_NE(library, rtl::ProgramFileName());
    EXPECT_EQ(ModuleFileName(), rtl::ProgramFileName()); // these base classes are linked into the program
}

TEST_F(UdbFixture, NoVirtualParameterIsAnsweredWhileClosed)
{
    Open();
    db->Close();
    for (const char* name : {"Udb\\DriverName", "Udb\\DriverCaption", "Udb\\OpenDatetime", "Udb\\DriverLibrary"}) {
        SCOPED_TRACE(name);
        EXPECT_EQ(db->GetParams()->GetStr(name, "<none>"), "<none>");
    }
}

// ---- schema information and tables --------------------------------------------------

TEST_F(UdbFixture, SchemaInformationAndTableCallsReachTheDriver)
{
    Open();
    engine.tables.push_back({"ROADS", {}, {}});
    const auto relations = db->GetSchemaInfo(uskRelations);
    EXPECT_EQ(relations->AsString("NAME", ""), "ROADS");
    EXPECT_EQ(Raised([&] { db->GetSchemaInfo(uskReservedWords); }), Udb(UdbMsg::CapabilityNotSupported));
    EXPECT_TRUE(db->TableExists("ROADS"));
    db->DropTable("ROADS");
    EXPECT_FALSE(db->TableExists("ROADS"));
}

// ---- statements ---------------------------------------------------------------------

TEST_F(UdbFixture, PreparationFailureCarriesTheStatementText)
{
    Open();
    engine.failOn.insert("DoPrepare");
    EXPECT_EQ(Raised([&] { Command("SELECT X FROM [T]"); }),
              Udb("Запрос \"SELECT X FROM [T]\". DoPrepare failed"));
}

TEST_F(UdbFixture, ExecutionFailureCarriesTheStatementTextAndEveryParameter)
{
    Open();
    const auto command = Command("UPDATE [A] SET [A].[X]=? WHERE ([A].[K]=?)", {udtString, udtInteger});
    engine.rowsAffected = 4;
    command->Execute({Variant::OleStr("abc"), Variant(1)});
    engine.failOn.insert("DoExecute");
    EXPECT_EQ(Raised([&] { command->Execute({Variant::OleStr("abc"), Variant::Null()}); }),
              Udb("Запрос \"UPDATE [A] SET [A].[X]=? WHERE ([A].[K]=?)\".\n\rПараметры:\n\r"
                  "\r\nString(OleStr)[3]=\"abc\"\r\nInteger(Null)=Null\n\r Ошибка: \"DoExecute failed\""));
    EXPECT_EQ(command->RowsAffected(), 4);
}

TEST_F(UdbFixture, ExecutionYieldsACursorOrNothingAndTheRowsAffected)
{
    Open();
    engine.rowsAffected = 7;
    const auto command = Command("DELETE FROM [T] ");
    EXPECT_EQ(command->Execute(nullptr, 0), nullptr);
    EXPECT_EQ(command->RowsAffected(), 7);
    const auto cursor = RowsCursor();
    EXPECT_EQ(cursor->AsInteger("ID", 0), 1);
    cursor->Next();
    EXPECT_EQ(cursor->AsInteger("ID", 0), 2);
    cursor->Next();
    EXPECT_TRUE(cursor->Eof());
}

struct CheckParamsCase {
    const char* name;
    TUdbDataTypeArray types;
    std::vector<Variant> values;
    bool nullValues;    // pass nullptr instead of the values
    std::int32_t count; // -2: the number of values
    std::string raises;
};

TEST_F(UdbFixture, ParameterValuesAreCheckedBeforeTheDriverSeesThem)
{
    const Variant empty;
    const rtl::ByteArray bytes{1, 2, 3};
    const CheckParamsCase cases[] = {
        {"TooFewValues", {udtInteger, udtInteger}, {Variant(1)}, false, -2, Udb(UdbMsg::ParamCountMismatch)},
        {"TooManyValues", {udtInteger}, {Variant(1), Variant(2)}, false, -2, Udb(UdbMsg::ParamCountMismatch)},
        {"NoValuesForADeclaredParameter", {udtInteger}, {}, true, 0, Udb(UdbMsg::ParamCountMismatch)},
        {"EmptySecondValueIsNamedByItsNumber", {udtInteger, udtInteger}, {Variant(1), empty}, false, -2,
         Udb("Не задан 2 параметр")},
        {"EmptyFirstValue", {udtString}, {empty}, false, -2, Udb("Не задан 1 параметр")},
        {"NullBlobAccepted", {udtBinary}, {Variant::Null()}, false, -2, ""},
        {"ByteArrayBlobAccepted", {udtBinary}, {Variant(bytes)}, false, -2, ""},
        {"TextBlobRefused", {udtBinary}, {Variant("abc")}, false, -2, Udb(UdbMsg::BadBlobValue)},
        {"PictureIsCheckedAsABlob", {udtPicture}, {Variant(1)}, false, -2, Udb(UdbMsg::BadBlobValue)},
        {"OtherTypesAreNotChecked", {udtString, udtDate}, {Variant(42), Variant("x")}, false, -2, ""},
        {"MissingListWithValuesPromisedAsserts", {udtInteger}, {}, true, 1, Assertion(rtl::SAssertionFailed)},
        {"NegativeCountAsserts", {}, {Variant(1)}, false, -1, Assertion(rtl::SAssertionFailed)},
        {"NoParametersNoValues", {}, {}, true, 0, ""},
    };
    Open();
    for (const CheckParamsCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto command = Command("SELECT", c.types);
        engine.calls.clear();
        const std::int32_t count = c.count == -2 ? static_cast<std::int32_t>(c.values.size()) : c.count;
        EXPECT_EQ(Raised([&] { command->Execute(c.nullValues ? nullptr : c.values.data(), count); }), c.raises);
        EXPECT_EQ(engine.CallsOf({"DoExecute"}).size(), c.raises.empty() ? 1u : 0u);
    }
}

TEST_F(UdbFixture, ARefusedExecutionKeepsThePreviousRowsAffected)
{
    Open();
    const auto command = Command("UPDATE", {udtInteger, udtInteger});
    engine.rowsAffected = 3;
    command->Execute({Variant(1), Variant(2)});
    engine.rowsAffected = 9;
    EXPECT_EQ(Raised([&] { command->Execute({Variant(1)}); }), Udb(UdbMsg::ParamCountMismatch));
    EXPECT_EQ(command->RowsAffected(), 3);
}

struct FormatCase {
    const char* name;
    TUdbDataTypeArray types;
    std::vector<Variant> values;
    std::string expected;
};

TEST(UdbStatementText, FormatParamValuesDescribesEachDeclaredParameter)
{
    const std::string x150(150, 'x');
    const rtl::TDateTime day = rtl::EncodeDate(2020, 1, 2);
    const FormatCase cases[] = {
        {"StringWithItsLengthAndText", {udtString}, {Variant::OleStr("abc")}, "\r\nString(OleStr)[3]=\"abc\""},
        {"LengthInCharacters", {udtString}, {Variant("Привет")}, "\r\nString(String)[6]=\"Привет\""},
        {"LongTextCutToAHundredCharacters", {udtString}, {Variant(x150)},
         "\r\nString(String)[150]=\"" + std::string(100, 'x') + "...\""},
        {"MemoOnlyItsLength", {udtMemo}, {Variant("hello")}, "\r\nMemo(String)[5]"},
        {"BlobOnlyItsByteCount", {udtBinary}, {Variant(rtl::ByteArray{1, 2, 3})}, "\r\nBLOB(Array Byte)[3]"},
        {"PictureIsABlob", {udtPicture}, {Variant(rtl::ByteArray{})}, "\r\nBLOB(Array Byte)[0]"},
        {"IntegerWithItsValue", {udtInteger}, {Variant(42)}, "\r\nInteger(Integer)=42"},
        {"NullValue", {udtInteger}, {Variant::Null()}, "\r\nInteger(Null)=Null"},
        {"EmptyValue", {udtString}, {Variant()}, "\r\nString(Empty)=Empty"},
        {"BooleanText", {udtBoolean}, {Variant(true)}, "\r\nBoolean(Boolean)=True"},
        {"FloatWithAPoint", {udtFloat}, {Variant(1.5)}, "\r\nFloat(Double)=1.5"},
        {"Currency", {udtCurrency}, {Variant(rtl::Currency{15000})}, "\r\nCurrency(Currency)=1.5"},
        {"DateSubtypeIsDateTime", {udtDate}, {Variant::DateTime(day)},
         "\r\nDateTime(Date)=" + rtl::DateTimeToStr(day)},
        {"UnknownBaseType", {0x0900}, {Variant(1)}, "\r\nUnknown(Integer)=1"},
        {"LinesInDeclaredOrder", {udtInteger, udtString}, {Variant(1), Variant("a")},
         "\r\nInteger(Integer)=1\r\nString(String)[1]=\"a\""},
        {"TextOfAValueWithoutTextIsEmpty", {udtString}, {Variant(rtl::ByteArray{1})},
         "\r\nString(Array Byte)[0]=\"\""},
        {"NoParameters", {}, {Variant(1)}, ""},
    };
    for (const FormatCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FormatParamValues(c.types, c.values.data()), c.expected);
    }
    EXPECT_EQ(FormatParamValues({udtInteger}, nullptr), "(Empty Values list)");
}

TEST(UdbStatementText, VarToDisplayStrCutsByCharacters)
{
    const struct {
        const char* name;
        Variant value;
        int maxLen;
        std::string expected;
    } cases[] = {
        {"ShorterTextUncut", Variant("abc"), 5, "abc"},
        {"ExactLengthUncut", Variant("abcde"), 5, "abcde"},
        {"LongerTextCut", Variant("abcdef"), 5, "abcde..."},
        {"CyrillicCutAtCharacters", Variant("Привет"), 3, "При..."},
        {"NoLimit", Variant("abcdef"), 0, "abcdef"},
        {"NumberAsText", Variant(12345), 2, "12..."},
        {"NullIsEmpty", Variant::Null(), 5, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(VarToDisplayStr(c.value, c.maxLen), c.expected);
    }
}

// ---- cursors ------------------------------------------------------------------------

class CursorFixture : public UdbFixture {
protected:
    void SetUp() override { Open(); }

    const std::vector<TUdbFieldDef> fields{
        {"ID", udtInteger, -1, true}, {"NAME", udtString, 40, false}, {"FLAG", udtBoolean, -1, false},
        {"PRICE", udtCurrency, -1, false}, {"WHEN", udtDateTime, -1, false}, {"AMOUNT", udtFloat, -1, false},
        {"DATA", udtBinary, -1, false}, {"NOTE", udtMemo, -1, false}, {"DAY", udtDate, -1, false},
        {"ODD", 0x0900, -1, false}};

    // Row 0 holds a value in every field, row 1 Null in every field.
    rtl::RefPtr<fake::Cursor> MakeCursor()
    {
        std::vector<Variant> values{Variant(7), Variant("Дорога"), Variant(true), Variant(rtl::Currency{25000}),
                                    Variant::DateTime(43831.5), Variant(0.25), Variant(rtl::ByteArray{9, 8}),
                                    Variant("note"), Variant::DateTime(43831.0), Variant::SmallInt(3)};
        std::vector<Variant> nulls(fields.size(), Variant::Null());
        return rtl::MakeRef<fake::Cursor>(db.get(), engine, fields, std::vector<std::vector<Variant>>{values, nulls});
    }
};

struct ResolveCase {
    const char* name;
    Variant field;
    std::int32_t position; // -1 when refused
    std::string raises;
};

TEST_F(CursorFixture, FieldsAreResolvedByPositionOrName)
{
    const auto notFound = [](const char* text) { return Udb(rtl::Format(UdbMsg::FieldNotFound, text)); };
    const ResolveCase cases[] = {
        {"IntegerPosition", Variant(1), 1, ""},
        {"SmallIntPosition", Variant::SmallInt(2), 2, ""},
        {"BytePosition", Variant::Byte(0), 0, ""},
        {"Int64Position", Variant(std::int64_t{3}), 3, ""},
        {"FalseIsPositionZero", Variant(false), 0, ""},
        {"TrueIsPositionMinusOne", Variant(true), -1, notFound("True")},
        {"Name", Variant("NAME"), 1, ""},
        {"NameAsOleStr", Variant::OleStr("NAME"), 1, ""},
        {"NameMatchedAsTheDriverMatchesIt", Variant("name"), -1, notFound("name")},
        {"UnknownName", Variant("ID2"), -1, notFound("ID2")},
        {"PositionPastTheLastField", Variant(10), -1, notFound("10")},
        {"NegativePosition", Variant(-1), -1, notFound("-1")},
        {"PositionBeyondThirtyTwoBits", Variant(std::int64_t{1} << 40), -1, notFound("1099511627776")},
        {"FloatIsNoPosition", Variant(1.0), -1, notFound("1")},
        {"NullRefused", Variant::Null(), -1, Udb(UdbMsg::BadParameter)},
        {"EmptyRefused", Variant(), -1, Udb(UdbMsg::BadParameter)},
    };
    const auto cursor = MakeCursor();
    for (const ResolveCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::int32_t position = -1;
        EXPECT_EQ(Raised([&] { position = cursor->ResolveField(c.field); }), c.raises);
        EXPECT_EQ(position, c.position);
    }
}

struct GetterCase {
    const char* name;
    std::function<Variant(IUdbCursor&)> get;
    Variant onValue; // row 0
    Variant onNull;  // row 1: the default
};

TEST_F(CursorFixture, GettersReturnTheValueOrTheDefaultForNull)
{
    const rtl::ByteArray data{9, 8};
    const GetterCase cases[] = {
        {"IsNull", [](IUdbCursor& c) { return Variant(c.IsNull("ID")); }, Variant(false), Variant(true)},
        {"AsInteger", [](IUdbCursor& c) { return Variant(c.AsInteger("ID", 5)); }, Variant(7), Variant(5)},
        {"AsBoolean", [](IUdbCursor& c) { return Variant(c.AsBoolean("FLAG", false)); }, Variant(true),
         Variant(false)},
        {"AsFloat", [](IUdbCursor& c) { return Variant(c.AsFloat("AMOUNT", 1.5)); }, Variant(0.25), Variant(1.5)},
        {"AsCurrency", [](IUdbCursor& c) { return Variant(c.AsCurrency("PRICE", rtl::Currency{1})); },
         Variant(rtl::Currency{25000}), Variant(rtl::Currency{1})},
        {"AsDateTime", [](IUdbCursor& c) { return Variant(c.AsDateTime("WHEN", 2.0)); }, Variant(43831.5),
         Variant(2.0)},
        {"AsString", [](IUdbCursor& c) { return Variant(c.AsString("NAME", "нет")); }, Variant("Дорога"),
         Variant("нет")},
        {"AsStringOfANumber", [](IUdbCursor& c) { return Variant(c.AsString(0, "-")); }, Variant("7"),
         Variant("-")},
        {"AsBlob", [](IUdbCursor& c) { return c.AsBlob("DATA"); }, Variant(data), Variant::Null()},
        {"DataSizeFromTheDriver", [](IUdbCursor& c) { return Variant(c.DataSize("NAME")); }, Variant(40),
         Variant(40)},
    };
    for (const GetterCase& c : cases) {
        SCOPED_TRACE(c.name);
        const auto cursor = MakeCursor();
        const Variant onValue = c.get(*cursor);
        EXPECT_EQ(onValue.VarType(), c.onValue.VarType());
        EXPECT_TRUE(onValue.Equals(c.onValue)) << onValue.AsString();
        cursor->Next();
        const Variant onNull = c.get(*cursor);
        EXPECT_EQ(onNull.VarType(), c.onNull.VarType());
        EXPECT_TRUE(onNull.Equals(c.onNull));
    }
}

TEST_F(CursorFixture, GetValueGivesTheFieldsBaseType)
{
    const struct {
        const char* field;
        rtl::TVarType type;
        Variant value;
    } cases[] = {
        {"ID", rtl::varInteger, Variant(7)},
        {"NAME", rtl::varOleStr, Variant::OleStr("Дорога")},
        {"FLAG", rtl::varBoolean, Variant(true)},
        {"PRICE", rtl::varCurrency, Variant(rtl::Currency{25000})},
        {"WHEN", rtl::varDate, Variant::DateTime(43831.5)},
        {"DAY", rtl::varDate, Variant::DateTime(43831.0)},
        {"AMOUNT", rtl::varDouble, Variant(0.25)},
        {"DATA", rtl::varByteArray, Variant(rtl::ByteArray{9, 8})},
        {"NOTE", rtl::varOleStr, Variant::OleStr("note")},
        {"ODD", rtl::varSmallint, Variant::SmallInt(3)}, // another type: as the driver gives it
    };
    const auto cursor = MakeCursor();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.field);
        const Variant v = cursor->GetValue(c.field);
        EXPECT_EQ(v.VarType(), c.type);
        EXPECT_TRUE(v.Equals(c.value));
    }
    cursor->Next();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string("null ") + c.field);
        EXPECT_TRUE(cursor->GetValue(c.field).IsNull());
    }
}

TEST_F(CursorFixture, AtTheEndValuesAreRefusedWhileTheStructureStillAnswers)
{
    const auto cursor = MakeCursor();
    cursor->Next();
    cursor->Next();
    ASSERT_TRUE(cursor->Eof());
    const std::string atEnd = Udb(UdbMsg::CursorClosed);
    EXPECT_EQ(Raised([&] { cursor->AsString("NAME", ""); }), atEnd);
    EXPECT_EQ(Raised([&] { cursor->IsNull(0); }), atEnd);
    EXPECT_EQ(Raised([&] { cursor->AsBlob("DATA"); }), atEnd);
    EXPECT_EQ(Raised([&] { cursor->GetValue(0); }), atEnd);
    EXPECT_EQ(Raised([&] { cursor->DataSize(0); }), atEnd);
    EXPECT_EQ(cursor->FieldType("NAME"), udtString);
    EXPECT_EQ(cursor->FieldName(2), "FLAG");
    EXPECT_EQ(cursor->FieldIndex("DAY"), 8);
    EXPECT_EQ(cursor->FieldCount(), 10);
}

TEST_F(CursorFixture, FieldNameRefusesAPositionOutsideTheFields)
{
    const auto cursor = MakeCursor();
    EXPECT_EQ(Raised([&] { cursor->FieldName(10); }), Udb(rtl::Format(UdbMsg::FieldNotFound, "10")));
    EXPECT_EQ(Raised([&] { cursor->FieldName(-1); }), Udb(rtl::Format(UdbMsg::FieldNotFound, "-1")));
}

TEST_F(CursorFixture, CloseAlwaysReleasesWhatTheEngineHolds)
{
    const auto cursor = MakeCursor();
    cursor->Close();
    EXPECT_TRUE(cursor->Eof());
    EXPECT_EQ(engine.cursorCloses, 1);
    cursor->Close(); // at its end already: the engine is asked again and must not mind
    EXPECT_EQ(engine.cursorCloses, 2);

    const auto exhausted = MakeCursor();
    exhausted->Next();
    exhausted->Next();
    ASSERT_TRUE(exhausted->Eof());
    exhausted->Close();
    EXPECT_EQ(engine.cursorCloses, 3);
}

TEST_F(CursorFixture, DriverValuesOfTheWrongKindAreAssertions)
{
    const auto wrongBlob = rtl::MakeRef<fake::Cursor>(db.get(), engine, std::vector<TUdbFieldDef>{{"B", udtBinary, -1, false}},
                                                      std::vector<std::vector<Variant>>{{Variant("not bytes")}});
    EXPECT_EQ(Raised([&] { wrongBlob->AsBlob("B"); }), Assertion(UdbMsg::BlobMustBeByteArray));
    const auto unassigned = rtl::MakeRef<fake::Cursor>(db.get(), engine, std::vector<TUdbFieldDef>{{"U", 0x0900, -1, false}},
                                                       std::vector<std::vector<Variant>>{{Variant()}});
    EXPECT_EQ(Raised([&] { unassigned->GetValue("U"); }), Assertion(UdbMsg::UnassignedCursorValue));
}

TEST_F(UdbFixture, AnObjectNeedsADatabase)
{
    fake::Engine other;
    EXPECT_EQ(Raised([&] { rtl::MakeRef<fake::Command>(nullptr, other); }),
              Assertion(UdbMsg::ObjectNotInitialized));
}

// ---- table definitions ----------------------------------------------------------------

class TableDefFixture : public UdbFixture {
protected:
    void SetUp() override
    {
        Open();
        engine.tables.push_back({"A",
                                 {{"A", udtInteger, -1, true}, {"C", udtString, 20, false}},
                                 {{"PK", "A", true, true}, {"IX_AC", "A;C", false, false}}});
    }
    std::vector<std::string> TableCalls() const
    {
        return engine.CallsOf({"DoTableExists", "DoCreateTable", "DoReadTableDef", "DoAlterTable"});
    }
    static std::vector<std::string> IndexFields(IUdbTableDef& def)
    {
        std::vector<std::string> out;
        for (std::int32_t i = 0; i < def.IndexCount(); ++i) out.push_back(def.GetIndexDef(i).Fields);
        return out;
    }
};

TEST_F(TableDefFixture, ANewDefinitionIsCreatedWithItsIndexesAndReadBack)
{
    const auto def = db->GetTableDef("  ");
    EXPECT_TRUE(TableCalls().empty()); // a blank name reads nothing
    EXPECT_EQ(def->FieldCount(), 0);
    EXPECT_EQ(def->IndexCount(), 0);
    EXPECT_FALSE(def->IsModified());

    def->AddField({"ID", udtInteger, -1, true});
    def->AddField({"NAME", udtString, 40, false});
    def->AddIndex({"ignored", " ID ; ", true, true});
    EXPECT_EQ(def->GetIndexDef(0), (TUdbIndexDef{"", "ID", true, true})); // the record's name is not used
    def->SetTableName("ROADS");
    EXPECT_TRUE(def->IsModified());
    def->Apply();

    EXPECT_EQ(TableCalls(), (std::vector<std::string>{"DoCreateTable(ROADS, with indexes)", "DoReadTableDef(ROADS)"}));
    EXPECT_FALSE(def->IsModified());
    EXPECT_EQ(def->GetTableName(), "ROADS");
    EXPECT_EQ(def->GetIndexDef(0).Name, "IDX0"); // as the engine named it
    EXPECT_EQ(def->GetFieldDef(1), (TUdbFieldDef{"NAME", udtString, 40, false}));
}

TEST_F(TableDefFixture, AnExistingTableIsAlteredAndReadBack)
{
    const auto def = db->GetTableDef("A");
    engine.calls.clear();
    def->SetFieldDef(0, {"B", udtInteger, -1, true}, true);
    def->Apply();
    EXPECT_EQ(TableCalls(),
              (std::vector<std::string>{"DoTableExists(A)", "DoAlterTable(A -> A)", "DoReadTableDef(A)"}));
    EXPECT_EQ(engine.tables[0].fields[0].Name, "B");
    EXPECT_EQ(IndexFields(*def), (std::vector<std::string>{"B", "B;C"}));
}

TEST_F(TableDefFixture, ApplyAndItsTransactionRule)
{
    const auto def = db->GetTableDef("A");
    engine.calls.clear();
    def->Apply(); // nothing edited: nothing happens, not even a re-read
    EXPECT_TRUE(TableCalls().empty());

    db->StartTransaction();
    EXPECT_EQ(Raised([&] { def->Apply(); }), Udb(UdbMsg::DdlInTransaction));
    def->AddField({"D", udtFloat, -1, false});
    EXPECT_EQ(Raised([&] { def->Apply(); }), Udb(UdbMsg::DdlInTransaction));
    EXPECT_TRUE(TableCalls().empty());
    EXPECT_EQ(def->FieldCount(), 3); // the edit is kept
    db->Rollback();
}

TEST_F(TableDefFixture, RefreshDropsUnappliedEdits)
{
    const auto def = db->GetTableDef("A");
    def->AddField({"D", udtFloat, -1, false});
    def->DeleteIndex(0);
    def->Refresh();
    EXPECT_EQ(def->FieldCount(), 2);
    EXPECT_EQ(def->IndexCount(), 2);
    EXPECT_FALSE(def->IsModified());
}

struct RenameCase {
    const char* name;
    const char* indexFields;
    TUdbFieldDef newDef;
    bool renameInIndexes;
    std::string expectedFields;
    std::optional<std::string> isModifiedRaises; // not asked when absent
};

TEST_F(TableDefFixture, RenamingAFieldCanFollowItIntoTheIndexes)
{
    const std::string missing = Assertion("In TableDef not found field, defined in index fields list");
    const RenameCase cases[] = {
        {"RenamedInIndexes", "A;C", {"B", udtInteger, -1, true}, true, "B;C", ""},
        {"IndexNamesTheFieldInAnotherLetterCase", "a;C", {"B", udtInteger, -1, true}, true, "B;C", std::nullopt},
        {"WithoutTheFlagTheIndexKeepsTheOldName", "A;C", {"B", udtInteger, -1, true}, false, "A;C", missing},
        {"SameNameTouchesNoIndex", "A;C", {"A", udtFloat, -1, true}, true, "A;C", ""},
    };
    for (const RenameCase& c : cases) {
        SCOPED_TRACE(c.name);
        engine.tables[0].indexes = {{"IX", c.indexFields, false, false}};
        const auto def = db->GetTableDef("A");
        def->SetFieldDef(0, c.newDef, c.renameInIndexes);
        EXPECT_EQ(def->GetFieldDef(0), c.newDef);
        EXPECT_EQ(def->GetIndexDef(0).Fields, c.expectedFields);
        if (!c.isModifiedRaises) continue;
        EXPECT_EQ(Raised([&] { EXPECT_TRUE(def->IsModified()); }), *c.isModifiedRaises);
        if (!c.isModifiedRaises->empty()) {
            EXPECT_EQ(Raised([&] { def->Apply(); }), *c.isModifiedRaises);
        }
    }
}

TEST_F(TableDefFixture, DeletingAFieldCanTakeItOutOfTheIndexes)
{
    const auto def = db->GetTableDef("A");
    def->DeleteField(0, true);
    EXPECT_EQ(def->FieldCount(), 1);
    EXPECT_EQ(IndexFields(*def), (std::vector<std::string>{"C"})); // the index on A alone went with it

    const auto keep = db->GetTableDef("A");
    keep->DeleteField(0, false);
    EXPECT_EQ(IndexFields(*keep), (std::vector<std::string>{"A", "A;C"}));
}

TEST_F(TableDefFixture, FieldAndIndexLookups)
{
    engine.tables[0].fields.push_back({"ПОЛЕ", udtString, 10, false});
    engine.tables[0].indexes = {{"I1", "C;A;ПОЛЕ", false, false}, {"I2", "A", true, true}};
    const auto def = db->GetTableDef("A");
    const struct {
        const char* name;
        std::function<std::int32_t()> lookup;
        std::int32_t expected;
    } cases[] = {
        {"FieldIgnoresLatinCase", [&] { return def->FieldIndex("c"); }, 1},
        {"FieldKeepsCyrillicCase", [&] { return def->FieldIndex("поле"); }, -1},
        {"FieldCyrillicExact", [&] { return def->FieldIndex("ПОЛЕ"); }, 2},
        {"UnknownField", [&] { return def->FieldIndex("Z"); }, -1},
        {"IndexHoldingEveryNameInAnyOrder", [&] { return def->FindIndex("A;C"); }, 0},
        {"IndexNamesIgnoreLatinCase", [&] { return def->FindIndex(" a ; c "); }, 0},
        {"FirstIndexHoldingTheName", [&] { return def->FindIndex("A"); }, 0},
        {"NoIndexHoldsAllNames", [&] { return def->FindIndex("A;Z"); }, -1},
        {"NoNamesFindNothing", [&] { return def->FindIndex(" ; ;"); }, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.lookup(), c.expected);
    }
}

TEST_F(TableDefFixture, EditingOperationsWorkOnTheEditedDefinition)
{
    const auto def = db->GetTableDef("A");
    def->MoveField(1, 0);
    EXPECT_EQ(def->GetFieldDef(0).Name, "C");
    def->SetIndexDef(1, {"NEWNAME", " C ;; A ", true, false});
    EXPECT_EQ(def->GetIndexDef(1), (TUdbIndexDef{"IX_AC", "C;A", true, false})); // the index keeps its name
    EXPECT_TRUE(def->IsModified());
    EXPECT_EQ(Raised([&] { def->GetFieldDef(5); }).rfind("Exception: ", 0), 0u);
    EXPECT_EQ(Raised([&] { def->DeleteIndex(-1); }).rfind("Exception: ", 0), 0u);
}

// ---- quote-aware replacement ---------------------------------------------------------

TEST(ReplaceCharsOutsideQuotes, ReplacesOnlyOutsideLiterals)
{
    const std::vector<std::string> quotes{"\"", "\""};
    const struct {
        const char* name;
        std::string text;
        std::u32string chars;
        std::vector<std::string> replacements;
        std::string expected;
    } cases[] = {
        {"BracketsBecomeQuotesOutsideLiterals", "SELECT [A].[X] FROM [A] WHERE [A].[N]='[x]'", U"[]", quotes,
         "SELECT \"A\".\"X\" FROM \"A\" WHERE \"A\".\"N\"='[x]'"},
        {"DoubleQuotedLiteralKept", "[x] \"[y]\" [z]", U"[]", quotes, "\"x\" \"[y]\" \"z\""},
        {"OtherQuoteInsideALiteralIsText", "'a\"[b' [c]", U"[]", quotes, "'a\"[b' \"c\""},
        {"ClosingQuoteIsLookedUp", "'ab'c", U"'", {"#"}, "'ab#c"},
        {"UnclosedLiteralRunsToTheEnd", "[a] '[b", U"[]", quotes, "\"a\" '[b"},
        {"FirstMatchWins", "[x", U"[[", {"<", ">"}, "<x"},
        {"EmptyReplacementsRemove", "[x]", U"[]", {"", ""}, "x"},
        {"CyrillicTextAndChars", "[Поле] 'П' П", U"[]П", {"\"", "\"", "P"}, "\"Pоле\" 'П' P"},
        {"NothingToReplace", "abc", U"", {}, "abc"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ReplaceCharsOutsideQuotes(c.text, c.chars, c.replacements), c.expected);
    }
    EXPECT_EQ(Raised([] { ReplaceCharsOutsideQuotes("[x]", U"[]", {"\""}); }),
              Assertion(UdbMsg::InvalidParameters));
}

} // namespace
