#include "GcodeExecutor.h"

#include "GcodeNotes.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kMaxListedValues = 64;
constexpr int kMaxExtraTurns = 1000;
constexpr double kInch = 25.4;
// A move may touch its travel's limit; figures printed to a micrometre are not beyond it.
constexpr double kTravelTolerance = 1e-4;
// Lines beyond the travel get a note each up to this many; the rest are counted.
constexpr int kMaxTravelNotes = 200;

QString gCodeText(int code)
{
    return code % 10 ? QStringLiteral("G%1.%2").arg(code / 10).arg(code % 10)
                     : QStringLiteral("G%1").arg(code / 10);
}

double axis(const Vec3 &p, int i)
{
    return i == 0 ? p.x : i == 1 ? p.y : p.z;
}

void setAxis(Vec3 &p, int i, double value)
{
    (i == 0 ? p.x : i == 1 ? p.y : p.z) = value;
}

bool isCannedCycle(int code)
{
    return code == 730 || code == 760 || (code >= 810 && code <= 890 && code % 10 == 0);
}

} // namespace

GcodeExecutor::GcodeExecutor(Toolpath &out, GcodeNotes &notes, const MachineProfile &machine)
    : m_out(out), m_notes(notes), m_machine(machine.usable())
{
    if (m_machine.units == MachineProfile::Units::Inch) {
        m_scale = kInch;
        m_out.startsInInch = true;
    }
    m_out.rapidsTimed = m_machine.rapidRate.has_value();
}

void GcodeExecutor::finish()
{
    m_out.machineSeconds = m_runTime.seconds() + m_out.dwellSeconds;
}

void GcodeExecutor::execute(const GcodeBlock &block)
{
    // Words that only change state, in the order the controls apply them; then the motion.
    int motion = m_motion;
    int nonModal = -1;
    if (!setModes(block, motion, nonModal))
        return;

    if (block.has('F'))
        m_feed = block.value('F');
    if (block.has('S')) {
        m_spindle = block.value('S');
        if (!m_out.spindleSpeeds.contains(m_spindle) &&
            m_out.spindleSpeeds.size() < kMaxListedValues)
            m_out.spindleSpeeds.append(m_spindle);
    }
    if (block.has('T')) {
        const int tool = int(std::lround(block.value('T')));
        if (!m_out.tools.contains(tool) && m_out.tools.size() < kMaxListedValues)
            m_out.tools.append(tool);
    }
    for (const char letter : {'A', 'B', 'C', 'U', 'V', 'W'}) {
        if (block.has(letter))
            m_notes.addOnce(Note::AxisNotDrawn, QString(QChar::fromLatin1(letter)));
    }
    for (int i = 0; i < block.mCount; ++i) {
        const int code = block.mCodes[i];
        switch (code) {
        case 2:
        case 30:
            m_ended = true;
            break;
        case 0:
        case 1:
        case 3:
        case 4:
        case 5:
        case 6:
        case 7:
        case 8:
        case 9:
        case 48:
        case 49:
        case 60:
            break;
        case 98:
        case 99:
            m_notes.add(Note::NotFollowed, QStringLiteral("M%1").arg(code));
            break;
        default:
            m_notes.addOnce(Note::NotDrawn, QStringLiteral("M%1").arg(code));
            break;
        }
    }
    if (nonModal == 40) {
        m_runTime.stop();
        if (block.has('P'))
            m_out.dwellSeconds += std::max(0.0, block.value('P'));
    }

    if (nonModal == 280 || nonModal == 300) {
        referenceReturn(block, nonModal);
        return;
    }
    if (nonModal == 100 || (nonModal >= 920 && nonModal <= 923))
        return;
    m_motion = motion;
    moveTo(block, motion, nonModal == 530);
}

bool GcodeExecutor::setModes(const GcodeBlock &block, int &motion, int &nonModal)
{
    for (int i = 0; i < block.gCount; ++i) {
        const int code = block.gCodes[i];
        switch (code) {
        case 0:
        case 10:
        case 20:
        case 30:
            motion = code;
            break;
        case 800:
            motion = -1;
            break;
        case 170:
            m_plane = Plane::XY;
            break;
        case 180:
            m_plane = Plane::ZX;
            break;
        case 190:
            m_plane = Plane::YZ;
            break;
        case 200:
            m_scale = kInch;
            m_out.usesInch = true;
            break;
        case 210:
            m_scale = 1.0;
            m_out.usesMillimetre = true;
            break;
        case 900:
            m_absolute = true;
            break;
        case 910:
            m_absolute = false;
            break;
        case 901:
            m_arcCentersAbsolute = true;
            break;
        case 911:
            m_arcCentersAbsolute = false;
            break;
        case 930:
        case 940:
        case 950:
            m_feedMode = code;
            break;
        case 40:
        case 280:
        case 300:
        case 530:
            nonModal = code;
            break;
        // Offsets set by program (G10, G92): their axis words move nothing, and what follows
        // is drawn where the program says, without the new offset.
        case 100:
        case 920:
        case 921:
        case 922:
        case 923:
            m_notes.add(Note::NotDrawn, gCodeText(code));
            nonModal = code;
            break;
        case 540:
        case 550:
        case 560:
        case 570:
        case 580:
        case 590:
        case 591:
        case 592:
        case 593:
            if (code != m_workOffset)
                m_notes.addOnce(Note::WorkOffset, gCodeText(code));
            m_workOffset = code;
            break;
        // Modes that leave the drawn path as it is: cutter and tool length compensation off,
        // path blending, canned cycle return levels, feed override switches.
        case 400:
        case 490:
        case 610:
        case 611:
        case 640:
        case 980:
        case 990:
            break;
        default:
            if (isCannedCycle(code))
                motion = code;
            else
                m_notes.add(Note::NotDrawn, gCodeText(code));
            break;
        }
    }
    return true;
}

Vec3 GcodeExecutor::target(const GcodeBlock &block, bool absolute) const
{
    Vec3 result = m_position;
    for (int i = 0; i < 3; ++i) {
        const char letter = char('X' + i);
        if (!block.has(letter))
            continue;
        const double value = block.value(letter) * m_scale;
        setAxis(result, i, absolute ? value : axis(m_position, i) + value);
    }
    return result;
}

void GcodeExecutor::moveTo(const GcodeBlock &block, int motion, bool machineFrame)
{
    for (const char letter : {'X', 'Y', 'Z', 'I', 'J', 'K', 'R'}) {
        if (block.withoutPoint & (1u << (letter - 'A')))
            ++m_out.wholeNumberCoordinates;
    }
    const bool arcCentre = block.has('I') || block.has('J') || block.has('K');
    if (!block.hasAxis() && !((motion == 20 || motion == 30) && arcCentre && !block.has('R')))
        return;
    if (machineFrame)
        m_notes.addOnce(Note::MachineFrame, QString());
    const Vec3 end = target(block, m_absolute || machineFrame);
    switch (motion) {
    case -1:
        m_notes.add(Note::NoMotionMode);
        return;
    case 0:
        addLine(end, MotionKind::Rapid);
        return;
    case 10:
        addLine(end, MotionKind::Feed);
        return;
    case 20:
    case 30:
        arcTo(block, end, motion == 20);
        return;
    default:
        // A canned cycle: the tool goes to the hole at its present height; the hole itself
        // is not drawn.
        m_notes.add(Note::NotDrawn, gCodeText(motion));
        addLine({end.x, end.y, m_position.z}, MotionKind::Rapid);
        return;
    }
}

void GcodeExecutor::referenceReturn(const GcodeBlock &block, int code)
{
    m_notes.addOnce(Note::ReferencePoint, gCodeText(code));
    if (block.hasAxis())
        addLine(target(block, m_absolute), MotionKind::Rapid);
    // Only the axes named go home; with none named, all of them do.
    Vec3 home = m_position;
    for (int i = 0; i < 3; ++i) {
        if (!block.hasAxis() || block.has(char('X' + i)))
            setAxis(home, i, 0.0);
    }
    addLine(home, MotionKind::Rapid);
}

void GcodeExecutor::arcTo(const GcodeBlock &block, const Vec3 &end, bool clockwise)
{
    double sa, sb, sn, ea, eb, en;
    toPlane(m_position, m_plane, sa, sb, sn);
    toPlane(end, m_plane, ea, eb, en);

    double ca = 0;
    double cb = 0;
    if (block.has('R')) {
        const double radius = block.value('R') * m_scale;
        const double da = ea - sa;
        const double db = eb - sb;
        const double chord = std::hypot(da, db);
        if (radius == 0 || chord == 0) {
            m_notes.add(Note::ArcNoCenter);
            m_position = end;
            return;
        }
        const double halfChord = chord / 2;
        double h2 = radius * radius - halfChord * halfChord;
        if (h2 < 0) {
            // A radius short of half the chord by rounding in the program's last digit is
            // a half circle; more than that no control would run.
            if (halfChord - std::abs(radius) > std::max(1e-3, 1e-6 * halfChord)) {
                m_notes.add(Note::ArcRadiusTooSmall, QString(), std::abs(radius), chord);
                m_position = end;
                return;
            }
            h2 = 0;
        }
        // The centre lies left of the chord for a counter-clockwise arc of positive R, and
        // on the other side for a clockwise one or a negative R (the long way round).
        double h = std::sqrt(h2) / chord;
        if (clockwise != (radius < 0))
            h = -h;
        ca = sa + da / 2 - h * db;
        cb = sb + db / 2 + h * da;
    } else {
        // I, J, K: offsets from the start, or with G90.1 the centre itself.
        static const char kCentreWords[3][2] = {{'I', 'J'}, {'K', 'I'}, {'J', 'K'}};
        const char *words = kCentreWords[int(m_plane)];
        const double offsetA = block.has(words[0]) ? block.value(words[0]) * m_scale : 0;
        const double offsetB = block.has(words[1]) ? block.value(words[1]) * m_scale : 0;
        if (!block.has(words[0]) && !block.has(words[1])) {
            m_notes.add(Note::ArcNoCenter);
            m_position = end;
            return;
        }
        ca = m_arcCentersAbsolute ? offsetA : sa + offsetA;
        cb = m_arcCentersAbsolute ? offsetB : sb + offsetB;
        const double startRadius = std::hypot(sa - ca, sb - cb);
        const double endRadius = std::hypot(ea - ca, eb - cb);
        if (startRadius < 1e-9) {
            m_notes.add(Note::ArcNoCenter);
            m_position = end;
            return;
        }
        if (std::abs(startRadius - endRadius) > std::max(0.01, 1e-4 * startRadius))
            m_notes.add(Note::ArcOffCircle, QString(), startRadius, endRadius);
    }

    const Move move(end, m_notes.line(),
                    clockwise ? MotionKind::ArcClockwise : MotionKind::ArcCounterClockwise,
                    m_plane);
    int extraTurns = 0;
    if (block.has('P') && block.value('P') > 1)
        extraTurns = int(std::min<double>(kMaxExtraTurns, std::floor(block.value('P')) - 1));
    const Vec3 center = fromPlane(ca, cb, sn, m_plane);
    const ArcGeometry geometry(m_position, end, center, clockwise, m_plane, extraTurns);
    Box reach;
    geometry.addTo(reach, m_plane);
    m_out.allBox.add(reach);
    m_out.feedBox.add(reach);
    ArcCenter arc;
    arc.x = float(center.x);
    arc.y = float(center.y);
    arc.z = float(center.z);
    arc.move = std::uint32_t(m_out.moves.size());
    arc.sweep = float(geometry.sweep);
    m_out.arcs.push_back(arc);
    addMove(move, end, geometry.length(), reach);
}

void GcodeExecutor::addLine(const Vec3 &target, MotionKind kind)
{
    const double length = std::sqrt((target.x - m_position.x) * (target.x - m_position.x) +
                                    (target.y - m_position.y) * (target.y - m_position.y) +
                                    (target.z - m_position.z) * (target.z - m_position.z));
    if (length == 0)
        return;
    Box reach;
    reach.add(m_position);
    reach.add(target);
    m_out.allBox.add(reach);
    if (kind == MotionKind::Feed)
        m_out.feedBox.add(reach);
    addMove(Move(target, m_notes.line(), kind), target, length, reach);
}

void GcodeExecutor::addMove(Move move, const Vec3 &end, double length, const Box &reach)
{
    if (m_out.moves.empty())
        m_out.start = m_position;
    // A move is beyond the travel for where it goes: a line for its end (it starts where the
    // last move ended, or at the assumed start point), an arc for every point it passes.
    if (move.isArc()) {
        checkTravel(move, reach);
    } else {
        Box to;
        to.add(end);
        checkTravel(move, to);
    }
    m_out.moves.push_back(move);
    m_position = end;
    if (move.isRapid()) {
        m_out.rapidLength += length;
        m_runTime.addRapid(length);
        return;
    }
    m_out.feedLength += length;
    double minutes = 0;
    if (m_feedMode == 930)
        minutes = m_feed > 0 ? 1.0 / m_feed : 0;
    else if (m_feedMode == 950)
        minutes = m_feed > 0 && m_spindle > 0 ? length / (m_feed * m_scale * m_spindle) : 0;
    else
        minutes = m_feed > 0 ? length / (m_feed * m_scale) : 0;
    if (minutes > 0) {
        m_out.feedMinutes += minutes;
        m_runTime.addFeed(length, length / minutes);
    } else {
        ++m_out.feedMovesWithoutRate;
        m_runTime.stop();
    }
}

void GcodeExecutor::checkTravel(Move &move, const Box &reach)
{
    for (int i = 0; i < 3; ++i) {
        const std::optional<AxisTravel> &travel = m_machine.travel[i];
        if (!travel)
            continue;
        const double low = axis(reach.min, i);
        const double high = axis(reach.max, i);
        const bool below = low < travel->min - kTravelTolerance;
        if (!below && high <= travel->max + kTravelTolerance)
            continue;
        move.setOutsideTravel();
        ++m_out.movesOutsideTravel;
        if (m_lastLineOutside == m_notes.line())
            return;
        m_lastLineOutside = m_notes.line();
        if (m_out.linesOutsideTravel++ < kMaxTravelNotes)
            m_notes.add(Note::OutsideTravel, QString(QChar::fromLatin1(char('X' + i))),
                        below ? low : high, below ? travel->min : travel->max);
        return;
    }
}
