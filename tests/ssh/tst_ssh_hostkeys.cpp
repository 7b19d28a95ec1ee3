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
    QString knownHosts() const { return m_dir->filePath(QStringLiteral("known_hosts")); }
    // One attempt to its end, with this process's file unless another is given: what the
    // check found, and how the attempt ended (SshNoError once connected).
    QSsh::HostKeyCheck attempt(QSsh::SshError *outcome, const QString &file);
    QSsh::HostKeyCheck attempt(QSsh::SshError *outcome) { return attempt(outcome, knownHosts()); }

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

QSsh::HostKeyCheck TestSshHostKeys::attempt(QSsh::SshError *outcome, const QString &file)
{
    QSsh::SshConnectionParameters parameters = controllerParameters(m_sim.address());
    parameters.knownHostsFile = file;
    QSsh::SshConnection connection(parameters);
    QSignalSpy up(&connection, &QSsh::SshConnection::connected);
    QSignalSpy error(&connection, &QSsh::SshConnection::error);
    connection.connectToHost();
    *outcome = QSsh::SshTimeoutError;
    if (QTest::qWaitFor([&] { return !up.isEmpty() || !error.isEmpty(); }, 15000))
        *outcome = up.isEmpty() ? connection.errorState() : QSsh::SshNoError;
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
    if (!before.isEmpty())
        QVERIFY(writeFile(knownHosts(), before));

    QSsh::SshError outcome;
    const QSsh::HostKeyCheck first = attempt(&outcome);
    QCOMPARE(outcome, QSsh::SshNoError);
    QCOMPARE(first.outcome, QSsh::HostKeyCheck::Recorded);

    // One line added after the operator's, found by OpenSSH, naming the controller's key:
    // Ed25519, which OpenSSH too asks for first.
    const QByteArray after = readFile(knownHosts());
    QVERIFY2(after.startsWith(before), after.constData());
    const QByteArray added = after.mid(before.size());
    QCOMPARE(added.count('\n'), before.isEmpty() ? 1 : 2);
    QCOMPARE(OpenSshKeys::linesFor(m_sim.address(), knownHosts()),
             QList<int>{before.isEmpty() ? 1 : 3});
    const QStringList controllerKey =
        OpenSshKeys::fingerprints(m_sim.scanHostKey(QStringLiteral("ed25519")));
    QCOMPARE(OpenSshKeys::fingerprints(added), controllerKey);
    QCOMPARE(QStringList{first.offeredKey}, controllerKey);

    const QSsh::HostKeyCheck second = attempt(&outcome);
    QCOMPARE(outcome, QSsh::SshNoError);
    QCOMPARE(second.outcome, QSsh::HostKeyCheck::Matched);
    QCOMPARE(readFile(knownHosts()), after);
}

void TestSshHostKeys::seededKeyIsTheOneChecked_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<bool>("hashed");
    QTest::newRow("ssh-keyscan -t ed25519") << "ed25519" << false;
    // Not asked for the recorded type first, the controller would show its Ed25519 key.
    QTest::newRow("ssh-keyscan -t ecdsa") << "ecdsa" << false;
    QTest::newRow("hashed, as in ~/.ssh/known_hosts") << "ecdsa" << true;
}

void TestSshHostKeys::seededKeyIsTheOneChecked()
{
    QFETCH(QString, type);
    QFETCH(bool, hashed);
    const QByteArray seed = "# seeded\n" + m_sim.scanHostKey(type, hashed);
    QVERIFY2(seed.count('\n') == 2, qPrintable(m_sim.lastError()));
    QVERIFY(writeFile(knownHosts(), seed));

    QSsh::SshError outcome;
    const QSsh::HostKeyCheck check = attempt(&outcome);
    QCOMPARE(outcome, QSsh::SshNoError);
    QCOMPARE(check.outcome, QSsh::HostKeyCheck::Matched);
    QCOMPARE(QStringList{check.offeredKey}, OpenSshKeys::fingerprints(seed));
    QCOMPARE(readFile(knownHosts()), seed);
}

void TestSshHostKeys::otherKeyIsRefusedBeforeThePassword_data()
{
    QTest::addColumn<bool>("reinstalled");
    QTest::newRow("controller reinstalled") << true;
    // Asked for the recorded type first, a controller without it shows another key.
    QTest::newRow("recorded type not offered") << false;
}

void TestSshHostKeys::otherKeyIsRefusedBeforeThePassword()
{
    QFETCH(bool, reinstalled);
    QByteArray recorded;
    if (reinstalled) {
        recorded = m_sim.scanHostKey(QStringLiteral("ed25519"));
        QVERIFY2(m_sim.renewHostKeys(), qPrintable(m_sim.lastError()));
    } else {
        const QString key = m_dir->filePath(QStringLiteral("rsa"));
        QCOMPARE(
            QProcess::execute(QStringLiteral("ssh-keygen"),
                              {QStringLiteral("-q"), QStringLiteral("-t"), QStringLiteral("rsa"),
                               QStringLiteral("-N"), QString(), QStringLiteral("-f"), key}),
            0);
        recorded = m_sim.address().toUtf8() + ' ' + readFile(key + QLatin1String(".pub"));
    }
    const QByteArray before = "# line 1\n\n" + recorded;
    QVERIFY(writeFile(knownHosts(), before));

    const SimController::SshdCounts sshd = m_sim.sshdCounts();
    QSsh::SshError outcome;
    const QSsh::HostKeyCheck check = attempt(&outcome);
    QCOMPARE(outcome, QSsh::SshHostKeyError);
    QVERIFY2(m_sim.endedWithoutPassword(sshd), qPrintable(m_sim.lastError()));
    QCOMPARE(check.outcome, QSsh::HostKeyCheck::Refused);
    QCOMPARE(QStringList{check.recordedKey}, OpenSshKeys::fingerprints(recorded));
    QCOMPARE(QStringList{check.offeredKey},
             OpenSshKeys::fingerprints(m_sim.scanHostKey(QStringLiteral("ed25519"))));
    QCOMPARE(check.line, 3);
    QCOMPARE(check.knownHostsFile, knownHosts());
    QCOMPARE(readFile(knownHosts()), before);
}

void TestSshHostKeys::unusableFileIsAnErrorNotTrust_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("file"); // "folder": a folder in its place; "none": no file set
    QTest::addColumn<int>("line");
    QTest::newRow("line cut short")
        << QByteArray("# ok\n10.213.0.1 ssh-ed25519\n") << "known_hosts" << 2;
    QTest::newRow("a folder in its place") << QByteArray() << "folder" << 0;
    QTest::newRow("no file set") << QByteArray() << "none" << 0;
}

void TestSshHostKeys::unusableFileIsAnErrorNotTrust()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, file);
    QFETCH(int, line);
    if (!content.isEmpty())
        QVERIFY(writeFile(knownHosts(), content));

    QSsh::SshError outcome;
    const QSsh::HostKeyCheck check =
        attempt(&outcome, file == QLatin1String("folder") ? m_dir->path()
                          : file == QLatin1String("none") ? QString()
                                                          : knownHosts());
    QCOMPARE(outcome, QSsh::SshHostKeyError);
    QCOMPARE(check.outcome, QSsh::HostKeyCheck::FileUnusable);
    QCOMPARE(check.line, line);
    QVERIFY(!check.error.isEmpty());
    QCOMPARE(readFile(knownHosts()), content);
}

void TestSshHostKeys::unwritableFileLetsTheSessionGoOn()
{
    QSsh::SshError outcome;
    const QSsh::HostKeyCheck check =
        attempt(&outcome, m_dir->filePath(QStringLiteral("no such folder/known_hosts")));
    QCOMPARE(outcome, QSsh::SshNoError);
    QCOMPARE(check.outcome, QSsh::HostKeyCheck::NotRecorded);
    QVERIFY(!check.error.isEmpty());
}

QTEST_GUILESS_MAIN(TestSshHostKeys)
#include "tst_ssh_hostkeys.moc"
