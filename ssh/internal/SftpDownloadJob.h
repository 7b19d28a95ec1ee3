#pragma once

#include "LocalFileWriter.h"
#include "SftpFetchJob.h"

#include <QByteArray>

namespace QSsh::Internal {

// Downloads a remote file into a temporary file beside the local target (QSaveFile), which
// replaces the target only when every byte has arrived: an interrupted or failed download
// leaves an existing target exactly as it was. Only regular files are downloaded. The local
// file is written, synced and committed on a thread of its own (LocalFileWriter). A verifying
// download hashes the data as it arrives and commits only when that matches the controller's
// hash of the remote file.
class SftpDownloadJob : public SftpFetchJob
{
public:
    SftpDownloadJob(SftpJobId id, const QString &remotePath, const QString &localPath,
                    bool overwrite);
    bool isFileTransfer() const override { return true; }
    void abandon(const QString &reason) override;

private:
    Result stepOwnPhase() override;
    QString takeRemoteSize(qint64 size) override;
    void prepareReading() override;
    void dropData() override;
    // A cancel that came while the handle was closing is taken up here, before the commit.
    Result complete() override;
    bool localWorkFinished() const override { return m_writer.isFinished(); }
    Result openLocal();
    Result read();
    Result verify();
    Result awaitCommit();

    LocalFileWriter m_writer;
    const bool m_overwrite;
    QByteArray m_buffer;
    qint64 m_expectedSize = -1;
    qint64 m_received = 0;
    int m_readSize = 0; // asked of each read call
};

} // namespace QSsh::Internal
