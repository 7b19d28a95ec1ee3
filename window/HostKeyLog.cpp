#include "HostKeyLog.h"

HostKeyLog::HostKeyLog(std::function<bool()> english, std::function<void(const QString &)> append,
                       QObject *parent)
    : QObject(parent), m_english(std::move(english)), m_append(std::move(append))
{}

void HostKeyLog::slotHostKeyRecorded(QString strIp, QString strKey, QString strKnownHostsFile,
                                     QString strError)
{
    m_append(
        HostKeyMessages::recordedLine(m_english(), {strIp, strKey, strKnownHostsFile, strError}));
}

void HostKeyLog::slotHostKeyRefused(QString strIp, QString strRecordedKey, QString strOfferedKey,
                                    QString strKnownHostsFile, int nLine)
{
    const QStringList reason = {strIp, strRecordedKey, strOfferedKey, strKnownHostsFile,
                                QString::number(nLine)};
    logRefusal(reason.join(QLatin1Char('\n')), [&](bool english) {
        return HostKeyMessages::refusedLine(english, strIp, strRecordedKey, strOfferedKey,
                                            strKnownHostsFile, nLine);
    });
}

void HostKeyLog::slotKnownHostsUnusable(QString strIp, QString strKnownHostsFile, int nLine,
                                        QString strError)
{
    const QStringList reason = {strIp, strKnownHostsFile, QString::number(nLine), strError};
    logRefusal(reason.join(QLatin1Char('\n')), [&](bool english) {
        return HostKeyMessages::unusableText(english, strIp, strKnownHostsFile, nLine, strError);
    });
}

void HostKeyLog::slotConnectStateChanged(bool bState)
{
    if (bState)
        m_lastRefusal.clear();
}

void HostKeyLog::logRefusal(const QString &reason, const std::function<QString(bool)> &line)
{
    if (reason == m_lastRefusal)
        return;
    m_lastRefusal = reason;
    m_append(line(m_english()));
}
