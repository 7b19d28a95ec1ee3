#pragma once

#include "SshTypes.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

// The connection worker's books of SFTP jobs, by job id and channel. Job ids are only unique
// within their channel, so every entry remembers the channel that runs it, and a report of
// another channel never settles it.
//
// Own jobs are those whose answer is not sftpJobFinished: a rename, a remote read, the removal
// of an upload's leftover, the recovery of an interrupted replacement. Transfers are the
// uploads and downloads whose progress goes to the window. Remote reads carry the requester's
// number and what the job delivered until it ends.
class WorkerJobTable
{
public:
    // Called with the job's error text, empty on success.
    using Answer = std::function<void(const QString &error)>;

    struct RemoteRead
    {
        quint64 request = 0;
        QByteArray data;
        qint64 fileSize = -1;
        bool dropped = false; // the requester has gone; nothing is sent back
        bool hash = false;    // a hash of the file (data), not its contents
    };

    // Keeps job of channel as one of the worker's own; false for an invalid job.
    bool addOwnJob(const QObject *channel, QSsh::SftpJobId job, Answer answer);
    // The answer of channel's own job, which is forgotten; empty when job is none of them.
    Answer takeOwnJob(const QObject *channel, QSsh::SftpJobId job);
    bool isOwnJob(const QObject *channel, QSsh::SftpJobId job) const;

    void addTransfer(const QObject *channel, QSsh::SftpJobId job)
    {
        m_transfers.insert(job, channel);
    }
    bool isTransfer(QSsh::SftpJobId job) const { return m_transfers.contains(job); }
    void removeTransfer(QSsh::SftpJobId job) { m_transfers.remove(job); }
    QList<QSsh::SftpJobId> transfersOf(const QObject *channel) const;

    // Forgets every job of channel; returns the answers its own jobs are still owed.
    QList<Answer> forgetChannel(const QObject *channel);

    // A read of the file's contents, or of its hash; hashes are never dropped.
    void addRemoteRead(QSsh::SftpJobId job, quint64 request, bool hash = false);
    // Keeps what channel's read job delivered; ignored unless job is that channel's own.
    void keepReadData(const QObject *channel, QSsh::SftpJobId job, const QByteArray &data,
                      qint64 fileSize);
    RemoteRead takeRemoteRead(QSsh::SftpJobId job) { return m_remoteReads.take(job); }
    // Marks the read of request as unwanted; returns its job, SftpInvalidJob when no such read
    // is under way.
    QSsh::SftpJobId dropRemoteRead(quint64 request);

    void setRecoveryOutcome(QSsh::SftpJobId job, QSsh::SftpRecovery outcome)
    {
        m_recoveryOutcomes.insert(job, outcome);
    }
    QSsh::SftpRecovery takeRecoveryOutcome(QSsh::SftpJobId job)
    {
        return m_recoveryOutcomes.take(job);
    }

private:
    struct OwnJob
    {
        const QObject *channel = nullptr;
        Answer answer;
    };
    QHash<QSsh::SftpJobId, OwnJob> m_ownJobs;
    QHash<QSsh::SftpJobId, const QObject *> m_transfers;
    QHash<QSsh::SftpJobId, RemoteRead> m_remoteReads;
    QHash<QSsh::SftpJobId, QSsh::SftpRecovery> m_recoveryOutcomes;
};
