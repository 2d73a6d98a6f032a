// The find dialog without a display: copying the source, the words filter,
// which node is selected, and the tree-view source.
#include <string>

#include <gtest/gtest.h>

#include "CoreLib/controls/SelectInTreeView.h"
#include "platform/rtl/Exceptions.h"
#include "tests/CoreLib/controls/SearchTestSupport.h"
#include "tests/CoreLib/controls/TreeTestSupport.h"

namespace {

using searchtest::Describe;

TEST(SearchFilter, ShowsMatchesWithTheirAncestors)
{
    struct Case {
        const char* name;
        const char* filter;
        const char* tree;
    };
    const Case cases[] = {
        {"an empty filter shows nothing", "", ""},
        {"blanks and control characters only show nothing", " \t \n", ""},
        {"two word beginnings: nodes holding both, their ancestors expanded", "слой  дор",
         "Область Север | .Карта дорог | ..Слой дороги!@ | .Карта рек | ..Слой реки и дороги!"},
        {"letter case does not matter", "КАРТА",
         "Область Север | .Карта дорог!@ | .Карта рек!"},
        {"every word must match the same node", "дорог карта", "Область Север | .Карта дорог!@"},
        {"words match only at a word start", "рог", ""},
        {"a node excluded by the source hides its subtree", "юга", ""},
        {"a matching child is selected before its matching parent", "дорог",
         "Область Север | .Карта дорог! | ..Слой дороги!@ | .Карта рек | ..Слой реки и дороги!"},
        {"area match", "юг", "Область Юг!@"},
    };
    for (const Case& c : cases) {
        const rtl::RefPtr<searchtest::FakeSource> source = searchtest::MakeSource();
        TXCustomTreeView tree;
        TSearchInTree search(tree);
        search.Init(source.get(), nullptr, "");
        EXPECT_EQ(Describe(tree), "") << c.name;
        search.ApplyFilter(c.filter, nullptr);
        EXPECT_EQ(Describe(tree), c.tree) << c.name;
    }
}

TEST(SearchFilter, TheCopyLeavesOutExcludedSubtrees)
{
    const rtl::RefPtr<searchtest::FakeSource> source = searchtest::MakeSource();
    TXCustomTreeView tree;
    TSearchInTree search(tree);
    search.Init(source.get(), nullptr, "");
    const TNode& root = search.Root();
    EXPECT_EQ(root.Data, nullptr);
    EXPECT_EQ(root.ImageIndex, -1);
    ASSERT_EQ(root.Children.size(), 2u);
    EXPECT_TRUE(root.Children[1]->Children.empty());
    const TNode& roads = *root.Children[0]->Children[0];
    EXPECT_EQ(roads.Text, "Карта дорог");
    EXPECT_EQ(roads.ImageIndex, 5);
    EXPECT_EQ(roads.Data, searchtest::Find(source->root, "Карта дорог"));
    EXPECT_EQ(roads.Children.size(), 2u);
}

TEST(SearchFilter, ResultNodesCarryTheSourceData)
{
    const rtl::RefPtr<searchtest::FakeSource> source = searchtest::MakeSource();
    gui::ImageList images;
    source->images = &images;
    TXCustomTreeView tree;
    TSearchInTree search(tree);
    search.Init(source.get(), nullptr, "граница");
    EXPECT_EQ(tree.Images(), &images);
    const TXTreeNode* layer = tree.Items().GetFirstNode()->Item(0)->Item(0);
    EXPECT_EQ(layer->Text(), "Слой граница");
    EXPECT_EQ(layer->Data(), searchtest::Find(source->root, "Слой граница"));
    EXPECT_EQ(layer->ImageIndex(), 6);
    EXPECT_EQ(layer->SelectedIndex(), 6);
    EXPECT_EQ(search.SelectedData(), layer->Data());
}

TEST(SearchFilter, SelectionAcrossRefiltering)
{
    struct Case {
        const char* name;
        const char* first;
        const char* choose; // node selected by the user after the first filter
        const char* second;
        const char* tree;
    };
    const Case cases[] = {
        {"the selected node stays selected when still shown", "дорог", "Слой реки и дороги", "слой дор",
         "Область Север | .Карта дорог | ..Слой дороги! | .Карта рек | ..Слой реки и дороги!@"},
        {"the first match when the selected node is gone", "дорог", "Слой реки и дороги", "граница",
         "Область Север | .Карта дорог | ..Слой граница!@"},
        {"a shown ancestor stays selected although it does not match", "слой дор", "Карта рек", "реки",
         "Область Север | .Карта рек@ | ..Слой реки и дороги!"},
    };
    for (const Case& c : cases) {
        const rtl::RefPtr<searchtest::FakeSource> source = searchtest::MakeSource();
        TXCustomTreeView tree;
        TSearchInTree search(tree);
        search.Init(source.get(), nullptr, c.first);
        TXTreeNode* chosen = nullptr;
        for (TXTreeNode* n = tree.Items().GetFirstNode(); n; n = n->GetNext())
            if (n->Text() == c.choose) chosen = n;
        ASSERT_NE(chosen, nullptr) << c.name;
        tree.SetSelected(chosen);
        search.Refilter(c.second);
        EXPECT_EQ(Describe(tree), c.tree) << c.name;
    }
}

TEST(SearchFilter, ExplicitSelectedDataWinsOverTheFirstMatch)
{
    const rtl::RefPtr<searchtest::FakeSource> source = searchtest::MakeSource();
    TXCustomTreeView tree;
    TSearchInTree search(tree);
    search.Init(source.get(), searchtest::Find(source->root, "Карта дорог"), "дорог");
    EXPECT_EQ(Describe(tree), "Область Север | .Карта дорог!@ | ..Слой дороги! | .Карта рек | ..Слой реки и дороги!");
}

TEST(SearchFilter, WithoutASourceNothingIsCopied)
{
    TXCustomTreeView tree;
    TSearchInTree search(tree);
    search.Init(nullptr, nullptr, "слой");
    EXPECT_TRUE(search.Root().Children.empty());
    EXPECT_EQ(search.Source(), nullptr);
    EXPECT_EQ(search.SelectedData(), nullptr);
}

// Message text of the assertion or exception fn raises.
template <class Fn>
std::string Failure(Fn fn)
{
    try {
        fn();
    } catch (const rtl::Exception& e) {
        return e.Message();
    }
    return "no exception";
}

TEST(TreeViewSource, ReadsTheTreeViewsNodes)
{
    TXCustomTreeView view;
    auto n = treetest::Build(view, {"a", "a/a1", "b", "b/b1", "b/b2"});
    n["b2"]->SetImageIndex(4);
    const rtl::RefPtr<TTreeViewSource> source =
        rtl::MakeRef<TTreeViewSource>(&view, nullptr, [](TXTreeNode* node) { return node->Text() != "b1"; });
    EXPECT_EQ(source->GetChildCount(nullptr), 2);
    EXPECT_EQ(source->GetChild(nullptr, 0), n["a"]);
    EXPECT_EQ(source->GetChild(nullptr, 1), n["b"]);
    EXPECT_EQ(source->GetChildCount(n["b"]), 2);
    EXPECT_EQ(source->GetChild(n["b"], 1), n["b2"]);
    EXPECT_EQ(source->GetNodeImageIndex(n["b2"]), 4);
    EXPECT_EQ(source->GetNodeImageIndex(nullptr), -1);
    std::string text = "untouched";
    source->GetNodeText(nullptr, text);
    EXPECT_EQ(text, "untouched");
    source->GetNodeText(n["a1"], text);
    EXPECT_EQ(text, "a1");
    EXPECT_EQ(source->GetNodeFlags(n["a1"]), tnfInclude | tnfAux);
    EXPECT_EQ(source->GetNodeFlags(n["b1"]), 0u);
    EXPECT_EQ(source->GetNodeFlags(nullptr), 0u);
    EXPECT_EQ(Failure([&] { source->GetChild(nullptr, 2); }), "Index \"2\" out of bounds \"2\"");
    EXPECT_EQ(Failure([&] { source->GetChild(nullptr, -1); }).rfind("Invalid index (SelectInTreeView.cpp, line ", 0),
              0u);
    EXPECT_EQ(Failure([&] { source->GetChild(n["a"], 1); }), "List index out of bounds (1)");

    const rtl::RefPtr<TTreeViewSource> all = rtl::MakeRef<TTreeViewSource>(&view, nullptr, nullptr);
    EXPECT_EQ(all->GetNodeFlags(n["b1"]), tnfInclude | tnfAux);
}

TEST(TreeViewSource, AViewWithoutNodesHasNoTopLevel)
{
    TXCustomTreeView view;
    const rtl::RefPtr<TTreeViewSource> source = rtl::MakeRef<TTreeViewSource>(&view, nullptr, nullptr);
    view.Items().Add(nullptr, "added later");
    EXPECT_EQ(source->GetChildCount(nullptr), 0);
    EXPECT_EQ(Failure([&] { source->GetChild(nullptr, 0); }).rfind("Invalid params (SelectInTreeView.cpp, line ", 0),
              0u);
}

TEST(TreeViewSource, AFilteredNodeHidesItsSubtreeFromTheDialog)
{
    TXCustomTreeView view;
    auto n = treetest::Build(view, {"Карта", "Карта/Слой дороги", "Слой дороги/Стиль дороги"});
    const rtl::RefPtr<TTreeViewSource> source =
        rtl::MakeRef<TTreeViewSource>(&view, nullptr, [](TXTreeNode* node) { return node->Text() != "Слой дороги"; });
    TXCustomTreeView result;
    TSearchInTree search(result);
    search.Init(source.get(), nullptr, "дороги");
    EXPECT_EQ(Describe(result), "");
    search.ApplyFilter("карта", nullptr);
    EXPECT_EQ(Describe(result), "Карта!@");
}

} // namespace
