// The window's file operations: upload by dialog and by drop, download, delete, new folder, and
// the handling of the worker's job reports. Each operation only checks its preconditions, asks
// the operator, logs and emits its requests; the worker carries them out in its own thread.

#include "mainwindow.h"

#include "FolderName.h"
#include "ListSelection.h"
#include "RemoteListRoles.h"
#include "RemotePath.h"

#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QTimer>
#include <QTreeView>
#include <QUrl>

#include <initializer_list>

namespace {

const QString kLastUploadDir = QStringLiteral("lastUploadDir");
const QString kLastDownloadDir = QStringLiteral("lastDownloadDir");

// The settings file lives beside the executable, whatever the working directory.
QString settingsFilePath()
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/settings.ini");
}

bool isSftpReady(const QSharedPointer<QSsh::SftpChannel> &channel)
{
    return channel && channel->state() == QSsh::SftpChannel::Initialized;
}

void setEnabledInOrder(std::initializer_list<QPushButton *> buttons, bool enabled)
{
    for (QPushButton *button : buttons)
        button->setEnabled(enabled);
}

// The names and type texts of the selected rows, in the order the selection model gives them.
// The name is the entry's own, kept by the listing beside the text shown; the ".." row has
// only its text.
QVector<ListRow> selectedListRows(const QTreeView *view)
{
    QVector<ListRow> rows;
    const QItemSelectionModel *selection = view->selectionModel();
    if (!selection)
        return rows;
    const QModelIndexList indexes = selection->selectedRows(0);
    for (const QModelIndex &index : indexes) {
        if (!index.isValid())
            continue;
        const QVariant name = index.data(RemoteNameRole);
        rows.append({name.isValid() ? name.toString() : index.data().toString(),
                     index.sibling(index.row(), 1).data().toString()});
    }
    return rows;
}

const char kDeleteBoxStyle[] = R"(
QMessageBox { background-color: #f8f9fa; border-radius: 8px; }
QMessageBox QLabel { color: #2c3e50; font-size: 14px; }
QMessageBox QPushButton {
    background-color: #007aff; color: white; border: none; padding: 8px 16px;
    border-radius: 6px; font-weight: bold; min-width: 80px;
}
QMessageBox QPushButton:hover { background-color: #0056b3; }
QMessageBox QPushButton:pressed { background-color: #004085; }
QMessageBox QPushButton[text='删除'] { background-color: #dc3545; }
QMessageBox QPushButton[text='删除']:hover { background-color: #c82333; }
QMessageBox QPushButton[text='删除']:pressed { background-color: #bd2130; }
)";

} // namespace

void mainwindow::onUploadClicked()
{
    if (!isSftpReady(m_sftpChannel)) {
        appendLog(isEnglishUi() ? QStringLiteral("Error: SFTP not ready, unable to upload.")
                                : QStringLiteral("错误: SFTP尚未准备就绪，无法上传。"));
        return;
    }

    QSettings settings(settingsFilePath(), QSettings::IniFormat);
    const QString startDir = settings.value(kLastUploadDir, QDir::homePath()).toString();
    const QString localPath =
        QFileDialog::getOpenFileName(this,
                                     isEnglishUi() ? QStringLiteral("Select file to upload")
                                                   : QStringLiteral("选择要上传的文件"),
                                     startDir);
    if (localPath.isEmpty()) {
        appendLog(isEnglishUi() ? QStringLiteral("Upload cancelled.")
                                : QStringLiteral("上传已取消。"));
        return;
    }
    const QFileInfo localFile(localPath);
    settings.setValue(kLastUploadDir, localFile.absolutePath());

    // The current remote directory always ends with "/".
    const QString remotePath = m_strCurrentPath + localFile.fileName();
    appendLog((isEnglishUi() ? QStringLiteral("Requesting upload %1 to %2...")
                             : QStringLiteral("请求上传 %1 到 %2 ..."))
                  .arg(localPath, remotePath));
    emit sigUploadFile(localPath, remotePath);

    setEnabledInOrder({m_btnUpload, m_btnDownload, m_btnNewFolder, m_btnDelete}, false);
}

void mainwindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls() && m_bConnectState && isSftpReady(m_sftpChannel))
        event->acceptProposedAction();
    else
        event->ignore();
}

void mainwindow::dropEvent(QDropEvent *event)
{
    if (!m_bConnectState || !isSftpReady(m_sftpChannel)) {
        appendLog(isEnglishUi() ? QStringLiteral("Error: SFTP not ready, unable to upload.")
                                : QStringLiteral("错误: SFTP尚未准备就绪，无法上传。"));
        event->ignore();
        return;
    }
    const QMimeData *mimeData = event->mimeData();
    if (!mimeData->hasUrls()) {
        event->ignore();
        return;
    }

    const QList<QUrl> urls = mimeData->urls();
    int uploadCount = 0;
    for (const QUrl &url : urls) {
        if (!url.isLocalFile())
            continue;
        const QString localPath = url.toLocalFile();
        const QFileInfo localFile(localPath);
        if (!localFile.isFile()) {
            appendLog((isEnglishUi()
                           ? QStringLiteral("Skip folder: %1 (only file upload is supported)")
                           : QStringLiteral("跳过文件夹: %1 (仅支持文件上传)"))
                          .arg(localPath));
            continue;
        }
        const QString remotePath = m_strCurrentPath + localFile.fileName();
        appendLog((isEnglishUi() ? QStringLiteral("Drag and drop upload %1 to %2...")
                                 : QStringLiteral("拖放上传 %1 到 %2 ..."))
                      .arg(localPath, remotePath));
        emit sigUploadFile(localPath, remotePath);
        ++uploadCount;
    }

    if (uploadCount > 0) {
        setEnabledInOrder({m_btnUpload, m_btnDownload, m_btnNewFolder, m_btnDelete}, false);
        // The next upload dialog opens where this drag came from, even when the first item
        // was a folder: its parent is that place.
        if (urls.first().isLocalFile()) {
            QSettings settings(settingsFilePath(), QSettings::IniFormat);
            settings.setValue(kLastUploadDir, QFileInfo(urls.first().toLocalFile()).absolutePath());
        }
    }
    event->acceptProposedAction();
}

void mainwindow::onDownloadClicked()
{
    if (!isSftpReady(m_sftpChannel)) {
        appendLog(isEnglishUi() ? QStringLiteral("Error: SFTP not ready, unable to download.")
                                : QStringLiteral("错误: SFTP尚未准备就绪，无法下载。"));
        return;
    }
    const QVector<ListRow> rows = selectedListRows(m_treeView);
    if (rows.isEmpty()) {
        appendLog(isEnglishUi() ? QStringLiteral("Please select files to download.")
                                : QStringLiteral("请先选择要下载的文件。"));
        return;
    }

    const DownloadSelection selection =
        downloadSelection(rows, isEnglishUi() ? QStringLiteral("File") : QStringLiteral("文件"));
    for (const QString &name : selection.skipped) {
        appendLog((isEnglishUi()
                       ? QStringLiteral("Skipping folder: %1 (only files can be downloaded)")
                       : QStringLiteral("跳过文件夹: %1 (只能下载文件)"))
                      .arg(name));
    }
    if (selection.files.isEmpty()) {
        appendLog(isEnglishUi() ? QStringLiteral("No files selected for download.")
                                : QStringLiteral("没有选择可下载的文件。"));
        return;
    }

    QSettings settings(settingsFilePath(), QSettings::IniFormat);
    const QString startDir = settings.value(kLastDownloadDir, QDir::homePath()).toString();

    if (selection.files.size() == 1) {
        const QString &name = selection.files.first();
        // The save dialog asks before it lets an existing file be chosen.
        const QString localPath = QFileDialog::getSaveFileName(
            this, isEnglishUi() ? QStringLiteral("Save file") : QStringLiteral("保存文件"),
            startDir + QLatin1Char('/') + name);
        if (localPath.isEmpty()) {
            appendLog(isEnglishUi() ? QStringLiteral("Download cancelled.")
                                    : QStringLiteral("下载已取消。"));
            return;
        }
        const QString remotePath = RemotePath::join(m_strCurrentPath, name);
        settings.setValue(kLastDownloadDir, QFileInfo(localPath).absolutePath());
        appendLog((isEnglishUi() ? QStringLiteral("Requesting download %1 to %2...")
                                 : QStringLiteral("请求下载 %1 到 %2 ..."))
                      .arg(remotePath, localPath));
        emit sigDownloadFile(remotePath, localPath);
    } else {
        const QString localDir = QFileDialog::getExistingDirectory(
            this,
            isEnglishUi() ? QStringLiteral("Select download directory")
                          : QStringLiteral("选择下载目录"),
            startDir, QFileDialog::ShowDirsOnly);
        if (localDir.isEmpty()) {
            appendLog(isEnglishUi() ? QStringLiteral("Download cancelled.")
                                    : QStringLiteral("下载已取消。"));
            return;
        }
        settings.setValue(kLastDownloadDir, localDir);
        appendLog((isEnglishUi() ? QStringLiteral("Requesting download %1 files to %2...")
                                 : QStringLiteral("请求下载 %1 个文件到 %2 ..."))
                      .arg(QString::number(selection.files.size()), localDir));
        // Existing files of the same names are replaced by the worker, each only once its
        // download is complete.
        for (const QString &name : selection.files) {
            emit sigDownloadFile(RemotePath::join(m_strCurrentPath, name),
                                 localDir + QLatin1Char('/') + name);
        }
    }

    setEnabledInOrder({m_btnUpload, m_btnDownload, m_btnNewFolder, m_btnDelete}, false);
}

void mainwindow::onDeleteClicked()
{
    if (!isSftpReady(m_sftpChannel)) {
        appendLog(isEnglishUi() ? QStringLiteral("Error: SFTP not ready, unable to delete.")
                                : QStringLiteral("错误: SFTP尚未准备就绪，无法删除。"));
        return;
    }
    const QVector<ListRow> rows = selectedListRows(m_treeView);
    if (rows.isEmpty()) {
        appendLog(isEnglishUi() ? QStringLiteral("Please select files or folders to delete.")
                                : QStringLiteral("请先选择要删除的文件或文件夹。"));
        return;
    }
    const QVector<DeleteCandidate> candidates =
        deleteCandidates(rows, m_strCurrentPath,
                         isEnglishUi() ? QStringLiteral("Folder") : QStringLiteral("文件夹"));
    if (candidates.isEmpty()) {
        appendLog(isEnglishUi() ? QStringLiteral("No valid items selected for deletion.")
                                : QStringLiteral("没有选择有效的删除项目。"));
        return;
    }

    QMessageBox box(this);
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(isEnglishUi() ? QStringLiteral("Confirm Delete")
                                     : QStringLiteral("确认删除"));
    if (candidates.size() == 1) {
        box.setText((isEnglishUi() ? QStringLiteral("Are you sure you want to delete \"%1\"?")
                                   : QStringLiteral("您确定要删除 \"%1\" 吗？"))
                        .arg(candidates.first().name));
    } else {
        box.setText((isEnglishUi()
                         ? QStringLiteral("Are you sure you want to delete %1 selected items?")
                         : QStringLiteral("您确定要删除选中的 %1 个项目吗？"))
                        .arg(candidates.size()));
    }
    box.setInformativeText(isEnglishUi() ? QStringLiteral("This operation cannot be undone.")
                                         : QStringLiteral("此操作无法撤销。"));
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::Cancel);
    box.button(QMessageBox::Yes)
        ->setText(isEnglishUi() ? QStringLiteral("Delete") : QStringLiteral("删除"));
    box.button(QMessageBox::Cancel)
        ->setText(isEnglishUi() ? QStringLiteral("Cancel") : QStringLiteral("取消"));
    // Enter alone must not delete.
    box.setDefaultButton(QMessageBox::Cancel);
    box.setStyleSheet(QString::fromUtf8(kDeleteBoxStyle));
    if (box.exec() != QMessageBox::Yes)
        return;

    appendLog((isEnglishUi() ? QStringLiteral("Requesting delete %1 items...")
                             : QStringLiteral("请求删除 %1 个项目..."))
                  .arg(candidates.size()));
    for (const DeleteCandidate &candidate : candidates) {
        qCDebug(lcWindow).noquote() << "Deleting:" << candidate.path << "Type:" << candidate.type;
        emit sigDeleteRemotePath(candidate.path, candidate.type);
    }

    setEnabledInOrder({m_btnDelete, m_btnUpload, m_btnDownload, m_btnNewFolder}, false);
}

void mainwindow::onNewFolderClicked()
{
    if (!isSftpReady(m_sftpChannel)) {
        appendLog(isEnglishUi() ? QStringLiteral("Error: SFTP not ready, unable to create folder.")
                                : QStringLiteral("错误: SFTP尚未准备就绪，无法创建文件夹。"));
        return;
    }

    bool accepted = false;
    const QString name = QInputDialog::getText(
        this, isEnglishUi() ? QStringLiteral("New Folder") : QStringLiteral("新建文件夹"),
        isEnglishUi() ? QStringLiteral("Please enter folder name:")
                      : QStringLiteral("请输入文件夹名称:"),
        QLineEdit::Normal,
        isEnglishUi() ? QStringLiteral("New Folder") : QStringLiteral("新建文件夹"), &accepted);
    if (!accepted || name.isEmpty()) {
        appendLog(isEnglishUi() ? QStringLiteral("New folder cancelled.")
                                : QStringLiteral("新建文件夹已取消。"));
        return;
    }
    if (!FolderName::isAllowed(name)) {
        QMessageBox::warning(
            this,
            isEnglishUi() ? QStringLiteral("Invalid folder name")
                          : QStringLiteral("无效的文件夹名称"),
            isEnglishUi()
                ? QStringLiteral(
                      "Folder name cannot contain the following characters: / \\ * ? < > | \" :")
                : QStringLiteral("文件夹名称不能包含以下字符: / \\ * ? < > | \" :"),
            QMessageBox::Ok);
        return;
    }

    // The name goes out exactly as typed, blanks included.
    const QString path = RemotePath::join(m_strCurrentPath, name);
    appendLog((isEnglishUi() ? QStringLiteral("Creating folder: %1")
                             : QStringLiteral("正在创建文件夹: %1"))
                  .arg(path));
    emit sigCreateRemoteFolder(path);

    setEnabledInOrder({m_btnUpload, m_btnDownload, m_btnNewFolder, m_btnDelete}, false);
}

void mainwindow::onSftpJobFinished(QSsh::SftpJobId job, QString error)
{
    if (error.isEmpty()) {
        appendLog((isEnglishUi() ? QStringLiteral("SFTP task %1 completed successfully.")
                                 : QStringLiteral("SFTP任务 %1 已成功完成。"))
                      .arg(job));
    } else {
        appendLog((isEnglishUi() ? QStringLiteral("SFTP task %1 failed: %2")
                                 : QStringLiteral("SFTP任务 %1 失败: %2"))
                      .arg(QString::number(job), error));
    }

    // Failures too give the window back: the operator may retry at once.
    setEnabledInOrder({m_btnUpload, m_btnDownload, m_btnNewFolder, m_btnDelete}, true);
    m_btnDelete->setText(isEnglishUi() ? QStringLiteral("Delete File")
                                       : QStringLiteral("删除文件"));
    m_btnDownload->setText(isEnglishUi() ? QStringLiteral("Download File")
                                         : QStringLiteral("下载文件"));

    // Show the job's effect; onRefreshClicked refuses by itself while disconnected or listing.
    QTimer::singleShot(200, this, &mainwindow::onRefreshClicked);
}
