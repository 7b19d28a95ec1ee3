#pragma once

#include <QString>
#include <QVector>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

// A point in millimetres, in the program's one work frame.
struct Vec3
{
    double x = 0;
    double y = 0;
    double z = 0;
};

// An axis-aligned box; empty until the first point is added.
struct Box
{
    Vec3 min{std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
             std::numeric_limits<double>::infinity()};
    Vec3 max{-std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity(),
             -std::numeric_limits<double>::infinity()};

    bool isEmpty() const { return min.x > max.x; }
    void add(const Vec3 &p)
    {
        min = {std::min(min.x, p.x), std::min(min.y, p.y), std::min(min.z, p.z)};
        max = {std::max(max.x, p.x), std::max(max.y, p.y), std::max(max.z, p.z)};
    }
    void add(const Box &other)
    {
        if (!other.isEmpty()) {
            add(other.min);
            add(other.max);
        }
    }
};

enum class MotionKind : std::uint8_t { Rapid, Feed, ArcClockwise, ArcCounterClockwise };

// The arc planes by their two in-plane axes, ordered so that (first, second, normal) is
// right-handed: XY with normal Z (G17), ZX with normal Y (G18), YZ with normal X (G19).
enum class Plane : std::uint8_t { XY, ZX, YZ };

// One move of the tool: from the previous move's end (or the start point) to `end`. Arcs
// keep their centre; their radius runs from the start's distance to the end's.
struct Move
{
    Vec3 end;
    Vec3 center;
    std::int32_t line = 0; // index of the program line that made it
    MotionKind kind = MotionKind::Rapid;
    Plane plane = Plane::XY;
    std::uint16_t extraTurns = 0; // full turns beyond the first of a helix (P word)

    bool isArc() const { return kind >= MotionKind::ArcClockwise; }
    bool isRapid() const { return kind == MotionKind::Rapid; }
};

// Something the interpreter could not draw, drew under an assumption, or found wrong. The
// texts are made by PreviewTexts in the window's language.
struct Note
{
    enum Kind : std::uint8_t {
        NotDrawn,          // code: a G or M code left out of the drawing (canned cycles, G41...)
        NotFollowed,       // code: program flow (O words, M98) not followed
        AxisNotDrawn,      // code: an axis letter other than X Y Z (A, B, C, U, V, W)
        WorkOffset,        // code: G54..G59.3 drawn in the one frame
        MachineFrame,      // G53 drawn in the work frame
        ReferencePoint,    // code: G28 / G30 moves to a reference point assumed at 0
        BlockDelete,       // lines starting with "/" skipped
        Unreadable,        // code: the text that could not be read
        BadExpression,     // code: the expression text
        BadParameter,      // code: the parameter reference
        ArcRadiusTooSmall, // a: |R|, b: distance from start to end
        ArcOffCircle,      // a: radius at the start, b: radius at the end
        ArcNoCenter,       // an arc without I/J/K or R, or with a zero radius
        NoMotionMode,      // coordinates before any G0/G1/G2/G3
    };

    std::int32_t line = 0; // index of the program line
    Kind kind = NotDrawn;
    QString code;
    double a = 0;
    double b = 0;
    int count = 1; // notes given once per code count their lines here

    bool isProblem() const { return kind >= Unreadable; }
};

// What interpreting a program gives: the moves, the notes and the summary figures. Lengths
// are in millimetres, whatever units the program uses.
struct Toolpath
{
    Vec3 start;
    std::vector<Move> moves;
    // Byte offset of each line's start in the program text; its size is the line count.
    std::vector<std::uint32_t> lineStarts;
    QVector<Note> notes;
    int notesLeftOut = 0; // notes beyond the cap

    Box feedBox;
    Box allBox;
    double feedLength = 0;
    double rapidLength = 0;
    double feedMinutes = 0;  // feed moves at their F, G94 only
    double dwellSeconds = 0; // G4 P, read as seconds
    int feedMovesWithoutRate = 0;
    QVector<int> tools;             // T words, each once, in order of appearance
    QVector<double> spindleSpeeds;  // S words, each once, in order of appearance
    bool usesInch = false;          // G20 seen
    bool usesMillimetre = false;    // G21 seen
    int wholeNumberCoordinates = 0; // coordinate words written without a decimal point
    int unreadableLines = 0;
    int codeLines = 0; // lines holding anything but blanks, comments and % markers
    bool binary = false;
    bool cancelled = false;

    int lineCount() const { return int(lineStarts.size()); }
    const Vec3 &startOf(std::size_t move) const { return move ? moves[move - 1].end : start; }
    // The moves made by `line`, as [first, last) indexes into moves.
    std::pair<std::size_t, std::size_t> movesOfLine(int line) const;
    // Inch only when the program speaks inches only.
    bool showsInch() const { return usesInch && !usesMillimetre; }
    // Reads as text that is no G-code: nothing drawn and most lines unreadable.
    bool looksLikeNoGcode() const
    {
        return binary || (moves.empty() && unreadableLines > 0 && unreadableLines * 2 >= codeLines);
    }
};

// Geometry of one arc move in its plane: centre, radii at both ends, angles and sweep.
struct ArcGeometry
{
    double centerA = 0, centerB = 0; // centre in the plane's two axes
    double startAngle = 0;
    double sweep = 0; // signed: negative clockwise
    double startRadius = 0, endRadius = 0;
    double startNormal = 0, endNormal = 0;

    ArcGeometry(const Vec3 &from, const Move &arc);

    double length() const;
    // The point at fraction t (0..1) of the arc, the radius and the normal axis moving
    // linearly with the angle.
    Vec3 pointAt(double t, Plane plane) const;
    // Adds the arc's extreme points to box (ends and every quadrant point it passes).
    void addTo(Box &box, Plane plane) const;
};

// Coordinates of p in the plane's (first, second, normal) order, and back.
void toPlane(const Vec3 &p, Plane plane, double &a, double &b, double &n);
Vec3 fromPlane(double a, double b, double n, Plane plane);
