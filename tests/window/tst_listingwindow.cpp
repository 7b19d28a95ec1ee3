// The window's listing path without a controller: navigation, selection and the start of
// listings.
#include "ListingWindowDriver.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

using namespace WindowTestSupport;

class TestListingWindow : public QObject
{
    Q_OBJECT
private slots:
    void init() { QFile::remove(settingsPath()); }
    void cleanupTestCase() { QFile::remove(settingsPath()); }

    void markersActWhetherOrNotListingAndStayOutOfIt();
    void listShowsTheFolderTheButtonsActOn();
    void selectionLabelsInBothLanguages_data();
    void selectionLabelsInBothLanguages();
    void channelReadyFlushesTheShellAndListsLater();
};

void TestListingWindow::markersActWhetherOrNotListingAndStayOutOfIt()
{
    Window w;
    // No listing outstanding: the outcome is logged and the list refreshed half a second later.
    w.feed(fixture("delete_success.raw"));
    QCOMPARE(w.log().count(QStringLiteral("删除操作成功完成")), 1);
    QTRY_COMPARE(w.sent.count(), 1);
    w.list(kRoot);

    // During a listing: a failed delete, whose echo names the success marker too, is logged as
    // a failure, and its prompt does not end the listing.
    w.call("onRefreshClicked");
    const QString failed = fixture("delete_failed.raw");
    const int echoEnd = failed.indexOf(QLatin1Char('\n')) + 1;
    w.feed(failed.left(echoEnd));
    w.feed(failed.mid(echoEnd));
    QCOMPARE(w.log().count(QStringLiteral("删除操作失败")), 1);
    QCOMPARE(w.log().count(QStringLiteral("删除操作成功完成")), 1);
    QVERIFY(!w.refreshEnabled());
    w.feed(listingOutput(kRoot));
    QCOMPARE(w.model()->rowCount(), 5);

    // A marker line in two pieces counts once; the new folder refresh follows.
    const QString created = fixture("create_success.raw");
    const int split = created.indexOf(QLatin1String("CREATE_SUCCESS\r")) + 7;
    w.feed(created.left(split));
    w.feed(created.mid(split));
    QCOMPARE(w.log().count(QStringLiteral("新建文件夹操作成功完成")), 1);
    QTRY_COMPARE(w.sent.count(), 3);
}

void TestListingWindow::listShowsTheFolderTheButtonsActOn()
{
    Window w;
    const auto *pathLabel = w.part<QLabel>("m_pathLabel");
    const QTimer *quietTime = w.part<QTimer>("m_bufferTimer");
    w.call("onRefreshClicked");
    w.call("onRefreshClicked"); // refused: a listing is outstanding
    QCOMPARE(w.sent.count(), 1);
    w.list(kRoot);

    w.doubleClick(QStringLiteral("a.nc")); // a file: nothing
    w.doubleClick(QStringLiteral("jobs"));
    QCOMPARE(w.lastCommand(), ControllerShell::listingCommand(kRoot + "jobs/"));
    QCOMPARE(pathLabel->text(), QStringLiteral("CNC控制器文件: /home/pi/cnc/jobs/"));
    w.doubleClick(QStringLiteral("old")); // ignored until the listing is in
    QCOMPARE(w.sent.count(), 2);

    // A spoiled listing below the root still shows the navigation row; nothing is retried.
    QString spoiled = fixture("resize_error.raw");
    spoiled.replace(ControllerShell::listingCommand(kRoot).trimmed(),
                    ControllerShell::listingCommand(kRoot + "jobs/").trimmed());
    w.feed(spoiled);
    QCOMPARE(w.column(1), QStringList{QStringLiteral("导航")});
    w.doubleClick(QStringLiteral(".."));
    w.list(kRoot);

    // While the connection is down nothing is listed, and the rows keep their folder: a
    // folder chosen meanwhile does not become the folder that the next action builds paths in.
    w.setConnected(false);
    w.doubleClick(QStringLiteral("jobs"));
    QCOMPARE(w.sent.count(), 3);
    QCOMPARE(pathLabel->text(), QStringLiteral("CNC控制器文件: /home/pi/cnc/"));
    w.setConnected(true);
    QVERIFY(!w.refreshEnabled()); // until the new channel is ready
    w.doubleClick(QStringLiteral("old"));
    QCOMPARE(w.lastCommand(), ControllerShell::listingCommand(kRoot + "old/"));

    // A listing cut off by a loss ends with it, without rows and without Refresh.
    w.feed(listingOutput(kRoot + "old/").left(200));
    QVERIFY(quietTime->isActive());
    w.setConnected(false);
    QVERIFY(!quietTime->isActive() && !w.refreshEnabled());
    QCOMPARE(w.column(0), QStringList{QStringLiteral("..")});
    w.setConnected(true);
    w.doubleClick(QStringLiteral(".."));

    // In the root the spoiled listing leaves the list empty and is retried after 2 s.
    QCOMPARE(w.lastCommand(), ControllerShell::listingCommand(kRoot));
    QElapsedTimer clock;
    clock.start();
    w.feed(fixture("resize_error.raw"));
    QCOMPARE(w.model()->rowCount(), 0);
    QVERIFY(w.refreshEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(w.sent.count(), 6, 4000);
    QVERIFY2(clock.elapsed() >= 1850, qPrintable(QString::number(clock.elapsed())));
    w.list(kRoot);
}

void TestListingWindow::selectionLabelsInBothLanguages_data()
{
    QTest::addColumn<QString>("language");
    QTest::addColumn<QStringList>("types");
    QTest::addColumn<QStringList>("labels");
    QTest::newRow("Chinese") << "zh"
                             << QStringList{"导航", "文件夹", "文件夹", "文件", "文件", "文件"}
                             << QStringList{"删除 5 个项目", "下载 3 个文件", "删除文件",
                                            "下载文件",      "删除 2 个项目", "下载文件"};
    QTest::newRow("English") << "en" << QStringList{"Navigation", "Folder", "Folder",
                                                    "File",       "File",   "File"}
                             << QStringList{"Delete 5 Items", "Download 3 Files", "Delete File",
                                            "Download File",  "Delete 2 Items",   "Download File"};
}

void TestListingWindow::selectionLabelsInBothLanguages()
{
    QFETCH(QString, language);
    QFETCH(QStringList, types);
    QFETCH(QStringList, labels);
    setSetting(QStringLiteral("language"), language);

    Window w;
    w.call("onRefreshClicked");
    w.list(kRoot);
    w.doubleClick(QStringLiteral("jobs"));
    w.list(kRoot + "jobs/");
    // Navigation row, folders newest first, files newest first.
    QCOMPARE(w.column(0), QStringList({"..", "old", "jobs", "b.nc", "c.nc", "a.nc"}));
    QCOMPARE(w.column(1), types);
    QCOMPARE(w.column(2).mid(3), QStringList({"2.0 KB", "30 B", "10 B"}));

    QItemSelectionModel *selection = w.part<QTreeView>("m_treeView")->selectionModel();
    for (const int last : {5, 0, 2}) { // all; the navigation row alone; it and the folders
        selection->select(QItemSelection(w.model()->index(0, 0), w.model()->index(last, 3)),
                          QItemSelectionModel::ClearAndSelect);
        QCOMPARE(QStringList({w.part<QPushButton>("m_btnDelete")->text(),
                              w.part<QPushButton>("m_btnDownload")->text()}),
                 labels.mid(0, 2));
        labels = labels.mid(2);
    }
}

void TestListingWindow::channelReadyFlushesTheShellAndListsLater()
{
    Window w;
    QElapsedTimer clock;
    clock.start();
    w.call("onSftpInitialized");
    for (const char *name :
         {"m_btnUpload", "m_btnDownload", "m_btnNewFolder", "m_btnDelete", "m_btnRefresh"})
        QVERIFY(w.part<QPushButton>(name)->isEnabled());
    QCOMPARE(w.lastCommand(), QStringLiteral("echo SHELL_READY\n"));
    w.feed(fixture("shell_ready.raw")); // no listing outstanding: dropped

    QTRY_COMPARE_WITH_TIMEOUT(w.sent.count(), 2, 5000);
    QVERIFY2(clock.elapsed() >= 2800, qPrintable(QString::number(clock.elapsed())));
    w.list(kRoot);
    QCOMPARE(w.model()->rowCount(), 5);
}

QTEST_MAIN(TestListingWindow)
#include "tst_listingwindow.moc"
