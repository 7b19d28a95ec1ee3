// The worker against a simulated controller: its thread, the shell, transfers, delete and
// folder creation (the latter against both SSH servers).
#include "ServerSims.h"
#include "WorkerHarness.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <memory>

class TestConnectionWorker : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { connectionLog(true); }

    void runsInItsOwnThreadAndDeletesItself_data();
    void runsInItsOwnThreadAndDeletesItself();
    void shellDropsEarlyCommandsAndKeepsCharactersWhole();
    void transfersReportEachJob();
    void deleteAndCreate_data();
    void deleteAndCreate();

private:
    std::unique_ptr<WorkerHarness> connectedWorker() { return connectedWorker(*m_sim); }
    static std::unique_ptr<WorkerHarness> connectedWorker(const SimController &sim);
    QString onController(const QString &name) const
    {
        return QDir(m_sim->rootDir()).filePath(name);
    }
    bool makeFile(const QString &path, const QByteArray &content = "M30\n");

    ServerSims m_sims;
    SimController *m_sim = nullptr; // OpenSSH's, for the tests against one server
    QTemporaryDir m_tmp;
};

void TestConnectionWorker::initTestCase()
{
    CNC_REQUIRE_SIM();
    m_sim = m_sims.get(SimController::Server::OpenSsh);
    QVERIFY2(m_sim, qPrintable(m_sims.lastError()));
    captureConnectionLog();
}

std::unique_ptr<WorkerHarness> TestConnectionWorker::connectedWorker(const SimController &sim)
{
    auto harness = std::make_unique<WorkerHarness>(sim.address());
    harness->start();
    // Ready, and past the banner: what the shell prints from here on belongs to the test.
    if (!harness->waitReady() ||
        countMarkerLines(harness->shell("echo \"SHELL\"\"_READY\""), "SHELL_READY") != 1)
        return nullptr;
    return harness;
}

bool TestConnectionWorker::makeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) &&
           file.write(content) == content.size();
}

void TestConnectionWorker::runsInItsOwnThreadAndDeletesItself_data()
{
    QTest::addColumn<QString>("password");
    QTest::newRow("failed login") << "wrong password";
    QTest::newRow("connected") << SimController::rootPassword();
}

// The holder calls quitThread and lets go: the worker and its thread delete themselves.
void TestConnectionWorker::runsInItsOwnThreadAndDeletesItself()
{
    QFETCH(QString, password);
    WorkerHarness harness(m_sim->address(), password);
    harness.start();
    QVERIFY(harness.thread != QThread::currentThread());
    QTRY_COMPARE_WITH_TIMEOUT(harness.stateSpy.count(), 1, 15000);
    QCOMPARE(harness.stateSpy.at(0).at(0).toBool(), password != "wrong password");

    // The first attempt ran in the worker thread; the reconnection timer lives there, idle.
    QCOMPARE(connectionLog().value(0).text,
             "CConnectionForSshClient::slotCreateConnection检查连接");
    QCOMPARE(connectionLog().value(0).thread, harness.thread.data());
    QString timer;
    QVERIFY(harness.inWorker([&] {
        const QTimer *t = harness.worker()->findChild<QTimer *>();
        timer = QStringLiteral("%1 %2 %3 %4")
                    .arg(t->interval())
                    .arg(t->isSingleShot())
                    .arg(t->isActive())
                    .arg(t->thread() == QThread::currentThread());
    }));
    QCOMPARE(timer, "10000 0 0 1");

    harness.worker()->quitThread();
    QTRY_VERIFY_WITH_TIMEOUT(harness.workerWatch.gone && harness.thread.isNull(), 10000);
    QCOMPARE(countLogLines(connectionLog(), "CConnectionForSshClient destroyed"), 1);
}

void TestConnectionWorker::shellDropsEarlyCommandsAndKeepsCharactersWhole()
{
    // The connection report goes out before the shell has started: a command sent on it is
    // refused, and does not run later either.
    WorkerHarness harness(m_sim->address());
    CConnectionForSshClient *const worker = harness.worker();
    std::atomic<int> written{-1};
    connect(
        worker, &CConnectionForSshClient::sigConnectStateChanged, worker,
        [&] { written = worker->send("touch /home/pi/cnc/too_early\n"); }, Qt::DirectConnection);
    harness.start();
    QVERIFY(harness.waitReady());
    QCOMPARE(written.load(), 0);

    // 40000 three-byte characters come in many pieces; none is empty or garbled at its ends.
    const QString output = harness.shell("printf '零%.0s' $(seq 40000); echo", 30000);
    QVERIFY(harness.dataSpy.count() > 2);
    for (const auto &piece : qAsConst(harness.dataSpy))
        QVERIFY(!piece.at(0).toString().isEmpty());
    QVERIFY(output.contains(QString(40000, QChar(0x96F6)) + "\r\n"));
    QVERIFY(!output.contains(QChar::ReplacementCharacter));
    QVERIFY(!QFile::exists(onController("too_early")));
}

void TestConnectionWorker::transfersReportEachJob()
{
    QVERIFY(m_tmp.isValid());
    const QString upload = m_tmp.filePath("upload.nc");
    const QByteArray content = QByteArray(300 * 1024, 'G') + "M30\n";
    QVERIFY(makeFile(upload, content));

    // Every request while disconnected gets exactly one not-ready reply.
    {
        WorkerHarness down(m_sim->address(), "wrong password");
        down.start();
        QTRY_COMPARE_WITH_TIMEOUT(down.stateSpy.count(), 1, 15000);
        CConnectionForSshClient *const w = down.worker();
        QVERIFY(down.inWorker([&] {
            w->slotUploadFile(upload, "/home/pi/cnc/up.nc");
            w->slotDownloadFile("/home/pi/cnc/part1.nc", m_tmp.filePath("part1.nc"));
            w->slotDeleteRemotePath("/home/pi/cnc/零件.nc", "file");
            w->slotCreateRemoteFolder("/home/pi/cnc/新建");
            w->slotRenameRemotePath("/home/pi/cnc/a.nc", "/home/pi/cnc/b.nc");
        }));
        QCOMPARE(down.jobSpy.count(), 4);
        for (const auto &job : qAsConst(down.jobSpy))
            QCOMPARE(job, (QVariantList{QSsh::SftpInvalidJob, "SFTP channel not ready."}));
        // A rename answers on its own signal.
        QCOMPARE(down.renameSpy, (QList<QVariantList>{{"/home/pi/cnc/a.nc", "/home/pi/cnc/b.nc",
                                                       "SFTP channel not ready."}}));
        QCOMPARE(down.transferSpy.count(), 0);
    }

    // An upload over an existing file, then three downloads in a row and a failing one.
    const auto harness = connectedWorker();
    QVERIFY(harness);
    QVERIFY(makeFile(onController("程序 1.nc"), "old"));
    QVERIFY(harness->inWorker(
        [&] { harness->worker()->slotUploadFile(upload, "/home/pi/cnc/程序 1.nc"); }));
    QTRY_COMPARE_WITH_TIMEOUT(harness->jobSpy.count(), 1, 20000);
    QCOMPARE(harness->jobSpy.at(0).at(1).toString(), QString());
    QFile uploaded(onController("程序 1.nc"));
    QVERIFY(uploaded.open(QIODevice::ReadOnly) && uploaded.readAll() == content);

    QVERIFY(harness->inWorker([&] {
        for (const QString name : {"a.nc", "b.nc", "c.nc"})
            harness->worker()->slotDownloadFile("/home/pi/cnc/程序 1.nc", m_tmp.filePath(name));
        harness->worker()->slotDownloadFile("/home/pi/cnc/missing.nc", m_tmp.filePath("m.nc"));
    }));
    QTRY_COMPARE_WITH_TIMEOUT(harness->jobSpy.count(), 5, 20000);
    QStringList errors;
    for (const auto &job : qAsConst(harness->jobSpy))
        errors << job.at(1).toString();
    QCOMPARE(errors.count(QString()), 4); // jobs end in any order; only the missing file fails
    // Each transfer was announced with the remote file's name, before its end; an upload with
    // its size, a download before it knows it.
    QSet<uint> announced, ended;
    for (int i = 0; i < harness->transferSpy.size(); ++i) {
        announced << harness->transferSpy.at(i).at(0).toUInt();
        ended << harness->jobSpy.at(i).at(0).toUInt();
        QCOMPARE(harness->transferSpy.at(i).mid(1),
                 (QVariantList{i < 4 ? "程序 1.nc" : "missing.nc",
                               quint64(i == 0 ? content.size() : 0)}));
    }
    QCOMPARE(announced.size(), 5);
    QCOMPARE(announced, ended);
    for (const QString name : {"a.nc", "b.nc", "c.nc"}) {
        QFile downloaded(m_tmp.filePath(name));
        QVERIFY(downloaded.open(QIODevice::ReadOnly) && downloaded.readAll() == content);
    }
}

void TestConnectionWorker::deleteAndCreate_data()
{
    ServerSims::addColumn();
    QTest::addColumn<QString>(
        "existing"); // made before the request: a file, or a folder if it ends with "/"
    QTest::addColumn<QString>("type"); // the delete type, or "create"
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("command"); // sent to the shell; empty for the SFTP route
    QTest::addColumn<QString>("result");  // the marker, or "ok" / "error" for the SFTP job
    QTest::addColumn<bool>("existsAfter");

    const QString rmf = R"(rm -f "%1" && echo "DELETE_SUCCESS" || echo "DELETE_FAILED")";
    const QString mkdir = R"(mkdir -p "%1" && echo "CREATE_SUCCESS" || echo "CREATE_FAILED")";
    for (const SimController::Server server : ServerSims::servers()) {
        ServerSims::newRow(server, "file by SFTP") << "old.nc"
                                                   << "file"
                                                   << "/home/pi/cnc/old.nc"
                                                   << ""
                                                   << "ok" << false;
        ServerSims::newRow(server, "dir by SFTP") << "old/"
                                                  << "dir"
                                                  << "/home/pi/cnc/old"
                                                  << ""
                                                  << "ok" << false;
        ServerSims::newRow(server, "Dir is a file, SFTP") << "D/"
                                                          << "Dir"
                                                          << "/home/pi/cnc/D"
                                                          << ""
                                                          << "error" << true;
        ServerSims::newRow(server, "create by SFTP, one level only") << ""
                                                                     << "create"
                                                                     << "/home/pi/cnc/x/y"
                                                                     << ""
                                                                     << "error" << false;
        // Every byte outside printable ASCII is typed as an octal escape.
        ServerSims::newRow(server, "Chinese dir by shell")
            << "中文/子目录/"
            << "dir"
            << "/home/pi/cnc/中文"
            << R"(rm -rf "/home/pi/cnc/"$'\344\270\255\346\226\207'"" && echo "DELETE_SUCCESS" || echo "DELETE_FAILED")"
            << "DELETE_SUCCESS" << false;
        // A name stored decomposed (as a Mac writes it) is deleted by that very name.
        ServerSims::newRow(server, "decomposed accent")
            << "cafe\u0301.nc"
            << "file"
            << "/home/pi/cnc/cafe\u0301.nc" << rmf.arg(R"(/home/pi/cnc/cafe"$'\314\201'".nc)")
            << "DELETE_SUCCESS" << false;
        ServerSims::newRow(server, "Dir is a file, shell")
            << "目/"
            << "Dir"
            << "/home/pi/cnc/目" << rmf.arg(R"(/home/pi/cnc/"$'\347\233\256'")") << "DELETE_FAILED"
            << true;
        ServerSims::newRow(server, "mkdir -p makes parents")
            << ""
            << "create"
            << "/home/pi/cnc/新/子" << mkdir.arg(R"(/home/pi/cnc/"$'\346\226\260'"/"$'\345\255\220'")")
            << "CREATE_SUCCESS" << true;
    }
}

void TestConnectionWorker::deleteAndCreate()
{
    QFETCH(QString, existing);
    QFETCH(QString, type);
    QFETCH(QString, path);
    QFETCH(QString, command);
    QFETCH(QString, result);
    QFETCH(bool, existsAfter);

    const SimController *const sim = m_sims.current();
    QVERIFY2(sim, qPrintable(m_sims.lastError()));
    const auto onController = [root = QDir(sim->rootDir())](const QString &name) {
        return root.filePath(name);
    };
    const auto harness = connectedWorker(*sim);
    QVERIFY(harness);
    if (existing.endsWith('/'))
        QVERIFY(QDir().mkpath(onController(existing)));
    else if (!existing.isEmpty())
        QVERIFY(makeFile(onController(existing)));
    const QString name = path.mid(QStringLiteral("/home/pi/cnc/").size());

    QVERIFY(harness->inWorker([&] {
        if (type == "create")
            harness->worker()->slotCreateRemoteFolder(path);
        else
            harness->worker()->slotDeleteRemotePath(path, type);
    }));
    const QList<LogLine> log = connectionLog();
    if (command.isEmpty()) {
        // The report is the job's end: the files have changed by then.
        QTRY_COMPARE_WITH_TIMEOUT(harness->jobSpy.count(), 1, 15000);
        QCOMPARE(harness->jobSpy.at(0).at(1).toString().isEmpty(), result == "ok");
        QVERIFY(harness->jobSpy.at(0).at(0).value<QSsh::SftpJobId>() != QSsh::SftpInvalidJob);
        QCOMPARE(countLogLines(log, "Sending shell command: " + command), 0);
    } else {
        // Reported once sent; the outcome is the marker the shell prints.
        QTRY_COMPARE_WITH_TIMEOUT(harness->jobSpy.count(), 1, 10000);
        QCOMPARE(harness->jobSpy.at(0), (QVariantList{1u, QString()}));
        QCOMPARE(countLogLines(log, "Sending shell command: " + command), 1);
        QCOMPARE(countLogLines(log, "CConnectionForSshClient ssh send " + command + "\n"), 1);
        QTRY_COMPARE_WITH_TIMEOUT(countMarkerLines(harness->output, result), 1, 15000);
    }
    QCOMPARE(QFileInfo::exists(onController(name)), existsAfter);
}

QTEST_GUILESS_MAIN(TestConnectionWorker)
#include "tst_connection_worker.moc"
