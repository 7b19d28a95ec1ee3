// How long the main window takes to list a folder of many entries on the simulated controller:
// from the click on Refresh to the filled and painted list, and the part of it spent in the
// window after the last piece of shell output arrived. The yardstick is OpenSSH running the
// same ls command on the same controller.

#include "BenchSupport.h"
#include "BenchWindow.h"
#include "ControllerShell.h"
#include "RoundSeries.h"
#include "SimController.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTextStream>
#include <QtTest/qtestsystem.h>

namespace {

const int kSimInstance = Bench::simInstance(191);
constexpr int kRounds = 6;
constexpr int kEntryCounts[] = {10000, 20000};
constexpr qint64 kWindowBudgetMs = 150;
constexpr double kTargetRatio = 1.5;

using Bench::out;

QElapsedTimer &benchClock()
{
    static QElapsedTimer timer;
    return timer;
}

bool benchFolder(SimController &sim, int entries)
{
    const QString dirName = QStringLiteral("many_%1").arg(entries);
    if (!Bench::fillFolder(QDir(sim.rootDir()).filePath(dirName), entries)) {
        out() << "cannot fill the folder" << Qt::endl;
        return false;
    }
    const QString remoteDir = QStringLiteral("/home/pi/cnc/") + dirName + QLatin1Char('/');

    Bench::BenchWindow window(sim.address(), 22, benchClock());
    QString error;
    bool ok = window.open(dirName, entries, &error);
    if (!ok)
        out() << error << Qt::endl;
    Bench::RoundSeries totals, windowParts, paintParts, baselines;
    const auto byWindow = [&] {
        Bench::BenchWindow::Refresh times;
        if (!window.refresh(true, &times))
            return false;
        totals.add((times.paintedAt - times.clickAt) / 1000000);
        windowParts.add((times.filledAt - times.lastPieceAt) / 1000000);
        paintParts.add((times.paintedAt - times.lastPieceAt) / 1000000);
        return true;
    };
    const auto byOpenSsh = [&] {
        const qint64 ms = Bench::sshWithLoginMs(
            sim.address(), 22, ControllerShell::listingCommand(remoteDir).trimmed());
        baselines.add(ms);
        return ms >= 0;
    };
    // Interleaved, the order turned round every round, so that a drift of the machine hits
    // both alike; median against median.
    for (int round = 0; ok && round < kRounds; ++round)
        ok = round % 2 ? byOpenSsh() && byWindow() : byWindow() && byOpenSsh();
    if (ok) {
        const double total = totals.median();
        const double windowPart = paintParts.median();
        const double baseline = baselines.median();
        const QString windowRow =
            QStringLiteral("%1 entries: window after the last byte to the painted list %2 ms "
                           "(target < %3 ms)")
                .arg(entries)
                .arg(windowPart)
                .arg(kWindowBudgetMs);
        const QString totalRow = QStringLiteral("%1 entries: click to painted list %2 ms, "
                                                "OpenSSH login + same ls %3 ms, ratio %4 "
                                                "(target <= %5)")
                                     .arg(entries)
                                     .arg(total)
                                     .arg(baseline)
                                     .arg(total / baseline, 0, 'f', 2)
                                     .arg(kTargetRatio);
        const bool windowOk = Bench::judge(windowRow, windowPart < kWindowBudgetMs);
        const bool totalOk =
            Bench::judge(totalRow, baseline > 0 && total <= kTargetRatio * baseline);
        out() << entries << " entries, median of " << kRounds
              << " interleaved refreshes:" << Qt::endl
              << "  click to filled and painted list: " << total << " ms (range " << totals.range(0)
              << ")" << Qt::endl
              << "  window after the last byte: " << windowParts.median()
              << " ms to the filled model, " << windowPart << " ms to the painted list (range "
              << paintParts.range(0) << "; target < " << kWindowBudgetMs
              << " ms: " << (windowOk ? "met" : "MISSED") << ")" << Qt::endl
              << "  OpenSSH login + same ls: " << baseline << " ms (range " << baselines.range(0)
              << "); ratio " << QString::number(total / baseline, 'f', 2)
              << " (target <= " << kTargetRatio << ": " << (totalOk ? "met" : "MISSED") << ")"
              << Qt::endl;
        ok = windowOk && totalOk;
    } else {
        out() << "the listing of " << entries << " entries did not arrive" << Qt::endl;
    }
    return ok;
}

} // namespace

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchClock().start();

    out() << "== listing" << Qt::endl;
    QString reason;
    if (!SimController::canRun(&reason)) {
        out() << "skipped: " << reason << Qt::endl;
        return 0;
    }
    SimController sim(kSimInstance);
    if (!sim.start()) {
        out() << "simulated controller: " << sim.lastError() << Qt::endl;
        return 1;
    }
    bool ok = true;
    for (const int entries : kEntryCounts)
        ok = benchFolder(sim, entries) && ok;
    sim.stop();
    Bench::printVerdicts(QStringLiteral("cnc_listing_bench"));
    out() << "== listing: " << (ok ? "done" : "FAILED") << Qt::endl;
    return ok ? 0 : 1;
}
