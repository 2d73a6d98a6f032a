// Shape outlines (TContour) and the process-wide version of the blob formats.
//
// A TContour is a sequence of figures made of move, line and arc vertices;
// arcs carry their bulge (see Geomet.h) and a derived arc record (centre,
// sweep, radius). Read from a blob of version 262 or later, a contour keeps
// its stream form as read ("packed") until something needs its vertices, and
// writes it back unchanged when nothing did. Older versions store a different
// layout, decoded at once.
//
// DataVersion is the format version of the blob being read: 287 (the
// current one) at start, set by a blob reader for the duration of a read
// through TDataVersionScope, which restores the previous value on every way
// out, failures included. TContour::LoadFromStream chooses its layout by it.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "CoreLib/Geomet.h"
#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Streams.h"

// The version every blob writer writes.
inline constexpr std::uint16_t CurrentDataVersion = 287;

// The version of the blob being read (CurrentDataVersion outside a read).
inline std::uint16_t DataVersion = CurrentDataVersion;

// Remembers DataVersion and puts it back when the scope ends.
class TDataVersionScope {
public:
    TDataVersionScope() noexcept : saved_(DataVersion) {}
    explicit TDataVersionScope(std::uint16_t version) noexcept : saved_(DataVersion) { DataVersion = version; }
    ~TDataVersionScope() { DataVersion = saved_; }
    TDataVersionScope(const TDataVersionScope&) = delete;
    TDataVersionScope& operator=(const TDataVersionScope&) = delete;

    void Set(std::uint16_t version) noexcept { DataVersion = version; }
    std::uint16_t Saved() const noexcept { return saved_; }

private:
    std::uint16_t saved_;
};

// Stored data that cannot be understood: a length or count that does not fit
// the bytes that remain, an unknown kind, inconsistent blocks.
class EDataFormatError : public rtl::EReadError {
    using rtl::EReadError::EReadError;
};

// Vertex kinds. MoveTo, LineTo and ArcTo carry a point; Close and ArcClose
// lead back to the figure's MoveTo point.
enum : std::uint8_t {
    cvkMoveTo = 0,
    cvkLineTo = 1,
    cvkArcTo = 2,
    cvkClose = 3,
    cvkArcClose = 4,
};

// ParamIndex of a vertex without an arc record.
inline constexpr std::uint16_t NoParamIndex = 0xFFFF;

// A vertex as handed to TContour::Append; Param is the bulge of kinds 2 and 4.
struct TContourVertex {
    std::uint8_t Kind = cvkMoveTo;
    TFloatPoint Point;
    std::uint16_t ParamIndex = NoParamIndex;
    double Param = 0;
};

TContourVertex MoveToVertex(const TFloatPoint& p) noexcept;
TContourVertex LineToVertex(const TFloatPoint& p) noexcept;
TContourVertex ArcToVertex(const TFloatPoint& p, double bulge) noexcept;
TContourVertex CloseVertex() noexcept;
TContourVertex ParamVertex(double bulge) noexcept;

// A vertex as the contour keeps it.
struct TContourStoredVertex {
    std::uint8_t Kind = cvkMoveTo;
    TFloatPoint Point;
    std::uint16_t ParamIndex = NoParamIndex;
};

// The arc record of an ArcTo or ArcClose vertex: Center, Sweep and Radius are
// derived from Bulge and the arc's end points (left 0 for a degenerate arc).
struct TContourArc {
    double Bulge = 0;
    TFloatPoint Center;
    double Sweep = 0;
    double Radius = 0;
};

class TContour {
public:
    TContour() = default;
    TContour(const TContour&) = delete;
    TContour& operator=(const TContour&) = delete;
    // A moved-from contour is empty.
    TContour(TContour&& other) noexcept;
    TContour& operator=(TContour&& other) noexcept;

    // Adds a vertex and returns its index. Close and ArcClose take the point
    // of the figure's MoveTo; ArcTo and ArcClose get an arc record.
    int Append(const TContourVertex& v);
    // Number of point vertices (kinds 0-2).
    int GetCount();
    int VertexCount();
    int ArcCount();
    // Vertex / arc record by index; EListError outside the array.
    const TContourStoredVertex& Vertex(int index);
    const TContourArc& Arc(int index);
    // Drops the stream form when present, else empties the arrays (their
    // capacity is kept).
    void Clear() noexcept;
    // Makes this contour a copy of source (nothing when it is this one); a
    // packed source stays packed.
    void Assign(const TContour& source);
    // Reads the layout of the current DataVersion. On failure the contour is
    // unchanged; a bad length, count or code raises EDataFormatError.
    void LoadFromStream(rtl::TStream& stream);
    // Writes the current stream form: the bytes as read when still packed.
    void SaveToStream(rtl::TStream& stream) const;
    // True while the contour holds its stream form as read.
    bool IsPacked() const noexcept { return packed_.has_value(); }

private:
    friend struct TContourPointIterator;

    void Unpack();
    void LoadOldForm(rtl::TStream& stream);
    void ComputeArc(int index);

    int pointCount_ = 0;
    std::vector<TContourStoredVertex> vertices_;
    std::vector<TContourArc> params_;
    std::optional<std::string> packed_;
};

// Walks the point vertices of a contour (unpacking it first when needed).
struct TContourPointIterator {
    TFloatPoint Point;
    TContour* Contour = nullptr;
    int Index = 0;

    void First(TContour& contour, int startIndex);
    void Next();
    bool Eof() const noexcept;
};

// The append routines of the old-layout readers.
void AppendMoveTo(TContour& contour, const TFloatPoint& p);
void AppendLineTo(TContour& contour, const TFloatPoint& p);
void AppendArcTo(TContour& contour, const TFloatPoint& p, double bulge);
void AppendClose(TContour& contour);
void AppendArcClose(TContour& contour, double bulge);

// A pool of contours: Count new contours in the first list, none in the second.
class TContourCache {
public:
    explicit TContourCache(int count);
    TContourCache(const TContourCache&) = delete;
    TContourCache& operator=(const TContourCache&) = delete;

    int AvailableCount() const noexcept { return static_cast<int>(available_.size()); }
    int UsedCount() const noexcept { return static_cast<int>(used_.size()); }

private:
    std::vector<std::unique_ptr<TContour>> available_;
    std::vector<std::unique_ptr<TContour>> used_;
};
