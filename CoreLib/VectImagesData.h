// The default formats of a table cell: thirteen records, one per format
// kind, each beginning with its kind byte, and the name tables of the cell
// vocabulary.
//
// Record layouts (little-endian, floating values 64-bit), with the defaults
// a slot is filled with:
//   Font (83 bytes): kind; the face name as a length byte and 63 characters
//     ("arial"); five zero bytes; the 16-bit size 10; the 64-bit value 1.0;
//     a zero byte; the character set 204 (Cyrillic); a zero byte.
//   TextFormat (5): kind; 32-bit text-format flags 17.
//   LeftIndent, TopIndent, RightIndent, BottomIndent (9 each): kind; 0.0.
//   Brush (11): kind; style byte 0 (solid); 32-bit colour 0xFFFFFF (white);
//     32-bit 0; a zero byte.
//   LeftPen, TopPen, RightPen, BottomPen (23 each): kind; style byte 0
//     (solid); two 32-bit zeros; 1.0; 32-bit 0; the byte 4.
//   ColWidth (9): kind; 0.02.   RowHeight (9): kind; 0.008.
// The unit's global list is made with every kind when the unit starts.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

enum TFormatKind : std::uint8_t {
    fkFont, fkTextFormat, fkLeftIndent, fkTopIndent, fkRightIndent, fkBottomIndent, fkBrush,
    fkLeftPen, fkTopPen, fkRightPen, fkBottomPen, fkColWidth, fkRowHeight,
};
inline constexpr int FormatKindCount = 13;
// Bit k selects kind k.
inline constexpr std::uint16_t AllFormatKinds = 0x1FFF;

extern const std::array<int, FormatKindCount> FormatRecordSizes;

// Thirteen slots, each empty or holding the record of its kind.
class TFormatDataList {
public:
    TFormatDataList() = default;
    // FillDefaults(mask).
    explicit TFormatDataList(std::uint16_t mask);

    // Allocates the empty slots selected by mask and fills them with the
    // defaults; slots already holding a record keep it.
    void FillDefaults(std::uint16_t mask);
    bool HasRecord(int kind) const;
    // The record of a kind (empty when its slot is); kind 0 to 12.
    const std::vector<std::uint8_t>& Record(int kind) const;
    std::vector<std::uint8_t>& Record(int kind);

private:
    std::array<std::vector<std::uint8_t>, FormatKindCount> records_;
};

extern const std::array<const char*, 4> PictureKindNames;
extern const std::array<const char*, 3> PictureStretchNames;
extern const std::array<const char*, 3> VertAlignmentNames;
extern const std::array<const char*, 3> HorzAlignmentNames;
extern const std::array<const char*, 4> TextDirectionNames;
extern const std::array<const char*, 3> TextJustificationNames;
extern const std::array<const char*, FormatKindCount> FormatKindNames;
extern const std::array<const char*, 3> FormatScopeNames;

// The unit's list, with every kind filled.
TFormatDataList& GlobalFormatDataList();
