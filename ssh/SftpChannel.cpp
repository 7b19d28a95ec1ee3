#include "SftpChannel.h"

#include "SftpDownloadJob.h"
#include "SftpJob.h"
#include "SftpReadJob.h"
#include "SftpUploadJob.h"
#include "SshLogging.h"
#include "SshSession.h"

#include <QAtomicInt>
#include <QMetaMethod>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

namespace QSsh {

using Internal::SftpContext;
using Internal::SftpJob;

class SftpChannel::Private : public SshSession::Client
{
public:
    Private(SftpChannel *q, SshSession *session) : q(q) { context.session = session; }

    SshSession::Step step() override;
    bool awaitsReply() const override
    {
        return state() == SftpChannel::Initializing || !jobs.empty();
    }
    void detach(const QString &reason) override;

    SftpChannel::State state() const { return SftpChannel::State(atomicState.loadAcquire()); }
    void setState(SftpChannel::State state) { atomicState.storeRelease(state); }
    SftpJobId addJob(std::unique_ptr<SftpJob> job);
    static SftpJobId nextId();
    // Reports the end of a job: a read's contents (fileRead), then finished().
    void postFinished(const SftpJob &ended);
    SshSession::Step readServerErrors();
    bool progressWanted() const;
    void reportProgress(SftpJob &job);
    // Reports the end of a job that leaves the list, after its last progress report if that
    // is still owed (then as late as the report interval requires).
    void finish(SftpJob &job);
    // Hands the remote side of every open job and of the SFTP session to the session's
    // clean-up queue (or frees it at once when the session is going away).
    void releaseRemote(bool immediately);

    SftpChannel *const q;
    SftpContext context;
    QAtomicInt atomicState = SftpChannel::Closed;
    std::vector<std::unique_ptr<SftpJob>> jobs;
    QStringList leftBehind;
    static constexpr SftpJobId kFirstJobId = 2;
};

SftpJobId SftpChannel::Private::nextId()
{
    // Unique in the process: the connection worker keeps job ids across reconnections, and a
    // new channel must not hand out an id that an old one may still report. The worker reports
    // a request it carried out by a shell command as job 1, so SFTP jobs never take that id
    // (nor SftpInvalidJob, should the counter wrap).
    static QAtomicInteger<SftpJobId> counter(kFirstJobId - 1);
    for (;;) {
        const SftpJobId id = counter.fetchAndAddRelaxed(1) + 1;
        if (id >= kFirstJobId)
            return id;
    }
}

SshSession::Step SftpChannel::Private::step()
{
    SshSession *const session = context.session;
    if (state() == SftpChannel::Initializing) {
        if (!session->mayUseTransport(this))
            return SshSession::Step::Idle;
        LIBSSH2_SFTP *const sftp = libssh2_sftp_init(session->handle());
        const int rc = session->track(this, sftp ? 0 : session->lastErrno());
        if (rc == LIBSSH2_ERROR_EAGAIN)
            return SshSession::Step::Blocked;
        if (!sftp) {
            if (SshSession::isSessionError(rc))
                return SshSession::Step::Fatal;
            const QString reason =
                tr("Cannot start the SFTP subsystem: %1").arg(session->lastErrorText());
            qCWarning(lcSsh).noquote() << reason;
            setState(SftpChannel::Closed);
            QMetaObject::invokeMethod(
                q, [q = q, reason] { emit q->channelError(reason); }, Qt::QueuedConnection);
            return SshSession::Step::Idle;
        }
        context.sftp = sftp;
        setState(SftpChannel::Initialized);
        QMetaObject::invokeMethod(
            q, [q = q] { emit q->initialized(); }, Qt::QueuedConnection);
    }
    if (state() != SftpChannel::Initialized)
        return SshSession::Step::Idle;
    if (session->holdsTransport(this) && readServerErrors() != SshSession::Step::Idle)
        return SshSession::Step::Fatal;

    // Every job gets one step per round, so concurrent jobs interleave. An upload, though,
    // runs alone among the transfers (in the order they were started): with an upload and a
    // download under way together, libssh2 1.10 stalled the SFTP channel now and then.
    // Downloads run together, and removals and folder creations interleave with everything.
    SshSession::Step result = SshSession::Step::Idle;
    bool transferRunning = false;
    bool uploadRunning = false;
    std::optional<quint64> afterFirstJob;
    for (auto it = jobs.begin(); it != jobs.end();) {
        SftpJob *const job = it->get();
        if (job->isTransfer()) {
            const bool upload = job->isUpload();
            // A job inside a call that answered EAGAIN, or holding a partly sent packet, alone
            // may use the SFTP session (or the transport) until that call is through. Benching
            // it would stall every other job and the shell with it, so it always gets its step.
            const bool insideCall = context.owner == job || session->holdsTransport(job);
            if (!insideCall && (uploadRunning || (upload && transferRunning))) {
                ++it;
                continue;
            }
            transferRunning = true;
            uploadRunning = uploadRunning || upload;
        }
        const SftpJob::Result stepped = job->step();
        if (!afterFirstJob)
            afterFirstJob = session->inboundBytes();
        if (job->isTransfer() && stepped != SftpJob::Result::Fatal)
            reportProgress(*job);
        switch (stepped) {
        case SftpJob::Result::Fatal:
            return SshSession::Step::Fatal;
        case SftpJob::Result::Done:
            finish(*job);
            it = jobs.erase(it);
            result = SshSession::Step::Progress;
            continue;
        case SftpJob::Result::Progress:
            result = SshSession::Step::Progress;
            break;
        case SftpJob::Result::Blocked:
            if (result == SshSession::Step::Idle)
                result = SshSession::Step::Blocked;
            break;
        case SftpJob::Result::Idle:
            break;
        }
        ++it;
    }
    // Jobs that wait for window room, or for another job, make no call that reads the socket,
    // so the window adjustment or the keepalive answer they wait for would stay unread.
    if (result == SshSession::Step::Idle && !jobs.empty() &&
        readServerErrors() == SshSession::Step::Fatal)
        return SshSession::Step::Fatal;
    // What was read after the first job ran may be what it, or another, waits for: they all
    // go again.
    if (afterFirstJob && session->inboundBytes() != *afterFirstJob)
        return SshSession::Step::Progress;
    return result;
}

// Reads what the SFTP server writes to its standard error, and with it whatever else waits in
// the socket. Returns Fatal when the session broke, otherwise Idle.
SshSession::Step SftpChannel::Private::readServerErrors()
{
    SshSession *const session = context.session;
    if (!session->mayUseTransport(this))
        return SshSession::Step::Idle;
    char buffer[1024];
    for (;;) {
        const ssize_t n = session->track(
            this, int(libssh2_channel_read_stderr(libssh2_sftp_get_channel(context.sftp), buffer,
                                                  sizeof buffer)));
        if (n <= 0)
            return n < 0 && SshSession::isSessionError(int(n)) ? SshSession::Step::Fatal
                                                               : SshSession::Step::Idle;
        qCWarning(lcSsh).noquote() << "SFTP server:" << QString::fromLocal8Bit(buffer, int(n));
    }
}

void SftpChannel::Private::postFinished(const SftpJob &ended)
{
    const SftpJobId job = ended.id();
    const QString error = ended.error();
    if (const auto *read = dynamic_cast<const Internal::SftpReadJob *>(&ended)) {
        QMetaObject::invokeMethod(
            q,
            [q = q, job, data = read->data(), size = read->fileSize()] {
                emit q->fileRead(job, data, size);
            },
            Qt::QueuedConnection);
    }
    if (!error.isEmpty())
        qCWarning(lcSsh).noquote() << "SFTP job" << job << "failed:" << error;
    QMetaObject::invokeMethod(
        q, [q = q, job, error] { emit q->finished(job, error); }, Qt::QueuedConnection);
}

bool SftpChannel::Private::progressWanted() const
{
    static const QMetaMethod signal = QMetaMethod::fromSignal(&SftpChannel::transferProgress);
    return q->isSignalConnected(signal);
}

void SftpChannel::Private::reportProgress(SftpJob &job)
{
    quint64 done = 0;
    quint64 total = 0;
    if (!progressWanted() || !job.takeProgressReport(&done, &total))
        return;
    QMetaObject::invokeMethod(
        q, [q = q, id = job.id(), done, total] { emit q->transferProgress(id, done, total); },
        Qt::QueuedConnection);
}

void SftpChannel::Private::finish(SftpJob &job)
{
    if (!job.owesFinalReport() || !progressWanted()) {
        postFinished(job);
        return;
    }
    // The whole size is reported before the end, and never sooner than the report interval
    // after the previous report: the end waits for it, by less than that interval.
    const qint64 delay = job.msUntilReportDue();
    quint64 done = 0;
    quint64 total = 0;
    job.takeFinalReport(&done, &total);
    QTimer::singleShot(delay, q, [q = q, id = job.id(), done, total] {
        emit q->transferProgress(id, done, total);
        emit q->finished(id, QString());
    });
}

SftpJobId SftpChannel::Private::addJob(std::unique_ptr<SftpJob> job)
{
    const SftpJobId id = job->id();
    jobs.push_back(std::move(job));
    context.session->schedule();
    return id;
}

void SftpChannel::Private::releaseRemote(bool immediately)
{
    for (const auto &job : jobs)
        job->releaseHandle(immediately);
    if (LIBSSH2_SFTP *const sftp = std::exchange(context.sftp, nullptr)) {
        if (immediately || !context.session)
            libssh2_sftp_shutdown(sftp);
        else
            context.session->adoptCleanup([sftp] { return libssh2_sftp_shutdown(sftp); });
    }
}

void SftpChannel::Private::detach(const QString &reason)
{
    releaseRemote(true);
    for (const auto &job : jobs) {
        job->abandon(reason);
        const QString file = job->leftBehind();
        if (!file.isEmpty())
            leftBehind.append(file);
        postFinished(*job);
    }
    jobs.clear();
    context.session = nullptr;
    context.owner = nullptr;
    const bool wasOpen = state() != SftpChannel::Closed;
    setState(SftpChannel::Closed);
    if (wasOpen)
        QMetaObject::invokeMethod(
            q, [q = q] { emit q->closed(); }, Qt::QueuedConnection);
}

SftpChannel::SftpChannel(SshSession *session) : d(new Private(this, session))
{
    session->addClient(d);
}

SftpChannel::~SftpChannel()
{
    if (d->context.session) {
        d->context.session->removeClient(d);
        d->context.session->forgetOperation(d);
        d->releaseRemote(false);
    }
    d->jobs.clear();
    delete d;
}

SftpChannel::State SftpChannel::state() const
{
    return d->state();
}

void SftpChannel::initialize()
{
    if (d->state() != Closed || d->context.sftp)
        return;
    if (!d->context.session || d->context.session->state() != SshConnection::Connected) {
        QMetaObject::invokeMethod(
            this, [this] { emit channelError(tr("Not connected.")); }, Qt::QueuedConnection);
        return;
    }
    d->setState(Initializing);
    d->context.session->schedule();
}

void SftpChannel::closeChannel()
{
    if (d->state() == Closed)
        return;
    for (const auto &job : d->jobs) {
        job->abandon(tr("SFTP channel closed."));
        d->postFinished(*job);
    }
    if (d->context.session)
        d->releaseRemote(false);
    d->jobs.clear();
    d->setState(Closed);
    QMetaObject::invokeMethod(
        this, [this] { emit closed(); }, Qt::QueuedConnection);
}

QStringList SftpChannel::takeLeftBehindFiles()
{
    return std::exchange(d->leftBehind, {});
}

SftpJobId SftpChannel::uploadFile(const QString &localFilePath, const QString &remoteFilePath,
                                  SftpOverwriteMode mode)
{
    if (d->state() != Initialized || mode == SftpAppendToExisting)
        return SftpInvalidJob;
    return d->addJob(std::make_unique<Internal::SftpUploadJob>(
        d->nextId(), d->context, localFilePath, remoteFilePath, mode == SftpOverwriteExisting));
}

SftpJobId SftpChannel::downloadFile(const QString &remoteFilePath, const QString &localFilePath,
                                    SftpOverwriteMode mode)
{
    if (d->state() != Initialized || mode == SftpAppendToExisting)
        return SftpInvalidJob;
    return d->addJob(std::make_unique<Internal::SftpDownloadJob>(
        d->nextId(), d->context, remoteFilePath, localFilePath, mode == SftpOverwriteExisting));
}

SftpJobId SftpChannel::removeFile(const QString &path)
{
    if (d->state() != Initialized)
        return SftpInvalidJob;
    return d->addJob(std::make_unique<Internal::SftpPathJob>(
        d->nextId(), d->context, Internal::SftpPathJob::Kind::RemoveFile, path));
}

SftpJobId SftpChannel::removeDirectory(const QString &path)
{
    if (d->state() != Initialized)
        return SftpInvalidJob;
    return d->addJob(std::make_unique<Internal::SftpPathJob>(
        d->nextId(), d->context, Internal::SftpPathJob::Kind::RemoveDirectory, path));
}

SftpJobId SftpChannel::createDirectory(const QString &path)
{
    if (d->state() != Initialized)
        return SftpInvalidJob;
    return d->addJob(std::make_unique<Internal::SftpPathJob>(
        d->nextId(), d->context, Internal::SftpPathJob::Kind::CreateDirectory, path));
}

SftpJobId SftpChannel::renamePath(const QString &oldPath, const QString &newPath)
{
    if (d->state() != Initialized)
        return SftpInvalidJob;
    return d->addJob(std::make_unique<Internal::SftpPathJob>(
        d->nextId(), d->context, Internal::SftpPathJob::Kind::Rename, oldPath, newPath));
}

void SftpChannel::cancelJob(SftpJobId job)
{
    const auto it = std::find_if(d->jobs.begin(), d->jobs.end(),
                                 [job](const auto &candidate) { return candidate->id() == job; });
    if (it == d->jobs.end())
        return;
    if ((*it)->cancel()) {
        d->postFinished(**it);
        d->jobs.erase(it);
    } else if (d->context.session) {
        d->context.session->schedule();
    }
}

SftpJobId SftpChannel::readFile(const QString &remoteFilePath, qint64 maxSize)
{
    if (d->state() != Initialized)
        return SftpInvalidJob;
    return d->addJob(
        std::make_unique<Internal::SftpReadJob>(d->nextId(), d->context, remoteFilePath, maxSize));
}

} // namespace QSsh
