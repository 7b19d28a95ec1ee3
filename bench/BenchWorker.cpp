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
                if (m_wanted > 0 && ++m_reports >= m_wanted && m_loop)
                    m_loop->quit();
            });
    connect(m_worker, &CConnectionForSshClient::sigRemoteTreeListed, this,
            [this](quint64 request, const QSsh::SftpTree &entries, const QString &error) {
                if (request != m_listRequest)
                    return;
                m_listed = true;
                m_tree = entries;
                m_error = error;
                if (m_loop)
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
    const qint64 ms = request(requests);
    const bool answered = m_reports >= reports;
    *error = answered ? m_error : QStringLiteral("no answer");
    return error->isEmpty() ? ms : -1;
}

qint64 BenchWorker::listTree(const QString &remotePath, QSsh::SftpTree *entries, QString *error)
{
    const quint64 id = ++m_listRequest;
    m_wanted = 0; // no job report ends this wait
    m_listed = false;
    m_tree.clear();
    m_error.clear();
    const qint64 ms = request(
        [id, remotePath](CConnectionForSshClient *w) { w->slotListRemoteTree(id, remotePath); });
    *entries = m_tree;
    *error = m_listed ? m_error : QStringLiteral("no answer");
    return error->isEmpty() ? ms : -1;
}

qint64 BenchWorker::request(const std::function<void(CConnectionForSshClient *)> &call)
{
    // The answer ends the wait: no polling timer that would wake this thread all the time.
    QEventLoop loop;
    m_loop = &loop;
    QTimer::singleShot(15 * 60 * 1000, &loop, &QEventLoop::quit);
    QElapsedTimer clock;
    clock.start();
    QMetaObject::invokeMethod(
        m_worker, [this, call] { call(m_worker); }, Qt::QueuedConnection);
    loop.exec();
    m_loop = nullptr;
    return clock.elapsed();
}

qint64 BenchWorker::threadCpuNs() const
{
    qint64 ns = 0;
    QMetaObject::invokeMethod(
        m_worker, [&ns] { ns = currentThreadCpuNs(); }, Qt::BlockingQueuedConnection);
    return ns;
}

} // namespace Bench
