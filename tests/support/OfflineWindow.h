#pragma once

#include "CConnectionForSshClient.h"
#include "mainwindow.h"

#include <QSignalSpy>

// The main window without a controller: shell output is handed to it piece by piece as the
// worker delivers it, and the commands it sends are caught.
class OfflineWindow
{
public:
    OfflineWindow();
    void feed(const QString &piece);
    void call(const char *slot);
    void setConnected(bool state);
    QString lastCommand() const;
    bool refreshEnabled() const;
    // Answers the listing of `dir` that the window must have asked for: two folders, three
    // files.
    void list(const QString &dir);
    static QString listingOutput(const QString &dir);

    CConnectionForSshClient worker; // never started: it gives the window its wiring
    mainwindow window{&worker};
    QSignalSpy sent{&window, &mainwindow::sigSend};
};
