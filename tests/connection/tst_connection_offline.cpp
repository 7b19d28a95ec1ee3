// Without a controller: quoting of shell arguments and the address test of the keyed slots.
#include "ShellQuoting.h"
#include "WorkerHarness.h"

#include <QProcess>
#include <QTest>

class TestConnectionOffline : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { connectionLog(true); }

    void escapedTextIsOneLiteralShellWord_data();
    void escapedTextIsOneLiteralShellWord();
    void addressKeyMatchesOnlyExactly();
};

void TestConnectionOffline::initTestCase()
{
    captureConnectionLog();
}

void TestConnectionOffline::escapedTextIsOneLiteralShellWord_data()
{
    QTest::addColumn<QString>("text");
    QTest::newRow("plain") << "/home/pi/cnc/part 1.nc";
    QTest::newRow("double quote") << "a\"b";
    QTest::newRow("backslashes") << "a\\b\\\\";
    QTest::newRow("dollar") << "$HOME";
    QTest::newRow("backquote") << "`id`";
    QTest::newRow("history") << "a!!b!";
    QTest::newRow("command substitution") << "$(touch /tmp/owned)";
    QTest::newRow("quote breakout") << "x\" ; touch /tmp/owned ; echo \"";
    QTest::newRow("single quotes and Chinese") << "零件 'a'";
}

// The escaped text goes between double quotes into an interactive bash, as the controller's
// shell is, after a command that history expansion could pull in; the word must come out as
// the text it was made from.
void TestConnectionOffline::escapedTextIsOneLiteralShellWord()
{
    QFETCH(QString, text);

    QProcess bash;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("HISTFILE"), QStringLiteral("/dev/null"));
    bash.setProcessEnvironment(environment);
    bash.start(QStringLiteral("bash"), {"--norc", "--noprofile", "-i"});
    QVERIFY(bash.waitForStarted());
    const QString script = QStringLiteral("echo previous >/dev/null\nprintf '[%s]' \"") +
                           escapeForDoubleQuotes(text) + QStringLiteral("\"\nexit\n");
    bash.write(script.toUtf8());
    bash.closeWriteChannel();
    QVERIFY(bash.waitForFinished(10000));
    QCOMPARE(QString::fromUtf8(bash.readAllStandardOutput()), QLatin1Char('[') + text + ']');
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
