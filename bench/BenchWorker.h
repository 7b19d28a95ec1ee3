#pragma once

#include "SshTypes.h"

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
    // Lists a remote folder with everything inside it, as the window does before it downloads
    // a folder; the milliseconds from the request to the answer, or -1 with the error.
    qint64 listTree(const QString &remotePath, QSsh::SftpTree *entries, QString *error);
    // CPU time the worker's thread has used so far.
    qint64 threadCpuNs() const;
    CConnectionForSshClient *worker() const { return m_worker; }

private:
    // Makes the request in the worker's thread and runs an event loop until an answer ends it
    // (or 15 minutes pass); the milliseconds that took.
    qint64 request(const std::function<void(CConnectionForSshClient *)> &call);

    CConnectionForSshClient *const m_worker;
    bool m_ready = false;
    int m_reports = 0;
    int m_wanted = 0;
    QString m_error;
    quint64 m_listRequest = 0;
    bool m_listed = false;
    QSsh::SftpTree m_tree;
    QEventLoop *m_loop = nullptr;
};

} // namespace Bench
