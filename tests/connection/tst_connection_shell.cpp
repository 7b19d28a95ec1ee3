// The remote shell: what is sent, what comes back, and which sends are refused.
#include "SimController.h"
#include "WorkerHarness.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

#include <atomic>

class TestConnectionShell : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { ConnectionLog::clear(); }

    void commandBeforeShellStartIsDropped();
    void outputArrivesInNonEmptyPiecesWithCharactersWhole();
    void addressKeyedSendsActOnlyOnTheExactKey();

private:
    bool existsOnController(const QString &name) const
    {
        return QFileInfo::exists(QDir(m_sim.rootDir()).filePath(name));
    }

    SimController m_sim;
};

void TestConnectionShell::initTestCase()
{
    CNC_REQUIRE_SIM();
    QVERIFY2(m_sim.start(), qPrintable(m_sim.lastError()));
    ConnectionLog::install();
}

// The connection report goes out before the shell has started; a command sent on that report
// is refused and never runs later either.
void TestConnectionShell::commandBeforeShellStartIsDropped()
{
    WorkerHarness harness(m_sim.address());
    CConnectionForSshClient *const worker = harness.worker();
    std::atomic<int> written{-1};
    connect(
        worker, &CConnectionForSshClient::sigConnectStateChanged, worker,
        [&](bool bState) {
            if (bState)
                written = worker->send(QStringLiteral("touch /home/pi/cnc/too_early\n"));
        },
        Qt::DirectConnection);
    harness.start();
    QVERIFY(harness.waitReady());
    QCOMPARE(written.load(), 0);
    QCOMPARE(ConnectionLog::count("CConnectionForSshClient::send() ssh未连接 或 shell未连接: " +
                                  harness.key()),
             1);

    QCOMPARE(countMarkerLines(harness.shell("echo \"SHELL\"\"_READY\""), "SHELL_READY"), 1);
    QVERIFY(!existsOnController("too_early"));
}

// 40000 three-byte characters arrive in many pieces; a piece boundary inside a character
// must not garble it.
void TestConnectionShell::outputArrivesInNonEmptyPiecesWithCharactersWhole()
{
    WorkerHarness harness(m_sim.address());
    harness.start();
    QVERIFY(harness.waitReady());
    const int piecesBefore = harness.dataSpy.count();

    const QString output = harness.shell("printf '零%.0s' $(seq 40000); echo", 30000);
    QVERIFY(harness.dataSpy.count() - piecesBefore > 1);
    for (const auto &piece : qAsConst(harness.dataSpy)) {
        QVERIFY(!piece.at(0).toString().isEmpty());
        QCOMPARE(piece.at(1).toString(), m_sim.address());
        QCOMPARE(piece.at(2).toInt(), 22);
    }
    QVERIFY(output.contains(QString(40000, QChar(0x96F6)) + "\r\n"));
    QVERIFY(!output.contains(QChar::ReplacementCharacter));
}

void TestConnectionShell::addressKeyedSendsActOnlyOnTheExactKey()
{
    WorkerHarness harness(m_sim.address());
    harness.start();
    QVERIFY(harness.waitReady());
    CConnectionForSshClient *const worker = harness.worker();
    const QString key = harness.key();

    const QStringList wrongKeys = {QLatin1Char(' ') + key, key + QLatin1Char(' '),
                                   key + QLatin1Char('\n'), m_sim.address() + ":022"};
    QVERIFY(harness.inWorker([&] {
        for (int i = 0; i < wrongKeys.size(); ++i) {
            worker->slotSend(wrongKeys.at(i),
                             QStringLiteral("touch /home/pi/cnc/text_%1\n").arg(i));
            worker->slotSendByQByteArray(
                wrongKeys.at(i), QStringLiteral("touch /home/pi/cnc/bytes_%1\n").arg(i).toUtf8());
        }
        worker->slotSend(key, QStringLiteral("touch /home/pi/cnc/text_右\n"));
        // Bytes go out unchanged: the name is UTF-8 as given.
        worker->slotSendByQByteArray(key,
                                     QByteArrayLiteral("touch /home/pi/cnc/bytes_\xe5\x8f\xb3\n"));
    }));
    QCOMPARE(countMarkerLines(harness.shell("echo \"SENT\"\"_ALL\""), "SENT_ALL"), 1);

    QVERIFY(existsOnController("text_右"));
    QVERIFY(existsOnController("bytes_右"));
    for (int i = 0; i < wrongKeys.size(); ++i) {
        QVERIFY(!existsOnController(QStringLiteral("text_%1").arg(i)));
        QVERIFY(!existsOnController(QStringLiteral("bytes_%1").arg(i)));
    }
}

QTEST_GUILESS_MAIN(TestConnectionShell)
#include "tst_connection_shell.moc"
