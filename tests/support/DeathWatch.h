#pragma once

#include <QObject>

// Learns in the test's thread, through a queued call, that an object is gone, also one that
// another thread deletes. `context` can receive the object's other queued reports for as long
// as the watch lives.
struct DeathWatch
{
    explicit DeathWatch(QObject *object)
    {
        QObject::connect(
            object, &QObject::destroyed, &context, [this] { gone = true; }, Qt::QueuedConnection);
    }
    QObject context;
    bool gone = false;
};
