#pragma once

#include "EditedFile.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>

class CConnectionForSshClient;
class EditSync;
class EditsPanel;
class PreviewLauncher;
class QAction;
class QWidget;

// Editing a controller's file in place, as the main window offers it: "Edit" (F4) on a remote
// file fetches it into a working copy of its own in the cache folder and opens it in the
// operator's editor (EditorChoice, asked the first time); every save of it goes back to the
// controller, verified, unless the controller's file changed meanwhile: then the operator
// chooses. Saves made while the link is down go once it is back. "Files open for editing"
// shows them with their state; closing the window with saves not yet sent asks first.
class EditInPlace : public QObject
{
    Q_OBJECT
public:
    // selectedRemoteFile gives the remote path of the selected file, or an empty text;
    // isEnglish is the window's language flag; previews (may be null) reload a file after a
    // save; window parents the dialogs and is asked before it closes. worker may be null.
    EditInPlace(CConnectionForSshClient *worker, std::function<QString()> selectedRemoteFile,
                std::function<bool()> isEnglish, PreviewLauncher *previews, QWidget *window);

    QAction *editAction() const { return m_editAction; }
    QAction *panelAction() const { return m_panelAction; }
    void retranslate();

    void edit(const QString &remotePath);
    QList<EditedFile *> files() const { return m_files; }
    // Forgets the file; its working copy goes too when nothing of it is left to send.
    void stopWatching(EditedFile *file);
    // The folder of this controller's working copies.
    QString workingFolder() const;

signals:
    // A line for the operation log; failure lines stand out.
    void logged(QString text, bool failure);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    QString text(const QString &english, const QString &chinese) const
    {
        return m_isEnglish() ? english : chinese;
    }
    void log(const QString &english, const QString &chinese, const QString &name,
             bool failure = false)
    {
        emit logged(text(english, chinese).arg(name), failure);
    }
    void openEditor(EditedFile *file);
    void onSaved(EditedFile *file);
    // Looks at the controller's file, then sends the save or asks what to do.
    void startSave(EditedFile *file);
    void send(EditedFile *file, const QString &target);
    // The save is on the controller: said, and an open preview of it reads it again.
    void savedBack(const QString &remotePath);
    // The answer to a transfer of file: then(file) on success, else failed(); nothing once the
    // file is no longer watched.
    std::function<void(const QString &)> succeeded(EditedFile *file,
                                                   std::function<void(EditedFile *)> then);
    // A request that did not succeed: it waits for the connection, or the save failed.
    void failed(EditedFile *file, const QString &error);
    void askAboutConflict(EditedFile *file);
    void keepControllers(EditedFile *file);
    void saveAsNew(EditedFile *file);
    void sendWaiting();
    // Drops the file from the list without a word.
    void forget(EditedFile *file);
    bool closeAllowed();

    // The controller's address, which names its folder of working copies.
    const QString m_address;
    QWidget *const m_window;
    const std::function<QString()> m_selectedRemoteFile;
    const std::function<bool()> m_isEnglish;
    const QPointer<PreviewLauncher> m_previews;
    EditSync *const m_sync;
    QAction *const m_editAction;
    QAction *const m_panelAction;
    EditsPanel *m_panel = nullptr;
    QList<EditedFile *> m_files;
};
