#include "MachineProfileFormat.h"

#include <QJsonArray>

namespace MachineProfileFormat {

namespace {

const char *const kAxes[] = {"x", "y", "z"};

const std::pair<const char *, std::optional<double> MachineProfile::*> kRates[] = {
    {"maxFeedRate", &MachineProfile::maxFeedRate},
    {"rapidRate", &MachineProfile::rapidRate},
    {"acceleration", &MachineProfile::acceleration},
    {"junctionSpeed", &MachineProfile::junctionSpeed},
};

} // namespace

QJsonObject toJson(const MachineProfile &profile)
{
    QJsonObject json;
    if (profile.units)
        json.insert(QStringLiteral("units"), *profile.units == MachineProfile::Units::Inch
                                                 ? QStringLiteral("inch")
                                                 : QStringLiteral("mm"));
    QJsonObject travel;
    for (int axis = 0; axis < 3; ++axis) {
        if (const auto &range = profile.travel[axis])
            travel.insert(QLatin1String(kAxes[axis]), QJsonArray{range->min, range->max});
    }
    if (!travel.isEmpty())
        json.insert(QStringLiteral("travel"), travel);
    for (const auto &[key, member] : kRates) {
        if (const std::optional<double> &value = profile.*member)
            json.insert(QLatin1String(key), *value);
    }
    return json;
}

MachineProfile fromJson(const QJsonObject &json)
{
    MachineProfile profile;
    const QString units = json.value(QStringLiteral("units")).toString();
    if (units == QLatin1String("mm"))
        profile.units = MachineProfile::Units::Millimetre;
    else if (units == QLatin1String("inch"))
        profile.units = MachineProfile::Units::Inch;
    const QJsonObject travel = json.value(QStringLiteral("travel")).toObject();
    for (int axis = 0; axis < 3; ++axis) {
        const QJsonArray range = travel.value(QLatin1String(kAxes[axis])).toArray();
        if (range.size() == 2 && range.at(0).isDouble() && range.at(1).isDouble())
            profile.travel[axis] = AxisTravel{range.at(0).toDouble(), range.at(1).toDouble()};
    }
    for (const auto &[key, member] : kRates) {
        const QJsonValue value = json.value(QLatin1String(key));
        if (value.isDouble())
            profile.*member = value.toDouble();
    }
    return profile;
}

} // namespace MachineProfileFormat
