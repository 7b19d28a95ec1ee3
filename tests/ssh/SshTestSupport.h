#pragma once

#include <SftpChannel.h>
#include <SshConnection.h>
#include <SshRemoteProcess.h>

#include <QSharedPointer>
#include <QSignalSpy>

#include <memory>

// Helpers of the tests that use the SSH layer directly.

// Parameters for the simulated controller at `host`, with a known-hosts file of this process.
QSsh::SshConnectionParameters controllerParameters(const QString &host);
// Connects and waits for connected(); null, with the reason in *failure, otherwise.
std::unique_ptr<QSsh::SshConnection> connectTo(const QString &host, QString *failure);
// An initialized SFTP channel, or a started interactive shell; null otherwise.
QSharedPointer<QSsh::SftpChannel> openSftp(QSsh::SshConnection &connection);
QSharedPointer<QSsh::SshRemoteProcess> startShell(QSsh::SshConnection &connection);

// The finished(job, error) reports of a channel.
class JobReports : public QSignalSpy
{
public:
    explicit JobReports(QSsh::SftpChannel *channel)
        : QSignalSpy(channel, &QSsh::SftpChannel::finished)
    {}
    // Waits in an event loop (which, unlike QTest::qWaitFor, does not throttle the transfers)
    // until `job` has ended; its error text, or "<no report>".
    QString wait(QSsh::SftpJobId job, int timeoutMs = 60000);
    int count(QSsh::SftpJobId job) const;
};
