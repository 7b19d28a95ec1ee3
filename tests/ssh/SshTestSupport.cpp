#include "SshTestSupport.h"

#include "SimController.h"

#include <QCryptographicHash>
#include <QEventLoop>
#include <QFile>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace SshTestSupport {

QSsh::SshConnectionParameters controllerParameters(const QString &host)
{
    QSsh::SshConnectionParameters parameters;
    parameters.setHost(host);
    parameters.setUserName(QStringLiteral("root"));
    parameters.setPassword(SimController::rootPassword());
    parameters.setPort(22);
    parameters.timeout = 10;
    // A file of this process's own, so that no run meets a key recorded by an earlier one.
    static const QTemporaryDir knownHosts;
    parameters.knownHostsFile = knownHosts.filePath(QStringLiteral("known_hosts"));
    return parameters;
}

std::unique_ptr<QSsh::SshConnection> connectTo(const QSsh::SshConnectionParameters &parameters,
                                               QString *failure)
{
    auto connection = std::make_unique<QSsh::SshConnection>(parameters);
    QSignalSpy connected(connection.get(), &QSsh::SshConnection::connected);
    QSignalSpy error(connection.get(), &QSsh::SshConnection::error);
    connection->connectToHost();
    if (!QTest::qWaitFor([&] { return !connected.isEmpty() || !error.isEmpty(); }, 15000) ||
        connected.isEmpty()) {
        *failure = QStringLiteral("no connection: %1").arg(connection->errorString());
        return nullptr;
    }
    return connection;
}

QSharedPointer<QSsh::SftpChannel> openSftp(QSsh::SshConnection &connection)
{
    QSharedPointer<QSsh::SftpChannel> channel = connection.createSftpChannel();
    if (!channel)
        return {};
    QSignalSpy initialized(channel.data(), &QSsh::SftpChannel::initialized);
    channel->initialize();
    if (!initialized.wait(10000) || channel->state() != QSsh::SftpChannel::Initialized)
        return {};
    return channel;
}

JobWatcher::JobWatcher(QSsh::SftpChannel *channel) : m_channel(channel)
{
    m_connection = QObject::connect(channel, &QSsh::SftpChannel::finished, channel,
                                    [this](QSsh::SftpJobId job, const QString &error) {
                                        m_reports.append({job, error});
                                    });
}

bool JobWatcher::wait(QSsh::SftpJobId job, QString *error, int timeoutMs)
{
    // A real event loop, not QTest::qWaitFor, which sleeps between its polls and would
    // throttle the transfers and the responsiveness measurements.
    if (reportsFor(job) == 0) {
        QEventLoop loop;
        QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
        const QMetaObject::Connection quit =
            QObject::connect(m_channel, &QSsh::SftpChannel::finished, &loop, [&] {
                if (reportsFor(job) > 0)
                    loop.quit();
            });
        loop.exec();
        QObject::disconnect(quit);
    }
    const bool done = reportsFor(job) > 0;
    for (const auto &report : qAsConst(m_reports)) {
        if (report.first == job)
            *error = report.second;
    }
    return done;
}

int JobWatcher::reportsFor(QSsh::SftpJobId job) const
{
    int count = 0;
    for (const auto &report : m_reports)
        count += report.first == job ? 1 : 0;
    return count;
}

QByteArray fileHash(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha256);
    hash.addData(&file);
    return hash.result().toHex();
}

bool writeRandomFile(const QString &path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray piece(1024 * 1024, Qt::Uninitialized);
    while (size > 0) {
        const int n = int(qMin<qint64>(size, piece.size()));
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(piece.data()),
                                              piece.size() / 4);
        if (file.write(piece.constData(), n) != n)
            return false;
        size -= n;
    }
    return file.flush();
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(content) == content.size() && file.flush();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace SshTestSupport
