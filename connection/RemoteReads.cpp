#include "RemoteReads.h"

#include "WorkerJobTable.h"

#include <QLoggingCategory>

#include <atomic>

Q_DECLARE_LOGGING_CATEGORY(lcConnection)

RemoteReads::RemoteReads(WorkerJobTable &jobs, ReadyChannel readyChannel, QObject *parent)
    : QObject(parent), m_jobs(jobs), m_readyChannel(std::move(readyChannel))
{}

quint64 RemoteReads::nextRequest()
{
    static std::atomic<quint64> next{1};
    return next++;
}

void RemoteReads::read(quint64 request, const QString &remotePath, qint64 maxSize)
{
    const auto sftp = m_readyChannel();
    start(sftp.data(), sftp ? sftp->readFile(remotePath, maxSize) : QSsh::SftpInvalidJob, request,
          false);
}

void RemoteReads::hash(quint64 request, const QString &remotePath)
{
    const auto sftp = m_readyChannel();
    start(sftp.data(), sftp ? sftp->hashFile(remotePath) : QSsh::SftpInvalidJob, request, true);
}

void RemoteReads::start(const QObject *channel, QSsh::SftpJobId job, quint64 request, bool hash)
{
    const auto answer = [this, hash](const WorkerJobTable::RemoteRead &read, const QString &error) {
        if (hash)
            emit fileHashed(read.request, read.data, read.fileSize, error);
        else if (!read.dropped)
            emit fileRead(read.request, read.data, read.fileSize, error);
    };
    const bool started = m_jobs.addOwnJob(channel, job, [this, job, answer](const QString &error) {
        answer(m_jobs.takeRemoteRead(job), error);
    });
    if (!started) {
        WorkerJobTable::RemoteRead none;
        none.request = request;
        answer(none, tr("SFTP channel not ready."));
        return;
    }
    qCDebug(lcConnection).noquote() << (hash ? "Hashing" : "Reading") << "remote file for request"
                                    << request << "as job" << job;
    m_jobs.addRemoteRead(job, request, hash);
}

void RemoteReads::dropRead(quint64 request)
{
    const QSsh::SftpJobId job = m_jobs.dropRemoteRead(request);
    if (job == QSsh::SftpInvalidJob)
        return;
    const auto sftp = m_readyChannel();
    if (sftp && m_jobs.isOwnJob(sftp.data(), job))
        sftp->cancelJob(job);
}
