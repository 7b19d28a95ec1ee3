#pragma once

#include "HistoryEvent.h"
#include "SshTypes.h"

#include <QHash>
#include <QObject>
#include <QString>

class OperationHistory;

// Follows the worker's file operations from request to end and writes each, with a transfer's
// verification, to the controller's history; reports each transfer's check for the log.
// Lives in the worker's thread.
class OperationRecorder : public QObject
{
    Q_OBJECT
public:
    using Operation = HistoryEvent::Operation;

    OperationRecorder(const QString &address, QObject *parent);

    // The key the controller showed on the present connection, for the records that follow.
    void setHostKey(const QString &key) { m_hostKey = key; }

    // job of channel has started. A transfer checks its content when verify is set.
    void started(const QObject *channel, QSsh::SftpJobId job, Operation operation,
                 const QString &remotePath, const QString &localPath = QString(), qint64 size = -1,
                 bool verify = false);
    void cancelling(QSsh::SftpJobId job);
    void verified(QSsh::SftpJobId job, const QSsh::SftpVerification &result);
    void finished(const QObject *channel, QSsh::SftpJobId job, const QString &error);
    // The jobs of a channel that went with the connection.
    void forgetChannel(const QObject *channel);
    // An operation that has ended outside any tracked job (a rename, answered by itself).
    void record(Operation operation, const QString &remotePath, const QString &newRemotePath,
                const QString &error);
    // A request that went to the shell instead: its outcome shows in the window's log only.
    void sentToShell(Operation operation, const QString &remotePath);

signals:
    // After the transfer's own report: its content checked (a Mismatch failed it) ...
    void transferVerified(QSsh::SftpJobId job, const QString &name,
                          const QSsh::SftpVerification &result);
    // ... or a successful transfer that was not checked, verification being off.
    void transferUnverified(QSsh::SftpJobId job, const QString &name);
    // The history file cannot be written; said once.
    void historyUnwritable(const QString &reason);

private:
    struct Pending
    {
        const QObject *channel = nullptr;
        Operation operation = Operation::Upload;
        QString remotePath;
        QString localPath;
        qint64 size = -1;
        bool verify = false;
        bool cancelled = false;
        bool checked = false;
        QSsh::SftpVerification check;
    };

    void write(Operation operation, const QString &remotePath, const QString &newRemotePath,
               const QString &localPath, qint64 size, const QByteArray &sha256,
               HistoryEvent::Outcome outcome, const QString &detail);
    void finish(QSsh::SftpJobId job, const Pending &pending, const QString &error);

    OperationHistory *const m_history;
    const QString m_address;
    QString m_hostKey;
    QHash<QSsh::SftpJobId, Pending> m_pending;
};
