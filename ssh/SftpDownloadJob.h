#pragma once

#include "SftpJob.h"

#include <QByteArray>
#include <QFuture>
#include <QFutureWatcher>
#include <QSaveFile>

namespace QSsh::Internal {

// Downloads a remote file into a temporary file beside the local target (QSaveFile), which
// replaces the target only when every byte has arrived: an interrupted or failed download
// leaves an existing target exactly as it was. Only regular files are downloaded.
class SftpDownloadJob : public SftpJob
{
public:
    SftpDownloadJob(SftpJobId id, const QString &remotePath, const QString &localPath,
                    bool overwrite);
    ~SftpDownloadJob() override;
    Result step() override;
    bool isTransfer() const override { return true; }
    bool isFileTransfer() const override { return true; }
    void abandon(const QString &reason) override;
    bool cancel() override;

private:
    enum class Phase { OpenLocal, StatRemote, OpenRemote, Reading, Close, Commit, Done };

    Result stepPhase();
    Result read();
    Result fail(const QString &text);
    // Turns a requested cancel into the clean-up of what the job has made so far. Once the
    // remote handle is closing, the cancel is taken up after the close, before the commit.
    void stopForCancel();
    QString localWriteError() const;
    // The commit syncs the file to disk, which can take a while after a large download: it
    // runs in a thread of the pool, and the job goes on once it has ended.
    void startCommit();
    Result awaitCommit();

    const QString m_remotePath;
    QSaveFile m_local;
    const bool m_overwrite;
    Phase m_phase = Phase::OpenLocal;
    QByteArray m_buffer;
    qint64 m_expectedSize = -1;
    qint64 m_received = 0;
    qint64 m_writeBackStart = 0;
    QFuture<QString> m_commit; // its failure text, empty on success
    QFutureWatcher<QString> m_commitWatcher;
};

} // namespace QSsh::Internal
