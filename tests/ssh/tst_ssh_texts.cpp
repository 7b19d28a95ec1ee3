// What the operator reads of a failed SFTP job, and the names of upload temporaries.
#include <SftpErrorText.h>
#include <SftpUploadJob.h>

#include <QtTest>

#include <libssh2.h>
#include <libssh2_sftp.h>

using namespace QSsh::Internal;

class TestSshTexts : public QObject
{
    Q_OBJECT
private slots:
    void failureTexts();
    void temporaryNamesStayBesideTheTarget();
};

void TestSshTexts::failureTexts()
{
    // Every status says something; protocol 3 servers report a non-empty directory and an
    // existing one as a plain failure, which the operation tells apart.
    for (unsigned long status = LIBSSH2_FX_EOF; status <= LIBSSH2_FX_LINK_LOOP; ++status)
        QVERIFY(!sftpStatusText(status).startsWith("SFTP status"));
    QVERIFY(sftpFailureText(SftpOperation::RemoveDirectory, "/d", LIBSSH2_FX_FAILURE)
                .contains("not empty"));
    QVERIFY(sftpFailureText(SftpOperation::CreateDirectory, "/d", LIBSSH2_FX_FAILURE)
                .contains("already exists"));
    QCOMPARE(
        sftpFailureText(SftpOperation::Read, "/零件 测试.nc", "Connection lost: timed out."),
        QStringLiteral("Cannot read remote file \"/零件 测试.nc\": Connection lost: timed out."));
}

void TestSshTexts::temporaryNamesStayBesideTheTarget()
{
    QCOMPARE(SftpUploadJob::sideName("/home/pi/cnc/a.nc", "part", "1f"),
             QStringLiteral("/home/pi/cnc/.a.nc.part-1f"));
    QCOMPARE(SftpUploadJob::sideName("a.nc", "part", "1f"), QStringLiteral(".a.nc.part-1f"));
    // Within the controller's 255 bytes per name, a whole character at a time.
    QCOMPARE(SftpUploadJob::sideName("/x/" + QString(84, QChar(0x96F6)), "part", "1f"),
             "/x/." + QString(82, QChar(0x96F6)) + ".part-1f");
}

QTEST_GUILESS_MAIN(TestSshTexts)
#include "tst_ssh_texts.moc"
