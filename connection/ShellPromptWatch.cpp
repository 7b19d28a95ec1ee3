#include "ShellPromptWatch.h"

#include "TerminalText.h"

#include <QRegularExpression>

namespace {

// Room for the control sequences that come with a prompt (bracketed paste on, a window title);
// a longer line is output, and keeping all of it would cost time with every piece.
constexpr int kMaxPromptLine = 1024;

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

void ShellPromptWatch::check()
{
    static const QRegularExpression prompt(QStringLiteral("\\Aroot@[A-Za-z0-9._-]+:~# \\z"));
    if (m_echoPending || m_lastLineLong) {
        m_atPrompt = false;
        return;
    }
    // A carriage return starts the line again: what the terminal shows is what follows it.
    const QString visible = TerminalText::stripControlSequences(m_lastLine);
    m_atPrompt = prompt.match(visible.mid(visible.lastIndexOf(QLatin1Char('\r')) + 1)).hasMatch();
}
