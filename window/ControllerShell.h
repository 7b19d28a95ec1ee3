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

// A harmless command whose output pushes whatever the new shell still had to say (the login
// banner) out before the first listing.
QString flushCommand();

} // namespace ControllerShell
