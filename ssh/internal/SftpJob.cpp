#include "SftpJob.h"

#include "RemoteFileName.h"
#include "RemoteHash.h"
#include "Sha256.h"

namespace QSsh::Internal {

namespace {

// Room for every request one call may send: a read keeps up to 4 MiB of requests of
// 30000 bytes each in flight, about 140 requests of some 30 bytes (more with long handles).
constexpr unsigned long kRequestWindow = 64 * 1024;

} // namespace

SftpJob::SftpJob(SftpJobId id) : m_id(id)
{
    m_inPhase.start();
}

SftpJob::~SftpJob()
{
    m_remoteHash.reset(); // it may hand its channel to the session

    if (!m_context)
        return;
    if (m_context->owner == this)
        m_context->owner = nullptr;
    if (m_context->session)
        m_context->session->forgetOperation(this);
}

void SftpJob::releaseHandle(bool immediately)
{
    if (m_remoteHash)
        m_remoteHash->release(immediately);
    if (!m_handle)
        return;
    LIBSSH2_SFTP_HANDLE *const handle = std::exchange(m_handle, nullptr);
    SshSession *const session = m_context ? m_context->session : nullptr;
    if (!session)
        libssh2_sftp_close_handle(handle);
    else if (immediately)
        session->discard([handle] { return libssh2_sftp_close_handle(handle); });
    else
        session->adoptCleanup([handle] { return libssh2_sftp_close_handle(handle); });
}

bool SftpJob::acquire(WindowNeed need)
{
    if ((m_context->owner && m_context->owner != this) ||
        !m_context->session->mayUseTransport(this))
        return false;
    // A job that is inside a blocked call, or holds a partly sent packet, must finish it,
    // whatever the window: nothing else can move until it has.
    if (need == WindowNeed::Requests && m_context->owner != this &&
        !m_context->session->holdsTransport(this)) {
        // A server grants window only for data it has consumed, and only in steps: Dropbear's
        // whole window is 24 KiB by default, and it grants a third of that at a time. Half the
        // initial window is always granted again once the server has caught up; waiting for
        // more than it has could last forever.
        unsigned long initial = 0;
        const unsigned long window =
            libssh2_channel_window_write_ex(libssh2_sftp_get_channel(m_context->sftp), &initial);
        if (window < qMin(kRequestWindow, initial / 2))
            return false;
    }
    m_context->owner = this;
    return true;
}

bool SftpJob::insideCall() const
{
    return m_context && (m_context->owner == this ||
                         (m_context->session && m_context->session->holdsTransport(this)));
}

bool SftpJob::takeProgressReport(quint64 *done, quint64 *total)
{
    if (m_finalReported || (m_sinceReport.isValid() && msUntilReportDue() > 0))
        return false;
    if (m_bytesDone == 0 && m_bytesTotal == 0 && !m_dataComplete)
        return false; // nothing known yet
    // Only news is reported: the first figures, growth, or the end of the data.
    if (m_sinceReport.isValid() && m_bytesDone == m_reportedDone && !m_dataComplete)
        return false;
    recordReport(done, total);
    return true;
}

void SftpJob::takeFinalReport(quint64 *done, quint64 *total)
{
    recordReport(done, total);
}

void SftpJob::recordReport(quint64 *done, quint64 *total)
{
    m_sinceReport.start();
    m_reportedDone = m_bytesDone;
    m_finalReported = m_dataComplete;
    *done = m_bytesDone;
    // The data has all moved: whatever the size was taken to be, this is the whole of it.
    *total = m_dataComplete ? m_bytesDone : m_bytesTotal;
}

bool SftpJob::owesFinalReport() const
{
    return m_dataComplete && !m_finalReported && m_error.isEmpty();
}

qint64 SftpJob::msUntilReportDue() const
{
    if (!m_sinceReport.isValid())
        return 0;
    return qMax<qint64>(0, kProgressIntervalMs - m_sinceReport.elapsed());
}

int SftpJob::renameRemote(const QString &from, const QString &to, long flags)
{
    const QByteArray source = remoteNameToBytes(from);
    const QByteArray target = remoteNameToBytes(to);
    return libssh2_sftp_rename_ex(m_context->sftp, source.constData(), unsigned(source.size()),
                                  target.constData(), unsigned(target.size()), flags);
}

int SftpJob::statPath(const QString &path, int statType, LIBSSH2_SFTP_ATTRIBUTES *attributes)
{
    const QByteArray name = remoteNameToBytes(path);
    return libssh2_sftp_stat_ex(m_context->sftp, name.constData(), unsigned(name.size()), statType,
                                attributes);
}

std::function<void()> SftpJob::wakeFromAnyThread() const
{
    SshSession *const session = m_context->session;
    return [session] {
        QMetaObject::invokeMethod(
            session, [session] { session->schedule(); }, Qt::QueuedConnection);
    };
}

int SftpJob::settle(int rc)
{
    m_context->session->track(this, rc);
    if (rc != LIBSSH2_ERROR_EAGAIN && m_context->owner == this)
        m_context->owner = nullptr;
    return rc;
}

QString SftpJob::failureText(SftpOperation operation, const QString &path, int rc) const
{
    if (rc == LIBSSH2_ERROR_SFTP_PROTOCOL)
        return sftpFailureText(operation, path, libssh2_sftp_last_error(m_context->sftp));
    return sftpFailureText(operation, path, m_context->session->lastErrorText());
}

SftpJob::Result SftpJob::failWith(SftpOperation operation, const QString &path, int rc)
{
    if (SshSession::isSessionError(rc))
        return Result::Fatal;
    if (m_error.isEmpty())
        m_error = failureText(operation, path, rc);
    return Result::Idle;
}

SftpJob::Result SftpJob::closeHandle(int *rc)
{
    if (!acquire())
        return Result::Idle;
    *rc = settle(libssh2_sftp_close_handle(m_handle));
    if (*rc == LIBSSH2_ERROR_EAGAIN)
        return Result::Blocked;
    m_handle = nullptr;
    return SshSession::isSessionError(*rc) ? Result::Fatal : Result::Progress;
}

SftpPathJob::SftpPathJob(SftpJobId id, Kind kind, const QString &path, const QString &newPath)
    : SftpJob(id), m_kind(kind), m_path(path), m_newPath(newPath)
{}

SftpOperation SftpPathJob::operation() const
{
    switch (m_kind) {
    case Kind::RemoveFile:
        return SftpOperation::Remove;
    case Kind::RemoveDirectory:
        return SftpOperation::RemoveDirectory;
    case Kind::CreateDirectory:
        return SftpOperation::CreateDirectory;
    case Kind::Rename:
        return SftpOperation::RenameEntry;
    }
    return SftpOperation::Remove;
}

SftpJob::Result SftpPathJob::step()
{
    if (!acquire())
        return Result::Idle;
    const QByteArray path = remoteNameToBytes(m_path);
    LIBSSH2_SFTP *const sftp = m_context->sftp;
    int rc = 0;
    switch (m_kind) {
    case Kind::RemoveFile:
        rc = libssh2_sftp_unlink_ex(sftp, path.constData(), unsigned(path.size()));
        break;
    case Kind::RemoveDirectory:
        rc = libssh2_sftp_rmdir_ex(sftp, path.constData(), unsigned(path.size()));
        break;
    case Kind::CreateDirectory:
        rc = libssh2_sftp_mkdir_ex(sftp, path.constData(), unsigned(path.size()),
                                   LIBSSH2_SFTP_S_IRWXU | LIBSSH2_SFTP_S_IRGRP |
                                       LIBSSH2_SFTP_S_IXGRP | LIBSSH2_SFTP_S_IROTH |
                                       LIBSSH2_SFTP_S_IXOTH);
        break;
    case Kind::Rename:
        // No overwrite flag: servers of protocol 3 (OpenSSH, Dropbear) refuse an existing
        // target anyway, and later versions are asked to.
        rc = renameRemote(m_path, m_newPath, 0);
        break;
    }
    settle(rc);
    if (rc == LIBSSH2_ERROR_EAGAIN)
        return Result::Blocked;
    if (rc < 0 && failWith(operation(), m_path, rc) == Result::Fatal)
        return Result::Fatal;
    return Result::Done;
}

void SftpPathJob::abandon(const QString &reason)
{
    if (m_error.isEmpty())
        m_error = sftpFailureText(operation(), m_path, reason);
}

bool SftpPathJob::cancel()
{
    // Its one request is either not sent yet, or on its way and then answered as it comes.
    if (insideCall())
        return false;
    m_error = sftpCancelledText(m_path);
    return true;
}

} // namespace QSsh::Internal

namespace QSsh::Internal {

void SftpJob::setVerify(bool verify)
{
    if (verify)
        m_localHash = std::make_unique<Sha256>();
    else
        m_localHash.reset();
}

void SftpJob::hashLocalData(const char *data, qint64 size)
{
    if (m_localHash)
        m_localHash->addData(data, size);
}

void SftpJob::startRemoteHash(const QString &remotePath, qint64 knownSize)
{
    m_remoteHash = std::make_unique<RemoteHash>(*this, remotePath, knownSize);
}

void SftpJob::startVerification(const QString &remotePath, LIBSSH2_SFTP_HANDLE *openHandle)
{
    if (openHandle)
        m_remoteHash = std::make_unique<RemoteHash>(*this, remotePath, openHandle);
    else
        startRemoteHash(remotePath, qint64(m_bytesDone));
    m_verifyingNoticeOwed = true;
}

void SftpJob::cancelRemoteHash()
{
    if (m_remoteHash)
        m_remoteHash->cancel();
}

SftpJob::Result SftpJob::stepRemoteHash(const QString &remotePath, QByteArray *digest,
                                        bool *readBack)
{
    const Result result = m_remoteHash->step();
    if (result != Result::Done)
        return result;
    const std::unique_ptr<RemoteHash> hash = std::move(m_remoteHash);
    if (hash->isCancelled() && m_error.isEmpty())
        m_error = sftpCancelledText(remotePath);
    if (m_error.isEmpty())
        m_error = hash->error();
    *digest = hash->digest();
    *readBack = hash->readBack();
    return Result::Done;
}

SftpJob::Result SftpJob::stepVerification(const QString &remotePath)
{
    SftpVerification verification;
    const Result result =
        stepRemoteHash(remotePath, &verification.remoteSha256, &verification.readBack);
    if (result != Result::Done || !m_error.isEmpty())
        return result;
    verification.localSha256 = m_localHash->result();
    if (verification.localSha256 != verification.remoteSha256) {
        verification.outcome = SftpVerification::Outcome::Mismatch;
        m_error = sftpFailureText(
            SftpOperation::Verify, remotePath,
            sftpTr("the controller's copy differs (SHA-256 %1 here, %2 on the controller)")
                .arg(Sha256::shortHex(verification.localSha256),
                     Sha256::shortHex(verification.remoteSha256)));
    }
    m_verification = verification;
    return Result::Done;
}

} // namespace QSsh::Internal
