#pragma once

#include "CConnectionForSshClient.h"
#include "HostKeyReport.h"
#include "ListingProgress.h"
#include "SftpChannel.h"
#include "SshTypes.h"

#include <QIcon>
#include <QLoggingCategory>
#include <QModelIndex>
#include <QPointer>
#include <QSharedPointer>
#include <QString>
#include <QWidget>

class HostKeyLog;
class PreviewLauncher;
class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QResizeEvent;
class QStandardItemModel;
class QTimer;
class QTreeView;
class TransferProgressLine;

Q_DECLARE_LOGGING_CATEGORY(lcWindow)

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
    void onSelectionChanged();
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
    // The list's keys and context menu.
    void setupListActions();
    void adjustColumnWidths();
    bool isEnglishUi() const;
    void appendLog(const QString &text);
    void retranslateUi();
    void updateStatusIndicator(bool connected);
    QString formatFileSize(const QString &size) const;
    // Sends the listing command for `directory`, which becomes the current path only then.
    void listDirectory(const QString &directory);
    // Ends the outstanding listing without rows that claim to be the folder's content.
    void abandonListing();
    void clearListingState();
    // The list with the ".." row alone (none in the remote root directory).
    void showNavigationOnly();

    // The connection is up and its SFTP channel ready, whatever order their reports came in.
    bool fileOperationsPossible() const;

    // The worker's address up to its first colon, as the connected title shows it.
    QString workerHostText() const;
    // "... - Connected to <host>" in the current language.
    QString connectedTitle(const QString &host) const;

    const QString m_strRootPath = QStringLiteral("/home/pi/cnc/");
    QString m_strCurrentPath = m_strRootPath;
    bool m_isListingRemote = false;
    QString m_strRecvBuffer;
    // The unterminated last line of the shell output, so that a marker line that arrives in
    // two pieces is still seen whole.
    QString m_strMarkerCarry;
    ListingProgress m_listingProgress;
    QTimer *m_bufferTimer = nullptr;
    // Bounds a listing that never ends (a lost command, a shell that says nothing).
    QTimer *m_listingTimeoutTimer = nullptr;
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
    QStandardItemModel *m_model = nullptr;
    // Made once: every listing reuses them, so the pixmaps the view caches for them are made
    // once too, instead of a new set per listing piling up in the pixmap cache.
    QIcon m_folderIcon;
    QIcon m_fileIcon;
    QIcon m_parentIcon;
    bool m_bConnectState = true;
    // Not owned. The worker deletes itself when its thread finishes, possibly before the
    // window goes; the guarded pointer then reads null instead of dangling.
    QPointer<CConnectionForSshClient> m_pSshClient;
    QSharedPointer<QSsh::SftpChannel> m_sftpChannel;
    HostKeyLog *m_hostKeyLog = nullptr;
    // Previews of the selected remote file (Space) and of local files.
    PreviewLauncher *m_previewLauncher = nullptr;
};
