// The listing parser on anything the shell can print after a listing command: the text as it
// arrives (command echo, control sequences, banner, entries, prompt) through cleanOutput and
// parse. Beyond not crashing:
// - every entry names a file of the folder: its own name is not empty, not "." or "..", and
//   holds no "/";
// - an entry line whose name ls printed bare (a word without ASCII blanks that ls quotes as
//   itself) gives exactly one entry, of exactly that name: the fields of a line are separated
//   by ASCII blanks only, and every other character, Unicode blanks included, is the name's.
#include "ControllerShell.h"
#include "FuzzCheck.h"
#include "ListingParser.h"
#include "LsQuoting.h"
#include "RemoteFileName.h"

#include <QRegularExpression>

namespace {

void checkEntry(const RemoteEntry &entry)
{
    const QString detail =
        QStringLiteral("name %1, fileName %2").arg(shown(entry.name), shown(entry.fileName));
    FUZZ_CHECK(!entry.fileName.isEmpty() && !entry.name.isEmpty(), detail);
    FUZZ_CHECK(entry.fileName != QLatin1String(".") && entry.fileName != QLatin1String(".."),
               detail);
    FUZZ_CHECK(!entry.fileName.contains(QLatin1Char('/')), detail);
    FUZZ_CHECK(entry.name.startsWith(entry.fileName), detail);
}

// The name part of an `ls -la` line as ls prints it, when it is one bare word that ls prints
// as it stands; a null text otherwise. For a link, the part before its arrow.
QString bareName(QString line)
{
    static const QRegularExpression entry(
        QStringLiteral("^[-dlcbps][-rwxsStT]{9}[.+@]? +\\d+ +\\S+ +\\S+ +(\\d+|\\d+, +\\d+) +"
                       "\\d{4}-\\d\\d-\\d\\d +\\d\\d:\\d\\d:\\d\\d +(.*)$"));
    line.remove(QLatin1Char('\r'));
    while (line.endsWith(QLatin1Char(' ')))
        line.chop(1);
    while (line.startsWith(QLatin1Char(' ')))
        line.remove(0, 1);
    const QRegularExpressionMatch match = entry.match(line);
    if (!match.hasMatch())
        return QString();
    QString name = match.captured(2);
    if (line.startsWith(QLatin1Char('l'))) {
        const int arrow = name.indexOf(QLatin1String(" -> "));
        if (arrow >= 0)
            name.truncate(arrow);
    }
    const QByteArray bytes = QSsh::remoteNameToBytes(name);
    if (name.isEmpty() || name.contains(QLatin1Char(' ')) || name.contains(QLatin1Char('\t')) ||
        name.contains(QLatin1Char('/')) || lsQuotedName(bytes) != bytes)
        return QString();
    return name;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString raw = shellText(data, size);
    const QString cleaned = ListingParser::cleanOutput(raw, ControllerShell::prompt());
    const RemoteListing listing = ListingParser::parse(cleaned);
    for (const QString &line : cleaned.split(QLatin1Char('\n'))) {
        const QString name = bareName(line);
        if (name.isNull() || name == QLatin1String(".") || name == QLatin1String(".."))
            continue;
        const RemoteListing one = ListingParser::parse(line);
        const QVector<RemoteEntry> entries = one.folders + one.files;
        FUZZ_CHECK(entries.size() == 1 && entries.constFirst().fileName == name,
                   QStringLiteral("line %1 names %2, parsed as %3")
                       .arg(shown(line), shown(name),
                            entries.isEmpty() ? QStringLiteral("nothing")
                                              : shown(entries.constFirst().fileName)));
    }
    // Checked last, so that a line with a name the parser misreads is reported as such.
    for (const RemoteEntry &entry : listing.folders + listing.files)
        checkEntry(entry);
    return 0;
}
