#include "ShellMarkers.h"

#include "ListingParser.h"
#include "TerminalText.h"

namespace {

constexpr ShellMarker kMarkers[] = {ShellMarker::DeleteSuccess, ShellMarker::DeleteFailed,
                                    ShellMarker::CreateSuccess, ShellMarker::CreateFailed};

// A marker line is short; a longer unterminated tail cannot end as one, and keeping all of it
// would make a long line without line feed cost time with every piece.
constexpr int kMaxCarry = 1024;

bool holdsMarkerWord(const QString &text)
{
    for (const ShellMarker marker : kMarkers) {
        if (text.contains(shellMarkerText(marker)))
            return true;
    }
    return false;
}

QString visibleText(const QString &line)
{
    QString text = TerminalText::stripControlSequences(line);
    text.remove(QLatin1Char('\r'));
    return text.trimmed();
}

} // namespace

QString shellMarkerText(ShellMarker marker)
{
    switch (marker) {
    case ShellMarker::DeleteSuccess:
        return QStringLiteral("DELETE_SUCCESS");
    case ShellMarker::DeleteFailed:
        return QStringLiteral("DELETE_FAILED");
    case ShellMarker::CreateSuccess:
        return QStringLiteral("CREATE_SUCCESS");
    case ShellMarker::CreateFailed:
        return QStringLiteral("CREATE_FAILED");
    }
    return QString();
}

ShellMarkerScan scanShellMarkers(const QString &carry, const QString &piece)
{
    ShellMarkerScan scan;
    const QString text = carry + piece;
    const int lastLineFeed = text.lastIndexOf(QLatin1Char('\n'));
    scan.carry = text.mid(lastLineFeed + 1).right(kMaxCarry);

    // Most pieces are listing output or prompts: nothing to look at line by line.
    if (!holdsMarkerWord(text))
        return scan;

    int start = 0;
    while (start < text.size()) {
        const int end = text.indexOf(QLatin1Char('\n'), start);
        const bool complete = end >= 0;
        const QString line = text.mid(start, complete ? end - start : -1);
        start = complete ? end + 1 : text.size();
        if (!holdsMarkerWord(line))
            continue;
        const QString visible = visibleText(line);
        if (ListingParser::isEntryLine(visible))
            continue;
        scan.concernsMarker = true;
        if (!complete)
            continue;
        for (const ShellMarker marker : kMarkers) {
            if (visible == shellMarkerText(marker))
                scan.outcomes.append(marker);
        }
    }
    return scan;
}
