#include "ControllerWindows.h"

#include "LoginDialog.h"
#include "mainwindow.h"

ControllerWindows::ControllerWindows(QObject *parent) : QObject(parent) {}

ControllerWindows::~ControllerWindows()
{
    for (const QPointer<mainwindow> &window : qAsConst(m_windows))
        delete window.data();
}

bool ControllerWindows::openFirst()
{
    auto *dialog = new LoginDialog;
    if (dialog->exec() != QDialog::Accepted) {
        delete dialog;
        return false;
    }
    openWindow(dialog);
    return true;
}

void ControllerWindows::openAnother()
{
    auto *dialog = new LoginDialog;
    connect(dialog, &QDialog::finished, this, [this, dialog](int result) {
        if (result == QDialog::Accepted)
            openWindow(dialog);
        else
            dialog->deleteLater();
    });
    dialog->open();
}

void ControllerWindows::openWindow(LoginDialog *dialog)
{
    auto *window = new mainwindow(dialog->connectionWorker());
    window->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setParent(window, dialog->windowFlags());
    // A key recorded during the login is told once the operation log exists.
    for (const HostKeyReport &key : dialog->recordedHostKeys())
        window->logRecordedHostKey(key);
    connect(window, &mainwindow::anotherControllerRequested, this, &ControllerWindows::openAnother);
    m_windows.removeAll(nullptr);
    m_windows.append(window);
    window->show();
}
