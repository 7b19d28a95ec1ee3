#include "FileComparison.h"

#include "CConnectionForSshClient.h"
#include "RemoteReads.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFutureWatcher>
#include <QtConcurrent>

namespace {

struct LocalHash
{
    QByteArray sha256;
    qint64 size = -1;
    QString error;
};

LocalHash hashLocalFile(const QString &path)
{
    LocalHash hash;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        hash.error = file.errorString();
        return hash;
    }
    QCryptographicHash sha(QCryptographicHash::Sha256);
    if (!sha.addData(&file) || file.error() != QFileDevice::NoError) {
        hash.error = file.errorString();
        return hash;
    }
    hash.sha256 = sha.result();
    hash.size = file.size();
    return hash;
}

template <typename T, typename Done>
void runOffGuiThread(QObject *owner, std::function<T()> work, Done done)
{
    auto *watcher = new QFutureWatcher<T>(owner);
    QObject::connect(watcher, &QFutureWatcher<T>::finished, owner, [watcher, done] {
        done(watcher->result());
        watcher->deleteLater();
    });
    watcher->setFuture(QtConcurrent::run(std::move(work)));
}

} // namespace

FileComparison::FileComparison(CConnectionForSshClient *worker, const QString &remotePath,
                               const QString &localPath, QObject *parent)
    : QObject(parent), m_remotePath(remotePath), m_localPath(localPath),
      m_request(RemoteReads::nextRequest())
{
    using Worker = CConnectionForSshClient;
    connect(this, &FileComparison::sigHashRemoteFile, worker, &Worker::slotHashRemoteFile);
    connect(this, &FileComparison::sigReadRemoteFile, worker, &Worker::slotReadRemoteFile);
    connect(worker, &Worker::sigRemoteFileHashed, this, &FileComparison::onRemoteHashed);
    connect(worker, &Worker::sigRemoteFileRead, this, &FileComparison::onRemoteRead);
}

void FileComparison::start()
{
    emit sigHashRemoteFile(m_request, m_remotePath);
    const QString path = m_localPath;
    runOffGuiThread<LocalHash>(
        this, [path] { return hashLocalFile(path); },
        [this](const LocalHash &hash) { onLocalHashed(hash.sha256, hash.size, hash.error); });
}

void FileComparison::onRemoteHashed(quint64 request, const QByteArray &sha256, qint64 size,
                                    const QString &error)
{
    if (request != m_request || m_remoteHashed)
        return;
    m_remoteHashed = true;
    m_result.remoteSha256 = sha256;
    m_remoteSize = size;
    if (!error.isEmpty() && m_error.isEmpty())
        m_error = tr("the controller's file: %1").arg(error);
    compareHashes();
}

void FileComparison::onLocalHashed(const QByteArray &sha256, qint64 size, const QString &error)
{
    m_localHashed = true;
    m_result.localSha256 = sha256;
    m_localSize = size;
    if (!error.isEmpty() && m_error.isEmpty())
        m_error = tr("the local file: %1").arg(error);
    compareHashes();
}

void FileComparison::compareHashes()
{
    if (!m_remoteHashed || !m_localHashed)
        return;
    if (!m_error.isEmpty())
        return finish(m_error);
    m_result.identical = m_result.remoteSha256 == m_result.localSha256;
    if (m_result.identical || m_remoteSize > kTextLimit || m_localSize > kTextLimit)
        return finish();
    emit sigReadRemoteFile(m_request, m_remotePath, kTextLimit);
}

void FileComparison::onRemoteRead(quint64 request, const QByteArray &data, qint64 size,
                                  const QString &error)
{
    Q_UNUSED(size)
    if (request != m_request)
        return;
    if (!error.isEmpty())
        return finish(); // the hashes have answered; the line is a courtesy
    const QString path = m_localPath;
    runOffGuiThread<LineDifference>(
        this,
        [path, data] {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                return LineDifference();
            const QByteArray local = file.read(kTextLimit + 1);
            if (!LineDifference::isText(data) || !LineDifference::isText(local))
                return LineDifference();
            return LineDifference::between(data, local);
        },
        [this](const LineDifference &difference) {
            m_result.difference = difference;
            finish();
        });
}

void FileComparison::finish(const QString &error)
{
    m_result.error = error;
    emit finished(m_result);
    deleteLater();
}
