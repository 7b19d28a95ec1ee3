#pragma once

#include <QMetaType>
#include <QtGlobal>

namespace QSsh {

// Identifies one SFTP job of a channel; ids of a channel are unique for its lifetime. Job ids
// start at 2: id 1 is left to requests the connection worker carries out by a shell command.
using SftpJobId = quint32;
constexpr SftpJobId SftpInvalidJob = 0;

enum SshError {
    SshNoError,
    SshSocketError,   // TCP connect failed or the socket broke
    SshTimeoutError,  // connect/handshake/authentication took too long, or the peer went silent
    SshProtocolError, // the SSH handshake or a channel request failed
    SshHostKeyError,  // the host key is not the recorded one, or cannot be checked
    SshAuthenticationError, // the server refused the user name or password
    SshClosedByServerError, // the server closed the connection
    SshInternalError
};

enum SftpOverwriteMode {
    SftpOverwriteExisting, // 0: replace an existing target (atomically, see SftpChannel)
    SftpAppendToExisting,
    SftpSkipExisting
};

// Registers SftpJobId and SshError under the names "QSsh::SftpJobId" and "QSsh::SshError"
// so that they can travel through queued connections. Safe to call any number of times,
// from any thread.
void registerMetaTypes();

} // namespace QSsh

Q_DECLARE_METATYPE(QSsh::SshError)
