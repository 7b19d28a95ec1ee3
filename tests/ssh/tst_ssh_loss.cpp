// Pulled cables against the SSH layer: an idle connection and a download are given up within
// 20 s, a new attempt within its 10 s bound; a controller that is only slow to answer is kept.
// Its own executable: it waits for the dead-peer detection.
#include "ProcessIo.h"
#include "SimController.h"
#include "SshTestSupport.h"
#include "TestSupport.h"

#include <QtTest>

#include <thread>

using Server = SimController::Server;

class TestSshLoss : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void pulledCable();
    void liveButQuietControllerIsNotDead();

private:
    SimController m_openssh{Server::OpenSsh};
    SimController m_dropbear{Server::Dropbear};
};

void TestSshLoss::initTestCase()
{
    CNC_START_SIM(m_openssh, {});
    CNC_START_SIM(m_dropbear, {});
}

void TestSshLoss::cleanup()
{
    m_openssh.linkUp();
    m_dropbear.linkUp();
}

// An idle shell on OpenSSH and a download from Dropbear when both cables go.
void TestSshLoss::pulledCable()
{
    QTemporaryDir local;
    const QString target = local.filePath("keep.bin");
    QVERIFY(writeFile(target, "the previous local copy\n"));
    QVERIFY(writeRandomFile(m_dropbear.rootDir() + "/pulled.bin", 256 * 1024 * 1024));
    QString failure;
    const auto idle = connectTo(m_openssh.address(), &failure);
    const auto busy = connectTo(m_dropbear.address(), &failure);
    QVERIFY2(idle && busy, qPrintable(failure));
    const auto shell = startShell(*idle);
    const auto sftp = openSftp(*busy);
    QVERIFY(shell && sftp);
    QSignalSpy closed(shell.data(), &QSsh::SshRemoteProcess::closed);
    QSignalSpy idleError(idle.get(), &QSsh::SshConnection::error);
    JobReports reports(sftp.data());
    const QSsh::SftpJobId job =
        sftp->downloadFile("/home/pi/cnc/pulled.bin", target, QSsh::SftpOverwriteExisting);
    // Data is flowing; the local temporary may have no name, so this process's writes tell.
    const qint64 writtenBefore = bytesWrittenByThisProcess();
    QVERIFY(QTest::qWaitFor(
        [&] { return bytesWrittenByThisProcess() - writtenBefore > 8 * 1024 * 1024; }, 20000));
    QVERIFY2(m_openssh.linkDown() && m_dropbear.linkDown(), qPrintable(m_openssh.lastError()));
    QElapsedTimer clock;
    clock.start();

    // A new attempt over the silent link gives up after its 10 s.
    QSsh::SshConnection attempt(controllerParameters(m_openssh.address()));
    QSignalSpy attemptError(&attempt, &QSsh::SshConnection::error);
    attempt.connectToHost();
    QVERIFY(attemptError.wait(15000));
    QVERIFY2(clock.elapsed() >= 9000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(attemptError.first().first().value<QSsh::SshError>(), QSsh::SshTimeoutError);
    QCOMPARE(attempt.state(), QSsh::SshConnection::Unconnected);

    // Both live connections are given up: the shell closes, the download ends once, with an
    // error, and the local file is as it was. The idle one sends its next keepalive up to one
    // interval (5 s) after the cable went and gives up once it has gone unanswered for the
    // dead-peer time (15 s), checked once a second.
    const int givenUpMs = (5 + 15 + 1) * 1000 + 1000;
    const QString jobError = reports.wait(job, givenUpMs - int(clock.elapsed()));
    QTRY_VERIFY_WITH_TIMEOUT(!idleError.isEmpty() && !closed.isEmpty(),
                             givenUpMs - clock.elapsed());
    QVERIFY(!jobError.isEmpty() && jobError != "<no report>");
    QCOMPARE(reports.count(job), 1);
    QCOMPARE(sftp->state(), QSsh::SftpChannel::Closed);
    QVERIFY(!shell->isRunning());
    QCOMPARE(readFile(target), QByteArray("the previous local copy\n"));
    QCOMPARE(QDir(local.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"keep.bin"});

    // The cable back in: a new connection works.
    QVERIFY2(m_dropbear.linkUp(), qPrintable(m_dropbear.lastError()));
    QVERIFY2(connectTo(m_dropbear.address(), &failure), qPrintable(failure));
    QFile::remove(m_dropbear.rootDir() + "/pulled.bin");
}

// A controller that says nothing because it was asked nothing, or because it cannot take more
// data yet, is alive. Dropbear runs OpenSSH's sftp-server as a process of its own: paused in
// the middle of an upload, it takes no more data, so the controller grants no window for longer
// than a silent controller is given; it still answers keepalives, and the upload completes once
// the server goes on. Before that, the connection is quiet for as long while this thread is
// busy, and the upload that follows starts on a link that has said nothing for a while.
void TestSshLoss::liveButQuietControllerIsNotDead()
{
    QTemporaryDir local;
    const QString source = local.filePath("slow.bin");
    QVERIFY(writeRandomFile(source, 64 * 1024 * 1024));
    QSsh::SshConnectionParameters quick = controllerParameters(m_dropbear.address());
    quick.deadPeerTimeout = 6;
    const auto connection = std::make_unique<QSsh::SshConnection>(quick);
    QSignalSpy connected(connection.get(), &QSsh::SshConnection::connected);
    connection->connectToHost();
    QVERIFY(connected.wait(15000));
    const auto sftp = openSftp(*connection);
    QVERIFY(sftp);
    QByteArray pid;
    QCOMPARE(m_dropbear.exec({"bash", "-c", "pgrep -x -n --ns $$ --nslist net sftp-server"}, &pid),
             0);
    pid = pid.trimmed();
    QVERIFY2(!pid.isEmpty(), "no sftp-server on the controller");

    JobReports reports(sftp.data());
    QSignalSpy error(connection.get(), &QSsh::SshConnection::error);
    std::this_thread::sleep_for(std::chrono::seconds(quick.deadPeerTimeout + 1));
    const QSsh::SftpJobId job =
        sftp->uploadFile(source, "/home/pi/cnc/slow.bin", QSsh::SftpOverwriteExisting);
    const QDir root(m_dropbear.rootDir());
    QVERIFY2(QTest::qWaitFor(
                 [&] {
                     const QFileInfoList parts =
                         root.entryInfoList({".slow.bin.part-*"}, QDir::Files | QDir::Hidden);
                     return !parts.isEmpty() && parts.first().size() > 8 * 1024 * 1024;
                 },
                 20000),
             qPrintable(connection->errorString()));
    QCOMPARE(m_dropbear.exec({"kill", "-STOP", QString::fromLatin1(pid)}), 0);
    const bool failedWhilePaused = error.wait((quick.deadPeerTimeout + 3) * 1000);
    QCOMPARE(m_dropbear.exec({"kill", "-CONT", QString::fromLatin1(pid)}), 0);
    QVERIFY2(!failedWhilePaused, qPrintable(connection->errorString()));
    QCOMPARE(reports.wait(job, 120000), QString());
    QCOMPARE(fileHash(root.filePath("slow.bin")), fileHash(source));
    QFile::remove(root.filePath("slow.bin"));
}

QTEST_GUILESS_MAIN(TestSshLoss)
#include "tst_ssh_loss.moc"
