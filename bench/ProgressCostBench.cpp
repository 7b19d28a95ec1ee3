// What transfer progress costs the connection worker: the CPU time its thread spends per MiB
// moved, with a receiver of the progress reports connected (as the main window connects one)
// and without any, in interleaved rounds against the simulated controller.

#include "BenchSupport.h"
#include "CConnectionForSshClient.h"
#include "SimController.h"

#include <QPointer>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <ctime>

namespace {

using Bench::out;

// Run after the throughput benchmark, on the same instance.
constexpr int kSimInstance = 190;
constexpr qint64 kMiB = 1024 * 1024;
constexpr qint64 kTransferSize = 512 * kMiB;
constexpr int kRounds = 5;
constexpr double kTargetPercent = 2.0;

double median(QVector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.isEmpty() ? 0.0 : values.at(values.size() / 2);
}

// The worker in its thread, driven as the main window drives it.
class Worker : public QObject
{
public:
    explicit Worker(const QString &address)
        : m_worker(new CConnectionForSshClient(address, 22, SimController::rootPassword(),
                                               QStringLiteral("root")))
    {
        connect(m_worker, &CConnectionForSshClient::sftpChannelInitialized, this,
                [this] { m_ready = true; });
        connect(m_worker, &CConnectionForSshClient::sftpJobFinished, this,
                [this](QSsh::SftpJobId, const QString &error) {
                    m_error = error;
                    m_finished = true;
                });
        m_worker->init();
    }
    ~Worker() override
    {
        // The worker deletes itself, and its thread, once the thread has finished.
        const QPointer<QThread> thread = m_worker->thread();
        m_worker->quitThread();
        Bench::runUntil([&] { return thread.isNull(); }, 10000);
    }

    bool waitReady()
    {
        return Bench::runUntil([this] { return m_ready; }, 20000);
    }

    void listen(bool on)
    {
        if (on)
            connect(m_worker, &CConnectionForSshClient::sftpTransferProgress, this,
                    [this] { ++m_reports; });
        else
            disconnect(m_worker, &CConnectionForSshClient::sftpTransferProgress, this, nullptr);
    }

    // Runs one request to its end; the worker thread's CPU time it took, in milliseconds, or
    // a negative value with the error.
    double cpuMs(const std::function<void(CConnectionForSshClient *)> &request, QString *error)
    {
        m_finished = false;
        const qint64 before = threadCpuNs();
        QMetaObject::invokeMethod(
            m_worker, [this, request] { request(m_worker); }, Qt::QueuedConnection);
        if (!Bench::runUntil([this] { return m_finished; }, 10 * 60 * 1000)) {
            *error = QStringLiteral("no answer");
            return -1;
        }
        *error = m_error;
        return m_error.isEmpty() ? double(threadCpuNs() - before) / 1e6 : -1;
    }

    int reports() const { return m_reports; }

private:
    qint64 threadCpuNs()
    {
        qint64 ns = 0;
        QMetaObject::invokeMethod(
            m_worker,
            [&ns] {
                timespec now{};
                clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
                ns = qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
            },
            Qt::BlockingQueuedConnection);
        return ns;
    }

    CConnectionForSshClient *const m_worker;
    bool m_ready = false;
    bool m_finished = false;
    QString m_error;
    int m_reports = 0;
};

} // namespace

bool progressCostBench()
{
    QString reason;
    if (!SimController::canRun(&reason)) {
        out() << "cannot start the simulated controller: " << reason << Qt::endl;
        return false;
    }
    SimController sim(kSimInstance);
    // In memory: the disk's own variations would drown what is measured.
    QTemporaryDir scratch(QStringLiteral("/dev/shm/cnc-progress-cost-XXXXXX"));
    const QString local = scratch.filePath(QStringLiteral("up.bin"));
    if (!sim.start() || !scratch.isValid() || !Bench::writeRandomFile(local, kTransferSize) ||
        !Bench::writeRandomFile(sim.rootDir() + QStringLiteral("/source.bin"), kTransferSize)) {
        out() << "cannot set up: " << sim.lastError() << Qt::endl;
        return false;
    }
    Worker worker(sim.address());
    if (!worker.waitReady()) {
        out() << "the worker's SFTP channel did not open" << Qt::endl;
        return false;
    }

    // [with progress][upload, download]: CPU milliseconds per MiB, one per round. Round -1
    // warms the caches up and is not counted.
    QVector<double> perMiB[2][2];
    for (int round = -1; round < kRounds; ++round) {
        // Alternate which goes first, so that a drift of the machine hits both alike.
        for (const bool progress : {round % 2 == 0, round % 2 != 0}) {
            worker.listen(progress);
            for (const bool upload : {true, false}) {
                QString error;
                const double ms = worker.cpuMs(
                    [&](CConnectionForSshClient *w) {
                        if (upload)
                            w->slotUploadFile(local, QStringLiteral("/home/pi/cnc/up.bin"));
                        else
                            w->slotDownloadFile(QStringLiteral("/home/pi/cnc/source.bin"),
                                                scratch.filePath(QStringLiteral("down.bin")));
                    },
                    &error);
                if (ms < 0) {
                    out() << "transfer failed: " << error << Qt::endl;
                    return false;
                }
                if (round >= 0)
                    perMiB[progress][upload ? 0 : 1] << ms / double(kTransferSize / kMiB);
            }
        }
    }
    if (worker.reports() < kRounds) {
        out() << "no progress reports arrived" << Qt::endl;
        return false;
    }

    bool met = true;
    out() << "worker thread CPU per MiB, median of " << kRounds << " interleaved rounds; "
          << worker.reports() << " progress reports received" << Qt::endl;
    for (const int direction : {0, 1}) {
        const double with = median(perMiB[1][direction]);
        const double without = median(perMiB[0][direction]);
        const double percent = without > 0 ? (with / without - 1.0) * 100.0 : 100.0;
        const bool ok = qAbs(percent) <= kTargetPercent;
        met = met && ok;
        out() << QStringLiteral("%1 512 MiB: with progress %2 ms, without %3 ms, difference "
                                "%4 % (target within %5 %: %6)")
                     .arg(QLatin1String(direction == 0 ? "upload  " : "download"))
                     .arg(with, 0, 'f', 3)
                     .arg(without, 0, 'f', 3)
                     .arg(percent, 0, 'f', 2)
                     .arg(kTargetPercent, 0, 'f', 0)
                     .arg(ok ? QStringLiteral("met") : QStringLiteral("MISSED"))
              << Qt::endl;
    }
    return met;
}
