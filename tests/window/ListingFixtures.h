#pragma once

// Shell output captured from the simulated controller (fixtures/, made by capture.py there),
// for the tests of the listing path. CNC_LISTING_FIXTURES names that folder.

#include <QFile>
#include <QString>
#include <QtGlobal>

// The controller shell's prompt, as it stands in the captured output.
inline const QString kPrompt = QStringLiteral("root@raspberrypi:~# ");

inline QString fixture(const char *name)
{
    QFile file(QStringLiteral(CNC_LISTING_FIXTURES "/") + QLatin1String(name));
    if (!file.open(QIODevice::ReadOnly))
        qFatal("missing fixture %s", name);
    return QString::fromUtf8(file.readAll());
}
