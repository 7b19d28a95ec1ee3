// Whether the preview keeps the program responsive whatever it shows: the longest single event
// of the GUI thread while a preview window opens a program, draws it, is clicked, zoomed,
// turned to other views, follows the cursor through the text and closes. Events are timed
// around QApplication::notify, the outermost call only. Three programs: 1,000 helical arcs of
// 1,000 turns (22 KB), a generated job of 1,000,000 lines, and 64 MiB of the shortest moves,
// the largest program the preview reads.

#include "BenchSupport.h"
#include "GcodePrograms.h"
#include "PreviewWindow.h"
#include "ProgramTextView.h"
#include "TestSupport.h"
#include "ToolpathView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

constexpr double kTargetLongestMs = 50;
constexpr int kMaxProgramBytes = 64 * 1024 * 1024;
constexpr int kWaitMs = 600000;

class TimedApplication : public QApplication
{
public:
    using QApplication::QApplication;

    bool notify(QObject *receiver, QEvent *event) override
    {
        if (m_depth > 0)
            return QApplication::notify(receiver, event);
        ++m_depth;
        const int type = int(event->type());
        const char *const name = receiver->metaObject()->className();
        QElapsedTimer timer;
        timer.start();
        const qint64 cpuBefore = Bench::currentThreadCpuNs();
        const bool result = QApplication::notify(receiver, event);
        const qint64 ns = timer.nsecsElapsed();
        m_longestCpuNs = std::max(m_longestCpuNs, Bench::currentThreadCpuNs() - cpuBefore);
        --m_depth;
        if (ns > m_longestNs) {
            m_longestNs = ns;
            m_longestWhat = QStringLiteral("event %1 to %2").arg(type).arg(QLatin1String(name));
        }
        return result;
    }

    void reset()
    {
        m_longestNs = 0;
        m_longestCpuNs = 0;
        m_longestWhat.clear();
    }
    double longestMs() const { return double(m_longestNs) / 1e6; }
    // The GUI thread's own time in its longest event by that measure: on a busy machine the
    // longest event may be one the thread spent waiting for a core.
    double longestCpuMs() const { return double(m_longestCpuNs) / 1e6; }
    QString longestWhat() const { return m_longestWhat; }

private:
    int m_depth = 0;
    qint64 m_longestNs = 0;
    qint64 m_longestCpuNs = 0;
    QString m_longestWhat;
};

TimedApplication *timedApp()
{
    return static_cast<TimedApplication *>(QCoreApplication::instance());
}

bool waitIdle(ToolpathView *plot)
{
    return Bench::runUntil([plot] { return !plot->isBusy(); }, kWaitMs);
}

// One program through the window; the longest event of each step, and whether all went well.
bool runProgram(const QString &name, const QString &path)
{
    QTextStream &out = Bench::out();
    double longest = 0;
    QString longestStep;
    const auto step = [&](const QString &what, const std::function<bool()> &work) {
        timedApp()->reset();
        QElapsedTimer timer;
        timer.start();
        const bool ok = work();
        const double ms = timedApp()->longestMs();
        out << "  " << what << ": " << QString::number(timer.elapsed()) << " ms, longest event "
            << QString::number(ms, 'f', 1) << " ms (" << timedApp()->longestWhat()
            << "), longest in CPU time " << QString::number(timedApp()->longestCpuMs(), 'f', 1)
            << " ms" << (ok ? "" : " FAILED") << Qt::endl;
        if (ms > longest) {
            longest = ms;
            longestStep = what;
        }
        return ok;
    };

    out << name << Qt::endl;
    QPointer<PreviewWindow> window = new PreviewWindow(true);
    MachineProfile machine;
    machine.travel[0] = AxisTravel{0, 150};
    machine.travel[1] = AxisTravel{0, 80};
    machine.travel[2] = AxisTravel{-10, 10};
    machine.rapidRate = 5000;
    machine.acceleration = 500;
    window->setMachineProfile(machine);
    ToolpathView *plot = window->plot();
    auto *text = window->findChild<ProgramTextView *>();
    bool ok = step(QStringLiteral("open, interpret and draw"), [&] {
        QSignalSpy shown(window.data(), &PreviewWindow::programShown);
        window->show();
        window->openLocalFile(path);
        return (!shown.isEmpty() || shown.wait(kWaitMs)) && waitIdle(plot);
    });
    ok &= step(QStringLiteral("ten clicks on the plot"), [&] {
        for (int i = 0; i < 10; ++i) {
            QTest::mouseClick(plot, Qt::LeftButton, {},
                              QPoint(plot->width() * (i + 1) / 12, plot->height() / 2));
            if (!waitIdle(plot))
                return false;
        }
        return true;
    });
    ok &= step(QStringLiteral("zoom in three steps"), [&] {
        for (int i = 0; i < 3; ++i) {
            const QPoint at(plot->width() / 3, plot->height() / 3);
            QWheelEvent wheel(at, plot->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton,
                              Qt::NoModifier, Qt::NoScrollPhase, false);
            QApplication::sendEvent(plot, &wheel);
            plot->repaint();
            if (!waitIdle(plot))
                return false;
        }
        return true;
    });
    ok &= step(QStringLiteral("isometric, front and top views"), [&] {
        for (const auto projection :
             {ToolpathView::Projection::Isometric, ToolpathView::Projection::Front,
              ToolpathView::Projection::Top}) {
            plot->setProjection(projection);
            plot->repaint();
            if (!waitIdle(plot))
                return false;
        }
        return true;
    });
    ok &= step(QStringLiteral("the cursor down twenty lines of text"), [&] {
        text->setFocus();
        text->setCurrentRow(0);
        for (int i = 0; i < 20; ++i) {
            QTest::keyClick(text, Qt::Key_Down);
            QCoreApplication::processEvents();
        }
        return plot->selectedLine() == 20 && waitIdle(plot);
    });
    ok &= step(QStringLiteral("close"), [&] {
        window->close();
        return Bench::runUntil([&] { return window.isNull(); }, kWaitMs);
    });
    const bool met = Bench::judge(QStringLiteral("preview, %1: longest GUI event %2 ms in %3 "
                                                 "(target <= %4 ms)")
                                      .arg(name)
                                      .arg(longest, 0, 'f', 1)
                                      .arg(longestStep)
                                      .arg(kTargetLongestMs),
                                  ok && longest <= kTargetLongestMs);
    return ok && met;
}

} // namespace

int main(int argc, char *argv[])
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    TimedApplication app(argc, argv);
    QTemporaryDir dir;
    const struct
    {
        QString name;
        QByteArray program;
    } programs[] = {
        {QStringLiteral("1,000 helical arcs"), Bench::helicalArcsProgram()},
        {QStringLiteral("1,000,000 lines"), Bench::generatedProgram(1000000)},
        {QStringLiteral("64 MiB of short moves"), Bench::shortMovesProgram(kMaxProgramBytes)},
    };
    // Programs can be picked by a word of their names: arcs, lines, MiB.
    const QStringList picked = app.arguments().mid(1);
    bool allMet = true;
    for (const auto &entry : programs) {
        if (!picked.isEmpty() &&
            std::none_of(picked.begin(), picked.end(),
                         [&](const QString &word) { return entry.name.contains(word); }))
            continue;
        const QString path = dir.filePath(QStringLiteral("program.nc"));
        if (!writeFile(path, entry.program))
            return 1;
        allMet = runProgram(entry.name, path) && allMet;
    }
    Bench::printVerdicts(QStringLiteral("cnc_preview_bench"));
    return allMet ? 0 : 1;
}
