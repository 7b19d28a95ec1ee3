#include "KnownHosts.h"

#include "SshLogging.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QSet>

namespace QSsh::Internal {

namespace {

struct KeyType
{
    int sessionType;   // LIBSSH2_HOSTKEY_TYPE_*
    int knownHostType; // LIBSSH2_KNOWNHOST_KEY_*
    const char *name;  // as ssh-keygen -l names it
    const char *methods;
};

// In the order asked for when nothing is recorded for an address.
constexpr KeyType kKeyTypes[] = {
    {LIBSSH2_HOSTKEY_TYPE_ED25519, LIBSSH2_KNOWNHOST_KEY_ED25519, "ED25519", "ssh-ed25519"},
    {LIBSSH2_HOSTKEY_TYPE_ECDSA_256, LIBSSH2_KNOWNHOST_KEY_ECDSA_256, "ECDSA",
     "ecdsa-sha2-nistp256"},
    {LIBSSH2_HOSTKEY_TYPE_ECDSA_384, LIBSSH2_KNOWNHOST_KEY_ECDSA_384, "ECDSA",
     "ecdsa-sha2-nistp384"},
    {LIBSSH2_HOSTKEY_TYPE_ECDSA_521, LIBSSH2_KNOWNHOST_KEY_ECDSA_521, "ECDSA",
     "ecdsa-sha2-nistp521"},
    {LIBSSH2_HOSTKEY_TYPE_RSA, LIBSSH2_KNOWNHOST_KEY_SSHRSA, "RSA",
     "rsa-sha2-512,rsa-sha2-256,ssh-rsa"},
    {LIBSSH2_HOSTKEY_TYPE_DSS, LIBSSH2_KNOWNHOST_KEY_SSHDSS, "DSA", "ssh-dss"},
};

const KeyType *keyTypeOfSession(int sessionType)
{
    for (const KeyType &type : kKeyTypes) {
        if (type.sessionType == sessionType)
            return &type;
    }
    return nullptr;
}

const KeyType *keyTypeOfEntry(const libssh2_knownhost *entry)
{
    for (const KeyType &type : kKeyTypes) {
        if (type.knownHostType == (entry->typemask & LIBSSH2_KNOWNHOST_KEY_MASK))
            return &type;
    }
    return nullptr;
}

QString keyText(const char *typeName, const QByteArray &keyBlob)
{
    return QLatin1String(typeName) + QLatin1Char(' ') + KnownHosts::fingerprint(keyBlob);
}

// Asking with a key that no entry holds finds the entry of that type recorded for the address.
constexpr char kNoKey[] = "-";
constexpr int kPlainHost = LIBSSH2_KNOWNHOST_TYPE_PLAIN;

QString tr(const char *text)
{
    return QCoreApplication::translate("QSsh::KnownHosts", text);
}

} // namespace

KnownHosts::KnownHosts(LIBSSH2_SESSION *session, QString fileName)
    : m_session(session), m_hosts(libssh2_knownhost_init(session)), m_fileName(std::move(fileName))
{}

KnownHosts::~KnownHosts()
{
    if (m_hosts)
        libssh2_knownhost_free(m_hosts);
}

bool KnownHosts::load(HostKeyCheck *check)
{
    check->knownHostsFile = m_fileName;
    const auto unusable = [check](int line, const QString &error) {
        check->outcome = HostKeyCheck::FileUnusable;
        check->line = line;
        check->error = error;
        return false;
    };
    if (!m_hosts)
        return unusable(0, tr("out of memory"));
    if (m_fileName.isEmpty())
        return unusable(0, tr("no known-hosts file is set"));
    if (!QFileInfo::exists(m_fileName) && !QFileInfo(m_fileName).isSymLink())
        return true; // nothing recorded yet

    QFile file(m_fileName);
    if (!file.open(QIODevice::ReadOnly))
        return unusable(0, file.errorString());
    // libssh2 parses line by line; feeding it the lines one at a time tells which line each
    // entry came from.
    libssh2_knownhost *last = nullptr;
    int lineNumber = 0;
    while (!file.atEnd()) {
        QByteArray line = file.readLine();
        if (line.isEmpty() && file.error() != QFileDevice::NoError)
            return unusable(0, file.errorString());
        ++lineNumber;
        m_lastLineUnterminated = !line.endsWith('\n');
        if (m_lastLineUnterminated)
            line += '\n'; // libssh2 takes a key up to the line end
        const KnownHostsLine parsed = KnownHostsLine::parse(line);
        switch (parsed.kind()) {
        case KnownHostsLine::Kind::Plain:
            break;
        case KnownHostsLine::Kind::Malformed:
            return unusable(lineNumber, tr("line %1 is not a known-hosts line").arg(lineNumber));
        case KnownHostsLine::Kind::Revoked:
            m_revoked.append({lineNumber, parsed});
            continue;
        case KnownHostsLine::Kind::Unchecked:
            qCWarning(lcSsh).noquote()
                << m_fileName << "line" << lineNumber << "skipped:"
                << (parsed.marker().isEmpty() ? QByteArray("host patterns") : parsed.marker())
                << "are not checked by this program";
            m_unchecked.append({lineNumber, parsed});
            continue;
        }
        if (libssh2_knownhost_readline(m_hosts, line.constData(), size_t(line.size()),
                                       LIBSSH2_KNOWNHOST_FILE_OPENSSH) != 0)
            return unusable(lineNumber, tr("line %1 is not a known-hosts line").arg(lineNumber));
        libssh2_knownhost *entry = nullptr;
        while (libssh2_knownhost_get(m_hosts, &entry, last) == 0) {
            m_lines.insert(entry->node, lineNumber);
            last = entry;
        }
    }
    return true;
}

QByteArray KnownHosts::hostKeyMethods(const QString &host, int port) const
{
    // Only names this libssh2 knows: it mishandles (overlapping copies) a list it has to
    // shorten.
    QSet<QByteArray> supported;
    const char **algorithms = nullptr;
    const int count =
        libssh2_session_supported_algs(m_session, LIBSSH2_METHOD_HOSTKEY, &algorithms);
    for (int i = 0; i < count; ++i)
        supported.insert(algorithms[i]);
    if (count > 0)
        libssh2_free(m_session, algorithms);

    const QByteArray hostName = host.toUtf8();
    QByteArrayList recorded;
    QByteArrayList others;
    for (const KeyType &type : kKeyTypes) {
        libssh2_knownhost *entry = nullptr;
        const int found = libssh2_knownhost_checkp(
            m_hosts, hostName.constData(), port, kNoKey, sizeof kNoKey - 1,
            kPlainHost | LIBSSH2_KNOWNHOST_KEYENC_BASE64 | type.knownHostType, &entry);
        for (const QByteArray &method : QByteArray(type.methods).split(',')) {
            if (supported.contains(method))
                (found == LIBSSH2_KNOWNHOST_CHECK_MISMATCH ? recorded : others) << method;
        }
    }
    return (recorded + others).join(',');
}

void KnownHosts::verify(const QString &host, int port, HostKeyCheck *check)
{
    check->knownHostsFile = m_fileName;
    const QByteArray hostName = host.toUtf8();
    size_t length = 0;
    int sessionType = LIBSSH2_HOSTKEY_TYPE_UNKNOWN;
    const char *key = libssh2_session_hostkey(m_session, &length, &sessionType);
    const KeyType *type = keyTypeOfSession(sessionType);
    if (!key || !type) {
        // Nothing that could be compared: never trusted.
        check->outcome = HostKeyCheck::Refused;
        check->error = tr("the controller showed a host key of an unknown type");
        return;
    }
    const QByteArray blob(key, int(length));
    check->offeredKey = keyText(type->name, blob);

    // Refused like a changed key, whatever else the file records for the address.
    for (const NumberedLine &revoked : qAsConst(m_revoked)) {
        if (revoked.line.keyBlob() == blob && revoked.line.appliesTo(hostName, port)) {
            check->outcome = HostKeyCheck::Refused;
            check->revoked = true;
            check->line = revoked.number;
            check->recordedKey = check->offeredKey;
            return;
        }
    }

    libssh2_knownhost *entry = nullptr;
    switch (libssh2_knownhost_checkp(
        m_hosts, hostName.constData(), port, key, length,
        kPlainHost | LIBSSH2_KNOWNHOST_KEYENC_RAW | type->knownHostType, &entry)) {
    case LIBSSH2_KNOWNHOST_CHECK_MATCH:
        check->outcome = HostKeyCheck::Matched;
        return;
    case LIBSSH2_KNOWNHOST_CHECK_MISMATCH:
        refuse(entry, check);
        return;
    case LIBSSH2_KNOWNHOST_CHECK_NOTFOUND:
        // No key of this type on record. Keys of other types are: the controller was asked for
        // those first and showed none of them.
        if (const libssh2_knownhost *recorded = firstRecorded(hostName, port))
            refuse(recorded, check);
        else if (const NumberedLine *unchecked = firstNaming(m_unchecked, hostName, port))
            refuseUnchecked(*unchecked, check);
        else
            record(hostName, port, blob, type->knownHostType, check);
        return;
    default:
        check->outcome = HostKeyCheck::Refused;
        check->error = tr("the host key could not be checked: %1").arg(lastErrorText());
        return;
    }
}

QString KnownHosts::fingerprint(const QByteArray &keyBlob)
{
    return QStringLiteral("SHA256:") +
           QString::fromLatin1(QCryptographicHash::hash(keyBlob, QCryptographicHash::Sha256)
                                   .toBase64(QByteArray::OmitTrailingEquals));
}

libssh2_knownhost *KnownHosts::firstRecorded(const QByteArray &host, int port) const
{
    for (const KeyType &type : kKeyTypes) {
        libssh2_knownhost *entry = nullptr;
        if (libssh2_knownhost_checkp(m_hosts, host.constData(), port, kNoKey, sizeof kNoKey - 1,
                                     kPlainHost | LIBSSH2_KNOWNHOST_KEYENC_BASE64 |
                                         type.knownHostType,
                                     &entry) == LIBSSH2_KNOWNHOST_CHECK_MISMATCH)
            return entry;
    }
    return nullptr;
}

void KnownHosts::refuse(const libssh2_knownhost *recorded, HostKeyCheck *check) const
{
    check->outcome = HostKeyCheck::Refused;
    check->line = m_lines.value(recorded->node);
    const KeyType *type = keyTypeOfEntry(recorded);
    check->recordedKey = keyText(type ? type->name : "?", QByteArray::fromBase64(recorded->key));
}

// A line that may hold the address's key, or a certificate authority for it: the address is
// not new, and whether its key is the right one cannot be told.
void KnownHosts::refuseUnchecked(const NumberedLine &unchecked, HostKeyCheck *check) const
{
    check->outcome = HostKeyCheck::FileUnusable;
    check->line = unchecked.number;
    check->error =
        tr("line %1 names this address with %2, which this program cannot check")
            .arg(unchecked.number)
            .arg(unchecked.line.marker().isEmpty() ? QStringLiteral("a host pattern")
                                                   : QString::fromLatin1(unchecked.line.marker()));
}

const KnownHosts::NumberedLine *KnownHosts::firstNaming(const QVector<NumberedLine> &lines,
                                                        const QByteArray &host, int port)
{
    for (const NumberedLine &line : lines) {
        if (line.line.appliesTo(host, port))
            return &line;
    }
    return nullptr;
}

void KnownHosts::record(const QByteArray &host, int port, const QByteArray &key, int keyType,
                        HostKeyCheck *check)
{
    check->outcome = HostKeyCheck::NotRecorded;
    // OpenSSH's form: the bare address for port 22, "[address]:port" for any other.
    QByteArray name = port == 22 ? host : '[' + host + "]:" + QByteArray::number(port);
    libssh2_knownhost *added = nullptr;
    if (libssh2_knownhost_addc(m_hosts, name.data(), nullptr, const_cast<char *>(key.constData()),
                               size_t(key.size()), nullptr, 0,
                               kPlainHost | LIBSSH2_KNOWNHOST_KEYENC_RAW | keyType, &added) != 0) {
        check->error = lastErrorText();
        return;
    }
    QByteArray line(16 * 1024, Qt::Uninitialized);
    size_t length = 0;
    if (libssh2_knownhost_writeline(m_hosts, added, line.data(), size_t(line.size()), &length,
                                    LIBSSH2_KNOWNHOST_FILE_OPENSSH) != 0) {
        check->error = lastErrorText();
        return;
    }
    line.truncate(int(length));
    // Appended, not rewritten: the operator's own lines and comments stay as they are. A last
    // line without its line end gets one first, or the new line would be glued to it.
    if (m_lastLineUnterminated)
        line.prepend('\n');
    QFile file(m_fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered) ||
        file.write(line) != line.size()) {
        check->error = file.errorString();
        return;
    }
    check->outcome = HostKeyCheck::Recorded;
}

QString KnownHosts::lastErrorText() const
{
    char *message = nullptr;
    int length = 0;
    libssh2_session_last_error(m_session, &message, &length, 0);
    return message && length > 0 ? QString::fromLocal8Bit(message, length) : tr("unknown error");
}

} // namespace QSsh::Internal
