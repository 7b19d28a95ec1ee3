#pragma once

#include <QMetaType>
#include <QString>

namespace QSsh {
struct HostKeyCheck;
}

// What the check of the controller's host key found, as the worker reports it just before the
// connection state report of the same attempt. Each outcome fills only the fields it names.
struct HostKeyReport
{
    enum class Outcome {
        // A new address: offeredKey (type and SHA-256 fingerprint) was added to knownHostsFile,
        // or, with error, could not be; the connection goes on either way.
        Recorded,
        // The controller showed offeredKey instead of recordedKey, which is on line `line` of
        // knownHostsFile: the attempt failed and the password was not sent. Equal keys mean that
        // the line marks the key as revoked.
        Refused,
        // knownHostsFile could not be read (line 0, error says why) or its line `line` is not one
        // this program can check: the attempt failed and the password was not sent.
        Unusable,
    };

    Outcome outcome = Outcome::Recorded;
    QString address;
    QString recordedKey;
    QString offeredKey;
    QString knownHostsFile;
    int line = 0;
    QString error;

    // The report of a check that recorded the key (or could not), or that failed the attempt.
    static HostKeyReport fromCheck(const QString &address, const QSsh::HostKeyCheck &check);

    friend bool operator==(const HostKeyReport &a, const HostKeyReport &b)
    {
        return a.outcome == b.outcome && a.address == b.address && a.recordedKey == b.recordedKey &&
               a.offeredKey == b.offeredKey && a.knownHostsFile == b.knownHostsFile &&
               a.line == b.line && a.error == b.error;
    }
    friend bool operator!=(const HostKeyReport &a, const HostKeyReport &b) { return !(a == b); }
};

Q_DECLARE_METATYPE(HostKeyReport)
