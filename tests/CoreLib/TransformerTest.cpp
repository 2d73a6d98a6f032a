// Tests of shape outlines: the process-wide data version, building a contour
// vertex by vertex with its arc records, the current stream form (written
// and read, kept packed), the older layouts by DataVersion, refused input,
// the point iterator, Assign and Clear.
//
// Stream bytes are written by hand from the layout tables with a small
// little-endian builder; a contour is compared through a one-line dump of
// its vertices ("M x y", "L x y", "A x y b<bulge>", "C x y", "Z x y b<bulge>").
#include "tests/support/TestHelpers.h"
#include "CoreLib/Transformer.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/rtl/Exceptions.h"
#include "platform/rtl/Streams.h"

namespace {

constexpr double kPi = std::numbers::pi;

using Bytes = testing_support::LeBytes;

std::string Num(double d)
{
    char buf[32];
    const auto r = std::to_chars(buf, buf + sizeof buf, d);
    return std::string(buf, r.ptr);
}

std::string Dump(TContour& c)
{
    static const char kLetters[] = "MLACZ";
    std::string out;
    for (int i = 0; i < c.VertexCount(); ++i) {
        const TContourStoredVertex& v = c.Vertex(i);
        if (!out.empty()) out += " | ";
        out += v.Kind <= 4 ? kLetters[v.Kind] : '?';
        out += ' ' + Num(v.Point.X) + ' ' + Num(v.Point.Y);
        if (v.Kind == cvkArcTo || v.Kind == cvkArcClose) out += " b" + Num(c.Arc(v.ParamIndex).Bulge);
        if ((v.Kind == cvkArcTo || v.Kind == cvkArcClose) != (v.ParamIndex != NoParamIndex)) out += " (bad index)";
    }
    return out;
}

void Build(TContour& c, const std::vector<TContourVertex>& vertices)
{
    for (const TContourVertex& v : vertices) c.Append(v);
}

std::string Saved(const TContour& c)
{
    rtl::TMemoryStream out;
    c.SaveToStream(out);
    return out.ToString();
}

void LoadAt(std::uint16_t version, TContour& c, const std::string& bytes, std::size_t* consumed = nullptr)
{
    TDataVersionScope scope(version);
    rtl::TMemoryStream in(bytes);
    c.LoadFromStream(in);
    if (consumed) *consumed = static_cast<std::size_t>(in.Position());
}

// ---- the data version -------------------------------------------------------------

TEST(ContourDataVersion, StartsAtCurrentAndEveryScopeRestoresIt)
{
    EXPECT_EQ(CurrentDataVersion, 287);
    EXPECT_EQ(DataVersion, 287);
    {
        TDataVersionScope outer(259);
        EXPECT_EQ(DataVersion, 259);
        {
            TDataVersionScope inner;
            inner.Set(261);
            EXPECT_EQ(DataVersion, 261);
            EXPECT_EQ(inner.Saved(), 259);
        }
        EXPECT_EQ(DataVersion, 259);
    }
    EXPECT_EQ(DataVersion, 287);
    try {
        TDataVersionScope failing(256);
        throw rtl::EReadError("boom");
    } catch (const rtl::Exception&) {
    }
    EXPECT_EQ(DataVersion, 287);
}

// ---- building and writing -------------------------------------------------------------

TEST(ContourWrite, CurrentStreamFormByHand)
{
    struct Case {
        const char* name;
        std::vector<TContourVertex> vertices;
        std::string bytes;
    };
    const Case cases[] = {
        {"emptyIsEightZeroBytes", {}, Bytes().I32(0).I32(0).str()},
        {"squareOfOneRunAndTwoCloses",
         {MoveToVertex({0, 0}), LineToVertex({1, 0}), LineToVertex({1, 1}), LineToVertex({0, 1}), CloseVertex()},
         Bytes().I32(64).Pt(0, 0).Pt(1, 0).Pt(1, 1).Pt(0, 1).I32(5).U8(0).U8(1).U8(1).U8(3).U8(3).str()},
        {"arcRunCarriesItsBulgesAndArcCloseItsOwn",
         {MoveToVertex({0, 0}), ArcToVertex({2, 0}, 0.5), ArcToVertex({4, 0}, -0.25), LineToVertex({4, 4}),
          ParamVertex(1.0)},
         Bytes()
             .I32(64).Pt(0, 0).Pt(2, 0).Pt(4, 0).Pt(4, 4)
             .I32(31).U8(0).U8(1).U8(2).U8(2).Dbl(0.5).Dbl(-0.25).U8(1).U8(1).U8(4).Dbl(1.0)
             .str()},
        {"closesNeverShareARecord",
         {MoveToVertex({1, 2}), CloseVertex(), CloseVertex(), ParamVertex(0.5), ParamVertex(-0.5)},
         Bytes().I32(16).Pt(1, 2).I32(22).U8(0).U8(1).U8(3).U8(3).U8(4).Dbl(0.5).U8(4).Dbl(-0.5).str()},
        {"twoFigures",
         {MoveToVertex({0, 0}), LineToVertex({1, 0}), CloseVertex(), MoveToVertex({5, 5}), LineToVertex({6, 5}),
          CloseVertex()},
         Bytes()
             .I32(64).Pt(0, 0).Pt(1, 0).Pt(5, 5).Pt(6, 5)
             .I32(10).U8(0).U8(1).U8(1).U8(1).U8(3).U8(0).U8(1).U8(1).U8(1).U8(3)
             .str()},
    };
    for (const Case& c : cases) {
        TContour contour;
        Build(contour, c.vertices);
        EXPECT_EQ(Saved(contour), c.bytes) << c.name;
    }
}

TEST(ContourWrite, RunsStopAtTwoHundredFiftyFive)
{
    TContour contour;
    contour.Append(MoveToVertex({0, 0}));
    for (int i = 1; i <= 300; ++i) contour.Append(LineToVertex({static_cast<double>(i), 0}));
    const std::string bytes = Saved(contour);

    Bytes expected;
    expected.I32(301 * 16);
    for (int i = 0; i <= 300; ++i) expected.Pt(i, 0);
    expected.I32(6).U8(0).U8(1).U8(1).U8(255).U8(1).U8(45);
    EXPECT_EQ(bytes, expected.str());

    // A run of 255 arcs is followed by its 255 bulges before the next run.
    TContour arcs;
    arcs.Append(MoveToVertex({0, 0}));
    for (int i = 1; i <= 256; ++i) arcs.Append(ArcToVertex({static_cast<double>(i), 0}, 0.125));
    const std::string arcBytes = Saved(arcs);
    const std::size_t codesAt = 4 + 257 * 16 + 4;
    ASSERT_EQ(arcBytes.size(), codesAt + 2 + 2 + 255 * 8 + 2 + 8);
    EXPECT_EQ(arcBytes.substr(codesAt, 4), Bytes().U8(0).U8(1).U8(2).U8(255).str());
    EXPECT_EQ(arcBytes.substr(codesAt + 4 + 255 * 8, 2), Bytes().U8(2).U8(1).str());
}

// ---- arc records of appended vertices -----------------------------------------------------

TEST(ContourAppend, ArcRecordsFollowTheSegmentRules)
{
    const double t8 = std::tan(kPi / 8);
    TContour c;
    // A full circle of centre (10, 20), radius 5, as the circle shape builds it.
    EXPECT_EQ(c.Append(MoveToVertex({5, 20})), 0);
    EXPECT_EQ(c.Append(ArcToVertex({15, 20}, 1.0)), 1);
    EXPECT_EQ(c.Append(ParamVertex(1.0)), 2);
    // After a Close the next segment starts at the figure's MoveTo point.
    c.Append(MoveToVertex({0, 0}));
    c.Append(LineToVertex({5, 5}));
    c.Append(CloseVertex());
    c.Append(ArcToVertex({2, 0}, t8));
    // A zero bulge keeps its record with nothing derived.
    c.Append(ArcToVertex({9, 9}, 0));

    EXPECT_EQ(c.GetCount(), 6);
    EXPECT_EQ(c.VertexCount(), 8);
    ASSERT_EQ(c.ArcCount(), 4);
    EXPECT_EQ(Dump(c), "M 5 20 | A 15 20 b1 | Z 5 20 b1 | M 0 0 | L 5 5 | C 0 0 | A 2 0 b" + Num(t8) + " | A 9 9 b0");

    struct Expect {
        const char* name;
        int arc;
        TFloatPoint center;
        double sweep;
        double radius;
    };
    const Expect expects[] = {
        {"lowerHalfOfTheCircle", 0, {10, 20}, kPi, 5},
        {"upperHalfBackToTheStart", 1, {10, 20}, kPi, 5},
        {"quarterFromTheFigureStart", 2, {1, 1}, kPi / 2, std::sqrt(2.0)},
        {"zeroBulgeDerivesNothing", 3, {0, 0}, 0, 0},
    };
    double circle = 0;
    for (const Expect& e : expects) {
        const TContourArc& a = c.Arc(e.arc);
        EXPECT_NEAR(a.Center.X, e.center.X, 1e-12) << e.name;
        EXPECT_NEAR(a.Center.Y, e.center.Y, 1e-12) << e.name;
        EXPECT_NEAR(a.Sweep, e.sweep, 1e-12) << e.name;
        EXPECT_NEAR(a.Radius, e.radius, 1e-12) << e.name;
        if (e.arc < 2) circle += a.Sweep;
    }
    EXPECT_NEAR(circle, 2 * kPi, 1e-12);
}

TEST(ContourAppend, OutOfRangeIndexesRaiseTheListError)
{
    TContour c;
    c.Append(MoveToVertex({0, 0}));
    c.Append(ArcToVertex({1, 0}, 1));
    EXPECT_THROW(c.Vertex(-1), rtl::EListError);
    EXPECT_THROW(c.Vertex(2), rtl::EListError);
    EXPECT_NO_THROW(c.Vertex(1));
    EXPECT_THROW(c.Arc(1), rtl::EListError);
    try {
        c.Vertex(5);
    } catch (const rtl::EListError& e) {
        EXPECT_STREQ(e.what(), "Индекс массива выходит за пределы (TContour.Vertex)");
    }
}

// ---- reading the current form ---------------------------------------------------------------

TEST(ContourReadCurrent, StaysPackedAndIsWrittenBackByteForByte)
{
    // Runs split where our writer would merge them, to show the bytes are kept.
    const std::string bytes = Bytes()
                                  .I32(48).Pt(0, 0).Pt(1, 0).Pt(1, 1)
                                  .I32(9).U8(0).U8(1).U8(1).U8(1).U8(1).U8(1).U8(3)
                                  .U8(1).U8(0) // an empty run is harmless
                                  .str();
    for (const std::uint16_t version : {262, 270, 287}) {
        TContour c;
        std::size_t consumed = 0;
        LoadAt(version, c, bytes + "tail", &consumed);
        EXPECT_EQ(consumed, bytes.size()) << version;
        EXPECT_TRUE(c.IsPacked()) << version;
        EXPECT_EQ(Saved(c), bytes) << version;

        // Touching it unpacks it; the rewrite merges the runs.
        EXPECT_EQ(c.GetCount(), 3) << version;
        EXPECT_FALSE(c.IsPacked());
        EXPECT_EQ(Dump(c), "M 0 0 | L 1 0 | L 1 1 | C 0 0");
        EXPECT_EQ(Saved(c), Bytes().I32(48).Pt(0, 0).Pt(1, 0).Pt(1, 1).I32(5).U8(0).U8(1).U8(1).U8(2).U8(3).str());
    }
}

TEST(ContourReadCurrent, UnpackingTurnsDegenerateArcsIntoLines)
{
    const double t8 = std::tan(kPi / 8);
    struct Case {
        const char* name;
        std::string bytes;
        const char* dump;
        int arcs;
    };
    const Case cases[] = {
        {"arcsKeepTheirRecords",
         Bytes().I32(32).Pt(0, 0).Pt(2, 0).I32(21).U8(0).U8(1).U8(2).U8(1).Dbl(t8).U8(4).Dbl(t8).str(),
         nullptr, 2},
        {"zeroBulgeArcToIsALine",
         Bytes().I32(32).Pt(0, 0).Pt(2, 0).I32(12).U8(0).U8(1).U8(2).U8(1).Dbl(0).str(), "M 0 0 | L 2 0", 0},
        {"zeroBulgeArcCloseIsAClose",
         Bytes().I32(32).Pt(0, 0).Pt(2, 0).I32(13).U8(0).U8(1).U8(1).U8(1).U8(4).Dbl(0).str(),
         "M 0 0 | L 2 0 | C 0 0", 0},
        {"arcWithoutPreviousPointIsALine",
         Bytes().I32(16).Pt(3, 4).I32(10).U8(2).U8(1).Dbl(0.5).str(), "L 3 4", 0},
        {"arcOnCoincidentPointsIsALine",
         Bytes().I32(32).Pt(3, 4).Pt(3, 4).I32(12).U8(0).U8(1).U8(2).U8(1).Dbl(0.5).str(), "M 3 4 | L 3 4", 0},
        {"arcCloseWithoutFigureStartIsAClose",
         Bytes().I32(16).Pt(3, 4).I32(11).U8(1).U8(1).U8(4).Dbl(0.5).str(), "L 3 4 | C 0 0", 0},
        // A bulge too small for its circle to be computed is still an arc: its
        // record keeps the bulge, so a rewrite keeps the stored arc.
        {"tinyBulgeKeepsItsArc",
         Bytes().I32(32).Pt(0, 0).Pt(2, 0).I32(12).U8(0).U8(1).U8(2).U8(1).Dbl(1e-300).str(), "M 0 0 | A 2 0 b1e-300",
         1},
    };
    for (const Case& c : cases) {
        TContour contour;
        LoadAt(287, contour, c.bytes);
        if (c.dump) {
            EXPECT_EQ(Dump(contour), c.dump) << c.name;
        }
        if (std::string(c.name) == "tinyBulgeKeepsItsArc") {
            TContour copy;
            copy.Assign(contour); // unpacked, then written from its vertices
            EXPECT_EQ(Saved(copy), c.bytes) << c.name;
        }
        EXPECT_EQ(contour.ArcCount(), c.arcs) << c.name;
        for (int i = 0; i < contour.VertexCount(); ++i) {
            const TContourStoredVertex& v = contour.Vertex(i);
            const bool arc = v.Kind == cvkArcTo || v.Kind == cvkArcClose;
            EXPECT_EQ(arc, v.ParamIndex != NoParamIndex) << c.name << " vertex " << i;
        }
    }

    // The arc records of the first case: a quarter out and a quarter back.
    TContour c;
    LoadAt(287, c, cases[0].bytes);
    ASSERT_EQ(Dump(c), "M 0 0 | A 2 0 b" + Num(t8) + " | Z 0 0 b" + Num(t8));
    EXPECT_NEAR(c.Arc(0).Center.X, 1, 1e-12);
    EXPECT_NEAR(c.Arc(0).Center.Y, 1, 1e-12);
    EXPECT_NEAR(c.Arc(0).Sweep, kPi / 2, 1e-12);
    EXPECT_NEAR(c.Arc(0).Radius, std::sqrt(2.0), 1e-12);
    EXPECT_NEAR(c.Arc(1).Center.X, 1, 1e-12);
    EXPECT_NEAR(c.Arc(1).Center.Y, -1, 1e-12);
    EXPECT_NEAR(c.Arc(1).Sweep, kPi / 2, 1e-12);
}

// ---- reading the older layouts ------------------------------------------------------------

TEST(ContourReadOld, LayoutsBeforeVersion262)
{
    struct Case {
        const char* name;
        std::uint16_t version;
        std::string bytes;
        const char* dump;
    };
    const Case cases[] = {
        {"before260LinesAndClose", 259,
         Bytes().U8(1).I16(1).Pt(0, 0).I16(2).U8('s').Pt(2, 0).U8('s').Pt(2, 2).str(),
         "M 0 0 | L 2 0 | L 2 2 | C 0 0"},
        {"before260OpenTwoFigures", 256,
         Bytes().U8(0).I16(2).Pt(0, 0).I16(1).U8('s').Pt(1, 0).Pt(5, 5).I16(1).U8('s').Pt(6, 5).str(),
         "M 0 0 | L 1 0 | M 5 5 | L 6 5"},
        {"before260ArcThroughCollinearMidIsALine", 258,
         Bytes().U8(0).I16(1).Pt(0, 0).I16(1).U8('a').Pt(1, 0).Pt(2, 0).str(), "M 0 0 | L 2 0"},
        {"before260ArcThroughMidEqualToStartIsALine", 258,
         Bytes().U8(0).I16(1).Pt(0, 0).I16(1).U8('a').Pt(0, 0).Pt(2, 0).str(), "M 0 0 | L 2 0"},
        {"before260NoSegments", 259, Bytes().U8(1).I16(1).Pt(7, 8).I16(0).str(), "M 7 8 | C 7 8"},
        {"from260ClosingArcAndBulges", 260,
         Bytes()
             .U8(1).I16(1).I16(3).U8('a').Dbl(0.5).Pt(0, 0)
             .U8('a').Dbl(-0.25).Pt(4, 0).U8('s').Pt(4, 4)
             .str(),
         "M 0 0 | A 4 0 b-0.25 | L 4 4 | Z 0 0 b0.5"},
        {"from260NoClosingBulgeIsAClose", 261,
         Bytes().U8(1).I16(1).I16(2).U8('s').Pt(0, 0).U8('s').Pt(4, 0).str(), "M 0 0 | L 4 0 | C 0 0"},
        {"from260ZeroBulgeArcIsALine", 261,
         Bytes().U8(0).I16(1).I16(2).U8('x').Pt(0, 0).U8('a').Dbl(0).Pt(4, 0).str(), "M 0 0 | L 4 0"},
        {"from260OpenIgnoresTheClosingBulge", 260,
         Bytes().U8(0).I16(1).I16(1).U8('a').Dbl(0.75).Pt(1, 1).str(), "M 1 1"},
        {"from260CountZeroMeansNoSegments", 261,
         Bytes().U8(1).I16(1).I16(0).U8('s').Pt(1, 1).str(), "M 1 1 | C 1 1"},
        {"noFigures", 259, Bytes().U8(1).I16(0).str(), ""},
        {"negativeFigureCount", 261, Bytes().U8(1).I16(-3).str(), ""},
    };
    for (const Case& c : cases) {
        TContour contour;
        std::size_t consumed = 0;
        LoadAt(c.version, contour, c.bytes + "\x01\x02", &consumed);
        EXPECT_FALSE(contour.IsPacked()) << c.name;
        EXPECT_EQ(Dump(contour), c.dump) << c.name;
        EXPECT_EQ(consumed, c.bytes.size()) << c.name;
    }
}

TEST(ContourReadOld, ArcThroughAMidPointGetsItsBulge)
{
    // From (2, 0) through (3, 1) to (2, 2): half of the circle of centre (2, 1).
    TContour c;
    LoadAt(259, c, Bytes().U8(0).I16(1).Pt(0, 0).I16(2).U8('s').Pt(2, 0).U8('a').Pt(3, 1).Pt(2, 2).str());
    ASSERT_EQ(c.VertexCount(), 3);
    ASSERT_EQ(c.Vertex(2).Kind, cvkArcTo);
    EXPECT_NEAR(c.Arc(c.Vertex(2).ParamIndex).Bulge, 1, 1e-12);
    EXPECT_NEAR(c.Arc(c.Vertex(2).ParamIndex).Center.X, 2, 1e-12);
    EXPECT_NEAR(c.Arc(c.Vertex(2).ParamIndex).Center.Y, 1, 1e-12);
}

TEST(ContourReadOld, RewriteUpgradesToTheCurrentForm)
{
    TContour c;
    LoadAt(260, c,
           Bytes()
               .U8(1).I16(1).I16(3).U8('a').Dbl(0.5).Pt(0, 0)
               .U8('a').Dbl(-0.25).Pt(4, 0).U8('s').Pt(4, 4)
               .str());
    EXPECT_EQ(Saved(c), Bytes()
                            .I32(48).Pt(0, 0).Pt(4, 0).Pt(4, 4)
                            .I32(23).U8(0).U8(1).U8(2).U8(1).Dbl(-0.25).U8(1).U8(1).U8(4).Dbl(0.5)
                            .str());
}

// ---- refused input ------------------------------------------------------------------------

TEST(ContourReadRefused, BadLengthsCountsAndCodesLeaveTheContourAlone)
{
    enum Kind { Format, Read };
    struct Case {
        const char* name;
        std::uint16_t version;
        std::string bytes;
        Kind kind;
        const char* message;
    };
    const Case cases[] = {
        {"truncatedBeforeThePointsLength", 287, Bytes().U8(0).U8(0).str(), Read, "Stream read error"},
        {"negativePointsLength", 287, Bytes().I32(-16).I32(0).str(), Format, "Неверная длина блока контура: -16"},
        {"pointsLengthNotAWholePoint", 287, Bytes().I32(8).Dbl(0).I32(0).str(), Format,
         "Неверная длина блока контура: 8"},
        {"pointsLengthPastTheEnd", 287, Bytes().I32(32).Pt(0, 0).I32(0).str(), Format,
         "Неверная длина блока контура: 32"},
        {"truncatedBeforeTheCodesLength", 287, Bytes().I32(16).Pt(0, 0).U8(5).str(), Read, "Stream read error"},
        {"codesLengthPastTheEnd", 287, Bytes().I32(16).Pt(0, 0).I32(3).U8(0).U8(1).str(), Format,
         "Неверная длина блока контура: 3"},
        {"negativeCodesLength", 287, Bytes().I32(16).Pt(0, 0).I32(-1).str(), Format,
         "Неверная длина блока контура: -1"},
        {"unknownVertexKind", 287, Bytes().I32(16).Pt(0, 0).I32(3).U8(0).U8(1).U8(5).str(), Format,
         "Повреждён блок кодов контура"},
        {"runWithoutItsCount", 287, Bytes().I32(0).I32(1).U8(1).str(), Format, "Повреждён блок кодов контура"},
        {"arcBulgesPastTheCodes", 287, Bytes().I32(32).Pt(0, 0).Pt(1, 1).I32(8).U8(0).U8(1).U8(2).U8(1).Dbl(1).str().substr(0, 4 + 32 + 4 + 8), Format,
         "Повреждён блок кодов контура"},
        {"arcCloseBulgePastTheCodes", 287, Bytes().I32(16).Pt(0, 0).I32(6).U8(0).U8(1).U8(4).U8(0).U8(0).U8(0).str(),
         Format, "Повреждён блок кодов контура"},
        {"fewerPointsThanCoded", 287, Bytes().I32(16).Pt(0, 0).I32(2).U8(1).U8(2).str(), Format,
         "Повреждён блок кодов контура"},
        {"morePointsThanCoded", 287, Bytes().I32(32).Pt(0, 0).Pt(1, 1).I32(2).U8(1).U8(1).str(), Format,
         "Повреждён блок кодов контура"},
        {"oldFigureCountPastTheEnd", 259, Bytes().U8(1).I16(2).Pt(0, 0).I16(0).str(), Format,
         "Неверное число фигур контура: 2"},
        {"oldSegmentCountPastTheEnd", 259, Bytes().U8(1).I16(1).Pt(0, 0).I16(2).U8('s').Pt(1, 1).str(), Format,
         "Неверное число сегментов контура: 2"},
        {"oldUnknownSegmentType", 261, Bytes().U8(1).I16(1).I16(2).U8('s').Pt(0, 0).U8('q').Pt(1, 1).str(), Format,
         "Неизвестный тип сегмента контура: 113"},
        {"oldTruncatedInsideASegment", 261, Bytes().U8(1).I16(1).I16(2).U8('s').Pt(0, 0).U8('a').Dbl(1).Pt(1, 1).str().substr(0, 42), Read,
         "Stream read error"},
        {"oldTruncatedBeforeTheFigureCount", 258, Bytes().U8(1).U8(1).str(), Read, "Stream read error"},
    };
    for (const Case& c : cases) {
        TContour contour;
        Build(contour, {MoveToVertex({0, 0}), LineToVertex({1, 0}), CloseVertex()});
        try {
            LoadAt(c.version, contour, c.bytes);
            ADD_FAILURE() << c.name << ": nothing raised";
        } catch (const EDataFormatError& e) {
            EXPECT_EQ(c.kind, Format) << c.name;
            EXPECT_STREQ(e.what(), c.message) << c.name;
        } catch (const rtl::EReadError& e) {
            EXPECT_EQ(c.kind, Read) << c.name;
            EXPECT_STREQ(e.what(), c.message) << c.name;
        }
        EXPECT_EQ(Dump(contour), "M 0 0 | L 1 0 | C 0 0") << c.name;
        EXPECT_EQ(DataVersion, 287) << c.name;
    }
}

// ---- walking, copying, clearing -------------------------------------------------------------

TEST(ContourPoints, IteratorSkipsClosesAndStartsWhereAsked)
{
    TContour c;
    Build(c, {MoveToVertex({0, 0}), LineToVertex({1, 0}), CloseVertex(), MoveToVertex({5, 5}), ParamVertex(1)});

    auto walk = [&c](int start) {
        std::string out;
        TContourPointIterator it;
        for (it.First(c, start); !it.Eof(); it.Next()) out += "(" + Num(it.Point.X) + "," + Num(it.Point.Y) + ")";
        return out;
    };
    struct Case {
        const char* name;
        int start;
        const char* points;
    };
    const Case cases[] = {
        {"fromTheStart", 0, "(0,0)(1,0)(5,5)"},
        {"negativeStartCountsAsZero", -4, "(0,0)(1,0)(5,5)"},
        {"startOnACloseMovesToTheNextPoint", 2, "(5,5)"},
        {"startPastTheEnd", 9, ""},
    };
    for (const Case& k : cases) EXPECT_EQ(walk(k.start), k.points) << k.name;

    TContour empty;
    TContourPointIterator it;
    it.First(empty, 0);
    EXPECT_TRUE(it.Eof());

    // The iterator unpacks a packed contour first.
    TContour packed;
    LoadAt(287, packed, Bytes().I32(32).Pt(1, 2).Pt(3, 4).I32(5).U8(0).U8(1).U8(1).U8(1).U8(3).str());
    it.First(packed, 0);
    EXPECT_FALSE(packed.IsPacked());
    ASSERT_FALSE(it.Eof());
    it.Next();
    EXPECT_EQ(it.Point.X, 3);
    it.Next();
    EXPECT_TRUE(it.Eof());
}

TEST(ContourCopy, AssignAndClear)
{
    const std::string bytes = Bytes().I32(32).Pt(0, 0).Pt(2, 0).I32(12).U8(0).U8(1).U8(2).U8(1).Dbl(1).str();

    // From a packed source: this one gets vertices, the source stays packed.
    TContour source;
    LoadAt(287, source, bytes);
    TContour copy;
    Build(copy, {MoveToVertex({9, 9})});
    copy.Assign(source);
    EXPECT_TRUE(source.IsPacked());
    EXPECT_FALSE(copy.IsPacked());
    EXPECT_EQ(Dump(copy), "M 0 0 | A 2 0 b1");
    EXPECT_NEAR(copy.Arc(0).Center.X, 1, 1e-12);
    EXPECT_EQ(Saved(source), bytes);

    // From an unpacked source: an independent copy.
    TContour second;
    LoadAt(287, second, bytes);
    second.Assign(copy);
    EXPECT_FALSE(second.IsPacked());
    copy.Append(LineToVertex({7, 7}));
    EXPECT_EQ(Dump(second), "M 0 0 | A 2 0 b1");
    EXPECT_EQ(second.GetCount(), 2);

    // Onto itself: nothing happens, also while packed.
    source.Assign(source);
    EXPECT_TRUE(source.IsPacked());
    second.Assign(second);
    EXPECT_EQ(Dump(second), "M 0 0 | A 2 0 b1");

    // Moving hands the packed form over and leaves an empty contour behind.
    TContour taken(std::move(source));
    EXPECT_TRUE(taken.IsPacked());
    EXPECT_EQ(Saved(taken), bytes);
    EXPECT_FALSE(source.IsPacked());
    EXPECT_EQ(Saved(source), Bytes().I32(0).I32(0).str());
    source = std::move(taken);

    // Clear drops the packed form, or empties the arrays.
    source.Clear();
    EXPECT_FALSE(source.IsPacked());
    EXPECT_EQ(source.GetCount(), 0);
    EXPECT_EQ(Saved(source), Bytes().I32(0).I32(0).str());
    second.Clear();
    EXPECT_EQ(second.GetCount(), 0);
    EXPECT_EQ(second.VertexCount(), 0);
    EXPECT_EQ(second.ArcCount(), 0);
}

} // namespace
