#include "LocalFileWriter.h"

#include "SftpErrorText.h"

#include <cerrno>
#include <fcntl.h>

namespace QSsh::Internal {

namespace {

// What may wait for the disk before the download waits too: enough to ride out a stall of
// the write-back without holding much memory.
constexpr qint64 kQueueLimit = 8 * 1024 * 1024;
// The commit syncs the file. Starting the write-back of every few megabytes as they are
// written keeps that final sync short.
constexpr qint64 kWriteBackChunk = 8 * 1024 * 1024;
constexpr std::size_t kSpareBuffers = 2;

} // namespace

LocalFileWriter::LocalFileWriter(const QString &path) : m_path(path), m_file(path)
{
    // Never write the target in place, not even where a temporary file cannot be created.
    m_file.setDirectWriteFallback(false);
}

LocalFileWriter::~LocalFileWriter()
{
    discard();
    if (m_thread.joinable())
        m_thread.join();
}

QString LocalFileWriter::open(std::function<void()> wake)
{
    if (!m_file.open(QIODevice::WriteOnly))
        return sftpTr("Cannot write local file \"%1\": %2.").arg(m_path, m_file.errorString());
    m_wake = std::move(wake);
    m_finished = false;
    m_thread = std::thread([this] { run(); });
    return QString();
}

bool LocalFileWriter::hasRoom() const
{
    const std::lock_guard lock(m_mutex);
    return m_queuedBytes < kQueueLimit;
}

void LocalFileWriter::write(QByteArray data)
{
    const std::lock_guard lock(m_mutex);
    m_queuedBytes += data.size();
    m_queue.push_back(std::move(data));
    m_changed.notify_all();
}

QByteArray LocalFileWriter::takeBuffer(int size)
{
    const std::lock_guard lock(m_mutex);
    if (m_spare.empty())
        return QByteArray(size, Qt::Uninitialized);
    QByteArray buffer = std::move(m_spare.back());
    m_spare.pop_back();
    buffer.resize(size);
    return buffer;
}

void LocalFileWriter::commit()
{
    const std::lock_guard lock(m_mutex);
    if (m_request == Request::None)
        m_request = Request::Commit;
    m_changed.notify_all();
}

void LocalFileWriter::discard()
{
    const std::lock_guard lock(m_mutex);
    if (m_request == Request::None)
        m_request = Request::Discard;
    m_changed.notify_all();
}

bool LocalFileWriter::isFinished() const
{
    const std::lock_guard lock(m_mutex);
    return m_finished;
}

void LocalFileWriter::waitForFinished()
{
    std::unique_lock lock(m_mutex);
    m_changed.wait(lock, [this] { return m_finished; });
}

QString LocalFileWriter::error() const
{
    const std::lock_guard lock(m_mutex);
    return m_error;
}

void LocalFileWriter::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return !m_queue.empty() || m_request != Request::None; });
        if (m_request == Request::Discard)
            break;
        if (!m_queue.empty()) {
            QByteArray data = std::move(m_queue.front());
            m_queue.pop_front();
            const bool wasFull = m_queuedBytes >= kQueueLimit;
            const bool failedBefore = !m_error.isEmpty();
            lock.unlock();
            const QString failure = failedBefore ? QString() : writeOut(data);
            lock.lock();
            m_queuedBytes -= data.size();
            if (m_spare.size() < kSpareBuffers)
                m_spare.push_back(std::move(data));
            if (!failure.isEmpty())
                m_error = failure;
            if (wasFull || !failure.isEmpty()) {
                lock.unlock();
                m_wake();
                lock.lock();
            }
            continue;
        }
        // A commit, with everything queued written.
        if (m_error.isEmpty()) {
            lock.unlock();
            const QString failure = m_file.commit() ? QString() : failureText();
            lock.lock();
            m_error = failure;
            m_finished = true;
            m_changed.notify_all();
            lock.unlock();
            m_wake();
            return;
        }
        break; // a failed file is never committed: it goes as a discarded one
    }
    m_queue.clear();
    m_queuedBytes = 0;
    lock.unlock();
    m_file.cancelWriting();
    m_file.commit(); // after cancelWriting this only removes the temporary file
    lock.lock();
    m_finished = true;
    m_changed.notify_all();
    lock.unlock();
    m_wake();
}

QString LocalFileWriter::writeOut(const QByteArray &data)
{
    if (m_file.write(data) != data.size())
        return failureText();
    m_written += data.size();
    if (m_written - m_writeBackStart >= kWriteBackChunk && m_file.flush()) {
        ::sync_file_range(m_file.handle(), m_writeBackStart, m_written - m_writeBackStart,
                          SYNC_FILE_RANGE_WRITE);
        m_writeBackStart = m_written;
    }
    return QString();
}

// QSaveFile reports some failed writes (a full disk among them) as "Unknown error"; the
// system's error code then tells what happened.
QString LocalFileWriter::failureText() const
{
    const int systemError = errno;
    QString reason = m_file.errorString();
    if (reason.isEmpty() || reason == QLatin1String("Unknown error"))
        reason = qt_error_string(systemError);
    return sftpTr("Cannot write local file \"%1\": %2.").arg(m_path, reason);
}

} // namespace QSsh::Internal
