#include "FolderTransfers.h"

#include "CConnectionForSshClient.h"
#include "OverwritePrompt.h"
#include "RemoteFileName.h"
#include "TreeSummary.h"

#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <memory>

#include <sys/stat.h>

namespace {

// Milliseconds that counting a delete may take before the box asks without the figures.
constexpr int kCountTimeoutMs = 3000;

using Kind = QSsh::SftpTreeEntry::Kind;

QString childPath(const QString &top, const QString &relative)
{
    return relative.isEmpty() ? top : top + QLatin1Char('/') + relative;
}

bool underAny(const QString &path, const QStringList &folders)
{
    return std::any_of(folders.cbegin(), folders.cend(), [&path](const QString &folder) {
        return path.startsWith(folder + QLatin1Char('/'));
    });
}

// False when the local system gave the name in a form that does not name the file (bytes
// that are not text in its encoding).
bool namesItsFile(const QString &path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0;
}

} // namespace

FolderTransfers::FolderTransfers(QWidget *window, CConnectionForSshClient *worker,
                                 std::function<bool()> english)
    : QObject(window), m_window(window), m_english(std::move(english))
{
    if (!worker)
        return;
    using Worker = CConnectionForSshClient;
    connect(this, &FolderTransfers::sigListRemoteTree, worker, &Worker::slotListRemoteTree);
    connect(this, &FolderTransfers::sigCancelRemoteTreeListing, worker,
            &Worker::slotCancelRemoteTreeListing);
    connect(this, &FolderTransfers::sigUploadTree, worker, &Worker::slotUploadTree);
    connect(this, &FolderTransfers::sigDownloadTree, worker, &Worker::slotDownloadTree);
    connect(worker, &Worker::sigRemoteTreeListed, this, &FolderTransfers::onTreeListed);
}

void FolderTransfers::onTreeListed(quint64 request, const QSsh::SftpTree &entries,
                                   const QString &error)
{
    if (const auto answer = m_listings.take(request))
        answer(entries, error);
}

void FolderTransfers::listAll(const QStringList &remotePaths, int timeoutMs, Listed answer)
{
    struct State
    {
        QVector<QSsh::SftpTree> trees;
        QString error;
        int outstanding = 0;
        bool answered = false;
        QList<quint64> requests;
    };
    auto state = std::make_shared<State>();
    state->trees.resize(remotePaths.size());
    state->outstanding = remotePaths.size();
    if (remotePaths.isEmpty()) {
        answer({}, QString(), false);
        return;
    }
    for (int i = 0; i < remotePaths.size(); ++i) {
        const quint64 request = m_nextRequest++;
        state->requests << request;
        m_listings.insert(request,
                          [state, i, answer](const QSsh::SftpTree &tree, const QString &error) {
                              state->trees[i] = tree;
                              if (state->error.isEmpty())
                                  state->error = error;
                              if (--state->outstanding == 0 && !state->answered) {
                                  state->answered = true;
                                  answer(state->trees, state->error, false);
                              }
                          });
        emit sigListRemoteTree(request, remotePaths.at(i));
    }
    if (timeoutMs <= 0)
        return;
    QTimer::singleShot(timeoutMs, this, [this, state, answer] {
        if (state->answered)
            return;
        state->answered = true;
        for (const quint64 request : qAsConst(state->requests)) {
            if (m_listings.remove(request))
                emit sigCancelRemoteTreeListing(request);
        }
        answer({}, QString(), true);
    });
}

void FolderTransfers::countForDelete(const QStringList &remotePaths,
                                     std::function<void(QString)> answer)
{
    listAll(
        remotePaths, kCountTimeoutMs,
        [this, answer](const QVector<QSsh::SftpTree> &trees, const QString &error, bool timedOut) {
            if (timedOut) {
                answer(text(QStringLiteral("The folders could not be counted within a few "
                                           "seconds."),
                            QStringLiteral("无法在几秒内统计文件夹内容。")));
                return;
            }
            if (!error.isEmpty()) {
                answer(text(QStringLiteral("The folders could not be counted: %1"),
                            QStringLiteral("无法统计文件夹内容: %1"))
                           .arg(error));
                return;
            }
            TreeSummary summary;
            for (const QSsh::SftpTree &tree : trees)
                summary.add(tree);
            answer(summary.text(m_english()));
        });
}

bool FolderTransfers::confirm(TransferPlan *plan, bool uploading, const QString &localFolder)
{
    OverwritePrompt prompt(m_window, m_english(), uploading);
    for (auto it = plan->files.begin(); it != plan->files.end();) {
        if (!it->replaces) {
            ++it;
            continue;
        }
        switch (prompt.askReplace(it->target, it->source, it->existing)) {
        case OverwritePrompt::Answer::Replace:
            ++it;
            break;
        case OverwritePrompt::Answer::Skip:
            log(text(QStringLiteral("Skipping %1: the existing file is kept."),
                     QStringLiteral("跳过 %1: 保留现有文件。"))
                    .arg(it->target));
            it = plan->files.erase(it);
            break;
        case OverwritePrompt::Answer::Cancel:
            return false;
        }
    }
    for (const TransferPlan::Clash &clash : qAsConst(plan->clashes)) {
        switch (prompt.askClash(clash.source.path, clash.sameAs)) {
        case OverwritePrompt::Answer::Replace: {
            TransferPlan::File file;
            file.source = clash.source;
            const auto taken = [plan, &localFolder](const QString &name) {
                return QFileInfo::exists(localFolder + QLatin1Char('/') + name) ||
                       std::any_of(plan->files.cbegin(), plan->files.cend(),
                                   [&name](const TransferPlan::File &other) {
                                       return TransferPlan::storedName(other.target, true) ==
                                              TransferPlan::storedName(name, true);
                                   });
            };
            file.target = TransferPlan::freeName(clash.source.path, taken);
            plan->files.append(file);
            break;
        }
        case OverwritePrompt::Answer::Skip:
            log(text(QStringLiteral("Skipping %1: it would be saved as the same local file as %2."),
                     QStringLiteral("跳过 %1: 它会与 %2 保存为同一个本地文件。"))
                    .arg(clash.source.path, clash.sameAs));
            break;
        case OverwritePrompt::Answer::Cancel:
            return false;
        }
    }
    plan->clashes.clear();
    return true;
}

void FolderTransfers::upload(const QStringList &localPaths, const QString &remoteFolder,
                             Origin origin)
{
    QVector<TransferItem> sources;
    QHash<QString, QString> localOf; // relative path -> local path
    QStringList tops;
    bool folders = false;
    const auto addItem = [&](const QFileInfo &info, const QString &relative) {
        sources.append({relative, info.isDir(), quint64(qMax<qint64>(0, info.size())),
                        info.lastModified().toUTC()});
        localOf.insert(relative, info.filePath());
    };
    for (const QString &path : localPaths) {
        const QFileInfo top(path);
        if (!top.isFile() && !top.isDir())
            continue;
        tops << top.fileName();
        addItem(top, top.fileName());
        if (!top.isDir())
            continue;
        folders = true;
        const int walkStart = sources.size();
        // Links are listed, never followed.
        QDirIterator it(path, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo entry(it.next());
            const QString relative =
                top.fileName() + QLatin1Char('/') + QDir(path).relativeFilePath(entry.filePath());
            if (entry.isSymLink()) {
                log(text(QStringLiteral("Skipping link %1: links are not followed."),
                         QStringLiteral("跳过链接 %1: 不跟随链接。"))
                        .arg(entry.filePath()));
            } else if (!namesItsFile(entry.filePath())) {
                log(text(QStringLiteral("Skipping %1: its name cannot be read on this computer."),
                         QStringLiteral("跳过 %1: 无法在本机读取它的名称。"))
                        .arg(entry.filePath()));
            } else if (entry.isDir() || entry.isFile()) {
                addItem(entry, relative);
            }
        }
        // Every folder before what it holds.
        std::sort(sources.begin() + walkStart, sources.end(),
                  [](const TransferItem &a, const TransferItem &b) { return a.path < b.path; });
    }
    QStringList remoteTops;
    for (const QString &name : qAsConst(tops))
        remoteTops << remoteFolder + name;

    listAll(remoteTops, 0, [=](const QVector<QSsh::SftpTree> &trees, const QString &error, bool) {
        if (!error.isEmpty()) {
            log(text(QStringLiteral("Upload failed: %1"), QStringLiteral("上传失败: %1"))
                    .arg(error));
            return;
        }
        QVector<TransferItem> existing;
        for (int i = 0; i < trees.size(); ++i) {
            for (const QSsh::SftpTreeEntry &entry : trees.at(i))
                existing.append({childPath(tops.at(i), entry.path), entry.kind == Kind::Folder,
                                 entry.size, entry.modified});
        }
        TransferPlan plan = TransferPlan::make(sources, existing, false);
        for (const QString &blocked : qAsConst(plan.blocked)) {
            log(text(QStringLiteral("Skipping %1: the controller holds something else "
                                    "under that name."),
                     QStringLiteral("跳过 %1: 控制器上该名称已被其他类型的项目占用。"))
                    .arg(remoteFolder + blocked));
        }
        if (!confirm(&plan, true, QString())) {
            log(text(QStringLiteral("Upload cancelled."), QStringLiteral("上传已取消。")));
            return;
        }
        sendUploads(plan, remoteFolder, localOf, folders, origin);
    });
}

void FolderTransfers::sendUploads(const TransferPlan &plan, const QString &remoteFolder,
                                  const QHash<QString, QString> &localOf, bool folders,
                                  Origin origin)
{
    if (plan.files.isEmpty() && plan.folders.isEmpty())
        return;
    QStringList localFiles;
    QStringList remoteFiles;
    int inFolders = 0;
    for (const TransferPlan::File &file : plan.files) {
        const QString local = localOf.value(file.source.path);
        const QString remote = remoteFolder + file.target;
        localFiles << local;
        remoteFiles << remote;
        if (file.target.contains(QLatin1Char('/'))) {
            ++inFolders;
            continue;
        }
        log((origin == Origin::Drop ? text(QStringLiteral("Drag and drop upload %1 to %2..."),
                                           QStringLiteral("拖放上传 %1 到 %2 ..."))
                                    : text(QStringLiteral("Requesting upload %1 to %2..."),
                                           QStringLiteral("请求上传 %1 到 %2 ...")))
                .arg(local, remote));
        if (!folders)
            emit uploadFile(local, remote);
    }
    if (folders) {
        QStringList remoteFolders;
        for (const QString &folder : plan.folders)
            remoteFolders << remoteFolder + folder;
        log(text(QStringLiteral("Uploading %1 new folders and the %2 files in them to %3..."),
                 QStringLiteral("正在上传 %1 个新文件夹及其中的 %2 个文件到 %3 ..."))
                .arg(remoteFolders.size())
                .arg(inFolders)
                .arg(remoteFolder));
        emit sigUploadTree(remoteFolders, localFiles, remoteFiles);
    }
    emit requestsSent();
}

void FolderTransfers::download(const QStringList &names, const QString &remoteFolder,
                               const QString &localFolder)
{
    QStringList remoteTops;
    for (const QString &name : names)
        remoteTops << remoteFolder + name;
    listAll(remoteTops, 0, [=](const QVector<QSsh::SftpTree> &trees, const QString &error, bool) {
        if (!error.isEmpty()) {
            log(text(QStringLiteral("Download failed: %1"), QStringLiteral("下载失败: %1"))
                    .arg(error));
            return;
        }
        QVector<TransferItem> sources;
        QStringList unstorable;
        for (int i = 0; i < trees.size(); ++i) {
            for (const QSsh::SftpTreeEntry &entry : trees.at(i)) {
                const QString relative = childPath(names.at(i), entry.path);
                if (underAny(relative, unstorable))
                    continue;
                // A selected link is fetched as the file it names, as before; inside a tree
                // links are not followed.
                if (!entry.path.isEmpty() && entry.kind != Kind::Folder &&
                    entry.kind != Kind::File) {
                    log(text(QStringLiteral("Skipping link %1: links are not followed."),
                             QStringLiteral("跳过链接 %1: 不跟随链接。"))
                            .arg(remoteFolder + relative));
                    continue;
                }
                if (QSsh::remoteNameToBytes(relative) != relative.toUtf8()) {
                    log(text(QStringLiteral("Skipping %1: its name cannot be stored on this "
                                            "computer."),
                             QStringLiteral("跳过 %1: 无法在本机保存它的名称。"))
                            .arg(remoteFolder + relative));
                    unstorable << relative;
                    continue;
                }
                sources.append({relative, entry.kind == Kind::Folder, entry.size, entry.modified});
            }
        }
        QVector<TransferItem> existing;
        for (const TransferItem &source : qAsConst(sources)) {
            const QFileInfo local(localFolder + QLatin1Char('/') + source.path);
            if (local.exists() || local.isSymLink())
                existing.append({source.path, local.isDir(), quint64(qMax<qint64>(0, local.size())),
                                 local.lastModified().toUTC()});
        }
        TransferPlan plan = TransferPlan::make(sources, existing, true);
        for (const QString &blocked : qAsConst(plan.blocked)) {
            log(text(QStringLiteral("Skipping %1: the local folder holds something else under "
                                    "that name."),
                     QStringLiteral("跳过 %1: 本地文件夹中该名称已被其他类型的项目占用。"))
                    .arg(remoteFolder + blocked));
        }
        if (!confirm(&plan, false, localFolder)) {
            log(text(QStringLiteral("Download cancelled."), QStringLiteral("下载已取消。")));
            return;
        }
        if (plan.files.isEmpty() && plan.folders.isEmpty())
            return;
        QStringList localFolders;
        for (const QString &folder : qAsConst(plan.folders))
            localFolders << localFolder + QLatin1Char('/') + folder;
        QStringList remoteFiles;
        QStringList localFiles;
        for (const TransferPlan::File &file : qAsConst(plan.files)) {
            remoteFiles << remoteFolder + file.source.path;
            localFiles << localFolder + QLatin1Char('/') + file.target;
        }
        log(text(QStringLiteral("Requesting download %1 files to %2..."),
                 QStringLiteral("请求下载 %1 个文件到 %2 ..."))
                .arg(QString::number(remoteFiles.size()), localFolder));
        emit sigDownloadTree(localFolders, remoteFiles, localFiles);
        emit requestsSent();
    });
}
