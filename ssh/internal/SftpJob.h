#pragma once

#include "SftpErrorText.h"
#include "SshLogging.h"
#include "SshSession.h"
#include "SshTypes.h"

#include <QElapsedTimer>
#include <QMetaEnum>
#include <QString>

#include <functional>
#include <memory>
#include <optional>

#include <libssh2.h>
#include <libssh2_sftp.h>

// libssh2 1.11 replaces a file with OpenSSH's posix-rename@openssh.com itself
// (libssh2_sftp_posix_rename_ex); with 1.10 a session of our own does (SideSftpSession).
#define QSSH_NATIVE_POSIX_RENAME (LIBSSH2_VERSION_NUM >= 0x010b00)

namespace QSsh::Internal {

class SideSftpSession;
class RemoteHash;
class Sha256;

// One SFTP session of the channel and what its job shares with the rest of the channel.
// libssh2 keeps the progress of a blocked call in state of the whole SFTP session (read, write
// and open states, a write packet it has sent only in part), so a call that answered EAGAIN
// must be repeated, by the same job, before anything else may call into that SFTP session.
// owner is that job. Each session runs one job at a time, which keeps to that by itself.
struct SftpContext
{
    SshSession *session = nullptr;
    LIBSSH2_SFTP *sftp = nullptr;
    const void *owner = nullptr;
#if QSSH_NATIVE_POSIX_RENAME
    // The controller's SFTP server answered posix-rename@openssh.com as unsupported.
    bool posixRenameRefused = false;
#endif
    // Our own SFTP session, shared by libssh2's: large writes and, with libssh2 1.10, the
    // replacement of files in one request, where the controller offers them.
    SideSftpSession *side = nullptr;
};

// One SFTP job: a state machine advanced by the channel, one bounded step at a time, until
// it is done. A job ends exactly once, with an empty error on success. It waits until the
// channel gives it an SFTP session of its own (attach()), and keeps that session to the end.
class SftpJob
{
public:
    // The most to ask of one libssh2_sftp_read(). libssh2 keeps read requests for four times
    // the buffer in flight and, where its count of the receive window is below that, widens
    // the window by eight times as much, while its own channel reads keep three quarters of
    // the initial window granted. A window adjustment of those reads that a key exchange held
    // up is completed later as if the window were still narrow: once widened in between, it
    // wraps round to some 4 GiB, and OpenSSH's sshd drops the connection at the next
    // adjustment ("adjust ... overflows remote window"), a download of gigabytes failing
    // part way. Four buffers within those three quarters never widen it.
    static constexpr int kLongestRead = LIBSSH2_CHANNEL_WINDOW_DEFAULT / 4 * 3 / 4;

    static constexpr qint64 kStepBudgetMs = 4;
    // Progress reports of one transfer are at least this far apart.
    static constexpr qint64 kProgressIntervalMs = 100;

    enum class Result { Idle, Progress, Blocked, Fatal, Done };

    explicit SftpJob(SftpJobId id);
    virtual ~SftpJob();
    SftpJob(const SftpJob &) = delete;
    SftpJob &operator=(const SftpJob &) = delete;

    SftpJobId id() const { return m_id; }
    QString error() const { return m_error; }

    void attach(SftpContext &context) { m_context = &context; }
    bool isAttached() const { return m_context != nullptr; }
    // Only once attached.
    virtual Result step() = 0;
    // Uploads, downloads and reads hold a file handle with requests in flight for a long time.
    virtual bool isTransfer() const { return false; }
    // Uploads and downloads may keep their SFTP session for minutes: the channel keeps one
    // session for the other jobs.
    virtual bool isFileTransfer() const { return false; }
    // The connection is gone: drop local work (temporary files) and record the reason.
    // Remote handles are freed through releaseHandle().
    virtual void abandon(const QString &reason) = 0;
    // Frees the open remote handle, if any: with the session when it is going away
    // (immediately, see SshSession::discard()), otherwise as a cleanup task of the session.
    virtual void releaseHandle(bool immediately);
    // After abandon(): a remote file of this job that the lost connection may have left
    // behind and that is safe to remove later, or an empty text.
    virtual QString leftBehind() const { return QString(); }
    // After abandon(): a replacement of a remote file that the lost connection cut off halfway,
    // to be set right once connected again, or nothing.
    virtual std::optional<SftpInterruptedReplacement> interruptedReplacement() const
    {
        return std::nullopt;
    }

    // Asks the job to stop, leaving every file as it was. True when the job has ended at
    // once (done() then holds). Otherwise it stops at its next safe point: never inside a
    // libssh2 call that answered EAGAIN nor with a packet half sent, since the session must
    // stay usable. A job past its point of no return (an upload that has sent its final
    // replacement) finishes as it would have.
    virtual bool cancel() = 0;

    // An upload or download set to verify, before it starts, checks its data against the
    // controller's hash before putting it in place (see SftpChannel::setVerifyTransfers()).
    void setVerify(bool verify);
    // True once, when the check has begun.
    bool takeVerifyingNotice() { return std::exchange(m_verifyingNoticeOwed, false); }
    // The outcome of the check, once there is one.
    const std::optional<SftpVerification> &verification() const { return m_verification; }

    // Progress of a transfer: bytes moved, and the whole size (0 while unknown).
    quint64 bytesDone() const { return m_bytesDone; }
    quint64 bytesTotal() const { return m_bytesTotal; }
    // Throttles the progress reports: true, with the figures, when a report is due. Once every
    // byte has moved, the last report carries the whole size.
    bool takeProgressReport(quint64 *done, quint64 *total);
    // A successful transfer whose last report is still to come, how long until it may go, and
    // the report itself, whether due or not.
    bool owesFinalReport() const;
    qint64 msUntilReportDue() const;
    void takeFinalReport(quint64 *done, quint64 *total);

protected:
    // How much of the channel's send window a call needs before it starts. libssh2 may send
    // a request only in part when the window runs out, and a request left in part (by a
    // handle closed at the end of a download, or by a call that gives up) desynchronises
    // the whole SFTP stream. Writes resume their own partial packets; every other call
    // starts only with room for all its requests.
    enum class WindowNeed { Any, Requests };

    // Claims the SFTP session for the next call; false while another job is inside a
    // blocked call, another operation has a half sent packet, or the window is too small.
    bool acquire(WindowNeed need = WindowNeed::Requests);
    // Accounts for a finished or blocked call. Returns rc.
    int settle(int rc);
    // Renames on the controller, both paths through the one byte mapping of remote names;
    // the caller has acquired the session and settles rc.
    int renameRemote(const QString &from, const QString &to, long flags);
    // Reads the attributes of a remote path (statType LIBSSH2_SFTP_STAT, or LIBSSH2_SFTP_LSTAT
    // not to follow a link), through the same byte mapping; the caller has acquired the
    // session and settles rc.
    int statPath(const QString &path, int statType, LIBSSH2_SFTP_ATTRIBUTES *attributes);
    // A wake-up for work on another thread (the local file's): it schedules the session from
    // any thread, through the session's event loop.
    std::function<void()> wakeFromAnyThread() const;
    // The error code behind a null handle.
    int lastErrno() const { return m_context->session->lastErrno(); }
    // A failure text for rc, which is not EAGAIN and not a session error.
    QString failureText(SftpOperation operation, const QString &path, int rc) const;
    // Result for a negative rc that is not EAGAIN: Fatal for session errors, else Idle after
    // recording the failure text (the caller then moves to its clean-up phase).
    Result failWith(SftpOperation operation, const QString &path, int rc);
    // Closes m_handle: Idle, Blocked or Fatal as usual, else Progress with the server's answer
    // in *rc (negative when it refused; the handle is gone either way).
    Result closeHandle(int *rc);
    Result resultForEagainOrFatal(int rc) const
    {
        return rc == LIBSSH2_ERROR_EAGAIN ? Result::Blocked : Result::Fatal;
    }
    // True while the job is inside a libssh2 call that answered EAGAIN, or holds a partly sent
    // packet: it must finish that call before it may do anything else.
    bool insideCall() const;
    // Repeats call while it progresses and stillInPhase() holds, within a few milliseconds,
    // so that a transfer moves several buffers per step while other jobs, the shell and the
    // event loop still get their turn promptly.
    template <typename Call, typename Predicate>
    static Result repeatWithinBudget(Call call, Predicate stillInPhase)
    {
        QElapsedTimer budget;
        budget.start();
        Result result;
        do {
            result = call();
        } while (result == Result::Progress && stillInPhase() && budget.elapsed() < kStepBudgetMs);
        return result;
    }
    // Moves a job's phase (a Q_ENUM of the job) on to next, traced under cnc.ssh debug. Each
    // job changes its phase only through its setPhase(), which calls this.
    template <typename Phase> void changePhase(Phase &phase, Phase next) const
    {
        if (next == phase)
            return;
        const QMetaEnum phases = QMetaEnum::fromType<Phase>();
        qCDebug(lcSsh).nospace().noquote()
            << "SFTP job " << m_id << ": " << phases.valueToKey(int(phase)) << " -> "
            << phases.valueToKey(int(next)) << " after "
            << QString::number(double(m_inPhase.nsecsElapsed()) / 1e6, 'f', 3) << " ms";
        m_inPhase.start();
        phase = next;
    }

    // The controller's hash of remotePath (RemoteHash), stepped until Done: then m_error is set
    // on a failure or a cancel (cancelRemoteHash()), else *digest and *readBack hold the answer.
    // knownSize: the file's size when the job knows it (see RemoteHash), else -1.
    void startRemoteHash(const QString &remotePath, qint64 knownSize = -1);
    Result stepRemoteHash(const QString &remotePath, QByteArray *digest, bool *readBack);
    void cancelRemoteHash();
    // Verification: the data is hashed as it moves (while verifies()), then compared with the
    // controller's hash: Done once settled, with m_error set on a mismatch as on a failure.
    bool verifies() const { return m_localHash != nullptr; }
    void hashLocalData(const char *data, qint64 size);
    // openHandle: the file, still open for reading, to read back through (see RemoteHash).
    void startVerification(const QString &remotePath, LIBSSH2_SFTP_HANDLE *openHandle = nullptr);
    Result stepVerification(const QString &remotePath);

    const SftpJobId m_id;
    SftpContext *m_context = nullptr;
    LIBSSH2_SFTP_HANDLE *m_handle = nullptr;
    QString m_error;
    bool m_cancelRequested = false;
    quint64 m_bytesDone = 0;
    quint64 m_bytesTotal = 0;
    bool m_dataComplete = false; // every byte has moved

private:
    friend class RemoteHash;

    void recordReport(quint64 *done, quint64 *total);

    std::unique_ptr<Sha256> m_localHash;
    std::unique_ptr<RemoteHash> m_remoteHash;
    std::optional<SftpVerification> m_verification;
    bool m_verifyingNoticeOwed = false;

    QElapsedTimer m_sinceReport;
    mutable QElapsedTimer m_inPhase; // since the last change of phase, for the trace
    quint64 m_reportedDone = 0;
    bool m_finalReported = false;
};

// Removing a file, removing a directory, creating a directory, renaming: one request each.
// A rename never replaces an entry that already holds the new name.
class SftpPathJob : public SftpJob
{
public:
    enum class Kind { RemoveFile, RemoveDirectory, CreateDirectory, Rename };

    SftpPathJob(SftpJobId id, Kind kind, const QString &path, const QString &newPath = QString());
    Result step() override;
    void abandon(const QString &reason) override;
    bool cancel() override;

private:
    SftpOperation operation() const;

    const Kind m_kind;
    const QString m_path;
    const QString m_newPath;
};

} // namespace QSsh::Internal
