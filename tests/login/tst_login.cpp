// Start-up and login against a simulated controller: where the program keeps its files,
// failed, timed-out and abandoned attempts, the path through the dialog to the main window and
// out again, the address book and a second controller's window, and the controller's host key
// from its first use to a reinstalled controller.
#include "AddressBook.h"
#include "ControllerWindows.h"
#include "LoginDialog.h"
#include "MachineProfileDialog.h"
#include "PreviewLauncher.h"
#include "ProgramFiles.h"
#include "WindowTestSupport.h"
#include "runApplication.h"

#include <QtTest>

#include <unistd.h>

namespace {

QString appFile(const QString &name)
{
    return QCoreApplication::applicationDirPath() + '/' + name;
}

QLineEdit *ipEdit(const QDialog &dialog)
{
    return dialog.findChild<QLineEdit *>("m_ipEdit");
}

QPushButton *connectButton(const QDialog &dialog)
{
    return dialog.findChild<QPushButton *>("m_connectButton");
}

QString status(const QDialog &dialog)
{
    return dialog.findChild<QLabel *>("m_statusLabel")->text();
}

} // namespace

class TestLogin : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { CNC_START_SIM(m_sim, {}); }
    void init();
    void cleanupTestCase() { init(); }

    void filesOfAnInstalledProgram();
    void refusedAttemptThenSuccessfulRetry();
    void timeoutAbandonsWorkerAndIgnoresItsSuccess();
    void lossRightAfterSuccessIsIgnored();
    void startUpThroughDialogAndWindow_data();
    void startUpThroughDialogAndWindow();
    void addressBook();
    void secondControllerBesideTheFirst();
    void reinstalledControllerIsRefused();

private:
    SimController m_sim;
    ModalAnswerer m_answer;
};

void TestLogin::init()
{
    m_answer.reset();
    for (const char *name :
         {"settings.ini", "en.txt", "known_hosts", "installed", "controllers.json"})
        QFile::remove(appFile(name));
    QDir().rmdir(appFile("en.txt"));
}

// Beside the executable in the build tree; an installed program, root's too, and one whose
// folder is not writable use the operator's configuration folder, where a file the installation
// presets is copied the first time it is missing.
void TestLogin::filesOfAnInstalledProgram()
{
    QCOMPARE(ProgramFiles::settingsFile(), appFile("settings.ini"));
    for (const bool installed : {true, false}) {
        QVERIFY(writeFile(appFile("settings.ini"), "[General]\nlanguage=en\n") &&
                writeFile(appFile("en.txt"), {}));
        QVERIFY(!installed || writeFile(appFile("installed"), {}));
        QTemporaryDir config;
        QVERIFY(::chown(QFile::encodeName(config.path()).constData(), 65534, 65534) == 0);
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
        // Else as the operator nobody, to whom the installation folder belongs not.
        QVERIFY(installed || ::setresuid(65534, 65534, 0) == 0);
        const auto root = qScopeGuard([] {
            QVERIFY(::setresuid(0, 0, 0) == 0);
            qunsetenv("XDG_CONFIG_HOME");
            QFile::remove(appFile("installed"));
        });
        const QDir own(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
        QVERIFY(own.path().startsWith(config.path()));
        QCOMPARE(ProgramFiles::settingsFile(), own.filePath("settings.ini"));
        QCOMPARE(readFile(own.filePath("settings.ini")), QByteArray("[General]\nlanguage=en\n"));
        QVERIFY(writeFile(own.filePath("settings.ini"), "[General]\nlanguage=zh\n"));
        QCOMPARE(ProgramFiles::knownHostsFile(), own.filePath("known_hosts"));
        QCOMPARE(readFile(own.filePath("settings.ini")), QByteArray("[General]\nlanguage=zh\n"));
        QVERIFY(ProgramFiles::hasEnglishMarker() && !own.exists("en.txt"));
        QCOMPARE(readFile(appFile("settings.ini")), QByteArray("[General]\nlanguage=en\n"));
    }
}

void TestLogin::refusedAttemptThenSuccessfulRetry()
{
    QVERIFY(writeFile(appFile("en.txt"), {}));
    setSetting("lastSuccessfulIp", "10.9.9.9");
    m_answer.answerEveryBox();
    LoginDialog dialog;
    dialog.show();
    // sshd stopped: refused, and told long before the time-out; the address typed with blanks.
    QVERIFY(m_sim.sshdStop());
    ipEdit(dialog)->setText("  " + m_sim.address() + " \t");
    QElapsedTimer elapsed;
    elapsed.start();
    connectButton(dialog)->click();
    QVERIFY(!connectButton(dialog)->isEnabled());
    QCOMPARE(status(dialog), QStringLiteral("Connecting..."));
    const QPointer<CConnectionForSshClient> firstWorker = dialog.connectionWorker();
    QVERIFY(firstWorker && firstWorker->m_strIp == m_sim.address());
    QTRY_COMPARE_WITH_TIMEOUT(m_answer.boxes.size(), 1, 15000);
    QVERIFY2(elapsed.elapsed() < 10000, qPrintable(QString::number(elapsed.elapsed())));
    const ModalAnswerer::Seen box = m_answer.boxes.first();
    QCOMPARE(QStringList({box.title, box.text}),
             QStringList({"Connection Error", "Failed to connect to " + m_sim.address() + "."}));
    QVERIFY(box.icon == QMessageBox::Critical && box.parent == &dialog);
    QTRY_VERIFY(connectButton(dialog)->isEnabled());
    QCOMPARE(status(dialog), QStringLiteral("Connection failed. Please check IP or network."));
    QVERIFY(!dialog.connectionWorker());
    // The abandoned worker's thread was told to quit: it deletes itself and reports no more.
    QTRY_VERIFY_WITH_TIMEOUT(firstWorker.isNull(), 10000);

    // The retry uses a new worker; the address is stored only once success is reported.
    QVERIFY(m_sim.sshdStart());
    connectButton(dialog)->click();
    const QPointer<CConnectionForSshClient> secondWorker = dialog.connectionWorker();
    QVERIFY(secondWorker);
    QCOMPARE(setting("lastSuccessfulIp"), QStringLiteral("10.9.9.9"));
    QTRY_COMPARE_WITH_TIMEOUT(dialog.result(), int(QDialog::Accepted), 15000);
    QVERIFY(dialog.connectionWorker() == secondWorker && secondWorker->m_bAutoReconnect);
    QVERIFY(readFile(settingsPath()).contains("lastSuccessfulIp=" + m_sim.address().toLatin1()));
    QCOMPARE(m_answer.boxes.size(), 1);
    // Without a main window to take it over, the test ends the successful worker itself.
    secondWorker->quitThread();
    QTRY_VERIFY_WITH_TIMEOUT(secondWorker.isNull(), 10000);
}

void TestLogin::timeoutAbandonsWorkerAndIgnoresItsSuccess()
{
    QVERIFY(writeFile(appFile("en.txt"), {}));
    QPointer<CConnectionForSshClient> worker;
    {
        LoginDialog dialog;
        // The box stays open until the attempt's worker is gone, or until a success report of
        // that worker (which comes well within the wait) has wrongly accepted the dialog.
        m_answer.answerEveryBox(
            [&] { return worker.isNull() || dialog.result() == QDialog::Accepted; });
        dialog.show();
        ipEdit(dialog)->setText(' ' + m_sim.address());
        connectButton(dialog)->click();
        worker = dialog.connectionWorker();
        auto *timer = dialog.findChild<QTimer *>("m_timeoutTimer");
        QVERIFY(worker && timer->isActive() && timer->isSingleShot() && timer->interval() == 15000);
        timer->start(0); // the time-out, now, before the controller can answer
        QTRY_COMPARE_WITH_TIMEOUT(m_answer.boxes.size(), 1, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(connectButton(dialog)->isEnabled(), 20000);
        QCOMPARE(m_answer.boxes.first().icon, QMessageBox::Warning);
        QCOMPARE(m_answer.boxes.first().text,
                 "Failed to connect to " + m_sim.address() +
                     ".\nPlease check if the device is online and the IP address is correct.");
        QVERIFY(dialog.result() != QDialog::Accepted && worker.isNull());
        QCOMPARE(status(dialog), QStringLiteral("Connection timeout."));

        // Closed while an attempt is under way: the attempt's worker ends too.
        connectButton(dialog)->click();
        worker = dialog.connectionWorker();
        QVERIFY(worker);
    }
    QTRY_VERIFY_WITH_TIMEOUT(worker.isNull(), 10000);
    QVERIFY(setting("lastSuccessfulIp").isEmpty());
}

// A success followed at once by a loss: the dialog accepts on the success and leaves alone the
// worker that the main window is about to take over, which reconnects by itself.
void TestLogin::lossRightAfterSuccessIsIgnored()
{
    QVERIFY(writeFile(appFile("en.txt"), {}));
    m_answer.answerEveryBox();
    QVERIFY(m_sim.linkDown()); // the worker's own attempt waits meanwhile
    const auto linkUp = qScopeGuard([this] { m_sim.linkUp(); });
    LoginDialog dialog;
    dialog.show();
    ipEdit(dialog)->setText(m_sim.address());
    connectButton(dialog)->click();
    const QPointer<CConnectionForSshClient> worker = dialog.connectionWorker();
    QVERIFY(worker);
    // Both reports wait in the dialog's queue before it sees the first.
    const QString address = m_sim.address();
    QVERIFY(QMetaObject::invokeMethod(
        worker,
        [&] {
            emit worker->sigConnectStateChanged(true, address, 22);
            emit worker->sigConnectStateChanged(false, address, 22);
        },
        Qt::BlockingQueuedConnection));
    QCoreApplication::processEvents();
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QVERIFY2(m_answer.boxes.isEmpty(), "the loss was taken for a failed attempt");
    QVERIFY(worker && dialog.connectionWorker() == worker && worker->m_bAutoReconnect);
    worker->quitThread();
    QTRY_VERIFY_WITH_TIMEOUT(worker.isNull(), 10000);
}

void TestLogin::startUpThroughDialogAndWindow_data()
{
    QTest::addColumn<bool>("marker");
    QTest::addColumn<QString>("language");
    QTest::addColumn<QString>("dialogTitle");
    QTest::addColumn<QString>("windowTitle"); // empty: the dialog is closed
    QTest::addColumn<QString>("keyRecorded");
    QTest::newRow("dialog closed") << false << ""
                                   << "连接到控制器"
                                   << ""
                                   << "";
    // The dialog follows the marker file only, the window the settings key only. The key that
    // the login recorded is told in the window's log.
    QTest::newRow("marker, no settings") << true << ""
                                         << "Connect to Controller"
                                         << "CNC控制器文件管理 - 已连接到 %1"
                                         << "已记录控制器主机密钥: %1 %2 (记录于 %3)";
    QTest::newRow("no marker, language en") << false << "en"
                                            << "连接到控制器"
                                            << "CNC Controller File Manager - Connected to %1"
                                            << "Controller host key recorded: %1 %2 (in %3)";
}

void TestLogin::startUpThroughDialogAndWindow()
{
    QFETCH(bool, marker);
    QFETCH(QString, language);
    QFETCH(QString, dialogTitle);
    QFETCH(QString, windowTitle);
    QFETCH(QString, keyRecorded);
    QVERIFY(!marker || writeFile(appFile("en.txt"), {}));
    if (!language.isEmpty())
        setSetting("language", language);

    QPointer<CConnectionForSshClient> worker;
    QString seenDialogTitle, seenWindowTitle, failure;
    QStringList seenLog;
    m_answer.poll([&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            failure = box->text();
            box->reject();
        } else if (auto *dialog = qobject_cast<LoginDialog *>(QApplication::activeModalWidget())) {
            if (seenDialogTitle.isEmpty() && !windowTitle.isEmpty()) {
                ipEdit(*dialog)->setText(m_sim.address());
                connectButton(*dialog)->click();
                worker = dialog->connectionWorker();
            } else if (connectButton(*dialog)->isEnabled()) {
                dialog->close(); // nothing to attempt, or the attempt failed
            }
            seenDialogTitle = dialog->windowTitle();
        }
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (qobject_cast<mainwindow *>(widget) && widget->isVisible()) {
                seenWindowTitle = widget->windowTitle();
                seenLog = logLines(*widget);
                widget->close();
            }
        }
        return false;
    });
    QCOMPARE(runApplication(*qApp), 0);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QCOMPARE(seenDialogTitle, dialogTitle);
    QCOMPARE(seenWindowTitle, windowTitle.arg(m_sim.address()));
    const QString recorded =
        keyRecorded.arg(m_sim.address(), sshFingerprints(readFile(appFile("known_hosts"))).value(0),
                        appFile("known_hosts"));
    QCOMPARE(seenLog.count(recorded), keyRecorded.isEmpty() ? 0 : 1);
    // The window and then the dialog asked the worker's thread to quit; the worker deletes
    // itself once that thread has finished, touched by nobody after.
    QTRY_VERIFY_WITH_TIMEOUT(worker.isNull(), 10000);
}

QStringList bookShown(const QDialog &dialog)
{
    QStringList shown;
    const auto *list = dialog.findChild<QListWidget *>("addressBookList");
    for (int row = 0; row < list->count(); ++row)
        shown << list->item(row)->text();
    return shown;
}

// A login puts its address in the book, named by itself; the operator renames it, adds an
// address under a name, picks it, and removes it again. The book never holds an address twice,
// and the file reads back as it was written.
void TestLogin::addressBook()
{
    QVERIFY(writeFile(appFile("en.txt"), {}));
    const QString address = m_sim.address();
    {
        LoginDialog dialog;
        QCOMPARE(bookShown(dialog), QStringList());
        ipEdit(dialog)->setText(address);
        connectButton(dialog)->click();
        QTRY_COMPARE_WITH_TIMEOUT(dialog.result(), int(QDialog::Accepted), 15000);
        dialog.connectionWorker()->quitThread();
    }
    LoginDialog dialog;
    QCOMPARE(bookShown(dialog), QStringList{address});
    QCOMPARE(ipEdit(dialog)->text(), address);
    const auto click = [&](const char *button) {
        dialog.findChild<QPushButton *>(button)->click();
    };
    m_answer.answerInput(QStringLiteral("雕刻机 A"));
    click("renameControllerButton");
    m_answer.answerInput("Mill 2");
    ipEdit(dialog)->setText(" 10.9.9.9 ");
    click("addControllerButton");
    QCOMPARE(bookShown(dialog),
             QStringList({QStringLiteral("雕刻机 A (%1)").arg(address), "Mill 2 (10.9.9.9)"}));
    QCOMPARE(AddressBook::displayName(address), QStringLiteral("雕刻机 A (%1)").arg(address));

    // Picked, the entry's address goes into the field; it is in the book already.
    auto *list = dialog.findChild<QListWidget *>("addressBookList");
    list->setCurrentRow(0);
    QCOMPARE(ipEdit(dialog)->text(), address);
    list->setCurrentRow(1);
    QCOMPARE(ipEdit(dialog)->text(), "10.9.9.9");
    ModalAnswerer::Seen refused;
    m_answer.answerInput("twin");
    m_answer.answerBox(QMessageBox::Ok, &refused);
    click("addControllerButton");
    QCOMPARE(refused.detail, "10.9.9.9 is in the address book already.");
    // A profile that makes no sense is refused with a reason; a corrected one is kept.
    list->setCurrentRow(0);
    m_answer.onNext<MachineProfileDialog>([](MachineProfileDialog *profile) {
        const auto field = [&](const char *name, const QString &value) {
            profile->findChild<QLineEdit *>(name)->setText(value);
        };
        field("xMin", "300");
        field("xMax", "0");
        field("rapidRate", "5000");
        profile->findChild<QComboBox *>("units")->setCurrentIndex(2);
        profile->accept();
        QVERIFY(profile->isVisible());
        QCOMPARE(profile->findChild<QLabel *>("profileError")->text(),
                 "The X travel needs a minimum no larger than its maximum.");
        field("xMin", "-0.5");
        profile->accept();
    });
    click("profileButton");
    const MachineProfile kept = AddressBook::profileOf(address);
    QVERIFY(kept.travel[0] && kept.travel[0]->min == -0.5 && kept.travel[0]->max == 0);
    QVERIFY(!kept.travel[1] && kept.rapidRate == 5000.0 && !kept.maxFeedRate);
    QVERIFY(kept.units == MachineProfile::Units::Inch);
    list->setCurrentRow(1);
    m_answer.answerBox(QMessageBox::Yes);
    click("removeControllerButton");
    QCOMPARE(bookShown(dialog), QStringList{QStringLiteral("雕刻机 A (%1)").arg(address)});

    const QVector<ControllerEntry> entries = AddressBook::entries();
    QCOMPARE(entries.size(), 1);
    QVERIFY(entries.first().lastUsed.isValid());
    const QByteArray file = readFile(ProgramFiles::addressBookFile());
    QCOMPARE(AddressBook::toJson(AddressBook::fromJson(file)), file);
    QString error;
    QVERIFY(AddressBook::fromJson("{\"controllers\": [", &error).isEmpty() && !error.isEmpty());
}

// "Connect to another controller…" in the first window opens the login again; a Dropbear
// controller gets a window of its own beside the OpenSSH one, each listing its own files under
// its own title, while the first stays usable.
void TestLogin::secondControllerBesideTheFirst()
{
    SimController second(SimController::Server::Dropbear);
    CNC_START_SIM(second, {});
    QVERIFY(writeFile(m_sim.rootDir() + "/first.nc", "G0\n") &&
            writeFile(second.rootDir() + "/second.nc", "G0\n"));
    QVERIFY(AddressBook::add("Mill 2", second.address()));
    MachineProfile mill;
    mill.travel[2] = AxisTravel{-80, 0};
    QVERIFY(AddressBook::setProfile(second.address(), mill));
    const auto login = [](const QString &address) {
        auto *dialog = qobject_cast<LoginDialog *>(QApplication::activeModalWidget());
        if (!dialog || !connectButton(*dialog)->isEnabled())
            return false;
        ipEdit(*dialog)->setText(address);
        connectButton(*dialog)->click();
        return true;
    };
    m_answer.poll([&] { return login(m_sim.address()); });
    ControllerWindows windows;
    QVERIFY(windows.openFirst());
    const auto shown = [] {
        QList<mainwindow *> found;
        for (QWidget *widget : QApplication::topLevelWidgets()) {
            if (auto *window = qobject_cast<mainwindow *>(widget); window && window->isVisible())
                found << window;
        }
        return found;
    };
    QTRY_COMPARE(shown().size(), 1);
    mainwindow *first = shown().constFirst();
    QTRY_VERIFY_WITH_TIMEOUT(selectRows(*first, {"first.nc"}), 15000);

    m_answer.poll([&] { return login(second.address()); });
    first->findChild<QAction *>("anotherControllerAction")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(shown().size(), 2, 15000);
    mainwindow *other = shown().at(shown().at(0) == first ? 1 : 0);
    QTRY_VERIFY_WITH_TIMEOUT(selectRows(*other, {"second.nc"}), 15000);
    QCOMPARE(other->windowTitle(),
             "CNC控制器文件管理 - 已连接到 Mill 2 (" + second.address() + ")");
    QCOMPARE(first->windowTitle(), "CNC控制器文件管理 - 已连接到 " + m_sim.address());
    // Each window's previews know their own machine.
    QCOMPARE(other->findChild<PreviewLauncher *>()->machineProfile(), mill);
    QVERIFY(first->findChild<PreviewLauncher *>()->machineProfile().isEmpty());
    QVERIFY(!selectRows(*other, {"first.nc"}));
    // The first window still serves its own controller.
    QVERIFY(writeFile(m_sim.rootDir() + "/later.nc", "G0\n"));
    first->findChild<QAction *>("refreshAction")->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(selectRows(*first, {"later.nc"}), 15000);
    QVERIFY(!selectRows(*other, {"later.nc"}));
    QFile::remove(m_sim.rootDir() + "/first.nc");
    QFile::remove(m_sim.rootDir() + "/later.nc");
}

// The controller reinstalled under a window that knows its old key: the window's reconnection
// attempts are refused before the password goes, told once; the next login shows why.
void TestLogin::reinstalledControllerIsRefused()
{
    const QByteArray oldKey = m_sim.scanHostKey("ed25519");
    QVERIFY(writeFile(appFile("known_hosts"), "# workshop\n" + oldKey));
    setSetting("language", "en");
    {
        ControllerSession session(m_sim.address());
        mainwindow &window = session.open();
        QVERIFY(session.waitReady());
        QVERIFY2(m_sim.renewHostKeys(), qPrintable(m_sim.lastError()));
        const SimController::SshdCounts before = m_sim.sshdCounts();
        const int mark = session.logSize();
        emit window.sigSend("kill -9 $PPID\n"); // the shell ends its own session: a loss
        const QRegularExpression refused(
            "^Connection to " + QRegularExpression::escape(m_sim.address()) +
            " refused: it showed the host key ED25519 SHA256:\\S+, not ED25519 SHA256:\\S+ as "
            "recorded in \\S+known_hosts, line 2\\. The password was not sent\\.$");
        QTRY_COMPARE_WITH_TIMEOUT(session.logSince(mark).filter(refused).size(), 1, 25000);
        // Another attempt, refused as well, told no more.
        QTRY_COMPARE_WITH_TIMEOUT(session.logSince(mark).count("Connection lost."), 3, 15000);
        QCOMPARE(session.logSince(mark).filter(refused).size(), 1);
        QCOMPARE(window.findChild<QLabel *>("m_statusIndicator")->styleSheet(),
                 QStringLiteral("QLabel{background-color:#ff0000;border-radius:6px;}"));
        QCOMPARE(m_sim.sshdCounts().passwords, before.passwords);
    }

    // The next login: a box that names both keys and the line instead of the failure box, and
    // the password kept back.
    QVERIFY(writeFile(appFile("en.txt"), {}));
    const SimController::SshdCounts before = m_sim.sshdCounts();
    m_answer.answerEveryBox();
    LoginDialog dialog;
    dialog.show();
    ipEdit(dialog)->setText(m_sim.address());
    connectButton(dialog)->click();
    const QPointer<CConnectionForSshClient> worker = dialog.connectionWorker();
    QTRY_VERIFY_WITH_TIMEOUT(worker.isNull(), 15000); // abandoned as a failed attempt is
    QCOMPARE(m_answer.boxes.size(), 1);
    QCOMPARE(m_answer.boxes.first().title, QStringLiteral("Controller Host Key Changed"));
    QCOMPARE(m_answer.boxes.first().text,
             QString("The controller at %1 showed another host key than the one recorded for it. "
                     "The password was not sent.\n\nRecorded: %2\nShown: %3\n\nIf the controller "
                     "was really reinstalled, delete line 2 of %4 and connect again.")
                 .arg(m_sim.address(), sshFingerprints(oldKey).value(0),
                      sshFingerprints(m_sim.scanHostKey("ed25519")).value(0),
                      appFile("known_hosts")));
    QVERIFY(dialog.result() != QDialog::Accepted);
    QCOMPARE(readFile(appFile("known_hosts")), "# workshop\n" + oldKey);
    QVERIFY2(m_sim.endedWithoutPassword(before), qPrintable(m_sim.lastError()));

    // A line this program cannot check: a box of its own, and the password kept back as well.
    QVERIFY(writeFile(appFile("known_hosts"), "# workshop\n@cert-authority " + oldKey));
    m_answer.boxes.clear();
    const SimController::SshdCounts beforeUnusable = m_sim.sshdCounts();
    connectButton(dialog)->click();
    QTRY_COMPARE_WITH_TIMEOUT(m_answer.boxes.size(), 1, 15000);
    QCOMPARE(m_answer.boxes.first().title, QStringLiteral("Known Hosts Error"));
    QCOMPARE(m_answer.boxes.first().text,
             QString("The host key of %1 cannot be checked: line 2 of %2 is not a known-hosts "
                     "line this program can check. The password was not sent.")
                 .arg(m_sim.address(), appFile("known_hosts")));
    QVERIFY2(m_sim.endedWithoutPassword(beforeUnusable), qPrintable(m_sim.lastError()));
}

QTEST_MAIN(TestLogin)
#include "tst_login.moc"
