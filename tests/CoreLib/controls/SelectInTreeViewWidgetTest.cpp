// The find dialog as a real form on the offscreen platform: its controls,
// filtering as one types (after the 100 ms pause), Up/Down forwarded to the
// result tree, OK, a double click, and the search over a tree view.
#include <functional>
#include <string>

#include <gtest/gtest.h>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "CoreLib/controls/SelectInTreeView.h"
#include "platform/gui/Dialogs.h"
#include "tests/CoreLib/controls/SearchTestSupport.h"
#include "tests/CoreLib/controls/TreeTestSupport.h"
#include "tests/CoreLib/controls/WidgetTestSupport.h"

namespace {

using searchtest::Describe;

// Runs the dialog by showing it and calling drive(form); the form's result.
gui::ScopedModalRunner Driver(std::function<void(TSearchInTreeForm&)> drive)
{
    return gui::ScopedModalRunner([drive](QDialog& dialog) {
        auto* form = dynamic_cast<TSearchInTreeForm*>(&dialog);
        EXPECT_NE(form, nullptr);
        if (!form) return static_cast<int>(QDialog::Rejected);
        form->show();
        drive(*form);
        if (form->isVisible()) form->reject();
        return form->result();
    });
}

// Types text into the edit key by key.
void TypeText(QWidget* edit, const QString& text)
{
    for (const QChar ch : text) widgettest::Type(edit, 0, QString(ch));
}

bool WaitForTree(TSearchInTreeForm& form, const std::string& tree)
{
    return guitest::WaitUntil([&] { return Describe(*form.SearchTree) == tree; });
}

TEST(SearchForm, HasTheControlsAndTextsItNeeds)
{
    TSearchInTreeForm form;
    EXPECT_EQ(form.windowTitle(), QString("Поиск"));
    EXPECT_EQ(form.FilterLabel->text(), QString("Фильтр:"));
    EXPECT_EQ(form.OK->text(), QString("ОК"));
    EXPECT_EQ(form.Cancel->text(), QString("Отмена"));
    EXPECT_TRUE(form.OK->isDefault());
    EXPECT_EQ(form.size(), QSize(506, 385));
    EXPECT_EQ(form.minimumSize(), QSize(340, 110));
    EXPECT_TRUE(form.isSizeGripEnabled());
    EXPECT_EQ(form.SearchTree->Checkboxes(), cbmNone);
    EXPECT_EQ(form.SearchTree->focusPolicy(), Qt::ClickFocus);
    EXPECT_EQ(form.Timer->Interval(), 100);
    EXPECT_EQ(form.findChild<QLineEdit*>("Filter"), form.Filter);
    EXPECT_EQ(form.findChild<TXTreeView*>("SearchTree"), form.SearchTree);
}

TEST(SearchForm, FiltersAsOneTypesAndForwardsArrowKeys)
{
    const rtl::RefPtr<searchtest::FakeSource> source = searchtest::MakeSource();
    std::string opened;
    const auto driver = Driver([&](TSearchInTreeForm& form) {
        guitest::WaitUntil([&] { return !form.Timer->Enabled(); });
        opened = Describe(*form.SearchTree);
        TypeText(form.Filter, "слой дор");
        EXPECT_EQ(form.Filter->text(), QString("слой дор"));
        // Applied only once the pause after the last key has passed.
        EXPECT_TRUE(form.Timer->Enabled());
        EXPECT_EQ(Describe(*form.SearchTree), "");
        EXPECT_TRUE(WaitForTree(form,
                                "Область Север | .Карта дорог | ..Слой дороги!@ | .Карта рек | ..Слой реки и дороги!"))
            << Describe(*form.SearchTree);
        struct Step {
            int key;
            const char* selected;
        };
        const Step steps[] = {
            {Qt::Key_Down, "Карта рек"},
            {Qt::Key_Down, "Слой реки и дороги"},
            {Qt::Key_Up, "Карта рек"},
            {Qt::Key_PageUp, "Область Север"},
            {Qt::Key_PageDown, "Слой реки и дороги"},
        };
        for (const Step& s : steps) {
            widgettest::Type(form.Filter, s.key);
            ASSERT_NE(form.SearchTree->Selected(), nullptr);
            EXPECT_EQ(form.SearchTree->Selected()->Text(), s.selected);
        }
        EXPECT_EQ(form.Filter->text(), QString("слой дор"));
        // Typing on keeps the node chosen when it is still shown.
        TypeText(form.Filter, "о");
        EXPECT_TRUE(WaitForTree(form,
                                "Область Север | .Карта дорог | ..Слой дороги! | .Карта рек | ..Слой реки и дороги!@"))
            << Describe(*form.SearchTree);
        widgettest::Type(form.Filter, Qt::Key_Return, "\r");
    });
    EXPECT_EQ(ShowSearchDialog(source.get(), nullptr), searchtest::Find(source->root, "Слой реки и дороги"));
    EXPECT_EQ(opened, "");
}

TEST(SearchForm, OKWithoutASelectionIsRefused)
{
    const rtl::RefPtr<searchtest::FakeSource> source = searchtest::MakeSource();
    guitest::BoxRecorder boxes;
    bool stayedOpen = false;
    const auto driver = Driver([&](TSearchInTreeForm& form) {
        form.Filter->setText("нет такого");
        guitest::WaitUntil([&] { return !form.Timer->Enabled(); });
        form.OK->click();
        stayedOpen = form.isVisible();
        form.Cancel->click();
    });
    EXPECT_EQ(ShowSearchDialog(source.get(), nullptr), nullptr);
    EXPECT_TRUE(stayedOpen);
    ASSERT_EQ(boxes.boxes.size(), 1u);
    EXPECT_EQ(boxes.boxes[0].kind, gui::BoxKind::Information);
    EXPECT_EQ(boxes.boxes[0].text, "ВНИМАНИЕ! Необходимо выбрать элемент.");
}

TEST(SearchForm, CancelGivesNothingEvenWithASelection)
{
    const rtl::RefPtr<searchtest::FakeSource> source = searchtest::MakeSource();
    const auto driver = Driver([&](TSearchInTreeForm& form) {
        form.Filter->setText("юг");
        EXPECT_TRUE(WaitForTree(form, "Область Юг!@"));
        form.Cancel->click();
    });
    EXPECT_EQ(ShowSearchDialog(source.get(), nullptr), nullptr);
}

TEST(SearchForm, ADoubleClickInTheResultChoosesTheNode)
{
    const rtl::RefPtr<searchtest::FakeSource> source = searchtest::MakeSource();
    const auto driver = Driver([&](TSearchInTreeForm& form) {
        form.Filter->setText("карта");
        EXPECT_TRUE(WaitForTree(form, "Область Север | .Карта дорог!@ | .Карта рек!"));
        TXTreeNode* rivers = form.SearchTree->Items().GetFirstNode()->Item(1);
        const QPoint at = form.SearchTree->TextRect(rivers).center();
        widgettest::Click(form.SearchTree->viewport(), at);
        widgettest::Mouse(form.SearchTree->viewport(), QEvent::MouseButtonDblClick, at);
    });
    EXPECT_EQ(ShowSearchDialog(source.get(), nullptr), searchtest::Find(source->root, "Карта рек"));
}

TEST(SearchInTreeView, SelectsTheChosenNodeInTheTreeView)
{
    TXTreeView view;
    view.resize(300, 200);
    auto n = treetest::Build(view, {"Объекты Велмо", "Объекты Велмо/Область", "Область/Карта", "Карта/Слой дороги",
                                    "Карта/Слой реки"});
    view.show();
    const auto driver = Driver([&](TSearchInTreeForm& form) {
        TypeText(form.Filter, "реки");
        EXPECT_TRUE(WaitForTree(form, "Объекты Велмо | .Область | ..Карта | ...Слой реки!@"));
        form.OK->click();
    });
    TXTreeNode* found = SearchInTreeView(&view, nullptr, nullptr);
    EXPECT_EQ(found, n["Слой реки"]);
    EXPECT_EQ(view.Selected(), n["Слой реки"]);
    EXPECT_TRUE(n["Карта"]->Expanded());
    EXPECT_TRUE(view.isExpanded(view.IndexOf(n["Область"])));
    EXPECT_EQ(view.currentIndex(), view.IndexOf(n["Слой реки"]));
}

TEST(SearchInTreeView, NothingHappensWithoutATreeView)
{
    // The test main's runner would fail this test if a dialog opened.
    EXPECT_EQ(SearchInTreeView(nullptr, nullptr, nullptr), nullptr);
}

TEST(SearchInTreeView, CancelLeavesTheTreeViewAsItWas)
{
    TXCustomTreeView view;
    auto n = treetest::Build(view, {"a", "b"});
    view.SetSelected(n["b"]);
    const auto driver = Driver([&](TSearchInTreeForm& form) {
        form.Filter->setText("a");
        EXPECT_TRUE(WaitForTree(form, "a!@"));
        form.reject();
    });
    EXPECT_EQ(SearchInTreeView(&view, nullptr, nullptr), nullptr);
    EXPECT_EQ(view.Selected(), n["b"]);
}

} // namespace
