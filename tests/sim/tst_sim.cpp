#include "SimController.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTcpSocket>
#include <QtTest>

// The simulated controller itself: what the other network tests take for granted.
class tst_Sim : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void loginShellShowsPromptBannerAndFiles();
    void profileOptionsShapeTheShell();
    void pulledCableIsSilentAndStoppedSshdRefuses();
    void hostKeysOutliveRestartsUntilRenewed();
    void stopRemovesEverything();

private:
    // Logs in as root with an interactive terminal, types the commands and returns all
    // that the controller printed until the shell ended; or, given a remote command, runs
    // that without a terminal.
    QString runShell(const QStringList &commands, const QString &remoteCommand = QString());
    static bool hostCommandSucceeds(const QString &program, const QStringList &arguments);

    SimController m_sim;
};

void tst_Sim::initTestCase()
{
    CNC_REQUIRE_SIM();
    if (QStandardPaths::findExecutable(QStringLiteral("sshpass")).isEmpty() ||
        QStandardPaths::findExecutable(QStringLiteral("ssh")).isEmpty())
        QSKIP("sshpass and ssh are needed to log in (Debian packages sshpass, openssh-client)");
    QVERIFY2(m_sim.start(), qPrintable(m_sim.lastError()));
    QVERIFY(m_sim.isRunning());
}

void tst_Sim::cleanupTestCase()
{
    m_sim.stop();
}

QString tst_Sim::runShell(const QStringList &commands, const QString &remoteCommand)
{
    QProcess ssh;
    ssh.setProcessChannelMode(QProcess::MergedChannels);
    QStringList arguments = {QStringLiteral("-p"),
                             SimController::rootPassword(),
                             QStringLiteral("ssh"),
                             QStringLiteral("-tt"),
                             QStringLiteral("-o"),
                             QStringLiteral("BatchMode=no"),
                             QStringLiteral("-o"),
                             QStringLiteral("StrictHostKeyChecking=no"),
                             QStringLiteral("-o"),
                             QStringLiteral("UserKnownHostsFile=/dev/null"),
                             QStringLiteral("-o"),
                             QStringLiteral("ConnectTimeout=10"),
                             QStringLiteral("-o"),
                             QStringLiteral("LogLevel=ERROR"),
                             QStringLiteral("root@") + m_sim.address()};
    if (!remoteCommand.isEmpty()) {
        arguments.removeOne(QStringLiteral("-tt"));
        arguments << remoteCommand;
    }
    ssh.start(QStringLiteral("sshpass"), arguments);
    if (!ssh.waitForStarted())
        return QString();
    for (const QString &command : commands)
        ssh.write(command.toUtf8() + '\n');
    ssh.write("exit\n");
    if (!ssh.waitForFinished(30000))
        ssh.kill();
    ssh.waitForFinished();
    return QString::fromUtf8(ssh.readAll());
}

bool tst_Sim::hostCommandSucceeds(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    return process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit &&
           process.exitCode() == 0;
}

void tst_Sim::loginShellShowsPromptBannerAndFiles()
{
    const QString output =
        runShell({QStringLiteral("ls -la --time-style=\"+%Y-%m-%d %H:%M:%S\" /home/pi/cnc/"),
                  QStringLiteral("touch /home/pi/cnc/from-shell.nc")});

    QVERIFY2(output.contains(QStringLiteral("root@%1:~# ").arg(m_sim.hostName())),
             qPrintable(output));
    QVERIFY2(output.contains(QStringLiteral("Last login:")), qPrintable(output));
    // ls prints the Chinese name raw (a UTF-8 locale), in the time style that was asked for.
    QVERIFY2(output.contains(QStringLiteral(" 零件.nc")), qPrintable(output));
    QVERIFY2(output.contains(QStringLiteral("2024-03-01 08:00:00 part1.nc")), qPrintable(output));
    QVERIFY2(output.contains(QStringLiteral(" programs")), qPrintable(output));

    // The host folder is the controller's /home/pi/cnc/, both ways.
    const QDir root(m_sim.rootDir());
    QVERIFY(root.exists(QStringLiteral("part1.nc")));
    QVERIFY(root.exists(QStringLiteral("零件.nc")));
    QVERIFY(root.exists(QStringLiteral("programs/drill.nc")));
    QVERIFY(root.exists(QStringLiteral("from-shell.nc")));

    QByteArray hostName;
    QCOMPARE(m_sim.exec({QStringLiteral("hostname")}, &hostName), 0);
    QCOMPARE(QString::fromUtf8(hostName).trimmed(), m_sim.hostName());
}

void tst_Sim::profileOptionsShapeTheShell()
{
    SimController::Options options;
    options.resizeError = true;
    options.cLocale = true;
    options.execGreeting = true;
    QVERIFY2(m_sim.start(options), qPrintable(m_sim.lastError()));

    const QString listing = QStringLiteral("ls /home/pi/cnc/");
    const QString first = runShell({QStringLiteral("echo READY"), listing});
    QVERIFY2(first.contains(QStringLiteral("resize: unknown character, exiting.")),
             qPrintable(first));
    QVERIFY2(!first.contains(QStringLiteral("part1.nc")), qPrintable(first));

    // The C locale: ls writes the bytes of a Chinese name in octal.
    const QString second = runShell({listing});
    QVERIFY2(!second.contains(QStringLiteral("resize:")), qPrintable(second));
    QVERIFY2(second.contains(QStringLiteral("part1.nc")), qPrintable(second));
    QVERIFY2(second.contains(QStringLiteral("$'\\351\\233\\266\\344\\273\\266'")),
             qPrintable(second));

    // A command without a terminal prints the profile's line first.
    QCOMPARE(runShell({}, QStringLiteral("echo hi")), QStringLiteral("Controller ready.\nhi\n"));

    QVERIFY2(m_sim.start(), qPrintable(m_sim.lastError()));
}

void tst_Sim::pulledCableIsSilentAndStoppedSshdRefuses()
{
    QTcpSocket socket;
    QSignalSpy connected(&socket, &QTcpSocket::connected);
    QSignalSpy failed(&socket, &QAbstractSocket::errorOccurred);

    // A connection attempt into a pulled cable neither succeeds nor fails: no RST, no
    // "no route to host". It goes through once the cable is back.
    QVERIFY2(m_sim.linkDown(), qPrintable(m_sim.lastError()));
    socket.connectToHost(m_sim.address(), 22);
    QVERIFY(!failed.wait(3000));
    QCOMPARE(socket.state(), QAbstractSocket::ConnectingState);
    QVERIFY2(m_sim.linkUp(), qPrintable(m_sim.lastError()));
    QVERIFY(connected.count() == 1 || connected.wait(15000));
    QTRY_VERIFY_WITH_TIMEOUT(socket.canReadLine(), 5000);
    QVERIFY(socket.readLine().startsWith("SSH-2.0-"));

    // An established connection sees silence too and lives on afterwards.
    QVERIFY(m_sim.linkDown());
    socket.write("SSH-2.0-cncsim_test\r\n");
    QVERIFY(!failed.wait(3000));
    QCOMPARE(socket.state(), QAbstractSocket::ConnectedState);
    QVERIFY(m_sim.linkUp());
    QTRY_VERIFY_WITH_TIMEOUT(socket.bytesAvailable() > 0, 15000); // sshd's key exchange
    QCOMPARE(failed.count(), 0);
    socket.abort();

    // A stopped sshd refuses at once; started again, it accepts.
    QVERIFY2(m_sim.sshdStop(), qPrintable(m_sim.lastError()));
    QTcpSocket refused;
    QSignalSpy refusedError(&refused, &QAbstractSocket::errorOccurred);
    refused.connectToHost(m_sim.address(), 22);
    QVERIFY(refusedError.wait(2000));
    QCOMPARE(refused.error(), QAbstractSocket::ConnectionRefusedError);
    QVERIFY(m_sim.isRunning());

    QVERIFY2(m_sim.sshdStart(), qPrintable(m_sim.lastError()));
    QTcpSocket again;
    QSignalSpy againConnected(&again, &QTcpSocket::connected);
    again.connectToHost(m_sim.address(), 22);
    QVERIFY(againConnected.wait(5000));
}

void tst_Sim::hostKeysOutliveRestartsUntilRenewed()
{
    // ssh-keyscan prints the keys in the order the answers come.
    const auto keys = [this] {
        QList<QByteArray> lines = m_sim.scanHostKey(QStringLiteral("ed25519,ecdsa")).split('\n');
        lines.removeAll(QByteArray());
        std::sort(lines.begin(), lines.end());
        return lines;
    };
    const QList<QByteArray> before = keys();
    QCOMPARE(before.size(), 2);
    QVERIFY2(m_sim.start(), qPrintable(m_sim.lastError()));
    QCOMPARE(keys(), before);

    // A reinstalled controller: both keys are new, at once and after the next start.
    QVERIFY2(m_sim.renewHostKeys(), qPrintable(m_sim.lastError()));
    const QList<QByteArray> renewed = keys();
    QCOMPARE(renewed.size(), 2);
    for (const QByteArray &line : before)
        QVERIFY(!renewed.contains(line));
    QVERIFY2(m_sim.start(), qPrintable(m_sim.lastError()));
    QCOMPARE(keys(), renewed);
}

void tst_Sim::stopRemovesEverything()
{
    const QString instance = QString::number(SimController::instanceFromEnvironment());
    const QString netns = QStringLiteral("cncsim-") + instance;
    const QString hostLink = QStringLiteral("cncsim") + instance;
    QVERIFY(hostCommandSucceeds(QStringLiteral("ip"),
                                {QStringLiteral("link"), QStringLiteral("show"), hostLink}));

    QVERIFY2(m_sim.stop(), qPrintable(m_sim.lastError()));
    QVERIFY(!m_sim.isRunning());
    QVERIFY(!QFile::exists(QStringLiteral("/run/netns/") + netns));
    QVERIFY(!hostCommandSucceeds(QStringLiteral("ip"),
                                 {QStringLiteral("link"), QStringLiteral("show"), hostLink}));
    QVERIFY(!QFileInfo::exists(m_sim.rootDir()));
    QVERIFY(!hostCommandSucceeds(
        QStringLiteral("pgrep"),
        {QStringLiteral("-f"), QStringLiteral("/run/cncsim/%1/").arg(instance)}));

    QTcpSocket socket;
    QSignalSpy failed(&socket, &QAbstractSocket::errorOccurred);
    socket.connectToHost(m_sim.address(), 22);
    // Nothing there any more, and the address does not fall through to the default route.
    QVERIFY(failed.count() == 1 || failed.wait(1000));
    QCOMPARE(socket.error(), QAbstractSocket::NetworkError);

    // A stop of a stopped instance is harmless.
    QVERIFY2(m_sim.stop(), qPrintable(m_sim.lastError()));
}

QTEST_GUILESS_MAIN(tst_Sim)
#include "tst_sim.moc"
