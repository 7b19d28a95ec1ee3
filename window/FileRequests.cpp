#include "FileRequests.h"

#include "FolderName.h"
#include "FolderTransfers.h"
#include "ListSelection.h"
#include "ProgramFiles.h"
#include "RemoteListModel.h"
#include "RemotePath.h"
#include "RenamePrompt.h"
#include "WindowLogging.h"
#include "WindowStyles.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QItemSelectionModel>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QSettings>
#include <QTreeView>
#include <QUrl>

namespace {

const QString kLastUploadDir = QStringLiteral("lastUploadDir");
const QString kLastDownloadDir = QStringLiteral("lastDownloadDir");

QVector<ListRow> selectedRows(const QTreeView *view)
{
    return RemoteListModel::selectedRows(view->selectionModel());
}

} // namespace

FileRequests::FileRequests(QWidget *window, const QTreeView *view, CConnectionForSshClient *worker,
                           std::function<bool()> english, std::function<bool()> sftpReady,
                           std::function<QString()> currentFolder)
    : QObject(window), m_window(window), m_view(view), m_english(english),
      m_sftpReady(std::move(sftpReady)), m_currentFolder(std::move(currentFolder)),
      m_folders(new FolderTransfers(window, worker, std::move(english)))
{
    connect(m_folders, &FolderTransfers::logged, this, &FileRequests::logged);
    connect(m_folders, &FolderTransfers::uploadFile, this, &FileRequests::uploadFile);
    connect(m_folders, &FolderTransfers::downloadFile, this, &FileRequests::downloadFile);
    connect(m_folders, &FolderTransfers::requestsSent, this, &FileRequests::requestsSent);
}

QString FileRequests::text(const QString &english, const QString &chinese) const
{
    return m_english() ? english : chinese;
}

void FileRequests::logNotReady(const QString &english, const QString &chinese)
{
    log(text(QStringLiteral("Error: SFTP not ready, unable to %1.").arg(english),
             QStringLiteral("错误: SFTP尚未准备就绪，无法%1。").arg(chinese)));
}

bool FileRequests::checkReady(const QString &english, const QString &chinese)
{
    if (m_sftpReady())
        return true;
    logNotReady(english, chinese);
    return false;
}

void FileRequests::upload()
{
    if (!checkReady(QStringLiteral("upload"), QStringLiteral("上传")))
        return;

    QSettings settings(ProgramFiles::settingsFile(), QSettings::IniFormat);
    const QString startDir = settings.value(kLastUploadDir, QDir::homePath()).toString();
    const QString localPath = QFileDialog::getOpenFileName(
        m_window, text(QStringLiteral("Select file to upload"), QStringLiteral("选择要上传的文件")),
        startDir);
    if (localPath.isEmpty()) {
        log(text(QStringLiteral("Upload cancelled."), QStringLiteral("上传已取消。")));
        return;
    }
    settings.setValue(kLastUploadDir, QFileInfo(localPath).absolutePath());
    m_folders->upload({localPath}, m_currentFolder(), FolderTransfers::Origin::Dialog);
}

void FileRequests::uploadFolder()
{
    if (!checkReady(QStringLiteral("upload"), QStringLiteral("上传")))
        return;
    QSettings settings(ProgramFiles::settingsFile(), QSettings::IniFormat);
    const QString localPath = QFileDialog::getExistingDirectory(
        m_window,
        text(QStringLiteral("Select folder to upload"), QStringLiteral("选择要上传的文件夹")),
        settings.value(kLastUploadDir, QDir::homePath()).toString(), QFileDialog::ShowDirsOnly);
    if (localPath.isEmpty()) {
        log(text(QStringLiteral("Upload cancelled."), QStringLiteral("上传已取消。")));
        return;
    }
    settings.setValue(kLastUploadDir, QFileInfo(localPath).absolutePath());
    m_folders->upload({localPath}, m_currentFolder(), FolderTransfers::Origin::Dialog);
}

bool FileRequests::acceptsDrop(const QMimeData *data, bool ready)
{
    return data->hasUrls() && ready;
}

bool FileRequests::uploadDropped(const QMimeData *data, bool ready)
{
    if (!ready) {
        logNotReady(QStringLiteral("upload"), QStringLiteral("上传"));
        return false;
    }
    if (!data->hasUrls())
        return false;

    const QList<QUrl> urls = data->urls();
    QStringList localPaths;
    for (const QUrl &url : urls) {
        if (url.isLocalFile())
            localPaths << url.toLocalFile();
    }
    if (localPaths.isEmpty())
        return true;
    m_folders->upload(localPaths, m_currentFolder(), FolderTransfers::Origin::Drop);
    // The next upload dialog opens where this drag came from, even when the first item was a
    // folder: its parent is that place.
    QSettings settings(ProgramFiles::settingsFile(), QSettings::IniFormat);
    settings.setValue(kLastUploadDir, QFileInfo(localPaths.first()).absolutePath());
    return true;
}

QString FileRequests::selectedRemoteFile() const
{
    const DownloadSelection selection = downloadSelection(selectedRows(m_view));
    return selection.files.isEmpty() ? QString()
                                     : RemotePath::join(m_currentFolder(), selection.files.first());
}

void FileRequests::download()
{
    if (!checkReady(QStringLiteral("download"), QStringLiteral("下载")))
        return;
    const QVector<ListRow> rows = selectedRows(m_view);
    if (rows.isEmpty()) {
        log(text(QStringLiteral("Please select files to download."),
                 QStringLiteral("请先选择要下载的文件。")));
        return;
    }

    const DownloadSelection selection = downloadSelection(rows);
    if (selection.files.isEmpty() && selection.folders.isEmpty()) {
        log(text(QStringLiteral("No files selected for download."),
                 QStringLiteral("没有选择可下载的文件。")));
        return;
    }

    QSettings settings(ProgramFiles::settingsFile(), QSettings::IniFormat);
    const QString startDir = settings.value(kLastDownloadDir, QDir::homePath()).toString();
    const QString folder = m_currentFolder();

    if (selection.files.size() == 1 && selection.folders.isEmpty()) {
        const QString &name = selection.files.first();
        // The save dialog asks before it lets an existing file be chosen.
        const QString localPath = QFileDialog::getSaveFileName(
            m_window, text(QStringLiteral("Save file"), QStringLiteral("保存文件")),
            startDir + QLatin1Char('/') + name);
        if (localPath.isEmpty()) {
            log(text(QStringLiteral("Download cancelled."), QStringLiteral("下载已取消。")));
            return;
        }
        const QString remotePath = RemotePath::join(folder, name);
        settings.setValue(kLastDownloadDir, QFileInfo(localPath).absolutePath());
        log(text(QStringLiteral("Requesting download %1 to %2..."),
                 QStringLiteral("请求下载 %1 到 %2 ..."))
                .arg(remotePath, localPath));
        emit downloadFile(remotePath, localPath);
        emit requestsSent();
        return;
    }
    const QString localDir = QFileDialog::getExistingDirectory(
        m_window, text(QStringLiteral("Select download directory"), QStringLiteral("选择下载目录")),
        startDir, QFileDialog::ShowDirsOnly);
    if (localDir.isEmpty()) {
        log(text(QStringLiteral("Download cancelled."), QStringLiteral("下载已取消。")));
        return;
    }
    settings.setValue(kLastDownloadDir, localDir);
    // Folders come with their whole trees; nothing is written over without the operator's word.
    m_folders->download(selection.files + selection.folders, folder, localDir);
}

void FileRequests::remove()
{
    if (!checkReady(QStringLiteral("delete"), QStringLiteral("删除")))
        return;
    const QVector<ListRow> rows = selectedRows(m_view);
    if (rows.isEmpty()) {
        log(text(QStringLiteral("Please select files or folders to delete."),
                 QStringLiteral("请先选择要删除的文件或文件夹。")));
        return;
    }
    const QVector<DeleteCandidate> candidates = deleteCandidates(rows, m_currentFolder());
    if (candidates.isEmpty()) {
        log(text(QStringLiteral("No valid items selected for deletion."),
                 QStringLiteral("没有选择有效的删除项目。")));
        return;
    }

    QStringList folders;
    for (const DeleteCandidate &candidate : candidates) {
        if (candidate.type == QLatin1String("dir"))
            folders << candidate.path;
    }
    if (folders.isEmpty()) {
        confirmDelete(candidates, QString());
        return;
    }
    // What will go is counted before the operator is asked.
    m_folders->countForDelete(folders, [this, candidates](const QString &summary) {
        confirmDelete(candidates, summary);
    });
}

void FileRequests::confirmDelete(const QVector<DeleteCandidate> &candidates, const QString &summary)
{
    QMessageBox box(m_window);
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle(text(QStringLiteral("Confirm Delete"), QStringLiteral("确认删除")));
    if (candidates.size() == 1) {
        box.setText(text(QStringLiteral("Are you sure you want to delete \"%1\"?"),
                         QStringLiteral("您确定要删除 \"%1\" 吗？"))
                        .arg(candidates.first().name));
    } else {
        box.setText(text(QStringLiteral("Are you sure you want to delete %1 selected items?"),
                         QStringLiteral("您确定要删除选中的 %1 个项目吗？"))
                        .arg(candidates.size()));
    }
    const QString undone = text(QStringLiteral("This operation cannot be undone."),
                                QStringLiteral("此操作无法撤销。"));
    box.setInformativeText(summary.isEmpty() ? undone : summary + QLatin1Char('\n') + undone);
    box.setStandardButtons(QMessageBox::Yes | QMessageBox::Cancel);
    box.button(QMessageBox::Yes)->setText(text(QStringLiteral("Delete"), QStringLiteral("删除")));
    box.button(QMessageBox::Cancel)
        ->setText(text(QStringLiteral("Cancel"), QStringLiteral("取消")));
    // Enter alone must not delete.
    box.setDefaultButton(QMessageBox::Cancel);
    box.setStyleSheet(WindowStyles::deleteBox());
    if (box.exec() != QMessageBox::Yes)
        return;

    log(text(QStringLiteral("Requesting delete %1 items..."),
             QStringLiteral("请求删除 %1 个项目..."))
            .arg(candidates.size()));
    for (const DeleteCandidate &candidate : candidates) {
        qCDebug(lcWindow).noquote() << "Deleting:" << candidate.path << "Type:" << candidate.type;
        emit deleteRemotePath(candidate.path, candidate.type);
    }
    emit requestsSent();
}

void FileRequests::newFolder()
{
    if (!checkReady(QStringLiteral("create folder"), QStringLiteral("创建文件夹")))
        return;

    bool accepted = false;
    const QString name = QInputDialog::getText(
        m_window, text(QStringLiteral("New Folder"), QStringLiteral("新建文件夹")),
        text(QStringLiteral("Please enter folder name:"), QStringLiteral("请输入文件夹名称:")),
        QLineEdit::Normal, text(QStringLiteral("New Folder"), QStringLiteral("新建文件夹")),
        &accepted);
    if (!accepted || name.isEmpty()) {
        log(text(QStringLiteral("New folder cancelled."), QStringLiteral("新建文件夹已取消。")));
        return;
    }
    if (!FolderName::isAllowed(name)) {
        QMessageBox::warning(
            m_window,
            text(QStringLiteral("Invalid folder name"), QStringLiteral("无效的文件夹名称")),
            text(QStringLiteral(
                     "Folder name cannot contain the following characters: / \\ * ? < > | \" :"),
                 QStringLiteral("文件夹名称不能包含以下字符: / \\ * ? < > | \" :")),
            QMessageBox::Ok);
        return;
    }

    // The name goes out as typed, blanks included, in composed Unicode form; the folder it is
    // made in keeps its name as listed, whatever form that has.
    const QString path =
        RemotePath::join(m_currentFolder(), name.normalized(QString::NormalizationForm_C));
    log(text(QStringLiteral("Creating folder: %1"), QStringLiteral("正在创建文件夹: %1"))
            .arg(path));
    emit createRemoteFolder(path);
    emit requestsSent();
}

void FileRequests::rename()
{
    if (!checkReady(QStringLiteral("rename"), QStringLiteral("重命名")))
        return;
    QVector<ListRow> rows = selectedRows(m_view);
    rows.erase(
        std::remove_if(rows.begin(), rows.end(),
                       [](const ListRow &row) { return row.kind == RemoteRowKind::Navigation; }),
        rows.end());
    if (rows.size() != 1) {
        log(text(QStringLiteral("Please select one file or folder to rename."),
                 QStringLiteral("请选择一个要重命名的文件或文件夹。")));
        return;
    }

    const QString oldName = rows.first().name;
    const RenamePrompt answer = RenamePrompt::ask(m_window, m_english(), oldName, m_view->model());
    if (answer.outcome == RenamePrompt::Outcome::Cancelled)
        log(text(QStringLiteral("Rename cancelled."), QStringLiteral("重命名已取消。")));
    if (answer.outcome != RenamePrompt::Outcome::Accepted)
        return;

    const QString oldPath = RemotePath::join(m_currentFolder(), oldName);
    const QString newPath = RemotePath::join(m_currentFolder(), answer.newName);
    log(text(QStringLiteral("Renaming %1 to %2..."), QStringLiteral("正在将 %1 重命名为 %2 ..."))
            .arg(oldPath, newPath));
    emit renameRemotePath(oldPath, newPath);
}
