#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// The texts of one selected row of the remote file list: its name (column 0) and its type
// (column 1), both as the list shows them.
struct ListRow
{
    QString name;
    QString type;
};

// One selected item that the delete button will remove.
struct DeleteCandidate
{
    QString name; // trimmed, as the confirmation box names it
    QString path; // full remote path in Unicode NFC
    QString type; // "dir" for a folder, "file" for anything else
};

// The delete candidates of the selected rows, in row order. The ".." row is never one.
// folderText is the folder type text of the language shown at the moment of the click; a row
// whose type text is not exactly that counts as a file.
QVector<DeleteCandidate> deleteCandidates(const QVector<ListRow> &rows, const QString &currentDir,
                                          const QString &folderText);

// What a download of the selected rows fetches: the trimmed names of the file rows, and the
// names of the other rows, which are reported as skipped. The ".." row is in neither list.
struct DownloadSelection
{
    QStringList files;
    QStringList skipped;
};

// fileText is the file type text of the language shown at the moment of the click.
DownloadSelection downloadSelection(const QVector<ListRow> &rows, const QString &fileText);
