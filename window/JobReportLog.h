#pragma once

#include "SshTypes.h"

#include <QString>

#include <functional>

// The operation log's lines about what the connection worker reports back: a finished SFTP job
// (or one the operator cancelled), a rename, and an upload that a lost connection cut off while
// it replaced its file and that has since been set right.
class JobReportLog
{
public:
    // english() picks the language of each line when it is written; append() writes it.
    JobReportLog(std::function<bool()> english, std::function<void(const QString &)> append);

    // cancelledName: the file's name if the operator had cancelled the transfer, else null.
    void jobFinished(QSsh::SftpJobId job, const QString &error, const QString &cancelledName) const;
    void renameFinished(const QString &oldPath, const QString &newPath, const QString &error) const;
    void replacementRecovered(const QString &remotePath, const QString &backupPath,
                              QSsh::SftpRecovery outcome, const QString &error) const;

private:
    QString text(const QString &english, const QString &chinese) const
    {
        return m_english() ? english : chinese;
    }

    const std::function<bool()> m_english;
    const std::function<void(const QString &)> m_append;
};
