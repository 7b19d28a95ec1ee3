#pragma once

#include "SftpJob.h"

#include <QByteArray>
#include <QString>

namespace QSsh::Internal {

// A command run on the controller for a job, on an exec channel of its own beside the job's
// SFTP session, so that only the transport is shared with the other jobs. A state machine
// that the job steps; it waits for its turn (one command at a time on a connection), for its
// turn to open a channel, and for a free one within the connection's budget. The input, if any, is
// written to the command's standard input, which is then closed (a controller that runs something
// else in place of the command ends it).
class RemoteCommand
{
public:
    enum class Outcome {
        Running,
        Refused, // the controller opened no channel
        Failed,  // a request on the channel failed (failure() says why)
        Exited   // exitStatus(), output() and errors() hold what it left
    };

    RemoteCommand(SftpContext &context, const void *operation, const QByteArray &command,
                  const QByteArray &input = QByteArray());
    ~RemoteCommand();
    RemoteCommand(const RemoteCommand &) = delete;
    RemoteCommand &operator=(const RemoteCommand &) = delete;

    // One bounded step; Done once the outcome is known.
    SftpJob::Result step();
    // A call answered EAGAIN: it must be repeated before anything else may happen.
    bool callPending() const { return m_callPending; }
    // The command may be running on the controller by now.
    bool hasStarted() const { return m_phase > Phase::Start; }
    // Frees the channel (see SftpJob::releaseHandle()); not while a call is pending, unless
    // the session is going away.
    void release(bool immediately);

    Outcome outcome() const { return m_outcome; }
    QString failure() const { return m_failure; }
    int exitStatus() const { return m_exitStatus; }
    QByteArray output() const { return m_output; } // its last 16 KiB
    QByteArray errors() const { return m_errors; } // its first 4 KiB

private:
    enum class Phase { Open, Start, SendInput, SendEof, Read, AwaitClose, Done };

    SftpJob::Result afterCall(int rc, Phase next);
    SftpJob::Result read();
    SftpJob::Result awaitClose();
    SftpJob::Result end(Outcome outcome);

    SftpContext &m_context;
    const void *const m_operation;
    const QByteArray m_command;
    const QByteArray m_input;
    Phase m_phase = Phase::Open;
    LIBSSH2_CHANNEL *m_channel = nullptr;
    bool m_callPending = false;
    int m_inputSent = 0;
    Outcome m_outcome = Outcome::Running;
    QString m_failure;
    int m_exitStatus = -1;
    QByteArray m_output;
    QByteArray m_errors;
};

} // namespace QSsh::Internal
