#include "ShellCommandQueue.h"

#include <QIODevice>
#include <QLoggingCategory>
#include <QTimer>

Q_DECLARE_LOGGING_CATEGORY(lcConnection)

ShellCommandQueue::ShellCommandQueue(QObject *parent) : QObject(parent), m_expiry(new QTimer(this))
{
    m_expiry->setSingleShot(true);
    connect(m_expiry, &QTimer::timeout, this, &ShellCommandQueue::dropExpired);
}

void ShellCommandQueue::setShell(QIODevice *shell)
{
    if (m_shell)
        m_shell->disconnect(this);
    m_shell = shell;
    m_watch.reset();
    m_bytesTyped = 0;
    m_bytesSent = 0;
    m_expiry->stop();
    // The window hears of the lost shell from the connection report; requests answered by
    // their line's report are answered now.
    const QString closed = shellClosedText();
    for (const TypedLine &line : std::exchange(m_unsent, {})) {
        if (line.origin == Origin::Fallback)
            emit lineFailed(line.origin, line.text, closed);
    }
    for (const Line &line : std::exchange(m_waiting, {})) {
        if (line.origin == Origin::Fallback)
            emit lineFailed(line.origin, line.text, closed);
    }
    if (shell)
        connect(shell, &QIODevice::bytesWritten, this, &ShellCommandQueue::onBytesWritten);
}

QString ShellCommandQueue::shellClosedText()
{
    return tr("Shell command not sent: the remote shell is closed.");
}

bool ShellCommandQueue::enqueue(const QByteArray &text, Origin origin)
{
    QString error;
    if (!m_shell) {
        error = shellClosedText();
    } else if (!text.endsWith('\n')) {
        error = tr("Shell command not sent: it does not end with a line feed.");
    } else {
        for (int start = 0; start < text.size();) {
            const int end = text.indexOf('\n', start) + 1;
            if (!fits(text.mid(start, end - start))) {
                error = tr("Shell command not sent: its line of %1 bytes is longer than the %2 "
                           "bytes the controller's shell can take.")
                            .arg(end - start)
                            .arg(kMaxLineBytes);
                break;
            }
            start = end;
        }
    }
    if (!error.isEmpty()) {
        qCWarning(lcConnection).noquote() << "ShellCommandQueue refused" << text.left(200) << error;
        emit lineFailed(origin, text, error);
        return false;
    }
    for (int start = 0; start < text.size();) {
        const int end = text.indexOf('\n', start) + 1;
        m_waiting.enqueue({text.mid(start, end - start), origin, QDeadlineTimer(m_maxWaitMs)});
        start = end;
    }
    typeNext();
    return true;
}

void ShellCommandQueue::outputArrived(const QString &text)
{
    m_watch.feed(text);
    typeNext();
}

void ShellCommandQueue::typeNext()
{
    if (m_waiting.isEmpty()) {
        m_expiry->stop();
        return;
    }
    if (!m_watch.atPrompt()) {
        // The line at the head waits longest; the others expire after it.
        if (!m_expiry->isActive())
            m_expiry->start(int(qMax<qint64>(0, m_waiting.head().deadline.remainingTime())));
        return;
    }
    m_expiry->stop();
    const Line line = m_waiting.dequeue();
    qCDebug(lcConnection).noquote() << "ShellCommandQueue typing" << line.text.trimmed();
    const qint64 written = m_shell ? m_shell->write(line.text) : -1;
    if (written != line.text.size()) {
        emit lineFailed(line.origin, line.text, shellClosedText());
        typeNext();
        return;
    }
    m_watch.lineTyped();
    m_bytesTyped += written;
    m_unsent.enqueue({line.text, line.origin, m_bytesTyped});
    typeNext();
}

void ShellCommandQueue::dropExpired()
{
    while (!m_waiting.isEmpty() && m_waiting.head().deadline.hasExpired()) {
        const Line line = m_waiting.dequeue();
        qCWarning(lcConnection).noquote()
            << "ShellCommandQueue dropped a line that waited too long:" << line.text.trimmed();
        emit lineFailed(line.origin, line.text,
                        tr("Shell command not sent: the controller's shell was busy with an "
                           "earlier command for %1 seconds.")
                            .arg(m_maxWaitMs / 1000));
    }
    typeNext();
}

void ShellCommandQueue::onBytesWritten(qint64 bytes)
{
    m_bytesSent += bytes;
    while (!m_unsent.isEmpty() && m_unsent.head().end <= m_bytesSent) {
        const TypedLine line = m_unsent.dequeue();
        emit lineSent(line.origin, line.text);
    }
}
