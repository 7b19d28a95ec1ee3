#include "runApplication.h"

#include "ControllerWindows.h"

#include <QApplication>

int runApplication(QApplication &app)
{
    ControllerWindows windows;
    if (!windows.openFirst())
        return 0;
    return app.exec();
}
