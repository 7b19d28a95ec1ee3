#include "ListSelection.h"

#include "RemotePath.h"

#include <QFile>
#include <QHash>

QVector<DeleteCandidate> deleteCandidates(const QVector<ListRow> &rows, const QString &currentDir)
{
    QVector<DeleteCandidate> candidates;
    for (const ListRow &row : rows) {
        if (row.kind == RemoteRowKind::Navigation)
            continue;
        // The path names the entry byte for byte as listed: " a.nc" is not "a.nc", and a name
        // stored with decomposed accents has no composed twin on the controller.
        const QString path = RemotePath::join(currentDir, row.name);
        const QString type =
            row.kind == RemoteRowKind::Folder ? QStringLiteral("dir") : QStringLiteral("file");
        candidates.append({row.name, path, type});
    }
    return candidates;
}

DownloadSelection downloadSelection(const QVector<ListRow> &rows)
{
    DownloadSelection selection;
    for (const ListRow &row : rows) {
        if (row.kind == RemoteRowKind::Navigation)
            continue;
        if (row.kind == RemoteRowKind::File)
            selection.files.append(row.name);
        else
            selection.folders.append(row.name);
    }
    return selection;
}
