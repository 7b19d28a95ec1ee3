#include "SideSftpSession.h"

#include "SftpErrorText.h"
#include "SshLogging.h"

#include <QtEndian>

#include <algorithm>

#include <libssh2_sftp.h>

namespace QSsh::Internal {

namespace {

// SFTP protocol 3 (draft-ietf-secsh-filexfer-02): packet types and the extensions.
constexpr quint8 kInit = 1;
constexpr quint8 kVersion = 2;
constexpr quint8 kOpen = 3;
constexpr quint8 kClose = 4;
constexpr quint8 kWrite = 6;
constexpr quint8 kStatus = 101;
constexpr quint8 kHandle = 102;
constexpr quint8 kExtended = 200;
constexpr quint8 kExtendedReply = 201;
constexpr quint32 kProtocolVersion = 3;
constexpr char kPosixRename[] = "posix-rename@openssh.com";
constexpr char kLimits[] = "limits@openssh.com";
// Answers here are a few dozen bytes; anything this long means the stream is garbled.
constexpr quint32 kMaxPacket = 256 * 1024;
// Writes as long as OpenSSH's sftp makes them at most, where the server allows that; below
// the shorter bound they would gain little over libssh2's own.
constexpr quint64 kLongestWrite = 255 * 1024;
constexpr quint64 kShortestWrite = 64 * 1024;
// Packets of less would cost the server more per byte than waiting costs.
constexpr size_t kSmallestPacketLimit = 4096;

void appendUint32(QByteArray &out, quint32 value)
{
    char bytes[4];
    qToBigEndian(value, bytes);
    out.append(bytes, 4);
}

void appendUint64(QByteArray &out, quint64 value)
{
    appendUint32(out, quint32(value >> 32));
    appendUint32(out, quint32(value));
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
    quint64 uint64()
    {
        const quint64 high = uint32();
        return high << 32 | uint32();
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

SideSftpSession::~SideSftpSession()
{
    release();
}

void SideSftpSession::start()
{
    if (m_phase != Phase::NotStarted || !m_session)
        return;
    m_phase = Phase::Opening;
    m_session->schedule();
}

SideSftpSession::Support SideSftpSession::renameSupport() const
{
    switch (m_phase) {
    case Phase::Ready:
        return m_offersRename ? Support::Offered : Support::NotOffered;
    case Phase::Closed:
        return Support::NotOffered;
    default:
        return Support::Unknown;
    }
}

SideSftpSession::Support SideSftpSession::writeSupport() const
{
    switch (m_phase) {
    case Phase::Ready:
        return m_writeSize > 0 ? Support::Offered : Support::NotOffered;
    case Phase::Closed:
        return Support::NotOffered;
    default:
        return Support::Unknown;
    }
}

quint32 SideSftpSession::rename(const QByteArray &from, const QByteArray &to)
{
    QByteArray fields;
    appendString(fields, kPosixRename);
    appendString(fields, from);
    appendString(fields, to);
    return request(kExtended, fields);
}

quint32 SideSftpSession::open(const QByteArray &path, quint32 flags)
{
    QByteArray fields;
    appendString(fields, path);
    appendUint32(fields, flags);
    appendUint32(fields, 0); // no attributes: the file exists
    return request(kOpen, fields);
}

quint32 SideSftpSession::write(const QByteArray &handle, quint64 offset, const char *data, int size)
{
    QByteArray fields;
    appendString(fields, handle);
    appendUint64(fields, offset);
    appendUint32(fields, quint32(size));
    return request(kWrite, fields, data, size);
}

quint32 SideSftpSession::close(const QByteArray &handle)
{
    QByteArray fields;
    appendString(fields, handle);
    return request(kClose, fields);
}

quint32 SideSftpSession::request(quint8 type, const QByteArray &fields, const char *data, int size)
{
    const quint32 number = m_nextRequest++;
    if (m_phase != Phase::Ready) {
        m_answers.insert(number, {LIBSSH2_FX_OP_UNSUPPORTED, QString(), QByteArray()});
        return number;
    }
    queueRequest(type, number, fields, data, size);
    m_outstanding.insert(number);
    m_session->schedule();
    return number;
}

std::optional<SideSftpSession::Answer> SideSftpSession::takeAnswer(quint32 request)
{
    const auto it = m_answers.find(request);
    if (it == m_answers.end())
        return std::nullopt;
    const Answer answer = *it;
    m_answers.erase(it);
    return answer;
}

void SideSftpSession::forget(quint32 request)
{
    m_answers.remove(request);
    if (m_outstanding.contains(request))
        m_forgotten.insert(request);
}

bool SideSftpSession::awaitsReply() const
{
    return m_phase == Phase::Opening || m_phase == Phase::StartingSubsystem ||
           m_phase == Phase::Greeting || m_phase == Phase::Limits || !m_outstanding.isEmpty();
}

// The packet is its type, its number, the fields, then size bytes of data.
void SideSftpSession::queueRequest(quint8 type, quint32 number, const QByteArray &fields,
                                   const char *data, int size)
{
    appendUint32(m_queued, quint32(1 + 4 + fields.size() + size));
    m_queued.append(char(type));
    appendUint32(m_queued, number);
    m_queued.append(fields);
    if (size > 0)
        m_queued.append(data, size);
}

SshSession::Step SideSftpSession::step()
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
        // A server with a small window, as Dropbear's 24 KiB, waits for a packet's last byte
        // before it decrypts any of it and frees window only once it has passed the data on.
        // A packet of the whole window would leave each side waiting for the other in turn;
        // in halves, it decrypts one while we encrypt the next. A large window takes
        // libssh2's largest packets, far below the limit.
        unsigned long initialWindow = 0;
        libssh2_channel_window_write_ex(m_channel, &initialWindow);
        if (initialWindow >= kSmallestPacketLimit * 2)
            m_packetLimit = initialWindow / 2;
        // INIT carries the protocol version where other packets carry their number.
        queueRequest(kInit, kProtocolVersion, QByteArray());
        m_phase = Phase::Greeting;
    }
        Q_FALLTHROUGH();
    case Phase::Greeting:
    case Phase::Limits:
    case Phase::Ready:
        return pump();
    }
    return SshSession::Step::Idle;
}

SshSession::Step SideSftpSession::pump()
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
SshSession::Step SideSftpSession::writeOut(bool *progress)
{
    for (;;) {
        if (m_sent == m_sending.size()) {
            m_sending = std::exchange(m_queued, QByteArray());
            m_sent = 0;
        }
        if (m_sending.isEmpty())
            return SshSession::Step::Progress;
        const ssize_t n = m_session->track(
            this,
            int(libssh2_channel_write(m_channel, m_sending.constData() + m_sent,
                                      std::min(size_t(m_sending.size() - m_sent), m_packetLimit))));
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
        m_sent += int(n);
        *progress = true;
    }
}

SshSession::Step SideSftpSession::readIn(bool *progress)
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
bool SideSftpSession::takePackets()
{
    while (m_received.size() >= 4) {
        const quint32 length = qFromBigEndian<quint32>(m_received.constData());
        if (length == 0 || length > kMaxPacket)
            return false;
        if (quint32(m_received.size()) < 4 + length)
            return true;
        const QByteArray packet = m_received.mid(4, int(length));
        m_received.remove(0, int(4 + length));
        const quint8 type = quint8(packet.at(0));
        if (type == kVersion && m_phase == Phase::Greeting) {
            if (!takeVersion(packet))
                return true;
        } else if (type == kExtendedReply && m_phase == Phase::Limits) {
            if (!takeLimits(packet))
                return false;
        } else if (type == kStatus && m_phase == Phase::Limits) {
            // No limits after all: libssh2's own writes, then.
            m_phase = Phase::Ready;
        } else if (type == kStatus || type == kHandle) {
            PacketReader reader(packet);
            reader.byte();
            const quint32 number = reader.uint32();
            Answer answer;
            if (type == kStatus) {
                answer.status = reader.uint32();
                answer.message = QString::fromUtf8(reader.string());
            } else {
                answer.status = LIBSSH2_FX_OK;
                answer.handle = reader.string();
            }
            if (!reader.ok() || !m_outstanding.remove(number))
                return false;
            if (!m_forgotten.remove(number))
                m_answers.insert(number, answer);
        } else {
            return false;
        }
    }
    return true;
}

// The server's greeting; false when it offers nothing this session is for (it has ended).
bool SideSftpSession::takeVersion(const QByteArray &packet)
{
    PacketReader reader(packet);
    reader.byte();
    reader.uint32(); // the server's protocol version; 3 for every server that matters
    bool offersLimits = false;
    while (!reader.atEnd() && reader.ok()) {
        const QByteArray name = reader.string();
        const QByteArray data = reader.string();
        m_offersRename = m_offersRename || (name == kPosixRename && data == "1");
        offersLimits = offersLimits || (name == kLimits && data == "1");
    }
    if (!m_offersRename && !offersLimits) {
        giveUp(sftpTr("the controller offers neither replacements in one step nor its limits"));
        return false;
    }
    if (!offersLimits) {
        m_phase = Phase::Ready;
        return true;
    }
    QByteArray fields;
    appendString(fields, kLimits);
    m_limitsRequest = m_nextRequest++;
    queueRequest(kExtended, m_limitsRequest, fields);
    m_phase = Phase::Limits;
    return true;
}

// The answer to the limits request: the longest packet, read and write, and the number of
// open handles, each 0 where the server sets no limit.
bool SideSftpSession::takeLimits(const QByteArray &packet)
{
    PacketReader reader(packet);
    reader.byte();
    const quint32 number = reader.uint32();
    const quint64 packetLength = reader.uint64();
    reader.uint64(); // read length
    const quint64 writeLength = reader.uint64();
    if (!reader.ok() || number != m_limitsRequest)
        return false;
    // A write request carries its handle and offset besides the data, within the packet.
    quint64 size = writeLength > 0 ? qMin(writeLength, kLongestWrite) : kLongestWrite;
    if (packetLength > 0)
        size = qMin(size, packetLength > 1024 ? packetLength - 1024 : 0);
    m_writeSize = size >= kShortestWrite ? int(size) : 0;
    qCDebug(lcSsh).noquote() << "the controller's SFTP server takes writes of" << writeLength
                             << "bytes at most (0: any); ours are" << m_writeSize
                             << "(0: libssh2's own)";
    m_phase = Phase::Ready;
    return true;
}

void SideSftpSession::giveUp(const QString &reason)
{
    qCDebug(lcSsh).noquote() << "our own SFTP session ends:" << reason;
    m_phase = Phase::Closed;
    for (const quint32 request : std::exchange(m_outstanding, {})) {
        if (!m_forgotten.contains(request))
            m_answers.insert(request, {LIBSSH2_FX_CONNECTION_LOST, reason, QByteArray()});
    }
    m_forgotten.clear();
    m_sending.clear();
    m_sent = 0;
    m_queued.clear();
    m_received.clear();
    if (m_channel && m_session)
        m_session->releaseChannel(std::exchange(m_channel, nullptr));
}

void SideSftpSession::detach()
{
    if (LIBSSH2_CHANNEL *const gone = std::exchange(m_channel, nullptr))
        m_session->discard([gone] { return libssh2_channel_free(gone); });
    m_session = nullptr;
    giveUp(sftpTr("connection lost"));
}

void SideSftpSession::release()
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
