// A tree source held in memory for the find-dialog tests, and a one-line
// picture of a result tree.
#pragma once

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "CoreLib/controls/SelectInTreeView.h"

namespace searchtest {

struct FakeNode {
    std::string text;
    int image = -1;
    unsigned flags = tnfInclude | tnfAux;
    std::vector<std::unique_ptr<FakeNode>> children;

    FakeNode& Add(std::string childText, int childImage, unsigned childFlags = tnfInclude | tnfAux)
    {
        auto child = std::make_unique<FakeNode>();
        child->text = std::move(childText);
        child->image = childImage;
        child->flags = childFlags;
        children.push_back(std::move(child));
        return *children.back();
    }
};

class FakeSource : public ITreeSource {
public:
    FakeNode root;
    gui::ImageList* images = nullptr;

    gui::ImageList* GetImages() override { return images; }
    void GetNodeText(TTreeSourceNode node, std::string& text) override
    {
        if (node) text = Of(node).text;
    }
    int GetNodeImageIndex(TTreeSourceNode node) override { return node ? Of(node).image : -1; }
    TTreeSourceNode GetChild(TTreeSourceNode parent, int index) override
    {
        return (parent ? Of(parent) : root).children.at(static_cast<std::size_t>(index)).get();
    }
    int GetChildCount(TTreeSourceNode parent) override
    {
        return static_cast<int>((parent ? Of(parent) : root).children.size());
    }
    unsigned GetNodeFlags(TTreeSourceNode node) override { return node ? Of(node).flags : 0; }

private:
    static FakeNode& Of(TTreeSourceNode node) { return *static_cast<FakeNode*>(node); }
};

// Areas, maps and layers; the southern map is excluded by its flags.
inline rtl::RefPtr<FakeSource> MakeSource()
{
    auto source = rtl::MakeRef<FakeSource>();
    FakeNode& north = source->root.Add("Область Север", 1);
    FakeNode& roads = north.Add("Карта дорог", 5);
    roads.Add("Слой дороги", 6);
    roads.Add("Слой граница", 6);
    north.Add("Карта рек", 5).Add("Слой реки и дороги", 6);
    FakeNode& south = source->root.Add("Область Юг", 1);
    south.Add("Карта дорог юга", 5, 0).Add("Слой дороги юга", 6);
    return source;
}

// The source node with that text.
inline FakeNode* Find(FakeNode& from, const std::string& text)
{
    if (from.text == text) return &from;
    for (auto& child : from.children)
        if (FakeNode* found = Find(*child, text)) return found;
    return nullptr;
}

// Each node as dots for its level, its text, "!" when bold, "@" when
// selected, "-" when collapsed; joined by " | ".
inline std::string Describe(const TXCustomTreeView& tree)
{
    std::ostringstream out;
    for (const TXTreeNode* n = tree.Items().GetFirstNode(); n; n = n->GetNext()) {
        if (n != tree.Items().GetFirstNode()) out << " | ";
        out << std::string(static_cast<std::size_t>(n->Level()), '.') << n->Text() << (n->Bold() ? "!" : "")
            << (n->Selected() ? "@" : "") << (n->Expanded() ? "" : "-");
    }
    return out.str();
}

} // namespace searchtest
