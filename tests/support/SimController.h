#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>

// Drives one instance of the simulated controller (sim/cncsim) for a test: a real sshd in
// its own network namespace, reached over a veth pair at an address of its own.
class SimController
{
public:
    // The controller's SSH server: OpenSSH's sshd, or Dropbear at its default settings.
    enum class Server { OpenSsh, Dropbear };

    struct Options
    {
        bool resizeError = false; // the first shell prints "resize: unknown character, exiting."
        Server server = Server::OpenSsh;
        int dropbearWindow = 0; // Dropbear's receive window in bytes (its -W); 0: its default
    };

    // Instance number of the test's controller (set per test by CTest): CNCSIM_INSTANCE for
    // OpenSSH, 1 when unset; CNCSIM_DROPBEAR_INSTANCE for Dropbear, 2 when unset.
    static int instanceFromEnvironment(Server server = Server::OpenSsh);
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

Q_DECLARE_METATYPE(SimController::Server)

// Skips the current test function when the simulated controller cannot run here.
#define CNC_REQUIRE_SIM()                                                                          \
    do {                                                                                           \
        QString reason_;                                                                           \
        if (!SimController::canRun(&reason_))                                                      \
            QSKIP(qPrintable(reason_));                                                            \
    } while (false)
