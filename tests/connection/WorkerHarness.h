#pragma once

#include "CConnectionForSshClient.h"
#include "DeathWatch.h"
#include "SimController.h"

#include <QPointer>
#include <QSignalSpy>

#include <functional>

// The worker's diagnostic lines ("cnc.connection", debug switched on), each with the thread
// that wrote it. Other messages go on to the previous handler.
struct LogLine
{
    QString text;
    QThread *thread = nullptr;
};
void captureConnectionLog();
QList<LogLine> connectionLog(bool clear = false);
int countLogLines(const QList<LogLine> &log, const QString &text);

// A worker driven as the login dialog and the main window drive it: created and started in
// the test's (GUI) thread, requests queued into the worker thread, its signals relayed back
// queued into the test thread and recorded there.
class WorkerHarness : public QObject
{
    Q_OBJECT
    // First: its constructor registers the library's types, which the spies below need.
    CConnectionForSshClient *m_worker;

public:
    explicit WorkerHarness(const QString &ip,
                           const QString &password = SimController::rootPassword(), int port = 22);
    ~WorkerHarness() override; // quits the thread, waits until the worker and thread are gone

    CConnectionForSshClient *worker() const { return m_worker; }
    QString key() const
    {
        return m_worker->m_strIp + QLatin1Char(':') + QString::number(m_worker->m_nPort);
    }
    void start();
    // Waits until every connection reported so far has its shell started and its channel ready.
    bool waitReady(int timeoutMs = 20000);
    // Runs `work` in the worker thread; returns once it has run and what the worker emitted
    // meanwhile has arrived here.
    bool inWorker(const std::function<void()> &work);
    // Sends a command line like the window's sigSend and returns the output once it has run.
    QString shell(const QString &commandLine, int timeoutMs = 15000);

    QString output; // all shell output so far
    DeathWatch workerWatch{m_worker};
    QPointer<QThread> thread;
    QSignalSpy stateSpy{this, &WorkerHarness::connectStateChanged};
    QSignalSpy dataSpy{this, &WorkerHarness::dataArrived};
    QSignalSpy sftpReadySpy{this, &WorkerHarness::sftpChannelInitialized};
    QSignalSpy jobSpy{this, &WorkerHarness::sftpJobFinished};
    QSignalSpy transferSpy{this, &WorkerHarness::sftpTransferStarted};
    QSignalSpy renameSpy{this, &WorkerHarness::sigRenameFinished};

signals:
    void connectStateChanged(bool bState, QString strIp, int nPort);
    void dataArrived(QString strMsg, QString strIp, int nPort);
    void sftpChannelInitialized();
    void sftpJobFinished(QSsh::SftpJobId job, QString error);
    void sftpTransferStarted(QSsh::SftpJobId job, QString name, quint64 bytesTotal);
    void sigRenameFinished(QString oldPath, QString newPath, QString error);
    void sigSend(QString strMsg);

private:
    bool m_started = false;
    int m_round = 0;
};

// Counts the lines of terminal output that hold `marker` alone, as echo prints them.
int countMarkerLines(const QString &output, const QString &marker);
