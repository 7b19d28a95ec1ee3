// The worker's thread: where it runs, and that it and its thread go away by themselves.
#include "SimController.h"
#include "WorkerHarness.h"

#include <QPointer>
#include <QTest>
#include <QThread>
#include <QTimer>

class TestConnectionLifecycle : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { ConnectionLog::clear(); }

    void workerRunsInItsOwnThread();
    void workerAndThreadDeleteThemselves_data();
    void workerAndThreadDeleteThemselves();

private:
    SimController m_sim;
};

void TestConnectionLifecycle::initTestCase()
{
    CNC_REQUIRE_SIM();
    QVERIFY2(m_sim.start(), qPrintable(m_sim.lastError()));
    ConnectionLog::install();
}

void TestConnectionLifecycle::workerRunsInItsOwnThread()
{
    WorkerHarness harness(m_sim.address());
    harness.start();
    QThread *const workerThread = harness.worker()->thread();
    QVERIFY(workerThread != QThread::currentThread());
    QVERIFY(harness.waitReady());

    // The first attempt, made by slotInitForClild, wrote its lines in the worker thread.
    const auto lines = ConnectionLog::lines();
    const auto attempt = std::find_if(lines.cbegin(), lines.cend(), [](const auto &line) {
        return line.text == "CConnectionForSshClient::slotCreateConnection检查连接";
    });
    QVERIFY(attempt != lines.cend());
    QCOMPARE(attempt->thread, workerThread);

    // The reconnection timer belongs to the worker and to its thread, waiting to be started.
    bool found = false, active = true, singleShot = true;
    int interval = 0;
    QThread *timerThread = nullptr;
    QVERIFY(harness.inWorker([&] {
        const QTimer *timer = harness.worker()->findChild<QTimer *>();
        found = timer != nullptr;
        if (found) {
            active = timer->isActive();
            singleShot = timer->isSingleShot();
            interval = timer->interval();
            timerThread = timer->thread();
        }
    }));
    QVERIFY(found);
    QCOMPARE(timerThread, workerThread);
    QCOMPARE(interval, 10000);
    QVERIFY(!singleShot);
    QVERIFY(!active);
}

void TestConnectionLifecycle::workerAndThreadDeleteThemselves_data()
{
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("loggedIn");
    QTest::newRow("after a failed login") << "wrong password" << false;
    QTest::newRow("while connected") << WorkerHarness::kPassword << true;
}

// The holder calls quitThread and lets go; nobody deletes the worker or its thread.
void TestConnectionLifecycle::workerAndThreadDeleteThemselves()
{
    QFETCH(QString, password);
    QFETCH(bool, loggedIn);

    WorkerHarness harness(m_sim.address(), password);
    harness.start();
    const QPointer<QThread> workerThread = harness.worker()->thread();
    QSignalSpy threadDestroyed(workerThread.data(), &QObject::destroyed);
    if (loggedIn)
        QVERIFY(harness.waitReady());
    else
        QTRY_COMPARE_WITH_TIMEOUT(harness.stateSpy.count(), 1, 15000);
    QCOMPARE(harness.stateSpy.last().at(0).toBool(), loggedIn);

    harness.worker()->quitThread();
    QTRY_VERIFY_WITH_TIMEOUT(harness.workerDestroyed(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(threadDestroyed.count(), 1, 10000);
    QVERIFY(workerThread.isNull());

    // The worker went in its own thread, after the connection it owned.
    const auto lines = ConnectionLog::lines();
    const auto destroyed = std::find_if(lines.cbegin(), lines.cend(), [](const auto &line) {
        return line.text == "CConnectionForSshClient destroyed";
    });
    QVERIFY(destroyed != lines.cend());
    QVERIFY(destroyed->thread != QThread::currentThread());
    QCOMPARE(ConnectionLog::count("CConnectionForSshClient destroyed"), 1);
}

QTEST_GUILESS_MAIN(TestConnectionLifecycle)
#include "tst_connection_lifecycle.moc"
