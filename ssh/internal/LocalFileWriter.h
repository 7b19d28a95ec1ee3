#pragma once

#include <QByteArray>
#include <QSaveFile>
#include <QString>

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace QSsh::Internal {

// Writes a download's local file on a thread of its own, so that the thread that runs the SFTP
// layer never waits for the disk: a write() held while the kernel writes dirty pages back, the
// sync of the commit. The file is a QSaveFile: the target is replaced, with every byte on disk,
// only when the writer commits; a discarded or failed file leaves the target as it was.
//
// Every function is called from the owner's thread. wake is called from the writer's thread
// whenever the owner may go on: room in the queue again, a failure, the end of a commit or a
// discard.
class LocalFileWriter
{
public:
    explicit LocalFileWriter(const QString &path);
    ~LocalFileWriter(); // discards what is not committed, and waits for the thread to end
    LocalFileWriter(const LocalFileWriter &) = delete;
    LocalFileWriter &operator=(const LocalFileWriter &) = delete;

    // Creates the temporary file and starts the thread; a failure text, empty on success.
    QString open(std::function<void()> wake);
    QString fileName() const { return m_path; }

    // True while another buffer may be queued.
    bool hasRoom() const;
    // Queues a buffer for writing, all of it.
    void write(QByteArray data);
    // A buffer of size bytes for the next write, from those already written where possible.
    QByteArray takeBuffer(int size);

    // Syncs and renames the file into place once everything queued is written.
    void commit();
    // Drops what is queued and removes the temporary file; the target stays as it was. A
    // commit already under way ends as it will.
    void discard();
    // The commit or the discard has ended (or the file was never opened).
    bool isFinished() const;
    void waitForFinished();
    // The first failure, empty while there is none.
    QString error() const;

private:
    enum class Request { None, Commit, Discard };

    void run();
    // Writes one buffer out; a failure text, empty on success.
    QString writeOut(const QByteArray &data);
    QString failureText() const;

    const QString m_path;
    QSaveFile m_file; // the writer's thread alone uses it once the thread runs
    std::function<void()> m_wake;
    qint64 m_written = 0;
    qint64 m_writeBackStart = 0;

    mutable std::mutex m_mutex;
    std::condition_variable m_changed;
    std::deque<QByteArray> m_queue;
    qint64 m_queuedBytes = 0;
    std::vector<QByteArray> m_spare;
    Request m_request = Request::None;
    QString m_error;
    bool m_finished = true;
    std::thread m_thread;
};

} // namespace QSsh::Internal
