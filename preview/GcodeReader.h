#pragma once

#include "GcodeBlock.h"
#include "Toolpath.h"

#include <unordered_map>
#include <utility>
#include <vector>

class GcodeNotes;

// Reads the lines of a program into blocks of words: comments, block delete, program numbers,
// numbers with blanks inside, parameters and the expressions that use them. What it cannot
// read it notes, with an excerpt of the line.
class GcodeReader
{
public:
    static constexpr int kParameterCount = 10000; // #0 .. #9999

    enum class Line {
        Nothing,     // blank, only a comment, or skipped by block delete
        PercentMark, // "%", which starts and ends a program
        Unreadable,
        Words,
    };

    explicit GcodeReader(GcodeNotes &notes);

    // Reads the line from p to end (without its newline) into block.
    Line read(const char *p, const char *end, GcodeBlock &block);
    bool setsParameters() const { return !m_pendingAssignments.empty(); }
    // Parameters set on a line take effect after the whole line has been carried out.
    void applyAssignments();

private:
    // Each returns false after noting what it could not read.
    bool readBlock(const char *p, const char *end, GcodeBlock &block);
    // p is just after the word's letter.
    bool readValue(const char *&p, const char *end, double &value, bool &hasPoint);
    bool readExpression(const char *&p, const char *end, double &value, int depth);
    bool readTerm(const char *&p, const char *end, double &value, int depth);
    bool readFactor(const char *&p, const char *end, double &value, int depth);
    bool readParameter(const char *&p, const char *end, int &index, int depth);
    bool failRead(Note::Kind kind, const char *at, const char *end);

    GcodeNotes &m_notes;
    // Only the parameters the program sets: most set none, and room for all 10,000 would weigh
    // more than a short program's whole toolpath. One never set reads 0.
    std::unordered_map<int, double> m_parameters;
    std::vector<std::pair<int, double>> m_pendingAssignments;
};
