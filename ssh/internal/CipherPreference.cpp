#include "CipherPreference.h"

namespace QSsh::Internal {

namespace {

constexpr char kChaCha20[] = "chacha20-poly1305@openssh.com";
// The ciphers asked for first, in this order, where the library has them.
constexpr char kFastCiphers[] = "chacha20-poly1305@openssh.com,"
                                "aes128-gcm@openssh.com,aes256-gcm@openssh.com,"
                                "aes128-ctr,aes192-ctr,aes256-ctr";

bool prefer(LIBSSH2_SESSION *session, int method, const QByteArrayList &order, QString *error)
{
    const QByteArray list = order.join(',');
    if (!order.isEmpty() && libssh2_session_method_pref(session, method, list.constData()) == 0)
        return true;
    char *message = nullptr;
    libssh2_session_last_error(session, &message, nullptr, 0);
    *error = QStringLiteral("cannot ask for %1: %2")
                 .arg(QString::fromLatin1(list), QString::fromLocal8Bit(message));
    return false;
}

} // namespace

bool CipherPreference::chacha20Allowed()
{
#ifdef CNC_CHACHA20_SAFE
    return true;
#else
    return false;
#endif
}

QByteArrayList CipherPreference::ciphers(const QByteArrayList &supported, bool chacha20)
{
    QByteArrayList order;
    for (const QByteArray &name : QByteArray(kFastCiphers).split(',')) {
        if (supported.contains(name) && (chacha20 || name != kChaCha20))
            order << name;
    }
    for (const QByteArray &name : supported) {
        if (!order.contains(name) && name != kChaCha20 && name != "none")
            order << name;
    }
    return order;
}

QByteArrayList CipherPreference::macs(const QByteArrayList &supported)
{
    QByteArrayList encryptThenMac;
    QByteArrayList others;
    for (const QByteArray &name : supported) {
        if (name.endsWith("-etm@openssh.com"))
            encryptThenMac << name;
        else if (name != "none")
            others << name;
    }
    return encryptThenMac + others;
}

QByteArrayList CipherPreference::supported(LIBSSH2_SESSION *session, int method)
{
    const char **algorithms = nullptr;
    const int count = libssh2_session_supported_algs(session, method, &algorithms);
    QByteArrayList names;
    for (int i = 0; i < count; ++i)
        names << algorithms[i];
    if (count > 0)
        libssh2_free(session, algorithms);
    return names;
}

bool CipherPreference::apply(LIBSSH2_SESSION *session, QString *error)
{
    const QByteArrayList cipherOrder =
        ciphers(supported(session, LIBSSH2_METHOD_CRYPT_CS), chacha20Allowed());
    const QByteArrayList macOrder = macs(supported(session, LIBSSH2_METHOD_MAC_CS));
    return prefer(session, LIBSSH2_METHOD_CRYPT_CS, cipherOrder, error) &&
           prefer(session, LIBSSH2_METHOD_CRYPT_SC, cipherOrder, error) &&
           prefer(session, LIBSSH2_METHOD_MAC_CS, macOrder, error) &&
           prefer(session, LIBSSH2_METHOD_MAC_SC, macOrder, error);
}

QString CipherPreference::negotiated(LIBSSH2_SESSION *session)
{
    const auto both = [session](int toServer, int fromServer) {
        const QString sent = QString::fromLatin1(libssh2_session_methods(session, toServer));
        const QString received = QString::fromLatin1(libssh2_session_methods(session, fromServer));
        return sent == received ? sent : QStringLiteral("%1 out, %2 in").arg(sent, received);
    };
    return QStringLiteral("cipher %1, mac %2")
        .arg(both(LIBSSH2_METHOD_CRYPT_CS, LIBSSH2_METHOD_CRYPT_SC),
             both(LIBSSH2_METHOD_MAC_CS, LIBSSH2_METHOD_MAC_SC));
}

} // namespace QSsh::Internal
