// TContour: building outlines vertex by vertex, the run-length coded stream
// form of blob versions 262 and later (kept packed until needed), the older
// figure-and-segment layout, and the point iterator.
//
// Current stream form, little-endian:
//   P (int32, 16 per point vertex), P bytes of points (X, Y doubles),
//   C (int32), C bytes of codes: per run of vertices a kind byte; kinds 0-2
//   add a count byte (1-255) and kind 2 that many bulges; kind 3 stands
//   alone; kind 4 adds one bulge.
// A packed form is checked when it is read (every code known, every bulge
// inside the codes block, exactly P / 16 points counted), so unpacking it
// later cannot run past its blocks.
#include "CoreLib/Transformer.h"

#include <cstring>
#include <limits>
#include <utility>

#include "platform/rtl/Format.h"

namespace {

const char* const SBadContourLength = "Неверная длина блока контура: %d";
const char* const SBadContourCodes = "Повреждён блок кодов контура";
const char* const SBadFigureCount = "Неверное число фигур контура: %d";
const char* const SBadSegmentCount = "Неверное число сегментов контура: %d";
const char* const SBadSegmentType = "Неизвестный тип сегмента контура: %d";
const char* const STooManyArcs = "Слишком много дуг в контуре";
const char* const SContourTooLarge = "Контур слишком велик для записи";
const char* const SVertexIndexError = "Индекс массива выходит за пределы (TContour.Vertex)";
const char* const SArcIndexError = "Индекс массива выходит за пределы (TContour.Arc)";
const char* const SBadVertexKind = "Invalid vertex kind";

// Bytes of the smallest figure and segment of the old layout.
constexpr std::int64_t kOldFigureMinBefore260 = 16 + 2;
constexpr std::int64_t kOldFigureMin260 = 2 + 1 + 16;
constexpr std::int64_t kOldSegmentMin = 1 + 16;

// Arc records are indexed by 16 bits; NoParamIndex is not an index.
constexpr std::size_t kMaxArcs = NoParamIndex;

void PutU32(std::string& out, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void PutDouble(std::string& out, double d)
{
    std::uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>((bits >> (8 * i)) & 0xFF));
}

std::uint32_t GetU32(const std::string& s, std::size_t pos)
{
    std::uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<std::uint32_t>(static_cast<unsigned char>(s[pos + i])) << (8 * i);
    return v;
}

double GetDouble(const std::string& s, std::size_t pos)
{
    std::uint64_t bits = 0;
    for (int i = 0; i < 8; ++i) bits |= static_cast<std::uint64_t>(static_cast<unsigned char>(s[pos + i])) << (8 * i);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

TFloatPoint GetPoint(const std::string& s, std::size_t pos)
{
    return TFloatPoint{GetDouble(s, pos), GetDouble(s, pos + 8)};
}

struct TCodeCounts {
    std::size_t Vertices = 0;
    std::size_t Points = 0;
    std::size_t Arcs = 0;
};

// Counting pass over a codes block; false when it holds an unknown kind, a
// run without its count byte, or bulges past its end.
bool ScanCodes(const std::string& s, std::size_t begin, std::size_t end, TCodeCounts& counts)
{
    std::size_t i = begin;
    while (i < end) {
        const std::uint8_t kind = static_cast<std::uint8_t>(s[i++]);
        if (kind <= cvkArcTo) {
            if (i >= end) return false;
            const std::size_t n = static_cast<std::uint8_t>(s[i++]);
            counts.Vertices += n;
            counts.Points += n;
            if (kind == cvkArcTo) {
                if (end - i < 8 * n) return false;
                counts.Arcs += n;
                i += 8 * n;
            }
        } else if (kind == cvkClose) {
            ++counts.Vertices;
        } else if (kind == cvkArcClose) {
            if (end - i < 8) return false;
            ++counts.Vertices;
            ++counts.Arcs;
            i += 8;
        } else {
            return false;
        }
    }
    return true;
}

// The arc record of an arc from `from` to `to`; false for a zero bulge or
// coincident end points, which make a line. A bulge whose circle cannot be
// computed (too small, not finite) keeps its record with the bulge alone, so
// that writing the contour back keeps the stored arc.
bool MakeArc(const TFloatPoint& from, const TFloatPoint& to, double bulge, TContourArc& arc)
{
    if (bulge == 0 || PointsEqual(from, to)) return false;
    arc.Bulge = bulge;
    double sweep = 0;
    TFloatPoint center;
    if (ArcFromBulge(from, to, sweep, bulge, center)) {
        arc.Center = center;
        arc.Sweep = sweep;
        arc.Radius = PointDistance(center, to);
    }
    return true;
}

std::uint16_t AddArc(std::vector<TContourArc>& params, const TContourArc& arc)
{
    if (params.size() >= kMaxArcs) throw EDataFormatError(STooManyArcs);
    params.push_back(arc);
    return static_cast<std::uint16_t>(params.size() - 1);
}

// Building pass over a checked packed form.
void BuildFromPacked(const std::string& packed, int& pointCount, std::vector<TContourStoredVertex>& vertices,
                     std::vector<TContourArc>& params)
{
    const std::size_t p = GetU32(packed, 0);
    const std::size_t pointsAt = 4;
    const std::size_t codesAt = 8 + p;
    const std::size_t codesEnd = packed.size();

    TCodeCounts counts;
    ScanCodes(packed, codesAt, codesEnd, counts);
    vertices.clear();
    params.clear();
    vertices.reserve(counts.Vertices);
    params.reserve(counts.Arcs < kMaxArcs ? counts.Arcs : kMaxArcs);
    pointCount = static_cast<int>(counts.Points);

    std::size_t nextPoint = pointsAt;
    bool haveStart = false;
    bool havePrev = false;
    TFloatPoint start;
    TFloatPoint prev;
    std::size_t i = codesAt;
    while (i < codesEnd) {
        const std::uint8_t kind = static_cast<std::uint8_t>(packed[i++]);
        if (kind <= cvkArcTo) {
            const int n = static_cast<std::uint8_t>(packed[i++]);
            for (int j = 0; j < n; ++j) {
                const TFloatPoint pt = GetPoint(packed, nextPoint);
                nextPoint += 16;
                TContourStoredVertex v{kind, pt, NoParamIndex};
                if (kind == cvkMoveTo) {
                    start = pt;
                    haveStart = true;
                } else if (kind == cvkArcTo) {
                    const double bulge = GetDouble(packed, i);
                    i += 8;
                    TContourArc arc;
                    if (havePrev && MakeArc(prev, pt, bulge, arc))
                        v.ParamIndex = AddArc(params, arc);
                    else
                        v.Kind = cvkLineTo;
                }
                prev = pt;
                havePrev = true;
                vertices.push_back(v);
            }
        } else {
            TContourStoredVertex v{cvkClose, haveStart ? start : TFloatPoint{}, NoParamIndex};
            if (kind == cvkArcClose) {
                const double bulge = GetDouble(packed, i);
                i += 8;
                TContourArc arc;
                if (haveStart && havePrev && MakeArc(prev, start, bulge, arc)) {
                    v.Kind = cvkArcClose;
                    v.ParamIndex = AddArc(params, arc);
                }
            }
            if (haveStart) {
                prev = start;
                havePrev = true;
            }
            vertices.push_back(v);
        }
    }
}

// Nearest MoveTo at or before index; -1 when there is none.
int FindFigureStart(const std::vector<TContourStoredVertex>& vertices, int index)
{
    for (int i = index; i >= 0; --i)
        if (vertices[static_cast<std::size_t>(i)].Kind == cvkMoveTo) return i;
    return -1;
}

void CheckFits(rtl::TStream& stream, std::int64_t count, std::int64_t minBytes, const char* message)
{
    if (count > 0 && count * minBytes > stream.Remaining())
        throw EDataFormatError(rtl::Format(message, static_cast<int>(count)));
}

TFloatPoint ReadPoint(rtl::TStream& stream)
{
    TFloatPoint p;
    p.X = stream.ReadDouble();
    p.Y = stream.ReadDouble();
    return p;
}

// The spare contours and the cache the unit keeps from start-up to shut-down.
TContour spareContour1;
TContour spareContour2;
TContourCache contourCache(20);

} // namespace

// ---- vertices ---------------------------------------------------------------------

TContourVertex MoveToVertex(const TFloatPoint& p) noexcept
{
    return TContourVertex{cvkMoveTo, p, NoParamIndex, 0};
}

TContourVertex LineToVertex(const TFloatPoint& p) noexcept
{
    return TContourVertex{cvkLineTo, p, NoParamIndex, 0};
}

TContourVertex ArcToVertex(const TFloatPoint& p, double bulge) noexcept
{
    return TContourVertex{cvkArcTo, p, NoParamIndex, bulge};
}

TContourVertex CloseVertex() noexcept
{
    return TContourVertex{cvkClose, TFloatPoint{}, NoParamIndex, 0};
}

TContourVertex ParamVertex(double bulge) noexcept
{
    return TContourVertex{cvkArcClose, TFloatPoint{}, NoParamIndex, bulge};
}

void AppendMoveTo(TContour& contour, const TFloatPoint& p) { contour.Append(MoveToVertex(p)); }
void AppendLineTo(TContour& contour, const TFloatPoint& p) { contour.Append(LineToVertex(p)); }
void AppendArcTo(TContour& contour, const TFloatPoint& p, double bulge) { contour.Append(ArcToVertex(p, bulge)); }
void AppendClose(TContour& contour) { contour.Append(CloseVertex()); }
void AppendArcClose(TContour& contour, double bulge) { contour.Append(ParamVertex(bulge)); }

// ---- TContour ---------------------------------------------------------------------

TContour::TContour(TContour&& other) noexcept
{
    *this = std::move(other);
}

TContour& TContour::operator=(TContour&& other) noexcept
{
    if (&other == this) return *this;
    pointCount_ = std::exchange(other.pointCount_, 0);
    vertices_ = std::move(other.vertices_);
    params_ = std::move(other.params_);
    packed_ = std::move(other.packed_);
    other.vertices_.clear();
    other.params_.clear();
    other.packed_.reset();
    return *this;
}

void TContour::Unpack()
{
    if (!packed_) return;
    int count = 0;
    std::vector<TContourStoredVertex> vertices;
    std::vector<TContourArc> params;
    BuildFromPacked(*packed_, count, vertices, params);
    pointCount_ = count;
    vertices_ = std::move(vertices);
    params_ = std::move(params);
    packed_.reset();
}

int TContour::Append(const TContourVertex& v)
{
    RTL_ASSERT(v.Kind <= cvkArcClose, SBadVertexKind);
    Unpack();
    const bool isArc = v.Kind == cvkArcTo || v.Kind == cvkArcClose;
    if (isArc && params_.size() >= kMaxArcs) throw EDataFormatError(STooManyArcs);
    vertices_.reserve(vertices_.size() + 1);
    if (isArc) params_.reserve(params_.size() + 1);

    TContourStoredVertex sv{v.Kind, v.Point, NoParamIndex};
    if (v.Kind == cvkClose || v.Kind == cvkArcClose) {
        const int start = FindFigureStart(vertices_, static_cast<int>(vertices_.size()) - 1);
        if (start >= 0) sv.Point = vertices_[static_cast<std::size_t>(start)].Point;
    }
    if (isArc) {
        TContourArc arc;
        arc.Bulge = v.Param;
        sv.ParamIndex = AddArc(params_, arc);
    }
    if (v.Kind <= cvkArcTo) ++pointCount_;
    vertices_.push_back(sv);
    const int index = static_cast<int>(vertices_.size()) - 1;
    ComputeArc(index);
    return index;
}

void TContour::ComputeArc(int index)
{
    const TContourStoredVertex& v = vertices_[static_cast<std::size_t>(index)];
    if ((v.Kind != cvkArcTo && v.Kind != cvkArcClose) || index < 1) return;
    TContourArc& arc = params_[v.ParamIndex];
    if (arc.Bulge == 0) return;

    const TContourStoredVertex& before = vertices_[static_cast<std::size_t>(index - 1)];
    TFloatPoint from = before.Point;
    if (before.Kind == cvkClose || before.Kind == cvkArcClose) {
        const int start = FindFigureStart(vertices_, index - 1);
        if (start < 0) return;
        from = vertices_[static_cast<std::size_t>(start)].Point;
    }
    TFloatPoint to = v.Point;
    if (v.Kind == cvkArcClose) {
        const int start = FindFigureStart(vertices_, index);
        if (start < 0) return;
        to = vertices_[static_cast<std::size_t>(start)].Point;
    }
    double sweep = 0;
    TFloatPoint center;
    if (ArcFromBulge(from, to, sweep, arc.Bulge, center)) {
        arc.Center = center;
        arc.Sweep = sweep;
        arc.Radius = PointDistance(center, from);
    }
}

int TContour::GetCount()
{
    Unpack();
    return pointCount_;
}

int TContour::VertexCount()
{
    Unpack();
    return static_cast<int>(vertices_.size());
}

int TContour::ArcCount()
{
    Unpack();
    return static_cast<int>(params_.size());
}

const TContourStoredVertex& TContour::Vertex(int index)
{
    Unpack();
    if (index < 0 || static_cast<std::size_t>(index) >= vertices_.size()) throw rtl::EListError(SVertexIndexError);
    return vertices_[static_cast<std::size_t>(index)];
}

const TContourArc& TContour::Arc(int index)
{
    Unpack();
    if (index < 0 || static_cast<std::size_t>(index) >= params_.size()) throw rtl::EListError(SArcIndexError);
    return params_[static_cast<std::size_t>(index)];
}

void TContour::Clear() noexcept
{
    if (packed_) {
        packed_.reset();
        return;
    }
    vertices_.clear();
    params_.clear();
    pointCount_ = 0;
}

void TContour::Assign(const TContour& source)
{
    if (&source == this) return;
    if (source.packed_) {
        int count = 0;
        std::vector<TContourStoredVertex> vertices;
        std::vector<TContourArc> params;
        BuildFromPacked(*source.packed_, count, vertices, params);
        packed_.reset();
        pointCount_ = count;
        vertices_ = std::move(vertices);
        params_ = std::move(params);
    } else {
        std::vector<TContourStoredVertex> vertices = source.vertices_;
        std::vector<TContourArc> params = source.params_;
        packed_.reset();
        pointCount_ = source.pointCount_;
        vertices_ = std::move(vertices);
        params_ = std::move(params);
    }
}

void TContour::LoadFromStream(rtl::TStream& stream)
{
    if (DataVersion < 262) {
        TContour read;
        read.LoadOldForm(stream);
        *this = std::move(read);
        return;
    }

    const std::int32_t p = stream.ReadI32();
    if (p < 0 || p % 16 != 0 || p > stream.Remaining()) throw EDataFormatError(rtl::Format(SBadContourLength, p));
    std::string packed;
    packed.reserve(8 + static_cast<std::size_t>(p));
    PutU32(packed, static_cast<std::uint32_t>(p));
    packed += stream.ReadBytes(static_cast<std::size_t>(p));
    const std::int32_t c = stream.ReadI32();
    if (c < 0 || c > stream.Remaining()) throw EDataFormatError(rtl::Format(SBadContourLength, c));
    PutU32(packed, static_cast<std::uint32_t>(c));
    packed += stream.ReadBytes(static_cast<std::size_t>(c));

    TCodeCounts counts;
    if (!ScanCodes(packed, 8 + static_cast<std::size_t>(p), packed.size(), counts) ||
        counts.Points * 16 != static_cast<std::size_t>(p))
        throw EDataFormatError(SBadContourCodes);

    vertices_.clear();
    params_.clear();
    pointCount_ = 0;
    packed_ = std::move(packed);
}

// Figures of segments, versions before 262; *this is a fresh contour.
void TContour::LoadOldForm(rtl::TStream& stream)
{
    const bool closed = stream.ReadU8() != 0;
    const std::int16_t figureCount = stream.ReadI16();
    CheckFits(stream, figureCount, DataVersion < 260 ? kOldFigureMinBefore260 : kOldFigureMin260, SBadFigureCount);
    for (int figure = 0; figure < figureCount; ++figure) {
        double closingBulge = 0;
        int segmentCount;
        TFloatPoint prev;
        if (DataVersion < 260) {
            prev = ReadPoint(stream);
            AppendMoveTo(*this, prev);
            segmentCount = stream.ReadI16();
        } else {
            segmentCount = stream.ReadI16() - 1;
            if (stream.ReadU8() == 'a') closingBulge = stream.ReadDouble();
            prev = ReadPoint(stream);
            AppendMoveTo(*this, prev);
        }
        CheckFits(stream, segmentCount, kOldSegmentMin, SBadSegmentCount);
        for (int segment = 0; segment < segmentCount; ++segment) {
            const std::uint8_t type = stream.ReadU8();
            if (type == 'a') {
                double bulge = 0;
                TFloatPoint end;
                if (DataVersion >= 260) {
                    bulge = stream.ReadDouble();
                    end = ReadPoint(stream);
                } else {
                    const TFloatPoint mid = ReadPoint(stream);
                    end = ReadPoint(stream);
                    if (!ArcFrom3Points(prev, mid, end, bulge)) bulge = 0;
                }
                if (bulge == 0)
                    AppendLineTo(*this, end);
                else
                    AppendArcTo(*this, end, bulge);
                prev = end;
            } else if (type == 's') {
                prev = ReadPoint(stream);
                AppendLineTo(*this, prev);
            } else {
                throw EDataFormatError(rtl::Format(SBadSegmentType, type));
            }
        }
        if (closed) {
            if (closingBulge == 0)
                AppendClose(*this);
            else
                AppendArcClose(*this, closingBulge);
        }
    }
}

void TContour::SaveToStream(rtl::TStream& stream) const
{
    if (packed_) {
        stream.WriteBytes(*packed_);
        return;
    }
    constexpr std::size_t kMax = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
    const std::size_t p = 16 * static_cast<std::size_t>(pointCount_);
    if (p > kMax) throw rtl::EWriteError(SContourTooLarge);

    std::string out;
    out.reserve(8 + p + 16 * vertices_.size());
    PutU32(out, static_cast<std::uint32_t>(p));
    for (const TContourStoredVertex& v : vertices_) {
        if (v.Kind > cvkArcTo) continue;
        PutDouble(out, v.Point.X);
        PutDouble(out, v.Point.Y);
    }
    const std::size_t cAt = out.size();
    PutU32(out, 0);

    auto bulgeOf = [this](const TContourStoredVertex& v) {
        return v.ParamIndex < params_.size() ? params_[v.ParamIndex].Bulge : 0.0;
    };
    std::size_t i = 0;
    while (i < vertices_.size()) {
        const std::uint8_t kind = vertices_[i].Kind;
        if (kind <= cvkArcTo) {
            std::size_t n = 1;
            while (n < 255 && i + n < vertices_.size() && vertices_[i + n].Kind == kind) ++n;
            out.push_back(static_cast<char>(kind));
            out.push_back(static_cast<char>(n));
            if (kind == cvkArcTo)
                for (std::size_t j = 0; j < n; ++j) PutDouble(out, bulgeOf(vertices_[i + j]));
            i += n;
        } else {
            out.push_back(static_cast<char>(kind));
            if (kind == cvkArcClose) PutDouble(out, bulgeOf(vertices_[i]));
            ++i;
        }
    }
    const std::size_t c = out.size() - cAt - 4;
    if (c > kMax) throw rtl::EWriteError(SContourTooLarge);
    for (int b = 0; b < 4; ++b) out[cAt + b] = static_cast<char>((c >> (8 * b)) & 0xFF);
    stream.WriteBytes(out);
}

// ---- TContourPointIterator ------------------------------------------------------------

void TContourPointIterator::First(TContour& contour, int startIndex)
{
    contour.Unpack();
    Contour = &contour;
    Index = (startIndex > 0 ? startIndex : 0) - 1;
    Next();
}

void TContourPointIterator::Next()
{
    const auto& vertices = Contour->vertices_;
    const int count = static_cast<int>(vertices.size());
    ++Index;
    while (Index < count && vertices[static_cast<std::size_t>(Index)].Kind > cvkArcTo) ++Index;
    if (Index < count) Point = vertices[static_cast<std::size_t>(Index)].Point;
}

bool TContourPointIterator::Eof() const noexcept
{
    return Contour == nullptr || Index >= static_cast<int>(Contour->vertices_.size());
}

// ---- TContourCache ----------------------------------------------------------------------

TContourCache::TContourCache(int count)
{
    for (int i = 0; i < count; ++i) available_.push_back(std::make_unique<TContour>());
}
