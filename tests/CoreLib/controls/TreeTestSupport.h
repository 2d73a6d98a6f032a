// Helpers of the tree tests: building a tree from an outline and writing its
// check states as one line.
#pragma once

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "CoreLib/controls/xTreeView.h"

namespace treetest {

// Adds nodes to view from lines "name" or "parent/name" (the parent added
// before); returns the nodes by name.
inline std::map<std::string, TXTreeNode*> Build(TXCustomTreeView& view, const std::vector<std::string>& outline)
{
    std::map<std::string, TXTreeNode*> nodes;
    for (const std::string& line : outline) {
        const std::size_t slash = line.rfind('/');
        TXTreeNode* parent = slash == std::string::npos ? nullptr : nodes.at(line.substr(0, slash));
        const std::string name = slash == std::string::npos ? line : line.substr(slash + 1);
        nodes[name] = view.Items().AddChild(parent, name);
    }
    return nodes;
}

// "name=state ..." in tree order, the states as GetCheckState reads them.
inline std::string States(const TXCustomTreeView& view)
{
    std::ostringstream out;
    for (const TXTreeNode* n = view.Items().GetFirstNode(); n; n = n->GetNext()) {
        if (n != view.Items().GetFirstNode()) out << ' ';
        out << n->Text() << '=' << static_cast<int>(n->GetCheckState());
    }
    return out.str();
}

} // namespace treetest
