#include "ControllerShell.h"

#include "ShellQuoting.h"
#include "TerminalText.h"

namespace ControllerShell {

QString prompt()
{
    return QStringLiteral("root@" CNC_CONTROLLER_HOSTNAME ":~# ");
}

QString listingCommand(const QString &directory)
{
    // The backslash keeps the blank of the time style inside one argument, so that ls prints
    // date and time as two fields.
    return QStringLiteral("ls -la --time-style=+%Y-%m-%d\\ %H:%M:%S \"") +
           escapeForDoubleQuotes(directory) + QStringLiteral("\"\n");
}

QString listingEchoStart()
{
    return QStringLiteral("ls -la --time-style=");
}

QString lineHead(const QString &output, int at)
{
    const int lineStart = at > 0 ? output.lastIndexOf(QLatin1Char('\n'), at - 1) + 1 : 0;
    QString head = TerminalText::stripControlSequences(output.mid(lineStart, at - lineStart));
    head.remove(QLatin1Char('\r'));
    return head;
}

bool isPromptAt(const QString &output, int at)
{
    return lineHead(output, at).isEmpty();
}

bool isEchoAt(const QString &output, int at, const QString &prompt)
{
    const QString head = lineHead(output, at);
    return head.isEmpty() || head == prompt;
}

QString flushCommand()
{
    return QStringLiteral("echo SHELL_READY\n");
}

} // namespace ControllerShell
