#pragma once

#include <QString>
#include <QStringList>

// Drives one instance of the simulated controller (sim/cncsim) for a test: a real sshd in
// its own network namespace, reached over a veth pair at an address of its own.
class SimController
{
public:
    struct Options
    {
        bool resizeError = false; // the first shell prints "resize: unknown character, exiting."
        bool sftpHold = false;    // SFTP requests can be held back (holdSftpRequests)
    };

    // Instance number from CNCSIM_INSTANCE (set per test by CTest), 1 when unset.
    static int instanceFromEnvironment();
    // False, with a reason, when the simulator cannot run here (not root, tools missing).
    static bool canRun(QString *reason);

    explicit SimController(int instance = instanceFromEnvironment());
    ~SimController(); // stops the instance if this object started it

    bool start(const Options &options);
    bool start() { return start(Options{}); }
    bool stop();
    bool isRunning() const;

    QString address() const;  // the controller's address on its veth link
    QString rootDir() const;  // host-side folder that the controller sees as /home/pi/cnc/
    QString hostName() const; // the controller's host name (its prompt is root@<name>:~#)
    // root's password on every instance, the controller's own (sim/cncsim sets it).
    static QString rootPassword() { return QStringLiteral("qzmtrvlakepondsix"); }
    QString lastError() const;

    // Faults: a pulled cable (packets vanish, no reset) and a stopped sshd.
    bool linkDown();
    bool linkUp();
    bool sshdStop();
    bool sshdStart();
    // A slow SFTP server: the first request of one of these types ("open", "close", "read",
    // "write", "rename", ...) waits, with all that follows it, until called again without
    // that type. heldSftpRequest() names the type of the request waiting now, if any.
    bool holdSftpRequests(const QStringList &types);
    QString heldSftpRequest() const;

    // Runs a command inside the controller (its mount, UTS and network namespaces) as root;
    // returns its exit code and fills the standard output.
    int exec(const QStringList &command, QByteArray *standardOutput = nullptr);

private:
    bool run(const QStringList &arguments, QByteArray *standardOutput = nullptr);
    // Runs sim/cncsim for this instance; returns its exit code, -1 when it could not run.
    int runScript(const QStringList &arguments, QByteArray *standardOutput = nullptr);

    int m_instance;
    bool m_started = false;
    QString m_address;
    QString m_rootDir;
    QString m_lastError;
};

// Skips the current test function when the simulated controller cannot run here.
#define CNC_REQUIRE_SIM()                                                                          \
    do {                                                                                           \
        QString reason_;                                                                           \
        if (!SimController::canRun(&reason_))                                                      \
            QSKIP(qPrintable(reason_));                                                            \
    } while (false)
