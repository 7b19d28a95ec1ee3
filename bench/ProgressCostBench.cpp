// What transfer progress costs the connection worker. Judged on the worker thread's CPU time per
// progress report, driven through the path reports take (the channel's queued emission of
// SftpChannel::transferProgress, relayed by the worker to a receiver in this thread) during a
// transfer, against the worker's CPU spent on data between two reports: reports come at most
// every SftpJob::kProgressIntervalMs per transfer, so that ratio is the share of the worker's
// CPU that progress takes. The CPU per MiB moved with a receiver connected and without one, in
// interleaved rounds, is printed as information: the difference lies within its noise.

#include "BenchSupport.h"
#include "BenchWorker.h"
#include "CConnectionForSshClient.h"
#include "RoundSeries.h"
#include "SimController.h"
#include "internal/SftpJob.h"

#include <QTemporaryDir>

#include <unistd.h>

namespace {

using Bench::out;

// Run after the throughput benchmark, on the same instance.
const int kSimInstance = Bench::simInstance(190);
constexpr qint64 kMiB = 1024 * 1024;
constexpr qint64 kTransferSize = 512 * kMiB;
constexpr int kRounds = 7;
constexpr int kFloods = 5;
constexpr int kFloodReports = 10000;
// Marks the reports of a flood apart from the transfer's own.
constexpr quint64 kFloodMarker = ~quint64(0);
constexpr double kTargetPercent = 2.0;

// Worker thread CPU per progress report, in microseconds: kFloodReports reports posted and
// relayed, in the worker's thread, while a download runs; one figure a flood. received counts
// the flood's reports that reached this thread.
bool measurePerReport(Bench::BenchWorker &worker, const QString &remote, const QString &local,
                      Bench::RoundSeries *perReportUs, int *received)
{
    for (int flood = 0; flood < kFloods; ++flood) {
        qint64 startNs = 0;
        qint64 endNs = 0;
        CConnectionForSshClient *const w = worker.worker();
        // Runs in the worker's thread once the transfer is announced, so that the relay takes
        // the flood's reports as the transfer's.
        const QMetaObject::Connection started = QObject::connect(
            w, &CConnectionForSshClient::sftpTransferStarted, w,
            [w, &startNs, &endNs](QSsh::SftpJobId job) {
                QSsh::SftpChannel *const channel = w->getSftpChannel().data();
                startNs = Bench::currentThreadCpuNs();
                for (int i = 0; i < kFloodReports; ++i) {
                    QMetaObject::invokeMethod(
                        channel,
                        [channel, job, i] { emit channel->transferProgress(job, i, kFloodMarker); },
                        Qt::QueuedConnection);
                }
                QMetaObject::invokeMethod(
                    channel, [&endNs] { endNs = Bench::currentThreadCpuNs(); },
                    Qt::QueuedConnection);
            },
            Qt::DirectConnection);
        QString error;
        const qint64 wall = worker.run(
            [&](CConnectionForSshClient *c) { c->slotDownloadFile(remote, local); }, 1, &error);
        QObject::disconnect(started);
        if (wall < 0 || endNs == 0) {
            out() << "the flood of progress reports did not run: " << error << Qt::endl;
            return false;
        }
        if (!Bench::runUntil([&] { return *received >= (flood + 1) * kFloodReports; }, 30000)) {
            out() << "only " << *received << " of " << (flood + 1) * kFloodReports
                  << " progress reports arrived: the transfer ended before them" << Qt::endl;
            return false;
        }
        perReportUs->add(double(endNs - startNs) / 1000.0 / kFloodReports);
    }
    return true;
}

} // namespace

bool progressCostBench()
{
    QString reason;
    if (!SimController::canRun(&reason)) {
        out() << "cannot start the simulated controller: " << reason << Qt::endl;
        return false;
    }
    // What the benchmarks before wrote to disk is written back now rather than during the
    // rounds, where that work would fall on some rounds and not on others.
    ::sync();
    SimController sim(kSimInstance);
    SimController::Options options;
    options.filesInMemory = true;
    // In memory, on both ends: the disk's own variations would drown what is measured.
    QTemporaryDir scratch(QStringLiteral("/dev/shm/cnc-progress-cost-XXXXXX"));
    const QString local = scratch.filePath(QStringLiteral("up.bin"));
    if (!sim.start(options) || !scratch.isValid() ||
        !Bench::writeRandomFile(local, kTransferSize) ||
        !Bench::writeRandomFile(sim.rootDir() + QStringLiteral("/source.bin"), kTransferSize)) {
        out() << "cannot set up: " << sim.lastError() << Qt::endl;
        return false;
    }
    Bench::BenchWorker worker(sim.address(), 22);
    if (!worker.waitReady()) {
        out() << "the worker's SFTP channel did not open" << Qt::endl;
        return false;
    }
    int reports = 0;
    int floodReports = 0;
    // A receiver of the progress reports, as the main window connects one, or none.
    const auto listen = [&](bool on) {
        if (on)
            QObject::connect(worker.worker(), &CConnectionForSshClient::sftpTransferProgress,
                             &worker, [&](QSsh::SftpJobId, quint64, quint64 total) {
                                 ++(total == kFloodMarker ? floodReports : reports);
                             });
        else
            QObject::disconnect(worker.worker(), &CConnectionForSshClient::sftpTransferProgress,
                                &worker, nullptr);
    };

    // [with progress][upload, download]: CPU milliseconds per MiB, one per round, and the wall
    // milliseconds of the rounds with progress. Round -1 warms the caches up and is not counted.
    Bench::RoundSeries perMiB[2][2];
    Bench::RoundSeries wallMs[2];
    const QString remoteSource = QStringLiteral("/home/pi/cnc/source.bin");
    const QString localDown = scratch.filePath(QStringLiteral("down.bin"));
    for (int round = -1; round < kRounds; ++round) {
        // Alternate which goes first, so that a drift of the machine hits both alike.
        for (const bool progress : {round % 2 == 0, round % 2 != 0}) {
            listen(progress);
            for (const bool upload : {true, false}) {
                QString error;
                const qint64 before = worker.threadCpuNs();
                const qint64 wall = worker.run(
                    [&](CConnectionForSshClient *w) {
                        if (upload)
                            w->slotUploadFile(local, QStringLiteral("/home/pi/cnc/up.bin"));
                        else
                            w->slotDownloadFile(remoteSource, localDown);
                    },
                    1, &error);
                if (wall < 0) {
                    out() << "transfer failed: " << error << Qt::endl;
                    return false;
                }
                const double ms = double(worker.threadCpuNs() - before) / 1e6;
                if (round < 0)
                    continue;
                perMiB[progress][upload ? 0 : 1].add(ms / double(kTransferSize / kMiB));
                if (progress)
                    wallMs[upload ? 0 : 1].add(wall);
            }
        }
    }
    if (reports < kRounds) {
        out() << "no progress reports arrived" << Qt::endl;
        return false;
    }
    listen(true);
    Bench::RoundSeries perReportUs;
    if (!measurePerReport(worker, remoteSource, localDown, &perReportUs, &floodReports))
        return false;

    out() << "information: worker thread CPU per MiB in " << kRounds
          << " interleaved rounds, the least (the median, the range); " << reports
          << " progress reports received" << Qt::endl;
    for (const int direction : {0, 1}) {
        const Bench::RoundSeries &with = perMiB[1][direction];
        const Bench::RoundSeries &without = perMiB[0][direction];
        out() << QStringLiteral("  %1 512 MiB: with progress %2 ms (%3, %4, spread %5 %), "
                                "without %6 ms (%7, %8, spread %9 %)")
                     .arg(QLatin1String(direction == 0 ? "upload  " : "download"))
                     .arg(with.best(), 0, 'f', 3)
                     .arg(with.median(), 0, 'f', 3)
                     .arg(with.range(3))
                     .arg(with.spreadPercent(), 0, 'f', 1)
                     .arg(without.best(), 0, 'f', 3)
                     .arg(without.median(), 0, 'f', 3)
                     .arg(without.range(3))
                     .arg(without.spreadPercent(), 0, 'f', 1)
              << QStringLiteral(", difference %1 %")
                     .arg((with.best() / without.best() - 1.0) * 100.0, 0, 'f', 2)
              << Qt::endl;
    }

    // The bound: one report per interval and transfer against the CPU the worker spends on
    // that transfer's data in the same interval, at the rate measured (medians of the rounds
    // with progress).
    const double reportUs = perReportUs.median();
    out() << QStringLiteral("a progress report costs the worker %1 us of CPU (median of %2 floods "
                            "of %3 during a download, range %4 us)")
                 .arg(reportUs, 0, 'f', 2)
                 .arg(kFloods)
                 .arg(kFloodReports)
                 .arg(perReportUs.range(2))
          << Qt::endl;
    bool met = true;
    for (const int direction : {0, 1}) {
        const double cpuPerTransferMs =
            perMiB[1][direction].median() * double(kTransferSize / kMiB);
        const double dataCpuMs = cpuPerTransferMs / wallMs[direction].median() *
                                 QSsh::Internal::SftpJob::kProgressIntervalMs;
        const double share = dataCpuMs > 0 ? reportUs / 1000.0 / dataCpuMs * 100.0 : 100.0;
        const bool ok = share < kTargetPercent;
        const QString row =
            QStringLiteral("%1: a report every %2 ms costs %3 us against %4 ms of data CPU at "
                           "%5 MB/s, a share of %6 % (target < %7 %)")
                .arg(QLatin1String(direction == 0 ? "upload  " : "download"))
                .arg(QSsh::Internal::SftpJob::kProgressIntervalMs)
                .arg(reportUs, 0, 'f', 2)
                .arg(dataCpuMs, 0, 'f', 1)
                .arg(Bench::megabytesPerSecond(kTransferSize, qint64(wallMs[direction].median())),
                     0, 'f', 0)
                .arg(share, 0, 'f', 3)
                .arg(kTargetPercent, 0, 'f', 0);
        met = Bench::judge(QStringLiteral("progress cost ") + row, ok) && met;
        out() << row << ": " << (ok ? "met" : "MISSED") << Qt::endl;
    }
    return met;
}
