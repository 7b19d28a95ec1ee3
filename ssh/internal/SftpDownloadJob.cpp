#include "SftpDownloadJob.h"

#include <QFileInfo>
#include <QtConcurrent>

#include <cerrno>
#include <fcntl.h>

namespace QSsh::Internal {

namespace {

// libssh2 keeps requests for four buffers in flight, which fills the link. Larger buffers
// measured slower: one call then copies and decrypts a larger piece, and 1 MiB downloads
// ran about a quarter faster than 2 MiB ones.
constexpr int kBufferSize = 1024 * 1024;
constexpr qint64 kWriteBackChunk = 8 * 1024 * 1024;

} // namespace

SftpDownloadJob::SftpDownloadJob(SftpJobId id, const QString &remotePath, const QString &localPath,
                                 bool overwrite)
    : SftpFetchJob(id, remotePath, Phase::OpenLocal), m_local(localPath), m_overwrite(overwrite)
{
    // Never write the target in place, not even where a temporary file cannot be created.
    m_local.setDirectWriteFallback(false);
}

SftpDownloadJob::~SftpDownloadJob()
{
    m_commit.waitForFinished(); // the pool's thread is still using m_local
}

SftpJob::Result SftpDownloadJob::stepOwnPhase()
{
    switch (phase()) {
    case Phase::OpenLocal:
        return openLocal();
    case Phase::Reading:
        return repeatWithinBudget([this] { return read(); },
                                  [this] { return phase() == Phase::Reading; });
    case Phase::Commit:
        return awaitCommit();
    default:
        return Result::Done;
    }
}

SftpJob::Result SftpDownloadJob::openLocal()
{
    if (!m_overwrite && QFileInfo::exists(m_local.fileName())) {
        return fail(
            sftpTr("Cannot write local file \"%1\": it already exists.").arg(m_local.fileName()));
    }
    if (!m_local.open(QIODevice::WriteOnly)) {
        return fail(sftpTr("Cannot write local file \"%1\": %2.")
                        .arg(m_local.fileName(), m_local.errorString()));
    }
    setPhase(Phase::StatRemote);
    return Result::Progress;
}

QString SftpDownloadJob::takeRemoteSize(qint64 size)
{
    m_expectedSize = size;
    m_bytesTotal = quint64(size);
    return QString();
}

void SftpDownloadJob::prepareReading()
{
    m_buffer.resize(kBufferSize);
}

void SftpDownloadJob::dropData()
{
    m_local.cancelWriting();
    m_buffer.clear();
    m_buffer.squeeze();
}

SftpJob::Result SftpDownloadJob::complete()
{
    if (m_cancelRequested)
        return fail(sftpCancelledText(m_remotePath));
    startCommit();
    return Result::Idle;
}

void SftpDownloadJob::startCommit()
{
    setPhase(Phase::Commit);
    SshSession *const session = m_context->session;
    QObject::connect(&m_commitWatcher, &QFutureWatcherBase::finished, session,
                     [session] { session->schedule(); });
    m_commit =
        QtConcurrent::run([this] { return m_local.commit() ? QString() : localWriteError(); });
    m_commitWatcher.setFuture(m_commit);
}

SftpJob::Result SftpDownloadJob::awaitCommit()
{
    if (!m_commit.isFinished())
        return Result::Idle;
    if (m_error.isEmpty())
        m_error = m_commit.result();
    setPhase(Phase::Done);
    return Result::Done;
}

SftpJob::Result SftpDownloadJob::read()
{
    if (!acquire())
        return Result::Idle;
    const ssize_t n =
        settle(int(libssh2_sftp_read(m_handle, m_buffer.data(), size_t(m_buffer.size()))));
    if (n < 0)
        return readFailed(int(n));
    if (n == 0) {
        if (m_expectedSize >= 0 && m_received != m_expectedSize)
            return failEndedEarly(m_received, m_expectedSize);
        m_buffer.clear();
        m_buffer.squeeze();
        m_dataComplete = true;
        setPhase(Phase::Close);
        return Result::Progress;
    }
    // A read ends inside a call most of the time (the next one answers EAGAIN), so a cancel
    // is taken up here, right after one has completed.
    if (m_cancelRequested && !insideCall()) {
        stopForCancel();
        return Result::Progress;
    }
    if (m_local.write(m_buffer.constData(), n) != n)
        return fail(localWriteError());
    m_received += n;
    m_bytesDone = quint64(m_received);
    // QSaveFile syncs the file to disk when it commits. Starting the write-back of every few
    // megabytes now keeps that final sync short, so it does not stall the event loop.
    if (m_received - m_writeBackStart >= kWriteBackChunk && m_local.flush()) {
        ::sync_file_range(m_local.handle(), m_writeBackStart, m_received - m_writeBackStart,
                          SYNC_FILE_RANGE_WRITE);
        m_writeBackStart = m_received;
    }
    return Result::Progress;
}

// QSaveFile reports some failed writes (a full disk among them) as "Unknown error"; the
// system's error code then tells what happened.
QString SftpDownloadJob::localWriteError() const
{
    const int systemError = errno;
    QString reason = m_local.errorString();
    if (reason.isEmpty() || reason == QLatin1String("Unknown error"))
        reason = qt_error_string(systemError);
    return sftpTr("Cannot write local file \"%1\": %2.").arg(m_local.fileName(), reason);
}

void SftpDownloadJob::abandon(const QString &reason)
{
    // Every byte had arrived: the commit decides, whatever happens to the connection.
    if (phase() == Phase::Commit) {
        m_commit.waitForFinished();
        awaitCommit();
        return;
    }
    m_local.cancelWriting();
    m_local.commit(); // after cancelWriting this only removes the temporary file
    if (m_error.isEmpty())
        m_error = sftpFailureText(SftpOperation::Read, m_remotePath, reason);
    setPhase(Phase::Done);
}

} // namespace QSsh::Internal
