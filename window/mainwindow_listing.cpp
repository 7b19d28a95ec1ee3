#include "mainwindow.h"

void mainwindow::slotDataArrived(QString strMsg, QString strIp, int nPort)
{
    Q_UNUSED(strMsg)
    Q_UNUSED(strIp)
    Q_UNUSED(nPort)
}

void mainwindow::processBufferedData() {}

QString mainwindow::formatFileSize(const QString &size) const
{
    return size;
}

void mainwindow::onSftpInitialized() {}

void mainwindow::onRefreshClicked() {}

void mainwindow::onRemoteDoubleClicked(QModelIndex index)
{
    Q_UNUSED(index)
}

void mainwindow::onSelectionChanged() {}
