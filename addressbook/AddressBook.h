#pragma once

#include "ControllerEntry.h"
#include "MachineProfile.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <functional>

// The controllers the operator has logged in to or entered, kept in "controllers.json" beside
// settings.ini (see ProgramFiles). The file:
//   {"version":1,"controllers":[{"name":"Mill 2","address":"10.0.0.5",
//     "lastUsed":"2026-12-08T09:30:00.000+01:00","profile":{…}}, …]}
// Entries are unique by address. Every change reads the file, changes it and writes it again
// under a lock, so two windows' dialogs never lose each other's changes; nothing is cached.
// GUI thread only.
class AddressBook
{
public:
    // The entries of the file, the most recently used first, then those never used by name.
    // A missing file is an empty book; an unreadable or broken one too, with *error set.
    static QVector<ControllerEntry> entries(QString *error = nullptr);
    // The entry's name where it differs from its address, else empty.
    static QString nameOf(const QString &address);
    // "Mill 2 (10.0.0.5)" for a named controller, else the address alone.
    static QString displayName(const QString &address);
    static QString displayName(const ControllerEntry &entry);

    // Each false with *error set when the file cannot be written or the change makes no sense
    // (an empty name or address, an address already in the book, an entry that is not there).
    static bool add(const QString &name, const QString &address, QString *error = nullptr);
    static bool rename(const QString &address, const QString &name, QString *error = nullptr);
    static bool remove(const QString &address, QString *error = nullptr);
    // A successful login: the address becomes the most recent, added under its own name when new.
    static bool recordLogin(const QString &address, QString *error = nullptr);
    // The machine profile of the controller at address; empty when it has none.
    static MachineProfile profileOf(const QString &address);
    static bool setProfile(const QString &address, const MachineProfile &profile,
                           QString *error = nullptr);

    // The file's format, pure.
    static QByteArray toJson(const QVector<ControllerEntry> &entries);
    static QVector<ControllerEntry> fromJson(const QByteArray &json, QString *error = nullptr);
    // Most recent first, then the never used by name.
    static void sortByUse(QVector<ControllerEntry> *entries);

private:
    using Change = std::function<QString(QVector<ControllerEntry> &)>; // an error, or empty
    static bool modify(const Change &change, QString *error);
};
