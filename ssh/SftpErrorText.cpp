#include "SftpErrorText.h"

#include <QCoreApplication>

#include <libssh2.h>
#include <libssh2_sftp.h>

namespace QSsh::Internal {

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("QSsh::SftpChannel", text);
}

QString operationText(SftpOperation operation, const QString &path)
{
    switch (operation) {
    case SftpOperation::OpenForReading:
        return tr("Cannot open remote file \"%1\" for reading").arg(path);
    case SftpOperation::OpenForWriting:
        return tr("Cannot create remote file \"%1\"").arg(path);
    case SftpOperation::Read:
        return tr("Cannot read remote file \"%1\"").arg(path);
    case SftpOperation::Write:
        return tr("Cannot write remote file \"%1\"").arg(path);
    case SftpOperation::Close:
        return tr("Cannot complete remote file \"%1\"").arg(path);
    case SftpOperation::Stat:
        return tr("Cannot look up remote path \"%1\"").arg(path);
    case SftpOperation::Rename:
        return tr("Cannot move remote file into place as \"%1\"").arg(path);
    case SftpOperation::Remove:
        return tr("Cannot remove remote file \"%1\"").arg(path);
    case SftpOperation::RemoveDirectory:
        return tr("Cannot remove remote directory \"%1\"").arg(path);
    case SftpOperation::CreateDirectory:
        return tr("Cannot create remote directory \"%1\"").arg(path);
    }
    return tr("Remote operation on \"%1\" failed").arg(path);
}

} // namespace

QString sftpStatusText(unsigned long status)
{
    switch (status) {
    case LIBSSH2_FX_OK:
        return tr("no error");
    case LIBSSH2_FX_EOF:
        return tr("unexpected end of file");
    case LIBSSH2_FX_NO_SUCH_FILE:
    case LIBSSH2_FX_NO_SUCH_PATH:
        return tr("no such file or directory");
    case LIBSSH2_FX_PERMISSION_DENIED:
    case LIBSSH2_FX_WRITE_PROTECT:
        return tr("permission denied");
    case LIBSSH2_FX_FAILURE:
        return tr("the controller refused the operation");
    case LIBSSH2_FX_BAD_MESSAGE:
        return tr("the controller did not understand the request");
    case LIBSSH2_FX_NO_CONNECTION:
    case LIBSSH2_FX_CONNECTION_LOST:
        return tr("connection lost");
    case LIBSSH2_FX_OP_UNSUPPORTED:
        return tr("operation not supported by the controller");
    case LIBSSH2_FX_INVALID_HANDLE:
        return tr("invalid file handle");
    case LIBSSH2_FX_FILE_ALREADY_EXISTS:
        return tr("it already exists");
    case LIBSSH2_FX_NO_MEDIA:
        return tr("no medium");
    case LIBSSH2_FX_NO_SPACE_ON_FILESYSTEM:
        return tr("no space left on the controller");
    case LIBSSH2_FX_QUOTA_EXCEEDED:
        return tr("disk quota exceeded");
    case LIBSSH2_FX_UNKNOWN_PRINCIPAL:
        return tr("unknown user");
    case LIBSSH2_FX_LOCK_CONFLICT:
        return tr("the file is locked");
    case LIBSSH2_FX_DIR_NOT_EMPTY:
        return tr("the directory is not empty");
    case LIBSSH2_FX_NOT_A_DIRECTORY:
        return tr("not a directory");
    case LIBSSH2_FX_INVALID_FILENAME:
        return tr("invalid file name");
    case LIBSSH2_FX_LINK_LOOP:
        return tr("too many levels of symbolic links");
    }
    return tr("SFTP status %1").arg(status);
}

QString sftpFailureText(SftpOperation operation, const QString &path, unsigned long status)
{
    QString reason = sftpStatusText(status);
    if (status == LIBSSH2_FX_FAILURE) {
        if (operation == SftpOperation::RemoveDirectory)
            reason = tr("the directory is not empty or cannot be removed");
        else if (operation == SftpOperation::CreateDirectory)
            reason = tr("it already exists or cannot be created");
        else if (operation == SftpOperation::Remove)
            reason = tr("it is a directory or cannot be removed");
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

} // namespace QSsh::Internal
