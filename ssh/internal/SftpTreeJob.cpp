#include "SftpTreeJob.h"

#include "RemoteFileName.h"

#include <QDateTime>

#include <algorithm>

namespace QSsh::Internal {

namespace {

// A name is at most 255 bytes on the controller's file systems; the rest is headroom.
constexpr size_t kNameBuffer = 1024;

SftpTreeEntry::Kind kindOf(const LIBSSH2_SFTP_ATTRIBUTES &attributes)
{
    // Without permissions the kind is unknown: Other, which is never descended into.
    if (!(attributes.flags & LIBSSH2_SFTP_ATTR_PERMISSIONS))
        return SftpTreeEntry::Kind::Other;
    const unsigned long mode = attributes.permissions;
    return LIBSSH2_SFTP_S_ISDIR(mode)   ? SftpTreeEntry::Kind::Folder
           : LIBSSH2_SFTP_S_ISREG(mode) ? SftpTreeEntry::Kind::File
           : LIBSSH2_SFTP_S_ISLNK(mode) ? SftpTreeEntry::Kind::Link
                                        : SftpTreeEntry::Kind::Other;
}

bool isFolder(const LIBSSH2_SFTP_ATTRIBUTES &attributes)
{
    return kindOf(attributes) == SftpTreeEntry::Kind::Folder;
}

bool isMissing(int rc, LIBSSH2_SFTP *sftp)
{
    if (rc != LIBSSH2_ERROR_SFTP_PROTOCOL)
        return false;
    const unsigned long status = libssh2_sftp_last_error(sftp);
    return status == LIBSSH2_FX_NO_SUCH_FILE || status == LIBSSH2_FX_NO_SUCH_PATH;
}

} // namespace

SftpTreeJob::SftpTreeJob(SftpJobId id, Mode mode, const QString &path)
    : SftpJob(id), m_mode(mode), m_path(path), m_root(remoteNameToBytes(path))
{
    // "link/" would name the folder the link points to: the walk must start at the link.
    while (m_root.size() > 1 && m_root.endsWith('/'))
        m_root.chop(1);
    if (m_root.isEmpty()) {
        // An empty path is the login folder to the server: never taken for one by mistake.
        m_error = sftpFailureText(mode == Mode::List ? SftpOperation::ListDirectory
                                                     : SftpOperation::RemoveTree,
                                  path, sftpTr("no path given"));
        setPhase(Phase::Done);
    }
}

QString SftpTreeJob::text(const QByteArray &path)
{
    return remoteNameFromBytes(path);
}

QByteArray SftpTreeJob::remotePath(const QByteArray &relative) const
{
    if (relative.isEmpty())
        return m_root;
    return m_root == "/" ? m_root + relative : m_root + '/' + relative;
}

SftpJob::Result SftpTreeJob::step()
{
    if (m_cancelRequested && !insideCall() && m_phase != Phase::Done)
        fail(sftpCancelledText(m_path));
    const Result result =
        repeatWithinBudget([this] { return stepPhase(); },
                           [this] { return m_phase != Phase::Done && !m_cancelRequested; });
    if (result == Result::Fatal || m_phase != Phase::Done)
        return result;
    return Result::Done;
}

SftpJob::Result SftpTreeJob::stepPhase()
{
    switch (m_phase) {
    case Phase::StatRoot:
        return statRoot();
    case Phase::OpenFolder:
        return openFolder();
    case Phase::ReadFolder:
        return readFolder();
    case Phase::CloseFolder:
        return closeFolder();
    case Phase::RemoveEntry:
        return remove(SftpOperation::Remove);
    case Phase::RemoveFolder:
        return remove(SftpOperation::RemoveDirectory);
    case Phase::Done:
        break;
    }
    return Result::Done;
}

bool SftpTreeJob::cancel()
{
    // What is removed stays removed; the walk stops once no call of it is half done.
    m_cancelRequested = true;
    if (insideCall())
        return false;
    fail(sftpCancelledText(m_path));
    return m_phase == Phase::Done;
}

void SftpTreeJob::abandon(const QString &reason)
{
    if (m_error.isEmpty())
        m_error = sftpFailureText(m_mode == Mode::List ? SftpOperation::ListDirectory
                                                       : SftpOperation::RemoveTree,
                                  m_path, reason);
    setPhase(Phase::Done);
}

SftpJob::Result SftpTreeJob::fail(const QString &text)
{
    if (m_error.isEmpty())
        m_error = text;
    m_stack.clear();
    setPhase(m_handle ? Phase::CloseFolder : Phase::Done);
    return Result::Progress;
}

SftpJob::Result SftpTreeJob::failWithRc(SftpOperation operation, const QByteArray &path, int rc)
{
    if (SshSession::isSessionError(rc))
        return Result::Fatal;
    return fail(failureText(operation, text(path), rc));
}

SftpJob::Result SftpTreeJob::statRoot()
{
    if (!acquire())
        return Result::Idle;
    LIBSSH2_SFTP_ATTRIBUTES attributes{};
    const int rc = settle(statPath(text(m_root), LIBSSH2_SFTP_LSTAT, &attributes));
    if (rc == LIBSSH2_ERROR_EAGAIN)
        return Result::Blocked;
    if (rc < 0 && m_mode == Mode::List && isMissing(rc, m_context->sftp)) {
        setPhase(Phase::Done); // nothing there: no entries, and no error
        return Result::Progress;
    }
    if (rc < 0)
        return failWithRc(m_mode == Mode::List ? SftpOperation::Stat : SftpOperation::RemoveTree,
                          m_root, rc);
    if (m_mode == Mode::List) {
        record(QByteArray(), attributes);
    } else if (!isFolder(attributes)) {
        m_target = m_root;
        setPhase(Phase::RemoveEntry);
        return Result::Progress;
    }
    if (isFolder(attributes))
        m_stack.push_back(Folder{});
    advance();
    return Result::Progress;
}

SftpJob::Result SftpTreeJob::openFolder()
{
    if (!acquire())
        return Result::Idle;
    const QByteArray path = remotePath(m_stack.back().relative);
    LIBSSH2_SFTP_HANDLE *const handle = libssh2_sftp_open_ex(
        m_context->sftp, path.constData(), unsigned(path.size()), 0, 0, LIBSSH2_SFTP_OPENDIR);
    const int rc = settle(handle ? 0 : lastErrno());
    if (rc == LIBSSH2_ERROR_EAGAIN)
        return Result::Blocked;
    if (!handle)
        return failWithRc(SftpOperation::ListDirectory, path, rc);
    m_handle = handle;
    setPhase(Phase::ReadFolder);
    return Result::Progress;
}

SftpJob::Result SftpTreeJob::readFolder()
{
    if (!acquire())
        return Result::Idle;
    char name[kNameBuffer];
    Child child;
    const int rc =
        settle(libssh2_sftp_readdir_ex(m_handle, name, sizeof name, nullptr, 0, &child.attributes));
    if (rc == LIBSSH2_ERROR_EAGAIN)
        return Result::Blocked;
    if (rc < 0)
        return failWithRc(SftpOperation::ListDirectory, remotePath(m_stack.back().relative), rc);
    if (rc == 0) {
        m_stack.back().read = true;
        setPhase(Phase::CloseFolder);
        return Result::Progress;
    }
    child.name = QByteArray(name, rc);
    if (child.name != "." && child.name != "..")
        m_stack.back().pending.push_back(std::move(child));
    return Result::Progress;
}

SftpJob::Result SftpTreeJob::closeFolder()
{
    int rc = 0;
    const Result closing = closeHandle(&rc);
    if (closing != Result::Progress)
        return closing;
    // The folder has been read to its end: a refused close loses nothing.
    if (rc < 0)
        qCDebug(lcSsh) << "SFTP job" << m_id << ": closing a folder failed, rc" << rc;
    if (!m_error.isEmpty()) {
        setPhase(Phase::Done);
        return Result::Progress;
    }
    // Entries come in the order of the folder, as they are taken from the back.
    std::reverse(m_stack.back().pending.begin(), m_stack.back().pending.end());
    advance();
    return Result::Progress;
}

SftpJob::Result SftpTreeJob::remove(SftpOperation operation)
{
    if (!acquire())
        return Result::Idle;
    LIBSSH2_SFTP *const sftp = m_context->sftp;
    const int rc =
        settle(operation == SftpOperation::Remove
                   ? libssh2_sftp_unlink_ex(sftp, m_target.constData(), unsigned(m_target.size()))
                   : libssh2_sftp_rmdir_ex(sftp, m_target.constData(), unsigned(m_target.size())));
    if (rc == LIBSSH2_ERROR_EAGAIN)
        return Result::Blocked;
    // An entry gone since its folder was read has been removed by someone else: the walk goes on.
    if (rc < 0 && !isMissing(rc, sftp)) {
        // The walk knows this is no folder: a generic refusal means just that.
        if (rc == LIBSSH2_ERROR_SFTP_PROTOCOL && operation == SftpOperation::Remove)
            return fail(sftpFailureText(operation, text(m_target),
                                        sftpStatusText(libssh2_sftp_last_error(sftp))));
        return failWithRc(operation, m_target, rc);
    }
    if (operation == SftpOperation::RemoveDirectory)
        m_stack.pop_back();
    advance();
    return Result::Progress;
}

void SftpTreeJob::record(const QByteArray &relative, const LIBSSH2_SFTP_ATTRIBUTES &attributes)
{
    SftpTreeEntry entry;
    entry.path = text(relative);
    entry.kind = kindOf(attributes);
    if (attributes.flags & LIBSSH2_SFTP_ATTR_SIZE)
        entry.size = attributes.filesize;
    if (attributes.flags & LIBSSH2_SFTP_ATTR_ACMODTIME)
        entry.modified = QDateTime::fromSecsSinceEpoch(qint64(attributes.mtime), Qt::UTC);
    m_entries.append(entry);
}

void SftpTreeJob::advance()
{
    while (!m_stack.empty()) {
        Folder &folder = m_stack.back();
        if (!folder.read) {
            setPhase(Phase::OpenFolder);
            return;
        }
        if (folder.pending.empty()) {
            if (m_mode == Mode::Remove) {
                m_target = remotePath(folder.relative);
                setPhase(Phase::RemoveFolder);
                return;
            }
            m_stack.pop_back();
            continue;
        }
        const Child child = std::move(folder.pending.back());
        folder.pending.pop_back();
        const QByteArray relative =
            folder.relative.isEmpty() ? child.name : folder.relative + '/' + child.name;
        if (m_mode == Mode::List)
            record(relative, child.attributes);
        if (isFolder(child.attributes)) {
            m_stack.push_back(Folder{relative, false, {}});
        } else if (m_mode == Mode::Remove) {
            m_target = remotePath(relative);
            setPhase(Phase::RemoveEntry);
            return;
        }
    }
    setPhase(Phase::Done);
}

} // namespace QSsh::Internal
