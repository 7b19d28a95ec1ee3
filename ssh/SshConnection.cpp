#include "SshConnection.h"

#include "SftpChannel.h"
#include "SshHandle.h"
#include "SshRemoteProcess.h"
#include "SshSession.h"

namespace QSsh {

SshConnection::SshConnection(const SshConnectionParameters &parameters, QObject *parent)
    : QObject(parent), m_session(new SshSession(parameters, this))
{
    registerMetaTypes();
    connect(m_session, &SshSession::connected, this, &SshConnection::connected);
    connect(m_session, &SshSession::disconnected, this, &SshConnection::disconnected);
    connect(m_session, &SshSession::error, this, &SshConnection::error);
}

SshConnection::~SshConnection()
{
    // Frees every libssh2 object here, in the owning thread; channels and processes that
    // outlive the connection are detached and fail their calls from now on.
    delete m_session;
}

void SshConnection::connectToHost()
{
    m_session->connectToHost();
}

void SshConnection::disconnectFromHost()
{
    m_session->disconnectFromHost();
}

SshConnection::State SshConnection::state() const
{
    return m_session->state();
}

SshError SshConnection::errorState() const
{
    return m_session->errorState();
}

QString SshConnection::errorString() const
{
    return m_session->errorString();
}

SshConnectionParameters SshConnection::connectionParameters() const
{
    return m_session->parameters();
}

HostKeyCheck SshConnection::hostKeyCheck() const
{
    return m_session->hostKeyCheck();
}

QSharedPointer<SshRemoteProcess> SshConnection::createRemoteShell()
{
    if (state() != Connected)
        return {};
    return Internal::makeThreadSafeHandle(m_session->createRemoteShell());
}

QSharedPointer<SftpChannel> SshConnection::createSftpChannel()
{
    if (state() != Connected)
        return {};
    return Internal::makeThreadSafeHandle(m_session->createSftpChannel());
}

} // namespace QSsh
