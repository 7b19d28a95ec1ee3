#include "OpenSshKeys.h"

#include <QProcess>
#include <QRegularExpression>

namespace OpenSshKeys {

namespace {

QString sshKeygen(const QStringList &arguments, const QByteArray &input = QByteArray())
{
    QProcess process;
    process.start(QStringLiteral("ssh-keygen"), arguments);
    process.write(input);
    process.closeWriteChannel();
    process.waitForFinished(30000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace

QStringList fingerprints(const QByteArray &knownHostsLines)
{
    // "256 SHA256:... <host> (ED25519)"
    static const QRegularExpression line(QStringLiteral("^\\d+ (SHA256:\\S+) .*\\((\\w+)\\)$"),
                                         QRegularExpression::MultilineOption);
    QStringList keys;
    auto matches = line.globalMatch(sshKeygen(
        {QStringLiteral("-l"), QStringLiteral("-f"), QStringLiteral("-")}, knownHostsLines));
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        keys << match.captured(2) + QLatin1Char(' ') + match.captured(1);
    }
    return keys;
}

QList<int> linesFor(const QString &host, const QString &knownHostsFile)
{
    static const QRegularExpression found(QStringLiteral("^# Host \\S+ found: line (\\d+)"),
                                          QRegularExpression::MultilineOption);
    QList<int> lines;
    auto matches = found.globalMatch(
        sshKeygen({QStringLiteral("-F"), host, QStringLiteral("-f"), knownHostsFile}));
    while (matches.hasNext())
        lines << matches.next().captured(1).toInt();
    return lines;
}

} // namespace OpenSshKeys
