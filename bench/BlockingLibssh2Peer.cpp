#include "BlockingLibssh2Peer.h"

#include <QElapsedTimer>
#include <QFile>
#include <QScopeGuard>

#include <arpa/inet.h>
#include <libssh2.h>
#include <libssh2_sftp.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <vector>

namespace Bench {

namespace {

constexpr size_t kBufferSize = 1024 * 1024;

QString sessionError(LIBSSH2_SESSION *session)
{
    char *message = nullptr;
    libssh2_session_last_error(session, &message, nullptr, 0);
    return QString::fromLocal8Bit(message ? message : "unknown error");
}

} // namespace

qint64 blockingLibssh2Transfer(const QString &address, const QString &password, Direction direction,
                               const QString &localPath, const QString &remotePath, QString *error)
{
    libssh2_init(0);
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_port = htons(22);
    if (inet_pton(AF_INET, address.toLatin1().constData(), &peer.sin_addr) != 1) {
        *error = QStringLiteral("not an IPv4 address: ") + address;
        return -1;
    }
    const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const auto closeSocket = qScopeGuard([socket] { ::close(socket); });
    const int on = 1;
    ::setsockopt(socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    if (::connect(socket, reinterpret_cast<const sockaddr *>(&peer), sizeof peer) != 0) {
        *error = QStringLiteral("cannot connect to ") + address;
        return -1;
    }
    LIBSSH2_SESSION *const session = libssh2_session_init();
    const auto freeSession = qScopeGuard([session] {
        libssh2_session_disconnect(session, "done");
        libssh2_session_free(session);
    });
    const QByteArray secret = password.toUtf8();
    if (libssh2_session_handshake(session, socket) != 0 ||
        libssh2_userauth_password(session, "root", secret.constData()) != 0) {
        *error = sessionError(session);
        return -1;
    }
    LIBSSH2_SFTP *const sftp = libssh2_sftp_init(session);
    if (!sftp) {
        *error = sessionError(session);
        return -1;
    }
    const auto shutdownSftp = qScopeGuard([sftp] { libssh2_sftp_shutdown(sftp); });

    const bool upload = direction == Direction::Upload;
    QFile local(localPath);
    const QByteArray remote = remotePath.toUtf8();
    if (!local.open(upload ? QIODevice::ReadOnly : QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = local.errorString();
        return -1;
    }
    std::vector<char> buffer(kBufferSize);
    QElapsedTimer clock;
    clock.start();
    LIBSSH2_SFTP_HANDLE *const handle = libssh2_sftp_open(
        sftp, remote.constData(),
        upload ? LIBSSH2_FXF_WRITE | LIBSSH2_FXF_CREAT | LIBSSH2_FXF_TRUNC : LIBSSH2_FXF_READ,
        0644);
    if (!handle) {
        *error = sessionError(session);
        return -1;
    }
    bool failed = false;
    if (upload) {
        for (qint64 n; !failed && (n = local.read(buffer.data(), qint64(buffer.size()))) > 0;) {
            for (const char *p = buffer.data(); !failed && n > 0;) {
                const ssize_t sent = libssh2_sftp_write(handle, p, size_t(n));
                failed = sent < 0;
                p += sent;
                n -= sent;
            }
        }
    } else {
        ssize_t n;
        while ((n = libssh2_sftp_read(handle, buffer.data(), buffer.size())) > 0)
            failed = failed || local.write(buffer.data(), n) != n;
        failed = failed || n < 0;
    }
    if (failed)
        *error = sessionError(session);
    failed = libssh2_sftp_close_handle(handle) != 0 || failed;
    local.close();
    return failed ? -1 : clock.elapsed();
}

} // namespace Bench
