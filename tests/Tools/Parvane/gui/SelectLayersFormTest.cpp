// The selection dialog of system objects on the offscreen platform, over a
// Velmo database on the SQLite test driver: the tree each dialog shows, the
// checks handed back on OK, the refusal of an empty OK, Cancel, the find
// dialog through Ctrl+F and the pop-up menu, a failing read, and a
// screenshot. The tree's filling and reading are also tested without the
// dialog.
#include "Tools/Parvane/gui/SelectLayersForms.h"

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QAction>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStatusBar>

#include "CoreLib/controls/SelectInTreeView.h"
#include "UdbProject/UdbMessages.h"
#include "platform/gui/Dialogs.h"
#include "tests/CoreLib/controls/TreeTestSupport.h"
#include "tests/CoreLib/controls/WidgetTestSupport.h"
#include "tests/support/SqliteUdb.h"
#include "tests/support/VelmoFixture.h"

// Qt's own entry to its shortcut map, as its test library uses it: a key
// press offered to the shortcuts of the application's active window.
Q_GUI_EXPORT bool qt_sendShortcutOverrideEvent(QObject* o, ulong timestamp, int k, Qt::KeyboardModifiers mods,
                                               const QString& text, bool autorep, ushort count);

namespace {

using velmotest::Id;
using treetest::States;

std::string I(std::uint32_t n) { return Id(1, n); }

const char* const kNothingChecked = "Ошибка: Не выбран ни один объект";

// Every kind once or twice, a vector map whose area is missing (with a
// layer), a vector map without an area, and a relation without a name.
velmotest::TVelmoDesc Objects()
{
    velmotest::TVelmoDesc d;
    d.Area(I(1), "Север")
        .Area(I(2), "Юг")
        .RefBook(I(3), "Справочник дорог", "RB_ROADS")
        .Project(I(4), I(1), "Проект Север")
        .Map(I(5), I(1), "Растр Север", 2)
        .Map(I(6), I(1), "Карта Север", 3)
        .Map(I(7), Id(9, 1), "Потерянная карта", 3)
        .Map(I(8), "", "Карта без территории", 3)
        .Layer(I(9), I(6), "Дороги")
        .Layer(I(10), I(6), "Реки")
        .Layer(I(11), I(7), "Потерянный слой")
        .Layer(I(12), I(8), "Слой без территории")
        .Style(I(13), I(9), "Линия")
        .SemTable(velmotest::TSemTableDesc(I(14), I(9), "Атрибуты дорог", "SEM_ROADS"))
        .Relation(I(15), "  ", I(9), I(10));
    return d;
}

// "text#picture" per node in tree order, a dot per level.
std::string Outline(const TXCustomTreeView& tree)
{
    std::string out;
    for (const TXTreeNode* n = tree.Items().GetFirstNode(); n; n = n->GetNext()) {
        if (!out.empty()) out += " | ";
        out += std::string(static_cast<std::size_t>(n->Level()), '.') + n->Text() + "#" +
               std::to_string(n->ImageIndex());
        if (n->SelectedIndex() != n->ImageIndex()) out += "/" + std::to_string(n->SelectedIndex());
    }
    return out;
}

TXTreeNode* FindNode(const TXCustomTreeView& tree, const std::string& text)
{
    for (TXTreeNode* n = tree.Items().GetFirstNode(); n; n = n->GetNext())
        if (n->Text() == text) return n;
    ADD_FAILURE() << "no node " << text;
    return nullptr;
}

std::vector<std::string> IDs(const TVelmoSysObjectList& list)
{
    std::vector<std::string> ids;
    for (int i = 0; i < list.Count(); ++i) ids.push_back(list.GetItem(i)->ID);
    return ids;
}

// Runs the selection dialog by showing it and calling drive(form), and the
// find dialog (when find is given) by showing it and calling find(form);
// a form still open afterwards is cancelled. The form's result.
gui::ScopedModalRunner Driver(std::function<void(TSelectLayersForm&)> drive,
                              std::function<void(TSearchInTreeForm&)> find = {})
{
    return gui::ScopedModalRunner([drive, find](QDialog& dialog) {
        if (auto* form = dynamic_cast<TSelectLayersForm*>(&dialog)) {
            form->show();
            drive(*form);
        } else if (auto* search = dynamic_cast<TSearchInTreeForm*>(&dialog); search && find) {
            search->show();
            find(*search);
        } else {
            ADD_FAILURE() << "unexpected modal form \"" << dialog.windowTitle().toStdString() << "\"";
        }
        if (dialog.isVisible()) dialog.reject();
        return dialog.result();
    });
}

// A user's click on a node's check box (its parents expanded first).
void ClickCheckBox(TSelectLayersForm& form, const std::string& text)
{
    TXTreeNode* node = FindNode(*form.XTreeView, text);
    ASSERT_NE(node, nullptr);
    node->MakeVisible();
    QCoreApplication::processEvents();
    const QRect box = form.XTreeView->StateIconRect(node);
    ASSERT_FALSE(box.isEmpty()) << text;
    widgettest::Click(form.XTreeView->viewport(), box.center());
}

class SelectDialog : public ::testing::Test {
protected:
    static void SetUpTestSuite() { db = std::make_unique<velmotest::TVelmoDbPair>(Objects()); }
    static void TearDownTestSuite() { db.reset(); }
    static IUdb& Db() { return db->Spatial(); }
    static std::unique_ptr<velmotest::TVelmoDbPair> db;
};
std::unique_ptr<velmotest::TVelmoDbPair> SelectDialog::db;

TEST(SelectLayersForm, HasTheControlsAndTextsItNeeds)
{
    TSelectLayersForm form;
    EXPECT_EQ(form.btnOk->text(), QString("Ok"));
    EXPECT_TRUE(form.btnOk->isDefault());
    EXPECT_EQ(form.btnCancel->text(), QString("Отмена"));
    EXPECT_EQ(form.mnuFind->text(), QString("Найти ..."));
    EXPECT_EQ(form.mnuFind->shortcut(), QKeySequence("Ctrl+F"));
    EXPECT_TRUE(form.actions().contains(form.mnuFind));
    EXPECT_TRUE(form.PopupMenu->actions().contains(form.mnuFind));
    EXPECT_EQ(form.size(), QSize(520, 437));
    EXPECT_EQ(form.XTreeView->Checkboxes(), cbmHierarchical);
    EXPECT_EQ(form.XTreeView->editTriggers(), QAbstractItemView::NoEditTriggers);
    EXPECT_EQ(form.XTreeView->contextMenuPolicy(), Qt::CustomContextMenu);
    EXPECT_EQ(form.XTreeView->Images(), &form.ImageList);
    EXPECT_TRUE(form.XTreeView->OnInfoTip);
    EXPECT_FALSE(form.XTreeView->OnNodeChecked || form.XTreeView->OnNodeChecking || form.XTreeView->OnNodeCanCheck);
    EXPECT_EQ(form.StatusBar->currentMessage(), QString());
    for (const char* name : {"XTreeView", "btnOk", "btnCancel", "StatusBar", "PopupMenu"})
        EXPECT_NE(form.findChild<QObject*>(name), nullptr) << name;
}

TEST(SelectLayersForm, TenPicturesOfTheirOwn)
{
    gui::ImageList images;
    LoadObjectImages(images);
    ASSERT_EQ(images.Count(), 10);
    std::vector<QImage> pictures;
    for (int i = 0; i < images.Count(); ++i) {
        const QImage picture = images.Pixmap(i).toImage();
        EXPECT_EQ(picture.size(), QSize(16, 16)) << i;
        // Drawn, with a transparent corner.
        EXPECT_NE(picture, QImage(16, 16, picture.format())) << i;
        EXPECT_EQ(qAlpha(picture.pixel(0, 0)), 0) << i;
        for (std::size_t j = 0; j < pictures.size(); ++j) EXPECT_NE(picture, pictures[j]) << i << " and " << j;
        pictures.push_back(picture);
    }
}

TEST_F(SelectDialog, SystemObjectsShowsEveryKindUnderItsParent)
{
    std::string caption, outline, states, statusOfLayer, statusOfRoot;
    bool rootExpanded = false, areaExpanded = true;
    const auto driver = Driver([&](TSelectLayersForm& form) {
        caption = form.windowTitle().toStdString();
        outline = Outline(*form.XTreeView);
        states = States(*form.XTreeView);
        TXTreeNode* root = form.XTreeView->Items().GetFirstNode();
        rootExpanded = root->Expanded() && form.XTreeView->isExpanded(form.XTreeView->IndexOf(root));
        areaExpanded = FindNode(*form.XTreeView, "Север")->Expanded();
        form.XTreeView->SetSelected(FindNode(*form.XTreeView, "Дороги"));
        statusOfLayer = form.StatusBar->currentMessage().toStdString();
        form.XTreeView->SetSelected(root);
        statusOfRoot = form.StatusBar->currentMessage().toStdString();
        form.btnCancel->click();
    });
    TVelmoSysObjectList list;
    EXPECT_FALSE(SelectSystemObjects(Db(), list));
    EXPECT_EQ(list.Count(), 0);
    EXPECT_EQ(caption, "Выберите системные объекты Велмо");
    EXPECT_EQ(outline, "Объекты Велмо#0 | .Север#1 | ..Проект Север#3 | ..Растр Север#4 | ..Карта Север#5 | "
                       "...Дороги#6 | ....Линия#7 | ....Атрибуты дорог#8 | ....Реки#9 | ...Реки#6 | .Юг#1 | "
                       ".Справочник дорог#2 | .Карта без территории#5 | ..Слой без территории#6");
    EXPECT_EQ(states.find('2'), std::string::npos) << states;
    EXPECT_EQ(states.find('3'), std::string::npos) << states;
    EXPECT_TRUE(rootExpanded);
    EXPECT_FALSE(areaExpanded);
    EXPECT_EQ(statusOfLayer, "ID: " + I(9));
    EXPECT_EQ(statusOfRoot, "");
}

TEST_F(SelectDialog, OKHandsBackExactlyTheFullyCheckedObjects)
{
    struct Case {
        const char* name;
        std::vector<std::string> clicked;
        std::string states; // of the tree before OK
        std::vector<std::string> ids;
    };
    const Case cases[] = {
        {"one layer: its map and area are indeterminate and stay out",
         {"Реки"},
         "Объекты Велмо=3 Север=3 Карта Север=3 Дороги=1 Реки=2 Юг=1 Карта без территории=1 "
         "Слой без территории=1",
         {I(10)}},
        {"both layers of a map: the map and its area become checked",
         {"Дороги", "Реки"},
         "Объекты Велмо=3 Север=2 Карта Север=2 Дороги=2 Реки=2 Юг=1 Карта без территории=1 "
         "Слой без территории=1",
         {I(1), I(6), I(9), I(10)}},
        {"a map without an area, with its layer",
         {"Карта без территории"},
         "Объекты Велмо=3 Север=1 Карта Север=1 Дороги=1 Реки=1 Юг=1 Карта без территории=2 "
         "Слой без территории=2",
         {I(8), I(12)}},
        {"the root: everything", {"Объекты Велмо"}, "", {I(1), I(2), I(6), I(8), I(9), I(10), I(12)}},
    };
    for (const Case& c : cases) {
        std::string caption, outline, states;
        const auto driver = Driver([&](TSelectLayersForm& form) {
            caption = form.windowTitle().toStdString();
            outline = Outline(*form.XTreeView);
            for (const std::string& text : c.clicked) ClickCheckBox(form, text);
            states = States(*form.XTreeView);
            form.btnOk->click();
        });
        TVelmoSysObjectList list;
        list.AddNew("stale", "stale", sokLayer);
        EXPECT_TRUE(SelectLayersDialog(Db(), list)) << c.name;
        EXPECT_EQ(IDs(list), c.ids) << c.name;
        if (!c.states.empty()) {
            EXPECT_EQ(states, c.states) << c.name;
        }
        EXPECT_EQ(caption, "Выберите слои Велмо") << c.name;
        EXPECT_EQ(outline, "Объекты Велмо#0 | .Север#1 | ..Карта Север#5 | ...Дороги#6 | ...Реки#6 | .Юг#1 | "
                           ".Карта без территории#5 | ..Слой без территории#6")
            << c.name;
    }
}

TEST_F(SelectDialog, TheObjectsHandedBackKeepTheirKindsAndParents)
{
    const auto driver = Driver([&](TSelectLayersForm& form) {
        ClickCheckBox(form, "Дороги");
        form.btnOk->click();
    });
    TVelmoSysObjectList list;
    ASSERT_TRUE(SelectSystemObjects(Db(), list));
    std::vector<std::string> objects;
    for (int i = 0; i < list.Count(); ++i) {
        const TVelmoSysObject* obj = list.GetItem(i);
        objects.push_back(std::to_string(obj->Kind) + " " + obj->ID + "<" + obj->ParentID + " " + obj->Name);
        EXPECT_EQ(obj->RefCount(), 1);
    }
    EXPECT_EQ(objects, (std::vector<std::string>{"5 " + I(9) + "<" + I(6) + " Дороги",
                                                  "6 " + I(13) + "<" + I(9) + " Линия",
                                                  "7 " + I(14) + "<" + I(9) + " Атрибуты дорог",
                                                  "8 " + I(15) + "<" + I(9) + " Реки"}));
}

TEST_F(SelectDialog, OKWithNothingCheckedIsRefusedAndTheDialogStaysOpen)
{
    const std::unique_ptr<velmotest::TVelmoDbPair> empty = std::make_unique<velmotest::TVelmoDbPair>();
    struct Case {
        const char* name;
        IUdb* db;
        std::vector<std::string> clicked; // checked, then unchecked again
    };
    const Case cases[] = {
        {"nothing touched", &Db(), {}},
        {"a layer checked and unchecked", &Db(), {"Реки", "Реки"}},
        {"an empty database: the root alone", &empty->Spatial(), {}},
    };
    for (const Case& c : cases) {
        guitest::BoxRecorder boxes;
        bool stayedOpen = false;
        std::string outline;
        const auto driver = Driver([&](TSelectLayersForm& form) {
            outline = Outline(*form.XTreeView);
            for (const std::string& text : c.clicked) ClickCheckBox(form, text);
            form.btnOk->click();
            stayedOpen = form.isVisible();
            form.btnCancel->click();
        });
        TVelmoSysObjectList list;
        EXPECT_FALSE(SelectLayersDialog(*c.db, list)) << c.name;
        EXPECT_EQ(list.Count(), 0) << c.name;
        EXPECT_TRUE(stayedOpen) << c.name;
        ASSERT_EQ(boxes.boxes.size(), 1u) << c.name;
        EXPECT_EQ(boxes.boxes[0].kind, gui::BoxKind::Information) << c.name;
        EXPECT_EQ(boxes.boxes[0].text, kNothingChecked) << c.name;
        if (c.db == &empty->Spatial()) {
            EXPECT_EQ(outline, "Объекты Велмо#0") << c.name;
        }
    }
}

TEST_F(SelectDialog, CancelGivesFalseAndAnEmptyListWhateverWasChecked)
{
    const auto driver = Driver([&](TSelectLayersForm& form) {
        ClickCheckBox(form, "Объекты Велмо");
        form.btnCancel->click();
    });
    TVelmoSysObjectList list;
    list.AddNew("stale", "stale", sokLayer);
    EXPECT_FALSE(SelectLayersDialog(Db(), list));
    EXPECT_EQ(list.Count(), 0);
}

TEST_F(SelectDialog, CtrlFFindsANodeFromAnywhereInTheDialog)
{
    struct Case {
        const char* name;
        std::function<QWidget*(TSelectLayersForm&)> focus;
    };
    const Case cases[] = {
        {"in the tree", [](TSelectLayersForm& f) -> QWidget* { return f.XTreeView; }},
        {"on the Cancel button", [](TSelectLayersForm& f) -> QWidget* { return f.btnCancel; }},
    };
    for (const Case& c : cases) {
        int searches = 0;
        std::string searchTree, selected, status;
        bool visible = false;
        const auto driver = Driver(
            [&](TSelectLayersForm& form) {
                form.activateWindow();
                ASSERT_TRUE(guitest::WaitUntil([&] { return form.isActiveWindow(); }));
                QWidget* target = c.focus(form);
                target->setFocus();
                const bool handled = qt_sendShortcutOverrideEvent(target, 0, Qt::Key_F, Qt::ControlModifier,
                                                                  QStringLiteral("\x06"), false, 1);
                EXPECT_TRUE(handled) << c.name;
                TXTreeNode* node = form.XTreeView->Selected();
                selected = node ? node->Text() : "";
                visible = node && node->Parent() && node->Parent()->Expanded() &&
                          form.XTreeView->visualRect(form.XTreeView->IndexOf(node)).isValid();
                status = form.StatusBar->currentMessage().toStdString();
            },
            [&](TSearchInTreeForm& search) {
                ++searches;
                search.Filter->setText("без территории");
                guitest::WaitUntil([&] { return !search.Timer->Enabled(); });
                searchTree = Outline(*search.SearchTree);
                search.SearchTree->SetSelected(FindNode(*search.SearchTree, "Слой без территории"));
                search.OK->click();
            });
        TVelmoSysObjectList list;
        EXPECT_FALSE(SelectLayersDialog(Db(), list)) << c.name;
        EXPECT_EQ(searches, 1) << c.name;
        // The find dialog shows the tree's pictures.
        EXPECT_EQ(searchTree, "Объекты Велмо#0 | .Карта без территории#5 | ..Слой без территории#6") << c.name;
        EXPECT_EQ(selected, "Слой без территории") << c.name;
        EXPECT_TRUE(visible) << c.name;
        EXPECT_EQ(status, "ID: " + I(12)) << c.name;
    }
}

TEST_F(SelectDialog, ThePopUpMenuOffersFind)
{
    bool menuShown = false;
    int searches = 0;
    std::string selected;
    const auto driver = Driver(
        [&](TSelectLayersForm& form) {
            TXTreeNode* roads = FindNode(*form.XTreeView, "Дороги");
            roads->MakeVisible();
            form.XTreeView->SetSelected(roads);
            QWidget* viewport = form.XTreeView->viewport();
            const QPoint at = form.XTreeView->TextRect(roads).center();
            QContextMenuEvent event(QContextMenuEvent::Mouse, at, viewport->mapToGlobal(at));
            QCoreApplication::sendEvent(viewport, &event);
            menuShown = form.PopupMenu->isVisible();
            form.PopupMenu->hide();
            form.mnuFind->trigger();
            selected = form.XTreeView->Selected() ? form.XTreeView->Selected()->Text() : "";
        },
        [&](TSearchInTreeForm& search) {
            ++searches;
            search.Cancel->click();
        });
    TVelmoSysObjectList list;
    EXPECT_FALSE(SelectLayersDialog(Db(), list));
    EXPECT_TRUE(menuShown);
    EXPECT_EQ(searches, 1);
    // Cancelled: the selection stays.
    EXPECT_EQ(selected, "Дороги");
}

TEST(SelectDialogFailure, AFailingReadRaisesWithoutShowingTheDialog)
{
    velmotest::TVelmoDbPair db(Objects());
    dynamic_cast<TSqliteUdb&>(db.Spatial()).FailStatementsContaining("VELMO_LAYERS");
    TVelmoSysObjectList list;
    // The test main's runner fails the test if a dialog opens.
    EXPECT_THROW(SelectLayersDialog(db.Spatial(), list), EUdbException);
    EXPECT_EQ(IDs(list), (std::vector<std::string>{I(1), I(2), I(6), I(8)}));
}

TEST_F(SelectDialog, Screenshot)
{
    QImage shot;
    const auto driver = Driver([&](TSelectLayersForm& form) {
        form.XTreeView->Items().GetFirstNode()->Expand(true);
        ClickCheckBox(form, "Дороги");
        form.XTreeView->SetSelected(FindNode(*form.XTreeView, "Линия"));
        QCoreApplication::processEvents();
        shot = form.grab().toImage();
    });
    TVelmoSysObjectList list;
    SelectSystemObjects(Db(), list);
    const QString path = QDir(QCoreApplication::applicationDirPath()).filePath("SelectLayersForm.png");
    ASSERT_TRUE(shot.save(path, "PNG"));
    const QImage saved(path);
    ASSERT_FALSE(saved.isNull());
    EXPECT_EQ(saved.size(), QSize(520, 437));
    EXPECT_GT(QFileInfo(path).size(), 0);
    // Every kind's picture is on it: each one's fill colour shows somewhere.
    std::set<QRgb> colours;
    for (int y = 0; y < saved.height(); ++y)
        for (int x = 0; x < saved.width(); ++x) colours.insert(saved.pixel(x, y) | 0xFF000000u);
    gui::ImageList images;
    LoadObjectImages(images);
    for (int i = 0; i < images.Count(); ++i) {
        const QImage picture = images.Pixmap(i).toImage();
        std::set<QRgb> own;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x)
                if (qAlpha(picture.pixel(x, y)) == 255) own.insert(picture.pixel(x, y));
        bool found = false;
        for (const QRgb colour : own) found = found || colours.contains(colour);
        EXPECT_TRUE(found) << "picture " << i;
    }
}

// ---- the tree without the dialog -------------------------------------------------------------

TEST(ObjectTree, FillHangsEachObjectUnderItsParentOrTheRoot)
{
    TXCustomTreeView tree;
    tree.SetCheckboxes(cbmHierarchical);
    TVelmoSysObjectList list;
    const auto add = [&](const char* id, const char* parent, const char* name, TSysObjectKind kind) {
        list.AddNew(id, name, kind)->ParentID = parent;
    };
    add("", "", "Без идентификатора", sokArea);
    add("a", "", "Территория", sokArea);
    add("p", "", "Проект без территории", sokProject);
    add("m", "a", "Карта", sokVectorMap);
    add("l", "m", "Слой", sokLayer);
    add("x", "nobody", "Сирота", sokLayer);
    add("a", "", "Двойник", sokArea);
    add("s", "a", "Стиль", sokStyle);
    // Something there before is cleared.
    tree.Items().AddChild(nullptr, "old");
    FillObjectTree(tree, list);
    EXPECT_EQ(Outline(tree), "Объекты Велмо#0 | .Без идентификатора#1 | .Территория#1 | ..Карта#5 | ...Слой#6 | "
                             "..Стиль#7 | .Проект без территории#3 | .Сирота#6 | .Двойник#1");
    // One node per object, carrying it.
    EXPECT_EQ(NodeObject(tree.Items().GetFirstNode()), nullptr);
    std::vector<TVelmoSysObject*> shown;
    for (TXTreeNode* n = tree.Items().GetFirstNode()->GetNext(); n; n = n->GetNext()) {
        ASSERT_NE(NodeObject(n), nullptr) << n->Text();
        EXPECT_EQ(NodeObject(n)->Name, n->Text());
        shown.push_back(NodeObject(n));
    }
    std::vector<TVelmoSysObject*> objects;
    for (int i = 0; i < list.Count(); ++i) objects.push_back(list.GetItem(i));
    EXPECT_EQ(std::set<TVelmoSysObject*>(shown.begin(), shown.end()),
              std::set<TVelmoSysObject*>(objects.begin(), objects.end()));
    EXPECT_EQ(shown.size(), objects.size());
}

TEST(ObjectTree, FillLeavesEveryNodeUnchecked)
{
    TXCustomTreeView tree;
    tree.SetCheckboxes(cbmHierarchical);
    TVelmoSysObjectList list;
    list.AddNew("a", "Территория", sokArea);
    list.AddNew("m", "Карта", sokVectorMap)->ParentID = "a";
    FillObjectTree(tree, list);
    tree.SetCheckState(FindNode(tree, "Карта"), csChecked);
    EXPECT_EQ(States(tree), "Объекты Велмо=2 Территория=2 Карта=2");
    FillObjectTree(tree, list);
    EXPECT_EQ(States(tree), "Объекты Велмо=1 Территория=1 Карта=1");
    list.Clear();
    FillObjectTree(tree, list);
    EXPECT_EQ(States(tree), "Объекты Велмо=1");
}

TEST(ObjectTree, RemoveUncheckedKeepsOnlyCheckedObjectsAndReleasesTheOthers)
{
    TXCustomTreeView tree;
    tree.SetCheckboxes(cbmHierarchical);
    TVelmoSysObjectList list;
    const rtl::RefPtr<TVelmoSysObject> area(list.AddNew("a", "Территория", sokArea));
    list.AddNew("m", "Карта", sokVectorMap)->ParentID = "a";
    list.AddNew("l1", "Слой 1", sokLayer)->ParentID = "m";
    list.AddNew("l2", "Слой 2", sokLayer)->ParentID = "m";
    list.AddNew("b", "Справочник", sokRefBook);
    FillObjectTree(tree, list);
    tree.SetCheckState(FindNode(tree, "Слой 2"), csChecked);
    tree.SetCheckState(FindNode(tree, "Справочник"), csChecked);
    EXPECT_EQ(area->RefCount(), 2);
    RemoveUncheckedObjects(tree, list);
    EXPECT_EQ(IDs(list), (std::vector<std::string>{"l2", "b"}));
    EXPECT_EQ(area->RefCount(), 1);
    // A tree with nothing checked empties the list.
    FillObjectTree(tree, list);
    RemoveUncheckedObjects(tree, list);
    EXPECT_EQ(list.Count(), 0);
}

} // namespace
