#include "SoakCablePulls.h"

#include "DropEvents.h"
#include "OperationLog.h"
#include "ProcessIo.h"
#include "SoakFiles.h"
#include "SoakReport.h"
#include "SoakRig.h"
#include "WindowTestSupport.h"

#include <QElapsedTimer>

using namespace SoakFiles;

namespace {

// Dead peer detection (15 s) plus slack.
constexpr int kLossTimeoutMs = 60000;
// The worker retries every 10 s; the first listing follows the ready channel by 3 s.
constexpr int kReconnectTimeoutMs = 60000;
constexpr int kInterruptedSize = 8 * 1024 * 1024;

} // namespace

bool SoakCablePulls::pull(Pull kind)
{
    if (!m_rig.waitForIdle())
        return false;
    if (kind == Pull::DuringUpload)
        return interruptedUpload();
    if (kind == Pull::DuringDownload)
        return interruptedDownload();

    const int mark = m_rig.log().count();
    if (!m_rig.sim().linkDown())
        return false;
    ++m_report.pulls;
    const bool lost = waitForLoss(mark);
    return m_rig.sim().linkUp() && lost && waitForReconnection(mark);
}

bool SoakCablePulls::waitForLoss(int mark)
{
    QElapsedTimer timer;
    timer.start();
    const bool lost = m_rig.waitFor(
        [&] { return m_rig.log().find(mark, QStringLiteral("Connection lost.")) >= 0; },
        kLossTimeoutMs);
    if (lost)
        m_report.lossMs << timer.elapsed();
    else
        m_report.fault(QStringLiteral("the pulled cable was never noticed"));
    return lost;
}

bool SoakCablePulls::waitForReconnection(int mark)
{
    QElapsedTimer timer;
    timer.start();
    const QString restored =
        QStringLiteral("Connection to %1 has been restored.").arg(m_rig.sim().address());
    const bool back = m_rig.waitFor(
        [&] {
            const int restoredLine = m_rig.log().find(mark, restored);
            if (restoredLine < 0)
                return false;
            const int readyLine =
                m_rig.log().find(restoredLine, QStringLiteral("SFTP channel is ready."));
            return readyLine >= 0 && m_rig.log().findStart(readyLine, SoakRig::kListingLine) >= 0 &&
                   m_rig.idle();
        },
        kReconnectTimeoutMs);
    if (!back) {
        m_report.fault(
            QStringLiteral("no reconnection within %1 s").arg(kReconnectTimeoutMs / 1000));
        return false;
    }
    m_report.reconnectMs << timer.elapsed();
    ++m_report.reconnections;
    return true;
}

// The cable is pulled once the upload has visibly begun. Whatever the window then reports
// must be true of the controller's disk.
bool SoakCablePulls::interruptedUpload()
{
    const QString name = QStringLiteral("interrupted 'up' $x 零件.nc");
    const QString source = m_rig.sourceDir() + QLatin1Char('/') + name;
    const QByteArray digest = writeRandomFile(source, kInterruptedSize, 77);
    if (digest.isNull() || !m_rig.throttle(true))
        return false;
    const qint64 before = bytesUnder(m_rig.sim().rootDir());
    const int mark = m_rig.log().count();
    if (!dropUrls(&m_rig.window(), {QUrl::fromLocalFile(source)}))
        return false;
    ++m_report.uploads;
    if (!m_rig.waitFor([&] { return bytesUnder(m_rig.sim().rootDir()) > before + 256 * 1024; },
                       20000))
        m_report.fault(QStringLiteral("the interrupted upload did not visibly begin"));
    if (!cutTransfer(QStringLiteral("upload"), QStringLiteral("the controller's copy"),
                     m_rig.remote(name), digest, mark))
        return false;
    QFile::remove(m_rig.remote(name));
    QFile::remove(source);
    return true;
}

// The cable is pulled once the download has visibly begun; the local target must be whole or
// absent afterwards, as the report says.
bool SoakCablePulls::interruptedDownload()
{
    const QString name = QStringLiteral("interrupted 'down' $y 零件.nc");
    const QByteArray digest = writeRandomFile(m_rig.remote(name), kInterruptedSize, 78);
    if (digest.isNull() || !m_listAgain() || !m_rig.throttle(true))
        return false;
    const QString target = m_rig.downloadDir() + QLatin1Char('/') + name;
    QFile::remove(target);
    if (!selectRows(m_rig.window(), {name}))
        return false;
    const int mark = m_rig.log().count();
    m_rig.answer().answerFileDialog(target);
    button(m_rig.window(), "m_btnDownload")->click();
    m_rig.answer().reset();
    ++m_report.downloads;
    // The download writes into an unnamed temporary file (QSaveFile), which no directory
    // shows; the bytes this process has written tell that it is under way.
    const qint64 written = bytesWrittenByThisProcess();
    if (!m_rig.waitFor([&] { return bytesWrittenByThisProcess() > written + 1024 * 1024; },
                       20000)) {
        m_report.fault(
            QStringLiteral("the interrupted download did not visibly begin; the log since: %1")
                .arg(m_rig.logSince(mark)));
    }
    if (!cutTransfer(QStringLiteral("download"), QStringLiteral("the local copy"), target, digest,
                     mark))
        return false;
    QFile::remove(m_rig.remote(name));
    QDir(m_rig.downloadDir()).removeRecursively();
    QDir().mkpath(m_rig.downloadDir());
    return m_listAgain();
}

bool SoakCablePulls::cutTransfer(const QString &transfer, const QString &copy,
                                 const QString &copyPath, const QByteArray &digest, int mark)
{
    if (!m_rig.sim().linkDown())
        return false;
    ++m_report.pulls;
    if (QFileInfo::exists(copyPath))
        m_report.fault(
            QStringLiteral("the %1 was complete before the cable was pulled").arg(transfer));
    const bool lost = waitForLoss(mark);
    const QVector<SoakRig::JobReport> reports =
        m_rig.waitForReports(mark, 1, SoakRig::kJobTimeoutMs);
    m_rig.throttle(false);
    if (!m_rig.sim().linkUp() || !lost || !waitForReconnection(mark))
        return false;

    const QByteArray copyDigest = fileDigest(copyPath);
    ++m_report.compares;
    if (reports.isEmpty()) {
        ++m_report.noOutcome;
        m_report.fault(QStringLiteral("the interrupted %1 was never reported").arg(transfer));
    } else if (reports.first().success && !sameContent(copyDigest, digest)) {
        ++m_report.falseSuccesses;
        m_report.fault(QStringLiteral("the interrupted %1 was reported done, but %2 is incomplete")
                           .arg(transfer, copy));
    } else if (!reports.first().success) {
        ++m_report.reportedFailures;
        if (!copyDigest.isNull() && copyDigest != digest) {
            ++m_report.corrupted;
            m_report.fault(QStringLiteral("the interrupted %1 left a partial file under its name")
                               .arg(transfer));
        }
    }
    return true;
}
