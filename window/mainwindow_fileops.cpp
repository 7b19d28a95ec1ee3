#include "mainwindow.h"

#include <QDragEnterEvent>
#include <QDropEvent>

void mainwindow::onUploadClicked() {}

void mainwindow::dragEnterEvent(QDragEnterEvent *event)
{
    QWidget::dragEnterEvent(event);
}

void mainwindow::dropEvent(QDropEvent *event)
{
    QWidget::dropEvent(event);
}

void mainwindow::onDownloadClicked() {}

void mainwindow::onDeleteClicked() {}

void mainwindow::onNewFolderClicked() {}

void mainwindow::onSftpJobFinished(QSsh::SftpJobId job, QString error)
{
    Q_UNUSED(job)
    Q_UNUSED(error)
}
