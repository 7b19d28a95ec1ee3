#include "ShellQuoting.h"

QString escapeForDoubleQuotes(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size() + 8);
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'"':
        case u'\\':
        case u'$':
        case u'`':
            escaped += QLatin1Char('\\');
            escaped += c;
            break;
        case u'!':
            escaped += QLatin1String("\"'!'\"");
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}
