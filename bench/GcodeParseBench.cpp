// How fast the preview interprets a large program, and with how much memory: a generated
// program of a million lines (40 % feed moves, 30 % rapids, 20 % arcs, 10 % comments, M and
// T words), read from disk and interpreted as the preview does it. The yardstick is a plain
// line-by-line read of the same file. Each run is a child process of its own, so that its
// peak memory is its own.

#include "BenchSupport.h"
#include "GcodeInterpreter.h"

#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kLines = 1000000;
constexpr int kRuns = 5;
constexpr double kTargetLinesPerSecond = 1e6;
constexpr double kTargetBytesPerLine = 300;

QByteArray generateProgram()
{
    QRandomGenerator random(14);
    const auto coordinate = [&random](double lo, double hi) {
        return QByteArray::number(lo + random.generateDouble() * (hi - lo), 'f', 3);
    };
    QByteArray program;
    program.reserve(kLines * 32);
    program += "G21 G90 G17\n";
    double x = 0;
    double y = 0;
    for (int line = 1; line < kLines; ++line) {
        const int kind = int(random.bounded(100));
        if (kind < 40) {
            x = std::round(random.generateDouble() * 200000) / 1000;
            y = std::round(random.generateDouble() * 100000) / 1000;
            program += "G1 X" + QByteArray::number(x, 'f', 3) + " Y" +
                       QByteArray::number(y, 'f', 3) + " Z-" + coordinate(0, 3).left(4) + " F800\n";
        } else if (kind < 70) {
            x = std::round(random.generateDouble() * 200000) / 1000;
            y = std::round(random.generateDouble() * 100000) / 1000;
            program += "G0 X" + QByteArray::number(x, 'f', 3) + " Y" +
                       QByteArray::number(y, 'f', 3) + " Z5.\n";
        } else if (kind < 90) {
            // An arc that ends on its circle: centre I, J from here, end a quarter turn on.
            const double i = std::round((random.generateDouble() * 20 - 10) * 1000) / 1000;
            const double j = std::round((random.generateDouble() * 20 - 10) * 1000) / 1000;
            const double cx = x + i;
            const double cy = y + j;
            const double endX = std::round((cx - j) * 1000) / 1000;
            const double endY = std::round((cy + i) * 1000) / 1000;
            program += (kind < 80 ? "G2 X" : "G3 X") + QByteArray::number(endX, 'f', 3) + " Y" +
                       QByteArray::number(endY, 'f', 3) + " I" + QByteArray::number(i, 'f', 3) +
                       " J" + QByteArray::number(j, 'f', 3) + "\n";
            x = endX;
            y = endY;
        } else if (kind < 94) {
            program += "(pass " + QByteArray::number(line) + ")\n";
        } else if (kind < 97) {
            program += "M3 S" + QByteArray::number(8000 + random.bounded(8) * 1000) + "\n";
        } else {
            program += "T" + QByteArray::number(random.bounded(1, 9)) + " M6\n";
        }
    }
    return program;
}

struct Run
{
    double seconds = 0;
    double peakKiB = 0; // growth of the peak resident size over the start of the run
    double moves = 0;
};

// Runs work in a child process and returns its time and peak memory.
template <typename Work> Run inChild(Work work)
{
    int fds[2];
    if (pipe(fds) != 0)
        return {};
    const pid_t pid = fork();
    if (pid == 0) {
        ::close(fds[0]);
        // Reset the peak resident size to the present one, so that the peak is this run's.
        if (FILE *clear = std::fopen("/proc/self/clear_refs", "w")) {
            std::fputs("5", clear);
            std::fclose(clear);
        }
        const qint64 before = Bench::procStatusKiB("VmRSS");
        QElapsedTimer timer;
        timer.start();
        const double moves = work();
        Run run;
        run.seconds = double(timer.nsecsElapsed()) / 1e9;
        run.peakKiB = double(Bench::procStatusKiB("VmHWM") - before);
        run.moves = moves;
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

} // namespace

bool gcodeParseBench()
{
    QTextStream out(stdout);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("generated.nc"));
    {
        QFile file(path);
        const QByteArray program = generateProgram();
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
        parses << inChild([&path] {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                return -1.0;
            const Toolpath toolpath = GcodeInterpreter::interpret(file.readAll());
            return double(toolpath.moves.size());
        });
        reads << inChild([&path] {
            QFile file(path);
            if (!file.open(QIODevice::ReadOnly))
                return -1.0;
            char line[4096];
            double lines = 0;
            while (file.readLine(line, sizeof line) > 0)
                ++lines;
            return lines;
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
    return fast && small;
}
