// The log entries of a change run.
#include "Tools/Parvane/ChangeLogs.h"

std::string TChangeLog::Quoted(const std::string& text) { return "\"" + text + "\""; }

void TChangeLog::WriteLog(const std::string& entry) { host_.WriteLog(entry); }

void TChangeLog::LogIDChange(const std::string& oldText, const std::string& newText)
{
    WriteLog(Quoted(oldText) + " -> " + Quoted(newText));
}

std::string TChangeLog::FormatIDPair(const TIDMapItem& item)
{
    return Quoted(BinIDToStr(item.OldID)) + " -> " + Quoted(BinIDToStr(item.NewID));
}

void TChangeLog::LogIDMap(const TIDMapList& map)
{
    if (map.Count() == 0 || !host_.LogEnabled()) return;
    std::string entry;
    TIDMapItem item;
    for (int i = 0; i < map.Count(); ++i) {
        map.GetItem(i, item);
        if (i > 0) entry += "\r\n";
        entry += FormatIDPair(item);
    }
    WriteLog(entry);
}
