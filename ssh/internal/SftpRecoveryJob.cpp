#include "SftpRecoveryJob.h"

#include "RemoteFileName.h"
#include "SshLogging.h"

namespace QSsh::Internal {

SftpRecoveryJob::SftpRecoveryJob(SftpJobId id, const SftpInterruptedReplacement &replacement)
    : SftpJob(id), m_names(replacement)
{}

SftpJob::Result SftpRecoveryJob::step()
{
    const Result result = stepPhase();
    if (result == Result::Fatal || m_phase != Phase::Done)
        return result;
    return Result::Done;
}

SftpJob::Result SftpRecoveryJob::stepPhase()
{
    switch (m_phase) {
    case Phase::StatTarget:
        return stat(m_names.target, &m_targetExists);
    case Phase::StatBackup:
        return stat(m_names.backup, &m_backupExists);
    case Phase::StatTemporary:
        return stat(m_names.temporary, &m_temporaryExists);
    case Phase::PutBackOld:
        return rename(m_names.backup, m_names.target);
    case Phase::PutNewInPlace:
        return rename(m_names.temporary, m_names.target);
    case Phase::RemoveBackup:
        return remove(m_names.backup);
    case Phase::RemoveTemporary:
        return remove(m_names.temporary);
    case Phase::Done:
        break;
    }
    return Result::Done;
}

SftpJob::Result SftpRecoveryJob::stat(const QString &path, bool *exists)
{
    if (!acquire())
        return Result::Idle;
    LIBSSH2_SFTP_ATTRIBUTES attributes{};
    const int rc = settle(statPath(path, LIBSSH2_SFTP_LSTAT, &attributes));
    if (rc == LIBSSH2_ERROR_EAGAIN)
        return Result::Blocked;
    const unsigned long status =
        rc == LIBSSH2_ERROR_SFTP_PROTOCOL ? libssh2_sftp_last_error(m_context->sftp) : 0;
    if (rc < 0 && status != LIBSSH2_FX_NO_SUCH_FILE && status != LIBSSH2_FX_NO_SUCH_PATH) {
        if (failWith(SftpOperation::Stat, path, rc) == Result::Fatal)
            return Result::Fatal;
        setPhase(Phase::Done);
        return Result::Progress;
    }
    *exists = rc == 0;
    if (m_phase == Phase::StatTarget)
        setPhase(Phase::StatBackup);
    else if (m_phase == Phase::StatBackup)
        setPhase(Phase::StatTemporary);
    else
        decide();
    return Result::Progress;
}

void SftpRecoveryJob::decide()
{
    qCDebug(lcSsh).noquote() << "interrupted replacement of" << m_names.target << "found: target"
                             << m_targetExists << "backup" << m_backupExists << "temporary"
                             << m_temporaryExists;
    if (m_targetExists) {
        // The target only ever came back under its name as the new content: if its old content
        // was moved aside, or the temporary is gone, the replacement had happened.
        m_outcome = m_backupExists || !m_temporaryExists ? SftpRecovery::Completed
                                                         : SftpRecovery::Untouched;
        setPhase(cleanUpPhase());
    } else if (m_backupExists) {
        m_outcome = SftpRecovery::Restored;
        setPhase(Phase::PutBackOld);
    } else if (m_temporaryExists) {
        m_outcome = SftpRecovery::Completed;
        setPhase(Phase::PutNewInPlace);
    } else {
        m_error = sftpFailureText(SftpOperation::Stat, m_names.target, LIBSSH2_FX_NO_SUCH_FILE);
        setPhase(Phase::Done);
    }
}

SftpRecoveryJob::Phase SftpRecoveryJob::cleanUpPhase() const
{
    if (m_backupExists && m_outcome == SftpRecovery::Completed)
        return Phase::RemoveBackup;
    return m_temporaryExists ? Phase::RemoveTemporary : Phase::Done;
}

// Never replaces: a protocol 3 rename refuses an existing target.
SftpJob::Result SftpRecoveryJob::rename(const QString &from, const QString &to)
{
    if (!acquire())
        return Result::Idle;
    const int rc = settle(renameRemote(from, to, 0));
    if (rc == LIBSSH2_ERROR_EAGAIN)
        return Result::Blocked;
    if (rc < 0) {
        if (failWith(SftpOperation::Rename, to, rc) == Result::Fatal)
            return Result::Fatal;
        setPhase(Phase::Done);
        return Result::Progress;
    }
    (m_phase == Phase::PutBackOld ? m_backupExists : m_temporaryExists) = false;
    m_targetExists = true;
    setPhase(cleanUpPhase());
    return Result::Progress;
}

SftpJob::Result SftpRecoveryJob::remove(const QString &path)
{
    if (!acquire())
        return Result::Idle;
    const QByteArray name = remoteNameToBytes(path);
    const int rc =
        settle(libssh2_sftp_unlink_ex(m_context->sftp, name.constData(), unsigned(name.size())));
    if (rc == LIBSSH2_ERROR_EAGAIN)
        return Result::Blocked;
    if (SshSession::isSessionError(rc))
        return Result::Fatal;
    if (rc < 0)
        qCWarning(lcSsh).noquote()
            << "Cannot remove" << path << ":" << failureText(SftpOperation::Remove, path, rc);
    (m_phase == Phase::RemoveBackup ? m_backupExists : m_temporaryExists) = false;
    setPhase(cleanUpPhase());
    return Result::Progress;
}

void SftpRecoveryJob::abandon(const QString &reason)
{
    if (m_error.isEmpty())
        m_error = sftpFailureText(SftpOperation::Rename, m_names.target, reason);
    setPhase(Phase::Done);
}

bool SftpRecoveryJob::cancel()
{
    // Every step leaves the files in a state the next recovery can read again.
    if (insideCall())
        return false;
    if (m_error.isEmpty())
        m_error = sftpCancelledText(m_names.target);
    setPhase(Phase::Done);
    return true;
}

} // namespace QSsh::Internal
