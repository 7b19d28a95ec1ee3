#include "SshTestSupport.h"

#include "SimController.h"

#include <QDeadlineTimer>
#include <QTemporaryDir>
#include <QTest>

QSsh::SshConnectionParameters controllerParameters(const QString &host)
{
    QSsh::SshConnectionParameters parameters;
    parameters.setHost(host);
    parameters.setUserName("root");
    parameters.setPassword(SimController::rootPassword());
    parameters.setPort(22);
    parameters.timeout = 10;
    // A file of this process's own, so that no run meets a key recorded by an earlier one.
    static const QTemporaryDir knownHosts;
    parameters.knownHostsFile = knownHosts.filePath("known_hosts");
    return parameters;
}

std::unique_ptr<QSsh::SshConnection> connectTo(const QString &host, QString *failure)
{
    auto connection = std::make_unique<QSsh::SshConnection>(controllerParameters(host));
    QSignalSpy connected(connection.get(), &QSsh::SshConnection::connected);
    QSignalSpy error(connection.get(), &QSsh::SshConnection::error);
    connection->connectToHost();
    if (QTest::qWaitFor([&] { return !connected.isEmpty() || !error.isEmpty(); }, 15000) &&
        !connected.isEmpty())
        return connection;
    *failure = "no connection: " + connection->errorString();
    return nullptr;
}

QSharedPointer<QSsh::SftpChannel> openSftp(QSsh::SshConnection &connection)
{
    QSharedPointer<QSsh::SftpChannel> channel = connection.createSftpChannel();
    QSignalSpy initialized(channel.data(), &QSsh::SftpChannel::initialized);
    channel->initialize();
    const bool ready =
        initialized.wait(10000) && channel->state() == QSsh::SftpChannel::Initialized;
    return ready ? channel : nullptr;
}

QSharedPointer<QSsh::SshRemoteProcess> startShell(QSsh::SshConnection &connection)
{
    QSharedPointer<QSsh::SshRemoteProcess> shell = connection.createRemoteShell();
    QSignalSpy started(shell.data(), &QSsh::SshRemoteProcess::started);
    shell->start();
    return started.wait(10000) ? shell : nullptr;
}

QString JobReports::wait(QSsh::SftpJobId job, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (count(job) == 0 && !deadline.hasExpired())
        QSignalSpy::wait(int(deadline.remainingTime()));
    for (const QList<QVariant> &report : *this) {
        if (report.at(0).value<QSsh::SftpJobId>() == job)
            return report.at(1).toString();
    }
    return QStringLiteral("<no report>");
}

int JobReports::count(QSsh::SftpJobId job) const
{
    return int(std::count_if(cbegin(), cend(), [job](const QList<QVariant> &report) {
        return report.at(0).value<QSsh::SftpJobId>() == job;
    }));
}
