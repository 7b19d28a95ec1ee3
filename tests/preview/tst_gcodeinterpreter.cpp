// The G-code interpreter on small programs, each with the moves, boxes and notes it must give;
// against a machine's travel and timed on it; on a program that pstoedit writes from a
// PostScript drawing; and on input that is no program.
#include "ChunkedList.h"
#include "GcodeInterpreter.h"

#include <QtTest>

namespace {

QString number(double value)
{
    QString text = QString::number(value, 'f', 3);
    while (text.contains(QLatin1Char('.')) &&
           (text.endsWith(QLatin1Char('0')) || text.endsWith(QLatin1Char('.'))))
        text.chop(1);
    return text == QLatin1String("-0") ? QStringLiteral("0") : text;
}

QString point(const Vec3 &p)
{
    return number(p.x) + QLatin1Char(',') + number(p.y) + QLatin1Char(',') + number(p.z);
}

// "R10,0,0 F20,0,0 CW0,10,0@5,5,0": kind, end, and for arcs the centre.
QString moves(const Toolpath &path)
{
    static const char *const kinds[] = {"R", "F", "CW", "CCW"};
    QStringList out;
    for (std::size_t i = 0; i < path.moves.size(); ++i) {
        const Move &move = path.moves[i];
        QString text = QLatin1String(kinds[int(move.kind())]) + point(move.end());
        if (move.isArc())
            text += QLatin1Char('@') + point(path.arcOf(i).center());
        out << text;
    }
    return out.join(QLatin1Char(' '));
}

QString box(const Box &b)
{
    return b.isEmpty() ? QStringLiteral("empty") : point(b.min) + QLatin1Char(' ') + point(b.max);
}

// "2:NotDrawn:G81 5:AxisNotDrawn:Ax2": line (from 1), kind, code, count when above one.
QString notes(const Toolpath &path)
{
    static const char *const kinds[] = {
        "NotDrawn",       "NotFollowed", "AxisNotDrawn", "WorkOffset",    "MachineFrame",
        "Reference",      "BlockDelete", "Unreadable",   "BadExpression", "BadParameter",
        "RadiusTooSmall", "OffCircle",   "NoCenter",     "NoMotionMode",  "Outside"};
    QStringList out;
    for (const Note &note : path.notes) {
        QString text = QString::number(note.line + 1) + QLatin1Char(':') +
                       QLatin1String(kinds[int(note.kind)]);
        if (!note.code.isEmpty())
            text += QLatin1Char(':') + note.code;
        if (note.count > 1)
            text += QLatin1Char('x') + QString::number(note.count);
        out << text;
    }
    return out.join(QLatin1Char(' '));
}

} // namespace

class TestGcodeInterpreter : public QObject
{
    Q_OBJECT
private slots:
    void programs_data();
    void programs();
    void machineTravel_data();
    void machineTravel();
    void runTime_data();
    void runTime();
    void pstoeditDrawingKeepsItsBoundingBox();
    void inputThatIsNoProgram();
    void movesKeptAcrossChunks();
};

void TestGcodeInterpreter::programs_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<QString>("expectedMoves");
    QTest::addColumn<QString>("feedBox");
    QTest::addColumn<QString>("allBox");
    QTest::addColumn<QString>("expectedNotes");
    const struct
    {
        const char *tag;
        QString program, moves, feedBox, allBox, notes;
    } rows[] = {
        {"modal motion, incremental",
         "G21 G90\nG0 X10 Y0\nG1 X20 F100\nY10\nG91 X-5 Y-5\nG90 G0 Z5",
         "R10,0,0 F20,0,0 F20,10,0 F15,5,0 R15,5,5", "10,0,0 20,10,0", "0,0,0 20,10,5", ""},
        {"comments, case, blanks, N, block delete, % marks",
         "%\nO1000 (PART)\nN10 g0 x 1 0 (go) y5 ; X99\n/G1 X100\nn20 G1X20Y5F100\n(open\n%\nG1 "
         "X500",
         "R10,5,0 F20,5,0", "10,5,0 20,5,0", "0,0,0 20,5,0", "4:BlockDelete"},
        {"inches, whole units", "G20\nG0 X1 Y2\nG1 X3 F10", "R25.4,50.8,0 F76.2,50.8,0",
         "25.4,50.8,0 76.2,50.8,0", "0,0,0 76.2,50.8,0", ""},
        // Clockwise from 0 to 180 degrees passes 270: the box reaches y -10, not only the ends.
        {"G2 with I J, half circle below", "G0 X10\nG2 X-10 I-10 J0 F100",
         "R10,0,0 CW-10,0,0@0,0,0", "-10,-10,0 10,0,0", "-10,-10,0 10,0,0", ""},
        {"G3 with R, short arc", "G3 X10 Y0 R10 F1", "CCW10,0,0@5,8.66,0", "0,-1.34,0 10,0,0",
         "0,-1.34,0 10,0,0", ""},
        {"G2 with negative R, the long way round", "G2 X10 Y0 R-10 F1", "CW10,0,0@5,8.66,0",
         "-5,0,0 15,18.66,0", "-5,0,0 15,18.66,0", ""},
        {"full circle", "G0 X10\nG2 X10 Y0 I-10 J0 F1", "R10,0,0 CW10,0,0@0,0,0",
         "-10,-10,0 10,10,0", "-10,-10,0 10,10,0", ""},
        {"helix of two turns", "G0 X10\nG3 I-10 Z-3 P2 F1", "R10,0,0 CCW10,0,-3@0,0,0",
         "-10,-10,-3 10,10,0", "-10,-10,-3 10,10,0", ""},
        // G18 is seen from +Y: Z to the right, X up. Clockwise from Z10 to X10 is 270 degrees.
        {"G18 plane", "G18 G0 Z10\nG2 X10 Z0 I0 K-10 F1", "R0,0,10 CW10,0,0@0,0,0",
         "-10,0,-10 10,0,10", "-10,0,-10 10,0,10", ""},
        {"G19 plane, G90.1 absolute centre", "G19 G90.1 G0 Y10\nG3 Y0 Z10 J0 K0 F1",
         "R0,10,0 CCW0,0,10@0,0,0", "0,0,0 0,10,10", "0,0,0 0,10,10", ""},
        {"parameters and bracketed arithmetic",
         "#1003 = 0.5\n#1 = [#1003*4]\nG1 X[#1003*10] Y#1 Z[1+2*3-[4/2]] F100\n#2=1\n#2=3 G0 X#2\n"
         "G0 X-[#2] Y#[#1-1]",
         "F5,2,5 R1,2,5 R-3,2,5", "0,0,0 5,2,5", "-3,0,0 5,2,5", ""},
        {"G28 draws the words and then home, G53, work offsets",
         "G0 X10 Y10 Z5\nG28 Z10\nG91 G53 G0 X1\nG55 G90 G1 X2 F1\nG54\nG55",
         "R10,10,5 R10,10,10 R10,10,0 R1,10,0 F2,10,0", "1,10,0 2,10,0", "0,0,0 10,10,10",
         "2:Reference:G28 3:MachineFrame 4:WorkOffset:G55x2 5:WorkOffset:G54"},
        {"codes not drawn",
         "G81 X5 Y5 Z-2 R1\nX10\nG80\nG41 D1 G1 X20 F1\nM8\nM64 P1\nM64\nA90\nM98 P100\n"
         "o100 sub\nG92 X0",
         "R5,5,0 R10,5,0 F20,5,0", "10,5,0 20,5,0", "0,0,0 20,5,0",
         "1:NotDrawn:G81 2:NotDrawn:G81 4:NotDrawn:G41 6:NotDrawn:M64x2 8:AxisNotDrawn:A "
         "9:NotFollowed:M98 10:NotFollowed:o100 sub 11:NotDrawn:G92"},
        {"end of program", "G0 X1\nM30\nG0 X2", "R1,0,0", "empty", "0,0,0 1,0,0", ""},
        // The arc that cannot be is left out; the next move starts at its end all the same.
        {"arc radius does not fit its end point", "G2 X10 Y0 R2 F1\nG1 X20\nG2 X30 R4.9999999",
         "F20,0,0 CW30,0,0@25,0,0", "10,0,0 30,5,0", "10,0,0 30,5,0", "1:RadiusTooSmall"},
        {"arc end off its circle, arcs without centre",
         "G0 X10\nG2 X0 Y5 I-10 F1\nG2 X5 Y5\nG3 X5 Y5 R5\nX7", "R10,0,0 CW0,5,0@0,0,0",
         "-6.667,-8.333,0 10,5,0", "-6.667,-8.333,0 10,5,0",
         "2:OffCircle 3:NoCenter 4:NoCenter 5:NoCenter"},
        {"malformed numbers and expressions",
         "G1 X1.2.3 F1\nG1 X-\nG1 XYZ\nG1 X[1+]\nG1 X[SIN[30]]\nG1 X[1/0]\n#<a>=1\n"
         "G1 X[2**3]\nG1 X#10000\nG1 Y1\nX5 E3\nG1 X" +
             QString(40, '[') + "1" + QString(40, ']'),
         "F0,1,0", "0,0,0 0,1,0", "0,0,0 0,1,0",
         "1:Unreadable:.3 F1 2:Unreadable:X- 3:Unreadable:XYZ 4:BadExpression:] "
         "5:BadExpression:SIN[30]] 6:BadExpression:/0] 7:BadParameter:#<a>=1 "
         "8:BadExpression:**3] 9:BadParameter:#10000 11:Unreadable:E3 "
         "12:BadExpression:[[[[[[[1]]]]]]]]…"},
        {"coordinates before any motion mode", "X10", "", "empty", "empty", "1:NoMotionMode"},
    };
    for (const auto &row : rows)
        QTest::newRow(row.tag) << row.program << row.moves << row.feedBox << row.allBox
                               << row.notes;
}

void TestGcodeInterpreter::programs()
{
    QFETCH(QString, program);
    QFETCH(QString, expectedMoves);
    QFETCH(QString, feedBox);
    QFETCH(QString, allBox);
    QFETCH(QString, expectedNotes);
    const Toolpath path = GcodeInterpreter::interpret(program.toUtf8());
    QCOMPARE(moves(path), expectedMoves);
    QCOMPARE(box(path.feedBox), feedBox);
    QCOMPARE(box(path.allBox), allBox);
    QCOMPARE(notes(path), expectedNotes);
    QCOMPARE(path.lineCount(), program.count('\n') + 1);
}

void TestGcodeInterpreter::machineTravel_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<bool>("machineInInch");
    QTest::addColumn<int>("movesOutside");
    QTest::addColumn<QString>("expectedNotes");
    // A machine of X 0..300, Y 0..200, Z -50..10 mm.
    QTest::newRow("inside, up to every limit")
        << "G0 X300 Y200 Z10\nG1 X0 Y0 Z-50 F100" << false << 0 << "";
    // Both ends inside, its top at Y 202.
    QTest::newRow("an arc beyond Y between its ends")
        << "G0 X98 Y190\nG2 X122 Y190 I12 F100" << false << 1 << "2:Outside:Y";
    QTest::newRow("below Z, the way back not listed")
        << "G0 X10 Y10\nG1 Z-51 F100\nG1 Z0\nG1 Z-52\nG1 X20" << false << 3
        << "2:Outside:Z 4:Outside:Z 5:Outside:Z";
    QTest::newRow("inches: 11.8 in fit, 11.9 do not")
        << "G20\nG0 X11.8 Y7.8\nG1 X11.9 F10" << false << 1 << "3:Outside:X";
    QTest::newRow("a machine in inches, no G20")
        << "G0 X11.8\nG0 X11.9" << true << 1 << "2:Outside:X";
    QTest::newRow("a machine in inches, a program in mm") << "G21\nG0 X299 Y199" << true << 0 << "";
}

void TestGcodeInterpreter::machineTravel()
{
    QFETCH(QString, program);
    QFETCH(bool, machineInInch);
    QFETCH(int, movesOutside);
    QFETCH(QString, expectedNotes);
    MachineProfile machine;
    machine.travel[0] = AxisTravel{0, 300};
    machine.travel[1] = AxisTravel{0, 200};
    machine.travel[2] = AxisTravel{-50, 10};
    if (machineInInch)
        machine.units = MachineProfile::Units::Inch;
    const Toolpath path = GcodeInterpreter::interpret(program.toUtf8(), nullptr, machine);
    QCOMPARE(path.movesOutsideTravel, movesOutside);
    QCOMPARE(notes(path), expectedNotes);
    int flagged = 0;
    for (const Move &move : path.moves)
        flagged += move.isOutsideTravel();
    QCOMPARE(flagged, movesOutside);
}

void TestGcodeInterpreter::runTime_data()
{
    QTest::addColumn<QString>("program");
    QTest::addColumn<double>("acceleration"); // mm/s²; 0 unknown, as are the rates below
    QTest::addColumn<double>("rapidRate");    // mm/min
    QTest::addColumn<double>("junctionSpeed");
    QTest::addColumn<double>("maxFeedRate");
    QTest::addColumn<double>("seconds");
    QTest::addColumn<double>("feedOnlySeconds");
    // At F600 (10 mm/s) and 100 mm/s² a move takes 0.1 s and 0.5 mm to reach its feed, and as
    // much to stop.
    QTest::newRow("speeding up, cruising, slowing down")
        << "G1 X10 F600" << 100.0 << 0.0 << 0.0 << 0.0 << 1.1 << 1.0;
    // Too short for its feed: up to sqrt(2 * 100 * 0.25) = 7.071 mm/s and down again.
    QTest::newRow("too short to reach its feed")
        << "G1 X0.5 F600" << 100.0 << 0.0 << 0.0 << 0.0 << 0.141421 << 0.05;
    // 50 mm/s: 0.5 s and 12.5 mm each way, 75 mm at speed.
    QTest::newRow("a rapid at the machine's rate")
        << "G0 X100" << 100.0 << 3000.0 << 0.0 << 0.0 << 2.5 << 0.0;
    QTest::newRow("two moves, at rest between them")
        << "G1 X10 F600\nX20" << 100.0 << 0.0 << 0.0 << 0.0 << 2.2 << 2.0;
    QTest::newRow("two moves, their feed kept through the junction")
        << "G1 X10 F600\nX20" << 100.0 << 0.0 << 600.0 << 0.0 << 2.1 << 2.0;
    QTest::newRow("F above the machine's fastest feed")
        << "G1 X10 F1200" << 100.0 << 0.0 << 0.0 << 600.0 << 1.1 << 0.5;
    QTest::newRow("no acceleration known: rates and a dwell")
        << "G0 X100\nG1 X110 F600\nG4 P2" << 0.0 << 6000.0 << 0.0 << 0.0 << 4.0 << 3.0;
    // 10 pi mm long.
    QTest::newRow("a full circle")
        << "G2 I5 F600" << 100.0 << 0.0 << 0.0 << 0.0 << 3.241593 << 3.141593;
}

void TestGcodeInterpreter::runTime()
{
    QFETCH(QString, program);
    QFETCH(double, acceleration);
    QFETCH(double, rapidRate);
    QFETCH(double, junctionSpeed);
    QFETCH(double, maxFeedRate);
    QFETCH(double, seconds);
    QFETCH(double, feedOnlySeconds);
    MachineProfile machine;
    const auto set = [](std::optional<double> &field, double value) {
        if (value > 0)
            field = value;
    };
    set(machine.acceleration, acceleration);
    set(machine.rapidRate, rapidRate);
    set(machine.junctionSpeed, junctionSpeed);
    set(machine.maxFeedRate, maxFeedRate);
    const Toolpath path = GcodeInterpreter::interpret(program.toUtf8(), nullptr, machine);
    QVERIFY2(std::abs(path.machineSeconds - seconds) < 1e-5,
             qPrintable(number(path.machineSeconds)));
    QVERIFY(std::abs(path.feedMinutes * 60 + path.dwellSeconds - feedOnlySeconds) < 1e-5);
}

// A program no one here wrote: pstoedit's G-code uses LinuxCNC's numbered parameters and
// bracketed arithmetic. What it cuts must cover the drawing's own box, as Ghostscript gives it.
void TestGcodeInterpreter::pstoeditDrawingKeepsItsBoundingBox()
{
    const QString pstoedit = QStandardPaths::findExecutable("pstoedit");
    const QString gs = QStandardPaths::findExecutable("gs");
    QVERIFY2(!pstoedit.isEmpty() && !gs.isEmpty(), "pstoedit and gs are missing (make deps)");
    QTemporaryDir dir;
    // Lines, a full circle, a quarter arc and a Bezier curve, in points, drawn with hairlines
    // so that Ghostscript's box is the path's own.
    QFile ps(dir.filePath("drawing.ps"));
    QVERIFY(ps.open(QIODevice::WriteOnly));
    ps.write("%!PS\n0 setlinewidth\n"
             "newpath 100 120 moveto 300 120 lineto 300 200 lineto stroke\n"
             "newpath 200 300 50 0 360 arc stroke\n"
             "newpath 400 400 30 0 90 arc stroke\n"
             "newpath 120 500 moveto 180 620 260 380 330 520 curveto stroke\nshowpage\n");
    ps.close();
    QProcess process;
    process.start(pstoedit, {"-f", "gcode", ps.fileName(), dir.filePath("part.nc")});
    QVERIFY(process.waitForFinished(60000) && process.exitCode() == 0);
    process.start(gs, {"-q", "-dBATCH", "-dNOPAUSE", "-sDEVICE=bbox", ps.fileName()});
    QVERIFY(process.waitForFinished(60000));
    const QString bbox = QString::fromLatin1(process.readAllStandardError());
    const QRegularExpressionMatch match =
        QRegularExpression("%%HiResBoundingBox: (\\S+) (\\S+) (\\S+) (\\S+)").match(bbox);
    QVERIFY2(match.hasMatch(), qPrintable(bbox));

    QFile nc(dir.filePath("part.nc"));
    QVERIFY(nc.open(QIODevice::ReadOnly));
    const Toolpath path = GcodeInterpreter::interpret(nc.readAll());
    QVERIFY(path.showsInch() && !path.binary && path.moves.size() > 40);
    QCOMPARE(notes(path), QString()); // its G64 P, G4 P, M7 and M9 are all understood
    // The feed moves below the surface are the drawing. pstoedit scales points to inches by
    // 0.0139; the box is compared in points, within its three decimals and gs's resolution.
    Box cut;
    for (std::size_t i = 0; i < path.moves.size(); ++i) {
        if (!path.moves[i].isRapid() && path.startOf(i).z < 0 && path.moves[i].end().z < 0) {
            cut.add(path.startOf(i));
            cut.add(path.moves[i].end());
        }
    }
    const double perMm = 1.0 / (0.0139 * 25.4);
    const double actual[] = {cut.min.x * perMm, cut.min.y * perMm, cut.max.x * perMm,
                             cut.max.y * perMm};
    for (int i = 0; i < 4; ++i)
        QVERIFY2(std::abs(actual[i] - match.captured(i + 1).toDouble()) < 1.0,
                 qPrintable(QString("%1 vs %2").arg(actual[i]).arg(match.captured(i + 1))));
}

void TestGcodeInterpreter::inputThatIsNoProgram()
{
    const Toolpath binary = GcodeInterpreter::interpret(QByteArray("G0 X1\n\x7f"
                                                                   "ELF\0\0\1",
                                                                   12));
    QVERIFY(binary.binary && binary.looksLikeNoGcode() && binary.moves.empty());
    // A zero byte alone makes no binary file: converters such as pstoedit end with one.
    QVERIFY(!GcodeInterpreter::interpret(QByteArray("(pstoedit \0)\n", 13) +
                                         QByteArray("G1 X1 F100\n").repeated(10))
                 .binary);
    const Toolpath text =
        GcodeInterpreter::interpret("Dear operator,\nthe spindle was serviced.\n\nG0 X1 is fine\n");
    QVERIFY(text.looksLikeNoGcode() && text.unreadableLines == 3 && text.lineCount() == 4);
    // A line of a megabyte: one note for it, and the lines around it still count.
    const Toolpath big = GcodeInterpreter::interpret(
        "G0 X1\n(" + QByteArray(1 << 20, 'x') + "\nG1 X" + QByteArray(1 << 20, '7') + ".5 F1\nG1 " +
        QByteArray(1 << 20, '[') + "\nG0 Y2");
    QCOMPARE(big.lineCount(), 5);
    QCOMPARE(big.moves.size(), std::size_t(2));
    QCOMPARE(notes(big),
             QStringLiteral("3:Unreadable:X777777777777777… 4:Unreadable:[[[[[[[[[[[[[[[[…"));
    std::atomic<bool> cancel{true};
    QVERIFY(GcodeInterpreter::interpret(QByteArray(200000, '\n'), &cancel).cancelled);
}

QTEST_GUILESS_MAIN(TestGcodeInterpreter)
// The first chunk grows while it fills, the later ones come whole: every value stays where it
// was put, across each growth and each new chunk.
void TestGcodeInterpreter::movesKeptAcrossChunks()
{
    ChunkedList<int, 256> list;
    for (int i = 0; i < 1000; ++i)
        list.push_back(i * 7);
    QCOMPARE(list.size(), std::size_t(1000));
    int expected = 0;
    for (const int value : list) {
        QCOMPARE(value, expected);
        expected += 7;
    }
    QCOMPARE(list.back(), 999 * 7);
}

#include "tst_gcodeinterpreter.moc"
