#include "isEnglish.h"

#include <QCoreApplication>
#include <QFile>

bool isEnglish()
{
    return QFile::exists(QCoreApplication::applicationDirPath() + QLatin1String("/en.txt"));
}
