#include "SftpErrorText.h"

#include <QCoreApplication>

#include <libssh2.h>
#include <libssh2_sftp.h>

namespace QSsh::Internal {

QString sftpTr(const char *text)
{
    return QCoreApplication::translate("QSsh::SftpChannel", text);
}

namespace {

QString operationText(SftpOperation operation, const QString &path)
{
    switch (operation) {
    case SftpOperation::OpenForReading:
        return sftpTr("Cannot open remote file \"%1\" for reading").arg(path);
    case SftpOperation::OpenForWriting:
        return sftpTr("Cannot create remote file \"%1\"").arg(path);
    case SftpOperation::Read:
        return sftpTr("Cannot read remote file \"%1\"").arg(path);
    case SftpOperation::Write:
        return sftpTr("Cannot write remote file \"%1\"").arg(path);
    case SftpOperation::Close:
        return sftpTr("Cannot complete remote file \"%1\"").arg(path);
    case SftpOperation::Stat:
        return sftpTr("Cannot look up remote path \"%1\"").arg(path);
    case SftpOperation::Rename:
        return sftpTr("Cannot move remote file into place as \"%1\"").arg(path);
    case SftpOperation::RenameEntry:
        return sftpTr("Cannot rename remote path \"%1\"").arg(path);
    case SftpOperation::Remove:
        return sftpTr("Cannot remove remote file \"%1\"").arg(path);
    case SftpOperation::RemoveDirectory:
        return sftpTr("Cannot remove remote directory \"%1\"").arg(path);
    case SftpOperation::CreateDirectory:
        return sftpTr("Cannot create remote directory \"%1\"").arg(path);
    case SftpOperation::ListDirectory:
        return sftpTr("Cannot list remote directory \"%1\"").arg(path);
    case SftpOperation::RemoveTree:
        return sftpTr("Cannot remove remote path \"%1\"").arg(path);
    case SftpOperation::Verify:
        return sftpTr("Cannot verify remote file \"%1\"").arg(path);
    }
    return sftpTr("Remote operation on \"%1\" failed").arg(path);
}

} // namespace

QString sftpStatusText(unsigned long status)
{
    switch (status) {
    case LIBSSH2_FX_OK:
        return sftpTr("no error");
    case LIBSSH2_FX_EOF:
        return sftpTr("unexpected end of file");
    case LIBSSH2_FX_NO_SUCH_FILE:
    case LIBSSH2_FX_NO_SUCH_PATH:
        return sftpTr("no such file or directory");
    case LIBSSH2_FX_PERMISSION_DENIED:
    case LIBSSH2_FX_WRITE_PROTECT:
        return sftpTr("permission denied");
    case LIBSSH2_FX_FAILURE:
        return sftpTr("the controller refused the operation");
    case LIBSSH2_FX_BAD_MESSAGE:
        return sftpTr("the controller did not understand the request");
    case LIBSSH2_FX_NO_CONNECTION:
    case LIBSSH2_FX_CONNECTION_LOST:
        return sftpTr("connection lost");
    case LIBSSH2_FX_OP_UNSUPPORTED:
        return sftpTr("operation not supported by the controller");
    case LIBSSH2_FX_INVALID_HANDLE:
        return sftpTr("invalid file handle");
    case LIBSSH2_FX_FILE_ALREADY_EXISTS:
        return sftpTr("it already exists");
    case LIBSSH2_FX_NO_MEDIA:
        return sftpTr("no medium");
    case LIBSSH2_FX_NO_SPACE_ON_FILESYSTEM:
        return sftpTr("no space left on the controller");
    case LIBSSH2_FX_QUOTA_EXCEEDED:
        return sftpTr("disk quota exceeded");
    case LIBSSH2_FX_UNKNOWN_PRINCIPAL:
        return sftpTr("unknown user");
    case LIBSSH2_FX_LOCK_CONFLICT:
        return sftpTr("the file is locked");
    case LIBSSH2_FX_DIR_NOT_EMPTY:
        return sftpTr("the directory is not empty");
    case LIBSSH2_FX_NOT_A_DIRECTORY:
        return sftpTr("not a directory");
    case LIBSSH2_FX_INVALID_FILENAME:
        return sftpTr("invalid file name");
    case LIBSSH2_FX_LINK_LOOP:
        return sftpTr("too many levels of symbolic links");
    }
    return sftpTr("SFTP status %1").arg(status);
}

QString sftpFailureText(SftpOperation operation, const QString &path, unsigned long status)
{
    QString reason = sftpStatusText(status);
    if (status == LIBSSH2_FX_FAILURE) {
        if (operation == SftpOperation::RemoveDirectory)
            reason = sftpTr("the directory is not empty or cannot be removed");
        else if (operation == SftpOperation::CreateDirectory)
            reason = sftpTr("it already exists or cannot be created");
        else if (operation == SftpOperation::Remove)
            reason = sftpTr("it is a directory or cannot be removed");
        else if (operation == SftpOperation::RenameEntry)
            reason = sftpTr("the new name is already in use or cannot be used");
    }
    return sftpFailureText(operation, path, reason);
}

QString sftpFailureText(SftpOperation operation, const QString &path, const QString &reason)
{
    QString text = reason.trimmed();
    while (text.endsWith(QLatin1Char('.')))
        text.chop(1);
    return QStringLiteral("%1: %2.").arg(operationText(operation, path), text);
}

QString sftpCancelledText(const QString &path)
{
    return sftpTr("\"%1\": cancelled.").arg(path);
}

} // namespace QSsh::Internal
