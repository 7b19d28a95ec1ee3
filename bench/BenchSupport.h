#pragma once

#include <QString>
#include <QTextStream>

#include <functional>

// Small helpers shared by the benchmarks.
namespace Bench {

// Runs the event loop until done() is true or timeoutMs has passed; true once done() held,
// even if events that ran before the loop returned made it false again.
bool runUntil(const std::function<bool()> &done, int timeoutMs);
// A field of /proc/self/status in KiB (VmRSS, VmHWM, ...); -1 when unknown.
qint64 procStatusKiB(const char *field);
// Runs a program to its end; its exit code, or -1 when it could not run.
int runProgram(const QString &program, const QStringList &arguments, int timeoutMs);
double megabytesPerSecond(qint64 bytes, qint64 milliseconds);
// Writes size bytes of random data, in 1 MiB pieces.
bool writeRandomFile(const QString &path, qint64 size);
// The benchmarks' report, on standard output.
QTextStream &out();

} // namespace Bench
