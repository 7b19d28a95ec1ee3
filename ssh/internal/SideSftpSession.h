#pragma once

#include "SshSession.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include <cstdint>
#include <optional>

#include <libssh2.h>

namespace QSsh::Internal {

// An SFTP session of our own, on a channel of its own, for the requests libssh2 cannot make:
// - OpenSSH's "posix-rename@openssh.com" (a plain rename(2), which replaces an existing
//   target). libssh2 1.10 sends only the rename of SFTP protocol 3, which refuses an existing
//   target, and has no call for extensions.
// - Writes as large as the server takes. libssh2 splits every write into requests of 30,000
//   bytes, and each costs the controller a turn of its SFTP server and an answer of its own;
//   OpenSSH's sftp writes up to the limit the server states ("limits@openssh.com", 255 KiB for
//   OpenSSH's server). Where the controller's CPU sets the pace, as with Dropbear on a small
//   board, that difference is a fifth of the rate.
// A request of ours cannot go out on one of libssh2's SFTP sessions, since libssh2 reads and
// keeps every answer on them itself. So this session speaks the few packets it needs: INIT and
// VERSION, whose list of extensions tells what the server offers, the limits, and OPEN, WRITE,
// CLOSE and the rename, pipelined, with their HANDLE and STATUS answers.
class SideSftpSession
{
public:
    enum class Support { Unknown, Offered, NotOffered };
    struct Answer
    {
        unsigned long status = 0; // an SFTP status code, LIBSSH2_FX_OK on success
        QString message;          // the server's own text
        QByteArray handle;        // the handle an open request returned
    };
    // SFTP protocol 3's open flags.
    static constexpr quint32 kOpenWrite = 0x02;

    explicit SideSftpSession(SshSession *session) : m_session(session) {}
    ~SideSftpSession();
    SideSftpSession(const SideSftpSession &) = delete;
    SideSftpSession &operator=(const SideSftpSession &) = delete;

    // Opens the session in the background, once.
    void start();
    // Unknown until started and the server has said what it offers.
    Support renameSupport() const;
    Support writeSupport() const;
    // The longest write to make, once writes are Offered.
    int writeSize() const { return m_writeSize; }

    // Each request counts as made from its call on, and returns its number for takeAnswer().
    // Made while the session is not ready, a request is answered at once as unsupported.
    // Replaces to by from (paths in the controller's bytes); only while renames are Offered.
    quint32 rename(const QByteArray &from, const QByteArray &to);
    // Opens path (the controller's bytes), which must exist, with flags; the answer carries the
    // handle. Only while writes are Offered, as write() and close().
    quint32 open(const QByteArray &path, quint32 flags);
    quint32 write(const QByteArray &handle, quint64 offset, const char *data, int size);
    quint32 close(const QByteArray &handle);
    // The answer to request once it has come. Should the session end first, the answer says
    // so with a failure status: whether the request was carried out is then unknown.
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
    enum class Phase { NotStarted, Opening, StartingSubsystem, Greeting, Limits, Ready, Closed };

    SshSession::Step pump();
    SshSession::Step writeOut(bool *progress);
    SshSession::Step readIn(bool *progress);
    bool takePackets();
    bool takeVersion(const QByteArray &packet);
    bool takeLimits(const QByteArray &packet);
    // A request of type with the fields that follow its number; answered at once as
    // unsupported when the session is not ready.
    quint32 request(quint8 type, const QByteArray &fields, const char *data = nullptr,
                    int size = 0);
    void queueRequest(quint8 type, quint32 number, const QByteArray &fields,
                      const char *data = nullptr, int size = 0);
    // Ends the session: every outstanding request is answered with reason.
    void giveUp(const QString &reason);

    SshSession *m_session;
    Phase m_phase = Phase::NotStarted;
    LIBSSH2_CHANNEL *m_channel = nullptr;
    bool m_offersRename = false;
    int m_writeSize = 0; // 0 until the server's limits allow large writes
    // The most to hand libssh2 at once, so that no packet takes more than half the server's
    // window; unlimited until the channel is open.
    size_t m_packetLimit = SIZE_MAX;
    quint32 m_limitsRequest = 0;
    // Bytes libssh2 is sending (left untouched until all have gone, from m_sent on) and bytes
    // queued after them.
    QByteArray m_sending;
    int m_sent = 0;
    QByteArray m_queued;
    QByteArray m_received;
    quint32 m_nextRequest = 1;
    QSet<quint32> m_outstanding;
    QSet<quint32> m_forgotten;
    QHash<quint32, Answer> m_answers;
};

} // namespace QSsh::Internal
