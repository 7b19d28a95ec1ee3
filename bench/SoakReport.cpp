#include "SoakReport.h"

#include "BenchSupport.h"

#include <malloc.h>

namespace {

constexpr double kMemoryTolerance = 0.10;
constexpr int kMaxFaultsShown = 30;

bool grewBeyondTolerance(qint64 before, qint64 after)
{
    return before > 0 && after > 0 && double(after) > double(before) * (1.0 + kMemoryTolerance);
}

} // namespace

SoakReport::Memory SoakReport::Memory::now()
{
    const struct mallinfo2 heap = mallinfo2();
    return {Bench::procStatusKiB("VmHWM"), Bench::procStatusKiB("VmRSS"),
            qint64((heap.uordblks + heap.hblkhd) / 1024)};
}

QString SoakReport::Memory::text() const
{
    return QStringLiteral("VmHWM %1 KiB, VmRSS %2 KiB (heap in use %3 KiB)")
        .arg(hwmKiB)
        .arg(rssKiB)
        .arg(heapInUseKiB);
}

void SoakReport::fault(const QString &text)
{
    m_faults << QStringLiteral("[%1 s] %2").arg(m_clock.elapsed() / 1000).arg(text);
}

void SoakReport::sampleMemory(int cycles, bool print)
{
    m_memory.append({cycles, Memory::now()});
    if (print) {
        Bench::out() << "  " << cycles << " cycles, " << m_clock.elapsed() / 1000 << " s, "
                     << m_memory.last().second.text() << Qt::endl;
    }
}

bool SoakReport::summarize(bool finished, const Memory &afterWarmUp, const Memory &atEnd,
                           int autoListings) const
{
    const bool memoryFlat = !grewBeyondTolerance(afterWarmUp.hwmKiB, atEnd.hwmKiB) &&
                            !grewBeyondTolerance(afterWarmUp.rssKiB, atEnd.rssKiB);
    const auto median = [](QVector<qint64> values) {
        std::sort(values.begin(), values.end());
        return values.isEmpty() ? qint64(-1) : values.at(values.size() / 2);
    };

    QTextStream &out = Bench::out();
    out << "== soak summary (" << m_clock.elapsed() / 1000 << " s)" << Qt::endl
        << "cycles completed:              " << cyclesDone << " of " << m_cycles << Qt::endl
        << "refreshes checked:             " << listings << " of " << m_cycles * m_listingsPerCycle
        << " (+" << extraListings << " extra; " << autoListings << " listings in all)" << Qt::endl
        << "uploads:                       " << uploads << Qt::endl
        << "downloads:                     " << downloads << Qt::endl
        << "byte-exact compares:           " << compares << Qt::endl
        << "deletes:                       " << deletes << Qt::endl
        << "cables pulled / reconnections: " << pulls << " / " << reconnections
        << " (loss noticed after median " << median(lossMs) << " ms, back after median "
        << median(reconnectMs) << " ms)" << Qt::endl
        << "failures the window reported:  " << reportedFailures << Qt::endl
        << "upload temporaries left over:  " << leftovers << Qt::endl
        << "files lost:                    " << lost << "   (must be 0)" << Qt::endl
        << "files corrupted:               " << corrupted << "   (must be 0)" << Qt::endl
        << "failures reported as success:  " << falseSuccesses << "   (must be 0)" << Qt::endl
        << "commands injected by names:    " << injected << "   (must be 0)" << Qt::endl
        << "operations without outcome:    " << noOutcome << "   (must be 0; " << stuckListings
        << " of them listings stuck without shell output)" << Qt::endl
        << "wrong listings:                " << wrongListings << "   (must be 0)" << Qt::endl
        << "memory after " << m_warmUpCycles << " cycles:        " << afterWarmUp.text() << Qt::endl
        << "memory at end:                 " << atEnd.text() << "   ("
        << (memoryFlat ? "flat within 10 %" : "GREW by more than 10 %") << ")" << Qt::endl;
    out << "memory trend (cycle: VmHWM/VmRSS/heap in use, KiB):";
    for (const auto &[cycle, memory] : qAsConst(m_memory))
        out << " " << cycle << ": " << memory.hwmKiB << "/" << memory.rssKiB << "/"
            << memory.heapInUseKiB;
    out << Qt::endl;
    if (!m_faults.isEmpty()) {
        out << "events (" << m_faults.size() << "):" << Qt::endl;
        for (const QString &text : m_faults.mid(0, kMaxFaultsShown))
            out << "  " << text << Qt::endl;
        if (m_faults.size() > kMaxFaultsShown)
            out << "  ... " << m_faults.size() - kMaxFaultsShown << " more" << Qt::endl;
    }

    const bool clean = finished && lost == 0 && corrupted == 0 && falseSuccesses == 0 &&
                       injected == 0 && noOutcome == 0 && wrongListings == 0 && memoryFlat;
    out << "== soak: "
        << (clean      ? "PASSED"
            : finished ? "FAILED"
                       : "FAILED (incomplete)")
        << Qt::endl;
    return clean;
}
