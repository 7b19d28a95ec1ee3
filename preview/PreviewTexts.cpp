#include "PreviewTexts.h"

#include <cmath>

namespace PreviewTexts {

namespace {

QString pick(bool english, const QString &en, const QString &zh)
{
    return english ? en : zh;
}

QString figure(double value, int decimals)
{
    QString text = QString::number(value, 'f', decimals);
    if (text.contains(QLatin1Char('.'))) {
        while (text.endsWith(QLatin1Char('0')))
            text.chop(1);
        if (text.endsWith(QLatin1Char('.')))
            text.chop(1);
    }
    return text == QLatin1String("-0") ? QStringLiteral("0") : text;
}

QString boxText(const Box &box, bool inch, bool english)
{
    if (box.isEmpty())
        return pick(english, QStringLiteral("none"), QStringLiteral("无"));
    const double unit = inch ? 25.4 : 1.0;
    const int decimals = inch ? 4 : 3;
    const auto range = [&](double lo, double hi) {
        return figure(lo / unit, decimals) + QStringLiteral(" … ") + figure(hi / unit, decimals);
    };
    return QStringLiteral("X %1   Y %2   Z %3")
        .arg(range(box.min.x, box.max.x), range(box.min.y, box.max.y), range(box.min.z, box.max.z));
}

} // namespace

QString length(double millimetres, bool inch)
{
    return inch ? figure(millimetres / 25.4, 2) + QStringLiteral(" in")
                : figure(millimetres, 1) + QStringLiteral(" mm");
}

QString duration(double minutes, bool english)
{
    const qint64 seconds = qint64(std::llround(minutes * 60));
    const qint64 h = seconds / 3600;
    const qint64 m = seconds / 60 % 60;
    const qint64 s = seconds % 60;
    if (h > 0)
        return pick(english, QStringLiteral("%1 h %2 min"), QStringLiteral("%1 小时 %2 分"))
            .arg(h)
            .arg(m);
    if (m > 0)
        return pick(english, QStringLiteral("%1 min %2 s"), QStringLiteral("%1 分 %2 秒"))
            .arg(m)
            .arg(s);
    return pick(english, QStringLiteral("%1 s"), QStringLiteral("%1 秒")).arg(s);
}

QString note(const Note &note, bool english)
{
    const QString code = note.code;
    QString text;
    switch (note.kind) {
    case Note::NotDrawn:
        text = pick(english, QStringLiteral("%1 not drawn"), QStringLiteral("%1 未绘制")).arg(code);
        break;
    case Note::NotFollowed:
        text = pick(english, QStringLiteral("%1: program flow not followed"),
                    QStringLiteral("%1：未跟随程序跳转"))
                   .arg(code);
        break;
    case Note::AxisNotDrawn:
        text = pick(english, QStringLiteral("axis %1 not drawn"), QStringLiteral("%1 轴未绘制"))
                   .arg(code);
        break;
    case Note::WorkOffset:
        text = pick(english, QStringLiteral("%1: all work offsets drawn as one frame"),
                    QStringLiteral("%1：所有工件坐标系按同一坐标系绘制"))
                   .arg(code);
        break;
    case Note::MachineFrame:
        text = pick(english, QStringLiteral("G53 drawn in the work frame (offsets taken as zero)"),
                    QStringLiteral("G53 按工件坐标系绘制（偏置视为零）"));
        break;
    case Note::ReferencePoint:
        text = pick(english,
                    QStringLiteral("%1: drawn through its point to a reference point assumed at 0"),
                    QStringLiteral("%1：经中间点绘制到假定为 0 的参考点"))
                   .arg(code);
        break;
    case Note::BlockDelete:
        text = pick(english, QStringLiteral("lines starting with / skipped (block delete on)"),
                    QStringLiteral("以 / 开头的程序段已跳过（跳段开启）"));
        break;
    case Note::Unreadable:
        text = pick(english, QStringLiteral("cannot read “%1”; line not drawn"),
                    QStringLiteral("无法读取“%1”；该行未绘制"))
                   .arg(code);
        break;
    case Note::BadExpression:
        text = pick(english, QStringLiteral("expression not understood at “%1”; line not drawn"),
                    QStringLiteral("无法理解表达式“%1”；该行未绘制"))
                   .arg(code);
        break;
    case Note::BadParameter:
        text = pick(english, QStringLiteral("parameter “%1” not supported; line not drawn"),
                    QStringLiteral("不支持参数“%1”；该行未绘制"))
                   .arg(code);
        break;
    case Note::ArcRadiusTooSmall:
        text = pick(english,
                    QStringLiteral("arc radius %1 mm does not reach its end point %2 mm away; "
                                   "arc not drawn"),
                    QStringLiteral("圆弧半径 %1 mm 够不到 %2 mm 外的终点；圆弧未绘制"))
                   .arg(figure(note.a, 3), figure(note.b, 3));
        break;
    case Note::ArcOffCircle:
        text = pick(english,
                    QStringLiteral("arc end point is off its circle (radius %1 mm at the start, "
                                   "%2 mm at the end)"),
                    QStringLiteral("圆弧终点不在圆上（起点半径 %1 mm，终点半径 %2 mm）"))
                   .arg(figure(note.a, 3), figure(note.b, 3));
        break;
    case Note::ArcNoCenter:
        text = pick(english, QStringLiteral("arc without a usable centre or radius; not drawn"),
                    QStringLiteral("圆弧缺少可用的圆心或半径；未绘制"));
        break;
    case Note::OutsideTravel:
        text = pick(english,
                    QStringLiteral("%1 reaches %2 mm, beyond the machine's travel (limit %3 mm)"),
                    QStringLiteral("%1 到达 %2 mm，超出机床行程（极限 %3 mm）"))
                   .arg(code, figure(note.a, 3), figure(note.b, 3));
        break;
    case Note::NoMotionMode:
        text = pick(english, QStringLiteral("coordinates before any G0/G1/G2/G3; not drawn"),
                    QStringLiteral("在任何 G0/G1/G2/G3 之前给出坐标；未绘制"));
        break;
    }
    QString line = pick(english, QStringLiteral("line %1: %2"), QStringLiteral("第 %1 行：%2"))
                       .arg(note.line + 1)
                       .arg(text);
    if (note.count > 1)
        line += pick(english, QStringLiteral(" (%1 lines)"), QStringLiteral("（共 %1 行）"))
                    .arg(note.count);
    return line;
}

QString verdict(const Toolpath &toolpath, bool english)
{
    if (toolpath.binary)
        return pick(english, QStringLiteral("This is a binary file, not a G-code program."),
                    QStringLiteral("这是二进制文件，不是 G 代码程序。"));
    if (toolpath.looksLikeNoGcode())
        return pick(english,
                    QStringLiteral("This does not look like a G-code program: %1 of %2 lines "
                                   "could not be read."),
                    QStringLiteral("这看起来不是 G 代码程序：%2 行中有 %1 行无法读取。"))
            .arg(toolpath.unreadableLines)
            .arg(toolpath.codeLines);
    return QString();
}

QStringList summary(const Toolpath &toolpath, bool english, const MachineProfile &machine)
{
    const bool inch = toolpath.showsInch();
    QStringList lines;
    lines << pick(english, QStringLiteral("Lines: %1"), QStringLiteral("行数：%1"))
                 .arg(toolpath.lineCount());

    QString units;
    if (toolpath.usesInch && toolpath.usesMillimetre)
        units = pick(english, QStringLiteral("inch and mm (G20 and G21); figures in mm"),
                     QStringLiteral("英寸和毫米（G20 和 G21）；数值以毫米表示"));
    else if (toolpath.usesInch)
        units = pick(english, QStringLiteral("inch (G20)"), QStringLiteral("英寸（G20）"));
    else if (toolpath.usesMillimetre)
        units = pick(english, QStringLiteral("mm (G21)"), QStringLiteral("毫米（G21）"));
    else if (toolpath.startsInInch)
        units = pick(english, QStringLiteral("inch, as the machine runs (no G20 or G21)"),
                     QStringLiteral("英寸，按机床设定（无 G20 或 G21）"));
    else
        units = pick(english, QStringLiteral("mm assumed (no G20 or G21)"),
                     QStringLiteral("假定为毫米（无 G20 或 G21）"));
    lines << pick(english, QStringLiteral("Units: %1"), QStringLiteral("单位：%1")).arg(units);
    if (toolpath.wholeNumberCoordinates > 0) {
        lines << pick(english,
                      QStringLiteral("%1 coordinates without a decimal point, read as whole "
                                     "units (X10 = 10 %2) as grbl and LinuxCNC do; Fanuc-style "
                                     "controls may read them as least increments"),
                      QStringLiteral("%1 个坐标没有小数点，按整单位读取（X10 = 10 %2），与 grbl "
                                     "和 LinuxCNC 相同；Fanuc 类系统可能按最小增量读取"))
                     .arg(toolpath.wholeNumberCoordinates)
                     .arg(inch ? QStringLiteral("in") : QStringLiteral("mm"));
    }
    lines << pick(english, QStringLiteral("Feed moves: %1"), QStringLiteral("进给范围：%1"))
                 .arg(boxText(toolpath.feedBox, inch, english));
    lines << pick(english, QStringLiteral("All moves: %1"), QStringLiteral("全部范围：%1"))
                 .arg(boxText(toolpath.allBox, inch, english));
    lines << pick(english, QStringLiteral("Path: feed %1, rapid %2"),
                  QStringLiteral("路径：进给 %1，快速 %2"))
                 .arg(length(toolpath.feedLength, inch), length(toolpath.rapidLength, inch));

    QStringList tools;
    for (const int tool : toolpath.tools)
        tools << QStringLiteral("T%1").arg(tool);
    QStringList speeds;
    for (const double speed : toolpath.spindleSpeeds)
        speeds << QStringLiteral("S") + figure(speed, 1);
    const QString none = pick(english, QStringLiteral("none"), QStringLiteral("无"));
    lines << pick(english, QStringLiteral("Tools: %1"), QStringLiteral("刀具：%1"))
                 .arg(tools.isEmpty() ? none : tools.join(QStringLiteral(", ")));
    lines << pick(english, QStringLiteral("Spindle speeds: %1"), QStringLiteral("主轴转速：%1"))
                 .arg(speeds.isEmpty() ? none : speeds.join(QStringLiteral(", ")));

    QString time;
    const QString feedsAlone = duration(toolpath.feedMinutes + toolpath.dwellSeconds / 60, english);
    if (!machine.rapidRate && !machine.acceleration && !machine.maxFeedRate) {
        time = pick(english,
                    QStringLiteral("Estimated time: about %1 from the feeds alone (feed moves at "
                                   "their F, plus dwells); no machine profile, so rapids and "
                                   "acceleration are not counted"),
                    QStringLiteral("估计时间：约 %1，仅按进给计算（进给按各自 F，另加暂停）；"
                                   "无机床参数，快速移动和加速度未计入"))
                   .arg(feedsAlone);
    } else {
        QStringList how;
        how << (machine.rapidRate
                    ? pick(english, QStringLiteral("rapids at %1 mm/min"),
                           QStringLiteral("快速 %1 mm/min"))
                          .arg(figure(*machine.rapidRate, 0))
                    : pick(english, QStringLiteral("rapids not counted (rate unknown)"),
                           QStringLiteral("快速移动未计入（速度未知）")));
        how << (machine.acceleration ? pick(english, QStringLiteral("acceleration %1 mm/s²"),
                                            QStringLiteral("加速度 %1 mm/s²"))
                                           .arg(figure(*machine.acceleration, 1))
                                     : pick(english, QStringLiteral("acceleration unknown"),
                                            QStringLiteral("加速度未知")));
        if (machine.maxFeedRate)
            how << pick(english, QStringLiteral("feeds at most %1 mm/min"),
                        QStringLiteral("进给最高 %1 mm/min"))
                       .arg(figure(*machine.maxFeedRate, 0));
        how << (machine.junctionSpeed
                    ? pick(english, QStringLiteral("%1 mm/min kept through junctions"),
                           QStringLiteral("拐角保持 %1 mm/min"))
                          .arg(figure(*machine.junctionSpeed, 0))
                    : pick(english, QStringLiteral("every move from rest to rest"),
                           QStringLiteral("每段移动从静止到静止")));
        time = pick(english,
                    QStringLiteral("Estimated time on this machine: about %1 (%2); from the "
                                   "feeds alone %3"),
                    QStringLiteral("本机估计时间：约 %1（%2）；仅按进给为 %3"))
                   .arg(duration(toolpath.machineSeconds / 60, english),
                        how.join(pick(english, QStringLiteral(", "), QStringLiteral("，"))),
                        feedsAlone);
    }
    lines << time;
    lines << pick(english, QStringLiteral("Start point assumed at X0 Y0 Z0"),
                  QStringLiteral("起点假定为 X0 Y0 Z0"));
    return lines;
}

QString travelVerdict(const Toolpath &toolpath, const MachineProfile &machine, bool english)
{
    if (!machine.hasTravel())
        return QString();
    QStringList ranges;
    QStringList unknown;
    for (int i = 0; i < 3; ++i) {
        const QString axis(QChar::fromLatin1(char('X' + i)));
        if (machine.travel[i])
            ranges << axis + QLatin1Char(' ') + figure(machine.travel[i]->min, 3) +
                          QStringLiteral(" … ") + figure(machine.travel[i]->max, 3);
        else
            unknown << axis;
    }
    QString text;
    if (toolpath.movesOutsideTravel == 0)
        text = pick(english,
                    QStringLiteral("Fits the machine: every move stays inside its travel (%1 mm)."),
                    QStringLiteral("符合机床行程：所有移动都在行程内（%1 mm）。"))
                   .arg(ranges.join(QStringLiteral(", ")));
    else
        text = pick(english,
                    QStringLiteral("Beyond the machine's travel (%1 mm): %2 moves on %3 lines, "
                                   "drawn in red and listed below the plot."),
                    QStringLiteral("超出机床行程（%1 mm）：%3 行中共 %2 个移动，以红色绘制并"
                                   "列在图形下方。"))
                   .arg(ranges.join(QStringLiteral(", ")))
                   .arg(toolpath.movesOutsideTravel)
                   .arg(toolpath.linesOutsideTravel);
    if (!unknown.isEmpty())
        text += pick(english, QStringLiteral(" The travel of %1 is not known and not checked."),
                     QStringLiteral("%1 的行程未知，未检查。"))
                    .arg(unknown.join(QStringLiteral(", ")));
    return text;
}

QStringList legend(bool english)
{
    if (english)
        return {QStringLiteral("Rapid (G0)"),     QStringLiteral("Cutting (G1, G2, G3)"),
                QStringLiteral("Start point"),    QStringLiteral("Beyond the machine's travel"),
                QStringLiteral("Machine travel"), QStringLiteral("Program extent")};
    return {QStringLiteral("快速移动 (G0)"), QStringLiteral("切削 (G1, G2, G3)"),
            QStringLiteral("起点"),          QStringLiteral("超出机床行程"),
            QStringLiteral("机床行程"),      QStringLiteral("程序范围")};
}

} // namespace PreviewTexts
