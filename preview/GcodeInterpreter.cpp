#include "GcodeInterpreter.h"

#include "GcodeExecutor.h"
#include "GcodeReader.h"

#include <algorithm>
#include <cstring>

namespace {

// One interpretation: the lines of the program, each read, then carried out.
class Interpretation
{
public:
    Interpretation(Toolpath &out, const MachineProfile &machine)
        : m_out(out), m_executor(out, m_notes, machine)
    {}
    void run(const char *data, std::size_t size, const std::atomic<bool> *cancel);

private:
    void interpretLine(const char *p, const char *end);

    Toolpath &m_out;
    GcodeNotes m_notes{m_out};
    GcodeReader m_reader{m_notes};
    GcodeExecutor m_executor;
    int m_percentMarks = 0;
};

void Interpretation::run(const char *data, std::size_t size, const std::atomic<bool> *cancel)
{
    const char *const end = data + size;

    // Text holds next to no control characters; anything else is not a program, and reading
    // it as one would only give noise. A stray zero byte is not enough: pstoedit, for one,
    // writes one into the comment of its first line.
    const std::size_t sample = std::min<std::size_t>(size, 64 * 1024);
    std::size_t controls = 0;
    for (std::size_t i = 0; i < sample; ++i) {
        const unsigned char c = static_cast<unsigned char>(data[i]);
        if (c < 0x20 && c != '\n' && c != '\t' && c != '\r' && c != '\f' && c != '\v' && c != 0x1a)
            ++controls;
    }
    m_out.binary = controls * 100 > sample;

    // One offset per line: counting them first spares the vector its growth.
    std::size_t lines = 1;
    for (const char *p = data;
         (p = static_cast<const char *>(std::memchr(p, '\n', std::size_t(end - p)))); ++p)
        ++lines;
    m_out.lineStarts.reserve(lines);

    const char *p = data;
    while (p < end || m_out.lineStarts.empty()) {
        const char *lineEnd = static_cast<const char *>(std::memchr(p, '\n', std::size_t(end - p)));
        if (!lineEnd)
            lineEnd = end;
        const int line = int(m_out.lineStarts.size());
        m_notes.setLine(line);
        m_out.lineStarts.push_back(std::uint32_t(p - data));
        // A move keeps its line in 27 bits: what lies beyond is counted, not carried out.
        if (line > Move::kMaxLine)
            m_executor.end();
        if (!m_out.binary && !m_executor.ended())
            interpretLine(p, lineEnd);
        if (lineEnd == end)
            break;
        p = lineEnd + 1;
        if (cancel && (line & 0xffff) == 0 && cancel->load(std::memory_order_relaxed)) {
            m_out.cancelled = true;
            return;
        }
    }
    m_executor.finish();
}

void Interpretation::interpretLine(const char *p, const char *end)
{
    GcodeBlock block;
    switch (m_reader.read(p, end, block)) {
    case GcodeReader::Line::Nothing:
        return;
    case GcodeReader::Line::PercentMark:
        // The second mark ends the program; what follows is not read.
        if (++m_percentMarks == 2 && m_out.codeLines > 0)
            m_executor.end();
        return;
    case GcodeReader::Line::Unreadable:
        ++m_out.codeLines;
        ++m_out.unreadableLines;
        return;
    case GcodeReader::Line::Words:
        if (block.present || block.gCount || block.mCount || m_reader.setsParameters() ||
            block.skip)
            ++m_out.codeLines;
        if (!block.skip)
            m_executor.execute(block);
        m_reader.applyAssignments();
        return;
    }
}

} // namespace

Toolpath GcodeInterpreter::interpret(const QByteArray &program, const std::atomic<bool> *cancel,
                                     const MachineProfile &machine)
{
    Toolpath toolpath;
    Interpretation(toolpath, machine).run(program.constData(), std::size_t(program.size()), cancel);
    return toolpath;
}
