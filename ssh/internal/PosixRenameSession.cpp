#include "PosixRenameSession.h"

#include "SftpErrorText.h"
#include "SshLogging.h"

#include <QtEndian>

#include <libssh2_sftp.h>

namespace QSsh::Internal {

namespace {

// SFTP protocol 3 (draft-ietf-secsh-filexfer-02): packet types and the extension.
constexpr quint8 kInit = 1;
constexpr quint8 kVersion = 2;
constexpr quint8 kStatus = 101;
constexpr quint8 kExtended = 200;
constexpr quint32 kProtocolVersion = 3;
constexpr char kExtension[] = "posix-rename@openssh.com";
// Answers here are a few dozen bytes; anything this long means the stream is garbled.
constexpr quint32 kMaxPacket = 256 * 1024;

void appendUint32(QByteArray &out, quint32 value)
{
    char bytes[4];
    qToBigEndian(value, bytes);
    out.append(bytes, 4);
}

void appendString(QByteArray &out, const QByteArray &value)
{
    appendUint32(out, quint32(value.size()));
    out.append(value);
}

// Reads the fields of one packet in order; a read past the end fails and sticks.
class PacketReader
{
public:
    explicit PacketReader(const QByteArray &packet) : m_packet(packet) {}
    bool atEnd() const { return m_at >= m_packet.size(); }
    bool ok() const { return m_ok; }
    quint8 byte()
    {
        if (!has(1))
            return 0;
        return quint8(m_packet.at(m_at++));
    }
    quint32 uint32()
    {
        if (!has(4))
            return 0;
        const quint32 value = qFromBigEndian<quint32>(m_packet.constData() + m_at);
        m_at += 4;
        return value;
    }
    QByteArray string()
    {
        const quint32 length = uint32();
        if (!has(qint64(length)))
            return {};
        const QByteArray value = m_packet.mid(m_at, int(length));
        m_at += int(length);
        return value;
    }

private:
    bool has(qint64 bytes)
    {
        m_ok = m_ok && m_at + bytes <= m_packet.size();
        return m_ok;
    }

    const QByteArray &m_packet;
    int m_at = 0;
    bool m_ok = true;
};

} // namespace

PosixRenameSession::~PosixRenameSession()
{
    release();
}

void PosixRenameSession::start()
{
    if (m_phase != Phase::NotStarted || !m_session)
        return;
    m_phase = Phase::Opening;
    m_session->schedule();
}

PosixRenameSession::Support PosixRenameSession::support() const
{
    switch (m_phase) {
    case Phase::Ready:
        return Support::Offered;
    case Phase::Closed:
        return Support::NotOffered;
    default:
        return Support::Unknown;
    }
}

quint32 PosixRenameSession::rename(const QByteArray &from, const QByteArray &to)
{
    const quint32 request = m_nextRequest++;
    if (m_phase != Phase::Ready) {
        m_answers.insert(request, {LIBSSH2_FX_OP_UNSUPPORTED, QString()});
        return request;
    }
    QByteArray payload;
    payload.append(char(kExtended));
    appendUint32(payload, request);
    appendString(payload, kExtension);
    appendString(payload, from);
    appendString(payload, to);
    queuePacket(payload);
    m_outstanding.insert(request);
    m_session->schedule();
    return request;
}

std::optional<PosixRenameSession::Answer> PosixRenameSession::takeAnswer(quint32 request)
{
    const auto it = m_answers.find(request);
    if (it == m_answers.end())
        return std::nullopt;
    const Answer answer = *it;
    m_answers.erase(it);
    return answer;
}

void PosixRenameSession::forget(quint32 request)
{
    m_answers.remove(request);
    if (m_outstanding.contains(request))
        m_forgotten.insert(request);
}

bool PosixRenameSession::awaitsReply() const
{
    return m_phase == Phase::Opening || m_phase == Phase::StartingSubsystem ||
           m_phase == Phase::Greeting || !m_outstanding.isEmpty();
}

void PosixRenameSession::queuePacket(const QByteArray &payload)
{
    appendUint32(m_queued, quint32(payload.size()));
    m_queued.append(payload);
}

SshSession::Step PosixRenameSession::step()
{
    if (!m_session || !m_session->mayUseTransport(this))
        return SshSession::Step::Idle;
    switch (m_phase) {
    case Phase::NotStarted:
    case Phase::Closed:
        return SshSession::Step::Idle;
    case Phase::Opening: {
        if (!m_session->beginChannelOpen(this))
            return SshSession::Step::Idle;
        m_channel = libssh2_channel_open_session(m_session->handle());
        const int rc = m_session->track(this, m_channel ? 0 : m_session->lastErrno());
        if (rc == LIBSSH2_ERROR_EAGAIN)
            return SshSession::Step::Blocked;
        m_session->endChannelOpen(this, m_channel != nullptr);
        if (SshSession::isSessionError(rc))
            return SshSession::Step::Fatal;
        if (!m_channel) {
            giveUp(m_session->lastErrorText());
            return SshSession::Step::Idle;
        }
        m_phase = Phase::StartingSubsystem;
    }
        Q_FALLTHROUGH();
    case Phase::StartingSubsystem: {
        const int rc = m_session->track(this, libssh2_channel_subsystem(m_channel, "sftp"));
        if (rc == LIBSSH2_ERROR_EAGAIN)
            return SshSession::Step::Blocked;
        if (SshSession::isSessionError(rc))
            return SshSession::Step::Fatal;
        if (rc < 0) {
            giveUp(m_session->lastErrorText());
            return SshSession::Step::Idle;
        }
        QByteArray init;
        init.append(char(kInit));
        appendUint32(init, kProtocolVersion);
        queuePacket(init);
        m_phase = Phase::Greeting;
    }
        Q_FALLTHROUGH();
    case Phase::Greeting:
    case Phase::Ready:
        return pump();
    }
    return SshSession::Step::Idle;
}

SshSession::Step PosixRenameSession::pump()
{
    bool progress = false;
    const SshSession::Step written = writeOut(&progress);
    if (written != SshSession::Step::Progress)
        return written;
    const SshSession::Step read = readIn(&progress);
    if (read == SshSession::Step::Fatal || m_phase == Phase::Closed)
        return read;
    return progress ? SshSession::Step::Progress : SshSession::Step::Blocked;
}

// Sends what is queued. Progress when the caller may go on to read, whatever was sent.
SshSession::Step PosixRenameSession::writeOut(bool *progress)
{
    for (;;) {
        if (m_sending.isEmpty())
            m_sending = std::exchange(m_queued, QByteArray());
        if (m_sending.isEmpty())
            return SshSession::Step::Progress;
        const ssize_t n = m_session->track(
            this,
            int(libssh2_channel_write(m_channel, m_sending.constData(), size_t(m_sending.size()))));
        if (n == LIBSSH2_ERROR_EAGAIN || n == 0) {
            // A packet left half sent must be finished before anything else, a read included.
            return m_session->holdsTransport(this) ? SshSession::Step::Blocked
                                                   : SshSession::Step::Progress;
        }
        if (n < 0) {
            if (SshSession::isSessionError(int(n)))
                return SshSession::Step::Fatal;
            giveUp(m_session->lastErrorText());
            return SshSession::Step::Idle;
        }
        m_sending.remove(0, int(n));
        *progress = true;
    }
}

SshSession::Step PosixRenameSession::readIn(bool *progress)
{
    char buffer[4096];
    for (const int streamId : {0, SSH_EXTENDED_DATA_STDERR}) {
        for (;;) {
            const ssize_t n = m_session->track(
                this, int(libssh2_channel_read_ex(m_channel, streamId, buffer, sizeof buffer)));
            if (n == LIBSSH2_ERROR_EAGAIN || n == 0)
                break;
            if (n < 0) {
                if (SshSession::isSessionError(int(n)))
                    return SshSession::Step::Fatal;
                giveUp(m_session->lastErrorText());
                return SshSession::Step::Idle;
            }
            *progress = true;
            if (streamId == 0)
                m_received.append(buffer, int(n));
            else
                qCWarning(lcSsh).noquote()
                    << "SFTP server:" << QString::fromLocal8Bit(buffer, int(n));
        }
    }
    if (!takePackets()) {
        giveUp(sftpTr("the controller's SFTP server sent what is not SFTP"));
        return SshSession::Step::Idle;
    }
    if (libssh2_channel_eof(m_channel))
        giveUp(sftpTr("the controller's SFTP server ended"));
    return SshSession::Step::Progress;
}

// Takes the complete packets received; false when the stream is not SFTP.
bool PosixRenameSession::takePackets()
{
    while (m_received.size() >= 4) {
        const quint32 length = qFromBigEndian<quint32>(m_received.constData());
        if (length == 0 || length > kMaxPacket)
            return false;
        if (quint32(m_received.size()) < 4 + length)
            return true;
        const QByteArray packet = m_received.mid(4, int(length));
        m_received.remove(0, int(4 + length));
        PacketReader reader(packet);
        const quint8 type = reader.byte();
        if (type == kVersion && m_phase == Phase::Greeting) {
            reader.uint32(); // the server's protocol version; 3 for every server that matters
            bool offered = false;
            while (!reader.atEnd() && reader.ok()) {
                const QByteArray name = reader.string();
                const QByteArray data = reader.string();
                offered = offered || (name == kExtension && data == "1");
            }
            if (!offered) {
                giveUp(sftpTr("the controller does not replace files in one step"));
                return true;
            }
            m_phase = Phase::Ready;
        } else if (type == kStatus) {
            const quint32 request = reader.uint32();
            Answer answer;
            answer.status = reader.uint32();
            answer.message = QString::fromUtf8(reader.string());
            if (!reader.ok() || !m_outstanding.remove(request))
                return false;
            if (!m_forgotten.remove(request))
                m_answers.insert(request, answer);
        }
    }
    return true;
}

void PosixRenameSession::giveUp(const QString &reason)
{
    qCDebug(lcSsh).noquote() << "no replacements by posix-rename@openssh.com:" << reason;
    m_phase = Phase::Closed;
    for (const quint32 request : std::exchange(m_outstanding, {})) {
        if (!m_forgotten.contains(request))
            m_answers.insert(request, {LIBSSH2_FX_CONNECTION_LOST, reason});
    }
    m_forgotten.clear();
    m_sending.clear();
    m_queued.clear();
    m_received.clear();
    if (m_channel && m_session)
        m_session->releaseChannel(std::exchange(m_channel, nullptr));
}

void PosixRenameSession::detach()
{
    if (LIBSSH2_CHANNEL *const gone = std::exchange(m_channel, nullptr))
        m_session->discard([gone] { return libssh2_channel_free(gone); });
    m_session = nullptr;
    giveUp(sftpTr("connection lost"));
}

void PosixRenameSession::release()
{
    if (!m_session)
        return;
    m_session->forgetOperation(this);
    m_session->abandonChannelOpen(this, false);
    if (m_channel)
        m_session->releaseChannel(std::exchange(m_channel, nullptr));
    m_session = nullptr;
    m_phase = Phase::Closed;
}

} // namespace QSsh::Internal
