#pragma once

#include "MachineProfile.h"
#include "Toolpath.h"

#include <QString>
#include <QStringList>

// The preview's texts in English or Chinese, chosen by the window's language flag when they
// are made. Pure functions: no widgets.
namespace PreviewTexts {

// "line 120: G83 not drawn" and its kin; lines count from 1.
QString note(const Note &note, bool english);
// The summary, one line per figure, lengths in the program's units; the run time on machine
// where its profile gives rates, otherwise from the feeds alone.
QStringList summary(const Toolpath &toolpath, bool english,
                    const MachineProfile &machine = MachineProfile());
// Whether the program stays inside the machine's travel; empty when no travel is known.
QString travelVerdict(const Toolpath &toolpath, const MachineProfile &machine, bool english);
// The plot's legend, in the order ToolpathView::setLegend takes it.
QStringList legend(bool english);
// A headline when the program cannot be shown as a toolpath; empty when it can.
QString verdict(const Toolpath &toolpath, bool english);
QString length(double millimetres, bool inch);
QString duration(double minutes, bool english);

} // namespace PreviewTexts
