// Tests of the XML text form: the parser's messages and positions, the
// grammar it accepts, the writer's layout, round trips, the stored byte form
// (Windows-1251 with character references, UTF-8 when declared), the nesting
// limit and random damage to a valid document.
#include "CoreLib/SimpleXML.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Streams.h"
#include "tests/platform/rtl/TempFolder.h"

namespace {

IXmlDocumentPtr Parse(const std::string& xml, bool preserve = false)
{
    IXmlDocumentPtr doc = CreateXmlDocument();
    doc->Set_PreserveWhiteSpace(preserve);
    doc->LoadXML(xml);
    return doc;
}

IXmlDocumentPtr ParseBytes(const std::string& bytes, bool preserve = false)
{
    IXmlDocumentPtr doc = CreateXmlDocument();
    doc->Set_PreserveWhiteSpace(preserve);
    rtl::TMemoryStream stream{std::string_view(bytes)};
    doc->Load(stream);
    return doc;
}

std::string SavedBytes(const IXmlDocumentPtr& doc)
{
    rtl::TMemoryStream stream;
    doc->Save(stream);
    return stream.ToString();
}

// Kinds and names of a list's members: "e:a t:x c:y m:z p:pi".
std::string Shape(const IXmlNodeListPtr& list)
{
    std::string out;
    for (int i = 0; i < list->Get_Count(); ++i) {
        const IXmlNodePtr n = list->Get_Item(i);
        if (i > 0) out += " ";
        switch (n->Get_NodeType()) {
        case NODE_ELEMENT: out += "e:" + n->Get_NodeName(); break;
        case NODE_TEXT: out += "t:" + n->Get_Text(); break;
        case NODE_CDATA_SECTION: out += "c:" + n->Get_Text(); break;
        case NODE_COMMENT: out += "m:" + n->Get_Text(); break;
        case NODE_PROCESSING_INSTRUCTION: out += "p:" + n->Get_NodeName(); break;
        default: out += "?";
        }
    }
    return out;
}

// ---- parser messages ---------------------------------------------------------------

TEST(SimpleXmlParserErrors, MessagesNameTheLineAndPosition)
{
    const struct {
        const char* what;
        const char* xml;
        const char* message;
    } cases[] = {
        {"unquoted attribute value", "<a b=1/>", "Ожидается строковая константа (стр. 0, поз. 5)"},
        {"text ends inside a value", "<a b=\"1", "Ожидается \"\"\" (стр. 0, поз. 6)"},
        {"text ends inside an apostrophe value", "<a b='1", "Ожидается \"'\" (стр. 0, поз. 6)"},
        {"less-than inside a value", "<a b=\"<\"/>",
         "Символ \"<\" не может использоваться в значениях атрибутов (стр. 0, поз. 6)"},
        {"text ends after the equals sign", "<a b=", "Ожидается значение атрибута (стр. 0, поз. 4)"},
        {"attribute without equals sign", "<a b>", "Ожидается \"=\" (стр. 0, поз. 4)"},
        {"element name followed by a dollar", "<a$>", "Некорретный символ в имени элемента"},
        {"text ends after an element name", "<abc", "Не завершено определение элемента"},
        {"end tag of another element", "<a></b>", "Ожидается \"a\" (стр. 0, поз. 5)"},
        {"end tag longer than the name", "<a></ab>", "Ожидается \">\" (стр. 0, поз. 6)"},
        {"end tag missing", "<a>", "Ожидается \"/\" (стр. 0, поз. 2)"},
        {"name starting with a digit", "<1a/>", "Имя должно начинаться с буквы или \"_\" (стр. 0, поз. 1)"},
        {"stray character after attributes", "<a x='1'$/>", "Ожидается \">\" (стр. 0, поз. 8)"},
        {"upper-case X reference", "<a>&#X41;</a>", "Ожидается число (стр. 0, поз. 5)"},
        {"hash and nothing", "<a>&#", "Ожидается число (стр. 0, поз. 4)"},
        {"hash and no digit", "<a>&#;</a>", "Ожидается число (стр. 0, поз. 5)"},
        {"x and no hex digit", "<a>&#x;</a>", "Ожидается шестнадцатеричное число (стр. 0, поз. 6)"},
        {"ampersand at the end", "<a>&", "Ожидается \"#\" или имя упрамляющего символа (стр. 0, поз. 3)"},
        {"ampersand and no name", "<a>& </a>", "Имя должно начинаться с буквы или \"_\" (стр. 0, поз. 4)"},
        {"capital entity name", "<a>&AMP;</a>", "Некорректное имя управляющего символа (стр. 0, поз. 8)"},
        {"unknown entity", "<a x='&nbsp;'/>", "Некорректное имя управляющего символа (стр. 0, поз. 12)"},
        {"reference without semicolon", "<a>&amp </a>", "Ожидается \";\" (стр. 0, поз. 7)"},
        {"reference to 0", "<a>&#0;</a>", "Некорректный код символа (стр. 0, поз. 6)"},
        {"reference to a surrogate", "<a>&#xD800;</a>", "Некорректный код символа (стр. 0, поз. 10)"},
        {"reference beyond the last code point", "<a>&#x110000;</a>", "Некорректный код символа (стр. 0, поз. 12)"},
        {"reference with endless digits", "<a>&#99999999999999999999;</a>",
         "Некорректный код символа (стр. 0, поз. 25)"},
        {"unterminated comment", "<!-- x", "Ожидается \"-->\" (стр. 0, поз. 5)"},
        {"comment with one dash", "<!-x-->", "Ожидается \"-\" (стр. 0, поз. 3)"},
        {"unterminated CDATA", "<![CDATA[x", "Ожидается \"]]>\" (стр. 0, поз. 9)"},
        {"misspelt CDATA", "<![CDAT[x]]>", "Ожидается \"A[\" (стр. 0, поз. 7)"},
        {"unterminated instruction", "<?pi data", "Ожидается \"?>\" (стр. 0, поз. 8)"},
        {"instruction without a target", "<? x?>", "Имя должно начинаться с буквы или \"_\" (стр. 0, поз. 2)"},
        {"declaration cut short", "<?xml version=\"1.0\"?", "Ожидается \">\" (стр. 0, поз. 19)"},
        {"misspelt DOCTYPE", "<!DOCTYP x>", "Ожидается \"E\" (стр. 0, поз. 8)"},
        {"unterminated DOCTYPE", "<!DOCTYPE x", "Ожидается \">\" (стр. 0, поз. 10)"},
        {"lines end with LF", "<a>\n<b>\n</c>", "Ожидается \"b\" (стр. 2, поз. 3)"},
        {"lines end with CR LF", "<a>\r\n<b>\r\n</c>", "Ожидается \"b\" (стр. 2, поз. 3)"},
        {"lines end with CR", "<a>\r<b>\r</c>", "Ожидается \"b\" (стр. 2, поз. 3)"},
        {"positions count characters, not bytes", "<д>жжж</е>", "Ожидается \"д\" (стр. 0, поз. 8)"},
        {"Cyrillic end tag name compared by characters", "<дом></дым>", "Ожидается \"ом\" (стр. 0, поз. 8)"},
        {"malformed UTF-8", "<a>\xFF</a>", "Некорректная последовательность UTF-8 (стр. 0, поз. 2)"},
        {"truncated UTF-8", "<a>\xD0", "Некорректная последовательность UTF-8 (стр. 0, поз. 2)"},
        {"overlong UTF-8", "<a>\xC0\xAF</a>", "Некорректная последовательность UTF-8 (стр. 0, поз. 2)"},
        {"UTF-8 surrogate", "<a>\xED\xA0\x80</a>", "Некорректная последовательность UTF-8 (стр. 0, поз. 2)"},
    };
    for (const auto& c : cases) {
        std::string message;
        try {
            Parse(c.xml);
        } catch (const rtl::Exception& e) {
            message = e.Message();
        }
        EXPECT_EQ(message, c.message) << c.what;
    }
}

TEST(SimpleXmlParserErrors, NestingBeyondTheLimitIsRefused)
{
    const auto nested = [](int depth) {
        std::string xml;
        for (int i = 0; i < depth; ++i) xml += "<a>";
        for (int i = 0; i < depth; ++i) xml += "</a>";
        return xml;
    };
    IXmlNodePtr node = Parse(nested(1000));
    int depth = 0;
    while (node->Get_ChildNodes()->Get_Count() > 0) {
        node = node->Get_ChildNodes()->Get_Item(0);
        ++depth;
    }
    EXPECT_EQ(depth, 1000);

    std::string message;
    try {
        Parse(nested(1001));
    } catch (const rtl::Exception& e) {
        message = e.Message();
    }
    EXPECT_EQ(message, "Слишком глубокая вложенность элементов (стр. 0, поз. 3002)");
    EXPECT_THROW(Parse(nested(100000)), rtl::Exception) << "no stack exhaustion";
}

// ---- accepted grammar --------------------------------------------------------------

TEST(SimpleXmlParser, ContentShapes)
{
    const struct {
        const char* what;
        const char* xml;
        bool preserve;
        const char* shape;
    } cases[] = {
        {"empty text", "", false, ""},
        {"only blanks", " \r\n\t ", false, ""},
        {"only blanks, preserved", " \r\n ", true, "t: \r\n "},
        {"two empty tags, preserved", "<a/><b/>", true, "t: e:a t: e:b"},
        {"two empty tags", "<a/> <b/>", false, "e:a e:b"},
        {"text around markup keeps its blanks", " x <a/>", false, "t: x  e:a"},
        {"blanks before the end tag", "<a></a  >", false, "e:a"},
        {"attribute after a quote without a blank", "<a x='1'y=\"2\"/>", false, "e:a"},
        {"several roots and text outside", "t<a/>u<b/>", false, "t:t e:a t:u e:b"},
        {"comment holding dashes", "<!-- a -- b -->", false, "m:a -- b"},
        {"CDATA is raw", "<![CDATA[<&amp;>]]>", false, "c:<&amp;>"},
        {"DOCTYPE is dropped", "<!DOCTYPE a><a/>", false, "e:a"},
        {"DOCTYPE ends at its first >", "<!DOCTYPE a [<!ENTITY x \"y\">]><a/>", false, "t:]> e:a"},
        {"end tag at the top ends the parse", "<a/></x><b/>", false, "e:a"},
        {"a lone < at the very end", "<a/><", false, "e:a"},
        {"<! at the very end", "<a/><!", false, "e:a"},
        {"instructions", "<?xml version='1.0'?><?pi data?><a/>", false, "p:xml p:pi e:a"},
    };
    for (const auto& c : cases) EXPECT_EQ(Shape(Parse(c.xml, c.preserve)->Get_ChildNodes()), c.shape) << c.what;
}

TEST(SimpleXmlParser, ReferencesInTextAndAttributes)
{
    const struct {
        const char* what;
        const char* encoded;
        const char* text;
    } cases[] = {
        {"named", "&amp;&lt;&gt;&quot;&apos;", "&<>\"'"},
        {"decimal", "&#65;", "A"},
        {"hexadecimal", "&#x41;&#x6a;", "Aj"},
        {"above 255 is that character", "&#321;", "Ł"},
        {"Cyrillic by number", "&#1046;&#x416;", "ЖЖ"},
        {"beyond the BMP", "&#x1F600;", "\xF0\x9F\x98\x80"},
        {"leading zeros", "&#00065;", "A"},
    };
    for (const auto& c : cases) {
        const std::string xml = std::string("<a v=\"") + c.encoded + "\">" + c.encoded + "</a>";
        const IXmlElementPtr a = Parse(xml)->Get_DocumentElement();
        EXPECT_EQ(a->Get_Text(), c.text) << c.what;
        EXPECT_EQ(a->GetAttr("v"), c.text) << c.what;
    }
    const IXmlElementPtr a = Parse("<a v='line1\r\n\tline2 '/>")->Get_DocumentElement();
    EXPECT_EQ(a->GetAttr("v"), "line1\r\n\tline2 ") << "breaks, tabs and blanks in values stay";
    EXPECT_EQ(Parse("<a x='1' x='2' y='3'/>")->Get_DocumentElement()->Get_XML(), "\r\n<a x=\"2\" y=\"3\"/>")
        << "a repeated name keeps its first position and takes the last value";
}

TEST(SimpleXmlParser, DeclarationAndInstructions)
{
    const IXmlDocumentPtr doc = Parse("<?xml version=\"1.0\" encoding=\"windows-1251\"?><a/>");
    const IXmlNodeListPtr list = doc->Get_ChildNodes();
    ASSERT_EQ(list->Get_Count(), 2);
    const IXmlNodePtr declaration = list->Get_Item(0);
    EXPECT_EQ(declaration->Get_NodeName(), "xml");
    EXPECT_EQ(declaration->Get_Text(), "") << "the declaration keeps attributes, not data";
    ASSERT_EQ(declaration->Get_AttrCount(), 2);
    EXPECT_EQ(declaration->Get_AttrName(0), "version");
    EXPECT_EQ(declaration->GetAttr("encoding"), "windows-1251");
    EXPECT_EQ(doc->Get_XML(), "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<a/>");

    const IXmlNodePtr pi = Parse("<?pi  some data ?>")->Get_ChildNodes()->Get_Item(0);
    EXPECT_EQ(pi->Get_Text(), "some data ") << "the blanks after the target only separate";
    EXPECT_EQ(pi->Get_XML(), "<?pi some data ?>");
    EXPECT_EQ(Parse("<?pi?>")->Get_ChildNodes()->Get_Item(0)->Get_XML(), "<?pi?>");
}

TEST(SimpleXmlParser, InProgramTextNeverActsOnTheDeclaredEncoding)
{
    const struct {
        const char* what;
        const char* xml;
    } cases[] = {
        {"an encoding the byte form cannot read", "<?xml version=\"1.0\" encoding=\"koi8-r\"?><a>Привет</a>"},
        {"an empty encoding", "<?xml version='1.0' encoding=''?><a>Привет</a>"},
        {"windows-1251 declared", "<?xml version='1.0' encoding='windows-1251'?><a>Привет</a>"},
        {"a second declaration", "<?xml version='1.0'?><?xml encoding='utf-16'?><a>Привет</a>"},
        {"a declaration inside an element", "<a><?xml encoding='koi8-r'?>Привет</a>"},
    };
    for (const auto& c : cases) {
        IXmlDocumentPtr doc;
        ASSERT_NO_THROW(doc = Parse(c.xml)) << c.what;
        EXPECT_EQ(doc->Get_DocumentElement()->Get_Text(), "Привет") << c.what;
        EXPECT_EQ(doc->Get_XML(), Parse(doc->Get_XML())->Get_XML()) << c.what << ": kept and written back";
    }
}

TEST(SimpleXmlParser, NodesRememberWhereTheyWereRead)
{
    const IXmlDocumentPtr doc = Parse("<r>\r\n  text<b/>\r\n<!--c--></r>", true);
    const IXmlNodeListPtr list = doc->Get_DocumentElement()->Get_ChildNodes();
    const struct {
        int index;
        int line;
        int column;
    } cases[] = {{0, 1, 0}, {1, 1, 7}, {2, 2, 0}, {3, 2, 1}, {4, 2, 9}};
    ASSERT_EQ(list->Get_Count(), 5) << "with white space preserved, an empty text before the end tag";
    for (const auto& c : cases) {
        EXPECT_EQ(list->Get_Item(c.index)->Get_SourceLine(), c.line) << c.index;
        EXPECT_EQ(list->Get_Item(c.index)->Get_SourceColumn(), c.column) << c.index;
    }
    EXPECT_EQ(doc->Get_DocumentElement()->Get_SourceColumn(), 0);
}

// ---- writer ------------------------------------------------------------------------

TEST(SimpleXmlWriter, IndentedLayout)
{
    const IXmlDocumentPtr doc = CreateXmlDocument("A");
    const IXmlElementPtr a = doc->Get_DocumentElement();
    a->AppendElement("B")->SetAttr("x", "1");
    a->AppendElement("C")->Set_Text("short");
    EXPECT_EQ(doc->Get_XML(),
              "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<A>\r\n\t<B x=\"1\"/>\r\n\t<C>short</C>\r\n</A>");

    const struct {
        const char* what;
        const char* xml;
        const char* written;
    } cases[] = {
        {"deeper levels", "<a><b><c/></b></a>", "\r\n<a>\r\n\t<b>\r\n\t\t<c/>\r\n\t</b>\r\n</a>"},
        {"start and end tag with nothing between", "<a></a>", "\r\n<a/>"},
        {"text with a line break stays as it is", "<a>l1\r\nl2</a>", "\r\n<a>l1\r\nl2</a>"},
        {"mixed content is written as it stands", "<p>one <b>two</b> three</p>", "\r\n<p>one <b>two</b> three</p>"},
        {"comment, CDATA and instruction are not indented", "<a><!--c--><![CDATA[d]]><?p i?><b/></a>",
         "\r\n<a><!--c--><![CDATA[d]]><?p i?>\r\n\t<b/>\r\n</a>"},
        {"CDATA with a line break among elements", "<a><![CDATA[x\ny]]></a>", "\r\n<a><![CDATA[x\ny]]>\r\n</a>"},
        {"escaping", "<a v='&quot;&amp;&lt;&gt;&apos;'>&amp;&lt;&gt;&quot;&apos;</a>",
         "\r\n<a v=\"&quot;&amp;&lt;&gt;'\">&amp;&lt;&gt;&quot;'</a>"},
        {"CDATA sections ending in brackets stay as they are", "<a><![CDATA[x]]]]><![CDATA[>y]]></a>",
         "\r\n<a><![CDATA[x]]]]><![CDATA[>y]]></a>"},
    };
    for (const auto& c : cases) EXPECT_EQ(Parse(c.xml)->Get_XML(), c.written) << c.what;

    const IXmlElementPtr e = CreateXmlDocument("e")->Get_DocumentElement();
    e->AppendCDATA("a]]>b");
    EXPECT_EQ(e->Get_XML(), "\r\n<e><![CDATA[a]]]><![CDATA[]>b]]></e>");
    const IXmlNodeListPtr back = Parse(e->Get_XML())->Get_DocumentElement()->Get_ChildNodes();
    ASSERT_EQ(back->Get_Count(), 2);
    EXPECT_EQ(back->Get_Item(0)->Get_Text() + back->Get_Item(1)->Get_Text(), "a]]>b");
}

TEST(SimpleXmlWriter, PreservedWhiteSpaceWritesNoIndentation)
{
    const std::string xml = "<a>\r\n  <b x=\"1\"> t </b>\r\n  <c></c>\r\n</a>";
    const IXmlDocumentPtr doc = Parse(xml, true);
    EXPECT_EQ(doc->Get_XML(), "<a>\r\n  <b x=\"1\"> t </b>\r\n  <c/>\r\n</a>");
    const IXmlDocumentPtr madeDoc = CreateXmlDocument("r");
    const IXmlElementPtr made = madeDoc->Get_DocumentElement();
    made->AppendElement("x");
    madeDoc->Set_PreserveWhiteSpace(true);
    EXPECT_EQ(made->Get_XML(), "<r><x/></r>");
}

TEST(SimpleXmlWriter, TypedValuesAreWrittenAsText)
{
    const IXmlElementPtr e = CreateXmlDocument("e")->Get_DocumentElement();
    e->Set_TypedValue(rtl::Variant(2.5));
    EXPECT_EQ(e->Get_XML(), "\r\n<e>2.5</e>");
    e->Set_TypedValue(rtl::Variant::Null());
    EXPECT_EQ(e->Get_XML(), "\r\n<e>{{null}}</e>");
    e->Set_TypedValue(rtl::Variant("a<b"));
    EXPECT_EQ(e->Get_XML(), "\r\n<e>a&lt;b</e>");
    e->Set_TypedValue(rtl::Variant());
    EXPECT_EQ(e->Get_XML(), "\r\n<e/>");
}

// ---- round trips ---------------------------------------------------------------------

TEST(SimpleXmlRoundTrip, WrittenTextReadsBackToTheSameText)
{
    const char* texts[] = {
        "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<a/>",
        "\r\n<a x=\"1\" y=\"&quot;&amp;&lt;&gt;'\"/>",
        "\r\n<a>\r\n\t<b>t</b>\r\n\t<c/>\r\n</a>",
        "\r\n<a><!--c--><![CDATA[ x ]]><?pi d?>\r\n\t<b>t</b>\r\n</a>",
        "\r\n<a>multi\r\nline\r\n\ttext</a>",
        "\r\n<a>ends with a break\r\n</a>",
        "\r\n<p>mixed <b>bold\r\ntext</b> tail</p>",
        "\r\n<корень атрибут=\"значение\">текст</корень>",
        "\r\n<a v=\"tab\there\r\nand break\"/>",
        "top text\r\n<a/>",
        "<!--only a comment-->",
    };
    for (const char* text : texts) {
        const std::string once = Parse(text)->Get_XML();
        EXPECT_EQ(once, text);
        EXPECT_EQ(Parse(once)->Get_XML(), once) << "twice: " << text;
    }
}

TEST(SimpleXmlRoundTrip, ValuesNeverGrowThroughWritingAndReading)
{
    const IXmlDocumentPtr doc = CreateXmlDocument("root");
    const IXmlElementPtr root = doc->Get_DocumentElement();
    const char* values[] = {"plain", "two\r\nlines", "ends\r\n", "\tlead", "x\ny"};
    for (const char* v : values) root->AppendElement("v")->Set_Text(v);
    root->AppendElement("nest")->AppendElement("inner")->Set_Text("in\r\nner");
    std::string xml = doc->Get_XML();
    for (int round = 0; round < 3; ++round) xml = Parse(xml)->Get_XML();
    const IXmlNodeListPtr back = Parse(xml)->Get_DocumentElement()->SelectNodes("v");
    ASSERT_EQ(back->Get_Count(), 5);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(back->Get_Item(i)->Get_Text(), values[i]);
    EXPECT_EQ(Parse(xml)->Get_DocumentElement()->NeedChild("nest")->GetChildText("inner"), "in\r\nner");
}

// ---- stored byte form --------------------------------------------------------------

TEST(SimpleXmlBytes, SavedAsWindows1251WithReferencesForOtherCharacters)
{
    const IXmlDocumentPtr doc = CreateXmlDocument("Привет");
    const IXmlElementPtr root = doc->Get_DocumentElement();
    root->SetAttr("a", "ё€");
    root->Set_Text("日本 Ж");
    const std::string expected =
        "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n"
        "<\xCF\xF0\xE8\xE2\xE5\xF2 a=\"\xB8\x88\">&#26085;&#26412; \xC6</\xCF\xF0\xE8\xE2\xE5\xF2>";
    EXPECT_EQ(SavedBytes(doc), expected);
    const IXmlElementPtr back = ParseBytes(expected)->Get_DocumentElement();
    EXPECT_EQ(back->Get_NodeName(), "Привет");
    EXPECT_EQ(back->GetAttr("a"), "ё€");
    EXPECT_EQ(back->Get_Text(), "日本 Ж");
    EXPECT_EQ(doc->Get_XML(),
              "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n<Привет a=\"ё€\">日本 Ж</Привет>")
        << "in-program text is UTF-8";
}

TEST(SimpleXmlBytes, CharactersWindows1251CannotHoldOutsideTextAreAnError)
{
    rtl::test::TempFolder folder;
    const std::string file = folder / "kept.xml";
    rtl::WriteFileBytes(file, "<kept/>");
    const struct {
        const char* what;
        std::function<void(const IXmlElementPtr&)> fill;
    } cases[] = {
        {"CDATA", [](const IXmlElementPtr& e) { e->AppendCDATA("日"); }},
        {"comment", [](const IXmlElementPtr& e) { e->AppendComment("日"); }},
        {"element name", [](const IXmlElementPtr& e) { e->AppendElement("日"); }},
        {"attribute name", [](const IXmlElementPtr& e) { e->SetAttr("日", "1"); }},
    };
    for (const auto& c : cases) {
        const IXmlDocumentPtr doc = CreateXmlDocument("r");
        c.fill(doc->Get_DocumentElement());
        EXPECT_THROW(SavedBytes(doc), rtl::EEncodingError) << c.what;
        EXPECT_THROW(doc->Save(file), rtl::EEncodingError) << c.what;
        EXPECT_EQ(rtl::ReadFileBytes(file), "<kept/>") << c.what << ": the old file is left alone";
        EXPECT_NO_THROW(doc->Get_XML()) << c.what;
    }
}

TEST(SimpleXmlBytes, ReadByTheDeclaredEncoding)
{
    const std::string utf8Word = "Привет";
    const std::string cp1251Word = "\xCF\xF0\xE8\xE2\xE5\xF2";
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"no declaration", "<a>" + cp1251Word + "</a>"},
        {"windows-1251 declared", "<?xml version='1.0' encoding='windows-1251'?><a>" + cp1251Word + "</a>"},
        {"Windows-1251 in capitals", "<?xml version='1.0' encoding='WINDOWS-1251'?><a>" + cp1251Word + "</a>"},
        {"declaration without encoding", "<?xml version='1.0'?><a>" + cp1251Word + "</a>"},
        {"utf-8 declared", "<?xml version=\"1.0\" encoding=\"utf-8\"?><a>" + utf8Word + "</a>"},
        {"UTF-8 in capitals", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<a>" + utf8Word + "</a>"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseBytes(c.bytes)->Get_DocumentElement()->Get_Text(), utf8Word) << c.what;

    EXPECT_THROW(ParseBytes("<?xml version='1.0' encoding='utf-16'?><a/>"), rtl::Exception);
    EXPECT_THROW(ParseBytes("<?xml version='1.0' encoding='utf-8'?><a>\xCF\xF0</a>"), rtl::Exception)
        << "Windows-1251 bytes are not UTF-8";
}

TEST(SimpleXmlBytes, OnlyTheLeadingDeclarationDecidesHowBytesAreRead)
{
    const std::string utf8Word = "Привет";
    const std::string cp1251Word = "\xCF\xF0\xE8\xE2\xE5\xF2";
    const struct {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"blanks before a utf-8 declaration", "\r\n <?xml version='1.0' encoding='utf-8'?><a>" + utf8Word + "</a>"},
        {"a DOCTYPE, which leaves no node, before it",
         "<!DOCTYPE a><?xml version='1.0' encoding='utf-8'?><a>" + utf8Word + "</a>"},
        {"a comment before a utf-8 declaration",
         "<!--c--><?xml version='1.0' encoding='utf-8'?><a>" + cp1251Word + "</a>"},
        {"text before a utf-8 declaration", "x<?xml version='1.0' encoding='utf-8'?><a>" + cp1251Word + "</a>"},
        {"a second declaration naming utf-8",
         "<?xml version='1.0'?><?xml version='1.0' encoding='utf-8'?><a>" + cp1251Word + "</a>"},
        {"a second declaration naming windows-1251",
         "<?xml version='1.0' encoding='utf-8'?><?xml encoding='windows-1251'?><a>" + utf8Word + "</a>"},
        {"a utf-8 declaration inside an element", "<a><?xml version='1.0' encoding='utf-8'?>" + cp1251Word + "</a>"},
        {"an unknown encoding after the leading declaration",
         "<?xml version='1.0' encoding='utf-8'?><?xml encoding='koi8-r'?><a>" + utf8Word + "</a>"},
        {"an unknown encoding inside an element", "<a><?xml encoding='koi8-r'?>" + cp1251Word + "</a>"},
        {"an unknown encoding after the root", "<a>" + cp1251Word + "</a><?xml encoding='koi8-r'?>"},
    };
    for (const auto& c : cases)
        for (const bool preserve : {false, true}) {
            IXmlDocumentPtr doc;
            ASSERT_NO_THROW(doc = ParseBytes(c.bytes, preserve)) << c.what << ", preserve " << preserve;
            EXPECT_EQ(doc->Get_DocumentElement()->Get_Text(), utf8Word) << c.what << ", preserve " << preserve;
        }
}

TEST(SimpleXmlBytes, LeadingDeclarationNamingAnotherEncodingIsAParseError)
{
    const struct {
        const char* what;
        std::string bytes;
        const char* message;
    } cases[] = {
        {"koi8-r", "<?xml version=\"1.0\" encoding=\"koi8-r\"?><a/>",
         "Неподдерживаемая кодировка \"koi8-r\" (стр. 0, поз. 37)"},
        {"after a line break", "\r\n<?xml encoding='utf-16'?><a/>",
         "Неподдерживаемая кодировка \"utf-16\" (стр. 1, поз. 24)"},
        {"an empty name", "<?xml encoding=\"\"?>", "Неподдерживаемая кодировка \"\" (стр. 0, поз. 17)"},
    };
    for (const auto& c : cases) {
        std::string message;
        try {
            ParseBytes(c.bytes);
        } catch (const rtl::Exception& e) {
            message = e.Message();
        }
        EXPECT_EQ(message, c.message) << c.what;
    }
}

TEST(SimpleXmlBytes, SaveChoosesTheEncodingByTheRuleLoadReadsWith)
{
    const std::string utf8Word = "Привет";
    const std::string cp1251Word = "\xCF\xF0\xE8\xE2\xE5\xF2";
    // Each document gets a root element "a" after what the case puts first.
    const struct {
        const char* what;
        std::function<void(const IXmlDocumentPtr&)> lead;
        bool utf8;
    } cases[] = {
        {"no declaration", [](const IXmlDocumentPtr&) {}, false},
        {"utf-8 declaration made in memory",
         [](const IXmlDocumentPtr& d) { d->AppendProcessingInstruction("xml", "version=\"1.0\" encoding=\"utf-8\""); },
         true},
        {"UTF-8 in capitals and apostrophes",
         [](const IXmlDocumentPtr& d) { d->AppendProcessingInstruction("xml", "version='1.0' encoding='UTF-8'"); }, true},
        {"windows-1251 declared",
         [](const IXmlDocumentPtr& d) { d->AppendProcessingInstruction("xml", "encoding=\"windows-1251\""); }, false},
        {"utf-8 declaration as attributes",
         [](const IXmlDocumentPtr& d) { d->AppendProcessingInstruction("xml", "")->SetAttr("encoding", "utf-8"); },
         true},
        {"blank text before a utf-8 declaration",
         [](const IXmlDocumentPtr& d) {
             d->AppendText("\r\n");
             d->AppendProcessingInstruction("xml", "encoding=\"utf-8\"");
         },
         true},
        {"a comment before a utf-8 declaration",
         [](const IXmlDocumentPtr& d) {
             d->AppendComment("c");
             d->AppendProcessingInstruction("xml", "version=\"1.0\" encoding=\"utf-8\"");
         },
         false},
        {"another instruction before a utf-8 declaration",
         [](const IXmlDocumentPtr& d) {
             d->AppendProcessingInstruction("pi", "x");
             d->AppendProcessingInstruction("xml", "encoding=\"utf-8\"");
         },
         false},
        {"a name that only ends in encoding",
         [](const IXmlDocumentPtr& d) { d->AppendProcessingInstruction("xml", "version=\"1.0\" xencoding=\"utf-8\""); },
         false},
        {"encoding named inside another value",
         [](const IXmlDocumentPtr& d) { d->AppendProcessingInstruction("xml", "version=\"encoding='utf-8'\""); },
         false},
        {"Cyrillic data in a windows-1251 declaration",
         [](const IXmlDocumentPtr& d) { d->AppendProcessingInstruction("xml", "version=\"один\""); }, false},
    };
    for (const auto& c : cases) {
        const IXmlDocumentPtr doc = CreateXmlDocument();
        c.lead(doc);
        doc->AppendElement("a")->Set_Text(utf8Word);
        const std::string bytes = SavedBytes(doc);
        EXPECT_NE(bytes.find(c.utf8 ? utf8Word : cp1251Word), std::string::npos) << c.what << ": " << bytes;
        EXPECT_EQ(ParseBytes(bytes)->Get_DocumentElement()->Get_Text(), utf8Word) << c.what << ": read back alike";
    }

    // The leading declaration of UTF-8 bytes is read before its encoding is
    // known: values outside ASCII go as references. Bytes written by hand.
    const IXmlDocumentPtr noted = Parse("<?xml version=\"1.0\" encoding=\"utf-8\" note=\"Ж日\"?><a>Ж</a>");
    const std::string notedBytes =
        "<?xml version=\"1.0\" encoding=\"utf-8\" note=\"&#1046;&#26085;\"?>\r\n<a>\xD0\x96</a>";
    EXPECT_EQ(SavedBytes(noted), notedBytes);
    EXPECT_EQ(ParseBytes(notedBytes)->Get_XML(), noted->Get_XML());

    // A utf-8 declaration that is not the leading one: bytes written by hand.
    const IXmlDocumentPtr doc = CreateXmlDocument();
    doc->AppendComment("c");
    doc->AppendProcessingInstruction("xml", "version=\"1.0\" encoding=\"utf-8\"");
    doc->AppendElement("a")->Set_Text("Ж");
    const std::string bytes = "<!--c--><?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<a>\xC6</a>";
    EXPECT_EQ(SavedBytes(doc), bytes);
    EXPECT_EQ(ParseBytes(bytes)->Get_XML(), doc->Get_XML());
}

TEST(SimpleXmlBytes, SaveRefusesAnEncodingItCannotWriteBeforeWritingAnything)
{
    rtl::test::TempFolder folder;
    const std::string file = folder / "kept.xml";
    const struct {
        const char* what;
        std::function<IXmlDocumentPtr()> make;
        const char* message;
    } cases[] = {
        {"made by NewDocument", [] { return CreateXmlDocument("a", "1.0", "koi8-r"); },
         "Документ не может быть сохранён в кодировке \"koi8-r\""},
        {"read from in-program text", [] { return Parse("<?xml version='1.0' encoding='utf-16'?><a>x</a>"); },
         "Документ не может быть сохранён в кодировке \"utf-16\""},
        {"an empty name",
         [] {
             const IXmlDocumentPtr d = CreateXmlDocument();
             d->AppendProcessingInstruction("xml", "version=\"1.0\" encoding=\"\"");
             d->AppendElement("a");
             return d;
         },
         "Документ не может быть сохранён в кодировке \"\""},
        {"utf-8 declaration data outside ASCII",
         [] { return CreateXmlDocument("a", "один", "utf-8"); },
         "Объявление документа в кодировке UTF-8 может содержать только символы ASCII"},
        {"utf-8 declaration attribute name outside ASCII",
         [] { return Parse("<?xml версия='1.0' encoding='utf-8'?><a/>"); },
         "Объявление документа в кодировке UTF-8 может содержать только символы ASCII"},
    };
    for (const auto& c : cases) {
        const IXmlDocumentPtr doc = c.make();
        rtl::TMemoryStream stream;
        std::string message;
        try {
            doc->Save(stream);
        } catch (const rtl::Exception& e) {
            message = e.Message();
        }
        EXPECT_EQ(message, c.message) << c.what;
        EXPECT_EQ(stream.ToString(), "") << c.what << ": nothing written";
        rtl::WriteFileBytes(file, "<kept/>");
        EXPECT_THROW(doc->Save(file), rtl::Exception) << c.what;
        EXPECT_EQ(rtl::ReadFileBytes(file), "<kept/>") << c.what << ": the old file is left alone";
    }

    const IXmlDocumentPtr later = Parse("<!--c--><?xml encoding='koi8-r'?><a>Ж</a>");
    EXPECT_EQ(SavedBytes(later), "<!--c--><?xml encoding=\"koi8-r\"?>\r\n<a>\xC6</a>")
        << "a declaration that is not the leading one is only written";
}

TEST(SimpleXmlBytes, DocumentDeclaredUtf8IsSavedAsUtf8)
{
    const IXmlDocumentPtr doc = CreateXmlDocument("корень", "1.0", "utf-8");
    doc->Get_DocumentElement()->Set_Text("日本");
    const std::string bytes = SavedBytes(doc);
    EXPECT_EQ(bytes, "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<корень>日本</корень>");
    EXPECT_EQ(ParseBytes(bytes)->Get_XML(), doc->Get_XML());

    const IXmlDocumentPtr parsed = ParseBytes(bytes);
    EXPECT_EQ(SavedBytes(parsed), bytes) << "a parsed declaration decides as well";
}

TEST(SimpleXmlBytes, LargeStreamsAreReadThroughTheBuffer)
{
    std::string text;
    for (int i = 0; i < 40000; ++i) text += "жx"; // UTF-8 sequences fall across buffer ends
    const IXmlDocumentPtr doc = CreateXmlDocument("big", "1.0", "utf-8");
    doc->Get_DocumentElement()->Set_Text(text);
    EXPECT_EQ(ParseBytes(SavedBytes(doc))->Get_DocumentElement()->Get_Text(), text);

    const IXmlDocumentPtr cp = CreateXmlDocument("big");
    cp->Get_DocumentElement()->Set_Text(text);
    const std::string bytes = SavedBytes(cp);
    EXPECT_GT(bytes.size(), 65536u);
    EXPECT_EQ(ParseBytes(bytes)->Get_DocumentElement()->Get_Text(), text);
}

TEST(SimpleXmlBytes, StreamIsReadFromItsPosition)
{
    rtl::TMemoryStream stream(std::string_view("garbage<a>x</a>"));
    stream.SetPosition(7);
    const IXmlDocumentPtr doc = CreateXmlDocument();
    doc->Load(stream);
    EXPECT_EQ(doc->Get_DocumentElement()->Get_Text(), "x");
}

// ---- damaged input -------------------------------------------------------------------

TEST(SimpleXmlFuzz, DamagedDocumentsOnlyEverRaiseTheLibraryException)
{
    const std::string body =
        "<root a=\"1\" b='&amp;&#65;&#x416;'>\r\n"
        "\t<child name=\"x\">text &lt; more</child>\r\n"
        "\t<!-- comment -->\r\n"
        "\t<![CDATA[raw <data>]]>\r\n"
        "\t<?pi data?>\r\n"
        "\t<Ж ё=\"ю\">Привет</Ж>\r\n"
        "\t<empty/>\r\n"
        "</root>";
    const std::string seeds[] = {
        "<?xml version=\"1.0\" encoding=\"windows-1251\"?>\r\n" + body,
        "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n" + body,
    };
    const std::string alphabet = "<>&;#x/!?-[]\"'= aZ09\xD0\x96\xC6\r\n";
    std::mt19937 random(20240607);
    int failures = 0;
    for (int round = 0; round < 6000; ++round) {
        std::string text = seeds[round % 2];
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int k = 0; k < edits && !text.empty(); ++k) {
            const std::size_t at = random() % text.size();
            switch (random() % 4) {
            case 0: text[at] = alphabet[random() % alphabet.size()]; break;
            case 1: text.erase(at, 1 + random() % 8); break;
            case 2: text.insert(at, 1, alphabet[random() % alphabet.size()]); break;
            default: text.resize(at); break;
            }
        }
        for (const bool bytes : {false, true}) {
            std::string xml, saved;
            try {
                const IXmlDocumentPtr doc = bytes ? ParseBytes(text) : Parse(text);
                xml = doc->Get_XML();
                saved = SavedBytes(doc);
            } catch (const rtl::Exception&) {
                ++failures;
                continue;
            } catch (const std::exception& e) {
                ADD_FAILURE() << "not an rtl::Exception: " << e.what() << "\n" << text;
                continue;
            }
            // What Save wrote, Load reads back as it was.
            std::string back;
            EXPECT_NO_THROW(back = ParseBytes(saved)->Get_XML()) << text;
            EXPECT_EQ(back, xml) << text;
        }
    }
    EXPECT_GT(failures, 0) << "the damage was noticed at least sometimes";
}

} // namespace
