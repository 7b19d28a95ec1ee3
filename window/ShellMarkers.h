#pragma once

#include <QString>
#include <QVector>

// The outcome lines that the shell route of delete and folder creation prints.
enum class ShellMarker { DeleteSuccess, DeleteFailed, CreateSuccess, CreateFailed };

// What one piece of shell output says about those commands.
struct ShellMarkerScan
{
    // Outcome lines completed by this piece, in the order printed. A marker counts only as a
    // line of its own: the echo of the command line holds both words of its pair.
    QVector<ShellMarker> outcomes;
    // The piece belongs to such a command (its echo or its outcome) and must stay out of a
    // directory listing. Listing lines whose names hold a marker word do not count.
    bool concernsMarker = false;
    // The unterminated last line, to be passed with the next piece.
    QString carry;
};

// Scans `piece`, the next output of the shell after the one that left `carry`. Pure: the
// caller keeps the carry.
ShellMarkerScan scanShellMarkers(const QString &carry, const QString &piece);

// The marker text, e.g. "DELETE_SUCCESS".
QString shellMarkerText(ShellMarker marker);
