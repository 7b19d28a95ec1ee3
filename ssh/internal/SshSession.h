#pragma once

#include "HostKeyCheck.h"
#include "SshConnection.h"
#include "SshConnectionParameters.h"
#include "SshTypes.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

#include <libssh2.h>
#include <libssh2_sftp.h>

class QHostInfo;
class QSocketNotifier;

namespace QSsh {

namespace Internal {
class KnownHosts;
}

// The engine behind SshConnection: one TCP socket and one non-blocking libssh2 session,
// driven by a read/write socket-notifier pair and timers of the owning thread.
//
// Everything that talks over the session (the shell, the SFTP channel and its jobs) is a
// Client: a small state machine that advances in step() and returns as soon as libssh2 would
// block. A round steps every client; socket activity, a zero timer after progress, and new
// work all start rounds, so one notifier pair drives all operations.
//
// libssh2 keeps at most one partly sent packet per session and refuses (LIBSSH2_ERROR_BAD_USE)
// any other packet until that one has been completed by the very operation that started it.
// A send callback notices a partly sent packet; the operation during which that happened
// becomes the outbound owner, and only it may touch the transport until its packet is out
// (mayUseTransport()).
//
// Signals are never emitted from inside a round: they are posted to the event loop, so a
// receiver may freely delete connections, channels or processes in its slots.
class SshSession : public QObject
{
    Q_OBJECT
public:
    enum class Step {
        Idle,     // nothing to do, or waiting for another operation
        Progress, // did some work and has more: run another round soon
        Blocked,  // libssh2 would block; waits for the socket
        Fatal     // the session broke (libssh2_session_last_errno tells why)
    };

    class Client
    {
    public:
        virtual ~Client() = default;
        // Advances the client by a bounded amount of work.
        virtual Step step() = 0;
        // True while the client waits for the server to answer; used to notice a dead peer.
        virtual bool awaitsReply() const = 0;
        // The session ends: free every libssh2 object (the socket is shut down by now, so
        // nothing can block), end pending work with the reason and forget the session.
        virtual void detach(const QString &reason) = 0;
    };

    explicit SshSession(const SshConnectionParameters &parameters, QObject *parent = nullptr);
    ~SshSession() override;

    void connectToHost();
    void disconnectFromHost();
    SshConnection::State state() const;
    SshError errorState() const { return m_error; }
    QString errorString() const { return m_errorString; }
    const SshConnectionParameters &parameters() const { return m_parameters; }
    // What the host key check of the current or last attempt found.
    HostKeyCheck hostKeyCheck() const { return m_hostKeyCheck; }

    LIBSSH2_SESSION *handle() const { return m_session; }

    // New objects on this session (their constructors are reserved to the session).
    SshRemoteProcess *createRemoteShell();
    SftpChannel *createSftpChannel();

    void addClient(Client *client);
    void removeClient(Client *client);
    // Runs a round from the event loop soon (new work arrived).
    void schedule();

    // Every libssh2 call of a client goes through track(): it records what an EAGAIN waits
    // for and who owns a partly sent packet. Returns rc.
    int track(const void *operation, int rc);
    // For calls that return a pointer: the error code behind a null result.
    int lastErrno() const;
    bool mayUseTransport(const void *operation) const;
    // True while operation has a partly sent packet: nothing else can use the transport until
    // operation itself completes it, so it must never be held back.
    bool holdsTransport(const void *operation) const
    {
        return m_outboundOwner && m_outboundOwner == operation;
    }
    // Forgets an operation that is being destroyed.
    void forgetOperation(const void *operation);
    // libssh2's description of the last error, for messages.
    QString lastErrorText() const;
    // Bytes received so far: a client of several parts tells by it whether one part read
    // data that another, which already ran, may be waiting for.
    quint64 inboundBytes() const { return m_inboundBytes; }

    // Finishes libssh2 work of an object that is already gone (closing a handle or channel).
    // The task returns LIBSSH2_ERROR_EAGAIN until done; tasks run in order. It must touch
    // nothing but the libssh2 objects it frees: one still queued when the connection ends is
    // handed to discard().
    void adoptCleanup(std::function<int()> task);
    // For a client detached by the connection's end: frees one of its libssh2 objects just
    // before the session itself (see teardown()). The call returns LIBSSH2_ERROR_EAGAIN until
    // done, like a clean-up task.
    void discard(std::function<int()> free);

    // At most this many channels are open at once, the shell and every command channel and SFTP
    // session included: OpenSSH's sshd refuses more by default (MaxSessions 10).
    static constexpr int kMaxChannels = 10;
    // libssh2 keeps the progress of a channel being opened, and of an SFTP session being
    // started, in the SSH session: one operation opens at a time. True when operation may call
    // libssh2_channel_open_session() or libssh2_sftp_init() now (it holds the turn until
    // endChannelOpen()); its channel counts against kMaxChannels until it is released.
    bool beginChannelOpen(const void *operation);
    void endChannelOpen(const void *operation, bool opened);
    int channelsInUse() const { return m_channelsInUse; }
    // operation goes away while its open (of an SFTP session, or else of a channel) is under
    // way: a clean-up task sees it through and frees what it opened.
    void abandonChannelOpen(const void *operation, bool sftpSession);
    // Free a channel, or an SFTP session with its channel, as a clean-up task; its place counts
    // as free once libssh2 is done with it.
    void releaseChannel(LIBSSH2_CHANNEL *channel);
    void releaseSftp(LIBSSH2_SFTP *sftp);

    // Commands run on the controller (RemoteCommand) take turns: Dropbear 2022.83 ends the whole
    // connection on a failed assertion when commands of one connection end side by side. True
    // when operation may start its command now; it holds the turn until endCommand().
    bool beginCommand(const void *operation)
    {
        if (m_commandRunner && m_commandRunner != operation)
            return false;
        m_commandRunner = operation;
        return true;
    }
    void endCommand(const void *operation)
    {
        if (m_commandRunner != operation)
            return;
        m_commandRunner = nullptr;
        schedule(); // another may be waiting for its turn
    }

    // True for libssh2 errors after which the session is unusable.
    static bool isSessionError(int rc);

signals:
    void connected();
    void disconnected();
    void error(QSsh::SshError error);

private:
    enum class Phase {
        Unconnected,
        Resolving,
        TcpConnecting,
        Handshaking,
        Authenticating,
        Connected
    };

    void onHostLookedUp(const QHostInfo &info);
    void startTcp(const QByteArray &address, int family);
    void onReadable();
    void onWritable();
    void onConnectTimeout();
    void onKeepAliveTick();
    void runRound();
    void stepLogin();
    bool startHostKeyCheck();
    bool finishHostKeyCheck();
    void stepClients();

    struct Cleanup
    {
        std::function<int()> run;
        bool givesBackChannel = false; // a channel's place is free once it has run
        bool freesOnly = true;         // touches nothing but what it frees (see adoptCleanup())
    };
    void queueCleanup(Cleanup cleanup);
    bool runCleanups();

    void updateNotifiers();
    void enterConnected();
    void failFromLibssh2(const QString &what);
    void fail(SshError error, const QString &text);
    void teardown(const QString &reason, bool graceful);
    void noteInbound(qint64 bytes);
    // Whether a client waits for the controller; remembered for schedule().
    bool anyClientAwaitsReply();
    int keepAliveInterval() const;
    bool socketWritable() const;

    static LIBSSH2_RECV_FUNC(recvCallback);
    static LIBSSH2_SEND_FUNC(sendCallback);

    const SshConnectionParameters m_parameters;
    Phase m_phase = Phase::Unconnected;
    SshError m_error = SshNoError;
    QString m_errorString;
    HostKeyCheck m_hostKeyCheck;
    std::unique_ptr<Internal::KnownHosts> m_knownHosts; // freed before the session

    int m_socket = -1;
    LIBSSH2_SESSION *m_session = nullptr;
    QSocketNotifier *m_readNotifier = nullptr;
    QSocketNotifier *m_writeNotifier = nullptr;
    QTimer m_connectTimer;
    QTimer m_keepAliveTimer;
    QTimer m_roundTimer;
    QTimer m_retryTimer;
    int m_lookupId = -1;

    QList<Client *> m_clients;
    QList<Cleanup> m_cleanups;
    QList<std::function<int()>> m_leftovers; // see discard()
    const void *m_outboundOwner = nullptr;
    const void *m_channelOpener = nullptr;
    const void *m_commandRunner = nullptr;
    int m_channelsInUse = 0;
    int m_wantDirections = 0;
    bool m_sendIncomplete = false; // libssh2 holds a partly sent packet
    bool m_inRound = false;
    bool m_readPaused = false;
    quint64 m_inboundBytes = 0;
    bool m_awaitingReply = false;
    // Since the controller last sent something, or since it was last given a reason to.
    QElapsedTimer m_sinceInbound;
};

} // namespace QSsh
