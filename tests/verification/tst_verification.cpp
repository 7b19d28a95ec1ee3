// Verified transfers, the comparison of a controller's file with a local one, and the history
// they leave, through the main window against a simulated controller of each SSH server.
#include "LineDifference.h"
#include "ModalAnswerer.h"
#include "OperationHistory.h"
#include "WindowTestSupport.h"

#include <QAction>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPlainTextEdit>
#include <QTextBlock>
#include <QtTest>

using Server = SimController::Server;

class TestVerification : public QObject
{
    Q_OBJECT
private slots:
    void cleanupTestCase() { QFile::remove(settingsPath()); }
    void lineDifferences_data();
    void lineDifferences();
    void transfersCheckedAndRecorded_data();
    void transfersCheckedAndRecorded();
    void compareWithLocalFile();

private:
    SimController m_sim;
};

void TestVerification::lineDifferences_data()
{
    QTest::addColumn<QByteArray>("first");
    QTest::addColumn<QByteArray>("second");
    QTest::addColumn<int>("line");
    QTest::addColumn<QString>("firstLine"); // "<end>" for a text that has ended
    QTest::addColumn<QString>("secondLine");
    QTest::newRow("same") << QByteArray("G0\nG1\n") << QByteArray("G0\nG1\n") << 0 << ""
                          << "";
    QTest::newRow("second line") << QByteArray("G0\nG1 F300\nM30\n")
                                 << QByteArray("G0\nG1 F400\nM30\n") << 2 << "G1 F300"
                                 << "G1 F400";
    QTest::newRow("first byte") << QByteArray("X") << QByteArray("Y\n") << 1 << "X"
                                << "Y";
    QTest::newRow("one is longer") << QByteArray("G0\n") << QByteArray("G0\nM30\n") << 2 << "<end>"
                                   << "M30";
    QTest::newRow("empty line against end") << QByteArray("a\n\n") << QByteArray("a\n") << 2 << ""
                                            << "<end>";
    QTest::newRow("line end differs")
        << QByteArray("G0\r\nG1\n") << QByteArray("G0\nG1\n") << 1 << "G0\r"
        << "G0";
    QTest::newRow("Chinese") << QByteArray("（注释）\n零件 1\n") << QByteArray("（注释）\n零件 2\n")
                             << 2 << "零件 1"
                             << "零件 2";
}

void TestVerification::lineDifferences()
{
    QFETCH(QByteArray, first);
    QFETCH(QByteArray, second);
    QFETCH(int, line);
    const LineDifference difference = LineDifference::between(first, second);
    QCOMPARE(difference.line, line);
    if (line == 0)
        return;
    const auto shown = [](const QString &text) {
        return text.isNull() ? "<end>" : text;
    };
    QTEST(shown(difference.first), "firstLine");
    QTEST(shown(difference.second), "secondLine");
    QVERIFY(LineDifference::isText(first));
    QVERIFY(!LineDifference::isText(QByteArray("G0\0G1", 5)));
    QVERIFY(!LineDifference::isText(QByteArray("\xff\xfe")));
}

namespace {

// The log lines in red.
QStringList failureLines(const QWidget &window)
{
    QStringList lines;
    const auto *log = window.findChild<QPlainTextEdit *>("m_logEdit");
    for (QTextBlock block = log->document()->begin(); block.isValid(); block = block.next()) {
        const QTextCharFormat format = QTextCursor(block).charFormat();
        if (format.foreground().style() != Qt::NoBrush)
            lines << block.text().section(" - ", 1);
    }
    return lines;
}

QList<QJsonObject> historyOf(const QString &address)
{
    QList<QJsonObject> events;
    QFile file(OperationHistory::filePath(address));
    if (!file.open(QIODevice::ReadOnly))
        return events;
    for (const QByteArray &line : file.readAll().split('\n')) {
        if (!line.isEmpty())
            events << QJsonDocument::fromJson(line).object();
    }
    return events;
}

QString hashText(const QString &path)
{
    return QString::fromLatin1(fileHash(path));
}

} // namespace

void TestVerification::transfersCheckedAndRecorded_data()
{
    SimController::addServerColumn();
    for (const Server server : {Server::OpenSsh, Server::Dropbear})
        SimController::newServerRow(server);
}

// Each transfer is checked end to end and says so in the log; a copy changed on its way is a
// failure that leaves the file on either side as it was; with verification off the log says
// that files were not verified. Every operation is in the controller's history.
void TestVerification::transfersCheckedAndRecorded()
{
    QFETCH(Server, server);
    setSetting("language", "en");
    setSetting("verifyTransfers", "true");
    SimController::Options options;
    options.server = server;
    // The fault that changes a byte on its way lives in OpenSSH's SFTP relay; Dropbear's
    // controller has no sha256sum, so its copies are read back.
    const bool openssh = server == Server::OpenSsh;
    options.sftpHold = openssh;
    options.noSha256sum = !openssh;
    CNC_START_SIM(m_sim, options);
    QFile::remove(OperationHistory::filePath(m_sim.address()));
    emptyFolder(m_sim.rootDir());
    const QDir root(m_sim.rootDir());
    QTemporaryDir local;
    const QString v1 = local.filePath("v1/part $(touch pwned).nc");
    const QString v2 = local.filePath("v2/part $(touch pwned).nc");
    QVERIFY(QDir().mkpath(local.filePath("v1")) && QDir().mkpath(local.filePath("v2")));
    QVERIFY(writeRandomFile(v1, 3 << 20) && writeRandomFile(v2, 3 << 20));
    const QString name = QFileInfo(v1).fileName(), target = root.filePath(name);

    ControllerSession session(m_sim.address());
    mainwindow &window = session.open();
    QVERIFY(session.waitListed({}));
    ModalAnswerer answer;
    // Clicks Upload or Download, answers its dialogs, and returns the log lines from the
    // transfer's own on, once the line after it is there.
    const auto transfer = [&](const char *buttonName, const QString &choice, bool replace) {
        const int mark = session.logSize();
        answer.answerFileDialog(choice);
        if (replace)
            answer.answerPrompts({"replace"});
        button(window, buttonName)->click();
        (void)QTest::qWaitFor(
            [&] {
                const QStringList lines = session.logSince(mark);
                const int job = lines.indexOf(QRegularExpression("SFTP task \\d+ .*"));
                return job >= 0 && job + 1 < lines.size();
            },
            30000);
        answer.reset();
        const QStringList lines = session.logSince(mark);
        return lines.mid(lines.indexOf(QRegularExpression("SFTP task \\d+ .*")));
    };
    const auto verified = [&](const QString &path) {
        return "Verified " + name + ": SHA-256 " + hashText(path).left(12);
    };

    QStringList lines = transfer("m_btnUpload", v1, false);
    QCOMPARE(lines.value(1), verified(v1));
    QCOMPARE(hashText(target), hashText(v1));
    QVERIFY(!QFile::exists(root.filePath("pwned")));
    QVERIFY(session.waitListed({name}));
    QVERIFY(selectRows(window, {name}));
    const QString copy = local.filePath("copy.nc");
    lines = transfer("m_btnDownload", copy, false);
    QCOMPARE(lines.value(1), verified(v1));
    QCOMPARE(hashText(copy), hashText(v1));

    // One byte changed on its way, each way: the upload's replacement and the download's new
    // file are not put in place.
    if (openssh) {
        QVERIFY2(m_sim.corruptNextTransfer("upload"), qPrintable(m_sim.lastError()));
        lines = transfer("m_btnUpload", v2, true);
        QVERIFY2(lines.value(0).startsWith("SFTP task"), qPrintable(lines.join('\n')));
        QVERIFY(lines.value(0).contains(" failed: "));
        const QString mismatch = "Verification failed: " + name + " differs between the controller";
        QVERIFY2(lines.value(1).startsWith(mismatch), qPrintable(lines.join('\n')));
        QVERIFY(lines.value(1).contains("this computer (SHA-256 " + hashText(v2).left(12) + ")"));
        QCOMPARE(hashText(target), hashText(v1));
        QVERIFY(session.waitListed({name}));
        QVERIFY(selectRows(window, {name}));
        QVERIFY2(m_sim.corruptNextTransfer("download"), qPrintable(m_sim.lastError()));
        const QString fresh = local.filePath("fresh.nc");
        lines = transfer("m_btnDownload", fresh, false);
        QVERIFY2(lines.value(1).startsWith(mismatch), qPrintable(lines.join('\n')));
        QVERIFY(!QFile::exists(fresh));
        QCOMPARE(failureLines(window).filter("Verification failed").size(), 2);
        QCOMPARE(strayTemporaries(root.path()), QStringList());
        QCOMPARE(strayTemporaries(local.path()), QStringList());
    }

    // Switched off: the log says so, and so does the next transfer.
    auto *verify = window.findChild<QAction *>("verifyAction");
    verify->setChecked(false);
    QCOMPARE(logLines(window).constLast(), "Transfers will not be verified.");
    QCOMPARE(setting("verifyTransfers"), "false");
    QVERIFY(session.waitListed({name}));
    QVERIFY(selectRows(window, {name}));
    lines = transfer("m_btnDownload", copy + "2", false);
    QCOMPARE(lines.value(1), "Not verified: " + name + " (verification is switched off)");
    verify->setChecked(true);

    // Every operation and every check, in order, with the controller's key.
    const QList<QJsonObject> history = historyOf(m_sim.address());
    QStringList seen;
    for (const QJsonObject &event : history) {
        seen << event["operation"].toString() + ' ' + event["outcome"].toString();
        QCOMPARE(event["address"].toString(), m_sim.address());
        QVERIFY(event["hostKey"].toString().contains("SHA256:"));
        QVERIFY(QDateTime::fromString(event["time"].toString(), Qt::ISODateWithMs).isValid());
    }
    QStringList expected = {"upload succeeded", "verify verified", "download succeeded",
                            "verify verified"};
    if (openssh)
        expected << "upload failed"
                 << "verify mismatch"
                 << "download failed"
                 << "verify mismatch";
    QCOMPARE(seen, expected << "download succeeded"
                            << "verify unverified");
    QCOMPARE(history.at(1)["sha256"].toString(), hashText(v1));
    QCOMPARE(history.at(0)["localPath"].toString(), v1);
    QCOMPARE(history.at(0)["remotePath"].toString(), kRootDir + name);
}

// The controller's file against a local one: identical, or different with the first line
// where they part. Neither file changes.
void TestVerification::compareWithLocalFile()
{
    setSetting("language", "en");
    CNC_START_SIM(m_sim, {});
    emptyFolder(m_sim.rootDir());
    const QByteArray program = "G0 X0\nG1 X10 F300\nM30\n";
    QVERIFY(writeFile(QDir(m_sim.rootDir()).filePath("prog.nc"), program));
    QTemporaryDir local;
    const QString same = local.filePath("same.nc"), other = local.filePath("other.nc");
    QVERIFY(writeFile(same, program) && writeFile(other, "G0 X0\nG1 X10 F400\nM30\n"));
    ControllerSession session(m_sim.address());
    mainwindow &window = session.open();
    QVERIFY(session.waitListed({"prog.nc"}));
    QVERIFY(selectRows(window, {"prog.nc"}));
    auto *compare = window.findChild<QAction *>("compareAction");
    ModalAnswerer answer;
    ModalAnswerer::Seen seen;
    for (const QString &path : {same, other}) {
        answer.answerFileDialog(path);
        answer.answerBox(QMessageBox::Ok, &seen);
        compare->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(!seen.text.isEmpty(), 20000);
        if (path == same) {
            QCOMPARE(seen.text, "prog.nc on the controller and " + same +
                                    " are identical (SHA-256 " + hashText(same).left(12) + ").");
            seen = {};
        }
    }
    QCOMPARE(seen.text, "prog.nc on the controller and " + other + " are different.");
    QVERIFY2(seen.detail.endsWith(
                 "First difference at line 2:\ncontroller: G1 X10 F300\nlocal: G1 X10 F400"),
             qPrintable(seen.detail));
    QCOMPARE(readFile(QDir(m_sim.rootDir()).filePath("prog.nc")), program);
}

QTEST_MAIN(TestVerification)
#include "tst_verification.moc"
