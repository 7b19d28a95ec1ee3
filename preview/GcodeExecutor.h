#pragma once

#include "GcodeBlock.h"
#include "MachineProfile.h"
#include "RunTimeEstimate.h"
#include "Toolpath.h"

class GcodeNotes;

// Carries out the blocks of a program on a modelled machine and adds the moves they make to a
// toolpath: the modal state (motion, plane, units, distance and feed modes, work offset), lines,
// arcs, reference returns, and the program's end. For a known machine it also checks each move
// against the machine's travel and times it on the machine.
class GcodeExecutor
{
public:
    GcodeExecutor(Toolpath &out, GcodeNotes &notes, const MachineProfile &machine);

    void execute(const GcodeBlock &block);
    // After M2 or M30, or the program's closing "%": nothing more is carried out.
    bool ended() const { return m_ended; }
    void end() { m_ended = true; }
    // Writes the run time on the machine into the toolpath; call once, at the end.
    void finish();

private:
    bool setModes(const GcodeBlock &block, int &motion, int &nonModal);
    void moveTo(const GcodeBlock &block, int motion, bool machineFrame);
    void referenceReturn(const GcodeBlock &block, int code);
    void arcTo(const GcodeBlock &block, const Vec3 &target, bool clockwise);
    void addLine(const Vec3 &target, MotionKind kind);
    void addMove(Move move, const Vec3 &end, double length, const Box &reach);
    void checkTravel(Move &move, const Box &reach);
    Vec3 target(const GcodeBlock &block, bool absolute) const;

    Toolpath &m_out;
    GcodeNotes &m_notes;
    const MachineProfile m_machine;
    RunTimeEstimate m_runTime{m_machine};
    int m_lastLineOutside = -1;
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
    bool m_ended = false;
};
