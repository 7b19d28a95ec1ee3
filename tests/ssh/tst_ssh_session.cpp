#include "ProcessIo.h"
#include "ServerSims.h"
#include "SshTestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <thread>

using namespace SshTestSupport;

// The connection and the shell against the simulated controller: logging in, the shell's
// echo and prompt, every way a connection attempt or a live connection can fail, and what
// the channel and process handles do when their connection goes away. Logging in and a link
// pulled during a transfer are tried against both SSH servers.
class TestSshSession : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();

    void connectsAndRunsInteractiveShell_data();
    void connectsAndRunsInteractiveShell();
    void wrongPasswordIsRefused();
    void closedPortFailsAtOnce();
    void silentControllerTimesOut();
    void deadPeerNoticedWhileIdle();
    void linkPulledDuringDownload_data();
    void linkPulledDuringDownload();
    void liveButQuietControllerIsNotDead();
    void handlesOutliveTheirConnection();
    void receiverMayDeleteTheShell();
    void shellAnswersPromptlyDuringSftpWork();

private:
    QSsh::SshConnectionParameters parameters() const
    {
        return controllerParameters(m_sim->address());
    }
    static QByteArray readUntil(QSsh::SshRemoteProcess *shell, const QByteArray &needle,
                                QByteArray *output, int timeoutMs = 10000);

    ServerSims m_sims;
    SimController *m_sim = nullptr; // OpenSSH's, for the tests against one server
};

void TestSshSession::initTestCase()
{
    CNC_REQUIRE_SIM();
    m_sim = m_sims.get(SimController::Server::OpenSsh);
    QVERIFY2(m_sim, qPrintable(m_sims.lastError()));
}

void TestSshSession::cleanup()
{
    // Faults must not leak into the next test.
    for (SimController *sim : m_sims.started()) {
        sim->linkUp();
        sim->sshdStart();
    }
}

QByteArray TestSshSession::readUntil(QSsh::SshRemoteProcess *shell, const QByteArray &needle,
                                     QByteArray *output, int timeoutMs)
{
    (void)QTest::qWaitFor(
        [&] {
            *output += shell->readAllStandardOutput();
            return output->contains(needle);
        },
        timeoutMs);
    return *output;
}

void TestSshSession::connectsAndRunsInteractiveShell_data()
{
    ServerSims::addColumn();
    for (const SimController::Server server : ServerSims::servers())
        ServerSims::newRow(server, "");
}

void TestSshSession::connectsAndRunsInteractiveShell()
{
    const SimController *const sim = m_sims.current();
    QVERIFY2(sim, qPrintable(m_sims.lastError()));
    QString failure;
    const auto connection = connectTo(controllerParameters(sim->address()), &failure);
    QVERIFY2(connection, qPrintable(failure));
    QCOMPARE(connection->state(), QSsh::SshConnection::Connected);
    QCOMPARE(connection->errorState(), QSsh::SshNoError);

    const auto shell = connection->createRemoteShell();
    QVERIFY(shell);
    QSignalSpy started(shell.data(), &QSsh::SshRemoteProcess::started);
    QSignalSpy readyRead(shell.data(), &QSsh::SshRemoteProcess::readyReadStandardOutput);
    shell->start();
    QVERIFY(started.wait(10000));
    QVERIFY(shell->isRunning());

    QTRY_VERIFY_WITH_TIMEOUT(!readyRead.isEmpty(), 10000);
    QByteArray output;
    const QByteArray prompt = "root@" + sim->hostName().toUtf8() + ":~# ";
    QVERIFY2(readUntil(shell.data(), prompt, &output).contains(prompt), output.constData());

    output.clear();
    QCOMPARE(shell->write("echo $((40+2))_ok\n"), qint64(18));
    readUntil(shell.data(), "42_ok\r\n", &output);
    QVERIFY2(output.contains("echo $((40+2))_ok"), output.constData()); // the echo
    QVERIFY2(output.contains("42_ok\r\n"), output.constData());         // the result

    // A long command line comes back in one piece: the terminal is wide enough that the
    // line editor does not wrap it (wrapping would insert carriage returns).
    QByteArray payload;
    for (int i = 0; i < 40; ++i)
        payload += "abcdefghi" + QByteArray::number(i % 10);
    QCOMPARE(payload.size(), 400);
    output.clear();
    shell->write("echo " + payload + "\n");
    (void)QTest::qWaitFor(
        [&] {
            output += shell->readAllStandardOutput();
            return output.count(payload + "\r\n") == 2 && output.endsWith(prompt);
        },
        10000);
    QVERIFY2(output.contains("echo " + payload + "\r\n"), output.constData()); // the echo
    QCOMPARE(output.count(payload + "\r\n"), 2);                               // and the result
    QVERIFY2(output.endsWith(prompt), output.constData());
}

void TestSshSession::wrongPasswordIsRefused()
{
    QSsh::SshConnectionParameters wrong = parameters();
    wrong.setPassword(QStringLiteral("not-the-password"));
    QSsh::SshConnection connection(wrong);
    QSignalSpy error(&connection, &QSsh::SshConnection::error);
    QSignalSpy connected(&connection, &QSsh::SshConnection::connected);
    connection.connectToHost();
    QCOMPARE(connection.state(), QSsh::SshConnection::Connecting); // returned at once
    QVERIFY(error.wait(15000));
    QCOMPARE(error.first().first().value<QSsh::SshError>(), QSsh::SshAuthenticationError);
    QVERIFY(!connection.errorString().isEmpty());
    QCOMPARE(connection.state(), QSsh::SshConnection::Unconnected);
    QVERIFY(connected.isEmpty());
    QVERIFY(!connection.createRemoteShell());
    QVERIFY(!connection.createSftpChannel());
}

void TestSshSession::closedPortFailsAtOnce()
{
    QVERIFY2(m_sim->sshdStop(), qPrintable(m_sim->lastError()));
    QSsh::SshConnection connection(parameters());
    QSignalSpy error(&connection, &QSsh::SshConnection::error);
    QElapsedTimer clock;
    clock.start();
    connection.connectToHost();
    QVERIFY(error.wait(5000));
    QVERIFY2(clock.elapsed() < 2000, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(error.first().first().value<QSsh::SshError>(), QSsh::SshSocketError);
    QVERIFY(!connection.errorString().isEmpty());

    // The same object connects once the port is open again.
    QVERIFY2(m_sim->sshdStart(), qPrintable(m_sim->lastError()));
    QSignalSpy connected(&connection, &QSsh::SshConnection::connected);
    connection.connectToHost();
    QVERIFY(connected.wait(15000));
}

void TestSshSession::silentControllerTimesOut()
{
    QVERIFY2(m_sim->linkDown(), qPrintable(m_sim->lastError()));
    QSsh::SshConnection connection(parameters());
    QSignalSpy error(&connection, &QSsh::SshConnection::error);
    QElapsedTimer clock;
    clock.start();
    connection.connectToHost();
    QVERIFY(error.wait(15000));
    const qint64 elapsed = clock.elapsed();
    QVERIFY2(elapsed >= 9000 && elapsed < 12000, qPrintable(QString::number(elapsed)));
    QCOMPARE(error.first().first().value<QSsh::SshError>(), QSsh::SshTimeoutError);
    QCOMPARE(connection.state(), QSsh::SshConnection::Unconnected);
}

void TestSshSession::deadPeerNoticedWhileIdle()
{
    QString failure;
    const auto connection = connectTo(parameters(), &failure);
    QVERIFY2(connection, qPrintable(failure));
    const auto shell = connection->createRemoteShell();
    QSignalSpy started(shell.data(), &QSsh::SshRemoteProcess::started);
    QSignalSpy closed(shell.data(), &QSsh::SshRemoteProcess::closed);
    shell->start();
    QVERIFY(started.wait(10000));

    QSignalSpy error(connection.get(), &QSsh::SshConnection::error);
    QSignalSpy disconnected(connection.get(), &QSsh::SshConnection::disconnected);
    QVERIFY2(m_sim->linkDown(), qPrintable(m_sim->lastError()));
    QElapsedTimer clock;
    clock.start();
    QVERIFY(QTest::qWaitFor([&] { return !error.isEmpty() || !disconnected.isEmpty(); }, 25000));
    QVERIFY2(clock.elapsed() < 20000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(QTest::qWaitFor([&] { return !closed.isEmpty(); }, 1000));
    QVERIFY(!shell->isRunning());
}

void TestSshSession::linkPulledDuringDownload_data()
{
    ServerSims::addColumn();
    for (const SimController::Server server : ServerSims::servers())
        ServerSims::newRow(server, "");
}

void TestSshSession::linkPulledDuringDownload()
{
    SimController *const sim = m_sims.current();
    QVERIFY2(sim, qPrintable(m_sims.lastError()));
    QTemporaryDir local;
    QVERIFY(local.isValid());
    const QString target = local.filePath("keep.bin");
    QVERIFY(writeFile(target, "the previous local copy\n"));
    QVERIFY(writeRandomFile(sim->rootDir() + "/pulled.bin", qint64(256) * 1024 * 1024));

    QString failure;
    auto connection = connectTo(controllerParameters(sim->address()), &failure);
    QVERIFY2(connection, qPrintable(failure));
    const auto sftp = openSftp(*connection);
    QVERIFY(sftp);
    JobWatcher watcher(sftp.data());
    QSignalSpy error(connection.get(), &QSsh::SshConnection::error);
    const QSsh::SftpJobId job =
        sftp->downloadFile("/home/pi/cnc/pulled.bin", target, QSsh::SftpOverwriteExisting);
    QVERIFY(job != QSsh::SftpInvalidJob);

    // Pull the cable once data is flowing: the local temporary file may have no name (QSaveFile
    // uses an unnamed file where it can), so watch this process's written bytes instead.
    const qint64 writtenBefore = bytesWrittenByThisProcess();
    const auto receiving = [&] {
        return bytesWrittenByThisProcess() - writtenBefore > 8 * 1024 * 1024;
    };
    QVERIFY(QTest::qWaitFor(receiving, 20000));
    QVERIFY2(sim->linkDown(), qPrintable(sim->lastError()));
    QElapsedTimer clock;
    clock.start();

    QVERIFY(error.wait(25000));
    QVERIFY2(clock.elapsed() < 20000, qPrintable(QString::number(clock.elapsed())));
    QString jobError;
    QVERIFY(watcher.wait(job, &jobError, 1000));
    QVERIFY(!jobError.isEmpty());
    QCOMPARE(watcher.reportsFor(job), 1);
    QCOMPARE(sftp->state(), QSsh::SftpChannel::Closed);
    QCOMPARE(readFile(target), QByteArray("the previous local copy\n"));
    QCOMPARE(QDir(local.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"keep.bin"});

    // The cable back in: a new connection works.
    connection.reset();
    QVERIFY2(sim->linkUp(), qPrintable(sim->lastError()));
    const auto again = connectTo(controllerParameters(sim->address()), &failure);
    QVERIFY2(again, qPrintable(failure));
    QFile::remove(sim->rootDir() + "/pulled.bin");
}

// A controller that says nothing because it was asked nothing, or because it cannot take more
// data yet, is alive. Dropbear runs OpenSSH's sftp-server as a process of its own: paused in
// the middle of an upload, it takes no more data, so the controller grants no window for longer
// than a silent controller is given; it still answers keepalives, and the upload completes once
// the server goes on. Before that, the connection is quiet for as long while this thread is
// busy, and the upload that follows starts on a link that has said nothing for a while.
void TestSshSession::liveButQuietControllerIsNotDead()
{
    SimController *const sim = m_sims.get(SimController::Server::Dropbear);
    QVERIFY2(sim, qPrintable(m_sims.lastError()));
    QTemporaryDir local;
    QVERIFY(local.isValid());
    const QString source = local.filePath("slow.bin");
    QVERIFY(writeRandomFile(source, qint64(128) * 1024 * 1024));
    QSsh::SshConnectionParameters quick = controllerParameters(sim->address());
    quick.deadPeerTimeout = 6;
    QString failure;
    const auto connection = connectTo(quick, &failure);
    QVERIFY2(connection, qPrintable(failure));
    const auto sftp = openSftp(*connection);
    QVERIFY(sftp);
    QByteArray pid;
    QCOMPARE(sim->exec({"bash", "-c", "pgrep -x -n --ns $$ --nslist net sftp-server"}, &pid), 0);
    pid = pid.trimmed();
    QVERIFY2(!pid.isEmpty(), "no sftp-server on the controller");

    JobWatcher watcher(sftp.data());
    QSignalSpy error(connection.get(), &QSsh::SshConnection::error);
    const std::chrono::seconds deadPeerTimeout(quick.deadPeerTimeout);
    std::this_thread::sleep_for(deadPeerTimeout + std::chrono::seconds(1));
    const QSsh::SftpJobId job =
        sftp->uploadFile(source, "/home/pi/cnc/slow.bin", QSsh::SftpOverwriteExisting);
    const auto writing = [&] {
        const QStringList parts =
            QDir(sim->rootDir()).entryList({".slow.bin.part-*"}, QDir::Files | QDir::Hidden);
        return !parts.isEmpty() &&
               QFileInfo(sim->rootDir() + '/' + parts.first()).size() > 8 * 1024 * 1024;
    };
    QVERIFY2(QTest::qWaitFor(writing, 20000), qPrintable(connection->errorString()));
    QCOMPARE(sim->exec({"kill", "-STOP", QString::fromLatin1(pid)}), 0);
    const bool failedWhilePaused = error.wait(int((deadPeerTimeout.count() + 3) * 1000));
    QCOMPARE(sim->exec({"kill", "-CONT", QString::fromLatin1(pid)}), 0);
    QVERIFY2(!failedWhilePaused, qPrintable(connection->errorString()));
    QString jobError;
    QVERIFY(watcher.wait(job, &jobError, 120000));
    QVERIFY2(jobError.isEmpty(), qPrintable(jobError));
    QCOMPARE(fileHash(sim->rootDir() + "/slow.bin"), fileHash(source));
    QFile::remove(sim->rootDir() + "/slow.bin");
}

void TestSshSession::handlesOutliveTheirConnection()
{
    QVERIFY(writeRandomFile(m_sim->rootDir() + "/long.bin", qint64(64) * 1024 * 1024));
    QTemporaryDir local;
    QString failure;
    auto connection = connectTo(parameters(), &failure);
    QVERIFY2(connection, qPrintable(failure));
    const auto shell = connection->createRemoteShell();
    QSignalSpy started(shell.data(), &QSsh::SshRemoteProcess::started);
    shell->start();
    QVERIFY(started.wait(10000));
    QSharedPointer<QSsh::SftpChannel> sftp = openSftp(*connection);
    QVERIFY(sftp);
    JobWatcher watcher(sftp.data());
    const QSsh::SftpJobId job = sftp->downloadFile("/home/pi/cnc/long.bin", local.filePath("l.bin"),
                                                   QSsh::SftpOverwriteExisting);

    // The connection goes first, as when the worker discards it after an error.
    connection.reset();
    QString jobError;
    QVERIFY(watcher.wait(job, &jobError, 5000));
    QVERIFY(!jobError.isEmpty());
    QCOMPARE(sftp->state(), QSsh::SftpChannel::Closed);
    QCOMPARE(
        sftp->uploadFile(local.filePath("l.bin"), "/home/pi/cnc/x", QSsh::SftpOverwriteExisting),
        QSsh::SftpInvalidJob);
    QCOMPARE(sftp->createDirectory("/home/pi/cnc/y"), QSsh::SftpInvalidJob);
    QVERIFY(!shell->isRunning());
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("device not open"));
    QCOMPARE(shell->write("ls\n"), qint64(-1));
    QVERIFY(QDir(local.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    QCOMPARE(watcher.reportsFor(job), 1);

    // The last handle dropped in another thread: the object is deleted in its own thread.
    QSharedPointer<QSsh::SftpChannel> copy = sftp;
    QSignalSpy destroyed(sftp.data(), &QObject::destroyed);
    const QThread *const owner = QThread::currentThread();
    QThread *deletedIn = nullptr;
    connect(
        sftp.data(), &QObject::destroyed, this, [&] { deletedIn = QThread::currentThread(); },
        Qt::DirectConnection);
    sftp.reset();
    std::thread([handle = std::move(copy)]() mutable { handle.reset(); }).join();
    QVERIFY(destroyed.wait(2000));
    QCOMPARE(deletedIn, owner);
    QFile::remove(m_sim->rootDir() + "/long.bin");
}

// Signals come from the event loop, so a receiver may drop the last handle in its slot: the
// process must not touch itself after the first of the signals it emits for the same event.
void TestSshSession::receiverMayDeleteTheShell()
{
    QString failure;
    const auto connection = connectTo(parameters(), &failure);
    QVERIFY2(connection, qPrintable(failure));
    QSharedPointer<QSsh::SshRemoteProcess> shell = connection->createRemoteShell();
    QSignalSpy destroyed(shell.data(), &QObject::destroyed);
    connect(shell.data(), &QSsh::SshRemoteProcess::readyReadStandardOutput, this,
            [&shell] { shell.reset(); });
    shell->start();
    QVERIFY(destroyed.wait(10000));

    // The same for the end of the shell: closed() follows aboutToClose().
    shell = connection->createRemoteShell();
    QSignalSpy started(shell.data(), &QSsh::SshRemoteProcess::started);
    shell->start();
    QVERIFY(started.wait(10000));
    QSignalSpy closedDestroyed(shell.data(), &QObject::destroyed);
    connect(shell.data(), &QIODevice::aboutToClose, this, [&shell] { shell.reset(); });
    shell->write("exit\n");
    QVERIFY(closedDestroyed.wait(10000));
}

// The window sends its next command the moment the previous prompt arrives, while transfers,
// removals and folder creations run on the same connection. Each answer must come within
// moments, and the SFTP work must keep going too. The job mix makes a download start while
// an earlier download runs and an upload waits for both: when the earlier one ends, the
// upload's turn comes while the later download is inside a blocked call.
void TestSshSession::shellAnswersPromptlyDuringSftpWork()
{
    QTemporaryDir local;
    QVERIFY(local.isValid());
    const QString upload = local.filePath("up.bin");
    QVERIFY(writeRandomFile(upload, qint64(3) * 1024 * 1024));
    for (int i = 0; i < 3; ++i)
        QVERIFY(writeRandomFile(m_sim->rootDir() + QString("/busy%1.bin").arg(i), 1024 * 1024));

    QString failure;
    const auto connection = connectTo(parameters(), &failure);
    QVERIFY2(connection, qPrintable(failure));
    const auto shell = connection->createRemoteShell();
    QSignalSpy started(shell.data(), &QSsh::SshRemoteProcess::started);
    shell->start();
    QVERIFY(started.wait(10000));
    const auto sftp = openSftp(*connection);
    QVERIFY(sftp);

    int jobsDone = 0;
    int next = 0;
    const auto startJob = [&] {
        const QString remote = QString("/home/pi/cnc/busy%1").arg(next % 3);
        switch (next++ % 4) {
        case 0:
            sftp->downloadFile(remote + ".bin", local.filePath("down.bin"),
                               QSsh::SftpOverwriteExisting);
            break;
        case 1:
            sftp->uploadFile(upload, remote + ".up", QSsh::SftpOverwriteExisting);
            break;
        case 2:
            sftp->removeFile(remote + ".up");
            break;
        default:
            sftp->createDirectory(remote + ".dir");
            sftp->removeDirectory(remote + ".dir");
            break;
        }
    };
    connect(sftp.data(), &QSsh::SftpChannel::finished, this, [&] {
        ++jobsDone;
        startJob();
    });
    for (int i = 0; i < 3; ++i)
        startJob();

    const QByteArray prompt = "root@" + m_sim->hostName().toUtf8() + ":~# ";
    QByteArray output;
    QVERIFY2(readUntil(shell.data(), prompt, &output).contains(prompt), output.constData());
    QElapsedTimer clock;
    clock.start();
    for (int command = 0; clock.elapsed() < 10000; ++command) {
        // The quotes keep the echoed command line from matching the answer.
        const QByteArray marker = "M" + QByteArray::number(command) + "_done\r\n";
        output.clear();
        shell->write("echo M\"\"" + QByteArray::number(command) + "_done\n");
        const auto answered = [&] {
            output += shell->readAllStandardOutput();
            return output.contains(marker) && output.endsWith(prompt);
        };
        QVERIFY2(QTest::qWaitFor(answered, 2000),
                 qPrintable(QString("command %1 unanswered after 2 s, %2 SFTP jobs done: %3")
                                .arg(command)
                                .arg(jobsDone)
                                .arg(QString::fromUtf8(output))));
    }
    QVERIFY2(jobsDone > 20, qPrintable(QString::number(jobsDone)));
    disconnect(sftp.data(), nullptr, this, nullptr);
    for (int i = 0; i < 3; ++i) {
        QFile::remove(m_sim->rootDir() + QString("/busy%1.bin").arg(i));
        QFile::remove(m_sim->rootDir() + QString("/busy%1.up").arg(i));
    }
}

QTEST_GUILESS_MAIN(TestSshSession)
#include "tst_ssh_session.moc"
