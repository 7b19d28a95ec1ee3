#pragma once

#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QTest>
#include <QVector>

// Drives one instance of the simulated controller (sim/cncsim) for a test: a real SSH server
// in network namespaces of its own, reached over a veth pair at an address of its own.
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
        int maxSessions = 0;    // sshd refuses channels beyond this many (OpenSSH); 0: its default
        bool filesInMemory = false; // the files folder is a tmpfs, not the host's disk
        bool noSha256sum = false;   // running sha256sum fails as a missing command does
        bool logWindows = false;    // sshd logs the window adjustments it receives (OpenSSH)
        // A Pi-class controller: the SSH server without OpenSSL's CPU extensions, on one core
        // held to this share of it (percent); 0: the machine's CPUs as they are.
        int slowCpuPercent = 0;
    };

    // The test's instance (CTest sets CNCSIM_INSTANCE and CNCSIM_DROPBEAR_INSTANCE).
    static int instanceFromEnvironment(Server server = Server::OpenSsh);
    // False, with a reason, when the simulator cannot run here.
    static bool canRun(QString *reason);
    static bool isRoot();
    // A "server" column for data rows, and a row for a server.
    static void addServerColumn();
    static QTestData &newServerRow(Server server, const QString &name = QString());

    explicit SimController(int instance = instanceFromEnvironment());
    // The instance of that server's controller; it starts with that server.
    explicit SimController(Server server);
    ~SimController(); // stops the instance if this object started it

    // Also forgets the host keys recorded beside this test's executable: the instance's keys
    // may have been renewed by a test that used it before.
    bool start(Options options);
    bool start() { return start(Options{}); }
    bool stop();

    QString address() const { return m_address; } // the controller's address on its link
    QString rootDir() const { return m_rootDir; } // host folder it sees as /home/pi/cnc/
    QString hostName() const;                     // its prompt is root@<name>:~#
    static QString rootPassword() { return QStringLiteral("qzmtrvlakepondsix"); }
    QString lastError() const { return m_lastError; }

    // Faults: a pulled cable (packets vanish, no reset), a stopped sshd, root's interactive
    // shells ended (their connections stay), a reinstalled controller with new host keys.
    bool linkDown() { return run({"link-down"}); }
    bool linkUp() { return run({"link-up"}); }
    bool sshdStop() { return run({"sshd-stop"}); }
    bool sshdStart() { return run({"sshd-start"}); }
    bool endShell() { return run({"end-shell"}); }
    // rm typed into root's shell waits until the hold is lifted: a slow rm -rf of a large tree.
    bool holdRm(bool held) { return run({"hold-rm", held ? "on" : "off"}); }
    // Makes a folder under rootDir() read-only where the SSH server sees it (even root removes
    // nothing in it), or writable again.
    bool setReadOnly(const QString &folder, bool readOnly)
    {
        return run({"read-only", folder, readOnly ? "on" : "off"});
    }
    // A slower link: both directions limited to rate ("20mbit", "1gbit"); empty lifts it.
    bool setLinkRate(const QString &rate)
    {
        return run({"link-rate", rate.isEmpty() ? QStringLiteral("off") : rate});
    }
    bool renewHostKeys() { return run({"new-host-keys"}); }
    // From sshd's log since the instance started.
    struct SshdCounts
    {
        int connections = 0;
        int endedWithoutLogin = 0;
        int passwords = 0;
        int commands = 0; // commands run over SSH without a terminal
    };
    SshdCounts sshdCounts() const;
    // The window adjustments sshd received, in bytes, in order (started with logWindows).
    QVector<quint64> windowAdjustments() const;
    // Waits for a connection that ended without a login since `before`; true when sshd was
    // given no password meanwhile.
    bool endedWithoutPassword(const SshdCounts &before);
    // The controller's host key of that type ("ed25519", "ecdsa") as ssh-keyscan prints it.
    QByteArray scanHostKey(const QString &type, bool hashed = false);
    // A slow SFTP server: the first request of one of these types ("open", "close", "rename",
    // ...; "rename+1" once one rename has passed) waits, with all that follows it, until called
    // again without that type.
    // heldSftpRequest() names the type of the request waiting now.
    bool holdSftpRequests(const QStringList &types)
    {
        return run(QStringList{"sftp-hold"} + types);
    }
    QString heldSftpRequest() const;
    // Whether SFTP sessions started from now on learn of the server's extensions (such as
    // OpenSSH's posix-rename@openssh.com); needs sftpHold.
    bool offerSftpExtensions(bool offered)
    {
        return run({"sftp-extensions", offered ? "on" : "off"});
    }

    // Changes one byte of the next file data through the SFTP relay (needs sftpHold): of a
    // write request ("upload") or of a data answer ("download"); "off" lifts it.
    bool corruptNextTransfer(const QString &direction) { return run({"corrupt", direction}); }

    // The share of one core (percent) that the SSH server's processes get now, measured over
    // two seconds where they run; -1 when it cannot be measured.
    double serverCpuShare();

    // Runs a command inside the controller as root; returns its exit code.
    int exec(const QStringList &command, QByteArray *standardOutput = nullptr);

private:
    bool run(const QStringList &arguments, QByteArray *standardOutput = nullptr)
    {
        return runScript(arguments, standardOutput) == 0;
    }
    // Runs sim/cncsim for this instance; returns its exit code, -1 when it could not run.
    int runScript(const QStringList &arguments, QByteArray *standardOutput = nullptr);
    // A file in the instance's state folder, beside rootDir().
    QString stateFile(const QString &name) const;
    QByteArray sshdLog() const;

    int m_instance;
    Server m_server = Server::OpenSsh;
    bool m_started = false;
    QString m_address;
    QString m_rootDir;
    QString m_lastError;
};

Q_DECLARE_METATYPE(SimController::Server)

// Starts `sim` with `options` for the calling test function (or, in initTestCase, the test
// case). Not root: skips, saying why. As root, a controller that does not start is a failure.
#define CNC_START_SIM(sim, options)                                                                \
    do {                                                                                           \
        if (!SimController::isRoot())                                                              \
            QSKIP("the simulated controller needs root (it creates network namespaces)");          \
        QVERIFY2((sim).start(options), qPrintable((sim).lastError()));                             \
    } while (false)
