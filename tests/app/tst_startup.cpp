#include "CConnectionForSshClient.h"
#include "LoginDialog.h"
#include "OpenSshKeys.h"
#include "TestCaseSim.h"
#include "isEnglish.h"
#include "mainwindow.h"
#include "runApplication.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTextEdit>
#include <QTimer>

#include <functional>

namespace {

QString appFile(const char *name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(name);
}

void removeAppFiles()
{
    QFile::remove(appFile("settings.ini"));
    QFile::remove(appFile("en.txt"));
    QDir().rmdir(appFile("en.txt"));
    QFile::remove(appFile("known_hosts"));
}

// Calls step() every few milliseconds, also inside the modal loops that runApplication starts.
class Poller
{
public:
    explicit Poller(std::function<void()> step)
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, std::move(step));
        m_timer.start();
    }

private:
    QTimer m_timer;
};

template <typename T> T *visibleTopLevel()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *found = qobject_cast<T *>(widget); found && found->isVisible())
            return found;
    }
    return nullptr;
}

} // namespace

class tst_Startup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void isEnglishLooksAtMarkerEveryTime();
    void cancelledLoginExitsWithZero();
    void loginThenClosingWindowExitsCleanly_data();
    void loginThenClosingWindowExitsCleanly();

private:
    TestCaseSim m_sim;
};

void tst_Startup::initTestCase()
{
    m_sim.start();
}

void tst_Startup::cleanupTestCase()
{
    m_sim.stop();
}

void tst_Startup::init()
{
    removeAppFiles();
}

void tst_Startup::cleanup()
{
    removeAppFiles();
}

void tst_Startup::isEnglishLooksAtMarkerEveryTime()
{
    QVERIFY(!isEnglish());
    QFile marker(appFile("en.txt"));
    QVERIFY(marker.open(QIODevice::WriteOnly));
    marker.close();
    QVERIFY(isEnglish()); // an empty file counts
    QVERIFY(QFile::remove(marker.fileName()));
    QVERIFY(!isEnglish());
    QVERIFY(QDir().mkdir(marker.fileName())); // so does any entry of that name
    QVERIFY(isEnglish());
}

void tst_Startup::cancelledLoginExitsWithZero()
{
    bool sawDialog = false;
    bool sawWindow = false;
    Poller poller([&] {
        sawWindow = sawWindow || visibleTopLevel<mainwindow>();
        if (auto *dialog = qobject_cast<LoginDialog *>(QApplication::activeModalWidget())) {
            sawDialog = true;
            dialog->close();
        }
    });
    QCOMPARE(runApplication(*qApp), 0);
    QVERIFY(sawDialog);
    QVERIFY(!sawWindow);
}

void tst_Startup::loginThenClosingWindowExitsCleanly_data()
{
    QTest::addColumn<bool>("marker");
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("dialogTitle");
    QTest::addColumn<QString>("windowTitle");
    QTest::addColumn<QString>("keyRecorded");

    // The dialog follows the marker file only, the window the settings key only (whose exact
    // comparison tst_mainwindow covers). The key that the login recorded is told in the
    // window's log.
    QTest::newRow("marker, no settings")
        << true << QString() << "Connect to Controller"
        << QStringLiteral("CNC控制器文件管理 - 已连接到 %1")
        << QStringLiteral("已记录控制器主机密钥: %1 %2 (记录于 %3)");
    QTest::newRow("no marker, language en") << false << "en" << QStringLiteral("连接到控制器")
                                            << "CNC Controller File Manager - Connected to %1"
                                            << "Controller host key recorded: %1 %2 (in %3)";
}

void tst_Startup::loginThenClosingWindowExitsCleanly()
{
    CNC_REQUIRE_TEST_CASE_SIM(m_sim);
    QFETCH(bool, marker);
    QFETCH(QString, language);
    QFETCH(QString, dialogTitle);
    QFETCH(QString, windowTitle);
    QFETCH(QString, keyRecorded);

    if (marker) {
        QFile file(appFile("en.txt"));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    if (!language.isNull())
        QSettings(appFile("settings.ini"), QSettings::IniFormat)
            .setValue(QStringLiteral("language"), language);

    const QString address = m_sim->address();
    QPointer<CConnectionForSshClient> worker;
    QString seenDialogTitle;
    QString seenWindowTitle;
    QString seenLog;
    QString failure;
    bool attempted = false;
    Poller poller([&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            failure = box->text();
            box->reject();
        } else if (auto *dialog = qobject_cast<LoginDialog *>(modal)) {
            auto *button = dialog->findChild<QPushButton *>(QStringLiteral("m_connectButton"));
            if (attempted) {
                if (button->isEnabled())
                    dialog->close(); // the attempt failed: end the run
                return;
            }
            attempted = true;
            seenDialogTitle = dialog->windowTitle();
            dialog->findChild<QLineEdit *>(QStringLiteral("m_ipEdit"))->setText(address);
            button->click();
            worker = dialog->connectionWorker();
        } else if (auto *window = visibleTopLevel<mainwindow>()) {
            seenWindowTitle = window->windowTitle();
            seenLog = window->findChild<QTextEdit *>(QStringLiteral("m_logEdit"))->toPlainText();
            window->close();
        }
    });

    QCOMPARE(runApplication(*qApp), 0);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QCOMPARE(seenDialogTitle, dialogTitle);
    QCOMPARE(seenWindowTitle, windowTitle.arg(address));
    QFile knownHosts(appFile("known_hosts"));
    QVERIFY(knownHosts.open(QIODevice::ReadOnly));
    const QString recorded = keyRecorded.arg(
        address, OpenSshKeys::fingerprints(knownHosts.readAll()).value(0), knownHosts.fileName());
    QVERIFY2(seenLog.count(recorded) == 1, qPrintable(seenLog));
    // The window and then the dialog asked the worker's thread to quit; the worker deletes
    // itself once that thread has finished, touched by nobody after.
    QTRY_VERIFY_WITH_TIMEOUT(worker.isNull(), 10000);
}

QTEST_MAIN(tst_Startup)
#include "tst_startup.moc"
