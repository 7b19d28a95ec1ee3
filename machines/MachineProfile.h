#pragma once

#include <cstdint>
#include <optional>

// The travel of one axis, in millimetres.
struct AxisTravel
{
    double min = 0;
    double max = 0;

    bool operator==(const AxisTravel &other) const { return min == other.min && max == other.max; }
};

// What is known of one machine: its travel, its rates and its units. Every field may be
// unknown; what uses the profile says so where a field it would need is missing. Travel is in
// millimetres and rates in millimetres per minute, whatever units the controller runs in.
struct MachineProfile
{
    enum class Units : std::uint8_t { Millimetre, Inch };

    std::optional<AxisTravel> travel[3]; // X, Y, Z
    std::optional<double> maxFeedRate;   // mm/min; faster F words run at this rate
    std::optional<double> rapidRate;     // mm/min
    std::optional<double> acceleration;  // mm/s²
    // The speed a move may keep into the next (mm/min); unknown means every move starts and
    // ends at rest, as an exact-stop control runs.
    std::optional<double> junctionSpeed;
    // The units a program runs in until its first G20 or G21.
    std::optional<Units> units;

    bool operator==(const MachineProfile &other) const;
    bool operator!=(const MachineProfile &other) const { return !(*this == other); }

    bool isEmpty() const { return *this == MachineProfile(); }
    bool hasTravel() const { return travel[0] || travel[1] || travel[2]; }
    // The same profile without the fields no machine can have (a travel whose minimum lies
    // above its maximum, rates that are not positive, values that are not finite), so that
    // what uses it need not check them again.
    MachineProfile usable() const;
};
