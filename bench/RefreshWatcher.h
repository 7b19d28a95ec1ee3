#pragma once

#include <QElapsedTimer>
#include <QEvent>
#include <QPushButton>

#include <functional>

// Notes, on the given clock, the moment the main window's Refresh button comes back (the
// listing is in the model) and the first paint of the list after it.
class RefreshWatcher : public QObject
{
public:
    RefreshWatcher(const QElapsedTimer &clock, QPushButton *refresh, QWidget *viewport)
        : m_clock(clock), m_refresh(refresh), m_viewport(viewport)
    {
        refresh->installEventFilter(this);
        viewport->installEventFilter(this);
    }
    void arm()
    {
        filledAt = -1;
        paintedAt = -1;
    }
    // Nanoseconds on the clock; -1 until it happened.
    qint64 filledAt = -1;
    qint64 paintedAt = -1;
    // Called once the listing is in the model.
    std::function<void()> filled;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == m_refresh && event->type() == QEvent::EnabledChange &&
            m_refresh->isEnabled() && filledAt < 0) {
            filledAt = m_clock.nsecsElapsed();
            if (filled)
                filled();
        }
        if (watched == m_viewport && event->type() == QEvent::Paint && filledAt >= 0 &&
            paintedAt < 0)
            paintedAt = m_clock.nsecsElapsed();
        return false;
    }

private:
    const QElapsedTimer &m_clock;
    QPushButton *m_refresh;
    QWidget *m_viewport;
};
