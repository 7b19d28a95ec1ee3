#pragma once

#include <QString>

namespace RemotePath {

// The remote path of name inside the remote directory dir: dir, then "/" unless dir already
// ends with one, then name unchanged.
QString join(const QString &dir, const QString &name);

// The directory above dir, with its "/" ("/a/b/" gives "/a/"); a text operation.
QString parent(const QString &dir);

} // namespace RemotePath
