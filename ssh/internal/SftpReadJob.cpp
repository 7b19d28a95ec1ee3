#include "SftpReadJob.h"

namespace QSsh::Internal {

namespace {

constexpr qint64 kChunk = 1024 * 1024;

} // namespace

SftpReadJob::SftpReadJob(SftpJobId id, const QString &remotePath, qint64 maxSize)
    : SftpFetchJob(id, remotePath, Phase::StatRemote), m_maxSize(maxSize)
{}

QString SftpReadJob::tooLargeText() const
{
    return sftpFailureText(SftpOperation::Read, m_remotePath,
                           sftpTr("it holds more than %1 bytes").arg(m_maxSize));
}

SftpJob::Result SftpReadJob::stepPhase()
{
    switch (phase()) {
    case Phase::StatRemote:
        return statRemote();
    case Phase::OpenRemote:
        return openRemote();
    case Phase::Reading:
        return repeatWithinBudget(
            [this] { return read(); },
            [this] { return phase() == Phase::Reading && !m_cancelRequested; });
    case Phase::Close:
        return closeRemote();
    case Phase::OpenLocal: // a read has no local file
    case Phase::Commit:
    case Phase::Done:
        break;
    }
    return Result::Done;
}

QString SftpReadJob::takeRemoteSize(qint64 size)
{
    m_fileSize = size;
    return m_fileSize > m_maxSize ? tooLargeText() : QString();
}

void SftpReadJob::prepareReading()
{
    if (m_fileSize >= 0)
        m_data.reserve(int(m_fileSize + 1));
}

void SftpReadJob::dropData()
{
    m_data = QByteArray();
}

SftpJob::Result SftpReadJob::complete()
{
    setPhase(Phase::Done);
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
        setPhase(Phase::Close);
    }
    return Result::Progress;
}

void SftpReadJob::abandon(const QString &reason)
{
    if (m_error.isEmpty())
        m_error = sftpFailureText(SftpOperation::Read, m_remotePath, reason);
    m_data = QByteArray();
    setPhase(Phase::Done);
}

} // namespace QSsh::Internal
