#include "SftpClientSession.h"

#include "BenchSupport.h"
#include "SimController.h"

#include <QElapsedTimer>

namespace Bench {

namespace {

// What sftp prints for pwd.
const QByteArray kMarker = QByteArrayLiteral("Remote working directory");

} // namespace

SftpClientSession::SftpClientSession(const QString &host, int port) : m_host(host), m_port(port)
{
    m_sftp.setProcessChannelMode(QProcess::MergedChannels);
}

SftpClientSession::~SftpClientSession()
{
    if (m_sftp.state() == QProcess::NotRunning)
        return;
    m_sftp.closeWriteChannel(); // the end of its batch ends sftp
    if (!m_sftp.waitForFinished(10000)) {
        m_sftp.kill();
        m_sftp.waitForFinished();
    }
}

bool SftpClientSession::start(int timeoutMs)
{
    // "-b -" reads the batch from standard input; -b implies BatchMode, which refuses password
    // logins unless turned off first.
    m_sftp.start(
        QStringLiteral("sshpass"),
        QStringList{QStringLiteral("-p"), SimController::rootPassword(), QStringLiteral("sftp"),
                    QStringLiteral("-q"), QStringLiteral("-o"), QStringLiteral("BatchMode=no")} +
            openSshOptions() +
            QStringList{QStringLiteral("-P"), QString::number(m_port), QStringLiteral("-b"),
                        QStringLiteral("-"), QStringLiteral("root@") + m_host});
    return m_sftp.waitForStarted(timeoutMs) && runToMarker(QString(), timeoutMs);
}

qint64 SftpClientSession::run(const QString &commands, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    return runToMarker(commands, timeoutMs) ? clock.elapsed() : -1;
}

bool SftpClientSession::runToMarker(const QString &commands, int timeoutMs)
{
    m_output.clear();
    if (m_sftp.state() != QProcess::Running ||
        m_sftp.write((commands + QStringLiteral("pwd\n")).toUtf8()) < 0)
        return false;
    QElapsedTimer clock;
    clock.start();
    while (!m_output.contains(kMarker)) {
        const qint64 left = timeoutMs - clock.elapsed();
        if (left <= 0 || m_sftp.state() != QProcess::Running)
            return false;
        m_sftp.waitForReadyRead(int(qMin<qint64>(left, 1000)));
        m_output += m_sftp.readAll();
    }
    return true;
}

} // namespace Bench
