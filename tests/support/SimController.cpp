#include "SimController.h"

#include <QtCore>

#include <unistd.h>

namespace {

// Start waits for sshd to accept connections; everything else is quick.
constexpr int kScriptTimeoutMs = 60000;

} // namespace

int SimController::instanceFromEnvironment(Server server)
{
    const bool dropbear = server == Server::Dropbear;
    bool ok = false;
    const int instance = qEnvironmentVariableIntValue(
        dropbear ? "CNCSIM_DROPBEAR_INSTANCE" : "CNCSIM_INSTANCE", &ok);
    return ok && instance >= 1 && instance <= 200 ? instance : dropbear ? 2 : 1;
}

bool SimController::canRun(QString *reason)
{
    *reason = !isRoot() ? "the simulated controller needs root (it creates network namespaces)"
              : !QFileInfo(CNCSIM_SCRIPT).isExecutable() ? CNCSIM_SCRIPT " is not executable"
                                                         : "";
    return reason->isEmpty();
}

bool SimController::isRoot()
{
    return geteuid() == 0;
}

void SimController::addServerColumn()
{
    QTest::addColumn<Server>("server");
}

QTestData &SimController::newServerRow(Server server, const QString &name)
{
    const QString tag = (server == Server::Dropbear ? "Dropbear" : "OpenSSH") +
                        (name.isEmpty() ? QString() : ' ' + name);
    return QTest::newRow(qPrintable(tag)) << server;
}

SimController::SimController(int instance)
    : m_instance(instance), m_address(QString("10.213.%1.2").arg(instance)),
      m_rootDir(QString("/run/cncsim/%1/cnc").arg(instance))
{
    // The layout is fixed per instance (cncsim's address and root print the same), so it is
    // not asked for on every construction.
}

SimController::SimController(Server server) : SimController(instanceFromEnvironment(server))
{
    m_server = server;
}

SimController::~SimController()
{
    if (m_started)
        stop();
}

bool SimController::start(Options options)
{
    if (m_server != Server::OpenSsh)
        options.server = m_server;
    QStringList arguments = {"start", "--hostname", hostName()};
    if (options.server == Server::Dropbear) {
        arguments << "--server"
                  << "dropbear";
        // Dropbear starts its SFTP server through root's shell, which a greeting would break;
        // the relay that holds SFTP requests back and the channel limit are sshd's.
        options.execGreeting = options.sftpHold = false;
        options.maxSessions = 0;
    }
    if (options.dropbearWindow > 0)
        arguments << "--window" << QString::number(options.dropbearWindow);
    if (options.idleLogoutSeconds > 0)
        arguments << "--idle-logout" << QString::number(options.idleLogoutSeconds);
    if (options.maxSessions > 0)
        arguments << "--max-sessions" << QString::number(options.maxSessions);
    if (options.slowCpuPercent > 0)
        arguments << "--slow-cpu" << QString::number(options.slowCpuPercent);
    const std::pair<bool, const char *> flags[] = {
        {options.resizeError, "--resize-error"},   {options.cLocale, "--c-locale"},
        {options.execGreeting, "--exec-greeting"}, {options.refusePty, "--refuse-pty"},
        {options.sftpHold, "--sftp-hold"},         {options.filesInMemory, "--files-in-memory"},
        {options.noSha256sum, "--no-sha256sum"},   {options.logWindows, "--log-windows"}};
    for (const auto &[on, flag] : flags) {
        if (on)
            arguments << flag;
    }
    QByteArray out;
    if (!run(arguments, &out))
        return false;
    m_address = QString::fromUtf8(out).trimmed();
    m_started = true;
    QFile::remove(QCoreApplication::applicationDirPath() + "/known_hosts");
    return true;
}

double SimController::serverCpuShare()
{
    QByteArray out;
    bool ok = false;
    const double share = run({"cpu-share"}, &out) ? out.trimmed().toDouble(&ok) : 0.0;
    return ok ? share : -1.0;
}

bool SimController::stop()
{
    m_started = false;
    return run({"stop"});
}

QString SimController::hostName() const
{
    const QString name = qEnvironmentVariable("CNCSIM_HOSTNAME");
    return name.isEmpty() ? QStringLiteral(CNC_CONTROLLER_HOSTNAME) : name;
}

QByteArray SimController::sshdLog() const
{
    // Read in place rather than through cncsim sshd-log: callers poll this.
    QFile file(stateFile("sshd.log"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

SimController::SshdCounts SimController::sshdCounts() const
{
    const QByteArray log = sshdLog();
    // LogLevel VERBOSE: "Connection from <client> port ..." for each connection, "Connection
    // closed by <client> ..." for one that ends before a login, "Accepted password for root ..."
    // or "Failed password for root ..." for each password, "Starting session: command ..." for
    // each command.
    return {log.count("Connection from "), log.count("Connection closed by "),
            log.count(" password for "), log.count("Starting session: command ")};
}

QVector<quint64> SimController::windowAdjustments() const
{
    QVector<quint64> adjustments;
    const QByteArray marker = "rcvd adjust ";
    for (const QByteArray &line : sshdLog().split('\n')) {
        const int at = line.indexOf(marker);
        if (at >= 0)
            adjustments << line.mid(at + marker.size()).trimmed().toULongLong();
    }
    return adjustments;
}

bool SimController::endedWithoutPassword(const SshdCounts &before)
{
    SshdCounts after;
    const bool ended = QTest::qWaitFor(
        [&] {
            after = sshdCounts();
            return after.endedWithoutLogin > before.endedWithoutLogin;
        },
        10000);
    m_lastError = QString("sshd saw %1 connections, %2 ended without login, %3 passwords")
                      .arg(after.connections - before.connections)
                      .arg(after.endedWithoutLogin - before.endedWithoutLogin)
                      .arg(after.passwords - before.passwords);
    return ended && after.passwords == before.passwords;
}

QByteArray SimController::scanHostKey(const QString &type, bool hashed)
{
    QStringList arguments{"-t", type, m_address};
    if (hashed)
        arguments.prepend("-H");
    QProcess keyscan;
    keyscan.start("ssh-keyscan", arguments);
    if (!keyscan.waitForFinished(kScriptTimeoutMs) || keyscan.exitCode() != 0) {
        m_lastError = "ssh-keyscan: " + QString::fromLocal8Bit(keyscan.readAllStandardError());
        return {};
    }
    // The keys only: OpenSSH 10's ssh-keyscan prints the server's banner as a comment too.
    QByteArray keys;
    for (const QByteArray &line : keyscan.readAllStandardOutput().split('\n')) {
        if (!line.isEmpty() && !line.startsWith('#'))
            keys += line + '\n';
    }
    return keys;
}

QString SimController::heldSftpRequest() const
{
    QFile held(stateFile("sftp-held"));
    return held.open(QIODevice::ReadOnly) ? QString::fromUtf8(held.readAll()).trimmed() : QString();
}

QString SimController::stateFile(const QString &name) const
{
    return QFileInfo(m_rootDir).path() + '/' + name;
}

int SimController::exec(const QStringList &command, QByteArray *standardOutput)
{
    return runScript(QStringList{"exec", "--"} + command, standardOutput);
}

int SimController::runScript(const QStringList &arguments, QByteArray *standardOutput)
{
    // The instance goes first so that "exec -- CMD" passes CMD's own options through.
    QStringList all = arguments;
    all.insert(1, QString::number(m_instance));
    all.insert(1, "-n");
    QProcess process;
    process.start(CNCSIM_SCRIPT, all);
    const bool finished = process.waitForFinished(kScriptTimeoutMs);
    if (standardOutput)
        *standardOutput = process.readAllStandardOutput();
    const int code =
        finished && process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    if (code != 0) {
        if (!finished)
            process.kill();
        m_lastError =
            QString("cncsim %1: %2 %3")
                .arg(all.join(' '), finished ? QString::number(code) : process.errorString(),
                     QString::fromUtf8(process.readAllStandardError()).trimmed());
    }
    return code;
}
