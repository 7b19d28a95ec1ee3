#include "HostKeyLog.h"

#include "HostKeyMessages.h"

HostKeyLog::HostKeyLog(std::function<bool()> english, std::function<void(const QString &)> append,
                       QObject *parent)
    : QObject(parent), m_english(std::move(english)), m_append(std::move(append))
{}

void HostKeyLog::slotHostKeyChecked(HostKeyReport report)
{
    if (report.outcome != HostKeyReport::Outcome::Recorded) {
        if (report == m_lastRefusal)
            return;
        m_lastRefusal = report;
    }
    m_append(HostKeyMessages::logLine(m_english(), report));
}

void HostKeyLog::slotConnectStateChanged(bool bState)
{
    if (bState)
        m_lastRefusal.reset();
}
