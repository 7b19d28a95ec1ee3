#include "FolderJobs.h"

#include "WorkerJobTable.h"

#include <QDir>
#include <QLoggingCategory>
#include <QMap>

Q_DECLARE_LOGGING_CATEGORY(lcConnection)

FolderJobs::FolderJobs(WorkerJobTable &jobs, Hooks hooks, QObject *parent)
    : QObject(parent), m_jobs(jobs), m_hooks(std::move(hooks))
{}

QSsh::SftpJobId
FolderJobs::startListing(const QString &remotePath,
                         std::function<void(const QSsh::SftpTree &, const QString &)> answer)
{
    const auto sftp = m_hooks.readyChannel();
    const QSsh::SftpJobId job = sftp ? sftp->listTree(remotePath) : QSsh::SftpInvalidJob;
    const bool started =
        m_jobs.addOwnJob(sftp.data(), job, [this, job, answer](const QString &error) {
            answer(m_trees.take(job), error);
        });
    return started ? job : QSsh::SftpInvalidJob;
}

void FolderJobs::keepTree(const QObject *channel, QSsh::SftpJobId job,
                          const QSsh::SftpTree &entries)
{
    if (m_jobs.isOwnJob(channel, job))
        m_trees.insert(job, entries);
}

void FolderJobs::listTree(quint64 request, const QString &remotePath)
{
    const QSsh::SftpJobId job = startListing(
        remotePath, [this, request](const QSsh::SftpTree &entries, const QString &error) {
            if (m_listings.remove(request))
                emit treeListed(request, entries, error);
        });
    if (job == QSsh::SftpInvalidJob) {
        qCWarning(lcConnection).noquote() << "SFTP channel not ready for listing" << remotePath;
        emit treeListed(request, {}, tr("SFTP channel not ready."));
        return;
    }
    qCDebug(lcConnection).noquote() << "Listing remote tree" << remotePath;
    m_listings.insert(request, job);
}

void FolderJobs::dropListing(quint64 request)
{
    const QSsh::SftpJobId job = m_listings.take(request);
    const auto sftp = m_hooks.readyChannel();
    if (job != QSsh::SftpInvalidJob && sftp && m_jobs.isOwnJob(sftp.data(), job))
        sftp->cancelJob(job);
}

void FolderJobs::uploadTree(const QStringList &remoteFolders, const QStringList &localFiles,
                            const QStringList &remoteFiles)
{
    auto batch = std::make_shared<Batch>();
    batch->localFiles = localFiles;
    batch->remoteFiles = remoteFiles;
    m_pending.append(batch);
    qCDebug(lcConnection).noquote()
        << "Folder upload:" << remoteFolders.size() << "folders," << localFiles.size() << "files";
    makeRemoteFolders(remoteFolders, [this, batch](const QString &error) {
        m_pending.removeAll(batch);
        sendBatch(batch, error);
    });
}

void FolderJobs::sendBatch(const std::shared_ptr<Batch> &batch, const QString &error)
{
    for (int i = 0; i < batch->localFiles.size(); ++i) {
        const QString &remote = batch->remoteFiles.at(i);
        if (batch->cancelled)
            m_hooks.fileFailed(tr("Cancelled before it was sent: %1").arg(remote));
        else if (!error.isEmpty())
            m_hooks.fileFailed(tr("Not sent: %1 (%2)").arg(remote, error));
        else
            m_hooks.uploadFile(batch->localFiles.at(i), remote);
    }
}

void FolderJobs::cancelPending()
{
    for (const std::shared_ptr<Batch> &batch : qAsConst(m_pending))
        batch->cancelled = true;
}

void FolderJobs::makeRemoteFolders(QStringList folders, Done done)
{
    if (folders.isEmpty()) {
        done(QString());
        return;
    }
    // The folders of one depth do not depend on each other: one round trip for all of them.
    const int depth = folders.first().count(QLatin1Char('/'));
    QStringList level;
    while (!folders.isEmpty() && folders.first().count(QLatin1Char('/')) == depth)
        level << folders.takeFirst();

    struct Level
    {
        int outstanding = 0;
        QString error;
    };
    auto state = std::make_shared<Level>();
    state->outstanding = level.size();
    const auto folderDone = [this, state, folders, done](const QString &error) {
        if (state->error.isEmpty())
            state->error = error;
        if (--state->outstanding > 0)
            return;
        if (state->error.isEmpty())
            makeRemoteFolders(folders, done);
        else
            done(state->error);
    };
    const auto sftp = m_hooks.readyChannel();
    for (const QString &folder : qAsConst(level)) {
        const QSsh::SftpJobId job = sftp ? sftp->createDirectory(folder) : QSsh::SftpInvalidJob;
        const bool started =
            m_jobs.addOwnJob(sftp.data(), job, [this, folder, folderDone](const QString &error) {
                if (error.isEmpty()) {
                    m_hooks.folderMade(folder, QString());
                    folderDone(QString());
                } else {
                    acceptExistingFolder(folder, error, folderDone);
                }
            });
        if (!started)
            folderDone(tr("SFTP channel not ready."));
    }
}

void FolderJobs::acceptExistingFolder(const QString &folder, const QString &error, Done done)
{
    // A folder that is there already was not made by this batch: no record of it.
    const auto failed = [this, folder, error, done] {
        m_hooks.folderMade(folder, error);
        done(error);
    };
    const QSsh::SftpJobId job =
        startListing(folder, [done, failed](const QSsh::SftpTree &entries, const QString &) {
            const bool isFolder =
                !entries.isEmpty() && entries.first().kind == QSsh::SftpTreeEntry::Kind::Folder;
            if (isFolder)
                done(QString());
            else
                failed();
        });
    if (job == QSsh::SftpInvalidJob)
        failed();
}

void FolderJobs::downloadTree(const QStringList &localFolders, const QStringList &remoteFiles,
                              const QStringList &localFiles)
{
    QString error;
    for (const QString &folder : localFolders) {
        if (!QDir().mkpath(folder)) {
            error = tr("Cannot create the local folder %1").arg(QDir::toNativeSeparators(folder));
            break;
        }
    }
    for (int i = 0; i < remoteFiles.size(); ++i) {
        if (error.isEmpty())
            m_hooks.downloadFile(remoteFiles.at(i), localFiles.at(i));
        else
            m_hooks.fileFailed(tr("Not downloaded: %1 (%2)").arg(remoteFiles.at(i), error));
    }
}
