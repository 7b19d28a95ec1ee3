#pragma once

#include "RemoteListRoles.h"

#include <QString>
#include <QStringList>
#include <QVector>

// One selected row of the remote file list: the entry's own name in the current folder,
// exactly as the controller stores it (blanks at either end included; a symbolic link
// without its arrow and target), and the row's kind.
struct ListRow
{
    QString name;
    RemoteRowKind kind;
};

// One selected item that the delete button will remove.
struct DeleteCandidate
{
    QString name; // the row's name, as the confirmation box names it
    QString path; // full remote path, exactly as listed
    QString type; // "dir" for a folder, "file" for anything else
};

// The delete candidates of the selected rows, in row order. The ".." row is never one.
QVector<DeleteCandidate> deleteCandidates(const QVector<ListRow> &rows, const QString &currentDir);

// What a download of the selected rows fetches: the names of the file rows and of the folder
// rows. The ".." row is in neither list.
struct DownloadSelection
{
    QStringList files;
    QStringList folders;
};

DownloadSelection downloadSelection(const QVector<ListRow> &rows);
