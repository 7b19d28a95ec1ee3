#pragma once

#include <QString>

namespace QSsh::Internal {

enum class SftpOperation {
    OpenForReading,
    OpenForWriting,
    Read,
    Write,
    Close,
    Stat,
    Rename,
    RenameEntry,
    Remove,
    RemoveDirectory,
    CreateDirectory,
    ListDirectory,
    RemoveTree,
    Verify
};

// A text of the SFTP layer in the operator's language; all of them share one translation
// context.
QString sftpTr(const char *text);

// The meaning of an SFTP status code (LIBSSH2_FX_*), e.g. "no such file or directory".
QString sftpStatusText(unsigned long status);

// A complete, user-readable failure text for one operation on path that the server answered
// with status. Protocol 3 servers answer most refusals with the generic failure code; the
// operation tells what it most likely means (a directory that is not empty, one that
// already exists).
QString sftpFailureText(SftpOperation operation, const QString &path, unsigned long status);

// The same for failures that are not SFTP statuses (the channel broke, for instance).
QString sftpFailureText(SftpOperation operation, const QString &path, const QString &reason);

// The error of a job that was cancelled on request.
QString sftpCancelledText(const QString &path);

} // namespace QSsh::Internal
