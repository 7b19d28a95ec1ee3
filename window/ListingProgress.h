#pragma once

#include <QString>
#include <QStringList>

// Follows the shell output of one outstanding listing command as it collects in the receive
// buffer, and says when the listing is complete.
//
// Only what follows the command's own echo counts. When the command was typed while an
// earlier command still ran, the terminal echoes it at once and the line editor shows it
// again after the earlier command's prompt; the later echo is the one that counts, and a
// prompt with nothing but prompts between it and the echo is no end. Once the echo has
// arrived, the listing is complete at the prompt that follows its output. Echo and prompt
// count only where the shell prints them, at the start of a line: a file name that holds the
// prompt or the command is part of a listing line.
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

    // The listing's own output in `buffer`: from the line after its last echo up to the
    // prompt that ended it (or to the end of the buffer while it still arrives). The whole
    // buffer when no echo has been seen.
    QString output(const QString &buffer) const;

    // False when the output may be an earlier command's: a listing of the same folder was
    // given up before its command was echoed, so the first echo seen may be that command's.
    // Such a listing is to be sent again rather than shown; the earlier command then counts
    // as answered.
    bool isOwnOutput() const { return m_ownOutput; }

    // The window no longer waits for this listing.
    void abandon();
    // The shell has gone, and with it the commands it had not answered.
    void forgetEarlierCommands() { m_unechoed.clear(); }

private:
    bool holdsOutput(const QString &buffer, int from, int to) const;

    QString m_echo;
    QString m_prompt;
    int m_echoPos = -1;
    int m_outputPos = -1; // first character after the echo's line
    int m_endPos = -1;    // the prompt that ended the output
    State m_state = State::AwaitingEcho;
    bool m_ownOutput = true;
    // Commands of listings given up before their echo arrived, oldest first.
    QStringList m_unechoed;
};
