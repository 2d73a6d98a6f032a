// Tests of the graphics vocabulary and drawing defaults: the name tables with
// their entries and counts, the named colours, the default pen and brush, the
// four lists and the nine hatch bitmaps made at start-up.
#include "CoreLib/GraphicUtils.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "platform/rtl/Exceptions.h"

namespace {

using ::testing::ElementsAre;

template <std::size_t N>
std::vector<std::string> Names(const std::array<const char*, N>& names)
{
    return std::vector<std::string>(names.begin(), names.end());
}

TEST(GraphicUtilsNames, TablesHoldTheirEntriesInOrder)
{
    EXPECT_THAT(Names(PenStyleNames), ElementsAre("Solid", "Dash", "Dot", "DashDot", "DashDotDot", "Clear", "InsideFrame"));
    EXPECT_THAT(Names(PenModeNames),
                ElementsAre("Black", "White", "Nop", "Not", "Copy", "NotCopy", "MergePenNot", "MaskPenNot", "MergeNotPen",
                            "MaskNotPen", "Merge", "NotMerge", "Mask", "NotMask", "Xor", "NotXor"));
    EXPECT_THAT(Names(BrushStyleNames),
                ElementsAre("Solid", "Clear", "Horizontal", "Vertical", "FDiagonal", "BDiagonal", "Cross", "DiagCross"));
    EXPECT_THAT(Names(FontPitchNames), ElementsAre("Default", "Variable", "Fixed"));
    // The enumerations index the tables.
    EXPECT_STREQ(PenStyleNames[psInsideFrame], "InsideFrame");
    EXPECT_STREQ(PenModeNames[pmCopy], "Copy");
    EXPECT_STREQ(BrushStyleNames[bsDiagCross], "DiagCross");
    EXPECT_STREQ(FontPitchNames[fpFixed], "Fixed");
}

TEST(GraphicUtilsNames, NamedColours)
{
    ASSERT_EQ(ColorNames.size(), 168u);
    std::set<std::string> distinct;
    for (const TColorName& c : ColorNames) distinct.insert(c.Name);
    EXPECT_EQ(distinct.size(), 168u);

    // 140 keywords in alphabetical order, then 28 system keywords, also in order.
    for (std::size_t i = 1; i < ColorNames.size(); ++i) {
        if (i == 140) continue;
        EXPECT_LT(std::string(ColorNames[i - 1].Name), std::string(ColorNames[i].Name)) << i;
    }
    EXPECT_STREQ(ColorNames[0].Name, "aliceblue");
    EXPECT_STREQ(ColorNames[139].Name, "yellowgreen");
    EXPECT_STREQ(ColorNames[140].Name, "activeborder");
    EXPECT_STREQ(ColorNames[167].Name, "windowtext");
    for (std::size_t i = 0; i < 140; ++i) {
        EXPECT_EQ(ColorNames[i].Color & 0xFF000000u, 0u) << ColorNames[i].Name;
        EXPECT_EQ(std::string(ColorNames[i].Name).find("grey"), std::string::npos) << "the gray spellings";
    }

    const struct {
        const char* name;
        TColorValue color;
    } cases[] = {
        {"aliceblue", 0xF0F8FF},  {"black", 0x000000},      {"white", 0xFFFFFF},     {"gray", 0x808080},
        {"darkgray", 0xA9A9A9},   {"lightgray", 0xD3D3D3},  {"green", 0x008000},     {"lime", 0x00FF00},
        {"maroon", 0x800000},     {"purple", 0x800080},     {"olive", 0x808000},     {"teal", 0x008080},
        {"silver", 0xC0C0C0},     {"navy", 0x000080},       {"aqua", 0x00FFFF},      {"cyan", 0x00FFFF},
        {"fuchsia", 0xFF00FF},    {"crimson", 0xDC143C},    {"indigo", 0x4B0082},    {"orange", 0xFFA500},
        {"rosybrown", 0xBC8F8F},  {"yellowgreen", 0x9ACD32},
        {"scrollbar", 0xFF000000}, {"background", 0xFF000001}, {"activeborder", 0xFF00000A},
        {"buttonface", 0xFF00000F}, {"threedface", 0xFF00000F}, {"windowtext", 0xFF000008},
        {"infobackground", 0xFF000018}, {"threedlightshadow", 0xFF000016},
    };
    for (const auto& c : cases) {
        const TColorName* found = nullptr;
        for (const TColorName& n : ColorNames)
            if (std::string(n.Name) == c.name) found = &n;
        ASSERT_NE(found, nullptr) << c.name;
        EXPECT_EQ(found->Color, c.color) << c.name;
    }
}

TEST(GraphicUtilsObjects, MadeAtStartUp)
{
    EXPECT_EQ(DefaultPen().Color, 0x000000u);
    EXPECT_EQ(DefaultPen().Width, 1);
    EXPECT_EQ(DefaultPen().Style, psSolid);
    EXPECT_EQ(DefaultPen().Mode, pmCopy);
    EXPECT_EQ(DefaultBrush().Color, 0xFFFFFFu);
    EXPECT_EQ(DefaultBrush().Style, bsSolid);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(GraphicsObjectList(i).Count(), 0) << i;
    EXPECT_NE(&GraphicsObjectList(0), &GraphicsObjectList(3));
    EXPECT_EQ(GraphicBitmapCount(), 9);
}

TEST(GraphicUtilsObjects, HatchBitmapsAreDiagonalTiles)
{
    ASSERT_EQ(HatchBitmapNames.size(), 9u);
    for (int i = 0; i < HatchBitmapCount; ++i) {
        const int pitch = i + 2;
        EXPECT_EQ(HatchBitmapNames[static_cast<std::size_t>(i)], "HOLLOW_" + std::to_string(pitch));
        const TMonoBitmap& b = HatchBitmap(i);
        ASSERT_EQ(b.Width(), pitch);
        ASSERT_EQ(b.Height(), pitch);
        for (int y = 0; y < pitch; ++y) {
            int set = 0;
            for (int x = 0; x < pitch; ++x) {
                EXPECT_EQ(b.Pixel(x, y), (x + y) % pitch == 0) << pitch << ": " << x << "," << y;
                set += b.Pixel(x, y) ? 1 : 0;
            }
            EXPECT_EQ(set, 1) << "one pixel of each row";
        }
    }
    EXPECT_THROW(HatchBitmap(9), rtl::EAssertionFailed);
    EXPECT_THROW(HatchBitmap(0).Pixel(2, 0), rtl::EAssertionFailed);
}

} // namespace
