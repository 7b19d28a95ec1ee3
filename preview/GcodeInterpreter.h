#pragma once

#include "Toolpath.h"

#include <QByteArray>
#include <QHash>

#include <atomic>
#include <vector>

// Reads a milling program in the common dialect of grbl, LinuxCNC and Fanuc-style controls
// and gives its toolpath. No widgets, no threads: the preview runs it in a worker thread.
//
// Assumptions, each shown to the operator by the summary or a note: the tool starts at
// X0 Y0 Z0; every work offset (G54..G59) is the same frame and G53 moves are drawn in it;
// G28/G30 reference points are at 0; a number without a decimal point is whole units;
// millimetres until a G20; dwells (G4 P) are in seconds; "/" lines are skipped.
class GcodeInterpreter
{
public:
    static constexpr int kMaxNotes = 1000;
    static constexpr int kParameterCount = 10000; // #0 .. #9999

    // Interprets program (at most 4 GiB). When cancel is given and becomes true the work
    // stops early and the result says so.
    static Toolpath interpret(const QByteArray &program, const std::atomic<bool> *cancel = nullptr);

private:
    struct Block;

    explicit GcodeInterpreter(Toolpath &out);
    void run(const char *data, std::size_t size, const std::atomic<bool> *cancel);
    void interpretLine(const char *p, const char *end);

    // Reading: each returns false after noting what it could not read.
    bool readBlock(const char *p, const char *end, Block &block);
    // p is just after the word's letter.
    bool readValue(const char *&p, const char *end, double &value, bool &hasPoint);
    bool readExpression(const char *&p, const char *end, double &value, int depth);
    bool readTerm(const char *&p, const char *end, double &value, int depth);
    bool readFactor(const char *&p, const char *end, double &value, int depth);
    bool readParameter(const char *&p, const char *end, int &index, int depth);
    bool failRead(Note::Kind kind, const char *at, const char *end);

    // Carrying out.
    void execute(const Block &block);
    bool setModes(const Block &block, int &motion, int &nonModal);
    void moveTo(const Block &block, int motion, bool machineFrame);
    void referenceReturn(const Block &block, int code);
    void arcTo(const Block &block, const Vec3 &target, bool clockwise);
    void addLine(const Vec3 &target, MotionKind kind);
    void addMove(const Move &move, double length);
    Vec3 target(const Block &block, bool absolute) const;

    void addNote(Note::Kind kind, const QString &code = QString(), double a = 0, double b = 0);
    // Notes that say the same thing for every line are given once, with a count.
    void addNoteOnce(Note::Kind kind, const QString &code);

    Toolpath &m_out;
    int m_line = 0;
    Vec3 m_position;
    int m_motion = -1; // modal motion as G code times ten; -1 before the first
    Plane m_plane = Plane::XY;
    double m_scale = 1.0; // millimetres per program unit
    bool m_absolute = true;
    bool m_arcCentersAbsolute = false;
    int m_feedMode = 940; // G93, G94 or G95, times ten
    double m_feed = 0;    // program units per minute (G94), 1/minutes (G93), per turn (G95)
    double m_spindle = 0;
    int m_workOffset = 540;
    int m_percentMarks = 0;
    bool m_ended = false;
    std::vector<double> m_parameters;
    std::vector<std::pair<int, double>> m_pendingAssignments;
    QHash<QString, int> m_onceNotes;
};
