#pragma once

#include <QString>
#include <QVector>

// One directory entry of an `ls -la` listing.
struct RemoteEntry
{
    QString name;        // as the list shows it: a symbolic link adds " -> " and its target
    QString fileName;    // the entry's own name in its folder, what its path is made of
    QString permissions; // e.g. "drwxr-xr-x"
    QString size;        // the size field as ls prints it ("1, 3" for a device)
    QString modified;    // "yyyy-MM-dd hh:mm:ss", so that newer sorts higher as text

    bool isFolder() const { return permissions.startsWith(QLatin1Char('d')); }
};

// The entries of one listing without "." and "..": folders and everything else, each newest
// first; entries of the same second keep the order of ls.
struct RemoteListing
{
    QVector<RemoteEntry> folders;
    QVector<RemoteEntry> files;
};

// Reads what the controller's shell printed for the listing command.
namespace ListingParser {

// Leaves the lines of the listing: drops everything up to the line feed after the last echo
// of the listing command, the final prompt and what follows it, the terminal's control
// sequences, and the login banner and empty lines. Echo and prompt count only where the shell
// prints them (ControllerShell::isEchoAt, isPromptAt), so listing lines are kept whatever their
// names hold.
QString cleanOutput(const QString &rawOutput, const QString &prompt);

// The entries of a cleaned output. Lines that are not directory entries (the "total" line,
// error messages, banner leftovers) are skipped.
RemoteListing parse(const QString &cleanedOutput);

// True when the line starts like an `ls -l` entry: a ten-character mode string such as
// "-rw-r--r--" (possibly followed by ".", "+" or "@") and a blank.
bool isEntryLine(const QString &line);

// The real name behind ls's shell quoting: 'a b', "it's", 'it'\''s', $'\t' escapes and
// concatenations of them, with " -> target" kept for links (allowLinkArrow). A text that is
// not one such word is taken as it stands, less a pair of enclosing single quotes.
// fileName, when given, receives the name alone: for a link, without the arrow and target.
QString unquoteName(const QString &text, bool allowLinkArrow = false, QString *fileName = nullptr);

} // namespace ListingParser
