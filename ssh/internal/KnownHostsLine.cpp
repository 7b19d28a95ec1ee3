#include "KnownHostsLine.h"

#include <QByteArrayList>
#include <QCryptographicHash>
#include <QMessageAuthenticationCode>

namespace QSsh::Internal {

namespace {

bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

QByteArrayList fields(const QByteArray &line)
{
    QByteArrayList result;
    int start = -1;
    for (int i = 0; i <= line.size(); ++i) {
        const bool blank = i == line.size() || isBlank(line.at(i));
        if (!blank && start < 0)
            start = i;
        if (blank && start >= 0) {
            result << line.mid(start, i - start);
            start = -1;
        }
    }
    return result;
}

// OpenSSH's glob: * any run of characters, ? any one; host names compare case-insensitively.
bool globMatches(const char *text, const char *pattern)
{
    for (;; ++text, ++pattern) {
        if (*pattern == '\0')
            return *text == '\0';
        if (*pattern == '*') {
            for (const char *rest = text;; ++rest) {
                if (globMatches(rest, pattern + 1))
                    return true;
                if (*rest == '\0')
                    return false;
            }
        }
        if (*text == '\0')
            return false;
        if (*pattern != '?' &&
            QChar::toLower(uint(uchar(*pattern))) != QChar::toLower(uint(uchar(*text))))
            return false;
    }
}

// "|1|" base64(salt) "|" base64(HMAC-SHA1(salt, name)), as ssh-keygen -H writes it.
bool hashedNameMatches(const QByteArray &entry, const QByteArray &name)
{
    const QByteArrayList parts = entry.mid(3).split('|');
    if (parts.size() != 2)
        return false;
    const QByteArray salt = QByteArray::fromBase64(parts.at(0));
    return !salt.isEmpty() &&
           QMessageAuthenticationCode::hash(name, salt, QCryptographicHash::Sha1) ==
               QByteArray::fromBase64(parts.at(1));
}

} // namespace

KnownHostsLine KnownHostsLine::parse(const QByteArray &line)
{
    KnownHostsLine parsed;
    QByteArrayList words = fields(line);
    if (words.isEmpty() || words.first().startsWith('#'))
        return parsed;
    if (words.first().startsWith('@'))
        parsed.m_marker = words.takeFirst();
    parsed.m_hosts = words.value(0);
    const bool pattern = !parsed.m_hosts.startsWith('|') &&
                         (parsed.m_hosts.contains('*') || parsed.m_hosts.contains('?') ||
                          parsed.m_hosts.contains('!'));
    if (parsed.m_marker.isEmpty()) {
        parsed.m_kind = pattern ? Kind::Unchecked : Kind::Plain;
        return parsed;
    }
    // host field, key type, key
    parsed.m_keyBlob = QByteArray::fromBase64(words.value(2));
    if (words.size() < 3 || parsed.m_keyBlob.isEmpty())
        parsed.m_kind = Kind::Malformed;
    else if (parsed.m_marker == "@revoked")
        parsed.m_kind = Kind::Revoked;
    else
        parsed.m_kind = Kind::Unchecked;
    return parsed;
}

bool KnownHostsLine::appliesTo(const QByteArray &address, int port) const
{
    const QByteArray name = port == 22 ? address : '[' + address + "]:" + QByteArray::number(port);
    bool named = false;
    for (const QByteArray &entry : m_hosts.split(',')) {
        if (entry.startsWith("|1|")) {
            named = named || hashedNameMatches(entry, name);
        } else if (entry.startsWith('!')) {
            if (globMatches(name.constData(), entry.constData() + 1))
                return false;
        } else {
            named = named || globMatches(name.constData(), entry.constData());
        }
    }
    return named;
}

} // namespace QSsh::Internal
