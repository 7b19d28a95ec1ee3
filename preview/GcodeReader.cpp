#include "GcodeReader.h"

#include "GcodeNotes.h"

#include <cmath>
#include <cstring>

namespace {

constexpr int kMaxExpressionDepth = 32;
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

} // namespace

GcodeReader::GcodeReader(GcodeNotes &notes) : m_notes(notes) {}

GcodeReader::Line GcodeReader::read(const char *p, const char *end, GcodeBlock &block)
{
    skipBlanks(p, end);
    if (p == end)
        return Line::Nothing;
    if (*p == '%')
        return Line::PercentMark;
    if (*p == '/') {
        m_notes.addOnce(Note::BlockDelete, QString());
        return Line::Nothing;
    }
    if (!readBlock(p, end, block)) {
        m_pendingAssignments.clear();
        return Line::Unreadable;
    }
    return Line::Words;
}

void GcodeReader::applyAssignments()
{
    for (const auto &[index, value] : m_pendingAssignments)
        m_parameters[index] = value;
    m_pendingAssignments.clear();
}

bool GcodeReader::failRead(Note::Kind kind, const char *at, const char *end)
{
    m_notes.add(kind, excerpt(at, end));
    return false;
}

bool GcodeReader::readBlock(const char *p, const char *end, GcodeBlock &block)
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
                m_notes.add(Note::NotFollowed, excerpt(wordStart, end));
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

bool GcodeReader::readValue(const char *&p, const char *end, double &value, bool &hasPoint)
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

bool GcodeReader::readParameter(const char *&p, const char *end, int &index, int depth)
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

bool GcodeReader::readExpression(const char *&p, const char *end, double &value, int depth)
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

bool GcodeReader::readTerm(const char *&p, const char *end, double &value, int depth)
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

bool GcodeReader::readFactor(const char *&p, const char *end, double &value, int depth)
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
        const auto set = m_parameters.find(index);
        value = set == m_parameters.end() ? 0.0 : set->second;
        return true;
    }
    bool point = false;
    if (!readNumber(p, end, value, point))
        return failRead(Note::BadExpression, p, end); // functions, names, operators not read
    return true;
}
