// The map objects of one sector and the sector blob (VELMO_SECTORS.OBJECTS).
//
// TSectorData holds the objects of a sector; each TMapObjectData has its
// identifier, a 32-byte block kept as read, and its shapes; each TShapeData
// has an outline (TContour) and a style identifier. All lists take one
// reference per item and release it on removal.
//
// Blob, little-endian: F3 FF, the version (16 bits, 256..287), the object
// count (signed 16 bits), then the objects. A blob without the signature is
// version 256 and starts with the count. Writers always write version 287.
// A reader sets DataVersion to the blob's version for the duration of the
// read; a blob it cannot understand (newer version, unknown shape kind, a
// count or length that does not fit, bytes after the last object) is refused
// with EDataFormatError, and the object read into keeps its old content.
#pragma once

#include <array>
#include <cstdint>

#include "CoreLib/RefObjects.h"
#include "CoreLib/Transformer.h"
#include "gismodel/BinIDs.h"
#include "platform/rtl/Streams.h"

inline constexpr std::uint16_t SectorStreamSignature = 0xFFF3;

class TShapeData : public TRefObject {
public:
    BinID StyleID = 0;
    TContour Contour;

    // One shape record: the kind word (before version 265), the outline, the
    // style identifier.
    void LoadFromStream(rtl::TStream& stream);
    void SaveToStream(rtl::TStream& stream) const;

protected:
    ~TShapeData() override = default;
};

class TShapeDataList : public TRefObjectListOf<TShapeData> {
public:
    TShapeDataList() : TRefObjectListOf<TShapeData>(false) {}

    TShapeData* GetItem(int index) const { return Get(index); }
    // The shape count and the shape records; replaces the list only when
    // every shape was read.
    void LoadFromStream(rtl::TStream& stream);
    void SaveToStream(rtl::TStream& stream) const;
};

class TMapObjectData : public TRefObject {
public:
    BinID ID = 0;
    std::array<std::uint8_t, 32> ObjectBlock{};
    TShapeDataList Shapes;

    void LoadFromStream(rtl::TStream& stream);
    void SaveToStream(rtl::TStream& stream) const;

protected:
    ~TMapObjectData() override = default;
};

class TMapObjectDataList : public TRefObjectListOf<TMapObjectData> {
public:
    TMapObjectDataList() : TRefObjectListOf<TMapObjectData>(false) {}

    TMapObjectData* GetItem(int index) const { return Get(index); }
};

class TSectorData : public TRefObject {
public:
    TMapObjectDataList Objects;

    // Replaces Objects by the objects of the blob at the stream's position
    // (to its end). An empty stream is a sector without objects. A failure
    // inside the objects gets "\n\rЗагружено <read> из <count>" appended to
    // its message; Objects is unchanged then.
    void LoadFromStream(rtl::TStream& stream);
    // Writes the current format (version 287).
    void SaveToStream(rtl::TStream& stream) const;

protected:
    ~TSectorData() override = default;
};

// Reads one outline of the given shape kind into contour (unchanged when it
// fails): 0 and 3 none, 1 polyline, 2 polygon, 4 point, 5 circle, 6 outline,
// 7 frame; any other kind is refused.
void ReadContourByKind(TContour& contour, int shapeKind, rtl::TStream& stream);

