#pragma once

#include "SshTypes.h"

#include <QObject>
#include <QString>
#include <QStringList>

namespace QSsh {

class SshSession;

// An SFTP channel. Jobs run side by side, each on an SFTP session of its own: the channel
// opens further sessions on the same connection as jobs wait for one (up to six, and never
// more channels on the connection than an SSH server allows by default), and keeps one of them
// free of uploads and downloads for the other jobs. Each started job ends with exactly one
// finished(job, error), the error empty on success and never empty on failure.
//
// Transfers never leave a truncated target: an upload writes a temporary file beside the
// target and renames it over the target once complete; a download writes a temporary local
// file and renames it over the target once complete.
//
// Job ids are unique in the whole process, so ids of a closed channel are never reused by
// the next one. No job is ever given SftpReservedJob.
//
// Everything but state() is to be called in the thread the channel lives in.
class SftpChannel : public QObject
{
    Q_OBJECT
public:
    enum State { Closed = 0, Initializing = 1, Initialized = 2, Closing = 3 };
    Q_ENUM(State)

    ~SftpChannel() override;

    // Thread-safe: may be called from any thread.
    State state() const;

    void initialize();
    void closeChannel();

    SftpJobId uploadFile(const QString &localFilePath, const QString &remoteFilePath,
                         SftpOverwriteMode mode);
    SftpJobId downloadFile(const QString &remoteFilePath, const QString &localFilePath,
                           SftpOverwriteMode mode);
    SftpJobId removeFile(const QString &path);
    SftpJobId removeDirectory(const QString &path);
    // Removes path with everything inside it, depth first; links are removed as links and
    // never followed. A failure ends the job at once: its error names the entry that could not
    // be removed (its full remote path) and why, and whatever was not removed yet stays as it
    // was. A path that is a file or a link is removed as such; one that does not exist fails.
    // cancelJob() stops it at its next safe point, with what is removed staying removed.
    SftpJobId removeTree(const QString &path);
    // Lists path and, when it is a folder, everything inside it, without following links:
    // treeListed(job, entries) and then finished(job, error). The path itself comes first (with
    // an empty relative path), and every folder before what it holds. A path that does not
    // exist gives no entries and no error. cancelJob() ends it early, without treeListed().
    SftpJobId listTree(const QString &path);
    SftpJobId createDirectory(const QString &path);
    // Gives a file or folder a new name; an entry that already holds the new name stays as it
    // is and the job fails.
    SftpJobId renamePath(const QString &oldPath, const QString &newPath);

    // Stops a job, in whatever state it is, leaving the files as they were: an upload leaves
    // the controller's target untouched and removes its temporary, a download leaves the local
    // target untouched. The job ends with finished() and a non-empty error, at once if it had
    // not begun, else at its next safe point (the session stays usable). A job past its point
    // of no return (an upload that has sent the replacement of its target, a download that
    // is putting its file in place) finishes as it would have and reports its real outcome.
    // Unknown or ended jobs are ignored.
    void cancelJob(SftpJobId job);

    // Remote files that uploads cut short by the loss of the connection may have left behind
    // (their hidden temporaries), for the owner to remove once connected again. Empties the
    // list.
    QStringList takeLeftBehindFiles();
    // Replacements that uploads cut short by the loss of the connection left halfway, for the
    // owner to set right with recoverReplacement() once connected again. Empties the list.
    QList<SftpInterruptedReplacement> takeInterruptedReplacements();
    // Puts the old content back under the target's name if the name is free, or else removes
    // what the finished replacement left; replacementRecovered() then says which, before
    // finished().
    SftpJobId recoverReplacement(const SftpInterruptedReplacement &replacement);

    // Reads a remote file into memory: fileRead(job, data, size) and then finished(job, error).
    // A file larger than maxSize fails without being fetched. cancelJob() ends it early.
    SftpJobId readFile(const QString &remoteFilePath, qint64 maxSize);

    // Uploads and downloads started from now on check their content end to end before putting
    // it in place: the SHA-256 of what was sent or received against the controller's, computed
    // by its sha256sum on an exec channel of its own (the path reaching it as data, never as
    // command text) or by reading its copy back (a file of at most 256 KiB, which one read
    // brings back quicker than a command, or a controller without sha256sum). Only a match is
    // put in place; a mismatch fails the job and leaves both targets as they were. Off until set.
    void setVerifyTransfers(bool verify);
    bool verifiesTransfers() const;
    // The SHA-256 of a remote regular file, computed as verification does: fileHashed(job,
    // sha256, size) and then finished(job, error); size is -1 when the controller gave none.
    // cancelJob() ends it early.
    SftpJobId hashFile(const QString &remoteFilePath);

signals:
    void initialized();
    void channelError(const QString &reason);
    void closed();
    void finished(QSsh::SftpJobId job, const QString &error = QString());
    // A transfer's progress, at most 10 reports a second per job, only ever growing; a
    // successful transfer's last report comes before its finished() and carries the whole
    // size. bytesTotal is 0 while the size is not known. Reports are made only while
    // something is connected to this signal.
    void transferProgress(QSsh::SftpJobId job, quint64 bytesDone, quint64 bytesTotal);
    // The end of a readFile job, just before its finished(): the contents on success (else
    // empty) and the file's size as far as it is known (-1 when not).
    void fileRead(QSsh::SftpJobId job, const QByteArray &data, qint64 fileSize);
    // The entries a listTree job found, just before its successful finished().
    void treeListed(QSsh::SftpJobId job, const QSsh::SftpTree &entries);
    // A verifying transfer has its content complete and is checking it.
    void transferVerifying(QSsh::SftpJobId job);
    // A verifying transfer's check, just before its finished(): a Mismatch job then fails; a
    // Verified one is reported only when it then succeeds (a target that could not be replaced
    // after the check fails the job without this signal).
    void transferVerified(QSsh::SftpJobId job, const QSsh::SftpVerification &result);
    // The end of a hashFile job, just before its successful finished(): 32 bytes.
    void fileHashed(QSsh::SftpJobId job, const QByteArray &sha256, qint64 size);
    // A recoverReplacement job has succeeded, just before its finished().
    void replacementRecovered(QSsh::SftpJobId job, QSsh::SftpRecovery outcome);

private:
    friend class SshSession;
    explicit SftpChannel(SshSession *session);
    class Private;
    Private *d;
};

} // namespace QSsh
