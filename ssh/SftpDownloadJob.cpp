#include "SftpDownloadJob.h"

#include "RemoteFileName.h"

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
    : SftpJob(id), m_remotePath(remotePath), m_local(localPath), m_overwrite(overwrite)
{
    // Never write the target in place, not even where a temporary file cannot be created.
    m_local.setDirectWriteFallback(false);
}

SftpDownloadJob::~SftpDownloadJob()
{
    m_commit.waitForFinished(); // the pool's thread is still using m_local
}

SftpJob::Result SftpDownloadJob::step()
{
    if (m_cancelRequested && !insideCall())
        stopForCancel();
    const Result result = stepPhase();
    if (result == Result::Fatal || m_phase != Phase::Done)
        return result;
    return Result::Done;
}

SftpJob::Result SftpDownloadJob::fail(const QString &text)
{
    if (m_error.isEmpty())
        m_error = text;
    m_local.cancelWriting();
    m_buffer.clear();
    m_buffer.squeeze();
    m_phase = m_handle ? Phase::Close : Phase::Done;
    return Result::Progress;
}

SftpJob::Result SftpDownloadJob::stepPhase()
{
    switch (m_phase) {
    case Phase::OpenLocal:
        if (!m_overwrite && QFileInfo::exists(m_local.fileName())) {
            m_error = sftpTr("Cannot write local file \"%1\": it already exists.")
                          .arg(m_local.fileName());
            m_phase = Phase::Done;
            return Result::Done;
        }
        if (!m_local.open(QIODevice::WriteOnly)) {
            m_error = sftpTr("Cannot write local file \"%1\": %2.")
                          .arg(m_local.fileName(), m_local.errorString());
            m_phase = Phase::Done;
            return Result::Done;
        }
        m_phase = Phase::StatRemote;
        return Result::Progress;

    case Phase::StatRemote: {
        LIBSSH2_SFTP_ATTRIBUTES attributes{};
        QString failure;
        const Result result = statForReading(m_remotePath, attributes, &failure);
        if (!failure.isEmpty())
            return fail(failure);
        if (result != Result::Progress)
            return result;
        // Regular files report their size; the end of the data is checked against it so that
        // a stream that ends early can never pass for a complete file.
        if (attributes.flags & LIBSSH2_SFTP_ATTR_SIZE) {
            m_expectedSize = qint64(attributes.filesize);
            m_bytesTotal = attributes.filesize;
        }
        m_phase = Phase::OpenRemote;
        return Result::Progress;
    }

    case Phase::OpenRemote: {
        QString failure;
        const Result result = openForReading(m_remotePath, &failure);
        if (!failure.isEmpty())
            return fail(failure);
        if (result == Result::Progress) {
            m_buffer.resize(kBufferSize);
            m_phase = Phase::Reading;
        }
        return result;
    }

    case Phase::Reading:
        return repeatWithinBudget([this] { return read(); },
                                  [this] { return m_phase == Phase::Reading; });

    case Phase::Close: {
        if (!acquire())
            return Result::Idle;
        const int rc = settle(libssh2_sftp_close_handle(m_handle));
        if (rc == LIBSSH2_ERROR_EAGAIN)
            return Result::Blocked;
        m_handle = nullptr;
        if (SshSession::isSessionError(rc))
            return Result::Fatal;
        m_phase = Phase::Done;
        if (!m_error.isEmpty())
            return Result::Done;
        if (rc < 0) {
            m_local.cancelWriting();
            m_error = failureText(SftpOperation::Close, m_remotePath, rc);
        } else if (m_cancelRequested) {
            m_local.cancelWriting();
            m_error = sftpCancelledText(m_remotePath);
        } else {
            startCommit();
            return Result::Idle;
        }
        return Result::Done;
    }

    case Phase::Commit:
        return awaitCommit();

    case Phase::Done:
        return Result::Done;
    }
    return Result::Done;
}

void SftpDownloadJob::startCommit()
{
    m_phase = Phase::Commit;
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
    m_phase = Phase::Done;
    return Result::Done;
}

SftpJob::Result SftpDownloadJob::read()
{
    if (!acquire())
        return Result::Idle;
    const ssize_t n =
        settle(int(libssh2_sftp_read(m_handle, m_buffer.data(), size_t(m_buffer.size()))));
    if (n == LIBSSH2_ERROR_EAGAIN)
        return Result::Blocked;
    if (n < 0) {
        if (SshSession::isSessionError(int(n)))
            return Result::Fatal;
        return fail(failureText(SftpOperation::Read, m_remotePath, int(n)));
    }
    if (n == 0) {
        if (m_expectedSize >= 0 && m_received != m_expectedSize) {
            return fail(sftpFailureText(
                SftpOperation::Read, m_remotePath,
                sftpTr("the data ended after %1 of %2 bytes").arg(m_received).arg(m_expectedSize)));
        }
        m_buffer.clear();
        m_buffer.squeeze();
        m_dataComplete = true;
        m_phase = Phase::Close;
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

bool SftpDownloadJob::cancel()
{
    m_cancelRequested = true;
    if (insideCall())
        return false;
    stopForCancel();
    return m_phase == Phase::Done;
}

void SftpDownloadJob::stopForCancel()
{
    switch (m_phase) {
    case Phase::OpenLocal:
        m_error = sftpCancelledText(m_remotePath);
        m_phase = Phase::Done;
        break;
    case Phase::OpenRemote:
    case Phase::StatRemote:
    case Phase::Reading:
        // Requests still in flight are answered after the close; libssh2 drops the answers.
        fail(sftpCancelledText(m_remotePath));
        break;
    case Phase::Close:
    case Phase::Commit:
    case Phase::Done:
        return;
    }
    m_cancelRequested = false;
}

void SftpDownloadJob::abandon(const QString &reason)
{
    // Every byte had arrived: the commit decides, whatever happens to the connection.
    if (m_phase == Phase::Commit) {
        m_commit.waitForFinished();
        awaitCommit();
        return;
    }
    m_local.cancelWriting();
    m_local.commit(); // after cancelWriting this only removes the temporary file
    if (m_error.isEmpty())
        m_error = sftpFailureText(SftpOperation::Read, m_remotePath, reason);
    m_phase = Phase::Done;
}

} // namespace QSsh::Internal
