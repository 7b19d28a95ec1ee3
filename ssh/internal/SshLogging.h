#pragma once

#include <QLoggingCategory>

namespace QSsh {
Q_DECLARE_LOGGING_CATEGORY(lcSsh)
} // namespace QSsh
