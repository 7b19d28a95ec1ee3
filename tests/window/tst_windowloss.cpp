// The cable pulled while an upload runs: the window shows the loss, the upload fails and the
// controller keeps its file; while the cable is out the worker tries every 10 s, and the cable
// back brings the connection, a new channel and the window back and clears what the upload
// left on the controller. Its own executable: it waits for the worker's timer.
#include "DropEvents.h"
#include "ModalAnswerer.h"
#include "WindowTestSupport.h"

#include <QtTest>

class TestWindowLoss : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void pulledCableDuringAnUpload();

private:
    SimController m_sim;
};

void TestWindowLoss::initTestCase()
{
    setSetting("language", "en");
    CNC_START_SIM(m_sim, {});
}

void TestWindowLoss::cleanupTestCase()
{
    m_sim.linkUp();
    QFile::remove(settingsPath());
}

void TestWindowLoss::pulledCableDuringAnUpload()
{
    const QDir root(m_sim.rootDir());
    const QByteArray oldRemote = randomBytes(4096, 7);
    QTemporaryDir local;
    QVERIFY(writeFile(root.filePath("up.bin"), oldRemote) &&
            writeRandomFile(local.filePath("up.bin"), 32 * 1024 * 1024));
    ControllerSession session(m_sim.address());
    mainwindow &window = session.open();
    QVERIFY(session.waitListed(root.entryList(QDir::AllEntries | QDir::NoDotAndDotDot)));
    const QSharedPointer<QSsh::SftpChannel> firstChannel = session.worker()->getSftpChannel();
    // Slow enough that the upload is still on its way when the cable is pulled: the upload's
    // data is what the controller receives, so both ends of the link are limited.
    QVERIFY2(m_sim.setLinkRate("2mbit"), qPrintable(m_sim.lastError()));
    int mark = session.logSize();
    ModalAnswerer answer;
    answer.answerPrompts({"replace"});
    QVERIFY(dropUrls(&window, {QUrl::fromLocalFile(local.filePath("up.bin"))}));
    const auto leftovers = [&] {
        return root.entryInfoList({".up.bin.part-*"}, QDir::Files | QDir::Hidden);
    };
    QVERIFY(QTest::qWaitFor([&] { return leftovers().value(0).size() > 0; }, 20000));
    QVERIFY2(m_sim.linkDown(), qPrintable(m_sim.lastError()));
    QElapsedTimer clock;
    clock.start();

    // Noticed within 20 s: the upload fails, and the controller's file is as it was.
    QTRY_VERIFY_WITH_TIMEOUT(session.logSince(mark).contains("Connection lost."), 25000);
    QVERIFY2(clock.restart() < 20000, "the loss went unnoticed for 20 s");
    QCOMPARE(window.windowTitle(), QStringLiteral("CNC Controller File Manager - Reconnecting..."));
    QVERIFY(window.findChild<QLabel *>("m_statusIndicator")->styleSheet().contains("#ff0000"));
    QVERIFY(!button(window, "m_btnRefresh")->isEnabled() && !fileButtonsEnabled(window));
    QVERIFY(!window.findChild<QWidget *>("m_progressLine")->isVisible());
    QVERIFY(session.worker()->getSftpChannel().isNull());
    QTRY_COMPARE_WITH_TIMEOUT(session.logSince(mark).filter("failed: ").size(), 1, 5000);
    QCOMPARE(readFile(root.filePath("up.bin")), oldRemote);

    // A new worker whose first attempt fails, as the login dialog leaves it: one report, and
    // no second attempt. The window's worker tries 10 s after the loss, each attempt lasting
    // until the next try, and each failure told once.
    ControllerSession first(m_sim.address());
    first.start();
    for (const qint64 expectedMs : {20000, 10000}) {
        const int lost = session.logSince(mark).count("Connection lost.");
        QTRY_COMPARE_WITH_TIMEOUT(session.logSince(mark).count("Connection lost."), lost + 1,
                                  expectedMs + 5000);
        const qint64 elapsed = clock.restart();
        QVERIFY2(qAbs(elapsed - expectedMs) < 3000, qPrintable(QString::number(elapsed)));
    }
    QCOMPARE(first.stateSpy, (QList<QVariantList>{{false, m_sim.address(), 22}}));

    // The cable back: the next attempt restores the connection; a new channel brings the
    // buttons and a listing back, and the upload's leftover goes.
    QVERIFY2(m_sim.setLinkRate(QString()), qPrintable(m_sim.lastError()));
    mark = session.logSize();
    QVERIFY2(m_sim.linkUp(), qPrintable(m_sim.lastError()));
    QTRY_VERIFY_WITH_TIMEOUT(fileButtonsEnabled(window), 30000);
    QCOMPARE(session.logSince(mark),
             QStringList({"Connection to " + m_sim.address() + " has been restored.",
                          "Waiting for SFTP channel to initialize...", "SFTP channel is ready."}));
    QCOMPARE(window.windowTitle(), "CNC Controller File Manager - Connected to " + m_sim.address());
    QVERIFY(session.worker()->getSftpChannel() != firstChannel);
    QTRY_VERIFY_WITH_TIMEOUT(
        logLines(window).mid(mark).contains("Refreshing remote directory: " + kRootDir), 10000);
    QVERIFY(session.waitListed(root.entryList(QDir::AllEntries | QDir::NoDotAndDotDot)));
    QTRY_VERIFY(leftovers().isEmpty());
    // The window works with the new channel.
    answer.answerPrompts({"replace"});
    QVERIFY(dropUrls(&window, {QUrl::fromLocalFile(local.filePath("up.bin"))}));
    QTRY_VERIFY_WITH_TIMEOUT(
        fileHash(root.filePath("up.bin")) == fileHash(local.filePath("up.bin")), 30000);
    QCOMPARE(first.stateSpy.size(), 1);
}

QTEST_MAIN(TestWindowLoss)
#include "tst_windowloss.moc"
