#pragma once

#include "FileComparison.h"
#include "SshTypes.h"

#include <QObject>
#include <QString>

#include <functional>

class CConnectionForSshClient;
class QAction;
class QWidget;

// What the main window offers about the integrity of files and the record of what was done to
// them: the "Verify transfers" setting (on unless the operator switched it off; kept in the
// settings file), the log lines of each transfer's check, "Compare with local file…" for the
// selected remote file, and "Open history" for the controller's history (with the one warning
// line of a history that cannot be written).
class TransferChecks : public QObject
{
    Q_OBJECT
public:
    // selectedRemoteFile gives the remote path of the selected file, or an empty text;
    // isEnglish is the window's language flag; window parents the dialogs. worker may be null.
    TransferChecks(CConnectionForSshClient *worker, std::function<QString()> selectedRemoteFile,
                   std::function<bool()> isEnglish, QWidget *window);

    QAction *verifyAction() const { return m_verifyAction; }
    QAction *compareAction() const { return m_compareAction; }
    QAction *historyAction() const { return m_historyAction; }
    void retranslate();

    // Compares the controller's remotePath with localPath and shows the answer.
    FileComparison *compare(const QString &remotePath, const QString &localPath);

signals:
    // A line for the operation log; failure lines stand out.
    void logged(QString text, bool failure);
    void sigSetVerifyTransfers(bool verify);

private:
    QString text(const QString &english, const QString &chinese) const
    {
        return m_isEnglish() ? english : chinese;
    }
    void onVerifyToggled(bool verify);
    void onCompareTriggered();
    void onHistoryTriggered();
    void onTransferVerified(const QString &name, const QSsh::SftpVerification &result);
    void onTransferUnverified(const QString &name);
    void showComparison(const FileComparison &comparison, const FileComparison::Result &result);

    CConnectionForSshClient *const m_worker;
    QWidget *const m_window;
    const std::function<QString()> m_selectedRemoteFile;
    const std::function<bool()> m_isEnglish;
    QAction *const m_verifyAction;
    QAction *const m_compareAction;
    QAction *const m_historyAction;
};
