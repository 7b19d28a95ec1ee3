#include "GcodeNotes.h"

void GcodeNotes::add(Note::Kind kind, const QString &code, double a, double b)
{
    if (m_out.notes.size() >= kMaxNotes) {
        ++m_out.notesLeftOut;
        return;
    }
    Note note;
    note.line = m_line;
    note.kind = kind;
    note.code = code;
    note.a = a;
    note.b = b;
    m_out.notes.append(note);
}

void GcodeNotes::addOnce(Note::Kind kind, const QString &code)
{
    const QString key = QString::number(int(kind)) + QLatin1Char(':') + code;
    const auto found = m_onceNotes.constFind(key);
    if (found != m_onceNotes.constEnd()) {
        ++m_out.notes[*found].count;
        return;
    }
    if (m_out.notes.size() < kMaxNotes)
        m_onceNotes.insert(key, m_out.notes.size());
    add(kind, code);
}
