#pragma once

#include "SshTypes.h"

#include <QObject>
#include <QString>
#include <QStringList>

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

    // Remote files that uploads cut short by the loss of the connection may have left behind
    // (their hidden temporaries), for the owner to remove once connected again. Empties the
    // list.
    QStringList takeLeftBehindFiles();

signals:
    void initialized();
    void channelError(const QString &reason);
    void closed();
    void finished(QSsh::SftpJobId job, const QString &error = QString());

private:
    friend class SshSession;
    explicit SftpChannel(SshSession *session);
    class Private;
    Private *d;
};

} // namespace QSsh
