// Drawing defaults, hatch patterns and graphics name tables, set up when the
// unit starts and freed when it ends.
#include "CoreLib/GraphicUtils.h"

#include "platform/rtl/Exceptions.h"

TMonoBitmap::TMonoBitmap(int width, int height)
    : width_(width), height_(height), bits_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height))
{
    RTL_ASSERT(width > 0 && height > 0, "Bitmap size out of range");
}

std::size_t TMonoBitmap::Index(int x, int y) const
{
    RTL_ASSERT(x >= 0 && x < width_ && y >= 0 && y < height_, "Pixel out of range");
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) + static_cast<std::size_t>(x);
}

bool TMonoBitmap::Pixel(int x, int y) const { return bits_[Index(x, y)]; }

void TMonoBitmap::SetPixel(int x, int y, bool value) { bits_[Index(x, y)] = value; }

const std::array<const char*, 7> PenStyleNames = {"Solid", "Dash", "Dot", "DashDot", "DashDotDot", "Clear",
                                                  "InsideFrame"};
const std::array<const char*, 16> PenModeNames = {
    "Black", "White", "Nop", "Not", "Copy", "NotCopy", "MergePenNot", "MaskPenNot",
    "MergeNotPen", "MaskNotPen", "Merge", "NotMerge", "Mask", "NotMask", "Xor", "NotXor",
};
const std::array<const char*, 8> BrushStyleNames = {"Solid", "Clear", "Horizontal", "Vertical",
                                                    "FDiagonal", "BDiagonal", "Cross", "DiagCross"};
const std::array<const char*, 3> FontPitchNames = {"Default", "Variable", "Fixed"};

const std::array<TColorName, 168> ColorNames = {{
    {"aliceblue", 0xF0F8FF},
    {"antiquewhite", 0xFAEBD7},
    {"aqua", 0x00FFFF},
    {"aquamarine", 0x7FFFD4},
    {"azure", 0xF0FFFF},
    {"beige", 0xF5F5DC},
    {"bisque", 0xFFE4C4},
    {"black", 0x000000},
    {"blanchedalmond", 0xFFEBCD},
    {"blue", 0x0000FF},
    {"blueviolet", 0x8A2BE2},
    {"brown", 0xA52A2A},
    {"burlywood", 0xDEB887},
    {"cadetblue", 0x5F9EA0},
    {"chartreuse", 0x7FFF00},
    {"chocolate", 0xD2691E},
    {"coral", 0xFF7F50},
    {"cornflowerblue", 0x6495ED},
    {"cornsilk", 0xFFF8DC},
    {"crimson", 0xDC143C},
    {"cyan", 0x00FFFF},
    {"darkblue", 0x00008B},
    {"darkcyan", 0x008B8B},
    {"darkgoldenrod", 0xB8860B},
    {"darkgray", 0xA9A9A9},
    {"darkgreen", 0x006400},
    {"darkkhaki", 0xBDB76B},
    {"darkmagenta", 0x8B008B},
    {"darkolivegreen", 0x556B2F},
    {"darkorange", 0xFF8C00},
    {"darkorchid", 0x9932CC},
    {"darkred", 0x8B0000},
    {"darksalmon", 0xE9967A},
    {"darkseagreen", 0x8FBC8F},
    {"darkslateblue", 0x483D8B},
    {"darkslategray", 0x2F4F4F},
    {"darkturquoise", 0x00CED1},
    {"darkviolet", 0x9400D3},
    {"deeppink", 0xFF1493},
    {"deepskyblue", 0x00BFFF},
    {"dimgray", 0x696969},
    {"dodgerblue", 0x1E90FF},
    {"firebrick", 0xB22222},
    {"floralwhite", 0xFFFAF0},
    {"forestgreen", 0x228B22},
    {"fuchsia", 0xFF00FF},
    {"gainsboro", 0xDCDCDC},
    {"ghostwhite", 0xF8F8FF},
    {"gold", 0xFFD700},
    {"goldenrod", 0xDAA520},
    {"gray", 0x808080},
    {"green", 0x008000},
    {"greenyellow", 0xADFF2F},
    {"honeydew", 0xF0FFF0},
    {"hotpink", 0xFF69B4},
    {"indianred", 0xCD5C5C},
    {"indigo", 0x4B0082},
    {"ivory", 0xFFFFF0},
    {"khaki", 0xF0E68C},
    {"lavender", 0xE6E6FA},
    {"lavenderblush", 0xFFF0F5},
    {"lawngreen", 0x7CFC00},
    {"lemonchiffon", 0xFFFACD},
    {"lightblue", 0xADD8E6},
    {"lightcoral", 0xF08080},
    {"lightcyan", 0xE0FFFF},
    {"lightgoldenrodyellow", 0xFAFAD2},
    {"lightgray", 0xD3D3D3},
    {"lightgreen", 0x90EE90},
    {"lightpink", 0xFFB6C1},
    {"lightsalmon", 0xFFA07A},
    {"lightseagreen", 0x20B2AA},
    {"lightskyblue", 0x87CEFA},
    {"lightslategray", 0x778899},
    {"lightsteelblue", 0xB0C4DE},
    {"lightyellow", 0xFFFFE0},
    {"lime", 0x00FF00},
    {"limegreen", 0x32CD32},
    {"linen", 0xFAF0E6},
    {"magenta", 0xFF00FF},
    {"maroon", 0x800000},
    {"mediumaquamarine", 0x66CDAA},
    {"mediumblue", 0x0000CD},
    {"mediumorchid", 0xBA55D3},
    {"mediumpurple", 0x9370DB},
    {"mediumseagreen", 0x3CB371},
    {"mediumslateblue", 0x7B68EE},
    {"mediumspringgreen", 0x00FA9A},
    {"mediumturquoise", 0x48D1CC},
    {"mediumvioletred", 0xC71585},
    {"midnightblue", 0x191970},
    {"mintcream", 0xF5FFFA},
    {"mistyrose", 0xFFE4E1},
    {"moccasin", 0xFFE4B5},
    {"navajowhite", 0xFFDEAD},
    {"navy", 0x000080},
    {"oldlace", 0xFDF5E6},
    {"olive", 0x808000},
    {"olivedrab", 0x6B8E23},
    {"orange", 0xFFA500},
    {"orangered", 0xFF4500},
    {"orchid", 0xDA70D6},
    {"palegoldenrod", 0xEEE8AA},
    {"palegreen", 0x98FB98},
    {"paleturquoise", 0xAFEEEE},
    {"palevioletred", 0xDB7093},
    {"papayawhip", 0xFFEFD5},
    {"peachpuff", 0xFFDAB9},
    {"peru", 0xCD853F},
    {"pink", 0xFFC0CB},
    {"plum", 0xDDA0DD},
    {"powderblue", 0xB0E0E6},
    {"purple", 0x800080},
    {"red", 0xFF0000},
    {"rosybrown", 0xBC8F8F},
    {"royalblue", 0x4169E1},
    {"saddlebrown", 0x8B4513},
    {"salmon", 0xFA8072},
    {"sandybrown", 0xF4A460},
    {"seagreen", 0x2E8B57},
    {"seashell", 0xFFF5EE},
    {"sienna", 0xA0522D},
    {"silver", 0xC0C0C0},
    {"skyblue", 0x87CEEB},
    {"slateblue", 0x6A5ACD},
    {"slategray", 0x708090},
    {"snow", 0xFFFAFA},
    {"springgreen", 0x00FF7F},
    {"steelblue", 0x4682B4},
    {"tan", 0xD2B48C},
    {"teal", 0x008080},
    {"thistle", 0xD8BFD8},
    {"tomato", 0xFF6347},
    {"turquoise", 0x40E0D0},
    {"violet", 0xEE82EE},
    {"wheat", 0xF5DEB3},
    {"white", 0xFFFFFF},
    {"whitesmoke", 0xF5F5F5},
    {"yellow", 0xFFFF00},
    {"yellowgreen", 0x9ACD32},
    // system colours: 0xFF000000 plus the system-colour index
    {"activeborder", SystemColor(10)},
    {"activecaption", SystemColor(2)},
    {"appworkspace", SystemColor(12)},
    {"background", SystemColor(1)},
    {"buttonface", SystemColor(15)},
    {"buttonhighlight", SystemColor(20)},
    {"buttonshadow", SystemColor(16)},
    {"buttontext", SystemColor(18)},
    {"captiontext", SystemColor(9)},
    {"graytext", SystemColor(17)},
    {"highlight", SystemColor(13)},
    {"highlighttext", SystemColor(14)},
    {"inactiveborder", SystemColor(11)},
    {"inactivecaption", SystemColor(3)},
    {"inactivecaptiontext", SystemColor(19)},
    {"infobackground", SystemColor(24)},
    {"infotext", SystemColor(23)},
    {"menu", SystemColor(4)},
    {"menutext", SystemColor(7)},
    {"scrollbar", SystemColor(0)},
    {"threeddarkshadow", SystemColor(21)},
    {"threedface", SystemColor(15)},
    {"threedhighlight", SystemColor(20)},
    {"threedlightshadow", SystemColor(22)},
    {"threedshadow", SystemColor(16)},
    {"window", SystemColor(5)},
    {"windowframe", SystemColor(6)},
    {"windowtext", SystemColor(8)},
}};

const std::array<const char*, HatchBitmapCount> HatchBitmapNames = {
    "HOLLOW_2", "HOLLOW_3", "HOLLOW_4", "HOLLOW_5", "HOLLOW_6", "HOLLOW_7", "HOLLOW_8", "HOLLOW_9", "HOLLOW_10",
};

namespace {

int bitmapCount = 0;

// Diagonal lines pitch pixels apart, as a pitch x pitch tile.
std::unique_ptr<TMonoBitmap> MakeHatch(int pitch)
{
    auto bitmap = std::make_unique<TMonoBitmap>(pitch, pitch);
    for (int y = 0; y < pitch; ++y)
        for (int x = 0; x < pitch; ++x) bitmap->SetPixel(x, y, (x + y) % pitch == 0);
    ++bitmapCount;
    return bitmap;
}

void FreeBitmap(std::unique_ptr<TMonoBitmap>& bitmap)
{
    if (!bitmap) return;
    bitmap.reset();
    --bitmapCount;
}

// The unit's objects; the members are freed in the reverse order of their
// declaration, after the bitmaps.
struct TGraphicUtilsUnit {
    std::array<TObjectList<TGraphicsObject>, 4> lists;
    TBrushData brush;
    TPenData pen;
    std::array<std::unique_ptr<TMonoBitmap>, HatchBitmapCount> hatches;

    TGraphicUtilsUnit()
    {
        for (int i = 0; i < HatchBitmapCount; ++i) hatches[static_cast<std::size_t>(i)] = MakeHatch(i + 2);
    }
    ~TGraphicUtilsUnit()
    {
        for (auto& bitmap : hatches) FreeBitmap(bitmap);
    }
    TGraphicUtilsUnit(const TGraphicUtilsUnit&) = delete;
    TGraphicUtilsUnit& operator=(const TGraphicUtilsUnit&) = delete;
};

TGraphicUtilsUnit& Unit()
{
    static TGraphicUtilsUnit unit;
    return unit;
}

// Start-up.
[[maybe_unused]] const TGraphicUtilsUnit& startUp = Unit();

} // namespace

const TPenData& DefaultPen() { return Unit().pen; }

const TBrushData& DefaultBrush() { return Unit().brush; }

TObjectList<TGraphicsObject>& GraphicsObjectList(int index)
{
    RTL_ASSERT(index >= 0 && index < 4, "List index out of range");
    return Unit().lists[static_cast<std::size_t>(index)];
}

const TMonoBitmap& HatchBitmap(int index)
{
    RTL_ASSERT(index >= 0 && index < HatchBitmapCount, "Bitmap index out of range");
    return *Unit().hatches[static_cast<std::size_t>(index)];
}

int GraphicBitmapCount() noexcept { return bitmapCount; }
