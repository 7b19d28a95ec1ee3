#include "ListingParser.h"

#include "ControllerShell.h"
#include "RemoteFileName.h"
#include "TerminalText.h"

#include <QLoggingCategory>
#include <QStringList>

#include <algorithm>

Q_LOGGING_CATEGORY(lcListing, "cnc.window.listing", QtWarningMsg)

namespace ListingParser {

namespace {

// Lines the controller prints after a login, and the terminal error of its profile.
const QLatin1String kBannerTexts[] = {
    QLatin1String("resize:"),
    QLatin1String("unknown character"),
    QLatin1String("Welcome to"),
    QLatin1String("Documentation:"),
    QLatin1String("Management:"),
    QLatin1String("Support:"),
    QLatin1String("This system has been"),
    QLatin1String("To restore this"),
    QLatin1String("Last login:"),
    QLatin1String("unminimize"),
};

bool isBannerLine(const QString &line)
{
    const QString trimmed = line.trimmed();
    if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('*')))
        return true;
    for (const QLatin1String &text : kBannerTexts) {
        if (trimmed.contains(text))
            return true;
    }
    return false;
}

bool isModeCharacter(QChar c)
{
    switch (c.unicode()) {
    case u'-':
    case u'r':
    case u'w':
    case u'x':
    case u's':
    case u'S':
    case u't':
    case u'T':
        return true;
    default:
        return false;
    }
}

// ls separates its fields with ASCII blanks only. Other blanks (U+3000 of a Chinese input
// method, U+00A0, U+2003...) are printed bare and belong to the name.
bool isBlank(QChar c)
{
    return c == QLatin1Char(' ') || c == QLatin1Char('\t');
}

// The text without ASCII white space at either end; every other character is kept.
QString trimAsciiBlanks(const QString &text)
{
    const auto isAsciiSpace = [](QChar c) {
        return isBlank(c) || (c >= QLatin1Char('\n') && c <= QLatin1Char('\r'));
    };
    int begin = 0;
    int end = text.size();
    while (begin < end && isAsciiSpace(text.at(begin)))
        ++begin;
    while (end > begin && isAsciiSpace(text.at(end - 1)))
        --end;
    return text.mid(begin, end - begin);
}

bool isOctalDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('7');
}

int hexValue(QChar c)
{
    const char16_t u = c.unicode();
    if (u >= u'0' && u <= u'9')
        return u - u'0';
    if (u >= u'a' && u <= u'f')
        return u - u'a' + 10;
    if (u >= u'A' && u <= u'F')
        return u - u'A' + 10;
    return -1;
}

// Reads one $'...' body starting after the opening quote; appends the bytes it stands for.
// Returns the index past the closing quote, or -1 when there is none.
int readAnsiCQuoted(const QString &text, int i, QByteArray *bytes)
{
    const int size = text.size();
    while (i < size) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\''))
            return i + 1;
        if (c != QLatin1Char('\\')) {
            int end = i;
            while (end < size && text.at(end) != QLatin1Char('\'') &&
                   text.at(end) != QLatin1Char('\\'))
                ++end;
            *bytes += QStringView(text).mid(i, end - i).toUtf8();
            i = end;
            continue;
        }
        if (++i >= size)
            return -1;
        const QChar e = text.at(i++);
        switch (e.unicode()) {
        case u'a':
            *bytes += '\a';
            break;
        case u'b':
            *bytes += '\b';
            break;
        case u'e':
        case u'E':
            *bytes += '\x1B';
            break;
        case u'f':
            *bytes += '\f';
            break;
        case u'n':
            *bytes += '\n';
            break;
        case u'r':
            *bytes += '\r';
            break;
        case u't':
            *bytes += '\t';
            break;
        case u'v':
            *bytes += '\v';
            break;
        case u'\\':
        case u'\'':
        case u'"':
        case u'?':
            *bytes += char(e.unicode());
            break;
        case u'x': {
            int value = 0;
            int digits = 0;
            for (; digits < 2 && i < size && hexValue(text.at(i)) >= 0; ++digits)
                value = value * 16 + hexValue(text.at(i++));
            if (digits == 0)
                *bytes += "\\x";
            else
                *bytes += char(value);
            break;
        }
        default:
            if (isOctalDigit(e)) {
                // ls writes bytes it cannot print, such as parts of invalid UTF-8, in octal.
                int value = e.unicode() - u'0';
                for (int digits = 1; digits < 3 && i < size && isOctalDigit(text.at(i)); ++digits)
                    value = value * 8 + (text.at(i++).unicode() - u'0');
                *bytes += char(value & 0xFF);
            } else {
                *bytes += '\\';
                *bytes += QString(e).toUtf8();
            }
        }
    }
    return -1;
}

// Reads one shell word made of bare characters, '...', "...", $'...' and backslash escapes,
// starting at `i`; stops at an unquoted blank. Returns the index past the word, or -1 when a
// quote is not closed.
int readWord(const QString &text, int i, QString *word)
{
    const int size = text.size();
    QByteArray bytes;
    while (i < size && !isBlank(text.at(i))) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('\'')) {
            const int close = text.indexOf(QLatin1Char('\''), i + 1);
            if (close < 0)
                return -1;
            bytes += QStringView(text).mid(i + 1, close - i - 1).toUtf8();
            i = close + 1;
        } else if (c == QLatin1Char('"')) {
            ++i;
            QString quoted;
            while (i < size && text.at(i) != QLatin1Char('"')) {
                if (text.at(i) == QLatin1Char('\\') && i + 1 < size &&
                    QStringLiteral("\"\\$`").contains(text.at(i + 1)))
                    ++i;
                quoted += text.at(i++);
            }
            if (i >= size)
                return -1;
            bytes += quoted.toUtf8();
            ++i;
        } else if (c == QLatin1Char('$') && i + 1 < size && text.at(i + 1) == QLatin1Char('\'')) {
            i = readAnsiCQuoted(text, i + 2, &bytes);
            if (i < 0)
                return -1;
        } else if (c == QLatin1Char('\\') && i + 1 < size) {
            bytes += QString(text.at(i + 1)).toUtf8();
            i += 2;
        } else {
            int end = i;
            while (end < size && !isBlank(text.at(end)) &&
                   !QStringLiteral("'\"$\\").contains(text.at(end)))
                ++end;
            if (end == i) // a lone "$" or a trailing backslash
                ++end;
            bytes += QStringView(text).mid(i, end - i).toUtf8();
            i = end;
        }
    }
    // Bytes that are not UTF-8 (ls prints them in octal) are kept, so that the name still
    // names that file.
    *word = QSsh::remoteNameFromBytes(bytes);
    return i;
}

int skipBlanks(const QString &text, int i)
{
    while (i < text.size() && isBlank(text.at(i)))
        ++i;
    return i;
}

// Splits off `count` fields separated by runs of blanks; the rest of the line, from the
// first character after the blanks behind the last field, goes into *rest.
bool splitFields(const QString &line, int count, QStringList *fields, QString *rest)
{
    int i = skipBlanks(line, 0);
    for (int n = 0; n < count; ++n) {
        const int start = i;
        while (i < line.size() && !isBlank(line.at(i)))
            ++i;
        if (i == start || i >= line.size())
            return false;
        fields->append(line.mid(start, i - start));
        i = skipBlanks(line, i);
    }
    *rest = line.mid(i);
    return true;
}

} // namespace

QString cleanOutput(const QString &rawOutput, const QString &prompt)
{
    QString text = rawOutput;

    // The echo and the prompt count only where the shell prints them, at the start of a line:
    // inside a listing line they are part of a name. The last echo is the listing's own.
    const QString echoStart = ControllerShell::listingEchoStart();
    int echo = text.lastIndexOf(echoStart);
    while (echo >= 0 && !ControllerShell::isEchoAt(text, echo, prompt))
        echo = echo > 0 ? text.lastIndexOf(echoStart, echo - 1) : -1;
    if (echo >= 0) {
        const int lineEnd = text.indexOf(QLatin1Char('\n'), echo);
        if (lineEnd >= 0)
            text = text.mid(lineEnd + 1);
    }

    int promptAt = text.lastIndexOf(prompt);
    while (promptAt >= 0 && !ControllerShell::isPromptAt(text, promptAt))
        promptAt = promptAt > 0 ? text.lastIndexOf(prompt, promptAt - 1) : -1;
    if (promptAt >= 0)
        text.truncate(promptAt);

    text = TerminalText::stripControlSequences(text);

    // A line of the listing is never banner text, whatever its name says.
    const QStringList lines = text.split(QLatin1Char('\n'));
    QStringList kept;
    kept.reserve(lines.size());
    for (const QString &line : lines) {
        const QString trimmed = line.trimmed();
        if (isEntryLine(trimmed) || !isBannerLine(trimmed))
            kept.append(line);
    }
    return kept.join(QLatin1Char('\n'));
}

bool isEntryLine(const QString &line)
{
    if (line.size() < 11)
        return false;
    if (!QStringLiteral("-dlcbps").contains(line.at(0)))
        return false;
    for (int i = 1; i < 10; ++i) {
        if (!isModeCharacter(line.at(i)))
            return false;
    }
    int i = 10;
    if (line.at(i) == QLatin1Char('.') || line.at(i) == QLatin1Char('+') ||
        line.at(i) == QLatin1Char('@'))
        ++i;
    return i < line.size() && isBlank(line.at(i));
}

QString unquoteName(const QString &text, bool allowLinkArrow, QString *fileName)
{
    QString first;
    int i = readWord(text, 0, &first);
    if (i == text.size() && i > 0) {
        if (fileName)
            *fileName = first;
        return first;
    }

    if (allowLinkArrow && i > 0) {
        // name -> target, each part quoted on its own.
        const int arrow = skipBlanks(text, i);
        if (QStringView(text).mid(arrow, 2) == QLatin1String("->") && arrow + 2 < text.size() &&
            isBlank(text.at(arrow + 2))) {
            QString target;
            const int end = readWord(text, skipBlanks(text, arrow + 2), &target);
            if (end == text.size()) {
                if (fileName)
                    *fileName = first;
                return first + QLatin1String(" -> ") + target;
            }
        }
    }

    // Not ls's quoting (an ls without a terminal prints names as they are).
    QString name = text;
    if (name.size() >= 2 && name.startsWith(QLatin1Char('\'')) && name.endsWith(QLatin1Char('\'')))
        name = name.mid(1, name.size() - 2);
    name = trimAsciiBlanks(name);
    if (fileName) {
        // Unquoted, a link's own name ends at the first arrow.
        const int arrow = allowLinkArrow ? name.indexOf(QLatin1String(" -> ")) : -1;
        *fileName = arrow > 0 ? name.left(arrow) : name;
    }
    return name;
}

RemoteListing parse(const QString &cleanedOutput)
{
    RemoteListing listing;
    const QStringList parts = cleanedOutput.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    qCDebug(lcListing).noquote() << "解析出的条目数量:" << parts.size();

    for (const QString &part : parts) {
        QString line = trimAsciiBlanks(part);
        line.remove(QLatin1Char('\r'));
        qCDebug(lcListing).noquote() << "处理条目:" << line;
        if (line.isEmpty()) {
            qCDebug(lcListing).noquote() << "跳过空条目";
            continue;
        }
        if (line.startsWith(QLatin1String("total "))) {
            qCDebug(lcListing).noquote() << "跳过特殊条目:" << line;
            continue;
        }
        if (!isEntryLine(line)) {
            if (line.contains(QLatin1String("cannot access")) ||
                line.contains(QLatin1String("No such file or directory")))
                qCDebug(lcListing).noquote() << "跳过错误信息行:" << line;
            else
                qCDebug(lcListing).noquote() << "跳过格式不正确的条目:" << line;
            continue;
        }

        QStringList fields;
        QString rest;
        if (!splitFields(line, 7, &fields, &rest)) {
            qCDebug(lcListing).noquote() << "跳过格式不正确的条目:" << line;
            continue;
        }
        RemoteEntry entry;
        entry.permissions = fields.at(0);
        int dateField = 5;
        entry.size = fields.at(4);
        if (entry.size.endsWith(QLatin1Char(','))) {
            // A device: "major, minor" in place of the size.
            QStringList more;
            QString afterMinor;
            if (!splitFields(rest, 1, &more, &afterMinor)) {
                qCDebug(lcListing).noquote() << "跳过格式不正确的条目:" << line;
                continue;
            }
            entry.size += QLatin1Char(' ') + fields.at(5);
            fields.append(more.constFirst());
            rest = afterMinor;
            dateField = 6;
        }
        entry.modified = fields.at(dateField) + QLatin1Char(' ') + fields.at(dateField + 1);
        entry.name =
            unquoteName(rest, entry.permissions.startsWith(QLatin1Char('l')), &entry.fileName);
        qCDebug(lcListing).noquote() << "解析文件名:" << entry.name << "原始条目:" << line;

        // No file name holds a slash: such a line is a command's echo broken up by the
        // terminal, and its "name" would lead to another file.
        if (entry.fileName.contains(QLatin1Char('/'))) {
            qCDebug(lcListing).noquote() << "跳过格式不正确的条目:" << line;
            continue;
        }
        if (entry.name.isEmpty() || entry.name == QLatin1String(".") ||
            entry.name == QLatin1String("..")) {
            qCDebug(lcListing).noquote() << "跳过特殊条目:" << line;
            continue;
        }
        if (entry.isFolder()) {
            qCDebug(lcListing).noquote() << "添加文件夹:" << entry.name;
            listing.folders.append(entry);
        } else {
            qCDebug(lcListing).noquote() << "添加文件:" << entry.name;
            listing.files.append(entry);
        }
    }

    const auto newestFirst = [](const RemoteEntry &a, const RemoteEntry &b) {
        return a.modified > b.modified;
    };
    std::stable_sort(listing.folders.begin(), listing.folders.end(), newestFirst);
    std::stable_sort(listing.files.begin(), listing.files.end(), newestFirst);
    return listing;
}

} // namespace ListingParser
