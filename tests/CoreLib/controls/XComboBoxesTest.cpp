// The lookup combo box without a display: loading and ordering the items,
// filtering by the typed words, the texts kept and restored, and the Qt view
// on the offscreen platform.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QLineEdit>

#include "CoreLib/controls/XComboBoxes.h"
#include "tests/CoreLib/controls/WidgetTestSupport.h"

namespace {

// The texts of the entries a lookup step shows.
std::vector<std::string> Texts(const TLookupDropDown& dropDown)
{
    std::vector<std::string> texts;
    for (const TXComboBoxLookupItem* item : dropDown.Items) texts.push_back(item->Text);
    return texts;
}

void FillLayers(TXCustomComboBox& box, int* loads = nullptr)
{
    box.OnInitDataLookup = [loads](TXCustomComboBox*, TXComboBoxLookup& list) {
        EXPECT_EQ(list.Count(), 0);
        if (loads) ++*loads;
        list.Add("слой дороги");
        list.Add("Граница слоя");
        list.Add("<все>", true);
        list.Add("Слой реки");
        list.Add("дорогослой");
    };
}

TEST(ComboLookup, StandardModeDoesNoLookup)
{
    TXCustomComboBox box;
    int loads = 0;
    FillLayers(box, &loads);
    EXPECT_FALSE(box.EditChange("", "слой").has_value());
    EXPECT_FALSE(box.DropDown("слой").has_value());
    EXPECT_FALSE(box.CloseUp(nullptr).has_value());
    EXPECT_FALSE(box.Escape(true).has_value());
    EXPECT_EQ(loads, 0);
    EXPECT_FALSE(box.InLookup());
}

TEST(ComboLookup, ItemsLoadOnceAndSortAlwaysShownFirst)
{
    TXCustomComboBox box;
    box.SetLookupMode(lmLookup);
    int loads = 0;
    FillLayers(box, &loads);
    const auto first = box.DropDown("");
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(Texts(*first),
              (std::vector<std::string>{"<все>", "Граница слоя", "дорогослой", "слой дороги", "Слой реки"}));
    box.EditChange("", "с");
    box.DropDown("сл");
    EXPECT_EQ(loads, 1);
    EXPECT_TRUE(box.LookupLoaded());
}

TEST(ComboLookup, EntriesMatchTheTypedWordsOrAreAlwaysShown)
{
    struct Case {
        const char* name;
        const char* typed;
        std::vector<std::string> shown;
        int itemIndex;
        int minRows;
    };
    const Case cases[] = {
        {"two word beginnings", "сло  дор", {"<все>", "слой дороги"}, -1, 3},
        {"a word start anywhere in the text", "сло", {"<все>", "Граница слоя", "слой дороги", "Слой реки"}, -1, 5},
        {"not after a letter", "рог", {"<все>"}, -1, 2},
        {"the entry equal to the text is selected", "Слой реки", {"<все>", "Слой реки"}, 1, 3},
        {"equality is exact", "слой реки", {"<все>", "Слой реки"}, -1, 3},
        {"nothing typed shows all", "", {"<все>", "Граница слоя", "дорогослой", "слой дороги", "Слой реки"}, -1, 6},
    };
    for (const Case& c : cases) {
        TXCustomComboBox box;
        box.SetLookupMode(lmStrictLookup);
        FillLayers(box);
        const auto dropDown = box.EditChange("", c.typed);
        ASSERT_TRUE(dropDown.has_value()) << c.name;
        EXPECT_EQ(Texts(*dropDown), c.shown) << c.name;
        EXPECT_EQ(dropDown->ItemIndex, c.itemIndex) << c.name;
        EXPECT_EQ(box.ItemIndex(), c.itemIndex) << c.name;
        EXPECT_EQ(dropDown->MinRows, c.minRows) << c.name;
        EXPECT_TRUE(dropDown->Open) << c.name;
        EXPECT_EQ(dropDown->Text, c.typed) << c.name;
    }
}

TEST(ComboLookup, AtMostTenRowsAreAskedFor)
{
    TXCustomComboBox box;
    box.SetLookupMode(lmLookup);
    box.OnInitDataLookup = [](TXCustomComboBox*, TXComboBoxLookup& list) {
        for (int i = 0; i < 30; ++i) list.Add("item " + std::to_string(i));
    };
    const auto dropDown = box.DropDown("");
    ASSERT_TRUE(dropDown.has_value());
    EXPECT_EQ(dropDown->Items.size(), 30u);
    EXPECT_EQ(dropDown->MinRows, 10);
    EXPECT_FALSE(dropDown->Open);
}

// A filter of texts that end with its text.
class SuffixFilter : public IStringFilter {
public:
    explicit SuffixFilter(std::string suffix) : suffix_(std::move(suffix)) {}
    bool Matches(std::string_view text) override { return text.ends_with(suffix_); }

private:
    std::string suffix_;
};

TEST(ComboLookup, TheFilterMayComeFromTheHandler)
{
    TXCustomComboBox box;
    box.SetLookupMode(lmLookup);
    FillLayers(box);
    std::vector<std::string> asked;
    box.OnGetLookupFilter = [&](TXCustomComboBox*, const std::string& text) -> rtl::RefPtr<IStringFilter> {
        asked.push_back(text);
        if (text == "default") return nullptr;
        return rtl::MakeRef<SuffixFilter>(text);
    };
    EXPECT_EQ(Texts(*box.EditChange("", "слой")), (std::vector<std::string>{"<все>", "дорогослой"}));
    EXPECT_EQ(Texts(*box.EditChange("", "default")), (std::vector<std::string>{"<все>"}));
    EXPECT_EQ(asked, (std::vector<std::string>{"слой", "default"}));
}

TEST(ComboLookup, CloseUpAndEscapeTexts)
{
    struct Case {
        const char* name;
        TXComboBoxLookupMode mode;
        bool choose; // pick the first entry shown
        bool escape;
        const char* text;
    };
    const Case cases[] = {
        {"a choice gives its text", lmLookup, true, false, "Слой реки"},
        {"a strict choice gives its text", lmStrictLookup, true, false, "Слой реки"},
        {"no choice keeps the typed text", lmLookup, false, false, "Слой р"},
        {"no strict choice goes back to the text before", lmStrictLookup, false, false, "было"},
        {"escape goes back to the text before", lmLookup, false, true, "было"},
        {"strict escape goes back to the text before", lmStrictLookup, false, true, "было"},
    };
    for (const Case& c : cases) {
        TXCustomComboBox box;
        box.SetLookupMode(c.mode);
        box.OnInitDataLookup = [](TXCustomComboBox*, TXComboBoxLookup& list) {
            list.Add("Слой реки");
            list.Add("Слой дороги");
        };
        box.EditChange("было", "Сл");
        const auto dropDown = box.EditChange("Сл", "Слой р");
        ASSERT_TRUE(dropDown.has_value()) << c.name;
        EXPECT_EQ(box.SavedText(), "было") << c.name;
        EXPECT_EQ(box.TypedText(), "Слой р") << c.name;
        const std::optional<std::string> text =
            c.escape ? box.Escape(true) : box.CloseUp(c.choose ? dropDown->Items.at(0) : nullptr);
        EXPECT_EQ(text, std::optional<std::string>(c.text)) << c.name;
        EXPECT_FALSE(box.InLookup()) << c.name;
        // The next lookup remembers its own text before.
        box.EditChange("снова", "С");
        EXPECT_EQ(box.SavedText(), "снова") << c.name;
    }
    TXCustomComboBox box;
    box.SetLookupMode(lmLookup);
    box.DropDown("x");
    EXPECT_FALSE(box.Escape(false).has_value());
    EXPECT_TRUE(box.InLookup());
}

// ---- the Qt view ----------------------------------------------------------------

class ComboWidget : public ::testing::Test {
protected:
    void SetUp() override
    {
        box.resize(200, 24);
        box.OnInitDataLookup = [](TXCustomComboBox*, TXComboBoxLookup& list) {
            list.Add("Слой реки");
            list.Add("Слой дороги");
            list.Add("Граница");
        };
        box.OnChange = [this](TXCustomComboBox*) { changes.push_back(box.currentText().toStdString()); };
        box.show();
    }
    void TearDown() override { box.hidePopup(); }
    std::vector<std::string> Entries() const
    {
        std::vector<std::string> texts;
        for (int i = 0; i < box.count(); ++i) texts.push_back(box.itemText(i).toStdString());
        return texts;
    }
    void TypeIntoEdit(const QString& text)
    {
        for (const QChar ch : text) widgettest::Type(box.lineEdit(), 0, QString(ch));
    }
    bool PopupShown() const { return box.view()->isVisible(); }

    TXComboBox box;
    std::vector<std::string> changes;
};

TEST_F(ComboWidget, StandardModeIsAPlainComboBox)
{
    box.addItems({"C - System (ext4)", "D - Data (ext4)"});
    box.setCurrentIndex(1);
    EXPECT_FALSE(box.isEditable());
    EXPECT_EQ(Entries(), (std::vector<std::string>{"C - System (ext4)", "D - Data (ext4)"}));
    EXPECT_FALSE(box.LookupLoaded());
    emit box.activated(0);
    EXPECT_EQ(changes.size(), 1u);
}

TEST_F(ComboWidget, TypingFiltersTheListAndKeepsTheText)
{
    box.SetLookupMode(lmLookup);
    ASSERT_TRUE(box.isEditable());
    TypeIntoEdit("сл");
    EXPECT_EQ(box.currentText(), QString("сл"));
    EXPECT_EQ(Entries(), (std::vector<std::string>{"Слой дороги", "Слой реки"}));
    EXPECT_TRUE(PopupShown());
    EXPECT_EQ(box.LookupItemAt(1)->Text, "Слой реки");
    EXPECT_EQ(box.LookupItemAt(2), nullptr);
    TypeIntoEdit("ой р");
    EXPECT_EQ(box.currentText(), QString("слой р"));
    EXPECT_EQ(Entries(), (std::vector<std::string>{"Слой реки"}));
    EXPECT_EQ(box.SavedText(), "");
}

TEST_F(ComboWidget, AChoiceInTheListBecomesTheText)
{
    box.SetLookupMode(lmStrictLookup);
    TypeIntoEdit("гр");
    ASSERT_TRUE(PopupShown());
    ASSERT_EQ(Entries(), (std::vector<std::string>{"Граница"}));
    QAbstractItemView* list = box.view();
    const QPoint at = list->visualRect(list->model()->index(0, 0)).center();
    widgettest::Click(list->viewport(), at);
    EXPECT_TRUE(guitest::WaitUntil([&] { return !box.InLookup(); }));
    EXPECT_EQ(box.currentText(), QString("Граница"));
    EXPECT_EQ(box.lineEdit()->selectedText(), QString("Граница"));
    ASSERT_FALSE(changes.empty());
    EXPECT_EQ(changes.back(), "Граница");
}

TEST_F(ComboWidget, ClosingWithoutAChoiceInEachMode)
{
    struct Case {
        const char* name;
        TXComboBoxLookupMode mode;
        bool escape;
        const char* text;
    };
    const Case cases[] = {
        {"lookup keeps the typed text", lmLookup, false, "сло"},
        {"strict lookup goes back", lmStrictLookup, false, "прежний"},
        {"escape goes back", lmLookup, true, "прежний"},
    };
    for (const Case& c : cases) {
        box.SetLookupMode(c.mode);
        box.setEditText("прежний");
        box.lineEdit()->selectAll(); // typing replaces the old text
        TypeIntoEdit("сло");
        EXPECT_EQ(box.SavedText(), "прежний") << c.name;
        ASSERT_TRUE(PopupShown()) << c.name;
        if (c.escape)
            widgettest::Type(box.view(), Qt::Key_Escape);
        else
            box.hidePopup();
        EXPECT_TRUE(guitest::WaitUntil([&] { return !box.InLookup(); })) << c.name;
        EXPECT_EQ(box.currentText().toStdString(), c.text) << c.name;
    }
}

} // namespace
