// Field values in their stored bytes, code pages, and header parsing.
#include <gtest/gtest.h>

#include <cstring>

#include "platform/bde/PxFormat.h"
#include "platform/rtl/DateTime.h"
#include "tests/platform/bde/PxTestSupport.h"

namespace bde {
namespace {

std::string Hex(const std::uint8_t* p, int n)
{
    static const char* d = "0123456789abcdef";
    std::string s;
    for (int i = 0; i < n; ++i) {
        s.push_back(d[p[i] >> 4]);
        s.push_back(d[p[i] & 15]);
    }
    return s;
}

std::vector<std::uint8_t> Bytes(const std::string& hex)
{
    std::vector<std::uint8_t> b;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) b.push_back(static_cast<std::uint8_t>(rtl::StrToInt("$" + hex.substr(i, 2))));
    return b;
}

PxFieldLayout Layout(PxFieldType t, int headerSize)
{
    PxFieldLayout l;
    l.type = t;
    l.headerSize = headerSize;
    l.length = PxRecordBytes(t, headerSize);
    l.name = "F";
    return l;
}

struct CodecCase {
    const char* what;
    PxFieldType type;
    int headerSize;
    rtl::Variant value;
    const char* bytes; // as the format description writes them
};

// Bytes written by hand from the format description: big-endian numbers with
// the top bit flipped, negative doubles with every bit flipped, dates as days
// from 0001-01-01 (day 1), times as milliseconds, blanks as zeros.
const std::vector<CodecCase>& CodecCases()
{
    static const std::vector<CodecCase> cases = {
        {"short 1", PxFieldType::Short, 2, rtl::Variant(1), "8001"},
        {"short 256", PxFieldType::Short, 2, rtl::Variant(256), "8100"},
        {"short -1", PxFieldType::Short, 2, rtl::Variant(-1), "7fff"},
        {"short -2", PxFieldType::Short, 2, rtl::Variant(-2), "7ffe"},
        {"short 0 is not blank", PxFieldType::Short, 2, rtl::Variant(0), "8000"},
        {"short null is blank", PxFieldType::Short, 2, rtl::Variant::Null(), "0000"},
        {"long 1", PxFieldType::Long, 4, rtl::Variant(1), "80000001"},
        {"long -1", PxFieldType::Long, 4, rtl::Variant(-1), "7fffffff"},
        {"long max", PxFieldType::Long, 4, rtl::Variant(2147483647), "ffffffff"},
        {"autoinc 7", PxFieldType::AutoInc, 4, rtl::Variant(7), "80000007"},
        {"number 1.5", PxFieldType::Number, 8, rtl::Variant(1.5), "bff8000000000000"},
        {"number -2.5 flips every bit", PxFieldType::Number, 8, rtl::Variant(-2.5), "3ffbffffffffffff"},
        {"number 0", PxFieldType::Number, 8, rtl::Variant(0.0), "8000000000000000"},
        {"number -0 stored as 0", PxFieldType::Number, 8, rtl::Variant(-0.0), "8000000000000000"},
        {"money 100.5", PxFieldType::Money, 8, rtl::Variant(100.5), "c059200000000000"},
        {"logical true", PxFieldType::Logical, 1, rtl::Variant(true), "81"},
        {"logical false", PxFieldType::Logical, 1, rtl::Variant(false), "80"},
        {"date 1996-05-04 is day 728783", PxFieldType::Date, 4, rtl::Variant::DateTime(rtl::EncodeDate(1996, 5, 4)), "800b1ecf"},
        {"date 0100-01-01 is day 36160", PxFieldType::Date, 4, rtl::Variant::DateTime(rtl::EncodeDate(100, 1, 1)), "80008d40"},
        {"time 01:02:03", PxFieldType::Time, 4, rtl::Variant::DateTime(rtl::EncodeTime(1, 2, 3, 0)), "8038cef8"},
        {"timestamp 2001-02-03 04:05:06", PxFieldType::Timestamp, 8,
         rtl::Variant::DateTime(rtl::EncodeDateTime(2001, 2, 3, 4, 5, 6, 0)), "c2ccb3c4e654a800"},
        {"alpha padded with zeros", PxFieldType::Alpha, 5, rtl::Variant("abc"), "6162630000"},
        {"alpha in Windows-1251", PxFieldType::Alpha, 3, rtl::Variant("Яё"), "dfb800"},
        {"alpha empty is blank", PxFieldType::Alpha, 3, rtl::Variant(""), "000000"},
        {"bytes", PxFieldType::Bytes, 3, rtl::Variant(rtl::ByteArray{1, 2}), "010200"},
        {"bcd 123.45", PxFieldType::Bcd, 2, rtl::Variant(123.45), "c200000000000000000000000000012345"},
        {"bcd -1", PxFieldType::Bcd, 2, rtl::Variant(-1.0), "42fffffffffffffffffffffffffffffeff"},
    };
    return cases;
}

TEST(PxCodec, StoresValuesAsTheFormatDescribes)
{
    const PxCodePage cp(1251);
    for (const auto& c : CodecCases()) {
        SCOPED_TRACE(c.what);
        const PxFieldLayout l = Layout(c.type, c.headerSize);
        std::vector<std::uint8_t> buf(static_cast<std::size_t>(l.length), 0xEE);
        PxEncodeValue(l, buf.data(), c.value, cp, "T");
        EXPECT_EQ(Hex(buf.data(), l.length), c.bytes);
    }
}

TEST(PxCodec, ReadsTheBytesBack)
{
    const PxCodePage cp(1251);
    for (const auto& c : CodecCases()) {
        SCOPED_TRACE(c.what);
        const PxFieldLayout l = Layout(c.type, c.headerSize);
        const auto bytes = Bytes(c.bytes);
        const rtl::Variant v = PxDecodeValue(l, bytes.data(), cp);
        const bool blank = c.value.IsNull() || (c.value.IsString() && c.value.AsString().empty());
        if (blank) {
            EXPECT_TRUE(v.IsNull());
        } else if (c.type == PxFieldType::Logical) {
            EXPECT_EQ(v.AsBoolean(), c.value.AsBoolean());
        } else if (c.type == PxFieldType::Bytes) {
            EXPECT_EQ(v.AsBytes(), (rtl::ByteArray{1, 2, 0}));
        } else if (c.type == PxFieldType::Alpha) {
            EXPECT_EQ(v.AsString(), c.value.AsString());
        } else {
            EXPECT_DOUBLE_EQ(v.AsDouble(), c.value.AsDouble() == 0 ? 0.0 : c.value.AsDouble());
        }
    }
}

TEST(PxCodec, DecodedTypesFollowTheFieldTypes)
{
    const PxCodePage cp(1251);
    const struct {
        PxFieldType type;
        int size;
        const char* bytes;
        rtl::TVarType varType;
    } cases[] = {
        {PxFieldType::Short, 2, "8001", rtl::varSmallint},
        {PxFieldType::Long, 4, "80000001", rtl::varInteger},
        {PxFieldType::AutoInc, 4, "80000001", rtl::varInteger},
        {PxFieldType::Number, 8, "bff8000000000000", rtl::varDouble},
        {PxFieldType::Money, 8, "bff8000000000000", rtl::varDouble},
        {PxFieldType::Logical, 1, "81", rtl::varBoolean},
        {PxFieldType::Date, 4, "800b1ecf", rtl::varDate},
        {PxFieldType::Time, 4, "8038cef8", rtl::varDate},
        {PxFieldType::Timestamp, 8, "c2ccb3c4e654a800", rtl::varDate},
        {PxFieldType::Alpha, 2, "6100", rtl::varString},
        {PxFieldType::Bytes, 2, "0100", rtl::varByteArray},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(PxFieldTypeName(c.type));
        const auto b = Bytes(c.bytes);
        EXPECT_EQ(PxDecodeValue(Layout(c.type, c.size), b.data(), cp).VarType(), c.varType);
    }
}

TEST(PxCodec, RefusesValuesThatDoNotFit)
{
    const PxCodePage cp(1251);
    const struct {
        const char* what;
        PxFieldType type;
        int size;
        rtl::Variant value;
    } cases[] = {
        {"alpha longer than the field", PxFieldType::Alpha, 3, rtl::Variant("abcd")},
        {"character outside the code page", PxFieldType::Alpha, 10, rtl::Variant("a\xe4\xb8\xad")},
        {"short above its range", PxFieldType::Short, 2, rtl::Variant(40000)},
        {"short at the blank value", PxFieldType::Short, 2, rtl::Variant(-32768)},
        {"long at the blank value", PxFieldType::Long, 4, rtl::Variant(static_cast<std::int64_t>(-2147483648LL))},
        {"text that is not a number", PxFieldType::Number, 8, rtl::Variant("many")},
        {"date before year 1", PxFieldType::Date, 4, rtl::Variant::DateTime(-700000.0)},
        {"bytes longer than the field", PxFieldType::Bytes, 2, rtl::Variant(rtl::ByteArray{1, 2, 3})},
        {"bcd with more decimals than kept", PxFieldType::Bcd, 1, rtl::Variant("1.25")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const PxFieldLayout l = Layout(c.type, c.size);
        std::vector<std::uint8_t> buf(static_cast<std::size_t>(l.length), 0);
        try {
            PxEncodeValue(l, buf.data(), c.value, cp, "TBL");
            ADD_FAILURE() << "accepted";
        } catch (const EPxError& e) {
            EXPECT_NE(std::string(e.what()).find("\"TBL\""), std::string::npos) << e.what();
        }
        EXPECT_TRUE(PxIsBlank(buf.data(), l.length)) << "a refused value leaves the field blank";
    }
}

TEST(PxCodec, KeepsSortOrderInTheBytes)
{
    // The index files compare keys as bytes; the codec makes that value order.
    const std::vector<double> values = {-1e300, -2.5, -1, -0.25, 0, 1e-300, 0.25, 1, 2.5, 1e300};
    std::vector<std::vector<std::uint8_t>> enc;
    for (double v : values) {
        std::vector<std::uint8_t> b(8);
        PxEncodeDouble(b.data(), v);
        enc.push_back(b);
    }
    for (std::size_t i = 1; i < enc.size(); ++i) EXPECT_LT(enc[i - 1], enc[i]) << values[i];
    const std::vector<std::int64_t> ints = {-32767, -256, -1, 0, 1, 255, 32767};
    std::vector<std::vector<std::uint8_t>> ienc;
    for (auto v : ints) {
        std::vector<std::uint8_t> b(2);
        PxEncodeInt(b.data(), 2, v);
        ienc.push_back(b);
        EXPECT_EQ(PxDecodeInt(b.data(), 2), v);
    }
    for (std::size_t i = 1; i < ienc.size(); ++i) EXPECT_LT(ienc[i - 1], ienc[i]);
}

TEST(PxCodePage, ConvertsBothWaysAndRefusesWhatItCannotHold)
{
    const struct {
        int cp;
        const char* utf8;
        const char* bytes;
    } cases[] = {
        {1251, "Привет", "cff0e8e2e5f2"},
        {866, "Привет", "8fe0a8a2a5e2"},
        {1252, "café", "636166e9"},
        {437, "ÄÖ", "8e99"},
        // HP Roman-8, by the published table
        {1051, "ÀÂÈ", "a1a2a3"},
        {1051, "àÅØÄ", "c8d0d2d8"},
        {1051, "âéüß", "c0c5cfde"},
        {1051, "ŠšŸÿ£₤■—", "ebeceeefbbaffcf6"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.cp);
        const PxCodePage cp(c.cp);
        const std::string stored = cp.FromUtf8(c.utf8, "x");
        EXPECT_EQ(Hex(reinterpret_cast<const std::uint8_t*>(stored.data()), static_cast<int>(stored.size())), c.bytes);
        EXPECT_EQ(cp.ToUtf8(stored), c.utf8);
    }
    EXPECT_THROW(PxCodePage(1251).FromUtf8("\xe4\xb8\xad", "x"), EPxError);
    EXPECT_THROW(PxCodePage(1252).FromUtf8("Ж", "x"), EPxError);
    EXPECT_THROW(PxCodePage(1051).FromUtf8("€", "x"), EPxError);
    EXPECT_THROW(PxCodePage(4242), EPxError);
}

TEST(PxCodePage, EveryByteSurvivesARoundTrip)
{
    for (int number : {1251, 1252, 866, 437, 850, 1051}) {
        SCOPED_TRACE(number);
        const PxCodePage cp(number);
        std::string all;
        for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
        EXPECT_EQ(cp.FromUtf8(cp.ToUtf8(all), "x"), all);
    }
}

TEST(PxHeader, ParsesHeadersWrittenByHand)
{
    using test::HandField;
    const std::vector<HandField> fields = {{0x04, 4, "ID"}, {0x01, 10, "NAME"}, {0x06, 8, "VAL"}};
    const struct {
        const char* what;
        std::uint8_t version;
        int codePage;
    } cases[] = {
        {"3.5: descriptors at 0x58, no code page", 0x04, 0},
        {"4.0: descriptors at 0x78", 0x09, 866},
        {"5.0", 0x0B, 1252},
        {"7.0: long table name", 0x0C, 1251},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto file = test::HandDataFile(c.version, 0, 1, 2, c.codePage, fields, {}, "ancyrr");
        file.resize(0x800);
        const PxHeader h = PxParseHeader(file, "HAND.DB");
        EXPECT_EQ(h.version, c.version);
        EXPECT_EQ(h.recordSize, 22);
        EXPECT_EQ(h.keyFields, 1);
        EXPECT_EQ(h.BlockSize(), 2048);
        EXPECT_EQ(h.extended, c.version >= 5);
        EXPECT_EQ(h.codePage, c.codePage);
        ASSERT_EQ(h.fields.size(), 3u);
        EXPECT_EQ(h.fields[1].name, "NAME");
        EXPECT_EQ(h.fields[1].size, 10);
        EXPECT_EQ(h.tableName, "HAND.DB");
        EXPECT_EQ(h.sortOrderId, "ancyrr");
        EXPECT_EQ(h.encryption, 0u);
    }
}

TEST(PxHeader, RefusesWhatIsNotAParadoxHeader)
{
    using test::HandField;
    const std::vector<HandField> fields = {{0x04, 4, "ID"}};
    const struct {
        const char* what;
        std::size_t offset;
        std::uint8_t value;
    } cases[] = {
        {"unknown field type", 0x78, 0x33},
        {"record size that does not add up", 0x00, 9},
        {"block size zero", 0x05, 0},
        {"unknown file type", 0x04, 9},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        auto file = test::HandDataFile(0x0C, 0, 1, 2, 1251, fields, {});
        file[c.offset] = c.value;
        EXPECT_THROW(PxParseHeader(file, "BAD.DB"), EPxError);
    }
    EXPECT_THROW(PxParseHeader(std::vector<std::uint8_t>(40, 0), "SHORT.DB"), EPxError);
}

TEST(PxHeader, BuildsHeadersItCanReadBack)
{
    PxNewDataHeader s;
    s.fileType = 0;
    s.version = kPxVersion70;
    s.blockSize = 4096;
    s.codePage = 1251;
    s.sortOrder = 0x8F;
    s.sortOrderId = "ancyrr";
    s.tableName = "T.DB";
    s.fields = {{0x01, 12, "ID"}, {0x0D, 20, "DATA"}};
    s.keyFields = 1;
    const PxHeader h = PxBuildDataHeader(s);
    EXPECT_EQ(h.raw.size(), 0x800u);
    EXPECT_EQ(h.recordSize, 32);
    EXPECT_EQ(h.BlockSize(), 4096);
    EXPECT_EQ(h.codePage, 1251);
    EXPECT_EQ(PxGetU16(h.raw.data() + 0x58), 0x010C);
    EXPECT_EQ(PxGetU32(h.raw.data() + 0x25), 0xFF00FF00u);
    EXPECT_EQ(PxGetU16(h.raw.data() + 0x64), 3) << "numFields + 1";
    EXPECT_EQ(h.fields[1].name, "DATA");
    EXPECT_EQ(h.sortOrderId, "ancyrr");
    EXPECT_EQ(h.fieldNumbers, (std::vector<std::uint16_t>{1, 2}));
}

} // namespace
} // namespace bde
