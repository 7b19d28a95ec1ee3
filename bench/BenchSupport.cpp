#include "BenchSupport.h"

#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QTimer>

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

QTextStream &out()
{
    static QTextStream stream(stdout);
    return stream;
}

double megabytesPerSecond(qint64 bytes, qint64 milliseconds)
{
    return milliseconds > 0 ? double(bytes) / 1e6 / (double(milliseconds) / 1000.0) : 0.0;
}

} // namespace Bench
