// A shell that ends, or never starts, is a lost connection: reported, then reconnected with a
// new shell and channel; so is an SFTP channel that never starts on a connection that is up.
// Its own executable: each reconnection waits for the 10 s timer.
#include "ControllerSession.h"

#include <QtTest>

class TestConnectionShellEnd : public QObject
{
    Q_OBJECT
private slots:
    void shellEndIsALostConnection_data();
    void shellEndIsALostConnection();

private:
    SimController m_sim;
};

void TestConnectionShellEnd::shellEndIsALostConnection_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("killed") << "killed";
    QTest::newRow("idle logout") << "idle logout";
    QTest::newRow("pty refused") << "pty refused";
    QTest::newRow("sftp start unanswered") << "sftp start unanswered";
}

void TestConnectionShellEnd::shellEndIsALostConnection()
{
    QFETCH(QString, fault);
    SimController::Options options;
    options.idleLogoutSeconds = fault == "idle logout" ? 4 : 0;
    options.refusePty = fault == "pty refused";
    options.sftpHold = fault == "sftp start unanswered";
    CNC_START_SIM(m_sim, options);
    ControllerSession session(m_sim.address());
    if (options.sftpHold)
        QVERIFY(m_sim.holdSftpRequests({"init"}));
    session.start();
    if (fault == "pty refused") {
        // Up, but without a shell: lost at once, and the channel is never offered as ready.
        QTRY_COMPARE_WITH_TIMEOUT(session.stateSpy.count(), 2, 15000);
        QCOMPARE(session.stateSpy.at(0).at(0).toBool(), true);
        QCOMPARE(session.stateSpy.at(1).at(0).toBool(), false);
        QCOMPARE(session.readySpy.count(), 0);
        return;
    }
    if (options.sftpHold) {
        // The shell works and keepalives are answered, but the SFTP server never answers its
        // start: given up within 20 s rather than left without a channel, then tried afresh.
        QTRY_COMPARE_WITH_TIMEOUT(session.stateSpy.count(), 2, 25000);
        QCOMPARE(session.stateSpy.at(1).at(0).toBool(), false);
        QCOMPARE(session.readySpy.count(), 0);
        QVERIFY(m_sim.holdSftpRequests({}));
        QTRY_COMPARE_WITH_TIMEOUT(session.readySpy.count(), 1, 25000);
        QCOMPARE(session.stateSpy.count(), 3);
        QVERIFY(session.stateSpy.last().at(0).toBool());
        return;
    }
    QVERIFY(session.waitReady());
    const QSharedPointer<QSsh::SftpChannel> firstChannel = session.worker()->getSftpChannel();
    if (fault == "killed")
        QVERIFY2(m_sim.endShell(), qPrintable(m_sim.lastError()));
    QTRY_COMPARE_WITH_TIMEOUT(session.stateSpy.count(), 2, 15000);
    QCOMPARE(session.stateSpy.at(1).at(0).toBool(), false);
    QVERIFY(session.worker()->getSftpChannel().isNull());

    QVERIFY(session.waitReady(25000));
    QCOMPARE(session.stateSpy.count(), 3);
    QCOMPARE(session.readySpy.count(), 2);
    const QSharedPointer<QSsh::SftpChannel> secondChannel = session.worker()->getSftpChannel();
    QVERIFY(secondChannel && secondChannel != firstChannel);
    QCOMPARE(countMarkerLines(session.shell("echo \"BACK\"\"_AGAIN\""), "BACK_AGAIN"), 1);
}

QTEST_GUILESS_MAIN(TestConnectionShellEnd)
#include "tst_connection_shellend.moc"
