#pragma once

#include <SftpChannel.h>
#include <SshConnection.h>
#include <SshRemoteProcess.h>

#include <QByteArray>
#include <QList>
#include <QSharedPointer>
#include <QString>

#include <memory>

// Helpers shared by the tests of the SSH layer.
namespace SshTestSupport {

QSsh::SshConnectionParameters controllerParameters(const QString &host);

// Connects and waits for connected(); null (with a test failure message) otherwise.
std::unique_ptr<QSsh::SshConnection> connectTo(const QSsh::SshConnectionParameters &parameters,
                                               QString *failure);

// Creates and initializes an SFTP channel; null when it does not become ready.
QSharedPointer<QSsh::SftpChannel> openSftp(QSsh::SshConnection &connection);

// Collects finished(job, error) of a channel and waits for particular jobs.
class JobWatcher
{
public:
    explicit JobWatcher(QSsh::SftpChannel *channel);
    ~JobWatcher() { QObject::disconnect(m_connection); }
    JobWatcher(const JobWatcher &) = delete;
    JobWatcher &operator=(const JobWatcher &) = delete;
    // Waits until job has finished; returns false on timeout. error receives its text.
    bool wait(QSsh::SftpJobId job, QString *error, int timeoutMs = 60000);
    int reportsFor(QSsh::SftpJobId job) const;

private:
    QSsh::SftpChannel *const m_channel;
    QMetaObject::Connection m_connection;
    QList<QPair<QSsh::SftpJobId, QString>> m_reports;
};

// SHA-256 of a file, read in pieces; empty when the file cannot be read.
QByteArray fileHash(const QString &path);
// Writes size bytes of random data in 1 MiB pieces.
bool writeRandomFile(const QString &path, qint64 size);
bool writeFile(const QString &path, const QByteArray &content);
QByteArray readFile(const QString &path);

} // namespace SshTestSupport
