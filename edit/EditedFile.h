#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QObject>
#include <QString>

class QFileSystemWatcher;
class QTimer;
template <typename T> class QFutureWatcher;

// One controller file open for editing: its working copy in a folder of its own, what the
// controller's file was when it was last fetched or saved, and the watcher that turns the
// editor's writes into saves. An editor that replaces the file by renaming a new one over it,
// or that writes it in several steps, gives one save once the file has been quiet for a
// moment. Each save is a snapshot of the working copy beside its folder, hashed off the GUI
// thread; a snapshot with the content last sent is no save.
class EditedFile : public QObject
{
    Q_OBJECT
public:
    enum class State { Opening, InSync, Sending, Waiting, Conflict, Failed };
    Q_ENUM(State)

    // The controller's file as it was last fetched or saved.
    struct Remote
    {
        qint64 size = -1;
        QDateTime modified;
        QByteArray sha256;
    };

    static constexpr int kQuietMs = 300;

    // folder is the working copy's own, empty folder.
    EditedFile(const QString &remotePath, const QString &folder, QObject *parent = nullptr);

    QString remotePath() const { return m_remotePath; }
    // Later saves go to another file (a save under a new name).
    void setRemotePath(const QString &remotePath) { m_remotePath = remotePath; }
    QString name() const;
    QString folder() const { return m_folder; }
    // Under the name the file had when it was opened.
    QString workingCopy() const { return m_workingCopy; }
    // What a save uploads: the working copy as it was when the save was hashed.
    QString snapshot() const { return m_folder + QStringLiteral(".save"); }

    Remote recorded() const { return m_recorded; }
    // The controller's file holds content now, as last fetched or sent.
    void record(const Remote &remote);
    // The hash of the newest save not yet on the controller.
    QByteArray pendingSha256() const { return m_pending; }

    State state() const { return m_state; }
    void setState(State state);
    // A save is not on the controller yet: the working copy must stay.
    bool hasPendingSave() const;

    // Starts watching the working copy; writes before this are no saves.
    void watch();

signals:
    // A save with new content, snapshot taken.
    void saved(QByteArray sha256);
    // The working copy was written with the content last sent.
    void unchanged();
    void stateChanged();

private:
    void setBusy(bool busy);
    void noteChange();
    void onQuiet();
    void onHashed();

    QString m_remotePath;
    const QString m_folder;
    const QString m_workingCopy;
    Remote m_recorded;
    QByteArray m_pending;
    State m_state = State::Opening;
    bool m_busy = false;
    bool m_changedMeanwhile = false;
    QFileSystemWatcher *m_watcher = nullptr;
    QTimer *const m_quiet;
    QFutureWatcher<QByteArray> *const m_hashing;
};
