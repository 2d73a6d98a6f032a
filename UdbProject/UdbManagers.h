// The driver manager: the one object through which the program reaches
// drivers, built-in (the registry of UdbDrivers.h) or provided by driver
// libraries.
//
// A driver library is a file named "libUdb*.so" in the program's folder,
// built with this same toolchain, that exports two extern "C" entry points by
// these exact names:
//
//   bool CreateDbObject(rtl::RefPtr<IUdb>* db, const std::string* params,
//                       bool open, std::string* error) noexcept;
//     *db := a new database of the driver named by the parameter document's
//     root attribute "name", opened with *params when open is set.
//   bool XMLRequest(std::string* response, const std::string* request,
//                   std::string* error) noexcept;
//     For "query-drivers" a document whose root holds one "driver" element
//     (with a non-blank "name") per driver of the library; for any other
//     request the answer of the driver named by the root's "driver-name".
//
// Texts are UTF-8. No exception may cross these functions: each returns true
// on success, or false with the failure's message in *error, which the
// manager raises as rtl::Exception.
//
// A library is built with the same compiler family and C++ standard library
// as the program, since C++ objects cross the entry points.
//
// Libraries are loaded with dlopen (RTLD_NOW | RTLD_LOCAL). A file without
// both entry points is closed at once; a scanned library is closed again until
// its first use. A library is closed when the manager forgets it (Refresh) or
// goes away, but not while a database it made is still referenced from outside
// the manager: such a library stays loaded, and the next Refresh closes it once
// its databases are released (their commands, cursors and table definitions
// hold them while attached). A database the library made stays alive until
// then, so a library keeps working after its file was removed.
//
// Driver names are compared exactly. Built-in drivers come first and win over
// library drivers of the same name; among libraries the first file by sorted
// file name wins.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "CoreLib/RefObjects.h"
#include "CoreLib/SimpleXML.h"
#include "UdbProject/Udbs.h"

class TUdbDriverList;

// The entry points of a driver library.
using TDrvCreateDbObjectProc = bool (*)(rtl::RefPtr<IUdb>* db, const std::string* params, bool open,
                                        std::string* error);
using TDrvXMLRequestProc = bool (*)(std::string* response, const std::string* request, std::string* error);
inline constexpr const char* DrvCreateDbObjectName = "CreateDbObject";
inline constexpr const char* DrvXMLRequestName = "XMLRequest";

// Which files of the folder are driver libraries: "libUdb*.so".
inline constexpr const char* DriverLibraryPrefix = "libUdb";
inline constexpr const char* DriverLibrarySuffix = ".so";
bool IsDriverLibraryName(std::string_view fileName) noexcept;

// One driver library.
class TDrvModule : public TRefObject {
public:
    explicit TDrvModule(std::string fileName) : fileName_(std::move(fileName)) {}

    const std::string& FileName() const noexcept { return fileName_; }
    bool Loaded() const noexcept { return handle_ != nullptr; }

    // True when loaded, or when the file loads and has both entry points (the
    // file is closed again when it lacks one).
    bool Load();
    // Closes the library unless a database it made is still in use.
    void Unload() noexcept;
    // Whether a database the library made is referenced from outside the
    // module; the module's references on the others are dropped.
    bool InUse() noexcept;
    // Load, or Exception "Can't load module %s".
    void NeedLoaded();

    // The library's entry points (loading it when needed); a failure the
    // library reports is raised as rtl::Exception with its message.
    rtl::RefPtr<IUdb> CreateDbObject(const std::string& params, bool open);
    std::string XMLRequest(const std::string& request);

protected:
    // Closes the library, or leaves it loaded for good while one of its
    // databases is in use.
    ~TDrvModule() override;

private:
    std::string fileName_;
    // The databases the library made, one reference each.
    std::vector<rtl::RefPtr<IUdb>> made_;
    void* handle_ = nullptr;
    TDrvCreateDbObjectProc createDbObject_ = nullptr;
    TDrvXMLRequestProc xmlRequest_ = nullptr;
};

// One known driver.
struct TDrvInfo {
    // The library that provides it; nullptr for a built-in driver.
    rtl::RefPtr<TDrvModule> Module;
    // The driver's "driver" element.
    IXmlElementPtr Definition;
};

class TUdbManager : public IUdbManager {
public:
    // folder: where driver libraries are searched ("" means the program's
    // folder). registry: the built-in drivers (nullptr means DriverList()).
    explicit TUdbManager(const std::string& folder = {}, TUdbDriverList* registry = nullptr);

    // ---- IUdbManager
    // Forgets every known driver and library (closing the libraries no
    // database of which is in use) and scans again; does not mark the manager
    // as loaded. A failed assertion during the scan passes on
    // after every library has been tried.
    void Refresh() override;
    // "query-drivers" is answered with a "response" document holding every
    // known driver's definition; any other request goes to the driver named
    // by its root's "driver-name" and its answer is returned as given.
    std::string XMLRequest(const std::string& request) override;
    // A new database of the driver named by the parameter document's root
    // attribute "name", opened when open is set.
    rtl::RefPtr<IUdb> CreateDatabase(const std::string& params, bool open) override;

    // The known driver whose definition's "name" equals name exactly, nullptr when none.
    const TDrvInfo* FindDriver(std::string_view name) const;
    const std::vector<TDrvInfo>& Drivers() const noexcept { return drivers_; }
    // The libraries that supplied at least one driver.
    const std::vector<rtl::RefPtr<TDrvModule>>& Modules() const noexcept { return modules_; }
    // With its trailing "/".
    const std::string& Folder() const noexcept { return folder_; }
    bool Loaded() const noexcept { return loaded_; }

protected:
    ~TUdbManager() override = default;

private:
    TUdbDriverList& Registry() const;
    void EnsureLoaded();
    void ScanDrivers();
    void ScanLibrary(const rtl::RefPtr<TDrvModule>& module);

    std::vector<rtl::RefPtr<TDrvModule>> modules_;
    std::vector<TDrvInfo> drivers_;
    // Forgotten libraries kept loaded for their databases in use.
    std::vector<rtl::RefPtr<TDrvModule>> retired_;
    std::string folder_;
    TUdbDriverList* registry_;
    bool loaded_ = false;
};

// The program's driver manager (over the program's folder and DriverList()),
// made on first use.
rtl::RefPtr<IUdbManager> GetDbManager();
