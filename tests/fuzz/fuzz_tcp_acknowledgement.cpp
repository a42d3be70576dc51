// Parses arbitrary bytes as the TCP relay's acknowledgement. A success must be coherent (slot
// metadata valid with envelope version 1, absent with version 0); a failure must carry one of
// the transport's own messages.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "relay/slot_metadata.hpp"
#include "relay/tcp_handshake.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::set<std::string> kMessages = {
        "TCP transport returned an invalid acknowledgement",
        "TCP transport authentication was rejected",
        "TCP transport acknowledgement is missing slot metadata",
        "TCP slot roster entry is invalid",
        "TCP slot metadata is invalid",
    };
    std::uint8_t version = 0xEE;
    std::uint8_t player = 0xEE;
    std::uint8_t host = 0xEE;
    std::vector<qop::network::SlotRosterEntry> roster;
    std::string error;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    if (!qop::network::parse_reliable_handshake_ack(text, version, player, host, roster, error)) {
        if (kMessages.count(error) == 0) {
            std::abort();
        }
        return 0;
    }
    if (version == 1) {
        if (host != 1 || !qop::network::validate_slot_metadata(player, host, roster)) {
            std::abort();
        }
    } else if (version != 0 || player != 0 || host != 0 || !roster.empty()) {
        std::abort();
    }
    return 0;
}
