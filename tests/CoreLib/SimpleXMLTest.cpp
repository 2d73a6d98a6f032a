// Tests of the XML document model: name tables, attributes and their typed
// forms, element text and simple values, children by name, selections and
// paths, moving nodes in the tree, node lists, cloning, content operations,
// documents and the value-to-text conversions.
#include "CoreLib/SimpleXML.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <numeric>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/rtl/DateTime.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Streams.h"
#include "tests/platform/rtl/TempFolder.h"

namespace {

// The message of the rtl::Exception that f raises ("" when none is raised).
std::string ErrorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const rtl::Exception& e) {
        return e.Message();
    }
    return {};
}

IXmlDocumentPtr Parse(const std::string& xml)
{
    IXmlDocumentPtr doc = CreateXmlDocument();
    doc->LoadXML(xml);
    return doc;
}

IXmlElementPtr Root(const std::string& xml)
{
    return Parse(xml)->Get_DocumentElement();
}

// Names of a list's members joined by ",".
std::string Names(const IXmlNodeListPtr& list)
{
    std::string out;
    for (int i = 0; i < list->Get_Count(); ++i) {
        if (i > 0) out += ",";
        out += list->Get_Item(i)->Get_NodeName();
    }
    return out;
}

// ---- name table ------------------------------------------------------------------

TEST(SimpleXmlNameTable, FreshTableHoldsTheFiveCachedNamesFirst)
{
    const IXmlNameTablePtr table = CreateNameTable();
    const struct {
        const char* name;
        int id;
    } cases[] = {{"#text", 0}, {"#cdata-section", 1}, {"#comment", 2}, {"#document", 3}, {"xml", 4}};
    for (const auto& c : cases) {
        EXPECT_EQ(table->GetID(c.name), c.id) << c.name;
        EXPECT_EQ(table->GetName(c.id), c.name);
    }
    EXPECT_EQ(table->GetID(""), -1) << "the empty name has no ID and adds nothing";
    EXPECT_EQ(table->GetID("first"), 5);
    EXPECT_EQ(table->GetID("first"), 5) << "a known name keeps its ID";
    EXPECT_EQ(table->GetName(-1), "");
    EXPECT_EQ(table->GetName(6), "") << "beyond the last name";
}

TEST(SimpleXmlNameTable, CollidingNamesKeepTheirOwnIDsAndCaseMatters)
{
    const IXmlNameTablePtr table = CreateNameTable(1); // every name in one bucket
    const int upper = table->GetID("A");
    const int lower = table->GetID("a");
    EXPECT_NE(upper, lower);
    EXPECT_EQ(table->GetID("A"), upper);
    EXPECT_EQ(table->GetID("a"), lower);
    EXPECT_EQ(table->GetName(upper), "A");
    EXPECT_EQ(table->GetName(lower), "a");
}

TEST(SimpleXmlNameTable, DocumentsShareTheProcessTableUnlessGivenOne)
{
    const IXmlDocumentPtr a = CreateXmlDocument("a");
    const IXmlDocumentPtr b = CreateXmlDocument("b");
    EXPECT_EQ(a->Get_NameTable(), b->Get_NameTable());
    const IXmlNameTablePtr own = CreateNameTable();
    const IXmlDocumentPtr c = CreateXmlDocument("c", "1.0", "", own);
    EXPECT_EQ(c->Get_NameTable(), own);
    EXPECT_EQ(c->Get_DocumentElement()->Get_NodeNameID(), 5);
}

TEST(SimpleXmlNameTable, LookingUpAnUnknownAttributeInternsTheName)
{
    const IXmlNameTablePtr table = CreateNameTable();
    const IXmlDocumentPtr doc = CreateXmlDocument("root", "1.0", "", table); // "root" is 5
    const IXmlElementPtr root = doc->Get_DocumentElement();
    EXPECT_EQ(root->GetAttr("unknown", "dflt"), "dflt");
    EXPECT_EQ(root->Get_AttrCount(), 0);
    EXPECT_EQ(table->GetID("unknown"), 6);
    EXPECT_EQ(table->GetID("next"), 7);
}

class ForeignNameTable : public IXmlNameTable {
public:
    TXmlBase* GetObject() override { return nullptr; }
    std::int32_t GetID(std::string_view) override { return 0; }
    std::string GetName(std::int32_t) override { return {}; }
};

TEST(SimpleXmlNameTable, ForeignImplementationIsAnInvalidCast)
{
    const IXmlNameTablePtr foreign(new ForeignNameTable);
    EXPECT_THROW(CreateXmlDocument("a", "1.0", "", foreign), rtl::EInvalidCast);
}

// ---- attributes -------------------------------------------------------------------

class SimpleXmlAttributes : public ::testing::Test {
protected:
    IXmlDocumentPtr doc = CreateXmlDocument("e");
    IXmlElementPtr e = doc->Get_DocumentElement();

    // e after writing the document and reading it back.
    IXmlElementPtr Reloaded() { return Root(doc->Get_XML()); }
};

TEST_F(SimpleXmlAttributes, MissingAttributeGivesDefaultOrTheNeedError)
{
    EXPECT_EQ(e->GetAttr("x", "d"), "d");
    EXPECT_EQ(e->GetAttr("", "d"), "d") << "the empty name";
    EXPECT_EQ(e->GetIntAttr("x", 7), 7);
    EXPECT_TRUE(e->GetBoolAttr("x", true));
    EXPECT_EQ(e->GetFloatAttr("x", 1.5), 1.5);
    EXPECT_EQ(e->GetHexAttr("x", 9), 9);
    EXPECT_EQ(e->GetDateTimeAttr("x", 3.0), 3.0);
    EXPECT_EQ(e->GetVarAttr("x", rtl::Variant(4)).AsInteger(), 4);
    EXPECT_EQ(e->GetAttrType("x"), rtl::varString);
    EXPECT_FALSE(e->AttrExists("x"));

    const struct {
        const char* what;
        std::function<void()> call;
        const char* message;
    } needs[] = {
        {"NeedAttr", [&] { e->NeedAttr("x"); }, "Не задан атрибут \"x\""},
        {"NeedVarAttr", [&] { e->NeedVarAttr("x"); }, "Не задан атрибут \"x\""},
        {"NeedFloatAttr", [&] { e->NeedFloatAttr("x"); }, "Не задан атрибут \"x\""},
        {"NeedEnumAttr", [&] { e->NeedEnumAttr("x", {"a"}); }, "Не найден атрибут \"x\""},
        {"SetAttr with no name", [&] { e->SetAttr("", "v"); }, "Ошибка установки значения атрибута: не задано имя."},
        {"SetIntAttr by ID -1", [&] { e->SetIntAttr(-1, 1); }, "Ошибка установки значения атрибута: не задано имя."},
    };
    for (const auto& n : needs) EXPECT_EQ(ErrorOf(n.call), n.message) << n.what;
}

TEST_F(SimpleXmlAttributes, SettersStoreTypedValuesAndWriteTheirText)
{
    e->SetAttr("s", "text");
    e->SetIntAttr("i", -12);
    e->SetBoolAttr("b", true);
    e->SetFloatAttr("f", 2.5);
    e->SetHexAttr("h", 255, 4);
    e->SetDateTimeAttr("d", rtl::EncodeDateTime(2004, 3, 7, 9, 5, 0, 750));
    e->SetVarAttr("v", rtl::Variant::Word(7));

    const struct {
        const char* name;
        rtl::TVarType type;
        const char* written;
    } cases[] = {
        {"s", rtl::varString, "text"},   {"i", rtl::varInteger, "-12"},
        {"b", rtl::varBoolean, "1"},     {"f", rtl::varDouble, "2.5"},
        {"h", rtl::varString, "00FF"},   {"d", rtl::varDate, "2004-03-07T09:05:00"},
        {"v", rtl::varWord, "7"},
    };
    const IXmlElementPtr back = Reloaded();
    for (const auto& c : cases) {
        EXPECT_EQ(e->GetAttrType(c.name), c.type) << c.name;
        EXPECT_EQ(back->GetAttr(c.name), c.written) << c.name;
        EXPECT_EQ(back->GetAttrType(c.name), rtl::varString) << "text is read as text: " << c.name;
    }
    EXPECT_TRUE(back->GetBoolAttr("b"));
    EXPECT_EQ(back->GetIntAttr("i"), -12);
    EXPECT_EQ(back->GetFloatAttr("f"), 2.5);
    EXPECT_EQ(back->GetHexAttr("h"), 255);
    EXPECT_EQ(back->GetDateTimeAttr("d"), rtl::EncodeDateTime(2004, 3, 7, 9, 5, 0, 0)) << "milliseconds dropped";
}

TEST_F(SimpleXmlAttributes, TypedGettersConvertText)
{
    const struct {
        const char* text;
        bool asBool;
    } bools[] = {{"true", true}, {"FALSE", false}, {"1", true}, {"0", false}, {"-1", true}};
    for (const auto& c : bools) {
        e->SetAttr("a", c.text);
        EXPECT_EQ(e->GetBoolAttr("a"), c.asBool) << c.text;
    }
    const struct {
        const char* text;
        double value;
    } floats[] = {{"2,5", 2.5}, {"2.5", 2.5}, {"-1e3", -1000.0}};
    for (const auto& c : floats) {
        e->SetAttr("a", c.text);
        EXPECT_EQ(e->GetFloatAttr("a"), c.value) << c.text;
        EXPECT_EQ(e->NeedFloatAttr("a"), c.value) << c.text;
    }
    const struct {
        const char* text;
        int value;
    } hexes[] = {{"1F", 31}, {"ff", 255}, {"0", 0}};
    for (const auto& c : hexes) {
        e->SetAttr("a", c.text);
        EXPECT_EQ(e->GetHexAttr("a"), c.value) << c.text;
    }
    e->SetAttr("a", "2004-03-07");
    EXPECT_EQ(e->GetDateTimeAttr("a"), rtl::EncodeDate(2004, 3, 7)) << "a date alone reads as midnight";

    const struct {
        const char* what;
        const char* text;
        std::function<void()> call;
    } failures[] = {
        {"bool", "yes", [&] { e->GetBoolAttr("a"); }},
        {"int", "12x", [&] { e->GetIntAttr("a"); }},
        {"float", "abc", [&] { e->GetFloatAttr("a"); }},
        {"hex", "xyz", [&] { e->GetHexAttr("a"); }},
        {"date", "2004-13-01", [&] { e->GetDateTimeAttr("a"); }},
    };
    for (const auto& f : failures) {
        e->SetAttr("a", f.text);
        EXPECT_THROW(f.call(), rtl::EConvertError) << f.what;
    }
}

TEST_F(SimpleXmlAttributes, FloatGettersTakeTheNumericViewOfTypedValues)
{
    const struct {
        const char* what;
        rtl::Variant value;
        double expected;
    } cases[] = {
        {"Boolean true", rtl::Variant(true), -1.0},
        {"Boolean false", rtl::Variant(false), 0.0},
        {"32-bit integer", rtl::Variant(-12), -12.0},
        {"unsigned 16-bit", rtl::Variant::Word(7), 7.0},
        {"64-bit integer", rtl::Variant(std::int64_t{1} << 40), 1099511627776.0},
        {"currency", rtl::Variant(rtl::Currency{25000}), 2.5},
        {"double", rtl::Variant(0.125), 0.125},
    };
    for (const auto& c : cases) {
        e->SetVarAttr("a", c.value);
        EXPECT_EQ(e->GetFloatAttr("a", 99.0), c.expected) << c.what;
        EXPECT_EQ(e->NeedFloatAttr("a"), c.expected) << c.what;
    }
    e->SetBoolAttr("b", true);
    EXPECT_EQ(e->GetFloatAttr("b"), -1.0) << "as SetBoolAttr stores it";
}

TEST_F(SimpleXmlAttributes, EnumAttributeMatchesIgnoringCaseOrListsTheAllowedValues)
{
    const std::vector<std::string> values = {"none", "text"};
    EXPECT_EQ(e->GetEnumAttr("mode", values, 1), 1) << "missing";
    e->SetAttr("mode", "NONE");
    EXPECT_EQ(e->GetEnumAttr("mode", values, 1), 0);
    e->SetAttr("mode", "Text");
    EXPECT_EQ(e->NeedEnumAttr("mode", values), 1);
    e->SetAttr("mode", "other");
    EXPECT_EQ(ErrorOf([&] { e->GetEnumAttr("mode", values, 1); }),
              "Неверное значение атрибута \"mode\" элемента \"e\".\r\nДопустимые значения:\r\nnone\r\ntext");
    EXPECT_EQ(ErrorOf([&] { e->NeedEnumAttr("mode", {}); }),
              "Неверное значение атрибута \"mode\" элемента \"e\".\r\nДопустимые значения:\r\n");
}

TEST_F(SimpleXmlAttributes, ByNameAndByIDReachTheSameAttribute)
{
    const int id = doc->Get_NameTable()->GetID("n");
    e->SetIntAttr(id, 5);
    EXPECT_EQ(e->GetIntAttr("n"), 5);
    EXPECT_EQ(e->NeedVarAttr(id).VarType(), rtl::varInteger) << "by ID: the value itself";
    EXPECT_EQ(e->NeedVarAttr("n").VarType(), rtl::varString) << "by name: the text";
    EXPECT_EQ(e->NeedVarAttr("n").AsString(), "5");
    EXPECT_TRUE(e->AttrExists(id));
    e->RemoveAttr("n");
    EXPECT_FALSE(e->AttrExists(id));
}

TEST_F(SimpleXmlAttributes, RepeatedNameKeepsItsPositionRemovalShiftsTheRest)
{
    e->SetAttr("a", "1");
    e->SetAttr("b", "2");
    e->SetAttr("c", "3");
    e->SetAttr("a", "4");
    ASSERT_EQ(e->Get_AttrCount(), 3);
    EXPECT_EQ(e->Get_AttrName(0), "a");
    EXPECT_EQ(e->GetAttr("a"), "4");
    e->RemoveAttr("b");
    e->RemoveAttr("missing");
    ASSERT_EQ(e->Get_AttrCount(), 2);
    EXPECT_EQ(e->Get_AttrName(1), "c");
    EXPECT_EQ(e->Get_AttrNameID(1), doc->Get_NameTable()->GetID("c"));
    EXPECT_THROW(e->Get_AttrName(2), rtl::EAssertionFailed);
    e->RemoveAllAttrs();
    EXPECT_EQ(e->Get_AttrCount(), 0);
}

// ---- element text and simple value -------------------------------------------------

TEST(SimpleXmlElementText, SimpleValueMovesIntoATextChildOnFirstUseOfTheList)
{
    const IXmlElementPtr e = CreateXmlDocument("r")->Get_DocumentElement();
    e->Set_TypedValue(rtl::Variant(5));
    EXPECT_EQ(e->Get_DataType(), rtl::varInteger);
    EXPECT_EQ(e->Get_Text(), "5");
    const IXmlNodeListPtr children = e->Get_ChildNodes();
    ASSERT_EQ(children->Get_Count(), 1);
    EXPECT_EQ(children->Get_Item(0)->Get_NodeType(), NODE_TEXT);
    EXPECT_EQ(children->Get_Item(0)->Get_Text(), "5");
    EXPECT_EQ(e->Get_DataType(), rtl::varString);
    EXPECT_EQ(e->Get_TypedValue().VarType(), rtl::varString);
}

TEST(SimpleXmlElementText, TextJoinsElementTextAndCdataChildrenWithOneBlank)
{
    const IXmlElementPtr e = CreateXmlDocument("r")->Get_DocumentElement();
    e->AppendText("a");
    e->AppendText("");
    e->AppendComment("c");
    e->AppendProcessingInstruction("pi", "p");
    e->AppendCDATA(" b ");
    e->AppendElement("x")->Set_Text("x");
    EXPECT_EQ(e->Get_Text(), "a b x") << "CDATA trimmed, comments and instructions left out";
    EXPECT_EQ(e->GetOwnText(), "ab") << "direct text and CDATA only, no separator";
    e->Set_Text("new");
    EXPECT_EQ(e->Get_ChildNodes()->Get_Count(), 1) << "the value moved into the emptied list";
    EXPECT_EQ(e->Get_Text(), "new");
}

TEST(SimpleXmlElementText, NodeKindsAnswerNameTypeAndText)
{
    const IXmlDocumentPtr doc = CreateXmlDocument("r");
    const IXmlElementPtr r = doc->Get_DocumentElement();
    const struct {
        IXmlNodePtr node;
        const char* name;
        int type;
        const char* text;
    } cases[] = {
        {IXmlNodePtr(r->AppendText(" t ").get()), "#text", NODE_TEXT, " t "},
        {IXmlNodePtr(r->AppendCDATA(" c ").get()), "#cdata-section", NODE_CDATA_SECTION, "c"},
        {IXmlNodePtr(r->AppendComment(" m ").get()), "#comment", NODE_COMMENT, "m"},
        {IXmlNodePtr(r->AppendProcessingInstruction("pi", " d ").get()), "pi", NODE_PROCESSING_INSTRUCTION, " d "},
        {IXmlNodePtr(doc.get()), "#document", NODE_DOCUMENT, " t  c"},
        {IXmlNodePtr(r.get()), "r", NODE_ELEMENT, " t  c"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.node->Get_NodeName(), c.name);
        EXPECT_EQ(c.node->Get_NodeType(), c.type) << c.name;
        EXPECT_EQ(c.node->Get_Text(), c.text) << c.name;
    }
    EXPECT_TRUE(r->AsElement());
    EXPECT_FALSE(r->AsText());
    EXPECT_TRUE(cases[1].node->AsCDATASection());
    EXPECT_FALSE(cases[1].node->AsComment());

    doc->Set_PreserveWhiteSpace(true);
    EXPECT_EQ(cases[1].node->Get_Text(), " c ") << "not trimmed when white space is preserved";
}

// ---- children by name, selections, paths ------------------------------------------

TEST(SimpleXmlChildren, ByNameOperations)
{
    const IXmlElementPtr r = Root("<r><a>1</a><b x='1'/><a>2</a></r>");
    EXPECT_EQ(r->GetChildText("a", "d"), "1");
    EXPECT_EQ(r->GetChildText("z", "d"), "d");
    EXPECT_EQ(r->NeedChild("b")->GetAttr("x"), "1");
    EXPECT_EQ(ErrorOf([&] { r->NeedChild("z"); }), "Ошибка: не найден дочерний элемент \"z\".");
    r->SetChildText("a", "one");
    r->SetChildText("c", "new");
    EXPECT_EQ(Names(r->Get_ChildNodes()), "a,b,a,c");
    EXPECT_EQ(r->GetChildText("a"), "one");
    EXPECT_EQ(r->EnsureChild("c")->Get_Text(), "new");
    EXPECT_EQ(r->EnsureChild("d")->Get_NodeName(), "d");
    EXPECT_EQ(Names(r->SelectNodes("a")), "a,a");
    EXPECT_EQ(r->SelectSingleNode("b")->GetAttr("x"), "1");
    EXPECT_FALSE(r->SelectSingleNode("z"));
    r->RemoveAllChilds();
    EXPECT_EQ(r->Get_ChildNodes()->Get_Count(), 0);
}

TEST(SimpleXmlChildren, SelectionByNameTakesOnlyPlainNames)
{
    const IXmlElementPtr r = Root("<r><a/></r>");
    for (const char* bad : {"a/b", "@x", "*", "", "1a", "a b", "//a"}) {
        EXPECT_EQ(ErrorOf([&] { r->SelectNodes(bad); }), "Данная возможность не поддерживается SimpleXML") << bad;
        EXPECT_EQ(ErrorOf([&] { r->SelectSingleNode(bad); }), "Данная возможность не поддерживается SimpleXML")
            << bad;
    }
    EXPECT_EQ(r->SelectNodes("_x.y-z:w")->Get_Count(), 0);
    EXPECT_EQ(r->SelectNodes("Ёлка")->Get_Count(), 0) << "Cyrillic letters are letters";
}

TEST(SimpleXmlChildren, SelectionByIDTakesEveryNodeKind)
{
    const IXmlElementPtr r = Root("<r><a/>text<a/></r>");
    EXPECT_EQ(r->SelectNodes(NAMEID_TEXT)->Get_Count(), 1);
    EXPECT_EQ(r->SelectNodes("a")->Get_Count(), 2);
    const IXmlNodeListPtr free = r->SelectNodes("a");
    free->Clear();
    EXPECT_EQ(r->Get_ChildNodes()->Get_Count(), 3) << "a selection is a list of its own";
    EXPECT_TRUE(r->Get_ChildNodes()->Get_Item(0)->Get_ParentNode()) << "and does not touch parents";
}

TEST(SimpleXmlChildren, FindElementComparesAttributeValuesAsVariants)
{
    const IXmlElementPtr r = Root("<r><p id='x'/><p id='5' n='1'/><q id='5'/><p id='5.0' n='2'/></r>");
    EXPECT_EQ(r->FindElement("p", "id", rtl::Variant(5))->GetAttr("n"), "1")
        << "the text x cannot be compared with a number: not equal, search goes on";
    EXPECT_EQ(r->FindElements("p", "id", rtl::Variant(5))->Get_Count(), 2);
    EXPECT_FALSE(r->FindElement("p", "id", rtl::Variant("y")));
    EXPECT_EQ(r->FindElements("q", "nothing", rtl::Variant(1))->Get_Count(), 0);
}

TEST(SimpleXmlChildren, ValuesByPath)
{
    const IXmlElementPtr r = Root("<r a='1'><c>text</c></r>");
    const struct {
        const char* path;
        const char* text;
    } reads[] = {{"", "text"}, {"@a", "1"}, {"@", ""}, {"@missing", ""}, {"c", "text"}, {"missing", ""}};
    for (const auto& c : reads) EXPECT_EQ(r->Get_Values(c.path).AsString(), c.text) << c.path;
    EXPECT_EQ(ErrorOf([&] { r->Get_Values("*"); }), "Данная возможность не поддерживается SimpleXML");
    EXPECT_EQ(ErrorOf([&] { r->Set_Values("c/d", rtl::Variant(1)); }),
              "Данная возможность не поддерживается SimpleXML");

    r->Set_Values("n", rtl::Variant(7));
    EXPECT_EQ(r->SelectSingleNode("n")->Get_DataType(), rtl::varInteger) << "appended with the typed value";
    r->Set_Values("@b", rtl::Variant(2.5));
    EXPECT_EQ(r->GetAttrType("b"), rtl::varDouble);
    r->Set_Values("c", rtl::Variant("changed"));
    EXPECT_EQ(r->GetChildText("c"), "changed");
}

// ---- moving nodes -----------------------------------------------------------------

// <r><a><a1/></a><b/><c/></r> with a reference to every node.
struct Tree {
    IXmlDocumentPtr doc = Parse("<r><a><a1/></a><b/><c/></r>");
    IXmlElementPtr r = doc->Get_DocumentElement();
    IXmlNodePtr a = r->SelectSingleNode("a");
    IXmlNodePtr a1 = a->SelectSingleNode("a1");
    IXmlNodePtr b = r->SelectSingleNode("b");
    IXmlNodePtr c = r->SelectSingleNode("c");
};

class SimpleXmlTree : public ::testing::Test, protected Tree {};

TEST(SimpleXmlTreeMoves, MovingANodeTakesItOutOfItsOldParent)
{
    const struct {
        const char* what;
        std::function<void(Tree&)> move;
        const char* rootChildren;
        const char* aChildren;
    } cases[] = {
        {"append from another parent", [](Tree& t) { t.a->AppendChild(t.c); }, "a,b", "a1,c"},
        {"append within the same parent", [](Tree& t) { t.r->AppendChild(t.a); }, "b,c,a", "a1"},
        {"insert before, same parent", [](Tree& t) { t.r->InsertBefore(t.c, t.a); }, "c,a,b", "a1"},
        {"insert before itself", [](Tree& t) { t.r->InsertBefore(t.b, t.b); }, "a,b,c", "a1"},
        {"insert before a stranger appends", [](Tree& t) { t.r->InsertBefore(t.a1, t.a1); }, "a,b,c,a1", ""},
        {"list insert at an index", [](Tree& t) { t.r->Get_ChildNodes()->Insert(t.a, 2); }, "b,c,a", "a1"},
        {"list insert at the front", [](Tree& t) { t.r->Get_ChildNodes()->Insert(t.c, 0); }, "c,a,b", "a1"},
        {"replace with a node of another parent", [](Tree& t) { t.r->ReplaceChild(t.a1, t.b); }, "a,a1,c", ""},
        {"replace with a sibling", [](Tree& t) { t.r->ReplaceChild(t.c, t.a); }, "c,b", "a1"},
        {"replace a stranger does nothing", [](Tree& t) { t.r->ReplaceChild(t.b, t.a1); }, "a,b,c", "a1"},
        {"replace with itself does nothing", [](Tree& t) { t.r->ReplaceChild(t.b, t.b); }, "a,b,c", "a1"},
    };
    for (const auto& test : cases) {
        Tree t;
        test.move(t);
        EXPECT_EQ(Names(t.r->Get_ChildNodes()), test.rootChildren) << test.what;
        EXPECT_EQ(Names(t.a->Get_ChildNodes()), test.aChildren) << test.what;
        for (const auto& list : {t.r->Get_ChildNodes(), t.a->Get_ChildNodes()})
            for (int i = 0; i < list->Get_Count(); ++i)
                EXPECT_EQ(list->Get_Item(i)->Get_ParentNode()->Get_ChildNodes(), list)
                    << test.what << ": every member's parent is the list's owner";
        if (test.rootChildren == std::string("c,b")) {
            EXPECT_FALSE(t.a->Get_ParentNode()) << "the replaced node is detached";
        }
    }
}

TEST_F(SimpleXmlTree, PuttingANodeIntoItsOwnSubtreeIsRefused)
{
    const std::string before = doc->Get_XML();
    const struct {
        const char* what;
        std::function<void()> insert;
    } cases[] = {
        {"itself", [&] { a->AppendChild(a); }},
        {"into its child", [&] { a1->AppendChild(a); }},
        {"the root into a grandchild", [&] { a1->AppendChild(r); }},
        {"insert before", [&] { a1->InsertBefore(r, nullptr); }},
        {"replace", [&] { a->ReplaceChild(r, a1); }},
        {"through the child list", [&] { a->Get_ChildNodes()->Insert(a, 0); }},
        {"the document into an element", [&] { a1->AppendChild(doc); }},
    };
    for (const auto& t : cases)
        EXPECT_EQ(ErrorOf(t.insert), "Узел не может быть вставлен в собственное поддерево") << t.what;
    EXPECT_EQ(doc->Get_XML(), before) << "the tree is unchanged";
}

TEST_F(SimpleXmlTree, SiblingsParentsAndRemoval)
{
    EXPECT_EQ(a->Get_NextSibling(), b);
    EXPECT_FALSE(c->Get_NextSibling()) << "the last child";
    EXPECT_EQ(a1->Get_ParentNode(), a);
    EXPECT_EQ(a1->Get_OwnerDocument(), doc);
    EXPECT_EQ(doc->Get_OwnerDocument(), doc);
    EXPECT_EQ(r->RemoveChild(b), 1);
    EXPECT_EQ(r->RemoveChild(b), -1) << "no longer a child";
    EXPECT_FALSE(b->Get_ParentNode());
    EXPECT_FALSE(b->Get_NextSibling()) << "a detached node";
    EXPECT_FALSE(b->Get_OwnerDocument());
    const IXmlElementPtr made = doc->CreateElement("made");
    EXPECT_FALSE(made->Get_ParentNode()) << "Create operations make detached nodes";
}

TEST_F(SimpleXmlTree, ChildrenOutliveTheirParentDetached)
{
    const IXmlNodeListPtr aChildren = a->Get_ChildNodes();
    const IXmlNodePtr keptA1 = a1;
    doc = nullptr;
    r = nullptr;
    a = nullptr;
    b = nullptr;
    c = nullptr;
    a1 = nullptr;
    EXPECT_FALSE(keptA1->Get_ParentNode());
    EXPECT_FALSE(keptA1->Get_OwnerDocument());
    ASSERT_EQ(aChildren->Get_Count(), 1);
    aChildren->Add(CreateXmlDocument("x")->Get_DocumentElement());
    EXPECT_FALSE(aChildren->Get_Item(1)->Get_ParentNode()) << "the list of a dead owner sets no parent";
}

TEST_F(SimpleXmlTree, NodesBroughtFromAnotherTableAreRenamed)
{
    const IXmlDocumentPtr other = CreateXmlDocument("", "", "", CreateNameTable());
    other->LoadXML("<zz q='1'><yy/></zz>");
    const IXmlElementPtr zz = other->Get_DocumentElement();
    r->AppendChild(zz);
    EXPECT_EQ(zz->Get_NameTable(), doc->Get_NameTable());
    EXPECT_EQ(zz->Get_NodeName(), "zz");
    EXPECT_EQ(zz->Get_NodeNameID(), doc->Get_NameTable()->GetID("zz"));
    EXPECT_EQ(zz->Get_AttrName(0), "q");
    EXPECT_EQ(zz->SelectSingleNode("yy")->Get_NameTable(), doc->Get_NameTable());
    EXPECT_EQ(Names(other->Get_ChildNodes()), "") << "taken out of the other document";
}

TEST(SimpleXmlTreeArguments, MissingNodeIsAnAssertion)
{
    const IXmlElementPtr r = CreateXmlDocument("r")->Get_DocumentElement();
    EXPECT_THROW(r->AppendChild(nullptr), rtl::EAssertionFailed);
    EXPECT_THROW(r->Get_ChildNodes()->Insert(r->AppendElement("a"), 5), rtl::EAssertionFailed);
    EXPECT_THROW(r->Get_ChildNodes()->Delete(3), rtl::EAssertionFailed);
    EXPECT_THROW(CreateXmlDocument()->CreateElement(""), rtl::EAssertionFailed);
}

// ---- node lists --------------------------------------------------------------------

TEST(SimpleXmlNodeList, ItemsIndexesDeletionAndClear)
{
    const IXmlElementPtr r = Root("<r><a/><b/><c/></r>");
    const IXmlNodeListPtr list = r->Get_ChildNodes();
    for (int bad : {-1, 3})
        EXPECT_EQ(ErrorOf([&] { list->Get_Item(bad); }),
                  "Ошибка получения элемента списка: индекс выходит за пределы")
            << bad;
    const IXmlNodePtr b = list->Get_Item(1);
    EXPECT_EQ(list->IndexOf(b), 1);
    EXPECT_EQ(list->IndexOf(nullptr), -1);
    list->Delete(1);
    EXPECT_FALSE(b->Get_ParentNode());
    EXPECT_EQ(list->IndexOf(b), -1);
    EXPECT_EQ(list->Remove(b), -1);
    EXPECT_EQ(list->Get_XML(), "\r\n<a/>\r\n<c/>");
    const IXmlNodePtr a = list->Get_Item(0);
    list->Clear();
    EXPECT_EQ(list->Get_Count(), 0);
    EXPECT_FALSE(a->Get_ParentNode());
}

TEST(SimpleXmlNodeList, SortOrdersByTheCompareFunction)
{
    const IXmlElementPtr r = Root("<r><e k='3'/><e k='1'/><e k='4'/><e k='1'/><e k='5'/><e k='9'/><e k='2'/></r>");
    const IXmlNodeListPtr list = r->Get_ChildNodes();
    list->Sort([](IXmlNode* x, IXmlNode* y) { return x->GetIntAttr("k") - y->GetIntAttr("k"); });
    std::string keys;
    for (int i = 0; i < list->Get_Count(); ++i) keys += list->Get_Item(i)->GetAttr("k");
    EXPECT_EQ(keys, "1123459");

    int calls = 0;
    CreateXmlDocument("x")->Get_DocumentElement()->Get_ChildNodes()->Sort([&](IXmlNode*, IXmlNode*) {
        ++calls;
        return 0;
    });
    EXPECT_EQ(calls, 0) << "an empty list calls nothing";

    const IXmlElementPtr one = Root("<r><only/></r>");
    one->Get_ChildNodes()->Sort([&](IXmlNode* x, IXmlNode* y) {
        ++calls;
        EXPECT_EQ(x, y);
        return 0;
    });
    EXPECT_EQ(calls, 1) << "one member is compared once, against itself";
    EXPECT_EQ(Names(one->Get_ChildNodes()), "only");

    // A compare function that is no order at all stays inside the list.
    list->Sort([](IXmlNode*, IXmlNode*) { return -1; });
    list->Sort([](IXmlNode*, IXmlNode*) { return 1; });
    EXPECT_EQ(list->Get_Count(), 7);
}

// Keys that make every partition of the sort meet the largest key of its
// range in the middle: a plain middle-pivot quicksort then splits off one
// member at a time and, recursing into the large side, goes as deep as the
// list is long. keys[k] is the key of the member at position k.
std::vector<int> MiddlePivotKillerKeys(int n)
{
    std::vector<int> member(static_cast<std::size_t>(n)); // the member at each position, as the sort moves them
    std::iota(member.begin(), member.end(), 0);
    std::vector<int> keys(static_cast<std::size_t>(n));
    for (int r = n - 1; r >= 0; --r) {
        const auto middle = static_cast<std::size_t>(r / 2);
        keys[static_cast<std::size_t>(member[middle])] = r;
        std::swap(member[middle], member[static_cast<std::size_t>(r)]);
    }
    return keys;
}

TEST(SimpleXmlNodeList, SortStackStaysShallowForAnyOrder)
{
    constexpr int kCount = 1500;
    std::vector<int> ascending(kCount);
    std::iota(ascending.begin(), ascending.end(), 0);
    std::vector<int> descending(ascending.rbegin(), ascending.rend());
    const struct {
        const char* what;
        std::vector<int> keys;
    } cases[] = {
        {"ascending", ascending},
        {"descending", descending},
        {"all equal", std::vector<int>(kCount, 7)},
        {"largest key always in the middle", MiddlePivotKillerKeys(kCount)},
    };

    // The stack the compare calls are made from: its span over a sort is the
    // depth of the sort's recursion (times one frame).
    std::uintptr_t spanOfAscending = 0;
    for (const auto& c : cases) {
        const IXmlElementPtr r = CreateXmlDocument("r")->Get_DocumentElement();
        std::unordered_map<IXmlNode*, int> keyOf;
        for (const int key : c.keys) keyOf[r->AppendElement("e").get()] = key;
        std::uintptr_t low = UINTPTR_MAX, high = 0;
        r->Get_ChildNodes()->Sort([&](IXmlNode* x, IXmlNode* y) {
            const auto frame = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
            low = std::min(low, frame);
            high = std::max(high, frame);
            return keyOf.at(x) - keyOf.at(y);
        });
        const IXmlNodeListPtr list = r->Get_ChildNodes();
        ASSERT_EQ(list->Get_Count(), kCount) << c.what;
        for (int i = 1; i < kCount; ++i)
            ASSERT_LE(keyOf.at(list->Get_Item(i - 1).get()), keyOf.at(list->Get_Item(i).get())) << c.what << " at " << i;

        const std::uintptr_t span = high - low;
        if (spanOfAscending == 0) spanOfAscending = span; // balanced splits: about log2(1500) = 11 levels
        EXPECT_LE(span, 2 * spanOfAscending + 256) << c.what << ": the recursion is no deeper than for sorted input";
    }
    EXPECT_GT(spanOfAscending, 0u) << "the sort recursed at all";
}

// ---- cloning -----------------------------------------------------------------------

TEST(SimpleXmlClone, DeepAndShallowClonesAreDetachedCopies)
{
    const IXmlDocumentPtr doc = Parse("<?xml version='1.0'?><r a='1'><c>t</c><!--m--></r>");
    const IXmlElementPtr r = doc->Get_DocumentElement();
    const IXmlNodePtr deep = r->CloneNode(true);
    const IXmlNodePtr shallow = r->CloneNode(false);
    EXPECT_FALSE(deep->Get_ParentNode());
    EXPECT_EQ(deep->Get_NameTable(), doc->Get_NameTable());
    EXPECT_EQ(deep->Get_XML(), r->Get_XML());
    EXPECT_EQ(shallow->Get_XML(), "\r\n<r a=\"1\"/>");
    deep->SelectSingleNode("c")->Set_Text("changed");
    EXPECT_EQ(r->GetChildText("c"), "t") << "the clone shares nothing";

    const IXmlNodePtr declaration = doc->Get_ChildNodes()->Get_Item(0)->CloneNode(true);
    EXPECT_EQ(declaration->Get_AttrCount(), 0) << "an instruction clone has no attributes";
    const IXmlNodePtr docClone = doc->CloneNode(true);
    EXPECT_EQ(docClone->Get_NodeType(), NODE_DOCUMENT);
    EXPECT_EQ(docClone->Get_ChildNodes()->Get_Count(), 2);

    const IXmlElementPtr valued = CreateXmlDocument("v")->Get_DocumentElement();
    valued->Set_TypedValue(rtl::Variant(5));
    EXPECT_EQ(valued->CloneNode(false)->Get_DataType(), rtl::varInteger) << "the simple value is copied";
}

// ---- content operations ------------------------------------------------------------

TEST(SimpleXmlContent, ReplaceTextByCDATASplitsAtTheEndMarker)
{
    const struct {
        const char* text;
        std::vector<std::string> sections;
    } cases[] = {
        {"a]]>bc", {"a]", "]>bc"}},
        {"", {""}},
        {"plain", {"plain"}},
        {"]]>]]>", {"]", "]>]", "]>"}},
    };
    for (const auto& c : cases) {
        const IXmlElementPtr e = Root("<e>old<x/><![CDATA[old]]></e>");
        e->ReplaceTextByCDATA(c.text);
        const IXmlNodeListPtr list = e->Get_ChildNodes();
        ASSERT_EQ(list->Get_Count(), static_cast<int>(c.sections.size()) + 1) << c.text;
        EXPECT_EQ(list->Get_Item(0)->Get_NodeName(), "x") << "elements stay";
        for (std::size_t i = 0; i < c.sections.size(); ++i) {
            const IXmlNodePtr n = list->Get_Item(static_cast<int>(i) + 1);
            EXPECT_EQ(n->Get_NodeType(), NODE_CDATA_SECTION);
            EXPECT_EQ(n->Get_Text(), c.sections[i]) << c.text;
        }
    }
}

TEST(SimpleXmlContent, ReplacingTextDropsTheSimpleValueToo)
{
    const IXmlElementPtr e = CreateXmlDocument("e")->Get_DocumentElement();
    e->Set_Text("old");
    e->ReplaceTextByCDATA("new");
    EXPECT_EQ(e->Get_Text(), "new");
    EXPECT_EQ(e->Get_ChildNodes()->Get_Count(), 1);

    e->Set_Text("old");
    const std::string bytes = "\x01\x02\x03 binary";
    e->ReplaceTextByBinaryData(bytes.data(), bytes.size(), 4);
    EXPECT_EQ(e->Get_ChildNodes()->Get_Count(), 1);
    EXPECT_EQ(e->Get_Text(), "AQID\r\nIGJp\r\nbmFy\r\neQ==");
    EXPECT_EQ(e->GetTextAsBinaryData(), bytes);
}

TEST(SimpleXmlContent, RawOwnTextKeepsCDataAsStored)
{
    const struct {
        const char* what;
        const char* xml;
        bool preserve;
        std::string raw;
    } cases[] = {
        {"CDATA untrimmed", "<e><![CDATA[\r\n a \r\n]]></e>", false, "\r\n a \r\n"},
        {"the indentation around sections left out", "<e>\r\n\t<![CDATA[ a]]><![CDATA[]>b ]]>\r\n\t</e>", true,
         " a]>b "},
        {"texts and sections joined", "<e>x <![CDATA[ y ]]> z<c/>w</e>", false, "x  y  zw"},
        {"blank text kept without sections", "<e>  </e>", true, "  "},
        {"no children", "<e/>", false, ""},
        {"comments and elements skipped", "<e><!-- c --><f>inner</f></e>", false, ""},
    };
    for (const auto& c : cases) {
        const IXmlDocumentPtr doc = CreateXmlDocument();
        doc->Set_PreserveWhiteSpace(c.preserve);
        doc->LoadXML(c.xml);
        EXPECT_EQ(GetRawOwnText(*doc->Get_DocumentElement()), c.raw) << c.what;
    }
    const IXmlElementPtr valued = CreateXmlDocument("e")->Get_DocumentElement();
    valued->Set_TypedValue(rtl::Variant(42));
    EXPECT_EQ(GetRawOwnText(*valued), "42");
    EXPECT_EQ(valued->Get_DataType(), rtl::varInteger) << "the simple value stays where it is";
}

// ---- documents ---------------------------------------------------------------------

TEST(SimpleXmlDocument, NewDocumentReplacesTheChildrenKeepsTheAttributes)
{
    const IXmlDocumentPtr doc = Parse("<old/><!--x-->");
    doc->SetAttr("kept", "1");
    const IXmlElementPtr root = doc->NewDocument("1.0", "", "root");
    const IXmlNodeListPtr list = doc->Get_ChildNodes();
    ASSERT_EQ(list->Get_Count(), 2);
    EXPECT_EQ(list->Get_Item(0)->Get_NodeName(), "xml");
    EXPECT_EQ(list->Get_Item(0)->Get_Text(), "version=\"1.0\" encoding=\"windows-1251\"");
    EXPECT_EQ(list->Get_Item(1), root);
    EXPECT_EQ(doc->Get_DocumentElement(), root);
    EXPECT_EQ(doc->GetAttr("kept"), "1");
    EXPECT_EQ(doc->Get_XML(), "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<root/>");
    EXPECT_EQ(CreateXmlDocument("r", "", "utf-8")->Get_XML(), "<?xml version=\"\" encoding=\"utf-8\"?>\r\n<r/>");
    EXPECT_FALSE(CreateXmlDocument()->Get_DocumentElement());
}

TEST(SimpleXmlDocument, LoadingEmptiesTheDocumentFirst)
{
    const IXmlDocumentPtr doc = Parse("<a/>");
    doc->SetAttr("x", "1");
    doc->LoadXML("<b/>");
    EXPECT_EQ(Names(doc->Get_ChildNodes()), "b");
    EXPECT_EQ(doc->Get_AttrCount(), 0);
    EXPECT_THROW(doc->LoadXML("<c><d></c>"), rtl::Exception);
    EXPECT_EQ(Names(doc->Get_ChildNodes()), "c") << "the nodes made before the failure stay";
}

TEST(SimpleXmlDocument, MissingResourceLeavesTheDocumentAlone)
{
    const IXmlDocumentPtr doc = Parse("<a/>");
    doc->LoadResource("NO_SUCH_TYPE", "NO_SUCH_NAME");
    EXPECT_EQ(Names(doc->Get_ChildNodes()), "a");
}

TEST(SimpleXmlDocument, FilesRoundTripAndLoadFailuresNameTheFile)
{
    rtl::test::TempFolder folder;
    const std::string good = folder / "good.xml";
    const IXmlDocumentPtr doc = CreateXmlDocument("корень");
    doc->Get_DocumentElement()->SetAttr("a", "значение");
    doc->Save(good);
    const IXmlDocumentPtr back = CreateXmlDocument();
    back->Load(good);
    EXPECT_EQ(back->Get_XML(), doc->Get_XML());

    const std::string broken = folder / "broken.xml";
    rtl::WriteFileBytes(broken, "<a>\r\n</b>");
    EXPECT_EQ(ErrorOf([&] { back->Load(broken); }), "Ожидается \"a\" (стр. 1, поз. 3) (" + broken + ")");
    EXPECT_THROW(back->Load(folder / "missing.xml"), rtl::EFOpenError) << "opening fails as the platform says";
}

// ---- conversions -------------------------------------------------------------------

TEST(SimpleXmlConversions, VarToXmlStrByTypeCode)
{
    const struct {
        const char* what;
        rtl::Variant value;
        const char* text;
    } cases[] = {
        {"empty", rtl::Variant(), ""},
        {"null", rtl::Variant::Null(), "{{null}}"},
        {"smallint", rtl::Variant::SmallInt(-3), "-3"},
        {"integer", rtl::Variant(42), "42"},
        {"shortint", rtl::Variant::ShortInt(-8), "-8"},
        {"byte", rtl::Variant::Byte(200), "200"},
        {"word", rtl::Variant::Word(65535), "65535"},
        {"longword", rtl::Variant::LongWord(4294967295u), "4294967295"},
        {"int64", rtl::Variant(std::int64_t(-9000000000)), "-9000000000"},
        {"single", rtl::Variant::Single(0.5f), "0.5"},
        {"double", rtl::Variant(2.25), "2.25"},
        {"currency", rtl::Variant(rtl::Currency{12345}), "1.2345"},
        {"date", rtl::Variant::DateTime(rtl::EncodeDateTime(2004, 3, 7, 9, 5, 0, 750)), "2004-03-07T09:05:00"},
        {"boolean true", rtl::Variant(true), "1"},
        {"boolean false", rtl::Variant(false), "0"},
        {"utf-16 string", rtl::Variant::OleStr("Жук"), "Жук"},
        {"string", rtl::Variant("a<b"), "a<b"},
        {"byte array", rtl::Variant(rtl::ByteArray{1, 2, 3}), "AQID"},
    };
    for (const auto& c : cases) EXPECT_EQ(VarToXmlStr(c.value), c.text) << c.what;
}

TEST(SimpleXmlConversions, EscapeTouchesOnlyTheFourCharacters)
{
    EXPECT_EQ(XmlEscape("a\"b&c<d>e'f\r\n\t"), "a&quot;b&amp;c&lt;d&gt;e'f\r\n\t");
    EXPECT_EQ(XmlEscape("plain текст"), "plain текст");
}

TEST(SimpleXmlConversions, FloatsUseThePointAndReadTheCommaToo)
{
    EXPECT_EQ(FloatToXmlStr(1.5), "1.5");
    EXPECT_EQ(FloatToXmlStr(-0.125), "-0.125");
    for (const char* text : {"1.5", "1,5", " 1.5"}) EXPECT_EQ(XmlStrToFloat(text), 1.5) << text;
    for (const char* text : {"", "abc", "1,5,5"}) EXPECT_THROW(XmlStrToFloat(text), rtl::EConvertError) << text;
}

TEST(SimpleXmlConversions, DateTimeText)
{
    EXPECT_EQ(DateTimeToXmlStr(rtl::EncodeDateTime(2004, 3, 7, 9, 5, 0, 750)), "2004-03-07T09:05:00");
    EXPECT_EQ(DateTimeToXmlStr(0), "1899-12-30T00:00:00");
    const struct {
        const char* text;
        rtl::TDateTime value;
    } reads[] = {
        {"2004-03-07T09:05:00", rtl::EncodeDateTime(2004, 3, 7, 9, 5, 0, 0)},
        {"2004-03-07", rtl::EncodeDate(2004, 3, 7)},
        {"2004-03-07T09", rtl::EncodeDateTime(2004, 3, 7, 9, 0, 0, 0)},
        {"2004-03-07T09:05:00.750 and more", rtl::EncodeDateTime(2004, 3, 7, 9, 5, 0, 0)},
        {"2004-3-7T9:5:1", rtl::EncodeDateTime(2004, 3, 7, 9, 5, 1, 0)},
    };
    for (const auto& c : reads) EXPECT_EQ(XmlStrToDateTime(c.text), c.value) << c.text;
    for (const char* bad : {"2004-13-01", "2004-03", "", "2004-02-30", "2004-03-07T25:00:00", "99999999999-01-01"})
        EXPECT_THROW(XmlStrToDateTime(bad), rtl::EConvertError) << bad;
}

} // namespace
