#include "ServerSims.h"
#include "SshTestSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <map>

#include <sys/inotify.h>
#include <unistd.h>

using namespace SshTestSupport;

// SFTP jobs against the simulated controller: byte-exact transfers against both SSH servers,
// replacement of existing targets, progress, cancelling, the failure texts, and the event loop
// staying responsive. The OpenSSH controller's SFTP server can hold
// requests back, as a slow one would, so that a job can be caught in each of its stages.
class TestSshSftp : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanupTestCase();

    void roundTrip_data();
    void roundTrip();
    void uploadReplacesExistingTargetWithoutLeftovers_data();
    void uploadReplacesExistingTargetWithoutLeftovers();
    void progressAndCancel_data();
    void progressAndCancel();
    void removeAndCreate();
    void failuresToStartOrRun();
    void fullLocalDiskFailsCleanly();
    void eventLoopStaysResponsiveDuringLargeTransfers();

private:
    // A connection with its SFTP channel to one server's controller, kept for the test case.
    struct Link
    {
        SimController *sim = nullptr;
        std::unique_ptr<QSsh::SshConnection> connection;
        QSharedPointer<QSsh::SftpChannel> sftp;
    };
    // The link to the current row's server, made on first use; null with a failure message.
    Link *rowLink();
    Link *link(SimController::Server server);

    QString remote(const QString &name) const { return QStringLiteral("/home/pi/cnc/") + name; }
    QString onController(const QString &name) const { return m_sim->rootDir() + '/' + name; }
    QStringList strayTemporaries(const QString &directory) const;

    ServerSims m_sims;
    std::map<SimController::Server, Link> m_links;
    QString m_linkFailure;
    // The OpenSSH controller's, for the tests that run against one server only.
    SimController *m_sim = nullptr;
    QSsh::SshConnection *m_connection = nullptr;
    QSharedPointer<QSsh::SftpChannel> m_sftp;
    QTemporaryDir m_local;
};

void TestSshSftp::initTestCase()
{
    CNC_REQUIRE_SIM();
    // The OpenSSH controller's profile prints a line before every command run over SSH:
    // replacing an existing file must not depend on the command printing nothing else.
    // (Dropbear starts its SFTP server through that profile, which such a line would break.)
    // Its SFTP server can hold requests back.
    SimController::Options options;
    options.execGreeting = true;
    options.sftpHold = true;
    m_sims.setOptions(options);
    QVERIFY(m_local.isValid());
    const Link *const openssh = link(SimController::Server::OpenSsh);
    QVERIFY2(openssh, qPrintable(m_linkFailure));
    m_sim = openssh->sim;
    m_connection = openssh->connection.get();
    m_sftp = openssh->sftp;
}

TestSshSftp::Link *TestSshSftp::link(SimController::Server server)
{
    Link &link = m_links[server];
    if (link.sftp && link.sftp->state() == QSsh::SftpChannel::Initialized)
        return &link;
    link.sim = m_sims.get(server);
    if (!link.sim) {
        m_linkFailure = m_sims.lastError();
        return nullptr;
    }
    link.connection = connectTo(controllerParameters(link.sim->address()), &m_linkFailure);
    if (link.connection)
        link.sftp = openSftp(*link.connection);
    if (!link.sftp && m_linkFailure.isEmpty())
        m_linkFailure = QStringLiteral("the SFTP channel did not open");
    return link.sftp ? &link : nullptr;
}

TestSshSftp::Link *TestSshSftp::rowLink()
{
    QFETCH(SimController::Server, server);
    return link(server);
}

void TestSshSftp::init()
{
    // Every test needs a live channel; an earlier failure must not cascade.
    QVERIFY(m_connection && m_connection->state() == QSsh::SshConnection::Connected);
    QCOMPARE(m_sftp->state(), QSsh::SftpChannel::Initialized);
}

void TestSshSftp::cleanupTestCase()
{
    m_sftp.reset();
    m_links.clear();
}

QStringList TestSshSftp::strayTemporaries(const QString &directory) const
{
    QStringList stray;
    const QStringList names = QDir(directory).entryList(QDir::Files | QDir::Hidden);
    for (const QString &name : names) {
        if (name.contains(QLatin1String(".part-")) || name.contains(QLatin1String(".old-")) ||
            name.contains(QRegularExpression(QStringLiteral("\\.[A-Za-z0-9]{6}$"))))
            stray << name;
    }
    return stray;
}

void TestSshSftp::roundTrip_data()
{
    ServerSims::addColumn();
    QTest::addColumn<QString>("name");
    QTest::addColumn<qint64>("size");
    for (const SimController::Server server : ServerSims::servers()) {
        ServerSims::newRow(server, "empty") << "empty.nc" << qint64(0);
        ServerSims::newRow(server, "one byte") << "one.nc" << qint64(1);
        ServerSims::newRow(server, "5 MiB") << "five.nc" << qint64(5 * 1024 * 1024);
        // Beyond every window and read-ahead of both ends, libssh2's grown receive window too.
        ServerSims::newRow(server, "40 MiB") << "forty.nc" << qint64(40 * 1024 * 1024 + 3);
        ServerSims::newRow(server, "chinese name with blank")
            << QStringLiteral("零件 测试.nc") << qint64(70001);
    }
}

// Up, then down over an older and longer local copy.
void TestSshSftp::roundTrip()
{
    QFETCH(QString, name);
    QFETCH(qint64, size);
    const Link *const link = rowLink();
    QVERIFY2(link, qPrintable(m_linkFailure));
    const QString onController = link->sim->rootDir() + '/' + name;
    const QString source = m_local.filePath(QStringLiteral("up-") + name);
    const QString back = m_local.filePath(QStringLiteral("down-") + name);
    QVERIFY(writeRandomFile(source, size));
    QVERIFY(writeRandomFile(back, size + 1000));
    JobWatcher watcher(link->sftp.data());
    QString error;

    const QSsh::SftpJobId up =
        link->sftp->uploadFile(source, remote(name), QSsh::SftpOverwriteExisting);
    QVERIFY(up != QSsh::SftpInvalidJob);
    QVERIFY(watcher.wait(up, &error));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(QFileInfo(onController).size(), size);
    QCOMPARE(fileHash(onController), fileHash(source));

    const QSsh::SftpJobId down =
        link->sftp->downloadFile(remote(name), back, QSsh::SftpOverwriteExisting);
    QVERIFY(down != QSsh::SftpInvalidJob && down != up);
    QVERIFY(watcher.wait(down, &error));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(fileHash(back), fileHash(source));
    QCOMPARE(watcher.reportsFor(up), 1);
    QCOMPARE(watcher.reportsFor(down), 1);
    QCOMPARE(strayTemporaries(link->sim->rootDir()), QStringList());
    QCOMPARE(strayTemporaries(m_local.path()), QStringList());
    QFile::remove(onController);
}

void TestSshSftp::uploadReplacesExistingTargetWithoutLeftovers_data()
{
    QTest::addColumn<QString>("name");
    // Whether the SFTP server offers posix-rename@openssh.com; otherwise "mv -f" replaces.
    QTest::addColumn<bool>("oneRequest");
    QTest::newRow("plain") << "replace.nc" << true;
    QTest::newRow("plain, by command") << "replace.nc" << false;
    QTest::newRow("quotes, by command") << "it's a \"quoted\" name'.nc" << false;
    QTest::newRow("shell characters") << "$HOME `id` $(id) \\back\\ *; & |.nc" << true;
    QTest::newRow("shell characters, by command") << "$HOME `id` $(id) \\back\\ *; & |.nc" << false;
    QTest::newRow("leading dash, by command") << "-f --.nc" << false;
    QTest::newRow("chinese with blanks") << QStringLiteral("零件 替换 '程序'.nc") << true;
}

// The target is replaced in one rename: it is never moved aside or removed on the way, so a
// reader on the controller always finds either the old or the new content under its name.
// Where the server offers it, that takes one SFTP request and no command.
void TestSshSftp::uploadReplacesExistingTargetWithoutLeftovers()
{
    QFETCH(QString, name);
    QFETCH(bool, oneRequest);
    // A channel of its own, whose sessions learn what the server offers when they start.
    QVERIFY(m_sim->offerSftpExtensions(oneRequest));
    const auto offerAgain = qScopeGuard([this] { m_sim->offerSftpExtensions(true); });
    const QSharedPointer<QSsh::SftpChannel> sftp = openSftp(*m_connection);
    QVERIFY(sftp);
    const int commandsBefore = m_sim->sshdCounts().commands;
    QVERIFY(writeFile(onController(name), "old content that is longer than the new\n"));
    QVERIFY(QFile::setPermissions(onController(name),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    QVERIFY(writeRandomFile(m_local.filePath("replacement"), 300001));

    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    QVERIFY(watch >= 0);
    const auto closeWatch = qScopeGuard([watch] { ::close(watch); });
    QVERIFY(inotify_add_watch(watch, QFile::encodeName(m_sim->rootDir()).constData(),
                              IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE) >= 0);

    JobWatcher watcher(sftp.data());
    QString error;
    const QSsh::SftpJobId job = sftp->uploadFile(m_local.filePath("replacement"), remote(name),
                                                 QSsh::SftpOverwriteExisting);
    QVERIFY(watcher.wait(job, &error));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(m_sim->sshdCounts().commands - commandsBefore, oneRequest ? 0 : 1);
    QCOMPARE(fileHash(onController(name)), fileHash(m_local.filePath("replacement")));
    // The replacement keeps the mode of the file it replaced.
    QVERIFY(QFileInfo(onController(name)).permissions() & QFile::ExeOwner);
    QCOMPARE(strayTemporaries(m_sim->rootDir()), QStringList());

    QStringList targetEvents;
    alignas(inotify_event) char buffer[64 * 1024];
    ssize_t length;
    while ((length = ::read(watch, buffer, sizeof buffer)) > 0) {
        for (ssize_t offset = 0; offset < length;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + offset);
            if (event->len > 0 && QFile::decodeName(event->name) == name)
                targetEvents << (event->mask & IN_MOVED_TO     ? QStringLiteral("moved in")
                                 : event->mask & IN_MOVED_FROM ? QStringLiteral("moved away")
                                                               : QStringLiteral("deleted"));
            offset += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
    QCOMPARE(targetEvents, QStringList{"moved in"});
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
    // Waiting for an SFTP session, while uploads whose openings are held take every session
    // that transfers may have: stops at once.
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
    const qint64 size = 8 * 1024 * 1024 + 11;
    const QByteArray old = "the version the machine runs now\n";
    // A new file, for the rename; otherwise one that the upload would replace.
    QFile::remove(onController("cancel.nc"));
    if (when != "rename")
        QVERIFY(writeFile(upload ? onController("cancel.nc") : m_local.filePath("cancel.nc"), old));
    QVERIFY(writeRandomFile(upload ? m_local.filePath("new.nc") : onController("new.nc"), size));
    QVERIFY(m_sim->setLinkRate(slow ? "8mbit" : QString()));
    const auto unthrottle = qScopeGuard([&] { m_sim->setLinkRate(QString()); });

    JobWatcher watcher(m_sftp.data());
    QSsh::SftpJobId job = QSsh::SftpInvalidJob;
    QList<QPair<qint64, quint64>> reports; // when (ms), bytes done
    bool lastReportBeforeEnd = false;
    QElapsedTimer clock;
    clock.start();
    QObject receiver;
    connect(m_sftp.data(), &QSsh::SftpChannel::transferProgress, &receiver,
            [&](QSsh::SftpJobId id, quint64 done, quint64 total) {
                if (id != job)
                    return;
                QVERIFY(done <= total && total == quint64(size));
                QVERIFY(reports.isEmpty() || done >= reports.last().second);
                if (when == "slow link" && done > 0 &&
                    (reports.isEmpty() || !reports.last().second))
                    m_sftp->cancelJob(job);
                reports.append({clock.elapsed(), done});
            });
    connect(m_sftp.data(), &QSsh::SftpChannel::finished, &receiver, [&](QSsh::SftpJobId id) {
        lastReportBeforeEnd =
            id == job && !reports.isEmpty() && reports.last().second == quint64(size);
    });
    const QStringList held = when == "at once" || slow ? QStringList() : QStringList{when};
    QVERIFY(m_sim->holdSftpRequests(held));
    const auto release = qScopeGuard([this] { m_sim->holdSftpRequests({}); });
    QList<QSsh::SftpJobId> ahead;
    QVERIFY(writeFile(m_local.filePath("ahead.nc"), "G0 X0\n"));
    for (int i = 0; waiting && i < 6; ++i)
        ahead << m_sftp->uploadFile(m_local.filePath("ahead.nc"),
                                    remote(QStringLiteral("ahead%1.nc").arg(i)),
                                    QSsh::SftpOverwriteExisting);
    job = upload ? m_sftp->uploadFile(m_local.filePath("new.nc"), remote("cancel.nc"),
                                      QSsh::SftpOverwriteExisting)
                 : m_sftp->downloadFile(remote("new.nc"), m_local.filePath("cancel.nc"),
                                        QSsh::SftpOverwriteExisting);
    QVERIFY(job != QSsh::SftpInvalidJob);
    if (!held.isEmpty())
        QTRY_COMPARE_WITH_TIMEOUT(m_sim->heldSftpRequest(), when, 20000);
    if (!slow) {
        m_sftp->cancelJob(job);
        m_sftp->cancelJob(job); // a second request changes nothing
    }

    QString error;
    if (waiting) // its report comes while the job ahead of it still waits
        QVERIFY(watcher.wait(job, &error, 5000));
    QVERIFY(m_sim->holdSftpRequests({}));
    QVERIFY(watcher.wait(job, &error));
    for (const QSsh::SftpJobId other : qAsConst(ahead)) {
        QString aheadError;
        QVERIFY(watcher.wait(other, &aheadError) && aheadError.isEmpty());
    }
    QCOMPARE(watcher.reportsFor(job), 1);
    if (cancelled) {
        QVERIFY2(error.contains("cancelled"), qPrintable(error));
        QCOMPARE(readFile(upload ? onController("cancel.nc") : m_local.filePath("cancel.nc")), old);
    } else {
        QVERIFY2(error.isEmpty(), qPrintable(error));
        QCOMPARE(fileHash(upload ? onController("cancel.nc") : m_local.filePath("cancel.nc")),
                 fileHash(upload ? m_local.filePath("new.nc") : onController("new.nc")));
        QVERIFY(lastReportBeforeEnd);
    }
    // Eleven reports span a second at least (less a little for the delivery of the events
    // that carry them).
    for (int i = 0; i + 10 < reports.size(); ++i)
        QVERIFY2(reports[i + 10].first - reports[i].first >= 950,
                 qPrintable(QString::number(reports[i + 10].first - reports[i].first)));
    // Mid-transfer, the job stops soon after the cancel: an upload sends at most what it had
    // handed to libssh2 already (a buffer of 1 MiB), a download nothing more.
    if (when == "slow link")
        QVERIFY2(reports.last().second < quint64(size) / 2,
                 qPrintable(QString::number(reports.last().second)));
    QCOMPARE(strayTemporaries(m_sim->rootDir()), QStringList());
    QCOMPARE(strayTemporaries(m_local.path()), QStringList());

    // The session goes on as before: the next transfer arrives whole.
    const QString probe = upload ? "cancel.nc" : "new.nc";
    const QSsh::SftpJobId check =
        m_sftp->downloadFile(remote(probe), m_local.filePath("check"), QSsh::SftpOverwriteExisting);
    QVERIFY(watcher.wait(check, &error));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QCOMPARE(fileHash(m_local.filePath("check")), fileHash(onController(probe)));
}

void TestSshSftp::removeAndCreate()
{
    QDir(onController("full")).removeRecursively();
    QVERIFY(QDir().mkpath(onController("full")));
    QVERIFY(writeFile(onController("full/inside.nc"), "x"));
    QVERIFY(writeFile(onController("gone.nc"), "x"));
    QDir(onController("new dir")).removeRecursively();

    JobWatcher watcher(m_sftp.data());
    const auto run = [&](QSsh::SftpJobId job) {
        QString error;
        if (job == QSsh::SftpInvalidJob)
            return QStringLiteral("<no job>");
        if (!watcher.wait(job, &error, 10000))
            return QStringLiteral("<no report>");
        return error;
    };

    QCOMPARE(run(m_sftp->createDirectory(remote("new dir"))), QString());
    QVERIFY(QFileInfo(onController("new dir")).isDir());
    QVERIFY(run(m_sftp->createDirectory(remote("new dir"))).contains("already exists"));
    QVERIFY(run(m_sftp->createDirectory(remote("missing/child"))).contains("no such file"));
    QVERIFY(run(m_sftp->removeDirectory(remote("full"))).contains("not empty"));
    QVERIFY(QFileInfo::exists(onController("full/inside.nc")));
    QVERIFY(run(m_sftp->removeFile(remote("nothing-here.nc"))).contains("no such file"));
    QVERIFY(!run(m_sftp->removeFile(remote("full"))).isEmpty());
    QVERIFY(QFileInfo(onController("full")).isDir());

    // A rename never replaces what holds the new name.
    QCOMPARE(run(m_sftp->renamePath(remote("gone.nc"), remote("零件\t1.nc"))), QString());
    QVERIFY(run(m_sftp->renamePath(remote("零件\t1.nc"), remote("full"))).contains("in use"));
    QVERIFY(QFileInfo(onController("full/inside.nc")).isFile());
    QCOMPARE(run(m_sftp->renamePath(remote("零件\t1.nc"), remote("gone.nc"))), QString());
    QCOMPARE(run(m_sftp->removeFile(remote("gone.nc"))), QString());
    QVERIFY(!QFileInfo::exists(onController("gone.nc")));
    QCOMPARE(run(m_sftp->removeDirectory(remote("new dir"))), QString());
    QVERIFY(!QFileInfo::exists(onController("new dir")));
}

void TestSshSftp::failuresToStartOrRun()
{
    // A channel that is not initialized creates no jobs.
    const auto fresh = m_connection->createSftpChannel();
    QVERIFY(fresh);
    QCOMPARE(fresh->state(), QSsh::SftpChannel::Closed);
    QCOMPARE(fresh->uploadFile(m_local.filePath("x"), remote("x"), QSsh::SftpOverwriteExisting),
             QSsh::SftpInvalidJob);
    QCOMPARE(fresh->removeFile(remote("x")), QSsh::SftpInvalidJob);

    // Jobs that start but cannot succeed end with a text that says why, and harm nothing.
    JobWatcher watcher(m_sftp.data());
    QString error;
    QSsh::SftpJobId job = m_sftp->uploadFile(m_local.filePath("does-not-exist.nc"),
                                             remote("never.nc"), QSsh::SftpOverwriteExisting);
    QVERIFY(watcher.wait(job, &error));
    QVERIFY2(error.contains("does-not-exist.nc"), qPrintable(error));
    QVERIFY(!QFileInfo::exists(onController("never.nc")));

    QVERIFY(writeFile(m_local.filePath("keep.nc"), "precious"));
    job = m_sftp->downloadFile(remote("no-such-file.nc"), m_local.filePath("keep.nc"),
                               QSsh::SftpOverwriteExisting);
    QVERIFY(watcher.wait(job, &error));
    QVERIFY2(error.contains("no such file"), qPrintable(error));
    QCOMPARE(readFile(m_local.filePath("keep.nc")), QByteArray("precious"));

    job = m_sftp->downloadFile(remote("fresh.nc"), m_local.filePath("no-dir/x.nc"),
                               QSsh::SftpOverwriteExisting);
    QVERIFY(watcher.wait(job, &error));
    QVERIFY2(error.contains("no-dir"), qPrintable(error));

    QVERIFY(writeFile(m_local.filePath("up.nc"), "data"));
    job = m_sftp->uploadFile(m_local.filePath("up.nc"), remote("missing-dir/up.nc"),
                             QSsh::SftpOverwriteExisting);
    QVERIFY(watcher.wait(job, &error));
    QVERIFY2(error.contains("no such file"), qPrintable(error));

    QVERIFY(QDir().mkpath(onController("a-directory")));
    job = m_sftp->uploadFile(m_local.filePath("up.nc"), remote("a-directory"),
                             QSsh::SftpOverwriteExisting);
    QVERIFY(watcher.wait(job, &error));
    QVERIFY2(error.contains("directory"), qPrintable(error));
    QVERIFY(QFileInfo(onController("a-directory")).isDir());
    QCOMPARE(strayTemporaries(m_sim->rootDir()), QStringList());
    QCOMPARE(strayTemporaries(m_local.path()), QStringList());
}

// A download onto a full disk fails with a text that says so and leaves the old file alone.
void TestSshSftp::fullLocalDiskFailsCleanly()
{
    QTemporaryDir mountPoint;
    QVERIFY(mountPoint.isValid());
    if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=1m", "tmpfs", mountPoint.path()}) !=
        0)
        QSKIP("cannot mount a small tmpfs here (needs root)");
    const auto unmount = qScopeGuard([&] { QProcess::execute("umount", {mountPoint.path()}); });
    const QString target = mountPoint.path() + "/target.nc";
    QVERIFY(writeFile(target, "the old file\n"));
    QVERIFY(writeRandomFile(onController("large.nc"), 3 * 1024 * 1024));

    JobWatcher watcher(m_sftp.data());
    QString error;
    const QSsh::SftpJobId job =
        m_sftp->downloadFile(remote("large.nc"), target, QSsh::SftpOverwriteExisting);
    QVERIFY(watcher.wait(job, &error));
    QVERIFY2(error.contains("target.nc") && error.contains("No space left"), qPrintable(error));
    QCOMPARE(readFile(target), QByteArray("the old file\n"));
    QCOMPARE(QDir(mountPoint.path()).entryList(QDir::Files | QDir::Hidden),
             QStringList{"target.nc"});
}

// While large transfers run side by side, calls queued into the owning thread must run
// promptly: the layer never blocks its thread on the network.
void TestSshSftp::eventLoopStaysResponsiveDuringLargeTransfers()
{
    const qint64 size = qint64(64) * 1024 * 1024;
    JobWatcher watcher(m_sftp.data());
    QList<QSsh::SftpJobId> jobs;
    for (const QString name : {"big1.bin", "big2.bin"}) {
        QVERIFY(writeRandomFile(onController(name), size));
        QVERIFY(writeRandomFile(m_local.filePath("up-" + name), size));
        jobs << m_sftp->downloadFile(remote(name), m_local.filePath(name),
                                     QSsh::SftpOverwriteExisting)
             << m_sftp->uploadFile(m_local.filePath("up-" + name), remote("up-" + name),
                                   QSsh::SftpOverwriteExisting);
    }

    qint64 worstMs = 0;
    int probes = 0;
    bool done = false;
    QElapsedTimer queuedAt;
    QElapsedTimer clock;
    clock.start();
    std::function<void()> probe = [&] {
        queuedAt.start();
        QMetaObject::invokeMethod(
            this,
            [&] {
                worstMs = qMax(worstMs, queuedAt.elapsed());
                ++probes;
                if (!done)
                    QTimer::singleShot(5, this, probe);
            },
            Qt::QueuedConnection);
    };
    probe();
    for (const QSsh::SftpJobId job : qAsConst(jobs)) {
        QString error;
        QVERIFY(watcher.wait(job, &error, 240000));
        QVERIFY2(error.isEmpty(), qPrintable(error));
    }
    done = true;
    qInfo("%d queued calls in %lld ms of transfers, the slowest waited %lld ms", probes,
          clock.elapsed(), worstMs);
    QVERIFY(probes > 10);
    QVERIFY2(worstMs < 50, qPrintable(QStringLiteral("a queued call waited %1 ms").arg(worstMs)));
    for (const QString name : {"big1.bin", "big2.bin"}) {
        QCOMPARE(fileHash(m_local.filePath(name)), fileHash(onController(name)));
        QCOMPARE(fileHash(onController("up-" + name)), fileHash(m_local.filePath("up-" + name)));
        QFile::remove(onController(name));
        QFile::remove(onController("up-" + name));
        QFile::remove(m_local.filePath(name));
        QFile::remove(m_local.filePath("up-" + name));
    }
}

QTEST_GUILESS_MAIN(TestSshSftp)
#include "tst_ssh_sftp.moc"
