#pragma once

#include "MachineProfile.h"

#include <QJsonObject>

// A machine profile as the address book keeps it, every key optional:
//   {"units":"mm"|"inch", "travel":{"x":[min,max],"y":[min,max],"z":[min,max]},
//    "maxFeedRate":5000, "rapidRate":10000, "acceleration":500, "junctionSpeed":0}
// Travel in millimetres, rates in mm/min, acceleration in mm/s². A value of the wrong type
// counts as unknown. Pure.
namespace MachineProfileFormat {

QJsonObject toJson(const MachineProfile &profile);
MachineProfile fromJson(const QJsonObject &json);

} // namespace MachineProfileFormat
