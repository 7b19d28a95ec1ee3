#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>

namespace Bench {

// OpenSSH's sftp client, logged in once and then given batches of commands on its standard
// input, as our worker is connected once and then given requests: a batch's time holds no
// login. The login took about 300 ms here and varied by tens of milliseconds, more than a
// whole batch of small files takes on a LAN, so subtracting it could not give a figure that
// held from run to run.
class SftpClientSession
{
public:
    SftpClientSession(const QString &host, int port);
    ~SftpClientSession();
    SftpClientSession(const SftpClientSession &) = delete;
    SftpClientSession &operator=(const SftpClientSession &) = delete;

    // Logs in; false when sftp did not answer within timeoutMs.
    bool start(int timeoutMs = 30000);
    // Runs the commands (one per line) and waits for their end; milliseconds, or -1 when one
    // failed (sftp then ends) or they took longer than timeoutMs.
    qint64 run(const QString &commands, int timeoutMs = 15 * 60 * 1000);

private:
    // Writes the commands followed by a pwd, whose answer marks their end.
    bool runToMarker(const QString &commands, int timeoutMs);

    const QString m_host;
    const int m_port;
    QProcess m_sftp;
    QByteArray m_output;
};

} // namespace Bench
