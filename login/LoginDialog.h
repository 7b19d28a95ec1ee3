#pragma once

#include "HostKeyReport.h"

#include <QDialog>
#include <QList>
#include <QLoggingCategory>
#include <QPointer>
#include <QString>

class AddressBookPanel;
class CConnectionForSshClient;
class QLabel;
class QLineEdit;
class QPushButton;
class QThread;
class QTimer;

Q_DECLARE_LOGGING_CATEGORY(lcLogin)

// The modal dialog shown before anything else: the operator types the controller's address and
// presses Connect; the dialog starts a connection worker for it and waits for the worker's first
// report. Success stores the address and accepts the dialog, and start-up takes the worker over
// through connectionWorker(). A failure report or 15 s without one shows a message box and
// abandons that worker; the next press of Connect starts a new one. A controller whose host key
// is refused, or a known-hosts file that cannot be read, fails the attempt with a box of its own
// instead of the failure box.
//
// Below, the address book (AddressBookPanel) proposes the controllers used before; a
// successful login records its address there as well.
//
// Every text follows isEnglish() at the moment it is chosen. The input field, the button, the
// status line and the time-out timer carry their member names as object names.
class LoginDialog : public QDialog
{
    Q_OBJECT
public:
    explicit LoginDialog(QWidget *parent = nullptr);
    ~LoginDialog() override;

    // The worker of the attempt under way or of the successful one; null when there is none.
    CConnectionForSshClient *connectionWorker() const;
    // The host key the successful attempt recorded for a new address, for the main window's
    // operation log; empty when the key was already on record.
    QList<HostKeyReport> recordedHostKeys() const { return m_recordedHostKeys; }

private slots:
    void attemptConnection();
    void onConnectionStateChanged(bool bState, QString strIp, int nPort);
    void onConnectionTimeout();
    void onHostKeyChecked(HostKeyReport report);

private:
    void setupUi();
    bool isReportOfAttempt(const QString &strIp) const;
    void failAttempt();
    void abandonAttempt();

    QLineEdit *m_ipEdit = nullptr;
    QPushButton *m_connectButton = nullptr;
    QLabel *m_statusLabel = nullptr;
    AddressBookPanel *m_addressBook = nullptr;
    // The worker deletes itself once its thread has finished; the guard turns null then.
    QPointer<CConnectionForSshClient> m_pConnection;
    QString m_strIp;
    QTimer *m_timeoutTimer = nullptr;
    // The thread of the current or successful worker. Unlike the worker, it is deleted in this
    // thread only, so it can be asked to quit even when the worker may be going away.
    QPointer<QThread> m_workerThread;
    QList<HostKeyReport> m_recordedHostKeys;
};
