#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace QSsh::Internal {

// Reads an upload's local file ahead on a thread of its own, so that the thread that runs the
// SFTP layer never waits for the disk (a file not in the page cache, a slow or busy disk).
//
// Every function is called from the owner's thread. wake is called from the reader's thread
// when data has become ready after a read() found none, and at the end of the file or a
// failure.
class LocalFileReader
{
public:
    // What read() returns while the thread has not read the next piece yet.
    static constexpr qint64 kNotReady = -2;

    explicit LocalFileReader(const QString &path);
    ~LocalFileReader(); // stops the thread and waits for it
    LocalFileReader(const LocalFileReader &) = delete;
    LocalFileReader &operator=(const LocalFileReader &) = delete;

    // Opens the file and starts reading ahead; a failure text, empty on success.
    QString open(std::function<void()> wake);
    QString fileName() const { return m_path; }
    qint64 size() const { return m_size; }

    // Copies up to maxSize bytes that are ready into data: their number, 0 at the end of the
    // file, -1 on a failure (error() says which), or kNotReady.
    qint64 read(char *data, qint64 maxSize);
    QString error() const;
    // Stops reading; nothing more is read.
    void close();

private:
    void run();

    const QString m_path;
    QFile m_file; // the reader's thread alone uses it once the thread runs
    qint64 m_size = 0;
    std::function<void()> m_wake;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<QByteArray> m_ready;
    qint64 m_readyBytes = 0;
    int m_frontOffset = 0; // bytes of m_ready.front() already taken
    bool m_atEnd = false;
    bool m_stop = false;
    bool m_ownerWaiting = false;
    QString m_error;
    std::thread m_thread;
};

} // namespace QSsh::Internal
