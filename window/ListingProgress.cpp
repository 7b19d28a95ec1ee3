#include "ListingProgress.h"

#include "TerminalText.h"

namespace {

// The terminal is 4096 columns wide; past that the line editor may wrap the echo of a very
// long command, so only the part before that counts.
constexpr int kEchoLength = 4000;

} // namespace

void ListingProgress::start(const QString &command, const QString &prompt)
{
    m_echo = command.left(kEchoLength);
    m_prompt = prompt;
    m_echoPos = -1;
    m_outputPos = -1;
    m_state = State::AwaitingEcho;
}

ListingProgress::State ListingProgress::update(const QString &buffer, int from)
{
    if (m_state == State::Complete)
        return m_state;
    // Text that the new output completes starts on the old last line.
    for (int at = buffer.indexOf(m_echo, qMax(from, m_echoPos + 1)); at >= 0;
         at = buffer.indexOf(m_echo, at + 1)) {
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
        if (holdsOutput(buffer, m_outputPos, at))
            return m_state = State::Complete;
    }
    if (m_state == State::AwaitingOutput && holdsOutput(buffer, searchFrom, buffer.size()))
        m_state = State::Receiving;
    return m_state;
}

bool ListingProgress::holdsOutput(const QString &buffer, int from, int to) const
{
    QString text = TerminalText::stripControlSequences(buffer.mid(from, to - from));
    text.remove(m_prompt);
    return !text.trimmed().isEmpty();
}
