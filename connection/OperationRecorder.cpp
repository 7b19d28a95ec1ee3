#include "OperationRecorder.h"

#include "OperationHistory.h"

#include <QFileInfo>

namespace {

using Outcome = HistoryEvent::Outcome;

QString fileName(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

OperationRecorder::OperationRecorder(const QString &address, QObject *parent)
    : QObject(parent), m_history(new OperationHistory(address, this)), m_address(address)
{
    connect(m_history, &OperationHistory::unwritable, this, &OperationRecorder::historyUnwritable);
}

void OperationRecorder::started(const QObject *channel, QSsh::SftpJobId job, Operation operation,
                                const QString &remotePath, const QString &localPath, qint64 size,
                                bool verify)
{
    Pending &pending = m_pending[job];
    pending.channel = channel;
    pending.operation = operation;
    pending.remotePath = remotePath;
    pending.localPath = localPath;
    pending.size = size;
    pending.verify = verify;
}

void OperationRecorder::cancelling(QSsh::SftpJobId job)
{
    const auto it = m_pending.find(job);
    if (it != m_pending.end())
        it->cancelled = true;
}

void OperationRecorder::verified(QSsh::SftpJobId job, const QSsh::SftpVerification &result)
{
    const auto it = m_pending.find(job);
    if (it == m_pending.end())
        return;
    it->checked = true;
    it->check = result;
}

void OperationRecorder::finished(const QObject *channel, QSsh::SftpJobId job, const QString &error)
{
    const auto it = m_pending.find(job);
    if (it == m_pending.end() || it->channel != channel)
        return;
    const Pending pending = *it;
    m_pending.erase(it);
    finish(job, pending, error);
}

void OperationRecorder::forgetChannel(const QObject *channel)
{
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (it->channel != channel) {
            ++it;
            continue;
        }
        const QSsh::SftpJobId job = it.key();
        const Pending pending = *it;
        it = m_pending.erase(it);
        finish(job, pending, tr("The connection to the controller was lost."));
    }
}

void OperationRecorder::record(Operation operation, const QString &remotePath,
                               const QString &newRemotePath, const QString &error)
{
    write(operation, remotePath, newRemotePath, QString(), -1, QByteArray(),
          error.isEmpty() ? Outcome::Succeeded : Outcome::Failed, error);
}

void OperationRecorder::sentToShell(Operation operation, const QString &remotePath)
{
    write(operation, remotePath, QString(), QString(), -1, QByteArray(), Outcome::Sent,
          tr("Typed into the controller's shell; its outcome is in the window's log."));
}

void OperationRecorder::finish(QSsh::SftpJobId job, const Pending &pending, const QString &error)
{
    const bool transfer =
        pending.operation == Operation::Upload || pending.operation == Operation::Download;
    qint64 size = pending.size;
    if (pending.operation == Operation::Download && error.isEmpty())
        size = QFileInfo(pending.localPath).size();
    const Outcome outcome = error.isEmpty()     ? Outcome::Succeeded
                            : pending.cancelled ? Outcome::Cancelled
                                                : Outcome::Failed;
    write(pending.operation, pending.remotePath, QString(), pending.localPath, size,
          pending.checked ? pending.check.localSha256 : QByteArray(), outcome, error);
    if (!transfer)
        return;

    const QString name = fileName(pending.remotePath);
    if (pending.checked) {
        const bool match = pending.check.outcome == QSsh::SftpVerification::Outcome::Verified;
        QString detail = pending.check.readBack
                             ? tr("The controller's copy was read back and hashed here.")
                             : QString();
        if (!match)
            detail = tr("The controller's copy has SHA-256 %1.")
                         .arg(QString::fromLatin1(pending.check.remoteSha256.toHex()));
        write(Operation::Verify, pending.remotePath, QString(), pending.localPath, size,
              pending.check.localSha256, match ? Outcome::Verified : Outcome::Mismatch, detail);
        emit transferVerified(job, name, pending.check);
    } else if (error.isEmpty() && !pending.verify) {
        write(Operation::Verify, pending.remotePath, QString(), pending.localPath, size,
              QByteArray(), Outcome::Unverified, tr("Verification is switched off."));
        emit transferUnverified(job, name);
    }
}

void OperationRecorder::write(Operation operation, const QString &remotePath,
                              const QString &newRemotePath, const QString &localPath, qint64 size,
                              const QByteArray &sha256, Outcome outcome, const QString &detail)
{
    HistoryEvent event;
    event.address = m_address;
    event.hostKey = m_hostKey;
    event.operation = operation;
    event.remotePath = remotePath;
    event.newRemotePath = newRemotePath;
    event.localPath = localPath;
    event.size = size;
    event.sha256 = QString::fromLatin1(sha256.toHex());
    event.outcome = outcome;
    event.detail = detail;
    m_history->record(event);
}
