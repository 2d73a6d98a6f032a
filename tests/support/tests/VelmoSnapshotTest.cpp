// The pair snapshot: every column of every row, sector blobs decoded, and a
// difference that names only the rows that changed.
#include "tests/support/VelmoSnapshot.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "tests/support/VelmoFixture.h"

namespace {

using namespace velmotest;
using ::testing::ElementsAre;

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

} // namespace
