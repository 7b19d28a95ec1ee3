// How fast the preview interprets a large program, and with how much memory: a generated
// program of a million lines (40 % feed moves, 30 % rapids, 20 % arcs, 10 % comments, M and
// T words), read from disk and interpreted as the preview does it. The yardstick is a plain
// line-by-line read of the same file. Then the interpreter's own memory against the size of
// the program it reads, on that program, on 1,000 helical arcs of 1,000 turns and on 64 MiB of
// the shortest moves. Each run is a child process of its own, so that its peak memory is its
// own.

#include "BenchSupport.h"
#include "GcodeInterpreter.h"
#include "GcodePrograms.h"

#include <QElapsedTimer>

#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <malloc.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kLines = 1000000;
constexpr int kRuns = 5;
constexpr double kTargetLinesPerSecond = 1e6;
constexpr double kTargetBytesPerLine = 300;
constexpr double kTargetMemoryRatio = 8;
constexpr int kMaxProgramBytes = 64 * 1024 * 1024;

struct Run
{
    double seconds = 0;
    double peakKiB = 0; // growth of the peak resident size over the start of the run
    double heapKiB = 0; // growth of the heap in use, where the work measures it
    double moves = 0;   // moves or lines the work counted; -1 when it failed
};

// Runs work in a child process and returns its time and peak memory, and what work filled in of
// the Run it is given. warmUp runs first, outside
// the measure: what any run costs once (code paged in, the allocator's first arena) is no
// memory of the program's.
template <typename Work> Run inChild(Work work, const std::function<void()> &warmUp = {})
{
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        ::close(fds[0]);
        if (warmUp)
            warmUp();
        // Reset the peak resident size to the present one, so that the peak is this run's.
        if (FILE *clear = std::fopen("/proc/self/clear_refs", "w")) {
            std::fputs("5", clear);
            std::fclose(clear);
        }
        const qint64 before = Bench::procStatusKiB("VmRSS");
        QElapsedTimer timer;
        timer.start();
        Run run;
        work(run);
        run.seconds = double(timer.nsecsElapsed()) / 1e9;
        run.peakKiB = double(Bench::procStatusKiB("VmHWM") - before);
        const ssize_t written = ::write(fds[1], &run, sizeof run);
        _exit(written == sizeof run ? 0 : 1);
    }
    ::close(fds[1]);
    Run run;
    const ssize_t got = ::read(fds[0], &run, sizeof run);
    ::close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    return got == sizeof run ? run : Run{};
}

Run median(QVector<Run> runs)
{
    std::sort(runs.begin(), runs.end(),
              [](const Run &a, const Run &b) { return a.seconds < b.seconds; });
    Run result = runs.at(runs.size() / 2);
    QVector<double> peaks;
    for (const Run &run : runs)
        peaks << run.peakKiB;
    std::sort(peaks.begin(), peaks.end());
    result.peakKiB = peaks.at(peaks.size() / 2);
    return result;
}

// The interpreter's memory on program, already in memory, over the program's size: the growth
// of the peak resident size, and the heap the toolpath holds once interpreted; the larger of the
// two is judged. A program under 1 MiB is judged by the heap alone: at that size whole pages and
// the allocator's own growth decide the resident figure.
bool judgeInterpreterMemory(const QString &name, const QByteArray &program)
{
    QVector<Run> runs;
    for (int round = 0; round < 3; ++round) {
        runs << inChild(
            [&program](Run &run) {
                const auto inUse = [] {
                    const struct mallinfo2 heap = mallinfo2();
                    return double(heap.uordblks + heap.hblkhd) / 1024;
                };
                const double before = inUse();
                const Toolpath toolpath = GcodeInterpreter::interpret(program);
                run.heapKiB = inUse() - before;
                run.moves = double(toolpath.moves.size());
            },
            [] {
                GcodeInterpreter::interpret(QByteArrayLiteral("G2 X0 Y0 I5 J0 P2\nG1 X1 F100\n"));
            });
    }
    const Run run = median(runs);
    const double ratio = run.peakKiB * 1024 / program.size();
    const double heapRatio = run.heapKiB * 1024 / program.size();
    QTextStream(stdout) << "interpreter memory, " << name << ": " << program.size() << " bytes, "
                        << run.moves << " moves, peak "
                        << QString::number(run.peakKiB / 1024, 'f', 1) << " MiB, "
                        << QString::number(ratio, 'f', 2) << " times the program; heap held "
                        << QString::number(run.heapKiB, 'f', 0) << " KiB, "
                        << QString::number(heapRatio, 'f', 2) << " times" << Qt::endl;
    const bool small = program.size() < 1024 * 1024;
    const double judged = small ? heapRatio : std::max(ratio, heapRatio);
    return Bench::judge(QStringLiteral("G-code interpreter memory, %1: %2 times the program%3 "
                                       "(target < %4)")
                            .arg(name)
                            .arg(judged, 0, 'f', 2)
                            .arg(small || heapRatio > ratio ? QStringLiteral(" (heap)") : QString())
                            .arg(kTargetMemoryRatio),
                        run.moves > 0 && judged < kTargetMemoryRatio);
}

} // namespace

bool gcodeParseBench()
{
    QTextStream out(stdout);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("generated.nc"));
    {
        QFile file(path);
        const QByteArray program = Bench::generatedProgram(kLines);
        if (!file.open(QIODevice::WriteOnly) || file.write(program) != program.size()) {
            out << "cannot write " << path << Qt::endl;
            return false;
        }
        out << "program: " << kLines << " lines, " << program.size() << " bytes ("
            << QString::number(double(program.size()) / kLines, 'f', 1) << " bytes a line)"
            << Qt::endl;
    }

    QVector<Run> parses;
    QVector<Run> reads;
    for (int round = 0; round < kRuns; ++round) {
        // The preview's own path: the whole file into memory, then interpreted.
        parses << inChild([&path](Run &run) {
            QFile file(path);
            run.moves = file.open(QIODevice::ReadOnly)
                            ? double(GcodeInterpreter::interpret(file.readAll()).moves.size())
                            : -1.0;
        });
        reads << inChild([&path](Run &run) {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly)) {
                run.moves = -1;
                return;
            }
            char line[4096];
            while (file.readLine(line, sizeof line) > 0)
                ++run.moves;
        });
    }
    const Run parse = median(parses);
    const Run read = median(reads);
    if (parse.moves <= 0 || read.moves != kLines) {
        out << "a run failed" << Qt::endl;
        return false;
    }
    const double linesPerSecond = kLines / parse.seconds;
    const double bytesPerLine = parse.peakKiB * 1024 / kLines;
    out << "parse (read + interpret), median of " << kRuns << ": "
        << QString::number(parse.seconds * 1000, 'f', 0) << " ms, "
        << QString::number(linesPerSecond / 1e6, 'f', 2)
        << " million lines/s (target >= " << QString::number(kTargetLinesPerSecond / 1e6, 'f', 0)
        << "), " << parse.moves << " moves" << Qt::endl;
    out << "peak memory of the parse: " << QString::number(parse.peakKiB / 1024, 'f', 1) << " MiB, "
        << QString::number(bytesPerLine, 'f', 0) << " bytes a line (target < "
        << kTargetBytesPerLine << ")" << Qt::endl;
    out << "plain line-by-line read: " << QString::number(read.seconds * 1000, 'f', 0)
        << " ms; parse / read: " << QString::number(parse.seconds / read.seconds, 'f', 2)
        << Qt::endl;
    const bool fast = Bench::judge(QStringLiteral("G-code parse: %1 million lines/s (target >= %2)")
                                       .arg(linesPerSecond / 1e6, 0, 'f', 2)
                                       .arg(kTargetLinesPerSecond / 1e6, 0, 'f', 0),
                                   linesPerSecond >= kTargetLinesPerSecond);
    const bool small = Bench::judge(QStringLiteral("G-code parse: %1 bytes a line (target < %2)")
                                        .arg(bytesPerLine, 0, 'f', 0)
                                        .arg(kTargetBytesPerLine),
                                    bytesPerLine < kTargetBytesPerLine);
    const bool arcs =
        judgeInterpreterMemory(QStringLiteral("1,000 helical arcs"), Bench::helicalArcsProgram());
    QFile file(path);
    const bool million = file.open(QIODevice::ReadOnly) &&
                         judgeInterpreterMemory(QStringLiteral("1,000,000 lines"), file.readAll());
    const bool largest = judgeInterpreterMemory(QStringLiteral("64 MiB of short moves"),
                                                Bench::shortMovesProgram(kMaxProgramBytes));
    return fast && small && arcs && million && largest;
}
