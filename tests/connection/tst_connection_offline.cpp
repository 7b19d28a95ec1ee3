// Without a controller: the address test of the keyed slots.
#include "WorkerHarness.h"

#include <QTest>

class TestConnectionOffline : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { connectionLog(true); }

    void addressKeyMatchesOnlyExactly();
};

void TestConnectionOffline::initTestCase()
{
    captureConnectionLog();
}

// The slots that carry an address key act only on their own key: no trimming, no case folding.
void TestConnectionOffline::addressKeyMatchesOnlyExactly()
{
    CConnectionForSshClient worker(QStringLiteral("Cnc.Local"), 22, QStringLiteral("pw"),
                                   QStringLiteral("root"));
    const QStringList wrongKeys = {"cnc.local:22",  "CNC.LOCAL:22",  " Cnc.Local:22",
                                   "Cnc.Local:22 ", "Cnc.Local:022", "Cnc.Local"};
    for (const QString &wrong : wrongKeys) {
        worker.slotSend(wrong, QStringLiteral("wrong key"));
        worker.slotSendByQByteArray(wrong, QByteArrayLiteral("wrong key"));
        worker.slotResetConnection(wrong);
    }
    QVERIFY(connectionLog().isEmpty());

    const QString key = QStringLiteral("Cnc.Local:22");
    worker.slotSend(key, QStringLiteral("right key"));
    worker.slotSendByQByteArray(key, QByteArrayLiteral("right key"));
    worker.slotResetConnection(key);
    // Each reached its action; with nothing connected the texts are dropped.
    const QStringList expected = {
        "CConnectionForSshClient ssh send right key",
        "CConnectionForSshClient::send() ssh未连接 或 shell未连接: Cnc.Local:22",
        "CConnectionForSshClient::send(QString strMessage) 发送失败 未建立连接: Cnc.Local:22",
        "slotDisconnected() 被调用,IP: Cnc.Local:22", "断开连接完成,自动重连已禁用"};
    QStringList texts;
    for (const LogLine &line : connectionLog())
        texts << line.text;
    QCOMPARE(texts, expected);
}

QTEST_GUILESS_MAIN(TestConnectionOffline)
#include "tst_connection_offline.moc"
