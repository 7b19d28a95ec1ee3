#pragma once

#include <QByteArray>

namespace QSsh::Internal {

// One line of an OpenSSH known-hosts file, as far as this program must read it itself. libssh2
// reads plain and hashed host names; a marker (@revoked, @cert-authority) or a host pattern
// (*, ?, !) it would take for part of a host name.
class KnownHostsLine
{
public:
    enum class Kind {
        Plain,     // a host line without marker or pattern, a comment or an empty line
        Revoked,   // @revoked: the key must never be accepted for the hosts it names
        Unchecked, // a line this program cannot evaluate: @cert-authority, another marker,
                   // host patterns
        Malformed  // a marked line without a key
    };

    static KnownHostsLine parse(const QByteArray &line);

    Kind kind() const { return m_kind; }
    QByteArray marker() const { return m_marker; }
    // The decoded key of a revoked line.
    QByteArray keyBlob() const { return m_keyBlob; }

    // True when the line's host field names the address as OpenSSH decides it: patterns
    // separated by commas with * and ?, hashed names (|1|salt|hash), and a matching negated
    // pattern (!) that rules the address out whatever else matches. A port other than 22 is
    // matched as "[address]:port".
    bool appliesTo(const QByteArray &address, int port) const;

private:
    Kind m_kind = Kind::Plain;
    QByteArray m_marker;
    QByteArray m_hosts;
    QByteArray m_keyBlob;
};

} // namespace QSsh::Internal
