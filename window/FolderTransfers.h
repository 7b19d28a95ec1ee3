#pragma once

#include "SshTypes.h"
#include "TransferPlan.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

class CConnectionForSshClient;
class QWidget;

// Uploads and downloads of whole folders (and of files, which get the same care): what the
// other side holds at the target is listed first, the operator is asked before anything is
// written over (OverwritePrompt), and the batch then goes to the worker: its folders first,
// then each file as a single transfer on the progress line. Symbolic links inside a tree are
// skipped and logged; names that the local system cannot store are reported.
//
// Also counts what a delete of folders would remove, for the confirmation box.
class FolderTransfers : public QObject
{
    Q_OBJECT
public:
    // How an upload was asked for: its log line per file is that of the upload dialog or of a
    // drop.
    enum class Origin { Dialog, Drop };

    FolderTransfers(QWidget *window, CConnectionForSshClient *worker,
                    std::function<bool()> english);

    // remoteFolder ends with '/'.
    void upload(const QStringList &localPaths, const QString &remoteFolder, Origin origin);
    // names: entries of remoteFolder, files and folders.
    void download(const QStringList &names, const QString &remoteFolder,
                  const QString &localFolder);
    // answer gets "3 folders, 27 files, 14.2 MB", or a line saying the folders could not be
    // counted within a few seconds.
    void countForDelete(const QStringList &remotePaths, std::function<void(QString)> answer);

signals:
    void logged(const QString &line);
    // Files went out to the worker: the window waits for their reports.
    void requestsSent();
    void uploadFile(QString localPath, QString remotePath);
    void downloadFile(QString remotePath, QString localPath);

    void sigListRemoteTree(quint64 request, QString remotePath);
    void sigCancelRemoteTreeListing(quint64 request);
    void sigUploadTree(QStringList remoteFolders, QStringList localFiles, QStringList remoteFiles);
    void sigDownloadTree(QStringList localFolders, QStringList remoteFiles, QStringList localFiles);

private:
    using Listed = std::function<void(const QVector<QSsh::SftpTree> &trees, const QString &error,
                                      bool timedOut)>;

    void onTreeListed(quint64 request, const QSsh::SftpTree &entries, const QString &error);
    // Lists every path; answer gets the trees in the order of the paths and the first error.
    // With a time limit (ms, 0 for none), listings still running then are dropped.
    void listAll(const QStringList &remotePaths, int timeoutMs, Listed answer);
    // Asks about every file the plan would write over or merge; false when the operator
    // cancels. Skipped files leave the plan.
    // localFolder: where a download goes, for the free names of files that would merge.
    bool confirm(TransferPlan *plan, bool uploading, const QString &localFolder);
    // Sends what the plan uploads: single uploads, or the worker's folder upload when the
    // batch holds folders. localOf: the local path of each source.
    void sendUploads(const TransferPlan &plan, const QString &remoteFolder,
                     const QHash<QString, QString> &localOf, bool folders, Origin origin);
    QString text(const QString &english, const QString &chinese) const
    {
        return m_english() ? english : chinese;
    }
    void log(const QString &line) { emit logged(line); }

    QWidget *const m_window;
    const std::function<bool()> m_english;
    quint64 m_nextRequest = 1;
    // The answers awaited, by request.
    QHash<quint64, std::function<void(const QSsh::SftpTree &, const QString &)>> m_listings;
};
