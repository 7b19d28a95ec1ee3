#include "RemoteHash.h"

#include "RemoteCommand.h"
#include "RemoteFileName.h"

#include <cctype>

namespace QSsh::Internal {

namespace {

// libssh2 wants the same size for every read of a handle.
constexpr int kReadSize = int(RemoteHash::kReadBackLimit);

} // namespace

RemoteHash::RemoteHash(SftpJob &job, const QString &path, qint64 knownSize)
    : m_job(job), m_path(path)
{
    const QByteArray name = remoteNameToBytes(path);
    // A name cannot hold a NUL; sha256sum would be given two names, SFTP refuses it as it is.
    if (name.contains('\0') || (knownSize >= 0 && knownSize <= kReadBackLimit))
        m_phase = Phase::OpenFile;
    else
        m_command = std::make_unique<RemoteCommand>(*job.m_context, &job, kCommand, name + '\0');
}

RemoteHash::RemoteHash(SftpJob &job, const QString &path, LIBSSH2_SFTP_HANDLE *openHandle)
    : m_job(job), m_path(path), m_phase(Phase::ReadFile), m_handle(openHandle),
      m_borrowedHandle(true), m_buffer(kReadSize, Qt::Uninitialized)
{
    m_readBack = true;
    // Every request through the handle has been answered: a seek is safe now.
    libssh2_sftp_seek64(openHandle, 0);
}

RemoteHash::~RemoteHash()
{
    release(false);
}

QByteArray RemoteHash::digestFromOutput(const QByteArray &output)
{
    const QByteArray trimmed = output.trimmed();
    QByteArray line = trimmed.mid(trimmed.lastIndexOf('\n') + 1);
    if (line.startsWith('\\'))
        line.remove(0, 1);
    constexpr int kHexDigits = 64;
    if (line.size() <= kHexDigits || line.at(kHexDigits) != ' ')
        return QByteArray();
    const QByteArray hex = line.left(kHexDigits);
    for (const char c : hex) {
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return QByteArray();
    }
    return QByteArray::fromHex(hex);
}

SftpJob::Result RemoteHash::step()
{
    if (m_cancelRequested && !(m_command && m_command->callPending()) && !m_job.insideCall())
        stopForCancel();
    switch (m_phase) {
    case Phase::Command:
        return stepCommand();
    case Phase::OpenFile:
    case Phase::ReadFile:
    case Phase::CloseFile:
        return stepReadBack();
    case Phase::Done:
        break;
    }
    return SftpJob::Result::Done;
}

void RemoteHash::stopForCancel()
{
    switch (m_phase) {
    case Phase::ReadFile:
        setPhase(m_borrowedHandle ? Phase::Done : Phase::CloseFile);
        break;
    case Phase::CloseFile:
        break; // the handle goes first
    default:
        m_command.reset();
        setPhase(Phase::Done);
        break;
    }
    m_cancelRequested = false;
    m_cancelled = true;
}

SftpJob::Result RemoteHash::stepCommand()
{
    const SftpJob::Result result = m_command->step();
    if (result != SftpJob::Result::Done)
        return result;
    const std::unique_ptr<RemoteCommand> command = std::move(m_command);
    switch (command->outcome()) {
    case RemoteCommand::Outcome::Exited:
        if (command->exitStatus() == 0)
            m_digest = digestFromOutput(command->output());
        if (m_digest.isEmpty())
            return fallBack(QStringLiteral("sha256sum gave no hash (exit status %1): %2")
                                .arg(command->exitStatus())
                                .arg(QString::fromLocal8Bit(command->errors().trimmed())));
        setPhase(Phase::Done);
        return SftpJob::Result::Done;
    default:
        return fallBack(command->failure());
    }
}

SftpJob::Result RemoteHash::fallBack(const QString &why)
{
    qCDebug(lcSsh).noquote() << "Reading" << m_path << "back to hash it:" << why;
    m_readBack = true;
    setPhase(Phase::OpenFile);
    return SftpJob::Result::Progress;
}

SftpJob::Result RemoteHash::stepReadBack()
{
    m_readBack = true;
    switch (m_phase) {
    case Phase::OpenFile: {
        if (!m_job.acquire())
            return SftpJob::Result::Idle;
        const QByteArray name = remoteNameToBytes(m_path);
        LIBSSH2_SFTP_HANDLE *const handle =
            libssh2_sftp_open_ex(m_job.m_context->sftp, name.constData(), unsigned(name.size()),
                                 LIBSSH2_FXF_READ, 0, LIBSSH2_SFTP_OPENFILE);
        const int rc = m_job.settle(handle ? 0 : m_job.lastErrno());
        if (rc == LIBSSH2_ERROR_EAGAIN)
            return SftpJob::Result::Blocked;
        if (SshSession::isSessionError(rc))
            return SftpJob::Result::Fatal;
        if (!handle) {
            m_error = m_job.failureText(SftpOperation::OpenForReading, m_path, rc);
            setPhase(Phase::Done);
            return SftpJob::Result::Done;
        }
        m_handle = handle;
        m_buffer.resize(kReadSize);
        setPhase(Phase::ReadFile);
        return SftpJob::Result::Progress;
    }
    case Phase::ReadFile:
        return SftpJob::repeatWithinBudget([this] { return readFile(); },
                                           [this] { return m_phase == Phase::ReadFile; });
    case Phase::CloseFile: {
        if (!m_job.acquire())
            return SftpJob::Result::Idle;
        const int rc = m_job.settle(libssh2_sftp_close_handle(m_handle));
        if (rc == LIBSSH2_ERROR_EAGAIN)
            return SftpJob::Result::Blocked;
        m_handle = nullptr;
        if (SshSession::isSessionError(rc))
            return SftpJob::Result::Fatal;
        m_buffer.clear();
        m_buffer.squeeze();
        setPhase(Phase::Done);
        return SftpJob::Result::Done;
    }
    default:
        return SftpJob::Result::Done;
    }
}

SftpJob::Result RemoteHash::readFile()
{
    if (!m_job.acquire())
        return SftpJob::Result::Idle;
    const ssize_t n =
        m_job.settle(int(libssh2_sftp_read(m_handle, m_buffer.data(), size_t(m_buffer.size()))));
    if (n == LIBSSH2_ERROR_EAGAIN)
        return SftpJob::Result::Blocked;
    if (n < 0) {
        if (SshSession::isSessionError(int(n)))
            return SftpJob::Result::Fatal;
        m_error = m_job.failureText(SftpOperation::Read, m_path, int(n));
    } else if (n > 0) {
        m_readBackHash.addData(m_buffer.constData(), n);
        return SftpJob::Result::Progress;
    } else {
        m_digest = m_readBackHash.result();
    }
    setPhase(m_borrowedHandle ? Phase::Done : Phase::CloseFile);
    return SftpJob::Result::Progress;
}

void RemoteHash::release(bool immediately)
{
    if (m_command)
        m_command->release(immediately);
    SshSession *const session = m_job.m_context ? m_job.m_context->session : nullptr;
    LIBSSH2_SFTP_HANDLE *const handle = std::exchange(m_handle, nullptr);
    if (handle && !m_borrowedHandle) {
        if (!session)
            libssh2_sftp_close_handle(handle);
        else if (immediately)
            session->discard([handle] { return libssh2_sftp_close_handle(handle); });
        else
            session->adoptCleanup([handle] { return libssh2_sftp_close_handle(handle); });
    }
}

} // namespace QSsh::Internal
