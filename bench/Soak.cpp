// 100 cycles of upload, download, byte-exact compare and delete with awkward names, 300 listings
// checked against the folder they show, and 5 pulled cables (four of them in the middle of a
// transfer) with reconnection in between. Bounded to about ten minutes; prints what it did and
// exits non-zero when a file was lost or corrupted, a failure was reported as a success, a
// command was injected, an operation never ended, a listing was wrong, the run did not finish,
// or the memory grew by more than 10 % after the warm-up.
#include "Soak.h"

#include "BenchSupport.h"
#include "CConnectionForSshClient.h"
#include "DropEvents.h"
#include "OperationLog.h"
#include "ProcessIo.h"
#include "SoakFiles.h"
#include "WindowTestSupport.h"
#include "mainwindow.h"

#include <QDir>

using namespace SoakFiles;

namespace {

constexpr int kCycles = 100;
constexpr int kListingsPerCycle = 3;

using Pull = SoakCablePulls::Pull;
const char *pullText(Pull kind)
{
    switch (kind) {
    case Pull::DuringUpload:
        return "during an upload";
    case Pull::DuringDownload:
        return "during a download";
    case Pull::Idle:
        return "on an idle connection";
    }
    return "";
}

// Each interrupted kind comes once before the memory baseline and once after it, so that what
// one of them leaves behind shows as growth.
struct PlannedPull
{
    int beforeCycle;
    Pull kind;
};
constexpr PlannedPull kPulls[] = {{5, Pull::DuringUpload},
                                  {15, Pull::DuringDownload},
                                  {40, Pull::Idle},
                                  {60, Pull::DuringUpload},
                                  {80, Pull::DuringDownload}};
// No new cycle starts after this; every wait is cut off at the hard stop.
constexpr qint64 kCycleBudgetMs = 540 * 1000;
constexpr qint64 kHardStopMs = 600 * 1000;
// Growth is measured from the end of a warm-up in which every name, every file size, every
// dialog, both download routes and both interrupted transfers have been through once.
constexpr int kWarmUpCycles = 20;

// Names of every awkward kind. Three of them hold shell commands that must never run; the shell
// the controller gives runs in /root, where the commands would leave their files.
const QStringList kNames = {
    QStringLiteral("part one two.nc"),
    QStringLiteral("it's mine 'quoted'.nc"),
    QStringLiteral("say \"hi\" now.nc"),
    QStringLiteral("cost $HOME $(touch PWNED1).nc"),
    QStringLiteral("tick `touch PWNED2` end.nc"),
    QStringLiteral("back\\slash \\n \\\\ end.nc"),
    QStringLiteral("零件 程序 第一.nc"),
    QStringLiteral("Re\u0301sume\u0301 cafe\u0301.nc"),
    QStringLiteral("all 'of' \"them\" $x $(touch PWNED3) `touch PWNED4` \\z 零件 \u00e9 !bang.nc"),
    QStringLiteral("glob * ? [ab] ; & | < > # ~ %.nc"),
};
const QStringList kInjectionCanaries = {QStringLiteral("PWNED1"), QStringLiteral("PWNED2"),
                                        QStringLiteral("PWNED3"), QStringLiteral("PWNED4"),
                                        QStringLiteral("PWNED5")};
// Files that stay on the controller for the whole run; they must never change.
const QString kResidentFile = QStringLiteral("keep resident 零件 'a' \"b\" $c.nc");
const QString kResidentFolder = QStringLiteral("dir $x `touch PWNED5` \"z\" 'q' 零件 e\u0301");
const QString kResidentInner = QStringLiteral("inner file.nc");

enum class Outcome { Success, Failure, None };

const int kSizes[] = {
    0, 1, 1000, 4096, 65536 + 3, 300 * 1024 + 7, 1024 * 1024 + 11, 2 * 1024 * 1024 + 5};

// Qt's own file dialog reads a typed double quote as the start of a list of names and typed
// wildcards as a filter, so such names are uploaded by drop and downloaded into a directory.
bool dialogCanTakeName(const QString &name)
{
    for (const QChar c : {QLatin1Char('"'), QLatin1Char('*'), QLatin1Char('?'), QLatin1Char('[')})
        if (name.contains(c))
            return false;
    return true;
}

// The worker deletes paths with characters beyond ASCII through the shell; its outcome then
// arrives as a marker line instead of a job report.
} // namespace

bool Soak::listing(bool counted)
{
    QPushButton *refresh = button(m_rig.window(), "m_btnRefresh");
    if (!m_rig.waitForIdle()) {
        ++m_report.noOutcome;
        m_report.fault(QStringLiteral("the window never became idle for a refresh"));
        return false;
    }
    const int mark = m_rig.log().count();
    refresh->click();
    const bool started = m_rig.log().findStart(mark, SoakRig::kListingLine) >= 0;
    if (!started) {
        ++m_report.noOutcome;
        m_report.fault(QStringLiteral("a refresh did not start; the log since the click: %1")
                           .arg(m_rig.logSince(mark)));
        return false;
    }
    if (!m_rig.waitForListed([&] { return refresh->isEnabled(); }, SoakRig::kListingTimeoutMs))
        return recoverStuckListing(mark);
    if (counted)
        ++m_report.listings;
    else
        ++m_report.extraListings;

    const QStringList expected = entryNames(m_currentDir);
    const QStringList listed = m_rig.listedNames();
    if (listed != expected) {
        ++m_report.wrongListings;
        QStringList missing = expected;
        QStringList extra = listed;
        for (const QString &name : listed)
            missing.removeAll(name);
        for (const QString &name : expected)
            extra.removeAll(name);
        m_report.fault(
            QStringLiteral("listing of %1 wrong: missing [%2], extra [%3]; the log since the "
                           "click: %4")
                .arg(m_currentDir, missing.join(QLatin1String(" | ")),
                     extra.join(QLatin1String(" | ")), m_rig.logSince(mark)));
    }
    return true;
}

// Double-clicks the row of name (a folder, or "..") and checks the listing it leads to.
bool Soak::enterFolder(const QString &name)
{
    if (!m_rig.waitForIdle())
        return false;
    const int row = column(m_rig.window()).indexOf(name);
    if (row < 0) {
        m_report.fault(QStringLiteral("no row named %1 to open").arg(name));
        return true;
    }
    const int mark = m_rig.log().count();
    QMetaObject::invokeMethod(&m_rig.window(), "onRemoteDoubleClicked",
                              Q_ARG(QModelIndex, listModel(m_rig.window())->index(row, 0)));
    const bool ended = m_rig.waitForListed(
        [&] {
            return m_rig.log().findStart(mark, SoakRig::kListingLine) >= 0 &&
                   button(m_rig.window(), "m_btnRefresh")->isEnabled();
        },
        SoakRig::kListingTimeoutMs);
    // The window has taken the new folder as its current one whether or not it was listed.
    m_currentDir = name == QLatin1String("..") ? QFileInfo(m_currentDir).absolutePath()
                                               : m_currentDir + QLatin1Char('/') + name;
    if (!ended)
        return recoverStuckListing(mark);
    ++m_report.listings;
    const QStringList expected = entryNames(m_currentDir);
    if (m_rig.listedNames() != expected) {
        ++m_report.wrongListings;
        m_report.fault(QStringLiteral("listing after opening %1 wrong: [%2] instead of [%3]")
                           .arg(name, m_rig.listedNames().join(QLatin1String(" | ")),
                                expected.join(QLatin1String(" | "))));
    }
    return true;
}

bool Soak::upload(const QString &name, qint64 size, quint32 seed, bool byDrop)
{
    const QString source = m_rig.sourceDir() + QLatin1Char('/') + name;
    const QByteArray digest = writeRandomFile(source, size, seed);
    if (digest.isNull()) {
        m_report.fault(QStringLiteral("cannot write the local file %1").arg(source));
        return false;
    }
    if (!m_rig.waitForIdle())
        return false;

    const int mark = m_rig.log().count();
    if (byDrop) {
        if (!dropUrls(&m_rig.window(), {QUrl::fromLocalFile(source)})) {
            m_report.fault(QStringLiteral("the window refused the drop of %1").arg(name));
            return false;
        }
    } else {
        m_rig.answer().answerFileDialog(source);
        button(m_rig.window(), "m_btnUpload")->click();
        m_rig.answer().reset();
    }
    ++m_report.uploads;

    const QVector<JobReport> reports = m_rig.waitForReports(mark, 1, SoakRig::kJobTimeoutMs);
    const QByteArray remoteDigest = fileDigest(m_rig.remote(name));
    if (reports.isEmpty()) {
        ++m_report.noOutcome;
        m_report.fault(QStringLiteral("upload of %1: no report").arg(name));
        return false;
    }
    ++m_report.compares;
    if (reports.first().success) {
        if (remoteDigest.isNull()) {
            ++m_report.falseSuccesses;
            ++m_report.lost;
            m_report.fault(
                QStringLiteral("upload of %1 reported done, but the controller has no such file")
                    .arg(name));
        } else if (remoteDigest != digest) {
            ++m_report.falseSuccesses;
            ++m_report.corrupted;
            m_report.fault(
                QStringLiteral("upload of %1 reported done, but the controller's copy differs "
                               "(%2 bytes instead of %3)")
                    .arg(name)
                    .arg(QFileInfo(m_rig.remote(name)).size())
                    .arg(size));
        }
    } else {
        ++m_report.reportedFailures;
        m_report.fault(QStringLiteral("upload of %1 failed: %2").arg(name, reports.first().error));
        if (!remoteDigest.isNull() && remoteDigest != digest) {
            ++m_report.corrupted;
            m_report.fault(
                QStringLiteral("a failed upload left a partial %1 on the controller").arg(name));
        }
    }
    if (!sameContent(fileDigest(source), digest)) {
        ++m_report.corrupted;
        m_report.fault(QStringLiteral("the upload changed its local source %1").arg(source));
    }
    m_rig.waitForFollowUpListings(SoakRig::kListingTimeoutMs);
    return true;
}

// Downloads the named files of the current folder: one through the save dialog, or several
// into a directory; each local copy is compared with the controller's file.
bool Soak::download(const QStringList &names, bool intoDirectory)
{
    QVector<QByteArray> expected;
    for (const QString &name : names) {
        expected << fileDigest(m_currentDir + QLatin1Char('/') + name);
        QFile::remove(m_rig.downloadDir() + QLatin1Char('/') + name);
    }
    if (!m_rig.waitForIdle())
        return false;
    if (!selectRows(m_rig.window(), names)) {
        m_report.fault(QStringLiteral("download: the list does not show [%1]")
                           .arg(names.join(QLatin1String(" | "))));
        return true;
    }

    const int mark = m_rig.log().count();
    m_rig.answer().answerFileDialog(intoDirectory
                                        ? m_rig.downloadDir()
                                        : m_rig.downloadDir() + QLatin1Char('/') + names.first());
    button(m_rig.window(), "m_btnDownload")->click();
    m_rig.answer().reset();
    m_report.downloads += names.size();

    const QVector<JobReport> reports =
        m_rig.waitForReports(mark, names.size(), SoakRig::kJobTimeoutMs);
    bool allReportedDone = reports.size() == names.size();
    for (const JobReport &report : reports) {
        if (!report.success) {
            allReportedDone = false;
            ++m_report.reportedFailures;
            m_report.fault(QStringLiteral("a download failed: %1").arg(report.error));
        }
    }
    if (reports.size() < names.size()) {
        m_report.noOutcome += names.size() - reports.size();
        m_report.fault(QStringLiteral("download of [%1]: %2 of %3 reports")
                           .arg(names.join(QLatin1String(" | ")))
                           .arg(reports.size())
                           .arg(names.size()));
    }
    for (int i = 0; i < names.size(); ++i) {
        const QString local = m_rig.downloadDir() + QLatin1Char('/') + names.at(i);
        const QByteArray digest = fileDigest(local);
        ++m_report.compares;
        if (allReportedDone && !sameContent(digest, expected.at(i))) {
            ++m_report.falseSuccesses;
            digest.isNull() ? ++m_report.lost : ++m_report.corrupted;
            m_report.fault(QStringLiteral("download of %1 reported done, but the local copy is %2")
                               .arg(names.at(i), digest.isNull() ? QStringLiteral("missing")
                                                                 : QStringLiteral("different")));
        } else if (!allReportedDone && !digest.isNull() && digest != expected.at(i)) {
            ++m_report.corrupted;
            m_report.fault(QStringLiteral("a failed download left a partial %1").arg(local));
        }
        QFile::remove(local);
    }
    if (!reports.isEmpty())
        m_rig.waitForFollowUpListings(SoakRig::kListingTimeoutMs);
    return true;
}

bool Soak::removeRemote(const QString &name)
{
    if (!m_rig.waitForIdle())
        return false;
    if (!selectRows(m_rig.window(), {name})) {
        m_report.fault(QStringLiteral("delete: the list does not show %1").arg(name));
        return true;
    }
    const int mark = m_rig.log().count();
    m_rig.answer().answerBox(QMessageBox::Yes);
    button(m_rig.window(), "m_btnDelete")->click();
    m_rig.answer().reset();
    ++m_report.deletes;

    // Deleted over SFTP, whose job report is the outcome, or, where no SFTP job could start,
    // through the shell: its report says only that the command went out, and the marker line
    // after it tells the outcome.
    Outcome outcome = Outcome::None;
    QString error;
    const QVector<JobReport> reports = m_rig.waitForReports(mark, 1, SoakRig::kJobTimeoutMs);
    if (!reports.isEmpty() && reports.first().job != QSsh::SftpReservedJob) {
        outcome = reports.first().success ? Outcome::Success : Outcome::Failure;
        error = reports.first().error;
    } else if (!reports.isEmpty()) {
        const QString done = QStringLiteral("Delete operation completed successfully");
        const QString failed = QStringLiteral("Delete operation failed");
        int outcomeLine = -1;
        m_rig.waitFor(
            [&] {
                outcomeLine = m_rig.log().find(
                    mark, [&](const QString &text) { return text == done || text == failed; });
                return outcomeLine >= 0;
            },
            SoakRig::kJobTimeoutMs);
        if (outcomeLine >= 0) {
            outcome = m_rig.log().text(outcomeLine) == done ? Outcome::Success : Outcome::Failure;
            error = QStringLiteral("the shell reported DELETE_FAILED");
        }
    }

    const bool stillThere = QFileInfo::exists(m_rig.remote(name));
    switch (outcome) {
    case Outcome::None:
        ++m_report.noOutcome;
        m_report.fault(QStringLiteral("delete of %1: no outcome").arg(name));
        return false;
    case Outcome::Success:
        if (stillThere) {
            ++m_report.falseSuccesses;
            m_report.fault(QStringLiteral("delete of %1 reported done, but the file is still there")
                               .arg(name));
            // Out of the way, so that later checks see the next cycle only.
            QFile::remove(m_rig.remote(name));
        }
        break;
    case Outcome::Failure:
        ++m_report.reportedFailures;
        m_report.fault(QStringLiteral("delete of %1 failed: %2").arg(name, error));
        QFile::remove(m_rig.remote(name));
        break;
    }
    m_rig.waitForFollowUpListings(SoakRig::kListingTimeoutMs);
    return true;
}

// A listing that gets no shell output at all stays outstanding until the window gives it up
// after 20 s, and meanwhile refuses every further refresh. A harmless command sent through the
// worker shows whether the answer was only held up on its way (the listing then shows the
// folder) or never came, and lets the soak go on.
bool Soak::recoverStuckListing(int mark)
{
    ++m_report.noOutcome;
    ++m_report.stuckListings;
    const QString log = m_rig.logSince(mark);
    QMetaObject::invokeMethod(m_rig.worker(), "slotSend", Qt::QueuedConnection,
                              Q_ARG(QString, QStringLiteral("echo SOAK_POKE\n")));
    const bool ended =
        m_rig.waitFor([&] { return button(m_rig.window(), "m_btnRefresh")->isEnabled(); },
                      SoakRig::kListingTimeoutMs);
    const QStringList expected = entryNames(m_currentDir);
    const QStringList listed = m_rig.listedNames();
    m_report.fault(
        QStringLiteral("a listing got no shell output for %1 s (log since the click: %2); an "
                       "extra shell command %3")
            .arg(SoakRig::kListingTimeoutMs / 1000)
            .arg(log)
            .arg(!ended               ? QStringLiteral("did not end it either")
                 : listed == expected ? QStringLiteral("ended it with the full listing: the "
                                                       "answer had been held up")
                                      : QStringLiteral("ended it with %1 of %2 names: the "
                                                       "answer had not come")
                                            .arg(listed.size())
                                            .arg(expected.size())));
    return ended;
}

void Soak::checkResidents()
{
    const auto check = [&](const QString &name, const QByteArray &good) {
        const QByteArray digest = fileDigest(m_rig.remote(name));
        if (sameContent(digest, good))
            return;
        digest.isNull() ? ++m_report.lost : ++m_report.corrupted;
        m_report.fault(
            QStringLiteral("the resident file %1 is %2")
                .arg(name, digest.isNull() ? QStringLiteral("gone") : QStringLiteral("changed")));
    };
    check(kResidentFile, m_residentDigest);
    check(kResidentFolder + QLatin1Char('/') + kResidentInner, m_innerDigest);
}

bool Soak::runCycle(int cycle)
{
    const QString name = kNames.at(cycle % kNames.size());
    const qint64 size = kSizes[cycle % int(std::size(kSizes))];
    const bool dialogs = dialogCanTakeName(name);
    // Names the dialogs take go by dialog and, every third time, by drop all the same.
    const bool byDrop = !dialogs || cycle % 3 == 2;

    if (!listing(true))
        return false;
    if (!upload(name, size, quint32(1000 + cycle), byDrop))
        return false;
    if (!download(dialogs && cycle % 4 != 3 ? QStringList{name} : QStringList{name, kResidentFile},
                  !dialogs || cycle % 4 == 3))
        return false;
    if (cycle % 5 == 0) {
        // Into the folder whose name holds a command, and back.
        if (!enterFolder(kResidentFolder) || !enterFolder(QStringLiteral("..")))
            return false;
    } else if (!listing(true) || !listing(true)) {
        return false;
    }
    if (!removeRemote(name))
        return false;
    QFile::remove(m_rig.sourceDir() + QLatin1Char('/') + name);
    checkResidents();
    return true;
}

bool Soak::setUp()
{
    if (!m_rig.startController())
        return false;
    m_currentDir = m_rig.sim().rootDir();
    QDir(m_rig.sim().rootDir()).mkpath(kResidentFolder);
    m_residentDigest = writeRandomFile(m_rig.remote(kResidentFile), 1024, 5);
    m_innerDigest = writeRandomFile(
        m_rig.remote(kResidentFolder + QLatin1Char('/') + kResidentInner), 10 * 1024, 6);
    if (m_residentDigest.isNull() || m_innerDigest.isNull()) {
        Bench::out() << "cannot put the resident files on the controller" << Qt::endl;
        return false;
    }
    return m_rig.openWindow();
}

void Soak::tearDown()
{
    m_rig.closeWindow();
    for (const QString &canary : kInjectionCanaries) {
        if (m_rig.sim().exec({QStringLiteral("test"), QStringLiteral("-e"),
                              QStringLiteral("/root/") + canary}) == 0 ||
            QFileInfo::exists(m_rig.remote(canary))) {
            ++m_report.injected;
            m_report.fault(
                QStringLiteral("a name ran a command on the controller: %1 exists").arg(canary));
        }
    }
    // An upload cut off with its connection cannot remove its hidden temporary any more.
    m_report.leftovers = QDir(m_rig.sim().rootDir())
                             .entryList({QStringLiteral(".*.part-*")}, QDir::Files | QDir::Hidden)
                             .size();
    m_rig.stopController();
}

Soak::Soak(int simInstance)
    : m_simInstance(simInstance), m_report(kCycles, kListingsPerCycle, kWarmUpCycles),
      m_rig(simInstance, kHardStopMs, m_report),
      m_pulls(m_rig, m_report, [this] { return listing(false); })
{}

int Soak::run()
{
    Bench::out() << "== soak: main window against simulated controller " << m_simInstance
                 << Qt::endl;
    bool finished = false;
    SoakReport::Memory afterWarmUp;
    if (setUp()) {
        m_report.sampleMemory(0, false);
        int pull = 0;
        for (int cycle = 0; cycle < kCycles; ++cycle) {
            if (m_report.elapsedMs() > kCycleBudgetMs) {
                m_report.fault(QStringLiteral("out of time after %1 cycles").arg(cycle));
                break;
            }
            if (pull < int(std::size(kPulls)) && kPulls[pull].beforeCycle == cycle) {
                const SoakReport::Memory before = SoakReport::Memory::now();
                const bool reconnected = m_pulls.pull(kPulls[pull++].kind);
                Bench::out() << "  cable " << pull << " pulled " << pullText(kPulls[pull - 1].kind)
                             << "; memory before: " << before.text() << Qt::endl
                             << "    after: " << SoakReport::Memory::now().text() << Qt::endl;
                if (!reconnected)
                    break;
                checkResidents();
            }
            if (!runCycle(cycle))
                break;
            ++m_report.cyclesDone;
            if (cycle + 1 == kWarmUpCycles)
                afterWarmUp = SoakReport::Memory::now();
            if ((cycle + 1) % 10 == 0)
                m_report.sampleMemory(cycle + 1, true);
        }
        finished = m_report.cyclesDone == kCycles && m_report.pulls == int(std::size(kPulls)) &&
                   m_report.reconnections == m_report.pulls;
    }
    const SoakReport::Memory atEnd = SoakReport::Memory::now();
    int autoListings = 0;
    for (int line = 0, end = m_rig.hasWindow() ? m_rig.log().count() : 0; line < end; ++line)
        autoListings += m_rig.log().text(line).startsWith(SoakRig::kListingLine);
    tearDown();
    return m_report.summarize(finished, afterWarmUp, atEnd, autoListings) ? 0 : 1;
}
