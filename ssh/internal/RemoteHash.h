#pragma once

#include "SftpJob.h"
#include "Sha256.h"

#include <QByteArray>
#include <QString>

#include <memory>

namespace QSsh::Internal {

// The SHA-256 of a remote file, worked out for a job that holds an SFTP session: by the
// controller's sha256sum on a command channel of its own, or, where that gives no hash (no
// sha256sum, the channel refused), by reading the file back through the job's SFTP session
// and hashing it here.
//
// The command is a constant: the path reaches sha256sum as data, written to the command's
// input and ended by a NUL byte, so that no name is ever parsed by a shell.
//
// A file known to fit in one read is read back straight away: that costs a round trip or two
// on the job's own SFTP session, where a command costs a channel of its own, opened and closed,
// and waits its turn behind the commands of other jobs (a batch of small uploads would hash
// one file at a time). Both read the bytes the controller stored. Cheaper still, a job that
// holds the file open for reading reads it back through its own handle, which stays the job's.
class RemoteCommand;

class RemoteHash
{
    Q_GADGET
public:
    enum class Phase { Command, OpenFile, ReadFile, CloseFile, Done };
    Q_ENUM(Phase)

    static constexpr char kCommand[] = "xargs -0 -r sha256sum --";
    // Files up to this size are read back rather than hashed by a command.
    static constexpr qint64 kReadBackLimit = 256 * 1024;

    // knownSize: the file's size where the caller knows it, else -1.
    RemoteHash(SftpJob &job, const QString &path, qint64 knownSize = -1);
    // Reads from the start of the file through openHandle, which the caller keeps and closes.
    RemoteHash(SftpJob &job, const QString &path, LIBSSH2_SFTP_HANDLE *openHandle);
    ~RemoteHash();
    RemoteHash(const RemoteHash &) = delete;
    RemoteHash &operator=(const RemoteHash &) = delete;

    // One bounded step; Done once the digest, a failure or the cancellation is settled.
    SftpJob::Result step();
    // Stops at the next point where nothing is left half done; the hash then ends cancelled.
    void cancel() { m_cancelRequested = true; }
    // Frees the channel and the file handle (see SftpJob::releaseHandle()).
    void release(bool immediately);

    bool isCancelled() const { return m_cancelled; }
    QString error() const { return m_error; }
    QByteArray digest() const { return m_digest; }
    bool readBack() const { return m_readBack; }

    // The digest in the last line sha256sum printed (32 bytes), or empty. GNU sha256sum puts
    // a backslash before the line when it had to escape the name.
    static QByteArray digestFromOutput(const QByteArray &output);

private:
    void setPhase(Phase next) { m_job.changePhase(m_phase, next); }
    SftpJob::Result stepCommand();
    // The controller gave no hash: read the file back instead.
    SftpJob::Result fallBack(const QString &why);
    SftpJob::Result stepReadBack();
    SftpJob::Result readFile();
    void stopForCancel();

    SftpJob &m_job;
    const QString m_path;
    Phase m_phase = Phase::Command;
    std::unique_ptr<RemoteCommand> m_command;
    LIBSSH2_SFTP_HANDLE *m_handle = nullptr;
    bool m_borrowedHandle = false;
    Sha256 m_readBackHash;
    QByteArray m_buffer;
    QByteArray m_digest;
    QString m_error;
    bool m_readBack = false;
    bool m_cancelRequested = false;
    bool m_cancelled = false;
};

} // namespace QSsh::Internal
