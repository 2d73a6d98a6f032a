// Reading and writing the sector blob: objects, shapes and their outlines in
// every stored version (256 to 287), and the current format on writing.
//
// Version rules of the reader: the 16 skipped bytes of an object exist
// before 261; polylines carry their Closed byte from 257 on; frames are a
// 66-byte record before 261 and an outline from 261 on; shapes carry a kind
// word before 265 and are all outlines (kind 6) from 265 on. Outlines follow
// the layout rules of TContour for the same DataVersion.
#include "gismodel/SectorData.h"

#include <cmath>
#include <string>
#include <utility>

#include "CoreLib/Geomet.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Format.h"

namespace {

const char* const SLoadedOf = "Загружено %d из %d";
const char* const SBadSectorVersion = "Неизвестная версия данных сектора: %d";
const char* const SBadShapeKind = "Неизвестный тип фигуры: %d";
const char* const SBadShapeCount = "Неверное число фигур объекта: %d";
const char* const SBadPointCount = "Неверное число точек фигуры: %d";
const char* const STrailingBytes = "Лишние данные после последнего объекта сектора";
const char* const STooManyObjects = "Слишком много объектов сектора для записи: %d";
const char* const STooManyShapes = "Слишком много фигур объекта для записи: %d";

constexpr std::uint16_t kOldestVersion = 256;
constexpr int kMaxCount = 0x7FFF; // counts are signed 16-bit
constexpr std::int64_t kIdentifierBytes = 13;

// Bytes of the smallest shape record of a version.
std::int64_t MinShapeBytes()
{
    return DataVersion < 265 ? 2 + kIdentifierBytes : 8 + kIdentifierBytes;
}

void CheckFits(rtl::TStream& stream, std::int64_t count, std::int64_t minBytes, const char* message)
{
    if (count > 0 && count * minBytes > stream.Remaining())
        throw EDataFormatError(rtl::Format(message, static_cast<int>(count)));
}

BinID ReadIdentifierField(rtl::TStream& stream)
{
    const std::string field = stream.ReadBytes(kIdentifierBytes);
    if (static_cast<unsigned char>(field[0]) != 12) return 0;
    return StrToBinID(std::string_view(field).substr(1));
}

void WriteIdentifierField(rtl::TStream& stream, BinID id)
{
    std::string field(1, '\x0C');
    field += BinIDToStr(id);
    stream.WriteBytes(field);
}

TFloatPoint ReadPoint(rtl::TStream& stream)
{
    TFloatPoint p;
    p.X = stream.ReadDouble();
    p.Y = stream.ReadDouble();
    return p;
}

bool CanBuildFrame(const TFloatPoint& a, const TFloatPoint& b)
{
    const long double dx = static_cast<long double>(b.X) - a.X;
    const long double dy = static_cast<long double>(b.Y) - a.Y;
    const long double s = dx * dx + dy * dy;
    return s > 0 && std::isfinite(s);
}

void ReadPolyline(TContour& contour, int kind, rtl::TStream& stream)
{
    const std::int16_t n = stream.ReadI16();
    CheckFits(stream, n, 16, SBadPointCount);
    for (int i = 0; i < n; ++i) AppendLineTo(contour, ReadPoint(stream));
    const bool closed = DataVersion >= 257 ? stream.ReadU8() != 0 : kind == 2;
    if (closed) AppendClose(contour);
}

void ReadCircle(TContour& contour, rtl::TStream& stream)
{
    const TFloatPoint c = ReadPoint(stream);
    const double r = stream.ReadDouble();
    AppendMoveTo(contour, FloatPoint(c.X - r, c.Y));
    AppendArcTo(contour, FloatPoint(c.X + r, c.Y), 1.0);
    AppendArcClose(contour, 1.0);
}

// A frame: four corner points rebuilt as a closed rectangle from the first
// three; any other outline is taken as it is.
void ReadFrame(TContour& contour, rtl::TStream& stream)
{
    TContour t;
    if (DataVersion < 261) {
        const TFloatPoint origin = ReadPoint(stream);
        const double scale = stream.ReadDouble();
        stream.ReadBytes(2);
        const double angle = stream.ReadDouble();
        const double a = stream.ReadDouble();
        const double b = stream.ReadDouble();
        const double c = stream.ReadDouble();
        const double d = stream.ReadDouble();
        TCoordSys f;
        f.InitAngle(origin, angle);
        AppendMoveTo(t, origin);
        AppendMoveTo(t, f.ToGlobal(FloatPoint(a * scale, b * scale)));
        AppendMoveTo(t, f.ToGlobal(FloatPoint(c * scale, b * scale)));
        AppendMoveTo(t, f.ToGlobal(FloatPoint(a * scale, d * scale)));
    } else {
        t.LoadFromStream(stream);
    }

    if (t.GetCount() == 4) {
        TFloatPoint p[3];
        TContourPointIterator it;
        it.First(t, 0);
        for (TFloatPoint& point : p) {
            point = it.Point;
            it.Next();
        }
        // Coincident first corners give no frame to rebuild from.
        if (CanBuildFrame(p[0], p[1])) {
            TCoordSys g;
            g.InitPoints(p[0], p[1]);
            const TFloatPoint q1 = g.ToLocal(p[1]);
            const TFloatPoint q2 = g.ToLocal(p[2]);
            AppendMoveTo(contour, p[2]);
            AppendLineTo(contour, g.ToGlobal(FloatPoint(q1.X, q2.Y)));
            AppendLineTo(contour, p[1]);
            AppendLineTo(contour, p[0]);
            AppendClose(contour);
            return;
        }
    }
    contour.Assign(t);
}

} // namespace

void ReadContourByKind(TContour& contour, int shapeKind, rtl::TStream& stream)
{
    TContour read;
    switch (shapeKind) {
    case 0:
    case 3:
        break;
    case 1:
    case 2:
        ReadPolyline(read, shapeKind, stream);
        break;
    case 4:
        AppendMoveTo(read, ReadPoint(stream));
        break;
    case 5:
        ReadCircle(read, stream);
        break;
    case 6:
        read.LoadFromStream(stream);
        break;
    case 7:
        ReadFrame(read, stream);
        break;
    default:
        throw EDataFormatError(rtl::Format(SBadShapeKind, shapeKind));
    }
    contour = std::move(read);
}

// ---- TShapeData ---------------------------------------------------------------------

void TShapeData::LoadFromStream(rtl::TStream& stream)
{
    const int kind = DataVersion < 265 ? stream.ReadI16() : 6;
    TContour contour;
    ReadContourByKind(contour, kind, stream);
    const BinID style = ReadIdentifierField(stream);
    Contour = std::move(contour);
    StyleID = style;
}

void TShapeData::SaveToStream(rtl::TStream& stream) const
{
    Contour.SaveToStream(stream);
    WriteIdentifierField(stream, StyleID);
}

// ---- TShapeDataList -------------------------------------------------------------------

void TShapeDataList::LoadFromStream(rtl::TStream& stream)
{
    const std::int16_t count = stream.ReadI16();
    if (count < 0) throw EDataFormatError(rtl::Format(SBadShapeCount, count));
    CheckFits(stream, count, MinShapeBytes(), SBadShapeCount);
    TShapeDataList read;
    for (int i = 0; i < count; ++i) {
        const rtl::RefPtr<TShapeData> shape(new TShapeData);
        shape->LoadFromStream(stream);
        read.Add(shape.get());
    }
    Clear();
    for (int i = 0; i < read.Count(); ++i) Add(read.Get(i));
}

void TShapeDataList::SaveToStream(rtl::TStream& stream) const
{
    if (Count() > kMaxCount) throw rtl::EWriteError(rtl::Format(STooManyShapes, Count()));
    stream.WriteI16(static_cast<std::int16_t>(Count()));
    for (int i = 0; i < Count(); ++i) Get(i)->SaveToStream(stream);
}

// ---- TMapObjectData ---------------------------------------------------------------------

void TMapObjectData::LoadFromStream(rtl::TStream& stream)
{
    const BinID id = ReadIdentifierField(stream);
    std::array<std::uint8_t, 32> block;
    stream.ReadBuffer(block.data(), block.size());
    if (DataVersion < 261) stream.ReadBytes(16);
    Shapes.LoadFromStream(stream);
    ID = id;
    ObjectBlock = block;
}

void TMapObjectData::SaveToStream(rtl::TStream& stream) const
{
    WriteIdentifierField(stream, ID);
    stream.WriteBuffer(ObjectBlock.data(), ObjectBlock.size());
    Shapes.SaveToStream(stream);
}

// ---- TSectorData -------------------------------------------------------------------------

void TSectorData::LoadFromStream(rtl::TStream& stream)
{
    TDataVersionScope version;
    const std::int64_t start = stream.Position();
    if (stream.Remaining() == 0) {
        Objects.Clear();
        return;
    }
    if (stream.ReadU16() == SectorStreamSignature) {
        const std::uint16_t v = stream.ReadU16();
        if (v < kOldestVersion || v > CurrentDataVersion) throw EDataFormatError(rtl::Format(SBadSectorVersion, v));
        version.Set(v);
    } else {
        stream.SetPosition(start);
        version.Set(kOldestVersion);
    }

    // Nothing is reserved from the count: a count past the end of the blob
    // ends in the stream's read error inside the loop, which tells how many
    // objects were read.
    const std::int16_t count = stream.ReadI16();
    TMapObjectDataList read;
    int remaining = count;
    try {
        while (remaining > 0) {
            const rtl::RefPtr<TMapObjectData> object(new TMapObjectData);
            object->LoadFromStream(stream);
            read.Add(object.get());
            --remaining;
        }
    } catch (rtl::Exception& e) {
        e.SetMessage(e.Message() + "\n\r" + rtl::Format(SLoadedOf, count - remaining, static_cast<int>(count)));
        throw;
    }
    if (stream.Remaining() != 0) throw EDataFormatError(STrailingBytes);

    Objects.Clear();
    for (int i = 0; i < read.Count(); ++i) Objects.Add(read.Get(i));
}

void TSectorData::SaveToStream(rtl::TStream& stream) const
{
    if (Objects.Count() > kMaxCount) throw rtl::EWriteError(rtl::Format(STooManyObjects, Objects.Count()));
    rtl::TMemoryStream out;
    out.WriteU16(SectorStreamSignature);
    out.WriteU16(CurrentDataVersion);
    out.WriteI16(static_cast<std::int16_t>(Objects.Count()));
    for (int i = 0; i < Objects.Count(); ++i) Objects.Get(i)->SaveToStream(out);
    stream.WriteBuffer(out.Memory(), out.Bytes().size());
}
