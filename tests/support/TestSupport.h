#pragma once

// Helpers shared by every test: files, and OpenSSH's view of host keys.

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// Whole files. readFile gives "<missing>" for a file that cannot be read.
QByteArray readFile(const QString &path);
bool writeFile(const QString &path, const QByteArray &bytes);
// Pseudo-random bytes, the same for the same seed.
QByteArray randomBytes(int size, quint32 seed);
// A file of random bytes written in pieces, for sizes that should not sit in memory.
bool writeRandomFile(const QString &path, qint64 size);
QByteArray fileHash(const QString &path);
// What transfers left behind in a folder: upload temporaries (".part-", ".old-") and the
// temporaries of local saves.
QStringList strayTemporaries(const QString &directory);

// Every entry under root by its path relative to root, as the file system's bytes: "dir" for a
// folder, "-> target" for a link (never followed), else the content's hash.
QMap<QByteArray, QByteArray> treeOf(const QString &root);
// Removes everything inside folder, which stays (a controller's files folder is mounted where
// the controller sees it); links are removed as links, never followed.
void emptyFolder(const QString &folder);

// The keys of known-hosts lines as "ssh-keygen -l" names them ("ED25519 SHA256:..."), in order.
QStringList sshFingerprints(const QByteArray &knownHostsLines);
