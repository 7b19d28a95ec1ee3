#include "SessionSocket.h"

#include <cerrno>

namespace QSsh::Internal {

namespace {

ssize_t receiveNothing(libssh2_socket_t, void *, size_t, int, void **)
{
    return -ECONNRESET;
}

ssize_t sendNothing(libssh2_socket_t, const void *, size_t, int, void **)
{
    return -EPIPE;
}

} // namespace

void SessionSocket::setFunctions(LIBSSH2_SESSION *session, Receive receive, Send send)
{
#if LIBSSH2_VERSION_NUM >= 0x010b01
    using Callback = libssh2_cb_generic *;
    libssh2_session_callback_set2(session, LIBSSH2_CALLBACK_RECV, Callback(receive));
    libssh2_session_callback_set2(session, LIBSSH2_CALLBACK_SEND, Callback(send));
#else
    using Callback = void *;
    libssh2_session_callback_set(session, LIBSSH2_CALLBACK_RECV, Callback(receive));
    libssh2_session_callback_set(session, LIBSSH2_CALLBACK_SEND, Callback(send));
#endif
}

void SessionSocket::cutOff(LIBSSH2_SESSION *session)
{
    setFunctions(session, &receiveNothing, &sendNothing);
    *libssh2_session_abstract(session) = nullptr;
}

} // namespace QSsh::Internal
