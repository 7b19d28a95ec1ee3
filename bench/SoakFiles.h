#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The soak's view of files on the controller and on the local disk.
namespace SoakFiles {

// Writes size pseudo-random bytes in pieces, so that even the largest file costs the soak no
// memory worth measuring next to the window's; returns their SHA-256, or a null array when the
// file cannot be written.
QByteArray writeRandomFile(const QString &path, qint64 size, quint32 seed);

// The SHA-256 of the file, read in pieces; a null array when it cannot be read.
QByteArray fileDigest(const QString &path);

// True when the digest is there and is the expected one.
bool sameContent(const QByteArray &digest, const QByteArray &expected);

// Bytes in the regular files under dir, hidden ones included.
qint64 bytesUnder(const QString &dir);

// The names in dir, hidden ones included, sorted: what a listing of it must show.
QStringList entryNames(const QString &dir);

} // namespace SoakFiles
