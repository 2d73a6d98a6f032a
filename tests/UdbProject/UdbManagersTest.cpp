// Tests of the driver manager: the driver list built from the registry and
// from real driver libraries (copies of the SQLite test library in a folder
// of the test's own), exact name lookups, request routing, database creation
// and the libraries' lifetime.
#include "tests/support/TempFolder.h"
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "CoreLib/SimpleParams.h"
#include "CoreLib/SimpleXML.h"
#include "UdbProject/UdbDrivers.h"
#include "UdbProject/UdbManagers.h"
#include "platform/rtl/SysUtils.h"
#include "tests/UdbProject/DriverRequests.h"
#include "tests/UdbProject/FakeDriver.h"
#include "tests/support/SqliteUdb.h"

namespace {

namespace fs = std::filesystem;
using fake::Assertion;
using fake::DriverNames;
using fake::General;
using fake::Parse;
using fake::Raised;

const std::string kBuiltLibrary = std::string(PARVANE_TEST_DRIVER_DIR) + "/libUdbTestSqlite.so";
// The same library without its entry point XMLRequest.
const std::string kLibraryWithoutRequest = std::string(PARVANE_TEST_DRIVER_DIR) + "/libUdbTestNoRequest.so";
// The same library without a file version.
const std::string kLibraryWithoutVersion = std::string(PARVANE_TEST_DRIVER_DIR) + "/libUdbTestNoVersion.so";

// Whether the library file is loaded into the process.
bool InProcess(const std::string& file)
{
    void* handle = dlopen(file.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle) dlclose(handle);
    return handle != nullptr;
}

// The shared test folder, named with its trailing "/" as the manager takes
// a program folder, with the files the manager scans.
class TempFolder : public testing_support::TempFolder {
public:
    TempFolder() : slashed_(testing_support::TempFolder::Path() + "/") {}

    const std::string& Path() const { return slashed_; }

    // A copy of the built test library under name.
    std::string AddLibrary(const std::string& name, const std::string& from = kBuiltLibrary) const
    {
        fs::copy_file(from, File(name), fs::copy_options::overwrite_existing);
        return File(name);
    }
    void AddText(const std::string& name, const std::string& text) const { std::ofstream(File(name)) << text; }

private:
    std::string slashed_;
};

// The file of the SQLite shared library: an ELF file without the entry points.
std::string SqliteLibraryFile()
{
    Dl_info info{};
    if (!dladdr(reinterpret_cast<void*>(&sqlite3_libversion), &info) || !info.dli_fname) return {};
    return info.dli_fname;
}

rtl::RefPtr<TUdbManager> Manager(const std::string& folder, TUdbDriverList* registry = nullptr)
{
    return rtl::RefPtr<TUdbManager>(new TUdbManager(folder, registry));
}

// The manager's names in lookup order, each with the file of its library ("" when built in).
std::vector<std::string> Known(const TUdbManager& manager)
{
    std::vector<std::string> out;
    for (const TDrvInfo& info : manager.Drivers())
        out.push_back(info.Definition->GetAttr("name") +
                      (info.Module ? " @" + rtl::ExtractFileName(info.Module->FileName()) : std::string()));
    return out;
}

const std::vector<std::string> kBuiltIns = {"BDE.Paradox", "ADO.MSSQL", "ADO.ORACLE"};

std::vector<std::string> BuiltInsAnd(std::vector<std::string> more)
{
    std::vector<std::string> all = kBuiltIns;
    all.insert(all.end(), more.begin(), more.end());
    return all;
}

// A parameter document as the connection-parameter frame writes it.
std::string SqliteParams(const std::string& file)
{
    return "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n"
           "<driver name=\"Test.SQLite\" caption=\"SQLite (test)\">"
           "<param name=\"file\">" +
           XmlEscape(file) + "</param></driver>";
}

// Writes a row into the table "items" (made when missing) and returns how many rows it holds.
std::int32_t AddItem(IUdb& db, std::int32_t id)
{
    if (!db.TableExists("items"))
        (void)db.CreateCommand("CREATE TABLE items (id INTEGER, name VARCHAR(20))", nullptr, 0, false)
            ->Execute(nullptr, 0);
    (void)PrepareInsert(db, "items", {UdbIntParam("id"), UdbStrParam("name")}, true)
        ->Execute({rtl::Variant(id), rtl::Variant("элемент")});
    std::int32_t count = 0;
    for (const rtl::RefPtr<IUdbCursor> cursor = SelectAll(db, "items"); !cursor->Eof(); cursor->Next()) {
        EXPECT_EQ(cursor->AsString("name", ""), "элемент");
        ++count;
    }
    return count;
}

class UdbManagersTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterBuiltInDrivers(); }

    TempFolder folder_;
};

// A driver of a registry of the test's own, over the SQLite driver of the program.
class TOwnSqliteDriver : public TUdbDriver {
public:
    explicit TOwnSqliteDriver(std::string name) : TUdbDriver(std::move(name), UdbClassOf<TSqliteUdb>()) {}
    void LoadDefinition() override
    {
        const std::string xml = "<driver name=\"" + XmlEscape(Name()) + "\" caption=\"Built in\"/>";
        SetDefinition(Parse(xml)->Get_DocumentElement());
    }
};

std::unique_ptr<TUdbDriverList> RegistryWith(const std::vector<std::string>& names)
{
    auto list = std::make_unique<TUdbDriverList>();
    for (const std::string& name : names) list->Add(std::make_unique<TOwnSqliteDriver>(name));
    return list;
}

// ---- library files --------------------------------------------------------------------------

TEST(UdbManagersFiles, DriverLibraryNames)
{
    struct Case {
        const char* name;
        bool library;
    };
    const Case cases[] = {
        {"libUdbTestSqlite.so", true}, {"libUdb.so", true},         {"libUdbX.so", true},
        {"libudbX.so", false},         {"UdbX.so", false},          {"libUdbX.so.1", false},
        {"libUdbX.dll", false},        {"libUdbX.so.bak", false},   {"xlibUdbX.so", false},
        {"libUd.so", false},           {"libUdb", false},           {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(IsDriverLibraryName(c.name), c.library) << c.name;
}

// ---- the driver list ----------------------------------------------------------------------------

TEST_F(UdbManagersTest, QueryDriversFromBuiltInsAndLibraries)
{
    struct Case {
        const char* what;
        std::vector<std::string> libraries;
        std::vector<std::string> drivers;
    };
    const Case cases[] = {
        {"no library", {}, kBuiltIns},
        {"the test library", {"libUdbTestSqlite.so"}, BuiltInsAnd({"Test.SQLite"})},
        {"a library that is not named as one", {"UdbTestSqlite.so"}, kBuiltIns},
    };
    for (const Case& c : cases) {
        const TempFolder folder;
        for (const std::string& name : c.libraries) folder.AddLibrary(name);
        const auto manager = Manager(folder.Path());
        const IXmlDocumentPtr answer = Parse(manager->XMLRequest("<query-drivers/>"));
        ASSERT_TRUE(answer->Get_DocumentElement()) << c.what;
        EXPECT_EQ(answer->Get_DocumentElement()->Get_NodeName(), "response") << c.what;
        EXPECT_EQ(DriverNames(answer), c.drivers) << c.what;
    }
}

TEST_F(UdbManagersTest, DefinitionsAreCopiedAsTheirDriversGiveThem)
{
    const std::string library = folder_.AddLibrary("libUdbTestSqlite.so");
    const auto manager = Manager(folder_.Path());
    const IXmlDocumentPtr answer = Parse(manager->XMLRequest("<query-drivers/>"));
    ASSERT_TRUE(answer->Get_DocumentElement());
    const IXmlNodeListPtr drivers = answer->Get_DocumentElement()->SelectNodes("driver");
    ASSERT_EQ(drivers->Get_Count(), 4);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(drivers->Get_Item(i)->Get_XML(), DriverList().Items(i).GetDefinition()->Get_XML());

    const IXmlNodePtr own = drivers->Get_Item(3);
    EXPECT_EQ(own->GetAttr("caption"), "SQLite (test)");
    EXPECT_EQ(own->SelectSingleNode("param")->GetAttr("name"), "file");
    const ISimpleParamsPtr vendor = CreateSimpleParams(own->SelectSingleNode("vendor"), false);
    EXPECT_EQ(vendor->GetStr("file", ""), library) << "the library names its own file";
}

// A library's driver carries the library's own version, not the program's.
TEST_F(UdbManagersTest, LibraryDriversAnswerTheVersionTheirLibraryDeclares)
{
    const struct {
        const char* what;
        std::string from;
        std::string version;
    } cases[] = {
        {"a library with a version", kBuiltLibrary, PARVANE_TEST_DRIVER_VERSION},
        {"a library without one", kLibraryWithoutVersion, "Unknown version"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const TempFolder folder;
        folder.AddLibrary("libUdbTestSqlite.so", c.from);
        const auto manager = Manager(folder.Path());
        const IXmlDocumentPtr answer = Parse(manager->XMLRequest("<query-drivers/>"));
        ASSERT_TRUE(answer->Get_DocumentElement());
        const IXmlNodeListPtr drivers = answer->Get_DocumentElement()->SelectNodes("driver");
        ASSERT_EQ(drivers->Get_Count(), 4);
        const auto version = [&](int i) {
            return CreateSimpleParams(drivers->Get_Item(i)->SelectSingleNode("vendor"), false)->GetStr("version", "");
        };
        for (int i = 0; i < 3; ++i) EXPECT_EQ(version(i), PARVANE_VERSION) << "built-in driver " << i;
        EXPECT_EQ(version(3), c.version);
    }
}

TEST_F(UdbManagersTest, BuiltInsWinThenTheFirstLibraryBySortedName)
{
    struct Case {
        const char* what;
        std::vector<std::string> registry;  // the built-in drivers, of a registry of the test's own
        std::vector<std::string> libraries; // copied in this order
        std::vector<std::string> known;
        std::vector<std::string> modules;
    };
    const Case cases[] = {
        {"one library", {"Test.Built"}, {"libUdbTestSqlite.so"}, {"Test.Built", "Test.SQLite @libUdbTestSqlite.so"},
         {"libUdbTestSqlite.so"}},
        {"a built-in driver of the same name", {"Test.SQLite"}, {"libUdbTestSqlite.so"}, {"Test.SQLite"}, {}},
        {"a built-in driver differing in case", {"test.sqlite"}, {"libUdbTestSqlite.so"},
         {"test.sqlite", "Test.SQLite @libUdbTestSqlite.so"}, {"libUdbTestSqlite.so"}},
        {"two libraries, copied in reverse order", {}, {"libUdbB.so", "libUdbA.so"},
         {"Test.SQLite @libUdbA.so"}, {"libUdbA.so"}},
    };
    for (const Case& c : cases) {
        const TempFolder folder;
        for (const std::string& name : c.libraries) folder.AddLibrary(name);
        const auto registry = RegistryWith(c.registry);
        const auto manager = Manager(folder.Path(), registry.get());
        manager->Refresh();
        EXPECT_EQ(Known(*manager), c.known) << c.what;
        std::vector<std::string> modules;
        for (const auto& module : manager->Modules()) modules.push_back(rtl::ExtractFileName(module->FileName()));
        EXPECT_EQ(modules, c.modules) << c.what;
    }
}

TEST_F(UdbManagersTest, BuiltInDriverOfTheSameNameMakesTheDatabase)
{
    folder_.AddLibrary("libUdbTestSqlite.so");
    const auto registry = RegistryWith({"Test.SQLite"});
    const auto manager = Manager(folder_.Path(), registry.get());
    const rtl::RefPtr<IUdb> db = manager->CreateDatabase(SqliteParams(folder_.File("base.db")), true);
    EXPECT_EQ(db->GetParams()->GetStr("Udb\\DriverLibrary", ""), rtl::ProgramFileName());
}

TEST_F(UdbManagersTest, LookupsCompareNamesExactly)
{
    folder_.AddLibrary("libUdbTestSqlite.so");
    const auto manager = Manager(folder_.Path());
    manager->Refresh();
    struct Case {
        const char* name;
        bool found;
        bool library;
    };
    const Case cases[] = {
        {"Test.SQLite", true, true}, {"test.sqlite", false, false}, {" Test.SQLite", false, false},
        {"ADO.MSSQL", true, false},  {"ado.mssql", false, false},   {"BDE.Paradox", true, false},
        {"", false, false},
    };
    for (const Case& c : cases) {
        const TDrvInfo* info = manager->FindDriver(c.name);
        EXPECT_EQ(info != nullptr, c.found) << c.name;
        if (info) {
            EXPECT_EQ(info->Module != nullptr, c.library) << c.name;
        }
    }
}

// ---- creating databases ----------------------------------------------------------------------

TEST_F(UdbManagersTest, CreateDatabaseThroughBuiltInsAndTheLibrary)
{
    folder_.AddLibrary("libUdbTestSqlite.so");
    const auto manager = Manager(folder_.Path());
    const std::string good = SqliteParams(folder_.File("base.db"));
    const std::string unopenable = SqliteParams(folder_.File("missing/base.db"));
    // A library's failure arrives as the general exception with the driver's message.
    std::string openError;
    try {
        rtl::RefPtr<TSqliteUdb>(new TSqliteUdb())->Open(unopenable);
    } catch (const rtl::Exception& e) {
        openError = General(e.Message());
    }
    ASSERT_NE(openError, "");
    struct Case {
        const char* what;
        std::string params;
        bool open;
        std::string raised;
        bool isOpen;
    };
    const Case cases[] = {
        {"built-in, closed", "<driver name=\"BDE.Paradox\"/>", false, "", false},
        {"built-in, opened",
         "<driver name=\"BDE.Paradox\"><param name=\"folder\">" + XmlEscape(folder_.Path()) + "</param></driver>",
         true, "", true},
        {"built-in in another case", "<driver name=\"bde.paradox\"/>", false,
         General("Driver \"bde.paradox\" not found. Can't open base"), false},
        {"library, closed", good, false, "", false},
        {"library, opened", good, true, "", true},
        {"library, open fails with the driver's message", unopenable, true, openError, false},
        {"library driver in another case", "<driver name=\"test.sqlite\"/>", true,
         General("Driver \"test.sqlite\" not found. Can't open base"), false},
        {"unknown driver", "<driver name=\"Test.Nope\"/>", false,
         General("Driver \"Test.Nope\" not found. Can't open base"), false},
        {"no name", "<driver/>", false, General("Driver \"\" not found. Can't open base"), false},
        {"empty text", "", false, General("Invalid query"), false},
        {"not XML", "hello", true, General("Invalid query"), false},
    };
    for (const Case& c : cases) {
        rtl::RefPtr<IUdb> db;
        EXPECT_EQ(Raised([&] { db = manager->CreateDatabase(c.params, c.open); }), c.raised) << c.what;
        if (c.raised.empty()) {
            ASSERT_TRUE(db) << c.what;
            EXPECT_EQ(db->IsOpen(), c.isOpen) << c.what;
        }
    }
    EXPECT_NE(Raised([&] { (void)manager->CreateDatabase("<driver name=\"Test.SQLite\"", false); }), "")
        << "a parse error passes on";
}

TEST_F(UdbManagersTest, LibraryDatabaseWorksOnARealFile)
{
    const std::string library = folder_.AddLibrary("libUdbTestSqlite.so");
    const std::string file = folder_.File("base.db");
    const auto manager = Manager(folder_.Path());

    const rtl::RefPtr<IUdb> closed = manager->CreateDatabase(SqliteParams(file), false);
    EXPECT_FALSE(closed->IsOpen());
    closed->Open(SqliteParams(file));
    EXPECT_EQ(AddItem(*closed, 1), 1);
    EXPECT_EQ(closed->GetParams()->GetStr("Udb\\DriverLibrary", ""), library) << "made by the library's code";
    closed->Close();

    const rtl::RefPtr<IUdb> opened = manager->CreateDatabase(SqliteParams(file), true);
    EXPECT_EQ(AddItem(*opened, 2), 2);
    EXPECT_EQ(opened->GetParams()->GetStr("Udb\\DriverName", ""), "Test.SQLite");
    opened->Close();

    // What the library wrote is in the file.
    const rtl::RefPtr<TSqliteUdb> direct = OpenSqliteUdb(file);
    EXPECT_EQ(AddItem(*direct, 3), 3);
}

// ---- routing XML requests ------------------------------------------------------------------------

TEST_F(UdbManagersTest, RequestsReachTheNamedDriver)
{
    folder_.AddLibrary("libUdbTestSqlite.so");
    const std::string file = folder_.File("lookup.db");
    {
        const rtl::RefPtr<TSqliteUdb> db = OpenSqliteUdb(file);
        for (const char* table : {"beta", "alpha"})
            (void)db->CreateCommand(std::string("CREATE TABLE ") + table + " (id INTEGER)", nullptr, 0, false)
                ->Execute(nullptr, 0);
    }
    const auto manager = Manager(folder_.Path());
    const std::string lookup = "<query-lookup-values driver-name=\"Test.SQLite\" param-name=\"table\">"
                               "<param name=\"file\">" + XmlEscape(file) + "</param></query-lookup-values>";
    const IXmlDocumentPtr answer = Parse(manager->XMLRequest(lookup));
    ASSERT_TRUE(answer->Get_DocumentElement());
    const IXmlNodeListPtr values = answer->Get_DocumentElement()->SelectNodes("value");
    ASSERT_EQ(values->Get_Count(), 2);
    EXPECT_EQ(values->Get_Item(0)->Get_Text(), "alpha");
    EXPECT_EQ(values->Get_Item(1)->Get_Text(), "beta");

    struct Case {
        const char* what;
        const char* request;
        std::string raised;
    };
    const Case cases[] = {
        {"library without that request", "<query-other driver-name=\"Test.SQLite\"/>",
         General("Unknown request \"query-other\"")},
        {"built-in without that request", "<query-lookup-values driver-name=\"BDE.Paradox\"/>",
         General("Unknown request \"query-lookup-values\"")},
        {"unknown driver", "<query-lookup-values driver-name=\"Nope\"/>",
         General("Drv: Invalid query syntaxis. Driver \"Nope\" not found")},
        {"library driver in another case", "<query-lookup-values driver-name=\"test.sqlite\"/>",
         General("Drv: Invalid query syntaxis. Driver \"test.sqlite\" not found")},
        {"built-in driver in another case", "<query-lookup-values driver-name=\"ado.mssql\"/>",
         General("Drv: Invalid query syntaxis. Driver \"ado.mssql\" not found")},
        {"no driver name", "<query-lookup-values/>", General("Не задан атрибут \"driver-name\"")},
        {"empty text", "", General("Invalid query")},
        {"not XML", "hello", General("Invalid query")},
        {"only a declaration", "<?xml version=\"1.0\"?>", General("Invalid query")},
    };
    for (const Case& c : cases) EXPECT_EQ(Raised([&] { (void)manager->XMLRequest(c.request); }), c.raised) << c.what;
}

// ---- scanning ------------------------------------------------------------------------------------

TEST_F(UdbManagersTest, BrokenLibrariesAreSkipped)
{
    const std::string sqlite = SqliteLibraryFile();
    ASSERT_NE(sqlite, "");
    folder_.AddLibrary("libUdbAFails.so");           // fails every request
    folder_.AddText("libUdbBNotElf.so", "not a library");
    fs::copy_file(sqlite, folder_.File("libUdbCNoEntry.so")); // an ELF file without the entry points
    fs::create_directory(folder_.File("libUdbDFolder.so"));
    folder_.AddText("libUdbEEmpty.so", "");
    folder_.AddLibrary("libUdbTestSqlite.so");

    const auto manager = Manager(folder_.Path());
    EXPECT_EQ(Raised([&] { manager->Refresh(); }), "");
    EXPECT_EQ(Known(*manager), BuiltInsAnd({"Test.SQLite @libUdbTestSqlite.so"}));
    ASSERT_EQ(manager->Modules().size(), 1u);
    EXPECT_EQ(manager->Modules()[0]->FileName(), folder_.File("libUdbTestSqlite.so"));
    EXPECT_FALSE(manager->Modules()[0]->Loaded()) << "a scanned library is loaded again on first use";
}

TEST_F(UdbManagersTest, AnswerWithoutRootFailsTheScanAfterTheOthersLoaded)
{
    folder_.AddLibrary("libUdbANoRoot.so");
    folder_.AddLibrary("libUdbTestSqlite.so");
    const auto manager = Manager(folder_.Path());
    EXPECT_EQ(Raised([&] { manager->Refresh(); }), Assertion("Invalid XML document"));
    EXPECT_EQ(Known(*manager), BuiltInsAnd({"Test.SQLite @libUdbTestSqlite.so"}));

    for (int attempt = 0; attempt < 2; ++attempt) {
        EXPECT_EQ(Raised([&] { (void)manager->XMLRequest("<query-drivers/>"); }), Assertion("Invalid XML document"))
            << "attempt " << attempt;
        EXPECT_FALSE(manager->Loaded()) << "a failed scan is tried again";
    }
    fs::remove(folder_.File("libUdbANoRoot.so"));
    EXPECT_EQ(DriverNames(Parse(manager->XMLRequest("<query-drivers/>"))), BuiltInsAnd({"Test.SQLite"}));
    EXPECT_TRUE(manager->Loaded());
}

TEST_F(UdbManagersTest, ScanRunsOnFirstUseAndOnRefresh)
{
    const auto manager = Manager(folder_.Path());
    EXPECT_FALSE(manager->Loaded());
    EXPECT_TRUE(manager->Drivers().empty()) << "nothing is scanned at creation";

    manager->Refresh();
    EXPECT_FALSE(manager->Loaded()) << "Refresh does not mark the manager loaded";
    EXPECT_EQ(Known(*manager), kBuiltIns);

    folder_.AddLibrary("libUdbTestSqlite.so");
    EXPECT_EQ(DriverNames(Parse(manager->XMLRequest("<query-drivers/>"))), BuiltInsAnd({"Test.SQLite"}))
        << "the first request scans once more";
    EXPECT_TRUE(manager->Loaded());

    folder_.AddLibrary("libUdbZ.so");
    fs::remove(folder_.File("libUdbTestSqlite.so"));
    EXPECT_EQ(Known(*manager), BuiltInsAnd({"Test.SQLite @libUdbTestSqlite.so"})) << "no scan without Refresh";
    manager->Refresh();
    EXPECT_EQ(Known(*manager), BuiltInsAnd({"Test.SQLite @libUdbZ.so"}));
}

TEST_F(UdbManagersTest, MissingFolderHasNoLibraries)
{
    const auto manager = Manager(folder_.File("no-such-folder"));
    EXPECT_EQ(manager->Folder(), folder_.File("no-such-folder/"));
    EXPECT_EQ(DriverNames(Parse(manager->XMLRequest("<query-drivers/>"))), kBuiltIns);
}

// ---- library lifetime ----------------------------------------------------------------------------

TEST_F(UdbManagersTest, LibraryDatabaseOutlivesRefreshAndTheFile)
{
    const std::string library = folder_.AddLibrary("libUdbTestSqlite.so");
    const std::string file = folder_.File("base.db");
    const auto manager = Manager(folder_.Path());
    rtl::RefPtr<IUdb> db = manager->CreateDatabase(SqliteParams(file), true);
    EXPECT_EQ(AddItem(*db, 1), 1);

    manager->Refresh();
    EXPECT_EQ(AddItem(*db, 2), 2) << "after Refresh";

    ASSERT_TRUE(fs::remove(library));
    manager->Refresh();
    EXPECT_EQ(manager->FindDriver("Test.SQLite"), nullptr);
    EXPECT_TRUE(manager->Modules().empty());
    EXPECT_TRUE(InProcess(library)) << "a database of the library is open";
    EXPECT_EQ(AddItem(*db, 3), 3) << "after the library was forgotten and its file removed";
    EXPECT_EQ(Raised([&] { (void)manager->CreateDatabase(SqliteParams(file), false); }),
              General("Driver \"Test.SQLite\" not found. Can't open base"));
    db->Close();

    db = nullptr;
    manager->Refresh();
    EXPECT_FALSE(InProcess(library)) << "Refresh after the database was released";
}

TEST_F(UdbManagersTest, LibraryIsUnloadedWhenNothingOfItIsInUse)
{
    const std::string library = folder_.AddLibrary("libUdbTestSqlite.so");
    const std::string file = folder_.File("base.db");
    {
        const auto manager = Manager(folder_.Path());
        manager->Refresh();
        EXPECT_FALSE(InProcess(library)) << "a scanned library is closed until its first use";
        EXPECT_EQ(AddItem(*manager->CreateDatabase(SqliteParams(file), true), 1), 1);
        EXPECT_TRUE(InProcess(library));
        manager->Refresh();
        EXPECT_FALSE(InProcess(library)) << "Refresh after its one database was released";

        EXPECT_EQ(AddItem(*manager->CreateDatabase(SqliteParams(file), true), 2), 2);
        EXPECT_TRUE(InProcess(library));
    }
    EXPECT_FALSE(InProcess(library)) << "the manager went away";

    // A database that outlives its manager keeps the library loaded.
    rtl::RefPtr<IUdb> db;
    {
        const auto manager = Manager(folder_.Path());
        db = manager->CreateDatabase(SqliteParams(file), true);
    }
    EXPECT_TRUE(InProcess(library));
    EXPECT_EQ(AddItem(*db, 3), 3) << "after the manager went away";
}

TEST_F(UdbManagersTest, LibraryWithoutAnEntryPointIsClosedAtOnce)
{
    const std::string library = folder_.AddLibrary("libUdbNoRequest.so", kLibraryWithoutRequest);
    const auto manager = Manager(folder_.Path());
    manager->Refresh();
    EXPECT_EQ(Known(*manager), kBuiltIns);
    EXPECT_FALSE(InProcess(library)) << "after the scan";

    const rtl::RefPtr<TDrvModule> module(new TDrvModule(library));
    EXPECT_FALSE(module->Load());
    EXPECT_FALSE(module->Loaded());
    EXPECT_FALSE(InProcess(library)) << "after Load";
}

TEST_F(UdbManagersTest, ModuleThatCannotLoad)
{
    const std::string missing = folder_.File("libUdbMissing.so");
    folder_.AddText("libUdbText.so", "text");
    const std::string text = folder_.File("libUdbText.so");
    for (const std::string& file : {missing, text}) {
        const rtl::RefPtr<TDrvModule> module(new TDrvModule(file));
        EXPECT_FALSE(module->Load()) << file;
        EXPECT_EQ(Raised([&] { module->NeedLoaded(); }), General("Can't load module " + file));
        EXPECT_EQ(Raised([&] { (void)module->XMLRequest("<query-drivers/>"); }), General("Can't load module " + file));
        EXPECT_EQ(Raised([&] { (void)module->CreateDbObject(SqliteParams(folder_.File("x.db")), false); }),
                  General("Can't load module " + file));
    }
}

// ---- the global manager ---------------------------------------------------------------------------

TEST_F(UdbManagersTest, GlobalManagerSearchesTheProgramFolder)
{
    const rtl::RefPtr<IUdbManager> manager = GetDbManager();
    EXPECT_EQ(manager.get(), GetDbManager().get());
    const auto* own = dynamic_cast<TUdbManager*>(manager.get());
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own->Folder(), rtl::ExtractFilePath(rtl::ProgramFileName()));
}

} // namespace
