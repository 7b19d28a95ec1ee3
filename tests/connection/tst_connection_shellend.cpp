// A shell that ends, or never starts, is a lost connection: reported, then reconnected with a
// new shell and channel; and a shell-route command counts as done only once it went out.
// Its own executable: each reconnection takes 10 s.
#include "SimController.h"
#include "WorkerHarness.h"

#include <QDir>
#include <QFile>
#include <QTest>

class TestConnectionShellEnd : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { connectionLog(true); }

    void shellEndIsALostConnection_data();
    void shellEndIsALostConnection();
    void shellCommandIsReportedOnlyOnceSent();

private:
    SimController m_sim;
};

void TestConnectionShellEnd::initTestCase()
{
    CNC_REQUIRE_SIM();
    captureConnectionLog();
}

void TestConnectionShellEnd::shellEndIsALostConnection_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("killed") << "killed";
    QTest::newRow("idle logout") << "idle logout";
    QTest::newRow("pty refused") << "pty refused";
}

void TestConnectionShellEnd::shellEndIsALostConnection()
{
    QFETCH(QString, fault);
    SimController::Options options;
    options.idleLogoutSeconds = fault == "idle logout" ? 4 : 0;
    options.refusePty = fault == "pty refused";
    QVERIFY2(m_sim.start(options), qPrintable(m_sim.lastError()));

    WorkerHarness harness(m_sim.address());
    // What the login dialog does once the first login has succeeded.
    connect(&harness, &WorkerHarness::connectStateChanged, &harness, [&](bool bState) {
        if (bState)
            harness.worker()->m_bAutoReconnect = true;
    });
    harness.start();

    if (fault == "pty refused") {
        // Up, but without a shell: lost at once, and the channel is never offered as ready.
        QTRY_COMPARE_WITH_TIMEOUT(harness.stateSpy.count(), 2, 15000);
        QCOMPARE(harness.stateSpy.at(0).at(0).toBool(), true);
        QCOMPARE(harness.stateSpy.at(1).at(0).toBool(), false);
        QCOMPARE(harness.sftpReadySpy.count(), 0);
        return;
    }

    QVERIFY(harness.waitReady());
    const QSharedPointer<QSsh::SftpChannel> firstChannel = harness.worker()->getSftpChannel();
    if (fault == "killed")
        QVERIFY2(m_sim.endShell(), qPrintable(m_sim.lastError()));
    QTRY_COMPARE_WITH_TIMEOUT(harness.stateSpy.count(), 2, 15000);
    QCOMPARE(harness.stateSpy.at(1).at(0).toBool(), false);
    QVERIFY(harness.worker()->getSftpChannel().isNull());

    // The reconnection cycle brings a new connection, shell and channel.
    QVERIFY(harness.waitReady(25000));
    QCOMPARE(harness.stateSpy.count(), 3);
    QCOMPARE(harness.sftpReadySpy.count(), 2);
    const QSharedPointer<QSsh::SftpChannel> secondChannel = harness.worker()->getSftpChannel();
    QVERIFY(secondChannel && secondChannel != firstChannel);
    QCOMPARE(countMarkerLines(harness.shell("echo \"BACK\"\"_AGAIN\""), "BACK_AGAIN"), 1);
}

void TestConnectionShellEnd::shellCommandIsReportedOnlyOnceSent()
{
    QVERIFY2(m_sim.start(), qPrintable(m_sim.lastError()));
    const QDir root(m_sim.rootDir());
    for (const QString name : {"发送.nc", "未发送.nc"}) {
        QFile file(root.filePath(name));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    WorkerHarness harness(m_sim.address());
    harness.start();
    QVERIFY(harness.waitReady());

    // Sent: job 1 without error, and the outcome follows as the marker.
    QVERIFY(harness.inWorker(
        [&] { harness.worker()->slotDeleteRemotePath("/home/pi/cnc/发送.nc", "file"); }));
    QTRY_COMPARE_WITH_TIMEOUT(harness.jobSpy.count(), 1, 10000);
    QCOMPARE(harness.jobSpy.at(0), (QVariantList{1u, QString()}));
    QTRY_COMPARE_WITH_TIMEOUT(countMarkerLines(harness.output, "DELETE_SUCCESS"), 1, 10000);
    QVERIFY(!QFile::exists(root.filePath("发送.nc")));

    // The shell goes while the command still waits to be sent: no success, nothing deleted.
    QVERIFY(harness.inWorker([&] {
        harness.worker()->slotDeleteRemotePath("/home/pi/cnc/未发送.nc", "file");
        harness.worker()->slotResetConnection(harness.key());
    }));
    QCOMPARE(harness.jobSpy.count(), 2);
    QCOMPARE(harness.jobSpy.at(1),
             (QVariantList{1u, "Shell command not sent: the remote shell is closed."}));
    QVERIFY(QFile::exists(root.filePath("未发送.nc")));
}

QTEST_GUILESS_MAIN(TestConnectionShellEnd)
#include "tst_connection_shellend.moc"
