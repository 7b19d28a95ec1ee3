#include "ListSelection.h"

#include "RemotePath.h"

#include <QFile>
#include <QHash>

namespace {

bool isNavigationRow(const ListRow &row)
{
    return row.name.trimmed() == QLatin1String("..");
}

} // namespace

QVector<DeleteCandidate> deleteCandidates(const QVector<ListRow> &rows, const QString &currentDir,
                                          const QString &folderText)
{
    QVector<DeleteCandidate> candidates;
    for (const ListRow &row : rows) {
        if (isNavigationRow(row))
            continue;
        // The path names the entry byte for byte as listed: " a.nc" is not "a.nc", and a name
        // stored with decomposed accents has no composed twin on the controller.
        const QString path = RemotePath::join(currentDir, row.name);
        const QString type =
            row.type == folderText ? QStringLiteral("dir") : QStringLiteral("file");
        candidates.append({row.name, path, type});
    }
    return candidates;
}

DownloadSelection downloadSelection(const QVector<ListRow> &rows, const QString &fileText)
{
    DownloadSelection selection;
    for (const ListRow &row : rows) {
        if (isNavigationRow(row))
            continue;
        if (row.type == fileText)
            selection.files.append(row.name);
        else
            selection.skipped.append(row.name);
    }
    return selection;
}

QVector<LocalNameClash> takeLocalNameClashes(QStringList *files)
{
    QVector<LocalNameClash> clashes;
    QHash<QString, QString> firstByLocalName;
    for (auto it = files->begin(); it != files->end();) {
        const QString localName = QFile::decodeName(QFile::encodeName(*it)).toCaseFolded();
        const auto first = firstByLocalName.constFind(localName);
        if (first != firstByLocalName.constEnd()) {
            clashes.append({*it, first.value()});
            it = files->erase(it);
        } else {
            firstByLocalName.insert(localName, *it);
            ++it;
        }
    }
    return clashes;
}
