#pragma once

#include <QDateTime>
#include <QString>

// One file operation on one controller as the history keeps it: a line of the history file.
struct HistoryEvent
{
    enum class Operation { Upload, Download, Delete, NewFolder, Rename, Verify };
    // Sent: typed into the controller's shell (no SFTP channel was ready); its outcome shows only
    // in the window's log.
    enum class Outcome { Succeeded, Failed, Cancelled, Verified, Mismatch, Unverified, Sent };

    QDateTime time;
    QString address;
    // The controller's key as the program names it, e.g. "ssh-ed25519 SHA256:...".
    QString hostKey;
    Operation operation = Operation::Upload;
    QString remotePath;
    QString newRemotePath; // a rename's new path, empty otherwise
    QString localPath;
    qint64 size = -1; // -1 when unknown
    QString sha256;   // 64 lower-case hex digits, empty when unknown
    Outcome outcome = Outcome::Succeeded;
    QString detail; // the error text or another note

    bool operator==(const HistoryEvent &other) const;
    bool operator!=(const HistoryEvent &other) const { return !(*this == other); }
};
