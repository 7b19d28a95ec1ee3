#include "FolderName.h"

namespace FolderName {

QString forbiddenCharacters()
{
    return QStringLiteral("/\\*?<>|\":");
}

bool isAllowed(const QString &name)
{
    const QString forbidden = forbiddenCharacters();
    for (const QChar c : forbidden) {
        if (name.contains(c))
            return false;
    }
    return true;
}

} // namespace FolderName
