#pragma once

#include <QList>
#include <QObject>
#include <QPointer>

class LoginDialog;
class mainwindow;

// The program's windows, one a controller, each with the worker its login started. The first
// login runs modally; "Connect to another controller…" in any window opens the login dialog
// again, and its success a window of its own beside the others.
//
// A window owns the dialog that made its worker: the window's destructor asks the worker's
// thread to quit before the dialog, deleted with the window's children, lets go of it.
class ControllerWindows : public QObject
{
    Q_OBJECT
public:
    explicit ControllerWindows(QObject *parent = nullptr);
    ~ControllerWindows() override;

    // The first login; false when the operator closed the dialog without connecting.
    bool openFirst();
    // Another login, without blocking the windows open already.
    void openAnother();

private:
    void openWindow(LoginDialog *dialog);

    QList<QPointer<mainwindow>> m_windows;
};
