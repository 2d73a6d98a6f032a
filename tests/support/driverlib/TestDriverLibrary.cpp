// A driver library for the driver manager's tests: the SQLite test driver
// behind the two extern "C" entry points a driver library exports, answered
// by a registry of its own that holds that one driver.
//
// What it answers depends on its own file name, so that a test can copy it
// under another name to play a misbehaving library:
//  - a name holding "NoRoot": "query-drivers" gets a text without a root element;
//  - a name holding "Fails": every request fails;
//  - any other name: the driver "Test.SQLite" with its parameter "file", and
//    the request "query-lookup-values", answered with the names of the tables
//    of the file given among the request's parameters.
//
// Built with TEST_LIBRARY_WITHOUT_REQUEST it lacks the entry point XMLRequest.
#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "CoreLib/SimpleParams.h"
#include "CoreLib/SimpleXML.h"
#include "UdbProject/UdbDrivers.h"
#include "UdbProject/UdbManagers.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/SysUtils.h"
#include "tests/support/SqliteUdb.h"

namespace {

constexpr const char* kDefinition =
    "<driver name=\"Test.SQLite\" caption=\"SQLite (test)\">"
    "<param name=\"file\" caption=\"Файл\" editor=\"file\"/>"
    "</driver>";
constexpr const char* kTablesSql = "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY name";

const char kModuleMarker = 0;

[[maybe_unused]] bool NamedWith(const char* piece)
{
    return rtl::ExtractFileName(rtl::ModuleFileName(&kModuleMarker)).find(piece) != std::string::npos;
}

void LookupTables(const IXmlDocumentPtr& request, IXmlDocumentPtr& response)
{
    const ISimpleParamsPtr params = CreateSimpleParams(request->Get_DocumentElement(), false);
    const rtl::RefPtr<TSqliteUdb> db = OpenSqliteUdb(params->GetStr("file", ""));
    IXmlDocumentPtr answer = CreateXmlDocument("response");
    const rtl::RefPtr<IUdbCursor> cursor = db->CreateCommand(kTablesSql, nullptr, 0, false)->Execute(nullptr, 0);
    for (; cursor && !cursor->Eof(); cursor->Next())
        answer->Get_DocumentElement()->AppendElement("value")->Set_Text(cursor->AsString(std::int32_t{0}, ""));
    response = answer;
}

class TSqliteDriver : public TUdbDriver {
public:
    TSqliteDriver() : TUdbDriver(SqliteDriverName, UdbClassOf<TSqliteUdb>())
    {
        RegisterRequestHandler("query-lookup-values", &LookupTables);
    }

    void LoadDefinition() override
    {
        const IXmlDocumentPtr doc = CreateXmlDocument();
        doc->LoadXML(kDefinition);
        SetDefinition(doc->Get_DocumentElement());
    }
};

struct TLibraryDrivers {
    TUdbDriverList list;
    TLibraryDrivers() { list.Add(std::make_unique<TSqliteDriver>()); }
};

TUdbDriverList& Drivers()
{
    static TLibraryDrivers drivers;
    return drivers.list;
}

// Runs call; a failure becomes the message in *error and the result false.
template <class F>
bool Guarded(std::string* error, F&& call) noexcept
{
    try {
        call();
        return true;
    } catch (const std::exception& e) {
        *error = e.what();
    } catch (...) {
        *error = "Unknown failure";
    }
    return false;
}

} // namespace

#ifndef TEST_LIBRARY_WITHOUT_REQUEST
extern "C" bool XMLRequest(std::string* response, const std::string* request, std::string* error) noexcept
{
    return Guarded(error, [&] {
        if (NamedWith("Fails")) throw rtl::Exception("The test library was told to fail");
        if (NamedWith("NoRoot")) {
            *response = "<!-- no drivers here -->";
            return;
        }
        Drivers().XMLRequest(*response, *request);
    });
}
#endif

extern "C" bool CreateDbObject(rtl::RefPtr<IUdb>* db, const std::string* params, bool open,
                               std::string* error) noexcept
{
    return Guarded(error, [&] { Drivers().CreateDbObject(*db, *params, open); });
}

// The entry points have the types the manager calls them by.
#ifndef TEST_LIBRARY_WITHOUT_REQUEST
[[maybe_unused]] constexpr TDrvXMLRequestProc kXMLRequestProc = &XMLRequest;
#endif
[[maybe_unused]] constexpr TDrvCreateDbObjectProc kCreateDbObjectProc = &CreateDbObject;
