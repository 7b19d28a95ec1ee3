#pragma once

#include <QString>

#include <thread>

// A long link in front of a controller, for links that the kernel here cannot delay (it has
// no netem): accepts TCP connections on a loopback address and forwards each one to the
// controller, holding every byte back for a fixed time in each direction. The link's rate is
// shaped elsewhere (tbf on the controller's veth pair).
//
// It runs in a thread of its own from start() until it is destroyed, and for no longer than
// its lifetime in any case.
class DelayRelay
{
public:
    DelayRelay(const QString &targetAddress, quint16 targetPort, int oneWayDelayMs,
               int lifetimeSeconds = 3600);
    ~DelayRelay();
    DelayRelay(const DelayRelay &) = delete;
    DelayRelay &operator=(const DelayRelay &) = delete;

    // Listens on 127.0.0.1 at a free port; false, with the reason, when it cannot.
    bool start(QString *error);
    QString address() const { return QStringLiteral("127.0.0.1"); }
    quint16 port() const { return m_port; }

private:
    void run();

    const QByteArray m_target;
    const quint16 m_targetPort;
    const int m_delayMs;
    const int m_lifetimeSeconds;
    int m_listener = -1;
    int m_wake = -1; // an eventfd that ends the thread
    quint16 m_port = 0;
    std::thread m_thread;
};
