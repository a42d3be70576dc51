#include <climits>
#include <utility>

#include "desktop/desktop_session_codec.hpp"
#include "desktop_session.pb.h"

namespace qop::desktop {
namespace {

namespace proto = marzel::desktop::sdk::session;

constexpr const char* kAttachProtocolVersion = "1";

SdkError make_validation_error(const char* code, const char* message) {
    SdkError error;
    error.code = code;
    error.message = message;
    error.category = "validation";
    error.retryable = false;
    return error;
}

// Serializes straight into the byte vector; `out` changes only on success.
bool serialize_to_bytes(const google::protobuf::MessageLite& message,
                        std::vector<std::uint8_t>& out) {
    const std::size_t size = message.ByteSizeLong();
    if (size > static_cast<std::size_t>(INT_MAX)) {
        return false;
    }
    std::vector<std::uint8_t> bytes(size);
    if (!message.SerializeToArray(bytes.data(), static_cast<int>(size))) {
        return false;
    }
    out = std::move(bytes);
    return true;
}

}  // namespace

bool encode_attach_request(const DesktopAttachOptions& options, std::vector<std::uint8_t>& out,
                           SdkError& error) {
    if (options.app_id == 0) {
        error = make_validation_error("APP_ID_REQUIRED", "QOP appId is required");
        return false;
    }
    if (options.executable_path.empty()) {
        error = make_validation_error("EXECUTABLE_PATH_REQUIRED",
                                      "Executable path is required for desktop session attach");
        return false;
    }
    proto::DesktopSessionClientMessage message;
    proto::DesktopSessionAttachRequest* attach = message.mutable_attach();
    attach->set_protocol_version(kAttachProtocolVersion);
    attach->set_sdk_version(options.sdk_version);
    attach->set_engine(options.engine);
    attach->set_engine_version(options.engine_version);
    attach->set_app_id(options.app_id);
    attach->set_executable_path(options.executable_path);
    attach->set_process_id(options.process_id);
    if (!serialize_to_bytes(message, out)) {
        error = make_invalid_payload_error("Failed to serialize desktop attach request");
        return false;
    }
    return true;
}

bool encode_command_request(const QueuedCommand& command, std::vector<std::uint8_t>& out,
                            SdkError& error) {
    if (command.request_id.empty()) {
        error = make_invalid_payload_error("Desktop command request id is required");
        return false;
    }
    proto::DesktopSessionClientMessage message;
    proto::DesktopSessionCommandRequest* request = message.mutable_command();
    request->set_request_id(command.request_id);
    // Open enum: numbers the schema does not list still go out as they are.
    // The detour through int32 keeps the conversion defined for any number.
    request->set_command(
        static_cast<proto::DesktopSessionCommandType>(static_cast<std::int32_t>(command.command)));
    request->set_string_value(command.string_value);
    request->set_content_json(command.content_json);
    if (!command.content_bytes.empty()) {
        request->set_content_bytes(command.content_bytes.data(), command.content_bytes.size());
    }
    if (!serialize_to_bytes(message, out)) {
        error = make_invalid_payload_error("Failed to serialize desktop command");
        return false;
    }
    return true;
}

}  // namespace qop::desktop
