#include "MultiplexedSsh.h"

#include "BenchSupport.h"
#include "SimController.h"

#include <QElapsedTimer>
#include <QtTest/qtestsystem.h>

namespace Bench {

MultiplexedSsh::MultiplexedSsh(const Endpoint &endpoint, const QString &socket)
    : m_endpoint(endpoint),
      m_options(openSshOptions() +
                QStringList{QStringLiteral("-o"), QStringLiteral("ControlPath=") + socket,
                            QStringLiteral("-p"), QString::number(endpoint.port)})
{}

MultiplexedSsh::~MultiplexedSsh()
{
    if (m_master.state() == QProcess::NotRunning)
        return;
    control(QStringLiteral("exit"));
    if (!m_master.waitForFinished(10000))
        m_master.kill();
    m_master.waitForFinished();
}

bool MultiplexedSsh::start()
{
    m_master.setStandardOutputFile(QProcess::nullDevice());
    m_master.start(
        QStringLiteral("sshpass"),
        QStringList{QStringLiteral("-p"), SimController::rootPassword(), QStringLiteral("ssh")} +
            m_options +
            QStringList{QStringLiteral("-o"), QStringLiteral("ControlMaster=yes"),
                        QStringLiteral("-N"), QStringLiteral("root@") + m_endpoint.host});
    return QTest::qWaitFor(
        [&] { return m_master.state() == QProcess::Running && control(QStringLiteral("check")); },
        30000);
}

qint64 MultiplexedSsh::run(const QString &command, int minimumLines, bool terminal)
{
    QProcess ssh;
    QElapsedTimer clock;
    clock.start();
    ssh.start(QStringLiteral("ssh"),
              m_options + (terminal ? QStringList{QStringLiteral("-tt")} : QStringList()) +
                  QStringList{QStringLiteral("-o"), QStringLiteral("ControlMaster=no"),
                              QStringLiteral("root@") + m_endpoint.host, command});
    QByteArray output;
    while (ssh.state() != QProcess::NotRunning && clock.elapsed() < 60000) {
        ssh.waitForReadyRead(100);
        output += ssh.readAllStandardOutput();
    }
    output += ssh.readAllStandardOutput();
    const qint64 ms = clock.elapsed();
    return ssh.exitCode() == 0 && output.count('\n') >= minimumLines ? ms : -1;
}

bool MultiplexedSsh::control(const QString &request)
{
    QProcess ssh;
    ssh.setStandardOutputFile(QProcess::nullDevice());
    ssh.setStandardErrorFile(QProcess::nullDevice());
    ssh.start(QStringLiteral("ssh"),
              m_options + QStringList{QStringLiteral("-O"), request,
                                      QStringLiteral("root@") + m_endpoint.host});
    return ssh.waitForFinished(10000) && ssh.exitStatus() == QProcess::NormalExit &&
           ssh.exitCode() == 0;
}

} // namespace Bench
