#pragma once

#include "ListSelection.h"

#include <QObject>
#include <QString>

#include <functional>

class CConnectionForSshClient;
class FolderTransfers;
class QMimeData;
class QTreeView;
class QWidget;

// The operator's file requests: upload (file dialog, folder dialog and drop), download, delete,
// new folder and rename. Each asks what it needs (dialogs, confirmation), checks it, writes its
// log lines and sends its requests as signals; the connection worker carries them out. Batches
// and folders go through FolderTransfers, which asks before anything is written over.
class FileRequests : public QObject
{
    Q_OBJECT
public:
    // window parents the dialogs; view is the remote list, whose selection the requests take.
    // english, sftpReady and currentFolder are asked at each request. worker (may be null)
    // answers the listings that folders and batches need.
    FileRequests(QWidget *window, const QTreeView *view, CConnectionForSshClient *worker,
                 std::function<bool()> english, std::function<bool()> sftpReady,
                 std::function<QString()> currentFolder);

    // Local files dragged over or dropped onto the window; false when they are not taken.
    // ready: the connection is up and its SFTP channel ready.
    static bool acceptsDrop(const QMimeData *data, bool ready);
    bool uploadDropped(const QMimeData *data, bool ready);
    // The remote path of the first file selected, or an empty text.
    QString selectedRemoteFile() const;

public slots:
    void upload();
    void uploadFolder();
    void download();
    void remove();
    void newFolder();
    void rename();

signals:
    void logged(const QString &line);
    void uploadFile(QString localPath, QString remotePath);
    void downloadFile(QString remotePath, QString localPath);
    void deleteRemotePath(QString path, QString type);
    void createRemoteFolder(QString path);
    void renameRemotePath(QString oldPath, QString newPath);
    // File requests went out (not a rename): the file operations wait for a job report.
    void requestsSent();

private:
    // The text of the language shown: English or Chinese.
    QString text(const QString &english, const QString &chinese) const;
    // The operation, named in both languages, cannot start: the SFTP channel is not ready.
    void logNotReady(const QString &english, const QString &chinese);
    // Logs the not-ready line unless the SFTP channel is ready.
    bool checkReady(const QString &english, const QString &chinese);
    void log(const QString &line) { emit logged(line); }
    // The confirmation box of a delete; summary says what the folders among it hold.
    void confirmDelete(const QVector<DeleteCandidate> &candidates, const QString &summary);

    QWidget *const m_window;
    const QTreeView *const m_view;
    const std::function<bool()> m_english;
    const std::function<bool()> m_sftpReady;
    const std::function<QString()> m_currentFolder;
    FolderTransfers *const m_folders;
};
