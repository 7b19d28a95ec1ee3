// The program on the links operators have: a gigabit or a 100 Mbit shop LAN, shop Wi-Fi, a
// VPN; and on a gigabit LAN to a Pi-class controller (OpenSSH's sshd and Dropbear), whose CPU
// sets the pace. A profile limits the simulated controller's link to its rate (tbf on the veth
// pair) and, for its one-way delay, puts a relay in front of the controller that holds every byte
// back that long in each direction; the program and OpenSSH's clients alike go through it.
// Each profile measures, against OpenSSH in the same run:
//  - 32 MiB (64 MiB from a Pi-class controller) uploaded and downloaded, against sftp logged in
//  once and given batches, as the
//    worker is connected once and given requests;
//  - 40 files of 20 KiB uploaded at once and downloaded at once through the connection
//    worker, as a drop of 40 files requests them, against one sftp batch of 40 puts or gets;
//  - the main window listing a folder of 2,000 entries, from the refresh to the filled model,
//    against ssh running the same ls over a connection that is already open (a multiplexing
//    master started first), so that neither figure holds a login.
// A Pi-class controller's server has its core to itself: the program and OpenSSH's clients run
// on the others.

#include "BenchSupport.h"
#include "BenchWindow.h"
#include "BenchWorker.h"
#include "CConnectionForSshClient.h"
#include "ComparisonTable.h"
#include "ControllerShell.h"
#include "LinkProfile.h"
#include "MultiplexedSsh.h"
#include "RoundSeries.h"
#include "SftpClientSession.h"
#include "SimController.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <memory>
#include <tuple>

namespace {

using Bench::Endpoint;
using Bench::LinkProfile;
using Bench::out;

const int kSimInstance = Bench::simInstance(192);
constexpr qint64 kMiB = 1024 * 1024;
constexpr qint64 kLargeSize = 32 * kMiB;
// A Pi-class controller moves tens of MB/s: 64 MiB keeps each transfer seconds long, many
// periods of its CPU quota (10 ms).
constexpr qint64 kLargeSizePiClass = 64 * kMiB;
constexpr int kSmallFiles = 40;
constexpr qint64 kSmallSize = 20 * 1024;
constexpr int kListingEntries = 2000;
constexpr int kLargeRounds = 2;
constexpr int kLargeRoundsLan = 6;
constexpr int kLargeRoundsPiClass = 10;
constexpr int kSmallRounds = 3;
constexpr int kSmallRoundsLan = 8;
constexpr int kListingRounds = 6;
const QString kRemote = QStringLiteral("/home/pi/cnc/link/");
const QString kListingFolder = QStringLiteral("list2000");

// Targets: large files at least this share of sftp's rate and of the link's; many small files
// this many times as fast as sftp on the slow links, and not slower on the LANs, either way; a
// listing at most this many times as long as ssh's.
constexpr double kLargeRatio = 0.97;
constexpr double kLinkShare = 0.90;
constexpr double kSmallRatioSlowLinks = 1.5;
constexpr double kSmallRatioLans = 1.0;
constexpr double kListingRatio = 1.5;
// On a Pi-class controller both sides wait for its CPU: transfers at least this share of sftp's
// rate, large and small alike.
constexpr double kPiClassRatio = 0.9;

// A Pi-class controller's pace is that of a quarter of this machine's core, whose speed drifts
// by a quarter from one second to the next (a hash of 64 MiB there takes 0.18-0.30 s): either
// side's best round is the one that met its fastest moment, and one lucky round decided the
// verdict. Both sides of a round meet the same moment, so the rounds are compared in pairs.
Bench::ComparisonTable::Comparison comparison(const LinkProfile &profile)
{
    return profile.cpuPercent > 0 ? Bench::ComparisonTable::Comparison::RoundPairs
                                  : Bench::ComparisonTable::Comparison::BestRounds;
}

QString smallName(int i)
{
    return QStringLiteral("program_%1.nc").arg(i, 2, 10, QLatin1Char('0'));
}

qint64 largeSize(const LinkProfile &profile)
{
    return profile.cpuPercent > 0 ? kLargeSizePiClass : kLargeSize;
}

// The large file of that size, here and on the controller.
QString largeName(qint64 size)
{
    return QStringLiteral("large-%1.bin").arg(size / kMiB);
}

class LinkBench
{
public:
    bool prepare();
    bool runProfile(const LinkProfile &profile);
    void printTable() const;
    bool allMet() const;
    void finish() { m_sim.setLinkRate(QString()); }

private:
    // Starts the controller the profile runs against, unless it runs already, with the files the
    // measurements read from it.
    bool startController(const LinkProfile &profile);
    bool measureLarge(const LinkProfile &profile, Bench::BenchWorker &worker);
    bool measureSmall(const LinkProfile &profile, Bench::BenchWorker &worker);
    // One round of sftp: the batch of puts, then that of gets.
    bool sftpRound(const QString &puts, const QString &gets, Bench::RoundSeries *up,
                   Bench::RoundSeries *down);
    bool measureListing(const LinkProfile &profile, const Endpoint &endpoint);
    QString local(const QString &name) const { return m_scratch.filePath(name); }
    QString onController(const QString &name) const { return m_sim.rootDir() + "/link/" + name; }

    SimController m_sim{kSimInstance};
    // In memory, as the controller's files are (a tmpfs): the link is measured, not this
    // machine's disk.
    QTemporaryDir m_scratch{QStringLiteral("/dev/shm/cnc-link-bench-XXXXXX")};
    QElapsedTimer m_clock;
    Bench::ComparisonTable m_table;
    // The controller now running, as its profile has it; none before the first profile.
    SimController::Server m_server = SimController::Server::OpenSsh;
    int m_cpuPercent = -1;
    // OpenSSH's sftp, logged in over the current profile's link.
    std::unique_ptr<Bench::SftpClientSession> m_sftp;
};

bool LinkBench::prepare()
{
    m_clock.start();
    if (!m_scratch.isValid())
        return false;
    bool ok = QDir().mkpath(local("small")) && QDir().mkpath(local("down-ours")) &&
              QDir().mkpath(local("down-sftp")) &&
              Bench::writeRandomFile(local(largeName(kLargeSize)), kLargeSize) &&
              Bench::writeRandomFile(local(largeName(kLargeSizePiClass)), kLargeSizePiClass);
    for (int i = 0; ok && i < kSmallFiles; ++i)
        ok = Bench::writeRandomFile(local("small/" + smallName(i)), kSmallSize);
    if (!ok)
        out() << "cannot create the files" << Qt::endl;
    return ok;
}

bool LinkBench::startController(const LinkProfile &profile)
{
    if (profile.server == m_server && profile.cpuPercent == m_cpuPercent)
        return true;
    SimController::Options options;
    options.filesInMemory = true;
    options.server = profile.server;
    options.slowCpuPercent = profile.cpuPercent;
    if (!m_sim.start(options)) {
        out() << "simulated controller: " << m_sim.lastError() << Qt::endl;
        return false;
    }
    m_server = profile.server;
    m_cpuPercent = profile.cpuPercent;
    // Its files are in memory: a new start begins without them.
    const qint64 size = largeSize(profile);
    bool ok =
        QDir().mkpath(onController("small")) && QDir().mkpath(onController("up-ours")) &&
        QDir().mkpath(onController("up-sftp")) &&
        Bench::writeRandomFile(onController(largeName(size)), size) &&
        Bench::fillFolder(m_sim.rootDir() + QLatin1Char('/') + kListingFolder, kListingEntries);
    for (int i = 0; ok && i < kSmallFiles; ++i)
        ok = Bench::writeRandomFile(onController("small/" + smallName(i)), kSmallSize);
    if (!ok) {
        out() << "cannot create the controller's files" << Qt::endl;
        return false;
    }
    if (profile.cpuPercent <= 0)
        return true;
    // The quota must bind, or the profile measures this machine's CPU instead.
    const double share = m_sim.serverCpuShare();
    out() << "the controller's SSH server gets " << share << " % of a core (quota "
          << profile.cpuPercent << " %)" << Qt::endl;
    if (share < 0 || share > profile.cpuPercent * 1.5) {
        out() << "the controller's CPU quota does not hold" << Qt::endl;
        return false;
    }
    return true;
}

bool LinkBench::runProfile(const LinkProfile &profile)
{
    Bench::ShapedLink link;
    Bench::keepOffControllerCore(false);
    if (!startController(profile) || !link.open(m_sim, profile))
        return false;
    Bench::keepOffControllerCore(profile.cpuPercent > 0);
    const Endpoint endpoint = link.endpoint();
    {
        Bench::BenchWorker worker(endpoint.host, endpoint.port);
        m_sftp = std::make_unique<Bench::SftpClientSession>(endpoint.host, endpoint.port);
        if (!worker.waitReady() || !m_sftp->start()) {
            out() << "the worker or sftp did not get ready" << Qt::endl;
            return false;
        }
        // sftp checks nothing, so our transfers are not checked either: this compares moving
        // the bytes. What a check costs (a command started and the file hashed on the
        // controller, at a quarter of a core on a Pi-class one) is the verification
        // benchmark's measure, against unchecked transfers on the same links.
        QMetaObject::invokeMethod(
            worker.worker(), [&worker] { worker.worker()->slotSetVerifyTransfers(false); },
            Qt::QueuedConnection);
        const bool measured = measureLarge(profile, worker) && measureSmall(profile, worker);
        m_sftp.reset();
        if (!measured)
            return false;
    }
    return measureListing(profile, endpoint);
}

bool LinkBench::sftpRound(const QString &puts, const QString &gets, Bench::RoundSeries *up,
                          Bench::RoundSeries *down)
{
    const qint64 put = m_sftp->run(puts);
    const qint64 get = m_sftp->run(gets);
    if (put < 0 || get < 0) {
        out() << "OpenSSH sftp failed" << Qt::endl;
        return false;
    }
    up->add(put);
    down->add(get);
    return true;
}

bool LinkBench::measureLarge(const LinkProfile &profile, Bench::BenchWorker &worker)
{
    const qint64 size = largeSize(profile);
    const QString large = largeName(size);
    Bench::RoundSeries oursUp, oursDown, peerUp, peerDown;
    const auto ours = [&] {
        QString error;
        const qint64 up = worker.run(
            [&](CConnectionForSshClient *w) {
                w->slotUploadFile(local(large), kRemote + "large-ours.bin");
            },
            1, &error);
        const qint64 down = worker.run(
            [&](CConnectionForSshClient *w) {
                w->slotDownloadFile(kRemote + large, local("large-ours.bin"));
            },
            1, &error);
        if (up < 0 || down < 0) {
            out() << "transfer failed: " << error << Qt::endl;
            return false;
        }
        oursUp.add(up);
        oursDown.add(down);
        return true;
    };
    const auto sftp = [&] {
        return sftpRound(
            QStringLiteral("put \"%1\" \"%2large-sftp.bin\"\n").arg(local(large), kRemote),
            QStringLiteral("get \"%1%2\" \"%3\"\n").arg(kRemote, large, local("large-sftp.bin")),
            &peerUp, &peerDown);
    };
    // A LAN moves 32 MiB in a fraction of a second, where a busy moment of this machine
    // decides as with the small files: more rounds there. A Pi-class controller's transfers
    // take seconds, and a median of pairs wants more rounds than a best one.
    const int rounds = profile.cpuPercent > 0 ? kLargeRoundsPiClass
                       : profile.lan          ? kLargeRoundsLan
                                              : kLargeRounds;
    for (int round = 0; round < rounds; ++round) {
        if (!Bench::interleaved(round, ours, sftp))
            return false;
    }
    if (Bench::fileHash(onController("large-ours.bin")) != Bench::fileHash(local(large)) ||
        Bench::fileHash(local("large-ours.bin")) != Bench::fileHash(onController(large))) {
        out() << "the large transfers did not arrive intact" << Qt::endl;
        return false;
    }
    const bool piClass = profile.cpuPercent > 0;
    const QString boundBy = piClass ? Bench::boundingLibrary() : QString();
    for (const auto &[direction, ours, peer] :
         {std::tuple{"upload", &oursUp, &peerUp}, std::tuple{"download", &oursDown, &peerDown}}) {
        m_table.addRate(profile, QStringLiteral("%1 MiB %2").arg(size / kMiB).arg(direction), size,
                        *ours, *peer, piClass ? kPiClassRatio : kLargeRatio,
                        piClass ? 0.0 : kLinkShare, boundBy, comparison(profile));
    }
    return true;
}

bool LinkBench::measureSmall(const LinkProfile &profile, Bench::BenchWorker &worker)
{
    QString puts, gets;
    for (int i = 0; i < kSmallFiles; ++i) {
        puts += QStringLiteral("put \"%1\" \"%2up-sftp/%3\"\n")
                    .arg(local("small/" + smallName(i)), kRemote, smallName(i));
        gets += QStringLiteral("get \"%1small/%3\" \"%2\"\n")
                    .arg(kRemote, local("down-sftp/" + smallName(i)), smallName(i));
    }
    Bench::RoundSeries oursUp, oursDown, peerUp, peerDown;
    const auto ours = [&] {
        QString error;
        const qint64 up = worker.run(
            [this](CConnectionForSshClient *w) {
                for (int i = 0; i < kSmallFiles; ++i)
                    w->slotUploadFile(local("small/" + smallName(i)),
                                      kRemote + "up-ours/" + smallName(i));
            },
            kSmallFiles, &error);
        const qint64 down = worker.run(
            [this](CConnectionForSshClient *w) {
                for (int i = 0; i < kSmallFiles; ++i)
                    w->slotDownloadFile(kRemote + "small/" + smallName(i),
                                        local("down-ours/" + smallName(i)));
            },
            kSmallFiles, &error);
        if (up < 0 || down < 0) {
            out() << "transfer failed: " << error << Qt::endl;
            return false;
        }
        oursUp.add(up);
        oursDown.add(down);
        return true;
    };
    const auto sftp = [&] {
        return sftpRound(puts, gets, &peerUp, &peerDown);
    };
    // A batch takes a few tens of milliseconds on a LAN, where one busy moment of this
    // machine's two cores decides: more rounds there.
    const int rounds = profile.lan ? kSmallRoundsLan : kSmallRounds;
    for (int round = 0; round < rounds; ++round) {
        if (!Bench::interleaved(round, ours, sftp))
            return false;
    }
    for (int i = 0; i < kSmallFiles; ++i) {
        if (Bench::fileHash(onController("up-ours/" + smallName(i))) !=
                Bench::fileHash(local("small/" + smallName(i))) ||
            Bench::fileHash(local("down-ours/" + smallName(i))) !=
                Bench::fileHash(onController("small/" + smallName(i)))) {
            out() << "the small files did not arrive intact" << Qt::endl;
            return false;
        }
    }
    const bool piClass = profile.cpuPercent > 0;
    const double minRatio = piClass       ? kPiClassRatio
                            : profile.lan ? kSmallRatioLans
                                          : kSmallRatioSlowLinks;
    const QString boundBy = piClass ? Bench::boundingLibrary() : QString();
    m_table.addRate(profile, QStringLiteral("40 x 20 KiB up"), kSmallFiles * kSmallSize, oursUp,
                    peerUp, minRatio, 0.0, boundBy, comparison(profile));
    m_table.addRate(profile, QStringLiteral("40 x 20 KiB down"), kSmallFiles * kSmallSize, oursDown,
                    peerDown, minRatio, 0.0, boundBy, comparison(profile));
    return true;
}

bool LinkBench::measureListing(const LinkProfile &profile, const Endpoint &endpoint)
{
    Bench::BenchWindow window(endpoint.host, endpoint.port, m_clock);
    Bench::MultiplexedSsh ssh(endpoint, local("mux"));
    QString error;
    if (!window.open(kListingFolder, kListingEntries, &error) || !ssh.start()) {
        out() << (error.isEmpty() ? QStringLiteral("ssh's master did not start") : error)
              << Qt::endl;
        return false;
    }
    const QString command = ControllerShell::listingCommand(QStringLiteral("/home/pi/cnc/") +
                                                            kListingFolder + QLatin1Char('/'))
                                .trimmed();
    // On a Pi-class controller the terminal itself costs the controller's CPU: ls writes to one
    // a line at a time, and every line passes its line discipline, some 20 ms of 75 at a
    // quarter of a core. The shell this program types into needs a terminal, so there the
    // measure is ssh with one (-tt); ssh without one is printed beside it. Dropbear sends no
    // output for a command on a terminal through ssh's shared connection: its row keeps the
    // stricter measure, ssh without one.
    const bool terminal =
        profile.cpuPercent > 0 && profile.server == SimController::Server::OpenSsh;
    Bench::RoundSeries ours, peer, plainPeer, windowParts;
    const auto byWindow = [&] {
        Bench::BenchWindow::Refresh times;
        if (!window.refresh(false, &times))
            return false;
        ours.add((times.filledAt - times.clickAt) / 1000000);
        windowParts.add((times.filledAt - times.lastPieceAt) / 1000000);
        return true;
    };
    const auto bySsh = [&] {
        const qint64 ms = ssh.run(command, kListingEntries, terminal);
        peer.add(ms);
        if (!terminal)
            return ms >= 0;
        const qint64 plainMs = ssh.run(command, kListingEntries);
        plainPeer.add(plainMs);
        return ms >= 0 && plainMs >= 0;
    };
    for (int round = 0; round < kListingRounds; ++round) {
        if (!Bench::interleaved(round, bySsh, byWindow)) {
            out() << "the listing did not arrive" << Qt::endl;
            return false;
        }
    }
    // Median against median: a listing is short, and its rounds swing both ways.
    const double oursMs = ours.median();
    const double peerMs = peer.median();
    out() << "listing: " << oursMs << " ms from the refresh to the filled model, of them "
          << windowParts.median() << " ms in the window after the last byte; ssh " << peerMs
          << " ms";
    if (terminal)
        out() << " with a terminal, " << plainPeer.median() << " ms without";
    out() << Qt::endl;
    const double ratio = peerMs > 0 ? oursMs / peerMs : 0.0;
    m_table.add({QLatin1String(profile.name),
                 terminal ? QStringLiteral("list 2,000 entries, ssh -tt")
                          : QStringLiteral("list 2,000 entries"),
                 QStringLiteral("%1 ms").arg(oursMs, 0, 'f', 0), QStringLiteral("-"),
                 QStringLiteral("%1 ms").arg(peerMs, 0, 'f', 0), QString::number(ratio, 'f', 2),
                 QStringLiteral("<= %1x ssh").arg(kListingRatio, 0, 'f', 1),
                 QStringLiteral("ours %1, ssh %2 ms").arg(ours.range(0), peer.range(0)),
                 ratio <= kListingRatio});
    return true;
}

void LinkBench::printTable() const
{
    m_table.print();
    out() << "Rounds interleaved. Large files: best of " << kLargeRoundsLan
          << " rounds on the LANs, of " << kLargeRounds << " on the others; small files: best of "
          << kSmallRoundsLan << " on the LANs, of " << kSmallRounds
          << " on the others; from a Pi-class controller, medians of " << kLargeRoundsPiClass
          << " rounds of large files and of " << kSmallRoundsLan
          << " of small ones, the ratio the median of the rounds' own; listings: median of "
          << kListingRounds
          << ". OpenSSH: sftp logged in once and given batches on its input, ssh over a "
             "multiplexed connection."
          << Qt::endl;
}

bool LinkBench::allMet() const
{
    return m_table.judgeAll();
}

} // namespace

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    out() << "== link" << Qt::endl;
    if (!Bench::canRunAgainstOpenSsh())
        return 1;
    LinkBench bench;
    return Bench::runOverProfiles(
        bench, QStringLiteral("link"), QStringLiteral("cnc_link_bench"), app.arguments().mid(1),
        false, {std::begin(Bench::kPiClassProfiles), std::end(Bench::kPiClassProfiles)});
}
