// The controller's host key against the known-hosts file: recorded on first use, honoured when
// seeded by OpenSSH's tools, and a changed key or an unusable file refused before the password
// is sent.
#include "OpenSshKeys.h"
#include "SimController.h"
#include "SshTestSupport.h"

#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace SshTestSupport;

class TestSshHostKeys : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();

    void newAddressIsRecordedOnceThenMatched_data();
    void newAddressIsRecordedOnceThenMatched();
    void seededKeyIsTheOneChecked_data();
    void seededKeyIsTheOneChecked();
    void otherKeyIsRefusedBeforeThePassword_data();
    void otherKeyIsRefusedBeforeThePassword();
    void unusableFileIsAnErrorNotTrust_data();
    void unusableFileIsAnErrorNotTrust();
    void unwritableFileLetsTheSessionGoOn();

private:
    QSsh::SshConnectionParameters parameters() const
    {
        QSsh::SshConnectionParameters parameters = controllerParameters(m_sim.address());
        parameters.knownHostsFile = knownHosts();
        return parameters;
    }
    QString knownHosts() const { return m_dir->filePath(QStringLiteral("known_hosts")); }
    // One attempt to its end: the check's outcome, and whether the connection came up.
    QSsh::HostKeyCheck attempt(const QSsh::SshConnectionParameters &parameters,
                               bool *connected = nullptr);
    // An attempt that must fail with SshHostKeyError before sshd has seen a password.
    QSsh::HostKeyCheck refusedAttempt(const QSsh::SshConnectionParameters &parameters);

    SimController m_sim;
    std::unique_ptr<QTemporaryDir> m_dir;
};

void TestSshHostKeys::initTestCase()
{
    CNC_REQUIRE_SIM();
    QVERIFY2(m_sim.start(), qPrintable(m_sim.lastError()));
}

void TestSshHostKeys::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
}

QSsh::HostKeyCheck TestSshHostKeys::attempt(const QSsh::SshConnectionParameters &parameters,
                                            bool *connected)
{
    QSsh::SshConnection connection(parameters);
    QSignalSpy up(&connection, &QSsh::SshConnection::connected);
    QSignalSpy error(&connection, &QSsh::SshConnection::error);
    connection.connectToHost();
    if (!QTest::qWaitFor([&] { return !up.isEmpty() || !error.isEmpty(); }, 15000))
        qWarning("no outcome of the connection attempt");
    if (connected)
        *connected = !up.isEmpty();
    if (!error.isEmpty() && error.first().first().value<QSsh::SshError>() != QSsh::SshHostKeyError)
        qWarning("connection failed: %s", qPrintable(connection.errorString()));
    return connection.hostKeyCheck();
}

QSsh::HostKeyCheck TestSshHostKeys::refusedAttempt(const QSsh::SshConnectionParameters &parameters)
{
    const SimController::SshdCounts before = m_sim.sshdCounts();
    QSsh::SshConnection connection(parameters);
    QSignalSpy up(&connection, &QSsh::SshConnection::connected);
    QSignalSpy error(&connection, &QSsh::SshConnection::error);
    connection.connectToHost();
    if (!error.wait(15000) || !up.isEmpty() ||
        error.first().first().value<QSsh::SshError>() != QSsh::SshHostKeyError)
        qWarning("not refused for its host key: %s", qPrintable(connection.errorString()));
    // The attempt reached sshd and ended there without a login; sshd never saw a password.
    SimController::SshdCounts after;
    (void)QTest::qWaitFor(
        [&] {
            after = m_sim.sshdCounts();
            return after.endedWithoutLogin > before.endedWithoutLogin;
        },
        10000);
    const bool unseen = after.connections > before.connections &&
                        after.endedWithoutLogin > before.endedWithoutLogin &&
                        after.passwords == before.passwords;
    if (!unseen)
        qWarning("sshd saw %d connections, %d ended without login, %d passwords",
                 after.connections - before.connections,
                 after.endedWithoutLogin - before.endedWithoutLogin,
                 after.passwords - before.passwords);
    return unseen && !error.isEmpty() ? connection.hostKeyCheck() : QSsh::HostKeyCheck();
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
    if (!before.isEmpty())
        QVERIFY(writeFile(knownHosts(), before));

    bool connected = false;
    const QSsh::HostKeyCheck first = attempt(parameters(), &connected);
    QVERIFY(connected);
    QCOMPARE(first.outcome, QSsh::HostKeyCheck::Recorded);
    QCOMPARE(first.knownHostsFile, knownHosts());

    // One line added after the operator's, found by OpenSSH, naming the key the controller
    // has: Ed25519, as OpenSSH itself asks for first.
    const QByteArray after = readFile(knownHosts());
    QVERIFY2(after.startsWith(before), after.constData());
    const QByteArray added = after.mid(before.size());
    QCOMPARE(added.count('\n'), before.isEmpty() || before.endsWith('\n') ? 1 : 2);
    const int addedLine = before.count('\n') + (before.isEmpty() ? 1 : 2);
    QCOMPARE(OpenSshKeys::linesFor(m_sim.address(), knownHosts()), QList<int>{addedLine});
    const QStringList controllerKey =
        OpenSshKeys::fingerprints(m_sim.scanHostKey(QStringLiteral("ed25519")));
    QCOMPARE(OpenSshKeys::fingerprints(added), controllerKey);
    QCOMPARE(QStringList{first.offeredKey}, controllerKey);

    const QSsh::HostKeyCheck second = attempt(parameters(), &connected);
    QVERIFY(connected);
    QCOMPARE(second.outcome, QSsh::HostKeyCheck::Matched);
    QCOMPARE(second.offeredKey, first.offeredKey);
    QCOMPARE(readFile(knownHosts()), after);
}

void TestSshHostKeys::seededKeyIsTheOneChecked_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("hashed");
    QTest::addColumn<QString>("shownType");
    QTest::newRow("ssh-keyscan -t ed25519") << "ed25519" << false << "ED25519";
    // Without the recorded type asked for first, the controller would show its Ed25519 key.
    QTest::newRow("ssh-keyscan -t ecdsa") << "ecdsa" << false << "ECDSA";
    QTest::newRow("hashed, as ~/.ssh/known_hosts") << "ecdsa" << true << "ECDSA";
}

void TestSshHostKeys::seededKeyIsTheOneChecked()
{
    QFETCH(QString, type);
    QFETCH(bool, hashed);
    QFETCH(QString, shownType);
    const QByteArray seed = "# seeded\n" + m_sim.scanHostKey(type, hashed);
    QVERIFY2(seed.count('\n') == 2, qPrintable(m_sim.lastError()));
    QVERIFY(writeFile(knownHosts(), seed));

    bool connected = false;
    const QSsh::HostKeyCheck check = attempt(parameters(), &connected);
    QVERIFY(connected);
    QCOMPARE(check.outcome, QSsh::HostKeyCheck::Matched);
    QCOMPARE(QStringList{check.offeredKey}, OpenSshKeys::fingerprints(seed));
    QVERIFY(check.offeredKey.startsWith(shownType + QLatin1Char(' ')));
    QCOMPARE(readFile(knownHosts()), seed);
}

void TestSshHostKeys::otherKeyIsRefusedBeforeThePassword_data()
{
    QTest::addColumn<bool>("renewKeys");
    QTest::addColumn<QString>("recordedType");
    QTest::newRow("controller reinstalled") << true << "ED25519";
    // The controller has none of the recorded types: asked for RSA, it shows another key.
    QTest::newRow("recorded type not offered") << false << "RSA";
}

void TestSshHostKeys::otherKeyIsRefusedBeforeThePassword()
{
    QFETCH(bool, renewKeys);
    QFETCH(QString, recordedType);

    QByteArray recorded;
    if (renewKeys) {
        recorded = m_sim.scanHostKey(QStringLiteral("ed25519"));
        QVERIFY2(m_sim.renewHostKeys(), qPrintable(m_sim.lastError()));
    } else {
        QProcess keygen;
        const QString key = m_dir->filePath(QStringLiteral("rsa"));
        keygen.start(QStringLiteral("ssh-keygen"),
                     {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("rsa"),
                      QStringLiteral("-N"), QString(), QStringLiteral("-f"), key});
        QVERIFY(keygen.waitForFinished(60000) && keygen.exitCode() == 0);
        recorded = m_sim.address().toUtf8() + ' ' + readFile(key + QLatin1String(".pub"));
    }
    const QByteArray before = "# line 1\n\n" + recorded;
    QVERIFY(writeFile(knownHosts(), before));

    const QSsh::HostKeyCheck check = refusedAttempt(parameters());
    QCOMPARE(check.outcome, QSsh::HostKeyCheck::Refused);
    QCOMPARE(QStringList{check.recordedKey}, OpenSshKeys::fingerprints(recorded));
    QVERIFY(check.recordedKey.startsWith(recordedType + QLatin1Char(' ')));
    QCOMPARE(QStringList{check.offeredKey},
             OpenSshKeys::fingerprints(m_sim.scanHostKey(QStringLiteral("ed25519"))));
    QCOMPARE(check.line, 3);
    QCOMPARE(check.knownHostsFile, knownHosts());
    QCOMPARE(readFile(knownHosts()), before);
}

void TestSshHostKeys::unusableFileIsAnErrorNotTrust_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("folder");
    QTest::addColumn<bool>("unset");
    QTest::addColumn<int>("line");
    QTest::newRow("truncated line")
        << QByteArray("# ok\n10.213.0.1 ssh-ed25519\n") << false << false << 2;
    QTest::newRow("binary junk") << QByteArray("\x01\x02\xff\xfe\n", 5) << false << false << 1;
    QTest::newRow("a folder in its place") << QByteArray() << true << false << 0;
    QTest::newRow("no file set") << QByteArray() << false << true << 0;
}

void TestSshHostKeys::unusableFileIsAnErrorNotTrust()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, folder);
    QFETCH(bool, unset);
    QFETCH(int, line);
    if (folder)
        QVERIFY(QDir().mkdir(knownHosts()));
    else if (!content.isEmpty())
        QVERIFY(writeFile(knownHosts(), content));
    QSsh::SshConnectionParameters unusable = parameters();
    if (unset)
        unusable.knownHostsFile.clear();

    const QSsh::HostKeyCheck check = refusedAttempt(unusable);
    QCOMPARE(check.outcome, QSsh::HostKeyCheck::FileUnusable);
    QCOMPARE(check.line, line);
    QVERIFY(!check.error.isEmpty());
    if (!folder && !unset)
        QCOMPARE(readFile(knownHosts()), content);
}

void TestSshHostKeys::unwritableFileLetsTheSessionGoOn()
{
    QSsh::SshConnectionParameters unwritable = parameters();
    unwritable.knownHostsFile = m_dir->filePath(QStringLiteral("no such folder/known_hosts"));
    bool connected = false;
    const QSsh::HostKeyCheck check = attempt(unwritable, &connected);
    QVERIFY(connected);
    QCOMPARE(check.outcome, QSsh::HostKeyCheck::NotRecorded);
    QVERIFY(check.offeredKey.startsWith(QLatin1String("ED25519 SHA256:")));
    QVERIFY(!check.error.isEmpty());
}

QTEST_GUILESS_MAIN(TestSshHostKeys)
#include "tst_ssh_hostkeys.moc"
