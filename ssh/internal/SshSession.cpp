#include "SshSession.h"

#include "CipherPreference.h"
#include "KnownHosts.h"
#include "SessionSocket.h"
#include "SftpChannel.h"
#include "SshLogging.h"
#include "SshRemoteProcess.h"

#include <QHostAddress>
#include <QHostInfo>
#include <QSocketNotifier>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace QSsh {

namespace {

// libssh2 sends a keepalive after this many idle seconds (at most; a third of the dead-peer
// timeout when that is shorter, so that a live controller answers well within it); together
// with the TCP user timeout below this turns a silently vanished peer into a socket error, and
// answers to them tell a controller that is merely slow from a dead one.
constexpr int kKeepAliveIntervalSeconds = 5;
constexpr int kTickMs = 1000;
// While an operation awaits a reply it is retried this often even without socket activity: a
// safety net, so that a libssh2 call answering EAGAIN with no socket event to follow (its
// data already buffered inside libssh2, for instance) can never hang the connection.
constexpr int kRetryMs = 2;
// Calls made to see a free through once the connection is gone (see teardown()).
constexpr int kFreeAttempts = 8;

void initLibssh2Once()
{
    static const int rc = libssh2_init(0);
    if (rc != 0)
        qCWarning(lcSsh) << "libssh2_init failed:" << rc;
}

QString errnoText(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

} // namespace

SshSession::SshSession(const SshConnectionParameters &parameters, QObject *parent)
    : QObject(parent), m_parameters(parameters)
{
    initLibssh2Once();
    m_connectTimer.setSingleShot(true);
    connect(&m_connectTimer, &QTimer::timeout, this, &SshSession::onConnectTimeout);
    m_keepAliveTimer.setInterval(kTickMs);
    connect(&m_keepAliveTimer, &QTimer::timeout, this, &SshSession::onKeepAliveTick);
    m_roundTimer.setSingleShot(true);
    m_roundTimer.setInterval(0);
    connect(&m_roundTimer, &QTimer::timeout, this, &SshSession::runRound);
    m_retryTimer.setSingleShot(true);
    m_retryTimer.setTimerType(Qt::PreciseTimer);
    m_retryTimer.setInterval(kRetryMs);
    connect(&m_retryTimer, &QTimer::timeout, this, &SshSession::runRound);
}

SshSession::~SshSession()
{
    teardown(tr("Connection closed."), true);
}

SshConnection::State SshSession::state() const
{
    switch (m_phase) {
    case Phase::Unconnected:
        return SshConnection::Unconnected;
    case Phase::Connected:
        return SshConnection::Connected;
    default:
        return SshConnection::Connecting;
    }
}

void SshSession::connectToHost()
{
    if (m_phase != Phase::Unconnected)
        return; // an attempt is under way or the connection is up
    m_error = SshNoError;
    m_errorString.clear();
    m_hostKeyCheck = HostKeyCheck();
    m_hostKeyCheck.knownHostsFile = m_parameters.knownHostsFile;
    m_phase = Phase::Resolving;
    m_connectTimer.start(qMax(1, m_parameters.timeout) * 1000);
    qCDebug(lcSsh) << "connecting to" << m_parameters.host << m_parameters.port;

    QHostAddress address;
    if (address.setAddress(m_parameters.host)) {
        QHostInfo info;
        info.setAddresses({address});
        onHostLookedUp(info);
        return;
    }
    m_lookupId = QHostInfo::lookupHost(m_parameters.host, this, &SshSession::onHostLookedUp);
}

void SshSession::onHostLookedUp(const QHostInfo &info)
{
    m_lookupId = -1;
    if (m_phase != Phase::Resolving)
        return;
    for (const QHostAddress &address : info.addresses()) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol) {
            sockaddr_in sa{};
            sa.sin_family = AF_INET;
            sa.sin_port = htons(m_parameters.port);
            sa.sin_addr.s_addr = htonl(address.toIPv4Address());
            startTcp(QByteArray(reinterpret_cast<const char *>(&sa), sizeof sa), AF_INET);
            return;
        }
        if (address.protocol() == QAbstractSocket::IPv6Protocol) {
            sockaddr_in6 sa{};
            sa.sin6_family = AF_INET6;
            sa.sin6_port = htons(m_parameters.port);
            const Q_IPV6ADDR ip = address.toIPv6Address();
            std::memcpy(&sa.sin6_addr, ip.c, sizeof ip.c);
            startTcp(QByteArray(reinterpret_cast<const char *>(&sa), sizeof sa), AF_INET6);
            return;
        }
    }
    fail(SshSocketError, tr("Host %1 not found.").arg(m_parameters.host));
}

void SshSession::startTcp(const QByteArray &address, int family)
{
    m_socket = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_socket < 0) {
        fail(SshSocketError, tr("Cannot create a socket: %1").arg(errnoText(errno)));
        return;
    }
    const int on = 1;
    ::setsockopt(m_socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    // Unacknowledged data (a keepalive at the latest) older than this aborts the connection:
    // a pulled cable becomes a socket error instead of minutes of retransmissions.
    const unsigned int userTimeoutMs = unsigned(qMax(1, m_parameters.deadPeerTimeout)) * 1000;
    ::setsockopt(m_socket, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);

    m_readNotifier = new QSocketNotifier(m_socket, QSocketNotifier::Read, this);
    m_writeNotifier = new QSocketNotifier(m_socket, QSocketNotifier::Write, this);
    connect(m_readNotifier, &QSocketNotifier::activated, this, &SshSession::onReadable);
    connect(m_writeNotifier, &QSocketNotifier::activated, this, &SshSession::onWritable);

    m_phase = Phase::TcpConnecting;
    const int rc = ::connect(m_socket, reinterpret_cast<const sockaddr *>(address.constData()),
                             socklen_t(address.size()));
    if (rc != 0 && errno != EINPROGRESS) {
        fail(SshSocketError,
             tr("Cannot connect to %1: %2").arg(m_parameters.host, errnoText(errno)));
        return;
    }
    updateNotifiers();
}

void SshSession::onWritable()
{
    if (m_phase == Phase::TcpConnecting) {
        int socketError = 0;
        socklen_t length = sizeof socketError;
        ::getsockopt(m_socket, SOL_SOCKET, SO_ERROR, &socketError, &length);
        if (socketError != 0) {
            fail(SshSocketError,
                 tr("Cannot connect to %1: %2").arg(m_parameters.host, errnoText(socketError)));
            return;
        }
        m_session = libssh2_session_init_ex(nullptr, nullptr, nullptr, this);
        if (!m_session) {
            fail(SshInternalError, tr("Cannot create an SSH session."));
            return;
        }
        libssh2_session_set_blocking(m_session, 0);
        Internal::SessionSocket::setFunctions(m_session, &recvCallback, &sendCallback);
        QString refused;
        if (!Internal::CipherPreference::apply(m_session, &refused)) {
            fail(SshInternalError, tr("Cannot choose the ciphers: %1").arg(refused));
            return;
        }
        if (!startHostKeyCheck())
            return;
        m_phase = Phase::Handshaking;
    }
    runRound();
}

void SshSession::onReadable()
{
    const quint64 before = m_inboundBytes;
    runRound();
    if (m_phase != Phase::Connected || m_inboundBytes != before || m_outboundOwner)
        return;
    // Readable, yet no client read anything: either the peer closed the socket, or data
    // waits that no current operation asks for. Do not spin on the notifier for the latter.
    char byte;
    const ssize_t n = ::recv(m_socket, &byte, 1, MSG_PEEK | MSG_DONTWAIT);
    if (n == 0) {
        fail(SshClosedByServerError, tr("The connection was closed by the controller."));
    } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        fail(SshSocketError, tr("Connection lost: %1").arg(errnoText(errno)));
    } else if (n > 0) {
        m_readPaused = true;
        updateNotifiers();
    }
}

void SshSession::onConnectTimeout()
{
    if (m_phase == Phase::Connected || m_phase == Phase::Unconnected)
        return;
    fail(SshTimeoutError, tr("Connection to %1 timed out after %2 s.")
                              .arg(m_parameters.host)
                              .arg(m_parameters.timeout));
}

void SshSession::onKeepAliveTick()
{
    if (m_phase != Phase::Connected)
        return;
    m_readPaused = false;
    const qint64 silentMs = m_sinceInbound.elapsed();
    const qint64 deadMs = qint64(qMax(1, m_parameters.deadPeerTimeout)) * 1000;
    const bool waiting = anyClientAwaitsReply();
    if (waiting && silentMs > deadMs) {
        fail(SshTimeoutError, tr("The controller stopped answering (nothing received for %1 s).")
                                  .arg(silentMs / 1000));
        return;
    }
    // While an operation waits for the controller, keepalives ask for an answer: a controller
    // that is alive answers them even when it has no window to grant and nothing else to say,
    // so only a silent one is declared dead. Only then: libssh2 keeps every answer for good.
    libssh2_keepalive_config(m_session, waiting ? 1 : 0, keepAliveInterval());
    // A keepalive is a packet of its own: send it only when no operation has a partly sent
    // packet and the socket takes it whole, so it can never be left half sent.
    if (!m_outboundOwner && !m_sendIncomplete && socketWritable()) {
        int next = 0;
        const int rc = libssh2_keepalive_send(m_session, &next);
        if (isSessionError(rc)) {
            failFromLibssh2(tr("Connection lost"));
            return;
        }
    }
    runRound();
}

bool SshSession::socketWritable() const
{
    pollfd p{m_socket, POLLOUT, 0};
    return ::poll(&p, 1, 0) == 1 && (p.revents & POLLOUT);
}

void SshSession::disconnectFromHost()
{
    if (m_phase == Phase::Unconnected)
        return;
    teardown(tr("Connection closed."), true);
    QMetaObject::invokeMethod(
        this, [this] { emit disconnected(); }, Qt::QueuedConnection);
}

SshRemoteProcess *SshSession::createRemoteShell()
{
    return new SshRemoteProcess(this);
}

SftpChannel *SshSession::createSftpChannel()
{
    return new SftpChannel(this);
}

void SshSession::addClient(Client *client)
{
    m_clients.append(client);
    schedule();
}

void SshSession::removeClient(Client *client)
{
    m_clients.removeAll(client);
}

void SshSession::schedule()
{
    // Work arriving when nothing was awaited: the controller had no reason to say anything
    // until now, however long it has been quiet (or this thread busy).
    if (!m_awaitingReply)
        m_sinceInbound.start();
    m_readPaused = false;
    if (m_phase == Phase::Connected && !m_roundTimer.isActive())
        m_roundTimer.start();
}

int SshSession::track(const void *operation, int rc)
{
    // The send callback tells whether a packet is left half sent; libssh2's block directions
    // do not, since a call may go on reading after its send blocked.
    if (m_sendIncomplete) {
        if (!m_outboundOwner)
            m_outboundOwner = operation;
        m_wantDirections |= LIBSSH2_SESSION_BLOCK_OUTBOUND;
    } else {
        m_outboundOwner = nullptr;
    }
    if (rc == LIBSSH2_ERROR_EAGAIN && m_session)
        m_wantDirections |= libssh2_session_block_directions(m_session);
    return rc;
}

int SshSession::lastErrno() const
{
    return m_session ? libssh2_session_last_errno(m_session) : LIBSSH2_ERROR_SOCKET_DISCONNECT;
}

bool SshSession::mayUseTransport(const void *operation) const
{
    return !m_outboundOwner || m_outboundOwner == operation;
}

void SshSession::forgetOperation(const void *operation)
{
    if (m_outboundOwner == operation)
        m_outboundOwner = nullptr;
}

QString SshSession::lastErrorText() const
{
    if (!m_session)
        return tr("not connected");
    char *message = nullptr;
    int length = 0;
    libssh2_session_last_error(m_session, &message, &length, 0);
    return message && length > 0 ? QString::fromLocal8Bit(message, length) : tr("unknown error");
}

void SshSession::adoptCleanup(std::function<int()> task)
{
    queueCleanup({std::move(task)});
}

void SshSession::queueCleanup(Cleanup cleanup)
{
    m_cleanups.append(std::move(cleanup));
    schedule();
}

void SshSession::discard(std::function<int()> free)
{
    m_leftovers.append(std::move(free));
}

bool SshSession::beginChannelOpen(const void *operation)
{
    if (m_channelOpener == operation)
        return true;
    if (m_channelOpener || m_channelsInUse >= kMaxChannels)
        return false;
    m_channelOpener = operation;
    ++m_channelsInUse;
    return true;
}

void SshSession::endChannelOpen(const void *operation, bool opened)
{
    if (m_channelOpener != operation)
        return;
    m_channelOpener = nullptr;
    if (!opened)
        --m_channelsInUse;
    schedule(); // another may be waiting for its turn
}

void SshSession::abandonChannelOpen(const void *operation, bool sftpSession)
{
    if (m_channelOpener != operation)
        return;
    m_channelOpener = &m_cleanups; // the clean-up task holds the turn now
    Cleanup finishOpen;
    finishOpen.freesOnly = false;
    finishOpen.run = [this, sftpSession] {
        LIBSSH2_SFTP *const sftp = sftpSession ? libssh2_sftp_init(m_session) : nullptr;
        LIBSSH2_CHANNEL *const channel =
            sftpSession ? nullptr : libssh2_channel_open_session(m_session);
        if (!sftp && !channel && lastErrno() == LIBSSH2_ERROR_EAGAIN)
            return LIBSSH2_ERROR_EAGAIN;
        m_channelOpener = nullptr;
        if (sftp)
            releaseSftp(sftp);
        else if (channel)
            releaseChannel(channel);
        else
            --m_channelsInUse;
        return 0;
    };
    queueCleanup(std::move(finishOpen));
}

void SshSession::releaseChannel(LIBSSH2_CHANNEL *channel)
{
    queueCleanup({[channel] { return libssh2_channel_free(channel); }, true});
}

void SshSession::releaseSftp(LIBSSH2_SFTP *sftp)
{
    queueCleanup({[sftp] { return libssh2_sftp_shutdown(sftp); }, true});
}

bool SshSession::isSessionError(int rc)
{
    switch (rc) {
    case LIBSSH2_ERROR_SOCKET_NONE:
    case LIBSSH2_ERROR_INVALID_MAC:
    case LIBSSH2_ERROR_KEX_FAILURE:
    case LIBSSH2_ERROR_ALLOC:
    case LIBSSH2_ERROR_SOCKET_SEND:
    case LIBSSH2_ERROR_KEY_EXCHANGE_FAILURE:
    case LIBSSH2_ERROR_TIMEOUT:
    case LIBSSH2_ERROR_DECRYPT:
    case LIBSSH2_ERROR_SOCKET_DISCONNECT:
    case LIBSSH2_ERROR_PROTO:
    case LIBSSH2_ERROR_ZLIB:
    case LIBSSH2_ERROR_SOCKET_TIMEOUT:
    case LIBSSH2_ERROR_BAD_USE:
    case LIBSSH2_ERROR_COMPRESS:
    case LIBSSH2_ERROR_SOCKET_RECV:
    case LIBSSH2_ERROR_ENCRYPT:
    case LIBSSH2_ERROR_BAD_SOCKET:
        return true;
    default:
        return false;
    }
}

void SshSession::runRound()
{
    if (m_inRound)
        return;
    m_inRound = true;
    m_wantDirections = 0;
    switch (m_phase) {
    case Phase::Handshaking:
    case Phase::Authenticating:
        stepLogin();
        break;
    case Phase::Connected:
        stepClients();
        break;
    default:
        break;
    }
    m_inRound = false;
    updateNotifiers();
}

void SshSession::stepLogin()
{
    if (m_phase == Phase::Handshaking) {
        const int rc =
            track(this, libssh2_session_handshake(m_session, libssh2_socket_t(m_socket)));
        if (rc == LIBSSH2_ERROR_EAGAIN)
            return;
        if (rc != 0) {
            const QString text =
                tr("SSH handshake with %1 failed: %2").arg(m_parameters.host, lastErrorText());
            fail(isSessionError(rc) ? SshSocketError : SshProtocolError, text);
            return;
        }
        // The password goes only to the controller whose key is on record.
        if (!finishHostKeyCheck())
            return;
        m_phase = Phase::Authenticating;
    }
    const QByteArray user = m_parameters.userName.toUtf8();
    const QByteArray password = m_parameters.password.toUtf8();
    const int rc = track(this, libssh2_userauth_password_ex(
                                   m_session, user.constData(), unsigned(user.size()),
                                   password.constData(), unsigned(password.size()), nullptr));
    if (rc == LIBSSH2_ERROR_EAGAIN)
        return;
    if (rc == LIBSSH2_ERROR_AUTHENTICATION_FAILED || rc == LIBSSH2_ERROR_PASSWORD_EXPIRED ||
        rc == LIBSSH2_ERROR_METHOD_NONE) {
        fail(SshAuthenticationError, tr("The controller refused the user name or password for %1.")
                                         .arg(m_parameters.userName));
        return;
    }
    if (rc != 0) {
        fail(isSessionError(rc) ? SshSocketError : SshProtocolError,
             tr("Authentication failed: %1").arg(lastErrorText()));
        return;
    }
    enterConnected();
}

bool SshSession::startHostKeyCheck()
{
    m_knownHosts = std::make_unique<Internal::KnownHosts>(m_session, m_parameters.knownHostsFile);
    if (!m_knownHosts->load(&m_hostKeyCheck)) {
        fail(SshHostKeyError,
             tr("Cannot check the host key of %1 against %2: %3")
                 .arg(m_parameters.host, m_hostKeyCheck.knownHostsFile, m_hostKeyCheck.error));
        return false;
    }
    // Must be set before the handshake, which negotiates the key type.
    const QByteArray methods = m_knownHosts->hostKeyMethods(m_parameters.host, m_parameters.port);
    if (libssh2_session_method_pref(m_session, LIBSSH2_METHOD_HOSTKEY, methods.constData()) != 0)
        qCWarning(lcSsh).noquote()
            << "cannot ask for the host key types" << methods << ":" << lastErrorText();
    return true;
}

bool SshSession::finishHostKeyCheck()
{
    m_knownHosts->verify(m_parameters.host, m_parameters.port, &m_hostKeyCheck);
    const HostKeyCheck &check = m_hostKeyCheck;
    switch (check.outcome) {
    case HostKeyCheck::Matched:
        return true;
    case HostKeyCheck::Recorded:
        qCDebug(lcSsh).noquote() << "host key of" << m_parameters.host
                                 << "recorded:" << check.offeredKey << "in" << check.knownHostsFile;
        return true;
    case HostKeyCheck::NotRecorded:
        qCWarning(lcSsh).noquote()
            << "host key of" << m_parameters.host << check.offeredKey << "could not be recorded in"
            << check.knownHostsFile << ":" << check.error;
        return true;
    default:
        break;
    }
    if (check.recordedKey.isEmpty()) {
        fail(SshHostKeyError,
             tr("The host key of %1 is refused: %2").arg(m_parameters.host, check.error));
    } else if (check.revoked) {
        fail(SshHostKeyError, tr("The host key of %1 (%2) is marked as revoked in %3, line %4; "
                                 "the password was not sent.")
                                  .arg(m_parameters.host, check.offeredKey, check.knownHostsFile)
                                  .arg(check.line));
    } else {
        fail(SshHostKeyError, tr("The host key of %1 (%2) differs from the one recorded in %3, "
                                 "line %4 (%5); the password was not sent.")
                                  .arg(m_parameters.host, check.offeredKey, check.knownHostsFile)
                                  .arg(check.line)
                                  .arg(check.recordedKey));
    }
    return false;
}

void SshSession::enterConnected()
{
    m_phase = Phase::Connected;
    m_connectTimer.stop();
    libssh2_keepalive_config(m_session, 0, keepAliveInterval());
    m_sinceInbound.start();
    m_keepAliveTimer.start();
    // Shown without debug: what a slow transfer is bound by is the first thing to know.
    qCInfo(lcSsh).noquote() << "connected to" << m_parameters.host + ':'
                            << Internal::CipherPreference::negotiated(m_session);
    QMetaObject::invokeMethod(
        this, [this] { emit connected(); }, Qt::QueuedConnection);
}

void SshSession::stepClients()
{
    bool progress = false;
    if (!runCleanups())
        return;
    // What the cleanups read, every client sees; what a client reads may carry data for one
    // that stepped before it.
    std::optional<quint64> afterFirstClient;
    const QList<Client *> clients = m_clients;
    for (Client *client : clients) {
        if (!m_clients.contains(client))
            continue;
        const Step step = client->step();
        if (!afterFirstClient)
            afterFirstClient = m_inboundBytes;
        switch (step) {
        case Step::Progress:
            progress = true;
            break;
        case Step::Fatal:
            failFromLibssh2(tr("Connection lost"));
            return;
        case Step::Idle:
        case Step::Blocked:
            break;
        }
        if (m_phase != Phase::Connected)
            return;
    }
    // Go round again until a round neither progresses nor reads anything that an earlier
    // client may be waiting for. A client that blocks after reading waits for the socket
    // again: running it once more at once would only find the same.
    if (progress || (afterFirstClient && m_inboundBytes != *afterFirstClient)) {
        m_roundTimer.start();
        return;
    }
    if (anyClientAwaitsReply())
        m_retryTimer.start();
}

bool SshSession::anyClientAwaitsReply()
{
    m_awaitingReply = false;
    for (const Client *client : qAsConst(m_clients))
        m_awaitingReply = m_awaitingReply || client->awaitsReply();
    return m_awaitingReply;
}

int SshSession::keepAliveInterval() const
{
    return qBound(2, m_parameters.deadPeerTimeout / 3, kKeepAliveIntervalSeconds);
}

bool SshSession::runCleanups()
{
    while (!m_cleanups.isEmpty()) {
        if (!mayUseTransport(&m_cleanups))
            return true;
        // A copy: a task may queue further tasks.
        const Cleanup cleanup = m_cleanups.first();
        const int rc = track(&m_cleanups, cleanup.run());
        if (rc == LIBSSH2_ERROR_EAGAIN)
            return true;
        m_cleanups.removeFirst();
        if (cleanup.givesBackChannel)
            --m_channelsInUse;
        if (isSessionError(rc)) {
            failFromLibssh2(tr("Connection lost"));
            return false;
        }
    }
    return true;
}

void SshSession::updateNotifiers()
{
    if (!m_readNotifier)
        return;
    const bool loggedIn = m_phase == Phase::Handshaking || m_phase == Phase::Authenticating ||
                          m_phase == Phase::Connected;
    m_readNotifier->setEnabled(loggedIn && !m_readPaused);
    m_writeNotifier->setEnabled(m_phase == Phase::TcpConnecting ||
                                (loggedIn && (m_wantDirections & LIBSSH2_SESSION_BLOCK_OUTBOUND)));
}

void SshSession::failFromLibssh2(const QString &what)
{
    const int rc = lastErrno();
    const QString text = QStringLiteral("%1: %2").arg(what, lastErrorText());
    switch (rc) {
    case LIBSSH2_ERROR_SOCKET_DISCONNECT:
        fail(SshClosedByServerError, text);
        break;
    case LIBSSH2_ERROR_TIMEOUT:
    case LIBSSH2_ERROR_SOCKET_TIMEOUT:
        fail(SshTimeoutError, text);
        break;
    case LIBSSH2_ERROR_SOCKET_SEND:
    case LIBSSH2_ERROR_SOCKET_RECV:
    case LIBSSH2_ERROR_SOCKET_NONE:
    case LIBSSH2_ERROR_BAD_SOCKET:
        fail(SshSocketError, text);
        break;
    default:
        fail(SshProtocolError, text);
        break;
    }
}

void SshSession::fail(SshError error, const QString &text)
{
    if (m_phase == Phase::Unconnected)
        return;
    qCWarning(lcSsh).noquote() << "SSH connection to" << m_parameters.host << "failed:" << text;
    m_error = error;
    m_errorString = text;
    teardown(text, false);
    QMetaObject::invokeMethod(
        this, [this, error] { emit this->error(error); }, Qt::QueuedConnection);
}

void SshSession::teardown(const QString &reason, bool graceful)
{
    m_connectTimer.stop();
    m_keepAliveTimer.stop();
    m_roundTimer.stop();
    m_retryTimer.stop();
    if (m_lookupId >= 0) {
        QHostInfo::abortHostLookup(m_lookupId);
        m_lookupId = -1;
    }
    for (QSocketNotifier *notifier : {m_readNotifier, m_writeNotifier}) {
        if (notifier) {
            notifier->setEnabled(false);
            notifier->deleteLater(); // we may be inside its activated() signal
        }
    }
    m_readNotifier = m_writeNotifier = nullptr;

    if (m_session && graceful && m_phase == Phase::Connected && !m_sendIncomplete)
        libssh2_session_disconnect(m_session, "Closed by client");
    if (m_session)
        Internal::SessionSocket::cutOff(m_session);
    if (m_socket >= 0)
        ::shutdown(m_socket, SHUT_RDWR);
    m_outboundOwner = nullptr;
    const QList<Client *> clients = std::exchange(m_clients, {});
    for (Client *client : clients)
        client->detach(reason);
    // Clean-up tasks that only free go with the rest; finishing an open is pointless now.
    for (const Cleanup &cleanup : std::exchange(m_cleanups, {})) {
        if (cleanup.freesOnly)
            m_leftovers.append(cleanup.run);
    }
    m_channelOpener = nullptr;
    m_channelsInUse = 0;
    m_commandRunner = nullptr;
    m_knownHosts.reset();
    if (m_session) {
        // Without a socket every step of a free fails at once; a call that still answers
        // EAGAIN after a few tries is stuck for good (libssh2 1.11 is, after a connection died
        // under a transfer), and blocking mode would only spin until its timeout, seconds.
        const auto finish = [](const std::function<int()> &free) {
            int rc = LIBSSH2_ERROR_EAGAIN;
            for (int attempt = 0; attempt < kFreeAttempts && rc == LIBSSH2_ERROR_EAGAIN; ++attempt)
                rc = free();
            return rc;
        };
        for (const auto &free : std::exchange(m_leftovers, {}))
            finish(free);
        if (finish([this] { return libssh2_session_free(m_session); }) == LIBSSH2_ERROR_EAGAIN)
            qCDebug(lcSsh) << "libssh2 could not free the session of the lost connection";
        m_session = nullptr;
    }
    m_leftovers.clear();
    // Closed only now: closing at once, with the server's last bytes unread, would answer them
    // with a reset rather than let the server see the connection end.
    if (m_socket >= 0) {
        ::close(m_socket);
        m_socket = -1;
    }
    m_phase = Phase::Unconnected;
    m_awaitingReply = false;
    m_sendIncomplete = false;
    m_readPaused = false;
    m_wantDirections = 0;
}

void SshSession::noteInbound(qint64 bytes)
{
    m_inboundBytes += quint64(bytes);
    m_sinceInbound.start();
}

ssize_t SshSession::sendCallback(libssh2_socket_t socket, const void *buffer, size_t length,
                                 int flags, void **abstract)
{
    auto *const self = static_cast<SshSession *>(*abstract);
    const ssize_t n = ::send(socket, buffer, length, flags);
    if (n < 0) {
        const int error = errno;
        if (error == EAGAIN || error == EWOULDBLOCK)
            self->m_sendIncomplete = true; // libssh2 keeps the packet and must finish it first
        return -error;
    }
    self->m_sendIncomplete = size_t(n) < length;
    return n;
}

ssize_t SshSession::recvCallback(libssh2_socket_t socket, void *buffer, size_t length, int flags,
                                 void **abstract)
{
    const ssize_t n = ::recv(socket, buffer, length, flags);
    if (n < 0)
        return -errno; // libssh2 expects the negated errno, as its own receive function gives
    if (n > 0)
        static_cast<SshSession *>(*abstract)->noteInbound(n);
    return n;
}

} // namespace QSsh
