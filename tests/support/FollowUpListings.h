#pragma once

#include <QElapsedTimer>
#include <QObject>

class QPushButton;
class QTextDocument;
class QWidget;

// The main window lists its folder again by itself a while after an outcome: 200 ms after the
// report of a job or a rename, 500 ms after a shell marker. Notes when each line of the
// operation log came, and waits for the listings that follow those lines.
class FollowUpListings : public QObject
{
public:
    explicit FollowUpListings(QWidget &window);

    // Waits until the window has run its follow-ups of every line logged so far and the listing
    // they began has ended; false on a time-out.
    bool wait(int timeoutMs = 10000);

private:
    void noteLine();

    QTextDocument *const m_log;
    QPushButton *const m_refresh;
    QElapsedTimer m_clock;
    qint64 m_dueAt = 0; // when the last follow-up is due, on m_clock
};
