// Connection reports, and reconnection once the login has succeeded.
#include "SimController.h"
#include "WorkerHarness.h"

#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

class TestConnectionReconnect : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { connectionLog(true); }
    void cleanup();

    void failedFirstAttemptIsReportedOnceAndNotRetried();
    void lostConnectionIsRetriedEveryTenSeconds();

private:
    SimController m_sim;
};

void TestConnectionReconnect::initTestCase()
{
    CNC_REQUIRE_SIM();
    QVERIFY2(m_sim.start(), qPrintable(m_sim.lastError()));
    captureConnectionLog();
}

void TestConnectionReconnect::cleanup()
{
    m_sim.linkUp();
    m_sim.sshdStart();
}

void TestConnectionReconnect::failedFirstAttemptIsReportedOnceAndNotRetried()
{
    QVERIFY(m_sim.sshdStop());
    WorkerHarness harness(m_sim.address());
    harness.worker()->m_bAutoReconnect = false; // as the login dialog leaves it until a login
    harness.start();
    QTRY_COMPARE_WITH_TIMEOUT(harness.stateSpy.count(), 1, 15000);
    QCOMPARE(harness.stateSpy.at(0), (QVariantList{false, m_sim.address(), 22}));

    // Longer than one reconnection interval: no second attempt, no second report.
    QVERIFY(!harness.stateSpy.wait(11000));
    QCOMPARE(
        countLogLines(connectionLog(), "CConnectionForSshClient::slotCreateConnection检查连接"), 1);
}

void TestConnectionReconnect::lostConnectionIsRetriedEveryTenSeconds()
{
    WorkerHarness harness(m_sim.address());
    // What the login dialog does once the first login has succeeded.
    connect(&harness, &WorkerHarness::connectStateChanged, &harness, [&](bool bState) {
        if (bState)
            harness.worker()->m_bAutoReconnect = true;
    });
    const auto timerActive = [&] {
        bool active = false;
        harness.inWorker([&] { active = harness.worker()->findChild<QTimer *>()->isActive(); });
        return active;
    };
    harness.start();
    QVERIFY(harness.waitReady());
    // Held on to like the window's copy, across the loss.
    const QSharedPointer<QSsh::SftpChannel> firstChannel = harness.worker()->getSftpChannel();
    QVERIFY(firstChannel);

    QVERIFY2(m_sim.linkDown(), qPrintable(m_sim.lastError()));
    QTRY_COMPARE_WITH_TIMEOUT(harness.stateSpy.count(), 2, 45000);
    QCOMPARE(harness.stateSpy.at(1).at(0).toBool(), false);
    QVERIFY(harness.worker()->getSftpChannel().isNull());
    QVERIFY(timerActive());

    // The first tick comes 10 s after the loss; each attempt lasts until the next tick and
    // its failure is reported once.
    QElapsedTimer sinceLastReport;
    sinceLastReport.start();
    for (const qint64 expectedMs : {20000, 10000}) {
        const int reports = harness.stateSpy.count();
        QTRY_COMPARE_WITH_TIMEOUT(harness.stateSpy.count(), reports + 1, expectedMs + 5000);
        const qint64 elapsed = sinceLastReport.restart();
        QVERIFY2(qAbs(elapsed - expectedMs) < 3000, qPrintable(QString::number(elapsed)));
        QCOMPARE(harness.stateSpy.last().at(0).toBool(), false);
    }

    // The simulator's commands wait for each other across instances; retry while busy.
    QVERIFY2(QTest::qWaitFor([&] { return m_sim.linkUp(); }, 120000),
             qPrintable(m_sim.lastError()));
    QVERIFY(harness.waitReady(25000));
    QCOMPARE(harness.sftpReadySpy.count(), 2);
    int trueReports = 0;
    for (const auto &report : qAsConst(harness.stateSpy))
        trueReports += report.at(0).toBool();
    QCOMPARE(trueReports, 2);
    const QSharedPointer<QSsh::SftpChannel> secondChannel = harness.worker()->getSftpChannel();
    QVERIFY(secondChannel && secondChannel != firstChannel);
    QVERIFY(!timerActive());
    QCOMPARE(countMarkerLines(harness.shell("echo \"BACK\"\"_AGAIN\""), "BACK_AGAIN"), 1);

    // A plain disconnection: the second one finds the link down and reports nothing; the
    // timer brings the connection back.
    const int reports = harness.stateSpy.count();
    QVERIFY(harness.inWorker([&] {
        harness.worker()->slotResetConnection(harness.key());
        harness.worker()->slotResetConnection(harness.key());
    }));
    QCOMPARE(harness.stateSpy.count(), reports + 1);
    QVERIFY(harness.waitReady(15000));
    QCOMPARE(harness.stateSpy.count(), reports + 2);
    QCOMPARE(harness.sftpReadySpy.count(), 3);
}

QTEST_GUILESS_MAIN(TestConnectionReconnect)
#include "tst_connection_reconnect.moc"
