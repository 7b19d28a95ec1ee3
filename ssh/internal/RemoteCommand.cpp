#include "RemoteCommand.h"

namespace QSsh::Internal {

namespace {

constexpr int kMaxOutput = 16 * 1024;
constexpr int kMaxErrors = 4 * 1024;

} // namespace

RemoteCommand::RemoteCommand(SftpContext &context, const void *operation, const QByteArray &command,
                             const QByteArray &input)
    : m_context(context), m_operation(operation), m_command(command), m_input(input)
{}

RemoteCommand::~RemoteCommand()
{
    if (m_context.session) {
        m_context.session->abandonChannelOpen(m_operation, false);
        m_context.session->endCommand(this);
    }
    release(false);
}

SftpJob::Result RemoteCommand::step()
{
    SshSession *const session = m_context.session;
    if (!session->mayUseTransport(m_operation))
        return SftpJob::Result::Idle;
    switch (m_phase) {
    case Phase::Open: {
        if (!session->beginCommand(this) || !session->beginChannelOpen(m_operation))
            return SftpJob::Result::Idle;
        m_channel = libssh2_channel_open_session(session->handle());
        const int rc = session->track(m_operation, m_channel ? 0 : session->lastErrno());
        m_callPending = rc == LIBSSH2_ERROR_EAGAIN;
        if (rc == LIBSSH2_ERROR_EAGAIN)
            return SftpJob::Result::Blocked;
        session->endChannelOpen(m_operation, m_channel != nullptr);
        if (SshSession::isSessionError(rc))
            return SftpJob::Result::Fatal;
        if (!m_channel) {
            m_failure = session->lastErrorText();
            return end(Outcome::Refused);
        }
        m_phase = Phase::Start;
        return SftpJob::Result::Progress;
    }
    case Phase::Start:
        return afterCall(libssh2_channel_process_startup(m_channel, "exec", 4,
                                                         m_command.constData(),
                                                         unsigned(m_command.size())),
                         m_input.isEmpty() ? Phase::SendEof : Phase::SendInput);
    case Phase::SendInput: {
        const ssize_t n = libssh2_channel_write(m_channel, m_input.constData() + m_inputSent,
                                                size_t(m_input.size() - m_inputSent));
        if (n <= 0) // no room in the channel's window yet
            return afterCall(n == 0 ? LIBSSH2_ERROR_EAGAIN : int(n), Phase::SendInput);
        m_inputSent += int(n);
        return afterCall(0, m_inputSent == m_input.size() ? Phase::SendEof : Phase::SendInput);
    }
    case Phase::SendEof:
        return afterCall(libssh2_channel_send_eof(m_channel), Phase::Read);
    case Phase::Read:
        return read();
    case Phase::AwaitClose:
        return awaitClose();
    case Phase::Done:
        break;
    }
    return SftpJob::Result::Done;
}

SftpJob::Result RemoteCommand::afterCall(int rc, Phase next)
{
    m_context.session->track(m_operation, rc);
    m_callPending = rc == LIBSSH2_ERROR_EAGAIN;
    if (rc == LIBSSH2_ERROR_EAGAIN)
        return SftpJob::Result::Blocked;
    if (SshSession::isSessionError(rc))
        return SftpJob::Result::Fatal;
    if (rc < 0) {
        m_failure = m_context.session->lastErrorText();
        return end(Outcome::Failed);
    }
    m_phase = next;
    return SftpJob::Result::Progress;
}

SftpJob::Result RemoteCommand::read()
{
    // Asked first: once the end has arrived, everything sent before it is already queued.
    const bool atEnd = libssh2_channel_eof(m_channel);
    char buffer[4096];
    bool progress = false;
    for (const int streamId : {0, SSH_EXTENDED_DATA_STDERR}) {
        for (;;) {
            const ssize_t n = m_context.session->track(
                m_operation,
                int(libssh2_channel_read_ex(m_channel, streamId, buffer, sizeof buffer)));
            if (n == 0 || n == LIBSSH2_ERROR_EAGAIN)
                break;
            if (n < 0)
                return afterCall(int(n), Phase::Read);
            progress = true;
            // Enough for what the callers look at; a flood is drained, not kept.
            if (streamId == 0) {
                m_output.append(buffer, int(n));
                if (m_output.size() > kMaxOutput)
                    m_output.remove(0, m_output.size() - kMaxOutput);
            } else if (m_errors.size() < kMaxErrors) {
                m_errors.append(buffer, int(n));
            }
        }
    }
    if (!atEnd)
        return progress ? SftpJob::Result::Progress : SftpJob::Result::Blocked;
    m_phase = Phase::AwaitClose;
    return SftpJob::Result::Progress;
}

// The exit status arrives before the controller closes the channel.
SftpJob::Result RemoteCommand::awaitClose()
{
    const int rc = m_context.session->track(m_operation, libssh2_channel_wait_closed(m_channel));
    if (rc == LIBSSH2_ERROR_EAGAIN)
        return SftpJob::Result::Blocked;
    if (SshSession::isSessionError(rc))
        return SftpJob::Result::Fatal;
    m_exitStatus = rc == 0 ? libssh2_channel_get_exit_status(m_channel) : -1;
    return end(Outcome::Exited);
}

SftpJob::Result RemoteCommand::end(Outcome outcome)
{
    release(false);
    m_context.session->endCommand(this);
    m_outcome = outcome;
    m_phase = Phase::Done;
    return SftpJob::Result::Done;
}

void RemoteCommand::release(bool immediately)
{
    m_callPending = false;
    LIBSSH2_CHANNEL *const channel = std::exchange(m_channel, nullptr);
    if (!channel)
        return;
    if (!m_context.session)
        libssh2_channel_free(channel);
    else if (immediately)
        m_context.session->discard([channel] { return libssh2_channel_free(channel); });
    else
        m_context.session->releaseChannel(channel);
}

} // namespace QSsh::Internal
