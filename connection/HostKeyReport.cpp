#include "HostKeyReport.h"

#include "HostKeyCheck.h"

HostKeyReport HostKeyReport::fromCheck(const QString &address, const QSsh::HostKeyCheck &check)
{
    HostKeyReport report;
    report.address = address;
    report.knownHostsFile = check.knownHostsFile;
    switch (check.outcome) {
    case QSsh::HostKeyCheck::Recorded:
    case QSsh::HostKeyCheck::NotRecorded:
        report.offeredKey = check.offeredKey;
        report.error = check.error;
        break;
    case QSsh::HostKeyCheck::FileUnusable:
        report.outcome = HostKeyReport::Outcome::Unusable;
        report.line = check.line;
        report.error = check.error;
        break;
    default: // a check that failed the attempt for any other reason refused the key
        report.outcome = HostKeyReport::Outcome::Refused;
        report.recordedKey = check.recordedKey;
        report.offeredKey = check.offeredKey;
        report.line = check.line;
        break;
    }
    return report;
}
