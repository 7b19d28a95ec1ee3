#include "LocalFileReader.h"

#include "SftpErrorText.h"

#include <cstring>

namespace QSsh::Internal {

namespace {

constexpr qint64 kPieceSize = 256 * 1024;
// Read ahead this far: more than the upload takes in one go, little memory.
constexpr qint64 kReadAhead = 4 * 1024 * 1024;

} // namespace

LocalFileReader::LocalFileReader(const QString &path) : m_path(path), m_file(path) {}

LocalFileReader::~LocalFileReader()
{
    close();
    if (m_thread.joinable())
        m_thread.join();
}

QString LocalFileReader::open(std::function<void()> wake)
{
    if (!m_file.open(QIODevice::ReadOnly))
        return sftpTr("Cannot read local file \"%1\": %2.").arg(m_path, m_file.errorString());
    m_size = qMax<qint64>(0, m_file.size());
    m_wake = std::move(wake);
    m_thread = std::thread([this] { run(); });
    return QString();
}

qint64 LocalFileReader::read(char *data, qint64 maxSize)
{
    std::unique_lock lock(m_mutex);
    qint64 copied = 0;
    while (copied < maxSize && !m_ready.empty()) {
        const QByteArray &piece = m_ready.front();
        const qint64 n = qMin<qint64>(maxSize - copied, piece.size() - m_frontOffset);
        std::memcpy(data + copied, piece.constData() + m_frontOffset, size_t(n));
        copied += n;
        m_frontOffset += int(n);
        if (m_frontOffset == piece.size()) {
            m_readyBytes -= piece.size();
            m_ready.pop_front();
            m_frontOffset = 0;
        }
    }
    if (copied > 0) {
        m_changed.notify_all();
        return copied;
    }
    if (!m_error.isEmpty())
        return -1;
    if (m_atEnd)
        return 0;
    m_ownerWaiting = true;
    return kNotReady;
}

QString LocalFileReader::error() const
{
    const std::lock_guard lock(m_mutex);
    return m_error;
}

void LocalFileReader::close()
{
    const std::lock_guard lock(m_mutex);
    m_stop = true;
    m_changed.notify_all();
}

void LocalFileReader::run()
{
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_changed.wait(lock, [this] { return m_stop || m_readyBytes < kReadAhead; });
        if (m_stop)
            return;
        lock.unlock();
        QByteArray piece(int(kPieceSize), Qt::Uninitialized);
        const qint64 n = m_file.read(piece.data(), kPieceSize);
        const QString failure =
            n < 0 ? sftpTr("Cannot read local file \"%1\": %2.").arg(m_path, m_file.errorString())
                  : QString();
        lock.lock();
        if (n > 0) {
            piece.resize(int(n));
            m_readyBytes += n;
            m_ready.push_back(std::move(piece));
        }
        m_error = failure;
        m_atEnd = n == 0;
        const bool ended = n <= 0;
        if (m_ownerWaiting || ended) {
            m_ownerWaiting = false;
            lock.unlock();
            m_wake();
            lock.lock();
        }
        if (ended)
            break;
    }
    lock.unlock();
    m_file.close();
}

} // namespace QSsh::Internal
