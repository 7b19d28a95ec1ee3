#include "SftpHashJob.h"

namespace QSsh::Internal {

SftpHashJob::SftpHashJob(SftpJobId id, const QString &remotePath)
    : SftpJob(id), m_remotePath(remotePath)
{}

SftpJob::Result SftpHashJob::step()
{
    switch (m_phase) {
    case Phase::Stat:
        return stat();
    case Phase::Hash:
        return hash();
    case Phase::Done:
        break;
    }
    return Result::Done;
}

SftpJob::Result SftpHashJob::stat()
{
    if (!acquire())
        return Result::Idle;
    LIBSSH2_SFTP_ATTRIBUTES attributes{};
    const int rc = settle(statPath(m_remotePath, LIBSSH2_SFTP_STAT, &attributes));
    if (rc == LIBSSH2_ERROR_EAGAIN)
        return Result::Blocked;
    if (rc < 0) {
        if (failWith(SftpOperation::Stat, m_remotePath, rc) == Result::Fatal)
            return Result::Fatal;
        setPhase(Phase::Done);
        return Result::Done;
    }
    // sha256sum would wait for ever on a named pipe, and never end on a device.
    if ((attributes.flags & LIBSSH2_SFTP_ATTR_PERMISSIONS) &&
        !LIBSSH2_SFTP_S_ISREG(attributes.permissions)) {
        m_error = sftpFailureText(SftpOperation::Verify, m_remotePath,
                                  sftpTr("it is not a regular file"));
        setPhase(Phase::Done);
        return Result::Done;
    }
    if (attributes.flags & LIBSSH2_SFTP_ATTR_SIZE)
        m_fileSize = qint64(attributes.filesize);
    startRemoteHash(m_remotePath);
    setPhase(Phase::Hash);
    return Result::Progress;
}

SftpJob::Result SftpHashJob::hash()
{
    if (m_cancelRequested)
        cancelRemoteHash();
    bool readBack = false;
    const Result hashing = stepRemoteHash(m_remotePath, &m_digest, &readBack);
    if (hashing != Result::Done)
        return hashing;
    if (!m_error.isEmpty())
        m_digest.clear();
    setPhase(Phase::Done);
    return Result::Done;
}

void SftpHashJob::abandon(const QString &reason)
{
    if (m_error.isEmpty())
        m_error = sftpFailureText(SftpOperation::Verify, m_remotePath, reason);
    setPhase(Phase::Done);
}

bool SftpHashJob::cancel()
{
    m_cancelRequested = true;
    if (m_phase == Phase::Hash || insideCall())
        return false; // the hash stops at its next safe point
    m_error = sftpCancelledText(m_remotePath);
    setPhase(Phase::Done);
    return true;
}

} // namespace QSsh::Internal
