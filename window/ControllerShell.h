#pragma once

#include <QString>

// What the window types into the controller's shell, and how it knows the shell is done.
namespace ControllerShell {

// "root@<host name>:~# ", the prompt after every command, with the blank the cursor waits
// behind. The host name is fixed when the program is built.
QString prompt();

// The command that lists `directory` in the format the listing parser reads, with its line
// feed. The directory reaches `ls` as one literal argument whatever characters it holds.
QString listingCommand(const QString &directory);

// How the shell's echo of the listing command begins.
QString listingEchoStart();

// What stands before position `at` of the shell output on its line, without the terminal's
// control sequences and carriage returns. A prompt of the shell starts its line (nothing stands
// before it), and the line editor's echo of a command follows the prompt; the same texts inside
// a line of output, such as a file name holding the prompt, have the line's start before them.
QString lineHead(const QString &output, int at);

// True when the prompt at `at` starts its line, and when the echo of a command at `at`
// starts its line or follows `prompt` there.
bool isPromptAt(const QString &output, int at);
bool isEchoAt(const QString &output, int at, const QString &prompt);

// A harmless command whose output pushes whatever the new shell still had to say (the login
// banner) out before the first listing.
QString flushCommand();

} // namespace ControllerShell
