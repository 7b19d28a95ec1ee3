#pragma once

#include "SshSession.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include <optional>

#include <libssh2.h>

namespace QSsh::Internal {

// Replaces remote files in one request and one round trip, with OpenSSH's SFTP extension
// "posix-rename@openssh.com" (a plain rename(2), which replaces an existing target).
//
// libssh2 1.10 cannot make that request: libssh2_sftp_rename_ex() sends the rename of SFTP
// protocol 3, which refuses an existing target, and there is no call for extensions. Nor can
// a request of ours go out on one of libssh2's SFTP sessions, since libssh2 reads and keeps
// every answer on them itself. So this is an SFTP session of its own, on a channel of its own,
// speaking the few packets it needs: INIT and VERSION, whose list of extensions tells whether
// the server offers the one wanted, then the extension requests, pipelined, and their STATUS
// answers.
class PosixRenameSession
{
public:
    enum class Support { Unknown, Offered, NotOffered };
    struct Answer
    {
        unsigned long status = 0; // an SFTP status code, LIBSSH2_FX_OK on success
        QString message;          // the server's own text
    };

    explicit PosixRenameSession(SshSession *session) : m_session(session) {}
    ~PosixRenameSession();
    PosixRenameSession(const PosixRenameSession &) = delete;
    PosixRenameSession &operator=(const PosixRenameSession &) = delete;

    // Opens the session in the background, once.
    void start();
    // Unknown until started and the server has said what it offers.
    Support support() const;
    // Replaces to by from (paths in the controller's bytes); only while Offered. The request
    // counts as made from here on. Returns its number for takeAnswer().
    quint32 rename(const QByteArray &from, const QByteArray &to);
    // The answer to request once it has come. Should the session end first, the answer says
    // so with a failure status: whether the rename happened is then unknown.
    std::optional<Answer> takeAnswer(quint32 request);
    // Nobody waits for the answer to request any more.
    void forget(quint32 request);

    SshSession::Step step();
    bool awaitsReply() const;
    // The connection is gone: frees the channel at once.
    void detach();
    // Leaves the connection: the channel is freed as a clean-up task of the session.
    void release();

private:
    enum class Phase { NotStarted, Opening, StartingSubsystem, Greeting, Ready, Closed };

    SshSession::Step pump();
    SshSession::Step writeOut(bool *progress);
    SshSession::Step readIn(bool *progress);
    bool takePackets();
    void queuePacket(const QByteArray &payload);
    // Ends the session: every outstanding request is answered with reason.
    void giveUp(const QString &reason);

    SshSession *m_session;
    Phase m_phase = Phase::NotStarted;
    LIBSSH2_CHANNEL *m_channel = nullptr;
    // Bytes libssh2 is sending (left untouched until all have gone) and bytes queued after them.
    QByteArray m_sending;
    QByteArray m_queued;
    QByteArray m_received;
    quint32 m_nextRequest = 1;
    QSet<quint32> m_outstanding;
    QSet<quint32> m_forgotten;
    QHash<quint32, Answer> m_answers;
};

} // namespace QSsh::Internal
