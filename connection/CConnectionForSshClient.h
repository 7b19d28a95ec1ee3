#pragma once

#include "SftpChannel.h"
#include "SshConnection.h"
#include "SshConnectionParameters.h"
#include "SshRemoteProcess.h"
#include "SshTypes.h"

#include <QMutex>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
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
// The host key signals below come just before the connection state report of the same attempt.
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

private:
    QThread *m_pThread = nullptr;
    bool m_bSshConnected = false;
    bool m_bShellConnected = false;
    // The current SFTP channel has reported itself initialised. The window hears of the
    // channel only once the shell has started too: both are what it needs to work.
    bool m_bSftpInitialized = false;

public:
    // Written by the GUI thread, read by the worker thread.
    std::atomic<bool> m_bAutoReconnect{false};

private:
    QTimer *m_pReconnectTimer = nullptr;

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
    // Bytes handed to the current shell, and those of them that have gone out on its channel.
    qint64 m_nShellBytesQueued = 0;
    qint64 m_nShellBytesSent = 0;
    // Shell-route commands not yet reported: where each one ends in the shell's byte count.
    QVector<qint64> m_pendingFallbacks;
    // Hidden temporaries of uploads that a lost connection cut short, removed once the next
    // channel is ready; and the removals under way, whose reports are this worker's own.
    QStringList m_uploadLeftovers;
    struct LeftoverRemoval
    {
        const QObject *channel;
        QSsh::SftpJobId job;
        QString path; // empty once the path went back to m_uploadLeftovers
    };
    QVector<LeftoverRemoval> m_leftoverRemovals;

signals:
    void sigInitForClild();
    void sigConnectStateChanged(bool bState, QString strIp, int nPort);
    void sigDataArrived(QString strMsg, QString strIp, int nPort);
    void sftpChannelInitialized();
    void sftpJobFinished(QSsh::SftpJobId job, QString error);
    // A new address: its key (type and SHA-256 fingerprint) was added to the known-hosts file,
    // or, with strError, could not be; the connection goes on either way.
    void sigHostKeyRecorded(QString strIp, QString strKey, QString strKnownHostsFile,
                            QString strError);
    // The controller showed another key than the one recorded on line nLine of the known-hosts
    // file: the attempt failed and the password was not sent.
    void sigHostKeyRefused(QString strIp, QString strRecordedKey, QString strOfferedKey,
                           QString strKnownHostsFile, int nLine);
    // The known-hosts file could not be read (nLine 0) or line nLine is not a known-hosts line:
    // nothing could be checked, the attempt failed and the password was not sent.
    void sigKnownHostsUnusable(QString strIp, QString strKnownHostsFile, int nLine,
                               QString strError);

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

private slots:
    void slotInitForClild();
    void slotCreateConnection();
    void slotConnected();
    void slotThreadFinished();
    void slotSshConnectError(QSsh::SshError sshError);
    void slotShellStart();
    void slotShellError();
    void slotShellClosed(int exitStatus);
    void slotShellBytesWritten(qint64 bytes);
    void onSftpChannelReady();
    void onSftpJobFinished(QSsh::SftpJobId job, const QString &error);

private:
    QString addressKey() const;
    void setSftp(const QSharedPointer<QSsh::SftpChannel> &channel);
    QSharedPointer<QSsh::SftpChannel> readySftpChannel() const;
    void onSftpChannelError(const QString &reason);
    void reportHostKeyRefusal(const QSsh::HostKeyCheck &check);
    void sendFallbackCommand(const QString &command, const char *debugPrefix);
    void failPendingFallbacks();
    void releaseShellAndChannel();
};
