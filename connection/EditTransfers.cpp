#include "EditTransfers.h"

#include <QFileInfo>
#include <QLoggingCategory>

Q_DECLARE_LOGGING_CATEGORY(lcConnection)

EditTransfers::EditTransfers(ReadyChannel readyChannel, Announce announce, QObject *parent)
    : QObject(parent), m_readyChannel(std::move(readyChannel)), m_announce(std::move(announce))
{}

void EditTransfers::download(quint64 request, QString remotePath, QString localPath)
{
    start(request, HistoryEvent::Operation::Download, remotePath, localPath);
}

void EditTransfers::upload(quint64 request, QString localPath, QString remotePath)
{
    start(request, HistoryEvent::Operation::Upload, remotePath, localPath);
}

void EditTransfers::start(quint64 request, HistoryEvent::Operation operation,
                          const QString &remotePath, const QString &localPath)
{
    const auto sftp = m_readyChannel();
    if (!sftp) {
        emit started(request, QSsh::SftpInvalidJob, tr("SFTP channel not ready."));
        return;
    }
    const bool upload = operation == HistoryEvent::Operation::Upload;
    // The setting is taken by each job as it is created, and by its record as it is announced.
    const bool verifying = sftp->verifiesTransfers();
    sftp->setVerifyTransfers(true);
    const QSsh::SftpJobId job =
        upload ? sftp->uploadFile(localPath, remotePath, QSsh::SftpOverwriteExisting)
               : sftp->downloadFile(remotePath, localPath, QSsh::SftpOverwriteExisting);
    if (job != QSsh::SftpInvalidJob) {
        qCDebug(lcConnection).noquote()
            << "Edit transfer for request" << request << "as job" << job << remotePath;
        emit started(request, job, QString());
        m_announce(sftp.data(), job, operation, remotePath, localPath,
                   upload ? quint64(qMax<qint64>(0, QFileInfo(localPath).size())) : 0);
    }
    sftp->setVerifyTransfers(verifying);
    if (job == QSsh::SftpInvalidJob)
        emit started(request, job, tr("Failed to create the transfer."));
}
