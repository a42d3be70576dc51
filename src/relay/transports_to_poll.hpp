#pragma once

// A room peer polls two relay transports on every engine frame. When neither
// has anything to write, one system call over both sockets tells whether a
// poll could find anything, instead of a receive on each that hears nothing.

#include <cstddef>

#include "relay/network_transport.hpp"

namespace qop::network {

inline constexpr std::size_t kMaxInputCheckedTransports = 8;

// Sets need_poll[i] for each of `count` transports (at most
// kMaxInputCheckedTransports; any beyond count as needing their poll). It is
// false only for a transport whose poll would only read and whose socket has
// nothing to report; when the system call fails every transport needs its poll.
void find_transports_to_poll(const NetworkTransport* const* transports, std::size_t count,
                             bool* need_poll);

}  // namespace qop::network
