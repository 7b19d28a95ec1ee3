#include "RemotePath.h"

namespace RemotePath {

QString join(const QString &dir, const QString &name)
{
    if (dir.endsWith(QLatin1Char('/')))
        return dir + name;
    return dir + QLatin1Char('/') + name;
}

} // namespace RemotePath
