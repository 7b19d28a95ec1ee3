#pragma once

#include "Toolpath.h"

#include <QHash>
#include <QString>

// The notes of one interpretation, each on the line being interpreted, written into its
// toolpath: the reader's and the executor's alike.
class GcodeNotes
{
public:
    static constexpr int kMaxNotes = 1000;

    explicit GcodeNotes(Toolpath &out) : m_out(out) {}

    int line() const { return m_line; }
    void setLine(int line) { m_line = line; }

    void add(Note::Kind kind, const QString &code = QString(), double a = 0, double b = 0);
    // Notes that say the same thing for every line are given once, with a count.
    void addOnce(Note::Kind kind, const QString &code);

private:
    Toolpath &m_out;
    int m_line = 0;
    QHash<QString, int> m_onceNotes;
};
