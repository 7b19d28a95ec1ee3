#include "SshTypes.h"

#include "SshLogging.h"

namespace QSsh {

Q_LOGGING_CATEGORY(lcSsh, "cnc.ssh", QtInfoMsg)

void registerMetaTypes()
{
    // qRegisterMetaType is itself thread-safe and idempotent; the static only saves the
    // lookups on every connection object.
    static const bool registered = [] {
        qRegisterMetaType<QSsh::SftpJobId>("QSsh::SftpJobId");
        qRegisterMetaType<QSsh::SshError>("QSsh::SshError");
        qRegisterMetaType<QSsh::SftpRecovery>("QSsh::SftpRecovery");
        qRegisterMetaType<QSsh::SftpTree>("QSsh::SftpTree");
        qRegisterMetaType<QSsh::SftpVerification>("QSsh::SftpVerification");
        return true;
    }();
    Q_UNUSED(registered)
}

} // namespace QSsh
