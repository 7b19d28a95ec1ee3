#include "HistoryEvent.h"

bool HistoryEvent::operator==(const HistoryEvent &other) const
{
    // The same instant written with the same offset: a time read back keeps the writer's zone.
    return time == other.time && time.offsetFromUtc() == other.time.offsetFromUtc() &&
           address == other.address && hostKey == other.hostKey && operation == other.operation &&
           remotePath == other.remotePath && newRemotePath == other.newRemotePath &&
           localPath == other.localPath && size == other.size && sha256 == other.sha256 &&
           outcome == other.outcome && detail == other.detail;
}
