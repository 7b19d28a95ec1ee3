// Remote delete and folder creation: the SFTP route for ASCII paths, the shell route with its
// markers for the others, and paths that hold characters the shell would act on.
#include "SimController.h"
#include "WorkerHarness.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTest>

namespace {

const QString kRemoteRoot = QStringLiteral("/home/pi/cnc/");

} // namespace

class TestConnectionRemoteOps : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup() { m_harness.reset(); }

    void asciiPathGoesBySftp_data();
    void asciiPathGoesBySftp();
    void nonAsciiPathGoesByShell_data();
    void nonAsciiPathGoesByShell();
    void dangerousNamesAreOneLiteralArgument();

private:
    QString onController(const QString &name) const { return QDir(m_sim.rootDir()).filePath(name); }
    bool makeDir(const QString &name) const { return QDir(m_sim.rootDir()).mkpath(name); }
    bool makeFile(const QString &name) const
    {
        QFile file(onController(name));
        return file.open(QIODevice::WriteOnly) && file.write("M30\n") == 4;
    }
    // Runs one request in the worker; returns the marker line count it added to the output.
    int markersAfter(const std::function<void()> &request, const QString &marker);

    SimController m_sim;
    std::unique_ptr<WorkerHarness> m_harness;
};

void TestConnectionRemoteOps::initTestCase()
{
    CNC_REQUIRE_SIM();
    QVERIFY2(m_sim.start(), qPrintable(m_sim.lastError()));
    ConnectionLog::install();
}

void TestConnectionRemoteOps::init()
{
    ConnectionLog::clear();
    m_harness = std::make_unique<WorkerHarness>(m_sim.address());
    m_harness->start();
    QVERIFY(m_harness->waitReady());
    // The shell has printed its banner and prompt; what follows belongs to the test.
    QCOMPARE(countMarkerLines(m_harness->shell("echo \"SHELL\"\"_READY\""), "SHELL_READY"), 1);
}

void TestConnectionRemoteOps::asciiPathGoesBySftp_data()
{
    QTest::addColumn<QString>("request"); // "delete <type>" or "create"
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("existing"); // "file", "dir", "full dir" or ""
    QTest::addColumn<bool>("succeeds");
    QTest::addColumn<bool>("existsAfter");

    QTest::newRow("delete file") << "delete file"
                                 << "old.nc"
                                 << "file" << true << false;
    QTest::newRow("delete dir") << "delete dir"
                                << "old_dir"
                                << "dir" << true << false;
    QTest::newRow("delete missing") << "delete file"
                                    << "gone.nc"
                                    << "" << false << false;
    QTest::newRow("Dir is a file") << "delete Dir"
                                   << "dir_Dir"
                                   << "dir" << false << true;
    QTest::newRow("folder is a file") << "delete folder"
                                      << "dir_folder"
                                      << "dir" << false << true;
    // A failing job has no shell fallback.
    QTest::newRow("delete full dir") << "delete dir"
                                     << "full_dir"
                                     << "full dir" << false << true;
    QTest::newRow("create") << "create"
                            << "new_dir"
                            << "" << true << true;
    QTest::newRow("create, parent missing") << "create"
                                            << "no/parent"
                                            << "" << false << false;
    QTest::newRow("create existing") << "create"
                                     << "programs"
                                     << "dir" << false << true;
}

void TestConnectionRemoteOps::asciiPathGoesBySftp()
{
    QFETCH(QString, request);
    QFETCH(QString, name);
    QFETCH(QString, existing);
    QFETCH(bool, succeeds);
    QFETCH(bool, existsAfter);

    if (existing == "file")
        QVERIFY(makeFile(name));
    else if (existing.endsWith("dir"))
        QVERIFY(makeDir(name));
    if (existing == "full dir")
        QVERIFY(makeFile(name + "/inside.nc"));

    CConnectionForSshClient *const worker = m_harness->worker();
    const QString path = kRemoteRoot + name;
    QVERIFY(m_harness->inWorker([&] {
        if (request == "create")
            worker->slotCreateRemoteFolder(path);
        else
            worker->slotDeleteRemotePath(path, request.section(' ', 1));
    }));
    QTRY_COMPARE_WITH_TIMEOUT(m_harness->jobSpy.count(), 1, 15000);
    // The report is the job's end: the controller's files have changed already.
    QCOMPARE(QFileInfo::exists(onController(name)), existsAfter);
    QVERIFY(m_harness->jobSpy.at(0).at(0).value<QSsh::SftpJobId>() != QSsh::SftpInvalidJob);
    QCOMPARE(m_harness->jobSpy.at(0).at(1).toString().isEmpty(), succeeds);

    for (const auto &line : ConnectionLog::lines())
        QVERIFY2(!line.text.contains("shell command"), qPrintable(line.text));
    const QString start = request == "create" ? "Initiating SFTP folder creation via slot: "
                                              : "Initiating SFTP deletion via slot: ";
    QCOMPARE(ConnectionLog::count(start + path), 1);
}

void TestConnectionRemoteOps::nonAsciiPathGoesByShell_data()
{
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("existing"); // made under this name before the request
    QTest::addColumn<QString>("command");  // as sent, without its line feed
    QTest::addColumn<QString>("marker");
    QTest::addColumn<QString>("checkName"); // exists afterwards?
    QTest::addColumn<bool>("existsAfter");

    QTest::newRow("Chinese dir")
        << "delete dir"
        << "/home/pi/cnc/中文目录"
        << "中文目录/子目录"
        << "rm -rf \"/home/pi/cnc/中文目录\" && echo \"DELETE_SUCCESS\" || echo \"DELETE_FAILED\""
        << "DELETE_SUCCESS"
        << "中文目录" << false;
    // Sent composed (NFC); the controller's file has the composed name.
    QTest::newRow("decomposed accent")
        << "delete file" << QString::fromUtf8("/home/pi/cnc/cafe\xcc\x81.nc")
        << QString::fromUtf8("caf\xc3\xa9.nc")
        << QString::fromUtf8("rm -f \"/home/pi/cnc/caf\xc3\xa9.nc\" && echo \"DELETE_SUCCESS\" || "
                             "echo \"DELETE_FAILED\"")
        << "DELETE_SUCCESS" << QString::fromUtf8("caf\xc3\xa9.nc") << false;
    QTest::newRow("Dir is a file")
        << "delete Dir"
        << "/home/pi/cnc/目录"
        << "目录/"
        << "rm -f \"/home/pi/cnc/目录\" && echo \"DELETE_SUCCESS\" || echo \"DELETE_FAILED\""
        << "DELETE_FAILED"
        << "目录" << true;
    QTest::newRow("delete missing")
        << "delete file"
        << "/home/pi/cnc/没有.nc"
        << ""
        << "rm -f \"/home/pi/cnc/没有.nc\" && echo \"DELETE_SUCCESS\" || echo \"DELETE_FAILED\""
        << "DELETE_SUCCESS"
        << "没有.nc" << false;
    QTest::newRow("create with parents")
        << "create"
        << "/home/pi/cnc/新/子/孙"
        << ""
        << "mkdir -p \"/home/pi/cnc/新/子/孙\" && echo \"CREATE_SUCCESS\" || echo \"CREATE_FAILED\""
        << "CREATE_SUCCESS"
        << "新/子/孙" << true;
    QTest::newRow("create existing")
        << "create"
        << "/home/pi/cnc/已有"
        << "已有/"
        << "mkdir -p \"/home/pi/cnc/已有\" && echo \"CREATE_SUCCESS\" || echo \"CREATE_FAILED\""
        << "CREATE_SUCCESS"
        << "已有" << true;
    QTest::newRow("create over a file")
        << "create"
        << "/home/pi/cnc/零件.nc"
        << ""
        << "mkdir -p \"/home/pi/cnc/零件.nc\" && echo \"CREATE_SUCCESS\" || echo \"CREATE_FAILED\""
        << "CREATE_FAILED"
        << "零件.nc" << true;
}

void TestConnectionRemoteOps::nonAsciiPathGoesByShell()
{
    QFETCH(QString, request);
    QFETCH(QString, path);
    QFETCH(QString, existing);
    QFETCH(QString, command);
    QFETCH(QString, marker);
    QFETCH(QString, checkName);
    QFETCH(bool, existsAfter);

    if (existing.endsWith('/'))
        QVERIFY(makeDir(existing));
    else if (existing.contains('/'))
        QVERIFY(makeDir(existing));
    else if (!existing.isEmpty())
        QVERIFY(makeFile(existing));

    CConnectionForSshClient *const worker = m_harness->worker();
    const int markersBefore = countMarkerLines(m_harness->output(), marker);
    QVERIFY(m_harness->inWorker([&] {
        if (request == "create")
            worker->slotCreateRemoteFolder(path);
        else
            worker->slotDeleteRemotePath(path, request.section(' ', 1));
    }));
    // Reported at once, before the shell has answered.
    QCOMPARE(m_harness->jobSpy.count(), 1);
    QCOMPARE(m_harness->jobSpy.at(0).at(0).value<QSsh::SftpJobId>(), QSsh::SftpJobId(1));
    QCOMPARE(m_harness->jobSpy.at(0).at(1).toString(), QString());
    QCOMPARE(ConnectionLog::count("Path contains non-ASCII characters, using shell command for: " +
                                  command.section('"', 1, 1)),
             1);
    QCOMPARE(ConnectionLog::count("Sending shell command: " + command), 1);
    QCOMPARE(ConnectionLog::count("CConnectionForSshClient ssh send " + command + '\n'), 1);

    QTRY_COMPARE_WITH_TIMEOUT(countMarkerLines(m_harness->output(), marker), markersBefore + 1,
                              15000);
    const QString other = marker.endsWith("SUCCESS") ? QString(marker).replace("SUCCESS", "FAILED")
                                                     : QString(marker).replace("FAILED", "SUCCESS");
    QCOMPARE(countMarkerLines(m_harness->output(), other), 0);
    QCOMPARE(QFileInfo::exists(onController(checkName)), existsAfter);
}

// Each name must come out on the controller exactly as given, and act on nothing else.
void TestConnectionRemoteOps::dangerousNamesAreOneLiteralArgument()
{
    QFile::remove("/tmp/owned");
    QCOMPARE(m_sim.exec({"rm", "-f", "/tmp/owned"}), 0);
    // What a name would reach if its characters were left to the shell.
    QVERIFY(makeDir("危"));
    QVERIFY(makeFile("危/sentinel.nc"));

    const QStringList names = {"危\"q",
                               "危\\\\x",
                               "危$HOME",
                               "危`echo sentinel.nc`",
                               "危!!x",
                               "危 a  b",
                               "危'single'",
                               "危$(touch /tmp/owned)",
                               "危`touch /tmp/owned`",
                               "危\" ; touch /tmp/owned ; echo \"",
                               "危\"$(touch /tmp/owned)\"",
                               "危\\\"; touch /tmp/owned #"};
    CConnectionForSshClient *const worker = m_harness->worker();
    for (const QString &name : names) {
        const QString path = kRemoteRoot + name;
        QCOMPARE(markersAfter([&] { worker->slotCreateRemoteFolder(path); }, "CREATE_SUCCESS"), 1);
        QVERIFY2(QFileInfo(onController(name)).isDir(), qPrintable(name));
        QCOMPARE(markersAfter([&] { worker->slotDeleteRemotePath(path, "dir"); }, "DELETE_SUCCESS"),
                 1);
        QVERIFY2(!QFileInfo::exists(onController(name)), qPrintable(name));
    }
    QCOMPARE(QDir(onController("危")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries),
             QStringList{"sentinel.nc"});
    QVERIFY(!QFile::exists("/tmp/owned"));
    QVERIFY(m_sim.exec({"test", "-e", "/tmp/owned"}) != 0);
    QCOMPARE(countMarkerLines(m_harness->output(), "CREATE_FAILED"), 0);
    QCOMPARE(countMarkerLines(m_harness->output(), "DELETE_FAILED"), 0);
}

int TestConnectionRemoteOps::markersAfter(const std::function<void()> &request,
                                          const QString &marker)
{
    const int before = countMarkerLines(m_harness->output(), marker);
    m_harness->inWorker(request);
    // The shell's answer to a further command comes after the answer to this one.
    m_harness->shell("true");
    return countMarkerLines(m_harness->output(), marker) - before;
}

QTEST_GUILESS_MAIN(TestConnectionRemoteOps)
#include "tst_connection_remoteops.moc"
