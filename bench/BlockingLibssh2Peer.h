#pragma once

#include <QString>

// A peer for the throughput benchmark: libssh2 used directly in its own blocking mode, one
// 1 MiB read or write after the other, as the library's documentation shows it. It moves the
// same files over the same link as our layer, so the two figures tell what the layer itself
// adds or costs, apart from libssh2 and its ciphers.
namespace Bench {

enum class Direction { Upload, Download };

// Logs in, then times only the transfer (login excluded, as for our layer). Returns the
// duration in milliseconds, or -1 with *error set.
qint64 blockingLibssh2Transfer(const QString &address, const QString &password, Direction direction,
                               const QString &localPath, const QString &remotePath, QString *error);

} // namespace Bench
