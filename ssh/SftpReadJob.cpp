#include "SftpReadJob.h"

namespace QSsh::Internal {

namespace {

constexpr qint64 kChunk = 1024 * 1024;

} // namespace

SftpReadJob::SftpReadJob(SftpJobId id, const QString &remotePath, qint64 maxSize)
    : SftpJob(id), m_remotePath(remotePath), m_maxSize(maxSize)
{}

SftpJob::Result SftpReadJob::step()
{
    if (m_cancelRequested && !insideCall())
        stopForCancel();
    const Result result = stepPhase();
    if (result == Result::Fatal || m_phase != Phase::Done)
        return result;
    return Result::Done;
}

SftpJob::Result SftpReadJob::fail(const QString &text)
{
    if (m_error.isEmpty())
        m_error = text;
    m_data = QByteArray();
    m_phase = m_handle ? Phase::Close : Phase::Done;
    return Result::Progress;
}

QString SftpReadJob::tooLargeText() const
{
    return sftpFailureText(SftpOperation::Read, m_remotePath,
                           sftpTr("it holds more than %1 bytes").arg(m_maxSize));
}

SftpJob::Result SftpReadJob::stepPhase()
{
    switch (m_phase) {
    case Phase::StatRemote: {
        LIBSSH2_SFTP_ATTRIBUTES attributes{};
        QString failure;
        const Result result = statForReading(m_remotePath, attributes, &failure);
        if (!failure.isEmpty())
            return fail(failure);
        if (result != Result::Progress)
            return result;
        if (attributes.flags & LIBSSH2_SFTP_ATTR_SIZE) {
            m_fileSize = qint64(attributes.filesize);
            if (m_fileSize > m_maxSize)
                return fail(tooLargeText());
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
            if (m_fileSize >= 0)
                m_data.reserve(int(m_fileSize + 1));
            m_phase = Phase::Reading;
        }
        return result;
    }

    case Phase::Reading:
        return repeatWithinBudget(
            [this] { return read(); },
            [this] { return m_phase == Phase::Reading && !m_cancelRequested; });

    case Phase::Close: {
        if (!acquire())
            return Result::Idle;
        const int rc = settle(libssh2_sftp_close_handle(m_handle));
        if (rc == LIBSSH2_ERROR_EAGAIN)
            return Result::Blocked;
        m_handle = nullptr;
        if (SshSession::isSessionError(rc))
            return Result::Fatal;
        if (rc < 0 && m_error.isEmpty())
            m_error = failureText(SftpOperation::Close, m_remotePath, rc);
        m_phase = Phase::Done;
        return Result::Done;
    }

    case Phase::Done:
        return Result::Done;
    }
    return Result::Done;
}

SftpJob::Result SftpReadJob::read()
{
    if (!acquire())
        return Result::Idle;
    // One byte beyond the limit, or beyond the size reported, is room enough to see the end
    // or a file that has grown past it.
    qint64 room = std::min(kChunk, m_maxSize + 1 - m_received);
    if (m_fileSize >= 0)
        room = std::max<qint64>(1, std::min(room, m_fileSize + 1 - m_received));
    if (m_data.size() < m_received + room)
        m_data.resize(int(m_received + room));
    const ssize_t n =
        settle(int(libssh2_sftp_read(m_handle, m_data.data() + m_received, size_t(room))));
    if (n == LIBSSH2_ERROR_EAGAIN)
        return Result::Blocked;
    if (n < 0) {
        if (SshSession::isSessionError(int(n)))
            return Result::Fatal;
        return fail(failureText(SftpOperation::Read, m_remotePath, int(n)));
    }
    m_received += n;
    if (m_received > m_maxSize) {
        m_fileSize = std::max(m_fileSize, m_received);
        return fail(tooLargeText());
    }
    if (n == 0) {
        m_data.resize(int(m_received));
        if (m_fileSize >= 0 && m_received != m_fileSize) {
            return fail(sftpFailureText(
                SftpOperation::Read, m_remotePath,
                sftpTr("the data ended after %1 of %2 bytes").arg(m_received).arg(m_fileSize)));
        }
        m_fileSize = m_received;
        m_phase = Phase::Close;
    }
    return Result::Progress;
}

bool SftpReadJob::cancel()
{
    // A cancellation waits until no call of this job is half done: libssh2 must see a call
    // that answered EAGAIN through before the SFTP session serves anybody else.
    m_cancelRequested = true;
    if (insideCall())
        return false;
    stopForCancel();
    return m_phase == Phase::Done;
}

void SftpReadJob::stopForCancel()
{
    if (m_phase < Phase::Close)
        fail(sftpCancelledText(m_remotePath));
}

void SftpReadJob::abandon(const QString &reason)
{
    if (m_error.isEmpty())
        m_error = sftpFailureText(SftpOperation::Read, m_remotePath, reason);
    m_data = QByteArray();
    m_phase = Phase::Done;
}

} // namespace QSsh::Internal
