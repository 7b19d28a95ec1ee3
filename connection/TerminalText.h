#pragma once

#include <QString>

namespace TerminalText {

// The text without the terminal's control sequences: CSI sequences (colours, cursor moves,
// bracketed-paste switches such as ESC[?2004h), OSC sequences (window titles), two- and
// three-character ESC sequences (cursor save and restore, character set choice) and bells.
// Line feeds, carriage returns and tabs stay. `ls` on a terminal prints control characters of
// names as $'...' escapes, so no name loses a character here.
QString stripControlSequences(const QString &text);

// True when the trimmed text holds nothing but ESC, the controls BEL to CR, "[", "]", digits,
// ";" and the letters H, J, r and n: the remains of cursor and screen commands that carry no
// output. The empty text counts too.
bool isControlOnly(const QString &text);

} // namespace TerminalText
