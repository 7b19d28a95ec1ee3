#pragma once

#include <QString>

namespace Bench {

// A slow local disk for a benchmark: an ext4 file system on a loop device backed by a sparse
// file, mounted on a folder, whose writes the block I/O controller (cgroup v1 blkio) holds to a
// given rate. The destructor undoes whatever was set up, also when the benchmark fails half
// way: the limit first, so that unmounting does not crawl. What a run that was killed left in
// workDir is undone before the next one sets up. Needs root.
class SlowDiskRig
{
public:
    SlowDiskRig(const QString &workDir, qint64 sizeBytes, qint64 writeBytesPerSecond);
    ~SlowDiskRig();
    SlowDiskRig(const SlowDiskRig &) = delete;
    SlowDiskRig &operator=(const SlowDiskRig &) = delete;

    // Sets the disk up and checks that the limit holds; false with the reason.
    bool setUp(QString *error);
    QString folder() const { return m_mountPoint; }
    qint64 limitBytesPerSecond() const { return m_limit; }
    // MB/s seen writing a test file to the disk and syncing it, once set up.
    double measuredWriteRate() const { return m_measuredRate; }

private:
    bool run(const QString &program, const QStringList &arguments, QString *output,
             QString *error) const;
    bool setLimit(const QString &deviceNumber, qint64 bytesPerSecond) const;
    void undoLeftovers() const;
    bool measureWriteRate(QString *error);
    void tearDown();

    const QString m_workDir;
    const QString m_image;
    const QString m_mountPoint;
    const qint64 m_size;
    const qint64 m_limit;
    QString m_device;       // /dev/loopN once attached
    QString m_deviceNumber; // major:minor of the loop device
    bool m_mounted = false;
    bool m_limited = false;
    double m_measuredRate = 0.0;
};

} // namespace Bench
