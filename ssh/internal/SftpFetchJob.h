#pragma once

#include "SftpJob.h"

namespace QSsh::Internal {

// A job that fetches one remote file: it looks the file up, following symbolic links, opens it,
// reads it to its end and closes it. A download keeps the data in a local file
// (SftpDownloadJob), a remote read in memory (SftpReadJob); both look the file up and open it
// alike, and both fail and cancel alike. Only a regular file is opened: the SFTP server would
// wait for ever in the open of a named pipe, and a device such as /dev/zero never ends.
class SftpFetchJob : public SftpJob
{
    Q_GADGET
public:
    // A download opens its local file first and commits it last, after verifying it if asked
    // to; a remote read starts at StatRemote and has no commit.
    enum class Phase { OpenLocal, StatRemote, OpenRemote, Reading, Close, Verify, Commit, Done };
    Q_ENUM(Phase)

    Result step() final;
    bool cancel() final;
    bool isTransfer() const override { return true; }

protected:
    SftpFetchJob(SftpJobId id, const QString &remotePath, Phase first)
        : SftpJob(id), m_remotePath(remotePath), m_phase(first)
    {}

    Phase phase() const { return m_phase; }
    void setPhase(Phase next) { changePhase(m_phase, next); }

    // One step of a phase that is the job's own: Reading, and a download's OpenLocal, Verify
    // and Commit. The others step here.
    virtual Result stepOwnPhase() = 0;
    // The size the controller reports for the file, before it is opened: a failure text
    // refuses the file.
    virtual QString takeRemoteSize(qint64 size) = 0;
    // The file is open: Reading comes next.
    virtual void prepareReading() = 0;
    // Every byte has arrived and the handle is closed: the job ends, or goes on to Commit.
    virtual Result complete() = 0;
    // Forgets what has been read so far, as the job fails.
    virtual void dropData() = 0;
    // Local work that goes on beside the job (the removal of a dropped file) has ended: only
    // then does the job end.
    virtual bool localWorkFinished() const { return true; }

    // Ends the job with text as its error, unless it has one already: drops the data, and
    // closes the remote handle first if one is open.
    Result fail(const QString &text);
    // A read call that answered rc < 0: Blocked for EAGAIN, Fatal when the session is lost,
    // else the job fails.
    Result readFailed(int rc);
    // The data ended before the size the controller reported.
    Result failEndedEarly(qint64 received, qint64 expected);
    // A cancel ends the job before its handle is closing; from then on it takes its course.
    void stopForCancel();

    const QString m_remotePath;

private:
    Result statRemote();
    Result openRemote();
    Result closeRemote();

    Phase m_phase;
};

} // namespace QSsh::Internal
