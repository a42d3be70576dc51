// Decodes arbitrary bytes as a data-plane envelope. Whatever decodes must validate and encode
// back to exactly the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "network/data_plane_envelope.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> input(data, data + size);
    qop::network::DataPlaneEnvelope envelope;
    std::string error;
    if (!qop::network::decode_data_plane_envelope(input, envelope, error)) {
        if (error.empty()) {
            std::abort();
        }
        return 0;
    }
    std::vector<std::uint8_t> encoded;
    if (!qop::network::validate_data_plane_envelope(envelope, error) ||
        !qop::network::encode_data_plane_envelope(envelope, encoded, error) || encoded != input) {
        std::abort();
    }
    return 0;
}
