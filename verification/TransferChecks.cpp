#include "TransferChecks.h"

#include "CConnectionForSshClient.h"
#include "HistoryDialog.h"
#include "ProgramFiles.h"

#include <QAction>
#include <QFileDialog>
#include <QMessageBox>
#include <QSettings>
#include <QWidget>

namespace {

const QString kVerifyKey = QStringLiteral("verifyTransfers");

// The first 12 hex digits: enough for an operator to match two hashes by eye.
QString shortHash(const QByteArray &sha256)
{
    return QString::fromLatin1(sha256.toHex().left(12));
}

QString fileName(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace

TransferChecks::TransferChecks(CConnectionForSshClient *worker,
                               std::function<QString()> selectedRemoteFile,
                               std::function<bool()> isEnglish, QWidget *window)
    : QObject(window), m_worker(worker), m_window(window),
      m_selectedRemoteFile(std::move(selectedRemoteFile)), m_isEnglish(std::move(isEnglish)),
      m_verifyAction(new QAction(this)), m_compareAction(new QAction(this)),
      m_historyAction(new QAction(this))
{
    m_verifyAction->setObjectName(QStringLiteral("verifyAction"));
    m_verifyAction->setCheckable(true);
    m_compareAction->setObjectName(QStringLiteral("compareAction"));
    m_historyAction->setObjectName(QStringLiteral("historyAction"));
    const QSettings settings(ProgramFiles::settingsFile(), QSettings::IniFormat);
    m_verifyAction->setChecked(settings.value(kVerifyKey, true).toBool());
    retranslate();
    connect(m_verifyAction, &QAction::toggled, this, &TransferChecks::onVerifyToggled);
    connect(m_compareAction, &QAction::triggered, this, &TransferChecks::onCompareTriggered);
    connect(m_historyAction, &QAction::triggered, this, &TransferChecks::onHistoryTriggered);
    if (!worker)
        return;
    using Worker = CConnectionForSshClient;
    connect(this, &TransferChecks::sigSetVerifyTransfers, worker, &Worker::slotSetVerifyTransfers);
    connect(worker, &Worker::sftpTransferVerified, this,
            [this](QSsh::SftpJobId, const QString &name, const QSsh::SftpVerification &result) {
                onTransferVerified(name, result);
            });
    connect(worker, &Worker::sftpTransferUnverified, this,
            [this](QSsh::SftpJobId, const QString &name) { onTransferUnverified(name); });
    connect(worker, &Worker::sigHistoryUnwritable, this, [this](const QString &reason) {
        emit logged(text(QStringLiteral("Warning: the history of this controller cannot be "
                                        "written (%1); file operations go on without it."),
                         QStringLiteral("警告：无法写入此控制器的历史记录（%1）；文件操作照常进行，"
                                        "但不再记录。"))
                        .arg(reason),
                    true);
    });
    // Queued before any request of the window, so every transfer follows the setting.
    emit sigSetVerifyTransfers(m_verifyAction->isChecked());
}

void TransferChecks::retranslate()
{
    m_verifyAction->setText(text(QStringLiteral("Verify transfers"), QStringLiteral("校验传输")));
    m_compareAction->setText(
        text(QStringLiteral("Compare with local file…"), QStringLiteral("与本地文件比较…")));
    m_historyAction->setText(text(QStringLiteral("Open history"), QStringLiteral("打开历史记录")));
}

void TransferChecks::onVerifyToggled(bool verify)
{
    QSettings settings(ProgramFiles::settingsFile(), QSettings::IniFormat);
    settings.setValue(kVerifyKey, verify);
    emit sigSetVerifyTransfers(verify);
    emit logged(verify ? text(QStringLiteral("Transfers will be verified."),
                              QStringLiteral("传输将被校验。"))
                       : text(QStringLiteral("Transfers will not be verified."),
                              QStringLiteral("传输将不再校验。")),
                false);
}

void TransferChecks::onTransferVerified(const QString &name, const QSsh::SftpVerification &result)
{
    if (result.outcome == QSsh::SftpVerification::Outcome::Verified) {
        emit logged(
            text(QStringLiteral("Verified %1: SHA-256 %2"), QStringLiteral("已校验 %1：SHA-256 %2"))
                .arg(name, shortHash(result.localSha256)),
            false);
        return;
    }
    emit logged(text(QStringLiteral("Verification failed: %1 differs between the controller "
                                    "(SHA-256 %2) and this computer (SHA-256 %3); it was not put "
                                    "in place."),
                     QStringLiteral("校验失败：%1 在控制器上（SHA-256 %2）与本机（SHA-256 %3）"
                                    "不一致，未放置到位。"))
                    .arg(name, shortHash(result.remoteSha256), shortHash(result.localSha256)),
                true);
}

void TransferChecks::onTransferUnverified(const QString &name)
{
    emit logged(text(QStringLiteral("Not verified: %1 (verification is switched off)"),
                     QStringLiteral("未校验 %1（校验已关闭）"))
                    .arg(name),
                false);
}

void TransferChecks::onCompareTriggered()
{
    const QString remotePath = m_selectedRemoteFile ? m_selectedRemoteFile() : QString();
    if (remotePath.isEmpty() || !m_worker)
        return;
    const QString localPath =
        QFileDialog::getOpenFileName(m_window, text(QStringLiteral("Compare %1 with local file"),
                                                    QStringLiteral("将 %1 与本地文件比较"))
                                                   .arg(fileName(remotePath)));
    if (!localPath.isEmpty())
        compare(remotePath, localPath);
}

void TransferChecks::onHistoryTriggered()
{
    auto *dialog =
        new HistoryDialog(m_worker ? m_worker->m_strIp : QString(), m_isEnglish(), m_window);
    dialog->show();
}

FileComparison *TransferChecks::compare(const QString &remotePath, const QString &localPath)
{
    auto *comparison = new FileComparison(m_worker, remotePath, localPath, this);
    connect(comparison, &FileComparison::finished, this,
            [this, comparison](const FileComparison::Result &result) {
                showComparison(*comparison, result);
            });
    comparison->start();
    return comparison;
}

void TransferChecks::showComparison(const FileComparison &comparison,
                                    const FileComparison::Result &result)
{
    const QString name = fileName(comparison.remotePath());
    const QString local = comparison.localPath();
    QString summary;
    QString details;
    if (!result.error.isEmpty()) {
        summary = text(QStringLiteral("Could not compare %1 with %2: %3"),
                       QStringLiteral("无法将 %1 与 %2 比较：%3"))
                      .arg(name, local, result.error);
    } else if (result.identical) {
        summary = text(QStringLiteral("%1 on the controller and %2 are identical (SHA-256 %3)."),
                       QStringLiteral("控制器上的 %1 与 %2 完全相同（SHA-256 %3）。"))
                      .arg(name, local, shortHash(result.remoteSha256));
    } else {
        summary = text(QStringLiteral("%1 on the controller and %2 are different."),
                       QStringLiteral("控制器上的 %1 与 %2 不同。"))
                      .arg(name, local);
        details =
            text(QStringLiteral("SHA-256 on the controller: %1\nSHA-256 of the local file: %2"),
                 QStringLiteral("控制器上的 SHA-256：%1\n本地文件的 SHA-256：%2"))
                .arg(QString::fromLatin1(result.remoteSha256.toHex()),
                     QString::fromLatin1(result.localSha256.toHex()));
        const LineDifference &difference = result.difference;
        if (difference.line > 0) {
            const QString ended =
                text(QStringLiteral("(end of file)"), QStringLiteral("（文件结束）"));
            details +=
                QLatin1String("\n\n") +
                text(QStringLiteral("First difference at line %1:\ncontroller: %2\nlocal: %3"),
                     QStringLiteral("第一处不同在第 %1 行：\n控制器：%2\n本地：%3"))
                    .arg(QString::number(difference.line),
                         difference.first.isNull() ? ended : difference.first,
                         difference.second.isNull() ? ended : difference.second);
        }
    }
    emit logged(summary, !result.error.isEmpty());

    auto *box = new QMessageBox(
        result.error.isEmpty() ? QMessageBox::Information : QMessageBox::Warning,
        text(QStringLiteral("Compare with local file"), QStringLiteral("与本地文件比较")), summary,
        QMessageBox::Ok, m_window);
    box->setObjectName(QStringLiteral("compareResult"));
    box->setInformativeText(details);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}
