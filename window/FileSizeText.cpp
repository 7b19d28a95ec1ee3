#include "FileSizeText.h"

QString fileSizeText(const QString &sizeField)
{
    bool ok = false;
    const qint64 bytes = sizeField.toLongLong(&ok, 10);
    if (!ok)
        return sizeField;

    constexpr qint64 kKiB = 1024;
    constexpr qint64 kMiB = kKiB * 1024;
    constexpr qint64 kGiB = kMiB * 1024;
    if (bytes < kKiB)
        return QString::number(bytes) + QLatin1String(" B");
    if (bytes < kMiB)
        return QString::number(double(bytes) / kKiB, 'f', 1) + QLatin1String(" KB");
    if (bytes < kGiB)
        return QString::number(double(bytes) / kMiB, 'f', 1) + QLatin1String(" MB");
    return QString::number(double(bytes) / kGiB, 'f', 1) + QLatin1String(" GB");
}
