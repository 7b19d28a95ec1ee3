#pragma once

#include "ModalAnswerer.h"
#include "SimController.h"

#include <SshTypes.h>

#include <QPointer>
#include <QTemporaryDir>

#include <functional>
#include <memory>

class CConnectionForSshClient;
class FollowUpListings;
class OperationLog;
class SoakReport;
class mainwindow;

// What the soak works on and how it watches it: the simulated controller, a connection worker
// with the main window over it, the local folders for uploads and downloads, and the waits on
// the window. Every wait ends at the soak's hard stop at the latest.
class SoakRig
{
public:
    struct JobReport
    {
        bool success = false;
        QString error;
        QSsh::SftpJobId job = QSsh::SftpInvalidJob;
    };

    static constexpr int kJobTimeoutMs = 60000;
    static constexpr int kListingTimeoutMs = 15000;
    static inline const QString kListingLine = QStringLiteral("Refreshing remote directory: ");

    SoakRig(int simInstance, qint64 hardStopMs, SoakReport &report);
    ~SoakRig();

    // The controller started, the window's settings set for the soak (English, the local
    // folders); false, saying why, when it cannot start.
    bool startController();
    // The worker connected and the window open with its first listing; false, saying why.
    bool openWindow();
    // The window closed and the worker gone; then the controller stopped and the window's
    // settings as they were.
    void closeWindow();
    void stopController();

    SimController &sim() { return m_sim; }
    const SimController &sim() const { return m_sim; }
    mainwindow &window() const { return *m_window; }
    const OperationLog &log() const { return *m_log; }
    bool hasWindow() const { return m_log != nullptr; }
    ModalAnswerer &answer() { return m_answer; }
    CConnectionForSshClient *worker() const;
    // The host's path of a file in the controller's folder.
    QString remote(const QString &name) const { return m_sim.rootDir() + QLatin1Char('/') + name; }
    QString sourceDir() const { return m_local.filePath(QStringLiteral("source")); }
    QString downloadDir() const { return m_local.filePath(QStringLiteral("download")); }
    // Slows the link to 2 Mbit/s both ways, or lifts the limit.
    bool throttle(bool on);

    bool waitFor(const std::function<bool()> &done, int timeoutMs);
    // Until a listing has ended and no other has begun since: true, or false after
    // timeoutMs.
    bool waitForListed(const std::function<bool()> &ended, int timeoutMs);
    // The job reports logged since mark, once count of them are there; fewer when time runs
    // out.
    QVector<JobReport> waitForReports(int mark, int count, int timeoutMs);
    // Until the listings that the window begins by itself after an outcome have ended.
    void waitForFollowUpListings(int timeoutMs);
    // The file operation buttons and Refresh enabled.
    bool idle() const;
    bool waitForIdle();
    // The log lines from mark on, for a fault report.
    QString logSince(int mark) const;
    // The names the list shows, without the row that leads up; sorted.
    QStringList listedNames() const;

private:
    const int m_simInstance;
    const qint64 m_hardStopMs;
    SoakReport &m_report;
    SimController m_sim;
    QPointer<CConnectionForSshClient> m_worker;
    std::unique_ptr<mainwindow> m_window;
    std::unique_ptr<OperationLog> m_log;
    std::unique_ptr<FollowUpListings> m_followUps;
    ModalAnswerer m_answer;
    QTemporaryDir m_local;
    QByteArray m_settingsBefore;
    bool m_hadSettings = false;
    bool m_throttled = false;
};
