// When a listing ends: at the prompt that follows its own output, by the quiet time only once
// that output has begun, and at the latest after 20 s. Its own executable: one case waits for
// the 20 s bound.
#include "ListingWindowDriver.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <QtTest>

using namespace WindowTestSupport;

namespace {

// In a row's pieces: the listing must still be outstanding here, with no quiet time running.
const QString kPause = QStringLiteral("<pause>");

QStringList chunks(const QString &text, int size)
{
    QStringList pieces;
    for (int i = 0; i < text.size(); i += size)
        pieces << text.mid(i, size);
    return pieces;
}

} // namespace

class TestListingEnd : public QObject
{
    Q_OBJECT
private slots:
    void init() { QFile::remove(settingsPath()); }
    void cleanupTestCase() { QFile::remove(settingsPath()); }

    void listingEnds_data();
    void listingEnds();
};

void TestListingEnd::listingEnds_data()
{
    QTest::addColumn<QString>("dir");
    QTest::addColumn<QStringList>("pieces");
    QTest::addColumn<QString>("endsBy"); // "prompt", "quiet time" or "bound"
    QTest::addColumn<QStringList>("names");

    const QString out = listingOutput(kRoot);
    const int echoEnd = out.indexOf(QLatin1Char('\n')) + 1;
    const QString echoLine = out.left(echoEnd);
    const QStringList five{"old", "jobs", "b.nc", "c.nc", "a.nc"};

    QTest::newRow("small pieces, the prompt split") << kRoot << chunks(out, 7) << "prompt" << five;
    // ls prints nothing until it has read the whole folder.
    QTest::newRow("a pause after the echo")
        << kRoot << QStringList{echoLine, kPause, out.mid(echoEnd)} << "prompt" << five;
    QTest::newRow("an earlier command's prompt before the echo")
        << kRoot << QStringList{kPrompt, kPause, out} << "prompt" << five;
    // Sent while a delete still ran: the terminal echoes the command at once, the line editor
    // shows it again after the delete's prompt.
    QTest::newRow("typed ahead of a running delete")
        << kRoot << QStringList{echoLine, "DELETE_SUCCESS\r\n\x1B[?2004h" + kPrompt, kPause, out}
        << "prompt" << five;
    QTest::newRow("a marker line in a piece of the listing")
        << kRoot << QStringList{echoLine, "DELETE_SUCCESS\r\n" + out.mid(echoEnd)} << "prompt"
        << five;
    QTest::newRow("the prompt without its blank")
        << kRoot << QStringList{out.chopped(1)} << "quiet time" << five;
    const QString jobs = listingOutput(kRoot + "jobs/");
    QTest::newRow("only the echo")
        << kRoot + "jobs/" << QStringList{jobs.left(jobs.indexOf(QLatin1Char('\n')) + 1)} << "bound"
        << QStringList{".."};
}

void TestListingEnd::listingEnds()
{
    QFETCH(QString, dir);
    QFETCH(QStringList, pieces);
    QFETCH(QString, endsBy);
    QFETCH(QStringList, names);

    Window w;
    const QTimer *quietTime = w.part<QTimer>("m_bufferTimer");
    w.call("onRefreshClicked");
    if (dir != kRoot) {
        w.list(kRoot);
        w.doubleClick(QStringLiteral("jobs"));
    }
    QCOMPARE(w.lastCommand(), ControllerShell::listingCommand(dir));
    const QStringList before = w.column(0);

    QElapsedTimer clock;
    clock.start();
    for (const QString &piece : qAsConst(pieces)) {
        if (piece != kPause) {
            w.feed(piece);
            continue;
        }
        QVERIFY(!w.refreshEnabled() && !quietTime->isActive());
        QCOMPARE(w.column(0), before);
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
        QCOMPARE(w.log().count(
                     QStringLiteral("目录 %1 的列表未能在20秒内完成，未显示其内容。").arg(dir)),
                 1);
        // What still comes belongs to no listing.
        w.feed(listingOutput(dir));
    }
    QCOMPARE(w.column(0), names);
    QCOMPARE(w.log().count(QStringLiteral("删除操作成功完成")),
             pieces.join(QString()).count("DELETE_SUCCESS\r\n"));
}

QTEST_MAIN(TestListingEnd)
#include "tst_listingend.moc"
