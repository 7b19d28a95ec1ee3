#pragma once

#include "HostKeyReport.h"

#include <QString>

// What the operator is told about the controller's host key, in English or Chinese: the login
// dialog's boxes and the operation log's lines.
namespace HostKeyMessages {

// The operation log's line: the key recorded (or a warning that it could not be), or why the
// connection was refused.
QString logLine(bool english, const HostKeyReport &report);

// The login dialog's box for a refused key or an unusable known-hosts file. A refused key's
// text names both keys, and the file and line to delete if the controller was really
// reinstalled.
QString boxTitle(bool english, const HostKeyReport &report);
QString boxText(bool english, const HostKeyReport &report);

} // namespace HostKeyMessages
