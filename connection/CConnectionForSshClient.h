#pragma once

#include "SftpChannel.h"
#include "SshConnection.h"
#include "SshConnectionParameters.h"
#include "SshRemoteProcess.h"
#include "SshTypes.h"

#include <QHash>
#include <QMutex>
#include <QObject>
#include <QSet>
#include <QSharedPointer>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class QTextDecoder;
class QThread;
class QTimer;

// The one object that talks to the controller: it owns the SSH connection, the remote shell
// and the SFTP channel, lives in a thread of its own, reconnects by itself and deletes itself
// (and its thread) when that thread finishes.
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
    QSsh::SshConnectionParameters m_sshParams;
    QSsh::SshConnection *m_pSshConnection = nullptr;
    QSharedPointer<QSsh::SshRemoteProcess> m_shell;
    QSharedPointer<QSsh::SftpChannel> m_sftp; // guarded by m_sftpMutex
    mutable QMutex m_sftpMutex;
    // Carries an incomplete UTF-8 sequence at the end of one piece of shell output over to
    // the next piece; one per shell.
    std::unique_ptr<QTextDecoder> m_shellDecoder;

    // SFTP jobs the worker answers itself instead of reporting them as sftpJobFinished: the
    // channel that runs each and what to do with its end.
    struct OwnJob
    {
        const QObject *channel = nullptr;
        std::function<void(const QString &error)> answer;
    };
    QHash<QSsh::SftpJobId, OwnJob> m_ownJobs;
    // Own jobs of a channel given up before they ended: answered already, so their late end
    // is dropped, not forwarded.
    QSet<QPair<const QObject *, QSsh::SftpJobId>> m_abandonedOwnJobs;
    // Remote reads under way, by job: the requester's number and what the job delivered.
    struct RemoteRead
    {
        quint64 request = 0;
        QByteArray data;
        qint64 fileSize = -1;
        bool dropped = false; // the requester has gone; nothing is sent back
    };
    QHash<QSsh::SftpJobId, RemoteRead> m_remoteReads;

signals:
    void sigInitForClild();
    void sigConnectStateChanged(bool bState, QString strIp, int nPort);
    void sigDataArrived(QString strMsg, QString strIp, int nPort);
    void sftpChannelInitialized();
    void sftpJobFinished(QSsh::SftpJobId job, QString error);
    // The answer to slotReadRemoteFile: the contents on success (empty error), else the
    // reason; fileSize is the remote file's size where known (-1 otherwise), also on failure.
    void sigRemoteFileRead(quint64 request, QByteArray data, qint64 fileSize, QString error);

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
    // Reads a remote file of at most maxSize bytes into memory, for a look at it: not a file
    // operation, so it is answered by sigRemoteFileRead alone, never by sftpJobFinished.
    void slotReadRemoteFile(quint64 request, QString remotePath, qint64 maxSize);
    // The requester no longer wants the answer: the read stops and nothing is sent back.
    void slotCancelRemoteRead(quint64 request);

private slots:
    void slotInitForClild();
    void slotCreateConnection();
    void slotConnected();
    void slotThreadFinished();
    void slotSshConnectError(QSsh::SshError sshError);
    void slotShellStart();
    void slotShellError();
    // Every end of an SFTP job comes here: own jobs are answered, all others forwarded.
    void slotSftpJobFinished(QSsh::SftpJobId job, QString error);

private:
    QString addressKey() const;
    void setSftp(const QSharedPointer<QSsh::SftpChannel> &channel);
    QSharedPointer<QSsh::SftpChannel> readySftpChannel() const;
    void onSftpChannelError(const QString &reason);
    void sendFallbackCommand(const QString &command, const char *debugPrefix);
    void onSftpFileRead(QSsh::SftpJobId job, const QByteArray &data, qint64 fileSize);
    // Answers, with an error, the own jobs of every channel other than `current`.
    void abandonOwnJobs(const QObject *current);
};
