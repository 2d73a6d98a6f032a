// Tests of the named parameter lists: typed access by name and by position,
// missing parameters and the defaults that events supply, change events only
// on a real change, writes that create or refuse parameters, the element's own
// text, and the stored XML form of a list.
#include "CoreLib/SimpleParams.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CoreLib/SimpleXML.h"
#include "platform/rtl/DateTime.h"
#include "platform/rtl/Exceptions.h"

using rtl::Variant;
using ::testing::EndsWith;
using ::testing::StartsWith;

namespace {

const std::string kIndexMessage = "Ошибка получения элемента списка: индекс выходит за пределы";

// A list over the root element of a document loaded from text.
class ParamsOver : public ::testing::Test {
protected:
    void Load(const std::string& xml, bool autoCreate = true)
    {
        doc_ = CreateXmlDocument();
        doc_->LoadXML(xml);
        root_ = doc_->Get_DocumentElement();
        params_ = rtl::RefPtr<TSimpleParams>(new TSimpleParams(autoCreate));
        params_->SetNode(root_);
        params_->OnChange = [this](TSimpleParams& sender, const std::string& name) {
            EXPECT_EQ(&sender, params_.get());
            changes_.push_back(name);
        };
    }
    // The text of the "param" child named name ("<none>" when missing).
    std::string Stored(const std::string& name)
    {
        const IXmlNodeListPtr children = root_->Get_ChildNodes();
        for (int i = 0; i < children->Get_Count(); ++i) {
            const IXmlNodePtr child = children->Get_Item(i);
            if (child->Get_NodeName() == "param" && child->GetAttr("name") == name) return child->Get_Text();
        }
        return "<none>";
    }

    IXmlDocumentPtr doc_;
    IXmlElementPtr root_;
    rtl::RefPtr<TSimpleParams> params_;
    std::vector<std::string> changes_;
};

template <class F>
std::string MessageOf(F f)
{
    try {
        f();
    } catch (const rtl::Exception& e) {
        return e.Message();
    }
    return "";
}

// ---- reading by name -------------------------------------------------------------

const char* const kDriver =
    "<driver name=\"BDE.Paradox\">"
    "<param name=\"Server\">db1</param>"
    "<param name=\"Port\">1433</param>"
    "<param name=\"Trusted\">TRUE</param>"
    "<param name=\"Off\">0</param>"
    "<param name=\"Since\">2006-01-02T10:20:30</param>"
    "<param name=\"Empty\"/>"
    "<param>nameless</param>"
    "<other name=\"Other\">not a param</other>"
    "<param name=\"Server\">second</param>"
    "</driver>";

TEST_F(ParamsOver, ReadsByNameWithTheRightType)
{
    Load(kDriver);
    const struct {
        const char* name;
        std::string actual;
        std::string expected;
    } cases[] = {
        {"string", params_->GetStr("Server", "dflt"), "db1"},
        {"letter case matters", params_->GetStr("server", "dflt"), "dflt"},
        {"empty text", params_->GetStr("Empty", "dflt"), ""},
        {"not a param element", params_->GetStr("Other", "dflt"), "dflt"},
        {"missing name attribute is the empty name", params_->GetStr("", "dflt"), "nameless"},
        {"wide-string key", params_->GetStr(Variant::OleStr("Port"), "dflt"), "1433"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.actual, c.expected) << c.name;

    EXPECT_EQ(params_->GetInt("Port", -1), 1433);
    EXPECT_EQ(params_->GetInt("Missing", -1), -1);
    EXPECT_TRUE(params_->GetBool("Trusted", false));
    EXPECT_FALSE(params_->GetBool("Off", true));
    EXPECT_TRUE(params_->GetBool("Missing", true));
    EXPECT_NEAR(params_->GetDateTime("Since"), rtl::EncodeDateTime(2006, 1, 2, 10, 20, 30, 0), 1e-9);
    EXPECT_EQ(params_->GetDateTime("Missing"), 0.0);
    EXPECT_TRUE(params_->Exists("Port"));
    EXPECT_FALSE(params_->Exists("port"));
    EXPECT_FALSE(params_->Exists("Other"));
}

TEST_F(ParamsOver, CountsOnlyParamsAndNamesEveryPosition)
{
    Load(kDriver);
    EXPECT_EQ(params_->Count(), 8);
    const char* const names[] = {"Server", "Port", "Trusted", "Off", "Since", "Empty", "", "Other", "Server"};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(params_->GetName(i), names[i]) << "position " << i;
}

TEST_F(ParamsOver, StoredTextsThatDoNotConvertFail)
{
    Load("<p><param name=\"Nil\">{{null}}</param><param name=\"Word\">abc</param>"
         "<param name=\"Flag\">yes</param></p>");
    const struct {
        const char* name;
        std::function<void()> read;
        std::string message;
    } cases[] = {
        {"integer from letters", [&] { params_->GetInt("Word", 0); },
         "Невозможно сконвертировать XStr-строку \"abc\" в целое значение.\r\nОшибка: "
         "'abc' is not a valid integer value"},
        {"boolean from yes", [&] { params_->GetBool("Flag", false); },
         "Невозможно сконвертировать XStr-строку \"yes\" в логическое значение."},
        {"date from letters", [&] { params_->GetDateTime("Word"); },
         "Невозможно сконвертировать XStr-строку \"abc\" в значение даты"},
    };
    for (const auto& c : cases) EXPECT_EQ(MessageOf(c.read), c.message) << c.name;

    // A stored null has no string, integer or Boolean value.
    EXPECT_THROW(params_->GetStr("Nil", "x"), rtl::EVariantTypeCastError);
    EXPECT_THROW(params_->GetInt("Nil", 1), rtl::EVariantTypeCastError);
    EXPECT_THROW(params_->GetBool("Nil", true), rtl::EVariantTypeCastError);
}

// ---- positions -------------------------------------------------------------------

TEST_F(ParamsOver, PositionsCountEveryChild)
{
    Load("<p><!--note--><param name=\"Server\">db1</param><x>7</x></p>");
    EXPECT_EQ(params_->GetName(0), "");
    EXPECT_EQ(params_->GetStr(0, "dflt"), "note");
    EXPECT_EQ(params_->GetStr(1, "dflt"), "db1");
    EXPECT_EQ(params_->GetStr(Variant::Byte(1), "dflt"), "db1");
    EXPECT_EQ(params_->GetInt(Variant(std::int64_t{2}), 0), 7);
    EXPECT_EQ(params_->GetStr(Variant::LongWord(1), "dflt"), "db1");
    EXPECT_EQ(params_->GetStr(false, "dflt"), "note") << "false is position 0";
    EXPECT_EQ(params_->Count(), 1);

    params_->SetStr(Variant::SmallInt(1), "db2");
    EXPECT_EQ(Stored("Server"), "db2");
    EXPECT_EQ(changes_, std::vector<std::string>{"Server"});
}

TEST_F(ParamsOver, PositionsOutsideTheChildrenFail)
{
    Load("<p><param name=\"A\">1</param></p>");
    const struct {
        const char* name;
        std::function<void()> call;
    } cases[] = {
        {"read past the end", [&] { params_->GetStr(1, ""); }},
        {"read before the start", [&] { params_->GetInt(-1, 0); }},
        {"true is position -1", [&] { params_->GetStr(true, ""); }},
        {"write past the end", [&] { params_->SetInt(5, 1); }},
        {"64-bit position beyond 32 bits", [&] { params_->GetStr(Variant(std::int64_t{1} << 40), ""); }},
        {"64-bit position whose low 32 bits are 0", [&] { params_->GetStr(Variant(std::int64_t{1} << 32), ""); }},
        {"negative 64-bit position", [&] { params_->GetInt(Variant(-(std::int64_t{1} << 40)), 0); }},
        {"unsigned position beyond the signed range", [&] { params_->GetStr(Variant::LongWord(4000000000u), ""); }},
        {"largest unsigned position", [&] { params_->GetBool(Variant::LongWord(0xFFFFFFFFu), false); }},
        {"write at a 64-bit position", [&] { params_->SetStr(Variant(std::int64_t{1} << 40), "x"); }},
        {"name past the end", [&] { params_->GetName(1); }},
    };
    for (const auto& c : cases) EXPECT_EQ(MessageOf(c.call), kIndexMessage) << c.name;
    EXPECT_EQ(Stored("A"), "1");
}

// ---- missing parameters and OnGetValue -------------------------------------------

TEST_F(ParamsOver, MissingParametersTakeTheDefaultOrTheHandlersValue)
{
    Load("<p/>");
    struct Case {
        const char* name;
        bool assigned;
        bool answers;
        Variant supplied;
        std::int32_t expected;
    };
    const Case cases[] = {
        {"no handler gives the default", false, false, Variant(), 3},
        {"handler declining gives the default", true, false, Variant(std::int32_t{5}), 3},
        {"handler answering gives its value", true, true, Variant(std::int32_t{5}), 5},
        {"handler text is converted", true, true, Variant("12"), 12},
        {"handler leaving the value empty gives 0", true, true, Variant(), 0},
    };
    for (const auto& c : cases) {
        std::vector<std::string> asked;
        params_->OnGetValue = nullptr;
        if (c.assigned)
            params_->OnGetValue = [&](TSimpleParams& sender, const std::string& name, Variant& value) {
                EXPECT_EQ(&sender, params_.get());
                EXPECT_TRUE(value.IsEmpty());
                asked.push_back(name);
                if (c.answers) value = c.supplied;
                return c.answers;
            };
        EXPECT_EQ(params_->GetInt("Timeout", 3), c.expected) << c.name;
        EXPECT_EQ(asked, c.assigned ? std::vector<std::string>{"Timeout"} : std::vector<std::string>{})
            << c.name;
    }
}

TEST_F(ParamsOver, HandlerAnswersForEveryTypedRead)
{
    Load("<p/>");
    params_->OnGetValue = [](TSimpleParams&, const std::string& name, Variant& value) {
        if (name == "S") value = Variant("text");
        if (name == "B") value = Variant(true);
        if (name == "D") value = Variant::DateTime(2.5);
        return true;
    };
    EXPECT_EQ(params_->GetStr("S", ""), "text");
    EXPECT_TRUE(params_->GetBool("B", false));
    EXPECT_EQ(params_->GetDateTime("D"), 2.5);
    // Existing parameters never reach the handler.
    params_->SetStr("S", "stored");
    EXPECT_EQ(params_->GetStr("S", ""), "stored");
}

TEST(SimpleParamsWithoutElement, ActsAsAnEmptyList)
{
    const rtl::RefPtr<TSimpleParams> params(new TSimpleParams(true));
    EXPECT_EQ(params->RefCount(), 1); // 0 at birth, 1 for the holder here
    int asked = 0;
    params->OnGetValue = [&](TSimpleParams&, const std::string&, Variant& value) {
        ++asked;
        value = Variant("from handler");
        return true;
    };
    EXPECT_FALSE(params->Exists("A"));
    EXPECT_EQ(params->Count(), 0);
    EXPECT_EQ(params->GetName(0), "");
    EXPECT_EQ(params->GetXml(), "");
    EXPECT_EQ(params->GetText(true, ","), "");
    EXPECT_EQ(params->GetInt(0, 7), 7); // a position is not a name: no handler
    EXPECT_EQ(asked, 0);
    EXPECT_EQ(params->GetStr("A", "dflt"), "from handler");
    EXPECT_EQ(asked, 1);

    EXPECT_THAT(MessageOf([&] { params->SetStr("A", "x"); }), StartsWith("Param with index A not found ("));
    EXPECT_THAT(MessageOf([&] { params->SetText("x"); }), StartsWith("Object not initialized ("));
}

// ---- writing ---------------------------------------------------------------------

TEST_F(ParamsOver, WritesStoreXStrTextAndRaiseChangesOnlyOnRealChanges)
{
    Load("<p><param name=\"S\">db1</param><param name=\"I\">5</param>"
         "<param name=\"B\">true</param><param name=\"D\">2006-01-02T10:20:30</param></p>");
    struct Case {
        const char* name;
        std::function<void()> write;
        const char* param;
        std::string stored;
        bool changed;
    };
    const Case cases[] = {
        {"same string", [&] { params_->SetStr("S", "db1"); }, "S", "db1", false},
        {"other string", [&] { params_->SetStr("S", "db2"); }, "S", "db2", true},
        {"same integer", [&] { params_->SetInt("I", 5); }, "I", "5", false},
        {"negative integer", [&] { params_->SetInt("I", -42); }, "I", "-42", true},
        {"true over the text true is a change", [&] { params_->SetBool("B", true); }, "B", "1", true},
        {"true again", [&] { params_->SetBool("B", true); }, "B", "1", false},
        {"false", [&] { params_->SetBool("B", false); }, "B", "0", true},
        {"same date, milliseconds dropped",
         [&] { params_->SetDateTime("D", rtl::EncodeDateTime(2006, 1, 2, 10, 20, 30, 500)); }, "D",
         "2006-01-02T10:20:30", false},
        {"other date", [&] { params_->SetDateTime("D", rtl::EncodeDate(2024, 2, 29)); }, "D",
         "2024-02-29T00:00:00", true},
        {"string kept as written", [&] { params_->SetStr("S", " a & <b> "); }, "S", " a & <b> ", true},
    };
    for (const auto& c : cases) {
        changes_.clear();
        c.write();
        EXPECT_EQ(Stored(c.param), c.stored) << c.name;
        EXPECT_EQ(changes_, c.changed ? std::vector<std::string>{c.param} : std::vector<std::string>{})
            << c.name;
    }
    EXPECT_EQ(params_->Count(), 4);
}

TEST_F(ParamsOver, WritingANewNameAppendsAParam)
{
    Load("<p><param name=\"A\">1</param></p>");
    params_->SetStr("B", "two");
    params_->SetInt("C", 3);
    params_->SetStr("E", "");
    EXPECT_EQ(params_->Count(), 4);
    const char* const names[] = {"A", "B", "C", "E"};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(params_->GetName(i), names[i]);
    EXPECT_EQ(Stored("B"), "two");
    EXPECT_EQ(Stored("C"), "3");
    EXPECT_EQ(Stored("E"), "");
    // An appended parameter with an empty value raises no change.
    EXPECT_EQ(changes_, (std::vector<std::string>{"B", "C"}));
}

TEST_F(ParamsOver, WritesThatFindNothingAndCreateNothingFail)
{
    struct Case {
        const char* name;
        bool autoCreate;
        Variant key;
        std::string message;
    };
    const Case cases[] = {
        {"name without auto-create", false, Variant("Missing"), "Param with index Missing not found ("},
        {"float key is never appended", true, Variant(2.5), "Param with index 2.5 not found ("},
        {"null key", true, Variant::Null(), "Param with index  not found ("},
    };
    for (const auto& c : cases) {
        Load("<p/>", c.autoCreate);
        int offered = 0;
        params_->OnSetValue = [&](TSimpleParams&, const std::string&, const Variant&) {
            ++offered;
            return false;
        };
        EXPECT_THAT(MessageOf([&] { params_->SetStr(c.key, "v"); }), StartsWith(c.message)) << c.name;
        EXPECT_EQ(params_->Count(), 0) << c.name;
        EXPECT_EQ(offered, c.key.IsString() ? 1 : 0) << c.name;
    }
}

TEST_F(ParamsOver, OnSetValueTakesValuesForMissingNamesOnly)
{
    Load("<p><param name=\"A\">1</param></p>");
    std::vector<std::pair<std::string, std::string>> offered;
    bool take = true;
    params_->OnSetValue = [&](TSimpleParams& sender, const std::string& name, const Variant& value) {
        EXPECT_EQ(&sender, params_.get());
        offered.emplace_back(name, value.AsString());
        return take;
    };
    params_->SetInt("B", 2);  // taken: nothing stored, no change
    params_->SetStr("A", "9"); // exists: not offered
    take = false;
    params_->SetBool("C", true); // declined: appended
    EXPECT_EQ(offered, (std::vector<std::pair<std::string, std::string>>{{"B", "2"}, {"C", "True"}}));
    EXPECT_EQ(Stored("B"), "<none>");
    EXPECT_EQ(Stored("A"), "9");
    EXPECT_EQ(Stored("C"), "1");
    EXPECT_EQ(changes_, (std::vector<std::string>{"A", "C"}));
}

// ---- the element's own text ------------------------------------------------------

TEST_F(ParamsOver, GetTextJoinsTheOwnTextAndCDATAChildren)
{
    const struct {
        const char* name;
        std::string xml;
        bool trim;
        std::string expected;
    } cases[] = {
        {"text and CDATA around params", "<p>one<param name=\"A\">x</param><![CDATA[two]]></p>", false, "one|two"},
        {"trimmed pieces", "<p><![CDATA[ one ]]><param name=\"A\">x</param><![CDATA[\ttwo\r\n]]></p>", true,
         "one|two"},
        {"untrimmed CDATA keeps its blanks", "<p><![CDATA[a ]]><![CDATA[b]]></p>", false, "a |b"},
        {"empty leading piece gets no separator", "<p><![CDATA[]]><![CDATA[b]]><![CDATA[c]]></p>", false,
         "b|c"},
        {"empty later piece keeps its separator", "<p><![CDATA[a]]><![CDATA[]]><![CDATA[c]]></p>", false,
         "a||c"},
        {"params only", "<p><param name=\"A\">x</param></p>", true, ""},
    };
    for (const auto& c : cases) {
        Load(c.xml);
        doc_->Set_PreserveWhiteSpace(true); // CDATA is read back untrimmed
        EXPECT_EQ(params_->GetText(c.trim, "|"), c.expected) << c.name;
    }
}

TEST_F(ParamsOver, SetTextKeepsTheParamsAndLeavesOneCDATAAfterThem)
{
    Load("<p>old<param name=\"A\">1</param><![CDATA[older]]><!--kept--><param name=\"B\">2</param>tail</p>");
    params_->SetText("new text");
    const IXmlNodeListPtr children = root_->Get_ChildNodes();
    std::vector<std::string> kinds;
    for (int i = 0; i < children->Get_Count(); ++i) kinds.push_back(children->Get_Item(i)->Get_NodeName());
    EXPECT_EQ(kinds, (std::vector<std::string>{"param", "#comment", "param", "#cdata-section"}));
    EXPECT_EQ(children->Get_Item(3)->Get_Text(), "new text");
    EXPECT_EQ(params_->GetText(false, ","), "new text");
    EXPECT_EQ(params_->GetInt("B", 0), 2);
    EXPECT_TRUE(changes_.empty());
}

// ---- the stored form -------------------------------------------------------------

TEST(SimpleParamsStoredForm, ParamsAreNamedChildElementsWithTextValues)
{
    const IXmlDocumentPtr doc = CreateXmlDocument("driver");
    const IXmlElementPtr root = doc->Get_DocumentElement();
    root->SetAttr("name", "BDE.Paradox");
    const ISimpleParamsPtr params = CreateSimpleParams(root, true);
    params->SetStr("folder", "/data/db");
    params->SetInt("timeout", 30);
    params->SetBool("readonly", false);
    params->SetStr("note", "a<b & \"c\"");
    params->SetStr("folder", "/data/db2");

    const std::string expected =
        "\r\n<driver name=\"BDE.Paradox\">"
        "\r\n\t<param name=\"folder\">/data/db2</param>"
        "\r\n\t<param name=\"timeout\">30</param>"
        "\r\n\t<param name=\"readonly\">0</param>"
        "\r\n\t<param name=\"note\">a&lt;b &amp; &quot;c&quot;</param>"
        "\r\n</driver>";
    EXPECT_EQ(params->GetXml(), expected);

    // The text form reads back into the same list.
    const IXmlDocumentPtr again = CreateXmlDocument();
    again->LoadXML(doc->Get_XML());
    const ISimpleParamsPtr reread = CreateSimpleParams(again->Get_DocumentElement(), true);
    EXPECT_EQ(reread->Count(), 4);
    EXPECT_EQ(reread->GetStr("folder", ""), "/data/db2");
    EXPECT_EQ(reread->GetInt("timeout", 0), 30);
    EXPECT_FALSE(reread->GetBool("readonly", true));
    EXPECT_EQ(reread->GetStr("note", ""), "a<b & \"c\"");
}

TEST(SimpleParamsCreate, RefusesNodesThatAreNotElements)
{
    const IXmlDocumentPtr doc = CreateXmlDocument("root");
    const IXmlElementPtr root = doc->Get_DocumentElement();
    const IXmlNodePtr text = root->AppendText("t");
    const IXmlNodePtr comment = root->AppendComment("c");
    const struct {
        const char* name;
        IXmlNodePtr node;
    } cases[] = {
        {"document", doc},
        {"text", text},
        {"comment", comment},
    };
    for (const auto& c : cases) {
        EXPECT_THAT(MessageOf([&] { CreateSimpleParams(c.node, true); }), StartsWith("Incorrect object type ("))
            << c.name;
        EXPECT_THAT(MessageOf([&] { CreateSimpleParams(c.node, true); }), EndsWith(")")) << c.name;
    }
    EXPECT_FALSE(CreateSimpleParams(nullptr, true)->Exists("x"));

    // The list holds its element: it outlives every other reference.
    const int before = root->RefCount();
    {
        const ISimpleParamsPtr params = CreateSimpleParams(root, true);
        EXPECT_EQ(root->RefCount(), before + 1);
    }
    EXPECT_EQ(root->RefCount(), before);
}

} // namespace
