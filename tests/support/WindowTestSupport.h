#pragma once

// Helpers for the tests that drive the program's widgets: dialogs answered from inside their
// own event loop, the main window read and clicked as an operator would, the window's settings
// file, and the window with a worker against a simulated controller or without any controller.

#include "ControllerSession.h"
#include "ModalAnswerer.h"
#include "OfflineWindow.h"
#include "TestSupport.h"

#include <QtTest>
#include <QtWidgets>

// The settings file beside the test executable, which the window and the login dialog read.
QString settingsPath();
QString setting(const QString &key);
void setSetting(const QString &key, const QString &value);

// The main window as an operator reads and works it.
QStringList logLines(const QWidget &window); // the operation log without the times
QStringList column(const QWidget &window, int column = 0);
QPushButton *button(const QWidget &window, const char *name);
bool fileButtonsEnabled(const QWidget &window); // all four file operation buttons
bool selectRows(QWidget &window, const QStringList &names);
void doubleClick(QWidget &window, const QString &name);
QStandardItemModel *listModel(const QWidget &window);

// Hands every event of `watched` to `seen`, for as long as the recorder lives.
class EventRecorder : public QObject
{
public:
    EventRecorder(QObject *watched, std::function<void(QEvent *)> seen) : m_seen(std::move(seen))
    {
        watched->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        m_seen(event);
        return false;
    }

private:
    std::function<void(QEvent *)> m_seen;
};

// Shell output captured from the simulated controller (tests/window/fixtures, made by
// capture.py there), and the prompt in it.
QString fixture(const char *name);
extern const QString kRootDir; // "/home/pi/cnc/"
