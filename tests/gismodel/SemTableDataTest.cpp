// Tests of semantic-table descriptions: the field and index lists taken from
// a table definition, the additional-data blob (read from bytes written by
// hand for every layout the reader accepts, written and compared byte for
// byte, refused when malformed) and the XML form of field descriptions.
//
// Blobs are spelled out here with small byte helpers; the signature is
// built from its text, not taken from the unit under test.
#include "gismodel/SemTableData.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "CoreLib/SimpleXML.h"
#include "CoreLib/Transformer.h"
#include "platform/rtl/Cp1251.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Streams.h"

namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

// ---- a table definition held in memory -----------------------------------------

class FakeTableDef : public IUdbTableDef {
public:
    std::vector<TUdbFieldDef> fields;
    std::vector<TUdbIndexDef> indexes;
    int failAtField = -1; // GetFieldDef of this position raises

    TUdbFieldDef GetFieldDef(std::int32_t index) override
    {
        if (index == failAtField) throw rtl::Exception("field definition unavailable");
        return fields.at(static_cast<std::size_t>(index));
    }
    std::int32_t FieldCount() override { return static_cast<std::int32_t>(fields.size()); }
    TUdbIndexDef GetIndexDef(std::int32_t index) override { return indexes.at(static_cast<std::size_t>(index)); }
    std::int32_t IndexCount() override { return static_cast<std::int32_t>(indexes.size()); }

    void SetFieldDef(std::int32_t, const TUdbFieldDef&, bool) override { Unused(); }
    void AddField(const TUdbFieldDef&) override { Unused(); }
    void DeleteField(std::int32_t, bool) override { Unused(); }
    std::int32_t FieldIndex(const std::string&) override { Unused(); }
    void MoveField(std::int32_t, std::int32_t) override { Unused(); }
    void SetIndexDef(std::int32_t, const TUdbIndexDef&) override { Unused(); }
    void AddIndex(const TUdbIndexDef&) override { Unused(); }
    void DeleteIndex(std::int32_t) override { Unused(); }
    std::int32_t FindIndex(const std::string&) override { Unused(); }
    std::string GetTableName() override { return "SEM_ROADS"; }
    void SetTableName(const std::string&) override { Unused(); }
    bool IsModified() override { return false; }
    void Apply() override { Unused(); }
    void Refresh() override { Unused(); }

private:
    [[noreturn]] static void Unused() { throw rtl::Exception("not used by the description"); }
};

// The semantic table of most tests: four columns, the last with a Cyrillic name.
rtl::RefPtr<FakeTableDef> RoadsTable()
{
    auto def = rtl::MakeRef<FakeTableDef>();
    def->fields = {
        {"KOD", udtString, 12, true},
        {"NAME", udtString, 64, false},
        {"ROADTYPE", udtInteger, -1, false},
        {"ПОКРЫТИЕ", udtString, 20, false},
    };
    def->indexes = {
        {"PK_ROADS", "KOD", true, true},
        {"IX_NAME", "NAME;KOD", false, false},
    };
    return def;
}

// ---- bytes written by hand ----------------------------------------------------------

std::string U16(unsigned v)
{
    return {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
}

std::string Signature()
{
    const std::string text = rtl::Utf8ToCp1251("Дополнительные данные");
    return std::string(1, static_cast<char>(text.size())) + text + std::string(9, '\0');
}

std::string Header(unsigned version, int fieldCount)
{
    return Signature() + U16(version) + U16(static_cast<unsigned>(fieldCount) & 0xFFFF);
}

// A stream string: a length byte, or 254 and a 32-bit length from 254 on.
std::string SS(const std::string& utf8)
{
    const std::string bytes = rtl::Utf8ToCp1251(utf8);
    const std::size_t n = bytes.size();
    if (n < 254) return std::string(1, static_cast<char>(n)) + bytes;
    return std::string("\xFE") + U16(n & 0xFFFF) + U16(n >> 16) + bytes;
}

// A record of the stream-string layout; no key field or display list when
// idText is empty.
std::string StreamRec(const std::string& name, const std::string& caption, const std::string& idText,
                      const std::string& key = "", const std::vector<std::string>& display = {})
{
    std::string r = SS(name) + SS(caption) + SS(idText);
    if (idText.empty()) return r;
    r += SS(key) + U16(static_cast<unsigned>(display.size()));
    for (const auto& d : display) r += SS(d);
    return r;
}

// string[capacity]: the length byte, the text, zero padding.
std::string Fixed(int capacity, const std::string& utf8)
{
    const std::string bytes = rtl::Utf8ToCp1251(utf8);
    return std::string(1, static_cast<char>(bytes.size())) + bytes +
           std::string(static_cast<std::size_t>(capacity) - bytes.size(), '\0');
}

// A record of the fixed-size layout of the versions before 284.
std::string FixedRec(const std::string& name, const std::string& key, const std::string& idText,
                     const std::vector<std::string>& display = {})
{
    std::string r = Fixed(64, name) + Fixed(64, key) + Fixed(12, idText) + U16(static_cast<unsigned>(display.size()));
    for (const auto& d : display) r += Fixed(64, d);
    return r;
}

// 31 bytes that are not the signature (a blob of the version before it).
std::string NoSignature()
{
    return std::string(31, '\x5A');
}

// ---- observing the description ----------------------------------------------------

// "Name|Caption|RefBookID|KeyField|display;fields" of one field.
std::string Dump(const TSemFieldData& f)
{
    return f.Name + "|" + f.Caption + "|" + (f.RefBookID ? BinIDToStr(f.RefBookID) : "-") + "|" +
           f.RefBookKeyField + "|" + f.RefBookDisplayFields.Join(";");
}

std::vector<std::string> Dump(const TSemTableData& t)
{
    std::vector<std::string> out;
    for (int i = 0; i < t.Fields.Count(); ++i) out.push_back(Dump(*t.Fields.GetItem(i)));
    return out;
}

std::string Hex(const std::string& bytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : bytes) {
        if (!out.empty()) out += ' ';
        out += digits[c >> 4];
        out += digits[c & 15];
    }
    return out;
}

std::string Written(const TSemTableData& t)
{
    rtl::TMemoryStream out;
    t.SaveAdditionalData(out);
    return out.ToString();
}

// A memory stream that notes the DataVersion in force at every read.
class VersionSpyStream : public rtl::TMemoryStream {
public:
    using rtl::TMemoryStream::TMemoryStream;
    std::vector<std::uint16_t> seen;
    std::size_t Read(void* buffer, std::size_t count) override
    {
        seen.push_back(DataVersion);
        return rtl::TMemoryStream::Read(buffer, count);
    }
};

rtl::RefPtr<TSemTableData> Load(FakeTableDef& def, const std::string& blob)
{
    auto t = rtl::MakeRef<TSemTableData>();
    rtl::TMemoryStream in(blob);
    t->LoadStructure(def, &in);
    return t;
}

const std::string kRoadID = "0001000000AA";
const std::string kRoadIDLower = "0001000000aa";

// ---- structure from the table definition ----------------------------------------

TEST(SemTableStructure, FieldsAndIndexesComeFromTheTableDefinition)
{
    auto def = RoadsTable();
    auto t = rtl::MakeRef<TSemTableData>();
    t->LoadStructure(*def, nullptr);

    ASSERT_EQ(t->Fields.Count(), 4);
    struct Expect {
        const char* name;
        TUdbDataType type;
        std::int32_t size;
        bool required;
    };
    const Expect expect[] = {
        {"KOD", udtString, 12, true},
        {"NAME", udtString, 64, false},
        {"ROADTYPE", udtInteger, -1, false},
        {"ПОКРЫТИЕ", udtString, 20, false},
    };
    for (int i = 0; i < 4; ++i) {
        const TSemFieldData* f = t->Fields.GetItem(i);
        SCOPED_TRACE(expect[i].name);
        EXPECT_EQ(f->Name, expect[i].name);
        EXPECT_EQ(f->Caption, expect[i].name);
        EXPECT_EQ(f->DataType, expect[i].type);
        EXPECT_EQ(f->DataSize, expect[i].size);
        EXPECT_EQ(f->Required, expect[i].required);
        EXPECT_EQ(f->ID, 0);
        EXPECT_EQ(f->RefBookID, 0);
        EXPECT_EQ(f->RefBookKeyField, "");
        EXPECT_EQ(f->RefBookDisplayFields.Count(), 0);
        EXPECT_EQ(f->RefCount(), 1) << "the list's reference only";
    }
    ASSERT_EQ(t->Indexes.Count(), 2);
    EXPECT_EQ(t->Indexes.GetItem(0)->Fields, "KOD");
    EXPECT_TRUE(t->Indexes.GetItem(0)->Primary);
    EXPECT_TRUE(t->Indexes.GetItem(0)->Unique);
    EXPECT_EQ(t->Indexes.GetItem(1)->Fields, "NAME;KOD");
    EXPECT_FALSE(t->Indexes.GetItem(1)->Primary);
    EXPECT_FALSE(t->Indexes.GetItem(1)->Unique);
}

TEST(SemTableStructure, LoadingAgainReplacesTheListsAndReleasesTheOldItems)
{
    auto def = RoadsTable();
    auto t = Load(*def, Header(287, 1) + StreamRec("KOD", "Код", kRoadID, "ID", {"NAME"}));
    const rtl::RefPtr<TSemFieldData> kept(t->Fields.GetItem(0));
    ASSERT_EQ(kept->RefCount(), 2);

    def->fields.resize(2);
    def->indexes.resize(1);
    t->LoadStructure(*def, nullptr);
    EXPECT_THAT(Dump(*t), ElementsAre("KOD|KOD|-||", "NAME|NAME|-||"));
    EXPECT_EQ(t->Indexes.Count(), 1);
    EXPECT_NE(t->Fields.GetItem(0), kept.get());
    EXPECT_EQ(kept->RefCount(), 1) << "the old list dropped its reference";
    EXPECT_EQ(kept->Caption, "Код") << "an object held elsewhere keeps its values";
}

TEST(SemTableStructure, AFailingTableDefinitionLeavesTheListsAsTheyWere)
{
    auto def = RoadsTable();
    auto t = Load(*def, Header(287, 1) + StreamRec("NAME", "Название", ""));
    def->failAtField = 2;
    EXPECT_THROW(t->LoadStructure(*def, nullptr), rtl::Exception);
    EXPECT_THAT(Dump(*t), ElementsAre("KOD|KOD|-||", "NAME|Название|-||", "ROADTYPE|ROADTYPE|-||",
                                      "ПОКРЫТИЕ|ПОКРЫТИЕ|-||"));
    EXPECT_EQ(t->Indexes.Count(), 2);

    TFieldDataList plain;
    plain.LoadFromTableDef(*RoadsTable(), FieldDataClassOf<TFieldData>());
    EXPECT_THROW(plain.LoadFromTableDef(*def, FieldDataClassOf<TFieldData>()), rtl::Exception);
    EXPECT_EQ(plain.Count(), 4);
}

TEST(SemTableStructure, FindFieldIgnoresLetterCaseOfLatinAndCyrillic)
{
    auto def = RoadsTable();
    TSemFieldDataList fields;
    fields.LoadFromTableDef(*def, FieldDataClassOf<TSemFieldData>());
    struct Case {
        const char* name;
        const char* query;
        int expected; // position, -1 for none
    } const cases[] = {
        {"exact", "NAME", 1},
        {"lower case Latin", "roadtype", 2},
        {"mixed case Cyrillic", "Покрытие", 3},
        {"absent", "WIDTH", -1},
        {"prefix is not a match", "KO", -1},
        {"empty", "", -1},
    };
    for (const Case& c : cases) {
        const TFieldData* expected = c.expected < 0 ? nullptr : fields.GetItem(c.expected);
        EXPECT_EQ(fields.FindField(c.query), expected) << c.name;
    }
}

TEST(SemTableStructure, GetItemChecksTheIndexAndTheKindOfField)
{
    auto def = RoadsTable();
    TSemFieldDataList fields;
    fields.LoadFromTableDef(*def, FieldDataClassOf<TSemFieldData>());
    EXPECT_THROW(fields.GetItem(4), rtl::EListError);
    EXPECT_THROW(fields.GetItem(-1), rtl::EListError);

    fields.LoadFromTableDef(*def, FieldDataClassOf<TFieldData>());
    EXPECT_EQ(fields.TFieldDataList::GetItem(0)->Name, "KOD");
    EXPECT_THROW(fields.GetItem(0), rtl::EInvalidCast);

    TIndexDataList indexes;
    indexes.LoadFromTableDef(*def);
    EXPECT_THROW(indexes.GetItem(2), rtl::EListError);
}

// ---- reading every accepted layout ------------------------------------------------

struct ReadCase {
    const char* name;
    std::string blob;
    std::vector<std::string> fields; // Dump of the four columns afterwards
};

const std::vector<std::string> kUntouched = {"KOD|KOD|-||", "NAME|NAME|-||", "ROADTYPE|ROADTYPE|-||",
                                             "ПОКРЫТИЕ|ПОКРЫТИЕ|-||"};

std::vector<ReadCase> ReadCases()
{
    const std::string v287 = Header(287, 3) + StreamRec("KOD", "Код дороги", kRoadID, "ID", {"NAME", "TYPE"}) +
                             StreamRec("ROADTYPE", "Тип", "") + StreamRec("ПОКРЫТИЕ", "Покрытие", "");
    return {
        {"no stream bytes at all", "", kUntouched},
        {"fewer than 33 bytes", std::string(32, '\x01'), kUntouched},
        {"version 287 with a reference book and display fields", v287,
         {"KOD|Код дороги|" + kRoadID + "|ID|NAME;TYPE", "NAME|NAME|-||", "ROADTYPE|Тип|-||",
          "ПОКРЫТИЕ|Покрытие|-||"}},
        {"version 284, the first with stream strings",
         Header(284, 2) + StreamRec("NAME", "Название", kRoadIDLower, "ID", {}) + StreamRec("KOD", "Код", ""),
         {"KOD|Код|-||", "NAME|Название|" + kRoadID + "|ID|", "ROADTYPE|ROADTYPE|-||", "ПОКРЫТИЕ|ПОКРЫТИЕ|-||"}},
        {"version 283 with the signature: fixed strings, caption is the name",
         Header(283, 2) + FixedRec("KOD", "ID", kRoadID, {"NAME", "ROADTYPE"}) + FixedRec("roadtype", "", ""),
         {"KOD|KOD|" + kRoadID + "|ID|NAME;ROADTYPE", "NAME|NAME|-||", "ROADTYPE|roadtype|-||",
          "ПОКРЫТИЕ|ПОКРЫТИЕ|-||"}},
        {"no signature: the 31 bytes are skipped and version 283 is read",
         NoSignature() + U16(1) + FixedRec("покрытие", "КОД", kRoadID, {"Название"}),
         {"KOD|KOD|-||", "NAME|NAME|-||", "ROADTYPE|ROADTYPE|-||",
          "ПОКРЫТИЕ|покрытие|" + kRoadID + "|КОД|Название"}},
        {"version 0 with the signature reads the fixed layout",
         Header(0, 1) + FixedRec("NAME", "K", kRoadID), {"KOD|KOD|-||", "NAME|NAME|" + kRoadID + "|K|",
                                                           "ROADTYPE|ROADTYPE|-||", "ПОКРЫТИЕ|ПОКРЫТИЕ|-||"}},
        {"the padding after the signature text is not compared",
         Signature().substr(0, 22) + std::string(9, '\x7F') + U16(287) + U16(1) + StreamRec("KOD", "Код", ""),
         {"KOD|Код|-||", "NAME|NAME|-||", "ROADTYPE|ROADTYPE|-||", "ПОКРЫТИЕ|ПОКРЫТИЕ|-||"}},
        {"a record in lower case applies to the upper-case column",
         Header(287, 1) + StreamRec("name", "Название", ""),
         {"KOD|KOD|-||", "NAME|Название|-||", "ROADTYPE|ROADTYPE|-||", "ПОКРЫТИЕ|ПОКРЫТИЕ|-||"}},
        {"a record of an unknown column is skipped",
         Header(287, 2) + StreamRec("WIDTH", "Ширина", kRoadID, "ID", {"A", "B"}) + StreamRec("KOD", "Код", ""),
         {"KOD|Код|-||", "NAME|NAME|-||", "ROADTYPE|ROADTYPE|-||", "ПОКРЫТИЕ|ПОКРЫТИЕ|-||"}},
        {"an empty identifier ends the record even when the next bytes look like a key field",
         Header(287, 2) + StreamRec("KOD", "Код", "") + StreamRec("NAME", "ID", kRoadID, "ID", {"KOD"}),
         {"KOD|Код|-||", "NAME|ID|" + kRoadID + "|ID|KOD", "ROADTYPE|ROADTYPE|-||", "ПОКРЫТИЕ|ПОКРЫТИЕ|-||"}},
        {"an unreadable identifier gives no reference book but keeps key and display fields",
         Header(287, 1) + StreamRec("KOD", "Код", "00010000ZZZZ", "ID", {"NAME"}),
         {"KOD|Код|-|ID|NAME", "NAME|NAME|-||", "ROADTYPE|ROADTYPE|-||", "ПОКРЫТИЕ|ПОКРЫТИЕ|-||"}},
        {"an identifier text is cut to 12 characters before it is parsed",
         Header(287, 1) + StreamRec("KOD", "Код", kRoadID + "XYZ", "ID", {}),
         {"KOD|Код|" + kRoadID + "|ID|", "NAME|NAME|-||", "ROADTYPE|ROADTYPE|-||", "ПОКРЫТИЕ|ПОКРЫТИЕ|-||"}},
        {"a later record of the same column wins",
         Header(287, 2) + StreamRec("KOD", "Первый", kRoadID, "ID", {"NAME"}) + StreamRec("kod", "Второй", ""),
         {"KOD|Второй|-||", "NAME|NAME|-||", "ROADTYPE|ROADTYPE|-||", "ПОКРЫТИЕ|ПОКРЫТИЕ|-||"}},
        {"field count 0", Header(287, 0), kUntouched},
        {"a negative field count reads no records", Header(287, -1), kUntouched},
        {"a negative display count reads no display fields",
         Header(287, 1) + SS("KOD") + SS("Код") + SS(kRoadID) + SS("ID") + U16(0xFFFF),
         {"KOD|Код|" + kRoadID + "|ID|", "NAME|NAME|-||", "ROADTYPE|ROADTYPE|-||", "ПОКРЫТИЕ|ПОКРЫТИЕ|-||"}},
        {"a 254-prefixed negative length reads as an empty string",
         Header(287, 1) + SS("KOD") + std::string("\xFE\xFF\xFF\xFF\xFF", 5) + SS(""),
         {"KOD||-||", "NAME|NAME|-||", "ROADTYPE|ROADTYPE|-||", "ПОКРЫТИЕ|ПОКРЫТИЕ|-||"}},
    };
}

TEST(SemTableBlobRead, EveryAcceptedLayoutAppliesItsRecords)
{
    auto def = RoadsTable();
    for (const ReadCase& c : ReadCases()) {
        SCOPED_TRACE(c.name);
        auto t = rtl::MakeRef<TSemTableData>();
        rtl::TMemoryStream in(c.blob);
        ASSERT_NO_THROW(t->LoadStructure(*def, &in));
        EXPECT_THAT(Dump(*t), ElementsAreArray(c.fields));
        EXPECT_EQ(t->Indexes.Count(), 2);
        EXPECT_EQ(DataVersion, CurrentDataVersion);
    }
}

TEST(SemTableBlobRead, ReadingStartsAtTheStreamPosition)
{
    auto def = RoadsTable();
    const std::string blob = Header(287, 1) + StreamRec("KOD", "Код", "");
    rtl::TMemoryStream in("PREFIX" + blob);
    in.SetPosition(6);
    auto t = rtl::MakeRef<TSemTableData>();
    t->LoadStructure(*def, &in);
    EXPECT_EQ(t->Fields.GetItem(0)->Caption, "Код");
    EXPECT_EQ(in.Position(), static_cast<std::int64_t>(6 + blob.size()));
}

TEST(SemTableBlobRead, NamesAreCutToSixtyFourCharactersBeforeTheLookup)
{
    const std::string name64(64, 'N');
    const std::string name70 = name64 + "OVERLN";
    auto def = rtl::MakeRef<FakeTableDef>();
    def->fields = {{name70, udtString, 10, false}, {name64, udtString, 10, false}};
    // The key field is cut as well; the caption and display fields are not.
    const std::string caption70(70, 'C');
    auto t = Load(*def, Header(287, 1) + StreamRec(name70, caption70, kRoadID, name70, {name70}));
    EXPECT_EQ(t->Fields.GetItem(0)->Caption, name70) << "the longer column matches no record";
    const TSemFieldData* cut = t->Fields.GetItem(1);
    EXPECT_EQ(cut->Caption, caption70);
    EXPECT_EQ(cut->RefBookKeyField, name64);
    ASSERT_EQ(cut->RefBookDisplayFields.Count(), 1);
    EXPECT_EQ(cut->RefBookDisplayFields.Get(0), name70);
}

TEST(SemTableBlobRead, DataVersionIsTheBlobsWhileReadingAndRestoredAfter)
{
    struct Case {
        const char* name;
        std::string blob;
        std::uint16_t during; // at the reads after the header
    } const cases[] = {
        {"version 284", Header(284, 1) + StreamRec("KOD", "Код", ""), 284},
        {"version 283 with the signature", Header(283, 1) + FixedRec("KOD", "", ""), 283},
        {"no signature", NoSignature() + U16(1) + FixedRec("KOD", "", ""), 283},
    };
    auto def = RoadsTable();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TDataVersionScope outer(270); // a value the reader must give back, not 287
        VersionSpyStream in(c.blob);
        auto t = rtl::MakeRef<TSemTableData>();
        t->LoadStructure(*def, &in);
        ASSERT_GE(in.seen.size(), 2u);
        EXPECT_EQ(in.seen.back(), c.during);
        EXPECT_EQ(DataVersion, 270);
    }
}

// ---- writing ------------------------------------------------------------------------

TEST(SemTableBlobWrite, BytesFollowTheCurrentLayout)
{
    struct Field {
        std::string name, caption;
        BinID refBook;
        std::string key;
        std::vector<std::string> display;
    };
    struct Case {
        const char* name;
        std::vector<Field> fields;
        std::string expected;
    };
    const std::string sig = Signature();
    const std::string long300(300, 'L');
    const Case cases[] = {
        {"one field X captioned Y without a reference book is 40 bytes",
         {{"X", "Y", 0, "", {}}},
         sig + std::string("\x1F\x01\x01\x00\x01\x58\x01\x59\x00", 9)},
        {"no fields", {}, sig + std::string("\x1F\x01\x00\x00", 4)},
        {"a reference book adds its identifier, key field and display fields",
         {{"KOD", "Код", 0x0001000000AALL, "ID", {"NAME", ""}}},
         sig + U16(287) + U16(1) + SS("KOD") + SS("Код") + SS(kRoadID) + SS("ID") + U16(2) + SS("NAME") + std::string(1, '\0')},
        {"a reference book without display fields",
         {{"A", "A", 0x0001000000AALL, "", {}}},
         sig + U16(287) + U16(1) + SS("A") + SS("A") + SS(kRoadID) + SS("") + U16(0)},
        {"a key field and display fields without a reference book are not written",
         {{"A", "B", 0, "ID", {"NAME"}}},
         sig + U16(287) + U16(1) + SS("A") + SS("B") + std::string(1, '\0')},
        {"a 300-character caption is FE, the length 300 and the bytes",
         {{"A", long300, 0, "", {}}},
         sig + U16(287) + U16(1) + SS("A") + std::string("\xFE\x2C\x01\x00\x00", 5) + long300 +
             std::string(1, '\0')},
        {"a 253-character caption keeps its one length byte",
         {{"A", std::string(253, 'L'), 0, "", {}}},
         sig + U16(287) + U16(1) + SS("A") + std::string("\xFD") + std::string(253, 'L') + std::string(1, '\0')},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto t = rtl::MakeRef<TSemTableData>();
        for (const Field& f : c.fields) {
            auto field = rtl::MakeRef<TSemFieldData>();
            field->Name = f.name;
            field->Caption = f.caption;
            field->RefBookID = f.refBook;
            field->RefBookKeyField = f.key;
            for (const auto& d : f.display) field->RefBookDisplayFields.Add(d);
            t->Fields.Add(field.get());
        }
        EXPECT_EQ(Hex(Written(*t)), Hex(c.expected));
    }
    EXPECT_EQ(Written(*rtl::MakeRef<TSemTableData>()).size(), 35u);
}

TEST(SemTableBlobWrite, WritesTheCurrentVersionEvenInsideARead)
{
    const TDataVersionScope reading(283);
    auto t = rtl::MakeRef<TSemTableData>();
    EXPECT_EQ(Hex(Written(*t).substr(31, 2)), "1F 01");
}

TEST(SemTableBlobWrite, AFieldThatCannotBeStoredWritesNothing)
{
    struct Case {
        const char* name;
        std::function<void(TSemFieldData&)> spoil;
    } const cases[] = {
        {"a caption outside Windows-1251", [](TSemFieldData& f) { f.Caption = "Дорога \xE2\x98\x83"; }},
        {"a display field outside Windows-1251",
         [](TSemFieldData& f) {
             f.RefBookID = 0x10000000001LL;
             f.RefBookDisplayFields.Add("\xE4\xB8\xAD");
         }},
        {"more than 32767 display fields",
         [](TSemFieldData& f) {
             f.RefBookID = 0x10000000001LL;
             for (int i = 0; i < 32768; ++i) f.RefBookDisplayFields.Add("A");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto t = rtl::MakeRef<TSemTableData>();
        t->LoadStructure(*RoadsTable(), nullptr);
        c.spoil(*t->Fields.GetItem(3));
        rtl::TMemoryStream out("KEEP");
        out.SetPosition(4);
        EXPECT_THROW(t->SaveAdditionalData(out), rtl::Exception);
        EXPECT_EQ(out.ToString(), "KEEP");
    }
}

TEST(SemTableBlobWrite, MoreThan32767FieldsAreRefused)
{
    auto def = rtl::MakeRef<FakeTableDef>();
    def->fields.assign(32768, TUdbFieldDef{"F", udtInteger, -1, false});
    auto t = rtl::MakeRef<TSemTableData>();
    t->LoadStructure(*def, nullptr);
    rtl::TMemoryStream out;
    EXPECT_THROW(t->SaveAdditionalData(out), rtl::EWriteError);
    EXPECT_EQ(out.Size(), 0);
}

// ---- rewriting: what a read and a write change ------------------------------------

TEST(SemTableBlobRewrite, EveryLayoutIsWrittenBackInTheCurrentOne)
{
    const std::string kod287 = StreamRec("KOD", "Код дороги", kRoadID, "ID", {"NAME", "TYPE"});
    const std::string rest287 =
        StreamRec("NAME", "NAME", "") + StreamRec("ROADTYPE", "Тип", "") + StreamRec("ПОКРЫТИЕ", "ПОКРЫТИЕ", "");
    struct Case {
        const char* name;
        std::string blob;
        std::string rewritten;
    } const cases[] = {
        {"a version-287 blob of every column in table order comes back byte for byte",
         Header(287, 4) + kod287 + rest287, Header(287, 4) + kod287 + rest287},
        {"an empty blob gains a record per column", "",
         Header(287, 4) + StreamRec("KOD", "KOD", "") + StreamRec("NAME", "NAME", "") +
             StreamRec("ROADTYPE", "ROADTYPE", "") + StreamRec("ПОКРЫТИЕ", "ПОКРЫТИЕ", "")},
        {"version 284: records follow the columns' order and names, identifiers are upper-cased",
         Header(284, 2) + StreamRec("name", "Название", kRoadIDLower, "ID", {}) + StreamRec("WIDTH", "Ширина", ""),
         Header(287, 4) + StreamRec("KOD", "KOD", "") + StreamRec("NAME", "Название", kRoadID, "ID", {}) +
             StreamRec("ROADTYPE", "ROADTYPE", "") + StreamRec("ПОКРЫТИЕ", "ПОКРЫТИЕ", "")},
        {"version 283 with the signature: fixed strings become stream strings",
         Header(283, 1) + FixedRec("KOD", "ID", kRoadID, {"NAME", "TYPE"}),
         Header(287, 4) + StreamRec("KOD", "KOD", kRoadID, "ID", {"NAME", "TYPE"}) + StreamRec("NAME", "NAME", "") +
             StreamRec("ROADTYPE", "ROADTYPE", "") + StreamRec("ПОКРЫТИЕ", "ПОКРЫТИЕ", "")},
        {"no signature: the header is written and the 31 skipped bytes are gone",
         NoSignature() + U16(1) + FixedRec("ПОКРЫТИЕ", "КОД", kRoadID, {"Название"}),
         Header(287, 4) + StreamRec("KOD", "KOD", "") + StreamRec("NAME", "NAME", "") +
             StreamRec("ROADTYPE", "ROADTYPE", "") + StreamRec("ПОКРЫТИЕ", "ПОКРЫТИЕ", kRoadID, "КОД", {"Название"})},
        {"an unreadable identifier loses its key and display fields",
         Header(287, 1) + StreamRec("KOD", "Код", "NOT-AN-ID", "ID", {"NAME"}),
         Header(287, 4) + StreamRec("KOD", "Код", "") + StreamRec("NAME", "NAME", "") +
             StreamRec("ROADTYPE", "ROADTYPE", "") + StreamRec("ПОКРЫТИЕ", "ПОКРЫТИЕ", "")},
        {"the padding after the signature text is written as zeros",
         Signature().substr(0, 22) + std::string(9, '\x7F') + U16(287) + U16(4) + kod287 + rest287,
         Header(287, 4) + kod287 + rest287},
    };
    auto def = RoadsTable();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto first = Load(*def, c.blob);
        const std::string rewritten = Written(*first);
        EXPECT_EQ(Hex(rewritten), Hex(c.rewritten));
        EXPECT_EQ(Hex(Written(*Load(*def, rewritten))), Hex(rewritten)) << "a second rewrite changes nothing";
    }
}

TEST(SemTableBlobRewrite, ARenumberedReferenceBookIsWrittenBack)
{
    auto def = RoadsTable();
    auto t = Load(*def, Header(287, 1) + StreamRec("KOD", "Код", kRoadID, "ID", {"NAME"}));
    t->Fields.GetItem(0)->RefBookID = 0x00020000000BLL;
    auto again = Load(*def, Written(*t));
    EXPECT_EQ(Dump(*again->Fields.GetItem(0)), "KOD|Код|00020000000B|ID|NAME");
}

// ---- refusing malformed blobs ------------------------------------------------------

struct BadCase {
    const char* name;
    std::string blob;
    const char* message; // a part of the expected message
};

std::vector<BadCase> BadCases()
{
    const std::string one = StreamRec("KOD", "Код", "");
    return {
        {"version 288", Header(288, 1) + one, "версии 288 не поддерживаются"},
        {"version 65535", Header(0xFFFF, 0), "версии 65535 не поддерживаются"},
        {"a byte after the last record", Header(287, 1) + one + std::string(1, '\0'), "лишние байты (1)"},
        {"bytes after a negative field count", Header(287, -1) + one, "лишние байты (9)"},
        {"bytes after the last fixed record", NoSignature() + U16(1) + FixedRec("KOD", "", "") + "xy",
         "лишние байты (2)"},
        {"only the signature and the version", Header(287, 0).substr(0, 33), "данные обрываются (поле FieldCount"},
        {"a name longer than the bytes left", Header(287, 1) + "\x0A" "KOD", "запись 1 из 1, поле Name"},
        {"a caption with a 254 prefix and a huge length",
         Header(287, 1) + SS("KOD") + std::string("\xFE\xFF\xFF\xFF\x7F", 5) + "abc", "поле Caption"},
        {"a 254 prefix cut inside its length", Header(287, 1) + SS("KOD") + std::string("\xFE\x01\x00", 3),
         "поле Caption"},
        {"a field count beyond what the bytes can hold", Header(287, 30000) + one,
         "число элементов 30000 не помещается в оставшиеся 9 байт"},
        {"a display count beyond what the bytes can hold",
         Header(287, 1) + SS("KOD") + SS("K") + SS(kRoadID) + SS("ID") + U16(1000) + SS("A"),
         "число элементов 1000 не помещается в оставшиеся 2 байт"},
        {"a fixed name with length byte 65",
         Header(283, 1) + std::string(1, '\x41') + std::string(64, 'A') + Fixed(64, "") + Fixed(12, "") + U16(0),
         "длина строки 65 больше размера поля 64 (запись 1 из 1, поле Name"},
        {"a fixed identifier with length byte 13",
         Header(283, 1) + Fixed(64, "KOD") + Fixed(64, "") + std::string(1, '\x0D') + std::string(12, '0') + U16(0),
         "длина строки 13 больше размера поля 12 (запись 1 из 1, поле RefBookID"},
        {"a fixed display field cut short",
         NoSignature() + U16(1) + FixedRec("KOD", "ID", kRoadID, {"A"}).substr(0, 150), "поле DisplayCount"},
        {"the second of two records missing", Header(287, 2) + one, "данные обрываются (запись 2 из 2, поле Name"},
    };
}

// Reads blob into a description loaded before from a sound blob; returns the
// message raised, "" when nothing was.
std::string RefusedMessage(const std::string& blob, TSemTableData& t, FakeTableDef& def)
{
    try {
        rtl::TMemoryStream in(blob);
        t.LoadStructure(def, &in);
    } catch (const EAdditionalDataError& e) {
        return e.Message();
    } catch (const std::exception& e) {
        return std::string("unexpected exception: ") + e.what();
    }
    return "";
}

TEST(SemTableBlobRefused, MalformedBlobsAreRefusedAndChangeNothing)
{
    auto def = RoadsTable();
    const std::string sound = Header(287, 1) + StreamRec("NAME", "Название", kRoadID, "ID", {"KOD"});
    for (const BadCase& c : BadCases()) {
        SCOPED_TRACE(c.name);
        auto t = Load(*def, sound);
        const std::vector<std::string> before = Dump(*t);
        const TDataVersionScope outer(270);
        const std::string message = RefusedMessage(c.blob, *t, *def);
        EXPECT_THAT(message, HasSubstr(c.message));
        EXPECT_EQ(DataVersion, 270);
        EXPECT_EQ(Dump(*t), before);
        EXPECT_EQ(t->Indexes.Count(), 2);
    }
}

TEST(SemTableBlobRefused, ABlobCutAnywhereAfterItsFirst33BytesIsRefused)
{
    auto def = RoadsTable();
    const std::string blobs[] = {
        Header(287, 3) + StreamRec("KOD", "Код", kRoadID, "ID", {"NAME", std::string(300, 'D')}) +
            StreamRec("NAME", "Название", "") + StreamRec("ROADTYPE", "Тип", kRoadID, "", {}),
        Header(283, 2) + FixedRec("KOD", "ID", kRoadID, {"NAME", "TYPE"}) + FixedRec("NAME", "", ""),
        NoSignature() + U16(1) + FixedRec("KOD", "ID", kRoadID, {"NAME"}),
    };
    for (const std::string& blob : blobs) {
        for (std::size_t cut = 33; cut < blob.size(); ++cut) {
            SCOPED_TRACE(cut);
            auto t = rtl::MakeRef<TSemTableData>();
            EXPECT_THAT(RefusedMessage(blob.substr(0, cut), *t, *def), HasSubstr("повреждены"));
            EXPECT_EQ(DataVersion, CurrentDataVersion);
            EXPECT_EQ(t->Fields.Count(), 0);
        }
        auto t = rtl::MakeRef<TSemTableData>();
        EXPECT_EQ(RefusedMessage(blob, *t, *def), "") << "the whole blob reads";
    }
}

// ---- records, without a table definition ----------------------------------------------

using Record = TAdditionalDataRecord;

TEST(SemTableRecords, EveryStoredRecordIsReadWhole)
{
    const std::string name70(70, 'N');
    const std::string key70(70, 'K');
    struct Case {
        const char* name;
        std::string blob;
        std::uint16_t version;
        std::vector<Record> records;
    } const cases[] = {
        {"version 287: unknown columns, long names and key fields, texts as stored",
         Header(287, 4) + StreamRec("GONE", "Снесено", kRoadIDLower, "ID", {"NAME"}) +
             StreamRec(name70, "Длинное", kRoadID + "XY", key70, {}) + StreamRec("KOD", "Код", "") +
             StreamRec("BAD", "B", "NOT-AN-ID", "ID", {"A", "B"}),
         287,
         {{"GONE", "Снесено", kRoadIDLower, "ID", {"NAME"}},
          {name70, "Длинное", kRoadID + "XY", key70, {}},
          {"KOD", "Код", "", "", {}},
          {"BAD", "B", "NOT-AN-ID", "ID", {"A", "B"}}}},
        {"version 284", Header(284, 1) + StreamRec("name", "Название", kRoadID, "ID", {}), 284,
         {{"name", "Название", kRoadID, "ID", {}}}},
        {"version 283 with the signature: the caption is the name",
         Header(283, 1) + FixedRec("GONE", "ID", kRoadID, {"NAME", "TYPE"}), 283,
         {{"GONE", "GONE", kRoadID, "ID", {"NAME", "TYPE"}}}},
        {"no signature: version 283, a key field kept without a reference book",
         NoSignature() + U16(1) + FixedRec("KOD", "ID", "", {}), 283, {{"KOD", "KOD", "", "ID", {}}}},
        {"fewer than 33 bytes: no additional data", Header(287, 0).substr(0, 32), 0, {}},
        {"empty", "", 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const TDataVersionScope outer(270);
        rtl::TMemoryStream in(c.blob);
        const TAdditionalData data = ReadAdditionalDataRecords(in);
        EXPECT_EQ(data.Version, c.version);
        EXPECT_EQ(data.Records, c.records);
        EXPECT_EQ(DataVersion, 270);
    }
}

TEST(SemTableRecords, TheReferenceBookIsReadAsADescriptionReadsIt)
{
    const struct {
        std::string text;
        BinID id;
    } cases[] = {
        {kRoadID, 0x0001000000AALL},   {kRoadIDLower, 0x0001000000AALL}, {kRoadID + "XY", 0x0001000000AALL},
        {"", 0},                       {"NOT-AN-ID", 0},                 {"0001000000A", 0},
    };
    for (const auto& c : cases) EXPECT_EQ((Record{"A", "A", c.text, "", {}}.RefBookID()), c.id) << c.text;
}

TEST(SemTableRecords, MalformedBlobsAreRefusedAsByTheDescription)
{
    for (const BadCase& c : BadCases()) {
        SCOPED_TRACE(c.name);
        const TDataVersionScope outer(270);
        rtl::TMemoryStream in(c.blob);
        try {
            ReadAdditionalDataRecords(in);
            ADD_FAILURE() << "nothing raised";
        } catch (const EAdditionalDataError& e) {
            EXPECT_THAT(e.Message(), HasSubstr(c.message));
        }
        EXPECT_EQ(DataVersion, 270);
    }
}

TEST(SemTableRecords, WritingGivesTheCurrentLayoutAndReadsBackWhole)
{
    const std::string name300(300, 'N');
    const std::vector<Record> records = {
        {"GONE", "Снесено", "0002000003e9", "ID", {"NAME", ""}},
        {name300, "Длинное", kRoadID, std::string(70, 'K'), {}},
        {"KOD", "Код", "", "", {}},
        {"BAD", "B", "NOT-AN-ID", "ID", {"A"}},
    };
    const std::string expected = Header(287, 4) + StreamRec("GONE", "Снесено", "0002000003e9", "ID", {"NAME", ""}) +
                                 StreamRec(name300, "Длинное", kRoadID, std::string(70, 'K'), {}) +
                                 StreamRec("KOD", "Код", "") + StreamRec("BAD", "B", "NOT-AN-ID", "ID", {"A"});
    rtl::TMemoryStream out;
    WriteAdditionalDataRecords(out, records);
    EXPECT_EQ(Hex(out.ToString()), Hex(expected));
    rtl::TMemoryStream in(out.ToString());
    EXPECT_EQ(ReadAdditionalDataRecords(in).Records, records);

    // A record without a reference book has no place for a key or display fields.
    rtl::TMemoryStream bare;
    WriteAdditionalDataRecords(bare, {{"KOD", "KOD", "", "ID", {"NAME"}}});
    EXPECT_EQ(Hex(bare.ToString()), Hex(Header(287, 1) + StreamRec("KOD", "KOD", "")));
}

TEST(SemTableRecords, ARecordThatCannotBeStoredWritesNothing)
{
    const std::vector<std::vector<Record>> cases = {
        {{"KOD", "Дорога \xE2\x98\x83", "", "", {}}},
        {{"KOD", "KOD", kRoadID, "ID", std::vector<std::string>(32768, "A")}},
        std::vector<Record>(32768, Record{"F", "F", "", "", {}}),
    };
    for (const auto& records : cases) {
        rtl::TMemoryStream out("KEEP");
        out.SetPosition(4);
        EXPECT_THROW(WriteAdditionalDataRecords(out, records), rtl::Exception);
        EXPECT_EQ(out.ToString(), "KEEP");
    }
}

// A description read from the records' blob sees what the records say: the
// records are the blob's content, the description a view of it.
TEST(SemTableRecords, ADescriptionReadsWhatTheRecordsWrite)
{
    auto def = RoadsTable();
    rtl::TMemoryStream out;
    WriteAdditionalDataRecords(out, {{"kod", "Код", "0001000000aa", "ID", {"NAME"}}, {"GONE", "G", kRoadID, "ID", {}}});
    auto t = Load(*def, out.ToString());
    EXPECT_THAT(Dump(*t), ElementsAre("KOD|Код|0001000000AA|ID|NAME", "NAME|NAME|-||", "ROADTYPE|ROADTYPE|-||",
                                      "ПОКРЫТИЕ|ПОКРЫТИЕ|-||"));
}

// ---- XML form of field descriptions -------------------------------------------------

// An element of a document that stays alive with it.
struct Element {
    IXmlDocumentPtr doc = CreateXmlDocument("Field");
    IXmlElementPtr e = doc->Get_DocumentElement();
    IXmlElement& operator*() const { return *e; }
    IXmlElement* operator->() const { return e.get(); }
};

std::vector<std::string> AttrNames(IXmlNode& node)
{
    std::vector<std::string> names;
    for (int i = 0; i < node.Get_AttrCount(); ++i) names.push_back(node.Get_AttrName(i));
    return names;
}

TEST(FieldDataXml, AttributesAreWrittenOnlyWhenTheyCarrySomething)
{
    struct Case {
        const char* name;
        std::function<void(TSemFieldData&)> fill;
        std::vector<std::string> attrs;
        bool readsBackTheSame = true;
    } const cases[] = {
        {"caption equal to the name, no size, not required, no reference book",
         [](TSemFieldData& f) { f.Caption = f.Name; }, {"ID", "Name", "DataType"}},
        {"every plain attribute",
         [](TSemFieldData& f) {
             f.Caption = "Код";
             f.DataSize = 12;
             f.Required = true;
         },
         {"ID", "Name", "Caption", "DataType", "DataSize", "Required"}},
        {"a key field without a reference book is not written",
         [](TSemFieldData& f) {
             f.Caption = f.Name;
             f.RefBookKeyField = "ID";
         },
         {"ID", "Name", "DataType"},
         false},
        {"a reference book writes all three of its attributes",
         [](TSemFieldData& f) {
             f.Caption = f.Name;
             f.RefBookID = 0x0001000000AALL;
         },
         {"ID", "Name", "DataType", "RefBookID", "RefBookKeyField", "RefBookDisplayFields"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto f = rtl::MakeRef<TSemFieldData>();
        f->ID = 0x00030000000FLL;
        f->Name = "KOD";
        f->DataType = udtPicture;
        c.fill(*f);
        const Element e;
        f->SaveToXml(*e);
        EXPECT_EQ(AttrNames(*e), c.attrs);
        EXPECT_EQ(e->GetAttr("ID"), "00030000000F");
        EXPECT_EQ(e->GetAttr("DataType"), "Picture");

        auto back = rtl::MakeRef<TSemFieldData>();
        back->LoadFromXml(*e);
        if (c.readsBackTheSame)
            EXPECT_EQ(Dump(*back), Dump(*f));
        else
            EXPECT_EQ(Dump(*back), "KOD|KOD|-||");
        EXPECT_EQ(back->ID, f->ID);
        EXPECT_EQ(back->DataType, f->DataType);
        EXPECT_EQ(back->DataSize, f->DataSize);
        EXPECT_EQ(back->Required, f->Required);
    }
}

TEST(FieldDataXml, ReadingAppliesDefaultsAndSplitsDisplayFields)
{
    const Element e;
    e->SetAttr("ID", "0001000000aa");
    e->SetAttr("Name", "KOD");
    e->SetAttr("DataType", "String");
    e->SetAttr("RefBookID", kRoadID);
    e->SetAttr("RefBookKeyField", "ID");
    e->SetAttr("RefBookDisplayFields", "NAME;;TYPE");
    auto f = rtl::MakeRef<TSemFieldData>();
    f->LoadFromXml(*e);
    EXPECT_EQ(f->ID, 0x0001000000AALL);
    EXPECT_EQ(Dump(*f), "KOD|KOD|" + kRoadID + "|ID|NAME;;TYPE");
    EXPECT_EQ(f->RefBookDisplayFields.Count(), 3);
    EXPECT_EQ(f->DataType, udtString);
    EXPECT_EQ(f->DataSize, 0);
    EXPECT_FALSE(f->Required);

    e->SetAttr("RefBookDisplayFields", "");
    f->LoadFromXml(*e);
    EXPECT_EQ(f->RefBookDisplayFields.Count(), 0);
}

TEST(FieldDataXml, AMissingOrBadAttributeChangesNothing)
{
    struct Case {
        const char* name;
        const char* remove; // attribute taken away, or nullptr
        const char* dataType;
    } const cases[] = {
        {"no ID", "ID", "String"},
        {"no Name", "Name", "String"},
        {"no DataType", "DataType", "String"},
        {"a data type name in the wrong case", nullptr, "string"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Element e;
        e->SetAttr("ID", kRoadID);
        e->SetAttr("Name", "NEW");
        e->SetAttr("DataType", c.dataType);
        if (c.remove) e->RemoveAttr(c.remove);
        auto f = rtl::MakeRef<TFieldData>();
        f->Name = "OLD";
        f->Caption = "Старое";
        f->DataType = udtInteger;
        EXPECT_THROW(f->LoadFromXml(*e), rtl::Exception);
        EXPECT_EQ(f->Name, "OLD");
        EXPECT_EQ(f->Caption, "Старое");
        EXPECT_EQ(f->ID, 0);
        EXPECT_EQ(f->DataType, udtInteger);
    }
}

} // namespace
