// An upload cut off by a pulled cable while it renamed the file aside is set right once the
// cable is back, and the log says what the file holds. Its own executable: it waits for the
// worker's reconnection timer, side by side with the other tests.
#include "DropEvents.h"
#include "ModalAnswerer.h"
#include "WindowTestSupport.h"

#include <QtTest>

class TestWindowRecovery : public QObject
{
    Q_OBJECT
private slots:
    void cleanupTestCase();
    void pulledCableWhileAnUploadReplacesTheFile_data();
    void pulledCableWhileAnUploadReplacesTheFile();

private:
    SimController m_sim;
};

void TestWindowRecovery::cleanupTestCase()
{
    m_sim.linkUp();
    QFile::remove(settingsPath());
}

void TestWindowRecovery::pulledCableWhileAnUploadReplacesTheFile_data()
{
    // The request the controller holds back when the cable goes, and whether the file holds
    // its old content once the window is back (else the new one).
    QTest::addColumn<QString>("held");
    QTest::addColumn<bool>("old");
    QTest::newRow("old file aside, name free") << "rename+1" << true;
    QTest::newRow("new file in place, old aside") << "remove" << false;
}

// A controller that opens no command channel (a shell and one SFTP session are all it allows)
// and whose SFTP server offers no one-request replacement: the upload renames the file aside, the new one into its
// place, and removes the old. Once connected again, the worker sets right what the lost cable
// left halfway before the window works again, and the log says what the file now holds.
void TestWindowRecovery::pulledCableWhileAnUploadReplacesTheFile()
{
    QFETCH(QString, held);
    QFETCH(bool, old);
    setSetting("language", "en");
    SimController::Options options;
    options.sftpHold = true;
    options.maxSessions = 2;
    CNC_START_SIM(m_sim, options);
    QVERIFY(m_sim.offerSftpExtensions(false));
    const QDir root(m_sim.rootDir());
    const QString target = root.filePath("cut.nc");
    QTemporaryDir local;
    const QString source = local.filePath("cut.nc");
    QVERIFY(writeFile(target, randomBytes(4096, 3)) && writeRandomFile(source, 65536));
    const QByteArray expected = fileHash(old ? target : source);
    ControllerSession session(m_sim.address());
    mainwindow &window = session.open();
    QVERIFY(session.waitListed(root.entryList(QDir::AllEntries | QDir::NoDotAndDotDot)));
    QVERIFY(m_sim.holdSftpRequests({held}));
    const int mark = session.logSize();
    ModalAnswerer answer;
    answer.answerPrompts({"replace"});
    QVERIFY(dropUrls(&window, {QUrl::fromLocalFile(source)}));
    QTRY_COMPARE_WITH_TIMEOUT(m_sim.heldSftpRequest(), held.section('+', 0, 0), 20000);
    QVERIFY2(m_sim.linkDown(), qPrintable(m_sim.lastError()));
    QTRY_VERIFY_WITH_TIMEOUT(session.logSince(mark).contains("Connection lost."), 25000);
    // The held request went with the cable: it never reaches the SFTP server.
    QCOMPARE(m_sim.exec({"bash", "-c", "pkill --ns $$ --nslist net -f sftp-relay"}), 0);
    QVERIFY(m_sim.holdSftpRequests({}));
    QVERIFY2(m_sim.linkUp(), qPrintable(m_sim.lastError()));

    QTRY_VERIFY_WITH_TIMEOUT(fileButtonsEnabled(window), 30000);
    QVERIFY2(
        session.logSince(mark).contains(
            "The upload of /home/pi/cnc/cut.nc was cut off by the lost connection while it "
            "replaced the file; " +
            QString(old ? "the previous file has been put back." : "the new file is in place.")),
        qPrintable(session.logSince(mark).join('\n')));
    QCOMPARE(fileHash(target), expected);
    QCOMPARE(strayTemporaries(root.path()), QStringList());
}

QTEST_MAIN(TestWindowRecovery)
#include "tst_windowrecovery.moc"
