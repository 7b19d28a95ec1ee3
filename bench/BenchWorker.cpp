#include "BenchWorker.h"

#include "BenchSupport.h"
#include "CConnectionForSshClient.h"
#include "SimController.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QPointer>
#include <QThread>
#include <QTimer>

namespace Bench {

BenchWorker::BenchWorker(const QString &host, int port)
    : m_worker(new CConnectionForSshClient(host, port, SimController::rootPassword(),
                                           QStringLiteral("root")))
{
    connect(m_worker, &CConnectionForSshClient::sftpChannelInitialized, this,
            [this] { m_ready = true; });
    connect(m_worker, &CConnectionForSshClient::sftpJobFinished, this,
            [this](QSsh::SftpJobId, const QString &error) {
                if (m_error.isEmpty())
                    m_error = error;
                if (++m_reports >= m_wanted && m_loop)
                    m_loop->quit();
            });
    m_worker->init();
}

BenchWorker::~BenchWorker()
{
    // The worker deletes itself, and its thread, once the thread has finished.
    const QPointer<QThread> thread = m_worker->thread();
    m_worker->quitThread();
    runUntil([&] { return thread.isNull(); }, 10000);
}

bool BenchWorker::waitReady()
{
    return runUntil([this] { return m_ready; }, 30000);
}

qint64 BenchWorker::run(const std::function<void(CConnectionForSshClient *)> &requests, int reports,
                        QString *error)
{
    m_reports = 0;
    m_wanted = reports;
    m_error.clear();
    // The last report ends the wait: no polling timer that would wake this thread all the time.
    QEventLoop loop;
    m_loop = &loop;
    QTimer::singleShot(15 * 60 * 1000, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    QMetaObject::invokeMethod(
        m_worker, [this, requests] { requests(m_worker); }, Qt::QueuedConnection);
    loop.exec();
    const qint64 ms = clock.elapsed();
    m_loop = nullptr;
    const bool answered = m_reports >= reports;
    *error = answered ? m_error : QStringLiteral("no answer");
    return error->isEmpty() ? ms : -1;
}

qint64 BenchWorker::threadCpuNs() const
{
    qint64 ns = 0;
    QMetaObject::invokeMethod(
        m_worker, [&ns] { ns = currentThreadCpuNs(); }, Qt::BlockingQueuedConnection);
    return ns;
}

} // namespace Bench
