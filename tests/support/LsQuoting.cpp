#include "LsQuoting.h"

#include <QVector>

#include <cstring>
#include <cwctype>
#include <locale.h>

namespace {

// Length of the valid UTF-8 sequence at `i` and its code point, or 0: overlong forms,
// surrogates and values past U+10FFFF are invalid, as the C library reads them.
int utf8Sequence(const QByteArray &text, int i, char32_t *code)
{
    const auto byte = [&](int at) {
        return at < text.size() ? uchar(text.at(at)) : 0u;
    };
    const uchar lead = byte(i);
    const int length = lead < 0xC2 ? 0 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : lead < 0xF5 ? 4 : 0;
    if (length == 0)
        return 0;
    char32_t value = lead & (0x7F >> length);
    for (int k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (byte(i + k) & 0x3F);
    }
    const char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < least[length] || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF)
        return 0;
    *code = value;
    return length;
}

// ls asks its C library which characters are printable, in the controller's UTF-8 locale (the
// simulated controller's C library is this machine's).
bool isPrintable(char32_t code)
{
    static const locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t(nullptr));
    return utf8 && iswprint_l(wint_t(code), utf8);
}

bool isAlphanumeric(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

void appendEscape(QByteArray *out, uchar byte)
{
    const char *const letters = "\a\b\f\n\r\t\v";
    const char *const names = "abfnrtv";
    const char *letter = byte ? std::strchr(letters, byte) : nullptr;
    *out += '\\';
    if (letter) {
        *out += names[letter - letters];
    } else {
        *out += char('0' + (byte >> 6));
        *out += char('0' + ((byte >> 3) & 7));
        *out += char('0' + (byte & 7));
    }
}

} // namespace

QByteArray lsQuotedName(const QByteArray &name)
{
    // One pass to decide the form, one to write it. A unit is one character, or one byte that
    // is not part of a valid one.
    struct Unit
    {
        int start = 0;
        int length = 1;
        bool printable = true;
    };
    QVector<Unit> units;
    bool needsQuotes = false;
    bool singleQuote = false;
    bool doubleQuotesWork = true;
    for (int i = 0; i < name.size();) {
        Unit unit{i, 1, true};
        const char c = name.at(i);
        if (uchar(c) >= 0x80) {
            char32_t code = 0;
            const int length = utf8Sequence(name, i, &code);
            unit.length = qMax(length, 1);
            unit.printable = length > 0 && isPrintable(code);
            needsQuotes |= !unit.printable;
            doubleQuotesWork &= unit.printable;
        } else {
            unit.printable = c >= 0x20 && c < 0x7F;
            // "#" and "~" start a comment or a home folder only at the start of a word, "{"
            // and "}" are special only alone.
            const bool atStart = (c == '#' || c == '~') && i == 0;
            const bool alone = (c == '{' || c == '}') && name.size() == 1;
            const bool special = !unit.printable || atStart || alone ||
                                 std::strchr(" !\"$&'()*;<=>?[\\^`|", c) != nullptr;
            const bool compatible = unit.printable && (isAlphanumeric(c) || atStart || alone ||
                                                       std::strchr(" %+,-.:@]_'", c) != nullptr);
            needsQuotes |= special;
            singleQuote |= c == '\'';
            doubleQuotesWork &= compatible;
        }
        units.append(unit);
        i += unit.length;
    }

    if (!needsQuotes)
        return name;
    if (singleQuote && doubleQuotesWork)
        return '"' + name + '"';

    // The single-quoted form. GNU ls (coreutils 9.1) writes it twice when the name holds a
    // single quote, and the second time starts in the $'...' state the first one ended in: a
    // spurious '' at the start, or no opening $' before a first unprintable byte, which makes
    // ls print such a name as another one ('\317'... reads as a backslash and digits).
    const auto write = [&](bool inEscapes, bool *endsInEscapes) {
        QByteArray out("'");
        for (const Unit &unit : units) {
            if (unit.length == 1 && name.at(unit.start) == '\'') {
                out += "'\\''"; // ends the open segment, whichever kind it is
                inEscapes = false;
            } else if (!unit.printable) {
                if (!inEscapes)
                    out += "'$'";
                inEscapes = true;
                for (int k = 0; k < unit.length; ++k)
                    appendEscape(&out, uchar(name.at(unit.start + k)));
            } else {
                if (inEscapes)
                    out += "''";
                inEscapes = false;
                out += name.mid(unit.start, unit.length);
            }
        }
        *endsInEscapes = inEscapes;
        return out + '\'';
    };
    bool endsInEscapes = false;
    const QByteArray once = write(false, &endsInEscapes);
    return singleQuote ? write(endsInEscapes, &endsInEscapes) : once;
}
