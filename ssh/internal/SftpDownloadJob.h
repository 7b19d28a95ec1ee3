#pragma once

#include "SftpFetchJob.h"

#include <QByteArray>
#include <QFuture>
#include <QFutureWatcher>
#include <QSaveFile>

namespace QSsh::Internal {

// Downloads a remote file into a temporary file beside the local target (QSaveFile), which
// replaces the target only when every byte has arrived: an interrupted or failed download
// leaves an existing target exactly as it was. Only regular files are downloaded.
class SftpDownloadJob : public SftpFetchJob
{
public:
    SftpDownloadJob(SftpJobId id, const QString &remotePath, const QString &localPath,
                    bool overwrite);
    ~SftpDownloadJob() override;
    bool isFileTransfer() const override { return true; }
    void abandon(const QString &reason) override;

private:
    Result stepOwnPhase() override;
    QString takeRemoteSize(qint64 size) override;
    void prepareReading() override;
    void dropData() override;
    // A cancel that came while the handle was closing is taken up here, before the commit.
    Result complete() override;
    Result openLocal();
    Result read();
    QString localWriteError() const;
    // The commit syncs the file to disk, which can take a while after a large download: it
    // runs in a thread of the pool, and the job goes on once it has ended.
    void startCommit();
    Result awaitCommit();

    QSaveFile m_local;
    const bool m_overwrite;
    QByteArray m_buffer;
    qint64 m_expectedSize = -1;
    qint64 m_received = 0;
    qint64 m_writeBackStart = 0;
    QFuture<QString> m_commit; // its failure text, empty on success
    QFutureWatcher<QString> m_commitWatcher;
};

} // namespace QSsh::Internal
