// Names that the shell would take for commands, listed, entered, transferred, deleted and
// created through the main window and a real connection worker: each stays the entry it names.
// The root shell gets one line at a time, and none that it cannot hold.
#include "ControllerShell.h"
#include "RemoteFileName.h"
#include "RemoteListRoles.h"
#include "ShellCommandQueue.h"
#include "ShellQuoting.h"
#include "SimController.h"
#include "TerminalText.h"
#include "WindowTestSupport.h"

#include <QtTest>

#include <dirent.h>
#include <sys/stat.h>

namespace {

// Names as bytes, the way the controller stores them: every control character in the middle
// and at the end, a trailing backslash, what the shell expands, keys that would run a command
// as root if typed raw (Ctrl+A/Ctrl+E around it, Ctrl+U before it and CR after it), bytes
// that are not UTF-8; blanks beyond ASCII, which ls prints bare, at the start, the end and in
// the middle beside the name without them; the prompt, and an arrow that is no link.
QList<QByteArray> hostileNames()
{
    QList<QByteArray> names = QByteArray("m\x7Fid/end\x7F/back\\/$HOME/a\"b/it's `here`!/"
                                         "$(touch owned)/\x01touch owned; \x05/\x15touch owned\r/"
                                         "caf\xE9/\xFF\xFE/\xE9\x9B\xB6\x1B\xE4\xBB\xB6")
                                  .split('/');
    for (char c = 1; c < 0x20; ++c)
        names << QByteArray("m") + c + "id" << QByteArray("end") + c;
    names << "x" << ControllerShell::prompt().toUtf8() + "x"
          << "y -> x";
    for (const char *blank : {"\xE3\x80\x80", "\xC2\xA0", "\xE2\x80\x83", "\xEF\xBB\xBF"})
        names << blank + QByteArray("x") << "x" + QByteArray(blank)
              << "x" + QByteArray(blank) + "y";
    return names;
}

// By the bytes of its name, which need not be UTF-8.
bool writeBytes(const QByteArray &path, const QByteArray &content)
{
    FILE *file = ::fopen(path.constData(), "wb");
    return file &&
           ::fwrite(content.constData(), 1, size_t(content.size()), file) ==
               size_t(content.size()) &&
           ::fclose(file) == 0;
}

QSet<QByteArray> entriesOf(const QByteArray &dir)
{
    QSet<QByteArray> entries;
    if (DIR *d = ::opendir(dir.constData())) {
        while (const dirent *entry = ::readdir(d)) {
            if (qstrcmp(entry->d_name, ".") && qstrcmp(entry->d_name, ".."))
                entries << entry->d_name;
        }
        ::closedir(d);
    }
    return entries;
}

// The controller's folder as the list must show it.
QStringList rootNames(const SimController &sim)
{
    return QDir(sim.rootDir()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot);
}

// Selects every row but "..", and deletes them with the box answered Delete.
void deleteAll(mainwindow &window, ModalAnswerer &answer)
{
    auto *view = window.findChild<QTreeView *>("m_treeView");
    view->selectAll();
    view->selectionModel()->select(listModel(window)->index(0, 0),
                                   QItemSelectionModel::Deselect | QItemSelectionModel::Rows);
    answer.answerBox(QMessageBox::Yes);
    button(window, "m_btnDelete")->click();
}

// The lines typed into the shell, as its echoes behind the prompt show them.
QStringList typedLines(const QString &output)
{
    QStringList typed;
    for (const QString &line : output.split(QLatin1Char('\n'))) {
        QString visible = TerminalText::stripControlSequences(line);
        visible.remove(QLatin1Char('\r'));
        if (visible.startsWith(ControllerShell::prompt()) &&
            visible.size() > ControllerShell::prompt().size())
            typed << visible.mid(ControllerShell::prompt().size());
    }
    return typed;
}

QString fallback(const char *command, const QString &path, const char *marker)
{
    return QStringLiteral("%1 \"%2\" && echo \"%3_SUCCESS\" || echo \"%3_FAILED\"")
        .arg(command, escapeForDoubleQuotes(path), marker);
}

} // namespace

class TestListingSim : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase() { QFile::remove(settingsPath()); }

    void hostileNamesAreData_data();
    void hostileNamesAreData();
    void oneLineAtATime();

private:
    SimController m_openssh;
};

void TestListingSim::initTestCase()
{
    QFile::remove(settingsPath());
    CNC_START_SIM(m_openssh, {});
}

void TestListingSim::hostileNamesAreData_data()
{
    QTest::addColumn<bool>("cLocale");
    QTest::newRow("UTF-8 locale") << false;
    // The line editor reads every byte of 0x80 and above as a Meta key there.
    QTest::newRow("C locale") << true;
}

// Every name is listed through the shell, entered, deleted and created as exactly that entry,
// in a folder named in Chinese and in one named in ASCII, and no part of a name runs as a
// command.
void TestListingSim::hostileNamesAreData()
{
    QFETCH(bool, cLocale);
    SimController::Options options;
    options.cLocale = cLocale;
    QVERIFY2(m_openssh.start(options), qPrintable(m_openssh.lastError()));
    const QByteArray root = QFile::encodeName(m_openssh.rootDir());
    const QByteArray chineseDir = root + "/中文夹";
    const QByteArray asciiDir = root + "/ascii";
    QVERIFY(::mkdir(chineseDir.constData(), 0755) == 0 && ::mkdir(asciiDir.constData(), 0755) == 0);
    const QList<QByteArray> names = hostileNames();
    QStringList listed{".."};
    for (int i = 0; i < names.size(); ++i) {
        QVERIFY(::mkdir((chineseDir + '/' + names[i]).constData(), 0755) == 0);
        QVERIFY(writeBytes(chineseDir + '/' + names[i] + "/in" + QByteArray::number(i), "G0\n"));
        QVERIFY(writeBytes(asciiDir + '/' + names[i], names[i]));
        listed << QSsh::remoteNameFromBytes(names[i]);
    }
    const QSet<QByteArray> rootBefore = entriesOf(root);
    QByteArray homeBefore;
    QCOMPARE(m_openssh.exec({"ls", "-A", "/root"}, &homeBefore), 0);

    ControllerSession session(m_openssh.address());
    mainwindow &window = session.open();
    ModalAnswerer answer;
    QVERIFY(session.waitListed(rootNames(m_openssh)));
    doubleClick(window, "中文夹");
    QVERIFY(session.waitListed(listed));
    for (int i = 0; i < names.size(); ++i) {
        doubleClick(window, QSsh::remoteNameFromBytes(names[i]));
        QVERIFY2(session.waitListed({"..", QStringLiteral("in%1").arg(i)}),
                 names[i].toPercentEncoding().constData());
        doubleClick(window, "..");
        QVERIFY(session.waitListed(listed));
    }
    // Deleted, each with what it holds.
    deleteAll(window, answer);
    QTRY_VERIFY_WITH_TIMEOUT(entriesOf(chineseDir).isEmpty(), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(logLines(window).filter("已成功完成").size(), names.size(), 10000);
    QVERIFY(session.waitListed({".."}));
    doubleClick(window, "..");
    QVERIFY(session.waitListed(rootNames(m_openssh)));
    doubleClick(window, "ascii");
    QVERIFY(session.waitListed(listed));
    // Read by SFTP through the name each row keeps, each file is the one named: its content
    // is its name. Then each deleted, and both folders' names created again.
    QTemporaryDir local;
    const int mark = session.logSize();
    QStringList rowNames;
    for (int row = 1; row < listModel(window)->rowCount(); ++row) // after ".."
        rowNames << listModel(window)->index(row, 0).data(RemoteNameRole).toString();
    QCOMPARE(rowNames.size(), names.size());
    for (int i = 0; i < rowNames.size(); ++i)
        emit window.sigDownloadFile(kRootDir + "ascii/" + rowNames[i],
                                    local.filePath(QString::number(i)));
    QTRY_COMPARE_WITH_TIMEOUT(session.logSince(mark).filter("已成功完成").size(), names.size(),
                              30000);
    for (int i = 0; i < rowNames.size(); ++i)
        QCOMPARE(readFile(local.filePath(QString::number(i))),
                 QSsh::remoteNameToBytes(rowNames[i]));
    QVERIFY(session.followUps->wait()); // the listings that follow the reports
    QVERIFY(session.waitListed(listed));
    deleteAll(window, answer);
    QTRY_VERIFY_WITH_TIMEOUT(entriesOf(asciiDir).isEmpty(), 30000);
    for (const QByteArray &name : names) {
        for (const char *dir : {"中文夹/", "ascii/"})
            emit window.sigCreateRemoteFolder(kRootDir + dir + QSsh::remoteNameFromBytes(name));
    }
    const QSet<QByteArray> all(names.cbegin(), names.cend());
    QTRY_VERIFY_WITH_TIMEOUT(entriesOf(chineseDir) == all && entriesOf(asciiDir) == all, 30000);
    for (const QByteArray &name : names) {
        struct stat info;
        QVERIFY(::stat((chineseDir + '/' + name).constData(), &info) == 0 && S_ISDIR(info.st_mode));
        QVERIFY(::stat((asciiDir + '/' + name).constData(), &info) == 0 && S_ISDIR(info.st_mode));
    }

    // Nothing ran: root's home and the controller's folder hold what they held.
    QByteArray homeAfter;
    QCOMPARE(m_openssh.exec({"ls", "-A", "/root"}, &homeAfter), 0);
    QCOMPARE(homeAfter, homeBefore);
    QCOMPARE(entriesOf(root), rootBefore);
}

// While a shell-route rm -rf runs, nothing is typed: a folder whose listing line would not fit
// the line editor is refused by the window, and by the worker; a request that waits too long
// is dropped and reported; a burst of deletes, creates and listings, with the window's
// refreshes among them, runs in order once the shell is back at its prompt, and nothing else.
// The folders are named so that a line cut at the terminal's 4095 bytes leaves a double quote
// open, which would make the name "x;touch owned;#" run a command.
void TestListingSim::oneLineAtATime()
{
    QVERIFY2(m_openssh.start({}), qPrintable(m_openssh.lastError()));
    const QString root = m_openssh.rootDir();
    const QStringList deep{QString(255, '!'), QString(255, '!'), QString(70, '!'),
                           "aaa" + QString(252, '!')};
    QVERIFY(QDir(root).mkpath("慢/a") && QDir(root).mkpath("中文/x;touch owned;#") &&
            QDir(root).mkpath(deep.join('/')));
    QVERIFY(writeFile(root + "/中文/删.nc", "") && writeFile(root + "/中文/留.nc", ""));
    QByteArray homeBefore;
    QCOMPARE(m_openssh.exec({"ls", "-A", "/root"}, &homeBefore), 0);

    ControllerSession session(m_openssh.address());
    mainwindow &window = session.open();
    QVERIFY(session.waitListed(rootNames(m_openssh)));
    for (int i = 0; i < 3; ++i) {
        doubleClick(window, deep[i]);
        QVERIFY(session.waitListed({"..", deep[i + 1]}));
    }
    const QString shown = kRootDir + deep.mid(0, 3).join('/') + '/';
    const QString tooLong = kRootDir + deep.join('/') + '/';
    const int mark = session.logSize();
    doubleClick(window, deep[3]);
    QCOMPARE(
        session.logSince(mark),
        QStringList(
            QStringLiteral("%1 的路径过长，无法输入控制器的shell；未列出该文件夹。").arg(tooLong)));
    QVERIFY(window.findChild<QLabel *>("m_pathLabel")->text().endsWith(shown));
    QCOMPARE(column(window), QStringList({"..", deep[3]}));

    QVERIFY(session.inWorker(
        [&] { session.worker()->findChild<ShellCommandQueue *>()->setMaxWait(3000); }));
    // With no SFTP channel ready, deletes and creates take the shell route.
    QVERIFY(session.inWorker([&] { session.worker()->getSftpChannel()->closeChannel(); }));
    QVERIFY(m_openssh.holdRm(true));
    const int start = session.output.lastIndexOf('\n') + 1; // from the prompt on
    emit window.sigDeleteRemotePath(kRootDir + "慢", "dir");
    QTRY_COMPARE(session.jobSpy.count(), 1);
    // Never typed, and reported.
    emit window.sigCreateRemoteFolder(kRootDir + "中文/过期");
    QTRY_COMPARE_WITH_TIMEOUT(session.jobSpy.count(), 2, 10000);
    QVERIFY(session.jobSpy.at(1).at(1).toString().contains("busy"));
    emit window.sigSend(ControllerShell::listingCommand(tooLong));
    emit window.sigDeleteRemotePath(kRootDir + "中文/x;touch owned;#", "dir");
    emit window.sigDeleteRemotePath(kRootDir + "中文/删.nc", "file");
    emit window.sigCreateRemoteFolder(kRootDir + "中文/新;touch made;#");
    emit window.sigSend(ControllerShell::listingCommand(kRootDir + "中文/"));
    emit window.sigSend(ControllerShell::listingCommand(kRootDir));
    QVERIFY(session.inWorker([] {}) && m_openssh.holdRm(false));

    const QString listRoot = ControllerShell::listingCommand(kRootDir).trimmed();
    QTRY_VERIFY_WITH_TIMEOUT(typedLines(session.output.mid(start)).contains(listRoot) &&
                                 session.output.endsWith(ControllerShell::prompt()),
                             10000);
    QVERIFY(session.waitListed({"..", deep[3]}));
    const QString output = session.output.mid(start);
    QStringList typed = typedLines(output);
    typed.removeAll(ControllerShell::listingCommand(shown).trimmed()); // the window's refreshes
    QCOMPARE(typed, QStringList({fallback("rm -rf", kRootDir + "慢", "DELETE"),
                                 fallback("rm -rf", kRootDir + "中文/x;touch owned;#", "DELETE"),
                                 fallback("rm -f", kRootDir + "中文/删.nc", "DELETE"),
                                 fallback("mkdir -p", kRootDir + "中文/新;touch made;#", "CREATE"),
                                 ControllerShell::listingCommand(kRootDir + "中文/").trimmed(),
                                 listRoot}));
    // The listing ran after the deletes and creates before it.
    const int listed =
        output.indexOf(ControllerShell::listingCommand(kRootDir + "中文/").trimmed());
    const QString listing = output.mid(listed, output.indexOf(listRoot + "\r\n", listed) - listed);
    QVERIFY(listing.contains("留.nc") && listing.contains("touch made") && !listing.contains("删"));
    QCOMPARE(QDir(root + "/中文").entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList({"新;touch made;#", "留.nc"}));
    QVERIFY(!QFile::exists(root + "/慢"));
    QVERIFY(session.logSince(mark).filter("发往控制器的命令未发送").size() == 1);
    QByteArray homeAfter;
    QCOMPARE(m_openssh.exec({"ls", "-A", "/root"}, &homeAfter), 0);
    QCOMPARE(homeAfter, homeBefore);
}

QTEST_MAIN(TestListingSim)
#include "tst_listingsim.moc"
