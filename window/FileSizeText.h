#pragma once

#include <QString>

// The size column's text for the size field of a listing line: bytes below 1024 as "<n> B",
// then KB, MB and GB (powers of 1024) with one decimal. A field that is not a decimal number,
// such as the "major, minor" pair of a device, is shown as it stands.
QString fileSizeText(const QString &sizeField);
