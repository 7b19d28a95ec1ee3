#pragma once

#include "HostKeyCheck.h"
#include "KnownHostsLine.h"

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QVector>

#include <libssh2.h>

namespace QSsh::Internal {

// The controller's host key against an OpenSSH known-hosts file, read and extended with
// libssh2's own known-hosts functions: the key of a new address is recorded on first use, and a
// key that differs from the recorded one is refused. Keys marked @revoked are refused for the
// hosts their lines name. Lines this program cannot evaluate (@cert-authority, host patterns)
// are skipped with a warning, but an address they name is never taken for a new one. One object
// per connection attempt, freed before its session.
class KnownHosts
{
public:
    KnownHosts(LIBSSH2_SESSION *session, QString fileName);
    ~KnownHosts();
    KnownHosts(const KnownHosts &) = delete;
    KnownHosts &operator=(const KnownHosts &) = delete;

    // Reads the file; a file that does not exist yet holds no keys. False, with check filled
    // in as FileUnusable, when the file cannot be read or holds a line that is not a
    // known-hosts line: then nothing can be checked.
    bool load(HostKeyCheck *check);

    // The host key algorithms to ask for, for libssh2_session_method_pref: the types recorded
    // for the address first, so that the controller shows the recorded key if it still has
    // it; then the others, Ed25519 first, as OpenSSH asks.
    QByteArray hostKeyMethods(const QString &host, int port) const;

    // Checks the key the session's key exchange brought against the file, after the exchange
    // and before anything is sent. Records the key of a new address.
    void verify(const QString &host, int port, HostKeyCheck *check);

    // "SHA256:" and the unpadded base64 of the SHA-256 of a key blob, as OpenSSH prints it.
    static QString fingerprint(const QByteArray &keyBlob);

private:
    // The first key recorded for the address, of any type; null when there is none.
    libssh2_knownhost *firstRecorded(const QByteArray &host, int port) const;
    void refuse(const libssh2_knownhost *recorded, HostKeyCheck *check) const;
    void record(const QByteArray &host, int port, const QByteArray &key, int keyType,
                HostKeyCheck *check);
    QString lastErrorText() const;

    // A line libssh2 is not given, with its number in the file.
    struct NumberedLine
    {
        int number = 0;
        KnownHostsLine line;
    };
    // The first of `lines` that names the address, or null.
    static const NumberedLine *firstNaming(const QVector<NumberedLine> &lines,
                                           const QByteArray &host, int port);
    void refuseUnchecked(const NumberedLine &unchecked, HostKeyCheck *check) const;

    LIBSSH2_SESSION *const m_session;
    LIBSSH2_KNOWNHOSTS *const m_hosts;
    const QString m_fileName;
    // The line each entry came from, by libssh2's handle of the entry.
    QHash<const void *, int> m_lines;
    QVector<NumberedLine> m_revoked;
    QVector<NumberedLine> m_unchecked;
    bool m_lastLineUnterminated = false;
};

} // namespace QSsh::Internal
