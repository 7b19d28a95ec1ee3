#include "ControllerShell.h"

#include "ShellQuoting.h"

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

QString flushCommand()
{
    return QStringLiteral("echo SHELL_READY\n");
}

} // namespace ControllerShell
