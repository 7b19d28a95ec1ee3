#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QTextDocument;
class QWidget;

// The main window's operation log, its lines numbered from the first one ever written: the
// window keeps only its newest lines, so a number stays with its line when older ones go.
class OperationLog
{
public:
    explicit OperationLog(const QWidget &window);

    int count() const; // lines written so far
    // The line without its "hh:mm:ss - " prefix; empty once the window has dropped it.
    QString text(int line) const;
    QStringList since(int mark) const;
    // The first line from `from` on that matches, or -1.
    int find(int from, const std::function<bool(const QString &)> &match) const;
    int find(int from, const QString &text) const;
    int findStart(int from, const QString &start) const; // a line that begins so

private:
    QTextDocument *const m_document;
};
