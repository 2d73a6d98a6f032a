// Plane geometry in double precision: points, angles, distances, local
// coordinate frames, circles and arcs.
//
// Arcs are described by their bulge: the tangent of a quarter of the signed
// sweep angle, positive for an arc that runs counter-clockwise from its start
// to its end. Intermediate values are computed in extended precision (long
// double); results are stored as double.
#pragma once

#include <cstdint>

struct TFloatPoint {
    double X = 0;
    double Y = 0;
};

TFloatPoint FloatPoint(double x, double y) noexcept;
// Exact comparison of both coordinates.
bool PointsEqual(const TFloatPoint& a, const TFloatPoint& b) noexcept;
double PointDistance(const TFloatPoint& a, const TFloatPoint& b) noexcept;
// Direction of the vector a->b in [0, 2*pi).
double LineAngle(const TFloatPoint& a, const TFloatPoint& b) noexcept;

// A local frame: built from two points (Mode 1, the x axis points from Origin
// towards AxisPoint, same scale) or from a point and an angle (Mode 0).
struct TCoordSys {
    std::uint8_t Mode = 0;
    long double DX = 0;
    long double DY = 0;
    long double Length = 0;
    TFloatPoint Origin;
    TFloatPoint AxisPoint;
    long double Angle = 0;
    std::uint8_t AngleSet = 0;
    long double Sin = 0;
    long double Cos = 1;

    // Equal (or unordered) points fail the assertion; Origin, AxisPoint, DX
    // and DY are set by then, the rest keeps its old value.
    void InitPoints(const TFloatPoint& origin, const TFloatPoint& axisPoint);
    void InitAngle(const TFloatPoint& origin, double angle) noexcept;
    void ToLocal(const TFloatPoint& p, TFloatPoint& q) const noexcept;
    void ToGlobal(const TFloatPoint& p, TFloatPoint& q) const noexcept;
    void ToGlobalInPlace(TFloatPoint& p) const noexcept;
    TFloatPoint ToLocal(const TFloatPoint& p) const noexcept;
    TFloatPoint ToGlobal(const TFloatPoint& p) const noexcept;
};

// The circle through three points and the signed sweep from p1 through p2 to
// p3. False, with nothing written, when the points are collinear or when p1
// and p2 are too close (or not finite) to define the circle.
bool CircleThrough3Points(const TFloatPoint& p1, const TFloatPoint& p2, const TFloatPoint& p3,
                          double& sweep, TFloatPoint& center);
// Bulge of the arc from start through mid to end: 0 (and true) when two of
// the points are equal; false, bulge untouched, when no circle passes.
bool ArcFrom3Points(const TFloatPoint& start, const TFloatPoint& mid, const TFloatPoint& end,
                    double& bulge);
// Bulge of the arc from start to end around center in the given direction.
// start and end must differ.
double BulgeFromArc(const TFloatPoint& start, const TFloatPoint& center, const TFloatPoint& end,
                    bool clockwise);
// Centre and signed sweep of the arc from start to end with that bulge.
// False, with nothing written, for a bulge of magnitude up to 1e-15 (or not
// a number), equal end points, or a result that is not finite.
bool ArcFromBulge(const TFloatPoint& start, const TFloatPoint& end, double& sweep, double bulge,
                  TFloatPoint& center);
