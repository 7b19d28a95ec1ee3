#include "SftpUploadJob.h"

#include "RemoteCommand.h"
#include "RemoteFileName.h"
#include "RemoteHash.h"
#include "SideSftpSession.h"
#include "SshLogging.h"

#include <QRandomGenerator>

#include <cstring>

namespace QSsh::Internal {

namespace {

// libssh2 splits each write into pipelined packets; 1 MiB keeps enough of them in flight to
// fill the link, and measured faster than 4 MiB.
constexpr int kBufferSize = 1024 * 1024;
// Files from this size on go in large writes where the controller takes them: opening the
// temporary a second time costs a round trip, which a small file would not win back.
constexpr quint64 kStreamFrom = 4 * 1024 * 1024;
// Large writes unanswered at most, as many bytes as libssh2's writes keep in flight.
constexpr qint64 kStreamInFlight = 1024 * 1024;

QString randomTag()
{
    return QStringLiteral("%1").arg(QRandomGenerator::global()->generate(), 8, 16,
                                    QLatin1Char('0'));
}

} // namespace

SftpUploadJob::SftpUploadJob(SftpJobId id, const QString &localPath, const QString &remotePath,
                             bool overwrite)
    : SftpJob(id), m_reader(localPath), m_remotePath(remotePath),
      m_temporaryPath(sideName(remotePath, QStringLiteral("part"), randomTag())),
      m_backupPath(sideName(remotePath, QStringLiteral("old"), randomTag())), m_overwrite(overwrite)
{}

SftpUploadJob::~SftpUploadJob()
{
    dropStream();
#if !QSSH_NATIVE_POSIX_RENAME
    if (m_context && m_posixRename && m_context->side)
        m_context->side->forget(*m_posixRename);
#endif
}

QString SftpUploadJob::sideName(const QString &remotePath, const QString &kind, const QString &tag)
{
    const int slash = remotePath.lastIndexOf(QLatin1Char('/'));
    const QString directory = remotePath.left(slash + 1);
    // The name stays recognisable, shortened a whole character at a time until the side
    // name fits the controller's limit of 255 bytes per name (a Chinese character takes 3).
    const int budget = kMaxNameBytes - 1 -
                       remoteNameToBytes(QLatin1Char('.') + kind + QLatin1Char('-') + tag).size();
    QString name = remotePath.mid(slash + 1);
    while (remoteNameToBytes(name).size() > budget) {
        const bool pair = name.size() >= 2 && name.at(name.size() - 1).isLowSurrogate() &&
                          name.at(name.size() - 2).isHighSurrogate();
        name.chop(pair ? 2 : 1);
    }
    return QStringLiteral("%1.%2.%3-%4").arg(directory, name, kind, tag);
}

QString SftpUploadJob::temporaryThatMayExist() const
{
    switch (m_phase) {
    case Phase::OpenTemporary:
    case Phase::Writing:
    case Phase::CloseTemporary:
    case Phase::CloseAfterFailure:
    case Phase::Verifying:
    case Phase::RenameIntoPlace:
    case Phase::PosixReplace:
    case Phase::ReplaceByCommand:
    case Phase::RemoveTemporary:
        // The target is untouched in these phases (mv replaces it in one step), so only the
        // temporary, complete or not, can be left.
        return m_temporaryPath;
    default:
        // Before the temporary exists, after it is gone, or while the target is moved aside:
        // removing anything then could lose the only copy of the old content.
        return QString();
    }
}

SftpJob::Result SftpUploadJob::step()
{
    // While writing, a cancel only stops the reading of local data, which is safe at any time:
    // a write that answered EAGAIN is repeated with the same data all the same.
    if (m_cancelRequested &&
        (m_phase == Phase::Writing || (!insideCall() && !replaceCallPending())))
        stopForCancel();
    const Result result = stepPhase();
    if (result == Result::Fatal || m_phase != Phase::Done)
        return result;
    return Result::Done;
}

SftpJob::Result SftpUploadJob::stepPhase()
{
    LIBSSH2_SFTP *const sftp = m_context->sftp;
    switch (m_phase) {
    case Phase::OpenLocal:
        m_error = m_reader.open(wakeFromAnyThread());
        if (!m_error.isEmpty()) {
            setPhase(Phase::Done);
            return Result::Done;
        }
        m_bytesTotal = quint64(m_reader.size());
        setPhase(Phase::StatTarget);
        return Result::Progress;

    case Phase::StatTarget: {
        if (!acquire())
            return Result::Idle;
        LIBSSH2_SFTP_ATTRIBUTES attributes{};
        const int rc = settle(statPath(m_remotePath, LIBSSH2_SFTP_STAT, &attributes));
        if (rc == LIBSSH2_ERROR_EAGAIN)
            return Result::Blocked;
        if (rc == 0) {
            const bool isDirectory = (attributes.flags & LIBSSH2_SFTP_ATTR_PERMISSIONS) &&
                                     LIBSSH2_SFTP_S_ISDIR(attributes.permissions);
            if (isDirectory || !m_overwrite) {
                m_error = sftpFailureText(SftpOperation::OpenForWriting, m_remotePath,
                                          isDirectory ? sftpTr("it is a directory")
                                                      : sftpTr("it already exists"));
                setPhase(Phase::Done);
                return Result::Done;
            }
            m_targetExists = true;
            if (attributes.flags & LIBSSH2_SFTP_ATTR_PERMISSIONS)
                m_permissions = attributes.permissions & 07777;
#if !QSSH_NATIVE_POSIX_RENAME
            // Ready by the time the data has gone, as a rule.
            if (m_context->side)
                m_context->side->start();
#endif
        } else {
            const bool missing = rc == LIBSSH2_ERROR_SFTP_PROTOCOL &&
                                 (libssh2_sftp_last_error(sftp) == LIBSSH2_FX_NO_SUCH_FILE ||
                                  libssh2_sftp_last_error(sftp) == LIBSSH2_FX_NO_SUCH_PATH);
            if (!missing) {
                if (failWith(SftpOperation::Stat, m_remotePath, rc) == Result::Fatal)
                    return Result::Fatal;
                setPhase(Phase::Done);
                return Result::Done;
            }
        }
        setPhase(Phase::OpenTemporary);
        return Result::Progress;
    }

    case Phase::OpenTemporary: {
        if (!acquire())
            return Result::Idle;
        const QByteArray path = remoteNameToBytes(m_temporaryPath);
        m_readBackInPlace = verifies() && m_bytesTotal <= quint64(RemoteHash::kReadBackLimit);
        const unsigned long flags = LIBSSH2_FXF_WRITE | LIBSSH2_FXF_CREAT | LIBSSH2_FXF_TRUNC |
                                    LIBSSH2_FXF_EXCL | (m_readBackInPlace ? LIBSSH2_FXF_READ : 0);
        LIBSSH2_SFTP_HANDLE *const handle =
            libssh2_sftp_open_ex(sftp, path.constData(), unsigned(path.size()), flags,
                                 long(m_permissions), LIBSSH2_SFTP_OPENFILE);
        const int rc = settle(handle ? 0 : lastErrno());
        if (rc == LIBSSH2_ERROR_EAGAIN)
            return Result::Blocked;
        if (!handle) {
            if (failWith(SftpOperation::OpenForWriting, m_remotePath, rc) == Result::Fatal)
                return Result::Fatal;
            setPhase(Phase::Done);
            return Result::Done;
        }
        m_handle = handle;
        m_buffer.resize(kBufferSize);
        setPhase(Phase::Writing);
        return Result::Progress;
    }

    case Phase::Writing:
        return repeatWithinBudget([this] { return fillAndWrite(); },
                                  [this] { return m_phase == Phase::Writing; });

    case Phase::CloseTemporary:
    case Phase::CloseAfterFailure: {
        int rc = 0;
        const Result closing = closeHandle(&rc);
        if (closing != Result::Progress)
            return closing;
        if (rc < 0)
            failWith(SftpOperation::Close, m_remotePath, rc);
        if (m_phase != Phase::CloseTemporary || rc != 0) {
            setPhase(Phase::RemoveTemporary);
        } else if (verifies() && !m_readBackInPlace) {
            startVerification(m_temporaryPath);
            setPhase(Phase::Verifying);
        } else {
            setPhase(Phase::RenameIntoPlace);
        }
        return Result::Progress;
    }

    case Phase::Verifying: {
        const Result verifying = stepVerification(m_remotePath);
        if (verifying != Result::Done)
            return verifying;
        if (m_readBackInPlace)
            setPhase(m_error.isEmpty() ? Phase::CloseTemporary : Phase::CloseAfterFailure);
        else
            setPhase(m_error.isEmpty() ? Phase::RenameIntoPlace : Phase::RemoveTemporary);
        return Result::Progress;
    }

    case Phase::RenameIntoPlace: {
        if (m_targetExists) {
            setPhase(Phase::PosixReplace);
            return Result::Progress;
        }
        if (!acquire())
            return Result::Idle;
        const int rc =
            settle(renameRemote(m_temporaryPath, m_remotePath,
                                LIBSSH2_SFTP_RENAME_OVERWRITE | LIBSSH2_SFTP_RENAME_ATOMIC |
                                    LIBSSH2_SFTP_RENAME_NATIVE));
        if (rc == LIBSSH2_ERROR_EAGAIN)
            return Result::Blocked;
        if (rc == 0) {
            setPhase(Phase::Done);
            return Result::Done;
        }
        // The target appeared meanwhile: replace it the careful way.
        const unsigned long status =
            rc == LIBSSH2_ERROR_SFTP_PROTOCOL ? libssh2_sftp_last_error(sftp) : LIBSSH2_FX_OK;
        if (status == LIBSSH2_FX_FAILURE || status == LIBSSH2_FX_FILE_ALREADY_EXISTS) {
            setPhase(Phase::PosixReplace);
            return Result::Progress;
        }
        if (failWith(SftpOperation::Rename, m_remotePath, rc) == Result::Fatal)
            return Result::Fatal;
        setPhase(Phase::RemoveTemporary);
        return Result::Progress;
    }

    case Phase::PosixReplace:
        return posixReplace();

    case Phase::ReplaceByCommand:
        return replaceByCommand();

    case Phase::MoveTargetAside:
        return rename(m_remotePath, m_backupPath, 0, Phase::RenameAfterMoveAside,
                      Phase::RemoveTemporary);
    case Phase::RenameAfterMoveAside:
        return rename(m_temporaryPath, m_remotePath, 0, Phase::RemoveBackup, Phase::RestoreTarget);
    case Phase::RestoreTarget:
        return rename(m_backupPath, m_remotePath, 0, Phase::RemoveTemporary,
                      Phase::RemoveTemporary);

    case Phase::RemoveBackup:
    case Phase::RemoveTemporary: {
        if (!acquire())
            return Result::Idle;
        const QString &victim = m_phase == Phase::RemoveBackup ? m_backupPath : m_temporaryPath;
        const QByteArray path = remoteNameToBytes(victim);
        const int rc =
            settle(libssh2_sftp_unlink_ex(sftp, path.constData(), unsigned(path.size())));
        if (rc == LIBSSH2_ERROR_EAGAIN)
            return Result::Blocked;
        if (SshSession::isSessionError(rc))
            return Result::Fatal;
        if (rc < 0)
            qCWarning(lcSsh).noquote() << "Cannot remove" << victim << ":"
                                       << failureText(SftpOperation::Remove, victim, rc);
        setPhase(Phase::Done);
        return Result::Done;
    }

    case Phase::Done:
        return Result::Done;
    }
    return Result::Done;
}

bool SftpUploadJob::fillBuffer()
{
    char *const data = m_buffer.data();
    if (m_end - m_begin >= kBufferSize / 2 || m_localAtEnd || m_draining)
        return false;
    // libssh2 copies what it sends, so the unacknowledged rest may move to the front;
    // it must stay unchanged, since libssh2 skips the part already in flight.
    if (m_begin > 0) {
        std::memmove(data, data + m_begin, size_t(m_end - m_begin));
        m_end -= m_begin;
        m_begin = 0;
    }
    const qint64 n = m_reader.read(data + m_end, kBufferSize - m_end);
    if (n == LocalFileReader::kNotReady)
        return false; // the reader wakes the session up
    if (n < 0) {
        m_error = m_reader.error();
        m_draining = true;
        return true;
    }
    m_localAtEnd = n == 0;
    hashLocalData(data + m_end, n);
    m_end += int(n);
    return true;
}

void SftpUploadJob::finishData()
{
    m_reader.close();
    m_buffer.clear();
    m_buffer.squeeze();
    m_dataComplete = !m_draining;
    if (m_draining) {
        setPhase(Phase::CloseAfterFailure);
    } else if (m_readBackInPlace) {
        startVerification(m_temporaryPath, m_handle);
        setPhase(Phase::Verifying);
    } else {
        setPhase(Phase::CloseTemporary);
    }
}

SftpJob::Result SftpUploadJob::fillAndWrite()
{
    if (m_stream != Stream::Off)
        return streamData();
    fillBuffer();
    if (m_begin == m_end) {
        if (!m_localAtEnd && !m_draining)
            return Result::Idle; // the reader wakes the session up
        finishData();
        return Result::Progress;
    }
    if (!acquire(WindowNeed::Any))
        return Result::Idle;
    const ssize_t rc = settle(
        int(libssh2_sftp_write(m_handle, m_buffer.constData() + m_begin, size_t(m_end - m_begin))));
    if (rc == LIBSSH2_ERROR_EAGAIN || rc == 0)
        return Result::Blocked;
    if (rc < 0) {
        if (failWith(SftpOperation::Write, m_remotePath, int(rc)) == Result::Fatal)
            return Result::Fatal;
        setPhase(Phase::CloseAfterFailure);
        return Result::Progress;
    }
    m_begin += int(rc);
    m_bytesDone += quint64(rc);
    return Result::Progress;
}

// Opens the temporary a second time, on our own SFTP session, where the controller takes
// large writes and the file is large enough to gain from them; otherwise libssh2 writes.
SftpJob::Result SftpUploadJob::openStream()
{
    SideSftpSession *const side = m_context->side;
    if (m_stream == Stream::Undecided) {
        const bool worthIt = side && !m_readBackInPlace && m_bytesTotal >= kStreamFrom;
        switch (worthIt ? side->writeSupport() : SideSftpSession::Support::NotOffered) {
        case SideSftpSession::Support::Unknown:
            side->start();
            return Result::Idle;
        case SideSftpSession::Support::NotOffered:
            m_stream = Stream::Off;
            return Result::Progress;
        case SideSftpSession::Support::Offered:
            m_streamRequest =
                side->open(remoteNameToBytes(m_temporaryPath), SideSftpSession::kOpenWrite);
            m_stream = Stream::Opening;
            break;
        }
    }
    const std::optional<SideSftpSession::Answer> answer = side->takeAnswer(m_streamRequest);
    if (!answer)
        return Result::Idle;
    if (answer->status != LIBSSH2_FX_OK || answer->handle.isEmpty()) {
        // Nothing has been written yet: libssh2's handle takes the data instead.
        qCDebug(lcSsh).noquote() << "large writes refused for" << m_temporaryPath << ":"
                                 << answer->status << answer->message;
        m_stream = Stream::Off;
        return Result::Progress;
    }
    m_streamHandle = answer->handle;
    m_stream = Stream::On;
    return Result::Progress;
}

SftpJob::Result SftpUploadJob::streamData()
{
    if (m_stream == Stream::Undecided && m_draining) {
        m_stream = Stream::Off; // cancelled before the first byte: no need to wait for our session
        return Result::Progress;
    }
    if (m_stream == Stream::Undecided || m_stream == Stream::Opening)
        return openStream();
    SideSftpSession *const side = m_context->side;
    if (m_stream == Stream::Closing) {
        const std::optional<SideSftpSession::Answer> answer = side->takeAnswer(m_streamRequest);
        if (!answer)
            return Result::Idle;
        m_stream = Stream::Off;
        if (answer->status != LIBSSH2_FX_OK) {
            streamFailed(*answer);
            return Result::Progress;
        }
        finishData();
        return Result::Progress;
    }
    // Answers come in the order of the requests.
    while (!m_streamWrites.empty()) {
        const std::optional<SideSftpSession::Answer> answer =
            side->takeAnswer(m_streamWrites.front().request);
        if (!answer)
            break;
        if (answer->status != LIBSSH2_FX_OK) {
            streamFailed(*answer);
            return Result::Progress;
        }
        m_bytesDone += quint64(m_streamWrites.front().size);
        m_streamInFlight -= m_streamWrites.front().size;
        m_streamWrites.pop_front();
    }
    if (m_draining) {
        dropStream();
        finishData();
        return Result::Progress;
    }
    const bool read = fillBuffer();
    if (m_draining)
        return Result::Progress;
    const int writeSize = side->writeSize();
    bool wrote = false;
    while (m_streamInFlight < kStreamInFlight &&
           (m_end - m_begin >= writeSize || (m_localAtEnd && m_end > m_begin))) {
        const int size = qMin(writeSize, m_end - m_begin);
        m_streamWrites.push_back(
            {side->write(m_streamHandle, m_streamOffset, m_buffer.constData() + m_begin, size),
             size});
        m_streamOffset += quint64(size);
        m_streamInFlight += size;
        m_begin += size;
        wrote = true;
    }
    if (m_localAtEnd && m_begin == m_end && m_streamWrites.empty()) {
        // The handle is closed from here on, whatever the answer: never a second close.
        m_streamRequest = side->close(std::exchange(m_streamHandle, QByteArray()));
        m_stream = Stream::Closing;
        return Result::Progress;
    }
    // Otherwise the answers wake the job, or the reader does.
    return wrote || read ? Result::Progress : Result::Idle;
}

// A write or the close failed: the temporary goes, with libssh2's handle closed first.
void SftpUploadJob::streamFailed(const SideSftpSession::Answer &answer)
{
    m_error = answer.status == LIBSSH2_FX_CONNECTION_LOST
                  ? sftpFailureText(SftpOperation::Write, m_remotePath, answer.message)
                  : sftpFailureText(SftpOperation::Write, m_remotePath, answer.status);
    m_draining = true;
    dropStream();
    finishData();
}

void SftpUploadJob::dropStream()
{
    SideSftpSession *const side = m_context ? m_context->side : nullptr;
    if (!side)
        return;
    for (const StreamWrite &write : std::exchange(m_streamWrites, {}))
        side->forget(write.request);
    if (m_stream == Stream::Opening || m_stream == Stream::Closing)
        side->forget(m_streamRequest);
    if (!m_streamHandle.isEmpty())
        side->forget(side->close(std::exchange(m_streamHandle, QByteArray())));
    m_streamInFlight = 0;
    m_stream = Stream::Off;
}

#if QSSH_NATIVE_POSIX_RENAME
// Replaces the existing target by the complete temporary with one request on this job's own
// SFTP session; where the controller's SFTP server does not offer it, with "mv -f", from then
// on for this session.
SftpJob::Result SftpUploadJob::posixReplace()
{
    if (m_context->posixRenameRefused) {
        setPhase(Phase::ReplaceByCommand);
        return Result::Progress;
    }
    if (!acquire())
        return Result::Idle;
    const QByteArray from = remoteNameToBytes(m_temporaryPath);
    const QByteArray to = remoteNameToBytes(m_remotePath);
    const int rc = settle(libssh2_sftp_posix_rename_ex(
        m_context->sftp, from.constData(), size_t(from.size()), to.constData(), size_t(to.size())));
    if (rc == LIBSSH2_ERROR_EAGAIN)
        return Result::Blocked;
    if (rc == 0) {
        setPhase(Phase::Done);
        return Result::Done;
    }
    // libssh2 makes the request only where the server's greeting offers it, and fails at once
    // otherwise, with a text of its own; a server may still answer that it has no such request.
    unsigned long status = rc > 0 ? static_cast<unsigned long>(rc) : LIBSSH2_FX_OK;
    if (rc == LIBSSH2_ERROR_SFTP_PROTOCOL)
        status = libssh2_sftp_last_error(m_context->sftp);
    const bool notMade =
        rc < 0 && rc != LIBSSH2_ERROR_SFTP_PROTOCOL && !SshSession::isSessionError(rc);
    if (notMade || status == LIBSSH2_FX_OP_UNSUPPORTED) {
        qCDebug(lcSsh).noquote() << "no replacements by posix-rename@openssh.com:"
                                 << failureText(SftpOperation::Rename, m_remotePath, rc);
        m_context->posixRenameRefused = true;
        setPhase(Phase::ReplaceByCommand);
        return Result::Progress;
    }
    // Whatever happened, the target is either the old or the new file, and the temporary is
    // removed if it is still there.
    if (rc > 0)
        m_error = sftpFailureText(SftpOperation::Rename, m_remotePath, status);
    else if (failWith(SftpOperation::Rename, m_remotePath, rc) == Result::Fatal)
        return Result::Fatal;
    setPhase(Phase::RemoveTemporary);
    return Result::Progress;
}
#else
// Replaces the existing target by the complete temporary with one request, where the
// controller offers that; otherwise with "mv -f".
SftpJob::Result SftpUploadJob::posixReplace()
{
    SideSftpSession *const renamer = m_context->side;
    if (!m_posixRename) {
        switch (renamer ? renamer->renameSupport() : SideSftpSession::Support::NotOffered) {
        case SideSftpSession::Support::Unknown:
            renamer->start();
            return Result::Idle;
        case SideSftpSession::Support::NotOffered:
            setPhase(Phase::ReplaceByCommand);
            return Result::Progress;
        case SideSftpSession::Support::Offered:
            m_posixRename = renamer->rename(remoteNameToBytes(m_temporaryPath),
                                            remoteNameToBytes(m_remotePath));
            return Result::Progress;
        }
    }
    const std::optional<SideSftpSession::Answer> answer = renamer->takeAnswer(*m_posixRename);
    if (!answer)
        return Result::Idle;
    m_posixRename.reset();
    if (answer->status == LIBSSH2_FX_OK) {
        setPhase(Phase::Done);
        return Result::Done;
    }
    if (answer->status == LIBSSH2_FX_OP_UNSUPPORTED) {
        setPhase(Phase::ReplaceByCommand);
        return Result::Progress;
    }
    // Whatever happened, the target is either the old or the new file, and the temporary is
    // removed if it is still there.
    m_error = answer->status == LIBSSH2_FX_CONNECTION_LOST
                  ? sftpFailureText(SftpOperation::Rename, m_remotePath, answer->message)
                  : sftpFailureText(SftpOperation::Rename, m_remotePath, answer->status);
    setPhase(Phase::RemoveTemporary);
    return Result::Progress;
}
#endif

QByteArray SftpUploadJob::replaceCommand(const QString &from, const QString &to)
{
    // Inside single quotes the shell takes every character literally except the quote
    // itself, which is written as '\'' (close, escaped quote, reopen).
    const auto quoted = [](const QString &path) {
        QByteArray bytes = remoteNameToBytes(path);
        bytes.replace('\'', QByteArrayLiteral("'\\''"));
        return '\'' + bytes + '\'';
    };
    return QByteArrayLiteral("mv -f -- ") + quoted(from) + ' ' + quoted(to) +
           QByteArrayLiteral(" && echo ") + kReplacedMarker;
}

// Replaces the existing target by the complete temporary with one rename(2) on the
// controller, by a command on a channel of this job's own; the SFTP session stays free for the
// other jobs meanwhile.
SftpJob::Result SftpUploadJob::replaceByCommand()
{
    if (!m_replaceCommand) {
        m_replaceCommand = std::make_unique<RemoteCommand>(
            *m_context, this, replaceCommand(m_temporaryPath, m_remotePath));
    }
    const Result result = m_replaceCommand->step();
    if (result != Result::Done)
        return result;
    const std::unique_ptr<RemoteCommand> command = std::move(m_replaceCommand);
    switch (command->outcome()) {
    case RemoteCommand::Outcome::Refused:
        qCWarning(lcSsh).noquote()
            << "The controller opens no command channel (" + command->failure() + "); replacing"
            << m_remotePath << "by renaming it aside first";
        setPhase(Phase::MoveTargetAside);
        return Result::Progress;
    case RemoteCommand::Outcome::Exited: {
        // A login profile may print lines of its own before the command runs: the marker must
        // be the last line, and the command's exit status must say success as well.
        const QList<QByteArray> lines = command->output().trimmed().split('\n');
        if (command->exitStatus() == 0 && lines.last().trimmed() == kReplacedMarker) {
            setPhase(Phase::Done);
            return Result::Done;
        }
        const QByteArray errors = command->errors().trimmed();
        m_error = sftpFailureText(SftpOperation::Rename, m_remotePath,
                                  errors.isEmpty()
                                      ? sftpTr("the controller did not carry out the replacement")
                                      : QString::fromUtf8(errors));
        break;
    }
    default:
        m_error = sftpFailureText(SftpOperation::Rename, m_remotePath, command->failure());
        break;
    }
    setPhase(Phase::RemoveTemporary);
    return Result::Progress;
}

bool SftpUploadJob::replaceCallPending() const
{
    return m_replaceCommand && m_replaceCommand->callPending();
}

void SftpUploadJob::releaseHandle(bool immediately)
{
    SftpJob::releaseHandle(immediately);
    if (m_replaceCommand)
        m_replaceCommand->release(immediately);
}

SftpJob::Result SftpUploadJob::rename(const QString &from, const QString &to, long flags,
                                      Phase onSuccess, Phase onFailure)
{
    if (!acquire())
        return Result::Idle;
    const int rc = settle(renameRemote(from, to, flags));
    if (rc == LIBSSH2_ERROR_EAGAIN)
        return Result::Blocked;
    if (rc < 0) {
        if (failWith(SftpOperation::Rename, m_remotePath, rc) == Result::Fatal)
            return Result::Fatal;
        setPhase(onFailure);
    } else {
        setPhase(onSuccess);
    }
    return Result::Progress;
}

bool SftpUploadJob::cancel()
{
    m_cancelRequested = true;
    if (m_phase != Phase::Writing && (insideCall() || replaceCallPending()))
        return false;
    stopForCancel();
    return m_phase == Phase::Done;
}

void SftpUploadJob::stopForCancel()
{
    switch (m_phase) {
    case Phase::OpenLocal:
    case Phase::StatTarget:
    case Phase::OpenTemporary:
        // Nothing exists on the controller yet.
        m_reader.close();
        setPhase(Phase::Done);
        break;
    case Phase::Writing:
        m_draining = true;
        break;
    case Phase::CloseTemporary:
        setPhase(Phase::CloseAfterFailure);
        break;
    case Phase::Verifying:
        cancelRemoteHash(); // the temporary goes once the check has stopped
        break;
    case Phase::ReplaceByCommand:
        // Until mv may be running on the controller; from then on it ends as it will.
        if (m_replaceCommand && m_replaceCommand->hasStarted()) {
            m_cancelRequested = false;
            return;
        }
        m_replaceCommand.reset();
        setPhase(Phase::RemoveTemporary);
        break;
    case Phase::PosixReplace:
#if !QSSH_NATIVE_POSIX_RENAME
        if (m_posixRename) {
            m_cancelRequested = false; // the replacement is under way
            return;
        }
#endif
        setPhase(Phase::RemoveTemporary);
        break;
    case Phase::RenameIntoPlace:
    case Phase::MoveTargetAside:
        setPhase(Phase::RemoveTemporary);
        break;
    default:
        // The target is being replaced, or the job is failing already: it ends as it will.
        m_cancelRequested = false;
        return;
    }
    m_cancelRequested = false;
    if (m_error.isEmpty())
        m_error = sftpCancelledText(m_remotePath);
}

void SftpUploadJob::abandon(const QString &reason)
{
    m_leftBehind = temporaryThatMayExist();
    switch (m_phase) {
    case Phase::MoveTargetAside:
    case Phase::RenameAfterMoveAside:
    case Phase::RestoreTarget:
    case Phase::RemoveBackup:
        m_interruptedAside = true;
        break;
    default:
        break;
    }
    m_reader.close();
    if (m_error.isEmpty())
        m_error = sftpFailureText(SftpOperation::Write, m_remotePath, reason);
    setPhase(Phase::Done);
}

std::optional<SftpInterruptedReplacement> SftpUploadJob::interruptedReplacement() const
{
    if (!m_interruptedAside)
        return std::nullopt;
    return SftpInterruptedReplacement{m_remotePath, m_backupPath, m_temporaryPath};
}

} // namespace QSsh::Internal
