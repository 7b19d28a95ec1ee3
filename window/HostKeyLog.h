#pragma once

#include "HostKeyReport.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

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
    void slotHostKeyChecked(HostKeyReport report);
    void slotConnectStateChanged(bool bState);

private:
    const std::function<bool()> m_english;
    const std::function<void(const QString &)> m_append;
    // The refusal told last, until the connection is up again.
    std::optional<HostKeyReport> m_lastRefusal;
};
