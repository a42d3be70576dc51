#include "relay/transports_to_poll.hpp"

#include <cstdint>

#include "relay/socket_compat.hpp"

namespace qop::network {

static_assert(kMaxInputCheckedTransports <= kMaxSocketsAskedAtOnce);

void find_transports_to_poll(const NetworkTransport* const* transports, std::size_t count,
                             bool* need_poll) {
    SocketHandle sockets[kMaxInputCheckedTransports];
    std::size_t asked_for[kMaxInputCheckedTransports];
    std::size_t asked = 0;
    for (std::size_t i = 0; i < count; ++i) {
        need_poll[i] = true;
        std::uint64_t socket = 0;
        if (i < kMaxInputCheckedTransports && transports[i] != nullptr &&
            transports[i]->poll_only_reads(socket)) {
            sockets[asked] = static_cast<SocketHandle>(socket);
            asked_for[asked++] = i;
        }
    }
    bool readable[kMaxInputCheckedTransports];
    if (asked == 0 || !sockets_readable_now(sockets, asked, readable)) {
        return;
    }
    for (std::size_t k = 0; k < asked; ++k) {
        need_poll[asked_for[k]] = readable[k];
    }
}

}  // namespace qop::network
