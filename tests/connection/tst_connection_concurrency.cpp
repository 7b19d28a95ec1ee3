// Transfers side by side through the worker, as a drop of files and the download of a
// selection start them, with a removal and a new folder among them: every file arrives whole
// and every job is reported once. Against OpenSSH over a long, slow link the cable is then
// pulled while a second batch runs: no target is left cut short, and once the connection is
// back no temporary is left on either side.
#include "ControllerSession.h"
#include "DelayRelay.h"
#include "TestSupport.h"

#include <QtTest>

using Server = SimController::Server;

namespace {

constexpr int kFilesEachWay = 20;
const QString kRemoteRoot = QStringLiteral("/home/pi/cnc/");

// Name parts that shells, terminals and encodings trip over.
const QStringList &awkwardNames()
{
    static const QStringList names = {
        QStringLiteral("blank and 'quote'"),
        QStringLiteral("\"double\" \\back\\slash"),
        QStringLiteral("$HOME `id` $(id) !!"),
        QStringLiteral("零件 程序"),
        QStringLiteral("e\u0301te\u0301 decomposed"),
        QStringLiteral("-f --leading dash"),
        QStringLiteral("tab\tand\x01control\x15"),
        QStringLiteral("semi;colon & amp | pipe *"),
        QStringLiteral("\u00fcn\u00efc\u00f6d\u00e9 \u2713"),
        QStringLiteral("very long ") + QString(180, QLatin1Char('x')),
    };
    return names;
}

// One file of a batch, the job that moves it and how it ended.
struct Transfer
{
    bool upload = true;
    QString name;   // the same on both sides
    QString source; // where it comes from, and where it goes
    QString target;
    QByteArray before; // the target's content before the batch, null when there was none
    QByteArray hash;   // of the source
    QSsh::SftpJobId job = QSsh::SftpInvalidJob;
    int reports = 0;
    QString error;
};

} // namespace

class TestConnectionConcurrency : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void transfersSideBySide_data();
    void transfersSideBySide();

private:
    // Writes new sources for every transfer (and for every other one a target to replace).
    bool prepare(QList<Transfer> &batch, int round);
    // Starts the batch in the worker; the removal and the new folder go in the middle.
    bool start(ControllerSession &session, QList<Transfer> &batch);
    // Matches the reports since mark to the transfers.
    static void collect(const ControllerSession &session, int mark, QList<Transfer> &batch);

    SimController m_sims[2] = {SimController(Server::OpenSsh), SimController(Server::Dropbear)};
    SimController *m_sim = nullptr;
    QTemporaryDir m_local;
};

void TestConnectionConcurrency::initTestCase()
{
    for (SimController &sim : m_sims)
        CNC_START_SIM(sim, {});
    QVERIFY(m_local.isValid());
}

void TestConnectionConcurrency::transfersSideBySide_data()
{
    SimController::addServerColumn();
    QTest::addColumn<int>("delayMs");
    QTest::addColumn<bool>("pullCable");
    // Dropbear's window is smaller than one SFTP write request: the case in which requests of
    // two jobs on one SFTP session garble each other.
    SimController::newServerRow(Server::OpenSsh, "10 ms each way, cable pulled") << 10 << true;
    SimController::newServerRow(Server::Dropbear) << 0 << false;
}

bool TestConnectionConcurrency::prepare(QList<Transfer> &batch, int round)
{
    const QString root = m_sim->rootDir() + QLatin1Char('/');
    if (batch.isEmpty()) {
        for (int i = 0; i < 2 * kFilesEachWay; ++i) {
            Transfer t;
            t.upload = i % 2 == 0;
            t.name = QStringLiteral("%1 %2 %3.nc")
                         .arg(t.upload ? "up" : "down")
                         .arg(i)
                         .arg(awkwardNames().at(i / 2 % awkwardNames().size()));
            t.source = (t.upload ? m_local.filePath(t.name) : root + t.name);
            t.target = (t.upload ? root + t.name : m_local.filePath(t.name));
            batch << t;
        }
    }
    for (int i = 0; i < batch.size(); ++i) {
        Transfer &t = batch[i];
        // Sizes from empty to 600 KiB, different in each round.
        const qint64 size = i == 0 ? 0 : (i * 37 + round * 101) % 600 * 1024 + i;
        if (!writeRandomFile(t.source, size))
            return false;
        if (round == 0 && i % 4 < 2 && !writeFile(t.target, "the old version\n"))
            return false;
        t.before = QFileInfo::exists(t.target) ? readFile(t.target) : QByteArray();
        t.hash = fileHash(t.source);
        t.job = QSsh::SftpInvalidJob;
        t.reports = 0;
        t.error.clear();
    }
    return true;
}

bool TestConnectionConcurrency::start(ControllerSession &session, QList<Transfer> &batch)
{
    return session.inWorker([&] {
        CConnectionForSshClient *const worker = session.worker();
        for (int i = 0; i < batch.size(); ++i) {
            const Transfer &t = batch.at(i);
            const QString remote = kRemoteRoot + t.name;
            if (t.upload)
                worker->slotUploadFile(t.source, remote);
            else
                worker->slotDownloadFile(remote, t.target);
            if (i == batch.size() / 2) {
                worker->slotDeleteRemotePath(kRemoteRoot + "doomed.nc", "file");
                worker->slotCreateRemoteFolder(kRemoteRoot + "made meanwhile");
            }
        }
    });
}

void TestConnectionConcurrency::collect(const ControllerSession &session, int mark,
                                        QList<Transfer> &batch)
{
    QHash<QSsh::SftpJobId, Transfer *> byJob;
    for (const QVariantList &started : qAsConst(session.transferSpy)) {
        for (Transfer &t : batch) {
            if (t.name == started.at(1).toString())
                byJob.insert(started.at(0).value<QSsh::SftpJobId>(), &t);
        }
    }
    for (Transfer &t : batch)
        t.reports = 0;
    for (int i = mark; i < session.jobSpy.count(); ++i) {
        const auto job = session.jobSpy.at(i).at(0).value<QSsh::SftpJobId>();
        Transfer *const t = byJob.value(job);
        if (!t)
            continue; // the removal or the new folder
        t->job = job;
        t->error = session.jobSpy.at(i).at(1).toString();
        ++t->reports;
    }
}

void TestConnectionConcurrency::transfersSideBySide()
{
    QFETCH(Server, server);
    QFETCH(int, delayMs);
    QFETCH(bool, pullCable);
    m_sim = &m_sims[server == Server::Dropbear];
    QDir(m_local.path()).removeRecursively();
    QVERIFY(QDir().mkpath(m_local.path()));

    std::unique_ptr<DelayRelay> relay;
    if (delayMs > 0) {
        relay = std::make_unique<DelayRelay>(m_sim->address(), 22, delayMs, 300);
        QString error;
        QVERIFY2(relay->start(&error), qPrintable(error));
    }
    // Slow enough for the cable to be pulled while the transfers run.
    QVERIFY2(m_sim->setLinkRate(pullCable ? "20mbit" : ""), qPrintable(m_sim->lastError()));
    const auto restoreLink = qScopeGuard([this] {
        m_sim->linkUp();
        m_sim->setLinkRate(QString());
    });

    ControllerSession session(relay ? relay->address() : m_sim->address(),
                              SimController::rootPassword(), relay ? relay->port() : 22);
    session.start();
    QVERIFY(session.waitReady());

    // The first batch runs to its end, the shell answering meanwhile.
    QList<Transfer> batch;
    QVERIFY(prepare(batch, 0));
    QVERIFY(writeFile(m_sim->rootDir() + "/doomed.nc", "x"));
    QDir(m_sim->rootDir() + "/made meanwhile").removeRecursively();
    int mark = session.jobSpy.count();
    QVERIFY(start(session, batch));
    QCOMPARE(countMarkerLines(session.shell("echo \"ALI\"\"VE\""), "ALIVE"), 1);
    QTRY_COMPARE_WITH_TIMEOUT(session.jobSpy.count() - mark, batch.size() + 2, 60000);
    collect(session, mark, batch);
    QSet<QSsh::SftpJobId> ids;
    for (int i = mark; i < session.jobSpy.count(); ++i)
        ids << session.jobSpy.at(i).at(0).value<QSsh::SftpJobId>();
    QCOMPARE(ids.size(), batch.size() + 2); // one report for each job, none for no job
    for (const Transfer &t : qAsConst(batch)) {
        QVERIFY2(t.reports == 1 && t.error.isEmpty(), qPrintable(t.name + ": " + t.error));
        QVERIFY2(fileHash(t.target) == t.hash, qPrintable(t.name));
    }
    QVERIFY(!QFileInfo::exists(m_sim->rootDir() + "/doomed.nc"));
    QVERIFY(QFileInfo(m_sim->rootDir() + "/made meanwhile").isDir());
    QCOMPARE(strayTemporaries(m_sim->rootDir()), QStringList());
    QCOMPARE(strayTemporaries(m_local.path()), QStringList());
    if (!pullCable)
        return;

    // The second batch loses its link once a quarter of it is through.
    QVERIFY(prepare(batch, 1));
    QVERIFY(writeFile(m_sim->rootDir() + "/doomed.nc", "x"));
    QDir(m_sim->rootDir() + "/made meanwhile").removeRecursively();
    const int lossesBefore = session.stateSpy.count();
    const int channelsBefore = session.readySpy.count();
    mark = session.jobSpy.count();
    QVERIFY(start(session, batch));
    QTRY_VERIFY_WITH_TIMEOUT(session.jobSpy.count() - mark >= batch.size() / 4, 60000);
    QVERIFY(m_sim->linkDown());
    QTRY_VERIFY_WITH_TIMEOUT(session.stateSpy.count() > lossesBefore, 40000);
    QVERIFY(m_sim->linkUp());
    QTRY_COMPARE_WITH_TIMEOUT(session.jobSpy.count() - mark, batch.size() + 2, 20000);
    collect(session, mark, batch);
    int failed = 0;
    for (const Transfer &t : qAsConst(batch)) {
        QVERIFY2(t.reports == 1, qPrintable(t.name));
        const QByteArray now = QFileInfo::exists(t.target) ? fileHash(t.target) : QByteArray();
        if (t.error.isEmpty()) {
            QVERIFY2(now == t.hash, qPrintable(t.name));
            continue;
        }
        ++failed;
        // A failed transfer leaves the old target; an upload that failed while its
        // replacement was on its way may have put the new one in place, but whole.
        const bool old =
            t.before.isNull() ? !QFileInfo::exists(t.target) : readFile(t.target) == t.before;
        QVERIFY2(old || (t.upload && now == t.hash), qPrintable(t.name + ": " + t.error));
    }
    QVERIFY2(failed > 0, "the cable was pulled after every transfer had ended");
    QCOMPARE(strayTemporaries(m_local.path()), QStringList());
    // Once connected again, the worker removes what the cut uploads left on the controller.
    QTRY_VERIFY_WITH_TIMEOUT(session.readySpy.count() > channelsBefore, 30000);
    QTRY_COMPARE_WITH_TIMEOUT(strayTemporaries(m_sim->rootDir()), QStringList(), 10000);
}

QTEST_GUILESS_MAIN(TestConnectionConcurrency)
#include "tst_connection_concurrency.moc"
