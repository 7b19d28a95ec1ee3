#include "BenchSupport.h"

#include <QCoreApplication>
#include <QTextStream>

// Every benchmark: a name and an entry that prints its figures and returns true on success.
bool sftpThroughputBench();
bool progressCostBench();
bool gcodeParseBench();

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const struct
    {
        const char *name;
        bool (*run)();
    } benchmarks[] = {
        {"sftp-throughput", &sftpThroughputBench},
        {"progress-cost", &progressCostBench},
        {"gcode-parse", &gcodeParseBench},
    };
    const QStringList selected = app.arguments().mid(1);
    bool allPassed = true;
    for (const auto &bench : benchmarks) {
        if (!selected.isEmpty() && !selected.contains(QLatin1String(bench.name)))
            continue;
        QTextStream(stdout) << "== " << bench.name << Qt::endl;
        const bool passed = bench.run();
        QTextStream(stdout) << "== " << bench.name << (passed ? ": done" : ": FAILED") << Qt::endl;
        allPassed = allPassed && passed;
    }
    Bench::printVerdicts(QStringLiteral("cnc_bench"));
    return allPassed ? 0 : 1;
}
