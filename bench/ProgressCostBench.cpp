// What transfer progress costs the connection worker: the CPU time its thread spends per MiB
// moved, with a receiver of the progress reports connected (as the main window connects one)
// and without any, in interleaved rounds against the simulated controller.

#include "BenchSupport.h"
#include "BenchWorker.h"
#include "CConnectionForSshClient.h"
#include "SimController.h"

#include <QTemporaryDir>

#include <algorithm>

#include <unistd.h>

namespace {

using Bench::out;

// Run after the throughput benchmark, on the same instance.
const int kSimInstance = Bench::simInstance(190);
constexpr qint64 kMiB = 1024 * 1024;
constexpr qint64 kTransferSize = 512 * kMiB;
constexpr int kRounds = 7;
constexpr double kTargetPercent = 2.0;

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
    // In memory: the disk's own variations would drown what is measured.
    QTemporaryDir scratch(QStringLiteral("/dev/shm/cnc-progress-cost-XXXXXX"));
    const QString local = scratch.filePath(QStringLiteral("up.bin"));
    if (!sim.start() || !scratch.isValid() || !Bench::writeRandomFile(local, kTransferSize) ||
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
    // A receiver of the progress reports, as the main window connects one, or none.
    const auto listen = [&](bool on) {
        if (on)
            QObject::connect(worker.worker(), &CConnectionForSshClient::sftpTransferProgress,
                             &worker, [&reports] { ++reports; });
        else
            QObject::disconnect(worker.worker(), &CConnectionForSshClient::sftpTransferProgress,
                                &worker, nullptr);
    };

    // [with progress][upload, download]: CPU milliseconds per MiB, one per round. Round -1
    // warms the caches up and is not counted.
    QVector<double> perMiB[2][2];
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
                            w->slotDownloadFile(QStringLiteral("/home/pi/cnc/source.bin"),
                                                scratch.filePath(QStringLiteral("down.bin")));
                    },
                    1, &error);
                if (wall < 0) {
                    out() << "transfer failed: " << error << Qt::endl;
                    return false;
                }
                const double ms = double(worker.threadCpuNs() - before) / 1e6;
                if (round >= 0)
                    perMiB[progress][upload ? 0 : 1] << ms / double(kTransferSize / kMiB);
            }
        }
    }
    if (reports < kRounds) {
        out() << "no progress reports arrived" << Qt::endl;
        return false;
    }

    // The least of the rounds is what the work itself costs: whatever else the two cores do
    // at the time only adds to it. The medians are printed beside it.
    bool met = true;
    out() << "worker thread CPU per MiB, the least of " << kRounds
          << " interleaved rounds (medians in brackets); " << reports
          << " progress reports received" << Qt::endl;
    for (const int direction : {0, 1}) {
        const QVector<double> &withRounds = perMiB[1][direction];
        const QVector<double> &withoutRounds = perMiB[0][direction];
        const double with = *std::min_element(withRounds.cbegin(), withRounds.cend());
        const double without = *std::min_element(withoutRounds.cbegin(), withoutRounds.cend());
        const double percent = without > 0 ? (with / without - 1.0) * 100.0 : 100.0;
        const bool ok = qAbs(percent) <= kTargetPercent;
        met = met && ok;
        out() << QStringLiteral("%1 512 MiB: with progress %2 ms (%3), without %4 ms (%5), "
                                "difference %6 % (target within %7 %: %8)")
                     .arg(QLatin1String(direction == 0 ? "upload  " : "download"))
                     .arg(with, 0, 'f', 3)
                     .arg(Bench::median(withRounds), 0, 'f', 3)
                     .arg(without, 0, 'f', 3)
                     .arg(Bench::median(withoutRounds), 0, 'f', 3)
                     .arg(percent, 0, 'f', 2)
                     .arg(kTargetPercent, 0, 'f', 0)
                     .arg(ok ? QStringLiteral("met") : QStringLiteral("MISSED"))
              << Qt::endl;
    }
    return met;
}
