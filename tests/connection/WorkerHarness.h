#pragma once

#include "CConnectionForSshClient.h"

#include <QObject>
#include <QPointer>
#include <QSignalSpy>
#include <QString>
#include <QStringList>

#include <functional>

class QThread;

// Records the worker's diagnostic lines ("cnc.connection", debug switched on) together with
// the thread that wrote each of them. Lines of other categories go to the previous handler.
namespace ConnectionLog {

struct Line
{
    QString text;
    QThread *thread = nullptr;
};

void install();
void clear();
QList<Line> lines();
int count(const QString &text);
bool contains(const QString &text);

} // namespace ConnectionLog

// A worker as the login dialog and the main window drive it: constructed and started from
// the test's (GUI) thread, requests queued into the worker thread, its signals relayed back
// into the test thread, where they are recorded by spies and as one ordered event list.
class WorkerHarness : public QObject
{
    Q_OBJECT
    // First, so that the worker's constructor has registered the library's types for the
    // spies below.
    CConnectionForSshClient *m_worker = nullptr;

public:
    static const QString kPassword;

    explicit WorkerHarness(const QString &ip, const QString &password = kPassword);
    // Quits the worker's thread and waits until the worker and its thread are gone.
    ~WorkerHarness() override;

    CConnectionForSshClient *worker() const { return m_worker; }
    QString key() const; // the worker's address key
    void start();        // init(); the dialog's first step
    bool workerDestroyed() const { return m_destroyed; }

    // Waits for the connection report, the shell's start and the SFTP channel.
    bool waitReady(int timeoutMs = 20000);
    // Runs `work` in the worker thread and returns once it has run and everything the worker
    // emitted before has reached the test thread.
    bool inWorker(const std::function<void()> &work);
    // Sends a command line through slotSend(strMsg) and waits until its output has arrived;
    // returns the output that arrived meanwhile.
    QString shell(const QString &commandLine, int timeoutMs = 15000);
    QString output() const { return m_output; }

    QSignalSpy stateSpy{this, &WorkerHarness::connectStateChanged};
    QSignalSpy dataSpy{this, &WorkerHarness::dataArrived};
    QSignalSpy sftpReadySpy{this, &WorkerHarness::sftpChannelInitialized};
    QSignalSpy jobSpy{this, &WorkerHarness::sftpJobFinished};
    // "state:<bool>", "data:<text>", "sftp-ready", "job:<id>:<error>", in arrival order.
    QStringList events;

signals:
    void connectStateChanged(bool bState, QString strIp, int nPort);
    void dataArrived(QString strMsg, QString strIp, int nPort);
    void sftpChannelInitialized();
    void sftpJobFinished(QSsh::SftpJobId job, QString error);
    void sigSend(QString strMsg);

private:
    QPointer<QThread> m_thread;
    bool m_destroyed = false;
    QString m_output;
    int m_shellRound = 0;
};

// Counts the lines of terminal `output` that hold `marker` alone, as echo prints them.
int countMarkerLines(const QString &output, const QString &marker);
