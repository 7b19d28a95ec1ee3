#include "SimController.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTest>

#include <unistd.h>

namespace {

// Start waits for sshd to accept connections; everything else is quick.
constexpr int ScriptTimeoutMs = 60000;

QString scriptPath()
{
    return QStringLiteral(CNCSIM_SCRIPT);
}

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
    QString why;
    if (geteuid() != 0) {
        why = QStringLiteral("the simulated controller needs root (it creates network namespaces)");
    } else if (!QFileInfo(scriptPath()).isExecutable()) {
        why = QStringLiteral("%1 is missing or not executable").arg(scriptPath());
    } else if (!QFileInfo(QStringLiteral("/usr/sbin/sshd")).isExecutable()) {
        why = QStringLiteral("/usr/sbin/sshd is missing (Debian package openssh-server)");
    } else {
        const QStringList searchPath = {QStringLiteral("/usr/local/sbin"),
                                        QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"),
                                        QStringLiteral("/usr/bin"), QStringLiteral("/bin")};
        for (const auto &tool : {"ip", "unshare", "nsenter", "ssh-keygen", "openssl"}) {
            const QString name = QString::fromLatin1(tool);
            if (QStandardPaths::findExecutable(name).isEmpty() &&
                QStandardPaths::findExecutable(name, searchPath).isEmpty()) {
                why = QStringLiteral("%1 is missing (Debian packages iproute2, util-linux, "
                                     "openssh-client, openssl)")
                          .arg(name);
                break;
            }
        }
    }
    if (reason)
        *reason = why;
    return why.isEmpty();
}

SimController::SimController(int instance)
    : m_instance(instance), m_address(QStringLiteral("10.213.%1.2").arg(instance)),
      m_rootDir(QStringLiteral("/run/cncsim/%1/cnc").arg(instance))
{
    // The script is the authority on its layout; the defaults above only stand in when it
    // cannot be asked.
    QByteArray out;
    if (run({QStringLiteral("address")}, &out))
        m_address = QString::fromUtf8(out).trimmed();
    if (run({QStringLiteral("root")}, &out))
        m_rootDir = QString::fromUtf8(out).trimmed();
    m_lastError.clear();
}

SimController::~SimController()
{
    if (m_started)
        stop();
}

bool SimController::start(const Options &options)
{
    QStringList arguments = {QStringLiteral("start"), QStringLiteral("--hostname"), hostName()};
    if (options.resizeError)
        arguments << QStringLiteral("--resize-error");
    if (options.server == Server::Dropbear)
        arguments << QStringLiteral("--server") << QStringLiteral("dropbear");
    if (options.dropbearWindow > 0)
        arguments << QStringLiteral("--window") << QString::number(options.dropbearWindow);
    if (options.cLocale)
        arguments << QStringLiteral("--c-locale");
    if (options.idleLogoutSeconds > 0)
        arguments << QStringLiteral("--idle-logout") << QString::number(options.idleLogoutSeconds);
    if (options.execGreeting)
        arguments << QStringLiteral("--exec-greeting");
    if (options.refusePty)
        arguments << QStringLiteral("--refuse-pty");
    if (options.sftpHold)
        arguments << QStringLiteral("--sftp-hold");
    QByteArray out;
    if (!run(arguments, &out))
        return false;
    m_address = QString::fromUtf8(out).trimmed();
    m_started = true;
    QFile::remove(QCoreApplication::applicationDirPath() + QLatin1String("/known_hosts"));
    return true;
}

bool SimController::stop()
{
    m_started = false;
    return run({QStringLiteral("stop")});
}

bool SimController::isRunning() const
{
    // status reports a stopped instance by its exit code, which is no error of this object.
    QProcess process;
    process.start(scriptPath(),
                  {QStringLiteral("status"), QStringLiteral("-n"), QString::number(m_instance)});
    return process.waitForFinished(ScriptTimeoutMs) &&
           process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QString SimController::address() const
{
    return m_address;
}

QString SimController::rootDir() const
{
    return m_rootDir;
}

QString SimController::hostName() const
{
    const QString name = qEnvironmentVariable("CNCSIM_HOSTNAME");
    return name.isEmpty() ? QStringLiteral(CNC_CONTROLLER_HOSTNAME) : name;
}

QString SimController::lastError() const
{
    return m_lastError;
}

bool SimController::linkDown()
{
    return run({QStringLiteral("link-down")});
}

bool SimController::linkUp()
{
    return run({QStringLiteral("link-up")});
}

bool SimController::setLinkRate(const QString &rate)
{
    return run({QStringLiteral("link-rate"), rate.isEmpty() ? QStringLiteral("off") : rate});
}

bool SimController::sshdStop()
{
    return run({QStringLiteral("sshd-stop")});
}

bool SimController::sshdStart()
{
    return run({QStringLiteral("sshd-start")});
}

bool SimController::endShell()
{
    return run({QStringLiteral("end-shell")});
}

bool SimController::renewHostKeys()
{
    return run({QStringLiteral("new-host-keys")});
}

SimController::SshdCounts SimController::sshdCounts()
{
    QByteArray log;
    run({QStringLiteral("sshd-log")}, &log);
    // LogLevel VERBOSE: "Connection from <client> port ..." for each connection, "Connection
    // closed by <client> ..." for one that ends before a login, "Accepted password for root ..."
    // or "Failed password for root ..." for each password, "Starting session: command ..." for
    // each command.
    return {log.count("Connection from "), log.count("Connection closed by "),
            log.count(" password for "), log.count("Starting session: command ")};
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
    m_lastError = QStringLiteral("sshd saw %1 connections, %2 ended without login, %3 passwords")
                      .arg(after.connections - before.connections)
                      .arg(after.endedWithoutLogin - before.endedWithoutLogin)
                      .arg(after.passwords - before.passwords);
    return ended && after.passwords == before.passwords;
}

QByteArray SimController::scanHostKey(const QString &type, bool hashed)
{
    QStringList arguments = {QStringLiteral("-t"), type, m_address};
    if (hashed)
        arguments.prepend(QStringLiteral("-H"));
    QProcess keyscan;
    keyscan.start(QStringLiteral("ssh-keyscan"), arguments);
    if (!keyscan.waitForFinished(ScriptTimeoutMs) || keyscan.exitCode() != 0) {
        m_lastError = QStringLiteral("ssh-keyscan %1: %2")
                          .arg(arguments.join(QLatin1Char(' ')),
                               QString::fromLocal8Bit(keyscan.readAllStandardError()));
        return {};
    }
    return keyscan.readAllStandardOutput();
}

bool SimController::holdSftpRequests(const QStringList &types)
{
    return run(QStringList{QStringLiteral("sftp-hold")} + types);
}

QString SimController::heldSftpRequest() const
{
    QFile held(QFileInfo(m_rootDir).path() + QStringLiteral("/sftp-held"));
    return held.open(QIODevice::ReadOnly) ? QString::fromUtf8(held.readAll()).trimmed() : QString();
}

bool SimController::offerSftpExtensions(bool offered)
{
    return run({QStringLiteral("sftp-extensions"),
                offered ? QStringLiteral("on") : QStringLiteral("off")});
}

int SimController::exec(const QStringList &command, QByteArray *standardOutput)
{
    return runScript(QStringList{QStringLiteral("exec")} << QStringLiteral("--") << command,
                     standardOutput);
}

bool SimController::run(const QStringList &arguments, QByteArray *standardOutput)
{
    return runScript(arguments, standardOutput) == 0;
}

int SimController::runScript(const QStringList &arguments, QByteArray *standardOutput)
{
    // The instance goes first so that "exec -- CMD" passes CMD's own options through.
    QStringList fullArguments = arguments;
    fullArguments.insert(1, QString::number(m_instance));
    fullArguments.insert(1, QStringLiteral("-n"));

    QProcess process;
    process.start(scriptPath(), fullArguments);
    const QString commandLine = QStringLiteral("cncsim ") + fullArguments.join(QLatin1Char(' '));
    if (!process.waitForStarted(ScriptTimeoutMs)) {
        m_lastError = QStringLiteral("%1: %2").arg(commandLine, process.errorString());
        return -1;
    }
    if (!process.waitForFinished(ScriptTimeoutMs)) {
        process.kill();
        process.waitForFinished();
        m_lastError = QStringLiteral("%1: no answer within %2 s")
                          .arg(commandLine)
                          .arg(ScriptTimeoutMs / 1000);
        return -1;
    }
    if (standardOutput)
        *standardOutput = process.readAllStandardOutput();
    if (process.exitStatus() != QProcess::NormalExit) {
        m_lastError = QStringLiteral("%1: crashed").arg(commandLine);
        return -1;
    }
    if (process.exitCode() != 0) {
        const QString errorText = QString::fromUtf8(process.readAllStandardError()).trimmed();
        m_lastError = QStringLiteral("%1: exit code %2%3")
                          .arg(commandLine)
                          .arg(process.exitCode())
                          .arg(errorText.isEmpty() ? QString() : QStringLiteral(": ") + errorText);
    }
    return process.exitCode();
}
