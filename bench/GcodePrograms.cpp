#include "GcodePrograms.h"

#include <QRandomGenerator>

#include <cmath>

namespace Bench {

QByteArray generatedProgram(int lines)
{
    QRandomGenerator random(14);
    const auto coordinate = [&random](double lo, double hi) {
        return QByteArray::number(lo + random.generateDouble() * (hi - lo), 'f', 3);
    };
    QByteArray program;
    program.reserve(lines * 32);
    program += "G21 G90 G17\n";
    double x = 0;
    double y = 0;
    for (int line = 1; line < lines; ++line) {
        const int kind = int(random.bounded(100));
        if (kind < 40) {
            x = std::round(random.generateDouble() * 200000) / 1000;
            y = std::round(random.generateDouble() * 100000) / 1000;
            program += "G1 X" + QByteArray::number(x, 'f', 3) + " Y" +
                       QByteArray::number(y, 'f', 3) + " Z-" + coordinate(0, 3).left(4) + " F800\n";
        } else if (kind < 70) {
            x = std::round(random.generateDouble() * 200000) / 1000;
            y = std::round(random.generateDouble() * 100000) / 1000;
            program += "G0 X" + QByteArray::number(x, 'f', 3) + " Y" +
                       QByteArray::number(y, 'f', 3) + " Z5.\n";
        } else if (kind < 90) {
            // An arc that ends on its circle: centre I, J from here, end a quarter turn on.
            const double i = std::round((random.generateDouble() * 20 - 10) * 1000) / 1000;
            const double j = std::round((random.generateDouble() * 20 - 10) * 1000) / 1000;
            const double cx = x + i;
            const double cy = y + j;
            const double endX = std::round((cx - j) * 1000) / 1000;
            const double endY = std::round((cy + i) * 1000) / 1000;
            program += (kind < 80 ? "G2 X" : "G3 X") + QByteArray::number(endX, 'f', 3) + " Y" +
                       QByteArray::number(endY, 'f', 3) + " I" + QByteArray::number(i, 'f', 3) +
                       " J" + QByteArray::number(j, 'f', 3) + "\n";
            x = endX;
            y = endY;
        } else if (kind < 94) {
            program += "(pass " + QByteArray::number(line) + ")\n";
        } else if (kind < 97) {
            program += "M3 S" + QByteArray::number(8000 + random.bounded(8) * 1000) + "\n";
        } else {
            program += "T" + QByteArray::number(random.bounded(1, 9)) + " M6\n";
        }
    }
    return program;
}

QByteArray helicalArcsProgram()
{
    return QByteArray("G2 X0 Y0 I5 J0 P1000\n").repeated(1000);
}

QByteArray shortMovesProgram(int bytes)
{
    static const char kSteps[] = "X1\nY1\nX-1\nY1\n";
    QByteArray program("G91 G1 F1000\n");
    program.reserve(bytes);
    while (program.size() + int(sizeof kSteps) - 1 <= bytes)
        program += kSteps;
    return program;
}

} // namespace Bench
