// The SQL Server driver's registry entry and its database-name lookup.
#include "UdbProject/UdbMsSql/MSSQLDriver.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "CoreLib/SimpleParams.h"
#include "UdbProject/UdbMsSql/MSSQLUdbs.h"
#include "platform/ado/Ado.h"

namespace {

constexpr const char* kParamNameAttr = "param-name";
constexpr const char* kDatabaseParam = "database";
constexpr const char* kValueElement = "value";
constexpr const char* kCatalogName = "CATALOG_NAME";

// What the lookup connects with, read from the request before the thread starts.
struct TLogin {
    std::string Server;
    std::string Authentication;
    std::string LoginName;
    std::string LoginPassword;
    std::string Language;
};

// Shared by the caller and the lookup's thread, which may outlive the wait.
struct TLookupRun {
    std::mutex Lock;
    std::condition_variable Finished;
    bool Done = false;
    std::vector<std::string> Names;
};

void ReadCatalogs(const TLogin& login, TLookupRun& run)
{
    const rtl::RefPtr<ado::Connection> connection = ado::NewConnection();
    connection->SetProvider("SQLOLEDB");
    ado::Properties& properties = connection->Properties();
    properties.Item("Data Source").SetValue(rtl::Variant(login.Server));
    if (!login.Authentication.empty()) properties.Item("Integrated Security").SetValue(rtl::Variant(login.Authentication));
    properties.Item("User ID").SetValue(rtl::Variant(login.LoginName));
    properties.Item("Password").SetValue(rtl::Variant(login.LoginPassword));
    if (!login.Language.empty()) properties.Item("Language").SetValue(rtl::Variant(login.Language));
    connection->SetConnectionTimeout(static_cast<std::int32_t>(MsSqlLookupTimeLimit.count()));
    connection->Open("", "", "", ado::adConnectUnspecified);
    const rtl::RefPtr<ado::Recordset> rs = connection->OpenSchema(ado::adSchemaCatalogs, {});
    for (; !rs->Eof(); rs->MoveNext()) {
        std::string name = rtl::VarToStr(rs->Fields().Item(kCatalogName).Value());
        const std::lock_guard<std::mutex> guard(run.Lock);
        run.Names.push_back(std::move(name));
    }
}

} // namespace

TMSSQLDriver::TMSSQLDriver(std::string name) : TUdbDriver(std::move(name), UdbClassOf<TMSSQLDb>())
{
    RegisterRequestHandler(MsSqlLookupRequest, [this](const IXmlDocumentPtr& request, IXmlDocumentPtr& response) {
        QueryLookupValues(request, response);
    });
}

void TMSSQLDriver::QueryLookupValues(const IXmlDocumentPtr& request, IXmlDocumentPtr& response)
{
    response = LookupDatabaseNames(request, MsSqlLookupTimeLimit);
}

IXmlDocumentPtr LookupDatabaseNames(const IXmlDocumentPtr& request, std::chrono::milliseconds timeLimit)
{
    IXmlDocumentPtr response = CreateXmlDocument("response", "1.0", "windows-1251");
    try {
        const auto deadline = std::chrono::steady_clock::now() + timeLimit;
        const IXmlElementPtr root = request->Get_DocumentElement();
        if (root->NeedAttr(kParamNameAttr) != kDatabaseParam) return response;
        const ISimpleParamsPtr params = CreateSimpleParams(root, false);
        TLogin login;
        login.Server = params->GetStr(rtl::Variant("server"), "");
        login.Authentication = params->GetStr(rtl::Variant("authentication"), "");
        login.LoginName = params->GetStr(rtl::Variant("login-name"), "");
        login.LoginPassword = params->GetStr(rtl::Variant("login-password"), "");
        login.Language = params->GetStr(rtl::Variant("language"), "");

        const auto run = std::make_shared<TLookupRun>();
        std::thread([run, login = std::move(login)] {
            try {
                ReadCatalogs(login, *run);
            } catch (...) {
                // A failed lookup answers what it found before the failure.
            }
            const std::lock_guard<std::mutex> guard(run->Lock);
            run->Done = true;
            run->Finished.notify_all();
        }).detach();

        std::vector<std::string> names;
        {
            std::unique_lock<std::mutex> lock(run->Lock);
            run->Finished.wait_until(lock, deadline, [&] { return run->Done; });
            names = run->Names;
        }
        const IXmlElementPtr answer = response->Get_DocumentElement();
        for (const std::string& name : names) answer->AppendElement(kValueElement)->Set_Text(name);
    } catch (...) {
        // The lookup never fails; the list is as long as it got.
    }
    return response;
}
