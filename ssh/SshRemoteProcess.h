#pragma once

#include <QIODevice>

namespace QSsh {

class SshSession;

// An interactive shell on a pty. Writing sends to the shell's standard input: write() buffers
// and returns at once, and bytesWritten() reports the bytes once they have gone out on the
// channel. Output is read with readAllStandardOutput()/readAllStandardError() after the
// matching readyRead signal. closed() follows the end of the shell, or a start that failed;
// input still buffered then is dropped.
class SshRemoteProcess : public QIODevice
{
    Q_OBJECT
public:
    ~SshRemoteProcess() override;

    void start();
    bool isRunning() const;
    QByteArray readAllStandardOutput();
    QByteArray readAllStandardError();

    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;
    // As QIODevice::close(), except that a receiver of aboutToClose() may delete the process.
    void close() override;

signals:
    void started();
    void readyReadStandardOutput();
    void readyReadStandardError();
    void closed(int exitStatus);

protected:
    qint64 readData(char *data, qint64 maxlen) override;
    qint64 writeData(const char *data, qint64 len) override;

private:
    friend class SshSession;
    explicit SshRemoteProcess(SshSession *session);
    class Private;
    Private *d;
};

} // namespace QSsh
