// The pure rules behind the window's file operations: remote path joining, folder name
// validation, and which selected rows a delete or a download takes.

#include "FolderName.h"
#include "ListSelection.h"
#include "RemotePath.h"

#include <QtTest>

class tst_FileOperationRules : public QObject
{
    Q_OBJECT
private slots:
    void joinInsertsOneSlashOnly_data();
    void joinInsertsOneSlashOnly();
    void folderNameRefusesExactlyTheNineCharacters();
    void folderNameAcceptsEverythingElse_data();
    void folderNameAcceptsEverythingElse();
    void deleteCandidates();
    void deleteTagFollowsTheLanguageShown();
    void downloadSelection();
};

void tst_FileOperationRules::joinInsertsOneSlashOnly_data()
{
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("expected");
    QTest::newRow("root ends with slash") << "/home/pi/cnc/"
                                          << "part.nc"
                                          << "/home/pi/cnc/part.nc";
    QTest::newRow("dir without slash") << "/home/pi/cnc"
                                       << "part.nc"
                                       << "/home/pi/cnc/part.nc";
    QTest::newRow("name kept as given") << "/home/pi/cnc/jobs/"
                                        << " New Folder "
                                        << "/home/pi/cnc/jobs/ New Folder ";
    QTest::newRow("backslash is no separator") << "/home/pi/cnc\\"
                                               << "a"
                                               << "/home/pi/cnc\\/a";
}

void tst_FileOperationRules::joinInsertsOneSlashOnly()
{
    QFETCH(QString, dir);
    QFETCH(QString, name);
    QFETCH(QString, expected);
    QCOMPARE(RemotePath::join(dir, name), expected);
}

void tst_FileOperationRules::folderNameRefusesExactlyTheNineCharacters()
{
    const QString forbidden = FolderName::forbiddenCharacters();
    QCOMPARE(forbidden, QStringLiteral("/\\*?<>|\":"));
    for (const QChar c : forbidden) {
        QVERIFY2(!FolderName::isAllowed(QStringLiteral("job") + c), qPrintable(QString(c)));
        QVERIFY2(!FolderName::isAllowed(QString(c) + QStringLiteral("job")),
                 qPrintable(QString(c)));
    }
}

void tst_FileOperationRules::folderNameAcceptsEverythingElse_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("default") << "New Folder";
    QTest::newRow("blanks around") << "  part 1  ";
    QTest::newRow("blanks only") << "   ";
    QTest::newRow("dot") << ".";
    QTest::newRow("dot dot") << "..";
    QTest::newRow("chinese") << "新建文件夹";
    QTest::newRow("shell characters") << "a$b`c'd;e&f";
    QTest::newRow("placeholder") << "%1 %2";
}

void tst_FileOperationRules::folderNameAcceptsEverythingElse()
{
    QFETCH(QString, name);
    QVERIFY(FolderName::isAllowed(name));
}

void tst_FileOperationRules::deleteCandidates()
{
    const QString decomposed = QStringLiteral("Cafe\u0301.nc");
    const QVector<ListRow> rows = {
        {QStringLiteral(".."), QStringLiteral("Navigation")},
        {QStringLiteral(" jobs "), QStringLiteral("Folder")},
        {QStringLiteral("part.nc"), QStringLiteral("File")},
        {decomposed, QStringLiteral("File")},
        {QStringLiteral("odd"), QStringLiteral("Folder ")},
    };

    const QVector<DeleteCandidate> candidates =
        ::deleteCandidates(rows, QStringLiteral("/home/pi/cnc/"), QStringLiteral("Folder"));

    QCOMPARE(candidates.size(), 4);
    // Blanks at either end belong to the name: " jobs " is another folder than "jobs".
    QCOMPARE(candidates[0].name, QStringLiteral(" jobs "));
    QCOMPARE(candidates[0].path, QStringLiteral("/home/pi/cnc/ jobs "));
    QCOMPARE(candidates[0].type, QStringLiteral("dir"));
    QCOMPARE(candidates[1].path, QStringLiteral("/home/pi/cnc/part.nc"));
    QCOMPARE(candidates[1].type, QStringLiteral("file"));
    // Decomposed as listed, so decomposed in the path: the composed form names nothing.
    QCOMPARE(candidates[2].path, QStringLiteral("/home/pi/cnc/") + decomposed);
    QCOMPARE(candidates[2].type, QStringLiteral("file"));
    // The type text is compared untrimmed.
    QCOMPARE(candidates[3].type, QStringLiteral("file"));

    const QVector<ListRow> navigationOnly = {{QStringLiteral(" .. "), QStringLiteral("导航")}};
    QVERIFY(::deleteCandidates(navigationOnly, QStringLiteral("/home/pi/cnc/a/"),
                               QStringLiteral("文件夹"))
                .isEmpty());
}

void tst_FileOperationRules::deleteTagFollowsTheLanguageShown()
{
    const QVector<ListRow> rows = {{QStringLiteral("程序"), QStringLiteral("文件夹")}};
    QCOMPARE(::deleteCandidates(rows, QStringLiteral("/home/pi/cnc/"), QStringLiteral("文件夹"))
                 .first()
                 .type,
             QStringLiteral("dir"));
    // A list still in Chinese after the window switched to English: not a folder any more.
    QCOMPARE(::deleteCandidates(rows, QStringLiteral("/home/pi/cnc/"), QStringLiteral("Folder"))
                 .first()
                 .type,
             QStringLiteral("file"));
}

void tst_FileOperationRules::downloadSelection()
{
    const QVector<ListRow> rows = {
        {QStringLiteral("sub"), QStringLiteral("Folder")},
        {QStringLiteral(".."), QStringLiteral("Navigation")},
        {QStringLiteral(" b.nc "), QStringLiteral("File")},
        {QStringLiteral("a.nc"), QStringLiteral("File")},
        {QStringLiteral("c.nc"), QStringLiteral("文件")},
    };
    const DownloadSelection selection = ::downloadSelection(rows, QStringLiteral("File"));
    QCOMPARE(selection.files, QStringList({QStringLiteral(" b.nc "), QStringLiteral("a.nc")}));
    QCOMPARE(selection.skipped, QStringList({QStringLiteral("sub"), QStringLiteral("c.nc")}));

    const DownloadSelection navigationOnly = ::downloadSelection(
        {{QStringLiteral(".."), QStringLiteral("Navigation")}}, QStringLiteral("File"));
    QVERIFY(navigationOnly.files.isEmpty());
    QVERIFY(navigationOnly.skipped.isEmpty());
}

QTEST_APPLESS_MAIN(tst_FileOperationRules)
#include "tst_fileoperationrules.moc"
