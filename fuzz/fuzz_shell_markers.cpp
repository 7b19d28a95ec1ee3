// The marker detection of delete and create commands on any shell output (the input after
// its first byte), cut into pieces as the first byte says. Properties:
// - the outcomes do not depend on how the output is cut: pieces with their carry give what
//   the whole output gives at once, for lines of up to 1024 characters (a listing line is far
//   shorter; past that the carry keeps a line's end only, and a listing line is known by its
//   start);
// - taking marker lines out of a growing listing buffer piece by piece, as the window does,
//   leaves what taking them out of the whole output leaves;
// - only whole lines go, never a listing line, and a second pass takes nothing more.
#include "FuzzCheck.h"
#include "ListingParser.h"
#include "ShellMarkers.h"
#include "TerminalText.h"

#include <QStringList>

namespace {

QString outcomeText(const QVector<ShellMarker> &outcomes)
{
    QStringList names;
    for (const ShellMarker marker : outcomes)
        names << shellMarkerText(marker);
    return names.join(QLatin1Char(' '));
}

bool isListingLine(const QString &line)
{
    QString visible = TerminalText::stripControlSequences(line);
    visible.remove(QLatin1Char('\r'));
    return ListingParser::isEntryLine(visible.trimmed());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    const QString text = shellText(data + 1, size - 1);
    const ShellMarkerScan whole = scanShellMarkers(QString(), text);

    QVector<ShellMarker> outcomes;
    QString carry;
    QString buffer;
    forEachPiece(text, 1 + data[0], data[0], [&](const QString &piece, bool) {
        const ShellMarkerScan scan = scanShellMarkers(carry, piece);
        outcomes += scan.outcomes;
        carry = scan.carry;
        const int lastLineStart = buffer.lastIndexOf(QLatin1Char('\n')) + 1;
        buffer += piece;
        removeMarkerLines(&buffer, lastLineStart);
    });
    bool shortLines = true;
    for (const QString &line : text.split(QLatin1Char('\n')))
        shortLines &= line.size() <= 1024;
    FUZZ_CHECK(!shortLines || outcomes == whole.outcomes,
               QStringLiteral("%1: in pieces %2, whole %3")
                   .arg(shown(text), outcomeText(outcomes), outcomeText(whole.outcomes)));
    FUZZ_CHECK(carry == whole.carry, shown(text));

    QString rest = text;
    removeMarkerLines(&rest, 0);
    FUZZ_CHECK(
        buffer == rest,
        QStringLiteral("%1: in pieces %2, whole %3").arg(shown(text), shown(buffer), shown(rest)));
    QString again = rest;
    removeMarkerLines(&again, 0);
    FUZZ_CHECK(again == rest, shown(text));

    // The lines kept are the lines of the text less some whole lines, none a listing line.
    const QStringList lines = text.split(QLatin1Char('\n'));
    const QStringList kept = rest.split(QLatin1Char('\n'));
    int k = 0;
    for (const QString &line : lines) {
        if (k < kept.size() && kept.at(k) == line)
            ++k;
        else
            FUZZ_CHECK(!isListingLine(line),
                       QStringLiteral("%1 lost %2").arg(shown(text), shown(line)));
    }
    FUZZ_CHECK(k == kept.size(), QStringLiteral("%1 became %2").arg(shown(text), shown(rest)));
    return 0;
}
