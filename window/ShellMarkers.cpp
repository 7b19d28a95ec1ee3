#include "ShellMarkers.h"

#include "ListingParser.h"
#include "TerminalText.h"

#include <iterator>

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

// The echo of a delete or create command: it names both markers of its pair.
bool isCommandEcho(const QString &visible)
{
    return !ListingParser::isEntryLine(visible) &&
           (visible.contains(
                QLatin1String("&& echo \"DELETE_SUCCESS\" || echo \"DELETE_FAILED\"")) ||
            visible.contains(
                QLatin1String("&& echo \"CREATE_SUCCESS\" || echo \"CREATE_FAILED\"")));
}

// The outcome line a command printed, or -1. The marker ends the line; what stands before it
// is the terminal's echo of commands typed while the earlier one ran, which lands wherever the
// output happens to be. A listing line whose name ends in a marker word is no outcome.
int outcomeIndex(const QString &visible)
{
    if (ListingParser::isEntryLine(visible) || isCommandEcho(visible))
        return -1;
    for (int i = 0; i < int(std::size(kMarkers)); ++i) {
        if (visible.endsWith(shellMarkerText(kMarkers[i])))
            return i;
    }
    return -1;
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
        if (!complete || !holdsMarkerWord(line))
            continue;
        const int outcome = outcomeIndex(visibleText(line));
        if (outcome >= 0)
            scan.outcomes.append(kMarkers[outcome]);
    }
    return scan;
}

void removeMarkerLines(QString *text, int from)
{
    int start = from > 0 ? text->lastIndexOf(QLatin1Char('\n'), from - 1) + 1 : 0;
    while (start < text->size()) {
        const int end = text->indexOf(QLatin1Char('\n'), start);
        if (end < 0)
            return;
        const QString line = text->mid(start, end - start);
        if (holdsMarkerWord(line)) {
            const QString visible = visibleText(line);
            if (outcomeIndex(visible) >= 0 || isCommandEcho(visible)) {
                text->remove(start, end + 1 - start);
                continue;
            }
        }
        start = end + 1;
    }
}

QString shellMarkerLogLine(ShellMarker marker, bool english)
{
    switch (marker) {
    case ShellMarker::DeleteSuccess:
        return english ? QStringLiteral("Delete operation completed successfully")
                       : QStringLiteral("删除操作成功完成");
    case ShellMarker::DeleteFailed:
        return english ? QStringLiteral("Delete operation failed") : QStringLiteral("删除操作失败");
    case ShellMarker::CreateSuccess:
        return english ? QStringLiteral("New folder operation completed successfully")
                       : QStringLiteral("新建文件夹操作成功完成");
    case ShellMarker::CreateFailed:
        break;
    }
    return english ? QStringLiteral("New folder operation failed")
                   : QStringLiteral("新建文件夹操作失败");
}

bool shellMarkerIsSuccess(ShellMarker marker)
{
    return marker == ShellMarker::DeleteSuccess || marker == ShellMarker::CreateSuccess;
}
