#include "SftpReadJob.h"

namespace QSsh::Internal {

namespace {

constexpr qint64 kChunk = SftpJob::kLongestRead;

} // namespace

SftpReadJob::SftpReadJob(SftpJobId id, const QString &remotePath, qint64 maxSize)
    : SftpFetchJob(id, remotePath, Phase::StatRemote), m_maxSize(maxSize)
{}

QString SftpReadJob::tooLargeText() const
{
    return sftpFailureText(SftpOperation::Read, m_remotePath,
                           sftpTr("it holds more than %1 bytes").arg(m_maxSize));
}

// Reading is the one phase of its own.
SftpJob::Result SftpReadJob::stepOwnPhase()
{
    return repeatWithinBudget([this] { return read(); },
                              [this] { return phase() == Phase::Reading && !m_cancelRequested; });
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
    if (n < 0)
        return readFailed(int(n));
    m_received += n;
    if (m_received > m_maxSize) {
        m_fileSize = std::max(m_fileSize, m_received);
        return fail(tooLargeText());
    }
    if (n == 0) {
        m_data.resize(int(m_received));
        if (m_fileSize >= 0 && m_received != m_fileSize)
            return failEndedEarly(m_received, m_fileSize);
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
