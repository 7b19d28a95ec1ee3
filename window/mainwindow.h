#pragma once

#include "CConnectionForSshClient.h"
#include "HostKeyReport.h"
#include "JobReportLog.h"
#include "SftpChannel.h"
#include "SshTypes.h"

#include <QModelIndex>
#include <QPointer>
#include <QSharedPointer>
#include <QString>
#include <QWidget>

class EditInPlace;
class FileActions;
class FileRequests;
class HostKeyLog;
class PreviewLauncher;
class ShellListing;
class QAction;
class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QResizeEvent;
class RemoteListModel;
class QTimer;
class QTreeView;
class TransferChecks;
class TransferProgressLine;

// The file manager window: the controller's remote directory as a list, the file operation
// buttons, the language toggle, the connection indicator and the operation log. It drives the
// connection worker only through queued signals; the worker lives in a thread of its own.
//
// Widgets, the model and the timers carry their member names as object names, so that tests
// find them with findChild.
class mainwindow : public QWidget
{
    Q_OBJECT
public:
    // pSshClient may be null; the window then only shows an error line in its log.
    explicit mainwindow(CConnectionForSshClient *pSshClient, QWidget *parent = nullptr);
    ~mainwindow() override;

    // Tells the operation log about a host key that the login recorded before this window
    // existed.
    void logRecordedHostKey(const HostKeyReport &key);

signals:
    void sigSend(QString strMsg);
    void sigDisconnected();
    void sigUploadFile(QString localPath, QString remotePath);
    void sigDeleteRemotePath(QString path, QString type);
    void sigDownloadFile(QString remotePath, QString localPath);
    void sigCreateRemoteFolder(QString path);
    void sigRenameRemotePath(QString oldPath, QString newPath);
    // "Connect to another controller…": a login for a window of its own.
    void anotherControllerRequested();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private slots:
    void slotConnectStateChanged(bool bState, QString strIp, int nPort);
    void slotDataArrived(QString strMsg, QString strIp, int nPort);
    void onRefreshClicked();
    void onUploadClicked();
    void onDeleteClicked();
    void onDownloadClicked();
    void onNewFolderClicked();
    void onRemoteDoubleClicked(QModelIndex index);
    void onSftpInitialized();
    void onSftpJobFinished(QSsh::SftpJobId job, QString error);
    void onSendFailed(QString strMsg, QString error);
    void processBufferedData();
    void onLanguageToggled();
    void onListingTimedOut();
    void onRenameClicked();
    void onRenameFinished(QString oldPath, QString newPath, QString error);
    void onReplacementRecovered(QString remotePath, QString backupPath, QSsh::SftpRecovery outcome,
                                QString error);

private:
    void setupUi();
    void setupModel();
    // The file operations' actions, the buttons that show them and the requests they make.
    void setupFileActions();
    // The list's keys and context menu.
    void setupListActions();
    void connectWorker(CConnectionForSshClient *pSshClient);
    void adjustColumnWidths();
    bool isEnglishUi() const;
    void appendLog(const QString &text);
    void retranslateUi();
    void updateStatusIndicator(bool connected);
    // Sends the listing command for `directory`, which becomes the current path only then.
    void listDirectory(const QString &directory);
    // Ends the outstanding listing without rows that claim to be the folder's content.
    void abandonListing();
    void clearListingState();
    // The list with the ".." row alone (none in the remote root directory).
    void showNavigationOnly();

    // The connection is up and its SFTP channel ready, whatever order their reports came in.
    bool fileOperationsPossible() const;
    // Hands what the file operations depend on to the one place that decides them.
    void updateActions();
    // The labels of Download and Delete count the selection again, or nothing.
    void showSelectionCounts();
    void clearSelectionCounts();

    // The worker's address up to its first colon, as the connected title shows it.
    QString workerHostText() const;
    // "... - Connected to <host>" in the current language.
    QString connectedTitle(const QString &host) const;

    const QString m_strRootPath = QStringLiteral("/home/pi/cnc/");
    QString m_strCurrentPath = m_strRootPath;
    bool m_isListingRemote = false;
    QString m_strRecvBuffer;
    QTimer *m_bufferTimer = nullptr;
    // How far the outstanding listing has come, and the shell's outcome lines.
    ShellListing *m_listing = nullptr;
    bool m_bReconnecting = false;
    QTimer *m_reconnectTimer = nullptr;
    QTreeView *m_treeView = nullptr;
    QPushButton *m_btnUpload = nullptr;
    QPushButton *m_btnDownload = nullptr;
    QPushButton *m_btnDelete = nullptr;
    QPushButton *m_btnRefresh = nullptr;
    QPushButton *m_btnNewFolder = nullptr;
    QPushButton *m_btnLanguage = nullptr;
    TransferProgressLine *m_progressLine = nullptr;
    QPlainTextEdit *m_logEdit = nullptr;
    QLabel *m_statusIndicator = nullptr;
    QLabel *m_pathLabel = nullptr;
    QLabel *m_statusLabel = nullptr;
    RemoteListModel *m_model = nullptr;
    bool m_bConnectState = true;
    // With m_bConnectState and m_isListingRemote, what the actions' enabled states follow.
    bool m_bSftpReady = false;
    bool m_bRequestOutstanding = false;
    bool m_bRefreshOffered = false;
    FileActions *m_fileActions = nullptr;
    FileRequests *m_fileRequests = nullptr;
    // Not owned. The worker deletes itself when its thread finishes, possibly before the
    // window goes; the guarded pointer then reads null instead of dangling.
    QPointer<CConnectionForSshClient> m_pSshClient;
    QSharedPointer<QSsh::SftpChannel> m_sftpChannel;
    HostKeyLog *m_hostKeyLog = nullptr;
    const JobReportLog m_jobReportLog;
    // Previews of the selected remote file (Space) and of local files.
    PreviewLauncher *m_previewLauncher = nullptr;
    // Verification of transfers and the comparison with a local file.
    TransferChecks *m_transferChecks = nullptr;
    // Editing a controller's file in place.
    EditInPlace *m_edits = nullptr;
    QAction *m_anotherController = nullptr;
};
