// The registry of the drivers built into the program.
//
// A TUdbDriver maps a driver name to the factory of its database class, keeps
// the driver's definition (its connection parameters, read from the
// "DRIVERLISTDATA" documents among the program's resources) and the XML
// requests the driver answers. The registry offers the same two entry points
// a driver library exports (see UdbManagers.h), here as C++ calls that raise
// their failures: XMLRequest and CreateDbObject, both under one re-entrant
// lock, so a request handler or a database's Open may call them again on the
// same thread.
//
// Driver names are matched ignoring the case of the Latin letters A to Z;
// only finding a driver's definition in the driver-list documents compares
// names exactly.
//
// Start-up is explicit: RegisterBuiltInDrivers builds the drivers document
// and registers "BDE.Paradox", "ADO.MSSQL" and "ADO.ORACLE" in that order.
#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "CoreLib/SimpleXML.h"
#include "UdbProject/UdbUtils.h"
#include "UdbProject/Udbs.h"

// The resource type of the driver-list documents.
inline constexpr const char* DriverListResourceType = "DRIVERLISTDATA";
// The resource that holds a module's file version text (see embed_file_version).
inline constexpr const char* FileVersionResourceType = "VERSIONINFO";
inline constexpr const char* FileVersionResourceName = "FILEVERSION";

// Answers one request: request is the request document; the handler must set
// response (which arrives empty) to the answer document.
using TRequestMethod = std::function<void(const IXmlDocumentPtr& request, IXmlDocumentPtr& response)>;

class TRequestHandler {
public:
    // An empty method fails the assertion "Handler not defined".
    TRequestHandler(std::string requestName, TRequestMethod method);

    // The root element name of the requests it answers.
    const std::string& RequestName() const noexcept { return requestName_; }
    const TRequestMethod& Method() const noexcept { return method_; }

private:
    std::string requestName_;
    TRequestMethod method_;
};

// One built-in driver.
class TUdbDriver {
public:
    // dbClass makes the driver's databases. The definition is loaded when the
    // driver joins a registry (TUdbDriverList::Add), where the override of
    // LoadDefinition is already in place.
    TUdbDriver(std::string name, TUdbClass dbClass);
    virtual ~TUdbDriver() = default;
    TUdbDriver(const TUdbDriver&) = delete;
    TUdbDriver& operator=(const TUdbDriver&) = delete;

    const std::string& Name() const noexcept { return name_; }
    TUdbClass DbClass() const noexcept { return dbClass_; }
    // A document whose root is a copy of the driver's "driver" element with a
    // copy of the vendor element as its last child; empty until loaded.
    const IXmlDocumentPtr& Definition() const noexcept { return definition_; }
    // The root of Definition ("driver"), nullptr when there is none.
    IXmlElementPtr GetDefinition() const;

    // A new, closed database of the driver's class.
    rtl::RefPtr<IUdb> CreateDatabase() const;

    // The assertion "Request handler already registred" fails when a handler
    // of that name exists (names compared ignoring Latin case).
    void RegisterRequestHandler(const std::string& requestName, TRequestMethod method);
    // Position of the handler answering requestName (Latin case ignored), -1 when none.
    int FindRequestHandler(std::string_view requestName) const;
    // The answer (XML text) of the handler named by the request's root.
    // Assertions: "Object not initialized" without a request, "Empty XML
    // document" without a root, "Request handler not return response
    // document" when the handler set no answer; Exception 'Unknown request
    // "%s"' when no handler has the root's name.
    std::string HandleRequest(const IXmlDocumentPtr& request);

    // Fills Definition from the drivers document: the first "driver" element
    // whose "name" equals Name exactly; the assertion "Definition not found
    // for driver <name>" fails when there is none.
    virtual void LoadDefinition();

protected:
    // Definition := a copy of driverElement with a copy of the vendor element
    // appended as its last child.
    void SetDefinition(const IXmlNodePtr& driverElement);

private:
    std::string name_;
    TUdbClass dbClass_;
    IXmlDocumentPtr definition_;
    std::vector<TRequestHandler> requestHandlers_;
};

// An owning list of drivers with the two entry points over it.
class TUdbDriverList {
public:
    TUdbDriverList() = default;
    TUdbDriverList(const TUdbDriverList&) = delete;
    TUdbDriverList& operator=(const TUdbDriverList&) = delete;

    // Loads the driver's definition, then appends it; the assertion "Driver
    // already exist" fails when a driver of that name (Latin case ignored) is
    // registered. A failed Add leaves the list as it was.
    void Add(std::unique_ptr<TUdbDriver> driver);
    // Position of the first driver whose name matches ignoring Latin case, -1 when none.
    int IndexOf(std::string_view name) const;
    int Count() const noexcept { return static_cast<int>(drivers_.size()); }
    TUdbDriver& Items(int index) const;

    // The "query-drivers" answer: a "drivers" document holding a copy of every
    // driver's definition root, in registry order.
    std::string QueryDrivers() const;

    // ---- entry points, each entirely under Lock()
    // "query-drivers" is answered by QueryDrivers; any other request names its
    // driver in the root's attribute "driver-name" and is answered by that
    // driver's handler. Assertion "Invalid XML document" without a root;
    // Exception 'IUdb: driver with name "%s" not found' for an unknown driver.
    void XMLRequest(std::string& response, const std::string& request);
    // db := a new database of the driver named by the root's attribute "name",
    // opened with params when open is set. When opening fails the exception
    // passes on and db already holds the new, closed database. Same failures
    // as XMLRequest for the document and the driver name.
    void CreateDbObject(rtl::RefPtr<IUdb>& db, const std::string& params, bool open);

    // The registry's lock (re-entrant on the thread that holds it).
    std::recursive_mutex& Lock() noexcept { return lock_; }

private:
    std::vector<std::unique_ptr<TUdbDriver>> drivers_;
    std::recursive_mutex lock_;
};

// Start-up of the registry: builds the drivers document, then registers
// "BDE.Paradox", "ADO.MSSQL" and "ADO.ORACLE" in that order. Called once by
// the program before anything asks for a driver; a further call does nothing.
void RegisterBuiltInDrivers();

// The registry; the assertion "DriverList object not initialized" fails
// before RegisterBuiltInDrivers.
TUdbDriverList& DriverList();

// The drivers document: a "drivers" root holding every "driver" element of
// the "DRIVERLISTDATA" resources, in resource order, then the vendor element.
// Built on first use and kept until the process ends.
IXmlDocumentPtr GetDriversDocument();
// The vendor element's document: root "vendor" with the parameters "file"
// (the module that holds this code) and "version" (that module's file
// version, "Unknown version" when it has none). Built once.
IXmlDocumentPtr GetVendorDocument();

// The registry's "query-drivers" answer and its two entry points.
std::string QueryDrivers();
void XMLRequest(std::string& response, const std::string& request);
void CreateDbObject(rtl::RefPtr<IUdb>& db, const std::string& params, bool open);
