#include "WorkerHarness.h"

#include <QLoggingCategory>
#include <QMutex>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

#include <atomic>

namespace {

QMutex g_logMutex;
QList<LogLine> g_log;
QtMessageHandler g_previousHandler = nullptr;

void captureMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtDebugMsg && qstrcmp(context.category, "cnc.connection") == 0) {
        const QMutexLocker locker(&g_logMutex);
        g_log.append({message, QThread::currentThread()});
    } else {
        g_previousHandler(type, context, message);
    }
}

} // namespace

void captureConnectionLog()
{
    QLoggingCategory::setFilterRules(QStringLiteral("cnc.connection.debug=true"));
    g_previousHandler = qInstallMessageHandler(captureMessage);
}

QList<LogLine> connectionLog(bool clear)
{
    const QMutexLocker locker(&g_logMutex);
    return clear ? std::exchange(g_log, {}) : g_log;
}

int countLogLines(const QList<LogLine> &log, const QString &text)
{
    return static_cast<int>(
        std::count_if(log.cbegin(), log.cend(), [&](const LogLine &l) { return l.text == text; }));
}

WorkerHarness::WorkerHarness(const QString &ip, const QString &password, int port)
    : m_worker(new CConnectionForSshClient(ip, port, password, QStringLiteral("root")))
{
    connect(m_worker, &CConnectionForSshClient::sigConnectStateChanged, this,
            &WorkerHarness::connectStateChanged, Qt::QueuedConnection);
    connect(m_worker, &CConnectionForSshClient::sigDataArrived, this, &WorkerHarness::dataArrived,
            Qt::QueuedConnection);
    connect(m_worker, &CConnectionForSshClient::sftpChannelInitialized, this,
            &WorkerHarness::sftpChannelInitialized, Qt::QueuedConnection);
    connect(m_worker, &CConnectionForSshClient::sftpJobFinished, this,
            &WorkerHarness::sftpJobFinished, Qt::QueuedConnection);
    connect(m_worker, &CConnectionForSshClient::sftpTransferStarted, this,
            &WorkerHarness::sftpTransferStarted, Qt::QueuedConnection);
    connect(m_worker, &CConnectionForSshClient::sigRenameFinished, this,
            &WorkerHarness::sigRenameFinished, Qt::QueuedConnection);
    connect(this, &WorkerHarness::sigSend, m_worker,
            qOverload<QString>(&CConnectionForSshClient::slotSend));
    connect(this, &WorkerHarness::dataArrived, this, [this](const QString &s) { output += s; });
}

WorkerHarness::~WorkerHarness()
{
    if (!m_started) {
        delete m_worker;
        return;
    }
    if (!workerWatch.gone)
        m_worker->quitThread();
    if (!QTest::qWaitFor([this] { return workerWatch.gone && thread.isNull(); }, 30000))
        qWarning("WorkerHarness: the worker or its thread did not delete itself");
}

void WorkerHarness::start()
{
    m_worker->init();
    m_started = true;
    thread = m_worker->thread();
}

bool WorkerHarness::waitReady(int timeoutMs)
{
    const QString shellStarted = "CConnectionForSshClient::slotShellStart Shell已连接: " + key();
    return QTest::qWaitFor(
        [&] {
            const int shells = countLogLines(connectionLog(), shellStarted);
            const int connections =
                static_cast<int>(std::count_if(stateSpy.cbegin(), stateSpy.cend(),
                                               [](const auto &a) { return a.at(0).toBool(); }));
            return connections > 0 && stateSpy.last().at(0).toBool() && shells >= connections &&
                   sftpReadySpy.count() >= connections;
        },
        timeoutMs);
}

bool WorkerHarness::inWorker(const std::function<void()> &work)
{
    std::atomic<bool> done{false};
    // The reply travels behind the worker's own signals, so it arrives after them.
    QMetaObject::invokeMethod(
        m_worker,
        [&] {
            work();
            QMetaObject::invokeMethod(
                this, [&] { done = true; }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    return QTest::qWaitFor([&] { return done.load(); }, 30000);
}

QString WorkerHarness::shell(const QString &commandLine, int timeoutMs)
{
    // Echoed as typed ("END""_n"), printed as END_n only once the command line has run.
    const QString token = QStringLiteral("END_%1").arg(++m_round);
    const int start = output.size();
    emit sigSend(commandLine + QStringLiteral("; echo \"END\"\"_%1\"\n").arg(m_round));
    if (!QTest::qWaitFor([&] { return countMarkerLines(output.mid(start), token) > 0; }, timeoutMs))
        qWarning("WorkerHarness: no end of output for: %s", qPrintable(commandLine));
    return output.mid(start);
}

int countMarkerLines(const QString &output, const QString &marker)
{
    // The terminal wraps lines in control sequences (bracketed paste on and off, carriage
    // returns); what is left of a line printed by echo is the marker alone.
    static const QRegularExpression control(QStringLiteral("\\x1b\\[[0-9;?]*[A-Za-z]|\\r"));
    const QStringList lines = output.split(QLatin1Char('\n'));
    return static_cast<int>(std::count_if(lines.cbegin(), lines.cend(), [&](QString line) {
        return line.remove(control) == marker;
    }));
}
