#pragma once

#include <QString>

// A host key recorded for a new address, as the worker's sigHostKeyRecorded reports it; kept by
// the login dialog until the main window's operation log exists.
struct RecordedHostKey
{
    QString strIp;
    QString strKey;
    QString strKnownHostsFile;
    QString strError; // why the key could not be written; empty when it was
};

// What the operator is told about the controller's host key, in English or Chinese: the login
// dialog's boxes and the operation log's lines.
namespace HostKeyMessages {

// "Controller host key recorded: ..." or, when the key could not be written, a warning.
QString recordedLine(bool english, const RecordedHostKey &key);

QString refusedTitle(bool english);
// Both keys, and the file and line to delete if the controller was really reinstalled. A
// recorded key equal to the one shown is a key that the file marks as revoked in that line.
QString refusedText(bool english, const QString &strIp, const QString &strRecordedKey,
                    const QString &strOfferedKey, const QString &strKnownHostsFile, int nLine);
// The same in one line, for the operation log.
QString refusedLine(bool english, const QString &strIp, const QString &strRecordedKey,
                    const QString &strOfferedKey, const QString &strKnownHostsFile, int nLine);

QString unusableTitle(bool english);
// The known-hosts file cannot be read (nLine 0), or its line nLine is not a known-hosts line
// or one this program cannot check (a certificate authority or host patterns naming the
// address).
QString unusableText(bool english, const QString &strIp, const QString &strKnownHostsFile,
                     int nLine, const QString &strError);

} // namespace HostKeyMessages
