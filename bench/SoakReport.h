#pragma once

#include <QElapsedTimer>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QVector>

// What the soak did and what went wrong, its memory over the run, and the summary it prints
// at the end with its verdict.
class SoakReport
{
public:
    struct Memory
    {
        qint64 hwmKiB = -1;
        qint64 rssKiB = -1;
        // What the program holds through malloc; set apart from VmRSS, it tells memory still in
        // use from freed memory that the allocator keeps for later.
        qint64 heapInUseKiB = -1;

        static Memory now();
        QString text() const;
    };

    // The plan: that many cycles, listings in each, and cycles of warm-up before the memory
    // baseline.
    SoakReport(int cycles, int listingsPerCycle, int warmUpCycles)
        : m_cycles(cycles), m_listingsPerCycle(listingsPerCycle), m_warmUpCycles(warmUpCycles)
    {
        m_clock.start();
    }
    qint64 elapsedMs() const { return m_clock.elapsed(); }
    // An event of the run, with the time it came.
    void fault(const QString &text);
    // Records the memory after that many cycles, printed when asked for.
    void sampleMemory(int cycles, bool print);

    // Prints the summary; true when the run finished and nothing went wrong.
    bool summarize(bool finished, const Memory &afterWarmUp, const Memory &atEnd,
                   int autoListings) const;

    // What was done, and what went wrong.
    int cyclesDone = 0;
    int listings = 0;
    int extraListings = 0;
    int uploads = 0;
    int downloads = 0;
    int compares = 0;
    int deletes = 0;
    int pulls = 0;
    int reconnections = 0;
    int reportedFailures = 0;
    int lost = 0;
    int corrupted = 0;
    int falseSuccesses = 0;
    int noOutcome = 0;
    int wrongListings = 0;
    int injected = 0;
    int leftovers = 0;
    int stuckListings = 0;
    QVector<qint64> lossMs;
    QVector<qint64> reconnectMs;

private:
    const int m_cycles;
    const int m_listingsPerCycle;
    const int m_warmUpCycles;
    QElapsedTimer m_clock;
    QStringList m_faults;
    QVector<QPair<int, Memory>> m_memory;
};
