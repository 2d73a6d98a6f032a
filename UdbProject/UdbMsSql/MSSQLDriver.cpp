// The SQL Server driver's registry entry and its database-name lookup.
#include "UdbProject/UdbMsSql/MSSQLDriver.h"

#include <algorithm>
#include <utility>

#include "CoreLib/SimpleParams.h"
#include "UdbProject/UdbMsSql/MSSQLUdbs.h"
#include "platform/ado/Ado.h"

namespace {

constexpr const char* kParamNameAttr = "param-name";
constexpr const char* kDatabaseParam = "database";
constexpr const char* kValueElement = "value";
constexpr const char* kCatalogName = "CATALOG_NAME";

// Whole seconds left until deadline, at least one.
std::int32_t SecondsLeft(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::ceil<std::chrono::seconds>(deadline - std::chrono::steady_clock::now());
    return static_cast<std::int32_t>(std::max<std::chrono::seconds::rep>(left.count(), 1));
}

} // namespace

TMSSQLDriver::TMSSQLDriver(std::string name) : TUdbDriver(std::move(name), UdbClassOf<TMSSQLDb>())
{
    RegisterRequestHandler(UdbQueryLookupValuesRequest, [this](const IXmlDocumentPtr& request, IXmlDocumentPtr& response) {
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
        const rtl::RefPtr<ado::Connection> connection = ado::NewConnection();
        SetMsSqlConnectionProperties(
            *connection, [&](const char* param) { return params->GetStr(rtl::Variant(param), ""); }, false);
        ado::Properties& properties = connection->Properties();
        const std::string language = params->GetStr(rtl::Variant("language"), "");
        if (!language.empty()) properties.Item("Language").SetValue(rtl::Variant(language));
        // The driver's own time-outs keep the lookup within its time limit:
        // the login's, then the catalog read's with the time left.
        connection->SetConnectionTimeout(SecondsLeft(deadline));
        connection->Open("", "", "", ado::adConnectUnspecified);
        connection->SetCommandTimeout(SecondsLeft(deadline));
        const rtl::RefPtr<ado::Recordset> rs = connection->OpenSchema(ado::adSchemaCatalogs, {});
        const IXmlElementPtr answer = response->Get_DocumentElement();
        for (; !rs->Eof(); rs->MoveNext())
            answer->AppendElement(kValueElement)->Set_Text(rtl::VarToStr(rs->Fields().Item(kCatalogName).Value()));
    } catch (...) {
        // The lookup never fails; the list is as long as it got.
    }
    return response;
}
