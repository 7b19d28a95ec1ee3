#include "GcodeInterpreter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr int kMaxExpressionDepth = 32;
constexpr int kMaxListedValues = 64;
constexpr int kMaxExtraTurns = 1000;
constexpr double kInch = 25.4;
// Beyond this no word means anything; computed values can reach it (or infinity).
constexpr double kLargestValue = 1e12;

constexpr double kPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8, 1e9,
                                   1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18};

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

void skipBlanks(const char *&p, const char *end)
{
    while (p < end && isBlank(*p))
        ++p;
}

char upper(char c)
{
    return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// A decimal number, blanks allowed between its characters as old controls allow them.
// Exact for up to 18 significant digits, which is all G-code ever holds.
bool readNumber(const char *&p, const char *end, double &value, bool &hasPoint)
{
    const char *q = p;
    bool negative = false;
    if (q < end && (*q == '+' || *q == '-')) {
        negative = *q == '-';
        ++q;
        skipBlanks(q, end);
    }
    std::uint64_t mantissa = 0;
    int digits = 0;
    int fractionDigits = 0;
    int droppedIntegerDigits = 0;
    hasPoint = false;
    for (; q < end; ++q) {
        const char c = *q;
        if (isDigit(c)) {
            if (digits < 18) {
                mantissa = mantissa * 10 + std::uint64_t(c - '0');
                if (hasPoint)
                    ++fractionDigits;
            } else if (!hasPoint) {
                ++droppedIntegerDigits;
            }
            ++digits;
        } else if (c == '.' && !hasPoint) {
            hasPoint = true;
        } else if (!isBlank(c)) {
            break;
        }
    }
    // More integer digits than a double holds exactly is no coordinate of any machine.
    if (digits == 0 || droppedIntegerDigits)
        return false;
    const double result = double(mantissa) / kPowersOfTen[fractionDigits];
    value = negative ? -result : result;
    p = q;
    return true;
}

bool isLetter(char c)
{
    c = upper(c);
    return c >= 'A' && c <= 'Z';
}

int letterIndex(char c)
{
    return upper(c) - 'A';
}

// The printable start of text, for a note that shows what could not be read.
QString excerpt(const char *p, const char *end)
{
    QString text;
    for (; p < end && text.size() < 16; ++p)
        text += (*p >= 0x20 && *p < 0x7f) ? QChar::fromLatin1(*p) : QChar(u'\uFFFD');
    if (p < end)
        text += QChar(u'\u2026');
    return text;
}

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

// The words of one line.
struct GcodeInterpreter::Block
{
    double values[26];
    std::uint32_t present = 0;
    std::uint32_t withoutPoint = 0;
    int gCodes[8];
    int gCount = 0;
    int mCodes[8];
    int mCount = 0;
    bool skip = false; // nothing to carry out (a program number, flow not followed)

    bool has(char letter) const { return present & (1u << (letter - 'A')); }
    double value(char letter) const { return values[letter - 'A']; }
    bool hasAxis() const
    {
        return present & ((1u << ('X' - 'A')) | (1u << ('Y' - 'A')) | (1u << ('Z' - 'A')));
    }
};

GcodeInterpreter::GcodeInterpreter(Toolpath &out) : m_out(out), m_parameters(kParameterCount, 0.0)
{}

Toolpath GcodeInterpreter::interpret(const QByteArray &program, const std::atomic<bool> *cancel)
{
    Toolpath toolpath;
    GcodeInterpreter interpreter(toolpath);
    interpreter.run(program.constData(), std::size_t(program.size()), cancel);
    return toolpath;
}

void GcodeInterpreter::run(const char *data, std::size_t size, const std::atomic<bool> *cancel)
{
    const char *const end = data + size;

    // Text holds next to no control characters; anything else is not a program, and reading
    // it as one would only give noise. A stray zero byte is not enough: pstoedit, for one,
    // writes one into the comment of its first line.
    const std::size_t sample = std::min<std::size_t>(size, 64 * 1024);
    std::size_t controls = 0;
    for (std::size_t i = 0; i < sample; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        if (c < 0x20 && c != '\n' && c != '\t' && c != '\r' && c != '\f' && c != '\v' && c != 0x1a)
            ++controls;
    }
    m_out.binary = controls * 100 > sample;

    // One offset per line: counting them first spares the vector its growth.
    std::size_t lines = 1;
    for (const char *p = data;
         (p = static_cast<const char *>(std::memchr(p, '\n', std::size_t(end - p)))); ++p)
        ++lines;
    m_out.lineStarts.reserve(lines);
    if (!m_out.binary)
        m_out.moves.reserve(lines);

    const char *p = data;
    while (p < end || m_out.lineStarts.empty()) {
        const char *lineEnd = static_cast<const char *>(std::memchr(p, '\n', std::size_t(end - p)));
        if (!lineEnd)
            lineEnd = end;
        m_line = int(m_out.lineStarts.size());
        m_out.lineStarts.push_back(std::uint32_t(p - data));
        if (!m_out.binary && !m_ended)
            interpretLine(p, lineEnd);
        if (lineEnd == end)
            break;
        p = lineEnd + 1;
        if (cancel && (m_line & 0xffff) == 0 && cancel->load(std::memory_order_relaxed)) {
            m_out.cancelled = true;
            return;
        }
    }
    if (!m_out.binary && m_out.moves.capacity() > m_out.moves.size() * 5 / 4 + 64)
        m_out.moves.shrink_to_fit();
}

void GcodeInterpreter::interpretLine(const char *p, const char *end)
{
    skipBlanks(p, end);
    if (p == end)
        return;
    if (*p == '%') {
        // The second mark ends the program; what follows is not read.
        if (++m_percentMarks == 2 && m_out.codeLines > 0)
            m_ended = true;
        return;
    }
    if (*p == '/') {
        addNoteOnce(Note::BlockDelete, QString());
        return;
    }

    Block block;
    if (!readBlock(p, end, block)) {
        ++m_out.codeLines;
        ++m_out.unreadableLines;
        m_pendingAssignments.clear();
        return;
    }
    if (block.present || block.gCount || block.mCount || !m_pendingAssignments.empty() ||
        block.skip)
        ++m_out.codeLines;
    if (!block.skip)
        execute(block);
    // Parameters set on a line take effect after the whole line has been read.
    for (const auto &[index, value] : m_pendingAssignments)
        m_parameters[std::size_t(index)] = value;
    m_pendingAssignments.clear();
}

bool GcodeInterpreter::failRead(Note::Kind kind, const char *at, const char *end)
{
    addNote(kind, excerpt(at, end));
    return false;
}

bool GcodeInterpreter::readBlock(const char *p, const char *end, Block &block)
{
    while (true) {
        skipBlanks(p, end);
        if (p == end)
            return true;
        const char c = *p;
        if (c == '(') {
            const void *close = std::memchr(p, ')', std::size_t(end - p));
            if (!close)
                return true; // an open comment runs to the end of the line
            p = static_cast<const char *>(close) + 1;
            continue;
        }
        if (c == ';')
            return true;
        if (c == '#') {
            const char *start = p;
            int index = 0;
            ++p;
            if (!readParameter(p, end, index, 0))
                return false;
            skipBlanks(p, end);
            if (p == end || *p != '=')
                return failRead(Note::Unreadable, start, end);
            ++p;
            double value = 0;
            if (!readExpression(p, end, value, 0))
                return false;
            m_pendingAssignments.emplace_back(index, value);
            continue;
        }
        if (!isLetter(c) || upper(c) == 'E')
            return failRead(Note::Unreadable, p, end);

        const char letter = upper(c);
        const char *wordStart = p;
        ++p;
        if (letter == 'O') {
            // "O1234" alone names a Fanuc program; anything after it is LinuxCNC flow
            // ("o100 sub", "o101 if [...]"), which is not followed.
            double number = 0;
            bool point = false;
            skipBlanks(p, end);
            if (p < end && *p == '<') {
                const void *close = std::memchr(p, '>', std::size_t(end - p));
                p = close ? static_cast<const char *>(close) + 1 : end;
            } else if (!readNumber(p, end, number, point)) {
                return failRead(Note::Unreadable, wordStart, end);
            }
            skipBlanks(p, end);
            if (p < end && *p != '(' && *p != ';')
                addNote(Note::NotFollowed, excerpt(wordStart, end));
            block.skip = true;
            return true;
        }
        double value = 0;
        bool hasPoint = false;
        if (!readValue(p, end, value, hasPoint))
            return false;
        if (!(std::abs(value) < kLargestValue))
            return failRead(Note::Unreadable, wordStart, end);
        if (letter == 'G' || letter == 'M') {
            int &count = letter == 'G' ? block.gCount : block.mCount;
            int *codes = letter == 'G' ? block.gCodes : block.mCodes;
            if (count == 8 || value < 0 || value > 1000)
                return failRead(Note::Unreadable, wordStart, end);
            codes[count++] = letter == 'G' ? int(std::lround(value * 10)) : int(std::lround(value));
            continue;
        }
        const std::uint32_t bit = 1u << letterIndex(letter);
        block.present |= bit;
        block.values[letterIndex(letter)] = value;
        if (!hasPoint && value != 0)
            block.withoutPoint |= bit;
        else
            block.withoutPoint &= ~bit;
    }
}

bool GcodeInterpreter::readValue(const char *&p, const char *end, double &value, bool &hasPoint)
{
    const char *const wordStart = p - 1;
    skipBlanks(p, end);
    if (p < end && (*p == '[' || *p == '#' ||
                    ((*p == '-' || *p == '+') && p + 1 < end && (p[1] == '[' || p[1] == '#')))) {
        hasPoint = true; // a computed value is never a count of increments
        return readFactor(p, end, value, 0);
    }
    if (!readNumber(p, end, value, hasPoint))
        return failRead(Note::Unreadable, wordStart, end);
    return true;
}

bool GcodeInterpreter::readParameter(const char *&p, const char *end, int &index, int depth)
{
    const char *start = p - 1;
    double number = 0;
    skipBlanks(p, end);
    if (p < end && *p == '<')
        return failRead(Note::BadParameter, start, end); // named parameters are not kept
    if (p < end && (*p == '[' || *p == '#')) {
        if (!readFactor(p, end, number, depth + 1))
            return false;
    } else {
        bool point = false;
        if (!readNumber(p, end, number, point))
            return failRead(Note::BadParameter, start, end);
    }
    if (number < 0 || number >= kParameterCount || number != std::floor(number))
        return failRead(Note::BadParameter, start, end);
    index = int(number);
    return true;
}

bool GcodeInterpreter::readExpression(const char *&p, const char *end, double &value, int depth)
{
    if (!readTerm(p, end, value, depth))
        return false;
    while (true) {
        skipBlanks(p, end);
        if (p == end || (*p != '+' && *p != '-'))
            return true;
        const char op = *p++;
        double right = 0;
        if (!readTerm(p, end, right, depth))
            return false;
        value = op == '+' ? value + right : value - right;
    }
}

bool GcodeInterpreter::readTerm(const char *&p, const char *end, double &value, int depth)
{
    if (!readFactor(p, end, value, depth))
        return false;
    while (true) {
        skipBlanks(p, end);
        if (p == end || (*p != '*' && *p != '/'))
            return true;
        const char *at = p;
        const char op = *p++;
        if (op == '*' && p < end && *p == '*')
            return failRead(Note::BadExpression, at, end); // powers are not read
        double right = 0;
        if (!readFactor(p, end, right, depth))
            return false;
        if (op == '/' && right == 0)
            return failRead(Note::BadExpression, at, end);
        value = op == '*' ? value * right : value / right;
    }
}

bool GcodeInterpreter::readFactor(const char *&p, const char *end, double &value, int depth)
{
    skipBlanks(p, end);
    if (depth > kMaxExpressionDepth || p == end)
        return failRead(Note::BadExpression, p, end);
    const char c = *p;
    if (c == '+' || c == '-') {
        ++p;
        if (!readFactor(p, end, value, depth + 1))
            return false;
        if (c == '-')
            value = -value;
        return true;
    }
    if (c == '[') {
        const char *start = p++;
        if (!readExpression(p, end, value, depth + 1))
            return false;
        skipBlanks(p, end);
        if (p == end || *p != ']')
            return failRead(Note::BadExpression, start, end);
        ++p;
        return true;
    }
    if (c == '#') {
        ++p;
        int index = 0;
        if (!readParameter(p, end, index, depth))
            return false;
        value = m_parameters[std::size_t(index)];
        return true;
    }
    bool point = false;
    if (!readNumber(p, end, value, point))
        return failRead(Note::BadExpression, p, end); // functions, names, operators not read
    return true;
}

void GcodeInterpreter::execute(const Block &block)
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
            addNoteOnce(Note::AxisNotDrawn, QString(QChar::fromLatin1(letter)));
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
            addNote(Note::NotFollowed, QStringLiteral("M%1").arg(code));
            break;
        default:
            addNoteOnce(Note::NotDrawn, QStringLiteral("M%1").arg(code));
            break;
        }
    }
    if (nonModal == 40 && block.has('P'))
        m_out.dwellSeconds += std::max(0.0, block.value('P'));

    if (nonModal == 280 || nonModal == 300) {
        referenceReturn(block, nonModal);
        return;
    }
    if (nonModal == 100 || (nonModal >= 920 && nonModal <= 923))
        return;
    m_motion = motion;
    moveTo(block, motion, nonModal == 530);
}

bool GcodeInterpreter::setModes(const Block &block, int &motion, int &nonModal)
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
            addNote(Note::NotDrawn, gCodeText(code));
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
                addNoteOnce(Note::WorkOffset, gCodeText(code));
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
                addNote(Note::NotDrawn, gCodeText(code));
            break;
        }
    }
    return true;
}

Vec3 GcodeInterpreter::target(const Block &block, bool absolute) const
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

void GcodeInterpreter::moveTo(const Block &block, int motion, bool machineFrame)
{
    for (const char letter : {'X', 'Y', 'Z', 'I', 'J', 'K', 'R'}) {
        if (block.withoutPoint & (1u << (letter - 'A')))
            ++m_out.wholeNumberCoordinates;
    }
    const bool arcCentre = block.has('I') || block.has('J') || block.has('K');
    if (!block.hasAxis() && !((motion == 20 || motion == 30) && arcCentre && !block.has('R')))
        return;
    if (machineFrame)
        addNoteOnce(Note::MachineFrame, QString());
    const Vec3 end = target(block, m_absolute || machineFrame);
    switch (motion) {
    case -1:
        addNote(Note::NoMotionMode);
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
        addNote(Note::NotDrawn, gCodeText(motion));
        addLine({end.x, end.y, m_position.z}, MotionKind::Rapid);
        return;
    }
}

void GcodeInterpreter::referenceReturn(const Block &block, int code)
{
    addNoteOnce(Note::ReferencePoint, gCodeText(code));
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

void GcodeInterpreter::arcTo(const Block &block, const Vec3 &end, bool clockwise)
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
            addNote(Note::ArcNoCenter);
            m_position = end;
            return;
        }
        const double halfChord = chord / 2;
        double h2 = radius * radius - halfChord * halfChord;
        if (h2 < 0) {
            // A radius short of half the chord by rounding in the program's last digit is
            // a half circle; more than that no control would run.
            if (halfChord - std::abs(radius) > std::max(1e-3, 1e-6 * halfChord)) {
                addNote(Note::ArcRadiusTooSmall, QString(), std::abs(radius), chord);
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
            addNote(Note::ArcNoCenter);
            m_position = end;
            return;
        }
        ca = m_arcCentersAbsolute ? offsetA : sa + offsetA;
        cb = m_arcCentersAbsolute ? offsetB : sb + offsetB;
        const double startRadius = std::hypot(sa - ca, sb - cb);
        const double endRadius = std::hypot(ea - ca, eb - cb);
        if (startRadius < 1e-9) {
            addNote(Note::ArcNoCenter);
            m_position = end;
            return;
        }
        if (std::abs(startRadius - endRadius) > std::max(0.01, 1e-4 * startRadius))
            addNote(Note::ArcOffCircle, QString(), startRadius, endRadius);
    }

    Move move;
    move.end = end;
    move.center = fromPlane(ca, cb, sn, m_plane);
    move.line = m_line;
    move.kind = clockwise ? MotionKind::ArcClockwise : MotionKind::ArcCounterClockwise;
    move.plane = m_plane;
    if (block.has('P') && block.value('P') > 1)
        move.extraTurns =
            std::uint16_t(std::min<double>(kMaxExtraTurns, std::floor(block.value('P')) - 1));
    const ArcGeometry geometry(m_position, move);
    geometry.addTo(m_out.allBox, m_plane);
    geometry.addTo(m_out.feedBox, m_plane);
    addMove(move, geometry.length());
}

void GcodeInterpreter::addLine(const Vec3 &target, MotionKind kind)
{
    const double length = std::sqrt((target.x - m_position.x) * (target.x - m_position.x) +
                                    (target.y - m_position.y) * (target.y - m_position.y) +
                                    (target.z - m_position.z) * (target.z - m_position.z));
    if (length == 0)
        return;
    Move move;
    move.end = target;
    move.line = m_line;
    move.kind = kind;
    m_out.allBox.add(m_position);
    m_out.allBox.add(target);
    if (kind == MotionKind::Feed) {
        m_out.feedBox.add(m_position);
        m_out.feedBox.add(target);
    }
    addMove(move, length);
}

void GcodeInterpreter::addMove(const Move &move, double length)
{
    if (m_out.moves.empty())
        m_out.start = m_position;
    m_out.moves.push_back(move);
    m_position = move.end;
    if (move.isRapid()) {
        m_out.rapidLength += length;
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
    if (minutes > 0)
        m_out.feedMinutes += minutes;
    else
        ++m_out.feedMovesWithoutRate;
}

void GcodeInterpreter::addNote(Note::Kind kind, const QString &code, double a, double b)
{
    if (m_out.notes.size() >= kMaxNotes) {
        ++m_out.notesLeftOut;
        return;
    }
    Note note;
    note.line = m_line;
    note.kind = kind;
    note.code = code;
    note.a = a;
    note.b = b;
    m_out.notes.append(note);
}

void GcodeInterpreter::addNoteOnce(Note::Kind kind, const QString &code)
{
    const QString key = QString::number(int(kind)) + QLatin1Char(':') + code;
    const auto found = m_onceNotes.constFind(key);
    if (found != m_onceNotes.constEnd()) {
        ++m_out.notes[*found].count;
        return;
    }
    if (m_out.notes.size() < kMaxNotes)
        m_onceNotes.insert(key, m_out.notes.size());
    addNote(kind, code);
}
