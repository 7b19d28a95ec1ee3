#include "SftpChannel.h"

#include "SftpDownloadJob.h"
#include "SftpHashJob.h"
#include "SftpJob.h"
#include "SftpReadJob.h"
#include "SftpRecoveryJob.h"
#include "SftpTreeJob.h"
#include "SftpUploadJob.h"
#include "SideSftpSession.h"
#include "SshLogging.h"
#include "SshSession.h"

#include <QAtomicInt>
#include <QElapsedTimer>
#include <QMetaMethod>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <optional>
#include <vector>

namespace QSsh {

using Internal::SftpContext;
using Internal::SftpJob;
using Internal::SideSftpSession;

namespace {

// SFTP sessions of one channel: the first opens with the channel, the others as jobs wait for
// one; they stay open until the channel closes.
constexpr int kMaxSessions = 6;
// Channels left to the rest of the connection when another session would be opened: one for
// our own SFTP session, two for command channels (of uploads that replace by "mv -f", of
// transfers that have the controller hash their file). Jobs wait for a free one beyond that.
constexpr int kChannelsLeftOver = 3;
// How long one round steps jobs at most (a job's step may take SftpJob::kStepBudgetMs).
constexpr qint64 kRoundBudgetMs = 2 * Internal::SftpJob::kStepBudgetMs;

} // namespace

// Jobs run side by side, each on an SFTP session of its own. libssh2 keeps the progress of an
// SFTP call per session, and it may finish a call while a write packet of an upload is only
// partly sent (when the channel's window runs out in the middle of it; Dropbear's whole
// window is smaller than one packet), sending the rest with the next write. A request of any
// other job on the same session would land inside that packet: the server takes it for file
// data and waits for the rest of the packet, which never comes, since the other job now waits
// for its answer first. Sessions of their own keep the byte streams of jobs apart, and let the
// round trips of many jobs overlap.
class SftpChannel::Private : public SshSession::Client
{
public:
    // One SFTP session: its own channel, byte stream, window and libssh2 call state.
    struct Lane
    {
        SftpContext context;
        bool open = false;
        SftpJob *job = nullptr;
    };

    Private(SftpChannel *q, SshSession *session) : q(q), session(session) {}

    SshSession::Step step() override;
    bool awaitsReply() const override;
    void detach(const QString &reason) override;

    SftpChannel::State state() const { return SftpChannel::State(atomicState.loadAcquire()); }
    void setState(SftpChannel::State state) { atomicState.storeRelease(state); }
    std::unique_ptr<Lane> makeLane() const;
    SshSession::Step openLane(Lane &lane);
    // Gives waiting jobs the sessions that are free; true when a job still waits that another
    // session could take.
    bool placeWaitingJobs();
    bool mayOpenAnotherLane() const;
    SftpJobId addJob(std::unique_ptr<SftpJob> job);
    void removeJob(const SftpJob *job);
    static SftpJobId nextId();
    // Reports the end of a job: a read's contents (fileRead) or a tree's entries (treeListed),
    // then finished().
    void postFinished(const SftpJob &ended);
    SshSession::Step readServerErrors(Lane &lane);
    bool progressWanted() const;
    void reportProgress(SftpJob &job);
    // Reports the end of a job that leaves the list, after its last progress report if that
    // is still owed (then as late as the report interval requires).
    void finish(SftpJob &job);
    // Hands the remote side of every open job and SFTP session to the session's clean-up
    // queue (or frees it at once when the session is going away).
    void releaseRemote(bool immediately);
    void abandonJobs(const QString &reason);

    SftpChannel *const q;
    SshSession *session;
    QAtomicInt atomicState = SftpChannel::Closed;
    bool verifyTransfers = false;
    std::unique_ptr<SideSftpSession> side;
    std::vector<std::unique_ptr<Lane>> lanes;   // the last one may still be opening
    std::vector<std::unique_ptr<SftpJob>> jobs; // in the order they were started
    int laneLimit = kMaxSessions;
    size_t nextLane = 0; // the one whose job steps first in the next round
    QStringList leftBehind;
    QList<SftpInterruptedReplacement> interrupted;
};

SftpJobId SftpChannel::Private::nextId()
{
    // Unique in the process: the connection worker keeps job ids across reconnections, and a
    // new channel must not hand out an id that an old one may still report. Neither
    // SftpInvalidJob nor SftpReservedJob is ever given, not even once the counter wraps.
    static QAtomicInteger<SftpJobId> counter(SftpReservedJob);
    for (;;) {
        const SftpJobId id = counter.fetchAndAddRelaxed(1) + 1;
        if (id != SftpInvalidJob && id != SftpReservedJob)
            return id;
    }
}

std::unique_ptr<SftpChannel::Private::Lane> SftpChannel::Private::makeLane() const
{
    auto lane = std::make_unique<Lane>();
    lane->context.session = session;
    lane->context.side = side.get();
    return lane;
}

bool SftpChannel::Private::awaitsReply() const
{
    if (side && side->awaitsReply())
        return true;
    return state() == SftpChannel::Initializing || !jobs.empty() ||
           (!lanes.empty() && !lanes.back()->open);
}

SshSession::Step SftpChannel::Private::openLane(Lane &lane)
{
    if (!session->mayUseTransport(&lane) || !session->beginChannelOpen(&lane))
        return SshSession::Step::Idle;
    LIBSSH2_SFTP *const sftp = libssh2_sftp_init(session->handle());
    const int rc = session->track(&lane, sftp ? 0 : session->lastErrno());
    if (rc == LIBSSH2_ERROR_EAGAIN)
        return SshSession::Step::Blocked;
    session->endChannelOpen(&lane, sftp != nullptr);
    if (sftp) {
        lane.context.sftp = sftp;
        lane.open = true;
        qCDebug(lcSsh) << "SFTP session" << lanes.size() << "of the channel open;"
                       << session->channelsInUse() << "channels in use";
        if (state() == SftpChannel::Initializing) {
            setState(SftpChannel::Initialized);
            QMetaObject::invokeMethod(
                q, [q = q] { emit q->initialized(); }, Qt::QueuedConnection);
        }
        return SshSession::Step::Progress;
    }
    if (SshSession::isSessionError(rc))
        return SshSession::Step::Fatal;
    const QString reason = session->lastErrorText();
    session->forgetOperation(&lane);
    lanes.pop_back(); // the lane that opens is always the last
    if (state() == SftpChannel::Initializing) {
        const QString text = tr("Cannot start the SFTP subsystem: %1").arg(reason);
        qCWarning(lcSsh).noquote() << text << "(libssh2 error" << rc << ")";
        setState(SftpChannel::Closed);
        QMetaObject::invokeMethod(
            q, [q = q, text] { emit q->channelError(text); }, Qt::QueuedConnection);
        return SshSession::Step::Idle;
    }
    // The controller allows no more sessions on this connection: the jobs share these.
    laneLimit = int(lanes.size());
    qCDebug(lcSsh).noquote() << "SFTP session" << lanes.size() + 1 << "refused (" + reason + ");"
                             << "jobs share" << lanes.size();
    return SshSession::Step::Progress;
}

bool SftpChannel::Private::placeWaitingJobs()
{
    // Uploads and downloads leave a session to the other jobs, so that a removal, a new folder
    // or a preview never waits for a long transfer.
    const int transferLanes = qMax(1, laneLimit - 1);
    int transfers = int(std::count_if(lanes.cbegin(), lanes.cend(), [](const auto &lane) {
        return lane->job && lane->job->isFileTransfer();
    }));
    for (const auto &job : jobs) {
        if (job->isAttached() || (job->isFileTransfer() && transfers >= transferLanes))
            continue;
        const auto free = std::find_if(lanes.cbegin(), lanes.cend(),
                                       [](const auto &lane) { return lane->open && !lane->job; });
        if (free == lanes.cend())
            return true;
        (*free)->job = job.get();
        job->attach((*free)->context);
        transfers += job->isFileTransfer() ? 1 : 0;
    }
    return false;
}

bool SftpChannel::Private::mayOpenAnotherLane() const
{
    return !lanes.empty() && lanes.back()->open && int(lanes.size()) < laneLimit &&
           session->channelsInUse() < SshSession::kMaxChannels - kChannelsLeftOver;
}

SshSession::Step SftpChannel::Private::step()
{
    if (!session || state() == SftpChannel::Closed)
        return SshSession::Step::Idle;
    SshSession::Step result = SshSession::Step::Idle;
    const auto note = [&result](SshSession::Step step) {
        if (step == SshSession::Step::Progress ||
            (step == SshSession::Step::Blocked && result == SshSession::Step::Idle))
            result = step;
    };
    if (!lanes.empty() && !lanes.back()->open) {
        const SshSession::Step opened = openLane(*lanes.back());
        if (opened == SshSession::Step::Fatal)
            return opened;
        note(opened);
    }
    if (state() != SftpChannel::Initialized)
        return result;
    if (placeWaitingJobs() && mayOpenAnotherLane()) {
        lanes.push_back(makeLane());
        note(SshSession::Step::Progress);
    }

    // Every job gets one step per round, so concurrent jobs interleave; a round ends early once
    // it has taken its time, and the next goes on from there, so that the event loop and the
    // shell wait no longer with six transfers than with one.
    std::optional<quint64> afterFirstJob;
    Lane *waitingLane = nullptr;
    QElapsedTimer roundTime;
    roundTime.start();
    const size_t first = nextLane % lanes.size();
    nextLane = first + 1;
    for (size_t i = 0; i < lanes.size(); ++i) {
        Lane *const lane = lanes[(first + i) % lanes.size()].get();
        if (i > 0 && roundTime.elapsed() >= kRoundBudgetMs) {
            nextLane = first + i;
            note(SshSession::Step::Progress);
            break;
        }
        if (!lane->open)
            continue;
        if (session->holdsTransport(lane) && readServerErrors(*lane) == SshSession::Step::Fatal)
            return SshSession::Step::Fatal;
        SftpJob *const job = lane->job;
        if (!job)
            continue;
        const SftpJob::Result stepped = job->step();
        if (job->takeVerifyingNotice()) {
            QMetaObject::invokeMethod(
                q, [q = q, id = job->id()] { emit q->transferVerifying(id); },
                Qt::QueuedConnection);
        }
        if (!afterFirstJob)
            afterFirstJob = session->inboundBytes();
        if (job->isTransfer() && stepped != SftpJob::Result::Fatal)
            reportProgress(*job);
        switch (stepped) {
        case SftpJob::Result::Fatal:
            return SshSession::Step::Fatal;
        case SftpJob::Result::Done:
            finish(*job);
            removeJob(job);
            note(SshSession::Step::Progress);
            break;
        case SftpJob::Result::Progress:
            note(SshSession::Step::Progress);
            break;
        case SftpJob::Result::Blocked:
            note(SshSession::Step::Blocked);
            break;
        case SftpJob::Result::Idle:
            waitingLane = lane;
            break;
        }
    }
    if (side) {
        const SshSession::Step answered = side->step();
        if (answered == SshSession::Step::Fatal)
            return answered;
        note(answered);
    }
    // Jobs that wait for window room, or for the replacement session, make no call that reads
    // the socket, so the window adjustment or the answer they wait for would stay unread.
    if (result == SshSession::Step::Idle && waitingLane &&
        readServerErrors(*waitingLane) == SshSession::Step::Fatal)
        return SshSession::Step::Fatal;
    // What was read after the first job ran may be what it, or another, waits for: they all
    // go again.
    if (afterFirstJob && session->inboundBytes() != *afterFirstJob)
        return SshSession::Step::Progress;
    return result;
}

// Reads what the SFTP server of a session writes to its standard error, and with it whatever
// else waits in the socket. Returns Fatal when the session broke, otherwise Idle.
SshSession::Step SftpChannel::Private::readServerErrors(Lane &lane)
{
    if (!session->mayUseTransport(&lane))
        return SshSession::Step::Idle;
    char buffer[1024];
    for (;;) {
        const ssize_t n = session->track(
            &lane, int(libssh2_channel_read_stderr(libssh2_sftp_get_channel(lane.context.sftp),
                                                   buffer, sizeof buffer)));
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
    const auto *tree = dynamic_cast<const Internal::SftpTreeJob *>(&ended);
    if (tree && tree->mode() == Internal::SftpTreeJob::Mode::List && error.isEmpty()) {
        QMetaObject::invokeMethod(
            q, [q = q, job, entries = tree->entries()] { emit q->treeListed(job, entries); },
            Qt::QueuedConnection);
    }
    const auto *hash = dynamic_cast<const Internal::SftpHashJob *>(&ended);
    if (hash && error.isEmpty()) {
        QMetaObject::invokeMethod(
            q,
            [q = q, job, digest = hash->digest(), size = hash->fileSize()] {
                emit q->fileHashed(job, digest, size);
            },
            Qt::QueuedConnection);
    }
    const auto *recovery = dynamic_cast<const Internal::SftpRecoveryJob *>(&ended);
    if (recovery && error.isEmpty()) {
        QMetaObject::invokeMethod(
            q,
            [q = q, job, outcome = recovery->outcome()] {
                emit q->replacementRecovered(job, outcome);
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
    // A check that matched is reported only for a job that then succeeds.
    const std::optional<SftpVerification> &verification = job.verification();
    if (verification &&
        (verification->outcome == SftpVerification::Outcome::Mismatch || job.error().isEmpty())) {
        QMetaObject::invokeMethod(
            q,
            [q = q, id = job.id(), result = *verification] {
                emit q->transferVerified(id, result);
            },
            Qt::QueuedConnection);
    }
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
    session->schedule();
    return id;
}

void SftpChannel::Private::removeJob(const SftpJob *job)
{
    for (const auto &lane : lanes) {
        if (lane->job == job)
            lane->job = nullptr;
    }
    jobs.erase(std::find_if(jobs.begin(), jobs.end(),
                            [job](const auto &candidate) { return candidate.get() == job; }));
    if (session)
        session->schedule(); // a waiting job may take the session
}

void SftpChannel::Private::releaseRemote(bool immediately)
{
    for (const auto &job : jobs)
        job->releaseHandle(immediately);
    for (const auto &lane : lanes) {
        session->forgetOperation(lane.get());
        if (!immediately && !lane->open)
            session->abandonChannelOpen(lane.get(), true);
        if (LIBSSH2_SFTP *const sftp = std::exchange(lane->context.sftp, nullptr)) {
            if (immediately)
                session->discard([sftp] { return libssh2_sftp_shutdown(sftp); });
            else
                session->releaseSftp(sftp);
        }
    }
    if (side) {
        if (immediately)
            side->detach();
        else
            side->release();
    }
}

void SftpChannel::Private::abandonJobs(const QString &reason)
{
    for (const auto &job : jobs) {
        job->abandon(reason);
        const QString file = job->leftBehind();
        if (!file.isEmpty())
            leftBehind.append(file);
        if (const auto replacement = job->interruptedReplacement())
            interrupted.append(*replacement);
        postFinished(*job);
    }
    jobs.clear();
    lanes.clear();
    side.reset();
}

void SftpChannel::Private::detach(const QString &reason)
{
    releaseRemote(true);
    for (const auto &lane : lanes)
        lane->context.session = nullptr;
    abandonJobs(reason);
    session = nullptr;
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
    if (d->session) {
        d->session->removeClient(d);
        d->releaseRemote(false);
    }
    d->jobs.clear();
    d->lanes.clear();
    delete d; // the replacement session, if any, goes after them
}

SftpChannel::State SftpChannel::state() const
{
    return d->state();
}

void SftpChannel::initialize()
{
    if (d->state() != Closed || !d->lanes.empty())
        return;
    if (!d->session || d->session->state() != SshConnection::Connected) {
        QMetaObject::invokeMethod(
            this, [this] { emit channelError(tr("Not connected.")); }, Qt::QueuedConnection);
        return;
    }
    d->side = std::make_unique<SideSftpSession>(d->session);
    d->lanes.push_back(d->makeLane());
    d->setState(Initializing);
    d->session->schedule();
}

void SftpChannel::closeChannel()
{
    if (d->state() == Closed)
        return;
    if (d->session)
        d->releaseRemote(false);
    d->abandonJobs(tr("SFTP channel closed."));
    d->setState(Closed);
    QMetaObject::invokeMethod(
        this, [this] { emit closed(); }, Qt::QueuedConnection);
}

QStringList SftpChannel::takeLeftBehindFiles()
{
    return std::exchange(d->leftBehind, {});
}

QList<SftpInterruptedReplacement> SftpChannel::takeInterruptedReplacements()
{
    return std::exchange(d->interrupted, {});
}

SftpJobId SftpChannel::recoverReplacement(const SftpInterruptedReplacement &replacement)
{
    if (d->state() != Initialized)
        return SftpInvalidJob;
    return d->addJob(std::make_unique<Internal::SftpRecoveryJob>(d->nextId(), replacement));
}

SftpJobId SftpChannel::uploadFile(const QString &localFilePath, const QString &remoteFilePath,
                                  SftpOverwriteMode mode)
{
    if (d->state() != Initialized || mode == SftpAppendToExisting)
        return SftpInvalidJob;
    auto job = std::make_unique<Internal::SftpUploadJob>(d->nextId(), localFilePath, remoteFilePath,
                                                         mode == SftpOverwriteExisting);
    job->setVerify(d->verifyTransfers);
    return d->addJob(std::move(job));
}

SftpJobId SftpChannel::downloadFile(const QString &remoteFilePath, const QString &localFilePath,
                                    SftpOverwriteMode mode)
{
    if (d->state() != Initialized || mode == SftpAppendToExisting)
        return SftpInvalidJob;
    auto job = std::make_unique<Internal::SftpDownloadJob>(
        d->nextId(), remoteFilePath, localFilePath, mode == SftpOverwriteExisting);
    job->setVerify(d->verifyTransfers);
    return d->addJob(std::move(job));
}

SftpJobId SftpChannel::removeFile(const QString &path)
{
    if (d->state() != Initialized)
        return SftpInvalidJob;
    return d->addJob(std::make_unique<Internal::SftpPathJob>(
        d->nextId(), Internal::SftpPathJob::Kind::RemoveFile, path));
}

SftpJobId SftpChannel::removeDirectory(const QString &path)
{
    if (d->state() != Initialized)
        return SftpInvalidJob;
    return d->addJob(std::make_unique<Internal::SftpPathJob>(
        d->nextId(), Internal::SftpPathJob::Kind::RemoveDirectory, path));
}

SftpJobId SftpChannel::removeTree(const QString &path)
{
    if (d->state() != Initialized)
        return SftpInvalidJob;
    return d->addJob(std::make_unique<Internal::SftpTreeJob>(
        d->nextId(), Internal::SftpTreeJob::Mode::Remove, path));
}

SftpJobId SftpChannel::listTree(const QString &path)
{
    if (d->state() != Initialized)
        return SftpInvalidJob;
    return d->addJob(std::make_unique<Internal::SftpTreeJob>(
        d->nextId(), Internal::SftpTreeJob::Mode::List, path));
}

SftpJobId SftpChannel::createDirectory(const QString &path)
{
    if (d->state() != Initialized)
        return SftpInvalidJob;
    return d->addJob(std::make_unique<Internal::SftpPathJob>(
        d->nextId(), Internal::SftpPathJob::Kind::CreateDirectory, path));
}

SftpJobId SftpChannel::renamePath(const QString &oldPath, const QString &newPath)
{
    if (d->state() != Initialized)
        return SftpInvalidJob;
    return d->addJob(std::make_unique<Internal::SftpPathJob>(
        d->nextId(), Internal::SftpPathJob::Kind::Rename, oldPath, newPath));
}

void SftpChannel::cancelJob(SftpJobId job)
{
    const auto it = std::find_if(d->jobs.begin(), d->jobs.end(),
                                 [job](const auto &candidate) { return candidate->id() == job; });
    if (it == d->jobs.end())
        return;
    if ((*it)->cancel()) {
        d->postFinished(**it);
        d->removeJob(it->get());
    } else if (d->session) {
        d->session->schedule();
    }
}

SftpJobId SftpChannel::readFile(const QString &remoteFilePath, qint64 maxSize)
{
    if (d->state() != Initialized)
        return SftpInvalidJob;
    return d->addJob(std::make_unique<Internal::SftpReadJob>(d->nextId(), remoteFilePath, maxSize));
}

void SftpChannel::setVerifyTransfers(bool verify)
{
    d->verifyTransfers = verify;
}

bool SftpChannel::verifiesTransfers() const
{
    return d->verifyTransfers;
}

SftpJobId SftpChannel::hashFile(const QString &remoteFilePath)
{
    if (d->state() != Initialized)
        return SftpInvalidJob;
    return d->addJob(std::make_unique<Internal::SftpHashJob>(d->nextId(), remoteFilePath));
}

} // namespace QSsh
