#pragma once

#include <QString>

// Returns text that, placed between double quotes in a command line for a POSIX shell (also an
// interactive bash with history expansion), stands for exactly the characters of `text`.
//
// The double quote, the backslash, "$" and the backquote get a backslash in front. The
// exclamation mark cannot be protected inside double quotes in bash (a backslash there stays
// in the word), so it leaves the double quotes for a moment: `"'!'"`. The surrounding double
// quotes belong to the caller's command.
QString escapeForDoubleQuotes(const QString &text);
