#pragma once

#include "SftpChannel.h"
#include "SshTypes.h"

#include <QByteArray>
#include <QObject>
#include <QSharedPointer>
#include <QString>

#include <functional>

class WorkerJobTable;

// The connection worker's looks at remote files, which are no file operations: a file's
// contents read into memory (for a preview) and a file's SHA-256 (for a comparison). Each has
// a requester's number and an answer of its own. Lives in the worker's thread; its SFTP jobs
// are the worker's own (WorkerJobTable).
class RemoteReads : public QObject
{
    Q_OBJECT
public:
    using ReadyChannel = std::function<QSharedPointer<QSsh::SftpChannel>()>;

    RemoteReads(WorkerJobTable &jobs, ReadyChannel readyChannel, QObject *parent = nullptr);

    // A number for a requester's read or hash, unique in the process, so that requesters
    // sharing one worker never take each other's answers. Thread-safe.
    static quint64 nextRequest();

    void read(quint64 request, const QString &remotePath, qint64 maxSize);
    // A read that is no longer wanted stops, and nothing is sent back.
    void dropRead(quint64 request);
    void hash(quint64 request, const QString &remotePath);

signals:
    void fileRead(quint64 request, QByteArray data, qint64 fileSize, QString error);
    void fileHashed(quint64 request, QByteArray sha256, qint64 fileSize, QString error);

private:
    void start(const QObject *channel, QSsh::SftpJobId job, quint64 request, bool hash);

    WorkerJobTable &m_jobs;
    const ReadyChannel m_readyChannel;
};
