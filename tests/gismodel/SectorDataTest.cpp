// Tests of the sector objects and the sector blob: blobs of every stored
// version written by hand from the layout tables, what a rewrite makes of
// them (always version 287), frames, identifier fields, refused input with
// DataVersion restored and the sector left as it was, and the writer's limits.
//
// Blob bytes are built with a small little-endian builder; the blobs of all
// versions 256..287 come from a test-side encoder that follows the version
// rules of the layout tables (not from the writer under test).
#include "tests/support/TestHelpers.h"
#include "gismodel/SectorData.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/RefCounted.h"
#include "platform/rtl/Streams.h"

namespace {

using ::testing::EndsWith;
using ::testing::StartsWith;

constexpr double kPi = std::numbers::pi;
constexpr BinID kIdA = 0x00010000000ALL;        // "00010000000A"
constexpr BinID kIdB = 0x0001FFFF0000LL;        // "0001FFFF0000"
constexpr BinID kStyle1 = 0x0002000000FFLL;      // "0002000000FF"
constexpr BinID kStyle2 = 0x000300000100LL;      // "000300000100"

class Bytes : public testing_support::LeBytesOf<Bytes> {
public:
    // An identifier field holding a 12-character text.
    Bytes& Id(const char* text) { return U8(12).Raw(text); }
    // The 32-byte object block 00 01 .. 1F.
    Bytes& Block()
    {
        for (int i = 0; i < 32; ++i) U8(i);
        return *this;
    }
    Bytes& Header(int version) { return U8(0xF3).U8(0xFF).I16(version); }
    Bytes& Header287() { return Header(287); }
    Bytes& EmptyContour() { return I32(0).I32(0); }
};

std::string BlockBytes()
{
    return Bytes().Block().str();
}

rtl::RefPtr<TSectorData> Load(const std::string& blob)
{
    rtl::RefPtr<TSectorData> sector(new TSectorData);
    rtl::TMemoryStream in(blob);
    sector->LoadFromStream(in);
    return sector;
}

std::string Save(const TSectorData& sector)
{
    rtl::TMemoryStream out;
    sector.SaveToStream(out);
    return out.ToString();
}

// Contour bytes of the current form for a few fixed outlines.
std::string SquareContour() // M(0,0) L(3,0) L(3,3) C
{
    return Bytes().I32(48).Pt(0, 0).Pt(3, 0).Pt(3, 3).I32(5).U8(0).U8(1).U8(1).U8(2).U8(3).str();
}

std::string ClosedLinesContour() // L(0,0) L(4,0) L(4,3) C
{
    return Bytes().I32(48).Pt(0, 0).Pt(4, 0).Pt(4, 3).I32(3).U8(1).U8(3).U8(3).str();
}

std::string CircleContour() // centre (10, 20), radius 5
{
    return Bytes().I32(32).Pt(5, 20).Pt(15, 20).I32(21).U8(0).U8(1).U8(2).U8(1).Dbl(1.0).U8(4).Dbl(1.0).str();
}

std::string PointContour() // M(7,8)
{
    return Bytes().I32(16).Pt(7, 8).I32(2).U8(0).U8(1).str();
}

// ---- blobs of each layout, by hand ---------------------------------------------------------

struct VersionCase {
    const char* name;
    std::string blob;
    std::string rewritten;
};

std::vector<VersionCase> VersionCases()
{
    std::vector<VersionCase> cases;

    cases.push_back({"version256WithoutHeader",
                     Bytes()
                         .I16(1)
                         .Id("00010000000A").Block().Fill(16, 0xEE)
                         .I16(3)
                         .I16(2).I16(3).Pt(0, 0).Pt(4, 0).Pt(4, 3).Id("0002000000FF") // polygon: closed, no byte
                         .I16(1).I16(2).Pt(1, 1).Pt(2, 2).Id("000300000100")          // polyline: open
                         .I16(6).U8(1).I16(1).Pt(0, 0).I16(2).U8('s').Pt(3, 0).U8('s').Pt(3, 3).Id("0002000000FF")
                         .str(),
                     Bytes()
                         .Header287().I16(1)
                         .Id("00010000000A").Block()
                         .I16(3)
                         .Raw(ClosedLinesContour()).Id("0002000000FF")
                         .I32(32).Pt(1, 1).Pt(2, 2).I32(2).U8(1).U8(2).Id("000300000100")
                         .Raw(SquareContour()).Id("0002000000FF")
                         .str()});

    cases.push_back({"version256WithHeader",
                     Bytes()
                         .Header(256).I16(1)
                         .Id("00010000000A").Block().Fill(16, 0)
                         .I16(1).I16(2).I16(3).Pt(0, 0).Pt(4, 0).Pt(4, 3).Id("0002000000FF")
                         .str(),
                     Bytes()
                         .Header287().I16(1).Id("00010000000A").Block()
                         .I16(1).Raw(ClosedLinesContour()).Id("0002000000FF")
                         .str()});

    cases.push_back({"version257ClosedByteAndSimpleKinds",
                     Bytes()
                         .Header(257).I16(1)
                         .Id("00010000000A").Block().Fill(16, 0x55)
                         .I16(6)
                         .I16(1).I16(2).Pt(1, 1).Pt(2, 2).U8(1).Id("0002000000FF")          // polyline closed
                         .I16(2).I16(3).Pt(0, 0).Pt(4, 0).Pt(4, 3).U8(0).Id("000300000100") // polygon left open
                         .I16(4).Pt(7, 8).Id("0002000000FF")                                 // point
                         .I16(5).Pt(10, 20).Dbl(5).Id("0002000000FF")                        // circle
                         .I16(0).Id("000300000100")                                          // nothing
                         .I16(3).Id("000300000100")                                          // nothing
                         .str(),
                     Bytes()
                         .Header287().I16(1).Id("00010000000A").Block()
                         .I16(6)
                         .I32(32).Pt(1, 1).Pt(2, 2).I32(3).U8(1).U8(2).U8(3).Id("0002000000FF")
                         .I32(48).Pt(0, 0).Pt(4, 0).Pt(4, 3).I32(2).U8(1).U8(3).Id("000300000100")
                         .Raw(PointContour()).Id("0002000000FF")
                         .Raw(CircleContour()).Id("0002000000FF")
                         .EmptyContour().Id("000300000100")
                         .EmptyContour().Id("000300000100")
                         .str()});

    cases.push_back({"version260OutlineWithArcs",
                     Bytes()
                         .Header(260).I16(1)
                         .Id("00010000000A").Block().Fill(16, 1)
                         .I16(2)
                         .I16(6).U8(1).I16(1).I16(3).U8('a').Dbl(0.5).Pt(0, 0)
                         .U8('a').Dbl(-0.25).Pt(4, 0).U8('s').Pt(4, 4).Id("0002000000FF")
                         .I16(1).I16(1).Pt(9, 9).U8(0).Id("000300000100")
                         .str(),
                     Bytes()
                         .Header287().I16(1).Id("00010000000A").Block()
                         .I16(2)
                         .I32(48).Pt(0, 0).Pt(4, 0).Pt(4, 4)
                         .I32(23).U8(0).U8(1).U8(2).U8(1).Dbl(-0.25).U8(1).U8(1).U8(4).Dbl(0.5)
                         .Id("0002000000FF")
                         .I32(16).Pt(9, 9).I32(2).U8(1).U8(1).Id("000300000100")
                         .str()});

    cases.push_back({"version261NoSkippedBytes",
                     Bytes()
                         .Header(261).I16(1)
                         .Id("00010000000A").Block()
                         .I16(1)
                         .I16(6).U8(0).I16(1).I16(2).U8('s').Pt(1, 2).U8('a').Dbl(0.75).Pt(3, 4).Id("0002000000FF")
                         .str(),
                     Bytes()
                         .Header287().I16(1).Id("00010000000A").Block()
                         .I16(1)
                         .I32(32).Pt(1, 2).Pt(3, 4).I32(12).U8(0).U8(1).U8(2).U8(1).Dbl(0.75).Id("0002000000FF")
                         .str()});

    // From 262 on an outline is kept as read: the split runs survive.
    const std::string packed = Bytes().I32(32).Pt(0, 0).Pt(2, 0).I32(4).U8(0).U8(1).U8(1).U8(1).str();
    cases.push_back({"version262PackedOutlineAndKindWords",
                     Bytes()
                         .Header(262).I16(1)
                         .Id("00010000000A").Block()
                         .I16(2)
                         .I16(6).Raw(packed).Id("0002000000FF")
                         .I16(4).Pt(7, 8).Id("000300000100")
                         .str(),
                     Bytes()
                         .Header287().I16(1).Id("00010000000A").Block()
                         .I16(2)
                         .Raw(packed).Id("0002000000FF")
                         .Raw(PointContour()).Id("000300000100")
                         .str()});

    cases.push_back({"version265NoKindWords",
                     Bytes()
                         .Header(265).I16(1)
                         .Id("00010000000A").Block()
                         .I16(2)
                         .Raw(packed).Id("0002000000FF")
                         .Raw(CircleContour()).Id("000300000100")
                         .str(),
                     Bytes()
                         .Header287().I16(1).Id("00010000000A").Block()
                         .I16(2)
                         .Raw(packed).Id("0002000000FF")
                         .Raw(CircleContour()).Id("000300000100")
                         .str()});

    const std::string current = Bytes()
                                    .Header287().I16(2)
                                    .Id("00010000000A").Block()
                                    .I16(2)
                                    .Raw(packed).Id("0002000000FF")
                                    .Raw(SquareContour()).Id("000300000100")
                                    .Id("0001FFFF0000").Fill(32, 0xAB)
                                    .I16(0)
                                    .str();
    cases.push_back({"version287ComesBackByteForByte", current, current});

    cases.push_back({"countZero", Bytes().Header287().I16(0).str(), Bytes().Header287().I16(0).str()});
    cases.push_back({"negativeCountReadsAsNoObjects", Bytes().Header(270).I16(-1).str(),
                     Bytes().Header287().I16(0).str()});
    cases.push_back({"emptyValueIsASectorWithoutObjects", "", Bytes().Header287().I16(0).str()});
    return cases;
}

TEST(SectorBlobVersions, HandWrittenBlobsAndTheirRewrite)
{
    for (const VersionCase& c : VersionCases()) {
        SCOPED_TRACE(c.name);
        const rtl::RefPtr<TSectorData> sector = Load(c.blob);
        EXPECT_EQ(DataVersion, 287);
        EXPECT_EQ(Save(*sector), c.rewritten);
        // The rewrite reads back to itself.
        EXPECT_EQ(Save(*Load(c.rewritten)), c.rewritten);
    }
}

TEST(SectorBlobVersions, ModelOfAnOldBlob)
{
    const rtl::RefPtr<TSectorData> sector = Load(VersionCases()[2].blob); // version 257
    ASSERT_EQ(sector->Objects.Count(), 1);
    TMapObjectData* object = sector->Objects.GetItem(0);
    EXPECT_EQ(object->RefCount(), 1); // the list's reference
    EXPECT_EQ(object->ID, kIdA);
    EXPECT_EQ(std::string(object->ObjectBlock.begin(), object->ObjectBlock.end()), BlockBytes());
    ASSERT_EQ(object->Shapes.Count(), 6);
    EXPECT_EQ(object->Shapes.GetItem(0)->StyleID, kStyle1);
    EXPECT_EQ(object->Shapes.GetItem(1)->StyleID, kStyle2);
    EXPECT_THROW(object->Shapes.GetItem(6), rtl::EListError);
    EXPECT_THROW(sector->Objects.GetItem(1), rtl::EListError);

    // The circle: MoveTo (5, 20), ArcTo (15, 20) and ArcClose, both of bulge 1.
    TContour& circle = object->Shapes.GetItem(3)->Contour;
    ASSERT_EQ(circle.VertexCount(), 3);
    EXPECT_EQ(circle.Vertex(0).Kind, cvkMoveTo);
    EXPECT_EQ(circle.Vertex(1).Kind, cvkArcTo);
    EXPECT_EQ(circle.Vertex(1).Point.X, 15);
    EXPECT_EQ(circle.Vertex(2).Kind, cvkArcClose);
    EXPECT_EQ(circle.Arc(0).Bulge, 1.0);
    EXPECT_NEAR(circle.Arc(0).Center.X, 10, 1e-12);
    EXPECT_NEAR(circle.Arc(0).Radius, 5, 1e-12);
    EXPECT_NEAR(circle.Arc(0).Sweep + circle.Arc(1).Sweep, 2 * kPi, 1e-12);
}

TEST(SectorBlobVersions, ReadingStartsAtTheStreamPosition)
{
    // A blob without the signature is read from where the stream stood, not
    // from the stream's first byte.
    for (const VersionCase& c : {VersionCases()[0], VersionCases()[2]}) {
        SCOPED_TRACE(c.name);
        rtl::TMemoryStream in("prefix" + c.blob);
        in.SetPosition(6);
        const rtl::RefPtr<TSectorData> sector(new TSectorData);
        sector->LoadFromStream(in);
        EXPECT_EQ(Save(*sector), c.rewritten);
    }
}

// ---- every stored version ---------------------------------------------------------------------

// One object with a closed polyline, a circle, an outline and a point, as a
// writer of the given version lays them out.
std::string EncodeForVersion(int v)
{
    Bytes b;
    if (v != 256) b.Header(v);
    b.I16(1).Id("00010000000A").Block();
    if (v < 261) b.Fill(16, 0x77);
    b.I16(4);
    const bool kinds = v < 265;
    // Closed polyline L(0,0) L(4,0) L(4,3) C.
    if (kinds) {
        if (v < 257)
            b.I16(2).I16(3).Pt(0, 0).Pt(4, 0).Pt(4, 3);
        else
            b.I16(1).I16(3).Pt(0, 0).Pt(4, 0).Pt(4, 3).U8(1);
    } else {
        b.Raw(ClosedLinesContour());
    }
    b.Id("0002000000FF");
    // Circle of centre (10, 20), radius 5.
    if (kinds)
        b.I16(5).Pt(10, 20).Dbl(5);
    else
        b.Raw(CircleContour());
    b.Id("000300000100");
    // Outline M(0,0) L(3,0) L(3,3) C.
    if (kinds) b.I16(6);
    if (v < 260)
        b.U8(1).I16(1).Pt(0, 0).I16(2).U8('s').Pt(3, 0).U8('s').Pt(3, 3);
    else if (v < 262)
        b.U8(1).I16(1).I16(3).U8('s').Pt(0, 0).U8('s').Pt(3, 0).U8('s').Pt(3, 3);
    else
        b.Raw(SquareContour());
    b.Id("0002000000FF");
    // Point (7, 8).
    if (kinds)
        b.I16(4).Pt(7, 8);
    else
        b.Raw(PointContour());
    b.Id("000300000100");
    return b.str();
}

TEST(SectorBlobVersions, EveryVersionFrom256To287RewritesTheSame)
{
    const std::string expected = Bytes()
                                     .Header287().I16(1).Id("00010000000A").Block()
                                     .I16(4)
                                     .Raw(ClosedLinesContour()).Id("0002000000FF")
                                     .Raw(CircleContour()).Id("000300000100")
                                     .Raw(SquareContour()).Id("0002000000FF")
                                     .Raw(PointContour()).Id("000300000100")
                                     .str();
    for (int v = 256; v <= 287; ++v) {
        SCOPED_TRACE("version " + std::to_string(v));
        const rtl::RefPtr<TSectorData> sector = Load(EncodeForVersion(v));
        EXPECT_EQ(DataVersion, 287);
        EXPECT_EQ(Save(*sector), expected);
    }
}

// ---- frames ------------------------------------------------------------------------------

struct FramePoint {
    std::uint8_t kind;
    double x, y;
};

void ExpectContour(TContour& c, const std::vector<FramePoint>& expected, const char* name)
{
    ASSERT_EQ(c.VertexCount(), static_cast<int>(expected.size())) << name;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const TContourStoredVertex& v = c.Vertex(static_cast<int>(i));
        EXPECT_EQ(v.Kind, expected[i].kind) << name << " vertex " << i;
        if (v.Kind == cvkClose) continue;
        EXPECT_NEAR(v.Point.X, expected[i].x, 1e-12) << name << " vertex " << i;
        EXPECT_NEAR(v.Point.Y, expected[i].y, 1e-12) << name << " vertex " << i;
    }
}

TEST(SectorBlobFrames, FourCornersBecomeAClosedOutline)
{
    // Corners P0 (0, 0), P1 (2, 2), P2 (6, 0): the frame along P0->P1 gives
    // the corner (5, -1); the fourth point is not used.
    const std::vector<FramePoint> rebuilt = {
        {cvkMoveTo, 6, 0}, {cvkLineTo, 5, -1}, {cvkLineTo, 2, 2}, {cvkLineTo, 0, 0}, {cvkClose, 0, 0}};
    // The 66-byte record: origin (10, 20), scale 2, angle pi/2, A 1, B 1, C 4,
    // D 3 give the corners (10, 20), (8, 22), (8, 28), (4, 22), and the frame
    // along (10, 20)->(8, 22) the corner (11, 25).
    const std::vector<FramePoint> fromRecord = {
        {cvkMoveTo, 8, 28}, {cvkLineTo, 11, 25}, {cvkLineTo, 8, 22}, {cvkLineTo, 10, 20}, {cvkClose, 0, 0}};
    struct Case {
        const char* name;
        int version;
        std::string bytes;
        std::vector<FramePoint> expected;
    };
    const Case cases[] = {
        {"recordBefore261", 258,
         Bytes().Pt(10, 20).Dbl(2).U8(0xCD).U8(0xCD).Dbl(kPi / 2).Dbl(1).Dbl(1).Dbl(4).Dbl(3).str(), fromRecord},
        {"oldOutlineAt261", 261,
         Bytes().U8(0).I16(4)
             .I16(1).U8(0).Pt(0, 0).I16(1).U8(0).Pt(2, 2).I16(1).U8(0).Pt(6, 0).I16(1).U8(0).Pt(9, 9)
             .str(),
         rebuilt},
        {"packedOutlineFrom262", 264,
         Bytes().I32(64).Pt(0, 0).Pt(2, 2).Pt(6, 0).Pt(9, 9).I32(4).U8(0).U8(1).U8(1).U8(3).str(), rebuilt},
        {"threeCornersAreCopied", 287,
         Bytes().I32(48).Pt(0, 0).Pt(2, 2).Pt(6, 0).I32(2).U8(0).U8(3).str(),
         {{cvkMoveTo, 0, 0}, {cvkMoveTo, 2, 2}, {cvkMoveTo, 6, 0}}},
        {"coincidentFirstCornersAreCopied", 287,
         Bytes().I32(64).Pt(1, 1).Pt(1, 1).Pt(6, 0).Pt(9, 9).I32(2).U8(0).U8(4).str(),
         {{cvkMoveTo, 1, 1}, {cvkMoveTo, 1, 1}, {cvkMoveTo, 6, 0}, {cvkMoveTo, 9, 9}}},
    };
    for (const Case& c : cases) {
        TContour contour;
        {
            TDataVersionScope scope(static_cast<std::uint16_t>(c.version));
            rtl::TMemoryStream in(c.bytes + "rest");
            ReadContourByKind(contour, 7, in);
            EXPECT_EQ(in.Position(), static_cast<std::int64_t>(c.bytes.size())) << c.name;
        }
        ExpectContour(contour, c.expected, c.name);
    }
}

// ---- identifier fields ----------------------------------------------------------------------

TEST(SectorBlobIdentifiers, OnlyTwelveHexDigitsMakeAnIdentifier)
{
    struct Case {
        const char* name;
        std::string field; // 13 bytes
        BinID id;
    };
    const Case cases[] = {
        {"upperCase", Bytes().Id("00010000000A").str(), kIdA},
        {"lowerCase", Bytes().Id("00010000000a").str(), kIdA},
        {"lengthByteEleven", Bytes().U8(11).Raw("00010000000A").str(), 0},
        {"lengthByteThirteen", Bytes().U8(13).Raw("00010000000A").str(), 0},
        {"lengthByteZero", Bytes().U8(0).Fill(12, 0).str(), 0},
        {"notHex", Bytes().Id("0001000G000A").str(), 0},
        {"blank", Bytes().Id("0001 0000000").str(), 0},
    };
    for (const Case& c : cases) {
        // The object block right after the field shows the 13 bytes are consumed.
        const std::string blob = Bytes().Header287().I16(1).Raw(c.field).Block().I16(0).str();
        const rtl::RefPtr<TSectorData> sector = Load(blob);
        ASSERT_EQ(sector->Objects.Count(), 1) << c.name;
        const TMapObjectData* object = sector->Objects.GetItem(0);
        EXPECT_EQ(object->ID, c.id) << c.name;
        EXPECT_EQ(std::string(object->ObjectBlock.begin(), object->ObjectBlock.end()), BlockBytes()) << c.name;
    }

    // An unreadable identifier is written back as twelve zeros.
    const rtl::RefPtr<TSectorData> sector = Load(Bytes().Header287().I16(1).U8(5).Raw("ABCDE0000000").Block().I16(0).str());
    EXPECT_EQ(Save(*sector), Bytes().Header287().I16(1).Id("000000000000").Block().I16(0).str());
}

TEST(SectorBlobIdentifiers, NewIdentifiersAreWrittenWithoutDecodingOutlines)
{
    const std::string packed = Bytes().I32(32).Pt(0, 0).Pt(2, 0).I32(4).U8(0).U8(1).U8(1).U8(1).str();
    const rtl::RefPtr<TSectorData> sector =
        Load(Bytes().Header287().I16(1).Id("00010000000A").Block().I16(1).Raw(packed).Id("0002000000FF").str());
    TMapObjectData* object = sector->Objects.GetItem(0);
    object->ID = kIdB;
    object->Shapes.GetItem(0)->StyleID = kStyle2;
    EXPECT_EQ(Save(*sector),
              Bytes().Header287().I16(1).Id("0001FFFF0000").Block().I16(1).Raw(packed).Id("000300000100").str());
    EXPECT_TRUE(object->Shapes.GetItem(0)->Contour.IsPacked());
}

// ---- refused blobs ----------------------------------------------------------------------------

class SectorBlobRefused : public ::testing::Test {
protected:
    void SetUp() override { sector_ = Load(VersionCases()[0].blob); }

    // Loads blob into the prepared sector; the message of the failure, or
    // "nothing raised". The sector and DataVersion must come out untouched.
    std::string Refuse(const std::string& blob, bool* formatError = nullptr)
    {
        std::string message = "nothing raised";
        rtl::TMemoryStream in(blob);
        try {
            sector_->LoadFromStream(in);
        } catch (const EDataFormatError& e) {
            message = e.what();
            if (formatError) *formatError = true;
        } catch (const rtl::Exception& e) {
            message = e.what();
            if (formatError) *formatError = false;
        }
        EXPECT_EQ(DataVersion, 287);
        EXPECT_EQ(sector_->Objects.Count(), 1);
        if (sector_->Objects.Count() == 1) {
            EXPECT_EQ(sector_->Objects.GetItem(0)->ID, kIdA);
        }
        EXPECT_EQ(Save(*sector_), VersionCases()[0].rewritten);
        return message;
    }

    rtl::RefPtr<TSectorData> sector_;
};

TEST_F(SectorBlobRefused, CorruptBlobsAreRefusedWithAClearError)
{
    const std::string object287 = Bytes().Id("00010000000A").Block().str();
    struct Case {
        const char* name;
        std::string blob;
        bool formatError;
        std::string message;
    };
    const Case cases[] = {
        {"versionAboveCurrent", Bytes().Header(288).I16(0).str(), true, "Неизвестная версия данных сектора: 288"},
        {"versionFarAbove", Bytes().Header(0xFFFF).I16(0).str(), true, "Неизвестная версия данных сектора: 65535"},
        {"headerVersionBelowOldest", Bytes().Header(255).I16(0).str(), true, "Неизвестная версия данных сектора: 255"},
        {"unknownShapeKind", Bytes().Header(264).I16(1).Raw(object287).I16(1).I16(8).Id("0002000000FF").str(), true,
         "Неизвестный тип фигуры: 8\n\rЗагружено 0 из 1"},
        {"negativeShapeKind", Bytes().Header(258).I16(1).Raw(object287).Fill(16, 0).I16(1).I16(-1).Id("0002000000FF").str(),
         true, "Неизвестный тип фигуры: -1\n\rЗагружено 0 из 1"},
        {"bytesAfterTheLastObject", Bytes().Header287().I16(1).Raw(object287).I16(0).U8(0).str(), true,
         "Лишние данные после последнего объекта сектора"},
        {"bytesAfterAnEmptyCount", Bytes().Header287().I16(0).I32(0).str(), true,
         "Лишние данные после последнего объекта сектора"},
        {"objectCountPastTheEnd", Bytes().Header287().I16(5).Raw(object287).I16(0).str(), false,
         "Stream read error\n\rЗагружено 1 из 5"},
        {"negativeShapeCount", Bytes().Header287().I16(1).Raw(object287).I16(-1).str(), true,
         "Неверное число фигур объекта: -1\n\rЗагружено 0 из 1"},
        {"shapeCountPastTheEnd", Bytes().Header287().I16(1).Raw(object287).I16(1000).EmptyContour().Id("0002000000FF").str(),
         true, "Неверное число фигур объекта: 1000\n\rЗагружено 0 из 1"},
        {"pointCountPastTheEnd",
         Bytes().Header(257).I16(1).Raw(object287).Fill(16, 0).I16(1).I16(1).I16(100).Pt(0, 0).U8(0).Id("0002000000FF").str(),
         true, "Неверное число точек фигуры: 100\n\rЗагружено 0 из 1"},
        {"contourLengthPastTheEnd", Bytes().Header287().I16(1).Raw(object287).I16(1).I32(4096).I32(0).Id("0002000000FF").str(),
         true, "Неверная длина блока контура: 4096\n\rЗагружено 0 из 1"},
        {"unknownSegmentType",
         Bytes().Header(261).I16(1).Raw(object287).I16(1).I16(6).U8(0).I16(1).I16(2).U8('s').Pt(0, 0).U8('z').Pt(1, 1)
             .Id("0002000000FF").str(),
         true, "Неизвестный тип сегмента контура: 122\n\rЗагружено 0 из 1"},
        {"oneByte", Bytes().U8(0xF3).str(), false, "Stream read error"},
        {"headerWithoutCount", Bytes().Header287().str(), false, "Stream read error"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        bool formatError = false;
        EXPECT_EQ(Refuse(c.blob, &formatError), c.message);
        EXPECT_EQ(formatError, c.formatError);
    }
}

TEST_F(SectorBlobRefused, EveryTruncationOfEveryLayoutIsRefused)
{
    for (const VersionCase& c : VersionCases()) {
        for (std::size_t n = 1; n < c.blob.size(); ++n) {
            SCOPED_TRACE(std::string(c.name) + " cut to " + std::to_string(n));
            EXPECT_NE(Refuse(c.blob.substr(0, n)), "nothing raised");
        }
    }
}

TEST_F(SectorBlobRefused, FailureInsideTheObjectsTellsHowManyWereRead)
{
    // Ten objects announced, the fourth cut inside its object block.
    Bytes blob;
    blob.Header(258).I16(10);
    for (int i = 0; i < 3; ++i) {
        blob.Id("00010000000A").Block().Fill(16, 0).I16(1).I16(1).I16(10);
        for (int k = 0; k < 10; ++k) blob.Pt(k, i);
        blob.U8(0).Id("0002000000FF");
    }
    blob.Id("00010000000A").Fill(20, 0);

    const std::string message = Refuse(blob.str());
    EXPECT_THAT(message, StartsWith("Stream read error"));
    EXPECT_THAT(message, EndsWith("\n\rЗагружено 3 из 10"));
}

// ---- writing -------------------------------------------------------------------------------------

TEST(SectorBlobWrite, CountsThatDoNotFitSixteenBitsAreRefusedBeforeWriting)
{
    const rtl::RefPtr<TSectorData> sector(new TSectorData);
    for (int i = 0; i < 0x8000; ++i) sector->Objects.Add(new TMapObjectData);
    rtl::TMemoryStream out;
    EXPECT_THROW(sector->SaveToStream(out), rtl::EWriteError);
    EXPECT_EQ(out.Size(), 0);

    sector->Objects.SetCount(1);
    TMapObjectData* object = sector->Objects.GetItem(0);
    for (int i = 0; i < 0x8000; ++i) object->Shapes.Add(new TShapeData);
    EXPECT_THROW(sector->SaveToStream(out), rtl::EWriteError);
    EXPECT_EQ(out.Size(), 0);

    object->Shapes.SetCount(0x7FFF);
    EXPECT_NO_THROW(sector->SaveToStream(out));
    const rtl::RefPtr<TSectorData> back = Load(out.ToString());
    EXPECT_EQ(back->Objects.GetItem(0)->Shapes.Count(), 0x7FFF);
}

} // namespace
