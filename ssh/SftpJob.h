#pragma once

#include "SftpErrorText.h"
#include "SshSession.h"
#include "SshTypes.h"

#include <QElapsedTimer>
#include <QString>

#include <libssh2.h>
#include <libssh2_sftp.h>

namespace QSsh::Internal {

// What the jobs of one SFTP channel share. libssh2 keeps the progress of a blocked call in
// state shared by the whole SFTP session and its one channel (read, write and open states,
// the channel's pending write), so a call that answered EAGAIN must be repeated, by the same
// job, before any other job may call into the SFTP session. owner is that job. Jobs still
// interleave: each completed call lets the next job in.
struct SftpContext
{
    SshSession *session = nullptr;
    LIBSSH2_SFTP *sftp = nullptr;
    const void *owner = nullptr;
};

// One SFTP job: a state machine advanced by the channel, one bounded step at a time, until
// it is done. A job ends exactly once, with an empty error on success.
class SftpJob
{
public:
    static constexpr qint64 kStepBudgetMs = 4;

    enum class Result { Idle, Progress, Blocked, Fatal, Done };

    SftpJob(SftpJobId id, SftpContext &context) : m_id(id), m_context(context) {}
    virtual ~SftpJob();
    SftpJob(const SftpJob &) = delete;
    SftpJob &operator=(const SftpJob &) = delete;

    SftpJobId id() const { return m_id; }
    QString error() const { return m_error; }

    virtual Result step() = 0;
    // Uploads and downloads hold a file handle with requests in flight for a long time.
    virtual bool isTransfer() const { return false; }
    virtual bool isUpload() const { return false; }
    // The connection is gone: drop local work (temporary files) and record the reason.
    // Remote handles are freed through releaseHandle().
    virtual void abandon(const QString &reason) = 0;
    // Frees the open remote handle, if any: at once when the session is going away
    // (immediately), otherwise as a cleanup task of the session.
    virtual void releaseHandle(bool immediately);

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
    // The error code behind a null handle.
    int lastErrno() const { return m_context.session->lastErrno(); }
    // A failure text for rc, which is not EAGAIN and not a session error.
    QString failureText(SftpOperation operation, const QString &path, int rc) const;
    // Result for a negative rc that is not EAGAIN: Fatal for session errors, else Idle after
    // recording the failure text (the caller then moves to its clean-up phase).
    Result failWith(SftpOperation operation, const QString &path, int rc);
    // The first two steps of reading a remote file: opening it into m_handle, and looking up
    // the open file (a directory is refused). Each gives Progress once done, Idle, Blocked or
    // Fatal as usual, and Idle with the failure text in *failure when the server refuses.
    Result openForReading(const QString &path, QString *failure);
    Result statOpenFile(const QString &path, LIBSSH2_SFTP_ATTRIBUTES &attributes, QString *failure);
    Result resultForEagainOrFatal(int rc) const
    {
        return rc == LIBSSH2_ERROR_EAGAIN ? Result::Blocked : Result::Fatal;
    }
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

    const SftpJobId m_id;
    SftpContext &m_context;
    LIBSSH2_SFTP_HANDLE *m_handle = nullptr;
    QString m_error;
};

// Removing a file, removing a directory, creating a directory: one request each.
class SftpPathJob : public SftpJob
{
public:
    enum class Kind { RemoveFile, RemoveDirectory, CreateDirectory };

    SftpPathJob(SftpJobId id, SftpContext &context, Kind kind, const QString &path);
    Result step() override;
    void abandon(const QString &reason) override;

private:
    const Kind m_kind;
    const QString m_path;
};

} // namespace QSsh::Internal
