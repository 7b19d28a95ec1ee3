#pragma once

#include "RemoteListModel.h"

#include <QObject>

class QAction;
class QPushButton;

// What the file operations depend on. The window keeps these facts; FileActions alone
// decides from them what can be done.
struct FileActionState
{
    bool connected = false;
    // The SFTP channel reported ready since the connection last came up.
    bool sftpReady = false;
    // A file request was sent and no job report has come back since.
    bool requestOutstanding = false;
    bool listing = false;
    // Refresh was offered since the connection last came up: the channel became ready, or a
    // listing went through.
    bool refreshOffered = false;
};

// One action per operation of the remote list: its text in both languages, its keys and its
// enabled state. The buttons, the list's keys and its context menu all show these actions.
// The menu shows an action's text ("Delete"); a button its icon text ("Delete 2 Items").
class FileActions : public QObject
{
    Q_OBJECT
public:
    FileActions(bool english, QObject *parent);

    QAction *upload() const { return m_upload; }
    QAction *uploadFolder() const { return m_uploadFolder; }
    QAction *download() const { return m_download; }
    QAction *newFolder() const { return m_newFolder; }
    QAction *remove() const { return m_remove; }
    QAction *rename() const { return m_rename; }
    QAction *refresh() const { return m_refresh; }

    void setEnglish(bool english);
    // The labels of Download and Delete count the selected files and items from two on.
    void showSelectionCounts(SelectionCounts counts);
    // The only place that enables or disables an action.
    void setState(const FileActionState &state);

    // The button shows the action's icon text and enabled state; a click triggers it.
    static void showOn(QAction *action, QPushButton *button);

private:
    QAction *addAction(const char *objectName);
    void updateTexts();

    bool m_english = false;
    SelectionCounts m_counts;
    QAction *const m_upload;
    QAction *const m_uploadFolder;
    QAction *const m_download;
    QAction *const m_newFolder;
    QAction *const m_remove;
    QAction *const m_rename;
    QAction *const m_refresh;
};
