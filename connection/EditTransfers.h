#pragma once

#include "HistoryEvent.h"
#include "SftpChannel.h"
#include "SshTypes.h"

#include <QObject>
#include <QSharedPointer>
#include <QString>

#include <functional>

// The connection worker's transfers of files edited in place: the download of a controller's
// file into its working copy and the uploads of its saves. Each is an ordinary transfer (its
// progress, its log line, its history) that is verified whatever the window's setting says;
// its job id goes to the requester, by the requester's number, before anything of the job can
// be reported. Lives in the worker's thread; the requester connects to it directly.
class EditTransfers : public QObject
{
    Q_OBJECT
public:
    using ReadyChannel = std::function<QSharedPointer<QSsh::SftpChannel>()>;
    // Makes a started job one of the worker's transfers, as its own uploads and downloads are.
    using Announce =
        std::function<void(QSsh::SftpChannel *, QSsh::SftpJobId, HistoryEvent::Operation,
                           const QString &remotePath, const QString &localPath, quint64 size)>;

    EditTransfers(ReadyChannel readyChannel, Announce announce, QObject *parent = nullptr);

public slots:
    void download(quint64 request, QString remotePath, QString localPath);
    void upload(quint64 request, QString localPath, QString remotePath);

signals:
    // The job whose sftpJobFinished and sftpTransferVerified follow from the worker; or
    // SftpInvalidJob and the reason when none could start.
    void started(quint64 request, QSsh::SftpJobId job, QString error);

private:
    void start(quint64 request, HistoryEvent::Operation operation, const QString &remotePath,
               const QString &localPath);

    const ReadyChannel m_readyChannel;
    const Announce m_announce;
};
