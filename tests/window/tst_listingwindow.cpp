// The window's listing path without a controller: when a listing ends, what it shows, and which
// folder the rows and the buttons belong to. One row waits for the 20 s bound of a listing.
#include "ControllerShell.h"
#include "WindowTestSupport.h"

#include <QtTest>

namespace {

// In a row's pieces: the listing must still be outstanding here, with no quiet time running.
const QString kPause = QStringLiteral("<pause>");
// The output stops short of the prompt for longer than the quiet time: the listing is still
// outstanding after it, and shows nothing yet.
const QString kStall = QStringLiteral("<stall>");

QStringList chunks(const QString &text, int size)
{
    QStringList pieces;
    for (int i = 0; i < text.size(); i += size)
        pieces << text.mid(i, size);
    return pieces;
}

} // namespace

class TestListingWindow : public QObject
{
    Q_OBJECT
private slots:
    void init() { QFile::remove(settingsPath()); }
    void cleanupTestCase() { QFile::remove(settingsPath()); }

    void listingEnds_data();
    void listingEnds();
    void listShowsTheFolderTheButtonsActOn();
};

void TestListingWindow::listingEnds_data()
{
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<QString>("endsBy"); // "prompt", "quiet time" or "bound"
    QTest::addColumn<QStringList>("names");

    const QString out = OfflineWindow::listingOutput(kRootDir);
    const int echoEnd = out.indexOf(QLatin1Char('\n')) + 1;
    const QString echo = out.left(echoEnd);
    const QString prompt = ControllerShell::prompt();
    const QStringList five{"old", "jobs", "b.nc", "c.nc", "a.nc"};

    QTest::newRow("small pieces, the prompt split")
        << kRootDir << chunks(out, 7) << "prompt" << five;
    // A lone line feed separates two entries.
    QTest::newRow("line ends alone")
        << kRootDir << out.split("\r\n").join("<s>\r\n<s>").split("<s>") << "prompt" << five;
    // ls prints nothing until it has read the whole folder.
    QTest::newRow("a pause after the echo")
        << kRootDir << QStringList{echo, kPause, out.mid(echoEnd)} << "prompt" << five;
    QTest::newRow("an earlier command's prompt before the echo")
        << kRootDir << QStringList{prompt, kPause, out} << "prompt" << five;
    // Sent while a delete still ran: the terminal echoes the command at once, the line editor
    // shows it again after the delete's prompt.
    QTest::newRow("typed ahead of a running delete")
        << kRootDir << QStringList{echo, "DELETE_SUCCESS\r\n\x1B[?2004h" + prompt, kPause, out}
        << "prompt" << five;
    QTest::newRow("a marker line in a piece of the listing")
        << kRootDir << QStringList{echo, "DELETE_SUCCESS\r\n" + out.mid(echoEnd)} << "prompt"
        << five;
    // The link or the controller pauses within the output (after a reconnection, say).
    const int firstEntry = out.indexOf("\r\n", echoEnd) + 2;
    QTest::newRow("a stall within the output")
        << kRootDir << QStringList{out.left(firstEntry), kStall, out.mid(firstEntry)} << "prompt"
        << five;
    QTest::newRow("the prompt without its blank")
        << kRootDir << QStringList{out.chopped(1)} << "quiet time" << five;
    // ls quotes a name that holds the prompt; it ends no listing.
    const QString named = "-rw-r--r-- 1 root root 1 2025-01-01 10:00:00 '" + prompt + "x'\r\n";
    const int lastEntry = out.indexOf("\x1B[?2004h");
    QTest::newRow("the prompt in a name")
        << kRootDir
        << QStringList{out.left(lastEntry) + named.left(named.indexOf('#') + 2),
                       named.mid(named.indexOf('#') + 2) + out.mid(lastEntry)}
        << "prompt" << five + QStringList{prompt + "x"};
    // Nothing comes; the answer to the command given up arrives after the folder was asked
    // for again (below).
    QTest::newRow("no answer") << kRootDir + "jobs/" << QStringList{} << "bound"
                               << QStringList{"..", "old", "jobs", "b.nc", "c.nc", "a.nc"};
}

void TestListingWindow::listingEnds()
{
    QFETCH(QString, dir);
    QFETCH(QStringList, pieces);
    QFETCH(QString, endsBy);
    QFETCH(QStringList, names);

    OfflineWindow w;
    const QTimer *quietTime = w.window.findChild<QTimer *>("m_bufferTimer");
    w.call("onRefreshClicked");
    if (dir != kRootDir) {
        w.list(kRootDir);
        doubleClick(w.window, "jobs");
    }
    QCOMPARE(w.lastCommand(), ControllerShell::listingCommand(dir));
    const QStringList before = column(w.window);
    QElapsedTimer clock;
    clock.start();
    for (const QString &piece : qAsConst(pieces)) {
        if (piece == kStall) {
            QVERIFY(quietTime->isActive());
            QTRY_VERIFY(!quietTime->isActive());
            QVERIFY(!w.refreshEnabled());
            QCOMPARE(column(w.window), before);
            continue;
        }
        if (piece != kPause) {
            w.feed(piece);
            continue;
        }
        QVERIFY(!w.refreshEnabled() && !quietTime->isActive());
        QCOMPARE(column(w.window), before);
    }

    if (endsBy == "prompt") {
        QVERIFY(w.refreshEnabled() && !quietTime->isActive());
    } else if (endsBy == "quiet time") {
        QVERIFY(!w.refreshEnabled() && quietTime->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(w.refreshEnabled(), 1000);
    } else {
        QVERIFY(!w.refreshEnabled() && !quietTime->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(w.refreshEnabled(), 25000);
        QVERIFY2(clock.elapsed() >= 19000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(logLines(w.window).count(
                     QStringLiteral("目录 %1 的列表未能在20秒内完成，未显示其内容。").arg(dir)),
                 1);
        // The late answer cannot be told from the new command's: it is not shown, the folder
        // is listed again, and the answer to the new command is taken for that one.
        w.call("onRefreshClicked");
        QString late = OfflineWindow::listingOutput(dir);
        w.feed(late.replace("a.nc", "gone.nc"));
        QCOMPARE(w.sent.count(), 4);
        QVERIFY(column(w.window).isEmpty());
        w.feed(OfflineWindow::listingOutput(dir));
        QVERIFY(w.refreshEnabled());
    }
    QCOMPARE(column(w.window), names);
    QCOMPARE(logLines(w.window).count("删除操作成功完成"),
             pieces.join(QString()).count("DELETE_SUCCESS\r\n"));
}

void TestListingWindow::listShowsTheFolderTheButtonsActOn()
{
    OfflineWindow w;
    const auto *pathLabel = w.window.findChild<QLabel *>("m_pathLabel");
    const QTimer *quietTime = w.window.findChild<QTimer *>("m_bufferTimer");
    w.call("onRefreshClicked");
    w.call("onRefreshClicked"); // refused: a listing is outstanding
    QCOMPARE(w.sent.count(), 1);
    w.list(kRootDir);
    // Folders newest first, then files newest first, sizes as people read them.
    QCOMPARE(column(w.window), QStringList({"old", "jobs", "b.nc", "c.nc", "a.nc"}));
    QCOMPARE(column(w.window, 2), QStringList({"-", "-", "2.0 KB", "30 B", "10 B"}));

    doubleClick(w.window, "a.nc"); // a file: nothing
    doubleClick(w.window, "jobs");
    QCOMPARE(w.lastCommand(), ControllerShell::listingCommand(kRootDir + "jobs/"));
    QCOMPARE(pathLabel->text(), QStringLiteral("CNC控制器文件: /home/pi/cnc/jobs/"));
    doubleClick(w.window, "old"); // ignored until the listing is in
    QCOMPARE(w.sent.count(), 2);

    // A spoiled listing below the root still shows the navigation row; nothing is retried.
    QString spoiled = fixture("resize_error.raw");
    spoiled.replace(ControllerShell::listingCommand(kRootDir).trimmed(),
                    ControllerShell::listingCommand(kRootDir + "jobs/").trimmed());
    w.feed(spoiled);
    QCOMPARE(column(w.window, 1), QStringList{"导航"});
    doubleClick(w.window, "..");
    w.list(kRootDir);

    // While the connection is down nothing is listed, and the rows keep their folder: a
    // folder chosen meanwhile does not become the folder that the next action builds paths in.
    w.setConnected(false);
    doubleClick(w.window, "jobs");
    QCOMPARE(w.sent.count(), 3);
    QCOMPARE(pathLabel->text(), QStringLiteral("CNC控制器文件: /home/pi/cnc/"));
    w.setConnected(true);
    QVERIFY(!w.refreshEnabled()); // until the new channel is ready
    doubleClick(w.window, "old");
    QCOMPARE(w.lastCommand(), ControllerShell::listingCommand(kRootDir + "old/"));

    // A listing cut off by a loss ends with it, without rows and without Refresh.
    w.feed(OfflineWindow::listingOutput(kRootDir + "old/").left(200));
    QVERIFY(quietTime->isActive());
    w.setConnected(false);
    QVERIFY(!quietTime->isActive() && !w.refreshEnabled());
    QCOMPARE(column(w.window), QStringList{".."});
    w.setConnected(true);
    doubleClick(w.window, "..");

    // In the root the spoiled listing leaves the list empty and is retried after 2 s.
    QCOMPARE(w.lastCommand(), ControllerShell::listingCommand(kRootDir));
    QElapsedTimer clock;
    clock.start();
    w.feed(fixture("resize_error.raw"));
    QCOMPARE(listModel(w.window)->rowCount(), 0);
    QVERIFY(w.refreshEnabled());
    QTRY_COMPARE_WITH_TIMEOUT(w.sent.count(), 6, 4000);
    QVERIFY2(clock.elapsed() >= 1850, qPrintable(QString::number(clock.elapsed())));
    w.list(kRootDir);
}

QTEST_MAIN(TestListingWindow)
#include "tst_listingwindow.moc"
