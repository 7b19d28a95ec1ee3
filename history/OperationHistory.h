#pragma once

#include "HistoryEvent.h"

#include <QFile>
#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class QLockFile;

// The history of one controller: a file of its own in the user's data folder,
// <AppDataLocation>/history/<address>.jsonl, to which every file operation adds one line (see
// HistoryFormat). Two windows or two programs may write the same file at once: each line goes
// in whole, in one write, while a lock file beside it is held (for at most a tenth of a second
// at a time, by the lines written in it).
//
// The history never stops an operation: record() always returns, after a bounded wait for the
// lock at most, and a history that cannot be written is reported once through unwritable().
// Lives in the thread that records (the connection worker's); touches nothing but local files.
class OperationHistory : public QObject
{
    Q_OBJECT
public:
    explicit OperationHistory(const QString &address, QObject *parent = nullptr);
    ~OperationHistory() override;

    // Where the history of the controller at this address is kept. The address is
    // percent-encoded into a file name, so that no address (an IPv6 one, a host name with a
    // slash typed by mistake) leaves the history folder.
    static QString filePath(const QString &address);

    const QString &path() const { return m_path; }

    // Appends the event; an event without a time gets the current one.
    void record(const HistoryEvent &event);

signals:
    // The first record that could not be written, with the reason; once per object.
    void unwritable(const QString &reason);

private:
    // Empty when the line is in the file, else the reason.
    QString append(const QByteArray &line);
    void release();

    const QString m_path;
    std::unique_ptr<QLockFile> m_lock;
    // Children, so that they move with the object to the worker's thread.
    QFile m_file{this};
    QTimer m_release{this};
    bool m_reportedUnwritable = false;
};
