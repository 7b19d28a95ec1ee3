#include "OperationHistory.h"

#include "HistoryFormat.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QLoggingCategory>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QThread>
#include <QUrl>

namespace {

Q_LOGGING_CATEGORY(lcHistory, "cnc.history", QtWarningMsg)

// A writer holds the lock for a short while. Waiting longer would hold up the worker's
// transfers for a line of history; a lock older than kStaleLockMs is one a hung or killed
// writer left behind (a dead writer's lock is taken over at once).
constexpr int kLockWaitMs = 2000;
constexpr int kStaleLockMs = 5000;
// The lock and the open file are kept for the lines that follow within this time of taking
// them, then given up whatever comes: a batch of small transfers records two lines each, and
// taking the lock and opening the file for every line cost such a batch two thirds of its
// speed, while another writer still gets its turn within this time.
constexpr int kHoldMs = 100;

// QLockFile::tryLock(timeout) sleeps ever longer between its attempts (100 ms, 200 ms, ...), so
// a writer that records line after line can hold the lock at every one of them. Short, uneven
// naps find the lock free between two of its lines.
bool lockSoon(QLockFile &lock)
{
    QDeadlineTimer deadline(kLockWaitMs);
    while (!lock.tryLock(0)) {
        if (lock.error() != QLockFile::LockFailedError || deadline.hasExpired())
            return false;
        QThread::msleep(QRandomGenerator::global()->bounded(1, 6));
    }
    return true;
}

} // namespace

OperationHistory::OperationHistory(const QString &address, QObject *parent)
    : QObject(parent), m_path(filePath(address))
{
    m_release.setSingleShot(true);
    m_release.setInterval(kHoldMs);
    connect(&m_release, &QTimer::timeout, this, &OperationHistory::release);
}

OperationHistory::~OperationHistory() = default;

QString OperationHistory::filePath(const QString &address)
{
    const QString name = QString::fromLatin1(QUrl::toPercentEncoding(address));
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/history/") + name + QStringLiteral(".jsonl");
}

void OperationHistory::record(const HistoryEvent &event)
{
    QString reason;
    if (event.time.isValid()) {
        reason = append(HistoryFormat::line(event));
    } else {
        HistoryEvent stamped = event;
        stamped.time = QDateTime::currentDateTime();
        reason = append(HistoryFormat::line(stamped));
    }
    if (reason.isEmpty())
        return;
    qCWarning(lcHistory) << "history not written:" << reason;
    if (!m_reportedUnwritable) {
        m_reportedUnwritable = true;
        emit unwritable(reason);
    }
}

QString OperationHistory::append(const QByteArray &line)
{
    QByteArray bytes = line;
    if (!m_file.isOpen()) {
        const QString folder = QFileInfo(m_path).path();
        if (!QDir().mkpath(folder))
            return QStringLiteral("cannot create the folder %1")
                .arg(QDir::toNativeSeparators(folder));
        m_lock = std::make_unique<QLockFile>(m_path + QStringLiteral(".lock"));
        m_lock->setStaleLockTime(kStaleLockMs);
        if (!lockSoon(*m_lock)) {
            const bool locked = m_lock->error() == QLockFile::LockFailedError;
            m_lock.reset();
            return locked ? QStringLiteral("%1 is locked by another writer").arg(m_path)
                          : QStringLiteral("cannot create the lock file beside %1").arg(m_path);
        }
        m_file.setFileName(m_path);
        if (!m_file.open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Unbuffered)) {
            const QString reason = QStringLiteral("%1: %2").arg(m_path, m_file.errorString());
            release();
            return reason;
        }
        // A line torn by a full disk or a crash would swallow the start of ours; it stays a
        // line of its own, skipped by readers, and ours begins on a fresh one.
        const qint64 size = m_file.size();
        if (size > 0 && m_file.seek(size - 1) && m_file.read(1) != "\n")
            bytes.prepend('\n');
        m_release.start();
    }
    if (m_file.write(bytes) != bytes.size()) {
        const QString reason = QStringLiteral("%1: %2").arg(m_path, m_file.errorString());
        release();
        return reason;
    }
    qCDebug(lcHistory) << "recorded" << bytes.size() << "bytes in" << m_path;
    return QString();
}

void OperationHistory::release()
{
    m_release.stop();
    m_file.close();
    m_lock.reset(); // unlocks
}
