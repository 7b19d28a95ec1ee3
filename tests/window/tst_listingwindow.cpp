// The window's listing path without a controller: shell output is handed to the window piece
// by piece as the worker would deliver it, and the commands it sends are caught.
#include "CConnectionForSshClient.h"
#include "ControllerShell.h"
#include "mainwindow.h"

#include <QElapsedTimer>
#include <QFile>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QStandardItemModel>
#include <QTextEdit>
#include <QTimer>
#include <QTreeView>
#include <QtTest>

namespace {

const QString kRoot = QStringLiteral("/home/pi/cnc/");
const QString kPrompt = QStringLiteral("root@raspberrypi:~# ");

QString fixture(const char *name)
{
    QFile file(QStringLiteral(CNC_LISTING_FIXTURES "/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", name);
    return QString::fromUtf8(file.readAll());
}

QString settingsPath()
{
    return QCoreApplication::applicationDirPath() + QLatin1String("/settings.ini");
}

void setLanguage(const QString &language)
{
    QSettings settings(settingsPath(), QSettings::IniFormat);
    settings.setValue(QStringLiteral("language"), language);
}

// A listing of `dir` as the controller prints it, with `entries` as ls lines.
QString listingOutput(const QString &dir, const QStringList &entries)
{
    QString text = ControllerShell::listingCommand(dir);
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    text += QStringLiteral("\x1B[?2004l\rtotal 8\r\n");
    for (const QString &entry : entries)
        text += entry + QLatin1String("\r\n");
    return text + QStringLiteral("\x1B[?2004h") + kPrompt;
}

const QStringList kSubfolderEntries{
    QStringLiteral("drwxr-xr-x 2 root root 4096 2026-01-02 10:00:00 ."),
    QStringLiteral("drwxr-xr-x 9 root root 4096 2026-01-02 10:00:00 .."),
    QStringLiteral("drwxr-xr-x 2 root root 4096 2026-01-01 10:00:00 jobs"),
    QStringLiteral("drwxr-xr-x 2 root root 4096 2026-01-03 10:00:00 old"),
    QStringLiteral("-rw-r--r-- 1 root root   10 2026-01-01 10:00:00 a.nc"),
    QStringLiteral("-rw-r--r-- 1 root root 2048 2026-01-04 10:00:00 b.nc"),
    QStringLiteral("-rw-r--r-- 1 root root   30 2026-01-02 10:00:00 c.nc"),
};

class Window
{
public:
    Window() : sent(&window, &mainwindow::sigSend) {}

    void feed(const QString &piece)
    {
        QVERIFY(QMetaObject::invokeMethod(&window, "slotDataArrived", Q_ARG(QString, piece),
                                          Q_ARG(QString, QString()), Q_ARG(int, 22)));
    }
    void refresh() { QVERIFY(QMetaObject::invokeMethod(&window, "onRefreshClicked")); }
    void doubleClick(int row)
    {
        QVERIFY(QMetaObject::invokeMethod(&window, "onRemoteDoubleClicked",
                                          Q_ARG(QModelIndex, model()->index(row, 0))));
    }
    QStandardItemModel *model() const
    {
        return window.findChild<QStandardItemModel *>(QStringLiteral("m_model"));
    }
    QTreeView *view() const { return window.findChild<QTreeView *>(QStringLiteral("m_treeView")); }
    QTimer *quietTimer() const
    {
        return window.findChild<QTimer *>(QStringLiteral("m_bufferTimer"));
    }
    QPushButton *button(const char *name) const
    {
        return window.findChild<QPushButton *>(QLatin1String(name));
    }
    QString log() const
    {
        return window.findChild<QTextEdit *>(QStringLiteral("m_logEdit"))->toPlainText();
    }
    QStringList column(int column) const
    {
        QStringList texts;
        for (int row = 0; row < model()->rowCount(); ++row)
            texts << model()->item(row, column)->text();
        return texts;
    }
    int rowOf(const QString &name) const { return column(0).indexOf(name); }
    QStringList commands() const
    {
        QStringList texts;
        for (const QList<QVariant> &arguments : sent)
            texts << arguments.constFirst().toString();
        return texts;
    }
    // Lists `dir` completely; the window must have asked for it.
    void list(const QString &dir, const QStringList &entries)
    {
        QCOMPARE(commands().constLast(), ControllerShell::listingCommand(dir));
        feed(listingOutput(dir, entries));
        QVERIFY(button("m_btnRefresh")->isEnabled());
    }

    // Never started: it only gives the window its wiring and timers.
    CConnectionForSshClient worker{QStringLiteral("127.0.0.1"), 22, QString(),
                                   QStringLiteral("root")};
    mainwindow window{&worker};
    QSignalSpy sent;
};

} // namespace

class TestListingWindow : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanupTestCase();

    void listingEndsAtThePromptEvenWhenSplit();
    void promptWithoutItsBlankWaitsForTheQuietTime();
    void markersActWhetherOrNotListingAndStayOutOfIt();
    void navigationRowAndTheResizeRetryOnlyInTheRoot();
    void refreshRefusedWhileListingOrDisconnected();
    void selectionLabelsInBothLanguages_data();
    void selectionLabelsInBothLanguages();
    void channelReadyFlushesTheShellAndListsLater();
};

void TestListingWindow::init()
{
    QFile::remove(settingsPath());
}

void TestListingWindow::cleanupTestCase()
{
    QFile::remove(settingsPath());
}

void TestListingWindow::listingEndsAtThePromptEvenWhenSplit()
{
    Window w;
    w.refresh();
    QCOMPARE(w.commands(), QStringList{ControllerShell::listingCommand(kRoot)});
    QVERIFY(!w.button("m_btnRefresh")->isEnabled());

    // Line feeds and digits can arrive as pieces of their own; they are part of the listing.
    // The prompt comes in three pieces, its last blank alone.
    const QString raw = fixture("listing_root.raw");
    const int promptAt = raw.indexOf(kPrompt);
    const QStringList lines = raw.left(promptAt).split(QStringLiteral("\r\n"));
    for (int i = 0; i < lines.size(); ++i) {
        const QString &line = lines.at(i);
        const int sizeDigit = line.indexOf(QLatin1String("1536 "));
        if (sizeDigit > 0) {
            w.feed(line.left(sizeDigit + 1));
            w.feed(line.mid(sizeDigit + 1, 3));
            w.feed(line.mid(sizeDigit + 4));
        } else {
            w.feed(line);
        }
        if (i + 1 < lines.size())
            w.feed(QStringLiteral("\r\n"));
    }
    w.feed(kPrompt.left(10));
    w.feed(kPrompt.mid(10, kPrompt.size() - 11));
    QCOMPARE(w.model()->rowCount(), 0);
    QVERIFY(w.quietTimer()->isActive());
    w.feed(QStringLiteral(" "));
    QVERIFY(!w.quietTimer()->isActive());
    QVERIFY(w.button("m_btnRefresh")->isEnabled());

    // Root: no navigation row; seven folders, then the files.
    QCOMPARE(w.model()->rowCount(), 7 + 28);
    QCOMPARE(w.column(1).mid(6, 2),
             QStringList({QStringLiteral("文件夹"), QStringLiteral("文件")}));
    QCOMPARE(w.column(0).first(), QStringLiteral("a folder with a rather long name that makes the "
                                                 "echoed command wrap"));
    const int row = w.rowOf(QStringLiteral("size1536.nc"));
    QVERIFY(row >= 0);
    QCOMPARE(w.model()->item(row, 2)->text(), QStringLiteral("1.5 KB"));
    QCOMPARE(w.model()->item(row, 3)->text(), QStringLiteral("2026-03-01 10:00:03"));
    QCOMPARE(w.model()->item(w.rowOf(QStringLiteral("programs")), 2)->text(), QStringLiteral("-"));
    for (const QString &name : w.column(0))
        QVERIFY2(!name.contains(QChar(0x1B)) && !name.contains(QLatin1Char('\r')),
                 qPrintable(name));
}

void TestListingWindow::promptWithoutItsBlankWaitsForTheQuietTime()
{
    Window w;
    w.refresh();
    QString raw = fixture("listing_root.raw");
    raw.chop(1);
    QElapsedTimer clock;
    clock.start();
    w.feed(raw);
    QCOMPARE(w.model()->rowCount(), 0);
    QTRY_VERIFY(w.model()->rowCount() > 0);
    QVERIFY2(clock.elapsed() >= 450, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(w.button("m_btnRefresh")->isEnabled());
}

void TestListingWindow::markersActWhetherOrNotListingAndStayOutOfIt()
{
    Window w;

    // No listing outstanding: the outcome is logged and the list refreshed half a second later.
    w.feed(fixture("delete_success.raw"));
    QCOMPARE(w.log().count(QStringLiteral("删除操作成功完成")), 1);
    QTRY_COMPARE(w.sent.count(), 1);
    w.list(kRoot, kSubfolderEntries);
    QCOMPARE(w.model()->rowCount(), 5);

    // During a listing: a failed delete whose echo names the success marker too. It is logged
    // as a failure and neither its echo nor its outcome becomes a row.
    w.refresh();
    QCOMPARE(w.sent.count(), 2);
    const QString failed = fixture("delete_failed.raw");
    const int echoEnd = failed.indexOf(QLatin1Char('\n')) + 1;
    w.feed(failed.left(echoEnd));
    w.feed(failed.mid(echoEnd));
    QCOMPARE(w.log().count(QStringLiteral("删除操作失败")), 1);
    QCOMPARE(w.log().count(QStringLiteral("删除操作成功完成")), 1);
    QVERIFY(!w.button("m_btnRefresh")->isEnabled());
    w.feed(listingOutput(kRoot, kSubfolderEntries));
    QCOMPARE(w.model()->rowCount(), 5);

    // A marker line in two pieces counts once; the new folder refresh follows.
    const QString created = fixture("create_success.raw");
    const int split = created.indexOf(QLatin1String("CREATE_SUCCESS\r")) + 7;
    w.feed(created.left(split));
    w.feed(created.mid(split));
    QCOMPARE(w.log().count(QStringLiteral("新建文件夹操作成功完成")), 1);
    QTRY_COMPARE(w.sent.count(), 3);
    QCOMPARE(w.commands().constLast(), ControllerShell::listingCommand(kRoot));
}

void TestListingWindow::navigationRowAndTheResizeRetryOnlyInTheRoot()
{
    Window w;
    w.refresh();
    w.list(kRoot, kSubfolderEntries);

    // Into a folder: a file row does nothing, a folder row lists the folder.
    w.doubleClick(w.rowOf(QStringLiteral("a.nc")));
    QCOMPARE(w.sent.count(), 1);
    w.doubleClick(w.rowOf(QStringLiteral("jobs")));
    QCOMPARE(w.commands().constLast(), ControllerShell::listingCommand(kRoot + "jobs/"));
    // Double clicks wait until the listing is in.
    w.doubleClick(0);
    QCOMPARE(w.sent.count(), 2);
    QCOMPARE(w.window.findChild<QLabel *>(QStringLiteral("m_pathLabel"))->text(),
             QStringLiteral("CNC控制器文件: /home/pi/cnc/jobs/"));

    // A spoiled listing below the root still shows the navigation row; nothing is retried.
    w.feed(fixture("resize_error.raw"));
    QCOMPARE(w.column(0), QStringList{QStringLiteral("..")});
    QCOMPARE(w.column(1), QStringList{QStringLiteral("导航")});

    // Up again, where the spoiled listing leaves the list empty and is retried after 2 s.
    w.doubleClick(0);
    QCOMPARE(w.commands().constLast(), ControllerShell::listingCommand(kRoot));
    QElapsedTimer clock;
    clock.start();
    w.feed(fixture("resize_error.raw"));
    QCOMPARE(w.model()->rowCount(), 0);
    QVERIFY(w.button("m_btnRefresh")->isEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(w.sent.count(), 4, 4000);
    QVERIFY2(clock.elapsed() >= 1900, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(w.commands().constLast(), ControllerShell::listingCommand(kRoot));
    w.list(kRoot, kSubfolderEntries);
    QCOMPARE(w.model()->rowCount(), 5);
    // The retry came from the root listing; the subfolder one never asked for one.
    QCOMPARE(w.sent.count(), 4);
}

void TestListingWindow::refreshRefusedWhileListingOrDisconnected()
{
    Window w;
    w.refresh();
    w.refresh();
    QCOMPARE(w.sent.count(), 1);
    w.list(kRoot, kSubfolderEntries);

    QVERIFY(QMetaObject::invokeMethod(&w.window, "slotConnectStateChanged", Q_ARG(bool, false),
                                      Q_ARG(QString, QString()), Q_ARG(int, 22)));
    w.refresh();
    // A folder double clicked while disconnected is listed by the next refresh that goes.
    w.doubleClick(w.rowOf(QStringLiteral("old")));
    QCOMPARE(w.sent.count(), 1);
    QVERIFY(QMetaObject::invokeMethod(&w.window, "slotConnectStateChanged", Q_ARG(bool, true),
                                      Q_ARG(QString, QString()), Q_ARG(int, 22)));
    w.refresh();
    QCOMPARE(w.commands().constLast(), ControllerShell::listingCommand(kRoot + "old/"));
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
    setLanguage(language);

    Window w;
    w.refresh();
    w.list(kRoot, kSubfolderEntries);
    w.doubleClick(w.rowOf(QStringLiteral("jobs")));
    w.list(kRoot + "jobs/", kSubfolderEntries);
    // Navigation row, folders newest first, files newest first.
    QCOMPARE(w.column(0), QStringList({"..", "old", "jobs", "b.nc", "c.nc", "a.nc"}));
    QCOMPARE(w.column(1), types);
    QCOMPARE(w.column(2).mid(3), QStringList({"2.0 KB", "30 B", "10 B"}));

    QItemSelectionModel *selection = w.view()->selectionModel();
    const auto select = [&](int first, int last) {
        selection->select(QItemSelection(w.model()->index(first, 0), w.model()->index(last, 3)),
                          QItemSelectionModel::ClearAndSelect);
    };
    const auto labelPair = [&] {
        return QStringList{w.button("m_btnDelete")->text(), w.button("m_btnDownload")->text()};
    };
    select(0, 5);
    QCOMPARE(labelPair(), labels.mid(0, 2));
    select(0, 0);
    QCOMPARE(labelPair(), labels.mid(2, 2));
    select(0, 2); // folders count for delete only
    QCOMPARE(labelPair(), labels.mid(4, 2));
}

void TestListingWindow::channelReadyFlushesTheShellAndListsLater()
{
    Window w;
    QElapsedTimer clock;
    clock.start();
    QVERIFY(QMetaObject::invokeMethod(&w.window, "onSftpInitialized"));
    for (const char *name :
         {"m_btnUpload", "m_btnDownload", "m_btnNewFolder", "m_btnDelete", "m_btnRefresh"})
        QVERIFY(w.button(name)->isEnabled());
    QCOMPARE(w.commands(), QStringList{QStringLiteral("echo SHELL_READY\n")});
    // Its answer arrives while no listing is outstanding and is dropped.
    w.feed(fixture("shell_ready.raw"));

    QTRY_COMPARE_WITH_TIMEOUT(w.sent.count(), 2, 5000);
    QVERIFY2(clock.elapsed() >= 2900, qPrintable(QString::number(clock.elapsed())));
    w.list(kRoot, kSubfolderEntries);
    QCOMPARE(w.model()->rowCount(), 5);
}

QTEST_MAIN(TestListingWindow)
#include "tst_listingwindow.moc"
