#pragma once

#include "SshTypes.h"

#include <QObject>
#include <QString>

namespace QSsh {

class SshSession;

// An SFTP channel. Jobs run concurrently and interleave with other traffic of the
// connection; each started job ends with exactly one finished(job, error), the error
// empty on success and never empty on failure.
//
// Transfers never leave a truncated target: an upload writes a temporary file beside the
// target and renames it over the target once complete; a download writes a temporary local
// file and renames it over the target once complete.
class SftpChannel : public QObject
{
    Q_OBJECT
public:
    enum State { Closed = 0, Initializing = 1, Initialized = 2, Closing = 3 };
    Q_ENUM(State)

    ~SftpChannel() override;

    // Thread-safe: may be called from any thread.
    State state() const;

    void initialize();
    void closeChannel();

    SftpJobId uploadFile(const QString &localFilePath, const QString &remoteFilePath,
                         SftpOverwriteMode mode);
    SftpJobId downloadFile(const QString &remoteFilePath, const QString &localFilePath,
                           SftpOverwriteMode mode);
    SftpJobId removeFile(const QString &path);
    SftpJobId removeDirectory(const QString &path);
    SftpJobId createDirectory(const QString &path);
    // Reads a remote file into memory: fileRead(job, data, size) and then finished(job, error).
    // A file larger than maxSize fails without being fetched.
    SftpJobId readFile(const QString &remoteFilePath, qint64 maxSize);
    // Ends a read early; its finished(job, error) still comes, with an error. Unknown and
    // finished jobs are ignored.
    void cancelRead(SftpJobId job);

signals:
    void initialized();
    void channelError(const QString &reason);
    void closed();
    void finished(QSsh::SftpJobId job, const QString &error = QString());
    // The end of a readFile job, just before its finished(): the contents on success (else
    // empty) and the file's size as far as it is known (-1 when not).
    void fileRead(QSsh::SftpJobId job, const QByteArray &data, qint64 fileSize);

private:
    friend class SshSession;
    explicit SftpChannel(SshSession *session);
    class Private;
    Private *d;
};

} // namespace QSsh
