#include "BenchSupport.h"

#include "SimController.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTimer>

#include <libssh2.h>

#include <ctime>
#include <sched.h>

namespace Bench {

bool runUntil(const std::function<bool()> &done, int timeoutMs)
{
    // The condition counts once it has held: events that run before exec() returns may
    // already have changed it again (a finished listing followed at once by the next one).
    bool held = done();
    if (held)
        return true;
    QEventLoop loop;
    QTimer poll;
    poll.setInterval(1);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (!held && done()) {
            held = true;
            loop.quit();
        }
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    poll.start();
    loop.exec();
    return held;
}

int simInstance(int byDefault)
{
    bool ok = false;
    const int instance = qEnvironmentVariableIntValue("CNCSIM_INSTANCE", &ok);
    return ok && instance >= 1 && instance <= 200 ? instance : byDefault;
}

qint64 procStatusKiB(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(field) + ':';
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

int runProgram(const QString &program, const QStringList &arguments, int timeoutMs)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.start(program, arguments);
    if (!process.waitForFinished(timeoutMs) || process.exitStatus() != QProcess::NormalExit)
        return -1;
    return process.exitCode();
}

bool writeRandomFile(const QString &path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    QByteArray piece(1024 * 1024, Qt::Uninitialized);
    for (qint64 left = size; left > 0; left -= piece.size()) {
        QRandomGenerator::global()->fillRange(reinterpret_cast<quint32 *>(piece.data()),
                                              piece.size() / 4);
        if (file.write(piece.constData(), qMin<qint64>(left, piece.size())) < 0)
            return false;
    }
    return file.flush();
}

QByteArray fileHash(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return {};
    return hash.result();
}

QMap<QString, QByteArray> treeHashes(const QString &root)
{
    QMap<QString, QByteArray> tree;
    const QDir base(root);
    QDirIterator entries(root,
                         QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System,
                         QDirIterator::Subdirectories);
    while (entries.hasNext()) {
        const QString path = entries.next();
        tree.insert(base.relativeFilePath(path),
                    entries.fileInfo().isDir() ? QByteArrayLiteral("folder") : fileHash(path));
    }
    return tree;
}

bool fillFolder(const QString &dir, int count)
{
    QDir().mkpath(dir);
    for (int i = 0; i < count; ++i) {
        QFile file(QStringLiteral("%1/program_%2.nc").arg(dir).arg(i, 6, 10, QLatin1Char('0')));
        if (!file.open(QIODevice::WriteOnly) || file.write(QByteArray(i % 4096, 'G')) < 0)
            return false;
    }
    return true;
}

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

QStringList openSshOptions()
{
    return {QStringLiteral("-o"), QStringLiteral("StrictHostKeyChecking=no"),
            QStringLiteral("-o"), QStringLiteral("UserKnownHostsFile=/dev/null"),
            QStringLiteral("-o"), QStringLiteral("LogLevel=ERROR")};
}

bool canRunAgainstOpenSsh()
{
    QString reason;
    if (!SimController::canRun(&reason)) {
        out() << "cannot start the simulated controller: " << reason << Qt::endl;
        return false;
    }
    if (QStandardPaths::findExecutable(QStringLiteral("sshpass")).isEmpty()) {
        out() << "sshpass is missing (Debian package sshpass)" << Qt::endl;
        return false;
    }
    return true;
}

qint64 sshWithLoginMs(const QString &host, int port, const QString &command)
{
    QProcess ssh;
    ssh.setStandardOutputFile(QProcess::nullDevice());
    QElapsedTimer clock;
    clock.start();
    ssh.start(
        QStringLiteral("sshpass"),
        QStringList{QStringLiteral("-p"), SimController::rootPassword(), QStringLiteral("ssh")} +
            openSshOptions() +
            QStringList{QStringLiteral("-p"), QString::number(port), QStringLiteral("root@") + host,
                        command});
    const bool ran = ssh.waitForFinished(60000) && ssh.exitStatus() == QProcess::NormalExit &&
                     ssh.exitCode() == 0;
    return ran ? clock.elapsed() : -1;
}

qint64 currentThreadCpuNs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return qint64(now.tv_sec) * 1000000000 + now.tv_nsec;
}

namespace {
QStringList &verdicts()
{
    static QStringList lines;
    return lines;
}
} // namespace

bool judge(const QString &row, bool met)
{
    verdicts() << QStringLiteral("%1  %2").arg(
        met ? QLatin1String("met   ") : QLatin1String("MISSED"), row);
    return met;
}

QString boundingLibrary()
{
#if LIBSSH2_VERSION_NUM < 0x010b00
    return QStringLiteral("libssh2 " LIBSSH2_VERSION);
#else
    return QString();
#endif
}

bool judgeUnlessBound(const QString &row, bool met, const QString &boundBy)
{
    if (boundBy.isEmpty())
        return judge(row, met);
    verdicts() << (met ? QStringLiteral("met     %1").arg(row)
                       : QStringLiteral("bound   %1, bound by %2").arg(row, boundBy));
    return true;
}

QString verdictText(bool met, const QString &boundBy)
{
    if (met)
        return QStringLiteral("met");
    return boundBy.isEmpty() ? QStringLiteral("MISSED") : QStringLiteral("bound by ") + boundBy;
}

void printVerdicts(const QString &program)
{
    out() << "-- verdicts of " << program << ":" << Qt::endl;
    for (const QString &line : verdicts())
        out() << line << Qt::endl;
    const QString summary = qEnvironmentVariable("CNC_BENCH_SUMMARY");
    QFile file(summary);
    if (summary.isEmpty() || !file.open(QIODevice::WriteOnly | QIODevice::Append))
        return;
    for (const QString &line : verdicts())
        file.write(QStringLiteral("%1: %2\n").arg(program, line).toUtf8());
}

double megabytesPerSecond(qint64 bytes, qint64 milliseconds)
{
    return milliseconds > 0 ? double(bytes) / 1e6 / (double(milliseconds) / 1000.0) : 0.0;
}

bool startInMemory(SimController &sim)
{
    SimController::Options options;
    options.filesInMemory = true;
    if (sim.start(options))
        return true;
    out() << "simulated controller: " << sim.lastError() << Qt::endl;
    return false;
}

void keepOffControllerCore(bool off)
{
    static cpu_set_t every;
    static const bool known = sched_getaffinity(0, sizeof every, &every) == 0;
    if (!known)
        return;
    cpu_set_t cores = every;
    if (off && CPU_COUNT(&every) > 1) {
        for (int cpu = CPU_SETSIZE - 1; cpu >= 0; --cpu) {
            if (CPU_ISSET(cpu, &cores)) {
                CPU_CLR(cpu, &cores);
                break;
            }
        }
    }
    const QStringList threads =
        QDir(QStringLiteral("/proc/self/task")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &thread : threads)
        sched_setaffinity(thread.toInt(), sizeof cores, &cores);
}

} // namespace Bench
