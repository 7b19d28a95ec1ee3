// The window's listing path without a controller: shell output is handed to the window piece
// by piece as the worker would deliver it, and the commands it sends are caught.
#include "CConnectionForSshClient.h"
#include "ControllerShell.h"
#include "ListingFixtures.h"
#include "WindowTestSupport.h"
#include "mainwindow.h"

#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QStandardItemModel>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

using namespace WindowTestSupport;

namespace {

const QString kRoot = QStringLiteral("/home/pi/cnc/");

// A listing of `dir` as the controller prints it: echo, two folders, three files, prompt.
QString listingOutput(const QString &dir)
{
    QString text = ControllerShell::listingCommand(dir);
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return text +
           QStringLiteral("\x1B[?2004l\rtotal 8\r\n"
                          "drwxr-xr-x 2 root root 4096 2026-01-02 10:00:00 .\r\n"
                          "drwxr-xr-x 2 root root 4096 2026-01-01 10:00:00 jobs\r\n"
                          "drwxr-xr-x 2 root root 4096 2026-01-03 10:00:00 old\r\n"
                          "-rw-r--r-- 1 root root   10 2026-01-01 10:00:00 a.nc\r\n"
                          "-rw-r--r-- 1 root root 2048 2026-01-04 10:00:00 b.nc\r\n"
                          "-rw-r--r-- 1 root root   30 2026-01-02 10:00:00 c.nc\r\n"
                          "\x1B[?2004h") +
           kPrompt;
}

// Single-shot timers of the window may fire up to 5 % early (coarse timers); lower bounds on
// waits leave that room.
class Window
{
public:
    void feed(const QString &piece)
    {
        if (piece.isEmpty()) // the worker forwards no empty pieces
            return;
        QVERIFY(QMetaObject::invokeMethod(&window, "slotDataArrived", Q_ARG(QString, piece),
                                          Q_ARG(QString, QString()), Q_ARG(int, 22)));
    }
    void call(const char *slot) { QVERIFY(QMetaObject::invokeMethod(&window, slot)); }
    void doubleClick(const QString &name)
    {
        QVERIFY(QMetaObject::invokeMethod(&window, "onRemoteDoubleClicked",
                                          Q_ARG(QModelIndex, model()->index(rowOf(name), 0))));
    }
    void setConnected(bool state)
    {
        QVERIFY(QMetaObject::invokeMethod(&window, "slotConnectStateChanged", Q_ARG(bool, state),
                                          Q_ARG(QString, QString()), Q_ARG(int, 22)));
    }
    template <typename T> T *part(const char *name) const
    {
        return window.findChild<T *>(QLatin1String(name));
    }
    QStandardItemModel *model() const { return part<QStandardItemModel>("m_model"); }
    bool refreshEnabled() const { return part<QPushButton>("m_btnRefresh")->isEnabled(); }
    QString log() const { return logText(window); }
    QStringList column(int column) const
    {
        QStringList texts;
        for (int row = 0; row < model()->rowCount(); ++row)
            texts << model()->item(row, column)->text();
        return texts;
    }
    int rowOf(const QString &name) const { return column(0).indexOf(name); }
    QString lastCommand() const { return sent.isEmpty() ? QString() : sent.last()[0].toString(); }
    // Answers the listing of `dir` that the window must have asked for.
    void list(const QString &dir)
    {
        QCOMPARE(lastCommand(), ControllerShell::listingCommand(dir));
        feed(listingOutput(dir));
        QVERIFY(refreshEnabled());
    }

    // Never started: it only gives the window its wiring and timers.
    CConnectionForSshClient worker{QStringLiteral("127.0.0.1"), 22, QString(),
                                   QStringLiteral("root")};
    mainwindow window{&worker};
    QSignalSpy sent{&window, &mainwindow::sigSend};
};

} // namespace

class TestListingWindow : public QObject
{
    Q_OBJECT
private slots:
    void init() { QFile::remove(settingsPath()); }
    void cleanupTestCase() { QFile::remove(settingsPath()); }

    void listingEndsAtThePromptOrAfterQuietTime();
    void markersActWhetherOrNotListingAndStayOutOfIt();
    void navigationRefusalsAndTheResizeRetryOnlyInTheRoot();
    void selectionLabelsInBothLanguages_data();
    void selectionLabelsInBothLanguages();
    void channelReadyFlushesTheShellAndListsLater();
};

void TestListingWindow::listingEndsAtThePromptOrAfterQuietTime()
{
    Window w;
    w.call("onRefreshClicked");
    QCOMPARE(w.lastCommand(), ControllerShell::listingCommand(kRoot));
    QVERIFY(!w.refreshEnabled());

    // Line feeds and digits may arrive as pieces of their own; they belong to the listing.
    // The prompt comes in three pieces, its last blank alone.
    const QString raw = fixture("listing_root.raw");
    const QStringList lines = raw.left(raw.indexOf(kPrompt)).split(QStringLiteral("\r\n"));
    for (int i = 0; i < lines.size(); ++i) {
        const int digits = lines[i].indexOf(QLatin1String("1536 ")) + 1;
        w.feed(lines[i].left(digits));
        w.feed(lines[i].mid(digits, 3));
        w.feed(lines[i].mid(digits + 3));
        if (i + 1 < lines.size())
            w.feed(QStringLiteral("\r\n"));
    }
    w.feed(kPrompt.left(10));
    w.feed(kPrompt.mid(10, kPrompt.size() - 11));
    QCOMPARE(w.model()->rowCount(), 0);
    w.feed(QStringLiteral(" "));
    QVERIFY(!w.part<QTimer>("m_bufferTimer")->isActive());
    QVERIFY(w.refreshEnabled());

    // The root has no navigation row: seven folders, then the files.
    QCOMPARE(w.model()->rowCount(), 7 + 28);
    QCOMPARE(w.column(1).mid(6, 2), QStringList({"文件夹", "文件"}));
    const int row = w.rowOf(QStringLiteral("size1536.nc"));
    QCOMPARE(w.model()->item(row, 2)->text(), QStringLiteral("1.5 KB"));
    QCOMPARE(w.model()->item(row, 3)->text(), QStringLiteral("2026-03-01 10:00:03"));
    QCOMPARE(w.model()->item(w.rowOf(QStringLiteral("programs")), 2)->text(), QStringLiteral("-"));

    // A prompt without its blank is no end: the quiet time ends the listing.
    w.call("onRefreshClicked");
    QElapsedTimer clock;
    clock.start();
    w.feed(listingOutput(kRoot).chopped(1));
    QCOMPARE(w.model()->rowCount(), 0);
    QTRY_COMPARE(w.model()->rowCount(), 5);
    QVERIFY2(clock.elapsed() >= 450, qPrintable(QString::number(clock.elapsed())));

    // A prompt the shell still owed an earlier command arrives before the echo: no end.
    w.call("onRefreshClicked");
    w.feed(kPrompt);
    QVERIFY(w.model()->rowCount() == 0 && !w.refreshEnabled());
    w.feed(listingOutput(kRoot));
    QCOMPARE(w.model()->rowCount(), 5);
    QVERIFY(!w.part<QTimer>("m_bufferTimer")->isActive());
}

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

void TestListingWindow::navigationRefusalsAndTheResizeRetryOnlyInTheRoot()
{
    Window w;
    w.call("onRefreshClicked");
    w.call("onRefreshClicked"); // refused: a listing is outstanding
    QCOMPARE(w.sent.count(), 1);
    w.list(kRoot);

    w.doubleClick(QStringLiteral("a.nc")); // a file: nothing
    w.doubleClick(QStringLiteral("jobs"));
    QCOMPARE(w.lastCommand(), ControllerShell::listingCommand(kRoot + "jobs/"));
    QCOMPARE(w.part<QLabel>("m_pathLabel")->text(),
             QStringLiteral("CNC控制器文件: /home/pi/cnc/jobs/"));
    w.doubleClick(QStringLiteral("old")); // ignored until the listing is in
    QCOMPARE(w.sent.count(), 2);

    // A spoiled listing below the root still shows the navigation row; nothing is retried.
    w.feed(fixture("resize_error.raw"));
    QCOMPARE(w.column(1), QStringList{QStringLiteral("导航")});

    // Disconnected: refused; the folder chosen meanwhile is listed by the next refresh.
    w.setConnected(false);
    w.doubleClick(QStringLiteral(".."));
    QCOMPARE(w.sent.count(), 2);
    w.setConnected(true);
    w.call("onRefreshClicked");

    // In the root the spoiled listing leaves the list empty and is retried after 2 s.
    QCOMPARE(w.lastCommand(), ControllerShell::listingCommand(kRoot));
    QElapsedTimer clock;
    clock.start();
    w.feed(fixture("resize_error.raw"));
    QCOMPARE(w.model()->rowCount(), 0);
    QVERIFY(w.refreshEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(w.sent.count(), 4, 4000);
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
