#pragma once

#include <QLoggingCategory>

// The window's diagnostics ("cnc.window"), off unless QT_LOGGING_RULES turns them on.
Q_DECLARE_LOGGING_CATEGORY(lcWindow)
