// The registry entry of the SQL Server driver and its one XML request,
// "query-lookup-values", which lists the databases of a server for the
// connection-parameter frame's "database" parameter.
//
// The lookup connects with the request's own parameters (no database named)
// and reads the catalogs schema rowset. It never fails: every error leaves a
// shorter, often empty, list. It runs on the caller's thread within ten
// seconds: the login and the catalog read get the connection's time-outs of
// the time left.
#pragma once

#include <chrono>
#include <string>

#include "CoreLib/SimpleXML.h"
#include "UdbProject/UdbDrivers.h"

// How long a lookup may take.
inline constexpr std::chrono::seconds MsSqlLookupTimeLimit{10};

class TMSSQLDriver : public TUdbDriver {
public:
    // The entry named name, making TMSSQLDb databases and answering "query-lookup-values".
    explicit TMSSQLDriver(std::string name);

    // response := a "response" document (version "1.0", encoding
    // "windows-1251") with one "value" child per database of the server,
    // when the request's "param-name" is "database".
    void QueryLookupValues(const IXmlDocumentPtr& request, IXmlDocumentPtr& response);
};

// The lookup with a time limit of the caller's choosing (the driver's is
// MsSqlLookupTimeLimit).
IXmlDocumentPtr LookupDatabaseNames(const IXmlDocumentPtr& request, std::chrono::milliseconds timeLimit);
