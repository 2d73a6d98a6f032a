// The check-box tree as a real widget on the offscreen platform: clicks and
// Space on the state icons, vetoes, the Shift key, the cursor and icon
// events, selection, info tips, a failing handler, dragging, and screenshots.
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QHelpEvent>
#include <QImage>
#include <QPainter>
#include <QStyleHints>
#include <QGuiApplication>

#include "CoreLib/controls/xTreeView.h"
#include "platform/rtl/Exceptions.h"
#include "tests/CoreLib/controls/TreeTestSupport.h"
#include "tests/CoreLib/controls/WidgetTestSupport.h"

namespace {

using treetest::States;

const std::vector<std::string> kOutline = {"root", "root/a", "a/a1", "a/a2", "root/b", "b/b1"};

// A shown view with the outline above, every node expanded.
class TreeWidget : public ::testing::Test {
protected:
    void SetUpView(TCheckboxesMode mode)
    {
        view = std::make_unique<TXTreeView>();
        view->resize(320, 240);
        view->SetImages(&images);
        nodes = treetest::Build(*view, kOutline);
        for (auto& [name, node] : nodes) node->SetImageIndex(0);
        view->SetCheckboxes(mode);
        nodes["root"]->Expand(true);
        view->show();
    }
    QWidget* Viewport() const { return view->viewport(); }
    QPoint StateIcon(const char* node) const { return view->StateIconRect(nodes.at(node)).center(); }

    gui::ImageList images{16, 16};
    std::unique_ptr<TXTreeView> view;
    std::map<std::string, TXTreeNode*> nodes;

    void SetUp() override
    {
        QPixmap picture(16, 16);
        picture.fill(Qt::darkGreen);
        images.Add(picture);
    }
};

TEST_F(TreeWidget, HitTestingFindsTheParts)
{
    SetUpView(cbmHierarchical);
    TXTreeNode* a1 = nodes["a1"];
    const QRect state = view->StateIconRect(a1);
    const QRect icon = view->IconRect(a1);
    const QRect text = view->TextRect(a1);
    ASSERT_FALSE(state.isEmpty());
    EXPECT_LT(state.right(), icon.left());
    EXPECT_LT(icon.right(), text.left());
    struct Case {
        const char* name;
        QPoint at;
        THitTest hit;
    };
    const Case cases[] = {
        {"state icon", state.center(), htOnStateIcon},
        {"icon", icon.center(), htOnIcon},
        {"label", text.center(), htOnLabel},
        {"right of the label", QPoint(text.right() + 20, text.center().y()), htOnRight},
        {"indent", QPoint(2, text.center().y()), htOnIndent},
    };
    for (const Case& c : cases) {
        TXTreeNode* node = nullptr;
        EXPECT_EQ(view->GetHitTestInfoAt(c.at.x(), c.at.y(), &node), c.hit) << c.name;
        EXPECT_EQ(node, a1) << c.name;
    }
    TXTreeNode* node = nodes["a1"];
    EXPECT_EQ(view->GetHitTestInfoAt(5, 230, &node), htNowhere);
    EXPECT_EQ(node, nullptr);
}

TEST_F(TreeWidget, AClickOnTheStateIconTogglesInEachStateAndMode)
{
    struct Case {
        const char* name;
        TCheckboxesMode mode;
        std::vector<std::pair<const char*, TCheckState>> before;
        const char* clicked;
        const char* states;
    };
    const Case cases[] = {
        {"hierarchical unchecked leaf", cbmHierarchical, {}, "a1", "root=3 a=3 a1=2 a2=1 b=1 b1=1"},
        {"hierarchical checked parent", cbmHierarchical, {{"a", csChecked}}, "a", "root=1 a=1 a1=1 a2=1 b=1 b1=1"},
        {"hierarchical indeterminate parent", cbmHierarchical, {{"a1", csChecked}}, "a",
         "root=3 a=2 a1=2 a2=2 b=1 b1=1"},
        {"hierarchical indeterminate root", cbmHierarchical, {{"b1", csChecked}}, "root",
         "root=2 a=2 a1=2 a2=2 b=2 b1=2"},
        {"independent unchecked", cbmIndependent, {}, "b", "root=1 a=1 a1=1 a2=1 b=2 b1=1"},
        {"independent checked", cbmIndependent, {{"b", csChecked}}, "b", "root=1 a=1 a1=1 a2=1 b=1 b1=1"},
        {"independent indeterminate", cbmIndependent, {{"b", csIndeterminate}}, "b",
         "root=1 a=1 a1=1 a2=1 b=2 b1=1"},
    };
    for (const Case& c : cases) {
        SetUpView(c.mode);
        for (const auto& [node, state] : c.before) nodes[node]->SetCheckState(state);
        widgettest::Click(Viewport(), StateIcon(c.clicked));
        EXPECT_EQ(States(*view), c.states) << c.name;
        EXPECT_EQ(view->Selected(), nodes[c.clicked]) << c.name;
    }
}

TEST_F(TreeWidget, SpaceTogglesTheSelectedNodeInEachState)
{
    struct Case {
        const char* name;
        TCheckboxesMode mode;
        std::vector<std::pair<const char*, TCheckState>> before;
        const char* selected;
        const char* states;
    };
    const Case cases[] = {
        {"unchecked becomes checked", cbmHierarchical, {}, "b", "root=3 a=1 a1=1 a2=1 b=2 b1=2"},
        {"checked becomes unchecked", cbmHierarchical, {{"root", csChecked}}, "b", "root=3 a=2 a1=2 a2=2 b=1 b1=1"},
        {"indeterminate becomes checked", cbmHierarchical, {{"a2", csChecked}}, "a",
         "root=3 a=2 a1=2 a2=2 b=1 b1=1"},
        {"independent unchecked becomes checked", cbmIndependent, {}, "a",
         "root=1 a=2 a1=1 a2=1 b=1 b1=1"},
        {"independent checked becomes unchecked", cbmIndependent, {{"a1", csChecked}}, "a1",
         "root=1 a=1 a1=1 a2=1 b=1 b1=1"},
        {"independent indeterminate becomes checked", cbmIndependent, {{"root", csIndeterminate}}, "root",
         "root=2 a=1 a1=1 a2=1 b=1 b1=1"},
    };
    for (const Case& c : cases) {
        SetUpView(c.mode);
        for (const auto& [node, state] : c.before) nodes[node]->SetCheckState(state);
        view->SetSelected(nodes[c.selected]);
        EXPECT_EQ(view->currentIndex(), view->IndexOf(nodes[c.selected])) << c.name;
        widgettest::Type(view.get(), Qt::Key_Space, " ");
        EXPECT_EQ(States(*view), c.states) << c.name;
    }
}

TEST_F(TreeWidget, WithoutCheckboxesClicksAndSpaceCheckNothing)
{
    SetUpView(cbmNone);
    EXPECT_TRUE(view->StateIconRect(nodes["a"]).isEmpty());
    EXPECT_EQ(view->StateImages().Count(), 0);
    widgettest::Click(Viewport(), view->IconRect(nodes["a"]).center());
    widgettest::Type(view.get(), Qt::Key_Space, " ");
    EXPECT_EQ(States(*view), "root=3 a=3 a1=3 a2=3 b=3 b1=3");
    EXPECT_EQ(view->Selected(), nodes["a"]);
}

TEST_F(TreeWidget, AVetoedCheckLeavesTheNodeAndItsSubtree)
{
    SetUpView(cbmHierarchical);
    view->OnNodeCanCheck = [](TXCustomTreeView*, TXTreeNode* node, bool, bool& can) {
        if (node->Text() == "a") can = false;
    };
    widgettest::Click(Viewport(), StateIcon("a"));
    EXPECT_EQ(States(*view), "root=1 a=1 a1=1 a2=1 b=1 b1=1");
    widgettest::Click(Viewport(), StateIcon("root"));
    EXPECT_EQ(States(*view), "root=3 a=1 a1=1 a2=1 b=2 b1=2");
    widgettest::Click(Viewport(), StateIcon("a1"));
    EXPECT_EQ(States(*view), "root=3 a=3 a1=2 a2=1 b=2 b1=2");
}

TEST_F(TreeWidget, ShiftFiresWithoutAutoRepeat)
{
    SetUpView(cbmNone);
    int events = 0;
    view->OnShiftStateChanged = [&](TXCustomTreeView*) { ++events; };
    widgettest::Key(view.get(), QEvent::KeyPress, Qt::Key_Shift);
    EXPECT_EQ(events, 1);
    // A held key arrives as release and press pairs marked auto-repeat.
    for (int i = 0; i < 3; ++i) {
        widgettest::Key(view.get(), QEvent::KeyRelease, Qt::Key_Shift, {}, true);
        widgettest::Key(view.get(), QEvent::KeyPress, Qt::Key_Shift, {}, true);
    }
    EXPECT_EQ(events, 1);
    widgettest::Key(view.get(), QEvent::KeyRelease, Qt::Key_Shift);
    EXPECT_EQ(events, 2);
    widgettest::Type(view.get(), Qt::Key_A, "a");
    EXPECT_EQ(events, 2);
}

TEST_F(TreeWidget, TheCursorAndTheIconEventsFollowTheMouse)
{
    SetUpView(cbmIndependent);
    std::vector<TXTreeNode*> over;
    view->OnMouseOverIcon = [&](TXCustomTreeView*, TXTreeNode* node, gui::TShiftState, int, int) {
        over.push_back(node);
    };
    std::vector<std::string> clicks;
    view->OnIconClick = [&](TXCustomTreeView*, TXTreeNode* node, gui::TMouseButton button, gui::TShiftState shift,
                            int x, int y) {
        const QPoint expected = view->IconRect(node).center();
        EXPECT_EQ(QPoint(x, y), expected);
        clicks.push_back(node->Text() + " " + std::to_string(button) + " " + std::to_string(shift));
    };
    widgettest::Mouse(Viewport(), QEvent::MouseMove, StateIcon("b"));
    EXPECT_EQ(Viewport()->cursor().shape(), Qt::PointingHandCursor);
    widgettest::Mouse(Viewport(), QEvent::MouseMove, view->IconRect(nodes["b"]).center());
    EXPECT_EQ(Viewport()->cursor().shape(), Qt::ArrowCursor);
    widgettest::Mouse(Viewport(), QEvent::MouseMove, view->TextRect(nodes["b"]).center());
    EXPECT_EQ(over, (std::vector<TXTreeNode*>{nullptr, nodes["b"], nullptr}));

    widgettest::Click(Viewport(), view->IconRect(nodes["a2"]).center(), Qt::LeftButton, Qt::ShiftModifier);
    widgettest::Click(Viewport(), view->IconRect(nodes["b1"]).center(), Qt::RightButton);
    EXPECT_EQ(clicks, (std::vector<std::string>{"a2 0 9", "b1 1 16"}));
    EXPECT_EQ(view->Selected(), nodes["b1"]);
    EXPECT_EQ(States(*view), "root=1 a=1 a1=1 a2=1 b=1 b1=1");
}

TEST_F(TreeWidget, SelectionGoesBothWays)
{
    SetUpView(cbmHierarchical);
    std::vector<TXTreeNode*> changes;
    view->OnChange = [&](TXCustomTreeView*, TXTreeNode* node) { changes.push_back(node); };
    widgettest::Click(Viewport(), view->TextRect(nodes["a2"]).center());
    EXPECT_EQ(view->Selected(), nodes["a2"]);
    view->SetSelected(nodes["b"]);
    EXPECT_EQ(view->currentIndex(), view->IndexOf(nodes["b"]));
    widgettest::Type(view.get(), Qt::Key_Down);
    EXPECT_EQ(view->Selected(), nodes["b1"]);
    nodes["b1"]->Delete();
    EXPECT_EQ(view->Selected(), nullptr);
    EXPECT_FALSE(view->currentIndex().isValid());
    EXPECT_EQ(changes, (std::vector<TXTreeNode*>{nodes["a2"], nodes["b"], nodes["b1"]}));
}

TEST_F(TreeWidget, ExpansionGoesBothWays)
{
    SetUpView(cbmNone);
    nodes["a"]->Collapse(false);
    EXPECT_FALSE(view->isExpanded(view->IndexOf(nodes["a"])));
    view->expand(view->IndexOf(nodes["a"]));
    EXPECT_TRUE(nodes["a"]->Expanded());
    view->collapse(view->IndexOf(nodes["b"]));
    EXPECT_FALSE(nodes["b"]->Expanded());
}

TEST_F(TreeWidget, InfoTipsAskTheHandler)
{
    SetUpView(cbmNone);
    std::vector<std::string> asked;
    view->OnInfoTip = [&](TXCustomTreeView*, TXTreeNode* node, std::string& tip) {
        asked.push_back(tip);
        tip = "подсказка " + node->Text();
    };
    const QPoint at = view->TextRect(nodes["a1"]).center();
    QHelpEvent help(QEvent::ToolTip, at, Viewport()->mapToGlobal(at));
    QApplication::sendEvent(Viewport(), &help);
    EXPECT_EQ(asked, (std::vector<std::string>{"a1"}));
}

TEST_F(TreeWidget, AnExceptionInACheckHandlerReachesTheErrorBox)
{
    const guitest::TitleScope title("Изменение идентификаторов БД Велмо");
    guitest::BoxRecorder boxes;
    SetUpView(cbmHierarchical);
    view->OnNodeChecked = [](TXCustomTreeView*, TXTreeNode* node) {
        if (node->Text() == "a") throw rtl::Exception("Слой занят");
    };
    widgettest::Click(Viewport(), StateIcon("a"));
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].kind, gui::BoxKind::Error);
    EXPECT_EQ(boxes.boxes[0].caption, "Изменение идентификаторов БД Велмо");
    EXPECT_EQ(boxes.boxes[0].text, "Слой занят.");
    EXPECT_TRUE(view->updatesEnabled());
    EXPECT_EQ(view->Items().UpdateCount(), 0);
    // The view goes on working.
    view->OnNodeChecked = nullptr;
    widgettest::Click(Viewport(), StateIcon("b1"));
    EXPECT_EQ(nodes["b1"]->GetCheckState(), csChecked);
}

TEST_F(TreeWidget, ScreenshotShowsTheThreeCheckStates)
{
    SetUpView(cbmHierarchical);
    nodes["a1"]->SetCheckState(csChecked);
    EXPECT_EQ(States(*view), "root=3 a=3 a1=2 a2=1 b=1 b1=1");
    nodes["a1"]->SetText("Слой a1 (отмечен)");
    nodes["b"]->SetBold(true);
    view->SetSelected(nodes["b1"]);
    const QImage shot = view->grab().toImage();
    const QString path = QDir(QCoreApplication::applicationDirPath()).filePath("xTreeView-check-states.png");
    ASSERT_TRUE(shot.save(path, "PNG"));
    const QImage saved(path);
    ASSERT_FALSE(saved.isNull());
    EXPECT_GT(QFileInfo(path).size(), 0);

    // Not blank: many colours, and each state icon shows its own picture.
    std::set<QRgb> colours;
    for (int y = 0; y < saved.height(); y += 2)
        for (int x = 0; x < saved.width(); x += 2) colours.insert(saved.pixel(x, y));
    EXPECT_GT(colours.size(), 4u);
    const qreal scale = saved.width() / qreal(view->width());
    auto iconPixels = [&](const char* node) {
        const QRect r = view->StateIconRect(nodes[node]).translated(Viewport()->pos());
        return saved.copy(QRect(r.topLeft() * scale, r.size() * scale));
    };
    const QImage unchecked = iconPixels("a2");
    const QImage checked = iconPixels("a1");
    const QImage indeterminate = iconPixels("root");
    EXPECT_NE(unchecked, checked);
    EXPECT_NE(unchecked, indeterminate);
    EXPECT_NE(checked, indeterminate);
    EXPECT_EQ(unchecked, iconPixels("b"));
}

// ---- dragging ------------------------------------------------------------------------------

// A view that notes the drag object it holds when a drag ends.
class TDragTree : public TXTreeView {
public:
    std::vector<const TDragObject*> Ended;
    bool OwnControlObject = false;

protected:
    void DoEndDrag() override
    {
        Ended.push_back(DragObject());
        const auto* own = dynamic_cast<const TDragControlObject*>(DragObject());
        OwnControlObject = own && own->Control() == this;
    }
};

// Presses on the node's text and moves away with the button held, far enough to start a drag.
void DragNode(TXTreeView& view, TXTreeNode* node)
{
    QWidget* viewport = view.viewport();
    const QPoint from = view.TextRect(node).center();
    widgettest::Mouse(viewport, QEvent::MouseButtonPress, from);
    const int distance = QGuiApplication::styleHints()->startDragDistance();
    for (const QPoint to : {from + QPoint(distance + 2, 2), from + QPoint(2 * distance + 4, 4)}) {
        QMouseEvent move(QEvent::MouseMove, QPointF(to), QPointF(viewport->mapToGlobal(to)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(viewport, &move);
    }
    widgettest::Mouse(viewport, QEvent::MouseButtonRelease, from);
}

TEST(TreeDrag, ADragWithoutADragObjectGetsTheViewsOwnForItsDuration)
{
    TDragTree view;
    view.resize(320, 240);
    std::map<std::string, TXTreeNode*> nodes = treetest::Build(view, kOutline);
    nodes["root"]->Expand(true);
    view.setDragEnabled(true);
    view.show();
    EXPECT_EQ(view.DragObject(), nullptr);

    // Without a handler, and with one that gives nothing.
    int asked = 0;
    for (bool handler : {false, true}) {
        SCOPED_TRACE(handler ? "a handler that gives nothing" : "no handler");
        view.Ended.clear();
        view.OnStartDrag = nullptr;
        if (handler) view.OnStartDrag = [&](TXCustomTreeView* sender, TDragObject*& object) {
            EXPECT_EQ(sender, &view);
            EXPECT_EQ(object, nullptr);
            ++asked;
        };
        DragNode(view, nodes["a1"]);
        ASSERT_EQ(view.Ended.size(), 1u) << "one drag started and ended";
        EXPECT_NE(view.Ended[0], nullptr);
        EXPECT_TRUE(view.OwnControlObject) << "a control drag object of the view itself";
        EXPECT_EQ(view.DragObject(), nullptr) << "freed when the drag ended";
    }
    EXPECT_EQ(asked, 1);

    // A drag object the handler gives is used and stays the handler's.
    TDragObject given;
    view.Ended.clear();
    view.OnStartDrag = [&](TXCustomTreeView*, TDragObject*& object) { object = &given; };
    DragNode(view, nodes["b1"]);
    ASSERT_EQ(view.Ended.size(), 1u);
    EXPECT_EQ(view.Ended[0], &given);
    EXPECT_FALSE(view.OwnControlObject);
    EXPECT_EQ(view.DragObject(), nullptr);

    // Without dragging enabled nothing starts.
    view.setDragEnabled(false);
    view.Ended.clear();
    DragNode(view, nodes["a2"]);
    EXPECT_TRUE(view.Ended.empty());

    const QString path = QDir(QCoreApplication::applicationDirPath()).filePath("xTreeView-after-drag.png");
    ASSERT_TRUE(view.grab().toImage().save(path, "PNG"));
}

} // namespace
