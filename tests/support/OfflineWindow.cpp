#include "OfflineWindow.h"

#include "ControllerShell.h"
#include "WindowTestSupport.h"

OfflineWindow::OfflineWindow()
    : worker(QStringLiteral("127.0.0.1"), 22, QString(), QStringLiteral("root"))
{}

void OfflineWindow::feed(const QString &piece)
{
    if (!piece.isEmpty()) // the worker forwards no empty pieces
        QVERIFY(QMetaObject::invokeMethod(&window, "slotDataArrived", Q_ARG(QString, piece),
                                          Q_ARG(QString, QString()), Q_ARG(int, 22)));
}

void OfflineWindow::call(const char *slot)
{
    QVERIFY(QMetaObject::invokeMethod(&window, slot));
}

void OfflineWindow::setConnected(bool state)
{
    QVERIFY(QMetaObject::invokeMethod(&window, "slotConnectStateChanged", Q_ARG(bool, state),
                                      Q_ARG(QString, QStringLiteral("127.0.0.1")), Q_ARG(int, 22)));
}

QString OfflineWindow::lastCommand() const
{
    return sent.isEmpty() ? QString() : sent.last().at(0).toString();
}

bool OfflineWindow::refreshEnabled() const
{
    return button(window, "m_btnRefresh")->isEnabled();
}

void OfflineWindow::list(const QString &dir)
{
    QCOMPARE(lastCommand(), ControllerShell::listingCommand(dir));
    feed(listingOutput(dir));
    QVERIFY(refreshEnabled());
}

QString OfflineWindow::listingOutput(const QString &dir)
{
    QString echo = ControllerShell::listingCommand(dir);
    echo.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return echo +
           QStringLiteral("\x1B[?2004l\rtotal 8\r\n"
                          "drwxr-xr-x 2 root root 4096 2026-01-02 10:00:00 .\r\n"
                          "drwxr-xr-x 2 root root 4096 2026-01-01 10:00:00 jobs\r\n"
                          "drwxr-xr-x 2 root root 4096 2026-01-03 10:00:00 old\r\n"
                          "-rw-r--r-- 1 root root   10 2026-01-01 10:00:00 a.nc\r\n"
                          "-rw-r--r-- 1 root root 2048 2026-01-04 10:00:00 b.nc\r\n"
                          "-rw-r--r-- 1 root root   30 2026-01-02 10:00:00 c.nc\r\n"
                          "\x1B[?2004h") +
           ControllerShell::prompt();
}
