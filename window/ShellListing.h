#pragma once

#include "ListingProgress.h"
#include "ShellMarkers.h"

#include <QObject>
#include <QString>
#include <QVector>

class QTimer;
struct RemoteListing;

// What the window reads in the controller's shell output: the outcome lines of the shell's
// delete and create commands, whenever they come, and for an outstanding listing how far its
// output has come, whether it is the listing's own, and its rows. The window keeps the output
// it collects; this keeps the listing's progress and its time limit of 20 s.
class ShellListing : public QObject
{
    Q_OBJECT
public:
    explicit ShellListing(QObject *parent);

    // command: the listing command as typed, with or without its line feed.
    void start(const QString &command);
    // The listing has ended; abandon: given up, so its output may still come.
    void stop();
    void abandon();
    // The shell has gone, and with it the commands it had not answered.
    void forgetEarlierCommands() { m_progress.forgetEarlierCommands(); }

    // The outcome lines that `piece`, the next output of the shell, completes.
    QVector<ShellMarker> takeMarkers(const QString &piece);
    // Adds `piece` to the listing's `output` without the lines of those commands.
    ListingProgress::State append(QString *output, const QString &piece);

    enum class Ending {
        CutShort, // went quiet before the shell's prompt came back: wait for the rest
        Foreign,  // may be an earlier command's output: list again
        Own
    };
    Ending ending(const QString &output) const;
    RemoteListing rows(const QString &output) const;

    // The operation log's lines for a listing of folder that did not come about.
    static QString tooLongLine(bool english, const QString &folder);
    static QString notSentLine(bool english, const QString &folder, const QString &error);
    static QString timedOutLine(bool english, const QString &folder);

signals:
    void timedOut();

private:
    ListingProgress m_progress;
    // The unterminated last line of the shell output, so that a marker line that arrives in
    // two pieces is still seen whole.
    QString m_markerCarry;
    // Bounds a listing that never ends (a lost command, a shell that says nothing).
    QTimer *const m_timeoutTimer;
};
