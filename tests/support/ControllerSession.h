#pragma once

#include "CConnectionForSshClient.h"
#include "DeathWatch.h"
#include "FollowUpListings.h"
#include "SimController.h"
#include "mainwindow.h"

#include <QPointer>
#include <QSignalSpy>

#include <functional>
#include <memory>

// A connection worker against the controller at `address`, started as the login dialog starts
// it: reconnection is switched on once a login has succeeded. Its reports are relayed into the
// test's thread and recorded there. With open(), the main window over it, as start-up shows it.
class ControllerSession : public QObject
{
    Q_OBJECT
    // First: its constructor registers the library's types, which the spies below need.
    CConnectionForSshClient *m_worker;

public:
    explicit ControllerSession(const QString &address,
                               const QString &password = SimController::rootPassword(),
                               int port = 22);
    // Closes the window, ends the worker's thread and waits until the worker is gone.
    ~ControllerSession() override;

    static constexpr int kFirstConnectionMs = 32000;

    CConnectionForSshClient *worker() const { return m_worker; }
    QString key() const { return m_worker->m_strIp + ':' + QString::number(m_worker->m_nPort); }
    void start();
    // Waits until every connection reported so far has its shell and channel ready. The
    // default leaves room for one reconnection (10 s): under the full suite's load an SSH
    // server now and then turns down the first channel request of a login, which the worker
    // takes for a lost connection.
    bool waitReady(int timeoutMs = kFirstConnectionMs);
    // Runs `work` in the worker's thread; returns once it has run and what the worker emitted
    // meanwhile has arrived here.
    bool inWorker(const std::function<void()> &work);
    // Sends a command line as the window's sigSend does; returns the output once it has run.
    QString shell(const QString &commandLine, int timeoutMs = 15000);

    mainwindow &open();
    // Waits until a listing has ended and the list shows exactly `names`.
    bool waitListed(const QStringList &names, int timeoutMs = kFirstConnectionMs);
    int logSize() const;
    // Log lines written since line `mark`, listings left out (refreshes come by themselves).
    QStringList logSince(int mark) const;

    QString output; // all shell output so far
    DeathWatch watch{m_worker};
    QPointer<QThread> thread;
    std::unique_ptr<mainwindow> window;
    std::unique_ptr<FollowUpListings> followUps; // of the window, from open() on
    QSignalSpy stateSpy{this, &ControllerSession::connectStateChanged};
    QSignalSpy dataSpy{this, &ControllerSession::dataArrived};
    QSignalSpy readySpy{this, &ControllerSession::sftpChannelInitialized};
    QSignalSpy jobSpy{this, &ControllerSession::sftpJobFinished};
    QSignalSpy transferSpy{this, &ControllerSession::sftpTransferStarted};

signals:
    void connectStateChanged(bool bState, QString strIp, int nPort);
    void dataArrived(QString strMsg, QString strIp, int nPort);
    void sftpChannelInitialized();
    void sftpJobFinished(QSsh::SftpJobId job, QString error);
    void sftpTransferStarted(QSsh::SftpJobId job, QString name, quint64 bytesTotal);
    void sigSend(QString strMsg);

private:
    bool m_started = false;
    int m_round = 0;
};

// Counts the lines of terminal output that hold `marker` alone, as echo prints them.
int countMarkerLines(const QString &output, const QString &marker);
