#include "SshRemoteProcess.h"

#include "SshLogging.h"
#include "SshSession.h"

#include <QPointer>

#include <cstring>

namespace QSsh {

namespace {

// Wide enough that the remote line editor never wraps a command line (a listing command for
// a deep path runs to hundreds of characters) and that ls never folds its output.
constexpr int kTerminalColumns = 4096;
constexpr int kTerminalRows = 48;
constexpr char kTerminalType[] = "vt100";
// Output read per round, so that a chatty shell cannot starve transfers or the event loop.
constexpr qint64 kReadBudget = 256 * 1024;

} // namespace

class SshRemoteProcess::Private : public SshSession::Client
{
public:
    enum class Phase { NotStarted, Opening, RequestingPty, StartingShell, Running, Closed };

    Private(SshRemoteProcess *q, SshSession *session) : q(q), session(session) {}

    SshSession::Step step() override;
    bool awaitsReply() const override
    {
        return phase == Phase::Opening || phase == Phase::RequestingPty ||
               phase == Phase::StartingShell || !pendingInput.isEmpty();
    }
    void detach(const QString &reason) override;

    SshSession::Step startStep(int rc, Phase next);
    SshSession::Step pump();
    SshSession::Step readStream(int streamId, QByteArray &target, bool &progress);
    void finish(int exitStatus, const QString &reason);
    void postReadyRead(int streamId);
    void postBytesWritten(qint64 count);

    SshRemoteProcess *const q;
    SshSession *session;
    LIBSSH2_CHANNEL *channel = nullptr;
    Phase phase = Phase::NotStarted;
    QByteArray standardOutput;
    QByteArray standardError;
    QByteArray pendingInput;
    bool outputSignalPending = false;
    bool errorSignalPending = false;
};

SshSession::Step SshRemoteProcess::Private::step()
{
    if (!session->mayUseTransport(this))
        return SshSession::Step::Idle;
    LIBSSH2_SESSION *const s = session->handle();
    switch (phase) {
    case Phase::NotStarted:
    case Phase::Closed:
        return SshSession::Step::Idle;
    case Phase::Opening: {
        if (!session->beginChannelOpen(this))
            return SshSession::Step::Idle;
        channel = libssh2_channel_open_session(s);
        const int rc = channel ? 0 : session->lastErrno();
        if (rc != LIBSSH2_ERROR_EAGAIN)
            session->endChannelOpen(this, channel != nullptr);
        const SshSession::Step result = startStep(rc, Phase::RequestingPty);
        if (phase != Phase::RequestingPty)
            return result;
    }
        Q_FALLTHROUGH();
    case Phase::RequestingPty: {
        const int rc = libssh2_channel_request_pty_ex(channel, kTerminalType,
                                                      unsigned(std::strlen(kTerminalType)), nullptr,
                                                      0, kTerminalColumns, kTerminalRows, 0, 0);
        const SshSession::Step result = startStep(rc, Phase::StartingShell);
        if (phase != Phase::StartingShell)
            return result;
    }
        Q_FALLTHROUGH();
    case Phase::StartingShell: {
        const SshSession::Step result = startStep(libssh2_channel_shell(channel), Phase::Running);
        if (phase != Phase::Running)
            return result;
        q->open(QIODevice::ReadWrite | QIODevice::Unbuffered);
        QMetaObject::invokeMethod(
            q, [q = q] { emit q->started(); }, Qt::QueuedConnection);
    }
        Q_FALLTHROUGH();
    case Phase::Running:
        return pump();
    }
    return SshSession::Step::Idle;
}

// One step of starting the shell: advance to next, wait, or give up.
SshSession::Step SshRemoteProcess::Private::startStep(int rc, Phase next)
{
    session->track(this, rc);
    if (rc == LIBSSH2_ERROR_EAGAIN)
        return SshSession::Step::Blocked;
    if (SshSession::isSessionError(rc))
        return SshSession::Step::Fatal;
    if (rc < 0) {
        const QString reason = session->lastErrorText();
        qCWarning(lcSsh).noquote() << "Cannot start the remote shell:" << reason;
        finish(-1, reason);
        return SshSession::Step::Idle;
    }
    phase = next;
    return SshSession::Step::Progress;
}

SshSession::Step SshRemoteProcess::Private::pump()
{
    bool progress = false;
    // Input first: a half sent packet must be completed before anything else is sent, and
    // reading may send a window adjustment.
    while (!pendingInput.isEmpty()) {
        const ssize_t n =
            session->track(this, int(libssh2_channel_write(channel, pendingInput.constData(),
                                                           size_t(pendingInput.size()))));
        if (n == LIBSSH2_ERROR_EAGAIN) {
            // Holding a half sent packet: nothing else may be sent, not even the window
            // adjustment a read can trigger.
            if (!session->mayUseTransport(nullptr))
                return SshSession::Step::Blocked;
            break;
        }
        if (n < 0) {
            if (SshSession::isSessionError(int(n)))
                return SshSession::Step::Fatal;
            finish(-1, session->lastErrorText());
            return SshSession::Step::Idle;
        }
        pendingInput.remove(0, int(n));
        postBytesWritten(n);
        progress = true;
    }

    for (const int streamId : {0, SSH_EXTENDED_DATA_STDERR}) {
        const SshSession::Step result =
            readStream(streamId, streamId == 0 ? standardOutput : standardError, progress);
        if (result != SshSession::Step::Blocked)
            return result;
    }
    if (libssh2_channel_eof(channel)) {
        finish(libssh2_channel_get_exit_status(channel), QString());
        return SshSession::Step::Idle;
    }
    return progress ? SshSession::Step::Progress : SshSession::Step::Blocked;
}

// Reads one stream until libssh2 has nothing more or the round's budget is spent. Returns
// Blocked to let the caller go on; anything else ends the step.
SshSession::Step SshRemoteProcess::Private::readStream(int streamId, QByteArray &target,
                                                       bool &progress)
{
    char buffer[32 * 1024];
    qint64 budget = kReadBudget;
    while (budget > 0) {
        const ssize_t n = session->track(
            this, int(libssh2_channel_read_ex(channel, streamId, buffer, sizeof buffer)));
        if (n > 0) {
            target.append(buffer, int(n));
            postReadyRead(streamId);
            budget -= n;
            progress = true;
            continue;
        }
        if (n == 0 || n == LIBSSH2_ERROR_EAGAIN)
            return SshSession::Step::Blocked;
        if (SshSession::isSessionError(int(n)))
            return SshSession::Step::Fatal;
        finish(-1, session->lastErrorText());
        return SshSession::Step::Idle;
    }
    return SshSession::Step::Progress;
}

void SshRemoteProcess::Private::postReadyRead(int streamId)
{
    bool &pending = streamId == 0 ? outputSignalPending : errorSignalPending;
    if (pending)
        return;
    pending = true;
    QMetaObject::invokeMethod(
        q,
        [q = q, streamId] {
            if (streamId == 0) {
                q->d->outputSignalPending = false;
                // A receiver of the first signal may delete the process.
                const QPointer<SshRemoteProcess> alive(q);
                emit q->readyReadStandardOutput();
                if (alive)
                    emit q->readyRead();
            } else {
                q->d->errorSignalPending = false;
                emit q->readyReadStandardError();
            }
        },
        Qt::QueuedConnection);
}

// Input counts as written once libssh2 has taken it for the channel; what is still buffered
// when the shell ends is dropped and never reported.
void SshRemoteProcess::Private::postBytesWritten(qint64 count)
{
    QMetaObject::invokeMethod(
        q, [q = q, count] { emit q->bytesWritten(count); }, Qt::QueuedConnection);
}

// The shell ended (or never started): release the channel and tell the owner.
void SshRemoteProcess::Private::finish(int exitStatus, const QString &reason)
{
    if (phase == Phase::Closed)
        return;
    if (!reason.isEmpty())
        qCDebug(lcSsh).noquote() << "remote shell closed:" << reason;
    phase = Phase::Closed;
    pendingInput.clear();
    if (channel && session)
        session->releaseChannel(std::exchange(channel, nullptr));
    QMetaObject::invokeMethod(
        q,
        [q = q, exitStatus] {
            const QPointer<SshRemoteProcess> alive(q);
            q->close(); // emits aboutToClose(), whose receivers may delete the process
            if (alive)
                emit q->closed(exitStatus);
        },
        Qt::QueuedConnection);
}

void SshRemoteProcess::Private::detach(const QString &reason)
{
    if (LIBSSH2_CHANNEL *const gone = std::exchange(channel, nullptr))
        session->discard([gone] { return libssh2_channel_free(gone); });
    session = nullptr;
    finish(-1, reason);
}

SshRemoteProcess::SshRemoteProcess(SshSession *session) : d(new Private(this, session))
{
    session->addClient(d);
}

SshRemoteProcess::~SshRemoteProcess()
{
    if (d->session) {
        d->session->removeClient(d);
        d->session->forgetOperation(d);
        d->session->abandonChannelOpen(d, false);
        if (d->channel)
            d->session->releaseChannel(d->channel);
    }
    delete d;
}

void SshRemoteProcess::start()
{
    if (d->phase != Private::Phase::NotStarted || !d->session)
        return;
    d->phase = Private::Phase::Opening;
    d->session->schedule();
}

bool SshRemoteProcess::isRunning() const
{
    return d->phase == Private::Phase::Running;
}

QByteArray SshRemoteProcess::readAllStandardOutput()
{
    return std::exchange(d->standardOutput, QByteArray());
}

QByteArray SshRemoteProcess::readAllStandardError()
{
    return std::exchange(d->standardError, QByteArray());
}

qint64 SshRemoteProcess::bytesAvailable() const
{
    return d->standardOutput.size() + QIODevice::bytesAvailable();
}

void SshRemoteProcess::close()
{
    if (!isOpen())
        return;
    // QIODevice::close() goes on changing the device after its signal, whose receiver may
    // have deleted it; nothing of it is left to reset here but the mode.
    const QPointer<SshRemoteProcess> alive(this);
    emit aboutToClose();
    if (alive)
        setOpenMode(NotOpen);
}

qint64 SshRemoteProcess::readData(char *data, qint64 maxlen)
{
    const qint64 n = qMin<qint64>(maxlen, d->standardOutput.size());
    std::memcpy(data, d->standardOutput.constData(), size_t(n));
    d->standardOutput.remove(0, int(n));
    return n;
}

qint64 SshRemoteProcess::writeData(const char *data, qint64 len)
{
    if (d->phase != Private::Phase::Running || !d->session)
        return -1;
    // Buffered and sent from the event loop; the caller never waits for the network.
    d->pendingInput.append(data, int(len));
    d->session->schedule();
    return len;
}

} // namespace QSsh
