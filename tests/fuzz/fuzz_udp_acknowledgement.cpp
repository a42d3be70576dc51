// Parses arbitrary bytes as the UDP relay's acknowledgement, once without and once with an
// envelope version requested (the first input byte picks it). What parses must be coherent.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "relay/slot_metadata.hpp"
#include "relay/udp_acknowledgement.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::uint8_t requested = data[0] % 3;
    qop::network::UdpAcknowledgement ack;
    std::string error;
    if (!qop::network::parse_udp_acknowledgement(data + 1, size - 1, requested, ack, error)) {
        if (error.empty()) {
            std::abort();
        }
        return 0;
    }
    if (ack.session_id.empty() || ack.session_id.size() + 20 > size - 1) {
        std::abort();
    }
    const bool has_slots = !ack.roster.empty();
    if (has_slots != (requested != 0) ||
        (has_slots &&
         !qop::network::validate_slot_metadata(ack.player_slot, ack.host_slot, ack.roster))) {
        std::abort();
    }
    return 0;
}
