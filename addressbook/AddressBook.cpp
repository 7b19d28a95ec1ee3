#include "AddressBook.h"

#include "MachineProfileFormat.h"
#include "ProgramFiles.h"

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLockFile>
#include <QSaveFile>

#include <algorithm>

namespace {

constexpr int kVersion = 1;

QString tr(const char *text)
{
    return QCoreApplication::translate("AddressBook", text);
}

ControllerEntry *findEntry(QVector<ControllerEntry> &entries, const QString &address)
{
    const auto it = std::find_if(entries.begin(), entries.end(),
                                 [&](const ControllerEntry &e) { return e.address == address; });
    return it == entries.end() ? nullptr : &*it;
}

QVector<ControllerEntry> readFile(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.exists())
        return {};
    if (!file.open(QIODevice::ReadOnly)) {
        if (error)
            *error = tr("Cannot read %1: %2").arg(path, file.errorString());
        return {};
    }
    return AddressBook::fromJson(file.readAll(), error);
}

} // namespace

QByteArray AddressBook::toJson(const QVector<ControllerEntry> &entries)
{
    QJsonArray controllers;
    for (const ControllerEntry &entry : entries) {
        QJsonObject object{{QStringLiteral("name"), entry.name},
                           {QStringLiteral("address"), entry.address}};
        if (entry.lastUsed.isValid())
            object.insert(QStringLiteral("lastUsed"), entry.lastUsed.toString(Qt::ISODateWithMs));
        if (!entry.profile.isEmpty())
            object.insert(QStringLiteral("profile"), entry.profile);
        controllers.append(object);
    }
    const QJsonObject root{{QStringLiteral("version"), kVersion},
                           {QStringLiteral("controllers"), controllers}};
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QVector<ControllerEntry> AddressBook::fromJson(const QByteArray &json, QString *error)
{
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(json, &parseError);
    if (!document.isObject()) {
        if (error)
            *error = tr("The address book is not valid JSON: %1").arg(parseError.errorString());
        return {};
    }
    QVector<ControllerEntry> entries;
    const QJsonArray controllers = document.object().value(QStringLiteral("controllers")).toArray();
    for (const QJsonValue &value : controllers) {
        const QJsonObject object = value.toObject();
        ControllerEntry entry;
        entry.address = object.value(QStringLiteral("address")).toString().trimmed();
        entry.name = object.value(QStringLiteral("name")).toString().trimmed();
        // An entry without an address names nothing; a repeated address keeps the first.
        if (entry.address.isEmpty() || findEntry(entries, entry.address))
            continue;
        if (entry.name.isEmpty())
            entry.name = entry.address;
        entry.lastUsed = QDateTime::fromString(object.value(QStringLiteral("lastUsed")).toString(),
                                               Qt::ISODateWithMs);
        entry.profile = object.value(QStringLiteral("profile")).toObject();
        entries.append(entry);
    }
    sortByUse(&entries);
    return entries;
}

void AddressBook::sortByUse(QVector<ControllerEntry> *entries)
{
    std::stable_sort(entries->begin(), entries->end(),
                     [](const ControllerEntry &a, const ControllerEntry &b) {
                         if (a.lastUsed.isValid() != b.lastUsed.isValid())
                             return a.lastUsed.isValid();
                         if (a.lastUsed.isValid())
                             return a.lastUsed > b.lastUsed;
                         return a.name.localeAwareCompare(b.name) < 0;
                     });
}

QVector<ControllerEntry> AddressBook::entries(QString *error)
{
    return readFile(ProgramFiles::addressBookFile(), error);
}

QString AddressBook::nameOf(const QString &address)
{
    QVector<ControllerEntry> all = entries();
    const ControllerEntry *entry = findEntry(all, address);
    return entry && entry->name != address ? entry->name : QString();
}

QString AddressBook::displayName(const QString &address)
{
    QVector<ControllerEntry> all = entries();
    const ControllerEntry *entry = findEntry(all, address);
    return entry ? displayName(*entry) : address;
}

QString AddressBook::displayName(const ControllerEntry &entry)
{
    return entry.name == entry.address ? entry.address
                                       : QStringLiteral("%1 (%2)").arg(entry.name, entry.address);
}

bool AddressBook::modify(const Change &change, QString *error)
{
    const QString path = ProgramFiles::addressBookFile();
    QLockFile lock(path + QStringLiteral(".lock"));
    QString failure;
    if (!lock.tryLock(5000)) {
        failure = tr("The address book %1 is locked by another program.").arg(path);
    } else {
        QVector<ControllerEntry> all = readFile(path, &failure);
        // A broken file is not written over: the operator may want what is left of it.
        if (failure.isEmpty())
            failure = change(all);
        if (failure.isEmpty()) {
            sortByUse(&all);
            QSaveFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(toJson(all)) < 0 || !file.commit())
                failure = tr("Cannot write %1: %2").arg(path, file.errorString());
        }
    }
    if (error)
        *error = failure;
    return failure.isEmpty();
}

bool AddressBook::add(const QString &name, const QString &address, QString *error)
{
    return modify(
        [name = name.trimmed(), address = address.trimmed()](QVector<ControllerEntry> &all) {
            if (name.isEmpty() || address.isEmpty())
                return tr("A controller needs a name and an address.");
            if (findEntry(all, address))
                return tr("%1 is in the address book already.").arg(address);
            all.append({name, address, QDateTime(), QJsonObject()});
            return QString();
        },
        error);
}

bool AddressBook::rename(const QString &address, const QString &name, QString *error)
{
    return modify(
        [address, name = name.trimmed()](QVector<ControllerEntry> &all) {
            ControllerEntry *entry = findEntry(all, address);
            if (!entry)
                return tr("%1 is not in the address book.").arg(address);
            if (name.isEmpty())
                return tr("A controller needs a name and an address.");
            entry->name = name;
            return QString();
        },
        error);
}

bool AddressBook::remove(const QString &address, QString *error)
{
    return modify(
        [address](QVector<ControllerEntry> &all) {
            const int before = all.size();
            all.erase(
                std::remove_if(all.begin(), all.end(),
                               [&](const ControllerEntry &e) { return e.address == address; }),
                all.end());
            return all.size() < before ? QString()
                                       : tr("%1 is not in the address book.").arg(address);
        },
        error);
}

bool AddressBook::recordLogin(const QString &address, QString *error)
{
    return modify(
        [address = address.trimmed()](QVector<ControllerEntry> &all) {
            ControllerEntry *entry = findEntry(all, address);
            if (!entry) {
                all.append({address, address, QDateTime(), QJsonObject()});
                entry = &all.last();
            }
            entry->lastUsed = QDateTime::currentDateTime();
            return QString();
        },
        error);
}

MachineProfile AddressBook::profileOf(const QString &address)
{
    QVector<ControllerEntry> all = entries();
    const ControllerEntry *entry = findEntry(all, address);
    return entry ? MachineProfileFormat::fromJson(entry->profile) : MachineProfile();
}

bool AddressBook::setProfile(const QString &address, const MachineProfile &profile, QString *error)
{
    return modify(
        [address, profile](QVector<ControllerEntry> &all) {
            ControllerEntry *entry = findEntry(all, address);
            if (!entry)
                return tr("%1 is not in the address book.").arg(address);
            entry->profile = MachineProfileFormat::toJson(profile);
            return QString();
        },
        error);
}
