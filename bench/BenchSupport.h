#pragma once

#include <QString>

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

} // namespace Bench
