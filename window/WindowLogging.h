#pragma once

#include <QLoggingCategory>
#include <QString>
#include <QTime>

// The window's diagnostics ("cnc.window"), off unless QT_LOGGING_RULES turns them on.
Q_DECLARE_LOGGING_CATEGORY(lcWindow)

// Time of day at the start of the listing path's diagnostic lines.
inline QString debugTime()
{
    return QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz"));
}

inline const char *debugBool(bool value)
{
    return value ? "true" : "false";
}
