#pragma once

#include "HostKeyCheck.h"
#include "SshConnectionParameters.h"
#include "SshTypes.h"

#include <QObject>
#include <QSharedPointer>

namespace QSsh {

class SftpChannel;
class SshRemoteProcess;
class SshSession;

// One SSH connection with password authentication. Lives in, and must only be used from,
// the thread that owns it; it never blocks that thread: libssh2 runs non-blocking, driven by
// a socket notifier and timers of the owning thread's event loop.
class SshConnection : public QObject
{
    Q_OBJECT
public:
    enum State { Unconnected = 0, Connecting = 1, Connected = 2 };
    Q_ENUM(State)

    explicit SshConnection(const SshConnectionParameters &parameters, QObject *parent = nullptr);
    ~SshConnection() override;

    // Returns at once; connected(), error() or disconnected() follow from the event loop.
    void connectToHost();
    void disconnectFromHost();
    State state() const;
    SshError errorState() const;
    QString errorString() const;
    SshConnectionParameters connectionParameters() const;
    // What the check of the controller's host key found in the current or last attempt; after
    // error(SshHostKeyError), why the key was not accepted.
    HostKeyCheck hostKeyCheck() const;

    // Handles whose deleter destroys the object in its owning thread, so that the last
    // reference may be dropped anywhere. Null when the connection is not up.
    QSharedPointer<SshRemoteProcess> createRemoteShell();
    QSharedPointer<SftpChannel> createSftpChannel();

signals:
    void connected();
    void disconnected();
    void error(QSsh::SshError);

private:
    SshSession *m_session = nullptr;
};

} // namespace QSsh
