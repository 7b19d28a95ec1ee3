#pragma once

// What the fuzz targets share. A property that fails ends the run as a crash does, with the
// property and the values printed, so that libFuzzer keeps the input as a finding.

#include <QString>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

// Shell output as the worker hands it to the window: UTF-8, up to a zero byte.
inline QString shellText(const std::uint8_t *data, std::size_t size)
{
    const auto *begin = reinterpret_cast<const char *>(data);
    std::size_t length = 0;
    while (length < size && begin[length] != '\0')
        ++length;
    return QString::fromUtf8(begin, int(length));
}

// The text with every character outside printable ASCII written as \uXXXX, so that a report
// shows blanks, escapes and line ends as they are.
inline QString shown(const QString &text)
{
    QString out;
    for (const QChar c : text) {
        if (c.unicode() >= 0x20 && c.unicode() < 0x7F && c != QLatin1Char('\\'))
            out += c;
        else
            out += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
    }
    return QLatin1Char('"') + out + QLatin1Char('"');
}

[[noreturn]] inline void failProperty(const char *property, const QString &detail)
{
    std::fprintf(stderr, "\nPROPERTY FAILED: %s\n%s\n", property, detail.toUtf8().constData());
    std::abort();
}

#define FUZZ_CHECK(condition, detail)                                                              \
    do {                                                                                           \
        if (!(condition))                                                                          \
            failProperty(#condition, detail);                                                      \
    } while (false)

// Cuts a text into pieces of 1 to `longest` characters, as the shell's output arrives, never
// between the two halves of a surrogate pair (the worker's decoder keeps them together).
template <typename Piece>
void forEachPiece(const QString &text, int longest, std::uint32_t seed, Piece piece)
{
    int at = 0;
    while (at < text.size()) {
        seed = seed * 1103515245u + 12345u;
        int length = 1 + int((seed >> 16) % std::uint32_t(longest));
        length = qMin(length, text.size() - at);
        if (at + length < text.size() && text.at(at + length).isLowSurrogate())
            ++length;
        piece(text.mid(at, length), at + length == text.size());
        at += length;
    }
}
