#include "VirtualDisplay.h"

#include <QProcessEnvironment>
#include <QStandardPaths>
#include <QTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

constexpr int kStartTimeoutMs = 15000;
constexpr int kToolTimeoutMs = 15000;

// xcb replies are malloc'ed and released with free().
template <typename Reply> using ReplyPtr = std::unique_ptr<Reply, decltype(&std::free)>;
template <typename Reply> ReplyPtr<Reply> takeReply(Reply *reply)
{
    return ReplyPtr<Reply>(reply, &std::free);
}

} // namespace

bool VirtualDisplay::canRun(QString *reason)
{
    QString why;
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        why = QStringLiteral("Xvfb is missing (Debian package xvfb)");
    else if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        why = QStringLiteral("xdotool is missing (Debian package xdotool)");
    if (reason)
        *reason = why;
    return why.isEmpty();
}

VirtualDisplay::VirtualDisplay() = default;

VirtualDisplay::~VirtualDisplay()
{
    if (m_connection)
        xcb_disconnect(m_connection);
    if (m_server.state() != QProcess::NotRunning) {
        m_server.terminate();
        if (!QTest::qWaitFor([this] { return m_server.state() == QProcess::NotRunning; }, 5000))
            m_server.kill();
        m_server.waitForFinished(2000);
    }
}

bool VirtualDisplay::start()
{
    // With -displayfd the server takes the first free display number and writes it to
    // standard output once it accepts connections.
    m_server.start(QStringLiteral("Xvfb"),
                   {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                    QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                    QStringLiteral("1280x800x24")});
    const bool announced = QTest::qWaitFor(
        [this] { return m_server.canReadLine() || m_server.state() == QProcess::NotRunning; },
        kStartTimeoutMs);
    if (!announced || !m_server.canReadLine()) {
        m_lastError = QStringLiteral("Xvfb did not start: %1")
                          .arg(QString::fromLocal8Bit(m_server.readAllStandardError()));
        return false;
    }
    bool isNumber = false;
    const int number = m_server.readLine().trimmed().toInt(&isNumber);
    if (!isNumber) {
        m_lastError = QStringLiteral("Xvfb announced no display number");
        return false;
    }
    m_name = QStringLiteral(":%1").arg(number);

    int screen = 0;
    m_connection = xcb_connect(m_name.toLatin1().constData(), &screen);
    if (xcb_connection_has_error(m_connection)) {
        m_lastError = QStringLiteral("cannot connect to the X server at %1").arg(m_name);
        return false;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(m_connection));
    for (int i = 0; i < screen && screens.rem > 0; ++i)
        xcb_screen_next(&screens);
    m_root = screens.data->root;
    return true;
}

quint32 VirtualDisplay::atom(const char *name) const
{
    const auto reply = takeReply(xcb_intern_atom_reply(
        m_connection, xcb_intern_atom(m_connection, 0, uint16_t(std::strlen(name)), name),
        nullptr));
    return reply ? reply->atom : quint32(XCB_ATOM_NONE);
}

QHash<quint32, QString> VirtualDisplay::shownWindows() const
{
    QHash<quint32, QString> windows;
    if (!m_connection)
        return windows;
    const quint32 netWmName = atom("_NET_WM_NAME");
    const quint32 utf8String = atom("UTF8_STRING");
    const auto tree = takeReply(
        xcb_query_tree_reply(m_connection, xcb_query_tree(m_connection, m_root), nullptr));
    if (!tree)
        return windows;
    const xcb_window_t *children = xcb_query_tree_children(tree.get());
    for (int i = 0; i < xcb_query_tree_children_length(tree.get()); ++i) {
        const xcb_window_t window = children[i];
        const auto attributes = takeReply(xcb_get_window_attributes_reply(
            m_connection, xcb_get_window_attributes(m_connection, window), nullptr));
        if (!attributes || attributes->map_state != XCB_MAP_STATE_VIEWABLE)
            continue;
        const auto title = takeReply(xcb_get_property_reply(
            m_connection, xcb_get_property(m_connection, 0, window, netWmName, utf8String, 0, 1024),
            nullptr));
        if (!title)
            continue;
        windows.insert(window, QString::fromUtf8(
                                   static_cast<const char *>(xcb_get_property_value(title.get())),
                                   xcb_get_property_value_length(title.get())));
    }
    return windows;
}

quint32 VirtualDisplay::shownWindow(const QString &title) const
{
    const QHash<quint32, QString> windows = shownWindows();
    for (auto it = windows.cbegin(); it != windows.cend(); ++it) {
        if (it.value() == title)
            return it.key();
    }
    return 0;
}

bool VirtualDisplay::xdotool(const QStringList &arguments)
{
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("DISPLAY"), m_name);
    tool.setProcessEnvironment(environment);
    tool.start(QStringLiteral("xdotool"), arguments);
    if (!tool.waitForFinished(kToolTimeoutMs) || tool.exitStatus() != QProcess::NormalExit ||
        tool.exitCode() != 0) {
        m_lastError = QStringLiteral("xdotool %1 failed: %2")
                          .arg(arguments.join(QLatin1Char(' ')),
                               QString::fromLocal8Bit(tool.readAllStandardError()));
        return false;
    }
    return true;
}

bool VirtualDisplay::focus(quint32 window)
{
    return xdotool(
        {QStringLiteral("windowfocus"), QStringLiteral("--sync"), QString::number(window)});
}

bool VirtualDisplay::pressKeys(const QStringList &keys)
{
    return xdotool(
        QStringList{QStringLiteral("key"), QStringLiteral("--delay"), QStringLiteral("30")} + keys);
}

bool VirtualDisplay::typeText(const QString &text)
{
    return xdotool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("30"), text});
}

bool VirtualDisplay::requestClose(quint32 window)
{
    if (!m_connection)
        return false;
    xcb_client_message_event_t event;
    std::memset(&event, 0, sizeof event);
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = atom("WM_PROTOCOLS");
    event.data.data32[0] = atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    const xcb_void_cookie_t cookie = xcb_send_event_checked(
        m_connection, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&event));
    if (const auto error = takeReply(xcb_request_check(m_connection, cookie))) {
        m_lastError =
            QStringLiteral("cannot send WM_DELETE_WINDOW: X error %1").arg(int(error->error_code));
        return false;
    }
    return true;
}
