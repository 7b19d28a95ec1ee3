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
        bool resizeError = false;  // the first shell prints "resize: unknown character, exiting."
        bool cLocale = false;      // root's shell runs in the C locale
        int idleLogoutSeconds = 0; // root's shell logs out after this long without input
        bool execGreeting = false; // the profile prints a line before every command run over SSH
        bool refusePty = false;    // sshd refuses pty requests: no interactive shell starts
        Server server = Server::OpenSsh;
        int dropbearWindow = 0; // Dropbear's receive window in bytes (its -W); 0: its default
        bool sftpHold = false;  // SFTP requests can be held back (holdSftpRequests)
    };

    // Instance number of the test's controller (set per test by CTest): CNCSIM_INSTANCE for
    // OpenSSH, 1 when unset; CNCSIM_DROPBEAR_INSTANCE for Dropbear, 2 when unset.
    static int instanceFromEnvironment(Server server = Server::OpenSsh);
    // False, with a reason, when the simulator cannot run here (not root, tools missing).
    static bool canRun(QString *reason);

    explicit SimController(int instance = instanceFromEnvironment());
    ~SimController(); // stops the instance if this object started it

    // Also forgets the host keys this test process recorded beside its executable: the
    // instance's keys may have been renewed since, by a test that used it before.
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
    // A slower link: both directions limited to rate ("20mbit", "1gbit"); empty lifts it.
    bool setLinkRate(const QString &rate);
    bool sshdStop();
    bool sshdStart();
    // Ends root's interactive shells; their SSH connections stay up.
    bool endShell();
    // A reinstalled controller: new host keys, offered to every new connection from now on.
    bool renewHostKeys();
    // From sshd's log since the instance started: the connections it took, those that ended
    // without a login, the passwords it was given, right or wrong, and the commands it ran.
    struct SshdCounts
    {
        int connections = 0;
        int endedWithoutLogin = 0;
        int passwords = 0;
        int commands = 0; // commands run over SSH without a terminal
    };
    SshdCounts sshdCounts();
    // Waits until sshd has logged a connection that ended without a login since `before`;
    // true when sshd was given no password meanwhile.
    bool endedWithoutPassword(const SshdCounts &before);
    // The controller's host key as ssh-keyscan prints it: one known-hosts line of that type
    // ("ed25519", "ecdsa"), hashed as OpenSSH's HashKnownHosts writes it if asked.
    QByteArray scanHostKey(const QString &type, bool hashed = false);
    // A slow SFTP server: the first request of one of these types ("open", "close", "read",
    // "write", "rename", ...) waits, with all that follows it, until called again without
    // that type. heldSftpRequest() names the type of the request waiting now, if any.
    bool holdSftpRequests(const QStringList &types);
    QString heldSftpRequest() const;
    // Whether SFTP sessions started from now on learn of the server's extensions (such as
    // OpenSSH's posix-rename@openssh.com); needs sftpHold.
    bool offerSftpExtensions(bool offered);

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
