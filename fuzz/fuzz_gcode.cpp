// The G-code interpreter on any file. Beyond not crashing and no undefined behaviour: one
// line start for each line, in order; every move and note on an existing line, moves in line
// order; every coordinate, length and time finite, so that the plot and the summary can show
// them; no more notes than the cap.
#include "FuzzCheck.h"
#include "GcodeInterpreter.h"

#include <cmath>

namespace {

bool finite(const Vec3 &p)
{
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray program(reinterpret_cast<const char *>(data), int(size));
    const Toolpath path = GcodeInterpreter::interpret(program);
    const QString detail = shown(QString::fromLatin1(program));

    FUZZ_CHECK(path.lineCount() == program.count('\n') + (program.endsWith('\n') ? 0 : 1), detail);
    for (int i = 1; i < path.lineCount(); ++i)
        FUZZ_CHECK(path.lineStarts[i] > path.lineStarts[i - 1] &&
                       program.at(int(path.lineStarts[i]) - 1) == '\n',
                   detail);
    int line = 0;
    std::size_t arcs = 0;
    for (std::size_t i = 0; i < path.moves.size(); ++i) {
        const Move &move = path.moves[i];
        FUZZ_CHECK(move.line() >= line && move.line() < path.lineCount(), detail);
        FUZZ_CHECK(finite(move.end()), detail);
        if (move.isArc()) {
            const ArcCenter &arc = path.arcOf(i);
            FUZZ_CHECK(arc.move == i && finite(arc.center()) && std::isfinite(arc.sweep), detail);
            ++arcs;
        }
        line = move.line();
    }
    FUZZ_CHECK(arcs == path.arcs.size(), detail);
    for (const Note &note : path.notes)
        FUZZ_CHECK(note.line >= 0 && note.line < path.lineCount() && std::isfinite(note.a) &&
                       std::isfinite(note.b),
                   detail);
    FUZZ_CHECK(path.notes.size() <= GcodeInterpreter::kMaxNotes, detail);
    FUZZ_CHECK(path.allBox.isEmpty() || (finite(path.allBox.min) && finite(path.allBox.max)),
               detail);
    FUZZ_CHECK(std::isfinite(path.feedLength) && path.feedLength >= 0 &&
                   std::isfinite(path.rapidLength) && path.rapidLength >= 0 &&
                   std::isfinite(path.feedMinutes) && path.feedMinutes >= 0 &&
                   std::isfinite(path.machineSeconds) && path.machineSeconds >= 0 &&
                   std::isfinite(path.dwellSeconds),
               detail);
    FUZZ_CHECK(!path.binary || path.moves.empty(), detail);
    return 0;
}
