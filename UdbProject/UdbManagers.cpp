// The driver manager: the list of known drivers (built-in first, then those of
// the driver libraries in the program's folder), request routing and database
// creation.
#include "UdbProject/UdbManagers.h"

#include <dlfcn.h>

#include <algorithm>
#include <exception>
#include <filesystem>
#include <system_error>

#include "UdbProject/UdbDrivers.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"
#include "platform/rtl/SysUtils.h"
#include "platform/rtl/TextUtils.h"

namespace {

// ---- texts ---------------------------------------------------------------------------
constexpr const char* SInvalidXmlDocument = "Invalid XML document";
constexpr const char* SInvalidCopiedDefinition = "Invalid xml document";
constexpr const char* SInvalidQuery = "Invalid query";
constexpr const char* SDriverNotFound = "Driver \"%s\" not found. Can't open base";
constexpr const char* SRequestDriverNotFound = "Drv: Invalid query syntaxis. Driver \"%s\" not found";
constexpr const char* SCantLoadModule = "Can't load module %s";
constexpr const char* SModuleFailed = "Module %s failed without a message";
constexpr const char* SModuleNoDatabase = "Module %s returned no database";

// The full paths of the driver libraries in folder, sorted by file name.
std::vector<std::string> LibraryFiles(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code typeError;
        if (!it->is_regular_file(typeError)) continue;
        std::string name = it->path().filename().string();
        if (IsDriverLibraryName(name)) names.push_back(std::move(name));
    }
    std::sort(names.begin(), names.end());
    for (std::string& name : names) name = folder + name;
    return names;
}

[[noreturn]] void RaiseModuleFailure(const std::string& error, const std::string& fileName)
{
    throw rtl::Exception(error.empty() ? rtl::Format(SModuleFailed, fileName.c_str()) : error);
}

} // namespace

bool IsDriverLibraryName(std::string_view fileName) noexcept
{
    const std::string_view prefix = DriverLibraryPrefix;
    const std::string_view suffix = DriverLibrarySuffix;
    return fileName.size() >= prefix.size() + suffix.size() && fileName.starts_with(prefix) &&
           fileName.ends_with(suffix);
}

// ---- TDrvModule ------------------------------------------------------------------------

bool TDrvModule::Load()
{
    if (handle_) return true;
    void* handle = dlopen(fileName_.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) return false;
    auto* createDbObject = reinterpret_cast<TDrvCreateDbObjectProc>(dlsym(handle, DrvCreateDbObjectName));
    auto* xmlRequest = reinterpret_cast<TDrvXMLRequestProc>(dlsym(handle, DrvXMLRequestName));
    if (!createDbObject || !xmlRequest) {
        dlclose(handle);
        return false;
    }
    handle_ = handle;
    createDbObject_ = createDbObject;
    xmlRequest_ = xmlRequest;
    return true;
}

TDrvModule::~TDrvModule()
{
    // Databases still in use run the library's code: it stays in the process.
    if (!InUse()) Unload();
}

bool TDrvModule::InUse() noexcept
{
    // A database only the module references is released here, while its code is loaded.
    std::erase_if(made_, [](const rtl::RefPtr<IUdb>& db) { return db->RefCount() == 1; });
    return !made_.empty();
}

void TDrvModule::Unload() noexcept
{
    if (!handle_ || InUse()) return;
    dlclose(handle_);
    handle_ = nullptr;
    createDbObject_ = nullptr;
    xmlRequest_ = nullptr;
}

void TDrvModule::NeedLoaded()
{
    if (!Load()) throw rtl::Exception(rtl::Format(SCantLoadModule, fileName_.c_str()));
}

rtl::RefPtr<IUdb> TDrvModule::CreateDbObject(const std::string& params, bool open)
{
    NeedLoaded();
    rtl::RefPtr<IUdb> db;
    std::string error;
    if (!createDbObject_(&db, &params, open, &error)) RaiseModuleFailure(error, fileName_);
    if (!db) throw rtl::Exception(rtl::Format(SModuleNoDatabase, fileName_.c_str()));
    made_.push_back(db);
    return db;
}

std::string TDrvModule::XMLRequest(const std::string& request)
{
    NeedLoaded();
    std::string response;
    std::string error;
    if (!xmlRequest_(&response, &request, &error)) RaiseModuleFailure(error, fileName_);
    return response;
}

// ---- TUdbManager -----------------------------------------------------------------------

TUdbManager::TUdbManager(const std::string& folder, TUdbDriverList* registry)
    : folder_(rtl::IncludeTrailingPathDelimiter(folder.empty() ? rtl::ExtractFilePath(rtl::ProgramFileName())
                                                               : folder)),
      registry_(registry)
{
}

TUdbDriverList& TUdbManager::Registry() const { return registry_ ? *registry_ : DriverList(); }

void TUdbManager::Refresh()
{
    for (const rtl::RefPtr<TDrvModule>& module : modules_)
        if (module->InUse()) retired_.push_back(module);
    std::erase_if(retired_, [](const rtl::RefPtr<TDrvModule>& module) { return !module->InUse(); });
    drivers_.clear();
    modules_.clear();
    ScanDrivers();
}

void TUdbManager::EnsureLoaded()
{
    if (loaded_) return;
    Refresh();
    loaded_ = true;
}

void TUdbManager::ScanDrivers()
{
    TUdbDriverList& registry = Registry();
    for (int i = 0; i < registry.Count(); ++i) {
        const TUdbDriver& driver = registry.Items(i);
        if (FindDriver(driver.Name())) continue;
        const IXmlElementPtr definition = driver.GetDefinition();
        RTL_ASSERT(definition, SInvalidCopiedDefinition);
        drivers_.push_back({nullptr, definition->CloneNode(true)->AsElement()});
    }

    // One bad library never keeps the others out; a failed assertion is a
    // programming error and is raised once every library has been tried.
    std::exception_ptr assertion;
    for (const std::string& file : LibraryFiles(folder_)) {
        const rtl::RefPtr<TDrvModule> module(new TDrvModule(file));
        try {
            ScanLibrary(module);
        } catch (const rtl::EAssertionFailed&) {
            if (!assertion) assertion = std::current_exception();
        } catch (...) {
            // A library that cannot answer is skipped.
        }
        module->Unload();
    }
    if (assertion) std::rethrow_exception(assertion);
}

void TUdbManager::ScanLibrary(const rtl::RefPtr<TDrvModule>& module)
{
    if (!module->Load()) return;
    const IXmlDocumentPtr doc = CreateXmlDocument();
    doc->NewDocument("1.0", "windows-1251", UdbQueryDriversRequest);
    doc->LoadXML(module->XMLRequest(doc->Get_XML()));
    const IXmlElementPtr root = doc->Get_DocumentElement();
    RTL_ASSERT(root, SInvalidXmlDocument);
    bool added = false;
    const IXmlNodeListPtr items = root->SelectNodes("driver");
    for (int i = 0; i < items->Get_Count(); ++i) {
        const IXmlElementPtr item = items->Get_Item(i)->AsElement();
        if (!item) continue;
        const std::string name = rtl::Trim(item->GetAttr("name"));
        if (name.empty() || FindDriver(name)) continue;
        drivers_.push_back({module, item});
        added = true;
    }
    if (added) modules_.push_back(module);
}

const TDrvInfo* TUdbManager::FindDriver(std::string_view name) const
{
    for (const TDrvInfo& info : drivers_)
        if (info.Definition->GetAttr("name") == name) return &info;
    return nullptr;
}

std::string TUdbManager::XMLRequest(const std::string& request)
{
    EnsureLoaded();
    const IXmlDocumentPtr doc = CreateXmlDocument({}, "1.0");
    doc->LoadXML(request);
    const IXmlElementPtr root = doc->Get_DocumentElement();
    if (!root) throw rtl::Exception(SInvalidQuery);
    if (root->Get_NodeName() == UdbQueryDriversRequest) {
        const IXmlDocumentPtr answer = CreateXmlDocument("response", "1.0");
        const IXmlElementPtr answerRoot = answer->Get_DocumentElement();
        for (const TDrvInfo& info : drivers_) answerRoot->AppendChild(info.Definition->CloneNode(true));
        return answer->Get_XML();
    }
    const std::string driverName = root->NeedAttr("driver-name");
    const TDrvInfo* info = FindDriver(driverName);
    if (!info) throw rtl::Exception(rtl::Format(SRequestDriverNotFound, driverName.c_str()));
    if (const rtl::RefPtr<TDrvModule> module = info->Module) return module->XMLRequest(request);
    std::string response;
    Registry().XMLRequest(response, request);
    return response;
}

rtl::RefPtr<IUdb> TUdbManager::CreateDatabase(const std::string& params, bool open)
{
    EnsureLoaded();
    const IXmlDocumentPtr doc = CreateXmlDocument({}, "1.0");
    doc->LoadXML(params);
    const IXmlElementPtr root = doc->Get_DocumentElement();
    if (!root) throw rtl::Exception(SInvalidQuery);
    const std::string driverName = root->GetAttr("name");
    const TDrvInfo* info = FindDriver(driverName);
    if (!info) throw rtl::Exception(rtl::Format(SDriverNotFound, driverName.c_str()));
    if (const rtl::RefPtr<TDrvModule> module = info->Module) return module->CreateDbObject(params, open);
    rtl::RefPtr<IUdb> db;
    Registry().CreateDbObject(db, params, open);
    return db;
}

rtl::RefPtr<IUdbManager> GetDbManager()
{
    static const rtl::RefPtr<IUdbManager> manager(new TUdbManager());
    return manager;
}
