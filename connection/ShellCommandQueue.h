#pragma once

#include "ShellPromptWatch.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QString>

class QIODevice;
class QTimer;

// Owns the input of the controller's interactive shell: it types one command line at a time,
// and each only while the shell waits at its prompt.
//
// A line typed while a command runs goes into the terminal's line buffer, which keeps at most
// 4095 bytes of a line and passes its line feed on: bash would get a command cut short, its
// quotes open, and every later command's quoted names would stand outside quotes. So lines
// wait here, in order, until the one before has ended (the prompt follows its echo, see
// ShellPromptWatch); the first waits for the new shell's first prompt. A line that has waited
// longer than maxWait() is dropped, never typed; the command that held it up is left to
// finish. A line longer than kMaxLineBytes is refused at once.
class ShellCommandQueue : public QObject
{
    Q_OBJECT
public:
    // The longest line, its line feed included, that is ever typed. Bash's line editor takes
    // longer lines, but the terminal's line buffer, which holds what is typed while a command
    // runs, keeps at most 4095 bytes of a line; the bound stays well below that, so that no
    // line can reach bash cut short in any state of the shell.
    static constexpr int kMaxLineBytes = 3000;
    // Whether `line` (with its line feed, as typed) is short enough to be typed.
    static bool fits(const QByteArray &line) { return line.size() <= kMaxLineBytes; }

    // Who asked for a line. A fallback command is a request whose answer is the report that its
    // line went out or failed; a line of the window's is reported only when it fails while the
    // shell is up (the window hears of a lost shell from the connection report).
    enum class Origin { Window, Fallback };
    Q_ENUM(Origin)

    explicit ShellCommandQueue(QObject *parent = nullptr);

    // The shell that lines are typed into from now on; null while there is none. Lines waiting
    // for the previous shell, and those whose bytes had not gone out on its channel, fail.
    void setShell(QIODevice *shell);
    // Queues each line of `text` (each ends with a line feed) for the current shell. Refused,
    // with nothing queued or typed, when there is no shell, when the text does not end with a
    // line feed (the line editor would keep it and join the next line to it) or when a line is
    // too long; then lineFailed() has been emitted, and false is returned.
    bool enqueue(const QByteArray &text, Origin origin);
    // The shell's output, as decoded, in the order it arrived.
    void outputArrived(const QString &text);

    // What a request learns when its line could not be typed for want of a shell.
    static QString shellClosedText();

    int maxWait() const { return m_maxWaitMs; }
    void setMaxWait(int milliseconds) { m_maxWaitMs = milliseconds; }

signals:
    // The line's bytes have gone out on the shell's channel.
    void lineSent(ShellCommandQueue::Origin origin, const QByteArray &line);
    // The line was not typed, or its bytes never went out; `error` says why.
    void lineFailed(ShellCommandQueue::Origin origin, const QByteArray &line, const QString &error);

private:
    struct Line
    {
        QByteArray text;
        Origin origin = Origin::Window;
        QDeadlineTimer deadline;
    };
    struct TypedLine
    {
        QByteArray text;
        Origin origin = Origin::Window;
        qint64 end = 0; // where its bytes end in the shell's byte count
    };

    void typeNext();
    void dropExpired();
    void onBytesWritten(qint64 bytes);

    QPointer<QIODevice> m_shell;
    ShellPromptWatch m_watch;
    QQueue<Line> m_waiting;
    QQueue<TypedLine> m_unsent;
    qint64 m_bytesTyped = 0;
    qint64 m_bytesSent = 0;
    int m_maxWaitMs = 60000;
    QTimer *m_expiry = nullptr;
};
