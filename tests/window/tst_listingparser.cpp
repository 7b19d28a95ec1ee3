// The text helpers of the listing path, on output captured from the simulated controller's
// shell (tests/window/fixtures, made by capture.py there).
#include "ControllerShell.h"
#include "FileSizeText.h"
#include "ListingParser.h"
#include "ShellMarkers.h"
#include "TerminalText.h"

#include <QFile>
#include <QProcess>
#include <QtTest>

namespace {

const QString kPrompt = QStringLiteral("root@raspberrypi:~# ");

QString fixture(const char *name)
{
    QFile file(QStringLiteral(CNC_LISTING_FIXTURES "/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", name);
    return QString::fromUtf8(file.readAll());
}

RemoteListing parseRaw(const QString &raw)
{
    return ListingParser::parse(ListingParser::cleanOutput(raw, kPrompt));
}

QStringList names(const QVector<RemoteEntry> &entries)
{
    QStringList result;
    for (const RemoteEntry &entry : entries)
        result << entry.name;
    return result;
}

const RemoteEntry *find(const QVector<RemoteEntry> &entries, const QString &name)
{
    for (const RemoteEntry &entry : entries) {
        if (entry.name == name)
            return &entry;
    }
    return nullptr;
}

} // namespace

Q_DECLARE_METATYPE(QVector<ShellMarker>)

class TestListingParser : public QObject
{
    Q_OBJECT
private slots:
    void realListingGivesRealNamesNewestFirst();
    void linksDevicesAndSizes();
    void bannerWithoutEchoIsDropped();
    void outputsWithoutEntries_data();
    void outputsWithoutEntries();
    void unquotesEveryFormLsPrints_data();
    void unquotesEveryFormLsPrints();
    void sizeText_data();
    void sizeText();
    void terminalControls();
    void listingCommandKeepsTheDirectoryLiteral_data();
    void listingCommandKeepsTheDirectoryLiteral();
    void markerCountsOnlyAsOutcomeLine_data();
    void markerCountsOnlyAsOutcomeLine();
    void markerLineSplitAnywhereIsSeenOnce();
    void listingLinesWithMarkerWordsAreNoMarkers();
};

void TestListingParser::realListingGivesRealNamesNewestFirst()
{
    const RemoteListing listing = parseRaw(fixture("listing_root.raw"));

    // Folders before files is the caller's order; here each list on its own, newest first,
    // across the turn of the year too. "." and ".." are gone.
    QCOMPARE(names(listing.folders),
             QStringList({QStringLiteral("a folder with a rather long name that makes the echoed "
                                         "command wrap"),
                          QStringLiteral("中文目录"), QStringLiteral("a\"b"),
                          QStringLiteral("$HOME"), QStringLiteral("new_year"),
                          QStringLiteral("old_year"), QStringLiteral("programs")}));
    QCOMPARE(names(listing.files), QStringList({QStringLiteral("null device"),
                                                QStringLiteral("cafe\u0301.nc"),
                                                QStringLiteral("中文 程序.nc"),
                                                QStringLiteral("line\nfeed.nc"),
                                                QStringLiteral("DELETE_SUCCESS.nc"),
                                                QStringLiteral("x -> y.nc"),
                                                QStringLiteral("dot ."),
                                                QStringLiteral("back\\slash`tick!.nc"),
                                                QStringLiteral("Last login: notes.nc"),
                                                QStringLiteral("trail "),
                                                QStringLiteral(" lead.nc"),
                                                QStringLiteral("tab\there.nc"),
                                                QStringLiteral("it's $x.nc"),
                                                QStringLiteral("$x.nc"),
                                                QStringLiteral("it's.nc"),
                                                QStringLiteral("a b.nc"),
                                                QStringLiteral("size1073741824.nc"),
                                                QStringLiteral("size1048576.nc"),
                                                QStringLiteral("size1048575.nc"),
                                                QStringLiteral("size1536.nc"),
                                                QStringLiteral("size1024.nc"),
                                                QStringLiteral("size1023.nc"),
                                                QStringLiteral("size0.nc"),
                                                QStringLiteral("link with space -> a b.nc"),
                                                QStringLiteral("link_to_programs -> programs"),
                                                QStringLiteral("零件.nc"),
                                                QStringLiteral("part2.nc"),
                                                QStringLiteral("part1.nc")}));
    QCOMPARE(listing.folders.constFirst().modified, QStringLiteral("2026-02-04 00:00:00"));
    QCOMPARE(find(listing.folders, QStringLiteral("old_year"))->modified,
             QStringLiteral("2025-12-31 23:59:59"));
}

void TestListingParser::linksDevicesAndSizes()
{
    const RemoteListing listing = parseRaw(fixture("listing_root.raw"));

    // A link to a folder is a file row with its own size, not the folder's.
    const RemoteEntry *link = find(listing.files, QStringLiteral("link_to_programs -> programs"));
    QVERIFY(link);
    QVERIFY(!link->isFolder());
    QCOMPARE(link->size, QStringLiteral("8"));

    // A device has "major, minor" where the size stands; the date is still the date.
    const RemoteEntry *device = find(listing.files, QStringLiteral("null device"));
    QVERIFY(device);
    QCOMPARE(device->size, QStringLiteral("1, 3"));
    QCOMPARE(device->modified, QStringLiteral("2026-03-03 12:00:00"));
    QCOMPARE(fileSizeText(device->size), QStringLiteral("1, 3"));

    const QVector<QPair<const char *, const char *>> sizes{{"size0.nc", "0 B"},
                                                           {"size1023.nc", "1023 B"},
                                                           {"size1024.nc", "1.0 KB"},
                                                           {"size1536.nc", "1.5 KB"},
                                                           {"size1048575.nc", "1024.0 KB"},
                                                           {"size1048576.nc", "1.0 MB"},
                                                           {"size1073741824.nc", "1.0 GB"}};
    for (const auto &size : sizes) {
        const RemoteEntry *entry = find(listing.files, QLatin1String(size.first));
        QVERIFY2(entry, size.first);
        QCOMPARE(fileSizeText(entry->size), QLatin1String(size.second));
    }
}

void TestListingParser::bannerWithoutEchoIsDropped()
{
    // The login banner ahead of a listing whose echo was lost: the banner lines go, the
    // entries stay, "Last login:" in a name included.
    QString listingOnly = fixture("listing_root.raw");
    listingOnly = listingOnly.mid(listingOnly.indexOf(QLatin1Char('\n')) + 1);
    const QString raw = fixture("banner.raw") + listingOnly;

    const QString cleaned = ListingParser::cleanOutput(raw, kPrompt);
    QVERIFY(!cleaned.contains(QLatin1String("Welcome to")));
    QVERIFY(!cleaned.contains(QLatin1String("unminimize")));
    QVERIFY(!cleaned.contains(QChar(0x1B)));

    const RemoteListing expected = parseRaw(fixture("listing_root.raw"));
    const RemoteListing listing = ListingParser::parse(cleaned);
    QCOMPARE(names(listing.folders), names(expected.folders));
    QCOMPARE(names(listing.files), names(expected.files));
    QVERIFY(find(listing.files, QStringLiteral("Last login: notes.nc")));
}

void TestListingParser::outputsWithoutEntries_data()
{
    QTest::addColumn<QString>("raw");
    QTest::addColumn<QStringList>("files");
    // The echo holds a redraw of the wrapped command line (cursor moves, erase).
    QTest::newRow("redrawn echo") << fixture("listing_quote_folder.raw")
                                  << QStringList{QStringLiteral("inside quote.nc")};
    QTest::newRow("only . and ..") << fixture("listing_long_path.raw") << QStringList();
    QTest::newRow("missing folder") << fixture("listing_missing.raw") << QStringList();
    QTest::newRow("resize error") << fixture("resize_error.raw") << QStringList();
    QTest::newRow("nothing") << QString() << QStringList();
}

void TestListingParser::outputsWithoutEntries()
{
    QFETCH(QString, raw);
    QFETCH(QStringList, files);
    const RemoteListing listing = parseRaw(raw);
    QCOMPARE(names(listing.folders), QStringList());
    QCOMPARE(names(listing.files), files);
}

void TestListingParser::unquotesEveryFormLsPrints_data()
{
    QTest::addColumn<QString>("printed");
    QTest::addColumn<bool>("link");
    QTest::addColumn<QString>("name");
    QTest::newRow("bare") << "part1.nc" << false << "part1.nc";
    QTest::newRow("single quotes") << "'a b.nc'" << false << "a b.nc";
    QTest::newRow("leading blank") << "' lead.nc'" << false << " lead.nc";
    QTest::newRow("double quotes") << "\"it's.nc\"" << false << "it's.nc";
    QTest::newRow("escaped quote") << "'it'\\''s $x.nc'" << false << "it's $x.nc";
    QTest::newRow("tab") << "'tab'$'\\t''here'" << false << "tab\there";
    QTest::newRow("octal bytes") << "$'\\344\\270\\255'.nc" << false << "中.nc";
    QTest::newRow("hex and escapes") << "$'\\x41\\e\\\\\\''" << false << "A\x1B\\'";
    QTest::newRow("link") << "'link with space' -> 'a b.nc'" << true << "link with space -> a b.nc";
    QTest::newRow("arrow in a file name") << "'x -> y.nc'" << false << "x -> y.nc";
    QTest::newRow("not quoting: blank") << "a b.nc" << false << "a b.nc";
    QTest::newRow("not quoting: open quote") << "it's" << false << "it's";
    QTest::newRow("not quoting: arrow, no link") << "a -> b" << false << "a -> b";
}

void TestListingParser::unquotesEveryFormLsPrints()
{
    QFETCH(QString, printed);
    QFETCH(bool, link);
    QFETCH(QString, name);
    QCOMPARE(ListingParser::unquoteName(printed, link), name);
}

void TestListingParser::sizeText_data()
{
    QTest::addColumn<QString>("field");
    QTest::addColumn<QString>("text");
    QTest::newRow("negative") << "-5"
                              << "-5 B";
    QTest::newRow("5 GiB") << "5368709120"
                           << "5.0 GB";
    QTest::newRow("10 TiB stays GB") << "10995116277760"
                                     << "10240.0 GB";
    QTest::newRow("not a number") << "abc"
                                  << "abc";
    QTest::newRow("empty") << ""
                           << "";
}

void TestListingParser::sizeText()
{
    QFETCH(QString, field);
    QFETCH(QString, text);
    QCOMPARE(fileSizeText(field), text);
}

void TestListingParser::terminalControls()
{
    using TerminalText::isControlOnly;
    using TerminalText::stripControlSequences;

    QCOMPARE(stripControlSequences(QStringLiteral("\x1B[?2004hroot\x1B[01;34mdir\x1B[0m\x1B[K")),
             QStringLiteral("rootdir"));
    QCOMPARE(stripControlSequences(QStringLiteral("\x1B"
                                                  "7\x1B[r\x1B[999;999H\x1B"
                                                  "8ok\r\n")),
             QStringLiteral("ok\r\n"));
    QCOMPARE(stripControlSequences(QStringLiteral("\x1B]0;root@pi: ~\x07$ \x1B(Bx")),
             QStringLiteral("$ x"));
    QCOMPARE(stripControlSequences(QStringLiteral("cut\x1B[12")), QStringLiteral("cut"));

    QVERIFY(isControlOnly(QString()));
    QVERIFY(isControlOnly(QStringLiteral("\r\n")));
    QVERIFY(isControlOnly(QStringLiteral("\x1B[2J\x1B[H")));
    QVERIFY(isControlOnly(QStringLiteral("[12;40H")));
    QVERIFY(!isControlOnly(QStringLiteral("total 4")));
    QVERIFY(!isControlOnly(QStringLiteral("\x1B[?2004h")));
}

void TestListingParser::listingCommandKeepsTheDirectoryLiteral_data()
{
    QTest::addColumn<QString>("directory");
    QTest::newRow("root") << "/home/pi/cnc/";
    QTest::newRow("dollar") << "/home/pi/cnc/$HOME/";
    QTest::newRow("double quote") << "/home/pi/cnc/a\"b/";
    QTest::newRow("backquote") << "/home/pi/cnc/`id`/";
    QTest::newRow("backslash") << "/home/pi/cnc/back\\slash\\/";
    QTest::newRow("single quote and blank") << "/home/pi/cnc/it's here/";
    QTest::newRow("chinese") << "/home/pi/cnc/中文目录/";
}

void TestListingParser::listingCommandKeepsTheDirectoryLiteral()
{
    QFETCH(QString, directory);
    const QString command = ControllerShell::listingCommand(directory);
    const QString head = QStringLiteral("ls -la --time-style=+%Y-%m-%d\\ %H:%M:%S \"");
    QVERIFY(command.startsWith(head));
    QVERIFY(command.endsWith(QLatin1String("\"\n")));

    // A shell reads the arguments back exactly: the time style as one word, the directory as
    // another.
    QString probe = command;
    probe.replace(0, 2, QStringLiteral("printf '[%s]'"));
    QProcess shell;
    shell.start(QStringLiteral("/bin/bash"), {QStringLiteral("-c"), probe});
    QVERIFY(shell.waitForFinished(10000));
    QCOMPARE(QString::fromUtf8(shell.readAllStandardOutput()),
             QStringLiteral("[-la][--time-style=+%Y-%m-%d %H:%M:%S][") + directory +
                 QLatin1Char(']'));
}

void TestListingParser::markerCountsOnlyAsOutcomeLine_data()
{
    QTest::addColumn<QString>("piece");
    QTest::addColumn<QVector<ShellMarker>>("outcomes");
    QTest::newRow("delete success")
        << fixture("delete_success.raw") << QVector<ShellMarker>{ShellMarker::DeleteSuccess};
    // The echo holds "DELETE_SUCCESS" too; only the printed line counts.
    QTest::newRow("delete failed")
        << fixture("delete_failed.raw") << QVector<ShellMarker>{ShellMarker::DeleteFailed};
    QTest::newRow("create success")
        << fixture("create_success.raw") << QVector<ShellMarker>{ShellMarker::CreateSuccess};
    QTest::newRow("create failed")
        << fixture("create_failed.raw") << QVector<ShellMarker>{ShellMarker::CreateFailed};
    QString echoOnly = fixture("delete_failed.raw");
    echoOnly.truncate(echoOnly.indexOf(QLatin1Char('\n')) + 1);
    QTest::newRow("echo alone") << echoOnly << QVector<ShellMarker>{};
    QTest::newRow("two outcomes") << QStringLiteral("DELETE_FAILED\r\n\x1B[?2004h") + kPrompt +
                                         QStringLiteral("\r\n\x1B[?2004l\rDELETE_SUCCESS\r\n")
                                  << QVector<ShellMarker>{ShellMarker::DeleteFailed,
                                                          ShellMarker::DeleteSuccess};
}

void TestListingParser::markerCountsOnlyAsOutcomeLine()
{
    QFETCH(QString, piece);
    QFETCH(QVector<ShellMarker>, outcomes);
    const ShellMarkerScan scan = scanShellMarkers(QString(), piece);
    QCOMPARE(scan.outcomes, outcomes);
    QVERIFY(scan.concernsMarker);
}

void TestListingParser::markerLineSplitAnywhereIsSeenOnce()
{
    for (const char *name : {"delete_failed.raw", "create_success.raw"}) {
        const QString raw = fixture(name);
        const ShellMarker expected = QByteArray(name).startsWith("delete")
                                         ? ShellMarker::DeleteFailed
                                         : ShellMarker::CreateSuccess;
        for (int split = 0; split <= raw.size(); ++split) {
            const ShellMarkerScan first = scanShellMarkers(QString(), raw.left(split));
            const ShellMarkerScan second = scanShellMarkers(first.carry, raw.mid(split));
            const QVector<ShellMarker> seen = first.outcomes + second.outcomes;
            QVERIFY2(seen == QVector<ShellMarker>{expected},
                     qPrintable(QStringLiteral("%1 split at %2").arg(name).arg(split)));
        }
    }
}

void TestListingParser::listingLinesWithMarkerWordsAreNoMarkers()
{
    // A file named like a marker is listed, not taken for an outcome, in one piece or split.
    const QString raw = fixture("listing_root.raw");
    const ShellMarkerScan whole = scanShellMarkers(QString(), raw);
    QVERIFY(whole.outcomes.isEmpty());
    QVERIFY(!whole.concernsMarker);

    const int at = raw.indexOf(QLatin1String("DELETE_SUCCESS.nc")) + 5;
    const ShellMarkerScan first = scanShellMarkers(QString(), raw.left(at));
    const ShellMarkerScan second = scanShellMarkers(first.carry, raw.mid(at));
    QVERIFY(!first.concernsMarker && !second.concernsMarker);
    QVERIFY(second.outcomes.isEmpty());
    // The carry is the unterminated tail only.
    QCOMPARE(second.carry, QStringLiteral("\x1B[?2004h") + kPrompt);
}

QTEST_APPLESS_MAIN(TestListingParser)
#include "tst_listingparser.moc"
