#pragma once

#include <QtGlobal>

// Bytes this process has handed to write calls so far (the "wchar" line of /proc/self/io),
// or -1. Shows that a download is under way even when its temporary file has no name.
qint64 bytesWrittenByThisProcess();
