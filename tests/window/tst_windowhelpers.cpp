// The window's pure helpers: the listing parser and the shell markers on output captured from
// the simulated controller's shell (fixtures/, made by capture.py there), sizes and column
// widths, the plan of a folder transfer and the count of a folder delete.
#include "ColumnWidths.h"
#include "ControllerShell.h"
#include "FileSizeText.h"
#include "ListingParser.h"
#include "ShellMarkers.h"
#include "TransferPlan.h"
#include "TreeSummary.h"
#include "WindowTestSupport.h"

#include <QtTest>

namespace {

RemoteListing parseRaw(const QString &raw)
{
    return ListingParser::parse(ListingParser::cleanOutput(raw, ControllerShell::prompt()));
}

QString names(const QVector<RemoteEntry> &entries, bool fileNames = false)
{
    QStringList result;
    for (const RemoteEntry &entry : entries)
        result << (fileNames ? entry.fileName : entry.name);
    return result.join(QLatin1Char('|'));
}

RemoteEntry find(const QVector<RemoteEntry> &entries, const QString &name)
{
    for (const RemoteEntry &entry : entries) {
        if (entry.name == name)
            return entry;
    }
    return {};
}

QVector<ShellMarker> outcomesOfSplit(const QString &raw, int split)
{
    const ShellMarkerScan first = scanShellMarkers(QString(), raw.left(split));
    return first.outcomes + scanShellMarkers(first.carry, raw.mid(split)).outcomes;
}

} // namespace

class TestWindowHelpers : public QObject
{
    Q_OBJECT
private slots:
    void realListing();
    void outputsAroundTheListing_data();
    void outputsAroundTheListing();
    void markerCountsOnlyAsOutcomeLineSeenOnce();
    void sizesAndColumnWidths();
    void transferPlans_data();
    void transferPlans();
};

void TestWindowHelpers::realListing()
{
    const RemoteListing listing = parseRaw(fixture("listing_root.raw"));
    // Each list newest first, across the turn of the year too; "." and ".." are gone; every
    // quoting form of ls gives back the real name, blanks at either end included; banner words
    // in a name do not hide the entry.
    QCOMPARE(names(listing.folders),
             QStringLiteral("a folder with a rather long name that makes the echoed command wrap|"
                            "中文目录|a\"b|$HOME|new_year|old_year|programs"));
    QCOMPARE(names(listing.files),
             QStringLiteral("null device|cafe\u0301.nc|中文 程序.nc|line\nfeed.nc|"
                            "DELETE_SUCCESS.nc|x -> y.nc|dot .|back\\slash`tick!.nc|"
                            "Last login: notes.nc|trail | lead.nc|tab\there.nc|it's $x.nc|$x.nc|"
                            "it's.nc|a b.nc|size1073741824.nc|size1048576.nc|size1048575.nc|"
                            "size1536.nc|size1024.nc|size1023.nc|size0.nc|"
                            "link with space -> a b.nc|link_to_programs -> programs|零件.nc|"
                            "part2.nc|part1.nc"));
    // Paths are made of a link's own name; a name that holds an arrow is no link.
    QVERIFY(names(listing.files, true).contains("|x -> y.nc|dot .|"));
    QVERIFY(names(listing.files, true)
                .endsWith("|link with space|link_to_programs|零件.nc|"
                          "part2.nc|part1.nc"));
    // A link to a folder is a file with its own size; a device has "major, minor" there.
    QCOMPARE(find(listing.files, "link_to_programs -> programs").size, QStringLiteral("8"));
    QCOMPARE(find(listing.files, "null device").size, QStringLiteral("1, 3"));
    QCOMPARE(find(listing.files, "null device").modified, QStringLiteral("2026-03-03 12:00:00"));
}

void TestWindowHelpers::outputsAroundTheListing_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("files");
    // The banner ahead of a listing whose echo was lost: banner lines go, entries stay.
    const QString root = fixture("listing_root.raw");
    QTest::newRow("banner, no echo")
        << fixture("banner.raw") + root.mid(root.indexOf(QLatin1Char('\n')) + 1)
        << names(parseRaw(root).files);
    // The echo of a wrapped command line is redrawn with cursor moves.
    QTest::newRow("redrawn echo") << fixture("listing_quote_folder.raw") << "inside quote.nc";
    QTest::newRow("only . and ..") << fixture("listing_long_path.raw") << QString();
    QTest::newRow("missing folder") << fixture("listing_missing.raw") << QString();
    QTest::newRow("resize error") << fixture("resize_error.raw") << QString();

    // Names as ls printed them on the controller's terminal: blanks beyond ASCII bare, at
    // either end too; quoted, the prompt, an arrow that is no link and the command itself.
    const QString prompt = ControllerShell::prompt();
    const QString echo = ControllerShell::listingCommand(kRootDir).replace("\n", "\r\n");
    const auto entries = [](const QStringList &printed) {
        QString lines;
        for (const QString &name : printed)
            lines += "-rw-r--r-- 1 root root 7 2026-12-07 06:48:53 " + name + "\r\n";
        return lines;
    };
    QStringList printed{"'ls -la --time-style=+x'", "'root@raspberrypi:~# x'", "'y -> x'"};
    QStringList listed{"ls -la --time-style=+x", "root@raspberrypi:~# x", "y -> x"};
    for (const QChar blank : {QChar(0x3000), QChar(0x00A0), QChar(0x2003), QChar(0xFEFF)}) {
        for (const QString &name : {blank + QStringLiteral("a.nc"), "a.nc" + QString(blank),
                                    "a" + QString(blank) + "b.nc"}) {
            printed << ' ' + name;
            listed << name;
        }
    }
    printed << " a.nc";
    listed << "a.nc";
    // The echo of a command typed while ls ran, broken into the listing: no name has a slash.
    const QString brokenEcho = "-rw-r--r-- 1 root root ls -la --time-style=+%Y-%m-%d\\ %H:%M "
                               "\"/home/pi/cn\r\n";
    const QString own =
        echo + "total 8\r\n" + entries(printed) + brokenEcho + "\x1B[?2004h" + prompt;
    QTest::newRow("blanks, prompt, arrow in names; a broken echo") << own << listed.join('|');
    // What an earlier listing printed before this one's echo is not this folder's.
    QTest::newRow("output ahead of the echo")
        << echo + entries({" old.nc"}) + "\x1B[?2004h" + prompt + own << listed.join('|');
}

void TestWindowHelpers::outputsAroundTheListing()
{
    QFETCH(QString, raw);
    QFETCH(QString, files);
    const QString cleaned = ListingParser::cleanOutput(raw, ControllerShell::prompt());
    QVERIFY(!cleaned.contains(QLatin1String("Welcome to")) && !cleaned.contains(QChar(0x1B)));
    QCOMPARE(names(ListingParser::parse(cleaned).files), files);
}

void TestWindowHelpers::markerCountsOnlyAsOutcomeLineSeenOnce()
{
    // The echo of each command holds both words of its pair; only the printed line counts,
    // wherever the output is split into two pieces. Taken out of a listing: echo and outcome.
    const QVector<QPair<const char *, ShellMarker>> cases{
        {"delete_success.raw", ShellMarker::DeleteSuccess},
        {"delete_failed.raw", ShellMarker::DeleteFailed},
        {"create_success.raw", ShellMarker::CreateSuccess},
        {"create_failed.raw", ShellMarker::CreateFailed}};
    for (const auto &c : cases) {
        const QString raw = fixture(c.first);
        QString rest = raw;
        removeMarkerLines(&rest, 0);
        QVERIFY(!rest.contains("_SUCCESS") && !rest.contains("_FAILED"));
        QVERIFY(rest.endsWith(ControllerShell::prompt()));
        for (int split = 0; split <= raw.size(); ++split)
            QVERIFY2(outcomesOfSplit(raw, split) == QVector<ShellMarker>{c.second},
                     qPrintable(QStringLiteral("%1 split at %2").arg(c.first).arg(split)));
    }
    // Commands typed while another ran are echoed by the terminal wherever the output is;
    // two outcomes in one piece both count.
    QCOMPARE(scanShellMarkers("\x1B[?2004l\r\\345\\244\\", "DELETE_SUCCESS\r\n").outcomes,
             QVector<ShellMarker>{ShellMarker::DeleteSuccess});
    QCOMPARE(scanShellMarkers(QString(), "DELETE_FAILED\r\n" + ControllerShell::prompt() +
                                             "\r\nDELETE_SUCCESS\r\n")
                 .outcomes,
             (QVector<ShellMarker>{ShellMarker::DeleteFailed, ShellMarker::DeleteSuccess}));
    // A file named like a marker is neither an outcome nor taken out of the listing.
    const QString listing = fixture("listing_root.raw");
    QString kept = listing;
    removeMarkerLines(&kept, 0);
    QCOMPARE(kept, listing);
    QVERIFY(outcomesOfSplit(listing, listing.indexOf("DELETE_SUCCESS.nc") + 5).isEmpty());
}

void TestWindowHelpers::sizesAndColumnWidths()
{
    const char *const sizes[][2] = {{"0", "0 B"},
                                    {"1023", "1023 B"},
                                    {"1024", "1.0 KB"},
                                    {"1536", "1.5 KB"},
                                    {"1048575", "1024.0 KB"},
                                    {"1048576", "1.0 MB"},
                                    {"1073741824", "1.0 GB"},
                                    {"10995116277760", "10240.0 GB"},
                                    {"1, 3", "1, 3"}};
    for (const auto &size : sizes)
        QCOMPARE(fileSizeText(size[0]), QString(size[1]));
    // A view not laid out yet; the proportional range, truncated; the fixed columns complete.
    const int widths[][5] = {{40, 820, 80, 100, 160},
                             {241, 200, 0, 0, 0},
                             {579, 200, 79, 99, 159},
                             {580, 200, 80, 100, 160},
                             {1000, 620, 80, 100, 160}};
    for (const auto &w : widths) {
        const ColumnWidths c = columnWidthsForViewWidth(w[0]);
        QCOMPARE(QVector<int>({w[0], c.name, c.type, c.size, c.modified}),
                 QVector<int>(std::begin(w), std::end(w)));
    }
}

// Items written "path" for a file, "path/" for a folder.
static QVector<TransferItem> items(const QString &list)
{
    QVector<TransferItem> result;
    for (const QString &item : list.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        const bool folder = item.endsWith(QLatin1Char('/'));
        result.append({folder ? item.chopped(1) : item, folder, 0, {}});
    }
    return result;
}

void TestWindowHelpers::transferPlans_data()
{
    QTest::addColumn<QString>("sources");
    QTest::addColumn<QString>("targetSide");
    QTest::addColumn<bool>("foldCase");
    // What the plan does: folders made, files (those replacing marked "!"), clashes as
    // "name=earlier", blocked sources; the four parts joined by ';'.
    QTest::addColumn<QString>("plan");
    QTest::newRow("new tree") << "job/ job/a.nc job/sub/ job/sub/b.nc"
                              << "" << false << "job|job/sub;job/a.nc job/sub/b.nc;;";
    QTest::newRow("into an existing tree")
        << "job/ job/a.nc job/sub/ job/sub/b.nc"
        << "job/ job/a.nc" << false << "job/sub;job/a.nc! job/sub/b.nc;;";
    QTest::newRow("a file where a folder is, and the other way round")
        << "job/ job/a.nc job/sub/ job/sub/b.nc"
        << "job/ job/a.nc/ job/sub" << false << ";;;job/a.nc|job/sub";
    QTest::newRow("letter case, on a side that merges it")
        << "job/ job/A.nc job/a.nc job/Sub/ job/sub/ job/sub/b.nc"
        << "job/ job/SUB/" << true << ";job/A.nc job/sub/b.nc;job/a.nc=job/A.nc;";
    QTest::newRow("letter case, on a side that keeps it apart")
        << "job/A.nc job/a.nc"
        << "" << false << ";job/A.nc job/a.nc;;";
}

void TestWindowHelpers::transferPlans()
{
    QFETCH(QString, sources);
    QFETCH(QString, targetSide);
    QFETCH(bool, foldCase);
    QFETCH(QString, plan);
    const TransferPlan made = TransferPlan::make(items(sources), items(targetSide), foldCase);
    QStringList files;
    for (const TransferPlan::File &file : made.files)
        files << file.target + (file.replaces ? "!" : "");
    QStringList clashes;
    for (const TransferPlan::Clash &clash : made.clashes)
        clashes << clash.source.path + "=" + clash.sameAs;
    QCOMPARE(QStringList({made.folders.join('|'), files.join(' '), clashes.join(' '),
                          made.blocked.join('|')})
                 .join(';'),
             plan);

    const QStringList taken{"p (2).nc", "P (3).NC", "notes (2)"};
    const auto isTaken = [&](const QString &name) {
        return taken.contains(name, Qt::CaseInsensitive);
    };
    QCOMPARE(TransferPlan::freeName("job/p.nc", isTaken), QString("job/p (2).nc"));
    QCOMPARE(TransferPlan::freeName("p.nc", isTaken), QString("p (4).nc"));
    QCOMPARE(TransferPlan::freeName("notes", isTaken), QString("notes (3)"));
    QCOMPARE(TransferPlan::freeName("dir.d/.profile", isTaken), QString("dir.d/.profile (2)"));

    TreeSummary summary;
    using Kind = QSsh::SftpTreeEntry::Kind;
    summary.add({{"", Kind::Folder, 4096, {}},
                 {"a.nc", Kind::File, 1000, {}},
                 {"link", Kind::Link, 9, {}},
                 {"sub", Kind::Folder, 4096, {}}});
    summary.add({{"", Kind::Folder, 4096, {}}, {"b.nc", Kind::File, 14889779, {}}});
    QCOMPARE(summary.text(true), QString("3 folders, 3 files, 14.2 MB"));
    QCOMPARE(summary.text(false), QString("3 个文件夹，3 个文件，14.2 MB"));
    QCOMPARE((TreeSummary{1, 1, 10}).text(true), QString("1 folder, 1 file, 10 B"));
}

QTEST_APPLESS_MAIN(TestWindowHelpers)
#include "tst_windowhelpers.moc"
