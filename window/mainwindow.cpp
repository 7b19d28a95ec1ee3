#include "mainwindow.h"

#include "ControllerShell.h"
#include "EditInPlace.h"
#include "FileActions.h"
#include "FileRequests.h"
#include "FileSizeText.h"
#include "HostKeyLog.h"
#include "JobReportLog.h"
#include "ListingParser.h"
#include "PreviewLauncher.h"
#include "RemoteListActions.h"
#include "RemoteListModel.h"
#include "RemotePath.h"
#include "ShellListing.h"
#include "TerminalText.h"
#include "TransferChecks.h"
#include "TransferProgressLine.h"
#include "UiLanguage.h"
#include "WindowFrame.h"
#include "WindowLogging.h"
#include "WindowStyles.h"

#include <QAction>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QResizeEvent>
#include <QTime>
#include <QTimer>
#include <QTreeView>

Q_LOGGING_CATEGORY(lcWindow, "cnc.window", QtWarningMsg)

namespace {

bool isSftpReady(const QSharedPointer<QSsh::SftpChannel> &channel)
{
    return channel && channel->state() == QSsh::SftpChannel::Initialized;
}

} // namespace

mainwindow::mainwindow(CConnectionForSshClient *pSshClient, QWidget *parent)
    : QWidget(parent), m_bufferTimer(new QTimer(this)), m_reconnectTimer(new QTimer(this)),
      m_pSshClient(pSshClient),
      m_hostKeyLog(new HostKeyLog([this] { return isEnglishUi(); },
                                  [this](const QString &text) { appendLog(text); }, this)),
      m_jobReportLog([this] { return isEnglishUi(); },
                     [this](const QString &text) { appendLog(text); })
{
    m_bufferTimer->setObjectName(QStringLiteral("m_bufferTimer"));
    m_reconnectTimer->setObjectName(QStringLiteral("m_reconnectTimer"));
    m_listing = new ShellListing(this);
    connect(m_listing, &ShellListing::timedOut, this, &mainwindow::onListingTimedOut);

    setupUi();
    setupModel();

    if (!pSshClient) {
        appendLog(isEnglishUi() ? QStringLiteral("Error: SSH connection object is invalid.")
                                : QStringLiteral("错误: SSH连接对象无效。"));
        return;
    }
    connectWorker(pSshClient);
    setWindowTitle(connectedTitle(workerHostText()));

    // A ready report the worker sent before the connections above were made is lost; taking
    // over a channel that is already initialised stands in for it.
    m_sftpChannel = pSshClient->getSftpChannel();
    if (m_sftpChannel && m_sftpChannel->state() == QSsh::SftpChannel::Initialized)
        onSftpInitialized();

    m_bufferTimer->setSingleShot(true);
    m_bufferTimer->setInterval(500);
    connect(m_bufferTimer, &QTimer::timeout, this, &mainwindow::processBufferedData);

    // Started and stopped with the connection state; nothing listens to it.
    m_reconnectTimer->setInterval(2000);
}

void mainwindow::connectWorker(CConnectionForSshClient *pSshClient)
{
    using Worker = CConnectionForSshClient;
    connect(this, &mainwindow::sigSend, pSshClient, qOverload<QString>(&Worker::slotSend));
    connect(pSshClient, &Worker::sigDataArrived, this, &mainwindow::slotDataArrived);
    connect(pSshClient, &Worker::sigConnectStateChanged, this,
            &mainwindow::slotConnectStateChanged);
    connect(pSshClient, &Worker::sftpChannelInitialized, this, &mainwindow::onSftpInitialized);
    connect(pSshClient, &Worker::sftpJobFinished, this, &mainwindow::onSftpJobFinished);
    connect(pSshClient, &Worker::sigSendFailed, this, &mainwindow::onSendFailed);
    connect(this, &mainwindow::sigUploadFile, pSshClient, &Worker::slotUploadFile);
    connect(this, &mainwindow::sigDeleteRemotePath, pSshClient, &Worker::slotDeleteRemotePath);
    connect(this, &mainwindow::sigDownloadFile, pSshClient, &Worker::slotDownloadFile);
    connect(this, &mainwindow::sigCreateRemoteFolder, pSshClient, &Worker::slotCreateRemoteFolder);
    connect(pSshClient, &Worker::sigHostKeyChecked, m_hostKeyLog, &HostKeyLog::slotHostKeyChecked);
    connect(pSshClient, &Worker::sigConnectStateChanged, m_hostKeyLog,
            &HostKeyLog::slotConnectStateChanged);
    connect(this, &mainwindow::sigRenameRemotePath, pSshClient, &Worker::slotRenameRemotePath);
    connect(pSshClient, &Worker::sigRenameFinished, this, &mainwindow::onRenameFinished);
    connect(pSshClient, &Worker::sigReplacementRecovered, this,
            &mainwindow::onReplacementRecovered);
    m_progressLine->follow(pSshClient);
}

mainwindow::~mainwindow()
{
    // Only asks the worker's thread to stop; the worker then deletes itself. A worker whose
    // thread was stopped by somebody else may already be gone, which the guard shows.
    if (m_pSshClient)
        m_pSshClient->quitThread();
}

void mainwindow::logRecordedHostKey(const HostKeyReport &key)
{
    m_hostKeyLog->slotHostKeyChecked(key);
}

void mainwindow::setupUi()
{
    const bool english = isEnglishUi();
    resize(1200, 800);
    setWindowTitle(WindowFrame::title(english));
    setMinimumSize(1000, 700);
    setAcceptDrops(true);

    m_fileActions = new FileActions(english, this);
    const WindowFrame frame = WindowFrame::build(this, english, m_strRootPath, m_fileActions);
    m_pathLabel = frame.pathLabel;
    m_btnLanguage = frame.languageButton;
    m_statusLabel = frame.statusLabel;
    m_statusIndicator = frame.statusIndicator;
    m_treeView = frame.treeView;
    m_btnUpload = frame.uploadButton;
    m_btnDownload = frame.downloadButton;
    m_btnNewFolder = frame.newFolderButton;
    m_btnDelete = frame.deleteButton;
    m_btnRefresh = frame.refreshButton;
    m_progressLine = frame.progressLine;
    m_logEdit = frame.logEdit;

    connect(m_btnLanguage, &QPushButton::clicked, this, &mainwindow::onLanguageToggled);
    connect(m_treeView, &QTreeView::doubleClicked, this, &mainwindow::onRemoteDoubleClicked);
    setupFileActions();
    setupListActions();

    // The view has its real width only once the window has been laid out.
    QTimer::singleShot(200, this, &mainwindow::adjustColumnWidths);
}

void mainwindow::setupFileActions()
{
    const FileActions *actions = m_fileActions;
    // Every action goes through the window's slot of its operation.
    connect(actions->upload(), &QAction::triggered, this, &mainwindow::onUploadClicked);
    connect(actions->download(), &QAction::triggered, this, &mainwindow::onDownloadClicked);
    connect(actions->newFolder(), &QAction::triggered, this, &mainwindow::onNewFolderClicked);
    connect(actions->remove(), &QAction::triggered, this, &mainwindow::onDeleteClicked);
    connect(actions->rename(), &QAction::triggered, this, &mainwindow::onRenameClicked);
    connect(actions->refresh(), &QAction::triggered, this, &mainwindow::onRefreshClicked);

    m_fileRequests = new FileRequests(
        this, m_treeView, m_pSshClient, [this] { return isEnglishUi(); },
        [this] { return isSftpReady(m_sftpChannel); }, [this] { return m_strCurrentPath; });
    connect(m_fileRequests, &FileRequests::logged, this, &mainwindow::appendLog);
    connect(actions->uploadFolder(), &QAction::triggered, m_fileRequests,
            &FileRequests::uploadFolder);
    connect(m_fileRequests, &FileRequests::uploadFile, this, &mainwindow::sigUploadFile);
    connect(m_fileRequests, &FileRequests::downloadFile, this, &mainwindow::sigDownloadFile);
    connect(m_fileRequests, &FileRequests::deleteRemotePath, this,
            &mainwindow::sigDeleteRemotePath);
    connect(m_fileRequests, &FileRequests::createRemoteFolder, this,
            &mainwindow::sigCreateRemoteFolder);
    connect(m_fileRequests, &FileRequests::renameRemotePath, this,
            &mainwindow::sigRenameRemotePath);
    connect(m_fileRequests, &FileRequests::requestsSent, this, [this] {
        m_bRequestOutstanding = true;
        updateActions();
    });
}

void mainwindow::setupListActions()
{
    auto *actions = new RemoteListActions(m_treeView, m_fileActions);
    connect(actions, &RemoteListActions::openRequested, this, &mainwindow::onRemoteDoubleClicked);

    // Previews are no file operations: they are open while transfers run.
    m_previewLauncher = new PreviewLauncher(
        m_pSshClient, [this] { return m_fileRequests->selectedRemoteFile(); },
        [this] { return isEnglishUi(); }, this);
    actions->addMenuAction(m_previewLauncher->previewAction());
    actions->addMenuAction(m_previewLauncher->previewLocalAction(), true);
    connect(m_previewLauncher, &PreviewLauncher::failureLogged, this, &mainwindow::appendLog);

    m_transferChecks = new TransferChecks(
        m_pSshClient, [this] { return m_fileRequests->selectedRemoteFile(); },
        [this] { return isEnglishUi(); }, this);
    actions->addMenuAction(m_transferChecks->compareAction());
    actions->addMenuAction(m_transferChecks->verifyAction(), true);
    actions->addMenuAction(m_transferChecks->historyAction(), true);
    const auto logLine = [this](const QString &text, bool failure) {
        WindowFrame::appendLogLine(m_logEdit, text, failure);
    };
    connect(m_transferChecks, &TransferChecks::logged, this, logLine);

    m_edits = new EditInPlace(
        m_pSshClient, [this] { return m_fileRequests->selectedRemoteFile(); },
        [this] { return isEnglishUi(); }, m_previewLauncher, this);
    actions->addMenuAction(m_edits->editAction());
    actions->addMenuAction(m_edits->panelAction(), true);
    connect(m_edits, &EditInPlace::logged, this, logLine);

    m_anotherController = WindowFrame::anotherControllerAction(isEnglishUi(), this);
    connect(m_anotherController, &QAction::triggered, this,
            &mainwindow::anotherControllerRequested);
    actions->addMenuAction(m_anotherController, true);
}

void mainwindow::setupModel()
{
    m_model = new RemoteListModel(isEnglishUi(), this);
    m_model->setObjectName(QStringLiteral("m_model"));
    m_treeView->setModel(m_model);
    adjustColumnWidths();
    m_treeView->setEditTriggers(QAbstractItemView::NoEditTriggers);
    connect(m_treeView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &mainwindow::showSelectionCounts);
}

void mainwindow::adjustColumnWidths()
{
    WindowFrame::fitColumns(m_treeView);
}

void mainwindow::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // The view gets its new width from the layout after this event.
    QTimer::singleShot(100, this, &mainwindow::adjustColumnWidths);
}

bool mainwindow::isEnglishUi() const
{
    return UiLanguage::isEnglish();
}

void mainwindow::appendLog(const QString &text)
{
    WindowFrame::appendLogLine(m_logEdit, text);
}

bool mainwindow::fileOperationsPossible() const
{
    return m_bConnectState && isSftpReady(m_sftpChannel);
}

QString mainwindow::workerHostText() const
{
    return WindowFrame::hostText(m_pSshClient->m_strIp, m_pSshClient->m_nPort);
}

QString mainwindow::connectedTitle(const QString &host) const
{
    return WindowFrame::connectedTitle(isEnglishUi(), host);
}

void mainwindow::updateActions()
{
    m_fileActions->setState({m_bConnectState, m_bSftpReady && fileOperationsPossible(),
                             m_bRequestOutstanding, m_isListingRemote, m_bRefreshOffered});
}

void mainwindow::showSelectionCounts()
{
    m_fileActions->showSelectionCounts(
        RemoteListModel::selectionCounts(m_treeView->selectionModel()));
}

void mainwindow::clearSelectionCounts()
{
    m_fileActions->showSelectionCounts({});
}

void mainwindow::onLanguageToggled()
{
    UiLanguage::toggle();
    retranslateUi();
    appendLog(isEnglishUi() ? QStringLiteral("Language switched to English")
                            : QStringLiteral("语言已切换为中文"));
}

void mainwindow::retranslateUi()
{
    const bool english = isEnglishUi();
    if (!m_bConnectState) {
        setWindowTitle(WindowFrame::reconnectingTitle(english));
    } else if (m_pSshClient) {
        setWindowTitle(connectedTitle(workerHostText()));
    } else {
        setWindowTitle(WindowFrame::title(english));
    }

    m_btnLanguage->setText(WindowFrame::languageButtonText(english));
    m_pathLabel->setText(WindowFrame::pathText(english, m_strCurrentPath));
    m_statusLabel->setText(WindowFrame::statusLabelText(english));
    m_fileActions->setEnglish(english);
    // The count labels follow the selection.
    showSelectionCounts();
    m_progressLine->setEnglish(english);
    m_model->setEnglish(english);
    m_previewLauncher->retranslate();
    m_transferChecks->retranslate();
    m_anotherController->setText(WindowFrame::anotherControllerText(english));
    m_edits->retranslate();
}

void mainwindow::updateStatusIndicator(bool connected)
{
    m_bConnectState = connected;
    if (connected) {
        m_statusIndicator->setStyleSheet(WindowStyles::indicator(true));
        return;
    }
    m_statusIndicator->setStyleSheet(WindowStyles::indicator(false));
    appendLog(isEnglishUi() ? QStringLiteral("Connection lost.") : QStringLiteral("连接已断开。"));
    // No transfer outlives the connection.
    m_progressLine->clear();
    // Nothing comes back on before the new channel is ready.
    m_bSftpReady = false;
    m_bRefreshOffered = false;
    updateActions();
}

void mainwindow::slotConnectStateChanged(bool bState, QString strIp, int nPort)
{
    Q_UNUSED(nPort)

    updateStatusIndicator(bState);
    // The command or its output went with the connection.
    if (!bState && m_isListingRemote)
        abandonListing();
    if (!bState)
        m_listing->forgetEarlierCommands();

    if (bState && m_bReconnecting) {
        m_bReconnecting = false;
        m_reconnectTimer->stop();
        setWindowTitle(connectedTitle(strIp));
        appendLog((isEnglishUi() ? QStringLiteral("Connection to %1 has been restored.")
                                 : QStringLiteral("与 %1 的连接已恢复。"))
                      .arg(strIp));
        appendLog(isEnglishUi() ? QStringLiteral("Waiting for SFTP channel to initialize...")
                                : QStringLiteral("等待SFTP通道初始化..."));
    } else if (!bState && !m_bReconnecting) {
        m_bReconnecting = true;
        setWindowTitle(WindowFrame::reconnectingTitle(isEnglishUi()));
        m_reconnectTimer->start();
    }
}

void mainwindow::slotDataArrived(QString strMsg, QString strIp, int nPort)
{
    Q_UNUSED(strIp)
    Q_UNUSED(nPort)

    qCDebug(lcWindow).noquote() << "收到数据:" << strMsg
                                << "当前状态m_isListingRemote:" << debugBool(m_isListingRemote);

    // The outcome lines of delete and folder creation by shell command. They count whether or
    // not a listing is outstanding; their lines are taken out of a listing below.
    for (const ShellMarker marker : m_listing->takeMarkers(strMsg)) {
        appendLog(shellMarkerLogLine(marker, isEnglishUi()));
        clearSelectionCounts();
        if (shellMarkerIsSuccess(marker))
            QTimer::singleShot(500, this, &mainwindow::onRefreshClicked);
    }

    if (!m_isListingRemote) {
        if (TerminalText::isControlOnly(strMsg))
            qCDebug(lcWindow).noquote() << "忽略纯控制序列";
        return;
    }
    const ListingProgress::State state = m_listing->append(&m_strRecvBuffer, strMsg);

    // The quiet time may end a listing only once its output has begun: ls prints nothing
    // until it has read the whole folder, which can take long.
    switch (state) {
    case ListingProgress::State::Complete:
        m_bufferTimer->stop();
        processBufferedData();
        break;
    case ListingProgress::State::Receiving:
        m_bufferTimer->start();
        break;
    default:
        m_bufferTimer->stop();
        break;
    }
}

void mainwindow::processBufferedData()
{
    qCDebug(lcWindow).noquote() << debugTime()
                                << "processBufferedData() 开始处理缓冲数据:" << m_strRecvBuffer;

    switch (m_listing->ending(m_strRecvBuffer)) {
    case ShellListing::Ending::CutShort:
        qCDebug(lcWindow).noquote() << debugTime() << "输出在提示符之前停顿，继续等待";
        return;
    case ShellListing::Ending::Foreign:
        qCDebug(lcWindow).noquote() << debugTime() << "输出可能属于先前放弃的列表命令，重新列出";
        clearListingState();
        listDirectory(m_strCurrentPath);
        return;
    case ShellListing::Ending::Own:
        break;
    }

    showNavigationOnly();
    m_model->appendListing(m_listing->rows(m_strRecvBuffer), fileSizeText);
    // The demo waits for this line.
    qCDebug(lcWindow).noquote() << debugTime() << "processBufferedData() 处理完成，模型行数:"
                                << m_model->rowCount();
    m_treeView->reset();
    m_treeView->update();
    connect(m_treeView->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &mainwindow::showSelectionCounts, Qt::UniqueConnection);

    // The first listing after a connection can be spoiled by a terminal error of the
    // controller's login profile; the next one normally goes through.
    if (m_model->rowCount() == 0 && m_strRecvBuffer.contains(QLatin1String("resize:"))) {
        qCDebug(lcWindow).noquote() << debugTime() << "检测到首次连接resize错误，2秒后自动重试";
        clearListingState();
        QTimer::singleShot(2000, this, [this] {
            qCDebug(lcWindow).noquote() << debugTime() << "执行首次连接重试";
            onRefreshClicked();
        });
        return;
    }

    clearListingState();
    clearSelectionCounts();
    QTimer::singleShot(50, this, &mainwindow::adjustColumnWidths);
}

void mainwindow::clearListingState()
{
    m_bufferTimer->stop();
    m_listing->stop();
    m_isListingRemote = false;
    m_strRecvBuffer.clear();
    // Only while a listing can be sent.
    m_bRefreshOffered = m_bConnectState;
    updateActions();
}

void mainwindow::showNavigationOnly()
{
    m_model->showNavigationOnly(m_strCurrentPath != m_strRootPath, isEnglishUi());
}

void mainwindow::abandonListing()
{
    m_listing->abandon();
    clearListingState();
    showNavigationOnly();
}

void mainwindow::onListingTimedOut()
{
    if (!m_isListingRemote)
        return;
    appendLog(ShellListing::timedOutLine(isEnglishUi(), m_strCurrentPath));
    abandonListing();
}

void mainwindow::onSftpInitialized()
{
    qCDebug(lcWindow).noquote() << debugTime() << "onSftpInitialized() 开始"
                                << "m_bConnectState:" << debugBool(m_bConnectState)
                                << "m_isListingRemote:" << debugBool(m_isListingRemote);

    if (m_pSshClient)
        m_sftpChannel = m_pSshClient->getSftpChannel();
    appendLog(isEnglishUi() ? QStringLiteral("SFTP channel is ready.")
                            : QStringLiteral("SFTP通道准备就绪。"));
    // A channel reported ready after its connection went enables nothing; a listing still
    // outstanding keeps Refresh off until it ends.
    m_bSftpReady = fileOperationsPossible();
    m_bRequestOutstanding = false;
    m_bRefreshOffered = m_bConnectState;
    updateActions();

    qCDebug(lcWindow).noquote() << debugTime() << "onSftpInitialized() 发送echo命令清空shell缓冲";
    emit sigSend(ControllerShell::flushCommand());

    qCDebug(lcWindow).noquote() << debugTime() << "onSftpInitialized() 延迟3秒后调用刷新";
    QTimer::singleShot(3000, this, [this] {
        qCDebug(lcWindow).noquote() << debugTime() << "延迟刷新定时器触发"
                                    << "m_bConnectState:" << debugBool(m_bConnectState)
                                    << "m_isListingRemote:" << debugBool(m_isListingRemote);
        onRefreshClicked();
    });
}

void mainwindow::onRefreshClicked()
{
    qCDebug(lcWindow).noquote() << debugTime() << "onRefreshClicked() 开始";
    listDirectory(m_strCurrentPath);
}

void mainwindow::listDirectory(const QString &directory)
{
    if (!m_bConnectState || m_isListingRemote) {
        qCDebug(lcWindow).noquote() << debugTime() << "onRefreshClicked() 条件不满足，返回"
                                    << "m_bConnectState:" << debugBool(m_bConnectState)
                                    << "m_isListingRemote:" << debugBool(m_isListingRemote);
        return;
    }
    // Refused before anything changes: the list and the path stay those of the folder shown.
    const QString command = ControllerShell::listingCommand(directory);
    if (!ShellCommandQueue::fits(command.toUtf8())) {
        appendLog(ShellListing::tooLongLine(isEnglishUi(), directory));
        return;
    }

    qCDebug(lcWindow).noquote() << debugTime()
                                << "onRefreshClicked() 设置m_isListingRemote=true前，清空缓冲";
    m_strRecvBuffer.clear();
    m_bufferTimer->stop();
    m_isListingRemote = true;
    updateActions();
    // The rows shown and the paths the buttons build always belong to one folder.
    m_strCurrentPath = directory;

    const bool english = isEnglishUi();
    appendLog((english ? QStringLiteral("Refreshing remote directory: %1")
                       : QStringLiteral("正在刷新远程目录: %1"))
                  .arg(m_strCurrentPath));
    m_pathLabel->setText(WindowFrame::pathText(english, m_strCurrentPath));
    m_model->clearRows(english);
    clearSelectionCounts();

    m_listing->start(command);
    qCDebug(lcWindow).noquote() << debugTime()
                                << "onRefreshClicked() 发送命令:" << command.trimmed();
    emit sigSend(command);
}

void mainwindow::onRemoteDoubleClicked(QModelIndex index)
{
    if (!index.isValid() || !index.model() || m_isListingRemote)
        return;

    // The name as listed: blanks at either end belong to it.
    const QString name = index.siblingAtColumn(0).data().toString();
    const RemoteRowKind kind = RemoteListModel::kind(index);

    // The current path changes only when the listing of the new one is sent.
    if (kind == RemoteRowKind::Folder)
        listDirectory(RemotePath::join(m_strCurrentPath, name) + QLatin1Char('/'));
    else if (kind == RemoteRowKind::Navigation && m_strRootPath.size() < m_strCurrentPath.size())
        listDirectory(RemotePath::parent(m_strCurrentPath));
}

void mainwindow::onUploadClicked()
{
    m_fileRequests->upload();
}

void mainwindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (FileRequests::acceptsDrop(event->mimeData(), fileOperationsPossible()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void mainwindow::dropEvent(QDropEvent *event)
{
    if (m_fileRequests->uploadDropped(event->mimeData(), fileOperationsPossible()))
        event->acceptProposedAction();
    else
        event->ignore();
}

void mainwindow::onDownloadClicked()
{
    m_fileRequests->download();
}

void mainwindow::onDeleteClicked()
{
    m_fileRequests->remove();
}

void mainwindow::onNewFolderClicked()
{
    m_fileRequests->newFolder();
}

void mainwindow::onRenameClicked()
{
    m_fileRequests->rename();
}

void mainwindow::onSftpJobFinished(QSsh::SftpJobId job, QString error)
{
    m_jobReportLog.jobFinished(job, error, m_progressLine->finishTransfer(job));

    // Failures too give the window back, so that the operator may retry at once; not a job
    // that ends after its connection went.
    m_bRequestOutstanding = false;
    updateActions();
    clearSelectionCounts();

    // Show the job's effect; onRefreshClicked refuses by itself while disconnected or listing.
    QTimer::singleShot(200, this, &mainwindow::onRefreshClicked);
}

void mainwindow::onReplacementRecovered(QString remotePath, QString backupPath,
                                        QSsh::SftpRecovery outcome, QString error)
{
    m_jobReportLog.replacementRecovered(remotePath, backupPath, outcome, error);
}

// The worker did not type a line of ours: too long, or the shell stayed busy too long.
void mainwindow::onSendFailed(QString strMsg, QString error)
{
    if (m_isListingRemote && strMsg == ControllerShell::listingCommand(m_strCurrentPath)) {
        appendLog(ShellListing::notSentLine(isEnglishUi(), m_strCurrentPath, error));
        // Never typed, so no answer of it can arrive later: nothing for the progress to remember.
        clearListingState();
        showNavigationOnly();
        return;
    }
    appendLog((isEnglishUi() ? QStringLiteral("A command for the controller was not sent: %1")
                             : QStringLiteral("发往控制器的命令未发送: %1"))
                  .arg(error));
}

void mainwindow::onRenameFinished(QString oldPath, QString newPath, QString error)
{
    m_jobReportLog.renameFinished(oldPath, newPath, error);
    QTimer::singleShot(200, this, &mainwindow::onRefreshClicked);
}
