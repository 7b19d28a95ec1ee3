#pragma once

#include "LocalFileReader.h"
#include "SftpJob.h"
#include "SideSftpSession.h"

#include <QByteArray>

#include <deque>
#include <memory>
#include <optional>

namespace QSsh::Internal {

class RemoteCommand;

// Uploads a local file without ever exposing a partial target: the data goes to a hidden
// temporary file beside the target, which replaces the target only after every byte has
// been acknowledged and the handle closed.
//
// The rename of SFTP protocol 3 refuses an existing target. Where the controller's SFTP
// server offers OpenSSH's posix-rename@openssh.com, an existing target is replaced by that
// request (libssh2's own call, or SideSftpSession with libssh2 1.10): one rename(2), so the
// target name always holds either the old or the new content. Otherwise "mv -f" does the same, run
// on the controller through an exec channel of the same session. The command prints a marker only
// when mv succeeded, and its exit status says so too; anything else fails the job, removes the
// temporary and leaves the target alone.
//
// A verifying upload hashes the local data as it reads it and, with the temporary complete,
// compares that with the controller's hash of the temporary: only a match goes on to replace
// the target, a mismatch removes the temporary. A small file is opened for reading as well and
// read back through the same handle before it is closed: one round trip, where opening it
// again costs three.
//
// Only if the controller refuses to open the exec channel does the job fall back to three
// SFTP renames: the target aside to a hidden backup name, the temporary into place, the
// backup removed (or renamed back if the second rename fails). The target name is then
// briefly absent, but the old content is never lost: should the connection go meanwhile, the
// job names what it left (interruptedReplacement()) for SftpRecoveryJob to set right.
//
// A large file's data goes in writes as large as the controller takes, through SideSftpSession
// on a second handle of the temporary, where the controller states its limits; otherwise, and
// for smaller files, through libssh2's handle.
class SftpUploadJob : public SftpJob
{
    Q_GADGET
public:
    // Public so that the meta-object system can name the phases in traces.
    enum class Phase {
        OpenLocal,
        StatTarget,
        OpenTemporary,
        Writing,
        CloseTemporary,
        Verifying,
        RenameIntoPlace,
        PosixReplace,
        ReplaceByCommand,
        MoveTargetAside,
        RenameAfterMoveAside,
        RestoreTarget,
        RemoveBackup,
        CloseAfterFailure,
        RemoveTemporary,
        Done
    };
    Q_ENUM(Phase)

    SftpUploadJob(SftpJobId id, const QString &localPath, const QString &remotePath,
                  bool overwrite);
    ~SftpUploadJob() override;
    Result step() override;
    bool isTransfer() const override { return true; }
    bool isFileTransfer() const override { return true; }
    void abandon(const QString &reason) override;
    bool cancel() override;

    void releaseHandle(bool immediately) override;
    QString leftBehind() const override { return m_leftBehind; }
    std::optional<SftpInterruptedReplacement> interruptedReplacement() const override;

    // ".NAME.part-TAG" in the directory of remotePath.
    static QString sideName(const QString &remotePath, const QString &kind, const QString &tag);
    // The shell command that moves from over to and prints kReplacedMarker on success.
    static QByteArray replaceCommand(const QString &from, const QString &to);
    static constexpr char kReplacedMarker[] = "replaced";
    static constexpr int kMaxNameBytes = 255;

private:
    void setPhase(Phase next) { changePhase(m_phase, next); }

    Result stepPhase();
    QString temporaryThatMayExist() const;
    // Turns a requested cancel into the clean-up of what the job has made so far, unless the
    // replacement of the target is already under way.
    void stopForCancel();
    Result fillAndWrite();
    // Reads local data into the buffer when it runs low; true when that read data, the end or
    // an error.
    bool fillBuffer();
    // After the last byte has been acknowledged: verification or the close of the temporary.
    void finishData();
    // The data through SideSftpSession instead of libssh2, once the temporary is open.
    Result streamData();
    Result openStream();
    void streamFailed(const SideSftpSession::Answer &answer);
    // Ends the stream without waiting for its answers; the temporary is removed as usual.
    void dropStream();
    Result posixReplace();
    Result replaceByCommand();
    bool replaceCallPending() const;
    Result rename(const QString &from, const QString &to, long flags, Phase onSuccess,
                  Phase onFailure);

    LocalFileReader m_reader;
    const QString m_remotePath;
    const QString m_temporaryPath;
    const QString m_backupPath;
    const bool m_overwrite;
    Phase m_phase = Phase::OpenLocal;
    bool m_targetExists = false;
    bool m_readBackInPlace = false; // verified through the handle it was written with
    unsigned long m_permissions = 0644;
    QByteArray m_buffer;
    int m_begin = 0; // first byte not yet acknowledged by the server
    int m_end = 0;   // end of the data read from the local file
    bool m_localAtEnd = false;
    // No more local data: what libssh2 already holds is sent and acknowledged, then the job
    // fails (m_error says why). Closing the handle earlier could cut a request in half.
    bool m_draining = false;
#if !QSSH_NATIVE_POSIX_RENAME
    std::optional<quint32> m_posixRename; // the replacement request, once made
#endif
    enum class Stream { Undecided, Off, Opening, On, Closing };
    Stream m_stream = Stream::Undecided;
    QByteArray m_streamHandle;
    quint32 m_streamRequest = 0; // the open or close under way
    struct StreamWrite
    {
        quint32 request;
        int size;
    };
    std::deque<StreamWrite> m_streamWrites; // unanswered, in the order they were made
    qint64 m_streamInFlight = 0;
    quint64 m_streamOffset = 0;
    std::unique_ptr<RemoteCommand> m_replaceCommand; // "mv -f", once it is under way
    QString m_leftBehind;
    bool m_interruptedAside = false; // abandoned while the target was being renamed aside
};

} // namespace QSsh::Internal
