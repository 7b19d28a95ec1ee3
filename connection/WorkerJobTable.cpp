#include "WorkerJobTable.h"

bool WorkerJobTable::addOwnJob(const QObject *channel, QSsh::SftpJobId job, Answer answer)
{
    if (job == QSsh::SftpInvalidJob)
        return false;
    m_ownJobs.insert(job, {channel, std::move(answer)});
    return true;
}

WorkerJobTable::Answer WorkerJobTable::takeOwnJob(const QObject *channel, QSsh::SftpJobId job)
{
    const auto own = m_ownJobs.find(job);
    if (own == m_ownJobs.end() || own->channel != channel)
        return {};
    Answer answer = std::move(own->answer);
    m_ownJobs.erase(own);
    return answer;
}

bool WorkerJobTable::isOwnJob(const QObject *channel, QSsh::SftpJobId job) const
{
    const auto own = m_ownJobs.constFind(job);
    return own != m_ownJobs.constEnd() && own->channel == channel;
}

QList<QSsh::SftpJobId> WorkerJobTable::transfersOf(const QObject *channel) const
{
    QList<QSsh::SftpJobId> jobs;
    for (auto it = m_transfers.cbegin(); it != m_transfers.cend(); ++it) {
        if (it.value() == channel)
            jobs.append(it.key());
    }
    return jobs;
}

QList<WorkerJobTable::Answer> WorkerJobTable::forgetChannel(const QObject *channel)
{
    for (auto it = m_transfers.begin(); it != m_transfers.end();)
        it = it.value() == channel ? m_transfers.erase(it) : std::next(it);
    QList<Answer> unanswered;
    for (auto it = m_ownJobs.begin(); it != m_ownJobs.end();) {
        if (it->channel == channel) {
            unanswered.append(std::move(it->answer));
            it = m_ownJobs.erase(it);
        } else {
            ++it;
        }
    }
    return unanswered;
}

void WorkerJobTable::addRemoteRead(QSsh::SftpJobId job, quint64 request, bool hash)
{
    m_remoteReads.insert(job, RemoteRead{request, {}, -1, false, hash});
}

void WorkerJobTable::keepReadData(const QObject *channel, QSsh::SftpJobId job,
                                  const QByteArray &data, qint64 fileSize)
{
    if (!isOwnJob(channel, job))
        return;
    RemoteRead &read = m_remoteReads[job];
    read.data = data;
    read.fileSize = fileSize;
}

QSsh::SftpJobId WorkerJobTable::dropRemoteRead(quint64 request)
{
    for (auto it = m_remoteReads.begin(); it != m_remoteReads.end(); ++it) {
        if (it->request == request && !it->dropped && !it->hash) {
            it->dropped = true;
            return it.key();
        }
    }
    return QSsh::SftpInvalidJob;
}
