#include "ListSelection.h"

#include "RemotePath.h"

namespace {

bool isNavigationRow(const QString &trimmedName)
{
    return trimmedName == QLatin1String("..");
}

} // namespace

QVector<DeleteCandidate> deleteCandidates(const QVector<ListRow> &rows, const QString &currentDir,
                                          const QString &folderText)
{
    QVector<DeleteCandidate> candidates;
    for (const ListRow &row : rows) {
        const QString name = row.name.trimmed();
        if (isNavigationRow(name))
            continue;
        // The controller stores names as they were created; composed forms are what the
        // worker expects for its non-ASCII test and its shell command.
        const QString path =
            RemotePath::join(currentDir, name).normalized(QString::NormalizationForm_C);
        const QString type =
            row.type == folderText ? QStringLiteral("dir") : QStringLiteral("file");
        candidates.append({name, path, type});
    }
    return candidates;
}

DownloadSelection downloadSelection(const QVector<ListRow> &rows, const QString &fileText)
{
    DownloadSelection selection;
    for (const ListRow &row : rows) {
        const QString name = row.name.trimmed();
        if (isNavigationRow(name))
            continue;
        if (row.type == fileText)
            selection.files.append(name);
        else
            selection.skipped.append(name);
    }
    return selection;
}
