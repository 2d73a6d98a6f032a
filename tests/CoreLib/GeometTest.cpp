// Tests of the plane geometry: angles and distances, local frames, circles
// through three points and arcs given by bulge.
//
// Expected values are worked out by hand or from the closed form of an arc
// (sweep = 4 atan(bulge); centre on the chord's perpendicular bisector at
// half the chord times cot(sweep / 2), to the left of the chord), never by
// calling the routines under test.
#include "CoreLib/Geomet.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <string>
#include <utility>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/rtl/Exceptions.h"

namespace {

using ::testing::StartsWith;

constexpr double kPi = std::numbers::pi;
constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A point on the circle of centre (2, 3) and radius 5 at an angle in degrees.
TFloatPoint OnCircle(double degrees)
{
    const double a = degrees * kPi / 180;
    return TFloatPoint{2 + 5 * std::cos(a), 3 + 5 * std::sin(a)};
}

// ---- points and angles -----------------------------------------------------------

TEST(GeometPoints, LineAngleIsInZeroToTwoPi)
{
    struct Case {
        const char* name;
        TFloatPoint to;
        double angle;
    };
    const Case cases[] = {
        {"alongPlusX", {1, 0}, 0},
        {"alongPlusY", {0, 1}, kPi / 2},
        {"alongMinusX", {-1, 0}, kPi},
        {"alongMinusYIsThreeHalvesPiNotMinusHalfPi", {0, -1}, 3 * kPi / 2},
        {"fourthQuadrant", {1, -1}, 7 * kPi / 4},
        {"secondQuadrant", {-3, 3}, 3 * kPi / 4},
    };
    const TFloatPoint from{5, -2};
    for (const Case& c : cases) {
        const TFloatPoint to{from.X + c.to.X, from.Y + c.to.Y};
        EXPECT_NEAR(LineAngle(from, to), c.angle, 1e-15) << c.name;
    }
}

TEST(GeometPoints, DistanceAndExactEquality)
{
    EXPECT_DOUBLE_EQ(PointDistance({1, 2}, {4, 6}), 5);
    EXPECT_DOUBLE_EQ(PointDistance({-1, -1}, {-1, -1}), 0);
    EXPECT_TRUE(PointsEqual({1.5, -2}, FloatPoint(1.5, -2)));
    // No tolerance: 0.1 + 0.2 is not 0.3 in binary.
    EXPECT_FALSE(PointsEqual({0.1 + 0.2, 0}, {0.3, 0}));
    EXPECT_FALSE(PointsEqual({0, 1}, {0, 1 + 1e-15}));
}

// ---- frames ----------------------------------------------------------------------

TEST(GeometFrame, TwoPointFrameKeepsScaleAndIsInvertible)
{
    TCoordSys f;
    f.InitPoints({1, 1}, {4, 5}); // axis (3, 4), length 5
    EXPECT_EQ(f.Mode, 1);
    EXPECT_EQ(f.AngleSet, 0);
    EXPECT_DOUBLE_EQ(static_cast<double>(f.Length), 5);
    EXPECT_DOUBLE_EQ(static_cast<double>(f.Cos), 0.6);
    EXPECT_DOUBLE_EQ(static_cast<double>(f.Sin), 0.8);

    struct Case {
        const char* name;
        TFloatPoint global;
        TFloatPoint local;
    };
    const Case cases[] = {
        {"originIsZero", {1, 1}, {0, 0}},
        {"axisPointOnXAxis", {4, 5}, {5, 0}},
        {"leftOfAxisIsPositiveY", {1 - 4, 1 + 3}, {0, 5}},
        {"rightOfAxisIsNegativeY", {1 + 8, 1 - 6}, {0, -10}},
        {"behindTheOrigin", {1 - 6, 1 - 8}, {-10, 0}},
    };
    for (const Case& c : cases) {
        const TFloatPoint q = f.ToLocal(c.global);
        EXPECT_NEAR(q.X, c.local.X, 1e-14) << c.name;
        EXPECT_NEAR(q.Y, c.local.Y, 1e-14) << c.name;
        TFloatPoint g = c.local;
        f.ToGlobalInPlace(g);
        EXPECT_NEAR(g.X, c.global.X, 1e-14) << c.name;
        EXPECT_NEAR(g.Y, c.global.Y, 1e-14) << c.name;
    }
}

TEST(GeometFrame, AngleFrameRotatesAboutItsOrigin)
{
    TCoordSys f;
    f.InitAngle({2, 3}, kPi / 2);
    EXPECT_EQ(f.Mode, 0);
    EXPECT_EQ(f.AngleSet, 1);
    TFloatPoint q;
    f.ToLocal({2, 4}, q); // one up is the local x axis
    EXPECT_NEAR(q.X, 1, 1e-15);
    EXPECT_NEAR(q.Y, 0, 1e-15);
    f.ToLocal({1, 3}, q); // one left is the local y axis
    EXPECT_NEAR(q.X, 0, 1e-15);
    EXPECT_NEAR(q.Y, 1, 1e-15);
    TFloatPoint g;
    f.ToGlobal({3, -2}, g);
    EXPECT_NEAR(g.X, 2 + 2, 1e-15);
    EXPECT_NEAR(g.Y, 3 + 3, 1e-15);
}

TEST(GeometFrame, EqualOrUnorderedPointsFailTheAssertionAndKeepTheOldFrame)
{
    const TFloatPoint bad[][2] = {
        {{7, 8}, {7, 8}},
        {{kNaN, 0}, {1, 1}},
    };
    for (const auto& pair : bad) {
        TCoordSys f;
        f.InitAngle({1, 1}, kPi / 2);
        try {
            f.InitPoints(pair[0], pair[1]);
            ADD_FAILURE() << "nothing raised";
        } catch (const rtl::EAssertionFailed& e) {
            EXPECT_THAT(e.what(), StartsWith("Assertion failure (Geomet.cpp, line "));
        }
        EXPECT_EQ(f.Mode, 0);
        EXPECT_EQ(f.AngleSet, 1);
        EXPECT_EQ(f.Origin.Y, pair[0].Y);
        EXPECT_NEAR(static_cast<double>(f.Sin), 1, 1e-15);
    }
}

// ---- arcs by bulge ---------------------------------------------------------------

struct ArcCase {
    const char* name;
    TFloatPoint start;
    TFloatPoint end;
    double bulge;
    TFloatPoint center;
    double sweep;
};

TEST(GeometArcFromBulge, HandWorkedArcs)
{
    const double t8 = std::tan(kPi / 8);
    const double t38 = std::tan(3 * kPi / 8);
    const ArcCase cases[] = {
        {"quarterCounterClockwise", {0, 0}, {2, 0}, t8, {1, 1}, kPi / 2},
        {"quarterClockwise", {0, 0}, {2, 0}, -t8, {1, -1}, -kPi / 2},
        {"halfCounterClockwise", {0, 0}, {2, 0}, 1, {1, 0}, kPi},
        {"halfClockwise", {0, 0}, {2, 0}, -1, {1, 0}, -kPi},
        {"threeQuartersCounterClockwise", {0, 0}, {2, 0}, t38, {1, -1}, 3 * kPi / 2},
        {"threeQuartersClockwise", {0, 0}, {2, 0}, -t38, {1, 1}, -3 * kPi / 2},
        {"quarterOnAnUpwardChord", {1, 2}, {1, 6}, t8, {-1, 4}, kPi / 2},
        {"quarterOnADiagonalChord", {0, 0}, {2, 2}, -t8, {2, 0}, -kPi / 2},
    };
    for (const ArcCase& c : cases) {
        double sweep = 0;
        TFloatPoint center;
        ASSERT_TRUE(ArcFromBulge(c.start, c.end, sweep, c.bulge, center)) << c.name;
        EXPECT_NEAR(center.X, c.center.X, 1e-12) << c.name;
        EXPECT_NEAR(center.Y, c.center.Y, 1e-12) << c.name;
        EXPECT_NEAR(sweep, c.sweep, 1e-12) << c.name;
    }
}

TEST(GeometArcFromBulge, MatchesTheClosedFormForAllSweepsAndChords)
{
    const double sweeps[] = {0.001, 0.02, 4 * std::atan(0.01), 0.05, kPi / 3, kPi / 2, 2.5, kPi,
                             4, 3 * kPi / 2, 2 * kPi - 0.01, 2 * kPi - 0.001};
    const TFloatPoint chords[][2] = {
        {{0, 0}, {2, 0}},
        {{1, 2}, {1, 6}},
        {{-3, 5}, {4, -1}},
        {{1e6, 1e6}, {1e6 + 0.5, 1e6 - 0.25}},
    };
    for (const auto& chord : chords) {
        const TFloatPoint s = chord[0];
        const TFloatPoint e = chord[1];
        const double dx = e.X - s.X;
        const double dy = e.Y - s.Y;
        const double len = std::hypot(dx, dy);
        for (const double magnitude : sweeps) {
            for (const double theta : {magnitude, -magnitude}) {
                const double bulge = std::tan(theta / 4);
                const double off = len / 2 * std::cos(theta / 2) / std::sin(theta / 2);
                const TFloatPoint expected{(s.X + e.X) / 2 - dy / len * off, (s.Y + e.Y) / 2 + dx / len * off};
                const double scale = std::max({1.0, std::fabs(off), std::fabs(s.X), std::fabs(s.Y)});
                double sweep = 0;
                TFloatPoint center;
                const std::string what = "theta " + std::to_string(theta) + " chord from x " + std::to_string(s.X);
                ASSERT_TRUE(ArcFromBulge(s, e, sweep, bulge, center)) << what;
                EXPECT_NEAR(sweep, theta, 1e-9) << what;
                EXPECT_NEAR(center.X, expected.X, 1e-9 * scale) << what;
                EXPECT_NEAR(center.Y, expected.Y, 1e-9 * scale) << what;
                EXPECT_NEAR(PointDistance(center, s), PointDistance(center, e), 1e-9 * scale) << what;
            }
        }
    }
}

TEST(GeometArcFromBulge, TwoHalfArcsMakeAFullCircle)
{
    // The circle of centre (10, 20) and radius 5 as two half arcs of bulge 1.
    const TFloatPoint left{5, 20};
    const TFloatPoint right{15, 20};
    double total = 0;
    for (const auto& [from, to] : {std::pair{left, right}, std::pair{right, left}}) {
        double sweep = 0;
        TFloatPoint center;
        ASSERT_TRUE(ArcFromBulge(from, to, sweep, 1.0, center));
        EXPECT_NEAR(center.X, 10, 1e-12);
        EXPECT_NEAR(center.Y, 20, 1e-12);
        EXPECT_NEAR(PointDistance(center, from), 5, 1e-12);
        total += sweep;
    }
    EXPECT_NEAR(total, 2 * kPi, 1e-12);
}

TEST(GeometArcFromBulge, DegenerateArcsAnswerFalseAndWriteNothing)
{
    struct Case {
        const char* name;
        TFloatPoint start;
        TFloatPoint end;
        double bulge;
    };
    const Case cases[] = {
        {"zeroBulge", {0, 0}, {2, 0}, 0},
        {"negativeZeroBulge", {0, 0}, {2, 0}, -0.0},
        {"bulgeAtTheThreshold", {0, 0}, {2, 0}, 1e-15},
        {"bulgeBelowTheThreshold", {0, 0}, {2, 0}, -1e-16},
        {"coincidentEndsOfAFullCircle", {3, 4}, {3, 4}, 1},
        {"bulgeNotANumber", {0, 0}, {2, 0}, kNaN},
        {"infiniteBulge", {0, 0}, {2, 0}, std::numeric_limits<double>::infinity()},
        {"pointNotANumber", {kNaN, 0}, {2, 0}, 1},
        {"infinitePoint", {0, 0}, {std::numeric_limits<double>::infinity(), 0}, 1},
    };
    for (const Case& c : cases) {
        double sweep = 123;
        TFloatPoint center{-7, -8};
        EXPECT_FALSE(ArcFromBulge(c.start, c.end, sweep, c.bulge, center)) << c.name;
        EXPECT_EQ(sweep, 123) << c.name;
        EXPECT_EQ(center.X, -7) << c.name;
        EXPECT_EQ(center.Y, -8) << c.name;
    }
}

// ---- bulge of an arc -----------------------------------------------------------

TEST(GeometBulgeFromArc, BothSensesAroundEachCentre)
{
    struct Case {
        const char* name;
        TFloatPoint center;
        bool clockwise;
        double bulge;
    };
    const double t8 = std::tan(kPi / 8);
    const double t38 = std::tan(3 * kPi / 8);
    const Case cases[] = {
        {"centreLeftCounterClockwiseIsTheShortArc", {1, 1}, false, t8},
        {"centreLeftClockwiseIsTheLongArc", {1, 1}, true, -t38},
        {"centreRightCounterClockwiseIsTheLongArc", {1, -1}, false, t38},
        {"centreRightClockwiseIsTheShortArc", {1, -1}, true, -t8},
        {"centreOnTheChordCounterClockwise", {1, 0}, false, 1},
        {"centreOnTheChordClockwise", {1, 0}, true, -1},
    };
    for (const Case& c : cases)
        EXPECT_NEAR(BulgeFromArc({0, 0}, c.center, {2, 0}, c.clockwise), c.bulge, 1e-14) << c.name;
}

// ---- circles through three points ---------------------------------------------

TEST(GeometCircleThrough3Points, SignedSweepFromFirstThroughSecondToThird)
{
    struct Case {
        const char* name;
        double a1, a2, a3; // degrees on the circle of centre (2, 3), radius 5
        double sweep;
    };
    const Case cases[] = {
        {"upperHalfCounterClockwise", 0, 90, 180, kPi},
        {"upperHalfClockwise", 180, 90, 0, -kPi},
        {"threeQuartersCounterClockwise", 0, 45, 270, 3 * kPi / 2},
        {"threeQuartersClockwise", 0, 300, 90, -3 * kPi / 2},
        {"counterClockwiseAcrossZero", 350, 10, 20, kPi / 6},
        {"clockwiseAcrossZero", 20, 10, 350, -kPi / 6},
        {"shortClockwise", 100, 95, 90, -kPi / 18},
        {"longWayRoundToTheSecondPointCounterClockwise", 0, 270, 300, 5 * kPi / 3},
        {"longWayRoundToTheSecondPointClockwise", 0, 90, 60, -5 * kPi / 3},
    };
    for (const Case& c : cases) {
        double sweep = 0;
        TFloatPoint center;
        ASSERT_TRUE(CircleThrough3Points(OnCircle(c.a1), OnCircle(c.a2), OnCircle(c.a3), sweep, center)) << c.name;
        EXPECT_NEAR(sweep, c.sweep, 1e-12) << c.name;
        EXPECT_NEAR(center.X, 2, 1e-12) << c.name;
        EXPECT_NEAR(center.Y, 3, 1e-12) << c.name;
    }
}

TEST(GeometCircleThrough3Points, NoCircleLeavesTheResultsAlone)
{
    struct Case {
        const char* name;
        TFloatPoint p1, p2, p3;
    };
    const Case cases[] = {
        {"collinear", {0, 0}, {1, 1}, {3, 3}},
        {"thirdBetweenTheOthers", {0, 0}, {4, 0}, {2, 0}},
        {"firstTwoEqual", {1, 1}, {1, 1}, {3, 0}},
        {"notANumber", {0, 0}, {1, 0}, {kNaN, 1}},
    };
    for (const Case& c : cases) {
        double sweep = 9;
        TFloatPoint center{9, 9};
        EXPECT_FALSE(CircleThrough3Points(c.p1, c.p2, c.p3, sweep, center)) << c.name;
        EXPECT_EQ(sweep, 9) << c.name;
        EXPECT_EQ(center.X, 9) << c.name;
        EXPECT_EQ(center.Y, 9) << c.name;
    }
}

TEST(GeometArcFrom3Points, BulgeOfTheArcThroughThreePoints)
{
    struct Case {
        const char* name;
        TFloatPoint start, mid, end;
        double bulge;
    };
    const double t8 = std::tan(kPi / 8);
    const double r = std::sqrt(2.0);
    const Case cases[] = {
        // Quarter of the circle of centre (1, 1) through (1, 1 - sqrt 2).
        {"quarterCounterClockwise", {0, 0}, {1, 1 - r}, {2, 0}, t8},
        {"quarterClockwise", {2, 0}, {1, 1 - r}, {0, 0}, -t8},
        {"halfCounterClockwise", {0, 0}, {1, -1}, {2, 0}, 1},
        {"threeQuartersClockwise", {0, 0}, {1, 1 + r}, {2, 0}, -std::tan(3 * kPi / 8)},
        {"startEqualsMid", {0, 0}, {0, 0}, {2, 0}, 0},
        {"midEqualsEnd", {0, 0}, {2, 0}, {2, 0}, 0},
        {"startEqualsEnd", {0, 0}, {1, 1}, {0, 0}, 0},
    };
    for (const Case& c : cases) {
        double bulge = 42;
        ASSERT_TRUE(ArcFrom3Points(c.start, c.mid, c.end, bulge)) << c.name;
        EXPECT_NEAR(bulge, c.bulge, 1e-12) << c.name;
    }

    double bulge = 42;
    EXPECT_FALSE(ArcFrom3Points({0, 0}, {1, 0}, {2, 0}, bulge));
    EXPECT_EQ(bulge, 42);
}

} // namespace
