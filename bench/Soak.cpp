// Soak of the main window against a simulated controller, the way an operator uses it: a real
// worker thread, the real window driven through its buttons and dialogs, and every outcome that
// the operation log reports checked against the controller's disk and the local one.
//
// 100 cycles of upload, download, byte-exact compare and delete with awkward names, 300 listings
// checked against the folder they show, and 5 pulled cables (four of them in the middle of a
// transfer) with reconnection in between. Bounded to about ten minutes; prints what it did and
// exits non-zero when a file was lost or corrupted, a failure was reported as a success, a
// command was injected, an operation never ended, a listing was wrong, the run did not finish,
// or the memory grew by more than 10 % after the warm-up.

#include "BenchSupport.h"
#include "CConnectionForSshClient.h"
#include "DropEvents.h"
#include "ProcessIo.h"
#include "SimController.h"
#include "mainwindow.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardItemModel>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextStream>
#include <QTimer>
#include <QTreeView>

#include <functional>
#include <memory>

#include <malloc.h>

namespace {

constexpr int kSimInstance = 170;
constexpr int kCycles = 100;
constexpr int kListingsPerCycle = 3;
// Where the cable is pulled: in the middle of an upload, of a download, or on an idle
// connection. Each interrupted kind comes once before the memory baseline and once after it,
// so that what one of them leaves behind shows as growth.
enum class Pull { DuringUpload, DuringDownload, Idle };
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
constexpr int kJobTimeoutMs = 60000;
constexpr int kListingTimeoutMs = 15000;
// Dead peer detection (15 s) plus slack.
constexpr int kLossTimeoutMs = 60000;
// The worker retries every 10 s; the first listing follows the ready channel by 3 s.
constexpr int kReconnectTimeoutMs = 60000;
constexpr int kInterruptedSize = 8 * 1024 * 1024;
constexpr double kMemoryTolerance = 0.10;
// Growth is measured from the end of a warm-up in which every name, every file size, every
// dialog, both download routes and both interrupted transfers have been through once.
constexpr int kWarmUpCycles = 20;
constexpr int kMaxFaultsShown = 30;

const QString kRemoteRoot = QStringLiteral("/home/pi/cnc/");

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

const int kSizes[] = {
    0, 1, 1000, 4096, 65536 + 3, 300 * 1024 + 7, 1024 * 1024 + 11, 2 * 1024 * 1024 + 5};

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

// Writes size pseudo-random bytes in pieces, so that even the largest file costs the soak no
// memory worth measuring next to the window's; returns their SHA-256, or a null array when the
// file cannot be written.
QByteArray writeRandomFile(const QString &path, qint64 size, quint32 seed)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return QByteArray();
    QRandomGenerator generator(seed);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    QByteArray piece;
    for (qint64 left = size; left > 0; left -= piece.size()) {
        piece.resize(int(qMin<qint64>(left, 64 * 1024)));
        for (char &byte : piece)
            byte = char(generator.bounded(256));
        if (file.write(piece) != piece.size())
            return QByteArray();
        hash.addData(piece);
    }
    return hash.result();
}

// The SHA-256 of the file, read in pieces; a null array when it cannot be read.
QByteArray fileDigest(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return QByteArray();
    return hash.result();
}

bool sameContent(const QByteArray &digest, const QByteArray &expected)
{
    return !digest.isNull() && digest == expected;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

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
bool deletedThroughShell(const QString &path)
{
    const QString composed = path.normalized(QString::NormalizationForm_C);
    for (const QChar c : composed)
        if (c.unicode() > 0x7F)
            return true;
    return false;
}

// Bytes in the regular files under dir, hidden ones included.
qint64 bytesUnder(const QString &dir)
{
    qint64 total = 0;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::System);
    while (it.hasNext())
        total += QFileInfo(it.next()).size();
    return total;
}

QStringList entryNames(const QString &dir)
{
    QStringList names =
        QDir(dir).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

// Answers the next modal dialog of type Dialog from the dialog's own event loop.
class ModalAnswerer : public QObject
{
public:
    template <typename Dialog> void onNext(std::function<void(Dialog *)> act)
    {
        auto *timer = new QTimer(this);
        timer->setInterval(10);
        connect(timer, &QTimer::timeout, this, [timer, act] {
            if (auto *dialog = qobject_cast<Dialog *>(QApplication::activeModalWidget())) {
                timer->stop();
                timer->deleteLater();
                act(dialog);
            }
        });
        timer->start();
    }
    // Forgets answers that found no dialog, so that they cannot answer a later one.
    void reset()
    {
        const auto timers = findChildren<QTimer *>();
        qDeleteAll(timers);
    }
};

void typeIntoFileDialog(QFileDialog *dialog, const QString &path)
{
    dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(path);
    // QFileDialog::accept() is protected; it checks the typed path like a press of Enter.
    static_cast<QDialog *>(dialog)->accept();
}

struct Memory
{
    qint64 hwmKiB = -1;
    qint64 rssKiB = -1;
    // What the program holds through malloc; set apart from VmRSS, it tells memory still in use
    // from freed memory that the allocator keeps for later.
    qint64 heapInUseKiB = -1;

    static Memory now()
    {
        const struct mallinfo2 heap = mallinfo2();
        return {Bench::procStatusKiB("VmHWM"), Bench::procStatusKiB("VmRSS"),
                qint64((heap.uordblks + heap.hblkhd) / 1024)};
    }
    QString text() const
    {
        return QStringLiteral("VmHWM %1 KiB, VmRSS %2 KiB (heap in use %3 KiB)")
            .arg(hwmKiB)
            .arg(rssKiB)
            .arg(heapInUseKiB);
    }
};

bool grewBeyondTolerance(qint64 before, qint64 after)
{
    return before > 0 && after > 0 && double(after) > double(before) * (1.0 + kMemoryTolerance);
}

struct JobReport
{
    bool success = false;
    QString error;
};

enum class Outcome { Success, Failure, None };

class Soak
{
public:
    Soak() : m_sim(kSimInstance) {}
    int run();

private:
    bool setUp();
    void tearDown();
    bool runCycle(int cycle);
    bool pullLink(Pull kind);

    // Operations; each returns false only when the run cannot go on.
    bool listing(bool counted);
    bool enterFolder(const QString &name);
    bool upload(const QString &name, qint64 size, quint32 seed, bool byDrop);
    bool download(const QStringList &names, bool intoDirectory);
    bool removeRemote(const QString &name);
    bool interruptedUpload();
    bool interruptedDownload();
    bool recoverStuckListing(int mark);

    // Waits.
    bool waitFor(const std::function<bool()> &done, int timeoutMs);
    // Until a listing has ended and no other has begun since: true, or false after the
    // listing time-out.
    bool waitForListed(const std::function<bool()> &ended);
    bool waitForLoss(int mark);
    bool waitForReconnection(int mark);
    void waitForFollowUpListing(int line);
    QVector<JobReport> waitForReports(int mark, int count, int timeoutMs, int *lastLine);
    bool idle() const;

    // The window.
    QPushButton *button(const char *name) const;
    bool fileButtonsEnabled() const;
    int logCount() const;
    QString logText(int line) const;
    int findLog(int from, const std::function<bool(const QString &)> &match) const;
    int findLog(int from, const QString &text) const;
    QString logSince(int mark) const;
    QStringList listedNames() const;
    bool selectRows(const QStringList &names);
    bool sendDrop(const QList<QUrl> &urls);

    // The controller and the local disk.
    QString remote(const QString &name) const { return m_sim.rootDir() + QLatin1Char('/') + name; }
    void checkResidents();
    bool throttle(bool on);
    void fault(const QString &text);

    SimController m_sim;
    QPointer<CConnectionForSshClient> m_worker;
    std::unique_ptr<mainwindow> m_window;
    QTextDocument *m_log = nullptr;
    QStandardItemModel *m_model = nullptr;
    QTreeView *m_view = nullptr;
    ModalAnswerer m_answer;
    QTemporaryDir m_local;
    QString m_sourceDir;
    QString m_downloadDir;
    QByteArray m_residentDigest;
    QByteArray m_innerDigest;
    QString m_currentDir; // host folder of the listed remote directory
    QElapsedTimer m_clock;
    QByteArray m_settingsBefore;
    bool m_hadSettings = false;

    // What was done, and what went wrong.
    int m_cyclesDone = 0;
    int m_listings = 0;
    int m_extraListings = 0;
    int m_uploads = 0;
    int m_downloads = 0;
    int m_compares = 0;
    int m_deletes = 0;
    int m_pulls = 0;
    int m_reconnections = 0;
    int m_reportedFailures = 0;
    int m_lost = 0;
    int m_corrupted = 0;
    int m_falseSuccesses = 0;
    int m_noOutcome = 0;
    int m_wrongListings = 0;
    int m_injected = 0;
    int m_leftovers = 0;
    int m_stuckListings = 0;
    bool m_throttled = false;
    QVector<qint64> m_lossMs;
    QVector<qint64> m_reconnectMs;
    QStringList m_faults;
    QVector<QPair<int, Memory>> m_memory;
};

void Soak::fault(const QString &text)
{
    m_faults << QStringLiteral("[%1 s] %2").arg(m_clock.elapsed() / 1000).arg(text);
}

bool Soak::waitFor(const std::function<bool()> &done, int timeoutMs)
{
    const qint64 left = kHardStopMs - m_clock.elapsed();
    return Bench::runUntil(done, int(qBound<qint64>(1, qMin<qint64>(timeoutMs, left), timeoutMs)));
}

bool Soak::waitForListed(const std::function<bool()> &ended)
{
    // The wait counts the moment a listing ended, but the events that run before it returns
    // may start the next one at once (the refresh after a job report), whose rows are not in
    // yet: then its end is the one to wait for.
    bool done = waitFor(ended, kListingTimeoutMs);
    while (done && !ended())
        done = waitFor(ended, kListingTimeoutMs);
    return done;
}

QPushButton *Soak::button(const char *name) const
{
    return m_window->findChild<QPushButton *>(QLatin1String(name));
}

bool Soak::fileButtonsEnabled() const
{
    for (const char *name : {"m_btnUpload", "m_btnDownload", "m_btnNewFolder", "m_btnDelete"}) {
        if (!button(name)->isEnabled())
            return false;
    }
    return true;
}

bool Soak::idle() const
{
    return fileButtonsEnabled() && button("m_btnRefresh")->isEnabled();
}

// The window keeps only its newest log lines. Lines are counted from the first one ever
// written: each block carries its number as its user state, given when it is first seen here.
int Soak::logCount() const
{
    if (m_log->isEmpty())
        return 0;
    QTextBlock block = m_log->lastBlock();
    while (block.previous().isValid() && block.previous().userState() < 0)
        block = block.previous();
    int number = block.userState() >= 0       ? block.userState()
                 : block.previous().isValid() ? block.previous().userState() + 1
                                              : 0;
    for (; block.isValid(); block = block.next())
        block.setUserState(number++);
    return m_log->lastBlock().userState() + 1;
}

// The log line without its "hh:mm:ss - " prefix; empty once the window has dropped it.
QString Soak::logText(int line) const
{
    const int first = m_log->firstBlock().userState();
    return m_log->findBlockByNumber(line - qMax(0, first)).text().mid(11);
}

int Soak::findLog(int from, const std::function<bool(const QString &)> &match) const
{
    const int count = logCount();
    for (int line = qMax(0, from); line < count; ++line) {
        if (match(logText(line)))
            return line;
    }
    return -1;
}

int Soak::findLog(int from, const QString &text) const
{
    return findLog(from, [&](const QString &line) { return line == text; });
}

// The lines from mark on, for a fault report.
QString Soak::logSince(int mark) const
{
    QStringList lines;
    for (int line = mark; line < logCount(); ++line)
        lines << logText(line);
    return lines.join(QLatin1String(" / "));
}

QStringList Soak::listedNames() const
{
    QStringList names;
    for (int row = 0; row < m_model->rowCount(); ++row) {
        if (m_model->item(row, 1)->text() != QLatin1String("Navigation"))
            names << m_model->item(row, 0)->text();
    }
    names.sort();
    return names;
}

bool Soak::selectRows(const QStringList &names)
{
    m_view->selectionModel()->clearSelection();
    int selected = 0;
    for (const QString &name : names) {
        for (int row = 0; row < m_model->rowCount(); ++row) {
            if (m_model->item(row, 0)->text() == name) {
                m_view->selectionModel()->select(m_model->index(row, 0),
                                                 QItemSelectionModel::Select |
                                                     QItemSelectionModel::Rows);
                ++selected;
                break;
            }
        }
    }
    return selected == names.size();
}

bool Soak::sendDrop(const QList<QUrl> &urls)
{
    return dropUrls(m_window.get(), urls);
}

// The job reports logged since mark, once count of them are there; fewer when time runs out.
QVector<JobReport> Soak::waitForReports(int mark, int count, int timeoutMs, int *lastLine)
{
    static const QRegularExpression report(
        QStringLiteral("^SFTP task \\d+ (?:(completed successfully\\.)|failed: (.*))$"));
    QVector<JobReport> reports;
    int scanned = mark;
    waitFor(
        [&] {
            const int end = logCount();
            for (; scanned < end && reports.size() < count; ++scanned) {
                const QRegularExpressionMatch match = report.match(logText(scanned));
                if (match.hasMatch()) {
                    reports.append({match.capturedLength(1) > 0, match.captured(2)});
                    if (lastLine)
                        *lastLine = scanned;
                }
            }
            return reports.size() >= count;
        },
        timeoutMs);
    return reports;
}

// A job report or a success marker makes the window list the folder again shortly after;
// the next step must not start before that listing is done, or it would lose its selection.
void Soak::waitForFollowUpListing(int line)
{
    const auto started = [&] {
        return findLog(line + 1, [](const QString &text) {
                   return text.startsWith(QLatin1String("Refreshing remote directory: "));
               }) >= 0;
    };
    waitFor(started, 2000);
    waitFor([&] { return idle(); }, kListingTimeoutMs);
}

bool Soak::listing(bool counted)
{
    QPushButton *refresh = button("m_btnRefresh");
    if (!waitFor([&] { return idle(); }, kListingTimeoutMs)) {
        ++m_noOutcome;
        fault(QStringLiteral("the window never became idle for a refresh"));
        return false;
    }
    const int mark = logCount();
    refresh->click();
    const bool started = findLog(mark, [](const QString &text) {
                             return text.startsWith(QLatin1String("Refreshing remote directory: "));
                         }) >= 0;
    if (!started) {
        ++m_noOutcome;
        fault(QStringLiteral("a refresh did not start; the log since the click: %1")
                  .arg(logSince(mark)));
        return false;
    }
    if (!waitForListed([&] { return refresh->isEnabled(); }))
        return recoverStuckListing(mark);
    if (counted)
        ++m_listings;
    else
        ++m_extraListings;

    const QStringList expected = entryNames(m_currentDir);
    const QStringList listed = listedNames();
    if (listed != expected) {
        ++m_wrongListings;
        QStringList missing = expected;
        QStringList extra = listed;
        for (const QString &name : listed)
            missing.removeAll(name);
        for (const QString &name : expected)
            extra.removeAll(name);
        fault(QStringLiteral("listing of %1 wrong: missing [%2], extra [%3]; the log since the "
                             "click: %4")
                  .arg(m_currentDir, missing.join(QLatin1String(" | ")),
                       extra.join(QLatin1String(" | ")), logSince(mark)));
    }
    return true;
}

// Double-clicks the row of name (a folder, or "..") and checks the listing it leads to.
bool Soak::enterFolder(const QString &name)
{
    if (!waitFor([&] { return idle(); }, kListingTimeoutMs))
        return false;
    const QList<QStandardItem *> rows = m_model->findItems(name);
    if (rows.isEmpty()) {
        fault(QStringLiteral("no row named %1 to open").arg(name));
        return true;
    }
    const int mark = logCount();
    QMetaObject::invokeMethod(m_window.get(), "onRemoteDoubleClicked",
                              Q_ARG(QModelIndex, rows.first()->index()));
    const bool ended = waitForListed([&] {
        return findLog(mark,
                       [](const QString &text) {
                           return text.startsWith(QLatin1String("Refreshing remote directory: "));
                       }) >= 0 &&
               button("m_btnRefresh")->isEnabled();
    });
    // The window has taken the new folder as its current one whether or not it was listed.
    m_currentDir = name == QLatin1String("..") ? QFileInfo(m_currentDir).absolutePath()
                                               : m_currentDir + QLatin1Char('/') + name;
    if (!ended)
        return recoverStuckListing(mark);
    ++m_listings;
    const QStringList expected = entryNames(m_currentDir);
    if (listedNames() != expected) {
        ++m_wrongListings;
        fault(QStringLiteral("listing after opening %1 wrong: [%2] instead of [%3]")
                  .arg(name, listedNames().join(QLatin1String(" | ")),
                       expected.join(QLatin1String(" | "))));
    }
    return true;
}

bool Soak::upload(const QString &name, qint64 size, quint32 seed, bool byDrop)
{
    const QString source = m_sourceDir + QLatin1Char('/') + name;
    const QByteArray digest = writeRandomFile(source, size, seed);
    if (digest.isNull()) {
        fault(QStringLiteral("cannot write the local file %1").arg(source));
        return false;
    }
    if (!waitFor([&] { return idle(); }, kListingTimeoutMs))
        return false;

    const int mark = logCount();
    if (byDrop) {
        if (!sendDrop({QUrl::fromLocalFile(source)})) {
            fault(QStringLiteral("the window refused the drop of %1").arg(name));
            return false;
        }
    } else {
        m_answer.onNext<QFileDialog>(
            [&](QFileDialog *dialog) { typeIntoFileDialog(dialog, source); });
        button("m_btnUpload")->click();
        m_answer.reset();
    }
    ++m_uploads;

    int reportLine = mark;
    const QVector<JobReport> reports = waitForReports(mark, 1, kJobTimeoutMs, &reportLine);
    const QByteArray remoteDigest = fileDigest(remote(name));
    if (reports.isEmpty()) {
        ++m_noOutcome;
        fault(QStringLiteral("upload of %1: no report").arg(name));
        return false;
    }
    ++m_compares;
    if (reports.first().success) {
        if (remoteDigest.isNull()) {
            ++m_falseSuccesses;
            ++m_lost;
            fault(QStringLiteral("upload of %1 reported done, but the controller has no such file")
                      .arg(name));
        } else if (remoteDigest != digest) {
            ++m_falseSuccesses;
            ++m_corrupted;
            fault(QStringLiteral("upload of %1 reported done, but the controller's copy differs "
                                 "(%2 bytes instead of %3)")
                      .arg(name)
                      .arg(QFileInfo(remote(name)).size())
                      .arg(size));
        }
    } else {
        ++m_reportedFailures;
        fault(QStringLiteral("upload of %1 failed: %2").arg(name, reports.first().error));
        if (!remoteDigest.isNull() && remoteDigest != digest) {
            ++m_corrupted;
            fault(QStringLiteral("a failed upload left a partial %1 on the controller").arg(name));
        }
    }
    if (!sameContent(fileDigest(source), digest)) {
        ++m_corrupted;
        fault(QStringLiteral("the upload changed its local source %1").arg(source));
    }
    waitForFollowUpListing(reportLine);
    return true;
}

// Downloads the named files of the current folder: one through the save dialog, or several
// into a directory; each local copy is compared with the controller's file.
bool Soak::download(const QStringList &names, bool intoDirectory)
{
    QVector<QByteArray> expected;
    for (const QString &name : names) {
        expected << fileDigest(m_currentDir + QLatin1Char('/') + name);
        QFile::remove(m_downloadDir + QLatin1Char('/') + name);
    }
    if (!waitFor([&] { return idle(); }, kListingTimeoutMs))
        return false;
    if (!selectRows(names)) {
        fault(QStringLiteral("download: the list does not show [%1]")
                  .arg(names.join(QLatin1String(" | "))));
        return true;
    }

    const int mark = logCount();
    if (intoDirectory) {
        m_answer.onNext<QFileDialog>(
            [&](QFileDialog *dialog) { typeIntoFileDialog(dialog, m_downloadDir); });
    } else {
        const QString target = m_downloadDir + QLatin1Char('/') + names.first();
        m_answer.onNext<QFileDialog>(
            [=](QFileDialog *dialog) { typeIntoFileDialog(dialog, target); });
    }
    button("m_btnDownload")->click();
    m_answer.reset();
    m_downloads += names.size();

    int reportLine = mark;
    const QVector<JobReport> reports =
        waitForReports(mark, names.size(), kJobTimeoutMs, &reportLine);
    bool allReportedDone = reports.size() == names.size();
    for (const JobReport &report : reports) {
        if (!report.success) {
            allReportedDone = false;
            ++m_reportedFailures;
            fault(QStringLiteral("a download failed: %1").arg(report.error));
        }
    }
    if (reports.size() < names.size()) {
        m_noOutcome += names.size() - reports.size();
        fault(QStringLiteral("download of [%1]: %2 of %3 reports")
                  .arg(names.join(QLatin1String(" | ")))
                  .arg(reports.size())
                  .arg(names.size()));
    }
    for (int i = 0; i < names.size(); ++i) {
        const QString local = m_downloadDir + QLatin1Char('/') + names.at(i);
        const QByteArray digest = fileDigest(local);
        ++m_compares;
        if (allReportedDone && !sameContent(digest, expected.at(i))) {
            ++m_falseSuccesses;
            digest.isNull() ? ++m_lost : ++m_corrupted;
            fault(QStringLiteral("download of %1 reported done, but the local copy is %2")
                      .arg(names.at(i), digest.isNull() ? QStringLiteral("missing")
                                                        : QStringLiteral("different")));
        } else if (!allReportedDone && !digest.isNull() && digest != expected.at(i)) {
            ++m_corrupted;
            fault(QStringLiteral("a failed download left a partial %1").arg(local));
        }
        QFile::remove(local);
    }
    if (!reports.isEmpty())
        waitForFollowUpListing(reportLine);
    return true;
}

bool Soak::removeRemote(const QString &name)
{
    if (!waitFor([&] { return idle(); }, kListingTimeoutMs))
        return false;
    if (!selectRows({name})) {
        fault(QStringLiteral("delete: the list does not show %1").arg(name));
        return true;
    }
    const int mark = logCount();
    m_answer.onNext<QMessageBox>([](QMessageBox *box) { box->button(QMessageBox::Yes)->click(); });
    button("m_btnDelete")->click();
    m_answer.reset();
    ++m_deletes;

    Outcome outcome = Outcome::None;
    QString error;
    int outcomeLine = mark;
    if (deletedThroughShell(kRemoteRoot + name)) {
        // The job report of the shell route says only that the command went out; the marker
        // line tells the outcome.
        const QString done = QStringLiteral("Delete operation completed successfully");
        const QString failed = QStringLiteral("Delete operation failed");
        waitFor(
            [&] {
                outcomeLine = findLog(
                    mark, [&](const QString &text) { return text == done || text == failed; });
                return outcomeLine >= 0;
            },
            kJobTimeoutMs);
        if (outcomeLine >= 0) {
            outcome = logText(outcomeLine) == done ? Outcome::Success : Outcome::Failure;
            error = QStringLiteral("the shell reported DELETE_FAILED");
        }
    } else {
        const QVector<JobReport> reports = waitForReports(mark, 1, kJobTimeoutMs, &outcomeLine);
        if (!reports.isEmpty()) {
            outcome = reports.first().success ? Outcome::Success : Outcome::Failure;
            error = reports.first().error;
        }
    }

    const bool stillThere = QFileInfo::exists(remote(name));
    switch (outcome) {
    case Outcome::None:
        ++m_noOutcome;
        fault(QStringLiteral("delete of %1: no outcome").arg(name));
        return false;
    case Outcome::Success:
        if (stillThere) {
            ++m_falseSuccesses;
            fault(QStringLiteral("delete of %1 reported done, but the file is still there")
                      .arg(name));
            // Out of the way, so that later checks see the next cycle only.
            QFile::remove(remote(name));
        }
        break;
    case Outcome::Failure:
        ++m_reportedFailures;
        fault(QStringLiteral("delete of %1 failed: %2").arg(name, error));
        QFile::remove(remote(name));
        break;
    }
    waitForFollowUpListing(outcomeLine);
    return true;
}

// A listing that gets no shell output at all stays outstanding until the window gives it up
// after 20 s, and meanwhile refuses every further refresh. A harmless command sent through the
// worker shows whether the answer was only held up on its way (the listing then shows the
// folder) or never came, and lets the soak go on.
bool Soak::recoverStuckListing(int mark)
{
    ++m_noOutcome;
    ++m_stuckListings;
    const QString log = logSince(mark);
    QMetaObject::invokeMethod(m_worker.data(), "slotSend", Qt::QueuedConnection,
                              Q_ARG(QString, QStringLiteral("echo SOAK_POKE\n")));
    const bool ended =
        waitFor([&] { return button("m_btnRefresh")->isEnabled(); }, kListingTimeoutMs);
    const QStringList expected = entryNames(m_currentDir);
    const QStringList listed = listedNames();
    fault(QStringLiteral("a listing got no shell output for %1 s (log since the click: %2); an "
                         "extra shell command %3")
              .arg(kListingTimeoutMs / 1000)
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
        const QByteArray digest = fileDigest(remote(name));
        if (sameContent(digest, good))
            return;
        digest.isNull() ? ++m_lost : ++m_corrupted;
        fault(QStringLiteral("the resident file %1 is %2")
                  .arg(name, digest.isNull() ? QStringLiteral("gone") : QStringLiteral("changed")));
    };
    check(kResidentFile, m_residentDigest);
    check(kResidentFolder + QLatin1Char('/') + kResidentInner, m_innerDigest);
}

// Slows the link to 2 Mbit/s both ways, so that a transfer is still under way when the cable
// is pulled: the controller's side shapes what it sends (download data), the host's side of
// the link (cncsimN) what it receives (upload data).
bool Soak::throttle(bool on)
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
                          command(QStringLiteral("cncsim%1").arg(kSimInstance)), 10000) == 0;
    return inside && outside;
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
    QFile::remove(m_sourceDir + QLatin1Char('/') + name);
    checkResidents();
    return true;
}

bool Soak::waitForLoss(int mark)
{
    QElapsedTimer timer;
    timer.start();
    const bool lost = waitFor(
        [&] { return findLog(mark, QStringLiteral("Connection lost.")) >= 0; }, kLossTimeoutMs);
    if (lost)
        m_lossMs << timer.elapsed();
    else
        fault(QStringLiteral("the pulled cable was never noticed"));
    return lost;
}

// From the cable's return to the first listing on the new connection.
bool Soak::waitForReconnection(int mark)
{
    QElapsedTimer timer;
    timer.start();
    const QString restored =
        QStringLiteral("Connection to %1 has been restored.").arg(m_sim.address());
    const bool back = waitFor(
        [&] {
            const int restoredLine = findLog(mark, restored);
            if (restoredLine < 0)
                return false;
            const int readyLine = findLog(restoredLine, QStringLiteral("SFTP channel is ready."));
            return readyLine >= 0 &&
                   findLog(readyLine,
                           [](const QString &text) {
                               return text.startsWith(
                                   QLatin1String("Refreshing remote directory: "));
                           }) >= 0 &&
                   idle();
        },
        kReconnectTimeoutMs);
    if (!back) {
        fault(QStringLiteral("no reconnection within %1 s").arg(kReconnectTimeoutMs / 1000));
        return false;
    }
    m_reconnectMs << timer.elapsed();
    ++m_reconnections;
    return true;
}

// The cable is pulled once the upload has visibly begun. Whatever the window then reports
// must be true of the controller's disk.
bool Soak::interruptedUpload()
{
    const QString name = QStringLiteral("interrupted 'up' $x 零件.nc");
    const QString source = m_sourceDir + QLatin1Char('/') + name;
    const QByteArray digest = writeRandomFile(source, kInterruptedSize, 77);
    if (digest.isNull() || !throttle(true))
        return false;
    const qint64 before = bytesUnder(m_sim.rootDir());
    const int mark = logCount();
    if (!sendDrop({QUrl::fromLocalFile(source)}))
        return false;
    ++m_uploads;
    if (!waitFor([&] { return bytesUnder(m_sim.rootDir()) > before + 256 * 1024; }, 20000))
        fault(QStringLiteral("the interrupted upload did not visibly begin"));
    if (!m_sim.linkDown())
        return false;
    ++m_pulls;
    if (QFileInfo::exists(remote(name)))
        fault(QStringLiteral("the upload was complete before the cable was pulled"));
    const bool lost = waitForLoss(mark);
    const QVector<JobReport> reports = waitForReports(mark, 1, kJobTimeoutMs, nullptr);
    throttle(false);
    if (!m_sim.linkUp() || !lost || !waitForReconnection(mark))
        return false;

    const QByteArray remoteDigest = fileDigest(remote(name));
    ++m_compares;
    if (reports.isEmpty()) {
        ++m_noOutcome;
        fault(QStringLiteral("the interrupted upload was never reported"));
    } else if (reports.first().success && !sameContent(remoteDigest, digest)) {
        ++m_falseSuccesses;
        fault(QStringLiteral("the interrupted upload was reported done, but the controller's "
                             "copy is incomplete"));
    } else if (!reports.first().success) {
        ++m_reportedFailures;
        if (!remoteDigest.isNull() && remoteDigest != digest) {
            ++m_corrupted;
            fault(QStringLiteral("the interrupted upload left a partial file under its name"));
        }
    }
    QFile::remove(remote(name));
    QFile::remove(source);
    return true;
}

// The cable is pulled once the download has visibly begun; the local target must be whole or
// absent afterwards, as the report says.
bool Soak::interruptedDownload()
{
    const QString name = QStringLiteral("interrupted 'down' $y 零件.nc");
    const QByteArray digest = writeRandomFile(remote(name), kInterruptedSize, 78);
    if (digest.isNull() || !listing(false) || !throttle(true))
        return false;
    const QString target = m_downloadDir + QLatin1Char('/') + name;
    QFile::remove(target);
    if (!selectRows({name}))
        return false;
    const int mark = logCount();
    m_answer.onNext<QFileDialog>([=](QFileDialog *dialog) { typeIntoFileDialog(dialog, target); });
    button("m_btnDownload")->click();
    m_answer.reset();
    ++m_downloads;
    // The download writes into an unnamed temporary file (QSaveFile), which no directory
    // shows; the bytes this process has written tell that it is under way.
    const qint64 written = bytesWrittenByThisProcess();
    if (!waitFor([&] { return bytesWrittenByThisProcess() > written + 1024 * 1024; }, 20000)) {
        fault(QStringLiteral("the interrupted download did not visibly begin; the log since: %1")
                  .arg(logSince(mark)));
    }
    if (!m_sim.linkDown())
        return false;
    ++m_pulls;
    if (QFileInfo::exists(target))
        fault(QStringLiteral("the download was complete before the cable was pulled"));
    const bool lost = waitForLoss(mark);
    const QVector<JobReport> reports = waitForReports(mark, 1, kJobTimeoutMs, nullptr);
    throttle(false);
    if (!m_sim.linkUp() || !lost || !waitForReconnection(mark))
        return false;

    const QByteArray local = fileDigest(target);
    ++m_compares;
    if (reports.isEmpty()) {
        ++m_noOutcome;
        fault(QStringLiteral("the interrupted download was never reported"));
    } else if (reports.first().success && !sameContent(local, digest)) {
        ++m_falseSuccesses;
        fault(QStringLiteral("the interrupted download was reported done, but the local copy is "
                             "incomplete"));
    } else if (!reports.first().success) {
        ++m_reportedFailures;
        if (!local.isNull() && local != digest) {
            ++m_corrupted;
            fault(QStringLiteral("the interrupted download left a partial file under its name"));
        }
    }
    QFile::remove(remote(name));
    QDir(m_downloadDir).removeRecursively();
    QDir().mkpath(m_downloadDir);
    return listing(false);
}

bool Soak::pullLink(Pull kind)
{
    if (!waitFor([&] { return idle(); }, kListingTimeoutMs))
        return false;
    if (kind == Pull::DuringUpload)
        return interruptedUpload();
    if (kind == Pull::DuringDownload)
        return interruptedDownload();

    const int mark = logCount();
    if (!m_sim.linkDown())
        return false;
    ++m_pulls;
    const bool lost = waitForLoss(mark);
    return m_sim.linkUp() && lost && waitForReconnection(mark);
}

bool Soak::setUp()
{
    // The window keeps its language beside the executable; the soak reads the English log.
    const QString settingsPath = QCoreApplication::applicationDirPath() + "/settings.ini";
    QFile settingsFile(settingsPath);
    m_hadSettings = settingsFile.open(QIODevice::ReadOnly);
    if (m_hadSettings)
        m_settingsBefore = settingsFile.readAll();
    settingsFile.close();
    QSettings settings(settingsPath, QSettings::IniFormat);
    settings.setValue(QStringLiteral("language"), QStringLiteral("en"));
    m_sourceDir = m_local.filePath(QStringLiteral("source"));
    m_downloadDir = m_local.filePath(QStringLiteral("download"));
    QDir().mkpath(m_sourceDir);
    QDir().mkpath(m_downloadDir);
    settings.setValue(QStringLiteral("lastUploadDir"), m_sourceDir);
    settings.setValue(QStringLiteral("lastDownloadDir"), m_downloadDir);
    settings.sync();

    if (!m_sim.start()) {
        out() << "simulated controller: " << m_sim.lastError() << Qt::endl;
        return false;
    }
    m_currentDir = m_sim.rootDir();
    QDir(m_sim.rootDir()).mkpath(kResidentFolder);
    m_residentDigest = writeRandomFile(remote(kResidentFile), 1024, 5);
    m_innerDigest =
        writeRandomFile(remote(kResidentFolder + QLatin1Char('/') + kResidentInner), 10 * 1024, 6);
    if (m_residentDigest.isNull() || m_innerDigest.isNull()) {
        out() << "cannot put the resident files on the controller" << Qt::endl;
        return false;
    }

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
        out() << "no connection to the simulated controller" << Qt::endl;
        return false;
    }

    m_window = std::make_unique<mainwindow>(worker);
    m_window->show();
    m_log = m_window->findChild<QPlainTextEdit *>(QStringLiteral("m_logEdit"))->document();
    m_model = m_window->findChild<QStandardItemModel *>(QStringLiteral("m_model"));
    m_view = m_window->findChild<QTreeView *>(QStringLiteral("m_treeView"));
    const bool listed = waitFor(
        [&] {
            return findLog(0, QStringLiteral("Refreshing remote directory: ") + kRemoteRoot) >= 0 &&
                   idle();
        },
        30000);
    if (!listed)
        out() << "the first listing did not come" << Qt::endl;
    return listed;
}

void Soak::tearDown()
{
    m_answer.reset();
    throttle(false);
    m_window.reset();
    // The window asked the worker's thread to quit; the worker then deletes itself.
    if (!Bench::runUntil([&] { return m_worker.isNull(); }, 20000))
        fault(QStringLiteral("the worker did not end after the window closed"));

    for (const QString &canary : kInjectionCanaries) {
        if (m_sim.exec({QStringLiteral("test"), QStringLiteral("-e"),
                        QStringLiteral("/root/") + canary}) == 0 ||
            QFileInfo::exists(remote(canary))) {
            ++m_injected;
            fault(QStringLiteral("a name ran a command on the controller: %1 exists").arg(canary));
        }
    }
    // An upload cut off with its connection cannot remove its hidden temporary any more.
    m_leftovers = QDir(m_sim.rootDir())
                      .entryList({QStringLiteral(".*.part-*")}, QDir::Files | QDir::Hidden)
                      .size();
    m_sim.stop();

    const QString settingsPath = QCoreApplication::applicationDirPath() + "/settings.ini";
    if (m_hadSettings)
        writeFile(settingsPath, m_settingsBefore);
    else
        QFile::remove(settingsPath);
}

int Soak::run()
{
    m_clock.start();
    out() << "== soak: main window against simulated controller " << kSimInstance << Qt::endl;
    bool finished = false;
    Memory atStart;
    if (setUp()) {
        m_memory.append({0, Memory::now()});
        int pull = 0;
        for (int cycle = 0; cycle < kCycles; ++cycle) {
            if (m_clock.elapsed() > kCycleBudgetMs) {
                fault(QStringLiteral("out of time after %1 cycles").arg(cycle));
                break;
            }
            if (pull < int(std::size(kPulls)) && kPulls[pull].beforeCycle == cycle) {
                const Memory before = Memory::now();
                const bool reconnected = pullLink(kPulls[pull++].kind);
                out() << "  cable " << pull << " pulled " << pullText(kPulls[pull - 1].kind)
                      << "; memory before: " << before.text() << Qt::endl
                      << "    after: " << Memory::now().text() << Qt::endl;
                if (!reconnected)
                    break;
                checkResidents();
            }
            if (!runCycle(cycle))
                break;
            ++m_cyclesDone;
            if (cycle + 1 == kWarmUpCycles)
                atStart = Memory::now();
            if ((cycle + 1) % 10 == 0) {
                m_memory.append({cycle + 1, Memory::now()});
                out() << "  " << cycle + 1 << " cycles, " << m_clock.elapsed() / 1000 << " s, "
                      << m_memory.last().second.text() << Qt::endl;
            }
        }
        finished = m_cyclesDone == kCycles && m_pulls == int(std::size(kPulls)) &&
                   m_reconnections == m_pulls;
    }
    const Memory atEnd = Memory::now();
    const int autoListings = m_log ? [&] {
        int count = 0;
        for (int line = 0; line < logCount(); ++line)
            count += logText(line).startsWith(QLatin1String("Refreshing remote directory: "));
        return count;
    }()
                                   : 0;
    tearDown();

    const bool memoryFlat = !grewBeyondTolerance(atStart.hwmKiB, atEnd.hwmKiB) &&
                            !grewBeyondTolerance(atStart.rssKiB, atEnd.rssKiB);
    const auto median = [](QVector<qint64> values) {
        std::sort(values.begin(), values.end());
        return values.isEmpty() ? qint64(-1) : values.at(values.size() / 2);
    };

    out() << "== soak summary (" << m_clock.elapsed() / 1000 << " s)" << Qt::endl
          << "cycles completed:              " << m_cyclesDone << " of " << kCycles << Qt::endl
          << "refreshes checked:             " << m_listings << " of "
          << kCycles * kListingsPerCycle << " (+" << m_extraListings << " extra; " << autoListings
          << " listings in all)" << Qt::endl
          << "uploads:                       " << m_uploads << Qt::endl
          << "downloads:                     " << m_downloads << Qt::endl
          << "byte-exact compares:           " << m_compares << Qt::endl
          << "deletes:                       " << m_deletes << Qt::endl
          << "cables pulled / reconnections: " << m_pulls << " / " << m_reconnections
          << " (loss noticed after median " << median(m_lossMs) << " ms, back after median "
          << median(m_reconnectMs) << " ms)" << Qt::endl
          << "failures the window reported:  " << m_reportedFailures << Qt::endl
          << "upload temporaries left over:  " << m_leftovers << Qt::endl
          << "files lost:                    " << m_lost << "   (must be 0)" << Qt::endl
          << "files corrupted:               " << m_corrupted << "   (must be 0)" << Qt::endl
          << "failures reported as success:  " << m_falseSuccesses << "   (must be 0)" << Qt::endl
          << "commands injected by names:    " << m_injected << "   (must be 0)" << Qt::endl
          << "operations without outcome:    " << m_noOutcome << "   (must be 0; "
          << m_stuckListings << " of them listings stuck without shell output)" << Qt::endl
          << "wrong listings:                " << m_wrongListings << "   (must be 0)" << Qt::endl
          << "memory after " << kWarmUpCycles << " cycles:        " << atStart.text() << Qt::endl
          << "memory at end:                 " << atEnd.text() << "   ("
          << (memoryFlat ? "flat within 10 %" : "GREW by more than 10 %") << ")" << Qt::endl;
    out() << "memory trend (cycle: VmHWM/VmRSS/heap in use, KiB):";
    for (const auto &[cycle, memory] : qAsConst(m_memory))
        out() << " " << cycle << ": " << memory.hwmKiB << "/" << memory.rssKiB << "/"
              << memory.heapInUseKiB;
    out() << Qt::endl;
    if (!m_faults.isEmpty()) {
        out() << "events (" << m_faults.size() << "):" << Qt::endl;
        for (const QString &text : m_faults.mid(0, kMaxFaultsShown))
            out() << "  " << text << Qt::endl;
        if (m_faults.size() > kMaxFaultsShown)
            out() << "  ... " << m_faults.size() - kMaxFaultsShown << " more" << Qt::endl;
    }

    const bool clean = finished && m_lost == 0 && m_corrupted == 0 && m_falseSuccesses == 0 &&
                       m_injected == 0 && m_noOutcome == 0 && m_wrongListings == 0 && memoryFlat;
    out() << "== soak: "
          << (clean      ? "PASSED"
              : finished ? "FAILED"
                         : "FAILED (incomplete)")
          << Qt::endl;
    return clean ? 0 : 1;
}

QtMessageHandler g_nextMessageHandler = nullptr;

// The offscreen platform says this of every dialog the soak answers.
void dropOffscreenNoise(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (message != QLatin1String("This plugin does not support propagateSizeHints()"))
        g_nextMessageHandler(type, context, message);
}

} // namespace

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    g_nextMessageHandler = qInstallMessageHandler(dropOffscreenNoise);

    QString reason;
    if (!SimController::canRun(&reason)) {
        out() << "== soak skipped: " << reason << Qt::endl;
        return 0;
    }
    Soak soak;
    return soak.run();
}
