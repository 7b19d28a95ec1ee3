#include "OperationLog.h"

#include <QPlainTextEdit>
#include <QTextBlock>

OperationLog::OperationLog(const QWidget &window)
    : m_document(window.findChild<QPlainTextEdit *>(QStringLiteral("m_logEdit"))->document())
{}

// Each block carries its number as its user state, given when it is first counted.
int OperationLog::count() const
{
    if (m_document->isEmpty())
        return 0;
    QTextBlock block = m_document->lastBlock();
    while (block.previous().isValid() && block.previous().userState() < 0)
        block = block.previous();
    int number = block.userState() >= 0       ? block.userState()
                 : block.previous().isValid() ? block.previous().userState() + 1
                                              : 0;
    for (; block.isValid(); block = block.next())
        block.setUserState(number++);
    return m_document->lastBlock().userState() + 1;
}

QString OperationLog::text(int line) const
{
    const int first = m_document->firstBlock().userState();
    return m_document->findBlockByNumber(line - qMax(0, first)).text().mid(11);
}

QStringList OperationLog::since(int mark) const
{
    QStringList lines;
    for (int line = qMax(0, mark), end = count(); line < end; ++line)
        lines << text(line);
    return lines;
}

int OperationLog::find(int from, const std::function<bool(const QString &)> &match) const
{
    for (int line = qMax(0, from), end = count(); line < end; ++line) {
        if (match(text(line)))
            return line;
    }
    return -1;
}

int OperationLog::find(int from, const QString &text) const
{
    return find(from, [&](const QString &line) { return line == text; });
}

int OperationLog::findStart(int from, const QString &start) const
{
    return find(from, [&](const QString &line) { return line.startsWith(start); });
}
