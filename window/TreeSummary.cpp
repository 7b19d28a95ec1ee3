#include "TreeSummary.h"

#include "FileSizeText.h"

void TreeSummary::add(const QSsh::SftpTree &tree)
{
    for (const QSsh::SftpTreeEntry &entry : tree) {
        if (entry.kind == QSsh::SftpTreeEntry::Kind::Folder) {
            ++folders;
        } else {
            ++files;
            if (entry.kind == QSsh::SftpTreeEntry::Kind::File)
                bytes += entry.size;
        }
    }
}

QString TreeSummary::text(bool english) const
{
    const QString size = fileSizeText(QString::number(bytes));
    if (!english)
        return QStringLiteral("%1 个文件夹，%2 个文件，%3").arg(folders).arg(files).arg(size);
    return QStringLiteral("%1 %2, %3 %4, %5")
        .arg(folders)
        .arg(folders == 1 ? QStringLiteral("folder") : QStringLiteral("folders"))
        .arg(files)
        .arg(files == 1 ? QStringLiteral("file") : QStringLiteral("files"))
        .arg(size);
}
