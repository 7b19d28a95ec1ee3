#pragma once

#include "GcodeNotes.h"
#include "MachineProfile.h"
#include "Toolpath.h"

#include <QByteArray>

#include <atomic>

// Reads a milling program in the common dialect of grbl, LinuxCNC and Fanuc-style controls
// and gives its toolpath. No widgets, no threads: the preview runs it in a worker thread.
// Splits the program into lines, which GcodeReader reads and GcodeExecutor carries out.
//
// Assumptions, each shown to the operator by the summary or a note: the tool starts at
// X0 Y0 Z0; every work offset (G54..G59) is the same frame and G53 moves are drawn in it;
// G28/G30 reference points are at 0; a number without a decimal point is whole units;
// millimetres until a G20 (inches on a machine that runs in inches); dwells (G4 P) are in
// seconds; "/" lines are skipped. A machine's profile adds the check of its travel and the run
// time on it.
class GcodeInterpreter
{
public:
    static constexpr int kMaxNotes = GcodeNotes::kMaxNotes;

    // Interprets program (at most 4 GiB; moves are drawn up to its 2^27th line) for machine.
    // When cancel is given and becomes true the work stops early and the result says so.
    static Toolpath interpret(const QByteArray &program, const std::atomic<bool> *cancel = nullptr,
                              const MachineProfile &machine = MachineProfile());
};
