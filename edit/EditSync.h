#pragma once

#include "EditedFile.h"
#include "SshTypes.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class CConnectionForSshClient;

// The controller's side of editing in place, through the connection worker: the working copy
// fetched, the controller's file looked at (size, time and hash) before a save goes, and the
// save sent. Transfers are the worker's ordinary ones, always verified; this class knows its
// own by the request numbers it gives them.
class EditSync : public QObject
{
    Q_OBJECT
public:
    // The controller's file as it is now; exists is false for a file that is gone.
    struct Look
    {
        bool exists = false;
        EditedFile::Remote remote;
        QString error;
    };
    using Done = std::function<void(const QString &error)>;

    // worker may be null: nothing is ever ready then.
    EditSync(CConnectionForSshClient *worker, QObject *parent = nullptr);

    // Whether requests can go now; a link that went unnoticed still fails them later.
    bool isReady() const;
    // Downloads the file into its working copy and records what the controller holds.
    void fetch(EditedFile *file, Done done);
    void look(const QString &remotePath, std::function<void(const Look &)> done);
    // Uploads the file's snapshot to target and records it; verified is called as soon as the
    // content is known to be on the controller, done once the record is taken.
    void send(EditedFile *file, const QString &target, std::function<void()> verified, Done done);

signals:
    // The connection is ready again after it was lost.
    void ready();

    void sigDownload(quint64 request, QString remotePath, QString localPath);
    void sigUpload(quint64 request, QString localPath, QString remotePath);
    void sigListRemoteTree(quint64 request, QString remotePath);
    void sigHashRemoteFile(quint64 request, QString remotePath);

private:
    // What a transfer's end hands on: the verified SHA-256, or the error.
    using Finish = std::function<void(const QByteArray &sha256, const QString &error)>;

    void transfer(bool upload, const QString &local, const QString &remote, Finish finish);
    // Records the controller's file after a transfer of localPath's content, sha256.
    void recordAfter(EditedFile *file, const QString &remotePath, const QString &localPath,
                     const QByteArray &sha256, Done done);
    void onStarted(quint64 request, QSsh::SftpJobId job, const QString &error);
    void onJobFinished(QSsh::SftpJobId job, const QString &error);
    void onVerified(QSsh::SftpJobId job, const QSsh::SftpVerification &result);
    void onTreeListed(quint64 request, const QSsh::SftpTree &entries, const QString &error);
    void onHashed(quint64 request, const QByteArray &sha256, const QString &error);
    // Everything under way went with the connection: each is answered with that.
    void failAll();

    // The worker deletes itself when its thread ends, possibly before this goes.
    const QPointer<CConnectionForSshClient> m_worker;
    QHash<quint64, Finish> m_starting;
    QHash<QSsh::SftpJobId, Finish> m_transfers;
    QHash<quint64, std::function<void(const QSsh::SftpTree &, const QString &)>> m_listings;
    QHash<quint64, std::function<void(const QByteArray &, const QString &)>> m_hashes;
};
