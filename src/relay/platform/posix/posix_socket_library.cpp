#ifndef _WIN32

#include "relay/socket_compat.hpp"

namespace qop::network {

// POSIX sockets need no start-up.
bool start_socket_library() {
    return true;
}

void stop_socket_library() {}

}  // namespace qop::network

#endif
