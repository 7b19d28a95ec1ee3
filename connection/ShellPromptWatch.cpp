#include "ShellPromptWatch.h"

#include "TerminalText.h"

#include <QRegularExpression>

namespace {

// Room for the control sequences that come with a prompt (bracketed paste on, a window title);
// a longer line is output, and keeping all of it would cost time with every piece.
constexpr int kMaxPromptLine = 1024;

// The prompt on a line of its own: "root@", a host name and ":~# ".
const QRegularExpression &promptLine()
{
    static const QRegularExpression prompt(QStringLiteral("\\Aroot@[A-Za-z0-9._-]+:~# ?\\z"));
    return prompt;
}

// What the terminal shows of the last line of `output`: without control sequences, and from
// its last carriage return on, which starts the line again. Empty for a line longer than a
// prompt line can be.
QString shownLastLine(const QString &output)
{
    const QString lastLine = output.mid(output.lastIndexOf(QLatin1Char('\n')) + 1);
    if (lastLine.size() > kMaxPromptLine)
        return QString();
    const QString shown = TerminalText::stripControlSequences(lastLine);
    return shown.mid(shown.lastIndexOf(QLatin1Char('\r')) + 1);
}

} // namespace

void ShellPromptWatch::reset()
{
    m_lastLine.clear();
    m_lastLineLong = false;
    m_echoPending = false;
    m_atPrompt = false;
}

void ShellPromptWatch::lineTyped()
{
    m_echoPending = true;
    m_atPrompt = false;
}

void ShellPromptWatch::feed(const QString &piece)
{
    const int lineFeed = piece.lastIndexOf(QLatin1Char('\n'));
    if (lineFeed >= 0) {
        m_echoPending = false;
        m_lastLine = piece.mid(lineFeed + 1);
        m_lastLineLong = false;
    } else if (!m_lastLineLong) {
        m_lastLine += piece;
    }
    if (m_lastLine.size() > kMaxPromptLine) {
        m_lastLineLong = true;
        m_lastLine.clear();
    }
    check();
}

bool ShellPromptWatch::endsAtPrompt(const QString &output)
{
    return shownLastLine(output).contains(promptLine());
}

void ShellPromptWatch::check()
{
    // Bash waits for input once the blank that ends its prompt is out.
    if (m_echoPending || m_lastLineLong) {
        m_atPrompt = false;
        return;
    }
    const QString shown = shownLastLine(m_lastLine);
    m_atPrompt = shown.endsWith(QLatin1Char(' ')) && shown.contains(promptLine());
}
