// The SSH layer against the simulated controller: replacement of existing targets, progress
// and cancelling in every stage of a job, failures that harm nothing, whole trees listed and
// removed, and the shell beside SFTP work on both SSH servers. The OpenSSH controller's SFTP
// server can hold requests back, as a slow one would, so that a job can be caught in each of its
// stages; its profile greets every command run over SSH.
#include "SimController.h"
#include "SshTestSupport.h"
#include "TestSupport.h"

#include <RemoteFileName.h>

#include <QtTest>

#include <algorithm>

#include <libssh2.h>

#include <fcntl.h>
#include <ftw.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

using Server = SimController::Server;

namespace {

// One line per entry of a tree, as listTree must report it: relative path (bytes), kind, size,
// modification time; sorted.
QByteArray treeLine(const QByteArray &path, char kind, qint64 size, qint64 modified)
{
    return path + '|' + kind + '|' + QByteArray::number(size) + '|' + QByteArray::number(modified);
}

QByteArrayList *g_walked = nullptr;
int g_rootLength = 0;

// The tree at root on the host, walked by lstat as the controller's SFTP server sees it.
QByteArrayList hostTree(const QByteArray &root)
{
    QByteArrayList lines;
    g_walked = &lines;
    g_rootLength = root.size() + 1;
    nftw(
        root.constData(),
        [](const char *path, const struct stat *st, int, FTW *) {
            const char kind = S_ISDIR(st->st_mode)   ? 'd'
                              : S_ISREG(st->st_mode) ? 'f'
                              : S_ISLNK(st->st_mode) ? 'l'
                                                     : 'o';
            g_walked->append(treeLine(QByteArray(path).mid(g_rootLength), kind, qint64(st->st_size),
                                      qint64(st->st_mtime)));
            return 0;
        },
        16, FTW_PHYS);
    std::sort(lines.begin(), lines.end());
    return lines;
}

// The lines of a listing; fails unless the root comes first and every folder before what it
// holds.
QByteArrayList treeLines(const QSsh::SftpTree &tree)
{
    QByteArrayList lines;
    QSet<QByteArray> folders;
    for (int i = 0; i < tree.size(); ++i) {
        const QByteArray path = QSsh::remoteNameToBytes(tree[i].path);
        const int slash = path.lastIndexOf('/');
        if ((i == 0) != path.isEmpty() || (i > 0 && !folders.contains(path.left(qMax(0, slash)))))
            return {"out of order: " + path};
        static const char kinds[] = {'d', 'f', 'l', 'o'};
        const char kind = kinds[int(tree[i].kind)];
        if (kind == 'd')
            folders.insert(path);
        lines << treeLine(path, kind, qint64(tree[i].size), tree[i].modified.toSecsSinceEpoch());
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

// The lines of the tree listTree reports, or its error (or "<no report>") as the only line.
QByteArrayList listTree(QSsh::SftpChannel *sftp, const QString &path,
                        QSsh::SftpTree *entries = nullptr)
{
    JobReports reports(sftp);
    QSignalSpy listed(sftp, &QSsh::SftpChannel::treeListed);
    const QString error = reports.wait(sftp->listTree(path));
    if (!error.isEmpty() || listed.count() != 1)
        return {error.toUtf8()};
    const auto tree = listed.at(0).at(1).value<QSsh::SftpTree>();
    if (entries)
        *entries = tree;
    return treeLines(tree);
}

// A file that holds its own path, named by bytes that need not be UTF-8.
bool makeFile(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const bool written =
        fd >= 0 && ::write(fd, path.constData(), size_t(path.size())) == path.size();
    return ::close(fd) == 0 && written;
}

} // namespace

class TestSshSftp : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void uploadReplacesTargetInOneRename_data();
    void uploadReplacesTargetInOneRename();
    void progressAndCancel_data();
    void progressAndCancel();
    void failuresHarmNothing();
    void verifiedTransfers_data();
    void verifiedTransfers();
    void treeListedAndRemoved_data();
    void treeListedAndRemoved();
    void treeJobsStopPartWay_data();
    void treeJobsStopPartWay();
    void shellAnswersPromptlyDuringSftpWork_data();
    void shellAnswersPromptlyDuringSftpWork();
    void receiverMayDeleteTheShell();
    void downloadsKeepTheWindowNarrow();

private:
    QString remote(const QString &name) const { return "/home/pi/cnc/" + name; }
    QString onController(const QString &name) const { return m_sims[0].rootDir() + '/' + name; }
    // Files a job left behind: upload temporaries on the controllers, QSaveFile's locally.
    QStringList strays() const;

    SimController m_sims[2] = {SimController(Server::OpenSsh), SimController(Server::Dropbear)};
    std::unique_ptr<QSsh::SshConnection> m_connections[2];
    QSharedPointer<QSsh::SftpChannel> m_channels[2];
    QSsh::SftpChannel *m_sftp = nullptr; // OpenSSH's
    QTemporaryDir m_local;
};

void TestSshSftp::initTestCase()
{
    SimController::Options options;
    options.execGreeting = true;
    options.sftpHold = true;
    for (int i = 0; i < 2; ++i) {
        // The Dropbear controller has no sha256sum: its copies are read back to be verified.
        options.noSha256sum = i == 1;
        CNC_START_SIM(m_sims[i], options);
        QString failure;
        m_connections[i] = connectTo(m_sims[i].address(), &failure);
        QVERIFY2(m_connections[i], qPrintable(failure));
        QVERIFY(m_channels[i] = openSftp(*m_connections[i]));
    }
    m_sftp = m_channels[0].data();
}

QStringList TestSshSftp::strays() const
{
    QStringList found;
    for (const QString &dir : {m_sims[0].rootDir(), m_sims[1].rootDir(), m_local.path()})
        found += strayTemporaries(dir);
    return found;
}

void TestSshSftp::uploadReplacesTargetInOneRename_data()
{
    QTest::addColumn<QString>("name");
    // Whether the SFTP server offers posix-rename@openssh.com; otherwise "mv -f" on the
    // controller replaces the target, and names are that command's data.
    QTest::addColumn<bool>("oneRequest");
    QTest::newRow("quotes, by command") << "it's a \"quoted\" name'.nc" << false;
    QTest::newRow("shell characters") << "$HOME `id` $(id) \\back\\ *; & |.nc" << true;
    QTest::newRow("shell characters, by command") << "$HOME `id` $(id) \\back\\ *; & |.nc" << false;
    QTest::newRow("leading dash, by command") << "-f --.nc" << false;
    QTest::newRow("chinese with blanks") << QStringLiteral("零件 替换 '程序'.nc") << true;
    // Its temporary keeps within the controller's 255 bytes per name.
    QTest::newRow("name of 252 bytes") << QString(84, QChar(0x96F6)) << true;
}

// The target is replaced in one rename: it is never moved aside or removed on the way, so a
// reader on the controller always finds either the old or the new content under its name.
// Where the server offers it, that takes one SFTP request and no command.
void TestSshSftp::uploadReplacesTargetInOneRename()
{
    QFETCH(QString, name);
    QFETCH(bool, oneRequest);
    // A channel of its own, whose sessions learn what the server offers when they start.
    QVERIFY(m_sims[0].offerSftpExtensions(oneRequest));
    const auto offerAgain = qScopeGuard([this] { m_sims[0].offerSftpExtensions(true); });
    const QSharedPointer<QSsh::SftpChannel> sftp = openSftp(*m_connections[0]);
    QVERIFY(sftp);
    const int commandsBefore = m_sims[0].sshdCounts().commands;
    QVERIFY(writeFile(onController(name), "old content that is longer than the new\n"));
    QVERIFY(QFile::setPermissions(onController(name),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(writeRandomFile(m_local.filePath("replacement"), 300001));
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    const auto closeWatch = qScopeGuard([watch] { ::close(watch); });
    QVERIFY(inotify_add_watch(watch, QFile::encodeName(m_sims[0].rootDir()).constData(),
                              IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE) >= 0);

    JobReports reports(sftp.data());
    QCOMPARE(reports.wait(sftp->uploadFile(m_local.filePath("replacement"), remote(name),
                                           QSsh::SftpOverwriteExisting)),
             QString());
    QCOMPARE(m_sims[0].sshdCounts().commands - commandsBefore, oneRequest ? 0 : 1);
    QCOMPARE(fileHash(onController(name)), fileHash(m_local.filePath("replacement")));
    // The replacement keeps the mode of the file it replaced.
    QVERIFY(QFileInfo(onController(name)).permissions() & QFile::ExeOwner);
    QCOMPARE(strays(), QStringList());
    QStringList events;
    alignas(inotify_event) char buffer[64 * 1024];
    for (ssize_t length; (length = ::read(watch, buffer, sizeof buffer)) > 0;) {
        for (ssize_t offset = 0; offset < length;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + offset);
            if (event->len > 0 && QFile::decodeName(event->name) == name)
                events << (event->mask & IN_MOVED_TO     ? "moved in"
                           : event->mask & IN_MOVED_FROM ? "moved away"
                                                         : "deleted");
            offset += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
    QCOMPARE(events, QStringList{"moved in"});
    QFile::remove(onController(name));
}

void TestSshSftp::progressAndCancel_data()
{
    QTest::addColumn<bool>("upload");
    // When the cancel comes: "at once", once the controller holds a request of a type back
    // ("open", "close", "rename"), on the first progress report over a slow link ("slow
    // link"), or never ("slow link, no cancel").
    QTest::addColumn<QString>("when");
    QTest::addColumn<bool>("cancelled");
    for (const bool upload : {true, false}) {
        const QString way = upload ? "upload, " : "download, ";
        QTest::newRow(qPrintable(way + "not started")) << upload << "at once" << true;
        QTest::newRow(qPrintable(way + "opening")) << upload << "open" << true;
        QTest::newRow(qPrintable(way + "mid-transfer")) << upload << "slow link" << true;
        QTest::newRow(qPrintable(way + "closing")) << upload << "close" << true;
        QTest::newRow(qPrintable(way + "to the end")) << upload << "slow link, no cancel" << false;
    }
    // Waiting behind an upload whose opening is held: stops at once.
    QTest::newRow("upload, waiting its turn") << true << "open" << true;
    // Once the temporary is being renamed into place, the upload completes.
    QTest::newRow("upload, final rename sent") << true << "rename" << false;
}

// The reports of a transfer only grow, come at most ten times a second and end, before the
// job does, with the whole size. A cancel in any stage leaves every file as it was and the
// session usable; past the point of no return the job completes.
void TestSshSftp::progressAndCancel()
{
    QFETCH(bool, upload);
    QFETCH(QString, when);
    QFETCH(bool, cancelled);
    const bool waiting = QByteArray(QTest::currentDataTag()).contains("waiting");
    const bool slow = when.startsWith("slow link");
    const qint64 size = (slow ? 3 : 8) * 1024 * 1024 + 11;
    const QByteArray old = "the version the machine runs now\n";
    const QString target = upload ? onController("cancel.nc") : m_local.filePath("cancel.nc");
    const QString source = upload ? m_local.filePath("new.nc") : onController("new.nc");
    // A new file, for the rename; otherwise one that the job would replace.
    QFile::remove(onController("cancel.nc"));
    QVERIFY(when == "rename" || writeFile(target, old));
    QVERIFY(writeRandomFile(source, size));
    QVERIFY(m_sims[0].setLinkRate(slow ? "8mbit" : QString()));
    const auto unthrottle = qScopeGuard([&] { m_sims[0].setLinkRate(QString()); });

    JobReports reports(m_sftp);
    QSsh::SftpJobId job = QSsh::SftpInvalidJob;
    QList<QPair<qint64, quint64>> progress; // when (ms), bytes done
    bool lastReportBeforeEnd = false;
    QElapsedTimer clock;
    clock.start();
    QObject receiver;
    connect(m_sftp, &QSsh::SftpChannel::transferProgress, &receiver,
            [&](QSsh::SftpJobId id, quint64 done, quint64 total) {
                if (id != job)
                    return;
                QVERIFY(done <= total && total == quint64(size));
                QVERIFY(progress.isEmpty() || done >= progress.last().second);
                if (when == "slow link" && done > 0 &&
                    (progress.isEmpty() || !progress.last().second))
                    m_sftp->cancelJob(job);
                progress.append({clock.elapsed(), done});
            });
    connect(m_sftp, &QSsh::SftpChannel::finished, &receiver, [&](QSsh::SftpJobId id) {
        lastReportBeforeEnd =
            id == job && !progress.isEmpty() && progress.last().second == quint64(size);
    });
    const QStringList held = when == "at once" || slow ? QStringList() : QStringList{when};
    QVERIFY(m_sims[0].holdSftpRequests(held));
    const auto release = qScopeGuard([this] { m_sims[0].holdSftpRequests({}); });
    // Held uploads on every session that transfers may take: the job waits for one.
    QList<QSsh::SftpJobId> ahead;
    QVERIFY(writeFile(m_local.filePath("ahead.nc"), "G0 X0\n"));
    for (int i = 0; waiting && i < 6; ++i)
        ahead << m_sftp->uploadFile(m_local.filePath("ahead.nc"),
                                    remote(QString("ahead%1.nc").arg(i)),
                                    QSsh::SftpOverwriteExisting);
    job = upload ? m_sftp->uploadFile(source, remote("cancel.nc"), QSsh::SftpOverwriteExisting)
                 : m_sftp->downloadFile(remote("new.nc"), target, QSsh::SftpOverwriteExisting);
    QVERIFY(job != QSsh::SftpInvalidJob && !ahead.contains(job));
    if (!held.isEmpty())
        QTRY_COMPARE_WITH_TIMEOUT(m_sims[0].heldSftpRequest(), when, 20000);
    if (!slow) {
        m_sftp->cancelJob(job);
        m_sftp->cancelJob(job); // a second request changes nothing
    }
    if (waiting) // its report comes while the job ahead of it still waits
        QVERIFY(reports.wait(job, 5000) != "<no report>");
    QVERIFY(m_sims[0].holdSftpRequests({}));
    const QString error = reports.wait(job);
    for (const QSsh::SftpJobId other : qAsConst(ahead))
        QCOMPARE(reports.wait(other), QString());
    QCOMPARE(reports.count(job), 1);
    if (cancelled) {
        QVERIFY2(error.contains("cancelled"), qPrintable(error));
        QCOMPARE(readFile(target), old);
    } else {
        QCOMPARE(error, QString());
        QCOMPARE(fileHash(target), fileHash(source));
        QVERIFY(lastReportBeforeEnd);
    }
    // Eleven reports span a second at least (less a little for the delivery of the events
    // that carry them).
    for (int i = 0; i + 10 < progress.size(); ++i)
        QVERIFY2(progress[i + 10].first - progress[i].first >= 950,
                 qPrintable(QString::number(progress[i + 10].first - progress[i].first)));
    // Mid-transfer, the job stops soon after the cancel: an upload sends at most what it had
    // handed to libssh2 already (a buffer of 1 MiB), a download nothing more.
    QVERIFY(when != "slow link" || progress.last().second < quint64(size) * 2 / 3);
    QCOMPARE(strays(), QStringList());
    // The session goes on as before: the next transfer arrives whole.
    const QString probe = upload ? "cancel.nc" : "new.nc";
    QCOMPARE(reports.wait(m_sftp->downloadFile(remote(probe), m_local.filePath("check"),
                                               QSsh::SftpOverwriteExisting)),
             QString());
    QCOMPARE(fileHash(m_local.filePath("check")), fileHash(onController(probe)));
}

// Jobs that cannot start or cannot succeed end once, with a text that says why, and leave
// every file as it was. A named pipe or a device is refused before it is opened, on both
// servers, and the channel goes on serving.
void TestSshSftp::failuresHarmNothing()
{
    QVERIFY(writeFile(m_local.filePath("keep.nc"), "precious") &&
            writeFile(m_local.filePath("up.nc"), "data") && QDir().mkpath(onController("a-dir")));
    const auto removeSpecials = qScopeGuard([this] {
        for (const SimController &sim : m_sims) {
            QFile::remove(sim.rootDir() + "/fifo.nc");
            QFile::remove(sim.rootDir() + "/zero.nc");
        }
    });
    for (const SimController &sim : m_sims) {
        QVERIFY(::mkfifo(QFile::encodeName(sim.rootDir() + "/fifo.nc").constData(), 0644) == 0 &&
                QFile::link("/dev/zero", sim.rootDir() + "/zero.nc"));
    }
    // A download onto a full disk says so and leaves the old file alone.
    QTemporaryDir mountPoint;
    QCOMPARE(
        QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=1m", "tmpfs", mountPoint.path()}),
        0);
    const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {mountPoint.path()}); });
    const QString full = mountPoint.path() + "/target.nc";
    QVERIFY(writeFile(full, "the old file\n") &&
            writeRandomFile(onController("large.nc"), 3 * 1024 * 1024));
    // An upload onto the controller's full disk as well, in large writes or libssh2's.
    QVERIFY(writeRandomFile(m_local.filePath("large.nc"), 5 * 1024 * 1024));
    for (SimController &sim : m_sims) {
        QVERIFY(QDir().mkpath(sim.rootDir() + "/full"));
        QCOMPARE(sim.exec({"mount", "-t", "tmpfs", "-o", "size=1m", "tmpfs", "/home/pi/cnc/full"}),
                 0);
    }
    const auto unmountFull = qScopeGuard([this] {
        for (SimController &sim : m_sims)
            sim.exec({"umount", "/home/pi/cnc/full"});
    });
    const struct
    {
        bool upload;
        QString from, to, error;
        int server = 0;
    } jobs[] = {
        {false, remote("fifo.nc"), m_local.filePath("fifo.nc"), "it is a named pipe", 0},
        {false, remote("fifo.nc"), m_local.filePath("fifo.nc"), "it is a named pipe", 1},
        {false, remote("zero.nc"), mountPoint.path() + "/zero.nc", "it is a device", 0},
        {false, remote("zero.nc"), mountPoint.path() + "/zero.nc", "it is a device", 1},
        {true, m_local.filePath("does-not-exist.nc"), remote("never.nc"), "does-not-exist.nc"},
        {false, remote("no-such-file.nc"), m_local.filePath("keep.nc"), "no such file"},
        {false, remote("fresh.nc"), m_local.filePath("no-dir/x.nc"), "no-dir"},
        {true, m_local.filePath("up.nc"), remote("missing-dir/up.nc"), "no such file"},
        {true, m_local.filePath("up.nc"), remote("a-dir"), "directory"},
        {false, remote("large.nc"), full, "No space left"},
        {true, m_local.filePath("large.nc"), remote("full/large.nc"), "Cannot write", 0},
        {true, m_local.filePath("large.nc"), remote("full/large.nc"), "Cannot write", 1},
    };
    JobReports openSsh(m_channels[0].data()), dropbear(m_channels[1].data());
    for (const auto &j : jobs) {
        QSsh::SftpChannel *const sftp = m_channels[j.server].data();
        JobReports &reports = j.server == 0 ? openSsh : dropbear;
        const QSsh::SftpJobId job =
            j.upload ? sftp->uploadFile(j.from, j.to, QSsh::SftpOverwriteExisting)
                     : sftp->downloadFile(j.from, j.to, QSsh::SftpOverwriteExisting);
        const QString error = reports.wait(job, 20000);
        QVERIFY2(error.contains(j.error), qPrintable(error));
        QCOMPARE(reports.count(job), 1);
    }
    QVERIFY(!QFileInfo::exists(onController("never.nc")) &&
            !QFileInfo::exists(m_local.filePath("fifo.nc")));
    QCOMPARE(readFile(m_local.filePath("keep.nc")), QByteArray("precious"));
    QVERIFY(QFileInfo(onController("a-dir")).isDir());
    QCOMPARE(readFile(full), QByteArray("the old file\n"));
    QCOMPARE(QDir(mountPoint.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{"target.nc"});
    for (SimController &sim : m_sims) {
        QByteArray left;
        QCOMPARE(sim.exec({"ls", "-A", "/home/pi/cnc/full"}, &left), 0);
        QCOMPARE(left, QByteArray());
    }
    QCOMPARE(strays(), QStringList());
}

void TestSshSftp::verifiedTransfers_data()
{
    SimController::addServerColumn();
    QTest::addColumn<bool>("upload");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("corrupt"); // one byte changes on the way
    QTest::addColumn<qint64>("size");
    // Hashed by sha256sum where there is one; sent in large writes where the server takes them.
    constexpr qint64 kLarge = 4 * 1024 * 1024 + 5;
    for (const bool upload : {true, false}) {
        const QString way = upload ? "upload" : "download";
        for (const Server server : {Server::OpenSsh, Server::Dropbear})
            SimController::newServerRow(server, way) << upload << "verified.nc" << false << kLarge;
        SimController::newServerRow(Server::OpenSsh, way + ", corrupted")
            << upload << "verified.nc" << true << kLarge;
    }
    // Read back through the handle it was written with.
    SimController::newServerRow(Server::OpenSsh, "upload, small, corrupted")
        << true << "verified.nc" << true << qint64(20 * 1024);
    // Names that a shell would run: each would leave the file "pwned" beside the programs.
    const QString touch = "cd;cd ..;cd home;cd pi;cd cnc;touch pwned";
    SimController::newServerRow(Server::OpenSsh, "upload, quotes")
        << true << "x';" + touch + ";echo '\".nc" << false << kLarge;
    SimController::newServerRow(Server::OpenSsh, "upload, substitutions")
        << true << "$(" + touch + ") `" + touch + "`.nc" << false << kLarge;
    SimController::newServerRow(Server::OpenSsh, "upload, dash, newline, backslash, !")
        << true << "-n\nline\\back;" + touch + "!!.nc" << false << kLarge;
    SimController::newServerRow(Server::OpenSsh, "download, chinese and unicode blanks")
        << false << QStringLiteral("零件\u00a0程序\u3000$(") + touch + ").nc" << false << kLarge;
}

// A verifying transfer puts its data in place only when the SHA-256 of what was sent or
// received is the controller's: by its sha256sum, or read back where it has none. A copy
// changed on the way fails the job, naming both hashes, and leaves both targets as they were.
// Names reach sha256sum as data, and a remote file's hash can be asked for on its own.
void TestSshSftp::verifiedTransfers()
{
    QFETCH(Server, server);
    QFETCH(bool, upload);
    QFETCH(QString, name);
    QFETCH(bool, corrupt);
    QFETCH(qint64, size);
    const int index = server == Server::Dropbear;
    SimController &sim = m_sims[index];
    QSsh::SftpChannel *const sftp = m_channels[index].data();
    const QString onSim = sim.rootDir() + '/' + name;
    const QString local = m_local.filePath("verified.nc");
    const QString source = upload ? local : onSim;
    const QString target = upload ? onSim : local;
    const QByteArray old = "the program the machine runs now\n";
    const auto cleanUp = qScopeGuard([&] {
        sftp->setVerifyTransfers(false);
        sim.corruptNextTransfer("off");
        QFile::remove(onSim);
        QFile::remove(local);
    });
    QVERIFY(writeRandomFile(source, size) && writeFile(target, old));
    const QByteArray sent = QByteArray::fromHex(fileHash(source));
    QVERIFY(!corrupt || sim.corruptNextTransfer(upload ? "upload" : "download"));

    sftp->setVerifyTransfers(true);
    JobReports reports(sftp);
    QSignalSpy verifying(sftp, &QSsh::SftpChannel::transferVerifying);
    QSignalSpy verified(sftp, &QSsh::SftpChannel::transferVerified);
    const QSsh::SftpJobId job =
        upload ? sftp->uploadFile(local, remote(name), QSsh::SftpOverwriteExisting)
               : sftp->downloadFile(remote(name), local, QSsh::SftpOverwriteExisting);
    const QString error = reports.wait(job);
    QVERIFY(!QFileInfo::exists(sim.rootDir() + "/pwned"));
    QCOMPARE(verifying.count(), 1);
    QCOMPARE(verifying.at(0).at(0).value<QSsh::SftpJobId>(), job);
    QCOMPARE(verified.count(), 1);
    const auto result = verified.at(0).at(1).value<QSsh::SftpVerification>();
    QCOMPARE(result.readBack, server == Server::Dropbear || size <= 256 * 1024);
    QCOMPARE(strays(), QStringList());
    if (corrupt) {
        QCOMPARE(result.outcome, QSsh::SftpVerification::Outcome::Mismatch);
        QCOMPARE(upload ? result.localSha256 : result.remoteSha256, sent);
        const QByteArray changed = upload ? result.remoteSha256 : result.localSha256;
        QVERIFY(changed.size() == 32 && changed != sent);
        QVERIFY2(error.contains("differs") && error.contains(sent.left(6).toHex()) &&
                     error.contains(changed.left(6).toHex()),
                 qPrintable(error));
        QCOMPARE(readFile(target), old);
        return;
    }
    QCOMPARE(error, QString());
    QCOMPARE(result.outcome, QSsh::SftpVerification::Outcome::Verified);
    QCOMPARE(result.localSha256, sent);
    QCOMPARE(result.remoteSha256, sent);
    QCOMPARE(fileHash(target), fileHash(source));

    QSignalSpy hashed(sftp, &QSsh::SftpChannel::fileHashed);
    const QSsh::SftpJobId hashJob = sftp->hashFile(remote(name));
    QCOMPARE(reports.wait(hashJob), QString());
    QCOMPARE(hashed.count(), 1);
    QCOMPARE(hashed.at(0).at(0).value<QSsh::SftpJobId>(), hashJob);
    QCOMPARE(hashed.at(0).at(1).toByteArray(), sent);
    QCOMPARE(hashed.at(0).at(2).toLongLong(), size);
}

void TestSshSftp::treeListedAndRemoved_data()
{
    SimController::addServerColumn();
    QTest::addColumn<QString>("root");
    for (const Server server : {Server::OpenSsh, Server::Dropbear}) {
        SimController::newServerRow(server, "ascii") << "tree";
        SimController::newServerRow(server, "chinese") << QStringLiteral("零件 树");
    }
}

// A tree is listed exactly as the controller's file system holds it, links as links, and
// removed whole, without a step through a link. Names are the controller's bytes, whatever
// they are, and a listed name names that very entry again. A missing tree lists empty.
void TestSshSftp::treeListedAndRemoved()
{
    QFETCH(Server, server);
    QFETCH(QString, root);
    const int index = server == Server::Dropbear;
    QSsh::SftpChannel *const sftp = m_channels[index].data();
    const QByteArray top = QFile::encodeName(m_sims[index].rootDir() + '/' + root);
    const QByteArray outside = QFile::encodeName(m_sims[index].rootDir() + "/outside");
    const QByteArray deep = QStringLiteral("零件 程序/子 目录").toUtf8();
    const auto cleanUp = qScopeGuard([&] {
        QProcess::execute("rm", {"-rf", "--", QFile::decodeName(top), QFile::decodeName(outside)});
    });
    for (const QByteArray &folder : {top + '/' + deep, top + "/empty", top + "/a b", outside})
        QVERIFY(QDir().mkpath(QFile::decodeName(folder)));
    for (const QByteArray &file :
         {top + '/' + deep + "/深.nc", top + "/a b/it's \"q\" $HOME `id`.nc", top + "/caf\xe9.nc",
          outside + "/keep.nc"})
        QVERIFY(makeFile(file));
    QVERIFY(::symlink(outside.constData(), (top + "/link-out").constData()) == 0 &&
            ::symlink((deep + "/深.nc").constData(), (top + "/link-file").constData()) == 0);

    QSsh::SftpTree entries;
    const QByteArrayList tree = listTree(sftp, remote(root), &entries);
    QCOMPARE(tree, hostTree(top));
    QCOMPARE(tree.size(), 10);
    const auto latin1 = std::find_if(entries.cbegin(), entries.cend(), [](const auto &entry) {
        return QSsh::remoteNameToBytes(entry.path) == "caf\xe9.nc";
    });
    QVERIFY(latin1 != entries.cend());
    JobReports reports(sftp);
    QCOMPARE(
        reports.wait(sftp->downloadFile(remote(root) + '/' + latin1->path,
                                        m_local.filePath("latin1"), QSsh::SftpOverwriteExisting)),
        QString());
    QCOMPARE(readFile(m_local.filePath("latin1")), top + "/caf\xe9.nc");

    // A link goes as a link, even when named as its folder would be.
    struct stat st;
    QVERIFY(::symlink(outside.constData(), (top + "/again").constData()) == 0);
    QCOMPARE(reports.wait(sftp->removeTree(remote(root) + "/again/")), QString());
    QVERIFY(::lstat((top + "/again").constData(), &st) != 0);
    QCOMPARE(reports.wait(sftp->removeTree(remote(root))), QString());
    QVERIFY(::lstat(top.constData(), &st) != 0);
    QCOMPARE(readFile(QFile::decodeName(outside + "/keep.nc")), outside + "/keep.nc");
    QCOMPARE(listTree(sftp, remote(root)), QByteArrayList());
    const QString error = reports.wait(sftp->removeTree(remote(root)));
    QVERIFY2(error.contains(remote(root)) && error.contains("no such file"), qPrintable(error));
}

void TestSshSftp::treeJobsStopPartWay_data()
{
    shellAnswersPromptlyDuringSftpWork_data(); // a row for each server
}

// A removal that meets an entry it cannot remove (a read-only folder, even for root) stops
// there and names it; a cancelled removal or listing stops part way. Whatever was not removed
// stays, and the session goes on serving.
void TestSshSftp::treeJobsStopPartWay()
{
    QFETCH(Server, server);
    const int index = server == Server::Dropbear;
    SimController &sim = m_sims[index];
    QSsh::SftpChannel *const sftp = m_channels[index].data();
    const QString big = sim.rootDir() + "/big";
    QString locked;
    const auto cleanUp = qScopeGuard([&] {
        if (!locked.isEmpty())
            sim.setReadOnly(locked, false);
        QProcess::execute("rm", {"-rf", "--", big});
    });
    for (int i = 0; i < 2100; ++i) {
        QVERIFY(i % 700 != 0 || QDir().mkpath(big + QString("/d%1").arg(i / 700)));
        QVERIFY(makeFile(QFile::encodeName(big + QString("/d%1/f%2.nc").arg(i / 700).arg(i))));
    }

    // A listing cancelled while its folder is still being read says nothing of the tree.
    JobReports reports(sftp);
    if (server == Server::OpenSsh) {
        QSignalSpy listed(sftp, &QSsh::SftpChannel::treeListed);
        QVERIFY(sim.holdSftpRequests({"readdir+1"}));
        const QSsh::SftpJobId job = sftp->listTree(remote("big"));
        QTRY_COMPARE(sim.heldSftpRequest(), QString("readdir"));
        sftp->cancelJob(job);
        QVERIFY(sim.holdSftpRequests({}));
        QVERIFY(reports.wait(job).contains("cancelled"));
        QCOMPARE(listed.count(), 0);
    }
    // Cancelled once the removal is under way.
    const QSsh::SftpJobId removal = sftp->removeTree(remote("big"));
    QVERIFY(QTest::qWaitFor([&] { return hostTree(QFile::encodeName(big)).size() < 2103; }, 30000));
    sftp->cancelJob(removal);
    QVERIFY(reports.wait(removal).contains("cancelled"));

    // The session serves on; what is left lists as the host sees it, in the walk's order.
    QSsh::SftpTree order;
    QCOMPARE(listTree(sftp, remote("big"), &order), hostTree(QFile::encodeName(big)));
    QStringList folders;
    for (const QSsh::SftpTreeEntry &entry : qAsConst(order)) {
        if (entry.kind == QSsh::SftpTreeEntry::Kind::Folder && !entry.path.isEmpty())
            folders << entry.path;
    }
    QCOMPARE(folders.size(), 3);

    // With the second folder the walk comes to read-only, the removal takes the first whole and
    // stops at the second's first file, naming it: the third, which it would reach later,
    // stays whole.
    locked = "big/" + folders[1];
    QVERIFY(sim.setReadOnly(locked, true));
    const QString error = reports.wait(sftp->removeTree(remote("big")));
    const auto failed = std::find_if(order.cbegin(), order.cend(), [&](const auto &entry) {
        return entry.path.startsWith(folders[1] + '/');
    });
    QVERIFY2(error.contains(remote("big/" + failed->path)), qPrintable(error));
    QSsh::SftpTree left;
    std::copy_if(order.cbegin(), order.cend(), std::back_inserter(left), [&](const auto &entry) {
        return entry.path != folders[0] && !entry.path.startsWith(folders[0] + '/');
    });
    // The root aside, whose time changes with each removal in it.
    const auto withoutRoot = [](QByteArrayList lines) {
        lines.erase(std::remove_if(lines.begin(), lines.end(),
                                   [](const QByteArray &line) { return line.startsWith('|'); }),
                    lines.end());
        return lines;
    };
    QCOMPARE(withoutRoot(hostTree(QFile::encodeName(big))), withoutRoot(treeLines(left)));
    QVERIFY(sim.setReadOnly(locked, false));
    QCOMPARE(reports.wait(sftp->removeTree(remote("big"))), QString());
    QVERIFY(!QFileInfo::exists(big));
}

void TestSshSftp::shellAnswersPromptlyDuringSftpWork_data()
{
    SimController::addServerColumn();
    for (const Server server : {Server::OpenSsh, Server::Dropbear})
        SimController::newServerRow(server);
}

// The window sends its next command the moment the previous prompt arrives, while transfers,
// removals and folder creations run side by side on the same connection, each job that ends
// starting another, so the SFTP work never pauses. A shell starved by it would never answer;
// how promptly it answers is the benchmark's business.
void TestSshSftp::shellAnswersPromptlyDuringSftpWork()
{
    QFETCH(Server, server);
    const int index = server == Server::Dropbear;
    QVERIFY(writeRandomFile(m_local.filePath("up.bin"), 3 * 1024 * 1024));
    for (int i = 0; i < 3; ++i)
        QVERIFY(writeRandomFile(m_sims[index].rootDir() + QString("/busy%1.bin").arg(i), 1 << 20));
    const auto shell = startShell(*m_connections[index]);
    QSsh::SftpChannel *const sftp = m_channels[index].data();
    QVERIFY(shell);
    int jobsDone = 0, next = 0;
    QSet<QSsh::SftpJobId> ids;
    const auto startJob = [&] {
        const QString busy = QString("/home/pi/cnc/busy%1").arg(next % 3);
        switch (next++ % 4) {
        case 0:
            ids << sftp->downloadFile(busy + ".bin", m_local.filePath("down.bin"),
                                      QSsh::SftpOverwriteExisting);
            break;
        case 1:
            ids << sftp->uploadFile(m_local.filePath("up.bin"), busy + ".up",
                                    QSsh::SftpOverwriteExisting);
            break;
        case 2:
            ids << sftp->removeFile(busy + ".up");
            break;
        default:
            ids << sftp->createDirectory(busy + ".dir") << sftp->removeDirectory(busy + ".dir");
        }
    };
    QObject receiver;
    connect(sftp, &QSsh::SftpChannel::finished, &receiver, [&] {
        ++jobsDone;
        startJob();
    });
    for (int i = 0; i < 3; ++i)
        startJob();

    const QByteArray prompt = "root@" + m_sims[0].hostName().toUtf8() + ":~# ";
    QByteArray output;
    for (int command = 0; command < 20; ++command) {
        // The quotes keep the echoed command line from matching the answer.
        const QByteArray marker = "M" + QByteArray::number(command) + "_done\r\n";
        shell->write("echo M\"\"" + QByteArray::number(command) + "_done\n");
        QVERIFY2(QTest::qWaitFor(
                     [&] {
                         output += shell->readAllStandardOutput();
                         return output.contains(marker) && output.endsWith(prompt);
                     },
                     30000),
                 qPrintable(QString("command %1 unanswered, %2 SFTP jobs done: %3")
                                .arg(command)
                                .arg(jobsDone)
                                .arg(QString::fromUtf8(output))));
    }
    // The jobs go on (a stalled channel finishes none).
    QTRY_VERIFY_WITH_TIMEOUT(jobsDone >= 4, 30000);
    QObject::disconnect(sftp, nullptr, &receiver, nullptr);
    // Job ids are unique, and never 1, the worker's id for a request carried out by the shell.
    QCOMPARE(ids.size(), next + next / 4);
    QVERIFY(!ids.contains(QSsh::SftpInvalidJob) && !ids.contains(1));
}

// Signals come from the event loop, so a receiver may drop the last handle in its slot: the
// process must not touch itself after the first of the signals it emits for the same event,
// neither for its output nor for its end (closed() follows aboutToClose()).
void TestSshSftp::receiverMayDeleteTheShell()
{
    QSharedPointer<QSsh::SshRemoteProcess> shell = m_connections[0]->createRemoteShell();
    QSignalSpy destroyed(shell.data(), &QObject::destroyed);
    connect(shell.data(), &QSsh::SshRemoteProcess::readyReadStandardOutput, this,
            [&shell] { shell.reset(); });
    shell->start();
    QVERIFY(destroyed.wait(10000));
    shell = startShell(*m_connections[0]);
    QVERIFY(shell);
    QSignalSpy closedDestroyed(shell.data(), &QObject::destroyed);
    connect(shell.data(), &QIODevice::aboutToClose, this, [&shell] { shell.reset(); });
    shell->write("exit\n");
    QVERIFY(closedDestroyed.wait(10000));
}

// Last: it starts OpenSSH's controller anew, with sshd logging the window adjustments it gets.
// A download widened the window by 16 MiB at a time while libssh2's channel reads adjusted it
// by their own reckoning, and one of theirs held up by a key exchange wrapped round to some
// 4 GiB: sshd dropped the connection part way through gigabytes. No adjustment may go beyond
// the channel's initial window.
void TestSshSftp::downloadsKeepTheWindowNarrow()
{
    m_channels[0].reset();
    m_connections[0].reset();
    SimController::Options options;
    options.logWindows = true;
    CNC_START_SIM(m_sims[0], options);
    QString failure;
    m_connections[0] = connectTo(m_sims[0].address(), &failure);
    QVERIFY2(m_connections[0], qPrintable(failure));
    QVERIFY(m_channels[0] = openSftp(*m_connections[0]));
    m_sftp = m_channels[0].data();

    const QString local = m_local.filePath("wide.bin");
    QVERIFY(writeRandomFile(onController("wide.bin"), 24 * 1024 * 1024));
    JobReports reports(m_sftp);
    QCOMPARE(
        reports.wait(m_sftp->downloadFile(remote("wide.bin"), local, QSsh::SftpOverwriteExisting)),
        QString());
    QCOMPARE(fileHash(local), fileHash(onController("wide.bin")));
    QFile::remove(local);
    const QVector<quint64> adjustments = m_sims[0].windowAdjustments();
    QVERIFY(!adjustments.isEmpty());
    const quint64 widest = *std::max_element(adjustments.cbegin(), adjustments.cend());
    QVERIFY2(widest <= LIBSSH2_CHANNEL_WINDOW_DEFAULT, qPrintable(QString::number(widest)));
}

QTEST_GUILESS_MAIN(TestSshSftp)
#include "tst_ssh_sftp.moc"
