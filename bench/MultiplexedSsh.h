#pragma once

#include "LinkProfile.h"

#include <QProcess>
#include <QString>
#include <QStringList>

namespace Bench {

// OpenSSH's ssh running commands over a connection that is already open (a multiplexing
// master started first), so that a command's time holds no login, as none of this program's
// requests does.
class MultiplexedSsh
{
public:
    // socket: where the master listens, a path of the caller's.
    MultiplexedSsh(const Endpoint &endpoint, const QString &socket);
    ~MultiplexedSsh();
    MultiplexedSsh(const MultiplexedSsh &) = delete;
    MultiplexedSsh &operator=(const MultiplexedSsh &) = delete;

    // Starts the master connection, which logs in once and stays; true once it serves.
    bool start();
    // Milliseconds to run the command and take in its output, or -1 when it failed or printed
    // fewer lines than minimumLines. With terminal, the command runs on a pseudo-terminal, as
    // in an interactive shell.
    qint64 run(const QString &command, int minimumLines, bool terminal = false);

private:
    // Asks the master to check or exit, quietly.
    bool control(const QString &request);

    const Endpoint m_endpoint;
    const QStringList m_options;
    QProcess m_master;
};

} // namespace Bench
