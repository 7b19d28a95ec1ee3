#include "WorkerHarness.h"

#include <QLoggingCategory>
#include <QMutex>
#include <QMutexLocker>
#include <QRegularExpression>
#include <QTest>
#include <QThread>

#include <atomic>

namespace {

QMutex g_logMutex;
QList<ConnectionLog::Line> g_lines;
QtMessageHandler g_previousHandler = nullptr;

void captureMessage(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (context.category && qstrcmp(context.category, "cnc.connection") == 0) {
        const QMutexLocker locker(&g_logMutex);
        g_lines.append({message, QThread::currentThread()});
        if (type == QtDebugMsg)
            return;
    }
    if (g_previousHandler)
        g_previousHandler(type, context, message);
}

} // namespace

namespace ConnectionLog {

void install()
{
    QLoggingCategory::setFilterRules(QStringLiteral("cnc.connection.debug=true"));
    if (!g_previousHandler)
        g_previousHandler = qInstallMessageHandler(captureMessage);
}

void clear()
{
    const QMutexLocker locker(&g_logMutex);
    g_lines.clear();
}

QList<Line> lines()
{
    const QMutexLocker locker(&g_logMutex);
    return g_lines;
}

int count(const QString &text)
{
    const QMutexLocker locker(&g_logMutex);
    return static_cast<int>(std::count_if(g_lines.cbegin(), g_lines.cend(),
                                          [&](const Line &l) { return l.text == text; }));
}

bool contains(const QString &text)
{
    return count(text) > 0;
}

} // namespace ConnectionLog

const QString WorkerHarness::kPassword = QStringLiteral("qzmtrvlakepondsix");

WorkerHarness::WorkerHarness(const QString &ip, const QString &password)
    : m_worker(new CConnectionForSshClient(ip, 22, password, QStringLiteral("root")))
{
    // Queued like the window's connections: the relayed signals are emitted in this thread.
    connect(m_worker, &CConnectionForSshClient::sigConnectStateChanged, this,
            &WorkerHarness::connectStateChanged, Qt::QueuedConnection);
    connect(m_worker, &CConnectionForSshClient::sigDataArrived, this, &WorkerHarness::dataArrived,
            Qt::QueuedConnection);
    connect(m_worker, &CConnectionForSshClient::sftpChannelInitialized, this,
            &WorkerHarness::sftpChannelInitialized, Qt::QueuedConnection);
    connect(m_worker, &CConnectionForSshClient::sftpJobFinished, this,
            &WorkerHarness::sftpJobFinished, Qt::QueuedConnection);
    connect(
        m_worker, &QObject::destroyed, this, [this] { m_destroyed = true; }, Qt::QueuedConnection);
    connect(this, &WorkerHarness::sigSend, m_worker,
            qOverload<QString>(&CConnectionForSshClient::slotSend));

    connect(this, &WorkerHarness::connectStateChanged, this,
            [this](bool bState) { events << QStringLiteral("state:%1").arg(bState); });
    connect(this, &WorkerHarness::dataArrived, this, [this](const QString &strMsg) {
        m_output += strMsg;
        events << QStringLiteral("data:") + strMsg;
    });
    connect(this, &WorkerHarness::sftpChannelInitialized, this,
            [this] { events << QStringLiteral("sftp-ready"); });
    connect(this, &WorkerHarness::sftpJobFinished, this,
            [this](QSsh::SftpJobId job, const QString &error) {
                events << QStringLiteral("job:%1:%2").arg(job).arg(error);
            });
}

WorkerHarness::~WorkerHarness()
{
    if (m_destroyed && m_thread.isNull())
        return;
    if (!m_destroyed && m_worker->thread() == thread()) { // never started
        delete m_worker;
        return;
    }
    if (!m_destroyed)
        m_worker->quitThread();
    if (!QTest::qWaitFor([this] { return m_destroyed && m_thread.isNull(); }, 30000))
        qWarning("WorkerHarness: the worker or its thread did not delete itself");
}

QString WorkerHarness::key() const
{
    return m_worker->m_strIp + QLatin1Char(':') + QString::number(m_worker->m_nPort);
}

void WorkerHarness::start()
{
    m_worker->init();
    m_thread = m_worker->thread();
}

bool WorkerHarness::waitReady(int timeoutMs)
{
    // Every successful connection brings a new shell and a new SFTP channel.
    const QString shellStarted =
        QStringLiteral("CConnectionForSshClient::slotShellStart Shell已连接: ") + key();
    return QTest::qWaitFor(
        [&] {
            const int connections =
                static_cast<int>(std::count_if(stateSpy.cbegin(), stateSpy.cend(),
                                               [](const auto &a) { return a.at(0).toBool(); }));
            return connections > 0 && stateSpy.last().at(0).toBool() &&
                   ConnectionLog::count(shellStarted) >= connections &&
                   sftpReadySpy.count() >= connections;
        },
        timeoutMs);
}

bool WorkerHarness::inWorker(const std::function<void()> &work)
{
    std::atomic<bool> done{false};
    // The reply travels the same way as the worker's signals, so it arrives after them.
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
    // The shell echoes the command as typed ("END""_n") but prints END_n only when it runs.
    const QString token = QStringLiteral("END_%1").arg(++m_shellRound);
    const int start = m_output.size();
    emit sigSend(commandLine + QStringLiteral("; echo \"END\"\"_%1\"\n").arg(m_shellRound));
    if (!QTest::qWaitFor([&] { return countMarkerLines(m_output.mid(start), token) > 0; },
                         timeoutMs))
        qWarning("WorkerHarness: no end of output for: %s", qPrintable(commandLine));
    return m_output.mid(start);
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
