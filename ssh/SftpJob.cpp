#include "SftpJob.h"

namespace QSsh::Internal {

namespace {

// Room for every request one call may send: a read keeps up to 8 MiB of requests of
// 30000 bytes each in flight, about 280 requests of some 30 bytes.
constexpr unsigned long kRequestWindow = 64 * 1024;

} // namespace

SftpJob::~SftpJob()
{
    if (m_context.owner == this)
        m_context.owner = nullptr;
    if (m_context.session)
        m_context.session->forgetOperation(this);
}

void SftpJob::releaseHandle(bool immediately)
{
    if (!m_handle)
        return;
    LIBSSH2_SFTP_HANDLE *const handle = std::exchange(m_handle, nullptr);
    if (immediately || !m_context.session)
        libssh2_sftp_close_handle(handle);
    else
        m_context.session->adoptCleanup([handle] { return libssh2_sftp_close_handle(handle); });
}

bool SftpJob::acquire(WindowNeed need)
{
    if ((m_context.owner && m_context.owner != this) || !m_context.session->mayUseTransport(this))
        return false;
    // A job that is inside a blocked call, or holds a partly sent packet, must finish it,
    // whatever the window: nothing else can move until it has.
    if (need == WindowNeed::Requests && m_context.owner != this &&
        !m_context.session->holdsTransport(this) &&
        libssh2_channel_window_write_ex(libssh2_sftp_get_channel(m_context.sftp), nullptr) <
            kRequestWindow) {
        return false;
    }
    m_context.owner = this;
    return true;
}

int SftpJob::settle(int rc)
{
    m_context.session->track(this, rc);
    if (rc != LIBSSH2_ERROR_EAGAIN && m_context.owner == this)
        m_context.owner = nullptr;
    return rc;
}

QString SftpJob::failureText(SftpOperation operation, const QString &path, int rc) const
{
    if (rc == LIBSSH2_ERROR_SFTP_PROTOCOL)
        return sftpFailureText(operation, path, libssh2_sftp_last_error(m_context.sftp));
    return sftpFailureText(operation, path, m_context.session->lastErrorText());
}

SftpJob::Result SftpJob::failWith(SftpOperation operation, const QString &path, int rc)
{
    if (SshSession::isSessionError(rc))
        return Result::Fatal;
    if (m_error.isEmpty())
        m_error = failureText(operation, path, rc);
    return Result::Idle;
}

SftpJob::Result SftpJob::openForReading(const QString &path, QString *failure)
{
    if (!acquire())
        return Result::Idle;
    const QByteArray name = path.toUtf8();
    LIBSSH2_SFTP_HANDLE *const handle =
        libssh2_sftp_open_ex(m_context.sftp, name.constData(), unsigned(name.size()),
                             LIBSSH2_FXF_READ, 0, LIBSSH2_SFTP_OPENFILE);
    const int rc = settle(handle ? 0 : lastErrno());
    if (rc == LIBSSH2_ERROR_EAGAIN)
        return Result::Blocked;
    if (!handle) {
        if (SshSession::isSessionError(rc))
            return Result::Fatal;
        *failure = failureText(SftpOperation::OpenForReading, path, rc);
        return Result::Idle;
    }
    m_handle = handle;
    return Result::Progress;
}

SftpJob::Result SftpJob::statOpenFile(const QString &path, LIBSSH2_SFTP_ATTRIBUTES &attributes,
                                      QString *failure)
{
    if (!acquire())
        return Result::Idle;
    const int rc = settle(libssh2_sftp_fstat_ex(m_handle, &attributes, 0));
    if (rc == LIBSSH2_ERROR_EAGAIN)
        return Result::Blocked;
    if (rc < 0) {
        if (SshSession::isSessionError(rc))
            return Result::Fatal;
        *failure = failureText(SftpOperation::Stat, path, rc);
        return Result::Idle;
    }
    if ((attributes.flags & LIBSSH2_SFTP_ATTR_PERMISSIONS) &&
        LIBSSH2_SFTP_S_ISDIR(attributes.permissions)) {
        *failure =
            sftpFailureText(SftpOperation::OpenForReading, path, sftpTr("it is a directory"));
        return Result::Idle;
    }
    return Result::Progress;
}

SftpPathJob::SftpPathJob(SftpJobId id, SftpContext &context, Kind kind, const QString &path)
    : SftpJob(id, context), m_kind(kind), m_path(path)
{}

SftpJob::Result SftpPathJob::step()
{
    if (!acquire())
        return Result::Idle;
    const QByteArray path = m_path.toUtf8();
    LIBSSH2_SFTP *const sftp = m_context.sftp;
    int rc = 0;
    SftpOperation operation = SftpOperation::Remove;
    switch (m_kind) {
    case Kind::RemoveFile:
        rc = libssh2_sftp_unlink_ex(sftp, path.constData(), unsigned(path.size()));
        break;
    case Kind::RemoveDirectory:
        operation = SftpOperation::RemoveDirectory;
        rc = libssh2_sftp_rmdir_ex(sftp, path.constData(), unsigned(path.size()));
        break;
    case Kind::CreateDirectory:
        operation = SftpOperation::CreateDirectory;
        rc = libssh2_sftp_mkdir_ex(sftp, path.constData(), unsigned(path.size()),
                                   LIBSSH2_SFTP_S_IRWXU | LIBSSH2_SFTP_S_IRGRP |
                                       LIBSSH2_SFTP_S_IXGRP | LIBSSH2_SFTP_S_IROTH |
                                       LIBSSH2_SFTP_S_IXOTH);
        break;
    }
    settle(rc);
    if (rc == LIBSSH2_ERROR_EAGAIN)
        return Result::Blocked;
    if (rc < 0 && failWith(operation, m_path, rc) == Result::Fatal)
        return Result::Fatal;
    return Result::Done;
}

void SftpPathJob::abandon(const QString &reason)
{
    const SftpOperation operation = m_kind == Kind::RemoveFile ? SftpOperation::Remove
                                    : m_kind == Kind::RemoveDirectory
                                        ? SftpOperation::RemoveDirectory
                                        : SftpOperation::CreateDirectory;
    if (m_error.isEmpty())
        m_error = sftpFailureText(operation, m_path, reason);
}

} // namespace QSsh::Internal
