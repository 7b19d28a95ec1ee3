#include "EditedFile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QFutureWatcher>
#include <QLoggingCategory>
#include <QTimer>
#include <QtConcurrent>

#include <cstdio>

Q_LOGGING_CATEGORY(lcEdit, "cnc.edit", QtWarningMsg)

namespace {

// Copies the working copy beside the snapshot, hashes the copy and renames it over the
// snapshot, so that an upload that has the snapshot open reads one whole save; empty when any
// step fails.
QByteArray takeSnapshot(const QString &workingCopy, const QString &snapshot)
{
    const QString copy = snapshot + QStringLiteral(".new");
    QFile::remove(copy);
    QFile file(copy);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!QFile::copy(workingCopy, copy) || !file.open(QIODevice::ReadOnly) ||
        !hash.addData(&file) ||
        std::rename(QFile::encodeName(copy).constData(), QFile::encodeName(snapshot).constData()))
        return {};
    return hash.result();
}

} // namespace

EditedFile::EditedFile(const QString &remotePath, const QString &folder, QObject *parent)
    : QObject(parent), m_remotePath(remotePath), m_folder(QDir::cleanPath(folder)),
      m_workingCopy(m_folder + QLatin1Char('/') + name()), m_quiet(new QTimer(this)),
      m_hashing(new QFutureWatcher<QByteArray>(this))
{
    m_quiet->setSingleShot(true);
    m_quiet->setInterval(kQuietMs);
    connect(m_quiet, &QTimer::timeout, this, &EditedFile::onQuiet);
    connect(m_hashing, &QFutureWatcher<QByteArray>::finished, this, &EditedFile::onHashed);
}

QString EditedFile::name() const
{
    return m_remotePath.mid(m_remotePath.lastIndexOf(QLatin1Char('/')) + 1);
}

void EditedFile::record(const Remote &remote)
{
    m_recorded = remote;
    m_pending.clear();
}

void EditedFile::setState(State state)
{
    if (m_state == state)
        return;
    m_state = state;
    // While the working copy is fetched or its snapshot sent, changes wait.
    setBusy(state == State::Opening || state == State::Sending);
    emit stateChanged();
}

bool EditedFile::hasPendingSave() const
{
    return m_state != State::InSync && m_state != State::Opening;
}

void EditedFile::watch()
{
    if (m_watcher)
        return;
    m_watcher = new QFileSystemWatcher(this);
    // The folder too: an editor that renames a new file over the working copy takes the
    // watched file away, and the folder tells when the name is back.
    m_watcher->addPaths({workingCopy(), m_folder});
    connect(m_watcher, &QFileSystemWatcher::fileChanged, this, &EditedFile::noteChange);
    connect(m_watcher, &QFileSystemWatcher::directoryChanged, this, &EditedFile::noteChange);
}

void EditedFile::noteChange()
{
    const QString path = workingCopy();
    if (QFileInfo::exists(path) && !m_watcher->files().contains(path))
        m_watcher->addPath(path);
    m_quiet->start();
}

void EditedFile::setBusy(bool busy)
{
    m_busy = busy;
    if (!busy && std::exchange(m_changedMeanwhile, false))
        m_quiet->start();
}

void EditedFile::onQuiet()
{
    if (m_busy || m_hashing->isRunning() || !QFileInfo::exists(workingCopy())) {
        // Looked at again once the transfer or the hash has ended; a working copy that is
        // gone stays unsaved until it is back.
        m_changedMeanwhile = m_busy || m_hashing->isRunning();
        return;
    }
    m_hashing->setFuture(QtConcurrent::run(takeSnapshot, workingCopy(), snapshot()));
}

void EditedFile::onHashed()
{
    const QByteArray sha256 = m_hashing->result();
    if (std::exchange(m_changedMeanwhile, false) || m_busy) {
        m_changedMeanwhile = m_busy;
        if (!m_busy)
            m_quiet->start();
        return;
    }
    if (sha256.isEmpty()) {
        qCWarning(lcEdit).noquote() << "Cannot take a snapshot of" << workingCopy();
        return;
    }
    const QByteArray last = m_pending.isEmpty() ? m_recorded.sha256 : m_pending;
    if (sha256 == last) {
        qCDebug(lcEdit).noquote() << "Written without a change:" << workingCopy();
        emit unchanged();
        return;
    }
    m_pending = sha256;
    emit saved(sha256);
}
