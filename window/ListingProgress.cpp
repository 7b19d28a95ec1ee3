#include "ListingProgress.h"

#include "ControllerShell.h"
#include "TerminalText.h"

namespace {

// The terminal is 4096 columns wide; past that the line editor may wrap the echo of a very
// long command, so only the part before that counts.
constexpr int kEchoLength = 4000;

} // namespace

void ListingProgress::abandon()
{
    // Given up before its echo, the command may still be answered by the shell, after the next
    // listing started; its output then looks like that one's if it lists the same folder.
    if (m_state == State::AwaitingEcho && !m_echo.isEmpty())
        m_unechoed.append(m_echo);
    m_state = State::Complete;
}

void ListingProgress::start(const QString &command, const QString &prompt)
{
    m_echo = command.left(kEchoLength);
    m_prompt = prompt;
    m_echoPos = -1;
    m_outputPos = -1;
    m_endPos = -1;
    m_state = State::AwaitingEcho;
    m_ownOutput = !m_unechoed.removeOne(m_echo);
}

ListingProgress::State ListingProgress::update(const QString &buffer, int from)
{
    if (m_state == State::Complete)
        return m_state;
    // Text that the new output completes starts on the old last line.
    for (int at = buffer.indexOf(m_echo, qMax(from, m_echoPos + 1)); at >= 0;
         at = buffer.indexOf(m_echo, at + 1)) {
        if (!ControllerShell::isEchoAt(buffer, at, m_prompt))
            continue;
        m_echoPos = at;
        m_outputPos = -1;
        m_state = State::AwaitingOutput;
    }
    if (m_echoPos < 0)
        return m_state;
    if (m_outputPos < 0) {
        const int lineEnd = buffer.indexOf(QLatin1Char('\n'), m_echoPos + m_echo.size());
        if (lineEnd < 0)
            return m_state;
        m_outputPos = lineEnd + 1;
    }

    const int searchFrom = qMax(from, m_outputPos);
    for (int at = buffer.indexOf(m_prompt, searchFrom); at >= 0;
         at = buffer.indexOf(m_prompt, at + 1)) {
        if (ControllerShell::isPromptAt(buffer, at) && holdsOutput(buffer, m_outputPos, at)) {
            m_endPos = at;
            return m_state = State::Complete;
        }
    }
    if (m_state == State::AwaitingOutput && holdsOutput(buffer, searchFrom, buffer.size()))
        m_state = State::Receiving;
    return m_state;
}

QString ListingProgress::output(const QString &buffer) const
{
    if (m_outputPos < 0)
        return m_echoPos < 0 ? buffer : QString();
    return buffer.mid(m_outputPos, m_endPos < 0 ? -1 : m_endPos - m_outputPos);
}

bool ListingProgress::holdsOutput(const QString &buffer, int from, int to) const
{
    QString text = TerminalText::stripControlSequences(buffer.mid(from, to - from));
    text.remove(m_prompt);
    return !text.trimmed().isEmpty();
}
