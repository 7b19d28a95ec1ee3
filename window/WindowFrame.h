#pragma once

#include <QString>

class FileActions;
class QAction;
class QLabel;
class QObject;
class QPlainTextEdit;
class QPushButton;
class QTreeView;
class QWidget;
class TransferProgressLine;

// The widget tree of the main window, top to bottom: the heading with the current folder, the
// language button and the connection indicator; the remote list; the action buttons, which show
// the file actions; the transfer line; the operation log. The widgets are the window's
// children and carry the names of the window's members as object names.
struct WindowFrame
{
    static WindowFrame build(QWidget *window, bool english, const QString &rootPath,
                             const FileActions *actions);

    // The texts of the frame that follow the language.
    static QString title(bool english);
    static QString connectedTitle(bool english, const QString &host);
    // The worker's address as the titles show it.
    static QString hostText(const QString &address, int port);
    // "Connect to another controller…", object name "anotherControllerAction".
    static QAction *anotherControllerAction(bool english, QObject *parent);
    static QString anotherControllerText(bool english);
    static QString reconnectingTitle(bool english);
    static QString pathText(bool english, const QString &folder);
    static QString statusLabelText(bool english);
    // The language button names the language it switches to.
    static QString languageButtonText(bool english);

    // Shares the list's width among its columns.
    static void fitColumns(QTreeView *view);
    // Adds a line to the operation log, after the time; a failure's line stands out in red.
    // Plain text: a file name such as "<b>x</b>.nc" is shown as it is. The view follows the new
    // line only while it shows the end.
    static void appendLogLine(QPlainTextEdit *log, const QString &text, bool failure = false);

    QLabel *pathLabel = nullptr;
    QPushButton *languageButton = nullptr;
    QLabel *statusLabel = nullptr;
    QLabel *statusIndicator = nullptr;
    QTreeView *treeView = nullptr;
    QPushButton *uploadButton = nullptr;
    QPushButton *downloadButton = nullptr;
    QPushButton *newFolderButton = nullptr;
    QPushButton *deleteButton = nullptr;
    QPushButton *refreshButton = nullptr;
    TransferProgressLine *progressLine = nullptr;
    QPlainTextEdit *logEdit = nullptr;
};
