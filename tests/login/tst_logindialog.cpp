#include "CConnectionForSshClient.h"
#include "LoginDialog.h"
#include "MessageBoxAnswerer.h"
#include "OpenSshKeys.h"
#include "TestCaseSim.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTimer>

namespace {

QString appFile(const char *name)
{
    return QCoreApplication::applicationDirPath() + QLatin1Char('/') + QLatin1String(name);
}

void setEnglishMarker(bool present)
{
    QFile marker(appFile("en.txt"));
    if (present)
        QVERIFY(marker.open(QIODevice::WriteOnly)); // empty: only its existence counts
    else
        QFile::remove(marker.fileName());
}

QString storedIp()
{
    return QSettings(appFile("settings.ini"), QSettings::IniFormat)
        .value(QStringLiteral("lastSuccessfulIp"))
        .toString();
}

void storeIp(const QString &ip)
{
    QSettings(appFile("settings.ini"), QSettings::IniFormat)
        .setValue(QStringLiteral("lastSuccessfulIp"), ip);
}

// The dialog's widgets, found the way an operator sees them.
struct Ui
{
    explicit Ui(LoginDialog &dialog)
        : caption(qobject_cast<QLabel *>(dialog.layout()->itemAt(0)->widget())),
          ipEdit(dialog.findChild<QLineEdit *>(QStringLiteral("m_ipEdit"))),
          button(dialog.findChild<QPushButton *>(QStringLiteral("m_connectButton"))),
          status(dialog.findChild<QLabel *>(QStringLiteral("m_statusLabel"))),
          timer(dialog.findChild<QTimer *>(QStringLiteral("m_timeoutTimer")))
    {}
    QLabel *caption;
    QLineEdit *ipEdit;
    QPushButton *button;
    QLabel *status;
    QTimer *timer;
};

} // namespace

class tst_LoginDialog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void textsFollowMarkerFile();
    void ipFieldFromSettings();
    void blankInputStartsNothing();
    void refusedAttemptThenSuccessfulRetry();
    void timeoutAbandonsWorkerAndIgnoresItsSuccess();
    void closingDuringAttemptEndsWorker();
    void hostKeyProblemReplacesTheFailureBox_data();
    void hostKeyProblemReplacesTheFailureBox();

private:
    TestCaseSim m_sim;
};

void tst_LoginDialog::initTestCase()
{
    m_sim.start();
}

void tst_LoginDialog::cleanupTestCase()
{
    m_sim.stop();
}

void tst_LoginDialog::init()
{
    QFile::remove(appFile("settings.ini"));
    QFile::remove(appFile("en.txt"));
    QFile::remove(appFile("known_hosts"));
}

void tst_LoginDialog::cleanup()
{
    init();
}

void tst_LoginDialog::textsFollowMarkerFile()
{
    {
        LoginDialog dialog;
        const Ui ui(dialog);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("连接到控制器"));
        QCOMPARE(ui.caption->text(), QStringLiteral("控制器IP地址:"));
        QCOMPARE(ui.ipEdit->placeholderText(), QStringLiteral("输入控制器IP地址"));
        QCOMPARE(ui.button->text(), QStringLiteral("连接"));
        QCOMPARE(ui.status->text(), QStringLiteral("请输入IP并连接。"));
    }

    setEnglishMarker(true);
    LoginDialog dialog;
    const Ui ui(dialog);
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Connect to Controller"));
    QCOMPARE(ui.caption->text(), QStringLiteral("Controller IP Address:"));
    QCOMPARE(ui.ipEdit->placeholderText(), QStringLiteral("Enter controller IP address"));
    QCOMPARE(ui.button->text(), QStringLiteral("Connect"));
    QCOMPARE(ui.status->text(), QStringLiteral("Please enter IP and connect."));

    // Removing and re-creating the marker while the dialog is open changes the texts chosen
    // afterwards; those already shown stay.
    ui.ipEdit->setText(QStringLiteral(" "));
    setEnglishMarker(false);
    ui.button->click();
    QCOMPARE(ui.status->text(), QStringLiteral("IP地址不能为空。"));
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Connect to Controller"));
    setEnglishMarker(true);
    ui.button->click();
    QCOMPARE(ui.status->text(), QStringLiteral("IP address cannot be empty."));
}

void tst_LoginDialog::ipFieldFromSettings()
{
    {
        LoginDialog dialog;
        QCOMPARE(Ui(dialog).ipEdit->text(), QStringLiteral(CNC_DEFAULT_CONTROLLER_IP));
    }
    QVERIFY(!QFile::exists(appFile("settings.ini"))); // reading creates nothing

    // A value written is seen at once, also while the writing object still exists.
    QSettings writer(appFile("settings.ini"), QSettings::IniFormat);
    writer.setValue(QStringLiteral("lastSuccessfulIp"), QStringLiteral("10.20.30.40"));
    LoginDialog dialog;
    QCOMPARE(Ui(dialog).ipEdit->text(), QStringLiteral("10.20.30.40"));
}

void tst_LoginDialog::blankInputStartsNothing()
{
    setEnglishMarker(true);
    MessageBoxAnswerer answerer;
    LoginDialog dialog;
    const Ui ui(dialog);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    ui.ipEdit->setText(QStringLiteral(" \t  "));
    // Enter in the field presses the default button, Connect.
    QTest::keyClick(ui.ipEdit, Qt::Key_Return);
    QCOMPARE(ui.status->text(), QStringLiteral("IP address cannot be empty."));
    QVERIFY(!dialog.connectionWorker());
    QVERIFY(ui.button->isEnabled());
    QVERIFY(!ui.timer->isActive());
    QVERIFY(dialog.isVisible());
    QTest::qWait(50); // no box may open later either
    QVERIFY(answerer.boxes().isEmpty());
}

void tst_LoginDialog::refusedAttemptThenSuccessfulRetry()
{
    CNC_REQUIRE_TEST_CASE_SIM(m_sim);
    setEnglishMarker(true);
    const QString address = m_sim->address();
    storeIp(QStringLiteral("10.9.9.9"));

    MessageBoxAnswerer answerer;
    LoginDialog dialog;
    const Ui ui(dialog);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    // sshd stopped: the connection is refused and reported long before the time-out.
    QVERIFY(m_sim->sshdStop());
    ui.ipEdit->setText(QStringLiteral("  ") + address + QStringLiteral(" \t"));
    QElapsedTimer elapsed;
    elapsed.start();
    ui.button->click();
    QVERIFY(!ui.button->isEnabled());
    QCOMPARE(ui.status->text(), QStringLiteral("Connecting..."));
    const QPointer<CConnectionForSshClient> firstWorker = dialog.connectionWorker();
    QVERIFY(firstWorker);
    QCOMPARE(firstWorker->m_strIp, address);
    QCOMPARE(firstWorker->m_nPort, 22);

    QTRY_COMPARE_WITH_TIMEOUT(answerer.boxes().size(), 1, 15000);
    QVERIFY2(elapsed.elapsed() < 10000, qPrintable(QString::number(elapsed.elapsed())));
    const MessageBoxAnswerer::Box box = answerer.boxes().first();
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.title, QStringLiteral("Connection Error"));
    QCOMPARE(box.text, QStringLiteral("Failed to connect to %1.").arg(address));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(box.parent, &dialog);

    QTRY_VERIFY(ui.button->isEnabled());
    QCOMPARE(ui.status->text(), QStringLiteral("Connection failed. Please check IP or network."));
    QVERIFY(!dialog.connectionWorker());
    QVERIFY(!ui.timer->isActive());
    QCOMPARE(storedIp(), QStringLiteral("10.9.9.9"));
    // The abandoned worker's thread was told to quit: it deletes itself and reports no more.
    QTRY_VERIFY_WITH_TIMEOUT(firstWorker.isNull(), 10000);

    // The retry uses a new worker; the address is stored only once success has been reported.
    QVERIFY(m_sim->sshdStart());
    ui.button->click();
    const QPointer<CConnectionForSshClient> secondWorker = dialog.connectionWorker();
    QVERIFY(secondWorker);
    QCOMPARE(storedIp(), QStringLiteral("10.9.9.9"));
    QTRY_COMPARE_WITH_TIMEOUT(dialog.result(), int(QDialog::Accepted), 15000);
    QVERIFY(!dialog.isVisible());
    QCOMPARE(dialog.connectionWorker(), secondWorker.data());
    QVERIFY(secondWorker->m_bAutoReconnect);
    QCOMPARE(storedIp(), address);
    QFile file(appFile("settings.ini"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().contains("lastSuccessfulIp=" + address.toLatin1()));
    QCOMPARE(answerer.boxes().size(), 1);
    QVERIFY(!ui.timer->isActive());

    // Without a main window to take it over, the test ends the successful worker itself.
    secondWorker->quitThread();
    QTRY_VERIFY_WITH_TIMEOUT(secondWorker.isNull(), 10000);
}

void tst_LoginDialog::timeoutAbandonsWorkerAndIgnoresItsSuccess()
{
    CNC_REQUIRE_TEST_CASE_SIM(m_sim);
    setEnglishMarker(true);
    const QString address = m_sim->address();

    LoginDialog dialog;
    const Ui ui(dialog);
    QPointer<CConnectionForSshClient> worker;
    // The box stays open until the attempt's worker is gone, or until a success report of that
    // worker (which reaches the controller well within the wait) has wrongly accepted the dialog.
    MessageBoxAnswerer answerer(
        [&] { return worker.isNull() || dialog.result() == QDialog::Accepted; });
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));

    ui.ipEdit->setText(QLatin1Char(' ') + address);
    ui.button->click();
    worker = dialog.connectionWorker();
    QVERIFY(worker);
    QVERIFY(ui.timer->isActive());
    QVERIFY(ui.timer->isSingleShot());
    QCOMPARE(ui.timer->interval(), 15000);
    ui.timer->start(0); // the time-out, now, before the controller can answer

    QTRY_COMPARE_WITH_TIMEOUT(answerer.boxes().size(), 1, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(ui.button->isEnabled(), 20000);
    const MessageBoxAnswerer::Box box = answerer.boxes().first();
    QCOMPARE(box.icon, QMessageBox::Warning);
    QCOMPARE(box.title, QStringLiteral("Connection Timeout"));
    QCOMPARE(box.text, QStringLiteral("Failed to connect to %1.\nPlease check if the device is "
                                      "online and the IP address is correct.")
                           .arg(address));
    QCOMPARE(box.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));

    QVERIFY(dialog.result() != QDialog::Accepted);
    QVERIFY(dialog.isVisible());
    QVERIFY(worker.isNull());
    QVERIFY(!dialog.connectionWorker());
    QCOMPARE(ui.status->text(), QStringLiteral("Connection timeout."));
    QVERIFY(storedIp().isEmpty());
}

void tst_LoginDialog::closingDuringAttemptEndsWorker()
{
    CNC_REQUIRE_TEST_CASE_SIM(m_sim);
    QPointer<CConnectionForSshClient> worker;
    {
        LoginDialog dialog;
        const Ui ui(dialog);
        ui.ipEdit->setText(m_sim->address());
        ui.button->click();
        worker = dialog.connectionWorker();
        QVERIFY(worker);
    }
    QTRY_VERIFY_WITH_TIMEOUT(worker.isNull(), 10000);
    QVERIFY(storedIp().isEmpty());
}

void tst_LoginDialog::hostKeyProblemReplacesTheFailureBox_data()
{
    QTest::addColumn<bool>("renewKeys");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("text");
    // %1 address, %2 recorded key, %3 shown key, %4 known-hosts file.
    QTest::newRow("controller reinstalled")
        << true << "Controller Host Key Changed"
        << "The controller at %1 showed another host key than the one recorded for it. The "
           "password was not sent.\n\nRecorded: %2\nShown: %3\n\nIf the controller was "
           "really reinstalled, delete line 2 of %4 and connect again.";
    QTest::newRow("corrupt known_hosts")
        << false << "Known Hosts Error"
        << "The host key of %1 cannot be checked: line 2 of %4 is not a known-hosts line. The "
           "password was not sent.";
}

void tst_LoginDialog::hostKeyProblemReplacesTheFailureBox()
{
    CNC_REQUIRE_TEST_CASE_SIM(m_sim);
    QFETCH(bool, renewKeys);
    QFETCH(QString, title);
    QFETCH(QString, text);
    setEnglishMarker(true);
    const QString address = m_sim->address();
    const QString knownHosts = appFile("known_hosts");

    // The controller's key on line 2, then a reinstallation; or a line cut short.
    const QByteArray recorded = m_sim->scanHostKey(QStringLiteral("ed25519"));
    QVERIFY2(!recorded.isEmpty(), qPrintable(m_sim->lastError()));
    const QByteArray content =
        "# workshop\n" + (renewKeys ? recorded : address.toUtf8() + " ssh-ed25519\n");
    {
        QFile file(knownHosts);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
    if (renewKeys)
        QVERIFY2(m_sim->renewHostKeys(), qPrintable(m_sim->lastError()));
    const QString shown =
        OpenSshKeys::fingerprints(m_sim->scanHostKey(QStringLiteral("ed25519"))).value(0);
    const QString expected =
        QString(text)
            .replace(QLatin1String("%1"), address)
            .replace(QLatin1String("%2"), OpenSshKeys::fingerprints(recorded).value(0))
            .replace(QLatin1String("%3"), shown)
            .replace(QLatin1String("%4"), knownHosts);

    const SimController::SshdCounts before = m_sim->sshdCounts();
    MessageBoxAnswerer answerer;
    LoginDialog dialog;
    const Ui ui(dialog);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    ui.ipEdit->setText(address);
    ui.button->click();
    const QPointer<CConnectionForSshClient> worker = dialog.connectionWorker();

    QTRY_COMPARE_WITH_TIMEOUT(answerer.boxes().size(), 1, 15000);
    const MessageBoxAnswerer::Box box = answerer.boxes().first();
    QCOMPARE(box.icon, QMessageBox::Critical);
    QCOMPARE(box.title, title);
    QCOMPARE(box.text, expected);
    QCOMPARE(box.parent, &dialog);
    // Abandoned as a failed attempt is, and the failure report behind the box is not shown.
    QTRY_VERIFY_WITH_TIMEOUT(worker.isNull(), 10000);
    QCOMPARE(answerer.boxes().size(), 1);
    QVERIFY(ui.button->isEnabled());
    QCOMPARE(ui.status->text(), QStringLiteral("Connection failed. Please check IP or network."));
    QVERIFY(dialog.result() != QDialog::Accepted);
    QVERIFY(storedIp().isEmpty());
    QFile file(knownHosts);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), content);
    QTRY_VERIFY_WITH_TIMEOUT(m_sim->sshdCounts().endedWithoutLogin > before.endedWithoutLogin,
                             10000);
    QCOMPARE(m_sim->sshdCounts().passwords, before.passwords);
}

QTEST_MAIN(tst_LoginDialog)
#include "tst_logindialog.moc"
