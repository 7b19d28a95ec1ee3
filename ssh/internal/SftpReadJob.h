#pragma once

#include "SftpFetchJob.h"

#include <QByteArray>

namespace QSsh::Internal {

// Reads a remote file into memory, up to a size limit: a larger file ends the job with an
// error before its data is fetched (or as soon as it is seen to grow past the limit). Nothing
// is written anywhere. A cancelled read closes its handle and ends with an error.
class SftpReadJob : public SftpFetchJob
{
public:
    SftpReadJob(SftpJobId id, const QString &remotePath, qint64 maxSize);
    void abandon(const QString &reason) override;

    // The file's contents once the job has succeeded, empty otherwise.
    QByteArray data() const { return m_error.isEmpty() ? m_data : QByteArray(); }
    // The size the controller reported, or the bytes seen when it reported none; -1 unknown.
    qint64 fileSize() const { return m_fileSize; }

private:
    Result stepOwnPhase() override;
    QString takeRemoteSize(qint64 size) override;
    void prepareReading() override;
    void dropData() override;
    Result complete() override;
    Result read();
    QString tooLargeText() const;

    const qint64 m_maxSize;
    QByteArray m_data;
    qint64 m_received = 0;
    qint64 m_fileSize = -1;
};

} // namespace QSsh::Internal
