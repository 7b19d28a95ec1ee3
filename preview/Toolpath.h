#pragma once

#include "ChunkedList.h"

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

// One move of the tool: from the previous move's end (or the start point) to its end. Sixteen
// bytes, so that a program of short lines costs a few times its size: the end in single
// precision (a tenth of a micrometre at a metre from zero), the line, the kind and the plane
// packed in one word. An arc's centre is kept beside the moves (ArcCenter).
struct Move
{
    static constexpr int kLineBits = 27;
    static constexpr std::int32_t kMaxLine = (1 << kLineBits) - 1;

    float x = 0, y = 0, z = 0;
    std::uint32_t bits = 0;

    Move() = default;
    Move(const Vec3 &end, std::int32_t line, MotionKind kind, Plane plane = Plane::XY)
        : x(float(end.x)), y(float(end.y)), z(float(end.z)),
          bits(std::uint32_t(line & kMaxLine) | std::uint32_t(kind) << kLineBits |
               std::uint32_t(plane) << (kLineBits + 2))
    {}

    Vec3 end() const { return {x, y, z}; }
    // The index of the program line that made it.
    std::int32_t line() const { return std::int32_t(bits & std::uint32_t(kMaxLine)); }
    MotionKind kind() const { return MotionKind(bits >> kLineBits & 3u); }
    Plane plane() const { return Plane(bits >> (kLineBits + 2) & 3u); }
    // Some of it lies beyond the machine's travel.
    bool isOutsideTravel() const { return bits >> 31; }
    void setOutsideTravel() { bits |= 1u << 31; }

    bool isArc() const { return kind() >= MotionKind::ArcClockwise; }
    bool isRapid() const { return kind() == MotionKind::Rapid; }
};
static_assert(sizeof(Move) == 16, "a move is kept in sixteen bytes");

// The centre of an arc move and the angle it turns through, decided once from the program's
// own figures: the radius runs from the start's distance to the end's.
struct ArcCenter
{
    float x = 0, y = 0, z = 0;
    std::uint32_t move = 0; // index of its move
    float sweep = 0;        // signed angle it turns through, negative clockwise

    Vec3 center() const { return {x, y, z}; }
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
        OutsideTravel,     // code: the axis; a: where the move reaches, b: the axis's limit
    };

    std::int32_t line = 0; // index of the program line
    Kind kind = NotDrawn;
    QString code;
    double a = 0;
    double b = 0;
    int count = 1; // notes given once per code count their lines here

    bool isProblem() const { return kind >= Unreadable; }
};

struct ArcGeometry;

// What interpreting a program gives: the moves, the notes and the summary figures. Lengths
// are in millimetres, whatever units the program uses.
struct Toolpath
{
    Vec3 start;
    ChunkedList<Move> moves;
    ChunkedList<ArcCenter> arcs; // one for each arc move, in the order of the moves
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
    // The run time on the machine of the profile the program was read for: rapids at its rate,
    // feeds at most at its fastest, each move speeding up and slowing down with its
    // acceleration. Dwells included; moves without a rate are not counted.
    double machineSeconds = 0;
    bool rapidsTimed = false; // the profile gave a rapid rate
    int movesOutsideTravel = 0;
    int linesOutsideTravel = 0;
    QVector<int> tools;             // T words, each once, in order of appearance
    QVector<double> spindleSpeeds;  // S words, each once, in order of appearance
    bool usesInch = false;          // G20 seen
    bool usesMillimetre = false;    // G21 seen
    bool startsInInch = false;      // the controller runs in inches until a G21
    int wholeNumberCoordinates = 0; // coordinate words written without a decimal point
    int unreadableLines = 0;
    int codeLines = 0; // lines holding anything but blanks, comments and % markers
    bool binary = false;
    bool cancelled = false;

    int lineCount() const { return int(lineStarts.size()); }
    Vec3 startOf(std::size_t move) const { return move ? moves[move - 1].end() : start; }
    // The moves made by `line`, as [first, last) indexes into moves.
    std::pair<std::size_t, std::size_t> movesOfLine(int line) const;
    // The centre and sweep of arc move `move`.
    const ArcCenter &arcOf(std::size_t move) const;
    ArcGeometry arcGeometry(std::size_t move) const;
    // Inch only when the program speaks inches only.
    bool showsInch() const { return (usesInch || startsInInch) && !usesMillimetre; }
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
    double startAngle = 0, endAngle = 0;
    double sweep = 0; // signed: negative clockwise
    double startRadius = 0, endRadius = 0;
    double startNormal = 0, endNormal = 0;

    // An arc as the program gives it: the sweep from the direction, the ends and the turns.
    ArcGeometry(const Vec3 &from, const Vec3 &end, const Vec3 &center, bool clockwise, Plane plane,
                int extraTurns);
    // An arc whose sweep is known.
    ArcGeometry(const Vec3 &from, const Vec3 &end, const Vec3 &center, Plane plane, double sweep);

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
