#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QVector>
#include <QtGlobal>

namespace QSsh {

// Identifies one SFTP job of a channel; ids of a channel are unique for its lifetime.
using SftpJobId = quint32;
constexpr SftpJobId SftpInvalidJob = 0;
// An id the channel never gives to a job, for callers that report work done outside the
// channel in the same terms (the connection worker, for a request it carries out by a shell
// command).
constexpr SftpJobId SftpReservedJob = 1;

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

// An upload whose connection was lost while it replaced its target the slow way (the target
// renamed aside to backup, then temporary renamed into place): the target's name may be free,
// with the old content under backup and the new one under temporary.
struct SftpInterruptedReplacement
{
    QString target;
    QString backup;
    QString temporary;
};

// What setting an interrupted replacement right found and did.
enum class SftpRecovery {
    Untouched, // the target had not been moved: only the temporary was left, and is removed
    Restored,  // the target's name was free: the old content is back under it
    Completed  // the new content holds the target's name: the old content is removed
};

// One entry of a remote tree as SftpChannel::listTree() reports it. Links are reported as
// links, never followed.
struct SftpTreeEntry
{
    enum class Kind { Folder, File, Link, Other };

    // Relative to the listed path, names joined by '/', carried as remoteNameFromBytes() does;
    // empty for the listed path itself.
    QString path;
    Kind kind = Kind::Other;
    quint64 size = 0;
    QDateTime modified; // UTC; invalid when the server did not say
};
using SftpTree = QVector<SftpTreeEntry>;

// How a transfer's content was checked once it was complete: the SHA-256 of the local side
// against the controller's (from its sha256sum, or from reading its copy back through SFTP:
// small files, and controllers without sha256sum).
struct SftpVerification
{
    enum class Outcome { Verified, Mismatch };

    Outcome outcome = Outcome::Verified;
    QByteArray localSha256;  // 32 bytes
    QByteArray remoteSha256; // 32 bytes
    // The controller's copy was read back through SFTP and hashed here: a small file, or a
    // controller without sha256sum.
    bool readBack = false;
};

// Registers SftpJobId, SshError and SftpRecovery under their names ("QSsh::SftpJobId", ...)
// so that they can travel through queued connections. Safe to call any number of times,
// from any thread.
void registerMetaTypes();

} // namespace QSsh

Q_DECLARE_METATYPE(QSsh::SshError)
Q_DECLARE_METATYPE(QSsh::SftpRecovery)
Q_DECLARE_METATYPE(QSsh::SftpTree)
Q_DECLARE_METATYPE(QSsh::SftpVerification)
