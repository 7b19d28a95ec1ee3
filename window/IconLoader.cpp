#include "IconLoader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

QIcon loadIcon(const QString &fileName)
{
    if (QFileInfo(fileName).isFile())
        return QIcon(fileName);
    const QString besideExecutable =
        QDir(QCoreApplication::applicationDirPath()).filePath(fileName);
    if (QFileInfo(besideExecutable).isFile())
        return QIcon(besideExecutable);
    return QIcon();
}
