#pragma once

#include <QElapsedTimer>
#include <QString>

#include <atomic>
#include <memory>

class CConnectionForSshClient;
class QPushButton;
class QStandardItemModel;
class mainwindow;

namespace Bench {

// The main window with a connection worker of its own, as the program runs them, for the
// listing benchmarks. Times are nanoseconds on the given clock.
class BenchWindow
{
public:
    BenchWindow(const QString &host, int port, const QElapsedTimer &clock);
    ~BenchWindow(); // closes the window; the worker then deletes itself
    BenchWindow(const BenchWindow &) = delete;
    BenchWindow &operator=(const BenchWindow &) = delete;

    // Waits for the worker and the window's first listing (of the root), then lists folder,
    // an entry of the root with that many entries; false, with the reason, on failure.
    bool open(const QString &folder, int entries, QString *error);

    struct Refresh
    {
        qint64 clickAt = -1;
        qint64 lastPieceAt = -1; // the last piece of shell output
        qint64 filledAt = -1;    // the listing in the model, Refresh enabled again
        qint64 paintedAt = -1;   // the list painted after that
    };
    // Clicks Refresh and runs the event loop, as the program does, until the list is filled
    // (and painted, if asked) with the folder's entries; false on a time-out.
    bool refresh(bool painted, Refresh *times);

private:
    class Watcher;

    const QElapsedTimer &m_clock;
    CConnectionForSshClient *const m_worker;
    std::atomic<qint64> m_lastPieceAt{-1};
    std::atomic<bool> m_ready{false};
    std::unique_ptr<mainwindow> m_window;
    QStandardItemModel *m_model = nullptr;
    QPushButton *m_refresh = nullptr;
    std::unique_ptr<Watcher> m_watcher;
    int m_rows = 0;
};

} // namespace Bench
