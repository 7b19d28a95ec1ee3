#include "runApplication.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // Names the operator's configuration folder of an installed program, whatever the
    // executable is called.
    QApplication::setApplicationName(QStringLiteral("cnc-file-manager"));
    return runApplication(app);
}
