#pragma once

#include "CConnectionForSshClient.h"
#include "SftpChannel.h"
#include "SshTypes.h"

#include <QIcon>
#include <QLoggingCategory>
#include <QModelIndex>
#include <QPointer>
#include <QSharedPointer>
#include <QString>
#include <QWidget>

class PreviewLauncher;
class QDragEnterEvent;
class QDropEvent;
class QLabel;
class QPushButton;
class QResizeEvent;
class QStandardItemModel;
class QTextEdit;
class QTimer;
class QTreeView;

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

signals:
    void sigSend(QString strMsg);
    void sigDisconnected();
    void sigUploadFile(QString localPath, QString remotePath);
    void sigDeleteRemotePath(QString path, QString type);
    void sigDownloadFile(QString remotePath, QString localPath);
    void sigCreateRemoteFolder(QString path);

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
    void processBufferedData();
    void onLanguageToggled();

private:
    void setupUi();
    void setupModel();
    void adjustColumnWidths();
    bool isEnglishUi() const;
    void appendLog(const QString &text);
    void retranslateUi();
    void updateStatusIndicator(bool connected);
    QString formatFileSize(const QString &size) const;

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
    // Where the echo of the outstanding listing command starts in the receive buffer; -1
    // until it has arrived. Only a prompt after it ends the listing.
    int m_nListingEchoPos = -1;
    QTimer *m_bufferTimer = nullptr;
    bool m_bReconnecting = false;
    QTimer *m_reconnectTimer = nullptr;
    QTreeView *m_treeView = nullptr;
    QPushButton *m_btnUpload = nullptr;
    QPushButton *m_btnDownload = nullptr;
    QPushButton *m_btnDelete = nullptr;
    QPushButton *m_btnRefresh = nullptr;
    QPushButton *m_btnNewFolder = nullptr;
    QPushButton *m_btnLanguage = nullptr;
    QTextEdit *m_logEdit = nullptr;
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
    // Previews of the selected remote file (Space) and of local files.
    PreviewLauncher *m_previewLauncher = nullptr;
};
