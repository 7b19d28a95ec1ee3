#include "SftpFetchJob.h"

#include "RemoteFileName.h"

namespace QSsh::Internal {

namespace {

QString notRegularFileReason(unsigned long mode)
{
    return LIBSSH2_SFTP_S_ISDIR(mode)    ? sftpTr("it is a directory")
           : LIBSSH2_SFTP_S_ISFIFO(mode) ? sftpTr("it is a named pipe, not a file")
           : LIBSSH2_SFTP_S_ISCHR(mode) || LIBSSH2_SFTP_S_ISBLK(mode)
               ? sftpTr("it is a device, not a file")
           : LIBSSH2_SFTP_S_ISSOCK(mode) ? sftpTr("it is a socket, not a file")
                                         : sftpTr("it is not a regular file");
}

} // namespace

SftpJob::Result SftpFetchJob::step()
{
    if (m_cancelRequested && !insideCall())
        stopForCancel();
    Result result = Result::Done;
    switch (m_phase) {
    case Phase::StatRemote:
        result = statRemote();
        break;
    case Phase::OpenRemote:
        result = openRemote();
        break;
    case Phase::Close:
        result = closeRemote();
        break;
    case Phase::Done:
        break;
    case Phase::OpenLocal:
    case Phase::Reading:
    case Phase::Verify:
    case Phase::Commit:
        result = stepOwnPhase();
        break;
    }
    if (result == Result::Fatal || m_phase != Phase::Done)
        return result;
    return localWorkFinished() ? Result::Done : Result::Idle;
}

bool SftpFetchJob::cancel()
{
    // A cancellation waits until no call of this job is half done: libssh2 must see a call
    // that answered EAGAIN through before the SFTP session serves anybody else.
    m_cancelRequested = true;
    if (insideCall())
        return false;
    stopForCancel();
    return m_phase == Phase::Done;
}

void SftpFetchJob::stopForCancel()
{
    // Requests still in flight are answered after the close; libssh2 drops the answers.
    if (m_phase < Phase::Close)
        fail(sftpCancelledText(m_remotePath));
}

SftpJob::Result SftpFetchJob::fail(const QString &text)
{
    if (m_error.isEmpty())
        m_error = text;
    dropData();
    setPhase(m_handle ? Phase::Close : Phase::Done);
    return Result::Progress;
}

SftpJob::Result SftpFetchJob::readFailed(int rc)
{
    if (rc == LIBSSH2_ERROR_EAGAIN)
        return Result::Blocked;
    if (SshSession::isSessionError(rc))
        return Result::Fatal;
    return fail(failureText(SftpOperation::Read, m_remotePath, rc));
}

SftpJob::Result SftpFetchJob::failEndedEarly(qint64 received, qint64 expected)
{
    return fail(
        sftpFailureText(SftpOperation::Read, m_remotePath,
                        sftpTr("the data ended after %1 of %2 bytes").arg(received).arg(expected)));
}

SftpJob::Result SftpFetchJob::statRemote()
{
    if (!acquire())
        return Result::Idle;
    LIBSSH2_SFTP_ATTRIBUTES attributes{};
    const int rc = settle(statPath(m_remotePath, LIBSSH2_SFTP_STAT, &attributes));
    if (rc == LIBSSH2_ERROR_EAGAIN)
        return Result::Blocked;
    if (rc < 0) {
        if (SshSession::isSessionError(rc))
            return Result::Fatal;
        return fail(failureText(SftpOperation::OpenForReading, m_remotePath, rc));
    }
    if ((attributes.flags & LIBSSH2_SFTP_ATTR_PERMISSIONS) &&
        !LIBSSH2_SFTP_S_ISREG(attributes.permissions)) {
        return fail(sftpFailureText(SftpOperation::OpenForReading, m_remotePath,
                                    notRegularFileReason(attributes.permissions)));
    }
    // Regular files report their size; the end of the data is checked against it so that a
    // stream that ends early can never pass for a complete file.
    if (attributes.flags & LIBSSH2_SFTP_ATTR_SIZE) {
        const QString refusal = takeRemoteSize(qint64(attributes.filesize));
        if (!refusal.isEmpty())
            return fail(refusal);
    }
    setPhase(Phase::OpenRemote);
    return Result::Progress;
}

SftpJob::Result SftpFetchJob::openRemote()
{
    if (!acquire())
        return Result::Idle;
    const QByteArray name = remoteNameToBytes(m_remotePath);
    LIBSSH2_SFTP_HANDLE *const handle =
        libssh2_sftp_open_ex(m_context->sftp, name.constData(), unsigned(name.size()),
                             LIBSSH2_FXF_READ, 0, LIBSSH2_SFTP_OPENFILE);
    const int rc = settle(handle ? 0 : lastErrno());
    if (rc == LIBSSH2_ERROR_EAGAIN)
        return Result::Blocked;
    if (!handle) {
        if (SshSession::isSessionError(rc))
            return Result::Fatal;
        return fail(failureText(SftpOperation::OpenForReading, m_remotePath, rc));
    }
    m_handle = handle;
    prepareReading();
    setPhase(Phase::Reading);
    return Result::Progress;
}

SftpJob::Result SftpFetchJob::closeRemote()
{
    int rc = 0;
    const Result closing = closeHandle(&rc);
    if (closing != Result::Progress)
        return closing;
    if (rc < 0)
        return fail(failureText(SftpOperation::Close, m_remotePath, rc));
    if (!m_error.isEmpty()) {
        setPhase(Phase::Done);
        return Result::Done;
    }
    return complete();
}

} // namespace QSsh::Internal
