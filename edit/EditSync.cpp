#include "EditSync.h"

#include "CConnectionForSshClient.h"
#include "RemoteReads.h"

#include <QFileInfo>

#include <memory>

EditSync::EditSync(CConnectionForSshClient *worker, QObject *parent)
    : QObject(parent), m_worker(worker)
{
    if (!worker)
        return;
    using Worker = CConnectionForSshClient;
    EditTransfers *transfers = worker->editTransfers();
    connect(this, &EditSync::sigDownload, transfers, &EditTransfers::download);
    connect(this, &EditSync::sigUpload, transfers, &EditTransfers::upload);
    connect(transfers, &EditTransfers::started, this, &EditSync::onStarted);
    connect(this, &EditSync::sigListRemoteTree, worker, &Worker::slotListRemoteTree);
    connect(this, &EditSync::sigHashRemoteFile, worker, &Worker::slotHashRemoteFile);
    connect(worker, &Worker::sigRemoteTreeListed, this, &EditSync::onTreeListed);
    connect(worker, &Worker::sigRemoteFileHashed, this,
            [this](quint64 request, const QByteArray &sha256, qint64, const QString &error) {
                onHashed(request, sha256, error);
            });
    connect(worker, &Worker::sftpJobFinished, this, &EditSync::onJobFinished);
    connect(worker, &Worker::sftpTransferVerified, this,
            [this](QSsh::SftpJobId job, const QString &, const QSsh::SftpVerification &result) {
                onVerified(job, result);
            });
    connect(worker, &Worker::sftpChannelInitialized, this, &EditSync::ready);
    connect(worker, &Worker::sigConnectStateChanged, this, [this](bool connected) {
        if (!connected)
            failAll();
    });
}

bool EditSync::isReady() const
{
    const QSharedPointer<QSsh::SftpChannel> sftp =
        m_worker ? m_worker->getSftpChannel() : QSharedPointer<QSsh::SftpChannel>();
    return sftp && sftp->state() == QSsh::SftpChannel::Initialized;
}

void EditSync::transfer(bool upload, const QString &local, const QString &remote, Finish finish)
{
    const quint64 request = RemoteReads::nextRequest();
    m_starting.insert(request, std::move(finish));
    if (upload)
        emit sigUpload(request, local, remote);
    else
        emit sigDownload(request, remote, local);
}

void EditSync::fetch(EditedFile *file, Done done)
{
    const QPointer<EditedFile> guard = file;
    const QString remotePath = file->remotePath();
    transfer(false, file->workingCopy(), remotePath,
             [this, guard, remotePath, done](const QByteArray &sha256, const QString &error) {
                 if (!error.isEmpty() || !guard)
                     done(error);
                 else
                     recordAfter(guard, remotePath, guard->workingCopy(), sha256, done);
             });
}

void EditSync::send(EditedFile *file, const QString &target, std::function<void()> verified,
                    Done done)
{
    const QPointer<EditedFile> guard = file;
    transfer(true, file->snapshot(), target,
             [this, guard, target, verified, done](const QByteArray &sha256, const QString &error) {
                 if (!error.isEmpty() || !guard) {
                     done(error);
                     return;
                 }
                 verified();
                 recordAfter(guard, target, guard->snapshot(), sha256, done);
             });
}

void EditSync::recordAfter(EditedFile *file, const QString &remotePath, const QString &localPath,
                           const QByteArray &sha256, Done done)
{
    const QPointer<EditedFile> guard = file;
    const qint64 size = QFileInfo(localPath).size();
    look(remotePath, [guard, sha256, size, done](const Look &look) {
        // Without the time (the link went just now) the next save is checked by size and
        // content alone.
        EditedFile::Remote remote{size, QDateTime(), sha256};
        if (look.exists && look.remote.sha256 == sha256)
            remote = look.remote;
        if (guard)
            guard->record(remote);
        done(QString());
    });
}

void EditSync::look(const QString &remotePath, std::function<void(const Look &)> done)
{
    // The entry and its hash side by side; answered once both are in.
    auto result = std::make_shared<Look>();
    auto missing = std::make_shared<int>(2);
    const auto answer = [result, missing, done] {
        if (--*missing == 0)
            done(*result);
    };
    const quint64 listing = RemoteReads::nextRequest();
    m_listings.insert(listing, [result, answer](const QSsh::SftpTree &entries,
                                                const QString &error) {
        if (!error.isEmpty())
            result->error = error;
        if (!entries.isEmpty() && entries.constFirst().kind == QSsh::SftpTreeEntry::Kind::File) {
            result->exists = true;
            result->remote.size = qint64(entries.constFirst().size);
            result->remote.modified = entries.constFirst().modified;
        } else if (!entries.isEmpty() && error.isEmpty()) {
            result->error = tr("It is no longer a regular file.");
        }
        answer();
    });
    const quint64 hash = RemoteReads::nextRequest();
    m_hashes.insert(hash, [result, answer](const QByteArray &sha256, const QString &error) {
        result->remote.sha256 = sha256;
        // A file that is gone has no hash; the listing says so.
        if (!error.isEmpty() && result->error.isEmpty() && result->exists)
            result->error = error;
        answer();
    });
    emit sigListRemoteTree(listing, remotePath);
    emit sigHashRemoteFile(hash, remotePath);
}

void EditSync::onStarted(quint64 request, QSsh::SftpJobId job, const QString &error)
{
    Finish finish = m_starting.take(request);
    if (!finish)
        return;
    if (job == QSsh::SftpInvalidJob)
        finish({}, error);
    else
        m_transfers.insert(job, std::move(finish));
}

void EditSync::onJobFinished(QSsh::SftpJobId job, const QString &error)
{
    // A success is answered by its verification, which follows.
    if (!error.isEmpty() && m_transfers.contains(job))
        m_transfers.take(job)({}, error);
}

void EditSync::onVerified(QSsh::SftpJobId job, const QSsh::SftpVerification &result)
{
    if (result.outcome == QSsh::SftpVerification::Outcome::Verified && m_transfers.contains(job))
        m_transfers.take(job)(result.localSha256, QString());
}

void EditSync::onTreeListed(quint64 request, const QSsh::SftpTree &entries, const QString &error)
{
    if (const auto answer = m_listings.take(request))
        answer(entries, error);
}

void EditSync::onHashed(quint64 request, const QByteArray &sha256, const QString &error)
{
    if (const auto answer = m_hashes.take(request))
        answer(sha256, error);
}

void EditSync::failAll()
{
    const QString lost = tr("The connection to the controller was lost.");
    for (const Finish &finish : std::exchange(m_starting, {}))
        finish({}, lost);
    for (const Finish &finish : std::exchange(m_transfers, {}))
        finish({}, lost);
    for (const auto &answer : std::exchange(m_listings, {}))
        answer({}, lost);
    for (const auto &answer : std::exchange(m_hashes, {}))
        answer({}, lost);
}
