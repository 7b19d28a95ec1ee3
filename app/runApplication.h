#pragma once

class QApplication;

// The program after the application object exists: runs the login dialog modally and, once a
// login has succeeded, the main window with the dialog's connection worker, and the windows of
// other controllers the operator connects to, until the last window is closed. Returns the
// exit code: the event loop's result, or 0 when the login was cancelled.
int runApplication(QApplication &app);
