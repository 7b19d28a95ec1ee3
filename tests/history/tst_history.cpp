// The operation history: its line format with awkward names, writers side by side, a history
// that cannot be written, and the dialog that shows it.
#include "HistoryDialog.h"
#include "HistoryFormat.h"
#include "OperationHistory.h"
#include "TestSupport.h"

#include <QtTest>
#include <QtWidgets>

#include <memory>

using Operation = HistoryEvent::Operation;
using Outcome = HistoryEvent::Outcome;
Q_DECLARE_METATYPE(HistoryEvent)

namespace {

const QString kAddress = QStringLiteral("10.0.0.5");

HistoryEvent makeEvent(Operation operation, const QString &remotePath, const QString &localPath,
                       const QDateTime &time = QDateTime())
{
    HistoryEvent e;
    e.time = time;
    e.address = kAddress;
    e.hostKey = QStringLiteral("ssh-ed25519 SHA256:k5Pq0i0mJ1xGZ0m2u1m4ZHtQ1n0rNQe3oYb0nq0Hq2E");
    e.operation = operation;
    e.remotePath = remotePath;
    e.localPath = localPath;
    return e;
}

QDateTime at(const char *iso)
{
    return QDateTime::fromString(QString::fromLatin1(iso), Qt::ISODateWithMs);
}

HistoryFormat::Contents historyOf(const QString &address)
{
    return HistoryFormat::parse(readFile(OperationHistory::filePath(address)));
}

} // namespace

class TestHistory : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void linesKeepEveryName_data();
    void linesKeepEveryName();
    void unreadableLinesAreSkipped_data();
    void unreadableLinesAreSkipped();
    void writersSideBySideNeverBreakALine();
    void tornLineAndStaleLockDoNotCostTheNextEvent();
    void unwritableHistoryWarnsOnce();
    void dialogShowsNewestFirstAndFilters();

private:
    QTemporaryDir m_data;
};

void TestHistory::initTestCase()
{
    QVERIFY(m_data.isValid());
    // Nothing of the user's own data folder is touched.
    qputenv("XDG_DATA_HOME", QFile::encodeName(m_data.path()));
}

void TestHistory::linesKeepEveryName_data()
{
    QTest::addColumn<HistoryEvent>("event");
    const QString dir = QStringLiteral("/home/pi/cnc/");

    HistoryEvent e =
        makeEvent(Operation::Upload, dir + QStringLiteral("part.nc"),
                  QStringLiteral("/home/op/part.nc"), at("2026-12-07T21:51:30.123+01:00"));
    e.size = 20480;
    e.sha256 = QStringLiteral("3f2a9c01b7e4") + QString(52, QLatin1Char('0'));
    e.outcome = Outcome::Verified;
    QTest::newRow("plain, zone kept") << e;

    e = makeEvent(Operation::Download, dir + QStringLiteral("a\"b\\c\\\"d '$(rm -rf ~)'.nc"),
                  QStringLiteral("C:\\\\x\\\"y"), at("2026-01-01T00:00:00.000Z"));
    e.outcome = Outcome::Failed;
    e.detail = QStringLiteral("\\\" not \"a\" quote");
    QTest::newRow("quotes and backslashes, UTC") << e;

    e = makeEvent(Operation::Delete, dir + QStringLiteral("line\nfeed\r\t\x01\x1b[31m\x1f\x7f.nc"),
                  QString(), at("2026-06-30T23:59:59.999-03:30"));
    e.detail = QStringLiteral("two\nlines \u2028 and \u2029 more");
    QTest::newRow("newlines and control characters") << e;

    e = makeEvent(Operation::NewFolder, dir + QStringLiteral("零件 程序"), QString(),
                  at("2026-12-08T05:00:00.001+08:00"));
    e.outcome = Outcome::Cancelled;
    e.detail = QStringLiteral("无法创建文件夹：权限不足");
    QTest::newRow("Chinese") << e;

    e = makeEvent(
        Operation::Verify,
        dir + QStringLiteral("\u00a0nbsp\u3000ideographic\u200bzero\ufeffbom cafe\u0301 "),
        QStringLiteral(" /tmp/\u2003em\u2009thin.nc"), at("2026-12-07T10:00:00.500+00:00"));
    e.outcome = Outcome::Mismatch;
    e.size = 5LL * 1024 * 1024 * 1024;
    QTest::newRow("Unicode blanks, 5 GiB") << e;

    // A name that is no UTF-8 carries its bytes as lone surrogates; beside it a real pair.
    e = makeEvent(Operation::Rename,
                  dir + QStringLiteral("caf") + QChar(0xdce9) + QStringLiteral(".nc"), QString(),
                  at("2026-12-07T10:00:00.000+00:00"));
    e.newRemotePath = dir + QChar(0xdcff) + QChar(0xd800) + QStringLiteral("\U0001F600.nc");
    e.outcome = Outcome::Unverified;
    QTest::newRow("carried bytes, surrogate pair") << e;

    e = makeEvent(Operation::Rename, dir + QString(4000, QLatin1Char('a')),
                  QString(4000, QChar(0x96f6)), at("2026-12-07T10:00:00.000+00:00"));
    e.newRemotePath = dir + QString(4000, QLatin1Char('"'));
    e.size = 0;
    QTest::newRow("4,000-character paths") << e;
}

void TestHistory::linesKeepEveryName()
{
    QFETCH(HistoryEvent, event);
    const QByteArray line = HistoryFormat::line(event);
    // One line, readable as UTF-8 by any tool: no control byte but the final newline.
    QVERIFY(line.endsWith('\n'));
    for (int i = 0; i + 1 < line.size(); ++i)
        QVERIFY2(uchar(line.at(i)) >= 0x20, qPrintable(QString::number(i)));
    QCOMPARE(QString::fromUtf8(line).toUtf8(), line);

    const HistoryFormat::Contents back = HistoryFormat::parse(line);
    QCOMPARE(back.skipped, 0);
    QCOMPARE(back.events.size(), 1);
    QCOMPARE(HistoryFormat::line(back.events.first()), line);
    QVERIFY(back.events.first() == event);
}

void TestHistory::unreadableLinesAreSkipped_data()
{
    QTest::addColumn<QByteArray>("contents");
    QTest::addColumn<int>("events");
    QTest::addColumn<int>("skipped");
    const QByteArray good =
        HistoryFormat::line(makeEvent(Operation::Upload, QStringLiteral("/a.nc"), QString(),
                                      at("2026-12-07T10:00:00.000+00:00")));
    const auto with = [&](const QByteArray &from, const QByteArray &to) {
        QByteArray line = good;
        return line.replace(from, to);
    };
    QTest::newRow("blank lines, CRLF, no final newline")
        << QByteArray("\n" + good + "  \n" + good.trimmed() + "\r\n\n" + good.trimmed()) << 3 << 0;
    QTest::newRow("torn line") << QByteArray(good.left(40) + "\n" + good) << 1 << 1;
    QTest::newRow("not JSON, not an object") << QByteArray("garbage\n[1,2]\n\"x\"\n") << 0 << 3;
    QTest::newRow("bad time") << with("2026-12-07T", "2026-13-07T") << 0 << 1;
    QTest::newRow("later operation") << with("\"upload\"", "\"copy\"") << 0 << 1;
    QTest::newRow("huge size") << with("\"size\":-1", "\"size\":1e300") << 0 << 1;
    QTest::newRow("upper-case hash")
        << with("\"sha256\":\"\"", QByteArray("\"sha256\":\"" + QByteArray(64, 'A') + "\"")) << 0
        << 1;
    QTest::newRow("fields missing, extra field")
        << QByteArray("{\"time\":\"2026-12-07T10:00:00+08:00\",\"operation\":\"delete\","
                      "\"outcome\":\"failed\",\"later\":{}}\n")
        << 1 << 0;
}

void TestHistory::unreadableLinesAreSkipped()
{
    QFETCH(QByteArray, contents);
    QFETCH(int, events);
    QFETCH(int, skipped);
    const HistoryFormat::Contents parsed = HistoryFormat::parse(contents);
    QCOMPARE(parsed.events.size(), events);
    QCOMPARE(parsed.skipped, skipped);
}

void TestHistory::writersSideBySideNeverBreakALine()
{
    // Two windows on one controller: each its own writer, in its own thread. Lines of 8 KB,
    // beyond an atomic pipe write.
    const QString address = QStringLiteral("10.0.0.6");
    constexpr int kEach = 300;
    const auto writer = [&](QChar mark) {
        OperationHistory history(address);
        for (int i = 0; i < kEach; ++i) {
            const QString path = QString(2000, mark) + QString::number(i);
            history.record(makeEvent(Operation::Upload, path, QString(2000, QChar(0x96f6))));
        }
    };
    std::unique_ptr<QThread> first(QThread::create(writer, QLatin1Char('a')));
    std::unique_ptr<QThread> second(QThread::create(writer, QLatin1Char('b')));
    first->start();
    second->start();
    QVERIFY(first->wait(60000) && second->wait(60000));

    const HistoryFormat::Contents contents = historyOf(address);
    QCOMPARE(contents.skipped, 0);
    QSet<QString> seen;
    for (const HistoryEvent &e : contents.events)
        seen.insert(e.remotePath.left(1) + e.remotePath.mid(2000));
    QCOMPARE(seen.size(), 2 * kEach);
    QCOMPARE(contents.events.size(), 2 * kEach);
}

void TestHistory::tornLineAndStaleLockDoNotCostTheNextEvent()
{
    // A line torn by a full disk, and the lock of a writer that died a minute ago.
    const QString address = QStringLiteral("10.0.0.7");
    const QString path = OperationHistory::filePath(address);
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QVERIFY(writeFile(path, "{\"time\":\"2026-12-07T10:"));
    QFile lock(path + QStringLiteral(".lock"));
    QVERIFY(lock.open(QIODevice::WriteOnly) && lock.write("999999\nold\nelsewhere\n") > 0 &&
            lock.flush());
    QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addSecs(-60),
                             QFileDevice::FileModificationTime));
    lock.close();

    OperationHistory history(address);
    QSignalSpy unwritable(&history, &OperationHistory::unwritable);
    history.record(makeEvent(Operation::Delete, QStringLiteral("/home/pi/cnc/x.nc"), QString()));
    QCOMPARE(unwritable.count(), 0);
    const HistoryFormat::Contents contents = historyOf(address);
    QCOMPARE(contents.events.size(), 1);
    QCOMPARE(contents.skipped, 1);
    QCOMPARE(contents.events.first().remotePath, QStringLiteral("/home/pi/cnc/x.nc"));
}

void TestHistory::unwritableHistoryWarnsOnce()
{
    // The data folder below a regular file: not even root can make the history folder.
    const QString file = m_data.filePath(QStringLiteral("a file"));
    QVERIFY(writeFile(file, "x"));
    const QByteArray saved = qgetenv("XDG_DATA_HOME");
    qputenv("XDG_DATA_HOME", QFile::encodeName(file + QStringLiteral("/data")));
    OperationHistory history(kAddress);
    qputenv("XDG_DATA_HOME", saved);

    QSignalSpy unwritable(&history, &OperationHistory::unwritable);
    for (int i = 0; i < 3; ++i)
        history.record(
            makeEvent(Operation::Upload, QStringLiteral("/home/pi/cnc/a.nc"), QString()));
    QCOMPARE(unwritable.count(), 1);
    QVERIFY(unwritable.first().first().toString().contains(QStringLiteral("a file/data")));
}

void TestHistory::dialogShowsNewestFirstAndFilters()
{
    const QString address = QStringLiteral("fe80::1%eth0");
    OperationHistory history(address);
    QVERIFY(history.path().endsWith(QStringLiteral("/history/fe80%3A%3A1%25eth0.jsonl")));
    history.record(makeEvent(Operation::Upload, QStringLiteral("/home/pi/cnc/Part1.nc"),
                             QStringLiteral("/home/op/part1.nc"), at("2026-12-07T10:00:00.000Z")));
    HistoryEvent renamed = makeEvent(Operation::Rename, QStringLiteral("/home/pi/cnc/old.nc"),
                                     QString(), at("2026-12-07T10:00:02.000Z"));
    renamed.newRemotePath = QStringLiteral("/home/pi/cnc/PART2.nc");
    history.record(renamed);
    HistoryEvent failed = makeEvent(Operation::Download, QStringLiteral("/home/pi/cnc/part/x.nc"),
                                    QStringLiteral("/tmp/y.nc"), at("2026-12-07T10:00:01.000Z"));
    failed.outcome = Outcome::Failed;
    failed.detail = QStringLiteral("No space left on device");
    history.record(failed);

    auto *dialog = new HistoryDialog(address, true);
    QSignalSpy shown(dialog, &HistoryDialog::historyShown);
    dialog->show();
    QVERIFY(shown.wait());
    QCOMPARE(dialog->objectName(), QStringLiteral("historyDialog"));
    const QAbstractItemModel *rows = dialog->findChild<QTableView *>()->model();
    const auto column = [rows](int column) {
        QStringList texts;
        for (int row = 0; row < rows->rowCount(); ++row)
            texts << rows->index(row, column).data().toString();
        return texts.join(QLatin1Char('|'));
    };
    QCOMPARE(column(HistoryTableModel::Operation), QStringLiteral("rename|download|upload"));
    QCOMPARE(column(HistoryTableModel::File), QStringLiteral("/home/pi/cnc/old.nc → "
                                                             "/home/pi/cnc/PART2.nc|"
                                                             "/home/pi/cnc/part/x.nc|"
                                                             "/home/pi/cnc/Part1.nc"));
    QCOMPARE(rows->index(1, HistoryTableModel::Outcome).data(Qt::ToolTipRole).toString(),
             failed.detail);

    // The file's own name, remote or local, in any case; a folder of that name is no match.
    auto *filter = dialog->findChild<QLineEdit *>(QStringLiteral("historyFilter"));
    QTest::keyClicks(filter, QStringLiteral("pArT"));
    QCOMPARE(column(HistoryTableModel::Operation), QStringLiteral("rename|upload"));
    filter->setText(QStringLiteral("Y.NC"));
    QCOMPARE(column(HistoryTableModel::Operation), QStringLiteral("download"));
    dialog->close(); // deletes itself

    auto *none = new HistoryDialog(QStringLiteral("10.0.0.9"), false);
    QSignalSpy noneShown(none, &HistoryDialog::historyShown);
    QVERIFY(noneShown.wait());
    QCOMPARE(none->windowTitle(), QStringLiteral("10.0.0.9 的历史记录"));
    QVERIFY(none->findChild<QLabel *>(QStringLiteral("historyStatus"))
                ->text()
                .contains(QStringLiteral("还没有历史记录")));
    QCOMPARE(none->findChild<QTableView *>()->model()->rowCount(), 0);
    delete none;
}

QTEST_MAIN(TestHistory)
#include "tst_history.moc"
