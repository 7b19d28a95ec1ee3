#include "ControllerSession.h"

#include "WindowTestSupport.h"

#include <atomic>

ControllerSession::ControllerSession(const QString &address, const QString &password, int port)
    : m_worker(new CConnectionForSshClient(address, port, password, QStringLiteral("root")))
{
    using Worker = CConnectionForSshClient;
    connect(m_worker, &Worker::sigConnectStateChanged, this,
            &ControllerSession::connectStateChanged, Qt::QueuedConnection);
    connect(m_worker, &Worker::sigDataArrived, this, &ControllerSession::dataArrived,
            Qt::QueuedConnection);
    connect(m_worker, &Worker::sftpChannelInitialized, this,
            &ControllerSession::sftpChannelInitialized, Qt::QueuedConnection);
    connect(m_worker, &Worker::sftpJobFinished, this, &ControllerSession::sftpJobFinished,
            Qt::QueuedConnection);
    connect(m_worker, &Worker::sftpTransferStarted, this, &ControllerSession::sftpTransferStarted,
            Qt::QueuedConnection);
    connect(this, &ControllerSession::sigSend, m_worker, qOverload<QString>(&Worker::slotSend));
    connect(this, &ControllerSession::dataArrived, this, [this](const QString &s) { output += s; });
    connect(this, &ControllerSession::connectStateChanged, this, [this](bool up) {
        if (up)
            m_worker->m_bAutoReconnect = true;
    });
}

ControllerSession::~ControllerSession()
{
    if (!m_started) {
        delete m_worker;
        return;
    }
    followUps.reset();
    if (window)
        window.reset(); // asks the worker's thread to quit
    else if (!watch.gone)
        m_worker->quitThread();
    if (!QTest::qWaitFor([this] { return watch.gone && thread.isNull(); }, 30000))
        qWarning("ControllerSession: the worker or its thread did not delete itself");
}

void ControllerSession::start()
{
    m_worker->init();
    m_started = true;
    thread = m_worker->thread();
}

bool ControllerSession::waitReady(int timeoutMs)
{
    return QTest::qWaitFor(
        [&] {
            const int ups = int(std::count_if(stateSpy.cbegin(), stateSpy.cend(),
                                              [](const auto &a) { return a.at(0).toBool(); }));
            return ups > 0 && stateSpy.last().at(0).toBool() && readySpy.count() >= ups;
        },
        timeoutMs);
}

bool ControllerSession::inWorker(const std::function<void()> &work)
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

QString ControllerSession::shell(const QString &commandLine, int timeoutMs)
{
    // Echoed as typed ("END""_n"), printed as END_n only once the command line has run.
    const QString token = QStringLiteral("END_%1").arg(++m_round);
    const int start = output.size();
    emit sigSend(commandLine + QStringLiteral("; echo \"END\"\"_%1\"\n").arg(m_round));
    if (!QTest::qWaitFor([&] { return countMarkerLines(output.mid(start), token) > 0; }, timeoutMs))
        qWarning("ControllerSession: no end of output for: %s", qPrintable(commandLine));
    return output.mid(start);
}

mainwindow &ControllerSession::open()
{
    if (!m_started)
        start();
    window = std::make_unique<mainwindow>(m_worker);
    followUps = std::make_unique<FollowUpListings>(*window);
    window->show();
    return *window;
}

bool ControllerSession::waitListed(const QStringList &names, int timeoutMs)
{
    QStringList expected = names;
    expected.sort();
    QStringList shown;
    const bool listed = QTest::qWaitFor(
        [&] {
            shown = column(*window);
            shown.sort();
            return button(*window, "m_btnRefresh")->isEnabled() && shown == expected;
        },
        timeoutMs);
    if (!listed)
        qWarning().noquote() << shown.size() << "rows listed of" << expected.size()
                             << "; Refresh on:" << button(*window, "m_btnRefresh")->isEnabled()
                             << "; log ends with" << logLines(*window).mid(logSize() - 5);
    return listed;
}

int ControllerSession::logSize() const
{
    return logLines(*window).size();
}

QStringList ControllerSession::logSince(int mark) const
{
    QStringList lines = logLines(*window).mid(mark);
    lines.erase(std::remove_if(lines.begin(), lines.end(),
                               [](const QString &line) {
                                   return line.startsWith(QLatin1String("Refreshing remote")) ||
                                          line.startsWith(QStringLiteral("正在刷新远程目录"));
                               }),
                lines.end());
    return lines;
}

int countMarkerLines(const QString &output, const QString &marker)
{
    // The terminal wraps lines in control sequences (bracketed paste on and off, carriage
    // returns); what is left of a line printed by echo is the marker alone.
    static const QRegularExpression control(QStringLiteral("\\x1b\\[[0-9;?]*[A-Za-z]|\\r"));
    const QStringList lines = output.split(QLatin1Char('\n'));
    return int(std::count_if(lines.cbegin(), lines.cend(),
                             [&](QString line) { return line.remove(control) == marker; }));
}
