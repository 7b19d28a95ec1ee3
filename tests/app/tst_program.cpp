// The program as an operator meets it: cnc-file-manager runs as a process of its own on a
// private X server against a simulated controller, is driven by key presses and read back
// through its window titles and its diagnostic log.

#include "SimController.h"
#include "VirtualDisplay.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#include <unistd.h>

namespace {

// Generous: the program under test may be a sanitizer build on a busy machine.
constexpr int kWindowTimeoutMs = 30000;
constexpr int kListingTimeoutMs = 30000;
// A pulled cable is noticed by the keepalive; a returned one at the next 10 s retry.
constexpr int kLossTimeoutMs = 60000;
constexpr int kRestoreTimeoutMs = 45000;
constexpr int kExitTimeoutMs = 20000;
constexpr int kLogLagMs = 5000;

const QString kDialogTitleZh = QStringLiteral("连接到控制器");
const QString kDialogTitleEn = QStringLiteral("Connect to Controller");

// One run of the program from a folder of its own, since it keeps settings.ini and looks for
// en.txt beside its executable.
class ProgramRun
{
public:
    bool isRunning() const { return m_process.state() != QProcess::NotRunning; }

    bool prepare(QString *error)
    {
        const QFileInfo built(QStringLiteral(CNC_PROGRAM_FILE));
        if (!m_dir.isValid() || !QFile::copy(built.filePath(), executable())) {
            *error = QStringLiteral("cannot copy %1 into %2").arg(built.filePath(), m_dir.path());
            return false;
        }
        const QDir builtDir = built.dir();
        for (const QString &icon : builtDir.entryList({QStringLiteral("*.png")}, QDir::Files))
            QFile::copy(builtDir.filePath(icon), m_dir.filePath(icon));
        return true;
    }

    QString filePath(const QString &name) const { return m_dir.filePath(name); }
    QString executable() const
    {
        return m_executable.isEmpty() ? m_dir.filePath(QStringLiteral("cnc-file-manager"))
                                      : m_executable;
    }

    // Starts the copy made by prepare(), or another installed executable. With operatorHome,
    // as an operator of an installed program: the unprivileged user nobody, with that home.
    void start(const QString &display, const QString &program = QString(),
               const QString &operatorHome = QString())
    {
        if (!program.isEmpty())
            m_executable = program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (!operatorHome.isEmpty()) {
            environment.insert(QStringLiteral("HOME"), operatorHome);
            environment.remove(QStringLiteral("XDG_CONFIG_HOME"));
            environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), operatorHome);
        }
        environment.insert(QStringLiteral("DISPLAY"), display);
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("cnc.*.debug=true"));
        // The window needs no OpenGL; the GL libraries would only add their own leaks.
        environment.insert(QStringLiteral("QT_XCB_GL_INTEGRATION"), QStringLiteral("none"));
        // In a sanitizer build, the strndup check reads past the unterminated atom names that
        // libxkbcommon-x11 copies with strndup while the X connection is set up.
        const QString sanitizer = environment.value(QStringLiteral("ASAN_OPTIONS"));
        environment.insert(QStringLiteral("ASAN_OPTIONS"),
                           sanitizer.isEmpty()
                               ? QStringLiteral("intercept_strndup=0")
                               : sanitizer + QStringLiteral(":intercept_strndup=0"));
        m_process.setProcessEnvironment(environment);
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        // Not the program's folder: settings and icons must be found beside the executable.
        m_process.setWorkingDirectory(QDir::tempPath());
        QObject::connect(&m_process, &QProcess::readyRead,
                         [this] { m_log += QString::fromUtf8(m_process.readAll()); });
        if (operatorHome.isEmpty())
            m_process.start(executable(), QStringList());
        else
            m_process.start(QStringLiteral("setpriv"),
                            {QStringLiteral("--reuid=nobody"), QStringLiteral("--regid=nogroup"),
                             QStringLiteral("--clear-groups"), QStringLiteral("--"), executable()});
    }

    QProcess &process() { return m_process; }
    const QString &log() const { return m_log; }
    int logCount(const QString &line) const { return m_log.count(line); }

    // Processes still running from this run's executable, the program's own process included.
    QStringList processesLeft() const
    {
        QStringList left;
        const QStringList pids =
            QDir(QStringLiteral("/proc")).entryList({QStringLiteral("[0-9]*")}, QDir::Dirs);
        for (const QString &pid : pids) {
            const QString exe = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
            if (exe == QFileInfo(executable()).canonicalFilePath())
                left << pid;
        }
        return left;
    }

    // What the connection layers and sanitizers said, for failure messages; the listing's
    // chatter is left out.
    QString summary() const
    {
        QStringList kept;
        const QStringList lines = m_log.split(QLatin1Char('\n'));
        for (const QString &line : lines) {
            if (line.startsWith(QLatin1String("cnc.connection")) ||
                line.startsWith(QLatin1String("cnc.ssh")) ||
                line.startsWith(QLatin1String("cnc.login")) ||
                line.startsWith(QLatin1String("==")) || line.startsWith(QLatin1String("    #")) ||
                line.contains(QLatin1String("Sanitizer")))
                kept << line;
        }
        return kept.join(QLatin1Char('\n')).right(900);
    }

    ~ProgramRun()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
        // The whole log of a failed run goes beside the test for a closer look.
        if (QTest::currentTestFailed()) {
            m_log += QString::fromUtf8(m_process.readAll());
            QFile file(QStringLiteral("tst_program-%1.log")
                           .arg(QString::fromLatin1(QTest::currentTestFunction())));
            if (file.open(QIODevice::WriteOnly | QIODevice::Append))
                file.write(m_log.toUtf8());
        }
    }

private:
    QTemporaryDir m_dir;
    QString m_executable;
    QProcess m_process;
    QString m_log;
};

// Waits for a shown window with this title while the program runs; 0 when none came.
quint32 waitForWindow(const VirtualDisplay &display, const ProgramRun &run, const QString &title,
                      int timeoutMs)
{
    quint32 window = 0;
    (void)QTest::qWaitFor(
        [&] {
            window = display.shownWindow(title);
            return window != 0 || !run.isRunning();
        },
        timeoutMs);
    return window;
}

} // namespace

class tst_Program : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();

    void operatorSession_data();
    void operatorSession();
    void cancelledLoginEndsWithZero();
    void installedProgramKeepsTheOperatorsFilesInTheirOwnFolder();

private:
    std::unique_ptr<SimController> m_sim;
    std::unique_ptr<VirtualDisplay> m_display;
    QString m_skipReason;
    QString m_displaySkipReason;
};

void tst_Program::initTestCase()
{
    if (!VirtualDisplay::canRun(&m_displaySkipReason)) {
        m_skipReason = m_displaySkipReason;
        return;
    }
    m_display = std::make_unique<VirtualDisplay>();
    QVERIFY2(m_display->start(), qPrintable(m_display->lastError()));
    if (!SimController::canRun(&m_skipReason))
        return;
    m_sim = std::make_unique<SimController>();
    QVERIFY2(m_sim->start(), qPrintable(m_sim->lastError()));
}

void tst_Program::cleanupTestCase()
{
    m_sim.reset();
    m_display.reset();
}

void tst_Program::cleanup()
{
    // A failed run must not leave the cable pulled for the next one.
    if (m_sim)
        m_sim->linkUp();
}

void tst_Program::operatorSession_data()
{
    QTest::addColumn<bool>("english");
    QTest::addColumn<bool>("pullLink");
    QTest::newRow("Chinese, link pulled and returned") << false << true;
    QTest::newRow("English") << true << false;
}

void tst_Program::operatorSession()
{
    if (!m_skipReason.isEmpty())
        QSKIP(qPrintable(m_skipReason));
    QFETCH(bool, english);
    QFETCH(bool, pullLink);

    const QString address = m_sim->address();
    const QString dialogTitle = english ? kDialogTitleEn : kDialogTitleZh;
    const QString connectedTitle =
        (english ? QStringLiteral("CNC Controller File Manager - Connected to %1")
                 : QStringLiteral("CNC控制器文件管理 - 已连接到 %1"))
            .arg(address);
    const QString reconnectingTitle =
        english ? QStringLiteral("CNC Controller File Manager - Reconnecting...")
                : QStringLiteral("CNC控制器文件管理 - 重新连接中...");
    const QString connectedLine =
        QStringLiteral("CConnectionForSshClient::slotConnected ssh已连接到: %1:22").arg(address);
    const QString attemptLine =
        QStringLiteral("CConnectionForSshClient::slotCreateConnection() 以ssh方式 尝试连接: %1:22")
            .arg(address);
    // A pulled cable ends in a socket error, after which the worker retries by itself.
    const QRegularExpression lossLine(
        QStringLiteral("SSH 连接错误: \\d+ IP: %1:22").arg(QRegularExpression::escape(address)));
    const QString retryLine = QStringLiteral("SSH 开始自动重连尝试,定时器间隔: 10000 ms");
    const QString listedLine = QStringLiteral("processBufferedData() 处理完成，模型行数: 4");

    ProgramRun run;
    QString error;
    QVERIFY2(run.prepare(&error), qPrintable(error));
    if (english) {
        QFile marker(run.filePath(QStringLiteral("en.txt")));
        QVERIFY(marker.open(QIODevice::WriteOnly));
        QSettings settings(run.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        settings.setValue(QStringLiteral("language"), QStringLiteral("en"));
    }
    run.start(m_display->name());

    // The login dialog proposes the default address; the operator replaces it.
    QVERIFY2(waitForWindow(*m_display, run, dialogTitle, kWindowTimeoutMs) != 0,
             qPrintable(run.summary()));
    const quint32 dialog = m_display->shownWindow(dialogTitle);
    QVERIFY2(m_display->focus(dialog), qPrintable(m_display->lastError()));
    QVERIFY(m_display->pressKeys({QStringLiteral("ctrl+a"), QStringLiteral("BackSpace")}));
    QVERIFY(m_display->typeText(address));
    QVERIFY(m_display->pressKeys({QStringLiteral("Return")}));

    QVERIFY2(waitForWindow(*m_display, run, connectedTitle, kWindowTimeoutMs) != 0,
             qPrintable(run.summary()));
    QCOMPARE(m_display->shownWindow(dialogTitle), 0u);
    // The log arrives through a pipe and may lag behind what the screen shows.
    QTRY_COMPARE_WITH_TIMEOUT(run.logCount(connectedLine), 1, kLogLagMs);
    QCOMPARE(run.logCount(attemptLine), 1);
    QVERIFY(run.log().contains(QStringLiteral("LoginDialog::attemptConnection %1").arg(address)));
    {
        QSettings settings(run.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        QCOMPARE(settings.value(QStringLiteral("lastSuccessfulIp")).toString(), address);
    }

    // The first listing: the controller's seeded folder and files, parsed from the shell.
    QTRY_VERIFY2_WITH_TIMEOUT(run.logCount(listedLine) == 1, qPrintable(run.summary()),
                              kListingTimeoutMs);
    QVERIFY(run.log().contains(QStringLiteral("添加文件夹: programs")));
    QVERIFY(run.log().contains(QStringLiteral("添加文件: part1.nc")));
    QVERIFY(run.log().contains(QStringLiteral("添加文件: 零件.nc")));

    if (pullLink) {
        QVERIFY2(m_sim->linkDown(), qPrintable(m_sim->lastError()));
        QVERIFY2(waitForWindow(*m_display, run, reconnectingTitle, kLossTimeoutMs) != 0,
                 qPrintable(run.summary()));
        QTRY_VERIFY2_WITH_TIMEOUT(run.log().contains(lossLine), qPrintable(run.summary()),
                                  kLogLagMs);
        QTRY_COMPARE_WITH_TIMEOUT(run.logCount(retryLine), 1, kLogLagMs);

        QVERIFY2(m_sim->linkUp(), qPrintable(m_sim->lastError()));
        QVERIFY2(waitForWindow(*m_display, run, connectedTitle, kRestoreTimeoutMs) != 0,
                 qPrintable(run.summary()));
        QTRY_COMPARE_WITH_TIMEOUT(run.logCount(connectedLine), 2, kLogLagMs);
        // Restored by the worker's own retries, not by a new login.
        QVERIFY(run.logCount(attemptLine) >= 2);
        QCOMPARE(run.logCount(QStringLiteral("LoginDialog::attemptConnection")), 1);
        // The new channel brings a new listing.
        QTRY_VERIFY2_WITH_TIMEOUT(run.logCount(listedLine) == 2, qPrintable(run.summary()),
                                  kListingTimeoutMs);
    }

    const quint32 window = m_display->shownWindow(connectedTitle);
    QVERIFY(window != 0);
    QVERIFY2(m_display->requestClose(window), qPrintable(m_display->lastError()));
    QTRY_VERIFY2_WITH_TIMEOUT(run.process().state() == QProcess::NotRunning,
                              qPrintable(run.summary()), kExitTimeoutMs);
    QCOMPARE(run.process().exitStatus(), QProcess::NormalExit);
    QVERIFY2(run.process().exitCode() == 0, qPrintable(run.summary()));
    QVERIFY2(run.processesLeft().isEmpty(), qPrintable(run.processesLeft().join(QLatin1Char(' '))));
    // A thread still running at exit would have been reported by QThread's destructor.
    QVERIFY2(
        !run.log().contains(QStringLiteral("QThread: Destroyed while thread is still running")),
        qPrintable(run.summary()));
}

void tst_Program::cancelledLoginEndsWithZero()
{
    if (!m_skipReason.isEmpty())
        QSKIP(qPrintable(m_skipReason));
    ProgramRun run;
    QString error;
    QVERIFY2(run.prepare(&error), qPrintable(error));
    run.start(m_display->name());
    QVERIFY2(waitForWindow(*m_display, run, kDialogTitleZh, kWindowTimeoutMs) != 0,
             qPrintable(run.summary()));
    QVERIFY(m_display->requestClose(m_display->shownWindow(kDialogTitleZh)));
    QTRY_VERIFY2_WITH_TIMEOUT(run.process().state() == QProcess::NotRunning,
                              qPrintable(run.summary()), kExitTimeoutMs);
    QCOMPARE(run.process().exitStatus(), QProcess::NormalExit);
    QVERIFY2(run.process().exitCode() == 0, qPrintable(run.summary()));
    QVERIFY(!run.log().contains(QStringLiteral("LoginDialog::attemptConnection")));
    QVERIFY(!QFile::exists(run.filePath(QStringLiteral("settings.ini"))));
}

void tst_Program::installedProgramKeepsTheOperatorsFilesInTheirOwnFolder()
{
    if (!m_skipReason.isEmpty())
        QSKIP(qPrintable(m_skipReason));
    QTemporaryDir prefix;
    QVERIFY(prefix.isValid());
    QVERIFY(QFile::setPermissions(prefix.path(), QFile::ReadOwner | QFile::WriteOwner |
                                                     QFile::ExeOwner | QFile::ReadOther |
                                                     QFile::ExeOther));
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start(QStringLiteral(CNC_CMAKE_COMMAND),
                  {QStringLiteral("--install"), QStringLiteral(CNC_BUILD_DIR),
                   QStringLiteral("--prefix"), prefix.path()});
    QVERIFY(install.waitForFinished(120000));
    QVERIFY2(install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0,
             install.readAll().constData());

    // The program and every icon it loads share one directory; bin holds a link to it.
    const QDir programDir(prefix.filePath(QStringLiteral("lib/cnc-file-manager")));
    const QString program = programDir.filePath(QStringLiteral("cnc-file-manager"));
    QVERIFY(QFileInfo(program).isExecutable());
    const QDir builtDir = QFileInfo(QStringLiteral(CNC_PROGRAM_FILE)).dir();
    const QStringList icons = builtDir.entryList({QStringLiteral("*.png")}, QDir::Files);
    QVERIFY(!icons.isEmpty());
    for (const QString &icon : icons)
        QVERIFY2(programDir.exists(icon), qPrintable(icon));
    const QFileInfo link(prefix.filePath(QStringLiteral("bin/cnc-file-manager")));
    QVERIFY(link.isSymLink());
    QCOMPARE(link.canonicalFilePath(), QFileInfo(program).canonicalFilePath());
    QFile desktopEntry(
        prefix.filePath(QStringLiteral("share/applications/cnc-file-manager.desktop")));
    QVERIFY(desktopEntry.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList entryLines =
        QString::fromUtf8(desktopEntry.readAll()).split(QLatin1Char('\n'));
    QVERIFY2(entryLines.contains(QStringLiteral("Exec=") + program),
             qPrintable(entryLines.join(QLatin1Char('\n'))));

    // What an administrator presets for everyone: an address, the language, the controller's
    // key. The directory and the files belong to root.
    const QString address = m_sim->address();
    const QString presetAddress = QStringLiteral("10.213.254.254");
    {
        QSettings preset(programDir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
        preset.setValue(QStringLiteral("lastSuccessfulIp"), presetAddress);
        preset.setValue(QStringLiteral("language"), QStringLiteral("en"));
    }
    QFile marker(programDir.filePath(QStringLiteral("en.txt")));
    QVERIFY(marker.open(QIODevice::WriteOnly));
    marker.close();
    const QByteArray presetKeys = m_sim->scanHostKey(QStringLiteral("ed25519"));
    QVERIFY2(!presetKeys.isEmpty(), qPrintable(m_sim->lastError()));
    QFile keys(programDir.filePath(QStringLiteral("known_hosts")));
    QVERIFY(keys.open(QIODevice::WriteOnly));
    keys.write(presetKeys);
    keys.close();

    QTemporaryDir home;
    QVERIFY(home.isValid());
    QVERIFY(::chown(QFile::encodeName(home.path()).constData(), 65534, 65534) == 0);

    // The operator starts it through the link: the English dialog (en.txt of the installation),
    // the preset address replaced, the English window (the preset language).
    ProgramRun run;
    run.start(m_display->name(), link.filePath(), home.path());
    QVERIFY2(waitForWindow(*m_display, run, kDialogTitleEn, kWindowTimeoutMs) != 0,
             qPrintable(run.summary()));
    QVERIFY(m_display->focus(m_display->shownWindow(kDialogTitleEn)));
    QVERIFY(m_display->pressKeys({QStringLiteral("ctrl+a"), QStringLiteral("BackSpace")}));
    QVERIFY(m_display->typeText(address));
    QVERIFY(m_display->pressKeys({QStringLiteral("Return")}));
    const QString connectedTitle =
        QStringLiteral("CNC Controller File Manager - Connected to %1").arg(address);
    const quint32 window = waitForWindow(*m_display, run, connectedTitle, kWindowTimeoutMs);
    QVERIFY2(window != 0, qPrintable(run.summary()));
    QVERIFY(m_display->requestClose(window));
    QTRY_VERIFY2_WITH_TIMEOUT(run.process().state() == QProcess::NotRunning,
                              qPrintable(run.summary()), kExitTimeoutMs);
    QVERIFY2(run.process().exitCode() == 0, qPrintable(run.summary()));

    // The operator's folder holds the settings with the new address, and the preset key,
    // which matched: nothing was added. The installation is as the administrator left it.
    const QDir own(home.filePath(QStringLiteral(".config/cnc-file-manager")));
    QSettings settings(own.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    QCOMPARE(settings.value(QStringLiteral("lastSuccessfulIp")).toString(), address);
    QCOMPARE(settings.value(QStringLiteral("language")).toString(), QStringLiteral("en"));
    QFile ownKeys(own.filePath(QStringLiteral("known_hosts")));
    QVERIFY(ownKeys.open(QIODevice::ReadOnly));
    QCOMPARE(ownKeys.readAll(), presetKeys);
    QCOMPARE(QFileInfo(ownKeys).ownerId(), 65534u);
    QVERIFY(!own.exists(QStringLiteral("en.txt")));
    QSettings installed(programDir.filePath(QStringLiteral("settings.ini")), QSettings::IniFormat);
    QCOMPARE(installed.value(QStringLiteral("lastSuccessfulIp")).toString(), presetAddress);
}

QTEST_GUILESS_MAIN(tst_Program)
#include "tst_program.moc"
