#include "DelayRelay.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

// What a direction holds back before it stops reading: far more than any link here carries
// in its delay (20 Mbit/s for 40 ms is 100 kB), so only a receiver that stalls meets it.
constexpr size_t kMaxHeldBytes = 8 * 1024 * 1024;
constexpr size_t kReadSize = 64 * 1024;

struct Piece
{
    Clock::time_point due;
    std::vector<char> bytes;
    size_t sent = 0;
};

// One direction of a connection: what was read from one socket, waiting to be written to the
// other once its time has come.
struct Direction
{
    int from = -1;
    int to = -1;
    std::deque<Piece> held;
    size_t heldBytes = 0;
    bool ended = false; // the reading side closed; the writing side is shut once drained
    bool shut = false;

    bool wantsToRead() const { return !ended && heldBytes < kMaxHeldBytes; }
    bool due(Clock::time_point now) const { return !held.empty() && held.front().due <= now; }
};

struct Connection
{
    int client = -1;
    int server = -1;
    bool connecting = true;
    bool broken = false;
    Direction up;   // client to server
    Direction down; // server to client

    ~Connection()
    {
        ::close(client);
        ::close(server);
    }
    bool finished() const { return broken || (up.shut && down.shut); }
};

// Reads what the socket has, to be written out delay later. False when the connection broke.
bool readInto(Direction &direction, Clock::time_point due)
{
    while (direction.wantsToRead()) {
        Piece piece{due, std::vector<char>(kReadSize), 0};
        const ssize_t n = ::recv(direction.from, piece.bytes.data(), piece.bytes.size(), 0);
        if (n == 0) {
            direction.ended = true;
            break;
        }
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        piece.bytes.resize(size_t(n));
        direction.heldBytes += size_t(n);
        direction.held.push_back(std::move(piece));
    }
    return true;
}

// Writes what is due; shuts the writing side once the reading side has ended and all is out.
bool writeOut(Direction &direction, Clock::time_point now)
{
    while (direction.due(now)) {
        Piece &piece = direction.held.front();
        const ssize_t n = ::send(direction.to, piece.bytes.data() + piece.sent,
                                 piece.bytes.size() - piece.sent, MSG_NOSIGNAL);
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
        piece.sent += size_t(n);
        direction.heldBytes -= size_t(n);
        if (piece.sent < piece.bytes.size())
            return true;
        direction.held.pop_front();
    }
    if (direction.ended && direction.held.empty() && !direction.shut) {
        ::shutdown(direction.to, SHUT_WR);
        direction.shut = true;
    }
    return true;
}

} // namespace

DelayRelay::DelayRelay(const QString &targetAddress, quint16 targetPort, int oneWayDelayMs,
                       int lifetimeSeconds)
    : m_target(targetAddress.toLatin1()), m_targetPort(targetPort), m_delayMs(oneWayDelayMs),
      m_lifetimeSeconds(lifetimeSeconds)
{}

DelayRelay::~DelayRelay()
{
    if (m_thread.joinable()) {
        const quint64 one = 1;
        if (::write(m_wake, &one, sizeof one) < 0)
            perror("DelayRelay");
        m_thread.join();
    }
    ::close(m_listener);
    ::close(m_wake);
}

bool DelayRelay::start(QString *error)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    m_wake = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (m_listener < 0 || m_wake < 0 ||
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(m_listener, 64) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
        *error = QStringLiteral("delay relay: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { run(); });
    return true;
}

void DelayRelay::run()
{
    const auto delay = std::chrono::milliseconds(m_delayMs);
    const auto end = Clock::now() + std::chrono::seconds(m_lifetimeSeconds);
    std::vector<std::unique_ptr<Connection>> connections;
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(m_targetPort);
    ::inet_pton(AF_INET, m_target.constData(), &target.sin_addr);

    while (Clock::now() < end) {
        const Clock::time_point now = Clock::now();
        // What to wait for, and until when the next held piece falls due.
        Clock::time_point wakeAt = end;
        std::vector<pollfd> fds{{m_wake, POLLIN, 0}, {m_listener, POLLIN, 0}};
        for (const auto &c : connections) {
            const auto events = [&](const Direction &in, const Direction &out) {
                short e = in.wantsToRead() ? POLLIN : 0;
                if (out.due(now))
                    e |= POLLOUT;
                else if (!out.held.empty() && out.held.front().due < wakeAt)
                    wakeAt = out.held.front().due;
                return e;
            };
            fds.push_back({c->client, events(c->up, c->down), 0});
            fds.push_back({c->server, c->connecting ? short(POLLOUT) : events(c->down, c->up), 0});
        }
        const auto wait = std::chrono::duration_cast<std::chrono::nanoseconds>(
            std::max(wakeAt - now, Clock::duration::zero()));
        const timespec timeout{time_t(wait.count() / 1000000000), long(wait.count() % 1000000000)};
        if (::ppoll(fds.data(), fds.size(), &timeout, nullptr) < 0 && errno != EINTR)
            break;
        if (fds[0].revents)
            break;

        const Clock::time_point readAt = Clock::now();
        for (size_t i = 0; i < connections.size(); ++i) {
            Connection &c = *connections[i];
            const short clientEvents = fds[2 + 2 * i].revents;
            const short serverEvents = fds[3 + 2 * i].revents;
            if (c.connecting && serverEvents) {
                int socketError = 0;
                socklen_t size = sizeof socketError;
                ::getsockopt(c.server, SOL_SOCKET, SO_ERROR, &socketError, &size);
                c.connecting = false;
                c.broken = socketError != 0;
                continue;
            }
            if (clientEvents & (POLLIN | POLLHUP | POLLERR))
                c.broken = c.broken || !readInto(c.up, readAt + delay);
            if (!c.connecting && (serverEvents & (POLLIN | POLLHUP | POLLERR)))
                c.broken = c.broken || !readInto(c.down, readAt + delay);
        }
        const Clock::time_point writeAt = Clock::now();
        for (const auto &c : connections) {
            if (c->connecting || c->broken)
                continue;
            c->broken = !writeOut(c->up, writeAt) || !writeOut(c->down, writeAt);
        }
        connections.erase(std::remove_if(connections.begin(), connections.end(),
                                         [](const auto &c) { return c->finished(); }),
                          connections.end());

        if (fds[1].revents & POLLIN) {
            for (;;) {
                const int client =
                    ::accept4(m_listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
                if (client < 0)
                    break;
                auto c = std::make_unique<Connection>();
                c->client = client;
                c->server = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
                const int on = 1;
                ::setsockopt(client, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                ::setsockopt(c->server, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
                if (::connect(c->server, reinterpret_cast<const sockaddr *>(&target),
                              sizeof target) != 0 &&
                    errno != EINPROGRESS)
                    c->broken = true;
                c->up.from = c->down.to = client;
                c->up.to = c->down.from = c->server;
                connections.push_back(std::move(c));
            }
        }
    }
}
