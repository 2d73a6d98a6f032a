// Plane geometry: frames, circles through three points and arcs by bulge.
//
// The arc routines never fail on degenerate input (equal points, a zero or
// non-finite bulge): they answer false and leave their results alone, so the
// callers can turn such an arc into a straight segment.
#include "CoreLib/Geomet.h"

#include <cmath>
#include <numbers>

#include "platform/rtl/Exceptions.h"

namespace {

const char* const SInvalidInitPoints = "Invalid params (TCoordSys.InitPoints)";

constexpr long double kPi = std::numbers::pi_v<long double>;
constexpr long double kTwoPi = 2 * kPi;

bool Finite(const TFloatPoint& p) noexcept
{
    return std::isfinite(p.X) && std::isfinite(p.Y);
}

// True when InitPoints(a, b) can build a frame.
bool CanBuildFrame(const TFloatPoint& a, const TFloatPoint& b) noexcept
{
    const long double dx = static_cast<long double>(b.X) - a.X;
    const long double dy = static_cast<long double>(b.Y) - a.Y;
    const long double s = dx * dx + dy * dy;
    return s > 0 && std::isfinite(s);
}

// LineAngle from the origin, in extended precision.
long double AngleOf(long double x, long double y) noexcept
{
    long double a = std::atan2(y, x);
    if (a < 0) a += kTwoPi;
    return a;
}

} // namespace

TFloatPoint FloatPoint(double x, double y) noexcept
{
    return TFloatPoint{x, y};
}

bool PointsEqual(const TFloatPoint& a, const TFloatPoint& b) noexcept
{
    return a.X == b.X && a.Y == b.Y;
}

double PointDistance(const TFloatPoint& a, const TFloatPoint& b) noexcept
{
    const long double dx = static_cast<long double>(a.X) - b.X;
    const long double dy = static_cast<long double>(a.Y) - b.Y;
    return static_cast<double>(std::sqrt(dx * dx + dy * dy));
}

double LineAngle(const TFloatPoint& a, const TFloatPoint& b) noexcept
{
    return static_cast<double>(
        AngleOf(static_cast<long double>(b.X) - a.X, static_cast<long double>(b.Y) - a.Y));
}

// ---- TCoordSys ------------------------------------------------------------------

void TCoordSys::InitPoints(const TFloatPoint& origin, const TFloatPoint& axisPoint)
{
    Origin = origin;
    AxisPoint = axisPoint;
    DX = static_cast<long double>(axisPoint.X) - origin.X;
    DY = static_cast<long double>(axisPoint.Y) - origin.Y;
    const long double s = DX * DX + DY * DY;
    RTL_ASSERT(s > 0, rtl::SAssertionFailed);
    if (!(s > 0)) throw rtl::Exception(SInvalidInitPoints);
    Mode = 1;
    Length = std::sqrt(s);
    Sin = DY / Length;
    Cos = DX / Length;
    AngleSet = 0;
}

void TCoordSys::InitAngle(const TFloatPoint& origin, double angle) noexcept
{
    Mode = 0;
    Origin = origin;
    Angle = angle;
    AngleSet = 1;
    Sin = std::sin(static_cast<long double>(angle));
    Cos = std::cos(static_cast<long double>(angle));
}

void TCoordSys::ToLocal(const TFloatPoint& p, TFloatPoint& q) const noexcept
{
    const double dx = p.X - Origin.X;
    const double dy = p.Y - Origin.Y;
    if (Mode == 1) {
        q.X = static_cast<double>((DX * dx + DY * dy) / Length);
        q.Y = static_cast<double>((DX * dy - DY * dx) / Length);
    } else {
        q.X = static_cast<double>(Cos * dx + Sin * dy);
        q.Y = static_cast<double>(Cos * dy - Sin * dx);
    }
}

void TCoordSys::ToGlobal(const TFloatPoint& p, TFloatPoint& q) const noexcept
{
    const long double x = p.X;
    const long double y = p.Y;
    if (Mode == 1) {
        q.X = static_cast<double>((DX * x - DY * y) / Length + Origin.X);
        q.Y = static_cast<double>((DY * x + DX * y) / Length + Origin.Y);
    } else {
        q.X = static_cast<double>(Cos * x - Sin * y + Origin.X);
        q.Y = static_cast<double>(Sin * x + Cos * y + Origin.Y);
    }
}

void TCoordSys::ToGlobalInPlace(TFloatPoint& p) const noexcept
{
    const TFloatPoint src = p;
    ToGlobal(src, p);
}

TFloatPoint TCoordSys::ToLocal(const TFloatPoint& p) const noexcept
{
    TFloatPoint q;
    ToLocal(p, q);
    return q;
}

TFloatPoint TCoordSys::ToGlobal(const TFloatPoint& p) const noexcept
{
    TFloatPoint q;
    ToGlobal(p, q);
    return q;
}

// ---- circles and arcs -------------------------------------------------------------

bool CircleThrough3Points(const TFloatPoint& p1, const TFloatPoint& p2, const TFloatPoint& p3,
                          double& sweep, TFloatPoint& center)
{
    if (!Finite(p1) || !Finite(p2) || !Finite(p3)) return false;
    const TFloatPoint m{static_cast<double>((static_cast<long double>(p1.X) + p2.X) / 2),
                        static_cast<double>((static_cast<long double>(p1.Y) + p2.Y) / 2)};
    if (!CanBuildFrame(m, p2)) return false;
    TCoordSys f;
    f.InitPoints(m, p2);
    const TFloatPoint q1 = f.ToLocal(p1);
    const TFloatPoint q2 = f.ToLocal(p2);
    const TFloatPoint q3 = f.ToLocal(p3);
    if (q3.Y == 0) return false;
    const long double d = q2.X;
    const long double x3 = q3.X;
    const long double y3 = q3.Y;
    const double c = static_cast<double>((x3 * x3 + y3 * y3 - d * d) / 2 / y3);

    const TFloatPoint localCenter{0, c};
    const long double a1 = LineAngle(localCenter, q1);
    const long double a2 = LineAngle(localCenter, q2);
    long double a3 = LineAngle(localCenter, q3);
    if (a1 > a3) a3 += kTwoPi;
    long double s;
    if ((a1 < a2 && a2 < a3) || (a1 < a2 + kTwoPi && a2 + kTwoPi < a3))
        s = a3 - a1;
    else
        s = a3 - kTwoPi - a1;

    const TFloatPoint ctr = f.ToGlobal(TFloatPoint{0, c});
    if (!Finite(ctr) || !std::isfinite(s)) return false;
    sweep = static_cast<double>(s);
    center = ctr;
    return true;
}

bool ArcFrom3Points(const TFloatPoint& start, const TFloatPoint& mid, const TFloatPoint& end,
                    double& bulge)
{
    if (PointsEqual(start, mid) || PointsEqual(start, end) || PointsEqual(mid, end)) {
        bulge = 0;
        return true;
    }
    double sweep = 0;
    TFloatPoint center;
    if (!CircleThrough3Points(start, mid, end, sweep, center)) return false;
    bulge = BulgeFromArc(start, center, end, sweep < 0);
    return true;
}

double BulgeFromArc(const TFloatPoint& start, const TFloatPoint& center, const TFloatPoint& end,
                    bool clockwise)
{
    TCoordSys f;
    f.InitPoints(start, end);
    const TFloatPoint c = f.ToLocal(center);
    long double a;
    if (c.Y != 0) {
        a = std::atan(static_cast<long double>(c.X) / c.Y);
        if ((c.Y > 0) == clockwise) {
            if (a > 0)
                a -= kPi;
            else
                a += kPi;
        }
    } else {
        a = clockwise ? -kPi / 2 : kPi / 2;
    }
    a /= 2;
    const long double cosA = std::cos(a);
    if (cosA == 0) return 0;
    return static_cast<double>(std::sin(a) / cosA);
}

bool ArcFromBulge(const TFloatPoint& start, const TFloatPoint& end, double& sweep, double bulge,
                  TFloatPoint& center)
{
    if (!(std::fabs(bulge) > 1e-15) || !std::isfinite(bulge) || PointsEqual(start, end)) return false;
    if (!Finite(start) || !Finite(end) || !CanBuildFrame(start, end)) return false;

    TCoordSys f;
    f.InitPoints(start, end);
    const long double h = static_cast<long double>(f.ToLocal(end).X) / 2;
    const long double b = bulge;
    long double c;
    if (std::fabs(b) > 0.01L) {
        c = (1 - b * b) * h / (2 * b);
    } else {
        long double a = -2 * std::atan(b);
        if (a > 0)
            a -= kPi / 2;
        else
            a += kPi / 2;
        c = std::tan(a) * h;
    }
    const TFloatPoint ctr = f.ToGlobal(TFloatPoint{static_cast<double>(h), static_cast<double>(c)});
    if (!Finite(ctr) || !CanBuildFrame(ctr, start)) return false;

    f.InitPoints(ctr, start);
    const TFloatPoint e = f.ToLocal(end);
    long double s = LineAngle(TFloatPoint{0, 0}, e);
    if (bulge > 0) s -= kTwoPi;
    if (s > 0)
        s -= kTwoPi;
    else
        s += kTwoPi;
    sweep = static_cast<double>(s);
    center = ctr;
    return true;
}
