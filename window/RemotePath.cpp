#include "RemotePath.h"

namespace RemotePath {

QString join(const QString &dir, const QString &name)
{
    if (dir.endsWith(QLatin1Char('/')))
        return dir + name;
    return dir + QLatin1Char('/') + name;
}

QString parent(const QString &dir)
{
    QString path = dir;
    while (path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
}

} // namespace RemotePath
