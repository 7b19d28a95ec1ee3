#pragma once

#include "MachineProfile.h"

// How long a machine takes over a program's moves, added up move by move as the program is
// read. Each move runs a trapezoid: it speeds up with the machine's acceleration, keeps its
// speed, and slows down into the next move. Every move starts and ends at rest unless the
// profile gives a speed kept through junctions; then a move enters the next at no more than
// that speed, no more than either move's own speed, and no faster than it can reach or the next
// move can stop from within their lengths. Without an acceleration every move runs at its
// speed all along. Rapids count only with the machine's rapid rate.
class RunTimeEstimate
{
public:
    explicit RunTimeEstimate(const MachineProfile &machine);

    // A feed move of length millimetres at mmPerMinute, the machine's fastest at most.
    void addFeed(double length, double mmPerMinute);
    void addRapid(double length);
    // The machine stops: a dwell, a move without a known rate, the program's end.
    void stop();
    double seconds();

private:
    // Ends the move held back, entering the next one at exitSpeed (mm/s).
    void finishPending(double exitSpeed);
    void add(double length, double speed);

    double m_acceleration = 0; // mm/s², 0 when unknown
    double m_junctionSpeed = 0;
    double m_maxFeed = 0;   // mm/s, 0 when unknown
    double m_rapidRate = 0; // mm/s, 0 when unknown
    double m_seconds = 0;
    // The last move, held until the next one tells how fast it may leave it.
    double m_pendingLength = 0;
    double m_pendingSpeed = 0;
    double m_entrySpeed = 0;
};
