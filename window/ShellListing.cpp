#include "ShellListing.h"

#include "ControllerShell.h"
#include "ListingParser.h"
#include "ShellPromptWatch.h"
#include "WindowLogging.h"

#include <QTimer>

ShellListing::ShellListing(QObject *parent) : QObject(parent), m_timeoutTimer(new QTimer(this))
{
    m_timeoutTimer->setObjectName(QStringLiteral("m_listingTimeoutTimer"));
    m_timeoutTimer->setSingleShot(true);
    m_timeoutTimer->setInterval(20000);
    connect(m_timeoutTimer, &QTimer::timeout, this, &ShellListing::timedOut);
}

void ShellListing::start(const QString &command)
{
    m_progress.start(command.trimmed(), ControllerShell::prompt());
    m_timeoutTimer->start();
}

void ShellListing::stop()
{
    m_timeoutTimer->stop();
}

void ShellListing::abandon()
{
    m_progress.abandon();
    stop();
}

QVector<ShellMarker> ShellListing::takeMarkers(const QString &piece)
{
    const ShellMarkerScan scan = scanShellMarkers(m_markerCarry, piece);
    m_markerCarry = scan.carry;
    return scan.outcomes;
}

ListingProgress::State ShellListing::append(QString *output, const QString &piece)
{
    // Every piece is kept, also one of white space or digits alone: a lone line feed
    // separates two entries, a lone digit belongs to a size or a time, and the prompt's last
    // blank may come by itself. Control sequences go when the text is cleaned; the lines of
    // delete and create commands go now, so that their prompt is no end.
    const int lastLineStart = output->lastIndexOf(QLatin1Char('\n')) + 1;
    *output += piece;
    removeMarkerLines(output, lastLineStart);
    return m_progress.update(*output, lastLineStart);
}

ShellListing::Ending ShellListing::ending(const QString &output) const
{
    // Output that went quiet before the shell's prompt came back is cut short (the link or the
    // controller paused): the listing waits for the rest, up to its time limit.
    if (m_progress.state() != ListingProgress::State::Complete &&
        !ShellPromptWatch::endsAtPrompt(output))
        return Ending::CutShort;
    // Rows that may be another command's are never shown as this folder's.
    return m_progress.isOwnOutput() ? Ending::Own : Ending::Foreign;
}

RemoteListing ShellListing::rows(const QString &output) const
{
    const QString cleaned =
        ListingParser::cleanOutput(m_progress.output(output), ControllerShell::prompt());
    qCDebug(lcWindow).noquote() << "清理后的数据:" << cleaned;
    return ListingParser::parse(cleaned);
}

QString ShellListing::tooLongLine(bool english, const QString &folder)
{
    return (english ? QStringLiteral("The path of %1 is too long to be typed into the controller's "
                                     "shell; the folder is not listed.")
                    : QStringLiteral("%1 的路径过长，无法输入控制器的shell；未列出该文件夹。"))
        .arg(folder);
}

QString ShellListing::notSentLine(bool english, const QString &folder, const QString &error)
{
    return (english ? QStringLiteral("The listing of %1 was not sent: %2")
                    : QStringLiteral("目录 %1 的列表未发送: %2"))
        .arg(folder, error);
}

QString ShellListing::timedOutLine(bool english, const QString &folder)
{
    return (english ? QStringLiteral("The listing of %1 did not finish within 20 seconds; its "
                                     "content is not shown.")
                    : QStringLiteral("目录 %1 的列表未能在20秒内完成，未显示其内容。"))
        .arg(folder);
}
