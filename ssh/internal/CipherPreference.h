#pragma once

#include <QByteArrayList>
#include <QString>

#include <libssh2.h>

namespace QSsh::Internal {

// The ciphers and MACs a session asks for, fastest first where it matters: a controller is a
// small ARM board whose CPU, not the link, sets the pace of a transfer. Without AES
// instructions it runs ChaCha20-Poly1305 about twice as fast as AES-CTR with HMAC-SHA2;
// AES-GCM comes next, then AES-CTR; encrypt-then-MAC MACs before the others. Whatever else the
// library supports follows in its own order, so a controller that knows nothing better still
// connects. The host key types are KnownHosts' business.
//
// libssh2 1.11.1 as released overflows its heap in the ChaCha20 path on packets any server can
// send before its host key is checked, and this program reconnects to whoever answers at the
// address. So ChaCha20 is asked for only where the build knows the library carries the fix
// (CNC_LIBSSH2_CHACHA20 in CMake); otherwise it is left out even of the library's own list.
class CipherPreference
{
public:
    // The build's verdict on the linked library's ChaCha20.
    static bool chacha20Allowed();

    // The order to ask for, from what the library supports (its own order) and whether its
    // ChaCha20 may be used. Never "none".
    static QByteArrayList ciphers(const QByteArrayList &supported, bool chacha20);
    static QByteArrayList macs(const QByteArrayList &supported);

    // What the library supports for method (a LIBSSH2_METHOD_*), in its own order.
    static QByteArrayList supported(LIBSSH2_SESSION *session, int method);
    // States both orders, both ways, before the handshake. False, with the reason, when the
    // library did not take them: the session must not go on with the library's defaults then.
    static bool apply(LIBSSH2_SESSION *session, QString *error);
    // What the handshake settled, each way: "cipher aes128-gcm@openssh.com, mac ..." (one
    // name when both ways agree).
    static QString negotiated(LIBSSH2_SESSION *session);
};

} // namespace QSsh::Internal
