// File names through the whole way a listing takes: the names (the input after its first byte,
// separated by "/", which no name holds) are written as `ls -la` prints them on the
// controller's terminal, with the command echo before and the prompt after; that output
// arrives in pieces (cut as the first byte says) and goes through what the window does with
// each piece: the marker scan, the marker line removal, the listing progress, and at the end
// cleanOutput and parse. Properties:
// - no listing line counts as the outcome of a delete or create command;
// - the listing is complete with its last piece, never before (a name may hold the prompt);
// - every name comes back once, byte for byte, as a folder or a file as it was written, with
//   its size and time; a link's name shows its target after the arrow.
#include "ControllerShell.h"
#include "FuzzCheck.h"
#include "ListingParser.h"
#include "ListingProgress.h"
#include "LsQuoting.h"
#include "RemoteFileName.h"
#include "ShellMarkers.h"

#include <QSet>
#include <QVector>

namespace {

enum class Kind { File, Folder, Link, Device };

struct Written
{
    QByteArray name;
    Kind kind = Kind::File;
    QByteArray target; // of a link
    QByteArray size;
    QByteArray time;
};

// ls 9.1 prints a name that starts with an unprintable byte and also holds a single quote,
// and ends in an unprintable byte, as it would print another name ('\317'... in place of
// ''$'\317'...). Such a name cannot come back from any listing; leave it out.
bool lsPrintsAsAnother(const QByteArray &name)
{
    return lsQuotedName(name).startsWith("'\\") && !name.startsWith('\\');
}

QVector<Written> namesOf(const QByteArray &input, std::uint8_t kinds)
{
    QVector<Written> written;
    QSet<QByteArray> seen;
    const QList<QByteArray> parts = input.split('/');
    for (int i = 0; i < parts.size() && written.size() < 64; ++i) {
        QByteArray name = parts.at(i);
        name.replace('\0', QByteArray());
        name.truncate(255);
        if (name.isEmpty() || name == "." || name == ".." || seen.contains(name) ||
            lsPrintsAsAnother(name))
            continue;
        seen.insert(name);
        Written entry;
        entry.name = name;
        entry.kind = Kind((kinds >> (2 * (written.size() % 4))) & 3);
        if (entry.kind == Kind::Link) {
            entry.target = i + 1 < parts.size() ? parts.at(i + 1) : QByteArray("x");
            entry.target.replace('\0', QByteArray());
            if (entry.target.isEmpty() || lsPrintsAsAnother(entry.target))
                entry.target = "x";
        }
        const int n = written.size();
        entry.size = entry.kind == Kind::Device
                         ? QByteArray::number(n % 7) + ", " + QByteArray::number(n)
                         : QByteArray::number(qint64(n) * 7919 * n);
        entry.time =
            "2026-03-02 11:" + QByteArray::number(10 + n % 50) + ":0" + QByteArray::number(n % 10);
        written.append(entry);
    }
    return written;
}

// What ls -la prints on the terminal: right-aligned sizes; when some name needs quotes, a
// blank before every bare one, so that the names line up.
QByteArray lsOutput(const QVector<Written> &written)
{
    QVector<QByteArray> names{".", ".."};
    bool someQuoted = false;
    int sizeWidth = 4;
    for (const Written &entry : written) {
        someQuoted |= lsQuotedName(entry.name) != entry.name;
        sizeWidth = qMax(sizeWidth, int(entry.size.size()));
    }
    const auto line = [&](const char *mode, const QByteArray &size, const QByteArray &time,
                          const QByteArray &name) {
        const QByteArray quoted = lsQuotedName(name);
        return QByteArray(mode) + " 1 root root " + size.rightJustified(sizeWidth) + ' ' + time +
               (someQuoted && quoted == name ? "  " : " ") + quoted;
    };
    QByteArray out = ControllerShell::listingCommand(QStringLiteral("/home/pi/cnc/")).toUtf8();
    out.replace('\n', "\r\n");
    out += "\x1B[?2004l\rtotal 8\r\n";
    out += line("drwxr-xr-x", "4096", "2026-03-01 10:00:00", ".") + "\r\n";
    out += line("drwxr-xr-x", "4096", "2026-03-01 10:00:00", "..") + "\r\n";
    for (const Written &entry : written) {
        static const char *const modes[] = {"-rw-r--r--", "drwxr-xr-x", "lrwxrwxrwx", "crw-r--r--"};
        out += line(modes[int(entry.kind)], entry.size, entry.time, entry.name);
        if (entry.kind == Kind::Link)
            out += " -> " + lsQuotedName(entry.target);
        out += "\r\n";
    }
    return out + "\x1B[?2004h" + ControllerShell::prompt().toUtf8();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    const QVector<Written> written =
        namesOf(QByteArray(reinterpret_cast<const char *>(data) + 1, int(size) - 1), data[0]);
    const QString output = QString::fromUtf8(lsOutput(written));

    // The window's handling of each piece while a listing is outstanding.
    ListingProgress progress;
    progress.start(ControllerShell::listingCommand(QStringLiteral("/home/pi/cnc/")).trimmed(),
                   ControllerShell::prompt());
    QString buffer;
    QString carry;
    ListingProgress::State state = progress.state();
    forEachPiece(output, 1 + data[0] % 97, data[0], [&](const QString &piece, bool last) {
        const ShellMarkerScan scan = scanShellMarkers(carry, piece);
        carry = scan.carry;
        FUZZ_CHECK(scan.outcomes.isEmpty(), QStringLiteral("outcome in %1").arg(shown(output)));
        const int lastLineStart = buffer.lastIndexOf(QLatin1Char('\n')) + 1;
        buffer += piece;
        removeMarkerLines(&buffer, lastLineStart);
        state = progress.update(buffer, lastLineStart);
        FUZZ_CHECK(last || state != ListingProgress::State::Complete,
                   QStringLiteral("complete before its end at %1 of %2")
                       .arg(shown(buffer), shown(output)));
    });
    FUZZ_CHECK(state == ListingProgress::State::Complete, shown(output));

    const RemoteListing listing =
        ListingParser::parse(ListingParser::cleanOutput(buffer, ControllerShell::prompt()));
    const QVector<RemoteEntry> entries = listing.folders + listing.files;
    const QString all = QStringLiteral("listing %1").arg(shown(output));
    FUZZ_CHECK(entries.size() == written.size(), all);
    for (const Written &entry : written) {
        const QString name = QSsh::remoteNameFromBytes(entry.name);
        int found = -1;
        for (int i = 0; i < entries.size(); ++i) {
            if (entries.at(i).fileName == name)
                found = i;
        }
        FUZZ_CHECK(found >= 0, QStringLiteral("%1 missing from %2").arg(shown(name), all));
        const RemoteEntry &parsed = entries.at(found);
        FUZZ_CHECK(parsed.isFolder() == (entry.kind == Kind::Folder), shown(name));
        FUZZ_CHECK(parsed.size == QString::fromLatin1(entry.size), shown(name));
        FUZZ_CHECK(parsed.modified == QString::fromLatin1(entry.time), shown(name));
        const QString shownName =
            entry.kind == Kind::Link
                ? name + QLatin1String(" -> ") + QSsh::remoteNameFromBytes(entry.target)
                : name;
        FUZZ_CHECK(parsed.name == shownName,
                   QStringLiteral("%1 shown as %2").arg(shown(shownName), shown(parsed.name)));
    }
    return 0;
}
