#pragma once

#include "MachineProfile.h"

#include <QHash>
#include <QObject>
#include <QPointer>

#include <functional>
#include <optional>

class CConnectionForSshClient;
class PreviewWindow;
class QAction;
class QWidget;

// What the main window needs for previews: the two actions, "Preview" for the selected
// remote file and "Preview local file…", and the read of a remote file through the worker.
// A remote read is no file operation: it has a request and a reply of its own, and leaves
// the window's buttons, log and list alone, except that a failure is told to the log.
class PreviewLauncher : public QObject
{
    Q_OBJECT
public:
    // selectedRemoteFile gives the remote path of the file to preview, or an empty text when
    // no file is selected; isEnglish is the window's language flag. window parents the
    // preview windows and the file dialog.
    PreviewLauncher(CConnectionForSshClient *worker, std::function<QString()> selectedRemoteFile,
                    std::function<bool()> isEnglish, QWidget *window);

    QAction *previewAction() const { return m_previewAction; }
    QAction *previewLocalAction() const { return m_previewLocalAction; }
    // Sets the actions' texts in the window's present language.
    void retranslate();

    // The machine the previews check their programs against and time them on: the one set
    // here, else the profile of the worker's controller in the address book, as it is when
    // a preview opens.
    void setMachineProfile(const MachineProfile &machine) { m_machine = machine; }
    MachineProfile machineProfile() const;

    PreviewWindow *previewRemoteFile(const QString &remotePath);
    PreviewWindow *previewLocalFile(const QString &localPath);
    // Reads the file again into every open preview of it (after it was saved back).
    void reloadRemoteFile(const QString &remotePath);

signals:
    void sigReadRemoteFile(quint64 request, QString remotePath, qint64 maxSize);
    void sigCancelRemoteRead(quint64 request);
    // A remote read failed; the text is for the operation log.
    void failureLogged(QString text);

private:
    void onRemoteFileRead(quint64 request, QByteArray data, qint64 fileSize, QString error);
    void onPreviewTriggered();
    void onPreviewLocalTriggered();
    void readInto(PreviewWindow *window, const QString &remotePath);

    QWidget *const m_window;
    const std::function<QString()> m_selectedRemoteFile;
    const std::function<bool()> m_isEnglish;
    QAction *m_previewAction = nullptr;
    QAction *m_previewLocalAction = nullptr;
    const QString m_address; // the worker's controller
    std::optional<MachineProfile> m_machine;
    struct Pending
    {
        QPointer<PreviewWindow> window;
        QString name;
    };
    QHash<quint64, Pending> m_pending;
};
