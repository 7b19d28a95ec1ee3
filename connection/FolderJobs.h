#pragma once

#include "SftpChannel.h"
#include "SshTypes.h"

#include <QHash>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

class WorkerJobTable;

// The connection worker's folder work: a remote tree listed for a look at it, and the folders
// of a folder upload or download made before its files go, each file then as a single
// transfer. Lives in the worker's thread; its SFTP jobs are the worker's own (WorkerJobTable).
class FolderJobs : public QObject
{
    Q_OBJECT
public:
    struct Hooks
    {
        std::function<QSharedPointer<QSsh::SftpChannel>()> readyChannel;
        std::function<void(const QString &localPath, const QString &remotePath)> uploadFile;
        std::function<void(const QString &remotePath, const QString &localPath)> downloadFile;
        // A file of a batch that is not sent: reported as a failed job.
        std::function<void(const QString &error)> fileFailed;
        // A folder of a batch was made, or could not be (error): for the history.
        std::function<void(const QString &remotePath, const QString &error)> folderMade;
    };

    FolderJobs(WorkerJobTable &jobs, Hooks hooks, QObject *parent = nullptr);

    void listTree(quint64 request, const QString &remotePath);
    void dropListing(quint64 request);
    // Keeps what a listing job of channel found until its end.
    void keepTree(const QObject *channel, QSsh::SftpJobId job, const QSsh::SftpTree &entries);

    void uploadTree(const QStringList &remoteFolders, const QStringList &localFiles,
                    const QStringList &remoteFiles);
    void downloadTree(const QStringList &localFolders, const QStringList &remoteFiles,
                      const QStringList &localFiles);
    // Cancel was pressed: the batches still making their folders send none of their files.
    void cancelPending();

signals:
    void treeListed(quint64 request, QSsh::SftpTree entries, QString error);

private:
    struct Batch
    {
        QStringList localFiles;
        QStringList remoteFiles;
        bool cancelled = false;
    };
    using Done = std::function<void(const QString &error)>;

    // Makes the folders of one depth side by side, then the next depth; answers once.
    void makeRemoteFolders(QStringList folders, Done done);
    // A folder that could not be made may exist already: fine when it is a folder.
    void acceptExistingFolder(const QString &folder, const QString &error, Done done);
    // Lists remotePath as a job of the worker's own; answer gets the entries and the error.
    // SftpInvalidJob when it cannot start.
    QSsh::SftpJobId
    startListing(const QString &remotePath,
                 std::function<void(const QSsh::SftpTree &, const QString &)> answer);
    void sendBatch(const std::shared_ptr<Batch> &batch, const QString &error);

    WorkerJobTable &m_jobs;
    const Hooks m_hooks;
    QHash<QSsh::SftpJobId, QSsh::SftpTree> m_trees;
    QHash<quint64, QSsh::SftpJobId> m_listings; // by request
    QList<std::shared_ptr<Batch>> m_pending;    // making their folders
};
