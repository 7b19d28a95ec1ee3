#pragma once

#include "HistoryEvent.h"

#include <QByteArray>
#include <QString>
#include <QVector>

// The history file's format: JSON Lines, one compact JSON object per event, UTF-8, each line
// ended by '\n'. The keys come in a fixed order, so that the file reads well by eye:
//   {"time":"2026-12-07T21:51:30.123+01:00","address":"10.0.0.5","hostKey":"ssh-ed25519 SHA256:…",
//    "operation":"upload","remotePath":"/home/pi/cnc/part.nc","newRemotePath":"",
//    "localPath":"/home/op/part.nc","size":20480,"sha256":"3f2a…","outcome":"verified","detail":""}
// Pure functions, no files.
namespace HistoryFormat {

// The event as one line, '\n' included. No other byte of the line is a newline or a control
// character: they are all escaped, and so are lone surrogates (the carried bytes of a
// controller name that is not UTF-8), so that every name comes back exactly.
QByteArray line(const HistoryEvent &event);

struct Contents
{
    QVector<HistoryEvent> events; // in the order of the file
    int skipped = 0;              // lines that are no event (torn, edited, of a later version)
};

// A whole file's contents. Blank lines do not count as skipped.
Contents parse(const QByteArray &contents);

// "upload", "newFolder", "verified" ...: the words of the file.
QString operationKey(HistoryEvent::Operation operation);
QString outcomeKey(HistoryEvent::Outcome outcome);

} // namespace HistoryFormat
