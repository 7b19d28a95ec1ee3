// The main window together with a real connection worker: the title it takes from the
// worker, the wiring in both directions, and the end of the worker's life.
#include "CConnectionForSshClient.h"
#include "DeathWatch.h"
#include "SimController.h"
#include "WindowTestSupport.h"
#include "mainwindow.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardItemModel>
#include <QtTest>

using namespace WindowTestSupport;

namespace {

const QString kPassword = SimController::rootPassword();
const QString kRoot = QStringLiteral("/home/pi/cnc/");
const char *const kFileButtons[] = {"m_btnUpload", "m_btnDownload", "m_btnNewFolder", "m_btnDelete",
                                    "m_btnRefresh"};

int logCount(const QWidget &window, const QString &text)
{
    return logText(window).count(text);
}

int logCount(const QWidget &window, const QRegularExpression &pattern)
{
    int count = 0;
    auto matches = pattern.globalMatch(logText(window));
    for (; matches.hasNext(); matches.next())
        ++count;
    return count;
}

bool allFileButtonsEnabled(const QWidget &window, bool enabled)
{
    for (const char *name : kFileButtons) {
        if (window.findChild<QPushButton *>(QLatin1String(name))->isEnabled() != enabled)
            return false;
    }
    return true;
}

} // namespace

class TestMainWindowWorker : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();

    void titleNamesTheAddressUpToItsFirstColon_data();
    void titleNamesTheAddressUpToItsFirstColon();
    void requestsReachTheWorkerAndItsReportsComeBack();
    void workerThatIsAlreadyGoneIsNotTouched();
    void drivesAWorkerConnectedToTheController();

private:
    SimController m_sim;
};

void TestMainWindowWorker::initTestCase()
{
    QFile::remove(settingsPath());
}

void TestMainWindowWorker::cleanupTestCase()
{
    QFile::remove(settingsPath());
}

void TestMainWindowWorker::titleNamesTheAddressUpToItsFirstColon_data()
{
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("shown");
    QTest::newRow("plain") << QStringLiteral("127.0.0.1") << QStringLiteral("127.0.0.1");
    QTest::newRow("with port") << QStringLiteral("127.0.0.1:2222") << QStringLiteral("127.0.0.1");
    QTest::newRow("leading colon") << QStringLiteral(":1") << QString();
}

void TestMainWindowWorker::titleNamesTheAddressUpToItsFirstColon()
{
    QFETCH(QString, ip);
    QFETCH(QString, shown);

    // Never started: the worker opens nothing and stays in this thread.
    QScopedPointer<CConnectionForSshClient> worker(
        new CConnectionForSshClient(ip, 22, kPassword, QStringLiteral("root")));
    mainwindow window(worker.data());
    QCOMPARE(window.windowTitle(), QStringLiteral("CNC控制器文件管理 - 已连接到 ") + shown);
    QCOMPARE(logText(window), QString());

    window.findChild<QPushButton *>(QStringLiteral("m_btnLanguage"))->click();
    QCOMPARE(window.windowTitle(),
             QStringLiteral("CNC Controller File Manager - Connected to ") + shown);
    window.findChild<QPushButton *>(QStringLiteral("m_btnLanguage"))->click();
}

void TestMainWindowWorker::requestsReachTheWorkerAndItsReportsComeBack()
{
    // A worker without a connection refuses every file request with a job report; the
    // refusal shows that the request arrived and that the report found its way back.
    QScopedPointer<CConnectionForSshClient> worker(new CConnectionForSshClient(
        QStringLiteral("127.0.0.1"), 22, kPassword, QStringLiteral("root")));
    mainwindow window(worker.data());
    const QString refused = QStringLiteral("SFTP任务 0 失败: SFTP channel not ready.");

    emit window.sigUploadFile(QStringLiteral("/tmp/a.nc"), kRoot + QLatin1String("a.nc"));
    QTRY_COMPARE(logCount(window, refused), 1);
    emit window.sigDownloadFile(kRoot + QLatin1String("a.nc"), QStringLiteral("/tmp/a.nc"));
    QTRY_COMPARE(logCount(window, refused), 2);
    emit window.sigDeleteRemotePath(kRoot + QLatin1String("a.nc"), QStringLiteral("file"));
    QTRY_COMPARE(logCount(window, refused), 3);
    emit window.sigCreateRemoteFolder(kRoot + QLatin1String("new"));
    QTRY_COMPARE(logCount(window, refused), 4);

    // The worker's other reports.
    emit worker->sigConnectStateChanged(false, worker->m_strIp, worker->m_nPort);
    QCOMPARE(logCount(window, QStringLiteral("连接已断开。")), 1);
    emit worker->sigDataArrived(QStringLiteral("CREATE_FAILED\r\n"), worker->m_strIp,
                                worker->m_nPort);
    QCOMPARE(logCount(window, QStringLiteral("新建文件夹操作失败")), 1);
    emit worker->sftpChannelInitialized();
    QCOMPARE(logCount(window, QStringLiteral("SFTP通道准备就绪。")), 1);
    QVERIFY(allFileButtonsEnabled(window, true));
}

void TestMainWindowWorker::workerThatIsAlreadyGoneIsNotTouched()
{
    // Port 1 on loopback refuses at once; the worker only has to live in its thread.
    auto *worker = new CConnectionForSshClient(QStringLiteral("127.0.0.1"), 1, kPassword,
                                               QStringLiteral("root"));
    DeathWatch watch(worker);
    worker->init();
    {
        mainwindow window(worker);
        // Somebody else ends the worker's thread first; the worker deletes itself.
        worker->quitThread();
        QTRY_VERIFY_WITH_TIMEOUT(watch.gone, 15000);
    } // the window's destructor must not reach the deleted worker
}

void TestMainWindowWorker::drivesAWorkerConnectedToTheController()
{
    CNC_REQUIRE_SIM();
    QVERIFY2(m_sim.start(), qPrintable(m_sim.lastError()));
    {
        QFile probe(QDir(m_sim.rootDir()).filePath(QStringLiteral("probe.nc")));
        QVERIFY(probe.open(QIODevice::WriteOnly));
        probe.write("G0 X0 Y0\n");
    }

    // What the login dialog does: start the worker and allow reconnection once it is in.
    auto *worker =
        new CConnectionForSshClient(m_sim.address(), 22, kPassword, QStringLiteral("root"));
    DeathWatch watch(worker);
    bool channelReady = false;
    connect(worker, &CConnectionForSshClient::sigConnectStateChanged, &watch.context,
            [worker](bool bState) {
                if (bState)
                    worker->m_bAutoReconnect = true;
            });
    connect(worker, &CConnectionForSshClient::sftpChannelInitialized, &watch.context,
            [&channelReady] { channelReady = true; });
    worker->init();
    QTRY_VERIFY_WITH_TIMEOUT(channelReady, 20000);

    auto window = std::make_unique<mainwindow>(worker);
    QCOMPARE(window->windowTitle(),
             QStringLiteral("CNC控制器文件管理 - 已连接到 ") + m_sim.address());
    // The channel was ready before the window existed: the window takes it over at once.
    QCOMPARE(logCount(*window, QStringLiteral("SFTP通道准备就绪。")), 1);
    QVERIFY(allFileButtonsEnabled(*window, true));

    // The first listing: a command out through sigSend, the output back through sigDataArrived.
    auto *model = window->findChild<QStandardItemModel *>(QStringLiteral("m_model"));
    QTRY_VERIFY_WITH_TIMEOUT(!model->findItems(QStringLiteral("probe.nc")).isEmpty(), 15000);

    // Connection loss and restoration: the shell ends its own SSH session process, which
    // drops the connection; the worker reconnects 10 s later.
    emit window->sigSend(QStringLiteral("kill -9 $PPID\n"));
    QTRY_COMPARE_WITH_TIMEOUT(logCount(*window, QStringLiteral("连接已断开。")), 1, 15000);
    QCOMPARE(window->windowTitle(), QStringLiteral("CNC控制器文件管理 - 重新连接中..."));
    QVERIFY(allFileButtonsEnabled(*window, false));
    QTRY_VERIFY_WITH_TIMEOUT(
        logCount(*window, QStringLiteral("与 %1 的连接已恢复。").arg(m_sim.address())) == 1, 30000);
    QCOMPARE(window->windowTitle(),
             QStringLiteral("CNC控制器文件管理 - 已连接到 ") + m_sim.address());
    QTRY_COMPARE_WITH_TIMEOUT(logCount(*window, QStringLiteral("SFTP通道准备就绪。")), 2, 15000);
    QVERIFY(allFileButtonsEnabled(*window, true));

    // The controller reinstalled under the window: every reconnection attempt is refused
    // before the password is sent, the reason is told once, and the indicator stays red.
    QVERIFY2(m_sim.renewHostKeys(), qPrintable(m_sim.lastError()));
    const int passwords = m_sim.sshdCounts().passwords;
    const int lost = logCount(*window, QStringLiteral("连接已断开。"));
    emit window->sigSend(QStringLiteral("kill -9 $PPID\n"));
    const QRegularExpression refused(
        QStringLiteral("拒绝连接 %1: 它出示的主机密钥为 ED25519 SHA256:\\S+，而非 \\S+known_hosts "
                       "第 1 行记录的 ED25519 SHA256:\\S+。密码未发送。")
            .arg(QRegularExpression::escape(m_sim.address())));
    QTRY_COMPARE_WITH_TIMEOUT(logCount(*window, refused), 1, 30000);
    // Two more attempts, refused as well.
    QTRY_VERIFY_WITH_TIMEOUT(logCount(*window, QStringLiteral("连接已断开。")) >= lost + 3, 30000);
    QCOMPARE(logCount(*window, refused), 1);
    QCOMPARE(window->findChild<QLabel *>(QStringLiteral("m_statusIndicator"))->styleSheet(),
             QStringLiteral("QLabel{background-color:#ff0000;border-radius:6px;}"));
    QCOMPARE(window->windowTitle(), QStringLiteral("CNC控制器文件管理 - 重新连接中..."));
    QCOMPARE(m_sim.sshdCounts().passwords, passwords);

    // Closing the window ends the worker's thread, and the worker deletes itself.
    window.reset();
    QTRY_VERIFY_WITH_TIMEOUT(watch.gone, 15000);
}

QTEST_MAIN(TestMainWindowWorker)
#include "tst_mainwindow_worker.moc"
