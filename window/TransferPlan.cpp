#include "TransferPlan.h"

#include <QFile>
#include <QHash>

namespace {

bool insideBlocked(const QString &path, const QStringList &blocked)
{
    for (const QString &folder : blocked) {
        if (path.startsWith(folder + QLatin1Char('/')))
            return true;
    }
    return false;
}

} // namespace

QString TransferPlan::storedName(const QString &path, bool foldCase)
{
    return foldCase ? QFile::decodeName(QFile::encodeName(path)).toCaseFolded() : path;
}

TransferPlan TransferPlan::make(const QVector<TransferItem> &sources,
                                const QVector<TransferItem> &targetSide, bool foldCase)
{
    QHash<QString, TransferItem> existing;
    for (const TransferItem &item : targetSide)
        existing.insert(storedName(item.path, foldCase), item);

    TransferPlan plan;
    QHash<QString, QString> takenBy; // stored name -> the batch's first target of that name
    for (const TransferItem &source : sources) {
        if (insideBlocked(source.path, plan.blocked))
            continue;
        const QString stored = storedName(source.path, foldCase);
        const auto there = existing.constFind(stored);
        if (source.folder) {
            if (there == existing.constEnd())
                plan.folders << source.path;
            else if (!there->folder)
                plan.blocked << source.path;
            continue;
        }
        if (there != existing.constEnd() && there->folder) {
            plan.blocked << source.path;
            continue;
        }
        const auto earlier = takenBy.constFind(stored);
        if (earlier != takenBy.constEnd()) {
            plan.clashes.append({source, earlier.value()});
            continue;
        }
        takenBy.insert(stored, source.path);
        File file;
        file.source = source;
        file.target = source.path;
        if (there != existing.constEnd()) {
            file.replaces = true;
            file.existing = *there;
        }
        plan.files.append(file);
    }
    return plan;
}

QString TransferPlan::freeName(const QString &path,
                               const std::function<bool(const QString &)> &taken)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    // "part.nc" -> "part (2).nc"; a name without an extension, or a dot file, gets it at the end.
    const int cut = dot > slash + 1 ? dot : path.size();
    for (int n = 2;; ++n) {
        const QString candidate = path.left(cut) + QStringLiteral(" (%1)").arg(n) + path.mid(cut);
        if (!taken(candidate))
            return candidate;
    }
}
