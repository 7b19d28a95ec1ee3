#pragma once

#include <QString>

// Follows the shell output of one outstanding listing command as it collects in the receive
// buffer, and says when the listing is complete.
//
// Only what follows the command's own echo counts. When the command was typed while an
// earlier command still ran, the terminal echoes it at once and the line editor shows it
// again after the earlier command's prompt; the later echo is the one that counts, and a
// prompt with nothing but prompts between it and the echo is no end. Once the echo has
// arrived, the listing is complete at the prompt that follows its output.
class ListingProgress
{
public:
    enum class State {
        AwaitingEcho,   // the command's echo has not arrived
        AwaitingOutput, // echoed, nothing printed yet: ls reads the whole folder first
        Receiving,      // its output has begun
        Complete        // its output ended at the prompt
    };

    // A new listing: `command` as typed, without its line feed; `prompt` ends the output.
    void start(const QString &command, const QString &prompt);
    // `buffer` has grown by new output; everything before `from`, the start of what was its
    // last line, has been looked at already.
    State update(const QString &buffer, int from);
    State state() const { return m_state; }

private:
    bool holdsOutput(const QString &buffer, int from, int to) const;

    QString m_echo;
    QString m_prompt;
    int m_echoPos = -1;
    int m_outputPos = -1; // first character after the echo's line
    State m_state = State::AwaitingEcho;
};
