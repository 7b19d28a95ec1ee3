#include "ShellQuoting.h"

#include "RemoteFileName.h"

namespace {

bool isPrintableAscii(uchar byte)
{
    return byte >= 0x20 && byte <= 0x7E;
}

} // namespace

QString escapeForDoubleQuotes(const QString &text)
{
    const QByteArray bytes = QSsh::remoteNameToBytes(text);
    QString escaped;
    escaped.reserve(bytes.size() + 8);
    for (int i = 0; i < bytes.size(); ++i) {
        const uchar byte = uchar(bytes.at(i));
        if (!isPrintableAscii(byte)) {
            // One $'...' word for the whole run of such bytes.
            escaped += QLatin1String("\"$'");
            for (; i < bytes.size() && !isPrintableAscii(uchar(bytes.at(i))); ++i) {
                const uchar b = uchar(bytes.at(i));
                escaped += QLatin1Char('\\');
                escaped += QLatin1Char(char('0' + (b >> 6)));
                escaped += QLatin1Char(char('0' + ((b >> 3) & 7)));
                escaped += QLatin1Char(char('0' + (b & 7)));
            }
            escaped += QLatin1String("'\"");
            --i;
            continue;
        }
        switch (byte) {
        case '"':
        case '\\':
        case '$':
        case '`':
            escaped += QLatin1Char('\\');
            escaped += QLatin1Char(char(byte));
            break;
        case '!':
            escaped += QLatin1String("\"'!'\"");
            break;
        default:
            escaped += QLatin1Char(char(byte));
        }
    }
    return escaped;
}
