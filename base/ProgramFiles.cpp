#include "ProgramFiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QStandardPaths>

Q_LOGGING_CATEGORY(lcFiles, "cnc.files", QtWarningMsg)

namespace ProgramFiles {

namespace {

QString applicationDirectory()
{
    return QCoreApplication::applicationDirPath();
}

// Left beside the executable by the install step. An installed program never writes into its
// own directory, not even when root runs it: what it wrote there would become every operator's
// preset.
const QString kInstalledMarker = QStringLiteral("installed");

bool besideExecutable()
{
    const QDir directory(applicationDirectory());
    return !directory.exists(kInstalledMarker) && QFileInfo(directory.path()).isWritable();
}

QString operatorDirectory()
{
    return QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation);
}

// The path of one of the program's files. In the operator's folder, a file the installation
// directory holds is copied over the first time it is missing; the copy belongs to the
// operator, so it must be writable even when the original is not.
QString programFile(const QString &name)
{
    const QString installed = QDir(applicationDirectory()).filePath(name);
    if (besideExecutable())
        return installed;
    const QString own = QDir(operatorDirectory()).filePath(name);
    if (!QFileInfo::exists(own)) {
        QDir().mkpath(operatorDirectory());
        if (QFileInfo(installed).isFile()) {
            if (QFile::copy(installed, own))
                QFile::setPermissions(own, QFile::permissions(own) | QFileDevice::ReadOwner |
                                               QFileDevice::WriteOwner);
            else
                qCWarning(lcFiles).noquote()
                    << "cannot copy the preset" << installed << "to" << own;
        }
    }
    return own;
}

} // namespace

QString settingsFile()
{
    return programFile(QStringLiteral("settings.ini"));
}

QString knownHostsFile()
{
    return programFile(QStringLiteral("known_hosts"));
}

QString addressBookFile()
{
    return programFile(QStringLiteral("controllers.json"));
}

bool hasEnglishMarker()
{
    const QString name = QStringLiteral("en.txt");
    // Any file-system entry of that name counts; its contents are never read.
    return QFile::exists(QDir(applicationDirectory()).filePath(name)) ||
           (!besideExecutable() && QFile::exists(QDir(operatorDirectory()).filePath(name)));
}

} // namespace ProgramFiles
