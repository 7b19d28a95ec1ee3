// The text helpers of the listing path, on output captured from the simulated controller's
// shell (tests/window/fixtures, made by capture.py there).
#include "ControllerShell.h"
#include "FileSizeText.h"
#include "ListingFixtures.h"
#include "ListingParser.h"
#include "ShellMarkers.h"
#include "TerminalText.h"

#include <QtTest>

namespace {

RemoteListing parseRaw(const QString &raw)
{
    return ListingParser::parse(ListingParser::cleanOutput(raw, kPrompt));
}

QString names(const QVector<RemoteEntry> &entries)
{
    QStringList result;
    for (const RemoteEntry &entry : entries)
        result << entry.name;
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

class TestListingParser : public QObject
{
    Q_OBJECT
private slots:
    void realListingGivesRealNamesNewestFirst();
    void linksDevicesAndSizes();
    void outputsAroundTheListing_data();
    void outputsAroundTheListing();
    void formsOfNamesNotInTheCapture();
    void markerCountsOnlyAsOutcomeLineSeenOnce();
};

void TestListingParser::realListingGivesRealNamesNewestFirst()
{
    const RemoteListing listing = parseRaw(fixture("listing_root.raw"));

    // Each list newest first, across the turn of the year too; "." and ".." are gone; every
    // quoting form of ls gives back the real name, blanks at either end included.
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
    QCOMPARE(find(listing.folders, QStringLiteral("old_year")).modified,
             QStringLiteral("2025-12-31 23:59:59"));
}

void TestListingParser::linksDevicesAndSizes()
{
    const RemoteListing listing = parseRaw(fixture("listing_root.raw"));

    // A link to a folder is a file with its own size.
    const RemoteEntry link = find(listing.files, QStringLiteral("link_to_programs -> programs"));
    QVERIFY(!link.isFolder());
    QCOMPARE(link.size, QStringLiteral("8"));
    // Paths are made of a link's own name; a file whose name holds an arrow is no link.
    QCOMPARE(link.fileName, QStringLiteral("link_to_programs"));
    QCOMPARE(find(listing.files, QStringLiteral("link with space -> a b.nc")).fileName,
             QStringLiteral("link with space"));
    QCOMPARE(find(listing.files, QStringLiteral("x -> y.nc")).fileName,
             QStringLiteral("x -> y.nc"));
    QCOMPARE(find(listing.files, QStringLiteral(" lead.nc")).fileName, QStringLiteral(" lead.nc"));
    // A device has "major, minor" where the size stands; the date is still the date.
    const RemoteEntry device = find(listing.files, QStringLiteral("null device"));
    QCOMPARE(device.modified, QStringLiteral("2026-03-03 12:00:00"));
    QCOMPARE(fileSizeText(device.size), QStringLiteral("1, 3"));

    const QStringList expected{"0 B",       "1023 B", "1.0 KB", "1.5 KB",
                               "1024.0 KB", "1.0 MB", "1.0 GB"};
    const QStringList sizes{"0", "1023", "1024", "1536", "1048575", "1048576", "1073741824"};
    for (int i = 0; i < sizes.size(); ++i) {
        const RemoteEntry entry = find(listing.files, QStringLiteral("size%1.nc").arg(sizes[i]));
        QCOMPARE(fileSizeText(entry.size), expected[i]);
    }
    QCOMPARE(fileSizeText(QStringLiteral("-5")), QStringLiteral("-5 B"));
    QCOMPARE(fileSizeText(QStringLiteral("10995116277760")), QStringLiteral("10240.0 GB"));
}

void TestListingParser::outputsAroundTheListing_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QString>("files");
    // The banner ahead of a listing whose echo was lost: banner lines go, entries stay.
    QString noEcho = fixture("listing_root.raw");
    noEcho = fixture("banner.raw") + noEcho.mid(noEcho.indexOf(QLatin1Char('\n')) + 1);
    QTest::newRow("banner, no echo")
        << noEcho << names(parseRaw(fixture("listing_root.raw")).files);
    // The echo of a wrapped command line is redrawn with cursor moves.
    QTest::newRow("redrawn echo") << fixture("listing_quote_folder.raw")
                                  << QStringLiteral("inside quote.nc");
    QTest::newRow("only . and ..") << fixture("listing_long_path.raw") << QString();
    QTest::newRow("missing folder") << fixture("listing_missing.raw") << QString();
    QTest::newRow("resize error") << fixture("resize_error.raw") << QString();
}

void TestListingParser::outputsAroundTheListing()
{
    QFETCH(QString, raw);
    QFETCH(QString, files);
    const QString cleaned = ListingParser::cleanOutput(raw, kPrompt);
    QVERIFY(!cleaned.contains(QLatin1String("Welcome to")) && !cleaned.contains(QChar(0x1B)));
    QCOMPARE(names(ListingParser::parse(cleaned).files), files);
}

void TestListingParser::formsOfNamesNotInTheCapture()
{
    using ListingParser::unquoteName;
    // ls in a locale without UTF-8 writes the bytes of Chinese in octal.
    QCOMPARE(unquoteName(QStringLiteral("$'\\344\\270\\255'.nc")), QStringLiteral("中.nc"));
    QCOMPARE(unquoteName(QStringLiteral("$'\\x41\\e\\\\\\''")), QStringLiteral("A\x1B\\'"));
    // An ls without a terminal quotes nothing; such names are taken as they stand.
    QCOMPARE(unquoteName(QStringLiteral("a b.nc")), QStringLiteral("a b.nc"));
    QCOMPARE(unquoteName(QStringLiteral("it's")), QStringLiteral("it's"));
    QCOMPARE(unquoteName(QStringLiteral("a -> b")), QStringLiteral("a -> b"));
    QString fileName;
    QCOMPARE(unquoteName(QStringLiteral("a b -> c d"), true, &fileName),
             QStringLiteral("a b -> c d"));
    QCOMPARE(fileName, QStringLiteral("a b"));

    using TerminalText::isControlOnly;
    QCOMPARE(TerminalText::stripControlSequences(
                 QStringLiteral("\x1B]0;root@pi: ~\x07\x1B[01;34mdir\x1B[0m\x1B(B\x1B[12")),
             QStringLiteral("dir"));
    QVERIFY(isControlOnly(QStringLiteral(" \r\n")) && isControlOnly(QStringLiteral("[12;40H")));
    QVERIFY(!isControlOnly(QStringLiteral("total 4")) &&
            !isControlOnly(QStringLiteral("\x1B[?2004h")));
}

void TestListingParser::markerCountsOnlyAsOutcomeLineSeenOnce()
{
    // The echo of each command holds both words of its pair; only the printed line counts,
    // wherever the output is split into two pieces.
    const QVector<QPair<const char *, ShellMarker>> cases{
        {"delete_success.raw", ShellMarker::DeleteSuccess},
        {"delete_failed.raw", ShellMarker::DeleteFailed},
        {"create_success.raw", ShellMarker::CreateSuccess},
        {"create_failed.raw", ShellMarker::CreateFailed}};
    for (const auto &c : cases) {
        const QString raw = fixture(c.first);
        // Taken out of a listing: the command's echo and its outcome, not the prompt.
        QString rest = raw;
        removeMarkerLines(&rest, 0);
        QVERIFY(!rest.contains(QLatin1String("_SUCCESS")) &&
                !rest.contains(QLatin1String("_FAILED")));
        QVERIFY(rest.endsWith(kPrompt));
        for (int split = 0; split <= raw.size(); ++split)
            QVERIFY2(outcomesOfSplit(raw, split) == QVector<ShellMarker>{c.second},
                     qPrintable(QStringLiteral("%1 split at %2").arg(c.first).arg(split)));
    }
    const QString echo = fixture("delete_failed.raw").section(QLatin1Char('\n'), 0, 0);
    QVERIFY(scanShellMarkers(QString(), echo).outcomes.isEmpty());

    // Commands typed while another ran are echoed by the terminal wherever the output is.
    QCOMPARE(scanShellMarkers(QStringLiteral("\x1B[?2004l\r\\345\\244\\"),
                              QStringLiteral("DELETE_SUCCESS\r\n"))
                 .outcomes,
             QVector<ShellMarker>{ShellMarker::DeleteSuccess});

    // Two commands' outcomes in one piece both count.
    const ShellMarkerScan both =
        scanShellMarkers(QString(), QStringLiteral("DELETE_FAILED\r\n") + kPrompt +
                                        QStringLiteral("\r\nDELETE_SUCCESS\r\n"));
    QCOMPARE(both.outcomes,
             (QVector<ShellMarker>{ShellMarker::DeleteFailed, ShellMarker::DeleteSuccess}));

    // A file named like a marker is neither an outcome nor taken out of the listing.
    const QString listing = fixture("listing_root.raw");
    QString kept = listing;
    removeMarkerLines(&kept, 0);
    QCOMPARE(kept, listing);
    for (int split : {0, int(listing.indexOf(QLatin1String("DELETE_SUCCESS.nc"))) + 5})
        QVERIFY(outcomesOfSplit(listing, split).isEmpty());
}

QTEST_APPLESS_MAIN(TestListingParser)
#include "tst_listingparser.moc"
