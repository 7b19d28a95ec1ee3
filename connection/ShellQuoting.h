#pragma once

#include <QString>

// Returns text that, placed between double quotes in a command line typed into an interactive
// bash on a terminal, stands for exactly the bytes of `text` on the controller.
//
// The line goes to a line editor, which reads control characters as keys (Ctrl+A, Ctrl+U,
// TAB, CR, ESC) and, in the C locale, every byte of 0x80 and above as a Meta key. So every
// byte outside printable ASCII leaves the double quotes as bash's $'\ooo' octal escape:
// `"$'\345\215\261'"`. The exclamation mark cannot be protected inside double quotes in bash
// (a backslash there stays in the word), so it leaves them too: `"'!'"`. The double quote,
// the backslash, "$" and the backquote get a backslash in front. The result is pure printable
// ASCII. The surrounding double quotes belong to the caller's command.
//
// The bytes are those of QSsh::remoteNameToBytes: a byte of a name that is not valid UTF-8,
// carried in the text, is restored.
QString escapeForDoubleQuotes(const QString &text);
