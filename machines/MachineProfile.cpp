#include "MachineProfile.h"

#include <cmath>

namespace {

void dropUnlessPositive(std::optional<double> &rate)
{
    if (rate && !(std::isfinite(*rate) && *rate > 0))
        rate.reset();
}

} // namespace

bool MachineProfile::operator==(const MachineProfile &other) const
{
    return travel[0] == other.travel[0] && travel[1] == other.travel[1] &&
           travel[2] == other.travel[2] && maxFeedRate == other.maxFeedRate &&
           rapidRate == other.rapidRate && acceleration == other.acceleration &&
           junctionSpeed == other.junctionSpeed && units == other.units;
}

MachineProfile MachineProfile::usable() const
{
    MachineProfile result = *this;
    for (std::optional<AxisTravel> &axis : result.travel) {
        if (axis &&
            !(std::isfinite(axis->min) && std::isfinite(axis->max) && axis->min <= axis->max))
            axis.reset();
    }
    dropUnlessPositive(result.maxFeedRate);
    dropUnlessPositive(result.rapidRate);
    dropUnlessPositive(result.acceleration);
    dropUnlessPositive(result.junctionSpeed);
    return result;
}
