// The worker: the address key of its slots, its thread and its end, the shell, and a
// shell-route command that the shell never got.
#include "WindowTestSupport.h"

#include <QtTest>

#include <atomic>

class TestConnectionWorker : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void slotsOfItsThreadAndAddress();
    void shellKeepsCommandsAndCharactersWhole();
    void shellCommandIsReportedOnlyOnceSent();

private:
    QString onController(const QString &name) const { return m_sim.rootDir() + '/' + name; }

    SimController m_sim;
    QTemporaryDir m_local;
};

void TestConnectionWorker::initTestCase()
{
    CNC_START_SIM(m_sim, {});
}

// The worker works in a thread of its own, with its reconnection timer there; the slots that
// carry an address key act only on their own key, exactly as written, with no trimming; the
// holder calls quitThread and lets go, and the worker and its thread delete themselves.
void TestConnectionWorker::slotsOfItsThreadAndAddress()
{
    ControllerSession session(m_sim.address());
    session.start();
    QVERIFY(session.waitReady() && session.thread != QThread::currentThread());
    QString timer;
    QVERIFY(session.inWorker([&] {
        const QTimer *t = session.worker()->findChild<QTimer *>();
        timer = QStringLiteral("%1 %2 %3")
                    .arg(t->interval())
                    .arg(t->isActive())
                    .arg(t->thread() == QThread::currentThread() && t->thread() == session.thread);
    }));
    QCOMPARE(timer, QStringLiteral("10000 0 1"));

    const QString key = session.key();
    QVERIFY(session.inWorker([&] {
        for (const QString &wrong : {' ' + key, key + ' ', key + '0', key.chopped(2) + "022"}) {
            session.worker()->slotSend(wrong, "echo W\"\"RONG\n");
            session.worker()->slotSendByQByteArray(wrong, "echo W\"\"RONG\n");
            session.worker()->slotResetConnection(wrong);
        }
        session.worker()->slotSend(key, "echo R\"\"IGHT\n");
        session.worker()->slotSendByQByteArray(key, "echo R\"\"IGHT\n");
    }));
    QTRY_COMPARE(countMarkerLines(session.output, "RIGHT"), 2);
    QCOMPARE(countMarkerLines(session.shell("true"), "WRONG") + session.output.count("WRONG"), 0);
    QCOMPARE(session.stateSpy.count(), 1);
    // A second disconnection finds the connection down and reports nothing.
    QVERIFY(session.inWorker([&] {
        session.worker()->slotResetConnection(key);
        session.worker()->slotResetConnection(key);
    }));
    QCOMPARE(session.stateSpy.size(), 2);
    QCOMPARE(session.stateSpy.last().at(0).toBool(), false);

    session.worker()->quitThread();
    QTRY_VERIFY_WITH_TIMEOUT(session.watch.gone && session.thread.isNull(), 10000);
}

void TestConnectionWorker::shellKeepsCommandsAndCharactersWhole()
{
    // The connection report goes out before the shell has started: a command sent on it is
    // refused, and does not run later either.
    ControllerSession session(m_sim.address());
    CConnectionForSshClient *const worker = session.worker();
    std::atomic<int> written{-1};
    connect(
        worker, &CConnectionForSshClient::sigConnectStateChanged, worker,
        [&] { written = worker->send("touch /home/pi/cnc/too_early\n"); }, Qt::DirectConnection);
    session.start();
    QVERIFY(session.waitReady());
    QCOMPARE(written.load(), 0);

    // 40000 three-byte characters come in many pieces; none is empty or garbled at its ends.
    const QString output = session.shell("printf '零%.0s' $(seq 40000); echo", 30000);
    QVERIFY(session.dataSpy.count() > 2);
    for (const auto &piece : qAsConst(session.dataSpy))
        QVERIFY(!piece.at(0).toString().isEmpty());
    QVERIFY(output.contains(QString(40000, QChar(0x96F6)) + "\r\n"));
    QVERIFY(!output.contains(QChar::ReplacementCharacter));
    QVERIFY(!QFile::exists(onController("too_early")));
    // The terminal is wide enough that the line editor does not wrap a long command line.
    const QString line = QString("abcdefghi0").repeated(40);
    QVERIFY(session.shell("echo " + line).contains("echo " + line + "; echo"));
}

// With no SFTP channel ready, a delete takes the shell route; its command counts as done only
// once it went out: the shell closed before it is reported as such, and nothing is deleted.
void TestConnectionWorker::shellCommandIsReportedOnlyOnceSent()
{
    QVERIFY(writeFile(onController("发送.nc"), "") && writeFile(onController("未发送.nc"), ""));
    ControllerSession session(m_sim.address());
    session.start();
    QVERIFY(session.waitReady());
    QVERIFY(session.inWorker([&] {
        session.worker()->getSftpChannel()->closeChannel();
        session.worker()->slotDeleteRemotePath("/home/pi/cnc/发送.nc", "file");
    }));
    QTRY_COMPARE_WITH_TIMEOUT(session.jobSpy.count(), 1, 10000);
    QCOMPARE(session.jobSpy.at(0), (QVariantList{1u, QString()}));
    QTRY_COMPARE_WITH_TIMEOUT(countMarkerLines(session.output, "DELETE_SUCCESS"), 1, 10000);
    QVERIFY(!QFile::exists(onController("发送.nc")));

    QVERIFY(session.inWorker([&] {
        session.worker()->slotDeleteRemotePath("/home/pi/cnc/未发送.nc", "file");
        session.worker()->slotResetConnection(session.key());
    }));
    QCOMPARE(session.jobSpy.count(), 2);
    QCOMPARE(session.jobSpy.at(1),
             (QVariantList{1u, "Shell command not sent: the remote shell is closed."}));
    QVERIFY(QFile::exists(onController("未发送.nc")));
}

QTEST_GUILESS_MAIN(TestConnectionWorker)
#include "tst_connection_worker.moc"
