#pragma once

#include <QHash>
#include <QProcess>
#include <QString>

struct xcb_connection_t;

// A private X server (Xvfb) on a free display number, for running the program as its own
// process. Windows are read back through the X protocol; input goes through xdotool, which
// types as a keyboard would (XTEST), not as events sent to one window.
class VirtualDisplay
{
public:
    // False, with a reason, when Xvfb or xdotool is missing.
    static bool canRun(QString *reason);

    VirtualDisplay();
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay &) = delete;
    VirtualDisplay &operator=(const VirtualDisplay &) = delete;

    bool start();
    QString name() const { return m_name; } // ":N", for DISPLAY
    QString lastError() const { return m_lastError; }

    // Titles of the top-level windows that are shown (mapped), by window id.
    QHash<quint32, QString> shownWindows() const;
    // The id of the shown window with exactly this title, 0 when there is none.
    quint32 shownWindow(const QString &title) const;

    // Gives the window the keyboard focus and presses the keys: xdotool key names, or text.
    bool focus(quint32 window);
    bool pressKeys(const QStringList &keys);
    bool typeText(const QString &text);

    // Asks the window to close the way a window manager's close button does
    // (WM_DELETE_WINDOW), so that the program goes through its normal shutdown.
    bool requestClose(quint32 window);

private:
    bool xdotool(const QStringList &arguments);
    quint32 atom(const char *name) const;

    QProcess m_server;
    QString m_name;
    xcb_connection_t *m_connection = nullptr;
    quint32 m_root = 0;
    QString m_lastError;
};
