#include "SoakRig.h"

#include "BenchSupport.h"
#include "CConnectionForSshClient.h"
#include "FollowUpListings.h"
#include "OperationLog.h"
#include "SoakReport.h"
#include "WindowTestSupport.h"
#include "mainwindow.h"

#include <QRegularExpression>

SoakRig::SoakRig(int simInstance, qint64 hardStopMs, SoakReport &report)
    : m_simInstance(simInstance), m_hardStopMs(hardStopMs), m_report(report), m_sim(simInstance)
{}

SoakRig::~SoakRig() = default;

CConnectionForSshClient *SoakRig::worker() const
{
    return m_worker;
}

bool SoakRig::startController()
{
    // The window keeps its language beside the executable; the soak reads the English log.
    QFile settingsFile(settingsPath());
    m_hadSettings = settingsFile.open(QIODevice::ReadOnly);
    if (m_hadSettings)
        m_settingsBefore = settingsFile.readAll();
    settingsFile.close();
    QDir().mkpath(sourceDir());
    QDir().mkpath(downloadDir());
    setSetting(QStringLiteral("language"), QStringLiteral("en"));
    setSetting(QStringLiteral("lastUploadDir"), sourceDir());
    setSetting(QStringLiteral("lastDownloadDir"), downloadDir());

    if (!m_sim.start()) {
        Bench::out() << "simulated controller: " << m_sim.lastError() << Qt::endl;
        return false;
    }
    return true;
}

bool SoakRig::openWindow()
{
    auto *worker = new CConnectionForSshClient(m_sim.address(), 22, SimController::rootPassword(),
                                               QStringLiteral("root"));
    m_worker = worker;
    QObject context;
    bool reported = false;
    bool up = false;
    QObject::connect(worker, &CConnectionForSshClient::sigConnectStateChanged, &context,
                     [&](bool state) {
                         reported = true;
                         up = state;
                     });
    // As the login dialog does once the first connection is up.
    worker->m_bAutoReconnect = true;
    worker->init();
    if (!waitFor([&] { return reported; }, 30000) || !up) {
        Bench::out() << "no connection to the simulated controller" << Qt::endl;
        return false;
    }

    m_window = std::make_unique<mainwindow>(worker);
    m_window->show();
    m_log = std::make_unique<OperationLog>(*m_window);
    m_followUps = std::make_unique<FollowUpListings>(*m_window);
    const bool listed =
        waitFor([&] { return m_log->find(0, kListingLine + kRootDir) >= 0 && idle(); }, 30000);
    if (!listed)
        Bench::out() << "the first listing did not come" << Qt::endl;
    return listed;
}

void SoakRig::closeWindow()
{
    m_answer.reset();
    throttle(false);
    m_followUps.reset();
    m_window.reset();
    // The window asked the worker's thread to quit; the worker then deletes itself.
    if (!Bench::runUntil([&] { return m_worker.isNull(); }, 20000))
        m_report.fault(QStringLiteral("the worker did not end after the window closed"));
}

void SoakRig::stopController()
{
    m_sim.stop();
    if (m_hadSettings)
        writeFile(settingsPath(), m_settingsBefore);
    else
        QFile::remove(settingsPath());
}

// Slows the link to 2 Mbit/s both ways, so that a transfer is still under way when the cable
// is pulled: the controller's side shapes what it sends (download data), the host's side of
// the link (cncsimN) what it receives (upload data).
bool SoakRig::throttle(bool on)
{
    const auto command = [on](const QString &device) {
        QStringList arguments = {QStringLiteral("qdisc"),
                                 on ? QStringLiteral("replace") : QStringLiteral("del"),
                                 QStringLiteral("dev"), device, QStringLiteral("root")};
        if (on) {
            arguments << QStringLiteral("tbf") << QStringLiteral("rate") << QStringLiteral("2mbit")
                      << QStringLiteral("burst") << QStringLiteral("16kb")
                      << QStringLiteral("latency") << QStringLiteral("500ms");
        }
        return arguments;
    };
    if (on == m_throttled)
        return true;
    m_throttled = on;
    const bool inside =
        m_sim.exec(QStringList{QStringLiteral("tc")} + command(QStringLiteral("eth0"))) == 0;
    const bool outside =
        Bench::runProgram(QStringLiteral("tc"),
                          command(QStringLiteral("cncsim%1").arg(m_simInstance)), 10000) == 0;
    return inside && outside;
}

bool SoakRig::waitFor(const std::function<bool()> &done, int timeoutMs)
{
    const qint64 left = m_hardStopMs - m_report.elapsedMs();
    return Bench::runUntil(done, int(qBound<qint64>(1, qMin<qint64>(timeoutMs, left), timeoutMs)));
}

bool SoakRig::waitForListed(const std::function<bool()> &ended, int timeoutMs)
{
    // The wait counts the moment a listing ended, but the events that run before it returns
    // may start the next one at once (the refresh after a job report), whose rows are not in
    // yet: then its end is the one to wait for.
    bool done = waitFor(ended, timeoutMs);
    while (done && !ended())
        done = waitFor(ended, timeoutMs);
    return done;
}

bool SoakRig::idle() const
{
    return fileButtonsEnabled(*m_window) && button(*m_window, "m_btnRefresh")->isEnabled();
}
bool SoakRig::waitForIdle()
{
    return waitFor([&] { return idle(); }, kListingTimeoutMs);
}

QString SoakRig::logSince(int mark) const
{
    return m_log->since(mark).join(QLatin1String(" / "));
}

QStringList SoakRig::listedNames() const
{
    QStringList names = column(*m_window);
    const QStringList types = column(*m_window, 1);
    for (int row = types.size() - 1; row >= 0; --row) {
        if (types.at(row) == QLatin1String("Navigation"))
            names.removeAt(row);
    }
    names.sort();
    return names;
}

QVector<SoakRig::JobReport> SoakRig::waitForReports(int mark, int count, int timeoutMs)
{
    static const QRegularExpression report(
        QStringLiteral("^SFTP task (\\d+) (?:(completed successfully\\.)|failed: (.*))$"));
    QVector<JobReport> reports;
    int scanned = mark;
    waitFor(
        [&] {
            const int end = m_log->count();
            for (; scanned < end && reports.size() < count; ++scanned) {
                const QRegularExpressionMatch match = report.match(m_log->text(scanned));
                if (match.hasMatch())
                    reports.append({match.capturedLength(2) > 0, match.captured(3),
                                    match.captured(1).toUInt()});
            }
            return reports.size() >= count;
        },
        timeoutMs);
    return reports;
}

void SoakRig::waitForFollowUpListings(int timeoutMs)
{
    // Cut off at the hard stop.
    const qint64 left = m_hardStopMs - m_report.elapsedMs();
    m_followUps->wait(int(qBound<qint64>(1, qMin<qint64>(timeoutMs, left), timeoutMs)));
}
