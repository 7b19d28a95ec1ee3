// What checking transfers end to end costs. Uploads through the connection worker, as the
// window requests them: one file of 256 MiB, and 40 files of 20 KiB requested at once, as a
// drop of 40 files requests them; each with verification switched off and on, in interleaved
// rounds, on the bare link and on the shop Wi-Fi link of the link benchmark (LinkProfile). The
// ratio is the verified median over the unverified one; shop Wi-Fi has targets. On the bare
// link hashing is the whole difference, so its rows stand beside how fast the controller's own
// sha256sum and this machine hash the same 256 MiB.

#include "BenchSupport.h"
#include "BenchWorker.h"
#include "CConnectionForSshClient.h"
#include "ComparisonTable.h"
#include "LinkProfile.h"
#include "RoundSeries.h"
#include "SimController.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <openssl/evp.h>

namespace {

using Bench::LinkProfile;
using Bench::out;

const int kSimInstance = Bench::simInstance(194);
constexpr qint64 kLargeSize = 256 * 1024 * 1024;
constexpr int kSmallFiles = 40;
constexpr qint64 kSmallSize = 20 * 1024;
// 256 MiB take some 45 s on shop Wi-Fi: three rounds each way there keep the whole run to a
// few minutes. A bare-link round is over in about a second, where a busy moment of this
// machine's two cores weighs more: more rounds.
constexpr int kLargeRoundsBare = 5;
constexpr int kLargeRoundsSlow = 3;
constexpr int kSmallRounds = 7;
constexpr int kHashRounds = 3;
// Targets on shop Wi-Fi: verified time at most this many times the unverified one.
constexpr double kLargeMaxRatio = 1.1;
constexpr double kSmallMaxRatio = 1.3;
const QString kRemote = QStringLiteral("/home/pi/cnc/verify/");
const QString kLarge = QStringLiteral("large.bin");

QString milliseconds(double ms)
{
    return QStringLiteral("%1 ms").arg(ms, 0, 'f', 0);
}

// SHA-256 of a file by OpenSSL, the implementation the transfers hash with; empty when the file
// cannot be read.
QByteArray opensslHash(const QString &path)
{
    QFile file(path);
    const uchar *data = file.open(QIODevice::ReadOnly) ? file.map(0, file.size()) : nullptr;
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!data || EVP_Digest(data, size_t(file.size()), digest, &size, EVP_sha256(), nullptr) != 1)
        return {};
    return QByteArray(reinterpret_cast<const char *>(digest), int(size));
}

class VerifyBench
{
public:
    bool prepare();
    bool runProfile(const LinkProfile &profile);
    void printTable() const;
    bool allMet() const { return m_table.judgeAll(); }
    void finish() { m_sim.setLinkRate(QString()); }

private:
    // Uploads the files (names relative to both folders) in rounds, unverified and verified, and
    // adds their row; maxRatio 0 judges nothing.
    bool measure(const LinkProfile &profile, Bench::BenchWorker &worker, const QString &what,
                 const QStringList &names, int rounds, double maxRatio);
    // One upload of the files with verification switched as asked, every job's report awaited.
    bool upload(Bench::BenchWorker &worker, bool verify, const QStringList &names,
                Bench::RoundSeries *times);
    // The controller's sha256sum and this machine's SHA-256 over the large file.
    bool measureHashing(const LinkProfile &profile);
    void addHashRow(const LinkProfile &profile, const QString &what,
                    const Bench::RoundSeries &times);
    QString local(const QString &name) const { return m_scratch.filePath(name); }
    QString onController(const QString &name) const
    {
        return m_sim.rootDir() + QStringLiteral("/verify/") + name;
    }

    SimController m_sim{kSimInstance};
    // In memory, as the controller's files are (a tmpfs): the link and the hashing are
    // measured, not this machine's disk.
    QTemporaryDir m_scratch{QStringLiteral("/dev/shm/cnc-verify-bench-XXXXXX")};
    QStringList m_smallNames;
    Bench::ComparisonTable m_table{QStringLiteral("verified"), QStringLiteral("cost"),
                                   QStringLiteral("unverified")};
};

bool VerifyBench::prepare()
{
    if (!Bench::startInMemory(m_sim) || !m_scratch.isValid())
        return false;
    for (int i = 0; i < kSmallFiles; ++i)
        m_smallNames << QStringLiteral("batch/program_%1.nc").arg(i, 2, 10, QLatin1Char('0'));
    bool ok = QDir().mkpath(local("batch")) && QDir().mkpath(onController("batch")) &&
              Bench::writeRandomFile(local(kLarge), kLargeSize);
    for (const QString &name : qAsConst(m_smallNames))
        ok = ok && Bench::writeRandomFile(local(name), kSmallSize);
    // Every round replaces the controller's copies, the first one too.
    for (const QString &name : m_smallNames + QStringList{kLarge})
        ok = ok && QFile::copy(local(name), onController(name));
    if (!ok)
        out() << "cannot create the files" << Qt::endl;
    return ok;
}

bool VerifyBench::runProfile(const LinkProfile &profile)
{
    Bench::ShapedLink link;
    if (!link.open(m_sim, profile))
        return false;
    Bench::BenchWorker worker(link.endpoint().host, link.endpoint().port);
    if (!worker.waitReady()) {
        out() << "the worker did not get ready" << Qt::endl;
        return false;
    }
    const bool bare = profile.mbit == 0;
    return measure(profile, worker, QStringLiteral("256 MiB upload"), {kLarge},
                   bare ? kLargeRoundsBare : kLargeRoundsSlow, bare ? 0.0 : kLargeMaxRatio) &&
           measure(profile, worker, QStringLiteral("40 x 20 KiB uploads"), m_smallNames,
                   kSmallRounds, bare ? 0.0 : kSmallMaxRatio) &&
           (!bare || measureHashing(profile));
}

bool VerifyBench::upload(Bench::BenchWorker &worker, bool verify, const QStringList &names,
                         Bench::RoundSeries *times)
{
    QString error;
    const qint64 ms = worker.run(
        [&](CConnectionForSshClient *w) {
            // Queued before the uploads: it holds for all of them.
            w->slotSetVerifyTransfers(verify);
            for (const QString &name : names)
                w->slotUploadFile(local(name), kRemote + name);
        },
        names.size(), &error);
    if (ms < 0) {
        out() << (verify ? "a verified" : "an unverified") << " upload failed: " << error
              << Qt::endl;
        return false;
    }
    times->add(ms);
    return true;
}

bool VerifyBench::measure(const LinkProfile &profile, Bench::BenchWorker &worker,
                          const QString &what, const QStringList &names, int rounds,
                          double maxRatio)
{
    Bench::RoundSeries unverified, verified;
    for (int round = 0; round < rounds; ++round) {
        if (!Bench::interleaved(
                round, [&] { return upload(worker, false, names, &unverified); },
                [&] { return upload(worker, true, names, &verified); }))
            return false;
    }
    for (const QString &name : names) {
        if (opensslHash(onController(name)) != opensslHash(local(name))) {
            out() << what << ": " << name << " did not arrive intact" << Qt::endl;
            return false;
        }
    }
    const double on = verified.median();
    const double off = unverified.median();
    const double ratio = off > 0 ? on / off : 0.0;
    Bench::ComparisonRow row;
    row.profile = QLatin1String(profile.name);
    row.what = what;
    row.ours = milliseconds(on);
    row.share = QStringLiteral("%1%2").arg(on >= off ? "+" : "", milliseconds(on - off));
    row.peer = milliseconds(off);
    row.ratio = QString::number(ratio, 'f', 2);
    row.target = maxRatio > 0 ? QStringLiteral("<= %1x unverified").arg(maxRatio, 0, 'f', 1)
                              : QStringLiteral("-");
    row.spread =
        QStringLiteral("verified %1, unverified %2 ms").arg(verified.range(0), unverified.range(0));
    row.met = maxRatio <= 0 || ratio <= maxRatio;
    m_table.add(row);
    return true;
}

bool VerifyBench::measureHashing(const LinkProfile &profile)
{
    const QByteArray expected = Bench::fileHash(local(kLarge)).toHex();
    Bench::RoundSeries controller, here;
    for (int round = 0; round < kHashRounds; ++round) {
        // What starting a command in the controller takes is not the hashing's.
        QElapsedTimer clock;
        clock.start();
        const int started = m_sim.exec({QStringLiteral("true")});
        const qint64 startMs = clock.restart();
        QByteArray printed;
        const int status = m_sim.exec({QStringLiteral("sha256sum"), kRemote + kLarge}, &printed);
        controller.add(qMax<qint64>(1, clock.elapsed() - startMs));
        clock.restart();
        const QByteArray hash = opensslHash(local(kLarge)).toHex();
        here.add(clock.elapsed());
        if (started != 0 || status != 0 || !printed.startsWith(expected) || hash != expected) {
            out() << "the hashes of the 256 MiB file disagree or sha256sum failed (" << status
                  << "): " << printed << Qt::endl;
            return false;
        }
    }
    addHashRow(profile, QStringLiteral("sha256sum of 256 MiB in the controller"), controller);
    addHashRow(profile, QStringLiteral("OpenSSL's SHA-256 of 256 MiB here"), here);
    return true;
}

void VerifyBench::addHashRow(const LinkProfile &profile, const QString &what,
                             const Bench::RoundSeries &times)
{
    const auto rate = [](double ms) {
        return Bench::megabytesPerSecond(kLargeSize, qint64(ms));
    };
    Bench::ComparisonRow row;
    row.profile = QLatin1String(profile.name);
    row.what = what;
    row.ours = QStringLiteral("-");
    row.share = QStringLiteral("%1 = %2 MB/s")
                    .arg(milliseconds(times.median()))
                    .arg(rate(times.median()), 0, 'f', 0);
    row.peer = QStringLiteral("-");
    row.ratio = QStringLiteral("-");
    row.target = QStringLiteral("-");
    row.spread = QStringLiteral("%1 MB/s").arg(times.range(rate, 0));
    m_table.add(row);
}

void VerifyBench::printTable() const
{
    m_table.print();
    out() << "Uploads through the worker in interleaved rounds (the order turned round on odd "
             "rounds), medians: 256 MiB of "
          << kLargeRoundsBare << " rounds on the bare link and " << kLargeRoundsSlow
          << " on shop Wi-Fi, the 40 files requested at once of " << kSmallRounds
          << ". Ratio: verified over unverified; cost: their difference. Hashing: median of "
          << kHashRounds
          << ", sha256sum in the controller (less the time a command takes to start there) and "
             "OpenSSL's SHA-256 here, both over the same file in memory."
          << Qt::endl;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    out() << "== verification" << Qt::endl;
    QString reason;
    if (!SimController::canRun(&reason)) {
        out() << "cannot start the simulated controller: " << reason << Qt::endl;
        return 1;
    }
    const QStringList chosen = app.arguments().mid(1);
    QVector<LinkProfile> profiles;
    for (const LinkProfile &profile : {Bench::kBareLink, Bench::kShopWifi}) {
        if (Bench::profileChosen(profile, chosen))
            profiles << profile;
    }
    VerifyBench bench;
    return Bench::runOnProfiles(bench, profiles, QStringLiteral("verification"),
                                QStringLiteral("cnc_verify_bench"));
}
