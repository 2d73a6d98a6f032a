// The registry of built-in drivers: definitions read from the program's
// resources, request handlers, and the two entry points under one lock.
#include "UdbProject/UdbDrivers.h"

#include <utility>

#include "CoreLib/SimpleParams.h"
#include "CoreLib/XLists.h"
#include "UdbProject/PdoxUdbs.h"
#include "UdbProject/UdbMsSql/MSSQLDriver.h"
#include "UdbProject/UdbOracle/OracleUdbs.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/Resources.h"
#include "platform/rtl/SysUtils.h"
#include "platform/rtl/TextUtils.h"

namespace {

// ---- texts ---------------------------------------------------------------------------
constexpr const char* SDriverListNotInitialized = "DriverList object not initialized";
constexpr const char* SDriverAlreadyExist = "Driver already exist";
constexpr const char* SDefinitionNotFound = "Definition not found for driver ";
constexpr const char* SHandlerAlreadyRegistred = "Request handler already registred";
constexpr const char* SHandlerNotDefined = "Handler not defined";
constexpr const char* SInvalidXmlDocument = "Invalid XML document";
constexpr const char* SEmptyXmlDocument = "Empty XML document";
constexpr const char* SObjectNotInitialized = "Object not initialized";
constexpr const char* SNoResponseDocument = "Request handler not return response document";
constexpr const char* SInvalidResult = "Invalid result";
constexpr const char* SDriverNotFound = "IUdb: driver with name \"%s\" not found";
constexpr const char* SUnknownRequest = "Unknown request \"%s\"";
constexpr const char* SUnknownVersion = "Unknown version";

// The built-in drivers, in registration order.
constexpr char kParadoxDriverName[] = "BDE.Paradox";
constexpr char kMsSqlDriverName[] = "ADO.MSSQL";
constexpr char kOracleDriverName[] = "ADO.ORACLE";

// An address inside the module that holds this code.
const char kModuleMarker = 0;

IXmlDocumentPtr LoadRequest(const std::string& text)
{
    IXmlDocumentPtr doc = CreateXmlDocument({}, "1.0");
    doc->LoadXML(text);
    RTL_ASSERT(doc->Get_DocumentElement(), SInvalidXmlDocument);
    return doc;
}

std::mutex& StartUpLock()
{
    static std::mutex lock;
    return lock;
}

std::unique_ptr<TUdbDriverList>& Registry()
{
    static std::unique_ptr<TUdbDriverList> registry;
    return registry;
}

IXmlDocumentPtr BuildVendorDocument()
{
    IXmlDocumentPtr doc = CreateXmlDocument("vendor");
    const ISimpleParamsPtr params = CreateSimpleParams(doc->Get_DocumentElement(), true);
    params->SetStr("file", rtl::ModuleFileName(&kModuleMarker));
    // The resources are the module's own: a driver library has a registry of its own.
    const rtl::ResourceData* version = rtl::FindResource(FileVersionResourceType, FileVersionResourceName);
    params->SetStr("version", version ? std::string(version->Bytes()) : std::string(SUnknownVersion));
    RTL_ASSERT(doc->Get_DocumentElement(), SInvalidResult);
    return doc;
}

IXmlDocumentPtr BuildDriversDocument()
{
    IXmlDocumentPtr drivers = CreateXmlDocument("drivers", "1.0");
    const IXmlElementPtr root = drivers->Get_DocumentElement();
    for (const std::string& name : rtl::EnumResourceNames(DriverListResourceType)) {
        IXmlDocumentPtr list = CreateXmlDocument();
        list->LoadResource(DriverListResourceType, name);
        const IXmlElementPtr listRoot = list->Get_DocumentElement();
        RTL_ASSERT(listRoot, SInvalidXmlDocument);
        const IXmlNodeListPtr items = listRoot->SelectNodes("driver");
        for (int i = 0; i < items->Get_Count(); ++i) root->AppendChild(items->Get_Item(i)->CloneNode(true));
    }
    if (const IXmlElementPtr vendor = GetVendorDocument()->Get_DocumentElement())
        root->AppendChild(vendor->CloneNode(true));
    return drivers;
}

} // namespace

// ---- TRequestHandler -------------------------------------------------------------------

TRequestHandler::TRequestHandler(std::string requestName, TRequestMethod method)
    : requestName_(std::move(requestName)), method_(std::move(method))
{
    RTL_ASSERT(method_, SHandlerNotDefined);
}

// ---- TUdbDriver ------------------------------------------------------------------------

TUdbDriver::TUdbDriver(std::string name, TUdbClass dbClass)
    : name_(std::move(name)), dbClass_(dbClass), definition_(CreateXmlDocument())
{
}

IXmlElementPtr TUdbDriver::GetDefinition() const { return definition_->Get_DocumentElement(); }

rtl::RefPtr<IUdb> TUdbDriver::CreateDatabase() const
{
    RTL_ASSERT(dbClass_, SObjectNotInitialized);
    return rtl::RefPtr<IUdb>(dbClass_());
}

void TUdbDriver::RegisterRequestHandler(const std::string& requestName, TRequestMethod method)
{
    RTL_ASSERT(FindRequestHandler(requestName) < 0, SHandlerAlreadyRegistred);
    requestHandlers_.emplace_back(requestName, std::move(method));
}

int TUdbDriver::FindRequestHandler(std::string_view requestName) const
{
    for (std::size_t i = 0; i < requestHandlers_.size(); ++i)
        if (rtl::SameTextLatin(requestHandlers_[i].RequestName(), requestName)) return static_cast<int>(i);
    return -1;
}

std::string TUdbDriver::HandleRequest(const IXmlDocumentPtr& request)
{
    RTL_ASSERT(request, SObjectNotInitialized);
    const IXmlElementPtr root = request->Get_DocumentElement();
    RTL_ASSERT(root, SEmptyXmlDocument);
    const std::string requestName = root->Get_NodeName();
    const int index = FindRequestHandler(requestName);
    if (index < 0) throw rtl::Exception(rtl::Format(SUnknownRequest, requestName.c_str()));
    IXmlDocumentPtr response;
    requestHandlers_[static_cast<std::size_t>(index)].Method()(request, response);
    RTL_ASSERT(response, SNoResponseDocument);
    return response->Get_XML();
}

void TUdbDriver::LoadDefinition()
{
    definition_ = CreateXmlDocument();
    const IXmlNodeListPtr items = GetDriversDocument()->Get_DocumentElement()->SelectNodes("driver");
    for (int i = 0; i < items->Get_Count(); ++i) {
        const IXmlNodePtr item = items->Get_Item(i);
        if (item->GetAttr("name") == name_) {
            SetDefinition(item);
            return;
        }
    }
    RTL_ASSERT(false, SDefinitionNotFound + name_);
}

void TUdbDriver::SetDefinition(const IXmlNodePtr& driverElement)
{
    RTL_ASSERT(driverElement, SObjectNotInitialized);
    IXmlDocumentPtr definition = CreateXmlDocument();
    const IXmlNodePtr root = driverElement->CloneNode(true);
    definition->AppendChild(root);
    if (const IXmlElementPtr vendor = GetVendorDocument()->Get_DocumentElement())
        root->AppendChild(vendor->CloneNode(true));
    definition_ = std::move(definition);
}

// ---- TUdbDriverList --------------------------------------------------------------------

void TUdbDriverList::Add(std::unique_ptr<TUdbDriver> driver)
{
    RTL_ASSERT(driver, SObjectNotInitialized);
    driver->LoadDefinition();
    RTL_ASSERT(IndexOf(driver->Name()) < 0, SDriverAlreadyExist);
    drivers_.push_back(std::move(driver));
}

int TUdbDriverList::IndexOf(std::string_view name) const
{
    for (std::size_t i = 0; i < drivers_.size(); ++i)
        if (rtl::SameTextLatin(drivers_[i]->Name(), name)) return static_cast<int>(i);
    return -1;
}

TUdbDriver& TUdbDriverList::Items(int index) const
{
    RTL_ASSERT(index >= 0 && index < Count(), ListIndexErrorText(index));
    return *drivers_[static_cast<std::size_t>(index)];
}

std::string TUdbDriverList::QueryDrivers() const
{
    IXmlDocumentPtr answer = CreateXmlDocument("drivers", "1.0");
    const IXmlElementPtr root = answer->Get_DocumentElement();
    for (const auto& driver : drivers_)
        if (const IXmlElementPtr definition = driver->GetDefinition()) root->AppendChild(definition->CloneNode(true));
    return answer->Get_XML();
}

void TUdbDriverList::XMLRequest(std::string& response, const std::string& request)
{
    const std::lock_guard<std::recursive_mutex> guard(lock_);
    const IXmlDocumentPtr doc = LoadRequest(request);
    const IXmlElementPtr root = doc->Get_DocumentElement();
    if (root->Get_NodeName() == UdbQueryDriversRequest) {
        response = QueryDrivers();
        return;
    }
    const std::string driverName = root->NeedAttr("driver-name");
    const int index = IndexOf(driverName);
    if (index < 0) throw rtl::Exception(rtl::Format(SDriverNotFound, driverName.c_str()));
    response = Items(index).HandleRequest(doc);
}

void TUdbDriverList::CreateDbObject(rtl::RefPtr<IUdb>& db, const std::string& params, bool open)
{
    const std::lock_guard<std::recursive_mutex> guard(lock_);
    const IXmlDocumentPtr doc = LoadRequest(params);
    const std::string driverName = doc->Get_DocumentElement()->NeedAttr("name");
    const int index = IndexOf(driverName);
    if (index < 0) throw rtl::Exception(rtl::Format(SDriverNotFound, driverName.c_str()));
    db = Items(index).CreateDatabase();
    if (open) db->Open(params);
}

// ---- module state ----------------------------------------------------------------------

void RegisterBuiltInDrivers()
{
    const std::lock_guard<std::mutex> guard(StartUpLock());
    if (Registry()) return;
    GetDriversDocument();
    // Built aside and published whole, so that a failing start-up leaves no
    // half-filled registry behind.
    auto registry = std::make_unique<TUdbDriverList>();
    registry->Add(std::make_unique<TUdbDriver>(kParadoxDriverName, UdbClassOf<TPdoxUdb>()));
    registry->Add(std::make_unique<TMSSQLDriver>(kMsSqlDriverName));
    registry->Add(std::make_unique<TUdbDriver>(kOracleDriverName, UdbClassOf<TOracleDb>()));
    Registry() = std::move(registry);
}

TUdbDriverList& DriverList()
{
    TUdbDriverList* registry = Registry().get();
    RTL_ASSERT(registry, SDriverListNotInitialized);
    return *registry;
}

IXmlDocumentPtr GetDriversDocument()
{
    static const IXmlDocumentPtr drivers = BuildDriversDocument();
    return drivers;
}

IXmlDocumentPtr GetVendorDocument()
{
    static const IXmlDocumentPtr vendor = BuildVendorDocument();
    return vendor;
}

std::string QueryDrivers() { return DriverList().QueryDrivers(); }

void XMLRequest(std::string& response, const std::string& request) { DriverList().XMLRequest(response, request); }

void CreateDbObject(rtl::RefPtr<IUdb>& db, const std::string& params, bool open)
{
    DriverList().CreateDbObject(db, params, open);
}
