// Connection reports, and reconnection once the login has succeeded.
#include "SimController.h"
#include "WorkerHarness.h"

#include <QElapsedTimer>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>

namespace {

const QString kAttemptLine =
    QStringLiteral("CConnectionForSshClient::slotCreateConnection检查连接");

// What the login dialog does: reconnection is allowed once the first login has succeeded.
void allowReconnectionAfterLogin(WorkerHarness &harness)
{
    QObject::connect(&harness, &WorkerHarness::connectStateChanged, &harness, [&](bool bState) {
        if (bState)
            harness.worker()->m_bAutoReconnect = true;
    });
}

bool reconnectTimerActive(WorkerHarness &harness)
{
    bool active = false;
    harness.inWorker([&] { active = harness.worker()->findChild<QTimer *>()->isActive(); });
    return active;
}

} // namespace

class TestConnectionReconnect : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { ConnectionLog::clear(); }
    void cleanup();

    void failedFirstAttemptIsReportedOnceAndNotRetried_data();
    void failedFirstAttemptIsReportedOnceAndNotRetried();
    void lostLinkIsRetriedEveryTenSeconds();
    void resetConnectionByAddressKey();

private:
    SimController m_sim;
};

void TestConnectionReconnect::initTestCase()
{
    CNC_REQUIRE_SIM();
    QVERIFY2(m_sim.start(), qPrintable(m_sim.lastError()));
    ConnectionLog::install();
}

void TestConnectionReconnect::cleanup()
{
    m_sim.linkUp();
    m_sim.sshdStart();
}

void TestConnectionReconnect::failedFirstAttemptIsReportedOnceAndNotRetried_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("stopSshd");
    QTest::newRow("wrong password") << "qzmtrvlakepondsiX" << false;
    QTest::newRow("sshd stopped") << WorkerHarness::kPassword << true;
}

void TestConnectionReconnect::failedFirstAttemptIsReportedOnceAndNotRetried()
{
    QFETCH(QString, password);
    QFETCH(bool, stopSshd);
    if (stopSshd)
        QVERIFY(m_sim.sshdStop());

    WorkerHarness harness(m_sim.address(), password);
    allowReconnectionAfterLogin(harness);
    harness.start();
    QTRY_COMPARE_WITH_TIMEOUT(harness.stateSpy.count(), 1, 15000);
    QCOMPARE(harness.stateSpy.at(0).at(0).toBool(), false);
    QCOMPARE(harness.stateSpy.at(0).at(1).toString(), m_sim.address());
    QCOMPARE(harness.stateSpy.at(0).at(2).toInt(), 22);

    // Longer than one reconnection interval: no second attempt, no second report.
    QVERIFY(!harness.stateSpy.wait(11000));
    QCOMPARE(ConnectionLog::count(kAttemptLine), 1);
    QVERIFY(harness.worker()->getSftpChannel().isNull());
}

void TestConnectionReconnect::lostLinkIsRetriedEveryTenSeconds()
{
    WorkerHarness harness(m_sim.address());
    allowReconnectionAfterLogin(harness);
    harness.start();
    QVERIFY(harness.waitReady());
    // Held on to like the window's copy, across the loss.
    const QSharedPointer<QSsh::SftpChannel> firstChannel = harness.worker()->getSftpChannel();
    QVERIFY(firstChannel);

    QVERIFY(m_sim.linkDown());
    QTRY_COMPARE_WITH_TIMEOUT(harness.stateSpy.count(), 2, 45000);
    QCOMPARE(harness.stateSpy.at(1).at(0).toBool(), false);
    QVERIFY(harness.worker()->getSftpChannel().isNull());
    QVERIFY(reconnectTimerActive(harness));

    // The first tick comes 10 s after the loss; every attempt lasts until the next tick and
    // is reported once when it fails.
    QElapsedTimer sinceLastReport;
    sinceLastReport.start();
    for (const qint64 expectedMs : {20000, 10000}) {
        const int reports = harness.stateSpy.count();
        QTRY_COMPARE_WITH_TIMEOUT(harness.stateSpy.count(), reports + 1, expectedMs + 5000);
        const qint64 elapsed = sinceLastReport.restart();
        QVERIFY2(qAbs(elapsed - expectedMs) < 3000,
                 qPrintable(QStringLiteral("report after %1 ms").arg(elapsed)));
        QCOMPARE(harness.stateSpy.last().at(0).toBool(), false);
    }

    QVERIFY(m_sim.linkUp());
    const int reportsWhileDown = harness.stateSpy.count();
    QVERIFY(harness.waitReady(25000));
    // Exactly one true report; failed attempts may have been reported before it.
    QCOMPARE(harness.stateSpy.last().at(0).toBool(), true);
    for (int i = 1; i < harness.stateSpy.count() - 1; ++i)
        QCOMPARE(harness.stateSpy.at(i).at(0).toBool(), false);
    QVERIFY(harness.stateSpy.count() <= reportsWhileDown + 2);

    QCOMPARE(harness.sftpReadySpy.count(), 2);
    const QSharedPointer<QSsh::SftpChannel> secondChannel = harness.worker()->getSftpChannel();
    QVERIFY(secondChannel && secondChannel != firstChannel);
    QVERIFY(!reconnectTimerActive(harness));
    QCOMPARE(countMarkerLines(harness.shell("echo \"BACK\"\"_AGAIN\""), "BACK_AGAIN"), 1);
}

void TestConnectionReconnect::resetConnectionByAddressKey()
{
    WorkerHarness harness(m_sim.address());
    allowReconnectionAfterLogin(harness);
    harness.start();
    QVERIFY(harness.waitReady());
    CConnectionForSshClient *const worker = harness.worker();
    const QString key = harness.key();

    QVERIFY(harness.inWorker([&] {
        for (const QString &wrong : {QLatin1Char(' ') + key, key + QLatin1Char(' '),
                                     key + QLatin1Char('0'), m_sim.address()})
            worker->slotResetConnection(wrong);
    }));
    QCOMPARE(harness.stateSpy.count(), 1);
    QCOMPARE(countMarkerLines(harness.shell("echo \"STILL\"\"_UP\""), "STILL_UP"), 1);

    // The second reset finds the connection down already and reports nothing.
    QVERIFY(harness.inWorker([&] {
        worker->slotResetConnection(key);
        worker->slotResetConnection(key);
    }));
    QCOMPARE(harness.stateSpy.count(), 2);
    QCOMPARE(harness.stateSpy.at(1).at(0).toBool(), false);
    QVERIFY(worker->getSftpChannel().isNull());

    // The reconnection timer brings it back with a new shell and channel.
    QVERIFY(harness.waitReady(15000));
    QCOMPARE(harness.stateSpy.count(), 3);
    QCOMPARE(harness.sftpReadySpy.count(), 2);
    QCOMPARE(countMarkerLines(harness.shell("echo \"UP\"\"_AGAIN\""), "UP_AGAIN"), 1);
}

QTEST_GUILESS_MAIN(TestConnectionReconnect)
#include "tst_connection_reconnect.moc"
