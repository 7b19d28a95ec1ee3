// SFTP uploads and downloads through the worker, and their reports.
#include "SimController.h"
#include "WorkerHarness.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray randomBytes(int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (char &b : bytes)
        b = static_cast<char>(QRandomGenerator::global()->bounded(256));
    return bytes;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

class TestConnectionTransfers : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init() { ConnectionLog::clear(); }

    void requestWhileDisconnectedIsRefusedOnce();
    void uploadThenThreeDownloadsInARow();
    void failedJobsReportTheirError();

private:
    QString onController(const QString &name) const { return QDir(m_sim.rootDir()).filePath(name); }

    SimController m_sim;
    QTemporaryDir m_local;
};

void TestConnectionTransfers::initTestCase()
{
    CNC_REQUIRE_SIM();
    QVERIFY2(m_sim.start(), qPrintable(m_sim.lastError()));
    QVERIFY(m_local.isValid());
    ConnectionLog::install();
}

void TestConnectionTransfers::requestWhileDisconnectedIsRefusedOnce()
{
    WorkerHarness harness(m_sim.address(), QStringLiteral("wrong password"));
    harness.start();
    QTRY_COMPARE_WITH_TIMEOUT(harness.stateSpy.count(), 1, 15000);

    const QString local = m_local.filePath("refused.bin");
    QVERIFY(writeFile(local, "x"));
    QVERIFY(harness.inWorker(
        [&] { harness.worker()->slotUploadFile(local, "/home/pi/cnc/refused.bin"); }));
    QCOMPARE(harness.jobSpy.count(), 1);
    QCOMPARE(harness.jobSpy.at(0).at(0).value<QSsh::SftpJobId>(), QSsh::SftpInvalidJob);
    QCOMPARE(harness.jobSpy.at(0).at(1).toString(), QStringLiteral("SFTP channel not ready."));
    QVERIFY(!QFile::exists(onController("refused.bin")));
}

void TestConnectionTransfers::uploadThenThreeDownloadsInARow()
{
    WorkerHarness harness(m_sim.address());
    harness.start();
    QVERIFY(harness.waitReady());
    CConnectionForSshClient *const worker = harness.worker();

    // An existing remote file is replaced.
    const QByteArray content = randomBytes(300 * 1024);
    QVERIFY(writeFile(onController("程序 1.nc"), "old content"));
    const QString local = m_local.filePath("upload.nc");
    QVERIFY(writeFile(local, content));
    QVERIFY(harness.inWorker([&] { worker->slotUploadFile(local, "/home/pi/cnc/程序 1.nc"); }));
    QTRY_COMPARE_WITH_TIMEOUT(harness.jobSpy.count(), 1, 20000);
    QVERIFY(harness.jobSpy.at(0).at(0).value<QSsh::SftpJobId>() != QSsh::SftpInvalidJob);
    QCOMPARE(harness.jobSpy.at(0).at(1).toString(), QString());
    QCOMPARE(readFile(onController("程序 1.nc")), content);

    QStringList targets;
    for (int i = 0; i < 3; ++i)
        targets << m_local.filePath(QStringLiteral("download %1.nc").arg(i));
    QVERIFY(writeFile(targets.at(0), "old local content"));
    QVERIFY(harness.inWorker([&] {
        for (const QString &target : targets)
            worker->slotDownloadFile("/home/pi/cnc/程序 1.nc", target);
    }));
    QTRY_COMPARE_WITH_TIMEOUT(harness.jobSpy.count(), 4, 20000);
    QSet<QSsh::SftpJobId> jobs;
    for (int i = 1; i < 4; ++i) {
        jobs.insert(harness.jobSpy.at(i).at(0).value<QSsh::SftpJobId>());
        QCOMPARE(harness.jobSpy.at(i).at(1).toString(), QString());
    }
    QCOMPARE(jobs.size(), 3);
    QVERIFY(!jobs.contains(QSsh::SftpInvalidJob));
    for (const QString &target : targets)
        QCOMPARE(readFile(target), content);
}

void TestConnectionTransfers::failedJobsReportTheirError()
{
    WorkerHarness harness(m_sim.address());
    harness.start();
    QVERIFY(harness.waitReady());
    CConnectionForSshClient *const worker = harness.worker();

    const QString local = m_local.filePath("exists.nc");
    QVERIFY(writeFile(local, "G0 X0\n"));
    QVERIFY(harness.inWorker([&] {
        worker->slotDownloadFile("/home/pi/cnc/missing.nc", m_local.filePath("missing.nc"));
        worker->slotUploadFile(local, "/home/pi/cnc/no such folder/exists.nc");
        worker->slotUploadFile(m_local.filePath("no such file.nc"), "/home/pi/cnc/x.nc");
    }));
    QTRY_COMPARE_WITH_TIMEOUT(harness.jobSpy.count(), 3, 20000);
    for (const auto &report : qAsConst(harness.jobSpy))
        QVERIFY(!report.at(1).toString().isEmpty());
    QVERIFY(!QFile::exists(m_local.filePath("missing.nc")));
    QVERIFY(!QFile::exists(onController("x.nc")));
}

QTEST_GUILESS_MAIN(TestConnectionTransfers)
#include "tst_connection_transfers.moc"
