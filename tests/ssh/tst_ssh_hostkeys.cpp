// What the handshake settles. The controller's host key against the known-hosts file: recorded
// on first use, honoured when seeded by OpenSSH's tools, and a key of another type or an
// unusable file refused before the password is sent. The cipher and MAC: the fastest first.
#include "CipherPreference.h"
#include "SimController.h"
#include "SshLogging.h"
#include "SshTestSupport.h"
#include "TestSupport.h"

#include <QtTest>

namespace {

using QSsh::Internal::CipherPreference;

QStringList sshInfoLines;
QtMessageHandler previousHandler = nullptr;

void captureSshInfo(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtInfoMsg && qstrcmp(context.category, "cnc.ssh") == 0)
        sshInfoLines << message;
    previousHandler(type, context, message);
}

// What the linked libssh2 supports for method, in its own order.
QByteArrayList librarySupports(int method)
{
    libssh2_init(0);
    LIBSSH2_SESSION *const session = libssh2_session_init();
    const QByteArrayList supported = CipherPreference::supported(session, method);
    libssh2_session_free(session);
    return supported;
}

} // namespace

class TestSshHostKeys : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { CNC_START_SIM(m_sim, {}); }
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }
    void newAddressIsRecordedOnceThenMatched_data();
    void newAddressIsRecordedOnceThenMatched();
    void fileDecides_data();
    void fileDecides();
    void cipherOrder_data();
    void cipherOrder();
    void fastestCipherIsNegotiatedAndReported();

private:
    QString knownHosts() const { return m_dir->filePath("known_hosts"); }
    // One attempt to its end with that known-hosts file: what the check found, and whether
    // the attempt connected.
    QSsh::HostKeyCheck attempt(const QString &file, bool *connected);
    QString controllerKey() { return sshFingerprints(m_sim.scanHostKey("ed25519")).value(0); }

    SimController m_sim;
    std::unique_ptr<QTemporaryDir> m_dir;
};

QSsh::HostKeyCheck TestSshHostKeys::attempt(const QString &file, bool *connected)
{
    QSsh::SshConnectionParameters parameters = controllerParameters(m_sim.address());
    parameters.knownHostsFile = file;
    QSsh::SshConnection connection(parameters);
    QSignalSpy up(&connection, &QSsh::SshConnection::connected);
    QSignalSpy error(&connection, &QSsh::SshConnection::error);
    connection.connectToHost();
    (void)QTest::qWaitFor([&] { return !up.isEmpty() || !error.isEmpty(); }, 15000);
    *connected = !up.isEmpty();
    return connection.hostKeyCheck();
}

void TestSshHostKeys::newAddressIsRecordedOnceThenMatched_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::newRow("no file yet") << QByteArray();
    // The operator's own lines stay as they are; the last one has no line end.
    QTest::newRow("operator's lines") << QByteArray("# workshop\n10.9.9.9 ssh-ed25519 "
                                                    "AAAAC3NzaC1lZDI1NTE5AAAAIDAxMjM0NTY3ODlhYmNk"
                                                    "ZWYwMTIzNDU2Nzg5YWJjZGVm");
}

void TestSshHostKeys::newAddressIsRecordedOnceThenMatched()
{
    QFETCH(QByteArray, before);
    QVERIFY(before.isEmpty() || writeFile(knownHosts(), before));
    bool connected = false;
    const QSsh::HostKeyCheck first = attempt(knownHosts(), &connected);
    QVERIFY(connected && first.outcome == QSsh::HostKeyCheck::Recorded);
    // One line added after the operator's, found by OpenSSH, naming the controller's key:
    // Ed25519, which OpenSSH too asks for first.
    const QByteArray after = readFile(knownHosts());
    QVERIFY2(after.startsWith(before), after.constData());
    QCOMPARE(after.mid(before.size()).count('\n'), before.isEmpty() ? 1 : 2);
    QProcess keygen;
    keygen.start("ssh-keygen", {"-F", m_sim.address(), "-f", knownHosts()});
    QVERIFY(keygen.waitForFinished());
    QVERIFY(keygen.readAll().startsWith(QString("# Host %1 found: line %2")
                                            .arg(m_sim.address())
                                            .arg(before.isEmpty() ? 1 : 3)
                                            .toUtf8()));
    QCOMPARE(sshFingerprints(after.mid(before.size())), QStringList{controllerKey()});
    QCOMPARE(first.offeredKey, controllerKey());
    const QSsh::HostKeyCheck second = attempt(knownHosts(), &connected);
    QVERIFY(connected && second.outcome == QSsh::HostKeyCheck::Matched);
    QCOMPARE(readFile(knownHosts()), after);
    // A file that cannot be written: the session goes on, the key unrecorded.
    const QSsh::HostKeyCheck unwritable =
        attempt(m_dir->filePath("no folder/known_hosts"), &connected);
    QVERIFY(connected && unwritable.outcome == QSsh::HostKeyCheck::NotRecorded);
    QVERIFY(!unwritable.error.isEmpty());
}

void TestSshHostKeys::fileDecides_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("outcome");
    QTest::addColumn<int>("line");
    // Asked for the recorded type first, the controller shows that key, which matches; or it
    // has none of that type and shows another, which is refused.
    QTest::newRow("ssh-keyscan -t ecdsa") << "ecdsa" << int(QSsh::HostKeyCheck::Matched) << 0;
    QTest::newRow("hashed, as in ~/.ssh/known_hosts")
        << "hashed" << int(QSsh::HostKeyCheck::Matched) << 0;
    QTest::newRow("RSA recorded") << "rsa" << int(QSsh::HostKeyCheck::Refused) << 3;
    QTest::newRow("line cut short") << "cut" << int(QSsh::HostKeyCheck::FileUnusable) << 2;
    QTest::newRow("a folder in its place")
        << "folder" << int(QSsh::HostKeyCheck::FileUnusable) << 0;
    QTest::newRow("no file set") << "none" << int(QSsh::HostKeyCheck::FileUnusable) << 0;
    // A revoked key is refused, even where another line records it; lines this program cannot
    // check never make the address new, nor known, but stand aside for other addresses.
    QTest::newRow("@revoked") << "@revoked %1" << int(QSsh::HostKeyCheck::Refused) << 3;
    QTest::newRow("@revoked by pattern, recorded too")
        << "@revoked 10.9.9.9,10.213.*\n%1" << int(QSsh::HostKeyCheck::Refused) << 3;
    QTest::newRow("@cert-authority")
        << "@cert-authority %1" << int(QSsh::HostKeyCheck::FileUnusable) << 3;
    QTest::newRow("pattern") << "10.213.?*" << int(QSsh::HostKeyCheck::FileUnusable) << 3;
    QTest::newRow("lines for other addresses")
        << "@revoked |1|c2FsdA==|ZGlnZXN0ZGlnZXN0ZGlnZXN0ZGk=\n*,!%2\n"
           "@cert-authority 10.9.9.9\n@revoked 10.9.9.*"
        << int(QSsh::HostKeyCheck::Recorded) << 0;
}

void TestSshHostKeys::fileDecides()
{
    QFETCH(QString, file);
    QFETCH(int, outcome);
    QFETCH(int, line);
    QByteArray content = "# line 1\n\n";
    const QByteArray scanned = m_sim.scanHostKey("ed25519");
    const QByteArray key = scanned.mid(scanned.indexOf(' ') + 1); // type and key
    if (file == "ecdsa" || file == "hashed") {
        content += m_sim.scanHostKey("ecdsa", file == "hashed");
    } else if (file == "rsa") {
        const QString rsa = m_dir->filePath("rsa");
        QCOMPARE(QProcess::execute("ssh-keygen", {"-q", "-t", "rsa", "-N", "", "-f", rsa}), 0);
        content += m_sim.address().toUtf8() + ' ' + readFile(rsa + ".pub");
    } else if (file.contains(' ') || file.contains('*')) {
        // %1: the address and the controller's key, %2 the address; others get the key.
        for (QString hosts : file.split('\n')) {
            const bool withKey = hosts.contains("%1");
            hosts.replace("%1", QString::fromLatin1(scanned.trimmed()))
                .replace("%2", m_sim.address());
            content += hosts.toUtf8() + (withKey ? "" : ' ' + key.trimmed()) + '\n';
        }
    } else {
        content = "# ok\n10.213.0.1 ssh-ed25519\n";
    }
    QVERIFY(writeFile(knownHosts(), content));
    const SimController::SshdCounts sshd = m_sim.sshdCounts();
    bool connected = false;
    const QSsh::HostKeyCheck check = attempt(file == "folder" ? m_dir->path()
                                             : file == "none" ? ""
                                                              : knownHosts(),
                                             &connected);
    QCOMPARE(int(check.outcome), outcome);
    QCOMPARE(check.line, line);
    const QByteArray after = readFile(knownHosts());
    QCOMPARE(after.left(content.size()), content);
    QCOMPARE(after.size() > content.size(), outcome == QSsh::HostKeyCheck::Recorded);
    if (outcome == QSsh::HostKeyCheck::Matched || outcome == QSsh::HostKeyCheck::Recorded) {
        QVERIFY(connected);
        QCOMPARE(QStringList{check.offeredKey},
                 sshFingerprints(
                     outcome == QSsh::HostKeyCheck::Matched ? content : after.mid(content.size())));
        return;
    }
    QVERIFY(!connected && (outcome == QSsh::HostKeyCheck::Refused || !check.error.isEmpty()));
    QVERIFY2(m_sim.endedWithoutPassword(sshd), qPrintable(m_sim.lastError()));
    if (outcome == QSsh::HostKeyCheck::Refused) {
        QCOMPARE(check.offeredKey, controllerKey());
        QCOMPARE(check.recordedKey,
                 file.startsWith('@') ? controllerKey() : sshFingerprints(content).value(0));
    }
}

void TestSshHostKeys::cipherOrder_data()
{
    QTest::addColumn<QByteArray>("ciphers");
    QTest::addColumn<QByteArray>("macs");
    QTest::addColumn<bool>("chacha20");
    QTest::addColumn<QByteArray>("cipherOrder");
    QTest::addColumn<QByteArray>("macOrder");
    // What libssh2 1.10 and 1.11.1 report, in their order (the weakest left out).
    const QByteArray old = "aes128-ctr,aes192-ctr,aes256-ctr,aes256-cbc,aes128-cbc,3des-cbc";
    const QByteArray oldMacs = "hmac-sha2-256,hmac-sha2-512,hmac-sha1,hmac-md5";
    const QByteArray current = "chacha20-poly1305@openssh.com,aes256-gcm@openssh.com,"
                               "aes128-gcm@openssh.com,aes256-ctr,aes192-ctr,aes128-ctr,"
                               "aes256-cbc";
    const QByteArray currentMacs = "hmac-sha2-256,hmac-sha2-256-etm@openssh.com,hmac-sha2-512,"
                                   "hmac-sha2-512-etm@openssh.com,hmac-sha1,"
                                   "hmac-sha1-etm@openssh.com";
    const QByteArray etmFirst = "hmac-sha2-256-etm@openssh.com,hmac-sha2-512-etm@openssh.com,"
                                "hmac-sha1-etm@openssh.com,hmac-sha2-256,hmac-sha2-512,hmac-sha1";
    const QByteArray fastest = "aes128-gcm@openssh.com,aes256-gcm@openssh.com,aes128-ctr,"
                               "aes192-ctr,aes256-ctr,aes256-cbc";
    QTest::newRow("libssh2 1.10: its own order") << old << oldMacs << true << old << oldMacs;
    QTest::newRow("ChaCha20 known to be fixed")
        << current << currentMacs << true << "chacha20-poly1305@openssh.com," + fastest << etmFirst;
    QTest::newRow("ChaCha20 not known to be fixed: not even last")
        << current << currentMacs << false << fastest << etmFirst;
    QTest::newRow("never unencrypted")
        << QByteArray("none,aes256-ctr") << QByteArray("hmac-sha1,none") << true
        << QByteArray("aes256-ctr") << QByteArray("hmac-sha1");
}

void TestSshHostKeys::cipherOrder()
{
    QFETCH(QByteArray, ciphers);
    QFETCH(QByteArray, macs);
    QFETCH(bool, chacha20);
    QFETCH(QByteArray, cipherOrder);
    QFETCH(QByteArray, macOrder);
    QCOMPARE(CipherPreference::ciphers(ciphers.split(','), chacha20).join(','), cipherOrder);
    QCOMPARE(CipherPreference::macs(macs.split(',')).join(','), macOrder);
}

// Every session asks for the fastest cipher first; OpenSSH's server, which offers them all,
// takes it. What was agreed is an info line of cnc.ssh, shown while debug lines are off.
void TestSshHostKeys::fastestCipherIsNegotiatedAndReported()
{
    const QByteArrayList ciphers = librarySupports(LIBSSH2_METHOD_CRYPT_CS);
    const QByteArrayList macs = librarySupports(LIBSSH2_METHOD_MAC_CS);
    const QByteArray chacha20 = "chacha20-poly1305@openssh.com";
    const QByteArray cipher =
        CipherPreference::chacha20Allowed() && ciphers.contains(chacha20) ? chacha20
        : ciphers.contains("aes128-gcm@openssh.com")                      ? "aes128-gcm@openssh.com"
                                                                          : "aes128-ctr";
    const QByteArray mac = macs.contains("hmac-sha2-256-etm@openssh.com")
                               ? "hmac-sha2-256-etm@openssh.com"
                               : "hmac-sha2-256";
    QVERIFY(!QSsh::lcSsh().isDebugEnabled());
    sshInfoLines.clear();
    previousHandler = qInstallMessageHandler(captureSshInfo);
    bool connected = false;
    attempt(knownHosts(), &connected);
    qInstallMessageHandler(previousHandler);
    QVERIFY(connected);
    QCOMPARE(sshInfoLines,
             QStringList{
                 QString("connected to %1: cipher %2, mac %3").arg(m_sim.address(), cipher, mac)});
}

QTEST_GUILESS_MAIN(TestSshHostKeys)
#include "tst_ssh_hostkeys.moc"
