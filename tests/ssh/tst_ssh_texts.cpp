#include <SftpErrorText.h>
#include <SftpUploadJob.h>

#include <QTest>

#include <libssh2.h>
#include <libssh2_sftp.h>

using namespace QSsh::Internal;

// The failure texts of SFTP jobs and the names of upload temporaries.
class TestSshTexts : public QObject
{
    Q_OBJECT
private slots:
    void everyStatusHasMeaningfulText();
    void genericFailureIsReadByOperation();
    void reasonsJoinWithoutDoublePeriods();
    void temporaryNamesStayBesideTheTarget_data();
    void temporaryNamesStayBesideTheTarget();
};

void TestSshTexts::everyStatusHasMeaningfulText()
{
    for (unsigned long status = LIBSSH2_FX_EOF; status <= LIBSSH2_FX_LINK_LOOP; ++status) {
        const QString text = sftpFailureText(SftpOperation::Remove, "/p", status);
        QVERIFY2(text.startsWith("Cannot remove remote file \"/p\": "), qPrintable(text));
        QVERIFY2(text.length() > QString("Cannot remove remote file \"/p\": .").length() + 3,
                 qPrintable(text));
    }
    QCOMPARE(sftpStatusText(LIBSSH2_FX_PERMISSION_DENIED), QString("permission denied"));
    QCOMPARE(sftpStatusText(LIBSSH2_FX_NO_SUCH_FILE), QString("no such file or directory"));
    QVERIFY(sftpStatusText(999).contains("999"));
}

void TestSshTexts::genericFailureIsReadByOperation()
{
    // Protocol 3 servers report a non-empty directory and an existing one as plain failure.
    QVERIFY(sftpFailureText(SftpOperation::RemoveDirectory, "/d", LIBSSH2_FX_FAILURE)
                .contains("not empty"));
    QVERIFY(sftpFailureText(SftpOperation::CreateDirectory, "/d", LIBSSH2_FX_FAILURE)
                .contains("already exists"));
    QVERIFY(sftpFailureText(SftpOperation::RemoveDirectory, "/d", LIBSSH2_FX_DIR_NOT_EMPTY)
                .contains("not empty"));
}

void TestSshTexts::reasonsJoinWithoutDoublePeriods()
{
    QCOMPARE(sftpFailureText(SftpOperation::Read, QString::fromUtf8("/零件 测试.nc"),
                             QString("Connection lost: timed out.")),
             QString::fromUtf8(
                 "Cannot read remote file \"/零件 测试.nc\": Connection lost: timed out."));
}

void TestSshTexts::temporaryNamesStayBesideTheTarget_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("expected");
    QTest::newRow("absolute") << "/home/pi/cnc/a.nc"
                              << "/home/pi/cnc/.a.nc.part-1f";
    QTest::newRow("relative") << "a.nc"
                              << ".a.nc.part-1f";
    QTest::newRow("chinese") << QString::fromUtf8("/x/零件 测试.nc")
                             << QString::fromUtf8("/x/.零件 测试.nc.part-1f");
    // Within the controller's 255 bytes per name, a whole character at a time.
    QTest::newRow("long Chinese name is shortened")
        << "/x/" + QString(84, QChar(0x96F6)) << "/x/." + QString(82, QChar(0x96F6)) + ".part-1f";
}

void TestSshTexts::temporaryNamesStayBesideTheTarget()
{
    QFETCH(QString, target);
    QFETCH(QString, expected);
    QCOMPARE(SftpUploadJob::sideName(target, "part", "1f"), expected);
}

QTEST_GUILESS_MAIN(TestSshTexts)
#include "tst_ssh_texts.moc"
