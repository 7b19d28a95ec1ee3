#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTextStream>
#include <functional>

class SimController;

// Small helpers shared by the benchmarks.
namespace Bench {

// Starts the benchmark's controller with its files in memory, so that the disk never sets the
// pace; says why on out() when it cannot.
bool startInMemory(SimController &sim);

// Runs the event loop until done() is true or timeoutMs has passed; true once done() held,
// even if events that ran before the loop returned made it false again.
bool runUntil(const std::function<bool()> &done, int timeoutMs);
// The simulated controller instance to use: CNCSIM_INSTANCE when set (as the tests take theirs),
// otherwise byDefault, so that runs beside other build trees can keep to their own instances.
int simInstance(int byDefault);
// A field of /proc/self/status in KiB (VmRSS, VmHWM, ...); -1 when unknown.
qint64 procStatusKiB(const char *field);
// Runs a program to its end; its exit code, or -1 when it could not run.
int runProgram(const QString &program, const QStringList &arguments, int timeoutMs);
double megabytesPerSecond(qint64 bytes, qint64 milliseconds);
// Writes size bytes of random data, in 1 MiB pieces.
bool writeRandomFile(const QString &path, qint64 size);
// SHA-256 of a file, read in pieces; empty when it cannot be read.
QByteArray fileHash(const QString &path);
// Every folder and file under root by its path relative to root, a file with its SHA-256 and a
// folder with "folder": two trees with equal maps hold the same names and bytes.
QMap<QString, QByteArray> treeHashes(const QString &root);
// Fills a folder with count small G-code files of assorted sizes (program_000000.nc, ...).
bool fillFolder(const QString &dir, int count);
// The benchmarks' report, on standard output.
QTextStream &out();

// CPU time the calling thread has used so far, in nanoseconds.
qint64 currentThreadCpuNs();

// Keeps the verdict of a row that has a target, for the summary at the end; returns met.
bool judge(const QString &row, bool met);
// The library that bounds transfers from a controller without AES or SHA instructions, such as
// "libssh2 1.10.0": before 1.11, libssh2 offers none of the ciphers such a controller runs fast
// (chacha20-poly1305, AES-GCM) and no encrypt-then-MAC. Empty when built against 1.11 or later.
QString boundingLibrary();
// Keeps the verdict of a row whose target the library boundBy may keep out of reach (see
// boundingLibrary()): with boundBy empty as judge() does; otherwise a miss is "bound", which
// fails nothing. Returns whether the row passes.
bool judgeUnlessBound(const QString &row, bool met, const QString &boundBy);
// A row's verdict as a table shows it: met, MISSED, or bound by the library.
QString verdictText(bool met, const QString &boundBy = QString());
// Prints every verdict kept, one line each, so that runs can be compared line by line; appends
// them to the file named by CNC_BENCH_SUMMARY as well, which make bench prints at its end.
void printVerdicts(const QString &program);

// Whether the simulated controller can run here and sshpass, which gives OpenSSH's clients the
// password, is installed; prints why not.
bool canRunAgainstOpenSsh();
// Milliseconds for OpenSSH's ssh to log in, run the command and end; -1 when it failed.
qint64 sshWithLoginMs(const QString &host, int port, const QString &command);

// OpenSSH's client options for a simulated controller: its password comes from sshpass, its
// host key is taken as it is, and only errors are printed.
QStringList openSshOptions();

// A Pi-class controller's SSH server runs on the last core this process may use (the
// simulated controller takes the last its starter may use). With off, moves every thread of
// this process, and so the clients it starts from then on, to the other cores, as the operator's
// computer and the controller are two machines: a client sharing the server's core would take
// turns of the server's quota and evict its caches, the more so the more CPU the client
// spends. Without, moves them back to every core; call it so before starting a controller.
void keepOffControllerCore(bool off);

} // namespace Bench
