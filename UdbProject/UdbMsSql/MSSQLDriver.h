// The registry entry of the SQL Server driver and its one XML request,
// "query-lookup-values", which lists the databases of a server for the
// connection-parameter frame's "database" parameter.
//
// The lookup connects with the request's own parameters (no database named)
// and reads the catalogs schema rowset. It never fails: every error leaves a
// shorter, often empty, list. It runs on a thread of its own and is waited for
// ten seconds at most, so a server whose name resolves slowly cannot hold the
// caller longer than that; a lookup still running then ends by itself.
#pragma once

#include <chrono>
#include <string>

#include "CoreLib/SimpleXML.h"
#include "UdbProject/UdbDrivers.h"

inline constexpr const char* MsSqlLookupRequest = "query-lookup-values";
// How long a lookup is waited for, and its connection's time-out.
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
