// What the worker does without a controller: quoting of shell arguments, the address test of
// the address-keyed slots, and the answers to requests while nothing is connected.
#include "ShellQuoting.h"
#include "WorkerHarness.h"

#include <QProcess>
#include <QTest>

class TestConnectionOffline : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { ConnectionLog::clear(); }

    void escapedTextIsOneLiteralShellWord_data();
    void escapedTextIsOneLiteralShellWord();
    void addressKeyMatchesOnlyExactly();
    void requestsWhileDisconnectedGetTheNotReadyReply();
};

void TestConnectionOffline::initTestCase()
{
    ConnectionLog::install();
}

void TestConnectionOffline::escapedTextIsOneLiteralShellWord_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("escaped");

    QTest::newRow("plain") << "/home/pi/cnc/part 1.nc"
                           << "/home/pi/cnc/part 1.nc";
    QTest::newRow("double quote") << "a\"b"
                                  << "a\\\"b";
    QTest::newRow("backslash") << "a\\b\\"
                               << "a\\\\b\\\\";
    QTest::newRow("dollar") << "$HOME"
                            << "\\$HOME";
    QTest::newRow("backquote") << "`id`"
                               << "\\`id\\`";
    QTest::newRow("history") << "a!!b"
                             << "a\"'!'\"\"'!'\"b";
    QTest::newRow("command substitution") << "$(touch /tmp/owned)"
                                          << "\\$(touch /tmp/owned)";
    QTest::newRow("quote breakout") << "x\" ; touch /tmp/owned ; echo \""
                                    << "x\\\" ; touch /tmp/owned ; echo \\\"";
    QTest::newRow("single quotes and Chinese") << "零件 'a'"
                                               << "零件 'a'";
}

// The escaped text goes between double quotes into an interactive bash, as the controller's
// shell is, after a command that history expansion could pull in; the word must come out as
// the text it was made from.
void TestConnectionOffline::escapedTextIsOneLiteralShellWord()
{
    QFETCH(QString, text);
    QFETCH(QString, escaped);
    QCOMPARE(escapeForDoubleQuotes(text), escaped);

    QProcess bash;
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
    CConnectionForSshClient worker(QStringLiteral("Cnc.Local"), 22, WorkerHarness::kPassword,
                                   QStringLiteral("root"));
    const QStringList wrongKeys = {"cnc.local:22",  "CNC.LOCAL:22",  " Cnc.Local:22",
                                   "Cnc.Local:22 ", "Cnc.Local:022", "Cnc.Local"};
    for (const QString &wrong : wrongKeys) {
        worker.slotSend(wrong, QStringLiteral("wrong key"));
        worker.slotSendByQByteArray(wrong, QByteArrayLiteral("wrong key"));
        worker.slotResetConnection(wrong);
    }
    QCOMPARE(ConnectionLog::lines().size(), 0);

    worker.slotSend(QStringLiteral("Cnc.Local:22"), QStringLiteral("right key"));
    worker.slotSendByQByteArray(QStringLiteral("Cnc.Local:22"), QByteArrayLiteral("right key"));
    worker.slotResetConnection(QStringLiteral("Cnc.Local:22"));
    QCOMPARE(ConnectionLog::count("CConnectionForSshClient ssh send right key"), 1);
    // Nothing is connected, so the text is dropped.
    QCOMPARE(ConnectionLog::count("CConnectionForSshClient::send() ssh未连接 或 shell未连接: "
                                  "Cnc.Local:22"),
             1);
    QCOMPARE(ConnectionLog::count("CConnectionForSshClient::send(QString strMessage) 发送失败 "
                                  "未建立连接: Cnc.Local:22"),
             1);
    QCOMPARE(ConnectionLog::count("slotDisconnected() 被调用,IP: Cnc.Local:22"), 1);
}

void TestConnectionOffline::requestsWhileDisconnectedGetTheNotReadyReply()
{
    CConnectionForSshClient worker(QStringLiteral("127.0.0.1"), 22, WorkerHarness::kPassword,
                                   QStringLiteral("root"));
    worker.quitThread(); // before init: nothing to quit
    QVERIFY(worker.getSftpChannel().isNull());

    QSignalSpy jobs(&worker, &CConnectionForSshClient::sftpJobFinished);
    worker.slotUploadFile(QStringLiteral("/tmp/a"), QStringLiteral("/home/pi/cnc/a"));
    worker.slotDownloadFile(QStringLiteral("/home/pi/cnc/a"), QStringLiteral("/tmp/a"));
    // Non-ASCII paths would take the shell route once connected; not while disconnected.
    worker.slotDeleteRemotePath(QStringLiteral("/home/pi/cnc/零件"), QStringLiteral("dir"));
    worker.slotCreateRemoteFolder(QStringLiteral("/home/pi/cnc/新建"));

    QCOMPARE(jobs.count(), 4);
    for (const auto &job : jobs) {
        QCOMPARE(job.at(0).value<QSsh::SftpJobId>(), QSsh::SftpInvalidJob);
        QCOMPARE(job.at(1).toString(), QStringLiteral("SFTP channel not ready."));
    }
    const QStringList warnings = {
        "SFTP channel not ready for upload, job aborted in worker thread.",
        "SFTP channel not ready for download, job aborted in worker thread.",
        "SFTP channel not ready for deletion, job aborted in worker thread.",
        "SFTP channel not ready for folder creation, job aborted in worker thread."};
    for (const QString &warning : warnings)
        QCOMPARE(ConnectionLog::count(warning), 1);
    QCOMPARE(ConnectionLog::lines().size(), warnings.size()); // no shell command was tried
}

QTEST_GUILESS_MAIN(TestConnectionOffline)
#include "tst_connection_offline.moc"
