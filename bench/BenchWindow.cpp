#include "BenchWindow.h"

#include "CConnectionForSshClient.h"
#include "SimController.h"
#include "mainwindow.h"

#include <QEvent>
#include <QEventLoop>
#include <QPointer>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTimer>
#include <QTreeView>
#include <QtTest/qtestsystem.h>

namespace Bench {

// Notes when the Refresh button comes back (the listing is in the model) and the first paint
// of the list after it, and ends the wait then.
class BenchWindow::Watcher : public QObject
{
public:
    Watcher(const QElapsedTimer &clock, QPushButton *refresh, QWidget *viewport)
        : m_clock(clock), m_refresh(refresh), m_viewport(viewport)
    {
        refresh->installEventFilter(this);
        viewport->installEventFilter(this);
    }
    void arm(Refresh *times, QEventLoop *loop, bool painted)
    {
        m_times = times;
        m_loop = loop;
        m_painted = painted;
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!m_times)
            return false;
        if (watched == m_refresh && event->type() == QEvent::EnabledChange &&
            m_refresh->isEnabled() && m_times->filledAt < 0) {
            m_times->filledAt = m_clock.nsecsElapsed();
            if (!m_painted)
                m_loop->quit();
        }
        if (watched == m_viewport && event->type() == QEvent::Paint && m_times->filledAt >= 0 &&
            m_times->paintedAt < 0) {
            m_times->paintedAt = m_clock.nsecsElapsed();
            m_loop->quit();
        }
        return false;
    }

private:
    const QElapsedTimer &m_clock;
    QPushButton *const m_refresh;
    QWidget *const m_viewport;
    Refresh *m_times = nullptr;
    QEventLoop *m_loop = nullptr;
    bool m_painted = false;
};

BenchWindow::BenchWindow(const QString &host, int port, const QElapsedTimer &clock)
    : m_clock(clock), m_worker(new CConnectionForSshClient(
                          host, port, SimController::rootPassword(), QStringLiteral("root")))
{
    QObject::connect(
        m_worker, &CConnectionForSshClient::sigDataArrived, m_worker,
        [this] { m_lastPieceAt = m_clock.nsecsElapsed(); }, Qt::DirectConnection);
    QObject::connect(
        m_worker, &CConnectionForSshClient::sftpChannelInitialized, m_worker,
        [this] { m_ready = true; }, Qt::DirectConnection);
    m_worker->init();
}

BenchWindow::~BenchWindow()
{
    m_watcher.reset();
    const QPointer<CConnectionForSshClient> worker = m_worker;
    if (m_window)
        m_window.reset(); // its end asks the worker's thread to quit
    else
        m_worker->quitThread();
    // The worker deletes itself once its thread has finished.
    if (!QTest::qWaitFor([&] { return worker.isNull(); }, 20000))
        qWarning("BenchWindow: the worker did not end after the window closed");
}

bool BenchWindow::open(const QString &folder, int entries, QString *error)
{
    // As at a login: the window comes once the worker is ready.
    if (!QTest::qWaitFor([&] { return m_ready.load(); }, 30000)) {
        *error = QStringLiteral("the window's worker did not get ready");
        return false;
    }
    m_window = std::make_unique<mainwindow>(m_worker);
    m_model = m_window->findChild<QStandardItemModel *>(QStringLiteral("m_model"));
    m_refresh = m_window->findChild<QPushButton *>(QStringLiteral("m_btnRefresh"));
    auto *view = m_window->findChild<QTreeView *>(QStringLiteral("m_treeView"));
    m_watcher = std::make_unique<Watcher>(m_clock, m_refresh, view->viewport());
    m_window->show();
    if (!QTest::qWaitFor(
            [&] { return m_refresh->isEnabled() && !m_model->findItems(folder).isEmpty(); },
            30000)) {
        *error = QStringLiteral("the first listing did not arrive");
        return false;
    }
    QMetaObject::invokeMethod(m_window.get(), "onRemoteDoubleClicked",
                              Q_ARG(QModelIndex, m_model->findItems(folder).at(0)->index()));
    m_rows = entries + 1; // and the row that leads back up
    if (!QTest::qWaitFor([&] { return m_refresh->isEnabled() && m_model->rowCount() == m_rows; },
                         60000)) {
        *error = QStringLiteral("the listing of %1 did not arrive").arg(folder);
        return false;
    }
    return true;
}

bool BenchWindow::refresh(bool painted, Refresh *times)
{
    // A real event loop: a wait that sleeps between its looks would hold back the pieces of
    // output that arrive meanwhile.
    QEventLoop loop;
    *times = Refresh();
    m_watcher->arm(times, &loop, painted);
    QTimer::singleShot(60000, &loop, &QEventLoop::quit);
    times->clickAt = m_clock.nsecsElapsed();
    m_refresh->click();
    loop.exec();
    m_watcher->arm(nullptr, nullptr, false);
    times->lastPieceAt = m_lastPieceAt;
    return times->filledAt >= 0 && (!painted || times->paintedAt >= 0) &&
           m_model->rowCount() == m_rows;
}

} // namespace Bench
