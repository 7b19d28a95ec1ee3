#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QString>

// One controller of the address book.
struct ControllerEntry
{
    QString name;        // as the operator knows the machine; the address until renamed
    QString address;     // as typed at the login, the key of the entry
    QDateTime lastUsed;  // the last successful login; invalid for an entry never used
    QJsonObject profile; // the machine's limits, kept as the file holds them
};
