// Tests of the default cell formats: each record laid out as written by hand
// from its table, the mask filling only empty slots, the global list made at
// start-up, and the cell vocabulary.
#include "CoreLib/VectImagesData.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/rtl/Exceptions.h"
#include "tests/support/TestHelpers.h"

namespace {

using ::testing::ElementsAre;
using testing_support::LeBytes;

std::string Bytes(const std::vector<std::uint8_t>& record) { return std::string(record.begin(), record.end()); }

template <std::size_t N>
std::vector<std::string> Names(const std::array<const char*, N>& names)
{
    return std::vector<std::string>(names.begin(), names.end());
}

// The expected record of each kind.
std::string Expected(int kind)
{
    LeBytes b;
    b.U8(kind);
    switch (kind) {
    case fkFont:
        b.U8(5).Raw("arial").Fill(58, 0).Fill(5, 0).I16(10).Dbl(1.0).U8(0).U8(204).U8(0);
        break;
    case fkTextFormat: b.I32(17); break;
    case fkBrush: b.U8(0).I32(0xFFFFFF).I32(0).U8(0); break;
    case fkLeftPen:
    case fkTopPen:
    case fkRightPen:
    case fkBottomPen: b.U8(0).I32(0).I32(0).Dbl(1.0).I32(0).U8(4); break;
    case fkColWidth: b.Dbl(0.02); break;
    case fkRowHeight: b.Dbl(0.008); break;
    default: b.Dbl(0.0); break; // the four indents
    }
    return b.str();
}

TEST(CellFormats, RecordsAsTheTableLaysThemOut)
{
    EXPECT_THAT(std::vector<int>(FormatRecordSizes.begin(), FormatRecordSizes.end()),
                ElementsAre(83, 5, 9, 9, 9, 9, 11, 23, 23, 23, 23, 9, 9));
    const TFormatDataList list(AllFormatKinds);
    for (int kind = 0; kind < FormatKindCount; ++kind) {
        ASSERT_TRUE(list.HasRecord(kind)) << kind;
        EXPECT_EQ(list.Record(kind).size(), static_cast<std::size_t>(FormatRecordSizes[static_cast<std::size_t>(kind)]));
        EXPECT_EQ(Bytes(list.Record(kind)), Expected(kind)) << FormatKindNames[static_cast<std::size_t>(kind)];
    }
    EXPECT_EQ(Expected(fkFont).size(), 83u);
}

TEST(CellFormats, MaskFillsOnlyEmptySelectedSlots)
{
    TFormatDataList list(static_cast<std::uint16_t>(1u << fkBrush | 1u << fkRowHeight));
    for (int kind = 0; kind < FormatKindCount; ++kind)
        EXPECT_EQ(list.HasRecord(kind), kind == fkBrush || kind == fkRowHeight) << kind;
    list.Record(fkBrush)[2] = 0x12;
    list.FillDefaults(AllFormatKinds);
    EXPECT_EQ(list.Record(fkBrush)[2], 0x12) << "a slot holding a record keeps it";
    EXPECT_EQ(Bytes(list.Record(fkFont)), Expected(fkFont));
    EXPECT_FALSE(TFormatDataList().HasRecord(fkFont));
    EXPECT_THROW(list.Record(13), rtl::EAssertionFailed);
}

TEST(CellFormats, GlobalListHoldsEveryKind)
{
    for (int kind = 0; kind < FormatKindCount; ++kind)
        EXPECT_EQ(Bytes(GlobalFormatDataList().Record(kind)), Expected(kind)) << kind;
}

TEST(CellFormats, NameTables)
{
    EXPECT_THAT(Names(PictureKindNames), ElementsAre("None", "Metafile", "Icon", "Bitmap"));
    EXPECT_THAT(Names(PictureStretchNames), ElementsAre("None", "FitToBounds", "Proportional"));
    EXPECT_THAT(Names(VertAlignmentNames), ElementsAre("Top", "Center", "Bottom"));
    EXPECT_THAT(Names(HorzAlignmentNames), ElementsAre("Left", "Center", "Right"));
    EXPECT_THAT(Names(TextDirectionNames), ElementsAre("LeftToRight", "RightToLeft", "TopToBottom", "BottomToTop"));
    EXPECT_THAT(Names(TextJustificationNames), ElementsAre("LeftJustify", "RightJustify", "Center"));
    EXPECT_THAT(Names(FormatKindNames),
                ElementsAre("Font", "TextFormat", "LeftIndent", "TopIndent", "RightIndent", "BottomIndent", "Brush",
                            "LeftPen", "TopPen", "RightPen", "BottomPen", "ColWidth", "RowHeight"));
    EXPECT_THAT(Names(FormatScopeNames), ElementsAre("Col", "Row", "Cell"));
    EXPECT_STREQ(FormatKindNames[fkRowHeight], "RowHeight");
}

} // namespace
