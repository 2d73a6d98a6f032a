// The pair snapshot: every column of every row, sector blobs and
// semantic-table descriptions decoded, and a difference that names only the
// rows that changed.
#include "tests/support/VelmoSnapshot.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/rtl/Cp1251.h"
#include "tests/support/TestHelpers.h"
#include "tests/support/VelmoFixture.h"

namespace {

using namespace velmotest;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

TEST(VelmoSnapshot, ShowsEveryColumnDecodesSectorsAndDiffsByRow)
{
    TVelmoDbPair pair(TVelmoDesc()
                          .Layer(Id(1, 2), "", "Roads")
                          .Sector(TSectorDesc(Id(1, 3), Id(1, 2), {{Id(1, 10), {Id(1, 4), Id(1, 5)}}}))
                          .SemTable(TSemTableDesc(Id(1, 6), Id(1, 2), "Attrs", "ATTRS")
                                        .Rows({{rtl::Variant(Id(1, 10)), rtl::Variant("v")}})));
    const TPairSnapshot before = SnapshotPair(pair.Spatial(), pair.Semantic());
    EXPECT_EQ(before.size(), 25u);
    EXPECT_THAT(before.at("sem:ATTRS"), ElementsAre("ID=00010000000A VALUE=v"));
    ASSERT_EQ(before.at("VELMO_SECTORS").size(), 1u);
    EXPECT_NE(before.at("VELMO_SECTORS")[0].find("OBJECTS={00010000000A [000100000004,000100000005]}"),
              std::string::npos)
        << before.at("VELMO_SECTORS")[0];
    EXPECT_TRUE(DiffSnapshots(before, before).empty());

    InsertRow(pair.Spatial(), "VELMO_AREAS", {{"ID", rtl::Variant(Id(1, 7))}, {"AREANAME", rtl::Variant("A")}});
    const std::vector<std::string> diff = DiffSnapshots(before, SnapshotPair(pair.Spatial(), pair.Semantic()));
    ASSERT_EQ(diff.size(), 1u);
    EXPECT_EQ(diff[0].rfind("VELMO_AREAS: + ID=000100000007 ", 0), 0u) << diff[0];
}


// A stream string of a UTF-8 text, stored in Windows-1251.
std::string SS(const std::string& utf8)
{
    const std::string bytes = rtl::Utf8ToCp1251(utf8);
    return std::string(1, static_cast<char>(bytes.size())) + bytes;
}

rtl::Variant BlobOf(const std::string& bytes) { return rtl::Variant(rtl::ByteArray(bytes.begin(), bytes.end())); }

TEST(VelmoSnapshot, DecodesTheRecordsOfSemanticTableDescriptions)
{
    using testing_support::LeBytes;
    const std::string signature = SS("Дополнительные данные") + std::string(9, '\0');
    const std::string v287 = signature + LeBytes().I16(287).I16(2).str() + SS("KOD") + SS("Код") + SS("") +
                             SS("TYPE") + SS("Тип") + SS(Id(1, 0xAB)) + SS("ID") + LeBytes().I16(2).str() +
                             SS("NAME") + SS("NOTE");
    const std::string fixed = std::string(31, 'Z') + LeBytes().I16(1).str() + std::string(1, '\3') + "OLD" +
                              std::string(61, '\0') + std::string(65, '\0') + std::string(13, '\0') +
                              LeBytes().I16(0).str();
    struct Case {
        const char* name;
        std::string bytes;
        std::string text;
    } const cases[] = {
        {"records with and without a reference book", v287,
         "v287 {KOD 'Код'; TYPE 'Тип' -> 0001000000AB key ID show [NAME,NOTE]}"},
        {"the layout before version 284", fixed, "v283 {OLD 'OLD'}"},
        {"too short to hold additional data", "\x01\x02", "x'0102'"},
        {"cut inside a record", v287.substr(0, v287.size() - 2), "<undecodable: "},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string text = DefaultBlobText("VELMO_SEMTABLS", "REFBOOKFIELD", BlobOf(c.bytes));
        EXPECT_EQ(text.substr(0, c.text.size()), c.text) << text;
    }
    // Other blob columns stay hexadecimal.
    EXPECT_EQ(DefaultBlobText("VELMO_STYLES", "DATA", BlobOf(v287)).substr(0, 6), "x'15C4");
}

// A GUID whose last group happens to read as an identifier of a small group
// is no identifier; identifiers beside other text are.
TEST(VelmoSnapshot, IdentifierTextsStandOnTheirOwn)
{
    EXPECT_THAT(IdentifierTexts("LOCALID=2 GLOBALID={EC6BDAFC-DAE6-435C-BFD3-00029342AEDF} IDCLASS=0"), IsEmpty());
    EXPECT_THAT(IdentifierTexts("ID=0002000003E9 OBJECTS={0001000000AB [0002000003EA]; x'0001000000ABCD'}"),
                ElementsAre("0002000003E9", "0001000000AB", "0002000003EA"));
}

} // namespace
