// Drawing defaults, hatch patterns and the name tables of the graphics
// vocabulary.
//
// The drawing objects are plain data, with no display behind them: a pen, a
// brush and monochrome bitmaps. When the unit starts it makes the default pen
// and brush, four empty object lists and the nine hatch bitmaps "HOLLOW_2" to
// "HOLLOW_10"; it frees them when it ends. Nothing else in the program reads
// them.
//
// The hatch bitmaps are this program's own patterns: "HOLLOW_n" is an n x n
// tile whose set pixels are those with (x + y) mod n = 0, so that tiled it
// draws diagonal lines n pixels apart.
//
// Named colours: the 140 colour keywords of CSS 3 (with the "gray" spellings)
// from "aliceblue" to "yellowgreen" as 0xRRGGBB, then the 28 CSS system-colour
// keywords from "activeborder" to "windowtext" as 0xFF000000 plus the index of
// the system colour of that role.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "CoreLib/XLists.h"

// 0xRRGGBB, or 0xFF000000 plus a system-colour index.
using TColorValue = std::uint32_t;

constexpr TColorValue SystemColor(int index) noexcept { return 0xFF000000u + static_cast<TColorValue>(index); }

enum TPenStyle : std::uint8_t { psSolid, psDash, psDot, psDashDot, psDashDotDot, psClear, psInsideFrame };
enum TPenMode : std::uint8_t {
    pmBlack, pmWhite, pmNop, pmNot, pmCopy, pmNotCopy, pmMergePenNot, pmMaskPenNot,
    pmMergeNotPen, pmMaskNotPen, pmMerge, pmNotMerge, pmMask, pmNotMask, pmXor, pmNotXor,
};
enum TBrushStyle : std::uint8_t { bsSolid, bsClear, bsHorizontal, bsVertical, bsFDiagonal, bsBDiagonal, bsCross, bsDiagCross };
enum TFontPitch : std::uint8_t { fpDefault, fpVariable, fpFixed };

// The base of the drawing objects the unit's lists hold.
class TGraphicsObject {
public:
    virtual ~TGraphicsObject() = default;
};

class TPenData : public TGraphicsObject {
public:
    TColorValue Color = 0x000000;
    int Width = 1;
    TPenStyle Style = psSolid;
    TPenMode Mode = pmCopy;
};

class TBrushData : public TGraphicsObject {
public:
    TColorValue Color = 0xFFFFFF;
    TBrushStyle Style = bsSolid;
};

// A monochrome bitmap: one bit per pixel, rows from the top.
class TMonoBitmap : public TGraphicsObject {
public:
    TMonoBitmap(int width, int height);
    int Width() const noexcept { return width_; }
    int Height() const noexcept { return height_; }
    // x in 0..Width - 1, y in 0..Height - 1 (an assertion otherwise).
    bool Pixel(int x, int y) const;
    void SetPixel(int x, int y, bool value);

private:
    std::size_t Index(int x, int y) const;

    int width_;
    int height_;
    std::vector<bool> bits_;
};

extern const std::array<const char*, 7> PenStyleNames;
extern const std::array<const char*, 16> PenModeNames;
extern const std::array<const char*, 8> BrushStyleNames;
extern const std::array<const char*, 3> FontPitchNames;

struct TColorName {
    const char* Name;
    TColorValue Color;
};
extern const std::array<TColorName, 168> ColorNames;

inline constexpr int HatchBitmapCount = 9;
// "HOLLOW_2" ... "HOLLOW_10".
extern const std::array<const char*, HatchBitmapCount> HatchBitmapNames;

// The unit's objects, made when it starts.
const TPenData& DefaultPen();
const TBrushData& DefaultBrush();
// index 0 to 3.
TObjectList<TGraphicsObject>& GraphicsObjectList(int index);
// index 0 to 8, in the order of HatchBitmapNames.
const TMonoBitmap& HatchBitmap(int index);
// The bitmaps the unit has made and not freed yet.
int GraphicBitmapCount() noexcept;
