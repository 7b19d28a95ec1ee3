#pragma once

#include <QString>
#include <QVector>

// The outcome lines that the shell route of delete and folder creation prints.
enum class ShellMarker { DeleteSuccess, DeleteFailed, CreateSuccess, CreateFailed };

// What one piece of shell output says about those commands.
struct ShellMarkerScan
{
    // Outcome lines completed by this piece, in the order printed. A marker counts only at the
    // end of a line that is not the echo of the command line (which holds both words of its
    // pair) nor a listing line.
    QVector<ShellMarker> outcomes;
    // The unterminated last line, to be passed with the next piece.
    QString carry;
};

// Scans `piece`, the next output of the shell after the one that left `carry`. Pure: the
// caller keeps the carry.
ShellMarkerScan scanShellMarkers(const QString &carry, const QString &piece);

// Takes out of `text` the complete lines, from the line that holds position `from` on, that
// belong to such a command: its outcome line and its echo. Everything else stays, also
// listing lines whose names hold a marker word.
void removeMarkerLines(QString *text, int from);

// The marker text, e.g. "DELETE_SUCCESS".
QString shellMarkerText(ShellMarker marker);

// The operation log's line for an outcome, in English or Chinese.
QString shellMarkerLogLine(ShellMarker marker, bool english);

// A success changed the folder: the list is to be refreshed.
bool shellMarkerIsSuccess(ShellMarker marker);
