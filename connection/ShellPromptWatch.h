#pragma once

#include <QString>

// Follows the output of the controller's interactive shell, piece by piece as it arrives, and
// tells whether the shell waits at its prompt: whether a line typed now goes to the line
// editor rather than into the terminal behind a command that still runs.
//
// Bash prints its prompt at the start of a line and then waits, so the shell waits exactly
// when the last, unterminated line of its output is the prompt and nothing else (terminal
// control sequences aside): "root@", a host name and ":~# ". Any host name counts, so that a
// controller named otherwise than the program expects still gets its commands. The prompt
// text inside a line is no prompt: ls quotes a name that holds it ('root@raspberrypi:~# x')
// and prints it after the entry's other fields, and error messages name a path after their own
// words. Nor is the prompt behind which a line was just typed, until the line editor has taken
// that line: its echo ends with a line feed.
//
// Output that does not end with a line feed (printf without "\n") puts the prompt on its last
// line; the shell then does not count as waiting. The program's own commands never do that.
class ShellPromptWatch
{
public:
    // A new shell, which has printed nothing yet: waiting once its first prompt appears.
    void reset();
    // A line has been typed: the shell works on it until the prompt follows its echo.
    void lineTyped();
    // The next piece of output.
    void feed(const QString &piece);
    bool atPrompt() const { return m_atPrompt; }

    // Whether the last line of `output` is the shell's prompt and nothing else; its final blank
    // may still be on its way.
    static bool endsAtPrompt(const QString &output);

private:
    void check();

    QString m_lastLine;          // the unterminated last line of the output so far
    bool m_lastLineLong = false; // it is longer than a prompt line can be
    bool m_echoPending = false;
    bool m_atPrompt = false;
};
