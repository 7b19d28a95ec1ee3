#pragma once

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QList>
#include <QMimeData>
#include <QUrl>
#include <QWidget>

// Drags urls onto the middle of target and drops them there, as a file manager would.
// True when the target took the drag and accepted the drop as a copy.
inline bool dropUrls(QWidget *target, const QList<QUrl> &urls)
{
    QMimeData mimeData;
    mimeData.setUrls(urls);
    const QPoint position = target->rect().center();
    QDragEnterEvent enter(position, Qt::CopyAction, &mimeData, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
        return false;
    QDropEvent drop(position, Qt::CopyAction, &mimeData, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(target, &drop);
    return drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
}
