#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// OpenSSH's own view of known-hosts lines, for comparing with what the program records and
// prints.
namespace OpenSshKeys {

// The keys of known-hosts lines as "ssh-keygen -l" names them ("ED25519 SHA256:..."), in order.
QStringList fingerprints(const QByteArray &knownHostsLines);
// The numbers of the lines of the file that "ssh-keygen -F host" finds.
QList<int> linesFor(const QString &host, const QString &knownHostsFile);

} // namespace OpenSshKeys
