#pragma once

#include <QByteArray>

// The G-code programs the preview's benchmarks read, made here so that every run reads the
// same ones.
namespace Bench {

// lines lines in the mix of a real job: 40 % feed moves, 30 % rapids, 20 % quarter arcs, 10 %
// comments, M and T words; about 27.5 bytes a line.
QByteArray generatedProgram(int lines);
// 1,000 full circles of 1,000 turns each (G2 X0 Y0 I5 J0 P1000), 22 KB.
QByteArray helicalArcsProgram();
// bytes of the shortest moves a program can hold (X1, Y1, X-1, Y1 ... in G91), the most moves
// and lines a byte of program can make.
QByteArray shortMovesProgram(int bytes);

} // namespace Bench
