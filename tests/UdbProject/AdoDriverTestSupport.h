// Helpers of the ADO dialect tests: reading the recorded transcript and
// opening a driver from its parameters.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "CoreLib/SimpleXML.h"
#include "UdbProject/UdbDrivers.h"

namespace adodrv {

inline std::string Join(const std::vector<std::string>& lines)
{
    std::string out;
    for (const std::string& line : lines) out += line + "\n";
    return out;
}

// The statement lines of a transcript without their prefixes: the texts run
// through a command as they are, those run on the connection marked "conn:",
// transactions by their names.
inline std::vector<std::string> Texts(const std::vector<std::string>& statements)
{
    std::vector<std::string> out;
    for (const std::string& line : statements) {
        if (line.starts_with("Command.Execute(adCmdText): ")) out.push_back(line.substr(28));
        else if (line.starts_with("Connection.Execute(")) out.push_back("conn: " + line.substr(line.find("): ") + 3));
        else out.push_back(line.substr(line.find('.') + 1));
    }
    return out;
}

// <driver name="driver"> with one <param> per pair.
inline std::string ParamsXml(const std::string& driver, const std::vector<std::pair<std::string, std::string>>& params)
{
    std::string xml = "<driver name=\"" + driver + "\">";
    for (const auto& [name, value] : params) xml += "<param name=\"" + name + "\">" + XmlEscape(value) + "</param>";
    return xml + "</driver>";
}

// The database the registry creates and opens for these parameters.
inline rtl::RefPtr<IUdb> OpenDb(const std::string& driver, const std::vector<std::pair<std::string, std::string>>& params)
{
    rtl::RefPtr<IUdb> db;
    CreateDbObject(db, ParamsXml(driver, params), true);
    return db;
}

} // namespace adodrv
