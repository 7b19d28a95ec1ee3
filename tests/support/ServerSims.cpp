#include "ServerSims.h"

#include <QTest>

const QList<SimController::Server> &ServerSims::servers()
{
    static const QList<SimController::Server> all = {SimController::Server::OpenSsh,
                                                     SimController::Server::Dropbear};
    return all;
}

QString ServerSims::name(SimController::Server server)
{
    return server == SimController::Server::Dropbear ? QStringLiteral("Dropbear")
                                                     : QStringLiteral("OpenSSH");
}

void ServerSims::addColumn()
{
    QTest::addColumn<SimController::Server>("server");
}

QTestData &ServerSims::newRow(SimController::Server server, const QString &name)
{
    const QString tag = name.isEmpty() ? ServerSims::name(server)
                                       : ServerSims::name(server) + QLatin1Char(' ') + name;
    return QTest::newRow(qPrintable(tag)) << server;
}

SimController *ServerSims::get(SimController::Server server)
{
    std::unique_ptr<SimController> &sim = m_sims[server];
    if (sim)
        return sim.get();
    auto started = std::make_unique<SimController>(SimController::instanceFromEnvironment(server));
    SimController::Options options = m_options;
    options.server = server;
    // Dropbear starts its SFTP server through root's shell, so a greeting there breaks SFTP;
    // and the relay that holds SFTP requests back is sshd's.
    if (server == SimController::Server::Dropbear) {
        options.execGreeting = false;
        options.sftpHold = false;
    }
    if (!started->start(options)) {
        m_lastError = started->lastError();
        return nullptr;
    }
    if (m_prepare && !m_prepare(*started)) {
        m_lastError = QStringLiteral("cannot prepare the %1 controller").arg(name(server));
        return nullptr;
    }
    sim = std::move(started);
    return sim.get();
}

SimController *ServerSims::current()
{
    QFETCH(SimController::Server, server);
    return get(server);
}

QList<SimController *> ServerSims::started() const
{
    QList<SimController *> sims;
    for (const auto &entry : m_sims) {
        if (entry.second)
            sims << entry.second.get();
    }
    return sims;
}
