#include "runApplication.h"

#include "LoginDialog.h"
#include "mainwindow.h"

#include <QApplication>

int runApplication(QApplication &app)
{
    // Declared before the window so that it is destroyed after it: the window's destructor asks
    // the worker's thread to quit first, then the dialog lets go of the worker it still holds.
    LoginDialog dialog;
    if (dialog.exec() != QDialog::Accepted)
        return 0;

    mainwindow window(dialog.connectionWorker());
    // A key recorded during the login is told once the operation log exists.
    for (const HostKeyReport &key : dialog.recordedHostKeys())
        window.logRecordedHostKey(key);
    window.show();
    return app.exec();
}
