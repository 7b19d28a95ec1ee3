#pragma once

#include <QString>
#include <QtGlobal>

namespace QSsh {

class SshConnectionParameters
{
public:
    enum AuthenticationType {
        AuthenticationTypePassword = 0,
    };

    void setHost(const QString &h) { host = h; }
    void setUserName(const QString &name) { userName = name; }
    void setPassword(const QString &pwd) { password = pwd; }
    void setPort(quint16 p) { port = p; }

    QString host;
    QString userName;
    QString password;
    quint16 port = 22;
    int timeout = 10; // seconds for TCP connect, handshake and authentication together
    AuthenticationType authenticationType = AuthenticationTypePassword;
    // A silent peer is declared dead after this many seconds without an answer to keepalives.
    int deadPeerTimeout = 15;
    // The OpenSSH known-hosts file that holds the controller's host key. A new address has its
    // key added; a key that differs from the recorded one, a file that cannot be read, or no
    // file set at all end the attempt with SshHostKeyError before the password is sent.
    QString knownHostsFile;
};

} // namespace QSsh
