#include "SlowDiskRig.h"

#include "BenchSupport.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace Bench {

namespace {
const char kThrottleFile[] = "/sys/fs/cgroup/blkio/blkio.throttle.write_bps_device";
constexpr qint64 kProbeSize = 32 * 1024 * 1024;

// The number of a block device, "major:minor"; empty when path is none.
QString deviceNumberOf(const QString &path)
{
    struct stat device = {};
    if (::stat(QFile::encodeName(path).constData(), &device) != 0 || !S_ISBLK(device.st_mode))
        return {};
    return QStringLiteral("%1:%2").arg(major(device.st_rdev)).arg(minor(device.st_rdev));
}
} // namespace

SlowDiskRig::SlowDiskRig(const QString &workDir, qint64 sizeBytes, qint64 writeBytesPerSecond)
    : m_workDir(workDir), m_image(QDir(workDir).filePath(QStringLiteral("slow-disk.img"))),
      m_mountPoint(QDir(workDir).filePath(QStringLiteral("slow-disk"))), m_size(sizeBytes),
      m_limit(writeBytesPerSecond)
{}

SlowDiskRig::~SlowDiskRig()
{
    tearDown();
}

bool SlowDiskRig::run(const QString &program, const QStringList &arguments, QString *output,
                      QString *error) const
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        // A program that did not start has no output to tell why.
        const QString why = process.error() == QProcess::FailedToStart
                                ? process.errorString()
                                : QString::fromLocal8Bit(process.readAllStandardError()).trimmed();
        *error =
            QStringLiteral("%1 %2 failed: %3").arg(program, arguments.join(QLatin1Char(' ')), why);
        return false;
    }
    if (output)
        *output = QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    return true;
}

bool SlowDiskRig::setLimit(const QString &deviceNumber, qint64 bytesPerSecond) const
{
    // A limit of 0 removes the device's entry.
    QFile throttle{QLatin1String(kThrottleFile)};
    return throttle.open(QIODevice::WriteOnly) &&
           throttle.write(
               QStringLiteral("%1 %2\n").arg(deviceNumber).arg(bytesPerSecond).toLatin1()) > 0;
}

void SlowDiskRig::undoLeftovers() const
{
    QString ignored;
    QFile mounts(QStringLiteral("/proc/self/mounts"));
    if (mounts.open(QIODevice::ReadOnly) &&
        mounts.readAll().contains(' ' + QFile::encodeName(m_mountPoint) + ' '))
        run(QStringLiteral("umount"), {QStringLiteral("-l"), m_mountPoint}, nullptr, &ignored);
    QString attached;
    if (!QFile::exists(m_image) ||
        !run(QStringLiteral("losetup"), {QStringLiteral("-j"), m_image}, &attached, &ignored))
        return;
    // One line per loop device over the image: "/dev/loop3: [2049]:1234 (/tmp/...)".
    for (const QString &line : attached.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
        const QString device = line.section(QLatin1Char(':'), 0, 0);
        setLimit(deviceNumberOf(device), 0);
        run(QStringLiteral("losetup"), {QStringLiteral("-d"), device}, nullptr, &ignored);
    }
}

bool SlowDiskRig::setUp(QString *error)
{
    if (geteuid() != 0) {
        *error = QStringLiteral("needs root (a loop device, a mount and a blkio limit)");
        return false;
    }
    if (!QFile::exists(QLatin1String(kThrottleFile))) {
        *error =
            QStringLiteral("no cgroup v1 blkio controller (%1)").arg(QLatin1String(kThrottleFile));
        return false;
    }
    undoLeftovers();
    QFile image(m_image);
    if (!QDir().mkpath(m_mountPoint) || !image.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        !image.resize(m_size)) {
        *error = QStringLiteral("cannot create %1").arg(m_image);
        return false;
    }
    image.close();
    // Inode tables and journal written now, at full speed, rather than later by the kernel
    // under the limit, where that work would compete with what is measured.
    if (!run(QStringLiteral("mkfs.ext4"),
             {QStringLiteral("-q"), QStringLiteral("-F"), QStringLiteral("-E"),
              QStringLiteral("lazy_itable_init=0,lazy_journal_init=0"), m_image},
             nullptr, error) ||
        !run(QStringLiteral("losetup"),
             {QStringLiteral("--find"), QStringLiteral("--show"), m_image}, &m_device, error))
        return false;
    m_deviceNumber = deviceNumberOf(m_device);
    if (m_deviceNumber.isEmpty()) {
        *error = QStringLiteral("%1 is not a block device").arg(m_device);
        return false;
    }
    if (!run(QStringLiteral("mount"), {m_device, m_mountPoint}, nullptr, error))
        return false;
    m_mounted = true;
    if (!setLimit(m_deviceNumber, m_limit)) {
        *error = QStringLiteral("cannot limit the writes of %1").arg(m_device);
        return false;
    }
    m_limited = true;
    return measureWriteRate(error);
}

bool SlowDiskRig::measureWriteRate(QString *error)
{
    QFile probe(QDir(m_mountPoint).filePath(QStringLiteral("probe.bin")));
    QByteArray data(kProbeSize, Qt::Uninitialized);
    QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(data.data()),
                                          data.size() / 4);
    QElapsedTimer clock;
    clock.start();
    const bool written = probe.open(QIODevice::WriteOnly) && probe.write(data) == data.size() &&
                         probe.flush() && ::fsync(probe.handle()) == 0;
    const qint64 ms = qMax<qint64>(1, clock.elapsed());
    probe.close();
    probe.remove();
    m_measuredRate = double(kProbeSize) / 1e6 / (double(ms) / 1000.0);
    if (!written) {
        *error = QStringLiteral("cannot write to %1").arg(m_mountPoint);
        return false;
    }
    // Far above the limit: the controller does not hold this device's write-back.
    if (m_measuredRate > 2.0 * double(m_limit) / 1e6) {
        *error = QStringLiteral("the limit did not slow the writes (%1 MB/s)")
                     .arg(m_measuredRate, 0, 'f', 1);
        return false;
    }
    return true;
}

void SlowDiskRig::tearDown()
{
    QString error;
    if (m_limited && setLimit(m_deviceNumber, 0))
        m_limited = false;
    if (m_mounted &&
        (run(QStringLiteral("umount"), {m_mountPoint}, nullptr, &error) ||
         run(QStringLiteral("umount"), {QStringLiteral("-l"), m_mountPoint}, nullptr, &error)))
        m_mounted = false;
    if (!m_device.isEmpty() &&
        run(QStringLiteral("losetup"), {QStringLiteral("-d"), m_device}, nullptr, &error))
        m_device.clear();
    if (!m_mounted)
        QDir(m_mountPoint).removeRecursively();
    QFile::remove(m_image);
    QDir().rmdir(m_workDir);
    if (m_limited || m_mounted || !m_device.isEmpty())
        out() << "the slow disk could not be undone: " << error << Qt::endl;
}

} // namespace Bench
