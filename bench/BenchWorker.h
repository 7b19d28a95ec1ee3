#pragma once

#include <QObject>
#include <QString>

#include <functional>

class CConnectionForSshClient;
class QEventLoop;

namespace Bench {

// The connection worker in its own thread, driven as the main window drives it: requests are
// queued into the worker's thread, and its job reports come back queued.
class BenchWorker : public QObject
{
public:
    BenchWorker(const QString &host, int port);
    ~BenchWorker() override; // waits until the worker and its thread are gone

    bool waitReady();
    // Makes the requests in the worker's thread and waits for that many job reports; the
    // milliseconds from the requests to the last report, or -1 with the first error.
    qint64 run(const std::function<void(CConnectionForSshClient *)> &requests, int reports,
               QString *error);
    // CPU time the worker's thread has used so far.
    qint64 threadCpuNs() const;
    CConnectionForSshClient *worker() const { return m_worker; }

private:
    CConnectionForSshClient *const m_worker;
    bool m_ready = false;
    int m_reports = 0;
    int m_wanted = 0;
    QString m_error;
    QEventLoop *m_loop = nullptr;
};

} // namespace Bench
