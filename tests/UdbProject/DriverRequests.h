// Helpers of the registry and manager tests: XML requests and answers.
#pragma once

#include <string>
#include <vector>

#include "CoreLib/SimpleXML.h"

namespace fake {

inline IXmlDocumentPtr Parse(const std::string& xml)
{
    IXmlDocumentPtr doc = CreateXmlDocument();
    doc->LoadXML(xml);
    return doc;
}

// The "name" attributes of the "driver" children of a document's root.
inline std::vector<std::string> DriverNames(const IXmlDocumentPtr& doc)
{
    std::vector<std::string> names;
    const IXmlElementPtr root = doc->Get_DocumentElement();
    if (!root) return {"(no root)"};
    const IXmlNodeListPtr drivers = root->SelectNodes("driver");
    for (int i = 0; i < drivers->Get_Count(); ++i) names.push_back(drivers->Get_Item(i)->GetAttr("name"));
    return names;
}

} // namespace fake
