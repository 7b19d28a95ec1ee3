#include "ColumnWidths.h"

ColumnWidths columnWidthsForViewWidth(int viewWidth)
{
    constexpr int typeWidth = 80;
    constexpr int sizeWidth = 100;
    constexpr int modifiedWidth = 160;
    constexpr int fixedWidths = typeWidth + sizeWidth + modifiedWidth; // 340

    if (viewWidth <= 40)
        return {820, typeWidth, sizeWidth, modifiedWidth};
    if (viewWidth <= 240)
        return {200, typeWidth, sizeWidth, modifiedWidth};
    if (viewWidth < 580) {
        const double f = (viewWidth - 240) / double(fixedWidths);
        // Conversion to int truncates toward zero.
        return {200, int(f * typeWidth), int(f * sizeWidth), int(f * modifiedWidth)};
    }
    return {viewWidth - 380, typeWidth, sizeWidth, modifiedWidth};
}
