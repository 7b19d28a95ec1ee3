#include "JobReportLog.h"

JobReportLog::JobReportLog(std::function<bool()> english,
                           std::function<void(const QString &)> append)
    : m_english(std::move(english)), m_append(std::move(append))
{}

void JobReportLog::jobFinished(QSsh::SftpJobId job, const QString &error,
                               const QString &cancelledName) const
{
    if (!error.isEmpty() && !cancelledName.isNull()) {
        m_append(text(QStringLiteral("Transfer cancelled: %1"), QStringLiteral("传输已取消: %1"))
                     .arg(cancelledName));
    } else if (error.isEmpty()) {
        m_append(text(QStringLiteral("SFTP task %1 completed successfully."),
                      QStringLiteral("SFTP任务 %1 已成功完成。"))
                     .arg(job));
    } else {
        m_append(
            text(QStringLiteral("SFTP task %1 failed: %2"), QStringLiteral("SFTP任务 %1 失败: %2"))
                .arg(QString::number(job), error));
    }
}

void JobReportLog::renameFinished(const QString &oldPath, const QString &newPath,
                                  const QString &error) const
{
    if (error.isEmpty()) {
        m_append(text(QStringLiteral("Renamed %1 to %2."), QStringLiteral("已将 %1 重命名为 %2。"))
                     .arg(oldPath, newPath));
    } else {
        m_append(
            text(QStringLiteral("Rename of %1 failed: %2"), QStringLiteral("重命名 %1 失败: %2"))
                .arg(oldPath, error));
    }
}

// An upload that the lost connection cut off halfway through replacing its file has been set
// right: the operator learns which content the file now holds.
void JobReportLog::replacementRecovered(const QString &remotePath, const QString &backupPath,
                                        QSsh::SftpRecovery outcome, const QString &error) const
{
    if (!error.isEmpty()) {
        m_append(
            text(QStringLiteral("The upload of %1 was cut off while it replaced the file and could "
                                "not be set right: %2. The previous file may be kept as %3."),
                 QStringLiteral("%1 的上传在替换文件时中断，且无法恢复：%2。原文件可能保存为 %3。"))
                .arg(remotePath, error, backupPath));
    } else if (outcome == QSsh::SftpRecovery::Restored) {
        m_append(text(QStringLiteral("The upload of %1 was cut off by the lost connection while it "
                                     "replaced the file; the previous file has been put back."),
                      QStringLiteral("%1 的上传因连接断开在替换文件时中断；原文件已恢复。"))
                     .arg(remotePath));
    } else if (outcome == QSsh::SftpRecovery::Completed) {
        m_append(text(QStringLiteral("The upload of %1 was cut off by the lost connection while it "
                                     "replaced the file; the new file is in place."),
                      QStringLiteral("%1 的上传因连接断开在替换文件时中断；新文件已就位。"))
                     .arg(remotePath));
    }
}
