// Upload, download, delete, new folder and rename through the main window, end to end against
// a simulated controller of each SSH server, with the dialogs answered as an operator would;
// and the progress line of transfers with its Cancel button.
#include "DropEvents.h"
#include "HistoryFormat.h"
#include "OperationHistory.h"
#include "RemoteFileName.h"
#include "WindowTestSupport.h"

#include <QtTest>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using Server = SimController::Server;

class TestFileOperations : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup() { m_answer.reset(); }
    void cleanupTestCase();
    void uploadAndDownload_data() { serverRows(); }
    void uploadAndDownload();
    void deleteCreateAndRename_data() { serverRows(); }
    void deleteCreateAndRename();
    void foldersUpDownAndDelete_data() { serverRows(); }
    void foldersUpDownAndDelete();
    void progressLineAndCancel();

private:
    static void serverRows();
    QString remote(const QString &name) const { return m_sim->rootDir() + '/' + name; }
    bool makeRemote(const QString &name, const QByteArray &bytes = "G0\n") const
    {
        return QDir().mkpath(QFileInfo(remote(name)).path()) && writeFile(remote(name), bytes);
    }
    // Lists the current folder again; true once it shows exactly `names`.
    bool refresh(const QStringList &names);
    // Clicks a button of the window and returns the log lines it wrote by the time the job
    // lines reach `jobs` (successes, or failures if asked for).
    QStringList click(const char *name, int jobs = 0, bool failures = false);
    QPushButton *clickable(const char *name) const { return button(*m_session->window, name); }

    SimController m_sims[2] = {SimController(Server::OpenSsh), SimController(Server::Dropbear)};
    std::unique_ptr<ControllerSession> m_sessions[2];
    SimController *m_sim = nullptr;
    ControllerSession *m_session = nullptr;
    ModalAnswerer m_answer;
};

void TestFileOperations::serverRows()
{
    SimController::addServerColumn();
    for (const Server server : {Server::OpenSsh, Server::Dropbear})
        SimController::newServerRow(server);
}

void TestFileOperations::initTestCase()
{
    for (SimController &sim : m_sims)
        CNC_START_SIM(sim, {});
}

// Every test runs in a connected window, in English, over an empty controller folder.
void TestFileOperations::init()
{
    setSetting("language", "en");
    const int index = QByteArray(QTest::currentDataTag()) == "Dropbear";
    m_sim = &m_sims[index];
    if (!m_sessions[index]) {
        m_sessions[index] = std::make_unique<ControllerSession>(m_sim->address());
        m_sessions[index]->open();
        // The first listing comes by itself, three seconds after the channel is ready.
        QTRY_VERIFY_WITH_TIMEOUT(logLines(*m_sessions[index]->window)
                                     .contains("Refreshing remote directory: " + kRootDir),
                                 30000);
    }
    m_session = m_sessions[index].get();
    emptyFolder(m_sim->rootDir());
    QVERIFY(refresh({}));
}

void TestFileOperations::cleanupTestCase()
{
    for (auto &session : m_sessions)
        session.reset();
    QFile::remove(settingsPath());
}

bool TestFileOperations::refresh(const QStringList &names)
{
    if (!QTest::qWaitFor([&] { return fileButtonsEnabled(*m_session->window); }, 30000))
        return false;
    // The listings the window begins by itself after an outcome must not empty the list under
    // the next step.
    if (!m_session->followUps->wait())
        return false;
    clickable("m_btnRefresh")->click();
    return m_session->waitListed(names, 10000);
}

QStringList TestFileOperations::click(const char *name, int jobs, bool failures)
{
    static const QRegularExpression success("^SFTP task \\d+ completed successfully\\.$");
    static const QRegularExpression failure("^SFTP task \\d+ failed: ");
    const int mark = m_session->logSize();
    clickable(name)->click();
    (void)QTest::qWaitFor(
        [&] {
            return m_session->logSince(mark).filter(failures ? failure : success).size() >= jobs;
        },
        30000);
    return m_session->logSince(mark);
}

void TestFileOperations::uploadAndDownload()
{
    mainwindow &window = *m_session->window;
    QTemporaryDir local, other;
    const QString source = local.filePath("part one.nc");
    // Beyond every window and read-ahead of both ends; and, below, an empty file.
    const QByteArray bytes = randomBytes(40 * 1024 * 1024 + 3, 1);
    QVERIFY(writeFile(source, bytes));

    m_answer.answerFileDialog(source);
    QCOMPARE(click("m_btnUpload", 1).value(0),
             "Requesting upload " + source + " to " + kRootDir + "part one.nc...");
    QCOMPARE(fileHash(remote("part one.nc")), fileHash(source));
    QCOMPARE(setting("lastUploadDir"), local.path());

    // A drop: an empty folder first (whose place becomes the upload folder), the file just sent
    // (replaced once the operator says so), files of 0 B, 1 B and 5 MiB, a web link. The log
    // shows a name that looks like markup as it is.
    QVERIFY(QDir(other.path()).mkdir("drawings"));
    const QString folder = other.filePath("drawings"), chinese = local.filePath("<b>零件&lt; b.nc");
    const QString one = local.filePath("one.nc"), five = local.filePath("five.nc");
    QVERIFY(writeFile(chinese, {}) && writeFile(one, "G") &&
            writeFile(five, randomBytes(5 << 20, 2)));
    // The progress line shows while the transfers run and goes when they are done.
    QStringList progressLine;
    EventRecorder recorder(window.findChild<QWidget *>("m_progressLine"), [&](QEvent *event) {
        if (event->type() == QEvent::Show || event->type() == QEvent::Hide)
            progressLine << (event->type() == QEvent::Show ? "shown" : "hidden");
    });
    bool requestOutstanding = false;
    QAction *uploadAction = window.findChild<QAction *>("uploadAction");
    connect(uploadAction, &QAction::changed, &recorder,
            [&] { requestOutstanding |= !uploadAction->isEnabled(); });
    int mark = m_session->logSize();
    m_answer.answerPrompts({"replace"});
    QVERIFY(dropUrls(&window, {QUrl::fromLocalFile(folder), QUrl::fromLocalFile(source),
                               QUrl("https://example.invalid/c.nc"), QUrl::fromLocalFile(chinese),
                               QUrl::fromLocalFile(one), QUrl::fromLocalFile(five)}));
    // The requests, whichever transfers end between them.
    QTRY_COMPARE(
        m_session->logSince(mark).filter(QRegularExpression("^(Drag and drop|Uploading) ")),
        QStringList({"Drag and drop upload " + source + " to " + kRootDir + "part one.nc...",
                     "Drag and drop upload " + chinese + " to " + kRootDir + "<b>零件&lt; b.nc...",
                     "Drag and drop upload " + one + " to " + kRootDir + "one.nc...",
                     "Drag and drop upload " + five + " to " + kRootDir + "five.nc...",
                     "Uploading 1 new folders and the 0 files in them to " + kRootDir + "..."}));
    QVERIFY(requestOutstanding);
    QCOMPARE(setting("lastUploadDir"), other.path());
    QTRY_COMPARE_WITH_TIMEOUT(m_session->logSince(mark).filter("completed").size(), 4, 30000);
    QCOMPARE(readFile(remote("<b>零件&lt; b.nc")), QByteArray());
    QCOMPARE(readFile(remote("one.nc")), QByteArray("G"));
    QCOMPARE(fileHash(remote("five.nc")), fileHash(five));
    QVERIFY(QFileInfo(remote("drawings")).isDir());
    QCOMPARE(progressLine, QStringList({"shown", "hidden"}));

    // One file, with ".." selected too, from a subfolder: the save dialog, named after it.
    QVERIFY(makeRemote("jobs/part.nc", bytes.left(300001)));
    QVERIFY(refresh({"part one.nc", "<b>零件&lt; b.nc", "one.nc", "five.nc", "drawings", "jobs"}));
    doubleClick(window, "jobs");
    QVERIFY(m_session->waitListed({"..", "part.nc"}));
    QVERIFY(selectRows(window, {"..", "part.nc"}));
    ModalAnswerer::Seen seen;
    m_answer.answerFileDialog(other.filePath("y.nc"), &seen);
    QCOMPARE(click("m_btnDownload", 1).value(0), "Requesting download " + kRootDir +
                                                     "jobs/part.nc to " + other.filePath("y.nc") +
                                                     "...");
    QCOMPARE(seen.detail, QStringLiteral("part.nc"));
    QCOMPARE(readFile(other.filePath("y.nc")), bytes.left(300001));
    QCOMPARE(setting("lastDownloadDir"), other.path());
    doubleClick(window, "..");

    // Several into a folder, a folder among them, and a name that a FAT stick would take for
    // the same file (older, so listed after its twin; skipped, as the operator says). The file
    // already there is replaced whole once the operator says so, not written over: its second
    // name keeps the old bytes.
    QVERIFY(makeRemote("A.NC", "the other program\n") && makeRemote("a.nc", bytes));
    QFile older(remote("A.NC"));
    QVERIFY(older.open(QIODevice::ReadWrite) &&
            older.setFileTime(QDateTime(QDate(2020, 1, 1), QTime(8, 0)),
                              QFileDevice::FileModificationTime));
    QVERIFY(refresh({"part one.nc", "<b>零件&lt; b.nc", "one.nc", "five.nc", "drawings", "jobs",
                     "a.nc", "A.NC"}));
    QTemporaryDir target;
    QVERIFY(writeFile(target.filePath("a.nc"), "the operator's own version\n"));
    QCOMPARE(::link(QFile::encodeName(target.filePath("a.nc")).constData(),
                    QFile::encodeName(target.filePath("a.keep")).constData()),
             0);
    QVERIFY(selectRows(window, {"jobs", "a.nc", "A.NC", "<b>零件&lt; b.nc", "one.nc", "five.nc"}));
    m_answer.answerFileDialog(target.path());
    m_answer.answerPrompts({"replace", "skip"});
    QCOMPARE(click("m_btnDownload", 5).mid(0, 2),
             QStringList({"Skipping A.NC: it would be saved as the same local file as a.nc.",
                          "Requesting download 5 files to " + target.path() + "..."}));
    QCOMPARE(readFile(target.filePath("jobs/part.nc")), bytes.left(300001));
    QCOMPARE(fileHash(target.filePath("a.nc")), fileHash(source));
    QCOMPARE(readFile(target.filePath("<b>零件&lt; b.nc")), QByteArray());
    QCOMPARE(readFile(target.filePath("one.nc")), QByteArray("G"));
    QCOMPARE(fileHash(target.filePath("five.nc")), fileHash(five));
    QCOMPARE(readFile(target.filePath("a.keep")), QByteArray("the operator's own version\n"));
}

void TestFileOperations::deleteCreateAndRename()
{
    mainwindow &window = *m_session->window;
    // Beside each entry of a lookalike name lies the entry it could be mistaken for; a link
    // row acts on the link.
    const QString lead = " lead.nc", decomposed = "cafe\u0301.nc", composed = "caf\u00e9.nc";
    for (const QString &name : {lead, QStringLiteral("lead.nc"), decomposed, composed})
        QVERIFY(makeRemote(name, name.toUtf8()));
    QVERIFY(makeRemote("target.nc", "G0 target\n") && makeRemote("full/in.nc") &&
            makeRemote("more/in.nc") && makeRemote("加工程序/子目录/零件.nc"));
    QVERIFY(QDir().mkpath(remote("empty")));
    QCOMPARE(::symlink("target.nc", QFile::encodeName(remote("link.nc")).constData()), 0);
    QVERIFY(refresh({lead, "lead.nc", decomposed, composed, "target.nc", "link.nc -> target.nc",
                     "full", "more", "empty", "加工程序"}));

    // Enter alone in the confirmation box picks Cancel: nothing is requested or logged.
    QSignalSpy deletes(&window, &mainwindow::sigDeleteRemotePath);
    QVERIFY(selectRows(window, {lead}));
    m_answer.onNext<QMessageBox>([](QMessageBox *box) { QTest::keyClick(box, Qt::Key_Return); });
    QVERIFY(click("m_btnDelete").isEmpty() && deletes.isEmpty());

    // The lookalikes downloaded and deleted are exactly the rows chosen, all by SFTP; and an
    // empty folder.
    QTemporaryDir local;
    QVERIFY(selectRows(window, {lead, "link.nc -> target.nc"}));
    m_answer.answerFileDialog(local.path());
    QCOMPARE(click("m_btnDownload", 2).filter("completed successfully").size(), 2);
    QCOMPARE(readFile(local.filePath(lead)), lead.toUtf8());
    QCOMPARE(readFile(local.filePath("link.nc")), QByteArray("G0 target\n"));
    QVERIFY(refresh({lead, "lead.nc", decomposed, composed, "target.nc", "link.nc -> target.nc",
                     "full", "more", "empty", "加工程序"}));
    QVERIFY(selectRows(window, {lead, "link.nc -> target.nc", decomposed, "empty"}));
    m_answer.answerBox(QMessageBox::Yes);
    QStringList lines = click("m_btnDelete", 4);
    QCOMPARE(lines.value(0), QStringLiteral("Requesting delete 4 items..."));
    QStringList requested;
    for (const QVariantList &request : qAsConst(deletes))
        requested << request.at(0).toString() + ':' + request.at(1).toString();
    requested.sort();
    QCOMPARE(requested, QStringList({kRootDir + lead + ":file", kRootDir + decomposed + ":file",
                                     kRootDir + "empty:dir", kRootDir + "link.nc:file"}));
    QVERIFY(!QFileInfo::exists(remote(decomposed)) && QFileInfo::exists(remote(composed)));

    // A folder named in Chinese, not empty, goes whole, as any other.
    QVERIFY(refresh({"lead.nc", composed, "target.nc", "full", "more", "加工程序"}));
    QVERIFY(selectRows(window, {"加工程序"}));
    m_answer.answerBox(QMessageBox::Yes);
    click("m_btnDelete", 1);
    QVERIFY(!QFileInfo::exists(remote("加工程序")));

    // Folders that are not empty: the box counts what would go; Cancel keeps them.
    QVERIFY(refresh({"lead.nc", composed, "target.nc", "full", "more"}));
    QVERIFY(selectRows(window, {"full", "more"}));
    QCOMPARE(clickable("m_btnDelete")->text(), QStringLiteral("Delete 2 Items"));
    ModalAnswerer::Seen box;
    m_answer.answerBox(QMessageBox::Cancel, &box);
    const int deletesBefore = int(deletes.size());
    clickable("m_btnDelete")->click();
    QTRY_COMPARE(box.detail,
                 QStringLiteral("2 folders, 2 files, 6 B\nThis operation cannot be undone."));
    QCOMPARE(int(deletes.size()), deletesBefore);
    QVERIFY(fileButtonsEnabled(window) && QFileInfo::exists(remote("full/in.nc")));

    // New folders: the default name; Chinese; blanks kept.
    QVERIFY(refresh({"lead.nc", composed, "target.nc", "full", "more"}));
    QSignalSpy creates(&window, &mainwindow::sigCreateRemoteFolder);
    m_answer.answerInput(QString());
    QCOMPARE(click("m_btnNewFolder", 1).value(0), "Creating folder: " + kRootDir + "New Folder");
    QVERIFY(QFileInfo(remote("New Folder")).isDir());
    for (const QString &name : QStringList{"零件 程序", "  edge  ", "   "}) {
        QTRY_VERIFY(fileButtonsEnabled(window));
        m_answer.answerInput(name);
        clickable("m_btnNewFolder")->click();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(remote(name)).isDir(), 30000);
    }
    // Paths keep the names of the folders they pass through as listed, byte for byte: typed
    // with decomposed accents in a folder named so, only the typed name is composed (no
    // composed twin of the folder appears); a rename in a folder whose name is not UTF-8.
    const QString cafe = "Cafe\u0301", latin1 = QSsh::remoteNameFromBytes("caf\xE9");
    const QByteArray latin1Dir = QFile::encodeName(m_sim->rootDir()) + "/caf\xE9";
    QVERIFY(makeRemote(cafe + "/in.nc") && ::mkdir(latin1Dir.constData(), 0755) == 0 &&
            ::close(::open((latin1Dir + "/a.nc").constData(), O_CREAT | O_WRONLY, 0644)) == 0);
    const auto removeLatin1Dir = qScopeGuard([&] { // QDir cannot name it
        for (const char *name : {"/a.nc", "/b.nc"})
            ::unlink((latin1Dir + name).constData());
        ::rmdir(latin1Dir.constData());
    });
    QTRY_VERIFY(fileButtonsEnabled(window));
    QStringList names{"lead.nc",   composed,   "target.nc", "more", "New Folder",
                      "零件 程序", "  edge  ", "   ",       cafe,   latin1};
    QVERIFY(refresh(names + QStringList{"full"}));
    doubleClick(window, cafe);
    QVERIFY(m_session->waitListed({"..", "in.nc"}));
    m_answer.answerInput("Re\u0301sume\u0301");
    clickable("m_btnNewFolder")->click();
    QCOMPARE(creates.last(), QVariantList{kRootDir + cafe + "/R\u00e9sum\u00e9"});
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(remote(cafe + "/R\u00e9sum\u00e9")).isDir(), 30000);
    QVERIFY(!QFileInfo::exists(remote("Caf\u00e9")));
    QVERIFY(refresh({"..", "in.nc", "R\u00e9sum\u00e9"}));

    // Renamed with F2, whatever the name; a name the list shows is refused at once, one taken
    // since the listing by the controller.
    const auto rename = [&](const QString &row, const QString &name) {
        QVERIFY(selectRows(window, {row}));
        m_answer.answerInput(name);
        auto *view = window.findChild<QTreeView *>("m_treeView");
        QApplication::setActiveWindow(&window);
        view->setFocus();
        QTest::keyClick(view, Qt::Key_F2);
    };
    doubleClick(window, "..");
    QVERIFY(m_session->waitListed(names + QStringList{"full"}));
    doubleClick(window, latin1);
    QVERIFY(m_session->waitListed({"..", "a.nc"}));
    rename("a.nc", "b.nc");
    QTRY_VERIFY_WITH_TIMEOUT(::access((latin1Dir + "/b.nc").constData(), F_OK) == 0, 30000);
    QVERIFY(refresh({"..", "b.nc"}));
    doubleClick(window, "..");
    QVERIFY(m_session->waitListed(names + QStringList{"full"}));
    rename("full", "加工\t程序");
    QTRY_VERIFY_WITH_TIMEOUT(
        logLines(window).contains("Renamed " + kRootDir + "full to " + kRootDir + "加工\t程序."),
        30000);
    QVERIFY(QFileInfo(remote("加工\t程序/in.nc")).isFile());
    QVERIFY(refresh(names + QStringList{"加工\t程序"}));
    ModalAnswerer::Seen seen;
    m_answer.answerBox(QMessageBox::Ok, &seen);
    rename("lead.nc", composed);
    QCOMPARE(seen.text, "\"" + composed + "\" already exists in this folder.");
    QVERIFY(makeRemote("late.nc", "G2\n"));
    rename("lead.nc", "late.nc");
    QTRY_VERIFY_WITH_TIMEOUT(
        !logLines(window).filter("Rename of " + kRootDir + "lead.nc failed: ").isEmpty(), 30000);
    QCOMPARE(readFile(remote("lead.nc")), QByteArray("lead.nc"));
    QCOMPARE(readFile(remote("late.nc")), QByteArray("G2\n"));
    rename("target.nc", "target.old");
    QTRY_VERIFY_WITH_TIMEOUT(logLines(window).contains("Renamed " + kRootDir + "target.nc to " +
                                                       kRootDir + "target.old."),
                             30000);
    QVERIFY(QFileInfo::exists(remote("target.old")) && !QFileInfo::exists(remote("target.nc")));
}

// A folder of awkward names goes up by a drop and comes back by Download, byte for byte; links
// inside are skipped, a name this computer cannot store is reported. Nothing is written over
// without the operator's word. A delete counts what goes first, removes the folder whatever its
// name, and one that fails part way says where and leaves the rest.
void TestFileOperations::foldersUpDownAndDelete()
{
    mainwindow &window = *m_session->window;
    QTemporaryDir local, outside, target;
    const QString job = local.filePath("job 作业");
    for (const char *file : {"主程序.nc", "sub program.nc", "it's $HOME `x`.nc", "a/b/deep.nc"}) {
        QVERIFY(QDir().mkpath(QFileInfo(job + '/' + file).path()));
        QVERIFY(writeFile(job + '/' + file, QByteArray(file) + "\nG0 X1\n"));
    }
    QVERIFY(QDir().mkpath(job + "/empty") && writeFile(outside.filePath("secret.nc"), "M30\n"));
    QCOMPARE(::symlink(QFile::encodeName(outside.path()).constData(),
                       QFile::encodeName(job + "/out").constData()),
             0);
    QMap<QByteArray, QByteArray> sent = treeOf(job);
    sent.remove("out");

    // Up: the link is skipped and logged, the rest arrives whole, and every folder it made
    // goes to the history.
    const auto history = [this] {
        return HistoryFormat::parse(readFile(OperationHistory::filePath(m_sim->address()))).events;
    };
    const int recorded = history().size();
    int mark = m_session->logSize();
    QVERIFY(dropUrls(&window, {QUrl::fromLocalFile(job)}));
    QTRY_COMPARE_WITH_TIMEOUT(m_session->logSince(mark).filter("completed successfully").size(), 4,
                              30000);
    QVERIFY(m_session->logSince(mark).contains("Skipping link " + job +
                                               "/out: links are not followed."));
    QCOMPARE(treeOf(remote("job 作业")), sent);
    QVERIFY(strayTemporaries(remote("job 作业")).isEmpty());
    QStringList made;
    for (const HistoryEvent &event : history().mid(recorded)) {
        if (event.operation == HistoryEvent::Operation::NewFolder &&
            event.outcome == HistoryEvent::Outcome::Succeeded)
            made << event.remotePath.mid(kRootDir.size());
    }
    made.sort();
    QCOMPARE(made, QStringList({"job 作业", "job 作业/a", "job 作业/a/b", "job 作业/empty"}));

    // Down, with a name that is not UTF-8 and a link added on the controller.
    const QByteArray root = QFile::encodeName(remote("job 作业"));
    QVERIFY(::close(::open((root + "/caf\xE9.nc").constData(), O_CREAT | O_WRONLY, 0644)) == 0);
    QCOMPARE(::symlink("/etc", (root + "/etc").constData()), 0);
    QVERIFY(refresh({"job 作业"}));
    QVERIFY(selectRows(window, {"job 作业"}));
    m_answer.answerFileDialog(target.path());
    QStringList lines = click("m_btnDownload", 4);
    QVERIFY(lines.contains("Skipping link " + kRootDir + "job 作业/etc: links are not followed."));
    QVERIFY(lines.contains("Skipping " + kRootDir + "job 作业/" +
                           QSsh::remoteNameFromBytes("caf\xE9.nc") +
                           ": its name cannot be stored on this computer."));
    QCOMPARE(treeOf(target.filePath("job 作业")), sent);

    // Up again, two files changed: Replace the first asked about, Skip all the rest. Then
    // Cancel at the first question: nothing goes.
    QVERIFY(writeFile(job + "/it's $HOME `x`.nc", "changed\n") &&
            writeFile(job + "/a/b/deep.nc", "changed\n"));
    QVERIFY(refresh({"job 作业"}));
    QList<ModalAnswerer::Seen> seen;
    m_answer.answerPrompts({"replace", "skipAll"}, &seen);
    mark = m_session->logSize();
    QVERIFY(dropUrls(&window, {QUrl::fromLocalFile(job)}));
    QTRY_COMPARE_WITH_TIMEOUT(m_session->logSince(mark).filter("completed successfully").size(), 1,
                              30000);
    QCOMPARE(seen.size(), 2);
    QCOMPARE(seen.at(0).text, "\"job 作业/a/b/deep.nc\" already exists. Replace it?");
    QVERIFY2(seen.at(0).detail.contains(QRegularExpression(
                 "^Existing \\(On the controller\\): 18 B, 20\\d\\d-.*\nNew \\(Local\\): 8 B, ")),
             qPrintable(seen.at(0).detail));
    QCOMPARE(readFile(remote("job 作业/a/b/deep.nc")), QByteArray("changed\n"));
    QCOMPARE(readFile(remote("job 作业/it's $HOME `x`.nc")),
             QByteArray("it's $HOME `x`.nc\nG0 X1\n"));
    QTRY_VERIFY(fileButtonsEnabled(window));
    m_answer.answerPrompts({"cancel"});
    mark = m_session->logSize();
    QVERIFY(dropUrls(&window, {QUrl::fromLocalFile(job)}));
    QTRY_VERIFY(m_session->logSince(mark).contains("Upload cancelled."));
    QCOMPARE(readFile(remote("job 作业/it's $HOME `x`.nc")),
             QByteArray("it's $HOME `x`.nc\nG0 X1\n"));

    // Two names one local folder would merge: both kept, the later under a free name.
    QVERIFY(makeRemote("twins/A.NC", "upper\n") && makeRemote("twins/a.nc", "lower\n"));
    QVERIFY(refresh({"job 作业", "twins"}));
    QVERIFY(selectRows(window, {"twins"}));
    m_answer.answerFileDialog(target.path());
    m_answer.answerPrompts({"replace"});
    click("m_btnDownload", 2);
    QStringList twins = QDir(target.filePath("twins")).entryList(QDir::Files);
    QCOMPARE(twins.size(), 2);
    QCOMPARE(readFile(target.filePath("twins/" + twins[0])) +
                 readFile(target.filePath("twins/" + twins[1])),
             twins[0].startsWith('A') ? QByteArray("upper\nlower\n")
                                      : QByteArray("lower\nupper\n"));

    // Delete: counted first, then gone whatever the name.
    QVERIFY(refresh({"job 作业", "twins"}));
    QVERIFY(selectRows(window, {"job 作业", "twins"}));
    ModalAnswerer::Seen box;
    m_answer.answerBox(QMessageBox::Yes, &box);
    click("m_btnDelete", 2);
    QCOMPARE(box.detail,
             QStringLiteral("5 folders, 8 files, 84 B\nThis operation cannot be undone."));
    QVERIFY(!QFileInfo::exists(remote("job 作业")) && !QFileInfo::exists(remote("twins")));
    QVERIFY(QFileInfo::exists(outside.filePath("secret.nc")));

    // A folder the controller will not let go of completely: the failure names the entry,
    // and what was not reached stays.
    QVERIFY(makeRemote("ro/keep/a.nc") && makeRemote("ro/keep/b.nc"));
    QVERIFY2(m_sim->setReadOnly("ro/keep", true), qPrintable(m_sim->lastError()));
    const auto writable = qScopeGuard([this] { m_sim->setReadOnly("ro/keep", false); });
    QVERIFY(refresh({"ro"}));
    QVERIFY(selectRows(window, {"ro"}));
    m_answer.answerBox(QMessageBox::Yes);
    lines = click("m_btnDelete", 1, true);
    QVERIFY2(lines.filter(QRegularExpression("failed: .*/ro/keep/[ab]\\.nc")).size() == 1,
             qPrintable(lines.join('\n')));
    QCOMPARE(QDir(remote("ro/keep")).entryList(QDir::Files).size(), 2);
    QVERIFY(refresh({"ro"}));
}

// A folder of two files downloaded over a slow link, one of them replacing a local file: the
// progress line shows them, in the language of the window; Cancel stops both, each logged by
// its name, and the local files stay as they were, with no temporaries left.
void TestFileOperations::progressLineAndCancel()
{
    QVERIFY(makeRemote("big/a.bin", randomBytes(16 << 20, 11)) &&
            makeRemote("big/b.bin", randomBytes(16 << 20, 12)));
    QVERIFY(refresh({"big"}));
    QTemporaryDir target;
    QVERIFY(QDir(target.path()).mkdir("big") &&
            writeFile(target.filePath("big/a.bin"), "the operator's own copy\n"));
    // Slow, yet not so slow that the answers to the reads still in flight take long.
    QCOMPARE(m_sim->exec({"tc", "qdisc", "replace", "dev", "eth0", "root", "tbf", "rate", "20mbit",
                          "burst", "16kb", "latency", "500ms"}),
             0);
    const auto unthrottle = qScopeGuard([this] {
        m_sim->exec({"tc", "qdisc", "del", "dev", "eth0", "root"});
    });
    mainwindow &window = *m_session->window;
    const auto *line = window.findChild<QWidget *>("m_progressLine");
    const auto text = [line](const char *name) {
        return line->findChild<QLabel *>(name)->text();
    };
    QVERIFY(!line->isVisible());

    int mark = m_session->logSize();
    QVERIFY(selectRows(window, {"big"}));
    m_answer.answerFileDialog(target.path());
    m_answer.answerPrompts({"replace"});
    clickable("m_btnDownload")->click();
    // The rate needs half a second of figures.
    QTRY_VERIFY_WITH_TIMEOUT(
        line->isVisible() && line->findChild<QProgressBar *>("progressBar")->value() > 0 &&
            text("progressBytes").endsWith(" / 32.0 MB") &&
            text("progressRate").contains(QRegularExpression("^[0-9.]+ [KM]B/s, [0-9:]+ left$")),
        30000);
    QCOMPARE(text("progressName"), QStringLiteral("1 of 2 files"));
    clickable("m_btnLanguage")->click();
    QCOMPARE(text("progressName"), QStringLiteral("第 1 个，共 2 个文件"));
    line->findChild<QPushButton *>("progressCancel")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!line->isVisible(), 30000);
    QStringList cancelled = m_session->logSince(mark).filter("传输已取消");
    cancelled.sort();
    QCOMPARE(cancelled, QStringList({"传输已取消: a.bin", "传输已取消: b.bin"}));
    QVERIFY(m_session->logSince(mark).filter("SFTP任务").isEmpty());
    QTRY_VERIFY(fileButtonsEnabled(window));
    QCOMPARE(QDir(target.filePath("big")).entryList(QDir::Files | QDir::Hidden),
             QStringList{"a.bin"});
    QCOMPARE(readFile(target.filePath("big/a.bin")), QByteArray("the operator's own copy\n"));
}

QTEST_MAIN(TestFileOperations)
#include "tst_fileoperations.moc"
