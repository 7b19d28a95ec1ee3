#pragma once

#include "HostKeyMessages.h"

#include <QObject>
#include <QString>

#include <functional>

// The operation log's lines about the controller's host key. A key recorded for a new address
// is told once. While the controller's key is refused, every reconnection attempt 10 s apart is
// refused again; the reason is told once, and again only when it changes or after the
// connection has been up in between.
class HostKeyLog : public QObject
{
    Q_OBJECT
public:
    // english() picks the language of each line when it is written; append() writes it.
    HostKeyLog(std::function<bool()> english, std::function<void(const QString &)> append,
               QObject *parent);

public slots:
    void slotHostKeyRecorded(QString strIp, QString strKey, QString strKnownHostsFile,
                             QString strError);
    void slotHostKeyRefused(QString strIp, QString strRecordedKey, QString strOfferedKey,
                            QString strKnownHostsFile, int nLine);
    void slotKnownHostsUnusable(QString strIp, QString strKnownHostsFile, int nLine,
                                QString strError);
    void slotConnectStateChanged(bool bState);

private:
    // Writes the line unless the same refusal was the last one told.
    void logRefusal(const QString &reason, const std::function<QString(bool)> &line);

    const std::function<bool()> m_english;
    const std::function<void(const QString &)> m_append;
    QString m_lastRefusal;
};
