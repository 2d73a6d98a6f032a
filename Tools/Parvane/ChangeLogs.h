// The entries a change run writes to the window's log: plain entries and the
// lines of old and new identifiers.
#pragma once

#include <string>

#include "Tools/Parvane/ChangeHosts.h"
#include "gismodel/BinIDs.h"

class TChangeLog {
public:
    explicit TChangeLog(IChangeHost& host) : host_(host) {}

    void WriteLog(const std::string& entry);
    // The pair line: "old" -> "new".
    void LogIDChange(const std::string& oldText, const std::string& newText);
    static std::string FormatIDPair(const TIDMapItem& item);
    // text in double quotation marks.
    static std::string Quoted(const std::string& text);
    // One entry of every pair's line joined by CR LF; nothing for an empty map.
    void LogIDMap(const TIDMapList& map);

private:
    IChangeHost& host_;
};
