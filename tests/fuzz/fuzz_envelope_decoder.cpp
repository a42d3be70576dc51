// Decodes arbitrary bytes as a data-plane envelope. Whatever decodes must validate and encode
// back to exactly the input. The decoder that leaves the payload in place must accept and refuse
// the same inputs with the same errors, read the same header and point at the same payload.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "relay/data_plane_envelope.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> input(data, data + size);
    qop::network::DataPlaneEnvelope envelope;
    std::string error;
    const bool decoded = qop::network::decode_data_plane_envelope(input, envelope, error);

    qop::network::DataPlaneEnvelope header;
    qop::network::EnvelopePayloadView payload;
    std::string view_error;
    const bool viewed = qop::network::decode_data_plane_envelope_view(input.data(), input.size(),
                                                                      header, payload, view_error);
    if (viewed != decoded || view_error != error || !header.payload.empty()) {
        std::abort();
    }
    if (!decoded) {
        if (error.empty()) {
            std::abort();
        }
        return 0;
    }
    header.payload.assign(payload.data, payload.data + payload.size);
    if (header != envelope || payload.data + payload.size != input.data() + input.size()) {
        std::abort();
    }
    std::vector<std::uint8_t> encoded;
    if (!qop::network::validate_data_plane_envelope(envelope, error) ||
        !qop::network::encode_data_plane_envelope(envelope, encoded, error) || encoded != input ||
        qop::network::data_plane_envelope_header_size(envelope) != input.size() - payload.size) {
        std::abort();
    }
    return 0;
}
