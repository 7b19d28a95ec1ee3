#include "TerminalText.h"

namespace TerminalText {

namespace {

constexpr char16_t kEsc = 0x1B;
constexpr char16_t kBel = 0x07;

bool inRange(QChar c, char16_t low, char16_t high)
{
    return c.unicode() >= low && c.unicode() <= high;
}

// Index just past the ESC sequence that starts at `start`, which holds ESC.
int endOfEscapeSequence(const QString &text, int start)
{
    const int size = text.size();
    int i = start + 1;
    if (i >= size)
        return size;
    const QChar kind = text.at(i++);
    if (kind == QLatin1Char('[')) {
        // CSI: parameter bytes, intermediate bytes, one final byte.
        while (i < size && inRange(text.at(i), 0x30, 0x3F))
            ++i;
        while (i < size && inRange(text.at(i), 0x20, 0x2F))
            ++i;
        if (i < size && inRange(text.at(i), 0x40, 0x7E))
            ++i;
        return i;
    }
    if (kind == QLatin1Char(']')) {
        // OSC: ends with BEL or with ESC "\".
        while (i < size) {
            if (text.at(i) == kBel)
                return i + 1;
            if (text.at(i) == kEsc)
                return (i + 1 < size && text.at(i + 1) == QLatin1Char('\\')) ? i + 2 : i;
            ++i;
        }
        return size;
    }
    if (inRange(kind, 0x20, 0x2F)) // character set designation: ESC ( B and the like
        return qMin(i + 1, size);
    return i; // ESC 7, ESC 8, ESC =, ESC > ...
}

} // namespace

QString stripControlSequences(const QString &text)
{
    if (!text.contains(kEsc) && !text.contains(kBel))
        return text;
    QString result;
    result.reserve(text.size());
    const int size = text.size();
    int runStart = 0;
    for (int i = 0; i < size;) {
        const QChar c = text.at(i);
        if (c != kEsc && c != kBel) {
            ++i;
            continue;
        }
        result += QStringView(text).mid(runStart, i - runStart);
        i = (c == kEsc) ? endOfEscapeSequence(text, i) : i + 1;
        runStart = i;
    }
    result += QStringView(text).mid(runStart);
    return result;
}

bool isControlOnly(const QString &text)
{
    for (const QChar c : text.trimmed()) {
        const bool control =
            c == kEsc || inRange(c, 0x07, 0x0D) || c == QLatin1Char('[') || c == QLatin1Char(']') ||
            inRange(c, u'0', u'9') || c == QLatin1Char(';') || c == QLatin1Char('H') ||
            c == QLatin1Char('J') || c == QLatin1Char('r') || c == QLatin1Char('n');
        if (!control)
            return false;
    }
    return true;
}

} // namespace TerminalText
