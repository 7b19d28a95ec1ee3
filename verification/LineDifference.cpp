#include "LineDifference.h"

#include <QTextCodec>

namespace {

// The line that starts at `start`, without its '\n'; null where the text has ended.
QString lineAt(const QByteArray &text, int start)
{
    if (start >= text.size())
        return QString();
    const int end = text.indexOf('\n', start);
    const QByteArray line = text.mid(start, (end < 0 ? text.size() : end) - start);
    return line.isEmpty() ? QLatin1String("") : QString::fromUtf8(line);
}

} // namespace

LineDifference LineDifference::between(const QByteArray &first, const QByteArray &second)
{
    LineDifference difference;
    if (first == second)
        return difference;
    int start = 0;
    int line = 1;
    const int common = qMin(first.size(), second.size());
    for (int i = 0; i < common && first.at(i) == second.at(i); ++i) {
        if (first.at(i) == '\n') {
            start = i + 1;
            ++line;
        }
    }
    difference.line = line;
    difference.first = lineAt(first, start);
    difference.second = lineAt(second, start);
    return difference;
}

bool LineDifference::isText(const QByteArray &data)
{
    if (data.contains('\0'))
        return false;
    QTextCodec::ConverterState state;
    QTextCodec::codecForMib(106)->toUnicode(data.constData(), data.size(), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}
