#pragma once

#include <QString>

namespace FolderName {

// The nine characters a new folder name may not hold, in the order they are tested:
// / \ * ? < > | " :
QString forbiddenCharacters();

// True when name holds none of the forbidden characters. Nothing else is tested: the name is
// not trimmed, and names made of blanks, "." or ".." pass.
bool isAllowed(const QString &name);

} // namespace FolderName
