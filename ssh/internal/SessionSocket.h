#pragma once

#include <libssh2.h>

namespace QSsh::Internal {

// How a libssh2 session reaches its socket: through functions the caller gives, and none at
// all once the connection is over.
class SessionSocket
{
public:
    typedef LIBSSH2_RECV_FUNC((*Receive));
    typedef LIBSSH2_SEND_FUNC((*Send));

    static void setFunctions(LIBSSH2_SESSION *session, Receive receive, Send send);
    // From here on libssh2 neither reaches the server nor calls back into the session's
    // owner (its abstract pointer is cleared): every call fails at once rather than waiting,
    // and the socket may be closed.
    static void cutOff(LIBSSH2_SESSION *session);
};

} // namespace QSsh::Internal
