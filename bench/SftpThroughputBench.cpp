// Throughput and memory of SFTP transfers through our SSH layer, against OpenSSH's own sftp
// client on the same link to the same simulated controller.

#include "BenchSupport.h"
#include "BlockingLibssh2Peer.h"
#include "SimController.h"

#include <SftpChannel.h>
#include <SshConnection.h>

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>

#include <memory>

namespace {

using Bench::out;

constexpr int kSimInstance = 190;
constexpr qint64 kMiB = 1024 * 1024;
constexpr qint64 kTransferSize = 256 * kMiB;
constexpr qint64 kLargeSize = 1024 * kMiB;
constexpr double kTargetRatio = 1.2;
constexpr qint64 kRssBudgetKiB = 64 * 1024;
constexpr int kRounds = 5;
const char kRemoteDir[] = "/home/pi/cnc/";

QByteArray fileHash(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return {};
    return hash.result();
}

struct JobRun
{
    qint64 milliseconds = -1;
    qint64 peakRssKiB = 0;
    QString error;
};

// Runs one job to its end, sampling the resident set size meanwhile.
JobRun runJob(QSsh::SftpChannel &sftp, const std::function<QSsh::SftpJobId()> &start)
{
    JobRun run;
    QSsh::SftpJobId id = QSsh::SftpInvalidJob;
    bool done = false;
    const QMetaObject::Connection finished = QObject::connect(
        &sftp, &QSsh::SftpChannel::finished, &sftp, [&](QSsh::SftpJobId job, const QString &error) {
            if (job == id) {
                done = true;
                run.error = error;
            }
        });
    QTimer sampler;
    sampler.setInterval(10);
    QObject::connect(&sampler, &QTimer::timeout,
                     [&] { run.peakRssKiB = qMax(run.peakRssKiB, Bench::procStatusKiB("VmRSS")); });
    sampler.start();
    QElapsedTimer clock;
    clock.start();
    id = start();
    if (id == QSsh::SftpInvalidJob)
        run.error = QStringLiteral("the job could not be created");
    else if (!Bench::runUntil([&] { return done; }, 15 * 60 * 1000))
        run.error = QStringLiteral("the job did not finish in time");
    run.milliseconds = clock.elapsed();
    QObject::disconnect(finished);
    return run;
}

// One run of OpenSSH's sftp client with a batch file; its duration or -1.
qint64 runOpenSsh(const QString &address, const QString &batch, const QTemporaryDir &scratch)
{
    const QString batchPath = scratch.filePath(QStringLiteral("batch"));
    QFile file(batchPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(batch.toUtf8()) < 0)
        return -1;
    file.close();
    QElapsedTimer clock;
    clock.start();
    const int rc = Bench::runProgram(
        QStringLiteral("sshpass"),
        {QStringLiteral("-p"), SimController::rootPassword(), QStringLiteral("sftp"),
         // -b implies BatchMode, which refuses password logins unless turned off first.
         QStringLiteral("-q"), QStringLiteral("-o"), QStringLiteral("BatchMode=no"),
         QStringLiteral("-o"), QStringLiteral("StrictHostKeyChecking=no"), QStringLiteral("-o"),
         QStringLiteral("UserKnownHostsFile=/dev/null"), QStringLiteral("-o"),
         QStringLiteral("LogLevel=ERROR"), QStringLiteral("-b"), batchPath,
         QStringLiteral("root@") + address},
        15 * 60 * 1000);
    return rc == 0 ? clock.elapsed() : -1;
}

struct Figures
{
    qint64 oursMs = -1;
    qint64 blockingMs = -1;
    qint64 opensshMs = -1;
};

void report(const char *direction, const Figures &figures, bool *targetsMet)
{
    const double ours = Bench::megabytesPerSecond(kTransferSize, figures.oursMs);
    const double blocking = Bench::megabytesPerSecond(kTransferSize, figures.blockingMs);
    const double openssh = Bench::megabytesPerSecond(kTransferSize, figures.opensshMs);
    const auto ratio = [](double a, double b) {
        return b > 0 ? a / b : 0.0;
    };
    const bool met = ratio(ours, openssh) >= kTargetRatio;
    *targetsMet = *targetsMet && met;
    out() << QStringLiteral("%1 256 MiB: QSsh %2 MB/s, OpenSSH sftp %3 MB/s, ratio %4 (target >= "
                            "%5: %6); blocking libssh2 %7 MB/s, QSsh/blocking %8, "
                            "blocking/OpenSSH %9")
                 .arg(QLatin1String(direction))
                 .arg(ours, 0, 'f', 1)
                 .arg(openssh, 0, 'f', 1)
                 .arg(ratio(ours, openssh), 0, 'f', 2)
                 .arg(kTargetRatio, 0, 'f', 1)
                 .arg(met ? QStringLiteral("met") : QStringLiteral("MISSED"))
                 .arg(blocking, 0, 'f', 1)
                 .arg(ratio(ours, blocking), 0, 'f', 2)
                 .arg(ratio(blocking, openssh), 0, 'f', 2)
          << Qt::endl;
}

} // namespace

bool sftpThroughputBench()
{
    QString reason;
    if (!SimController::canRun(&reason)) {
        out() << "cannot start the simulated controller: " << reason << Qt::endl;
        return false;
    }
    if (QStandardPaths::findExecutable(QStringLiteral("sshpass")).isEmpty()) {
        out() << "sshpass is missing (Debian package sshpass)" << Qt::endl;
        return false;
    }
    SimController sim(kSimInstance);
    if (!sim.start()) {
        out() << "simulated controller: " << sim.lastError() << Qt::endl;
        return false;
    }
    QTemporaryDir scratch;
    const QString localUp = scratch.filePath(QStringLiteral("up.bin"));
    const QString remoteSource = sim.rootDir() + QStringLiteral("/source.bin");
    if (!scratch.isValid() || !Bench::writeRandomFile(localUp, kTransferSize) ||
        !Bench::writeRandomFile(remoteSource, kTransferSize)) {
        out() << "cannot create the test files" << Qt::endl;
        return false;
    }

    QSsh::SshConnectionParameters parameters;
    parameters.setHost(sim.address());
    parameters.setUserName(QStringLiteral("root"));
    parameters.setPassword(SimController::rootPassword());
    parameters.setPort(22);
    QSsh::SshConnection connection(parameters);
    bool connected = false;
    QObject::connect(&connection, &QSsh::SshConnection::connected, [&] { connected = true; });
    connection.connectToHost();
    if (!Bench::runUntil([&] { return connected; }, 15000)) {
        out() << "cannot connect: " << connection.errorString() << Qt::endl;
        return false;
    }
    const QSharedPointer<QSsh::SftpChannel> sftp = connection.createSftpChannel();
    sftp->initialize();
    if (!Bench::runUntil([&] { return sftp->state() == QSsh::SftpChannel::Initialized; }, 10000)) {
        out() << "the SFTP channel did not open" << Qt::endl;
        return false;
    }

    // OpenSSH's figures include its login; a batch that moves nothing measures that part,
    // which is subtracted.
    qint64 loginMs = -1;
    for (int i = 0; i < 3; ++i) {
        const qint64 ms = runOpenSsh(sim.address(), QStringLiteral("pwd\n"), scratch);
        if (ms >= 0 && (loginMs < 0 || ms < loginMs))
            loginMs = ms;
    }
    if (loginMs < 0) {
        out() << "OpenSSH sftp could not log in" << Qt::endl;
        return false;
    }

    const QString remoteOurs = QLatin1String(kRemoteDir) + QStringLiteral("ours.bin");
    const QString remoteSourcePath = QLatin1String(kRemoteDir) + QStringLiteral("source.bin");
    const QString localOurs = scratch.filePath(QStringLiteral("ours.bin"));
    const QString localOpenssh = scratch.filePath(QStringLiteral("openssh.bin"));
    const QString remoteBlocking = QLatin1String(kRemoteDir) + QStringLiteral("blocking.bin");
    const QString localBlocking = scratch.filePath(QStringLiteral("blocking.bin"));
    Figures upload, download;
    const auto best = [](qint64 &slot, qint64 ms) {
        if (ms > 0 && (slot < 0 || ms < slot))
            slot = ms;
    };
    for (int round = 0; round < kRounds; ++round) {
        const JobRun up = runJob(*sftp, [&] {
            return sftp->uploadFile(localUp, remoteOurs, QSsh::SftpOverwriteExisting);
        });
        const JobRun down = runJob(*sftp, [&] {
            return sftp->downloadFile(remoteSourcePath, localOurs, QSsh::SftpOverwriteExisting);
        });
        if (!up.error.isEmpty() || !down.error.isEmpty()) {
            out() << "QSsh transfer failed: " << up.error << down.error << Qt::endl;
            return false;
        }
        best(upload.oursMs, up.milliseconds);
        best(download.oursMs, down.milliseconds);
        QString blockingError;
        const qint64 blockingUp = Bench::blockingLibssh2Transfer(
            sim.address(), SimController::rootPassword(), Bench::Direction::Upload, localUp,
            remoteBlocking, &blockingError);
        const qint64 blockingDown = Bench::blockingLibssh2Transfer(
            sim.address(), SimController::rootPassword(), Bench::Direction::Download, localBlocking,
            remoteSourcePath, &blockingError);
        if (blockingUp < 0 || blockingDown < 0) {
            out() << "blocking libssh2 transfer failed: " << blockingError << Qt::endl;
            return false;
        }
        best(upload.blockingMs, blockingUp);
        best(download.blockingMs, blockingDown);
        const qint64 put = runOpenSsh(sim.address(),
                                      QStringLiteral("put \"%1\" \"%2openssh.bin\"\n")
                                          .arg(localUp, QLatin1String(kRemoteDir)),
                                      scratch);
        const qint64 get = runOpenSsh(
            sim.address(),
            QStringLiteral("get \"%1\" \"%2\"\n").arg(remoteSourcePath, localOpenssh), scratch);
        if (put < 0 || get < 0) {
            out() << "OpenSSH sftp transfer failed" << Qt::endl;
            return false;
        }
        best(upload.opensshMs, qMax<qint64>(1, put - loginMs));
        best(download.opensshMs, qMax<qint64>(1, get - loginMs));
    }
    if (fileHash(localUp) != fileHash(sim.rootDir() + QStringLiteral("/ours.bin")) ||
        fileHash(remoteSource) != fileHash(localOurs)) {
        out() << "QSsh transfers did not arrive intact" << Qt::endl;
        return false;
    }

    bool targetsMet = true;
    out() << "best of " << kRounds << " rounds; OpenSSH's login (" << loginMs << " ms) subtracted"
          << Qt::endl;
    report("upload  ", upload, &targetsMet);
    report("download", download, &targetsMet);

    // Memory stays flat: a 1 GiB transfer each way, resident size sampled every 10 ms.
    QFile::remove(localOurs);
    QFile::remove(localOpenssh);
    QFile::remove(localBlocking);
    QFile::remove(sim.rootDir() + QStringLiteral("/blocking.bin"));
    QFile::remove(sim.rootDir() + QStringLiteral("/ours.bin"));
    QFile::remove(sim.rootDir() + QStringLiteral("/openssh.bin"));
    const QString largeLocal = scratch.filePath(QStringLiteral("large.bin"));
    if (!Bench::writeRandomFile(largeLocal, kLargeSize)) {
        out() << "cannot create the 1 GiB file" << Qt::endl;
        return false;
    }
    const qint64 idleUpKiB = Bench::procStatusKiB("VmRSS");
    const JobRun largeUp = runJob(*sftp, [&] {
        return sftp->uploadFile(largeLocal, QLatin1String(kRemoteDir) + QStringLiteral("large.bin"),
                                QSsh::SftpOverwriteExisting);
    });
    const qint64 idleDownKiB = Bench::procStatusKiB("VmRSS");
    const JobRun largeDown = runJob(*sftp, [&] {
        return sftp->downloadFile(QLatin1String(kRemoteDir) + QStringLiteral("large.bin"),
                                  largeLocal, QSsh::SftpOverwriteExisting);
    });
    QFile::remove(largeLocal);
    QFile::remove(sim.rootDir() + QStringLiteral("/large.bin"));
    if (!largeUp.error.isEmpty() || !largeDown.error.isEmpty()) {
        out() << "1 GiB transfer failed: " << largeUp.error << largeDown.error << Qt::endl;
        return false;
    }
    for (const auto &[name, run, idle] : {std::tuple{"upload  ", largeUp, idleUpKiB},
                                          std::tuple{"download", largeDown, idleDownKiB}}) {
        const qint64 growthKiB = run.peakRssKiB - idle;
        const bool met = growthKiB < kRssBudgetKiB;
        targetsMet = targetsMet && met;
        out() << QStringLiteral(
                     "%1 1 GiB: %2 MB/s, resident idle %3 MiB, peak %4 MiB, growth %5 MiB "
                     "(target < 64 MiB: %6)")
                     .arg(QLatin1String(name))
                     .arg(Bench::megabytesPerSecond(kLargeSize, run.milliseconds), 0, 'f', 1)
                     .arg(double(idle) / 1024, 0, 'f', 1)
                     .arg(double(run.peakRssKiB) / 1024, 0, 'f', 1)
                     .arg(double(growthKiB) / 1024, 0, 'f', 1)
                     .arg(met ? QStringLiteral("met") : QStringLiteral("MISSED"))
              << Qt::endl;
    }
    return targetsMet;
}
