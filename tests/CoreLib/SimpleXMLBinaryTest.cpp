// Tests of the binary XML form: documents written by hand from the layout
// load and write back byte for byte, every length form of the compressed
// integers and every value code, both string widths, the stream reader and
// writer with their buffers, and every refusal of untrusted input.
#include "CoreLib/BinaryXml.h"
#include "CoreLib/SimpleXML.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Resources.h"
#include "platform/rtl/Streams.h"
#include "platform/rtl/Variant.h"
#include "tests/platform/rtl/TempFolder.h"
#include "tests/support/TestHelpers.h"

namespace {

const std::string kReadError = "Ошибка чтения данных.";

std::string ErrorOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const rtl::Exception& e) {
        return e.Message();
    }
    return {};
}

// Bytes of the binary form written by hand. Str8 and Str16 write strings
// shorter than 128 characters, whose length is one byte.
class Bin : public testing_support::LeBytesOf<Bin> {
public:
    Bin& Header(std::uint32_t options = 0) { return Raw("< binary-xml >").I32(static_cast<std::int32_t>(options)); }
    Bin& Str8(const std::string& bytes) { return U8(static_cast<int>(bytes.size())).Raw(bytes); }
    Bin& Str16(const std::u16string& text)
    {
        U8(static_cast<int>(text.size()));
        for (const char16_t c : text) I16(c);
        return *this;
    }
    // The five fixed names, 8-bit.
    Bin& FixedNames() { return Str8("#text").Str8("#cdata-section").Str8("#comment").Str8("#document").Str8("xml"); }
    // One bucket holding the IDs 0 to count - 1 (a table of bucket count 1).
    Bin& OneBucket(int count)
    {
        U8(1).U8(1).U8(0).U8(count);
        for (int id = 0; id < count; ++id) I32(id);
        return *this;
    }
    // A table of the five fixed names in one bucket.
    Bin& MinimalTable() { return U8(5).FixedNames().OneBucket(5); }
};

IXmlDocumentPtr LoadBinary(const std::string& bytes)
{
    const IXmlDocumentPtr doc = CreateXmlDocument();
    doc->LoadBinaryXML(bytes);
    return doc;
}

std::string SavedToStream(const IXmlDocumentPtr& doc, int options)
{
    rtl::TMemoryStream stream;
    doc->SaveBinary(stream, options);
    return stream.ToString();
}

// Names 0 to 8; with 4 buckets, NameHash puts 0 and 5 in bucket 0, 4, 6 and
// 7 in bucket 1, 1, 2, 3 and 8 in bucket 2 and nothing in bucket 3.
// The document: <?xml version="1.0"?> and <root a="-7"> holding a text of
// every value code, a CDATA section, a comment, an element with the value 5
// and an instruction.
std::string ReferenceDocument()
{
    Bin b;
    b.Header(0)
        .U8(9)
        .FixedNames()
        .Str8("root").Str8("a").Str8("pi").Str8("version")
        .U8(4) // bucket count
        .U8(3) // buckets in use
        .U8(0).U8(2).I32(0).I32(5)
        .U8(1).U8(3).I32(4).I32(6).I32(7)
        .U8(2).U8(4).I32(1).I32(2).I32(3).I32(8)
        // the document: no attributes, two children
        .U8(0).U8(2)
        // instruction "xml", empty Data, attribute version = "1.0" (code 256)
        .U8(7).U8(4).U8(0)
        .U8(1).U8(8).U8(0x81).U8(0x00).Str8("1.0")
        .U8(0)
        // element "root", no value, attribute a = -7 (code 3), 23 children
        .U8(1).U8(5).U8(0)
        .U8(1).U8(6).U8(3).I32(-7)
        .U8(23)
        .U8(3).U8(0)                                // empty
        .U8(3).U8(1)                                // null
        .U8(3).U8(2).I16(-2)                        // 16-bit integer
        .U8(3).U8(3).I32(-3)                        // 32-bit integer
        .U8(3).U8(4).U8(0x00).U8(0x00).U8(0xC0).U8(0x3F) // single 1.5
        .U8(3).U8(5).Dbl(-2.25)                     // double
        .U8(3).U8(6).I32(123456).I32(0)             // currency 12.3456
        .U8(3).U8(7).Dbl(38053.5)                   // date-time 2004-03-07 12:00
        .U8(3).U8(8).U8(2).I16(0x0416).I16('x')     // UTF-16 "Жx"
        .U8(3).U8(11).I16(-1)                       // true
        .U8(3).U8(11).I16(0)                        // false
        .U8(3).U8(16).U8(0xFB)                      // 8-bit signed -5
        .U8(3).U8(17).U8(200)                       // 8-bit unsigned
        .U8(3).U8(18).I16(0xFFFF)                   // 16-bit unsigned
        .U8(3).U8(19).U8(0x00).U8(0x28).U8(0x6B).U8(0xEE) // 32-bit unsigned 4 000 000 000
        .U8(3).U8(20).I32(0).I32(-256)              // 64-bit -2^40
        .U8(3).U8(0x81).U8(0x00).U8(2).U8(0xA8).U8(0xE6) // 8-bit "Ёж"
        .U8(3).U8(0xA0).U8(0x11).U8(3).U8(1).U8(2).U8(3) // byte array, 3 bytes
        .U8(3).U8(0xA0).U8(0x11).U8(0x80).U8(0xC8).Fill(200, 0x5A) // 200 bytes, count in two bytes
        .U8(4).Str8(" c ")                          // CDATA
        .U8(8).Str8("n")                            // comment
        .U8(1).U8(6).U8(3).I32(5).U8(0).U8(0)       // element "a" with the value 5
        .U8(7).U8(7).Str8("data").U8(0).U8(0);      // instruction "pi"
    return b.str();
}

// Options 1: names and node strings in UTF-16, 8-bit and UTF-16 values as
// they are. 40 000 buckets: NameHash of the Windows-1251 bytes puts the six
// names in the buckets 118, 3074, 14385, 26306, 29992 and 38902, whose
// indexes take one, two and five bytes.
std::string WideDocument()
{
    Bin b;
    b.Header(1)
        .U8(6)
        .Str16(u"#text").Str16(u"#cdata-section").Str16(u"#comment").Str16(u"#document").Str16(u"xml")
        .Str16(u"корень")
        .U8(0xFF).I32(40000)
        .U8(6)
        .U8(118).U8(1).I32(2)
        .U8(0x8C).U8(0x02).U8(1).I32(3)
        .U8(0xB8).U8(0x31).U8(1).I32(4)
        .U8(0xE6).U8(0xC2).U8(1).I32(1)
        .U8(0xF5).U8(0x28).U8(1).I32(0)
        .U8(0xFF).I32(38902).U8(1).I32(5)
        .U8(0).U8(1)
        .U8(1).U8(5).U8(0).U8(0)
        .U8(4)
        .U8(4).Str16(u" Да ")
        .U8(8).Str16(u"x")
        .U8(3).U8(0x81).U8(0x00).U8(2).U8(0xA8).U8(0xE6)
        .U8(3).U8(8).U8(2).I16(0x0416).I16('x');
    return b.str();
}

TEST(BinaryXmlCompressedInt, EachLengthFormWrittenAndRead)
{
    const struct {
        std::int32_t value;
        std::vector<int> bytes;
    } cases[] = {
        {0, {0x00}},
        {127, {0x7F}},
        {128, {0x80, 0x80}},
        {255, {0x80, 0xFF}},
        {256, {0x81, 0x00}},
        {8209, {0xA0, 0x11}},
        {32511, {0xFE, 0xFF}},
        {32512, {0xFF, 0x00, 0x7F, 0x00, 0x00}},
        {-1, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
        {INT32_MIN, {0xFF, 0x00, 0x00, 0x00, 0x80}},
        {INT32_MAX, {0xFF, 0xFF, 0xFF, 0xFF, 0x7F}},
    };
    for (const auto& c : cases) {
        Bin expected;
        for (const int b : c.bytes) expected.U8(b);
        TStrXmlWriter writer(0, 64);
        writer.WriteCompressedInt(c.value);
        EXPECT_EQ(writer.TakeResult(), Bin().Header().str() + expected.str()) << c.value;

        const std::string input = Bin().Header().str() + expected.str();
        TStrXmlReader reader(input);
        EXPECT_EQ(reader.ReadCompressedInt(), c.value);
        EXPECT_EQ(reader.Remaining(), 0) << c.value;
    }
}

TEST(BinaryXmlCompressedInt, LongerFormsThanTheValueNeedsAreRefused)
{
    const struct {
        const char* what;
        std::vector<int> bytes;
    } cases[] = {
        {"5 in two bytes", {0x80, 0x05}},
        {"127 in two bytes", {0x80, 0x7F}},
        {"5 in five bytes", {0xFF, 0x05, 0x00, 0x00, 0x00}},
        {"32 511 in five bytes", {0xFF, 0xFF, 0x7E, 0x00, 0x00}},
        {"a two-byte form cut short", {0x80}},
        {"a five-byte form cut short", {0xFF, 0x00, 0x80, 0x00}},
    };
    for (const auto& c : cases) {
        Bin bytes;
        bytes.Header();
        for (const int b : c.bytes) bytes.U8(b);
        TStrXmlReader reader(bytes.str());
        EXPECT_EQ(ErrorOf([&] { reader.ReadCompressedInt(); }), kReadError) << c.what;
    }
}

TEST(BinaryXmlDocument, ReferenceDocumentLoadsAndWritesBackByteForByte)
{
    const std::string ref = ReferenceDocument();
    const IXmlDocumentPtr doc = LoadBinary(ref);

    const IXmlNameTablePtr table = doc->Get_NameTable();
    EXPECT_EQ(table->GetName(8), "version");
    EXPECT_EQ(table->GetName(9), "") << "nine names";
    ASSERT_EQ(doc->Get_ChildNodes()->Get_Count(), 2);
    const IXmlNodePtr declaration = doc->Get_ChildNodes()->Get_Item(0);
    EXPECT_EQ(declaration->Get_NodeType(), NODE_PROCESSING_INSTRUCTION);
    EXPECT_EQ(declaration->Get_NodeName(), "xml");
    EXPECT_EQ(declaration->GetAttr("version"), "1.0");
    EXPECT_EQ(declaration->GetAttrType("version"), rtl::varString);

    const IXmlElementPtr root = doc->Get_DocumentElement();
    ASSERT_TRUE(root);
    EXPECT_EQ(root->Get_NodeName(), "root");
    EXPECT_EQ(root->GetAttrType("a"), rtl::varInteger);
    EXPECT_EQ(root->GetIntAttr("a"), -7);

    const struct {
        rtl::TVarType type;
        std::string text;
    } texts[] = {
        {rtl::varEmpty, ""},
        {rtl::varNull, "{{null}}"},
        {rtl::varSmallint, "-2"},
        {rtl::varInteger, "-3"},
        {rtl::varSingle, "1.5"},
        {rtl::varDouble, "-2.25"},
        {rtl::varCurrency, "12.3456"},
        {rtl::varDate, "2004-03-07T12:00:00"},
        {rtl::varOleStr, "Жx"},
        {rtl::varBoolean, "1"},
        {rtl::varBoolean, "0"},
        {rtl::varShortInt, "-5"},
        {rtl::varByte, "200"},
        {rtl::varWord, "65535"},
        {rtl::varLongWord, "4000000000"},
        {rtl::varInt64, "-1099511627776"},
        {rtl::varString, "Ёж"},
        {rtl::varByteArray, "AQID"},
        {rtl::varByteArray, Base64Encode(std::string(200, 'Z').data(), 200)},
    };
    const IXmlNodeListPtr children = root->Get_ChildNodes();
    ASSERT_EQ(children->Get_Count(), 23);
    for (int i = 0; i < 19; ++i) {
        const IXmlNodePtr text = children->Get_Item(i);
        EXPECT_EQ(text->Get_NodeType(), NODE_TEXT) << i;
        EXPECT_EQ(text->Get_DataType(), texts[i].type) << i;
        EXPECT_EQ(text->Get_Text(), texts[i].text) << i;
    }
    EXPECT_EQ(children->Get_Item(19)->Get_XML(), "<![CDATA[ c ]]>");
    EXPECT_EQ(children->Get_Item(20)->Get_NodeType(), NODE_COMMENT);
    EXPECT_EQ(children->Get_Item(20)->Get_Text(), "n");
    const IXmlNodePtr element = children->Get_Item(21);
    EXPECT_EQ(element->Get_NodeName(), "a");
    EXPECT_EQ(element->Get_DataType(), rtl::varInteger);
    EXPECT_EQ(element->Get_Text(), "5");
    EXPECT_EQ(children->Get_Item(22)->Get_NodeName(), "pi");
    EXPECT_EQ(children->Get_Item(22)->Get_Text(), "data");

    EXPECT_EQ(doc->Get_BinaryXML(), ref);
    EXPECT_EQ(SavedToStream(doc, 0), ref);
    // The same bytes through the other ways in.
    const IXmlDocumentPtr viaLoadXml = CreateXmlDocument();
    viaLoadXml->LoadXML(ref);
    EXPECT_EQ(viaLoadXml->Get_BinaryXML(), ref);
    rtl::TMemoryStream stream(ref);
    const IXmlDocumentPtr viaStream = CreateXmlDocument();
    viaStream->Load(stream);
    EXPECT_EQ(viaStream->Get_BinaryXML(), ref);
}

TEST(BinaryXmlDocument, WideStringsAndLargeBucketIndexesWriteBackByteForByte)
{
    const std::string ref = WideDocument();
    const IXmlDocumentPtr doc = LoadBinary(ref);
    const IXmlElementPtr root = doc->Get_DocumentElement();
    ASSERT_TRUE(root);
    EXPECT_EQ(root->Get_NodeName(), "корень");
    const IXmlNodeListPtr children = root->Get_ChildNodes();
    ASSERT_EQ(children->Get_Count(), 4);
    EXPECT_EQ(GetRawOwnText(*root), " Да ЁжЖx") << "the CDATA section keeps its blanks";
    EXPECT_EQ(children->Get_Item(1)->Get_Text(), "x");
    EXPECT_EQ(children->Get_Item(2)->Get_DataType(), rtl::varString);
    EXPECT_EQ(children->Get_Item(3)->Get_DataType(), rtl::varOleStr);

    EXPECT_EQ(SavedToStream(doc, 1), ref);
    // Options 0 stores the names and the CDATA and comment data in 8 bits
    // and keeps everything else.
    const std::string narrow = doc->Get_BinaryXML();
    EXPECT_EQ(narrow.substr(14, 4), std::string(4, '\0'));
    const IXmlDocumentPtr back = LoadBinary(narrow);
    EXPECT_EQ(back->Get_DocumentElement()->Get_NodeName(), "корень");
    EXPECT_EQ(GetRawOwnText(*back->Get_DocumentElement()), " Да ЁжЖx");
    EXPECT_EQ(SavedToStream(back, 1), ref) << "the same names and data either way";
}

TEST(BinaryXmlDocument, EveryTruncationIsAReadError)
{
    for (const std::string& ref : {ReferenceDocument(), WideDocument()}) {
        for (std::size_t n = 0; n < ref.size(); ++n) {
            // Each prefix in a buffer of its own size, so the sanitizer build
            // catches a read past its end.
            const std::vector<char> exact(ref.begin(), ref.begin() + static_cast<std::ptrdiff_t>(n));
            const std::string_view prefix(exact.data(), exact.size());
            const IXmlDocumentPtr doc = CreateXmlDocument();
            ASSERT_EQ(ErrorOf([&] { doc->LoadBinaryXML(prefix); }), kReadError) << n;
            if (n >= 15) {
                rtl::TMemoryStream stream(prefix);
                ASSERT_EQ(ErrorOf([&] { doc->Load(stream); }), kReadError) << "stream " << n;
            }
        }
    }
}

TEST(BinaryXmlDocument, WriterLaysOutWhatTheModelHolds)
{
    // A table of one bucket, so the layout can be written by hand.
    const IXmlDocumentPtr doc = CreateXmlDocument("", "", "", CreateNameTable(1));
    const IXmlElementPtr r = doc->AppendElement("r"); // name 5
    r->SetVarAttr("b", rtl::Variant(rtl::ByteArray{1, 2, 3})); // name 6
    const IXmlElementPtr withValue = r->AppendElement("v"); // name 7
    withValue->Set_TypedValue(rtl::Variant(5));
    const IXmlElementPtr mixed = r->AppendElement("m"); // name 8
    mixed->Set_TypedValue(rtl::Variant(6));
    mixed->AppendElement("v");
    r->AppendCDATA("");

    const std::string expected = Bin()
                                     .Header(0)
                                     .U8(9).FixedNames().Str8("r").Str8("b").Str8("v").Str8("m")
                                     .OneBucket(9)
                                     .U8(0).U8(1)
                                     .U8(1).U8(5).U8(0)
                                     .U8(1).U8(6).U8(0xA0).U8(0x11).U8(3).U8(1).U8(2).U8(3)
                                     .U8(3)
                                     .U8(1).U8(7).U8(3).I32(5).U8(0).U8(0)
                                     // the value moved into a text child; the element's own is empty
                                     .U8(1).U8(8).U8(0).U8(0).U8(2)
                                     .U8(3).U8(0x81).U8(0x00).Str8("6")
                                     .U8(1).U8(7).U8(0).U8(0).U8(0)
                                     .U8(4).U8(0)
                                     .str();
    EXPECT_EQ(doc->Get_BinaryXML(), expected);

    const IXmlDocumentPtr back = LoadBinary(expected);
    const IXmlNodePtr v = back->Get_DocumentElement()->SelectSingleNode("v");
    EXPECT_EQ(v->Get_DataType(), rtl::varInteger) << "the simple value keeps its type";
    EXPECT_EQ(v->Get_TypedValue(), rtl::Variant(5));
    EXPECT_EQ(back->Get_DocumentElement()->GetAttrType("b"), rtl::varByteArray);
}

TEST(BinaryXmlDocument, LoadingGivesTheDocumentANewTableAndKeepsWhatWasRead)
{
    const IXmlDocumentPtr doc = CreateXmlDocument("old");
    doc->Get_DocumentElement()->SetAttr("x", "1");
    const IXmlNameTablePtr before = doc->Get_NameTable();
    // Two children; the second is a record of the unknown type 9.
    const std::string bytes = Bin().Header().MinimalTable().U8(0).U8(2).U8(8).Str8("kept").U8(9).str();
    EXPECT_EQ(ErrorOf([&] { doc->LoadBinaryXML(bytes); }), "Ошибка чтения двоичного XML: некорректный тип узла");
    EXPECT_NE(doc->Get_NameTable(), before);
    ASSERT_EQ(doc->Get_ChildNodes()->Get_Count(), 1);
    EXPECT_EQ(doc->Get_ChildNodes()->Get_Item(0)->Get_Text(), "kept");
    EXPECT_EQ(doc->Get_AttrCount(), 0);
}

TEST(BinaryXmlDocument, UntrustedInputIsRefused)
{
    const auto doc = [](const Bin& content) { return Bin().Header().MinimalTable().Raw(content.str()).str(); };
    const auto table = [](int bucketCount, const Bin& buckets, const Bin& extraNames = Bin(), int names = 5) {
        Bin b;
        b.Header().U8(names).FixedNames().Raw(extraNames.str());
        if (bucketCount >= 0 && bucketCount < 128)
            b.U8(bucketCount);
        else
            b.U8(0xFF).I32(bucketCount);
        return b.Raw(buckets.str()).U8(0).U8(0).str();
    };
    const Bin fiveInBucket0 = Bin().U8(1).U8(0).U8(5).I32(0).I32(1).I32(2).I32(3).I32(4);
    const struct {
        const char* what;
        std::string bytes;
        std::string error;
    } cases[] = {
        {"nothing", "", kReadError},
        {"the signature alone", "< binary-xml >", kReadError},
        {"the Options cut short", "< binary-xml >\1\0\0", kReadError},
        {"no name table", Bin().Header().str(), kReadError},
        {"a negative name count", Bin().Header().U8(0xFF).I32(-1).str(), kReadError},
        {"a name count beyond the data", Bin().Header().U8(0xFF).I32(INT32_MAX).str(), kReadError},
        {"fewer than the five fixed names", Bin().Header().U8(4).FixedNames().str(), kReadError},
        {"a table not beginning with the fixed names",
         Bin().Header().U8(5).Str8("#text").Str8("#comment").Str8("#cdata-section").Str8("#document").Str8("xml")
             .OneBucket(5).U8(0).U8(0).str(),
         kReadError},
        {"an empty name", table(1, Bin().U8(1).U8(0).U8(6).I32(0).I32(1).I32(2).I32(3).I32(4).I32(5), Bin().Str8(""), 6),
         kReadError},
        {"a name twice", table(1, Bin().U8(1).U8(0).U8(7).I32(0).I32(1).I32(2).I32(3).I32(4).I32(5).I32(6),
                               Bin().Str8("a").Str8("a"), 7),
         kReadError},
        {"bucket count 0", table(0, Bin().U8(0)), kReadError},
        {"a negative bucket count", table(-5, fiveInBucket0), kReadError},
        {"a bucket count above the cap", table(65537, fiveInBucket0), kReadError},
        {"the IDs in other buckets than their hashes", table(2, fiveInBucket0), kReadError},
        {"a used bucket count that is not the buckets in use", table(1, Bin().U8(2).U8(0).U8(5).I32(0).I32(1).I32(2).I32(3).I32(4)),
         kReadError},
        {"a bucket index beyond the bucket count",
         table(1, Bin().U8(1).U8(1).U8(5).I32(0).I32(1).I32(2).I32(3).I32(4)), kReadError},
        {"bucket indexes out of order",
         // with 4 buckets the five names hash to buckets 0, 1 and 2
         table(4, Bin().U8(3).U8(1).U8(1).I32(4).U8(0).U8(1).I32(0).U8(2).U8(3).I32(1).I32(2).I32(3)), kReadError},
        {"a bucket listing its IDs out of order",
         table(1, Bin().U8(1).U8(0).U8(5).I32(1).I32(0).I32(2).I32(3).I32(4)), kReadError},
        {"an ID count beyond the data", table(1, Bin().U8(1).U8(0).U8(0xFF).I32(INT32_MAX)), kReadError},
        {"an attribute name ID beyond the names", doc(Bin().U8(1).U8(5).U8(0)), kReadError},
        {"a negative attribute name ID", doc(Bin().U8(1).U8(0xFF).I32(-1).U8(0)), kReadError},
        {"an attribute stored twice", doc(Bin().U8(2).U8(4).U8(0).U8(4).U8(1).U8(0)), kReadError},
        {"an element name ID beyond the names", doc(Bin().U8(0).U8(1).U8(1).U8(5).U8(0).U8(0).U8(0)), kReadError},
        {"an instruction target beyond the names", doc(Bin().U8(0).U8(1).U8(7).U8(9).U8(0).U8(0).U8(0)), kReadError},
        {"an element with a value and children",
         doc(Bin().U8(0).U8(1).U8(1).U8(4).U8(3).I32(1).U8(0).U8(1).U8(8).U8(0)), kReadError},
        {"an element with a null value and children",
         doc(Bin().U8(0).U8(1).U8(1).U8(4).U8(1).U8(0).U8(1).U8(8).U8(0)), kReadError},
        {"a child count beyond the data", doc(Bin().U8(0).U8(0xFF).I32(0x40000000)), kReadError},
        {"a negative attribute count", doc(Bin().U8(0xFF).I32(-2)), kReadError},
        {"a string length beyond the data", doc(Bin().U8(0).U8(1).U8(8).U8(0xFF).I32(INT32_MAX)), kReadError},
        {"a byte array beyond the data",
         doc(Bin().U8(0).U8(1).U8(3).U8(0xA0).U8(0x11).U8(0xFF).I32(INT32_MAX)), kReadError},
        {"UTF-16 whose byte count passes 32 bits",
         doc(Bin().U8(0).U8(1).U8(3).U8(8).U8(0xFF).I32(0x40000001).I16('a').I16('b')), kReadError},
        {"a negative byte array length", doc(Bin().U8(0).U8(1).U8(3).U8(0xA0).U8(0x11).U8(0xFF).I32(-1)), kReadError},
        {"an unpaired surrogate", doc(Bin().U8(0).U8(1).U8(3).U8(8).U8(1).I16(0xD800)), kReadError},
        {"a Boolean other than 0 and -1", doc(Bin().U8(0).U8(1).U8(3).U8(11).I16(1)), kReadError},
        {"a signalling NaN single", doc(Bin().U8(0).U8(1).U8(3).U8(4).I32(0x7F800001)), kReadError},
        {"a byte after the document", doc(Bin().U8(0).U8(0).U8(0)), kReadError},
        {"a value of type code 9", doc(Bin().U8(0).U8(1).U8(3).U8(9)), "Ошибка чтения значения: некорректный тип."},
        {"a value of type code 72", doc(Bin().U8(0).U8(1).U8(3).U8(72)), "Ошибка чтения значения: некорректный тип."},
        {"a by-reference value", doc(Bin().U8(0).U8(1).U8(3).U8(0xC0).U8(0x03)),
         "Ошибка чтения значения: некорректный тип."},
    };
    for (const auto& c : cases) {
        const IXmlDocumentPtr loaded = CreateXmlDocument();
        EXPECT_EQ(ErrorOf([&] { loaded->LoadBinaryXML(c.bytes); }), c.error) << c.what;
    }
    for (const int type : {0, 2, 5, 6, 9, 10, 255}) {
        const IXmlDocumentPtr loaded = CreateXmlDocument();
        EXPECT_EQ(ErrorOf([&] { loaded->LoadBinaryXML(doc(Bin().U8(0).U8(1).U8(type).U8(0).U8(0).U8(0))); }),
                  "Ошибка чтения двоичного XML: некорректный тип узла")
            << type;
    }
}

TEST(BinaryXmlDocument, NestingStopsWhereTheTextParserStops)
{
    const auto nested = [](int depth) {
        Bin b;
        b.Header().U8(6).FixedNames().Str8("e").OneBucket(6).U8(0).U8(1);
        for (int i = 0; i < depth; ++i) b.U8(1).U8(5).U8(0).U8(0).U8(i + 1 < depth ? 1 : 0);
        return b.str();
    };
    const auto text = [](int depth) {
        std::string s;
        for (int i = 0; i < depth; ++i) s += "<e>";
        for (int i = 0; i < depth; ++i) s += "</e>";
        return s;
    };
    const IXmlDocumentPtr doc = CreateXmlDocument();
    EXPECT_EQ(ErrorOf([&] { doc->LoadXML(text(1000)); }), "");
    EXPECT_EQ(ErrorOf([&] { doc->LoadBinaryXML(nested(1000)); }), "");
    EXPECT_EQ(doc->Get_BinaryXML(), nested(1000));
    EXPECT_NE(ErrorOf([&] { doc->LoadXML(text(1001)); }), "");
    EXPECT_EQ(ErrorOf([&] { doc->LoadBinaryXML(nested(1001)); }), kReadError);
}

TEST(BinaryXmlDocument, EveryTableTheModelMakesReadsBack)
{
    // Bucket counts are brought into what the reader accepts.
    for (const int buckets : {-3, 0, 1, 7, 4096, 65536, 65537, 1000000}) {
        const IXmlDocumentPtr doc = CreateXmlDocument("", "", "", CreateNameTable(buckets));
        doc->AppendElement("корень")->SetAttr("атрибут", "значение");
        const std::string bytes = doc->Get_BinaryXML();
        const IXmlDocumentPtr back = CreateXmlDocument();
        ASSERT_EQ(ErrorOf([&] { back->LoadBinaryXML(bytes); }), "") << buckets;
        EXPECT_EQ(back->Get_BinaryXML(), bytes) << buckets;
        EXPECT_EQ(back->Get_DocumentElement()->GetAttr("атрибут"), "значение");
    }
}

TEST(BinaryXmlDocument, WriterRefusals)
{
    const IXmlDocumentPtr doc = CreateXmlDocument("r", "1.0", "", CreateNameTable());
    const IXmlElementPtr r = doc->Get_DocumentElement();
    r->SetVarAttr("e", rtl::Variant::Error(5));
    EXPECT_EQ(ErrorOf([&] { doc->Get_BinaryXML(); }), "Ошибка записи значения: некорректный тип.");
    r->SetVarAttr("e", rtl::Variant::StrArg("x"));
    EXPECT_EQ(ErrorOf([&] { doc->Get_BinaryXML(); }), "Ошибка записи значения: некорректный тип.");
    r->RemoveAttr("e");
    EXPECT_EQ(ErrorOf([&] { doc->Get_BinaryXML(); }), "");

    // A document put into an element has no record type.
    r->AppendChild(IXmlNodePtr(CreateXmlDocument().get()));
    EXPECT_EQ(ErrorOf([&] { doc->Get_BinaryXML(); }), "Ошибка записи двоичного XML: некорректный тип узла");
}

TEST(BinaryXmlDocument, EightBitStringsHoldOnlyWindows1251)
{
    // A name outside Windows-1251 can be stored only in UTF-16.
    const IXmlDocumentPtr named = CreateXmlDocument("", "", "", CreateNameTable());
    named->AppendElement("名");
    EXPECT_THROW(named->Get_BinaryXML(), rtl::EEncodingError);
    rtl::TMemoryStream wide;
    named->SaveBinary(wide, 1);
    const IXmlDocumentPtr back = LoadBinary(wide.ToString());
    EXPECT_EQ(back->Get_DocumentElement()->Get_NodeName(), "名");

    // So can CDATA, comment and instruction data.
    const IXmlDocumentPtr data = CreateXmlDocument("r", "1.0", "", CreateNameTable());
    data->Get_DocumentElement()->AppendComment("€ and 名");
    EXPECT_THROW(data->Get_BinaryXML(), rtl::EEncodingError);
    EXPECT_EQ(LoadBinary(SavedToStream(data, 1))->Get_DocumentElement()->Get_ChildNodes()->Get_Item(0)->Get_Text(),
              "€ and 名");

    // An 8-bit string value is 8-bit whatever the Options; a UTF-16 value
    // holds anything.
    const IXmlDocumentPtr values = CreateXmlDocument("r", "1.0", "", CreateNameTable());
    values->Get_DocumentElement()->SetAttr("s", "名");
    EXPECT_THROW(SavedToStream(values, 1), rtl::EEncodingError);
    values->Get_DocumentElement()->SetVarAttr("s", rtl::Variant::OleStr("名"));
    EXPECT_EQ(LoadBinary(values->Get_BinaryXML())->Get_DocumentElement()->GetAttr("s"), "名");
}

// A memory stream that refuses to take more than a given number of bytes.
class TLimitedStream : public rtl::TMemoryStream {
public:
    explicit TLimitedStream(std::size_t limit) : limit_(limit) {}
    std::size_t Write(const void* buffer, std::size_t count) override
    {
        const std::size_t room = limit_ - static_cast<std::size_t>(Size());
        return rtl::TMemoryStream::Write(buffer, std::min(count, room));
    }

private:
    std::size_t limit_;
};

TEST(BinaryXmlStreams, WriteErrorsAreRaisedNotLost)
{
    const IXmlDocumentPtr small = LoadBinary(ReferenceDocument());
    TLimitedStream full(10);
    EXPECT_THROW(small->SaveBinary(full, 0), rtl::EWriteError) << "the buffered bytes are flushed by the call";

    const IXmlDocumentPtr large = CreateXmlDocument("r", "1.0", "", CreateNameTable());
    const std::string blob(200000, 'b');
    large->Get_DocumentElement()->ReplaceTextByBinaryData(blob.data(), blob.size());
    TLimitedStream half(100000);
    EXPECT_THROW(large->SaveBinary(half, 0), rtl::EWriteError) << "a write past the buffer";
    rtl::TMemoryStream enough;
    large->SaveBinary(enough, 0);
    EXPECT_EQ(enough.ToString(), large->Get_BinaryXML());
}

TEST(BinaryXmlStreams, LargeDocumentsCrossTheBuffersBothWays)
{
    // Values of every size, so reads and writes meet the 64 KB buffer edges
    // in many places, and a byte array larger than the buffer.
    const IXmlDocumentPtr doc = CreateXmlDocument("r", "1.0", "", CreateNameTable());
    const IXmlElementPtr r = doc->Get_DocumentElement();
    for (int i = 0; i < 3000; ++i) {
        const IXmlElementPtr item = r->AppendElement("i");
        item->SetVarAttr("n", rtl::Variant(i));
        item->Set_TypedValue(rtl::Variant(rtl::ByteArray(static_cast<std::size_t>(i % 97), static_cast<std::uint8_t>(i))));
    }
    r->AppendElement("big")->Set_TypedValue(rtl::Variant(rtl::ByteArray(150000, 7)));
    const std::string bytes = doc->Get_BinaryXML();
    ASSERT_GT(bytes.size(), 3 * 65536u);
    EXPECT_EQ(SavedToStream(doc, 0), bytes);

    // Loaded from the middle of a stream: the reader starts at the position.
    rtl::TMemoryStream stream("prefix" + bytes);
    stream.SetPosition(6);
    const IXmlDocumentPtr back = CreateXmlDocument();
    back->Load(stream);
    EXPECT_EQ(back->Get_BinaryXML(), bytes);
    EXPECT_EQ(back->Get_DocumentElement()->Get_ChildNodes()->Get_Count(), 3001);
}

TEST(BinaryXmlStreams, SignatureDecidesTheForm)
{
    const IXmlDocumentPtr doc = CreateXmlDocument();
    rtl::TMemoryStream onlySignature(std::string_view("< binary-xml >"));
    EXPECT_EQ(ErrorOf([&] { doc->Load(onlySignature); }), "Имя должно начинаться с буквы или \"_\" (стр. 0, поз. 1)")
        << "14 bytes are parsed as text";
    rtl::TMemoryStream shortHeader(std::string_view("< binary-xml >\0", 15));
    EXPECT_EQ(ErrorOf([&] { doc->Load(shortHeader); }), kReadError) << "15 bytes are binary";
    EXPECT_EQ(ErrorOf([&] { doc->LoadXML("< binary-xml >\x01\x02"); }), kReadError)
        << "text beginning with the signature is never parsed as text";
    EXPECT_EQ(ErrorOf([&] { doc->LoadBinaryXML("<?xml version?>\0\0\0\0"); }), kReadError);
    EXPECT_EQ(ErrorOf([&] { doc->LoadBinaryXML(std::string("not-a-header!!") + std::string(4, '\0') +
                                               Bin().MinimalTable().U8(0).U8(0).str()); }),
              "")
        << "LoadBinaryXML does not check the signature";
}

TEST(BinaryXmlStreams, ResourcesInTheBinaryForm)
{
    // Registered once for the process; the bytes live as long as it does.
    static const std::string bytes = ReferenceDocument();
    static const rtl::ResourceEntry entries[] = {
        {"BINXMLTEST", "REFERENCE", reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()},
    };
    static const bool registered = (rtl::RegisterResources(entries, 1), true);
    ASSERT_TRUE(registered);
    const IXmlDocumentPtr doc = CreateXmlDocument("old");
    doc->LoadResource("BINXMLTEST", "REFERENCE");
    EXPECT_EQ(doc->Get_BinaryXML(), bytes);
}

TEST(BinaryXmlStreams, FilesSavedAndLoaded)
{
    rtl::test::TempFolder folder;
    const std::string path = folder / "doc.bin";
    const IXmlDocumentPtr doc = LoadBinary(ReferenceDocument());
    doc->SaveBinary(path, 0);
    EXPECT_EQ(rtl::ReadFileBytes(path), ReferenceDocument());
    const IXmlDocumentPtr back = CreateXmlDocument();
    back->Load(path);
    EXPECT_EQ(back->Get_BinaryXML(), ReferenceDocument());

    // A document that cannot be written leaves the file as it was.
    const IXmlDocumentPtr bad = CreateXmlDocument("", "", "", CreateNameTable());
    bad->AppendElement("名");
    EXPECT_THROW(bad->SaveBinary(path, 0), rtl::EEncodingError);
    EXPECT_EQ(rtl::ReadFileBytes(path), ReferenceDocument());

    const std::string broken = folder / "broken.bin";
    rtl::WriteFileBytes(broken, ReferenceDocument().substr(0, 40));
    EXPECT_EQ(ErrorOf([&] { back->Load(broken); }), kReadError + " (" + broken + ")");
}

} // namespace
