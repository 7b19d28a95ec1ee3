#pragma once

#include "EditTransfers.h"
#include "FolderJobs.h"
#include "HostKeyReport.h"
#include "OperationRecorder.h"
#include "RemoteReads.h"
#include "SftpChannel.h"
#include "ShellCommandQueue.h"
#include "SshConnection.h"
#include "SshConnectionParameters.h"
#include "SshRemoteProcess.h"
#include "SshTypes.h"
#include "WorkerJobTable.h"

#include <QList>
#include <QMutex>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>
#include <memory>

class QTextDecoder;
class QThread;
class QTimer;

// The one object that talks to the controller: it owns the SSH connection, the remote shell
// and the SFTP channel, lives in a thread of its own, reconnects by itself and deletes itself
// (and its thread) when that thread finishes.
//
// The password goes only to a controller whose host key matches the one recorded for its
// address in the program's known-hosts file (ProgramFiles); a new address has its key recorded.
// sigHostKeyChecked comes just before the connection state report of the same attempt.
class CConnectionForSshClient : public QObject
{
    Q_OBJECT
public:
    explicit CConnectionForSshClient(QString strIp, int nPort, QString strPwd, QString strUser);
    ~CConnectionForSshClient() override;

    void init();
    void quitThread();
    QSharedPointer<QSsh::SftpChannel> getSftpChannel();
    int send(QString strMessage);
    // The transfers of files edited in place; lives in the worker's thread, to be connected to.
    EditTransfers *editTransfers() const { return m_edits; }

private:
    QThread *m_pThread = nullptr;
    bool m_bSshConnected = false;
    bool m_bShellConnected = false;
    // The current SFTP channel has reported itself initialised. The window hears of the
    // channel only once the shell has started too: both are what it needs to work.
    bool m_bSftpInitialized = false;
    // sftpChannelInitialized has gone out for the current connection.
    bool m_bReadyReported = false;
    bool m_bVerifyTransfers = true;

public:
    // Written by the GUI thread, read by the worker thread.
    std::atomic<bool> m_bAutoReconnect{false};

private:
    QTimer *m_pReconnectTimer = nullptr;
    // Bounds the start of the SFTP channel on a connection that is up; see onSftpStartFailed().
    QTimer *m_pSftpStartTimer = nullptr;

public:
    // Fixed at construction; read directly by the GUI thread.
    const QString m_strIp;
    const int m_nPort = -1;

private:
    QString m_strUser;
    QString m_strPwd;
    QString m_strIpPort;
    // Chosen in the constructor (GUI thread), read only in the worker thread after init.
    const QString m_strKnownHostsFile;
    QSsh::SshConnectionParameters m_sshParams;
    QSsh::SshConnection *m_pSshConnection = nullptr;
    QSharedPointer<QSsh::SshRemoteProcess> m_shell;
    QSharedPointer<QSsh::SftpChannel> m_sftp; // guarded by m_sftpMutex
    mutable QMutex m_sftpMutex;
    // Carries an incomplete UTF-8 sequence at the end of one piece of shell output over to
    // the next piece; one per shell.
    std::unique_ptr<QTextDecoder> m_shellDecoder;
    // Everything typed into the shell goes through it, one line at a time.
    ShellCommandQueue *m_shellInput = nullptr;
    // Hidden temporaries of uploads that a lost connection cut short, removed (as jobs of the
    // worker's own) once the next channel is ready.
    QStringList m_uploadLeftovers;
    // Replacements that a lost connection cut off halfway, set right on the next channel before
    // it is reported ready, so that nothing the window asks for meets them half done.
    QList<QSsh::SftpInterruptedReplacement> m_interruptedReplacements;
    int m_nRecoveriesRunning = 0;
    // The jobs the worker started for itself or for requests that answer with a signal of their
    // own instead of sftpJobFinished, the transfers announced with sftpTransferStarted and not
    // yet finished, and the remote reads under way.
    WorkerJobTable m_jobs;
    FolderJobs *m_folders = nullptr;
    RemoteReads *m_reads = nullptr;
    EditTransfers *m_edits = nullptr;
    // Writes every file operation to the controller's history.
    OperationRecorder *m_records = nullptr;

signals:
    void sigInitForClild();
    void sigConnectStateChanged(bool bState, QString strIp, int nPort);
    void sigDataArrived(QString strMsg, QString strIp, int nPort);
    void sftpChannelInitialized();
    void sftpJobFinished(QSsh::SftpJobId job, QString error);
    // A line sent with slotSend was not typed into the shell while the shell was up: too long,
    // or the shell was busy with an earlier command for too long. Its output never comes.
    void sigSendFailed(QString strMsg, QString error);
    // A new address had its key recorded (or could not), or the controller's key was refused,
    // or the known-hosts file could not be used; see HostKeyReport.
    void sigHostKeyChecked(HostKeyReport report);
    // An upload or download has started as job; name is the remote file's name, bytesTotal the
    // size if known (0 otherwise). Its progress follows as sftpTransferProgress, its end as
    // sftpJobFinished.
    void sftpTransferStarted(QSsh::SftpJobId job, QString name, quint64 bytesTotal);
    void sftpTransferProgress(QSsh::SftpJobId job, quint64 bytesDone, quint64 bytesTotal);
    // The transfer has its content complete and checks it against the other side's.
    void sftpTransferVerifying(QSsh::SftpJobId job);
    // Just after a transfer's sftpJobFinished: its content was checked (a Mismatch failed it),
    // or, verification being off, a successful transfer was not.
    void sftpTransferVerified(QSsh::SftpJobId job, QString name, QSsh::SftpVerification result);
    void sftpTransferUnverified(QSsh::SftpJobId job, QString name);
    // The controller's history file cannot be written (said once); operations go on.
    void sigHistoryUnwritable(QString reason);
    // slotCancelTransfers has asked the channel to stop job; its sftpJobFinished follows.
    void sftpTransferCancelling(QSsh::SftpJobId job);
    // The answer to slotRenameRemotePath: an empty error means the entry has its new name.
    void sigRenameFinished(QString oldPath, QString newPath, QString error);
    // The answer to slotReadRemoteFile: the contents on success (empty error), else the
    // reason; fileSize is the remote file's size where known (-1 otherwise), also on failure.
    void sigRemoteFileRead(quint64 request, QByteArray data, qint64 fileSize, QString error);
    // An upload to remotePath that a lost connection had cut off while it replaced the file by
    // renaming it aside has been set right (outcome), or could not be (error; the old content
    // may then be under backupPath).
    void sigReplacementRecovered(QString remotePath, QString backupPath, QSsh::SftpRecovery outcome,
                                 QString error);
    // The answer to slotHashRemoteFile: 32 bytes and the file's size on success (empty error).
    void sigRemoteFileHashed(quint64 request, QByteArray sha256, qint64 fileSize, QString error);
    // The answer to slotListRemoteTree: the entries on success (empty error), else the reason.
    void sigRemoteTreeListed(quint64 request, QSsh::SftpTree entries, QString error);

public slots:
    void slotResetConnection(QString strIpPort);
    void slotSend(QString strIpPort, QString strMessage);
    void slotSend(QString strMsg);
    void slotSendByQByteArray(QString strIpPort, QByteArray arrMsg);
    void slotDisconnected();
    void slotDataReceived();
    void slotUploadFile(QString localPath, QString remotePath);
    void slotDeleteRemotePath(QString path, QString type);
    void slotDownloadFile(QString remotePath, QString localPath);
    void slotCreateRemoteFolder(QString remotePath);
    // Stops every transfer that is running or waiting.
    void slotCancelTransfers();
    // Whether uploads and downloads started from now on check their content end to end
    // (SftpChannel::setVerifyTransfers); on until switched off.
    void slotSetVerifyTransfers(bool verify);
    void slotRenameRemotePath(QString oldPath, QString newPath);
    // Reads a remote file of at most maxSize bytes into memory, for a look at it: not a file
    // operation, so it is answered by sigRemoteFileRead alone, never by sftpJobFinished.
    void slotReadRemoteFile(quint64 request, QString remotePath, qint64 maxSize);
    // The requester no longer wants the answer: the read stops and nothing is sent back.
    void slotCancelRemoteRead(quint64 request);
    // The SHA-256 of a remote file (SftpChannel::hashFile), answered by sigRemoteFileHashed
    // alone.
    void slotHashRemoteFile(quint64 request, QString remotePath);
    // Lists a remote path and everything inside it (SftpChannel::listTree), for a look at it:
    // answered by sigRemoteTreeListed alone.
    void slotListRemoteTree(quint64 request, QString remotePath);
    // The requester no longer wants the listing: it stops and nothing is sent back.
    void slotCancelRemoteTreeListing(quint64 request);
    // A folder upload: creates remoteFolders in their order (parents first; one that exists
    // already is taken as it is), then uploads each of localFiles to the remote path at the
    // same index, each as slotUploadFile does. Should a folder fail, or Cancel come first, the
    // files are not sent and each is reported failed.
    void slotUploadTree(QStringList remoteFolders, QStringList localFiles, QStringList remoteFiles);
    // A folder download: creates localFolders (parents first), then downloads each of
    // remoteFiles to the local path at the same index, each as slotDownloadFile does.
    void slotDownloadTree(QStringList localFolders, QStringList remoteFiles,
                          QStringList localFiles);

private slots:
    void slotInitForClild();
    void slotCreateConnection();
    void slotConnected();
    void slotThreadFinished();
    void slotSshConnectError(QSsh::SshError sshError);
    void slotShellStart();
    void slotShellError();
    void slotShellClosed(int exitStatus);
    void onSftpChannelReady();

private:
    QString addressKey() const;
    void setSftp(const QSharedPointer<QSsh::SftpChannel> &channel);
    QSharedPointer<QSsh::SftpChannel> readySftpChannel() const;
    void onSftpChannelError(const QString &reason);
    // The connection is up but its SFTP channel did not start (refused, or no answer in time).
    void onSftpStartFailed(const QString &reason);
    void onSftpJobFinished(const QObject *channel, QSsh::SftpJobId job, const QString &error);
    void onSftpTransferProgress(QSsh::SftpJobId job, quint64 bytesDone, quint64 bytesTotal);
    // Forgets the jobs of a channel that is gone; requests of the worker's own get an answer.
    void forgetJobsOf(const QObject *channel);
    void announceTransfer(QSsh::SftpChannel *channel, QSsh::SftpJobId job,
                          OperationRecorder::Operation operation, const QString &remotePath,
                          const QString &localPath, quint64 bytesTotal);
    // The channel for a request answered by sftpJobFinished; null, with that answer given, when
    // it is not ready.
    QSharedPointer<QSsh::SftpChannel> sftpForRequest(const char *request);
    // Runs the request as an SFTP job, whatever the path's name; as the shell command only when
    // no job can start (no SFTP channel is ready while the shell is up).
    void startOrFallBack(OperationRecorder::Operation operation, const QString &path,
                         const QString &command, const std::function<QSsh::SftpJobId()> &sftpJob);
    void sendFallbackCommand(const QString &command, const char *debugPrefix);
    void onShellLineSent(ShellCommandQueue::Origin origin);
    void onShellLineFailed(ShellCommandQueue::Origin origin, const QByteArray &line,
                           const QString &error);
    void releaseShellAndChannel();
    void startRecoveries();
    // Reports the channel ready once the shell has started and interrupted work is set right.
    void reportReadyWhenComplete();
    void onSftpFileRead(QSsh::SftpJobId job, const QByteArray &data, qint64 fileSize);
};
