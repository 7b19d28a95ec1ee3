#pragma once

#include <QObject>
#include <QSharedPointer>
#include <QThread>

namespace QSsh::Internal {

// Wraps an object of the SSH layer in a shared handle whose last owner may live in any
// thread: the object is destroyed in the thread it belongs to (deferred when that thread
// still runs an event loop), or directly when its thread is gone or never ran.
template <typename T> QSharedPointer<T> makeThreadSafeHandle(T *object)
{
    return QSharedPointer<T>(object, [](T *o) {
        QThread *const owner = o->thread();
        if (!owner || owner == QThread::currentThread() || !owner->isRunning())
            delete o;
        else
            o->deleteLater();
    });
}

} // namespace QSsh::Internal
