#pragma once

#include <QByteArray>

// A file name as GNU ls prints it to a terminal in a UTF-8 locale (its "shell-escape" quoting,
// the controller's default):
// - bare when a shell reads it as it stands;
// - in double quotes when it holds a single quote and otherwise only characters that mean the
//   same in C and shell double quotes (letters, digits, blanks, "%+,-.:@]_", printable
//   non-ASCII): "it's";
// - else in single quotes, a single quote written '\'' and every byte that is not part of a
//   printable character as a $'...' segment ($'\n', $'\033', $'\342\200\250'): 'a'$'\t''b'.
// The name is the file's bytes; the result is the bytes ls writes for it.
QByteArray lsQuotedName(const QByteArray &name);
