#pragma once

// The main window without a controller: shell output is handed to it piece by piece as the
// worker would deliver it, and the commands it sends are caught.

#include "CConnectionForSshClient.h"
#include "ControllerShell.h"
#include "ListingFixtures.h"
#include "WindowTestSupport.h"
#include "mainwindow.h"

#include <QPushButton>
#include <QSignalSpy>
#include <QStandardItemModel>
#include <QTest>

inline const QString kRoot = QStringLiteral("/home/pi/cnc/");

// A listing of `dir` as the controller prints it: echo, two folders, three files, prompt.
inline QString listingOutput(const QString &dir)
{
    QString text = ControllerShell::listingCommand(dir);
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return text +
           QStringLiteral("\x1B[?2004l\rtotal 8\r\n"
                          "drwxr-xr-x 2 root root 4096 2026-01-02 10:00:00 .\r\n"
                          "drwxr-xr-x 2 root root 4096 2026-01-01 10:00:00 jobs\r\n"
                          "drwxr-xr-x 2 root root 4096 2026-01-03 10:00:00 old\r\n"
                          "-rw-r--r-- 1 root root   10 2026-01-01 10:00:00 a.nc\r\n"
                          "-rw-r--r-- 1 root root 2048 2026-01-04 10:00:00 b.nc\r\n"
                          "-rw-r--r-- 1 root root   30 2026-01-02 10:00:00 c.nc\r\n"
                          "\x1B[?2004h") +
           kPrompt;
}

// Single-shot timers of the window may fire up to 5 % early (coarse timers); lower bounds on
// waits leave that room.
class Window
{
public:
    void feed(const QString &piece)
    {
        if (piece.isEmpty()) // the worker forwards no empty pieces
            return;
        QVERIFY(QMetaObject::invokeMethod(&window, "slotDataArrived", Q_ARG(QString, piece),
                                          Q_ARG(QString, QString()), Q_ARG(int, 22)));
    }
    void call(const char *slot) { QVERIFY(QMetaObject::invokeMethod(&window, slot)); }
    void doubleClick(const QString &name)
    {
        QVERIFY(QMetaObject::invokeMethod(&window, "onRemoteDoubleClicked",
                                          Q_ARG(QModelIndex, model()->index(rowOf(name), 0))));
    }
    void setConnected(bool state)
    {
        QVERIFY(QMetaObject::invokeMethod(&window, "slotConnectStateChanged", Q_ARG(bool, state),
                                          Q_ARG(QString, QString()), Q_ARG(int, 22)));
    }
    template <typename T> T *part(const char *name) const
    {
        return window.findChild<T *>(QLatin1String(name));
    }
    QStandardItemModel *model() const { return part<QStandardItemModel>("m_model"); }
    bool refreshEnabled() const { return part<QPushButton>("m_btnRefresh")->isEnabled(); }
    QString log() const { return WindowTestSupport::logText(window); }
    QStringList column(int column) const
    {
        QStringList texts;
        for (int row = 0; row < model()->rowCount(); ++row)
            texts << model()->item(row, column)->text();
        return texts;
    }
    int rowOf(const QString &name) const { return column(0).indexOf(name); }
    QString lastCommand() const { return sent.isEmpty() ? QString() : sent.last()[0].toString(); }
    // Answers the listing of `dir` that the window must have asked for.
    void list(const QString &dir)
    {
        QCOMPARE(lastCommand(), ControllerShell::listingCommand(dir));
        feed(listingOutput(dir));
        QVERIFY(refreshEnabled());
    }

    // Never started: it only gives the window its wiring and timers.
    CConnectionForSshClient worker{QStringLiteral("127.0.0.1"), 22, QString(),
                                   QStringLiteral("root")};
    mainwindow window{&worker};
    QSignalSpy sent{&window, &mainwindow::sigSend};
};
