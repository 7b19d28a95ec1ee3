#include "CConnectionForSshClient.h"

#include "ProgramFiles.h"
#include "ShellQuoting.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QMetaMethod>
#include <QMutexLocker>
#include <QPointer>
#include <QTextCodec>
#include <QThread>
#include <QTimer>

#include <algorithm>

Q_LOGGING_CATEGORY(lcConnection, "cnc.connection", QtWarningMsg)

namespace {

constexpr int kReconnectIntervalMs = 10000;
constexpr int kConnectTimeoutSeconds = 10;
// An SFTP channel starts within a second or two; one that has not started after this long
// never will on this connection, whose keepalives the controller may still answer.
constexpr int kSftpStartTimeoutMs = 15000;
// Reported for a request carried out by a shell command: its real outcome is the marker the
// command prints.
constexpr QSsh::SftpJobId kShellFallbackJob = QSsh::SftpReservedJob;

const char kDeleteDirectoryCommand[] =
    "rm -rf \"%1\" && echo \"DELETE_SUCCESS\" || echo \"DELETE_FAILED\"\n";
const char kDeleteFileCommand[] =
    "rm -f \"%1\" && echo \"DELETE_SUCCESS\" || echo \"DELETE_FAILED\"\n";
const char kCreateDirectoryCommand[] =
    "mkdir -p \"%1\" && echo \"CREATE_SUCCESS\" || echo \"CREATE_FAILED\"\n";

QString shellCommand(const char *format, const QString &workingPath)
{
    return QString::fromLatin1(format).arg(escapeForDoubleQuotes(workingPath));
}

std::unique_ptr<QTextDecoder> makeUtf8Decoder()
{
    return std::unique_ptr<QTextDecoder>(QTextCodec::codecForMib(106)->makeDecoder());
}
} // namespace

CConnectionForSshClient::CConnectionForSshClient(QString strIp, int nPort, QString strPwd,
                                                 QString strUser)
    : m_strIp(std::move(strIp)), m_nPort(nPort), m_strUser(std::move(strUser)),
      m_strPwd(std::move(strPwd)), m_strIpPort(m_strIp + QLatin1Char(':') + QString::number(nPort)),
      m_strKnownHostsFile(ProgramFiles::knownHostsFile()), m_shellDecoder(makeUtf8Decoder()),
      m_shellInput(new ShellCommandQueue(this))
{
    FolderJobs::Hooks hooks;
    hooks.readyChannel = [this] {
        return readySftpChannel();
    };
    hooks.uploadFile = [this](const QString &local, const QString &remote) {
        slotUploadFile(local, remote);
    };
    hooks.downloadFile = [this](const QString &remote, const QString &local) {
        slotDownloadFile(remote, local);
    };
    hooks.fileFailed = [this](const QString &error) {
        emit sftpJobFinished(QSsh::SftpInvalidJob, error);
    };
    hooks.folderMade = [this](const QString &folder, const QString &error) {
        m_records->record(OperationRecorder::Operation::NewFolder, folder, QString(), error);
    };
    m_reads = new RemoteReads(m_jobs, hooks.readyChannel, this);
    m_edits = new EditTransfers(
        hooks.readyChannel, [this](auto &&...args) { announceTransfer(args...); }, this);
    m_records = new OperationRecorder(m_strIp, this);
    connect(m_records, &OperationRecorder::transferVerified, this,
            &CConnectionForSshClient::sftpTransferVerified);
    connect(m_records, &OperationRecorder::transferUnverified, this,
            &CConnectionForSshClient::sftpTransferUnverified);
    connect(m_records, &OperationRecorder::historyUnwritable, this,
            &CConnectionForSshClient::sigHistoryUnwritable);
    m_folders = new FolderJobs(m_jobs, std::move(hooks), this);
    connect(m_folders, &FolderJobs::treeListed, this,
            &CConnectionForSshClient::sigRemoteTreeListed);
    connect(m_reads, &RemoteReads::fileRead, this, &CConnectionForSshClient::sigRemoteFileRead);
    connect(m_reads, &RemoteReads::fileHashed, this, &CConnectionForSshClient::sigRemoteFileHashed);
    // Queued sftpJobFinished and error(QSsh::SshError) may travel before any connection exists.
    QSsh::registerMetaTypes();
    qRegisterMetaType<HostKeyReport>();
    connect(m_shellInput, &ShellCommandQueue::lineSent, this,
            &CConnectionForSshClient::onShellLineSent);
    connect(m_shellInput, &ShellCommandQueue::lineFailed, this,
            &CConnectionForSshClient::onShellLineFailed);
}

CConnectionForSshClient::~CConnectionForSshClient()
{
    // The channel may outlive the job tables (the window holds it too); its end no longer
    // concerns this worker.
    if (m_sftp)
        m_sftp->disconnect(this);
    delete m_pSshConnection;
    m_pSshConnection = nullptr;
    qCDebug(lcConnection).noquote() << "CConnectionForSshClient destroyed";
}

void CConnectionForSshClient::init()
{
    m_pThread = new QThread;
    connect(m_pThread, &QThread::finished, this, &CConnectionForSshClient::slotThreadFinished);
    moveToThread(m_pThread);
    m_pThread->start(QThread::InheritPriority);
    connect(this, &CConnectionForSshClient::sigInitForClild, this,
            &CConnectionForSshClient::slotInitForClild);
    emit sigInitForClild();
}

void CConnectionForSshClient::quitThread()
{
    if (m_pThread)
        m_pThread->quit();
}

QSharedPointer<QSsh::SftpChannel> CConnectionForSshClient::getSftpChannel()
{
    const QMutexLocker locker(&m_sftpMutex);
    return m_sftp;
}

int CConnectionForSshClient::send(QString strMessage)
{
    qCDebug(lcConnection).noquote()
        << QLatin1String("CConnectionForSshClient ssh send ") + strMessage;
    if (m_bSshConnected && m_bShellConnected && m_shell) {
        // Typed once the shell waits at its prompt; what the byte count says is taken.
        const QByteArray bytes = strMessage.toUtf8();
        return m_shellInput->enqueue(bytes, ShellCommandQueue::Origin::Window) ? bytes.size() : 0;
    }
    qCDebug(lcConnection).noquote()
        << "CConnectionForSshClient::send() ssh未连接 或 shell未连接:" << addressKey();
    return 0;
}

void CConnectionForSshClient::slotResetConnection(QString strIpPort)
{
    if (strIpPort == m_strIpPort)
        slotDisconnected();
}

void CConnectionForSshClient::slotSend(QString strIpPort, QString strMessage)
{
    if (strIpPort == m_strIpPort)
        send(strMessage);
}

void CConnectionForSshClient::slotSend(QString strMsg)
{
    send(strMsg);
}

void CConnectionForSshClient::slotSendByQByteArray(QString strIpPort, QByteArray arrMsg)
{
    if (strIpPort != m_strIpPort)
        return;
    if (m_bSshConnected && m_shell) {
        m_shellInput->enqueue(arrMsg, ShellCommandQueue::Origin::Window);
    } else {
        qCDebug(lcConnection).noquote()
            << "CConnectionForSshClient::send(QString strMessage) 发送失败 未建立连接:"
            << addressKey();
    }
}

void CConnectionForSshClient::slotDisconnected()
{
    qCDebug(lcConnection).noquote() << "slotDisconnected() 被调用,IP:" << addressKey();
    const bool wasConnected = m_bSshConnected;
    m_bShellConnected = false;
    m_bSshConnected = false;
    if (m_pSshConnection && m_pSshConnection->state() != QSsh::SshConnection::Unconnected)
        m_pSshConnection->disconnectFromHost();
    releaseShellAndChannel();
    if (wasConnected)
        emit sigConnectStateChanged(false, m_strIp, m_nPort);

    if (m_bAutoReconnect && m_pReconnectTimer && !m_pReconnectTimer->isActive()) {
        m_pReconnectTimer->start();
        qCDebug(lcConnection).noquote() << "断开连接完成,将尝试自动重连";
    } else {
        qCDebug(lcConnection).noquote() << "断开连接完成,自动重连已禁用";
    }
}

void CConnectionForSshClient::slotDataReceived()
{
    if (!m_shell)
        return;
    const QByteArray bytes = m_shell->readAllStandardOutput();
    // Text ends at a zero byte; what follows it in this piece is not shell text.
    const int zero = bytes.indexOf('\0');
    const QString text =
        m_shellDecoder->toUnicode(bytes.constData(), zero < 0 ? bytes.size() : zero);
    if (zero >= 0)
        m_shellDecoder = makeUtf8Decoder(); // the dropped bytes break the byte stream
    if (!text.isEmpty()) {
        emit sigDataArrived(text, m_strIp, m_nPort);
        m_shellInput->outputArrived(text);
    }
}

void CConnectionForSshClient::slotUploadFile(QString localPath, QString remotePath)
{
    const auto sftp = sftpForRequest("upload");
    if (!sftp)
        return;
    qCDebug(lcConnection).noquote()
        << "Initiating SFTP upload via slot:" << localPath << "to" << remotePath;
    const QSsh::SftpJobId job =
        sftp->uploadFile(localPath, remotePath, QSsh::SftpOverwriteExisting);
    if (job == QSsh::SftpInvalidJob) {
        qCWarning(lcConnection).noquote() << "Failed to create SFTP upload job in worker thread.";
        emit sftpJobFinished(job, tr("Failed to create upload job."));
        return;
    }
    announceTransfer(sftp.data(), job, OperationRecorder::Operation::Upload, remotePath, localPath,
                     quint64(qMax<qint64>(0, QFileInfo(localPath).size())));
}

void CConnectionForSshClient::slotDeleteRemotePath(QString path, QString type)
{
    const auto sftp = readySftpChannel();
    qCDebug(lcConnection).noquote() << "Initiating deletion via slot:" << path;
    // The path is used exactly as the controller listed it: converted to another Unicode form
    // it could name nothing, and "rm -f" would still report success. A folder goes with all
    // it holds, whatever its name.
    const bool isDirectory = type == QLatin1String("dir");
    const QString command =
        shellCommand(isDirectory ? kDeleteDirectoryCommand : kDeleteFileCommand, path);
    startOrFallBack(OperationRecorder::Operation::Delete, path, command, [&] {
        if (!sftp)
            return QSsh::SftpInvalidJob;
        return isDirectory ? sftp->removeTree(path) : sftp->removeFile(path);
    });
}

void CConnectionForSshClient::slotDownloadFile(QString remotePath, QString localPath)
{
    const auto sftp = sftpForRequest("download");
    if (!sftp)
        return;
    qCDebug(lcConnection).noquote()
        << "Initiating SFTP download via slot:" << remotePath << "to" << localPath;
    const QSsh::SftpJobId job =
        sftp->downloadFile(remotePath, localPath, QSsh::SftpOverwriteExisting);
    if (job == QSsh::SftpInvalidJob) {
        qCWarning(lcConnection).noquote() << "Failed to create SFTP download job in worker thread.";
        emit sftpJobFinished(job, tr("Failed to create download job."));
        return;
    }
    // The size is known once the job has looked at the remote file; progress reports carry it.
    announceTransfer(sftp.data(), job, OperationRecorder::Operation::Download, remotePath,
                     localPath, 0);
}

void CConnectionForSshClient::slotCreateRemoteFolder(QString remotePath)
{
    const auto sftp = readySftpChannel();
    qCDebug(lcConnection).noquote() << "Initiating folder creation via slot:" << remotePath;
    // Used as it came: the folders it goes into are named as the controller listed them, and
    // in another Unicode form "mkdir -p" would make a twin of one of them.
    startOrFallBack(OperationRecorder::Operation::NewFolder, remotePath,
                    shellCommand(kCreateDirectoryCommand, remotePath), [&] {
                        return sftp ? sftp->createDirectory(remotePath) : QSsh::SftpInvalidJob;
                    });
}

void CConnectionForSshClient::slotSetVerifyTransfers(bool verify)
{
    m_bVerifyTransfers = verify;
    if (const auto sftp = readySftpChannel())
        sftp->setVerifyTransfers(verify);
}

void CConnectionForSshClient::slotCancelTransfers()
{
    m_folders->cancelPending();
    const auto sftp = readySftpChannel();
    if (!sftp)
        return;
    for (const QSsh::SftpJobId job : m_jobs.transfersOf(sftp.data())) {
        qCDebug(lcConnection).noquote() << "Cancelling SFTP transfer" << job;
        emit sftpTransferCancelling(job);
        m_records->cancelling(job);
        // The channel reports the end later, even of a job that stops at once.
        sftp->cancelJob(job);
    }
}

void CConnectionForSshClient::slotRenameRemotePath(QString oldPath, QString newPath)
{
    const auto answer = [this, oldPath, newPath](const QString &error) {
        m_records->record(OperationRecorder::Operation::Rename, oldPath, newPath, error);
        emit sigRenameFinished(oldPath, newPath, error);
    };
    const auto sftp = readySftpChannel();
    if (!sftp) {
        qCWarning(lcConnection).noquote()
            << "SFTP channel not ready for renaming, job aborted in worker thread.";
        answer(tr("SFTP channel not ready."));
        return;
    }
    qCDebug(lcConnection).noquote()
        << "Initiating SFTP rename via slot:" << oldPath << "to" << newPath;
    if (!m_jobs.addOwnJob(sftp.data(), sftp->renamePath(oldPath, newPath), answer)) {
        qCWarning(lcConnection).noquote() << "Failed to create SFTP rename job in worker thread.";
        answer(tr("Failed to create rename job."));
    }
}

void CConnectionForSshClient::slotInitForClild()
{
    m_sshParams.setPort(static_cast<quint16>(m_nPort));
    m_sshParams.setUserName(m_strUser);
    m_sshParams.setPassword(m_strPwd);
    m_sshParams.setHost(m_strIp);
    m_sshParams.timeout = kConnectTimeoutSeconds;
    m_sshParams.authenticationType = QSsh::SshConnectionParameters::AuthenticationTypePassword;
    m_sshParams.knownHostsFile = m_strKnownHostsFile;

    slotCreateConnection();

    // Created after the first attempt has started: its outcome arrives from the event loop,
    // so the timer exists before any handler of that attempt runs.
    m_pReconnectTimer = new QTimer(this);
    m_pReconnectTimer->setInterval(kReconnectIntervalMs);
    connect(m_pReconnectTimer, &QTimer::timeout, this,
            &CConnectionForSshClient::slotCreateConnection);
    m_pSftpStartTimer = new QTimer(this);
    m_pSftpStartTimer->setSingleShot(true);
    m_pSftpStartTimer->setInterval(kSftpStartTimeoutMs);
    connect(m_pSftpStartTimer, &QTimer::timeout, this, [this] {
        onSftpStartFailed(QStringLiteral("no answer within %1 s").arg(kSftpStartTimeoutMs / 1000));
    });
}

void CConnectionForSshClient::slotCreateConnection()
{
    qCDebug(lcConnection).noquote() << "CConnectionForSshClient::slotCreateConnection检查连接";
    if (m_bSshConnected)
        return;

    // Ticks come every reconnection interval, and an attempt gives up after the connection
    // time-out, which is as long. An attempt still under way at the next tick has had its
    // time; ending it here as timed out keeps one attempt, and one report, per interval
    // instead of letting it eat this tick.
    if (m_pSshConnection && m_pSshConnection->state() == QSsh::SshConnection::Connecting) {
        qCDebug(lcConnection).noquote()
            << "CConnectionForSshClient::slotCreateConnection previous attempt still under way, "
               "ended as timed out:"
            << addressKey();
        slotSshConnectError(QSsh::SshTimeoutError);
    }

    if (!m_pSshConnection) {
        m_pSshConnection = new QSsh::SshConnection(m_sshParams);
        connect(m_pSshConnection, &QSsh::SshConnection::connected, this,
                &CConnectionForSshClient::slotConnected);
        connect(m_pSshConnection, &QSsh::SshConnection::error, this,
                &CConnectionForSshClient::slotSshConnectError);
        connect(m_pSshConnection, &QSsh::SshConnection::disconnected, this,
                &CConnectionForSshClient::slotDisconnected);
    }
    m_pSshConnection->connectToHost();
    qCDebug(lcConnection).noquote()
        << "CConnectionForSshClient::slotCreateConnection() 以ssh方式 尝试连接:" << addressKey();
}

void CConnectionForSshClient::slotConnected()
{
    qCDebug(lcConnection).noquote()
        << "CConnectionForSshClient::slotConnected ssh已连接到:" << addressKey();
    if (m_pReconnectTimer)
        m_pReconnectTimer->stop();

    const QSsh::HostKeyCheck check = m_pSshConnection->hostKeyCheck();
    m_records->setHostKey(check.offeredKey);
    if (check.outcome == QSsh::HostKeyCheck::Recorded ||
        check.outcome == QSsh::HostKeyCheck::NotRecorded)
        emit sigHostKeyChecked(HostKeyReport::fromCheck(m_strIp, check));

    m_shell = m_pSshConnection->createRemoteShell();
    m_shellDecoder = makeUtf8Decoder();
    if (m_shell) {
        connect(m_shell.data(), &QSsh::SshRemoteProcess::started, this,
                &CConnectionForSshClient::slotShellStart);
        connect(m_shell.data(), &QSsh::SshRemoteProcess::readyReadStandardOutput, this,
                &CConnectionForSshClient::slotDataReceived);
        connect(m_shell.data(), &QSsh::SshRemoteProcess::readyReadStandardError, this,
                &CConnectionForSshClient::slotShellError);
        connect(m_shell.data(), &QSsh::SshRemoteProcess::closed, this,
                &CConnectionForSshClient::slotShellClosed);
        m_shellInput->setShell(m_shell.data());
        m_shell->start();
    } else {
        qCWarning(lcConnection).noquote()
            << "CConnectionForSshClient::slotConnected no remote shell:" << addressKey();
    }

    m_bSshConnected = true;
    emit sigConnectStateChanged(true, m_strIp, m_nPort);
    if (!m_shell) {
        // Without its shell the connection can neither list nor report outcomes.
        slotDisconnected();
        return;
    }

    const QSharedPointer<QSsh::SftpChannel> sftp = m_pSshConnection->createSftpChannel();
    setSftp(sftp);
    if (!sftp) {
        qCDebug(lcConnection).noquote() << "无法创建SFTP通道!";
        return;
    }
    connect(sftp.data(), &QSsh::SftpChannel::initialized, this,
            &CConnectionForSshClient::onSftpChannelReady);
    connect(sftp.data(), &QSsh::SftpChannel::channelError, this,
            &CConnectionForSshClient::onSftpChannelError);
    connect(sftp.data(), &QSsh::SftpChannel::finished, this,
            [this, channel = sftp.data()](QSsh::SftpJobId job, const QString &error) {
                onSftpJobFinished(channel, job, error);
            });
    connect(sftp.data(), &QObject::destroyed, this,
            [this](QObject *channel) { forgetJobsOf(channel); });
    connect(sftp.data(), &QSsh::SftpChannel::fileRead, this,
            &CConnectionForSshClient::onSftpFileRead);
    connect(sftp.data(), &QSsh::SftpChannel::fileHashed, this,
            &CConnectionForSshClient::onSftpFileRead);
    connect(sftp.data(), &QSsh::SftpChannel::transferVerified, m_records,
            &OperationRecorder::verified);
    connect(sftp.data(), &QSsh::SftpChannel::transferVerifying, this, [this](QSsh::SftpJobId job) {
        if (m_jobs.isTransfer(job))
            emit sftpTransferVerifying(job);
    });
    connect(sftp.data(), &QSsh::SftpChannel::treeListed, this,
            [this, channel = sftp.data()](QSsh::SftpJobId job, const QSsh::SftpTree &entries) {
                m_folders->keepTree(channel, job, entries);
            });
    connect(sftp.data(), &QSsh::SftpChannel::replacementRecovered, this,
            [this](QSsh::SftpJobId job, QSsh::SftpRecovery outcome) {
                m_jobs.setRecoveryOutcome(job, outcome);
            });
    if (m_pSftpStartTimer)
        m_pSftpStartTimer->start();
    sftp->initialize();
}

void CConnectionForSshClient::slotThreadFinished()
{
    m_pThread->deleteLater();
    deleteLater();
}

void CConnectionForSshClient::slotSshConnectError(QSsh::SshError sshError)
{
    qCDebug(lcConnection).noquote()
        << "SSH 连接错误:" << static_cast<int>(sshError) << "IP:" << addressKey();
    m_bShellConnected = false;
    m_bSshConnected = false;
    if (m_pSshConnection && sshError == QSsh::SshHostKeyError)
        emit sigHostKeyChecked(HostKeyReport::fromCheck(m_strIp, m_pSshConnection->hostKeyCheck()));
    if (m_pSshConnection) {
        m_pSshConnection->disconnect();
        m_pSshConnection->deleteLater();
        m_pSshConnection = nullptr;
    }
    releaseShellAndChannel();
    emit sigConnectStateChanged(false, m_strIp, m_nPort);

    if (m_bAutoReconnect && m_pReconnectTimer && !m_pReconnectTimer->isActive()) {
        m_pReconnectTimer->start();
        qCDebug(lcConnection).noquote()
            << "SSH 开始自动重连尝试,定时器间隔:" << m_pReconnectTimer->interval() << "ms";
    } else {
        qCDebug(lcConnection).noquote() << "SSH 连接失败,自动重连已禁用";
    }
}

void CConnectionForSshClient::slotShellStart()
{
    if (sender() != m_shell.data())
        return;
    m_bShellConnected = true;
    qCDebug(lcConnection).noquote()
        << "CConnectionForSshClient::slotShellStart Shell已连接:" << addressKey();
    reportReadyWhenComplete();
}

// The shell ended (exit, an idle logout, killed) or never started. The window's listings and
// the shell route need it, so this counts as a lost connection: reported, then reconnected.
void CConnectionForSshClient::slotShellClosed(int exitStatus)
{
    if (sender() != m_shell.data())
        return;
    m_shellInput->setShell(nullptr);
    // When the connection itself went, its own report follows.
    if (!m_bSshConnected || !m_pSshConnection ||
        m_pSshConnection->state() != QSsh::SshConnection::Connected)
        return;
    qCWarning(lcConnection).noquote()
        << "CConnectionForSshClient::slotShellClosed the remote shell ended, exit status"
        << exitStatus << "; the connection counts as lost:" << addressKey();
    slotDisconnected();
}

void CConnectionForSshClient::onSftpChannelReady()
{
    if (sender() != m_sftp.data())
        return;
    if (m_pSftpStartTimer)
        m_pSftpStartTimer->stop();
    for (const QString &path : std::exchange(m_uploadLeftovers, {})) {
        qCDebug(lcConnection).noquote()
            << "Removing the temporary file of an interrupted upload:" << path;
        const QPointer<QSsh::SftpChannel> channel = m_sftp.data();
        const bool started = m_jobs.addOwnJob(
            channel, m_sftp->removeFile(path), [this, channel, path](const QString &error) {
                // Cut short by the loss of this channel: tried again on the next one. Any other
                // failure (the file is gone already) ends it.
                if (!error.isEmpty() &&
                    (!channel || channel->state() != QSsh::SftpChannel::Initialized))
                    m_uploadLeftovers << path;
            });
        if (!started)
            m_uploadLeftovers << path;
    }
    startRecoveries();
    m_bSftpInitialized = true;
    reportReadyWhenComplete();
}

void CConnectionForSshClient::startRecoveries()
{
    const QPointer<QSsh::SftpChannel> channel = m_sftp.data();
    for (const QSsh::SftpInterruptedReplacement &replacement :
         std::exchange(m_interruptedReplacements, {})) {
        qCDebug(lcConnection).noquote()
            << "Setting right the interrupted replacement of" << replacement.target;
        const QSsh::SftpJobId job = m_sftp->recoverReplacement(replacement);
        const bool started =
            m_jobs.addOwnJob(channel, job, [this, channel, replacement, job](const QString &error) {
                const QSsh::SftpRecovery outcome = m_jobs.takeRecoveryOutcome(job);
                if (!error.isEmpty() &&
                    (!channel || channel->state() != QSsh::SftpChannel::Initialized)) {
                    // Cut short by the loss of this channel too: tried again on the next one.
                    m_interruptedReplacements << replacement;
                } else if (!error.isEmpty() || outcome != QSsh::SftpRecovery::Untouched) {
                    emit sigReplacementRecovered(replacement.target, replacement.backup, outcome,
                                                 error);
                }
                if (channel && channel == m_sftp.data() && --m_nRecoveriesRunning == 0 &&
                    channel->state() == QSsh::SftpChannel::Initialized)
                    reportReadyWhenComplete();
            });
        if (started)
            ++m_nRecoveriesRunning;
        else
            m_interruptedReplacements << replacement;
    }
}

void CConnectionForSshClient::reportReadyWhenComplete()
{
    if (m_bReadyReported || !m_bShellConnected || !m_bSftpInitialized || m_nRecoveriesRunning > 0)
        return;
    m_bReadyReported = true;
    emit sftpChannelInitialized();
}

void CConnectionForSshClient::slotShellError()
{
    qCDebug(lcConnection).noquote()
        << "CConnectionForSshClient::slotShellError Shell发生错误:" << addressKey();
}

QString CConnectionForSshClient::addressKey() const
{
    return m_strIp + QLatin1Char(':') + QString::number(m_nPort);
}

void CConnectionForSshClient::setSftp(const QSharedPointer<QSsh::SftpChannel> &channel)
{
    if (channel)
        channel->setVerifyTransfers(m_bVerifyTransfers);
    // Swap under the lock, drop the old handle outside it: its deleter may run the channel's
    // destructor.
    QSharedPointer<QSsh::SftpChannel> previous = channel;
    {
        const QMutexLocker locker(&m_sftpMutex);
        m_sftp.swap(previous);
    }
}

QSharedPointer<QSsh::SftpChannel> CConnectionForSshClient::readySftpChannel() const
{
    QSharedPointer<QSsh::SftpChannel> sftp;
    {
        const QMutexLocker locker(&m_sftpMutex);
        sftp = m_sftp;
    }
    if (sftp && sftp->state() == QSsh::SftpChannel::Initialized)
        return sftp;
    return {};
}

void CConnectionForSshClient::onSftpChannelError(const QString &reason)
{
    qCDebug(lcConnection).noquote() << "SFTP通道错误:" << reason;
    if (sender() == m_sftp.data() && !m_bSftpInitialized)
        onSftpStartFailed(reason);
}

// Without its channel the window can neither transfer nor be told the connection is ready, and
// a controller that still answers keepalives would keep it that way for good. Like a shell that
// ends, this counts as a lost connection: reported, then reconnected with a new channel.
void CConnectionForSshClient::onSftpStartFailed(const QString &reason)
{
    if (!m_bSshConnected || m_bSftpInitialized ||
        (m_sftp && m_sftp->state() == QSsh::SftpChannel::Initialized))
        return;
    qCWarning(lcConnection).noquote()
        << "CConnectionForSshClient the SFTP channel did not start (" + reason +
               "); the connection counts as lost:"
        << addressKey();
    slotDisconnected();
}

void CConnectionForSshClient::slotReadRemoteFile(quint64 request, QString remotePath,
                                                 qint64 maxSize)
{
    m_reads->read(request, remotePath, maxSize);
}

void CConnectionForSshClient::slotCancelRemoteRead(quint64 request)
{
    m_reads->dropRead(request);
}

void CConnectionForSshClient::slotHashRemoteFile(quint64 request, QString remotePath)
{
    m_reads->hash(request, remotePath);
}

void CConnectionForSshClient::slotListRemoteTree(quint64 request, QString remotePath)
{
    m_folders->listTree(request, remotePath);
}

void CConnectionForSshClient::slotCancelRemoteTreeListing(quint64 request)
{
    m_folders->dropListing(request);
}

void CConnectionForSshClient::slotUploadTree(QStringList remoteFolders, QStringList localFiles,
                                             QStringList remoteFiles)
{
    m_folders->uploadTree(remoteFolders, localFiles, remoteFiles);
}

void CConnectionForSshClient::slotDownloadTree(QStringList localFolders, QStringList remoteFiles,
                                               QStringList localFiles)
{
    m_folders->downloadTree(localFolders, remoteFiles, localFiles);
}

void CConnectionForSshClient::onSftpFileRead(QSsh::SftpJobId job, const QByteArray &data,
                                             qint64 fileSize)
{
    m_jobs.keepReadData(sender(), job, data, fileSize);
}

void CConnectionForSshClient::onSftpJobFinished(const QObject *channel, QSsh::SftpJobId job,
                                                const QString &error)
{
    if (const WorkerJobTable::Answer answer = m_jobs.takeOwnJob(channel, job)) {
        answer(error);
        return;
    }
    m_jobs.removeTransfer(job);
    emit sftpJobFinished(job, error);
    m_records->finished(channel, job, error);
}

void CConnectionForSshClient::onSftpTransferProgress(QSsh::SftpJobId job, quint64 bytesDone,
                                                     quint64 bytesTotal)
{
    if (m_jobs.isTransfer(job))
        emit sftpTransferProgress(job, bytesDone, bytesTotal);
}

void CConnectionForSshClient::forgetJobsOf(const QObject *channel)
{
    m_records->forgetChannel(channel);
    for (const WorkerJobTable::Answer &answer : m_jobs.forgetChannel(channel))
        answer(tr("The connection to the controller was lost."));
}

void CConnectionForSshClient::announceTransfer(QSsh::SftpChannel *channel, QSsh::SftpJobId job,
                                               OperationRecorder::Operation operation,
                                               const QString &remotePath, const QString &localPath,
                                               quint64 bytesTotal)
{
    // An upload's size is its local file's, 0 included; a download's is known once it is in.
    const bool upload = operation == OperationRecorder::Operation::Upload;
    m_records->started(channel, job, operation, remotePath, localPath,
                       upload ? qint64(bytesTotal) : -1, channel->verifiesTransfers());
    // The channel makes progress reports only while they go somewhere.
    static const QMetaMethod progress =
        QMetaMethod::fromSignal(&CConnectionForSshClient::sftpTransferProgress);
    if (isSignalConnected(progress))
        connect(channel, &QSsh::SftpChannel::transferProgress, this,
                &CConnectionForSshClient::onSftpTransferProgress, Qt::UniqueConnection);
    else
        disconnect(channel, &QSsh::SftpChannel::transferProgress, this, nullptr);
    m_jobs.addTransfer(channel, job);
    emit sftpTransferStarted(job, remotePath.mid(remotePath.lastIndexOf(QLatin1Char('/')) + 1),
                             bytesTotal);
}

QSharedPointer<QSsh::SftpChannel> CConnectionForSshClient::sftpForRequest(const char *request)
{
    auto sftp = readySftpChannel();
    if (!sftp) {
        qCWarning(lcConnection).noquote()
            << QStringLiteral("SFTP channel not ready for %1, job aborted in worker thread.")
                   .arg(QLatin1String(request));
        emit sftpJobFinished(QSsh::SftpInvalidJob, tr("SFTP channel not ready."));
    }
    return sftp;
}

void CConnectionForSshClient::startOrFallBack(OperationRecorder::Operation operation,
                                              const QString &path, const QString &command,
                                              const std::function<QSsh::SftpJobId()> &sftpJob)
{
    const QSsh::SftpJobId job = sftpJob();
    if (job != QSsh::SftpInvalidJob) {
        m_records->started(readySftpChannel().data(), job, operation, path);
        return;
    }
    qCWarning(lcConnection).noquote()
        << "No SFTP job could start, trying shell command for:" << path;
    sendFallbackCommand(command, "No SFTP job, using shell command:");
    m_records->sentToShell(operation, path);
}

void CConnectionForSshClient::sendFallbackCommand(const QString &command, const char *debugPrefix)
{
    qCDebug(lcConnection).noquote() << debugPrefix << command.trimmed();
    // Reported once the command's bytes have gone out on the shell's channel, or when they
    // cannot; the outcome itself is the marker the command prints.
    if (!m_bSshConnected || !m_bShellConnected || !m_shell) {
        qCDebug(lcConnection).noquote()
            << "CConnectionForSshClient::send() ssh未连接 或 shell未连接:" << addressKey();
        emit sftpJobFinished(kShellFallbackJob, ShellCommandQueue::shellClosedText());
        return;
    }
    m_shellInput->enqueue(command.toUtf8(), ShellCommandQueue::Origin::Fallback);
}

void CConnectionForSshClient::onShellLineSent(ShellCommandQueue::Origin origin)
{
    if (origin == ShellCommandQueue::Origin::Fallback)
        emit sftpJobFinished(kShellFallbackJob, QString());
}

void CConnectionForSshClient::onShellLineFailed(ShellCommandQueue::Origin origin,
                                                const QByteArray &line, const QString &error)
{
    if (origin == ShellCommandQueue::Origin::Fallback)
        emit sftpJobFinished(kShellFallbackJob, error);
    else
        emit sigSendFailed(QString::fromUtf8(line), error);
}

void CConnectionForSshClient::releaseShellAndChannel()
{
    m_bShellConnected = false;
    m_bSftpInitialized = false;
    m_bReadyReported = false;
    m_nRecoveriesRunning = 0;
    if (m_pSftpStartTimer)
        m_pSftpStartTimer->stop();
    m_shellInput->setShell(nullptr);
    m_shell.reset();
    // The session is torn down by now, so the channel knows what its uploads left behind.
    if (m_sftp) {
        m_uploadLeftovers += m_sftp->takeLeftBehindFiles();
        m_interruptedReplacements += m_sftp->takeInterruptedReplacements();
    }
    setSftp({});
}
