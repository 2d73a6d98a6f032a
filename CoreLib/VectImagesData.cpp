// The default formats of a table cell and the cell vocabulary. Records are
// laid out byte by byte, so they do not depend on the machine.
#include "CoreLib/VectImagesData.h"

#include <cstring>
#include <string_view>

#include "platform/rtl/Exceptions.h"

const std::array<int, FormatKindCount> FormatRecordSizes = {83, 5, 9, 9, 9, 9, 11, 23, 23, 23, 23, 9, 9};

const std::array<const char*, 4> PictureKindNames = {"None", "Metafile", "Icon", "Bitmap"};
const std::array<const char*, 3> PictureStretchNames = {"None", "FitToBounds", "Proportional"};
const std::array<const char*, 3> VertAlignmentNames = {"Top", "Center", "Bottom"};
const std::array<const char*, 3> HorzAlignmentNames = {"Left", "Center", "Right"};
const std::array<const char*, 4> TextDirectionNames = {"LeftToRight", "RightToLeft", "TopToBottom", "BottomToTop"};
const std::array<const char*, 3> TextJustificationNames = {"LeftJustify", "RightJustify", "Center"};
const std::array<const char*, FormatKindCount> FormatKindNames = {
    "Font", "TextFormat", "LeftIndent", "TopIndent", "RightIndent", "BottomIndent", "Brush",
    "LeftPen", "TopPen", "RightPen", "BottomPen", "ColWidth", "RowHeight",
};
const std::array<const char*, 3> FormatScopeNames = {"Col", "Row", "Cell"};

namespace {

// Writes little-endian values into a record from a position on.
class TRecordWriter {
public:
    explicit TRecordWriter(std::vector<std::uint8_t>& record) : record_(record) {}
    TRecordWriter& Byte(std::uint8_t v)
    {
        record_.at(pos_++) = v;
        return *this;
    }
    TRecordWriter& Le(std::uint64_t v, int size)
    {
        for (int i = 0; i < size; ++i) Byte(static_cast<std::uint8_t>(v >> (8 * i)));
        return *this;
    }
    TRecordWriter& Double(double d)
    {
        std::uint64_t bits = 0;
        std::memcpy(&bits, &d, sizeof bits);
        return Le(bits, 8);
    }
    TRecordWriter& Skip(int n)
    {
        pos_ += static_cast<std::size_t>(n);
        return *this;
    }
    // A length byte and a field of maxLength characters.
    TRecordWriter& ShortString(std::string_view s, int maxLength)
    {
        Byte(static_cast<std::uint8_t>(s.size()));
        for (const char c : s) Byte(static_cast<std::uint8_t>(c));
        return Skip(maxLength - static_cast<int>(s.size()));
    }

private:
    std::vector<std::uint8_t>& record_;
    std::size_t pos_ = 0;
};

void FillRecord(int kind, std::vector<std::uint8_t>& record)
{
    record.assign(static_cast<std::size_t>(FormatRecordSizes[static_cast<std::size_t>(kind)]), 0);
    TRecordWriter w(record);
    w.Byte(static_cast<std::uint8_t>(kind));
    switch (kind) {
    case fkFont: w.ShortString("arial", 63).Skip(5).Le(10, 2).Double(1.0).Byte(0).Byte(204); break;
    case fkTextFormat: w.Le(17, 4); break;
    case fkLeftIndent:
    case fkTopIndent:
    case fkRightIndent:
    case fkBottomIndent: w.Double(0.0); break;
    case fkBrush: w.Byte(0).Le(0xFFFFFF, 4).Le(0, 4).Byte(0); break;
    case fkLeftPen:
    case fkTopPen:
    case fkRightPen:
    case fkBottomPen: w.Byte(0).Le(0, 4).Le(0, 4).Double(1.0).Le(0, 4).Byte(4); break;
    case fkColWidth: w.Double(0.02); break;
    case fkRowHeight: w.Double(0.008); break;
    default: break;
    }
}

void CheckKind(int kind) { RTL_ASSERT(kind >= 0 && kind < FormatKindCount, "Format kind out of range"); }

} // namespace

TFormatDataList::TFormatDataList(std::uint16_t mask) { FillDefaults(mask); }

void TFormatDataList::FillDefaults(std::uint16_t mask)
{
    for (int kind = 0; kind < FormatKindCount; ++kind)
        if ((mask & (1u << kind)) && records_[static_cast<std::size_t>(kind)].empty())
            FillRecord(kind, records_[static_cast<std::size_t>(kind)]);
}

bool TFormatDataList::HasRecord(int kind) const { return !Record(kind).empty(); }

const std::vector<std::uint8_t>& TFormatDataList::Record(int kind) const
{
    CheckKind(kind);
    return records_[static_cast<std::size_t>(kind)];
}

std::vector<std::uint8_t>& TFormatDataList::Record(int kind)
{
    CheckKind(kind);
    return records_[static_cast<std::size_t>(kind)];
}

TFormatDataList& GlobalFormatDataList()
{
    static TFormatDataList list(AllFormatKinds);
    return list;
}

namespace {
// Start-up.
[[maybe_unused]] const TFormatDataList& startUp = GlobalFormatDataList();
} // namespace
