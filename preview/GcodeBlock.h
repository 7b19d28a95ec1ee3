#pragma once

#include <cstdint>

// The words of one line of a program, as read: the value of each letter given, and the G and
// M codes in their order (G codes times ten, so that G90.1 is 901).
struct GcodeBlock
{
    double values[26];
    std::uint32_t present = 0;
    std::uint32_t withoutPoint = 0; // letters whose value was written without a decimal point
    int gCodes[8];
    int gCount = 0;
    int mCodes[8];
    int mCount = 0;
    bool skip = false; // nothing to carry out (a program number, flow not followed)

    bool has(char letter) const { return present & (1u << (letter - 'A')); }
    double value(char letter) const { return values[letter - 'A']; }
    bool hasAxis() const
    {
        return present & ((1u << ('X' - 'A')) | (1u << ('Y' - 'A')) | (1u << ('Z' - 'A')));
    }
};
