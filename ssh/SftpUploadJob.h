#pragma once

#include "SftpJob.h"

#include <QByteArray>
#include <QFile>

namespace QSsh::Internal {

// Uploads a local file without ever exposing a partial target: the data goes to a hidden
// temporary file beside the target, which replaces the target only after every byte has
// been acknowledged and the handle closed.
//
// OpenSSH's sftp-server speaks protocol 3, whose rename refuses an existing target (the
// overwrite flags are not sent at that version). An existing target is therefore first
// renamed aside to a hidden backup name, the temporary renamed into place, and the backup
// removed. If the second rename fails, the backup is renamed back. Between the two renames
// the target name is briefly absent, but at no moment is the old content lost: it is either
// under the target name or under the backup name.
class SftpUploadJob : public SftpJob
{
public:
    SftpUploadJob(SftpJobId id, SftpContext &context, const QString &localPath,
                  const QString &remotePath, bool overwrite);
    Result step() override;
    bool isTransfer() const override { return true; }
    bool isUpload() const override { return true; }
    void abandon(const QString &reason) override;

    // ".NAME.part-TAG" in the directory of remotePath.
    static QString sideName(const QString &remotePath, const QString &kind, const QString &tag);

private:
    enum class Phase {
        OpenLocal,
        StatTarget,
        OpenTemporary,
        Writing,
        CloseTemporary,
        RenameIntoPlace,
        MoveTargetAside,
        RenameAfterMoveAside,
        RestoreTarget,
        RemoveBackup,
        CloseAfterFailure,
        RemoveTemporary,
        Done
    };

    Result stepPhase();
    Result fillAndWrite();
    Result rename(const QString &from, const QString &to, long flags, Phase onSuccess,
                  Phase onFailure);

    QFile m_local;
    const QString m_remotePath;
    const QString m_temporaryPath;
    const QString m_backupPath;
    const bool m_overwrite;
    Phase m_phase = Phase::OpenLocal;
    bool m_targetExists = false;
    unsigned long m_permissions = 0644;
    QByteArray m_buffer;
    int m_begin = 0; // first byte not yet acknowledged by the server
    int m_end = 0;   // end of the data read from the local file
    bool m_localAtEnd = false;
};

} // namespace QSsh::Internal
