#include "RemoteHash.h"

#include "RemoteFileName.h"

#include <cctype>

namespace QSsh::Internal {

namespace {

// Enough for the hash line of the longest path; a login profile's chatter before it is
// dropped from the front.
constexpr int kMaxOutput = 16 * 1024;
// libssh2 wants the same size for every read of a handle.
constexpr int kReadSize = 256 * 1024;

} // namespace

RemoteHash::RemoteHash(SftpJob &job, const QString &path)
    : m_job(job), m_path(path), m_input(remoteNameToBytes(path) + '\0')
{
    // A name cannot hold a NUL; sha256sum would be given two names, SFTP refuses it as it is.
    if (m_input.indexOf('\0') != m_input.size() - 1)
        m_phase = Phase::OpenFile;
}

RemoteHash::~RemoteHash()
{
    if (m_job.m_context && m_job.m_context->session)
        m_job.m_context->session->abandonChannelOpen(&m_job, false);
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
    if (m_cancelRequested && !m_channelCallPending && !m_job.insideCall())
        stopForCancel();
    switch (m_phase) {
    case Phase::OpenChannel:
    case Phase::StartCommand:
    case Phase::SendPath:
    case Phase::SendEof:
    case Phase::ReadOutput:
    case Phase::AwaitClose:
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
        setPhase(Phase::CloseFile);
        break;
    case Phase::CloseFile:
        break; // the handle goes first
    default:
        freeChannel();
        setPhase(Phase::Done);
        break;
    }
    m_cancelRequested = false;
    m_cancelled = true;
}

SftpJob::Result RemoteHash::stepCommand()
{
    SshSession *const session = m_job.m_context->session;
    if (!session->mayUseTransport(&m_job))
        return SftpJob::Result::Idle;
    switch (m_phase) {
    case Phase::OpenChannel: {
        // Waits for its turn, and for a channel of the connection's budget to be free.
        if (!session->beginChannelOpen(&m_job))
            return SftpJob::Result::Idle;
        m_channel = libssh2_channel_open_session(session->handle());
        const int rc = session->track(&m_job, m_channel ? 0 : session->lastErrno());
        m_channelCallPending = rc == LIBSSH2_ERROR_EAGAIN;
        if (rc == LIBSSH2_ERROR_EAGAIN)
            return SftpJob::Result::Blocked;
        session->endChannelOpen(&m_job, m_channel != nullptr);
        if (SshSession::isSessionError(rc))
            return SftpJob::Result::Fatal;
        if (!m_channel)
            return fallBack("the controller opens no command channel");
        setPhase(Phase::StartCommand);
        return SftpJob::Result::Progress;
    }
    case Phase::StartCommand:
        return afterChannelCall(
            libssh2_channel_process_startup(m_channel, "exec", 4, kCommand, sizeof kCommand - 1),
            Phase::SendPath);
    case Phase::SendPath: {
        const ssize_t n = libssh2_channel_write(m_channel, m_input.constData() + m_inputSent,
                                                size_t(m_input.size() - m_inputSent));
        if (n <= 0) // no room in the channel's window yet
            return afterChannelCall(n == 0 ? LIBSSH2_ERROR_EAGAIN : int(n), Phase::SendPath);
        session->track(&m_job, 0);
        m_channelCallPending = false;
        m_inputSent += int(n);
        if (m_inputSent == m_input.size())
            setPhase(Phase::SendEof);
        return SftpJob::Result::Progress;
    }
    case Phase::SendEof:
        return afterChannelCall(libssh2_channel_send_eof(m_channel), Phase::ReadOutput);
    case Phase::ReadOutput:
        return readOutput();
    case Phase::AwaitClose:
        return awaitClose();
    default:
        return SftpJob::Result::Done;
    }
}

SftpJob::Result RemoteHash::afterChannelCall(int rc, Phase next)
{
    m_job.m_context->session->track(&m_job, rc);
    m_channelCallPending = rc == LIBSSH2_ERROR_EAGAIN;
    if (rc == LIBSSH2_ERROR_EAGAIN)
        return SftpJob::Result::Blocked;
    if (SshSession::isSessionError(rc))
        return SftpJob::Result::Fatal;
    if (rc < 0)
        return fallBack("the command channel failed");
    setPhase(next);
    return SftpJob::Result::Progress;
}

SftpJob::Result RemoteHash::readOutput()
{
    SshSession *const session = m_job.m_context->session;
    // Asked first: once the end has arrived, everything sent before it is already queued.
    const bool atEnd = libssh2_channel_eof(m_channel);
    char buffer[4096];
    bool progress = false;
    for (const int streamId : {0, SSH_EXTENDED_DATA_STDERR}) {
        for (;;) {
            const ssize_t n = session->track(
                &m_job, int(libssh2_channel_read_ex(m_channel, streamId, buffer, sizeof buffer)));
            if (n == 0 || n == LIBSSH2_ERROR_EAGAIN)
                break;
            if (n < 0)
                return afterChannelCall(int(n), Phase::ReadOutput);
            progress = true;
            if (streamId != 0) {
                qCDebug(lcSsh).noquote() << "sha256sum:" << QString::fromLocal8Bit(buffer, int(n));
                continue;
            }
            m_output.append(buffer, int(n));
            if (m_output.size() > kMaxOutput)
                m_output.remove(0, m_output.size() - kMaxOutput);
        }
    }
    if (!atEnd)
        return progress ? SftpJob::Result::Progress : SftpJob::Result::Blocked;
    setPhase(Phase::AwaitClose);
    return SftpJob::Result::Progress;
}

// The exit status arrives before the controller closes the channel.
SftpJob::Result RemoteHash::awaitClose()
{
    const int rc = m_job.m_context->session->track(&m_job, libssh2_channel_wait_closed(m_channel));
    if (rc == LIBSSH2_ERROR_EAGAIN)
        return SftpJob::Result::Blocked;
    if (SshSession::isSessionError(rc))
        return SftpJob::Result::Fatal;
    const int exitStatus = rc == 0 ? libssh2_channel_get_exit_status(m_channel) : -1;
    freeChannel();
    m_digest = exitStatus == 0 ? digestFromOutput(m_output) : QByteArray();
    if (m_digest.isEmpty())
        return fallBack("sha256sum gave no hash");
    setPhase(Phase::Done);
    return SftpJob::Result::Done;
}

SftpJob::Result RemoteHash::fallBack(const char *why)
{
    qCDebug(lcSsh).noquote() << "Reading" << m_path << "back to hash it:" << why;
    freeChannel();
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
    setPhase(Phase::CloseFile);
    return SftpJob::Result::Progress;
}

void RemoteHash::freeChannel()
{
    m_channelCallPending = false;
    if (LIBSSH2_CHANNEL *const channel = std::exchange(m_channel, nullptr))
        m_job.m_context->session->releaseChannel(channel);
}

void RemoteHash::release(bool immediately)
{
    SshSession *const session = m_job.m_context ? m_job.m_context->session : nullptr;
    if (LIBSSH2_CHANNEL *const channel = std::exchange(m_channel, nullptr)) {
        if (immediately || !session)
            libssh2_channel_free(channel);
        else
            session->releaseChannel(channel);
    }
    if (LIBSSH2_SFTP_HANDLE *const handle = std::exchange(m_handle, nullptr)) {
        if (immediately || !session)
            libssh2_sftp_close_handle(handle);
        else
            session->adoptCleanup([handle] { return libssh2_sftp_close_handle(handle); });
    }
}

} // namespace QSsh::Internal
