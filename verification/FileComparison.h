#pragma once

#include "LineDifference.h"

#include <QByteArray>
#include <QObject>
#include <QString>

class CConnectionForSshClient;

// One comparison of a controller's file with a local file. Both are hashed, the controller's
// by the worker and the local one off the GUI thread; text files that differ are then read
// and their first differing line found, again off the GUI thread. No file is changed.
// Reports once with finished() and then deletes itself.
class FileComparison : public QObject
{
    Q_OBJECT
public:
    struct Result
    {
        QString error; // empty when the comparison was made
        bool identical = false;
        QByteArray remoteSha256;
        QByteArray localSha256;
        // For text files that differ (and are small enough to read): where they part.
        LineDifference difference;
    };

    // Text files up to this size are read to find where they differ.
    static constexpr qint64 kTextLimit = 8 * 1024 * 1024;

    FileComparison(CConnectionForSshClient *worker, const QString &remotePath,
                   const QString &localPath, QObject *parent = nullptr);

    void start();

    QString remotePath() const { return m_remotePath; }
    QString localPath() const { return m_localPath; }

signals:
    void finished(const FileComparison::Result &result);

    void sigHashRemoteFile(quint64 request, QString remotePath);
    void sigReadRemoteFile(quint64 request, QString remotePath, qint64 maxSize);

private:
    void onRemoteHashed(quint64 request, const QByteArray &sha256, qint64 size,
                        const QString &error);
    void onLocalHashed(const QByteArray &sha256, qint64 size, const QString &error);
    void onRemoteRead(quint64 request, const QByteArray &data, qint64 size, const QString &error);
    // Both hashes are in: the answer, or the reading of both texts.
    void compareHashes();
    void finish(const QString &error = QString());

    const QString m_remotePath;
    const QString m_localPath;
    const quint64 m_request;
    Result m_result;
    bool m_remoteHashed = false;
    bool m_localHashed = false;
    qint64 m_remoteSize = -1;
    qint64 m_localSize = -1;
    QString m_error;
};
