// Tests of the registry of built-in drivers: the driver-list resources and the
// definitions built from them, name lookups, request handlers, the two entry
// points and their lock.
#include "tests/support/TempFolder.h"
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CoreLib/SimpleParams.h"
#include "CoreLib/SimpleXML.h"
#include "UdbProject/UdbDrivers.h"
#include "UdbProject/UdbMsSql/MSSQLUdbs.h"
#include "UdbProject/UdbOracle/OracleUdbs.h"
#include "platform/rtl/Resources.h"
#include "platform/rtl/SysUtils.h"
#include "tests/UdbProject/DriverRequests.h"
#include "tests/UdbProject/FakeDriver.h"
#include "tests/support/SqliteUdb.h"

namespace {

using fake::Assertion;
using fake::DriverNames;
using fake::General;
using fake::Parse;
using fake::Raised;

// "name=value|name=value..." of an element's attributes, in document order.
std::string AttrsOf(const IXmlNodePtr& node)
{
    std::string out;
    for (int i = 0; i < node->Get_AttrCount(); ++i) {
        if (i) out += '|';
        const std::string name = node->Get_AttrName(i);
        out += name + "=" + node->GetAttr(name);
    }
    return out;
}

// The text and CDATA children of an element joined; CDATA untrimmed, as
// its text form holds it (Get_Text trims while blanks are not preserved).
std::string RawText(const IXmlNodePtr& node)
{
    std::string out;
    const IXmlNodeListPtr children = node->Get_ChildNodes();
    for (int i = 0; i < children->Get_Count(); ++i) {
        const IXmlNodePtr child = children->Get_Item(i);
        if (child->Get_NodeType() == NODE_TEXT) out += child->Get_Text();
        if (child->Get_NodeType() == NODE_CDATA_SECTION) {
            const std::string xml = child->Get_XML();
            EXPECT_TRUE(xml.starts_with("<![CDATA[") && xml.ends_with("]]>")) << xml;
            out += xml.substr(9, xml.size() - 12);
        }
    }
    return out;
}

// Names of the child elements, in order.
std::vector<std::string> ChildNames(const IXmlNodePtr& node)
{
    std::vector<std::string> names;
    const IXmlNodeListPtr children = node->Get_ChildNodes();
    for (int i = 0; i < children->Get_Count(); ++i)
        if (const IXmlNodePtr child = children->Get_Item(i); child->Get_NodeType() == NODE_ELEMENT)
            names.push_back(child->Get_NodeName());
    return names;
}

IXmlNodePtr BuiltInDefinition(const std::string& driver)
{
    const int index = DriverList().IndexOf(driver);
    EXPECT_GE(index, 0) << driver;
    return index < 0 ? nullptr : IXmlNodePtr(DriverList().Items(index).GetDefinition());
}

// A driver whose definition is written here rather than read from the resources.
class TOwnDefinitionDriver : public TUdbDriver {
public:
    explicit TOwnDefinitionDriver(std::string name, TUdbClass dbClass = UdbClassOf<TSqliteUdb>())
        : TUdbDriver(std::move(name), dbClass)
    {
    }

    void LoadDefinition() override
    {
        SetDefinition(Parse("<driver name=\"" + XmlEscape(Name()) + "\" caption=\"Own\"/>")->Get_DocumentElement());
    }
};

// A registry of its own holding drivers of the given names.
std::unique_ptr<TUdbDriverList> OwnRegistry(const std::vector<std::string>& names)
{
    auto list = std::make_unique<TUdbDriverList>();
    for (const std::string& name : names) list->Add(std::make_unique<TOwnDefinitionDriver>(name));
    return list;
}

using TempFolder = testing_support::TempFolder;

class UdbDriversTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { RegisterBuiltInDrivers(); }
};

// ---- the driver-list resources ----------------------------------------------------------

TEST_F(UdbDriversTest, ResourcesAreWindows1251DocumentsInListOrder)
{
    EXPECT_EQ(rtl::EnumResourceNames(DriverListResourceType),
              (std::vector<std::string>{"DRIVERLIST", "MSSQL", "PARADOX"}));
    struct Case {
        const char* name;
        const char* bytes; // a piece of the stored text, written in Windows-1251 by hand
    };
    const Case cases[] = {
        {"PARADOX", "caption=\"\xCF\xE0\xEF\xEA\xE0\""},                                  // "Папка"
        {"MSSQL", "caption=\"MSSQL c\xE5\xF0\xE2\xE5\xF0\""},                                // Latin "c", then "ервер"
        {"MSSQL", "<![CDATA[sa\r\n]]>"},                                                     // the default with CR LF
        {"DRIVERLIST", "caption=\"\xC8\xF1\xF2\xEE\xF7\xED\xE8\xEA \xE4\xE0\xED\xED\xFB\xF5\""}, // "Источник данных"
        {"DRIVERLIST", "caption=\"ORACLE c\xE5\xF0\xE2\xE5\xF0 \""},                         // with its trailing blank
    };
    for (const Case& c : cases) {
        const rtl::ResourceData* res = rtl::FindResource(DriverListResourceType, c.name);
        ASSERT_NE(res, nullptr) << c.name;
        const std::string_view bytes = res->Bytes();
        EXPECT_TRUE(bytes.starts_with("<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<drivers "
                                      "xml-builder-skin=\"udb-drivers\">"))
            << c.name;
        EXPECT_NE(bytes.find(c.bytes), std::string_view::npos) << c.name << ": " << c.bytes;
    }
}

TEST_F(UdbDriversTest, DriversDocumentHoldsEveryDriverInResourceOrderThenTheVendor)
{
    const IXmlDocumentPtr drivers = GetDriversDocument();
    const IXmlElementPtr root = drivers->Get_DocumentElement();
    ASSERT_TRUE(root);
    EXPECT_EQ(root->Get_NodeName(), "drivers");
    EXPECT_EQ(root->Get_AttrCount(), 0) << "the resources' root attributes are not copied";
    EXPECT_EQ(ChildNames(root), (std::vector<std::string>{"driver", "driver", "driver", "vendor"}));
    EXPECT_EQ(DriverNames(drivers), (std::vector<std::string>{"ADO.ORACLE", "ADO.MSSQL", "BDE.Paradox"}));
}

TEST_F(UdbDriversTest, VendorNamesThisModuleAndItsVersion)
{
    const ISimpleParamsPtr vendor = CreateSimpleParams(GetVendorDocument()->Get_DocumentElement(), false);
    EXPECT_EQ(GetVendorDocument()->Get_DocumentElement()->Get_NodeName(), "vendor");
    EXPECT_EQ(vendor->Count(), 2);
    EXPECT_EQ(vendor->GetStr("file", ""), rtl::ProgramFileName()) << "the registry is linked into the program";
    EXPECT_EQ(vendor->GetStr("version", ""), PARVANE_VERSION) << "the program's version, set by the build";
}

// ---- definitions of the built-in drivers ------------------------------------------------

TEST_F(UdbDriversTest, DefinitionsCarryTheStoredParameters)
{
    struct Case {
        const char* driver;
        const char* attrs;       // every attribute of the "param", in order
        const char* defaultText; // its text, untrimmed
    };
    const Case cases[] = {
        {"BDE.Paradox",
         "name=folder|caption=Папка|editor=folder|hint=Выбирите папку в которой находится база данных|title=Выберите папку",
         ""},
        {"BDE.Paradox", "name=password|caption=Пароль|hint=Пароль для доступа к таблицам|editor=password", ""},
        {"ADO.MSSQL", "name=server|caption=Сервер", ""},
        {"ADO.MSSQL", "name=authentication|caption=Способ идентификации|editor=inline-lookup", ""},
        {"ADO.MSSQL", "name=login-name|caption=Имя пользователя", "sa\r\n"},
        {"ADO.MSSQL", "name=login-password|caption=Пароль|editor=password", ""},
        {"ADO.MSSQL", "name=database|caption=База данных|editor=query-lookup", ""},
        {"ADO.MSSQL", "name=connection-timeout|caption=connection-timeout (в сек)|basic=0", "15\r\n"},
        {"ADO.MSSQL", "name=command-timeout|caption=command-timeout (в сек)|basic=0", "30\r\n"},
        {"ADO.ORACLE", "name=service-name|caption=Источник данных", ""},
        {"ADO.ORACLE", "name=login-name|caption=Имя пользователя", ""},
        {"ADO.ORACLE", "name=login-password|caption=Пароль|editor=password", ""},
        {"ADO.ORACLE", "name=connection-timeout|caption=connection-timeout (в сек)|basic=false", "15"},
        {"ADO.ORACLE", "name=command-timeout|caption=command-timeout (в сек)|basic=false", "30"},
    };
    std::map<std::string, std::vector<const Case*>> byDriver;
    for (const Case& c : cases) byDriver[c.driver].push_back(&c);
    for (const auto& [driver, params] : byDriver) {
        const IXmlNodePtr definition = BuiltInDefinition(driver);
        ASSERT_TRUE(definition);
        const IXmlNodeListPtr items = definition->SelectNodes("param");
        ASSERT_EQ(items->Get_Count(), static_cast<int>(params.size())) << driver;
        for (std::size_t i = 0; i < params.size(); ++i) {
            const IXmlNodePtr param = items->Get_Item(static_cast<int>(i));
            EXPECT_EQ(AttrsOf(param), params[i]->attrs) << driver << " #" << i;
            EXPECT_EQ(RawText(param), params[i]->defaultText) << params[i]->attrs;
        }
    }
}

TEST_F(UdbDriversTest, DefinitionsAreTheDriverElementWithTheVendorLast)
{
    struct Case {
        const char* driver;
        const char* attrs;
    };
    const Case cases[] = {
        {"BDE.Paradox", "name=BDE.Paradox|caption=Paradox"},
        {"ADO.MSSQL", "name=ADO.MSSQL|caption=MSSQL cервер"},
        {"ADO.ORACLE", "name=ADO.ORACLE|caption=ORACLE cервер "},
    };
    for (const Case& c : cases) {
        const IXmlNodePtr definition = BuiltInDefinition(c.driver);
        ASSERT_TRUE(definition);
        EXPECT_EQ(definition->Get_NodeName(), "driver");
        EXPECT_EQ(AttrsOf(definition), c.attrs);
        const std::vector<std::string> children = ChildNames(definition);
        ASSERT_FALSE(children.empty());
        EXPECT_EQ(children.back(), "vendor") << c.driver;
        EXPECT_EQ(definition->SelectNodes("vendor")->Get_Count(), 1) << c.driver;
        EXPECT_EQ(definition->SelectSingleNode("vendor")->Get_XML(),
                  GetVendorDocument()->Get_DocumentElement()->Get_XML());
    }
}

TEST_F(UdbDriversTest, InlineLookupListsItsValues)
{
    const IXmlNodePtr definition = BuiltInDefinition("ADO.MSSQL");
    ASSERT_TRUE(definition);
    const IXmlNodePtr param = definition->FindElement("param", "name", rtl::Variant("authentication"));
    ASSERT_TRUE(param);
    const IXmlNodeListPtr values = param->SelectNodes("value");
    ASSERT_EQ(values->Get_Count(), 2);
    EXPECT_EQ(AttrsOf(values->Get_Item(0)), "caption=Система безопасности Windows NT");
    EXPECT_EQ(RawText(values->Get_Item(0)), "SSPI");
    EXPECT_EQ(AttrsOf(values->Get_Item(1)), "caption=Указанный пользователь");
    EXPECT_EQ(RawText(values->Get_Item(1)), "");
}

// ---- registration and lookups -----------------------------------------------------------

TEST_F(UdbDriversTest, BuiltInDriversAreRegisteredOnceInOrder)
{
    RegisterBuiltInDrivers(); // a second start-up call changes nothing
    ASSERT_EQ(DriverList().Count(), 3);
    EXPECT_EQ(DriverList().Items(0).Name(), "BDE.Paradox");
    EXPECT_EQ(DriverList().Items(1).Name(), "ADO.MSSQL");
    EXPECT_EQ(DriverList().Items(2).Name(), "ADO.ORACLE");
}

TEST_F(UdbDriversTest, LookupIgnoresOnlyTheCaseOfLatinLetters)
{
    const auto own = OwnRegistry({"Тест.Драйвер"});
    struct Case {
        const char* what;
        const TUdbDriverList* list;
        const char* name;
        int index;
    };
    const Case cases[] = {
        {"exact", &DriverList(), "BDE.Paradox", 0},
        {"lower case", &DriverList(), "bde.paradox", 0},
        {"upper case", &DriverList(), "ADO.MSSQL", 1},
        {"lower-case MSSQL", &DriverList(), "ado.mssql", 1},
        {"mixed case", &DriverList(), "Ado.Oracle", 2},
        {"trailing blank", &DriverList(), "ADO.MSSQL ", -1},
        {"another separator", &DriverList(), "BDE_Paradox", -1},
        {"empty", &DriverList(), "", -1},
        {"Cyrillic exact", own.get(), "Тест.Драйвер", 0},
        {"Cyrillic case differs", own.get(), "ТЕСТ.ДРАЙВЕР", -1},
    };
    for (const Case& c : cases) EXPECT_EQ(c.list->IndexOf(c.name), c.index) << c.what;
}

TEST_F(UdbDriversTest, AddRefusesBrokenRegistrations)
{
    struct Case {
        const char* what;
        std::vector<std::string> before; // drivers with their own definitions
        std::function<std::unique_ptr<TUdbDriver>()> driver;
        std::string raised;
    };
    const Case cases[] = {
        {"same name", {"Test.One"}, [] { return std::make_unique<TOwnDefinitionDriver>("Test.One"); },
         Assertion("Driver already exist")},
        {"name differing in Latin case", {"Test.One"},
         [] { return std::make_unique<TOwnDefinitionDriver>("TEST.ONE"); }, Assertion("Driver already exist")},
        {"no definition in the driver lists", {},
         [] { return std::make_unique<TUdbDriver>("Test.None", UdbClassOf<TSqliteUdb>()); },
         Assertion("Definition not found for driver Test.None")},
        {"definition looked up with exact case", {},
         [] { return std::make_unique<TUdbDriver>("bde.paradox", UdbClassOf<TSqliteUdb>()); },
         Assertion("Definition not found for driver bde.paradox")},
    };
    for (const Case& c : cases) {
        const auto list = OwnRegistry(c.before);
        EXPECT_EQ(Raised([&] { list->Add(c.driver()); }), c.raised) << c.what;
        EXPECT_EQ(list->Count(), static_cast<int>(c.before.size())) << c.what << ": the list is unchanged";
    }
    const auto list = OwnRegistry({});
    list->Add(std::make_unique<TUdbDriver>("BDE.Paradox", UdbClassOf<TSqliteUdb>()));
    EXPECT_EQ(AttrsOf(list->Items(0).GetDefinition()), "name=BDE.Paradox|caption=Paradox")
        << "any registry finds a definition of the driver lists by its exact name";
}

// ---- XML requests -----------------------------------------------------------------------

TEST_F(UdbDriversTest, QueryDriversAnswersTheDefinitionsInRegistryOrder)
{
    std::string response;
    XMLRequest(response, "<query-drivers/>");
    EXPECT_EQ(response, QueryDrivers());
    const IXmlDocumentPtr answer = Parse(response);
    ASSERT_TRUE(answer->Get_DocumentElement());
    EXPECT_EQ(answer->Get_DocumentElement()->Get_NodeName(), "drivers");
    EXPECT_EQ(DriverNames(answer), (std::vector<std::string>{"BDE.Paradox", "ADO.MSSQL", "ADO.ORACLE"}));
    const IXmlNodeListPtr drivers = answer->Get_DocumentElement()->SelectNodes("driver");
    for (int i = 0; i < drivers->Get_Count(); ++i) {
        EXPECT_EQ(ChildNames(drivers->Get_Item(i)).back(), "vendor");
        EXPECT_EQ(drivers->Get_Item(i)->Get_XML(), DriverList().Items(i).GetDefinition()->Get_XML());
    }
}

TEST_F(UdbDriversTest, RequestFailures)
{
    struct Case {
        const char* what;
        const char* request;
        std::string raised;
    };
    const Case cases[] = {
        {"no handler of the driver", "<query-lookup-values driver-name=\"BDE.Paradox\"/>",
         General("Unknown request \"query-lookup-values\"")},
        {"driver found ignoring Latin case", "<query-lookup-values driver-name=\"bde.paradox\"/>",
         General("Unknown request \"query-lookup-values\"")},
        {"unknown driver", "<query-lookup-values driver-name=\"Paradox\"/>",
         General("IUdb: driver with name \"Paradox\" not found")},
        {"driver name missing", "<query-lookup-values/>", General("Не задан атрибут \"driver-name\"")},
        {"root name compared exactly", "<Query-Drivers/>", General("Не задан атрибут \"driver-name\"")},
        {"empty text", "", Assertion("Invalid XML document")},
        {"not XML", "hello", Assertion("Invalid XML document")},
        {"only a comment", "<!-- nothing -->", Assertion("Invalid XML document")},
    };
    for (const Case& c : cases) {
        std::string response = "untouched";
        EXPECT_EQ(Raised([&] { XMLRequest(response, c.request); }), c.raised) << c.what;
        EXPECT_EQ(response, "untouched") << c.what;
    }
    std::string response;
    EXPECT_NE(Raised([&] { XMLRequest(response, "<query-drivers"); }).find("Exception: "), std::string::npos)
        << "a parse error passes on";
}

TEST_F(UdbDriversTest, HandlersAnswerTheirRequests)
{
    TOwnDefinitionDriver driver("Test.Handlers");
    driver.RegisterRequestHandler("query-echo", [](const IXmlDocumentPtr& request, IXmlDocumentPtr& response) {
        response = CreateXmlDocument("response");
        response->Get_DocumentElement()->SetAttr("echo", request->Get_DocumentElement()->GetAttr("say"));
    });
    driver.RegisterRequestHandler("query-nothing", [](const IXmlDocumentPtr&, IXmlDocumentPtr&) {});

    struct Case {
        const char* what;
        IXmlDocumentPtr request;
        std::string echo; // the answer's attribute, when it answers
        std::string raised;
    };
    const Case cases[] = {
        {"by its name", Parse("<query-echo say=\"hi\"/>"), "hi", ""},
        {"name ignoring Latin case", Parse("<QUERY-ECHO say=\"hey\"/>"), "hey", ""},
        {"unknown request", Parse("<query-other/>"), "", General("Unknown request \"query-other\"")},
        {"handler without answer", Parse("<query-nothing/>"), "",
         Assertion("Request handler not return response document")},
        {"no request", nullptr, "", Assertion("Object not initialized")},
        {"request without root", CreateXmlDocument(), "", Assertion("Empty XML document")},
    };
    for (const Case& c : cases) {
        std::string answer;
        EXPECT_EQ(Raised([&] { answer = driver.HandleRequest(c.request); }), c.raised) << c.what;
        const IXmlElementPtr root = Parse(answer)->Get_DocumentElement();
        EXPECT_EQ(root ? root->GetAttr("echo") : std::string(), c.echo) << c.what;
    }
    EXPECT_EQ(driver.FindRequestHandler("Query-Nothing"), 1);
    EXPECT_EQ(driver.FindRequestHandler("query-none"), -1);
}

TEST_F(UdbDriversTest, HandlerRegistrationRefusals)
{
    TOwnDefinitionDriver driver("Test.Handlers");
    driver.RegisterRequestHandler("query-echo", [](const IXmlDocumentPtr&, IXmlDocumentPtr&) {});
    const TRequestMethod any = [](const IXmlDocumentPtr&, IXmlDocumentPtr&) {};
    struct Case {
        const char* what;
        const char* name;
        TRequestMethod method;
        std::string raised;
    };
    const Case cases[] = {
        {"same name", "query-echo", any, Assertion("Request handler already registred")},
        {"name differing in Latin case", "Query-Echo", any, Assertion("Request handler already registred")},
        {"no method", "query-new", nullptr, Assertion("Handler not defined")},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Raised([&] { driver.RegisterRequestHandler(c.name, c.method); }), c.raised) << c.what;
    EXPECT_EQ(driver.FindRequestHandler("query-new"), -1);
}

TEST_F(UdbDriversTest, RequestReachesTheHandlerOfTheNamedDriver)
{
    auto list = OwnRegistry({"Test.Other"});
    auto driver = std::make_unique<TOwnDefinitionDriver>("Test.Answering");
    driver->RegisterRequestHandler("query-lookup-values", [](const IXmlDocumentPtr&, IXmlDocumentPtr& response) {
        response = Parse("<response><value>a</value></response>");
    });
    list->Add(std::move(driver));
    std::string response;
    list->XMLRequest(response, "<query-lookup-values driver-name=\"TEST.ANSWERING\"/>");
    EXPECT_EQ(Parse(response)->Get_DocumentElement()->GetChildText("value"), "a");
    EXPECT_EQ(Raised([&] { list->XMLRequest(response, "<query-lookup-values driver-name=\"Test.Other\"/>"); }),
              General("Unknown request \"query-lookup-values\""));
}

// ---- CreateDbObject ---------------------------------------------------------------------

TEST_F(UdbDriversTest, BuiltInSqlDriversCreateClosedDatabasesOfTheirClasses)
{
    for (const char* name : {"ADO.MSSQL", "ADO.ORACLE", "ado.oracle"}) {
        rtl::RefPtr<IUdb> db;
        CreateDbObject(db, std::string("<driver name=\"") + name + "\"/>", false);
        ASSERT_TRUE(db) << name;
        EXPECT_FALSE(db->IsOpen()) << name;
        const bool mssql = std::string(name) == "ADO.MSSQL";
        EXPECT_EQ(dynamic_cast<TMSSQLDb*>(db.get()) != nullptr, mssql) << name;
        EXPECT_EQ(dynamic_cast<TOracleDb*>(db.get()) != nullptr, !mssql) << name;
    }
}

TEST_F(UdbDriversTest, CreateDbObjectMakesAndOpensTheDatabase)
{
    const TempFolder folder;
    const auto list = OwnRegistry({SqliteDriverName});
    const std::string good = SqliteParamsXml(folder.File("base.db"));
    const std::string unopenable = SqliteParamsXml(folder.File("missing/base.db"));
    std::string openError;
    {
        rtl::RefPtr<TSqliteUdb> direct(new TSqliteUdb());
        openError = Raised([&] { direct->Open(unopenable); });
        ASSERT_FALSE(openError.empty());
    }
    struct Case {
        const char* what;
        std::string params;
        bool open;
        std::string raised;
        bool created; // db holds a database afterwards
        bool isOpen;
    };
    const Case cases[] = {
        {"closed", good, false, "", true, false},
        {"opened", good, true, "", true, true},
        {"name ignoring Latin case", "<driver name=\"test.sqlite\"/>", false, "", true, false},
        {"open fails: the driver's error, the database stays closed", unopenable, true, openError, true, false},
        {"not opened, so the bad file does not matter", unopenable, false, "", true, false},
        {"no name", "<driver><param name=\"file\">x</param></driver>", false, General("Не задан атрибут \"name\""),
         false, false},
        {"unknown driver", "<driver name=\"Test.Nope\"/>", true,
         General("IUdb: driver with name \"Test.Nope\" not found"), false, false},
        {"no root", "", false, Assertion("Invalid XML document"), false, false},
    };
    for (const Case& c : cases) {
        rtl::RefPtr<IUdb> db;
        EXPECT_EQ(Raised([&] { list->CreateDbObject(db, c.params, c.open); }), c.raised) << c.what;
        EXPECT_EQ(static_cast<bool>(db), c.created) << c.what;
        if (db) {
            EXPECT_EQ(db->IsOpen(), c.isOpen) << c.what;
        }
    }
    rtl::RefPtr<IUdb> db;
    list->CreateDbObject(db, good, true);
    EXPECT_FALSE(db->TableExists("missing"));
    (void)db->CreateCommand("CREATE TABLE items (id INTEGER)", nullptr, 0, false)->Execute(nullptr, 0);
    EXPECT_TRUE(db->TableExists("items"));
    EXPECT_EQ(db->GetParams()->GetStr("Udb\\DriverName", ""), SqliteDriverName);
}

// ---- the lock ---------------------------------------------------------------------------

TEST_F(UdbDriversTest, EntryPointsRunUnderOneReentrantLock)
{
    auto list = OwnRegistry({});
    TUdbDriverList* self = list.get();
    struct Seen {
        bool otherThreadGotLock = true;
        std::string nestedAnswer;
        bool nestedDbCreated = false;
    } seen;
    auto driver = std::make_unique<TOwnDefinitionDriver>("Test.Reentrant");
    driver->RegisterRequestHandler("query-nested", [self, &seen](const IXmlDocumentPtr&, IXmlDocumentPtr& response) {
        std::thread other([&] {
            const bool got = self->Lock().try_lock();
            if (got) self->Lock().unlock();
            seen.otherThreadGotLock = got;
        });
        other.join();
        self->XMLRequest(seen.nestedAnswer, "<query-drivers/>");
        rtl::RefPtr<IUdb> db;
        self->CreateDbObject(db, "<driver name=\"Test.Reentrant\"/>", false);
        seen.nestedDbCreated = static_cast<bool>(db);
        response = CreateXmlDocument("response");
    });
    list->Add(std::move(driver));

    std::string response;
    list->XMLRequest(response, "<query-nested driver-name=\"Test.Reentrant\"/>");
    EXPECT_FALSE(seen.otherThreadGotLock) << "a request runs under the lock";
    EXPECT_EQ(seen.nestedAnswer, list->QueryDrivers()) << "the same thread may enter again";
    EXPECT_TRUE(seen.nestedDbCreated);

    const auto lockIsFree = [&] {
        bool got = false;
        std::thread other([&] {
            got = list->Lock().try_lock();
            if (got) list->Lock().unlock();
        });
        other.join();
        return got;
    };
    EXPECT_TRUE(lockIsFree()) << "after a request";
    EXPECT_NE(Raised([&] { list->XMLRequest(response, "<query-x driver-name=\"Test.None\"/>"); }), "");
    EXPECT_TRUE(lockIsFree()) << "after a failed request";
    rtl::RefPtr<IUdb> db;
    EXPECT_NE(Raised([&] { list->CreateDbObject(db, "", true); }), "");
    EXPECT_TRUE(lockIsFree()) << "after a failed creation";
}

} // namespace
