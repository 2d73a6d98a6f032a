// The check-box tree without a display: check states, the independent and
// hierarchical rules, their events and vetoes, what clicks and keys do, and
// the node collection.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CoreLib/controls/xTreeView.h"
#include "platform/rtl/Exceptions.h"
#include "tests/CoreLib/controls/TreeTestSupport.h"

namespace {

using treetest::Build;
using treetest::States;

// root with children a (a1, a2) and b (b1).
const std::vector<std::string> kOutline = {"root", "root/a", "a/a1", "a/a2", "root/b", "b/b1"};

TEST(TreeCheckboxes, SwitchingModesResetsEveryNode)
{
    TXCustomTreeView view;
    auto n = Build(view, kOutline);
    EXPECT_EQ(States(view), "root=3 a=3 a1=3 a2=3 b=3 b1=3");
    EXPECT_EQ(n["a1"]->StateIndex(), 0);

    view.SetCheckboxes(cbmHierarchical);
    EXPECT_EQ(States(view), "root=1 a=1 a1=1 a2=1 b=1 b1=1");
    view.SetCheckState(n["a1"], csChecked);
    EXPECT_EQ(States(view), "root=3 a=3 a1=2 a2=1 b=1 b1=1");

    view.SetCheckboxes(cbmIndependent);
    EXPECT_EQ(States(view), "root=1 a=1 a1=1 a2=1 b=1 b1=1");

    view.SetCheckState(n["b"], csChecked);
    view.SetCheckboxes(cbmNone);
    EXPECT_EQ(States(view), "root=3 a=3 a1=3 a2=3 b=3 b1=3");
    for (const TXTreeNode* node = view.Items().GetFirstNode(); node; node = node->GetNext())
        EXPECT_EQ(node->StateIndex(), 0) << node->Text();
}

TEST(TreeCheckboxes, NewNodesStartUncheckedOnlyWithCheckboxes)
{
    TXCustomTreeView view;
    TXTreeNode* before = view.Items().Add(nullptr, "before");
    view.SetCheckboxes(cbmIndependent);
    TXTreeNode* after = view.Items().AddChild(before, "after");
    EXPECT_EQ(after->StateIndex(), csUnchecked);
    view.SetCheckboxes(cbmNone);
    EXPECT_EQ(view.Items().Add(nullptr, "none")->StateIndex(), 0);
}

TEST(TreeCheckboxes, ReadingTheStateIndex)
{
    struct Case {
        const char* name;
        int stateIndex;
        TCheckState read;
    };
    const Case cases[] = {
        {"unchecked", 1, csUnchecked},   {"checked", 2, csChecked},       {"indeterminate", 3, csIndeterminate},
        {"placeholder 0", 0, csIndeterminate}, {"beyond the images", 7, csIndeterminate},
    };
    for (const Case& c : cases) {
        TXCustomTreeView view;
        view.SetCheckboxes(cbmIndependent);
        TXTreeNode* node = view.Items().Add(nullptr, "n");
        node->SetCheckState(static_cast<TCheckState>(c.stateIndex));
        EXPECT_EQ(node->StateIndex(), c.stateIndex) << c.name;
        EXPECT_EQ(node->GetCheckState(), c.read) << c.name;
        EXPECT_EQ(view.GetCheckState(node), c.read) << c.name;
    }
    TXCustomTreeView view;
    view.SetCheckboxes(cbmIndependent);
    EXPECT_EQ(view.GetCheckState(nullptr), csIndeterminate);
}

// One step: the node and the state given to TXCustomTreeView::SetCheckState.
struct Step {
    const char* node;
    TCheckState state;
};

TEST(TreeCheckRules, UserLevelChangesInEachMode)
{
    struct Case {
        const char* name;
        TCheckboxesMode mode;
        std::vector<Step> steps;
        const char* states;
    };
    const Case cases[] = {
        {"one of two children checked: parent indeterminate", cbmHierarchical, {{"a1", csChecked}},
         "root=3 a=3 a1=2 a2=1 b=1 b1=1"},
        {"both children checked: parent checked", cbmHierarchical, {{"a1", csChecked}, {"a2", csChecked}},
         "root=3 a=2 a1=2 a2=2 b=1 b1=1"},
        {"every leaf checked: root checked", cbmHierarchical,
         {{"a1", csChecked}, {"a2", csChecked}, {"b1", csChecked}}, "root=2 a=2 a1=2 a2=2 b=2 b1=2"},
        {"unchecking the parent unchecks both children", cbmHierarchical,
         {{"a1", csChecked}, {"a2", csChecked}, {"a", csUnchecked}}, "root=1 a=1 a1=1 a2=1 b=1 b1=1"},
        {"checking the root checks the whole tree", cbmHierarchical, {{"root", csChecked}},
         "root=2 a=2 a1=2 a2=2 b=2 b1=2"},
        {"an indeterminate child makes every ancestor indeterminate", cbmHierarchical,
         {{"root", csChecked}, {"a1", csIndeterminate}}, "root=3 a=3 a1=3 a2=2 b=2 b1=2"},
        {"indeterminate is pushed down the subtree", cbmHierarchical, {{"a", csIndeterminate}},
         "root=3 a=3 a1=3 a2=3 b=1 b1=1"},
        {"a child with an unknown index counts as unchecked", cbmHierarchical,
         {{"a1", csChecked}, {"a2", static_cast<TCheckState>(5)}}, "root=3 a=3 a1=2 a2=3 b=1 b1=1"},
        {"independent: only the node changes", cbmIndependent, {{"a", csChecked}},
         "root=1 a=2 a1=1 a2=1 b=1 b1=1"},
        {"independent: the parent is not recomputed", cbmIndependent, {{"a1", csChecked}, {"a2", csChecked}},
         "root=1 a=1 a1=2 a2=2 b=1 b1=1"},
    };
    for (const Case& c : cases) {
        TXCustomTreeView view;
        auto n = Build(view, kOutline);
        view.SetCheckboxes(c.mode);
        for (const Step& s : c.steps) view.SetCheckState(n[s.node], s.state);
        EXPECT_EQ(States(view), c.states) << c.name;
    }
}

TEST(TreeCheckRules, ProgrammaticChangesFollowTheSameRule)
{
    TXCustomTreeView view;
    auto n = Build(view, kOutline);
    view.SetCheckboxes(cbmHierarchical);
    n["root"]->SetCheckState(csChecked);
    n["b1"]->SetCheckState(csUnchecked);
    EXPECT_EQ(States(view), "root=3 a=2 a1=2 a2=2 b=1 b1=1");

    view.SetCheckboxes(cbmNone);
    n["a"]->SetCheckState(csChecked); // nothing, and no assertion
    EXPECT_EQ(n["a"]->StateIndex(), 0);
}

TEST(TreeCheckRules, TheUserLevelChangeNeedsCheckboxes)
{
    TXCustomTreeView view;
    auto n = Build(view, kOutline);
    try {
        view.SetCheckState(n["a"], csChecked);
        FAIL() << "no assertion";
    } catch (const rtl::EAssertionFailed& e) {
        EXPECT_EQ(e.Message().rfind("Invalid use XTreeView, checkboxes disabled (xTreeView.cpp, line ", 0), 0u)
            << e.Message();
    }
    EXPECT_EQ(n["a"]->StateIndex(), 0);
    view.SetCheckboxes(cbmIndependent);
    EXPECT_NO_THROW(view.SetCheckState(nullptr, csChecked));
}

// Records the check events as "can(node,check) checking(node,check) checked(node)".
struct EventLog {
    explicit EventLog(TXCustomTreeView& view, std::function<bool(const std::string&)> veto = {})
    {
        view.OnNodeCanCheck = [this, veto](TXCustomTreeView*, TXTreeNode* node, bool check, bool& can) {
            EXPECT_TRUE(can);
            Add("can(" + node->Text() + (check ? ",1)" : ",0)"));
            if (veto && veto(node->Text())) can = false;
        };
        view.OnNodeChecking = [this](TXCustomTreeView*, TXTreeNode* node, bool check) {
            Add("checking(" + node->Text() + (check ? ",1)" : ",0)"));
        };
        view.OnNodeChecked = [this](TXCustomTreeView* sender, TXTreeNode* node) {
            EXPECT_EQ(sender, node->TreeView());
            Add("checked(" + node->Text() + ")");
        };
    }
    void Add(const std::string& event) { text += (text.empty() ? "" : " ") + event; }
    std::string text;
};

TEST(TreeCheckEvents, OrderAndVetoes)
{
    struct Case {
        const char* name;
        TCheckboxesMode mode;
        const char* vetoed; // node whose OnNodeCanCheck says no, or nullptr
        Step step;
        const char* events;
        const char* states;
    };
    const Case cases[] = {
        {"a subtree: parent's can/checking first, its checked last", cbmHierarchical, nullptr, {"a", csChecked},
         "can(a,1) checking(a,1) can(a1,1) checking(a1,1) checked(a1) can(a2,1) checking(a2,1) checked(a2) "
         "checked(a)",
         "root=3 a=2 a1=2 a2=2 b=1 b1=1"},
        {"unchecking reports check false", cbmIndependent, nullptr, {"b1", csUnchecked},
         "can(b1,0) checking(b1,0) checked(b1)", "root=1 a=1 a1=1 a2=1 b=1 b1=1"},
        {"state 3 fires only checked", cbmHierarchical, nullptr, {"b", csIndeterminate}, "checked(b1) checked(b)",
         "root=3 a=1 a1=1 a2=1 b=3 b1=3"},
        {"a vetoed child keeps its subtree, its sibling changes", cbmHierarchical, "a1", {"root", csChecked},
         "can(root,1) checking(root,1) can(a,1) checking(a,1) can(a1,1) can(a2,1) checking(a2,1) checked(a2) "
         "checked(a) can(b,1) checking(b,1) can(b1,1) checking(b1,1) checked(b1) checked(b) checked(root)",
         "root=3 a=3 a1=1 a2=2 b=2 b1=2"},
        {"a vetoed node changes nothing below it", cbmHierarchical, "a", {"a", csChecked}, "can(a,1)",
         "root=1 a=1 a1=1 a2=1 b=1 b1=1"},
        {"independent veto", cbmIndependent, "b", {"b", csChecked}, "can(b,1)", "root=1 a=1 a1=1 a2=1 b=1 b1=1"},
    };
    for (const Case& c : cases) {
        TXCustomTreeView view;
        auto n = Build(view, kOutline);
        view.SetCheckboxes(c.mode);
        EventLog log(view, [&](const std::string& node) { return c.vetoed && node == c.vetoed; });
        view.SetCheckState(n[c.step.node], c.step.state);
        EXPECT_EQ(log.text, c.events) << c.name;
        EXPECT_EQ(States(view), c.states) << c.name;
    }
}

TEST(TreeCheckEvents, TheProgrammaticChangeFiresNothing)
{
    TXCustomTreeView view;
    auto n = Build(view, kOutline);
    view.SetCheckboxes(cbmHierarchical);
    EventLog log(view, [](const std::string&) { return true; });
    n["root"]->SetCheckState(csChecked);
    EXPECT_EQ(log.text, "");
    EXPECT_EQ(States(view), "root=2 a=2 a1=2 a2=2 b=2 b1=2");
}

TEST(TreeCheckEvents, AFailingHandlerEndsTheUpdate)
{
    TXCustomTreeView view;
    auto n = Build(view, kOutline);
    view.SetCheckboxes(cbmHierarchical);
    view.OnNodeChecked = [](TXCustomTreeView*, TXTreeNode* node) {
        if (node->Text() == "a2") throw rtl::Exception("нельзя");
    };
    EXPECT_THROW(view.SetCheckState(n["a"], csChecked), rtl::Exception);
    EXPECT_EQ(view.Items().UpdateCount(), 0);
}

// The view and the hit the display reports for one user action.
TEST(TreeUserActions, AStateIconPressTogglesInEachStateAndMode)
{
    struct Case {
        const char* name;
        TCheckboxesMode mode;
        const char* node;
        std::vector<Step> before;
        THitTest hit;
        const char* states;
    };
    const Case cases[] = {
        {"unchecked leaf becomes checked", cbmHierarchical, "a1", {}, htOnStateIcon, "root=3 a=3 a1=2 a2=1 b=1 b1=1"},
        {"checked node becomes unchecked with its subtree", cbmHierarchical, "a", {{"a", csChecked}}, htOnStateIcon,
         "root=1 a=1 a1=1 a2=1 b=1 b1=1"},
        {"indeterminate node becomes checked with its subtree", cbmHierarchical, "a", {{"a1", csChecked}},
         htOnStateIcon, "root=3 a=2 a1=2 a2=2 b=1 b1=1"},
        {"independent unchecked becomes checked", cbmIndependent, "a", {}, htOnStateIcon,
         "root=1 a=2 a1=1 a2=1 b=1 b1=1"},
        {"independent checked becomes unchecked", cbmIndependent, "a", {{"a", csChecked}}, htOnStateIcon,
         "root=1 a=1 a1=1 a2=1 b=1 b1=1"},
        {"independent indeterminate becomes checked", cbmIndependent, "a", {{"a", csIndeterminate}}, htOnStateIcon,
         "root=1 a=2 a1=1 a2=1 b=1 b1=1"},
        {"a press on the label changes nothing", cbmHierarchical, "a", {}, htOnLabel,
         "root=1 a=1 a1=1 a2=1 b=1 b1=1"},
        {"a press on the icon changes nothing", cbmHierarchical, "a", {}, htOnIcon, "root=1 a=1 a1=1 a2=1 b=1 b1=1"},
    };
    for (const Case& c : cases) {
        TXCustomTreeView view;
        auto n = Build(view, kOutline);
        view.SetCheckboxes(c.mode);
        for (const Step& s : c.before) view.SetCheckState(n[s.node], s.state);
        view.MouseDown(n[c.node], c.hit, gui::mbLeft, gui::ssLeft, 10, 20);
        EXPECT_EQ(States(view), c.states) << c.name;
    }
}

TEST(TreeUserActions, SpaceTogglesTheSelectedNode)
{
    struct Case {
        const char* name;
        TCheckboxesMode mode;
        const char* selected; // nullptr: nothing selected
        char32_t key;
        bool consumed;
        const char* states;
    };
    const Case cases[] = {
        {"space checks the selected node", cbmHierarchical, "b", U' ', true, "root=3 a=1 a1=1 a2=1 b=2 b1=2"},
        {"space without a selection is passed on", cbmHierarchical, nullptr, U' ', false,
         "root=1 a=1 a1=1 a2=1 b=1 b1=1"},
        {"another key is passed on", cbmHierarchical, "b", U'x', false, "root=1 a=1 a1=1 a2=1 b=1 b1=1"},
        {"without check boxes space is passed on", cbmNone, "b", U' ', false, "root=3 a=3 a1=3 a2=3 b=3 b1=3"},
    };
    for (const Case& c : cases) {
        TXCustomTreeView view;
        auto n = Build(view, kOutline);
        view.SetCheckboxes(c.mode);
        if (c.selected) view.SetSelected(n[c.selected]);
        EXPECT_EQ(view.KeyPress(c.key), c.consumed) << c.name;
        EXPECT_EQ(States(view), c.states) << c.name;
    }
}

TEST(TreeUserActions, IconClicksAndTheMouseOverIcons)
{
    TXCustomTreeView view;
    auto n = Build(view, kOutline);
    view.SetCheckboxes(cbmIndependent);
    std::vector<std::string> clicks;
    view.OnIconClick = [&](TXCustomTreeView*, TXTreeNode* node, gui::TMouseButton button, gui::TShiftState shift,
                           int x, int y) {
        clicks.push_back(node->Text() + " " + std::to_string(button) + " " + std::to_string(shift) + " " +
                         std::to_string(x) + "," + std::to_string(y));
    };
    std::vector<TXTreeNode*> over;
    view.OnMouseOverIcon = [&](TXCustomTreeView*, TXTreeNode* node, gui::TShiftState, int, int) {
        over.push_back(node);
    };
    view.MouseDown(n["a2"], htOnIcon, gui::mbRight, gui::ssRight | gui::ssCtrl, -3, 40);
    view.MouseDown(n["a2"], htOnLabel, gui::mbLeft, gui::ssLeft, 5, 5);
    EXPECT_EQ(clicks, (std::vector<std::string>{"a2 1 20 -3,40"}));

    struct Move {
        const char* name;
        const char* node;
        THitTest hit;
        TTreeCursor cursor;
        bool reportsNode;
    };
    const Move moves[] = {
        {"over a state icon: hand, no icon", "a", htOnStateIcon, crHandPoint, false},
        {"over an icon: default cursor, the node", "a", htOnIcon, crDefault, true},
        {"over the label: default cursor, no node", "a", htOnLabel, crDefault, false},
        {"over nothing", nullptr, htNowhere, crDefault, false},
    };
    for (const Move& m : moves) {
        over.clear();
        TXTreeNode* node = m.node ? n[m.node] : nullptr;
        EXPECT_EQ(view.MouseMove(node, m.hit, 0, 1, 1), m.cursor) << m.name;
        ASSERT_EQ(over.size(), 1u) << m.name;
        EXPECT_EQ(over[0], m.reportsNode ? node : nullptr) << m.name;
    }

    view.SetCheckboxes(cbmNone);
    over.clear();
    clicks.clear();
    EXPECT_EQ(view.MouseMove(n["a"], htOnStateIcon, 0, 1, 1), crDefault);
    view.MouseDown(n["a"], htOnIcon, gui::mbLeft, 0, 1, 1);
    EXPECT_TRUE(over.empty());
    EXPECT_TRUE(clicks.empty());
}

TEST(TreeUserActions, RightClickSelects)
{
    TXCustomTreeView view;
    auto n = Build(view, kOutline);
    view.SetCheckboxes(cbmHierarchical);
    std::vector<TXTreeNode*> changes;
    view.OnChange = [&](TXCustomTreeView*, TXTreeNode* node) { changes.push_back(node); };
    view.RightClick(n["b1"]);
    view.RightClick(n["b1"]);
    EXPECT_EQ(view.Selected(), n["b1"]);
    EXPECT_TRUE(n["b1"]->Selected());
    EXPECT_EQ(changes, (std::vector<TXTreeNode*>{n["b1"]}));
}

TEST(TreeUserActions, ShiftFiresOnPressOnceAndOnRelease)
{
    struct Case {
        const char* name;
        std::vector<std::pair<bool, bool>> keys; // pressed, auto-repeat
        int events;
    };
    const Case cases[] = {
        {"press and release", {{true, false}, {false, false}}, 2},
        {"held down with auto-repeat, then released", {{true, false}, {true, true}, {true, true}, {false, false}}, 2},
        {"auto-repeat alone", {{true, true}}, 0},
    };
    for (const Case& c : cases) {
        TXCustomTreeView view;
        int events = 0;
        view.OnShiftStateChanged = [&](TXCustomTreeView* sender) {
            EXPECT_EQ(sender, &view);
            ++events;
        };
        for (const auto& [pressed, repeat] : c.keys) view.ShiftKey(pressed, repeat);
        EXPECT_EQ(events, c.events) << c.name;
    }
}

TEST(TreeUserActions, InfoTipsStartAsTheNodeText)
{
    TXCustomTreeView view;
    auto n = Build(view, kOutline);
    EXPECT_FALSE(view.InfoTip(n["a"]).has_value());
    view.OnInfoTip = [](TXCustomTreeView*, TXTreeNode* node, std::string& tip) {
        EXPECT_EQ(tip, node->Text());
        if (node->Text() == "b") tip = "слой b";
    };
    EXPECT_EQ(view.InfoTip(n["a"]), std::optional<std::string>("a"));
    EXPECT_EQ(view.InfoTip(n["b"]), std::optional<std::string>("слой b"));
    EXPECT_FALSE(view.InfoTip(nullptr).has_value());
}

TEST(TreeNodes, OrderPositionsAndDeletion)
{
    TXCustomTreeView view;
    auto n = Build(view, kOutline);
    TXTreeNodes& items = view.Items();
    EXPECT_EQ(items.Count(), 6);
    EXPECT_EQ(items.TopLevelCount(), 1);
    EXPECT_EQ(n["a2"]->Level(), 2);
    EXPECT_EQ(n["root"]->Parent(), nullptr);
    EXPECT_EQ(n["a1"]->Parent(), n["a"]);
    EXPECT_EQ(n["b"]->Index(), 1);
    EXPECT_EQ(n["a2"]->GetNext(), n["b"]);
    EXPECT_EQ(n["b1"]->GetNext(), nullptr);
    EXPECT_TRUE(n["b1"]->HasAsParent(n["root"]));
    EXPECT_FALSE(n["b1"]->HasAsParent(n["a"]));

    TXTreeNode* sibling = items.Add(n["a1"], "a3");
    EXPECT_EQ(sibling->Parent(), n["a"]);
    EXPECT_EQ(sibling->Index(), 2);

    view.SetSelected(n["a1"]);
    n["a"]->Item(0)->Delete();
    EXPECT_EQ(view.Selected(), nullptr);
    EXPECT_EQ(n["a2"]->Index(), 0);
    EXPECT_EQ(sibling->Index(), 1);
    EXPECT_EQ(n["a"]->Count(), 2);

    try {
        n["a"]->Item(2);
        FAIL() << "no exception";
    } catch (const rtl::EListError& e) {
        EXPECT_EQ(e.Message(), "List index out of bounds (2)");
    }
    EXPECT_THROW(items.TopLevelItem(1), rtl::EListError);

    n["root"]->DeleteChildren();
    EXPECT_EQ(items.Count(), 1);
    items.Clear();
    EXPECT_EQ(items.GetFirstNode(), nullptr);
    EXPECT_EQ(items.Count(), 0);
}

// A display that writes what it is told.
class RecordingDisplay : public ITreeDisplay {
public:
    std::vector<std::string> calls;
    void BeginInsertNode(TXTreeNode* parent, int index) override
    {
        calls.push_back("insert " + (parent ? parent->Text() : std::string("-")) + " " + std::to_string(index));
    }
    void EndInsertNode() override {}
    void BeginRemoveNode(TXTreeNode* node) override { calls.push_back("remove " + node->Text()); }
    void EndRemoveNode() override {}
    void BeginClear() override { calls.push_back("clear"); }
    void EndClear() override {}
    void NodeChanged(TXTreeNode*) override {}
    void NodeExpandedChanged(TXTreeNode* node) override
    {
        calls.push_back((node->Expanded() ? "expand " : "collapse ") + node->Text());
    }
    void SelectionChanged(TXTreeNode* node) override { calls.push_back("select " + (node ? node->Text() : "-")); }
    void MakeVisible(TXTreeNode* node) override { calls.push_back("visible " + node->Text()); }
    void UpdatesSuspended(bool suspended) override { calls.push_back(suspended ? "suspend" : "resume"); }
    void CheckboxesChanged() override { calls.push_back("checkboxes"); }
    void ImagesChanged() override { calls.push_back("images"); }
};

TEST(TreeNodes, TheDisplayIsToldOfEveryChange)
{
    TXCustomTreeView view;
    RecordingDisplay display;
    view.SetDisplay(&display);
    auto n = Build(view, {"r", "r/x", "x/y"});
    view.Items().BeginUpdate();
    view.Items().BeginUpdate();
    view.Items().EndUpdate();
    view.Items().EndUpdate();
    view.Items().EndUpdate(); // unmatched: ignored
    n["y"]->MakeVisible();
    n["y"]->Collapse(false); // already collapsed: nothing
    view.SetSelected(n["x"]);
    view.SetCheckboxes(cbmIndependent);
    gui::ImageList images;
    view.SetImages(&images);
    n["x"]->Delete();
    view.Items().Clear();
    view.SetDisplay(nullptr);
    EXPECT_EQ(display.calls, (std::vector<std::string>{"insert - 0", "insert r 0", "insert x 0", "suspend", "resume",
                                                       "expand x", "expand r", "visible y", "select x", "suspend",
                                                       "resume", "checkboxes", "images", "remove x", "clear"}));
}

} // namespace
